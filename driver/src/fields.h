#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

/// Reading fields from a reply payload (lower-case text). A field is found by its key, the
/// first occurrence counts, and it runs up to its terminator; a missing terminator gives an
/// empty text. A missing key gives no value.
namespace kestra::fields {

std::optional<std::string_view> text(std::string_view payload, std::string_view key, std::string_view terminator = " ");

/// The field's text read as hex ("0x" put in front); empty reads as 0.
std::optional<uint64_t> hex(std::string_view payload, std::string_view key, std::string_view terminator = " ");

/// The field's text read by the text-to-double rule.
std::optional<double> decimal(std::string_view payload, std::string_view key, std::string_view terminator = " ");

/// A token: blanks after the key skipped, up to the next space; empty gives no value.
std::optional<std::string_view> token(std::string_view payload, std::string_view key);

/// Leading hex digits of a text as a number (what "0x" plus the text parses to).
uint64_t hexValue(std::string_view text);

/// A value in Sv/h or Sv written as mantissa "e" exponent, as a count of 1e-8 units, truncated
/// toward zero. No value when the result does not fit 32 bits.
std::optional<int32_t> exponentValue(std::string_view text);

/// A double truncated toward zero, when it fits 32 bits.
std::optional<int32_t> truncated(double value);

/// True when the payload contains `word`.
inline bool has(std::string_view payload, std::string_view word)
{
    return payload.find(word) != std::string_view::npos;
}

} // namespace kestra::fields
