// The classic SQL API end to end, as in sql_api_e2e_test.cc: a result open
// while the session writes, parameters bound, DELETE and UPDATE with their
// counts, open cursors after writes of their transaction, rows another
// transaction locked, retry points, soft close of an idle statement,
// time-outs, a driver that dies in the middle of a fetch, and a user whose
// role restricts the employees table.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <molvane/dd.h>
#include <molvane/sql.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_refs.h>

#include "dbc/dict/dd.h"
#include "dbc/session/dbc_settings.h"
#include "dbc/session/zdb_attach.h"
#include "sql/common/table_writes.h"
#include "sql_api_e2e.h"

namespace molvane::test::sql_api {
namespace {

// A result fetched row by row keeps the rows it had when the session
// changes the table in the middle of the fetches.
TEST_P(SqlApiE2E, AnOpenResultKeepsItsRowsWhileTheSessionWrites) {
  QPCStatement *h = Parse("SELECT emp, name FROM exemp010 ORDER BY emp");
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(sql_set_rds_full(h, 1), 0);
  ASSERT_EQ(sql_exec(h, 1), 0);
  EXPECT_EQ(Fetch(h, 1), (Rows{"1|Ann"}));
  EXPECT_EQ(Change("UPDATE exemp010 SET name = 'Zed' WHERE emp = 3"), 1);
  EXPECT_EQ(Fetch(h), (Rows{"2|Bob", "3|Cid", "4|Dan"}));
  EXPECT_EQ(Query("SELECT name FROM exemp010 WHERE emp = 3"), (Rows{"Zed"}));
}

// Every type code of sql_bind_input, and a parameter read from a host
// variable at each execution.
TEST_P(SqlApiE2E, ParametersOfEveryType) {
  struct Case {
    const char *text;
    int type;
    std::int32_t integer;
    double real;
    std::string bytes;
    Rows rows;
  };
  const Case cases[] = {
      {"SELECT emp FROM exemp010 WHERE emp = :v", SQL_TYPE_INTEGER, 2, 0, "", {"2"}},
      {"SELECT emp FROM exemp010 WHERE salary > :v ORDER BY emp", SQL_TYPE_REAL, 0, 250.5, "",
       {"3", "4"}},
      {"SELECT emp FROM exemp010 WHERE name = :v", SQL_TYPE_STRING, 0, 0, "Cid", {"3"}},
      {"SELECT emp FROM exemp010 WHERE photo = :v", SQL_TYPE_RAW, 0, 0, "\x0a\xff\x01\x02", {"1"}},
      {"SELECT emp FROM exemp010 WHERE hired = :v", SQL_TYPE_INTEGER, 738003, 0, "", {"3"}},
  };
  for (const Case &c : cases) {
    QPCStatement *h = Parse(c.text);
    ASSERT_NE(h, nullptr);
    std::string bytes = c.bytes;
    unsigned char *p = reinterpret_cast<unsigned char *>(bytes.data());
    void *value = c.type == SQL_TYPE_INTEGER ? static_cast<void *>(const_cast<std::int32_t *>(&c.integer))
                  : c.type == SQL_TYPE_REAL  ? static_cast<void *>(const_cast<double *>(&c.real))
                                             : static_cast<void *>(&p);
    ASSERT_EQ(sql_bind_input(h, ":v", c.type, static_cast<int>(bytes.size()), value), 0)
        << c.text << ": " << g_host.lastError;
    ASSERT_EQ(sql_exec(h, 1), 0) << c.text << ": " << g_host.lastError;
    EXPECT_EQ(Fetch(h), c.rows) << c.text;
    Close(h);
  }
  // A host variable: read again at every execution.
  QPCStatement *h = Parse("SELECT name FROM exemp010 WHERE emp = :e");
  ASSERT_NE(h, nullptr);
  g_host.types[":e"] = SQL_TYPE_INTEGER;
  for (int emp : {1, 3}) {
    g_host.values[":e"].l = emp;
    ASSERT_EQ(sql_exec(h, 1), 0) << g_host.lastError;
    EXPECT_EQ(Fetch(h), (Rows{emp == 1 ? "Ann" : "Cid"}));
  }
}

// One name used twice binds both places: the OR form of the set reads.
TEST_P(SqlApiE2E, AParameterUsedTwiceIsBoundOnce) {
  QPCStatement *h = Parse("SELECT emp FROM exemp010 WHERE emp > :1 OR (emp = :1 AND name >= :2) "
                          "ORDER BY emp");
  ASSERT_NE(h, nullptr);
  std::int32_t one = 2;
  std::string name = "Bob";
  unsigned char *p = reinterpret_cast<unsigned char *>(name.data());
  ASSERT_EQ(sql_bind_input(h, ":1", SQL_TYPE_INTEGER, 4, &one), 0) << g_host.lastError;
  ASSERT_EQ(sql_bind_input(h, ":2", SQL_TYPE_STRING, 3, &p), 0) << g_host.lastError;
  ASSERT_EQ(sql_exec(h, 1), 0) << g_host.lastError;
  EXPECT_EQ(Fetch(h), (Rows{"2", "3", "4"}));
}

TEST_P(SqlApiChanges, DeleteAndUpdateCountTheirRows) {
  EXPECT_EQ(Change("UPDATE exemp010 SET salary = 1000 WHERE dept = 'B'"), 2);
  EXPECT_EQ(Query("SELECT emp, salary FROM exemp010 WHERE dept = 'B' ORDER BY emp"),
            (Rows{"2|1000", "3|1000"}));
  EXPECT_EQ(Change("UPDATE exemp010 SET name = 'Nobody' WHERE emp = 99"), -SQL_ERR_NO_ROWS);
  // A RAW column set from a raw value.
  EXPECT_EQ(Change("UPDATE exemp010 SET photo = x'00ff7f80' WHERE emp = 2"), 1);
  EXPECT_EQ(Query("SELECT emp, photo FROM exemp010 WHERE emp IN (1, 2, 3) ORDER BY emp"),
            (Rows{"1|0aff0102", "2|00ff7f80", "3|41000000"}));
  EXPECT_EQ(Change("DELETE FROM exemp010 WHERE emp = 4"), 1);
  EXPECT_EQ(Change("DELETE FROM exemp010 WHERE emp = 4"), -SQL_ERR_NO_ROWS);
  EXPECT_EQ(Query("SELECT COUNT(*) :n FROM exemp010"), (Rows{"3"}));
  // Company 2 is untouched.
  EXPECT_EQ(Change("DELETE FROM exemp010"), 3);
  EXPECT_EQ(Query("SELECT emp FROM exemp010", 2), (Rows{"7"}));
  // With references switched off a parent row may go and a foreign key may
  // change (no 42I65, no 42I68), but a primary key still may not (42I67).
  EXPECT_EQ(Change("UPDATE exemp010 SET dept = 'D' WHERE emp = 7", 2), 1);
  EXPECT_EQ(Change("DELETE FROM exdep010 WHERE code = 'C'"), 1);
  EXPECT_EQ(sql_parse("UPDATE exemp010 SET emp = 9 WHERE emp = 7", static_cast<unsigned long>(trans_), 0), nullptr);
  EXPECT_EQ(zdb_errno, SQL_ERR_PARSE);
  EXPECT_NE(g_host.lastError.find("42I67"), std::string::npos) << g_host.lastError;
}

// A SUM that leaves 32 bits fails the fetch with 22003, whose text names
// the values; grouped here (over two drivers), the set function and its
// column too.
TEST_P(SqlApiChanges, SumOutOfRangeNamesItsValues) {
  // Two employees of department A with large numbers.
  std::vector<unsigned char> row(ddtable("exemp010")->row_length);
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "exemp010", 1, row.data(), 0, trans_), 0) << zdb_errno;
  const DD_COLUMN *emp = ddcolumn("exemp010.emp"), *name = ddcolumn("exemp010.name");
  auto put = [&](std::uint32_t number) {
    for (int i = 0; i < 4; ++i) row[emp->offset + i] = static_cast<unsigned char>(number >> (24 - 8 * i));
  };
  put(1);
  ASSERT_EQ(zdb_exec_row(cursor, db_eq, 0, 1), 0) << zdb_errno;
  for (std::uint32_t number : {2000000000u, 2000000001u}) {
    put(number);
    std::memset(row.data() + name->offset, ' ', static_cast<std::size_t>(name->length));
    std::memcpy(row.data() + name->offset, number % 2 ? "Odd" : "Even", number % 2 ? 3 : 4);
    ASSERT_EQ(zdb_exec_row(cursor, db_insert, 0, 1), 0) << zdb_errno << " " << get_zdb_msg();
  }
  ASSERT_EQ(zdb_exec_db(commit_trans, trans_), 0) << zdb_errno << " " << get_zdb_msg();
  zdb_close(cursor);
  QPCStatement *h = Parse("SELECT SUM(e.emp) :s FROM exemp010 e, exdep010 d "
                          "WHERE e.dept = d.code AND e.emp > 1000");
  ASSERT_NE(h, nullptr);
  g_host.lastError.clear();
  int end = 0;
  if (sql_exec(h, 1) == 0) {
    EXPECT_EQ(Fetch(h, -1, &end), Rows{});
  }
  // One driver or the library over two: the sum names its column alike.
  const std::string head = "SQLState 22003: SUM of column emp leaves the INTEGER range (-2147483648 to "
                           "2147483647): ";
  EXPECT_TRUE(g_host.lastError == head + "2000000000 + 2000000001 (error 205)" ||
              g_host.lastError == head + "2000000001 + 2000000000 (error 205)")
      << g_host.lastError;
}

