// The driver's log lines. The lines of the driver go through DriverLog or
// LogFromPeer, which write its text escaped (LogEscaped): the bytes a
// peer chose (table, column and session names, statements, SQLite's texts
// that quote them) can neither end a line and forge the next one nor reach
// a terminal as control characters.
//
// The lines that a peer's requests can cause again and again (a malformed
// request, a packet passed over, a connection ended for a bound) go through
// LogFromPeer: a peer that connects again and again to send such requests
// must not fill the log: each kind of line (its format) is logged at most
// kPeerLinesPerMinute times a minute in the whole process, and the first
// line of a kind logged in a new minute says how many the minute before
// left out.
#pragma once

#include <string>
#include <string_view>

namespace molvane::driver {

inline constexpr int kPeerLinesPerMinute = 10;

// The text with every byte that is not printable as it is written as an
// escape: a backslash as "\\", newline, carriage return and tab as "\n",
// "\r" and "\t", and as "\xHH" every other control character (below 0x20,
// 0x7F, and U+0080 to U+009F in UTF-8) and every byte that is not part of
// well-formed UTF-8. Other UTF-8 characters stay as they are.
std::string LogEscaped(std::string_view text);

// log_mesg with the module "driver", the formatted text escaped. Thread-safe
// as log_mesg is.
void DriverLog(const char *file, int line, int flags, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

// DriverLog under the limit above. Thread-safe.
void LogFromPeer(const char *file, int line, int flags, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace molvane::driver
