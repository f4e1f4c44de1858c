// The classic SQL API end to end: statements prepared, bound, executed and
// fetched through the sql_* functions against the reference driver, with
// host callbacks that keep every delivered row as text. The tables live on
// one driver (joins and subqueries can be shipped as one query), on two
// (joins run here), or with company 2 of both on a driver of its own
// (statements over both companies unite the drivers' rows here); all give
// the same rows. Also: DELETE and UPDATE with
// their counts, retry points, soft close of an idle statement, a time-out, a
// driver that dies in the middle of a fetch, and a user whose role restricts
// the employees table.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <molvane/dd.h>
#include <molvane/platform.h>
#include <molvane/sql.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_refs.h>

#include "dbc/dict/dd.h"
#include "dbc/session/dbc_settings.h"
#include "dbc/session/zdb_attach.h"
#include "sql/common/table_writes.h"
#include "support/test_env.h"

namespace {

using molvane::test::FixturePath;
using molvane::test::ScratchDir;
using Rows = std::vector<std::string>;

// What the host callbacks saw.
struct Host {
  std::deque<std::string> variables;  // stable names handed to the library
  std::map<std::string, SqlVal> values;
  std::map<std::string, unsigned char> types;
  std::map<std::string, std::string> strings;  // bytes of string values
  std::string row;
  std::string lastError;
  unsigned char lastType = 0;  // of the last column handed to callback 7
};
Host g_host;

int OnError(int, char *text) {
  g_host.lastError = text;
  return 0;
}

char *OnCreate(char *name, unsigned char *kind, char **record, int *const, unsigned long) {
  if (*kind == 2) *record = name;
  g_host.variables.emplace_back(name);
  return const_cast<char *>(g_host.variables.back().c_str());
}

int OnGet(char *var, SqlVal *value, unsigned char *type, int *length) {
  auto found = g_host.types.find(var);
  if (found == g_host.types.end()) return 1;
  *type = found->second;
  *value = g_host.values[var];
  if (*type == SQL_TYPE_STRING) {
    std::string &s = g_host.strings[var];
    value->s = reinterpret_cast<unsigned char *>(s.data());
    *length = static_cast<int>(s.size());
  }
  return 0;
}

std::uint32_t Be32(const unsigned char *p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// One field as text: integers, dates and times as numbers, reals with %g,
// strings without trailing blanks, raw bytes in hexadecimal; "|" between
// the columns of a row.
void OnPut(char *, unsigned char *data, unsigned char type, int length, int *) {
  if (type == 0) return;
  g_host.lastType = type;
  std::string text;
  char buf[64];
  switch (type) {
    case SQL_TYPE_INTEGER:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
      text = std::to_string(static_cast<std::int32_t>(Be32(data)));
      break;
    case SQL_TYPE_REAL: {
      double d = 0;
      std::memcpy(&d, data, 8);
      std::snprintf(buf, sizeof buf, "%g", d);
      text = buf;
      break;
    }
    case SQL_TYPE_STRING:
      text.assign(reinterpret_cast<char *>(data), static_cast<std::size_t>(length));
      text.erase(text.find_last_not_of(' ') + 1);
      break;
    default:
      for (int i = 0; i < length; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", data[i]);
        text += buf;
      }
  }
  if (!g_host.row.empty()) g_host.row += "|";
  g_host.row += text.empty() ? "-" : text;
}

void IgnoreDeath(STREAM *) {}

// Employees 1..4 of company 1 in departments A, B, B and A, of which the
// fourth has no optional department (dnul); employee 7 of company 2 in its
// department A. Departments A, B, C of company 1 and A, D
// of company 2.
class SqlApiE2E : public testing::TestWithParam<const char *> {
 protected:
  void SetUp() override {
    std::filesystem::copy(FixturePath("zuv/dict"), root_.path() + "/dict",
                          std::filesystem::copy_options::recursive);
    std::string driver = std::string(MOLVANE_BINARY_DIR) + "/driver/molvane-driver";
    root_.WriteFile("lib/ipc_info", "msqlite child " + driver + " ${ZUV}/main.db\n" +
                                        "msqltwo child " + driver + " ${ZUV}/two.db\n");
    // "two": the employees on a driver of their own, so that joins run here.
    // "split": company 2 of both tables on a driver of its own, so that a
    // statement over both companies unites what each driver gives here.
    std::string const layout = GetParam();
    root_.WriteFile("lib/tabledef1", layout == "two"     ? "exemp010:*:msqltwo\n*::msqlite\n"
                                     : layout == "split" ? "exdep010:2:msqltwo\nexemp010:2:msqltwo\n*::msqlite\n"
                                                         : "*::msqlite\n");
    root_.WriteFile("lib/defaults/all", "qelt_sql_soft_close_delay: 1\n");
    setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
    setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
    Seed();
    BeforeLogon();
    set_zuv(root_.path().c_str());
    zdb_set_server_death_handler(IgnoreDeath);
    ASSERT_EQ(zdb_init_api("test_sql_api", nullptr, 0, 0), 0);
    // Without the client's reference work SQL may delete from the tables
    // whose parents count their children.
    if (refsOff_) zdb_disable_references();
    sql_init_func(SQL_FUNC_ERROR, reinterpret_cast<sql_func>(OnError));
    sql_init_func(SQL_FUNC_CRT_EXTVAR, reinterpret_cast<sql_func>(OnCreate));
    sql_init_func(SQL_FUNC_GET_EXTVAR, reinterpret_cast<sql_func>(OnGet));
    sql_init_func(SQL_FUNC_PUT_EXTVAR, reinterpret_cast<sql_func>(OnPut));
    ASSERT_EQ(zdb_logon(user_), 0) << zdb_errno;
    trans_ = zdb_start_session("sql");
    ASSERT_GT(trans_, 0);
  }
  // The rows go in through molvane-host, as a super user of its own process
  // (one logon per process).
  void Seed() {
    std::string script = "logon seed\nstart seed\n";
    for (const char *table : {"exdep010", "exemp010"})
      for (const char *compnr : {" 1\n", " 2\n"}) script += std::string("table create ") + table + compnr;
    script +=
        "insert exdep010 1 code=A name=Alpha budget=10\n"
        "insert exdep010 1 code=B name=Beta budget=20\n"
        "insert exdep010 1 code=C name=Gamma budget=30\n"
        "insert exdep010 2 code=A name=Uno budget=100\n"
        "insert exdep010 2 code=D name=Dos budget=400\n"
        "commit\n"
        "insert exemp010 1 emp=1 name=Ann dept=A dcas=A drst=A dnul=A salary=100 hired=738001 "
        "photo=0aff0102\n"
        "insert exemp010 1 emp=2 name=Bob dept=B dcas=B drst=B dnul=B salary=200 hired=738002\n"
        "insert exemp010 1 emp=3 name=Cid dept=B dcas=B drst=B dnul=B salary=300 hired=738003\n"
        "insert exemp010 1 emp=4 name=Dan dept=A dcas=A drst=A salary=400 hired=738004\n"
        "insert exemp010 2 emp=7 name=Eve dept=A dcas=A drst=A dnul=A salary=50 hired=738007\n"
        "commit\ntable create tttxt010 1\ninsert tttxt010 1 ctxt=1 clan=E seqe=1 text=Kept\n"
        "commit\nlogoff\n";
    root_.WriteFile("seed.script", script);
    std::string cmd = std::string(MOLVANE_BINARY_DIR) + "/tools/molvane-host --zuv " + root_.path() +
                      " --script " + root_.path() + "/seed.script 2>&1";
    std::FILE *p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
    ASSERT_EQ(pclose(p), 0) << out;
  }
  // What a test sets before its logon.
  virtual void BeforeLogon() {}

  void TearDown() override {
    for (QPCStatement *h : open_) sql_close(h);
    zdb_logoff();
  }

  // A handle of the test, closed at its end; null (with the error) when
  // the prepare fails.
  QPCStatement *Parse(const std::string &text, int flags = 0) {
    QPCStatement *h = sql_parse(text.c_str(), static_cast<unsigned long>(trans_), flags);
    EXPECT_NE(h, nullptr) << text << ": " << zdb_errno << " " << g_host.lastError;
    if (h != nullptr) open_.push_back(h);
    return h;
  }
  void Close(QPCStatement *h) {
    open_.erase(std::remove(open_.begin(), open_.end(), h), open_.end());
    sql_close(h);
  }
  // Up to `limit` rows (all with -1) of an executed handle; the fetch's
  // end error in *end (111, 110 or another error).
  Rows Fetch(QPCStatement *h, int limit = -1, int *end = nullptr) {
    Rows rows;
    while (limit < 0 || static_cast<int>(rows.size()) < limit) {
      g_host.row.clear();
      if (sql_fetch(h) != 0) {
        if (end != nullptr) *end = zdb_errno;
        EXPECT_TRUE(zdb_errno == SQL_ERR_NO_ROWS || zdb_errno == SQL_ERR_NO_MORE_ROWS || end != nullptr)
            << zdb_errno << " " << g_host.lastError;
        break;
      }
      rows.push_back(g_host.row);
    }
    return rows;
  }
  // Every row of a statement executed for company 1.
  Rows Query(const std::string &text, int compnr = 1, int flags = 0) {
    QPCStatement *h = Parse(text, flags);
    if (h == nullptr) return {"prepare failed: " + g_host.lastError};
    if (sql_exec(h, static_cast<short>(compnr)) != 0) {
      Close(h);
      return {"exec failed: " + g_host.lastError};
    }
    Rows rows = Fetch(h);
    Close(h);
    return rows;
  }
  static Rows Sorted(Rows rows) {
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  // Rows an UPDATE or DELETE changed, or -(error number).
  int Change(const std::string &text, int compnr = 1) {
    QPCStatement *h = Parse(text);
    if (h == nullptr) return -zdb_errno;
    int rc = sql_exec(h, static_cast<short>(compnr));
    int result = rc == 0 ? sql_row_count(h) : -zdb_errno;
    Close(h);
    return result;
  }

  ScratchDir root_;
  const char *user_ = "ann";
  bool refsOff_ = false;
  int trans_ = 0;
  std::vector<QPCStatement *> open_;
};

// The tables without the client's reference work: DELETE is refused on
// tables whose parents count their children while it runs.
class SqlApiChanges : public SqlApiE2E {
 protected:
  SqlApiChanges() { refsOff_ = true; }
};

TEST_P(SqlApiE2E, SelectWithItsClauses) {
  EXPECT_EQ(Query("SELECT emp, name FROM exemp010 WHERE salary > 150 ORDER BY emp DESC"),
            (Rows{"4|Dan", "3|Cid", "2|Bob"}));
  EXPECT_EQ(Query("SELECT emp FROM exemp010 WHERE emp BETWEEN 2 AND 3 AND name LIKE 'C.*'"),
            (Rows{"3"}));
  EXPECT_EQ(Query("SELECT emp, name FROM exemp010 ORDER BY emp", 2), (Rows{"7|Eve"}));
  EXPECT_EQ(Query("SELECT code, budget FROM exdep010 WHERE code IN ('A', 'C') ORDER BY code"),
            (Rows{"A|10", "C|30"}));
  EXPECT_EQ(Query("SELECT emp FROM exemp010 WHERE dnul IS NULL OR dnul = ''"), (Rows{"4"}));
}

TEST_P(SqlApiE2E, JoinsGiveTheSameRowsShippedOrRunHere) {
  EXPECT_EQ(Query("SELECT e.emp, d.name FROM exemp010 e, exdep010 d WHERE e.dept = d.code "
                  "ORDER BY e.emp"),
            (Rows{"1|Alpha", "2|Beta", "3|Beta", "4|Alpha"}));
  EXPECT_EQ(Sorted(Query("SELECT e.emp, d.code FROM exemp010 e LEFT OUTER JOIN exdep010 d "
                         "ON e.dnul = d.code")),
            (Rows{"1|A", "2|B", "3|B", "4|-"}));
  EXPECT_EQ(Sorted(Query("SELECT d.code, e.emp FROM exemp010 e RIGHT JOIN exdep010 d "
                         "ON e.dnul = d.code")),
            (Rows{"A|1", "B|2", "B|3", "C|0"}));
  EXPECT_EQ(Query("SELECT e.emp, d.name FROM exemp010 e, exdep010 d WHERE e.dept = d.code", 2),
            (Rows{"7|Uno"}));
  // Three tables, with a FULL join (which always runs here) inside a RIGHT
  // and a FULL join.
  EXPECT_EQ(Sorted(Query("SELECT e.emp, d.code, e3.emp FROM exemp010 e FULL JOIN exdep010 d ON e.dnul = d.code "
                         "RIGHT JOIN exemp010 e3 ON e3.emp = e.emp")),
            (Rows{"1|A|1", "2|B|2", "3|B|3", "4|-|4"}));
  EXPECT_EQ(Sorted(Query("SELECT e.emp, d.code, e3.emp FROM exemp010 e FULL JOIN exdep010 d ON e.dnul = d.code "
                         "FULL JOIN exemp010 e3 ON e3.dnul = d.code")),
            (Rows{"0|-|4", "0|C|0", "1|A|1", "2|B|2", "2|B|3", "3|B|2", "3|B|3", "4|-|0"}));
  // A RIGHT join over a RIGHT join (shipped as one query when it can be).
  EXPECT_EQ(Sorted(Query("SELECT e.emp, d.code, e3.emp FROM exemp010 e RIGHT JOIN exdep010 d ON e.dnul = d.code "
                         "RIGHT JOIN exemp010 e3 ON e3.dnul = d.code")),
            (Rows{"0|-|4", "1|A|1", "2|B|2", "2|B|3", "3|B|2", "3|B|3"}));
  // Rows of an outer join whose NULL side was never read are sorted and
  // grouped by that side.
  EXPECT_EQ(Query("SELECT d.code, d.budget FROM exemp010 e LEFT JOIN exdep010 d ON d.status = 77 ORDER BY 1"),
            (Rows{"-|0", "-|0", "-|0", "-|0"}));
  EXPECT_EQ(Query("SELECT d.code, COUNT(*) :n FROM exemp010 e LEFT JOIN exdep010 d ON d.status = 77 "
                  "GROUP BY d.code"),
            (Rows{"-|4"}));
  // 100 / (budget - 30) divides by zero for C, which no employee's row
  // reaches: nothing computes it before the join or filter drops C.
  for (const char *text :
       {"SELECT d.code, 100 / (d.budget - 30) :q FROM exdep010 d WHERE EXISTS "
        "(SELECT emp FROM exemp010 x WHERE x.dept = d.code) ORDER BY 1",
        "SELECT d.code, 100 / (d.budget - 30) :q FROM exdep010 d WHERE d.code IN (SELECT dept FROM exemp010) "
        "ORDER BY 1"})
    EXPECT_EQ(Query(text), (Rows{"A|-5", "B|-10"})) << text;
  for (const char *text : {"SELECT d.code, 100 / (d.budget - 30) :q FROM exemp010 e, exdep010 d "
                           "WHERE e.dept = d.code ORDER BY 1",
                           "SELECT d.code, 100 / (d.budget - 30) :q FROM exdep010 d INNER JOIN exemp010 e "
                           "ON e.dept = d.code ORDER BY 1",
                           "SELECT d.code, 100 / (d.budget - 30) :q FROM exdep010 d LEFT JOIN exemp010 e "
                           "ON e.dept = d.code WHERE e.emp > 0 ORDER BY 1",
                           "SELECT d.code, 100 / (d.budget - 30) :q FROM exemp010 e RIGHT JOIN exdep010 d "
                           "ON e.dept = d.code WHERE e.salary > 0 ORDER BY 1"})
    EXPECT_EQ(Query(text), (Rows{"A|-5", "A|-5", "B|-10", "B|-10"})) << text;
  // A condition over a NULL-extended row that can still be TRUE keeps the
  // outer join outer: NULL NOT IN an empty subquery is TRUE, an EXISTS of
  // a COUNT(*) always finds its row, and a COUNT(*) of nothing is 0.
  // Against a subquery with rows NULL NOT IN is UNKNOWN.
  for (const char *where :
       {"d2.status NOT IN (SELECT d3.status FROM exdep010 d3 WHERE d3.status = 77)",
        "EXISTS (SELECT COUNT(*) FROM exdep010 d3 WHERE d3.code = d2.code)",
        "(SELECT COUNT(*) FROM exdep010 d3 WHERE d3.code = d2.code) = 0"}) {
    std::string text = std::string("SELECT e1.emp FROM exemp010 e1 LEFT JOIN exdep010 d2 ON e1.drst = d2.code "
                                   "AND d2.status = 77 WHERE ") +
                       where + " ORDER BY 1";
    EXPECT_EQ(Query(text), (Rows{"1", "2", "3", "4"})) << text;
  }
  EXPECT_EQ(Query("SELECT e1.emp FROM exemp010 e1 LEFT JOIN exdep010 d2 ON e1.drst = d2.code AND d2.status = 77 "
                  "WHERE d2.status NOT IN (SELECT d3.status FROM exdep010 d3)"),
            (Rows{}));
  // An ON condition with a subquery over the other driver's table (in the
  // layout with two drivers) keeps the join here; within one driver it is
  // shipped with the join.
  EXPECT_EQ(Query("SELECT COUNT(*) :n FROM exemp010 e1 INNER JOIN exemp010 e2 ON e1.emp = e2.emp "
                  "AND EXISTS (SELECT d3.code FROM exdep010 d3)"),
            (Rows{"4"}));
  EXPECT_EQ(Query("SELECT COUNT(*) :n FROM exdep010 d1 INNER JOIN exdep010 d2 ON d1.code = d2.code "
                  "AND EXISTS (SELECT e3.emp FROM exemp010 e3)"),
            (Rows{"3"}));
  EXPECT_EQ(Query("SELECT e1.emp, e2.emp FROM exemp010 e1 LEFT JOIN exemp010 e2 ON e1.emp = e2.emp "
                  "AND e2.dept IN (SELECT d3.code FROM exdep010 d3 WHERE d3.budget > 15) ORDER BY 1"),
            (Rows{"1|0", "2|2", "3|3", "4|0"}));
  EXPECT_EQ(Sorted(Query("SELECT d1.code, d2.code FROM exdep010 d1 RIGHT JOIN exdep010 d2 ON d1.code = d2.code "
                         "AND d1.code IN (SELECT e3.dept FROM exemp010 e3 WHERE e3.salary > 250)")),
            (Rows{"-|C", "A|A", "B|B"}));
  // RIGHT joins in a compound and under a grouping.
  EXPECT_EQ(Query("SELECT e1.emp FROM exemp010 e1 WHERE e1.salary > 250 UNION ALL SELECT e3.emp "
                  "FROM exemp010 e2 RIGHT JOIN exemp010 e3 ON e2.emp = e3.emp ORDER BY 1"),
            (Rows{"1", "2", "3", "3", "4", "4"}));
  EXPECT_EQ(Query("SELECT d.code, MAX(e.salary) :m, COUNT(*) :n FROM exemp010 e RIGHT JOIN exdep010 d "
                  "ON e.dept = d.code GROUP BY d.code"),
            (Rows{"A|400|2", "B|300|2", "C|0|1"}));
  EXPECT_EQ(Query("SELECT d.name, d.status, MAX(e.emp) :m FROM exemp010 e RIGHT JOIN exdep010 d "
                  "ON e.dnul = d.code GROUP BY d.name, d.status"),
            (Rows{"Alpha|1|1", "Beta|1|3", "Gamma|1|0"}));
}

// A condition of an INNER join's ON on one side or none, or holding a
// subquery (over the other driver in the layouts with two), acts as in the
// WHERE; one of an outer join's ON only on the side it sets NULL, whose
// rows a constant FALSE empties while the other side's are kept. A false
// IN of a constant before a sorted join gives no row; a true one every row.
TEST_P(SqlApiE2E, OnConditionsAndConstantInsGiveTheSameRowsWhereverTheyRun) {
  struct Case {
    char const *text;
    Rows rows;
  } const cases[] = {
      {"SELECT d.code, e.emp FROM (exdep010 d INNER JOIN exemp010 e ON (d.code = e.dept AND e.flags = -12345)) "
       "WHERE NOT EXISTS (SELECT d2.code FROM exdep010 d2 WHERE d2.code = d.code AND d.budget IN "
       "(SELECT e3.salary FROM exemp010 e3 WHERE e3.emp > d2.budget)) ORDER BY 1, 2",
       {}},
      {"SELECT d.code, e.emp FROM (exdep010 d INNER JOIN exemp010 e ON (d.code = e.dept AND e.salary > 150)) "
       "WHERE NOT EXISTS (SELECT d2.code FROM exdep010 d2 WHERE d2.code = d.code AND d.budget IN "
       "(SELECT e3.salary FROM exemp010 e3 WHERE e3.emp > d2.budget)) ORDER BY 1, 2",
       {"A|4", "B|2", "B|3"}},
      {"SELECT e.emp, d.code FROM exemp010 e INNER JOIN exdep010 d ON e.dept = d.code AND d.budget BETWEEN 30 AND 20 "
       "ORDER BY 1",
       {}},
      {"SELECT e.emp, d.code FROM exemp010 e INNER JOIN exdep010 d ON e.dept = d.code AND d.name IS NULL ORDER BY 1",
       {}},
      {"SELECT e.emp, d.code FROM exemp010 e INNER JOIN exdep010 d ON e.dept = d.code AND EXISTS (SELECT e3.emp "
       "FROM exemp010 e3 WHERE e3.salary > d.budget * 10 + e.salary) ORDER BY 1",
       {"1|A"}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1 INNER JOIN exemp010 e2 ON e1.dept = e2.dept AND (SELECT COUNT(*) "
       "FROM exdep010 d3 WHERE d3.budget > e1.salary / 10 AND d3.code <> e2.dept) > 0 WHERE e2.dnul IN "
       "(SELECT d4.code FROM exdep010 d4) ORDER BY 1, 2",
       {"1|1", "2|2", "2|3"}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1 INNER JOIN exemp010 e2 ON e1.dept = e2.dept AND (SELECT COUNT(*) "
       "FROM exdep010 d3 WHERE d3.budget > 25) > 0 WHERE e2.dnul IN (SELECT d4.code FROM exdep010 d4) ORDER BY 1, 2",
       {"1|1", "2|2", "2|3", "3|2", "3|3", "4|1"}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1 INNER JOIN exemp010 e2 ON e1.dept = e2.dept AND (SELECT COUNT(*) "
       "FROM exdep010 d3 WHERE d3.budget > 35) > 0 ORDER BY 1, 2",
       {}},
      {"SELECT e.emp, d.code FROM exemp010 e LEFT JOIN exdep010 d ON e.dept = d.code AND d.budget > 15 ORDER BY 1",
       {"1|-", "2|B", "3|B", "4|-"}},
      {"SELECT e.emp, d.code FROM exemp010 e LEFT JOIN exdep010 d ON e.dept = d.code AND e.salary > 250 ORDER BY 1",
       {"1|-", "2|-", "3|B", "4|A"}},
      {"SELECT e.emp, d.code FROM exemp010 e LEFT JOIN exdep010 d ON 1 = 0 ORDER BY 1", {"1|-", "2|-", "3|-", "4|-"}},
      {"SELECT e.emp, d.code FROM exemp010 e LEFT JOIN exdep010 d ON d.budget > 15 ORDER BY 1, 2",
       {"1|B", "1|C", "2|B", "2|C", "3|B", "3|C", "4|B", "4|C"}},
      {"SELECT d.code, e.emp FROM exemp010 e RIGHT JOIN exdep010 d ON e.salary > 250 ORDER BY 1, 2",
       {"A|3", "A|4", "B|3", "B|4", "C|3", "C|4"}},
      {"SELECT e.emp, d.code FROM exemp010 e LEFT JOIN exdep010 d ON e.dnul = d.code AND d.code IS NULL ORDER BY 1",
       {"1|-", "2|-", "3|-", "4|-"}},
      {"SELECT d.code, e.emp FROM exemp010 e RIGHT JOIN exdep010 d ON e.dept = d.code AND e.salary > 150 "
       "ORDER BY 1, 2",
       {"A|4", "B|2", "B|3", "C|0"}},
      {"SELECT d.code, e.emp FROM exemp010 e RIGHT JOIN exdep010 d ON e.dept = d.code AND d.budget > 15 ORDER BY 1, 2",
       {"A|0", "B|2", "B|3", "C|0"}},
      {"SELECT e.emp, d.code FROM exemp010 e LEFT JOIN exdep010 d ON 1 = 0 WHERE d.budget > 0 AND NOT EXISTS "
       "(SELECT e3.emp FROM exemp010 e3 WHERE e3.salary > e.salary AND e3.dept = e.dept)",
       {}},
      {"SELECT e.emp, e2.emp FROM (exemp010 e LEFT JOIN exdep010 d ON e.dept = d.code AND d.budget > 15) INNER JOIN "
       "exemp010 e2 ON e2.emp = e.emp AND d.code IS NULL ORDER BY 1",
       {"1|1", "4|4"}},
      // 100 / (budget - 30) divides by zero for C, which no employee joins:
      // the conjunct stays with the join, which never computes it for C.
      {"SELECT e.emp, d.code FROM exemp010 e INNER JOIN exdep010 d ON e.dept = d.code AND 100 / (d.budget - 30) < 0 "
       "ORDER BY 1",
       {"1|A", "2|B", "3|B", "4|A"}},
      {"SELECT e.emp, d.code FROM exemp010 e LEFT JOIN exdep010 d ON e.dept = d.code AND 100 / (d.budget - 30) < 0 "
       "ORDER BY 1",
       {"1|A", "2|B", "3|B", "4|A"}},
      // The same conjunct in the WHERE, with the departments first or
      // last, and one on the employees that fails for emp 4 (salary 400),
      // which has no dnul to join by: only joined rows reach them.
      {"SELECT e.emp, d.code FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND 100 / (d.budget - 30) < 0 "
       "ORDER BY 1",
       {"1|A", "2|B", "3|B", "4|A"}},
      {"SELECT e.emp, d.code FROM exdep010 d, exemp010 e WHERE 100 / (d.budget - 30) < 0 AND d.code = e.dept "
       "ORDER BY 1",
       {"1|A", "2|B", "3|B", "4|A"}},
      {"SELECT e.emp, d.code FROM exemp010 e, exdep010 d WHERE e.dnul = d.code AND 100 / (e.salary - 400) < 0 "
       "ORDER BY 1",
       {"1|A", "2|B", "3|B"}},
      {"SELECT d.code, e.emp FROM exdep010 d INNER JOIN exemp010 e ON e.dnul = d.code WHERE 100 / (e.salary - 400) "
       "< 0 ORDER BY 1, 2",
       {"A|1", "B|2", "B|3"}},
      {"SELECT e.emp, x.emp FROM exemp010 e, exdep010 d, exemp010 x WHERE e.dept = d.code AND x.emp = e.emp AND "
       "d.code <> 'A' AND 100 / (d.budget - 30) < 0 AND 100 / (x.salary - 400) < 0 ORDER BY 1, 2",
       {"2|2", "3|3"}},
      // A FALSE condition over a subquery decides the rows that a division
      // by zero would fail: beside a join (department A's budget is 10),
      // and written first before the division.
      {"SELECT d.code, e.emp FROM exdep010 d INNER JOIN exemp010 e ON d.code = e.drst WHERE 100 / (d.budget - 10) < 0 "
       "AND 'Q' IN (SELECT x.dept FROM exemp010 x) ORDER BY 1, 2",
       {}},
      {"SELECT COUNT(*) :n FROM exemp010 e WHERE (SELECT COUNT(*) FROM exdep010 x WHERE x.budget > 1000) > 0 AND "
       "100 / (e.salary - 200) < 0",
       {"0"}},
      {"SELECT e.emp FROM exemp010 e WHERE (SELECT x.emp FROM exemp010 x WHERE x.emp = e.emp) > 3 AND "
       "100 / (e.emp - 2) > 0",
       {"4"}},
      // No employee has a NULL dnul; emp 4 overflows: a driver that scans
      // the key index must not compute the product before the row's dnul.
      {"SELECT e.emp FROM exemp010 e WHERE e.dnul IS NULL AND e.emp >= 4 AND e.emp * 1000000000 > 0", {}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1, exemp010 e2 WHERE e1.emp = e2.emp AND 2000 IN (SELECT d3.budget "
       "FROM exdep010 d3) ORDER BY 2 DESC",
       {}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1, exemp010 e2 WHERE e1.emp = e2.emp AND 20 IN (SELECT d3.budget "
       "FROM exdep010 d3) ORDER BY 2 DESC",
       {"4|4", "3|3", "2|2", "1|1"}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1, exemp010 e2 WHERE e1.emp = e2.emp AND 2000 NOT IN (SELECT d3.budget "
       "FROM exdep010 d3) ORDER BY 1",
       {"1|1", "2|2", "3|3", "4|4"}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1, exemp010 e2 WHERE e1.emp = e2.emp AND 20 IN (SELECT d3.budget "
       "FROM exdep010 d3 WHERE d3._compnr = 2) ORDER BY 1",
       {}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1, exemp010 e2 WHERE e1.emp = e2.emp AND 400 IN (SELECT d3.budget "
       "FROM exdep010 d3 WHERE d3._compnr = 2) ORDER BY 1",
       {"1|1", "2|2", "3|3", "4|4"}},
  };
  for (Case const &c : cases) EXPECT_EQ(Query(c.text), c.rows) << c.text;
}

TEST_P(SqlApiE2E, GroupsAndUnions) {
  EXPECT_EQ(Query("SELECT dnul, COUNT(*) :n, SUM(salary) :s FROM exemp010 GROUP BY dnul "
                  "ORDER BY dnul"),
            (Rows{"-|1|400", "A|1|100", "B|2|500"}));
  EXPECT_EQ(Query("SELECT dnul, COUNT(*) :n FROM exemp010 GROUP BY dnul HAVING COUNT(*) > 1"),
            (Rows{"B|2"}));
  EXPECT_EQ(Query("SELECT COUNT(*) :n, MAX(salary) :m, MIN(emp) :e FROM exemp010"),
            (Rows{"4|400|1"}));
  EXPECT_EQ(Sorted(Query("SELECT code FROM exdep010 WHERE _compnr = 1 UNION ALL "
                         "SELECT code FROM exdep010 WHERE _compnr = 2")),
            (Rows{"A", "A", "B", "C", "D"}));
  // A computed text has no length of its own: the union's column takes
  // the longer texts of either side whole.
  EXPECT_EQ(Sorted(Query("SELECT code FROM exdep010 UNION ALL SELECT 'abcdefghij' :c FROM exdep010 "
                         "WHERE code = 'A'")),
            (Rows{"A", "B", "C", "abcdefghij"}));
  EXPECT_EQ(Sorted(Query("SELECT dept FROM exemp010 WHERE emp = 1 UNION ALL SELECT TRIM(name) & '-0123456789' :c "
                         "FROM exemp010 WHERE emp = 2")),
            (Rows{"A", "Bob-0123456789"}));
}

// Set functions, groups, filters, joins and orders over the rows of both
// companies: a company_nr IN list or a UNION ALL derived table of each
// company's rows (ANSI mode). In the layout "split" each company's rows
// come from a driver of their own and the union, and all that reads it,
// runs here.
TEST_P(SqlApiE2E, StatementsOverBothCompanies) {
  const std::string both = "(SELECT emp, dept, salary FROM exemp010 WHERE company_nr = 1 UNION ALL "
                           "SELECT emp, dept, salary FROM exemp010 WHERE company_nr = 2) x";
  const struct {
    std::string text;
    Rows rows;  // sorted
  } cases[] = {
      {"SELECT COUNT(*) :n FROM exemp010 WHERE company_nr IN (1, 2)", {"5"}},
      {"SELECT MAX(salary) :m FROM exemp010 WHERE company_nr IN (1, 2)", {"400"}},
      {"SELECT MIN(salary) :m FROM exemp010 WHERE company_nr IN (1, 2)", {"50"}},
      {"SELECT SUM(salary) :s FROM exemp010 WHERE company_nr IN (1, 2)", {"1050"}},
      {"SELECT AVG(salary) :a FROM exemp010 WHERE company_nr IN (1, 2)", {"210"}},
      {"SELECT COUNT(*) :n FROM exemp010 WHERE company_nr IN (1, 2) AND salary > 1000", {"0"}},
      // A set function other than COUNT over no rows gives no row at all.
      {"SELECT COUNT(*) :n, MAX(emp) :m FROM exemp010 WHERE company_nr IN (1, 2) AND salary > 1000", {}},
      {"SELECT dept, COUNT(*) :n, SUM(salary) :s FROM exemp010 WHERE company_nr IN (1, 2) GROUP BY dept",
       {"A|3|550", "B|2|500"}},
      {"SELECT dept, MIN(emp) :m FROM exemp010 WHERE company_nr IN (1, 2) GROUP BY dept HAVING dept = 'A'",
       {"A|1"}},
      {"SELECT COUNT(*) :n FROM " + both, {"5"}},
      {"SELECT x.dept :d, COUNT(*) :n, MAX(x.emp) :m, AVG(x.salary) :a FROM " + both + " GROUP BY x.dept",
       {"A|3|7|183.333", "B|2|3|250"}},
      {"SELECT x.dept :d, COUNT(*) :n FROM " + both + " GROUP BY x.dept HAVING COUNT(*) > 2", {"A|3"}},
      {"SELECT x.emp :e FROM " + both + " WHERE x.emp > 3", {"4", "7"}},
      {"SELECT x.emp :e FROM " + both + " WHERE x.emp > 1 AND x.salary < 250 OR x.dept = 'Z'", {"2", "7"}},
      {"SELECT x.emp :e, d.name :n FROM " + both + " INNER JOIN exdep010 d ON x.dept = d.code WHERE d.company_nr = 1",
       {"1|Alpha", "2|Beta", "3|Beta", "4|Alpha", "7|Alpha"}},
      {"SELECT d.code :c, x.emp :e FROM exdep010 d INNER JOIN " + both + " ON x.dept = d.code AND x.salary > 90 "
       "WHERE d.company_nr = 1",
       {"A|1", "A|4", "B|2", "B|3"}},
      {"SELECT d.code :c, COUNT(*) :n FROM exdep010 d, " + both +
           " WHERE x.dept = d.code AND d.company_nr = 1 GROUP BY d.code",
       {"A|3", "B|2"}},
      // A grouping over groups made here (over both companies, or over a
      // join of tables on two drivers).
      {"SELECT COUNT(*) :n, MAX(x.c) :m FROM (SELECT dept, COUNT(*) AS c FROM exemp010 WHERE company_nr IN (1, 2) "
       "GROUP BY dept) x",
       {"2|3"}},
      {"SELECT COUNT(*) :n, MIN(x.c) :m FROM (SELECT e.dept, COUNT(*) AS c FROM exemp010 e, exdep010 d "
       "WHERE e.dept = d.code GROUP BY e.dept) x",
       {"2|2"}},
      // Subqueries over both companies, correlated and not.
      {"SELECT d.code :c FROM exdep010 d WHERE d.company_nr = 1 AND EXISTS (SELECT x.emp FROM " + both +
           " WHERE x.dept = d.code AND x.salary < 150)",
       {"A"}},
      {"SELECT d.code :c, (SELECT MAX(e.emp) FROM exemp010 e WHERE e.company_nr IN (1, 2) AND e.dept = d.code) :m "
       "FROM exdep010 d WHERE d.company_nr = 1",
       {"A|7", "B|3", "C|0"}},
      {"SELECT d.code :c FROM exdep010 d WHERE d.company_nr = 1 AND d.code IN (SELECT e.dept FROM exemp010 e "
       "WHERE e.company_nr IN (1, 2) AND e.salary < 150)",
       {"A"}},
  };
  for (const auto &c : cases) EXPECT_EQ(Sorted(Query(c.text, 1, SQL_PARSE_ANSI)), c.rows) << c.text;
  EXPECT_EQ(Query("SELECT x.emp :e FROM " + both + " ORDER BY 1 DESC", 1, SQL_PARSE_ANSI),
            (Rows{"7", "4", "3", "2", "1"}));
  EXPECT_EQ(Query("SELECT emp FROM exemp010 WHERE company_nr IN (1, 2) AND emp > 1 ORDER BY emp DESC", 1,
                  SQL_PARSE_ANSI),
            (Rows{"7", "4", "3", "2"}));
}

// Intervals reach callback 7 as numbers; a value that its field cannot
// hold fails the fetch with a text that names the column, the value and
// the field.
TEST_P(SqlApiE2E, FetchDeliversIntervalsAndNamesWhatItCannotDeliver) {
  EXPECT_EQ(Query("SELECT opened - opened :d FROM exdep010 WHERE code = 'A'"), (Rows{"0"}));
  EXPECT_EQ(g_host.lastType, SQL_TYPE_INTEGER);
  EXPECT_EQ(Query("SELECT TIMESTAMP '2038-01-19 03:14:08' - TIMESTAMP '2038-01-19 03:14:00' :s FROM exdep010 "
                  "WHERE code = 'A'"),
            (Rows{"8"}));
  EXPECT_EQ(g_host.lastType, SQL_TYPE_REAL);

  QPCStatement *h = Parse("SELECT code, TIMESTAMP '2038-01-19 03:14:08' :x FROM exdep010");
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(sql_exec(h, 1), 0) << g_host.lastError;
  g_host.row.clear();
  EXPECT_EQ(sql_fetch(h), -1);
  EXPECT_EQ(zdb_errno, 205);
  EXPECT_EQ(g_host.row, "A");  // the column before it was delivered
  EXPECT_NE(g_host.lastError.find("SQLState 22003: Column 2 (:x) cannot be delivered: the timestamp "),
            std::string::npos)
      << g_host.lastError;
  EXPECT_NE(g_host.lastError.find("does not fit the 4-byte field of type 8, which holds "), std::string::npos);
}

TEST_P(SqlApiE2E, Subqueries) {
  EXPECT_EQ(Sorted(Query("SELECT emp FROM exemp010 WHERE dept IN "
                         "(SELECT code FROM exdep010 WHERE budget >= 20)")),
            (Rows{"2", "3"}));
  EXPECT_EQ(Query("SELECT code FROM exdep010 d WHERE NOT EXISTS "
                  "(SELECT emp FROM exemp010 e WHERE e.dept = d.code)"),
            (Rows{"C"}));
  EXPECT_EQ(Query("SELECT code, (SELECT MAX(emp) FROM exemp010) :m FROM exdep010 WHERE code = 'A'"),
            (Rows{"A|4"}));
  EXPECT_EQ(Query("SELECT emp FROM exemp010 WHERE salary = (SELECT MAX(salary) FROM exemp010)"),
            (Rows{"4"}));
  // Against rows that are all NULL (an outer join's NULL side) NOT IN is
  // UNKNOWN, never TRUE.
  EXPECT_EQ(Query("SELECT code FROM exdep010 WHERE code NOT IN "
                  "(SELECT d.code FROM exemp010 e LEFT JOIN exdep010 d ON d.status = 77)"),
            (Rows{}));
}

// Blank-padded byte order, for the collations the driver's tables name
// (the statements below compare codes of one width and numbers only).
int PaddedOrder(void *, int la, const void *a, int lb, const void *b) {
  auto const *x = static_cast<const unsigned char *>(a);
  auto const *y = static_cast<const unsigned char *>(b);
  for (int i = 0; i < std::max(la, lb); ++i) {
    int const cx = i < la ? x[i] : ' ', cy = i < lb ? y[i] : ' ';
    if (cx != cy) return cx - cy;
  }
  return 0;
}

// The rows SQLite gives for a statement over the driver's files (two.db
// attached as "two" where it exists), each as the callbacks write it:
// numbers as text, a NULL as the 0 its field holds.
Rows SqliteRows(const std::string &root, const std::string &sql) {
  sqlite3 *db = nullptr;
  Rows rows;
  EXPECT_EQ(sqlite3_open_v2((root + "/main.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  for (const char *name : {"mvtss1", "mvtss2"})
    sqlite3_create_collation_v2(db, name, SQLITE_UTF8, nullptr, PaddedOrder, nullptr);
  if (std::filesystem::exists(root + "/two.db")) {
    std::string const attach = "ATTACH '" + root + "/two.db' AS two";
    EXPECT_EQ(sqlite3_exec(db, attach.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  }
  sqlite3_stmt *stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql << ": " << sqlite3_errmsg(db);
  while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      char buf[64] = "0";
      if (sqlite3_column_type(stmt, i) == SQLITE_INTEGER)
        std::snprintf(buf, sizeof buf, "%lld", sqlite3_column_int64(stmt, i));
      else if (sqlite3_column_type(stmt, i) == SQLITE_FLOAT)
        std::snprintf(buf, sizeof buf, "%g", sqlite3_column_double(stmt, i));
      row += (i > 0 ? "|" : "") + std::string(buf);
    }
    rows.push_back(row);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  std::sort(rows.begin(), rows.end());
  return rows;
}

// Set functions (COUNT, SUM, MIN) over no row, without and with GROUP BY,
// plain and as scalar subqueries, under conditions that read no row of
// the query and leave none (IN, EXISTS and a comparison of a scalar
// subquery, over the departments' driver and the employees', and a
// BETWEEN whose bounds hold nothing), and a BETWEEN of equal bounds that
// keeps a row, in both modes: the rows of SQLite's answer to the same
// statement. The dialect's implicit COUNT(*) > 0 of a query with other set
// functions than COUNT is SQLite's HAVING. In the layout "two" the
// departments' set functions run in their driver and the subqueries over
// the employees in the other.
TEST_P(SqlApiE2E, SetFunctionsOverNoRowAnswerAsSqlite) {
  std::string const layout = GetParam();
  const char *const conditions[] = {
      "-1 IN (SELECT e2.emp FROM {emp} e2)",
      "-1 IN (SELECT d2.budget FROM {dep} d2)",
      "EXISTS (SELECT e2.emp FROM {emp} e2 WHERE e2.emp = -99999)",
      "EXISTS (SELECT d2.code FROM {dep} d2 WHERE d2.budget < 0)",
      "(SELECT COUNT(*) FROM {emp} e2 WHERE e2.emp < 0) > 0",
      "(SELECT MAX(d2.budget) FROM {dep} d2) < 0",
      "NOT (-1 NOT IN (SELECT e2.emp FROM {emp} e2))",
      "d.budget BETWEEN 30 AND 20",
      "d.budget BETWEEN 20 AND 20",
  };
  const char *const statements[] = {
      "SELECT COUNT(*){n} FROM {dep} d WHERE {c}",
      "SELECT COUNT(d.code){n}, COUNT(*){m} FROM {dep} d WHERE {c}",
      "SELECT SUM(d.budget){s}, MIN(d.budget){m}, COUNT(*){n} FROM {dep} d WHERE {c}{having}",
      "SELECT d.budget, COUNT(*){n} FROM {dep} d WHERE {c} GROUP BY d.budget",
      "SELECT COUNT(*){n} FROM {emp} e WHERE (SELECT COUNT(*) FROM {dep} d WHERE d.code = e.drst AND {c}) = 0",
      "SELECT e.emp, (SELECT SUM(d.budget) FROM {dep} d WHERE d.code = e.dept AND {c}){s} FROM {emp} e",
      ("SELECT COUNT(*){n} FROM {emp} e WHERE (SELECT MIN(d.budget) FROM {dep} d WHERE d.code = e.dept AND {c}) "
       "IS NULL"),
      // Over a join of the two tables (across drivers in the layout "two").
      "SELECT COUNT(*){n}, MAX(e.emp){m} FROM {emp} e, {dep} d WHERE e.dept = d.code AND {c}{having}",
      "SELECT d.budget, COUNT(*){n} FROM {dep} d, {emp} e WHERE d.code = e.dnul AND {c} GROUP BY d.budget",
  };
  auto fill = [](std::string text, std::vector<std::pair<std::string, std::string>> const &values) {
    for (auto const &[key, value] : values)
      for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
        text.replace(at, key.size(), value);
    return text;
  };
  std::string const sqliteEmp = layout == "two" ? "two.exemp010001" : "exemp010001";
  for (const char *condition : conditions) {
    for (const char *statement : statements) {
      std::string const shape = fill(statement, {{"{c}", condition}});
      std::string const ours = fill(shape, {{"{n}", " :n"}, {"{m}", " :m"}, {"{s}", " :s"},
                                            {"{having}", ""}, {"{dep}", "exdep010"}, {"{emp}", "exemp010"}});
      Rows const expected = SqliteRows(root_.path(), fill(shape, {{"{n}", ""}, {"{m}", ""}, {"{s}", ""},
                                                                  {"{having}", " HAVING COUNT(*) > 0"},
                                                                  {"{dep}", "exdep010001"}, {"{emp}", sqliteEmp}}));
      EXPECT_EQ(Sorted(Query(ours)), expected) << ours;
      EXPECT_EQ(Sorted(Query(ours, 1, SQL_PARSE_ANSI)), expected) << "ANSI: " << ours;
    }
  }
}

// What a condition evaluates once for an execution (an uncorrelated IN or
// EXISTS, a comparison of a scalar subquery) fails the statement only
// where a row reaches it: over rows that another condition empties the
// statement answers no row, over rows it reaches it fails with the error
// (a division by zero, a scalar subquery of several rows).
TEST_P(SqlApiE2E, AConditionEvaluatedOnceFailsOnlyWhereARowReachesIt) {
  const char *const failing[] = {
      "EXISTS (SELECT e.emp FROM exemp010 e WHERE 1 / (e.emp - e.emp) > 0)",
      "'A' IN (SELECT e.dept FROM exemp010 e WHERE 1 / (e.emp - e.emp) > 0)",
      "(SELECT e.emp FROM exemp010 e) > 0",
      "(SELECT d2.budget FROM exdep010 d2) > 0",
  };
  const int errors[] = {306, 306, 310, 310};
  for (std::size_t i = 0; i < std::size(failing); ++i) {
    for (int flags : {0, static_cast<int>(SQL_PARSE_ANSI)}) {
      std::string const none = std::string("SELECT d.code FROM exdep010 d WHERE d.budget < 0 AND ") + failing[i];
      EXPECT_EQ(Query(none, 1, flags), Rows{}) << none;
      std::string const some = std::string("SELECT d.code FROM exdep010 d WHERE d.budget > 15 AND ") + failing[i];
      QPCStatement *h = Parse(some, flags);
      ASSERT_NE(h, nullptr);
      int end = 0;
      if (sql_exec(h, 1) != 0)
        end = zdb_errno;
      else
        Fetch(h, -1, &end);
      EXPECT_EQ(end, errors[i]) << some << ": " << g_host.lastError;
      Close(h);
      // The same over a join of the departments with the employees (on a
      // driver of their own in the layout "two"): no joined row, no error.
      std::string const joined = std::string("SELECT d.code FROM exdep010 d, exemp010 e WHERE e.dept = d.code AND "
                                             "e.emp < 0 AND ") + failing[i];
      EXPECT_EQ(Query(joined, 1, flags), Rows{}) << joined;
    }
  }
  // A joined row that reaches a failing one-table conjunct fails the
  // statement wherever the tables live (department A's budget is 10).
  for (const char *text : {"SELECT e.emp FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND 100 / (d.budget - 10) < 0",
                           "SELECT e.emp FROM exdep010 d, exemp010 e WHERE d.code = e.dnul AND 100 / (e.salary - 100) < 0"}) {
    QPCStatement *h = Parse(text);
    ASSERT_NE(h, nullptr);
    int end = 0;
    if (sql_exec(h, 1) != 0)
      end = zdb_errno;
    else
      Fetch(h, -1, &end);
    EXPECT_EQ(end, 306) << text << ": " << g_host.lastError;
    Close(h);
  }
  // A FALSE operand of an AND decides its row before the failing one,
  // wherever the AND runs and whichever operand comes first.
  for (const char *text : {"SELECT emp FROM exemp010 WHERE emp * 1000000000 > 0 AND emp < 3",
                           "SELECT emp FROM exemp010 WHERE emp < 3 AND emp * 1000000000 > 0",
                           "SELECT emp FROM exemp010 e WHERE emp * 1000000000 > 0 AND EXISTS (SELECT d.code FROM "
                           "exdep010 d WHERE d.code = e.dept AND e.emp < 3)",
                           "SELECT emp FROM exemp010 WHERE emp > 2 OR emp * 1000000000 > 0",
                           // Emp 4 was hired a day later: one day past the calendar's end.
                           "SELECT emp FROM exemp010 WHERE hired + 2914056 > hired AND salary < 250",
                           "SELECT emp FROM exemp010 WHERE salary < 250 AND hired + 2914056 > hired"}) {
    Rows const expected = std::string(text).find(" OR ") != std::string::npos ? Rows{"1", "2", "3", "4"}
                                                                            : Rows{"1", "2"};
    EXPECT_EQ(Sorted(Query(text)), expected) << text;
  }
  // An operand that decides an AND or OR spares a failing one nested under
  // AND, OR and NOT, beside a join too; a comparison of a DATE column with
  // an integer constant cannot fail, so that a failing conjunct written
  // before it waits for it; a failing subquery of an IN on a key is filled
  // only for a row that reaches it; constant conditions are decided once.
  struct Decided {
    const char *text;
    Rows rows;
  } const decided[] = {
      {"SELECT emp FROM exemp010 e WHERE e.emp < 3 AND (e.emp < 10 OR 100 / (e.emp - e.emp) > 0)", {"1", "2"}},
      {"SELECT emp FROM exemp010 e WHERE e.emp < 3 AND NOT (e.emp > 10 AND 100 / (e.emp - e.emp) > 0)", {"1", "2"}},
      {"SELECT emp FROM exemp010 e WHERE e.emp < 3 AND ((e.emp > 10 AND 100 / (e.emp - e.emp) > 0) OR e.emp < 10)",
       {"1", "2"}},
      {"SELECT emp FROM exemp010 e WHERE e.emp < 3 AND (e.emp < 10 OR e.dept = (SELECT d.code FROM exdep010 d))",
       {"1", "2"}},
      {"SELECT emp FROM exemp010 e WHERE e.emp < 3 AND ((e.emp > 10 AND 100 / (e.emp - e.emp) > 0) OR e.salary / 10 = "
       "(SELECT MIN(d.budget) FROM exdep010 d))",
       {"1"}},
      {"SELECT emp FROM exemp010 e WHERE e.emp > 1 AND (e.emp < 10 OR e.hired + 2914056 > e.hired)", {"2", "3", "4"}},
      {"SELECT e.emp FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND (d.budget >= 0 OR 100 / (e.emp - e.emp) > 0)",
       {"1", "2", "3", "4"}},
      {"SELECT e.emp FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND NOT (d.budget < 0 AND 1 / (e.emp - e.emp) > 0)",
       {"1", "2", "3", "4"}},
      {"SELECT emp FROM exemp010 e WHERE e.hired + 2914056 > e.hired AND e.hired < 738004", {"1", "2", "3"}},
      {"SELECT emp FROM exemp010 e WHERE e.hired + 2914056 > e.hired AND e.hired BETWEEN 1 AND 738003", {"1", "2", "3"}},
      {"SELECT emp FROM exemp010 e WHERE e.hired + 2914056 > e.hired AND e.hired IN (738001, 738002)", {"1", "2"}},
      {"SELECT emp FROM exemp010 e WHERE e.hired + 2914056 > e.hired AND NOT e.hired = 738004", {"1", "2", "3"}},
      {"SELECT emp FROM exemp010 e WHERE 100 / (e.salary - 400) > 0 AND e.hired < 738004", {}},
      {"SELECT emp FROM exemp010 e WHERE e.emp IN (SELECT e2.salary FROM exemp010 e2 WHERE 1 / (e2.emp - e2.emp) > 0) "
       "AND e.emp < -5",
       {}},
      {"SELECT emp FROM exemp010 e WHERE e.emp IN (SELECT (SELECT d.budget FROM exdep010 d) FROM exemp010 e2) AND "
       "e.emp < -5",
       {}},
      {"SELECT emp FROM exemp010 e WHERE e.emp IN (SELECT e2.salary * 100000000 FROM exemp010 e2) AND e.emp < -5", {}},
      {"SELECT e.emp FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND 1 + 1 = 3", {}},
      {"SELECT e.emp FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND TRIM(TRAILING FROM 'Dora') > 'H8'", {}},
      {"SELECT e.emp FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND DATE '2006-11-17' + 365 = DATE "
       "'2003-10-01'",
       {}},
      {"SELECT e.emp FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND e.emp < 0 AND 2147483647 + 1 > 0", {}},
      {"SELECT e.emp FROM exemp010 e WHERE e.emp < 3 AND EXISTS (SELECT d.code FROM exdep010 d WHERE d.code = e.dept "
       "AND TRIM(TRAILING FROM e.name) <> d.name AND e.name & d.name <> 'x')",
       {"1", "2"}},
  };
  for (const Decided &d : decided) EXPECT_EQ(Sorted(Query(d.text)), d.rows) << d.text;
  // A failing term of a correlated subquery that reads only the enclosing
  // row (emp * 600000000 leaves 32 bits for employee 4 only, emp *
  // 1000000000 for 3 and 4) spares the subquery where it is certainly
  // TRUE, is FALSE where it is certainly so, and fails only for an employee
  // whose subquery has a row that reaches it: employee 4's dnul is NULL.
  const Decided outer[] = {
      {"SELECT e.emp FROM exemp010 e WHERE e.dept IN (SELECT d.code FROM exdep010 d WHERE d.code = e.dnul AND "
       "e.emp * 600000000 > 0)",
       {"1", "2", "3"}},
      {"SELECT e.emp FROM exemp010 e WHERE EXISTS (SELECT d.code FROM exdep010 d WHERE d.code = e.dnul AND "
       "e.emp * 600000000 > 0 AND d.budget < 15)",
       {"1"}},
      {"SELECT e.emp FROM exemp010 e WHERE NOT EXISTS (SELECT d.code FROM exdep010 d WHERE d.code = e.dnul AND "
       "e.emp * 600000000 > 1000000000)",
       {"1", "4"}},
      {"SELECT e.emp FROM exemp010 e WHERE e.emp < 4 AND e.dept IN (SELECT d.code FROM exdep010 d WHERE "
       "e.emp * 600000000 < 0)",
       {}},
      {"SELECT e.emp FROM exemp010 e WHERE e.emp < 4 AND e.dept IN (SELECT d.code FROM exdep010 d WHERE "
       "e.emp * 600000000 > 0 AND d.budget > 15)",
       {"2", "3"}},
      {"SELECT e.emp FROM exemp010 e WHERE e.dept IN (SELECT d.code FROM exdep010 d WHERE d.budget < 0 AND "
       "e.emp * 1000000000 > 0)",
       {}},
  };
  for (const Decided &d : outer) {
    EXPECT_EQ(Sorted(Query(d.text)), d.rows) << d.text;
    EXPECT_EQ(Sorted(Query(d.text, 1, SQL_PARSE_ANSI)), d.rows) << "ANSI: " << d.text;
  }
  for (const char *text : {"SELECT e.emp FROM exemp010 e WHERE e.dept IN (SELECT d.code FROM exdep010 d WHERE "
                           "d.code = e.dept AND e.emp * 600000000 > 0)",
                           "SELECT e.emp FROM exemp010 e WHERE EXISTS (SELECT d.code FROM exdep010 d WHERE "
                           "e.emp * 600000000 > 0)"}) {
    QPCStatement *h = Parse(text);
    ASSERT_NE(h, nullptr);
    int end = 0;
    if (sql_exec(h, 1) != 0)
      end = zdb_errno;
    else
      Fetch(h, -1, &end);
    EXPECT_EQ(end, 205) << text << ": " << g_host.lastError;  // "22003"
    Close(h);
  }
}

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

// Statement shapes that must run to their last row wherever they run:
// nested IN subqueries, long IN lists, OR chains and sums, and a join
// whose ON holds nested scalar subqueries and an EXISTS beside a WHERE
// EXISTS and a grouping.
TEST_P(SqlApiE2E, LongAndDeepStatementsRunToTheEnd) {
  std::string nested = "SELECT emp FROM exemp010 WHERE salary > 150";
  for (int i = 0; i < 8; ++i) nested = "SELECT emp FROM exemp010 WHERE emp IN (" + nested + ")";
  EXPECT_EQ(Sorted(Query("SELECT emp FROM exemp010 WHERE emp IN (" + nested + ")")), (Rows{"2", "3", "4"}));
  std::string list, chain, sum = "emp", names = "name", deep = "emp";
  for (int i = 0; i < 10000; ++i) {
    list += (i ? ", " : "") + std::to_string(i % 2 == 0 ? 1000 + i : 3);
    chain += (i ? " OR " : "") + std::string("emp = ") + std::to_string(i == 9999 ? 2 : 1000 + i);
    if (i == 9999) continue;
    sum += " + 1";
    names += " & ''";
  }
  for (int i = 0; i < 1001; ++i) deep += " + (1";
  deep += std::string(1001, ')');
  EXPECT_EQ(Query("SELECT emp FROM exemp010 WHERE emp IN (" + list + ")"), (Rows{"3"}));
  EXPECT_EQ(Query("SELECT emp FROM exemp010 WHERE " + chain), (Rows{"2"}));
  // A chain of operators is one level deep however long, and runs here (it
  // is too long to ship); operands nested on the right still count a level
  // each and are refused past the limit.
  EXPECT_EQ(Query("SELECT " + sum + " :s FROM exemp010 WHERE emp = 1"), (Rows{"10000"}));
  EXPECT_EQ(Query("SELECT name FROM exemp010 WHERE " + sum + " - emp * 2 * (emp - 1) = 9990 AND " + names + " = 'Cid'"),
            (Rows{"Cid"}));
  g_host.lastError.clear();
  EXPECT_EQ(sql_parse(("SELECT " + deep + " :s FROM exemp010").c_str(), static_cast<unsigned long>(trans_), 0),
            nullptr);
  EXPECT_NE(g_host.lastError.find("42I59"), std::string::npos) << g_host.lastError;
  EXPECT_EQ(Query("SELECT d.code, COUNT(*) :n FROM exemp010 e INNER JOIN exdep010 d ON e.dept = d.code "
                  "AND e.salary >= (SELECT MIN(salary) FROM exemp010 x WHERE x.salary >= "
                  "(SELECT MIN(salary) FROM exemp010 y WHERE y.emp > 0) AND EXISTS "
                  "(SELECT code FROM exdep010 z WHERE z.code = x.dept)) "
                  "WHERE EXISTS (SELECT emp FROM exemp010 w WHERE w.dept = d.code) "
                  "AND d.budget < (SELECT MAX(budget) + 1 FROM exdep010) GROUP BY d.code ORDER BY d.code"),
            (Rows{"A|2", "B|2"}));
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
// that no employee comes twice. A FULL join's right row that a write
// changes beside what its condition reads stays matched, and the right
// rows handed out unmatched before a write are not handed out again.
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

// `first` followed by n - 1 times `op` and `term`.
std::string Chain(std::string const &first, std::string const &op, std::string const &term, int n) {
  std::string text = first;
  text.reserve(static_cast<std::size_t>(n) * (op.size() + term.size()) + first.size());
  for (int i = 1; i < n; ++i) text += op + term;
  return text;
}

// A million terms: a chain of "+", AND or OR is one level deep and is
// prepared, and a syntax error after it is reported as such. Run, a
// condition reaches the driver in nested lists of countable length (shown
// with 70,000 terms, beyond a 16-bit count, to keep the test quick).
TEST_P(SqlApiE2E, MillionTermStatementsRunOrFailCleanly) {
  auto const &chain = Chain;
  int const million = 1000000;
  std::string const sum = chain("1", " + ", "1", million);
  g_host.lastError.clear();
  EXPECT_EQ(sql_parse(("SELECT " + sum + " :x FROM FROM exdep010").c_str(), static_cast<unsigned long>(trans_), 0),
            nullptr);
  EXPECT_EQ(zdb_errno, SQL_ERR_PARSE);
  EXPECT_NE(g_host.lastError.find("42I00"), std::string::npos) << g_host.lastError;
  // A chain of up to 64 operators is shipped, the driver reading and
  // evaluating it; a longer one runs here.
  EXPECT_EQ(Query("SELECT " + chain("1", " + ", "1", 65) + " :x FROM exdep010 WHERE code = 'A'"), (Rows{"65"}));
  EXPECT_EQ(Query("SELECT code FROM exdep010 WHERE budget = " + chain("1", " + ", "1", 990) + " - 980"), (Rows{"A"}));
  // The prepare does not depend on where the table lives: once is enough.
  if (std::string(GetParam()) == "one") {
    for (std::string const &text :
         {"SELECT code FROM exdep010 WHERE " + chain("budget = 20", " OR ", "budget = 0", million),
          "SELECT code FROM exdep010 WHERE " + chain("code <> 'B'", " AND ", "budget <> 0", million),
          "SELECT " + sum + " :x FROM exdep010"}) {
      Close(Parse(text));
    }
  }
  EXPECT_EQ(Query("SELECT code FROM exdep010 WHERE " + chain("budget = 20", " OR ", "budget = 0", 70000)), (Rows{"B"}));
  EXPECT_EQ(Sorted(Query("SELECT code FROM exdep010 WHERE " + chain("code <> 'B'", " AND ", "budget <> 0", 70000))),
            (Rows{"A", "C"}));
  // So does an IN list of that length, as IN predicates over its parts.
  std::string const values = chain("20", ", ", "0", 70000);
  EXPECT_EQ(Query("SELECT code FROM exdep010 WHERE budget IN (" + values + ")"), (Rows{"B"}));
  EXPECT_EQ(Sorted(Query("SELECT code FROM exdep010 WHERE budget NOT IN (" + values + ")")), (Rows{"A", "C"}));
}

// Lists of 33,000 items, beyond a 16-bit count, where a description has no
// nested form: a select list (also of a subquery), ORDER BY, GROUP BY, set
// functions and a row value run here over what the driver delivers (in one
// layout: where the tables live does not change this).
TEST_P(SqlApiE2E, ListsBeyondASixteenBitCountRunHereOrAreRefused) {
  if (std::string(GetParam()) != "one") return;
  auto const &chain = Chain;
  int const items = 33000;
  auto numbers = [&](int from) {
    std::string text = std::to_string(from);
    for (int i = from + 1; i <= items; ++i) text += ", " + std::to_string(i);
    return text;
  };
  auto row = [&](std::string const &first, std::string const &value) { return chain(first, "|", value, items); };
  auto expectRows = [&](std::string const &text, Rows const &expected) {
    Rows const rows = Query(text);
    EXPECT_TRUE(rows == expected) << rows.size() << " rows, the first " << (rows.empty() ? "" : rows[0].substr(0, 200));
  };
  expectRows("SELECT " + chain("budget + 1 :x", ", ", "budget + 1 :x", items) + " FROM exdep010 ORDER BY 1 DESC, " +
                 numbers(2),
             {row("31", "31"), row("21", "21"), row("11", "11")});
  expectRows("SELECT code, " + chain("MAX(budget) :m", ", ", "MAX(budget) :m", items) + " FROM exdep010 GROUP BY " +
                 chain("code", ", ", "code", items) + " ORDER BY 1",
             {"A|" + row("10", "10"), "B|" + row("20", "20"), "C|" + row("30", "30")});
  std::string const rowValue = "{" + chain("budget", ", ", "budget", items) + "} = {" + chain("20", ", ", "20", items) + "}";
  expectRows("SELECT code FROM exdep010 WHERE " + rowValue, {"B"});
  expectRows("SELECT code FROM exdep010 d WHERE EXISTS (SELECT " + chain("budget", ", ", "budget", items) +
                 " FROM exdep010 x WHERE x.budget = d.budget + 10) ORDER BY code",
             {"A", "B"});
  // An UPDATE or DELETE runs in the driver as a whole: such a condition,
  // as many SET items, or a condition too deep to ship are refused.
  for (auto const &[text, message] :
       {std::pair<std::string, std::string>{"UPDATE exdep010 SET name = 'Z' WHERE " + rowValue,
                                            "QP060: Search condition holds a list of more than 32767 items"},
        {"UPDATE exdep010 SET " + chain("name = 'Z'", ", ", "name = 'Z'", items) + " WHERE code = 'B'",
         "QP060: UPDATE of more than 32767 SET items"},
        {"UPDATE exdep010 SET name = 'Z' WHERE budget = " + chain("1", " + ", "1", 65) + " - 45",
         "QP060: Search condition holds more than 64 arithmetic operators"}}) {
    g_host.lastError.clear();
    QPCStatement *h = sql_parse(text.c_str(), static_cast<unsigned long>(trans_), 0);
    EXPECT_TRUE(h == nullptr || sql_exec(h, 1) != 0);
    if (h != nullptr) sql_close(h);
    EXPECT_NE(g_host.lastError.find(message), std::string::npos) << g_host.lastError;
  }
  EXPECT_EQ(Query("SELECT name FROM exdep010 WHERE code = 'B'"), (Rows{"Beta"}));
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

INSTANTIATE_TEST_SUITE_P(Drivers, SqlApiE2E, testing::Values("one", "two", "split"),
                         [](const auto &info) { return std::string(info.param); });
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
