// Scratch files are named "sql" followed by a number written in base 52
// letters, least significant digit first; the number mixes the process id
// with a random value. Uniqueness comes from the exclusive create: a name
// that exists already is discarded and another one drawn.
#include "sql/common/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <random>

#include "platform/env.h"
#include "platform/log.h"
#include "sql/common/sql_exception.h"

namespace {

constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr unsigned kBase = sizeof kLetters - 1;  // 52

// Seeded from the time at the first use in the process.
std::mt19937 &Generator() {
  static std::mt19937 generator(static_cast<std::uint32_t>(std::time(nullptr)) ^
                                (static_cast<std::uint32_t>(getpid()) << 8));
  return generator;
}

std::string NewName() {
  std::string name;
  char const *dir = get_zuv_tmp();
  if (dir != nullptr && dir[0] != '\0') {
    name = dir;
    name += '/';
  }
  name += "sql";
  std::uint64_t number = (static_cast<std::uint64_t>(getpid()) << 16) |
                         (Generator()() & 0x7FFFFFFFu);
  for (; number != 0; number /= kBase) name += kLetters[number % kBase];
  return name;
}

}  // namespace

SQLTempFile::SQLTempFile() {
  int fd;
  for (;;) {
    path_ = NewName();
    fd = open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0) break;
    if (errno == EEXIST) continue;
    log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR, "Cannot create temporary file '%s': %s",
             path_.c_str(), std::strerror(errno));
    throw SQLExFileIOError();
  }
  stream_ = fdopen(fd, "wb+");
  if (stream_ == nullptr) {
    log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR, "Cannot open a stream on temporary file '%s'",
             path_.c_str());
    close(fd);
    unlink(path_.c_str());
    throw SQLExFileIOError();
  }
}

SQLTempFile::~SQLTempFile() {
  if (std::fclose(stream_) != 0)
    log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR, "Failed to close temporary file '%s'",
             path_.c_str());
  if (unlink(path_.c_str()) != 0)
    log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR, "Failed to remove temporary file '%s'",
             path_.c_str());
}

void SQLTempFile::Switch(LastOp next) {
  // A failing flush here is a write that did not reach the file.
  if (lastOp_ != LastOp::None && lastOp_ != next && std::fseek(stream_, 0, SEEK_CUR) != 0) {
    log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR, "Write to temporary file '%s' failed: %s",
             path_.c_str(), std::strerror(errno));
    throw SQLExFileIOError();
  }
  lastOp_ = next;
}

void SQLTempFile::Write(void const *data, unsigned int size) {
  Switch(LastOp::Write);
  if (size == 0) return;
  if (std::fwrite(data, 1, size, stream_) != size) {
    log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR, "Write to temporary file '%s' failed: %s",
             path_.c_str(), std::strerror(errno));
    std::clearerr(stream_);
    throw SQLExFileIOError();
  }
}

void SQLTempFile::Read(void *data, unsigned int size) {
  Switch(LastOp::Read);
  if (size == 0) return;
  if (std::fread(data, 1, size, stream_) != size) {
    std::clearerr(stream_);
    throw SQLExFileIOError();
  }
}

int SQLTempFile::Get() {
  try {
    Switch(LastOp::Read);
  } catch (SQLException const &) {
    return EOF;
  }
  int c = std::fgetc(stream_);
  if (c == EOF) std::clearerr(stream_);
  return c;
}

int SQLTempFile::Put(int byte) {
  try {
    Switch(LastOp::Write);
  } catch (SQLException const &) {
    return EOF;
  }
  int c = std::fputc(byte, stream_);
  if (c == EOF) std::clearerr(stream_);
  return c;
}

long SQLTempFile::Seek(long offset, int whence) {
  if (std::fseek(stream_, offset, whence) != 0) {
    log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR, "Seek in temporary file '%s' failed: %s",
             path_.c_str(), std::strerror(errno));
    throw SQLExFileIOError();
  }
  lastOp_ = LastOp::None;
  long position = std::ftell(stream_);
  if (position < 0) throw SQLExFileIOError();
  return position;
}

long SQLTempFile::Tell() {
  long position = std::ftell(stream_);
  if (position < 0) throw SQLExFileIOError();
  return position;
}
