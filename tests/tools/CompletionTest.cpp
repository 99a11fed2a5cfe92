// The bash completion of kve17ctl as bash runs it: sub-commands and options learnt from the
// program's own --help, and the values it knows.
#include "tests/archive/FakeDevice.h"
#include "tests/support/ChildProcess.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace kve17::test {
namespace {

using namespace std::chrono_literals;

const std::string BashCompletion = "/usr/share/bash-completion/bash_completion";

// Completes the last of `words` after PROGRAM as bash would on Tab; the offers, space-separated.
std::string Complete(const std::string& program, const std::vector<std::string>& words) {
    const std::string script = R"(
        completion=$1 program=$2
        shift 2
        source )" + BashCompletion +
                               R"(
        source "$completion"
        COMP_WORDS=("$program" "$@")
        COMP_CWORD=$#
        COMP_LINE="${COMP_WORDS[*]}"
        COMP_POINT=${#COMP_LINE}
        _kve17ctl "$program" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
        echo "${COMPREPLY[*]}")";
    std::vector<std::string> args = {
        "/bin/bash", "-c", script, "bash", KVE17_SOURCE_DIR "/packaging/completion/kve17ctl",
        program};
    args.insert(args.end(), words.begin(), words.end());
    ChildProcess bash(args);
    if (const int status = bash.Wait(30s); status != 0)
        return "bash ended with " + std::to_string(status) + ": " + bash.err;
    return bash.out.substr(0, bash.out.find_last_not_of('\n') + 1);
}

struct CompletionCase {
    const char* name;
    std::vector<std::string> words;
    const char* offers;
};

class CtlCompletion : public ::testing::TestWithParam<CompletionCase> {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(BashCompletion))
            GTEST_SKIP() << BashCompletion << " is missing (Debian package bash-completion)";
    }
};

TEST_P(CtlCompletion, OffersWhatTheProgramTakes) {
    EXPECT_EQ(Complete(KVE17CTL_PATH, GetParam().words), GetParam().offers);
}

INSTANTIATE_TEST_SUITE_P(
    Words, CtlCompletion,
    ::testing::Values(
        CompletionCase{"EveryCommandInTheHelpsOrder",
                       {""},
                       "ports create read history collect serve show scan --help --version"},
        CompletionCase{"ACommandByItsStart", {"re"}, "read"},
        CompletionCase{"CommandsSharingAStart", {"s"}, "serve show scan"},
        CompletionCase{"NoCommandForAWrongStart", {"x"}, ""},
        CompletionCase{"MainOptions", {"--"}, "--help --version"},
        CompletionCase{"AnOptionOfCollect", {"collect", "--con"}, "--config"},
        CompletionCase{
            "OptionsOfServe", {"serve", "--max"}, "--max-connections --max-unidentified"},
        CompletionCase{"OptionsOfHistoryOnly", {"history", "--re"}, "--readings --rename-line"},
        CompletionCase{"AnOptionOfScanNotOfRead", {"scan", "--ti"}, "--timeout"},
        CompletionCase{"NoScanOptionForRead", {"read", "--ti"}, ""},
        CompletionCase{"ParityLetters", {"read", "--parity", ""}, "N O E"},
        CompletionCase{"StopBits", {"scan", "--port", "COM1", "--stop", ""}, "1 2"}),
    [](const auto& info) { return std::string(info.param.name); });

// A program whose help lists a command the completion has never heard of: it is offered, and
// so are its options, with no change to the completion.
TEST_F(CtlCompletion, LearnsANewCommandFromTheHelp) {
    TempDir dir;
    const std::string program = dir.File("kve17ctl");
    std::ofstream(program) << R"(#!/bin/sh
if [ "$1" = --help ]; then
    printf 'Usage: kve17ctl COMMAND [OPTIONS]\n\nCommands:\n'
    printf '  ports                      list the serial ports\n'
    printf '  serve --config FILE        answer the modems that call\n'
    printf '  read --port P --device N FILE\n'
    printf '                             read a device\n'
    printf '\n  later  an indented line after the list\n'
elif [ "$1 $2" = "serve --help" ]; then
    printf 'Usage: kve17ctl serve --config FILE\n\n  --listen HOST:PORT  where\n'
fi
)";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    EXPECT_EQ(Complete(program, {""}), "ports serve read --help --version");
    EXPECT_EQ(Complete(program, {"se"}), "serve");
    EXPECT_EQ(Complete(program, {"serve", "--li"}), "--listen");
}

} // namespace
} // namespace kve17::test
