// Referential integrity over two tables on two reference drivers, so that
// the client does the reference work itself: the children are found by the
// generated SQL through the in-memory stand-in of the sql_* calls, the rows
// themselves live in the drivers. exemp010 references exdep010 with four
// columns: dcas cascades, dept is counted, dnul empties, drst restricts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_detail.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_refs.h>

#include "dbc/dict/dd.h"
#include "dbc/refs/refs.h"
#include "dbc/session/zdb_trans.h"
#include "support/fake_sql.h"
#include "support/test_env.h"

namespace {

using molvane::test::FakeSql;
using molvane::test::FixturePath;
using molvane::test::ScratchDir;

std::int32_t Int(const unsigned char *p) {
  return static_cast<std::int32_t>((std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3]);
}

struct Table {
  ZDB_CURSOR *cursor = nullptr;
  const DD_TABLE *dd = nullptr;
  std::vector<unsigned char> row;

  void Set(const char *column, const std::string &text) {
    const DD_COLUMN *c = ddcolumn(column);
    std::memset(row.data() + c->offset, ' ', c->length);
    std::memcpy(row.data() + c->offset, text.data(), std::min<std::size_t>(text.size(), c->length));
  }
  void SetInt(const char *column, std::int32_t v) {
    const DD_COLUMN *c = ddcolumn(column);
    for (int i = 0; i < 4; ++i) row[c->offset + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
  }
  std::string Text(const char *column) const {
    const DD_COLUMN *c = ddcolumn(column);
    std::string s(reinterpret_cast<const char *>(row.data()) + c->offset, c->length);
    return s.substr(0, s.find_last_not_of(' ') + 1);
  }
  std::int32_t Number(const char *column) const { return Int(row.data() + ddcolumn(column)->offset); }
};

class IndexCover : public testing::Test {
 protected:
  void SetUp() override {
    set_zuv(FixturePath("zuv").c_str());
    init_local_dd();
  }
  static std::vector<DD_COLUMN *> Columns(std::initializer_list<const char *> names) {
    std::vector<DD_COLUMN *> list;
    for (const char *n : names) list.push_back(ddcolumn(n));
    return list;
  }
};

TEST_F(IndexCover, HowAnIndexCoversAColumnList) {
  const DD_TABLE *emp = ddtable("exemp010");
  ASSERT_NE(emp, nullptr);
  EXPECT_EQ(key_for_cols(emp, Columns({"exemp010.emp"})), 1);
  EXPECT_EQ(key_for_cols(emp, Columns({"exemp010.dept", "exemp010.name"})), 2);
  EXPECT_EQ(key_for_cols(emp, Columns({"exemp010.dept"})), 4);
  EXPECT_EQ(key_for_cols(emp, Columns({"exemp010.hired"})), 5);
  // dcas and dnul lead to no index of the children: the work takes long.
  EXPECT_EQ(zdb_reference_duration(ddcolumn("exdep010.code"), db_delete), 1);
  EXPECT_EQ(zdb_reference_duration(ddcolumn("exdep010.code"), db_insert), -1);
  int markers[2] = {5, 5};
  init_ref_counts(markers, ddcolumn("exdep010.code"));
  EXPECT_EQ(markers[0], 0);
  EXPECT_EQ(markers[1], 0);
  init_ref_counts(markers, ddcolumn("exemp010.emp"));
  EXPECT_EQ(markers[0], -1);
}

TEST_F(IndexCover, EmptyAndFilledKeys) {
  std::vector<DD_COLUMN *> columns = Columns({"exemp010.dept", "exemp010.emp"});
  std::vector<unsigned char> key(10, 0);
  ASSERT_EQ(nullify_key(columns, key.data()), 0);
  EXPECT_EQ(std::string(key.begin(), key.begin() + 6), "      ");
  EXPECT_EQ(dbc_chk_key_filled(columns, key.data()), 0);
  std::memcpy(key.data(), "A", 1);
  key[9] = 7;
  EXPECT_EQ(dbc_chk_key_filled(columns, key.data()), 1);
  EXPECT_EQ(dbc_key_text(columns, key.data()), "A, 7");
}

class References : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy(FixturePath("zuv/dict"), root_.path() + "/dict",
                          std::filesystem::copy_options::recursive);
    root_.WriteFile("lib/ipc_info", "msqlite child " + std::string(MOLVANE_BINARY_DIR) +
                                        "/driver/molvane-driver\n");
    // The parents on one driver, the children on another.
    root_.WriteFile("lib/tabledef1", "exdep::msqlite(" + root_.path() + "/dep.db)\nexemp::msqlite(" +
                                         root_.path() + "/emp.db)\n");
    set_zuv(root_.path().c_str());
  }
  void TearDown() override {
    if (id_ != 0) zdb_logoff();
  }

