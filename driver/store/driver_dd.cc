#include "store/driver_dd.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <sstream>

#include <molvane/datetime.h>

#include "dbc/zdb_errors.h"
#include "platform/big_endian.h"
#include "common/driver_log.h"
#include "sql/common/row_field.h"
#include "sqlite/sqlite_functions.h"
#include "sqlite/sqlite_quote.h"
#include "text/tss.h"

namespace molvane::driver {

namespace {

constexpr std::size_t kMaxName = 255;
constexpr std::uint16_t kMaxColumns = 4096;
constexpr std::uint32_t kMaxWords = 4 * kMaxColumns;

std::uint16_t Count(WireReader &in, std::uint32_t max, const char *what) {
  std::uint16_t n = in.U16();
  if (n > max) throw Malformed(std::string(what) + " count " + std::to_string(n));
  return n;
}

std::vector<std::uint16_t> Positions(WireReader &in, std::size_t columns, const char *what) {
  std::uint16_t n = Count(in, static_cast<std::uint32_t>(columns), what);
  std::vector<std::uint16_t> positions;
  for (std::uint16_t i = 0; i < n; ++i) {
    std::uint16_t p = in.U16();
    if (p >= columns) throw Malformed(std::string(what) + " position beyond the column list");
    positions.push_back(p);
  }
  return positions;
}

std::string Name(WireReader &in, const char *what) {
  std::string name = in.Text(kMaxName);
  if (name.empty()) throw Malformed(std::string("empty ") + what + " name");
  return name;
}


const char *SqliteType(int type) {
  switch (type) {
    case 1: case 2: case 3: case 7: case 8: case 9: case 10: case 11: case 12:
      return "INTEGER";
    case 4: case 5:
      return "REAL";
    default:
      return "BLOB";
  }
}

// The SQLite column names of one dictionary column: one per element.
std::vector<std::string> ElementNames(const DdColumnDesc &column) {
  if (column.depth <= 1) return {column.name};
  std::vector<std::string> names;
  for (int e = 1; e <= column.depth; ++e) names.push_back(column.name + "_" + std::to_string(e));
  return names;
}

}  // namespace

std::size_t DdNumberWidth(std::uint8_t type) {
  switch (type) {
    case 1: case 11: return 1;
    case 2: return 2;
    case 3: case 4: case 7: case 8: case 9: case 10: case 12: return 4;
    case 5: return 8;
    default: return 0;
  }
}

DdTableDesc ReadTableDesc(WireReader &in) {
  DdTableDesc desc;
  std::string name = in.Bytes(9, 9);
  if (name[8] != '\0') throw Malformed("table name without its NUL");
  name.resize(8);
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
      throw Malformed("table name with a byte other than a letter, digit or '_'");
  desc.name = name;
  std::uint16_t columns = Count(in, kMaxColumns, "column");
  std::uint16_t combined = Count(in, kMaxColumns, "combined column");
  std::uint16_t keys = Count(in, kMaxColumns, "key");
  std::uint16_t words = Count(in, kMaxWords, "group word");
  desc.compnr = in.U16();
  std::uint16_t referencing = Count(in, kMaxWords, "referencing entry");
  std::uint16_t references = Count(in, kMaxWords, "reference");
  desc.reference_kinds = in.U16();
  for (std::uint16_t i = 0; i < columns; ++i) {
    DdColumnDesc c;
    c.name = Name(in, "column");
    c.length = in.U16();
    c.offset = in.U16();
    c.type = in.U8();
    c.flags = in.U8();
    c.depth = in.U8();
    c.domain[0] = in.U8();
    c.domain[1] = in.U8();
    // Rows are bound element by element at the width of their type: an
    // element narrower than its number would be read past.
    const std::size_t elements = c.depth > 1 ? c.depth : 1;
    if (c.length / elements < DdNumberWidth(c.type))
      throw Malformed("column " + c.name + " of " + std::to_string(c.length) +
                      " bytes is too short for its type");
    desc.columns.push_back(std::move(c));
  }
  for (std::uint16_t i = 0; i < combined; ++i) {
    std::string cname = Name(in, "combined column");
    desc.combined.emplace_back(std::move(cname), Positions(in, columns, "member"));
  }
  for (std::uint16_t i = 0; i < keys; ++i) {
    DdKeyDesc k;
    k.index_nr = in.U8();
    k.duplicates = in.U8();
    k.a_digit = in.U8();
    k.columns = Positions(in, columns, "key column");
    desc.keys.push_back(std::move(k));
  }
  for (std::uint16_t i = 0; i < words; ++i) desc.groups.push_back(in.U16());
  for (std::uint16_t i = 0; i < referencing; ++i) {
    DdReferenceDesc r;
    r.column = Name(in, "referencing column");
    r.mode = in.U16();
    desc.referenced_by.push_back(std::move(r));
  }
  for (std::uint16_t i = 0; i < references; ++i) {
    DdReferenceDesc r;
    r.column = Name(in, "reference column");
    r.ref_column = Name(in, "referenced column");
    r.mode = in.U16();
    desc.references.push_back(std::move(r));
  }
  return desc;
}

std::string SqliteTableName(const std::string &table, int physical) {
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, "%03d", physical);
  return table + suffix;
}

