// Loading the fixture dictionary: layout of the row image, system and index
// columns, keys, groups, compared ranges and defaults.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dbc/dict/dd.h"
#include "dbc/dd_test_env.h"
#include "molvane/zdb.h"
#include "platform/mal.h"
#include "platform/yy_expr.h"

namespace {

using molvane::test::UseFixtureDictionary;

std::string Names(DD_COLUMN *const *list) {
  std::string out;
  for (int i = 0; list && list[i]; ++i) out += std::string(list[i]->name + 9) + " ";
  return out;
}

TEST(DdLoad, ChildTableRowLayout) {
  UseFixtureDictionary();
  DD_TABLE *t = ddtable("exemp010");
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t->name, "exemp010");
  // Offsets follow the dump order; the combined column takes no space and the
  // client field memo (not stored) lies before _dlock.
  struct {
    const char *column;
    int offset, length, type, depth;
  } layout[] = {
      {"dcas", 0, 6, DDT_STRING, 1},     {"dept", 6, 6, DDT_STRING, 1},   {"dnul", 12, 6, DDT_STRING, 1},
      {"drst", 18, 6, DDT_STRING, 1},    {"emp", 24, 4, DDT_LONG, 1},     {"flags", 28, 4, DDT_SET, 1},
      {"hired", 32, 4, DDT_DATE, 1},     {"memo", 36, 30, DDT_MBSTRING, 1}, {"name", 66, 20, DDT_STRING, 1},
      {"photo", 86, 4, DDT_RAW, 1},      {"salary", 90, 4, DDT_FLOAT, 1},   {"scores", 94, 6, DDT_SHORT, 3},
      {"status", 100, 1, DDT_ENUM, 1},   {"_dlock", 101, 4, DDT_LONG, 1},   {"_compnr", 105, 2, DDT_SHORT, 1},
      {"ident", 24, 24, DDT_COMBINED, 1},
  };
  for (auto &l : layout) {
    DD_COLUMN *c = ddcolumn_by_ddtable(t, l.column);
    ASSERT_NE(c, nullptr) << l.column;
    EXPECT_EQ(c->offset, l.offset) << l.column;
    EXPECT_EQ(c->length, l.length) << l.column;
    EXPECT_EQ(c->type, l.type) << l.column;
    EXPECT_EQ(c->depth, l.depth) << l.column;
  }
  EXPECT_EQ(t->dlock_offset, 101);
  EXPECT_EQ(t->row_length, 107);
  // 13 parsed columns + ident + 2 system columns + 3 index columns.
  EXPECT_EQ(t->column_count, 14 + 2 + 3);
  for (int i = 1; i < t->column_count; ++i)
    EXPECT_LT(std::strcmp(t->columns[i - 1].name, t->columns[i].name), 0);

  EXPECT_EQ(ddcolumn("exemp010.memo")->flags, DDF_NOT_STORED);
  EXPECT_EQ(ddcolumn("exemp010.emp")->flags, DDF_FILL | DDF_MEMBER);
  EXPECT_EQ(ddcolumn("exemp010.scores")->flags, DDF_ARRAY);
  EXPECT_EQ(ddcolumn("exemp010.dept")->flags, DDF_REFERS);
  EXPECT_EQ(ddcolumn("exemp010._dlock")->domain->length, 4);
  EXPECT_STREQ(ddcolumn("exemp010._compnr")->domain->name, "Dom.compnr");
  EXPECT_EQ(Names(ddcolumn("exemp010.ident")->members), "emp name ");
}

TEST(DdLoad, KeysAndIndexColumns) {
  UseFixtureDictionary();
  DD_TABLE *t = ddtable("exemp010");
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(t->key_count, 3);
  EXPECT_EQ(Names(search_key_parts(t, 1)), "emp ");
  EXPECT_EQ(Names(search_key_parts(t, 2)), "dept name ");
  EXPECT_EQ(key_desc(t, 2)->duplicates, 1);
  EXPECT_EQ(key_desc(t, 3)->a_digit, 1);
  EXPECT_EQ(key_desc(t, 4), nullptr);
  EXPECT_EQ(t->key_column, ddcolumn("exemp010.emp"));
  // The index column of a key with a combined part lists elementary columns.
  DD_COLUMN *ix3 = ddcolumn("exemp010._index3");
  ASSERT_NE(ix3, nullptr);
  EXPECT_EQ(ix3->flags, DDF_INDEX);
  EXPECT_EQ(Names(ix3->members), "emp name ");
  EXPECT_EQ(ix3->length, 24);
  EXPECT_EQ(ddcolumn("exemp010._index2")->length, 26);
  EXPECT_EQ(zdb_max_key_size_of_table(t), 26);
  DD_COLUMN *buf[DD_MAX_LIST + 1];
  EXPECT_EQ(Names(list_all_columns(search_key_parts(t, 3), buf)), "emp name ");
  EXPECT_EQ(Names(list_column_columns(ddcolumn("exemp010.memo"), buf)), "");
}

