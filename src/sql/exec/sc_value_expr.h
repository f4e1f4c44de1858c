// SQLRSSCValueExpr: the executable scalar expression.
//
// Owners call, in this order: construction; Optimize, CRefs2ParameterRefs
// and GetColumnRefs while the tree is arranged; Prepare once; then per row
// Evaluate and a read of the store that Prepare returned (its address never
// changes); Reset where a subquery must run afresh; the destructor. Every
// expression owns the expressions, lists and row sources it was built from.
//
// Levels: a column reference names a relative level (0 the row source that
// evaluates it, -n the n-th enclosing query). Operations taking a level add
// it to the reference's own; the sum 0 means the level being examined, a
// negative sum an outer reference. Descending into a subquery adds 1.
//
// Cost pairs: the first figure counts expensive work (subqueries), the
// second ordinary operations; pairs compare first by the first figure.
//
// Identity is a double dispatch: IsSameValueExpr on a node calls, on the
// other node, the test named after its own class (IsSameAdd, ...); the base
// answers FALSE to all of them.
#pragma once

#include <memory>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_containers.h"
#include "sql/common/truth_value.h"
#include "sql/common/value_store.h"

class SQLRSPrepareContext;
class SQLVisitor;
class SQLTokenString;
class SQLRSNetFetchParams;
class SQLColumnRef2QDBColumnIdMap;  // the older description interface (unused)
class SQLRSFetchParameters;         // likewise
struct _qp_operand;                 // likewise

class SQLRSSCAdd;
class SQLRSSCSubtract;
class SQLRSSCMultiply;
class SQLRSSCDivide;
class SQLRSSCModulo;
class SQLRSSCConcatenate;
class SQLRSSCIndexing;
class SQLRSSCSubstr;
class SQLRSSCReinterpretCast;
class SQLRSSCStringConst;
class SQLRSSCRawConst;
class SQLRSSCIntegerConst;
class SQLRSSCRealConst;
class SQLRSSCDateConst;
class SQLRSSCTimestampConst;
class SQLRSSCColumnRef;
class SQLRSSCParameterRef;
class SQLRSSCScalarSubquery;

// Which column references GetColumnRefs collects.
enum SQLRSSCColumnRefType : int {
  SQL_CREF_OUTER = 0,  // level sum below 0: rows of enclosing queries
  SQL_CREF_LEVEL = 1,  // level sum 0: the examined level
};

class SQLRSSCValueExpr {
 public:
  SQLRSSCValueExpr() = default;
  SQLRSSCValueExpr(SQLRSSCValueExpr const &) = delete;
  SQLRSSCValueExpr &operator=(SQLRSSCValueExpr const &) = delete;
  virtual ~SQLRSSCValueExpr();

  virtual void Cost(double *first, double *second) = 0;
  // Operands first, then the visitor's hook for the class.
  virtual void AcceptVisit(SQLVisitor &visitor) = 0;
  virtual void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) = 0;
  virtual SQLColumnDescriptor GetColumnDescriptor() const = 0;
  // If the columns of the examined level with ids in one of the intervals
  // were all NULL: TRUE certainly NULL, FALSE certainly not, UNKNOWN either.
  virtual SQLTruthValue NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) = 0;
  virtual void Optimize() = 0;
  // Returns the store that holds the result after every Evaluate.
  virtual SQLValueStore const *Prepare(SQLRSPrepareContext *context) = 0;
  virtual void Evaluate() = 0;
  virtual void Reset() = 0;
  virtual bool IsSameValueExpr(SQLRSSCValueExpr const *other) const = 0;

  virtual bool IsSameAdd(SQLRSSCAdd const *) const { return false; }
  virtual bool IsSameSubtract(SQLRSSCSubtract const *) const { return false; }
  virtual bool IsSameMultiply(SQLRSSCMultiply const *) const { return false; }
  virtual bool IsSameDivide(SQLRSSCDivide const *) const { return false; }
  virtual bool IsSameModulo(SQLRSSCModulo const *) const { return false; }
  virtual bool IsSameConcatenate(SQLRSSCConcatenate const *) const { return false; }
  virtual bool IsSameIndexing(SQLRSSCIndexing const *) const { return false; }
  virtual bool IsSameSubstr(SQLRSSCSubstr const *) const { return false; }
  virtual bool IsSameReinterpretCast(SQLRSSCReinterpretCast const *) const { return false; }
  virtual bool IsSameStringConst(SQLRSSCStringConst const *) const { return false; }
  virtual bool IsSameRawConst(SQLRSSCRawConst const *) const { return false; }
  virtual bool IsSameIntegerConst(SQLRSSCIntegerConst const *) const { return false; }
  virtual bool IsSameRealConst(SQLRSSCRealConst const *) const { return false; }
  virtual bool IsSameDateConst(SQLRSSCDateConst const *) const { return false; }
  virtual bool IsSameTimestampConst(SQLRSSCTimestampConst const *) const { return false; }
  virtual bool IsSameColumnRef(SQLRSSCColumnRef const *) const { return false; }
  virtual bool IsSameParameterRef(SQLRSSCParameterRef const *) const { return false; }
  virtual bool IsSameScalarSubquery(SQLRSSCScalarSubquery const *) const { return false; }

  virtual bool IsColumnRef() const { return false; }
  virtual bool IsIntegerConst() const { return false; }
  virtual bool IsStringConst() const { return false; }
  virtual bool IsRawConst() const { return false; }
  virtual bool IsParameterRef() const { return false; }
  virtual bool IsIndexing() const { return false; }

  // The older description interface: every class stops on it.
  virtual _qp_operand *createQPoperand(SQLColumnRef2QDBColumnIdMap *map, SQLRSFetchParameters *params,
                                       unsigned long id) const;
  // Appends the expression's tokens to a query description; outer column
  // references become parameters of params.
  virtual void createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) = 0;
  // Replaces column references of the level whose id is in columns by
  // references to the parameter at the same position. Returns the node that
  // takes this one's place (this one is then deleted).
  virtual SQLRSSCValueExpr *CRefs2ParameterRefs(int level, intList *columns,
                                                pSQLParameterList *parameters) = 0;
  // Writes only when a trace flag is set.
  virtual void Log() const = 0;
  // A deep copy; classes without one stop through SQLAbort.
  virtual SQLRSSCValueExpr *Copy() const;
  // Whether Copy succeeds for this node and everything below it.
  virtual bool CanCopy() const { return false; }

  // FALSE when the expression reads a parameter or a row of its own query
  // (or of an enclosing one).
  bool IsConstant();

 protected:
  // The class name for the messages that stop the program.
  virtual char const *ClassName() const = 0;
};

using SQLRSSCValueExprPtr = std::unique_ptr<SQLRSSCValueExpr>;

// Helpers shared by the expression and condition classes.

// Replaces *slot by what its CRefs2ParameterRefs returns (a null slot stays).
void SQLRSSCReplaceCRefs(SQLRSSCValueExprPtr *slot, int level, intList *columns,
                         pSQLParameterList *parameters);
// The pair of e, or (0, 0) for a null e, added to *first and *second.
void SQLRSSCAddCost(SQLRSSCValueExpr *e, double *first, double *second, double weight = 1.0);
// TRUE when a trace flag is set (Log writes only then).
bool SQLRSSCTracing();
// Logs e indented on a line of its own, with a label before it.
void SQLRSSCLogOperand(char const *label, SQLRSSCValueExpr const *e);