std::vector<std::string> TableStatements(const DdTableDesc &desc, int physical, int mode) {
  if (mode == 0) mode = CollationMode();
  std::string table = SqliteTableName(desc.name, physical);
  std::string create = "CREATE TABLE IF NOT EXISTS " + Quote(table) + " (";
  bool first = true;
  for (const DdColumnDesc &c : desc.columns) {
    for (const std::string &element : ElementNames(c)) {
      if (!first) create += ", ";
      first = false;
      create += Quote(element) + " " + SqliteType(c.type);
    }
  }
  create += ")";
  std::vector<std::string> statements{create};
  for (const DdKeyDesc &k : desc.keys) {
    // The key's index orders its text columns as the SQL agent of a mode
    // compares texts (blank-padded TSS order), so that SQLite's planner can
    // use it for equalities, ranges, joins and sorts. Mode 1 is the order of
    // the stored bytes, refined by bytes where a NUL ends a text
    // (sqlite_functions.h), so that one index serves both the record
    // protocol's byte-exact keys (and their uniqueness) and the agent of
    // mode 1. Mode 2 orders otherwise: a host of mode 2 adds an index of its
    // own, which every writer then keeps in order as well.
    std::string columns[3];
    bool text = false;
    for (std::uint16_t p : k.columns) {
      bool is_text = SQLTypeOfColumnType(desc.columns[p].type) == SQL_STRING;
      text = text || is_text;
      for (const std::string &element : ElementNames(desc.columns[p]))
        for (int m : {1, 2})
          columns[m] += (columns[m].empty() ? "" : ", ") + (is_text ? CollatedText(Quote(element), m) : Quote(element));
    }
    if (columns[1].empty()) continue;
    bool unique = k.index_nr == 1 || k.duplicates == 0;
    statements.push_back(std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX IF NOT EXISTS " +
                         Quote(table + "_i" + std::to_string(k.index_nr)) + " ON " + Quote(table) + " (" +
                         columns[1] + ")");
    if (text && mode == TSS_MODE_UTFT)
      statements.push_back("CREATE INDEX IF NOT EXISTS " +
                           Quote(table + "_c2_" + std::to_string(k.index_nr)) + " ON " + Quote(table) +
                           " (" + columns[2] + ")");
  }
  return statements;
}

namespace {

// The text SQLite keeps in sqlite_master for a CREATE ... IF NOT EXISTS.
std::string StoredText(std::string sql) {
  static const std::string kIfNotExists = "IF NOT EXISTS ";
  if (std::size_t at = sql.find(kIfNotExists); at != std::string::npos) sql.erase(at, kIfNotExists.size());
  return sql;
}

// The indexes of a table that must go before `statements` create them
// anew: one of the same name made otherwise (by an older driver: the key
// index in byte order, a collated index in the order of the process that
// wrote it), and the mode-1 collated index of older files, which the key's
// own index now is.
std::vector<std::string> StaleIndexes(sqlite3 *db, const std::string &table,
                                      const std::vector<std::string> &statements) {
  std::map<std::string, std::string> wanted;
  for (const std::string &sql : statements) {
    static const std::string kIndex = "INDEX IF NOT EXISTS \"";
    std::size_t at = sql.find(kIndex);
    if (at == std::string::npos) continue;
    std::size_t from = at + kIndex.size();
    wanted[sql.substr(from, sql.find('"', from) - from)] = StoredText(sql);
  }
  std::vector<std::string> stale;
  sqlite3_stmt *stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT name, sql FROM sqlite_master WHERE type = 'index' AND tbl_name = ?1",
                         -1, &stmt, nullptr) != SQLITE_OK)
    return stale;
  sqlite3_bind_text(stmt, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    const char *name = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
    const char *sql = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1));
    if (name == nullptr || sql == nullptr) continue;
    auto it = wanted.find(name);
    if (it != wanted.end() ? it->second != sql : std::string(name).rfind(table + "_c1_", 0) == 0)
      stale.push_back(name);
  }
  sqlite3_finalize(stmt);
  return stale;
}

