// Row actions end to end against the reference driver: reads, locked and
// delayed-lock reads, writes with their lock checks, the current-row state,
// errors the host flags mask, delayed-lock ids in rows, the company the call
// used, lock escalation on a locked table and change_order.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include <molvane/zdb_dlock.h>

#include "actions_env.h"
#include "dbc/domain/domain_check.h"
#include "dbc/perm/perm_roles.h"
#include "dbc/request/rds.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "platform/user.h"
#include "support/fake_sql.h"
#include "support/log_capture.h"

namespace molvane::test {
namespace {

constexpr int kNoCurrent = 112;
constexpr int kNoRecord = 111;
constexpr int kChanged = 201;

class RowActions : public ActionsTest {
 protected:
  void SetUp() override {
    ActionsTest::SetUp();
    Logon();
    Create("exdep010", {1});
    Seed("exdep010", 1, {{{"code", "A"}, {"name", "Alpha"}}, {{"code", "B"}, {"name", "Beta"}}});
    // Set reads answer from the same rows through the stand-in SQL calls.
    ZDB_CURSOR *reader = Open("exdep010");
    for (const char *code : {"A", "B"}) {
      Load(Row("exdep010", {{"code", code}}));
      ASSERT_EQ(zdb_exec_row(reader, db_eq, 0, 1), 0);
      sql_.Put(ddtable("exdep010"), 1, row_);
    }
    zdb_close(reader);
    cursor_ = Open("exdep010");
  }
  // Puts a key into the row and runs an action on company 1.
  int Key(const char *code, int action, int flags = 0) {
    Load(Row("exdep010", {{"code", code}}));
    return zdb_exec_row(cursor_, action, flags, 1);
  }
  int Act(int action, int flags = 0) { return zdb_exec_row(cursor_, action, flags, 1); }
  void SetName(const char *name) {
    DD_COLUMN *c = ddcolumn("exdep010.name");
    std::memset(row_ + c->offset, ' ', c->length);
    std::memcpy(row_ + c->offset, name, std::strlen(name));
  }
  int Dlock() const { return get_dlock_from_row(ddtable("exdep010"), row_); }
  ZDB_TRANS *Trans() const { return zdb_get_trans_by_id(trans_); }

