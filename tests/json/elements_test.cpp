#include "json/elements.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace json {
namespace {

std::string BadCastMessage(const UnknownElement& element) {
  try {
    element.Get<String>();
  } catch (const Exception& error) {
    return error.what();
  }
  return "no exception";
}

TEST(UnknownElement, ReadOnlyAccessRefusesOtherTypesAndChangesNothing) {
  UnknownElement five(Number(5));
  EXPECT_EQ(BadCastMessage(five), "Bad cast");
  const UnknownElement& constFive = five;
  EXPECT_THROW(static_cast<void>(static_cast<const Object&>(constFive)), Exception);
  EXPECT_THROW(static_cast<void>(static_cast<const Null&>(constFive)), Exception);
  EXPECT_EQ(five.Get<Number>().Value(), 5.0);  // still the number after the refusals
}

TEST(UnknownElement, ModifiableAccessReplacesOtherTypesByTheirDefault) {
  UnknownElement element(Number(5));
  EXPECT_EQ(element.Convert<String>().Value(), "");
  EXPECT_THROW(element.Get<Number>(), Exception);  // the number is gone

  UnknownElement fresh;
  EXPECT_NO_THROW(fresh.Get<Null>());
  Object& object = fresh;
  EXPECT_TRUE(object.Empty());
  EXPECT_NO_THROW(fresh.Get<Object>());

  UnknownElement flag(String(std::string("x")));
  EXPECT_FALSE(static_cast<Boolean&>(flag).Value());
  EXPECT_EQ(static_cast<Number&>(flag).Value(), 0.0);

  // Converting to the type already held keeps the value.
  UnknownElement text(String(std::string("kept")));
  EXPECT_EQ(text.Convert<String>().Value(), "kept");
}

TEST(UnknownElement, MovedFromElementStillHoldsAValue) {
  UnknownElement source(String(std::string("text")));
  UnknownElement target(std::move(source));
  EXPECT_EQ(target.Get<String>().Value(), "text");
  EXPECT_NO_THROW(source.Get<Null>());
  EXPECT_EQ(source, UnknownElement());
}

TEST(UnknownElement, VisitorsReachTheHeldType) {
  struct Recorder : ConstVisitor {
    std::string seen;
    void Visit(const Null&) override { seen += "null "; }
    void Visit(const Boolean&) override { seen += "boolean "; }
    void Visit(const String&) override { seen += "string "; }
    void Visit(const Number&) override { seen += "number "; }
    void Visit(const Object&) override { seen += "object "; }
    void Visit(const Array&) override { seen += "array "; }
  } recorder;
  for (const UnknownElement& element :
       {UnknownElement(), UnknownElement(Boolean(true)), UnknownElement(String()),
        UnknownElement(Number(1)), UnknownElement(Object()), UnknownElement(Array())}) {
    element.Accept(recorder);
  }
  EXPECT_EQ(recorder.seen, "null boolean string number object array ");

  struct Doubler : Visitor {
    void Visit(Null&) override {}
    void Visit(Boolean&) override {}
    void Visit(String&) override {}
    void Visit(Number& number) override { number.Value() *= 2; }
    void Visit(Object&) override {}
    void Visit(Array&) override {}
  } doubler;
  UnknownElement number(Number(21));
  number.Accept(doubler);
  EXPECT_EQ(number.Get<Number>().Value(), 42.0);
}

TEST(UnknownElement, EqualityNeedsSameTypeAndValueInOrder) {
  EXPECT_EQ(UnknownElement(), UnknownElement(Null()));
  EXPECT_NE(UnknownElement(Number(0)), UnknownElement(Boolean(false)));
  EXPECT_NE(UnknownElement(Number(0)), UnknownElement());
  EXPECT_NE(UnknownElement(String(std::string("a"))), UnknownElement(String(std::string("A"))));

  Object ab;
  ab.Insert(Member{"a", Number(1)});
  ab.Insert(Member{"b", Number(2)});
  Object ba;
  ba.Insert(Member{"b", Number(2)});
  ba.Insert(Member{"a", Number(1)});
  EXPECT_NE(ab, ba);
  EXPECT_EQ(ab, Object(ab));

  Array one;
  one.Insert(Number(1));
  Array oneOne = one;
  oneOne.Insert(Number(1));
  EXPECT_NE(UnknownElement(one), UnknownElement(oneOne));
  EXPECT_NE(UnknownElement(one), UnknownElement(ab));
}

TEST(Object, DuplicateNameIsRefusedAndLeavesTheObjectUnchanged) {
  Object object;
  object.Insert(Member{"status", String(std::string("ok"))});
  try {
    object.Insert(Member{"status", Number(1)});
    FAIL() << "duplicate accepted";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "Object member already exists: status");
  }
  ASSERT_EQ(object.Size(), 1u);
  EXPECT_EQ(object.begin()->element.Get<String>().Value(), "ok");

  object.Insert(Member{"Status", Number(1)});  // names are case-sensitive
  EXPECT_EQ(object.Size(), 2u);
}

