// Start-up, logon, logoff and transactions. Each test runs in a process of
// its own: the logon state is process-wide.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_cursor.h>

#include "dbc/session/dbc_settings.h"
#include "dbc/request/request_block.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/log_capture.h"
#include "dbc/scripted_peer.h"
#include "support/test_env.h"

namespace {

using molvane::test::Bytes;
using molvane::test::ScriptedPeer;
using molvane::test::ScratchDir;

class ZdbLogon : public testing::Test {
 protected:
  void SetUp() override {
    root_.WriteFile("lib/defaults/db_resource", "zdb_max_server_schedule: 5\n");
    set_zuv(root_.path().c_str());
    ASSERT_EQ(zdb_init_api("test_dbc", nullptr, 0, 0), 0);
  }
  ScratchDir root_;
};

TEST_F(ZdbLogon, SecondLogonFailsAlsoAfterLogoff) {
  ASSERT_EQ(zdb_logon("johnsmith123"), 0);
  EXPECT_STREQ(dbc_state().user, "johnsmit");
  EXPECT_EQ(dbc_state().server_schedule_limit, 5);
  EXPECT_EQ(zdb_logon("other"), -1);
  EXPECT_EQ(zdb_errno, ZE_ALREADY_LOGGED_ON);
  EXPECT_STREQ(dbc_state().user, "johnsmit");
  ASSERT_EQ(zdb_logoff(), 0);
  EXPECT_EQ(zdb_logon("other"), -1);
  EXPECT_EQ(zdb_errno, ZE_ALREADY_LOGGED_ON);
}

TEST_F(ZdbLogon, UserSettingsFileWinsOverTheDefaultsFile) {
  root_.WriteFile("mine.res", "zdb_max_server_schedule: 7\ndbcinit: -5\n");
  setenv("USR_DBC_RES", (root_.path() + "/mine.res").c_str(), 1);
  ASSERT_EQ(zdb_logon("ann"), 0);
  EXPECT_EQ(dbc_state().server_schedule_limit, 7);
  EXPECT_EQ(dbc_settings().dbcinit, 0);  // a negative value is set to 0
  EXPECT_EQ(dbc_settings().rds_full, 5);
}

TEST(ZdbInitApi, FailingStepResultIsReturned) {
  ScratchDir root;
  set_zuv(root.path().c_str());
  setenv("ZUV_USER", "a-user-name-too-long", 1);
  testing::internal::CaptureStderr();
  EXPECT_NE(zdb_init_api("test_dbc", nullptr, 0, 0), 0);
  testing::internal::GetCapturedStderr();
}

// A host that skips the start-up is refused with the call it missed; one
// that sets no environment root is warned where dictionaries are looked for,
// and a table missing from the dictionary is named with that folder.
char g_root_warning = 0;  // the level of the log line on the missing root
void KeepRootWarning(char level, const char *, const char *text, const char *, int) {
  if (std::string(text).find("No environment root is set") != std::string::npos)
    g_root_warning = level;
}

TEST(ZdbLogonTraps, MissingStartUpAndRootAreNamed) {
  unsetenv("ZUV");
  unsetenv("F_ZRDD");
  log_set_log_hook(KeepRootWarning);
  EXPECT_EQ(zdb_logon("ann"), -1);
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_STATE);
  EXPECT_STREQ(get_zdb_msg(), "zdb_init_api was not called: call zdb_init_api before zdb_logon");

  ASSERT_EQ(zdb_init_api("test_dbc", nullptr, 0, 0), 0);
  EXPECT_STREQ(get_zdb_msg(), "");
  ASSERT_EQ(zdb_logon("ann"), 0);
  // The warning is the whole message: nothing of the failed logon before it.
  EXPECT_STREQ(get_zdb_msg(),
               "No environment root is set (set_zuv or the variable ZUV): its settings, driver "
               "map and table definitions are not read, and dictionaries are looked for in no "
               "folder (F_ZRDD is not set either)");
  EXPECT_EQ(g_root_warning, 'W');
  log_set_log_hook(nullptr);

