// attach_process failures: each gives -1 with its errno and a log line, and
// leaves no descriptor, process or stream behind.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "ipc/attach.h"
#include "ipc_test_util.h"

namespace {

// A Unix socket listening at `path`; -1 when it cannot be made.
int ListenOn(const std::string &path) {
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_un sa = {};
  sa.sun_family = AF_UNIX;
  std::strncpy(sa.sun_path, path.c_str(), sizeof sa.sun_path - 1);
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || listen(listener, 4) != 0) {
    if (listener >= 0) close(listener);
    return -1;
  }
  return listener;
}

// A loopback port with nobody listening on it.
int ClosedPort() {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
  getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len);
  close(s);
  return ntohs(sa.sin_port);
}

struct FailureCase {
  const char *title;
  // The ipc_info text, given the root.
  std::function<std::string(const std::string &root)> ipc_info;
  const char *driver;
  int expected_errno;
  const char *logged = "";  // words of the log line
};

const std::string kDriver = IPC_ECHO_DRIVER;
const std::string kLib = IPC_ECHO_LIB;

const FailureCase kCases[] = {
    {"MissingExecutable", [](auto &) { return "echo child /nonexistent/bin/echo\n"; }, "echo",
     ENOENT},
    {"DefaultFormWithoutExecutable", [](auto &) { return ""; }, "nosuchdriver", ENOENT},
    {"NotExecutable", [](auto &root) { return "echo child " + root + "/lib/ipc_info\n"; }, "echo",
     EACCES},
    {"MissingLibrary", [](auto &root) { return "echo library " + root + "/none.so\n"; }, "echo",
     ENOENT},
    {"LibraryWithoutEntryPoints",
     [](auto &) { return std::string("echo library ") + IPC_ECHO_PARTIAL + "\n"; }, "echo",
     ELIBBAD},
    {"LibraryNotALibrary", [](auto &root) { return "echo library " + root + "/lib/ipc_info\n"; },
     "echo", ELIBBAD},
    {"LibraryRefusesConnection", [](auto &) { return "echo library " + kLib + " --fail-start\n"; },
     "echo", ENODEV},
    {"NoUnixServer", [](auto &) { return "echo unix nobody.sock\n"; }, "echo", ENOENT,
     "/nobody.sock: No such file or directory; does a driver server listen there (molvane-driver "
     "--listen="},
    {"TcpServerRefuses",
     [](auto &) { return "echo tcp 127.0.0.1:" + std::to_string(ClosedPort()) + "\n"; }, "echo",
     ECONNREFUSED, ": Connection refused; does a driver server listen on that address (molvane-driver --listen=tcp:"},
    {"MalformedTableElsewhere",
     [](auto &) { return "echo child " + kDriver + "\nother bogus x\n"; }, "echo", EINVAL},
    {"RemoteHost", [](auto &) { return "echo child " + kDriver + "\n"; }, "far.example.invalid!echo",
     EHOSTUNREACH},
    {"EmptyDriverAfterHost", [](auto &) { return ""; }, "localhost!", EINVAL},
};

class AttachFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(AttachFailure, FailsCleanlyWithErrno) {
  const FailureCase &c = GetParam();
  ipc_test::ScratchRoot root;
  root.WriteIpcInfo(c.ipc_info(root.path()));
  int fds_before = ipc_test::OpenDescriptors();
  ipc_test::LogCatcher log;
  STREAM *s[2] = {nullptr, nullptr};
  errno = 0;
  EXPECT_EQ(attach_process(c.driver, s, IPC_MODE_PAIR, 0, 0), -1);
  EXPECT_EQ(errno, c.expected_errno) << std::strerror(errno);
  EXPECT_EQ(s[0], nullptr);
  EXPECT_EQ(s[1], nullptr);
  ASSERT_FALSE(log.lines().empty());
  EXPECT_NE(log.lines().back().find(c.logged), std::string::npos) << log.lines().back();
  EXPECT_EQ(ipc_test::OpenDescriptors(), fds_before);
  EXPECT_TRUE(ipc_test::NoChildrenLeft());
}

INSTANTIATE_TEST_SUITE_P(Cases, AttachFailure, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.title); });

// A server that does not answer the admission, answers it with a refusal
// or closes the connection: the attachment fails within the attach time
// limit with the reason, leaving nothing open.
TEST(AttachServerAnswer, SilenceRefusalAndCloseFailWithTheirReason) {
  const struct {
    const char *answer;  // null: the connection is never accepted
    int expected_errno;
    const char *reason;
  } cases[] = {
      {nullptr, ETIMEDOUT, "the driver server did not answer within 0.3 s (ZUV_ATTACH_TIMEOUT)"},
      {"refused: the driver server serves only uid 7\n", EACCES, "the driver server serves only uid 7"},
      {"", ECONNRESET, "the driver server closed the connection before it answered the attachment"},
  };
  setenv("ZUV_ATTACH_TIMEOUT", "0.3", 1);
  for (const auto &c : cases) {
    ipc_test::ScratchRoot root;
    root.WriteIpcInfo("echo unix quiet.sock\n");
    const std::string path = root.path() + "/quiet.sock";
    int listener = ListenOn(path);
    ASSERT_GE(listener, 0);
    pid_t answerer = -1;
    if (c.answer != nullptr && (answerer = fork()) == 0) {
      int conn = accept(listener, nullptr, nullptr);
      (void)!write(conn, c.answer, std::strlen(c.answer));
      _exit(0);
    }
    int fds_before = ipc_test::OpenDescriptors();
    ipc_test::LogCatcher log;
    STREAM *s[2] = {nullptr, nullptr};
    errno = 0;
    EXPECT_EQ(attach_process("echo", s, IPC_MODE_PAIR, 0, 0), -1);
    EXPECT_EQ(errno, c.expected_errno) << std::strerror(errno);
    EXPECT_STREQ(ipc_attach_refusal(), c.reason);
    EXPECT_EQ(s[0], nullptr);
    EXPECT_EQ(ipc_test::OpenDescriptors(), fds_before);
    if (answerer > 0) waitpid(answerer, nullptr, 0);
    close(listener);
  }
  unsetenv("ZUV_ATTACH_TIMEOUT");
}

