// The builders behind the actions of the role-condition grammar, and the
// state of one parse: the table the condition belongs to and the live-object
// lists.
//
// Every node a builder makes is inserted at the head of its live list (one
// for search conditions, one for value expressions) and stays there until
// a builder hands it to a parent. Whatever the lists hold when a parse fails
// is deleted with the parse, so a failure at any point (a syntax error, an
// unknown column, a literal out of range, memory) leaves nothing behind.
#pragma once

#include <array>
#include <cstddef>
#include <cstdlib>
#include <memory>

#include "sql/common/sql_containers.h"

#include "sql/validate/vt_search_cond.h"

class SQLSCTable;
class SQLVTSCValueExpr;

using SQLSCCondPtr = std::unique_ptr<SQLVTSCSearchCond>;

// AND and OR of two conditions: the other operand when one is null, else a
// new SQLVTSCAnd (SQLVTSCOr) of both, into which an operand of the same kind
// is flattened. When memory runs out on the way, everything handed in is
// deleted.
SQLSCCondPtr SQLSCAnd(SQLSCCondPtr a, SQLSCCondPtr b);
SQLSCCondPtr SQLSCOr(SQLSCCondPtr a, SQLSCCondPtr b);

// The state of the parse that runs while it lives: made current by the
// constructor, no longer current after the destructor, which deletes every
// node still in the lists. One parse at a time.
class SQLSCParse {
 public:
  explicit SQLSCParse(SQLSCTable const *table);
  ~SQLSCParse();
  SQLSCParse(SQLSCParse const &) = delete;
  SQLSCParse &operator=(SQLSCParse const &) = delete;

  // The root the parse produced (owned by the caller), null when none.
  SQLVTSCSearchCond *TakeRoot();

  // The current parse; SQLAbort when no parse runs.
  static SQLSCParse &Current();

  // Moves one of the parser's stacks (which: 0 states, 1 values) into new
  // storage of `bytes` from mal_sys_malloc, copying its first `used` bytes,
  // and returns it; the parse owns the storage. std::bad_alloc when memory
  // runs out.
  void *GrowStack(int which, void const *stack, std::size_t used, std::size_t bytes);

  SQLSCTable const *Table() const { return table_; }
  pSQLVTSCSearchCondList *Conditions() { return &conditions_; }
  pSQLVTSCValueExprList *Values() { return &values_; }

 private:
  SQLSCTable const *table_;
  pSQLVTSCSearchCondList conditions_;  // live search conditions, newest first
  pSQLVTSCValueExprList values_;       // live value expressions, newest first
  std::unique_ptr<SQLVTSCSearchCond> root_;
  SQLSCParse *previous_;
  struct FreeBlock {
    void operator()(void *block) const { std::free(block); }
  };
  // The parser's stacks once they outgrow their initial arrays.
  std::array<std::unique_ptr<void, FreeBlock>, 2> stacks_;

  friend void SQLSCBuildRoot(SQLVTSCSearchCond *root);
};

// The grammar's actions. Each takes its operands out of the live lists and
// puts its result in; a builder that throws leaves the operands where they
// were.
void SQLSCBuildRoot(SQLVTSCSearchCond *root);
SQLVTSCSearchCond *SQLSCBuildAnd(SQLVTSCSearchCond *left, SQLVTSCSearchCond *right);
SQLVTSCSearchCond *SQLSCBuildOr(SQLVTSCSearchCond *left, SQLVTSCSearchCond *right);
// op: a comparison operator code 0 to 5.
SQLVTSCSearchCond *SQLSCBuildComparison(SQLVTSCValueExpr *left, int op, SQLVTSCValueExpr *right);
// op: one of + - & * / \ .
SQLVTSCValueExpr *SQLSCBuildArith(char op, SQLVTSCValueExpr *left, SQLVTSCValueExpr *right);
// QR002 when the table has no such column.
SQLVTSCValueExpr *SQLSCBuildColumn(char const *name);
// digits: the literal without its sign. QR001 when it is outside the 32-bit
// signed range (before the sign is applied).
SQLVTSCValueExpr *SQLSCBuildInteger(char const *digits, bool negative);
// QR001 when the conversion overflows or underflows.
SQLVTSCValueExpr *SQLSCBuildReal(char const *text, bool negative);
// token: the literal with its quotes.
SQLVTSCValueExpr *SQLSCBuildString(char const *token);
