#include "serial/Rfc2217.h"

namespace kve17::rfc2217 {

namespace {

constexpr std::uint8_t Se = 240;
constexpr std::uint8_t Sb = 250;
constexpr std::uint8_t Will = 251;
constexpr std::uint8_t Wont = 252;
constexpr std::uint8_t Do = 253;
constexpr std::uint8_t Dont = 254;

constexpr std::uint8_t Binary = 0;
constexpr std::uint8_t SuppressGoAhead = 3;
constexpr std::uint8_t ComPortOption = 44;

// A server that asks more than this is caught in a negotiation loop (or means harm): it gets no
// more answers, and the option states still follow what it says.
constexpr int AnswersAtMost = 64;

bool WeSpeak(std::uint8_t option) {
    return option == Binary || option == SuppressGoAhead || option == ComPortOption;
}

bool WeAccept(std::uint8_t option) {
    return option == Binary || option == SuppressGoAhead;
}

void Say(Bytes& out, std::uint8_t verb, std::uint8_t option) {
    // One byte at a time: g++ 12 at -O3 takes an inserted list for an overflow.
    for (const std::uint8_t byte : {Iac, verb, option})
        out.push_back(byte);
}

// The width of the value in an answer; 0 for answers not kept.
int AnswerWidth(std::uint8_t answer) {
    switch (answer - AnswerOffset) {
    case SetBaudRate:
        return 4;
    case SetDataSize:
    case SetParity:
    case SetStopSize:
    case SetControl:
    case PurgeData:
        return 1;
    default:
        return 0;
    }
}

} // namespace

void Escape(std::span<const std::uint8_t> data, Bytes& out) {
    for (const std::uint8_t byte : data) {
        out.push_back(byte);
        if (byte == Iac)
            out.push_back(Iac);
    }
}

Bytes Request(Command command, std::uint32_t value, int width) {
    Bytes out{Iac, Sb, ComPortOption, command};
    for (int i = width - 1; i >= 0; --i) {
        const auto byte = static_cast<std::uint8_t>(value >> (8 * i));
        Escape(std::span(&byte, 1), out);
    }
    out.insert(out.end(), {Iac, Se});
    return out;
}

Bytes Stream::Hello() {
    Bytes out;
    for (const std::uint8_t option : {ComPortOption, Binary, SuppressGoAhead}) {
        Say(out, Will, option);
        willSent_[option] = true;
    }
    for (const std::uint8_t option : {Binary, SuppressGoAhead}) {
        Say(out, Do, option);
        doSent_[option] = true;
    }
    return out;
}

void Stream::Feed(std::span<const std::uint8_t> in, Bytes& data, Bytes& reply) {
    for (const std::uint8_t byte : in) {
        switch (state_) {
        case State::Data:
            if (byte == Iac)
                state_ = State::Iac;
            else
                data.push_back(byte);
            break;
        case State::Iac:
            state_ = State::Data;
            if (byte == Iac) {
                data.push_back(Iac);
            } else if (byte >= Will) {
                verb_ = byte;
                state_ = State::Verb;
            } else if (byte == Sb) {
                state_ = State::SubOption;
            } // other commands (NOP, GA, ...) carry nothing for us
            break;
        case State::Verb:
            Negotiate(verb_, byte, reply);
            state_ = State::Data;
            break;
        case State::SubOption:
            subOption_ = byte;
            subLength_ = 0;
            subOverflow_ = false;
            state_ = State::Sub;
            break;
        case State::Sub:
        case State::SubIac:
            if (state_ == State::Sub && byte == Iac) {
                state_ = State::SubIac;
                break;
            }
            if (state_ == State::SubIac && byte != Iac) {
                // IAC SE ends it; any other command ends a broken one all the same.
                if (byte != Se)
                    subOverflow_ = true;
                EndSub();
                state_ = State::Data;
                break;
            }
            state_ = State::Sub;
            if (subLength_ < sub_.size())
                sub_[subLength_++] = byte;
            else
                subOverflow_ = true;
            break;
        }
    }
}

void Stream::Negotiate(std::uint8_t verb, std::uint8_t option, Bytes& reply) {
    switch (verb) {
    case Do:
        if (option == ComPortOption)
            comPort_ = OptionState::Accepted;
        if (!WeSpeak(option))
            Reply(reply, Wont, option);
        else if (!willSent_[option]) {
            willSent_[option] = true;
            Reply(reply, Will, option);
        }
        break;
    case Dont:
        if (option == ComPortOption)
            comPort_ = OptionState::Refused;
        if (willSent_[option]) {
            willSent_[option] = false;
            Reply(reply, Wont, option);
        }
        break;
    case Will:
        if (!WeAccept(option))
            Reply(reply, Dont, option);
        else if (!doSent_[option]) {
            doSent_[option] = true;
            Reply(reply, Do, option);
        }
        break;
    case Wont:
        if (doSent_[option]) {
            doSent_[option] = false;
            Reply(reply, Dont, option);
        }
        break;
    default:
        break;
    }
}

void Stream::Reply(Bytes& reply, std::uint8_t verb, std::uint8_t option) {
    if (answered_ >= AnswersAtMost)
        return;
    ++answered_;
    Say(reply, verb, option);
}

void Stream::EndSub() {
    if (subOption_ != ComPortOption || subLength_ == 0)
        return;
    const std::uint8_t answer = sub_[0];
    const int width = AnswerWidth(answer);
    if (width == 0)
        return; // notifications and requests of the server: nothing is asked of us
    const std::size_t slot = answer - AnswerOffset;
    if (subOverflow_ || subLength_ != static_cast<std::size_t>(width) + 1) {
        malformed_[slot] = true;
        return;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 1; i < subLength_; ++i)
        value = value << 8 | sub_[i];
    answers_[slot] = value;
}

std::optional<std::uint32_t> Stream::Answer(Command command) const {
    return answers_[command];
}

bool Stream::Malformed(Command command) const {
    return malformed_[command];
}

void Stream::Forget(Command command) {
    answers_[command].reset();
    malformed_[command] = false;
}

} // namespace kve17::rfc2217
