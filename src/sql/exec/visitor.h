// SQLVisitor: the traversal interface of row-source and expression trees.
//
// AcceptVisit of a row source calls VisitSQLRowSource first (a pre-order
// hook), then visits its children, then its own conditions and expressions
// (while its child is the innermost entry of the visitor's row-source scope,
// so that a column reference of level 0 means the child's row), then calls
// its own Visit<Class> hook, and finally replaces its children on the scope
// by itself. Inside expressions operands come before the expression's hook;
// an expression holding a subquery raises the visitor's level by one while
// it visits the subquery's tree. Every hook does nothing by default.
#pragma once

#include <vector>

class SQLRowSource;
class SQLRSFetch;
class SQLRSFilter;
class SQLRSNullify;
class SQLRSSort;
class SQLRSGroup;
class SQLRSProject;
class SQLRSPrepare;
class SQLRSJoin;
class SQLRSConstLeftOuterJoin;
class SQLRSUnion;
class SQLRSClearUnref;
class SQLRSHints;
class SQLRSSCSearchCond;
class SQLRSSCAnd;
class SQLRSSCOr;
class SQLRSSCNot;
class SQLRSSCComparison;
class SQLRSSCBetween;
class SQLRSSCInSet;
class SQLRSSCLike;
class SQLRSSCIsNull;
class SQLRSSCExists;
class SQLRSSCInSubquery;
class SQLRSSCValueExpr;
class SQLRSSCAdd;
class SQLRSSCSubtract;
class SQLRSSCMultiply;
class SQLRSSCDivide;
class SQLRSSCModulo;
class SQLRSSCConcatenate;
class SQLRSSCIndexing;
class SQLRSSCSubstr;
class SQLRSSCTrim;
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
class SQLRSSCSimpleCase;
class SQLRSSCTextContent;

// The row sources that a traversal has left behind it, innermost last.
// Level 0 is the most recently pushed, -1 the one before. The stack grows as
// deep as the tree; reading or popping outside it stops through SQLAbort.
class SQLRowSourceScope {
 public:
  // Returns the count before the push.
  int PushRowSource(SQLRowSource *rowSource);
  void PopRowSource();
  SQLRowSource *GetRowSource(int level) const;
  int Count() const { return static_cast<int>(rowSources_.size()); }

 private:
  std::vector<SQLRowSource *> rowSources_;  // not owned
};

class SQLVisitor {
 public:
  SQLVisitor() = default;
  virtual ~SQLVisitor() = default;

  // Whether a simple CASE visits its operand and members (default TRUE);
  // whether a scalar subquery keeps the traversal out of its tree (FALSE).
  virtual bool VisitSimpleCaseMembers() { return true; }
  virtual bool VisitScopeLevel_0_Only() { return false; }
  // Whether a subquery condition also visits the second tree of its
  // subquery that answers here (local_subquery.h): only the walks that
  // attach, detach and set up every table leaf (default FALSE).
  virtual bool VisitLocalSubqueries() { return false; }

  virtual void VisitSQLRowSource(SQLRowSource *) {}
  virtual void VisitSQLRSFetch(SQLRSFetch *) {}
  virtual void VisitSQLRSFilter(SQLRSFilter *) {}
  virtual void VisitSQLRSNullify(SQLRSNullify *) {}
  virtual void VisitSQLRSSort(SQLRSSort *) {}
  virtual void VisitSQLRSGroup(SQLRSGroup *) {}
  virtual void VisitSQLRSProject(SQLRSProject *) {}
  virtual void VisitSQLRSPrepare(SQLRSPrepare *) {}
  virtual void VisitSQLRSJoin(SQLRSJoin *) {}
  virtual void VisitSQLRSConstLeftOuterJoin(SQLRSConstLeftOuterJoin *) {}
  virtual void VisitSQLRSUnion(SQLRSUnion *) {}
  virtual void VisitSQLRSClearUnref(SQLRSClearUnref *) {}
  virtual void VisitSQLRSHints(SQLRSHints *) {}

  virtual void VisitSQLRSSCSearchCond(SQLRSSCSearchCond *) {}
  virtual void VisitSQLRSSCAnd(SQLRSSCAnd *) {}
  virtual void VisitSQLRSSCOr(SQLRSSCOr *) {}
  virtual void VisitSQLRSSCNot(SQLRSSCNot *) {}
  virtual void VisitSQLRSSCComparison(SQLRSSCComparison *) {}
  virtual void VisitSQLRSSCBetween(SQLRSSCBetween *) {}
  virtual void VisitSQLRSSCInSet(SQLRSSCInSet *) {}
  virtual void VisitSQLRSSCLike(SQLRSSCLike *) {}
  virtual void VisitSQLRSSCIsNull(SQLRSSCIsNull *) {}
  virtual void VisitSQLRSSCExists(SQLRSSCExists *) {}
  virtual void VisitSQLRSSCInSubquery(SQLRSSCInSubquery *) {}

  virtual void VisitSQLRSSCValueExpr(SQLRSSCValueExpr *) {}
  virtual void VisitSQLRSSCAdd(SQLRSSCAdd *) {}
  virtual void VisitSQLRSSCSubtract(SQLRSSCSubtract *) {}
  virtual void VisitSQLRSSCMultiply(SQLRSSCMultiply *) {}
  virtual void VisitSQLRSSCDivide(SQLRSSCDivide *) {}
  virtual void VisitSQLRSSCModulo(SQLRSSCModulo *) {}
  virtual void VisitSQLRSSCConcatenate(SQLRSSCConcatenate *) {}
  virtual void VisitSQLRSSCIndexing(SQLRSSCIndexing *) {}
  virtual void VisitSQLRSSCSubstr(SQLRSSCSubstr *) {}
  virtual void VisitSQLRSSCTrim(SQLRSSCTrim *) {}
  virtual void VisitSQLRSSCReinterpretCast(SQLRSSCReinterpretCast *) {}
  virtual void VisitSQLRSSCStringConst(SQLRSSCStringConst *) {}
  virtual void VisitSQLRSSCRawConst(SQLRSSCRawConst *) {}
  virtual void VisitSQLRSSCIntegerConst(SQLRSSCIntegerConst *) {}
  virtual void VisitSQLRSSCRealConst(SQLRSSCRealConst *) {}
  virtual void VisitSQLRSSCDateConst(SQLRSSCDateConst *) {}
  virtual void VisitSQLRSSCTimestampConst(SQLRSSCTimestampConst *) {}
  virtual void VisitSQLRSSCColumnRef(SQLRSSCColumnRef *) {}
  virtual void VisitSQLRSSCParameterRef(SQLRSSCParameterRef *) {}
  virtual void VisitSQLRSSCScalarSubquery(SQLRSSCScalarSubquery *) {}
  virtual void VisitSQLRSSCSimpleCase(SQLRSSCSimpleCase *) {}
  virtual void VisitSQLRSSCTextContent(SQLRSSCTextContent *) {}

  // How many subqueries deep the traversal is.
  int GetLevel() const { return level_; }
  void IncLevel() { ++level_; }
  void DecLevel() { --level_; }
  SQLRowSourceScope *Scope() { return &scope_; }

 private:
  int level_ = 0;
  SQLRowSourceScope scope_;
};

// Walks a subquery's tree one level below the condition that holds it,
// then takes the tree off the scope.
void SQLRSVisitSubquery(SQLRowSource *tree, SQLVisitor &visitor);
