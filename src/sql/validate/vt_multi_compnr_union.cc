#include "sql/validate/vt_multi_compnr_union.h"

#include <vector>

#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vtsc_support.h"

namespace {
constexpr int kCompanies = 1000;  // company numbers 0 to 999
}  // namespace

SQLVTMultiCompnrUnion::SQLVTMultiCompnrUnion(SQLVTNode *child, SQLParameter *parameter, List<int> *companies)
    : SQLVTUnaryNode(child), parameter_(parameter), companies_(companies) {
  std::vector<bool> seen(kCompanies, false);
  for (bool more = companies_->First(); more; more = companies_->Next()) {
    int n = companies_->GetCurrent();
    if (n < 0 || n >= kCompanies) continue;  // the parser admits 0 to 999 only
    if (seen[static_cast<size_t>(n)]) {
      companies_->DeleteCurrent();
    } else {
      seen[static_cast<size_t>(n)] = true;
    }
  }
}

SQLVTMultiCompnrUnion::~SQLVTMultiCompnrUnion() = default;

SQLVTRetryFilter *SQLVTMultiCompnrUnion::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLVTThrow("42I74", "A RETRY clause cannot be used in a UNION query", GetLineNumber());
}

SQLRowSource *SQLVTMultiCompnrUnion::DoCreateRS() { SQLVTNotYetResolving("SQLVTMultiCompnrUnion::DoCreateRS"); }

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

SQLVTNode *SQLVTMultiCompnrUnion::MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                                      SQLVTWhereUsedMgr *) {
  SQLVTNotYetResolving("SQLVTMultiCompnrUnion::MapColumnNamesToIds");
}
