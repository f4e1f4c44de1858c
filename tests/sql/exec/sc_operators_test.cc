// Arithmetic and string operators: each over its edge values, NULL
// propagation and evaluation order, and the SQLSTATEs of their errors.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_parameter.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/sc_arith.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/sc_indexing.h"
#include "sql/exec/sc_reinterpret_cast.h"
#include "sql/exec/sc_string_ops.h"

namespace molvane::test {
namespace {

// Operands: constants, NULLs of a type (through a NULL parameter), and
// reinterpreted integers for dates, timestamps and intervals.
class Operands {
 public:
  SQLRSSCValueExpr *Int(long v) { return new SQLRSSCIntegerConst(v); }
  SQLRSSCValueExpr *Real(double v) { return new SQLRSSCRealConst(v); }
  SQLRSSCValueExpr *Date(long v) { return new SQLRSSCDateConst(v); }
  SQLRSSCValueExpr *Ts(long v) { return new SQLRSSCTimestampConst(v); }
  SQLRSSCValueExpr *Days(long v) { return new SQLRSSCReinterpretCast(Int(v), SQL_INTERVAL_DAYS); }
  SQLRSSCValueExpr *Secs(long v) { return new SQLRSSCReinterpretCast(Int(v), SQL_INTERVAL_SECONDS); }
  SQLRSSCValueExpr *Str(char const *s, unsigned long n = ~0UL) {
    if (n == ~0UL) n = std::strlen(s);
    return new SQLRSSCStringConst(reinterpret_cast<unsigned char const *>(s), n);
  }
  SQLRSSCValueExpr *Raw(char const *s) {
    return new SQLRSSCRawConst(reinterpret_cast<unsigned char const *>(s), std::strlen(s));
  }
  SQLRSSCValueExpr *Null(SQLType type) {
    auto p = std::make_unique<SQLParameter>();
    p->SetType(type, 0, 1);
    p->SetNull();
    params_.push_back(std::move(p));
    return new SQLRSSCParameterRef(params_.back().get());
  }
  // An INTEGER array parameter; a negative element stands for NULL.
  SQLRSSCValueExpr *IntArray(std::vector<int> values) {
    SQLValueStore array;
    array.SetDimension(static_cast<int>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) {
      array.GetElement(static_cast<int>(i))->SetInteger(values[i]);
      if (values[i] < 0) array.GetElement(static_cast<int>(i))->SetNull();
    }
    auto p = std::make_unique<SQLParameter>();
    p->SetType(SQL_INTEGER, 4, static_cast<int>(values.size()));
    p->BindVS(&array);
    params_.push_back(std::move(p));
    return new SQLRSSCParameterRef(params_.back().get());
  }

 private:
  std::vector<std::unique_ptr<SQLParameter>> params_;
};

// The value of a store as text: "NULL", "INT:5", "REAL:3.5", "STR:'ab'", ...
std::string Show(SQLValueStore const *vs) {
  if (vs->IsNull()) return "NULL";
  switch (vs->GetType()) {
    case SQL_INTEGER: return "INT:" + std::to_string(vs->GetInteger());
    case SQL_REAL: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "REAL:%g", vs->GetReal());
      return buf;
    }
    case SQL_DATE: return "DATE:" + std::to_string(vs->GetDate());
    case SQL_INTERVAL_DAYS: return "DAYS:" + std::to_string(vs->GetIntervalDays());
    case SQL_TIMESTAMP: return "TS:" + std::to_string(vs->GetTimestamp());
    case SQL_INTERVAL_SECONDS: return "SECS:" + std::to_string(vs->GetIntervalSeconds());
    case SQL_STRING: return "STR:'" + std::string(vs->GetString(), vs->GetLength()) + "'";
    case SQL_RAW: return "RAW:'" + std::string(reinterpret_cast<char const *>(vs->GetBytes()), vs->GetLength()) + "'";
    default: return "?";
  }
}

// Prepares and evaluates e; the shown result, or "!" and the SQLSTATE.
std::string Evaluated(SQLRSSCValueExpr *e) {
  std::unique_ptr<SQLRSSCValueExpr> owned(e);
  SQLRSPrepareContext context;
  SQLValueStore const *vs = e->Prepare(&context);
  try {
    e->Evaluate();
  } catch (SQLException const &ex) {
    return std::string("!") + ex.GetSQLState() + "/" + std::to_string(ex.GetZDBError());
  }
  std::string shown = Show(vs);
  if (!vs->IsNull() && vs->GetType() != e->GetColumnDescriptor().GetType())
    shown += " (descriptor says " + std::to_string(e->GetColumnDescriptor().GetType()) + ")";
  return shown;
}

