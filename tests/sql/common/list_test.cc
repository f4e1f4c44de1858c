#include "sql/common/list.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sql/common/interval.h"
#include "sql/common/sql_containers.h"

namespace {

template <class T>
std::vector<T> Items(List<T> &list) {
  std::vector<T> out;
  for (bool ok = list.First(); ok; ok = list.Next()) out.push_back(list.GetCurrent());
  return out;
}

// Counts live instances, so that the tests see every element freed once.
struct Tracked {
  static int live;
  int v;
  explicit Tracked(int x) : v(x) { ++live; }
  Tracked(Tracked const &o) : v(o.v) { ++live; }
  Tracked &operator=(Tracked const &) = default;
  ~Tracked() { --live; }
};
int Tracked::live = 0;

TEST(List, EmptyListHasNoFirst) {
  intList list;
  EXPECT_FALSE(list.First());
  EXPECT_FALSE(list.Current());
  EXPECT_EQ(0, list.NrElements());
}

TEST(List, InsertAtHeadAppendAtTail) {
  intList list;
  list.Append(2);
  list.Insert(1);
  list.Append(3);
  EXPECT_EQ((std::vector<int>{1, 2, 3}), Items(list));
  EXPECT_EQ(3, list.NrElements());
  ASSERT_TRUE(list.First());
  ASSERT_TRUE(list.Next());
  list.SetCurrent(20);
  EXPECT_EQ((std::vector<int>{1, 20, 3}), Items(list));
}

// Deletes the elements that the predicate picks while iterating, for every
// subset of a five-element list, and checks order, count and links.
TEST(List, DeleteWhileIteratingEverySubset) {
  for (int mask = 0; mask < 32; ++mask) {
    {
      List<Tracked> list;
      for (int i = 0; i < 5; ++i) list.Append(Tracked(i));
      std::vector<int> kept;
      for (bool ok = list.First(); ok; ok = list.Next()) {
        int v = list.GetCurrent().v;
        if (mask & (1 << v)) list.DeleteCurrent(); else kept.push_back(v);
        EXPECT_FALSE(list.Current() && (mask & (1 << v)));
      }
      EXPECT_EQ(static_cast<int>(kept.size()), list.NrElements());
      std::vector<int> seen;
      for (bool ok = list.First(); ok; ok = list.Next()) seen.push_back(list.GetCurrent().v);
      EXPECT_EQ(kept, seen) << "mask " << mask;
      // The list still links correctly at both ends.
      list.Append(Tracked(9));
      list.Insert(Tracked(8));
      EXPECT_EQ(static_cast<int>(kept.size()) + 2, list.NrElements());
    }
    EXPECT_EQ(0, Tracked::live) << "mask " << mask;
  }
}

TEST(List, DeletingTwiceWithoutMovingDeletesOnce) {
  intList list;
  list.Append(1);
  list.Append(2);
  list.First();
  list.DeleteCurrent();
  list.DeleteCurrent();
  EXPECT_EQ(1, list.NrElements());
  EXPECT_EQ((std::vector<int>{2}), Items(list));
}

TEST(List, DeletingEveryElementLeavesAnEmptyList) {
  intList list;
  for (int i = 0; i < 4; ++i) list.Append(i);
  for (bool ok = list.First(); ok; ok = list.Next()) list.DeleteCurrent();
  EXPECT_EQ(0, list.NrElements());
  EXPECT_FALSE(list.First());
  list.Append(7);
  EXPECT_EQ((std::vector<int>{7}), Items(list));
}

TEST(List, MergeMovesElementsAndDeletesTheOther) {
  intList list;
  list.Append(1);
  auto *other = new intList;
  other->Append(2);
  other->Append(3);
  list.Merge(other);
  EXPECT_EQ((std::vector<int>{1, 2, 3}), Items(list));
  EXPECT_EQ(3, list.NrElements());

  // Deleting the first moved element through the cursor keeps the links.
  list.First();
  list.Next();
  list.DeleteCurrent();
  list.Next();
  EXPECT_EQ(3, list.GetCurrent());
  EXPECT_EQ((std::vector<int>{1, 3}), Items(list));

  intList empty;
  auto *more = new intList;
  more->Append(5);
  empty.Merge(more);
  empty.Merge(new intList);
  EXPECT_EQ((std::vector<int>{5}), Items(empty));
}

TEST(List, MergeOfAListWithAPendingDeletionFreesIt) {
  {
    List<Tracked> list;
    auto *other = new List<Tracked>;
    other->Append(Tracked(1));
    other->Append(Tracked(2));
    other->First();
    other->DeleteCurrent();
    list.Merge(other);
    EXPECT_EQ(1, list.NrElements());
    EXPECT_EQ(1, Tracked::live);
  }
  EXPECT_EQ(0, Tracked::live);
}

TEST(List, CopiesAreDeep) {
  intList a;
  a.Append(1);
  a.Append(2);
  intList b(a);
  b.First();
  b.SetCurrent(10);
  EXPECT_EQ((std::vector<int>{1, 2}), Items(a));
  a = b;
  EXPECT_EQ((std::vector<int>{10, 2}), Items(a));
}

TEST(List, PointerListsDoNotOwnTheObjects) {
  auto owned = std::make_unique<int>(42);
  {
    List<int *> list;
    list.Append(owned.get());
  }
  EXPECT_EQ(42, *owned);
}

TEST(Interval, ContainsBothEnds) {
  List<Interval<int>> runs;
  runs.Append(Interval<int>(2, 4));
  runs.Append(Interval<int>(7, 7));
  std::vector<int> inside;
  for (int id = 0; id < 9; ++id)
    for (bool ok = runs.First(); ok; ok = runs.Next())
      if (runs.GetCurrent().Contains(id)) inside.push_back(id);
  EXPECT_EQ((std::vector<int>{2, 3, 4, 7}), inside);
}

}  // namespace
