// Queries through the classic SQL API against the reference driver as a
// child process, each beside sqlite3 running the same query on the
// driver's own database file in the same iteration: a keyed equality, the
// join of employees and departments on dept = code, a full scan at the
// default rows per fetch and at 1,000 rows per fetch, an ORDER BY a column
// without an index, a GROUP BY counting and one summing, and a three-table
// outer join. Joins that run in the library (a RIGHT join over a FULL join
// under an IN subquery, a FULL join over a LEFT join grouped, and a UNION ALL
// of three branches, two of them outer joins) multiply rows on a status of
// three values: they run only on small tables (MOLVANE_BENCH_ROWS=400
// MOLVANE_BENCH_DEPARTMENTS=32), and so do outer joins that a WHERE makes
// inner (two RIGHT joins in a row, a FULL join under a RIGHT join) and a
// correlated IN whose subquery holds a term of outer columns. `ratio` is
// the API's time over its anchor's. The departments of company 2 (the same
// rows) sit on a second driver: the statements over both drivers (a held
// subquery under a join here, a one-table condition before a join, a
// condition on the last table of a FULL-then-INNER join, a correlated
// subquery over the other driver, two RIGHT joins in a row, a RIGHT join
// under an INNER join with the departments, a LEFT self-join under an
// INNER join with them, and a correlated NOT EXISTS over them beside a
// join side that no row meets) read them there, and their anchors read
// that driver's file attached as "two"; they too run only on the small
// tables, but for the last one, a false comparison of a scalar subquery
// over them under a self-join, and an INNER join (plain or grouped) of the
// employees with those departments. Two RIGHT joins in a row that a WHERE
// makes inner also run in the ANSI mode. ON clauses: a condition on one
// table that no row meets beside a dear NOT EXISTS of the WHERE (in an
// INNER join: an equality at every size, a BETWEEN and an IS NULL on the
// small tables; as a LEFT join's constant FALSE under an INNER join), and a
// false IN of a constant before a sorted self-join, run at every size; a
// self-join whose ON holds a COUNT over the other driver (correlated with
// both sides, or not) on the small tables. The full scans also report the
// driver's peak resident memory during the scan (`driver_peak_mb`).
// `cpu_ratio` sets the CPU time of the host and all its drivers together
// against the anchor's, a figure that the machine's other load moves less than `ratio`.
// `median_ratio` sets the median time of one query against the anchor's
// median: beside busy processes the host and its driver, taking turns on a
// processor, mostly answer at once and now and then wait milliseconds
// while the others get their share of that processor back; `ratio` counts
// those waits, `median_ratio` what a query mostly takes.
//
// The employees table holds 100,000 rows and the departments table 1,000;
// MOLVANE_BENCH_ROWS=1000000 and MOLVANE_BENCH_DEPARTMENTS (or any counts)
// set other sizes. MOLVANE_BENCH_BUSY=N runs N processes that keep a
// processor busy beside the benchmark for the whole run (e.g. twice as many
// as the machine has processors), as on a loaded server.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <molvane/platform.h>
#include <molvane/sql.h>
#include <molvane/zdb.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_refs.h>

#include "dbc/actions/action_codes.h"
#include "dbc/dict/dd.h"
#include "dbc/request/rds.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/session/zdb_trans.h"
#include "sql/common/row_field.h"
#include "sql/common/value_store.h"
#include "sqlite/sqlite_functions.h"
#include "bench_env.h"

namespace {


const molvane::bench::BusyProcesses busy;

char *Variable(char *name, unsigned char *, char **, int *const, unsigned long) { return name; }
void Put(char *, unsigned char *data, unsigned char, int, int *) { benchmark::DoNotOptimize(data); }
std::string g_last_error;  // the API's last error text
int Quiet(int, char *text) {
  g_last_error = text != nullptr ? text : "";
  return 0;
}

// Departments: 1,000, or MOLVANE_BENCH_DEPARTMENTS.
int DepartmentCount() {
  const char *n = std::getenv("MOLVANE_BENCH_DEPARTMENTS");
  return n != nullptr && std::atoi(n) > 0 ? std::atoi(n) : 1000;
}

int RowCount() {
  const char *n = std::getenv("MOLVANE_BENCH_ROWS");
  return n != nullptr && std::atoi(n) > 0 ? std::atoi(n) : 100000;
}

// A logged-on client on a fresh root whose driver file holds the employees
// and departments of company 1, and a read-only SQLite connection to it.
struct Client {
  std::string root;
  int trans = 0;
  int rows = RowCount();
  int departments = DepartmentCount();
  sqlite3 *anchor = nullptr;

