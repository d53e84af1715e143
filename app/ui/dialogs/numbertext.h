#pragma once

#include <QString>

// Numbers typed into the dialogs' edits, read as the C library reads the start of a text:
// leading blanks, an optional sign, then as many digits (and for a real a fraction and an
// exponent) as follow. Anything after the number is ignored; a text without digits reads 0.
// The decimal point is always ".", whatever the locale.
namespace NumberText {

// The leading integer, saturated at the range of int.
int leadingInt(const QString& text);
// The leading real number; 0 when there is none.
double leadingReal(const QString& text);

} // namespace NumberText
