// Memory that runs out at every allocation in turn of a logon and of a
// record transaction, all in one process: the call that meets the failure
// gives 501, leaks nothing, and leaves nothing behind that would make the
// next call fail (inprocess_sweep.h). The reference driver runs in its own
// process and is not touched.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>

#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_refs.h>

#include "dbc/audit/auditcols.h"
#include "dbc/session/dbc_settings.h"
#include "dbc/dict/dd.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/zdb_errors.h"
#include "dbc/tabledef/tabledef.h"
#include "dbc/session/zdb_trans.h"
#include "fault_env.h"
#include "inprocess_sweep.h"
#include "support/test_env.h"

namespace {

using molvane::test::UseDriverEnvironment;
using molvane::test::ScratchDir;
using molvane::test::SweepAllocations;
using molvane::test::SweepCalls;
using molvane::test::ReportSweep;
using molvane::test::SweepOutcome;

// The error a failing call left; never 0, so that a failure is not taken
// for success.
int ErrorOf(int rc) { return rc == 0 ? 0 : (zdb_errno != 0 ? zdb_errno : -1); }

constexpr int kWrong = 9999;  // a call that succeeded with a wrong answer

int InitApi() { return zdb_init_api("test_faults", nullptr, 0, 0); }

// Each try forks from the process set up for logon, so that every try meets
// a first logon (settings, audit columns, roles); the logon that follows
// the failed one in the same process must succeed, with the driver setting
// from the environment and the audit columns read.
TEST(AllocationSweep, EachAllocationOfALogonFailsWith501AndTheNextLogonSucceeds) {
  ScratchDir root;
  UseDriverEnvironment(root);
  root.WriteFile("lib/audit_cols", "exemp010:*:C:salary\n");
  setenv("ZDB_DRIVER", "msqlite", 1);
  SweepCalls calls;
  calls.fresh_process_per_try = true;
  calls.setup = [] { return InitApi(); };
  calls.step = [] {
    if (zdb_logon("ann") != 0) return ErrorOf(-1);
    const char *driver = dbc_settings().zdb_driver;
    const bool right = driver != nullptr && std::strcmp(driver, "msqlite") == 0 &&
                       audit_using_auditcols() != 0;
    return right ? 0 : kWrong;
  };
  // A logon that absorbed its failure is taken back for the clean one: a
  // process logs on once.
  calls.undo = [] {
    if (!dbc_state().logged_on) return;
    zdb_logoff();
    dbc_state().logged_on = false;
  };
  const SweepOutcome out = SweepAllocations(calls, root.path() + "/logon.log");
  unsetenv("ZDB_DRIVER");
  ReportSweep("logon", out);
  EXPECT_EQ(out.faults, "");
  EXPECT_GT(out.tries, 10);
}

// A record transaction: start, open, insert of a new employee, flush,
// commit and a keyed read of that employee. Undo closes what the calls left
// open; every call inserts an employee of its own.
class RecordTransaction {
 public:
  int Run() {
    // Tries in processes of their own share the driver's database: each
    // process numbers its employees apart from the others'.
    if (pid_ != getpid()) {
      pid_ = getpid();
      emp_ = 1000 + 16 * static_cast<int>(pid_ % 100000);
    }
    ++emp_;
    if ((trans_ = zdb_start_session("rows")) <= 0) return ErrorOf(-1);
    if (int rc = zdb_open(&cursor_, "exemp010", 1, row_, 0, trans_); rc != 0) return ErrorOf(rc);
    if (int rc = SetRow(); rc != 0) return ErrorOf(rc);
    if (int rc = zdb_exec_row(cursor_, db_insert, 0, 1); rc != 0) return ErrorOf(rc);
    if (int rc = zdb_flush(trans_); rc != 0) return ErrorOf(rc);
    if (int rc = zdb_exec_db(commit_trans, trans_); rc != 0) return ErrorOf(rc);
    if (int rc = SetRow(); rc != 0) return ErrorOf(rc);
    return ErrorOf(zdb_exec_row(cursor_, db_eq, 0, 1));
  }

  void Undo() {
    if (cursor_ != nullptr) zdb_close(cursor_);
    cursor_ = nullptr;
    if (trans_ > 0) {
      zdb_exec_db(abort_trans, trans_);
      zdb_stop_session(trans_);
    }
    trans_ = 0;
  }