  Client() {
    root = molvane::bench::MakeRoot(molvane::bench::ChildDriver() + "msqlite2 child " +
                                    molvane::bench::DriverProgram() + " ${ZUV}/two.db\n");
    molvane::bench::WriteFile(root + "/lib/tabledef1", "exdep010:2:msqlite2\n*::msqlite\n");
    set_zuv(root.c_str());
    zdb_init_api("sql_driver_query_bench", nullptr, 0, 0);
    zdb_logon("bench");
    zdb_disable_references();
    trans = zdb_start_session("bench");
    sql_init_func(SQL_FUNC_ERROR, reinterpret_cast<sql_func>(Quiet));
    sql_init_func(SQL_FUNC_CRT_EXTVAR, reinterpret_cast<sql_func>(Variable));
    sql_init_func(SQL_FUNC_PUT_EXTVAR, reinterpret_cast<sql_func>(Put));
    for (int compnr : {1, 2}) {
      Fill("exdep010", departments, [](int i, auto set) {
        set("code", Text(Code(i)));
        set("name", Text("Department " + std::to_string(i)));
        SQLValueStore v;
        v.SetInteger(1 + i % 3);
        set("status", v);
      }, compnr);
    }
    int const n = departments;
    Fill("exemp010", rows, [n](int i, auto set) {
      SQLValueStore v;
      v.SetInteger(i);
      set("emp", v);
      set("name", Text("name " + std::to_string(i * 7919 % 100003)));
      set("dept", Text(Code(i % n)));
      set("dcas", Text(Code(i % (2 * n))));  // half of them name no department
      if (i % 3 != 0) set("dnul", Text(Code(i % 7)));
      v.SetReal((i * 37 % 10007) * 1.5);
      set("salary", v);
      v.SetInteger(1 + i % 3);
      set("status", v);
      v.SetInteger(i % 3);
      set("flags", v);
      v.SetInteger(738000 + i % 1000);
      set("hired", v);
    });
    sqlite3_open_v2((root + "/bench.db").c_str(), &anchor, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                    nullptr);
    molvane::driver::InstallTssCollation(anchor);
    sqlite3_exec(anchor, ("ATTACH DATABASE '" + root + "/two.db' AS two").c_str(), nullptr, nullptr, nullptr);
  }
  ~Client() {
    sqlite3_close(anchor);
    zdb_logoff();
    std::filesystem::remove_all(root);
  }
  static std::string Code(int i) {
    char code[16];
    std::snprintf(code, sizeof code, "D%04d", i);
    return code;
  }
  static SQLValueStore Text(const std::string &s) {
    SQLValueStore v;
    v.SetString(s.c_str());
    return v;
  }
  // Inserts n default rows of the table in the company, each changed by
  // make(i, set), and commits them.
  template <typename Make>
  void Fill(const char *name, int n, Make make, int compnr = 1) {
    molvane::bench::FillTable(trans, name, n, [&](int i, DD_TABLE *table, std::vector<unsigned char> &image) {
      fill_default_row(table, image.data());
      make(i, [&](const char *column, const SQLValueStore &v) {
        DD_COLUMN *c = ddcolumn((std::string(name) + "." + column).c_str());
        const unsigned char *out = nullptr;
        int length = 0;
        copyValueStoreToRowBuffer(c->type, c->length, 1, &v, 0, ' ', &out, &length);
        std::memcpy(image.data() + c->offset, out, static_cast<std::size_t>(length));
      });
    }, compnr);
  }
};

Client &client() {
  static Client c;
  return c;
}

// The driver child processes of the run, the first started (company 1's
// tables) first; empty when none is found.
std::vector<pid_t> DriverPids() {
  std::vector<pid_t> found;
  for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string pid, comm, state;
    long ppid = 0;
    if (stat >> pid >> comm >> state >> ppid && ppid == getpid() && comm == "(molvane-driver)")
      found.push_back(static_cast<pid_t>(std::atol(pid.c_str())));
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Resets the peak resident size the kernel keeps for the process.
void ResetPeak(pid_t pid) {
  std::ofstream(std::string("/proc/") + std::to_string(pid) + "/clear_refs") << "5";
}

// The process's peak resident size in MB.
double PeakMb(pid_t pid) {
  std::ifstream status(std::string("/proc/") + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0;
}

// The time a process has spent on a CPU, in seconds (0 when unknown).
double ProcessCpu(pid_t pid) {
  std::ifstream schedstat(std::string("/proc/") + std::to_string(pid) + "/schedstat");
  double ns = 0;
  return schedstat >> ns ? ns / 1e9 : 0;
}

// The time the processes have spent on a CPU together, in seconds.
double ProcessesCpu(const std::vector<pid_t> &pids) {
  double total = 0;
  for (pid_t pid : pids) total += ProcessCpu(pid);
  return total;
}

// The calling thread's CPU time in seconds.
double ThreadCpu() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The middle one of `times`, which it reorders.
double Median(std::vector<float> &times) {
  auto middle = times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2);
  std::nth_element(times.begin(), middle, times.end());
  return *middle;
}

// Runs the statement through the API (rows per fetch set when given) and
// the anchor's SQL on the driver's file, both to their last row.
void RunQuery(benchmark::State &state, const char *molvane, const char *anchor_sql, int per_fetch = 0,
              bool memory = false, int most_rows = 0, int parse_flags = 0) {
  Client &c = client();
  if (most_rows > 0 && c.rows > most_rows) {
    state.SkipWithError("too many rows for this statement: run it with MOLVANE_BENCH_ROWS=400");
    return;
  }
  QPCStatement *h = sql_parse(molvane, static_cast<unsigned long>(c.trans), parse_flags);
  sqlite3_stmt *anchor = nullptr;
  sqlite3_prepare_v2(c.anchor, anchor_sql, -1, &anchor, nullptr);
  if (h == nullptr || anchor == nullptr || (per_fetch > 0 && sql_set_rds_full(h, per_fetch) != 0)) {
    std::string why = h == nullptr ? "the statement does not prepare: " + g_last_error
                      : anchor == nullptr ? std::string("the anchor does not prepare: ") + sqlite3_errmsg(c.anchor)
                                          : std::string("the rows per fetch are refused");
    state.SkipWithError(why.c_str());
    sqlite3_finalize(anchor);
    if (h != nullptr) sql_close(h);
    return;
  }
  // Every driver of the run works for the API's part; the first one's
  // memory is the one measured.
  std::vector<pid_t> const drivers = DriverPids();
  pid_t const driver = drivers.empty() ? 0 : drivers.front();
  if (driver != 0 && memory) ResetPeak(driver);
  double own = 0, base = 0, own_cpu = 0, base_cpu = 0;
  double const driver_cpu = ProcessesCpu(drivers);
  long rows = 0, anchor_rows = 0, iteration = 0, sampled = 0;
  std::vector<float> own_times, base_times;  // of each iteration, for the medians
  for (auto _ : state) {
    // The thread's CPU time is a system call that, on a busy machine, costs
    // the loop its share of a processor: it is read around both sides of
    // every iteration at first, then of every 16th only. Each side's clock
    // runs between the readings, as the anchor's does.
    const bool sample = iteration < 64 || iteration % 16 == 0;
    ++iteration;
    double cpu = sample ? ThreadCpu() : 0;
    auto start = std::chrono::steady_clock::now();
    if (sql_exec(h, 1) != 0) {
      state.SkipWithError("sql_exec failed");
      break;
    }
    while (sql_fetch(h) == 0) ++rows;
    const double own_time = Seconds(start);
    own += own_time;
    own_times.push_back(static_cast<float>(own_time));
    double read = sample ? ThreadCpu() : 0;
    start = std::chrono::steady_clock::now();
    sqlite3_reset(anchor);
    while (sqlite3_step(anchor) == SQLITE_ROW) {
      molvane::bench::TakeColumnValues(anchor);  // as a host would
      ++anchor_rows;
    }
    const double base_time = Seconds(start);
    base += base_time;
    base_times.push_back(static_cast<float>(base_time));
    if (!sample) continue;
    own_cpu += read - cpu;
    base_cpu += ThreadCpu() - read;
    ++sampled;
  }
  // Per iteration: the host's sampled part, and the drivers, which work
  // only for the API's part of each iteration.
  own_cpu /= static_cast<double>(std::max(sampled, 1L));
  base_cpu /= static_cast<double>(std::max(sampled, 1L));
  if (driver != 0) own_cpu += (ProcessesCpu(drivers) - driver_cpu) / static_cast<double>(std::max(iteration, 1L));
  if (rows != anchor_rows) {
    std::string const why = "the API and SQLite gave different row counts: " + std::to_string(rows) + " and " +
                            std::to_string(anchor_rows);
    state.SkipWithError(why.c_str());
  }
  state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
  state.counters["anchor_ms"] = 1e3 * base / static_cast<double>(state.iterations());
  state.counters["ratio"] = own / base;
  if (!own_times.empty()) state.counters["median_ratio"] = Median(own_times) / Median(base_times);
  // CPU time of the host and the driver together over the anchor's: what the
  // query costs whatever else the machine runs meanwhile.
  if (driver != 0) state.counters["cpu_ratio"] = own_cpu / base_cpu;
  if (driver != 0 && memory) state.counters["driver_peak_mb"] = PeakMb(driver);
  sqlite3_finalize(anchor);
  sql_close(h);
}

void BM_KeyedEquality(benchmark::State &state) {
  RunQuery(state, "SELECT emp, name FROM exemp010 WHERE emp = 5000",
           "SELECT emp, name FROM exemp010001 WHERE emp = 5000");
}
BENCHMARK(BM_KeyedEquality)->Unit(benchmark::kMillisecond);

void BM_JoinOnDepartment(benchmark::State &state) {
  RunQuery(state, "SELECT e.emp, d.name FROM exemp010 e, exdep010 d WHERE e.dept = d.code",
           "SELECT e.emp, d.name FROM exemp010001 e JOIN exdep010001 d ON e.dept = d.code", 1000);
}
BENCHMARK(BM_JoinOnDepartment)->Unit(benchmark::kMillisecond);

void BM_FullScanDefaultFetch(benchmark::State &state) {
  RunQuery(state, "SELECT emp, name, salary FROM exemp010", "SELECT emp, name, salary FROM exemp010001", 0,
           true);
}
BENCHMARK(BM_FullScanDefaultFetch)->Unit(benchmark::kMillisecond);

void BM_FullScan1000PerFetch(benchmark::State &state) {
  RunQuery(state, "SELECT emp, name, salary FROM exemp010", "SELECT emp, name, salary FROM exemp010001", 1000,
           true);
}
BENCHMARK(BM_FullScan1000PerFetch)->Unit(benchmark::kMillisecond);

void BM_OrderByUnindexed(benchmark::State &state) {
  RunQuery(state, "SELECT emp, name, salary FROM exemp010 ORDER BY salary",
           "SELECT emp, name, salary FROM exemp010001 ORDER BY salary", 1000, true);
}
BENCHMARK(BM_OrderByUnindexed)->Unit(benchmark::kMillisecond);

// The form of a question that SQLite answers fastest on the driver's file:
// each form (those that do not prepare left out) run to its end three
// times, alternately, and the one of the least total time kept; its
// position in `forms` goes to *chosen. A form more than twice as slow as
// the fastest in the first round is not run again: at a million rows a
// walk of an index that does not hold the query takes seconds a round.
std::string FastestForm(const std::vector<std::string> &forms, int *chosen) {
  std::vector<sqlite3_stmt *> stmts(forms.size(), nullptr);
  std::vector<double> times(forms.size(), 0);
  for (std::size_t i = 0; i < forms.size(); ++i)
    sqlite3_prepare_v2(client().anchor, forms[i].c_str(), -1, &stmts[i], nullptr);
  for (int round = 0; round < 3; ++round) {
    double fastest = 0;
    for (std::size_t i = 0; i < forms.size(); ++i) {
      if (stmts[i] == nullptr) continue;
      auto start = std::chrono::steady_clock::now();
      while (sqlite3_step(stmts[i]) == SQLITE_ROW) benchmark::DoNotOptimize(sqlite3_column_double(stmts[i], 1));
      sqlite3_reset(stmts[i]);
      times[i] += Seconds(start);
      if (fastest == 0 || times[i] < fastest) fastest = times[i];
    }
    for (std::size_t i = 0; round == 0 && i < forms.size(); ++i)
      if (stmts[i] != nullptr && times[i] > 2 * fastest) {
        sqlite3_finalize(stmts[i]);
        stmts[i] = nullptr;
      }
  }
  std::size_t best = forms.size();
  for (std::size_t i = 0; i < forms.size(); ++i) {
    if (stmts[i] != nullptr && (best == forms.size() || times[i] < times[best])) best = i;
    sqlite3_finalize(stmts[i]);
  }
  if (best == forms.size()) best = 0;
  *chosen = static_cast<int>(best);
  return forms[best];
}

// The anchor's forms of a grouping by department, whose fastest is kept:
// SQLite's own plan, and the department's key index walked in its collated
// order (the index a user's own grouping by the key would walk).
void BM_GroupBy(benchmark::State &state) {
  static int form = 0;
  static const std::string anchor =
      FastestForm({"SELECT dept, count(*) FROM exemp010001 GROUP BY dept",
                   "SELECT dept, count(*) FROM exemp010001 GROUP BY CAST(dept AS TEXT) COLLATE mvtss1"},
                  &form);
  RunQuery(state, "SELECT dept, COUNT(*) :n FROM exemp010 GROUP BY dept", anchor.c_str(), 1000);
  state.counters["anchor_form"] = form;
}
BENCHMARK(BM_GroupBy)->Unit(benchmark::kMillisecond);

// SUM of salary per department. The anchor is the fastest of SQLite's own
// plan, the table scanned and sorted (NOT INDEXED), and the department's
// key index walked (INDEXED BY, in byte or in collated order, where the
// index serves the grouping).
void BM_GroupBySum(benchmark::State &state) {
  static int form = 0;
  static const std::string anchor = FastestForm(
      {"SELECT dept, sum(salary) FROM exemp010001 GROUP BY dept",
       "SELECT dept, sum(salary) FROM exemp010001 NOT INDEXED GROUP BY dept",
       "SELECT dept, sum(salary) FROM exemp010001 INDEXED BY exemp010001_i2 GROUP BY dept",
       "SELECT dept, sum(salary) FROM exemp010001 INDEXED BY exemp010001_i2 "
       "GROUP BY CAST(dept AS TEXT) COLLATE mvtss1"},
      &form);
  RunQuery(state, "SELECT dept, SUM(salary) :s FROM exemp010 GROUP BY dept", anchor.c_str(), 1000);
  state.counters["anchor_form"] = form;
}
BENCHMARK(BM_GroupBySum)->Unit(benchmark::kMillisecond);

void BM_ThreeTableOuterJoin(benchmark::State &state) {
  RunQuery(state,
           "SELECT e.emp, d.name, c.name FROM exemp010 e LEFT OUTER JOIN exdep010 d ON e.dept = d.code "
           "LEFT OUTER JOIN exdep010 c ON e.dcas = c.code",
           "SELECT e.emp, d.name, c.name FROM exemp010001 e LEFT JOIN exdep010001 d ON e.dept = d.code "
           "LEFT JOIN exdep010001 c ON e.dcas = c.code",
           1000);
}
BENCHMARK(BM_ThreeTableOuterJoin)->Unit(benchmark::kMillisecond);

// A RIGHT join whose inner side is a FULL join, under an IN subquery, with
// a correlated scalar subquery in the select list.
void BM_RightJoinOverFullJoin(benchmark::State &state) {
  RunQuery(state,
           "SELECT (SELECT MIN(d4.code) FROM exdep010 d4 WHERE (d4.status = e2.status AND "
           "(d4.code & d4.name) != ('Gus' & d4.code))) :c1, e3.hired "
           "FROM ((exdep010 d1 FULL OUTER JOIN exemp010 e2 ON d1.code = e2.dcas) "
           "RIGHT JOIN exemp010 e3 ON e2.status = e3.status) "
           "WHERE (e2.status / 2) IN (SELECT e5.salary FROM exemp010 e5) AND e3._compnr = 1 ORDER BY 1 ASC, 2 ASC",
           "SELECT (SELECT MIN(d4.code) FROM exdep010001 d4 WHERE d4.status = e2.status AND "
           "(d4.code || d4.name) != ('Gus' || d4.code)) AS c1, e3.hired "
           "FROM (exdep010001 d1 FULL JOIN exemp010001 e2 ON d1.code = e2.dcas) "
           "RIGHT JOIN exemp010001 e3 ON e2.status = e3.status "
           "WHERE (e2.status / 2.0) IN (SELECT e5.salary FROM exemp010001 e5) ORDER BY 1, 2",
           1000, false, 2000);
}
BENCHMARK(BM_RightJoinOverFullJoin)->Unit(benchmark::kMillisecond);

// A FULL join over a LEFT self-join, filtered by an IN subquery and grouped.
void BM_FullJoinOverLeftJoinGrouped(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, MIN(e3.dnul) :c2, COUNT(*) :c3 FROM ((exemp010 e1 LEFT OUTER JOIN exemp010 e2 "
           "ON e1.name = e2.name) FULL JOIN exemp010 e3 ON e1.status = e3.status) "
           "WHERE (e2.dept IN (SELECT e4.dcas FROM exemp010 e4) AND e2.flags <> 2) GROUP BY e1.emp "
           "ORDER BY 3 DESC, e1.emp DESC, 2 ASC",
           "SELECT e1.emp, MIN(e3.dnul), COUNT(*) FROM (exemp010001 e1 LEFT JOIN exemp010001 e2 "
           "ON e1.name = e2.name) FULL JOIN exemp010001 e3 ON e1.status = e3.status "
           "WHERE e2.dept IN (SELECT e4.dcas FROM exemp010001 e4) AND e2.flags <> 2 GROUP BY e1.emp "
           "ORDER BY 3 DESC, 1 DESC, 2",
           1000, false, 2000);
}
BENCHMARK(BM_FullJoinOverLeftJoinGrouped)->Unit(benchmark::kMillisecond);

// Three branches: an outer join over a FULL join under an IN subquery, a
// RIGHT join, and a plain scan.
void BM_UnionAllOfOuterJoins(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, d1.name FROM ((exemp010 e1 FULL JOIN exdep010 d1 ON e1.dept = d1.code) "
           "LEFT JOIN exemp010 e2 ON e2.emp = e1.emp) WHERE e1.status IN (SELECT d5.status FROM exdep010 d5) "
           "UNION ALL SELECT e3.emp, d3.name FROM (exdep010 d3 RIGHT JOIN exemp010 e3 ON e3.dcas = d3.code) "
           "UNION ALL SELECT e4.emp, e4.name FROM exemp010 e4",
           "SELECT e1.emp, d1.name FROM (exemp010001 e1 FULL JOIN exdep010001 d1 ON e1.dept = d1.code) "
           "LEFT JOIN exemp010001 e2 ON e2.emp = e1.emp WHERE e1.status IN (SELECT d5.status FROM exdep010001 d5) "
           "UNION ALL SELECT e3.emp, d3.name FROM exemp010001 e3 LEFT JOIN exdep010001 d3 ON e3.dcas = d3.code "
           "UNION ALL SELECT e4.emp, e4.name FROM exemp010001 e4",
           1000, false, 2000);
}
BENCHMARK(BM_UnionAllOfOuterJoins)->Unit(benchmark::kMillisecond);

// ---- generated statements whose outer joins a WHERE makes inner, and a
// join that a condition of two of its tables should form first ----

// Two RIGHT joins in a row whose WHERE rejects the NULL rows of both left
// tables: two INNER joins.
void BM_RightChainMadeInnerByWhere(benchmark::State &state) {
  RunQuery(state,
           "SELECT e3.dept, e4.emp FROM ((exemp010 e1 RIGHT JOIN exemp010 e3 ON e1.dnul = e3.dept) "
           "RIGHT JOIN exemp010 e4 ON e3.status = e4.status) WHERE ((e1.dept & e1.name) = 'N2' AND "
           "e3.emp != (e1.flags \\ -4))",
           "SELECT e3.dept, e4.emp FROM (exemp010001 e1 RIGHT JOIN exemp010001 e3 ON e1.dnul = e3.dept) "
           "RIGHT JOIN exemp010001 e4 ON e3.status = e4.status WHERE (e1.dept || e1.name) = 'N2' AND "
           "e3.emp != (e1.flags % -4)",
           1000, false, 2000);
}
BENCHMARK(BM_RightChainMadeInnerByWhere)->Unit(benchmark::kMillisecond);

// Two RIGHT joins in a row whose WHERE rejects the NULL rows of the middle
// table only: the last join INNER, the first a RIGHT join shipped as the
// inner join's operand.
void BM_RightChainMiddleRejected(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.hired FROM ((exemp010 e1 RIGHT JOIN exemp010 e2 ON e1.status = e2.flags) "
           "RIGHT JOIN exemp010 e3 ON e2.dept = e3.dnul) WHERE (e2.hired + 1) = DATE '2021-11-06' ORDER BY 1 ASC",
           "SELECT e1.hired FROM (exemp010001 e1 RIGHT JOIN exemp010001 e2 ON e1.status = e2.flags) "
           "RIGHT JOIN exemp010001 e3 ON e2.dept = e3.dnul WHERE (e2.hired + 1) = 738100 ORDER BY 1",
           1000, false, 2000);
}
BENCHMARK(BM_RightChainMiddleRejected)->Unit(benchmark::kMillisecond);

// A FULL join under a RIGHT join, the WHERE on the FULL join's right
// table: the FULL join is a RIGHT join, the RIGHT join INNER.
void BM_FullJoinMadeRightByWhere(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, e2.emp, e3.emp FROM ((exemp010 e1 FULL OUTER JOIN exemp010 e2 ON e1.status = e2.status) "
           "RIGHT JOIN exemp010 e3 ON e2.hired = e3.hired) WHERE e2.hired = DATE '2021-11-06'",
           "SELECT e1.emp, e2.emp, e3.emp FROM (exemp010001 e1 FULL JOIN exemp010001 e2 ON e1.status = e2.status) "
           "RIGHT JOIN exemp010001 e3 ON e2.hired = e3.hired WHERE e2.hired = 738100",
           1000, false, 2000);
}
BENCHMARK(BM_FullJoinMadeRightByWhere)->Unit(benchmark::kMillisecond);

// A correlated IN whose subquery holds a term of outer columns only (an
// arithmetic the driver computes with the library's functions).
void BM_CorrelatedInWithOuterTerm(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.status, e2.salary, e2.status, e2.drst FROM (exemp010 e1 LEFT OUTER JOIN exemp010 e2 "
           "ON (e1.name = e2.name AND NOT (e1.hired IS NULL))) WHERE (e1.emp \\ 100) IN (SELECT e3.status "
           "FROM exemp010 e3 WHERE ((e2.emp * 3) <= 100 AND e1.drst NOT LIKE 'N2 *')) AND e2._compnr = 1 "
           "ORDER BY 4 DESC, e2.status",
           "SELECT e1.status, e2.salary, e2.status, e2.drst FROM exemp010001 e1 JOIN exemp010001 e2 "
           "ON e1.name = e2.name AND e1.hired IS NOT NULL WHERE (e1.emp % 100) IN (SELECT e3.status "
           "FROM exemp010001 e3 WHERE e2.emp * 3 <= 100 AND e1.drst NOT LIKE 'N2 %') "
           "ORDER BY 4 DESC, 3",
           1000, false, 2000);
}
BENCHMARK(BM_CorrelatedInWithOuterTerm)->Unit(benchmark::kMillisecond);

// A RIGHT join under an INNER join with the other driver's departments,
// the WHERE over the INNER join's two tables holding an IN over that
// driver: e2 and d3 are best joined first.
void BM_ConditionOfTwoTablesAfterRightJoin(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, e2.emp, d3.code FROM ((exemp010 e1 RIGHT JOIN exemp010 e2 ON e1.status = e2.status) "
           "INNER JOIN exdep010 d3 ON e2.dept = d3.code) WHERE (d3.status - e2.emp) IN (SELECT d4.status "
           "FROM exdep010 d4 WHERE d4._compnr = 2 AND d4.name < 'Department 5') AND d3._compnr = 2",
           "SELECT e1.emp, e2.emp, d3.code FROM (exemp010001 e1 RIGHT JOIN exemp010001 e2 ON e1.status = e2.status) "
           "JOIN two.exdep010002 d3 ON e2.dept = d3.code WHERE (d3.status - e2.emp) IN (SELECT d4.status "
           "FROM two.exdep010002 d4 WHERE d4.name < CAST('Department 5' AS BLOB))",
           1000, false, 2000);
}
BENCHMARK(BM_ConditionOfTwoTablesAfterRightJoin)->Unit(benchmark::kMillisecond);

// ---- statements over both drivers: the departments of company 2 sit on
// the second one ----

// An uncorrelated NOT IN on the departments' side of a join here: held
// once per execution, not once per employee.
void BM_HeldSubqueryUnderLocalJoin(benchmark::State &state) {
  RunQuery(state,
           "SELECT d3.name FROM exemp010 e2, exdep010 d3 WHERE e2.status = d3.status AND d3.budget NOT IN "
           "(SELECT e5.salary FROM exemp010 e5 WHERE (e5.flags * 0) IN (SELECT e7.emp FROM exemp010 e7 "
           "WHERE (e5.salary - 1000) != e5.salary)) AND d3._compnr = 2",
           "SELECT d3.name FROM exemp010001 e2, two.exdep010002 d3 WHERE e2.status = d3.status AND d3.budget NOT IN "
           "(SELECT e5.salary FROM exemp010001 e5 WHERE (e5.flags * 0) IN (SELECT e7.emp FROM exemp010001 e7 "
           "WHERE (e5.salary - 1000) != e5.salary))",
           1000, false, 2000);
}
BENCHMARK(BM_HeldSubqueryUnderLocalJoin)->Unit(benchmark::kMillisecond);

// A condition on the preserved side of a LEFT self-join that holds a
// subquery over the other driver: applied to e1's rows before the join.
void BM_OuterSideConditionBeforeLeftJoin(benchmark::State &state) {
  RunQuery(state,
           "SELECT d3.opened, (e1.emp \\ 2) :c3, e1.flags FROM ((exemp010 e1 LEFT OUTER JOIN exemp010 e2 "
           "ON e1.status = e2.status) INNER JOIN exdep010 d3 ON e1.drst = d3.code) WHERE e1.dnul IN "
           "(SELECT d4.name FROM exdep010 d4 WHERE d4.name IS NULL AND d4._compnr = 2) AND e1._compnr = 1 "
           "AND d3._compnr = 2",
           "SELECT d3.opened, e1.emp / 2, e1.flags FROM (exemp010001 e1 LEFT JOIN exemp010001 e2 "
           "ON e1.status = e2.status) JOIN two.exdep010002 d3 ON e1.drst = d3.code WHERE e1.dnul IN "
           "(SELECT d4.name FROM two.exdep010002 d4 WHERE d4.name IS NULL)",
           1000, false, 2000);
}
BENCHMARK(BM_OuterSideConditionBeforeLeftJoin)->Unit(benchmark::kMillisecond);

// A correlated scalar subquery over the other driver on the last table of
// a three-table join: applied to e3's rows, which it all rejects. (The
// driver's file holds codes as BLOBs, which SQLite orders after every
// text: the anchor compares with a BLOB.)
void BM_OneTableConditionAfterThreeTableJoin(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, e3.emp FROM exemp010 e1, exemp010 e2, exemp010 e3 WHERE e1.status = e2.status "
           "AND e2.emp = e3.emp AND NOT ((SELECT MIN(d4.code) FROM exdep010 d4 WHERE d4.status = e3.status "
           "AND d4._compnr = 2) <= 'D11')",
           "SELECT e1.emp, e3.emp FROM exemp010001 e1, exemp010001 e2, exemp010001 e3 WHERE e1.status = e2.status "
           "AND e2.emp = e3.emp AND NOT ((SELECT MIN(d4.code) FROM two.exdep010002 d4 WHERE d4.status = e3.status) "
           "<= CAST('D11' AS BLOB))",
           1000, false, 2000);
}
BENCHMARK(BM_OneTableConditionAfterThreeTableJoin)->Unit(benchmark::kMillisecond);

// A FULL self-join on the status under an INNER join with e3 on the
// department (some 670,000 joined rows), then an IN over the other
// driver's departments on e3 alone that no row meets: applied to e3's rows
// first, it leaves the INNER join nothing to join, and the FULL join is not
// built.
void BM_LastTableConditionAfterFullThenInnerJoin(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, e2.emp, e3.emp FROM ((exemp010 e1 FULL OUTER JOIN exemp010 e2 ON e1.status = e2.status) "
           "INNER JOIN exemp010 e3 ON e2.dept = e3.dept) WHERE e3.salary IN (SELECT d4.budget FROM exdep010 d4 "
           "WHERE d4._compnr = 2)",
           "SELECT e1.emp, e2.emp, e3.emp FROM (exemp010001 e1 FULL JOIN exemp010001 e2 ON e1.status = e2.status) "
           "JOIN exemp010001 e3 ON e2.dept = e3.dept WHERE e3.salary IN (SELECT d4.budget FROM two.exdep010002 d4)",
           1000, false, 2000);
}
BENCHMARK(BM_LastTableConditionAfterFullThenInnerJoin)->Unit(benchmark::kMillisecond);

// A correlated IN over the other driver's departments, over a self-join:
// asked once per department an employee names, not once per joined row.
void BM_CorrelatedInOverOtherDriver(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, e2.emp FROM exemp010 e1, exemp010 e2 WHERE e1.status = e2.status AND e1.salary IN "
           "(SELECT d3.budget FROM exdep010 d3 WHERE d3._compnr = 2 AND (e1.dept & e1.dept) IN "
           "(SELECT e4.dept FROM exemp010 e4 WHERE e4.flags = 1))",
           "SELECT e1.emp, e2.emp FROM exemp010001 e1, exemp010001 e2 WHERE e1.status = e2.status AND e1.salary IN "
           "(SELECT d3.budget FROM two.exdep010002 d3 WHERE (e1.dept || e1.dept) IN "
           "(SELECT e4.dept FROM exemp010001 e4 WHERE e4.flags = 1))",
           1000, false, 2000);
}
BENCHMARK(BM_CorrelatedInOverOtherDriver)->Unit(benchmark::kMillisecond);

// An EXISTS over the employees whose nested EXISTS over the other driver's
// departments reads the outermost department's budget.
void BM_NestedExistsOverOtherDriver(benchmark::State &state) {
  RunQuery(state,
           "SELECT d1.code FROM exdep010 d1 WHERE d1._compnr = 2 AND EXISTS (SELECT e2.emp FROM exemp010 e2 "
           "WHERE e2.status = d1.status AND EXISTS (SELECT d3.code FROM exdep010 d3 WHERE d3._compnr = 2 "
           "AND d3.code = e2.dept AND d1.budget IS NULL))",
           "SELECT d1.code FROM two.exdep010002 d1 WHERE EXISTS (SELECT e2.emp FROM exemp010001 e2 "
           "WHERE e2.status = d1.status AND EXISTS (SELECT d3.code FROM two.exdep010002 d3 "
           "WHERE d3.code = e2.dept AND d1.budget IS NULL))",
           1000, false, 2000);
}
BENCHMARK(BM_NestedExistsOverOtherDriver)->Unit(benchmark::kMillisecond);

// Two RIGHT joins in a row over one driver's tables.
void BM_TwoRightJoinsInARow(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, e2.emp, e3.emp FROM ((exemp010 e1 RIGHT OUTER JOIN exemp010 e2 ON e1.emp = e2.emp) "
           "RIGHT OUTER JOIN exemp010 e3 ON e2.emp = e3.emp) WHERE e3.emp < 20",
           "SELECT e1.emp, e2.emp, e3.emp FROM (exemp010001 e1 RIGHT JOIN exemp010001 e2 ON e1.emp = e2.emp) "
           "RIGHT JOIN exemp010001 e3 ON e2.emp = e3.emp WHERE e3.emp < 20",
           1000, false, 2000);
}
BENCHMARK(BM_TwoRightJoinsInARow)->Unit(benchmark::kMillisecond);

// The employees of company 1 joined INNER to the departments of company 2
// on the other driver: the departments are read once (or the employees'
// departments sent in batches), not asked once per employee. It runs at
// every size.
void BM_InnerJoinAcrossDrivers(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, d2.name FROM exemp010 e1 INNER JOIN exdep010 d2 ON e1.dept = d2.code "
           "WHERE e1._compnr = 1 AND d2._compnr = 2",
           "SELECT e1.emp, d2.name FROM exemp010001 e1 JOIN two.exdep010002 d2 ON e1.dept = d2.code",
           1000);
}
BENCHMARK(BM_InnerJoinAcrossDrivers)->Unit(benchmark::kMillisecond);

