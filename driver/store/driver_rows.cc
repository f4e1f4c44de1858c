#include "store/driver_rows.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include <molvane/datetime.h>

#include "store/driver_store.h"
#include "sql/common/row_field.h"
#include "sqlite/sqlite_functions.h"
#include "sqlite/sqlite_quote.h"
#include "text/tss.h"

namespace molvane::driver {

namespace {

// How the elements of a column are kept.
enum class Kind : std::uint8_t { kByte, kShort, kLong, kFloat, kDouble, kBytes };

Kind KindOf(std::uint8_t type) {
  switch (type) {
    case 1: case 11: return Kind::kByte;
    case 2: return Kind::kShort;
    case 3: case 7: case 8: case 9: case 10: case 12: return Kind::kLong;
    case 4: return Kind::kFloat;
    case 5: return Kind::kDouble;
    default: return Kind::kBytes;
  }
}

int Elements(const DdColumnDesc &c) { return c.depth > 1 ? c.depth : 1; }
std::size_t ElementSize(const DdColumnDesc &c) { return c.length / Elements(c); }

std::int32_t GetI32(const std::uint8_t *p) {
  return static_cast<std::int32_t>((std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3]);
}
void PutI32(std::uint8_t *p, std::int64_t value) {
  auto v = static_cast<std::uint32_t>(value);
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

void BindElement(sqlite3_stmt *stmt, int index, Kind kind, const std::uint8_t *p, std::size_t size) {
  switch (kind) {
    case Kind::kByte: sqlite3_bind_int(stmt, index, p[0]); break;
    case Kind::kShort: sqlite3_bind_int(stmt, index, static_cast<std::int16_t>((p[0] << 8) | p[1])); break;
    case Kind::kLong: sqlite3_bind_int(stmt, index, GetI32(p)); break;
    case Kind::kFloat: sqlite3_bind_double(stmt, index, float_out(p)); break;
    case Kind::kDouble: sqlite3_bind_double(stmt, index, double_out(p)); break;
    case Kind::kBytes:
      // The image outlives the step; the next use binds anew.
      sqlite3_bind_blob(stmt, index, p, static_cast<int>(size), SQLITE_STATIC);
      break;
  }
}

void ReadElement(sqlite3_stmt *stmt, int index, Kind kind, std::uint8_t *p, std::size_t size) {
  switch (kind) {
    case Kind::kByte: p[0] = static_cast<std::uint8_t>(sqlite3_column_int(stmt, index)); break;
    case Kind::kShort: {
      auto v = static_cast<std::uint16_t>(sqlite3_column_int(stmt, index));
      p[0] = static_cast<std::uint8_t>(v >> 8);
      p[1] = static_cast<std::uint8_t>(v);
      break;
    }
    case Kind::kLong: PutI32(p, sqlite3_column_int64(stmt, index)); break;
    case Kind::kFloat: float_in(sqlite3_column_double(stmt, index), p); break;
    case Kind::kDouble: double_in(sqlite3_column_double(stmt, index), p); break;
    case Kind::kBytes: {
      const void *blob = sqlite3_column_blob(stmt, index);
      std::size_t n = std::min<std::size_t>(size, static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)));
      std::memset(p, ' ', size);
      if (blob != nullptr) std::memcpy(p, blob, n);
      break;
    }
  }
}

// A condition on one element: a text compares in the order of its key's
// index (driver_dd.h), where values of one length are equal exactly when
// their bytes are, so that the index serves the search.
std::string EqualsParameter(const DdColumnDesc &c, const std::string &element) {
  if (SQLTypeOfColumnType(c.type) != SQL_STRING) return element + " = ?";
  return CollatedText(element, TSS_MODE_CLASSIC) + " = CAST(? AS TEXT)";
}

}  // namespace

std::vector<std::size_t> ColumnsNamed(const DdTableDesc &desc, const std::vector<std::string> &names) {
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < desc.columns.size(); ++i)
    for (const std::string &n : names)
      if (strcasecmp(desc.columns[i].name.c_str(), n.c_str()) == 0) found.push_back(i);
  return found;
}

