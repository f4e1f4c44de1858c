// References between tables: mode texts, the records of referencing columns
// and the links between a parent and its children.
#include <gtest/gtest.h>

#include <cstring>

#include "dbc/dict/dd.h"
#include "dbc/dd_test_env.h"

namespace {

using molvane::test::UseFixtureDictionary;

TEST(DdRef, ReferenceModeText) {
  struct {
    const char *text;
    unsigned mode;
  } cases[] = {
      {"0", 1},
      {"1", 2},
      {"x", 3},
      {"", 3},
      {"1cr01", 2 | (2 << 2) | (1 << 5) | 0x100 | 0x1000},
      {"0rr", 1 | (1 << 2) | (1 << 5)},
      {"0cc", 1 | (2 << 2) | (2 << 5)},
      {"1nn", 2 | (3 << 2) | (3 << 5)},
      {"0tt", 1 | (4 << 2) | (4 << 5)},
      {"0t", 1 | (4 << 2) | (5 << 5)},
      {"0??1", 1 | (5 << 2) | (5 << 5)},
      {"0rr  ", 1 | (1 << 2) | (1 << 5)},
  };
  for (auto &c : cases) EXPECT_EQ(dd_reference_mode(c.text), c.mode) << '"' << c.text << '"';
}

TEST(DdRef, ChildReferencesAndParentLinks) {
  UseFixtureDictionary();
  DD_TABLE *child = ddtable("exemp010");
  ASSERT_NE(child, nullptr);
  ASSERT_EQ(child->ref_count, 4);
  // Sorted by the referencing column's name.
  EXPECT_STREQ(child->refs[0].column_name, "exemp010.dcas");
  EXPECT_STREQ(child->refs[3].column_name, "exemp010.drst");
  DD_REF *dept = ddfrom_ref("exemp010.dept");
  ASSERT_NE(dept, nullptr);
  EXPECT_EQ(dept->column, ddcolumn("exemp010.dept"));
  EXPECT_EQ(dept->table, child);
  EXPECT_STREQ(dept->ref_column, "exdep010.code");
  EXPECT_STREQ(dept->rf_text, "dept ref");
  EXPECT_EQ(DD_REFMODE_UPDATE(dept->mode), 1u);
  EXPECT_EQ(DD_REFMODE_DELETE(ddfrom_ref("exemp010.drst")->mode), 4u);
  EXPECT_EQ(ddfrom_ref("exemp010.emp"), nullptr);
  EXPECT_EQ(ddfrom_ref("exemp010emp"), nullptr);

  // The parent, loaded later, finds the records of the loaded child.
  DD_TABLE *parent = ddtable("exdep010");
  ASSERT_NE(parent, nullptr);
  ASSERT_EQ(parent->refby_count, 4);
  int n = 0;
  DD_REF **to = ddto_ref_list("exdep010.anything", &n);
  ASSERT_NE(to, nullptr);
  ASSERT_EQ(n, 4);
  for (int i = 0; i < n; ++i) {
    ASSERT_NE(to[i], nullptr);
    EXPECT_STREQ(to[i]->column_name, parent->refby[i].column_name);
  }
  EXPECT_EQ(parent->refby[1].mode, dept->mode);
  DD_REF *route[4];
  EXPECT_EQ(ref_route("exemp010.dcas", "exdep010.code", 3, route, 4), 1);
  EXPECT_EQ(route[0], ddfrom_ref("exemp010.dcas"));
  EXPECT_EQ(ref_route("exemp010.emp", "exdep010.code", 3, route, 4), -1);
}

TEST(DdRef, ParentFirstThenChildFillsTheSlots) {
  UseFixtureDictionary();
  ASSERT_NE(ddtable("exdep010"), nullptr);
  int n = 0;
  DD_REF **to = ddto_ref_list("exdep010.code", &n);
  ASSERT_EQ(n, 4);
  EXPECT_EQ(to[2], nullptr);
  ASSERT_NE(ddtable("exemp010"), nullptr);
  EXPECT_EQ(to[2], ddfrom_ref("exemp010.dnul"));
}

}  // namespace