  ZDB_CURSOR *cursor_ = nullptr;
  FakeSql sql_;
};

TEST_F(RowActions, EqualityReadFillsTheRowAndAMissingKeyLeavesItAlone) {
  ASSERT_EQ(Key("A", db_eq), 0) << zdb_errno;
  EXPECT_EQ(Text("exdep010", "name"), "Alpha");
  EXPECT_EQ(Dlock(), 0);  // a plain read keeps no image
  Load(Row("exdep010", {{"code", "Q"}, {"name", "mine"}}));
  EXPECT_EQ(Act(db_eq), -1);
  EXPECT_EQ(zdb_errno, kNoRecord);
  ASSERT_NE(get_zdb_msg(), nullptr);
  EXPECT_STREQ(get_zdb_msg(), "No record found in exdep010001 (db_eq on index 1, key code = Q)");
  EXPECT_EQ(Text("exdep010", "name"), "mine");
  EXPECT_EQ(RowCompnr("exdep010"), 1);  // the company used, also after a failure
}

TEST_F(RowActions, LockedAndDelayedReadsKeepImagesUnderTheirIdsInTheRow) {
  ASSERT_EQ(Key("A", db_eq_locked), 0) << zdb_errno;
  int first = Dlock();
  EXPECT_GT(first, 0);
  EXPECT_EQ(zdb_check_row_dlocked(cursor_, row_, 1), first);
  const unsigned char *image = nullptr;
  ASSERT_EQ(zdb_retrieve_dlock_row(cursor_, row_, &image), 0);
  EXPECT_EQ(std::memcmp(image, row_, ddtable("exdep010")->dlock_offset), 0);
  ASSERT_EQ(Key("B", db_eq_delayed), 0) << zdb_errno;
  EXPECT_GT(Dlock(), first);
  EXPECT_EQ(Text("exdep010", "name"), "Beta");
  // The transaction end forgets the images.
  ASSERT_EQ(zdb_exec_db(commit_trans, trans_), 0);
  EXPECT_EQ(zdb_retrieve_dlock_row(cursor_, row_, &image), -1);

  // The host may keep images under the internal cursor of the row's
  // company, until the cursor's close frees it: then the calls refuse it
  // without reading it.
  ZDB_INTERNAL_CURSOR *ic = nullptr;
  ASSERT_EQ(zdb_determine_row_cursor(&ic, cursor_), 0);
  EXPECT_GT(put_dlock_row(ic, row_), 0);
  ASSERT_EQ(zdb_close(cursor_), 0);
  EXPECT_EQ(put_dlock_row(ic, row_), -1);
  EXPECT_EQ(zdb_errno, ZE_BAD_CURSOR);
  EXPECT_EQ(put_commit_resistant_dlock_row(ic, row_), -1);
  EXPECT_EQ(zdb_errno, ZE_BAD_CURSOR);
  EXPECT_EQ(init_dlock_offset(ic, 5), -1);
  EXPECT_EQ(zdb_errno, ZE_BAD_CURSOR);
  EXPECT_EQ(std::string(get_zdb_msg()),
            "Not an open internal cursor: init_dlock_offset was given one whose cursor was closed "
            "(by zdb_close or zdb_logoff) or that zdb_determine_row_cursor never returned");
  EXPECT_EQ(put_dlock_row(nullptr, row_), -1);
  EXPECT_EQ(std::string(get_zdb_msg()),
            "No internal cursor: put_dlock_row was given a null internal cursor");
}

TEST_F(RowActions, UnchangedUpdateSendsNothing) {
  ASSERT_EQ(Key("A", db_eq_locked), 0);
  std::uint32_t sequence = Trans()->update_seq;
  dbc_state().debug = ZDB_DEBUG_REQUESTS;
  testing::internal::CaptureStderr();
  int rc = Act(db_update);
  std::string trace = testing::internal::GetCapturedStderr();
  dbc_state().debug = 0;
  EXPECT_EQ(rc, 0) << zdb_errno;
  EXPECT_NE(trace.find("row not modified"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("EXE_UPDATE"), std::string::npos) << trace;
  EXPECT_EQ(Trans()->update_seq, sequence);
}

TEST_F(RowActions, UpdateAndDeleteReachTheDriverAndKeepTheImageCurrent) {
  ASSERT_EQ(Key("A", db_eq_locked), 0);
  SetName("First");
  ASSERT_EQ(Act(db_update), 0) << zdb_errno;
  // The kept image is the row written, so a second change compares with it.
  SetName("Second");
  ASSERT_EQ(Act(db_update), 0) << zdb_errno;
  ASSERT_EQ(Key("B", db_eq_locked), 0);
  ASSERT_EQ(Act(db_delete), 0) << zdb_errno;
  ASSERT_EQ(zdb_exec_db(commit_trans, trans_), 0) << zdb_errno;
  EXPECT_EQ(ReadIn("exdep010", 1, {{"code", "A"}}), 0);
  EXPECT_EQ(Text("exdep010", "name"), "Second");
  EXPECT_EQ(ReadIn("exdep010", 1, {{"code", "B"}}), kNoRecord);
}

TEST_F(RowActions, ClassicWritesNeedALockedCurrentRow) {
  struct Case {
    int read;   // 0: no read before
    int write;
    int error;  // 0: success
    const char *message;
  } cases[] = {
      {0, db_update, kNoCurrent,
       "No current record in exdep010001: db_update needs a current row; read a row first"},
      {0, db_delete, kNoCurrent,
       "No current record in exdep010001: db_delete needs a current row; read a row first"},
      {db_eq, db_update, ZE_NOT_LOCKED,
       "Record not locked in exdep010001: db_update needs the current row read with a lock "
       "(db_eq_locked, db_curr_locked, ...) or the table locked (lock_table)"},
      {db_eq, db_delete, ZE_NOT_LOCKED,
       "Record not locked in exdep010001: db_delete needs the current row read with a lock "
       "(db_eq_locked, db_curr_locked, ...) or the table locked (lock_table)"},
      {db_eq_delayed, db_update, ZE_NOT_LOCKED,
       "Record not locked in exdep010001: db_update needs the current row read with a lock "
       "(db_eq_locked, db_curr_locked, ...) or the table locked (lock_table)"},
      {db_eq_delayed, db_update_delayed, 0, ""}, {db_eq_locked, db_update, 0, ""},
  };
  for (const Case &c : cases) {
    ZDB_CURSOR *cursor = Open("exdep010");
    Load(Row("exdep010", {{"code", "A"}}));
    if (c.read != 0) {
      ASSERT_EQ(zdb_exec_row(cursor, c.read, 0, 1), 0);
    }
    SetName("Changed");
    reset_zdb_msg();
    int rc = zdb_exec_row(cursor, c.write, 0, 1);
    EXPECT_EQ(rc == 0 ? 0 : zdb_errno, c.error) << c.read << " then " << c.write;
    EXPECT_STREQ(get_zdb_msg(), c.message) << c.read << " then " << c.write;
    zdb_close(cursor);
    zdb_exec_db(abort_trans, trans_);
  }
}

TEST_F(RowActions, NextAfterDeleteKeepsThePosition) {
  // Without a position a stepping read has nothing to step from.
  EXPECT_EQ(Act(db_next), -1);
  EXPECT_EQ(zdb_errno, kNoCurrent);
  EXPECT_STREQ(get_zdb_msg(),
               "No current record in exdep010001: db_next needs a position to step from; read a row first");
  ASSERT_EQ(Key("A", db_eq_locked), 0);
  ASSERT_EQ(Act(db_delete), 0) << zdb_errno;
  // The delete gave up the current record but not the position: a write
  // needs a current record again, a stepping read goes on from the row.
  EXPECT_EQ(Act(db_update), -1);
  EXPECT_EQ(zdb_errno, kNoCurrent);
  EXPECT_EQ(Act(db_next), 0) << zdb_errno;
  EXPECT_EQ(Text("exdep010", "name"), "Beta");
}

TEST_F(RowActions, LockedTableTurnsPlainReadsIntoDelayedOnes) {
  int argument = 0;
  ASSERT_EQ(zdb_exec_table(cursor_, lock_table, &argument, 1), 0) << zdb_errno;
  ASSERT_EQ(Key("A", db_eq), 0) << zdb_errno;
  EXPECT_GT(Dlock(), 0);  // read as db_eq(delayed)
  ASSERT_EQ(Key("B", db_eq), 0);
  EXPECT_EQ(Act(db_first), 0) << zdb_errno;  // read as db_first(delayed)
  EXPECT_EQ(Text("exdep010", "name"), "Alpha");
  EXPECT_GT(Dlock(), 0);
  // An update without a locked current row re-reads the current row with a
  // delayed lock instead of refusing with 206.
  ASSERT_EQ(Key("A", db_eq), 0);
  SetName("Locked");
  EXPECT_EQ(Act(db_update), 0) << zdb_errno;
  // With a locked current row the update goes through.
  ASSERT_EQ(Key("A", db_eq_locked), 0);
  SetName("Locked");
  EXPECT_EQ(Act(db_update), 0) << zdb_errno;
  ASSERT_EQ(zdb_exec_db(commit_trans, trans_), 0) << zdb_errno;
  // The lock ends with the transaction: a plain read keeps no image again.
  ASSERT_EQ(Key("B", db_eq), 0);
  EXPECT_EQ(Dlock(), 0);
}

TEST_F(RowActions, HostFlagsMaskTheErrorsTheyName) {
  struct Case {
    const char *what;
    int flags;
    int error;  // expected without the flag
    const char *message;  // of the error, without the flag
  } cases[] = {
      {"duplicate", ZDB_FLAG_DUPLICATE_OK, ZE_DUPLICATE_VALUE,
       "Duplicate key code = A in exdep010001 (index 1)"},
      // A delete needs the current row: its 111 is reported as 112.
      {"gone", ZDB_FLAG_NOT_FOUND_OK, kNoCurrent,
       "No current record in exdep010001: the current row of db_delete(delayed) is no longer "
       "there; read a row first"},
      {"changed", ZDB_FLAG_CHANGED_OK, kChanged,
       "the update of exdep010001 failed with error 201 (row changed after delayed lock): update "
       "(whole) (action 7) of row 1"},
  };
  Seed("exdep010", 1, {{{"code", "G0"}}, {{"code", "G1"}}, {{"code", "C0"}}, {{"code", "C1"}}});
  for (const Case &c : cases) {
    for (int masked : {0, 1}) {
      const std::string what = c.what;
      SCOPED_TRACE(what + (masked ? " masked" : ""));
      int flags = masked ? c.flags : 0;
      int rc;
      if (what == "duplicate") {
        rc = Key("A", db_insert, flags);
      } else {
        // The row is read with a delayed lock; another transaction then
        // deletes or changes it.
        std::string key = std::string(what == "gone" ? "G" : "C") + std::to_string(masked);
        ASSERT_EQ(Key(key.c_str(), db_eq_delayed), 0);
        std::vector<unsigned char> mine(row_, row_ + sizeof row_);
        int other = zdb_start_session("other");
        ZDB_CURSOR *theirs = Open("exdep010", other);
        Load(Row("exdep010", {{"code", key}}));
        ASSERT_EQ(zdb_exec_row(theirs, db_eq_locked, 0, 1), 0);
        if (what == "changed") SetName("Theirs");
        ASSERT_EQ(zdb_exec_row(theirs, what == "gone" ? db_delete : db_update, 0, 1), 0)
            << zdb_errno;
        ASSERT_EQ(zdb_exec_db(commit_trans, other), 0);
        zdb_close(theirs);
        zdb_stop_session(other);
        std::memcpy(row_, mine.data(), mine.size());
        SetName("Mine");
        rc = Act(what == "gone" ? db_delete_delayed : db_update_delayed, flags);
      }
      EXPECT_EQ(rc == 0 ? 0 : zdb_errno, masked ? 0 : c.error);
      if (!masked) {
        EXPECT_STREQ(get_zdb_msg(), c.message);
      }
      zdb_exec_db(abort_trans, trans_);
    }
  }
}

// A write of its own that another transaction of the program keeps out
// (it holds the write transaction) is refused as locked, 107, and its
// message says so with the driver's words on the holder, named as the
// driver names it everywhere: no buffered update of the caller failed.
TEST_F(RowActions, AWriteRefusedAsLockedSaysSoWithItsHolder) {
  int other = zdb_start_session("other");
  ZDB_CURSOR *theirs = Open("exdep010", other);
  Load(Row("exdep010", {{"code", "T"}}));
  ASSERT_EQ(zdb_exec_row(theirs, db_insert, 0, 1), 0) << zdb_errno;
  EXPECT_EQ(Key("N", db_insert, ZDB_FLAG_FLUSH), -1);
  EXPECT_EQ(zdb_errno, ZE_LOCKED);
  EXPECT_STREQ(get_zdb_msg(),
               "Record is locked in exdep010001: refused at once: session 2 (\"other\") of this host holds the "
               "write transaction: a program's transactions do not wait for each other");
  zdb_exec_db(abort_trans, trans_);
  // Once the holder has ended, the same write goes through.
  ASSERT_EQ(zdb_exec_db(commit_trans, other), 0) << zdb_errno;
  EXPECT_EQ(Key("N", db_insert, ZDB_FLAG_FLUSH), 0) << get_zdb_msg();
  zdb_close(theirs);
  zdb_stop_session(other);
}

TEST_F(RowActions, NoRecordStaysNoRecordForAnActionWithoutCurrentRow) {
  // db_delete(51) does not need the current row: the driver's 111 stands.
  ASSERT_EQ(Key("B", db_eq_delayed), 0);
  std::vector<unsigned char> mine(row_, row_ + sizeof row_);
  int other = zdb_start_session("other");
  ZDB_CURSOR *theirs = Open("exdep010", other);
  Load(Row("exdep010", {{"code", "B"}}));
  ASSERT_EQ(zdb_exec_row(theirs, db_eq_locked, 0, 1), 0);
  ASSERT_EQ(zdb_exec_row(theirs, db_delete, 0, 1), 0);
  ASSERT_EQ(zdb_exec_db(commit_trans, other), 0);
  std::memcpy(row_, mine.data(), mine.size());
  EXPECT_EQ(Act(db_delete_51, ZDB_FLAG_FLUSH), -1);
  EXPECT_EQ(zdb_errno, kNoRecord);
}

TEST_F(RowActions, CompanyComesFromTheCallOrTheCursorDefault) {
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "exdep010", -1, row_, 0, trans_), 0);
  Load(Row("exdep010", {{"code", "A"}}));
  LogCapture log;
  EXPECT_EQ(zdb_exec_row(cursor, db_eq, 0, 0xFFFF), -1);
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_COMPNR);
  const char kNone[] = "No company number for db_eq on exdep010: the action passed 0xFFFF and the "
                       "cursor has no default company";
  EXPECT_STREQ(get_zdb_msg(), kNone);
  EXPECT_TRUE(log.Contains("No Compnr", kNone)) << log.Dump();
  EXPECT_EQ(zdb_exec_row(cursor, db_eq, 0, 1000), -1);
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_COMPNR);
  EXPECT_STREQ(get_zdb_msg(),
               "Illegal company number 1000 for db_eq on exdep010: a company number lies from 0 to 999");
  ASSERT_EQ(zdb_set_default_compnr(cursor, 1), 0);
  EXPECT_EQ(zdb_exec_row(cursor, db_eq, 0, 0xFFFF), 0) << zdb_errno;
  EXPECT_EQ(RowCompnr("exdep010"), 1);
  EXPECT_EQ(zdb_exec_row(cursor, 99, 0, 1), -1);  // not a row action
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_ARGUMENT);
  EXPECT_STREQ(get_zdb_msg(),
               "Illegal argument: 99 is no row action a host can ask for (enum ZDB_ROW_ACTION of "
               "<molvane/zdb.h>)");
}

