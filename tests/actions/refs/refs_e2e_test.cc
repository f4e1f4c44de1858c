// Referential integrity end to end, in company 5, in two layouts with the
// same expectations: with departments (exdep010) and employees (exemp010)
// both on msqlite, the driver does the parent checks, the counters, the
// restricting lookups, the cascades and the nullifies; with the employees
// on msqltwo the client does them, the children found with generated SQL
// over the real SQL layers. Results are compared with what SQLite holds in
// the drivers' databases.
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <molvane/zdb_detail.h>
#include <molvane/zdb_refs.h>

#include "actions/actions_env.h"
#include "dbc/refs/refs.h"
#include "dbc/session/zdb_trans.h"
#include "sqlite/sqlite_functions.h"
#include "sql/agent/net_agent_client.h"
#include "sql/exec/text_reader.h"

namespace molvane::test {
namespace {

constexpr int kCompany = 5;
constexpr int kStillReferenced = 605;
constexpr int kNoParent = 606;

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

std::string ReadFile(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void SqliteExec(const std::string &file, const std::string &sql) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 2000);
  // The collated key indexes of text columns need the driver's collation.
  ASSERT_TRUE(molvane::driver::InstallTssCollation(db));
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

// The parameter: true when the employees live on a driver of their own.
class RefsE2E : public ActionsTest, public testing::WithParamInterface<bool> {
 protected:
  std::string TableDefs() const override {
    if (GetParam()) return ActionsTest::TableDefs();
    return "exdep010:900:msqlite:Y\ntttxt:*:msqltwo\nttaud:*:msqlaud\n*::msqlite\n";
  }
  std::string EmpsFile() const { return root_.path() + (GetParam() ? "/data/two.db" : "/data/main.db"); }
  // Changes the environment's files (dictionary, drivers) before their
  // first use.
  virtual void Environment() {}
  void SetUp() override {
    ActionsTest::SetUp();
    Environment();
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
  int Act(const char *table, const std::vector<unsigned char> &row, int action, int company = kCompany) {
    ZDB_CURSOR *cursor = Open(table);
    Load(row);
    int rc = zdb_exec_row(cursor, action, 0, company);
    int error = rc == 0 ? 0 : zdb_errno;
    action_msg_ = get_zdb_msg();  // zdb_close has a message of its own
    zdb_close(cursor);
    return error;
  }
  // Reads a row locked, changes it with `change` and runs `action` on it.
  template <typename Edit>
  int Change(const char *table, const std::vector<unsigned char> &key, int action, Edit change,
             int company = kCompany) {
    ZDB_CURSOR *cursor = Open(table);
    Load(key);
    int rc = zdb_exec_row(cursor, db_eq_locked, 0, company);
    if (rc == 0) {
      change();
      rc = zdb_exec_row(cursor, action, 0, company);
    }
    int error = rc == 0 ? 0 : zdb_errno;
    action_msg_ = get_zdb_msg();
    zdb_close(cursor);
    return error;
  }
  int DeleteDept(const char *code, int company = kCompany) {
    return Change("exdep010", Row("exdep010", {{"code", code}}), db_delete, [] {}, company);
  }
  void SetText(const char *column, const char *text) {
    const DD_COLUMN *c = ddcolumn(column);
    std::memset(row_ + c->offset, ' ', c->length);
    std::memcpy(row_ + c->offset, text, std::strlen(text));
  }
  int Commit() {
    action_msg_.clear();
    return zdb_exec_db(commit_trans, trans_) == 0 ? 0 : zdb_errno;
  }
  // The error of the last failed buffered update of the transaction.
  int Detail(std::string *extra = nullptr) const {
    char table[9] = {};
    int compnr = 0;
    const char *text = nullptr;
    int error = zdb_get_detail_error(table, &compnr, &text, trans_);
    if (extra != nullptr) *extra = text != nullptr ? text : "";
    return error;
  }
  // The message text (of the last Act or Change, or of the call since) and
  // the text of the last failed buffered update: the client reports a
  // reference error in the first, a driver in the second.
  std::string ErrorText() const {
    std::string extra;
    Detail(&extra);
    return action_msg_ + get_zdb_msg() + " | " + extra;
  }
  std::string action_msg_;  // the message of the last Act or Change
  int Abort() { return zdb_exec_db(abort_trans, trans_) == 0 ? 0 : zdb_errno; }
  // code|Refcntd|Refcntu of every department; emp|dept|drst|dcas|dnul of
  // every employee.
  std::vector<std::string> Depts() const {
    return SqliteRows(root_.path() + "/data/main.db",
                      "SELECT CAST(code AS TEXT), Refcntd, Refcntu FROM exdep010005 ORDER BY code");
  }
  std::vector<std::string> Emps() const {
    return SqliteRows(EmpsFile(),
                      "SELECT emp, CAST(dept AS TEXT), CAST(drst AS TEXT), CAST(dcas AS TEXT), "
                      "CAST(dnul AS TEXT) FROM exemp010005 ORDER BY emp");
  }
};

TEST_P(RefsE2E, CountersRestrictionsCascadesAndNullifies) {
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
  EXPECT_EQ(Detail(), kNoParent);
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|2|2", "B|0|0", "C|0|0", "D|1|1"}));
  EXPECT_EQ(Emps(), (std::vector<std::string>{"1|A|B|C|A", "2|A|B|A|C", "3|D|D|D|D"}));

  // A restricted child stops the delete of its parent, with the text.
  EXPECT_EQ(DeleteDept("B"), kStillReferenced);
  EXPECT_NE(ErrorText().find(
                "There are still references for this table (exemp010.drst->exdep010.code ; B)"),
            std::string::npos)
      << ErrorText();
  ASSERT_EQ(Abort(), 0);

  // A counted reference moves with a key change of the child.
  ASSERT_EQ(Change("exemp010", Employee(2, "", "", "", ""), db_update,
                   [&] { SetText("exemp010.dept", "C"); }),
            0);
  ASSERT_EQ(Commit(), 0);
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|1|1", "B|0|0", "C|1|1", "D|1|1"}));

  // Deleting C deletes employee 1 (cascade) and empties employee 2's dnul;
  // employee 1's counted department A loses one.
  ASSERT_EQ(DeleteDept("C"), 0) << action_msg_;
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

// References switched off before the first action: the drivers are told
// when they are attached.
class RefsOffE2E : public RefsE2E {
 protected:
  void SetUp() override {
    zdb_disable_references();
    RefsE2E::SetUp();
  }
};

// A chain with references off (as the reference work's own cursors are)
// asks no reference work of anyone: the driver is not told to check or
// count for it either.
TEST_P(RefsE2E, AChainWithReferencesOffAsksNoReferenceWork) {
  ZDB_CURSOR *cursor = Open("exemp010");
  ZDB_INTERNAL_CURSOR *chain = Chain(cursor, kCompany);
  ASSERT_NE(chain, nullptr);
  disable_all_references(chain);
  Load(Employee(1, "Q", "A", "A", "A"));
  ASSERT_EQ(zdb_exec_row(cursor, db_insert_51, 0, kCompany), 0) << zdb_errno;
  zdb_close(cursor);
  ASSERT_EQ(Commit(), 0) << ErrorText();
  EXPECT_EQ(Emps(), (std::vector<std::string>{"1|Q|A|A|A"}));
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|0|0", "B|0|0", "C|0|0", "D|0|0"}));
}

TEST_P(RefsOffE2E, DisabledReferencesDoNothing) {
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
TEST_P(RefsE2E, KeyChangesOfTheParentCascadeNullifyOrAreRefused) {
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

// A whole-table clear of children with counted references takes their
// counts from the parent, in batches of 50 when the client does it.
TEST_P(RefsE2E, ClearTableOfCountedChildren) {
  for (int emp = 1; emp <= 120; ++emp)
    ASSERT_EQ(Act("exemp010", Employee(emp, emp % 2 ? "A" : "B", "C", "D", ""), db_insert_51), 0);
  ASSERT_EQ(Commit(), 0);
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|60|60", "B|60|60", "C|0|0", "D|0|0"}));
  ZDB_CURSOR *cursor = Open("exemp010");
  int argument = 1;
  ASSERT_EQ(zdb_exec_table(cursor, clear_table, &argument, kCompany), 0) << ErrorText();
  zdb_close(cursor);
  ASSERT_EQ(Commit(), 0);
  EXPECT_EQ(Emps(), std::vector<std::string>{});
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|0|0", "B|0|0", "C|0|0", "D|0|0"}));
}

// zdb_get_refcount answers for a parent's counted and restricting children
// (cascading ones do not hold a parent), with the table's restriction text.
TEST_P(RefsE2E, RefcountOfParents) {
  ASSERT_EQ(Act("exemp010", Employee(1, "A", "B", "C", "A"), db_insert_51), 0);
  ASSERT_EQ(Commit(), 0);
  ZDB_CURSOR *cursor = Open("exdep010");
  for (auto [code, what, referenced, words] :
       {std::make_tuple("A", 1, 1, "staff exists"), std::make_tuple("A", 2, 1, "dept in use"),
        std::make_tuple("B", 1, 1, "staff exists"), std::make_tuple("C", 1, 0, ""),
        std::make_tuple("D", 1, 0, "")}) {
    Load(Row("exdep010", {{"code", code}}));
    const char *text = nullptr;
    EXPECT_EQ(zdb_get_refcount(cursor, kCompany, &text, what), referenced) << code << what << " " << zdb_errno;
    EXPECT_EQ(std::string(text != nullptr ? text : "?").substr(0, std::strlen(words)), words) << code;
  }
  zdb_close(cursor);
}

// A child whose counted parent went behind the library's back still goes
// with the buffered delete: the parent that is not there needs no lower
// count.
TEST_P(RefsE2E, OrphanChildGoesWithTheBufferedDelete) {
  ASSERT_EQ(Act("exemp010", Employee(1, "D", "A", "A", "D"), db_insert_51), 0);
  ASSERT_EQ(Act("exemp010", Employee(2, "A", "A", "A", "A"), db_insert_51), 0);
  ASSERT_EQ(Commit(), 0);
  SqliteExec(root_.path() + "/data/main.db",
             "DELETE FROM exdep010005 WHERE CAST(code AS TEXT) LIKE 'D %'");
  ASSERT_EQ(Change("exemp010", Employee(1, "", "", "", ""), db_delete_51, [] {}), 0);
  ASSERT_EQ(Commit(), 0) << ErrorText();
  EXPECT_EQ(Emps(), (std::vector<std::string>{"2|A|A|A|A"}));
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|1|1", "B|0|0", "C|0|0"}));
}

// A child locked by another transaction stops the cascade that would
// delete it, at the delete or at its commit, and nothing goes.
TEST_P(RefsE2E, CascadeStopsAtAChildLockedElsewhere) {
  ASSERT_EQ(Act("exemp010", Employee(1, "A", "B", "C", ""), db_insert_51), 0);
  ASSERT_EQ(Commit(), 0);
  int other = zdb_start_session("other");
  ZDB_CURSOR *holder = Open("exemp010", other);
  Load(Employee(1, "", "", "", ""));
  ASSERT_EQ(zdb_exec_row(holder, db_eq_locked, 0, kCompany), 0) << zdb_errno;
  int rc = DeleteDept("C");
  if (rc == 0) rc = Commit();
  EXPECT_NE(rc, 0);
  EXPECT_EQ(Detail(), 107);
  Abort();
  zdb_close(holder);
  zdb_exec_db(abort_trans, other);
  EXPECT_EQ(Emps(), (std::vector<std::string>{"1|A|B|C|"}));
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|1|1", "B|0|0", "C|0|0", "D|0|0"}));
}

// Assignments (exasg010) go with their department by a cascade and count
// in their site (exsit010), which lives on msqltwo in both layouts: a
// department's cascade reaches a table whose counted parent is not the
// departments' driver's, so the client does that cascade itself.
class RefsSitesE2E : public RefsE2E {
 protected:
  std::string TableDefs() const override { return "exsit:*:msqltwo\n" + RefsE2E::TableDefs(); }
  void Environment() override {
    const std::string dict = root_.path() + "/dict/";
    std::string text = ReadFile(dict + "dexdep010");
    const std::string by = "R referenced by\n";
    text.insert(text.find(by) + by.size(), ":REFC exasg010.dept    0cc\n");
    root_.WriteFile("dict/dexdep010", text);
    const std::string key = "I 1\n:INDX 1\n:ASCD 0\n:DUPL 0\n:KEYF ";
    root_.WriteFile("dict/dexsit010",
                    ":VERS 1\nF Refcntd\n:NAME exsit010.Refcntd\n:DOMA excount\n"
                    "F Refcntu\n:NAME exsit010.Refcntu\n:DOMA excount\n"
                    "F code\n:NAME exsit010.code\n:DOMA excode\n" +
                        key + "exsit010.code    \nR referenced by\n:REFC exasg010.site    0rr\n");
    root_.WriteFile("dict/dexasg010",
                    ":VERS 1\nF asg\n:NAME exasg010.asg\n:DOMA excount\n"
                    "F dept\n:NAME exasg010.dept\n:DOMA excode\n:REFR exdep010.code\n:REFM 0cc\n"
                    "F site\n:NAME exasg010.site\n:DOMA excode\n:REFR exsit010.code\n:REFM 0rr\n" +
                        key + "exasg010.asg     \n");
  }
  void SetUp() override {
    RefsE2E::SetUp();
    Create("exsit010", {kCompany});
    Create("exasg010", {kCompany});
    Seed("exsit010", kCompany, {{{"code", "S1"}}, {{"code", "S2"}}});
  }
  int Assign(int asg, const char *dept, const char *site) {
    std::vector<unsigned char> row = Row("exasg010", {{"dept", dept}, {"site", site}});
    const DD_COLUMN *c = ddcolumn("exasg010.asg");
    for (int i = 0; i < 4; ++i) row[c->offset + i] = static_cast<unsigned char>(asg >> (24 - 8 * i));
    return Act("exasg010", row, db_insert_51);
  }
  std::vector<std::string> Sites() const {
    return SqliteRows(root_.path() + "/data/two.db",
                      "SELECT CAST(code AS TEXT), Refcntd, Refcntu FROM exsit010005 ORDER BY code");
  }
  std::vector<std::string> Assignments() const {
    return SqliteRows(root_.path() + "/data/main.db",
                      "SELECT asg, CAST(dept AS TEXT), CAST(site AS TEXT) FROM exasg010005 ORDER BY asg");
  }
};

TEST_P(RefsSitesE2E, CascadeReachesAChildCountedOnAnotherDriver) {
  ASSERT_EQ(Assign(1, "A", "S1"), 0);
  ASSERT_EQ(Assign(2, "A", "S2"), 0);
  ASSERT_EQ(Assign(3, "B", "S1"), 0);
  ASSERT_EQ(Commit(), 0) << ErrorText();
  EXPECT_EQ(Sites(), (std::vector<std::string>{"S1|2|2", "S2|1|1"}));

  ASSERT_EQ(DeleteDept("A"), 0) << action_msg_;
  ASSERT_EQ(Commit(), 0) << ErrorText();
  EXPECT_EQ(Assignments(), (std::vector<std::string>{"3|B|S1"}));
  EXPECT_EQ(Sites(), (std::vector<std::string>{"S1|1|1", "S2|0|0"}));

  // A new key reaches the assignment and leaves its site's count alone.
  ASSERT_EQ(Change("exdep010", Row("exdep010", {{"code", "B"}}), db_update,
                   [&] { SetText("exdep010.code", "E"); }),
            0)
      << get_zdb_msg();
  ASSERT_EQ(Commit(), 0) << ErrorText();
  EXPECT_EQ(Assignments(), (std::vector<std::string>{"3|E|S1"}));
  EXPECT_EQ(Sites(), (std::vector<std::string>{"S1|1|1", "S2|0|0"}));
}

// A buffered delete of a parent locks the row for the lookup of its
// restricting children, whether or not the table has any: another
// transaction's locked read of it gets 107 until this one ends.
TEST_P(RefsSitesE2E, ADeletedParentIsLockedForItsChildrenLookup) {
  int other = zdb_start_session("other");
  for (auto [table, code] : {std::make_pair("exsit010", "S2"), std::make_pair("exdep010", "D")}) {
    SCOPED_TRACE(table);
    ZDB_CURSOR *cursor = Open(table);
    Load(Row(table, {{"code", code}}));
    ASSERT_EQ(zdb_exec_row(cursor, db_eq_delayed, 0, kCompany), 0) << zdb_errno;
    ASSERT_EQ(zdb_exec_row(cursor, db_delete_51, 0, kCompany), 0) << zdb_errno;
    ASSERT_EQ(zdb_flush(trans_), 0) << zdb_errno;
    zdb_close(cursor);
    ZDB_CURSOR *reader = Open(table, other);
    Load(Row(table, {{"code", code}}));
    EXPECT_EQ(zdb_exec_row(reader, db_eq_locked, 0, kCompany), -1);
    EXPECT_EQ(zdb_errno, 107);
    ASSERT_EQ(Abort(), 0);
    EXPECT_EQ(zdb_exec_row(reader, db_eq_locked, 0, kCompany), 0) << zdb_errno;
    zdb_close(reader);
    zdb_exec_db(abort_trans, other);
  }
}

// With drivers that list the tables each commit changed, the commit that
// deletes a department names the employees its cascade and nullify
// changed, whichever side did them. (The lists of the drivers' commit
// replies stay with the transaction until its next commit.)
class RefsListedE2E : public RefsE2E {
 protected:
  void Environment() override {
    std::string text = ReadFile(root_.path() + "/lib/ipc_info");
    for (const char *file : {"/data/main.db\n", "/data/two.db\n"}) {
      std::size_t at = text.find(file);
      ASSERT_NE(at, std::string::npos);
      text.insert(at + std::strlen(file) - 1, " --audit-list");
    }
    root_.WriteFile("lib/ipc_info", text);
  }
  // table|company of the transaction's list, sorted.
  std::vector<std::string> Listed() const {
    std::vector<std::string> listed;
    for (const ZDB_AUDIT_ENTRY &e : zdb_get_trans_by_id(trans_)->audit_list)
      listed.push_back(std::string(e.table) + "|" + std::to_string(e.compnr));
    std::sort(listed.begin(), listed.end());
    return listed;
  }
};

TEST_P(RefsListedE2E, TheCommitNamesTheTablesACascadeChanged) {
  ASSERT_EQ(Act("exemp010", Employee(1, "A", "B", "C", "D"), db_insert_51), 0);
  ASSERT_EQ(Act("exemp010", Employee(2, "A", "B", "D", "C"), db_insert_51), 0);
  ASSERT_EQ(Commit(), 0) << ErrorText();
  ASSERT_EQ(DeleteDept("C"), 0) << action_msg_;
  ASSERT_EQ(Commit(), 0) << ErrorText();
  EXPECT_EQ(Emps(), (std::vector<std::string>{"2|A|B|D|"}));
  EXPECT_EQ(Listed(), (std::vector<std::string>{"exdep010|5", "exemp010|5"}));
}

// Company 6 keeps its departments in company 5 and its employees apart: a
// department's children are looked for among the employees of both
// companies, whichever side does the work.
class RefsSharedE2E : public RefsE2E {
 protected:
  void Environment() override { root_.WriteFile("lib/compnr1", "exdep:5:6\n"); }
  void SetUp() override {
    RefsE2E::SetUp();
    Create("exemp010", {6});
  }
  std::vector<std::string> SixEmps() const {
    return SqliteRows(root_.path() + "/data/main.db",
                      "SELECT emp, CAST(dept AS TEXT), CAST(drst AS TEXT), CAST(dcas AS TEXT), "
                      "CAST(dnul AS TEXT) FROM exemp010006 ORDER BY emp");
  }
};

TEST_P(RefsSharedE2E, ChildrenOfEveryCompanyOfASharedParent) {
  ASSERT_EQ(Act("exemp010", Employee(1, "A", "A", "D", "D"), db_insert_51), 0);
  ASSERT_EQ(Act("exemp010", Employee(2, "A", "B", "C", "C"), db_insert_51, 6), 0);
  ASSERT_EQ(Commit(), 0) << ErrorText();
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|2|2", "B|0|0", "C|0|0", "D|0|0"}));
  // Company 5's employee restricts A, company 6's B, from either company.
  EXPECT_EQ(DeleteDept("A", 6), kStillReferenced);
  ASSERT_EQ(Abort(), 0);
  EXPECT_EQ(DeleteDept("B"), kStillReferenced);
  ASSERT_EQ(Abort(), 0);
  ASSERT_EQ(DeleteDept("C"), 0) << action_msg_;
  ASSERT_EQ(Commit(), 0) << ErrorText();
  EXPECT_EQ(SixEmps(), std::vector<std::string>{});
  EXPECT_EQ(Emps(), (std::vector<std::string>{"1|A|A|D|D"}));
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|1|1", "B|0|0", "D|0|0"}));
}

// A parent key whose value is empty or all blanks: the error names the
// reference and an empty key.
TEST_P(RefsE2E, AReferenceErrorWithABlankKeyNamesAnEmptyKey) {
  ASSERT_EQ(Act("exemp010", Employee(1, "", "A", "A", ""), db_insert_51), 0);
  EXPECT_NE(Commit(), 0);
  EXPECT_EQ(Detail(), kNoParent);
  // With the employees on a driver of their own the departments' driver
  // refuses the counter change, which names no reference.
  if (!GetParam()) {
    EXPECT_NE(ErrorText().find("exemp010.dept->exdep010.code []"), std::string::npos) << ErrorText();
  }
  ASSERT_EQ(Abort(), 0);
  EXPECT_EQ(Emps(), std::vector<std::string>{});
}

// A buffered update that tolerates a changed row (ZDB_FLAG_CHANGED_OK) and
// changes no counted reference stays buffered with its tolerance: the row
// another transaction changed since the delayed read is passed over at the
// commit, not refused, and keeps the other's change.
TEST_P(RefsE2E, ABufferedUpdateThatToleratesAChangedRowKeepsItsTolerance) {
  ASSERT_EQ(Act("exemp010", Employee(1, "A", "B", "C", ""), db_insert_51), 0);
  ASSERT_EQ(Commit(), 0) << ErrorText();
  ZDB_CURSOR *cursor = Open("exemp010");
  Load(Employee(1, "", "", "", ""));
  ASSERT_EQ(zdb_exec_row(cursor, db_eq_delayed, 0, kCompany), 0) << zdb_errno;
  const std::vector<unsigned char> mine(row_, row_ + sizeof row_);
  int other = zdb_start_session("other");
  ZDB_CURSOR *changer = Open("exemp010", other);
  ASSERT_EQ(zdb_exec_row(changer, db_eq_locked, 0, kCompany), 0) << zdb_errno;
  SetText("exemp010.drst", "D");
  ASSERT_EQ(zdb_exec_row(changer, db_update_51, 0, kCompany), 0) << zdb_errno;
  ASSERT_EQ(zdb_exec_db(commit_trans, other), 0) << zdb_errno;
  zdb_close(changer);
  Load(mine);
  SetText("exemp010.name", "Mine");
  EXPECT_EQ(zdb_exec_row(cursor, db_update_51, ZDB_FLAG_CHANGED_OK, kCompany), 0) << zdb_errno;
  zdb_close(cursor);
  EXPECT_EQ(Commit(), 0) << ErrorText();
  EXPECT_EQ(Emps(), (std::vector<std::string>{"1|A|D|C|"}));
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|1|1", "B|0|0", "C|0|0", "D|0|0"}));
}

// A department changed in the transaction that also added a child counted
// in it: the counter change goes first, and the department ends with both
// its new name and its count.
TEST_P(RefsE2E, ARowActionOnAParentWithAPendingCounterChange) {
  ASSERT_EQ(Act("exemp010", Employee(1, "A", "B", "C", ""), db_insert_51), 0);
  ASSERT_EQ(Change("exdep010", Row("exdep010", {{"code", "A"}}), db_update_51,
                   [&] { SetText("exdep010.name", "Renamed"); }),
            0)
      << ErrorText();
  ASSERT_EQ(Commit(), 0) << ErrorText();
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|1|1", "B|0|0", "C|0|0", "D|0|0"}));
  EXPECT_EQ(SqliteRows(root_.path() + "/data/main.db",
                       "SELECT CAST(name AS TEXT) FROM exdep010005 WHERE CAST(code AS TEXT) LIKE 'A %'"),
            std::vector<std::string>{"Renamed"});
}

// Two counted references of one child that share a column: a child's pair
// (cx, cy) cascades with its parent's key and counts on delete, its pair
// (cy, cz) counts both ways. A parent's key change that the cascade carries
// into cy moves the counters of the second reference once, and those of the
// first not at all (they move with the parent row).
class RefsOverlapE2E : public RefsE2E {
 protected:
  std::string TableDefs() const override {
    return (GetParam() ? "exchi:*:msqltwo\n" : "") + RefsE2E::TableDefs();
  }
  void Environment() override {
    auto field = [](std::string name) {
      name.resize(17, ' ');
      return name;
    };
    root_.WriteFile("dict/dexpar010",
                    ":VERS 2\nF Refcntd\n:NAME expar010.Refcntd\n:DOMA excount\n"
                    "F Refcntu\n:NAME expar010.Refcntu\n:DOMA excount\n"
                    "F k1\n:NAME expar010.k1\n:DOMA excode\nF k2\n:NAME expar010.k2\n:DOMA excode\n"
                    "F kk\n:NAME expar010.kk\n:COMB " + field("expar010.k1") + field("expar010.k2") +
                        "\nI 1\n:INDX 1\n:ASCD 0\n:DUPL 0\n:KEYF " + field("expar010.kk") +
                        "\nR referenced by\n:REFC " + field("exchi010.r1") + "0cr\n:REFC " + field("exchi010.r2") +
                        "0rr\n:END\n");
    root_.WriteFile("dict/dexchi010",
                    ":VERS 2\nF cx\n:NAME exchi010.cx\n:DOMA excode\nF cy\n:NAME exchi010.cy\n:DOMA excode\n"
                    "F cz\n:NAME exchi010.cz\n:DOMA excode\nF id\n:NAME exchi010.id\n:DOMA excount\n"
                    "F r1\n:NAME exchi010.r1\n:COMB " + field("exchi010.cx") + field("exchi010.cy") +
                        "\n:REFR expar010.kk\n:REFM 0cr\nF r2\n:NAME exchi010.r2\n:COMB " + field("exchi010.cy") +
                        field("exchi010.cz") + "\n:REFR expar010.kk\n:REFM 0rr\nI 1\n:INDX 1\n:ASCD 0\n:DUPL 0\n:KEYF " +
                        field("exchi010.id") + "\n:END\n");
  }
  void SetUp() override {
    RefsE2E::SetUp();
    Create("expar010", {kCompany});
    Create("exchi010", {kCompany});
    Seed("expar010", kCompany,
         {{{"k1", "A"}, {"k2", "B"}}, {{"k1", "B"}, {"k2", "C"}}, {{"k1", "D"}, {"k2", "C"}}});
  }
  int Child(int id, const char *x, const char *y, const char *z) {
    std::vector<unsigned char> row = Row("exchi010", {{"cx", x}, {"cy", y}, {"cz", z}});
    const DD_COLUMN *c = ddcolumn("exchi010.id");
    for (int i = 0; i < 4; ++i) row[c->offset + i] = static_cast<unsigned char>(id >> (24 - 8 * i));
    return Act("exchi010", row, db_insert_51);
  }
  std::vector<std::string> Parents() const {
    return SqliteRows(root_.path() + "/data/main.db",
                      "SELECT CAST(k1 AS TEXT), CAST(k2 AS TEXT), Refcntd, Refcntu FROM expar010005 ORDER BY k1, k2");
  }
  std::vector<std::string> Children() const {
    return SqliteRows(root_.path() + (GetParam() ? "/data/two.db" : "/data/main.db"),
                      "SELECT id, CAST(cx AS TEXT), CAST(cy AS TEXT), CAST(cz AS TEXT) FROM exchi010005 ORDER BY id");
  }
};

TEST_P(RefsOverlapE2E, ACascadeThroughASharedColumnMovesEachCounterOnce) {
  ASSERT_EQ(Child(1, "A", "B", "C"), 0) << ErrorText();
  ASSERT_EQ(Commit(), 0) << ErrorText();
  EXPECT_EQ(Parents(), (std::vector<std::string>{"A|B|1|0", "B|C|1|1", "D|C|0|0"}));
  ASSERT_EQ(Change("expar010", Row("expar010", {{"k1", "A"}, {"k2", "B"}}), db_update,
                   [&] { SetText("expar010.k2", "D"); }),
            0)
      << ErrorText();
  ASSERT_EQ(Commit(), 0) << ErrorText();
  EXPECT_EQ(Children(), (std::vector<std::string>{"1|A|D|C"}));
  EXPECT_EQ(Parents(), (std::vector<std::string>{"A|D|1|0", "B|C|0|0", "D|C|1|1"}));
}

// The employees' cascading reference to their department counts on delete
// ("0cr"): a department's key change takes its children to the new key,
// and the department's delete counter still equals its children.
class RefsCountedCascadeE2E : public RefsE2E {
 protected:
  void Environment() override {
    const std::string dict = root_.path() + "/dict/";
    for (auto [file, from, to] : {std::make_tuple("dexemp010", ":REFM 0cc", ":REFM 0cr"),
                                  std::make_tuple("dexdep010", "exemp010.dcas    0cc", "exemp010.dcas    0cr")}) {
      std::string text = ReadFile(dict + file);
      ASSERT_NE(text.find(from), std::string::npos) << file;
      text.replace(text.find(from), std::strlen(from), to);
      root_.WriteFile(std::string("dict/") + file, text);
    }
  }
};

TEST_P(RefsCountedCascadeE2E, AKeyChangeThroughTheCascadeKeepsTheCounterEqualToTheChildren) {
  ASSERT_EQ(Act("exemp010", Employee(1, "A", "B", "C", ""), db_insert_51), 0);
  ASSERT_EQ(Act("exemp010", Employee(2, "A", "B", "C", ""), db_insert_51), 0);
  ASSERT_EQ(Commit(), 0) << ErrorText();
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|2|2", "B|0|0", "C|2|0", "D|0|0"}));
  ASSERT_EQ(Change("exdep010", Row("exdep010", {{"code", "C"}}), db_update,
                   [&] { SetText("exdep010.code", "F"); }),
            0)
      << get_zdb_msg();
  ASSERT_EQ(Commit(), 0) << ErrorText();
  EXPECT_EQ(Emps(), (std::vector<std::string>{"1|A|B|F|", "2|A|B|F|"}));
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|2|2", "B|0|0", "D|0|0", "F|2|0"}));
  // Deleting a child lowers the new key's counter.
  ASSERT_EQ(Change("exemp010", Employee(1, "", "", "", ""), db_delete, [] {}), 0);
  ASSERT_EQ(Commit(), 0) << ErrorText();
  EXPECT_EQ(Depts(), (std::vector<std::string>{"A|1|1", "B|0|0", "D|0|0", "F|1|0"}));
}

// Departments are restricted by rows of a table (exnon010) that is in the
// database but whose dictionary cannot be had: whether a department is
// still referenced is then an error, never "not referenced".
class RefsUnknownChildE2E : public RefsE2E {
 protected:
  void Environment() override {
    const std::string file = root_.path() + "/dict/dexdep010";
    std::string text = ReadFile(file);
    const std::string by = "R referenced by\n";
    text.insert(text.find(by) + by.size(), ":REFC exnon010.dept    0tt\n");
    root_.WriteFile("dict/dexdep010", text);
  }
};

TEST_P(RefsUnknownChildE2E, StillReferencedWithoutTheChildsDictionaryIsAnError) {
  SqliteExec(root_.path() + "/data/main.db",
             "CREATE TABLE exnon010005 (dept BLOB); INSERT INTO exnon010005 VALUES (CAST('A     ' AS BLOB))");
  ZDB_CURSOR *cursor = Open("exdep010");
  for (int argument : {3, 4, 7, 8}) {
    SCOPED_TRACE(argument);
    Load(Row("exdep010", {{"code", "A"}}));
    const char *text = nullptr;
    EXPECT_EQ(zdb_get_refcount(cursor, kCompany, &text, argument), -1) << zdb_errno;
    EXPECT_NE(zdb_errno, 0);
  }
  zdb_close(cursor);
}

std::string LayoutName(const testing::TestParamInfo<bool> &info) {
  return info.param ? "ChildrenOnTheirOwnDriver" : "OneDriver";
}
INSTANTIATE_TEST_SUITE_P(Layouts, RefsE2E, testing::Bool(), LayoutName);
INSTANTIATE_TEST_SUITE_P(Layouts, RefsOffE2E, testing::Bool(), LayoutName);
INSTANTIATE_TEST_SUITE_P(Layouts, RefsSitesE2E, testing::Bool(), LayoutName);
INSTANTIATE_TEST_SUITE_P(Layouts, RefsListedE2E, testing::Bool(), LayoutName);
INSTANTIATE_TEST_SUITE_P(Layouts, RefsSharedE2E, testing::Bool(), LayoutName);
INSTANTIATE_TEST_SUITE_P(Layouts, RefsCountedCascadeE2E, testing::Bool(), LayoutName);
INSTANTIATE_TEST_SUITE_P(Layouts, RefsUnknownChildE2E, testing::Bool(), LayoutName);
INSTANTIATE_TEST_SUITE_P(Layouts, RefsOverlapE2E, testing::Bool(), LayoutName);

}  // namespace
}  // namespace molvane::test
