#include "sql/common/sql_string.h"

#include <climits>
#include <cstring>
#include <new>

#include "sql/common/crc32.h"

namespace {

constexpr int kSlack = 10;  // bytes allocated beyond what the content needs

// Room for `length` bytes plus the slack, refusing sizes an int cannot hold.
int CapacityFor(long length) {
  if (length < 0) length = 0;
  if (length > INT_MAX - kSlack) throw std::bad_alloc();
  return static_cast<int>(length) + kSlack;
}

}  // namespace

SQLString::SQLString() : SQLString(0) {}

SQLString::SQLString(int n) { Reallocate(CapacityFor(n), 0); }

SQLString::SQLString(char const *text, CharSet) {
  size_t n = text ? std::strlen(text) : 0;
  if (n > static_cast<size_t>(INT_MAX - kSlack)) throw std::bad_alloc();
  Reallocate(CapacityFor(static_cast<long>(n)), 0);
  std::memcpy(data_.get(), text ? text : "", n);
  length_ = static_cast<int>(n);
  data_[length_] = '\0';
}

SQLString::SQLString(char const *text, int n, CharSet) {
  int len = (text && n > 0) ? static_cast<int>(strnlen(text, static_cast<size_t>(n))) : 0;
  Reallocate(CapacityFor(len), 0);
  if (len > 0) std::memcpy(data_.get(), text, static_cast<size_t>(len));
  length_ = len;
  data_[length_] = '\0';
}

SQLString::SQLString(SQLString const &other) {
  Reallocate(CapacityFor(other.length_), 0);
  std::memcpy(data_.get(), other.data_.get(), static_cast<size_t>(other.length_) + 1);
  length_ = other.length_;
}

SQLString &SQLString::operator=(SQLString const &other) {
  if (this == &other) return *this;
  if (other.length_ >= capacity_) Reallocate(CapacityFor(other.length_), 0);
  std::memcpy(data_.get(), other.data_.get(), static_cast<size_t>(other.length_) + 1);
  length_ = other.length_;
  return *this;
}

SQLString SQLString::operator+(SQLString const &other) const {
  long total = static_cast<long>(length_) + other.length_;
  CapacityFor(total);  // refuses a sum an int cannot hold
  SQLString sum(static_cast<int>(total));
  std::memcpy(sum.data_.get(), data_.get(), static_cast<size_t>(length_));
  std::memcpy(sum.data_.get() + length_, other.data_.get(), static_cast<size_t>(other.length_) + 1);
  sum.length_ = static_cast<int>(total);
  return sum;
}

SQLString &SQLString::operator+=(SQLString const &other) {
  // Appending a string to itself works too: the operand is copied first.
  if (this == &other) return *this += SQLString(other);
  long total = static_cast<long>(length_) + other.length_;
  if (total >= capacity_) Reallocate(CapacityFor(total), length_);
  std::memcpy(data_.get() + length_, other.data_.get(), static_cast<size_t>(other.length_) + 1);
  length_ = static_cast<int>(total);
  return *this;
}

bool SQLString::operator==(SQLString const &other) const {
  if (length_ != other.length_) return false;
  return std::memcmp(data_.get(), other.data_.get(), static_cast<size_t>(length_)) == 0;
}

void SQLString::Print(char *buffer, int size, CharSet) const {
  if (buffer == nullptr || size < 1) return;
  int n = length_ < size - 1 ? length_ : size - 1;
  std::memcpy(buffer, data_.get(), static_cast<size_t>(n));
  buffer[n] = '\0';
  buffer[size - 1] = '\0';
}

unsigned long SQLString::Hash() const {
  return calc_crc(0, reinterpret_cast<unsigned char const *>(data_.get()), length_);
}

void SQLString::Reallocate(int capacity, int keep) {
  auto fresh = std::make_unique<char[]>(static_cast<size_t>(capacity));
  if (keep > 0) std::memcpy(fresh.get(), data_.get(), static_cast<size_t>(keep));
  fresh[keep] = '\0';
  data_ = std::move(fresh);
  capacity_ = capacity;
}

unsigned long SQLStringHash(SQLString const &s) { return s.Hash(); }

bool SQLStringEqual(SQLString const &a, SQLString const &b) { return a == b; }
