#include "sql/exec/sort_key.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sql/common/value_store.h"
#include "text/tss.h"

namespace {

template <typename T>
int Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Same-type numbers need no operator dispatch; everything else takes the
// value layer's one order.
int CompareScalar(SQLValueStore const *a, SQLValueStore const *b) {
  SQLType t = a->GetType();
  if (t == b->GetType() && !a->IsNull() && !b->IsNull()) {
    switch (t) {
      case SQL_INTEGER:
      case SQL_DATE:
      case SQL_INTERVAL_DAYS:
        return Sign(a->GetInteger(), b->GetInteger());
      case SQL_TIMESTAMP:
      case SQL_INTERVAL_SECONDS:
        return Sign(a->GetTimestamp(), b->GetTimestamp());
      case SQL_REAL:
        return Sign(a->GetReal(), b->GetReal());
      default:
        break;
    }
  }
  bool nullA = a->IsNull(), nullB = b->IsNull();
  if (nullA || nullB) return nullA == nullB ? 0 : (nullA ? 1 : -1);
  if (SQLValueStore::Compare(a, b, SQL_COMP_EQ) == TV_TRUE) return 0;
  return SQLValueStore::Compare(a, b, SQL_COMP_LT) == TV_TRUE ? -1 : 1;
}

std::uint64_t BigEndianPrefix(unsigned char const *p, std::size_t n, unsigned char pad) {
  unsigned char bytes[8];
  std::size_t k = n < 8 ? n : 8;
  std::memcpy(bytes, p, k);
  std::memset(bytes + k, pad, 8 - k);
  std::uint64_t v = 0;
  for (unsigned char b : bytes) v = (v << 8) | b;
  return v;
}

std::uint64_t HashBytes(unsigned char const *p, std::size_t n) {
  std::uint64_t h = 0x9E3779B97F4A7C15ULL ^ n;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    h = SQLHashMix(h ^ w) + i;
  }
  std::uint64_t tail = 0;
  for (; i < n; ++i) tail = (tail << 8) | p[i];
  return SQLHashMix(h ^ tail);
}

}  // namespace

int SQLCompareKeyValues(SQLValueStore const *a, SQLValueStore const *b) {
  if (a->GetType() != SQL_ARRAY || b->GetType() != SQL_ARRAY) return CompareScalar(a, b);
  int n = std::min(a->GetDimension(), b->GetDimension());
  for (int i = 0; i < n; ++i)
    if (int c = SQLCompareKeyValues(a->GetElement(i), b->GetElement(i)); c != 0) return c;
  return Sign(a->GetDimension(), b->GetDimension());
}

bool SQLKeyValuesEqual(SQLValueStore const *a, SQLValueStore const *b) {
  if (a->GetType() == SQL_ARRAY && b->GetType() == SQL_ARRAY) {
    if (a->GetDimension() != b->GetDimension()) return false;
    for (int i = 0; i < a->GetDimension(); ++i)
      if (!SQLKeyValuesEqual(a->GetElement(i), b->GetElement(i))) return false;
    return true;
  }
  bool nullA = a->IsNull(), nullB = b->IsNull();
  if (nullA || nullB) return nullA == nullB;
  return SQLValueStore::Compare(a, b, SQL_COMP_EQ) == TV_TRUE;
}

