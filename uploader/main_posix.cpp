// Ferrowend's entry on Linux: a print queue's back end or the user's desktop
// starts it with the document path as its arguments.
#include <string>
#include <vector>

#include "text/utf.h"
#include "uploader/command_line.h"
#include "uploader/upload_driver.h"

int main(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(inkseal::Utf8ToUtf16(argv[i]));
  return inkseal::RunUploader(inkseal::CommandLineTextFromArguments(arguments));
}
