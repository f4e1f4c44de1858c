// The reference driver's data plane end to end: buffered actions go through
// the request procedures to the driver, which applies them in SQLite; rows
// are read back by key, an aborted batch leaves nothing, a failing batch is
// rolled back whole and reported with its details, locks of one transaction
// refuse another, and committed rows survive a killed driver.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <molvane/datetime.h>
#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_detail.h>

#include "dbc/actions/action_codes.h"
#include "dbc/dict/dd.h"
#include "dbc/request/rds.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "support/test_env.h"

namespace {

using molvane::test::FixturePath;
using molvane::test::ScratchDir;
using Image = std::vector<unsigned char>;

void IgnoreDeath(STREAM *) {}

class DataPlane : public testing::TestWithParam<const char *> {
 protected:
  void SetUp() override {
    std::filesystem::copy(FixturePath("zuv"), root_.path(), std::filesystem::copy_options::recursive);
    std::string form = GetParam();
    std::string target = std::string(MOLVANE_BINARY_DIR) +
                         (form == "child" ? "/driver/molvane-driver" : "/driver/libmolvane_driver.so");
    root_.WriteFile("lib/ipc_info", "msqlite " + form + " " + target + " ${ZUV}/main.db" + args_ + "\n");
    root_.WriteFile("lib/tabledef1", "*::msqlite\n");
    setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
    setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
    set_zuv(root_.path().c_str());
    zdb_set_server_death_handler(IgnoreDeath);
    Logon();
    table_ = ddtable("exemp010");
    ASSERT_NE(table_, nullptr);
    std::uint32_t argument = 0;
    ASSERT_EQ(zdb_do_exec_table(Cursor(1), table_action_word(create_table), &argument), 0) << zdb_errno;
    ASSERT_EQ(zdb_do_exec_table(Cursor(2), table_action_word(create_table), &argument), 0) << zdb_errno;
  }
  void TearDown() override { zdb_logoff(); }

  void Logon() {
    ASSERT_EQ(zdb_init_api("test_driver", nullptr, 0, 0), 0);
    ASSERT_EQ(zdb_logon("ann"), 0);
    trans_ = zdb_start_session("rows");
    ASSERT_GT(trans_, 0);
    ASSERT_EQ(zdb_open(&cursor_, "exemp010", 1, row_, 0, trans_), 0);
  }

  ZDB_INTERNAL_CURSOR *Cursor(int compnr, ZDB_CURSOR *cursor = nullptr) {
    ZDB_INTERNAL_CURSOR *ic = nullptr;
    EXPECT_EQ(zdb_get_internal_cursor(&ic, cursor ? cursor : cursor_, compnr), 0) << zdb_errno;
    return ic;
  }
  ZDB_SESSION *Session(int compnr) { return Cursor(compnr)->tsession->session; }

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
  std::vector<unsigned char> Record(std::uint32_t kind, const Image &image, std::uint32_t flags = 0) {
    std::vector<unsigned char> record(ZDB_ACTION_HEADER, 0);
    record[3] = static_cast<unsigned char>(kind);
    for (int i = 0; i < 4; ++i) record[4 + i] = static_cast<unsigned char>(flags >> (24 - 8 * i));
    record.insert(record.end(), image.begin(), image.end());
    return record;
  }
  int Put(int compnr, std::uint32_t kind, const Image &image, std::uint32_t flags = 0) {
    return zdb_do_exec_row(Cursor(compnr), Record(kind, image, flags).data(), flags, 0);
  }
  // The stored row of a key, or an empty image with zdb_errno set.
  Image Read(int compnr, const Image &probe, std::uint32_t arg = 0, ZDB_CURSOR *cursor = nullptr) {
    std::vector<unsigned char> buf(DD_MAX_ROW_LENGTH, 0);
    zdb_extract_key(buf.data(), probe.data(), key_desc(table_, 1));
    auto length = static_cast<std::uint16_t>(_zdb_key_size(key_desc(table_, 1)->parts));
    ZDB_INTERNAL_CURSOR *ic = Cursor(compnr, cursor);
    if (zdb_do_exec_read_eq(ic->company->read, arg, buf.data(), &length, buf.size(), nullptr,
                            compnr) != 0)
      return {};
    buf.resize(std::min<std::size_t>(length, table_->dlock_offset));
    return buf;
  }
  int Commit(int compnr) {
    if (flush_updates(Session(compnr)) != 0) return -1;
    return zdb_do_exec_db(Session(compnr), db_action_word(commit_trans));
  }

