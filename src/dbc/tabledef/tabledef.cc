// The table-definition file and the questions asked of it.
//
// The local file is read into memory once and parsed only as far as the
// tables asked for require: parsed entries are kept in file order and
// searched first, and parsing resumes where it stopped. Included host files
// (a driver element naming another host) are read once into their server
// record. With specify_server, one driver list serves everything.
#include "dbc/tabledef/tabledef.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "dbc/audit/auditcols.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include <molvane/zdb.h>
#include "dbc/tabledef/tabledef_parse.h"
#include "ipc/fname.h"
#include "ipc/ipc_info.h"
#include "ipc/stream.h"
#include "platform/env.h"
#include "platform/log.h"

using namespace tabledef_detail;

namespace {

constexpr unsigned kDebugTabledef = 32;

struct TD_ENTRY {
  std::string patterns;
  std::string companies;
  DRIVER_SPEC *drivers;
};

}  // namespace

// A table-definition file: its text, how far it is parsed, and the entries
// parsed so far in file order.
struct TD_FILE {
  std::string text;
  size_t pos = 0;
  std::string host;  // host the file was read from, "" when local
  std::deque<TD_ENTRY> entries;
};

namespace {

struct State {
  bool specified = false;
  DRIVER_SPEC *specified_list = nullptr;
  TD_FILE *local = nullptr;
  std::deque<TD_FILE> files;
  bool audit_disabled = false;
};

State &TheState() {
  static State *state = new State;
  return *state;
}

// Memory that ran out while a file was opened or read fails the lookup
// with 501 (std::bad_alloc reaches the API call), never as a missing file.
void ThrowIfNoMemory(int error) {
  if (error == ENOMEM) throw std::bad_alloc();
}

// Reads a whole stream into `text`; false on a read error.
bool ReadAll(STREAM *stream, std::string *text) {
  char buffer[4096];
  for (;;) {
    long n = sread_blok(buffer, sizeof buffer, stream);
    if (n < 0) {
      ThrowIfNoMemory(errno);
      return false;
    }
    if (n == 0) break;
    text->append(buffer, static_cast<size_t>(n));
  }
  if (text->empty() || text->back() != '\n') text->push_back('\n');
  return true;
}

// The file last added to the list, taken off again unless kept: a read
// that fails, or runs out of memory, leaves no half-read file behind.
class FileDraft {
 public:
  explicit FileDraft(std::deque<TD_FILE> *files) : files_(files) {}
  ~FileDraft() {
    if (files_ != nullptr) files_->pop_back();
  }
  FileDraft(const FileDraft &) = delete;
  FileDraft &operator=(const FileDraft &) = delete;
  void Keep() { files_ = nullptr; }

