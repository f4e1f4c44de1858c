#include "sql/validate/vt_pair_scope.h"

#include <cstring>

SQLVTPairScopeLevel::SQLVTPairScopeLevel(SQLVTScopeLevel *left, SQLVTScopeLevel *right)
    : left_(left),
      right_(right),
      leftCols_(left->GetNumCols()),
      rightCols_(right->GetNumCols()),
      leftTables_(left->GetNumTables()),
      rightTables_(right->GetNumTables()) {}

SQLVTPairScopeLevel::~SQLVTPairScopeLevel() = default;

void SQLVTPairScopeLevel::ShiftRight(SQLVTColumnInfo *info) const {
  if (info->kind == SQLVTColumnInfo::PseudoColumn) {
    for (int i = 0; i < info->count; ++i) info->positions[i] += leftCols_;
  } else {
    info->position += leftCols_;
  }
}

// The right side is asked into a record of its own, so that a lookup that
// fails there cannot spoil what the left side found.
bool SQLVTPairScopeLevel::GetColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) {
  bool onLeft = left_->GetColumnInfo(q, name, info);
  SQLVTColumnInfo right;
  if (!right_->GetColumnInfo(q, name, &right)) return onLeft;
  if (onLeft) throw SQLVTAmbiguousColumn(q, name);
  *info = right;
  ShiftRight(info);
  return true;
}

namespace {

bool QualifiedBy(SQLVTColumnInfo const &info, char const *q) {
  return q && info.correlationName && std::strcmp(info.correlationName, q) == 0;
}

}  // namespace

bool SQLVTPairScopeLevel::GetPseudoColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) {
  bool onLeft = left_->GetPseudoColumnInfo(q, name, info);
  if (onLeft && QualifiedBy(*info, q)) return true;
  SQLVTColumnInfo right;
  if (!right_->GetPseudoColumnInfo(q, name, &right)) return onLeft;
  if (onLeft && !QualifiedBy(right, q)) throw SQLVTAmbiguousColumn(nullptr, name);
  *info = right;
  ShiftRight(info);
  return true;
}

bool SQLVTPairScopeLevel::GetGroupedTableColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) {
  left_->GetGroupedTableColumnInfo(q, name, info);
  right_->GetGroupedTableColumnInfo(q, name, info);
  return false;
}

SQLColumnDescriptor const *SQLVTPairScopeLevel::GetColumnDescriptor(int position) {
  if (position < leftCols_) return left_->GetColumnDescriptor(position);
  return right_->GetColumnDescriptor(position - leftCols_);
}

void SQLVTPairScopeLevel::GetColumnInfoByPos(int position, SQLVTColumnInfo *info) {
  if (position < leftCols_) {
    left_->GetColumnInfoByPos(position, info);
  } else {
    right_->GetColumnInfoByPos(position - leftCols_, info);
    info->position += leftCols_;
  }
}

void SQLVTPairScopeLevel::GetColumnNullSpec(int position, SQLVTNullSpec *nullSpec,
                                            RefPtr<SQLVTClearUnrefKey> *key) {
  if (position < leftCols_) {
    left_->GetColumnNullSpec(position, nullSpec, key);
  } else {
    right_->GetColumnNullSpec(position - leftCols_, nullSpec, key);
  }
}

bool SQLVTPairScopeLevel::GetTableInfo(char const *name, SQLVTTableInfo *info) {
  if (left_->GetTableInfo(name, info)) return true;
  if (!right_->GetTableInfo(name, info)) return false;
  info->columnOffset += leftCols_;
  return true;
}

void SQLVTPairScopeLevel::GetTableInfoByPos(int position, SQLVTTableInfo *info) {
  if (position < leftTables_) {
    left_->GetTableInfoByPos(position, info);
  } else {
    right_->GetTableInfoByPos(position - leftTables_, info);
    info->columnOffset += leftCols_;
  }
}