  ScratchDir root_;
  std::string args_;  // more driver arguments
  DD_TABLE *table_ = nullptr;
  int trans_ = 0;
  ZDB_CURSOR *cursor_ = nullptr;
  unsigned char row_[DD_MAX_ROW_LENGTH] = {};
};

TEST_P(DataPlane, InsertsInTwoCompaniesAreCommittedAndReadBack) {
  for (int emp : {1, 2, 3}) ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(emp, "one")), 0);
  ASSERT_EQ(Put(2, RDS_ACT_INSERT, Row(1, "two")), 0);
  ASSERT_EQ(Commit(1), 0) << zdb_errno;
  for (int emp : {1, 2, 3}) EXPECT_EQ(Read(1, Row(emp, "")), Row(emp, "one"));
  EXPECT_EQ(Read(2, Row(1, "")), Row(1, "two"));
  EXPECT_TRUE(Read(2, Row(2, "")).empty());
  EXPECT_EQ(zdb_errno, 111);
  std::uint32_t count = 0;
  ASSERT_EQ(zdb_do_exec_table(Cursor(1), table_action_word(nr_rows), &count), 0);
  EXPECT_EQ(count, 3u);
}

TEST_P(DataPlane, UpdatesAndDeletesGoByTheOldImage) {
  ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(1, "old")), 0);
  ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(2, "gone")), 0);
  ASSERT_EQ(Put(1, RDS_ACT_UPDATE_OLD, Row(1, "old")), 0);
  ASSERT_EQ(Put(1, RDS_ACT_UPDATE_NEW, Row(1, "new")), 0);
  ASSERT_EQ(Put(1, RDS_ACT_DELETE, Row(2, "gone")), 0);
  ASSERT_EQ(Commit(1), 0) << zdb_errno;
  EXPECT_EQ(Read(1, Row(1, "")), Row(1, "new"));
  EXPECT_TRUE(Read(1, Row(2, "")).empty());

  struct Case { std::uint32_t kind; Image image; int error; };
  const Case cases[] = {
      {RDS_ACT_INSERT, Row(1, "dup"), ZE_DUPLICATE_VALUE},
      {RDS_ACT_DELETE, Row(1, "not what is stored"), 201},
      {RDS_ACT_DELETE, Row(7, "missing"), 111},
  };
  for (const Case &c : cases) {
    ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(5, "rolled back")), 0);
    ASSERT_EQ(Put(1, c.kind, c.image), 0);
    EXPECT_EQ(flush_updates(Session(1)), -1);
    EXPECT_EQ(zdb_errno, ZE_BUFFERED_UPDATE);
    char name[9];
    int compnr = 0;
    const char *extra = nullptr;
    EXPECT_EQ(zdb_get_detail_error(name, &compnr, &extra, trans_), c.error);
    EXPECT_STREQ(name, "exemp010");
    EXPECT_EQ(compnr, 1);
    EXPECT_NE(extra, nullptr);
    EXPECT_TRUE(Read(1, Row(5, "")).empty()) << "the whole batch is rolled back";
  }
  // The failed flushes emptied the sets: the next flush sends nothing.
  ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(1, "dup"), 0x10), 0);
  EXPECT_EQ(flush_updates(Session(1)), 0) << "a duplicate the flags allow counts as success";

  // An update writes the columns that changed, whichever and however many
  // they are, an array's one element among them, and a changed key moves
  // the row; each is read back as written.
  auto set_text = [](Image image, const char *column, const char *text) {
    DD_COLUMN *c = ddcolumn(column);
    std::memset(image.data() + c->offset, ' ', c->length);
    std::memcpy(image.data() + c->offset, text, std::min<std::size_t>(std::strlen(text), c->length));
    return image;
  };
  auto set_salary = [](Image image, double salary) {
    float_in(salary, image.data() + ddcolumn("exemp010.salary")->offset);
    return image;
  };
  auto set_score = [](Image image, int element, int value) {
    DD_COLUMN *c = ddcolumn("exemp010.scores");
    unsigned char *at = image.data() + c->offset + element * (c->length / c->depth);
    at[c->length / c->depth - 1] = static_cast<unsigned char>(value);
    return image;
  };
  Image stored = Read(1, Row(1, ""));
  ASSERT_FALSE(stored.empty());
  const std::vector<std::function<Image(Image)>> changes = {
      [&](Image i) { return set_text(i, "exemp010.name", "renamed"); },
      [&](Image i) { return set_salary(i, 1234.25); },
      [&](Image i) { return set_score(i, 1, 9); },
      [&](Image i) { return set_text(set_salary(i, 7.5), "exemp010.name", "both"); },
      [&](Image i) { return set_score(set_text(i, "exemp010.name", "third"), 2, 3); },
      // The image's first column (dcas) with a later one.
      [&](Image i) { return set_salary(set_text(i, "exemp010.dcas", "FIRST"), 99.5); },
      [&](Image i) { return i; },
  };
  for (std::size_t n = 0; n < changes.size(); ++n) {
    Image next = changes[n](stored);
    ASSERT_EQ(Put(1, RDS_ACT_UPDATE_OLD, stored), 0);
    ASSERT_EQ(Put(1, RDS_ACT_UPDATE_NEW, next), 0);
    ASSERT_EQ(Commit(1), 0) << "change " << n << ": " << zdb_errno;
    EXPECT_EQ(Read(1, Row(1, "")), next) << "change " << n;
    stored = next;
  }
  Image moved = stored;
  moved[ddcolumn("exemp010.emp")->offset + ddcolumn("exemp010.emp")->length - 1] = 9;
  ASSERT_EQ(Put(1, RDS_ACT_UPDATE_OLD, stored), 0);
  ASSERT_EQ(Put(1, RDS_ACT_UPDATE_NEW, moved), 0);
  ASSERT_EQ(Commit(1), 0) << zdb_errno;
  EXPECT_EQ(Read(1, Row(9, "")), moved);
  EXPECT_TRUE(Read(1, Row(1, "")).empty());
  // A key moved together with a column of no key.
  Image keyed = set_text(moved, "exemp010.name", "keyed");
  keyed[ddcolumn("exemp010.emp")->offset + ddcolumn("exemp010.emp")->length - 1] = 8;
  ASSERT_EQ(Put(1, RDS_ACT_UPDATE_OLD, moved), 0);
  ASSERT_EQ(Put(1, RDS_ACT_UPDATE_NEW, keyed), 0);
  ASSERT_EQ(Commit(1), 0) << zdb_errno;
  EXPECT_EQ(Read(1, Row(8, "")), keyed);
  EXPECT_TRUE(Read(1, Row(9, "")).empty());
}

