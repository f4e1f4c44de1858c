#include "sql/statement/short_array.h"

#include <stdexcept>

#include "sql/common/crc32.h"

ShortArray::ShortArray(int count) {
  if (count < 0 || count > kMaxCount) throw std::length_error("ShortArray count out of range");
  values_.assign(static_cast<size_t>(count), 0);
}

ShortArray::ShortArray(std::initializer_list<short> values) : values_(values) {
  if (values_.size() > static_cast<size_t>(kMaxCount)) {
    throw std::length_error("ShortArray count out of range");
  }
}

bool ShortArray::Equal(ShortArray const &other) const {
  return GetCount() == other.GetCount() && values_ == other.values_;
}

unsigned long ShortArray::Hash() const {
  std::vector<unsigned char> bytes;
  bytes.reserve(values_.size() * 2);
  for (short v : values_) {
    auto u = static_cast<unsigned short>(v);
    bytes.push_back(static_cast<unsigned char>(u & 0xFF));
    bytes.push_back(static_cast<unsigned char>(u >> 8));
  }
  return calc_crc(0, bytes.data(), static_cast<int>(bytes.size()));
}

unsigned long ShortArrayHash(ShortArray const *key) { return key->Hash(); }

bool ShortArrayEqual(ShortArray const *a, ShortArray const *b) { return a->Equal(*b); }
