// Committed increments per second by 1, 4, 16 and 64 host processes
// through one driver server (molvane-driver --listen on a Unix socket). Each
// host process logs on, then commits kPerHost increments of the salary of
// one of the hot rows (8, or MOLVANE_BENCH_HOT_ROWS): a locked read, a delayed-lock read, the update, the
// commit; a refused lock or commit is aborted and tried again. The anchor:
// as many processes committing as many increments of the same rows of one
// SQLite file (WAL, BEGIN IMMEDIATE, UPDATE, COMMIT, SQLite's busy wait).
// `ratio` is molvane's wall time divided by SQLite's for the same
// increments; `refused` is the share of molvane's commits (of rows read
// with a lock) refused as locked (107, or 520 carrying it) after the wait
// for the write transaction, `conflicts` the locked reads refused per
// increment, `sqlite_refused` the share of the anchor's transactions that
// its busy wait gave up on. The second benchmark runs the same increments
// while one more process repeats a long query (a join of kQueryTables
// copies of the rows through an arithmetic condition) through the same
// server, and its anchor on the SQLite file. The third runs 4 record
// writers (each transaction locks one row, or two in random order, updates
// them and commits) beside 2 hosts whose SQL UPDATEs change two random rows
// each, on kMixRows rows for kMixSeconds: commits and refusals per second
// of each kind; its anchor is the same mix on the SQLite file (one UPDATE
// per row in a BEGIN IMMEDIATE transaction), and `ratio` its commits per
// second over molvane's.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <molvane/datetime.h>
#include <molvane/platform.h>
#include <molvane/sql.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_refs.h>

#include "dbc/dict/dd.h"
#include "dbc/zdb_errors.h"
#include "bench_env.h"