TableRows::TableRows(sqlite3 *db, const DdTableDesc &desc, int physical)
    : db_(db), desc_(desc), physical_(physical), table_(Quote(SqliteTableName(desc.name, physical))) {
  for (const DdColumnDesc &c : desc.columns) {
    image_length_ = std::max<std::size_t>(image_length_, std::size_t{c.offset} + c.length);
    if (c.depth <= 1) {
      elements_.push_back(Quote(c.name));
    } else {
      for (int e = 1; e <= c.depth; ++e) elements_.push_back(Quote(c.name + "_" + std::to_string(e)));
    }
  }
  auto elements_of = [](const DdColumnDesc &c, std::size_t at, std::vector<Element> *out) {
    const auto size = static_cast<std::uint32_t>(ElementSize(c));
    for (int e = 0; e < Elements(c); ++e)
      out->push_back({static_cast<std::uint8_t>(KindOf(c.type)), static_cast<std::uint32_t>(at + e * size), size});
  };
  for (const DdColumnDesc &c : desc.columns) elements_of(c, c.offset, &image_elements_);
  for (const DdKeyDesc &k : desc.keys) {
    if (k.index_nr != 1) continue;
    key_columns_.assign(k.columns.begin(), k.columns.end());
    for (std::size_t p : key_columns_) {
      elements_of(desc.columns[p], key_length_, &key_elements_);
      key_length_ += desc.columns[p].length;
    }
  }
}

TableRows::~TableRows() {
  for (sqlite3_stmt *stmt : {insert_, find_, find_rowid_, replace_, delete_, count_}) sqlite3_finalize(stmt);
  for (auto &[columns, stmt] : matching_) sqlite3_finalize(stmt);
  for (auto &[elements, set] : replace_changed_) sqlite3_finalize(set.stmt);
}

std::string TableRows::KeyOf(const std::uint8_t *image) const {
  std::string key;
  for (std::size_t p : key_columns_) {
    const DdColumnDesc &c = desc_.columns[p];
    key.append(reinterpret_cast<const char *>(image) + c.offset, c.length);
  }
  return key;
}

int TableRows::Fail(int number) {
  // A storage failure gets its own number and names the file.
  if (std::uint32_t storage = StorageError(sqlite3_errcode(db_)); storage != 0) {
    error_ = StorageText(db_);
    return static_cast<int>(storage);
  }
  error_ = sqlite3_errmsg(db_);
  return number;
}

sqlite3_stmt *TableRows::PrepareNew(sqlite3_stmt **slot, const std::string &sql) {
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, slot, nullptr) != SQLITE_OK) {
    error_ = sqlite3_errmsg(db_);
    sqlite3_finalize(*slot);
    *slot = nullptr;
  }
  return *slot;
}

void TableRows::BindElements(sqlite3_stmt *stmt, const std::vector<Element> &elements,
                             const std::uint8_t *bytes, int first) {
  int index = first;
  for (const Element &e : elements) BindElement(stmt, index++, Kind{e.kind}, bytes + e.offset, e.size);
}

void TableRows::BindImage(sqlite3_stmt *stmt, const std::uint8_t *image, int first) {
  BindElements(stmt, image_elements_, image, first);
}

void TableRows::BindKey(sqlite3_stmt *stmt, const std::string &key, int first) {
  BindElements(stmt, key_elements_, reinterpret_cast<const std::uint8_t *>(key.data()), first);
}

void TableRows::ReadImage(sqlite3_stmt *stmt, int first, std::uint8_t *image) {
  int index = first;
  for (const Element &e : image_elements_) ReadElement(stmt, index++, Kind{e.kind}, image + e.offset, e.size);
}

int TableRows::Step(sqlite3_stmt *stmt) {
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE || rc == SQLITE_ROW) {
    sqlite3_reset(stmt);
    return 0;
  }
  if (rc == SQLITE_CONSTRAINT) {
    error_ = sqlite3_errmsg(db_);
    sqlite3_reset(stmt);
    return 100;
  }
  int number = Fail();
  sqlite3_reset(stmt);
  return number;
}

