// A driver that dies while the SQL agent serves a query: the reference
// driver is started with "--die-at-request=N" (and "--cut-reply", which
// sends half of that reply first) for every N that a round of SQL reaches:
// the first fetch of a join with a parameter (prepare, execute and fetch at
// the agent), a later fetch, an UPDATE, a DELETE and the commit. Each try
// runs in a child process. The sql_* call that meets the dead driver fails
// with an error number, never hangs or crashes; its handle closes; a new
// session of the same process reaches a restarted driver, and a new logon
// finds every committed row.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <molvane/platform.h>
#include <molvane/sql.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_refs.h>

#include "dbc/request/request_block.h"
#include "dbc/request/request_codes.h"
#include "dbc/session/zdb_attach.h"
#include "support/sql_host.h"
#include "support/test_env.h"

namespace {

using molvane::test::FixturePath;
using molvane::test::RunInChild;
using molvane::test::ScratchDir;
using molvane::test::TheSqlHost;
using Rows = std::vector<std::string>;

void IgnoreDeath(STREAM *) {}

// Employees 1..4 of company 1 in departments A, B, B, A.
const char kSeed[] =
    "logon seed\nstart seed\n"
    "table create exdep010 1\ntable create exemp010 1\n"
    "insert exdep010 1 code=A name=Alpha budget=10\n"
    "insert exdep010 1 code=B name=Beta budget=20\n"
    "commit\n"
    "insert exemp010 1 emp=1 name=Ann dept=A dcas=A drst=A dnul=A salary=100 hired=738001\n"
    "insert exemp010 1 emp=2 name=Bob dept=B dcas=B drst=B dnul=B salary=200 hired=738002\n"
    "insert exemp010 1 emp=3 name=Cid dept=B dcas=B drst=B dnul=B salary=300 hired=738003\n"
    "insert exemp010 1 emp=4 name=Dan dept=A dcas=A drst=A salary=400 hired=738004\n"
    "commit\nlogoff\n";

const char kJoin[] =
    "SELECT e.emp, d.name FROM exemp010 e, exdep010 d "
    "WHERE e.dept = d.code AND e.salary > :low ORDER BY e.emp";

class SqlDriverFault : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    std::filesystem::copy(FixturePath("zuv/dict"), root_.path() + "/dict",
                          std::filesystem::copy_options::recursive);
    root_.WriteFile("lib/tabledef1", "*::msqlite\n");
    setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
    setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
    UseDriver("");
    ASSERT_EQ(molvane::test::RunHostScript(root_.path(), kSeed), "");
  }

  // The driver of the following connections, with its fault options.
  void UseDriver(const std::string &options) {
    root_.WriteFile("lib/ipc_info", "msqlite child " + std::string(MOLVANE_BINARY_DIR) +
                                        "/driver/molvane-driver ${ZUV}/main.db " + options + "\n");
  }

  // Logon of this process and a session; 0 when both succeed.
  int Logon() {
    set_zuv(root_.path().c_str());
    zdb_set_server_death_handler(IgnoreDeath);
    if (zdb_init_api("test_sql_fault", nullptr, 0, 0) != 0) return -1;
    // Without the client's reference work SQL may delete employees.
    zdb_disable_references();
    molvane::test::InstallSqlHost();
    if (zdb_logon("ann") != 0) return -1;
    trans_ = zdb_start_session("sql");
    return trans_ > 0 ? 0 : -1;
  }

  // The next row of `h` into *row; the sql_fetch result.
  static int FetchOne(QPCStatement *h, std::string *row) {
    TheSqlHost().row.clear();
    const int rc = sql_fetch(h);
    *row = TheSqlHost().row;
    return rc;
  }

  // Every row of a query in session `trans`, or "error N" as its last row.
  static Rows Query(int trans, const char *text) {
    Rows rows;
    QPCStatement *h = sql_parse(text, static_cast<unsigned long>(trans), 0);
    if (h == nullptr) return {"error " + std::to_string(zdb_errno)};
    if (sql_exec(h, 1) != 0) {
      rows.push_back("error " + std::to_string(zdb_errno));
    } else {
      for (std::string row; FetchOne(h, &row) == 0;) rows.push_back(row);
      if (zdb_errno != SQL_ERR_NO_MORE_ROWS && zdb_errno != SQL_ERR_NO_ROWS)
        rows.push_back("error " + std::to_string(zdb_errno));
    }
    sql_close(h);
    return rows;
  }

  // A change statement run to its end; 0, or -1 with zdb_errno. No row
  // touched (111) counts as done: a commit of an earlier try took them.
  int Change(const char *text) {
    QPCStatement *h = sql_parse(text, static_cast<unsigned long>(trans_), 0);
    if (h == nullptr) return -1;
    int rc = sql_exec(h, 1);
    if (rc != 0 && zdb_errno == SQL_ERR_NO_ROWS) rc = 0;
    const int error = zdb_errno;
    if (sql_close(h) != 0) return kCloseFailed;
    zdb_errno = error;
    return rc;
  }

  // Every employee, or without the one that the round deletes once a try
  // has sent its commit.
  bool Intact(const Rows &rows) const {
    return rows == Rows{"1", "2", "3", "4"} || (commit_sent_ && rows == Rows{"1", "2", "3"});
  }
  // The rows of the join, a prefix when the fetch failed.
  bool JoinRows(const Rows &got, bool whole) const {
    const auto fits = [&](const Rows &all) {
      return got.size() <= all.size() && std::equal(got.begin(), got.end(), all.begin()) &&
             (!whole || got.size() == all.size());
    };
    return fits({"2|Beta", "3|Beta", "4|Alpha"}) || (commit_sent_ && fits({"2|Beta", "3|Beta"}));
  }

  static constexpr int kCloseFailed = -2;
  bool commit_sent_ = false;  // a try sent its commit (which deletes employee 4)
  ScratchDir root_;
  int trans_ = 0;
  QPCStatement *select_ = nullptr;
};

