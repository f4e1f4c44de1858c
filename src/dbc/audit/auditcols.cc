// The audit-columns table: keys of tables, table-name prefixes, companies and
// columns with the level at which their changes are logged. It is read once
// from lib/audit_cols by the client and travels to every driver in the
// AUDITCOLS payload, where audit_receive_auditcols rebuilds it.
//
// A lookup walks the keys from the most specific (this table, this company,
// this column) to "*:*" and takes the highest level found, stopping early at
// "log always".
#include "dbc/audit/auditcols.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "dbc/request/request_wire.h"
#include "platform/hash.h"
#include "platform/log.h"
#include "platform/env.h"

namespace {

constexpr int kBuckets = 221;
// Longest key of the file: 8-character table, ":", company, ":", 8-character
// column.
constexpr size_t kMaxKey = 21;
constexpr const char *kReadKeyword = "Read audit_cols";
constexpr const char *kEntryKeyword = "Reading audit_cols file";
constexpr const char *kReceiveKeyword = "Receiving auditcols file";
// A larger lib/audit_cols is refused rather than read into memory.
constexpr long kMaxFile = 16L << 20;

struct AuditKey {
  HASH_LINK link;
  char key[kMaxKey + 1];
  uint32_t level;
};

struct AuditState {
  HASH_TBL *table = nullptr;
  bool read = false;
  uint32_t config_id = 0;
  char key[64];  // the last lookup key
};

AuditState g_audit;

void FreeKey(void *record) { delete static_cast<AuditKey *>(record); }

bool MakeTable() {
  if (g_audit.table != nullptr) return true;
  AuditKey sample;
  g_audit.table = creat_hash_tbl(sample.key, &sample.link, nullptr, kBuckets, HASH_KEY_TEXT, nullptr);
  return g_audit.table != nullptr;
}

void DropTable() {
  if (g_audit.table != nullptr) hash_destroy(g_audit.table, FreeKey);
  g_audit.table = nullptr;
}

// Enters a key with a level; an existing key keeps the higher level. False
// when the key is too long; std::bad_alloc when memory runs out.
bool EnterKey(const std::string &key, uint32_t level) {
  if (key.size() > kMaxKey) return false;
  if (auto *found = static_cast<AuditKey *>(hash_search(g_audit.table, key.c_str()))) {
    if (level > found->level) found->level = level;
    return true;
  }
  auto *record = new AuditKey{};
  std::memcpy(record->key, key.c_str(), key.size() + 1);
  record->level = level;
  hash_link(g_audit.table, record);
  return true;
}

std::vector<std::string> Split(const std::string &text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t first = part.find_first_not_of(" \t");
    part = first == std::string::npos ? std::string()
                                      : part.substr(first, part.find_last_not_of(" \t") - first + 1);
    parts.push_back(part);
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

bool CompanyOk(const std::string &c) {
  return c == "*" || (c.size() == 3 && c.find_first_not_of("0123456789") == std::string::npos);
}

void Warn(const char *format, const std::string &value) {
  log_mesg(__FILE__, __LINE__, kEntryKeyword, LOG_WARNING, format, value.c_str());
}

// Checks one entry "tables:companies:flag[:columns]" and enters its keys.
bool TakeEntry(const std::string &line) {
  std::vector<std::string> fields = Split(line, ':');
  if (fields.size() < 3 || fields.size() > 4) return false;
  const std::string &table = fields[0];
  if (table.empty() || table.size() > 8) {
    Warn("Warning tablename '%s' invalid", table);
    return false;
  }
  std::vector<std::string> companies = Split(fields[1], ',');
  for (const std::string &c : companies) {
    if (!CompanyOk(c)) {
      Warn("Warning company number '%s' invalid", c);
      return false;
    }
  }
  uint32_t level;
  if (fields[2] == "A") {
    level = AUDIT_LOG_ALWAYS;
  } else if (fields[2] == "C") {
    level = AUDIT_LOG_CHANGED;
  } else {
    Warn("Warning flag '%s' invalid", fields[2]);
    return false;
  }
  std::vector<std::string> columns;
  if (fields.size() == 4 && !fields[3].empty()) {
    columns = Split(fields[3], ',');
    for (const std::string &k : columns) {
      if (k.empty() || k.size() > 8) {
        Warn("Warning columnname '%s' invalid", k);
        return false;
      }
    }
    bool all = columns.size() == 1 && columns[0] == "*";
    if (!all && table.size() < 8) {
      log_mesg(__FILE__, __LINE__, kEntryKeyword, LOG_WARNING,
               "Warning no columns allowed with partial table specification");
      return false;
    }
  }
  if (columns.empty()) columns.push_back(std::string());
  for (const std::string &c : companies) {
    std::string table_key = table + ":" + c;
    for (const std::string &k : columns) {
      if (k.empty() || k == "*") {
        if (!EnterKey(table_key, level)) return false;
        continue;
      }
      if (hash_search(g_audit.table, table_key.c_str()) == nullptr &&
          !EnterKey(table_key, AUDIT_SOME_COLUMN))
        return false;
      if (!EnterKey(table_key + ":" + k, level)) return false;
    }
  }
  return true;
}

// Parses the whole file text; false at the first bad entry.
bool ParseFile(const std::string &text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') continue;
    if (!TakeEntry(line)) return false;
  }
  return true;
}

int ReadFailure(STREAM *in, const char *message) {
  log_mesg(__FILE__, __LINE__, kReadKeyword, 0, "%s", message);
  if (in != nullptr) sclose(in);
  return -1;
}

}  // namespace

