#include "sql/validate/vt_union.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "sql/common/sql_logger.h"
#include "sql/exec/rs_union.h"
#include "sql/validate/vt_column_scope.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vtsc_compnr.h"
#include "sql/validate/vt_hints.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vtsc_support.h"

SQLVTUnion::SQLVTUnion(SQLVTNode *left, SQLVTNode *right, bool all) : left_(left), right_(right), all_(all) {}

SQLVTUnion::~SQLVTUnion() = default;

SQLVTRetryFilter *SQLVTUnion::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLVTThrow("42I74", "A RETRY clause cannot be used in a UNION query", GetLineNumber());
}

SQLRowSource *SQLVTUnion::DoCreateRS() {
  std::unique_ptr<SQLRowSource> left(left_->CreateRS());
  std::unique_ptr<SQLRowSource> right(right_->CreateRS());
  return new SQLRSUnion(left.release(), right.release(), all_);
}

SQLColumnDescriptor const *SQLVTUnion::GetColumnDescriptor(int column) const {
  if (column < 0 || static_cast<size_t>(column) >= descriptors_.size()) {
    SQLVTNotYetResolving("SQLVTUnion::GetColumnDescriptor before name resolution");
  }
  return descriptors_[static_cast<size_t>(column)].get();
}

void SQLVTUnion::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "VTUnion(" << endl << incind << "All: " << all_ << endl;
  if (tracing && GetHints() != nullptr) GetHints()->Log();
  SQLVTLogChild("LeftChild:", left_.get());
  SQLVTLogChild("RightChild:", right_.get());
  if (tracing) log << decind << ")" << endl;
}

SQLVTNode *SQLVTUnion::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                           List<char const *> *restrictedQualifiers,
                                           SQLVTWhereUsedMgr *whereUsed) {
  SQLVTNode *left = left_->MapColumnNamesToIds(scope, treeData, flags, restrictedQualifiers, whereUsed);
  if (left != left_.get()) {
    static_cast<void>(left_.release());
    left_.reset(left);
  }
  std::unique_ptr<SQLVTScopeLevel> leftLevel(scope->Pop());
  SQLVTNode *right = right_->MapColumnNamesToIds(scope, treeData, flags, restrictedQualifiers, whereUsed);
  if (right != right_.get()) {
    static_cast<void>(right_.release());
    right_.reset(right);
  }
  std::unique_ptr<SQLVTScopeLevel> rightLevel(scope->Pop());
  if (left_->GetNumCols() != right_->GetNumCols()) {
    SQLVTThrow("42I71", "Queries in UNION have different number of result columns", GetLineNumber());
  }
  MakeDescriptors();
  if (restrictedQualifiers != nullptr && restrictedQualifiers->NrElements() > 0) {
    bool ansi = (flags & 16) != 0;
    auto *l = const_cast<SQLVTSCCompnrSet *>(leftLevel->GetCompnrSetForQualif(nullptr, ansi));
    auto *r = const_cast<SQLVTSCCompnrSet *>(rightLevel->GetCompnrSetForQualif(nullptr, ansi));
    if (l != nullptr && r != nullptr) {
      l->IntersectWith(r);
      r->IntersectWith(l);
    }
  }
  auto columns = std::make_unique<DynamicArray<SQLVTExposedColumn>>(10);
  for (auto const &descriptor : descriptors_) {
    columns->Insert(SQLVTExposedColumn("", descriptor.get(), -1, nullptr, nullptr, SQL_NULLSPEC_NONE, {}, nullptr));
  }
  scope->Push(new SQLVTColumnScopeLevel(columns.release()));
  return this;
}

void SQLVTUnion::MakeDescriptors() {
  std::vector<std::unique_ptr<SQLColumnDescriptor>> made;
  int n = left_->GetNumCols();
  for (int i = 0; i < n; ++i) {
    SQLColumnDescriptor const *l = left_->GetColumnDescriptor(i);
    SQLColumnDescriptor const *r = right_->GetColumnDescriptor(i);
    SQLType type = l->GetType();
    if (l->GetType() != r->GetType()) {
      bool numbers = (l->GetType() == SQL_INTEGER || l->GetType() == SQL_REAL) &&
                     (r->GetType() == SQL_INTEGER || r->GetType() == SQL_REAL);
      if (!numbers) SQLVTThrow("42T21", "Incompatible types for UNION column " + std::to_string(i + 1), GetLineNumber());
      type = SQL_REAL;
    }
    if (l->GetDepth() != r->GetDepth()) {
      SQLVTThrow("42T22", "Incompatible array depth for UNION column " + std::to_string(i + 1), GetLineNumber());
    }
    bool sameName = l->GetName() != nullptr && r->GetName() != nullptr && std::strcmp(l->GetName(), r->GetName()) == 0;
    made.push_back(SQLColumnDescriptor::Named(sameName ? l->GetName() : "", type,
                                              SQLCommonLength(l->GetLength(), r->GetLength()), l->GetDepth()));
  }
  descriptors_ = std::move(made);
}

void SQLVTUnion::ValidateTypes() const {
  left_->ValidateTypes();
  right_->ValidateTypes();
}

void SQLVTUnion::ValidateArrayUsage() const {
  left_->ValidateArrayUsage();
  right_->ValidateArrayUsage();
}

void SQLVTUnion::SetIndexHintsOnTables(List<SQLVTIndexHint> *hints) {
  if (hints->NrElements() > 0) SQLVTThrow("42I76", "Index hint specified on UNION query", GetLineNumber());
}