int TableRows::Insert(const std::uint8_t *image) {
  sqlite3_stmt *stmt = Prepare(&insert_, [this] {
    std::string names, marks;
    for (const std::string &e : elements_) {
      names += (names.empty() ? "" : ", ") + e;
      marks += marks.empty() ? "?" : ", ?";
    }
    return "INSERT INTO " + table_ + " (" + names + ") VALUES (" + marks + ")";
  });
  if (stmt == nullptr) return 215;
  BindImage(stmt, image, 1);
  return Step(stmt);
}

std::string TableRows::SelectRows(const std::string &condition) const {
  std::string names;
  for (const std::string &e : elements_) names += ", " + e;
  return "SELECT rowid" + names + " FROM " + table_ + condition;
}

std::string TableRows::EqualsParameters(const std::vector<std::size_t> &columns) const {
  std::string where;
  for (std::size_t p : columns) {
    std::size_t first = 0;  // the column's first SQLite element
    for (std::size_t q = 0; q < p; ++q) first += Elements(desc_.columns[q]);
    for (int e = 0; e < Elements(desc_.columns[p]); ++e)
      where += (where.empty() ? "" : " AND ") + EqualsParameter(desc_.columns[p], elements_[first + e]);
  }
  return where;
}

int TableRows::StepOne(sqlite3_stmt *stmt, std::vector<std::uint8_t> *image, sqlite3_int64 *rowid) {
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) {
    sqlite3_reset(stmt);
    return 111;
  }
  if (rc != SQLITE_ROW) {
    int number = Fail();
    sqlite3_reset(stmt);
    return number;
  }
  if (rowid != nullptr) *rowid = sqlite3_column_int64(stmt, 0);
  if (image != nullptr) {
    image->assign(image_length_, 0);
    ReadImage(stmt, 1, image->data());
  }
  sqlite3_reset(stmt);
  return 0;
}

int TableRows::Find(const std::string &key, std::vector<std::uint8_t> *image, sqlite3_int64 *rowid) {
  if (!has_key() || key.size() != key_length_) return 102;
  sqlite3_stmt *stmt = Prepare(&find_, [this] { return SelectRows(" WHERE " + EqualsParameters(key_columns_)); });
  if (stmt == nullptr) return Missing() ? 111 : 215;
  BindKey(stmt, key, 1);
  return StepOne(stmt, image, rowid);
}

int TableRows::FindRowid(sqlite3_int64 rowid, std::vector<std::uint8_t> *image) {
  sqlite3_stmt *stmt = Prepare(&find_rowid_, [this] { return SelectRows(" WHERE rowid = ?"); });
  if (stmt == nullptr) return 215;
  sqlite3_bind_int64(stmt, 1, rowid);
  return StepOne(stmt, image, nullptr);
}

int TableRows::Replace(sqlite3_int64 rowid, const std::uint8_t *image, const std::uint8_t *before) {
  std::vector<std::size_t> differ;
  if (before != nullptr)
    for (std::size_t i = 0; i < image_elements_.size(); ++i) {
      const Element &e = image_elements_[i];
      if (std::memcmp(image + e.offset, before + e.offset, e.size) != 0) differ.push_back(i);
    }
  // Nothing differs, or every element does: the whole row is written.
  auto known = replace_changed_.find(differ);
  const bool partial = !differ.empty() && differ.size() < image_elements_.size() &&
                       (known != replace_changed_.end() || replace_changed_.size() < kMaxChangedSets);
  if (partial) {
    ChangedSet &set = replace_changed_[differ];
    sqlite3_stmt *stmt = Prepare(&set.stmt, [&] {
      std::string sets;
      for (std::size_t i : differ) {
        sets += (sets.empty() ? "" : ", ") + elements_[i] + " = ?";
        set.elements.push_back(image_elements_[i]);
      }
      return "UPDATE " + table_ + " SET " + sets + " WHERE rowid = ?";
    });
    if (stmt == nullptr) {
      replace_changed_.erase(differ);
      return 215;
    }
    BindElements(stmt, set.elements, image, 1);
    sqlite3_bind_int64(stmt, static_cast<int>(set.elements.size()) + 1, rowid);
    return Step(stmt);
  }
  sqlite3_stmt *stmt = Prepare(&replace_, [this] {
    std::string sets;
    for (const std::string &e : elements_) sets += (sets.empty() ? "" : ", ") + e + " = ?";
    return "UPDATE " + table_ + " SET " + sets + " WHERE rowid = ?";
  });
  if (stmt == nullptr) return 215;
  BindImage(stmt, image, 1);
  sqlite3_bind_int64(stmt, static_cast<int>(elements_.size()) + 1, rowid);
  return Step(stmt);
}

