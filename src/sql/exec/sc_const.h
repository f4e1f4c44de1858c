// The six constant expressions. A constant's store holds its value from
// construction on: Prepare returns it, Evaluate and Reset do nothing.
#pragma once

#include <cstdint>

#include "sql/exec/sc_value_expr.h"

// What the six classes share; each adds its identity test and flag.
class SQLRSSCConst : public SQLRSSCValueExpr {
 public:
  void Cost(double *first, double *second) override;
  void GetColumnRefs(int, SQLRSSCColumnRefType, pSQLRSSCColumnRefList *) override {}
  SQLColumnDescriptor GetColumnDescriptor() const override;
  SQLTruthValue NullValueOnNullifiedCols(int, List<Interval<int>> *) override { return TV_FALSE; }
  void Optimize() override {}
  SQLValueStore const *Prepare(SQLRSPrepareContext *) override { return &store_; }
  void Evaluate() override {}
  void Reset() override {}
  SQLRSSCValueExpr *CRefs2ParameterRefs(int, intList *, pSQLParameterList *) override { return this; }
  void Log() const override;

  SQLValueStore const *GetValueStore() const { return &store_; }

 protected:
  // The word Log prints before the value, "IntegerConst(" and so on.
  virtual char const *LogWord() const = 0;
  SQLValueStore store_;
};

class SQLRSSCStringConst : public SQLRSSCConst {
 public:
  SQLRSSCStringConst(unsigned char const *bytes, unsigned long length);
  void AcceptVisit(SQLVisitor &visitor) override;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameStringConst(SQLRSSCStringConst const *other) const override;
  bool IsStringConst() const override { return true; }
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *Copy() const override;
  bool CanCopy() const override { return true; }

 protected:
  char const *LogWord() const override { return "StringConst("; }
  char const *ClassName() const override { return "SQLRSSCStringConst"; }
};

class SQLRSSCRawConst : public SQLRSSCConst {
 public:
  SQLRSSCRawConst(unsigned char const *bytes, unsigned long length);
  void AcceptVisit(SQLVisitor &visitor) override;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameRawConst(SQLRSSCRawConst const *other) const override;
  bool IsRawConst() const override { return true; }
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *Copy() const override;
  bool CanCopy() const override { return true; }

 protected:
  char const *LogWord() const override { return "RawConst("; }
  char const *ClassName() const override { return "SQLRSSCRawConst"; }
};

// A 32-bit integer; a value outside that range raises "22003".
class SQLRSSCIntegerConst : public SQLRSSCConst {
 public:
  explicit SQLRSSCIntegerConst(long value);
  void AcceptVisit(SQLVisitor &visitor) override;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameIntegerConst(SQLRSSCIntegerConst const *other) const override;
  bool IsIntegerConst() const override { return true; }
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *Copy() const override;
  bool CanCopy() const override { return true; }

 protected:
  char const *LogWord() const override { return "IntegerConst("; }
  char const *ClassName() const override { return "SQLRSSCIntegerConst"; }
};

class SQLRSSCRealConst : public SQLRSSCConst {
 public:
  explicit SQLRSSCRealConst(double value);
  void AcceptVisit(SQLVisitor &visitor) override;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameRealConst(SQLRSSCRealConst const *other) const override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *Copy() const override;
  bool CanCopy() const override { return true; }

 protected:
  char const *LogWord() const override { return "RealConst("; }
  char const *ClassName() const override { return "SQLRSSCRealConst"; }
};

// A day number; one outside the 32-bit range raises "22003".
class SQLRSSCDateConst : public SQLRSSCConst {
 public:
  explicit SQLRSSCDateConst(long dayNumber);
  void AcceptVisit(SQLVisitor &visitor) override;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameDateConst(SQLRSSCDateConst const *other) const override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *Copy() const override;
  bool CanCopy() const override { return true; }

 protected:
  char const *LogWord() const override { return "DateConst("; }
  char const *ClassName() const override { return "SQLRSSCDateConst"; }
};

class SQLRSSCTimestampConst : public SQLRSSCConst {
 public:
  explicit SQLRSSCTimestampConst(std::int64_t seconds);
  void AcceptVisit(SQLVisitor &visitor) override;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameTimestampConst(SQLRSSCTimestampConst const *other) const override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *Copy() const override;
  bool CanCopy() const override { return true; }

 protected:
  char const *LogWord() const override { return "TimestampConst("; }
  char const *ClassName() const override { return "SQLRSSCTimestampConst"; }
};
