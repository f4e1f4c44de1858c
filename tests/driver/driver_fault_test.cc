// A driver that dies in the middle of a transaction: the reference driver
// is started with "--die-at-request=N" (and "--cut-reply", which sends half
// of that reply first) for every N that a transaction reaches: attach
// (system commands, ATT_SERVER, ATT_SESSION), dictionary, table creation,
// update batch, keyed read and commit. Each try runs in a child process,
// as a process logs on once. The host
// gets an error at the step the driver died in and never hangs or crashes;
// a new driver over the same database file still holds every row that was
// committed, and a commit reported as done is never lost.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_refs.h>

#include "dbc/dict/dd.h"
#include "dbc/request/request_block.h"
#include "dbc/request/request_codes.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "support/test_env.h"

namespace {

using molvane::test::FixturePath;
using molvane::test::ScratchDir;

void IgnoreDeath(STREAM *) {}

class DriverFault : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    std::filesystem::copy(FixturePath("zuv"), root_.path(), std::filesystem::copy_options::recursive);
    root_.WriteFile("lib/tabledef1", "*::msqlite\n");
    setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
    setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
    set_zuv(root_.path().c_str());
    zdb_set_server_death_handler(IgnoreDeath);
  }

  // The driver of the following logons, with its fault options.
  void UseDriver(const std::string &options) {
    root_.WriteFile("lib/ipc_info", "msqlite child " + std::string(MOLVANE_BINARY_DIR) +
                                        "/driver/molvane-driver ${ZUV}/main.db " + options + "\n");
  }

  int Logon() {
    // The employees here reference no department: references stay off.
    zdb_disable_references();
    if (zdb_init_api("test_driver", nullptr, 0, 0) != 0 || zdb_logon("ann") != 0) return -1;
    trans_ = zdb_start_session("rows");
    if (trans_ <= 0) return -1;
    if (zdb_open(&cursor_, "exemp010", 1, row_, 0, trans_) != 0) return -1;
    table_ = ddtable("exemp010");
    return table_ != nullptr ? 0 : -1;
  }
  int CreateTable() { return zdb_exec_table(cursor_, create_table, nullptr, 1); }
  // The cursor's row buffer holds the employee over the table's defaults.
  void SetRow(int emp) {
    fill_default_row(table_, row_);
    DD_COLUMN *e = ddcolumn("exemp010.emp");
    for (int i = 0; i < 4; ++i)
      row_[e->offset + e->length - 1 - i] = static_cast<unsigned char>(emp >> (8 * i));
  }
  int Insert(int emp) {
    SetRow(emp);
    return zdb_exec_row(cursor_, db_insert, 0, 1);
  }
  int Flush() { return zdb_flush(trans_); }
  // 0 when the row of the key is stored, else -1 (zdb_errno 111: no row).
  int Read(int emp) {
    SetRow(emp);
    return zdb_exec_row(cursor_, db_eq, 0, 1);
  }
  int Commit() { return zdb_exec_db(commit_trans, trans_); }

  ScratchDir root_;
  DD_TABLE *table_ = nullptr;
  int trans_ = 0;
  ZDB_CURSOR *cursor_ = nullptr;
  unsigned char row_[DD_MAX_ROW_LENGTH] = {};
};

// Runs `body` in a child process (one logon per process) and gives its exit
// status; kHung when it outlives the time limit, kSignalled when a signal
// ended it. The child exits through exit(), so LeakSanitizer checks it.
constexpr int kHung = -1;
constexpr int kSignalled = -2;
int RunInChild(const std::function<int()> &body) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int code = body();
    std::fflush(nullptr);
    std::exit(code);
  }
  for (int waited_ms = 0; waited_ms < 60000; waited_ms += 20) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : kSignalled;
    usleep(20000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return kHung;
}

