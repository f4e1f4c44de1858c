// The predicates over subqueries: EXISTS and IN (subquery). A subquery
// that reads no row of an enclosing query is "uncorrelated".
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "sql/exec/sc_search_cond.h"

class SQLRowSource;

// EXISTS (subquery): TRUE when the subquery yields a row. An uncorrelated
// subquery runs once and its answer is held until Reset.
class SQLRSSCExists : public SQLRSSCSearchCond {
 public:
  explicit SQLRSSCExists(SQLRowSource *rowSource);  // taken over
  ~SQLRSSCExists() override;

  void Prepare(SQLRSPrepareContext *context) override;
  SQLTruthValue Evaluate() override;
  void Reset() override { held_ = false; }
  // (100, 1) when correlated, else (1, 1).
  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLTruthValueSet PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  SQLRSSCSearchCond *Optimize() override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;

 protected:
  char const *ClassName() const override { return "SQLRSSCExists"; }

 private:
  bool IsVariable();

  std::unique_ptr<SQLRowSource> rowSource_;
  bool evaluateOnce_ = false;
  bool held_ = false;             // result_ holds the answer
  SQLTruthValue result_ = TV_FALSE;
};

// value IN (subquery): compares the value with column 0 of every row until
// one is equal. No row gives FALSE (also for a NULL value); a NULL value
// with rows gives UNKNOWN. A correlated subquery runs at every Evaluate; an
// uncorrelated one runs once and its values are held (hashed by value when
// they are of one kind) until Reset, up to kMaxHeld values, beyond which it
// runs at every Evaluate too.
class SQLRSSCInSubquery : public SQLRSSCSearchCond {
 public:
  // Takes both over.
  SQLRSSCInSubquery(SQLRSSCValueExpr *value, SQLRowSource *rowSource);
  ~SQLRSSCInSubquery() override;

  void Prepare(SQLRSPrepareContext *context) override;
  SQLTruthValue Evaluate() override;
  // Resets the value (a scalar subquery in it runs afresh) and lets go of
  // the held values.
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
  char const *ClassName() const override { return "SQLRSSCInSubquery"; }

 private:
  static constexpr size_t kMaxHeld = 1 << 20;

  bool IsVariable();
  // Runs the subquery and holds its values; FALSE when there are too many.
  bool Hold();
  SQLTruthValue EvaluateHeld();

  SQLRSSCValueExprPtr value_;
  std::unique_ptr<SQLRowSource> rowSource_;
  SQLValueStore const *valueStore_ = nullptr;
  SQLValueStore const *columnStore_ = nullptr;  // the row source's column 0
  // ---- an uncorrelated subquery's values, held until Reset ----
  bool holdable_ = false;  // uncorrelated, and not found too large
  bool held_ = false;
  bool heldNull_ = false;  // one of them was NULL
  bool hashed_ = false;    // heldHash_ finds every value equal to a scalar of heldType_
  SQLType heldType_ = SQL_INTEGER;
  std::vector<SQLValueStore> heldValues_;  // the non-NULL values
  std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> heldHash_;
};
