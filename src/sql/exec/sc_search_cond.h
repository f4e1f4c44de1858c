// SQLRSSCSearchCond: the executable search condition, evaluated per row in
// three-valued logic (SQLTruthValue: FALSE, TRUE, UNKNOWN), and the logical
// connectives AND, OR and NOT.
//
// Owners construct a condition, let the optimiser arrange it (CollapseAnd,
// Optimize, CRefs2ParameterRefs, GetColumnRefs, PossibleValuesOnNullifiedCols,
// IsEqSearchCondition), Prepare it once and Evaluate it per row; Reset makes
// subqueries run afresh. Every condition owns its members. Optimize and
// CollapseAnd take the condition over like the row sources' optimiser
// messages (row_source.h): the caller lets go of it before the call, and
// when the call throws it has freed what it was given. Levels, column
// reference kinds and cost pairs follow the value expressions
// (sc_value_expr.h).
#pragma once

#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "sql/agent/nw_token.h"
#include "sql/common/sql_containers.h"
#include "sql/common/truth_value.h"
#include "sql/exec/sc_value_expr.h"

struct _qp_expr_node;  // the older description interface (unused)

class SQLException;
class SQLRSSCSearchCond;
using SQLRSSCSearchCondPtr = std::unique_ptr<SQLRSSCSearchCond>;

class SQLRSSCSearchCond {
 public:
  SQLRSSCSearchCond() = default;
  SQLRSSCSearchCond(SQLRSSCSearchCond const &) = delete;
  SQLRSSCSearchCond &operator=(SQLRSSCSearchCond const &) = delete;
  virtual ~SQLRSSCSearchCond();

  virtual void Prepare(SQLRSPrepareContext *context) = 0;
  virtual SQLTruthValue Evaluate() = 0;
  virtual void Reset() = 0;
  virtual void Cost(double *first, double *second) = 0;
  // Members first, then the visitor's hook for the class.
  virtual void AcceptVisit(SQLVisitor &visitor) = 0;
  virtual void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) = 0;
  // The truth values the condition could still take if the columns of the
  // examined level with ids in the intervals were all NULL. Without TRUE,
  // the condition rejects every such row.
  virtual SQLTruthValueSet PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) = 0;
  // Returns the condition that takes this one's place. Takes this one
  // over: when it throws, the condition has been freed.
  virtual SQLRSSCSearchCond *Optimize() = 0;
  // Appends the conjuncts of the condition to list: an AND its operands
  // (and deletes itself), any other condition itself. The conjuncts in the
  // list are the caller's; when it throws, those already appended stay
  // the caller's and the rest of the condition has been freed
  // (SQLRSSCTakeConjuncts wraps this).
  virtual void CollapseAnd(pSQLRSSCSearchCondList *list);
  virtual void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) = 0;
  // The older description interface: every class stops on it.
  virtual _qp_expr_node *createQPexprnode(SQLColumnRef2QDBColumnIdMap *map, SQLRSFetchParameters *params,
                                          unsigned long id);
  virtual void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) = 0;
  // Writes only when a trace flag is set.
  virtual void Log() const = 0;
  // A deep copy; classes without one stop through SQLAbort.
  virtual SQLRSSCSearchCond *Copy() const;
  // TRUE when Copy answers (for the condition and all it holds).
  virtual bool CanCopy() const { return false; }
  // TRUE for an equi-join between columns 0 .. n-1 and columns n and up.
  virtual bool IsEqSearchCondition(int n) const;
  // Adds the pairs (a, b) of plain columns of the examined level, a below n
  // and b from n on, that a TRUE result needs to hold equal values (by the
  // value layer's "="); by default none.
  virtual void GetEqualColumns(int n, std::vector<std::pair<int, int>> *pairs) const;
  // A pair of terms of the examined level that a TRUE result needs to hold
  // equal values (by the value layer's "="): `low` reads columns below n
  // only, `high` columns from n on only, each at least one, neither a
  // subquery nor a row of an enclosing query. After Prepare the stores
  // are those Prepare gave the terms (null before); a term's Evaluate
  // fills its store from the rows its columns are mapped to.
  struct EqualTerms {
    SQLRSSCValueExpr *low;
    SQLRSSCValueExpr *high;
    SQLValueStore const *lowStore;
    SQLValueStore const *highStore;
  };
  // Adds such pairs (GetEqualColumns' pairs among them); by default none.
  virtual void GetEqualTerms(int n, std::vector<EqualTerms> *pairs);
  // After Prepare, before the rows of an execution are read: TRUE when the
  // condition is TRUE for no row at all in this execution, so that nothing
  // under it need be read. Only what holds for the whole execution decides:
  // by default a condition that reads no row and no parameter (constants,
  // uncorrelated subqueries, whose answers this runs and holds) is
  // evaluated once; any other answers FALSE. A failure of that evaluation
  // answers FALSE too: the rows then meet it, and fail, as they come.
  virtual bool LeavesNoRow();

 protected:
  // TRUE when the condition reads no column of any row and no parameter:
  // its value is the same for every row of an execution.
  bool FixedForExecution();

 protected:
  virtual char const *ClassName() const = 0;

 private:
  signed char fixed_ = -1;  // FixedForExecution: -1 not yet known
};

