// Every kind of statement and expression prepared while memory runs out:
// the parser, the builders of the validated tree and name resolution
// against the fixture dictionary, with each allocation of a prepare failing
// in turn (operator new and the library's mal_* allocator alike). A prepare
// that meets the failure reports QP501 (native 501) and leaves nothing
// behind: LeakSanitizer checks the heap after every try. A prepare that gets
// through anyway (the failure was absorbed) leaves the same validated tree,
// parameters and result columns as a clean prepare. The sweep runs over a
// process that has prepared the statement once already, and again, for a
// few statements, over fresh processes whose first prepare loads what the
// dictionary and the library keep for later ones. Refused statements keep
// their error (or give QP501), and sql_parse returns null with 501.
//
// A statement with many allocations is sampled (the first 150, then evenly
// spread); MOLVANE_FAIL_EVERY=1 tries every allocation, MOLVANE_FAIL_AT=N
// only the Nth (counted from 0), and MOLVANE_FAIL_TRACE=1 prints the stack
// of each failing allocation.
#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#include <sanitizer/lsan_interface.h>
#define MOLVANE_LEAK_CHECK() (__lsan_do_recoverable_leak_check() != 0)
#else
#define MOLVANE_LEAK_CHECK() false
#endif

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <molvane/sql.h>
#include <molvane/zdb.h>

#include "alloc_failure.h"
#include "dbc/session/dbc_settings.h"
#include "dbc/dict/dd.h"
#include "platform/mal.h"
#include "sql/common/column_descriptor.h"
#include "sql/statement/statement.h"
#include "sql/statement/statement_cache.h"
#include "sql/statement/sql_api_internal.h"
#include "sql/statement/statement_data.h"
#include "support/test_env.h"
#include "support/vt_trace.h"