// The same join under a grouping by department with set functions: the
// grouping runs here over the joined rows. It runs at every size.
void BM_GroupedInnerJoinAcrossDrivers(benchmark::State &state) {
  RunQuery(state,
           "SELECT d2.name, COUNT(*) :n, SUM(e1.salary) :s, MAX(e1.emp) :m FROM exemp010 e1 INNER JOIN exdep010 d2 "
           "ON e1.dept = d2.code WHERE e1._compnr = 1 AND d2._compnr = 2 GROUP BY d2.name",
           "SELECT d2.name, COUNT(*), SUM(e1.salary), MAX(e1.emp) FROM exemp010001 e1 JOIN two.exdep010002 d2 "
           "ON e1.dept = d2.code GROUP BY d2.name",
           1000);
}
BENCHMARK(BM_GroupedInnerJoinAcrossDrivers)->Unit(benchmark::kMillisecond);

// Two RIGHT joins in a row that a WHERE on the first table makes inner, in
// the ANSI mode: one query of the driver, as in the classic mode.
void BM_AnsiRightChainMadeInnerByWhere(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.status, e3.status FROM ((exemp010 e1 RIGHT JOIN exemp010 e2 ON e1.status = e2.status) "
           "RIGHT JOIN exemp010 e3 ON (e1.dept = e3.dept AND e3.emp < -1000)) WHERE e1.flags < 1000",
           "SELECT e1.status, e3.status FROM (exemp010001 e1 RIGHT JOIN exemp010001 e2 ON e1.status = e2.status) "
           "RIGHT JOIN exemp010001 e3 ON e1.dept = e3.dept AND e3.emp < -1000 WHERE e1.flags < 1000",
           1000, false, 2000, SQL_PARSE_ANSI);
}
BENCHMARK(BM_AnsiRightChainMadeInnerByWhere)->Unit(benchmark::kMillisecond);

