// Recursive descent from the pattern straight into instructions, one routine
// per precedence level: sequence, alternation, repetition, atom.  Wrappers
// that must precede code already emitted (alternation, repetition,
// look-ahead) are inserted in front of it and the jump targets moved, so no
// part of the pattern is ever compiled twice.
#include "http/regexp_program.h"

#include <climits>
#include <initializer_list>
#include <string>

namespace inkseal {
namespace {

using Op = RegExp::Op;
using Instruction = RegExp::Instruction;

// Each expansion is compiled as one repeated atom, so only its first group
// is used: "\q" therefore matches double-quoted runs only.
const char16_t* AbbreviationFor(char16_t letter) {
  switch (letter) {
    case u'a': return u"([a-zA-Z0-9])";
    case u'b': return u"([ \\t])";
    case u'c': return u"([a-zA-Z])";
    case u'd': return u"([0-9])";
    case u'h': return u"([0-9a-fA-F])";
    case u'n': return u"(\r|(\r?\n))";
    case u'q': return u"(\"[^\"]*\")|('[^']*')";
    case u'w': return u"([a-zA-Z]+)";
    case u'z': return u"([0-9]+)";
    default: return nullptr;
  }
}

// What a compiled construct tells the construct around it.
struct Piece {
  bool present = false;            // false: no atom stands here, or an error
  bool canBeEmpty = false;         // decides whether '*' and '+' are allowed
  bool mayConsumeNothing = false;  // also true for look-aheads and back-references
};

constexpr Piece kConsuming{true, false, false};
constexpr Piece kPossiblyEmpty{true, true, true};

class Compiler {
 public:
  Compiler(const char16_t* pattern, CompiledPattern& out)
      : p_(pattern), code_(out.program), groups_(out.groupCount), slots_(out.slotCount),
        anchored_(out.anchored) {
    const std::size_t length = std::char_traits<char16_t>::length(pattern);
    lastCharacter_ = length ? pattern + length - 1 : nullptr;
  }

  PatternError Run() {
    Emit(Op::Call, 2);
    anchored_ = *p_ == u'^';
    if (anchored_) ++p_;
    Emit(anchored_ ? Op::Fail : Op::AdvanceAndRetry);
    // An unmatched closing character at the top level ends the pattern.
    Sequence();
    if (error_ == PatternOk) Emit(Op::Match);
    return error_;
  }

 private:
  Piece Sequence() {
    Piece whole{false, true, true};
    for (;;) {
      const int mark = Size();
      const int groupMark = groups_;
      const int slotMark = slots_;
      const Piece element = Alternation();
      if (error_ != PatternOk) return {};
      if (!element.present) {
        // Whatever a dropped element emitted (e.g. "b|" with nothing after
        // the bar) goes with it.
        code_.resize(mark);
        groups_ = groupMark;
        slots_ = slotMark;
        return whole;
      }
      whole.present = true;
      whole.canBeEmpty = whole.canBeEmpty && element.canBeEmpty;
      whole.mayConsumeNothing = whole.mayConsumeNothing && element.mayConsumeNothing;
    }
  }

  // Binds tighter than sequence: "ab|cd" is a, (b or c), d.  Chains nest to
  // the right, which compiles to the same code as a loop.
  Piece Alternation() {
    int start = Size();
    Piece whole = Repetition();
    if (error_ != PatternOk || !whole.present || *p_ != u'|') return whole;
    std::vector<int> exits;
    while (*p_ == u'|') {
      ++p_;
      Insert(start, {{Op::PushPosition, 0}, {Op::Call, start + 4}, {Op::PopPosition, 0}, {Op::Jump, 0}});
      exits.push_back(Emit(Op::Jump));
      code_[start + 3].operand = Size();
      start = Size();
      const Piece next = Repetition();
      if (error_ != PatternOk || !next.present) return {};
      whole.canBeEmpty = whole.canBeEmpty || next.canBeEmpty;
      whole.mayConsumeNothing = whole.mayConsumeNothing || next.mayConsumeNothing;
    }
    for (const int exit : exits) code_[exit].operand = Size();
    return whole;
  }

  Piece Repetition() {
    if (*p_ == u'!') return LookAhead();
    const int start = Size();
    const int slotMark = slots_;
    const Piece atom = Atom();
    if (error_ != PatternOk || !atom.present) return atom;
    const char16_t op = *p_;
    if (op != u'*' && op != u'+' && op != u'?') return atom;
    ++p_;
    const bool lazy = *p_ == u'?';
    if (lazy) ++p_;
    if (op != u'?' && atom.canBeEmpty) return Failure(PatternEmptyRepeat);
    if (op == u'?') {
      lazy ? LazyLoop(start, false, false) : GreedyLoop(start, false);
      return kPossiblyEmpty;
    }
    int loopStart = start;
    if (op == u'+') {
      // One copy that must match, then the loop; both share the group
      // numbers, so groups report the last repetition.
      loopStart = Size();
      AppendCopy(start, loopStart, slotMark);
      if (error_ != PatternOk) return {};
    }
    if (lazy) {
      LazyLoop(loopStart, true, atom.mayConsumeNothing);
    } else if (IsOneCharacter(loopStart)) {
      CharacterLoop(loopStart);
    } else {
      GreedyLoop(loopStart, true);
    }
    return op == u'+' ? atom : kPossiblyEmpty;
  }

