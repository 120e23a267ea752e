// The composed texts of the message operations, apart from showing them, so
// that the exact wording can be checked without a box on the screen.
#pragma once

#include <cstdint>
#include <string>

namespace inkseal {

// text, "\n" when text is not empty, description.
std::u16string LastErrorText(const std::u16string& text, const std::u16string& description);

// "\nError code: <code as signed decimal>\n", description, "\n", text.
std::u16string ErrorCodeText(uint32_t code, const std::u16string& description, const std::u16string& text);

}  // namespace inkseal
