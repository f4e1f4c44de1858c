// The small visitors that walk whole execution trees for the row sources:
// attaching and detaching table leaves, spreading time-outs and buffer
// sizes, and asking which database instance a tree runs on, or whether it
// refers to rows of enclosing queries.
#pragma once

#include <exception>

#include "sql/common/sql_containers.h"

#include "sql/exec/visitor.h"

class SQLDatabaseInstance;
class SQLParameter;

// Attaches every table leaf to the session; every row source becomes
// attached.
class SQLAttachVisitor : public SQLVisitor {
 public:
  explicit SQLAttachVisitor(unsigned long sessionId) : sessionId_(sessionId) {}
  bool VisitLocalSubqueries() override { return true; }
  void VisitSQLRowSource(SQLRowSource *rs) override;
  void VisitSQLRSFetch(SQLRSFetch *leaf) override;
  void VisitSQLRSSCTextContent(SQLRSSCTextContent *e) override;

 private:
  unsigned long sessionId_;
};

// Detaches every table leaf; every row source goes back to prepared. A leaf
// that fails to detach does not stop the walk: the first failure is kept
// and Failure() returns it afterwards, so that the rest of the tree is still
// detached.
class SQLDetachVisitor : public SQLVisitor {
 public:
  bool VisitLocalSubqueries() override { return true; }
  void VisitSQLRowSource(SQLRowSource *rs) override;
  void VisitSQLRSFetch(SQLRSFetch *leaf) override;
  void VisitSQLRSSCTextContent(SQLRSSCTextContent *e) override;
  std::exception_ptr Failure() const { return failure_; }

 private:
  std::exception_ptr failure_;  // the first failure of a leaf, or null
};

// Every row source takes the deadline; every leaf's cursor too.
class SQLSetTimeOutVisitor : public SQLVisitor {
 public:
  explicit SQLSetTimeOutVisitor(long deadline) : deadline_(deadline) {}
  bool VisitLocalSubqueries() override { return true; }
  void VisitSQLRowSource(SQLRowSource *rs) override;
  void VisitSQLRSFetch(SQLRSFetch *leaf) override;

 private:
  long deadline_;
};

// Every leaf takes the buffer size.
class SQLRSSetBufferSizeVisitor : public SQLVisitor {
 public:
  explicit SQLRSSetBufferSizeVisitor(int rows) : rows_(rows) {}
  void VisitSQLRSFetch(SQLRSFetch *leaf) override;

 private:
  int rows_;
};

// TRUE when every leaf operates on the instance and the tree fits a query
// description: every list (select list, sort and group specifications, row
// value) and every column number within the 16-bit counts of the format
// (SQLTokenString::kMaxListCount), and no more binary operators than
// kMaxOperators (a long chain of arithmetic). A tree that does not fit runs
// here.
class SQLOperatesOnThisDBInstanceVisitor : public SQLVisitor {
 public:
  explicit SQLOperatesOnThisDBInstanceVisitor(SQLDatabaseInstance *instance) : instance_(instance) {}
  // TRUE when the driver of `instance` can evaluate the whole of `node` (a
  // condition, an expression or a tree).
  template <class Node>
  static bool Holds(Node *node, SQLDatabaseInstance *instance) {
    SQLOperatesOnThisDBInstanceVisitor visitor(instance);
    node->AcceptVisit(visitor);
    return visitor.GetResult();
  }
  void VisitSQLRSFetch(SQLRSFetch *leaf) override;
  void VisitSQLRSSCTextContent(SQLRSSCTextContent *e) override;
  void VisitSQLRSSCAdd(SQLRSSCAdd *) override { Operator(); }
  void VisitSQLRSSCSubtract(SQLRSSCSubtract *) override { Operator(); }
  void VisitSQLRSSCMultiply(SQLRSSCMultiply *) override { Operator(); }
  void VisitSQLRSSCDivide(SQLRSSCDivide *) override { Operator(); }
  void VisitSQLRSSCModulo(SQLRSSCModulo *) override { Operator(); }
  void VisitSQLRSSCConcatenate(SQLRSSCConcatenate *) override { Operator(); }
  void VisitSQLRSProject(SQLRSProject *rs) override;
  void VisitSQLRSSort(SQLRSSort *rs) override;
  void VisitSQLRSGroup(SQLRSGroup *rs) override;
  void VisitSQLRSSCComparison(SQLRSSCComparison *c) override;
  void VisitSQLRSSCBetween(SQLRSSCBetween *c) override;
  void VisitSQLRSSCColumnRef(SQLRSSCColumnRef *ref) override;
  bool GetResult() const { return result_; }
  // FALSE when some list or column number of the tree is beyond the counts
  // of a query description (whatever the instances).
  bool Fits() const { return fits_; }
  // TRUE when the tree holds more binary operators than kMaxOperators.
  bool TooManyOperators() const { return operators_ > kMaxOperators; }

