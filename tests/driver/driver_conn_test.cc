// The reference driver's request handling, without a process: requests are
// written by the client's own writers, fed to a connection (in pieces), and
// its replies read back by the client's readers.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <molvane/zdb.h>

#include <molvane/platform.h>
#include <sqlite3.h>

#include "dbc/compnr/compnr.h"
#include "dbc/dict/dd.h"
#include "dbc/request/request_block.h"
#include "dbc/zdb_errors.h"
#include "protocol/driver_conn.h"
#include "locks/driver_monitor.h"
#include "locks/driver_waits.h"
#include "support/test_env.h"
#include "text/tss.h"

namespace molvane::driver {

// The rows whose lines of waiters the monitor keeps: the lines of rows
// nobody waits for any more must go, or the server grows with every wait.
struct RowWaitersPeer {
  static std::size_t Lines(const RowWaiters &waiters) {
    std::lock_guard<std::mutex> lock(waiters.mu_);
    return waiters.rows_.size();
  }
};

}  // namespace molvane::driver

namespace {

using molvane::driver::DriverConnection;
using molvane::driver::DriverStore;
using molvane::driver::ClientQuiet;

std::vector<std::uint8_t> Request(int code, const std::function<void(ZDB_REQUEST &)> &fill) {
  dbc_request_prepare(code);
  if (fill) fill(dbc_request());
  STREAM *out = stream_open_bytes(nullptr, 0, "w");
  EXPECT_EQ(client_send_commu_funcs()[code](&dbc_request(), out), 0);
  sflush(out);
  std::size_t n = 0;
  const unsigned char *p = stream_bytes(out, &n);
  std::vector<std::uint8_t> bytes(p, p + n);
  sclose(out);
  return bytes;
}

class DriverConn : public testing::Test {
 protected:
  // Sends one request in pieces of `piece` bytes and reads its reply into
  // the request block; the reader's result.
  int Exchange(int code, const std::function<void(ZDB_REQUEST &)> &fill, std::size_t piece = 0) {
    std::vector<std::uint8_t> bytes = Request(code, fill);
    if (piece == 0) piece = bytes.size();
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      EXPECT_FALSE(conn_.has_reply());
      conn_.Feed(bytes.data() + at, std::min(piece, bytes.size() - at));
      EXPECT_TRUE(conn_.Process());
    }
    std::vector<std::uint8_t> reply(1 << 16);
    std::size_t n = conn_.TakeReply(reply.data(), reply.size());
    EXPECT_FALSE(conn_.has_reply());
    STREAM *in = stream_open_bytes(reply.data(), n, "r");
    int rc = client_get_commu_funcs()[code](&dbc_request(), in);
    sclose(in);
    return rc;
  }

  molvane::test::ScratchDir dir_;
  DriverConnection conn_{{dir_.path() + "/main.db"}};
};

TEST_F(DriverConn, AttachesInPiecesAndReportsItsFacts) {
  ASSERT_EQ(Exchange(SEND_COMPNR, nullptr), 0);  // the driver holds the client's mapping
  ASSERT_EQ(Exchange(ATT_SERVER,
                     [](ZDB_REQUEST &r) {
                       r.att_server.driver_nr = 1;
                       r.att_server.compnr_env = compnrGetEnv();
                       r.att_server.user = "ann";
                       r.att_server.no_refs = true;
                       r.att_server.server_text = "dd msqlite x";
                     },
                     1),
            0);
  EXPECT_EQ(dbc_request().retval, 0);
  EXPECT_EQ(dbc_request().att_server.sql_protocol, ZDB_SQL_PROTOCOL);
  EXPECT_EQ(dbc_request().att_server.level_flags, 0u);  // TSS mode 1
  EXPECT_GT(dbc_request().att_server.sessions_allowed, 0u);
}

TEST_F(DriverConn, LevelFlagTellsTheUtfTMode) {
  setenv("TSS_MODE", "2", 1);
  TssReloadSettings();
  ASSERT_EQ(Exchange(ATT_SERVER, nullptr), 0);
  EXPECT_EQ(dbc_request().att_server.level_flags, ZDB_LEVEL_UTFT);
}

TEST_F(DriverConn, SessionsAndTransactions) {
  ASSERT_EQ(Exchange(SEND_COMPNR, nullptr), 0);
  ASSERT_EQ(Exchange(ATT_SESSION, [](ZDB_REQUEST &r) { r.att_session.trans_name = "t1"; }), 0);
  std::uint32_t sid = dbc_request().session_id;
  EXPECT_EQ(dbc_request().retval, 0);
  auto db_action = [&](int action) {
    Exchange(EXE_DB_CNTR, [&](ZDB_REQUEST &r) {
      r.session_id = sid;
      r.db_cntr.action = static_cast<std::uint32_t>(action);
    });
    return dbc_request().retval;
  };
  EXPECT_EQ(db_action(start_transaction), 0);
  EXPECT_EQ(db_action(commit_trans), 0);
  EXPECT_EQ(db_action(start_transaction), 0);
  EXPECT_EQ(db_action(abort_trans), 0);
  EXPECT_EQ(db_action(set_readonly), 0);
  EXPECT_EQ(db_action(12), ZE_ILLEGAL_ARGUMENT);

  Exchange(EXE_SESSION, [&](ZDB_REQUEST &r) {
    r.session_id = sid;
    r.exe.command = SESS_RENAME;
    r.exe.msg = "renamed";
    r.exe.msglen = 7;
  });
  EXPECT_EQ(dbc_request().retval, 0);
  Exchange(DET_SESSION, [&](ZDB_REQUEST &r) { r.session_id = sid; });
  EXPECT_EQ(dbc_request().retval, 0);
  Exchange(DET_SESSION, [&](ZDB_REQUEST &r) { r.session_id = sid; });
  EXPECT_EQ(dbc_request().retval, ZE_INVALID_SESSION);
  Exchange(EXE_DB_CNTR, [&](ZDB_REQUEST &r) {
    r.session_id = sid;
    r.db_cntr.action = commit_trans;
  });
  EXPECT_EQ(dbc_request().retval, ZE_INVALID_SESSION);
}

