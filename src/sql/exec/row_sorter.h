// SQLRowSorter: orders rows of value stores by their leading key columns,
// in memory while they fit the cache setting, else by an external merge
// sort.
//
// Each added row is packed into one compact record (SQLRowCodec) in a chunk
// of memory, and an entry {key prefix, record} is kept per row. Rows are
// ordered by the entries: the 64-bit prefix of the first key decides most
// pairs with one integer comparison; only rows with equal prefixes unpack
// their keys and compare them value by value. When the cache's number of
// rows is held, they are ordered and written to a spill file as one run,
// and memory is reused for the next run. At the end the runs are merged,
// at most kFanIn at a time, until one merge can feed the caller directly.
// Memory is thus the cache's rows plus kFanIn read buffers, whatever the
// number of rows. Rows with equal keys come out in the order of adding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sql/common/value_store.h"
#include "sql/exec/sort_key.h"

class SQLSpillWriter;
class SQLTempFile;

class SQLRowSorter {
 public:
  static constexpr int kFanIn = 128;

  // Rows of numCols columns whose first numKeys are the keys, descending[i]
  // giving the direction of key i. cacheRows: rows ordered in memory per run;
  // -1 takes the setting qelt_sql_cacherows when it is at least 2, else 71.
  SQLRowSorter(int numKeys, std::vector<bool> descending, int numCols, int cacheRows);
  ~SQLRowSorter();
  SQLRowSorter(SQLRowSorter const &) = delete;
  SQLRowSorter &operator=(SQLRowSorter const &) = delete;

  // Adds a row (numCols stores, keys first).
  void Add(SQLValueStore const *const *row);
  // Orders what was added; Next then hands the rows out.
  void Sort();
  // The next row in order into row[0..numCols-1]; FALSE after the last.
  bool Next(SQLValueStore *const *row);
  // Forgets every row (and the spill file); Add may start again.
  void Clear();

  int GetCacheRows() const { return cacheRows_; }
  // Runs written to the spill file so far.
  int GetRunCount() const { return runsWritten_; }
  // The most bytes held in memory at once since the last Clear.
  std::size_t GetPeakBytes() const { return peakBytes_; }

 private:
  // A row in memory: its record at offset (position & 0xFFFFFFFF) of chunk
  // (position >> 32).
  struct Entry {
    std::uint64_t prefix;  // of the first key, ~ when descending
    std::uint64_t position;
  };
  // A row to compare: in memory or in a reader's buffer.
  struct Head {
    std::uint64_t prefix;
    unsigned char const *record;
  };
  struct Run {
    long offset;
    long bytes;
  };
  class Reader;
  class Merger;

  // -1, 0, 1 over two records: by prefix, then key by key.
  int Compare(Head const &a, Head const &b);
  unsigned char const *Record(Entry const &e) const {
    return chunks_[e.position >> 32].get() + (e.position & 0xFFFFFFFFu);
  }
  int CompareRecords(unsigned char const *a, unsigned char const *b);
  unsigned char *Allocate(std::size_t bytes);
  void SortEntries();
  void WriteRun();
  void MergePass();
  void NoteMemory();

  int numKeys_;
  std::vector<bool> descending_;
  int numCols_;
  int cacheRows_;

  SQLKeyPrefixKind prefixKind_ = SQLKeyPrefixKind::kNone;
  std::vector<Entry> entries_;
  std::vector<std::unique_ptr<unsigned char[]>> chunks_;  // kChunkBytes each, or one big row
  std::vector<std::size_t> chunkSizes_;
  std::size_t chunk_ = 0;      // the chunk being filled
  std::size_t chunkUsed_ = 0;  // bytes used in it
  std::vector<SQLValueStore> scratchA_, scratchB_;  // unpacked keys of a comparison

  // Spilling.
  std::unique_ptr<SQLTempFile> file_;
  std::unique_ptr<SQLSpillWriter> writer_;  // while runs are written
  std::vector<Run> runs_;
  int runsWritten_ = 0;
  std::unique_ptr<Merger> merger_;  // the final merge

  // Handing out.
  bool sorted_ = false;
  std::size_t next_ = 0;  // in-memory: the next entry
  std::size_t peakBytes_ = 0;
};