// Runs `sql`; false with SQLite's message in *error when it fails.
bool Exec(sqlite3 *db, const std::string &sql, std::string *error) {
  char *message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  *error = message != nullptr ? message : "SQLite error";
  sqlite3_free(message);
  return false;
}

// Runs the statements that make a table and its indexes as `desc` wants
// them, dropping stale indexes first. Each statement may be repeated (a
// failed run is simply run again, as a server does after a lock wait), and
// an index made after a drop holds every row there is then. False with the
// error text when SQLite refuses; sqlite3_errcode tells why.
bool MakeTable(sqlite3 *db, const DdTableDesc &desc, int physical, std::string *error) {
  std::vector<std::string> statements = TableStatements(desc, physical);
  std::vector<std::string> stale = StaleIndexes(db, SqliteTableName(desc.name, physical), statements);
  for (std::size_t i = 0; i < stale.size(); ++i)
    statements.insert(statements.begin() + 1 + static_cast<long>(i), "DROP INDEX IF EXISTS " + Quote(stale[i]));
  for (const std::string &sql : statements)
    if (!Exec(db, sql, error)) return false;
  return true;
}

// Records the layout of an SQLite table beside it, unless one is there.
bool RecordLayout(sqlite3 *db, const std::string &table, const std::string &layout, std::string *error) {
  if (!Exec(db, "CREATE TABLE IF NOT EXISTS molvane_table_layout (name TEXT PRIMARY KEY, layout TEXT NOT NULL)",
            error))
    return false;
  sqlite3_stmt *stmt = nullptr;
  int rc = sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO molvane_table_layout VALUES (?1, ?2)", -1, &stmt, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_text(stmt, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, layout.c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(stmt) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db);
  }
  sqlite3_finalize(stmt);
  if (rc == SQLITE_OK) return true;
  *error = sqlite3_errmsg(db);
  return false;
}

}  // namespace

int ServedModes(sqlite3 *db) {
  sqlite3_stmt *stmt = nullptr;
  int served = -1;
  if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW)
    served = sqlite3_column_int(stmt, 0);
  sqlite3_finalize(stmt);
  return served;
}