// What a statement holds or keeps of its subqueries' answers belongs to one
// execution: executed again after a change, it answers from the changed
// rows (over two drivers the subqueries run here).
TEST_P(SqlApiChanges, SubqueryAnswersLastOneExecution) {
  QPCStatement *correlated = Parse("SELECT d.code FROM exdep010 d WHERE EXISTS (SELECT emp FROM exemp010 e "
                                   "WHERE e.dept = d.code AND e.salary < 150) ORDER BY 1");
  QPCStatement *uncorrelated =
      Parse("SELECT d.code FROM exdep010 d WHERE d.code NOT IN (SELECT dept FROM exemp010) ORDER BY 1");
  ASSERT_NE(correlated, nullptr);
  ASSERT_NE(uncorrelated, nullptr);
  auto run = [this](QPCStatement *h) {
    EXPECT_EQ(sql_exec(h, 1), 0) << g_host.lastError;
    return Fetch(h);
  };
  EXPECT_EQ(run(correlated), (Rows{"A"}));
  EXPECT_EQ(run(uncorrelated), (Rows{"C"}));
  EXPECT_EQ(Change("UPDATE exemp010 SET salary = 120 WHERE emp = 2"), 1);
  EXPECT_EQ(Change("UPDATE exemp010 SET dept = 'C' WHERE emp = 4"), 1);
  EXPECT_EQ(run(correlated), (Rows{"A", "B"}));
  EXPECT_EQ(run(uncorrelated), (Rows{}));
}

