// Spill file layout: runs one after another; a run is its rows in order,
// each {prefix: 8 bytes, size: 4 bytes, record: size bytes}, host order.
#include "sql/exec/row_sorter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dbc/session/dbc_settings.h"
#include "platform/log.h"
#include "sql/common/sql_exception.h"
#include "sql/common/temp_file.h"
#include "sql/exec/row_codec.h"
#include "sql/exec/spill_file.h"

namespace {

constexpr int kDefaultCacheRows = 71;
constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr std::size_t kReadBytes = 8 * 1024;
constexpr std::size_t kWriteBytes = 64 * 1024;
constexpr std::size_t kEntryHead = 12;  // prefix and size in the file
constexpr std::size_t kMaxRecord = 0x7FFFFFFF;

std::uint32_t GetSize32(unsigned char const *p) {
  std::uint32_t size;
  std::memcpy(&size, p, 4);
  return size;
}

}  // namespace

// Reads one run of the spill file entry by entry.
class SQLRowSorter::Reader {
 public:
  Reader(SQLTempFile *file, Run run) : in_(file, run.offset, run.bytes, kReadBytes) {}

  // Moves to the next entry; FALSE at the end of the run. The head stays
  // valid until the next Load.
  bool Load() {
    in_.Skip(pending_);
    pending_ = 0;
    if (in_.AtEnd()) return false;
    unsigned char const *p = in_.Peek(kEntryHead);
    std::size_t size = GetSize32(p + 8);
    p = in_.Peek(kEntryHead + size);
    std::memcpy(&head_.prefix, p, 8);
    head_.record = p + kEntryHead;
    pending_ = kEntryHead + size;
    return true;
  }
  Head const &GetHead() const { return head_; }
  std::size_t Capacity() const { return in_.Capacity(); }

 private:
  SQLSpillReader in_;
  std::size_t pending_ = 0;  // bytes of the head entry
  Head head_{0, nullptr};
};

// Merges up to kFanIn runs through a binary heap of their heads.
class SQLRowSorter::Merger {
 public:
  Merger(SQLRowSorter *sorter, SQLTempFile *file, Run const *runs, std::size_t n) : sorter_(sorter) {
    readers_.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
      readers_.push_back(std::make_unique<Reader>(file, runs[i]));
      if (readers_.back()->Load()) heap_.push_back(static_cast<int>(i));
    }
    for (std::size_t i = heap_.size() / 2; i-- > 0;) SiftDown(i);
  }

  bool Empty() const { return heap_.empty(); }
  Head const &Top() const { return readers_[static_cast<std::size_t>(heap_[0])]->GetHead(); }
  // Past the top entry.
  void Advance() {
    if (!readers_[static_cast<std::size_t>(heap_[0])]->Load()) {
      heap_[0] = heap_.back();
      heap_.pop_back();
    }
    if (!heap_.empty()) SiftDown(0);
  }
  std::size_t Bytes() const {
    std::size_t n = 0;
    for (auto const &r : readers_) n += r->Capacity();
    return n;
  }

 private:
  // Equal rows come from the earlier run first.
  bool Less(int a, int b) const {
    int c = sorter_->Compare(readers_[static_cast<std::size_t>(a)]->GetHead(),
                             readers_[static_cast<std::size_t>(b)]->GetHead());
    return c != 0 ? c < 0 : a < b;
  }
  void SiftDown(std::size_t i) {
    std::size_t n = heap_.size();
    for (;;) {
      std::size_t l = 2 * i + 1;
      if (l >= n) return;
      std::size_t m = l + 1 < n && Less(heap_[l + 1], heap_[l]) ? l + 1 : l;
      if (!Less(heap_[m], heap_[i])) return;
      std::swap(heap_[m], heap_[i]);
      i = m;
    }
  }

  SQLRowSorter *sorter_;
  std::vector<std::unique_ptr<Reader>> readers_;
  std::vector<int> heap_;  // readers with a head, smallest first
};

