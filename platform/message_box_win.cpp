#include "platform/message_box.h"

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace inkseal::platform {
namespace {

// A BSTR released when it leaves scope.
class Bstr {
 public:
  explicit Bstr(const std::u16string& text)
      : value_(::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()))) {}
  ~Bstr() { ::SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return value_; }

 private:
  BSTR value_;
};

// Keys and clicks queued before the box appeared were meant for a window the
// user saw then; the box's own loop would hand them out (an Enter or Escape
// typed during a slow exchange would close the box before it was read).
// Only what is older than the box goes: the system may make up mouse moves
// while the queue is read, and those would never run out.
void DiscardQueuedInput() {
  const DWORD now = ::GetTickCount();
  for (const auto& [first, last] : {std::pair<UINT, UINT>{WM_KEYFIRST, WM_KEYLAST},
                                    std::pair<UINT, UINT>{WM_MOUSEFIRST, WM_MOUSELAST}}) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, first, last, PM_NOREMOVE) &&
           static_cast<LONG>(message.time - now) <= 0) {
      ::PeekMessageW(&message, nullptr, first, last, PM_REMOVE);
    }
  }
}

}  // namespace

void ShowMessageBox(const std::u16string& title, const std::u16string& text, MessageIcon icon) {
  DiscardQueuedInput();
  const UINT style = MB_OK | (icon == MessageIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION);
  ::MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.c_str()),
                reinterpret_cast<const wchar_t*>(title.c_str()), style);
}

bool IsEmptyText(const std::u16string& text) {
  const Bstr value(text);
  const Bstr empty(u"");
  return ::VarBstrCmp(value.get(), empty.get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}

}  // namespace inkseal::platform
