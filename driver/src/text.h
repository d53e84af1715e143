#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestra {

/// 0-15 for a hex digit of either case, -1 otherwise.
int hexDigitValue(char c);

/// ASCII lower case; other bytes unchanged (replies are 8-bit ASCII).
std::string toLower(std::string_view text);

/// "%E" as the instrument expects it, whatever the process locale: six decimals, upper-case E,
/// sign and at least three exponent digits (1.000000E-006).
std::string formatE(double value);

/// "%.<decimals>f" whatever the process locale.
std::string formatFixed(double value, int decimals);

/// The C library's text-to-double rule (leading blanks, optional sign, longest valid prefix;
/// 0 when none), independent of the process locale.
double parseDouble(std::string_view text);

/// The C library's text-to-integer rule (leading blanks, optional sign, digits; 0 when none),
/// clamped to the 32-bit range.
int parseInt(std::string_view text);

} // namespace kestra