namespace {

using molvane::test::FixturePath;
using molvane::test::ScratchDir;

// Prepare mode words (SQLStatement::Prepare): the classic and the ANSI
// dialect, as sql_parse passes them.
constexpr int kClassic = 0x04;
constexpr int kAnsi = 0x14;
constexpr int kFromOptional = 0x06;

struct Case {
  char const *name;
  char const *text;
  int mode;
  bool whereUsed = false;  // the tables and columns used go to a where-used handler
};

void PrintTo(Case const &c, std::ostream *out) { *out << c.name; }

// Each statement stands for the constructs in its name; together they
// reach every builder of the parser and every kind of validated node.
const Case kCases[] = {
    {"Case", "SELECT CASE status WHEN 1 THEN 'a' WHEN 2 THEN NULL ELSE 'c' END, "
             "CASE emp WHEN 1 THEN NULL WHEN :w THEN 3 ELSE 2 END FROM exemp010",
     kClassic},
    {"EnumTextsAndConstants", "SELECT ENUM_DESCRIPTION(status), ENUM_DESCRIPTION(status, 'd') FROM exemp010 "
                              "WHERE status = exstatus.active",
     kClassic},
    {"SubstringIndexingTrimCast",
     "SELECT name(1; 3), scores[2], scores(2), 'abc'(2), x'0aff'(1; 1), "
     "TRIM(name), TRIM('x' FROM name), TRIM(LEADING FROM name), TRIM(TRAILING '-' FROM name), "
     "TRIM(BOTH ' ' FROM name), CAST(:v AS INTEGER), CAST(:w1 AS DATE), CAST(:w2 AS REAL), "
     "CAST(:w3 AS RAW), CAST(:w4 AS STRING), CAST(:w5 AS TIMESTAMP) FROM exemp010 WHERE name = :h(1; 2)",
     kClassic},
    {"ArithmeticAndDates", "SELECT emp - 3 * 4, name & 'x', emp / 2, emp \\ 3 + -5, salary + -1.5e3, CURRENT_DATE, "
                           "CURRENT_TIMESTAMP, DATE.TO.NUM(2001, 2, 3), DATE '2001-02-03', "
                           "TIMESTAMP '2001-02-03 04:05:06' FROM exemp010 WHERE emp = EMPTY AND hired < DATE.NUM()",
     kClassic},
    {"InList", "SELECT emp FROM exemp010 WHERE emp IN (1, 2, 3) AND emp NOT IN (4, :x) AND name IN ('a')",
     kClassic},
    {"BetweenAndInrange", "SELECT emp FROM exemp010 WHERE emp BETWEEN 1 AND 5 AND emp NOT INRANGE 2 AND 3 "
                          "AND {emp, name} BETWEEN {1, 'a'} AND {2, 'b'} "
                          "AND {emp, name} NOT INRANGE {1, :a} AND {:b, 'z'}",
     kClassic},
    {"ComparisonsOfRows", "SELECT emp FROM exemp010 WHERE {emp, name} #<= {1, 'a'} AND emp <> 2 AND "
                          "(emp) = (1) AND NOT emp = 1 OR name = 'x' OR emp > 3",
     kClassic},
    {"IsNullAndExists", "SELECT emp FROM exemp010 WHERE name IS NOT NULL AND dept IS NULL "
                        "AND EXISTS (SELECT * FROM exdep010)",
     kClassic},
    {"Subqueries", "SELECT (SELECT MAX(emp) FROM exemp010 HINT ORDERED) FROM exdep010 "
                   "WHERE code = (SELECT dept FROM exemp010 WHERE emp = 1) "
                   "AND code IN (SELECT dept FROM exemp010) AND code NOT IN (SELECT dept FROM exemp010)",
     kClassic},
    {"LikeWithEscape", "SELECT emp FROM exemp010 WHERE name LIKE 'a!%' ESCAPE '!' AND name NOT LIKE :p "
                       "ESCAPE :e AND name LIKE 'b%'",
     kAnsi},
    {"LikeClassic", "SELECT emp FROM exemp010 WHERE name LIKE 'a%' AND name NOT ALIKE :p AND name NOT LIKE :q",
     kClassic},
    {"RefersToWithCompnr", "SELECT e.emp FROM exemp010 e, exdep010 d WHERE e.dept REFERS TO d UNREF CLEAR "
                           "AND e._compnr = 5 AND d._compnr = :c",
     kClassic},
    {"RefersToUnref",
     "SELECT emp FROM exemp010, exdep010 WHERE dept REFERS TO exdep010 UNREF CLEAR AND :x FROM exemp010.dept "
     "REFERS TO exdep010._index1 PATH exemp010.dnul exdep010.code UNREF SKIP AND drst REFERS TO exdep010 "
     "UNREF CLEARUNREF AND dcas REFERS TO exdep010 UNREF SETUNREF AND dnul REFERS TO exdep010",
     kClassic},
    {"CompnrClassic", "SELECT emp, _compnr FROM exemp010 e WHERE e._compnr = :c AND emp = 1",
     kClassic},
    {"Retry", "SELECT emp, name FROM exemp010 ORDER BY emp DESC, 2 ASC WITH RETRY REPEAT LAST ROW",
     kClassic},
    {"RetryStrict", "SELECT emp FROM exemp010 ORDER BY exemp010.emp WITH RETRY", kClassic},
    {"DerivedTable", "SELECT * FROM (SELECT emp, name FROM exemp010 WHERE emp > 1) AS d, exdep010 x "
                     "WHERE d.emp = 2",
     kClassic},
    {"AnsiOuterJoinWithCompnrIn", "SELECT * FROM exemp010 e LEFT OUTER JOIN exdep010 d ON e.dept = d.code "
                                  "AND e.company_nr = d.company_nr WHERE e.company_nr IN (3, 1, 2)",
     kAnsi},
    {"AnsiCompnrInList", "SELECT emp, company_nr FROM exemp010 WHERE company_nr IN (3, 1, 3, 2) AND emp > 0",
     kAnsi},
    {"Joins", "SELECT * FROM (exemp010 a INNER JOIN exdep010 b ON a.dept = b.code) RIGHT JOIN exdep010 c "
              "ON b.code = c.code, exemp010 e JOIN exemp010 f ON e.emp = f.emp",
     kClassic},
    {"GroupByHaving", "SELECT dept, COUNT(*), AVG(salary), MAX(name), MIN(emp), SUM(salary), COUNT(emp) "
                      "FROM exemp010 GROUP BY dept, name HAVING COUNT(*) > 1 AND MIN(emp) < 9",
     kClassic},
    {"HavingWithoutGroup", "SELECT MAX(emp) FROM exemp010 HAVING MIN(emp) > 1", kClassic},
    {"HintedUnion", "SELECT name FROM exemp010 SUBHINT FIRST ROWS AND USE INDEX 1 ON exemp010 ASC "
                    "UNION ALL SELECT name FROM exdep010 UNION ALL SELECT name FROM exemp010 e "
                    "SUBHINT USE INDEX 1, 2 ON e DESC AND NO ARRAY FETCHING "
                    "ORDER BY 1 HINT ALL ROWS AND ARRAY FETCHING AND "
                    "ARRAY SIZE 10 AND BUFFER 20 ROWS AND 'free text' AND ORDERED",
     kClassic},
    {"ForUpdate", "SELECT FOR UPDATE emp FROM exemp010 WHERE emp = 1", kClassic},
    {"FromForUpdate", "SELECT e.emp, d.code FROM exemp010 e FOR UPDATE, exdep010 d", kClassic},
    {"AsPreparedSet", "SELECT emp FROM exemp010 AS PREPARED SET WITH :n ROWS", kClassic},
    {"AsSetRows", "SELECT *, e.*, e.name AS n :target, emp + 1 total FROM exemp010 e AS SET WITH 10 ROWS",
     kClassic},
    {"CombinedColumn",
     "SELECT exemp010.*, ident FROM exemp010 WHERE ident >= {1, 'a'} AND exemp010._index2 > { :1, :2 } OR ( exemp010._index2 = { :1, :2 } "
     "AND exemp010._index1 > {:3 } ) ORDER BY exemp010.dept ASC, exemp010.name ASC, exemp010.emp ASC "
     "AS SET WITH 3 ROWS",
     kClassic},
    {"ImplicitFrom", "SELECT exemp010.emp, exemp010.name(1; 2), exemp010._compnr, exdep010.* "
                     "WHERE exemp010.dept REFERS TO exdep010",
     kFromOptional},
    {"Update", "UPDATE exemp010 SET name = :v, hired = DATE '2001-01-01', salary = -1.5, "
               "status = exstatus.active, photo = x'00ff', flags = EMPTY "
               "WHERE emp = 2 AND _compnr = :c",
     kClassic},
    {"AnsiUpdate", "UPDATE exemp010 SET name = 'y' WHERE company_nr = 2 AND emp IN (1, 2)", kAnsi},
    {"WhereUsed", "SELECT e.emp, d.name, MAX(e.salary) FROM exemp010 e, exdep010 d WHERE e.ident >= {1, 'a'} "
                  "AND e.dept REFERS TO d AND d.status = exstatus.active AND e._compnr = 3 GROUP BY e.emp, d.name",
     kClassic, true},
    {"WhereUsedUpdate", "UPDATE exemp010 SET name = :v WHERE emp = 2 AND _compnr = :c", kClassic, true},
    {"Delete", "DELETE FROM ttaud110 WHERE seqn = 1 AND user LIKE 'a%' AND _compnr = 3", kClassic},
    {"GroupHavingOnAnAlias", "SELECT dept, COUNT(*) :n FROM exemp010 WHERE emp > 0 "
                             "GROUP BY dept HAVING COUNT(*) > 1 AND SUM(salary) > 450",
     kClassic},
    {"LeftOuterJoinWithTwoConditions", "SELECT d.code, e.emp FROM exdep010 d LEFT OUTER JOIN exemp010 e "
                                       "ON e.dept = d.code AND e.salary > 250 ORDER BY d.code",
     kClassic},
    {"UnionAllOrderedByPosition", "SELECT code FROM exdep010 WHERE budget > 15 UNION ALL "
                                  "SELECT dept FROM exemp010 WHERE salary < 250 ORDER BY 1",
     kClassic},
    {"CorrelatedExists", "SELECT d.name FROM exdep010 d WHERE EXISTS "
                         "(SELECT * FROM exemp010 e WHERE e.dept = d.code AND e.salary > 250)",
     kClassic},
};

// With MOLVANE_FAIL_TRACE set, the failing allocation prints its stack,
// which shows where the failure was met (a leak report shows where the
// leaked memory came from).
bool TraceFailures() { return std::getenv("MOLVANE_FAIL_TRACE") != nullptr; }
void PrintFailure() {
#if defined(__SANITIZE_ADDRESS__)
  std::fprintf(stderr, "--- the failing allocation:\n");
  __sanitizer_print_stack_trace();
#endif
}

int FailMal(size_t) {
  if (!AllocationShouldFail()) return 0;
  if (TraceFailures()) PrintFailure();
  return 1;
}

// What a prepare left: the validated tree's trace, the parameters and the
// result columns. Empty when the prepare failed.
struct Outcome {
  int rc = -1;
  std::string diag;  // the first record: "STATE native message"
  std::string description;  // parameters and result columns
  std::string trace;        // of the tree the statement parked
  long allocations = 0;  // counted while the prepare ran
  bool failed = false;   // an injected failure was met
};

// Takes the where-used reports without allocating.
void IgnoreWhereUsed(char const *, int) {}

std::string Describe(SQLStatement &s) {
  std::string out;
  int n = 0;
  if (s.NumParameters(&n) == 0) {
    for (int i = 0; i < n; ++i) {
      char const *name = nullptr;
      SQLType type = SQL_UNDEFINED;
      if (s.GetParameterDesc(i, &name, &type) == 0) {
        out += std::string("param ") + (name ? name : "?") + " " + std::to_string(type) + "\n";
      }
    }
  }
  SQLStmtType type = SQL_STMT_SELECT;
  if (s.GetStatementType(&type) == 0) out += "type " + std::to_string(type) + "\n";
  if (type == SQL_STMT_SELECT && s.NumResultCols(&n) == 0) {
    for (int i = 0; i < n; ++i) {
      SQLColumnDescriptor const *d = nullptr;
      if (s.GetColumnDescriptor(i, &d) == 0) {
        out += "column " + std::to_string(d->GetType()) + " " + std::to_string(d->GetLength()) + "\n";
      }
    }
  }
  return out;
}

std::string FirstRecord(SQLStatement const &s) {
  char state[6] = {};
  long native = 0;
  char message[256] = {};
  if (s.GetDiagRec(1, state, &native, message, sizeof message, nullptr, nullptr) != 0) return "";
  return std::string(state) + " " + std::to_string(native) + " " + message;
}

// Prepares the case with allocation `nth` failing (counted from 0; < 0:
// none), then describes what the statement holds. The statement's data is
// parked in the statement cache when the statement goes, and taken back
// out for the trace of its tree, so that the next prepare parses again.
Outcome PrepareWithFailure(Case const &c, long nth) {
  Outcome o;
  {
    SQLStatement s;
    if (c.whereUsed) s.SetWhereUsedHandler(&IgnoreWhereUsed);
    const int failedBefore = FailedAllocations();
    mal_set_failure_hook(FailMal);
    std::new_handler handler = std::set_new_handler(TraceFailures() ? &PrintFailure : nullptr);
    FailAllocations(nth >= 0 ? static_cast<int>(nth) : 1 << 30, 1);
    const int skipsBefore = PendingSkips();
    o.rc = s.Prepare(c.text, 1, c.mode);
    o.failed = FailedAllocations() != failedBefore;
    o.allocations = skipsBefore - PendingSkips() + (FailedAllocations() - failedBefore);
    StopFailingAllocations();
    std::set_new_handler(handler);
    mal_set_failure_hook(nullptr);
    o.diag = FirstRecord(s);
    if (o.rc == 0) o.description = Describe(s);
  }
  std::unique_ptr<SQLStatementData> data = SQLStatementCache::Lookup(c.text, c.mode);
  if (data != nullptr && data->GetRoot() != nullptr) o.trace = molvane::test::TraceOf(data->GetRoot());
  return o;
}

class ParseAllocationFailure : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    static ScratchDir zuv;
    setenv("ZUV", zuv.path().c_str(), 1);
    setenv("F_ZRDD", FixturePath("zuv/dict").c_str(), 1);
    setenv("TZ", "UTC", 1);
    init_local_dd();
    dbc_settings().qelt_sql_stmt_cache_size = -1;
    dbc_settings().qelt_sql_soft_close_delay = -1;
    SQLStatement::SetParseFunction(nullptr);
    // The parse runs without a logon.
    QPCSetSessionCheck([](unsigned long) { return 0; });
  }
  void TearDown() override { QPCSetSessionCheck(nullptr); }
};

