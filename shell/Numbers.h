#pragma once

#include <cstddef>
#include <string_view>

#include <QtGlobal>

// The number conversions that several parts of the program share, each with its
// edge cases settled once.

// The number a text starts with, read the way the C library reads numbers:
// leading white space, an optional sign, then the digits up to the first
// character that does not belong; no digits give 0. Number is int or qint64
// (a number too large for it gives its limit) or double.
//   base:   10, or 0 for the C forms as strtol reads them ("0x1f" hexadecimal,
//           "017" octal); integers only.
//   length: receives how many characters the number took, white space and sign
//           included; 0 when there was no number.
// A double takes a fraction and an exponent too ("1.77", ".5", "2e3"), always
// with "." as the separator, and never "inf", "nan" or a hexadecimal form.
template <class Number>
Number LeadingNumber(std::string_view text, int base = 10, std::size_t* length = nullptr);

// Truncates towards zero; values outside the int range give its limit and NaN
// gives 0, where a plain conversion would be undefined.
int TruncateToInt(double value);

// number * numerator / denominator with a 64-bit intermediate product, rounded to
// the nearest integer with halves away from zero; -1 when the denominator is 0 or
// the result does not fit 32 bits.
int MulDiv(int number, int numerator, int denominator);