// Record actions of the test's transaction on company 1, as a host makes
// them: the row of a key read, a column set and the row buffered as an
// update (or a delete), then flushed unless the test flushes later.
class RecordWriter {
 public:
  RecordWriter(const char *table, int trans) : row_(ddtable(table)->row_length), table_(table) {
    EXPECT_EQ(zdb_open(&cursor_, table, 1, row_.data(), 0, trans), 0) << zdb_errno;
    trans_ = trans;
  }
  ~RecordWriter() { zdb_close(cursor_); }
  RecordWriter(const RecordWriter &) = delete;
  RecordWriter &operator=(const RecordWriter &) = delete;
  // `key` names the primary key's column and value ("code=B", "emp=2");
  // `change` the column and its new text ("name=Aleph"), empty: a delete.
  bool Change(const std::string &key, const std::string &change, bool flush = true) {
    Put(key);
    if (zdb_exec_row(cursor_, db_eq_delayed, 0, 1) != 0) return false;
    if (!change.empty()) Put(change);
    if (zdb_exec_row(cursor_, change.empty() ? db_delete_51 : db_update_51, 0, 1) != 0) return false;
    return !flush || zdb_flush(trans_) == 0;
  }

 private:
  // A text column blank-padded, an integer column (4 bytes) big-endian.
  void Put(const std::string &assignment) {
    const std::string column = table_ + "." + assignment.substr(0, assignment.find('='));
    const std::string value = assignment.substr(assignment.find('=') + 1);
    const DD_COLUMN *c = ddcolumn(column.c_str());
    ASSERT_NE(c, nullptr) << column;
    unsigned char *p = row_.data() + c->offset;
    if (column == "exemp010.emp") {
      const auto n = static_cast<std::uint32_t>(std::stoi(value));
      for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(n >> (24 - 8 * i));
      return;
    }
    std::memset(p, ' ', c->length);
    std::memcpy(p, value.data(), std::min<std::size_t>(value.size(), c->length));
  }

  std::vector<unsigned char> row_;
  std::string table_;
  ZDB_CURSOR *cursor_ = nullptr;
  int trans_ = 0;
};


// A flushed record write counts for the tables whose rows the driver's
// reference work may change with it: its children down the referencing
// links (a department's employees, which cascade or are nullified with
// it) and one step up (an employee's department, which counts its
// employees); a table outside them keeps its count.
TEST_P(SqlApiChanges, AFlushCountsTheTablesItsReferenceWorkReaches) {
  struct Case {
    const char *table, *key, *change;  // RecordWriter::Change; no change: a delete
    std::vector<std::string> counted, kept;
  };
  const Case cases[] = {
      {"exdep010", "code=C", "name=Omega", {"exdep010", "exemp010"}, {"tttxt010"}},
      {"exemp010", "emp=1", "name=Anna", {"exemp010", "exdep010"}, {"tttxt010"}},
      {"exdep010", "code=C", "", {"exdep010", "exemp010"}, {"tttxt010"}},
  };
  auto count = [](const std::string &table) { return SQLTableWrites::Counter(table.data(), table.size())->load(); };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.table) + " " + c.key + " " + c.change);
    std::map<std::string, unsigned long> before;
    for (const auto *tables : {&c.counted, &c.kept})
      for (const std::string &t : *tables) before[t] = count(t);
    RecordWriter writer(c.table, trans_);
    ASSERT_TRUE(writer.Change(c.key, c.change)) << zdb_errno << " " << get_zdb_msg();
    for (const std::string &t : c.counted) EXPECT_GT(count(t), before[t]) << t;
    for (const std::string &t : c.kept) EXPECT_EQ(count(t), before[t]) << t;
  }
}

