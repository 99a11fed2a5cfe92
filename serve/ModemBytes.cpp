#include "serve/ModemBytes.h"

#include <algorithm>

namespace kve17::serve {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<Bytes> ParseModemBytes(std::string_view written) {
    Bytes bytes;
    if (written.starts_with("0x") || written.starts_with("0X")) {
        const std::string_view digits = written.substr(2);
        if (digits.size() % 2 != 0)
            return std::nullopt;
        for (std::size_t i = 0; i < digits.size(); i += 2) {
            const int high = HexDigit(digits[i]);
            const int low = HexDigit(digits[i + 1]);
            if (high < 0 || low < 0)
                return std::nullopt;
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
        }
    } else {
        bytes.assign(written.begin(), written.end());
    }
    if (bytes.empty() || bytes.size() > MaxModemBytes)
        return std::nullopt;
    return bytes;
}

Prefix PrefixOf(std::span<const std::uint8_t> stream, std::span<const std::uint8_t> token) {
    if (token.empty())
        return Prefix::None;
    const std::size_t n = std::min(stream.size(), token.size());
    if (!std::equal(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(n), token.begin()))
        return Prefix::None;
    return n == token.size() ? Prefix::Whole : Prefix::Partial;
}

std::string ShowModemBytes(std::span<const std::uint8_t> bytes) {
    const bool text = !bytes.empty() && std::all_of(bytes.begin(), bytes.end(), [](auto b) {
        return b > 0x20 && b < 0x7F;
    }) && !(bytes.size() > 1 && (bytes[1] == 'x' || bytes[1] == 'X') && bytes[0] == '0');
    if (text)
        return {bytes.begin(), bytes.end()};
    static constexpr char Digits[] = "0123456789abcdef";
    std::string hex = "0x";
    for (const std::uint8_t b : bytes) {
        hex += Digits[b >> 4];
        hex += Digits[b & 0x0F];
    }
    return hex;
}

} // namespace kve17::serve
