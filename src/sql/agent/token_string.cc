// Token-string items are written and read byte by byte in little-endian
// order, so the format is the same on every host. Every read checks the
// item against the length before touching its bytes.
#include "sql/agent/token_string.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "platform/log.h"
#include "platform/numbers.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_string.h"

namespace {

constexpr int kDefaultCapacity = 20;

// Item sizes, tag included.
constexpr int kBs1Size = 2;
constexpr int kBs2Size = 3;
constexpr int kBs4Size = 5;
constexpr int kBs8Size = 9;
constexpr int kTokenSize = 3;
constexpr int kMemoryHeader = 3;

void PutLE(unsigned char *p, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint64_t GetLE(unsigned char const *p, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  return v;
}

// Logs the fault and raises the protocol error for malformed input.
#define MALFORMED(...) MalformedAt(__FILE__, __LINE__, __VA_ARGS__)
[[noreturn]] __attribute__((format(printf, 3, 4))) void MalformedAt(char const *file, int line,
                                                                    char const *format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  log_mesg(file, line, "SQL", LOG_ERROR, "%s", text);
  throw SQLExUnknownNetWorkToken(SQLString(text));
}

// Payload bytes of an item after its tag (for memory: its count), -1 for an
// unknown tag.
int FixedPayload(int tag) {
  switch (tag) {
    case SQLNWTbs1: return 1;
    case SQLNWTbs2:
    case SQLNWTtoken:
    case SQLNWTmemory: return 2;
    case SQLNWTbs4: return 4;
    case SQLNWTbs8:
    case SQLNWTdouble: return 8;
    default: return -1;
  }
}

SQLNWToken TypeToken(SQLType type) {
  switch (type) {
    case SQL_INTEGER: return SQLNWTTypeInteger;
    case SQL_STRING: return SQLNWTTypeString;
    case SQL_REAL: return SQLNWTTypeReal;
    case SQL_DATE: return SQLNWTTypeDate;
    case SQL_TIMESTAMP: return SQLNWTTypeTimeStamp;
    case SQL_INTERVAL_DAYS: return SQLNWTTypeIntervalDays;
    case SQL_INTERVAL_SECONDS: return SQLNWTTypeIntervalSeconds;
    case SQL_RAW: return SQLNWTTypeRaw;
    default: SQLAbort(__FILE__, __LINE__, "Unexpected type %d", static_cast<int>(type));
  }
}

}  // namespace

SQLTokenString::SQLTokenString(int capacity)
    : capacity_(capacity > 0 ? capacity : kDefaultCapacity) {
  buffer_ = std::make_unique<unsigned char[]>(static_cast<size_t>(capacity_));
}

SQLTokenString::SQLTokenString(unsigned char const *bytes, int n) {
  if (n < 0) MALFORMED("Invalid token string length %d", n);
  capacity_ = n > 0 ? n : kDefaultCapacity;
  buffer_ = std::make_unique_for_overwrite<unsigned char[]>(static_cast<size_t>(capacity_));
  if (n > 0) std::memcpy(buffer_.get(), bytes, static_cast<size_t>(n));
  length_ = n;
}

void SQLTokenString::IncreaseBuffer(int s) {
  // Small buffers grow fast, large ones by nearly 1.3: 20 -> 62 -> 116,
  // 1000 -> 1334.
  long long target = static_cast<long long>(capacity_) + s;
  if (target > INT_MAX) throw std::bad_alloc();
  double grown = capacity_;
  while (grown <= static_cast<double>(target)) {
    grown = std::floor(std::pow(1.3, 1.0 + 1.0 / ((grown + 10.0) * 0.01)) * grown);
  }
  int fresh = grown > INT_MAX ? INT_MAX : static_cast<int>(grown);
  auto buffer = std::make_unique_for_overwrite<unsigned char[]>(static_cast<size_t>(fresh));
  if (length_ > 0) std::memcpy(buffer.get(), buffer_.get(), static_cast<size_t>(length_));
  buffer_ = std::move(buffer);
  capacity_ = fresh;
}

void SQLTokenString::Reserve(int s) {
  if (length_ > capacity_ - s) IncreaseBuffer(s);
}

void SQLTokenString::SetString(unsigned char const *bytes, int n) {
  if (n < 0) MALFORMED("Invalid token string length %d", n);
  if (n > capacity_) {
    length_ = 0;  // nothing of the old content is kept
    IncreaseBuffer(n);
  }
  if (n > 0) std::memmove(buffer_.get(), bytes, static_cast<size_t>(n));
  length_ = n;
}

void SQLTokenString::Truncate(int n) {
  if (n < 0 || n > length_) SQLAbort(__FILE__, __LINE__, "Invalid token string length %d", n);
  length_ = n;
}

void SQLTokenString::AppendTokenString(SQLTokenString const &other) {
  int n = other.length_;
  Reserve(n);  // other may be this string: its buffer is read after growing
  std::memmove(buffer_.get() + length_, other.buffer_.get(), static_cast<size_t>(n));
  length_ += n;
}

void SQLTokenString::PrependTokenString(SQLTokenString const &other) {
  int n = other.length_;
  if (n == 0) return;
  if (&other == this) {
    AppendTokenString(other);  // the same bytes twice either way
    return;
  }
  Reserve(n);
  std::memmove(buffer_.get() + n, buffer_.get(), static_cast<size_t>(length_));
  std::memcpy(buffer_.get(), other.buffer_.get(), static_cast<size_t>(n));
  length_ += n;
}

unsigned char *SQLTokenString::WriteTag(SQLNWTokenType tag, int itemSize) {
  Reserve(itemSize);
  unsigned char *p = buffer_.get() + length_;
  *p = static_cast<unsigned char>(tag);
  length_ += itemSize;
  return p + 1;
}

void SQLTokenString::AppendBs1(std::int8_t v) {
  *WriteTag(SQLNWTbs1, kBs1Size) = static_cast<unsigned char>(v);
}

void SQLTokenString::AppendBs2(std::int16_t v) {
  PutLE(WriteTag(SQLNWTbs2, kBs2Size), static_cast<std::uint16_t>(v), 2);
}

void SQLTokenString::AppendBs4(std::int32_t v) {
  PutLE(WriteTag(SQLNWTbs4, kBs4Size), static_cast<std::uint32_t>(v), 4);
}

void SQLTokenString::AppendBs8(std::int64_t v) {
  PutLE(WriteTag(SQLNWTbs8, kBs8Size), static_cast<std::uint64_t>(v), 8);
}

void SQLTokenString::AppendDouble(double v) {
  std::uint64_t bits;
  static_assert(sizeof bits == sizeof v);
  std::memcpy(&bits, &v, sizeof bits);
  PutLE(WriteTag(SQLNWTdouble, kBs8Size), bits, 8);
}

void SQLTokenString::AppendMemory(void const *bytes, int n) {
  if (n < 0 || n > kMaxMemory) {
    log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR,
             "A value of %d bytes exceeds the %d bytes of a token-string item", n, kMaxMemory);
    throw SQLExDEStringDataRightTruncation();
  }
  // One byte of slack is counted, as the growth rule has always done.
  Reserve(n + kMemoryHeader + 1);
  unsigned char *p = WriteTag(SQLNWTmemory, kMemoryHeader);
  PutLE(p, static_cast<std::uint16_t>(n), 2);
  if (n > 0) std::memcpy(buffer_.get() + length_, bytes, static_cast<size_t>(n));
  length_ += n;
}

