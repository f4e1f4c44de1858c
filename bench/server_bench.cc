// Committed increments per second by 1, 4 and 16 host processes through
// one driver server (molvane-driver --listen on a Unix socket). Each host
// process logs on, then commits kPerHost increments of the salary of one of
// kRows rows: a locked read, a delayed-lock read, the update, the commit;
// a refused lock or commit is aborted and tried again. The anchor: as many
// processes committing as many increments of the same rows of one SQLite
// file (WAL, BEGIN IMMEDIATE, UPDATE, COMMIT, SQLite's busy wait). `ratio`
// is molvane's wall time divided by SQLite's for the same increments.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <molvane/datetime.h>
#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_refs.h>

#include "dbc/dict/dd.h"
#include "bench_env.h"

namespace {

constexpr int kRows = 8;
constexpr int kPerHost = 50;
constexpr int kTriesPerIncrement = 200;  // bounds every retry loop

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

// One host process's increments through the server.
int MolvaneHost(int index) {
  static unsigned char row[DD_MAX_ROW_LENGTH];
  int trans = 0;
  ZDB_CURSOR *cursor = nullptr;
  // The rows refer to no department: the benchmark measures increments, so
  // its hosts write with references off.
  zdb_disable_references();
  if (zdb_init_api("server_bench", nullptr, 0, 0) != 0 || zdb_logon("bench") != 0 ||
      (trans = zdb_start_session("bench")) <= 0 || zdb_open(&cursor, "exemp010", 1, row, 0, trans) != 0)
    return 1;
  const DD_TABLE *table = ddtable("exemp010");
  const DD_COLUMN *salary = ddcolumn("exemp010.salary");
  int done = 0;
  for (int tries = 0; done < kPerHost && tries < kPerHost * kTriesPerIncrement; ++tries) {
    SetEmp(table, row, 1 + (index + done) % kRows);
    bool ok = zdb_exec_row(cursor, db_eq_locked, 0, 1) == 0 && zdb_exec_row(cursor, db_eq_delayed, 0, 1) == 0;
    if (ok) {
      float_in(float_out(row + salary->offset) + 1, row + salary->offset);
      ok = zdb_exec_row(cursor, db_update_51, 0, 1) == 0 && zdb_exec_db(commit_trans, trans) == 0;
    }
    if (ok) {
      ++done;
    } else {
      zdb_exec_db(abort_trans, trans);
      usleep(200);
    }
  }
  zdb_logoff();
  return done == kPerHost ? 0 : 2;
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
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) continue;
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

  Setup() {
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
    RunProcesses(1, [](int) {
      static unsigned char row[DD_MAX_ROW_LENGTH];
      ZDB_CURSOR *cursor = nullptr;
      zdb_disable_references();
      zdb_init_api("server_bench", nullptr, 0, 0);
      zdb_logon("bench");
      int trans = zdb_start_session("bench");
      zdb_open(&cursor, "exemp010", 1, row, 0, trans);
      zdb_exec_table(cursor, create_table, nullptr, 1);
      for (int emp = 1; emp <= kRows; ++emp) {
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
        std::to_string(kRows) + ") INSERT INTO t SELECT k, 0 FROM n";
    sqlite3_exec(anchor, sql.c_str(), nullptr, nullptr, nullptr);
    // Kept open, as the server keeps its connections: the anchor's
    // processes do not checkpoint and remove the log as the last to close.
    anchor_ = anchor;
  }
  ~Setup() {
    sqlite3_close(anchor_);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    std::filesystem::remove_all(root);
  }
  std::string Anchor() const { return root + "/anchor.db"; }
  sqlite3 *anchor_ = nullptr;
};

void BM_CommittedIncrements(benchmark::State &state) {
  const int hosts = static_cast<int>(state.range(0));
  Setup setup;
  double molvane = 0, anchor = 0;
  for (auto _ : state) {
    double m = RunProcesses(hosts, MolvaneHost);
    double a = RunProcesses(hosts, [&](int i) { return SqliteHost(setup.Anchor(), i); });
    if (m < 0 || a < 0) {
      state.SkipWithError("a host process failed");
      break;
    }
    state.SetIterationTime(m);
    molvane += m;
    anchor += a;
  }
  const double increments = static_cast<double>(hosts) * kPerHost * static_cast<double>(state.iterations());
  state.SetItemsProcessed(static_cast<std::int64_t>(increments));
  if (molvane > 0 && anchor > 0) {
    state.counters["increments/s"] = increments / molvane;
    state.counters["sqlite/s"] = increments / anchor;
    state.counters["ratio"] = molvane / anchor;
  }
}
BENCHMARK(BM_CommittedIncrements)->Arg(1)->Arg(4)->Arg(16)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
