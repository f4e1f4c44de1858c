// The driver's log lines: escaped, and those of a peer's making limited
// (driver_log.h).
#include "common/driver_log.h"

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "platform/log.h"
#include "text/tss_char.h"

namespace molvane::driver {

namespace {

struct Minute {
  std::chrono::steady_clock::time_point start;
  int logged = 0;
  std::uint64_t skipped = 0;
};

void AppendHex(std::string &out, unsigned char byte) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0xF];
}

std::string Format(const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n < 0) return format;
  std::string text(static_cast<std::size_t>(n), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

}  // namespace

std::string LogEscaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  for (std::size_t at = 0; at < text.size();) {
    const unsigned char byte = p[at];
    if (byte >= 0x80) {
      std::size_t length = 0;
      const std::int32_t code = Utf8DecodeChar(p + at, text.size() - at, length);
      if (code <= 0x9F) {  // no character (-1), or a control character of U+0080 to U+009F
        const std::size_t bytes = code < 0 ? 1 : length;
        for (std::size_t i = 0; i < bytes; ++i) AppendHex(out, p[at + i]);
        at += bytes;
      } else {
        out.append(text.substr(at, length));
        at += length;
      }
      continue;
    }
    ++at;
    switch (byte) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F)
          AppendHex(out, byte);
        else
          out += static_cast<char>(byte);
    }
  }
  return out;
}

void DriverLog(const char *file, int line, int flags, const char *format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = Format(format, args);
  va_end(args);
  log_mesg(file, line, "driver", flags, "%s", LogEscaped(text).c_str());
}

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
  va_list args;
  va_start(args, format);
  const std::string text = LogEscaped(Format(format, args));
  va_end(args);
  if (left_out == 0)
    log_mesg(file, line, "driver", flags, "%s", text.c_str());
  else
    log_mesg(file, line, "driver", flags, "%s (%llu more such lines were not logged in the minute before)",
             text.c_str(), static_cast<unsigned long long>(left_out));
}

}  // namespace molvane::driver
