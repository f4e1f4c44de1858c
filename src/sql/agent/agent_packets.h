// The packet buffer of one driver and the decoder of returned row sets.
#pragma once

#include <memory>
#include <vector>

#include "sql/agent/token_string.h"

class SQLColumnDescriptor;
class SQLParameter;
class SQLValueStore;
struct ZDB_SERVER;

// The requests gathered for one driver until the next exchange with it:
// each packet as a bs4 item holding its length in bytes, then its bytes.
class SQLPacketBuffer {
 public:
  explicit SQLPacketBuffer(ZDB_SERVER *server) : server_(server) {}
  SQLPacketBuffer(SQLPacketBuffer const &) = delete;
  SQLPacketBuffer &operator=(SQLPacketBuffer const &) = delete;

  ZDB_SERVER *GetZDBServer() const { return server_; }
  void GetString(unsigned char const *&bytes, int &length) const {
    packets_.GetString(bytes, length);
  }
  // Appends the packet whole, or (memory running out) not at all.
  void AddPacket(SQLTokenString const &packet);
  void Empty() { packets_.Reset(); }
  // Bytes held; Truncate(n) drops what was added after Length() gave n.
  int Length() const { return packets_.Length(); }
  void Truncate(int n) { packets_.Truncate(n); }
  bool IsEmpty() const { return packets_.Length() == 0; }
  void Log() const;

 private:
  SQLTokenString packets_{20};
  ZDB_SERVER *server_;  // not owned
};

// Writes one value of a parameter or array element: SQLNWTNull for NULL,
// else the type token and the value; an array as SQLNWTTypeArray, a bs2
// element count and each element. Another type stops.
void SQLAppendNetWorkValue(SQLTokenString &ts, SQLValueStore const *value);

// Decodes the rows of a result-set reply into the caller's value stores.
// A row is a memory item of 2-bit codes (four columns a byte, the first in
// the top bits): 1 NULL, 2 a value of the column's type follows, 0 and 3 the
// column keeps its value. An array column's code applies to every element.
// Malformed sets (too few code bytes, truncated values, a negative row
// count) raise SQLExUnknownNetWorkToken.
//
// The rows are read in place from the set's packet, item by item, with
// each column's type and depth taken once from its descriptor.
class SQLNetWorkRowSetRowExtractor {
 public:
  // REQUIRES: the descriptors do not change while the extractor lives.
  SQLNetWorkRowSetRowExtractor(int nrColumns, SQLValueStore **stores,
                               SQLColumnDescriptor const *const *descriptors);
  SQLNetWorkRowSetRowExtractor(SQLNetWorkRowSetRowExtractor const &) = delete;
  SQLNetWorkRowSetRowExtractor &operator=(SQLNetWorkRowSetRowExtractor const &) = delete;

  // Takes a copy of a result-set packet (from its first token).
  void DefineRowSet(SQLTokenString const &packet);
  // Takes the packet itself over.
  void DefineRowSet(std::unique_ptr<SQLTokenString> packet);
  void EmptyRowSet();
  // TRUE with the next row in the stores; FALSE when the set is used up.
  bool Fetch();
  // Skips up to n rows; returns how many were skipped.
  int SkipRows(int n);
  int RowsLeft() const { return set_ ? nrRows_ - delivered_ : 0; }

 private:
  struct Column {
    SQLType type;
    int depth;
  };
  // The payload of the item of `tag` and `size` bytes (tag included) at the
  // read position, which moves past it.
  unsigned char const *Item(int tag, int size);
  // The bytes of the memory item at the read position, and their count.
  unsigned char const *Memory(int *n);
  void DecodeValue(SQLValueStore *vs, SQLType type);

  int nrColumns_;
  SQLValueStore **stores_;  // not owned
  std::vector<Column> columns_;
  std::unique_ptr<SQLTokenString> set_;  // the current row set
  unsigned char const *at_ = nullptr;    // the next item of set_
  unsigned char const *end_ = nullptr;   // the end of set_
  int nrRows_ = 0;
  int delivered_ = 0;
};