// A file that is no database: the session is refused with the number of a
// damaged file, not a bare illegal state.
TEST_F(DriverConn, DamagedFileRefusesTheSessionWithItsOwnNumber) {
  dir_.WriteFile("main.db", std::string(8192, 'x'));
  ASSERT_EQ(Exchange(SEND_COMPNR, nullptr), 0);
  ASSERT_EQ(Exchange(ATT_SESSION, [](ZDB_REQUEST &r) { r.att_session.trans_name = "t1"; }), 0);
  EXPECT_EQ(dbc_request().retval, ZE_STORAGE_CORRUPT);
}

TEST_F(DriverConn, SystemCommands) {
  static const char hello[4] = {0, 0, 3, static_cast<char>(0x82)};
  Exchange(EXE_SYSTEM, [](ZDB_REQUEST &r) {
    r.exe.command = SYS_CLIENT_HELLO;
    r.exe.msg = hello;
    r.exe.msglen = 4;
  });
  EXPECT_EQ(dbc_request().retval, 0);
  EXPECT_EQ(dbc_request().exe.msglen, 0);
  Exchange(EXE_SYSTEM, [](ZDB_REQUEST &r) {
    r.exe.command = SYS_SYSTEM_INFO;
    r.exe.msg = "\0\0\0\1";
    r.exe.msglen = 4;
  });
  EXPECT_EQ(dbc_request().retval, 0);
  EXPECT_EQ(std::string(dbc_request().exe.msg, dbc_request().exe.msglen).rfind("msqlite", 0), 0u);
  Exchange(EXE_SYSTEM, [](ZDB_REQUEST &r) { r.exe.command = 4711; });
  EXPECT_EQ(dbc_request().retval, ZE_ILLEGAL_ARGUMENT);
}

// Requests on tables are read in full and refused, and the connection stays
// in step for the next request.
TEST_F(DriverConn, UnservedRequestsAreRefusedInStep) {
  unsigned char row[16] = {};
  const std::pair<int, std::function<void(ZDB_REQUEST &)>> cases[] = {
      {EXE_TBL_CNTR, [](ZDB_REQUEST &r) { std::strcpy(r.tbl_cntr.table, "tcabc001"); }},
      {EXE_ROW_CNTR,
       [&](ZDB_REQUEST &r) {
         std::strcpy(r.row_cntr.table, "tcabc001");
         r.row_cntr.row = row;
         r.row_cntr.row_len = 4;
         r.row_cntr.row_capacity = sizeof row;
       }},
      {ALTER_TABLE, [](ZDB_REQUEST &r) { r.alter.row_len = 10; }},
  };
  for (const auto &[code, fill] : cases) {
    SCOPED_TRACE(dbc_request_name(code));
    Exchange(code, fill, 3);
    EXPECT_GT(dbc_request().retval, 0);
  }
  // Payloads written by the other parts of the client are read and accepted.
  for (int code : {PERMISSION, SEND_COMPNR, AUDITCOLS}) {
    SCOPED_TRACE(dbc_request_name(code));
    EXPECT_EQ(Exchange(code, nullptr, 2), 0);
    EXPECT_EQ(dbc_request().retval, 0);
  }
  ASSERT_EQ(Exchange(EXE_UPDATE, nullptr), 0);
  EXPECT_EQ(dbc_request().retval, 0);
  ASSERT_EQ(Exchange(DET_SERVER, nullptr), 0);
  EXPECT_EQ(dbc_request().retval, 0);
}

TEST_F(DriverConn, DictionaryDescriptionIsReadInStep) {
  set_zuv(molvane::test::FixturePath("zuv").c_str());
  init_local_dd();
  for (const char *name : {"exdep010", "exemp010"}) {
    SCOPED_TRACE(name);
    const DD_TABLE *table = ddtable(name);
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(Exchange(DD_INFO_TABLE, [&](ZDB_REQUEST &r) {
                r.dd_info.table = table;
                r.dd_info.compnr = 1;
              }, 5), 0);
    EXPECT_GT(dbc_request().retval, 0);
  }
  ASSERT_EQ(Exchange(DET_SERVER, nullptr), 0);
}

