// The text of a private-profile (INI) settings file, read and edited the way
// Windows' profile functions treat it, without any file-system calls.
//
// Reading: section and key names match without regard to case; blanks and
// tabs around names and values are ignored; one matching pair of double or
// single quotes around a value is removed; the first occurrence of a key
// wins; keys before the first section belong to no section; lines starting
// with ';' are comments; LF, CR LF and CR all end a line.  A file may be
// UTF-16LE with a byte-order mark, UTF-8 with or without one, or (when it is
// not valid UTF-8) Windows-1252, the code page such a file was written in.
//
// Editing keeps every other line byte for byte and writes new text in the
// file's own encoding; a new file is UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace inkseal {

class ProfileText {
 public:
  explicit ProfileText(std::string_view fileBytes);

  // The value as written (unquoted, trimmed, up to a NUL), or absent when the
  // section or key is missing.  An empty value comes back empty.
  std::optional<std::u16string> Find(std::u16string_view section, std::u16string_view key) const;

  // The file's bytes with key set to value, the section and key added when
  // missing.  Texts must hold no line break or NUL: the caller checks.
  std::string WithValue(std::u16string_view section, std::u16string_view key, std::u16string_view value) const;

 private:
  enum class Encoding { Utf8, Utf8WithBom, Utf16LeWithBom, Windows1252 };
  enum class Kind { Other, Comment, Section, Key };

  // One line, by its offsets in the file's bytes, and what it means.
  struct Line {
    size_t begin = 0;       // first byte of the text
    size_t textEnd = 0;     // first byte of the line break (or end of file)
    size_t end = 0;         // first byte of the next line
    Kind kind = Kind::Other;
    std::u16string name;    // section or key name, trimmed
    std::u16string value;   // key value, trimmed and unquoted
  };

  void SplitLines();
  char16_t UnitAt(size_t offset) const;
  void Classify(Line& line) const;
  std::u16string DecodeRange(size_t begin, size_t end) const;
  bool CanEncode(std::u16string_view text) const;
  std::string Encode(std::u16string_view text) const;
  std::string LineBreak() const;
  // Indexes of the first matching section line and of the first matching key
  // line inside a matching section; npos when missing.
  void Locate(std::u16string_view section, std::u16string_view key, size_t& sectionLine, size_t& keyLine) const;
  size_t KeyValueStart(const Line& line) const;

  std::string bytes_;
  Encoding encoding_ = Encoding::Utf8;
  size_t unitSize_ = 1;
  size_t bodyStart_ = 0;  // after the byte-order mark
  size_t bodyEnd_ = 0;    // after the last whole unit
  std::vector<Line> lines_;
};

}  // namespace inkseal