int audit_read_auditcols() {
  if (g_audit.read) return 0;
  STREAM *in = open_zuv_file("lib/audit_cols");
  if (in == nullptr) {
    if (errno == ENOMEM) throw std::bad_alloc();
    if (errno == ENOENT) {
      g_audit.read = true;
      return 0;
    }
    return ReadFailure(nullptr, "Cannot open $ZUV/lib/audit_cols");
  }
  struct stat status;
  if (stream_fstat(in, &status) != 0)
    return ReadFailure(in, "Cannot determine last modification time of $ZUV/lib/audit_cols");
  long size = sseek(in, 0, SEEK_END);
  if (size < 0 || size > kMaxFile || sseek(in, 0, SEEK_SET) != 0)
    return ReadFailure(in, "Cannot determine size of $ZUV/lib/audit_cols file");
  std::string text;
  try {
    text.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc &) {
    sclose(in);
    throw;
  }
  if (size > 0 && sread_blok(text.data(), text.size(), in) != size) {
    log_mesg(__FILE__, __LINE__, kReadKeyword, 0,
             "Error in reading %d bytes from $ZUV/lib/audit_cols file", static_cast<int>(size));
    sclose(in);
    return -1;
  }
  sclose(in);
  text += '\n';
  if (!MakeTable()) throw std::bad_alloc();  // only memory fails it
  bool parsed = false;
  try {
    parsed = ParseFile(text);
  } catch (const std::bad_alloc &) {
    DropTable();  // read again, whole, by the next logon
    throw;
  }
  if (!parsed) {
    DropTable();
    return ReadFailure(nullptr, "Error in processing $ZUV/lib/audit_cols file");
  }
  g_audit.config_id = static_cast<uint32_t>(status.st_mtime);
  g_audit.read = true;
  return 0;
}

int audit_using_auditcols() { return g_audit.read && g_audit.table != nullptr ? 1 : 0; }

uint32_t auditcols_config_id() { return g_audit.config_id; }

const char *auditcols_level_key(const char *table, int compnr, const char *column, int level) {
  if (column == nullptr) column = "";
  char *key = g_audit.key;
  size_t size = sizeof g_audit.key;
  switch (level) {
    case 1: std::snprintf(key, size, "%s:%03d:%s", table, compnr, column); break;
    case 2: std::snprintf(key, size, "%s:*:%s", table, column); break;
    case 3: std::snprintf(key, size, "%s:%03d", table, compnr); break;
    case 4: std::snprintf(key, size, "%s:*", table); break;
    case 5: std::snprintf(key, size, "%.*s:%03d", 5, table, compnr); break;
    case 6: std::snprintf(key, size, "%.*s:*", 5, table); break;
    case 7: std::snprintf(key, size, "%.*s:%03d", 2, table, compnr); break;
    case 8: std::snprintf(key, size, "%.*s:*", 2, table); break;
    case 9: std::snprintf(key, size, "*:%03d", compnr); break;
    case 10: std::snprintf(key, size, "*:*"); break;
    default:
      log_mesg(__FILE__, __LINE__, "auditcols_level_key", 0,
               "Wrong level ('%d') specified\n table %s, compnr %03d, column %s", level, table,
               compnr, column);
      std::snprintf(key, size, "%s", table);
      break;
  }
  key[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[0])));
  return key;
}

