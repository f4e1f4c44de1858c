#include "sql/common/truth_value.h"

#include <gtest/gtest.h>

#include <string>

#include "sql/common/sql_hints.h"
#include "sql/common/sql_logger.h"

namespace {

constexpr SQLTruthValue F = TV_FALSE, T = TV_TRUE, U = TV_UNKNOWN;

TEST(SQLTruthValue, ThreeValuedTables) {
  SQLTruthValue const values[] = {F, T, U};
  SQLTruthValue const andTable[3][3] = {{F, F, F}, {F, T, U}, {F, U, U}};
  SQLTruthValue const orTable[3][3] = {{F, T, U}, {T, T, T}, {U, T, U}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(andTable[i][j], TVAnd(values[i], values[j])) << i << "," << j;
      EXPECT_EQ(orTable[i][j], TVOr(values[i], values[j])) << i << "," << j;
    }
  EXPECT_EQ(T, TVNot(F));
  EXPECT_EQ(F, TVNot(T));
  EXPECT_EQ(U, TVNot(U));
}

TEST(SQLTruthValue, ValuesOutsideTheThreePassThrough) {
  auto odd = static_cast<SQLTruthValue>(8);
  EXPECT_EQ(odd, TVNot(odd));
  EXPECT_EQ(T, TVAnd(odd, T));
  EXPECT_EQ(odd, TVAnd(U, odd));
  EXPECT_EQ(F, TVOr(odd, F));
  EXPECT_EQ(odd, TVOr(U, odd));
}

SQLTruthValueSet Set(std::initializer_list<SQLTruthValue> values) {
  SQLTruthValueSet s;
  for (SQLTruthValue v : values) s.Insert(v);
  return s;
}

TEST(SQLTruthValueSet, OperationsCombineEveryPair) {
  EXPECT_EQ(Set({F}), Set({T, U}).And(Set({F})));
  EXPECT_EQ(Set({T, U}), Set({T, U}).Or(Set({F})));
  EXPECT_EQ(Set({T, U}), Set({F, U}).Not());
  EXPECT_EQ(Set({F, T, U}), Set({F, T, U}).And(Set({T, U})));
  EXPECT_TRUE(Set({}).And(Set({T})).IsEmpty());
  EXPECT_TRUE(Set({T}).Or(Set({})).IsEmpty());
  SQLTruthValueSet three;
  three.Insert(F, U);
  EXPECT_TRUE(three.Contains(F) && three.Contains(U) && !three.Contains(T));
}

std::string LogHints(SQLHints const &hints) {
  SQLLogger::Instance()->SetLogFlags(1);
  SQLLogger::Instance()->ResetIndent();
  testing::internal::CaptureStderr();
  hints.Log();
  return testing::internal::GetCapturedStderr();
}

TEST(SQLHints, GivenHintsAreReportedAndLoggedInOrder) {
  SQLHints fresh;
  unsigned long size = 77;
  EXPECT_FALSE(fresh.GetBufferSize(&size));
  EXPECT_EQ(77u, size);
  EXPECT_EQ("SQLHints(\n)\n", LogHints(fresh));

  SQLHints h;
  h.SetNoHints();
  h.SetRowMode(SQL_HINTS_FIRST_ROWS);
  h.SetString("first");
  h.SetString("second");
  h.SetOrdered();
  h.SetBufferSize(20);
  h.SetArrayFetchingSize(5);
  h.SetArrayFetchingEnabled(true);
  EXPECT_EQ(
      "SQLHints(\n   Array fetching: True\n   Array fetching size: 5\n   Buffer size: 20\n"
      "   Ordered\n   String: \"second\"\n   Row mode: first\n   No hints hint\n)\n",
      LogHints(h));

  SQLHints copy(h);
  h.SetString("changed");
  char const *text = nullptr;
  ASSERT_TRUE(copy.GetString(&text));
  EXPECT_STREQ("second", text);
  SQLHintsRowMode mode = SQL_HINTS_ALL_ROWS;
  EXPECT_TRUE(copy.GetRowMode(&mode));
  EXPECT_EQ(SQL_HINTS_FIRST_ROWS, mode);
  EXPECT_TRUE(copy.GetOrdered() && copy.GetNoHints());
}

}  // namespace