// A server that ended the connection between two requests said why in its
// last line: a request that cannot be sent reads that line before the
// loss is reported, so that the log and the disconnection handler have the
// reason; over a Unix socket the write fails first.
std::string g_reason_at_loss;
void NoteLoss(STREAM *stream) { g_reason_at_loss = ipc_ended_reason(stream); }

TEST(AttachServerAnswer, ConnectionEndedBetweenRequestsIsReportedWithTheServersReason) {
  ipc_test::ScratchRoot root;
  root.WriteIpcInfo("echo unix ending.sock\n");
  const std::string path = root.path() + "/ending.sock";
  int listener = ListenOn(path);
  ASSERT_GE(listener, 0);
  const char reason[] = "the driver server on 'x.sock' ended the connection: its open results ran out of memory";
  pid_t server = fork();
  if (server == 0) {
    int conn = accept(listener, nullptr, nullptr);
    const std::string lines = std::string("ok\nended: ") + reason + "\n";
    (void)!write(conn, lines.data(), lines.size());
    shutdown(conn, SHUT_WR);
    _exit(0);  // the connection closes with the process
  }
  STREAM *s[2] = {nullptr, nullptr};
  ASSERT_EQ(attach_process("echo", s, IPC_MODE_PAIR, 0, 0), 0);
  ASSERT_EQ(ipc_control(s[1], IPC_SET_DISCONNECT, reinterpret_cast<void *>(NoteLoss)), 0);
  waitpid(server, nullptr, 0);
  close(listener);
  EXPECT_STREQ(ipc_ended_reason(s[0]), "");
  ipc_test::LogCatcher log;
  g_reason_at_loss.clear();
  const char request[] = {7, 0, 0, 0, 9};
  swrite_blok(request, sizeof request, s[1]);
  EXPECT_NE(sflush(s[1]), 0);
  EXPECT_EQ(g_reason_at_loss, reason);
  EXPECT_STREQ(ipc_ended_reason(s[1]), reason);
  ASSERT_FALSE(log.lines().empty());
  EXPECT_NE(log.lines().front().find(std::string("driver echo: ") + reason), std::string::npos) << log.lines().front();
  ipc_test::CloseBoth(s);
}

TEST(AttachArguments, BadCallsAreRefused) {
  ipc_test::ScratchRoot root;
  STREAM *s[2] = {nullptr, nullptr};
  struct {
    const char *name;
    STREAM **streams;
    int mode, r1, r2;
  } calls[] = {
      {nullptr, s, IPC_MODE_PAIR, 0, 0}, {"", s, IPC_MODE_PAIR, 0, 0},
      {"echo", nullptr, IPC_MODE_PAIR, 0, 0}, {"echo", s, 2, 0, 0},
      {"echo", s, IPC_MODE_PAIR, 1, 0}, {"echo", s, IPC_MODE_PAIR, 0, 1},
  };
  for (const auto &call : calls) {
    errno = 0;
    EXPECT_EQ(attach_process(call.name, call.streams, call.mode, call.r1, call.r2), -1);
    EXPECT_EQ(errno, EINVAL);
  }
}

TEST(IpcControl, RefusesOtherStreamsOperationsAndBuffers) {
  STREAM *bytes = stream_open_bytes(nullptr, 0, "w+");
  ASSERT_NE(bytes, nullptr);
  char host[IPC_HOST_SIZE];
  errno = 0;
  EXPECT_EQ(ipc_control(bytes, IPC_GET_HOST, host), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(ipc_control(nullptr, IPC_GET_HOST, host), -1);
  EXPECT_EQ(ipc_process_request(bytes), 0);  // not in-process: nothing to run
  sclose(bytes);

  ipc_test::ScratchRoot root;
  root.WriteIpcInfo(std::string("echo child ") + IPC_ECHO_DRIVER + "\n");
  STREAM *s[2];
  ASSERT_EQ(attach_process("echo", s, IPC_MODE_PAIR, 0, 0), 0);
  errno = 0;
  EXPECT_EQ(ipc_control(s[0], 99, host), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(ipc_control(s[0], IPC_GET_HOST, nullptr), -1);
  EXPECT_EQ(ipc_control(s[0], IPC_SET_DISCONNECT, nullptr), 0);  // removes the handler
  ipc_test::CloseBoth(s);
}

}  // namespace
