// SQLValueStore: the typed, nullable value cell of the SQL layers.
//
// A store holds one value of an SQLType, or, as an array, a vector of
// element stores. It owns its byte buffer and its element vector and reuses
// them when a later value fits, so that repeated fetches into the same
// stores stop allocating once the largest value has been seen.
//
// Integers, dates and intervals of days are 32-bit; timestamps and intervals
// of seconds 64-bit. Arithmetic never wraps: a result outside the range of
// its type raises SQLExDENumericValueOutOfRange ("22003").
#pragma once

#include <cstdint>
#include <memory>

#include "sql/common/sql_type.h"
#include "sql/common/truth_value.h"

// Comparison operators of Compare.
enum SQLCompOperator : int {
  SQL_COMP_EQ = 0,  // =
  SQL_COMP_NE = 1,  // <>
  SQL_COMP_LT = 2,  // <
  SQL_COMP_GT = 3,  // >
  SQL_COMP_LE = 4,  // <=
  SQL_COMP_GE = 5,  // >=
};

class SQLValueStore {
 public:
  // A new store is of type UNDEFINED and not NULL.
  SQLValueStore() = default;
  // Deep copies of any store, UNDEFINED ones included.
  SQLValueStore(SQLValueStore const &other);
  SQLValueStore &operator=(SQLValueStore const &other);
  SQLValueStore(SQLValueStore &&other) noexcept;
  SQLValueStore &operator=(SQLValueStore &&other) noexcept;
  virtual ~SQLValueStore();

  // ---- setters: each clears the null flag and sets the type ----
  // Inline: the type check is all that a store of the same type needs.
  void SetInteger(std::int32_t v) {
    if (type_ != SQL_INTEGER) MakeType(SQL_INTEGER);
    i32_ = v;
    null_ = false;
  }
  void SetReal(double v) {
    if (type_ != SQL_REAL) MakeType(SQL_REAL);
    real_ = v;
    null_ = false;
  }
  void SetDate(std::int32_t dayNumber);
  void SetTimestamp(std::int64_t seconds);
  void SetIntervalDays(std::int32_t days);
  void SetIntervalSeconds(std::int64_t seconds);
  // STRING of n bytes plus a terminator; bytes may be null when n is 0.
  void SetString(unsigned char const *bytes, unsigned long n);
  void SetString(char const *text);  // up to its terminator
  // STRING of n copies of c (none when n <= 0).
  void FillString(char c, int n);
  // RAW of exactly n bytes.
  void SetRaw(unsigned char const *bytes, unsigned long n);
  void FillRaw(unsigned char b, int n);
  // Makes the store an array of n elements. Elements are kept when n does
  // not exceed the allocated count; a larger n gives n new stores.
  void SetDimension(int n);
  // Only sets the null flag: type and value stay until the next setter.
  void SetNull() { null_ = true; }

  // ---- in-place edits of an existing STRING or RAW (type and flag kept) ----
  // REQUIRES: the store holds a STRING.
  void AppendString(unsigned char const *bytes, unsigned long n);
  void RightPadString(int n);  // n blanks
  void StripTrailingSpaces();
  // REQUIRES: the store holds a RAW.
  void RightPadRaw(int n);  // n zero bytes

  // ---- operations; the target is a store other than the operands ----
  // Takes over type, value and null flag (arrays element by element); an
  // UNDEFINED source stops through SQLAbort.
  void Copy(SQLValueStore const *src);
  // Copy, converting INTEGER to REAL; other type changes stop.
  void CopyAndCast(SQLValueStore const *src, SQLType type);
  // Gives an INTEGER or REAL number a DATE, TIMESTAMP or interval meaning
  // (REAL truncated toward zero). A day number above 31 December 9999 or a
  // number outside the 32-bit range of a DATE or INTERVAL DAYS raises
  // SQLExDEDatetimeFieldOverflow. A NULL source gives a NULL target.
  void Reinterpret(SQLValueStore const *src, SQLType type);
  // STRING or RAW a followed by b, of a's type; NULL when either is NULL.
  void Concatenate(SQLValueStore const *a, SQLValueStore const *b);
  // a + b, a - b, a * b, a / b, a MOD b for the type pairs that validation
  // admits; NULL when either operand is NULL. Integer results outside their
  // range raise "22003"; a divisor of 0 raises "22012". "/" gives a REAL.
  void Add(SQLValueStore const *a, SQLValueStore const *b);
  void Subtract(SQLValueStore const *a, SQLValueStore const *b);
  void Multiply(SQLValueStore const *a, SQLValueStore const *b);
  void Divide(SQLValueStore const *a, SQLValueStore const *b);
  void Modulo(SQLValueStore const *a, SQLValueStore const *b);

