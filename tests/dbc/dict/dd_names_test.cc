// Name checks that touch no file.
#include <gtest/gtest.h>

#include <string>

#include <molvane/zdb.h>

#include "dbc/dict/dd.h"

namespace {

TEST(DdNames, ColumnNameSyntax) {
  struct {
    const char *name;
    int ok;
  } cases[] = {
      {"ab", 1},        {"_index12", 1}, {"a.b_c9", 1}, {"Refcntu", 1},   {"abcdefgh", 1},
      {"a", 0},         {"abcdefghi", 0}, {"1abc", 0},  {".abc", 0},      {"ab cd", 0},
      {"ab-cd", 0},     {"", 0},         {" ab", 0},    {"ab;", 0},
  };
  for (auto &c : cases) EXPECT_EQ(check_syntax_column_name(c.name), c.ok) << c.name;
  EXPECT_EQ(check_syntax_column_name(nullptr), 0);
}

// Refused before the dictionary is consulted: no initialisation, no file.
TEST(DdNames, BadTableNamesNeverReachTheLoader) {
  for (const char *name : {"", "exemp01", "exemp0101", " xemp010", "ab.de123", "ab;de123",
                           "ab/de123", "ab!de123", "{x}de123"})
    EXPECT_EQ(ddtable(name), nullptr) << name;
  EXPECT_EQ(ddtable(nullptr), nullptr);
}

// Refused with 504 and a message that says what a column name is.
TEST(DdNames, BadColumnNamesAreRefused) {
  init_local_dd();
  for (const char *name : {"exemp010", "exemp010.", "exemp010.c", "exemp010.abcdefghi", "exemp010_emp",
                           "exemp010.9ab", "short.ab"}) {
    zdb_errno = 0;
    EXPECT_EQ(ddcolumn(name), nullptr) << name;
    EXPECT_EQ(zdb_errno, 504) << name;
    EXPECT_EQ(std::string(get_zdb_msg()).rfind(std::string("Invalid column '") + name + "': ", 0), 0u)
        << get_zdb_msg();
  }
  EXPECT_EQ(ddcolumn(nullptr), nullptr);
  EXPECT_EQ(zdb_errno, 215);
  EXPECT_STREQ(get_zdb_msg(),
               "No column name specified: ddcolumn was given a null column name; pass a column's full "
               "name (such as \"mybok010.title\")");
}

TEST(DdNames, TableNameOfAColumn) {
  char buf[9];
  EXPECT_STREQ(ddtablename_from_columnname("exemp010.emp", buf), "exemp010");
  EXPECT_STREQ(ddtablename_from_columnname("exemp010.emp", nullptr), "exemp010");
}

}  // namespace