TEST(Object, RefusedMoveInsertHandsTheValueBack) {
  Object object;
  object.Insert(Member{"a", Number(1)});
  Member again{"a", String(std::string("kept"))};
  EXPECT_THROW(object.Insert(std::move(again)), Exception);
  EXPECT_EQ(again.element.Get<String>().Value(), "kept");
  EXPECT_EQ(object.Find("a")->element.Get<Number>().Value(), 1.0);
}

TEST(Object, TellsApartNamesThatOnlyNearlyMatch) {
  const std::string names[] = {"", std::string("\0", 1), std::string("a\0", 2), "a", "ab", "abc",
                               "\xFF", "A"};
  Object object;
  for (const std::string& name : names) object.Insert(Member{name, String(name)});
  EXPECT_EQ(object.Size(), 8u);
  for (const std::string& name : names) {
    const auto found = object.Find(name);
    ASSERT_NE(found, object.end()) << "lost: " << name;
    EXPECT_EQ(found->element.Get<String>().Value(), name);
    EXPECT_THROW(object.Insert(Member{name, Null()}), Exception);
  }
  const Object empty;
  EXPECT_EQ(empty.Find(""), empty.end());
}

TEST(Object, FindsEveryMemberOfALargeObject) {
  Object object;
  for (int i = 0; i < 50000; ++i) object.Insert(Member{"key" + std::to_string(i), Number(i)});
  for (int i = 0; i < 50000; ++i) {
    const auto found = object.Find("key" + std::to_string(i));
    ASSERT_NE(found, object.end()) << i;
    ASSERT_EQ(found->element.Get<Number>().Value(), i);
  }
  EXPECT_EQ(object.Find("key50000"), object.end());
}

TEST(Object, KeepsInsertionOrderAndFindsByExactName) {
  Object object;
  object.Insert(Member{"z", Number(1)});
  object.Insert(Member{"a", Number(2)});
  const auto m = object.Insert(Member{"m", Number(3)});
  const auto first = object.Insert(Member{"first", Number(0)}, object.begin());
  object.Insert(Member{"before-m", Number(4)}, m);

  std::string order;
  for (const Member& member : object) order += member.name + " ";
  EXPECT_EQ(order, "first z a before-m m ");
  EXPECT_EQ(object.Find("first"), first);
  EXPECT_EQ(object.Find("m"), m);
  EXPECT_EQ(object.Find("M"), object.end());
  EXPECT_EQ(object.Find(std::string("a\0", 2)), object.end());
}

TEST(Object, IndexFollowsCopiesMovesAndAssignments) {
  Object source;
  for (int i = 0; i < 1000; ++i) source.Insert(Member{std::to_string(i), Number(i)});

  Object copy(source);
  copy.Find("500")->element.Convert<Number>().Value() = -1;
  EXPECT_EQ(source.Find("500")->element.Get<Number>().Value(), 500);
  EXPECT_THROW(copy.Insert(Member{"999", Null()}), Exception);

  Object moved(std::move(copy));
  EXPECT_EQ(moved.Find("500")->element.Get<Number>().Value(), -1);
  EXPECT_TRUE(copy.Empty());
  EXPECT_EQ(copy.Find("500"), copy.end());
  copy.Insert(Member{"500", Null()});  // the emptied object is usable again

  Object assigned;
  assigned.Insert(Member{"old", Null()});
  assigned = source;
  EXPECT_EQ(assigned.Find("old"), assigned.end());
  EXPECT_NE(assigned.Find("0"), assigned.end());
  const Object& same = assigned;
  assigned = same;  // self-assignment keeps everything
  EXPECT_EQ(assigned.Size(), 1000u);
  EXPECT_EQ(assigned.Find("999")->element.Get<Number>().Value(), 999);
}

TEST(UnknownElement, CopiesAreIndependentAtEveryDepth) {
  // {"list": [ {"inner": {"leaf": "a"}}, {"n": 1} ]}
  Object leafHolder;
  leafHolder.Insert(Member{"leaf", String(std::string("a"))});
  Object first;
  first.Insert(Member{"inner", leafHolder});
  Object second;
  second.Insert(Member{"n", Number(1)});
  Array list;
  list.Insert(first);
  list.Insert(second);
  Object top;
  top.Insert(Member{"list", list});
  const UnknownElement original(top);

  UnknownElement copy(original);
  Array& copiedList = copy.Convert<Object>().Find("list")->element;
  Object& copiedFirst = *copiedList.begin();
  Object& copiedInner = copiedFirst.Find("inner")->element;
  copiedInner.Find("leaf")->element.Convert<String>().Value() = "changed";
  copiedList.Insert(Null());
  EXPECT_NE(copy, original);

  const Array& originalList = original.Get<Object>().Find("list")->element.Get<Array>();
  EXPECT_EQ(originalList.Size(), 2u);
  const Object& originalInner =
      originalList.begin()->Get<Object>().Find("inner")->element.Get<Object>();
  EXPECT_EQ(originalInner.Find("leaf")->element.Get<String>().Value(), "a");

  UnknownElement assigned;
  assigned = original;
  EXPECT_EQ(assigned, original);
}

}  // namespace
}  // namespace json
