#include "text/private_profile.h"

#include "text/utf.h"
#include "text/windows1252.h"

namespace inkseal {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr size_t kNone = std::u16string::npos;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string Trim(std::u16string_view text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return std::u16string(text.substr(first, last - first));
}

std::u16string Unquote(std::u16string text) {
  if (text.size() >= 2 && text.front() == text.back() && (text.front() == u'"' || text.front() == u'\'')) {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

// Case folding for the letters of ASCII and Latin-1, the ones names use.
char16_t Fold(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 0x20);
  return c;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

}  // namespace

ProfileText::ProfileText(std::string_view fileBytes) : bytes_(fileBytes) {
  if (StartsWith(bytes_, kUtf16LeBom)) {
    encoding_ = Encoding::Utf16LeWithBom;
    unitSize_ = 2;
    bodyStart_ = kUtf16LeBom.size();
  } else if (StartsWith(bytes_, kUtf8Bom)) {
    encoding_ = Encoding::Utf8WithBom;
    bodyStart_ = kUtf8Bom.size();
  } else {
    encoding_ = IsValidUtf8(bytes_) ? Encoding::Utf8 : Encoding::Windows1252;
  }
  // A UTF-16 file cut in the middle of a unit keeps its odd byte untouched.
  bodyEnd_ = bodyStart_ + (bytes_.size() - bodyStart_) / unitSize_ * unitSize_;
  SplitLines();
}

char16_t ProfileText::UnitAt(size_t offset) const {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(bytes_[k]); };
  if (unitSize_ == 2) return static_cast<char16_t>(byte(offset) | (byte(offset + 1) << 8));
  return byte(offset);
}

void ProfileText::SplitLines() {
  size_t pos = bodyStart_;
  while (pos < bodyEnd_) {
    Line line;
    line.begin = pos;
    while (pos < bodyEnd_ && UnitAt(pos) != u'\r' && UnitAt(pos) != u'\n') pos += unitSize_;
    line.textEnd = pos;
    if (pos < bodyEnd_) {
      const bool crlf = UnitAt(pos) == u'\r' && pos + unitSize_ < bodyEnd_ && UnitAt(pos + unitSize_) == u'\n';
      pos += crlf ? 2 * unitSize_ : unitSize_;
    }
    line.end = pos;
    Classify(line);
    lines_.push_back(std::move(line));
  }
}

void ProfileText::Classify(Line& line) const {
  const std::u16string text = Trim(DecodeRange(line.begin, line.textEnd));
  if (text.empty()) return;
  if (text.front() == u'[') {
    line.kind = Kind::Section;
    line.name = Trim(std::u16string_view(text).substr(1, text.find(u']') - 1));
  } else if (text.front() == u';') {
    line.kind = Kind::Comment;
  } else if (const size_t equals = text.find(u'='); equals != kNone) {
    std::u16string name = Trim(std::u16string_view(text).substr(0, equals));
    if (name.empty()) return;
    line.kind = Kind::Key;
    line.name = std::move(name);
    // A zero character ends the value, as it ends a string for the caller.
    std::u16string_view value = std::u16string_view(text).substr(equals + 1);
    value = value.substr(0, value.find(u'\0'));
    line.value = Unquote(Trim(value));
  }
}

std::u16string ProfileText::DecodeRange(size_t begin, size_t end) const {
  switch (encoding_) {
    case Encoding::Utf16LeWithBom: {
      std::u16string text;
      for (size_t pos = begin; pos < end; pos += 2) text.push_back(UnitAt(pos));
      return text;
    }
    case Encoding::Windows1252:
      return DecodeWindows1252(std::string_view(bytes_).substr(begin, end - begin));
    case Encoding::Utf8:
    case Encoding::Utf8WithBom:
      break;
  }
  return Utf8ToUtf16(std::string_view(bytes_).substr(begin, end - begin));
}

bool ProfileText::CanEncode(std::u16string_view text) const {
  if (encoding_ != Encoding::Windows1252) return true;
  unsigned char byte;
  for (char16_t unit : text) {
    if (!UnitToWindows1252(unit, byte)) return false;
  }
  return true;
}

std::string ProfileText::Encode(std::u16string_view text) const {
  std::string bytes;
  switch (encoding_) {
    case Encoding::Utf16LeWithBom:
      for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
      }
      return bytes;
    case Encoding::Windows1252:
      for (char16_t unit : text) {
        unsigned char byte = '?';
        UnitToWindows1252(unit, byte);
        bytes.push_back(static_cast<char>(byte));
      }
      return bytes;
    case Encoding::Utf8:
    case Encoding::Utf8WithBom:
      break;
  }
  return Utf16ToUtf8(text);
}

