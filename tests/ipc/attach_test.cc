// attach_process in its three forms against the echo driver: bytes round
// trip, arguments arrive, the disconnect handler fires when the driver goes
// away, and nothing is left open or running afterwards.
#include "ipc/attach.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <thread>

#include "ipc/ipc_transport.h"
#include "ipc_test_util.h"

using ipc_test::CloseBoth;
using ipc_test::EchoServer;
using ipc_test::OpenDescriptors;
using ipc_test::RoundTrip;
using ipc_test::ScratchRoot;

namespace {

enum class Form { kChild, kLibrary, kUnix, kTcp };

const char *FormName(Form f) {
  switch (f) {
    case Form::kChild: return "Child";
    case Form::kLibrary: return "Library";
    case Form::kUnix: return "UnixServer";
    case Form::kTcp: return "TcpServer";
  }
  return "?";
}

int disconnects = 0;
STREAM *disconnected_stream = nullptr;
void CountDisconnect(STREAM *s) {
  if (disconnects++ == 0) disconnected_stream = s;
}

// One form set up: the root's ipc_info names driver "echo" in that form,
// with a running server for the server forms.
class AttachForm : public ::testing::TestWithParam<Form> {
 protected:
  void SetUp() override {
    disconnects = 0;
    disconnected_stream = nullptr;
    const std::string args = " alpha \"two words\" ${ZUV}\n";
    switch (GetParam()) {
      case Form::kChild:
        root_.WriteIpcInfo(std::string("echo child ") + IPC_ECHO_DRIVER + args);
        break;
      case Form::kLibrary:
        root_.WriteIpcInfo(std::string("echo library ") + IPC_ECHO_LIB + args);
        break;
      case Form::kUnix:
        server_ = std::make_unique<EchoServer>("unix:" + root_.path() + "/echo.sock");
        ASSERT_TRUE(server_->ok());
        root_.WriteIpcInfo("echo unix echo.sock\n");  // relative to the root
        break;
      case Form::kTcp:
        server_ = std::make_unique<EchoServer>("tcp:0");
        ASSERT_TRUE(server_->ok());
        root_.WriteIpcInfo("echo tcp " + std::to_string(server_->port()) + "\n");
        break;
    }
  }

  bool Attach() { return attach_process("echo", streams_, IPC_MODE_PAIR, 0, 0) == 0; }

  ScratchRoot root_;
  std::unique_ptr<EchoServer> server_;
  STREAM *streams_[2] = {nullptr, nullptr};
};

TEST_P(AttachForm, BytesRoundTripUnchanged) {
  ASSERT_TRUE(Attach()) << std::strerror(errno);
  EXPECT_EQ(streams_[0]->kind, STREAM_KIND_CONN);
  EXPECT_EQ(streams_[1]->in_process, GetParam() == Form::kLibrary ? 1 : 0);
  std::mt19937 rng(7);
  // Empty, tiny, exactly one stream buffer, and much larger than a buffer.
  for (size_t size : {size_t{0}, size_t{1}, size_t{13}, size_t{8192}, size_t{200000}}) {
    std::string payload(size, '\0');
    for (auto &c : payload) c = static_cast<char>(rng());
    std::string answer;
    ASSERT_TRUE(RoundTrip(streams_[0], streams_[1], payload, &answer)) << size;
    EXPECT_EQ(answer, payload) << size;
  }
  char host[IPC_HOST_SIZE] = "garbage";
  EXPECT_EQ(ipc_control(streams_[0], IPC_GET_HOST, host), 0);
  EXPECT_STREQ(host, "");
  CloseBoth(streams_);
  EXPECT_EQ(disconnects, 0);
}

TEST_P(AttachForm, DisconnectHandlerFiresWhenDriverEndsMidConversation) {
  int fds_before = OpenDescriptors();
  ASSERT_TRUE(Attach());
  ASSERT_EQ(ipc_control(streams_[0], IPC_SET_DISCONNECT, reinterpret_cast<void *>(CountDisconnect)),
            0);
  ASSERT_EQ(ipc_control(streams_[1], IPC_SET_DISCONNECT, reinterpret_cast<void *>(CountDisconnect)),
            0);
  std::string answer;
  ASSERT_TRUE(RoundTrip(streams_[0], streams_[1], "first", &answer));
  EXPECT_EQ(answer, "first");
  // The driver ends without answering; the reply read sees the end.
  ipc_test::SendFrame(streams_[1], "EXIT");
  EXPECT_FALSE(ipc_test::ReadFrame(streams_[0], &answer));
  EXPECT_GE(disconnects, 1);
  EXPECT_EQ(disconnected_stream, streams_[0]);
  // Writing to the gone driver fails instead of killing this process.
  for (int i = 0; i < 3; ++i) ipc_test::SendFrame(streams_[1], std::string(100000, 'x'));
  EXPECT_TRUE(stream_error(streams_[1]));
  CloseBoth(streams_);
  EXPECT_EQ(OpenDescriptors(), fds_before);
  EXPECT_TRUE(ipc_test::NoChildrenLeft(server_ ? server_->pid() : -1));
}

TEST_P(AttachForm, NoDescriptorOrProcessLeftAfterManyCycles) {
  // The first cycle may load the library or open the log file for good.
  ASSERT_TRUE(Attach());
  CloseBoth(streams_);
  int fds_before = OpenDescriptors();
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(Attach()) << i;
    std::string answer;
    ASSERT_TRUE(RoundTrip(streams_[0], streams_[1], "ping", &answer)) << i;
    CloseBoth(streams_);
  }
  EXPECT_EQ(OpenDescriptors(), fds_before);
  EXPECT_TRUE(ipc_test::NoChildrenLeft(server_ ? server_->pid() : -1));
}

