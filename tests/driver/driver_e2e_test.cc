// End to end: a logged-on client attaches the reference driver through
// attach_process (as a child process and as an in-process library), starts a
// transaction on it and exchanges requests, then logs off.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>

#include <molvane/platform.h>
#include <molvane/zdb.h>

#include "dbc/compnr/compnr.h"
#include "dbc/request/request_block.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "ipc/attach.h"
#include "platform/blat.h"
#include "support/test_env.h"

namespace {

using molvane::test::ScratchDir;

int Send(ZDB_SERVER *server, int code, const std::function<void(ZDB_REQUEST &)> &fill) {
  dbc_request_prepare(code);
  if (fill) fill(dbc_request());
  return zdb_commu(server);
}

class DriverEndToEnd : public testing::TestWithParam<const char *> {
 protected:
  void SetUp() override {
    std::string form = GetParam();
    std::string target = std::string(MOLVANE_BINARY_DIR) +
                         (form == "child" ? "/driver/molvane-driver" : "/driver/libmolvane_driver.so");
    root_.WriteFile("lib/ipc_info", "msqlite " + form + " " + target + " ${ZUV}/main.db\n");
    setenv("CHKPNT", "1", 1);
    setenv("BLAT", "sess", 1);
    setenv("BLATLOG", (root_.path() + "/trace.trc").c_str(), 1);
    set_zuv(root_.path().c_str());
    ASSERT_EQ(zdb_init_api("test_driver", nullptr, 0, 0), 0);
    ASSERT_EQ(zdb_logon("ann"), 0);
  }

  // Attaches the driver the way driver attachment does, and puts it in the
  // driver list so that logoff detaches it.
  ZDB_SERVER *Attach() {
    auto *server = new ZDB_SERVER;
    server->number = 1;
    STREAM *streams[2] = {};
    if (attach_process("msqlite", streams, IPC_MODE_PAIR, 0, 0) != 0) {
      delete server;
      return nullptr;
    }
    server->in = streams[0];
    server->out = streams[1];
    server->next = dbc_state().server_list;
    dbc_state().server_list = server;
    return server;
  }

