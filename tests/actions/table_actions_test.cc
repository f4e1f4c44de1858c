// Table and transaction actions: clear_table inside and at the end of a
// transaction, lock_table and what a transaction end clears, trans_not_active
// with buffered rows, invalid transaction ids, drop_table on a mapped
// company, driver commands of a transaction.
#include <cstring>
#include <string>

#include "actions_env.h"
#include "dbc/request/request_codes.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "support/log_capture.h"

namespace molvane::test {
namespace {

class TableActions : public ActionsTest {
 protected:
  void SetUp() override {
    ActionsTest::SetUp();
    // Company 150 of exdep is company 100 where the rows live.
    root_.WriteFile("lib/compnr1", "exdep:100:150\n");
    Logon();
    Create("exdep010", {1, 100});
    Seed("exdep010", 1, {{{"code", "A"}}, {{"code", "B"}}});
    cursor_ = Open("exdep010");
  }
  int Rows() {
    int count = -1;
    EXPECT_EQ(zdb_exec_table(cursor_, nr_rows, &count, 1), 0) << zdb_errno;
    return count;
  }
  ZDB_TRANS *Trans() const { return zdb_get_trans_by_id(trans_); }
  ZDB_CURSOR *cursor_ = nullptr;
};

TEST_F(TableActions, ClearInsideTheTransactionOrEndingIt) {
  int mode = 0;
  ASSERT_EQ(zdb_exec_table(cursor_, clear_table, &mode, 1), 0) << zdb_errno;
  EXPECT_EQ(Rows(), 0);
  ASSERT_EQ(zdb_exec_db(abort_trans, trans_), 0);
  EXPECT_EQ(Rows(), 2);  // the clear was part of the transaction
  mode = 1;
  ASSERT_EQ(zdb_exec_table(cursor_, clear_table, &mode, 1), 0) << zdb_errno;
  ASSERT_EQ(zdb_exec_db(abort_trans, trans_), 0);
  EXPECT_EQ(Rows(), 0);  // the clear committed
}

TEST_F(TableActions, LockLastsUntilTheTransactionEnds) {
  int argument = 0;
  ASSERT_EQ(zdb_exec_table(cursor_, lock_table, &argument, 1), 0) << zdb_errno;
  ZDB_INTERNAL_CURSOR *ic = Chain(cursor_, 1);
  EXPECT_TRUE(ic->company->row_state & ZDB_ROW_TABLE_LOCKED);
  EXPECT_TRUE(ic->tsession->flags & ZDB_TS_LOCKED);
  ASSERT_EQ(Trans()->touched.size(), 1u);
  // Another transaction cannot lock a row of the locked table.
  int other = zdb_start_session("other");
  ZDB_CURSOR *theirs = Open("exdep010", other);
  Load(Row("exdep010", {{"code", "A"}}));
  EXPECT_EQ(zdb_exec_row(theirs, db_eq_locked, 0, 1), -1);
  EXPECT_EQ(zdb_errno, 107);
  ASSERT_EQ(zdb_exec_db(commit_trans, trans_), 0) << zdb_errno;
  EXPECT_FALSE(ic->company->row_state & ZDB_ROW_TABLE_LOCKED);
  EXPECT_FALSE(ic->tsession->flags & (ZDB_TS_LOCKED | ZDB_TS_TOUCHED));
  EXPECT_TRUE(Trans()->touched.empty());
  Load(Row("exdep010", {{"code", "A"}}));
  EXPECT_EQ(zdb_exec_row(theirs, db_eq_locked, 0, 1), 0) << zdb_errno;
}

TEST_F(TableActions, NotActiveRefusesBufferedRows) {
  EXPECT_EQ(zdb_exec_db(trans_not_active, trans_), 0) << zdb_errno;
  Load(Row("exdep010", {{"code", "C"}}));
  ASSERT_EQ(zdb_exec_row(cursor_, db_insert_51, 0, 1), 0);
  EXPECT_EQ(zdb_exec_db(trans_not_active, trans_), -1);
  EXPECT_EQ(zdb_errno, ZE_IN_TRANSACTION);
  EXPECT_STREQ(get_zdb_msg(),
               "Action not allowed within transaction: trans_not_active while buffered updates "
               "wait; commit or abort first");
  ASSERT_EQ(zdb_exec_db(abort_trans, trans_), 0);
  EXPECT_EQ(zdb_exec_db(trans_not_active, trans_), 0) << zdb_errno;
}

TEST_F(TableActions, InvalidTransactionIdsAreRefused) {
  struct Call {
    const char *name;
    int (*run)(int id);
  } calls[] = {
      {"commit", [](int id) { return zdb_exec_db(commit_trans, id); }},
      {"flush", [](int id) { return zdb_flush(id); }},
      {"session", [](int id) { return zdb_exec_transaction(SESS_RENAME, "x", 1, id); }},
      {"server", [](int id) { return zdb_exec_server(SYS_SYSTEM_INFO, "", 0, id); }},
  };
  for (const Call &c : calls) {
    for (int id : {0, 77, 256}) {
      LogCapture log;
      reset_zdb_msg();
      EXPECT_EQ(c.run(id), -1) << c.name << " " << id;
      EXPECT_EQ(zdb_errno, ZE_INVALID_SESSION) << c.name;
      const std::string text = "Invalid transaction id " + std::to_string(id) +
                               " specified: it is not in use (never started, or stopped already); "
                               "use an id that zdb_start_session returned";
      EXPECT_EQ(get_zdb_msg(), text) << c.name;
      EXPECT_TRUE(log.Contains("Invalid transaction", text)) << c.name << log.Dump();
    }
    EXPECT_EQ(c.run(trans_), 0) << c.name << " " << zdb_errno;
  }
  EXPECT_EQ(zdb_exec_db(42, trans_), -1);
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_ARGUMENT);
  EXPECT_STREQ(get_zdb_msg(),
               "Illegal argument: 42 is no transaction action (enum ZDB_DB_ACTION of <molvane/zdb.h>: "
               "1 to 9)");
}

TEST_F(TableActions, DropOnAMappedCompanyIsRefused) {
  int argument = 0;
  LogCapture log;
  EXPECT_EQ(zdb_exec_table(cursor_, drop_table, &argument, 150), -1);
  EXPECT_EQ(zdb_errno, ZE_MAPPED_COMPNR);
  const char kMapped[] = "Unallowed operation (drop_table) for mapped compnr (100 mapped to 150): "
                         "run it on the physical company";
  EXPECT_STREQ(get_zdb_msg(), kMapped);
  EXPECT_TRUE(log.Contains("compnr", kMapped)) << log.Dump();
  EXPECT_EQ(zdb_get_phys_compnr(cursor_, 150), 100);
  // Rows of company 150 are the rows of company 100.
  Load(Row("exdep010", {{"code", "M"}}));
  ASSERT_EQ(zdb_exec_row(cursor_, db_insert, 0, 150), 0) << zdb_errno;
  Load(Row("exdep010", {{"code", "M"}}));
  EXPECT_EQ(zdb_exec_row(cursor_, db_eq, 0, 100), 0) << zdb_errno;
  EXPECT_EQ(RowCompnr("exdep010"), 100);
}

TEST_F(TableActions, UnknownCompanyOfATableAction) {
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "exdep010", -1, row_, 0, trans_), 0);
  int argument = 0;
  LogCapture log;
  EXPECT_EQ(zdb_exec_table(cursor, nr_rows, &argument, 0xFFFF), -1);
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_COMPNR);
  const char kNone[] = "No company number for nr_rows on exdep010: the action passed 0xFFFF and the "
                       "cursor has no default company";
  EXPECT_STREQ(get_zdb_msg(), kNone);
  EXPECT_TRUE(log.Contains("No Compnr", kNone)) << log.Dump();
}

}  // namespace
}  // namespace molvane::test

namespace molvane::test {
namespace {

TEST_F(TableActions, ValidIdWithoutARecordHasNothingToDo) {
  constexpr int kId = 200;
  ZDB_TRANS *trans = nullptr;
  dbc_state().id_in_use[kId] = true;
  ASSERT_EQ(zdb_get_trans(kId, &trans), 2);
  dbc_state().debug = ZDB_DEBUG_REQUESTS;
  testing::internal::CaptureStderr();
  EXPECT_EQ(zdb_exec_db(commit_trans, kId), 0);
  EXPECT_EQ(zdb_flush(kId), 0);
  EXPECT_EQ(zdb_exec_transaction(SESS_RENAME, "x", 1, kId), 0);
  EXPECT_EQ(zdb_exec_server(SYS_SYSTEM_INFO, "", 0, kId), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  dbc_state().debug = 0;
  dbc_state().id_in_use[kId] = false;
}

}  // namespace
}  // namespace molvane::test