void SQLTokenString::AppendToken(SQLNWToken token) {
  PutLE(WriteTag(SQLNWTtoken, kTokenSize), static_cast<std::uint16_t>(token), 2);
}

void SQLTokenString::AppendType(SQLType type) { AppendToken(TypeToken(type)); }

void SQLTokenString::AppendJoinType(SQLJoinType type) {
  switch (type) {
    case SQL_JOIN_INNER: AppendToken(SQLNWTJoinTypeInner); break;
    case SQL_JOIN_LEFT: AppendToken(SQLNWTJoinTypeLeft); break;
    case SQL_JOIN_RIGHT: AppendToken(SQLNWTJoinTypeRight); break;
    case SQL_JOIN_FULL: AppendToken(SQLNWTJoinTypeFull); break;
    default: SQLAbort(__FILE__, __LINE__, "Unexpected join type %d", static_cast<int>(type));
  }
}

void SQLTokenString::PutBs2(std::int16_t v, int offset) {
  if (offset < 0 || offset > length_ - kBs2Size || buffer_[offset] != SQLNWTbs2)
    SQLAbort(__FILE__, __LINE__, "No bs2 item at offset %d", offset);
  PutLE(buffer_.get() + offset + 1, static_cast<std::uint16_t>(v), 2);
}