TEST_P(DataPlane, AbortLeavesNothingAndReleasesLocks) {
  ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(1, "kept")), 0);
  ASSERT_EQ(Commit(1), 0);
  ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(9, "aborted")), 0);
  ASSERT_EQ(flush_updates(Session(1)), 0);
  EXPECT_EQ(Read(1, Row(9, "")), Row(9, "aborted"));
  ASSERT_FALSE(Read(1, Row(1, ""), 1).empty());  // locked by this transaction

  int other = zdb_start_session("other");
  ASSERT_GT(other, 0);
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "exemp010", 1, row_, 0, other), 0);
  EXPECT_TRUE(Read(1, Row(1, ""), 1, cursor).empty());
  EXPECT_EQ(zdb_errno, 107);
  EXPECT_EQ(Read(1, Row(1, ""), 0, cursor), Row(1, "kept")) << "a plain read is not refused";

  ASSERT_EQ(zdb_do_exec_db(Session(1), db_action_word(abort_trans)), 0);
  EXPECT_TRUE(Read(1, Row(9, "")).empty());
  EXPECT_EQ(Read(1, Row(1, ""), 1, cursor), Row(1, "kept"));
}

// A transaction that changes the same rows over and over (here two rows,
// past the point where the driver writes its log of changed keys anew with
// each key once) keeps every row it changed locked for another session,
// and those it changes afterwards too.
TEST_P(DataPlane, RowsChangedOverAndOverStayLockedForOthers) {
  for (int round = 1; round <= 14000; ++round) {
    for (int emp : {1, 2}) ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(emp, "again")), 0);
    for (int emp : {1, 2}) ASSERT_EQ(Put(1, RDS_ACT_DELETE, Row(emp, "again")), 0);
    if (round % 2000 == 0) {
      ASSERT_EQ(flush_updates(Session(1)), 0) << zdb_errno;
    }
  }
  ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(4, "kept")), 0);
  ASSERT_EQ(flush_updates(Session(1)), 0) << zdb_errno;

  int other = zdb_start_session("other");
  ASSERT_GT(other, 0);
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "exemp010", 1, row_, 0, other), 0);
  for (int emp : {1, 2, 4}) {
    EXPECT_TRUE(Read(1, Row(emp, ""), 1, cursor).empty()) << emp;
    EXPECT_EQ(zdb_errno, 107) << emp;
  }
  EXPECT_TRUE(Read(1, Row(3, ""), 1, cursor).empty());
  EXPECT_EQ(zdb_errno, 111) << "a row never changed is not locked";
  ASSERT_EQ(Commit(1), 0) << zdb_errno;
  EXPECT_EQ(Read(1, Row(4, ""), 1, cursor), Row(4, "kept"));
}

