// The audit host of each company, from lib/audit_hosts.
//
// Each line holds company numbers (comma-separated, or "*" for the default)
// a colon and a host name. The file is read once per process; a malformed
// file gives no hosts at all and every lookup fails.
#include <array>
#include <cerrno>
#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "dbc/tabledef/tabledef.h"
#include "ipc/stream.h"
#include "platform/env.h"
#include "platform/log.h"

namespace {

constexpr const char *kKeyword = "Reading audit_hosts file";
constexpr int kLineMax = 255;

struct AuditHosts {
  bool loaded = false;
  bool malformed = false;
  std::array<std::string, 1000> host;
  std::string default_host;
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool Assign(std::string *slot, const std::string &host, int compnr) {
  if (!slot->empty() && *slot != host) {
    log_mesg(__FILE__, __LINE__, kKeyword, 0, "Conflicting hostnames for compnr %03d (%s and %s)",
             compnr, slot->c_str(), host.c_str());
    return false;
  }
  *slot = host;
  return true;
}

bool ParseLine(std::string_view line, AuditHosts *hosts) {
  line = Trim(line);
  if (line.empty() || line.front() == '#') return true;
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) {
    log_mesg(__FILE__, __LINE__, kKeyword, 0, "Colon missing; format must be <compnrs>:<hostname>");
    return false;
  }
  std::string host(Trim(line.substr(colon + 1)));
  std::string_view list = line.substr(0, colon);
  while (!list.empty()) {
    size_t comma = list.find(',');
    std::string_view item = Trim(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    if (item == "*") {
      if (!Assign(&hosts->default_host, host, -1)) return false;
      continue;
    }
    int compnr = 0;
    if (item.empty() || item.size() > 3) compnr = -1;
    for (char c : item) {
      if (!std::isdigit(static_cast<unsigned char>(c))) compnr = -1;
      if (compnr >= 0) compnr = compnr * 10 + (c - '0');
    }
    if (compnr < 0 || compnr > 999) {
      log_mesg(__FILE__, __LINE__, kKeyword, 0, "Invalid company number '%.*s'",
               static_cast<int>(item.size()), item.data());
      return false;
    }
    if (!Assign(&hosts->host[compnr], host, compnr)) return false;
  }
  return true;
}

// Reads the file into `hosts`; false when memory ran out (the hosts are then
// half read).
bool Read(AuditHosts *hosts) {
  StreamPtr stream(open_zuv_file("lib/audit_hosts%s", ""));
  if (stream == nullptr) return errno != ENOMEM;  // no file: no audit hosts
  char line[kLineMax + 1];
  for (;;) {
    if (sgets(line, sizeof line, stream.get()) == nullptr) {
      if (stream_error(stream.get()) && stream->err_no == ENOMEM) return false;
      // An overlong line (logged by sgets) makes the file malformed.
      if (stream_error(stream.get())) hosts->malformed = true;
      break;
    }
    try {
      if (!ParseLine(line, hosts)) {
        hosts->malformed = true;
        break;
      }
    } catch (const std::bad_alloc &) {
      return false;
    }
  }
  return true;
}

// The hosts, read on first use. Memory that runs out while they are read
// fails the call with 501 (std::bad_alloc) and leaves them to be read again:
// hosts half read would send a company's audit rows to the wrong host for
// the rest of the process.
AuditHosts &Loaded() {
  static AuditHosts *hosts = new AuditHosts;
  if (hosts->loaded) return *hosts;
  const bool read = Read(hosts);
  if (!read || hosts->malformed) {
    hosts->host.fill(std::string());
    hosts->default_host.clear();
  }
  if (!read) {
    hosts->malformed = false;
    throw std::bad_alloc();
  }
  hosts->loaded = true;
  return *hosts;
}

}  // namespace

int auditcols_get_audit_host(int compnr, char *host, int host_size) {
  if (host_size <= 0) return -1;
  host[0] = '\0';
  AuditHosts &hosts = Loaded();
  if (hosts.malformed) return -1;
  const std::string &found =
      compnr >= 0 && compnr <= 999 && !hosts.host[compnr].empty() ? hosts.host[compnr]
                                                                   : hosts.default_host;
  if (found.size() + 1 > static_cast<size_t>(host_size)) return -1;
  std::memcpy(host, found.c_str(), found.size() + 1);
  return 0;
}
