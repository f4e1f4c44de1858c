// SQLRowCodec: packs a row of value stores into one compact byte record and
// unpacks it again, exactly: type, null flag, value and array shape come
// back as they went in. The sort and grouping operators keep their rows in
// such records, in memory and in their spill files.
//
// Record: per column a tag byte (the value's type code in the low bits,
// kNullTag when the NULL flag is set, kArrayTag for an array), then
//   INTEGER, DATE, INTERVAL DAYS: 4 bytes; TIMESTAMP, INTERVAL SECONDS and
//   REAL: 8 bytes (host order: records never leave this process);
//   STRING, RAW: a variable-length count (7 bits a byte, low bits first)
//   and the bytes; an array: its count, then each element as a column.
// A NULL keeps its value bytes, so that a copy of it equals the original.
// A store that never received a value (type UNDEFINED) is written as a NULL
// RAW of no bytes: it comes back as a NULL.
#pragma once

#include <cstddef>
#include <vector>

class SQLValueStore;

namespace sql_row_codec {

// Bytes of the record of n values.
std::size_t Size(SQLValueStore const *const *row, int n);
// Writes the record at p (Size bytes) and returns the end.
unsigned char *Put(SQLValueStore const *const *row, int n, unsigned char *p);
// Appends the record to out.
void Append(SQLValueStore const *const *row, int n, std::vector<unsigned char> *out);
// Reads n values from the record at p into row[0..n-1]; returns the end.
unsigned char const *Get(unsigned char const *p, int n, SQLValueStore *const *row);
// Reads one value; returns the end.
unsigned char const *GetValue(unsigned char const *p, SQLValueStore *v);
// The end of the next n values without reading them.
unsigned char const *Skip(unsigned char const *p, int n);

// Variable-length unsigned counts, 7 bits a byte, low bits first.
unsigned char *PutCount(std::size_t v, unsigned char *p);
unsigned char const *GetCount(unsigned char const *p, std::size_t *v);
inline std::size_t CountSize(std::size_t v) {
  std::size_t n = 1;
  while (v >= 0x80) {
    v >>= 7;
    ++n;
  }
  return n;
}

}  // namespace sql_row_codec