 private:
  std::deque<TD_FILE> *files_;
};

TD_FILE *LocalFile() {
  State &state = TheState();
  if (state.local != nullptr) return state.local;
  StreamPtr owned(open_zuv_file("lib/tabledef%s", get_release()));
  STREAM *stream = owned.get();
  if (stream == nullptr) {
    int error = errno;
    ThrowIfNoMemory(error);
    std::string name = std::string(get_zuv()) + "/lib/tabledef" + get_release();
    log_mesg(__FILE__, __LINE__, "tabledef", 0, "%s open error %d (%s)", name.c_str(), error,
             std::strerror(error));
    return nullptr;
  }
  TD_FILE &file = state.files.emplace_back();
  FileDraft draft(&state.files);
  char physical[1024];
  get_last_exploded_fname(physical, sizeof physical);
  if (const char *bang = std::strchr(physical, '!')) file.host.assign(physical, static_cast<size_t>(bang - physical));
  bool ok = ReadAll(stream, &file.text);
  owned.reset();
  if (!ok) return nullptr;
  draft.Keep();
  state.local = &file;
  return state.local;
}

// The included table definitions of a host server, read on first use; null
// (and the server flagged) when they cannot be read.
TD_FILE *IncludedFile(SERVER_REC *server) {
  if (server->included != nullptr) return server->included;
  if (server->type & kServerIncludeFailed) return nullptr;
  std::string name = std::string(server->name) + "!${ZUV}/lib/tabledef" + get_release();
  StreamPtr owned(qelt_sopen(name.c_str(), "rt"));
  STREAM *stream = owned.get();
  if (stream == nullptr) {
    const int error = errno;
    ThrowIfNoMemory(error);
    log_mesg(__FILE__, __LINE__, "tabledef", 0, "%s open error %d (%s)", name.c_str(), error,
             std::strerror(error));
    server->type |= kServerIncludeFailed;
    // The files of another host are never read here (no remote file service).
    if (error == EHOSTUNREACH) server->type |= kServerIncludeElsewhere;
    return nullptr;
  }
  TD_FILE &file = TheState().files.emplace_back();
  FileDraft draft(&TheState().files);
  file.host = server->name;
  bool ok = ReadAll(stream, &file.text);
  owned.reset();
  if (!ok) {
    server->type |= kServerIncludeFailed;
    return nullptr;
  }
  draft.Keep();
  server->included = &file;
  return server->included;
}

// Parses the next entry line of a file; false at the end of the text.
bool ParseNextEntry(TD_FILE *file) {
  while (file->pos < file->text.size()) {
    size_t end = file->text.find('\n', file->pos);
    if (end == std::string::npos) end = file->text.size();
    std::string_view line(file->text.data() + file->pos, end - file->pos);
    size_t line_start = file->pos;
    LineFields fields;
    LineKind kind = SplitLine(line, &fields);
    if (kind != LineKind::kEntry) file->pos = end + 1;
    if (kind == LineKind::kSkip) continue;
    if (kind == LineKind::kMalformed) {
      int line_no = 1;
      for (size_t i = 0; i < line_start; ++i) line_no += file->text[i] == '\n';
      log_mesg(__FILE__, __LINE__, "tabledef", LOG_WARNING,
               "line %d ignored: expected <tables>:<companies>:<drivers>", line_no);
      continue;
    }
    bool error = false;
    DRIVER_SPEC *drivers = ParseDriverList(fields.drivers, file->host, &error);
    std::string_view audit = fields.audit;
    if (!audit.empty() && audit != "N" && audit != "n" && !zdb_audit_disabled() &&
        !audit_using_auditcols()) {
      std::string element = "audit";
      if (audit != "Y" && audit != "y") {
        size_t paren = audit.find('(');
        std::string host(audit.substr(0, paren));
        element = host + "!audit" + (paren == std::string_view::npos ? "" : std::string(audit.substr(paren)));
      }
      DRIVER_SPEC *group = ParseDriverList(element, file->host, &error);
      if (group != nullptr) drivers = AppendGroup(drivers, group);
    }
    file->entries.push_back(TD_ENTRY{fields.patterns, fields.companies, drivers});
    // Past the line only once its entry is stored: memory that runs out
    // before leaves the line to be parsed again by the next lookup.
    file->pos = end + 1;
    return true;
  }
  return false;
}

// The first entry of the file for the table and company (-1: any company),
// parsing further as needed. *covers_all reports a "*" company list.
const TD_ENTRY *FindEntry(TD_FILE *file, const char *table, int compnr, size_t from = 0,
                          size_t *index = nullptr, bool *covers_all = nullptr) {
  for (size_t i = from;; ++i) {
    if (i == file->entries.size() && !ParseNextEntry(file)) return nullptr;
    const TD_ENTRY &entry = file->entries[i];
    if (!MatchTablePatterns(entry.patterns, table)) continue;
    CompanyMatch match = MatchCompanyList(entry.companies, compnr);
    if (match == CompanyMatch::kNo) continue;
    if (index != nullptr) *index = i;
    if (covers_all != nullptr) *covers_all = match == CompanyMatch::kCoversAll;
    return &entry;
  }
}

// What a name of the table definitions that was taken for a host is: no
// driver of lib/ipc_info (named with the drivers it has), or one that it
// has but whose name marks no driver type.
std::string UnreadHostText(const SERVER_REC *host) {
  const std::string file = std::string("lib/tabledef") + get_release();
  std::vector<std::string> names = molvane::ipc::ipc_info_names();
  std::string text = file + " names " + host->name;
  // A "*" line of lib/ipc_info has every name.
  if (std::find(names.begin(), names.end(), host->name) == names.end() &&
      std::find(names.begin(), names.end(), "*") == names.end()) {
    std::string listed;
    for (const std::string &n : names) listed += (listed.empty() ? "" : ", ") + n;
    text += ", which is no driver of lib/ipc_info (" +
            (listed.empty() ? std::string("it has none") : "it has " + listed) + ")";
  } else {
    text += ", which lib/ipc_info has, but whose name marks no driver type";
  }
  text += "; a name that begins with none of audit, oracle, informix, db2, msql, mysql is "
          "taken for a host whose table definitions are included, and those of " +
          std::string(host->name) + " could not be read";
  if (host->type & kServerIncludeElsewhere)
    text += ": " + std::string(host->name) + " is no name of this machine, and the files of other hosts are not read";
  return text;
}

// Logs the failure and gives the host its cause: the last error logged
// since `mark` (the open error of the file, a malformed line), when any;
// `unread`, when given, is the included host whose file failed.
void LogCouldNotRead(const char *table, int compnr, unsigned long mark,
                     const SERVER_REC *unread = nullptr) {
  // The open error of another host's file says only that it is another
  // host, which the text of the unread host says in words.
  const bool elsewhere = unread != nullptr && (unread->type & kServerIncludeElsewhere);
  std::string cause = log_error_count() > mark && !elsewhere ? log_last_error() : "";
  log_mesg(__FILE__, __LINE__, "tabledef", 0, "could not read tabledef for %s%03d", table, compnr);
  zdb_errno = ZE_NO_DRIVER;
  reset_zdb_msg();
  std::string what = unread != nullptr ? UnreadHostText(unread) : "the table definitions could not be read";
  set_zdb_msg_logged(nullptr, 0, "No driver for %s%03d: %s%s%s", table, compnr, what.c_str(),
                     cause.empty() ? "" : " (", cause.empty() ? "" : cause.c_str());
  if (!cause.empty()) add_zdb_msg(")");
}

// Adds a group to the result; false (and the log line) beyond the limit.
bool AddGroup(TABLEDEF *result, DRIVER_SPEC *group, const char *table, int compnr) {
  if (result->nr_server >= kMaxDriverGroups) {
    log_mesg(__FILE__, __LINE__, "tabledef", 0, "More than %d servers defined for table %s compnr %d",
             kMaxDriverGroups, table, compnr);
    return false;
  }
  result->server[result->nr_server++] = group;
  return true;
}

// Adds the groups of a driver list, expanding included hosts. False on a
// failure that makes the whole lookup fail; *unread then names the first
// host of a group none of whose hosts' files could be read.
bool AddDriverList(TABLEDEF *result, DRIVER_SPEC *list, const char *table, int compnr,
                   const SERVER_REC **unread = nullptr) {
  for (DRIVER_SPEC *group = list; group != nullptr; group = group->next_group) {
    DRIVER_SPEC *alt = group;
    while (alt != nullptr && (alt->server->type & kDriverTypeMask) == kDriverTypeHost) {
      TD_FILE *included = IncludedFile(alt->server);
      if (included != nullptr) break;
      alt = alt->next_alt;
    }
    if (alt == nullptr) {
      if (unread != nullptr) *unread = group->server;
      return false;
    }
    if ((alt->server->type & kDriverTypeMask) != kDriverTypeHost) {
      if (!AddGroup(result, alt, table, compnr)) return false;
      continue;
    }
    const TD_ENTRY *entry = FindEntry(alt->server->included, table, compnr);
    if (entry == nullptr) continue;
    for (DRIVER_SPEC *g = entry->drivers; g != nullptr; g = g->next_group) {
      if ((g->server->type & kDriverTypeMask) == kDriverTypeHost) continue;  // one level only
      if (!AddGroup(result, g, table, compnr)) return false;
    }
  }
  return true;
}

bool IsAuditGroup(const DRIVER_SPEC *group) {
  return (group->server->type & kDriverTypeMask) == kDriverTypeAudit;
}

void DumpResult(const char *table, int compnr, const TABLEDEF *result) {
  std::fprintf(stderr, "Driver(s) for %s%03d, total %d:\n", table, compnr, result->nr_server);
  for (int g = 0; g < result->nr_server; ++g) {
    for (const DRIVER_SPEC *alt = result->server[g]; alt != nullptr; alt = alt->next_alt) {
      std::fprintf(stderr, "[%d] dr_type '%s' specs '%s' (type 0%o addr %p)\n", g + 1,
                   alt->server->name, alt->server->args, alt->server->type,
                   static_cast<const void *>(alt));
    }
  }
  dump_server_list();
}

// Read driver group among the groups of a result, or null.
DRIVER_SPEC *ReadGroupOf(const TABLEDEF &result) {
  for (int g = result.nr_server - 1; g >= 0; --g) {
    if (result.server[g]->server->type & kServerReadDriver) return result.server[g];
  }
  for (int g = 0; g < result.nr_server; ++g) {
    if (!IsAuditGroup(result.server[g])) return result.server[g];
  }
  return nullptr;
}

bool FileHoldsServer(TD_FILE *file, const SERVER_REC *server, const char *table,
                     bool search_includes);

// True when the server stands in the driver list; included host files are
// searched one level deep.
bool ListHoldsServer(const DRIVER_SPEC *list, const SERVER_REC *server, const char *table,
                     bool search_includes) {
  for (const DRIVER_SPEC *g = list; g != nullptr; g = g->next_group) {
    for (const DRIVER_SPEC *a = g; a != nullptr; a = a->next_alt) {
      if (a->server == server) return true;
      if (search_includes && (a->server->type & kDriverTypeMask) == kDriverTypeHost) {
        TD_FILE *included = IncludedFile(a->server);
        if (included != nullptr && FileHoldsServer(included, server, table, false)) return true;
      }
    }
  }
  return false;
}

// True when the server stands in the driver list of any entry of the file for
// the table, up to the first entry that covers all companies.
bool FileHoldsServer(TD_FILE *file, const SERVER_REC *server, const char *table,
                     bool search_includes) {
  size_t index = 0;
  bool covers_all = false;
  for (size_t from = 0;; from = index + 1) {
    const TD_ENTRY *entry = FindEntry(file, table, -1, from, &index, &covers_all);
    if (entry == nullptr) return false;
    if (ListHoldsServer(entry->drivers, server, table, search_includes)) return true;
    if (covers_all) return false;
  }
}

}  // namespace

