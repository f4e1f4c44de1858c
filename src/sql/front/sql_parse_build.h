// The statement builders of the grammar's actions: SELECT, DELETE and UPDATE
// statements, query specifications, and the predicates over a row value
// that must hold one value. Every builder takes ownership of the objects it
// is given, also when it throws (it deletes them then).
#pragma once

#include "sql/validate/vtsc_comparison.h"

class SQLVTHints;
class SQLVTMultiJoin;
class SQLVTNode;
class SQLVTSCRowValueConstr;
class SQLVTSCSearchCond;
class SQLVTSCValueExpr;
class SQLVTSelectList;
class SQLVTSetClauseList;
class SQLVTSortSpecList;
class SQLVTTable;
class SQLVTreeData;
class pSQLVTSCIdentifierDelArray;

// query, then SQLVTSort (with a sort list), SQLVTPrepare (prepared) and
// SQLVTClearUnref (mode bit 0x04) above it; the hints record's index hints
// go to the tables and its other hints to the top node.
SQLVTNode *SQLParseBuildSelect(SQLVTNode *query, SQLVTSortSpecList *sort, bool prepared, SQLVTHints *hints,
                               int mode);
// The index hints of a HINT or SUBHINT record go to the tables below node,
// its other hints to node; the record (taken over) is deleted.
void SQLParseApplyHints(SQLVTNode *node, SQLVTHints *hints);
// The WHERE condition's company-number restrictions go to the node;
// REFERS TO in it: 42I61 (DELETE), 42I62 (UPDATE).
SQLVTNode *SQLParseBuildDelete(SQLVTTable *table, SQLVTSCSearchCond *condition);
SQLVTNode *SQLParseBuildUpdate(SQLVTTable *table, SQLVTSetClauseList *setClauses, SQLVTSCSearchCond *condition);
// A query specification: FROM join (created empty when null, and filled
// from the select list and REFERS TO with mode bit 0x02), WHERE filter,
// company IN-list union, group, HAVING filter and projection.
SQLVTNode *SQLParseBuildQuerySpec(bool forUpdate, SQLVTSelectList *selectList, SQLVTMultiJoin *from,
                                  SQLVTSCSearchCond *where, pSQLVTSCIdentifierDelArray *groupBy,
                                  SQLVTSCSearchCond *having, SQLVTHints *subhints, int mode,
                                  SQLVTreeData *treeData, int subqueryLevel);

// The left row must hold one value (42I26 for IN, 42I08 for LIKE, 42I81 for
// IS NULL); negated wraps the predicate in NOT.
SQLVTSCSearchCond *SQLParseBuildInSubquery(SQLVTSCRowValueConstr *row, SQLVTNode *query, bool negated);
SQLVTSCSearchCond *SQLParseBuildInSet(SQLVTSCRowValueConstr *row, SQLVTSCRowValueConstr *list, bool negated);
SQLVTSCSearchCond *SQLParseBuildLike(SQLVTSCRowValueConstr *row, SQLVTSCValueExpr *pattern,
                                     SQLVTSCValueExpr *escape, bool negated, bool ansi);
SQLVTSCSearchCond *SQLParseBuildIsNull(SQLVTSCRowValueConstr *row, bool negated);
// row operator (scalar subquery).
SQLVTSCSearchCond *SQLParseBuildSubqueryComparison(SQLVTSCRowValueConstr *row, SQLVTSCCompOperator op,
                                                   SQLVTNode *query);
// column(first), column(first; length), column(first, second[; length]).
SQLVTSCValueExpr *SQLParseBuildIndexing(SQLVTSCValueExpr *column, SQLVTSCValueExpr *first,
                                        SQLVTSCValueExpr *second, SQLVTSCValueExpr *length);
// TRUE and the keyword's value when name is "domain.keyword" of an
// enumeration domain of the dictionary.
bool SQLGetEnumValue(char const *name, long *value);