  // "!X": succeeds without consuming where the atom X does not match.
  Piece LookAhead() {
    ++p_;
    const int start = Size();
    const int groupMark = groups_;
    const Piece atom = Atom();
    if (error_ != PatternOk || !atom.present) return atom;
    const int position = slots_++;
    const int depth = slots_++;
    Insert(start, {{Op::StorePosition, position}, {Op::StoreDepth, depth}, {Op::Call, start + 6},
                   {Op::LoadPosition, position}, {Op::LoadDepth, depth}, {Op::Jump, 0}});
    // X matched: cut its choices away and fail.  Groups captured inside X
    // took no part in any match, so they must not report the span.
    Emit(Op::LoadPosition, position);
    Emit(Op::LoadDepth, depth);
    for (int group = groupMark; group < groups_; ++group) Emit(Op::ClearGroup, group);
    Emit(Op::Return);
    code_[start + 5].operand = Size();
    return {true, atom.canBeEmpty, true};
  }

  Piece Atom() {
    const char16_t c = *p_;
    switch (c) {
      case u'\0': case u')': case u'}': case u']': return {};
      case u'(': return Group(false);
      case u'{': return Group(true);
      case u'[': return CharacterClass();
      case u'\\': return Escape();
      case u'.':
        ++p_;
        Emit(Op::AnyCharacter);
        return kConsuming;
      case u'$':
        if (p_ == lastCharacter_) {
          ++p_;
          Emit(Op::AtEnd);
          return kPossiblyEmpty;
        }
        break;
      default: break;
    }
    ++p_;
    Emit(Op::Character, c);
    return kConsuming;
  }

  Piece Group(bool capture) {
    if (++depth_ > kMaxPatternNesting) return Failure(PatternOutOfMemory);
    ++p_;
    const int group = capture ? groups_++ : -1;
    if (capture) {
      Emit(Op::SaveGroup, group);
      Emit(Op::GroupStart, group);
    }
    const int call = Emit(Op::Call);
    if (capture) Emit(Op::RestoreGroup, group);
    Emit(Op::Return);
    code_[call].operand = Size();
    const Piece body = Sequence();
    if (error_ != PatternOk) return {};
    if (!body.present) Emit(Op::NoOperation);
    if (*p_ != (capture ? u'}' : u')')) {
      return Failure(capture ? PatternBraceExpected : PatternParenExpected);
    }
    ++p_;
    if (capture) Emit(Op::GroupEnd, group);
    --depth_;
    return {true, body.canBeEmpty, body.mayConsumeNothing};
  }

  Piece CharacterClass() {
    ++p_;
    const bool negated = *p_ == u'^';
    if (negated) ++p_;
    if (*p_ == u']') return Failure(PatternEmptyClass);
    const int head = Emit(negated ? Op::NegatedClass : Op::Class);
    while (*p_ != u']') {
      char16_t first = *p_;
      if (first == u'\0') return Failure(PatternBracketExpected);
      if (first == u'\\') {
        first = *++p_;
        if (first == u'\0') return Failure(PatternBracketExpected);
        if (first == u't') first = u'\t';
      }
      ++p_;
      char16_t last = first;
      if (*p_ == u'-') {
        last = *++p_;  // a range end is taken as written
        if (last == u'\0' || last == u']') return Failure(PatternBracketExpected);
        ++p_;
        if (last < first) return Failure(PatternBadRange);
      }
      Emit(Op::NoOperation, first);
      Emit(Op::NoOperation, last);
      if (error_ != PatternOk) return {};
    }
    ++p_;
    code_[head].operand = Size();
    return kConsuming;
  }

  Piece Escape() {
    const char16_t c = *++p_;
    if (c == u'\0') return Failure(PatternBadAbbreviation);
    if (c >= u'0' && c <= u'9') {
      long long number = 0;
      for (; *p_ >= u'0' && *p_ <= u'9'; ++p_) {
        if (number <= INT_MAX) number = number * 10 + (*p_ - u'0');
      }
      if (number >= groups_) return Failure(PatternBadGroup);
      Emit(Op::BackReference, static_cast<int>(number));
      // Never empty by the repetition rule, though an empty capture makes it
      // consume nothing.
      return {true, false, true};
    }
    ++p_;
    if (const char16_t* expansion = AbbreviationFor(c)) return Abbreviation(expansion);
    Emit(Op::Character, c);
    return kConsuming;
  }

  Piece Abbreviation(const char16_t* expansion) {
    const char16_t* resume = p_;
    p_ = expansion;
    const Piece piece = Repetition();
    p_ = resume;
    if (error_ == PatternOutOfMemory) return {};
    if (error_ != PatternOk || !piece.present) {
      error_ = PatternOk;
      return Failure(PatternBadAbbreviation);
    }
    return piece;
  }