TEST_P(DataPlane, ClearAndDropActOnTheTable) {
  ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(1, "a")), 0);
  ASSERT_EQ(Put(2, RDS_ACT_INSERT, Row(1, "b")), 0);
  ASSERT_EQ(Commit(1), 0);
  std::uint32_t argument = 0;
  ASSERT_EQ(zdb_do_exec_table(Cursor(1), table_action_word(clear_table), &argument), 0);
  EXPECT_TRUE(Read(1, Row(1, "")).empty());
  EXPECT_EQ(Read(2, Row(1, "")), Row(1, "b"));
  ASSERT_EQ(zdb_do_exec_table(Cursor(2), table_action_word(drop_table), &argument), 0);
  EXPECT_TRUE(Read(2, Row(1, "")).empty());
  // A dropped table reads as one never made: empty, counted, written again.
  std::uint32_t count = 7;
  ASSERT_EQ(zdb_do_exec_table(Cursor(2), table_action_word(nr_rows), &count), 0) << zdb_errno;
  EXPECT_EQ(count, 0u);
  ASSERT_EQ(Put(2, RDS_ACT_INSERT, Row(1, "again")), 0);
  ASSERT_EQ(Commit(2), 0) << zdb_errno;
  EXPECT_EQ(Read(2, Row(1, "")), Row(1, "again"));
}

// A table action in which SQLite ends the whole transaction (a trigger that
// rolls back stands for a full disk or an I/O error doing so) loses the
// transaction: its commit fails, again until the abort, instead of
// acknowledging the rest without the batch flushed before.
TEST_P(DataPlane, TransactionEndedBySqliteInATableActionIsLost) {
  ASSERT_EQ(Put(2, RDS_ACT_INSERT, Row(1, "b")), 0);
  ASSERT_EQ(Commit(1), 0);
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open((root_.path() + "/main.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TRIGGER lose BEFORE DELETE ON exemp010002 BEGIN SELECT RAISE(ROLLBACK, 'lost'); END",
                         nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
  ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(1, "first")), 0);
  ASSERT_EQ(flush_updates(Session(1)), 0) << zdb_errno;
  std::uint32_t argument = 0;
  EXPECT_NE(zdb_do_exec_table(Cursor(2), table_action_word(clear_table), &argument), 0);
  ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(2, "second")), 0);
  EXPECT_NE(Commit(1), 0);
  EXPECT_NE(zdb_do_exec_db(Session(1), db_action_word(commit_trans)), 0);
  ASSERT_EQ(zdb_do_exec_db(Session(1), db_action_word(abort_trans)), 0) << zdb_errno;
  EXPECT_TRUE(Read(1, Row(1, "")).empty());
  EXPECT_TRUE(Read(1, Row(2, "")).empty());
  EXPECT_EQ(Read(2, Row(1, "")), Row(1, "b"));
  ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(1, "again")), 0);
  EXPECT_EQ(Commit(1), 0) << zdb_errno;
}

