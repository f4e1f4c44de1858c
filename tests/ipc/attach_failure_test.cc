// attach_process failures: each gives -1 with its errno and a log line, and
// leaves no descriptor, process or stream behind.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "ipc/attach.h"
#include "ipc_test_util.h"

namespace {

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
    {"NoUnixServer", [](auto &) { return "echo unix nobody.sock\n"; }, "echo", ENOENT},
    {"TcpServerRefuses",
     [](auto &) { return "echo tcp 127.0.0.1:" + std::to_string(ClosedPort()) + "\n"; }, "echo",
     ECONNREFUSED},
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
  EXPECT_FALSE(log.lines().empty());
  EXPECT_EQ(ipc_test::OpenDescriptors(), fds_before);
  EXPECT_TRUE(ipc_test::NoChildrenLeft());
}

INSTANTIATE_TEST_SUITE_P(Cases, AttachFailure, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.title); });

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
