#include "text/punycode.h"

#include <cstdint>
#include <limits>

namespace inkseal {
namespace {

// The bootstring parameters Punycode fixes.
constexpr uint32_t kBase = 36;
constexpr uint32_t kTMin = 1;
constexpr uint32_t kTMax = 26;
constexpr uint32_t kSkew = 38;
constexpr uint32_t kDamp = 700;
constexpr uint32_t kInitialBias = 72;
constexpr uint32_t kInitialN = 0x80;
constexpr char32_t kLastCodePoint = 0x10FFFF;

char Digit(uint32_t d) { return static_cast<char>(d < 26 ? 'a' + d : '0' + (d - 26)); }

uint32_t Adapt(uint32_t delta, uint32_t points, bool first) {
  delta = first ? delta / kDamp : delta / 2;
  delta += delta / points;
  uint32_t k = 0;
  while (delta > ((kBase - kTMin) * kTMax) / 2) {
    delta /= kBase - kTMin;
    k += kBase;
  }
  return k + (kBase - kTMin + 1) * delta / (delta + kSkew);
}

}  // namespace

std::optional<std::string> PunycodeEncode(const std::u32string& codePoints) {
  std::string output;
  for (const char32_t c : codePoints) {
    if (c > kLastCodePoint) return std::nullopt;
    if (c < 0x80) output += static_cast<char>(c);
  }
  const uint32_t basic = static_cast<uint32_t>(output.size());
  if (basic > 0) output += '-';

  constexpr uint32_t kMax = std::numeric_limits<uint32_t>::max();
  uint32_t n = kInitialN;
  uint32_t delta = 0;
  uint32_t bias = kInitialBias;
  uint32_t handled = basic;
  while (handled < codePoints.size()) {
    uint32_t next = kMax;
    for (const char32_t c : codePoints) {
      if (c >= n && c < next) next = c;
    }
    if (next - n > (kMax - delta) / (handled + 1)) return std::nullopt;
    delta += (next - n) * (handled + 1);
    n = next;
    for (const char32_t c : codePoints) {
      if (c < n && ++delta == 0) return std::nullopt;
      if (c != n) continue;
      uint32_t q = delta;
      for (uint32_t k = kBase;; k += kBase) {
        const uint32_t t = k <= bias ? kTMin : (k >= bias + kTMax ? kTMax : k - bias);
        if (q < t) break;
        output += Digit(t + (q - t) % (kBase - t));
        q = (q - t) / (kBase - t);
      }
      output += Digit(q);
      bias = Adapt(delta, handled + 1, handled == basic);
      delta = 0;
      ++handled;
    }
    ++delta;
    ++n;
  }
  return output;
}

}  // namespace inkseal
