#include "serial/EComPort.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

namespace kve17 {
namespace {

struct MessageCase {
    TComExceptions Kind;
    int SystemError;
    std::string Message;
    int StoredError;
};

class EComPortMessageTest : public ::testing::TestWithParam<MessageCase> {};

TEST_P(EComPortMessageTest, CarriesTextErrorNumberAndCode) {
    const EComPort error(GetParam().Kind, GetParam().SystemError);
    EXPECT_EQ(error.what(), GetParam().Message);
    EXPECT_EQ(error.SystemError, GetParam().StoredError);
    EXPECT_EQ(error.PortError, GetParam().Kind + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, EComPortMessageTest,
    ::testing::Values(
        MessageCase{CE_OpenFailed, 2, "Unable to open com port (Error: 2)", 2},
        MessageCase{CE_OpenFailed, 16, "Unable to open com port (Error: 16)", 16},
        MessageCase{CE_WriteFailed, 5, "WriteFile function failed (Error: 5)", 5},
        MessageCase{CE_ReadFailed, 5, "ReadFile function failed (Error: 5)", 5},
        MessageCase{CE_PurgeFailed, 9, "PurgeComm function failed (Error: 9)", 9},
        MessageCase{CE_SetStateFailed, 22, "SetCommState function failed (Error: 22)", 22},
        MessageCase{CE_SetStateFailed, -5, "SetCommState function failed (Error: -5)", -5},
        MessageCase{CE_TimeoutsFailed, 0, "SetCommTimeouts failed", -1},
        MessageCase{CE_SetupComFailed, -1, "SetupComm function failed", -1},
        MessageCase{CEPortNotOpen, -1, "Port Not Open", -1},
        MessageCase{CEPortNotOpen, 9, "Port Not Open", -1},
        MessageCase{CE_RegError, 0, "Registry error", -1}));

TEST(ComErrorText, EveryCodeHasItsOwnTextAndNoOtherCodeHasOne) {
    std::set<std::string> texts;
    for (int code = 1; code <= 24; ++code)
        texts.insert(ComErrorText(code));
    EXPECT_EQ(texts.size(), 24u);
    EXPECT_FALSE(texts.contains(""));
    EXPECT_STREQ(ComErrorText(0), "");
    EXPECT_STREQ(ComErrorText(25), "");
    EXPECT_STREQ(ComErrorText(14), "Cannot set property while connected");
}

} // namespace
} // namespace kve17
