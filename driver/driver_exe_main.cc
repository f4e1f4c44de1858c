// molvane-driver: the reference driver as a child process. It reads
// requests from descriptor 0 and writes replies to descriptor 1 (both ends
// of the client's socket), and ends at the end of its input or after a
// request that breaks the protocol (or at an injected fault, driver_options.h).
// With "--listen=PATH" or "--listen=tcp:PORT" it is a driver server instead
// (driver_server.h).
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver_claim.h"
#include "driver_conn.h"
#include "driver_server.h"
#include "ipc/ipc_transport.h"
#include "platform/log.h"

namespace {

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

const char kUsage[] =
    "usage: molvane-driver [OPTION...] [DATABASE]\n"
    "       molvane-driver --listen=PATH|tcp:PORT DATABASE [OPTION...]\n"
    "The reference driver of molvane over SQLite. The library starts it as a child\n"
    "process (lib/ipc_info under the environment root says how) and speaks the\n"
    "driver protocol with it over descriptors 0 and 1. With --listen it runs as a\n"
    "server that many hosts share, on a Unix socket at PATH or on port PORT of\n"
    "127.0.0.1 (hosts reach it with a unix or tcp line in lib/ipc_info); SIGTERM\n"
    "stops it.\n"
    "DATABASE is the SQLite file (default: the one the client names, else in memory).\n"
    "A table is created in it on its first use.\n"
    "  --sessions=N            sessions allowed per connection (32)\n"
    "  --sql-protocol=N        the SQL protocol reported (6)\n"
    "  --tss-mode=1|2          the TSS mode reported (the process's own)\n"
    "  --idle-limit=N          the idle limit reported (3)\n"
    "  --audit-list            a commit reply lists the tables the transaction changed\n"
    "  --max-pages=N           the file grows to at most N SQLite pages (then 701)\n"
    "  --idle-transaction-limit=SECONDS   with --listen: a write transaction whose\n"
    "                          client sent nothing for longer is rolled back (60)\n"
    "  --open-result-limit=SECONDS   with --listen: an SQL result open for longer\n"
    "                          moves its rest to a temporary file (30)\n"
    "  --sql-agent-forget-dds  the SQL agent asks for every dictionary (tests)\n"
    "  --die-at-request=N, --cut-reply   end at request N (fault tests)\n"
    "  --help                  this text\n"
    "driver/README.md describes the driver.\n";

}  // namespace

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  log_set_progname("molvane-driver", nullptr);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  static const std::string kListen = "--listen=";
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (it->rfind(kListen, 0) != 0) continue;
    std::string listen = it->substr(kListen.size());
    args.erase(it);
    return molvane::driver::RunDriverServer(listen, args);
  }
  // A child driver shares its database file with its host's other drivers.
  molvane::driver::DatabaseClaim::SetHost(static_cast<long>(getppid()));
  const auto faults = molvane::driver::DriverFaults::Take(args);
  molvane::driver::DriverConnection conn(args);
  std::vector<unsigned char> buf(1 << 16);
  std::uint32_t requests = 0;
  for (;;) {
    molvane::ipc::ipc_await_input(0);
    ssize_t n = read(0, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0 ? 0 : 1;
    conn.Feed(buf.data(), static_cast<std::size_t>(n));
    bool alive = conn.Process();
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
