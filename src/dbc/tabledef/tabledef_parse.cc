// Table-definition lines and driver lists: splitting a line into its fields,
// matching table patterns and company lists, and turning a driver field
// ("a|b(x,'y,z')+&c") into groups of alternatives over shared server records.
#include "dbc/tabledef/tabledef_parse.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include "dbc/audit/auditcols.h"
#include "dbc/zdb_errors.h"
#include <molvane/zdb.h>
#include "ipc/attach.h"
#include "platform/env.h"
#include "platform/log.h"

namespace tabledef_detail {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Every record of this module lives for the whole process; the store owns
// them and is itself never destroyed, so that pointers handed out stay valid
// during exit handlers too.
struct Store {
  std::deque<SERVER_REC> servers;
  std::deque<DRIVER_SPEC> specs;
  std::deque<std::string> texts;
  SERVER_REC *head = nullptr;
  std::map<std::pair<std::string, std::string>, DRIVER_SPEC *> audit_groups;

  char *Text(std::string_view s) { return texts.emplace_back(s).data(); }
};

Store &TheStore() {
  static Store *store = new Store;
  return *store;
}

// Host names whose first IPv4 address has been looked up (at most 32).
struct HostAddress {
  std::string name;
  bool found;
  in_addr_t address;
};

bool FirstAddress(const std::string &host, in_addr_t *address) {
  static std::vector<HostAddress> cache;
  for (const HostAddress &h : cache) {
    if (h.name == host) {
      *address = h.address;
      return h.found;
    }
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo *info = nullptr;
  HostAddress entry{host, false, 0};
  if (getaddrinfo(host.c_str(), nullptr, &hints, &info) == 0 && info != nullptr) {
    entry.found = true;
    entry.address = reinterpret_cast<sockaddr_in *>(info->ai_addr)->sin_addr.s_addr;
  }
  if (info != nullptr) freeaddrinfo(info);
  if (cache.size() < 32) cache.push_back(entry);
  *address = entry.address;
  return entry.found;
}

// True when `host` has the address of this machine and the user's remote
// information lets the client treat it as local.
bool IsThisMachine(const std::string &host) {
  char own[256];
  if (GetHostName(own, sizeof own) != 0) return false;
  in_addr_t a, b;
  if (!FirstAddress(host, &a) || !FirstAddress(own, &b) || a != b) return false;
  IPC_REMOTE_INFO info;
  al_disable_log_mesg();
  int known = ipc_remote_info(&info, host.c_str());
  al_enable_log_mesg();
  return known != 0;
}

SERVER_REC *FindOrCreateServer(const std::string &name, const std::string &args, uint32_t type) {
  Store &store = TheStore();
  for (SERVER_REC *s = store.head; s != nullptr; s = s->next) {
    if (name == s->name && args == s->args &&
        (s->type & kServerReadDriver) == (type & kServerReadDriver)) {
      return s;
    }
  }
  SERVER_REC &s = store.servers.emplace_back();
  s.type = type;
  s.name = store.Text(name);
  s.args = store.Text(args);
  s.included = nullptr;
  s.next = store.head;
  store.head = &s;
  return &s;
}

// Resolves one element of a driver field to its server record, or null when
// the element is dropped (*error is set when it was refused).
SERVER_REC *ElementServer(std::string_view element, const std::string &file_host, bool *error) {
  element = Trim(element);
  bool read_driver = false;
  if (!element.empty() && element.back() == '+') {
    read_driver = true;
    element = Trim(element.substr(0, element.size() - 1));
  }
  std::string args;
  size_t paren = element.find('(');
  if (paren != std::string_view::npos) {
    size_t close = element.rfind(')');
    std::string_view raw = close != std::string_view::npos && close > paren
                               ? element.substr(paren + 1, close - paren - 1)
                               : element.substr(paren + 1);
    args = ArgumentText(raw);
    element = Trim(element.substr(0, paren));
  }
  if (element.empty()) return nullptr;

  std::string own_host;
  std::string driver(element);
  size_t bang = element.find('!');
  if (bang != std::string_view::npos) {
    own_host = std::string(Trim(element.substr(0, bang)));
    driver = std::string(Trim(element.substr(bang + 1)));
  }

  uint32_t type = DriverTypeOfName(driver);
  if (read_driver) type |= kServerReadDriver;
  if ((type & kDriverTypeMask) == kDriverTypeAudit &&
      (zdb_audit_disabled() || audit_using_auditcols())) {
    return nullptr;
  }
  if ((type & kDriverTypeMask) == kDriverTypeHost) {
    if (!own_host.empty()) {
      log_mesg(__FILE__, __LINE__, "tabledef", 0, "Unknown driver type: %s", driver.c_str());
      zdb_errno = ZE_NO_DRIVER;
      *error = true;
      return nullptr;
    }
    return FindOrCreateServer(driver, args, type);
  }

  const std::string &host = own_host.empty() ? file_host : own_host;
  std::string name = driver;
  if (!host.empty() && !IsThisMachine(host)) {
    name = host + "!" + driver;
    type |= kServerRemote;
  }
  return FindOrCreateServer(name, args, type);
}

// Splits `text` at `sep` where it stands outside parentheses and quotes.
std::vector<std::string_view> SplitOutside(std::string_view text, const char *seps,
                                           std::vector<char> *found = nullptr) {
  std::vector<std::string_view> parts;
  int depth = 0;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\'') quoted = !quoted;
    if (quoted) continue;
    if (c == '(') ++depth;
    if (c == ')' && depth > 0) --depth;
    if (depth == 0 && std::strchr(seps, c) != nullptr) {
      parts.push_back(text.substr(start, i - start));
      if (found != nullptr) found->push_back(c);
      start = i + 1;
    }
  }
  parts.push_back(text.substr(start));
  return parts;
}

}  // namespace

