// Conversion of a number token's text into a double.
#pragma once

#include <string_view>

namespace json {

struct NumberConversion {
  bool converted = false;
  double value = 0.0;
  // When not converted: the character reported to the user.
  char unexpected = '\0';
};

// Accepts what extracting a double from a classic-locale stream accepts
// (optional sign, digits with at most one decimal point, optional exponent;
// leading zeros allowed), and only when that reading covers the whole text.
//
// Failures, and the character each one reports:
//   * the reading stops early ("1.2.3", "1-2", "-+1"): the first character
//     it left unread ('.', '-', '+');
//   * the reading covers the text but it is no number ("-", "1e", "1e+") or
//     the value overflows a double ("1e999"): the text's last character.
// A value too small for a double ("1e-999") reads as zero of its sign, as
// the stream does.
NumberConversion ConvertNumber(std::string_view text);

}  // namespace json