  // Each later call has its own message: a failed zdb_open's text is gone
  // after the next call, whether that one succeeds or fails.
  ScratchDir dict;
  setenv("F_ZRDD", dict.path().c_str(), 1);
  int trans = zdb_start_session("t");
  EXPECT_STREQ(get_zdb_msg(), "");
  ZDB_CURSOR *cursor = nullptr;
  EXPECT_EQ(zdb_open(&cursor, "exdep010", 1, nullptr, 0, trans), -1);
  EXPECT_EQ(zdb_errno, ZE_NO_DD);
  EXPECT_EQ(std::string(get_zdb_msg()),
            "Table exdep010 not found in data dictionary (no dump dexdep010 in " + dict.path() + ")");
  dict.WriteFile("dexbad010", ":VERS 2\nF aa\n:NAME exbad010.aa\n:DOMA zznone\n:END\n");
  EXPECT_EQ(zdb_open(&cursor, "exbad010", 1, nullptr, 0, trans), -1);
  EXPECT_EQ(zdb_errno, ZE_DD_CORRUPT);
  EXPECT_EQ(std::string(get_zdb_msg()).rfind("Dictionary dump " + dict.path() + "/dexbad010, line ", 0),
            0u)
      << get_zdb_msg();
  EXPECT_EQ(zdb_stop_session(200), -1);
  EXPECT_EQ(zdb_errno, ZE_INVALID_SESSION);
  EXPECT_EQ(std::string(get_zdb_msg()).find("Dictionary dump"), std::string::npos) << get_zdb_msg();
  std::vector<unsigned char> row(6144);
  for (const char *file : {"dex.pd", "dexemp010"}) {
    std::ifstream in(molvane::test::FixturePath("zuv/dict/") + file);
    dict.WriteFile(file, std::string(std::istreambuf_iterator<char>(in), {}));
  }
  ASSERT_EQ(zdb_open(&cursor, "exemp010", 1, row.data(), 0, trans), 0) << get_zdb_msg();
  EXPECT_STREQ(get_zdb_msg(), "");
  EXPECT_EQ(zdb_close(cursor), 0);
}

// A host that logs on before the start-up, then makes both calls rightly,
// reads no message of the failed logon.
TEST(ZdbLogonTraps, RightCallsAfterAFailedLogonLeaveNoMessage) {
  ScratchDir root;
  root.WriteFile("lib/user/uann", "user_type: S\n");
  setenv("ZUV_USER", "ann", 1);
  set_zuv(root.path().c_str());
  EXPECT_EQ(zdb_logon("ann"), -1);
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_STATE);
  ASSERT_EQ(zdb_init_api("test_dbc", nullptr, 0, 0), 0);
  EXPECT_STREQ(get_zdb_msg(), "");
  ASSERT_EQ(zdb_logon("ann"), 0);
  EXPECT_STREQ(get_zdb_msg(), "");
  EXPECT_EQ(zdb_logoff(), 0);
  EXPECT_STREQ(get_zdb_msg(), "");
}

// A root that is no folder and a settings line that no setting takes are
// warned about at the logon, which succeeds: get_zdb_msg and the log name
// the root, or the file and line; a correct file gives no warning and keeps
// its meaning. "@" stands for the scratch root.
struct SettingsWarningCase {
  const char *name;
  const char *file;     // relative to the root; null: the root is a missing folder
  const char *content;
  const char *warning;  // the whole message after the logon
  char user_type;       // what the logon leaves in the user record
  const char *logon = "ann";  // the name zdb_logon is given (ZUV_USER is ann)
};

std::string g_logon_warning;  // the text the logon logged as a warning
void KeepLogonWarning(char level, const char *keyword, const char *text, const char *, int) {
  if (level != 'W' || std::string(keyword) != "zdb_logon") return;
  if (!g_logon_warning.empty()) g_logon_warning += "; ";  // as the message joins them
  g_logon_warning += text;
}

void PrintTo(const SettingsWarningCase &c, std::ostream *os) { *os << c.name; }

class ZdbLogonWarnings : public testing::TestWithParam<SettingsWarningCase> {};

