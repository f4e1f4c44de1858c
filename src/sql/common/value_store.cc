#include "sql/common/value_store.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "platform/dates.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_util.h"

SQLValueStore::SQLValueStore(SQLValueStore const &other) { CopyFrom(other); }

SQLValueStore &SQLValueStore::operator=(SQLValueStore const &other) {
  if (this != &other) {
    SQLValueStore copy(other);
    *this = std::move(copy);
  }
  return *this;
}

SQLValueStore::SQLValueStore(SQLValueStore &&other) noexcept { *this = std::move(other); }

SQLValueStore &SQLValueStore::operator=(SQLValueStore &&other) noexcept {
  if (this == &other) return *this;
  null_ = other.null_;
  type_ = other.type_;
  i32_ = other.i32_;
  i64_ = other.i64_;
  real_ = other.real_;
  length_ = std::exchange(other.length_, 0);
  capacity_ = std::exchange(other.capacity_, 0);
  bytes_ = std::move(other.bytes_);
  dimension_ = std::exchange(other.dimension_, 0);
  elementCapacity_ = std::exchange(other.elementCapacity_, 0);
  elements_ = std::move(other.elements_);
  other.type_ = SQL_UNDEFINED;
  other.null_ = false;
  return *this;
}

SQLValueStore::~SQLValueStore() = default;

void SQLValueStore::CopyFrom(SQLValueStore const &other) {
  null_ = other.null_;
  type_ = other.type_;
  i32_ = other.i32_;
  i64_ = other.i64_;
  real_ = other.real_;
  length_ = other.length_;
  capacity_ = other.capacity_;
  if (other.bytes_ != nullptr) {
    bytes_ = std::make_unique<unsigned char[]>(capacity_);
    std::memcpy(bytes_.get(), other.bytes_.get(), capacity_);
  }
  dimension_ = other.dimension_;
  elementCapacity_ = other.elementCapacity_;
  if (other.elements_ != nullptr) {
    elements_ = std::make_unique<SQLValueStore[]>(elementCapacity_);
    for (int i = 0; i < elementCapacity_; ++i) elements_[i].CopyFrom(other.elements_[i]);
  }
}

void SQLValueStore::MakeType(SQLType type) {
  if (type_ == SQL_ARRAY && type != SQL_ARRAY) {
    elements_.reset();
    dimension_ = 0;
    elementCapacity_ = 0;
  }
  if (type != SQL_STRING && type != SQL_RAW && bytes_ != nullptr) {
    bytes_.reset();
    capacity_ = 0;
    length_ = 0;
  }
  type_ = type;
}

void SQLValueStore::ReserveBytes(unsigned long n, unsigned long keep) {
  unsigned long needed = type_ == SQL_STRING ? n + 1 : n;
  if (needed <= capacity_) return;
  auto grown = std::make_unique<unsigned char[]>(needed);
  if (keep > 0) std::memcpy(grown.get(), bytes_.get(), keep);
  bytes_ = std::move(grown);
  capacity_ = needed;
}

void SQLValueStore::SetDate(std::int32_t dayNumber) {
  MakeType(SQL_DATE);
  i32_ = dayNumber;
  null_ = false;
}

void SQLValueStore::SetTimestamp(std::int64_t seconds) {
  MakeType(SQL_TIMESTAMP);
  i64_ = seconds;
  null_ = false;
}

void SQLValueStore::SetIntervalDays(std::int32_t days) {
  MakeType(SQL_INTERVAL_DAYS);
  i32_ = days;
  null_ = false;
}

void SQLValueStore::SetIntervalSeconds(std::int64_t seconds) {
  MakeType(SQL_INTERVAL_SECONDS);
  i64_ = seconds;
  null_ = false;
}

void SQLValueStore::AssignBytes(unsigned long at, unsigned char const *src, unsigned long n) {
  // The source may lie in this store's own buffer, which growing replaces.
  bool inside = src != nullptr && bytes_ != nullptr && src >= bytes_.get() &&
                src < bytes_.get() + capacity_;
  std::size_t offset = inside ? static_cast<std::size_t>(src - bytes_.get()) : 0;
  ReserveBytes(at + n, inside ? capacity_ : at);
  if (inside) src = bytes_.get() + offset;
  if (n > 0) std::memmove(bytes_.get() + at, src, n);
}