TEST_F(RowActions, BindsTakeTheRowAndAFailureLeavesThemAlone) {
  char code[7] = "A     ";
  char name[21] = {};
  short compnr = 0;
  ZDB_HOST_BIND binds[3] = {};
  binds[0] = {code, 6, 1, "exdep010.code", DDT_STRING};
  binds[1] = {name, 20, 1, "exdep010.name", DDT_STRING};
  binds[2] = {&compnr, 2, 1, "exdep010._compnr", DDT_SHORT};
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "exdep010", 1, binds, 3, trans_), 0) << zdb_errno;
  ASSERT_EQ(zdb_exec_row(cursor, db_eq, 0, 0xFFFF), 0) << zdb_errno;
  EXPECT_EQ(std::string(name, 5), "Alpha");
  EXPECT_EQ(compnr, 1);
  std::memcpy(code, "Q     ", 6);
  EXPECT_EQ(zdb_exec_row(cursor, db_eq, 0, 0xFFFF), -1);
  EXPECT_EQ(std::string(name, 5), "Alpha");
  EXPECT_EQ(std::string(code, 6), "Q     ");
}

TEST_F(RowActions, DomainCheckRefusesARowOutOfRange) {
  zdb_dd_check_set_enabled(1);
  Load(Row("exdep010", {{"code", "a"}}));  // lower case in an upper-case domain
  EXPECT_EQ(Act(db_insert), -1);
  EXPECT_EQ(zdb_errno, 205);
  zdb_dd_check_set_enabled(0);
}

