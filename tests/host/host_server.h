// The driver server under test: molvane-driver --listen on a Unix socket
// under the environment root, or on a loopback port, with the fixture
// dictionary's exdep010 made and holding SALES (budget 1), and
// molvane-host processes driven line by line against it; raw connections
// to it, and what a process uses.
#pragma once

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <molvane/platform.h>

#include "host_env.h"

namespace molvane::test {

inline constexpr int kReplyMs = 20000;  // the longest wait for one line of a host

// Waits for a child process for at most `ms`; kills it after that. Its
// exit status, or -1 when it did not end by itself or was signalled.
inline int Reap(pid_t pid, int ms) {
  if (pid <= 0) return -1;  // never kill(-1) or wait for any child
  for (int waited = 0; waited <= ms; waited += 10) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// A process started with its standard input and output on pipes; the
// arguments are execv's.
// A process run as `user` (0: as this process) drops to it first.
class Process {
 public:
  explicit Process(const std::vector<std::string> &argv, uid_t user = 0) {
    // The child of a threaded test may not allocate before execv: another
    // thread may have held the allocator's lock at the fork.
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      if (user != 0 && (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0)) _exit(126);
      dup2(in[0], 0);
      dup2(out[1], 1);
      execv(args[0], args.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
  }
  ~Process() {
    if (in_ >= 0) close(in_);
    close(out_);
    if (pid_ > 0 && !Ended()) Reap(pid_, 10000);
  }
  // Writes a line; reads one line back ("" when none came in time, or at
  // once when the process has ended).
  std::string Do(const std::string &line) { return Send(line) ? Line() : ""; }
  // False when the process has ended: the write's SIGPIPE is taken back, so
  // that a process that could not start fails its test instead of ending it.
  bool Send(const std::string &line) {
    std::string text = line + "\n";
    sigset_t pipe_signal, before;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &before);
    const bool sent = write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (!sent && errno == EPIPE) {
      const timespec now{};
      sigtimedwait(&pipe_signal, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return sent;
  }
  std::string Line() {
    for (int waited = 0; buffered_.find('\n') == std::string::npos && waited < kReplyMs; waited += 100) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) {
        if (Ended()) break;  // a child of it may hold its output open
        // Work that goes on (on a loaded machine, slowly) is waited for.
        if (waited % 1000 == 900 && progressing_ && progressing_()) waited = -100;
        continue;
      }
      char buf[4096];
      ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) break;
      buffered_.append(buf, static_cast<std::size_t>(n));
    }
    std::size_t end = buffered_.find('\n');
    if (end == std::string::npos) return "";
    std::string line = buffered_.substr(0, end);
    buffered_.erase(0, end + 1);
    return line;
  }
  // From now on Line waits as long as `progressing` says, once a second,
  // that the work the line waits for goes on.
  void WaitWhile(std::function<bool()> progressing) { progressing_ = std::move(progressing); }
  void Kill() {
    if (!Ended()) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      ended_ = true;
    }
  }
  pid_t pid() const { return pid_; }
  // The process has written something not read yet.
  bool HasOutput() {
    pollfd p{out_, POLLIN, 0};
    return !buffered_.empty() || poll(&p, 1, 0) == 1;
  }
  // Signals the process (0: none) and gives its exit status.
  // A process that was reaped is never signalled again: its pid may be
  // another's by then. A server under the sanitizers that held much
  // memory takes seconds to end, and beside a load of five processes a
  // processor twelve (StatementsLongerThanTheServersLimitsAnswerExactly):
  // it is given a minute.
  int Stop(int signal) {
    if (Ended()) return ended_status_;
    if (signal != 0) kill(pid_, signal);
    ended_status_ = Reap(pid_, 60000);
    ended_ = true;
    return ended_status_;
  }

