#include "sql/exec/visitor.h"

#include <cstddef>

#include "sql/common/sql_abort.h"
#include "sql/exec/row_source.h"

void SQLRSVisitSubquery(SQLRowSource *tree, SQLVisitor &visitor) {
  visitor.IncLevel();
  tree->AcceptVisit(visitor);
  visitor.DecLevel();
  visitor.Scope()->PopRowSource();
}

int SQLRowSourceScope::PushRowSource(SQLRowSource *rowSource) {
  int before = Count();
  rowSources_.push_back(rowSource);
  return before;
}

void SQLRowSourceScope::PopRowSource() {
  if (rowSources_.empty()) SQLAbort(__FILE__, __LINE__, "Row-source scope: nothing to pop");
  rowSources_.pop_back();
}

SQLRowSource *SQLRowSourceScope::GetRowSource(int level) const {
  long index = static_cast<long>(rowSources_.size()) - 1 + level;
  if (level > 0 || index < 0)
    SQLAbort(__FILE__, __LINE__, "Row-source scope: no row source at level %d", level);
  return rowSources_[static_cast<std::size_t>(index)];
}
