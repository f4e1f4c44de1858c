#include "sql/validate/vtsc_refers.h"

#include "sql/common/sql_logger.h"
#include "sql/validate/vtsc_support.h"

char const *SQLUnrefModeWord(SQLUnrefMode mode) {
  static char const *const kWords[] = {"None", "Skip", "Clear", "ClearUnref", "SetUnref", "Auto"};
  if (mode < SQL_UNREF_NONE || mode > SQL_UNREF_AUTO) return "?";
  return kWords[mode];
}

pSQLVTSCIdentifierDelArray::~pSQLVTSCIdentifierDelArray() {
  for (int i = 0; i < NrElements(); ++i) delete Get(i);
}

void pSQLVTSCIdentifierDelArray::Log() const {
  bool tracing = SQLVTTracing();
  for (int i = 0; i < NrElements(); ++i) {
    if (i > 0 && tracing) *SQLLogger::Instance() << ", ";
    Get(i)->Log();
  }
}

SQLVTSCRefers::SQLVTSCRefers(SQLVTSCRowValueConstr *from, SQLVTSCIdentifier *fromForeignKey, SQLVTSCIdentifier *to,
                             pSQLVTSCIdentifierDelArray *path, SQLUnrefMode unrefMode)
    : from_(from), fromForeignKey_(fromForeignKey), path_(path), to_(to), unrefMode_(unrefMode) {}

void SQLVTSCRefers::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "Refers(from: ";
  if (from_) from_->Log();
  if (tracing) log << ", fromForeignKey: ";
  if (fromForeignKey_) fromForeignKey_->Log();
  if (tracing) log << ", to: ";
  to_->Log();
  if (tracing) log << ", path: ";
  if (path_) path_->Log();
  if (tracing) log << ", unrefMode: " << SQLUnrefModeWord(unrefMode_) << ")";
}

SQLVTSCSearchCond *SQLVTSCRefers::PruneRefers(DynamicArray<SQLVTSCRefers *> *refers) {
  refers->Insert(this);
  return nullptr;
}
