// Compiling entry point and the matching machine.  The machine keeps every
// choice point in the context's explicit stack: backtracking pops an
// instruction index and continues there, and the instructions at such
// targets restore the position, slots and group spans they saved.
#include "http/regexp.h"

#include "http/regexp_program.h"

#include <algorithm>
#include <new>
#include <utility>

namespace inkseal {
namespace {

using Op = RegExp::Op;

// Grows the stack to twice its top plus four entries, never past `limit`.
bool Push(std::vector<std::intptr_t>& stack, std::size_t& top, std::size_t limit,
          std::intptr_t value) {
  if (top == stack.size()) {
    if (top >= limit) return false;
    try {
      stack.resize(std::min(2 * top + 4, limit));
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  stack[top++] = value;
  return true;
}

// Whether the one-character test at `at` (literal, "." or class) accepts
// the non-NUL character c.
bool Accepts(const RegExp::Instruction* code, std::int32_t at, char16_t c) {
  const RegExp::Instruction& test = code[at];
  switch (test.kind) {
    case Op::Character: return c == static_cast<char16_t>(test.operand);
    case Op::AnyCharacter: return true;
    default: break;
  }
  bool inClass = false;
  for (std::int32_t i = at + 1; i < test.operand && !inClass; i += 2) {
    inClass = c >= code[i].operand && c <= code[i + 1].operand;
  }
  return inClass != (test.kind == Op::NegatedClass);
}

}  // namespace

void LowerCaseAscii(std::u16string& text) {
  // Branch-free, so that header text with mixed case costs no mispredictions.
  for (char16_t& c : text) {
    const bool upper = static_cast<char16_t>(c - u'A') < 26;
    c = static_cast<char16_t>(c + (upper ? u'a' - u'A' : 0));
  }
}

bool MatchContext::GroupMatched(int group) const {
  if (group < 0 || group >= GroupCount()) return false;
  const std::ptrdiff_t start = spans_[2 * group];
  return start >= 0 && spans_[2 * group + 1] >= start;
}

RegExp::RegExp() = default;
RegExp::~RegExp() = default;

PatternError RegExp::Parse(const char16_t* pattern, bool caseSensitive) {
  program_.clear();
  groupCount_ = 0;
  slotCount_ = 0;
  anchored_ = false;
  firstCharacter_ = -1;
  caseSensitive_ = caseSensitive;
  error_ = PatternOk;
  if (pattern == nullptr) return error_ = PatternNullInput;
  try {
    CompiledPattern compiled;
    if (caseSensitive) {
      error_ = CompilePattern(pattern, compiled);
    } else {
      std::u16string lowered(pattern);
      LowerCaseAscii(lowered);
      error_ = CompilePattern(lowered.c_str(), compiled);
    }
    if (error_ != PatternOk) return error_;
    program_ = std::move(compiled.program);
    groupCount_ = compiled.groupCount;
    slotCount_ = compiled.slotCount;
    anchored_ = compiled.anchored;
  } catch (const std::bad_alloc&) {
    program_.clear();
    return error_ = PatternOutOfMemory;
  }
  // Every match of a pattern that opens with a literal starts on that
  // character, so the search can skip straight to its occurrences.
  if (!anchored_ && program_[2].kind == Op::Character) firstCharacter_ = program_[2].operand;
  return error_;
}

bool RegExp::Match(const char16_t* text, MatchContext* context, const char16_t** end) const {
  if (text == nullptr || context == nullptr || program_.empty()) return false;
  if (caseSensitive_) return MatchPrepared(text, text, context, end);
  try {
    std::u16string lowered(text);
    LowerCaseAscii(lowered);
    return MatchPrepared(lowered.c_str(), text, context, end);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool RegExp::MatchPrepared(const char16_t* subject, const char16_t* text, MatchContext* context,
                           const char16_t** end) const {
  if (subject == nullptr || text == nullptr || context == nullptr || program_.empty()) return false;
  MatchContext& m = *context;
  m.base_ = text;
  m.matchStart_ = -1;
  m.matchEnd_ = -1;
  m.stepLimitReached_ = false;
  m.stackExhausted_ = false;
  m.steps_ = 0;
  try {
    m.spans_.assign(2 * static_cast<std::size_t>(groupCount_), -1);
    m.slots_.assign(static_cast<std::size_t>(slotCount_), -1);
  } catch (const std::bad_alloc&) {
    return false;
  }

  const Instruction* const code = program_.data();
  const char16_t* const s = subject;
  std::vector<std::intptr_t>& stack = m.stack_;
  std::vector<std::intptr_t>& slots = m.slots_;
  std::vector<std::ptrdiff_t>& spans = m.spans_;
  std::size_t& top = m.top_;
  const std::size_t stackLimit = std::max<std::size_t>(m.backtrackLimit_, 4);
  const std::uint64_t stepLimit = m.stepLimit_;
  std::uint64_t steps = 0;
  const auto skipToFirstCharacter = [&](std::ptrdiff_t at) {
    if (firstCharacter_ >= 0) {
      while (s[at] != 0 && s[at] != static_cast<char16_t>(firstCharacter_)) ++at;
    }
    return at;
  };
  const auto push = [&](std::intptr_t value) { return Push(stack, top, stackLimit, value); };
  const auto pop = [&]() -> std::intptr_t { return top ? stack[--top] : 0; };
  const auto finish = [&](bool found, std::ptrdiff_t at) {
    m.steps_ = steps;
    if (found) {
      m.matchEnd_ = at;
    } else {
      // A search cut short by a limit leaves half-set spans behind.
      m.matchStart_ = -1;
      std::fill(spans.begin(), spans.end(), -1);
    }
    if (end != nullptr) *end = text + at;
    return found;
  };
  // A choice point that cannot be saved would make the search skip
  // alternatives silently, so the whole match ends as not found.
  const auto exhausted = [&](std::ptrdiff_t at) {
    m.stackExhausted_ = true;
    return finish(false, at);
  };

  top = 0;
  std::ptrdiff_t start = skipToFirstCharacter(0);
  std::ptrdiff_t pos = start;
  if (firstCharacter_ >= 0 && s[start] == 0) return finish(false, pos);
  std::int32_t pc = 0;

  for (;;) {
    if (stepLimit != 0 && ++steps > stepLimit) {
      m.stepLimitReached_ = true;
      return finish(false, pos);
    }
    const Instruction& in = code[pc];
    const std::int32_t k = in.operand;
    switch (in.kind) {
      case Op::NoOperation:
        ++pc;
        continue;
      case Op::Character:
        if (s[pos] != static_cast<char16_t>(k)) break;
        ++pos;
        ++pc;
        continue;
      case Op::AnyCharacter:
        if (s[pos] == 0) break;
        ++pos;
        ++pc;
        continue;
      case Op::Class:
      case Op::NegatedClass:
        if (s[pos] == 0 || !Accepts(code, pc, s[pos])) break;
        ++pos;
        pc = k;
        continue;
      case Op::RepeatCharacter: {
        const std::ptrdiff_t first = pos;
        if (code[pc + 1].kind == Op::AnyCharacter) {
          while (s[pos] != 0) ++pos;
        } else {
          while (s[pos] != 0 && Accepts(code, pc + 1, s[pos])) ++pos;
        }
        if (pos > first && !(push(first) && push(pos) && push(k - 1))) return exhausted(pos);
        pc = k;
        continue;
      }
      case Op::GiveBackCharacter: {
        const std::ptrdiff_t taken = pop() - 1;
        const std::ptrdiff_t first = pop();
        if (taken > first && !(push(first) && push(taken) && push(pc))) return exhausted(taken);
        pos = taken;
        ++pc;
        continue;
      }
      case Op::AtEnd:
        if (s[pos] != 0) break;
        ++pc;
        continue;
      case Op::Jump:
        pc = k;
        continue;
      case Op::Call:
        if (pc == 0) m.matchStart_ = pos;
        if (!push(pc + 1)) return exhausted(pos);
        pc = k;
        continue;
      case Op::Return:
        break;
      case Op::PushPosition:
        if (!push(pos)) return exhausted(pos);
        ++pc;
        continue;
      case Op::PopPosition:
        pos = pop();
        ++pc;
        continue;
      case Op::SaveSlot:
        if (!push(slots[k])) return exhausted(pos);
        ++pc;
        continue;
      case Op::RestoreSlot:
        slots[k] = pop();
        ++pc;
        continue;
      case Op::StorePosition:
        slots[k] = pos;
        ++pc;
        continue;
      case Op::StoreDepth:
        slots[k] = static_cast<std::intptr_t>(top);
        ++pc;
        continue;
      case Op::LoadPosition:
        pos = slots[k];
        ++pc;
        continue;
      case Op::LoadDepth:
        top = std::min(top, static_cast<std::size_t>(slots[k]));
        ++pc;
        continue;
      case Op::FailIfNoProgress:
        if (pos == slots[k]) break;
        ++pc;
        continue;
      case Op::BackReference: {
        const std::ptrdiff_t from = spans[2 * k];
        const std::ptrdiff_t to = spans[2 * k + 1];
        const std::ptrdiff_t length = (from >= 0 && to > from) ? to - from : 0;
        std::ptrdiff_t i = 0;
        while (i < length && s[pos + i] == s[from + i]) ++i;
        if (i < length) break;
        pos += length;
        ++pc;
        continue;
      }
      case Op::SaveGroup:
        if (!push(spans[2 * k]) || !push(spans[2 * k + 1])) return exhausted(pos);
        ++pc;
        continue;
      case Op::RestoreGroup:
        spans[2 * k + 1] = pop();
        spans[2 * k] = pop();
        ++pc;
        continue;
      case Op::GroupStart:
        spans[2 * k] = pos;
        ++pc;
        continue;
      case Op::GroupEnd:
        spans[2 * k + 1] = pos;
        ++pc;
        continue;
      case Op::ClearGroup:
        spans[2 * k] = -1;
        spans[2 * k + 1] = -1;
        ++pc;
        continue;
      case Op::Fail:
        return finish(false, pos);
      case Op::AdvanceAndRetry:
        if (s[start] == 0) return finish(false, pos);
        start = skipToFirstCharacter(start + 1);
        if (s[start] == 0) return finish(false, pos);
        // A fresh attempt: nothing from the failed one may leak into it.
        top = 0;
        std::fill(spans.begin(), spans.end(), -1);
        pos = start;
        pc = 0;
        continue;
      case Op::Match:
        return finish(true, pos);
    }
    pc = static_cast<std::int32_t>(pop());
  }
}

}  // namespace inkseal
