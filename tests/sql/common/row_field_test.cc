#include "sql/common/row_field.h"

#include <gtest/gtest.h>

#include <molvane/dd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sql/common/sql_exception.h"

namespace {

using Bytes = std::vector<unsigned char>;

SQLValueStore Int(std::int64_t v, SQLType type = SQL_INTEGER) {
  SQLValueStore s;
  if (type == SQL_TIMESTAMP) s.SetTimestamp(v);
  else if (type == SQL_DATE) s.SetDate(static_cast<std::int32_t>(v));
  else s.SetInteger(static_cast<std::int32_t>(v));
  return s;
}

SQLValueStore Real(double d) {
  SQLValueStore s;
  s.SetReal(d);
  return s;
}

SQLValueStore Str(std::string const &text) {
  SQLValueStore s;
  s.SetString(reinterpret_cast<unsigned char const *>(text.data()), text.size());
  return s;
}

SQLValueStore Raw(Bytes const &bytes) {
  SQLValueStore s;
  s.SetRaw(bytes.data(), bytes.size());
  return s;
}

SQLValueStore Null() {
  SQLValueStore s;
  s.SetNull();
  return s;
}

Bytes Convert(unsigned char code, int length, int depth, SQLValueStore const &v, char pad = ' ') {
  unsigned char const *out = nullptr;
  int n = -1;
  copyValueStoreToRowBuffer(code, length, depth, &v, 0, pad, &out, &n);
  return Bytes(out, out + n);
}

Bytes B(std::string const &s) { return Bytes(s.begin(), s.end()); }

struct Golden {
  unsigned char code;
  int length;
  SQLValueStore value;
  Bytes bytes;
};

// Every column type, value to field and field back to the value.
TEST(RowField, GoldenBytesOfEveryColumnTypeBothWays) {
  Golden const cases[] = {
      {DDT_BYTE, 1, Int(255), {0xFF}},
      {DDT_ENUM, 1, Int(3), {0x03}},
      {DDT_SHORT, 2, Int(-2), {0xFF, 0xFE}},
      {DDT_LONG, 4, Int(258), {0x00, 0x00, 0x01, 0x02}},
      {DDT_LONG_U, 4, Int(-1), {0xFF, 0xFF, 0xFF, 0xFF}},
      {DDT_LONG_V, 4, Int(0x01020304), {0x01, 0x02, 0x03, 0x04}},
      {DDT_SET, 4, Int(0x80000000LL - 1), {0x7F, 0xFF, 0xFF, 0xFF}},
      {DDT_DATE, 4, Int(738945, SQL_DATE), {0x00, 0x0B, 0x46, 0x81}},
      {DDT_TIME, 4, Int(1700000000, SQL_TIMESTAMP), {0x65, 0x53, 0xF1, 0x00}},
      {DDT_FLOAT, 4, Real(1.0), {0x00, 0x00, 0x80, 0x3F}},
      {DDT_DOUBLE, 8, Real(1.0), {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
      {DDT_STRING, 5, Str("abc  "), B("abc  ")},
      {DDT_MBSTRING, 6, Str("\x9b\x01\x02\x03 x"), B("\x9b\x01\x02\x03 x")},
      {DDT_RAW, 3, Raw({0x00, 0x80, 0xFF}), {0x00, 0x80, 0xFF}},
  };
  for (Golden const &c : cases) {
    SCOPED_TRACE(static_cast<int>(c.code));
    EXPECT_EQ(c.bytes, Convert(c.code, c.length, 1, c.value));
    SQLValueStore back;
    copyRowBufferToValueStore(c.code, c.length, 1, c.bytes.data(), c.length, &back);
    EXPECT_EQ(SQLTypeOfColumnType(c.code), back.GetType());
    EXPECT_EQ(TV_TRUE, SQLValueStore::Compare(&c.value, &back, SQL_COMP_EQ));
  }
}

TEST(RowField, NullFormsAndTextPadding) {
  EXPECT_EQ(Bytes({0, 0}), Convert(DDT_SHORT, 2, 1, Null()));
  EXPECT_EQ(Bytes(8, 0), Convert(DDT_DOUBLE, 8, 1, Null()));
  EXPECT_EQ(B("   "), Convert(DDT_STRING, 3, 1, Null()));
  EXPECT_EQ(B("***"), Convert(DDT_MBSTRING, 3, 1, Null(), '*'));
  EXPECT_EQ(Bytes(4, 0), Convert(DDT_RAW, 4, 1, Null()));
  EXPECT_EQ(B("abc  "), Convert(DDT_STRING, 5, 1, Str("abc")));
  EXPECT_EQ(B("abc "), Convert(DDT_STRING, 4, 1, Str("abc   ")));
  EXPECT_EQ(B("abcdefgh"), Convert(DDT_STRING, 0, 1, Str("abcdefgh")));
  EXPECT_EQ(Bytes({1, 2, 3}), Convert(DDT_RAW, 0, 1, Raw({1, 2, 3})));
  EXPECT_EQ(Bytes(), Convert(DDT_COMBINED, 8, 1, Int(1)));
  EXPECT_EQ(Bytes(), Convert(16, 8, 1, Int(1)));
  EXPECT_EQ(Bytes(), Convert(DDT_LONG, 4, 0, Int(1)));
  // Integer codes take the integer of other numeric types too.
  EXPECT_EQ(Bytes({0xFF, 0xFD}), Convert(DDT_SHORT, 2, 1, Real(-3.7)));
  EXPECT_EQ(Bytes({0, 0, 0x10, 0x41}), Convert(DDT_FLOAT, 4, 1, Int(9)));
}

TEST(RowField, RangeAndLengthViolationsAreDataExceptions) {
  struct Case {
    unsigned char code;
    int length;
    SQLValueStore value;
    char const *state;
    int native;
    char const *message;  // what the text says: the value, the field, the reason
  } const cases[] = {
      {DDT_BYTE, 1, Int(300), "22003", 205, "the integer 300 does not fit the 1-byte field of type 1, which holds 0 to 255"},
      {DDT_ENUM, 1, Int(-1), "22003", 205, "the integer -1 does not fit"},
      {DDT_SHORT, 2, Int(32768), "22003", 205, "which holds -32768 to 32767"},
      {DDT_SHORT, 2, Int(-32769), "22003", 205, "the integer -32769"},
      {DDT_FLOAT, 4, Real(1e32), "22003", 205, "the real 1.0000000000000001e+32 does not fit the 4-byte real field"},
      {DDT_FLOAT, 4, Real(-1e32), "22003", 205, "magnitudes up to 9.999999999999e31"},
      {DDT_FLOAT, 4, Real(0.0 / 0.0), "22003", 205, "does not fit"},
      {DDT_LONG, 4, Real(3e9), "22003", 205, "the real 3000000000"},
      {DDT_TIME, 4, Int(2147483648LL, SQL_TIMESTAMP), "22003", 205,  // would be cut
       "the timestamp 2038-01-19 03:14:08 UTC does not fit the 4-byte field of type 8, which holds "
       "1901-12-13 20:45:52 UTC to 2038-01-19 03:14:07 UTC"},
      {DDT_STRING, 4, Str("abcde"), "22001", 307, "the string 'abcde' of 5 bytes is longer than the field of 4 bytes"},
      {DDT_MBSTRING, 2, Str("ab c"), "22001", 307, "'ab c'"},
      {DDT_RAW, 2, Raw({1, 2, 3}), "22001", 307, "a raw value of 3 bytes is longer than the raw field of 2 bytes"},
      {DDT_RAW, 4, Raw({1, 2, 3}), "22026", 315, "is shorter than the raw field of 4 bytes"},
  };
  for (auto const &c : cases) {
    try {
      Convert(c.code, c.length, 1, c.value);
      ADD_FAILURE() << "no exception for code " << int(c.code);
    } catch (SQLException const &e) {
      EXPECT_STREQ(c.state, e.GetSQLState()) << int(c.code);
      EXPECT_EQ(c.native, e.GetZDBError()) << int(c.code);
      std::string text = e.GetMessageText()->GetString();
      EXPECT_NE(text.find(c.message), std::string::npos) << text;
    }
  }
}

TEST(RowField, ArraysConvertElementByElement) {
  SQLValueStore a;
  a.SetDimension(3);
  for (int k = 0; k < 3; ++k) a.GetElement(k)->SetInteger(k + 1);
  a.GetElement(1)->SetNull();
  EXPECT_EQ(Bytes({0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 3}), Convert(DDT_LONG, 4, 3, a));
  // Missing elements take the null form; a NULL fills the whole field.
  SQLValueStore s;
  s.SetDimension(1);
  s.GetElement(0)->SetString("1");
  EXPECT_EQ(B("1 ****"), Convert(DDT_STRING, 2, 3, s, '*'));
  EXPECT_EQ(B("----"), Convert(DDT_STRING, 2, 2, Null(), '-'));

  Bytes field = {0, 1, 0xFF, 0xFF};
  SQLValueStore back;
  copyRowBufferToValueStore(DDT_SHORT, 2, 2, field.data(), 4, &back);
  ASSERT_EQ(2, back.GetDimension());
  EXPECT_EQ(1, back.GetElement(0)->GetInteger());
  EXPECT_EQ(-1, back.GetElement(1)->GetInteger());
  EXPECT_THROW(copyRowBufferToValueStore(DDT_SHORT, 2, 3, field.data(), 4, &back), SQLException);
  EXPECT_THROW(copyRowBufferToValueStore(DDT_DOUBLE, 4, 1, field.data(), 4, &back), SQLException);
}

// Fields converted at rising offsets survive a conversion that grows the
// buffer, so one row can be built field by field.
TEST(RowField, GrowingTheBufferKeepsFieldsAlreadyConverted) {
  unsigned char const *out;
  int n;
  SQLValueStore first = Int(0x11223344), big = Str(std::string(10000, 'z'));
  copyValueStoreToRowBuffer(DDT_LONG, 4, 1, &first, 0, ' ', &out, &n);
  copyValueStoreToRowBuffer(DDT_STRING, 10000, 1, &big, 4, ' ', &out, &n);
  EXPECT_EQ(10000, n);
  EXPECT_EQ(Bytes({0x11, 0x22, 0x33, 0x44}), Bytes(out, out + 4));
  EXPECT_EQ('z', out[4 + 9999]);
}

}  // namespace