  void Start() {
    ASSERT_EQ(zdb_init_api("test_refs", nullptr, 0, 0), 0);
    ASSERT_EQ(zdb_logon("ann"), 0);
    id_ = zdb_start_session("refs");
    ASSERT_GT(id_, 0);
    Open(&dep_, "exdep010");
    Open(&emp_, "exemp010");
  }
  void Open(Table *t, const char *name) {
    t->dd = ddtable(name);
    ASSERT_NE(t->dd, nullptr);
    t->row.assign(t->dd->row_length, 0);
    ASSERT_EQ(zdb_open(&t->cursor, name, 1, t->row.data(), 0, id_), 0);
    int argument = 0;
    ASSERT_EQ(zdb_exec_table(t->cursor, create_table, &argument, 1), 0) << zdb_errno;
  }
  int Dept(const std::string &code) {
    fill_default_row(dep_.dd, dep_.row.data());
    dep_.Set("exdep010.code", code);
    int rc = zdb_exec_row(dep_.cursor, db_insert, 0, 1);
    if (rc == 0) Remember(dep_, "exdep010.code", code);
    return rc;
  }
  int Emp(int number, const std::string &dcas, const std::string &dept, const std::string &dnul,
          const std::string &drst) {
    fill_default_row(emp_.dd, emp_.row.data());
    emp_.SetInt("exemp010.emp", number);
    emp_.Set("exemp010.dcas", dcas);
    emp_.Set("exemp010.dept", dept);
    emp_.Set("exemp010.dnul", dnul);
    emp_.Set("exemp010.drst", drst);
    int rc = zdb_exec_row(emp_.cursor, db_insert, 0, 1);
    if (rc == 0) {
      EXPECT_EQ(ReadEmp(number, db_eq), 0);
      sql_.Put(emp_.dd, 1, emp_.row.data());
    }
    return rc;
  }
  // Reads a department into the parent's row; the stand-in keeps its image.
  int ReadDept(const std::string &code, int action = db_eq) {
    dep_.Set("exdep010.code", code);
    return zdb_exec_row(dep_.cursor, action, 0, 1);
  }
  int ReadEmp(int number, int action) {
    emp_.SetInt("exemp010.emp", number);
    return zdb_exec_row(emp_.cursor, action, 0, 1);
  }
  void Remember(Table &t, const char *column, const std::string &code) {
    ASSERT_EQ(ReadDept(code), 0);
    (void)column;
    sql_.Put(t.dd, 1, t.row.data());
  }
  std::int32_t Counter(const std::string &code) {
    EXPECT_EQ(ReadDept(code), 0) << code;
    return dep_.Number("exdep010.Refcntd");
  }
  int Commit() { return zdb_exec_db(commit_trans, id_); }

  ScratchDir root_;
  FakeSql sql_;
  int id_ = 0;
  Table dep_, emp_;
};

TEST_F(References, RestrictedChildRefusesTheDeleteOfItsParent) {
  Start();
  ASSERT_EQ(Dept("A"), 0);
  ASSERT_EQ(Emp(1, "A", "A", "", "A"), 0) << zdb_errno;
  ASSERT_EQ(Commit(), 0);
  ASSERT_EQ(ReadDept("A", db_eq_locked), 0);
  EXPECT_EQ(zdb_exec_row(dep_.cursor, db_delete, 0, 1), -1);
  EXPECT_EQ(zdb_errno, 605);
  EXPECT_STREQ(get_zdb_msg(),
               "There are still references for this table (exemp010.drst->exdep010.code ; A)");
  EXPECT_EQ(sql_.parsed.back(),
            "SELECT exemp010.emp FROM exemp010  WHERE { exemp010.drst } = { :1 } AS SET WITH 1 "
            "ROWS ");
  EXPECT_EQ(ReadDept("A"), 0);  // still there
}

