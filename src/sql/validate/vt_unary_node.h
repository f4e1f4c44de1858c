// SQLVTUnaryNode: the part shared by the statement nodes over one child
// (filter, sort, prepare, projection, group, CLEAR/UNREF, multi-company
// union): the owned child and the slots that simply ask it.
#pragma once

#include <memory>

#include "sql/validate/vt_node.h"

class SQLVTUnaryNode : public SQLVTNode {
 public:
  SQLVTNode *GetChild() const { return child_.get(); }
  // Stores the node that replaced the child (which the replacement took
  // over or deleted).
  void ReplaceChild(SQLVTNode *child);
  // Hands the child over; the node then has none.
  SQLVTNode *ExtractChild() { return child_.release(); }

  SQLColumnDescriptor const *GetColumnDescriptor(int column) const override {
    return child_->GetColumnDescriptor(column);
  }
  int GetNumCols() const override { return child_->GetNumCols(); }
  bool IsForUpdate() override { return child_->IsForUpdate(); }
  void ValidateTypes() const override { child_->ValidateTypes(); }
  void ValidateArrayUsage() const override { child_->ValidateArrayUsage(); }
  void SetIndexHintsOnTables(List<SQLVTIndexHint> *hints) override { child_->SetIndexHintsOnTables(hints); }

 protected:
  // Takes ownership of child.
  explicit SQLVTUnaryNode(SQLVTNode *child) : child_(child) {}
  ~SQLVTUnaryNode() override;

  // The hints of the node, when it has any, then the child under label.
  void LogHintsAndChild(char const *label) const;

 private:
  std::unique_ptr<SQLVTNode> child_;
};
