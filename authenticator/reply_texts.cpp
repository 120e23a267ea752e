#include "authenticator/reply_texts.h"

namespace inkseal {
namespace {

// "HTTP/1.1 502 Bad Gateway" gives "502 Bad Gateway"; "HTTP/2 502" gives "502".
std::u16string StatusOf(const std::u16string& headerText) {
  const std::u16string line = headerText.substr(0, headerText.find_first_of(u"\r\n"));
  const size_t status = line.find_first_not_of(u' ', line.find(u' '));
  return line.rfind(u"HTTP/", 0) == 0 && status != std::u16string::npos ? line.substr(status) : u"";
}

}  // namespace

std::u16string UnreadableReplyText(const std::u16string& headerText, const std::u16string& readerMessage) {
  const std::u16string status = StatusOf(headerText);
  return u"The service's reply could not be read (HTTP status " + (status.empty() ? u"unknown" : status) +
         u").\nThe service, or a proxy on the way to it, answered with something other than the service's "
         u"data, for example an error page.\n" +
         readerMessage;
}

std::u16string RefusedValuesText(const std::vector<std::u16string>& members) {
  std::u16string names;
  for (const std::u16string& member : members) names += (names.empty() ? u"\"" : u", \"") + member + u"\"";
  return u"The service's reply could not be stored: the settings file keeps each value on one line, and the "
         u"reply's " +
         names + (members.size() == 1 ? u" holds" : u" hold") + u" a line break or NUL character.";
}

}  // namespace inkseal
