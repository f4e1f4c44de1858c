// The SQL agent's side of the packet format: replies gathered into one
// reply buffer (each packet a bs4 length item and its bytes, the format the
// client's packet handler reads), the reply packets themselves, parameter
// values as the client writes them, and the encoding of result rows by the
// client's declared column types.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sql/agent/token_string.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/sql_exception.h"
#include "sql/common/value_store.h"

namespace molvane::driver {

// Statement states as the protocol reports them.
enum AgentState : int { kNotCreated = 0, kPrepared = 1, kAttached = 2, kExecuted = 3 };

// The replies of one SQL_MESSAGE exchange.
class AgentReply {
 public:
  AgentReply() = default;
  // A reply whose buffer starts with `front` zero bytes, for a header the
  // caller writes there once the replies are known.
  explicit AgentReply(std::size_t front) : bytes_(front, 0) { bytes_.reserve(front + kFirstRoom); }
  void Packet(const SQLTokenString &packet);
  // A packet made of a header and raw bytes that follow it.
  void Packet(const SQLTokenString &header, const std::uint8_t *tail, std::size_t n);
  void LanguageLevel(std::int32_t level);
  void DiagRec(std::uint32_t id, int state, const SQLException &e);
  void EndOfSet(std::uint32_t id);
  // `count` rows of statement `id`: their `n` encoded bytes follow the
  // set's header.
  void ResultSet(std::uint32_t id, std::int32_t count, const std::uint8_t *rows, std::size_t n);
  void RowsProcessed(std::uint32_t id, std::int32_t rows);
  void MissingDDs(const std::vector<std::pair<std::string, int>> &tables);
  const std::vector<std::uint8_t> &bytes() const { return bytes_; }
  // The replies, taken out of this object (it is empty afterwards).
  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

 private:
  // Room made at once for the replies to most requests (a keyed row, a
  // row count), which then take a single allocation.
  static constexpr std::size_t kFirstRoom = 256;
  std::vector<std::uint8_t> bytes_;
};

// Reads one parameter value (a type token and its value, SQLNWTNull, or an
// array) into vs. Throws SQLExUnknownNetWorkToken when it is malformed.
void ReadNetWorkValue(const SQLTokenString &ts, SQLValueStore *vs, int nesting = 0);

// Result rows of a query, encoded once at execution: each row a memory
// item of 2-bit codes (1 NULL, 2 a value follows; four columns a byte, the
// first in the top bits) and the values of the non-NULL columns in the
// declared type, as token-string items.
//
// The items are written straight from SQLite's values into one byte buffer,
// with what each column needs worked out once per statement, so a row costs
// no allocation and no copy besides its own bytes.
class EncodedRows {
 public:
  // Appends the current row of stmt, whose SQLite columns are those of
  // `columns` element by element. Throws a data exception for a value the
  // declared type cannot carry; the row is then not appended.
  void Append(sqlite3_stmt *stmt, const std::vector<SQLColumnDescriptor> &columns);
  // Appends a row encoded before (RowBytes of one row).
  void AppendEncoded(const std::uint8_t *row, std::size_t n);
  // Drops the last row appended.
  void DropLast();
  void Clear();
  std::size_t count() const { return offsets_.size(); }
  // The memory the rows take, with the room kept for more.
  std::size_t bytes() const { return cap_ + offsets_.capacity() * sizeof(std::size_t); }
  // Rows [first, first + n) as bytes.
  const std::uint8_t *RowBytes(std::size_t first, std::size_t n, std::size_t *length) const;
  std::size_t RowLength(std::size_t i) const;

 private:
  // How the elements of a column are written.
  enum Kind : std::uint8_t { kInt32, kInt64, kReal, kBytes };
  struct Column {
    Kind kind;
    int depth;  // elements, at least 1
  };
  // Works out the columns' kinds when stmt or columns are not those of the
  // last row.
  void Plan(sqlite3_stmt *stmt, const std::vector<SQLColumnDescriptor> &columns);
  // Room for n more bytes at the end; the address of the first.
  std::uint8_t *Room(std::size_t n) {
    if (cap_ - size_ < n) Grow(n);
    return buf_.get() + size_;
  }
  void Grow(std::size_t n);
  // Writes one element of a column of that kind.
  void PutValue(Kind kind, sqlite3_value *v);

  std::unique_ptr<std::uint8_t[]> buf_;
  std::size_t size_ = 0;  // bytes written
  std::size_t cap_ = 0;   // bytes allocated
  std::vector<std::size_t> offsets_;
  std::vector<Column> plan_;
  const void *planned_for_ = nullptr;       // the columns the plan is of
  sqlite3_stmt *planned_stmt_ = nullptr;    // and the statement
  std::vector<sqlite3_value *> values_;     // one column's elements, valid until the next step
};

}  // namespace molvane::driver
