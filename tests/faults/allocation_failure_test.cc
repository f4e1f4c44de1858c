// Memory that runs out at any allocation along a transaction through the C
// API: logon, start, open, insert, flush, commit and keyed read; a SELECT
// with a join and a parameter through sql_parse, sql_bind_input, sql_exec,
// sql_fetch and sql_close; and a group with HAVING, a LEFT JOIN, a UNION ALL
// with ORDER BY and an EXISTS subquery through the same calls. The Nth
// allocation of the host fails, counted over operator new and the library's
// allocator (mal_*); the reference driver runs in its own process and is
// not touched. The call that meets the failure reports error 501; the host
// never crashes, lets no exception out of the C API, and leaks nothing
// (each try runs in a child process that LeakSanitizer checks at exit).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <molvane/platform.h>
#include <molvane/sql.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_refs.h>

#include "alloc_failure.h"
#include "fault_env.h"
#include "dbc/dict/dd.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/zdb_errors.h"
#include "platform/mal.h"
#include "support/sql_host.h"
#include "support/test_env.h"

namespace {

using molvane::test::UseDriverEnvironment;
using molvane::test::ScratchDir;

// With MOLVANE_FAIL_AT, the try prints the stack of the allocation it
// fails: the mal_* hook prints it itself, operator new through the
// new-handler it calls before throwing.
bool PrintFailingStack() { return std::getenv("MOLVANE_FAIL_AT") != nullptr; }
std::new_handler g_library_handler = nullptr;
void PrintStackThenHandle() {
  std::fprintf(stderr, "=== the failing allocation (operator new):\n");
  PrintStack();
  if (g_library_handler != nullptr) g_library_handler();
  throw std::bad_alloc();
}

int FailMal(size_t) {
  if (!AllocationShouldFail()) return 0;
  if (PrintFailingStack()) {
    std::fprintf(stderr, "=== the failing allocation (library allocator):\n");
    PrintStack();
  }
  return 1;
}

// One try: the steps of a round, with the Nth allocation failing (0:
// none). Writes "<steps passed> <zdb_errno> <allocations counted>" to `out`.
class Transaction {
 public:
  Transaction(int nth, int emp) : remaining_(nth > 0 ? nth - 1 : -1), emp_(emp) {}

  void Run(const std::string &out) {
    // The employee written references no department: references stay off.
    zdb_disable_references();
    RunSteps(out, {
        [&] { return Logon(); },
        [&] { return StartSession("rows"); },
        [&] { return zdb_open(&cursor_, "exemp010", 1, row_, 0, trans_); },
        [&] { return Insert(); },
        [&] { return zdb_flush(trans_); },
        [&] { return zdb_exec_db(commit_trans, trans_); },
        [&] { return Read(); },
    });
  }

  // A SELECT with a join and a parameter through the sql_* calls: parse,
  // bind, execute, fetch every row, close. A failing call gives 501 in
  // zdb_errno and on its handle, and the handle still closes.
  void RunSql(const std::string &out) {
    molvane::test::InstallQuietHostCallbacks();
    QPCStatement *h = nullptr;
    RunSteps(out, {
        [&] { return Logon(); },
        [&] { return StartSession("sql"); },
        [&] {
          h = sql_parse("SELECT e.emp, d.name FROM exemp010 e, exdep010 d "
                        "WHERE e.dept = d.code AND e.salary > :low ORDER BY e.emp",
                        static_cast<unsigned long>(trans_), 0);
          return h != nullptr ? 0 : -1;
        },
        [&] {
          double low = 150;
          return OnHandle(h, sql_bind_input(h, ":low", SQL_TYPE_REAL, 8, &low));
        },
        [&] { return OnHandle(h, sql_exec(h, 1)); },
        [&] { return FetchAll(h, 3); },
        [&] { return Close(&h); },
    });
    if (h != nullptr && sql_close(h) != 0) std::abort();  // a failed call's handle closes
  }