TEST_F(RowActions, ChangeOrderStaysInTheClientAndForgetsTheCurrentRecord) {
  ASSERT_EQ(Key("A", db_eq), 0);
  int index = 2;
  dbc_state().debug = ZDB_DEBUG_REQUESTS;
  testing::internal::CaptureStderr();
  int rc = zdb_exec_table(cursor_, change_order, &index, 1);
  std::string trace = testing::internal::GetCapturedStderr();
  dbc_state().debug = 0;
  ASSERT_EQ(rc, 0) << zdb_errno;
  EXPECT_EQ(trace, "");
  EXPECT_EQ(Act(db_next), -1);
  EXPECT_EQ(zdb_errno, kNoCurrent);
  // An equality read on another index is a set read on that index, never
  // answered with the row of index 1.
  Load(Row("exdep010", {{"code", "B"}, {"name", "Alpha"}}));
  EXPECT_EQ(Act(db_eq), 0) << zdb_errno;
  EXPECT_EQ(Text("exdep010", "code"), "A");
  index = 9;
  EXPECT_EQ(zdb_exec_table(cursor_, change_order, &index, 1), -1);
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_KEY);
  EXPECT_STREQ(get_zdb_msg(),
               "Illegal key 9 specified for table 'exdep010': change_order takes an index number "
               "that the table's dictionary defines");
}

}  // namespace
}  // namespace molvane::test