bool PrepareDatabaseFile(sqlite3 *db, int mode, std::string *error) {
  std::vector<std::string> legacy;
  sqlite3_stmt *stmt = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT name FROM sqlite_master WHERE type = 'index' AND "
                         "(sql LIKE '%COLLATE mvtss)%' OR sql LIKE '%COLLATE mvtss,%')",
                         -1, &stmt, nullptr) != SQLITE_OK) {
    *error = sqlite3_errmsg(db);
    return false;
  }
  while (sqlite3_step(stmt) == SQLITE_ROW)
    legacy.emplace_back(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
  sqlite3_finalize(stmt);
  const int served = std::max(ServedModes(db), 0);
  const int bit = mode == TSS_MODE_UTFT ? kServesMode2 : kServesMode1;
  if (legacy.empty() && (served & bit) != 0) return true;
  std::string sql = "BEGIN IMMEDIATE;";
  for (const std::string &name : legacy) sql += "DROP INDEX IF EXISTS " + Quote(name) + ";";
  sql += "PRAGMA user_version = " + std::to_string(served | bit) + ";COMMIT";
  if (Exec(db, sql, error)) return true;
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

namespace {

// Names are kept whole in a layout line: a backslash and a line end are
// escaped, so that the text of two layouts is equal only when they are.
std::string EscapeName(const std::string &name) {
  std::string out;
  for (char c : name) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

struct LayoutColumn {
  std::string name;   // as escaped in the layout
  std::string shape;  // offset, length, type and depth
};

struct LayoutKey {
  std::string number;
  std::string shape;  // duplicates and column positions
};

// The columns and keys of a layout text (DdLayout's lines).
void ParseLayout(const std::string &layout, std::vector<LayoutColumn> *columns,
                 std::vector<LayoutKey> *keys) {
  std::istringstream in(layout);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 2) continue;
    std::string rest = line.substr(2);
    if (line[0] == 'c') {
      // "c OFFSET LENGTH TYPE DEPTH NAME"
      std::size_t cut = 0;
      for (int field = 0; field < 4 && cut != std::string::npos; ++field) cut = rest.find(' ', cut + (field > 0));
      if (cut == std::string::npos) continue;
      columns->push_back({rest.substr(cut + 1), rest.substr(0, cut)});
    } else if (line[0] == 'k') {
      std::size_t cut = rest.find(' ');
      keys->push_back({rest.substr(0, cut), cut == std::string::npos ? "" : rest.substr(cut + 1)});
    }
  }
}

std::string ShapeText(const std::string &shape) {
  unsigned offset = 0, length = 0, type = 0, depth = 0;
  if (std::sscanf(shape.c_str(), "%u %u %u %u", &offset, &length, &type, &depth) != 4) return shape;
  return "offset " + std::to_string(offset) + ", length " + std::to_string(length) + ", type " +
         std::to_string(type) + (depth > 1 ? ", depth " + std::to_string(depth) : "");
}

std::string KeyText(const std::string &shape, const std::vector<LayoutColumn> &columns) {
  std::istringstream in(shape);
  unsigned duplicates = 0;
  in >> duplicates;
  std::string text = "(";
  std::size_t p = 0;
  bool first = true;
  while (in >> p) {
    text += first ? "" : ", ";
    first = false;
    text += p < columns.size() ? columns[p].name : "?";
  }
  return text + (duplicates != 0 ? ") with duplicates" : ")");
}

const char kMine[] = "this host's dictionary";
const char kTheirs[] = "the database's table";

std::string Placed(const std::vector<LayoutColumn> &columns, std::size_t i) {
  return i == 0 ? " first" : " after " + columns[i - 1].name;
}

bool Named(const std::vector<LayoutColumn> &columns, const std::string &name) {
  return std::any_of(columns.begin(), columns.end(), [&](const LayoutColumn &c) { return c.name == name; });
}

std::atomic<std::uint64_t> g_generations{0};

// The layout recorded beside the table in the database: true with *layout
// when there is one.
bool RecordedLayout(sqlite3 *db, const std::string &table, std::string *layout) {
  sqlite3_stmt *stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT layout FROM molvane_table_layout WHERE name = ?1", -1, &stmt,
                         nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return false;  // no table of layouts yet
  }
  sqlite3_bind_text(stmt, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  bool found = sqlite3_step(stmt) == SQLITE_ROW;
  if (found) {
    const unsigned char *text = sqlite3_column_text(stmt, 0);
    *layout = text != nullptr ? reinterpret_cast<const char *>(text) : "";
  }
  sqlite3_finalize(stmt);
  return found;
}

// The SQLite column names of a table already in the database (made by a
// driver that recorded no layout); empty when the table is not there.
std::vector<std::string> StoredColumns(sqlite3 *db, const std::string &table) {
  std::vector<std::string> names;
  sqlite3_stmt *stmt = nullptr;
  std::string sql = "PRAGMA table_info(" + Quote(table) + ")";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK)
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      const unsigned char *name = sqlite3_column_text(stmt, 1);
      names.push_back(name != nullptr ? reinterpret_cast<const char *>(name) : "");
    }
  sqlite3_finalize(stmt);
  return names;
}

// A layout of SQLite column names only, for DdLayoutDifference.
std::string NamesLayout(const std::vector<std::string> &names) {
  std::string layout;
  for (const std::string &n : names) layout += "c 0 0 0 0 " + EscapeName(n) + "\n";
  return layout;
}


std::string TrimmedName(const std::string &name) {
  std::string t = name;
  while (!t.empty() && t.back() == ' ') t.pop_back();
  return t;
}

}  // namespace