int specify_server(const char *spec) {
  State &state = TheState();
  if (state.specified) {
    log_mesg(__FILE__, __LINE__, "server_spec", 0, "Can't redefine server ('%s' ignored)", spec);
    return -1;
  }
  if (DebugBit(kDebugTabledef)) std::fprintf(stderr, "Specified server: %s\n", spec);
  bool error = false;
  DRIVER_SPEC *list = ParseDriverList(spec, std::string(), &error);
  if (list == nullptr) {
    if (!error) zdb_errno = ZE_NO_DRIVER;
    return -1;
  }
  state.specified = true;
  state.specified_list = list;
  return 0;
}

int client_get_tabledef(const char *table, int compnr, TABLEDEF *result) {
  State &state = TheState();
  result->nr_server = 0;
  DRIVER_SPEC *list = nullptr;
  unsigned long mark = log_error_count();
  if (state.specified) {
    list = state.specified_list;
  } else {
    TD_FILE *file = LocalFile();
    if (file == nullptr) {
      LogCouldNotRead(table, compnr, mark);
      return -1;
    }
    const TD_ENTRY *entry = FindEntry(file, table, compnr);
    if (entry != nullptr) list = entry->drivers;
  }
  const SERVER_REC *unread = nullptr;
  if (!AddDriverList(result, list, table, compnr, &unread)) {
    result->nr_server = 0;
    LogCouldNotRead(table, compnr, mark, unread);
    return -1;
  }

  if (std::strncmp(table, "ttaud", 5) == 0) {
    int kept = 0;
    for (int g = 0; g < result->nr_server; ++g) {
      if (!IsAuditGroup(result->server[g])) result->server[kept++] = result->server[g];
    }
    result->nr_server = static_cast<uint16_t>(kept);
  } else if (audit_using_auditcols() && !state.audit_disabled &&
             auditcols_some_column_is_logged(table, compnr)) {
    if (result->nr_server >= kMaxDriverGroups) {
      log_mesg(__FILE__, __LINE__, "tabledef", 0,
               "Cannot define audit server for table %s compnr %d (max. number of copy servers "
               "(%d) exceeded)",
               table, compnr, kMaxDriverGroups);
      return -1;
    }
    // One audit group per audit host, so that every company's rows reach
    // the host configured for that company.
    char host[256] = "";
    auditcols_get_audit_host(compnr, host, sizeof host);
    result->server[result->nr_server++] = AuditGroup(host, std::string());
  }

  if (DebugBit(kDebugTabledef)) DumpResult(table, compnr, result);
  if (result->nr_server == 0) {
    log_mesg(__FILE__, __LINE__, "server_spec", 0, "no server defined for '%s%03d', cannot start driver",
             table, compnr);
    zdb_errno = ZE_NO_DRIVER;
    reset_zdb_msg();
    set_zdb_msg_logged(nullptr, 0,
                       "No driver for %s%03d: no line of the table definitions (lib/tabledef%s) "
                       "names a driver for it",
                       table, compnr, get_release());
    return -1;
  }
  return 0;
}