void SQLValueStore::SetString(unsigned char const *bytes, unsigned long n) {
  MakeType(SQL_STRING);
  AssignBytes(0, bytes, n);
  bytes_[n] = '\0';
  length_ = n;
  null_ = false;
}

void SQLValueStore::SetString(char const *text) {
  SetString(reinterpret_cast<unsigned char const *>(text), std::strlen(text));
}

void SQLValueStore::FillString(char c, int n) {
  unsigned long count = n > 0 ? static_cast<unsigned long>(n) : 0;
  MakeType(SQL_STRING);
  ReserveBytes(count, 0);
  std::memset(bytes_.get(), c, count);
  bytes_[count] = '\0';
  length_ = count;
  null_ = false;
}

void SQLValueStore::SetRaw(unsigned char const *bytes, unsigned long n) {
  MakeType(SQL_RAW);
  AssignBytes(0, bytes, n);
  length_ = n;
  null_ = false;
}

void SQLValueStore::FillRaw(unsigned char b, int n) {
  unsigned long count = n > 0 ? static_cast<unsigned long>(n) : 0;
  MakeType(SQL_RAW);
  ReserveBytes(count, 0);
  if (count > 0) std::memset(bytes_.get(), b, count);
  length_ = count;
  null_ = false;
}

void SQLValueStore::SetDimension(int n) {
  if (n < 0) SQLAbort(__FILE__, __LINE__, "Negative dimension %d", n);
  if (type_ != SQL_ARRAY) {
    bytes_.reset();
    capacity_ = 0;
    length_ = 0;
    type_ = SQL_ARRAY;
  }
  if (n > elementCapacity_) {
    elements_ = std::make_unique<SQLValueStore[]>(n);
    elementCapacity_ = n;
  }
  dimension_ = n;
  null_ = false;
}

void SQLValueStore::AppendString(unsigned char const *bytes, unsigned long n) {
  if (type_ != SQL_STRING) SQLAbort(__FILE__, __LINE__, "Unexpected type %d", type_);
  if (n == 0) return;
  AssignBytes(length_, bytes, n);
  length_ += n;
  bytes_[length_] = '\0';
}

void SQLValueStore::RightPadString(int n) {
  if (type_ != SQL_STRING) SQLAbort(__FILE__, __LINE__, "Unexpected type %d", type_);
  if (n <= 0) return;
  unsigned long count = static_cast<unsigned long>(n);
  ReserveBytes(length_ + count, length_);
  std::memset(bytes_.get() + length_, ' ', count);
  length_ += count;
  bytes_[length_] = '\0';
}

void SQLValueStore::StripTrailingSpaces() {
  if (type_ != SQL_STRING) SQLAbort(__FILE__, __LINE__, "Unexpected type %d", type_);
  while (length_ > 0 && bytes_[length_ - 1] == ' ') --length_;
  if (bytes_ != nullptr) bytes_[length_] = '\0';
}

void SQLValueStore::RightPadRaw(int n) {
  if (type_ != SQL_RAW) SQLAbort(__FILE__, __LINE__, "Unexpected type %d", type_);
  if (n <= 0) return;
  unsigned long count = static_cast<unsigned long>(n);
  ReserveBytes(length_ + count, length_);
  std::memset(bytes_.get() + length_, 0, count);
  length_ += count;
}

void SQLValueStore::Concatenate(SQLValueStore const *a, SQLValueStore const *b) {
  if (a->IsNull() || b->IsNull()) {
    SetNull();
    return;
  }
  if ((a->type_ != SQL_STRING && a->type_ != SQL_RAW) || b->type_ != a->type_)
    SQLAbort(__FILE__, __LINE__, "Unexpected types %d and %d", a->type_, b->type_);
  if (a == this || b == this) {
    SQLValueStore result;
    result.Concatenate(a, b);
    *this = std::move(result);
    return;
  }
  unsigned long total = a->length_ + b->length_;
  if (total < a->length_) SQLAbort(__FILE__, __LINE__, "Concatenation too long");
  MakeType(a->type_);
  ReserveBytes(total, 0);
  if (a->length_ > 0) std::memcpy(bytes_.get(), a->bytes_.get(), a->length_);
  if (b->length_ > 0) std::memcpy(bytes_.get() + a->length_, b->bytes_.get(), b->length_);
  if (type_ == SQL_STRING) bytes_[total] = '\0';
  length_ = total;
  null_ = false;
}

