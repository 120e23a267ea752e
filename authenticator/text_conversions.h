// The authenticator's own text conversions: percent-encoding of form values
// and the UTF-8 <-> UTF-16 conversions of the login request and its reply,
// made through the platform's code-page conversion.
#pragma once

#include <string>

namespace inkseal {

// Percent-encodes bytes for an application/x-www-form-urlencoded body: ASCII
// letters, digits and "-._~" stay, every other byte becomes "%XX" with two
// upper-case hexadecimal digits (a space is "%20", never "+").
std::string FormEncode(const std::string& bytes);

// UTF-16 text to UTF-8 bytes.  Throws std::runtime_error "Error in
// conversion." when the platform cannot size the result and "La falla!"
// when the conversion yields another count than announced.
std::string WideToUtf8(const std::u16string& text);

// UTF-8 bytes to UTF-16 text; malformed sequences become U+FFFD.  Throws
// std::runtime_error "Invalid UTF-8 sequence.", "Error in conversion." or
// "La falla!" when the platform fails.
std::u16string Utf8ToWide(const std::string& bytes);

}  // namespace inkseal