TEST_P(ZdbLogonWarnings, NameTheRootOrTheFileAndLine) {
  const SettingsWarningCase &c = GetParam();
  ScratchDir root;
  std::string zuv = root.path();
  if (c.file == nullptr)
    zuv += "/missing";
  else
    root.WriteFile(c.file, c.content);
  root.WriteFile("lib/roles/db/c/clerk", "clerk\nexdep010:*:R\n");
  setenv("ZUV_USER", "ann", 1);
  set_zuv(zuv.c_str());
  log_set_log_hook(KeepLogonWarning);
  ASSERT_EQ(zdb_init_api("test_dbc", nullptr, 0, 0), 0);
  ASSERT_EQ(zdb_logon(c.logon), 0) << get_zdb_msg();
  log_set_log_hook(nullptr);
  std::string expected = c.warning;
  for (std::size_t at; (at = expected.find('@')) != std::string::npos;)
    expected.replace(at, 1, root.path());
  EXPECT_EQ(get_zdb_msg() != nullptr ? std::string(get_zdb_msg()) : "", expected);
  EXPECT_EQ(g_logon_warning, expected);
  EXPECT_EQ(zdb_user_info_get_user_type(), c.user_type);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZdbLogonWarnings,
    testing::Values(
        SettingsWarningCase{"RootIsNoFolder", nullptr, "",
                            "The environment root @/missing (set_zuv or the variable ZUV) is not a "
                            "folder: its settings, driver map and table definitions are not read, "
                            "and dictionaries are looked for in @/missing/dict",
                            'S'},
        SettingsWarningCase{"MisspeltUserType", "lib/user/uann", "user_typ: U\n",
                            "Settings file @/lib/user/uann, line 1: \"user_typ\" is no known "
                            "setting and is ignored; no line sets user_type, so user ann is a "
                            "super user (type S) whom no roles restrict",
                            'S'},
        SettingsWarningCase{"LineWithoutColon", "lib/user/uann",
                            "# the clerk\nuser_type U\n\ndb_roles: clerk\n",
                            "Settings file @/lib/user/uann, line 2: \"user_type U\" is no setting "
                            "(a setting is \"name: value\") and is ignored; no line sets user_type, "
                            "so user ann is a super user (type S) whom no roles restrict",
                            'S'},
        SettingsWarningCase{"CorrectFileMeansWhatItSays", "lib/user/uann",
                            "! a clerk\nuser_type: U\n db_roles : clerk\nZUV_ATTACH_TIMEOUT: 9\n"
                            "*.language: 2\n",
                            "", 'U'},
        SettingsWarningCase{"TypedUserIsNotCalledSuper", "lib/user/uann",
                            "user_type: U\ndb_roles: clerk\nlanguag: 2\n",
                            "Settings file @/lib/user/uann, line 3: \"languag\" is no known "
                            "setting and is ignored",
                            'U'},
        SettingsWarningCase{"OtherProgramsLinesAreTheirs", "lib/defaults/all",
                            "other.frobnicate: 1\nrds_full: 3\ntest_dbc.rds_ful: 4\n: 5\n",
                            "Settings file @/lib/defaults/all, line 3: \"rds_ful\" is no known "
                            "setting and is ignored; Settings file @/lib/defaults/all, line 4: "
                            "\": 5\" is no setting (a setting is \"name: value\") and is ignored; "
                            "No settings file @/lib/user/uann for user ann: the defaults apply "
                            "(type S, a super user whom no roles restrict)",
                            'S'},
        SettingsWarningCase{"ClientFileTakesTheClientsSettingsOnly", "lib/defaults/db_resource",
                            "rds_full: 3\nuser_type: U\nF_ZRDD: /x\n",
                            "Settings file @/lib/defaults/db_resource, line 2: \"user_type\" is no "
                            "setting this file is read for, and is ignored; Settings file "
                            "@/lib/defaults/db_resource, line 3: \"F_ZRDD\" is no setting this "
                            "file is read for, and is ignored; No settings file @/lib/user/uann for "
                            "user ann: the defaults apply (type S, a super user whom no roles "
                            "restrict)",
                            'S'},
        // The user record is the one zdb_init_api read (ZUV_USER ann): a
        // logon that names another user is told, with the files.
        SettingsWarningCase{"LogonNamesAnotherUser", "lib/user/unc", "user_type: U\ndb_roles: clerk\n",
                            "zdb_logon names user nc, but the settings are those of user ann "
                            "(ZUV_USER, else the login name, when zdb_init_api ran): no file "
                            "@/lib/user/uann, so the defaults apply (type S, a super user whom no "
                            "roles restrict); @/lib/user/unc is not read; set ZUV_USER=nc before "
                            "zdb_init_api for the settings of nc",
                            'S', "nc"},
        SettingsWarningCase{"LogonNamesAnotherUserOfTheSameFirstEight", "lib/user/uann",
                            "user_type: U\ndb_roles: clerk\n",
                            "zdb_logon names user annalise, but the settings are those of user ann "
                            "(ZUV_USER, else the login name, when zdb_init_api ran): read from "
                            "@/lib/user/uann (type U); set ZUV_USER=annalise before zdb_init_api "
                            "for the settings of annalise",
                            'U', "annalisette"}),
    [](const testing::TestParamInfo<SettingsWarningCase> &info) { return info.param.name; });

