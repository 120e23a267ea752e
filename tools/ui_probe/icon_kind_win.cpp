#include "tools/ui_probe/icon_kind.h"

#include <cstdint>
#include <vector>

namespace inkseal::probe {
namespace {

constexpr DWORD kPaintWaitMs = 1500;  // the box may not be painted yet
constexpr DWORD kRetryMs = 50;
constexpr uint32_t kColourMask = 0x00FFFFFF;

using Pixels = std::vector<uint32_t>;

// A 32-bit top-down bitmap selected into a memory DC for as long as it lives.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    HDC screen = ::GetDC(nullptr);
    dc_ = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    bitmap_ = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    ::ReleaseDC(nullptr, screen);
    previous_ = ::SelectObject(dc_, bitmap_);
  }
  ~Canvas() {
    ::SelectObject(dc_, previous_);
    ::DeleteObject(bitmap_);
    ::DeleteDC(dc_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC dc() const { return dc_; }
  Pixels Read() const {
    ::GdiFlush();
    if (bits_ == nullptr) return {};
    const auto* first = static_cast<const uint32_t*>(bits_);
    return Pixels(first, first + static_cast<size_t>(width_) * height_);
  }

 private:
  int width_;
  int height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  void* bits_ = nullptr;
};

Pixels Capture(const RECT& area) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  Canvas canvas(width, height);
  HDC screen = ::GetDC(nullptr);
  ::BitBlt(canvas.dc(), 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  ::ReleaseDC(nullptr, screen);
  return canvas.Read();
}

Pixels Draw(const wchar_t* standardIcon, int width, int height, uint32_t background) {
  Canvas canvas(width, height);
  HBRUSH brush = ::CreateSolidBrush(RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF));
  const RECT all{0, 0, width, height};
  ::FillRect(canvas.dc(), &all, brush);
  ::DeleteObject(brush);
  ::DrawIconEx(canvas.dc(), 0, 0, ::LoadIconW(nullptr, standardIcon), 0, 0, 0, nullptr, DI_NORMAL);
  return canvas.Read();
}

bool SameImage(const Pixels& a, const Pixels& b) {
  if (a.size() != b.size() || a.empty()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (((a[i] ^ b[i]) & kColourMask) != 0) return false;
  }
  return true;
}

}  // namespace

const wchar_t* IconKind(HWND iconControl) {
  if (iconControl == nullptr) return L"unknown";
  const ULONGLONG deadline = ::GetTickCount64() + kPaintWaitMs;
  for (;;) {
    RECT area;
    ::GetWindowRect(iconControl, &area);
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    const Pixels shown = Capture(area);
    if (!shown.empty()) {
      const uint32_t background = shown.front() & kColourMask;  // icon corners are transparent
      if (SameImage(shown, Draw(IDI_ERROR, width, height, background))) return L"error";
      if (SameImage(shown, Draw(IDI_INFORMATION, width, height, background))) return L"information";
    }
    if (::GetTickCount64() >= deadline) return L"unknown";
    ::Sleep(kRetryMs);
  }
}

}  // namespace inkseal::probe
