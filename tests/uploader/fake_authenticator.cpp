// Stands in for Brantwick in the uploader's end-to-end tests, driven by its
// environment (which it inherits through Ferrowend):
//   INKSEAL_FAKE_AUTHENTICATOR_LOG  file to which "started" is appended
//   INKSEAL_FAKE_OAUTH_CLIENT_KEY, _CLIENT_SECRET, _TOKEN_KEY, _TOKEN_SECRET
//                                   values written into the per-user settings
//   INKSEAL_FAKE_EXIT               exit code (default 2, a cancelled dialog)
//   INKSEAL_FAKE_DELAY_MS           time the user takes to log in, before
//                                   the values are written
//   INKSEAL_FAKE_SIGNAL             (POSIX) a signal that ends it at the start
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "common/settings.h"
#include "text/utf.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

const char* Environment(const char* name) { return std::getenv(name); }

int Run() {
#ifndef _WIN32
  if (const char* signal = Environment("INKSEAL_FAKE_SIGNAL")) std::raise(std::atoi(signal));
#endif
  if (const char* log = Environment("INKSEAL_FAKE_AUTHENTICATOR_LOG")) {
    std::ofstream(log, std::ios::app) << "started\n";
  }
  const struct {
    const char* variable;
    const char16_t* key;
  } values[] = {{"INKSEAL_FAKE_OAUTH_CLIENT_KEY", inkseal::kKeyOAuthClientKey},
                {"INKSEAL_FAKE_OAUTH_CLIENT_SECRET", inkseal::kKeyOAuthClientSecret},
                {"INKSEAL_FAKE_OAUTH_TOKEN_KEY", inkseal::kKeyOAuthTokenKey},
                {"INKSEAL_FAKE_OAUTH_TOKEN_SECRET", inkseal::kKeyOAuthTokenSecret}};
  if (const char* delay = Environment("INKSEAL_FAKE_DELAY_MS")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(delay)));
  }
  std::u16string folder;
  for (const auto& value : values) {
    const char* text = Environment(value.variable);
    if (!text) continue;
    if (folder.empty() && !inkseal::SetUpUserFolder(folder)) return 3;
    inkseal::WriteSetting(value.key, inkseal::Utf8ToUtf16(text), inkseal::kSettingsSection,
                          folder + inkseal::kSettingsFileName);
  }
  const char* exitCode = Environment("INKSEAL_FAKE_EXIT");
  return exitCode ? std::atoi(exitCode) : 2;
}

}  // namespace

#ifdef _WIN32
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return Run(); }
#else
int main() { return Run(); }
#endif
