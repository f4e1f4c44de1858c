// Record layout of the spill file (all of it private to this process).
//
// Body, n being the number of columns:
// 1. The NULL bitmap: ceil(n/8) bytes, bit i%8 of byte i/8 (least significant
//    bit first) set when column i holds a NULL. A column that holds an array
//    is not NULL, whatever its elements hold.
// 2. For each column that is not NULL, in column order:
//    - a scalar column (depth 1): its value;
//    - an array column of depth d: an element NULL bitmap of ceil(d/8)
//      bytes, bit k%8 of byte k/8 set when element k is NULL, then the
//      values of the elements that are not NULL, in element order.
//    NULL columns and NULL elements take no bytes.
// A value is: INTEGER, DATE and INTERVAL DAYS 4 bytes most significant
// first; TIMESTAMP and INTERVAL SECONDS 8 bytes least significant first;
// REAL the 8 bytes of double_in; STRING and RAW a 4-byte length (most
// significant first) and the bytes: in variable records exactly those, in
// fixed records followed by zero bytes up to the declared length, so that
// a short value comes back as short as it went in.
//
// Fixed records (no STRING or RAW column of length 0) are the body alone,
// at the row's position, each ceil(n/8) + the sum over the columns of
// d * width + (d > 1 ? ceil(d/8) : 0) bytes; what a row leaves unused at the
// end of its record is zero. Variable records start with a header {size,
// kind, next}, three 32-bit words least significant byte first: kind 1 is a
// row in its own slot, kind 2 a row that outgrew its slot and moved to the
// end of the file, kind 3 the stub left in the slot, whose next is the
// kind-2 record's position.
//
// So that every row comes back as it went in, a column of depth d holds a
// NULL or an array of exactly d elements, and a scalar column no array;
// a row of another shape is refused ("22026") when written.
#include "sql/exec/vs_buffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "dbc/session/dbc_settings.h"
#include "molvane/datetime.h"
#include "platform/log.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/temp_file.h"
#include "sql/common/value_store.h"

struct SQLVSCacheRow {
  bool dirty = false;   // changed since last written out
  bool onFile = false;  // has a record in the file
  long position = 0;    // the row's id
  long slotSize = 0;    // variable records: body bytes reserved in the file
  std::unique_ptr<SQLValueStore[]> values;
  SQLVSCacheRow *bucketNext = nullptr;
  SQLVSCacheRow *bucketPrev = nullptr;
  SQLVSCacheRow *lruPrev = nullptr;  // towards the most recently used end
  SQLVSCacheRow *lruNext = nullptr;  // towards the least recently used end
};

