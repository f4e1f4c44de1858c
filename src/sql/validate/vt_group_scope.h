// SQLVTGroupScopeLevel: a grouped query as a scope level, over the level of
// the query below the group (its FROM tables).
//
// Until the group is definitive (it has GROUP BY, or a set function has been
// seen), column references pass through unchanged, and the last one is
// remembered: a set function that comes later makes the query grouped, and
// the remembered reference is then refused as not grouping. Once the group
// is definitive, a column must be a grouping column and resolves to the
// group's output position for it; set functions resolve to the output
// position of their group specification.
//
// The level is written over the group node's type, which offers
// IsGroupCol(int), FindOrAddGroupSpec(SQLVTGroupSpec const&), IsDefinitive()
// and SetDefinitive(bool) beside SQLVTNode's GetNumCols and
// GetColumnDescriptor; SQLVTGroupScopeLevel is its instance for SQLVTGroup.
#pragma once

#include <memory>
#include <vector>

#include "sql/common/sql_abort.h"
#include "sql/validate/group_spec.h"
#include "sql/validate/vt_scope_level.h"
#include "sql/validate/vt_state.h"

class SQLVTGroup;

// The refusal of a column that is not grouped; text is "[q.]name".
inline SQLExSyntaxError SQLVTNotGroupingColumn(SQLString const &text, int line) {
  return SQLExSyntaxError(vtstate::kNotGroupingColumn,
                          SQLString("Column '") + text + SQLString("' is not a grouping column"), line);
}

template <class Group>
class SQLVTGroupScopeLevelOf : public SQLVTScopeLevel {
 public:
  // Takes ownership of inner (also when construction fails); the group
  // stays the tree's.
  SQLVTGroupScopeLevelOf(Group *group, SQLVTScopeLevel *inner) : inner_(inner), group_(group) {
    map_.assign(static_cast<size_t>(inner_->GetNumCols()), -1);
    numCols_ = group_->IsDefinitive() ? group_->GetNumCols() : inner_->GetNumCols();
  }

  bool GetColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override {
    if (!inner_->GetColumnInfo(q, name, info)) return false;
    if (!group_->IsDefinitive()) {
      remembered_ = std::make_unique<SQLString>(SQLVTColumnText(q, name));
      return true;
    }
    if (info->kind == SQLVTColumnInfo::PseudoColumn) {
      for (int i = 0; i < info->count; ++i) info->positions[i] = MapGroupingColumn(info->positions[i], q, name);
    } else {
      info->position = MapGroupingColumn(info->position, q, name);
      info->descriptor = group_->GetColumnDescriptor(info->position);
    }
    if (info->nullSpec == SQL_NULLSPEC_CLEAR_UNREF) info->nullSpec = SQL_NULLSPEC_CLEAR;
    numCols_ = group_->GetNumCols();
    return true;
  }

  bool GetGroupedTableColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override {
    if (!inner_->GetColumnInfo(q, name, info)) return false;
    if (info->kind == SQLVTColumnInfo::PseudoColumn) {
      throw SQLExSyntaxError(vtstate::kAggregateOnCombined,
                             SQLString("Aggregate function on combined column '") + SQLVTColumnText(q, name) +
                                 SQLString("'"),
                             0);
    }
    if (remembered_) throw SQLVTNotGroupingColumn(*remembered_, 0);
    MakeDefinitive();
    return true;
  }

  void GetAggregateInfo(RefPtr<SQLVTSCValueExpr> argument, SQLSetFuncSpec function,
                        SQLVTColumnInfo *info) override {
    int position = group_->FindOrAddGroupSpec(SQLVTGroupSpec::Function(function, argument));
    *info = SQLVTColumnInfo();
    info->kind = SQLVTColumnInfo::Column;
    info->position = position;
    info->descriptor = group_->GetColumnDescriptor(position);
    info->nullSpec = SQL_NULLSPEC_CLEAR;
    if (remembered_) throw SQLVTNotGroupingColumn(*remembered_, argument ? argument->GetLineNumber() : 0);
    MakeDefinitive();
  }

  bool GetPseudoColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override {
    if (!inner_->GetPseudoColumnInfo(q, name, info)) return false;
    for (int i = 0; i < info->count; ++i) {
      int inner = info->positions[i];
      int mapped = inner >= 0 && inner < static_cast<int>(map_.size()) ? map_[static_cast<size_t>(inner)] : -1;
      if (mapped == -1) return false;
      info->positions[i] = mapped;
    }
    if (info->nullSpec == SQL_NULLSPEC_CLEAR_UNREF) info->nullSpec = SQL_NULLSPEC_CLEAR;
    return true;
  }

  SQLColumnDescriptor const *GetColumnDescriptor(int position) override {
    return group_->GetColumnDescriptor(position);
  }
  int GetNumCols() override { return numCols_; }
  int GetNumTables() override { return inner_->GetNumTables(); }

  bool GetTableInfo(char const *name, SQLVTTableInfo *info) override {
    if (!inner_->GetTableInfo(name, info)) return false;
    info->grouped = 1;
    if (info->nullSpec == SQL_NULLSPEC_CLEAR_UNREF) info->nullSpec = SQL_NULLSPEC_CLEAR;
    return true;
  }
  void GetTableInfoByPos(int position, SQLVTTableInfo *info) override {
    inner_->GetTableInfoByPos(position, info);
    info->grouped = 1;
  }

  void GetColumnInfoByPos(int, SQLVTColumnInfo *) override {
    SQLAbort(__FILE__, __LINE__, "SQLVTGroupScopeLevel::GetColumnInfoByPos() called");
  }
  void GetColumnNullSpec(int, SQLVTNullSpec *, RefPtr<SQLVTClearUnrefKey> *) override {
    SQLAbort(__FILE__, __LINE__, "SQLVTGroupScopeLevel::GetColumnNullSpec() called");
  }

 private:
  // The group's output position of a grouping column of the inner level;
  // 42I19 for a column that is not grouped.
  int MapGroupingColumn(int inner, char const *q, char const *name) {
    if (!group_->IsGroupCol(inner)) throw SQLVTNotGroupingColumn(SQLVTColumnText(q, name), 0);
    int position = group_->FindOrAddGroupSpec(SQLVTGroupSpec::Column(inner));
    if (inner >= 0 && inner < static_cast<int>(map_.size())) map_[static_cast<size_t>(inner)] = position;
    return position;
  }

  void MakeDefinitive() {
    numCols_ = group_->GetNumCols();
    group_->SetDefinitive(true);
  }

  std::unique_ptr<SQLVTScopeLevel> inner_;
  Group *group_;                          // not owned
  std::vector<int> map_;                  // inner position -> group position, -1 none
  int numCols_;                           // the group's once definitive, else the inner level's
  std::unique_ptr<SQLString> remembered_;  // last reference seen before the group was definitive
};

using SQLVTGroupScopeLevel = SQLVTGroupScopeLevelOf<SQLVTGroup>;
