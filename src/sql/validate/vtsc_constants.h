// The literal leaves of the validated scalar expression tree: string, raw,
// date, timestamp, integer and real constants.
//
// During type validation a constant adapts to the type asked of it where no
// value changes meaning: an integer constant asked for REAL becomes a real
// constant (or stays an integer under tolerance), and a number asked for a
// date, timestamp or interval is wrapped in a reinterpreting cast. Every
// other mismatch is a type conflict.
#pragma once

#include <cstdint>
#include <memory>

#include "sql/validate/vt_value_expr.h"

// Shared by the constants: nothing to resolve, nothing to remap.
class SQLVTSCConstant : public SQLVTSCValueExpr {
 public:
  bool IsConstant() override { return true; }
  void MapColumnIds(int, SQLColumnIdMappingList *) override {}
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, SQLVTWhereUsedMgr *,
                                        bool) override {
    return this;
  }
};

class SQLVTSCStringConst : public SQLVTSCConstant {
 public:
  enum CaseConversion : int { AsIs = 0, ToLower = 1 };

  // Copies length bytes: AsIs copies up to a zero byte and pads the rest of
  // the length with zero bytes; ToLower lower-cases every byte outside the
  // 4-byte TSS characters (0x9B and the three bytes after it). Any other
  // conversion is a broken invariant (SQLAbort).
  SQLVTSCStringConst(unsigned char const *bytes, long length, CaseConversion conversion);

  unsigned char const *GetString() const { return bytes_.get(); }
  long GetLength() const { return length_; }
  // Hands the bytes (zero-terminated) to the caller and deletes the node.
  char *DeleteToString();

  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  SQLVTSCValueExpr *Copy() override;
  SQLRSSCValueExpr *CreateRS() override;
  void GetPossibleTypes(SQLTypeSet *types) override { types->Insert(SQL_STRING); }
  void Log() const override;
  bool IsStringConst() override { return true; }
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {
    return other->IsSameStringConst(this);
  }
  bool IsSameStringConst(SQLVTSCStringConst const *other) const override;

 private:
  std::unique_ptr<unsigned char[]> bytes_;  // length + 1 bytes, zero-terminated
  long length_;
};

class SQLVTSCRawConst : public SQLVTSCConstant {
 public:
  SQLVTSCRawConst(unsigned char const *bytes, long length);

  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  SQLVTSCValueExpr *Copy() override;
  SQLRSSCValueExpr *CreateRS() override;
  void GetPossibleTypes(SQLTypeSet *types) override { types->Insert(SQL_RAW); }
  void Log() const override;
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {
    return other->IsSameRawConst(this);
  }
  bool IsSameRawConst(SQLVTSCRawConst const *other) const override;

 private:
  std::unique_ptr<unsigned char[]> bytes_;  // exactly length bytes
  long length_;
};

class SQLVTSCDateConst : public SQLVTSCConstant {
 public:
  explicit SQLVTSCDateConst(long day) : day_(day) {}

  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  SQLVTSCValueExpr *Copy() override { return new SQLVTSCDateConst(day_); }
  SQLRSSCValueExpr *CreateRS() override;
  void GetPossibleTypes(SQLTypeSet *types) override { types->Insert(SQL_DATE); }
  void Log() const override;
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {
    return other->IsSameDateConst(this);
  }
  bool IsSameDateConst(SQLVTSCDateConst const *other) const override { return other->day_ == day_; }

 private:
  long day_;
};

class SQLVTSCTimestampConst : public SQLVTSCConstant {
 public:
  explicit SQLVTSCTimestampConst(std::int64_t value) : value_(value) {}

  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  SQLVTSCValueExpr *Copy() override { return new SQLVTSCTimestampConst(value_); }
  SQLRSSCValueExpr *CreateRS() override;
  void GetPossibleTypes(SQLTypeSet *types) override { types->Insert(SQL_TIMESTAMP); }
  void Log() const override;
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {
    return other->IsSameTimestampConst(this);
  }
  bool IsSameTimestampConst(SQLVTSCTimestampConst const *other) const override {
    return other->value_ == value_;
  }

 private:
  std::int64_t value_;
};

class SQLVTSCIntegerConst : public SQLVTSCConstant {
 public:
  explicit SQLVTSCIntegerConst(long value) : value_(value) {}

  long GetInteger() const { return value_; }
  void SetInteger(long value) { value_ = value; }

  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  SQLVTSCValueExpr *Copy() override { return new SQLVTSCIntegerConst(value_); }
  SQLRSSCValueExpr *CreateRS() override;
  // INTEGER and the types a number can be reinterpreted as; not REAL, which
  // comparisons reach through INTEGER being its subtype.
  void GetPossibleTypes(SQLTypeSet *types) override;
  void Log() const override;
  bool IsIntegerConst() override { return true; }
  SQLVTSCIntegerConst *AsIntegerConst() override { return this; }
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {
    return other->IsSameIntegerConst(this);
  }
  bool IsSameIntegerConst(SQLVTSCIntegerConst const *other) const override {
    return other->value_ == value_;
  }

 private:
  long value_;
};

class SQLVTSCRealConst : public SQLVTSCConstant {
 public:
  explicit SQLVTSCRealConst(double value) : value_(value) {}

  double GetReal() const { return value_; }

  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  SQLVTSCValueExpr *Copy() override { return new SQLVTSCRealConst(value_); }
  SQLRSSCValueExpr *CreateRS() override;
  void GetPossibleTypes(SQLTypeSet *types) override;
  void Log() const override;
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {
    return other->IsSameRealConst(this);
  }
  bool IsSameRealConst(SQLVTSCRealConst const *other) const override {
    return !(other->value_ < value_) && !(other->value_ > value_);
  }

 private:
  double value_;
};