TEST_F(References, MissingParentIsRefused) {
  Start();
  ASSERT_EQ(Dept("A"), 0);
  EXPECT_EQ(Emp(1, "A", "NONE", "", "A"), -1);
  EXPECT_EQ(zdb_errno, 606);
  EXPECT_STREQ(get_zdb_msg(), "Reference does not exist: exemp010.dept->exdep010.code [NONE]");
  // An empty key of a reference checked only when filled sends no check.
  EXPECT_EQ(Emp(2, "A", "A", "", "A"), 0);
}

TEST_F(References, CountedParentsMoveWithInsertsDeletesAndKeyChanges) {
  Start();
  ASSERT_EQ(Dept("A"), 0);
  ASSERT_EQ(Dept("B"), 0);
  ASSERT_EQ(Emp(1, "A", "A", "", "A"), 0);
  ASSERT_EQ(Emp(2, "A", "A", "", "A"), 0);
  EXPECT_EQ(Counter("A"), 2);
  EXPECT_EQ(dep_.Number("exdep010.Refcntu"), 2);
  EXPECT_EQ(Counter("B"), 0);
  // A key change moves one count from A to B.
  ASSERT_EQ(ReadEmp(2, db_eq_locked), 0);
  emp_.Set("exemp010.dept", "B");
  ASSERT_EQ(zdb_exec_row(emp_.cursor, db_update, 0, 1), 0) << zdb_errno;
  EXPECT_EQ(Counter("A"), 1);
  EXPECT_EQ(Counter("B"), 1);
  // A delete gives its count back.
  ASSERT_EQ(ReadEmp(1, db_eq_locked), 0);
  ASSERT_EQ(zdb_exec_row(emp_.cursor, db_delete, 0, 1), 0) << zdb_errno;
  EXPECT_EQ(Counter("A"), 0);
  ASSERT_EQ(Commit(), 0);
  EXPECT_EQ(Counter("B"), 1);
}

TEST_F(References, DecrementOfAParentThatHasGoneIsNoError) {
  Start();
  ASSERT_EQ(Dept("A"), 0);
  ASSERT_EQ(Dept("B"), 0);
  ASSERT_EQ(Emp(1, "B", "A", "", "B"), 0);
  EXPECT_EQ(Counter("A"), 1);
  // A counted reference does not restrict: the department goes.
  ASSERT_EQ(ReadDept("A", db_eq_locked), 0);
  ASSERT_EQ(zdb_exec_row(dep_.cursor, db_delete, 0, 1), 0) << zdb_errno << " " << get_zdb_msg();
  ASSERT_EQ(ReadEmp(1, db_eq_locked), 0);
  EXPECT_EQ(zdb_exec_row(emp_.cursor, db_delete, 0, 1), 0) << zdb_errno << " " << get_zdb_msg();
  EXPECT_EQ(Commit(), 0);
}

TEST_F(References, DeleteOfAParentCascadesToTheChildrenOnTheOtherDriver) {
  Start();
  ASSERT_EQ(Dept("A"), 0);
  ASSERT_EQ(Dept("B"), 0);
  ASSERT_EQ(Emp(1, "B", "A", "", "A"), 0);
  ASSERT_EQ(Emp(2, "A", "A", "B", "A"), 0);
  ASSERT_EQ(Emp(3, "A", "A", "", "A"), 0);
  EXPECT_EQ(Counter("A"), 3);
  ASSERT_EQ(ReadDept("B", db_eq_locked), 0);
  ASSERT_EQ(zdb_exec_row(dep_.cursor, db_delete, 0, 1), 0) << zdb_errno << " " << get_zdb_msg();
  ASSERT_EQ(Commit(), 0);
  // Employee 1 went with its department (and its count on A with it);
  // employee 2 lost its dnul reference; employee 3 is untouched.
  EXPECT_EQ(ReadEmp(1, db_eq), -1);
  EXPECT_EQ(zdb_errno, 111);
  ASSERT_EQ(ReadEmp(2, db_eq), 0);
  EXPECT_EQ(emp_.Text("exemp010.dnul"), "");
  EXPECT_EQ(emp_.Text("exemp010.dcas"), "A");
  EXPECT_EQ(ReadEmp(3, db_eq), 0);
  EXPECT_EQ(Counter("A"), 2);
}

