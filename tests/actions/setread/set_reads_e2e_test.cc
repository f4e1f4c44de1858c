// Positioned reads end to end: rows committed through the record API are
// read back through every set-read kind over the real SQL layers and the
// reference driver's SQL agent, on both indexes of exdep010 (index 2 allows
// duplicates), across set boundaries, in both directions, in two companies,
// with locks and delayed locks, and compared with what SQLite holds.
#include <sqlite3.h>

#include <cstdio>
#include <string>
#include <vector>

#include <molvane/sql.h>
#include <molvane/zdb_dlock.h>

#include "actions/actions_env.h"
#include "dbc/setread/ssts.h"
#include "sql/agent/net_agent_client.h"
#include "sql/exec/text_reader.h"

namespace molvane::test {
namespace {

constexpr int kEndOfFile = 110;
constexpr int kNoRecord = 111;

std::vector<std::string> g_errors;  // texts the SQL layers reported
int KeepError(int, char *text) {
  g_errors.emplace_back(text != nullptr ? text : "");
  return 0;
}

// Codes in company 1 with names that repeat (index 2 orders by name, code).
const std::vector<std::pair<std::string, std::string>> kRows1 = {
    {"A", "Delta"}, {"B", "Alpha"}, {"C", "Echo"},  {"D", "Alpha"}, {"E", "Beta"},
    {"F", "Delta"}, {"G", "Alpha"}, {"H", "Golf"},  {"J", "Beta"}};
const std::vector<std::pair<std::string, std::string>> kRows2 = {
    {"K", "Zulu"}, {"L", "Yankee"}, {"M", "Zulu"}, {"N", "Xray"}};

class SetReadsE2E : public ActionsTest, public testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    g_errors.clear();
    previous_error_ = sql_init_func(SQL_FUNC_ERROR, reinterpret_cast<sql_func>(KeepError));
    ActionsTest::SetUp();
    Logon();
    Create("exdep010", {1, 2});
    for (auto [compnr, rows] : {std::pair{1, &kRows1}, std::pair{2, &kRows2}}) {
      std::vector<std::vector<std::pair<const char *, std::string>>> texts;
      for (const auto &[code, name] : *rows) texts.push_back({{"code", code}, {"name", name}});
      Seed("exdep010", compnr, texts);
    }
    previous_rows_ = ssts_set_rows(GetParam());
    cursor_ = Open("exdep010");
  }
  void TearDown() override {
    ssts_set_rows(previous_rows_);
    ActionsTest::TearDown();
    SQLTextReader::DeleteInstance();
    SQLNetAgentClient::DeleteInstance();
    sql_init_func(SQL_FUNC_ERROR, previous_error_);
  }