namespace {

constexpr int kDefaultCacheRows = 71;
constexpr long kHeaderSize = 12;
constexpr long kMaxRecordField = 0x7FFFFFFF;  // header words are 32-bit
constexpr long kBlockSize = 64 * 1024;         // bytes of the spill file held in memory

long ElementWidth(SQLColumnDescriptor const *d) {
  switch (d->GetType()) {
    case SQL_INTEGER:
    case SQL_DATE:
    case SQL_INTERVAL_DAYS:
      return 4;
    case SQL_REAL:
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS:
      return 8;
    case SQL_STRING:
    case SQL_RAW:
      return static_cast<long>(d->GetLength());
    default:
      SQLAbort(__FILE__, __LINE__, "Unexpected type: %d", static_cast<int>(d->GetType()));
  }
}

int Depth(SQLColumnDescriptor const *d) { return d->GetDepth() > 1 ? d->GetDepth() : 1; }

// Bytes of a column's element NULL bitmap: none for a scalar column.
long ElementBitmapSize(int depth) { return depth > 1 ? (depth + 7) / 8 : 0; }

// TRUE when the store has a shape that the column's records hold.
bool FitsColumn(SQLValueStore const *v, int depth) {
  if (depth == 1) return v->GetType() != SQL_ARRAY;
  if (v->IsNull()) return true;
  if (v->GetType() != SQL_ARRAY || v->GetDimension() != depth) return false;
  for (int i = 0; i < depth; ++i)
    if (v->GetElement(i)->GetType() == SQL_ARRAY) return false;
  return true;
}

void MarkNull(unsigned char *bitmap, int i) {
  bitmap[i / 8] = static_cast<unsigned char>(bitmap[i / 8] | (1u << (i % 8)));
}
bool IsMarkedNull(unsigned char const *bitmap, int i) { return (bitmap[i / 8] >> (i % 8)) & 1; }

void PutBig32(unsigned char *p, std::uint32_t v) {
  for (int i = 3; i >= 0; --i, v >>= 8) p[i] = static_cast<unsigned char>(v);
}
std::uint32_t GetBig32(unsigned char const *p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
void PutLittle(unsigned char *p, std::uint64_t v, int n) {
  for (int i = 0; i < n; ++i, v >>= 8) p[i] = static_cast<unsigned char>(v);
}
std::uint64_t GetLittle(unsigned char const *p, int n) {
  std::uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

[[noreturn]] void CorruptRecord(char const *path, long position) {
  log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR,
           "Corrupt record at position %ld of the row buffer file '%s'", position, path);
  throw SQLExFileIOError();
}

}  // namespace

SQLVSBuffer::SQLVSBuffer(int numCols, SQLColumnDescriptor const *const *descriptors, int cacheRows)
    : numCols_(numCols), descriptors_(descriptors, descriptors + numCols) {
  if (cacheRows == -1) cacheRows = SettingCacheRows();
  cacheSize_ = cacheRows < 2 ? 2 : cacheRows;
  buckets_.assign(static_cast<size_t>(cacheSize_), nullptr);

  fixedSize_ = true;
  recordSize_ = (numCols + 7) / 8;
  for (SQLColumnDescriptor const *d : descriptors_) {
    long width = ElementWidth(d);
    bool text = d->GetType() == SQL_STRING || d->GetType() == SQL_RAW;
    if (text && width == 0) fixedSize_ = false;
    recordSize_ += (text ? 4 + width : width) * Depth(d) + ElementBitmapSize(Depth(d));
  }
  if (!fixedSize_) recordSize_ = 0;
}

SQLVSBuffer::~SQLVSBuffer() = default;

int SQLVSBuffer::SettingCacheRows() {
  int setting = dbc_settings().qelt_sql_cacherows;
  return setting >= 2 ? setting : kDefaultCacheRows;
}

char const *SQLVSBuffer::SpillFilePath() const { return file_ ? file_->Path().c_str() : ""; }

void SQLVSBuffer::Empty() {
  rows_.clear();
  free_.clear();
  buckets_.assign(static_cast<size_t>(cacheSize_), nullptr);
  mostRecent_ = leastRecent_ = nullptr;
  file_.reset();
  io_.clear();
  io_.shrink_to_fit();
  readBlock_.clear();
  readBlock_.shrink_to_fit();
  writeBlock_.clear();
  writeBlock_.shrink_to_fit();
  readStart_ = readValid_ = writeStart_ = writeLength_ = fileSize_ = 0;
  fileEnd_ = 0;
  iterationPosition_ = 0;
}

// ---- the cache ----

SQLVSCacheRow *SQLVSBuffer::Find(long position) const {
  for (SQLVSCacheRow *r = buckets_[static_cast<size_t>(position % cacheSize_)]; r; r = r->bucketNext)
    if (r->position == position) return r;
  return nullptr;
}

void SQLVSBuffer::Link(SQLVSCacheRow *row) {
  SQLVSCacheRow *&head = buckets_[static_cast<size_t>(row->position % cacheSize_)];
  row->bucketPrev = nullptr;
  row->bucketNext = head;
  if (head) head->bucketPrev = row;
  head = row;
  row->lruPrev = nullptr;
  row->lruNext = mostRecent_;
  if (mostRecent_) mostRecent_->lruPrev = row; else leastRecent_ = row;
  mostRecent_ = row;
}

void SQLVSBuffer::Unlink(SQLVSCacheRow *row) {
  if (row->bucketPrev)
    row->bucketPrev->bucketNext = row->bucketNext;
  else
    buckets_[static_cast<size_t>(row->position % cacheSize_)] = row->bucketNext;
  if (row->bucketNext) row->bucketNext->bucketPrev = row->bucketPrev;
  if (row->lruPrev) row->lruPrev->lruNext = row->lruNext; else mostRecent_ = row->lruNext;
  if (row->lruNext) row->lruNext->lruPrev = row->lruPrev; else leastRecent_ = row->lruPrev;
  row->bucketNext = row->bucketPrev = row->lruPrev = row->lruNext = nullptr;
}

void SQLVSBuffer::MoveToFront(SQLVSCacheRow *row) {
  if (row == mostRecent_) return;
  row->lruPrev->lruNext = row->lruNext;
  if (row->lruNext) row->lruNext->lruPrev = row->lruPrev; else leastRecent_ = row->lruPrev;
  row->lruPrev = nullptr;
  row->lruNext = mostRecent_;
  mostRecent_->lruPrev = row;
  mostRecent_ = row;
}

SQLVSCacheRow *SQLVSBuffer::TakeRow() {
  if (!free_.empty()) {
    SQLVSCacheRow *row = free_.back();
    free_.pop_back();
    return row;
  }
  if (static_cast<int>(rows_.size()) < cacheSize_) {
    auto row = std::make_unique<SQLVSCacheRow>();
    row->values = std::make_unique<SQLValueStore[]>(static_cast<size_t>(numCols_ > 0 ? numCols_ : 1));
    rows_.push_back(std::move(row));
    return rows_.back().get();
  }
  SQLVSCacheRow *row = leastRecent_;
  if (row->dirty) WriteOut(row);  // on failure the row stays cached and changed
  Unlink(row);
  return row;
}

SQLVSCacheRow *SQLVSBuffer::FetchRow(long position) {
  SQLVSCacheRow *row = TakeRow();
  row->position = position;
  try {
    ReadIn(row);
  } catch (...) {
    free_.push_back(row);
    throw;
  }
  Link(row);
  return row;
}

SQLVSCacheRow *SQLVSBuffer::GetRow(long position) {
  if (SQLVSCacheRow *row = Find(position)) {
    MoveToFront(row);
    return row;
  }
  if (position < 0 || position >= fileEnd_)
    SQLAbort(__FILE__, __LINE__, "Row buffer: no row at position %ld", position);
  return FetchRow(position);
}

// ---- rows ----

SQLVSBufferId SQLVSBuffer::Write(SQLValueStore const *const *row) {
  for (int i = 0; i < numCols_; ++i) CheckColumn(i, row[i]);
  SQLVSCacheRow *r = TakeRow();
  for (int i = 0; i < numCols_; ++i) r->values[i].Copy(row[i]);
  r->position = fileEnd_;
  r->dirty = true;
  r->onFile = false;
  if (fixedSize_) {
    fileEnd_ += recordSize_;
  } else {
    r->slotSize = BodySize(r->values.get());
    fileEnd_ += r->slotSize + kHeaderSize;
  }
  Link(r);
  return SQLVSBufferId::BufferRow(r->position);
}

SQLValueStore const *SQLVSBuffer::GetForRead(SQLVSBufferId id) {
  return GetRow(id.GetPosition())->values.get();
}

SQLValueStore *SQLVSBuffer::GetForUpdate(SQLVSBufferId id) {
  SQLVSCacheRow *row = GetRow(id.GetPosition());
  row->dirty = true;
  return row->values.get();
}

SQLVSCacheRow *SQLVSBuffer::NextRow() {
  while (iterationPosition_ < fileEnd_) {
    long p = iterationPosition_;
    if (fixedSize_) {
      iterationPosition_ += recordSize_;
      return GetRow(p);
    }
    SQLVSCacheRow *row = Find(p);
    if (row == nullptr) {
      Header h = ReadHeader(p);
      if (h.kind == 2) {
        iterationPosition_ += h.size + kHeaderSize;
        continue;
      }
      row = FetchRow(p);
    } else {
      MoveToFront(row);
    }
    iterationPosition_ += row->slotSize + kHeaderSize;
    return row;
  }
  return nullptr;
}

SQLValueStore const *SQLVSBuffer::NextRowForRead() {
  SQLVSCacheRow *row = NextRow();
  return row ? row->values.get() : nullptr;
}

SQLValueStore *SQLVSBuffer::NextRowForUpdate() {
  SQLVSCacheRow *row = NextRow();
  if (row == nullptr) return nullptr;
  row->dirty = true;
  return row->values.get();
}

// ---- records ----

void SQLVSBuffer::CheckColumn(int c, SQLValueStore const *v) const {
  SQLColumnDescriptor const *d = descriptors_[static_cast<size_t>(c)];
  if (FitsColumn(v, Depth(d))) return;
  log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR,
           "Value of type %d, dimension %d does not fit column '%s' of depth %d in the row buffer",
           static_cast<int>(v->GetType()), v->GetType() == SQL_ARRAY ? v->GetDimension() : 0,
           d->GetName() ? d->GetName() : "", Depth(d));
  throw SQLExDEStringDataLengthMismatch();
}