// A LEFT self-join (made INNER by the WHERE) under an INNER join with the
// other driver's departments: the departments are read once, not once per
// row of the self-join.
void BM_LeftJoinThenInnerJoinAcrossDrivers(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, e2.emp, d3.code FROM ((exemp010 e1 LEFT JOIN exemp010 e2 ON e1.flags = e2.status) "
           "INNER JOIN exdep010 d3 ON e1.hired = d3.opened) WHERE (e2.emp / 7) != 0.5 AND d3._compnr = 2",
           "SELECT e1.emp, e2.emp, d3.code FROM (exemp010001 e1 LEFT JOIN exemp010001 e2 ON e1.flags = e2.status) "
           "JOIN two.exdep010002 d3 ON e1.hired = d3.opened WHERE (e2.emp / 7) != 0.5",
           1000, false, 2000);
}
BENCHMARK(BM_LeftJoinThenInnerJoinAcrossDrivers)->Unit(benchmark::kMillisecond);

// The employees joined INNER to the other driver's departments on a term
// of the employee's row (TRIM of the department): the departments are read
// once, or asked per batch of the terms' values, as for a plain column. The
// codes hold no blanks: the anchor joins on the plain columns, by an index.
// It runs at every size.
void BM_InnerJoinAcrossDriversOnOuterTerm(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, d2.name FROM exemp010 e1 INNER JOIN exdep010 d2 ON TRIM(e1.dept) = d2.code "
           "WHERE e1._compnr = 1 AND d2._compnr = 2",
           "SELECT e1.emp, d2.name FROM exemp010001 e1 JOIN two.exdep010002 d2 ON e1.dept = d2.code",
           1000);
}
BENCHMARK(BM_InnerJoinAcrossDriversOnOuterTerm)->Unit(benchmark::kMillisecond);

