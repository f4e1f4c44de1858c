// The value a symbol of the SQL grammar carries: one pointer-sized cell
// holding a token text, a code, or an object the parse has built (which
// sits on the parse's object stack until a parent takes it).
#pragma once

#include "sql/common/list.h"
#include "sql/validate/vtsc_identifier.h"

class SQLPTTable;
class SQLPTTableReference;
class SQLVTHints;
class SQLVTMultiJoin;
class SQLVTNode;
class SQLVTSCGenericRowValueConstr;
class SQLVTSCIntegerConst;
class SQLVTSCRowValueConstr;
class SQLVTSCSearchCond;
class SQLVTSCSimpleWhenClauseList;
class SQLVTSCStringConst;
class SQLVTSelectItem;
class SQLVTSelectList;
class SQLVTSetClause;
class SQLVTSetClauseList;
class SQLVTSortSpec;
class SQLVTSortSpecList;
class pSQLVTSCIdentifierDelArray;

union SQLParseValue {
  char *text;    // token text (a copy the parse keeps for a few tokens)
  long number;   // a code, flag or count
  SQLVTNode *node;
  SQLVTSCValueExpr *expr;
  SQLVTSCSearchCond *cond;
  SQLVTSCRowValueConstr *row;
  SQLVTSCGenericRowValueConstr *genericRow;
  SQLVTSCIdentifier *ident;
  SQLVTSCIdentifier::String *string;
  SQLVTSCIntegerConst *integer;
  SQLVTSCStringConst *stringConst;
  SQLVTSelectList *selectList;
  SQLVTSelectItem *selectItem;
  SQLVTMultiJoin *join;
  SQLPTTableReference *tableRef;
  SQLPTTable *table;
  SQLVTSortSpecList *sortList;
  SQLVTSortSpec *sortSpec;
  SQLVTHints *hints;
  SQLVTSetClauseList *setList;
  SQLVTSetClause *setClause;
  pSQLVTSCIdentifierDelArray *identList;
  SQLVTSCSimpleWhenClauseList *whenList;
  List<int> *numbers;
};

static_assert(sizeof(SQLParseValue) == sizeof(void *), "a parse value is one pointer wide");
