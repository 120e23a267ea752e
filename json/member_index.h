// The by-name index an Object keeps beside its member list, so that finding
// a member (and refusing a duplicate) does not scan the list.
//
// Open addressing over one flat array of small slots: a lookup touches a few
// adjacent slots and compares stored hash tags, and reaches into a list node
// only when a tag matches.  Growing rehashes from the tags alone.  Members
// are never removed, so the table needs no tombstones.  Slots name members
// by their number, which keeps them at 8 bytes: for a large object the table
// is the part touched at random, and the smaller it is the more of it stays
// in the cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string_view>
#include <vector>

namespace json {

struct Member;

class MemberIndex {
 public:
  using Position = std::list<Member>::iterator;

  std::optional<Position> Find(std::string_view name) const;

  // Records `member` unless a member of the same name is already recorded;
  // answers whether it was recorded.  Throws std::length_error beyond
  // 2^32 - 1 members.
  bool Add(Position member);

  void Reserve(std::size_t members);
  void swap(MemberIndex& other) noexcept;

 private:
  struct Slot {
    std::uint32_t tag = 0;  // 0: empty; otherwise the name's hash, lowest bit set
    std::uint32_t number = 0;  // into positions_
  };

  static std::uint32_t TagOf(std::string_view name);
  std::size_t Home(std::uint32_t tag) const;
  void Grow(std::size_t capacity);

  std::vector<Slot> slots_;  // empty, or a power of two at most half full
  std::vector<Position> positions_;  // in the order recorded
  unsigned shift_ = 0;  // turns a mixed tag into a slot number
};

}  // namespace json