// The allocations to fail of a prepare that makes `count`: every one of the
// first 150, then an even spread of about 150 more.
std::vector<long> Tries(long count) {
  std::vector<long> tries;
  if (char const *only = std::getenv("MOLVANE_FAIL_AT")) {
    tries.push_back(std::atol(only));
    return tries;
  }
  const bool every = std::getenv("MOLVANE_FAIL_EVERY") != nullptr;
  const long step = count / 150 + 1;
  for (long n = 0; n < count; n += every || n < 150 ? 1 : step) tries.push_back(n);
  return tries;
}

// What a try with allocation n failing must have left; TRUE when the
// prepare failed.
bool CheckTry(Outcome const &o, Outcome const &clean, long n) {
  if (o.rc != 0) {
    EXPECT_TRUE(o.failed) << "allocation " << n << ": " << o.diag;
    EXPECT_EQ(o.diag.substr(0, 10), "QP501 501 ") << "allocation " << n;
    // A prepare that failed after the tree was complete (joining the
    // statement pool) may have parked it for the next prepare: whole.
    if (!o.trace.empty()) {
      EXPECT_EQ(o.trace, clean.trace) << "allocation " << n;
    }
    return true;
  }
  EXPECT_EQ(o.description, clean.description) << "allocation " << n;
  EXPECT_EQ(o.trace, clean.trace) << "allocation " << n;
  return false;
}

