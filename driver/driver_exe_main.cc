// molvane-driver: the reference driver as a child process. It reads
// requests from descriptor 0 and writes replies to descriptor 1 (the
// client's pipes, or both ends of one socket), and ends at the end of its
// input or after a request that breaks the protocol (or at an injected
// fault, driver_options.h).
// With "--listen=PATH" or "--listen=tcp:PORT" it is a driver server instead
// (driver_server.h).
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "store/driver_check.h"
#include "locks/driver_claim.h"
#include "protocol/driver_conn.h"
#include "server/driver_peer.h"
#include "server/driver_server.h"
#include "protocol/driver_options.h"
#include "ipc/ipc_transport.h"
#include "platform/log.h"
#include "text/tss.h"

#include <molvane/version.h>

namespace {

// A driver answers requests, and on a busy machine a host waits less for
// the driver's processor time than for its turn: the scheduler's turns are
// a few milliseconds, and a woken task whose turn is as long as that of the
// task running mostly waits for it. A turn of 100 µs (the shortest the
// kernel gives) lets a woken driver run first, for the same share of
// processor time. Threads a server starts later take the same turns. The
// policy and nice value it was started with stay; a driver started under
// another policy than the usual one, or on a kernel without turns of a
// task's own (which ignores the length), is left as it is.
void AskForShortTurns() {
  struct {  // the kernel's sched_attr, which the C library does not declare
    std::uint32_t size, sched_policy;
    std::uint64_t sched_flags;
    std::int32_t sched_nice;
    std::uint32_t sched_priority;
    std::uint64_t sched_runtime, sched_deadline, sched_period;
  } attr{};
  constexpr std::uint64_t kResetOnFork = 1;
  if (syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0 || attr.sched_policy != SCHED_OTHER) return;
  attr.size = sizeof attr;
  attr.sched_flags &= kResetOnFork;
  attr.sched_runtime = 100'000;  // nanoseconds
  syscall(SYS_sched_setattr, 0, &attr, 0);
}

bool WriteAll(int fd, const unsigned char *p, std::size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

// Whether the host's end of the replies is gone (a host that died or
// closed its pipe): nobody reads what a running statement would answer.
// Looked at every 100 ms at most, from the pulse of a stepping statement.
class HostWatch {
 public:
  bool Gone() {
    if (gone_ || (++pulses_ & 15) != 0) return gone_;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_) return false;
    next_ = now + std::chrono::milliseconds(100);
    pollfd p{1, 0, 0};
    gone_ = poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    return gone_;
  }
  bool gone() const { return gone_; }

 private:
  unsigned pulses_ = 0;
  std::chrono::steady_clock::time_point next_{};
  bool gone_ = false;
};

// What a user who ran the driver by hand without what it needs is shown.
const char kSynopsis[] =
    "usage: molvane-driver [OPTION...] [DATABASE]\n"
    "       molvane-driver --listen=PATH|tcp:PORT DATABASE [OPTION...]\n"
    "       molvane-driver --check DATABASE\n";

const char kUsage[] =
    "usage: molvane-driver [OPTION...] [DATABASE]\n"
    "       molvane-driver --listen=PATH|tcp:PORT DATABASE [OPTION...]\n"
    "The reference driver of molvane over SQLite. The library starts it as a child\n"
    "process (lib/ipc_info under the environment root says how) and speaks the\n"
    "driver protocol with it over descriptors 0 and 1. With --listen it runs as a\n"
    "server that many hosts share, on a Unix socket at PATH or on port PORT of\n"
    "127.0.0.1 (hosts reach it with a unix or tcp line in lib/ipc_info); SIGTERM\n"
    "stops it.\n"
    "DATABASE is the SQLite file (default: the one the client names, else a file of\n"
    "the driver's own in TMPDIR (else /tmp), removed when the driver ends).\n"
    "A table is created in it on its first use.\n"
    "  --sessions=N            sessions allowed per connection (32)\n"
    "  --sql-protocol=N        the SQL protocol reported (6)\n"
    "  --tss-mode=1|2          the TSS mode the driver collates texts in and reports\n"
    "                          (default: TSS_MODE of its environment, else 1)\n"
    "  --idle-limit=N          the idle limit reported (3)\n"
    "  --audit-list            a commit reply lists the tables the transaction changed\n"
    "  --max-pages=N           the file grows to at most N SQLite pages (then 701)\n"
    "  --max-connections=N     a server's admitted connections at once (1000); TCP\n"
    "                          connections not admitted yet (no token sent) have\n"
    "                          a budget of their own: N/8, 8 to 64, 2 s each\n"
    "  --max-buffered-mib=N    request bytes a server holds for all connections (256 MiB)\n"
    "  --idle-transaction-limit=SECONDS   with --listen: a write transaction whose\n"
    "                          client sent nothing for longer after its last answer\n"
    "                          is rolled back (60; ten times that while the client\n"
    "                          leaves its answer unread)\n"
    "  --open-result-limit=SECONDS   with --listen: an SQL result open for longer\n"
    "                          moves its rest to a temporary file in TMPDIR (else\n"
    "                          /tmp) (30)\n"
    "  --wal-spill-mib=N       with --listen: while the WAL is larger than N MiB,\n"
    "                          every open SQL result moves its rest there (64)\n"
    "  --lock-wait-ms=N        with --listen: a locked read of a row another host\n"
    "                          holds waits up to N ms for it, longer while the row\n"
    "                          passes from host to host; 0 refuses it at once (500)\n"
    "  --sql-agent-forget-dds  the SQL agent asks for every dictionary (tests)\n"
    "  --version               the version of molvane\n"
    "  --help                  this text\n"
    "Server options (with --listen):\n"
    "  --serve-group=GROUP     a Unix socket serves the members of GROUP too (the\n"
    "                          socket becomes 0660 of GROUP); without it only the\n"
    "                          owner of the database file and root are served\n"
    "  --secret-file=FILE      a TCP server takes its token from FILE (a regular\n"
    "                          file others may not read); without it the server writes a new\n"
    "                          token into DATABASE.secret (0600) at each start.\n"
    "                          Every TCP connection presents the token first (hosts\n"
    "                          name the file on their tcp line in lib/ipc_info);\n"
    "                          whoever holds it is a super user of the database\n"
    "       molvane-driver --check DATABASE\n"
    "Runs SQLite's integrity check on DATABASE with the driver's collations (which\n"
    "a plain SQLite shell lacks) and prints the TSS modes the file serves; ends with\n"
    "0 when the file is sound, 1 when the check finds a fault, 2 when it cannot run.\n"
    "driver/README.md describes the driver.\n";

// The descriptor on which the host of a child driver reads why it did not
// start (ipc_spawn_child), or -1. The variable is removed, so that nothing
// the driver starts takes it for its own.
int TakeReasonDescriptor() {
  const char *text = std::getenv(molvane::ipc::kIpcReasonVariable);
  if (text == nullptr) return -1;
  const int fd = std::to_string(molvane::ipc::kIpcReasonFd) == text ? molvane::ipc::kIpcReasonFd : -1;
  unsetenv(molvane::ipc::kIpcReasonVariable);
  if (fd < 0 || fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return -1;
  return fd;
}

}  // namespace

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("molvane-driver (%s)\n", get_molvane_version());
      return 0;
    }
  }
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (args.size() == 2 && args[0] == "--check") return molvane::driver::CheckDatabase(args[1], stdout, stderr);
  // A child driver's host gave it a descriptor for why it refuses to start,
  // which the host puts in its message: the host's standard error is the
  // program's own. Run by hand, the refusal goes to standard error with
  // the synopsis.
  const int reason_fd = TakeReasonDescriptor();
  // A host may start its driver without arguments (its database then comes
  // with the driver specification); run by hand without any, the driver
  // would wait for requests on the terminal.
  if (args.empty() && reason_fd < 0) {
    std::fputs("molvane-driver: no arguments: a host starts this driver as its child (lib/ipc_info), or it "
               "serves hosts with --listen (molvane-driver --help describes the options)\n",
               stderr);
    std::fputs(kSynopsis, stderr);
    return 2;
  }
  log_set_progname("molvane-driver", nullptr);
  // Every option is parsed once, here: a misspelt one would otherwise turn
  // a server into a child driver waiting on standard input, so every option
  // must be known. The first "--listen=" makes a server (a second one is
  // refused as unknown).
  static const std::string kListen = "--listen=";
  std::string listen;
  auto listen_arg = std::find_if(args.begin(), args.end(),
                                 [](const std::string &arg) { return arg.rfind(kListen, 0) == 0; });
  const bool server = listen_arg != args.end();
  if (server) {
    listen = listen_arg->substr(kListen.size());
    args.erase(listen_arg);
  }
  const auto faults = molvane::driver::DriverFaults::Take(args);
  molvane::driver::PeerPolicy policy;
  if (server) policy.TakeOptions(args);  // a server's access options
  al_disable_log_mesg();  // the refusal below says it, not an "ignored" warning
  const molvane::driver::DriverOptions options = molvane::driver::DriverOptions::FromArgs(args);
  al_enable_log_mesg();
  if (!options.refused.empty()) {
    const std::string line = "molvane-driver: unknown or malformed option '" + options.refused[0] +
                             "' (molvane-driver --help lists the options)\n";
    const auto *bytes = reinterpret_cast<const unsigned char *>(line.data());
    if (reason_fd < 0 || !WriteAll(reason_fd, bytes, line.size())) {
      std::fputs(line.c_str(), stderr);
      if (reason_fd < 0) std::fputs(kSynopsis, stderr);
    }
    return 2;
  }
  if (reason_fd >= 0) close(reason_fd);
  // A server without a socket or a database file is a mistake of the
  // command line: said with the synopsis, as a misspelt option is.
  if (std::string error; server && !molvane::driver::CheckServerArguments(listen, options, &error)) {
    std::fprintf(stderr, "molvane-driver: %s\n", error.c_str());
    std::fputs(kSynopsis, stderr);
    return 2;
  }
  // The mode set here is the one every text comparison of the process uses,
  // the collations of its SQL and the mode reported to clients alike.
  if (options.tss_mode != 0) {
    setenv("TSS_MODE", std::to_string(options.tss_mode).c_str(), 1);
    TssReloadSettings();
  }
  AskForShortTurns();
  if (server) return molvane::driver::RunDriverServer(listen, options, std::move(policy));
  // A child driver shares its database file with its host's other drivers.
  molvane::driver::DatabaseClaim::SetHost(static_cast<long>(getppid()));
  molvane::driver::DriverConnection conn(options, nullptr);
  // A statement of a host that is gone is interrupted, and the driver ends
  // (its transaction rolled back) instead of running it to its end.
  HostWatch host;
  conn.agent().SetPulse([&host] { return host.Gone(); });
  std::vector<unsigned char> buf(1 << 16);
  std::uint32_t requests = 0;
  for (;;) {
    molvane::ipc::ipc_await_input(0);
    ssize_t n = read(0, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0 ? 0 : 1;
    conn.Feed(buf.data(), static_cast<std::size_t>(n));
    bool alive = conn.Process();
    if (host.gone()) return 1;
    if (conn.has_reply() && ++requests == faults.die_at_request) {
      log_mesg(__FILE__, __LINE__, "driver", 0x80, "dies at request %u as asked", requests);
      if (faults.cut_reply) {
        std::size_t got = conn.TakeReply(buf.data(), buf.size());
        WriteAll(1, buf.data(), (got + 1) / 2);
      }
      _exit(3);
    }
    while (conn.has_reply()) {
      std::size_t got = conn.TakeReply(buf.data(), buf.size());
      if (!WriteAll(1, buf.data(), got)) return 1;
    }
    if (!alive) return 1;
    // The client now decodes the rows it got; the next ones are read
    // meanwhile instead of after its next fetch arrives.
    conn.agent().ReadAhead();
  }
}