struct OpCase {
  char const *name;
  std::function<SQLRSSCValueExpr *(Operands &)> build;
  char const *expected;
};

class Operator : public testing::TestWithParam<OpCase> {};

TEST_P(Operator, GivesItsResultOrItsError) {
  Operands o;
  EXPECT_EQ(Evaluated(GetParam().build(o)), GetParam().expected) << GetParam().name;
}

#define OP(name, expr, expected) \
  OpCase { name, [](Operands &o) -> SQLRSSCValueExpr * { return expr; }, expected }

INSTANTIATE_TEST_SUITE_P(
    Arithmetic, Operator,
    testing::Values(
        OP("int+int", new SQLRSSCAdd(o.Int(2), o.Int(3)), "INT:5"),
        OP("int+real", new SQLRSSCAdd(o.Int(2), o.Real(0.5)), "REAL:2.5"),
        OP("real-int", new SQLRSSCSubtract(o.Real(0.5), o.Int(2)), "REAL:-1.5"),
        OP("max+1", new SQLRSSCAdd(o.Int(2147483647), o.Int(1)), "!22003/205"),
        OP("min-1", new SQLRSSCSubtract(o.Int(-2147483647 - 1), o.Int(1)), "!22003/205"),
        OP("min*-1", new SQLRSSCMultiply(o.Int(-2147483647 - 1), o.Int(-1)), "!22003/205"),
        OP("7/2", new SQLRSSCDivide(o.Int(7), o.Int(2)), "REAL:3.5"),
        OP("1/0", new SQLRSSCDivide(o.Int(1), o.Int(0)), "!22012/306"),
        OP("1.0/0.0", new SQLRSSCDivide(o.Real(1), o.Real(0)), "!22012/306"),
        OP("7 mod 2", new SQLRSSCModulo(o.Int(7), o.Int(2)), "INT:1"),
        OP("-7 mod 2", new SQLRSSCModulo(o.Int(-7), o.Int(2)), "INT:-1"),
        OP("1 mod 0", new SQLRSSCModulo(o.Int(1), o.Int(0)), "!22012/306"),
        OP("min mod -1", new SQLRSSCModulo(o.Int(-2147483647 - 1), o.Int(-1)), "INT:0"),
        OP("date-date", new SQLRSSCSubtract(o.Date(100), o.Date(40)), "DAYS:60"),
        OP("date+days", new SQLRSSCAdd(o.Date(40), o.Days(60)), "DATE:100"),
        OP("days+date", new SQLRSSCAdd(o.Days(60), o.Date(40)), "DATE:100"),
        OP("date-days", new SQLRSSCSubtract(o.Date(100), o.Days(60)), "DATE:40"),
        OP("int*days", new SQLRSSCMultiply(o.Int(3), o.Days(4)), "DAYS:12"),
        OP("ts-ts", new SQLRSSCSubtract(o.Ts(1000), o.Ts(1)), "SECS:999"),
        OP("secs+ts", new SQLRSSCAdd(o.Secs(5), o.Ts(10)), "TS:15"),
        OP("int*secs", new SQLRSSCMultiply(o.Int(-2), o.Secs(3000000)), "SECS:-6000000"),
        OP("null+int", new SQLRSSCAdd(o.Null(SQL_INTEGER), o.Int(1)), "NULL"),
        OP("int*null", new SQLRSSCMultiply(o.Int(1), o.Null(SQL_INTEGER)), "NULL"),
        // A NULL left operand ends the evaluation: the division never runs.
        OP("null-(1/0)", new SQLRSSCSubtract(o.Null(SQL_REAL), new SQLRSSCDivide(o.Int(1), o.Int(0))), "NULL"),
        OP("null mod 0", new SQLRSSCModulo(o.Null(SQL_INTEGER), o.Int(0)), "NULL"),
        OP("1 mod null", new SQLRSSCModulo(o.Int(1), o.Null(SQL_INTEGER)), "NULL"),
        // Chains: left to right, a NULL or an error below ends them.
        OP("(2*3-1)/2",
           new SQLRSSCDivide(new SQLRSSCSubtract(new SQLRSSCMultiply(o.Int(2), o.Int(3)), o.Int(1)), o.Int(2)),
           "REAL:2.5"),
        OP("date+days-date", new SQLRSSCSubtract(new SQLRSSCAdd(o.Date(40), o.Days(60)), o.Date(30)), "DAYS:70"),
        OP("null+1-(1/0)",
           new SQLRSSCSubtract(new SQLRSSCAdd(o.Null(SQL_INTEGER), o.Int(1)), new SQLRSSCDivide(o.Int(1), o.Int(0))),
           "NULL"),
        OP("max+1+null", new SQLRSSCAdd(new SQLRSSCAdd(o.Int(2147483647), o.Int(1)), o.Null(SQL_INTEGER)),
           "!22003/205")));

