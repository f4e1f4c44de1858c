// End to end: cursors open their internal cursors on the reference driver
// through the table definitions, attach_process and the attach procedure;
// the drivers named in the fixture's lib/ipc_info refuse or accept the
// client as their options say.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>

#include "dbc/dict/dd.h"
#include "dbc/request/request_block.h"
#include "dbc/tabledef/tabledef.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "support/log_capture.h"
#include "support/test_env.h"

namespace {

using molvane::test::FixturePath;
using molvane::test::LogCapture;
using molvane::test::ScratchDir;

int g_deaths = 0;
void CountDeath(STREAM *) { ++g_deaths; }

class AttachEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy(FixturePath("attach"), root_.path(),
                          std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(root_.path() + "/data");
    std::string drivers = std::string(MOLVANE_BINARY_DIR) + "/driver";
    setenv("ZUV_BIN", drivers.c_str(), 1);
    setenv("ZUV_SHLIB", drivers.c_str(), 1);
    setenv("F_ZRDD", FixturePath("zuv/dict").c_str(), 1);
    set_zuv(root_.path().c_str());
    ASSERT_EQ(zdb_init_api("test_attach", nullptr, 0, 0), 0);
    ASSERT_EQ(zdb_logon("ann"), 0);
    g_deaths = 0;
    zdb_set_server_death_handler(CountDeath);
    trans_ = zdb_start_session("attach");
    ASSERT_GT(trans_, 0);
  }
  void TearDown() override { zdb_logoff(); }

  ZDB_CURSOR *Open(const char *table, int trans = 0) {
    ZDB_CURSOR *cursor = nullptr;
    EXPECT_EQ(zdb_open(&cursor, table, 100, row_, 0, trans != 0 ? trans : trans_), 0) << zdb_errno;
    return cursor;
  }
  // The chain of a company, opened on first use; null when it fails.
  ZDB_INTERNAL_CURSOR *Chain(ZDB_CURSOR *cursor, int compnr) {
    ZDB_INTERNAL_CURSOR *head = nullptr;
    return zdb_get_internal_cursor(&head, cursor, compnr) == 0 ? head : nullptr;
  }
  static ZDB_SERVER *ServerOf(ZDB_INTERNAL_CURSOR *ic) { return ic->tsession->session->server; }

  ScratchDir root_;
  int trans_ = 0;
  unsigned char row_[1024] = {};
};

TEST_F(AttachEndToEnd, DeadFirstAlternativeFallsBackToTheSecond) {
  ZDB_CURSOR *cursor = Open("exdep010");
  ZDB_INTERNAL_CURSOR *ic = Chain(cursor, 100);
  ASSERT_NE(ic, nullptr) << zdb_errno;
  ZDB_SERVER *server = ServerOf(ic);
  EXPECT_STREQ(zdb_server_name(server), "msqlite");
  EXPECT_TRUE(zdb_server_attached(server));
  EXPECT_EQ(server->sql_protocol, ZDB_SQL_PROTOCOL);
  EXPECT_GT(server->pid, 0u);
  EXPECT_EQ(zdb_get_nr_drivers(), 1);
  EXPECT_EQ(ic->state, ZDB_ICURSOR_VALID);
  EXPECT_EQ(zdb_cursor_check(ic), 0);
  EXPECT_EQ(zdb_attach_cursor(ic), 0);
}

// A driver whose session fails, or that ends before it has answered (a
// mistyped option), is given up (detached and freed) and the next
// alternative serves; the death handler is not called for it.
TEST_F(AttachEndToEnd, FailedSessionFallsBackToTheNextAlternative) {
  ZDB_CURSOR *cursor = Open("exdep010");
  int drivers = 0;
  for (int compnr : {400, 410}) {  // two groups, a driver record each
    ZDB_INTERNAL_CURSOR *ic = Chain(cursor, compnr);
    ASSERT_NE(ic, nullptr) << compnr << ": " << zdb_errno;
    EXPECT_STREQ(zdb_server_name(ServerOf(ic)), "msqlite");
    EXPECT_EQ(zdb_get_nr_drivers(), ++drivers);
  }
  EXPECT_EQ(g_deaths, 0);
}

