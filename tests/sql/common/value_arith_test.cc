#include <gtest/gtest.h>

#include <molvane/datetime.h>

#include <cstdint>
#include <cstring>
#include <limits>

#include "sql/common/sql_exception.h"
#include "sql/common/value_store.h"

namespace {

constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();

// A value given as type and number (REAL takes `real`).
struct V {
  SQLType type;
  std::int64_t n;
  double real = 0;
};

SQLValueStore Make(V v) {
  SQLValueStore s;
  switch (v.type) {
    case SQL_INTEGER: s.SetInteger(static_cast<std::int32_t>(v.n)); break;
    case SQL_REAL: s.SetReal(v.real); break;
    case SQL_DATE: s.SetDate(static_cast<std::int32_t>(v.n)); break;
    case SQL_INTERVAL_DAYS: s.SetIntervalDays(static_cast<std::int32_t>(v.n)); break;
    case SQL_TIMESTAMP: s.SetTimestamp(v.n); break;
    default: s.SetIntervalSeconds(v.n); break;
  }
  return s;
}

enum Op { kAdd, kSub, kMul, kDiv, kMod };

void Apply(Op op, SQLValueStore *r, SQLValueStore const *a, SQLValueStore const *b) {
  switch (op) {
    case kAdd: r->Add(a, b); break;
    case kSub: r->Subtract(a, b); break;
    case kMul: r->Multiply(a, b); break;
    case kDiv: r->Divide(a, b); break;
    case kMod: r->Modulo(a, b); break;
  }
}

enum Outcome { kValue, kOutOfRange, kDivByZero };

struct Case {
  Op op;
  V a, b;
  Outcome outcome;
  V expected;
};

TEST(SQLValueStoreArith, ResultTypesAndValues) {
  Case const cases[] = {
      {kAdd, {SQL_INTEGER, 2}, {SQL_INTEGER, 3}, kValue, {SQL_INTEGER, 5}},
      {kAdd, {SQL_INTEGER, 2}, {SQL_REAL, 0, 0.5}, kValue, {SQL_REAL, 0, 2.5}},
      {kAdd, {SQL_REAL, 0, 0.5}, {SQL_INTEGER, 2}, kValue, {SQL_REAL, 0, 2.5}},
      {kAdd, {SQL_DATE, 738945}, {SQL_INTERVAL_DAYS, 1}, kValue, {SQL_DATE, 738946}},
      {kAdd, {SQL_INTERVAL_DAYS, 1}, {SQL_DATE, 738945}, kValue, {SQL_DATE, 738946}},
      {kAdd, {SQL_DATE, 10}, {SQL_INTEGER, -3}, kValue, {SQL_DATE, 7}},
      {kAdd, {SQL_INTERVAL_DAYS, 4}, {SQL_INTERVAL_DAYS, 5}, kValue, {SQL_INTERVAL_DAYS, 9}},
      {kAdd, {SQL_TIMESTAMP, 100}, {SQL_INTERVAL_SECONDS, 5000000000LL}, kValue,
       {SQL_TIMESTAMP, 5000000100LL}},
      {kAdd, {SQL_INTERVAL_SECONDS, 1}, {SQL_TIMESTAMP, 100}, kValue, {SQL_TIMESTAMP, 101}},
      {kAdd, {SQL_INTERVAL_SECONDS, 1}, {SQL_INTERVAL_SECONDS, 2}, kValue, {SQL_INTERVAL_SECONDS, 3}},
      {kSub, {SQL_INTEGER, 2}, {SQL_INTEGER, 5}, kValue, {SQL_INTEGER, -3}},
      {kSub, {SQL_INTEGER, 2}, {SQL_REAL, 0, 0.5}, kValue, {SQL_REAL, 0, 1.5}},
      {kSub, {SQL_DATE, 738946}, {SQL_DATE, 738945}, kValue, {SQL_INTERVAL_DAYS, 1}},
      {kSub, {SQL_DATE, 738946}, {SQL_INTERVAL_DAYS, 2}, kValue, {SQL_DATE, 738944}},
      {kSub, {SQL_INTERVAL_DAYS, 2}, {SQL_INTERVAL_DAYS, 5}, kValue, {SQL_INTERVAL_DAYS, -3}},
      {kSub, {SQL_TIMESTAMP, 100}, {SQL_TIMESTAMP, 160}, kValue, {SQL_INTERVAL_SECONDS, -60}},
      {kSub, {SQL_TIMESTAMP, 100}, {SQL_INTERVAL_SECONDS, 60}, kValue, {SQL_TIMESTAMP, 40}},
      {kMul, {SQL_INTEGER, -4}, {SQL_INTEGER, 5}, kValue, {SQL_INTEGER, -20}},
      {kMul, {SQL_REAL, 0, 1.5}, {SQL_INTEGER, 2}, kValue, {SQL_REAL, 0, 3.0}},
      {kMul, {SQL_INTEGER, 3}, {SQL_INTERVAL_DAYS, 7}, kValue, {SQL_INTERVAL_DAYS, 21}},
      {kMul, {SQL_INTERVAL_DAYS, 7}, {SQL_INTEGER, 3}, kValue, {SQL_INTERVAL_DAYS, 21}},
      {kMul, {SQL_INTEGER, 3}, {SQL_INTERVAL_SECONDS, 3000000000LL}, kValue,
       {SQL_INTERVAL_SECONDS, 9000000000LL}},
      {kMul, {SQL_INTERVAL_SECONDS, -2}, {SQL_INTEGER, 3}, kValue, {SQL_INTERVAL_SECONDS, -6}},
      {kDiv, {SQL_INTEGER, 7}, {SQL_INTEGER, 2}, kValue, {SQL_REAL, 0, 3.5}},
      {kDiv, {SQL_REAL, 0, 1.0}, {SQL_INTEGER, 4}, kValue, {SQL_REAL, 0, 0.25}},
      {kMod, {SQL_INTEGER, 7}, {SQL_INTEGER, 2}, kValue, {SQL_INTEGER, 1}},
      {kMod, {SQL_INTEGER, -7}, {SQL_INTEGER, 2}, kValue, {SQL_INTEGER, -1}},
      {kMod, {SQL_INTEGER, kMin32}, {SQL_INTEGER, -1}, kValue, {SQL_INTEGER, 0}},
      // Out of range: never wrapped.
      {kAdd, {SQL_INTEGER, kMax32}, {SQL_INTEGER, 1}, kOutOfRange, {}},
      {kSub, {SQL_INTEGER, kMin32}, {SQL_INTEGER, 1}, kOutOfRange, {}},
      {kMul, {SQL_INTEGER, 65536}, {SQL_INTEGER, 65536}, kOutOfRange, {}},
      {kMul, {SQL_INTEGER, kMin32}, {SQL_INTEGER, -1}, kOutOfRange, {}},
      {kAdd, {SQL_DATE, kMax32}, {SQL_INTERVAL_DAYS, 1}, kOutOfRange, {}},
      {kSub, {SQL_DATE, kMin32}, {SQL_DATE, 1}, kOutOfRange, {}},
      {kMul, {SQL_INTERVAL_DAYS, kMax32}, {SQL_INTEGER, 2}, kOutOfRange, {}},
      {kAdd, {SQL_TIMESTAMP, kMax64}, {SQL_INTERVAL_SECONDS, 1}, kOutOfRange, {}},
      {kMul, {SQL_INTEGER, 4}, {SQL_INTERVAL_SECONDS, kMax64 / 2}, kOutOfRange, {}},
      {kMul, {SQL_REAL, 0, 1e308}, {SQL_REAL, 0, 10.0}, kOutOfRange, {}},
      // Division by zero.
      {kDiv, {SQL_INTEGER, 1}, {SQL_INTEGER, 0}, kDivByZero, {}},
      {kDiv, {SQL_REAL, 0, 1.0}, {SQL_REAL, 0, 0.0}, kDivByZero, {}},
      {kMod, {SQL_INTEGER, 1}, {SQL_INTEGER, 0}, kDivByZero, {}},
  };
  int row = 0;
  for (Case const &c : cases) {
    SCOPED_TRACE(row++);
    SQLValueStore a = Make(c.a), b = Make(c.b), r;
    if (c.outcome == kOutOfRange) {
      try {
        Apply(c.op, &r, &a, &b);
        ADD_FAILURE() << "no exception";
      } catch (SQLExDENumericValueOutOfRange const &e) {
        EXPECT_STREQ("22003", e.GetSQLState());
      }
      continue;
    }
    if (c.outcome == kDivByZero) {
      EXPECT_THROW(Apply(c.op, &r, &a, &b), SQLExDEDivisionByZero);
      continue;
    }
    Apply(c.op, &r, &a, &b);
    SQLValueStore expected = Make(c.expected);
    EXPECT_EQ(c.expected.type, r.GetType());
    EXPECT_EQ(TV_TRUE, SQLValueStore::Compare(&expected, &r, SQL_COMP_EQ));
  }
}

// Day arithmetic stays inside the calendar: 9999-12-31 + 10 and a day
// before its start raise "22008" instead of giving a day no date has.
TEST(SQLValueStoreArith, DateArithmeticIsRangeChecked) {
  int const last = date_to_num(9999, 12, 31);
  struct DateCase {
    Op op;
    V a, b;
    bool overflow;
  } const cases[] = {
      {kAdd, {SQL_DATE, last}, {SQL_INTERVAL_DAYS, 10}, true},
      {kAdd, {SQL_INTERVAL_DAYS, 10}, {SQL_DATE, last}, true},
      {kAdd, {SQL_DATE, last}, {SQL_INTEGER, 1}, true},
      {kSub, {SQL_DATE, 5}, {SQL_INTERVAL_DAYS, 6}, true},
      {kAdd, {SQL_DATE, 5}, {SQL_INTEGER, -6}, true},
      {kAdd, {SQL_DATE, last - 10}, {SQL_INTERVAL_DAYS, 10}, false},
      {kSub, {SQL_DATE, 5}, {SQL_INTERVAL_DAYS, 4}, false},
  };
  for (DateCase const &c : cases) {
    SQLValueStore a = Make(c.a), b = Make(c.b), r;
    if (!c.overflow) {
      Apply(c.op, &r, &a, &b);
      EXPECT_EQ(r.GetType(), SQL_DATE);
      continue;
    }
    try {
      Apply(c.op, &r, &a, &b);
      ADD_FAILURE() << "no exception for " << c.a.n << " and " << c.b.n;
    } catch (SQLExDEDatetimeFieldOverflow const &e) {
      EXPECT_STREQ("22008", e.GetSQLState());
    }
  }
}

TEST(SQLValueStoreArith, NullOperandsGiveNull) {
  SQLValueStore a = Make({SQL_INTEGER, 1}), n = Make({SQL_INTEGER, 2}), r;
  n.SetNull();
  for (Op op : {kAdd, kSub, kMul, kDiv, kMod}) {
    r.SetInteger(9);
    Apply(op, &r, &a, &n);
    EXPECT_TRUE(r.IsNull());
    r.SetInteger(9);
    Apply(op, &r, &n, &a);
    EXPECT_TRUE(r.IsNull());
  }
}

TEST(SQLValueStoreArith, RunningSumMayUseItsTargetAsOperand) {
  SQLValueStore sum = Make({SQL_INTEGER, 0}), x = Make({SQL_INTEGER, 5});
  for (int i = 0; i < 3; ++i) sum.Add(&x, &sum);
  EXPECT_EQ(15, sum.GetInteger());
}

TEST(SQLValueStoreArith, TypePairsValidationRefusesStop) {
  SQLValueStore i = Make({SQL_INTEGER, 1}), d = Make({SQL_DATE, 1}), r, s;
  s.SetString("x");
  EXPECT_DEATH(r.Add(&i, &d), "Unexpected type 8");
  EXPECT_DEATH(r.Add(&s, &i), "Unexpected type 2");
  EXPECT_DEATH(r.Multiply(&d, &i), "Unexpected type 8");
  EXPECT_DEATH(r.Modulo(&i, &d), "Unexpected type 8");
}

}  // namespace