void SQLTokenString::PutBs4(std::int32_t v, int offset) {
  if (offset < 0 || offset > length_ - kBs4Size || buffer_[offset] != SQLNWTbs4)
    SQLAbort(__FILE__, __LINE__, "No bs4 item at offset %d", offset);
  PutLE(buffer_.get() + offset + 1, static_cast<std::uint32_t>(v), 4);
}

unsigned char const *SQLTokenString::ReadItem(SQLNWTokenType tag, int itemSize) const {
  if (readOffset_ < 0 || readOffset_ >= length_)
    MALFORMED("Token string ends before a %s item (offset %d, length %d)",
              SQLNWTokenTypeName(tag), readOffset_, length_);
  int found = buffer_[readOffset_];
  if (found != tag)
    MALFORMED("Unexpected SQLNWTokenType %d at offset %d, expected %s", found, readOffset_,
              SQLNWTokenTypeName(tag));
  if (itemSize > length_ - readOffset_)
    MALFORMED("Truncated %s item at offset %d (length %d)", SQLNWTokenTypeName(tag), readOffset_,
              length_);
  unsigned char const *payload = buffer_.get() + readOffset_ + 1;
  readOffset_ += itemSize;
  return payload;
}

std::int8_t SQLTokenString::GetBs1() const {
  return static_cast<std::int8_t>(*ReadItem(SQLNWTbs1, kBs1Size));
}

std::int16_t SQLTokenString::GetBs2() const {
  return static_cast<std::int16_t>(GetLE(ReadItem(SQLNWTbs2, kBs2Size), 2));
}

std::int32_t SQLTokenString::GetBs4() const {
  return static_cast<std::int32_t>(GetLE(ReadItem(SQLNWTbs4, kBs4Size), 4));
}

std::int64_t SQLTokenString::GetBs8() const {
  return static_cast<std::int64_t>(GetLE(ReadItem(SQLNWTbs8, kBs8Size), 8));
}