// A cursor left open across a write of its own transaction returns, from
// its next fetch on, rows of the tables as the write left them, whichever
// part of the plan kept rows of the written table: an uncorrelated
// subquery's answer held for the execution, a correlated one's kept by
// outer value, the short list of an IN's values sent with the other
// table, the inner side of an INNER, LEFT or RIGHT join read once, and a
// FULL join's right side. Over two drivers all of them run here; over one
// the driver runs the whole statement, whose result keeps the rows of its
// start (AnOpenResultKeepsItsRowsWhileTheSessionWrites). The INNER join
// also in batches of outer rows (the most rows read whole lowered to one),
// and with the employees joined to themselves (one query of their driver)
// as the outer side, which gets the list of the departments' key values
// read first: after a write of the departments, the employees the list
// left out follow. Department B's name "Aleph" puts it below 'B';
// department C has no employee. The list's values meet the employees' keys
// as the join compares them: texts of two widths (a department's name of
// 20 against a code of 6) and a REAL budget against an INTEGER number, so
// that no employee comes twice. A FULL join's right row is known by its
// key (of each table, where the right side joins tables of both drivers
// here): one that a write changes stays matched, also where the change
// makes its condition false, and the right rows handed out unmatched
// before a write are not handed out again.
TEST_P(SqlApiChanges, AnOpenCursorSeesEveryOwnersRowsAfterAWriteOfItsTransaction) {
  if (std::string(GetParam()) != "two") GTEST_SKIP() << "one driver runs each statement whole";
  const std::string held = "SELECT e.emp FROM exemp010 e WHERE e.emp = 3 OR e.dept IN "
                           "(SELECT d.code FROM exdep010 d WHERE d.name < 'B')";
  const std::string keyed = "SELECT e.emp FROM exemp010 e WHERE EXISTS "
                            "(SELECT d.code FROM exdep010 d WHERE d.code = e.dept AND d.name < 'B')";
  const std::string listed = "SELECT e.emp FROM exemp010 e WHERE e.dept IN "
                             "(SELECT d.code FROM exdep010 d WHERE d.name < 'B')";
  const std::string inner = "SELECT e.emp, d.name FROM exemp010 e, exdep010 d WHERE e.dept = d.code";
  const std::string left = "SELECT e.emp, d.name FROM exemp010 e LEFT JOIN exdep010 d "
                           "ON e.dept = d.code AND d.name < 'C'";
  const std::string right = "SELECT d.code, e.emp FROM exemp010 e RIGHT JOIN exdep010 d "
                            "ON e.dept = d.code AND e.emp > 1";
  const std::string full = "SELECT e.emp, d.code FROM exemp010 e FULL JOIN exdep010 d "
                           "ON e.dept = d.code AND e.emp < 4";
  const std::string innerFew = "SELECT e.emp, d.name FROM exemp010 e, (SELECT code, name FROM exdep010 "
                               "WHERE name < 'B') d WHERE e.dept = d.code";
  const std::string innerTerm = "SELECT e.emp, d.name FROM exemp010 e, (SELECT code, name FROM exdep010 "
                                "WHERE name < 'B') d WHERE TRIM(e.dept) = d.code";
  const std::string keyed3 = "SELECT e.emp, d.name FROM exemp010 e, exemp010 x, (SELECT code, name FROM exdep010 "
                             "WHERE name < 'B') d WHERE x.emp = e.emp AND e.dept = d.code";
  const std::string keyedNone = "SELECT e.emp, d.name FROM exemp010 e, exemp010 x, (SELECT code, name FROM exdep010 "
                                "WHERE name = 'Aleph') d WHERE x.emp = e.emp AND e.dept = d.code";
  const std::string widths = "SELECT e.emp, d.code FROM exemp010 e, exemp010 x, exdep010 d "
                             "WHERE x.emp = e.emp AND e.dept = d.name";
  const std::string numbers = "SELECT e.emp, d.code FROM exemp010 e, exemp010 x, exdep010 d "
                              "WHERE x.emp = e.emp AND e.emp = d.budget";
  const std::string fullNamed = "SELECT e.emp, d.code, d.name FROM exemp010 e FULL JOIN exdep010 d "
                                "ON e.dept = d.code AND e.emp < 4";
  const std::string fullFirst = "SELECT e.emp, d.code, d.name FROM exemp010 e FULL JOIN exdep010 d "
                                "ON e.dept = d.code AND e.emp < 2";
  const std::string fullOnName = "SELECT e.emp, d.code, d.name FROM exemp010 e FULL JOIN exdep010 d "
                                 "ON e.dept = d.code AND d.name <> 'Omega'";
  // Its right side a join of both drivers' tables, run here.
  const std::string fullOnJoined = "SELECT e.emp, d.code, d.name, x.emp FROM exemp010 e FULL JOIN (exdep010 d JOIN "
                                   "exemp010 x ON x.emp = 1) ON e.dept = d.code AND d.name <> 'Omega'";
  // A join one side of which the condition empties at sql_exec.
  const std::string emptyJoin = "SELECT e.emp, d.name FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND "
                                "d.code IN (SELECT e2.dept FROM exemp010 e2 WHERE e2.name = 'Aleph')";
  const std::string rename = "UPDATE exdep010 SET name = 'Aleph' WHERE code = 'B'";
  enum Write {
    kRecord, kRenameA, kBuffered, kSql, kClear, kAbort, kUnrelated, kRetry, kMoveEmployee, kDeleteC, kBeforeFetch,
    kJoinA
  };
  struct Case {
    const std::string *statement;
    Write write;
    Rows first, rest;  // rows before and after the write; a listed IN's rows in any order
    // The most rows read whole lowered to one: the join reads the
    // departments per batch of employees (or from the write on).
    bool batches = false;
    std::vector<std::string> setup = {};  // SQL changes before the execution
    std::size_t firstRows = 1;            // the rows fetched before the write
    bool anyOrder = false;                // `rest`: every row of the cursor, in any order
  };
  const std::vector<std::string> namedAsCoded = {"UPDATE exdep010 SET name = 'A' WHERE code = 'A'",
                                                 "UPDATE exdep010 SET name = 'B' WHERE code = 'B'"};
  const std::vector<std::string> budgeted = {"UPDATE exdep010 SET budget = 1 WHERE code = 'A'",
                                             "UPDATE exdep010 SET budget = 2 WHERE code = 'B'"};
  const Case cases[] = {
      {&held, kRecord, {"1"}, {"2", "3", "4"}},
      {&keyed, kRenameA, {"1"}, {}},
      {&listed, kRecord, {}, {"1", "2", "3", "4"}},
      {&inner, kRecord, {"1|Alpha"}, {"2|Aleph", "3|Aleph", "4|Alpha"}},
      {&left, kRecord, {"1|Alpha"}, {"2|Aleph", "3|Aleph", "4|Alpha"}},
      {&right, kMoveEmployee, {"A|4"}, {"B|3", "C|2"}},
      {&full, kDeleteC, {"1|A"}, {"2|B", "3|B", "4|-"}},
      // Every kind of write, seen by a held answer and by a join's buffer.
      {&held, kSql, {"1"}, {"2", "3", "4"}},
      {&inner, kSql, {"1|Alpha"}, {"2|Aleph", "3|Aleph", "4|Alpha"}},
      {&inner, kBuffered, {"1|Alpha"}, {"2|Beta", "3|Aleph", "4|Alpha"}},
      {&held, kAbort, {"1"}, {"3", "4"}},
      {&inner, kAbort, {"1|Aleph"}, {"2|Beta", "3|Beta", "4|Alpha"}},
      {&held, kUnrelated, {"1"}, {"3", "4"}},
      {&inner, kUnrelated, {"1|Alpha"}, {"2|Beta", "3|Beta", "4|Alpha"}},
      {&full, kUnrelated, {"1|A"}, {"2|B", "3|B", "4|-", "0|C"}},
      {&held, kRetry, {"1"}, {"2", "3", "4"}},
      // An answer found empty at sql_exec that the write fills.
      {&listed, kBeforeFetch, {}, {"2", "3"}},
      {&emptyJoin, kBeforeFetch, {}, {"2|Aleph", "3|Aleph"}},
      {&held, kClear, {"1"}, {"3"}},
      {&inner, kClear, {"1|Alpha"}, {}},
      {&keyed, kClear, {"1"}, {}},
      // In batches of outer rows.
      {&inner, kRecord, {"1|Alpha"}, {"2|Aleph", "3|Aleph", "4|Alpha"}, true},
      {&inner, kAbort, {"1|Aleph"}, {"2|Beta", "3|Beta", "4|Alpha"}, true},
      {&inner, kClear, {"1|Alpha"}, {}, true},
      {&innerFew, kRecord, {"1|Alpha"}, {"2|Aleph", "3|Aleph", "4|Alpha"}, true},
      {&innerTerm, kRecord, {"1|Alpha"}, {"2|Aleph", "3|Aleph", "4|Alpha"}, true},
      // The employees of the departments' key values.
      {&keyed3, kRecord, {"1|Alpha"}, {"4|Alpha", "2|Aleph", "3|Aleph"}},
      {&keyed3, kRenameA, {"1|Alpha"}, {}},
      {&keyed3, kBeforeFetch, {}, {"1|Alpha", "4|Alpha", "2|Aleph", "3|Aleph"}},
      {&keyedNone, kBeforeFetch, {}, {"2|Aleph", "3|Aleph"}},
      // A write of the employees: the read of them under way keeps its rows.
      {&keyed3, kJoinA, {"1|Alpha"}, {"4|Alpha"}},
      {&keyed3, kRecord, {"1|Alpha"}, {"4|Alpha", "2|Aleph", "3|Aleph"}, true},
      // Keys of two widths, and INTEGER against REAL.
      {&widths, kDeleteC, {"?"}, {"1|A", "2|B", "3|B", "4|A"}, false, namedAsCoded, 1, true},
      {&numbers, kDeleteC, {"?"}, {"1|A", "2|B"}, false, budgeted, 1, true},
      // A FULL join's matched row renamed; rows handed out unmatched.
      {&fullNamed, kRenameA, {"1|A|Alpha"}, {"2|B|Beta", "3|B|Beta", "4|-|-", "0|C|Gamma"}},
      {&fullOnName, kRenameA, {"1|A|Alpha"}, {"2|B|Beta", "3|B|Beta", "4|-|-", "0|C|Gamma"}},
      {&fullOnJoined, kRenameA, {"1|A|Alpha|1"}, {"2|B|Beta|1", "3|B|Beta|1", "4|-|-|0", "0|C|Gamma|1"}},
      {&fullFirst, kRenameA, {"1|A|Alpha", "2|-|-", "3|-|-", "4|-|-"}, {"0|B|Beta", "0|C|Gamma"}, false, {}, 4},
      {&fullFirst, kRenameA, {"1|A|Alpha", "2|-|-", "3|-|-", "4|-|-", "0|B|Beta"}, {"0|C|Gamma"}, false, {}, 5},
      {&fullFirst, kSql, {"1|A|Alpha", "2|-|-", "3|-|-", "4|-|-", "0|B|Beta"}, {"0|C|Gamma"}, false, {}, 5},
  };
  struct WholeRows {
    ~WholeRows() { dbc_settings().qelt_sql_join_whole_rows = -1; }
  } const restore;
  for (const Case &c : cases) {
    SCOPED_TRACE(*c.statement + " / write " + std::to_string(c.write) + (c.batches ? " / batches" : ""));
    RecordWriter departments("exdep010", trans_);
    if (c.write == kAbort) {
      // The cursor starts from a flushed update that the abort undoes.
      ASSERT_TRUE(departments.Change("code=A", "name=Aleph")) << zdb_errno;
      ASSERT_TRUE(departments.Change("code=B", "name=Aleph")) << zdb_errno;
    }
    for (const std::string &change : c.setup) ASSERT_GT(Change(change), 0) << change;
    std::string text = *c.statement;
    if (c.write == kBeforeFetch && c.statement == &listed) text = "SELECT e.emp FROM exemp010 e WHERE e.dept IN "
                                        "(SELECT d.code FROM exdep010 d WHERE d.name = 'Aleph')";
    if (c.write == kRetry) text += " ORDER BY 1 WITH RETRY";
    dbc_settings().qelt_sql_join_whole_rows = c.batches ? 1 : -1;
    QPCStatement *h = Parse(text);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(sql_set_rds_full(h, 1), 0);
    ASSERT_EQ(sql_exec(h, 1), 0) << g_host.lastError;
    Rows first;
    if (c.write != kBeforeFetch) first = Fetch(h, static_cast<int>(c.firstRows));
    if (c.anyOrder) {
      ASSERT_EQ(first.size(), c.first.size());
    } else if (c.statement == &listed && c.write != kBeforeFetch) {
      ASSERT_EQ(first.size(), 1U);  // emp 1 or 4, whichever the driver gives first
    } else {
      EXPECT_EQ(first, c.first);
    }
    Rows rest;
    switch (c.write) {
      case kRecord: ASSERT_TRUE(departments.Change("code=B", "name=Aleph")) << zdb_errno; break;
      case kBeforeFetch: {
        ASSERT_TRUE(departments.Change("code=B", "name=Aleph")) << zdb_errno;
        RecordWriter employees("exemp010", trans_);
        ASSERT_TRUE(employees.Change("emp=2", "name=Aleph")) << zdb_errno;
        break;
      }
      case kRenameA: ASSERT_TRUE(departments.Change("code=A", "name=Omega")) << zdb_errno; break;
      case kBuffered:
        // Not at the driver before the flush: the row fetched meanwhile
        // may be of either state, the rows after the flush see it.
        ASSERT_TRUE(departments.Change("code=B", "name=Aleph", false)) << zdb_errno;
        rest = Fetch(h, 1);
        ASSERT_EQ(zdb_flush(trans_), 0) << zdb_errno;
        break;
      case kSql: ASSERT_EQ(Change(rename), 1); break;
      case kClear: {
        int argument = 0;
        ZDB_CURSOR *cursor = nullptr;
        static unsigned char row[DD_MAX_ROW_LENGTH];
        ASSERT_EQ(zdb_open(&cursor, "exdep010", 1, row, 0, trans_), 0) << zdb_errno;
        ASSERT_EQ(zdb_exec_table(cursor, clear_table, &argument, 1), 0) << zdb_errno << " " << get_zdb_msg();
        zdb_close(cursor);
        break;
      }
      case kAbort: ASSERT_EQ(zdb_exec_db(abort_trans, trans_), 0) << zdb_errno; break;
      case kUnrelated: ASSERT_EQ(Change("UPDATE tttxt010 SET text = 'Changed' WHERE ctxt = 1"), 1); break;
      case kRetry:
        ASSERT_EQ(sql_save_rpoint(h), 0) << g_host.lastError;
        ASSERT_EQ(Change(rename), 1);
        ASSERT_EQ(sql_retry(h), 0) << g_host.lastError;
        break;
      case kMoveEmployee: {
        RecordWriter employees("exemp010", trans_);
        ASSERT_TRUE(employees.Change("emp=2", "dept=C")) << zdb_errno;
        break;
      }
      case kDeleteC: ASSERT_TRUE(departments.Change("code=C", "")) << zdb_errno; break;
      case kJoinA: {
        RecordWriter employees("exemp010", trans_);
        ASSERT_TRUE(employees.Change("emp=2", "dept=A")) << zdb_errno;
        break;
      }
    }
    for (const std::string &row : Fetch(h)) rest.push_back(row);
    if (c.statement == &listed || c.anyOrder) {
      rest.insert(rest.end(), first.begin(), first.end());
      EXPECT_EQ(Sorted(rest), c.rest);
    } else {
      EXPECT_EQ(rest, c.rest);
    }
    Close(h);
    ASSERT_EQ(zdb_exec_db(abort_trans, trans_), 0) << zdb_errno;  // the next case starts from the seed
  }
}

