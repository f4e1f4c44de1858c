// The driver's options among its arguments (driver_options.h): each is
// checked against its bound; one that is unknown or malformed is logged and
// listed as refused, the rest apply.
#include "protocol/driver_options.h"

#include <cstdlib>

#include "common/driver_log.h"

namespace molvane::driver {

namespace {

bool ParseNumber(const std::string &text, unsigned long max, unsigned long *value) {
  if (text.empty()) return false;
  char *end = nullptr;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (*end != '\0' || v > max) return false;
  *value = v;
  return true;
}

}  // namespace

DriverOptions DriverOptions::FromArgs(const std::vector<std::string> &args) {
  DriverOptions options;
  for (const std::string &arg : args) {
    if (arg.rfind("--", 0) != 0) {
      if (options.database.empty()) options.database = arg;
      continue;
    }
    std::size_t eq = arg.find('=');
    std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    std::string text = eq == std::string::npos ? "" : arg.substr(eq + 1);
    unsigned long v = 0;
    bool ok = false;
    if (name == "sessions" && (ok = ParseNumber(text, 0xFFFF, &v)) && v > 0)
      options.sessions = static_cast<std::uint32_t>(v);
    else if (name == "sql-protocol" && (ok = ParseNumber(text, 0xFFFFFFFF, &v)))
      options.sql_protocol = static_cast<std::uint32_t>(v);
    else if (name == "tss-mode" && (ok = ParseNumber(text, 2, &v)) && v >= 1)
      options.tss_mode = static_cast<int>(v);
    else if (name == "sql-agent-forget-dds" && text.empty())
      ok = options.agent_forget_dds = true;
    else if (name == "idle-limit" && (ok = ParseNumber(text, 255, &v)))
      options.idle_limit = static_cast<std::uint8_t>(v);
    else if (name == "audit-list" && eq == std::string::npos)
      ok = options.audit_list = true;
    else if (name == "max-pages" && (ok = ParseNumber(text, 0x7FFFFFFF, &v)))
      options.max_pages = static_cast<std::uint32_t>(v);
    else if (name == "max-connections" && (ok = ParseNumber(text, 1000000, &v)) && v > 0)
      options.max_connections = static_cast<std::uint32_t>(v);
    else if (name == "max-buffered-mib" && (ok = ParseNumber(text, 1u << 20, &v)) && v > 0)
      options.max_buffered = static_cast<std::size_t>(v) << 20;
    else if (name == "idle-transaction-limit" && (ok = ParseNumber(text, 0x7FFFFFFF, &v)) && v > 0)
      options.idle_transaction_limit = static_cast<int>(v);
    else if (name == "open-result-limit" && (ok = ParseNumber(text, 0x7FFFFFFF, &v)) && v > 0)
      options.open_result_limit = static_cast<int>(v);
    else if (name == "wal-spill-mib" && (ok = ParseNumber(text, 1u << 20, &v)) && v > 0)
      options.wal_spill = static_cast<std::int64_t>(v) << 20;
    else if (name == "lock-wait-ms" && (ok = ParseNumber(text, 60000, &v)))
      options.lock_wait_ms = static_cast<int>(v);
    else
      ok = false;
    if (!ok) {
      DriverLog(__FILE__, __LINE__, 0x80, "option '%s' ignored", arg.c_str());
      options.refused.push_back(arg);
    }
  }
  return options;
}

}  // namespace molvane::driver
