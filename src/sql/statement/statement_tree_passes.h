// The two steps of preparing and executing a statement that act on node
// kinds of the validated tree beyond the SQLVTNode interface: the
// company-number passes over the statement's base tables, and the switch of
// the filter of a RETRY clause.
#pragma once

class SQLVTRetryFilter;
class SQLVTreeData;

// Simplifies the company-number set of every base table of the statement
// and, in ANSI parse mode, checks that either all or none restrict
// _compnr. Throws SQLExSyntaxError "42I89" on a conflict.
void SQLStatementCompnrPasses(SQLVTreeData *treeData, bool ansi);

// Switches the filter of a RETRY clause on for an execution from a retry
// point and off for a plain one, before an execution tree is built.
void SQLStatementActivateRetryFilter(SQLVTRetryFilter *filter, bool active);