  // Binary operators one shipped tree may hold: every one may nest the
  // description a level deeper, and a driver refuses descriptions nested
  // more than 128 levels.
  static constexpr int kMaxOperators = 64;

 private:
  void Operator() {
    if (++operators_ > kMaxOperators) result_ = false;
  }
  void Count(long long n);

  SQLDatabaseInstance *instance_;  // not owned
  bool result_ = true;
  bool fits_ = true;
  int operators_ = 0;
};

// The instance of a tree with exactly one table leaf; null for none or
// several (also when several leaves share one instance).
class SQLGetDBInstanceVisitor : public SQLVisitor {
 public:
  void VisitSQLRSFetch(SQLRSFetch *leaf) override;
  SQLDatabaseInstance const *GetResult() const { return result_; }

 private:
  int leaves_ = 0;                               // leaves met so far
  SQLDatabaseInstance const *result_ = nullptr;  // not owned
};

// TRUE when the visited tree refers to a row of the query where the walk
// started (or of one enclosing it).
class SQLIsVariableVisitor : public SQLVisitor {
 public:
  void VisitSQLRSSCColumnRef(SQLRSSCColumnRef *ref) override;
  void VisitSQLRSFetch(SQLRSFetch *leaf) override;
  bool GetResult() const { return result_; }
  void SetResult(bool result) { result_ = result; }

 private:
  bool result_ = false;
};

// FALSE when the visited tree refers to a parameter or a row of the query
// where the walk started (or of one enclosing it).
class SQLIsConstantVisitor : public SQLVisitor {
 public:
  void VisitSQLRSSCColumnRef(SQLRSSCColumnRef *ref) override;
  void VisitSQLRSSCParameterRef(SQLRSSCParameterRef *) override { result_ = false; }
  void VisitSQLRSFetch(SQLRSFetch *leaf) override;
  bool GetResult() const { return result_; }
  void SetResult(bool result) { result_ = result; }

 private:
  bool result_ = true;
};

// The statement parameters that the visited expressions read, in visiting
// order (a parameter read twice appears twice).
class SQLGetParametersVisitor : public SQLVisitor {
 public:
  void VisitSQLRSSCParameterRef(SQLRSSCParameterRef *ref) override;
  bool First() { return parameters_.First(); }
  bool Next() { return parameters_.Next(); }
  SQLParameter const *GetCurrent() { return parameters_.GetCurrent(); }
  int NrElements() const { return parameters_.NrElements(); }

 private:
  pconstSQLParameterList parameters_;
};

// TRUE when evaluating the visited condition or expression on a row can
// raise a data exception that depends on the row: arithmetic, SUBSTRING,
// TRIM of a given character, conversions, subscripts, texts, and scalar
// subqueries (more than one row) other than a set function without
// grouping; within subqueries too. Comparisons, BETWEEN, IN lists, IS
// NULL, LIKE, EXISTS and IN over such parts cannot, nor can a
// concatenation or a TRIM of blanks.
class SQLMayFailVisitor : public SQLVisitor {
 public:
  template <class Node>
  static bool Holds(Node *node) {
    SQLMayFailVisitor visitor;
    node->AcceptVisit(visitor);
    return visitor.result_;
  }
  void VisitSQLRSSCAdd(SQLRSSCAdd *) override { result_ = true; }
  void VisitSQLRSSCSubtract(SQLRSSCSubtract *) override { result_ = true; }
  void VisitSQLRSSCMultiply(SQLRSSCMultiply *) override { result_ = true; }
  void VisitSQLRSSCDivide(SQLRSSCDivide *) override { result_ = true; }
  void VisitSQLRSSCModulo(SQLRSSCModulo *) override { result_ = true; }
  void VisitSQLRSSCIndexing(SQLRSSCIndexing *) override { result_ = true; }
  void VisitSQLRSSCSubstr(SQLRSSCSubstr *) override { result_ = true; }
  void VisitSQLRSSCTrim(SQLRSSCTrim *trim) override;
  void VisitSQLRSSCReinterpretCast(SQLRSSCReinterpretCast *) override { result_ = true; }
  void VisitSQLRSSCScalarSubquery(SQLRSSCScalarSubquery *subquery) override;
  void VisitSQLRSSCTextContent(SQLRSSCTextContent *) override { result_ = true; }

 private:
  bool result_ = false;
};