long SQLVSBuffer::ValueSize(SQLColumnDescriptor const *d, SQLValueStore const *v) const {
  if (d->GetType() == SQL_STRING || d->GetType() == SQL_RAW)
    return 4 + (fixedSize_ ? ElementWidth(d) : static_cast<long>(v->GetLength()));
  return ElementWidth(d);
}

long SQLVSBuffer::BodySize(SQLValueStore const *values) const {
  long size = (numCols_ + 7) / 8;
  for (int c = 0; c < numCols_; ++c) {
    SQLColumnDescriptor const *d = descriptors_[static_cast<size_t>(c)];
    int depth = Depth(d);
    SQLValueStore const *column = &values[c];
    if (column->IsNull()) continue;
    if (depth == 1) {
      size += ValueSize(d, column);
      continue;
    }
    size += ElementBitmapSize(depth);
    for (int i = 0; i < depth; ++i)
      if (!column->GetElement(i)->IsNull()) size += ValueSize(d, column->GetElement(i));
  }
  if (size > kMaxRecordField) {
    log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR, "Row of %ld bytes is too large for the row buffer",
             size);
    throw SQLExFileIOError();
  }
  return size;
}

unsigned char *SQLVSBuffer::PutValue(SQLColumnDescriptor const *d, SQLValueStore const *e,
                                     unsigned char *p) const {
  switch (d->GetType()) {
    case SQL_INTEGER:
    case SQL_DATE:
    case SQL_INTERVAL_DAYS:
      PutBig32(p, static_cast<std::uint32_t>(e->GetInteger()));
      return p + 4;
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS:
      PutLittle(p, static_cast<std::uint64_t>(e->GetTimestamp()), 8);
      return p + 8;
    case SQL_REAL:
      double_in(e->GetType() == SQL_INTEGER ? static_cast<double>(e->GetInteger()) : e->GetReal(), p);
      return p + 8;
    case SQL_STRING:
    case SQL_RAW: {
      unsigned long n = e->GetLength();
      if (!fixedSize_) {
        PutBig32(p, static_cast<std::uint32_t>(n));
        if (n) std::memcpy(p + 4, e->GetBytes(), n);
        return p + 4 + n;
      }
      // Fixed records reserve the declared length: a shorter value keeps
      // its own length and the rest is zero; a longer one is refused rather
      // than cut.
      unsigned long width = d->GetLength();
      if (n > width) {
        log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR,
                 "Value of %lu bytes exceeds the %lu bytes of column '%s' in the row buffer", n, width,
                 d->GetName() ? d->GetName() : "");
        throw SQLExDEStringDataRightTruncation();
      }
      PutBig32(p, static_cast<std::uint32_t>(n));
      if (n) std::memcpy(p + 4, e->GetBytes(), n);
      std::memset(p + 4 + n, 0, width - n);
      return p + 4 + width;
    }
    default:
      SQLAbort(__FILE__, __LINE__, "Unexpected type: %d", static_cast<int>(d->GetType()));
  }
}

