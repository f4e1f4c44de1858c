// Stored row fields. Every copy into the conversion buffer reserves its
// bytes first; the buffer grows (keeping what it holds) and never shrinks,
// so that the fields of one row can be converted one after another at
// rising offsets without allocating once the longest row has been seen.
#include "sql/common/row_field.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include <molvane/datetime.h>
#include <molvane/dd.h>

#include "platform/log.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_state.h"

namespace {

constexpr std::size_t kInitialBufferSize = 6144;
constexpr double kFloatLimit = 9.999999999999e31;  // largest magnitude of a type-4 field

std::vector<unsigned char> &Buffer() {
  static std::vector<unsigned char> buffer(kInitialBufferSize);
  return buffer;
}

// Room for n bytes at pos; the bytes before stay.
unsigned char *Reserve(std::int64_t pos, std::int64_t n) {
  std::vector<unsigned char> &buffer = Buffer();
  std::int64_t end = pos + n;
  if (end > std::numeric_limits<int>::max())
    SQLAbort(__FILE__, __LINE__, "Row field of %lld bytes at offset %lld too large",
             static_cast<long long>(n), static_cast<long long>(pos));
  if (static_cast<std::size_t>(end) > buffer.size()) buffer.resize(static_cast<std::size_t>(end));
  return buffer.data() + pos;
}

[[noreturn]] void Raise(char const *state) { throw SQLException(state, sqlerr::kNumericOutOfRange); }

SQLValueStore const &NullValue() {
  static SQLValueStore const null = [] {
    SQLValueStore v;
    v.SetNull();
    return v;
  }();
  return null;
}

// The integer of a numeric value, 64 bits wide; a REAL is truncated toward
// zero, and one beyond 64 bits is out of range.
std::int64_t IntegerOf(SQLValueStore const *v) {
  switch (v->GetType()) {
    case SQL_INTEGER:
    case SQL_DATE:
    case SQL_INTERVAL_DAYS:
      return v->GetInteger();
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS:
      return v->GetTimestamp();
    case SQL_REAL: {
      double t = std::trunc(v->GetReal());
      if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0))
        Raise(sqlstate::kNumericValueOutOfRange);
      return static_cast<std::int64_t>(t);
    }
    default:
      SQLAbort(__FILE__, __LINE__, "Unexpected type %d", v->GetType());
  }
}

double DoubleOf(SQLValueStore const *v) {
  if (v->GetType() == SQL_REAL) return v->GetReal();
  return static_cast<double>(IntegerOf(v));
}

void PutBigEndian(unsigned char *p, std::uint32_t v, int width) {
  for (int i = width - 1; i >= 0; --i, v >>= 8) p[i] = static_cast<unsigned char>(v);
}

std::int64_t GetBigEndian(unsigned char const *p, int width) {
  std::uint32_t v = 0;
  for (int i = 0; i < width; ++i) v = (v << 8) | p[i];
  if (width == 2) return static_cast<std::int16_t>(v);
  if (width == 4) return static_cast<std::int32_t>(v);
  return v;
}

