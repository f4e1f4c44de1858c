// Settings tables. Each row remembers the rank of the source its value came
// from (default, "lib/defaults/all", "lib/defaults/<program>", a specified
// file, the user file, the environment, a command); a source fills a row
// only when it ranks at least as high as the current one, so the order in
// which tables are registered and files loaded does not change the result.
// Settings files are parsed once and reread only when they change on disk.
#include "platform/resource.h"

#include <errno.h>
#include <sys/stat.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/log.h"
#include "platform/mal.h"
#include "platform/resource_files.h"
#include "platform/strutil.h"

namespace {

enum Rank { kDefault = 0, kAll, kProgram, kSpecified, kUser, kEnv, kCommand };

struct FileEntry {
  std::string cls;  // class before the point, or ""
  std::string name;
  std::string value;
  int line = 0;     // line number in its file, from 1
};

struct ParsedFile {
  bool exists = false;
  time_t mtime = 0;
  off_t size = 0;
  std::vector<FileEntry> entries;
  std::vector<std::pair<int, std::string>> malformed;  // line number, text of lines without a name
};

struct ResState {
  std::vector<AL_RESOURCE *> tables;        // registered tables
  std::map<const AL_RESOURCE *, int> rank;  // rank of each row's current value
  std::set<void *> owned;                   // strings this layer allocated
  std::map<std::string, ParsedFile> files;  // by absolute path
  std::map<std::string, std::set<AL_RESOURCE *>> specified;  // files loaded for given tables
  int refused = 0;
};

ResState &State() {
  static ResState state;
  return state;
}

std::string Trim(const std::string &s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

enum class LineKind { kSetting, kComment, kMalformed };

// Splits "class.name: value". A line without a colon or without a name is
// malformed; blank lines and comments hold nothing.
LineKind ParseLine(const std::string &raw, FileEntry *out) {
  std::string line = Trim(raw);
  if (line.empty() || line[0] == '#' || line[0] == '!') return LineKind::kComment;
  size_t colon = line.find(':');
  if (colon == std::string::npos) return LineKind::kMalformed;
  std::string key = Trim(line.substr(0, colon));
  out->value = Trim(line.substr(colon + 1));
  size_t dot = key.find('.');
  out->cls = dot == std::string::npos ? "" : key.substr(0, dot);
  out->name = dot == std::string::npos ? key : key.substr(dot + 1);
  return out->name.empty() ? LineKind::kMalformed : LineKind::kSetting;
}

bool ClassApplies(const std::string &cls) {
  return cls.empty() || cls == "*" || cls == log_get_progname();
}

std::string AbsolutePath(const std::string &path) {
  if (!path.empty() && path[0] == '/') return path;
  const char *zuv = get_zuv();
  if (*zuv == '\0') return "";
  return std::string(zuv) + "/" + path;
}

// The parsed file at an absolute path; reread when its size or time changed.
const ParsedFile &File(const std::string &abs) {
  ParsedFile &pf = State().files[abs];
  struct stat st;
  if (abs.empty() || ::stat(abs.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    pf = ParsedFile{};
    return pf;
  }
  if (pf.exists && pf.mtime == st.st_mtime && pf.size == st.st_size) return pf;
  pf = ParsedFile{};
  std::ifstream in(abs);
  if (!in) return pf;
  pf.exists = true;
  pf.mtime = st.st_mtime;
  pf.size = st.st_size;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    FileEntry e;
    e.line = number;
    switch (ParseLine(line, &e)) {
      case LineKind::kSetting: pf.entries.push_back(std::move(e)); break;
      case LineKind::kMalformed: pf.malformed.emplace_back(number, Trim(line)); break;
      case LineKind::kComment: break;
    }
  }
  return pf;
}

// The last applicable value of `name` in a parsed file.
bool Lookup(const ParsedFile &pf, const char *name, std::string *value) {
  bool found = false;
  for (const FileEntry &e : pf.entries) {
    if (e.name == name && ClassApplies(e.cls)) {
      *value = e.value;
      found = true;
    }
  }
  return found;
}

std::string UserFilePath() {
  std::string user = al_settings_user();
  return user.empty() ? "" : AbsolutePath("lib/user/u" + user);
}

std::string ProgramFilePath() {
  return AbsolutePath(std::string("lib/defaults/") + log_get_progname());
}

bool ParseInteger(const char *text, int base, long long *out) {
  const char *p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  if (*p == '\0') return false;
  int b = base;
  if (b == 10 && (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))) b = 16;
  errno = 0;
  char *end = nullptr;
  long long v = std::strtoll(p, &end, b);
  if (errno != 0 || end == p) return false;
  while (std::isspace(static_cast<unsigned char>(*end))) ++end;
  if (*end != '\0') return false;
  *out = v;
  return true;
}

bool Convert(AL_RESOURCE *row, const char *text) {
  if (row->value == nullptr) return false;
  if (row->convert != nullptr) return row->convert(text, row->value, row) == 0;
  int type = row->type;
  if (type & AL_RES_CHAR) {
    *static_cast<char *>(row->value) = text[0];
    return true;
  }
  if (type & (AL_RES_SHORT | AL_RES_INT | AL_RES_LONG)) {
    int base = (type & AL_RES_OCTAL) ? 8 : (type & AL_RES_HEX) ? 16 : 10;
    long long v;
    if (!ParseInteger(text, base, &v)) return false;
    if (type & AL_RES_SHORT) {
      if (v < SHRT_MIN || v > SHRT_MAX) return false;
      *static_cast<short *>(row->value) = static_cast<short>(v);
    } else if (type & AL_RES_INT) {
      if (v < INT_MIN || v > INT_MAX) return false;
      *static_cast<int *>(row->value) = static_cast<int>(v);
    } else {
      *static_cast<long *>(row->value) = static_cast<long>(v);
    }
    return true;
  }
  if (type & AL_RES_STRBUF) {
    size_t n = std::strlen(text);
    if (row->size <= 0 || n >= static_cast<size_t>(row->size)) return false;
    std::memcpy(row->value, text, n + 1);
    return true;
  }
  if (type & AL_RES_ALLOCSTR) {
    // Memory that runs out is no refused value: the caller fails (501)
    // rather than go on with the setting unset.
    char *copy = mal_strsave(text, MAL_FREEABLE, 0);
    if (copy == nullptr) throw std::bad_alloc();
    auto &owned = State().owned;
    try {
      owned.insert(copy);
    } catch (const std::bad_alloc &) {
      mal_free(copy);
      throw;
    }
    char **slot = static_cast<char **>(row->value);
    if (*slot != nullptr && owned.erase(*slot) != 0) mal_free(*slot);
    *slot = copy;
    return true;
  }
  return false;
}

// Gives the row the text from a source of the given rank when that source
// ranks at least as high as the current one. True when the value was set.
bool Assign(AL_RESOURCE *row, const char *text, int rank, const char *source) {
  auto &ranks = State().rank;
  auto it = ranks.find(row);
  if (it != ranks.end() && it->second > rank) return false;
  if (!Convert(row, text)) {
    ++State().refused;
    log_mesg(__FILE__, __LINE__, "al_resource", LOG_ERROR,
             "setting %s: value \"%s\" from %s refused", row->name, text, source);
    return false;
  }
  ranks[row] = rank;
  if (row->mutfun != nullptr) row->mutfun(row);
  return true;
}

bool EndOfTable(const AL_RESOURCE *row) {
  return row->name == nullptr || row->name[0] == '\0';
}

void ApplyDefaults(AL_RESOURCE *table) {
  for (AL_RESOURCE *row = table; !EndOfTable(row); ++row) {
    if (State().rank.count(row) == 0 && row->defval != nullptr) {
      Assign(row, row->defval, kDefault, "the default");
    }
  }
}

void ApplyFile(AL_RESOURCE *table, const std::string &abs, int rank) {
  if (abs.empty()) return;
  const ParsedFile &pf = File(abs);
  if (!pf.exists) return;
  for (AL_RESOURCE *row = table; !EndOfTable(row); ++row) {
    std::string value;
    if (Lookup(pf, row->name, &value)) Assign(row, value.c_str(), rank, abs.c_str());
  }
}

std::string EnvName(const AL_RESOURCE *row) {
  if (row->envvar != nullptr && row->envvar[0] != '\0') return row->envvar;
  std::string up = row->name;
  for (char &c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return up;
}

void ApplyEnvironment(AL_RESOURCE *table) {
  for (AL_RESOURCE *row = table; !EndOfTable(row); ++row) {
    if (!(row->type & AL_RES_ENVWIN) && row->envvar == nullptr) continue;
    std::string var = EnvName(row);
    const char *value = std::getenv(var.c_str());
    if (value != nullptr && *value != '\0') Assign(row, value, kEnv, var.c_str());
  }
}

AL_RESOURCE *FindRow(AL_RESOURCE *table, const std::string &name) {
  for (AL_RESOURCE *row = table; !EndOfTable(row); ++row) {
    if (name == row->name) return row;
  }
  return nullptr;
}

}  // namespace

bool al_settings_file_value(const char *name, std::string *value) {
  for (const std::string &abs :
       {UserFilePath(), ProgramFilePath(), AbsolutePath("lib/defaults/all")}) {
    if (!abs.empty() && Lookup(File(abs), name, value)) return true;
  }
  return false;
}

int al_refused_count() { return State().refused; }

namespace {

bool InAnyTable(const std::vector<AL_RESOURCE *> &tables, const std::string &name) {
  for (AL_RESOURCE *t : tables) {
    if (FindRow(t, name) != nullptr) return true;
  }
  return false;
}

// A name without a lower-case letter is taken as a variable that getvar
// reads from the files ("F_ZRDD", "${NAME}" of lib/ipc_info), not as a
// setting of a table.
bool IsVariableName(const std::string &name) {
  for (char c : name) {
    if (std::islower(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// The lines of one file that no setting takes: lines without a name and
// names (of a class that applies) that none of `tables` holds.
void FileProblems(const std::string &abs, const std::vector<AL_RESOURCE *> &tables, bool variables,
                  std::vector<AlSettingsProblem> *out) {
  if (abs.empty()) return;
  const ParsedFile &pf = File(abs);
  if (!pf.exists) return;
  std::map<int, std::string> found;  // by line number
  for (const auto &[line, text] : pf.malformed) {
    found[line] = "\"" + text + "\" is no setting (a setting is \"name: value\") and is ignored";
  }
  for (const FileEntry &e : pf.entries) {
    if (!ClassApplies(e.cls) || InAnyTable(tables, e.name)) continue;
    if (variables && IsVariableName(e.name)) continue;
    found[e.line] = "\"" + e.name + (variables ? "\" is no known setting and is ignored"
                                                : "\" is no setting this file is read for, and is ignored");
  }
  for (auto &[line, text] : found) out->push_back({abs, line, std::move(text)});
}

}  // namespace

std::vector<AlSettingsProblem> al_settings_problems() {
  ResState &st = State();
  std::vector<AlSettingsProblem> problems;
  std::set<std::string> done;
  // The files every registered table reads, which getvar reads too.
  for (const std::string &abs :
       {AbsolutePath("lib/defaults/all"), ProgramFilePath(), UserFilePath()}) {
    if (abs.empty() || !done.insert(abs).second) continue;
    std::vector<AL_RESOURCE *> tables = st.tables;
    auto it = st.specified.find(abs);
    if (it != st.specified.end()) tables.insert(tables.end(), it->second.begin(), it->second.end());
    FileProblems(abs, tables, true, &problems);
  }
  for (const auto &[abs, tables] : st.specified) {
    if (!done.insert(abs).second) continue;
    FileProblems(abs, std::vector<AL_RESOURCE *>(tables.begin(), tables.end()), false, &problems);
  }
  return problems;
}

bool al_setting_is_default(const char *name) {
  ResState &st = State();
  for (AL_RESOURCE *t : st.tables) {
    const AL_RESOURCE *row = FindRow(t, name);
    if (row == nullptr) continue;
    auto it = st.rank.find(row);
    return it == st.rank.end() || it->second == kDefault;
  }
  return false;
}

extern "C" {

void al_settings_files_changed(void) { State().files.clear(); }

int al_load_specified_res(const char *path, AL_RESOURCE *table) {
  if (path == nullptr || *path == '\0' || table == nullptr) {
    errno = EINVAL;
    return -1;
  }
  ApplyDefaults(table);
  std::string abs = AbsolutePath(path);
  const ParsedFile &pf = File(abs);
  if (!pf.exists) {
    errno = ENOENT;
    return -1;
  }
  State().specified[abs].insert(table);
  ApplyFile(table, abs, kSpecified);
  return 0;
}

int al_add_resources(AL_RESOURCE *table) {
  if (table == nullptr) {
    errno = EINVAL;
    return -1;
  }
  ResState &st = State();
  bool known = false;
  for (AL_RESOURCE *t : st.tables) known = known || t == table;
  if (!known) st.tables.push_back(table);
  ApplyDefaults(table);
  ApplyFile(table, AbsolutePath("lib/defaults/all"), kAll);
  ApplyFile(table, ProgramFilePath(), kProgram);
  ApplyFile(table, UserFilePath(), kUser);
  ApplyEnvironment(table);
  return 0;
}

int al_updreses_by_comstring(const char *command, AL_RESOURCE *table) {
  if (command == nullptr) return 0;
  std::vector<AL_RESOURCE *> tables;
  if (table != nullptr) {
    tables.push_back(table);
  } else {
    tables = State().tables;
  }
  int applied = 0;
  const char *p = command;
  while (*p != '\0') {
    const char *nl = std::strchr(p, '\n');
    std::string line = nl != nullptr ? std::string(p, nl) : std::string(p);
    p = nl != nullptr ? nl + 1 : p + line.size();
    FileEntry e;
    if (ParseLine(line, &e) != LineKind::kSetting || !ClassApplies(e.cls)) continue;
    for (AL_RESOURCE *t : tables) {
      AL_RESOURCE *row = FindRow(t, e.name);
      if (row != nullptr && Assign(row, e.value.c_str(), kCommand, "a command")) ++applied;
    }
  }
  return applied;
}

int al_setres_mutfun(const char *name, al_res_mutfun fn, AL_RESOURCE *table) {
  if (name == nullptr || table == nullptr) return -1;
  AL_RESOURCE *row = FindRow(table, name);
  if (row == nullptr) return -1;
  row->mutfun = fn;
  return 0;
}

}  // extern "C"
