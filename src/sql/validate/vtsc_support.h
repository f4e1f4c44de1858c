// Helpers shared by the validated scalar expressions: errors, the trace
// test and operand resolution.
#pragma once

#include <cstddef>

#include <memory>
#include <string>

#include "sql/common/sql_exception.h"
#include "sql/common/sql_type.h"
#include "sql/validate/vt_value_expr.h"

// Throws SQLExSyntaxError with the state, the message and the node's line.
[[noreturn]] void SQLVTThrow(char const *state, std::string const &message, int line);
// "<prefix>. Type <name of asked> expected", the tail of every type conflict.
[[noreturn]] void SQLVTThrowTypeConflict(char const *state, std::string const &prefix, SQLType asked,
                                         int line);
// Copies n bytes from from to to in lower case. A byte 0x9B starts a 4-byte
// TSS character: it and the three bytes after it are copied unchanged.
void SQLVTLowerCase(unsigned char *to, unsigned char const *from, std::size_t n);
inline void SQLVTLowerCase(char *to, char const *from, std::size_t n) {
  SQLVTLowerCase(reinterpret_cast<unsigned char *>(to), reinterpret_cast<unsigned char const *>(from), n);
}
// TRUE when a trace flag is on (Log writes nothing otherwise).
bool SQLVTTracing();

// Resolves the operand in place. A node that replaces itself has deleted
// itself already; one that answers null (a node resolved before) stays.
// When resolution throws, the operand is left as it was, still owned here.
void SQLVTResolveOperand(std::unique_ptr<SQLVTSCValueExpr> *operand, SQLVTScope *scope,
                         SQLVTreeData *treeData, int flags, SQLVTWhereUsedMgr *whereUsed,
                         bool inExpression);
// Casts the operand in place, with the same ownership rule as Cast.
void SQLVTCastOperand(std::unique_ptr<SQLVTSCValueExpr> *operand, SQLType type, bool tolerant);
// TRUE when both are the same object or the same expression.
bool SQLVTSameOperand(SQLVTSCValueExpr const *a, SQLVTSCValueExpr const *b);

class SQLRowSource;
class SQLVTNode;

// The second tree of a subquery that may answer here (SQLRSLocalSubquery):
// the subquery's tree once more, but null inside another second tree, whose
// subqueries get none (each level of nesting would otherwise double the
// trees).
SQLRowSource *SQLVTCreateLocalRS(SQLVTNode *subquery);
