// Stored row fields. Every copy into the conversion buffer reserves its
// bytes first; the buffer grows (keeping what it holds) and never shrinks,
// so that the fields of one row can be converted one after another at
// rising offsets without allocating once the longest row has been seen.
#include "sql/common/row_field.h"

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
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

// Grows the buffer to hold n bytes at pos.
[[gnu::noinline]] unsigned char *Grow(std::int64_t pos, std::int64_t n) {
  std::vector<unsigned char> &buffer = Buffer();
  std::int64_t end = pos + n;
  if (end > std::numeric_limits<int>::max())
    SQLAbort(__FILE__, __LINE__, "Row field of %lld bytes at offset %lld too large",
             static_cast<long long>(n), static_cast<long long>(pos));
  buffer.resize(static_cast<std::size_t>(end));
  return buffer.data() + pos;
}

// Room for n bytes at pos; the bytes before stay.
inline unsigned char *Reserve(std::int64_t pos, std::int64_t n) {
  std::vector<unsigned char> &buffer = Buffer();
  if (static_cast<std::uint64_t>(pos + n) > buffer.size()) return Grow(pos, n);
  return buffer.data() + pos;
}

// The native error of a conversion's data exception.
int NativeError(char const *state) {
  if (std::strcmp(state, sqlstate::kStringDataRightTruncation) == 0) return sqlerr::kStringTruncation;
  if (std::strcmp(state, sqlstate::kStringDataLengthMismatch) == 0) return sqlerr::kStringLengthMismatch;
  return sqlerr::kNumericOutOfRange;
}

[[noreturn]] void Raise(char const *state, std::string const &why = std::string()) {
  throw SQLException(state, NativeError(state), SQLString(why.c_str()));
}

std::string Timestamp(std::int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  char text[64];
  if (gmtime_r(&t, &tm) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm) == 0)
    std::snprintf(text, sizeof text, "%" PRId64 " seconds", seconds);
  return text;
}

// The value as a message names it: its type and value, strings cut short.
std::string Describe(SQLValueStore const *v) {
  char text[96];
  switch (v->GetType()) {
    case SQL_INTEGER: std::snprintf(text, sizeof text, "the integer %d", v->GetInteger()); return text;
    case SQL_DATE: std::snprintf(text, sizeof text, "the date of day number %d", v->GetInteger()); return text;
    case SQL_INTERVAL_DAYS: std::snprintf(text, sizeof text, "the interval of %d days", v->GetInteger()); return text;
    case SQL_INTERVAL_SECONDS:
      std::snprintf(text, sizeof text, "the interval of %" PRId64 " seconds", v->GetTimestamp());
      return text;
    case SQL_TIMESTAMP: return "the timestamp " + Timestamp(v->GetTimestamp());
    case SQL_REAL: std::snprintf(text, sizeof text, "the real %.17g", v->GetReal()); return text;
    case SQL_STRING: {
      constexpr unsigned long kShown = 32;
      unsigned long n = v->GetLength();
      std::string shown(reinterpret_cast<char const *>(v->GetBytes()), n < kShown ? n : kShown);
      return "the string '" + shown + (n > kShown ? "...'" : "'") + " of " + std::to_string(n) + " bytes";
    }
    case SQL_RAW: return "a raw value of " + std::to_string(v->GetLength()) + " bytes";
    default: return "a value";
  }
}

// Raises the data exception of an integer outside [low, high].
[[noreturn, gnu::cold, gnu::noinline]] void RangeError(SQLValueStore const *v, std::int64_t low, std::int64_t high,
                                                      int width, unsigned char code) {
  std::string why = Describe(v) + " does not fit the " + std::to_string(width) + "-byte field of type " +
                    std::to_string(code);
  if (v->GetType() == SQL_TIMESTAMP)
    why += ", which holds " + Timestamp(low) + " to " + Timestamp(high);
  else
    why += ", which holds " + std::to_string(low) + " to " + std::to_string(high);
  Raise(sqlstate::kNumericValueOutOfRange, why);
}

// Refuses an integer outside [low, high] of a field of `width` bytes.
inline void CheckRange(SQLValueStore const *v, std::int64_t n, std::int64_t low, std::int64_t high, int width,
                       unsigned char code) {
  if (n < low || n > high) RangeError(v, low, high, width, code);
}

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
[[gnu::noinline]] std::int64_t IntegerOfOther(SQLValueStore const *v) {
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
        Raise(sqlstate::kNumericValueOutOfRange, Describe(v) + " is no 64-bit integer");
      return static_cast<std::int64_t>(t);
    }
    default:
      SQLAbort(__FILE__, __LINE__, "Unexpected type %d", v->GetType());
  }
}