  // Statements without parameters, one after the other: parse, execute,
  // fetch every row (as many as `rows`) and close each. A failing call
  // gives 501 in zdb_errno and on its handle, and the handle still closes.
  struct Query {
    const char *text;
    int rows;
  };
  void RunQueries(const std::string &out, const std::vector<Query> &queries) {
    molvane::test::InstallQuietHostCallbacks();
    QPCStatement *h = nullptr;
    std::vector<std::function<int()>> steps = {
        [&] { return Logon(); },
        [&] { return StartSession("sql"); },
    };
    for (const Query &q : queries) {
      steps.emplace_back([&] {
        h = sql_parse(q.text, static_cast<unsigned long>(trans_), 0);
        return h != nullptr ? 0 : -1;
      });
      steps.emplace_back([&] { return OnHandle(h, sql_exec(h, 1)); });
      steps.emplace_back([&] { return FetchAll(h, q.rows); });
      steps.emplace_back([&] { return Close(&h); });
    }
    RunSteps(out, steps);
    if (h != nullptr && sql_close(h) != 0) std::abort();  // a failed call's handle closes
  }

 private:
  static int Logon() { return zdb_init_api("test_faults", nullptr, 0, 0) == 0 && zdb_logon("ann") == 0 ? 0 : -1; }
  int StartSession(const char *name) { return (trans_ = zdb_start_session(name)) > 0 ? 0 : -1; }

  // The result of a call on `h`; a failure whose handle error is not
  // zdb_errno turns zdb_errno into -2, so that the try reports it.
  static int OnHandle(QPCStatement *h, int rc) {
    if (rc == 0 || h == nullptr) return rc;
    std::int32_t number = 0;
    if (sql_get_error(h, &number, nullptr) != 0 || number != zdb_errno) {
      std::fprintf(stderr, "handle error %d, zdb_errno %d\n", static_cast<int>(number), zdb_errno);
      zdb_errno = -2;
    }
    return rc;
  }
  // Fetches every row; 0 when they were `rows` and the end was reached.
  static int FetchAll(QPCStatement *h, int rows) {
    int fetched = 0;
    while (sql_fetch(h) == 0) ++fetched;
    if (zdb_errno != SQL_ERR_NO_MORE_ROWS) return OnHandle(h, -1);
    zdb_errno = 0;
    return fetched == rows ? 0 : -1;
  }
  // Closes *h; the handle is gone whatever the result.
  static int Close(QPCStatement **h) {
    QPCStatement *closing = *h;
    *h = nullptr;
    return sql_close(closing);
  }

  void RunSteps(const std::string &out, const std::vector<std::function<int()>> &steps) {
    mal_set_failure_hook(FailMal);
    int passed = 0;
    int error = 0;
    std::vector<long> perStep;
    for (const auto &step : steps) {
      zdb_errno = 0;
      int rc = -1;
      const long before = counted_;
      const bool ok = Armed([&] { rc = step(); });
      perStep.push_back(counted_ - before);
      if (!ok) {
        error = -1;  // an exception left the C API
        break;
      }
      if (rc != 0) {
        error = zdb_errno;
        break;
      }
      ++passed;
    }
    mal_set_failure_hook(nullptr);
    zdb_logoff();
    std::ofstream file(out);
    file << passed << ' ' << error << ' ' << counted_;
    for (long n : perStep) file << ' ' << n;
    file << '\n';
  }

  // Runs one library call with the failure armed where the sequence has
  // got to; false when an exception escaped.
  bool Armed(const std::function<void()> &call) {
    const int failed_before = FailedAllocations();
    // Without a failure to come, the sequence is only counted.
    FailAllocations(remaining_ >= 0 ? remaining_ : 1 << 30, 1);
    const int skips_before = PendingSkips();
    bool ok = true;
    try {
      call();
    } catch (...) {
      ok = false;
    }
    counted_ += skips_before - PendingSkips() + (FailedAllocations() - failed_before);
    if (remaining_ >= 0) remaining_ = FailedAllocations() > failed_before ? -1 : PendingSkips();
    StopFailingAllocations();
    return ok;
  }

  // The cursor's row buffer holds the employee (a big-endian number) over
  // the table's defaults.
  int SetRow() {
    DD_TABLE *t = ddtable("exemp010");
    if (t == nullptr) return -1;
    fill_default_row(t, row_);
    DD_COLUMN *e = ddcolumn("exemp010.emp");
    for (int i = 0; i < 4; ++i)
      row_[e->offset + e->length - 1 - i] = static_cast<unsigned char>(emp_ >> (8 * i));
    return 0;
  }
  int Insert() { return SetRow() == 0 ? zdb_exec_row(cursor_, db_insert, 0, 1) : -1; }
  int Read() { return SetRow() == 0 ? zdb_exec_row(cursor_, db_eq, 0, 1) : -1; }