// The driver's check before an SQL UPDATE or DELETE: a row that another
// transaction holds locked (a locked read of the record API) refuses both
// with 107; the transaction holding the lock changes it.
TEST_P(SqlApiChanges, UpdateAndDeleteOfARowAnotherTransactionLockedAre107) {
  int other = zdb_start_session("other");
  ASSERT_GT(other, 0);
  static unsigned char row[DD_MAX_ROW_LENGTH];
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "exemp010", 1, row, 0, other), 0) << zdb_errno;
  fill_default_row(ddtable("exemp010"), row);
  const DD_COLUMN *emp = ddcolumn("exemp010.emp");
  row[emp->offset + emp->length - 1] = 1;
  ASSERT_EQ(zdb_exec_row(cursor, db_eq_locked, 0, 1), 0) << zdb_errno;
  EXPECT_EQ(Change("UPDATE exemp010 SET salary = 5 WHERE emp = 1"), -107);
  EXPECT_EQ(Change("DELETE FROM exemp010 WHERE emp = 1"), -107);
  for (const char *text : {"UPDATE exemp010 SET salary = 5 WHERE emp = 1", "DELETE FROM exemp010 WHERE emp = 1"}) {
    QPCStatement *h = sql_parse(text, static_cast<unsigned long>(other), 0);
    ASSERT_NE(h, nullptr) << g_host.lastError;
    EXPECT_EQ(sql_exec(h, 1), 0) << text << ": " << zdb_errno << " " << g_host.lastError;
    EXPECT_EQ(sql_row_count(h), 1);
    sql_close(h);
  }
  ASSERT_EQ(zdb_exec_db(commit_trans, other), 0) << zdb_errno;
  EXPECT_EQ(Change("DELETE FROM exemp010 WHERE emp = 1"), -SQL_ERR_NO_ROWS);
  EXPECT_EQ(Change("UPDATE exemp010 SET salary = 5 WHERE emp = 2"), 1);
}

