// Records what the login would have shown, instead of showing a box.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "authenticator/notifier.h"

namespace inkseal::testing {

struct Notice {
  enum Kind { Information, LastError, HttpError, Error } kind;
  std::u16string text;
  uint32_t code = 0;
};

class RecordingNotifier final : public Notifier {
 public:
  void ShowInformation(const std::u16string& text) override { notices.push_back({Notice::Information, text, 0}); }
  void ReportLastError(const std::u16string& text) override { notices.push_back({Notice::LastError, text, 0}); }
  void ReportHttpError(uint32_t code, const std::u16string& text) override {
    notices.push_back({Notice::HttpError, text, code});
  }
  void ReportError(const std::u16string& text) override { notices.push_back({Notice::Error, text, 0}); }

  std::vector<Notice> notices;
};

}  // namespace inkseal::testing