INSTANTIATE_TEST_SUITE_P(
    Strings, Operator,
    testing::Values(
        OP("ab||cd", new SQLRSSCConcatenate(o.Str("ab"), o.Str("cd")), "STR:'abcd'"),
        OP("raw||raw", new SQLRSSCConcatenate(o.Raw("a"), o.Raw("b")), "RAW:'ab'"),
        OP("null||x", new SQLRSSCConcatenate(o.Null(SQL_STRING), o.Str("x")), "NULL"),
        OP("x||null", new SQLRSSCConcatenate(o.Str("x"), o.Null(SQL_STRING)), "NULL"),
        OP("a||b||c", new SQLRSSCConcatenate(new SQLRSSCConcatenate(o.Str("a"), o.Str("b")), o.Str("c")), "STR:'abc'"),
        OP("a||null||c", new SQLRSSCConcatenate(new SQLRSSCConcatenate(o.Str("a"), o.Null(SQL_STRING)), o.Str("c")),
           "NULL"),
        OP("substr 0 for 2", new SQLRSSCSubstr(o.Str("abc"), o.Int(0), o.Int(2)), "STR:'a'"),
        OP("substr 2", new SQLRSSCSubstr(o.Str("abc"), o.Int(2), nullptr), "STR:'bc'"),
        OP("substr 4", new SQLRSSCSubstr(o.Str("abc"), o.Int(4), nullptr), "STR:''"),
        OP("substr -5 for 2", new SQLRSSCSubstr(o.Str("abc"), o.Int(-5), o.Int(2)), "STR:''"),
        OP("substr -1 for 3", new SQLRSSCSubstr(o.Str("abc"), o.Int(-1), o.Int(3)), "STR:'a'"),
        OP("substr for -1", new SQLRSSCSubstr(o.Str("abc"), o.Int(1), o.Int(-1)), "!22011/309"),
        OP("substr for 0", new SQLRSSCSubstr(o.Str("abc"), o.Int(1), o.Int(0)), "STR:''"),
        OP("substr near max", new SQLRSSCSubstr(o.Str("abc"), o.Int(2147483647), o.Int(10)), "STR:''"),
        OP("substr huge length", new SQLRSSCSubstr(o.Str("abc"), o.Int(2), o.Int(2147483647)), "STR:'bc'"),
        OP("substr raw", new SQLRSSCSubstr(o.Raw("abc"), o.Int(2), o.Int(1)), "RAW:'b'"),
        OP("substr raw empty", new SQLRSSCSubstr(o.Raw("abc"), o.Int(9), nullptr), "RAW:''"),
        OP("substr null start", new SQLRSSCSubstr(o.Str("abc"), o.Null(SQL_INTEGER), o.Int(-1)), "NULL"),
        OP("substr null length", new SQLRSSCSubstr(o.Str("abc"), o.Int(1), o.Null(SQL_INTEGER)), "NULL"),
        OP("trim both blanks", new SQLRSSCTrim(SQL_TRIM_BOTH, nullptr, o.Str("   ")), "STR:''"),
        OP("trim both", new SQLRSSCTrim(SQL_TRIM_BOTH, nullptr, o.Str("  a b  ")), "STR:'a b'"),
        OP("trim leading x", new SQLRSSCTrim(SQL_TRIM_LEADING, o.Str("x"), o.Str("xxaxx")), "STR:'axx'"),
        OP("trim trailing x", new SQLRSSCTrim(SQL_TRIM_TRAILING, o.Str("x"), o.Str("xxaxx")), "STR:'xxa'"),
        OP("trim two bytes", new SQLRSSCTrim(SQL_TRIM_BOTH, o.Str("xy"), o.Str("xya")), "!22027/317"),
        OP("trim empty char", new SQLRSSCTrim(SQL_TRIM_BOTH, o.Str(""), o.Str("a")), "!22027/317"),
        OP("trim cut 4-byte", new SQLRSSCTrim(SQL_TRIM_BOTH, o.Str("\x9B\x41"), o.Str("a")), "!22027/317"),
        OP("trim 4-byte char", new SQLRSSCTrim(SQL_TRIM_BOTH, o.Str("\x9B\xC1\xC2\xC3"),
                                               o.Str("\x9B\xC1\xC2\xC3" "a\x9B\xC1\xC2\xC3\x9B\xC1\xC2\xC3")),
           "STR:'a'"),
        // The last byte of a 4-byte character is not a character of its own.
        OP("trim inside 4-byte", new SQLRSSCTrim(SQL_TRIM_TRAILING, o.Str("x"), o.Str("a\x9B\x41\x42x")),
           "STR:'a\x9B\x41\x42x'"),
        OP("trim null source", new SQLRSSCTrim(SQL_TRIM_BOTH, o.Str("xy"), o.Null(SQL_STRING)), "NULL"),
        OP("trim null char", new SQLRSSCTrim(SQL_TRIM_BOTH, o.Null(SQL_STRING), o.Str("a")), "NULL")));