SQLRowSorter::SQLRowSorter(int numKeys, std::vector<bool> descending, int numCols, int cacheRows)
    : numKeys_(numKeys), descending_(std::move(descending)), numCols_(numCols) {
  if (cacheRows == -1) {
    int setting = dbc_settings().qelt_sql_cacherows;
    cacheRows = setting >= 2 ? setting : kDefaultCacheRows;
  }
  cacheRows_ = cacheRows < 2 ? 2 : cacheRows;
  scratchA_.resize(static_cast<std::size_t>(numKeys_));
  scratchB_.resize(static_cast<std::size_t>(numKeys_));
}

SQLRowSorter::~SQLRowSorter() = default;

void SQLRowSorter::Clear() {
  merger_.reset();
  entries_.clear();
  entries_.shrink_to_fit();
  chunks_.clear();
  chunkSizes_.clear();
  chunk_ = chunkUsed_ = 0;
  writer_.reset();
  file_.reset();
  runs_.clear();
  runsWritten_ = 0;
  prefixKind_ = SQLKeyPrefixKind::kNone;
  sorted_ = false;
  next_ = 0;
  peakBytes_ = 0;
}

void SQLRowSorter::NoteMemory() {
  std::size_t n = entries_.capacity() * sizeof(Entry) + (writer_ ? writer_->Capacity() : 0);
  for (std::size_t s : chunkSizes_) n += s;
  if (merger_) n += merger_->Bytes();
  peakBytes_ = std::max(peakBytes_, n);
}

unsigned char *SQLRowSorter::Allocate(std::size_t bytes) {
  if (chunks_.empty() || chunkUsed_ + bytes > chunkSizes_[chunk_]) {
    std::size_t next = chunks_.empty() ? 0 : chunk_ + 1;
    if (next < chunks_.size() && chunkSizes_[next] < bytes) {
      chunks_[next] = std::make_unique<unsigned char[]>(bytes);
      chunkSizes_[next] = bytes;
    } else if (next == chunks_.size()) {
      std::size_t size = std::max(kChunkBytes, bytes);
      chunks_.push_back(std::make_unique<unsigned char[]>(size));
      chunkSizes_.push_back(size);
    }
    chunk_ = next;
    chunkUsed_ = 0;
  }
  unsigned char *p = chunks_[chunk_].get() + chunkUsed_;
  chunkUsed_ += bytes;
  return p;
}

void SQLRowSorter::Add(SQLValueStore const *const *row) {
  if (static_cast<int>(entries_.size()) >= cacheRows_) WriteRun();
  if (entries_.capacity() == 0)
    entries_.reserve(static_cast<std::size_t>(std::min(cacheRows_, 1 << 16)));
  std::uint64_t prefix = 0;
  if (numKeys_ > 0) {
    prefix = SQLKeyPrefix(row[0], &prefixKind_);
    if (descending_[0]) prefix = ~prefix;
  }
  std::size_t size = sql_row_codec::Size(row, numCols_);
  if (size > kMaxRecord) {
    log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR, "Row of %zu bytes is too large to sort", size);
    throw SQLExFileIOError();
  }
  unsigned char *record = Allocate(size);
  sql_row_codec::Put(row, numCols_, record);
  bool grows = entries_.size() == entries_.capacity();
  entries_.push_back(Entry{prefix, (std::uint64_t{chunk_} << 32) | (chunkUsed_ - size)});
  if (grows || chunkUsed_ == size) NoteMemory();
}

int SQLRowSorter::CompareRecords(unsigned char const *a, unsigned char const *b) {
  int first = prefixKind_ != SQLKeyPrefixKind::kInvalid && SQLKeyPrefixIsExact(prefixKind_) ? 1 : 0;
  if (first > 0) {
    a = sql_row_codec::Skip(a, first);
    b = sql_row_codec::Skip(b, first);
  }
  for (int i = first; i < numKeys_; ++i) {
    SQLValueStore *va = &scratchA_[static_cast<std::size_t>(i)];
    SQLValueStore *vb = &scratchB_[static_cast<std::size_t>(i)];
    a = sql_row_codec::GetValue(a, va);
    b = sql_row_codec::GetValue(b, vb);
    int c = SQLCompareKeyValues(va, vb);
    if (descending_[static_cast<std::size_t>(i)]) c = -c;
    if (c != 0) return c;
  }
  return 0;
}

