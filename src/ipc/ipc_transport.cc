#include "ipc/ipc_transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/env.h"
#include "platform/log.h"

extern char **environ;

namespace molvane::ipc {
namespace {

// How long a closed child may take to end on its own, then after SIGTERM.
constexpr int kGraceMillis = 3000;
constexpr int kTermMillis = 1000;
// Without a process descriptor: the longest sleep between two looks at a
// child that is ending.
constexpr auto kLongestLook = std::chrono::microseconds(5000);

void SleepMicros(std::chrono::microseconds us) {
  struct timespec ts = {static_cast<time_t>(us.count() / 1000000), static_cast<long>(us.count() % 1000000) * 1000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// connect() that survives EINTR (the attempt goes on in the kernel, so wait
// for it to finish and take its result) and gives up at the attach time
// limit: a server whose backlog is full, which does not accept, makes the
// connect fail with ETIMEDOUT instead of blocking on.
int ConnectFd(int fd, const struct sockaddr *sa, socklen_t len) {
  const int limit_ms = ipc_attach_limit_ms();
  struct timeval limit = {limit_ms / 1000, (limit_ms % 1000) * 1000};
  const struct timeval none = {0, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  int rc = connect(fd, sa, len);
  int e = errno;
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
  errno = (rc != 0 && (e == EAGAIN || e == EINPROGRESS)) ? ETIMEDOUT : e;
  if (rc == 0) return 0;
  if (errno != EINTR) return -1;
  struct pollfd p = {fd, POLLOUT, 0};
  do {
    rc = poll(&p, 1, limit_ms);
  } while (rc < 0 && errno == EINTR);
  if (rc <= 0) {
    if (rc == 0) errno = ETIMEDOUT;
    return -1;
  }
  int err = 0;
  socklen_t elen = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &elen) != 0) return -1;
  if (err != 0) {
    errno = err;
    return -1;
  }
  return 0;
}

void LogExit(pid_t pid, const char *name, int status) {
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_WARNING,
             "driver %s (pid %d) ended with exit status %d", name, static_cast<int>(pid),
             WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_WARNING,
             "driver %s (pid %d) ended by signal %d", name, static_cast<int>(pid),
             WTERMSIG(status));
  }
}

// A descriptor that becomes readable when process `pid` ends, or -1 where
// the kernel has none (before Linux 5.3, or a pid that is not there).
int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

// Waits up to `ms` for the child; true when it was reaped. The wait is on
// the process itself: it returns as the child ends, not at the next look.
// Without a process descriptor the child is looked at after waits that
// start at 50 µs and double up to 5 ms, so a quick exit is still seen soon.
bool WaitFor(pid_t pid, const char *name, int ms, int *status = nullptr) {
  if (ipc_try_reap_child(pid, name, status)) return true;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  const int pidfd = OpenPidFd(pid);
  auto step = std::chrono::microseconds(50);
  bool reaped = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    if (pidfd >= 0) {
      struct pollfd p = {pidfd, POLLIN, 0};
      poll(&p, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
    } else {
      SleepMicros(std::min(step, left));
      step = std::min(step * 2, kLongestLook);
    }
    // After an interruption, or a poll that ended early, look again.
    if (ipc_try_reap_child(pid, name, status)) {
      reaped = true;
      break;
    }
  }
  if (pidfd >= 0) close(pidfd);
  return reaped;
}

// Environment of a child: the host's, with ZUV set to the environment root
// (the host may have named it with set_zuv only).
std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> env;
  const char *root = get_zuv();
  bool set_root = root != nullptr && *root != '\0';
  for (char **e = environ; e != nullptr && *e != nullptr; ++e) {
    if (set_root && std::strncmp(*e, "ZUV=", 4) == 0) continue;
    env.emplace_back(*e);
  }
  if (set_root) env.push_back(std::string("ZUV=") + root);
  return env;
}

std::vector<char *> PointerList(std::vector<std::string> &strings) {
  std::vector<char *> list;
  list.reserve(strings.size() + 1);
  for (auto &s : strings) list.push_back(s.data());
  list.push_back(nullptr);
  return list;
}