long SQLVSBuffer::Encode(SQLValueStore const *values) {
  for (int c = 0; c < numCols_; ++c) CheckColumn(c, &values[c]);
  long size = fixedSize_ ? recordSize_ : BodySize(values);
  if (static_cast<long>(io_.size()) < size) io_.resize(static_cast<size_t>(size));
  unsigned char *out = io_.data();
  long bitmap = (numCols_ + 7) / 8;
  std::memset(out, 0, static_cast<size_t>(bitmap));
  unsigned char *p = out + bitmap;
  for (int c = 0; c < numCols_; ++c) {
    SQLColumnDescriptor const *d = descriptors_[static_cast<size_t>(c)];
    int depth = Depth(d);
    SQLValueStore const *column = &values[c];
    if (column->IsNull()) {
      MarkNull(out, c);
      continue;
    }
    if (depth == 1) {
      p = PutValue(d, column, p);
      continue;
    }
    unsigned char *marks = p;
    std::memset(marks, 0, static_cast<size_t>(ElementBitmapSize(depth)));
    p += ElementBitmapSize(depth);
    for (int i = 0; i < depth; ++i) {
      SQLValueStore const *e = column->GetElement(i);
      if (e->IsNull())
        MarkNull(marks, i);
      else
        p = PutValue(d, e, p);
    }
  }
  long written = p - out;
  if (fixedSize_ && written < size) std::memset(p, 0, static_cast<size_t>(size - written));
  return fixedSize_ ? size : written;
}

