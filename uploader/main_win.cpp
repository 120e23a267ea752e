// Ferrowend's entry on Windows: a windowed program without a console, started
// by the PDF printer driver with the document path as its command line.
#include <windows.h>

#include <string>

#include "uploader/command_line.h"
#include "uploader/upload_driver.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The raw line, not the runtime's argument split: the rest after the
  // program name is one path, quotes and trailing blanks included.
  const std::u16string commandLine(reinterpret_cast<const char16_t*>(GetCommandLineW()));
  return inkseal::RunUploader(inkseal::CommandLineText(commandLine));
}
