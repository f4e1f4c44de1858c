#include "sql/validate/vt_unary_node.h"

#include "sql/validate/vt_node_support.h"
#include "sql/validate/vtsc_support.h"

SQLVTUnaryNode::~SQLVTUnaryNode() = default;

void SQLVTUnaryNode::ReplaceChild(SQLVTNode *child) {
  if (child == child_.get()) return;
  static_cast<void>(child_.release());
  child_.reset(child);
}

void SQLVTUnaryNode::LogHintsAndChild(char const *label) const {
  if (SQLVTTracing() && GetHints() != nullptr) GetHints()->Log();
  SQLVTLogChild(label, child_.get());
}
