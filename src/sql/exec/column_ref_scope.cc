#include "sql/exec/column_ref_scope.h"

#include <cstddef>

#include "sql/common/sql_abort.h"
#include "sql/exec/row_source.h"

void SQLRSColumnRefScope::PushMap(int n, std::unique_ptr<SQLValueStore const *[]> map) {
  maps_.push_back(Map{n, std::move(map)});
}

void SQLRSColumnRefScope::PopMap() {
  if (maps_.empty()) SQLAbort(__FILE__, __LINE__, "Column reference scope: no map to pop");
  maps_.pop_back();
}

void SQLRSColumnRefScope::PushRowSource(SQLRowSource *rowSource) {
  rowSources_.push_back(rowSource);
}

void SQLRSColumnRefScope::PopRowSource() {
  if (rowSources_.empty())
    SQLAbort(__FILE__, __LINE__, "Column reference scope: no row source to pop");
  rowSources_.pop_back();
}

SQLValueStore const *SQLRSColumnRefScope::GetValueStoreAddr(int level, unsigned column) const {
  long index = static_cast<long>(maps_.size()) - 1 + level;
  if (level > 0 || index < 0)
    SQLAbort(__FILE__, __LINE__, "Column reference scope: no map at level %d", level);
  Map const &map = maps_[static_cast<std::size_t>(index)];
  if (column >= static_cast<unsigned>(map.count))
    SQLAbort(__FILE__, __LINE__, "Column reference scope: column %u outside the %d columns of level %d",
             column, map.count, level);
  return map.stores[column];
}

SQLRowSource *SQLRSColumnRefScope::GetRowSource(int level) const {
  long index = static_cast<long>(rowSources_.size()) - 1 + level;
  if (level > 0 || index < 0)
    SQLAbort(__FILE__, __LINE__, "Column reference scope: no row source at level %d", level);
  return rowSources_[static_cast<std::size_t>(index)];
}

SQLRSScopedRow::SQLRSScopedRow(SQLRSColumnRefScope *scope, SQLRowSource *rowSource)
    : scope_(scope) {
  int n = rowSource->GetNumCols();
  auto map = std::make_unique<SQLValueStore const *[]>(static_cast<std::size_t>(n > 0 ? n : 1));
  for (int i = 0; i < n; ++i) map[i] = rowSource->GetValueStoreAddr(i);
  scope_->PushMap(n, std::move(map));
  scope_->PushRowSource(rowSource);
}

SQLRSScopedRow::~SQLRSScopedRow() {
  scope_->PopRowSource();
  scope_->PopMap();
}