bool SQLValueStore::IsEmpty() const {
  if (IsNull()) return true;
  switch (type_) {
    case SQL_INTEGER:
    case SQL_DATE:
    case SQL_INTERVAL_DAYS:
      return i32_ == 0;
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS:
      return i64_ == 0;
    case SQL_REAL:
      return real_ == 0.0;
    case SQL_STRING:
      for (unsigned long i = 0; i < length_; ++i)
        if (bytes_[i] != ' ') return false;
      return true;
    case SQL_RAW:
      for (unsigned long i = 0; i < length_; ++i)
        if (bytes_[i] != 0) return false;
      return true;
    case SQL_ARRAY:
      for (int i = 0; i < dimension_; ++i)
        if (elements_[i].IsEmpty()) return true;
      return false;
    default:
      SQLAbort(__FILE__, __LINE__, "Unexpected type %d", type_);
  }
}

void SQLValueStore::Log() const {
  SQLLogger &log = *SQLLogger::Instance();
  if (!log.LogFlagIsSet(SQLLogger::Always)) return;
  if (IsNull()) {
    log << "NULL";
    return;
  }
  char text[64];
  switch (type_) {
    case SQL_UNDEFINED:
      log << "<Undefined>";
      break;
    case SQL_INTEGER:
      log << "Int:" << static_cast<int>(i32_);
      break;
    case SQL_STRING:
      log << "Str:'" << GetString() << "'";
      break;
    case SQL_REAL:
      log << "Real:" << real_;
      break;
    case SQL_DATE: {
      int year, month, day;
      if (num_to_date(i32_, &year, &month, &day) == 0)
        std::snprintf(text, sizeof text, "%04d/%02d/%02d", year, month, day);
      else
        std::snprintf(text, sizeof text, "Invalid");
      log << "Date:" << static_cast<int>(i32_) << "<" << text << ">";
      break;
    }
    case SQL_TIMESTAMP: {
      struct tm utc;
      if (qelt_gmtime(i64_, &utc) != nullptr)
        std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", utc.tm_year + 1900,
                      utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
      else
        std::snprintf(text, sizeof text, "Invalid");
      log << "Time:" << static_cast<long long>(i64_) << "<" << text << ">";
      break;
    }
    case SQL_INTERVAL_DAYS:
      log << "IntDays:" << static_cast<int>(i32_);
      break;
    case SQL_INTERVAL_SECONDS:
      log << "IntSecs:" << static_cast<long long>(i64_);
      break;
    case SQL_RAW:
      log << "Raw:" << raw_to_hexstring(bytes_.get(), length_);
      break;
    case SQL_ARRAY:
      log << "Arr:[";
      for (int i = 0; i < dimension_; ++i) {
        if (i > 0) log << ",";
        log << i << ":";
        elements_[i].Log();
      }
      log << "]";
      break;
    default:
      log << "?:???";
      break;
  }
}

void SQLSetTypedNull(SQLValueStore *v, SQLType type) {
  switch (type) {
    case SQL_INTEGER: v->SetInteger(0); break;
    case SQL_REAL: v->SetReal(0.0); break;
    case SQL_DATE: v->SetDate(0); break;
    case SQL_TIMESTAMP: v->SetTimestamp(0); break;
    case SQL_INTERVAL_DAYS: v->SetIntervalDays(0); break;
    case SQL_INTERVAL_SECONDS: v->SetIntervalSeconds(0); break;
    case SQL_STRING: v->SetString(nullptr, 0); break;
    default: v->SetRaw(nullptr, 0); break;
  }
  v->SetNull();
}