CompanyMatch MatchCompanyList(std::string_view list, int compnr) {
  list = Trim(list);
  if (list.empty()) return CompanyMatch::kYes;
  if (list == "*") return CompanyMatch::kCoversAll;
  if (compnr < 0) return CompanyMatch::kYes;
  for (std::string_view item : SplitOutside(list, ",")) {
    item = Trim(item);
    if (item.empty() || item.size() > 3) continue;
    int value = 0;
    bool digits = true;
    for (char c : item) {
      if (!std::isdigit(static_cast<unsigned char>(c))) digits = false;
      value = value * 10 + (c - '0');
    }
    if (digits && value == compnr) return CompanyMatch::kYes;
  }
  return CompanyMatch::kNo;
}

bool MatchTablePatterns(std::string_view patterns, std::string_view table) {
  for (std::string_view p : SplitOutside(patterns, ",")) {
    p = Trim(p);
    if (p == "*" || p == table) return true;
    if (p.size() == 5 && table.size() >= 5 && table.substr(0, 5) == p) return true;
  }
  return false;
}

uint32_t DriverTypeOfName(std::string_view name) {
  static const struct {
    const char *prefix;
    uint32_t type;
  } kTypes[] = {{"audit", kDriverTypeAudit}, {"oracle", kDriverTypeDatabase},
                {"informix", kDriverTypeDatabase}, {"db2", kDriverTypeDatabase},
                {"msql", kDriverTypeDatabase}, {"mysql", kDriverTypeDatabase}};
  for (const auto &t : kTypes) {
    if (name.substr(0, std::strlen(t.prefix)) == t.prefix) return t.type;
  }
  return kDriverTypeHost;
}

std::string ArgumentText(std::string_view raw) {
  std::string out;
  bool quoted = false;
  for (char c : raw) {
    if (c == '\'') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      out.push_back('\x01');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

LineKind SplitLine(std::string_view line, LineFields *fields) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.empty() || line.front() == '#') return LineKind::kSkip;
  if (Trim(line).empty()) return LineKind::kSkip;
  if (line.front() == '{') {
    size_t close = line.find('}');
    if (close == std::string_view::npos) return LineKind::kMalformed;
    bool ours = false;
    for (std::string_view word : SplitOutside(line.substr(1, close - 1), ",")) {
      if (Trim(word) == "qelt") ours = true;
    }
    if (!ours) return LineKind::kSkip;
    line = line.substr(close + 1);
  }
  size_t first = line.find(':');
  if (first == std::string_view::npos) return LineKind::kMalformed;
  size_t second = line.find(':', first + 1);
  if (second == std::string_view::npos) return LineKind::kMalformed;
  fields->patterns = std::string(Trim(line.substr(0, first)));
  fields->companies = std::string(Trim(line.substr(first + 1, second - first - 1)));
  std::vector<std::string_view> rest = SplitOutside(line.substr(second + 1), ":");
  fields->drivers = std::string(Trim(rest[0]));
  fields->audit = rest.size() > 1 ? std::string(Trim(rest[1])) : std::string();
  return LineKind::kEntry;
}

DRIVER_SPEC *ParseDriverList(std::string_view field, const std::string &file_host, bool *error) {
  Store &store = TheStore();
  std::vector<char> separators;
  std::vector<std::string_view> elements = SplitOutside(field, "&|", &separators);

  DRIVER_SPEC *list = nullptr;
  DRIVER_SPEC *group_first = nullptr;  // first alternative of the group being built
  DRIVER_SPEC *group_last = nullptr;
  for (size_t i = 0; i < elements.size(); ++i) {
    bool new_group = i == 0 || separators[i - 1] == '&';
    if (new_group) {
      if (group_first != nullptr) list = AppendGroup(list, group_first);
      group_first = group_last = nullptr;
    }
    SERVER_REC *server = ElementServer(elements[i], file_host, error);
    if (server == nullptr) continue;
    DRIVER_SPEC &spec = store.specs.emplace_back(DRIVER_SPEC{server, nullptr, nullptr});
    if (group_first == nullptr) {
      group_first = &spec;
    } else {
      group_last->next_alt = &spec;
    }
    group_last = &spec;
  }
  if (group_first != nullptr) list = AppendGroup(list, group_first);
  return list;
}

DRIVER_SPEC *AppendGroup(DRIVER_SPEC *list, DRIVER_SPEC *group) {
  if (list == nullptr) return group;
  DRIVER_SPEC *last = list;
  while (last->next_group != nullptr) last = last->next_group;
  last->next_group = group;
  return list;
}

DRIVER_SPEC *AuditGroup(const std::string &host, const std::string &args) {
  Store &store = TheStore();
  auto key = std::make_pair(host, args);
  auto it = store.audit_groups.find(key);
  if (it != store.audit_groups.end()) return it->second;
  uint32_t type = kDriverTypeAudit;
  std::string name = "audit";
  if (!host.empty() && !IsThisMachine(host)) {
    name = host + "!audit";
    type |= kServerRemote;
  }
  SERVER_REC *server = FindOrCreateServer(name, args, type);
  DRIVER_SPEC *spec = &store.specs.emplace_back(DRIVER_SPEC{server, nullptr, nullptr});
  store.audit_groups.emplace(key, spec);
  return spec;
}

bool DebugBit(unsigned bit) { return (static_cast<unsigned long>(al_debug_level()) & bit) != 0; }

SERVER_REC *ServerListHead() { return TheStore().head; }

}  // namespace tabledef_detail
