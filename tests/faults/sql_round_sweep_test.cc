// Memory that runs out at every allocation in turn of the sql_* calls after
// a statement is executed, all in one process (inprocess_sweep.h): fetching
// its rows, and closing its handle, which parks the statement and its
// executable tree in the caches. A fetch that meets the failure gives 501 in
// zdb_errno and on its handle alike; a close leaks nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include <molvane/platform.h>
#include <molvane/sql.h>
#include <molvane/zdb.h>

#include "fault_env.h"
#include "inprocess_sweep.h"
#include "support/test_env.h"

namespace {

using molvane::test::ScratchDir;
using molvane::test::SweepAllocations;
using molvane::test::SweepCalls;
using molvane::test::ReportSweep;
using molvane::test::SweepOutcome;

constexpr int kWrong = 9999;     // a call that succeeded with a wrong answer
constexpr int kMismatch = 9998;  // the handle's error is not zdb_errno

// The reference driver over the fixture dictionary, with two departments
// and four employees, three of them earning more than 150.
void UseDriverWithRows(const ScratchDir &root) {
  molvane::test::UseDriverEnvironment(root);
  ASSERT_EQ(molvane::test::InsertStaff(root), "");
}

// A join with a parameter, parsed, bound and executed with nothing failing.
class JoinStatement {
 public:
  int Setup() {
    molvane::test::InstallQuietHostCallbacks();
    if (zdb_init_api("test_faults", nullptr, 0, 0) != 0 || zdb_logon("ann") != 0) return -1;
    trans_ = zdb_start_session("sql");
    return trans_ > 0 ? Prepare() : -1;
  }
  // A new handle of the same text, executed; 0 when it is ready to fetch.
  // After the first close the statement and its executable tree come from
  // the caches, with the agent statement they used before.
  int Prepare() {
    h_ = sql_parse("SELECT e.emp, d.name FROM exemp010 e, exdep010 d "
                   "WHERE e.dept = d.code AND e.salary > :low ORDER BY e.emp",
                   static_cast<unsigned long>(trans_), 0);
    if (h_ == nullptr) return -1;
    double low = 150;
    if (sql_bind_input(h_, ":low", SQL_TYPE_REAL, 8, &low) != 0) return -1;
    return Exec();
  }
  int Exec() { return sql_exec(h_, 1) == 0 ? 0 : -1; }
  // Fetches every row: 0 for the three rows, else the error of the fetch
  // that failed, which the handle must report as zdb_errno does.
  int FetchAll() {
    int rows = 0;
    while (sql_fetch(h_) == 0) ++rows;
    if (zdb_errno == SQL_ERR_NO_MORE_ROWS) return rows == 3 ? 0 : kWrong;
    std::int32_t number = 0;
    if (sql_get_error(h_, &number, nullptr) != 0 || number != zdb_errno) return kMismatch;
    return zdb_errno != 0 ? zdb_errno : -1;
  }
  int Close() {
    QPCStatement *closing = h_;
    h_ = nullptr;
    return sql_close(closing) == 0 ? 0 : -1;
  }

 private:
  int trans_ = 0;
  QPCStatement *h_ = nullptr;
};

TEST(SqlRoundSweep, EachAllocationOfAFetchFailsWith501OnTheHandleAndInZdbErrno) {
  ScratchDir root;
  UseDriverWithRows(root);
  JoinStatement join;
  SweepCalls calls;
  calls.setup = [&] { return join.Setup(); };
  calls.step = [&] { return join.FetchAll(); };
  // The next step fetches from the same statement text on a new handle,
  // which reuses the parked statement and its agent statement: a fetch
  // whose exchange with the driver failed half way must not leave that
  // agent statement in a state the next execution trips over.
  calls.undo = [&] {
    if (join.Close() != 0 || join.Prepare() != 0) std::abort();
  };
  const SweepOutcome out = SweepAllocations(calls, root.path() + "/fetch.log");
  ReportSweep("fetch", out);
  EXPECT_EQ(out.faults, "");
  EXPECT_GT(out.tries, 0);
}

// The close parks the statement and its executable tree; memory that runs
// out while it does destroys them instead, and leaks nothing.
TEST(SqlRoundSweep, EachAllocationOfACloseLeaksNothing) {
  ScratchDir root;
  UseDriverWithRows(root);
  JoinStatement join;
  SweepCalls calls;
  calls.setup = [&] { return join.Setup(); };
  calls.step = [&] { return join.Close(); };
  calls.undo = [&] {
    if (join.Prepare() != 0) std::abort();
  };
  const SweepOutcome out = SweepAllocations(calls, root.path() + "/close.log");
  ReportSweep("close", out);
  EXPECT_EQ(out.faults, "");
  EXPECT_GT(out.tries, 0);
}

// The first execution of an UPDATE builds its request to the driver;
// memory that runs out while it does frees the SET values and the
// condition. Each try updates through a text of its own, so that no cached
// request spares the build.
TEST(SqlRoundSweep, EachAllocationOfAFirstUpdateFailsWith501AndLeaksNothing) {
  ScratchDir root;
  UseDriverWithRows(root);
  int trans = 0;
  int version = 0;
  QPCStatement *h = nullptr;
  auto parse = [&] {
    std::string text = "UPDATE exemp010 SET name = 'N" + std::to_string(++version) + "', salary = :s WHERE emp = 2";
    h = sql_parse(text.c_str(), static_cast<unsigned long>(trans), 0);
    double salary = 250;
    return h != nullptr && sql_bind_input(h, ":s", SQL_TYPE_REAL, 8, &salary) == 0 ? 0 : -1;
  };
  SweepCalls calls;
  calls.setup = [&] {
    molvane::test::InstallQuietHostCallbacks();
    if (zdb_init_api("test_faults", nullptr, 0, 0) != 0 || zdb_logon("ann") != 0) return -1;
    trans = zdb_start_session("sql");
    return trans > 0 ? parse() : -1;
  };
  calls.step = [&] {
    if (sql_exec(h, 1) != 0) return zdb_errno != 0 ? zdb_errno : -1;
    return sql_row_count(h) == 1 ? 0 : kWrong;
  };
  calls.undo = [&] {
    if (sql_close(h) != 0 || parse() != 0) std::abort();
  };
  const SweepOutcome out = SweepAllocations(calls, root.path() + "/update.log");
  ReportSweep("update", out);
  EXPECT_EQ(out.faults, "");
  EXPECT_GT(out.tries, 0);
}

}  // namespace