DRIVER_SPEC *read_driver_for_table(const char *table, int compnr) {
  TABLEDEF result;
  if (client_get_tabledef(table, compnr, &result) != 0) return nullptr;
  DRIVER_SPEC *group = ReadGroupOf(result);
  if (group == nullptr) {
    log_mesg(__FILE__, __LINE__, "server_spec", 0, "No ReadDriver defined for '%s%03d'", table, compnr);
    zdb_errno = ZE_NO_DRIVER;
  }
  return group;
}

SERVER_REC *get_dbc_read_driver(const char *table, int compnr) {
  DRIVER_SPEC *group = read_driver_for_table(table, compnr);
  return group != nullptr ? group->server : nullptr;
}

int table_in_driver(const char *table, const SERVER_REC *server) {
  if (server == nullptr) return 0;
  if ((server->type & kDriverTypeMask) == kDriverTypeAudit) return 1;
  State &state = TheState();
  if (state.specified) return ListHoldsServer(state.specified_list, server, table, true) ? 1 : 0;
  TD_FILE *file = LocalFile();
  if (file == nullptr) return 0;
  return FileHoldsServer(file, server, table, true) ? 1 : 0;
}

DRIVER_SPEC *table_fixed_driver(const char *table) {
  State &state = TheState();
  if (state.specified) {
    TABLEDEF result{};
    if (!AddDriverList(&result, state.specified_list, table, -1)) return nullptr;
    return ReadGroupOf(result);
  }
  TD_FILE *file = LocalFile();
  if (file == nullptr) return nullptr;
  DRIVER_SPEC *fixed = nullptr;
  size_t index = 0;
  bool covers_all = false;
  for (size_t from = 0;; from = index + 1) {
    const TD_ENTRY *entry = FindEntry(file, table, -1, from, &index, &covers_all);
    if (entry == nullptr) break;
    TABLEDEF result{};
    if (!AddDriverList(&result, entry->drivers, table, -1)) return nullptr;
    DRIVER_SPEC *group = ReadGroupOf(result);
    if (group == nullptr) return nullptr;
    if (fixed == nullptr) {
      fixed = group;
    } else if (compare_single_spec(fixed, group) != 0) {
      return nullptr;
    }
    if (covers_all) break;
  }
  return fixed;
}