bool ParsePort(const std::string &text, uint16_t *port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

int ipc_parse_tcp_target(const std::string &target, IpcTcpAddr *addr) {
  IpcTcpAddr a;
  std::string port = target;
  size_t colon = target.rfind(':');
  if (colon != std::string::npos) {
    std::string host = target.substr(0, colon);
    port = target.substr(colon + 1);
    if (host == "[::1]") {
      a.ipv6 = true;
    } else if (host != "localhost" && host != "127.0.0.1") {
      errno = EINVAL;
      return -1;
    }
  }
  if (!ParsePort(port, &a.port)) {
    errno = EINVAL;
    return -1;
  }
  *addr = a;
  return 0;
}

int ipc_attach_limit_ms() {
  const char *text = getvar("ZUV_ATTACH_TIMEOUT");
  char *end = nullptr;
  double seconds = text != nullptr && *text != '\0' ? std::strtod(text, &end) : 0;
  if (end == nullptr || *end != '\0' || !(seconds > 0) || seconds > 3600) return 30000;
  const int ms = static_cast<int>(seconds * 1000 + 0.5);
  return ms > 0 ? ms : 1;
}

namespace {

// The host value and the process it was drawn in (HostValue).
std::uint64_t host_value = 0;
pid_t host_value_pid = 0;

// 64 bits from the kernel's random source, never 0. Should the source
// fail (a kernel without getrandom, no /dev/urandom), the time, the
// process id and an address are mixed instead: still another value in
// every process.
std::uint64_t DrawHostValue() {
  std::uint64_t value = 0;
  if (getrandom(&value, sizeof value, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof value)) {
    value = 0;
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0 || read(fd, &value, sizeof value) != static_cast<ssize_t>(sizeof value)) value = 0;
    if (fd >= 0) close(fd);
  }
  if (value == 0) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    value = (static_cast<std::uint64_t>(now.tv_sec) * 1000000007u) ^ static_cast<std::uint64_t>(now.tv_nsec) ^
            (static_cast<std::uint64_t>(getpid()) << 40) ^ reinterpret_cast<std::uintptr_t>(&value);
    value *= 0x9e3779b97f4a7c15u;
  }
  return value != 0 ? value : 1;
}

}  // namespace

std::uint64_t ipc_host_value() {
  // A child process (fork or clone) has another process id, and draws its
  // own value at its first use.
  const pid_t pid = getpid();
  if (host_value == 0 || host_value_pid != pid) {
    host_value = DrawHostValue();
    host_value_pid = pid;
  }
  return host_value;
}

std::string ipc_token_line(const std::string &token) {
  char host[17];
  std::snprintf(host, sizeof host, "%016llx", static_cast<unsigned long long>(ipc_host_value()));
  return token + "\tpid=" + std::to_string(getpid()) + "\thost=" + host;
}

int ipc_server_admission(int fd, const std::string *token, std::string *reason) {
  reason->clear();
  if (token != nullptr) {
    // The process and the host value after tabs: the server takes the
    // connections of one process for one host, as it does over a Unix
    // socket, and those of two processes for two.
    std::string line = (token->empty() ? std::string() : ipc_token_line(*token)) + "\n";
    if (ipc_send_all(fd, line.data(), line.size()) < 0) return -1;
  }
  // The answer line is read byte by byte: what follows it belongs to the
  // requests' replies.
  const int limit_ms = ipc_attach_limit_ms();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  std::string line;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    struct pollfd p = {fd, POLLIN, 0};
    int rc = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count())) : 0;
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return -1;
    if (rc == 0) {
      char text[128];
      std::snprintf(text, sizeof text, "the driver server did not answer within %g s (ZUV_ATTACH_TIMEOUT)",
                    limit_ms / 1000.0);
      *reason = text;
      errno = ETIMEDOUT;
      return -1;
    }
    char c;
    ssize_t n = recv(fd, &c, 1, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0 || line.size() >= kIpcAdmissionMax) {
      *reason = "the driver server closed the connection before it answered the attachment";
      errno = ECONNRESET;
      return -1;
    }
    if (c != '\n') {
      line.push_back(c);
      continue;
    }
    if (line == "ok") return 0;
    static const std::string kRefused = "refused: ";
    *reason = line.rfind(kRefused, 0) == 0 ? line.substr(kRefused.size()) : "unexpected answer \"" + line + "\"";
    errno = EACCES;
    return -1;
  }
}