TEST_P(AttachForm, TwoConnectionsToOneDriverStayApart) {
  STREAM *other[2] = {nullptr, nullptr};
  ASSERT_TRUE(Attach());
  ASSERT_EQ(attach_process("echo", other, IPC_MODE_PAIR, 0, 0), 0);
  ASSERT_TRUE(ipc_test::SendFrame(streams_[1], "one"));
  ASSERT_TRUE(ipc_test::SendFrame(other[1], "two"));
  std::string a, b;
  ASSERT_TRUE(ipc_test::ReadFrame(other[0], &b));
  ASSERT_TRUE(ipc_test::ReadFrame(streams_[0], &a));
  EXPECT_EQ(a, "one");
  EXPECT_EQ(b, "two");
  CloseBoth(other);
  ASSERT_TRUE(RoundTrip(streams_[0], streams_[1], "still here", &a));
  EXPECT_EQ(a, "still here");
  CloseBoth(streams_);
}

INSTANTIATE_TEST_SUITE_P(Forms, AttachForm,
                         ::testing::Values(Form::kChild, Form::kLibrary, Form::kUnix, Form::kTcp),
                         [](const auto &info) { return FormName(info.param); });

// The driver gets its name and the arguments of its line, with ${ZUV}
// expanded, in the child and the in-process form alike.
TEST(AttachArguments, DriverGetsNameAndExpandedArguments) {
  for (const char *form : {"child", "library"}) {
    ScratchRoot root;
    std::string target = std::string(form) == "child" ? IPC_ECHO_DRIVER : IPC_ECHO_LIB;
    root.WriteIpcInfo("# drivers\n\nechoer " + std::string(form) + " " + target +
                      " alpha \"two words\" ${ZUV}/data\n");
    STREAM *s[2];
    ASSERT_EQ(attach_process("echoer", s, IPC_MODE_PAIR, 0, 0), 0) << form;
    std::string answer;
    ASSERT_TRUE(RoundTrip(s[0], s[1], "ARGS", &answer));
    EXPECT_EQ(answer, "echoer\nalpha\ntwo words\n" + root.path() + "/data") << form;
    ASSERT_TRUE(RoundTrip(s[0], s[1], "ENV:ZUV", &answer));
    EXPECT_EQ(answer, root.path()) << form;
    CloseBoth(s);
  }
}

// Without a line for it, a driver is the executable of its own name in
// $ZUV_BIN, else in $ZUV/bin.
TEST(AttachArguments, UnlistedDriverRunsFromBinDirectory) {
  ScratchRoot root;
  std::string dir = std::string(IPC_ECHO_DRIVER);
  dir = dir.substr(0, dir.rfind('/'));
  ASSERT_EQ(setenv("ZUV_BIN", dir.c_str(), 1), 0);
  STREAM *s[2];
  ASSERT_EQ(attach_process("ipc_echo_driver", s, IPC_MODE_PAIR, 0, 0), 0) << std::strerror(errno);
  std::string answer;
  ASSERT_TRUE(RoundTrip(s[0], s[1], "ARGS", &answer));
  EXPECT_EQ(answer, "ipc_echo_driver");
  CloseBoth(s);
  unsetenv("ZUV_BIN");
  errno = 0;
  EXPECT_EQ(attach_process("ipc_echo_driver", s, IPC_MODE_PAIR, 0, 0), -1);
  EXPECT_EQ(errno, ENOENT);  // $ZUV/bin has no such executable
}