// What AND and OR share: an ordered list of operands.
class SQLRSSCLogical : public SQLRSSCSearchCond {
 public:
  int NrOperands() const { return static_cast<int>(operands_.size()); }
  SQLRSSCSearchCond *GetOperand(int i) const { return operands_[static_cast<size_t>(i)].get(); }

  void Prepare(SQLRSPrepareContext *context) override;
  void Reset() override;
  // The first operand's pair, plus each further one's times a weight that
  // starts at 0.5 and is squared after each operand.
  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  // Optimizes every operand, then orders them cheapest first.
  SQLRSSCSearchCond *Optimize() override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;

 protected:
  SQLRSSCLogical() = default;
  // Takes the list and its conditions over, also when it throws.
  explicit SQLRSSCLogical(pSQLRSSCSearchCondList *list);
  explicit SQLRSSCLogical(std::vector<SQLRSSCSearchCondPtr> operands) : operands_(std::move(operands)) {}
  virtual void VisitSelf(SQLVisitor &visitor) = 0;
  virtual SQLNWToken Token() const = 0;
  virtual char const *LogWord() const = 0;

  std::vector<SQLRSSCSearchCondPtr> operands_;
};

// Conjunction; nested conjunctions are flattened into one.
class SQLRSSCAnd : public SQLRSSCLogical {
 public:
  // Each constructor takes its operands over, also when it throws.
  SQLRSSCAnd(SQLRSSCSearchCond *a, SQLRSSCSearchCond *b);
  explicit SQLRSSCAnd(pSQLRSSCSearchCondList *list);
  explicit SQLRSSCAnd(std::vector<SQLRSSCSearchCondPtr> operands) : SQLRSSCLogical(std::move(operands)) {}
  // TRUE from TRUE, stopping at the first FALSE; an empty AND is TRUE. An
  // operand that fails fails the AND only when no other operand is FALSE.
  SQLTruthValue Evaluate() override;
  // TRUE when one operand is TRUE for no row.
  bool LeavesNoRow() override;
  SQLTruthValueSet PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  void CollapseAnd(pSQLRSSCSearchCondList *list) override;
  SQLRSSCSearchCond *Copy() const override;
  bool CanCopy() const override;
  bool IsEqSearchCondition(int n) const override;
  void GetEqualColumns(int n, std::vector<std::pair<int, int>> *pairs) const override;
  void GetEqualTerms(int n, std::vector<EqualTerms> *pairs) override;