 private:
  // True once the process has ended (or never started); its status (as
  // Reap gives it) is kept.
  bool Ended() {
    int status = 0;
    if (pid_ <= 0) return true;
    if (!ended_ && waitpid(pid_, &status, WNOHANG) == pid_) {
      ended_ = true;
      ended_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return ended_;
  }
  bool ended_ = false;
  int ended_status_ = -1;
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffered_;
  std::function<bool()> progressing_;
};

// The address of `where`: a socket path or, for "tcp:PORT", the loopback
// port.
struct Address {
  sockaddr_storage storage{};
  socklen_t size = 0;
  explicit Address(const std::string &where) {
    if (where.rfind("tcp:", 0) == 0) {
      auto *in = reinterpret_cast<sockaddr_in *>(&storage);
      in->sin_family = AF_INET;
      in->sin_port = htons(static_cast<std::uint16_t>(std::atoi(where.c_str() + 4)));
      in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      size = sizeof *in;
    } else {
      auto *un = reinterpret_cast<sockaddr_un *>(&storage);
      un->sun_family = AF_UNIX;
      std::strncpy(un->sun_path, where.c_str(), sizeof un->sun_path - 1);
      size = sizeof *un;
    }
  }
  sockaddr *get() { return reinterpret_cast<sockaddr *>(&storage); }
};

// True when a server accepts connections on the socket path or, for
// "tcp:PORT", on the loopback port.
inline bool Connects(const std::string &where) {
  Address addr(where);
  int fd = socket(addr.get()->sa_family, SOCK_STREAM, 0);
  bool ok = connect(fd, addr.get(), addr.size) == 0;
  close(fd);
  return ok;
}

// Connects once the server listens; a server that starts slowly on a
// loaded machine gets 30 s before the caller gives up on it.
inline bool ConnectsOnceStarted(const std::string &where) {
  for (int i = 0; i < 3000; ++i) {
    if (Connects(where)) return true;
    usleep(10000);
  }
  return false;
}

// A loopback port that was free a moment ago.
inline int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof in;
  bind(fd, reinterpret_cast<sockaddr *>(&in), size);
  getsockname(fd, reinterpret_cast<sockaddr *>(&in), &size);
  close(fd);
  return ntohs(in.sin_port);
}

// The server's answer line to a new connection ("" when none came).
inline std::string Admission(int fd) {
  std::string line;
  char c = 0;
  for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, 5000) == 1 && read(fd, &c, 1) == 1 && c != '\n';) line.push_back(c);
  return line;
}

// A non-blocking connection to the server at `where` (as Connects), past
// its admission: over TCP the token of `secret` goes first, and the
// server's "ok" is read unless `admitted` is false. -1 when none.
inline int Dial(const std::string &where, const std::string &secret, bool admitted = true) {
  Address addr(where);
  int fd = socket(addr.get()->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, addr.get(), addr.size) != 0) {
    close(fd);
    return -1;
  }
  if (fd < 0) return -1;
  if (where.rfind("tcp:", 0) == 0) {
    std::ifstream file(secret);
    std::string token;
    std::getline(file, token);
    token += '\n';
    (void)!send(fd, token.data(), token.size(), MSG_NOSIGNAL);
  }
  if (admitted && Admission(fd) != "ok") {
    close(fd);
    return -1;
  }
  fcntl(fd, F_SETFL, O_NONBLOCK);
  return fd;
}

// EXE_SYSTEM 9 with information code 1: the driver's version text.
inline const char kVersionRequest[] = {7, 0, 0, 0, 9, 0, 4, 0, 0, 0, 1};