  int remaining_;  // allocations to let through before the failing one; < 0: none
  int emp_;
  long counted_ = 0;
  int trans_ = 0;
  ZDB_CURSOR *cursor_ = nullptr;
  unsigned char row_[DD_MAX_ROW_LENGTH] = {};
};

struct Result {
  int status = -1;  // exit status of the child; kHung, or -1 when a signal ended it
  int passed = 0, error = 0;
  long counted = 0;
  std::vector<long> perStep;  // allocations counted in each step that ran
  std::string where;  // the library frames of the child's sanitizer report
  bool leakOnly = false;  // the report is of leaks alone
};

constexpr int kHung = -2;

// What a try runs.
enum class Round {
  kTransaction,  // the record calls of Transaction::Run
  kSqlJoin,      // Transaction::RunSql
  kSqlMix,       // kMixedQueries through Transaction::RunQueries
};

// A group with HAVING, a LEFT JOIN, a UNION ALL with ORDER BY and an
// EXISTS subquery over the departments A, B and C (none in C) and the
// employees 1 (A, 100), 2 (B, 200), 3 (B, 300) and 4 (A, 400).
const std::vector<Transaction::Query> kMixedQueries = {
    {"SELECT dept, COUNT(*) :n FROM exemp010 WHERE emp > 0 "
     "GROUP BY dept HAVING COUNT(*) > 1 AND SUM(salary) > 450",
     2},
    {"SELECT d.code, e.emp FROM exdep010 d LEFT OUTER JOIN exemp010 e "
     "ON e.dept = d.code AND e.salary > 250 ORDER BY d.code",
     3},
    {"SELECT code FROM exdep010 WHERE budget > 15 UNION ALL "
     "SELECT dept FROM exemp010 WHERE salary < 250 ORDER BY 1",
     4},
    {"SELECT d.name FROM exdep010 d WHERE EXISTS "
     "(SELECT * FROM exemp010 e WHERE e.dept = d.code AND e.salary > 250)",
     2},
};

// Runs one try in a child process, its standard error into a file; a try
// that takes more than 20 seconds hangs and is killed.
Result RunTry(int nth, int emp, const std::string &out, Round round = Round::kTransaction) {
  const std::string err = out + ".err";
  std::remove(out.c_str());
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    // A single try (MOLVANE_FAIL_AT) keeps its standard error on the terminal.
    if (std::getenv("MOLVANE_FAIL_AT") == nullptr &&
        std::freopen(err.c_str(), "w", stderr) == nullptr)
      std::exit(90);
    if (PrintFailingStack()) g_library_handler = std::set_new_handler(PrintStackThenHandle);
    // An exception that nothing catches shows where it came from.
    std::set_terminate([] {
      PrintStack();
      std::abort();
    });
    switch (round) {
      case Round::kTransaction: Transaction(nth, emp).Run(out); break;
      case Round::kSqlJoin: Transaction(nth, emp).RunSql(out); break;
      case Round::kSqlMix: Transaction(nth, emp).RunQueries(out, kMixedQueries); break;
    }
    std::exit(0);
  }
  Result r;
  for (int waited_ms = 0;; waited_ms += 10) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      break;
    }
    if (waited_ms > 20000) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      r.status = kHung;
      break;
    }
    usleep(10000);
  }
  std::ifstream result(out);
  result >> r.passed >> r.error >> r.counted;
  for (long n = 0; result >> n;) r.perStep.push_back(n);
  std::ifstream log(err);
  int frames = 0;
  bool leaks = false, other = false;
  for (std::string line; std::getline(log, line);) {
    leaks = leaks || line.find("LeakSanitizer: detected memory leaks") != std::string::npos;
    other = other || line.find("ERROR: AddressSanitizer") != std::string::npos ||
            line.find("runtime error") != std::string::npos;
    // Frames of the library's own sources, as the report names them.
    static const std::string kSources = std::string(MOLVANE_SOURCE_DIR) + "/src/";
    const std::size_t at = frames < 12 ? line.find(kSources) : std::string::npos;
    if (at != std::string::npos) {
      r.where += "  " + line.substr(at + kSources.size() - 4) + "\n";
      ++frames;
    }
  }
  r.leakOnly = leaks && !other && r.status == 1;
  return r;
}

