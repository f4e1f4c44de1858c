// SQLVTScope: the name-resolution stack of a statement.
//
// Every table expression that introduces names pushes a level while its own
// names are resolved and pops it afterwards; a subquery pushes its levels on
// top of those of the enclosing query, so a name its own levels do not know
// is looked up outward and becomes an outer reference. Lookups report the
// level that answered as an offset: 0 for the top, -1 for the next level
// down, and so on.
#pragma once

#include <memory>
#include <vector>

#include "sql/validate/vt_scope_level.h"

class SQLVTSCIdentifier;

class SQLVTScope {
 public:
  SQLVTScope() = default;
  SQLVTScope(SQLVTScope const &) = delete;
  SQLVTScope &operator=(SQLVTScope const &) = delete;
  // Deletes the levels still on the stack.
  ~SQLVTScope();

  // Takes ownership of level while it is on the stack; when the stack
  // cannot grow, the level is deleted and bad_alloc goes on. The stack has
  // no fixed depth: nesting is limited only by the parser.
  void Push(SQLVTScopeLevel *level);
  // The top level, handed back to the caller; null on an empty stack.
  SQLVTScopeLevel *Pop();
  int GetNumLevels() const { return static_cast<int>(levels_.size()); }

  // Looks a column up from the top level downward (GetGroupedTableColumnInfo
  // in the argument of a set function, else GetColumnInfo). When the name
  // was written as one string containing a dot (wholeText not null) and no
  // level knows qualifier and column, the whole text is tried as the name
  // of an unqualified column. FALSE when no level knows the name.
  bool GetColumnInfo(char const *q, char const *column, char const *wholeText, SQLVTColumnInfo *info,
                     bool inSetFunction);
  // The same for an identifier, which offers GetQualifier(), GetIdentifier()
  // (the column part), IsWholeName() and GetText() (the whole lower-case text).
  template <class Identifier = SQLVTSCIdentifier>
  bool GetColumnInfo(Identifier const *identifier, SQLVTColumnInfo *info, bool inSetFunction) {
    return GetColumnInfo(identifier->GetQualifier(), identifier->GetIdentifier(),
                         identifier->IsWholeName() ? nullptr : identifier->GetText(), info,
                         inSetFunction);
  }

  // The first level from the top that knows the table.
  bool GetTableInfo(char const *name, SQLVTTableInfo *info);
  // The first level from the top that gives a set; *levelOffset is its offset.
  SQLVTSCCompnrSet const *GetCompnrSetForQualif(char const *q, bool ansiName, int *levelOffset);
  // The top level's aggregate column; level offset 0.
  void GetAggregateInfo(RefPtr<SQLVTSCValueExpr> argument, SQLSetFuncSpec function, SQLVTColumnInfo *info);
  // REQUIRES: levelOffset <= 0 and within the stack.
  SQLColumnDescriptor const *GetColumnDescriptor(int levelOffset, int position);

  // Forwarded to the top level. REQUIRES: a level on the stack.
  void GetColumnInfoByPos(int position, SQLVTColumnInfo *info) { Top()->GetColumnInfoByPos(position, info); }
  void GetColumnNullSpec(int position, SQLVTNullSpec *nullSpec, RefPtr<SQLVTClearUnrefKey> *key) {
    Top()->GetColumnNullSpec(position, nullSpec, key);
  }
  int GetNumCols() { return Top()->GetNumCols(); }
  int GetNumTables() { return Top()->GetNumTables(); }
  void GetTableInfoByPos(int position, SQLVTTableInfo *info) { Top()->GetTableInfoByPos(position, info); }
  // TRUE when the top level exposes no tables (a select list).
  bool TopLevelIsColumnScopeLevel() { return Top()->GetNumTables() <= 0; }

 private:
  SQLVTScopeLevel *Top() const { return levels_.back().get(); }
  bool LookUp(char const *q, char const *column, SQLVTColumnInfo *info, bool inSetFunction);

  std::vector<std::unique_ptr<SQLVTScopeLevel>> levels_;  // [0] the outermost
};
