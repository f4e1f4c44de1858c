#include "sql/common/sql_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sql/common/sql_abort.h"

namespace {

TEST(SQLUtil, DecimalTexts) {
  EXPECT_STREQ("-9223372036854775808", bs8_to_ascii(INT64_MIN));
  EXPECT_STREQ("9223372036854775807", bs8_to_ascii(INT64_MAX));
  EXPECT_STREQ("0", bs8_to_ascii(0));
  EXPECT_STREQ("-42", long_to_ascii(-42));
}

TEST(SQLUtil, PointerTextIsInMemoryOrder) {
  void const *p = reinterpret_cast<void const *>(std::uintptr_t{0x12345678});
  EXPECT_STREQ("7856341200000000", ptr_to_ascii(p));
  EXPECT_STREQ("0000000000000000", ptr_to_ascii(nullptr));
}

TEST(SQLUtil, HexToRaw) {
  struct Case {
    char const *hex;
    bool ok;
    std::vector<unsigned char> bytes;
  } cases[] = {
      {"abc", true, {0xAB, 0xC0}}, {"0g", false, {}},          {"", true, {}},
      {"FFfe00", true, {0xFF, 0xFE, 0x00}}, {"1", true, {0x10}}, {"12 4", false, {}},
  };
  for (auto const &c : cases) {
    char out[8];
    std::memset(out, 0x55, sizeof out);
    int n = static_cast<int>(std::strlen(c.hex));
    ASSERT_EQ(c.ok, hexstring_to_raw(c.hex, n, out)) << c.hex;
    for (size_t i = 0; i < c.bytes.size(); ++i)
      EXPECT_EQ(c.bytes[i], static_cast<unsigned char>(out[i])) << c.hex << " byte " << i;
    size_t written = c.ok ? c.bytes.size() : 0;
    EXPECT_EQ(0x55, out[written]) << c.hex << ": wrote past its bytes";
  }
}

TEST(SQLUtil, RawToHexIsUpperCaseAndBounded) {
  unsigned char const bytes[] = {0x00, 0x9B, 0xFF, 0x1a};
  EXPECT_STREQ("009BFF1A", raw_to_hexstring(bytes, 4));
  EXPECT_STREQ("", raw_to_hexstring(bytes, 0));
  std::vector<unsigned char> big(6000, 0xAB);
  EXPECT_EQ(10000U, std::strlen(raw_to_hexstring(big.data(), big.size())));
  std::vector<unsigned char> exact(5000, 0x01);
  EXPECT_EQ(10000U, std::strlen(raw_to_hexstring(exact.data(), exact.size())));
}

TEST(SQLUtil, DisplayNames) {
  struct TypeCase {
    SQLType type;
    char const *name;
  } types[] = {{SQL_INTEGER, "INTEGER"},
               {SQL_STRING, "STRING"},
               {SQL_REAL, "REAL"},
               {SQL_DATE, "DATE"},
               {SQL_TIMESTAMP, "TIMESTAMP"},
               {SQL_INTERVAL_DAYS, "INTERVAL DAYS"},
               {SQL_INTERVAL_SECONDS, "INTERVAL SECONDS"},
               {SQL_RAW, "RAW"}};
  for (auto const &c : types) EXPECT_STREQ(c.name, SQLGetTypeName(c.type));
  EXPECT_STREQ("INNER JOIN", SQLGetJoinTypeName(SQL_JOIN_INNER));
  EXPECT_STREQ("LEFT OUTER JOIN", SQLGetJoinTypeName(SQL_JOIN_LEFT));
  EXPECT_STREQ("RIGHT OUTER JOIN", SQLGetJoinTypeName(SQL_JOIN_RIGHT));
  EXPECT_STREQ("FULL OUTER JOIN", SQLGetJoinTypeName(SQL_JOIN_FULL));
  EXPECT_STREQ("LEADING", SQLGetTrimSpecName(SQL_TRIM_LEADING));
  EXPECT_STREQ("TRAILING", SQLGetTrimSpecName(SQL_TRIM_TRAILING));
  EXPECT_STREQ("BOTH", SQLGetTrimSpecName(SQL_TRIM_BOTH));
}

TEST(SQLUtilDeathTest, NamesOutsideTheirTablesStop) {
  EXPECT_DEATH(SQLGetTypeName(SQL_UNDEFINED), "Unexpected type 0");
  EXPECT_DEATH(SQLGetTypeName(SQL_ARRAY), "Unexpected type 128");
  EXPECT_DEATH(SQLGetJoinTypeName(static_cast<SQLJoinType>(4)), "Unexpected JoinType 4");
  EXPECT_DEATH(SQLGetTrimSpecName(static_cast<SQLTrimSpec>(3)), "Unknown trim spec 3");
}

TEST(SQLAbortDeathTest, LogsOneMessageWithTheCauseFirst) {
  // Without an environment root the message log is standard error too.
  unsetenv("ZUV");
  unsetenv("ZUV_LOG");
  EXPECT_DEATH(SQLAbort("rs_sort.cc", 120, "Unexpected message %s", "SQLRSSort::Fetch"),
               "SQL \\(rs_sort.cc:120\\): SQL processor stopped. Internal error:\n"
               "Unexpected message SQLRSSort::Fetch\n");
}

TEST(SQLAbortDeathTest, PrintsFileLineAndMessage) {
  EXPECT_DEATH(SQLAbort("rs_sort.cc", 120, "Unexpected message %s", "SQLRSSort::Fetch"),
               "SQL processor stopped in file rs_sort.cc, line 120.\nInternal error:\n"
               "Unexpected message SQLRSSort::Fetch\n");
}

}  // namespace