int SQLRowSorter::Compare(Head const &a, Head const &b) {
  if (prefixKind_ != SQLKeyPrefixKind::kInvalid && a.prefix != b.prefix) return a.prefix < b.prefix ? -1 : 1;
  if (numKeys_ == 0) return 0;
  if (numKeys_ == 1 && SQLKeyPrefixIsExact(prefixKind_)) return 0;
  return CompareRecords(a.record, b.record);
}

void SQLRowSorter::SortEntries() {
  if (numKeys_ == 0) return;
  // Rows in memory lie in the order of adding, so that their positions
  // break ties: the order is total, and equal rows keep their order.
  if (numKeys_ == 1 && SQLKeyPrefixIsExact(prefixKind_)) {
    std::sort(entries_.begin(), entries_.end(), [](Entry const &a, Entry const &b) {
      return a.prefix != b.prefix ? a.prefix < b.prefix : a.position < b.position;
    });
    return;
  }
  std::sort(entries_.begin(), entries_.end(), [this](Entry const &a, Entry const &b) {
    int c = Compare(Head{a.prefix, Record(a)}, Head{b.prefix, Record(b)});
    return c != 0 ? c < 0 : a.position < b.position;
  });
}

void SQLRowSorter::WriteRun() {
  if (entries_.empty()) return;
  SortEntries();
  if (!file_) {
    file_ = std::make_unique<SQLTempFile>();
    writer_ = std::make_unique<SQLSpillWriter>(file_.get(), 0, kWriteBytes);
  }
  long start = writer_->Position();
  for (Entry const &e : entries_) {
    unsigned char const *record = Record(e);
    auto size = static_cast<std::uint32_t>(sql_row_codec::Skip(record, numCols_) - record);
    writer_->Put(&e.prefix, 8);
    writer_->Put(&size, 4);
    writer_->Put(record, size);
  }
  runs_.push_back(Run{start, writer_->Position() - start});
  ++runsWritten_;
  NoteMemory();
  entries_.clear();
  chunk_ = chunkUsed_ = 0;
}

void SQLRowSorter::MergePass() {
  auto out = std::make_unique<SQLTempFile>();
  SQLSpillWriter writer(out.get(), 0, kWriteBytes);
  std::vector<Run> merged;
  for (std::size_t i = 0; i < runs_.size(); i += kFanIn) {
    std::size_t n = std::min<std::size_t>(kFanIn, runs_.size() - i);
    long start = writer.Position();
    Merger merger(this, file_.get(), &runs_[i], n);
    peakBytes_ = std::max(peakBytes_, merger.Bytes() + writer.Capacity());
    while (!merger.Empty()) {
      Head const &e = merger.Top();
      // The head's prefix, size and record lie together in the reader's buffer.
      writer.Put(e.record - kEntryHead, kEntryHead + GetSize32(e.record - 4));
      merger.Advance();
    }
    merged.push_back(Run{start, writer.Position() - start});
  }
  writer.Flush();
  file_ = std::move(out);
  runs_ = std::move(merged);
}

void SQLRowSorter::Sort() {
  if (runs_.empty()) {
    SortEntries();
  } else {
    WriteRun();
    writer_->Flush();
    writer_.reset();
    // The rows are all on file: the memory of the runs goes.
    entries_.clear();
    entries_.shrink_to_fit();
    chunks_.clear();
    chunkSizes_.clear();
    chunk_ = chunkUsed_ = 0;
    while (runs_.size() > static_cast<std::size_t>(kFanIn)) MergePass();
    merger_ = std::make_unique<Merger>(this, file_.get(), runs_.data(), runs_.size());
    NoteMemory();
  }
  sorted_ = true;
  next_ = 0;
}

bool SQLRowSorter::Next(SQLValueStore *const *row) {
  if (!sorted_) return false;
  if (!merger_) {
    if (next_ >= entries_.size()) return false;
    // Sorted order visits the records at random: ask for one a few rows
    // ahead, so that its cache misses overlap with decoding this one.
    constexpr std::size_t kAhead = 8;
    if (next_ + kAhead < entries_.size()) __builtin_prefetch(Record(entries_[next_ + kAhead]));
    sql_row_codec::Get(Record(entries_[next_++]), numCols_, row);
    return true;
  }
  if (merger_->Empty()) return false;
  sql_row_codec::Get(merger_->Top().record, numCols_, row);
  merger_->Advance();
  return true;
}