// Converts one element at pos; returns its converted length.
int ConvertOne(unsigned char code, int length, SQLValueStore const *v, std::int64_t pos, char pad) {
  bool null = v->IsNull();
  switch (code) {
    case DDT_BYTE:
    case DDT_ENUM:
    case DDT_SHORT:
    case DDT_LONG:
    case DDT_DATE:
    case DDT_TIME:
    case DDT_LONG_U:
    case DDT_LONG_V:
    case DDT_SET: {
      std::int64_t n = null ? 0 : IntegerOf(v);
      int width;
      if (code == DDT_BYTE || code == DDT_ENUM) {
        width = 1;
        if (n < 0 || n > 255) Raise(sqlstate::kNumericValueOutOfRange);
      } else if (code == DDT_SHORT) {
        width = 2;
        if (n < -32768 || n > 32767) Raise(sqlstate::kNumericValueOutOfRange);
      } else {
        // A 64-bit value that a 32-bit field cannot hold is refused, not cut.
        width = 4;
        if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max())
          Raise(sqlstate::kNumericValueOutOfRange);
      }
      PutBigEndian(Reserve(pos, width), static_cast<std::uint32_t>(n), width);
      return width;
    }
    case DDT_FLOAT: {
      double d = null ? 0.0 : DoubleOf(v);
      if (!(d >= -kFloatLimit && d <= kFloatLimit)) Raise(sqlstate::kNumericValueOutOfRange);
      float_in(d, Reserve(pos, 4));
      return 4;
    }
    case DDT_DOUBLE:
      double_in(null ? 0.0 : DoubleOf(v), Reserve(pos, 8));
      return 8;
    case DDT_STRING:
    case DDT_MBSTRING: {
      if (null) {
        std::memset(Reserve(pos, length), pad, static_cast<std::size_t>(length));
        return length;
      }
      if (v->GetType() != SQL_STRING && v->GetType() != SQL_RAW)
        SQLAbort(__FILE__, __LINE__, "Unexpected type %d", v->GetType());
      unsigned long n = v->GetLength();
      unsigned char const *bytes = v->GetBytes();
      if (length == 0) {
        if (n > static_cast<unsigned long>(std::numeric_limits<int>::max()))
          Raise(sqlstate::kStringDataRightTruncation);
        if (n > 0) std::memcpy(Reserve(pos, static_cast<std::int64_t>(n)), bytes, n);
        return static_cast<int>(n);
      }
      unsigned long field = static_cast<unsigned long>(length);
      if (n > field) {
        for (unsigned long i = field; i < n; ++i)
          if (bytes[i] != ' ') Raise(sqlstate::kStringDataRightTruncation);
        n = field;
      }
      unsigned char *p = Reserve(pos, length);
      if (n > 0) std::memcpy(p, bytes, n);
      std::memset(p + n, ' ', field - n);
      return length;
    }
    case DDT_RAW: {
      if (null) {
        std::memset(Reserve(pos, length), 0, static_cast<std::size_t>(length));
        return length;
      }
      if (v->GetType() != SQL_RAW && v->GetType() != SQL_STRING)
        SQLAbort(__FILE__, __LINE__, "Unexpected type %d", v->GetType());
      unsigned long n = v->GetLength();
      if (length > 0 && n > static_cast<unsigned long>(length))
        Raise(sqlstate::kStringDataRightTruncation);
      if (n < static_cast<unsigned long>(length)) Raise(sqlstate::kStringDataLengthMismatch);
      if (n > static_cast<unsigned long>(std::numeric_limits<int>::max()))
        Raise(sqlstate::kStringDataRightTruncation);
      if (n > 0) std::memcpy(Reserve(pos, static_cast<std::int64_t>(n)), v->GetBytes(), n);
      return static_cast<int>(n);
    }
    default:
      return 0;  // combined columns and unknown codes have no bytes of their own
  }
}

}  // namespace

void copyValueStoreToRowBuffer(unsigned char code, int length, int depth,
                               SQLValueStore const *value, int offset, char pad,
                               unsigned char const **out, int *outLength) {
  if (length < 0 || depth < 0 || offset < 0)
    SQLAbort(__FILE__, __LINE__, "Unexpected row field: length %d, depth %d, offset %d", length,
             depth, offset);
  int converted = 0;
  if (depth == 1) {
    converted = ConvertOne(code, length, value, offset, pad);
  } else if (depth > 1) {
    // The element stores of an array value; a NULL value fills every element
    // with the null form, and elements beyond the value's dimension too.
    int dimension = 0;
    if (value->GetType() == SQL_ARRAY) {
      dimension = value->GetDimension();
      for (int k = depth; k < dimension; ++k)
        if (!value->GetElement(k)->IsNull()) Raise(sqlstate::kStringDataRightTruncation);
    } else if (!value->IsNull()) {
      SQLAbort(__FILE__, __LINE__, "Unexpected type %d", value->GetType());
    }
    Reserve(offset, static_cast<std::int64_t>(length) * depth);
    std::int64_t pos = offset;
    for (int k = 0; k < depth; ++k) {
      SQLValueStore const *element = k < dimension ? value->GetElement(k) : &NullValue();
      int n = ConvertOne(code, length, element, pos, pad);
      pos += n;
      if (pos - offset > std::numeric_limits<int>::max())
        SQLAbort(__FILE__, __LINE__, "Array field too large");
    }
    converted = static_cast<int>(pos - offset);
  }
  *outLength = converted;
  *out = Buffer().data();
}