 private:
  // The row buffer holds the employee (a big-endian number) over the
  // table's defaults.
  int SetRow() {
    DD_TABLE *t = ddtable("exemp010");
    DD_COLUMN *e = ddcolumn("exemp010.emp");
    if (t == nullptr || e == nullptr) return -1;
    fill_default_row(t, row_);
    for (int i = 0; i < 4; ++i)
      row_[e->offset + e->length - 1 - i] = static_cast<unsigned char>(emp_ >> (8 * i));
    return 0;
  }

  int emp_ = 1000;
  pid_t pid_ = 0;  // the process emp_ was numbered for
  int trans_ = 0;
  ZDB_CURSOR *cursor_ = nullptr;
  unsigned char row_[DD_MAX_ROW_LENGTH] = {};
};

TEST(AllocationSweep, EachAllocationOfARecordTransactionFailsWith501AndTheNextSucceeds) {
  ScratchDir root;
  UseDriverEnvironment(root);
  RecordTransaction transaction;
  SweepCalls calls;
  // The employee written references no department: references stay off.
  calls.setup = [] {
    zdb_disable_references();
    return InitApi() == 0 && zdb_logon("ann") == 0 ? 0 : -1;
  };
  calls.step = [&] { return transaction.Run(); };
  calls.undo = [&] { transaction.Undo(); };
  const SweepOutcome out = SweepAllocations(calls, root.path() + "/transaction.log");
  ReportSweep("record transaction", out);
  EXPECT_EQ(out.faults, "");
  EXPECT_GT(out.tries, 10);
}

// The first transaction after logon, each try in a process forked after
// the logon: the tries meet the driver's attach and the first requests over
// its connection. The table is loaded beforehand (the table-load sweeps
// cover its load), which keeps the tries, each attaching a driver, few.
TEST(AllocationSweep, EachAllocationOfAFirstTransactionFailsWith501AndTheNextSucceeds) {
  ScratchDir root;
  UseDriverEnvironment(root);
  RecordTransaction transaction;
  SweepCalls calls;
  calls.fresh_process_per_try = true;
  calls.setup = [] {
    zdb_disable_references();  // as in the sweep above
    if (InitApi() != 0 || zdb_logon("ann") != 0) return -1;
    return ddtable("exemp010") != nullptr && ddcolumn("exemp010.emp") != nullptr ? 0 : -1;
  };
  calls.step = [&] { return transaction.Run(); };
  calls.undo = [&] { transaction.Undo(); };
  const SweepOutcome out = SweepAllocations(calls, root.path() + "/first.log");
  ReportSweep("first transaction", out);
  EXPECT_EQ(out.faults, "");
  EXPECT_GT(out.tries, 10);
}

// The step of a sweep over a dictionary or table-definition lookup, which
// lets std::bad_alloc through to the API call that made it: 501 for it.
template <class Lookup>
int MemoryAs501(Lookup &&lookup) {
  try {
    return lookup();
  } catch (const std::bad_alloc &) {
    return ZE_MEMORY;
  }
}

// A table load that fails anywhere fails with 501 and leaves nothing that
// the next load would find: it loads the whole table, with the range of the
// column's domain and from the dump of the mode in force. The lookups are
// the exported C calls: memory that runs out comes back as null with 501,
// never as an exception (a step that throws is a fault of the sweep).
struct TableLoad {
  const char *table;
  int mode;            // init_dd_mode: 1 current dumps, 3 ".new" dumps
  const char *column;  // a column the dump of the mode has, its domain ranged
  bool by_column;      // the load comes from ddcolumn, not ddtable
};

void SweepTableLoad(const TableLoad &c) {
  ScratchDir root;
  UseDriverEnvironment(root);
  SweepCalls calls;
  calls.fresh_process_per_try = true;
  calls.setup = [&] {
    if (InitApi() != 0) return -1;
    init_dd_mode(c.mode);
    return 0;
  };
  calls.step = [&] {
    zdb_errno = 0;
    if (c.by_column) {
      if (ddcolumn(c.column) == nullptr) return ErrorOf(-1);
    } else if (ddtable(c.table) == nullptr) {
      return ErrorOf(-1);
    }
    DD_COLUMN *column = ddcolumn(c.column);
    return column != nullptr && column->domain->range != nullptr ? 0 : kWrong;
  };
  const SweepOutcome out = SweepAllocations(calls, root.path() + "/load.log");
  ReportSweep(c.table, out);
  EXPECT_EQ(out.faults, "");
  EXPECT_GT(out.tries, 10);
}

TEST(AllocationSweep, EachAllocationOfATableLoadFailsWith501AndTheNextLoadIsWhole) {
  SweepTableLoad({"exemp010", 1, "exemp010.emp", false});
}

TEST(AllocationSweep, EachAllocationOfATableLoadByColumnFailsWith501AndTheNextLoadIsWhole) {
  SweepTableLoad({"exemp010", 1, "exemp010.emp", true});
}

// In the mode of ".new" dumps: a ".new" dump that memory ran out for must
// not be replaced by the current one, and the lookup of a domain in the
// current dumps must not leave the process in their mode (the ".new" dump of
// exdep010 has the column "floor").
TEST(AllocationSweep, EachAllocationOfANewDumpLoadFailsWith501AndTheNextLoadIsOfTheNewDump) {
  SweepTableLoad({"exdep010", 3, "exdep010.floor", false});
}

// A lookup in the table-definition file that fails anywhere fails with 501,
// and the next one finds every line of the file: none is skipped.
TEST(AllocationSweep, EachAllocationOfATabledefLookupFailsWith501AndTheNextFindsTheLine) {
  ScratchDir root;
  UseDriverEnvironment(root);
  root.WriteFile("lib/tabledef1", "# drivers\nexdep010::msqlite(dep)\nexemp010::msqlite(emp)\n*::msqlite\n");
  SweepCalls calls;
  calls.fresh_process_per_try = true;
  calls.setup = [] { return InitApi(); };
  calls.step = [] {
    return MemoryAs501([] {
      for (const char *table : {"exdep010", "exemp010"}) {
        TABLEDEF result{};
        if (client_get_tabledef(table, 1, &result) != 0) return ErrorOf(-1);
        if (result.nr_server != 1 || std::string(result.server[0]->server->args) != std::string(table + 2, 3))
          return kWrong;
      }
      return 0;
    });
  };
  const SweepOutcome out = SweepAllocations(calls, root.path() + "/tabledef.log");
  ReportSweep("tabledef", out);
  EXPECT_EQ(out.faults, "");
  EXPECT_GT(out.tries, 5);
}

// Files read once per process: the company mapping and the audit hosts.
// A read that memory ran out for fails with 501 and leaves the file to be
// read again, never a mapping or host list dropped or cut short for the
// rest of the process.
TEST(AllocationSweep, EachAllocationOfAFileReadOnceFailsWith501AndTheNextReadIsWhole) {
  struct Case {
    const char *file;
    const char *text;
    int (*lookup)();  // 0 when the file's answer is right
  };
  const Case cases[] = {
      {"lib/compnr1", "ex:2:1,3\nexemp:4:5\n",
       [] {
         const unsigned short one = zdb_get_physical_compnr("exemp010", 1);
         if (one == 0xFFFF) return ErrorOf(-1);
         const unsigned short five = zdb_get_physical_compnr("exemp010", 5);
         if (five == 0xFFFF) return ErrorOf(-1);
         return one == 2 && five == 4 ? 0 : kWrong;
       }},
      {"lib/audit_hosts", "001:hostb\n*:hosta\n",
       [] {
         return MemoryAs501([] {
           char one[64], two[64];
           if (auditcols_get_audit_host(1, one, sizeof one) != 0 ||
               auditcols_get_audit_host(2, two, sizeof two) != 0)
             return ErrorOf(-1);
           return std::strcmp(one, "hostb") == 0 && std::strcmp(two, "hosta") == 0 ? 0 : kWrong;
         });
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    ScratchDir root;
    UseDriverEnvironment(root);
    root.WriteFile(c.file, c.text);
    SweepCalls calls;
    calls.fresh_process_per_try = true;
    calls.setup = [] { return InitApi(); };
    calls.step = c.lookup;
    const SweepOutcome out = SweepAllocations(calls, root.path() + "/once.log");
    ReportSweep(c.file, out);
    EXPECT_EQ(out.faults, "");
    EXPECT_GT(out.tries, 3);
  }
}

}  // namespace
