// The comparison predicates: row-value comparison, BETWEEN, IN with a list
// and IS NULL. Pairs of values compare through SQLValueStore::Compare: NULL
// gives UNKNOWN, strings compare blank-padded under the TSS collation,
// arrays element by element for equality only.
#pragma once

#include <vector>

#include "sql/exec/sc_search_cond.h"

class SQLRSSCConst;

// The operators, with the words Log prints.
enum SQLRSSCCompOperator : int {
  SQLRSSC_EQUAL = 0,                  // "EQUAL"
  SQLRSSC_NOT_EQUAL = 1,              // "NOT_EQUAL"
  SQLRSSC_LESS_THAN = 2,              // "LESS_THAN"
  SQLRSSC_GREATER_THAN = 3,           // "GREATER_THAN"
  SQLRSSC_LESS_THAN_OR_EQUAL = 4,     // "LESS_THAN_OR_EQUAL"
  SQLRSSC_GREATER_THAN_OR_EQUAL = 5,  // "GREATER_THAN_OR_EQUAL"
};

// (l1, ..., ln) op (r1, ..., rn); n is 1 for a scalar comparison. Ordering
// operators compare lexicographically.
class SQLRSSCComparison : public SQLRSSCSearchCond {
 public:
  // Takes both lists (of equal length) and their expressions over.
  SQLRSSCComparison(pSQLRSSCValueExprList *left, SQLRSSCCompOperator op, pSQLRSSCValueExprList *right);

  SQLRSSCCompOperator GetOperator() const { return op_; }
  // The number of values on each side.
  int Degree() const { return static_cast<int>(left_.size()); }

  void Prepare(SQLRSPrepareContext *context) override;
  SQLTruthValue Evaluate() override;
  void Reset() override;
  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLTruthValueSet PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  SQLRSSCSearchCond *Optimize() override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;
  SQLRSSCSearchCond *Copy() const override;
  bool CanCopy() const override;
  bool IsEqSearchCondition(int n) const override;
  void GetEqualColumns(int n, std::vector<std::pair<int, int>> *pairs) const override;
  void GetEqualTerms(int n, std::vector<EqualTerms> *pairs) override;
  // A scalar equality of a plain column of the examined level and a
  // constant, either way round: the column, and the constant in
  // `*constant`; -1 for any other comparison.
  int ColumnEqualToConstant(SQLRSSCConst const **constant) const;
  // A new scalar equality of the column of the examined level (described
  // by `descriptor`) and a copy of the constant.
  static SQLRSSCComparison *ColumnEquals(int column, SQLColumnDescriptor const *descriptor,
                                         SQLRSSCConst const *constant);

 protected:
  char const *ClassName() const override { return "SQLRSSCComparison"; }

 private:
  std::vector<SQLRSSCValueExprPtr> left_, right_;
  SQLRSSCCompOperator op_;
  std::vector<SQLValueStore const *> leftStores_, rightStores_;
};

// (v1, ..., vn) BETWEEN (low...) AND (high...), on row values.
class SQLRSSCBetween : public SQLRSSCSearchCond {
 public:
  // Takes the three lists (of equal length) and their expressions over.
  SQLRSSCBetween(pSQLRSSCValueExprList *value, pSQLRSSCValueExprList *low, pSQLRSSCValueExprList *high);

  // The number of values in each row value.
  int Degree() const { return static_cast<int>(value_.size()); }

  void Prepare(SQLRSPrepareContext *context) override;
  SQLTruthValue Evaluate() override;
  // Also TRUE when the bounds of a single value read no row and no
  // parameter and hold no value between them: a NULL bound, or a low bound
  // above the high one (x BETWEEN 3 AND 2), of the value's kind.
  bool LeavesNoRow() override;
  void Reset() override;
  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLTruthValueSet PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  SQLRSSCSearchCond *Optimize() override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;

 protected:
  char const *ClassName() const override { return "SQLRSSCBetween"; }

 private:
  // One bound: the first pair that is not equal, compared with op; TRUE
  // when every pair is equal.
  SQLTruthValue Bound(std::vector<SQLRSSCValueExprPtr> &bound, std::vector<SQLValueStore const *> &stores,
                      SQLCompOperator op);

  std::vector<SQLRSSCValueExprPtr> value_, low_, high_;
  std::vector<SQLValueStore const *> valueStores_, lowStores_, highStores_;
};

// value IN (item, ...).
class SQLRSSCInSet : public SQLRSSCSearchCond {
 public:
  // Takes the value, the list and its expressions over.
  SQLRSSCInSet(SQLRSSCValueExpr *value, pSQLRSSCValueExprList *set);

  void Prepare(SQLRSPrepareContext *context) override;
  // FALSE for an empty set; items are evaluated until the result is TRUE.
  SQLTruthValue Evaluate() override;
  void Reset() override;
  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLTruthValueSet PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  SQLRSSCSearchCond *Optimize() override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;

 protected:
  char const *ClassName() const override { return "SQLRSSCInSet"; }

 private:
  SQLRSSCValueExprPtr value_;
  std::vector<SQLRSSCValueExprPtr> set_;
  SQLValueStore const *valueStore_ = nullptr;
  std::vector<SQLValueStore const *> setStores_;
};

// operand IS NULL: TRUE or FALSE, never UNKNOWN; an array is never NULL.
class SQLRSSCIsNull : public SQLRSSCSearchCond {
 public:
  explicit SQLRSSCIsNull(SQLRSSCValueExpr *operand);  // taken over

  void Prepare(SQLRSPrepareContext *context) override;
  SQLTruthValue Evaluate() override;
  void Reset() override { operand_->Reset(); }
  void Cost(double *first, double *second) override { operand_->Cost(first, second); }
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLTruthValueSet PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  SQLRSSCSearchCond *Optimize() override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;

 protected:
  char const *ClassName() const override { return "SQLRSSCIsNull"; }

 private:
  SQLRSSCValueExprPtr operand_;
  SQLValueStore const *store_ = nullptr;
};

// The word of an operator for the trace, "EQUAL" and so on.
char const *SQLRSSCCompOperatorName(SQLRSSCCompOperator op);