namespace molvane::test {
namespace {

TEST_F(RowActions, WritesNeedTheRolesPermission) {
  root_.WriteFile("lib/roles/db/r/reader", "reader\nexdep010:*:R\n");
  user_info.user_type = 'N';
  std::strcpy(user_info.db_roles, "reader");
  zdb_unload_roles();
  ASSERT_EQ(zdb_load_roles(), 0) << zdb_errno;
  EXPECT_EQ(Key("A", db_eq_delayed), 0) << zdb_errno;
  SetName("Refused");
  // No row condition could allow these: the refusals are not the row's.
  const std::string refused = ": the roles of the user (db_roles) do not allow it";
  for (auto [action, words] : {std::pair{db_update_delayed, "an update"},
                               std::pair{db_delete_delayed, "a delete"},
                               std::pair{db_insert, "an insert"}}) {
    EXPECT_EQ(Act(action), -1) << action;
    EXPECT_EQ(zdb_errno, ZE_NO_PERMISSION) << action;
    EXPECT_EQ(std::string(get_zdb_msg()), "No permission for " + std::string(words) +
                                              " on exdep010001" + refused);
  }
  int argument = 0;
  EXPECT_EQ(zdb_exec_table(cursor_, clear_table, &argument, 1), -1);
  EXPECT_EQ(zdb_errno, ZE_NO_PERMISSION);
  EXPECT_EQ(std::string(get_zdb_msg()), "No permission for clear_table on exdep010001" + refused);
  zdb_unload_roles();
}

TEST_F(RowActions, CounterChangesMergePerKeyAndReachTheParent) {
  const DD_TABLE *table = ddtable("exdep010");
  auto put_counters = [&](std::uint32_t value) {
    for (const DD_COLUMN *c : {table->refcnt_d, table->refcnt_u})
      for (int i = 0; i < 4; ++i) row_[c->offset + i] = static_cast<unsigned char>(value >> (24 - 8 * i));
  };
  constexpr int kDeleteCounterUp = 0x800 | 0x100;
  for (int i = 0; i < 3; ++i) {
    Load(Row("exdep010", {{"code", "A"}}));
    put_counters(1);
    ASSERT_EQ(Act(db_refcnt_51, kDeleteCounterUp), 0) << zdb_errno;
  }
  // The three changes of one key wait as one.
  EXPECT_EQ(Chain(cursor_, 1)->company->updates->rds[1]->row_count, 1);
  ASSERT_EQ(zdb_exec_db(commit_trans, trans_), 0) << zdb_errno;
  ASSERT_EQ(ReadIn("exdep010", 1, {{"code", "A"}}), 0);
  const unsigned char *d = row_ + table->refcnt_d->offset;
  EXPECT_EQ((d[0] << 24) | (d[1] << 16) | (d[2] << 8) | d[3], 3);
}

}  // namespace
}  // namespace molvane::test
