#include "bench_env.h"

#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include <molvane/zdb.h>
#include <molvane/zdb_cursor.h>

#include "dbc/actions/action_codes.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/request/rds.h"
#include "dbc/session/zdb_trans.h"

namespace molvane::bench {

std::string InProcessDriver() {
  return "msqlite library " + std::string(MOLVANE_BINARY_DIR) + "/driver/libmolvane_driver.so ${ZUV}/bench.db\n";
}

std::string ChildDriver() { return "msqlite child " + DriverProgram() + " ${ZUV}/bench.db\n"; }

std::string DriverProgram() { return std::string(MOLVANE_BINARY_DIR) + "/driver/molvane-driver"; }

std::string MakeRoot(const std::string &ipc_info) {
  char dir[] = "/tmp/molvane-bench-XXXXXX";
  std::string root = mkdtemp(dir);
  std::filesystem::copy(std::string(MOLVANE_SOURCE_DIR) + "/tests/fixtures/zuv/dict", root + "/dict",
                        std::filesystem::copy_options::recursive);
  std::filesystem::create_directories(root + "/lib");
  WriteFile(root + "/lib/ipc_info", ipc_info);
  WriteFile(root + "/lib/tabledef1", "*::msqlite\n");
  setenv("ZUV_LOG", root.c_str(), 1);
  return root;
}

void WriteFile(const std::string &path, const std::string &text) {
  std::FILE *f = std::fopen(path.c_str(), "w");
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

void FillTable(int trans, const char *name, int count,
               const std::function<void(int, DD_TABLE *, std::vector<unsigned char> &)> &fill, int compnr) {
  unsigned char host_row[DD_MAX_ROW_LENGTH] = {};
  ZDB_CURSOR *cursor = nullptr;
  zdb_open(&cursor, name, compnr, host_row, 0, trans);
  ZDB_INTERNAL_CURSOR *ic = nullptr;
  zdb_get_internal_cursor(&ic, cursor, compnr);
  DD_TABLE *table = ddtable(name);
  std::uint32_t argument = 0;
  zdb_do_exec_table(ic, table_action_word(create_table), &argument);
  std::vector<unsigned char> image(table->dlock_offset, 0);
  fill_default_row(table, image.data());
  for (int i = 1; i <= count; ++i) {
    fill(i, table, image);
    std::vector<unsigned char> record(ZDB_ACTION_HEADER, 0);
    record[3] = RDS_ACT_INSERT;
    record.insert(record.end(), image.begin(), image.end());
    zdb_do_exec_row(ic, record.data(), 0, 0);
    if (i % 10000 == 0) flush_updates(ic->tsession->session);
  }
  flush_updates(ic->tsession->session);
  zdb_do_exec_db(ic->tsession->session, db_action_word(commit_trans));
}

void TakeColumnValues(sqlite3_stmt *stmt) {
  for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
    switch (sqlite3_column_type(stmt, i)) {
      case SQLITE_INTEGER:
        benchmark::DoNotOptimize(sqlite3_column_int64(stmt, i));
        break;
      case SQLITE_FLOAT:
        benchmark::DoNotOptimize(sqlite3_column_double(stmt, i));
        break;
      default:
        benchmark::DoNotOptimize(sqlite3_column_blob(stmt, i));
        benchmark::DoNotOptimize(sqlite3_column_bytes(stmt, i));
    }
  }
}

BusyProcesses::BusyProcesses() {
  const char *n = std::getenv("MOLVANE_BENCH_BUSY");
  const int count = n != nullptr ? std::atoi(n) : 0;
  const pid_t parent = getpid();
  for (int i = 0; i < count; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(0);
      for (;;) __asm__ __volatile__("" ::: "memory");  // keeps a processor busy
    }
    if (pid > 0) pids_.push_back(pid);
  }
  if (count > 0) benchmark::AddCustomContext("busy_processes", std::to_string(pids_.size()));
}

BusyProcesses::~BusyProcesses() {
  for (pid_t pid : pids_) kill(pid, SIGKILL);
  for (pid_t pid : pids_)
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace molvane::bench
