// The uploader's whole run: one printed document from its path to the page
// the service names for it.
#pragma once

#include <string>

namespace inkseal {

// commandLineText is the document path (or empty; then the settings file's
// Launch value is used).  Returns the process exit code: 0 when the page was
// opened, and on the failures after which a retry would not help the user
// (no authenticator, unreadable document, an exception while sending); 1 on
// every other failure.
int RunUploader(const std::u16string& commandLineText);

}  // namespace inkseal
