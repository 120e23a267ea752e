// The by-name index an Object keeps beside its member list, so that finding
// a member (and refusing a duplicate) does not scan the list.
//
// Open addressing over one flat array: a lookup touches a few adjacent slots
// and compares stored hashes, and reaches into a list node only when a hash
// matches.  Growing rehashes from the stored hashes alone.  Members are never
// removed, so the table needs no tombstones.
#pragma once

#include <cstddef>
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
  // answers whether it was recorded.
  bool Add(Position member);

  void Reserve(std::size_t members);
  void swap(MemberIndex& other) noexcept;

 private:
  struct Slot {
    std::size_t tag = 0;  // 0: empty; otherwise the name's hash, lowest bit set
    Position member;
  };

  static std::size_t TagOf(std::string_view name);
  std::size_t Home(std::size_t tag) const;
  void Grow(std::size_t capacity);

  std::vector<Slot> slots_;  // empty, or a power of two at most half full
  std::size_t size_ = 0;
  unsigned shift_ = 0;  // turns a mixed hash into a slot number
};

}  // namespace json
