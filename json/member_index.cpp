#include "json/member_index.h"

#include <functional>

#include "json/elements.h"

namespace json {
namespace {

constexpr std::size_t kFirstCapacity = 8;
// Fibonacci hashing: spreads the string hash's bits over the high bits, from
// which the slot number is taken.
constexpr std::size_t kGoldenRatio = static_cast<std::size_t>(0x9E3779B97F4A7C15ULL);
constexpr unsigned kWordBits = sizeof(std::size_t) * 8;

unsigned Log2(std::size_t powerOfTwo) {
  unsigned bits = 0;
  while ((std::size_t{1} << bits) < powerOfTwo) ++bits;
  return bits;
}

}  // namespace

std::size_t MemberIndex::TagOf(std::string_view name) {
  return std::hash<std::string_view>()(name) | 1;
}

std::size_t MemberIndex::Home(std::size_t tag) const { return (tag * kGoldenRatio) >> shift_; }

std::optional<MemberIndex::Position> MemberIndex::Find(std::string_view name) const {
  if (size_ == 0) return std::nullopt;
  const std::size_t tag = TagOf(name);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = Home(tag);; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.tag == 0) return std::nullopt;
    if (slot.tag == tag && slot.member->name == name) return slot.member;
  }
}

bool MemberIndex::Add(Position member) {
  if ((size_ + 1) * 2 > slots_.size()) Grow(slots_.empty() ? kFirstCapacity : slots_.size() * 2);
  const std::size_t tag = TagOf(member->name);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = Home(tag);; at = (at + 1) & mask) {
    Slot& slot = slots_[at];
    if (slot.tag == 0) {
      slot.tag = tag;
      slot.member = member;
      ++size_;
      return true;
    }
    if (slot.tag == tag && slot.member->name == member->name) return false;
  }
}

void MemberIndex::Reserve(std::size_t members) {
  std::size_t capacity = kFirstCapacity;
  while (capacity < members * 2) capacity *= 2;
  if (capacity > slots_.size()) Grow(capacity);
}

void MemberIndex::Grow(std::size_t capacity) {
  std::vector<Slot> old(capacity);
  old.swap(slots_);
  shift_ = kWordBits - Log2(capacity);
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
  std::swap(size_, other.size_);
  std::swap(shift_, other.shift_);
}

}  // namespace json
