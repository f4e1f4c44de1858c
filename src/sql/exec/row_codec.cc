#include "sql/exec/row_codec.h"

#include <cstdint>
#include <cstring>

#include "sql/common/sql_abort.h"
#include "sql/common/value_store.h"

namespace sql_row_codec {

namespace {

constexpr unsigned char kNullTag = 0x80;
constexpr unsigned char kArrayTag = 0x40;

// Type codes 1..256 folded into the six low bits of the tag.
unsigned char TypeCode(SQLType t) {
  switch (t) {
    case SQL_INTEGER: return 1;
    case SQL_STRING: return 2;
    case SQL_REAL: return 3;
    case SQL_DATE: return 4;
    case SQL_TIMESTAMP: return 5;
    case SQL_INTERVAL_DAYS: return 6;
    case SQL_INTERVAL_SECONDS: return 7;
    case SQL_RAW: return 8;
    default: SQLAbort(__FILE__, __LINE__, "Unexpected type: %d", static_cast<int>(t));
  }
}

std::size_t ValueSize(SQLValueStore const *v) {
  switch (v->GetType()) {
    case SQL_INTEGER:
    case SQL_DATE:
    case SQL_INTERVAL_DAYS:
      return 1 + 4;
    case SQL_REAL:
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS:
      return 1 + 8;
    case SQL_STRING:
    case SQL_RAW:
      return 1 + CountSize(v->GetLength()) + v->GetLength();
    case SQL_UNDEFINED:
      return 1 + CountSize(0);  // a NULL RAW of no bytes
    case SQL_ARRAY: {
      std::size_t n = 1 + CountSize(static_cast<std::size_t>(v->GetDimension()));
      for (int i = 0; i < v->GetDimension(); ++i) n += ValueSize(v->GetElement(i));
      return n;
    }
    default:
      SQLAbort(__FILE__, __LINE__, "Unexpected type: %d", static_cast<int>(v->GetType()));
  }
}

unsigned char *PutValue(SQLValueStore const *v, unsigned char *p) {
  SQLType t = v->GetType();
  if (t == SQL_ARRAY) {
    *p++ = kArrayTag;
    p = PutCount(static_cast<std::size_t>(v->GetDimension()), p);
    for (int i = 0; i < v->GetDimension(); ++i) p = PutValue(v->GetElement(i), p);
    return p;
  }
  if (t == SQL_UNDEFINED) {
    // A store that never received a value holds nothing to keep: it is a NULL.
    *p++ = static_cast<unsigned char>(TypeCode(SQL_RAW) | kNullTag);
    return PutCount(0, p);
  }
  *p++ = static_cast<unsigned char>(TypeCode(t) | (v->IsNull() ? kNullTag : 0));
  switch (t) {
    case SQL_INTEGER:
    case SQL_DATE:
    case SQL_INTERVAL_DAYS: {
      std::int32_t x = v->GetInteger();
      std::memcpy(p, &x, 4);
      return p + 4;
    }
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS: {
      std::int64_t x = v->GetTimestamp();
      std::memcpy(p, &x, 8);
      return p + 8;
    }
    case SQL_REAL: {
      double x = v->GetReal();
      std::memcpy(p, &x, 8);
      return p + 8;
    }
    default: {  // STRING, RAW
      std::size_t n = v->GetLength();
      p = PutCount(n, p);
      if (n) std::memcpy(p, v->GetBytes(), n);
      return p + n;
    }
  }
}

}  // namespace

unsigned char *PutCount(std::size_t v, unsigned char *p) {
  while (v >= 0x80) {
    *p++ = static_cast<unsigned char>(v | 0x80);
    v >>= 7;
  }
  *p++ = static_cast<unsigned char>(v);
  return p;
}

unsigned char const *GetCount(unsigned char const *p, std::size_t *v) {
  std::size_t x = 0;
  int shift = 0;
  while (*p & 0x80) {
    x |= static_cast<std::size_t>(*p++ & 0x7F) << shift;
    shift += 7;
  }
  *v = x | (static_cast<std::size_t>(*p++) << shift);
  return p;
}

std::size_t Size(SQLValueStore const *const *row, int n) {
  std::size_t size = 0;
  for (int i = 0; i < n; ++i) size += ValueSize(row[i]);
  return size;
}

unsigned char *Put(SQLValueStore const *const *row, int n, unsigned char *p) {
  for (int i = 0; i < n; ++i) p = PutValue(row[i], p);
  return p;
}

void Append(SQLValueStore const *const *row, int n, std::vector<unsigned char> *out) {
  std::size_t at = out->size();
  out->resize(at + Size(row, n));
  Put(row, n, out->data() + at);
}

unsigned char const *GetValue(unsigned char const *p, SQLValueStore *v) {
  unsigned char tag = *p++;
  if (tag == kArrayTag) {
    std::size_t n;
    p = GetCount(p, &n);
    v->SetDimension(static_cast<int>(n));
    for (std::size_t i = 0; i < n; ++i) p = GetValue(p, v->GetElement(static_cast<int>(i)));
    return p;
  }
  switch (tag & ~kNullTag) {
    case 1:
    case 4:
    case 6: {
      std::int32_t x;
      std::memcpy(&x, p, 4);
      p += 4;
      unsigned char code = tag & ~kNullTag;
      if (code == 1) v->SetInteger(x);
      else if (code == 4) v->SetDate(x);
      else v->SetIntervalDays(x);
      break;
    }
    case 5:
    case 7: {
      std::int64_t x;
      std::memcpy(&x, p, 8);
      p += 8;
      if ((tag & ~kNullTag) == 5) v->SetTimestamp(x); else v->SetIntervalSeconds(x);
      break;
    }
    case 3: {
      double x;
      std::memcpy(&x, p, 8);
      p += 8;
      v->SetReal(x);
      break;
    }
    case 2:
    case 8: {
      std::size_t n;
      p = GetCount(p, &n);
      if ((tag & ~kNullTag) == 2) v->SetString(p, n); else v->SetRaw(p, n);
      p += n;
      break;
    }
    default:
      SQLAbort(__FILE__, __LINE__, "Corrupt row record tag %d", static_cast<int>(tag));
  }
  if (tag & kNullTag) v->SetNull();
  return p;
}

unsigned char const *Get(unsigned char const *p, int n, SQLValueStore *const *row) {
  for (int i = 0; i < n; ++i) p = GetValue(p, row[i]);
  return p;
}

unsigned char const *Skip(unsigned char const *p, int n) {
  for (int i = 0; i < n; ++i) {
    unsigned char tag = *p++;
    std::size_t count;
    if (tag == kArrayTag) {
      p = GetCount(p, &count);
      p = Skip(p, static_cast<int>(count));
      continue;
    }
    switch (tag & ~kNullTag) {
      case 1: case 4: case 6: p += 4; break;
      case 3: case 5: case 7: p += 8; break;
      default:
        p = GetCount(p, &count);
        p += count;
    }
  }
  return p;
}

}  // namespace sql_row_codec