// New lines end the way the file's first line does; a file from Windows
// keeps its CR LF.
std::string ProfileText::LineBreak() const {
  for (const Line& line : lines_) {
    if (line.end > line.textEnd) return bytes_.substr(line.textEnd, line.end - line.textEnd);
  }
  return Encode(encoding_ == Encoding::Utf16LeWithBom ? u"\r\n" : u"\n");
}

void ProfileText::Locate(std::u16string_view section, std::u16string_view key, size_t& sectionLine,
                         size_t& keyLine) const {
  sectionLine = kNone;
  keyLine = kNone;
  bool inSection = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    if (line.kind == Kind::Section) {
      inSection = SameName(line.name, section);
      if (inSection && sectionLine == kNone) sectionLine = i;
    } else if (line.kind == Kind::Key && inSection && SameName(line.name, key)) {
      keyLine = i;
      return;
    }
  }
}

size_t ProfileText::KeyValueStart(const Line& line) const {
  size_t pos = line.begin;
  while (UnitAt(pos) != u'=') pos += unitSize_;
  return pos + unitSize_;
}

std::optional<std::u16string> ProfileText::Find(std::u16string_view section, std::u16string_view key) const {
  size_t sectionLine;
  size_t keyLine;
  Locate(section, key, sectionLine, keyLine);
  if (keyLine == kNone) return std::nullopt;
  return lines_[keyLine].value;
}

std::string ProfileText::WithValue(std::u16string_view section, std::u16string_view key,
                                   std::u16string_view value) const {
  if (!CanEncode(section) || !CanEncode(key) || !CanEncode(value)) {
    // A legacy file cannot hold the new text: it becomes UTF-8 as a whole,
    // every character of it kept.
    return ProfileText(Utf16ToUtf8(DecodeWindows1252(bytes_))).WithValue(section, key, value);
  }
  size_t sectionLine;
  size_t keyLine;
  Locate(section, key, sectionLine, keyLine);
  const std::string lineBreak = LineBreak();

  if (keyLine != kNone) {
    const Line& line = lines_[keyLine];
    const size_t valueStart = KeyValueStart(line);
    return bytes_.substr(0, valueStart) + Encode(value) + bytes_.substr(line.textEnd);
  }

  std::u16string keyLineText = std::u16string(key) + u"=" + std::u16string(value);
  std::string addition;
  size_t insertAt;
  size_t previousLine;
  if (sectionLine != kNone) {
    // After the last line of the section that holds something, so the new
    // key stays clear of the blank lines that separate sections.
    previousLine = sectionLine;
    for (size_t i = sectionLine + 1; i < lines_.size() && lines_[i].kind != Kind::Section; ++i) {
      if (!Trim(DecodeRange(lines_[i].begin, lines_[i].textEnd)).empty()) previousLine = i;
    }
    insertAt = lines_[previousLine].end;
    addition = Encode(keyLineText) + lineBreak;
  } else {
    previousLine = lines_.empty() ? kNone : lines_.size() - 1;
    insertAt = bodyEnd_;
    addition = Encode(u"[" + std::u16string(section) + u"]") + lineBreak + Encode(keyLineText) + lineBreak;
  }
  // The line before the addition may be the file's last, with no line break.
  if (previousLine != kNone && lines_[previousLine].end == lines_[previousLine].textEnd) {
    addition = lineBreak + addition;
  }
  return bytes_.substr(0, insertAt) + addition + bytes_.substr(insertAt);
}

}  // namespace inkseal