TEST(DdLoad, SortByOffsetGroupsRangesAndSList) {
  UseFixtureDictionary();
  DD_TABLE *t = ddtable("exemp010");
  ASSERT_NE(t, nullptr);
  DD_COLUMN *buf[64];
  EXPECT_EQ(Names(sort_columns_by_offset(t, buf)),
            "dcas dept dnul drst emp flags hired name photo salary scores status ");
  DD_COLUMN **own = sort_columns_by_offset(t, nullptr);
  EXPECT_EQ(get_nr_columns(own), 12);
  mal_free(own);
  // One group from the L section (hired and the members of ident), then one
  // per remaining stored column.
  const uint16_t *g = t->groups;
  ASSERT_NE(g, nullptr);
  ASSERT_EQ(g[1], 3);
  EXPECT_STREQ(t->columns[g[2]].name, "exemp010.hired");
  EXPECT_STREQ(t->columns[g[3]].name, "exemp010.emp");
  EXPECT_STREQ(t->columns[g[4]].name, "exemp010.name");
  EXPECT_EQ(g[0], 1 + 9);
  // Without an "A" section every stored column is compared: one run.
  EXPECT_EQ(t->compare_ranges[0], 0);
  EXPECT_EQ(t->compare_ranges[1], 36);
  EXPECT_EQ(t->compare_ranges[2], 66);
  EXPECT_EQ(t->compare_ranges[3], 35);
  EXPECT_EQ(t->compare_ranges[5], 0);
  EXPECT_EQ(Names(t->s_list), "name salary ");
}

TEST(DdLoad, DefaultRow) {
  UseFixtureDictionary();
  DD_TABLE *t = ddtable("exemp010");
  ASSERT_NE(t, nullptr);
  std::vector<unsigned char> row(t->row_length, 0xEE);
  fill_default_row(t, row.data());
  EXPECT_EQ(row[31], 5);                                    // flags
  EXPECT_EQ(std::string(row.begin() + 66, row.begin() + 86), std::string(20, ' '));
  EXPECT_EQ(row[86], 0x41);                                 // photo
  EXPECT_EQ(row[95], 7);                                    // scores[0]
  EXPECT_EQ(row[99], 7);                                    // scores[2]
  EXPECT_EQ(row[100], 2);                                   // status
  EXPECT_EQ(row[36], 0xEE);                                 // memo is not stored
  EXPECT_EQ(t->default_row[105], 0xFF);                     // _compnr
  EXPECT_EQ(t->default_row[106], 0xFF);
  char text[DD_DEFA_TEXT_MIN];
  EXPECT_STREQ(defa_domain(t, ddcolumn("exemp010.salary"), text, sizeof text), "1000.500000");
  EXPECT_STREQ(defa_domain(t, ddcolumn("exemp010.photo"), text, sizeof text), "41000000");
  EXPECT_STREQ(defa_domain(t, ddcolumn("exemp010.scores"), text, sizeof text), "7");
  // A buffer too small for the text is never written past: the text is
  // refused (empty, null result) rather than cut.
  struct Small {
    const char *column;
    std::size_t size;
  };
  for (const Small &c : {Small{"exemp010.salary", 11}, Small{"exemp010.photo", 8},
                         Small{"exemp010.scores", 1}}) {
    std::vector<char> small(c.size, 'z');
    EXPECT_EQ(defa_domain(t, ddcolumn(c.column), small.data(), small.size()), nullptr) << c.column;
    EXPECT_EQ(small[0], '\0') << c.column;
  }
  EXPECT_STREQ(defa_domain(t, ddcolumn("exemp010.salary"), text, 12), "1000.500000");
}

TEST(DdLoad, ParentTableHeaderAndComparedColumns) {
  UseFixtureDictionary();
  DD_TABLE *t = ddtable("exdep010");
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t->header_u, "dept in use");
  EXPECT_STREQ(t->header_d, "staff exists");
  EXPECT_EQ(t->refcnt_u, ddcolumn("exdep010.Refcntu"));
  EXPECT_EQ(t->refcnt_d, ddcolumn("exdep010.Refcntd"));
  // code (16..21) and name (22..41) merge; status (46) stands alone.
  const uint16_t *r = t->compare_ranges;
  EXPECT_EQ(r[0], 16);
  EXPECT_EQ(r[1], 26);
  EXPECT_EQ(r[2], 46);
  EXPECT_EQ(r[3], 1);
  EXPECT_EQ(r[5], 0);
  EXPECT_TRUE(ddcolumn("exdep010.code")->flags & DDF_COMPARED);
  EXPECT_EQ(t->groups, nullptr);
}