// Tries every allocation of the first 150 of a clean round of `steps`
// steps, every `stride`-th allocation of the steps in `every` (0 the first
// step; a stride of 1 tries each one), and a sample of the rest. The
// variable MOLVANE_FAIL_AT=N runs the try of allocation N alone,
// MOLVANE_FAIL_EVERY=1 tries every allocation; a single try prints the
// stack of the allocation it fails. A leak, a crash or an error
// other than 501 fails the test.
void FailEachAllocation(const Result &clean, int steps, Round round, const std::string &out,
                        const std::set<int> &every = {}, int stride = 1) {
  const long counted = clean.counted;
  std::set<long> tries;
  const bool all = std::getenv("MOLVANE_FAIL_EVERY") != nullptr;
  if (const char *only = std::getenv("MOLVANE_FAIL_AT")) {
    tries.insert(std::atol(only));
  } else {
    for (long n = 1; n <= counted; n += all || n <= 150 ? 1 : counted / 150 + 1) tries.insert(n);
    long first = 1;
    for (std::size_t step = 0; step < clean.perStep.size(); ++step) {
      if (every.count(static_cast<int>(step)) != 0)
        for (long n = first; n < first + clean.perStep[step]; n += stride) tries.insert(n);
      first += clean.perStep[step];
    }
  }
  std::ostringstream wrong;
  int failures = 0;
  for (long n : tries) {
    const Result r = RunTry(static_cast<int>(n), 3 + static_cast<int>(n), out, round);
    if (r.status != 0 || (r.passed < steps && r.error != ZE_MEMORY)) {
      wrong << "allocation " << n << ": exit " << r.status << (r.leakOnly ? " (leak)" : "")
            << ", steps passed " << r.passed << ", error " << r.error << "\n" << r.where;
    }
    failures += r.passed < steps;
  }
  std::printf("allocations along the round: %ld, tried: %zu\n", counted, tries.size());
  EXPECT_EQ(wrong.str(), "");
  EXPECT_GT(failures, 0) << "no injected failure reached a caller";
}

TEST(AllocationFailure, EachAllocationAlongATransactionFailsWith501) {
  ScratchDir root;
  UseDriverEnvironment(root);
  const std::string out = root.path() + "/try.out";

  // The table, made by a try without failures, then one to count.
  ASSERT_EQ(RunTry(0, 1, out).status, 0);
  const Result clean = RunTry(0, 2, out);
  ASSERT_EQ(clean.status, 0);
  ASSERT_EQ(clean.passed, 7) << "error " << clean.error;
  ASSERT_GT(clean.counted, 10);
  FailEachAllocation(clean, 7, Round::kTransaction, out);
}

TEST(AllocationFailure, EachAllocationAlongASqlJoinFailsWith501) {
  ScratchDir root;
  UseDriverEnvironment(root);
  // Employees 2, 3 and 4 earn more than 150; the rows go in through
  // molvane-host, away from the failing allocations.
  ASSERT_EQ(molvane::test::InsertStaff(root), "");
  const std::string out = root.path() + "/try.out";
  const Result clean = RunTry(0, 0, out, Round::kSqlJoin);
  ASSERT_EQ(clean.status, 0);
  ASSERT_EQ(clean.passed, 7) << "error " << clean.error;
  // Every allocation of sql_fetch (step 5) and sql_close (step 6) is
  // tried, the others are sampled.
  FailEachAllocation(clean, 7, Round::kSqlJoin, out, {5, 6});
}

TEST(AllocationFailure, EachAllocationAlongAGroupAnOuterJoinAUnionAndASubqueryFailsWith501) {
  ScratchDir root;
  UseDriverEnvironment(root);
  ASSERT_EQ(molvane::test::InsertStaff(root, true), "");
  const std::string out = root.path() + "/try.out";
  const Result clean = RunTry(0, 0, out, Round::kSqlMix);
  const int steps = 2 + 4 * static_cast<int>(kMixedQueries.size());
  ASSERT_EQ(clean.status, 0);
  ASSERT_EQ(clean.passed, steps) << "error " << clean.error;
  // Every third allocation of each sql_exec (steps 3, 7, 11 and 15), where
  // the tree is built and optimised, is tried; the others are sampled
  // (MOLVANE_FAIL_EVERY=1 tries them all).
  FailEachAllocation(clean, steps, Round::kSqlMix, out, {3, 7, 11, 15}, 3);
}

}  // namespace