// A host part naming this machine is accepted and reported back.
TEST(AttachHost, LocalHostPartIsKeptAsConnectionHost) {
  ScratchRoot root;
  root.WriteIpcInfo(std::string("echo child ") + IPC_ECHO_DRIVER + "\n");
  char self[IPC_HOST_SIZE];
  ASSERT_EQ(GetHostName(self, sizeof self), 0);
  for (std::string host : {std::string("localhost"), std::string(self)}) {
    STREAM *s[2];
    ASSERT_EQ(attach_process((host + "!echo").c_str(), s, IPC_MODE_PAIR, 0, 0), 0) << host;
    char got[IPC_HOST_SIZE];
    ASSERT_EQ(ipc_control(s[1], IPC_GET_HOST, got), 0);
    EXPECT_EQ(std::string(got), host);
    std::string answer;
    ASSERT_TRUE(RoundTrip(s[0], s[1], "ARGS", &answer));
    EXPECT_EQ(answer, "echo");  // the driver name without the host
    CloseBoth(s);
  }
}

// A process keeps one host value for all its connections to a server; a
// child made by fork is another host and draws its own, which it keeps too.
// The token line names the process and the value after tabs.
TEST(AttachHost, HostValueIsTheProcesssOwnAndAForkDrawsAnother) {
  using molvane::ipc::ipc_host_value;
  const std::uint64_t mine = ipc_host_value();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(ipc_host_value(), mine);
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(mine));
  EXPECT_EQ(molvane::ipc::ipc_token_line("T"), "T\tpid=" + std::to_string(getpid()) + "\thost=" + hex);
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t child = fork();
  if (child == 0) {
    const std::uint64_t values[2] = {ipc_host_value(), ipc_host_value()};
    _exit(write(pipe_fds[1], values, sizeof values) == static_cast<ssize_t>(sizeof values) ? 0 : 1);
  }
  close(pipe_fds[1]);
  std::uint64_t values[2] = {};
  EXPECT_EQ(read(pipe_fds[0], values, sizeof values), static_cast<ssize_t>(sizeof values));
  close(pipe_fds[0]);
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
  EXPECT_NE(values[0], mine);
  EXPECT_NE(values[0], 0u);
  EXPECT_EQ(values[1], values[0]);
  EXPECT_EQ(ipc_host_value(), mine);
}