  // "code" of the rows SQLite holds, in the order of a query's tail.
  std::vector<std::string> Sqlite(int compnr, const std::string &tail) const {
    sqlite3 *db = nullptr;
    std::vector<std::string> codes;
    EXPECT_EQ(sqlite3_open_v2((root_.path() + "/data/main.db").c_str(), &db, SQLITE_OPEN_READONLY,
                              nullptr),
              SQLITE_OK);
    char table[16];
    std::snprintf(table, sizeof table, "exdep010%03d", compnr);
    // The driver stores texts as blobs padded with blanks.
    std::string sql = std::string("SELECT code FROM (SELECT rtrim(CAST(code AS TEXT)) AS code, "
                                  "rtrim(CAST(name AS TEXT)) AS name FROM ") +
                      table + ") " + tail;
    sqlite3_stmt *st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
    while (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
      codes.emplace_back(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return codes;
  }
  // Runs `first` with the key in the row, then `step` until the end; the
  // codes read. The end must be `end_error`.
  std::vector<std::string> Scan(int compnr, int first, int step,
                                std::vector<std::pair<const char *, std::string>> key = {},
                                int end_error = kEndOfFile) {
    std::vector<std::string> codes;
    Load(Row("exdep010", key));
    int rc = zdb_exec_row(cursor_, first, 0, compnr);
    while (rc == 0) {
      codes.push_back(Text("exdep010", "code"));
      EXPECT_EQ(RowCompnr("exdep010"), compnr);
      rc = zdb_exec_row(cursor_, step, 0, compnr);
      if (codes.size() > 50) break;
    }
    EXPECT_EQ(zdb_errno, codes.empty() ? end_error : kEndOfFile) << codes.size();
    return codes;
  }
  void Order(int index) {
    ASSERT_EQ(zdb_exec_table(cursor_, change_order, &index, 1), 0) << zdb_errno;
    ASSERT_EQ(zdb_exec_table(cursor_, change_order, &index, 2), 0) << zdb_errno;
  }
  int Dlock() const { return get_dlock_from_row(ddtable("exdep010"), row_); }

  ZDB_CURSOR *cursor_ = nullptr;
  int previous_rows_ = 0;
  sql_func previous_error_ = nullptr;
};

const char *const kByCode = "ORDER BY code";
const char *const kByName = "ORDER BY name, code";

TEST_P(SetReadsE2E, ScansOfBothIndexesInBothDirectionsAgreeWithSqlite) {
  for (int compnr : {1, 2}) {
    SCOPED_TRACE(compnr);
    EXPECT_EQ(Scan(compnr, db_first, db_next), Sqlite(compnr, kByCode));
    EXPECT_EQ(Scan(compnr, db_last, db_prev), Sqlite(compnr, "ORDER BY code DESC"));
  }
  Order(2);
  for (int compnr : {1, 2}) {
    SCOPED_TRACE(compnr);
    EXPECT_EQ(Scan(compnr, db_first, db_next), Sqlite(compnr, kByName));
    EXPECT_EQ(Scan(compnr, db_last, db_prev), Sqlite(compnr, "ORDER BY name DESC, code DESC"));
  }
  EXPECT_EQ(g_errors, std::vector<std::string>{});
}

TEST_P(SetReadsE2E, RangeReadsStartWhereSqliteSaysAndGoOn) {
  struct Case {
    int action, step;
    const char *code;
    const char *where;
  };
  const Case cases[] = {
      {db_ge, db_next, "D", "WHERE code >= 'D' ORDER BY code"},
      {db_gt, db_next, "D", "WHERE code > 'D' ORDER BY code"},
      {db_ge, db_next, "I", "WHERE code >= 'I' ORDER BY code"},
      {db_le, db_prev, "D", "WHERE code <= 'D' ORDER BY code DESC"},
      {db_lt, db_prev, "D", "WHERE code < 'D' ORDER BY code DESC"},
      {db_le, db_prev, "I", "WHERE code <= 'I' ORDER BY code DESC"},
      {db_gt, db_next, "J", "WHERE code > 'J'"},
      {db_lt, db_prev, "A", "WHERE code < 'A'"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.where);
    EXPECT_EQ(Scan(1, c.action, c.step, {{"code", c.code}}, kNoRecord), Sqlite(1, c.where));
  }
  // Index 2 with duplicates: the position is the name and the code.
  Order(2);
  const Case by_name[] = {
      {db_eq, db_next, "Alpha", "WHERE name >= 'Alpha' ORDER BY name, code"},
      {db_ge, db_next, "Beta", "WHERE name >= 'Beta' ORDER BY name, code"},
      {db_gt, db_next, "Beta", "WHERE name > 'Beta' ORDER BY name, code"},
      {db_le, db_prev, "Delta", "WHERE name <= 'Delta' ORDER BY name DESC, code DESC"},
      {db_lt, db_prev, "Delta", "WHERE name < 'Delta' ORDER BY name DESC, code DESC"},
      {db_eq, db_next, "Charlie", "WHERE name = 'Charlie'"},
  };
  for (const Case &c : by_name) {
    SCOPED_TRACE(c.where);
    EXPECT_EQ(Scan(1, c.action, c.step, {{"name", c.code}}, kNoRecord), Sqlite(1, c.where));
  }
  EXPECT_EQ(g_errors, std::vector<std::string>{});
}

TEST_P(SetReadsE2E, LockedAndDelayedScansLockEveryRowTheyDeliver) {
  // A locked scan holds every row it delivered: another transaction cannot
  // lock them until the scan's transaction ends.
  EXPECT_EQ(Scan(1, db_first_locked, db_next_locked), Sqlite(1, kByCode));
  int other = zdb_start_session("other");
  ZDB_CURSOR *reader = Open("exdep010", other);
  Load(Row("exdep010", {{"code", "C"}}));
  EXPECT_EQ(zdb_exec_row(reader, db_eq_locked, 0, 1), -1);
  EXPECT_EQ(zdb_errno, 107);
  ASSERT_EQ(zdb_exec_db(abort_trans, trans_), 0);
  Load(Row("exdep010", {{"code", "C"}}));
  EXPECT_EQ(zdb_exec_row(reader, db_eq_locked, 0, 1), 0) << zdb_errno;
  zdb_close(reader);
  zdb_exec_db(abort_trans, other);
  zdb_stop_session(other);
  // Delayed reads keep an image of each row under an id in the row; plain
  // reads keep none.
  Load(Row("exdep010", {}));
  ASSERT_EQ(zdb_exec_row(cursor_, db_first_delayed, 0, 2), 0) << zdb_errno;
  EXPECT_GT(Dlock(), 0);
  ASSERT_EQ(zdb_exec_row(cursor_, db_next_delayed, 0, 2), 0) << zdb_errno;
  EXPECT_EQ(Text("exdep010", "code"), "L");
  EXPECT_GT(Dlock(), 0);
  ASSERT_EQ(zdb_exec_row(cursor_, db_next, 0, 2), 0) << zdb_errno;
  EXPECT_EQ(Dlock(), 0);
  EXPECT_EQ(g_errors, std::vector<std::string>{});
}

TEST_P(SetReadsE2E, AnUpdateInTheMiddleOfAScanIsSeenAndTheScanGoesOn) {
  Load(Row("exdep010", {}));
  ASSERT_EQ(zdb_exec_row(cursor_, db_first_locked, 0, 1), 0) << zdb_errno;
  ASSERT_EQ(zdb_exec_row(cursor_, db_next_locked, 0, 1), 0) << zdb_errno;
  EXPECT_EQ(Text("exdep010", "code"), "B");
  Load(Row("exdep010", {{"code", "B"}, {"name", "Changed"}}));
  ASSERT_EQ(zdb_exec_row(cursor_, db_update, 0, 1), 0) << zdb_errno;
  ASSERT_EQ(zdb_exec_db(commit_trans, trans_), 0) << zdb_errno;
  std::vector<std::string> rest;
  while (zdb_exec_row(cursor_, db_next, 0, 1) == 0) rest.push_back(Text("exdep010", "code"));
  EXPECT_EQ(rest, Sqlite(1, "WHERE code > 'B' ORDER BY code"));
  EXPECT_EQ(Sqlite(1, "WHERE name = 'Changed'"), std::vector<std::string>{"B"});
  EXPECT_EQ(g_errors, std::vector<std::string>{});
}

TEST_P(SetReadsE2E, CurrentRowAndRepeatedEndsOnAnIndexWithDuplicates) {
  Order(2);
  Load(Row("exdep010", {}));
  EXPECT_EQ(zdb_exec_row(cursor_, db_curr, 0, 1), -1);
  EXPECT_EQ(zdb_errno, 112);
  // The second of three "Alpha" rows: the current row is that row again,
  // told apart from its namesakes by the primary key.
  Load(Row("exdep010", {{"name", "Alpha"}}));
  ASSERT_EQ(zdb_exec_row(cursor_, db_eq, 0, 1), 0) << zdb_errno;
  ASSERT_EQ(zdb_exec_row(cursor_, db_next, 0, 1), 0) << zdb_errno;
  EXPECT_EQ(Text("exdep010", "code"), "D");
  Load(Row("exdep010", {}));
  ASSERT_EQ(zdb_exec_row(cursor_, db_curr, 0, 1), 0) << zdb_errno;
  EXPECT_EQ(Text("exdep010", "code"), "D");
  EXPECT_EQ(Text("exdep010", "name"), "Alpha");
  // A read past the last row ends with 110 and, failing, gives up the
  // position: a stepping read then has nothing to step from.
  Load(Row("exdep010", {}));
  ASSERT_EQ(zdb_exec_row(cursor_, db_last, 0, 1), 0) << zdb_errno;
  EXPECT_EQ(Text("exdep010", "name"), "Golf");
  EXPECT_EQ(zdb_exec_row(cursor_, db_next, 0, 1), -1);
  EXPECT_EQ(zdb_errno, kEndOfFile);
  for (int action : {db_next, db_prev}) {
    EXPECT_EQ(zdb_exec_row(cursor_, action, 0, 1), -1);
    EXPECT_EQ(zdb_errno, 112);
  }
  Load(Row("exdep010", {}));
  ASSERT_EQ(zdb_exec_row(cursor_, db_last, 0, 1), 0) << zdb_errno;
  ASSERT_EQ(zdb_exec_row(cursor_, db_prev, 0, 1), 0) << zdb_errno;
  EXPECT_EQ(Text("exdep010", "name"), "Echo");
  EXPECT_EQ(g_errors, std::vector<std::string>{});
}

TEST_P(SetReadsE2E, LogoffClosesOpenSetsWithoutErrors) {
  Load(Row("exdep010", {}));
  ASSERT_EQ(zdb_exec_row(cursor_, db_first, 0, 1), 0) << zdb_errno;
  ASSERT_EQ(zdb_exec_row(cursor_, db_last, 0, 2), 0) << zdb_errno;
  EXPECT_EQ(zdb_logoff(), 0) << zdb_errno;
  EXPECT_EQ(g_errors, std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(RowsPerSet, SetReadsE2E, testing::Values(1, 2, 3, 20));

}  // namespace
}  // namespace molvane::test
