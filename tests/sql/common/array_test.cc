#include "sql/common/dynamic_array.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sql/common/fixed_stack.h"
#include "sql/common/ref_ptr.h"

namespace {

TEST(DynamicArray, GrowsByDoublingThenByThirtyPercent) {
  DynamicArray<std::string> array(10);
  std::vector<int> capacities;
  for (int i = 0; i < 30; ++i) {
    array.Insert(std::to_string(i));
    if (capacities.empty() || capacities.back() != array.Capacity())
      capacities.push_back(array.Capacity());
  }
  EXPECT_EQ((std::vector<int>{10, 13, 16, 20, 26, 33}), capacities);
  for (int i = 0; i < 30; ++i) EXPECT_EQ(std::to_string(i), array.Get(i));

  DynamicArray<int> small(1);
  std::vector<int> steps;
  for (int i = 0; i < 12; ++i) {
    small.Insert(i);
    if (steps.empty() || steps.back() != small.Capacity()) steps.push_back(small.Capacity());
  }
  EXPECT_EQ((std::vector<int>{1, 2, 4, 8, 16}), steps);
  EXPECT_EQ(1, DynamicArray<int>(0).Capacity());
}

TEST(DynamicArray, InsertsItsOwnElementAtEveryGrowthPoint) {
  // Each insertion at a full capacity moves the storage; the argument is an
  // element of the array itself and must be copied before the move.
  DynamicArray<std::string> array(1);
  array.Insert(std::string(40, 'x'));
  for (int i = 0; i < 40; ++i) array.Insert(array.Get(0));
  ASSERT_EQ(41, array.NrElements());
  for (int i = 0; i < 41; ++i) EXPECT_EQ(std::string(40, 'x'), array.Get(i));
}

std::vector<int> g_destroyed;
struct Marker {
  int id;
  bool armed = false;
  ~Marker() {
    if (armed) g_destroyed.push_back(id);
  }
};

TEST(DynamicArray, DestroysElementsFromLastToFirst) {
  g_destroyed.clear();
  {
    DynamicArray<Marker> array(2);
    for (int i = 0; i < 3; ++i) array.Insert(Marker{i});
    for (int i = 0; i < 3; ++i) array.Get(i).armed = true;
  }
  EXPECT_EQ((std::vector<int>{2, 1, 0}), g_destroyed);
}

struct Base {
  static int live;
  Base() { ++live; }
  virtual ~Base() { --live; }
};
int Base::live = 0;
struct Derived : Base {
  std::string payload = "x";
};

TEST(RefPtr, DeletesWithTheLastReference) {
  {
    RefPtr<Base> a(new Derived);
    EXPECT_EQ(1, Base::live);
    {
      RefPtr<Base> b = a;
      RefPtr<Base> c;
      c = b;
      EXPECT_EQ(3, a.UseCount());
    }
    EXPECT_EQ(1, a.UseCount());
    a = a;  // self-assignment keeps the object
    EXPECT_EQ(1, Base::live);
    RefPtr<Base> other(new Base);
    a = other;  // the first object goes
    EXPECT_EQ(1, Base::live);
    EXPECT_EQ(2, other.UseCount());
  }
  EXPECT_EQ(0, Base::live);
  RefPtr<Base> null(nullptr);
  EXPECT_TRUE(null.IsNull());
  EXPECT_EQ(0, null.UseCount());
  RefPtr<Base> copy = null;
  EXPECT_FALSE(copy);
}

TEST(RefPtr, ReplacedObjectIsSeenByEverySharerAndDeletedOnce) {
  {
    auto *old = new Base;
    RefPtr<Base> a(old);
    RefPtr<Base> b = a;
    auto *replacement = new Derived;
    delete old;  // a replacing pass disposes of the old object itself
    a.ReplaceObject(replacement);
    EXPECT_EQ(b.Get(), replacement);
    EXPECT_EQ(2, b.UseCount());
    EXPECT_EQ(1, Base::live);
  }
  EXPECT_EQ(0, Base::live);
}

TEST(Stack, FixedCapacity) {
  int objects[101];
  Stack<int *> stack(100);
  EXPECT_THROW(stack.Pop(), StackExUnderflow);
  EXPECT_THROW(stack.Top(), StackExUnderflow);
  for (int i = 0; i < 100; ++i) stack.Push(&objects[i]);
  EXPECT_THROW(stack.Push(&objects[100]), StackExOverflow);
  EXPECT_EQ(100, stack.NrElements());
  EXPECT_EQ(&objects[99], stack.Top());
  EXPECT_EQ(&objects[99], stack.Pop());
  EXPECT_EQ(&objects[98], stack.Pop());
  EXPECT_EQ(98, stack.NrElements());
}

}  // namespace
