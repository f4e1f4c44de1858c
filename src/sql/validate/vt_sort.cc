#include "sql/validate/vt_sort.h"

#include <string>
#include <vector>

#include "sql/common/sql_abort.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/rs_sort.h"
#include "sql/validate/vt_retry_filter.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vtree_data.h"
#include "sql/validate/where_used.h"
#include "sql/validate/vtsc_support.h"

void SQLVTSortSpec::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "SortSpec(";
  if (column_) {
    column_->Log();
  } else {
    log << position_;
  }
  log << (order_ == SQL_SORT_DESC ? ", DESCENDING)" : ", ASCENDING)");
}

SQLVTSortSpecList::~SQLVTSortSpecList() {
  for (int i = specs_.NrElements() - 1; i >= 0; --i) delete specs_.Get(i);
}

void SQLVTSortSpecList::Append(SQLVTSortSpec *spec) {
  std::unique_ptr<SQLVTSortSpec> owned(spec);  // deleted when the append fails
  specs_.Insert(spec);
  owned.release();
}

SQLVTSort::SQLVTSort(SQLVTNode *child, SQLVTSortSpecList *specs)
    : SQLVTUnaryNode(child), specs_(specs), columns_(10) {}

SQLVTSort::~SQLVTSort() = default;

SQLVTRetryFilter *SQLVTSort::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTSort::BuildRetryFilter() called");
}

SQLRowSource *SQLVTSort::DoCreateRS() {
  std::unique_ptr<SQLRowSource> child(GetChild()->CreateRS());
  auto keys = std::make_unique<SQLSortSpecList>();
  for (int i = 0; i < columns_.NrElements(); ++i) keys->Append(columns_.Get(i));
  // The sort owns both once it is allocated, also when its constructor
  // throws; a failed allocation leaves them here.
  return new SQLRSSort(child.release(), keys.release());
}

void SQLVTSort::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "VTSort(" << endl << incind << "SortSpecs:" << endl << incind;
  if (specs_) {
    for (int i = 0; i < specs_->NrElements(); ++i) {
      specs_->Get(i)->Log();
      if (tracing) log << endl;
    }
    if (tracing && specs_->GetRetryClauseType() != SQL_RETRY_NONE) {
      log << "RetryClause: " << static_cast<int>(specs_->GetRetryClauseType()) << endl;
    }
  } else if (tracing) {
    for (int i = 0; i < columns_.NrElements(); ++i) {
      SQLSortSpec const &key = columns_.Get(i);
      log << "SortSpec(" << key.GetColumnId() << "," << (key.IsDescending() ? "DESCENDING" : "ASCENDING") << ")"
          << endl;
    }
  }
  if (tracing) log << decind;
  LogHintsAndChild("Child:");
  if (tracing) log << decind << ")" << endl;
}

void SQLVTSort::AddKey(int column, SQLVTSortOrder order, SQLRetrySpecList *retrySpecs) {
  columns_.Insert(SQLSortSpec(column, order));
  if (retrySpecs == nullptr) return;
  SQLRetrySpec spec;
  spec.position = column;
  spec.columnId = -1;
  spec.direction = order;
  retrySpecs->Append(spec);
}

SQLVTNode *SQLVTSort::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                          List<char const *> *restrictedQualifiers,
                                          SQLVTWhereUsedMgr *whereUsed) {
  ReplaceChild(GetChild()->MapColumnNamesToIds(scope, treeData, flags, restrictedQualifiers, whereUsed));
  columns_ = DynamicArray<SQLSortSpec>(10);
  SQLRetryClauseType retry = specs_->GetRetryClauseType();
  std::unique_ptr<SQLRetrySpecList> made;  // the retry columns, when this sort makes the list
  if (retry != SQL_RETRY_NONE) {
    if (GetChild()->IsGroupByQuery()) SQLVTThrow("42I75", "RETRY clause not allowed in grouped query", GetLineNumber());
    if (treeData->GetRetrySpecs() == nullptr) made = std::make_unique<SQLRetrySpecList>();
  }
  for (int i = 0; i < specs_->NrElements(); ++i) {
    SQLVTSortSpec *spec = specs_->Get(i);
    SQLVTSCIdentifier *name = spec->GetColumn();
    if (name == nullptr) {
      int k = spec->GetPosition();
      int n = scope->GetNumCols();
      if (k < 1 || k > n) {
        SQLVTThrow("42I22",
                   "The ORDER BY number " + std::to_string(k) + " is an invalid number. It must be between 1 and " +
                       std::to_string(n),
                   spec->GetLineNumber());
      }
      AddKey(k - 1, spec->GetOrder(), made.get());
      continue;
    }
    SQLVTColumnInfo info;
    if (!scope->GetColumnInfo(name, &info, false)) {
      SQLVTThrow("42I23", std::string("ORDER BY column '") + name->GetText() + "' is not in SELECT clause",
                 name->GetLineNumber());
    }
    if (info.kind == SQLVTColumnInfo::Column) {
      AddKey(info.position, spec->GetOrder(), made.get());
      if (whereUsed != nullptr && info.GetBaseTableName() != nullptr && info.descriptor != nullptr) {
        whereUsed->RegisterColumn(info.GetBaseTableName(), info.descriptor->GetName());
      }
    } else {
      std::vector<int> positions(info.positions, info.positions + info.count);
      for (int position : positions) AddKey(position, spec->GetOrder(), made.get());
      if (whereUsed != nullptr && info.GetBaseTableName() != nullptr && info.pseudoColumnName != nullptr) {
        whereUsed->RegisterColumn(info.GetBaseTableName(), info.pseudoColumnName);
      }
    }
  }
  if (retry != SQL_RETRY_NONE) {
    SQLRetrySpecList *specs = made ? made.get() : treeData->GetRetrySpecs();
    if (made) {
      for (bool more = specs->First(); more; more = specs->Next()) treeData->AttachRetryStorage(&specs->GetCurrent());
    }
    SQLVTRetryFilter *filter = GetChild()->BuildRetryFilter(retry, specs);
    treeData->SetRetryFilter(filter);
    if (made) treeData->SetRetrySpecs(made.release());
    treeData->SetRetryClauseType(retry);
  }
  specs_.reset();
  return this;
}

void SQLVTSort::ValidateArrayUsage() const {
  GetChild()->ValidateArrayUsage();
  for (int i = 0; i < columns_.NrElements(); ++i) {
    SQLColumnDescriptor const *descriptor = GetChild()->GetColumnDescriptor(columns_.Get(i).GetColumnId());
    if (descriptor != nullptr && descriptor->GetDepth() > 1) {
      throw SQLException("42I47", 302, SQLString("Order by on array column not allowed"));
    }
  }
}
