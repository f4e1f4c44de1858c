// Referential integrity kept by the client end to end: in company 5
// departments (exdep010) live on msqlite and employees (exemp010) on
// msqltwo, so the parent checks, the counters, the restricting lookups,
// the cascades and the nullifies are the client's, the children found with
// generated SQL over the real SQL layers. Results are compared with what
// SQLite holds in the two drivers' databases.
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <molvane/zdb_refs.h>

#include "actions_env.h"
#include "sql/agent/net_agent_client.h"
#include "sql/exec/text_reader.h"

namespace molvane::test {
namespace {

constexpr int kCompany = 5;
constexpr int kStillReferenced = 605;

// Rows of an SQLite database as "a|b|c" texts, blanks trimmed.
std::vector<std::string> SqliteRows(const std::string &file, const std::string &sql) {
  sqlite3 *db = nullptr;
  std::vector<std::string> rows;
  EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt *st = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
  while (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(st, i));
      std::string value = text != nullptr ? text : "";
      value.erase(value.find_last_not_of(' ') + 1);
      row += (i == 0 ? "" : "|") + value;
    }
    rows.push_back(row);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

class RefsE2E : public ActionsTest {
 protected:
  void SetUp() override {
    ActionsTest::SetUp();
    Logon();
    Create("exdep010", {kCompany});
    Create("exemp010", {kCompany});
    Seed("exdep010", kCompany, {{{"code", "A"}}, {{"code", "B"}}, {{"code", "C"}}, {{"code", "D"}}});
  }
  void TearDown() override {
    ActionsTest::TearDown();
    SQLTextReader::DeleteInstance();
    SQLNetAgentClient::DeleteInstance();
  }
  // An employee: number, counted (dept), restricted (drst), cascading
  // (dcas) and nullified (dnul) department.
  std::vector<unsigned char> Employee(int emp, const char *dept, const char *drst,
                                      const char *dcas, const char *dnul) const {
    std::vector<unsigned char> row =
        Row("exemp010", {{"name", "N" + std::to_string(emp)}, {"dept", dept}, {"drst", drst},
                         {"dcas", dcas}, {"dnul", dnul}});
    const DD_COLUMN *c = ddcolumn("exemp010.emp");
    for (int i = 0; i < 4; ++i) row[c->offset + i] = static_cast<unsigned char>(emp >> (24 - 8 * i));
    return row;
  }
  // One row action on a cursor opened for it and closed before the commit.
  int Act(const char *table, const std::vector<unsigned char> &row, int action) {
    ZDB_CURSOR *cursor = Open(table);
    Load(row);
    int rc = zdb_exec_row(cursor, action, 0, kCompany);
    int error = rc == 0 ? 0 : zdb_errno;
    zdb_close(cursor);
    return error;
  }
  // Reads a row locked, changes it with `change` and runs `action` on it.
  template <typename Edit>
  int Change(const char *table, const std::vector<unsigned char> &key, int action, Edit change) {
    ZDB_CURSOR *cursor = Open(table);
    Load(key);
    int rc = zdb_exec_row(cursor, db_eq_locked, 0, kCompany);
    if (rc == 0) {
      change();
      rc = zdb_exec_row(cursor, action, 0, kCompany);
    }
    int error = rc == 0 ? 0 : zdb_errno;
    zdb_close(cursor);
    return error;
  }
  int DeleteDept(const char *code) {
    return Change("exdep010", Row("exdep010", {{"code", code}}), db_delete, [] {});
  }
  void SetText(const char *column, const char *text) {
    const DD_COLUMN *c = ddcolumn(column);
    std::memset(row_ + c->offset, ' ', c->length);
    std::memcpy(row_ + c->offset, text, std::strlen(text));
  }
  int Commit() { return zdb_exec_db(commit_trans, trans_) == 0 ? 0 : zdb_errno; }
  int Abort() { return zdb_exec_db(abort_trans, trans_) == 0 ? 0 : zdb_errno; }
  // code|Refcntd|Refcntu of every department; emp|dept|drst|dcas|dnul of
  // every employee.
  std::vector<std::string> Depts() const {
    return SqliteRows(root_.path() + "/data/main.db",
                      "SELECT CAST(code AS TEXT), Refcntd, Refcntu FROM exdep010005 ORDER BY code");
  }
  std::vector<std::string> Emps() const {
    return SqliteRows(root_.path() + "/data/two.db",
                      "SELECT emp, CAST(dept AS TEXT), CAST(drst AS TEXT), CAST(dcas AS TEXT), "
                      "CAST(dnul AS TEXT) FROM exemp010005 ORDER BY emp");
  }
};

TEST_F(RefsE2E, CountersRestrictionsCascadesAndNullifiesAcrossTwoDrivers) {
  ASSERT_EQ(Act("exemp010", Employee(1, "A", "B", "C", "A"), db_insert_51), 0);
  ASSERT_EQ(Act("exemp010", Employee(2, "A", "B", "A", "C"), db_insert_51), 0);
  ASSERT_EQ(Act("exemp010", Employee(3, "D", "D", "D", "D"), db_insert_51), 0);
  ASSERT_EQ(Commit(), 0);
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|2|2", "B|0|0", "C|0|0", "D|1|1"}));
  EXPECT_EQ(Emps(), (std::vector<std::string>{"1|A|B|C|A", "2|A|B|A|C", "3|D|D|D|D"}));

  // A parent that does not exist refuses the child: the buffered parent
  // check fails the commit, which leaves nothing behind.
  ASSERT_EQ(Act("exemp010", Employee(4, "Q", "A", "A", "A"), db_insert_51), 0);
  EXPECT_NE(Commit(), 0);
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|2|2", "B|0|0", "C|0|0", "D|1|1"}));
  EXPECT_EQ(Emps(), (std::vector<std::string>{"1|A|B|C|A", "2|A|B|A|C", "3|D|D|D|D"}));

  // A restricted child stops the delete of its parent, with the text.
  EXPECT_EQ(DeleteDept("B"), kStillReferenced);
  EXPECT_NE(std::string(get_zdb_msg()).find(
                "There are still references for this table (exemp010.drst->exdep010.code ; B)"),
            std::string::npos)
      << get_zdb_msg();
  ASSERT_EQ(Abort(), 0);

  // A counted reference moves with a key change of the child.
  ASSERT_EQ(Change("exemp010", Employee(2, "", "", "", ""), db_update,
                   [&] { SetText("exemp010.dept", "C"); }),
            0);
  ASSERT_EQ(Commit(), 0);
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|1|1", "B|0|0", "C|1|1", "D|1|1"}));

  // Deleting C deletes employee 1 (cascade) and empties employee 2's dnul;
  // employee 1's counted department A loses one.
  ASSERT_EQ(DeleteDept("C"), 0) << get_zdb_msg();
  ASSERT_EQ(Commit(), 0);
  EXPECT_EQ(Emps(), (std::vector<std::string>{"2|C|B|A|", "3|D|D|D|D"}));
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|0|0", "B|0|0", "D|1|1"}));

  // A change that keeps the key of index 1 cascades nothing.
  ASSERT_EQ(Change("exdep010", Row("exdep010", {{"code", "D"}}), db_update,
                   [&] { SetText("exdep010.name", "Renamed"); }),
            0);
  ASSERT_EQ(Commit(), 0);
  EXPECT_EQ(Emps(), (std::vector<std::string>{"2|C|B|A|", "3|D|D|D|D"}));

  // Deleting an employee lowers its counted parent.
  ASSERT_EQ(Change("exemp010", Employee(3, "", "", "", ""), db_delete, [] {}), 0);
  ASSERT_EQ(Commit(), 0);
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|0|0", "B|0|0", "D|0|0"}));
}

TEST_F(RefsE2E, DisabledReferencesDoNothing) {
  zdb_disable_references();
  ASSERT_EQ(Act("exemp010", Employee(1, "Q", "B", "C", "A"), db_insert_51), 0);
  ASSERT_EQ(Act("exemp010", Employee(2, "A", "B", "C", "A"), db_insert_51), 0);
  ASSERT_EQ(Commit(), 0);
  EXPECT_EQ(DeleteDept("B"), 0);
  EXPECT_EQ(DeleteDept("C"), 0);
  ASSERT_EQ(Commit(), 0);
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|0|0", "D|0|0"}));
  EXPECT_EQ(Emps(), (std::vector<std::string>{"1|Q|B|C|A", "2|A|B|C|A"}));
}

}  // namespace
}  // namespace molvane::test

namespace molvane::test {
namespace {

// A new key of a department reaches its cascading children and empties its
// nullified ones; a restricted child refuses the key change.
TEST_F(RefsE2E, KeyChangesOfTheParentCascadeNullifyOrAreRefused) {
  ASSERT_EQ(Act("exemp010", Employee(1, "A", "B", "C", "C"), db_insert_51), 0);
  ASSERT_EQ(Commit(), 0);
  EXPECT_EQ(Change("exdep010", Row("exdep010", {{"code", "B"}}), db_update,
                   [&] { SetText("exdep010.code", "E"); }),
            kStillReferenced);
  ASSERT_EQ(Abort(), 0);
  ASSERT_EQ(Change("exdep010", Row("exdep010", {{"code", "C"}}), db_update,
                   [&] { SetText("exdep010.code", "F"); }),
            0)
      << get_zdb_msg();
  ASSERT_EQ(Commit(), 0);
  EXPECT_EQ(Emps(), (std::vector<std::string>{"1|A|B|F|"}));
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|1|1", "B|0|0", "D|0|0", "F|0|0"}));
}

}  // namespace
}  // namespace molvane::test