// The other driver's departments joined INNER to the employees on a term
// of the employee's row (TRIM of dcas), the employees inside: they are
// read once, or asked per batch of department codes, not scanned once per
// department (the anchor, as above, joins on the plain columns). Up to
// 10,000 employees.
void BM_InnerJoinAcrossDriversOnInnerTerm(benchmark::State &state) {
  RunQuery(state,
           "SELECT d2.code, e1.emp FROM exdep010 d2 INNER JOIN exemp010 e1 ON d2.code = TRIM(e1.dcas) "
           "WHERE e1._compnr = 1 AND d2._compnr = 2",
           "SELECT d2.code, e1.emp FROM two.exdep010002 d2 JOIN exemp010001 e1 ON d2.code = e1.dcas",
           1000, false, 10000);
}
BENCHMARK(BM_InnerJoinAcrossDriversOnInnerTerm)->Unit(benchmark::kMillisecond);

// A join shipped whole to one driver, on the department's key, under a
// condition on the department that no row meets (its key IS NULL) and a
// correlated NOT EXISTS over the employees on the employee that no index
// serves: the department's condition is met first, and the subquery runs
// for no employee. The anchor is the faster of SQLite's own plan and the
// departments forced outermost (CROSS JOIN). Small tables only.
void BM_ShippedJoinMeetsCheapConditionFirst(benchmark::State &state) {
  static int form = 0;
  static const std::string anchor = FastestForm(
      {"SELECT e1.emp, d2.code FROM exemp010001 e1 JOIN exdep010001 d2 ON e1.dept = d2.code "
       "WHERE d2.code IS NULL AND NOT EXISTS (SELECT e3.emp FROM exemp010001 e3 WHERE e3.salary = e1.salary "
       "AND e3.emp < e1.emp)",
       "SELECT e1.emp, d2.code FROM exdep010001 d2 CROSS JOIN exemp010001 e1 ON e1.dept = d2.code "
       "WHERE d2.code IS NULL AND NOT EXISTS (SELECT e3.emp FROM exemp010001 e3 WHERE e3.salary = e1.salary "
       "AND e3.emp < e1.emp)"},
      &form);
  RunQuery(state,
           "SELECT e1.emp, d2.code FROM exemp010 e1, exdep010 d2 WHERE e1.dept = d2.code AND d2.code IS NULL "
           "AND NOT EXISTS (SELECT e3.emp FROM exemp010 e3 WHERE e3.salary = e1.salary AND e3.emp < e1.emp)",
           anchor.c_str(), 1000, false, 2000);
  state.counters["anchor_form"] = form;
}
BENCHMARK(BM_ShippedJoinMeetsCheapConditionFirst)->Unit(benchmark::kMillisecond);

