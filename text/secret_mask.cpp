#include "text/secret_mask.h"

namespace inkseal {
namespace {

constexpr char16_t kMask[] = u"***";

struct SecretField {
  std::u16string_view opening;  // the text the value follows
  std::u16string_view ends;     // characters that end the value
};

// A quoted signature ends at its quote (a missing one: at the line end);
// a form value at the next field, blank or line.
constexpr SecretField kFields[] = {
    {u"oauth_signature=\"", u"\"\r\n"},
    {u"password=", u"& \t\r\n"},
};

}  // namespace

std::u16string MaskSecrets(std::u16string_view text) {
  std::u16string masked;
  size_t done = 0;
  while (done < text.size()) {
    // The earliest secret still ahead.
    size_t start = std::u16string_view::npos;
    const SecretField* field = nullptr;
    for (const SecretField& candidate : kFields) {
      const size_t found = text.find(candidate.opening, done);
      if (found < start) {
        start = found;
        field = &candidate;
      }
    }
    if (field == nullptr) break;
    const size_t valueStart = start + field->opening.size();
    size_t valueEnd = text.find_first_of(field->ends, valueStart);
    if (valueEnd == std::u16string_view::npos) valueEnd = text.size();
    masked.append(text.substr(done, valueStart - done)).append(kMask);
    done = valueEnd;
  }
  masked.append(text.substr(done));
  return masked;
}

}  // namespace inkseal
