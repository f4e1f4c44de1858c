#include "sql/validate/vt_multi_join.h"

#include <cstring>
#include <string>

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/validate/vt_hints.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vt_state.h"
#include "sql/validate/vt_table.h"
#include "sql/validate/vtsc_compnr.h"
#include "sql/validate/vtsc_refers.h"
#include "sql/validate/vtsc_support.h"

SQLVTMultiJoin::SQLVTMultiJoin() : references_(10) {}

SQLVTMultiJoin::~SQLVTMultiJoin() {
  for (int i = references_.NrElements() - 1; i >= 0; --i) delete references_.Get(i);
}

int SQLVTMultiJoin::AddTableReference(SQLPTTableReference *reference, bool dropIdenticalRepeat) {
  std::unique_ptr<SQLPTTableReference> owned(reference);
  if (firstDuplicate_ == nullptr) {
    SQLPTTable *duplicate = reference->FindFirstExposedTableAlsoIn(this);
    if (duplicate == nullptr) duplicate = reference->GetFirstDuplicateTable();
    if (duplicate != nullptr && dropIdenticalRepeat && reference->IsTableName()) {
      SQLPTTable *table = reference->AsTable();
      for (int i = 0; i < references_.NrElements(); ++i) {
        SQLPTTableReference *other = references_.Get(i);
        if (!other->IsTableName()) continue;
        SQLPTTable *t = other->AsTable();
        if (std::strcmp(t->GetCorrelationName(), table->GetCorrelationName()) == 0 &&
            std::strcmp(t->GetBaseName(), table->GetBaseName()) == 0) {
          return -1;  // the repeat is deleted with owned
        }
      }
    }
    firstDuplicate_ = duplicate;
  }
  if (forUpdate_) reference->SetForUpdate(true);
  nextColumnOffset_ = reference->SetColumnIdOffset(nextColumnOffset_);
  references_.Insert(reference);
  owned.release();
  return references_.NrElements() - 1;
}

bool SQLVTMultiJoin::HasOnlyBaseTables() const {
  for (int i = 0; i < references_.NrElements(); ++i) {
    if (!references_.Get(i)->IsTableName()) return false;
  }
  return true;
}

void SQLVTMultiJoin::SetReferences(DynamicArray<SQLVTSCRefers *> *refers) { refers_.reset(refers); }

void SQLVTMultiJoin::SetCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *specs) { compnrSpecs_.reset(specs); }

void SQLVTMultiJoin::MarkTablesForUpdate() {
  for (IterStartExposed(); !IterAtEnd(); IterToNext()) IterGetTable()->SetForUpdate(true);
  forUpdate_ = true;
}

void SQLVTMultiJoin::IterStart(bool exposedOnly) {
  iterExposedOnly_ = exposedOnly;
  iterIndex_ = 0;
  if (!IterAtEnd()) references_.Get(0)->IterStart(exposedOnly);
  IterSkipEmpty();
}

void SQLVTMultiJoin::IterSkipEmpty() {
  while (!IterAtEnd() && references_.Get(iterIndex_)->IterAtEnd()) {
    ++iterIndex_;
    if (!IterAtEnd()) references_.Get(iterIndex_)->IterStart(iterExposedOnly_);
  }
}

void SQLVTMultiJoin::IterToNext() {
  if (IterAtEnd()) return;
  references_.Get(iterIndex_)->IterToNext();
  IterSkipEmpty();
}

int SQLVTMultiJoin::GetNumTables() {
  int n = 0;
  for (IterStartAll(); !IterAtEnd(); IterToNext()) ++n;
  return n;
}

bool SQLVTMultiJoin::ExposedTableExists(char const *name) {
  bool found = false;
  for (IterStartExposed(); !IterAtEnd(); IterToNext()) {
    if (std::strcmp(IterGetTable()->GetCorrelationName(), name) == 0) found = true;
  }
  return found;
}

SQLVTRetryFilter *SQLVTMultiJoin::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTMultiJoin::BuildRetryFilter() called");
}

bool SQLVTMultiJoin::IsForUpdate() {
  bool forUpdate = forUpdate_;
  for (IterStartAll(); !IterAtEnd(); IterToNext()) {
    if (IterGetTable()->IsForUpdate()) forUpdate = true;
  }
  return forUpdate;
}

void SQLVTMultiJoin::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "VTMultiJoin(" << endl << incind << "ForUpdate: " << forUpdate_ << endl;
  if (tracing) log << "TableReferences:" << endl << incind;
  for (int i = 0; i < references_.NrElements(); ++i) references_.Get(i)->Log();
  if (tracing) log << decind;
  SQLVTLogCompnrSpecs(compnrSpecs_.get());
  if (refers_ && refers_->NrElements() > 0) {
    if (tracing) log << "References:" << endl << incind;
    for (int i = 0; i < refers_->NrElements(); ++i) {
      refers_->Get(i)->Log();
      if (tracing) log << endl;
    }
    if (tracing) log << decind;
  }
  if (tracing && GetHints() != nullptr) GetHints()->Log();
  if (tracing) log << decind << ")" << endl;
}

void SQLVTMultiJoin::SetIndexHintsOnTables(List<SQLVTIndexHint> *hints) {
  for (bool more = hints->First(); more; more = hints->Next()) {
    SQLVTIndexHint &hint = hints->GetCurrent();
    char const *name = hint.GetTable()->GetText();
    SQLVTTable *target = nullptr;
    for (IterStartExposed(); !IterAtEnd(); IterToNext()) {
      SQLPTTable *table = IterGetTable();
      if (target == nullptr && table->IsTableName() && table->GetTable() != nullptr &&
          std::strcmp(table->GetCorrelationName(), name) == 0) {
        target = table->GetTable();
      }
    }
    if (target == nullptr) {
      SQLVTThrow(vtstate::kUnknownTable, std::string("Unknown table '") + name + "'", hint.GetTable()->GetLineNumber());
    }
    target->SetIndexHints(hint.ExtractIndexHints());
  }
}