TEST_P(ParseAllocationFailure, EachAllocationFailsCleanlyAndLeaksNothing) {
  Case const &c = GetParam();
  // The first prepare of the process fills the dictionary's and the
  // library's lasting state; the second is the reference.
  PrepareWithFailure(c, -1);
  ASSERT_FALSE(MOLVANE_LEAK_CHECK()) << "a clean prepare leaks";
  const Outcome clean = PrepareWithFailure(c, -1);
  ASSERT_EQ(clean.rc, 0) << clean.diag;
  ASSERT_NE(clean.trace, "");
  ASSERT_GT(clean.allocations, 10);

  const std::vector<long> tries = Tries(clean.allocations);
  int reported = 0;
  for (long n : tries) {
    const Outcome o = PrepareWithFailure(c, n);
    // A leak stays unreachable, and every later check would show it again.
    ASSERT_FALSE(MOLVANE_LEAK_CHECK()) << "allocation " << n << " of " << clean.allocations << " leaks";
    reported += CheckTry(o, clean, n);
  }
  if (tries.size() > 1) {
    EXPECT_GT(reported, 0) << "no failure reached the caller";
  }
  std::printf("%s: %ld allocations, %zu tried\n", c.name, clean.allocations, tries.size());
}

// The first prepare of a process also loads the tables' schemas and makes
// the statement pool and cache: each try runs in a child process forked
// before any prepare, which checks its heap and reports its outcome through
// a pipe.
Outcome PrepareInFreshProcess(Case const &c, long nth, bool *leaked) {
  int fds[2];
  if (pipe(fds) != 0) {
    ADD_FAILURE() << "no pipe";
    return Outcome();
  }
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const Outcome o = PrepareWithFailure(c, nth);
    std::string out = std::to_string(o.rc) + " " + std::to_string(o.failed) + " " + std::to_string(o.allocations) +
                      " " + std::to_string(MOLVANE_LEAK_CHECK()) + "\n" + o.diag + "\n" + o.description + "\f" +
                      o.trace;
    for (std::size_t at = 0; at < out.size();) {
      const ssize_t n = write(fds[1], out.data() + at, out.size() - at);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string in;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) in.append(buffer, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "allocation " << nth << ": the child died";
  Outcome o;
  std::istringstream header(in);
  int leak = 0;
  header >> o.rc >> o.failed >> o.allocations >> leak;
  *leaked = leak != 0;
  const std::size_t diag = in.find('\n');
  const std::size_t description = in.find('\n', diag + 1);
  const std::size_t trace = in.find('\f', description + 1);
  if (diag == std::string::npos || description == std::string::npos || trace == std::string::npos) {
    ADD_FAILURE() << "allocation " << nth << ": no outcome from the child";
    return o;
  }
  o.diag = in.substr(diag + 1, description - diag - 1);
  o.description = in.substr(description + 1, trace - description - 1);
  o.trace = in.substr(trace + 1);
  return o;
}

class FirstParseAllocationFailure : public ParseAllocationFailure {};

TEST_P(FirstParseAllocationFailure, EachAllocationFailsCleanlyAndLeaksNothing) {
  Case const &c = GetParam();
  bool leaked = false;
  const Outcome clean = PrepareInFreshProcess(c, -1, &leaked);
  ASSERT_FALSE(leaked) << "a clean prepare leaks";
  ASSERT_EQ(clean.rc, 0) << clean.diag;
  ASSERT_NE(clean.trace, "");
  const std::vector<long> tries = Tries(clean.allocations);
  int reported = 0;
  for (long n : tries) {
    const Outcome o = PrepareInFreshProcess(c, n, &leaked);
    EXPECT_FALSE(leaked) << "allocation " << n << " of " << clean.allocations << " leaks";
    reported += CheckTry(o, clean, n);
  }
  if (tries.size() > 1) {
    EXPECT_GT(reported, 0) << "no failure reached the caller";
  }
  std::printf("%s: %ld allocations, %zu tried\n", c.name, clean.allocations, tries.size());
}

// A join of both tables over a combined column and a REFERS TO, an UPDATE
// and a correlated EXISTS: their first prepare loads two schemas and the
// enumerations.
const Case kFirstCases[] = {
    {"JoinWithCombinedColumn", "SELECT e.emp, d.name FROM exemp010 e, exdep010 d WHERE e.ident >= {1, 'a'} "
                               "AND e.dept = d.code AND d.status = exstatus.active ORDER BY e.emp",
     kClassic},
    {"Update", "UPDATE exemp010 SET name = :v, status = exstatus.active WHERE emp = 2 AND _compnr = :c",
     kClassic},
    {"CorrelatedExists", "SELECT d.name FROM exdep010 d WHERE EXISTS "
                         "(SELECT * FROM exemp010 e WHERE e.dept = d.code AND e.salary > 250)",
     kClassic},
};

// Statements that a prepare refuses, each after it has built part of its
// tree: in the grammar's actions, in the query builder, in name resolution
// and in validation.
const Case kErrorCases[] = {
    {"LateSyntaxError", "SELECT emp, name FROM exemp010 WHERE emp IN (1, 2) AND name LIKE 'a%' ORDER BY", kClassic},
    {"UnknownTable", "SELECT e.emp FROM exemp010 e, exdep010 d, nosuch n WHERE e.dept = d.code", kClassic},
    {"UnknownColumn", "SELECT e.emp, d.name FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND d.nosuch = 1",
     kClassic},
    {"RefersInUpdate", "UPDATE exemp010 SET name = 'x' WHERE emp = 1 AND dept REFERS TO exdep010", kClassic},
    {"TwoCompnrInLists", "SELECT emp FROM exemp010 WHERE company_nr IN (1, 2) AND company_nr IN (3)", kAnsi},
    {"ForUpdateGrouped", "SELECT FOR UPDATE dept, COUNT(*) FROM exemp010 GROUP BY dept", kClassic},
    {"CombinedInExpression", "SELECT emp, ident + 1 FROM exemp010 WHERE name = 'a'", kClassic},
    {"TypeConflict", "SELECT emp, name & 1 FROM exemp010 WHERE emp BETWEEN 1 AND 5", kClassic},
    {"UnionTypes", "SELECT emp FROM exemp010 UNION ALL SELECT name FROM exdep010", kClassic},
};

class RefusedParseAllocationFailure : public ParseAllocationFailure {};

// A refused statement keeps its error, or gives QP501, whichever
// allocation fails, and leaves nothing behind.
TEST_P(RefusedParseAllocationFailure, EachAllocationFailsCleanlyAndLeaksNothing) {
  Case const &c = GetParam();
  PrepareWithFailure(c, -1);
  ASSERT_FALSE(MOLVANE_LEAK_CHECK()) << "a refused prepare leaks";
  const Outcome clean = PrepareWithFailure(c, -1);
  ASSERT_NE(clean.rc, 0);
  ASSERT_NE(clean.diag.substr(0, 5), "QP501");
  ASSERT_GT(clean.allocations, 10);
  const std::vector<long> tries = Tries(clean.allocations);
  int reported = 0;
  for (long n : tries) {
    const Outcome o = PrepareWithFailure(c, n);
    ASSERT_FALSE(MOLVANE_LEAK_CHECK()) << "allocation " << n << " of " << clean.allocations << " leaks";
    EXPECT_NE(o.rc, 0) << "allocation " << n;
    EXPECT_EQ(o.trace, "") << "allocation " << n;
    if (o.diag.substr(0, 10) == "QP501 501 ") {
      ++reported;
    } else if (o.diag != clean.diag) {
      // The error's record could not be allocated: the diagnostics area's
      // spare record holds its state and number, without the text.
      EXPECT_EQ(o.diag, clean.diag.substr(0, clean.diag.find(' ', 6) + 1)) << "allocation " << n;
    }
  }
  if (tries.size() > 1) {
    EXPECT_GT(reported, 0) << "no failure reached the caller";
  }
  std::printf("%s: %ld allocations, %zu tried (%s)\n", c.name, clean.allocations, tries.size(), clean.diag.c_str());
}

// sql_parse over the same prepare: a handle whose statement meets the
// failure is destroyed and the call returns null with 501 in zdb_errno.
const Case kApiCases[] = {
    {"Join", "SELECT e.emp, d.name, e.salary FROM exemp010 e, exdep010 d "
             "WHERE e.dept = d.code AND e.salary > :low ORDER BY e.emp",
     kClassic},
    {"SetRead", "SELECT exemp010.* FROM exemp010 WHERE exemp010._index2 > { :1, :2 } ORDER BY exemp010.dept ASC "
                "AS SET WITH 3 ROWS",
     kClassic},
    {"AnsiLike", "SELECT emp, name FROM exemp010 WHERE name LIKE 'a!%' ESCAPE '!' AND company_nr IN (1, 2)", kAnsi},
    {"Update", "UPDATE exemp010 SET name = :v, status = exstatus.active WHERE emp = 2 AND _compnr = :c", kClassic},
    {"Delete", "DELETE FROM ttaud110 WHERE seqn = :s", kClassic},
    {"LeftOuterJoin", "SELECT d.code, e.emp FROM exdep010 d LEFT OUTER JOIN exemp010 e "
                      "ON e.dept = d.code AND e.salary > 250 ORDER BY d.code",
     kClassic},
    {"CorrelatedExists", "SELECT d.name FROM exdep010 d WHERE EXISTS "
                         "(SELECT * FROM exemp010 e WHERE e.dept = d.code AND e.salary > 250)",
     kClassic},
};

// The handle's description: parameters and select items.
std::string DescribeHandle(QPCStatement *h) {
  std::string out;
  for (int i = 0; i < sql_get_num_parameters(h); ++i) {
    char const *name = nullptr;
    if (sql_get_parameter_name(h, i, &name) == 0) out += std::string("param ") + (name ? name : "?") + "\n";
  }
  for (int i = 0; i < sql_get_num_resultcols(h); ++i) {
    char const *name = nullptr;
    int derived = 0;
    if (sql_get_select_target(h, i, &name, &derived) == 0) out += std::string("item ") + (name ? name : "?") + "\n";
  }
  return out;
}

Outcome ParseWithFailure(Case const &c, long nth) {
  Outcome o;
  const int flags = SQL_PARSE_NO_ERROR_CALLBACK | ((c.mode & 0x10) != 0 ? SQL_PARSE_ANSI : 0);
  const int failedBefore = FailedAllocations();
  mal_set_failure_hook(FailMal);
  FailAllocations(nth >= 0 ? static_cast<int>(nth) : 1 << 30, 1);
  const int skipsBefore = PendingSkips();
  QPCStatement *h = sql_parse(c.text, 1, flags);
  const int error = zdb_errno;
  o.failed = FailedAllocations() != failedBefore;
  o.allocations = skipsBefore - PendingSkips() + (FailedAllocations() - failedBefore);
  StopFailingAllocations();
  mal_set_failure_hook(nullptr);
  o.rc = h != nullptr ? 0 : -1;
  o.diag = std::to_string(error);
  if (h != nullptr) {
    o.description = DescribeHandle(h);
    EXPECT_EQ(sql_close(h), 0);
  }
  std::unique_ptr<SQLStatementData> data = SQLStatementCache::Lookup(c.text, c.mode);
  if (data != nullptr && data->GetRoot() != nullptr) o.trace = molvane::test::TraceOf(data->GetRoot());
  return o;
}

class ApiParseAllocationFailure : public ParseAllocationFailure {};

TEST_P(ApiParseAllocationFailure, EachAllocationFailsWith501AndLeaksNothing) {
  Case const &c = GetParam();
  ParseWithFailure(c, -1);
  ASSERT_FALSE(MOLVANE_LEAK_CHECK()) << "a clean parse leaks";
  const Outcome clean = ParseWithFailure(c, -1);
  ASSERT_EQ(clean.rc, 0) << "zdb_errno " << clean.diag;
  ASSERT_NE(clean.trace, "");
  const std::vector<long> tries = Tries(clean.allocations);
  int reported = 0;
  for (long n : tries) {
    const Outcome o = ParseWithFailure(c, n);
    ASSERT_FALSE(MOLVANE_LEAK_CHECK()) << "allocation " << n << " of " << clean.allocations << " leaks";
    if (o.rc != 0) {
      EXPECT_TRUE(o.failed) << "allocation " << n;
      EXPECT_EQ(o.diag, "501") << "allocation " << n;
      ++reported;
      continue;
    }
    EXPECT_EQ(o.description, clean.description) << "allocation " << n;
    EXPECT_EQ(o.trace, clean.trace) << "allocation " << n;
  }
  if (tries.size() > 1) {
    EXPECT_GT(reported, 0) << "no failure reached the caller";
  }
  std::printf("%s: %ld allocations, %zu tried\n", c.name, clean.allocations, tries.size());
}

std::string CaseName(testing::TestParamInfo<Case> const &info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Statements, ParseAllocationFailure, testing::ValuesIn(kCases), CaseName);
INSTANTIATE_TEST_SUITE_P(Statements, FirstParseAllocationFailure, testing::ValuesIn(kFirstCases), CaseName);
INSTANTIATE_TEST_SUITE_P(Statements, RefusedParseAllocationFailure, testing::ValuesIn(kErrorCases), CaseName);
INSTANTIATE_TEST_SUITE_P(Statements, ApiParseAllocationFailure, testing::ValuesIn(kApiCases), CaseName);

}  // namespace