INSTANTIATE_TEST_SUITE_P(
    Indexing, Operator,
    testing::Values(OP("[2]", new SQLRSSCIndexing(o.IntArray({7, 8, 9}), o.Int(2)), "INT:8"),
                    OP("[3]", new SQLRSSCIndexing(o.IntArray({7, 8, 9}), o.Int(3)), "INT:9"),
                    OP("[0]", new SQLRSSCIndexing(o.IntArray({7, 8, 9}), o.Int(0)), "!QP999/308"),
                    OP("[4]", new SQLRSSCIndexing(o.IntArray({7, 8, 9}), o.Int(4)), "!QP999/308"),
                    OP("[null]", new SQLRSSCIndexing(o.IntArray({7, 8, 9}), o.Null(SQL_INTEGER)), "NULL"),
                    OP("null element", new SQLRSSCIndexing(o.IntArray({7, -1, 9}), o.Int(2)), "NULL"),
                    OP("[2]+1", new SQLRSSCAdd(new SQLRSSCIndexing(o.IntArray({7, 8, 9}), o.Int(2)), o.Int(1)),
                       "INT:9")));

#undef OP

TEST(Operators, DescriptorsFollowTheOperandTypes) {
  Operands o;
  struct Case {
    SQLRSSCValueExpr *e;
    SQLType type;
    unsigned long length;
  } cases[] = {
      {new SQLRSSCAdd(o.Int(1), o.Date(1)), SQL_DATE, 0},
      {new SQLRSSCSubtract(o.Date(1), o.Date(1)), SQL_INTERVAL_DAYS, 0},
      {new SQLRSSCMultiply(o.Days(1), o.Int(1)), SQL_INTERVAL_DAYS, 0},
      {new SQLRSSCDivide(o.Int(1), o.Int(1)), SQL_REAL, 0},
      {new SQLRSSCModulo(o.Int(1), o.Int(1)), SQL_INTEGER, 0},
      {new SQLRSSCConcatenate(o.Str("ab"), o.Str("cde")), SQL_STRING, 5},
      {new SQLRSSCSubstr(o.Raw("ab"), o.Int(1), nullptr), SQL_RAW, 0},
      {new SQLRSSCTrim(SQL_TRIM_BOTH, nullptr, o.Str("ab")), SQL_STRING, 0},
  };
  for (auto &c : cases) {
    std::unique_ptr<SQLRSSCValueExpr> e(c.e);
    SQLColumnDescriptor d = e->GetColumnDescriptor();
    EXPECT_EQ(d.GetType(), c.type);
    EXPECT_EQ(d.GetLength(), c.length);
    EXPECT_EQ(d.GetDepth(), 1);
  }
}