// A retry point saved at a row: the retry goes on after it, or from it with
// REPEAT LAST ROW; one saved after the end gives no more rows.
TEST_P(SqlApiE2E, RetryPointsResume) {
  for (auto [clause, after] : {std::pair<const char *, Rows>{"WITH RETRY", {"3", "4"}},
                               {"WITH RETRY REPEAT LAST ROW", {"2", "3", "4"}}}) {
    QPCStatement *h = Parse(std::string("SELECT emp FROM exemp010 ORDER BY emp ") + clause);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(sql_query_with_rpoint(h), 1);
    ASSERT_EQ(sql_exec(h, 1), 0) << g_host.lastError;
    EXPECT_EQ(Fetch(h, 2), (Rows{"1", "2"}));
    ASSERT_EQ(sql_save_rpoint(h), 0) << g_host.lastError;
    EXPECT_EQ(Fetch(h, 1), (Rows{"3"}));
    ASSERT_EQ(sql_retry(h), 0) << g_host.lastError;
    EXPECT_EQ(Fetch(h), after) << clause;
    ASSERT_EQ(sql_save_rpoint(h), 0);
    ASSERT_EQ(sql_retry(h), 0);
    int end = 0;
    EXPECT_EQ(Fetch(h, -1, &end), Rows{});
    Close(h);
  }
  QPCStatement *h = Parse("SELECT emp FROM exemp010");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(sql_query_with_rpoint(h), 0);
  ASSERT_EQ(sql_exec(h, 1), 0);
  EXPECT_EQ(sql_save_rpoint(h), -1);
}

