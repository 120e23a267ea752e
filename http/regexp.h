// A small backtracking pattern matcher over UTF-16 text.  A pattern is
// compiled into a flat instruction array once and then run by a stack machine
// that keeps every backtracking choice in an explicit stack, so a long text
// costs stack entries, never call depth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace inkseal {

// Result of RegExp::Parse; the numbers are part of the interface.
enum PatternError : int {
  PatternOk = 0,
  // Memory for an instruction or the lower-cased pattern ran out.  Also
  // returned for patterns nested deeper than kMaxPatternNesting or compiling
  // to more than kMaxPatternInstructions, so a hostile pattern cannot exhaust
  // the call stack or the heap.
  PatternOutOfMemory = 1,
  PatternBraceExpected = 2,    // a capture group is not closed by '}'
  PatternParenExpected = 3,    // a plain group is not closed by ')'
  // A class is not closed by ']', a range has no end character, or the
  // pattern ends in a backslash inside a class.
  PatternBracketExpected = 4,
  // An abbreviation failed to compile; also a pattern that ends in a lone
  // backslash outside a class (there is nothing to escape).
  PatternBadAbbreviation = 5,
  PatternEmptyClass = 6,       // "[]" or "[^]"
  PatternBadGroup = 7,         // back-reference to a group not opened yet
  PatternBadRange = 8,         // range end below its start
  // '*', '+', '*?' or '+?' on something that can match the empty string; a
  // lazy loop is also refused when its body may consume nothing at run time
  // (a look-ahead or a back-reference), since such a loop would never end.
  PatternEmptyRepeat = 9,
  PatternNullInput = 10,       // no pattern given
};

constexpr int kMaxPatternNesting = 256;
constexpr std::size_t kMaxPatternInstructions = std::size_t{1} << 20;
// 32 Mi entries (256 MiB on 64-bit): a loop keeping a choice point per
// repetition, such as "(.)*", needs about 17 Mi over a 4 MiB text.  A match
// that would need more ends as not found.
constexpr std::size_t kDefaultBacktrackLimit = std::size_t{1} << 25;

// Lower-cases A-Z and nothing else, as the matcher's case-insensitive mode
// does with both the pattern and the text.
void LowerCaseAscii(std::u16string& text);

// The outcome of one RegExp::Match call, and its reusable scratch space.
// Positions are pointers into the text the caller passed to Match.
class MatchContext {
 public:
  const char16_t* MatchStart() const { return At(matchStart_); }
  const char16_t* MatchEnd() const { return At(matchEnd_); }
  int GroupCount() const { return static_cast<int>(spans_.size() / 2); }
  // False when the group took no part in the match (or does not exist).
  bool GroupMatched(int group) const;
  // For 0 <= group < GroupCount(); meaningful when GroupMatched(group).
  const char16_t* GroupStart(int group) const { return At(spans_[2 * group]); }
  const char16_t* GroupEnd(int group) const { return At(spans_[2 * group + 1]); }

  // Bounds for untrusted patterns: a step limit of 0 means unlimited.  A
  // match that hits either bound ends as not found and says so here.
  void SetStepLimit(std::uint64_t steps) { stepLimit_ = steps; }
  void SetBacktrackLimit(std::size_t entries) { backtrackLimit_ = entries; }
  bool StepLimitReached() const { return stepLimitReached_; }
  // Instructions the last Match ran; counted only while a step limit is set.
  std::uint64_t StepsTaken() const { return steps_; }
  bool BacktrackStackExhausted() const { return stackExhausted_; }

 private:
  friend class RegExp;
  const char16_t* At(std::ptrdiff_t offset) const { return offset < 0 ? nullptr : base_ + offset; }

  const char16_t* base_ = nullptr;    // the caller's text; offsets count from here
  std::ptrdiff_t matchStart_ = -1;
  std::ptrdiff_t matchEnd_ = -1;
  std::vector<std::ptrdiff_t> spans_;  // start, end per group; -1 = unset
  std::vector<std::intptr_t> slots_;   // a position or a stack depth each
  std::vector<std::intptr_t> stack_;   // backtracking stack, size = capacity
  std::size_t top_ = 0;
  std::uint64_t stepLimit_ = 0;
  std::uint64_t steps_ = 0;
  std::size_t backtrackLimit_ = kDefaultBacktrackLimit;
  bool stepLimitReached_ = false;
  bool stackExhausted_ = false;
};

class RegExp {
 public:
  enum class Op : std::int32_t;
  struct Instruction;

  RegExp();
  ~RegExp();
  RegExp(const RegExp&) = delete;
  RegExp& operator=(const RegExp&) = delete;

  // Replaces any earlier program.  Without caseSensitive the pattern is
  // lower-cased before it is compiled, and texts are matched lower-cased.
  PatternError Parse(const char16_t* pattern, bool caseSensitive);

  // Searches `text` (NUL-terminated) for the leftmost match.  `end`, when
  // given, receives the match end, or where the last attempt stopped.
  bool Match(const char16_t* text, MatchContext* context, const char16_t** end) const;

  // Match for callers that scan one text many times: `subject` is what the
  // program runs on (the lower-cased copy of `text` for a case-insensitive
  // pattern, else `text` itself) and positions are reported in `text`, which
  // must have the same length.  Saves a copy of the text per call.
  bool MatchPrepared(const char16_t* subject, const char16_t* text, MatchContext* context,
                     const char16_t** end) const;

  int GroupCount() const { return groupCount_; }
  bool CaseSensitive() const { return caseSensitive_; }
  PatternError LastError() const { return error_; }

 private:
  std::vector<Instruction> program_;
  int groupCount_ = 0;
  int slotCount_ = 0;
  bool caseSensitive_ = true;
  bool anchored_ = false;
  int firstCharacter_ = -1;  // literal every match must start with, or -1
  PatternError error_ = PatternOk;
};

}  // namespace inkseal
