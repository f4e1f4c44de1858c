// The log lines that a peer's requests can cause again and again (a
// malformed request, a packet passed over, a connection ended for a
// bound). A peer that connects again and again to send such requests must
// not fill the log: each kind of line (its format) is logged at most
// kPeerLinesPerMinute times a minute in the whole process, and the first
// line of a kind logged in a new minute says how many the minute before
// left out.
#pragma once

namespace molvane::driver {

inline constexpr int kPeerLinesPerMinute = 10;

// log_mesg under that limit; the module is "driver". Thread-safe.
void LogFromPeer(const char *file, int line, int flags, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace molvane::driver
