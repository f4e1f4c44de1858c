// molvane-driver: the reference driver as a child process. It reads
// requests from descriptor 0 and writes replies to descriptor 1 (both ends
// of the client's socket), and ends at the end of its input or after a
// request that breaks the protocol (or at an injected fault, driver_options.h).
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "driver_conn.h"
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

}  // namespace

int main(int argc, char **argv) {
  log_set_progname("molvane-driver", nullptr);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const auto faults = molvane::driver::DriverFaults::Take(args);
  molvane::driver::DriverConnection conn(args);
  std::vector<unsigned char> buf(1 << 16);
  std::uint32_t requests = 0;
  for (;;) {
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
