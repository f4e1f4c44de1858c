// Loading the user's DB roles at logon. Each role named in the user's
// settings is read from its role file, its permission lines checked and
// entered, and then the roles it includes are loaded the same way, depth
// first; a role already loaded is not read again, which also ends include
// cycles. A role with a bad permission line is dropped whole, so that a
// half-read role never grants or withholds by accident.
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "dbc/dict/dd.h"
#include "dbc/perm/perm_roles.h"
#include "dbc/perm/roles_file.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "molvane/platform.h"
#include "molvane/zdb.h"
#include "platform/log.h"
#include "platform/user.h"
#include "platform/yy_expr.h"

namespace {

constexpr const char *kLoadKeyword = "Load DB Role";
// Deeper include chains are refused rather than followed.
constexpr int kMaxIncludeDepth = 256;
// A condition travels to the drivers with a 16-bit length.
constexpr size_t kMaxCondition = 0xFFFF;

enum class Outcome { kLoaded, kSkipped, kFatal };
enum class LineResult { kEntered, kBad, kMemory };

char *SaveText(const std::string &text) {
  char *copy = new (std::nothrow) char[text.size() + 1];
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

void FreeEntry(DB_PERM *entry) {
  if (entry == nullptr) return;
  delete[] entry->key;
  delete[] entry->condition_text;
  yy_free_express(entry->condition);
  delete entry;
}

// Frees a chain of entries: the value of a DB role's permission record.
void FreeChain(void *value) {
  auto *entry = static_cast<DB_PERM *>(value);
  while (entry != nullptr) {
    DB_PERM *next = entry->next;
    FreeEntry(entry);
    entry = next;
  }
}

int LetterValue(const std::string &letter) {
  if (letter.size() != 1) return 0;
  switch (letter[0]) {
    case 'D': return PERM_DELETE;
    case 'W': return PERM_WRITE;
    case 'M': return PERM_MODIFY;
    case 'R': return PERM_READ;
    case '-': return PERM_NONE;
    default: return 0;
  }
}

bool CompanyOk(const std::string &company) {
  if (company == "*") return true;
  return company.size() == 3 && company.find_first_not_of("0123456789") == std::string::npos;
}

void LogBadLine(const ROLE_LINE &line, const char *role) {
  zdb_errno = ZE_ROLE_SYNTAX;
  log_mesg(__FILE__, __LINE__, kLoadKeyword, 0, "Error in permission line\n'%s:%s%s%s'",
           line.name_company.c_str(), line.letter.c_str(), line.has_condition ? ":" : "",
           line.has_condition ? line.condition.c_str() : "");
  log_mesg(__FILE__, __LINE__, kLoadKeyword, 0, "Corrupt rolefile '%s'", role);
}

// Enters the entry into the role, merging it with an entry of the same key.
// Takes ownership of the entry.
LineResult Enter(roleT *role, DB_PERM *entry, bool field) {
  void **slot = rpl_get_perm_from_role(role, entry->key);
  if (slot == nullptr) {
    if (rpl_add_perm(role, entry->key, entry) != 1) {
      FreeEntry(entry);
      return LineResult::kMemory;
    }
    return LineResult::kEntered;
  }
  auto *head = static_cast<DB_PERM *>(*slot);
  rpl_note_change();  // the chain changes below
  if (entry->condition != nullptr) {
    entry->next = head;
    *slot = entry;
    return LineResult::kEntered;
  }
  // Two unconditional lines: a field keeps the lower value, a table the higher.
  bool replace = field ? entry->value < head->value : entry->value > head->value;
  if (replace) {
    *slot = entry;
    FreeEntry(head);
  } else {
    FreeEntry(entry);
  }
  return LineResult::kEntered;
}

// Checks one permission line and enters it.
LineResult TakeLine(roleT *role, const ROLE_LINE &line) {
  size_t colon = line.name_company.find(':');
  std::string name = line.name_company.substr(0, colon);
  std::string company = line.name_company.substr(colon + 1);
  int value = LetterValue(line.letter);
  if (name.empty() || !CompanyOk(company) || value == 0) return LineResult::kBad;
  if (line.has_condition && line.condition.size() > kMaxCondition) return LineResult::kBad;

  size_t point = name.find('.');
  bool field = point != std::string::npos;
  DD_COLUMN *column = nullptr;
  if (field) {
    std::string table_name = name.substr(0, point);
    if (dd_table_name_ok(table_name.c_str()) && dd_table_or_throw(table_name.c_str()) != nullptr) {
      column = dd_column_or_throw(name.c_str());
      if (column == nullptr) {
        log_mesg(__FILE__, __LINE__, kLoadKeyword, 0, "Permission for unknown column %s in table %s",
                 name.c_str() + point + 1, table_name.c_str());
        return LineResult::kBad;
      }
    }
  }

  auto *entry = new (std::nothrow) DB_PERM{};
  if (entry == nullptr) return LineResult::kMemory;
  entry->value = static_cast<uint8_t>(value);
  entry->column = column;
  entry->key = SaveText(line.has_condition ? line.name_company + "c" : line.name_company);
  if (entry->key == nullptr) {
    FreeEntry(entry);
    return LineResult::kMemory;
  }
  if (line.has_condition) {
    entry->condition_text = SaveText(line.condition);
    if (entry->condition_text == nullptr) {
      FreeEntry(entry);
      return LineResult::kMemory;
    }
    yy_expr_errno = 0;
    entry->condition = yy_expr_compile(entry->condition_text, nullptr);
    if (entry->condition == nullptr) {
      bool memory = yy_expr_errno == YY_ERR_MEMORY;
      if (!memory)
        log_mesg(__FILE__, __LINE__, kLoadKeyword, 0, "Syntax error in condition : %s:%s:%s",
                 line.name_company.c_str(), line.letter.c_str(), line.condition.c_str());
      FreeEntry(entry);
      return memory ? LineResult::kMemory : LineResult::kBad;
    }
  }
  return Enter(role, entry, field);
}

Outcome LoadRole(const std::string &name, int depth);

// The roles skipped for a missing file, for the logon's warning.
std::string g_missing;

// Loads each role of a ":"-separated list; false when one failed fatally.
bool LoadList(const std::string &list, int depth) {
  bool ok = true;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string name = list.substr(start, end - start);
    size_t first = name.find_first_not_of(" \t");
    if (first != std::string::npos) {
      name = name.substr(first, name.find_last_not_of(" \t") - first + 1);
      if (LoadRole(name, depth) == Outcome::kFatal) ok = false;
    }
    start = end + 1;
  }
  return ok;
}

Outcome LoadRole(const std::string &name, int depth) {
  if (!role_name_ok(name.c_str()) || name.size() > 255 || depth > kMaxIncludeDepth) {
    zdb_errno = ZE_ROLE_SYNTAX;
    log_mesg(__FILE__, __LINE__, kLoadKeyword, 0, "Corrupt rolefile '%s'", name.c_str());
    return Outcome::kFatal;
  }
  if (rpl_find_role(ROLE_TYPE_DB, name.c_str()) != nullptr) return Outcome::kSkipped;
  ROLE_FILE *file = role_open(ROLE_TYPE_DB, name.c_str());
  if (file == nullptr) {
    const int error = errno;
    // A role file that memory ran out for is not missing: skipping it
    // would load the user's roles without it.
    if (error == ENOMEM) {
      zdb_errno = ZE_MEMORY;
      return Outcome::kFatal;
    }
    log_mesg(__FILE__, __LINE__, kLoadKeyword, 0, "Error in opening rolefile '%s'; error %d",
             name.c_str(), error);
    const char *root = get_zuv();
    g_missing += std::string(g_missing.empty() ? "" : "; ") + "role " + name + " (no file " +
                 (*root != '\0' ? std::string(root) + "/" : std::string("${ZUV}/")) + "lib/roles/db/" +
                 name[0] + "/" + name + ": " + std::strerror(error) + ")";
    return Outcome::kSkipped;
  }
  roleT *role = nullptr;
  if (rpl_new_role(ROLE_TYPE_DB, name.c_str(), &role) != 1) {
    role_close(file);
    zdb_errno = ZE_MEMORY;
    return Outcome::kFatal;
  }
  std::string subroles;
  bool has_subroles = false;
  if (role_read_subroles(file, name.c_str(), &subroles, &has_subroles) != 1) {
    zdb_errno = ZE_ROLE_SYNTAX;
    log_mesg(__FILE__, __LINE__, kLoadKeyword, 0, "Corrupt rolefile '%s'", name.c_str());
    rpl_destroy_role(role, FreeChain);
    role_close(file);
    return Outcome::kFatal;
  }
  ROLE_LINE line;
  bool dropped = false;
  for (int mode = 1;; mode = 2) {
    int rc = role_read_perm_line(file, mode, &line);
    if (rc < 0) break;
    LineResult result = LineResult::kBad;
    if (rc == 1) result = TakeLine(role, line);
    if (result == LineResult::kEntered) continue;
    if (result == LineResult::kBad) {
      if (rc == 1) {
        LogBadLine(line, name.c_str());
      } else {
        zdb_errno = ZE_ROLE_SYNTAX;
        log_mesg(__FILE__, __LINE__, kLoadKeyword, 0, "Corrupt rolefile '%s'", name.c_str());
      }
    } else {
      zdb_errno = ZE_MEMORY;
    }
    rpl_destroy_role(role, FreeChain);
    dropped = true;
    break;
  }
  if (!role_close(file))
    log_mesg(__FILE__, __LINE__, kLoadKeyword, 0, "Error in closing rolefile '%s'; error %d",
             name.c_str(), errno);
  if (dropped) return Outcome::kSkipped;
  if (has_subroles && !LoadList(subroles, depth + 1)) return Outcome::kFatal;
  return Outcome::kLoaded;
}

}  // namespace