// An idle statement gives its trees back after the delay (1 second here)
// and runs again as before.
TEST_P(SqlApiE2E, SoftClosedStatementRunsAgain) {
  QPCStatement *h = Parse("SELECT emp FROM exemp010 WHERE dept = 'B' ORDER BY emp");
  QPCStatement *other = Parse("SELECT code FROM exdep010 WHERE code = 'C'");
  ASSERT_NE(h, nullptr);
  ASSERT_NE(other, nullptr);
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(sql_exec(h, 1), 0) << round << " " << g_host.lastError;
    EXPECT_EQ(Fetch(h), (Rows{"2", "3"})) << round;
    ASSERT_EQ(sql_break(h), 0);
    if (round == 1) {
      sleep(2);
      // The sweep at this exec finds the first statement idle.
      ASSERT_EQ(sql_exec(other, 1), 0);
      EXPECT_EQ(Fetch(other), (Rows{"C"}));
    }
  }
}

TEST_P(SqlApiE2E, TimeOutEndsTheFetch) {
  QPCStatement *h = Parse("SELECT emp FROM exemp010 ORDER BY emp");
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(sql_set_timeout(h, 1), 0);
  ASSERT_EQ(sql_set_rds_full(h, 1), 0);
  ASSERT_EQ(sql_exec(h, 1), 0) << g_host.lastError;
  EXPECT_EQ(Fetch(h, 1), (Rows{"1"}));
  sleep(2);
  int end = 0;
  EXPECT_EQ(Fetch(h, -1, &end), Rows{});
  EXPECT_NE(end, SQL_ERR_NO_MORE_ROWS);
  EXPECT_NE(end, 0);
  std::int32_t number = 0;
  const char *text = nullptr;
  ASSERT_EQ(sql_get_error(h, &number, &text), 0);
  EXPECT_NE(std::string(text).find("SQLState"), std::string::npos) << text;
  // Without a time-out it runs to its end.
  ASSERT_EQ(sql_set_timeout(h, 0), 0);
  ASSERT_EQ(sql_exec(h, 1), 0) << g_host.lastError;
  EXPECT_EQ(Fetch(h), (Rows{"1", "2", "3", "4"}));
}

// A time-out keeps its time in the driver: a query that the driver runs
// for many seconds, started at points spread over a wall-clock second, is
// stopped no sooner than its limit after sql_exec and well before it ends;
// also when its first fetch comes in a later second than its sql_exec.
TEST_P(SqlApiE2E, TimeOutStopsALongDriverQueryNoSoonerThanItsLimit) {
  if (std::string(GetParam()) != "one") GTEST_SKIP() << "the query runs in one driver";
  // 4^13 rows of a cross join through an arithmetic condition.
  std::string from = "exemp010 t0", sum = "t0.salary";
  for (int i = 1; i < 13; ++i) {
    from += ", exemp010 t" + std::to_string(i);
    sum += " + t" + std::to_string(i) + ".salary";
  }
  QPCStatement *h = Parse("SELECT COUNT(*) :n FROM " + from + " WHERE " + sum + " < 0");
  ASSERT_NE(h, nullptr);
  struct Case {
    int limit;     // seconds
    int at;        // ms into a wall-clock second of sql_exec
    int fetchAfter;  // ms from sql_exec to the first fetch
  };
  for (Case c : {Case{1, 50, 0}, Case{1, 300, 0}, Case{1, 550, 0}, Case{1, 800, 0}, Case{1, 950, 0},
                 Case{2, 950, 100}}) {
    ASSERT_EQ(sql_set_timeout(h, c.limit), 0);
    for (;;) {
      timespec now{};
      clock_gettime(CLOCK_REALTIME, &now);
      long ms = now.tv_nsec / 1000000;
      if (ms >= c.at && ms < c.at + 20) break;
      usleep(static_cast<useconds_t>(((c.at - ms + 1000) % 1000) * 1000 + 500));
    }
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(sql_exec(h, 1), 0) << g_host.lastError;
    if (c.fetchAfter > 0) usleep(static_cast<useconds_t>(c.fetchAfter) * 1000);
    int end = 0;
    EXPECT_EQ(Fetch(h, -1, &end), Rows{}) << c.at;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(end, 313) << c.at << ": " << g_host.lastError;
    EXPECT_GE(ms, 1000 * c.limit) << "a limit of " << c.limit << " s stopped the query " << ms
                                  << " ms after a start at " << c.at << " ms of its second";
    EXPECT_LT(ms, 30000) << c.at;
    sql_break(h);
  }
}

// The driver processes that are children of this test.
std::vector<pid_t> DriverChildren() {
  std::vector<pid_t> pids;
  for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    int pid = 0, ppid = 0;
    std::string comm;
    char state = 0;
    if (stat >> pid >> comm >> state >> ppid && ppid == getpid() &&
        comm.find("molvane-driver") != std::string::npos)
      pids.push_back(pid);
  }
  return pids;
}

TEST_P(SqlApiE2E, DriverKilledInTheMiddleOfAFetchGivesACleanError) {
  QPCStatement *h = Parse("SELECT emp FROM exemp010 ORDER BY emp");
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(sql_set_rds_full(h, 1), 0);
  ASSERT_EQ(sql_exec(h, 1), 0) << g_host.lastError;
  EXPECT_EQ(Fetch(h, 1), (Rows{"1"}));
  std::vector<pid_t> drivers = DriverChildren();
  ASSERT_FALSE(drivers.empty());
  for (pid_t pid : drivers) kill(pid, SIGKILL);
  for (pid_t pid : drivers) waitpid(pid, nullptr, 0);
  int end = 0;
  Rows rest = Fetch(h, -1, &end);
  EXPECT_LT(rest.size(), 3U);
  EXPECT_NE(end, 0);
  EXPECT_NE(end, SQL_ERR_NO_MORE_ROWS);
  EXPECT_EQ(sql_break(h), sql_break(h));
  EXPECT_EQ(sql_close(h), 0);
  open_.clear();
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqlApiChanges, testing::Values("one", "two", "split"),
                         [](const auto &info) { return std::string(info.param); });