TEST_F(References, KeyUpdateCascadesAndAKeptKeyDoesNot) {
  Start();
  ASSERT_EQ(Dept("A"), 0);
  ASSERT_EQ(Dept("C"), 0);
  ASSERT_EQ(Emp(1, "C", "A", "", "A"), 0);
  ASSERT_EQ(Commit(), 0);
  // A change that keeps the key asks nothing of the children.
  std::size_t parsed = sql_.parsed.size();
  ASSERT_EQ(ReadDept("C", db_eq_locked), 0);
  dep_.Set("exdep010.name", "Renamed");
  ASSERT_EQ(zdb_exec_row(dep_.cursor, db_update, 0, 1), 0) << zdb_errno;
  EXPECT_EQ(sql_.parsed.size(), parsed);
  // A new key goes to the children through the cascading reference.
  ASSERT_EQ(ReadDept("C", db_eq_locked), 0);
  dep_.Set("exdep010.code", "D");
  ASSERT_EQ(zdb_exec_row(dep_.cursor, db_update, 0, 1), 0) << zdb_errno << " " << get_zdb_msg();
  EXPECT_GT(sql_.parsed.size(), parsed);
  ASSERT_EQ(Commit(), 0);
  ASSERT_EQ(ReadEmp(1, db_eq), 0);
  EXPECT_EQ(emp_.Text("exemp010.dcas"), "D");
}

TEST_F(References, RestrictedChildRefusesAKeyChange) {
  Start();
  ASSERT_EQ(Dept("A"), 0);
  ASSERT_EQ(Emp(1, "A", "A", "", "A"), 0);
  ASSERT_EQ(ReadDept("A", db_eq_locked), 0);
  dep_.Set("exdep010.code", "E");
  EXPECT_EQ(zdb_exec_row(dep_.cursor, db_update, 0, 1), -1);
  EXPECT_EQ(zdb_errno, 605);
}

TEST_F(References, DisabledReferencesDoNothing) {
  zdb_disable_references();
  Start();
  ASSERT_EQ(Dept("A"), 0);
  EXPECT_EQ(Emp(1, "NONE", "NONE", "NONE", "NONE"), 0);
  ASSERT_EQ(Emp(2, "A", "A", "", "A"), 0);
  EXPECT_EQ(Counter("A"), 0);
  ASSERT_EQ(ReadDept("A", db_eq_locked), 0);
  EXPECT_EQ(zdb_exec_row(dep_.cursor, db_delete, 0, 1), 0);
  EXPECT_TRUE(sql_.parsed.empty());
}

TEST_F(References, RestrictionTextOfAStillReferencedRow) {
  Start();
  ASSERT_EQ(Dept("A"), 0);
  ASSERT_EQ(Dept("B"), 0);
  ASSERT_EQ(Emp(1, "A", "A", "", "A"), 0);
  const char *text = nullptr;
  ASSERT_EQ(ReadDept("A"), 0);
  EXPECT_EQ(zdb_get_refcount(dep_.cursor, 1, &text, 1), 1);
  EXPECT_EQ(zdb_errno, 0);
  EXPECT_STREQ(text, "staff exists");
  ASSERT_EQ(ReadDept("B"), 0);
  EXPECT_EQ(zdb_get_refcount(dep_.cursor, 0xFFFF, &text, 2), 0);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(zdb_get_refcount(dep_.cursor, 1, &text, 3), -1);
  EXPECT_EQ(zdb_errno, 102);
}