int ipc_connect_unix(const std::string &path, int *fd) {
  struct sockaddr_un sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof sa.sun_path) {
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_ERROR,
             "socket path \"%s\" is empty or too long", path.c_str());
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(sa.sun_path, path.data(), path.size());
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0 || ConnectFd(s, reinterpret_cast<struct sockaddr *>(&sa), sizeof sa) != 0) {
    int e = errno;
    if (s >= 0) close(s);
    // Nothing listens there: most often no server was started, or one was
    // started on another path.
    std::string hint;
    if (e == ENOENT || e == ECONNREFUSED)
      hint = "; does a driver server listen there (molvane-driver --listen=" + path + ")?";
    else if (e == EACCES)
      hint = "; the socket lets in only its owner (mode 0600) unless the server was started with "
             "--serve-group=GROUP of a group this user is in";
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_ERROR, "cannot connect to driver socket %s: %s%s",
             path.c_str(), std::strerror(e), hint.c_str());
    errno = e;
    return -1;
  }
  *fd = s;
  return 0;
}

int ipc_connect_tcp(const IpcTcpAddr &addr, int *fd) {
  struct sockaddr_storage ss;
  std::memset(&ss, 0, sizeof ss);
  socklen_t len;
  if (addr.ipv6) {
    auto *sa6 = reinterpret_cast<struct sockaddr_in6 *>(&ss);
    sa6->sin6_family = AF_INET6;
    sa6->sin6_port = htons(addr.port);
    sa6->sin6_addr = in6addr_loopback;
    len = sizeof *sa6;
  } else {
    auto *sa4 = reinterpret_cast<struct sockaddr_in *>(&ss);
    sa4->sin_family = AF_INET;
    sa4->sin_port = htons(addr.port);
    sa4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    len = sizeof *sa4;
  }
  int s = socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0 || ConnectFd(s, reinterpret_cast<struct sockaddr *>(&ss), len) != 0) {
    int e = errno;
    if (s >= 0) close(s);
    const unsigned port = addr.port;
    const std::string hint = e == ECONNREFUSED ? "; does a driver server listen on that address "
                                                 "(molvane-driver --listen=tcp:" +
                                                     std::to_string(port) + ")?"
                                               : "";
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_ERROR, "cannot connect to driver port %s%u: %s%s",
             addr.ipv6 ? "[::1]:" : "127.0.0.1:", port, std::strerror(e), hint.c_str());
    errno = e;
    return -1;
  }
  // One request, then its reply: do not hold small writes back.
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  *fd = s;
  return 0;
}

namespace {

// Moves a descriptor the child is to find at a number up to `lowest` above
// that number: dup2 onto the same number would keep close-on-exec and the
// child would lose it. False (errno set) when no descriptor is left.
bool MoveAbove(int *fd, int lowest) {
  if (*fd > lowest) return true;
  int moved = fcntl(*fd, F_DUPFD_CLOEXEC, lowest + 1);
  if (moved < 0) return false;
  close(*fd);
  *fd = moved;
  return true;
}

bool MoveAboveStandard(int *fd) { return MoveAbove(fd, 2); }

}  // namespace

int ipc_spawn_child(const std::string &exe, const std::vector<std::string> &argv, int *in_fd, int *out_fd,
                    pid_t *pid, int *reason_fd) {
  if (access(exe.c_str(), X_OK) != 0) {
    int e = errno;
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_ERROR,
             "driver executable %s cannot be run: %s", exe.c_str(), std::strerror(e));
    errno = e;
    return -1;
  }
  // requests[1] -> child's 0; child's 1 -> replies[0]; child's
  // kIpcReasonFd -> reasons[0].
  int requests[2] = {-1, -1}, replies[2] = {-1, -1}, reasons[2] = {-1, -1};
  auto close_all = [&] {
    int e = errno;
    for (int fd : {requests[0], requests[1], replies[0], replies[1], reasons[0], reasons[1]})
      if (fd >= 0) close(fd);
    errno = e;
  };
  if (pipe2(requests, O_CLOEXEC) != 0 || pipe2(replies, O_CLOEXEC) != 0 ||
      (reason_fd != nullptr && pipe2(reasons, O_CLOEXEC | O_NONBLOCK) != 0)) {
    int e = errno;
    close_all();
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_ERROR, "pipe failed: %s", std::strerror(e));
    errno = e;
    return -1;
  }
  if (!MoveAboveStandard(&requests[0]) || !MoveAboveStandard(&replies[1]) ||
      (reasons[1] >= 0 && !MoveAbove(&reasons[1], kIpcReasonFd))) {
    close_all();
    return -1;
  }

  std::vector<std::string> args = argv;
  std::vector<char *> arg_list = PointerList(args);
  std::vector<std::string> env = ChildEnvironment();
  if (reasons[1] >= 0) env.push_back(std::string(kIpcReasonVariable) + "=" + std::to_string(kIpcReasonFd));
  std::vector<char *> env_list = PointerList(env);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_adddup2(&actions, requests[0], 0);
  posix_spawn_file_actions_adddup2(&actions, replies[1], 1);
  if (reasons[1] >= 0) posix_spawn_file_actions_adddup2(&actions, reasons[1], kIpcReasonFd);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigset_t empty;
  sigemptyset(&empty);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &empty);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t child = -1;
  int rc = posix_spawn(&child, exe.c_str(), &actions, &attr, arg_list.data(), env_list.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(requests[0]);
  close(replies[1]);
  if (reasons[1] >= 0) close(reasons[1]);
  requests[0] = replies[1] = reasons[1] = -1;
  if (rc != 0) {
    close_all();
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_ERROR, "cannot start driver %s: %s",
             exe.c_str(), std::strerror(rc));
    errno = rc;
    return -1;
  }
  *in_fd = replies[0];
  *out_fd = requests[1];
  *pid = child;
  if (reason_fd != nullptr) *reason_fd = reasons[0];
  return 0;
}

