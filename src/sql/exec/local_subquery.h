// A correlated subquery's second tree, whose conditions on outer values run
// here.
//
// A correlated subquery over a driver's table goes to the driver with its
// outer values as parameters: each distinct outer value costs an exchange
// (SQLRSSubqueryAnswers spares only the repeated ones). The second
// tree, made from the same validated subquery, answers here instead: its
// references to outer rows are kept here (SQLRSSCColumnRef::KeepHere), so
// that the optimiser ships only what reads no outer row, and every table
// leaf of it holds its rows for the execution (held_rows.h). The tables
// are then read once per execution, and each outer value is answered from
// the held rows.
//
// An execution runs the shipped tree for its first kMissesBeforeLocal
// answers (a few outer values cost a few exchanges, and a large table is
// not read for them), then the second tree, until one of its leaves finds
// more rows than it may hold: the shipped tree then answers the rest of
// that execution.
#pragma once

#include <memory>
#include <vector>

#include "sql/common/sql_containers.h"

class SQLParameter;
class SQLRowSource;
class SQLRSExecutions;
class SQLRSFetch;
class SQLRSPrepareContext;
class SQLVisitor;
enum SQLRSSCColumnRefType : int;

class SQLRSLocalSubquery {
 public:
  static constexpr int kMissesBeforeLocal = 16;

  // Takes the tree over (null: none), also when it throws.
  explicit SQLRSLocalSubquery(SQLRowSource *tree);
  ~SQLRSLocalSubquery();
  SQLRSLocalSubquery(SQLRSLocalSubquery const &) = delete;
  SQLRSLocalSubquery &operator=(SQLRSLocalSubquery const &) = delete;

  // Drops a tree that reads no outer row; marks the outer references of the
  // other, optimises it, and keeps it only when it has table leaves and
  // every one of them holds its rows.
  void Optimize();
  // As the shipped tree's: the optimiser renumbers the references that
  // GetColumnRefs finds, and turns the outer columns of a join into
  // parameters.
  void GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs);
  void CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters);
  void Prepare(SQLRSPrepareContext *context);
  // For the visitors that VisitLocalSubqueries: the tree, one level below.
  void AcceptVisit(SQLVisitor &visitor);
  // The tree prepared (after Prepare) or null.
  SQLRowSource *Tree() const { return tree_.get(); }
  // The tree to run for an answer that is not kept: `shipped` or the
  // local one.
  SQLRowSource *Pick(SQLRowSource *shipped);
  // After the tree that Pick gave has run: a local one whose rows were too
  // many to hold gives way to the shipped tree for the execution.
  void Ran(SQLRowSource const *ran);
  // What the tree holds was dropped (a write to its tables): the next
  // answers are asked of the driver again before the tree holds anew.
  void Restart() { misses_ = 0; }

 private:
  std::unique_ptr<SQLRowSource> tree_;
  std::vector<SQLRSFetch *> leaves_;  // of tree_, not owned
  SQLRSExecutions const *executions_ = nullptr;
  unsigned long execution_ = 0;  // the execution that misses_ and givenUp_ count
  int misses_ = 0;
  bool givenUp_ = false;
};
