// The environment root the driver benchmarks run in: a fresh directory
// under /tmp with the fixture dictionary and every table on one driver.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "dbc/dict/dd.h"

namespace molvane::bench {

// The lib/ipc_info line of the reference driver loaded in process, and of
// the driver run as a child process; both keep their rows in bench.db of
// the root.
std::string InProcessDriver();
std::string ChildDriver();
// The driver program built beside the benchmarks.
std::string DriverProgram();

// Makes the root: the fixture dictionary in dict, lib/ipc_info holding
// `ipc_info`, lib/tabledef1 placing every table on that driver, and ZUV_LOG
// naming the root. Returns the root's path; the caller points the library
// at it with set_zuv.
std::string MakeRoot(const std::string &ipc_info);

// Writes `text` to the file at `path`.
void WriteFile(const std::string &path, const std::string &text);

// Creates `name` in company `compnr` through session `trans` and inserts
// `count` rows, committed: row i (from 1) is the image as
// `fill(i, table, image)` leaves it, the image starting as the table's
// default row. The inserts are flushed every 10,000 rows.
void FillTable(int trans, const char *name, int count,
               const std::function<void(int, DD_TABLE *, std::vector<unsigned char> &)> &fill, int compnr = 1);

// Takes the value of every column of the row `stmt` stands on, each as
// what it is stored as: what a caller that wants the row must do, and so
// what the anchors of reads do.
void TakeColumnValues(sqlite3_stmt *stmt);

// Processes that keep processors busy while the object lives, the load a
// server meets on a shared machine: MOLVANE_BENCH_BUSY=N starts N of them
// (none when unset) and names the count in the benchmark's context. They
// end with the object, or with the benchmark should it die first.
class BusyProcesses {
 public:
  BusyProcesses();
  ~BusyProcesses();
  BusyProcesses(const BusyProcesses &) = delete;
  BusyProcesses &operator=(const BusyProcesses &) = delete;

 private:
  std::vector<pid_t> pids_;
};

}  // namespace molvane::bench
