// A modem's registration ID or heartbeat as the configuration writes it: text as it stands, or
// "0x" and hex digits for bytes that are no text. Shown back the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kve17::serve {

using Bytes = std::vector<std::uint8_t>;

// The longest ID or heartbeat taken; modems allow a few dozen bytes.
inline constexpr std::size_t MaxModemBytes = 64;

// Nothing for an empty value, odd or non-hex digits after "0x", or more than MaxModemBytes.
std::optional<Bytes> ParseModemBytes(std::string_view written);
// How `stream` begins with `token`: not at all, with all the stream has of it (more may come),
// or whole. An empty token never matches.
enum class Prefix { None, Partial, Whole };
Prefix PrefixOf(std::span<const std::uint8_t> stream, std::span<const std::uint8_t> token);
// Printable ASCII as text, anything else as "0x" and lower-case hex.
std::string ShowModemBytes(std::span<const std::uint8_t> bytes);

} // namespace kve17::serve
