#include "sql/front/parse_state.h"

#include "sql/common/sql_abort.h"

namespace {
SQLParseState *current = nullptr;  // one parse at a time, on the caller's thread
}  // namespace

SQLParseState::SQLParseState(int parseMode, SQLVTreeData *data) : mode(parseMode), treeData(data) {
  if (current != nullptr) SQLAbort(__FILE__, __LINE__, "SQLParse entered during a parse");
  current = this;
}

SQLParseState::~SQLParseState() {
  objects.Clear();
  current = nullptr;
}

char *SQLParseState::KeepText(char const *text) {
  std::string &slot = texts_[nextText_];
  nextText_ = (nextText_ + 1) % texts_.size();
  slot.assign(text);
  return slot.data();
}

SQLParseState &SQLParseCurrent() {
  if (current == nullptr) SQLAbort(__FILE__, __LINE__, "No parse under way");
  return *current;
}
