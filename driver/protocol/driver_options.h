// Settings of a driver connection taken from the driver's arguments: the
// first argument that is not an option names the database file; options
// "--name=value" set what the driver reports when it is attached, so that
// an installation can offer fewer sessions, and tests can play a driver of
// another protocol or TSS mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace molvane::driver {

struct DriverOptions {
  std::string database;             // first non-option argument, "" when none
  std::uint32_t sessions = 32;      // --sessions=N: sessions allowed per connection
  std::uint32_t sql_protocol = 6;   // --sql-protocol=N: the protocol reported
  int tss_mode = 0;                 // --tss-mode=1|2: the mode reported (0: the process's)
  std::uint8_t idle_limit = 3;      // --idle-limit=N
  bool agent_forget_dds = false;    // --sql-agent-forget-dds: the SQL agent asks for every dictionary
  // --audit-list: a commit reply lists the tables that the transaction
  // changed, as an audit driver's does.
  bool audit_list = false;
  // --max-pages=N: the database file grows to at most N pages (SQLite's
  // max_page_count on every session's connection); a write beyond is
  // refused as a full disk. 0: no cap.
  std::uint32_t max_pages = 0;
  // A driver server's bounds: --max-connections=N client connections at
  // once (more are closed as they arrive), and --max-buffered-mib=N MiB of
  // request bytes held for all connections together (a connection whose
  // request would pass it is ended).
  std::uint32_t max_connections = 1000;
  std::size_t max_buffered = std::size_t{256} << 20;
  // --idle-transaction-limit=SECONDS (a driver server): a write
  // transaction whose client sent no request for longer is rolled back.
  int idle_transaction_limit = 60;
  // --open-result-limit=SECONDS (a driver server): an SQL result open for
  // longer reads its rest into a temporary file and releases its snapshot.
  int open_result_limit = 30;
  // --wal-spill-mib=N (a driver server): while the WAL is larger than N
  // MiB, every open SQL result moves its rest to a temporary file, however
  // young, so that the WAL can be reused.
  std::int64_t wal_spill = std::int64_t{64} << 20;
  // --lock-wait-ms=N (a driver server): a locked read of a row that another
  // host's session holds waits up to N ms for it, longer while the row
  // passes from host to host; 0 refuses it at once.
  int lock_wait_ms = 500;

  // The options that were unknown or malformed, as given.
  std::vector<std::string> refused;

  // Parses the arguments; an unknown or malformed option is logged, kept in
  // `refused` and otherwise ignored (the executable refuses to start).
  static DriverOptions FromArgs(const std::vector<std::string> &args);
};

// Fault injection of the driver executable, for tests of what a host does
// when its driver dies: "--die-at-request=N" ends the process (status 3)
// once it has handled its Nth request, before the reply leaves, and with
// "--cut-reply" it first sends the first half of that reply. The client
// sends a request and waits for its reply, so requests are counted as the
// reads that complete one. The options are taken out of the arguments
// before the connection sees them.
struct DriverFaults {
  std::uint32_t die_at_request = 0;  // 0: never
  bool cut_reply = false;

  static DriverFaults Take(std::vector<std::string> &args) {
    DriverFaults faults;
    static const std::string kDie = "--die-at-request=";
    for (auto it = args.begin(); it != args.end();) {
      if (it->rfind(kDie, 0) == 0) {
        const char *number = it->c_str() + kDie.size();
        faults.die_at_request = static_cast<std::uint32_t>(std::strtoul(number, nullptr, 10));
      } else if (*it == "--cut-reply") {
        faults.cut_reply = true;
      } else {
        ++it;
        continue;
      }
      it = args.erase(it);
    }
    return faults;
  }
};

}  // namespace molvane::driver
