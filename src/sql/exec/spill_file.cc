#include "sql/exec/spill_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/log.h"
#include "sql/common/sql_exception.h"
#include "sql/common/temp_file.h"

SQLSpillWriter::SQLSpillWriter(SQLTempFile *file, long end, std::size_t bufferBytes)
    : file_(file), end_(end), limit_(bufferBytes) {
  buffer_.reserve(bufferBytes);
}

void SQLSpillWriter::Put(void const *data, std::size_t n) {
  if (buffer_.size() + n > limit_) Flush();
  if (n > limit_) {
    file_->Seek(end_, SEEK_SET);
    file_->Write(data, static_cast<unsigned>(n));
    end_ += static_cast<long>(n);
    return;
  }
  auto const *p = static_cast<unsigned char const *>(data);
  buffer_.insert(buffer_.end(), p, p + n);
}

void SQLSpillWriter::Flush() {
  if (buffer_.empty()) return;
  file_->Seek(end_, SEEK_SET);
  file_->Write(buffer_.data(), static_cast<unsigned>(buffer_.size()));
  end_ += static_cast<long>(buffer_.size());
  buffer_.clear();
}

SQLSpillReader::SQLSpillReader(SQLTempFile *file, long offset, long bytes, std::size_t bufferBytes)
    : file_(file), pos_(offset), end_(offset + bytes), buffer_(bufferBytes) {}

unsigned char const *SQLSpillReader::Peek(std::size_t n) {
  if (filled_ - at_ >= n) return buffer_.data() + at_;
  std::memmove(buffer_.data(), buffer_.data() + at_, filled_ - at_);
  filled_ -= at_;
  at_ = 0;
  if (buffer_.size() < n) buffer_.resize(n);
  long r = std::min(static_cast<long>(buffer_.size() - filled_), end_ - pos_);
  if (static_cast<std::size_t>(r) + filled_ < n) {
    log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR, "Truncated record in the spill file '%s'",
             file_->Path().c_str());
    throw SQLExFileIOError();
  }
  file_->Seek(pos_, SEEK_SET);
  file_->Read(buffer_.data() + filled_, static_cast<unsigned>(r));
  pos_ += r;
  filled_ += static_cast<std::size_t>(r);
  return buffer_.data();
}
