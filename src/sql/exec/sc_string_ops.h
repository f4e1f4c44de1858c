// The string operators: concatenation, substring and trim. Positions and
// lengths of substring count bytes from 1; trim works on TSS characters (a
// byte 0x9B and the three bytes after it are one character).
#pragma once

#include "sql/exec/sc_dyadic.h"

// STRING || STRING or RAW || RAW; NULL when either operand is NULL.
class SQLRSSCConcatenate : public SQLRSSCDyadic {
 public:
  using SQLRSSCDyadic::SQLRSSCDyadic;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameConcatenate(SQLRSSCConcatenate const *other) const override;

 protected:
  void Operate(SQLValueStore const *left, SQLValueStore const *right) override;
  // The left operand's type; the length is the sum of the operands'.
  SQLColumnDescriptor Describe(SQLColumnDescriptor const &left, SQLColumnDescriptor const &right) const override;
  SQLRSSCDyadic *NewLike(SQLRSSCValueExprPtr &&left, SQLRSSCValueExprPtr &&right) const override;
  void VisitSelf(SQLVisitor &visitor) override;
  SQLNWToken Token() const override { return SQLNWTVEConcatenate; }
  char const *LogWord() const override { return "Concatenate("; }
  char const *ClassName() const override { return "SQLRSSCConcatenate"; }
  double OwnCost() const override { return 10; }
  // The value layer makes the result NULL for a NULL right operand.
  bool TestsRight() const override { return false; }
};

// SUBSTRING(string FROM start [FOR length]): the bytes from start (raised to
// 1) up to start + length (lowered to the end); an empty value of the
// string's own type (STRING or RAW) when nothing is left. A negative length
// raises SQLExDESubstringError ("22011").
class SQLRSSCSubstr : public SQLRSSCValueExpr {
 public:
  // Takes ownership of the three; length may be null.
  SQLRSSCSubstr(SQLRSSCValueExpr *string, SQLRSSCValueExpr *start, SQLRSSCValueExpr *length);

  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLColumnDescriptor GetColumnDescriptor() const override;
  SQLTruthValue NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  void Optimize() override;
  SQLValueStore const *Prepare(SQLRSPrepareContext *context) override;
  void Evaluate() override;
  void Reset() override;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override;
  bool IsSameSubstr(SQLRSSCSubstr const *other) const override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;

 protected:
  char const *ClassName() const override { return "SQLRSSCSubstr"; }

 private:
  SQLRSSCValueExprPtr string_, start_, length_;
  SQLValueStore const *stringStore_ = nullptr;
  SQLValueStore const *startStore_ = nullptr;
  SQLValueStore const *lengthStore_ = nullptr;
  SQLValueStore store_;
};

// TRIM([LEADING|TRAILING|BOTH] [character] FROM source): strips the
// character (a blank by default) from one or both ends; always a STRING. A
// trim character that is not exactly one TSS character raises
// SQLExDETrimError ("22027").
class SQLRSSCTrim : public SQLRSSCValueExpr {
 public:
  // Takes ownership of both; character may be null.
  SQLRSSCTrim(SQLTrimSpec spec, SQLRSSCValueExpr *character, SQLRSSCValueExpr *source);
  // TRUE when a trim character is given (the one operand that can fail).
  bool HasCharacter() const { return character_ != nullptr; }

  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLColumnDescriptor GetColumnDescriptor() const override;
  SQLTruthValue NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  void Optimize() override;
  SQLValueStore const *Prepare(SQLRSPrepareContext *context) override;
  void Evaluate() override;
  void Reset() override;
  bool IsSameValueExpr(SQLRSSCValueExpr const *other) const override { return other == this; }
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  SQLRSSCValueExpr *CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;

 protected:
  char const *ClassName() const override { return "SQLRSSCTrim"; }

 private:
  SQLTrimSpec spec_;
  SQLRSSCValueExprPtr character_, source_;
  SQLValueStore const *characterStore_ = nullptr;
  SQLValueStore const *sourceStore_ = nullptr;
  SQLValueStore store_;
};

// The byte length of the TSS character at p, of the n bytes left: 4 for a
// 0x9B followed by three more bytes, else 1 (a cut-off 0x9B counts as one).
unsigned long SQLRSSCTssCharLength(unsigned char const *p, unsigned long n);