TEST(Operators, CostsAddTheOperatorsOwnWork) {
  Operands o;
  SQLColumnDescriptor d("c", SQL_INTEGER, 4, 1);
  struct Case {
    SQLRSSCValueExpr *e;
    double second;
  } cases[] = {
      {new SQLRSSCAdd(new SQLRSSCColumnRef(0, 0, &d), o.Int(1)), 3},
      {new SQLRSSCModulo(new SQLRSSCAdd(o.Int(1), o.Int(1)), o.Int(1)), 5},
      {new SQLRSSCConcatenate(o.Str("a"), o.Str("b")), 12},
      {new SQLRSSCSubstr(o.Str("a"), o.Int(1), nullptr), 12},
      {new SQLRSSCTrim(SQL_TRIM_BOTH, nullptr, o.Str("a")), 11},
  };
  for (auto &c : cases) {
    std::unique_ptr<SQLRSSCValueExpr> e(c.e);
    double first = -1, second = -1;
    e->Cost(&first, &second);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, c.second);
  }
}

TEST(Operators, IdentityComparesOperandsInPlace) {
  Operands o;
  std::unique_ptr<SQLRSSCValueExpr> a(new SQLRSSCAdd(o.Int(1), o.Int(2)));
  std::unique_ptr<SQLRSSCValueExpr> same(new SQLRSSCAdd(o.Int(1), o.Int(2)));
  std::unique_ptr<SQLRSSCValueExpr> swapped(new SQLRSSCAdd(o.Int(2), o.Int(1)));
  std::unique_ptr<SQLRSSCValueExpr> sub(new SQLRSSCSubtract(o.Int(1), o.Int(2)));
  EXPECT_TRUE(a->IsSameValueExpr(same.get()));
  EXPECT_FALSE(a->IsSameValueExpr(swapped.get()));
  EXPECT_FALSE(a->IsSameValueExpr(sub.get()));
  std::unique_ptr<SQLRSSCValueExpr> copy(a->Copy());
  EXPECT_TRUE(copy->IsSameValueExpr(a.get()));

  std::unique_ptr<SQLRSSCValueExpr> s1(new SQLRSSCSubstr(o.Str("a"), o.Int(1), nullptr));
  std::unique_ptr<SQLRSSCValueExpr> s2(new SQLRSSCSubstr(o.Str("a"), o.Int(1), o.Int(1)));
  std::unique_ptr<SQLRSSCValueExpr> s3(new SQLRSSCSubstr(o.Str("a"), o.Int(1), nullptr));
  EXPECT_FALSE(s1->IsSameValueExpr(s2.get()));
  EXPECT_TRUE(s1->IsSameValueExpr(s3.get()));
  std::unique_ptr<SQLRSSCValueExpr> t1(new SQLRSSCTrim(SQL_TRIM_BOTH, nullptr, o.Str("a")));
  std::unique_ptr<SQLRSSCValueExpr> t2(new SQLRSSCTrim(SQL_TRIM_BOTH, nullptr, o.Str("a")));
  EXPECT_FALSE(t1->IsSameValueExpr(t2.get()));
}

TEST(Operators, NullifiedColumnsMakeTheResultNull) {
  SQLColumnDescriptor d("c", SQL_INTEGER, 4, 1), arr("a", SQL_INTEGER, 4, 3);
  List<Interval<int>> ranges;
  ranges.Append(Interval<int>(1, 1));
  auto col = [&](int id) { return new SQLRSSCColumnRef(0, id, &d); };
  struct Case {
    SQLRSSCValueExpr *e;
    SQLTruthValue expected;
  } cases[] = {
      {new SQLRSSCAdd(col(1), col(2)), TV_TRUE},
      {new SQLRSSCAdd(col(2), col(1)), TV_TRUE},
      {new SQLRSSCAdd(col(2), new SQLRSSCIntegerConst(1)), TV_UNKNOWN},
      {new SQLRSSCAdd(new SQLRSSCIntegerConst(2), new SQLRSSCIntegerConst(1)), TV_FALSE},
      {new SQLRSSCIndexing(new SQLRSSCColumnRef(0, 1, &arr), new SQLRSSCIntegerConst(1)), TV_TRUE},
      {new SQLRSSCIndexing(new SQLRSSCColumnRef(-1, 1, &arr), new SQLRSSCIntegerConst(1)), TV_UNKNOWN},
      {new SQLRSSCIndexing(new SQLRSSCColumnRef(0, 0, &arr), col(1)), TV_TRUE},
      {new SQLRSSCTrim(SQL_TRIM_BOTH, col(1), col(2)), TV_TRUE},
      {new SQLRSSCSubstr(col(2), col(3), col(1)), TV_TRUE},
  };
  for (auto &c : cases) {
    std::unique_ptr<SQLRSSCValueExpr> e(c.e);
    EXPECT_EQ(e->NullValueOnNullifiedCols(0, &ranges), c.expected);
  }
}

