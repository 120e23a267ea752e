// A modal message with a title, an icon kind and an OK button.
#pragma once

#include <string>

namespace inkseal::platform {

enum class MessageIcon { Error, Information };

// Blocks until the user has closed the message.  Failures are not reported.
void ShowMessageBox(const std::u16string& title, const std::u16string& text, MessageIcon icon);

// True when the text compares equal to the empty string the way the
// platform's string comparison sees it.
bool IsEmptyText(const std::u16string& text);

}  // namespace inkseal::platform
