#include "driver_dd.h"

#include <cctype>
#include <cstdio>

#include "dbc/zdb_errors.h"
#include "driver_conn.h"
#include "platform/log.h"
#include "sql/common/row_field.h"
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

std::string Quote(const std::string &identifier) {
  std::string q = "\"";
  for (char c : identifier) {
    q += c;
    if (c == '"') q += '"';
  }
  return q + "\"";
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

std::vector<std::string> TableStatements(const DdTableDesc &desc, int physical) {
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
    std::string columns;
    for (std::uint16_t p : k.columns)
      for (const std::string &element : ElementNames(desc.columns[p]))
        columns += (columns.empty() ? "" : ", ") + Quote(element);
    if (columns.empty()) continue;
    bool unique = k.index_nr == 1 || k.duplicates == 0;
    statements.push_back(std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX IF NOT EXISTS " +
                         Quote(table + "_i" + std::to_string(k.index_nr)) + " ON " + Quote(table) +
                         " (" + columns + ")");
    // A key with a text column gets a second index in the order the SQL
    // agent compares texts by (blank-padded TSS order, collation mvtss), so
    // that SQLite's planner can use it for equalities, ranges, joins and
    // sorts; the index above keeps the byte-exact uniqueness of the record
    // protocol. The collation's order follows the TSS mode of the process:
    // the index of the other mode is dropped, never used in the wrong order.
    std::string collated;
    bool text = false;
    for (std::uint16_t p : k.columns) {
      bool is_text = SQLTypeOfColumnType(desc.columns[p].type) == SQL_STRING;
      text = text || is_text;
      for (const std::string &element : ElementNames(desc.columns[p]))
        collated += (collated.empty() ? "" : ", ") +
                    (is_text ? "CAST(" + Quote(element) + " AS TEXT) COLLATE mvtss" : Quote(element));
    }
    if (!text) continue;
    int mode = TssGetMode() == TSS_MODE_UTFT ? 2 : 1;
    auto name = [&](int m) {
      return Quote(table + "_c" + std::to_string(m) + "_" + std::to_string(k.index_nr));
    };
    statements.push_back("DROP INDEX IF EXISTS " + name(3 - mode));
    statements.push_back("CREATE INDEX IF NOT EXISTS " + name(mode) + " ON " + Quote(table) + " (" +
                         collated + ")");
  }
  return statements;
}

const DdTableDesc *DdCatalog::Find(const std::string &table, int physical) const {
  auto it = tables_.find({table, physical});
  return it == tables_.end() ? nullptr : &it->second;
}

bool DdCatalog::Add(sqlite3 *db, DdTableDesc desc, int physical, std::string *error) {
  if (desc.columns.empty()) {
    *error = "table " + desc.name + " without columns";
    return false;
  }
  for (const std::string &sql : TableStatements(desc, physical)) {
    char *message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      *error = message != nullptr ? message : "SQLite error";
      sqlite3_free(message);
      return false;
    }
  }
  std::string name = desc.name;
  tables_[{name, physical}] = std::move(desc);
  return true;
}

void DdCatalog::Recreate(sqlite3 *db, const std::string &table, int physical) const {
  const DdTableDesc *desc = Find(table, physical);
  if (desc == nullptr) return;
  for (const std::string &sql : TableStatements(*desc, physical)) {
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
      log_mesg(__FILE__, __LINE__, "driver", 0, "table %s company %03d not created again: %s",
               table.c_str(), physical, sqlite3_errmsg(db));
  }
}

void WriteDdList(WireWriter &out, const std::vector<std::pair<std::string, std::uint16_t>> &tables) {
  out.U32(static_cast<std::uint32_t>(tables.size()));
  for (const auto &[name, compnr] : tables) {
    std::string padded = name.substr(0, 8);
    padded.resize(8, ' ');
    out.Bytes(padded.data(), padded.size()).U16(compnr);
  }
}

void DriverConnection::DdInfoTable(WireReader &in, WireWriter &out) {
  std::uint32_t id = in.U32();
  DdTableDesc desc = ReadTableDesc(in);
  DriverSession *session = SessionFor(id);
  if (session == nullptr) {
    out.U32(ZE_INVALID_SESSION);
    return;
  }
  int physical = PhysicalCompnr(desc.name, desc.compnr);
  std::string name = desc.name;
  std::string error;
  // A table created inside a write transaction goes if the transaction is
  // rolled back; its dictionary stays, so the table is created again then.
  bool in_write = session->active();
  if (!tables_.Add(session->db(), std::move(desc), physical, &error)) {
    // Creating a table is a write: a server connection waits for another
    // session's write transaction and repeats the request (its statements
    // are all "IF NOT EXISTS"); after the wait it is a lock error.
    if ((sqlite3_errcode(session->db()) & 0xFF) == SQLITE_BUSY) {
      if (keeps_lock_waits_ && !wait_over_) throw LockWait{};
      out.U32(ZE_LOCKED);
      return;
    }
    log_mesg(__FILE__, __LINE__, "driver", 0, "table %s company %03d: %s", name.c_str(), physical,
             StorageText(session->db()).c_str());
    std::uint32_t storage = StorageError(sqlite3_errcode(session->db()));
    out.U32(storage != 0 ? storage : ZE_ILLEGAL_STATE);
    return;
  }
  if (in_write) created_in_write_[id].emplace_back(name, physical);
  agent_.DictionaryArrived(name, physical);
  out.U32(0);
}

void DriverConnection::RestoreTables(std::uint32_t id) {
  auto it = created_in_write_.find(id);
  if (it == created_in_write_.end()) return;
  DriverSession *session = store_.Find(id);
  if (session != nullptr && !session->active())
    for (const auto &[name, physical] : it->second) tables_.Recreate(session->db(), name, physical);
  created_in_write_.erase(it);
}

bool DriverConnection::HasDictionary(const std::string &table, int logical) const {
  return tables_.Find(table, PhysicalCompnr(table, logical)) != nullptr;
}

}  // namespace molvane::driver