SQLType SQLTypeOfColumnType(unsigned char code) {
  switch (code) {
    case DDT_BYTE:
    case DDT_SHORT:
    case DDT_LONG:
    case DDT_LONG_U:
    case DDT_LONG_V:
    case DDT_ENUM:
    case DDT_SET:
      return SQL_INTEGER;
    case DDT_FLOAT:
    case DDT_DOUBLE:
      return SQL_REAL;
    case DDT_STRING:
    case DDT_MBSTRING:
      return SQL_STRING;
    case DDT_DATE:
      return SQL_DATE;
    case DDT_TIME:
      return SQL_TIMESTAMP;
    case DDT_RAW:
      return SQL_RAW;
    default:
      return SQL_UNDEFINED;
  }
}

namespace {

// Width of one element of a numeric column type; 0 for the byte types.
int FixedWidth(unsigned char code) {
  switch (code) {
    case DDT_BYTE:
    case DDT_ENUM:
      return 1;
    case DDT_SHORT:
      return 2;
    case DDT_FLOAT:
    case DDT_LONG:
    case DDT_DATE:
    case DDT_TIME:
    case DDT_LONG_U:
    case DDT_LONG_V:
    case DDT_SET:
      return 4;
    case DDT_DOUBLE:
      return 8;
    default:
      return 0;
  }
}

void ReadOne(unsigned char code, int length, unsigned char const *p, SQLValueStore *v) {
  switch (code) {
    case DDT_BYTE:
    case DDT_ENUM:
      v->SetInteger(p[0]);
      break;
    case DDT_SHORT:
    case DDT_LONG:
    case DDT_LONG_U:
    case DDT_LONG_V:
    case DDT_SET:
      v->SetInteger(static_cast<std::int32_t>(GetBigEndian(p, FixedWidth(code))));
      break;
    case DDT_DATE:
      v->SetDate(static_cast<std::int32_t>(GetBigEndian(p, 4)));
      break;
    case DDT_TIME:
      v->SetTimestamp(GetBigEndian(p, 4));
      break;
    case DDT_FLOAT:
      v->SetReal(float_out(p));
      break;
    case DDT_DOUBLE:
      v->SetReal(double_out(p));
      break;
    case DDT_STRING:
    case DDT_MBSTRING:
      v->SetString(p, static_cast<unsigned long>(length));
      break;
    default:  // DDT_RAW
      v->SetRaw(p, static_cast<unsigned long>(length));
      break;
  }
}

}  // namespace

void copyRowBufferToValueStore(unsigned char code, int length, int depth,
                               unsigned char const *field, int available, SQLValueStore *value) {
  if (SQLTypeOfColumnType(code) == SQL_UNDEFINED) SQLAbort(__FILE__, __LINE__, "Unexpected type %d", code);
  if (length < 0 || depth < 0 || available < 0)
    SQLAbort(__FILE__, __LINE__, "Unexpected row field: length %d, depth %d, available %d", length,
             depth, available);
  std::int64_t total = static_cast<std::int64_t>(length) * depth;
  if (length < FixedWidth(code) || total > available) {
    log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR,
             "Row field of type %d, length %d, depth %d does not fit in %d bytes", code, length,
             depth, available);
    Raise(sqlstate::kStringDataLengthMismatch);
  }
  if (depth == 1) {
    ReadOne(code, length, field, value);
    return;
  }
  value->SetDimension(depth);
  for (int k = 0; k < depth; ++k)
    ReadOne(code, length, field + static_cast<std::int64_t>(k) * length, value->GetElement(k));
}