// A chain of any length costs no stack: every operation loops over it.
TEST(Operators, LongChainsRunWithoutRecursion) {
  Operands o;
  auto chain = [&o](int terms, long first) {  // 0 + first - 2 + 2 - 2 ... = first
    SQLRSSCValueExprPtr e(o.Int(0));
    for (int i = 1; i < terms; ++i) {
      SQLRSSCValueExpr *right = o.Int(i == 1 ? first : 2);
      e.reset(i % 2 ? static_cast<SQLRSSCValueExpr *>(new SQLRSSCAdd(e.release(), right))
                    : new SQLRSSCSubtract(e.release(), right));
    }
    return e;
  };
  int const terms = 200000;
  SQLRSSCValueExprPtr e = chain(terms, 2);
  SQLRSSCValueExprPtr copy(e->Copy());
  SQLRSSCValueExprPtr other = chain(terms, 3);
  EXPECT_TRUE(e->IsSameValueExpr(copy.get()));
  EXPECT_FALSE(e->IsSameValueExpr(other.get()));
  EXPECT_TRUE(e->CanCopy());
  EXPECT_TRUE(e->IsConstant());
  EXPECT_EQ(e->GetColumnDescriptor().GetType(), SQL_INTEGER);
  List<Interval<int>> ranges;
  EXPECT_EQ(e->NullValueOnNullifiedCols(0, &ranges), TV_FALSE);
  double first = -1, second = -1;
  e->Cost(&first, &second);
  EXPECT_EQ(first, 0);
  EXPECT_GE(second, terms - 1);
  e->Optimize();
  e->Reset();
  EXPECT_EQ(Evaluated(e.release()), "INT:2");
  EXPECT_EQ(Evaluated(other.release()), "INT:3");
}

TEST(Operators, DescribeThemselvesInPrefixOrder) {
  Operands o;
  std::unique_ptr<SQLRSSCValueExpr> trim(
      new SQLRSSCTrim(SQL_TRIM_LEADING, nullptr, new SQLRSSCSubstr(o.Str("ab"), o.Int(1), nullptr)));
  std::unique_ptr<SQLRSSCValueExpr> mod(new SQLRSSCModulo(new SQLRSSCAdd(o.Int(7), o.Int(1)), o.Int(2)));
  SQLTokenString ts;
  trim->createTokenString(&ts, 0, nullptr);
  mod->createTokenString(&ts, 0, nullptr);
  EXPECT_EQ(ts.GetToken(), SQLNWTVETrim);
  EXPECT_EQ(ts.GetToken(), SQLNWTTrimLeading);
  EXPECT_EQ(ts.GetToken(), SQLNWTNull);
  EXPECT_EQ(ts.GetToken(), SQLNWTVESubstr);
  EXPECT_EQ(ts.GetToken(), SQLNWTVEStringConst);
  unsigned char const *bytes;
  std::int16_t n;
  ts.GetMemory(bytes, n);
  EXPECT_EQ(std::string(reinterpret_cast<char const *>(bytes), n), "ab");
  EXPECT_EQ(ts.GetToken(), SQLNWTVEIntegerConst);
  EXPECT_EQ(ts.GetBs4(), 1);
  EXPECT_EQ(ts.GetToken(), SQLNWTNull);
  EXPECT_EQ(ts.GetToken(), SQLNWTVEModulo);
  EXPECT_EQ(ts.GetToken(), SQLNWTVEAdd);
  EXPECT_EQ(ts.GetToken(), SQLNWTVEIntegerConst);
  EXPECT_EQ(ts.GetBs4(), 7);
  EXPECT_EQ(ts.GetToken(), SQLNWTVEIntegerConst);
  EXPECT_EQ(ts.GetBs4(), 1);
  EXPECT_EQ(ts.GetToken(), SQLNWTVEIntegerConst);
  EXPECT_EQ(ts.GetBs4(), 2);
  EXPECT_TRUE(ts.AtEnd());
}

}  // namespace
}  // namespace molvane::test
