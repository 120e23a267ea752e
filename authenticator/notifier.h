// How the login tells the user what went wrong.  The program shows message
// boxes; tests record the texts instead of waiting on a box.
#pragma once

#include <cstdint>
#include <string>

namespace inkseal {

class Notifier {
 public:
  virtual ~Notifier() = default;
  virtual void ShowInformation(const std::u16string& text) = 0;
  // Takes the last OS error itself, before anything else runs.
  virtual void ReportLastError(const std::u16string& text) = 0;
  virtual void ReportHttpError(uint32_t code, const std::u16string& text) = 0;
  // A failure with no OS error behind it: the text alone, error icon.
  virtual void ReportError(const std::u16string& text) = 0;
};

// The program's notifier: the modal "Inkseal" message boxes.
class MessageBoxNotifier final : public Notifier {
 public:
  void ShowInformation(const std::u16string& text) override;
  void ReportLastError(const std::u16string& text) override;
  void ReportHttpError(uint32_t code, const std::u16string& text) override;
  void ReportError(const std::u16string& text) override;
};

}  // namespace inkseal
