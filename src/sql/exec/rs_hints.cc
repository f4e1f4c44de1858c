#include "sql/exec/rs_hints.h"

#include <cstring>

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/visitor.h"
#include "sql/validate/vt_node.h"

namespace {

[[noreturn]] void Unexpected(char const *operation) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message SQLRSHints::%s", operation);
}

// The library applies hints as soon as it is loaded.
struct InstallAtLoad {
  InstallAtLoad() { SQLRSInstallHintsWrapper(); }
} g_installAtLoad;

}  // namespace

SQLRSHints::SQLRSHints(SQLRowSource *child, SQLHints const *hints)
    : hints_(hints ? *hints : SQLHints()), child_(child) {}

SQLRSHints::~SQLRSHints() = default;

SQLRowSource *SQLRSHints::Wrap(SQLRowSource *child, SQLHints const *hints) { return new SQLRSHints(child, hints); }

void SQLRSInstallHintsWrapper() { SQLVTNode::SetHintsWrapper(&SQLRSHints::Wrap); }

SQLHints SQLRSHints::Effective(SQLHints const &own, SQLHints const *outer) {
  if (outer == nullptr) return own;
  SQLHints effective = *outer;
  if (own.GetOrdered()) effective.SetOrdered();
  SQLHintsRowMode mode;
  if (own.GetRowMode(&mode)) effective.SetRowMode(mode);
  if (own.GetNoHints()) effective.SetNoHints();
  char const *text;
  if (own.GetString(&text)) effective.SetString(text);
  return effective;
}

// ---- forwarded to the child ----

void SQLRSHints::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  child_->GetColumnRefs(level, type, refs);
}

bool SQLRSHints::RejectsAllOnNullifiedCols(int level, List<Interval<int>> *columns) {
  return child_->RejectsAllOnNullifiedCols(level, columns);
}

void SQLRSHints::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  child_->CRefs2ParameterRefs(level, columns, parameters);
}

bool SQLRSHints::RowSetIsPrepared() { return child_->RowSetIsPrepared(); }

SQLRowSource *SQLRSHints::CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                                      List<SQLRSSCSearchCond const *> *filters, bool *combinable) {
  std::unique_ptr<SQLRSHints> self(this);
  child_.reset(child_.release()->CombineJoin(instance, tableCount, filters, combinable));
  return self.release();
}

SQLRowSource *SQLRSHints::OptimizeTree(SQLHints *hints, List<SQLRSSCSearchCond const *> *filters) {
  std::unique_ptr<SQLRSHints> self(this);
  SQLHints effective = Effective(hints_, hints);
  child_.reset(child_.release()->OptimizeTree(&effective, filters));
  child_->PushHints(&hints_);
  return child_.release();  // the hints leave the tree
}

// ---- messages a hints row source never receives (it is gone after OptimizeTree) ----

void SQLRSHints::OptimizeNode() { Unexpected("OptimizeNode"); }
void SQLRSHints::PushHints(SQLHints *) { Unexpected("PushHints"); }
SQLRowSource *SQLRSHints::PushFilter(SQLRSSCSearchCond *, SQLRSSCSearchCond **) { Unexpected("PushFilter"); }
SQLRowSource *SQLRSHints::PullFilter(SQLRSSCSearchCond **) { Unexpected("PullFilter"); }
SQLRowSource *SQLRSHints::PullNullify(intList **, SQLRSSCSearchCond **) { Unexpected("PullNullify"); }
bool SQLRSHints::PushSort(SQLSortSpecList *) { Unexpected("PushSort"); }
SQLRowSource *SQLRSHints::PushGroup(intList *, List<SQLRSGroupSpec> *, bool *) { Unexpected("PushGroup"); }
SQLRowSource *SQLRSHints::PushProject(SQLRSSCValueExprRefPtrList *) { Unexpected("PushProject"); }
void SQLRSHints::createQPsubquery(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *, unsigned long) {
  Unexpected("createQPsubquery");
}

void SQLRSAppendHintItems(SQLTokenString *ts, SQLHints const &hints) {
  bool enabled;
  if (hints.GetArrayFetchingEnabled(&enabled))
    ts->AppendToken(enabled ? SQLNWTHintsArrayFetchingEnabled : SQLNWTHintsArrayFetchingDisabled);
  unsigned long size;
  if (hints.GetArrayFetchingSize(&size)) {
    ts->AppendToken(SQLNWTHintsArrayFetchingSize);
    ts->AppendBs4(static_cast<std::int32_t>(size));
  }
  if (hints.GetOrdered()) ts->AppendToken(SQLNWTHintsOrdered);
  char const *text;
  if (hints.GetString(&text)) {
    ts->AppendToken(SQLNWTHintsStringHint);
    ts->AppendMemory(text, static_cast<int>(std::strlen(text)) + 1);
  }
  SQLHintsRowMode mode;
  if (hints.GetRowMode(&mode))
    ts->AppendToken(mode == SQL_HINTS_ALL_ROWS ? SQLNWTHintsRowModeAllRows : SQLNWTHintsRowModeFirstRows);
  if (hints.GetNoHints()) ts->AppendToken(SQLNWTHintsNoHints);
}

void SQLRSHints::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTRSHints);
  SQLRSAppendHintItems(ts, hints_);
  ts->AppendToken(SQLNWTTerminator);
  child_->createTokenString(ts, level, params);
}

void SQLRSHints::DoLog() {
  SQLLogger &log = *SQLLogger::Instance();
  log << "SQLRSHints(" << endl << incind;
  hints_.Log();
  log << endl << "Child: ";
  child_->Log();
  log << decind << ")" << endl;
}

void SQLRSHints::DoAcceptVisit(SQLVisitor &visitor) {
  child_->AcceptVisit(visitor);
  visitor.VisitSQLRSHints(this);
  SQLRSEndUnaryVisit(visitor, this);
}
