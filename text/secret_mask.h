// Secrets masked out of a message text that leaves the message box for a
// place others may read (standard error, which lands in logs): the value of
// every oauth_signature="..." and of every password=... form field.
#pragma once

#include <string>
#include <string_view>

namespace inkseal {

// oauth_signature="<anything up to the closing quote>" -> oauth_signature="***"
// password=<anything up to '&', a blank or a line end> -> password=***
std::u16string MaskSecrets(std::u16string_view text);

}  // namespace inkseal