TEST_F(ZdbLogon, LogoffWithoutLogon) {
  EXPECT_EQ(zdb_logoff(), -1);
  EXPECT_EQ(zdb_errno, ZE_NOT_LOGGED_ON);
  EXPECT_EQ(zdb_get_zdb_errno(), ZE_NOT_LOGGED_ON);
}

TEST_F(ZdbLogon, DebugSettingIsMirroredIntoTheEnvironment) {
  ASSERT_EQ(zdb_logon("ann"), 0);
  testing::internal::CaptureStderr();
  EXPECT_GT(dbc_update_resources("zdb_debug: 12"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "---- ZDB_DEBUG set to 012\n");
  EXPECT_EQ(dbc_state().debug, 012);
  ASSERT_NE(std::getenv("ZDB_DEBUG"), nullptr);
  EXPECT_STREQ(std::getenv("ZDB_DEBUG"), "012");
}

TEST_F(ZdbLogon, UnknownSettingCannotTakeACallback) {
  EXPECT_EQ(dbc_set_resource_mutfun("no_such_setting", nullptr), -1);
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_STATE);
}

TEST_F(ZdbLogon, StoppedRecordIsTakenAgainUnderANewName) {
  ASSERT_EQ(zdb_logon("ann"), 0);
  int a = zdb_start_session("A");
  ASSERT_EQ(a, 1);
  ZDB_TRANS *record;
  ASSERT_EQ(zdb_get_trans(a, &record), 0);

  // The record has a driver session: it must hear the new name.
  ScriptedPeer peer;
  ZDB_SESSION session;
  session.server = peer.server();
  session.trans = record;
  session.server_session_id = 44;
  record->sessions = &session;

  ASSERT_EQ(zdb_stop_session(a), 0);
  peer.Reply(Bytes().u16(0).u32(0));
  EXPECT_EQ(zdb_start_session("B"), a);
  ZDB_TRANS *again;
  ASSERT_EQ(zdb_get_trans(a, &again), 0);
  EXPECT_EQ(again, record);
  EXPECT_STREQ(record->name, "B");
  EXPECT_EQ(peer.Sent(), Bytes().u8(EXE_SESSION).u32(44).u32(2).u16(1).raw("B").data());
  record->sessions = nullptr;
}

TEST_F(ZdbLogon, RunningNamesakesGetTheirOwnIds) {
  ASSERT_EQ(zdb_logon("ann"), 0);
  EXPECT_EQ(zdb_start_session("same"), 1);
  EXPECT_EQ(zdb_start_session("same"), 2);
  ASSERT_EQ(zdb_stop_session(1), 0);
  EXPECT_EQ(zdb_start_session("same"), 1);
}

TEST_F(ZdbLogon, LongNameIsKeptCutAndFoundAgain) {
  ASSERT_EQ(zdb_logon("ann"), 0);
  const char *name = "a-name-of-twenty-chars";
  EXPECT_EQ(zdb_start_session("x"), 1);
  int id = zdb_start_session(name);
  ASSERT_EQ(id, 2);
  ZDB_TRANS *trans;
  ASSERT_EQ(zdb_get_trans(id, &trans), 0);
  EXPECT_STREQ(trans->name, "a-name-of-twent");
  ASSERT_EQ(zdb_stop_session(1), 0);
  ASSERT_EQ(zdb_stop_session(id), 0);
  // The lowest free id is 1, but the name matches the record of id 2.
  EXPECT_EQ(zdb_start_session(name), id);
}

