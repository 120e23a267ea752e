// The in-memory form of a JSON document.
//
// An UnknownElement owns exactly one value of one of six types: Null,
// Boolean, Number, String, Array or Object.  Copies are deep; nothing is
// shared between two elements.
//
// Typed access comes in two forms, and the difference matters:
//
//   * Modifiable access -- `Convert<T>()` or the conversion operators to
//     `T&` on a non-const element -- never fails: when the element holds
//     another type, that value is destroyed and replaced by T's default
//     (false, 0.0, empty).  This is how a fresh element is turned into the
//     type about to be filled.
//
//   * Read-only access -- `Get<T>()`, or the conversion operators to
//     `const T&` on a const element -- throws Exception("Bad cast") when the
//     element holds another type and leaves the element untouched.
//
// Beware: binding `const String& s = element;` to a NON-const element picks
// the modifiable conversion (C++ prefers the non-const operator), which
// silently converts.  To read without changing anything, call
// `element.Get<String>()` or go through a const reference.
#pragma once

#include <cstddef>
#include <deque>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "json/exception.h"
#include "json/member_index.h"

namespace json {

class Visitor;
class ConstVisitor;
class Null;
class Array;
class Object;
template <typename ValueType>
class TrivialType_T;

using Boolean = TrivialType_T<bool>;
using Number = TrivialType_T<double>;
// The bytes exactly as read: no character encoding is applied or checked.
using String = TrivialType_T<std::string>;

class UnknownElement {
 public:
  UnknownElement() noexcept;  // holds Null
  UnknownElement(const UnknownElement& other);
  // The moved-from element is left holding Null, never nothing.
  UnknownElement(UnknownElement&& other) noexcept;
  UnknownElement& operator=(const UnknownElement& other);
  UnknownElement& operator=(UnknownElement&& other) noexcept;
  ~UnknownElement();

  UnknownElement(Null value);
  UnknownElement(Boolean value);
  UnknownElement(Number value);
  UnknownElement(String value);
  UnknownElement(Array value);
  UnknownElement(Object value);

  // Modifiable access: converts in place to the type's default if needed.
  template <typename ElementType>
  ElementType& Convert();
  operator Null&();
  operator Boolean&();
  operator Number&();
  operator String&();
  operator Array&();
  operator Object&();

  // Read-only access: throws Exception("Bad cast") on a type mismatch.
  template <typename ElementType>
  const ElementType& Get() const;
  operator const Null&() const;
  operator const Boolean&() const;
  operator const Number&() const;
  operator const String&() const;
  operator const Array&() const;
  operator const Object&() const;

  void Accept(Visitor& visitor);
  void Accept(ConstVisitor& visitor) const;

  // Same type and equal value; containers compare element by element, in
  // order.
  bool operator==(const UnknownElement& other) const;
  bool operator!=(const UnknownElement& other) const { return !(*this == other); }

 private:
  class Imp;
  template <typename ElementType>
  class Imp_T;
  class CastVisitor;
  class ConstCastVisitor;
  template <typename ElementType>
  class CastVisitor_T;
  template <typename ElementType>
  class ConstCastVisitor_T;

  // Null carries no data, so every element holding Null shares one
  // immutable holder: fresh and moved-from elements cost no allocation,
  // which matters because the reader creates one for every value it reads.
  struct ImpDeleter {
    void operator()(Imp* imp) const noexcept;
  };
  using ImpPtr = std::unique_ptr<Imp, ImpDeleter>;
  static Imp* SharedNull() noexcept;
  template <typename ElementType, typename... Arguments>
  static ImpPtr MakeImp(Arguments&&... arguments);

  ImpPtr imp_;
};

template <typename ValueType>
class TrivialType_T {
 public:
  TrivialType_T(const ValueType& value = ValueType()) : value_(value) {}
  TrivialType_T(ValueType&& value) : value_(std::move(value)) {}

  ValueType& Value() { return value_; }
  const ValueType& Value() const { return value_; }
  operator ValueType&() { return value_; }
  operator const ValueType&() const { return value_; }

