// Secrets masked out of a message text before it is shown: boxes ask the
// user to pass their text on, and standard error lands in logs.  The value
// of every oauth_signature="..." and of every password=... form field goes.
#pragma once

#include <string>
#include <string_view>

namespace inkseal {

// oauth_signature="<anything up to the closing quote>" -> oauth_signature="***"
// password=<anything up to '&', a blank or a line end> -> password=***
std::u16string MaskSecrets(std::u16string_view text);

}  // namespace inkseal