// The exported lookups say what they did not find, each call with a
// message of its own; one that finds leaves the number it found.
TEST(DdLoad, MissingTableOrColumnIsNamedInTheMessage) {
  UseFixtureDictionary();
  const std::string missing = "Table exnon010 not found in data dictionary (no dump dexnon010 in " +
                              molvane::test::FixturePath("zuv/dict") + ")";
  zdb_errno = 0;
  EXPECT_EQ(ddtable("exnon010"), nullptr);
  EXPECT_EQ(zdb_errno, 513);
  EXPECT_EQ(get_zdb_msg(), missing);
  zdb_errno = 0;
  EXPECT_EQ(ddcolumn("exnon010.code"), nullptr);
  EXPECT_EQ(zdb_errno, 513);
  EXPECT_EQ(get_zdb_msg(), missing);
  EXPECT_EQ(ddcolumn("exdep010.cod"), nullptr);
  EXPECT_EQ(zdb_errno, 504);
  EXPECT_STREQ(get_zdb_msg(),
               "Invalid column 'exdep010.cod': exdep010 has no column cod (its columns: Refcntd, "
               "Refcntu, budget, code, name, opened, status)");
  EXPECT_NE(ddcolumn("exdep010.code"), nullptr);
  EXPECT_EQ(zdb_errno, 504);
  EXPECT_STREQ(get_zdb_msg(), "");
}

TEST(DdLoad, AuditAndTextTables) {
  UseFixtureDictionary();
  DD_TABLE *aud = ddtable("ttaud110");
  ASSERT_NE(aud, nullptr);
  EXPECT_EQ(ddcolumn("ttaud110.trid")->length, 20);
  EXPECT_EQ(ddcolumn("ttaud110.comt")->type, DDT_TIME);
  EXPECT_EQ(ddcolumn("ttaud110.sess")->length, 13);
  EXPECT_EQ(ddcolumn("ttaud110.tsnr")->type, DDT_SHORT);
  EXPECT_EQ(ddcolumn("ttaud110.trof")->type, DDT_LONG);
  DD_TABLE *txt = ddtable("tttxt010");
  ASSERT_NE(txt, nullptr);
  EXPECT_EQ(ddcolumn("tttxt010.ctxt")->type, DDT_LONG_U);
  EXPECT_EQ(ddcolumn("tttxt010.clan")->length, 1);
  EXPECT_EQ(Names(search_key_parts(txt, 1)), "ctxt clan seqe ");
}

TEST(DdLoad, DomainsOfEveryTypeLetter) {
  UseFixtureDictionary();
  struct {
    const char *name;
    int type, length;
  } cases[] = {
      {"exbyte", DDT_BYTE, 1},     {"exflag", DDT_BYTE, 1},   {"exshort", DDT_SHORT, 2},
      {"excount", DDT_LONG, 4},    {"exprice", DDT_FLOAT, 4}, {"examount", DDT_DOUBLE, 8},
      {"excode", DDT_STRING, 6},   {"exdate", DDT_DATE, 4},   {"extime", DDT_TIME, 4},
      {"exnumu", DDT_LONG_U, 4},   {"exnumv", DDT_LONG_V, 4}, {"exstatus", DDT_ENUM, 1},
      {"exopts", DDT_SET, 4},      {"excomb", DDT_COMBINED, 0}, {"exmbtext", DDT_MBSTRING, 30},
      {"exraw", DDT_RAW, 4},
  };
  for (auto &c : cases) {
    DD_DOMAIN *d = dddomain_with_read(c.name);
    ASSERT_NE(d, nullptr) << c.name;
    EXPECT_EQ(d->type, c.type) << c.name;
    EXPECT_EQ(d->length, c.length) << c.name;
    char full[16];
    EXPECT_STREQ(dddomainname_from_domain(d, full), c.name);
  }
  EXPECT_EQ(dddomain("exflag")->flag, 1);
  EXPECT_EQ(dddomain("exbyte")->flag, 0);
  EXPECT_EQ(dddomain("excode")->value, 'u');
  EXPECT_EQ(dddomain("exnumu")->value, 7);
  EXPECT_EQ(dddomain("examount")->digits_before, 10);
  EXPECT_EQ(dddomain("examount")->digits_after, 2);
  const char *attrs[5];
  extract_dom_attributes(dddomain("excode"), attrs);
  EXPECT_STREQ(attrs[0], "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-");
  EXPECT_STREQ(attrs[1], "");
  extract_dom_attributes(dddomain("exname"), attrs);
  EXPECT_STREQ(attrs[1], "~^");
  EXPECT_EQ(dddomain("exnothere"), nullptr);
  // Ranges are compiled once at load.
  EXPECT_EQ(dddomain("exbyte")->range, nullptr);
  const auto *range = static_cast<const YY_EXPR *>(dddomain("exshort")->range);
  ASSERT_NE(range, nullptr);
  int32_t in = -100, out = 101;
  EXPECT_NE(yy_b_express(range, YY_INTEGER, &in), 0);
  EXPECT_EQ(yy_b_express(range, YY_INTEGER, &out), 0);
}

}  // namespace
