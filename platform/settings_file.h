// Private-profile (INI) settings files.
#pragma once

#include <string>

namespace inkseal::platform {

// Room for a value, terminator included: at most 254 characters come back.
constexpr int kProfileValueCapacity = 255;

// The value of key in section of file, cut to 254 characters; empty when the
// file, section or key is missing, unreadable or the value is empty.
std::u16string ReadProfileValue(const std::u16string& section, const std::u16string& key,
                                 const std::u16string& file);

// Creates the file, section and key as needed and replaces an existing value.
// False on failure, with the last error set.  A value holding a line break or
// NUL is refused (it would add keys to the file).
bool WriteProfileValue(const std::u16string& section, const std::u16string& key,
                        const std::u16string& value, const std::u16string& file);

}  // namespace inkseal::platform
