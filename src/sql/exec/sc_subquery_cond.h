// The predicates over subqueries: EXISTS and IN (subquery). A subquery
// that reads no row of an enclosing query is "uncorrelated".
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "sql/exec/local_subquery.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/exec/subquery_answers.h"

class SQLRowSource;

// EXISTS (subquery): TRUE when the subquery yields a row. Its answers are
// kept as SQLRSSubqueryAnswers tells: an uncorrelated subquery runs once
// per execution, a correlated one once per outer value, and with many of
// them answers here from a second tree of the subquery (`local`, may be
// null; see SQLRSLocalSubquery).
class SQLRSSCExists : public SQLRSSCSearchCond {
 public:
  explicit SQLRSSCExists(SQLRowSource *rowSource, SQLRowSource *local = nullptr);  // both taken over
  ~SQLRSSCExists() override;

  void Prepare(SQLRSPrepareContext *context) override;
  SQLTruthValue Evaluate() override;
  // An uncorrelated subquery that yields no row. A subquery that fails
  // leaves its error to the rows that reach the condition: FALSE then.
  bool LeavesNoRow() override;
  void Reset() override { answers_.Reset(); }
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
  SQLRSSubqueryAnswers<SQLTruthValue> answers_;
};

// value IN (subquery): compares the value with column 0 of every row until
// one is equal. No row gives FALSE (also for a NULL value); a NULL value
// with rows gives UNKNOWN. Its values are kept as SQLRSSubqueryAnswers
// tells (hashed by value when they are of one kind): an uncorrelated
// subquery runs once per execution, a correlated one once per outer value,
// and with many of them takes its values from a second tree of the
// subquery that answers here (`local`, may be null; see
// SQLRSLocalSubquery). Values beyond the statement's bound are not kept:
// the subquery then runs at every Evaluate of the execution.
class SQLRSSCInSubquery : public SQLRSSCSearchCond {
 public:
  // Takes all three over.
  SQLRSSCInSubquery(SQLRSSCValueExpr *value, SQLRowSource *rowSource, SQLRowSource *local = nullptr);
  ~SQLRSSCInSubquery() override;

  void Prepare(SQLRSPrepareContext *context) override;
  SQLTruthValue Evaluate() override;
  // An uncorrelated subquery whose held values hold no non-NULL one: the
  // condition is then FALSE or UNKNOWN whatever the value. Also a value
  // that reads no row and no parameter (a constant) that is not among them:
  // the condition is the same for every row, evaluated once. FALSE when
  // the subquery fails (the rows that reach the condition fail instead).
  bool LeavesNoRow() override;
  // For a table leaf that asks its driver for the rows whose value is in a
  // short list of the subquery's values (SQLRSFetch::TakeListOf): the
  // value, the subquery's column, and after LeavesNoRow in an execution
  // the non-NULL values of an uncorrelated subquery held for it (null when
  // none are held).
  SQLRSSCValueExpr *GetValue() const { return value_.get(); }
  SQLColumnDescriptor const *GetSubqueryColumn() const;
  std::vector<SQLValueStore> const *HeldValues() const;
  // Adds the tables the subquery reads to the watch.
  void WatchWrites(SQLTableWriteWatch *watch) { SQLRSWatchSubqueryWrites(rowSource_.get(), watch); }
  // Resets the value (a scalar subquery in it runs afresh) and the held
  // values (SQLRSSubqueryAnswers::Reset).
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
  // The values of one run of the subquery.
  struct Values {
    bool null = false;    // one of them was NULL
    bool hashed = true;   // hash finds every value equal to a scalar of type
    SQLType type = SQL_INTEGER;
    std::vector<SQLValueStore> values;  // the non-NULL values
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> hash;
  };

  bool IsVariable();
  // Runs the subquery (its tree `rs`) into `into`, weighing `bytes`;
  // FALSE when they weigh more than the answers have room for.
  bool Hold(Values *into, size_t *bytes, SQLRowSource *rs);
  // The uncorrelated subquery's values of this execution, held at the
  // first call; null when it is not holdable or has too many.
  Values const *HoldForExecution();
  SQLTruthValue EvaluateHeld(Values const &values);

  SQLRSSCValueExprPtr value_;
  std::unique_ptr<SQLRowSource> rowSource_;
  SQLValueStore const *valueStore_ = nullptr;
  SQLValueStore const *columnStore_ = nullptr;  // the row source's column 0
  SQLRSSubqueryAnswers<Values> answers_;
};