unsigned char const *SQLVSBuffer::GetValue(SQLColumnDescriptor const *d, unsigned char const *p,
                                           unsigned char const *end, SQLValueStore *e) const {
  auto need = [&](long n) {
    if (n < 0 || end - p < n) CorruptRecord(file_->Path().c_str(), -1);
  };
  SQLType type = d->GetType();
  switch (type) {
    case SQL_INTEGER:
    case SQL_DATE:
    case SQL_INTERVAL_DAYS: {
      need(4);
      auto v = static_cast<std::int32_t>(GetBig32(p));
      if (type == SQL_INTEGER) e->SetInteger(v);
      else if (type == SQL_DATE) e->SetDate(v);
      else e->SetIntervalDays(v);
      return p + 4;
    }
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS: {
      need(8);
      auto v = static_cast<std::int64_t>(GetLittle(p, 8));
      if (type == SQL_TIMESTAMP) e->SetTimestamp(v); else e->SetIntervalSeconds(v);
      return p + 8;
    }
    case SQL_REAL:
      need(8);
      e->SetReal(double_out(p));
      return p + 8;
    case SQL_STRING:
    case SQL_RAW: {
      long width = static_cast<long>(d->GetLength());
      need(4);
      long n = static_cast<long>(GetBig32(p));
      p += 4;
      if (fixedSize_ && n > width) CorruptRecord(file_->Path().c_str(), -1);
      need(fixedSize_ ? width : n);
      if (type == SQL_STRING)
        e->SetString(p, static_cast<unsigned long>(n));
      else
        e->SetRaw(p, static_cast<unsigned long>(n));
      return p + (fixedSize_ ? width : n);
    }
    default:
      SQLAbort(__FILE__, __LINE__, "Unexpected type: %d", static_cast<int>(type));
  }
}

