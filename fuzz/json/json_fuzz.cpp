// Any byte sequence either reads into a document or is refused with one of
// the reader's two exceptions; anything else escaping is a crash.  A document
// that reads must also copy and compare equal to its copy.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "json/reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
  json::Object document;
  try {
    json::Reader::Read(document, stream);
  } catch (const json::Reader::ScanException&) {
  } catch (const json::Reader::ParseException&) {
  }
  // Members read before a failure stay; they must be whole values either way.
  const json::Object copy(document);
  if (copy != document) __builtin_trap();
  for (const json::Member& member : document) {
    if (copy.Find(member.name) == copy.end()) __builtin_trap();
  }
  return 0;
}