// A false comparison of an uncorrelated scalar subquery over the other
// driver under a self-join: answered once, it leaves the join unread.
void BM_FalseScalarOverOtherDriverUnderJoin(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, e2.emp FROM exemp010 e1, exemp010 e2 WHERE e1.status = e2.status AND "
           "(SELECT MAX(d3.budget) FROM exdep010 d3 WHERE d3._compnr = 2) > 1000000",
           "SELECT e1.emp, e2.emp FROM exemp010001 e1, exemp010001 e2 WHERE e1.status = e2.status AND "
           "(SELECT MAX(d3.budget) FROM two.exdep010002 d3) > 1000000",
           1000);
}
BENCHMARK(BM_FalseScalarOverOtherDriverUnderJoin)->Unit(benchmark::kMillisecond);

// A correlated NOT EXISTS over the other driver on the employees, joined
// to departments whose condition no row meets: the departments are read
// first, and the subquery runs for no employee.
void BM_DearNotExistsAfterEmptyJoinSide(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, d2.code FROM exemp010 e1, exdep010 d2 WHERE e1.dept = d2.code AND d2.budget BETWEEN 3 "
           "AND 2 AND NOT EXISTS (SELECT d4.code FROM exdep010 d4 WHERE d4._compnr = 2 AND d4.code = e1.dcas AND "
           "d4.budget < e1.salary)",
           "SELECT e1.emp, d2.code FROM exemp010001 e1, exdep010001 d2 WHERE e1.dept = d2.code AND d2.budget BETWEEN 3 "
           "AND 2 AND NOT EXISTS (SELECT d4.code FROM two.exdep010002 d4 WHERE d4.code = e1.dcas AND "
           "d4.budget < e1.salary)",
           1000);
}
BENCHMARK(BM_DearNotExistsAfterEmptyJoinSide)->Unit(benchmark::kMillisecond);

