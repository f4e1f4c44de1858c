#include "sql/validate/vt_node.h"

#include "sql/common/sql_abort.h"
#include "sql/exec/row_source.h"

SQLVTNode::HintsWrapper SQLVTNode::_hintsWrapper = nullptr;

SQLVTNode::~SQLVTNode() = default;

SQLVTNode *SQLVTNode::RemoveNotDefinitiveGroupNode() { return this; }

bool SQLVTNode::IsGroupByQuery() {
  SQLAbort(__FILE__, __LINE__, "SQLVTNode::IsGroupByQuery() called");
}

void SQLVTNode::Validate() {
  ValidateArrayUsage();
  ValidateTypes();
  DoValidate();
}

SQLExecTree *SQLVTNode::CreateET() { return CreateRS(); }

void SQLVTNode::DoValidate() {}

SQLRowSource *SQLVTNode::CreateRS() {
  SQLRowSource *rs = DoCreateRS();
  // Hints only steer the optimiser: without a hints row source the plan
  // differs, the rows do not.
  if (!hints_ || _hintsWrapper == nullptr) return rs;
  try {
    return _hintsWrapper(rs, hints_.get());
  } catch (...) {
    delete rs;
    throw;
  }
}

SQLVTOwner<SQLVTNode> SQLVTOwnNode(SQLVTNode *root) {
  return SQLVTOwner<SQLVTNode>(root, [](SQLVTNode *node) { delete node; });
}