  // Greedy "X*" (repeat) or "X?" around the body at [bodyStart, end): try
  // one more X first; a pass that consumed nothing fails.
  void GreedyLoop(int bodyStart, bool repeat) {
    const int slot = slots_++;
    Insert(bodyStart, {{Op::SaveSlot, slot}, {Op::StorePosition, slot}, {Op::PushPosition, 0},
                       {Op::Call, bodyStart + 7}, {Op::PopPosition, 0}, {Op::RestoreSlot, slot},
                       {Op::Jump, 0}});
    Emit(Op::FailIfNoProgress, slot);
    Emit(Op::StorePosition, slot);
    if (repeat) Emit(Op::Jump, bodyStart);
    code_[bodyStart + 6].operand = Size();
  }

  // True when the code from `start` on is one character test: a literal,
  // ".", or a class with its data.
  bool IsOneCharacter(int start) const {
    const Instruction& head = code_[start];
    switch (head.kind) {
      case Op::Character: case Op::AnyCharacter: return Size() == start + 1;
      case Op::Class: case Op::NegatedClass: return head.operand == Size();
      default: return false;
    }
  }

  // Greedy "X*" for a one-character X: same choices in the same order as
  // GreedyLoop, but a run of any length costs three stack entries, not
  // three per character (a ".*" over a whole header block is common).
  void CharacterLoop(int bodyStart) {
    Insert(bodyStart, {{Op::RepeatCharacter, 0}});
    Emit(Op::GiveBackCharacter);
    code_[bodyStart].operand = Size();
  }

  // Lazy "X*?" (repeat) or "X??": the continuation first, one more X only
  // when it fails.  The position is pushed so that X starts where the
  // continuation started, not where it gave up.
  //
  // A repeated X that may consume nothing (a back-reference to an empty
  // capture, a look-ahead) would loop for ever without moving; guarded, an
  // iteration that did not move fails instead.  Its progress mark lives in
  // a slot whose earlier value comes back when the iteration is undone, as
  // in the greedy loop, so an outer iteration is judged by its own start.
  void LazyLoop(int bodyStart, bool repeat, bool guarded) {
    if (!repeat || !guarded) {
      Insert(bodyStart, {{Op::PushPosition, 0}, {Op::Call, 0}, {Op::PopPosition, 0}});
      if (repeat) Emit(Op::Jump, bodyStart);
      code_[bodyStart + 1].operand = Size();
      return;
    }
    const int slot = slots_++;
    Insert(bodyStart, {{Op::PushPosition, 0}, {Op::Call, 0}, {Op::PopPosition, 0},
                       {Op::SaveSlot, slot}, {Op::Call, bodyStart + 7}, {Op::RestoreSlot, slot},
                       {Op::Return, 0}, {Op::StorePosition, slot}});
    Emit(Op::FailIfNoProgress, slot);
    Emit(Op::Jump, bodyStart);
    code_[bodyStart + 1].operand = Size();
  }

  int Size() const { return static_cast<int>(code_.size()); }

  int Emit(Op kind, int operand = 0) {
    code_.push_back({kind, operand});
    CheckSize();
    return Size() - 1;
  }

  // Puts `head` in front of the code from `at` on; targets inside that code
  // move with it, targets from before it still point at `at`, which is now
  // the head.
  void Insert(int at, std::initializer_list<Instruction> head) {
    const int count = static_cast<int>(head.size());
    code_.insert(code_.begin() + at, head);
    for (std::size_t i = static_cast<std::size_t>(at) + count; i < code_.size(); ++i) {
      if (TakesTarget(code_[i].kind) && code_[i].operand >= at) code_[i].operand += count;
    }
    CheckSize();
  }

  // Appends a copy of [from, to) with its own slots (loops inside it keep
  // separate progress marks) and the same group numbers.
  void AppendCopy(int from, int to, int slotMark) {
    if (code_.size() + static_cast<std::size_t>(to - from) > kMaxPatternInstructions) {
      Failure(PatternOutOfMemory);
      return;
    }
    const int shift = Size() - from;
    const int slotShift = slots_ - slotMark;
    for (int i = from; i < to; ++i) {
      Instruction copy = code_[i];
      if (TakesTarget(copy.kind)) copy.operand += shift;
      if (TakesSlot(copy.kind)) copy.operand += slotShift;
      code_.push_back(copy);
    }
    slots_ += slotShift;
  }

  void CheckSize() {
    if (code_.size() > kMaxPatternInstructions) Failure(PatternOutOfMemory);
  }

  Piece Failure(PatternError error) {
    if (error_ == PatternOk) error_ = error;
    return {};
  }

  const char16_t* p_;
  const char16_t* lastCharacter_;
  std::vector<Instruction>& code_;
  int& groups_;
  int& slots_;
  bool& anchored_;
  int depth_ = 0;
  PatternError error_ = PatternOk;
};

}  // namespace

PatternError CompilePattern(const char16_t* pattern, CompiledPattern& out) {
  out = CompiledPattern{};
  return Compiler(pattern, out).Run();
}

}  // namespace inkseal
