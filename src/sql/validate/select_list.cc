#include "sql/validate/select_list.h"

#include "sql/common/sql_logger.h"

SQLVTSelectItem::~SQLVTSelectItem() = default;

void SQLVTSelectItem::Log() const {
  SQLLogger &log = *SQLLogger::Instance();
  log << "VTSelectItem(";
  if (type_ == SQL_SELECT_ALL) {
    log << "*";
  } else if (type_ == SQL_SELECT_VALUE_EXPR) {
    if (value_) value_->Log();
  } else if (identifier_) {
    identifier_.Log();
  }
  if (alias_) {
    log << ",\"";
    alias_.Log();
    log << "\"";
  } else {
    log << ",NULL";
  }
  if (parameterName_) {
    log << ",:";
    parameterName_.Log();
  } else {
    log << ",NULL";
  }
  log << ")";
}

SQLVTSelectList::~SQLVTSelectList() {
  for (int i = items_.NrElements() - 1; i >= 0; --i) delete items_.Get(i);
}

void SQLVTSelectList::Insert(SQLVTSelectItem *item) {
  std::unique_ptr<SQLVTSelectItem> owned(item);  // deleted when the append fails
  items_.Insert(item);
  owned.release();
}
