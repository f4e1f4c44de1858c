#include "sql/validate/vt_multi_compnr_union.h"

#include <bitset>
#include <memory>

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/rs_union.h"
#include "sql/validate/vtsc_support.h"

namespace {
constexpr int kCompanies = 1000;  // company numbers 0 to 999
}  // namespace

SQLVTMultiCompnrUnion::SQLVTMultiCompnrUnion(SQLVTNode *child, SQLParameter *parameter, List<int> *companies)
    : SQLVTUnaryNode(child), parameter_(parameter), companies_(companies) {
  // Nothing is allocated once the operands are taken: a constructor that
  // failed here would delete them under its caller.
  std::bitset<kCompanies> seen;
  for (bool more = companies_->First(); more; more = companies_->Next()) {
    int n = companies_->GetCurrent();
    if (n < 0 || n >= kCompanies) continue;  // the parser admits 0 to 999 only
    if (seen.test(static_cast<size_t>(n))) {
      companies_->DeleteCurrent();
    } else {
      seen.set(static_cast<size_t>(n));
    }
  }
}

SQLVTMultiCompnrUnion::~SQLVTMultiCompnrUnion() = default;

SQLVTRetryFilter *SQLVTMultiCompnrUnion::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLVTThrow("42I74", "A RETRY clause cannot be used with a _compnr IN predicate", GetLineNumber());
}

SQLRowSource *SQLVTMultiCompnrUnion::DoCreateRS() {
  std::unique_ptr<SQLRowSource> result;
  for (bool more = companies_->First(); more; more = companies_->Next()) {
    // The tables read the company bound now, when their row sources are made.
    parameter_->BindInteger(companies_->GetCurrent());
    std::unique_ptr<SQLRowSource> next(GetChild()->CreateRS());
    if (!result) {
      result = std::move(next);
      continue;
    }
    result.reset(new SQLRSUnion(result.release(), next.release(), true));
  }
  return result.release();
}

void SQLVTMultiCompnrUnion::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) {
    log << "VTMultiCompnrUnion(" << endl << incind << "CompnrParam: ";
    parameter_->Log();
    log << endl << "CompnrList:";
    for (bool more = companies_->First(); more; more = companies_->Next()) log << " " << companies_->GetCurrent();
    log << endl;
  }
  LogHintsAndChild("Child: ");
  if (tracing) log << decind << ")" << endl;
}

SQLVTNode *SQLVTMultiCompnrUnion::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                                      List<char const *> *restrictedQualifiers,
                                                      SQLVTWhereUsedMgr *whereUsed) {
  ReplaceChild(GetChild()->MapColumnNamesToIds(scope, treeData, flags, restrictedQualifiers, whereUsed));
  return this;
}