  // TRUE, FALSE or UNKNOWN (a NULL scalar operand). Strings compare as if
  // the shorter were padded with blanks, by the text layer's collation;
  // arrays only element by element for equality (NE negates it).
  static SQLTruthValue Compare(SQLValueStore const *a, SQLValueStore const *b, SQLCompOperator op);

  // ---- reading ----
  SQLType GetType() const { return type_; }
  // TRUE when the store is not an array and its null flag is set.
  bool IsNull() const { return null_ && type_ != SQL_ARRAY; }
  // The 32-bit word of INTEGER, DATE and INTERVAL DAYS.
  std::int32_t GetInteger() const { return i32_; }
  std::int32_t GetDate() const { return i32_; }
  std::int32_t GetIntervalDays() const { return i32_; }
  double GetReal() const { return real_; }
  // The 64-bit word of TIMESTAMP and INTERVAL SECONDS.
  std::int64_t GetTimestamp() const { return i64_; }
  std::int64_t GetIntervalSeconds() const { return i64_; }
  // Bytes of a STRING (NUL-terminated) or RAW, and their count.
  unsigned char const *GetBytes() const { return bytes_.get(); }
  char const *GetString() const { return reinterpret_cast<char const *>(bytes_.get()); }
  unsigned long GetLength() const { return length_; }
  unsigned long GetCapacity() const { return capacity_; }
  // Arrays: the element count and the elements (0 <= i < dimension).
  int GetDimension() const { return dimension_; }
  SQLValueStore *GetElement(int i) { return &elements_[i]; }
  SQLValueStore const *GetElement(int i) const { return &elements_[i]; }

  // TRUE for a value that counts as empty for CLEAR/UNREF: NULL, a zero
  // number, a STRING of blanks only, a RAW of zero bytes only, an array with
  // at least one empty element.
  bool IsEmpty() const;

  // One trace item: "Int:5", "Str:'ab'", "Arr:[0:Int:1,1:NULL]", ...
  void Log() const;

 private:
  // Gives the store a scalar type: an array's elements are dropped, and a
  // byte buffer is released when the new type holds no bytes.
  void MakeType(SQLType type);
  // Ensures room for n bytes (plus a terminator for STRING), keeping the
  // first `keep` bytes.
  void ReserveBytes(unsigned long n, unsigned long keep);
  // Copies n bytes to position `at`, growing the buffer and keeping the
  // bytes before `at`; src may point into the buffer itself.
  void AssignBytes(unsigned long at, unsigned char const *src, unsigned long n);
  void CopyFrom(SQLValueStore const &other);  // any type, no checks

  bool null_ = false;         // meaningful unless type_ is SQL_ARRAY
  SQLType type_ = SQL_UNDEFINED;
  std::int32_t i32_ = 0;      // INTEGER, DATE, INTERVAL DAYS
  std::int64_t i64_ = 0;      // TIMESTAMP, INTERVAL SECONDS
  double real_ = 0.0;         // REAL
  unsigned long length_ = 0;  // STRING, RAW: bytes held (no terminator)
  unsigned long capacity_ = 0;               // bytes allocated
  std::unique_ptr<unsigned char[]> bytes_;   // STRING: terminated after length_
  int dimension_ = 0;                        // array: elements in use
  int elementCapacity_ = 0;                  // array: elements allocated
  std::unique_ptr<SQLValueStore[]> elements_;
};

// A NULL of the given type, so that copies of it stay typed; any type
// without a scalar setter gives a NULL RAW.
void SQLSetTypedNull(SQLValueStore *v, SQLType type);

// Checked arithmetic of the value layer and its peers (the driver's SQL
// functions use the same rules): each returns the result or throws
// SQLExDENumericValueOutOfRange when it leaves the range of its type.
// Throws SQLExDENumericValueOutOfRange; kept out of line so that the checks
// inline cheaply.
[[noreturn]] void SQLRaiseNumericValueOutOfRange();
inline std::int32_t SQLAddInt32(std::int32_t a, std::int32_t b) {
  std::int32_t r;
  if (__builtin_add_overflow(a, b, &r)) SQLRaiseNumericValueOutOfRange();
  return r;
}
// a + b of REALs: infinity from finite operands is out of range.
double SQLAddReal(double a, double b);
std::int32_t SQLSubtractInt32(std::int32_t a, std::int32_t b);
std::int32_t SQLMultiplyInt32(std::int32_t a, std::int32_t b);
std::int64_t SQLAddInt64(std::int64_t a, std::int64_t b);
std::int64_t SQLSubtractInt64(std::int64_t a, std::int64_t b);
std::int64_t SQLMultiplyInt64(std::int64_t a, std::int64_t b);
// The remainder of the truncating division, with the sign of a; the smallest
// integer MOD -1 is 0. A divisor of 0 throws SQLExDEDivisionByZero.
std::int32_t SQLModuloInt32(std::int32_t a, std::int32_t b);
