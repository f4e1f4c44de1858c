#include <gtest/gtest.h>

#include <cstdlib>

#include "sql/common/value_store.h"
#include "text/tss.h"

namespace {

SQLValueStore Str(char const *s) {
  SQLValueStore v;
  v.SetString(s);
  return v;
}

SQLValueStore Raw(char const *s, unsigned long n) {
  SQLValueStore v;
  v.SetRaw(reinterpret_cast<unsigned char const *>(s), n);
  return v;
}

SQLValueStore Int(int i) {
  SQLValueStore v;
  v.SetInteger(i);
  return v;
}

SQLValueStore Real(double d) {
  SQLValueStore v;
  v.SetReal(d);
  return v;
}

// The truth value of each operator, in operator order =, <>, <, >, <=, >=.
std::string All(SQLValueStore const &a, SQLValueStore const &b) {
  std::string out;
  for (int op = SQL_COMP_EQ; op <= SQL_COMP_GE; ++op) {
    SQLTruthValue t = SQLValueStore::Compare(&a, &b, static_cast<SQLCompOperator>(op));
    out += t == TV_TRUE ? 'T' : t == TV_FALSE ? 'F' : 'U';
  }
  return out;
}

TEST(SQLValueStoreCompare, EveryOperatorOverEveryScalarType) {
  SQLValueStore d1, d2, t1, t2, i1, i2, s1, s2;
  d1.SetDate(10);
  d2.SetDate(-10);
  t1.SetTimestamp(5000000000LL);
  t2.SetTimestamp(5000000001LL);
  i1.SetIntervalDays(3);
  i2.SetIntervalDays(3);
  s1.SetIntervalSeconds(-1);
  s2.SetIntervalSeconds(1);
  EXPECT_EQ("FTFTFT", All(d1, d2));
  EXPECT_EQ("FTTFTF", All(t1, t2));
  EXPECT_EQ("TFFFTT", All(i1, i2));
  EXPECT_EQ("FTTFTF", All(s1, s2));
  EXPECT_EQ("TFFFTT", All(Int(3), Real(3.0)));
  EXPECT_EQ("FTFTFT", All(Real(3.5), Int(3)));
  EXPECT_EQ("FTTFTF", All(Int(-2147483647 - 1), Int(2147483647)));
}

TEST(SQLValueStoreCompare, StringsArePaddedWithBlanks) {
  EXPECT_EQ("TFFFTT", All(Str("ab"), Str("ab  ")));
  EXPECT_EQ("FTTFTF", All(Str("ab"), Str("abc")));
  EXPECT_EQ("TFFFTT", All(Str(""), Str("   ")));
  // A byte below the blank sorts before the padding.
  EXPECT_EQ("FTFTFT", All(Str("ab"), Str("ab\t")));
  EXPECT_EQ("FTTFTF", All(Str("a b"), Str("ab")));
}

TEST(SQLValueStoreCompare, StringsFollowTheCollationInTheUnicodeMode) {
  setenv("TSS_MODE", "2", 1);
  TssReloadSettings();
  // Mode 2 orders by the collation, not by bytes: "b" < "C" although 'C' < 'b'.
  EXPECT_EQ("FTTFTF", All(Str("b"), Str("C")));
  EXPECT_EQ("TFFFTT", All(Str("b"), Str("b ")));
}

TEST(SQLValueStoreCompare, RawsByUnsignedBytesThenLength) {
  EXPECT_EQ("FTTFTF", All(Raw("\x01\x02", 2), Raw("\x01\x02\x00", 3)));
  EXPECT_EQ("FTFTFT", All(Raw("\x80", 1), Raw("\x7f\xff", 2)));
  EXPECT_EQ("TFFFTT", All(Raw("", 0), Raw("", 0)));
}

TEST(SQLValueStoreCompare, NullsAreUnknownWhateverTheOperator) {
  SQLValueStore n = Int(1);
  n.SetNull();
  EXPECT_EQ("UUUUUU", All(n, Int(1)));
  EXPECT_EQ("UUUUUU", All(Str("x"), n));
  EXPECT_EQ("UUUUUU", All(n, n));
}

TEST(SQLValueStoreCompare, ArraysCompareElementsForEquality) {
  auto array = [](int a, int b, bool nullSecond) {
    SQLValueStore v;
    v.SetDimension(2);
    v.GetElement(0)->SetInteger(a);
    v.GetElement(1)->SetInteger(b);
    if (nullSecond) v.GetElement(1)->SetNull();
    return v;
  };
  EXPECT_EQ("TFTTTT", All(array(1, 2, false), array(1, 2, false)));
  EXPECT_EQ("FTFFFF", All(array(1, 2, false), array(9, 2, false)));
  EXPECT_EQ("UUUUUU", All(array(1, 2, true), array(1, 2, false)));
  EXPECT_EQ("FTFFFF", All(array(1, 2, true), array(9, 2, false)));
  SQLValueStore shorter;
  shorter.SetDimension(1);
  shorter.GetElement(0)->SetInteger(1);
  EXPECT_EQ("FTFFFF", All(array(1, 2, false), shorter));
  EXPECT_EQ("FTFFFF", All(shorter, array(1, 2, false)));
}

TEST(SQLValueStoreCompare, MismatchedTypesAndOperatorsStop) {
  SQLValueStore d, u;
  d.SetDate(3);
  EXPECT_DEATH(SQLValueStore::Compare(&d, &d, static_cast<SQLCompOperator>(6)),
               "Unexpected compOper 6");
  SQLValueStore i = Int(3);
  EXPECT_DEATH(SQLValueStore::Compare(&i, &d, SQL_COMP_EQ), "Unexpected types 1 and 8");
  EXPECT_DEATH(SQLValueStore::Compare(&u, &u, SQL_COMP_EQ), "Unexpected type 0");
}

}  // namespace