namespace {

// The rows the hosts increment: 8, or MOLVANE_BENCH_HOT_ROWS.
int HotRows() {
  const char *n = std::getenv("MOLVANE_BENCH_HOT_ROWS");
  return n != nullptr && std::atoi(n) > 0 ? std::atoi(n) : 8;
}
const int kRows = HotRows();
constexpr int kPerHost = 50;
constexpr int kTriesPerIncrement = 200;  // bounds every retry loop
constexpr int kMaxHosts = 64;
constexpr int kQueryTables = 6;          // the long query joins this many copies

// Counters the forked processes write, one slot each, in memory shared with
// the benchmark process.
struct Shared {
  int tries[kMaxHosts + 1];
  int refused[kMaxHosts + 1];
  int conflicts[kMaxHosts + 1];  // locked reads refused (another host holds the row)
  int queries;
  volatile int stop;  // the long query's loop ends
};

// The mix of record writers and SQL DML.
constexpr int kMixRows = 40;
constexpr int kMixWriters = 4;
constexpr int kMixSql = 2;
constexpr double kMixSeconds = 4;
Shared *g_shared = nullptr;

Shared *MapShared() {
  void *p = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<Shared *>(p);
}

// The long query, as molvane's SQL and as SQLite's on the anchor file.
std::string LongQuery(bool anchor) {
  std::string sql = anchor ? "SELECT COUNT(*) FROM " : "SELECT COUNT(*) :n FROM ";
  std::string where;
  for (int i = 0; i < kQueryTables; ++i) {
    std::string t(1, 't');
    t += std::to_string(i);
    if (i > 0) {
      sql += ", ";
      where += " + ";
    }
    sql += anchor ? "t " : "exemp010 ";
    sql += t;
    where += t;
    where += anchor ? ".v" : ".salary";
  }
  sql += " WHERE ";
  sql += where;
  sql += " * 2 > -1";
  return sql;
}

using Clock = std::chrono::steady_clock;

// Runs `body(i)` in `count` forked processes at once; the wall time in
// seconds, or -1 when one of them failed.
double RunProcesses(int count, const std::function<int(int)> &body) {
  std::fflush(nullptr);
  auto start = Clock::now();
  std::vector<pid_t> pids;
  for (int i = 0; i < count; ++i) {
    pid_t pid = fork();
    if (pid == 0) _exit(body(i));
    pids.push_back(pid);
  }
  bool ok = true;
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return ok ? seconds : -1;
}

void SetEmp(const DD_TABLE *table, unsigned char *row, int emp) {
  fill_default_row(table, row);
  DD_COLUMN *e = ddcolumn("exemp010.emp");
  for (int i = 0; i < 4; ++i) row[e->offset + e->length - 1 - i] = static_cast<unsigned char>(emp >> (8 * i));
}

// A host process's start: logon, a transaction and exemp010 of company 1
// over `row`; null when any step fails. The rows refer to no department:
// the benchmarks measure writes, so their hosts write with references off.
ZDB_CURSOR *LogOnAndOpen(unsigned char *row, int *trans) {
  ZDB_CURSOR *cursor = nullptr;
  zdb_disable_references();
  if (zdb_init_api("server_bench", nullptr, 0, 0) != 0 || zdb_logon("bench") != 0 ||
      (*trans = zdb_start_session("bench")) <= 0 || zdb_open(&cursor, "exemp010", 1, row, 0, *trans) != 0)
    return nullptr;
  return cursor;
}

// One host process's increments through the server.
int MolvaneHost(int index) {
  static unsigned char row[DD_MAX_ROW_LENGTH];
  int trans = 0;
  ZDB_CURSOR *cursor = LogOnAndOpen(row, &trans);
  if (cursor == nullptr) return 1;
  const DD_TABLE *table = ddtable("exemp010");
  const DD_COLUMN *salary = ddcolumn("exemp010.salary");
  int done = 0;
  for (int tries = 0; done < kPerHost && tries < kPerHost * kTriesPerIncrement; ++tries) {
    SetEmp(table, row, 1 + (index + done) % kRows);
    bool ok = zdb_exec_row(cursor, db_eq_locked, 0, 1) == 0 && zdb_exec_row(cursor, db_eq_delayed, 0, 1) == 0;
    if (!ok) ++g_shared->conflicts[index];
    if (ok) {
      float_in(float_out(row + salary->offset) + 1, row + salary->offset);
      ++g_shared->tries[index];
      ok = zdb_exec_row(cursor, db_update_51, 0, 1) == 0 && zdb_exec_db(commit_trans, trans) == 0;
      if (!ok && (zdb_errno == ZE_LOCKED || zdb_errno == ZE_BUFFERED_UPDATE)) ++g_shared->refused[index];
    }
    if (ok) {
      ++done;
    } else {
      zdb_exec_db(abort_trans, trans);
      usleep(200);
    }
  }
  if (done < kPerHost) std::fprintf(stderr, "host %d: %d increments, last error %d\n", index, done, zdb_errno);
  zdb_logoff();
  return done == kPerHost ? 0 : 2;
}

// The long query through the server, again and again until told to stop.
char *Variable(char *name, unsigned char *, char **, int *const, unsigned long) { return name; }
void Put(char *, unsigned char *data, unsigned char, int, int *) { benchmark::DoNotOptimize(data); }
int Quiet(int, char *) { return 0; }

int MolvaneQuery() {
  zdb_disable_references();
  if (zdb_init_api("server_bench", nullptr, 0, 0) != 0 || zdb_logon("bench") != 0) return 1;
  int trans = zdb_start_session("query");
  sql_init_func(SQL_FUNC_ERROR, reinterpret_cast<sql_func>(Quiet));
  sql_init_func(SQL_FUNC_CRT_EXTVAR, reinterpret_cast<sql_func>(Variable));
  sql_init_func(SQL_FUNC_PUT_EXTVAR, reinterpret_cast<sql_func>(Put));
  QPCStatement *h = sql_parse(LongQuery(false).c_str(), static_cast<unsigned long>(trans), 0);
  if (h == nullptr) {
    std::fprintf(stderr, "the long query does not prepare: error %d\n", zdb_errno);
    return 2;
  }
  while (!g_shared->stop) {
    if (sql_exec(h, 1) != 0) {
      std::fprintf(stderr, "the long query failed: error %d\n", zdb_errno);
      return 3;
    }
    while (sql_fetch(h) == 0) {}
    ++g_shared->queries;
  }
  sql_close(h);
  zdb_logoff();
  return 0;
}

int SqliteQuery(const std::string &file) {
  sqlite3 *db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return 1;
  sqlite3_stmt *query = nullptr;
  if (sqlite3_prepare_v2(db, LongQuery(true).c_str(), -1, &query, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "the anchor's long query does not prepare: %s\n", sqlite3_errmsg(db));
    return 2;
  }
  while (!g_shared->stop) {
    while (sqlite3_step(query) == SQLITE_ROW) {}
    sqlite3_reset(query);
    ++g_shared->queries;
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  return 0;
}

// One process's increments on the SQLite file.
int SqliteHost(const std::string &file, int index) {
  sqlite3 *db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return 1;
  sqlite3_busy_timeout(db, 2000);
  sqlite3_stmt *update = nullptr;
  sqlite3_prepare_v2(db, "UPDATE t SET v = v + 1 WHERE k = ?", -1, &update, nullptr);
  int done = 0;
  for (int tries = 0; done < kPerHost && tries < kPerHost * kTriesPerIncrement; ++tries) {
    ++g_shared->tries[index];
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
      ++g_shared->refused[index];
      continue;
    }
    sqlite3_bind_int(update, 1, 1 + (index + done) % kRows);
    bool ok = sqlite3_step(update) == SQLITE_DONE;
    sqlite3_reset(update);
    if (ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
      ++done;
    else
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  sqlite3_finalize(update);
  sqlite3_close(db);
  return done == kPerHost ? 0 : 2;
}

// An environment root with the fixture dictionary, a driver server on its
// database and kRows rows of exemp010; the SQLite anchor file beside it.
struct Setup {
  std::string root;
  pid_t server = -1;

  explicit Setup(int rows = kRows) {
    root = molvane::bench::MakeRoot("msqlite unix run.sock\n");
    setenv("F_ZRDD", (root + "/dict").c_str(), 1);
    set_zuv(root.c_str());
    std::string driver = molvane::bench::DriverProgram();
    std::string listen = "--listen=" + root + "/run.sock", db = root + "/main.db";
    server = fork();
    if (server == 0) {
      execl(driver.c_str(), driver.c_str(), listen.c_str(), db.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 500 && !std::filesystem::exists(root + "/run.sock"); ++i) usleep(10000);
    RunProcesses(1, [rows](int) {
      static unsigned char row[DD_MAX_ROW_LENGTH];
      ZDB_CURSOR *cursor = nullptr;
      zdb_disable_references();
      zdb_init_api("server_bench", nullptr, 0, 0);
      zdb_logon("bench");
      int trans = zdb_start_session("bench");
      zdb_open(&cursor, "exemp010", 1, row, 0, trans);
      zdb_exec_table(cursor, create_table, nullptr, 1);
      for (int emp = 1; emp <= rows; ++emp) {
        SetEmp(ddtable("exemp010"), row, emp);
        zdb_exec_row(cursor, db_insert_51, 0, 1);
      }
      int rc = zdb_exec_db(commit_trans, trans);
      zdb_logoff();
      return rc == 0 ? 0 : 1;
    });
    sqlite3 *anchor = nullptr;
    sqlite3_open(Anchor().c_str(), &anchor);
    std::string sql =
        "PRAGMA journal_mode=WAL; CREATE TABLE t(k INTEGER PRIMARY KEY, v INTEGER);"
        "WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < " +
        std::to_string(rows) + ") INSERT INTO t SELECT k, 0 FROM n";
    sqlite3_exec(anchor, sql.c_str(), nullptr, nullptr, nullptr);
    // Kept open, as the server keeps its connections: the anchor's
    // processes do not checkpoint and remove the log as the last to close.
    anchor_ = anchor;
  }
  ~Setup() {
    sqlite3_close(anchor_);
    if (server > 0) {
      kill(server, SIGTERM);
      waitpid(server, nullptr, 0);
    }
    std::filesystem::remove_all(root);
  }
  std::string Anchor() const { return root + "/anchor.db"; }
  sqlite3 *anchor_ = nullptr;
};

// The increments of `hosts` processes on the server and on the anchor
// file, with the long query beside them when `query` is set.
void RunIncrements(benchmark::State &state, bool query) {
  const int hosts = static_cast<int>(state.range(0));
  Setup setup;
  g_shared = MapShared();
  if (g_shared == nullptr) {
    state.SkipWithError("no shared memory");
    return;
  }
  double molvane = 0, anchor = 0;
  long tries[2] = {0, 0}, refused[2] = {0, 0}, conflicts = 0;
  int queries[2] = {0, 0};
  // Runs the increments with the query process beside them (its result
  // added to the increments' failure), the counters of the run into slot.
  auto run = [&](int slot, const std::function<int(int)> &host, const std::function<int()> &beside) {
    std::memset(g_shared, 0, sizeof(Shared));
    pid_t side = -1;
    if (query) {
      std::fflush(nullptr);
      side = fork();
      if (side == 0) _exit(beside());
      usleep(200000);  // the query runs before the hosts start
    }
    double seconds = RunProcesses(hosts, host);
    g_shared->stop = 1;
    int status = 0;
    if (side > 0 && (waitpid(side, &status, 0) != side || !WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
      std::fprintf(stderr, "the query process ended with status %d\n", status);
      seconds = -1;
    }
    for (int i = 0; i < hosts; ++i) {
      tries[slot] += g_shared->tries[i];
      refused[slot] += g_shared->refused[i];
      conflicts += g_shared->conflicts[i];
    }
    queries[slot] += g_shared->queries;
    return seconds;
  };
  for (auto _ : state) {
    double m = run(0, MolvaneHost, MolvaneQuery);
    double a = run(1, [&](int i) { return SqliteHost(setup.Anchor(), i); },
                   [&] { return SqliteQuery(setup.Anchor()); });
    if (m < 0 || a < 0) {
      state.SkipWithError(m < 0 ? "a molvane host or query process failed" : "an anchor process failed");
      break;
    }
    state.SetIterationTime(m);
    molvane += m;
    anchor += a;
  }
  munmap(g_shared, sizeof(Shared));
  g_shared = nullptr;
  const double increments = static_cast<double>(hosts) * kPerHost * static_cast<double>(state.iterations());
  state.SetItemsProcessed(static_cast<std::int64_t>(increments));
  if (molvane > 0 && anchor > 0) {
    state.counters["increments/s"] = increments / molvane;
    state.counters["sqlite/s"] = increments / anchor;
    state.counters["ratio"] = molvane / anchor;
    auto share = [](long part, long whole) { return whole > 0 ? static_cast<double>(part) / static_cast<double>(whole) : 0; };
    state.counters["refused"] = share(refused[0], tries[0]);
    state.counters["sqlite_refused"] = share(refused[1], tries[1]);
    state.counters["conflicts"] = static_cast<double>(conflicts) / increments;
    if (query) {
      state.counters["queries"] = queries[0];
      state.counters["sqlite_queries"] = queries[1];
    }
  }
}

// One process of the mix through the server: a record writer (index below
// kMixWriters) or an SQL host, until stopped. tries counts its commits,
// refused its transactions refused as locked.
int MolvaneMixHost(int index) {
  static unsigned char row[DD_MAX_ROW_LENGTH];
  int trans = 0;
  ZDB_CURSOR *cursor = LogOnAndOpen(row, &trans);
  if (cursor == nullptr) return 1;
  sql_init_func(SQL_FUNC_ERROR, reinterpret_cast<sql_func>(Quiet));
  const DD_TABLE *table = ddtable("exemp010");
  const DD_COLUMN *salary = ddcolumn("exemp010.salary");
  unsigned seed = static_cast<unsigned>(index) * 7919u + 1;
  auto any_row = [&seed] { return 1 + static_cast<int>(rand_r(&seed) % kMixRows); };
  while (!g_shared->stop) {
    bool ok = true;
    const int first = any_row();
    int second = rand_r(&seed) % 2 == 0 ? 0 : any_row();
    if (second == first) second = 0;
    if (index < kMixWriters) {
      for (int emp : {first, second}) {
        if (emp == 0 || !ok) continue;
        SetEmp(table, row, emp);
        ok = zdb_exec_row(cursor, db_eq_locked, 0, 1) == 0 && zdb_exec_row(cursor, db_eq_delayed, 0, 1) == 0;
        if (ok) {
          float_in(float_out(row + salary->offset) + 1, row + salary->offset);
          ok = zdb_exec_row(cursor, db_update_51, 0, 1) == 0;
        }
      }
      ok = ok && zdb_exec_db(commit_trans, trans) == 0;
    } else {
      const int other = second != 0 ? second : (first % kMixRows) + 1;
      // SQL sets constants only: the statement writes a new salary.
      const std::string sql = "UPDATE exemp010 SET salary = " + std::to_string(rand_r(&seed) % 1000) +
                              " WHERE emp IN (" + std::to_string(first) + ", " + std::to_string(other) + ")";
      QPCStatement *h = sql_parse(sql.c_str(), static_cast<unsigned long>(trans), 0);
      ok = h != nullptr && sql_exec(h, 1) == 0;
      if (h != nullptr) sql_close(h);
      ok = ok && zdb_exec_db(commit_trans, trans) == 0;
    }
    if (ok) {
      ++g_shared->tries[index];
    } else {
      if (zdb_errno == ZE_LOCKED || zdb_errno == ZE_BUFFERED_UPDATE) ++g_shared->refused[index];
      zdb_exec_db(abort_trans, trans);
    }
  }
  zdb_logoff();
  return 0;
}

// The same mix on the SQLite file.
int SqliteMixHost(const std::string &file, int index) {
  sqlite3 *db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return 1;
  sqlite3_busy_timeout(db, 2000);
  unsigned seed = static_cast<unsigned>(index) * 7919u + 1;
  auto any_row = [&seed] { return 1 + static_cast<int>(rand_r(&seed) % kMixRows); };
  while (!g_shared->stop) {
    const int first = any_row();
    int second = rand_r(&seed) % 2 == 0 ? 0 : any_row();
    if (index >= kMixWriters && second == 0) second = (first % kMixRows) + 1;
    bool ok = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    const std::string sql = "UPDATE t SET v = v + 1 WHERE k IN (" + std::to_string(first) + ", " +
                            std::to_string(second) + ")";
    ok = ok && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK &&
         sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (ok) {
      ++g_shared->tries[index];
    } else {
      ++g_shared->refused[index];
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  }
  sqlite3_close(db);
  return 0;
}

void BM_RecordWritersBesideSqlDml(benchmark::State &state) {
  Setup setup(kMixRows);
  g_shared = MapShared();
  if (g_shared == nullptr) {
    state.SkipWithError("no shared memory");
    return;
  }
  // Runs the mix for kMixSeconds: the commits and refusals of the record
  // writers and of the SQL hosts.
  struct Counts {
    double record_commits = 0, record_refused = 0, sql_commits = 0, sql_refused = 0, seconds = 0;
  };
  auto run = [&](const std::function<int(int)> &host, Counts &counts) {
    std::memset(g_shared, 0, sizeof(Shared));
    std::fflush(nullptr);
    std::vector<pid_t> pids;
    const auto start = Clock::now();
    for (int i = 0; i < kMixWriters + kMixSql; ++i) {
      pid_t pid = fork();
      if (pid == 0) _exit(host(i));
      pids.push_back(pid);
    }
    usleep(static_cast<useconds_t>(kMixSeconds * 1e6));
    g_shared->stop = 1;
    bool ok = true;
    for (pid_t pid : pids) {
      int status = 0;
      waitpid(pid, &status, 0);
      ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    counts.seconds += std::chrono::duration<double>(Clock::now() - start).count();
    for (int i = 0; i < kMixWriters + kMixSql; ++i) {
      (i < kMixWriters ? counts.record_commits : counts.sql_commits) += g_shared->tries[i];
      (i < kMixWriters ? counts.record_refused : counts.sql_refused) += g_shared->refused[i];
    }
    return ok;
  };
  Counts molvane, anchor;
  for (auto _ : state) {
    const bool m = run(MolvaneMixHost, molvane);
    const bool a = run([&](int i) { return SqliteMixHost(setup.Anchor(), i); }, anchor);
    if (!m || !a) {
      state.SkipWithError(!m ? "a molvane host failed" : "an anchor process failed");
      break;
    }
    state.SetIterationTime(kMixSeconds);
  }
  munmap(g_shared, sizeof(Shared));
  g_shared = nullptr;
  auto share = [](double part, double commits) { return part + commits > 0 ? part / (part + commits) : 0; };
  const double commits = molvane.record_commits + molvane.sql_commits;
  const double anchor_commits = anchor.record_commits + anchor.sql_commits;
  if (molvane.seconds > 0 && anchor.seconds > 0 && commits > 0) {
    state.counters["record_commits/s"] = molvane.record_commits / molvane.seconds;
    state.counters["sql_commits/s"] = molvane.sql_commits / molvane.seconds;
    state.counters["record_refused"] = share(molvane.record_refused, molvane.record_commits);
    state.counters["sql_refused"] = share(molvane.sql_refused, molvane.sql_commits);
    state.counters["sqlite_commits/s"] = anchor_commits / anchor.seconds;
    state.counters["ratio"] = (anchor_commits / anchor.seconds) / (commits / molvane.seconds);
  }
}
BENCHMARK(BM_RecordWritersBesideSqlDml)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_CommittedIncrements(benchmark::State &state) { RunIncrements(state, false); }
BENCHMARK(BM_CommittedIncrements)
    ->Arg(1)->Arg(4)->Arg(16)->Arg(64)
    ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_CommittedIncrementsBesideLongQuery(benchmark::State &state) { RunIncrements(state, true); }
BENCHMARK(BM_CommittedIncrementsBesideLongQuery)
    ->Arg(4)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