// A driver server stopped by SIGTERM says why it ended the connection:
// the host's next request fails with the lost driver's error, and its
// message, and the disconnection handler's stream, give the server's
// reason.
TEST_F(AttachEndToEnd, AServerThatWasStoppedSaysSoInTheMessage) {
  std::filesystem::create_directories(root_.path() + "/run");
  const std::string socket = root_.path() + "/run/drivers.sock";
  const std::string driver = std::string(MOLVANE_BINARY_DIR) + "/driver/molvane-driver";
  const std::string listen = "--listen=" + socket, database = root_.path() + "/data/served.db";
  const pid_t server = fork();
  if (server == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    execl(driver.c_str(), driver.c_str(), listen.c_str(), database.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  ASSERT_GT(server, 0);
  // A test that fails before the stop leaves no server behind.
  struct Reaper {
    pid_t pid;
    bool reaped = false;
    ~Reaper() {
      if (!reaped && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    }
  } reaper{server};
  for (int i = 0; i < 3000 && !std::filesystem::exists(socket); ++i) usleep(10000);
  ZDB_CURSOR *cursor = Open("exdep010");
  ZDB_INTERNAL_CURSOR *ic = Chain(cursor, 950);
  ASSERT_NE(ic, nullptr) << zdb_errno << ": " << get_zdb_msg();
  ASSERT_EQ(kill(server, SIGTERM), 0);
  int status = -1;
  ASSERT_EQ(waitpid(server, &status, 0), server);
  reaper.reaped = true;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(zdb_exec_table(cursor, create_table, nullptr, 950), 0);
  const std::string why = "the driver server on '" + socket + "' ended the connection: it was stopped (SIGTERM)";
  EXPECT_NE(std::string(get_zdb_msg()).find(why), std::string::npos) << get_zdb_msg();
}

TEST_F(AttachEndToEnd, TwoTablesOfOneGroupShareOneSession) {
  ZDB_INTERNAL_CURSOR *dep = Chain(Open("exdep010"), 100);
  ZDB_INTERNAL_CURSOR *emp = Chain(Open("exemp010"), 100);
  ASSERT_NE(dep, nullptr);
  ASSERT_NE(emp, nullptr);
  EXPECT_EQ(dep->tsession->session, emp->tsession->session);
  EXPECT_NE(dep->tsession, emp->tsession);
  ZDB_TRANS *trans = zdb_get_trans_by_id(trans_);
  ASSERT_NE(trans->sessions, nullptr);
  EXPECT_EQ(trans->sessions->next_in_trans, nullptr);
  EXPECT_EQ(zdb_get_nr_drivers(), 1);
  // The SQL layers reach the same session through the table's group.
  ZDB_SESSION *session = nullptr;
  ZDB_SERVER *server = nullptr;
  ASSERT_EQ(zdb_sql_get_server(read_driver_for_table("exemp010", 100), trans_, &session, &server, 1), 0);
  EXPECT_EQ(session, dep->tsession->session);
  EXPECT_EQ(server, ServerOf(dep));
  EXPECT_EQ(zdb_sql_get_server(read_driver_for_table("exemp010", 100), 99, &session, &server, 1), -1);
  EXPECT_EQ(zdb_errno, ZE_INVALID_SESSION);
}

TEST_F(AttachEndToEnd, CompaniesOpenTheirOwnChainsAndCloseEndsThemAll) {
  ZDB_CURSOR *cursor = Open("exdep010");
  ZDB_INTERNAL_CURSOR *c100 = Chain(cursor, 100);
  ZDB_INTERNAL_CURSOR *c200 = Chain(cursor, 200);
  ZDB_INTERNAL_CURSOR *c150 = Chain(cursor, 150);  // stored in company 100
  ASSERT_NE(c100, nullptr);
  ASSERT_NE(c200, nullptr);
  ASSERT_NE(c150, nullptr);
  EXPECT_EQ(Chain(cursor, 100), c100);  // found again, not opened again
  EXPECT_NE(c100->tsession, c200->tsession);
  EXPECT_EQ(c150->company->physical, 100);
  EXPECT_EQ(c150->company->logical, 150);
  EXPECT_EQ(c150->tsession, c100->tsession);
  EXPECT_NE(c150->company, c100->company);
  // The row buffer has room for _dlock and _compnr behind the columns.
  EXPECT_EQ(c100->company->row.size(), cursor->table->row_length);
  ZDB_SESSION *session = c100->tsession->session;
  EXPECT_TRUE(dbc_session_has_open_cursor(session));
  ASSERT_EQ(zdb_close(cursor), 0);
  EXPECT_FALSE(dbc_session_has_open_cursor(session));
  EXPECT_EQ(zdb_get_trans_by_id(trans_)->cursors, nullptr);
}

// A chain with buffered updates not yet sent waits on its table session when
// its cursor closes; a new open of the same company takes it back, and the
// flush closes what still waits.
TEST_F(AttachEndToEnd, PendingUpdatesKeepAClosedChainForTheNextOpen) {
  ZDB_INTERNAL_CURSOR *old = Chain(Open("exdep010"), 150);
  ASSERT_NE(old, nullptr);
  ZDB_TABLE_SESSION *ts = old->tsession;
  ts->flags |= ZDB_TS_PENDING;
  ASSERT_EQ(zdb_close(old->cursor), 0);
  EXPECT_EQ(ts->open, nullptr);
  EXPECT_EQ(ts->waiting, old);
  EXPECT_EQ(old->cursor, nullptr);

  ZDB_CURSOR *cursor = Open("exdep010");
  ZDB_INTERNAL_CURSOR *other = Chain(cursor, 100);  // same table session, other company
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other, old);
  EXPECT_EQ(ts->waiting, old);
  EXPECT_EQ(Chain(cursor, 150), old);  // revived for the new cursor
  EXPECT_EQ(old->cursor, cursor);
  EXPECT_EQ(ts->waiting, nullptr);

  ASSERT_EQ(zdb_close(cursor), 0);
  EXPECT_NE(ts->waiting, nullptr);
  // The flush empties the table sessions, then closes the chains that waited.
  ts->flags = 0;
  while (ts->waiting != nullptr) ASSERT_EQ(zdb_close_internal(ts->waiting->company->head), 0);
  EXPECT_EQ(ts->open, nullptr);
}

TEST_F(AttachEndToEnd, ADriverWithItsSessionsInUseGetsASecondRecord) {
  ZDB_SERVER *servers[3] = {};
  for (int i = 0; i < 3; ++i) {
    int trans = i == 0 ? trans_ : zdb_start_session(("t" + std::to_string(i)).c_str());
    ZDB_INTERNAL_CURSOR *ic = Chain(Open("exdep010", trans), 700);
    ASSERT_NE(ic, nullptr) << zdb_errno;
    servers[i] = ServerOf(ic);
  }
  EXPECT_EQ(servers[0], servers[1]);
  EXPECT_NE(servers[1], servers[2]);
  EXPECT_EQ(servers[0]->sessions_allowed, 2u);
  EXPECT_EQ(servers[0]->sessions_in_use, 2u);
  EXPECT_EQ(servers[2]->sessions_in_use, 1u);
  EXPECT_EQ(zdb_get_nr_drivers(), 2);
  EXPECT_EQ(compare_single_spec(servers[0]->spec_list, servers[2]->spec_list), 0);
}

struct Refusal {
  int compnr;
  int error;
  const char *keyword;  // the log line of the refusal, or null
  const char *text;
  const char *message;  // the message text from its start ("ROOT" the root), or null
};

class AttachRefusal : public AttachEndToEnd, public testing::WithParamInterface<Refusal> {};

TEST_P(AttachRefusal, DriverIsDetachedAndTheErrorKept) {
  const Refusal &r = GetParam();
  LogCapture log;
  ZDB_CURSOR *cursor = Open("exdep010");
  reset_zdb_msg();
  EXPECT_EQ(Chain(cursor, r.compnr), nullptr);
  EXPECT_EQ(zdb_errno, r.error);
  EXPECT_EQ(zdb_get_nr_drivers(), 0);
  EXPECT_EQ(cursor->heads, nullptr);
  // A driver that could not be attached is no lost driver, nor are its
  // streams out of step: the refusal is the one word of it.
  EXPECT_EQ(g_deaths, 0);
  EXPECT_FALSE(log.Contains("Request", "out of step")) << log.Dump();
  if (r.keyword != nullptr) {
    EXPECT_TRUE(log.Contains(r.keyword, r.text)) << log.Dump();
  }
  if (r.message != nullptr) {
    std::string message = r.message;
    for (std::size_t at; (at = message.find("ROOT")) != std::string::npos;) message.replace(at, 4, root_.path());
    EXPECT_EQ(std::string(get_zdb_msg()), message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, AttachRefusal,
    testing::Values(Refusal{300, ZE_NO_DRIVER, nullptr, nullptr, "No driver could be attached: driver msqlbad: the "
                            "folder 'ROOT/no/such/folder' of database 'ROOT/no/such/folder/bad.db' does not exist"},
                    Refusal{500, ZE_SQL_PROTOCOL, nullptr, nullptr, nullptr},
                    Refusal{600, ZE_TSS_MODE, "TssMode configuration", "Incompatible TssMode for server msqlutft",
                            nullptr},
                    Refusal{310, ZE_NO_DRIVER, "attach_process", "ended with exit status 2",
                            "No driver could be attached: driver msqltypo ended at start with exit status 2: "
                            "molvane-driver: unknown or malformed option '--sesions=2' (molvane-driver --help "
                            "lists the options)"},
                    Refusal{320, ZE_NO_DRIVER, nullptr, nullptr,
                            "No driver could be attached: driver msqlquits ended at start with exit status 3; "
                            "its alternative, driver msqlkilled ended at start by signal 9 (Killed)"}));

TEST_F(AttachEndToEnd, TheCompanyMappingFollowsA519Once) {
  dbc_state().debug = ZDB_DEBUG_REQUESTS;
  testing::internal::CaptureStderr();
  ZDB_INTERNAL_CURSOR *first = Chain(Open("exdep010"), 100);
  int other = zdb_start_session("other");
  ZDB_INTERNAL_CURSOR *second = Chain(Open("exdep010", other), 100);
  std::string trace = testing::internal::GetCapturedStderr();
  dbc_state().debug = 0;
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(ServerOf(first), ServerOf(second));
  EXPECT_NE(first->tsession->session, second->tsession->session);
  // ATT_SERVER answered 519: the mapping went out once; the driver then
  // held it for the second session.
  EXPECT_NE(trace.find("<- ATT_SERVER retval 519"), std::string::npos) << trace;
  EXPECT_NE(trace.find("compnr map information missing"), std::string::npos);
  std::size_t sent = trace.find("<- SEND_COMPNR ok");
  ASSERT_NE(sent, std::string::npos);
  EXPECT_EQ(trace.find("<- SEND_COMPNR ok", sent + 1), std::string::npos);
  EXPECT_NE(trace.find("<- ATT_SESSION retval 0"), std::string::npos);
}

TEST_F(AttachEndToEnd, DictionariesTheDriverAsksForBecomeItsTables) {
  ZDB_INTERNAL_CURSOR *ic = Chain(Open("exdep010"), 150);
  ASSERT_NE(ic, nullptr);
  ZDB_SESSION *session = ic->tsession->session;
  dbc_request_prepare(EXE_TBL_CNTR);
  ZDB_REQUEST &req = dbc_request();
  req.session_id = session->server_session_id;
  std::strcpy(req.tbl_cntr.table, "exdep010");
  req.tbl_cntr.compnr = 150;
  req.tbl_cntr.action = nr_rows;
  zdb_commu_dd(session);
  EXPECT_NE(zdb_errno, ZE_NO_DD);  // the dictionary went out and the request was repeated

  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((root_.path() + "/data/main.db").c_str(), &db, SQLITE_OPEN_READONLY,
                            nullptr),
            SQLITE_OK);
  auto query = [db](const char *sql) {
    sqlite3_stmt *stmt = nullptr;
    std::string result;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) return std::string("error");
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(stmt); ++i)
        result += std::string(reinterpret_cast<const char *>(sqlite3_column_text(stmt, i))) + " ";
      result += ";";
    }
    sqlite3_finalize(stmt);
    return result;
  };
  // Company 150 is stored in company 100; the table's layout is recorded
  // beside it.
  EXPECT_EQ(query("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"),
            "exdep010100 ;molvane_table_layout ;");
  EXPECT_EQ(query("SELECT name, substr(layout, 1, 17) FROM molvane_table_layout"), "exdep010100 c 0 4 3 1 Refcntd ;");
  EXPECT_EQ(query("SELECT name, \"unique\" FROM pragma_index_list('exdep010100') ORDER BY name"),
            "exdep010100_i1 1 ;exdep010100_i2 0 ;");
  EXPECT_EQ(query("SELECT sql FROM sqlite_master WHERE name = 'exdep010100_i1'"),
            "CREATE UNIQUE INDEX \"exdep010100_i1\" ON \"exdep010100\" (CAST(\"code\" AS TEXT) COLLATE mvtss1) ;");
  std::string columns = query("SELECT name || ':' || type FROM pragma_table_info('exdep010100')");
  EXPECT_NE(columns.find("code:BLOB"), std::string::npos) << columns;
  EXPECT_NE(columns.find("budget:REAL"), std::string::npos);
  EXPECT_NE(columns.find("opened:INTEGER"), std::string::npos);
  sqlite3_close(db);
}

