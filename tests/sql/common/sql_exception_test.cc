#include "sql/common/sql_exception.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

struct ExceptionCase {
  char const *name;
  std::function<void()> raise;
  char const *state;
  int error;
};

// Throws through the base so that the test also proves that every class is
// caught as an SQLException by value.
class ExceptionCodes : public testing::TestWithParam<ExceptionCase> {};

TEST_P(ExceptionCodes, CarryTheirStateAndNativeError) {
  ExceptionCase const &c = GetParam();
  try {
    c.raise();
    FAIL() << "nothing thrown";
  } catch (SQLException e) {
    EXPECT_STREQ(c.state, e.GetSQLState());
    EXPECT_EQ(c.error, e.GetZDBError());
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllClasses, ExceptionCodes,
    testing::Values(
        ExceptionCase{"State", [] { throw SQLException("24000"); }, "24000", 304},
        ExceptionCase{"StateError", [] { throw SQLException("HYS00", 215); }, "HYS00", 215},
        ExceptionCase{"Cardinality", [] { throw SQLExCardinalityViolation(); }, "21000", 310},
        ExceptionCase{"Datetime", [] { throw SQLExDEDatetimeFieldOverflow(); }, "22008", 205},
        ExceptionCase{"DivByZero", [] { throw SQLExDEDivisionByZero(); }, "22012", 306},
        ExceptionCase{"Truncation", [] { throw SQLExDEStringDataRightTruncation(); }, "22001", 307},
        ExceptionCase{"Substring", [] { throw SQLExDESubstringError(); }, "22011", 309},
        ExceptionCase{"Trim", [] { throw SQLExDETrimError(); }, "22027", 317},
        ExceptionCase{"LengthMismatch", [] { throw SQLExDEStringDataLengthMismatch(); }, "22026", 315},
        ExceptionCase{"OutOfRange", [] { throw SQLExDENumericValueOutOfRange(); }, "22003", 205},
        ExceptionCase{"FileIO", [] { throw SQLExFileIOError(); }, "QP020", 311},
        ExceptionCase{"ParamType", [] { throw SQLExInvalidParameterType(); }, "QP010", 312},
        ExceptionCase{"ZeroRaw", [] { throw SQLExZeroLengthRawBound(); }, "QP011", 316},
        ExceptionCase{"NetToken", [] { throw SQLExUnknownNetWorkToken(SQLString("tok")); }, "QP511", 511},
        ExceptionCase{"Syntax", [] { throw SQLExSyntaxError("42I00", SQLString("m"), 3); }, "42I00", 302},
        ExceptionCase{"Zdb306", [] { throw SQLExZDBError(306); }, "22012", 306},
        ExceptionCase{"Zdb307", [] { throw SQLExZDBError(307); }, "22001", 307},
        ExceptionCase{"Zdb308", [] { throw SQLExZDBError(308); }, "QP999", 308},
        ExceptionCase{"Zdb309", [] { throw SQLExZDBError(309); }, "22011", 309},
        ExceptionCase{"Zdb310", [] { throw SQLExZDBError(310); }, "21000", 310},
        ExceptionCase{"Zdb313", [] { throw SQLExZDBError(313); }, "QP999", 313},
        ExceptionCase{"Zdb317", [] { throw SQLExZDBError(317); }, "22027", 317},
        ExceptionCase{"Zdb319", [] { throw SQLExZDBError(319); }, "22019", 319},
        ExceptionCase{"Zdb325", [] { throw SQLExZDBError(325); }, "22025", 325},
        ExceptionCase{"Zdb505", [] { throw SQLExZDBError(505); }, "QP999", 505}),
    [](testing::TestParamInfo<ExceptionCase> const &info) { return std::string(info.param.name); });

TEST(SQLException, MessagesAreEmptyUnlessGiven) {
  EXPECT_EQ(0, SQLExDEDivisionByZero().GetMessageText()->Length());
  EXPECT_EQ(0, SQLExZDBError(505).GetMessageText()->Length());
  SQLException e("HY000", 215, SQLString("Function sequence error"));
  EXPECT_STREQ("Function sequence error", e.GetMessageText()->GetString());
  EXPECT_STREQ("Unknown token 999",
               SQLExUnknownNetWorkToken(SQLString("Unknown token 999")).GetMessageText()->GetString());
}

TEST(SQLException, IntermediateClassesCatchTheirFamilies) {
  try {
    throw SQLExDETrimError();
  } catch (SQLExDataException const &e) {
    EXPECT_STREQ("22027", e.GetSQLState());
  }
  try {
    throw SQLExFileIOError();
  } catch (SQLExQelt const &e) {
    EXPECT_STREQ("QP020", e.GetSQLState());
  }
}

TEST(SQLException, SyntaxErrorCopiesKeepTheLine) {
  SQLExSyntaxError e("42I60", SQLString("FROM clause is missing"), 7);
  SQLExSyntaxError copy = e;
  EXPECT_EQ(7, copy.GetLineNumber());
  EXPECT_STREQ("42I60", copy.GetSQLState());
  EXPECT_EQ(302, copy.GetZDBError());
  EXPECT_STREQ("FROM clause is missing", copy.GetMessageText()->GetString());
}

TEST(SQLException, StatesFromOutsideAreKeptToFiveCharacters) {
  EXPECT_STREQ("ABCDE", SQLException("ABCDEFG").GetSQLState());
  EXPECT_STREQ("AB", SQLException("AB").GetSQLState());
  EXPECT_STREQ("QP999", SQLException(static_cast<char const *>(nullptr)).GetSQLState());
}

}  // namespace