// A child that ends at once is noticed at the first request; closing its
// streams leaves no zombie.
TEST(AttachChild, ChildThatEndsAtStartIsADisconnect) {
  ScratchRoot root;
  root.WriteIpcInfo(std::string("echo child ") + IPC_ECHO_DRIVER + " --fail-start\n");
  disconnects = 0;
  STREAM *s[2];
  ASSERT_EQ(attach_process("echo", s, IPC_MODE_PAIR, 0, 0), 0);
  ipc_control(s[0], IPC_SET_DISCONNECT, reinterpret_cast<void *>(CountDisconnect));
  ipc_control(s[1], IPC_SET_DISCONNECT, reinterpret_cast<void *>(CountDisconnect));
  std::string answer;
  EXPECT_FALSE(RoundTrip(s[0], s[1], "hello", &answer));
  EXPECT_GE(disconnects, 1);
  ipc_test::LogCatcher log;
  // The ended child is reaped once, its wait status told; the streams then
  // wait for nothing.
  int status = 0;
  ASSERT_EQ(ipc_control(s[0], IPC_WAIT_CHILD, &status), 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
  EXPECT_EQ(ipc_control(s[1], IPC_WAIT_CHILD, &status), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(ipc_control(s[1], IPC_WAIT_CHILD, nullptr), -1);
  EXPECT_EQ(errno, EINVAL);
  CloseBoth(s);
  EXPECT_TRUE(ipc_test::NoChildrenLeft());
  // Its exit status is logged.
  EXPECT_EQ(std::count_if(log.lines().begin(), log.lines().end(),
                          [](const std::string &line) { return line.find("exit status 2") != std::string::npos; }),
            1);
}

// SIGPIPE stays at its default action in this test process: a write to a
// gone driver must still only fail. The end of its replies can come a
// moment before its end of the requests is gone, so a small write may
// still be taken; one larger than the pipe's room waits for that and fails.
TEST(AttachChild, WriteToEndedDriverDoesNotRaiseSigpipe) {
  ASSERT_EQ(signal(SIGPIPE, SIG_DFL), SIG_DFL);
  ScratchRoot root;
  root.WriteIpcInfo(std::string("echo child ") + IPC_ECHO_DRIVER + "\n");
  STREAM *s[2];
  ASSERT_EQ(attach_process("echo", s, IPC_MODE_PAIR, 0, 0), 0);
  ipc_test::SendFrame(s[1], "EXIT");
  std::string answer;
  EXPECT_FALSE(ipc_test::ReadFrame(s[0], &answer));
  bool failed = false;
  for (int i = 0; i < 5 && !failed; ++i) failed = !ipc_test::SendFrame(s[1], "more");
  if (!failed) failed = !ipc_test::SendFrame(s[1], std::string(1 << 20, 'x'));
  EXPECT_TRUE(failed);
  CloseBoth(s);
}

}  // namespace

namespace {

// The driver's side: streams over descriptors it already holds.
TEST(FdStreams, PipesCarryFramesAndClosingTheOutputEndsThePeerInput) {
  int to_us[2], from_us[2];
  ASSERT_EQ(pipe2(to_us, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(from_us, O_CLOEXEC), 0);
  int fds_before = OpenDescriptors();
  STREAM *s[2];
  ASSERT_EQ(ipc_open_fd_streams(to_us[0], from_us[1], "pipes", s), 0);
  EXPECT_EQ(OpenDescriptors(), fds_before);  // the descriptors are taken over, not copied
  ASSERT_TRUE(ipc_test::SendFrame(s[1], "out"));
  char got[7];
  ASSERT_EQ(read(from_us[0], got, 7), 7);
  EXPECT_EQ(std::string(got + 4, 3), "out");
  ASSERT_EQ(write(to_us[1], "\0\0\0\2in", 6), 6);
  std::string answer;
  ASSERT_TRUE(ipc_test::ReadFrame(s[0], &answer));
  EXPECT_EQ(answer, "in");
  sclose(s[1]);
  EXPECT_EQ(read(from_us[0], got, 1), 0);  // the peer sees the end
  sclose(s[0]);
  EXPECT_EQ(OpenDescriptors(), fds_before - 2);
  close(to_us[1]);
  close(from_us[0]);
}

TEST(FdStreams, WriteToPipeWithoutReaderFailsWithoutSigpipe) {
  ASSERT_EQ(signal(SIGPIPE, SIG_DFL), SIG_DFL);
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  int in = dup(p[1]);  // any readable-or-not descriptor serves as input here
  close(p[0]);
  STREAM *s[2];
  ASSERT_EQ(ipc_open_fd_streams(in, p[1], "pipe", s), 0);
  disconnects = 0;
  disconnected_stream = nullptr;
  ipc_control(s[1], IPC_SET_DISCONNECT, reinterpret_cast<void *>(CountDisconnect));
  errno = 0;
  EXPECT_FALSE(ipc_test::SendFrame(s[1], "lost"));
  EXPECT_EQ(errno, EPIPE);
  EXPECT_EQ(disconnects, 1);
  EXPECT_EQ(disconnected_stream, s[1]);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
  // A host that holds SIGPIPE back keeps a SIGPIPE of its own, and gets
  // none from the streams.
  sigset_t pipe_only, old_mask;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &pipe_only, &old_mask), 0);
  for (bool own : {false, true}) {
    if (own) pthread_kill(pthread_self(), SIGPIPE);
    EXPECT_FALSE(ipc_test::SendFrame(s[1], "lost"));
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), own ? 1 : 0) << (own ? "the host's own" : "one of the streams");
  }
  struct timespec zero = {0, 0};
  EXPECT_EQ(sigtimedwait(&pipe_only, nullptr, &zero), SIGPIPE);
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  CloseBoth(s);
}