TEST_F(AttachEndToEnd, ReadDriverIsTheCopyMarkedForReading) {
  ZDB_INTERNAL_CURSOR *ic = Chain(Open("tttxt010"), 100);
  ASSERT_NE(ic, nullptr) << zdb_errno;
  ASSERT_NE(ic->next_in_chain, nullptr);  // one internal cursor per copy
  EXPECT_STREQ(zdb_server_name(ic->company->read->tsession->session->server), "msqlpair");
  EXPECT_EQ(zdb_get_nr_drivers(), 2);
}

TEST_F(AttachEndToEnd, AuditCopyWaitsForItsFirstRequest) {
  ZDB_INTERNAL_CURSOR *ic = Chain(Open("exdep010"), 900);
  ASSERT_NE(ic, nullptr) << zdb_errno;
  ZDB_COMPANY *company = ic->company;
  ASSERT_NE(company->audit, nullptr);
  EXPECT_EQ(ic->next_in_chain, nullptr);  // the main chain holds the database copy only
  ZDB_SERVER *audit = ServerOf(company->audit);
  EXPECT_TRUE(zdb_server_is_audit(audit));
  EXPECT_FALSE(zdb_server_attached(audit));
  EXPECT_EQ(audit->sessions_allowed, ZDB_AUDIT_SESSIONS);
  EXPECT_EQ(company->read, ic);
  EXPECT_EQ(zdb_cursor_check(ic), 0);
  company->audit->state = 0;  // a closed member anywhere fails the check
  EXPECT_EQ(zdb_cursor_check(ic), -1);
  EXPECT_EQ(zdb_errno, ZE_BAD_CURSOR);
  company->audit->state = ZDB_ICURSOR_VALID;
}