// Names a peer chose reach the log escaped, each line as one line: a column
// name with a newline in a dictionary of another layout, and a session name
// with control bytes refused beyond the sessions allowed.
TEST_F(DriverConn, PeerBytesReachTheLogEscapedOnOneLine) {
  set_zuv(molvane::test::FixturePath("zuv").c_str());
  init_local_dd();
  static std::vector<std::string> lines;
  lines.clear();
  log_hook_fn previous = log_set_log_hook([](char, const char *, const char *text, const char *, int) {
    lines.emplace_back(text);
  });
  testing::internal::CaptureStderr();
  ASSERT_EQ(Exchange(SEND_COMPNR, nullptr), 0);
  ASSERT_EQ(Exchange(ATT_SESSION, [](ZDB_REQUEST &r) { r.att_session.trans_name = "t1"; }), 0);
  const std::uint32_t sid = dbc_request().session_id;
  DD_TABLE *table = ddtable("exdep010");
  ASSERT_NE(table, nullptr);
  auto send_dictionary = [&] {
    Exchange(DD_INFO_TABLE, [&](ZDB_REQUEST &r) {
      r.session_id = sid;
      r.dd_info.table = table;
      r.dd_info.compnr = 1;
    });
    return dbc_request().retval;
  };
  ASSERT_EQ(send_dictionary(), 0u);
  DD_COLUMN &column = table->columns[0];
  const std::string kept = column.name;
  std::snprintf(column.name, sizeof column.name, "%s", "x\nE forged\x1b[2J\\");
  EXPECT_EQ(send_dictionary(), static_cast<std::uint32_t>(ZE_ILLEGAL_STATE));
  std::snprintf(column.name, sizeof column.name, "%s", kept.c_str());

  DriverConnection crowded(std::vector<std::string>{dir_.path() + "/other.db", "--sessions=1"});
  for (const char *name : {"t1", "s\r\n\t\x7f\xc2\x9b\xff\xc3\xa9"}) {
    const std::vector<std::uint8_t> bytes =
        Request(ATT_SESSION, [name](ZDB_REQUEST &r) { r.att_session.trans_name = name; });
    crowded.Feed(bytes.data(), bytes.size());
    EXPECT_TRUE(crowded.Process());
  }
  testing::internal::GetCapturedStderr();
  log_set_log_hook(previous);

  auto line_with = [](const std::string &part) {
    for (const std::string &line : lines)
      if (line.find(part) != std::string::npos) return line;
    return std::string();
  };
  // The difference names the column as the layout keeps it (its newline as
  // "\n"), and the log escapes that text whole.
  const std::string layout = line_with("has column x\\\\nE forged\\x1b[2J\\\\\\\\ first");
  std::string all;
  for (const std::string &line : lines) all += line + "\n";
  EXPECT_NE(layout.find("table exdep010 company 001 refused: "), std::string::npos) << all;
  // A control character of U+0080 to U+009F and a byte that is no UTF-8
  // are escaped; a letter of UTF-8 stays as it is.
  EXPECT_NE(line_with("session 's\\r\\n\\t\\x7f\\xc2\\x9b\\xff\xc3\xa9' refused: 1 sessions in use"), "");
  for (const std::string &line : lines)
    for (unsigned char c : line) EXPECT_TRUE(c >= 0x20 && c != 0x7F) << line;
}

struct BadRequest {
  const char *what;
  std::vector<std::uint8_t> bytes;
};

// A store without a database file (none named, or ":memory:") keeps one
// database for all its sessions, in a file of its own in TMPDIR: a row that
// one session's open transaction writes is not seen by another, which reads
// on as from a named file (no table lock refuses it), and is seen once
// committed. The file, its WAL and shared-memory files go with the store.
TEST(DriverStoreMemory, AStoreWithoutAFileKeepsOneDatabaseForItsSessionsAndLeavesNothing) {
  molvane::test::ScratchDir tmp;
  const char *before = std::getenv("TMPDIR");
  const std::string saved = before != nullptr ? before : "";
  setenv("TMPDIR", tmp.path().c_str(), 1);
  auto count = [](sqlite3 *db) {
    sqlite3_stmt *stmt = nullptr;
    int rows = -1;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM t", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
      rows = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    return rows;
  };
  for (const char *path : {"", ":memory:"}) {
    SCOPED_TRACE(path);
    std::filesystem::remove(":memory:");
    {
      DriverStore store;
      if (*path != '\0') store.SetPath(path);
      std::string error;
      molvane::driver::DriverSession *a = store.OpenSession("a", &error);
      ASSERT_NE(a, nullptr) << error;
      molvane::driver::DriverSession *b = store.OpenSession("b", &error);
      ASSERT_NE(b, nullptr) << error;
      EXPECT_EQ(store.own_file().rfind(tmp.path() + "/molvane-driver-", 0), 0u) << store.own_file();
      EXPECT_TRUE(store.has_path());
      ASSERT_EQ(sqlite3_exec(a->db(), "CREATE TABLE t(x)", nullptr, nullptr, nullptr), SQLITE_OK);
      ASSERT_TRUE(a->Begin());
      ASSERT_EQ(sqlite3_exec(a->db(), "INSERT INTO t VALUES (1)", nullptr, nullptr, nullptr), SQLITE_OK);
      EXPECT_EQ(count(b->db()), 0);
      EXPECT_EQ(store.Writer(b->id()), a->id());
      ASSERT_TRUE(a->Commit());
      EXPECT_EQ(count(b->db()), 1);
      // b writes as a's transaction did; a reads its commit.
      ASSERT_TRUE(b->Begin());
      ASSERT_EQ(sqlite3_exec(b->db(), "INSERT INTO t VALUES (2)", nullptr, nullptr, nullptr), SQLITE_OK);
      ASSERT_TRUE(b->Commit());
      EXPECT_EQ(count(a->db()), 2);
    }
    EXPECT_FALSE(std::filesystem::exists(":memory:"));
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
  }
  // Files a killed driver left (no store holds them, a minute old) go when
  // a store makes its own; a file in use, by another process or by a store
  // of this one, or a new one stays.
  auto old_file = [&tmp](const std::string &name) {
    const std::string path = tmp.path() + "/" + name;
    std::FILE *f = std::fopen(path.c_str(), "w");
    std::fclose(f);
    const timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - DriverStore::kStaleOwnFileSeconds - 5, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
    return path;
  };
  const std::string stale = old_file("molvane-driver-stale1.db"), held = old_file("molvane-driver-held01.db");
  old_file("molvane-driver-stale1.db-wal");
  std::fclose(std::fopen((tmp.path() + "/molvane-driver-fresh1.db").c_str(), "w"));
  const int holder = open(held.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(holder, LOCK_SH), 0);
  {
    DriverStore first, second;
    std::string error;
    ASSERT_NE(first.OpenSession("a", &error), nullptr) << error;
    const timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - DriverStore::kStaleOwnFileSeconds - 5, 0}};
    utimensat(AT_FDCWD, first.own_file().c_str(), times, 0);
    ASSERT_NE(second.OpenSession("b", &error), nullptr) << error;
    EXPECT_TRUE(std::filesystem::exists(first.own_file()));
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_FALSE(std::filesystem::exists(stale + "-wal"));
    EXPECT_TRUE(std::filesystem::exists(held));
    EXPECT_TRUE(std::filesystem::exists(tmp.path() + "/molvane-driver-fresh1.db"));
  }
  close(holder);
  if (before != nullptr)
    setenv("TMPDIR", saved.c_str(), 1);
  else
    unsetenv("TMPDIR");
}

