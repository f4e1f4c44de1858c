// SQLVTClearUnref: the top of a SELECT whose REFERS TO joins may leave
// columns without a referred row; it rewrites such columns of every row as
// the predicates' unref modes ask (empty values or unreferenced marks).
//
// After its child is resolved it reads, per result column, the null
// specification that name resolution recorded: Clear and Unref columns are
// collected into one list each; ClearUnref columns into one list per
// foreign key (key id), which the row source tests to choose between an
// empty value (the foreign key is empty) and an unreferenced mark.
#pragma once

#include <memory>
#include <vector>

#include "sql/common/ref_ptr.h"
#include "sql/exec/rs_clear_unref.h"
#include "sql/validate/clear_unref_key.h"
#include "sql/validate/vt_unary_node.h"

// The positions of the result columns of one kind of specification.
class SQLVTClearUnrefColumns {
 public:
  void Append(int column) { columns_.push_back(column); }
  std::vector<int> const &GetColumns() const { return columns_; }

 protected:
  // A new row-source operation over a copy of the positions.
  SQLRSClearUnref::SQLRSClearUnrefOp *CreateOp(SQLRSClearUnref::SQLRSClearUnrefOp::SQLRSClearUnrefMode mode,
                                                List<SQLRSSCValueExpr *> *foreignKey) const;
  // "ColumnIds: " and the positions.
  void LogColumns() const;

 private:
  std::vector<int> columns_;
};

class SQLVTClearSpec : public SQLVTClearUnrefColumns {
 public:
  SQLRSClearUnref::SQLRSClearUnrefOp *CreateRSClearUnrefOp() const;
  void Log() const;
};

class SQLVTUnrefSpec : public SQLVTClearUnrefColumns {
 public:
  SQLRSClearUnref::SQLRSClearUnrefOp *CreateRSClearUnrefOp() const;
  void Log() const;
};

class SQLVTClearUnrefSpec : public SQLVTClearUnrefColumns {
 public:
  explicit SQLVTClearUnrefSpec(RefPtr<SQLVTClearUnrefKey> key) : key_(std::move(key)) {}
  SQLVTClearUnrefKey const *GetKey() const { return key_.Get(); }
  SQLRSClearUnref::SQLRSClearUnrefOp *CreateRSClearUnrefOp() const;
  void Log() const;

 private:
  RefPtr<SQLVTClearUnrefKey> key_;
};

class SQLVTClearUnref : public SQLVTUnaryNode {
 public:
  // Takes ownership of child.
  explicit SQLVTClearUnref(SQLVTNode *child) : SQLVTUnaryNode(child) {}
  ~SQLVTClearUnref() override;

  SQLVTClearSpec const *GetClearSpec() const { return clear_.get(); }
  SQLVTUnrefSpec const *GetUnrefSpec() const { return unref_.get(); }
  std::vector<std::unique_ptr<SQLVTClearUnrefSpec>> const &GetClearUnrefSpecs() const { return clearUnref_; }

  [[noreturn]] SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  // SQLRSClearUnref over the child's row source: the unref operation, the
  // clear operation, then one per foreign key.
  SQLRowSource *DoCreateRS() override;
  // The number of result columns taken at name resolution; 0 before.
  int GetNumCols() const override { return numCols_; }
  void Log() const override;
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;
  bool IsGroupByQuery() override { return GetChild()->IsGroupByQuery(); }

 private:
  std::unique_ptr<SQLVTClearSpec> clear_;                         // null until a Clear column
  std::unique_ptr<SQLVTUnrefSpec> unref_;                         // null until an Unref column
  std::vector<std::unique_ptr<SQLVTClearUnrefSpec>> clearUnref_;  // one per key id, first seen first
  int numCols_ = 0;
};
