#include "sql/statement/short_array.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct EqualCase {
  ShortArray a;
  ShortArray b;
  bool equal;
};

TEST(ShortArray, EqualNeedsEqualCountsAndValues) {
  EqualCase const cases[] = {
      {ShortArray{}, ShortArray{}, true},
      {ShortArray{0, 5, 7}, ShortArray{0, 5, 7}, true},
      {ShortArray{0, 5, 7}, ShortArray{0, 5, 7, 9}, false},  // same first three values
      {ShortArray{0, 5, 7, 9}, ShortArray{0, 5, 7}, false},
      {ShortArray{1, 5, 7}, ShortArray{0, 5, 7}, false},
      {ShortArray{0, 5, 7}, ShortArray{0, 5, 8}, false},
      {ShortArray(2), ShortArray{0, 0}, true},
  };
  for (EqualCase const &c : cases) {
    EXPECT_EQ(c.a.Equal(c.b), c.equal) << c.a.GetCount() << " vs " << c.b.GetCount();
    EXPECT_EQ(ShortArrayEqual(&c.a, &c.b), c.equal);
    if (c.equal) {
      EXPECT_EQ(c.a.Hash(), c.b.Hash());
    }
  }
}

TEST(ShortArray, HashIsCrc32OverValuesLowByteFirst) {
  EXPECT_EQ(ShortArray({1, 2, -1}).Hash(), 0x6eb1a872UL);
  EXPECT_EQ(ShortArray{}.Hash(), 0UL);
}

TEST(ShortArray, ValuesAreStoredTruncatedTo16Bits) {
  ShortArray id(3);
  id.Set(0, 1);
  id.Set(1, 70000);
  id.Set(2, -2);
  EXPECT_EQ(id.Get(0), 1);
  EXPECT_EQ(id.Get(1), 70000 - 65536);
  EXPECT_EQ(id.Get(2), -2);
}

TEST(ShortArray, CountOutsideSixteenBitsIsRefused) {
  EXPECT_THROW(ShortArray(-1), std::length_error);
  EXPECT_THROW(ShortArray(32768), std::length_error);
  EXPECT_EQ(ShortArray(32767).GetCount(), 32767);
}

}  // namespace