int TableRows::Delete(sqlite3_int64 rowid) {
  sqlite3_stmt *stmt = Prepare(&delete_, [this] { return "DELETE FROM " + table_ + " WHERE rowid = ?"; });
  if (stmt == nullptr) return 215;
  sqlite3_bind_int64(stmt, 1, rowid);
  return Step(stmt);
}

int TableRows::Count(std::uint32_t *count) {
  sqlite3_stmt *stmt = Prepare(&count_, [this] { return "SELECT count(*) FROM " + table_; });
  if (stmt == nullptr) return 215;
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) *count = static_cast<std::uint32_t>(sqlite3_column_int64(stmt, 0));
  int number = rc == SQLITE_ROW ? 0 : Fail();
  sqlite3_reset(stmt);
  return number;
}

int TableRows::Clear() {
  return sqlite3_exec(db_, ("DELETE FROM " + table_).c_str(), nullptr, nullptr, nullptr) == SQLITE_OK
             ? 0
             : Fail();
}

int TableRows::Drop() {
  // The kept statements name the table: they go with it.
  for (sqlite3_stmt **stmt : {&insert_, &find_, &find_rowid_, &replace_, &delete_, &count_}) {
    sqlite3_finalize(*stmt);
    *stmt = nullptr;
  }
  for (auto &[columns, stmt] : matching_) sqlite3_finalize(stmt);
  matching_.clear();
  for (auto &[elements, set] : replace_changed_) sqlite3_finalize(set.stmt);
  replace_changed_.clear();
  if (sqlite3_exec(db_, ("DROP TABLE IF EXISTS " + table_).c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
    return Fail();
  // A table is made at its first use in a company, so one never made reads
  // as empty; a dropped one is made anew at once and reads the same, for
  // every session and host on the file.
  return Create();
}

int TableRows::Create() {
  for (const std::string &sql : TableStatements(desc_, physical_))
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return Fail();
  return 0;
}

int TableRows::Matching(const std::vector<std::size_t> &columns, const std::uint8_t *values,
                        std::size_t limit, std::vector<Found> *rows) {
  sqlite3_stmt *&slot = matching_[columns];
  sqlite3_stmt *stmt = Prepare(&slot, [&] {
    return SelectRows(columns.empty() ? std::string() : " WHERE " + EqualsParameters(columns));
  });
  if (stmt == nullptr) {
    matching_.erase(columns);
    return Missing() ? 506 : 215;
  }
  int index = 1;
  for (std::size_t p : columns) {
    const DdColumnDesc &c = desc_.columns[p];
    for (int e = 0; e < Elements(c); ++e)
      BindElement(stmt, index++, KindOf(c.type), values + c.offset + e * ElementSize(c), ElementSize(c));
  }
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    Found found{sqlite3_column_int64(stmt, 0), std::vector<std::uint8_t>(image_length_, 0)};
    ReadImage(stmt, 1, found.image.data());
    rows->push_back(std::move(found));
    if (limit != 0 && rows->size() >= limit) break;
  }
  int number = rc == SQLITE_ROW || rc == SQLITE_DONE ? 0 : Fail();
  sqlite3_reset(stmt);
  return number;
}

int TableRows::ZeroColumns(const std::vector<std::size_t> &columns) {
  std::string sets;
  for (std::size_t p : columns) sets += (sets.empty() ? "" : ", ") + Quote(desc_.columns[p].name) + " = 0";
  if (sets.empty()) return 0;
  return sqlite3_exec(db_, ("UPDATE " + table_ + " SET " + sets).c_str(), nullptr, nullptr, nullptr) ==
                 SQLITE_OK
             ? 0
             : Fail();
}

}  // namespace molvane::driver
