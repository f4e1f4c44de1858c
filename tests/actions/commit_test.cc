// Commits over two drivers and an audit driver: a flush that fails aborts
// every driver session and reports the flush's error; a driver killed at a
// step of the commit gives the host an error and aborts the sessions still
// to be asked, and a new host process then sees every row committed before
// and none of the failed transaction's (see the one exception below);
// transaction-notification rows follow the audit driver's commit reply.
#include <signal.h>
#include <sys/wait.h>

#include <cstring>
#include <string>

#include <molvane/zdb_detail.h>
#include <molvane/zdb_dlock.h>

#include "actions_env.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"

namespace molvane::test {
namespace {

int Count(const std::string &text, const std::string &what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class Commits : public ActionsTest {
 protected:
  void SetUp() override {
    ActionsTest::SetUp();
    Logon();
    // exdep010 is served by msqlite, tttxt010 by msqltwo.
    Create("exdep010", {1});
    Create("tttxt010", {1});
    Seed("exdep010", 1, {{{"code", "K"}, {"name", "Kept"}}});
    Seed("tttxt010", 1, {{{"clan", "k"}, {"text", "kept"}}});
    dep_ = Open("exdep010");
    txt_ = Open("tttxt010");
  }
  // Buffers the failed transaction's rows on both drivers.
  void BufferRows() {
    Load(Row("tttxt010", {{"clan", "f"}, {"text", "failed"}}));
    ASSERT_EQ(zdb_exec_row(txt_, db_insert_51, 0, 1), 0) << zdb_errno;
    Load(Row("exdep010", {{"code", "F"}, {"name", "Failed"}}));
    ASSERT_EQ(zdb_exec_row(dep_, db_insert_51, 0, 1), 0) << zdb_errno;
  }
  ZDB_SERVER *Server(ZDB_CURSOR *cursor) { return ServerOf(Chain(cursor, 1)); }
  std::string Trace(int action) {
    dbc_state().debug = ZDB_DEBUG_REQUESTS;
    testing::internal::CaptureStderr();
    rc_ = zdb_exec_db(action, trans_);
    error_ = zdb_errno;
    dbc_state().debug = 0;
    return testing::internal::GetCapturedStderr();
  }
  // What a new host process reads of the four rows.
  std::string ReadBack() {
    return RunHost(
        "logon ann\nstart check\nread exdep010 1 code=K\nread exdep010 1 code=F\n"
        "read tttxt010 1 clan=k\nread tttxt010 1 clan=f\n");
  }

  ZDB_CURSOR *dep_ = nullptr;
  ZDB_CURSOR *txt_ = nullptr;
  int rc_ = 0;
  int error_ = 0;
};

bool Shows(const std::string &out, const std::string &row) {
  return out.find(row) != std::string::npos;
}

TEST_F(Commits, FailedFlushAbortsEverySessionWithTheFlushError) {
  // The text row reaches its driver first; the duplicate key then fails.
  Load(Row("tttxt010", {{"clan", "f"}}));
  ASSERT_EQ(zdb_exec_row(txt_, db_insert_51, 0, 1), 0);
  ASSERT_EQ(zdb_flush(trans_), 0) << zdb_errno;
  Load(Row("exdep010", {{"code", "K"}}));
  ASSERT_EQ(zdb_exec_row(dep_, db_eq_delayed, 0, 1), 0);
  Load(Row("exdep010", {{"code", "K"}}));
  ASSERT_EQ(zdb_exec_row(dep_, db_insert_51, 0, 1), 0);
  std::string trace = Trace(commit_trans);
  EXPECT_EQ(rc_, -1);
  EXPECT_EQ(error_, ZE_BUFFERED_UPDATE);
  EXPECT_EQ(zdb_get_detail_error(nullptr, nullptr, nullptr, trans_), ZE_DUPLICATE_VALUE);
  EXPECT_EQ(zdb_errno, ZE_BUFFERED_UPDATE);  // reading the detail keeps the number
  EXPECT_EQ(Count(trace, "action (3)abort_trans"), 2) << trace;
  EXPECT_EQ(Count(trace, "action (1)commit_trans"), 0) << trace;
  // The delayed locks ended as an abort.
  const unsigned char *image = nullptr;
  Load(Row("exdep010", {{"code", "K"}}));
  EXPECT_EQ(zdb_check_row_dlocked(dep_, row_, 1), 0);
  EXPECT_EQ(zdb_retrieve_dlock_row(dep_, row_, &image), -1);
  EXPECT_EQ(ReadIn("tttxt010", 1, {{"clan", "f"}}), 111);
}

// The host's commit goes through the same road: after its failure nothing of
// the transaction is left open for a later commit to take along.
TEST_F(Commits, HostCommitThatFailsLeavesNothingForTheNextCommit) {
  std::string out = RunHost(
      "logon ann\nstart t\ninsert tttxt010 1 clan=h\nflush\ninsert exdep010 1 code=K\n"
      "! commit\ncommit\nread tttxt010 1 clan=h\n");
  EXPECT_NE(out.find("error 520 (buffered update failed): the update of exdep010001 failed with "
                     "error 100 (duplicate key): Duplicate key code = K in exdep010001 (index 1)\n"
                     "committed\n"
                     "error 111 (no record found): No record found in tttxt010001 (db_eq on index 1, "
                     "key ctxt = 0, clan = h, seqe = 0)\n"),
            std::string::npos)
      << out;
}

struct Kill {
  const char *name;
  bool flushed_before;  // the rows reached the drivers before the commit
  bool kill_text;       // kill msqltwo (asked first), else msqlite (asked second)
  bool read_before;     // a read on the dead driver fails before the commit
};

class KilledDriver : public Commits, public testing::WithParamInterface<Kill> {};

TEST_P(KilledDriver, HostGetsAnErrorAndTheOtherSessionsAbort) {
  const Kill &k = GetParam();
  BufferRows();
  if (k.flushed_before) {
    ASSERT_EQ(zdb_flush(trans_), 0) << zdb_errno;
  }
  ZDB_CURSOR *victim_cursor = k.kill_text ? txt_ : dep_;
  ZDB_SERVER *victim = Server(victim_cursor);
  auto pid = static_cast<pid_t>(victim->pid);
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  waitpid(pid, nullptr, 0);
  if (k.read_before) {
    // The host ignores this failure; the commit must not.
    Load(k.kill_text ? Row("tttxt010", {{"clan", "k"}}) : Row("exdep010", {{"code", "K"}}));
    EXPECT_EQ(zdb_exec_row(victim_cursor, db_eq, 0, 1), -1);
  }
  std::string trace = Trace(commit_trans);
  EXPECT_EQ(rc_, -1);
  EXPECT_NE(error_, 0);
  // Without a two-phase commit, a driver that committed before another one
  // died keeps what it committed: msqltwo is asked first.
  bool text_committed = k.flushed_before && !k.kill_text && !k.read_before;
  EXPECT_EQ(Count(trace, "action (1)commit_trans"),
            !k.flushed_before || k.read_before ? 0 : (k.kill_text ? 1 : 2))
      << trace;

  std::string out = ReadBack();
  EXPECT_TRUE(Shows(out, "name=\"Kept\"")) << out;
  EXPECT_TRUE(Shows(out, "text=\"kept\"")) << out;
  EXPECT_FALSE(Shows(out, "name=\"Failed\"")) << out;
  EXPECT_EQ(Shows(out, "text=\"failed\""), text_committed) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, KilledDriver,
    testing::Values(Kill{"FlushOnTheFirstDriver", false, true, false},
                    Kill{"FlushOnTheSecondDriver", false, false, false},
                    Kill{"CommitOnTheFirstDriver", true, true, false},
                    Kill{"CommitOnTheSecondDriver", true, false, false},
                    Kill{"LostBeforeTheCommitOnTheFirstDriver", true, true, true},
                    Kill{"LostBeforeTheCommitOnTheSecondDriver", true, false, true}),
    [](const testing::TestParamInfo<Kill> &info) { return std::string(info.param.name); });

class Notifications : public ActionsTest {
 protected:
  void SetUp() override {
    ActionsTest::SetUp();
    Logon();
    Create("exdep010", {1, 900});
    Create("ttaud110", {0});
  }
  int Notes() {
    ZDB_CURSOR *cursor = Open("ttaud110");
    int count = -1;
    EXPECT_EQ(zdb_exec_table(cursor, nr_rows, &count, 0), 0) << zdb_errno;
    zdb_close(cursor);
    return count;
  }
};

// A driver killed at the audit step or at the notification step: the
// commit fails and the rows on the normal drivers are not committed. (The
// audit driver commits before the notification rows are written.)
TEST_F(Notifications, KilledAtTheAuditOrNotificationStep) {
  for (const char *victim : {"audit", "notes"}) {
    SCOPED_TRACE(victim);
    ZDB_CURSOR *dep = Open("exdep010");
    std::string code = std::string(victim) == "audit" ? "X" : "Y";
    Load(Row("exdep010", {{"code", code}}));
    ASSERT_EQ(zdb_exec_row(dep, db_insert, 0, 900), 0) << zdb_errno;
    ZDB_INTERNAL_CURSOR *ic = Chain(dep, 900);
    ZDB_SERVER *server = std::string(victim) == "audit" ? ServerOf(ic->company->audit)
                                                        : ServerOf(Chain(Open("ttaud110"), 0));
    ASSERT_TRUE(zdb_server_attached(server));
    auto pid = static_cast<pid_t>(server->pid);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(zdb_exec_db(commit_trans, trans_), -1);
    // The audit driver's failure, or the notification rows' 254.
    EXPECT_EQ(zdb_errno, std::string(victim) == "audit" ? ZE_COMMUNICATION : ZE_TNR_FAILED);
    std::string out = RunHost("logon ann\nstart check\nread exdep010 900 code=" + code + "\n");
    EXPECT_NE(out.find("error 111"), std::string::npos) << out;
  }
}

TEST_F(Notifications, AuditedCommitWritesOneRowPerListedTable) {
  int before = Notes();
  // Company 1 has no audit copy: its commit lists nothing.
  Seed("exdep010", 1, {{{"code", "A"}}});
  EXPECT_EQ(Notes(), before);
  Seed("exdep010", 900, {{{"code", "A"}}, {{"code", "B"}}});
  EXPECT_EQ(Notes(), before + 1);
  EXPECT_TRUE(zdb_get_trans_by_id(trans_)->audit_list.empty());
}

}  // namespace
}  // namespace molvane::test

namespace molvane::test {
namespace {

// Rows buffered through a cursor that is closed before the commit are sent
// by the commit (and dropped by an abort); a cursor opened again on the
// table goes on with them.
TEST_F(Commits, ACursorClosedBeforeTheCommitKeepsItsBufferedRows) {
  struct Case {
    int end;
    bool reopen;
    bool kept;
  } cases[] = {{commit_trans, false, true}, {abort_trans, false, false}, {commit_trans, true, true}};
  int n = 0;
  for (const Case &c : cases) {
    std::string code = "N" + std::to_string(n++);
    SCOPED_TRACE(code);
    ZDB_CURSOR *cursor = Open("exdep010");
    Load(Row("exdep010", {{"code", code}}));
    ASSERT_EQ(zdb_exec_row(cursor, db_insert_51, 0, 1), 0) << zdb_errno;
    zdb_close(cursor);
    if (c.reopen) cursor = Open("exdep010");
    ASSERT_EQ(zdb_exec_db(c.end, trans_), 0) << zdb_errno;
    if (c.reopen) zdb_close(cursor);
    EXPECT_EQ(ReadIn("exdep010", 1, {{"code", code}}), c.kept ? 0 : 111);
  }
}

}  // namespace
}  // namespace molvane::test
