// Row images of one table in one physical company, kept in its SQLite
// table (made from the table's dictionary, driver_dd.h). A row image is the
// client's row layout: every stored column at its row offset, numbers
// big-endian (floats least significant byte first), texts blank-padded.
// Each element of a column is one SQLite column: numbers as INTEGER or
// REAL, texts and raw values as BLOB of their stored bytes, so an image
// read back is byte for byte the image written.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "store/driver_dd.h"

namespace molvane::driver {

class TableRows {
 public:
  TableRows(sqlite3 *db, const DdTableDesc &desc, int physical);
  ~TableRows();
  TableRows(const TableRows &) = delete;
  TableRows &operator=(const TableRows &) = delete;

  // Bytes of a row image: up to the end of the last column.
  std::size_t image_length() const { return image_length_; }
  // Bytes of the primary key (index 1), and the key of an image.
  std::size_t key_length() const { return key_length_; }
  std::string KeyOf(const std::uint8_t *image) const;
  bool has_key() const { return !key_columns_.empty(); }
  // The positions in desc() of the columns of index 1, in KeyOf's order.
  const std::vector<std::size_t> &key_columns() const { return key_columns_; }

  // Each returns 0 or an error number: 100 a duplicate key, 111 no row,
  // 215 SQLite refused (error() tells why). A table not in the database
  // holds no row for Find; error() then starts "no such table".
  int Insert(const std::uint8_t *image);
  int Find(const std::string &key, std::vector<std::uint8_t> *image, sqlite3_int64 *rowid);
  // The image of the row `rowid` as the connection sees it (its own
  // transaction's changes included).
  int FindRowid(sqlite3_int64 rowid, std::vector<std::uint8_t> *image);
  // Writes the image over the row `rowid`. Given the row's stored image
  // `before`, only the columns that differ are written, so that SQLite
  // keeps every index that holds none of them as it is (a salary changed
  // writes the table's page alone, not each index's too).
  int Replace(sqlite3_int64 rowid, const std::uint8_t *image, const std::uint8_t *before = nullptr);
  int Delete(sqlite3_int64 rowid);
  int Count(std::uint32_t *count);
  int Clear();
  int Create();
  // Drops the table with its rows and indexes and makes it anew, empty:
  // a dropped table reads as one never made.
  int Drop();
  // Sets the named 32-bit columns of every row to 0.
  int ZeroColumns(const std::vector<std::size_t> &columns);
  // The rows (rowid and image) whose `columns` hold the values that the
  // image `values` has in them, at most `limit` of them (0: all); every row
  // when `columns` is empty. 0, 506 when the table is not in the database,
  // or 215.
  struct Found {
    sqlite3_int64 rowid;
    std::vector<std::uint8_t> image;
  };
  int Matching(const std::vector<std::size_t> &columns, const std::uint8_t *values,
               std::size_t limit, std::vector<Found> *rows);

  const std::string &error() const { return error_; }
  const DdTableDesc &desc() const { return desc_; }

 private:
  // The statement of *slot, made from make() on first use and kept; later
  // uses only reset it. Every use binds all its parameters again (images are
  // bound without a copy), so old bindings never reach a step.
  template <typename MakeSql>
  sqlite3_stmt *Prepare(sqlite3_stmt **slot, MakeSql make) {
    if (*slot != nullptr) {
      sqlite3_reset(*slot);
      return *slot;
    }
    return PrepareNew(slot, make());
  }
  sqlite3_stmt *PrepareNew(sqlite3_stmt **slot, const std::string &sql);
  // After a statement failed to prepare: the table is not in the database
  // as the connection sees it (one kept unmade, driver_conn.h, or dropped).
  bool Missing() const { return error_.rfind("no such table", 0) == 0; }
  int Fail(int number = 215);
  void BindImage(sqlite3_stmt *stmt, const std::uint8_t *image, int first);
  void BindKey(sqlite3_stmt *stmt, const std::string &key, int first);
  void ReadImage(sqlite3_stmt *stmt, int first, std::uint8_t *image);
  // "SELECT rowid, <every element> FROM <table>", with `condition` after it.
  std::string SelectRows(const std::string &condition) const;
  // A condition "a = ? AND b = ? ..." on every element of `columns`.
  std::string EqualsParameters(const std::vector<std::size_t> &columns) const;
  // Steps a bound statement that selects at most one row (SelectRows): 0
  // with its rowid and image (either may be null), 111 without a row, or
  // the error; the statement is reset.
  int StepOne(sqlite3_stmt *stmt, std::vector<std::uint8_t> *image, sqlite3_int64 *rowid);
  int Step(sqlite3_stmt *stmt);

  // One SQLite column of a row image (an element of an image column): how
  // its value is kept, and where its bytes are in the image or the key.
  struct Element {
    std::uint8_t kind;
    std::uint32_t offset;
    std::uint32_t size;
  };
  void BindElements(sqlite3_stmt *stmt, const std::vector<Element> &elements, const std::uint8_t *bytes,
                    int first);

  sqlite3 *db_;
  const DdTableDesc desc_;  // a copy: the catalog may replace its own
  int physical_;
  std::string table_;                      // quoted SQLite table name
  std::vector<std::string> elements_;      // quoted SQLite column names, in order
  std::vector<std::size_t> key_columns_;   // positions in desc_.columns
  std::vector<Element> image_elements_;    // every element, in column order
  std::vector<Element> key_elements_;      // the primary key's, offsets in the key
  std::size_t image_length_ = 0;
  std::size_t key_length_ = 0;
  std::string error_;
  sqlite3_stmt *insert_ = nullptr;
  sqlite3_stmt *find_ = nullptr;
  sqlite3_stmt *find_rowid_ = nullptr;
  sqlite3_stmt *replace_ = nullptr;
  sqlite3_stmt *delete_ = nullptr;
  sqlite3_stmt *count_ = nullptr;
  std::map<std::vector<std::size_t>, sqlite3_stmt *> matching_;
  // The UPDATEs of the elements that differed (positions in
  // image_elements_), at most kMaxChangedSets of them kept.
  struct ChangedSet {
    sqlite3_stmt *stmt = nullptr;
    std::vector<Element> elements;
  };
  static constexpr std::size_t kMaxChangedSets = 16;
  std::map<std::vector<std::size_t>, ChangedSet> replace_changed_;
};

// The image column list of a table whose name is one of `names` (compared
// without case), or an empty list.
std::vector<std::size_t> ColumnsNamed(const DdTableDesc &desc, const std::vector<std::string> &names);

}  // namespace molvane::driver