  bool operator==(const TrivialType_T& other) const { return value_ == other.value_; }
  bool operator!=(const TrivialType_T& other) const { return !(*this == other); }

 private:
  ValueType value_;
};

class Null {
 public:
  bool operator==(const Null&) const { return true; }
  bool operator!=(const Null&) const { return false; }
};

class Array {
 public:
  using Elements = std::deque<UnknownElement>;
  using iterator = Elements::iterator;
  using const_iterator = Elements::const_iterator;

  iterator begin() { return elements_.begin(); }
  iterator end() { return elements_.end(); }
  const_iterator begin() const { return elements_.begin(); }
  const_iterator end() const { return elements_.end(); }
  std::size_t Size() const { return elements_.size(); }
  bool Empty() const { return elements_.empty(); }

  // Inserts before `where` (or at the end) and returns the new element's
  // position, through which the caller can fill it in place.
  iterator Insert(const UnknownElement& element, const_iterator where);
  iterator Insert(UnknownElement&& element, const_iterator where);
  iterator Insert(const UnknownElement& element);
  iterator Insert(UnknownElement&& element);

  bool operator==(const Array& other) const { return elements_ == other.elements_; }
  bool operator!=(const Array& other) const { return !(*this == other); }

 private:
  Elements elements_;
};

// One entry of an Object.  The name is fixed once the member exists: the
// Object keeps an index by name beside its list, and a renamed member would
// silently fall out of that index.
struct Member {
  const std::string name;
  UnknownElement element;

  bool operator==(const Member& other) const {
    return name == other.name && element == other.element;
  }
  bool operator!=(const Member& other) const { return !(*this == other); }
};

// Members in insertion order, with unique names compared bytewise.  A hash
// index beside the list keeps Find and Insert constant-time on average, so
// reading a large object stays linear.
class Object {
 public:
  using Members = std::list<Member>;
  using iterator = Members::iterator;
  using const_iterator = Members::const_iterator;

  Object() = default;
  Object(const Object& other);
  Object(Object&& other) noexcept;
  Object& operator=(Object other) noexcept;
  ~Object() = default;

  iterator begin() { return members_.begin(); }
  iterator end() { return members_.end(); }
  const_iterator begin() const { return members_.begin(); }
  const_iterator end() const { return members_.end(); }
  std::size_t Size() const { return members_.size(); }
  bool Empty() const { return members_.empty(); }

  // The member with exactly this name, or end().
  iterator Find(std::string_view name);
  const_iterator Find(std::string_view name) const;

  // Inserts a copy of `member` before `where` (default: at the end) and
  // returns its position.  A name already present throws
  // Exception("Object member already exists: " + name) and changes nothing,
  // not even a member passed by rvalue, which keeps its value.
  iterator Insert(const Member& member, const_iterator where);
  iterator Insert(Member&& member, const_iterator where);
  iterator Insert(const Member& member);
  iterator Insert(Member&& member);

  bool operator==(const Object& other) const { return members_ == other.members_; }
  bool operator!=(const Object& other) const { return !(*this == other); }

 private:
  iterator Index(iterator added, Member* movedFrom);
  void Withdraw(iterator added, Member* movedFrom);
  void RebuildIndex();

