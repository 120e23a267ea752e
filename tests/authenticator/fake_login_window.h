// A login window without a window: control texts, visibility and focus kept
// in maps, every call the dialog logic makes recorded.
#pragma once

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/login_dialog.h"

namespace inkseal::testing {

class FakeLoginWindow final : public platform::LoginWindow {
 public:
  FakeLoginWindow() {
    using namespace platform;
    for (int id : {kEmailLabel, kEmailEdit, kPasswordLabel, kPasswordEdit, kLogInButton, kCancelButton}) {
      visible.insert(id);
    }
  }

  int TextLength(int controlId) override { return static_cast<int>(texts[controlId].size()); }

  int ReadText(int controlId, char16_t* buffer, int capacity) override {
    readOrder.push_back(controlId);
    std::u16string text = texts[controlId];
    if (shortReads.count(controlId) != 0) text.resize(text.size() - shortReads[controlId]);
    const size_t count = std::min(text.size(), static_cast<size_t>(capacity - 1));
    text.copy(buffer, count);
    buffer[count] = u'\0';
    return static_cast<int>(count);
  }

  void ShowControl(int controlId, bool show) override {
    showCalls.emplace_back(controlId, show);
    if (show) {
      visible.insert(controlId);
    } else {
      visible.erase(controlId);
    }
  }

  void FocusControl(int controlId) override { focused = controlId; }
  void Beep() override { ++beeps; }
  void End(int result) override { endedWith = result; }

  std::map<int, std::u16string> texts;
  // Control -> how many characters fewer it delivers than it announces.
  std::map<int, size_t> shortReads;
  std::set<int> visible;
  std::vector<std::pair<int, bool>> showCalls;
  std::vector<int> readOrder;
  std::optional<int> focused;
  int beeps = 0;
  std::optional<int> endedWith;
};

}  // namespace inkseal::testing
