#include "json/number_text.h"

#include <charconv>
#include <cstddef>
#include <system_error>

namespace json {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSign(char c) { return c == '+' || c == '-'; }

// What a stream extraction of a double would make of the text.
struct NumberShape {
  std::size_t length = 0;  // characters the extraction consumes
  bool negative = false;
  bool mantissaDigits = false;
  bool exponentMark = false;
  bool exponentDigits = false;
  bool exponentNegative = false;
  long exponent = 0;                 // saturated far beyond a double's range
  long integerDigits = 0;            // significant digits before the point
  long zerosAfterPoint = 0;          // before the first significant digit
  bool significantDigit = false;
};

constexpr long kExponentCeiling = 1000000;

NumberShape MeasureNumber(std::string_view text) {
  NumberShape shape;
  std::size_t at = 0;
  if (at < text.size() && IsSign(text[at])) shape.negative = text[at++] == '-';
  bool point = false;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (IsDigit(c) && shape.exponentMark) {
      shape.exponentDigits = true;
      if (shape.exponent < kExponentCeiling) shape.exponent = shape.exponent * 10 + (c - '0');
    } else if (IsDigit(c)) {
      shape.mantissaDigits = true;
      if (c != '0') shape.significantDigit = true;
      if (!point && shape.significantDigit) ++shape.integerDigits;
      if (point && !shape.significantDigit) ++shape.zerosAfterPoint;
    } else if (c == '.' && !point && !shape.exponentMark) {
      point = true;
    } else if ((c == 'e' || c == 'E') && !shape.exponentMark && shape.mantissaDigits) {
      shape.exponentMark = true;
      if (at + 1 < text.size() && IsSign(text[at + 1])) shape.exponentNegative = text[++at] == '-';
    } else {
      break;
    }
  }
  shape.length = at;
  return shape;
}

// Whether an out-of-range result was too large (rather than too small):
// the decimal magnitude of the first significant digit decides.
bool Overflows(const NumberShape& shape) {
  const long exponent = shape.exponentNegative ? -shape.exponent : shape.exponent;
  const long magnitude = shape.integerDigits > 0 ? shape.integerDigits - 1 + exponent
                                                 : exponent - shape.zerosAfterPoint - 1;
  return magnitude > 0;
}

NumberConversion Failure(char unexpected) {
  NumberConversion failure;
  failure.unexpected = unexpected;
  return failure;
}

NumberConversion Success(double value) {
  NumberConversion success;
  success.converted = true;
  success.value = value;
  return success;
}

}  // namespace

NumberConversion ConvertNumber(std::string_view text) {
  if (text.empty()) return Failure('\0');
  const NumberShape shape = MeasureNumber(text);
  if (shape.length < text.size()) return Failure(text[shape.length]);
  if (!shape.mantissaDigits || (shape.exponentMark && !shape.exponentDigits)) {
    return Failure(text.back());
  }

  // from_chars is locale-free and exact, but takes no leading plus.
  const char* first = text.data() + (text.front() == '+' ? 1 : 0);
  const char* last = text.data() + text.size();
  double value = 0.0;
  const std::from_chars_result result = std::from_chars(first, last, value);
  if (result.ec == std::errc::result_out_of_range) {
    if (Overflows(shape)) return Failure(text.back());
    return Success(shape.negative ? -0.0 : 0.0);
  }
  if (result.ec != std::errc() || result.ptr != last) {
    return Failure(result.ptr < last ? *result.ptr : text.back());
  }
  return Success(value);
}

}  // namespace json