// The wait before a blocking read never reports input that is not there,
// never blocks, and keeps no descriptor. Whether it reports input that is
// there depends on whether it watches on this machine now: when it does
// not, the reader's own blocking read finds the input.
TEST(FdStreams, AwaitInputNeverReportsWhatIsNotThereAndKeepsNothingOpen) {
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  int fds_before = OpenDescriptors();
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(molvane::ipc::ipc_await_input(p[0])) << "nothing written yet";
  ASSERT_EQ(write(p[1], "x", 1), 1);
  for (int i = 0; i < 40; ++i) molvane::ipc::ipc_await_input(p[0]);
  char got[2];
  EXPECT_EQ(molvane::ipc::ipc_recv_some(p[0], got, sizeof got), 1);
  struct pollfd both[2] = {{p[0], POLLIN, 0}, {p[1], POLLOUT, 0}};
  for (int i = 0; i < 40; ++i) {
    const int ready = molvane::ipc::ipc_await_input(both, 2, nullptr);
    ASSERT_GE(ready, 0);
    if (ready > 0) {
      EXPECT_EQ(ready, 1) << "only the pipe's room is ready";
      EXPECT_EQ(both[1].revents, POLLOUT);
    }
  }
  EXPECT_EQ(OpenDescriptors(), fds_before);
  close(p[1]);
  EXPECT_EQ(molvane::ipc::ipc_recv_some(p[0], got, sizeof got), 0) << "the writer's end is the end";
  close(p[0]);
}

// A reader that goes while a write waits for room leaves that write
// stored in part, which raises SIGPIPE as well: it must not reach the host.
TEST(FdStreams, WriteCutShortByTheReaderGoingRaisesNoSigpipe) {
  ASSERT_EQ(signal(SIGPIPE, SIG_DFL), SIG_DFL);
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  const int room = fcntl(p[1], F_GETPIPE_SZ);
  ASSERT_GT(room, 0);
  std::thread reader([&] {
    // Gone once the pipe is full and the write waits.
    for (int queued = 0; ioctl(p[0], FIONREAD, &queued) == 0 && queued < room;) usleep(1000);
    close(p[0]);
  });
  const std::string bytes(static_cast<size_t>(room) * 3, 'x');
  errno = 0;
  EXPECT_EQ(molvane::ipc::ipc_send_all(p[1], bytes.data(), bytes.size(), false), -1);
  EXPECT_EQ(errno, EPIPE);
  reader.join();
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
  close(p[1]);
}

TEST(FdStreams, RunnableTasksComeFromTheFourthFieldOfLoadavg) {
  using molvane::ipc::ipc_runnable_tasks;
  EXPECT_EQ(ipc_runnable_tasks("0.52 0.58 0.59 3/467 12345\n"), 3);
  EXPECT_EQ(ipc_runnable_tasks("38.94 22.37 9.57 41/285 16102"), 41);
  EXPECT_EQ(ipc_runnable_tasks(""), -1);
  EXPECT_EQ(ipc_runnable_tasks("0.52 0.58 0.59"), -1);
  EXPECT_EQ(ipc_runnable_tasks("0.52 0.58 0.59 "), -1);
  EXPECT_EQ(ipc_runnable_tasks("0.52 0.58 0.59 -3/467"), -1);
  EXPECT_EQ(ipc_runnable_tasks("0.52 0.58 0.59 3 467"), -1) << "a count without its total is no such field";
  EXPECT_EQ(ipc_runnable_tasks("0.52 0.58 0.59 99999999999/467"), -1);
  char text[128] = {};
  int fd = open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_GT(read(fd, text, sizeof text - 1), 0);
  close(fd);
  EXPECT_GE(ipc_runnable_tasks(text), 1) << "this test is running: " << text;
}

TEST(FdStreams, SocketPeerEndFiresDisconnectOnRead) {
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
  STREAM *s[2];
  ASSERT_EQ(ipc_open_fd_streams(sv[0], sv[0], "socket", s), 0);
  disconnects = 0;
  ipc_control(s[0], IPC_SET_DISCONNECT, reinterpret_cast<void *>(CountDisconnect));
  close(sv[1]);
  std::string answer;
  EXPECT_FALSE(ipc_test::ReadFrame(s[0], &answer));
  EXPECT_EQ(disconnects, 1);
  CloseBoth(s);
  // On failure the valid descriptor is closed all the same.
  int fds_before = OpenDescriptors();
  int spare = dup(2);
  errno = 0;
  EXPECT_EQ(ipc_open_fd_streams(-1, spare, "bad", s), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(OpenDescriptors(), fds_before);
}

}  // namespace
