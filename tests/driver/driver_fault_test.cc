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
#include <molvane/zdb_cursor.h>

#include "dbc/action_codes.h"
#include "dbc/dd.h"
#include "dbc/request_block.h"
#include "dbc/request_codes.h"
#include "dbc/rds.h"
#include "dbc/zdb_attach.h"
#include "dbc/zdb_cursor.h"
#include "dbc/zdb_exec.h"
#include "dbc/zdb_server.h"
#include "support/test_env.h"

namespace {

using molvane::test::FixturePath;
using molvane::test::ScratchDir;
using Image = std::vector<unsigned char>;

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
    if (zdb_init_api("test_driver", nullptr, 0, 0) != 0 || zdb_logon("ann") != 0) return -1;
    trans_ = zdb_start_session("rows");
    if (trans_ <= 0) return -1;
    if (zdb_open(&cursor_, "exemp010", 1, row_, 0, trans_) != 0) return -1;
    table_ = ddtable("exemp010");
    return table_ != nullptr ? 0 : -1;
  }
  ZDB_INTERNAL_CURSOR *Cursor() {
    ZDB_INTERNAL_CURSOR *ic = nullptr;
    return zdb_get_internal_cursor(&ic, cursor_, 1) == 0 ? ic : nullptr;
  }
  ZDB_SESSION *Session() {
    ZDB_INTERNAL_CURSOR *ic = Cursor();
    return ic != nullptr && ic->tsession != nullptr ? ic->tsession->session : nullptr;
  }
  int CreateTable() {
    std::uint32_t argument = 0;
    ZDB_INTERNAL_CURSOR *ic = Cursor();
    return ic == nullptr ? -1 : zdb_do_exec_table(ic, table_action_word(create_table), &argument);
  }
  Image Row(int emp, const char *name) {
    Image image(table_->dlock_offset, 0);
    fill_default_row(table_, image.data());
    DD_COLUMN *e = ddcolumn("exemp010.emp");
    image[e->offset + e->length - 1] = static_cast<unsigned char>(emp);
    DD_COLUMN *n = ddcolumn("exemp010.name");
    std::memset(image.data() + n->offset, ' ', n->length);
    std::memcpy(image.data() + n->offset, name, std::strlen(name));
    return image;
  }
  int Insert(int emp) {
    std::vector<unsigned char> record(ZDB_ACTION_HEADER, 0);
    record[3] = RDS_ACT_INSERT;
    const Image image = Row(emp, "kept");
    record.insert(record.end(), image.begin(), image.end());
    ZDB_INTERNAL_CURSOR *ic = Cursor();
    return ic == nullptr ? -1 : zdb_do_exec_row(ic, record.data(), 0, 0);
  }
  int Flush() {
    ZDB_SESSION *s = Session();
    return s == nullptr ? -1 : flush_updates(s);
  }
  // 0 when the row of the key is stored, else -1 (zdb_errno 111: no row).
  int Read(int emp) {
    std::vector<unsigned char> buf(DD_MAX_ROW_LENGTH, 0);
    const Image probe = Row(emp, "");
    zdb_extract_key(buf.data(), probe.data(), key_desc(table_, 1));
    auto length = static_cast<std::uint16_t>(_zdb_key_size(key_desc(table_, 1)->parts));
    ZDB_INTERNAL_CURSOR *ic = Cursor();
    if (ic == nullptr) return -1;
    return zdb_do_exec_read_eq(ic->company->read, 0, buf.data(), &length, buf.size(), nullptr, 1);
  }
  int Commit() {
    ZDB_SESSION *s = Session();
    if (s == nullptr || flush_updates(s) != 0) return -1;
    return zdb_do_exec_db(s, db_action_word(commit_trans));
  }

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

INSTANTIATE_TEST_SUITE_P(Kinds, DriverFault, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                           return std::string(info.param ? "ReplyCutShort" : "NoReply");
                         });

}  // namespace
