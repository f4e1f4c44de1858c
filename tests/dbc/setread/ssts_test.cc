// Set reads against a stand-in of the sql_* calls that answers from rows in
// memory: the generated SELECT of every read kind, a scan that runs on
// across the end of one set into the next, no continuation after an
// equality read, a new SELECT after change_order, repeated end errors, and
// the value forms of the binds and of the fetched fields.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <molvane/datetime.h>
#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>

#include "dbc/dict/dd.h"
#include "dbc/dlock/dlock.h"
#include "dbc/setread/row_target.h"
#include "dbc/setread/sql_calls.h"
#include "dbc/setread/ssts.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "support/fake_sql.h"
#include "support/test_env.h"

namespace {

using molvane::test::FakeSql;

class SetReads : public testing::Test {
 protected:
  void SetUp() override {
    set_zuv(molvane::test::FixturePath("zuv").c_str());
    init_local_dd();
    table_ = ddtable("exdep010");
    ASSERT_NE(table_, nullptr);
    dbc_state().logged_on = true;
    trans_.id = 1;
    std::strcpy(trans_.name, "t1");
    dbc_state().id_in_use[1] = true;
    dbc_state().trans_list = &trans_;
    key_ = ZDB_TABLE_COMPNR{nullptr, table_, 1};
    session_.trans = &trans_;
    tsession_.session = &session_;
    tsession_.key = &key_;
    tsession_.dlock.table = table_;
    tsession_.dlock.compnr = 1;
    tsession_.dlock.trans = &trans_;
    tsession_.open = &icursor_;
    icursor_.tsession = &tsession_;
    icursor_.company = &company_;
    icursor_.cursor = &cursor_;
    company_.logical = company_.physical = 1;
    company_.head = &icursor_;
    company_.row.assign(table_->row_length, 0);
    int key_size = zdb_max_key_size_of_table(table_);
    company_.key_buf[0].assign(key_size, 0);
    company_.key_buf[1].assign(key_size, 0);
    row_.assign(table_->row_length, 0);
    cursor_.table = table_;
    cursor_.trans = &trans_;
    cursor_.heads = &icursor_;
    cursor_.host_row = row_.data();
    cursor_.default_compnr = 1;
    zdb_register_cursor(&cursor_);
    code_ = ddcolumn("exdep010.code");
    name_ = ddcolumn("exdep010.name");
    // Departments A..G; names in pairs so that index 2 has duplicates.
    const char *names[] = {"North", "North", "South", "South", "West", "West", "Zeta"};
    for (int i = 0; i < 7; ++i) {
      std::vector<unsigned char> row(table_->row_length, 0);
      fill_default_row(table_, row.data());
      Set(row.data(), code_, std::string(1, static_cast<char>('A' + i)));
      Set(row.data(), name_, names[i]);
      sql_.Put(table_, 1, row.data());
    }
  }
  void TearDown() override {
    zdb_unregister_cursor(&cursor_);
    close_all_sql_handle(&icursor_);
    rm_dlock(&tsession_);
    dbc_state().trans_list = nullptr;
  }

  static void Set(unsigned char *row, const DD_COLUMN *c, const std::string &text) {
    std::memset(row + c->offset, ' ', c->length);
    std::memcpy(row + c->offset, text.data(), text.size());
  }
  std::string Get(const DD_COLUMN *c) const {
    std::string s(reinterpret_cast<const char *>(row_.data()) + c->offset, c->length);
    return s.substr(0, s.find_last_not_of(' ') + 1);
  }
  int Read(int action) { return zdb_exec_row(&cursor_, action, 0, 1); }
  int ChangeOrder(int index) {
    int argument[1] = {index};
    return zdb_exec_table(&cursor_, change_order, argument, 1);
  }

