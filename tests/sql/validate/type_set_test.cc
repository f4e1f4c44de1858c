#include "sql/validate/type_set.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

SQLTypeSet Set(std::initializer_list<SQLType> types) {
  SQLTypeSet s;
  for (SQLType t : types) s.Insert(t);
  return s;
}

struct IntersectCase {
  SQLTypeSet left, right, expected;
};

TEST(SQLTypeSet, IntersectComparableWidensIntegerToReal) {
  IntersectCase cases[] = {
      {Set({SQL_INTEGER}), Set({SQL_REAL}), Set({SQL_REAL})},
      {Set({SQL_REAL}), Set({SQL_INTEGER}), Set({SQL_REAL})},
      {Set({SQL_INTEGER, SQL_REAL}), Set({SQL_INTEGER}), Set({SQL_INTEGER, SQL_REAL})},
      {Set({SQL_INTEGER, SQL_STRING}), Set({SQL_DATE}), Set({})},
      {Set({SQL_STRING, SQL_RAW}), Set({SQL_STRING}), Set({SQL_STRING})},
      {Set({SQL_DATE, SQL_TIMESTAMP}), Set({SQL_TIMESTAMP, SQL_INTERVAL_DAYS}),
       Set({SQL_TIMESTAMP})},
      {Set({}), Set({SQL_INTEGER}), Set({})},
  };
  for (IntersectCase const &c : cases) {
    SQLTypeSet s = c.left;
    s.IntersectComparable(&c.right);
    EXPECT_EQ(s.GetMask(), c.expected.GetMask()) << c.left.GetMask() << " & " << c.right.GetMask();
  }
  SQLTypeSet s = Set({SQL_INTEGER});
  s.IntersectComparable(SQL_REAL);
  EXPECT_EQ(s, Set({SQL_REAL}));
}

TEST(SQLTypeSet, SuperTypeFoldsIntegerButTheTypeDoesNot) {
  struct {
    SQLTypeSet set;
    bool superOk;
    SQLType super;
    bool theOk;
    SQLType the;
  } cases[] = {
      {Set({SQL_INTEGER, SQL_REAL}), true, SQL_REAL, false, SQL_UNDEFINED},
      {Set({SQL_INTEGER}), true, SQL_INTEGER, true, SQL_INTEGER},
      {Set({SQL_INTEGER, SQL_STRING}), false, SQL_UNDEFINED, false, SQL_UNDEFINED},
      {Set({}), false, SQL_UNDEFINED, false, SQL_UNDEFINED},
      {Set({SQL_ARRAY}), true, SQL_ARRAY, true, SQL_ARRAY},
      {Set({SQL_RAW}), true, SQL_RAW, true, SQL_RAW},
  };
  for (auto const &c : cases) {
    SQLType out = SQL_UNDEFINED;
    EXPECT_EQ(c.set.GetSuperType(&out), c.superOk) << c.set.GetMask();
    EXPECT_EQ(out, c.super) << c.set.GetMask();
    out = SQL_UNDEFINED;
    EXPECT_EQ(c.set.GetTheType(&out), c.theOk) << c.set.GetMask();
    EXPECT_EQ(out, c.the) << c.set.GetMask();
  }
}

TEST(SQLTypeSet, EliminateDowncastableTypesOnlyBesideNumbers) {
  SQLTypeSet s = Set({SQL_INTEGER, SQL_DATE, SQL_STRING});
  s.EliminateDowncastableTypes();
  EXPECT_EQ(s, Set({SQL_INTEGER, SQL_STRING}));
  s = Set({SQL_REAL, SQL_TIMESTAMP, SQL_INTERVAL_DAYS, SQL_INTERVAL_SECONDS});
  s.EliminateDowncastableTypes();
  EXPECT_EQ(s, Set({SQL_REAL}));
  s = Set({SQL_DATE, SQL_TIMESTAMP});
  s.EliminateDowncastableTypes();
  EXPECT_EQ(s, Set({SQL_DATE, SQL_TIMESTAMP}));
}

TEST(SQLTypeSet, MembershipAndSubtypes) {
  EXPECT_TRUE(Set({SQL_INTEGER}).ContainsSubType(SQL_REAL));
  EXPECT_FALSE(Set({SQL_REAL}).ContainsSubType(SQL_INTEGER));
  EXPECT_TRUE(Set({SQL_REAL, SQL_INTEGER}).ContainsStrictSubType(SQL_REAL));
  EXPECT_FALSE(Set({SQL_REAL}).ContainsStrictSubType(SQL_REAL));
  EXPECT_FALSE(Set({SQL_INTEGER}).ContainsStrictSubType(SQL_INTEGER));

  SQLTypeSet s = Set({SQL_STRING});
  s.Insert(SQL_UNDEFINED);
  EXPECT_EQ(s, Set({SQL_STRING}));
  EXPECT_FALSE(s.Contains(SQL_UNDEFINED));

  s.InsertAllTypes();
  EXPECT_EQ(s.GetMask(), 383u);
  EXPECT_FALSE(s.Contains(SQL_ARRAY));
  EXPECT_TRUE(s.Contains(SQL_RAW));
  EXPECT_TRUE(SQLTypeSet().IsEmpty());
}

}  // namespace