TEST_P(DataPlane, BatchAnswered513IsAppliedWhenTheRepeatArrives) {
  // No table action has sent exdep010's dictionary: the first EXE_UPDATE is
  // answered 513, the client sends the dictionary and repeats with no
  // tables, and the driver applies the batch it kept.
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "exdep010", 1, row_, 0, trans_), 0);
  ZDB_INTERNAL_CURSOR *ic = Cursor(1, cursor);
  DD_TABLE *dep = ddtable("exdep010");
  Image image(dep->dlock_offset, 0);
  fill_default_row(dep, image.data());
  DD_COLUMN *code = ddcolumn("exdep010.code");
  std::memcpy(image.data() + code->offset, "SALES ", 6);
  ASSERT_EQ(zdb_do_exec_row(ic, Record(RDS_ACT_INSERT, image).data(), 0, 0), 0);
  ASSERT_EQ(flush_updates(ic->tsession->session), 0) << zdb_errno;
  std::uint32_t count = 0;
  ASSERT_EQ(zdb_do_exec_table(ic, table_action_word(nr_rows), &count), 0);
  EXPECT_EQ(count, 1u);
}

TEST_P(DataPlane, CounterChangesReachTheReferencedRow) {
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "exdep010", 1, row_, 0, trans_), 0);
  ZDB_INTERNAL_CURSOR *ic = Cursor(1, cursor);
  DD_TABLE *dep = ddtable("exdep010");
  Image image(dep->dlock_offset, 0);
  fill_default_row(dep, image.data());
  DD_COLUMN *code = ddcolumn("exdep010.code");
  std::memcpy(image.data() + code->offset, "SALES ", 6);
  ASSERT_EQ(zdb_do_exec_row(ic, Record(RDS_ACT_INSERT, image).data(), 0, 0), 0);
  ASSERT_EQ(flush_updates(ic->tsession->session), 0) << zdb_errno;

  // Changes gathered per key: +3 and +1, then +1 more on the first counter.
  RDS *counters = rds_open_refcount_actions(dep);
  ASSERT_NE(counters, nullptr);
  ic->company->updates->rds[1] = counters;
  unsigned char change[14] = {'S', 'A', 'L', 'E', 'S', ' ', 0, 0, 0, 3, 0, 0, 0, 1};
  ASSERT_EQ(rds_put_group(counters, change, 1 | 8), 0);
  ASSERT_EQ(rds_put_group(counters, change, 1), 0);
  ASSERT_EQ(flush_updates(ic->tsession->session), 0) << zdb_errno;
  EXPECT_EQ(counters->row_count, 0);

  std::vector<unsigned char> buf(DD_MAX_ROW_LENGTH, 0);
  std::memcpy(buf.data(), "SALES ", 6);
  std::uint16_t length = 6;
  ASSERT_EQ(zdb_do_exec_read_eq(ic, 0, buf.data(), &length, buf.size(), nullptr, 1), 0);
  auto counter = [&](const char *name) {
    const unsigned char *p = buf.data() + ddcolumn(name)->offset;
    return (p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
  };
  EXPECT_EQ(counter("exdep010.Refcntd"), 4);
  EXPECT_EQ(counter("exdep010.Refcntu"), 1);
}

TEST_P(DataPlane, KilledDriverLosesNoCommittedRow) {
  if (std::string(GetParam()) != "child") GTEST_SKIP() << "the driver runs in this process";
  for (int emp : {1, 2}) ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(emp, "committed")), 0);
  ASSERT_EQ(Commit(1), 0);
  ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(3, "uncommitted")), 0);
  ASSERT_EQ(flush_updates(Session(1)), 0);
  pid_t pid = static_cast<pid_t>(Session(1)->server->pid);
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  waitpid(pid, nullptr, 0);
  // The host lets go of the dead connection and attaches a new driver
  // process over the same database file.
  ZDB_SERVER *server = Session(1)->server;
  sclose(server->in);
  sclose(server->out);
  server->in = server->out = nullptr;
  ASSERT_EQ(zdb_attach_on_demand(server), 0) << zdb_errno;
  ASSERT_NE(static_cast<pid_t>(server->pid), pid);
  EXPECT_EQ(Read(1, Row(1, "")), Row(1, "committed")) << zdb_errno;
  EXPECT_EQ(Read(1, Row(2, "")), Row(2, "committed"));
  EXPECT_TRUE(Read(1, Row(3, "")).empty());
}