TEST_F(ZdbLogon, AllIdsInUse) {
  ASSERT_EQ(zdb_logon("ann"), 0);
  for (int i = 1; i <= 255; ++i) ASSERT_EQ(zdb_start_session(("t" + std::to_string(i)).c_str()), i);
  reset_zdb_msg();
  testing::internal::CaptureStderr();
  EXPECT_EQ(zdb_start_session("one too many"), 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(zdb_errno, ZE_NO_RESOURCE);
  ASSERT_NE(get_zdb_msg(), nullptr);
  EXPECT_STREQ(get_zdb_msg(), "Maximum number of ZDB sessions (255) reached");
  ASSERT_EQ(zdb_logoff(), 0);
}

TEST_F(ZdbLogon, StopOfAnInvalidId) {
  ASSERT_EQ(zdb_logon("ann"), 0);
  for (int id : {0, 256, 3, -1}) {
    molvane::test::LogCapture log;
    zdb_errno = 0;
    EXPECT_EQ(zdb_stop_session(id), -1) << id;
    EXPECT_EQ(zdb_errno, ZE_INVALID_SESSION);
    EXPECT_TRUE(log.Contains("Invalid transaction: Invalid transaction id " +
                             std::to_string(id) + " specified: it is not in use"));
  }
}

TEST_F(ZdbLogon, DefaultQueryTimeoutPerTransaction) {
  ASSERT_EQ(zdb_logon("ann"), 0);
  int id = zdb_start_session("q");
  ASSERT_EQ(zdb_set_default_query_timeout(id, 30), 0);
  int seconds = 0;
  ASSERT_EQ(zdb_get_default_query_timeout(id, &seconds), 0);
  EXPECT_EQ(seconds, 30);
  testing::internal::CaptureStderr();
  EXPECT_EQ(zdb_set_default_query_timeout(id + 1, 30), -1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(zdb_errno, ZE_INVALID_SESSION);
  // A new start of the transaction resets it.
  ASSERT_EQ(zdb_stop_session(id), 0);
  ASSERT_EQ(zdb_start_session("q"), id);
  ASSERT_EQ(zdb_get_default_query_timeout(id, &seconds), 0);
  EXPECT_EQ(seconds, 0);
}

TEST_F(ZdbLogon, PhysicalCompanyNumberChecksItsArguments) {
  EXPECT_EQ(zdb_get_physical_compnr("tcabc01", 1), 0xFFFF);
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_ARGUMENT);
  EXPECT_STREQ(get_zdb_msg(),
               "Illegal argument: zdb_get_physical_compnr needs a table name of 8 characters, got "
               "'tcabc01'");
  EXPECT_EQ(zdb_get_physical_compnr("tcabc001", 1000), 0xFFFF);
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_COMPNR);
  EXPECT_STREQ(get_zdb_msg(), "Illegal company number 1000 for tcabc001: a company number lies from 0 to 999");
  EXPECT_EQ(zdb_get_physical_compnr("tcabc001", -1), 0xFFFF);
  EXPECT_STREQ(get_zdb_msg(), "Illegal company number -1 for tcabc001: a company number lies from 0 to 999");
}

// The driver tree is dumped around a schedule round under debug bit 1 and
// under the platform debug word's driver bit (0x20) alike.
TEST_F(ZdbLogon, ScheduleDumpsTheDriverTreeUnderEitherDebugBit) {
  ASSERT_EQ(zdb_logon("ann"), 0);
  struct Case {
    int debug;
    const char *debug_level;
    bool dumps;
  };
  for (const Case &c : {Case{0, "0", false}, Case{ZDB_DEBUG_TREE, "0", true},
                        Case{0, "0x20", true}, Case{0, "0x10", false}}) {
    SCOPED_TRACE(c.debug_level);
    dbc_state().debug = c.debug;
    setenv("DEBUG_LEVEL", c.debug_level, 1);
    testing::internal::CaptureStderr();
    ASSERT_EQ(zdb_schedule(), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find(" before schedule ") != std::string::npos, c.dumps) << err;
    EXPECT_EQ(err.find(" after schedule ") != std::string::npos, c.dumps) << err;
  }
  unsetenv("DEBUG_LEVEL");
  dbc_state().debug = 0;
}

// Idle sessions go back after the driver's idle-session limit, idle drivers
// after the server schedule limit (5 in this environment's settings).
TEST_F(ZdbLogon, ScheduleReleasesIdleSessionsThenIdleDrivers) {
  ASSERT_EQ(zdb_logon("ann"), 0);
  ZDB_TRANS *trans = zdb_get_trans_by_id(zdb_start_session("s"));
  ASSERT_NE(trans, nullptr);
  auto *server = new ZDB_SERVER;
  Bytes replies = Bytes().u32(0).u32(0);  // DET_SESSION, DET_SERVER
  server->in = stream_open_bytes(replies.data().data(), replies.size(), "r");
  server->out = stream_open_bytes(nullptr, 0, "w");
  server->idle_limit = 2;
  auto *session = new ZDB_SESSION;
  session->server = server;
  session->trans = trans;
  server->sessions = trans->sessions = session;
  server->sessions_in_use = 1;
  dbc_state().server_list = server;

  ASSERT_EQ(zdb_schedule(), 0);
  EXPECT_EQ(server->sessions, session);
  ASSERT_EQ(zdb_schedule(), 0);
  EXPECT_EQ(server->sessions, nullptr);
  EXPECT_EQ(trans->sessions, nullptr);
  EXPECT_EQ(server->sessions_in_use, 0u);
  for (int round = 0; round < 3; ++round) ASSERT_EQ(zdb_schedule(), 0);
  EXPECT_EQ(dbc_state().server_list, server);
  ASSERT_EQ(zdb_schedule(), 0);
  EXPECT_EQ(dbc_state().server_list, nullptr);
}