int auditcols_key_level(const char *key) {
  if (g_audit.table == nullptr) return -1;
  auto *found = static_cast<AuditKey *>(hash_search(g_audit.table, key));
  return found != nullptr ? static_cast<int>(found->level) : -1;
}

int auditcols_some_column_is_logged(const char *table, int compnr) {
  if (g_audit.table == nullptr || table == nullptr) return 0;
  int best = 0;
  for (int level = 3; level <= 10 && best < static_cast<int>(AUDIT_LOG_ALWAYS); ++level)
    best = std::max(best, auditcols_key_level(auditcols_level_key(table, compnr, "", level)));
  return best > 0 ? 1 : 0;
}

int auditcols_column_is_logged(const char *table, const char *column, int compnr) {
  if (g_audit.table == nullptr || table == nullptr || column == nullptr) return 0;
  int best = 0;
  for (int level = 1; level <= 10 && best < static_cast<int>(AUDIT_LOG_ALWAYS); ++level)
    best = std::max(best, auditcols_key_level(auditcols_level_key(table, compnr, column, level)));
  if (best == static_cast<int>(AUDIT_LOG_ALWAYS)) return 2;
  return best == static_cast<int>(AUDIT_LOG_CHANGED) ? 1 : 0;
}

int audit_send_auditcols(STREAM *out) {
  if (wire_put_u32(out, g_audit.config_id)) return -1;
  if (g_audit.table != nullptr) {
    int position = 0;
    for (auto *r = static_cast<AuditKey *>(hash_seq(g_audit.table, nullptr, &position));
         r != nullptr; r = static_cast<AuditKey *>(hash_seq(g_audit.table, r, &position)))
      if (wire_put_text(out, r->key) || wire_put_u32(out, r->level)) return -1;
  }
  return wire_put_u8(out, 0);
}

int audit_receive_auditcols(STREAM *in) {
  uint32_t id = 0;
  if (wire_get_u32(in, &id)) {
    log_mesg(__FILE__, __LINE__, kReceiveKeyword, 0, "Payload ends before its configuration id");
    return -1;
  }
  DropTable();
  g_audit.read = false;
  if (!MakeTable()) {
    log_mesg(__FILE__, __LINE__, kReceiveKeyword, 0, "Cannot create auditcols hash structure");
    return -1;
  }
  for (;;) {
    char key[kMaxKey + 1];
    uint32_t level = 0;
    if (wire_get_text(in, key, sizeof key)) {
      log_mesg(__FILE__, __LINE__, kReceiveKeyword, 0, "Key cut short or longer than %zu bytes",
               kMaxKey);
      DropTable();
      return -1;
    }
    if (key[0] == '\0') break;
    if (wire_get_u32(in, &level)) {
      log_mesg(__FILE__, __LINE__, kReceiveKeyword, 0, "Payload ends before the level of '%s'", key);
      DropTable();
      return -1;
    }
    bool entered = false;
    try {
      entered = EnterKey(key, level);
    } catch (const std::bad_alloc &) {
      entered = false;
    }
    if (!entered) {
      log_mesg(__FILE__, __LINE__, kReceiveKeyword, 0,
               "Cannot create auditcols hash structure entry");
      DropTable();
      return -1;
    }
  }
  g_audit.config_id = id;
  g_audit.read = true;
  return 0;
}

void audit_dump_auditcols(FILE *out) {
  static const char *const kNames[] = {"log never", "some column logged", "log when changed",
                                       "log always"};
  std::fprintf(out, "Auditcols entries:\n");
  if (g_audit.table == nullptr) return;
  int position = 0;
  for (auto *r = static_cast<AuditKey *>(hash_seq(g_audit.table, nullptr, &position));
       r != nullptr; r = static_cast<AuditKey *>(hash_seq(g_audit.table, r, &position)))
    std::fprintf(out, "  Key: %-*s  %s\n", 30, r->key, r->level <= 3 ? kNames[r->level] : "???");
}

void audit_reset_auditcols() {
  DropTable();
  g_audit.read = false;
  g_audit.config_id = 0;
}