 protected:
  void VisitSelf(SQLVisitor &visitor) override;
  SQLNWToken Token() const override { return SQLNWTSCAnd; }
  char const *LogWord() const override { return "And("; }
  char const *ClassName() const override { return "SQLRSSCAnd"; }
};

// Disjunction; its two operands are kept as they are.
class SQLRSSCOr : public SQLRSSCLogical {
 public:
  SQLRSSCOr(SQLRSSCSearchCond *a, SQLRSSCSearchCond *b);
  explicit SQLRSSCOr(pSQLRSSCSearchCondList *list);
  // FALSE from FALSE, stopping at the first TRUE; an empty OR is FALSE. An
  // operand that fails fails the OR only when no other operand is TRUE.
  SQLTruthValue Evaluate() override;
  // TRUE when every operand is TRUE for no row.
  bool LeavesNoRow() override;
  SQLTruthValueSet PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) override;

 protected:
  void VisitSelf(SQLVisitor &visitor) override;
  SQLNWToken Token() const override { return SQLNWTSCOr; }
  char const *LogWord() const override { return "Or("; }
  char const *ClassName() const override { return "SQLRSSCOr"; }
};

class SQLRSSCNot : public SQLRSSCSearchCond {
 public:
  explicit SQLRSSCNot(SQLRSSCSearchCond *operand);  // taken over

  void Prepare(SQLRSPrepareContext *context) override { operand_->Prepare(context); }
  SQLTruthValue Evaluate() override { return TVNot(operand_->Evaluate()); }
  void Reset() override { operand_->Reset(); }
  void Cost(double *first, double *second) override;
  void AcceptVisit(SQLVisitor &visitor) override;
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) override;
  SQLTruthValueSet PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) override;
  SQLRSSCSearchCond *Optimize() override;
  void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) override;
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) override;
  void Log() const override;

 protected:
  char const *ClassName() const override { return "SQLRSSCNot"; }

 private:
  SQLRSSCSearchCondPtr operand_;
};

// Helpers of the condition classes.

// The conjuncts of a condition (CollapseAnd), owned. Takes the condition
// over, also when it throws.
std::vector<SQLRSSCSearchCondPtr> SQLRSSCTakeConjuncts(SQLRSSCSearchCond *condition);
// None (null), the single part, or an AND of the parts. Takes the parts
// over, also when it throws.
SQLRSSCSearchCondPtr SQLRSSCConjunction(std::vector<SQLRSSCSearchCondPtr> parts);

// TRUE for an error that a row's values cause: a data exception (SQLSTATE
// class 22) or a scalar subquery of more than one row (21000). These are
// the errors that a condition's rule defers to the rows that reach it, or
// that an operand deciding an AND or OR overrides; any other (a time-out, a
// lost driver, memory) stops the statement where it happens.
bool SQLRSSCRowError(SQLException const &e);

// The cost of a row value: the first item fully, each further one times a
// weight that starts at 0.5 and is squared after each item.
void SQLRSSCRowValueCost(std::vector<SQLRSSCValueExprPtr> const &items, double *first, double *second);
// Takes the list and its expressions over, also when it throws.
std::vector<SQLRSSCValueExprPtr> SQLRSSCTakeList(pSQLRSSCValueExprList *list);
// Takes several lists over, also when it throws: a constructor with more
// than one list argument takes them all at once, so that a failure while
// the first is taken does not leave the others to nobody.
void SQLRSSCTakeLists(std::initializer_list<std::pair<pSQLRSSCValueExprList *, std::vector<SQLRSSCValueExprPtr> *>> lists);
// A set of one, two or three truth values.
SQLTruthValueSet SQLRSSCTruthSet(SQLTruthValue a);
SQLTruthValueSet SQLRSSCTruthSet(SQLTruthValue a, SQLTruthValue b);
SQLTruthValueSet SQLRSSCTruthSet(SQLTruthValue a, SQLTruthValue b, SQLTruthValue c);