TEST_F(ZdbLogon, SessionMissingFromItsDriverFailsTheLogoff) {
  ASSERT_EQ(zdb_logon("ann"), 0);
  ZDB_TRANS *trans = zdb_get_trans_by_id(zdb_start_session("s"));
  auto *server = new ZDB_SERVER;
  auto *session = new ZDB_SESSION;
  session->server = server;
  session->trans = trans;
  trans->sessions = session;  // but not on the driver's list
  dbc_state().server_list = server;
  molvane::test::LogCapture log;
  EXPECT_EQ(zdb_logoff(), -1);
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_STATE);
  EXPECT_TRUE(log.Contains("Remove session: Warning: Session not in server's list."));
}

// A driver that fails to close a session fails the logoff with its error;
// the session, off both lists by then, is freed (the leak check of the test
// build sees it otherwise).
TEST_F(ZdbLogon, FailedSessionCloseFailsTheLogoffAndFreesTheSession) {
  ASSERT_EQ(zdb_logon("ann"), 0);
  ZDB_TRANS *trans = zdb_get_trans_by_id(zdb_start_session("s"));
  auto *server = new ZDB_SERVER;
  server->in = stream_open_bytes(nullptr, 0, "r");  // the driver says nothing
  server->out = stream_open_bytes(nullptr, 0, "w");
  auto *session = new ZDB_SESSION;
  session->server = server;
  session->trans = trans;
  server->sessions = trans->sessions = session;
  server->sessions_in_use = 1;
  dbc_state().server_list = server;
  EXPECT_EQ(zdb_logoff(), -1);
  EXPECT_EQ(zdb_errno, ZE_COMMUNICATION);
  EXPECT_EQ(trans->sessions, nullptr);
  EXPECT_EQ(server->sessions, nullptr);
}

TEST(ZdbMessage, CollectsAndResets) {
  EXPECT_EQ(get_zdb_msg(), nullptr);
  testing::internal::CaptureStderr();
  set_zdb_msg("one %d;", 1);
  set_zdb_msg("two");
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_STREQ(get_zdb_msg(), "one 1;two");
  // Logged under the function that raised the text.
  EXPECT_NE(log.find("] TestBody ("), std::string::npos) << log;
  reset_zdb_msg();
  EXPECT_STREQ(get_zdb_msg(), "");
}

TEST(ZdbMessage, ResetBeforeAnyMessageGivesEmptyText) {
  ASSERT_EQ(get_zdb_msg(), nullptr);
  reset_zdb_msg();
  ASSERT_NE(get_zdb_msg(), nullptr);
  EXPECT_STREQ(get_zdb_msg(), "");
  testing::internal::CaptureStderr();
  set_zdb_msg("after");
  testing::internal::GetCapturedStderr();
  EXPECT_STREQ(get_zdb_msg(), "after");
}

// Each call of the host starts with an empty message; a call the library
// makes inside it (a commit inside a table action) adds to that call's.
TEST(ZdbMessage, OnlyTheCallOfTheHostStartsEmpty) {
  testing::internal::CaptureStderr();
  set_zdb_msg("earlier call;");
  {
    ZdbCallScope call;
    EXPECT_STREQ(get_zdb_msg(), "");
    set_zdb_msg("outer;");
    {
      ZdbCallScope inner;
      set_zdb_msg("inner;");
    }
    EXPECT_STREQ(get_zdb_msg(), "outer;inner;");
  }
  EXPECT_STREQ(get_zdb_msg(), "outer;inner;");
  {
    ZdbCallScope next;
    EXPECT_STREQ(get_zdb_msg(), "");
  }
  testing::internal::GetCapturedStderr();
}

TEST(ZdbUserInfo, CopiesIntoTheCallersBuffer) {
  char buf[300];
  EXPECT_EQ(zdb_user_info_get_locale(nullptr), nullptr);
  EXPECT_STREQ(zdb_user_info_get_locale(buf), "ISO-8859-1");
  EXPECT_EQ(zdb_user_info_get_user_type(), 'S');
  EXPECT_EQ(zdb_user_info_get_package_combination(buf), buf);
}

}  // namespace
