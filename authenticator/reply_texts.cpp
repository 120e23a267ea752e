#include "authenticator/reply_texts.h"

#include <algorithm>
#include <string_view>

#include "text/ascii_case.h"

namespace inkseal {
namespace {

// "HTTP/1.1 502 Bad Gateway" gives "502 Bad Gateway"; "HTTP/2 502" gives "502".
std::u16string StatusOf(const std::u16string& headerText) {
  const std::u16string line = headerText.substr(0, headerText.find_first_of(u"\r\n"));
  const size_t status = line.find_first_not_of(u' ', line.find(u' '));
  return line.rfind(u"HTTP/", 0) == 0 && status != std::u16string::npos ? line.substr(status) : u"";
}

bool SetsCookie(std::u16string_view line) {
  const size_t colon = line.find(u':');
  if (colon == std::u16string_view::npos) return false;
  const std::u16string_view name = line.substr(0, colon);
  return EqualIgnoringAsciiCase(name, u"Set-Cookie") || EqualIgnoringAsciiCase(name, u"Set-Cookie2");
}

// "Set-Cookie: id=abc; Path=/" gives "Set-Cookie: id=***; Path=/".
std::u16string WithCookieValueMasked(std::u16string_view line) {
  const size_t valueStart = line.find_first_not_of(u' ', line.find(u':') + 1);
  if (valueStart == std::u16string_view::npos) return std::u16string(line);
  const size_t end = std::min(line.find(u';', valueStart), line.size());
  const size_t equals = line.find(u'=', valueStart);
  const size_t secretStart = equals < end ? equals + 1 : valueStart;
  return std::u16string(line.substr(0, secretStart)) + u"***" + std::u16string(line.substr(end));
}

}  // namespace

std::u16string ShownHeaderText(const std::u16string& headerText) {
  std::u16string shown;
  size_t start = 0;
  while (start < headerText.size()) {
    size_t end = headerText.find(u'\n', start);
    end = end == std::u16string::npos ? headerText.size() : end + 1;
    std::u16string_view line = std::u16string_view(headerText).substr(start, end - start);
    size_t contentLength = line.size();
    while (contentLength > 0 && (line[contentLength - 1] == u'\n' || line[contentLength - 1] == u'\r')) {
      --contentLength;
    }
    if (SetsCookie(line)) {
      shown += WithCookieValueMasked(line.substr(0, contentLength));
      shown += line.substr(contentLength);
    } else {
      shown += line;
    }
    start = end;
  }
  return shown;
}

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
