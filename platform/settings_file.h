// Private-profile (INI) settings files.
#pragma once

#include <string>
#include <utility>
#include <vector>

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

// Keys and values written together.
using ProfileEntries = std::vector<std::pair<std::u16string, std::u16string>>;

// Writes all entries into section of file so that a reader sees the file as
// it was or with every entry in it, never some of them (a kill in between
// included).  False on failure, with the last error set and failedEntry the
// index of the entry that could not be written, or entries.size() when the
// file itself could not be replaced; the file is then unchanged.  On POSIX
// the file becomes readable by its owner only, as it holds secrets (the
// per-user folder on Windows is the user's own already).
bool WriteProfileValues(const std::u16string& section, const ProfileEntries& entries,
                        const std::u16string& file, size_t& failedEntry);

}  // namespace inkseal::platform