int compare_single_spec(const DRIVER_SPEC *a, const DRIVER_SPEC *b) {
  for (; a != nullptr && b != nullptr; a = a->next_alt, b = b->next_alt) {
    if (std::strcmp(a->server->name, b->server->name) != 0 ||
        std::strcmp(a->server->args, b->server->args) != 0 ||
        (a->server->type & kServerReadDriver) != (b->server->type & kServerReadDriver)) {
      return 1;
    }
  }
  return a == nullptr && b == nullptr ? 0 : 1;
}

uint32_t server_zdb_type(const DRIVER_SPEC *spec) { return spec->server->type; }

void zdb_disable_audit() {
  TheState().audit_disabled = true;
  if (DebugBit(kDebugTabledef)) std::fprintf(stderr, "zdb_disable_audit: Auditing disabled\n");
}

bool zdb_audit_disabled() { return TheState().audit_disabled; }

int get_audit_hosts(const char *table, int compnr, char *buffer, int buffer_size) {
  if (buffer_size <= 0) return -1;
  buffer[0] = '\0';
  TABLEDEF result;
  if (client_get_tabledef(table, compnr, &result) != 0) return -1;
  std::string hosts;
  for (int g = 0; g < result.nr_server; ++g) {
    if (!IsAuditGroup(result.server[g])) continue;
    const char *name = result.server[g]->server->name;
    const char *bang = std::strchr(name, '!');
    if (!hosts.empty()) hosts += ",";
    hosts += bang != nullptr ? std::string(name, bang) : std::string("localhost");
  }
  if (hosts.size() + 1 > static_cast<size_t>(buffer_size)) {
    log_mesg(__FILE__, __LINE__, "tabledef", 0, "audit host list of %s%03d does not fit %d bytes",
             table, compnr, buffer_size);
    return -1;
  }
  std::memcpy(buffer, hosts.c_str(), hosts.size() + 1);
  return 0;
}

void dump_server_list() {
  std::fprintf(stderr, "---------- start global server list -------------\n");
  for (const SERVER_REC *s = ServerListHead(); s != nullptr; s = s->next) {
    bool host = (s->type & kDriverTypeMask) == kDriverTypeHost;
    std::fprintf(stderr, "server '%s' specs '%s' server %p type 0%o\n", s->name,
                 host ? "*remote*" : s->args, static_cast<const void *>(s), s->type);
  }
  std::fprintf(stderr, "--------------- end server list -----------------\n");
}
