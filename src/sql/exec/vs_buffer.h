// SQLVSBuffer: an append-only store of rows of value stores, for the local
// operators that must hold many rows (sort, materialisation, grouping, the
// buffered side of a join).
//
// At most the cache size of rows are held as value stores in memory, found
// by a hash of their position and replaced least recently used first. A row
// that leaves the cache while changed is written to a temporary file
// (SQLTempFile) in a compact record: a NULL bitmap, then the values of the
// columns that are not NULL (an array column led by a NULL bitmap of its
// elements; numbers 4 or 8 bytes, REAL in the stored double layout, texts
// with or without a length). When every column has a fixed width, every
// record has the same size and sits at its row's position; otherwise each
// record carries a 12-byte header, and a row that outgrows its slot after an
// update moves to the end of the file behind a forwarding stub. The layout
// is described in full in vs_buffer.cc. The file is read through one block
// of it held in memory and written through another, so that rows that come
// back or leave the cache in the order of their positions (a walk of the
// rows, the rows written first leaving first) cost a system call per block,
// not a seek and a transfer per row.
#pragma once

#include <memory>
#include <vector>

#include "sql/exec/vs_buffer_id.h"

class SQLColumnDescriptor;
class SQLTempFile;
class SQLValueStore;
struct SQLVSCacheRow;

class SQLVSBuffer {
 public:
  // Rows in memory: cacheRows, or for -1 the setting qelt_sql_cacherows when
  // it is at least 2, else 71. A size below 2 is raised to 2, so that the two
  // rows a comparison reads are in memory together. The descriptors are not
  // owned and must outlive the buffer. A column type outside the value types
  // stops through SQLAbort. A column of depth d > 1 holds a NULL or an
  // array of d elements, a scalar column no array: Write refuses other
  // values with SQLExDEStringDataLengthMismatch.
  SQLVSBuffer(int numCols, SQLColumnDescriptor const *const *descriptors, int cacheRows);
  ~SQLVSBuffer();
  // The rows in memory that a cacheRows of -1 gives.
  static int SettingCacheRows();
  SQLVSBuffer(SQLVSBuffer const &) = delete;
  SQLVSBuffer &operator=(SQLVSBuffer const &) = delete;

  // Appends a copy of the row (numCols stores) and returns its id.
  SQLVSBufferId Write(SQLValueStore const *const *row);
  // The row's numCols value stores, brought into memory when needed. The
  // pointer stays valid until cache-size - 1 other rows have been touched.
  // ForUpdate marks the row changed: what the caller changes is kept.
  // REQUIRES: id came from Write since the last Empty.
  SQLValueStore const *GetForRead(SQLVSBufferId id);
  SQLValueStore *GetForUpdate(SQLVSBufferId id);
  void Release(SQLVSBufferId) {}
  void ReleaseCurrentRow() {}

  // Iteration in the order of writing: Iterate, then NextRow* until null.
  void Iterate() { iterationPosition_ = 0; }
  SQLValueStore const *NextRowForRead();
  SQLValueStore *NextRowForUpdate();

  // Drops every row and the spill file; the buffer can be written anew.
  void Empty();

  int GetCacheSize() const { return cacheSize_; }
  bool IsFixedSize() const { return fixedSize_; }
  // Bytes of a fixed-size record.
  long GetRecordSize() const { return recordSize_; }
  bool HasSpillFile() const { return file_ != nullptr; }
  // The spill file's path, empty while there is none.
  char const *SpillFilePath() const;

 private:
  struct Header {
    long size;  // body bytes that follow
    int kind;   // 1 own slot, 2 relocated copy, 3 forwarding stub
    long next;  // kind 3: position of the kind-2 record
  };

  SQLVSCacheRow *Find(long position) const;
  SQLVSCacheRow *GetRow(long position);
  SQLVSCacheRow *FetchRow(long position);
  // A cache row to reuse: a free one, a new one, or the least recently used
  // one (written out first when changed, then unlinked).
  SQLVSCacheRow *TakeRow();
  void Link(SQLVSCacheRow *row);
  void Unlink(SQLVSCacheRow *row);
  void MoveToFront(SQLVSCacheRow *row);
  SQLVSCacheRow *NextRow();

  // Refuses ("22026") a value whose shape column c's records cannot hold.
  void CheckColumn(int c, SQLValueStore const *v) const;
  // Record body of the row's values into io_; returns its size.
  long Encode(SQLValueStore const *values);
  void Decode(unsigned char const *body, long size, SQLValueStore *values) const;
  long BodySize(SQLValueStore const *values) const;
  // One scalar value or array element of column d: its bytes in the record,
  // written at p or read from p (not past end); each returns the position
  // after it.
  long ValueSize(SQLColumnDescriptor const *d, SQLValueStore const *v) const;
  unsigned char *PutValue(SQLColumnDescriptor const *d, SQLValueStore const *v, unsigned char *p) const;
  unsigned char const *GetValue(SQLColumnDescriptor const *d, unsigned char const *p,
                                unsigned char const *end, SQLValueStore *v) const;
  void WriteOut(SQLVSCacheRow *row);
  void ReadIn(SQLVSCacheRow *row);
  Header ReadHeader(long position);
  void WriteRecord(long position, Header const &header, long bodyBytes);
  SQLTempFile *File();
  // Bytes of the spill file through the block: n bytes at a position.
  void FileRead(long position, unsigned char *data, long n);
  void FileWrite(long position, unsigned char const *data, long n);
  // The read block then holds the bytes from `position` on.
  void LoadBlock(long position);
  // Writes the bytes that the write block holds to the spill file.
  void WriteBlockOut();

  int numCols_;
  std::vector<SQLColumnDescriptor const *> descriptors_;  // not owned
  std::vector<unsigned char> io_;                          // one record
  bool fixedSize_;
  long recordSize_;  // fixed records: bytes of each record
  long fileEnd_ = 0;  // position of the next row
  long iterationPosition_ = 0;
  int cacheSize_;
  std::vector<SQLVSCacheRow *> buckets_;  // cacheSize_ chains by position
  SQLVSCacheRow *mostRecent_ = nullptr;   // LRU list ends
  SQLVSCacheRow *leastRecent_ = nullptr;
  std::vector<std::unique_ptr<SQLVSCacheRow>> rows_;  // every cache row made
  std::vector<SQLVSCacheRow *> free_;                 // made, holding no row
  std::unique_ptr<SQLTempFile> file_;                 // null until a row spills
  // The read block: the spill file's current bytes from readStart_ on, as
  // many as readValid_ (every write to them goes into it too). The write
  // block: writeLength_ bytes for the file from writeStart_ on, not yet
  // written to it.
  std::vector<unsigned char> readBlock_, writeBlock_;
  long readStart_ = 0, readValid_ = 0;
  long writeStart_ = 0, writeLength_ = 0;
  long fileSize_ = 0;  // bytes written to the file
};
