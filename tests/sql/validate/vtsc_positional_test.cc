// Substring, array element, the undecided x(i) form, trim and casts.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_parameter.h"
#include "sql/exec/sc_indexing.h"
#include "sql/exec/sc_string_ops.h"
#include "sql/validate/vtsc_cast.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_parameter.h"
#include "sql/validate/vtsc_string_ops.h"

namespace {

void ExpectError(std::function<void()> const &f, char const *state, std::string const &message) {
  try {
    f();
    ADD_FAILURE() << "no error, expected: " << message;
  } catch (SQLExSyntaxError const &e) {
    EXPECT_STREQ(e.GetSQLState(), state);
    EXPECT_EQ(std::string(e.GetMessageText()->GetString()), message);
  }
}

SQLColumnDescriptor intCol("i", SQL_INTEGER, 4, 1);
SQLColumnDescriptor strCol("s", SQL_STRING, 8, 1);
SQLColumnDescriptor rawCol("r", SQL_RAW, 8, 1);
SQLColumnDescriptor intArray("a", SQL_INTEGER, 4, 3);
SQLColumnDescriptor strArray("sa", SQL_STRING, 4, 3);

SQLVTSCValueExpr *Col(SQLColumnDescriptor const &d, int id = 0) { return new SQLVTSCColumnRef(0, id, &d); }
SQLVTSCValueExpr *Int(long v) { return new SQLVTSCIntegerConst(v); }

TEST(VtSubstrOrIndexing, DecidedByTheDepthOfTheOperand) {
  SQLVTSCSubstrOrIndexing element(Col(intArray), Int(3));
  EXPECT_TRUE(element.IsIndexing());
  EXPECT_EQ(element.GetPossibleTypeSet().GetMask(), static_cast<unsigned>(SQL_INTEGER));
  element.ValidateTypes();
  std::unique_ptr<SQLRSSCValueExpr> rsElement(element.CreateRS());
  EXPECT_NE(dynamic_cast<SQLRSSCIndexing *>(rsElement.get()), nullptr);

  SQLVTSCSubstrOrIndexing substring(Col(rawCol), Int(3));
  EXPECT_FALSE(substring.IsIndexing());
  EXPECT_EQ(substring.GetPossibleTypeSet().GetMask(), static_cast<unsigned>(SQL_RAW));
  std::unique_ptr<SQLRSSCValueExpr> rsSubstring(substring.CreateRS());
  EXPECT_NE(dynamic_cast<SQLRSSCSubstr *>(rsSubstring.get()), nullptr);

  SQLVTSCSubstrOrIndexing ofInteger(Col(intCol), Int(3));
  ExpectError([&] { ofInteger.GetPossibleTypeSet(); }, "42T06",
              "Invalid type for operand of substring operator. Expected type STRING or RAW");
  ExpectError([&] { ofInteger.ValidateTypes(); }, "42T06",
              "Invalid type for operand of substring operator. Expected type STRING or RAW");
  SQLVTSCSubstrOrIndexing arrayStart(Col(strCol), Col(intArray));
  ExpectError([&] { arrayStart.ValidateArrayUsage(); }, "42I50", "Start of substring is an array value");
  SQLVTSCSubstrOrIndexing stringIndex(Col(intArray), Col(strCol));
  ExpectError([&] { stringIndex.ValidateTypes(); }, "42T07", "Invalid type for array index. Expected type INTEGER");
}

TEST(VtIndexing, ElementTyping) {
  SQLVTSCIndexing element(Col(intArray), Int(1));
  EXPECT_EQ(element.Cast(SQL_REAL, true), &element);
  ExpectError([&] { element.Cast(SQL_REAL, false); }, "42T10",
              "Type conflict on indexing expression. Type REAL expected");
  SQLVTSCIndexing stringIndex(Col(intArray), Col(strCol));
  ExpectError([&] { stringIndex.ValidateTypes(); }, "42T07", "Invalid type for array index. Expextected type INTEGER");
}

TEST(VtSubstr, TypesAndArrays) {
  SQLVTSCSubstr raw(Col(rawCol), Int(1), Int(2));
  EXPECT_EQ(raw.GetPossibleTypeSet().GetMask(), static_cast<unsigned>(SQL_RAW));
  EXPECT_EQ(raw.Cast(SQL_RAW, false), &raw);
  ExpectError([&] { raw.Cast(SQL_STRING, false); }, "42T12", "Type conflict on column 'r'. Type STRING expected");
  ExpectError([&] { raw.Cast(SQL_INTEGER, false); }, "42T09",
              "Type conflict on substring expression. Type INTEGER expected");

  SQLVTSCSubstr stringStart(Col(strCol), Col(strCol, 1), nullptr);
  ExpectError([&] { stringStart.ValidateTypes(); }, "42T06",
              "Invalid type for operand of substring operator. Expected type INTEGER");
  SQLVTSCSubstr ofArray(Col(strArray), Int(1), nullptr);
  ExpectError([&] { ofArray.ValidateArrayUsage(); }, "42I50", "Array value not allowed in substring expression");

  // two absent lengths are the same; absent and present are not
  SQLVTSCSubstr a(Col(strCol), Int(1), nullptr), b(Col(strCol), Int(1), nullptr), c(Col(strCol), Int(1), Int(4));
  EXPECT_TRUE(a.IsSameValueExpr2(&b));
  EXPECT_FALSE(a.IsSameValueExpr2(&c));
  std::unique_ptr<SQLVTSCValueExpr> copy(c.Copy());
  EXPECT_TRUE(copy->IsSameValueExpr2(&c));
}

TEST(VtTrim, TypesCopiesAndRemapping) {
  SQLVTSCTrim trim(SQL_TRIM_BOTH, nullptr, Col(strCol, 2));
  EXPECT_EQ(trim.GetPossibleTypeSet().GetMask(), static_cast<unsigned>(SQL_STRING));
  SQLVTSCTrim ofInteger(SQL_TRIM_LEADING, nullptr, Col(intCol));
  ExpectError([&] { ofInteger.GetPossibleTypeSet(); }, "42T30",
              "Invalid type for operand of trim operator. Expected type STRING");
  SQLVTSCTrim integerChar(SQL_TRIM_LEADING, Int(1), Col(strCol));
  ExpectError([&] { integerChar.GetPossibleTypeSet(); }, "42T30",
              "Invalid type for trim character in trim operator. Expected type STRING");
  SQLVTSCTrim ofArray(SQL_TRIM_LEADING, nullptr, Col(strArray));
  ExpectError([&] { ofArray.ValidateArrayUsage(); }, "42I50", "Array value not allowed in trim expression");

  std::unique_ptr<SQLVTSCValueExpr> copy(trim.Copy());
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(copy->IsSameValueExpr2(&trim));
  SQLColumnIdMappingList mappings;
  mappings.Append(SQLColumnIdMapping(2, 2, 5));
  trim.MapColumnIds(0, &mappings);
  EXPECT_EQ(static_cast<SQLVTSCColumnRef *>(trim.GetOperand())->GetColumnId(), 7);
}

TEST(VtCast, FixesTheOperandAndLeaves) {
  SQLParameter p;
  std::unique_ptr<SQLVTSCValueExpr> param((new SQLVTSCCast(new SQLVTSCParameterRef(&p), SQL_INTEGER))
                                              ->Cast(SQL_INTEGER, false));
  EXPECT_EQ(p.GetType(), SQL_INTEGER);
  EXPECT_NE(dynamic_cast<SQLVTSCParameterRef *>(param.get()), nullptr);

  std::unique_ptr<SQLVTSCValueExpr> real((new SQLVTSCCast(Int(1), SQL_REAL))->Cast(SQL_REAL, false));
  EXPECT_TRUE(real->IsSameValueExpr2(std::make_unique<SQLVTSCRealConst>(1.0).get()));

  std::unique_ptr<SQLVTSCValueExpr> tolerant((new SQLVTSCCast(Int(1), SQL_INTEGER))->Cast(SQL_REAL, true));
  EXPECT_TRUE(tolerant->IsIntegerConst());

  std::unique_ptr<SQLVTSCValueExpr> date((new SQLVTSCCast(Int(5), SQL_DATE))->Cast(SQL_DATE, false));
  EXPECT_NE(dynamic_cast<SQLVTSCReinterpretCast *>(date.get()), nullptr);

  std::unique_ptr<SQLVTSCValueExpr> bad(new SQLVTSCCast(new SQLVTSCRealConst(1.5), SQL_INTEGER));
  ExpectError([&] { bad->Cast(SQL_INTEGER, false); }, "42T15", "Type conflict on real constant. Type INTEGER expected");
  EXPECT_NE(dynamic_cast<SQLVTSCCast *>(bad.get()), nullptr);  // a failed Cast leaves the node as it was
}

TEST(VtCast, AskedForAnotherType) {
  std::unique_ptr<SQLVTSCValueExpr> cast(new SQLVTSCCast(Int(1), SQL_INTEGER));
  ExpectError([&] { cast->Cast(SQL_REAL, false); }, "42T11", "Type conflict on cast expression. Type REAL expected");
  ExpectError([&] { cast->Cast(SQL_STRING, true); }, "42T11", "Type conflict on cast expression. Type STRING expected");
  // an INTEGER column offers REAL through the cast, as its own Cast accepts it
  std::unique_ptr<SQLVTSCValueExpr> widened(new SQLVTSCCast(Col(intCol), SQL_REAL));
  EXPECT_EQ(widened->GetPossibleTypeSet().GetMask(), static_cast<unsigned>(SQL_REAL));
  std::unique_ptr<SQLVTSCValueExpr> copy(widened->Copy());
  EXPECT_TRUE(copy->IsSameValueExpr2(widened.get()));
}

}  // namespace