std::string DdLayout(const DdTableDesc &desc) {
  std::string layout;
  for (const DdColumnDesc &c : desc.columns)
    layout += "c " + std::to_string(c.offset) + " " + std::to_string(c.length) + " " +
              std::to_string(c.type) + " " + std::to_string(c.depth) + " " + EscapeName(c.name) + "\n";
  for (const DdKeyDesc &k : desc.keys) {
    layout += "k " + std::to_string(k.index_nr) + " " + std::to_string(k.duplicates);
    for (std::uint16_t p : k.columns) (layout += ' ') += std::to_string(p);
    layout += "\n";
  }
  return layout;
}

std::string DdLayoutDifference(const std::string &mine, const std::string &theirs) {
  if (mine == theirs) return "";
  std::vector<LayoutColumn> mc, tc;
  std::vector<LayoutKey> mk, tk;
  ParseLayout(mine, &mc, &mk);
  ParseLayout(theirs, &tc, &tk);
  std::size_t n = std::min(mc.size(), tc.size());
  for (std::size_t i = 0; i <= n; ++i) {
    bool m_end = i == mc.size(), t_end = i == tc.size();
    if (m_end && t_end) break;
    if (!m_end && !t_end && mc[i].name == tc[i].name) {
      if (mc[i].shape != tc[i].shape)
        return "column " + mc[i].name + " has " + ShapeText(mc[i].shape) + " in " + kMine + ", " +
               ShapeText(tc[i].shape) + " in " + kTheirs;
      continue;
    }
    if (!m_end && (t_end || !Named(tc, mc[i].name)))
      return std::string(kMine) + " has column " + mc[i].name + Placed(mc, i) + "; " + kTheirs + " has none";
    if (!t_end && (m_end || !Named(mc, tc[i].name)))
      return std::string(kTheirs) + " has column " + tc[i].name + Placed(tc, i) + "; " + kMine + " has none";
    return std::string(kMine) + " has column " + mc[i].name + Placed(mc, i) + "; " + kTheirs + " has " +
           tc[i].name + " there";
  }
  for (const LayoutKey &k : mk) {
    auto other = std::find_if(tk.begin(), tk.end(), [&](const LayoutKey &t) { return t.number == k.number; });
    if (other == tk.end())
      return std::string(kMine) + " has key " + k.number + " " + KeyText(k.shape, mc) + "; " + kTheirs +
             " has none";
    if (other->shape != k.shape)
      return "key " + k.number + " is " + KeyText(k.shape, mc) + " in " + kMine + ", " +
             KeyText(other->shape, tc) + " in " + kTheirs;
  }
  for (const LayoutKey &k : tk)
    if (std::none_of(mk.begin(), mk.end(), [&](const LayoutKey &m) { return m.number == k.number; }))
      return std::string(kTheirs) + " has key " + k.number + " " + KeyText(k.shape, tc) + "; " + kMine +
             " has none";
  return "the layouts differ";
}

const DdTableDesc *DdCatalog::Find(const std::string &table, int physical, const void *holder) const {
  auto it = tables_.find({table, physical});
  if (it == tables_.end()) return nullptr;
  if (holder != nullptr && it->second.holders.count(holder) == 0) return nullptr;
  return &it->second.desc;
}

void DdCatalog::Forget(const void *holder) {
  for (auto &[key, entry] : tables_) entry.holders.erase(holder);
}

