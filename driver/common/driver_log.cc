// The limit on log lines of a peer's making (driver_log.h).
#include "common/driver_log.h"

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "platform/log.h"

namespace molvane::driver {

namespace {

struct Minute {
  std::chrono::steady_clock::time_point start;
  int logged = 0;
  std::uint64_t skipped = 0;
};

}  // namespace

void LogFromPeer(const char *file, int line, int flags, const char *format, ...) {
  static std::mutex mu;
  static std::map<const char *, Minute> kinds;  // by format: the literals of the callers
  std::uint64_t left_out = 0;
  {
    std::lock_guard<std::mutex> lock(mu);
    Minute &m = kinds[format];
    const auto now = std::chrono::steady_clock::now();
    if (m.logged == 0 || now - m.start >= std::chrono::minutes(1)) {
      m.start = now;
      m.logged = 0;
      left_out = m.skipped;
      m.skipped = 0;
    }
    if (m.logged == kPeerLinesPerMinute) {
      ++m.skipped;
      return;
    }
    ++m.logged;
  }
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (left_out == 0)
    log_mesg(file, line, "driver", flags, "%s", text);
  else
    log_mesg(file, line, "driver", flags, "%s (%llu more such lines were not logged in the minute before)", text,
             static_cast<unsigned long long>(left_out));
}

}  // namespace molvane::driver
