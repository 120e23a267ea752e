#include "json/member_index.h"

#include <functional>
#include <limits>
#include <stdexcept>

#include "json/elements.h"

namespace json {
namespace {

constexpr std::size_t kFirstCapacity = 8;
// Fibonacci hashing: spreads the tag's bits over the high bits, from which
// the slot number is taken.
constexpr std::uint32_t kGoldenRatio = 0x9E3779B9u;
constexpr unsigned kTagBits = 32;
constexpr std::size_t kMostMembers = std::numeric_limits<std::uint32_t>::max();

unsigned Log2(std::size_t powerOfTwo) {
  unsigned bits = 0;
  while ((std::size_t{1} << bits) < powerOfTwo) ++bits;
  return bits;
}

}  // namespace

std::uint32_t MemberIndex::TagOf(std::string_view name) {
  const std::size_t hash = std::hash<std::string_view>()(name);
  return static_cast<std::uint32_t>(hash ^ (static_cast<std::uint64_t>(hash) >> 32)) | 1u;
}

std::size_t MemberIndex::Home(std::uint32_t tag) const {
  return static_cast<std::uint32_t>(tag * kGoldenRatio) >> shift_;
}

std::optional<MemberIndex::Position> MemberIndex::Find(std::string_view name) const {
  if (positions_.empty()) return std::nullopt;
  const std::uint32_t tag = TagOf(name);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = Home(tag);; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.tag == 0) return std::nullopt;
    if (slot.tag == tag && positions_[slot.number]->name == name) return positions_[slot.number];
  }
}

bool MemberIndex::Add(Position member) {
  if (positions_.size() == kMostMembers) throw std::length_error("too many object members");
  if ((positions_.size() + 1) * 2 > slots_.size()) {
    Grow(slots_.empty() ? kFirstCapacity : slots_.size() * 2);
  }
  const std::uint32_t tag = TagOf(member->name);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = Home(tag);; at = (at + 1) & mask) {
    Slot& slot = slots_[at];
    if (slot.tag == 0) {
      positions_.push_back(member);  // the one step that can fail, so first
      slot.tag = tag;
      slot.number = static_cast<std::uint32_t>(positions_.size() - 1);
      return true;
    }
    if (slot.tag == tag && positions_[slot.number]->name == member->name) return false;
  }
}

void MemberIndex::Reserve(std::size_t members) {
  std::size_t capacity = kFirstCapacity;
  while (capacity < members * 2) capacity *= 2;
  if (capacity > slots_.size()) Grow(capacity);
  positions_.reserve(members);
}

void MemberIndex::Grow(std::size_t capacity) {
  std::vector<Slot> old(capacity);
  old.swap(slots_);
  shift_ = kTagBits - Log2(capacity);
  const std::size_t mask = capacity - 1;
  for (const Slot& slot : old) {
    if (slot.tag == 0) continue;
    std::size_t at = Home(slot.tag);
    while (slots_[at].tag != 0) at = (at + 1) & mask;
    slots_[at] = slot;
  }
}

void MemberIndex::swap(MemberIndex& other) noexcept {
  slots_.swap(other.slots_);
  positions_.swap(other.positions_);
  std::swap(shift_, other.shift_);
}

}  // namespace json