// A connection that shows nothing: over TCP it never sends its token.
inline int DialSilent(const std::string &where) {
  Address addr(where);
  int fd = socket(addr.get()->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, addr.get(), addr.size) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A connection past its admission with a session open (ATT_SESSION), so
// that it may send requests as large as the protocol allows. -1 when none.
inline int DialWithSession(const std::string &where, const std::string &secret) {
  int fd = Dial(where, secret);
  const char attach[] = {2, 't', 0};
  if (fd < 0 || send(fd, attach, sizeof attach, MSG_NOSIGNAL) != sizeof attach) return fd < 0 ? -1 : (close(fd), -1);
  char reply[8];
  for (std::size_t have = 0; have < sizeof reply;) {
    pollfd p{fd, POLLIN, 0};
    ssize_t n = poll(&p, 1, 5000) == 1 ? read(fd, reply + have, sizeof reply - have) : 0;
    if (n <= 0) {
      close(fd);
      return -1;
    }
    have += static_cast<std::size_t>(n);
  }
  return fd;
}

// Sends the head of an SQL_MESSAGE of 64 MiB and `bytes` of its body,
// never the rest; the count sent before the server ended the connection.
// A server that takes the bytes slowly (on a loaded machine) is waited
// for: only a minute without room gives up.
inline std::size_t SendUnfinished(int fd, std::size_t bytes) {
  const char head[] = {10, 4, 0, 0, 0};
  const std::string zeros(1 << 20, '\0');
  std::size_t sent = 0;
  bool ended = send(fd, head, sizeof head, MSG_NOSIGNAL) != sizeof head;
  while (!ended && sent < bytes) {
    ssize_t n = send(fd, zeros.data(), std::min(zeros.size(), bytes - sent), MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      // The server sends nothing on such a connection before it ends it
      // (its last line, then the end of the data).
      pollfd p{fd, POLLOUT | POLLIN, 0};
      ended = poll(&p, 1, 60000) != 1 || (p.revents & POLLOUT) == 0;
    } else {
      ended = true;  // the server ended the connection
    }
  }
  return sent;
}

// True when the server ends the connection (or sends anything) within `ms`.
inline bool EndsWithin(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) == 1;
}

// Reads what the server sends on `fd` until it ends the connection or
// sends nothing for `ms`.
inline std::string ReadAll(int fd, int ms) {
  std::string got;
  char buf[1 << 16];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    ssize_t n = poll(&p, 1, ms) == 1 ? read(fd, buf, sizeof buf) : 0;
    if (n <= 0) return got;
    got.append(buf, static_cast<std::size_t>(n));
  }
}

// The CPU time a process has used, in milliseconds.
inline long CpuMs(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::atol(field.c_str());
    if (i == 15) stime = std::atol(field.c_str());
  }
  return (utime + stime) * 1000 / sysconf(_SC_CLK_TCK);
}

// True on each call after which the processes `pids` have used more CPU
// time than before it: they are at work.
inline std::function<bool()> CpuProgress(std::vector<pid_t> pids) {
  return [pids = std::move(pids), used = -1L]() mutable {
    long now = 0;
    for (pid_t pid : pids) now += CpuMs(pid);
    const bool more = now > used;
    used = now;
    return more;
  };
}

// The resident memory of a process, in KiB.
inline long RssKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// One host's connection to the server passed through this process, as a
// client that may stop reading: it listens on the socket `path` for the
// host and connects it to the server at `where` (over TCP with the token
// of `secret`); what either side sends goes on to the other until
// StopReading. From then on the server's answers are left unread, and
// `requests` are sent again and again in the host's name until the server
// takes no more (its requests wait behind its unread answers).
class Proxy {
 public:
  Proxy(const std::string &path, const std::string &where, const std::string &secret) {
    Address addr(path);
    listen_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (bind(listen_, addr.get(), addr.size) != 0 || listen(listen_, 1) != 0) std::abort();
    thread_ = std::thread([this, where, secret] { Run(where, secret); });
  }
  ~Proxy() {
    stop_ = true;
    thread_.join();
    for (int fd : {listen_, host_, server_})
      if (fd >= 0) close(fd);
  }
  Proxy(const Proxy &) = delete;
  Proxy &operator=(const Proxy &) = delete;
  // Returns once the server takes no more of the requests (2 s without
  // room), or after 64 MiB of them; the bytes sent (0 when no host came
  // within a minute).
  std::size_t StopReading(const std::string &requests) {
    std::unique_lock<std::mutex> lock(mu_);
    requests_ = requests;
    stopping_ = true;
    return cv_.wait_for(lock, std::chrono::seconds(60), [this] { return stopped_; }) ? flooded_ : 0;
  }