// An INNER join whose ON holds a condition on the employees alone that no
// row meets (an equality, a BETWEEN whose bounds hold nothing, IS NULL on a
// stored column: argument 0, 1, 2), beside a dear NOT EXISTS of the WHERE
// on the other driver's departments (its nested IN over the employees
// correlated with both departments): the employees' condition goes with
// their table as in a WHERE, so that the empty side is found first and the
// NOT EXISTS runs for no department.
void BM_EmptyingOnConditionBesideDearWhere(benchmark::State &state) {
  static char const *const kConditions[] = {"e2.flags = -12345", "e2.salary BETWEEN 3 AND 2", "e2.drst IS NULL"};
  char const *const condition = kConditions[state.range(0)];
  std::string const own = std::string("SELECT d1.code, e2.emp FROM (exdep010 d1 INNER JOIN exemp010 e2 ON "
                                      "(d1.status = e2.flags AND ") + condition +
                          ")) WHERE NOT EXISTS (SELECT d3.code FROM exdep010 d3 WHERE d3._compnr = 2 AND "
                          "d3.code = d1.code AND d1.budget IN (SELECT e4.salary FROM exemp010 e4 WHERE e4.status = "
                          "d3.status)) AND d1._compnr = 2";
  std::string const anchor = std::string("SELECT d1.code, e2.emp FROM two.exdep010002 d1 JOIN exemp010001 e2 ON "
                                         "d1.status = e2.flags AND ") + condition +
                             " WHERE NOT EXISTS (SELECT d3.code FROM two.exdep010002 d3 WHERE d3.code = d1.code "
                             "AND d1.budget IN (SELECT e4.salary FROM exemp010001 e4 WHERE e4.status = d3.status))";
  // SQLite runs the NOT EXISTS first for the last two: 30 seconds at the
  // default size.
  RunQuery(state, own.c_str(), anchor.c_str(), 1000, false, state.range(0) == 0 ? 0 : 2000);
}
BENCHMARK(BM_EmptyingOnConditionBesideDearWhere)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The same with a LEFT join of the departments to the employees under an
// INNER join, whose ON is constant false: only the employees' side is
// empty, and the INNER join over its NULL rows joins nothing.
void BM_FalseLeftJoinOnBesideDearWhere(benchmark::State &state) {
  RunQuery(state,
           "SELECT d1.code, e2.emp FROM ((exdep010 d1 LEFT JOIN exemp010 e2 ON 1 = 0) INNER JOIN exemp010 e5 "
           "ON e2.emp = e5.emp) WHERE NOT EXISTS (SELECT d3.code FROM exdep010 d3 WHERE d3._compnr = 2 AND "
           "d3.code = d1.code AND d1.budget IN (SELECT e4.salary FROM exemp010 e4 WHERE e4.status = d3.status)) "
           "AND d1._compnr = 2",
           "SELECT d1.code, e2.emp FROM (two.exdep010002 d1 LEFT JOIN exemp010001 e2 ON 1 = 0) JOIN exemp010001 e5 "
           "ON e2.emp = e5.emp WHERE NOT EXISTS (SELECT d3.code FROM two.exdep010002 d3 WHERE d3.code = d1.code "
           "AND d1.budget IN (SELECT e4.salary FROM exemp010001 e4 WHERE e4.status = d3.status))",
           1000);
}
BENCHMARK(BM_FalseLeftJoinOnBesideDearWhere)->Unit(benchmark::kMillisecond);

