// The instruction set shared by the pattern compiler and the matching machine.
// Internal to the matcher.
#pragma once

#include "http/regexp.h"

#include <cstdint>
#include <vector>

namespace inkseal {

enum class RegExp::Op : std::int32_t {
  NoOperation,       // also class data: pairs of (range start, range end)
  Character,         // operand: the character
  AnyCharacter,
  Class,             // operand: index after the class data
  NegatedClass,      // operand: index after the class data
  AtEnd,             // succeeds at the end of text, consumes nothing
  Jump,              // operand: target index
  Call,              // operand: target index; pushes the next index
  Return,            // backtrack
  PushPosition,
  PopPosition,
  SaveSlot,          // operand: slot
  RestoreSlot,       // operand: slot
  StorePosition,     // operand: slot
  StoreDepth,        // operand: slot
  LoadPosition,      // operand: slot
  LoadDepth,         // operand: slot
  FailIfNoProgress,  // operand: slot
  BackReference,     // operand: group
  SaveGroup,         // operand: group
  RestoreGroup,      // operand: group
  GroupStart,        // operand: group
  GroupEnd,          // operand: group
  ClearGroup,        // operand: group
  Fail,              // the whole search fails
  AdvanceAndRetry,   // next start position
  // Greedy "X*" over a one-character atom X, which follows as the next
  // instruction(s): take every character X accepts at once and leave one
  // choice point that gives them back one by one.  Operand: index after the
  // GiveBackCharacter that ends the construct.
  RepeatCharacter,
  GiveBackCharacter,  // reached only by backtracking
  Match,
};

struct RegExp::Instruction {
  Op kind;
  std::int32_t operand;
};

inline bool TakesTarget(RegExp::Op kind) {
  using Op = RegExp::Op;
  return kind == Op::Jump || kind == Op::Call || kind == Op::Class || kind == Op::NegatedClass ||
         kind == Op::RepeatCharacter;
}

inline bool TakesSlot(RegExp::Op kind) {
  using Op = RegExp::Op;
  return kind == Op::SaveSlot || kind == Op::RestoreSlot || kind == Op::StorePosition ||
         kind == Op::StoreDepth || kind == Op::LoadPosition || kind == Op::LoadDepth ||
         kind == Op::FailIfNoProgress;
}

struct CompiledPattern {
  std::vector<RegExp::Instruction> program;
  int groupCount = 0;
  int slotCount = 0;
  bool anchored = false;
};

// Compiles an already case-folded, NUL-terminated pattern.  Throws only
// std::bad_alloc.
PatternError CompilePattern(const char16_t* pattern, CompiledPattern& out);

}  // namespace inkseal