TEST_P(DriverFault, DriverDyingAtEachRequestGivesAnErrorAndLosesNoCommittedRow) {
  const bool cut = GetParam();
  // Rows 1 and 2 are committed by a sound driver.
  UseDriver("");
  ASSERT_EQ(RunInChild([&] {
              if (Logon() != 0 || CreateTable() != 0 || Insert(1) != 0 || Insert(2) != 0 ||
                  Commit() != 0)
                return 1;
              return zdb_logoff() == 0 ? 0 : 2;
            }),
            0);

  struct Step {
    const char *name;
    std::function<int(int emp)> run;
  };
  const Step steps[] = {
      {"logon and open", [&](int) { return Logon(); }},
      {"create table", [&](int) { return CreateTable(); }},
      {"update batch", [&](int emp) { return Insert(emp) == 0 ? Flush() : -1; }},
      {"keyed read", [&](int) { return Read(1); }},
      {"commit", [&](int) { return Commit(); }},
  };
  constexpr int kCompleted = 200;
  constexpr int kSilentFailure = 201;  // a step failed with zdb_errno 0
  std::set<int> died_at;               // request codes the driver died at
  std::vector<int> committed = {1, 2};
  bool completed = false;
  for (int n = 1; n <= 40 && !completed; ++n) {
    SCOPED_TRACE("driver dies at request " + std::to_string(n) + (cut ? " mid-reply" : ""));
    const int emp = 10 + n;
    UseDriver("--die-at-request=" + std::to_string(n) + (cut ? " --cut-reply" : ""));
    // The child's status: 20 x the steps that passed + the code of the
    // request that failed, kCompleted, or kSilentFailure.
    const int outcome = RunInChild([&] {
      int passed = 0;
      for (const Step &step : steps) {
        zdb_errno = 0;
        if (step.run(emp) != 0) {
          if (zdb_errno == 0) return kSilentFailure;
          return 20 * passed + (dbc_request().code & 0xFF);
        }
        ++passed;
      }
      zdb_logoff();
      return kCompleted;
    });
    ASSERT_NE(outcome, kHung) << "the host hung";
    ASSERT_NE(outcome, kSignalled) << "the host crashed";
    ASSERT_NE(outcome, kSilentFailure) << "a failure was reported as success";
    if (outcome == kCompleted) {
      completed = true;  // the driver never reached request n
      committed.push_back(emp);
    } else {
      ASSERT_GE(outcome, 0);
      ASSERT_LT(outcome, 20 * static_cast<int>(std::size(steps))) << "exit status (a leak?)";
      // A step fails only at a request that went to the driver.
      EXPECT_NE(outcome / 20, 0) << "logon and open send no request";
      died_at.insert(outcome % 20);
    }

    // A sound driver over the same file holds every committed row.
    UseDriver("");
    EXPECT_EQ(RunInChild([&] {
                if (Logon() != 0) return 1;
                for (int kept : committed)
                  if (Read(kept) != 0) return 2;
                return zdb_logoff() == 0 ? 0 : 3;
              }),
              0)
        << "a committed row was lost";
  }
  EXPECT_TRUE(completed) << "the transaction never ran to its end";
  for (int code : {ATT_SERVER, ATT_SESSION, DD_INFO_TABLE, EXE_TBL_CNTR, EXE_UPDATE, EXE_ROW_CNTR,
                   EXE_DB_CNTR})
    EXPECT_TRUE(died_at.count(code)) << "the driver never died at " << dbc_request_name(code);
}

// A driver killed after a flush, with a death handler that lets the host go
// on: later actions reach a new driver, but the transaction lost work, so
// every commit is refused with the communication error until it is
// aborted, and nothing of it is stored.
TEST_F(DriverFault, TransactionThatLostWorkWithItsDriverCommitsNothingUntilAborted) {
  UseDriver("");
  ASSERT_EQ(RunInChild([&] {
              if (Logon() != 0 || CreateTable() != 0 || Insert(1) != 0 || Commit() != 0) return 1;
              if (Insert(3) != 0 || Flush() != 0) return 2;
              const auto driver = static_cast<pid_t>(dbc_state().server_list->pid);
              if (driver <= 0) return 5;  // kill() of 0 or -1 would reach other processes
              kill(driver, SIGKILL);
              usleep(100000);
              if (Read(1) == 0) return 3;  // finds the driver gone
              for (int emp : {5, 6, 7}) {
                if (Insert(emp) != 0) return 4;
                if (Commit() == 0 || zdb_errno != ZE_COMMUNICATION) return 5;
              }
              if (zdb_exec_db(abort_trans, trans_) != 0) return 6;
              if (Insert(8) != 0 || Commit() != 0) return 7;
              return zdb_logoff() == 0 ? 0 : 8;
            }),
            0);
  EXPECT_EQ(RunInChild([&] {
              if (Logon() != 0) return 1;
              for (int emp : {3, 5, 6, 7})
                if (Read(emp) == 0 || zdb_errno != 111) return 2;
              return Read(1) == 0 && Read(8) == 0 && zdb_logoff() == 0 ? 0 : 3;
            }),
            0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DriverFault, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                           return std::string(info.param ? "ReplyCutShort" : "NoReply");
                         });

}  // namespace