bool perm_super_user() { return user_info.user_type == 'S'; }

int srch_permission() { return PERM_SUPER; }

int zdb_load_roles() {
  // A logon's rights come from its own role list only: the roles of an
  // earlier logon in this process (perhaps another user's) go first.
  zdb_unload_roles();
  g_missing.clear();
  if (!rpl_init_role_type(ROLE_TYPE_DB)) {
    zdb_errno = ZE_MEMORY;
    return -1;
  }
  if (perm_super_user()) return 0;
  if (user_info.db_roles[0] == '\0') {
    zdb_errno = ZE_NO_PERMISSION;
    log_mesg(__FILE__, __LINE__, "Load DB roles", 0,
             "Error: There are no roles specified in your userfile\n");
    reset_zdb_msg();
    set_zdb_msg_logged(nullptr, 0, "No roles: the user's settings give no db_roles, and the user "
                       "is no super user (user_type S)");
    return -1;
  }
  return LoadList(user_info.db_roles, 0) ? 0 : -1;
}

std::string zdb_roles_warning() {
  if (g_missing.empty()) return g_missing;
  return "The user's db_roles name a role without a file, which is skipped, so that what only it "
         "allows is refused (208): " + g_missing;
}

void zdb_unload_roles() { rpl_destroy_roles(ROLE_TYPE_DB, FreeChain); }
