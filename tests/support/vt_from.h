// Resolving the FROM clause of a parsed statement alone, for tests of the
// join tree while the rest of the statement stays unresolved.
#pragma once

#include <memory>

class SQLVTNode;
class SQLVTScope;
class SQLVTreeData;
class SQLVTWhereUsedMgr;

namespace molvane::test {

// Takes the FROM clause out of the parsed statement (the first FROM node
// below its chain of one-child nodes), resolves it on scope with flags and
// returns the join tree it became. The statement keeps the rest. Throws
// std::logic_error when the statement has no FROM clause there.
std::unique_ptr<SQLVTNode> ResolveFromClause(SQLVTNode *statement, SQLVTreeData *treeData, SQLVTScope *scope,
                                             int flags, SQLVTWhereUsedMgr *whereUsed = nullptr);

}  // namespace molvane::test
