// SQLParameter: a statement parameter with its declared type and bound value.
#pragma once

#include <cstdint>

#include "sql/common/sql_type.h"
#include "sql/common/value_store.h"

// A parameter is typed once (SetType) and bound before every execution. A
// bind of the wrong type throws SQLExInvalidParameterType and leaves the
// previous value in place.
class SQLParameter {
 public:
  // Untyped (UNDEFINED), numeric type open, depth 1, with a new unique id.
  SQLParameter();
  SQLParameter(SQLParameter const &) = delete;
  SQLParameter &operator=(SQLParameter const &) = delete;

  void SetType(SQLType type, unsigned long length, int depth);
  SQLType GetType() const { return type_; }
  unsigned long GetLength() const { return length_; }
  int GetDepth() const { return depth_; }
  unsigned long GetId() const { return id_; }

  // While the numeric type is open, an integer bound to a REAL parameter
  // stays INTEGER; the parameter typing of validation settles it.
  bool GetNumericTypeOpen() const { return numericTypeOpen_; }
  void SetNumericTypeOpen(bool open) { numericTypeOpen_ = open; }

  void SetNull() { value_.SetNull(); }
  // FALSE for an array value, else the value's null flag.
  bool IsNull() const { return value_.IsNull(); }

  // Binding. BindInteger converts to the declared numeric, date, timestamp
  // or interval type; BindReal truncates toward zero for dates, timestamps
  // and intervals. A value outside the range of the declared type raises
  // SQLExDENumericValueOutOfRange.
  void BindInteger(long v);
  void BindReal(double v);
  void BindString(unsigned char const *bytes, unsigned long n);
  // A RAW of length 0 throws SQLExZeroLengthRawBound.
  void BindRaw(unsigned char const *bytes, unsigned long n);
  void BindDate(long dayNumber);
  void BindTimestamp(std::int64_t seconds);
  void BindIntervalDays(long days);
  void BindIntervalSeconds(std::int64_t seconds);
  // A copy of vs; its type must be the declared one (or INTEGER for REAL)
  // and its element count the declared depth, unless it is NULL.
  void BindVS(SQLValueStore const *vs);

  // Reading the bound value.
  std::int32_t GetInteger() const { return value_.GetInteger(); }
  // The REAL value, or the integer word converted when the value is not REAL.
  double GetReal() const;
  void GetString(unsigned char const **bytes, unsigned long *n) const;
  void GetRaw(unsigned char const **bytes, unsigned long *n) const;
  std::int32_t GetDate() const { return value_.GetDate(); }
  std::int64_t GetTimestamp() const { return value_.GetTimestamp(); }
  std::int32_t GetIntervalDays() const { return value_.GetIntervalDays(); }
  std::int64_t GetIntervalSeconds() const { return value_.GetIntervalSeconds(); }
  SQLValueStore const *GetValueStore() const { return &value_; }
  void CopyIntoVS(SQLValueStore *target) const { target->Copy(&value_); }

  // "Parameter(id=<id>,<value>,<type>[,strLength=<n>])" to the trace.
  void Log() const;

  // Counts every construction; the next id.
  static unsigned long _idCounter;

 private:
  SQLType type_ = SQL_UNDEFINED;  // declared type
  bool numericTypeOpen_ = true;   // see GetNumericTypeOpen
  unsigned long length_ = 0;      // declared length; the bound length for STRING and RAW
  int depth_ = 1;                 // 1 for a scalar, else the element count
  SQLValueStore value_;           // the bound value
  unsigned long id_;              // unique in the process
};