void SQLVSBuffer::Decode(unsigned char const *body, long size, SQLValueStore *values) const {
  long bitmap = (numCols_ + 7) / 8;
  if (size < bitmap) CorruptRecord(file_->Path().c_str(), -1);
  unsigned char const *p = body + bitmap;
  unsigned char const *end = body + size;
  for (int c = 0; c < numCols_; ++c) {
    SQLColumnDescriptor const *d = descriptors_[static_cast<size_t>(c)];
    int depth = Depth(d);
    SQLValueStore *column = &values[c];
    if (IsMarkedNull(body, c)) {
      SQLSetTypedNull(column, d->GetType());
      continue;
    }
    if (depth == 1) {
      p = GetValue(d, p, end, column);
      continue;
    }
    long marksSize = ElementBitmapSize(depth);
    if (end - p < marksSize) CorruptRecord(file_->Path().c_str(), -1);
    unsigned char const *marks = p;
    p += marksSize;
    column->SetDimension(depth);
    for (int i = 0; i < depth; ++i) {
      SQLValueStore *e = column->GetElement(i);
      if (IsMarkedNull(marks, i))
        SQLSetTypedNull(e, d->GetType());
      else
        p = GetValue(d, p, end, e);
    }
  }
}

SQLTempFile *SQLVSBuffer::File() {
  if (!file_) file_ = std::make_unique<SQLTempFile>();
  return file_.get();
}

void SQLVSBuffer::WriteBlockOut() {
  if (writeLength_ == 0) return;
  SQLTempFile *file = File();
  file->Seek(writeStart_, SEEK_SET);
  file->Write(writeBlock_.data(), static_cast<unsigned>(writeLength_));
  fileSize_ = std::max(fileSize_, writeStart_ + writeLength_);
  writeLength_ = 0;
}

void SQLVSBuffer::LoadBlock(long position) {
  // The file must hold what the write block has for these bytes.
  if (writeLength_ > 0 && writeStart_ < position + kBlockSize && position < writeStart_ + writeLength_)
    WriteBlockOut();
  if (readBlock_.empty()) readBlock_.resize(static_cast<size_t>(kBlockSize));
  readStart_ = position;
  readValid_ = std::min(kBlockSize, std::max(0L, fileSize_ - position));
  if (readValid_ == 0) return;
  SQLTempFile *file = File();
  file->Seek(position, SEEK_SET);
  file->Read(readBlock_.data(), static_cast<unsigned>(readValid_));
}

void SQLVSBuffer::FileRead(long position, unsigned char *data, long n) {
  if (writeLength_ > 0 && position >= writeStart_ && position + n <= writeStart_ + writeLength_) {
    std::memcpy(data, writeBlock_.data() + (position - writeStart_), static_cast<size_t>(n));
    return;
  }
  if (n > kBlockSize) {
    // Larger than a block: straight from the file.
    WriteBlockOut();
    SQLTempFile *file = File();
    file->Seek(position, SEEK_SET);
    file->Read(data, static_cast<unsigned>(n));
    return;
  }
  if (position < readStart_ || position + n > readStart_ + readValid_) {
    LoadBlock(position);
    if (n > readValid_) CorruptRecord(File()->Path().c_str(), position);
  }
  std::memcpy(data, readBlock_.data() + (position - readStart_), static_cast<size_t>(n));
}

void SQLVSBuffer::FileWrite(long position, unsigned char const *data, long n) {
  File();  // made when the first row leaves the cache
  // The read block keeps the current bytes.
  long const from = std::max(position, readStart_);
  long const to = std::min(position + n, readStart_ + readValid_);
  if (from < to)
    std::memcpy(readBlock_.data() + (from - readStart_), data + (from - position), static_cast<size_t>(to - from));
  if (n > kBlockSize) {
    WriteBlockOut();
    SQLTempFile *file = File();
    file->Seek(position, SEEK_SET);
    file->Write(data, static_cast<unsigned>(n));
    fileSize_ = std::max(fileSize_, position + n);
    return;
  }
  // The write block takes bytes within or right after what it holds; any
  // others write it out and start it anew at their position.
  if (writeLength_ == 0 || position < writeStart_ || position > writeStart_ + writeLength_ ||
      position + n > writeStart_ + kBlockSize) {
    WriteBlockOut();
    if (writeBlock_.empty()) writeBlock_.resize(static_cast<size_t>(kBlockSize));
    writeStart_ = position;
  }
  std::memcpy(writeBlock_.data() + (position - writeStart_), data, static_cast<size_t>(n));
  writeLength_ = std::max(writeLength_, position + n - writeStart_);
}