 private:
  // Sends all of `bytes` to `fd`, waiting up to 2 s at a time for room.
  static bool SendAll(int fd, const char *bytes, std::size_t n) {
    while (n > 0) {
      ssize_t sent = send(fd, bytes, n, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent > 0) {
        bytes += sent;
        n -= static_cast<std::size_t>(sent);
        continue;
      }
      pollfd p{fd, POLLOUT, 0};
      if ((sent < 0 && errno != EAGAIN) || poll(&p, 1, 2000) != 1) return false;
    }
    return true;
  }
  void Run(const std::string &where, const std::string &secret) {
    for (pollfd p{listen_, POLLIN, 0}; !stop_ && host_ < 0;)
      if (poll(&p, 1, 100) == 1) host_ = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (host_ < 0) return;
    server_ = Dial(where, secret, false);
    if (server_ < 0) return;
    char buf[1 << 16];
    bool reading = true;
    while (!stop_) {
      bool stopping;
      {
        std::lock_guard<std::mutex> lock(mu_);
        stopping = stopping_ && !stopped_;
      }
      if (stopping) {
        reading = false;
        while (flooded_ < (64u << 20) && SendAll(server_, requests_.data(), requests_.size()))
          flooded_ += requests_.size();
        std::lock_guard<std::mutex> lock(mu_);
        stopped_ = true;
        cv_.notify_all();
      }
      pollfd p[2] = {{host_, POLLIN, 0}, {server_, static_cast<short>(reading ? POLLIN : 0), 0}};
      if (poll(p, 2, 100) <= 0) continue;
      if (p[0].revents & POLLIN) {
        ssize_t n = read(host_, buf, sizeof buf);
        if (n <= 0 || !SendAll(server_, buf, static_cast<std::size_t>(n))) break;
      }
      if (reading && (p[1].revents & POLLIN)) {
        ssize_t n = read(server_, buf, sizeof buf);
        if (n <= 0 || !SendAll(host_, buf, static_cast<std::size_t>(n))) break;
      }
    }
    std::lock_guard<std::mutex> lock(mu_);
    stopped_ = true;
    cv_.notify_all();
  }
  int listen_ = -1, host_ = -1, server_ = -1;
  std::atomic<bool> stop_{false};
  std::mutex mu_;
  std::condition_variable cv_;
  std::string requests_;
  bool stopping_ = false, stopped_ = false;
  std::size_t flooded_ = 0;
  std::thread thread_;
};