bool DdCatalog::Add(sqlite3 *db, DdTableDesc desc, int physical, std::string *error,
                    const void *holder, bool *refused, bool make) {
  if (refused != nullptr) *refused = false;
  if (desc.columns.empty()) {
    *error = "table " + desc.name + " without columns";
    return false;
  }
  const std::string table = SqliteTableName(desc.name, physical);
  const std::string layout = DdLayout(desc);
  auto refuse = [&](const std::string &difference) {
    *error = TrimmedName(desc.name) + ": " + difference + "; ALTER_TABLE is not supported";
    if (refused != nullptr) *refused = true;
    return false;
  };
  // What another connection sent, and what the database holds, decide the
  // layout; a description is checked against both before anything changes.
  auto kept = tables_.find({desc.name, physical});
  if (kept != tables_.end() && kept->second.layout != layout)
    return refuse(DdLayoutDifference(layout, kept->second.layout));
  std::string recorded;
  bool has_record = RecordedLayout(db, table, &recorded);
  if (has_record && recorded != layout) return refuse(DdLayoutDifference(layout, recorded));
  if (!has_record) {
    // A table made before layouts were recorded: its columns must be the
    // description's.
    std::vector<std::string> stored = StoredColumns(db, table);
    std::vector<std::string> wanted;
    for (const DdColumnDesc &c : desc.columns)
      for (const std::string &element : ElementNames(c)) wanted.push_back(element);
    if (!stored.empty() && stored != wanted)
      return refuse(DdLayoutDifference(NamesLayout(wanted), NamesLayout(stored)));
  }
  if (make && !MakeTable(db, desc, physical, error)) return false;
  if (make && !has_record) {
    if (!RecordLayout(db, table, layout, error)) return false;
    // Another driver on the file may have recorded its layout first.
    if (RecordedLayout(db, table, &recorded) && recorded != layout)
      return refuse(DdLayoutDifference(layout, recorded));
  }
  if (kept == tables_.end()) {
    desc.generation = ++g_generations;
    Entry &entry = tables_[{desc.name, physical}];
    entry.desc = std::move(desc);
    entry.layout = layout;
    if (holder != nullptr) entry.holders.insert(holder);
    return true;
  }
  Entry &entry = kept->second;
  if (holder != nullptr) entry.holders.insert(holder);
  desc.generation = entry.desc.generation;
  if (!(desc == entry.desc)) {
    // Objects built from the kept description see the new generation and
    // are rebuilt; none keeps a reference into it.
    desc.generation = ++g_generations;
    entry.desc = std::move(desc);
  }
  return true;
}

bool DdCatalog::Recreate(sqlite3 *db, const std::string &table, int physical) const {
  auto it = tables_.find({table, physical});
  if (it == tables_.end()) return true;
  std::string error;
  if (!MakeTable(db, it->second.desc, physical, &error)) {
    // Another session's write transaction is the caller's to wait for.
    if ((sqlite3_errcode(db) & 0xFF) != SQLITE_BUSY)
      DriverLog(__FILE__, __LINE__, 0, "table %s company %03d not created: %s", table.c_str(),
                physical, error.c_str());
    return false;
  }
  if (!RecordLayout(db, SqliteTableName(table, physical), it->second.layout, &error)) {
    DriverLog(__FILE__, __LINE__, 0, "layout of table %s company %03d not recorded: %s", table.c_str(),
              physical, error.c_str());
    return false;
  }
  return true;
}

void WriteDdList(WireWriter &out, const std::vector<std::pair<std::string, std::uint16_t>> &tables) {
  out.U32(static_cast<std::uint32_t>(tables.size()));
  for (const auto &[name, compnr] : tables) {
    std::string padded = name.substr(0, 8);
    padded.resize(8, ' ');
    out.Bytes(padded.data(), padded.size()).U16(compnr);
  }
}

std::string KeyText(const DdTableDesc &desc, const std::vector<std::size_t> &parts,
                    const std::string &bytes) {
  std::string text;
  std::size_t at = 0;
  for (std::size_t p : parts) {
    const DdColumnDesc &c = desc.columns[p];
    if (at + c.length > bytes.size()) break;
    const auto *v = reinterpret_cast<const std::uint8_t *>(bytes.data()) + at;
    at += c.length;
    if (!text.empty()) text += ", ";
    char buf[64];
    switch (c.type) {
      case 1: case 11: std::snprintf(buf, sizeof buf, "%u", v[0]); break;
      case 2: std::snprintf(buf, sizeof buf, "%d", static_cast<std::int16_t>((v[0] << 8) | v[1])); break;
      case 3: case 7: case 8: case 9: case 10: case 12: std::snprintf(buf, sizeof buf, "%d", LoadBig32(v)); break;
      case 4: std::snprintf(buf, sizeof buf, "%g", float_out(v)); break;
      case 5: std::snprintf(buf, sizeof buf, "%g", double_out(v)); break;
      case 6: case 14: {
        std::size_t n = c.length;
        while (n > 0 && (v[n - 1] == ' ' || v[n - 1] == 0)) --n;
        text.append(reinterpret_cast<const char *>(v), n);
        continue;
      }
      default:
        for (std::size_t i = 0; i < c.length; ++i) {
          std::snprintf(buf, sizeof buf, "%02x", v[i]);
          text += buf;
        }
        continue;
    }
    text += buf;
  }
  return text;
}

}  // namespace molvane::driver