std::string ipc_read_reason(int fd) {
  std::string text;
  char buf[256];
  while (fd >= 0 && text.size() < kIpcReasonMax) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  text = text.substr(0, text.find('\n'));
  return text.substr(0, kIpcReasonMax);
}

bool ipc_try_reap_child(pid_t pid, const char *name, int *status) {
  int how = 0;
  pid_t r;
  do {
    r = waitpid(pid, &how, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (status != nullptr) *status = r == pid ? how : -1;
  if (r == pid) {
    LogExit(pid, name, how);
    return true;
  }
  // ECHILD: reaped elsewhere (or SIGCHLD is ignored); nothing left to wait for.
  return r < 0;
}

bool ipc_wait_child(pid_t pid, const char *name, int *status) {
  const int e = errno;
  const bool ended = pid > 0 && WaitFor(pid, name, kGraceMillis, status);
  errno = e;
  return ended;
}

void ipc_reap_child(pid_t pid, const char *name) {
  if (pid <= 0) return;
  int e = errno;
  if (!WaitFor(pid, name, kGraceMillis)) {
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_WARNING,
             "driver %s (pid %d) did not end after its connection closed; terminating it", name,
             static_cast<int>(pid));
    kill(pid, SIGTERM);
    if (!WaitFor(pid, name, kTermMillis)) {
      kill(pid, SIGKILL);
      int status;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
  }
  errno = e;
}

// write() to a descriptor that is not a socket (a pipe) with SIGPIPE held
// back: a signal this write raises is taken off the pending set, so a gone
// reader gives EPIPE and nothing else.
static ssize_t WriteHoldingSigpipe(int fd, const void *bytes, size_t count) {
  sigset_t pipe_only, old_mask, pending;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &old_mask);
  // Only a SIGPIPE the thread held back already can be pending: one it did
  // not hold back would have been taken. That one is left for the host.
  bool was_pending = false;
  if (sigismember(&old_mask, SIGPIPE) == 1) {
    sigpending(&pending);
    was_pending = sigismember(&pending, SIGPIPE) == 1;
  }
  ssize_t n = write(fd, bytes, count);
  int e = errno;
  // A reader that goes while the write waits for room leaves it stored in
  // part, and that raises SIGPIPE too.
  const bool short_write = n < 0 ? e == EPIPE : static_cast<size_t>(n) < count;
  if (short_write && !was_pending) {
    struct timespec zero = {0, 0};
    while (sigtimedwait(&pipe_only, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  errno = e;
  return n;
}

ssize_t ipc_send_all(int fd, const void *bytes, size_t count, bool socket) {
  const char *p = static_cast<const char *>(bytes);
  size_t left = count;
  while (left > 0) {
    ssize_t n = socket ? send(fd, p, left, MSG_NOSIGNAL) : WriteHoldingSigpipe(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == ENOTSOCK && socket) {
        socket = false;
        continue;
      }
      return -1;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(count);
}

int ipc_runnable_tasks(const char *loadavg) {
  // "0.52 0.58 0.59 3/467 12345": the fourth field is running/total.
  const char *p = loadavg;
  for (int field = 0; field < 3; ++field) {
    p = std::strchr(p, ' ');
    if (p == nullptr) return -1;
    ++p;
  }
  if (*p < '0' || *p > '9') return -1;
  char *end = nullptr;
  long running = std::strtol(p, &end, 10);
  return *end == '/' && running <= INT_MAX ? static_cast<int>(running) : -1;
}

namespace {

using Clock = std::chrono::steady_clock;

// How long a reader watches for input before it sleeps: long enough for a
// driver's answer to a keyed read, short enough that a long wait costs
// little processor time beside it.
constexpr auto kAwaitWatch = std::chrono::microseconds(50);
// A gap this long between two looks at the descriptors means the watcher
// lost its processor to another task meanwhile. One look takes about a
// microsecond, but interrupts and a virtual machine's exits to its host
// make gaps of 20-100 µs on an idle machine, several a second; a task that
// takes the processor away keeps it for a turn of 0.75 ms or more.
constexpr auto kLostProcessor = std::chrono::microseconds(200);
// How long a finding that the machine is crowded (or not) holds.
constexpr auto kCrowdCheck = std::chrono::milliseconds(10);
// After this many watches in a row that saw nothing come, only every
// kProbeEvery-th wait watches, until one sees input again.
constexpr int kMissesToPause = 4;
constexpr unsigned kProbeEvery = 16;

bool WatchingPays() {
  static const bool pays = [] {
    cpu_set_t cpus;
    return sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 1;
  }();
  return pays;
}

// Whether more tasks are ready to run than the machine has processors. A
// watcher then keeps one of them from running, often its own peer, and
// loses its processor in the middle of a watch: the input it waits for
// comes while it waits for its turn, milliseconds later, where a sleeper
// would have been woken at once. False when the count cannot be read.
bool Crowded() {
  static const long processors = sysconf(_SC_NPROCESSORS_ONLN);
  int fd = open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[128];
  ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0) return false;
  text[n] = '\0';
  return ipc_runnable_tasks(text) > processors;
}

// What one thread's watches have found, to decide whether the next pays.
struct Watcher {
  Clock::time_point next_check;  // when to look at the machine's load again
  bool crowded = false;          // more tasks ready to run than processors
  int misses = 0;                // watches in a row that saw no input come
  unsigned skipped = 0;          // waits without a watch since the misses
};
thread_local Watcher watcher;

}  // namespace

bool ipc_watch_pays() {
  if (!WatchingPays()) return false;
  Watcher &w = watcher;
  const auto now = Clock::now();
  if (now >= w.next_check) {
    w.crowded = Crowded();
    w.next_check = now + kCrowdCheck;
  }
  return !w.crowded;
}

int ipc_await_input(struct pollfd *fds, size_t count, const sigset_t *sigmask) {
  // Without a watch nothing is looked at: the caller's blocking wait that
  // follows finds input that is there already, and a busy machine, where
  // the watch is off, is where a system call more costs most.
  if (!ipc_watch_pays()) return 0;
  Watcher &w = watcher;
  const auto start = Clock::now();
  if (w.misses >= kMissesToPause && ++w.skipped % kProbeEvery != 0) return 0;
  const struct timespec now = {0, 0};
  const auto deadline = start + kAwaitWatch;
  auto last = start;
  for (;;) {
    const int ready = ppoll(fds, count, &now, sigmask);
    if (ready != 0) {
      if (ready > 0) w.misses = 0;
      return ready;
    }
    const auto t = Clock::now();
    if (t - last > kLostProcessor) {
      w.crowded = true;
      w.next_check = t + kCrowdCheck;
      return 0;
    }
    if (t >= deadline) {
      ++w.misses;
      return 0;
    }
    last = t;
  }
}

bool ipc_await_input(int fd) {
  struct pollfd p = {fd, POLLIN, 0};
  return ipc_await_input(&p, 1, nullptr) > 0;
}

ssize_t ipc_recv_some(int fd, void *buf, size_t size, bool socket) {
  ipc_await_input(fd);
  for (;;) {
    ssize_t n = socket ? recv(fd, buf, size, 0) : read(fd, buf, size);
    if (n < 0 && errno == ENOTSOCK) n = read(fd, buf, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

}  // namespace molvane::ipc
