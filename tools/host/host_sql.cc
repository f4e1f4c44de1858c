#include "host_sql.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <molvane/datetime.h>
#include <molvane/dd.h>
#include <molvane/sql.h>
#include <molvane/zdb.h>

#include "host_errors.h"
#include "host_values.h"

namespace molvane::host {

// The host variable of one select item: its name, and the text of its value
// in the row being fetched.
struct SqlColumn {
  std::string name;
  std::string cell;
  bool parameter = false;  // the library asked its value: an unbound parameter
};

namespace {

// The statement being executed or fetched: the callbacks have no argument
// of their own to find it.
SqlCommands::Statement *g_current = nullptr;
// The text the error callback received last ("" since the last command).
std::string g_error_text;
// What select-star tables get as their record: the library only hands it back.
unsigned char g_star_record[8];

int OnError(int, char *text) {
  g_error_text = text != nullptr ? text : "";
  return 0;
}

char *OnCreate(char *name, unsigned char *kind, char **record, int *const, unsigned long) {
  if (*kind == 2) {
    *record = reinterpret_cast<char *>(g_star_record);
    return reinterpret_cast<char *>(g_star_record);
  }
  if (g_current == nullptr) return nullptr;
  auto column = std::make_unique<SqlColumn>();
  column->name = name;
  g_current->columns.push_back(std::move(column));
  return reinterpret_cast<char *>(g_current->columns.back().get());
}

// A parameter the script did not bind reached the host: it has no value.
int OnGet(char *var, SqlVal *, unsigned char *, int *) {
  reinterpret_cast<SqlColumn *>(var)->parameter = true;
  return 1;
}

// A fetched field as text, element by element for an array.
void OnPut(char *var, unsigned char *data, unsigned char type, int length, int *dims) {
  if (type == 0 || g_current == nullptr) return;  // a select-star table's record
  auto *column = reinterpret_cast<SqlColumn *>(var);
  int depth = dims != nullptr && dims[0] > 1 ? dims[0] : 1;
  DD_COLUMN field{};
  field.type = type;
  field.depth = static_cast<uint8_t>(depth);
  field.length = static_cast<uint16_t>(length);
  int size = length / depth;
  std::string text;
  for (int i = 0; i < depth; ++i) {
    if (i > 0) text += ",";
    text += ValueText(&field, data + static_cast<std::ptrdiff_t>(i) * size);
  }
  column->cell = text;
  g_current->row.push_back(column);
}

// Sets the current statement for the length of one call.
class Current {
 public:
  explicit Current(SqlCommands::Statement *s) { g_current = s; }
  ~Current() { g_current = nullptr; }
  Current(const Current &) = delete;
  Current &operator=(const Current &) = delete;
};

bool ToInt(const std::string &text, long *value) {
  char *end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0') return false;
  *value = v;
  return true;
}

// The text after the first `words` words of a line.
std::string Rest(const std::string &line, int words) {
  std::size_t at = 0;
  for (int i = 0; i < words; ++i) {
    at = line.find_first_not_of(' ', at);
    at = line.find(' ', at);
    if (at == std::string::npos) return "";
  }
  at = line.find_first_not_of(' ', at);
  return at == std::string::npos ? "" : line.substr(at);
}

std::string Pad(const std::string &text, std::size_t width) {
  return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

void TrimRight(std::string *line) {
  line->erase(line->find_last_not_of(' ') + 1);
}

}  // namespace

SqlCommands::SqlCommands(std::FILE *out) : out_(out) {
  sql_init_func(SQL_FUNC_ERROR, reinterpret_cast<sql_func>(OnError));
  sql_init_func(SQL_FUNC_CRT_EXTVAR, reinterpret_cast<sql_func>(OnCreate));
  sql_init_func(SQL_FUNC_GET_EXTVAR, reinterpret_cast<sql_func>(OnGet));
  sql_init_func(SQL_FUNC_PUT_EXTVAR, reinterpret_cast<sql_func>(OnPut));
}

SqlCommands::~SqlCommands() { CloseAll(); }

void SqlCommands::CloseAll() {
  for (auto &[name, s] : statements_) sql_close(s.handle);
  statements_.clear();
}

bool SqlCommands::Fail(QPCStatement *handle) {
  int err = zdb_errno;
  std::string text = g_error_text;
  int32_t number = 0;
  const char *handle_text = nullptr;
  if (handle != nullptr && sql_get_error(handle, &number, &handle_text) == 0 &&
      handle_text != nullptr && *handle_text != '\0')
    text = handle_text;
  if (err == 0) err = number;
  return PrintError(out_, err, text.empty() ? nullptr : text.c_str());
}

bool SqlCommands::Usage(const std::string &line) {
  std::fprintf(out_, "bad arguments: %s\n", line.c_str());
  return false;
}

bool SqlCommands::Run(const std::vector<std::string> &w, const std::string &line, int session) {
  g_error_text.clear();
  if (w.size() < 2) return Usage(line);
  const std::string &cmd = w[1];
  long n = 0;
  if (cmd == "prepare" && w.size() >= 5 && w[3] == "--ansi")
    return Prepare(w[2], Rest(line, 4), session, SQL_PARSE_ANSI);
  if (cmd == "prepare" && w.size() >= 4) return Prepare(w[2], Rest(line, 3), session);
  if (cmd == "run") {
    if (w.size() < 4 || !ToInt(w[2], &n)) return Usage(line);
    const std::string name = "#run";
    if (!Prepare(name, Rest(line, 3), session)) return false;
    Statement &s = statements_[name];
    bool ok = Exec(s, name, static_cast<int>(n)) &&
              (sql_action_type(s.handle) != SQL_ACTION_SELECT || Fetch(s, -1));
    Close(name);
    return ok;
  }
  static const char *const kWords[] = {"bind",  "exec",  "fetch", "close",   "save",
                                       "retry", "break", "timeout", "rows"};
  if (w.size() < 3 || std::none_of(std::begin(kWords), std::end(kWords),
                                   [&](const char *word) { return cmd == word; }))
    return Usage(line);
  auto found = statements_.find(w[2]);
  if (found == statements_.end() || w[2] == "#run") {
    std::fprintf(out_, "no statement %s\n", w[2].c_str());
    return false;
  }
  Statement &s = found->second;
  if (cmd == "bind" && w.size() == 6) return Bind(s, w);
  if (cmd == "exec" && w.size() == 4 && ToInt(w[3], &n)) return Exec(s, w[2], static_cast<int>(n));
  if (cmd == "fetch" && (w.size() == 3 || (w.size() == 4 && ToInt(w[3], &n) && n >= 0)))
    return Fetch(s, w.size() == 3 ? -1 : n);
  if (cmd == "close" && w.size() == 3) {
    Close(w[2]);
    std::fprintf(out_, "closed %s\n", w[2].c_str());
    return true;
  }
  struct Simple {
    const char *word;
    int (*call)(QPCStatement *);
    const char *done;
  };
  static const Simple kSimple[] = {{"save", sql_save_rpoint, "retry point saved"},
                                   {"retry", sql_retry, "retried"},
                                   {"break", sql_break, "broken"}};
  for (const Simple &simple : kSimple) {
    if (cmd != simple.word || w.size() != 3) continue;
    Current current(&s);
    if (simple.call(s.handle) != 0) return Fail(s.handle);
    std::fprintf(out_, "%s %s\n", simple.done, w[2].c_str());
    return true;
  }
  if (cmd == "rows" && w.size() == 4 && ToInt(w[3], &n)) {
    if (sql_set_rds_full(s.handle, static_cast<int>(n)) != 0) return Fail(s.handle);
    std::fprintf(out_, "rows per fetch %s %ld\n", w[2].c_str(), n);
    return true;
  }
  if (cmd == "timeout" && w.size() == 4 && ToInt(w[3], &n)) {
    if (sql_set_timeout(s.handle, static_cast<int>(n)) != 0) return Fail(s.handle);
    std::fprintf(out_, "timeout %s %ld\n", w[2].c_str(), n);
    return true;
  }
  return Usage(line);
}

bool SqlCommands::Prepare(const std::string &name, const std::string &text, int session,
                          int flags) {
  if (statements_.count(name) != 0) Close(name);
  QPCStatement *handle = sql_parse(text.c_str(), static_cast<unsigned long>(session), flags);
  if (handle == nullptr) return Fail(nullptr);
  statements_[name].handle = handle;
  if (name != "#run")
    std::fprintf(out_, "prepared %s: %s\n", name.c_str(), sql_action(sql_action_type(handle)));
  return true;
}

bool SqlCommands::Bind(Statement &s, const std::vector<std::string> &w) {
  const std::string &name = w[3], &type = w[4], &text = w[5];
  int rc = -1;
  if (type == "int" || type == "date" || type == "time") {
    // Dates bind as their day number, times as seconds since 1970.
    DD_COLUMN field{};
    field.type = type == "int" ? DDT_LONG : type == "date" ? DDT_DATE : DDT_TIME;
    field.length = 4;
    field.depth = 1;
    unsigned char bytes[4];
    std::string why = SetValue(&field, bytes, text);
    if (!why.empty()) {
      std::fprintf(out_, "bad value for %s: %s (%s)\n", name.c_str(), text.c_str(), why.c_str());
      return false;
    }
    int32_t value = static_cast<int32_t>((static_cast<uint32_t>(bytes[0]) << 24) |
                                         (static_cast<uint32_t>(bytes[1]) << 16) |
                                         (static_cast<uint32_t>(bytes[2]) << 8) | bytes[3]);
    rc = sql_bind_input(s.handle, name.c_str(), SQL_TYPE_INTEGER, 4, &value);
  } else if (type == "real") {
    char *end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') {
      std::fprintf(out_, "bad value for %s: %s (not a number)\n", name.c_str(), text.c_str());
      return false;
    }
    rc = sql_bind_input(s.handle, name.c_str(), SQL_TYPE_REAL, 8, &value);
  } else if (type == "string") {
    // "''" stands for the empty string.
    std::string value = text == "''" ? "" : text;
    unsigned char *bytes = reinterpret_cast<unsigned char *>(value.data());
    rc = sql_bind_input(s.handle, name.c_str(), SQL_TYPE_STRING, static_cast<int>(value.size()),
                        &bytes);
  } else if (type == "raw") {
    DD_COLUMN field{};
    field.type = DDT_RAW;
    field.length = static_cast<uint16_t>((text.size() + 1) / 2);
    field.depth = 1;
    std::vector<unsigned char> value(field.length + 1u, 0);
    std::string why = SetValue(&field, value.data(), text);
    if (!why.empty()) {
      std::fprintf(out_, "bad value for %s: %s (%s)\n", name.c_str(), text.c_str(), why.c_str());
      return false;
    }
    unsigned char *bytes = value.data();
    rc = sql_bind_input(s.handle, name.c_str(), SQL_TYPE_RAW, field.length, &bytes);
  } else {
    std::fprintf(out_, "bad type %s (int, real, string, raw, date or time)\n", type.c_str());
    return false;
  }
  if (rc != 0) return Fail(s.handle);
  std::fprintf(out_, "bound %s\n", name.c_str());
  return true;
}

bool SqlCommands::Exec(Statement &s, const std::string &name, int compnr) {
  Current current(&s);
  int rc = sql_exec(s.handle, static_cast<short>(compnr));
  int action = sql_action_type(s.handle);
  if (rc != 0) {
    int32_t number = 0;
    const char *text = nullptr;
    // An UPDATE or DELETE that touched no row is a count of 0.
    if (action != SQL_ACTION_SELECT && zdb_errno == SQL_ERR_NO_ROWS &&
        sql_get_error(s.handle, &number, &text) == 0 && number == SQL_ERR_NO_ROWS) {
      std::fprintf(out_, "0 rows %sd\n", sql_action(action));
      return true;
    }
    return Fail(s.handle);
  }
  if (action == SQL_ACTION_SELECT) {
    if (name != "#run") std::fprintf(out_, "executed %s\n", name.c_str());
  } else {
    int rows = sql_row_count(s.handle);
    std::fprintf(out_, "%d row%s %sd\n", rows, rows == 1 ? "" : "s", sql_action(action));
  }
  return true;
}

bool SqlCommands::Fetch(Statement &s, long limit) {
  Current current(&s);
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> header;
  bool ok = true;
  while (limit < 0 || static_cast<long>(rows.size()) < limit) {
    s.row.clear();
    if (sql_fetch(s.handle) != 0) {
      if (zdb_errno != SQL_ERR_NO_ROWS && zdb_errno != SQL_ERR_NO_MORE_ROWS) ok = false;
      break;
    }
    if (header.empty())
      for (SqlColumn *c : s.row) header.push_back(c->name);
    std::vector<std::string> cells;
    for (SqlColumn *c : s.row) cells.push_back(c->cell);
    rows.push_back(std::move(cells));
  }
  if (header.empty())
    for (const auto &c : s.columns)
      if (!c->parameter) header.push_back(c->name);
  // Every column as wide as its widest cell or name.
  std::vector<std::size_t> width(header.size());
  for (std::size_t i = 0; i < header.size(); ++i) width[i] = header[i].size();
  for (const auto &row : rows)
    for (std::size_t i = 0; i < row.size() && i < width.size(); ++i)
      width[i] = std::max(width[i], row[i].size());
  auto print = [&](const std::vector<std::string> &cells) {
    std::string line;
    for (std::size_t i = 0; i < cells.size() && i < width.size(); ++i)
      line += (i > 0 ? "  " : "") + Pad(cells[i], width[i]);
    TrimRight(&line);
    std::fprintf(out_, "%s\n", line.c_str());
  };
  print(header);
  std::vector<std::string> rule;
  for (std::size_t wd : width) rule.emplace_back(wd, '-');
  print(rule);
  for (const auto &row : rows) print(row);
  std::fprintf(out_, "(%zu row%s)\n", rows.size(), rows.size() == 1 ? "" : "s");
  if (!ok) return Fail(s.handle);
  return true;
}

bool SqlCommands::Close(const std::string &name) {
  auto found = statements_.find(name);
  if (found == statements_.end()) return false;
  sql_close(found->second.handle);
  statements_.erase(found);
  return true;
}

}  // namespace molvane::host