// A commit is answered only once it is on the disk, whatever SQLite's
// build default is.
TEST(DriverStoreFile, EverySessionSyncsItsCommitsFully) {
  molvane::test::ScratchDir dir;
  DriverStore store;
  store.SetPath(dir.path() + "/sync.db");
  std::string error;
  for (const char *name : {"t1", "t2"}) {
    molvane::driver::DriverSession *session = store.OpenSession(name, &error);
    ASSERT_NE(session, nullptr) << error;
    sqlite3_stmt *stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(session->db(), "PRAGMA synchronous", -1, &stmt, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(stmt, 0), 2) << name;  // FULL
    sqlite3_finalize(stmt);
  }
}

// A transaction that SQLite ended behind the client's back during a request
// (as a full disk or an I/O error can), or that the driver rolled back for
// sitting idle, is lost: its commit fails, again and again, until the
// client aborts; only then does the session work again. The rows a
// session's open transaction changed are known to the other sessions.
TEST(DriverStoreTransactions, LostTransactionRefusesCommitUntilAbortedAndChangedRowsAreKnown) {
  molvane::test::ScratchDir dir;
  DriverStore store;
  store.SetPath(dir.path() + "/main.db");
  store.SetIdleTransactionLimit(std::chrono::seconds(5));
  std::string error;
  auto *a = store.OpenSession("a", &error);
  auto *b = store.OpenSession("b", &error);
  ASSERT_TRUE(a != nullptr && b != nullptr) << error;
  ASSERT_EQ(sqlite3_exec(a->db(), "CREATE TABLE t(x)", nullptr, nullptr, nullptr), SQLITE_OK);
  auto now = std::chrono::steady_clock::now();

  const std::set<std::uint32_t> ids{a->id()};
  ASSERT_TRUE(a->Begin());
  ASSERT_EQ(sqlite3_exec(a->db(), "INSERT INTO t VALUES (1), (2)", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(store.ChangerOf(b->id(), "t", 2), a->id());
  EXPECT_EQ(store.ChangerOf(b->id(), "t", 0), a->id());
  EXPECT_EQ(store.ChangerOf(b->id(), "t", 3), 0u);
  EXPECT_EQ(store.ChangerOf(a->id(), "t", 2), 0u);
  // Rows changed out of rowid order, and again, are known as well.
  ASSERT_EQ(sqlite3_exec(a->db(), "INSERT INTO t(rowid, x) VALUES (10, 0), (5, 0); UPDATE t SET x = 1 WHERE rowid = 2",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  for (int rowid : {1, 2, 5, 10}) EXPECT_EQ(store.ChangerOf(b->id(), "t", rowid), a->id()) << rowid;
  EXPECT_EQ(store.ChangerOf(b->id(), "t", 7), 0u);
  store.RequestStarts(ids);
  ASSERT_EQ(sqlite3_exec(a->db(), "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(store.RequestEnded(ids), std::vector<std::uint32_t>{a->id()});
  EXPECT_EQ(store.ChangerOf(b->id(), "t", 2), 0u);
  EXPECT_NE(a->lost_reason().find("SQLite rolled back the transaction of session"), std::string::npos);
  EXPECT_FALSE(a->Begin());
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(a->Commit());
    EXPECT_EQ(a->Failure(0), static_cast<std::uint32_t>(ZE_COMMUNICATION));
  }
  EXPECT_TRUE(a->Abort());
  ASSERT_TRUE(a->Begin());
  EXPECT_TRUE(a->Commit());

  // A commit or abort inside the request is the client's own end.
  store.RequestStarts(ids);
  ASSERT_TRUE(a->Begin());
  EXPECT_TRUE(a->Commit());
  store.RequestEnded(ids);
  EXPECT_EQ(a->lost(), 0u);

  // Idle: the write transaction of a client quiet for longer than the
  // limit ends, and takes no more work until the abort. A session the
  // server does not name as quiet (its request runs) is never touched, and
  // one whose client has not read its answer has ten times the limit.
  store.RequestStarts(ids);
  ASSERT_TRUE(a->Begin());
  store.RequestEnded(ids);
  const std::map<std::uint32_t, ClientQuiet> quiet{{a->id(), {now, false}}, {b->id(), {now, false}}};
  const std::map<std::uint32_t, ClientQuiet> unread{{a->id(), {now, true}}};
  EXPECT_TRUE(store.OnIdleTick(now + std::chrono::seconds(4), quiet).empty());
  EXPECT_TRUE(store.OnIdleTick(now + std::chrono::seconds(600), {}).empty());
  EXPECT_TRUE(store.OnIdleTick(now + std::chrono::seconds(49), unread).empty());
  EXPECT_TRUE(a->active());
  EXPECT_EQ(store.OnIdleTick(now + std::chrono::seconds(6), quiet), std::vector<std::uint32_t>{a->id()});
  EXPECT_FALSE(a->active());
  EXPECT_NE(a->lost_reason().find("no request for more than 5 s"), std::string::npos) << a->lost_reason();
  EXPECT_FALSE(a->Begin());
  EXPECT_EQ(a->Failure(0), static_cast<std::uint32_t>(ZE_COMMUNICATION));
  EXPECT_FALSE(a->Commit());
  EXPECT_EQ(a->Failure(0), static_cast<std::uint32_t>(ZE_COMMUNICATION));
  EXPECT_TRUE(a->Abort());
  EXPECT_TRUE(a->Begin());
  EXPECT_TRUE(a->Commit());
}

// Every end of a transaction is counted, whoever ends it: a driver server
// wakes a parked writer only then.
TEST(DriverStoreTransactions, EveryEndOfATransactionIsCounted) {
  molvane::test::ScratchDir dir;
  DriverStore store;
  store.SetPath(dir.path() + "/main.db");
  std::string error;
  auto *a = store.OpenSession("a", &error);
  ASSERT_NE(a, nullptr) << error;
  ASSERT_EQ(sqlite3_exec(a->db(), "CREATE TABLE t(x)", nullptr, nullptr, nullptr), SQLITE_OK);
  std::uint64_t ended = store.transactions_ended();
  ASSERT_TRUE(a->Begin());
  EXPECT_EQ(store.transactions_ended(), ended);
  ASSERT_TRUE(a->Commit());
  EXPECT_EQ(store.transactions_ended(), ++ended);
  ASSERT_TRUE(a->Begin());
  ASSERT_EQ(sqlite3_exec(a->db(), "INSERT INTO t VALUES (1)", nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(a->db(), "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);  // behind the driver
  EXPECT_EQ(store.transactions_ended(), ++ended);
  EXPECT_TRUE(a->Abort());
  EXPECT_EQ(store.transactions_ended(), ended);  // nothing was open
}

// The waiting policy on a clock of its own: the bound starts again when
// what is waited for changes hands, and no wait outlasts the longer of
// 20 s and the bound (a bound set above 20 s holds for its first holder
// and its successors alike).
TEST(DriverMonitorQueue, WaitBoundRenewsAtEachHolderWithinTheLongerOfTwentySecondsAndTheBound) {
  using molvane::driver::WaitBound;
  using std::chrono::milliseconds;
  struct Step {
    long long at_ms;
    std::uint64_t holder;
    bool goes;
  };
  struct Case {
    long long bound_ms;
    std::vector<Step> steps;
  } cases[] = {
      {500, {{400, 1, true}, {600, 1, false}}},
      {500, {{400, 2, true}, {850, 2, true}, {950, 2, false}}},
      // Renewed again and again, the wait still ends 20 s after it began.
      {500, {{19800, 3, true}, {19990, 3, true}, {20000, 3, false}}},
      {30000, {{25000, 1, true}, {25000, 2, true}, {29999, 2, true}, {30000, 2, false}}},
      {30000, {{10000, 2, true}, {29999, 2, true}, {30000, 2, false}}},
  };
  for (const Case &c : cases) {
    WaitBound bound(milliseconds(c.bound_ms), 1);
    for (const Step &s : c.steps)
      EXPECT_EQ(bound.Goes(s.holder, bound.start() + milliseconds(s.at_ms)), s.goes)
          << "bound " << c.bound_ms << " ms, at " << s.at_ms << " ms, holder " << s.holder;
  }
}

// Who waits for whom: a wait closes a circle exactly when the sessions it
// would wait for lead, through the waits under way as they stand, back to
// its own host; the sessions of one host count as one, and a wait that
// ends leaves the relation.
TEST(DriverMonitorQueue, WaitsForFindsTheCircleAWaitWouldClose) {
  using molvane::driver::WaitsFor;
  // Sessions 1-4 are hosts of their own; 5 is a session of 1's host.
  const std::map<std::uint32_t, WaitsFor::Party> host{{1, 100}, {2, 200}, {3, 300}, {4, 400}, {5, 100}};
  WaitsFor waits([&host](std::uint32_t s) { return host.at(s); });
  std::map<std::uint32_t, std::vector<std::uint32_t>> blocked_by;  // what each wait waits for now
  auto wait = [&](std::uint32_t s) { return waits.Begin(s, [&blocked_by, s] { return blocked_by[s]; }); };
  blocked_by[1] = {2};
  const auto w1 = wait(1);
  blocked_by[2] = {3};
  const auto w2 = wait(2);
  struct Case {
    std::uint32_t session;
    std::vector<std::uint32_t> blockers;
    std::vector<std::uint32_t> circle;
  } cases[] = {
      {3, {1}, {1, 2}},     // three hosts
      {2, {1}, {1}},        // two hosts
      {4, {1}, {}},         // no way back to 4
      {3, {4, 1}, {1, 2}},  // one of its blockers leads back
      {5, {1}, {1}},        // its own host on another connection
      {3, {5}, {5, 2}},     // through the host of 5, whose other session waits
  };
  for (const Case &c : cases)
    EXPECT_EQ(waits.Circle(c.session, c.blockers), c.circle) << "session " << c.session;
  // The holders change: the circle is read as it stands.
  blocked_by[2] = {4};
  EXPECT_EQ(waits.Circle(3, {1}), std::vector<std::uint32_t>{});
  EXPECT_EQ(waits.Circle(4, {1}), (std::vector<std::uint32_t>{1, 2}));
  waits.End(w2);
  EXPECT_EQ(waits.Circle(4, {1}), std::vector<std::uint32_t>{});
  // 1 still waits for 2: a wait of 2 for 1 closes the circle until 1's
  // wait ends.
  blocked_by[1] = {2};
  EXPECT_EQ(waits.Circle(2, {1}), std::vector<std::uint32_t>{1});
  waits.End(w1);
  EXPECT_EQ(waits.Circle(2, {1}), std::vector<std::uint32_t>{});
}

// The monitor is handed on in the order asked for, a writer's thread
// first; a write transaction's end wakes the head of the write queue
// alone, and the next one is woken when the head leaves.
TEST(DriverMonitorQueue, HandsOnInOrderWriterFirstAndWakesTheQueueHeadAlone) {
  using molvane::driver::DriverMonitor;
  DriverMonitor m;
  std::vector<int> order;  // under the monitor
  m.Lock();
  std::vector<std::thread> threads;
  for (int n : {1, 2, 3}) {
    threads.emplace_back([&m, &order, n] {
      m.Lock(n == 3);
      order.push_back(n);
      m.Unlock();
    });
    while (m.waiting() < static_cast<std::size_t>(n)) std::this_thread::yield();
  }
  m.Unlock();
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(order, (std::vector<int>{3, 1, 2}));

  m.Lock();
  const std::uint64_t first = m.Park(), second = m.Park();
  EXPECT_TRUE(m.First(first));
  EXPECT_EQ(m.Position(second), 1u);
  std::atomic<int> woken[2] = {0, 0};
  threads.clear();
  for (int i : {0, 1})
    threads.emplace_back([&m, &woken, i, ticket = i == 0 ? first : second] {
      m.Lock();
      m.Sleep(ticket, DriverMonitor::Clock::now() + std::chrono::seconds(20));
      woken[i] = 1;
      m.Unlock();
    });
  while (m.waiting() < 2) std::this_thread::yield();
  m.Unlock();
  m.Lock();  // both sleep once this thread has the monitor again
  m.WriteEnded();
  m.Unlock();
  auto wait_for = [](std::atomic<int> &flag) {
    for (int i = 0; i < 5000 && flag == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return flag == 1;
  };
  EXPECT_TRUE(wait_for(woken[0]));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(woken[1], 0);
  m.Lock();
  m.Leave(first);
  m.Unlock();
  EXPECT_TRUE(wait_for(woken[1]));
  m.Lock();
  m.Leave(second);
  m.Unlock();
  for (std::thread &t : threads) t.join();

  // Row waiters: of the two that wait for row r only the first is woken
  // when r's holder (session 7) releases it, the second when the first
  // leaves with r still free; the waiter of row s sleeps until s's holder
  // (session 8) releases it. A release looks only at the rows its
  // sessions held: 1,000 waiters of rows held by session 9 cost nothing.
  std::uint64_t holder_r = 7, holder_s = 8;  // under the monitor
  int looked = 0;  // how often a waiter's holder was asked, under the monitor
  m.Lock();
  const std::uint64_t r1 = m.AwaitLock("r", [&] { return ++looked, holder_r; });
  const std::uint64_t r2 = m.AwaitLock("r", [&] { return ++looked, holder_r; });
  const std::uint64_t s1 = m.AwaitLock("s", [&] { return ++looked, holder_s; });
  EXPECT_EQ(molvane::driver::RowWaitersPeer::Lines(m), 2u);
  std::vector<std::uint64_t> crowd;
  for (int i = 0; i < 1000; ++i) {
    crowd.push_back(m.AwaitLock("c" + std::to_string(i), [&] { return ++looked, std::uint64_t{9}; }));
    m.SleepForLock(crowd.back(), DriverMonitor::Clock::now());  // files its row under session 9
  }
  std::atomic<int> rows_woken[3] = {0, 0, 0};
  threads.clear();
  for (int i : {0, 1, 2})
    threads.emplace_back([&m, &rows_woken, i, ticket = i == 0 ? r1 : i == 1 ? r2 : s1] {
      m.Lock();
      m.SleepForLock(ticket, DriverMonitor::Clock::now() + std::chrono::seconds(20));
      rows_woken[i] = 1;
      m.Unlock();
    });
  while (m.waiting() < 3) std::this_thread::yield();
  m.Unlock();
  m.Lock();  // all three sleep once this thread has the monitor again
  holder_r = 0;
  looked = 0;
  m.LocksReleased(std::vector<std::uint32_t>{7});
  EXPECT_EQ(looked, 1) << "the release looked at rows its session did not hold";
  m.Unlock();
  EXPECT_TRUE(wait_for(rows_woken[0]));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(rows_woken[1] + rows_woken[2], 0);
  m.Lock();
  m.LeaveLock(r1);
  m.Unlock();
  EXPECT_TRUE(wait_for(rows_woken[1]));
  EXPECT_EQ(rows_woken[2], 0);
  m.Lock();
  holder_s = 0;
  m.LocksReleased(std::vector<std::uint32_t>{7});  // not s's holder: s sleeps on
  m.Unlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(rows_woken[2], 0);
  m.Lock();
  m.LocksReleased(std::vector<std::uint32_t>{8});
  m.LeaveLock(r2);
  m.Unlock();
  EXPECT_TRUE(wait_for(rows_woken[2]));
  m.Lock();
  m.LeaveLock(s1);
  for (std::uint64_t c : crowd) m.LeaveLock(c);
  EXPECT_EQ(molvane::driver::RowWaitersPeer::Lines(m), 0u) << "lines of rows nobody waits for were kept";
  m.Unlock();
  for (std::thread &t : threads) t.join();
}

// A thread keeps the urgency it took the monitor with when it yields, an
// urgent thread passes no waiting thread more than kMaxPassed times, and
// the monitor has one holder at a time however threads come and go.
TEST(DriverMonitorQueue, YieldKeepsUrgencyAndUrgentThreadsPassEachWaiterABoundedNumberOfTimes) {
  using molvane::driver::DriverMonitor;
  DriverMonitor m;
  std::vector<int> order;  // under the monitor
  std::vector<std::thread> threads;
  auto start = [&](int n, bool urgent, const std::function<void()> &work) {
    const std::size_t waiting = m.waiting();
    threads.emplace_back([&, n, urgent, work] {
      m.Lock(urgent);
      order.push_back(n);
      if (work) work();
      m.Unlock();
    });
    while (m.waiting() == waiting) std::this_thread::yield();
  };
  // 1 takes it urgent and yields while 2 and 3 wait: 2 goes first, then
  // 1 again (10) before 3.
  m.Lock();
  start(1, true, [&] {
    while (m.waiting() < 2) std::this_thread::yield();
    m.Yield();
    order.push_back(10);
  });
  m.Unlock();
  start(2, false, nullptr);
  start(3, false, nullptr);
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 10, 3}));

  order.clear();
  threads.clear();
  m.Lock();
  start(0, false, nullptr);
  for (int n = 1; n <= DriverMonitor::kMaxPassed + 1; ++n) start(n, true, nullptr);
  m.Unlock();
  for (std::thread &t : threads) t.join();
  std::vector<int> expected;
  for (int n = 1; n <= DriverMonitor::kMaxPassed; ++n) expected.push_back(n);
  expected.push_back(0);
  expected.push_back(DriverMonitor::kMaxPassed + 1);
  EXPECT_EQ(order, expected);

  // Many threads, urgent or not, some yielding, some holding it past the
  // time the thread next in line stays awake: one holder at a time, and
  // every thread gets its turns.
  std::atomic<int> inside{0}, overlaps{0};
  int turns = 0;  // under the monitor
  auto hold = [&](bool slow) {
    if (inside.fetch_add(1) != 0) ++overlaps;
    ++turns;
    if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    inside.fetch_sub(1);
  };
  threads.clear();
  for (int n = 0; n < 8; ++n)
    threads.emplace_back([&, n] {
      for (int i = 0; i < 200; ++i) {
        m.Lock((n + i) % 3 == 0);
        hold(i % 50 == n);
        if (i % 7 == 0) {
          m.Yield();
          hold(false);
        }
        m.Unlock();
      }
    });
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(turns, 8 * (200 + 29));
  EXPECT_EQ(m.waiting(), 0u);
}

// One request of a server connection: fed and processed under the
// monitor, as a worker does; the reader's result.
int ServerExchange(DriverConnection &conn, molvane::driver::DriverMonitor &monitor, int code,
                   const std::function<void(ZDB_REQUEST &)> &fill) {
  std::vector<std::uint8_t> bytes = Request(code, fill);
  monitor.Lock();
  conn.Feed(bytes.data(), bytes.size());
  try {
    conn.Process();
  } catch (...) {
    monitor.Unlock();
    throw;
  }
  monitor.Unlock();
  std::vector<std::uint8_t> reply(1 << 16);
  std::size_t n = conn.TakeReply(reply.data(), reply.size());
  STREAM *in = stream_open_bytes(reply.data(), n, "r");
  int rc = client_get_commu_funcs()[code](&dbc_request(), in);
  sclose(in);
  return rc;
}

// Connections of a driver server over one database and one monitor, run
// as its workers run them (ServerExchange), with the requests the tests
// below make of them.
class DriverServerQueue : public testing::Test {
 protected:
  using DriverMonitor = molvane::driver::DriverMonitor;
  void SetUp() override {
    set_zuv(molvane::test::FixturePath("zuv").c_str());
    init_local_dd();
    shared_.monitor = &monitor_;
    shared_.store.SetPath(dir_.path() + "/main.db");
    shared_.store.SetBusyTime(0);
    options_.database = dir_.path() + "/main.db";
  }
  std::uint32_t Session(DriverConnection &conn) {
    EXPECT_EQ(ServerExchange(conn, monitor_, ATT_SESSION, [](ZDB_REQUEST &r) { r.att_session.trans_name = "t"; }), 0);
    return dbc_request().session_id;
  }
  void Dictionary(DriverConnection &conn, std::uint32_t sid, std::uint16_t compnr = 1) {
    EXPECT_EQ(ServerExchange(conn, monitor_, DD_INFO_TABLE, [&](ZDB_REQUEST &r) {
                r.session_id = sid;
                r.dd_info.table = ddtable("exdep010");
                r.dd_info.compnr = compnr;
              }), 0);
    EXPECT_EQ(dbc_request().retval, 0);
  }
  int TableAction(DriverConnection &conn, std::uint32_t sid, int action, std::uint16_t compnr = 1) {
    return ServerExchange(conn, monitor_, EXE_TBL_CNTR, [&](ZDB_REQUEST &r) {
      r.session_id = sid;
      std::strcpy(r.tbl_cntr.table, "exdep010");
      r.tbl_cntr.compnr = compnr;
      r.tbl_cntr.action = static_cast<std::uint32_t>(action);
    });
  }

  molvane::test::ScratchDir dir_;
  DriverMonitor monitor_;
  molvane::driver::DriverShared shared_;
  molvane::driver::DriverOptions options_;
};

// A request parked for the write transaction leaves the write queue on
// every way out: one that an exception ends (injected where the request
// asks whether its host went away) holds up no later write.
TEST_F(DriverServerQueue, ARequestEndedByAnExceptionLeavesNoTicketInTheWriteQueue) {
  DriverConnection holder(options_, &shared_), thrower(options_, &shared_), later(options_, &shared_);
  thrower.Serve([]() -> bool { throw std::runtime_error("injected"); }, nullptr);
  later.Serve([] { return false; }, nullptr);
  const std::uint32_t held = Session(holder), thrown = Session(thrower), last = Session(later);
  ASSERT_TRUE(shared_.store.Find(held)->Begin());  // the write transaction the others wait for
  Dictionary(thrower, thrown);
  EXPECT_THROW(TableAction(thrower, thrown, create_table), std::runtime_error);
  monitor_.Lock();
  ASSERT_TRUE(shared_.store.Find(held)->Commit());
  monitor_.WriteEnded();
  monitor_.Unlock();
  Dictionary(later, last);
  const auto start = std::chrono::steady_clock::now();
  TableAction(later, last, create_table);
  EXPECT_EQ(dbc_request().retval, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// What a request releases wakes the requests of other connections that
// wait for it at once, not after the further requests its client sent
// before reading the answer: a locked read waiting for a table lock is
// answered when the holder's commit is processed, although the holder's
// next request, already sent, waits out its own wait.
TEST_F(DriverServerQueue, WhatARequestReleasesWakesItsWaitersBeforeTheClientsNextRequest) {
  options_.lock_wait_ms = 3000;
  DriverConnection holder(options_, &shared_), waiter(options_, &shared_), other(options_, &shared_);
  for (DriverConnection *conn : {&holder, &waiter, &other}) conn->Serve([] { return false; }, nullptr);
  std::vector<unsigned char> key(ddcolumn("exdep010.code")->length, ' ');
  std::memcpy(key.data(), "SALES", 5);
  auto locked_read = [&](std::uint32_t sid, std::uint16_t compnr) {
    return Request(EXE_ROW_CNTR, [&](ZDB_REQUEST &r) {
      r.session_id = sid;
      std::strcpy(r.row_cntr.table, "exdep010");
      r.row_cntr.compnr = compnr;
      r.row_cntr.read_arg = 1;
      r.row_cntr.row = key.data();
      r.row_cntr.row_len = static_cast<std::uint16_t>(key.size());
      r.row_cntr.row_capacity = key.size();
    });
  };
  const std::uint32_t h = Session(holder), w = Session(waiter), o = Session(other);
  Dictionary(holder, h, 1);
  Dictionary(holder, h, 2);
  Dictionary(waiter, w, 1);
  Dictionary(other, o, 2);
  EXPECT_EQ(TableAction(holder, h, lock_table, 1), 0);
  EXPECT_EQ(dbc_request().retval, 0);
  EXPECT_EQ(TableAction(other, o, lock_table, 2), 0);
  EXPECT_EQ(dbc_request().retval, 0);
  // The requests are made here: the request block is the process's.
  const std::vector<std::uint8_t> read = locked_read(w, 1);
  std::vector<std::uint8_t> pipelined = Request(EXE_DB_CNTR, [&](ZDB_REQUEST &r) {
    r.session_id = h;
    r.db_cntr.action = commit_trans;
  });
  const std::vector<std::uint8_t> next = locked_read(h, 2);
  pipelined.insert(pipelined.end(), next.begin(), next.end());
  using Clock = std::chrono::steady_clock;
  auto serve = [&](DriverConnection &conn, const std::vector<std::uint8_t> &bytes, Clock::time_point *done) {
    monitor_.Lock();
    conn.Feed(bytes.data(), bytes.size());
    conn.Process();
    monitor_.Unlock();
    *done = Clock::now();
  };
  Clock::time_point waiter_done, holder_done;
  std::thread waiting([&] { serve(waiter, read, &waiter_done); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the read waits for the table lock
  const Clock::time_point sent = Clock::now();
  std::thread holding([&] { serve(holder, pipelined, &holder_done); });
  waiting.join();
  holding.join();
  EXPECT_LT(waiter_done - sent, std::chrono::milliseconds(1500)) << "the waiter was woken only by its deadline";
  EXPECT_GE(holder_done - sent, std::chrono::milliseconds(2500)) << "the holder's own read did not wait";
  // The waiter was answered that the row is not there, not refused.
  std::vector<std::uint8_t> reply(256);
  reply.resize(waiter.TakeReply(reply.data(), reply.size()));
  ASSERT_GE(reply.size(), 4u);
  const std::size_t n = reply.size();
  EXPECT_EQ((reply[n - 4] << 24) | (reply[n - 3] << 16) | (reply[n - 2] << 8) | reply[n - 1], ZE_NO_RECORD);
}

TEST(DriverConnBad, MalformedRequestsEndTheConnection) {
  std::vector<std::uint8_t> long_name = {ATT_SESSION};
  long_name.insert(long_name.end(), 300, 'a');
  long_name.push_back(0);
  std::vector<std::uint8_t> big_row = {EXE_ROW_CNTR, 0, 0, 0, 1, 't', 0, 0, 1, 0, 0, 0, 0, 0x30, 0x00};
  const BadRequest cases[] = {
      {"unknown code", {16}},
      {"code 255", {255, 1, 2, 3}},
      {"name without end", long_name},
      {"row beyond the row limit", big_row},
      {"role name of length 0", {PERMISSION, 0, 0}},
      {"spec count beyond bound", {SEND_COMPNR, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const BadRequest &c : cases) {
    SCOPED_TRACE(c.what);
    DriverConnection conn({});
    conn.Feed(c.bytes.data(), c.bytes.size());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(conn.Process());
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(conn.ended());
    EXPECT_FALSE(conn.has_reply());
  }
  // A peer that connects again and again to send garbage is logged a few
  // times a minute, not once a connection: a malformed request, and an SQL
  // message whose packets the agent passes over, alike.
  static int logged = 0, agent_logged = 0;
  log_hook_fn previous = log_set_log_hook([](char, const char *, const char *text, const char *, int) {
    if (std::strstr(text, "malformed request") != nullptr) ++logged;
    if (std::strstr(text, "SQL agent: ") != nullptr) ++agent_logged;
  });
  testing::internal::CaptureStderr();
  for (int i = 0; i < 200; ++i) {
    DriverConnection conn({});
    const std::uint8_t garbage[] = {255, 1, 2, 3};
    conn.Feed(garbage, sizeof garbage);
    EXPECT_FALSE(conn.Process());
    DriverConnection agent({});
    const std::uint8_t packets[] = {SQL_MESSAGE, 0, 0, 0, 2, 0x7F, 0x7F};
    agent.Feed(packets, sizeof packets);
    EXPECT_TRUE(agent.Process());
  }
  testing::internal::GetCapturedStderr();
  log_set_log_hook(previous);
  EXPECT_LE(logged, 10);
  EXPECT_GE(agent_logged, 1);
  EXPECT_LE(agent_logged, 10);
}

}  // namespace