  FakeSql sql_;
  DD_TABLE *table_ = nullptr;
  const DD_COLUMN *code_ = nullptr;
  const DD_COLUMN *name_ = nullptr;
  ZDB_TRANS trans_;
  ZDB_SESSION session_;
  ZDB_TABLE_COMPNR key_{};
  ZDB_TABLE_SESSION tsession_;
  ZDB_INTERNAL_CURSOR icursor_;
  ZDB_COMPANY company_;
  ZDB_CURSOR cursor_;
  std::vector<unsigned char> row_;
};

struct GoldenCase {
  int index;
  int before;  // a positioning read first (0 none)
  int action;
  const char *text;
};

class GoldenSelect : public SetReads, public testing::WithParamInterface<GoldenCase> {};

TEST_P(GoldenSelect, TextOfTheRead) {
  const GoldenCase &c = GetParam();
  if (c.index != 1) {
    ASSERT_EQ(ChangeOrder(c.index), 0);
  }
  Set(row_.data(), code_, "C");
  Set(row_.data(), name_, "South");
  if (c.before != 0) {
    ASSERT_EQ(Read(c.before), 0);
  }
  ASSERT_EQ(Read(c.action), 0) << zdb_errno;
  ASSERT_FALSE(sql_.parsed.empty());
  EXPECT_EQ(sql_.parsed.back(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    EveryReadKind, GoldenSelect,
    testing::Values(
        GoldenCase{1, 0, db_first,
                   "SELECT exdep010.* FROM exdep010 WHERE exdep010._index1 >= { :1 } ORDER BY  "
                   "exdep010.code ASC AS SET WITH 3 ROWS"},
        GoldenCase{1, 0, db_ge,
                   "SELECT exdep010.* FROM exdep010 WHERE exdep010._index1 >= { :1 } ORDER BY  "
                   "exdep010.code ASC AS SET WITH 3 ROWS"},
        GoldenCase{1, 0, db_last,
                   "SELECT exdep010.* FROM exdep010 WHERE exdep010._index1 <= { :1 } ORDER BY  "
                   "exdep010.code DESC AS SET WITH 3 ROWS"},
        GoldenCase{1, 0, db_le_delayed,
                   "SELECT exdep010.* FROM exdep010 WHERE exdep010._index1 <= { :1 } ORDER BY  "
                   "exdep010.code DESC AS SET WITH 3 ROWS"},
        GoldenCase{1, 0, db_gt_51,
                   "SELECT exdep010.* FROM exdep010 WHERE exdep010._index1 > { :1 } ORDER BY  "
                   "exdep010.code ASC AS SET WITH 3 ROWS"},
        GoldenCase{1, 0, db_lt,
                   "SELECT exdep010.* FROM exdep010 WHERE exdep010._index1 < { :1 } ORDER BY  "
                   "exdep010.code DESC AS SET WITH 3 ROWS"},
        GoldenCase{1, db_eq_51, db_curr,
                   "SELECT exdep010.* FROM exdep010 WHERE exdep010._index1 = { :1 }  AS SET WITH 3 "
                   "ROWS"},
        GoldenCase{1, db_ge, db_prev,
                   "SELECT exdep010.* FROM exdep010 WHERE exdep010._index1 < { :1 } ORDER BY  "
                   "exdep010.code DESC AS SET WITH 3 ROWS"},
        GoldenCase{2, 0, db_eq,
                   "SELECT exdep010.* FROM exdep010 WHERE exdep010._index2 = { :1 } ORDER BY  "
                   "exdep010.name ASC,  exdep010.code ASC AS SET WITH 3 ROWS"},
        GoldenCase{2, db_eq, db_next,
                   "SELECT exdep010.* FROM exdep010 WHERE exdep010._index2 > { :1 } OR ( "
                   "exdep010._index2 = { :1 } AND exdep010._index1 > {:2 } ) ORDER BY  "
                   "exdep010.name ASC,  exdep010.code ASC AS SET WITH 3 ROWS"},
        GoldenCase{2, db_eq, db_prev,
                   "SELECT exdep010.* FROM exdep010 WHERE exdep010._index2 < { :1 } OR ( "
                   "exdep010._index2 = { :1 } AND exdep010._index1 < {:2 } ) ORDER BY  "
                   "exdep010.name DESC,  exdep010.code DESC AS SET WITH 3 ROWS"},
        GoldenCase{2, db_eq, db_curr,
                   "SELECT exdep010.* FROM exdep010 WHERE exdep010._index2 = { :1 } AND "
                   "exdep010._index1 = { :2 } ORDER BY  exdep010.name ASC,  exdep010.code ASC AS "
                   "SET WITH 3 ROWS"}));

TEST_F(SetReads, FirstThenNextRunsOnAcrossTheEndOfASet) {
  ASSERT_EQ(Read(db_first), 0);
  EXPECT_EQ(Get(code_), "A");
  std::string seen = Get(code_);
  while (Read(db_next) == 0) seen += Get(code_);
  EXPECT_EQ(seen, "ABCDEFG") << testing::PrintToString(sql_.parsed);
  EXPECT_EQ(zdb_errno, 110);
  // Three rows a set: A-C from the first SELECT, D-F and G from two next
  // SELECTs started after the last row delivered.
  EXPECT_EQ(sql_.executes, 3);
  EXPECT_EQ(sql_.parsed.size(), 2u);
  // The end repeats from the stored error without another SELECT (the row
  // actions themselves refuse a next without a current record).
  int executes = sql_.executes, fetches = sql_.fetches;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ssts_call(SSTS_READ, row_.data(), db_next, &icursor_), 1);
    EXPECT_EQ(zdb_errno, 110);
  }
  EXPECT_EQ(Read(db_next), -1);
  EXPECT_EQ(zdb_errno, 112);
  EXPECT_EQ(sql_.executes, executes);
  EXPECT_EQ(sql_.fetches, fetches);
}

TEST_F(SetReads, BackwardScanFromTheLastRow) {
  ASSERT_EQ(Read(db_last), 0);
  std::string seen = Get(code_);
  while (Read(db_prev) == 0) seen += Get(code_);
  EXPECT_EQ(seen, "GFEDCBA");
  EXPECT_EQ(zdb_errno, 110);
}

TEST_F(SetReads, NextAfterAnEqualReadStartsANewSelect) {
  ASSERT_EQ(ChangeOrder(2), 0);
  Set(row_.data(), name_, "North");
  ASSERT_EQ(Read(db_eq), 0);
  EXPECT_EQ(Get(code_), "A");
  int executes = sql_.executes;
  ASSERT_EQ(Read(db_next), 0);
  EXPECT_EQ(sql_.executes, executes + 1);
  EXPECT_EQ(Get(code_), "B");  // the duplicate of the same name, by primary key
  ASSERT_EQ(Read(db_next), 0);
  EXPECT_EQ(Get(code_), "C");
  EXPECT_EQ(sql_.executes, executes + 1);  // inside the open set
}

TEST_F(SetReads, EqualReadOnIndexOneIsTheCurrentPositionOfANext) {
  std::vector<unsigned char> row(table_->row_length, 0);
  Set(row.data(), code_, "D");
  zdb_set_ssts_curr_info(&icursor_, row.data());
  company_.row_state |= ZDB_ROW_CURRENT | ZDB_ROW_POSITION;
  ASSERT_EQ(Read(db_next), 0);
  EXPECT_EQ(Get(code_), "E");
}

TEST_F(SetReads, ChangeOrderParsesTheSetAnew) {
  ASSERT_EQ(Read(db_first), 0);
  ASSERT_EQ(ChangeOrder(2), 0);
  int closes = sql_.closes;
  ASSERT_EQ(Read(db_first), 0);
  EXPECT_EQ(sql_.closes, closes + 1);
  EXPECT_NE(sql_.parsed.back().find("_index2 >= { :1 }"), std::string::npos);
  EXPECT_EQ(Get(name_), "North");
  EXPECT_EQ(sql_.open_statements, 1);
}

TEST_F(SetReads, ReadsPastTheEndReportByKind) {
  Set(row_.data(), code_, "Z");
  EXPECT_EQ(Read(db_gt), -1);
  EXPECT_EQ(zdb_errno, 111);
  EXPECT_EQ(Read(db_ge), -1);
  EXPECT_EQ(zdb_errno, 111);
  ASSERT_EQ(ChangeOrder(2), 0);
  Set(row_.data(), name_, "Nowhere");
  EXPECT_EQ(Read(db_eq), -1);
  EXPECT_EQ(zdb_errno, 111);
  sql_.Clear();
  EXPECT_EQ(Read(db_first), -1);
  EXPECT_EQ(zdb_errno, 110);
}

TEST_F(SetReads, DelayedReadStoresTheRowUnderOneId) {
  ASSERT_EQ(Read(db_first_delayed), 0);
  int id = get_dlock_from_row(table_, row_.data());
  EXPECT_GT(id, 0);
  EXPECT_EQ(company_.dlock_id, id);
  ASSERT_EQ(Read(db_next_delayed), 0);
  EXPECT_EQ(get_dlock_from_row(table_, row_.data()), id);  // the entry follows the cursor
  ASSERT_EQ(Read(db_next), 0);
  EXPECT_EQ(get_dlock_from_row(table_, row_.data()), 0);
}

TEST_F(SetReads, CallbacksArePutBackAfterEveryRead) {
  auto before5 = sql_.slots[SQL_FUNC_CRT_EXTVAR];
  auto before7 = sql_.slots[SQL_FUNC_PUT_EXTVAR];
  ASSERT_EQ(Read(db_first), 0);
  Set(row_.data(), code_, "Z");
  EXPECT_EQ(Read(db_gt), -1);
  EXPECT_EQ(sql_.slots[SQL_FUNC_CRT_EXTVAR], before5);
  EXPECT_EQ(sql_.slots[SQL_FUNC_PUT_EXTVAR], before7);
}

TEST_F(SetReads, BreakAndCloseOfAllHandles) {
  ASSERT_EQ(Read(db_first), 0);
  ASSERT_EQ(Read(db_last), 0);
  EXPECT_EQ(break_all_sql_handle(&icursor_), 0);
  EXPECT_EQ(sql_.open_statements, 2);
  // A broken set binds and executes again; it does not continue.
  int executes = sql_.executes;
  ASSERT_EQ(Read(db_prev), 0);
  EXPECT_EQ(Get(code_), "F");
  EXPECT_EQ(sql_.executes, executes + 1);
  EXPECT_EQ(close_all_sql_handle(&icursor_), 0);
  EXPECT_EQ(sql_.open_statements, 0);
}

TEST_F(SetReads, LockedReadOnALockedTableLocksNoRowAgain) {
  // Without a driver a lock of each row by its key would fail: the read
  // succeeds because the table lock already covers the rows.
  tsession_.flags |= ZDB_TS_LOCKED;
  ASSERT_EQ(Read(db_first_locked), 0) << zdb_errno;
  EXPECT_EQ(Get(code_), "A");
  EXPECT_GT(get_dlock_from_row(table_, row_.data()), 0);
}

TEST_F(SetReads, ChangesOtherThanUpdatesLeaveThePositionAlone) {
  ASSERT_EQ(Read(db_first), 0);
  std::vector<unsigned char> other(table_->row_length, 0);
  Set(other.data(), code_, "E");
  EXPECT_EQ(ssts_call(SSTS_CHANGED, other.data(), db_insert, &icursor_), 0);
  EXPECT_EQ(ssts_call(SSTS_CHANGED, other.data(), db_delete, &icursor_), 0);
  EXPECT_EQ(std::string(company_.key_buf[0].begin(), company_.key_buf[0].begin() + 1), "A");
  // An update moves the current key to the row written.
  EXPECT_EQ(ssts_call(SSTS_CHANGED, other.data(), db_update, &icursor_), 0);
  EXPECT_EQ(std::string(company_.key_buf[0].begin(), company_.key_buf[0].begin() + 1), "E");
}

TEST_F(SetReads, RowsPerSetOfLaterStatements) {
  EXPECT_EQ(ssts_set_rows(2), 0);
  ASSERT_EQ(Read(db_first), 0);
  EXPECT_NE(sql_.parsed.back().find("AS SET WITH 2 ROWS"), std::string::npos);
  ASSERT_EQ(Read(db_next), 0);
  ASSERT_EQ(Read(db_next), 0);
  EXPECT_EQ(Get(code_), "C");
  EXPECT_EQ(sql_.executes, 2);
}

TEST_F(SetReads, CombinedIndexPartsStandForTheirMembers) {
  set_zuv(molvane::test::FixturePath("zuv").c_str());
  const DD_TABLE *emp = ddtable("exemp010");
  ASSERT_NE(emp, nullptr);
  std::string text;
  ASSERT_TRUE(ssts_build_select(emp, 3, ">=", "ASC", SSTS_DIR_FORWARD, 3, &text));
  EXPECT_EQ(text,
            "SELECT exemp010.* FROM exemp010 WHERE exemp010._index3 >= { :1, :2 } ORDER BY  "
            "exemp010.emp ASC,  exemp010.name ASC AS SET WITH 3 ROWS");
  ASSERT_TRUE(ssts_build_select(emp, 2, "<", "DESC", 12, 3, &text));
  EXPECT_EQ(text,
            "SELECT exemp010.* FROM exemp010 WHERE exemp010._index2 < { :1, :2 } OR ( "
            "exemp010._index2 = { :1, :2 } AND exemp010._index1 < {:3 } ) ORDER BY  exemp010.dept "
            "DESC,  exemp010.name DESC,  exemp010.emp DESC AS SET WITH 3 ROWS");
  EXPECT_FALSE(ssts_build_select(emp, 9, "=", nullptr, SSTS_DIR_EQUAL, 3, &text));
  EXPECT_EQ(zdb_errno, 215);
}

TEST_F(SetReads, AnActionThatIsNoReadIsRefused) {
  EXPECT_EQ(ssts_call(SSTS_READ, row_.data(), db_insert, &icursor_), 1);
  EXPECT_EQ(zdb_errno, 215);
  EXPECT_TRUE(sql_.parsed.empty());
}

// ---- value forms ----

DD_COLUMN Column(int type, int length, int offset = 0) {
  DD_COLUMN c{};
  c.type = static_cast<std::uint8_t>(type);
  c.length = static_cast<std::uint16_t>(length);
  c.depth = 1;
  c.offset = static_cast<std::uint16_t>(offset);
  std::strcpy(c.name, "exdep010.test");
  return c;
}

struct ExtremeCase {
  int type, length;
  std::vector<unsigned char> low, high;
};

class ExtremeValues : public testing::TestWithParam<ExtremeCase> {};

TEST_P(ExtremeValues, LowestAndHighestInStoredForm) {
  const ExtremeCase &c = GetParam();
  DD_COLUMN column = Column(c.type, c.length);
  std::vector<unsigned char> row(c.length, 0xAA);
  ASSERT_EQ(ssts_extreme_value(&column, row.data(), false), 0);
  EXPECT_EQ(row, c.low);
  ASSERT_EQ(ssts_extreme_value(&column, row.data(), true), 0);
  EXPECT_EQ(row, c.high);
}

INSTANTIATE_TEST_SUITE_P(
    Types, ExtremeValues,
    testing::Values(
        // One-byte columns compare unsigned: up to 255.
        ExtremeCase{DDT_BYTE, 1, {0x00}, {0xFF}}, ExtremeCase{DDT_ENUM, 1, {0x00}, {0xFF}},
        ExtremeCase{DDT_SHORT, 2, {0x80, 0x00}, {0x7F, 0xFF}},
        ExtremeCase{DDT_LONG, 4, {0x80, 0, 0, 0}, {0x7F, 0xFF, 0xFF, 0xFF}},
        ExtremeCase{DDT_DATE, 4, {0, 0, 0, 0}, {0x00, 0x37, 0xB9, 0xDB}},
        ExtremeCase{DDT_TIME, 4, {0, 0, 0, 0}, {0x7F, 0xFF, 0xFF, 0xFF}},
        ExtremeCase{DDT_DOUBLE, 8, {0xA7, 0x96, 0x11, 0xA7, 0xCC, 0x1B, 0xB6, 0xCF},
                    {0xA7, 0x96, 0x11, 0xA7, 0xCC, 0x1B, 0xB6, 0x4F}}));

TEST(ExtremeValuesRefused, ColumnTypeWithoutValues) {
  DD_COLUMN column = Column(DDT_COMBINED, 0);
  unsigned char row[4] = {};
  EXPECT_EQ(ssts_extreme_value(&column, row, true), 1);
  EXPECT_EQ(zdb_errno, 215);
}

TEST(FetchedFields, TextsNeverRunPastTheirColumn) {
  std::vector<unsigned char> row(16, '.');
  DD_COLUMN column = Column(DDT_STRING, 4, 2);
  DbcRowTarget target(row.data(), nullptr);
  unsigned char value[12];
  std::memset(value, 'X', sizeof value);
  dbc_row_put_extvar(reinterpret_cast<char *>(&column), value, SQL_TYPE_STRING, 12, nullptr);
  EXPECT_EQ(std::string(row.begin(), row.end()), "..XXXX..........");
}

TEST(FetchedFields, IntegersAndRealsTakeTheColumnWidth) {
  std::vector<unsigned char> row(16, 0);
  DbcRowTarget target(row.data(), nullptr);
  DD_COLUMN byte = Column(DDT_BYTE, 1, 0), shrt = Column(DDT_SHORT, 2, 1),
            flt = Column(DDT_FLOAT, 4, 4);
  unsigned char int_value[4] = {0, 0, 0, 200};
  dbc_row_put_extvar(reinterpret_cast<char *>(&byte), int_value, SQL_TYPE_INTEGER, 4, nullptr);
  unsigned char neg[4] = {0xFF, 0xFF, 0xFF, 0x38};
  dbc_row_put_extvar(reinterpret_cast<char *>(&shrt), neg, SQL_TYPE_INTEGER, 4, nullptr);
  unsigned char real[8];
  double_in(2.5, real);
  dbc_row_put_extvar(reinterpret_cast<char *>(&flt), real, SQL_TYPE_REAL, 8, nullptr);
  EXPECT_EQ(row[0], 200);
  EXPECT_EQ(row[1], 0xFF);
  EXPECT_EQ(row[2], 0x38);
  EXPECT_EQ(float_out(row.data() + 4), 2.5);
}

// Binds captured by a table of functions of their own.
struct Bound {
  std::string name;
  int type, length;
  long long integer;
  double real;
};
std::vector<Bound> g_bound;
int CaptureBind(QPCStatement *, const char *name, int type, int length, void *value) {
  Bound b{name, type, length, 0, 0};
  if (type == 3) b.integer = *static_cast<std::int32_t *>(value);
  if (type == 5) b.real = *static_cast<double *>(value);
  g_bound.push_back(b);
  return 0;
}

TEST(KeyBinds, EachValueIsReadAtItsOwnWidth) {
  DBC_SQL_CALLS calls = dbc_sql();
  calls.wh_bind = CaptureBind;
  const DBC_SQL_CALLS *previous = dbc_set_sql_calls(&calls);
  // A packed key: byte 250, short -2, float 1.5, enumeration 254.
  unsigned char key[8] = {250, 0xFF, 0xFE, 0, 0, 0, 0, 254};
  float_in(1.5, key + 3);
  DD_COLUMN byte = Column(DDT_BYTE, 1), shrt = Column(DDT_SHORT, 2), flt = Column(DDT_FLOAT, 4),
            enm = Column(DDT_ENUM, 1);
  EXPECT_EQ(dbc_sql_bind_column(nullptr, 1, &byte, key, 15), 0);
  EXPECT_EQ(dbc_sql_bind_column(nullptr, 2, &shrt, key + 1, 15), 0);
  EXPECT_EQ(dbc_sql_bind_column(nullptr, 3, &flt, key + 3, 15), 0);
  EXPECT_EQ(dbc_sql_bind_column(nullptr, 4, &enm, key + 7, 15), 0);
  dbc_set_sql_calls(previous);
  ASSERT_EQ(g_bound.size(), 4u);
  EXPECT_EQ(g_bound[0].name, "1");
  EXPECT_EQ(g_bound[0].integer, 250);
  EXPECT_EQ(g_bound[1].integer, -2);
  EXPECT_EQ(g_bound[2].type, 5);
  EXPECT_EQ(g_bound[2].real, 1.5);
  EXPECT_EQ(g_bound[3].integer, 254);
}

}  // namespace