TEST_F(AttachEndToEnd, DriversStartForATableWithoutInternalCursors) {
  const DD_TABLE *table = ddtable("tttxt010");
  ASSERT_EQ(zdb_start_drivers_for_table(table, 100, trans_), 0) << zdb_errno;
  EXPECT_EQ(zdb_get_nr_drivers(), 2);
  ZDB_TRANS *trans = zdb_get_trans_by_id(trans_);
  int sessions = 0;
  for (ZDB_SESSION *s = trans->sessions; s != nullptr; s = s->next_in_trans, ++sessions) {
    EXPECT_FALSE(dbc_session_has_open_cursor(s));
    EXPECT_EQ(release_session_locks(s, 1), 0);
  }
  EXPECT_EQ(sessions, 2);
  // The chain opened later finds the same sessions.
  ZDB_INTERNAL_CURSOR *ic = Chain(Open("tttxt010"), 100);
  ASSERT_NE(ic, nullptr);
  EXPECT_EQ(zdb_get_nr_drivers(), 2);
  EXPECT_EQ(zdb_start_drivers_for_table(table, 100, 77), -1);
  EXPECT_EQ(zdb_errno, ZE_INVALID_SESSION);
}

TEST_F(AttachEndToEnd, SystemInformationOfADriver) {
  ASSERT_NE(Chain(Open("exdep010"), 100), nullptr);
  char buffer[128];
  ASSERT_EQ(zdb_get_db_system_info(1, ZDB_INFO_DRIVER_NAME, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "msqlite");
  ASSERT_EQ(zdb_get_db_system_info(1, 42, buffer, sizeof buffer), 0) << zdb_errno;
  EXPECT_EQ(std::string(buffer).rfind("msqlite SQLite ", 0), 0u) << buffer;
  // A text that does not fit is refused, not cut.
  EXPECT_EQ(zdb_get_db_system_info(1, ZDB_INFO_DRIVER_NAME, buffer, 4), -1);
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_ARGUMENT);
  EXPECT_EQ(zdb_get_db_system_info(1, 42, buffer, 8), -1);
  EXPECT_EQ(zdb_get_db_system_info(2, ZDB_INFO_DRIVER_NAME, buffer, sizeof buffer), -1);
  EXPECT_EQ(zdb_errno, ZE_NO_DRIVER);
  EXPECT_EQ(zdb_get_db_system_info(0, ZDB_INFO_DRIVER_NAME, buffer, sizeof buffer), -1);
}

