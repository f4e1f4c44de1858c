// Buffered sequential access to the spill files of sort and grouping
// (SQLTempFile): a writer that appends through one buffer, and a reader of
// one byte range through another, so that each transfer moves many rows.
#pragma once

#include <cstddef>
#include <vector>

class SQLTempFile;

class SQLSpillWriter {
 public:
  // Appends at byte `end` of the file; bufferBytes are held before a write.
  SQLSpillWriter(SQLTempFile *file, long end, std::size_t bufferBytes);
  void Put(void const *data, std::size_t n);
  // Writes what the buffer holds.
  void Flush();
  // The file position of the next byte put.
  long Position() const { return end_ + static_cast<long>(buffer_.size()); }
  std::size_t Capacity() const { return buffer_.capacity(); }

 private:
  SQLTempFile *file_;
  long end_;
  std::size_t limit_;
  std::vector<unsigned char> buffer_;
};

class SQLSpillReader {
 public:
  // Reads bytes [offset, offset + bytes) of the file.
  SQLSpillReader(SQLTempFile *file, long offset, long bytes, std::size_t bufferBytes);
  bool AtEnd() const { return at_ == filled_ && pos_ == end_; }
  // The next n bytes, valid until the next Peek; SQLExFileIOError when
  // fewer remain.
  unsigned char const *Peek(std::size_t n);
  // Past n bytes that Peek returned.
  void Skip(std::size_t n) { at_ += n; }
  std::size_t Capacity() const { return buffer_.size(); }

 private:
  SQLTempFile *file_;
  long pos_;
  long end_;
  std::vector<unsigned char> buffer_;
  std::size_t at_ = 0;
  std::size_t filled_ = 0;
};
