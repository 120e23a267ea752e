#include "json/elements.h"

namespace json {

UnknownElement::Imp* UnknownElement::SharedNull() noexcept {
  static Imp_T<Null> null;
  return &null;
}

void UnknownElement::ImpDeleter::operator()(Imp* imp) const noexcept {
  if (imp != SharedNull()) delete imp;
}

UnknownElement::UnknownElement() noexcept : imp_(SharedNull()) {}

UnknownElement::UnknownElement(const UnknownElement& other) : imp_(other.imp_->Clone()) {}

UnknownElement::UnknownElement(UnknownElement&& other) noexcept : UnknownElement() {
  imp_.swap(other.imp_);
}

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

UnknownElement::UnknownElement(Null) : UnknownElement() {}
UnknownElement::UnknownElement(Boolean value) : imp_(MakeImp<Boolean>(value)) {}
UnknownElement::UnknownElement(Number value) : imp_(MakeImp<Number>(value)) {}
UnknownElement::UnknownElement(String value) : imp_(MakeImp<String>(std::move(value))) {}
UnknownElement::UnknownElement(Array value) : imp_(MakeImp<Array>(std::move(value))) {}
UnknownElement::UnknownElement(Object value) : imp_(MakeImp<Object>(std::move(value))) {}

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
  return index_.Find(name).value_or(members_.end());
}

Object::const_iterator Object::Find(std::string_view name) const {
  const std::optional<iterator> found = index_.Find(name);
  return found ? const_iterator(*found) : members_.end();
}

// The member goes into the list first so that the index can refer to its
// node; one probe of the index then both detects a duplicate and records the
// new member.
Object::iterator Object::Insert(const Member& member, const_iterator where) {
  return Index(members_.insert(where, member), nullptr);
}

Object::iterator Object::Insert(Member&& member, const_iterator where) {
  return Index(members_.insert(where, std::move(member)), &member);
}

Object::iterator Object::Insert(const Member& member) { return Insert(member, members_.end()); }

Object::iterator Object::Insert(Member&& member) {
  return Insert(std::move(member), members_.end());
}

Object::iterator Object::Index(iterator added, Member* movedFrom) {
  bool isNew = false;
  try {
    isNew = index_.Add(added);
  } catch (...) {
    Withdraw(added, movedFrom);
    throw;
  }
  if (!isNew) {
    const std::string name = added->name;
    Withdraw(added, movedFrom);
    throw Exception("Object member already exists: " + name);
  }
  return added;
}

// Takes back a member that may not stay, handing a moved-in value back to
// the caller, so a refused insert changes neither the object nor the member.
void Object::Withdraw(iterator added, Member* movedFrom) {
  if (movedFrom != nullptr) movedFrom->element = std::move(added->element);
  members_.erase(added);
}

void Object::RebuildIndex() {
  index_.Reserve(members_.size());
  for (auto member = members_.begin(); member != members_.end(); ++member) index_.Add(member);
}

}  // namespace json