// The server listens on a Unix socket below the root, or on a loopback port.
class HostServer : public HostEnv, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    HostEnv::SetUp();
    // The root of this test, also for the hosts forked from this process.
    setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
    setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
    set_zuv(root_.path().c_str());
    const bool tcp = GetParam();
    const int port = tcp ? FreePort() : 0;
    listen_ = tcp ? "tcp:" + std::to_string(port) : root_.path() + "/run.sock";
    // A TCP host presents the token of the file the server writes.
    root_.WriteFile("lib/ipc_info", tcp ? "msqlite tcp " + std::to_string(port) + " main.db.secret\n"
                                        : "msqlite unix run.sock\n");
    // The server's files keep their modes whatever the umask.
    mode_t umask_before = umask(0);
    std::vector<std::string> argv{Driver(), "--listen=" + listen_, root_.path() + "/main.db"};
    const std::vector<std::string> extra = ExtraOptions();
    argv.insert(argv.end(), extra.begin(), extra.end());
    server_ = std::make_unique<Process>(argv);
    umask(umask_before);
    ASSERT_TRUE(ConnectsOnceStarted(listen_)) << "the server did not listen";
    auto setup = Host();
    ASSERT_EQ(setup->Do("table create exdep010 1"), "exdep010001: create_table");
    ASSERT_EQ(setup->Do("insert exdep010 1 code=SALES budget=1"), "buffered insert on exdep010001");
    ASSERT_EQ(setup->Do("commit"), "committed");
  }
  void TearDown() override {
    // The server stops cleanly on SIGTERM and removes its socket and, the
    // last driver on the file, the lock file.
    if (server_ != nullptr) {
      EXPECT_EQ(server_->Stop(SIGTERM), 0);
    }
    for (const char *left : {"/run.sock", "/run.sock.lock", "/main.db.lock", "/main.db.secret"})
      EXPECT_FALSE(std::filesystem::exists(root_.path() + left)) << left;
  }
  static std::string Driver() { return std::string(MOLVANE_BINARY_DIR) + "/driver/molvane-driver"; }
  // Options every server of the tests is started with, before a test's
  // own (which win): MOLVANE_TEST_SERVER_OPTIONS, separated by blanks, e.g.
  // every limit at 1 s.
  static std::vector<std::string> ExtraOptions() {
    std::vector<std::string> options;
    std::istringstream words(std::getenv("MOLVANE_TEST_SERVER_OPTIONS") != nullptr
                                 ? std::getenv("MOLVANE_TEST_SERVER_OPTIONS")
                                 : "");
    for (std::string word; words >> word;) options.push_back(word);
    return options;
  }
  // Starts the server again with more options.
  void Restart(const std::vector<std::string> &options) {
    ASSERT_EQ(server_->Stop(SIGTERM), 0);
    std::vector<std::string> argv{Driver(), "--listen=" + listen_, root_.path() + "/main.db"};
    const std::vector<std::string> extra = ExtraOptions();
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), options.begin(), options.end());
    server_ = std::make_unique<Process>(argv);
    ASSERT_TRUE(ConnectsOnceStarted(listen_)) << "the server did not listen";
  }
  // A logged-on molvane-host with a transaction started.
  std::unique_ptr<Process> Host(uid_t user = 0) {
    auto host = std::make_unique<Process>(
        std::vector<std::string>{std::string(MOLVANE_BINARY_DIR) + "/tools/molvane-host", "--zuv", root_.path(),
                                 "--script", "-"},
        user);
    EXPECT_EQ(host->Do("logon demo"), "logged on as demo");
    EXPECT_EQ(host->Do("start t"), "transaction t id 1");
    return host;
  }
  // Rows Q0 to Q<rows - 1> of exdep010 with budgets 0 to rows - 1, beside
  // SALES (budget 1), committed.
  void Fill(int rows) {
    std::string script = "logon demo\nstart t\n";
    for (int i = 0; i < rows; ++i)
      script += "insert exdep010 1 code=Q" + std::to_string(i) + " budget=" + std::to_string(i) + "\n";
    int status = 0;
    const std::string out = RunText(script + "commit\n", &status);
    ASSERT_EQ(status, 0) << out.substr(0, 2000);
  }
  // Another host commits 4,000 updates of row D5 of exdep010 (each writes
  // a page of about 4 KiB to the WAL: some 16 MiB without a spill, twice
  // the bound kept with one); the largest size the WAL `wal` reached
  // meanwhile.
  std::uintmax_t LargestWalWhileCommitting(const std::string &wal) {
    std::string script = "logon demo\nstart w\n";
    for (int i = 0; i < 4000; ++i)
      script += "update exdep010 1 code=D5 budget=" + std::to_string(i % 100) + "\ncommit\n";
    std::atomic<bool> writing{true};
    std::uintmax_t largest = 0;
    std::thread watch([&] {
      for (std::error_code error; writing; usleep(10000)) {
        const std::uintmax_t size = std::filesystem::file_size(wal, error);
        if (!error) largest = std::max(largest, size);
      }
    });
    int status = 0;
    const std::string out = RunText(script, &status);
    writing = false;
    watch.join();
    EXPECT_EQ(status, 0) << out.substr(0, 2000);
    return largest;
  }
  // Reads a host's result up to its closing line ("(K rows)"), which it
  // returns; the row lines go to `rows` (after the column names and rule).
  static std::string Result(Process &host, std::vector<std::string> *rows = nullptr, std::size_t *bytes = nullptr) {
    std::string line;
    for (int i = 0; !(line = host.Line()).empty() && line[0] != '('; ++i) {
      if (rows != nullptr && i >= 2) rows->push_back(line);
      if (bytes != nullptr) *bytes += line.size() + 1;
    }
    return line;
  }
  // The last line the server sends on a connection it ends for `reason`.
  std::string EndedLine(const std::string &reason) const {
    return "ended: the driver server on " + (GetParam() ? listen_ : "'" + listen_ + "'") +
           " ended the connection: " + reason + "\n";
  }
  std::unique_ptr<Process> server_;
  std::string listen_;  // the server's --listen value
};

}  // namespace molvane::test