// A database file capped at a few pages, as a full disk is: the batch that
// does not fit is refused with 701 naming the cause and the file, rolled
// back whole; a commit never reports lost work as committed; committed rows
// stay; once deletes make room the next batch and commit go through.
class DataPlaneFull : public DataPlane {
 protected:
  DataPlaneFull() { args_ = " --max-pages=16"; }
};

TEST_P(DataPlaneFull, FullFileIsReportedAndLosesNothingCommitted) {
  const char *kName = "a name that fills it";
  int full_at = 0;
  for (int emp = 1; emp < 256 && full_at == 0; ++emp) {
    ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(emp, kName)), 0);
    if (Commit(1) != 0) full_at = emp;
  }
  ASSERT_NE(full_at, 0) << "the cap was never reached";
  EXPECT_EQ(zdb_errno, ZE_BUFFERED_UPDATE);
  char name[9];
  int compnr = 0;
  const char *extra = nullptr;
  EXPECT_EQ(zdb_get_detail_error(name, &compnr, &extra, trans_), ZE_STORAGE_FULL);
  ASSERT_NE(extra, nullptr);
  EXPECT_NE(std::string(extra).find("full"), std::string::npos) << extra;
  EXPECT_NE(std::string(extra).find(root_.path() + "/main.db"), std::string::npos) << extra;
  EXPECT_NE(std::string(get_zdb_msg()).find("main.db"), std::string::npos) << get_zdb_msg();
  ASSERT_EQ(zdb_do_exec_db(Session(1), db_action_word(abort_trans)), 0) << zdb_errno;
  for (int e = 1; e < full_at; ++e) ASSERT_EQ(Read(1, Row(e, "")), Row(e, kName)) << e;
  // A dictionary whose table does not fit either is refused as full.
  std::uint32_t argument = 0;
  EXPECT_NE(zdb_do_exec_table(Cursor(3), table_action_word(create_table), &argument), 0);
  EXPECT_EQ(zdb_errno, ZE_STORAGE_FULL);

  // A batch that fits, then one that does not, in one transaction: the
  // commit either keeps the first or fails; it never loses it silently.
  ASSERT_EQ(Put(1, RDS_ACT_DELETE, Row(1, kName)), 0);
  ASSERT_EQ(flush_updates(Session(1)), 0) << zdb_errno;
  for (int e = full_at; e < full_at + 40; ++e) ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(e, "x")), 0);
  EXPECT_EQ(flush_updates(Session(1)), -1);
  if (Commit(1) == 0) {
    EXPECT_TRUE(Read(1, Row(1, "")).empty());
  } else {
    EXPECT_EQ(zdb_errno, ZE_STORAGE_FULL);
    ASSERT_EQ(zdb_do_exec_db(Session(1), db_action_word(abort_trans)), 0) << zdb_errno;
    EXPECT_EQ(Read(1, Row(1, "")), Row(1, kName));
  }

  // Deletes make room; the row that did not fit goes in.
  for (int e = 2; e < full_at / 2; ++e) ASSERT_EQ(Put(1, RDS_ACT_DELETE, Row(e, kName)), 0);
  ASSERT_EQ(Commit(1), 0) << zdb_errno;
  ASSERT_EQ(Put(1, RDS_ACT_INSERT, Row(full_at, "after")), 0);
  ASSERT_EQ(Commit(1), 0) << zdb_errno;
  EXPECT_EQ(Read(1, Row(full_at, "")), Row(full_at, "after"));
  EXPECT_EQ(Read(1, Row(full_at - 1, "")), Row(full_at - 1, kName));
}

INSTANTIATE_TEST_SUITE_P(Forms, DataPlane, testing::Values("child", "library"),
                         [](const auto &info) { return std::string(info.param); });
INSTANTIATE_TEST_SUITE_P(Forms, DataPlaneFull, testing::Values("child"),
                         [](const auto &info) { return std::string(info.param); });

}  // namespace
