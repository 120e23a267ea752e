// Any bytes read as a settings file: looking a key up never crashes, and
// writing a value then reading it back finds exactly that value while the
// file's other keys read as before.
#include <cstddef>
#include <cstdint>
#include <string>

#include "text/private_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const inkseal::ProfileText text(bytes);
  const auto otherBefore = text.Find(u"Parameters", u"LumeskURL");
  (void)text.Find(u"", u"");

  const std::u16string value = u"ck-\u00e9\u4e2d";
  const inkseal::ProfileText written(text.WithValue(u"Parameters", u"OAuthClientKey", value));
  const auto readBack = written.Find(u"parameters", u"oauthclientkey");
  if (!readBack || *readBack != value) __builtin_trap();
  if (written.Find(u"Parameters", u"LumeskURL") != otherBefore) __builtin_trap();
  return 0;
}
