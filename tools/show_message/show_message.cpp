// Test helper: runs one message or settings operation from its arguments, so
// end-to-end tests can see the real boxes (or the standard-error blocks) and
// files of both platforms.
//
//   show_message last-error <code> <text>   sets the last OS error, ReportLastError
//   show_message information <text>         ShowInformation
//   show_message error-code <code> <text>   ReportErrorCode
//   show_message http-error <code> <text>   ReportHttpError
//   show_message write-setting <key> <value> <section> <file>   prints "result=<n>"
//   show_message read-setting <key> <section> <file>  prints "value=<v>" or "absent"
//   show_message user-folder                 SetUpUserFolder, prints "ok=<0|1>\nfolder=<f>"
//   show_message user-settings-path          prints the uploader's per-user path
//   show_message describe <code>             prints the system's text for code
//   show_message describe-http <code>        prints the HTTP library's (else the system's) text
//
// With --return first, last-error, information and http-error print the
// composed text instead of showing it.
//
// Codes are decimal (may be negative) or 0x-hexadecimal.  Texts take the
// escapes \n \r \t \\ and \uXXXX.  Output is UTF-8.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/messages.h"
#include "common/settings.h"
#include "text/utf.h"
#include "platform/error_text.h"
#include "platform/last_error.h"

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#endif

namespace inkseal {
namespace {

constexpr int kUsage = 2;

std::u16string Unescape(const std::u16string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    const char16_t next = text[++i];
    if (next == u'n') out.push_back(u'\n');
    else if (next == u'r') out.push_back(u'\r');
    else if (next == u't') out.push_back(u'\t');
    else if (next == u'u' && i + 4 < text.size()) {
      const std::string hex(text.begin() + static_cast<long>(i) + 1, text.begin() + static_cast<long>(i) + 5);
      out.push_back(static_cast<char16_t>(std::strtoul(hex.c_str(), nullptr, 16)));
      i += 4;
    } else out.push_back(next);
  }
  return out;
}

uint32_t Code(const std::u16string& text) {
  const std::string digits = Utf16ToUtf8(text);
  return static_cast<uint32_t>(std::strtoll(digits.c_str(), nullptr, 0));
}

void Print(const std::u16string& text) {
  const std::string bytes = Utf16ToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

int Run(std::vector<std::u16string> a) {
  const bool returnInstead = !a.empty() && a[0] == u"--return";
  if (returnInstead) a.erase(a.begin());
  if (a.empty()) return kUsage;
  const std::u16string& command = a[0];
#ifdef _WIN32
  // The programs have the HTTP library loaded when they report its numbers.
  if (command == u"http-error" || command == u"describe-http") ::LoadLibraryW(L"winhttp.dll");
#endif
  if (command == u"last-error" && a.size() == 3) {
    const std::u16string text = Unescape(a[2]);
    platform::SetLastError(Code(a[1]));
    Print(ReportLastError(text, returnInstead));
  } else if (command == u"information" && a.size() == 2) {
    Print(ShowInformation(Unescape(a[1]), returnInstead));
  } else if (command == u"error-code" && a.size() == 3 && !returnInstead) {
    ReportErrorCode(Code(a[1]), Unescape(a[2]));
  } else if (command == u"http-error" && a.size() == 3) {
    Print(ReportHttpError(Code(a[1]), Unescape(a[2]), returnInstead));
  } else if (command == u"describe" && a.size() == 2) {
    Print(platform::SystemErrorText(Code(a[1])));
  } else if (command == u"describe-http" && a.size() == 2) {
    Print(platform::HttpErrorText(Code(a[1])));
  } else if (command == u"write-setting" && a.size() == 5) {
    const int result = WriteSetting(Unescape(a[1]), Unescape(a[2]), Unescape(a[3]), a[4]);
    Print(u"result=" + Utf8ToUtf16(std::to_string(result)));
  } else if (command == u"read-setting" && a.size() == 4) {
    const auto value = ReadSetting(Unescape(a[1]), Unescape(a[2]), a[3]);
    Print(value ? u"value=" + *value : u"absent");
  } else if (command == u"user-folder" && a.size() == 1) {
    std::u16string folder;
    const bool ok = SetUpUserFolder(folder);
    Print(std::u16string(ok ? u"ok=1" : u"ok=0") + u"\nfolder=" + folder);
  } else if (command == u"user-settings-path" && a.size() == 1) {
    Print(UserSettingsPath());
  } else {
    return kUsage;
  }
  return 0;
}

}  // namespace
}  // namespace inkseal

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  ::_setmode(::_fileno(stdout), _O_BINARY);
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  return inkseal::Run(arguments);
}
#else
int main(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(inkseal::Utf8ToUtf16(argv[i]));
  return inkseal::Run(arguments);
}
#endif
