// What the login says about a reply it cannot use.  These texts are the
// program's own: they say what arrived, so that the user (or whoever the
// user passes the text to) can tell a proxy's page from the service's fault.
#pragma once

#include <string>
#include <vector>

namespace inkseal {

// A reply that is not the service's JSON: the reply's HTTP status taken from
// the status line of headerText, a plain explanation, then the reader's own
// message on its own line.
std::u16string UnreadableReplyText(const std::u16string& headerText, const std::u16string& readerMessage);

// A reply's header block as boxes show it: each cookie's value is "***"
// (a session cookie is as good as a password), every other line and each
// cookie's name and attributes stay as they came.
std::u16string ShownHeaderText(const std::u16string& headerText);

// OAuth values the reply carried but that cannot be stored (they hold a line
// break or NUL), named by their reply members ("apitoken", ...).
std::u16string RefusedValuesText(const std::vector<std::u16string>& members);

}  // namespace inkseal
