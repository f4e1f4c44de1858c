// SQLVTRetryFilter: the filter of a RETRY clause, between a projection and
// its child. It is inserted after name resolution and stays in the tree;
// the statement switches it on for an execution from a saved retry point
// (the rows up to the saved key values are skipped) and off otherwise.
#pragma once

#include <memory>

#include "sql/validate/vt_search_cond.h"
#include "sql/validate/vt_unary_node.h"

class SQLVTRetryFilter : public SQLVTUnaryNode {
 public:
  // Takes ownership of child.
  explicit SQLVTRetryFilter(SQLVTNode *child) : SQLVTUnaryNode(child) {}
  ~SQLVTRetryFilter() override;

  // Takes ownership of condition (replacing any earlier one).
  void SetFilter(SQLVTSCSearchCond *condition) { condition_.reset(condition); }
  SQLVTSCSearchCond *GetFilter() const { return condition_.get(); }
  bool IsActive() const { return active_; }
  void SetActive(bool active) { active_ = active; }

  [[noreturn]] SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  // The child's row source, under a filter of the condition when active.
  SQLRowSource *DoCreateRS() override;
  void Log() const override;
  // Never resolved (the filter comes after name resolution): null.
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                 SQLVTWhereUsedMgr *) override {
    return nullptr;
  }
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;

 private:
  std::unique_ptr<SQLVTSCSearchCond> condition_;  // null until SetFilter
  bool active_ = false;
};

// The retry condition over the keys of specs (each with its column id and
// parameter filled), columns at level 0 of child: for keys k1..kn and their
// parameters p1..pn, k1 > p1 OR (k1 = p1 AND (k2 > p2 OR ...)), with < for
// a descending key and, for clause type 2, >= (<=) for the last key.
SQLVTSCSearchCond *SQLVTBuildRetryCondition(SQLVTNode const *child, SQLRetryClauseType type,
                                            SQLRetrySpecList *specs);