TEST_F(AttachEndToEnd, InProcessDriverAndTheTreeDump) {
  ZDB_CURSOR *cursor = Open("exdep010");
  ASSERT_NE(Chain(cursor, 800), nullptr) << zdb_errno;
  testing::internal::CaptureStderr();
  zdb_dump_server_tree("test");
  std::string dump = testing::internal::GetCapturedStderr();
  EXPECT_NE(dump.find("sessions 1 ---"), std::string::npos) << dump;
  EXPECT_NE(dump.find("{[" + std::to_string(trans_) + "] exdep010(800) }"), std::string::npos) << dump;
}

TEST_F(AttachEndToEnd, ADriverDyingMidSessionReachesTheDeathHandler) {
  ZDB_INTERNAL_CURSOR *ic = Chain(Open("exdep010"), 100);
  ASSERT_NE(ic, nullptr);
  ASSERT_GT(static_cast<pid_t>(ServerOf(ic)->pid), 0);
  ASSERT_EQ(kill(static_cast<pid_t>(ServerOf(ic)->pid), SIGKILL), 0);
  char buffer[128];
  EXPECT_EQ(zdb_get_db_system_info(1, 42, buffer, sizeof buffer), -1);
  EXPECT_GE(g_deaths, 1);
  EXPECT_EQ(zdb_errno, ZE_COMMUNICATION);
  // The streams are closed so that logoff does not talk to the dead driver.
  ZDB_SERVER *server = ServerOf(ic);
  sclose(server->out);
  sclose(server->in);
  server->in = server->out = nullptr;
}

// Without a handler of the host's, a lost driver ends the process with
// status 1 and log lines: how the driver ended, then the disconnection.
TEST_F(AttachEndToEnd, TheDefaultDeathHandlerEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  zdb_set_server_death_handler(nullptr);
  ZDB_INTERNAL_CURSOR *ic = Chain(Open("exdep010"), 100);
  ASSERT_NE(ic, nullptr);
  ZDB_SERVER *server = ServerOf(ic);
  ASSERT_GT(static_cast<pid_t>(server->pid), 0);
  ASSERT_EQ(kill(static_cast<pid_t>(server->pid), SIGKILL), 0);
  EXPECT_EXIT(
      {
        log_set_log_hook([](char level, const char *keyword, const char *text, const char *, int) {
          std::fprintf(stderr, "%c %s: %s\n", level, keyword, text);
        });
        char buffer[64];
        zdb_get_db_system_info(1, 42, buffer, sizeof buffer);
      },
      testing::ExitedWithCode(1),
      "W attach_process: driver msqlite \\(pid [0-9]+\\) ended by signal 9\n"
      "E server_death: Detected server disconnection");
  sclose(server->out);
  sclose(server->in);
  server->in = server->out = nullptr;
}

}  // namespace
