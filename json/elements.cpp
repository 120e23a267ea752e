#include "json/elements.h"

namespace json {

UnknownElement::UnknownElement() : imp_(std::make_unique<Imp_T<Null>>()) {}

UnknownElement::UnknownElement(const UnknownElement& other) : imp_(other.imp_->Clone()) {}

UnknownElement::UnknownElement(UnknownElement&& other) : UnknownElement() { imp_.swap(other.imp_); }

UnknownElement& UnknownElement::operator=(const UnknownElement& other) {
  if (this != &other) imp_ = other.imp_->Clone();
  return *this;
}

UnknownElement& UnknownElement::operator=(UnknownElement&& other) noexcept {
  // Swapping keeps both sides holding a value, as every element must.
  imp_.swap(other.imp_);
  return *this;
}

UnknownElement::~UnknownElement() = default;

UnknownElement::UnknownElement(Null value) : imp_(std::make_unique<Imp_T<Null>>(value)) {}
UnknownElement::UnknownElement(Boolean value) : imp_(std::make_unique<Imp_T<Boolean>>(value)) {}
UnknownElement::UnknownElement(Number value) : imp_(std::make_unique<Imp_T<Number>>(value)) {}
UnknownElement::UnknownElement(String value)
    : imp_(std::make_unique<Imp_T<String>>(std::move(value))) {}
UnknownElement::UnknownElement(Array value)
    : imp_(std::make_unique<Imp_T<Array>>(std::move(value))) {}
UnknownElement::UnknownElement(Object value)
    : imp_(std::make_unique<Imp_T<Object>>(std::move(value))) {}

void UnknownElement::Accept(Visitor& visitor) { imp_->Accept(visitor); }
void UnknownElement::Accept(ConstVisitor& visitor) const { imp_->Accept(visitor); }

bool UnknownElement::operator==(const UnknownElement& other) const {
  return imp_->Compare(*other.imp_);
}

Array::iterator Array::Insert(const UnknownElement& element, const_iterator where) {
  return elements_.insert(where, element);
}

Array::iterator Array::Insert(UnknownElement&& element, const_iterator where) {
  return elements_.insert(where, std::move(element));
}

Array::iterator Array::Insert(const UnknownElement& element) {
  return Insert(element, elements_.end());
}

Array::iterator Array::Insert(UnknownElement&& element) {
  return Insert(std::move(element), elements_.end());
}

Object::Object(const Object& other) : members_(other.members_) { RebuildIndex(); }

// Swapping lists moves no nodes, so every indexed iterator and name view
// stays valid in its new owner.
Object::Object(Object&& other) noexcept {
  members_.swap(other.members_);
  index_.swap(other.index_);
}

Object& Object::operator=(Object other) noexcept {
  members_.swap(other.members_);
  index_.swap(other.index_);
  return *this;
}

Object::iterator Object::Find(std::string_view name) {
  const auto found = index_.find(name);
  return found == index_.end() ? members_.end() : found->second;
}

Object::const_iterator Object::Find(std::string_view name) const {
  const auto found = index_.find(name);
  return found == index_.end() ? members_.end() : const_iterator(found->second);
}

Object::iterator Object::Insert(const Member& member, const_iterator where) {
  RequireNewName(member.name);
  return Index(members_.insert(where, member));
}

Object::iterator Object::Insert(Member&& member, const_iterator where) {
  RequireNewName(member.name);
  return Index(members_.insert(where, std::move(member)));
}

Object::iterator Object::Insert(const Member& member) { return Insert(member, members_.end()); }

Object::iterator Object::Insert(Member&& member) {
  return Insert(std::move(member), members_.end());
}

void Object::RequireNewName(const std::string& name) const {
  if (index_.count(name) != 0) throw Exception("Object member already exists: " + name);
}

Object::iterator Object::Index(iterator member) {
  try {
    index_.emplace(member->name, member);
  } catch (...) {
    members_.erase(member);  // an insert that fails changes nothing
    throw;
  }
  return member;
}

void Object::RebuildIndex() {
  index_.reserve(members_.size());
  for (auto member = members_.begin(); member != members_.end(); ++member) {
    index_.emplace(member->name, member);
  }
}

}  // namespace json