// A self-join of the employees whose ON holds a scalar COUNT over the
// other driver's departments, correlated with both sides, under a WHERE
// IN over the employees: the self-join is still one query of the
// employees' driver, the COUNT applied to its rows here as in a WHERE, not
// a query of that driver per outer row that evaluates the IN again.
void BM_SubqueryOverOtherDriverInInnerJoinOn(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, e2.emp FROM (exemp010 e1 INNER JOIN exemp010 e2 ON (e1.dept = e2.dept AND "
           "(SELECT COUNT(*) FROM exdep010 d3 WHERE d3._compnr = 2 AND d3.status = e1.status AND "
           "d3.code <> e2.dcas) > 0)) WHERE e2.dept IN (SELECT e4.dcas FROM exemp010 e4 WHERE e4.status = e2.flags)",
           "SELECT e1.emp, e2.emp FROM exemp010001 e1 JOIN exemp010001 e2 ON e1.dept = e2.dept AND "
           "(SELECT COUNT(*) FROM two.exdep010002 d3 WHERE d3.status = e1.status AND d3.code <> e2.dcas) > 0 "
           "WHERE e2.dept IN (SELECT e4.dcas FROM exemp010001 e4 WHERE e4.status = e2.flags)",
           1000, false, 2000);
}
BENCHMARK(BM_SubqueryOverOtherDriverInInnerJoinOn)->Unit(benchmark::kMillisecond);

// The same with an uncorrelated COUNT in the ON: answered once.
void BM_UncorrelatedSubqueryOverOtherDriverInInnerJoinOn(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, e2.emp FROM (exemp010 e1 INNER JOIN exemp010 e2 ON (e1.dept = e2.dept AND "
           "(SELECT COUNT(*) FROM exdep010 d3 WHERE d3._compnr = 2 AND d3.status = 1) > 0)) "
           "WHERE e2.dept IN (SELECT e4.dcas FROM exemp010 e4 WHERE e4.status = e2.flags)",
           "SELECT e1.emp, e2.emp FROM exemp010001 e1 JOIN exemp010001 e2 ON e1.dept = e2.dept AND "
           "(SELECT COUNT(*) FROM two.exdep010002 d3 WHERE d3.status = 1) > 0 "
           "WHERE e2.dept IN (SELECT e4.dcas FROM exemp010001 e4 WHERE e4.status = e2.flags)",
           1000, false, 2000);
}
BENCHMARK(BM_UncorrelatedSubqueryOverOtherDriverInInnerJoinOn)->Unit(benchmark::kMillisecond);

// A self-join under an ORDER BY and a false IN of a constant over the
// other driver's departments: the IN is answered before the join is read,
// sorted or not.
void BM_FalseConstantInBeforeSortedJoin(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, e2.name FROM exemp010 e1, exemp010 e2 WHERE e1.emp = e2.emp AND 2000 IN "
           "(SELECT d3.status FROM exdep010 d3 WHERE d3._compnr = 2) ORDER BY 2, 1",
           "SELECT e1.emp, e2.name FROM exemp010001 e1, exemp010001 e2 WHERE e1.emp = e2.emp AND 2000 IN "
           "(SELECT d3.status FROM two.exdep010002 d3) ORDER BY 2, 1",
           1000);
}
BENCHMARK(BM_FalseConstantInBeforeSortedJoin)->Unit(benchmark::kMillisecond);

// ---- correlated subqueries over the other driver with many distinct
// outer values (small tables only): answered here from the rows of the
// other driver's table, read once per execution ----

// A FULL join whose ON holds an EXISTS over the other driver's departments
// keyed by a department and an employee's salary: 32 x 400 distinct pairs.
// Its right side is buffered and walked once per department: it runs up to
// 10,000 employees, where that side spills.
void BM_ExistsOverOtherDriverInFullJoinOn(benchmark::State &state) {
  RunQuery(state,
           "SELECT d1.code, e2.emp FROM (exdep010 d1 FULL OUTER JOIN exemp010 e2 ON EXISTS (SELECT d3.code "
           "FROM exdep010 d3 WHERE d3._compnr = 2 AND d3.code = d1.code AND d3.budget < e2.salary))",
           "SELECT d1.code, e2.emp FROM exdep010001 d1 FULL JOIN exemp010001 e2 ON EXISTS (SELECT d3.code "
           "FROM two.exdep010002 d3 WHERE d3.code = d1.code AND d3.budget < e2.salary)",
           1000, false, 10000);
}
BENCHMARK(BM_ExistsOverOtherDriverInFullJoinOn)->Unit(benchmark::kMillisecond);

// The same EXISTS in the ON of a LEFT join.
void BM_ExistsOverOtherDriverInLeftJoinOn(benchmark::State &state) {
  RunQuery(state,
           "SELECT d1.code, e2.emp FROM (exdep010 d1 LEFT OUTER JOIN exemp010 e2 ON EXISTS (SELECT d3.code "
           "FROM exdep010 d3 WHERE d3._compnr = 2 AND d3.code = d1.code AND d3.budget < e2.salary))",
           "SELECT d1.code, e2.emp FROM exdep010001 d1 LEFT JOIN exemp010001 e2 ON EXISTS (SELECT d3.code "
           "FROM two.exdep010002 d3 WHERE d3.code = d1.code AND d3.budget < e2.salary)",
           1000, false, 2000);
}
BENCHMARK(BM_ExistsOverOtherDriverInLeftJoinOn)->Unit(benchmark::kMillisecond);

// An IN over the other driver's departments keyed by one column, the
// employee's salary: 400 distinct values.
void BM_InOverOtherDriverKeyedByOneColumn(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp FROM exemp010 e1 WHERE e1.status IN (SELECT d2.status FROM exdep010 d2 "
           "WHERE d2._compnr = 2 AND d2.budget < e1.salary)",
           "SELECT e1.emp FROM exemp010001 e1 WHERE e1.status IN (SELECT d2.status FROM two.exdep010002 d2 "
           "WHERE d2.budget < e1.salary)",
           1000, false, 2000);
}
BENCHMARK(BM_InOverOtherDriverKeyedByOneColumn)->Unit(benchmark::kMillisecond);

// An uncorrelated IN over the other driver's departments whose values are
// one status (repeated): the value goes to the employees' driver as a list,
// which reads only the employees of that status (a third). It runs at every
// size.
void BM_ShortInListFromOtherDriver(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp, e1.name FROM exemp010 e1 WHERE e1.status IN (SELECT d2.status FROM exdep010 d2 "
           "WHERE d2._compnr = 2 AND d2.status = 1)",
           "SELECT e1.emp, e1.name FROM exemp010001 e1 WHERE e1.status IN (SELECT d2.status FROM two.exdep010002 d2 "
           "WHERE d2.status = 1)",
           1000);
}
BENCHMARK(BM_ShortInListFromOtherDriver)->Unit(benchmark::kMillisecond);

// A constant conjunct that computes and is FALSE beside a self-join on the
// day hired: decided once before any row (a TRIM, date arithmetic, integer
// arithmetic), so that neither table is read.
void BM_ConstantFalseConjunctBesideJoin(benchmark::State &state) {
  static const char *const kOurs[] = {"TRIM(TRAILING FROM 'Dora') > 'H8'",
                                      "DATE '2006-11-17' + 365 = DATE '2003-10-01'", "1 + 1 = 3"};
  static const char *const kAnchors[] = {"rtrim('Dora') > 'H8'", "732632 + 365 = 731489", "1 + 1 = 3"};
  const auto i = static_cast<std::size_t>(state.range(0));
  const std::string ours = std::string("SELECT e1.emp, e2.emp FROM exemp010 e1, exemp010 e2 WHERE e1.hired = e2.hired "
                                       "AND ") + kOurs[i];
  const std::string anchor = std::string("SELECT e1.emp, e2.emp FROM exemp010001 e1, exemp010001 e2 WHERE "
                                         "e1.hired = e2.hired AND ") + kAnchors[i];
  RunQuery(state, ours.c_str(), anchor.c_str(), 1000);
}
BENCHMARK(BM_ConstantFalseConjunctBesideJoin)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// A LIKE on a row of the outer query inside an EXISTS: decided once per
// outer row, not for every row of the subquery.
void BM_LikeOnOuterRowInsideExists(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.salary, e1.hired, e2.emp FROM exemp010 e1, exemp010 e2 WHERE e1.hired = e2.hired AND EXISTS "
           "(SELECT e3.emp FROM exemp010 e3 WHERE e3.name < e1.name AND e2.dnul LIKE '.o.*') AND e1.salary < e2.salary",
           "SELECT e1.salary, e1.hired, e2.emp FROM exemp010001 e1, exemp010001 e2 WHERE e1.hired = e2.hired AND EXISTS "
           "(SELECT e3.emp FROM exemp010001 e3 WHERE e3.name < e1.name AND CAST(e2.dnul AS TEXT) GLOB '?o*') "
           "AND e1.salary < e2.salary",
           1000, false, 2000);
}
BENCHMARK(BM_LikeOnOuterRowInsideExists)->Unit(benchmark::kMillisecond);

// A concatenation and a TRIM of the outer row inside a correlated
// subquery: they cannot fail, so SQLite computes them once per outer row.
void BM_ConcatAndTrimInCorrelatedSubquery(benchmark::State &state) {
  RunQuery(state,
           "SELECT e1.emp FROM exemp010 e1 WHERE EXISTS (SELECT e2.emp FROM exemp010 e2 WHERE e2.status = e1.status "
           "AND (TRIM(TRAILING FROM e1.dept) & e1.name) < e2.name)",
           "SELECT e1.emp FROM exemp010001 e1 WHERE EXISTS (SELECT e2.emp FROM exemp010001 e2 WHERE e2.status = "
           "e1.status AND (rtrim(CAST(e1.dept AS TEXT)) || CAST(e1.name AS TEXT)) < CAST(e2.name AS TEXT))",
           1000, false, 2000);
}
BENCHMARK(BM_ConcatAndTrimInCorrelatedSubquery)->Unit(benchmark::kMillisecond);

}  // namespace
