// Conversions between 80-bit extended numbers and their decimal text, independent of any locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Longest text FormatNumber can produce ("-1.23456789012345E-4951" and the like), with room to
// spare.
constexpr std::size_t kMaxNumberText = 32;

// Writes v with at most 15 significant digits (rounded half away from zero, trailing zeros
// dropped): fixed notation for magnitudes from 0.0001 up to below 1E15, otherwise d.dddE±x.
// Zero (also negative zero) is "0"; NaN and infinities are "NAN", "INF", "-INF".
// Returns the number of code units written to out.
std::size_t FormatNumber(long double v, char16_t decimalSeparator, char16_t* out);
std::u16string FormatNumber(long double v, char16_t decimalSeparator = u'.');

// Converts number text already checked against the grammar [+-]digits[.digits][(e|E)[+-]digits]
// to the nearest extended value (within a few units in the last place). False when the magnitude
// is beyond the extended range; magnitudes below its smallest value give zero or a denormal.
bool ConvertNumberText(std::u16string_view text, long double& value);