  Members members_;
  // Refers into the list's nodes; list nodes never move and names never
  // change, so the index stays valid as long as the members live.
  MemberIndex index_;
};

class Visitor {
 public:
  virtual ~Visitor() = default;
  virtual void Visit(Null& value) = 0;
  virtual void Visit(Boolean& value) = 0;
  virtual void Visit(String& value) = 0;
  virtual void Visit(Number& value) = 0;
  virtual void Visit(Object& value) = 0;
  virtual void Visit(Array& value) = 0;
};

class ConstVisitor {
 public:
  virtual ~ConstVisitor() = default;
  virtual void Visit(const Null& value) = 0;
  virtual void Visit(const Boolean& value) = 0;
  virtual void Visit(const String& value) = 0;
  virtual void Visit(const Number& value) = 0;
  virtual void Visit(const Object& value) = 0;
  virtual void Visit(const Array& value) = 0;
};

// ---------------------------------------------------------------------------
// Implementation details of UnknownElement; not part of the interface.

class UnknownElement::Imp {
 public:
  virtual ~Imp() = default;
  virtual ImpPtr Clone() const = 0;
  virtual bool Compare(const Imp& other) const = 0;
  virtual void Accept(Visitor& visitor) = 0;
  virtual void Accept(ConstVisitor& visitor) const = 0;
};

// Finds out, without RTTI, whether a holder holds one given type: each visit
// for another type leaves the pointer empty.
class UnknownElement::CastVisitor : public Visitor {
 public:
  void Visit(Null&) override {}
  void Visit(Boolean&) override {}
  void Visit(String&) override {}
  void Visit(Number&) override {}
  void Visit(Object&) override {}
  void Visit(Array&) override {}
};

class UnknownElement::ConstCastVisitor : public ConstVisitor {
 public:
  void Visit(const Null&) override {}
  void Visit(const Boolean&) override {}
  void Visit(const String&) override {}
  void Visit(const Number&) override {}
  void Visit(const Object&) override {}
  void Visit(const Array&) override {}
};

template <typename ElementType>
class UnknownElement::CastVisitor_T : public CastVisitor {
 public:
  using CastVisitor::Visit;
  void Visit(ElementType& value) override { element = &value; }
  ElementType* element = nullptr;
};

template <typename ElementType>
class UnknownElement::ConstCastVisitor_T : public ConstCastVisitor {
 public:
  using ConstCastVisitor::Visit;
  void Visit(const ElementType& value) override { element = &value; }
  const ElementType* element = nullptr;
};

template <typename ElementType>
class UnknownElement::Imp_T : public Imp {
 public:
  Imp_T() = default;
  explicit Imp_T(ElementType element) : element_(std::move(element)) {}

  ImpPtr Clone() const override { return MakeImp<ElementType>(element_); }

  bool Compare(const Imp& other) const override {
    ConstCastVisitor_T<ElementType> cast;
    other.Accept(cast);
    return cast.element != nullptr && *cast.element == element_;
  }

  void Accept(Visitor& visitor) override { visitor.Visit(element_); }
  void Accept(ConstVisitor& visitor) const override { visitor.Visit(element_); }

 private:
  ElementType element_;
};

template <typename ElementType, typename... Arguments>
UnknownElement::ImpPtr UnknownElement::MakeImp(Arguments&&... arguments) {
  if constexpr (std::is_same_v<ElementType, Null>) {
    return ImpPtr(SharedNull());
  } else {
    return ImpPtr(new Imp_T<ElementType>(std::forward<Arguments>(arguments)...));
  }
}

template <typename ElementType>
ElementType& UnknownElement::Convert() {
  CastVisitor_T<ElementType> cast;
  imp_->Accept(cast);
  if (cast.element == nullptr) {
    // Build the replacement first, so a failed allocation leaves the old
    // value in place.
    ImpPtr replacement = MakeImp<ElementType>();
    imp_.swap(replacement);
    imp_->Accept(cast);
  }
  return *cast.element;
}

template <typename ElementType>
const ElementType& UnknownElement::Get() const {
  ConstCastVisitor_T<ElementType> cast;
  imp_->Accept(cast);
  if (cast.element == nullptr) throw Exception("Bad cast");
  return *cast.element;
}

inline UnknownElement::operator Null&() { return Convert<Null>(); }
inline UnknownElement::operator Boolean&() { return Convert<Boolean>(); }
inline UnknownElement::operator Number&() { return Convert<Number>(); }
inline UnknownElement::operator String&() { return Convert<String>(); }
inline UnknownElement::operator Array&() { return Convert<Array>(); }
inline UnknownElement::operator Object&() { return Convert<Object>(); }

inline UnknownElement::operator const Null&() const { return Get<Null>(); }
inline UnknownElement::operator const Boolean&() const { return Get<Boolean>(); }
inline UnknownElement::operator const Number&() const { return Get<Number>(); }
inline UnknownElement::operator const String&() const { return Get<String>(); }
inline UnknownElement::operator const Array&() const { return Get<Array>(); }
inline UnknownElement::operator const Object&() const { return Get<Object>(); }

}  // namespace json