inline std::int64_t IntegerOf(SQLValueStore const *v) {
  return v->GetType() == SQL_INTEGER ? v->GetInteger() : IntegerOfOther(v);
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
        CheckRange(v, n, 0, 255, width, code);
      } else if (code == DDT_SHORT) {
        width = 2;
        CheckRange(v, n, -32768, 32767, width, code);
      } else {
        // A 64-bit value that a 32-bit field cannot hold is refused, not cut.
        width = 4;
        CheckRange(v, n, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), width,
                   code);
      }
      PutBigEndian(Reserve(pos, width), static_cast<std::uint32_t>(n), width);
      return width;
    }
    case DDT_FLOAT: {
      double d = null ? 0.0 : DoubleOf(v);
      if (!(d >= -kFloatLimit && d <= kFloatLimit))
        Raise(sqlstate::kNumericValueOutOfRange,
              Describe(v) + " does not fit the 4-byte real field, which holds magnitudes up to 9.999999999999e31");
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
          Raise(sqlstate::kStringDataRightTruncation, Describe(v) + " is longer than a field can be");
        if (n > 0) std::memcpy(Reserve(pos, static_cast<std::int64_t>(n)), bytes, n);
        return static_cast<int>(n);
      }
      unsigned long field = static_cast<unsigned long>(length);
      if (n > field) {
        for (unsigned long i = field; i < n; ++i)
          if (bytes[i] != ' ')
            Raise(sqlstate::kStringDataRightTruncation,
                  Describe(v) + " is longer than the field of " + std::to_string(length) + " bytes");
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
      auto field = [length] { return " the raw field of " + std::to_string(length) + " bytes"; };
      if (length > 0 && n > static_cast<unsigned long>(length))
        Raise(sqlstate::kStringDataRightTruncation, Describe(v) + " is longer than" + field());
      if (n < static_cast<unsigned long>(length))
        Raise(sqlstate::kStringDataLengthMismatch, Describe(v) + " is shorter than" + field());
      if (n > static_cast<unsigned long>(std::numeric_limits<int>::max()))
        Raise(sqlstate::kStringDataRightTruncation, Describe(v) + " is longer than a field can be");
      if (n > 0) std::memcpy(Reserve(pos, static_cast<std::int64_t>(n)), v->GetBytes(), n);
      return static_cast<int>(n);
    }
    default:
      return 0;  // combined columns and unknown codes have no bytes of their own
  }
}

}  // namespace

namespace {

// The elements of an array field at offset; returns their converted length.
[[gnu::noinline]] int ConvertArray(unsigned char code, int length, int depth, SQLValueStore const *value,
                                   int offset, char pad) {
  // The element stores of an array value; a NULL value fills every element
  // with the null form, and elements beyond the value's dimension too.
  int dimension = 0;
  if (value->GetType() == SQL_ARRAY) {
    dimension = value->GetDimension();
    for (int k = depth; k < dimension; ++k)
      if (!value->GetElement(k)->IsNull())
        Raise(sqlstate::kStringDataRightTruncation, "an array of " + std::to_string(dimension) +
                                                        " elements is longer than the field of " +
                                                        std::to_string(depth));
  } else if (!value->IsNull()) {
    SQLAbort(__FILE__, __LINE__, "Unexpected type %d", value->GetType());
  }
  Reserve(offset, static_cast<std::int64_t>(length) * depth);
  std::int64_t pos = offset;
  for (int k = 0; k < depth; ++k) {
    SQLValueStore const *element = k < dimension ? value->GetElement(k) : &NullValue();
    int n = ConvertOne(code, length, element, pos, pad);
    pos += n;
    if (pos - offset > std::numeric_limits<int>::max()) SQLAbort(__FILE__, __LINE__, "Array field too large");
  }
  return static_cast<int>(pos - offset);
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
    converted = ConvertArray(code, length, depth, value, offset, pad);
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
    Raise(sqlstate::kStringDataLengthMismatch, "a stored field of type " + std::to_string(code) +
                                                   " does not fit the bytes of its row");
  }
  if (depth == 1) {
    ReadOne(code, length, field, value);
    return;
  }
  value->SetDimension(depth);
  for (int k = 0; k < depth; ++k)
    ReadOne(code, length, field + static_cast<std::int64_t>(k) * length, value->GetElement(k));
}
