// SQLVTMultiCompnrUnion: a query with a _compnr IN (...) list, run once per
// listed company with the results chained as UNION ALL.
#pragma once

#include <memory>

#include "sql/common/list.h"
#include "sql/common/sql_parameter.h"
#include "sql/validate/vt_unary_node.h"

class SQLVTMultiCompnrUnion : public SQLVTUnaryNode {
 public:
  // Takes ownership of child, parameter and companies; a company number
  // listed again is dropped (the first occurrence keeps its place).
  SQLVTMultiCompnrUnion(SQLVTNode *child, SQLParameter *parameter, List<int> *companies);
  ~SQLVTMultiCompnrUnion() override;

  SQLParameter *GetParameter() const { return parameter_.get(); }
  List<int> *GetCompanies() const { return companies_.get(); }

  // 42I74: a RETRY clause cannot run over the per-company union.
  [[noreturn]] SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  bool IsGroupByQuery() override { return GetChild()->IsGroupByQuery(); }
  SQLRowSource *DoCreateRS() override;
  void Log() const override;
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;

 private:
  std::unique_ptr<SQLParameter> parameter_;
  std::unique_ptr<List<int>> companies_;
};