  ScratchDir root_;
};

TEST_P(DriverEndToEnd, LogonTransactionAndRequests) {
  int id = zdb_start_session("e2e");
  ASSERT_EQ(id, 1);
  ZDB_TRANS *trans = zdb_get_trans_by_id(id);
  ASSERT_NE(trans, nullptr);
  ZDB_SERVER *server = Attach();
  ASSERT_NE(server, nullptr);

  static const char hello[4] = {0, 0, 3, static_cast<char>(0x82)};
  ASSERT_EQ(Send(server, EXE_SYSTEM, [](ZDB_REQUEST &r) {
              r.exe.command = SYS_CLIENT_HELLO;
              r.exe.msg = hello;
              r.exe.msglen = 4;
            }), 0);
  std::string spec = std::string("\x07msqlite") + root_.path() + "/main.db";
  ASSERT_EQ(Send(server, EXE_SYSTEM, [&](ZDB_REQUEST &r) {
              r.exe.command = SYS_DRIVER_SPEC;
              r.exe.msg = spec.data();
              r.exe.msglen = static_cast<std::uint16_t>(spec.size());
            }), 0);
  ASSERT_EQ(Send(server, SEND_COMPNR, nullptr), 0);  // the driver holds the client's mapping
  ASSERT_EQ(Send(server, ATT_SERVER, [](ZDB_REQUEST &r) {
              r.att_server.driver_nr = 1;
              r.att_server.compnr_env = compnrGetEnv();
              r.att_server.user = dbc_state().user;
              r.att_server.server_text = "dd msqlite main.db";
            }), 0);
  EXPECT_EQ(dbc_request().att_server.sql_protocol, ZDB_SQL_PROTOCOL);
  EXPECT_EQ(dbc_request().att_server.level_flags & ZDB_LEVEL_UTFT, 0u);
  server->pid = dbc_request().att_server.pid;
  // The trace settings reach the new driver as EXE_SYSTEM 1.
  dbc_state().debug = ZDB_DEBUG_REQUESTS;
  testing::internal::CaptureStderr();
  EXPECT_EQ(blat_proc_new_server(server), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "-> EXE_SYSTEM\n<- EXE_SYSTEM retval 0\n");
  dbc_state().debug = 0;
  server->sessions_allowed = dbc_request().att_server.sessions_allowed;

  ASSERT_EQ(Send(server, ATT_SESSION, [&](ZDB_REQUEST &r) { r.att_session.trans_name = trans->name; }), 0);
  auto *session = new ZDB_SESSION;
  session->server_session_id = dbc_request().session_id;
  session->server = server;
  session->trans = trans;
  session->next_in_trans = trans->sessions;
  trans->sessions = session;
  session->next_on_server = server->sessions;
  server->sessions = session;
  server->sessions_in_use = 1;
  EXPECT_EQ(access((root_.path() + "/main.db").c_str(), F_OK), 0);

  auto db_action = [&](int action) {
    return Send(server, EXE_DB_CNTR, [&](ZDB_REQUEST &r) {
      r.session_id = session->server_session_id;
      r.db_cntr.action = static_cast<std::uint32_t>(action);
      r.db_cntr.trans = trans;
    });
  };
  EXPECT_EQ(db_action(start_transaction), 0);
  ASSERT_EQ(Send(server, EXE_SYSTEM, [](ZDB_REQUEST &r) { r.exe.command = SYS_SYSTEM_INFO; }), 0);
  EXPECT_EQ(std::string(dbc_request().exe.msg, dbc_request().exe.msglen).rfind("msqlite", 0), 0u);

  // A request the driver cannot serve yet fails cleanly, and the next one
  // still works.
  EXPECT_EQ(Send(server, EXE_TBL_CNTR, [&](ZDB_REQUEST &r) {
              r.session_id = session->server_session_id;
              std::strcpy(r.tbl_cntr.table, "tcabc001");
              r.tbl_cntr.action = 0x6007;
            }), -1);
  EXPECT_GT(zdb_errno, 0);
  int refused = zdb_errno;
  EXPECT_EQ(db_action(commit_trans), 0);

  // A new name for the transaction reaches the driver session.
  ASSERT_EQ(zdb_stop_session(id), 0);
  EXPECT_EQ(zdb_start_session("renamed"), id);
  EXPECT_STREQ(trans->name, "renamed");

  ASSERT_EQ(zdb_logoff(), 0);
  EXPECT_EQ(dbc_state().server_list, nullptr);

  // The checkpoint file holds a line per request, also for the refused one.
  std::ifstream chk(root_.path() + "/log/db." + std::to_string(getpid()));
  std::stringstream text;
  text << chk.rdbuf();
  EXPECT_NE(text.str().find("DBC request type  7: retval = 0"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("DBC request type  4: retval = " + std::to_string(refused)),
            std::string::npos);
}

// The scheduler's turn length of a process, in nanoseconds (0 when the
// kernel does not report one: it shows it only when built for debugging).
long SliceOf(pid_t pid) {
  std::ifstream sched("/proc/" + std::to_string(pid) + "/sched");
  std::string line;
  while (std::getline(sched, line))
    if (line.rfind("se.slice", 0) == 0) return std::atol(line.c_str() + line.find(':') + 1);
  return 0;
}

// A driver that goes away leaves a communication error, never a success.
// A child driver, before it goes, runs at its host's nice value in short
// turns where the kernel gives a task turns of its own.
TEST_P(DriverEndToEnd, LostDriverIsACommunicationError) {
  const bool child = std::string(GetParam()) == "child";
  const int nice = std::min(getpriority(PRIO_PROCESS, 0) + 1, 19);
  if (child) {
    ASSERT_EQ(setpriority(PRIO_PROCESS, 0, nice), 0);  // this thread only, inherited
  }
  ZDB_SERVER *server = Attach();
  ASSERT_NE(server, nullptr);
  ASSERT_EQ(Send(server, SEND_COMPNR, nullptr), 0);
  ASSERT_EQ(Send(server, ATT_SERVER,
                 [](ZDB_REQUEST &r) { r.att_server.compnr_env = compnrGetEnv(); }),
            0);
  if (child) {
    const auto pid = static_cast<pid_t>(dbc_request().att_server.pid);
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(pid)), nice);
    utsname u{};
    int major = 0, minor = 0;
    const long slice = SliceOf(pid);
    if (slice != 0 && uname(&u) == 0 && std::sscanf(u.release, "%d.%d", &major, &minor) == 2 &&
        (major > 6 || (major == 6 && minor >= 12))) {
      EXPECT_EQ(slice, 100'000);
    }
    kill(pid, SIGKILL);
  } else {
    // An in-process driver ends its connection after a malformed request.
    static const unsigned char bad = 0xEE;
    swrite_blok(&bad, 1, server->out);
    sflush(server->out);
    ipc_process_request(server->out);
  }
  testing::internal::CaptureStderr();
  zdb_errno = 0;
  EXPECT_EQ(Send(server, DET_SERVER, nullptr), -1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(zdb_errno, ZE_COMMUNICATION);
  sclose(server->out);
  sclose(server->in);
  server->in = server->out = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Forms, DriverEndToEnd, testing::Values("child", "library"),
                         [](const auto &info) { return std::string(info.param); });

}  // namespace