std::uint64_t SQLKeyPrefix(SQLValueStore const *v, SQLKeyPrefixKind *kind) {
  if (*kind == SQLKeyPrefixKind::kInvalid) return 0;
  if (v->IsNull()) return ~std::uint64_t{0};
  SQLKeyPrefixKind own;
  switch (v->GetType()) {
    case SQL_INTEGER:
    case SQL_DATE:
    case SQL_INTERVAL_DAYS: own = SQLKeyPrefixKind::kInt32; break;
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS: own = SQLKeyPrefixKind::kInt64; break;
    case SQL_REAL: own = SQLKeyPrefixKind::kReal; break;
    case SQL_STRING:
      own = TssGetMode() == TSS_MODE_UTFT ? SQLKeyPrefixKind::kInvalid : SQLKeyPrefixKind::kBytes;
      break;
    case SQL_RAW: own = SQLKeyPrefixKind::kRaw; break;
    default: own = SQLKeyPrefixKind::kInvalid; break;
  }
  if (*kind == SQLKeyPrefixKind::kNone) *kind = own;
  if (own != *kind) *kind = SQLKeyPrefixKind::kInvalid;
  switch (*kind) {
    case SQLKeyPrefixKind::kInt32:
      return static_cast<std::uint32_t>(v->GetInteger()) ^ 0x80000000u;
    case SQLKeyPrefixKind::kInt64: {
      std::uint64_t p = static_cast<std::uint64_t>(v->GetTimestamp()) ^ (std::uint64_t{1} << 63);
      // Keeps NULL alone at the top.
      return p == ~std::uint64_t{0} ? p - 1 : p;
    }
    case SQLKeyPrefixKind::kReal: {
      double d = v->GetReal();
      if (std::isnan(d)) {
        *kind = SQLKeyPrefixKind::kInvalid;
        return 0;
      }
      if (d == 0.0) d = 0.0;  // -0 equals 0
      std::uint64_t bits;
      std::memcpy(&bits, &d, 8);
      std::uint64_t p = (bits >> 63) ? ~bits : bits | (std::uint64_t{1} << 63);
      return p == ~std::uint64_t{0} ? p - 1 : p;
    }
    case SQLKeyPrefixKind::kBytes: {
      std::size_t n = strnlen(v->GetString(), v->GetLength());
      std::uint64_t p = BigEndianPrefix(v->GetBytes(), n, ' ');
      return p == ~std::uint64_t{0} ? p - 1 : p;
    }
    case SQLKeyPrefixKind::kRaw: {
      std::uint64_t p = BigEndianPrefix(v->GetBytes(), v->GetLength(), 0);
      return p == ~std::uint64_t{0} ? p - 1 : p;
    }
    default:
      return 0;
  }
}

bool SQLEqualityImage(SQLValueStore const *v, std::string *image) {
  image->clear();
  if (v->IsNull() || v->GetType() == SQL_ARRAY) return false;
  auto append = [image](char tag, auto word) {
    char bytes[sizeof word];
    std::memcpy(bytes, &word, sizeof word);
    image->push_back(tag);
    image->append(bytes, sizeof word);
  };
  switch (v->GetType()) {
    case SQL_INTEGER:
    case SQL_REAL: {
      // One image per number: a 32-bit integer is exact as a double.
      double d = v->GetType() == SQL_REAL ? v->GetReal() : static_cast<double>(v->GetInteger());
      if (std::isnan(d)) return false;
      if (d == 0.0) d = 0.0;  // -0 equals 0
      append('n', d);
      return true;
    }
    case SQL_DATE:
    case SQL_INTERVAL_DAYS:
      append(v->GetType() == SQL_DATE ? 'd' : 'i', v->GetInteger());
      return true;
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS:
      append(v->GetType() == SQL_TIMESTAMP ? 't' : 's', v->GetTimestamp());
      return true;
    case SQL_STRING: {
      // Texts compare blank-padded and end at a NUL.
      std::size_t n = strnlen(v->GetString(), v->GetLength());
      char const *p = v->GetString();
      while (n > 0 && p[n - 1] == ' ') --n;
      image->push_back('x');
      image->append(p, n);
      return true;
    }
    default:
      image->push_back('r');
      image->append(reinterpret_cast<char const *>(v->GetBytes()), v->GetLength());
      return true;
  }
}

std::uint64_t SQLHashKeyValue(SQLValueStore const *v) {
  if (v->GetType() == SQL_ARRAY) {
    std::uint64_t h = SQLHashMix(0xA77A ^ static_cast<std::uint64_t>(v->GetDimension()));
    for (int i = 0; i < v->GetDimension(); ++i) h = SQLHashMix(h ^ SQLHashKeyValue(v->GetElement(i))) + 1;
    return h;
  }
  if (v->IsNull()) return 0x6E756C6CULL;
  switch (v->GetType()) {
    case SQL_INTEGER:
    case SQL_DATE:
    case SQL_INTERVAL_DAYS:
    case SQL_REAL:
      return SQLHashNumber(v->GetType() == SQL_REAL ? v->GetReal() : static_cast<double>(v->GetInteger()));
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS:
      return SQLHashMix(static_cast<std::uint64_t>(v->GetTimestamp()) ^ 0x5A5A);
    case SQL_STRING: {
      // Equal texts differ only in trailing blanks (and what follows a NUL).
      std::size_t n = strnlen(v->GetString(), v->GetLength());
      unsigned char const *p = v->GetBytes();
      while (n > 0 && p[n - 1] == ' ') --n;
      return HashBytes(p, n);
    }
    default:
      return HashBytes(v->GetBytes(), v->GetLength()) ^ 0x7261;
  }
}
