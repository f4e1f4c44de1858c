// FROM-clause references: the table iteration over joins with hidden
// tables, duplicate detection, column offsets and FOR UPDATE marking.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dbc/dict/dd.h"
#include "sql/validate/pt_table_ref.h"
#include "sql/validate/vt_multi_join.h"
#include "sql/validate/vt_table.h"
#include "support/test_env.h"

namespace {

char *Copy(char const *text) {
  if (text == nullptr) return nullptr;
  char *out = new char[std::strlen(text) + 1];
  std::strcpy(out, text);
  return out;
}

SQLPTTable *Table(char const *name, char const *alias, bool hidden = false) {
  return new SQLPTTable(new SQLVTTable(Copy(name), Copy(alias), false), hidden);
}

std::vector<std::string> Names(SQLPTTableReference *reference, bool exposedOnly) {
  std::vector<std::string> names;
  for (reference->IterStart(exposedOnly); !reference->IterAtEnd(); reference->IterToNext()) {
    names.emplace_back(reference->IterGetTableName());
  }
  return names;
}

class FromReferences : public testing::Test {
 protected:
  void SetUp() override {
    static molvane::test::ScratchDir zuv;
    setenv("ZUV", zuv.path().c_str(), 1);
    setenv("F_ZRDD", molvane::test::FixturePath("zuv/dict").c_str(), 1);
    init_local_dd();
  }
};

TEST_F(FromReferences, JoinIterationSkipsHiddenTablesWhenAsked) {
  // ((a JOIN hidden h) JOIN b): the hidden table shows only in a full walk.
  SQLPTJoin inner(SQL_JOIN_INNER, Table("exemp010", "a"), Table("exdep010", "h", true), nullptr);
  EXPECT_EQ(Names(&inner, false), (std::vector<std::string>{"a", "h"}));
  EXPECT_EQ(Names(&inner, true), (std::vector<std::string>{"a"}));

  SQLPTJoin hiddenLeft(SQL_JOIN_LEFT, Table("exdep010", "h", true), Table("exemp010", "b"), nullptr);
  EXPECT_EQ(Names(&hiddenLeft, true), (std::vector<std::string>{"b"}));
  EXPECT_TRUE(hiddenLeft.ExposedTableExists("b"));
  EXPECT_FALSE(hiddenLeft.ExposedTableExists("h"));

  SQLPTJoin allHidden(SQL_JOIN_INNER, Table("exdep010", "h1", true), Table("exdep010", "h2", true), nullptr);
  EXPECT_TRUE(Names(&allHidden, true).empty());
}

TEST_F(FromReferences, DuplicatesOffsetsAndForUpdate) {
  // A join whose sides expose the same name records the right side's table.
  SQLPTJoin join(SQL_JOIN_INNER, Table("exemp010", "x"), Table("exdep010", "x"), nullptr);
  ASSERT_NE(join.GetFirstDuplicateTable(), nullptr);
  EXPECT_STREQ(join.GetFirstDuplicateTable()->GetBaseName(), "exdep010");

  SQLVTMultiJoin from;
  EXPECT_EQ(from.AddTableReference(Table("exemp010", nullptr), true), 0);
  from.MarkTablesForUpdate();
  EXPECT_EQ(from.AddTableReference(Table("exdep010", "d"), true), 1);  // marked as it comes
  EXPECT_EQ(from.AddTableReference(Table("exemp010", nullptr), true), -1);  // identical repeat dropped
  EXPECT_EQ(from.GetFirstDuplicateTable(), nullptr);
  EXPECT_EQ(from.AddTableReference(Table("exdep010", "exemp010"), true), 2);  // same name, other table
  ASSERT_NE(from.GetFirstDuplicateTable(), nullptr);

  int offset = from.GetReference(0)->AsTable()->GetTable()->GetNumCols();
  EXPECT_EQ(from.GetReference(1)->GetColumnIdOffset(), offset);
  EXPECT_TRUE(from.GetReference(1)->AsTable()->IsForUpdate());
  EXPECT_TRUE(from.IsForUpdate());
  EXPECT_EQ(from.GetNumTables(), 3);
  EXPECT_TRUE(from.HasOnlyBaseTables());
}

}  // namespace