SQLVSBuffer::Header SQLVSBuffer::ReadHeader(long position) {
  unsigned char h[kHeaderSize];
  SQLTempFile *file = File();
  FileRead(position, h, kHeaderSize);
  Header header{static_cast<long>(GetLittle(h, 4)), static_cast<int>(GetLittle(h + 4, 4)),
                static_cast<long>(GetLittle(h + 8, 4))};
  if (header.kind < 1 || header.kind > 3 || header.size > kMaxRecordField ||
      position + kHeaderSize + header.size > fileEnd_ ||
      (header.kind == 3 && (header.next <= position || header.next >= fileEnd_)))
    CorruptRecord(file->Path().c_str(), position);
  return header;
}

void SQLVSBuffer::WriteRecord(long position, Header const &header, long bodyBytes) {
  unsigned char h[kHeaderSize];
  PutLittle(h, static_cast<std::uint64_t>(header.size), 4);
  PutLittle(h + 4, static_cast<std::uint64_t>(header.kind), 4);
  PutLittle(h + 8, static_cast<std::uint64_t>(header.next), 4);
  FileWrite(position, h, kHeaderSize);
  if (bodyBytes > 0) FileWrite(position + kHeaderSize, io_.data(), bodyBytes);
}

void SQLVSBuffer::WriteOut(SQLVSCacheRow *row) {
  long r = Encode(row->values.get());
  SQLTempFile *file = File();
  if (fixedSize_) {
    FileWrite(row->position, io_.data(), r);
  } else {
    long target = row->position;
    int kind = 1;
    long slot = row->slotSize;
    if (row->onFile) {
      Header h = ReadHeader(row->position);
      if (h.kind == 3) {
        target = h.next;
        kind = 2;
        slot = ReadHeader(target).size;
      }
    }
    if (r <= slot) {
      if (static_cast<long>(io_.size()) < slot) io_.resize(static_cast<size_t>(slot));
      std::memset(io_.data() + r, 0, static_cast<size_t>(slot - r));
      WriteRecord(target, Header{slot, kind, 0}, slot);
    } else {
      // The stub's next is a 32-bit word: the file cannot grow past it.
      if (fileEnd_ > kMaxRecordField) {
        log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR,
                 "Row buffer file '%s' too large to relocate a row", file->Path().c_str());
        throw SQLExFileIOError();
      }
      long end = fileEnd_;
      WriteRecord(end, Header{r, 2, 0}, r);
      WriteRecord(row->position, Header{row->slotSize, 3, end}, 0);
      fileEnd_ = end + r + kHeaderSize;
    }
  }
  row->onFile = true;
  row->dirty = false;
}

void SQLVSBuffer::ReadIn(SQLVSCacheRow *row) {
  SQLTempFile *file = File();
  long bodySize;
  if (fixedSize_) {
    if (static_cast<long>(io_.size()) < recordSize_) io_.resize(static_cast<size_t>(recordSize_));
    FileRead(row->position, io_.data(), recordSize_);
    bodySize = recordSize_;
  } else {
    Header h = ReadHeader(row->position);
    if (h.kind == 2) CorruptRecord(file->Path().c_str(), row->position);
    row->slotSize = h.size;
    long body = row->position + kHeaderSize;
    if (h.kind == 3) {
      body = h.next + kHeaderSize;
      h = ReadHeader(h.next);
      if (h.kind != 2) CorruptRecord(file->Path().c_str(), row->position);
    }
    bodySize = h.size;
    if (static_cast<long>(io_.size()) < bodySize) io_.resize(static_cast<size_t>(bodySize));
    if (bodySize > 0) FileRead(body, io_.data(), bodySize);
  }
  Decode(io_.data(), bodySize, row->values.get());
  row->onFile = true;
  row->dirty = false;
}