// A user whose role lets them read, change and delete only the employees of
// department B; the rows were put in by a super user.
class SqlApiRoles : public SqlApiE2E {
 protected:
  SqlApiRoles() { refsOff_ = true; }
  void BeforeLogon() override {
    root_.WriteFile("lib/user/ubob", "user_type: N\ndb_roles: bonly\n");
    root_.WriteFile("lib/roles/db/b/bonly",
                    "bonly\nexemp010:*:-\nexemp010:*:D:dept = 'B'\nexemp010:002:R:dept = 'A'\n"
                    "exdep010:*:M\nexdep010:002:-\nexdep010:002:R:code = 'A'\n");
    setenv("ZUV_USER", "bob", 1);
    user_ = "bob";
  }
};

TEST_P(SqlApiRoles, RoleRestrictsReadsAndChanges) {
  EXPECT_EQ(Query("SELECT emp FROM exemp010 ORDER BY emp"), (Rows{"2", "3"}));
  EXPECT_EQ(Query("SELECT e.emp, d.name FROM exemp010 e, exdep010 d WHERE e.dept = d.code "
                  "ORDER BY e.emp"),
            (Rows{"2|Beta", "3|Beta"}));
  EXPECT_EQ(Query("SELECT code FROM exdep010 d WHERE EXISTS "
                  "(SELECT emp FROM exemp010 e WHERE e.dept = d.code) ORDER BY code"),
            (Rows{"B"}));
  EXPECT_EQ(Query("SELECT COUNT(*) :n FROM exemp010"), (Rows{"2"}));
  EXPECT_EQ(Change("UPDATE exemp010 SET salary = 1 WHERE emp = 1"), -SQL_ERR_NO_ROWS);
  EXPECT_EQ(Change("UPDATE exemp010 SET salary = 1"), 2);
  EXPECT_EQ(Change("DELETE FROM exemp010 WHERE emp = 1"), -SQL_ERR_NO_ROWS) << g_host.lastError;
  EXPECT_EQ(Change("DELETE FROM exemp010"), 2);
  EXPECT_EQ(Query("SELECT COUNT(*) :n FROM exemp010"), (Rows{"0"}));
}

// The same user through the record API: every read decides the row's
// conditions on the row it would return, the company's own line before the
// line for every company. A keyed read of a forbidden row (plain, locked,
// delayed, or the counter check of a parent) is refused with 208; a scan
// moves past it.
TEST_P(SqlApiRoles, RecordReadsDecideTheConditionsOnTheRow) {
  std::vector<unsigned char> row(ddtable("exemp010")->row_length);
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "exemp010", 0, row.data(), 0, trans_), 0) << zdb_errno;
  const DD_COLUMN *emp = ddcolumn("exemp010.emp");
  auto read = [&](int action, int compnr, int key = 0) {
    if (key != 0) {
      for (int i = 0; i < 4; ++i) row[emp->offset + i] = static_cast<unsigned char>(key >> (24 - 8 * i));
    }
    if (zdb_exec_row(cursor, action, 0, compnr) != 0) return -zdb_errno;
    const unsigned char *p = row.data() + emp->offset;
    return static_cast<int>(Be32(p));
  };
  for (int action : {db_eq, db_eq_locked, db_eq_delayed}) {
    EXPECT_EQ(read(action, 1, 1), -208) << action;  // department A, company 1
    EXPECT_EQ(read(action, 1, 4), -208) << action;
    EXPECT_EQ(read(action, 1, 2), 2) << action;
    EXPECT_EQ(read(action, 2, 7), 7) << action;     // company 2 grants department A
  }
  ASSERT_EQ(zdb_exec_db(commit_trans, trans_), 0) << zdb_errno;
  // Scans of every lock mode deliver the permitted rows only.
  for (auto [first, next] : {std::pair{db_first, db_next}, {db_first_locked, db_next_locked},
                             {db_first_delayed, db_next_delayed}, {db_first_51, db_next_51}}) {
    EXPECT_EQ(read(first, 1), 2) << first;
    EXPECT_EQ(read(next, 1), 3) << next;
    EXPECT_EQ(read(next, 1), -110) << next;
    EXPECT_EQ(read(first, 2), 7) << first;
  }
  EXPECT_EQ(read(db_last, 1), 3);
  EXPECT_EQ(read(db_prev, 1), 2);
  EXPECT_EQ(read(db_prev, 1), -110);
  EXPECT_EQ(read(db_ge, 1, 1), 2);
  EXPECT_EQ(read(db_le_locked, 1, 4), 3);
  EXPECT_EQ(read(db_curr, 1), 3);
  EXPECT_EQ(read(db_gt_delayed, 1, 3), -111);
  ASSERT_EQ(zdb_exec_db(commit_trans, trans_), 0) << zdb_errno;
  zdb_close(cursor);

  // The counter check of a parent row: department D of company 2 is
  // forbidden, A is not.
  std::vector<unsigned char> dep(ddtable("exdep010")->row_length);
  ASSERT_EQ(zdb_open(&cursor, "exdep010", 0, dep.data(), 0, trans_), 0) << zdb_errno;
  const DD_COLUMN *code = ddcolumn("exdep010.code");
  const char *text = nullptr;
  std::memset(dep.data() + code->offset, ' ', code->length);
  dep[code->offset] = 'D';
  EXPECT_EQ(zdb_get_refcount(cursor, 2, &text, 1), -1);
  EXPECT_EQ(zdb_errno, 208);
  dep[code->offset] = 'A';
  EXPECT_GE(zdb_get_refcount(cursor, 2, &text, 1), 0) << zdb_errno;
  zdb_close(cursor);
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqlApiRoles, testing::Values("one", "two", "split"),
                         [](const auto &info) { return std::string(info.param); });

}  // namespace
}  // namespace molvane::test::sql_api