double SQLTokenString::GetDouble() const {
  std::uint64_t bits = GetLE(ReadItem(SQLNWTdouble, kBs8Size), 8);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

SQLNWToken SQLTokenString::GetToken() const {
  return static_cast<SQLNWToken>(
      static_cast<std::int16_t>(GetLE(ReadItem(SQLNWTtoken, kTokenSize), 2)));
}

void SQLTokenString::GetMemory(unsigned char const *&bytes, std::int16_t &n) const {
  int start = readOffset_;
  unsigned char const *header = ReadItem(SQLNWTmemory, kMemoryHeader);
  auto count = static_cast<std::int16_t>(GetLE(header, 2));
  if (count < 0 || count > length_ - readOffset_) {
    readOffset_ = start;
    MALFORMED("Memory item at offset %d holds %d bytes, %d left", start, count,
              length_ - start - kMemoryHeader);
  }
  bytes = header + 2;
  n = count;
  readOffset_ += count;
}

SQLType SQLTokenString::GetType() const {
  SQLNWToken token = GetToken();
  switch (token) {
    case SQLNWTTypeInteger: return SQL_INTEGER;
    case SQLNWTTypeString: return SQL_STRING;
    case SQLNWTTypeReal: return SQL_REAL;
    case SQLNWTTypeDate: return SQL_DATE;
    case SQLNWTTypeTimeStamp: return SQL_TIMESTAMP;
    case SQLNWTTypeIntervalDays: return SQL_INTERVAL_DAYS;
    case SQLNWTTypeIntervalSeconds: return SQL_INTERVAL_SECONDS;
    case SQLNWTTypeRaw: return SQL_RAW;
    default: MALFORMED("Unexpected token %d", static_cast<int>(token));
  }
}

SQLNWToken SQLTokenString::PeekToken() const {
  SQLNWToken token = GetToken();
  readOffset_ -= kTokenSize;
  return token;
}

SQLNWTokenType SQLTokenString::TypeCurrent() const {
  if (readOffset_ < 0 || readOffset_ >= length_)
    MALFORMED("Token string ends at offset %d (length %d)", readOffset_, length_);
  return static_cast<SQLNWTokenType>(buffer_[readOffset_]);
}

void SQLTokenString::SetReadOffset(int offset) const {
  if (offset < 0 || offset > length_)
    MALFORMED("Read offset %d outside the token string (length %d)", offset, length_);
  readOffset_ = offset;
}

void SQLTokenString::ConvertDataFormat(bool swap, int fromFormat, int toFormat,
                                       Direction direction) {
  unsigned char *p = buffer_.get();
  int at = 0;
  while (at < length_) {
    int tag = p[at];
    int payload = FixedPayload(tag);
    if (payload < 0) MALFORMED("Unexpected SQLNWTokenType %d at offset %d", tag, at);
    if (payload > length_ - at - 1)
      MALFORMED("Truncated %s item at offset %d (length %d)", SQLNWTokenTypeName(tag), at, length_);
    unsigned char *q = p + at + 1;
    int count = 0;  // bytes of a memory item after its count
    if (tag == SQLNWTdouble) {
      // Doubles change representation, not byte order: swap never applies.
      if (fromFormat != toFormat) al_convert_double(q, fromFormat, toFormat);
    } else if (tag == SQLNWTmemory) {
      // The count steers the walk, so it is read in host order: after the
      // swap when coming to this host, before it when leaving.
      if (swap && direction == ToHostOrder) std::swap(q[0], q[1]);
      std::int16_t host;
      std::memcpy(&host, q, sizeof host);
      count = host;
      if (swap && direction == FromHostOrder) std::swap(q[0], q[1]);
      if (count < 0 || count > length_ - at - kMemoryHeader)
        MALFORMED("Memory item at offset %d holds %d bytes, %d left", at, count,
                  length_ - at - kMemoryHeader);
    } else if (swap) {
      std::reverse(q, q + payload);
    }
    at += 1 + payload + count;
  }
}

void SQLTokenString::Log() const {
  SQLLogger &log = *SQLLogger::Instance();
  if (!log.LogFlagIsSet(SQLLogger::Always)) return;
  unsigned char const *p = buffer_.get();
  int at = 0;
  while (at < length_) {
    int tag = p[at];
    char const *typeName = SQLNWTokenTypeName(tag);
    if (typeName == nullptr) {
      // Past an unknown tag the items cannot be told apart: the trace of a
      // hostile string stays one line instead of one line per byte.
      log << "Unimplemented Log(SQLNWTTokenType) " << tag << " at offset " << at << ", "
          << length_ - at - 1 << " bytes not traced" << endl;
      return;
    }
    int payload = FixedPayload(tag);
    if (payload > length_ - at - 1) {
      log << typeName << " " << "Truncated item at offset " << at << endl;
      return;
    }
    unsigned char const *q = p + at + 1;
    log << typeName << " ";
    switch (tag) {
      case SQLNWTbs1: log << static_cast<int>(static_cast<std::int8_t>(q[0])) << " "; break;
      case SQLNWTbs2: log << static_cast<int>(static_cast<std::int16_t>(GetLE(q, 2))) << " "; break;
      case SQLNWTbs4: log << static_cast<int>(static_cast<std::int32_t>(GetLE(q, 4))) << " "; break;
      case SQLNWTbs8: log << static_cast<long long>(GetLE(q, 8)) << " "; break;
      case SQLNWTdouble: {
        std::uint64_t bits = GetLE(q, 8);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        log << v << " ";
        break;
      }
      case SQLNWTmemory: {
        int count = static_cast<std::int16_t>(GetLE(q, 2));
        if (count < 0 || count > length_ - at - 3) {
          log << "Truncated item at offset " << at << endl;
          return;
        }
        log << count << " ";
        for (int i = 0; i < count; ++i) log << static_cast<int>(q[2 + i]) << " ";
        payload += count;
        break;
      }
      case SQLNWTtoken: {
        int code = static_cast<std::int16_t>(GetLE(q, 2));
        if (char const *name = SQLNWTokenName(code)) {
          log << name << " ";
        } else {
          log << "Unimplemented Log(SQLNWTToken) " << code << " ";
        }
        break;
      }
    }
    at += 1 + payload;
  }
  log << endl;
}
