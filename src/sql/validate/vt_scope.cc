#include "sql/validate/vt_scope.h"

SQLVTScope::~SQLVTScope() = default;

void SQLVTScope::Push(SQLVTScopeLevel *level) {
  std::unique_ptr<SQLVTScopeLevel> owned(level);
  levels_.push_back(std::move(owned));
}

SQLVTScopeLevel *SQLVTScope::Pop() {
  if (levels_.empty()) return nullptr;
  SQLVTScopeLevel *level = levels_.back().release();
  levels_.pop_back();
  return level;
}

bool SQLVTScope::LookUp(char const *q, char const *column, SQLVTColumnInfo *info, bool inSetFunction) {
  int top = GetNumLevels() - 1;
  for (int i = top; i >= 0; --i) {
    SQLVTScopeLevel *level = levels_[static_cast<size_t>(i)].get();
    bool found = inSetFunction ? level->GetGroupedTableColumnInfo(q, column, info)
                               : level->GetColumnInfo(q, column, info);
    if (found) {
      info->levelOffset = i - top;
      return true;
    }
  }
  return false;
}

bool SQLVTScope::GetColumnInfo(char const *q, char const *column, char const *wholeText,
                               SQLVTColumnInfo *info, bool inSetFunction) {
  if (LookUp(q, column, info, inSetFunction)) return true;
  return wholeText != nullptr && LookUp(nullptr, wholeText, info, inSetFunction);
}

bool SQLVTScope::GetTableInfo(char const *name, SQLVTTableInfo *info) {
  int top = GetNumLevels() - 1;
  for (int i = top; i >= 0; --i) {
    if (levels_[static_cast<size_t>(i)]->GetTableInfo(name, info)) {
      info->levelOffset = i - top;
      return true;
    }
  }
  return false;
}

SQLVTSCCompnrSet const *SQLVTScope::GetCompnrSetForQualif(char const *q, bool ansiName, int *levelOffset) {
  int top = GetNumLevels() - 1;
  for (int i = top; i >= 0; --i) {
    SQLVTSCCompnrSet const *set = levels_[static_cast<size_t>(i)]->GetCompnrSetForQualif(q, ansiName);
    if (set) {
      *levelOffset = i - top;
      return set;
    }
  }
  return nullptr;
}

void SQLVTScope::GetAggregateInfo(RefPtr<SQLVTSCValueExpr> argument, SQLSetFuncSpec function,
                                  SQLVTColumnInfo *info) {
  Top()->GetAggregateInfo(argument, function, info);
  info->levelOffset = 0;
}

SQLColumnDescriptor const *SQLVTScope::GetColumnDescriptor(int levelOffset, int position) {
  size_t index = static_cast<size_t>(GetNumLevels() - 1 + levelOffset);
  return levels_.at(index)->GetColumnDescriptor(position);
}