TEST_F(References, OneDriverForEveryTableClearsAndDropsWithOneRecord) {
  root_.WriteFile("lib/tabledef1", "*::msqlite(" + root_.path() + "/one.db)\n");
  Start();
  ASSERT_EQ(Dept("A"), 0);
  ASSERT_EQ(Dept("B"), 0);
  ASSERT_EQ(Emp(1, "A", "A", "", "A"), 0);
  ASSERT_EQ(Emp(2, "A", "B", "", "B"), 0);
  ASSERT_EQ(Commit(), 0);
  const std::size_t parsed = sql_.parsed.size();
  // The driver refuses: employee 1 restricts department A.
  int argument = 1;
  EXPECT_EQ(zdb_exec_table(dep_.cursor, clear_table, &argument, 1), -1);
  char table[9] = {};
  int compnr = 0;
  const char *extra = nullptr;
  EXPECT_EQ(zdb_get_detail_error(table, &compnr, &extra, id_), 605);
  ASSERT_EQ(zdb_exec_db(abort_trans, id_), 0);
  ASSERT_EQ(ReadEmp(1, db_eq_locked), 0);
  ASSERT_EQ(zdb_exec_row(emp_.cursor, db_delete, 0, 1), 0) << zdb_errno;
  ASSERT_EQ(Commit(), 0);
  // Employee 2 goes with department A (dcas cascades), so that its
  // restricted department B can go after it.
  argument = 0;
  ASSERT_EQ(zdb_exec_table(dep_.cursor, clear_table, &argument, 1), 0) << zdb_errno;
  int count = -1;
  ASSERT_EQ(zdb_exec_table(dep_.cursor, nr_rows, &count, 1), 0);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(zdb_exec_table(emp_.cursor, nr_rows, &count, 1), 0);
  EXPECT_EQ(count, 0);
  argument = 0;
  ASSERT_EQ(zdb_exec_table(dep_.cursor, drop_table, &argument, 1), 0) << zdb_errno;
  // A dropped table reads as one never made: empty.
  count = -1;
  EXPECT_EQ(zdb_exec_table(dep_.cursor, nr_rows, &count, 1), 0) << zdb_errno;
  EXPECT_EQ(count, 0);
  // The driver did the reference work: no statement went to the SQL calls.
  EXPECT_EQ(sql_.parsed.size(), parsed);
}

int CommitLines(const std::string &trace) {
  int n = 0;
  for (std::size_t at = 0; (at = trace.find("action (1)", at)) != std::string::npos; ++at) ++n;
  return n;
}

class ClearTable : public References, public testing::WithParamInterface<bool> {};

// 120 departments P000..P119; with `restricted` a department Z after them
// that an employee restricts stops the clear there.
TEST_P(ClearTable, DeletesRowByRowAndCommitsEveryFifty) {
  const bool restricted = GetParam();
  Start();
  char code[8];
  for (int i = 0; i < 120; ++i) {
    std::snprintf(code, sizeof code, "P%03d", i % 1000);
    ASSERT_EQ(Dept(code), 0);
  }
  if (restricted) {
    ASSERT_EQ(Dept("Z"), 0);
    ASSERT_EQ(Emp(1, "Z", "Z", "", "Z"), 0);
  }
  ASSERT_EQ(Commit(), 0);
  dbc_state().debug = ZDB_DEBUG_REQUESTS;
  testing::internal::CaptureStderr();
  ASSERT_EQ(Commit(), 0);
  const int per_commit = CommitLines(testing::internal::GetCapturedStderr());
  ASSERT_GT(per_commit, 0);
  testing::internal::CaptureStderr();
  int argument = 1;
  int rc = zdb_exec_table(dep_.cursor, clear_table, &argument, 1);
  int error = zdb_errno;
  std::string trace = testing::internal::GetCapturedStderr();
  dbc_state().debug = 0;
  int count = -1;
  ASSERT_EQ(zdb_exec_table(dep_.cursor, nr_rows, &count, 1), 0);
  if (restricted) {
    // Two batches of 50 stay deleted; the rest of the clear is aborted.
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(error, 605);
    EXPECT_EQ(count, 21);
    EXPECT_EQ(CommitLines(trace), 2 * per_commit);
  } else {
    EXPECT_EQ(rc, 0) << error;
    EXPECT_EQ(count, 0);
    // After 50 and 100 deletes, at the end, and the clear's own.
    EXPECT_EQ(CommitLines(trace), 4 * per_commit);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, ClearTable, testing::Bool());

}  // namespace
