// Comparison, ordering prefixes and hashes of the key values of sort and
// grouping.
//
// SQLCompareKeyValues is the one order of sort keys: NULLs after every
// value, other values equal by "=" and else by "<", arrays element by
// element and then the shorter first; same-type numbers are decided
// without the operator dispatch.
//
// A key prefix is an unsigned 64-bit number whose order agrees with that
// comparison: a < b gives prefix(a) <= prefix(b). Sorting by prefix first
// and comparing the values only when prefixes are equal gives the same order
// with one integer comparison for most pairs.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "sql/common/value_store.h"

// -1, 0 or 1 as a orders before, with or after b (ascending).
int SQLCompareKeyValues(SQLValueStore const *a, SQLValueStore const *b);

// TRUE when a and b fall into one group: NULL equals NULL, arrays of equal
// length element by element, other values by the value layer's "=".
bool SQLKeyValuesEqual(SQLValueStore const *a, SQLValueStore const *b);

// The same, with 32-bit numbers of one type decided inline.
inline bool SQLKeyValuesEqualInline(SQLValueStore const *a, SQLValueStore const *b) {
  SQLType t = a->GetType();
  if (t == b->GetType() && (t == SQL_INTEGER || t == SQL_DATE || t == SQL_INTERVAL_DAYS) && !a->IsNull() &&
      !b->IsNull())
    return a->GetInteger() == b->GetInteger();
  return SQLKeyValuesEqual(a, b);
}

// How the prefixes of one key column are made; fixed by the first value.
enum class SQLKeyPrefixKind {
  kNone,     // not known yet
  kInt32,    // INTEGER, DATE, INTERVAL DAYS: the prefix is the whole value
  kInt64,    // TIMESTAMP, INTERVAL SECONDS
  kReal,
  kBytes,    // STRING in byte order, padded with blanks
  kRaw,      // RAW, padded with zero bytes
  kInvalid,  // no usable prefix (arrays, mixed types, collated text, NaN)
};

// The ascending prefix of v under kind, which the first non-NULL value
// fixes (*kind kNone). A value that does not fit the kind sets *kind to
// kInvalid; the prefixes made so far must then be ignored. NULL gives the
// largest prefix.
std::uint64_t SQLKeyPrefix(SQLValueStore const *v, SQLKeyPrefixKind *kind);

// TRUE when equal prefixes of the kind mean equal values.
inline bool SQLKeyPrefixIsExact(SQLKeyPrefixKind kind) { return kind == SQLKeyPrefixKind::kInt32; }

// Sets *image to the bytes that stand for a scalar value under "=": two
// non-NULL values that "=" finds equal (texts that differ only in trailing
// blanks, an INTEGER and a REAL of its value) get the same image, unequal
// ones different images. FALSE for NULL, an array and NaN, which equal no
// value.
bool SQLEqualityImage(SQLValueStore const *v, std::string *image);

// A hash that equal values (by SQLCompareKeyValues) share.
std::uint64_t SQLHashKeyValue(SQLValueStore const *v);

// The finaliser of those hashes: every input bit moves about half the
// output bits.
inline std::uint64_t SQLHashMix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

// The hash of a number: an INTEGER equals the REAL of its value, so both
// hash as doubles (and -0.0 as 0.0).
inline std::uint64_t SQLHashNumber(double d) {
  if (d == 0.0) d = 0.0;
  std::uint64_t bits;
  std::memcpy(&bits, &d, 8);
  return SQLHashMix(bits);
}

// SQLHashKeyValue with 32-bit numbers hashed inline.
inline std::uint64_t SQLHashKeyValueInline(SQLValueStore const *v) {
  SQLType t = v->GetType();
  if ((t == SQL_INTEGER || t == SQL_DATE || t == SQL_INTERVAL_DAYS) && !v->IsNull())
    return SQLHashNumber(static_cast<double>(v->GetInteger()));
  return SQLHashKeyValue(v);
}
