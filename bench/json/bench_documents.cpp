#include "bench_documents.h"

#include <cstdint>

namespace inkseal::bench {
namespace {

// A small fixed-seed generator: the documents must not change between runs.
class Dice {
 public:
  std::uint32_t Next(std::uint32_t bound) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state_ >> 33) % bound;
  }

 private:
  std::uint64_t state_ = 0x1234567;
};

const char* const kWords[] = {"alpha", "Brantwick", "document", "signature",
                              "line\\nbreak", "tab\\there", "quote\\\"d", "slash\\/path",
                              "back\\\\slash", "plain text", "\xC3\xA9t\xC3\xA9", "z"};
constexpr std::uint32_t kWordCount = sizeof(kWords) / sizeof(kWords[0]);

const char* const kNumbers[] = {"0", "-1", "42", "3.14159", "-0.5e1", "1E+2", "6.02e23",
                                "123456789", "0.000125", "-98.6"};
constexpr std::uint32_t kNumberCount = sizeof(kNumbers) / sizeof(kNumbers[0]);

void AppendString(std::string& out, Dice& dice) {
  out += '"';
  const std::uint32_t words = 1 + dice.Next(5);
  for (std::uint32_t i = 0; i < words; ++i) {
    if (i) out += ' ';
    out += kWords[dice.Next(kWordCount)];
  }
  out += '"';
}

void AppendValue(std::string& out, Dice& dice, int depth) {
  const std::uint32_t kind = dice.Next(depth < 4 ? 10 : 7);
  switch (kind) {
    case 0: case 1: case 2: AppendString(out, dice); break;
    case 3: case 4: out += kNumbers[dice.Next(kNumberCount)]; break;
    case 5: out += dice.Next(2) ? "true" : "false"; break;
    case 6: out += "null"; break;
    case 7: case 8: {
      out += "{";
      const std::uint32_t members = 1 + dice.Next(6);
      for (std::uint32_t i = 0; i < members; ++i) {
        if (i) out += ",";
        out += "\"key" + std::to_string(i) + "\": ";
        AppendValue(out, dice, depth + 1);
      }
      out += "}";
      break;
    }
    default: {
      out += "[";
      const std::uint32_t elements = dice.Next(8);
      for (std::uint32_t i = 0; i < elements; ++i) {
        if (i) out += ", ";
        AppendValue(out, dice, depth + 1);
      }
      out += "]";
    }
  }
}

}  // namespace

std::string MixedDocument(std::size_t bytes) {
  Dice dice;
  std::string out = "{\n";
  for (std::size_t member = 0; out.size() < bytes; ++member) {
    if (member) out += ",\n";
    out += "  \"member" + std::to_string(member) + "\": ";
    AppendValue(out, dice, 0);
  }
  out += "\n}\n";
  return out;
}

std::string FlatObject(std::size_t members) {
  std::string out = "{";
  for (std::size_t member = 0; member < members; ++member) {
    if (member) out += ",";
    out += "\"name" + std::to_string(member) + "\":";
    out += member % 2 ? std::to_string(member) : "\"value " + std::to_string(member) + "\"";
  }
  out += "}";
  return out;
}

}  // namespace inkseal::bench