TEST_P(SqlDriverFault, DriverDyingAtEachSqlRequestGivesAnErrorAndLosesNoCommittedRow) {
  const bool cut = GetParam();
  enum Step { kLogon, kFirstFetch, kLaterFetch, kUpdate, kDelete, kCommit, kSteps };
  // Child status: 100 + 10 x the step that failed + 1 when the driver was
  // serving an SQL_MESSAGE, or one of these.
  constexpr int kCompleted = 200;
  constexpr int kSilentFailure = 201;  // a call failed with zdb_errno 0
  constexpr int kCloseRefused = 202;   // the handle of the failed call did not close
  constexpr int kNoNewSession = 203;   // no new session after the failure
  constexpr int kRowsLost = 204;       // the new session misses committed rows
  constexpr int kWrongRows = 205;      // the query delivered wrong rows before the failure
  std::set<int> failed_at;             // steps that met the dead driver at an SQL request
  bool completed = false;
  for (int n = 1; n <= 60 && !completed; ++n) {
    SCOPED_TRACE("driver dies at request " + std::to_string(n) + (cut ? " mid-reply" : ""));
    UseDriver("--die-at-request=" + std::to_string(n) + (cut ? " --cut-reply" : ""));
    const int outcome = RunInChild([&] {
      int step = kLogon;
      int rc = Logon();
      Rows got;
      std::string row;
      if (rc == 0) {
        ++step;
        select_ = sql_parse(kJoin, static_cast<unsigned long>(trans_), 0);
        double low = 150;
        rc = select_ != nullptr && sql_bind_input(select_, ":low", SQL_TYPE_REAL, 8, &low) == 0 &&
                     sql_set_rds_full(select_, 1) == 0 && sql_exec(select_, 1) == 0
                 ? FetchOne(select_, &row)
                 : -1;
        if (rc == 0) got.push_back(row);
      }
      if (rc == 0) {
        ++step;
        while ((rc = FetchOne(select_, &row)) == 0) got.push_back(row);
        if (zdb_errno == SQL_ERR_NO_MORE_ROWS) rc = 0;
      }
      // What arrived before a failure is a prefix of the rows; a fetch
      // that ends gives them all.
      if (!JoinRows(got, rc == 0 && step == kLaterFetch)) return kWrongRows;
      if (select_ != nullptr) {
        const int error = zdb_errno;
        if (sql_close(select_) != 0) return kCloseRefused;
        zdb_errno = error;
      }
      if (rc == 0) {
        ++step;
        rc = Change("UPDATE exemp010 SET salary = 333 WHERE emp = 3");
      }
      if (rc == 0) {
        ++step;
        rc = Change("DELETE FROM exemp010 WHERE emp = 4");
      }
      if (rc == 0) {
        ++step;
        rc = zdb_exec_db(commit_trans, trans_);
      }
      if (rc == kCloseFailed) return kCloseRefused;
      if (rc == 0) {
        zdb_logoff();
        return kCompleted;
      }
      if (zdb_errno == 0) return kSilentFailure;
      const bool sql = (dbc_request().code & 0xFF) == SQL_MESSAGE;
      if (step == kLogon) return 100 + 10 * step + (sql ? 1 : 0);
      // A new session of this process reaches a sound driver.
      UseDriver("");
      trans_ = zdb_start_session("again");
      if (trans_ <= 0) return kNoNewSession;
      commit_sent_ = commit_sent_ || step == kCommit;
      if (!Intact(Query(trans_, "SELECT emp FROM exemp010 ORDER BY emp"))) return kRowsLost;
      zdb_logoff();
      return 100 + 10 * step + (sql ? 1 : 0);
    });
    ASSERT_NE(outcome, molvane::test::kChildHung) << "the host hung";
    ASSERT_NE(outcome, molvane::test::kChildSignalled) << "the host crashed";
    ASSERT_NE(outcome, kSilentFailure) << "a failure was reported as success";
    ASSERT_NE(outcome, kCloseRefused) << "the handle did not close";
    ASSERT_NE(outcome, kNoNewSession) << "no new session after the driver died";
    ASSERT_NE(outcome, kRowsLost) << "the new session misses committed rows";
    ASSERT_NE(outcome, kWrongRows) << "wrong rows before the failure";
    if (outcome == kCompleted) {
      completed = true;  // the driver never reached request n
      commit_sent_ = true;
    } else {
      ASSERT_GE(outcome, 100) << "exit status (a leak?)";
      ASSERT_LT(outcome, 100 + 10 * kSteps);
      if (outcome % 10 == 1) failed_at.insert((outcome - 100) / 10);
      // The driver may have committed before it died.
      if ((outcome - 100) / 10 == kCommit) commit_sent_ = true;
    }

    // A new logon over a sound driver finds every committed row.
    UseDriver("");
    Rows kept;
    EXPECT_EQ(RunInChild([&] {
                if (Logon() != 0) return 1;
                kept = Query(trans_, "SELECT emp FROM exemp010 ORDER BY emp");
                if (!Intact(kept)) return 2;
                return zdb_logoff() == 0 ? 0 : 3;
              }),
              0)
        << "a committed row was lost";
  }
  EXPECT_TRUE(completed) << "the round never ran to its end";
  for (int step : {kFirstFetch, kLaterFetch, kUpdate, kDelete})
    EXPECT_TRUE(failed_at.count(step)) << "the driver never died at an SQL request of step " << step;
}

INSTANTIATE_TEST_SUITE_P(Kinds, SqlDriverFault, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                           return std::string(info.param ? "ReplyCutShort" : "NoReply");
                         });

}  // namespace
