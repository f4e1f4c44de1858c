#include "sql/common/sql_hints.h"

#include "sql/common/sql_logger.h"

void SQLHints::SetArrayFetchingEnabled(bool enabled) {
  arrayFetchingEnabled_ = enabled;
  given_ |= kArrayFetchingEnabled;
}

void SQLHints::SetArrayFetchingSize(unsigned long size) {
  arrayFetchingSize_ = size;
  given_ |= kArrayFetchingSize;
}

void SQLHints::SetBufferSize(unsigned long size) {
  bufferSize_ = size;
  given_ |= kBufferSize;
}

void SQLHints::SetString(char const *text) {
  string_ = text != nullptr ? text : "";
  given_ |= kString;
}

void SQLHints::SetRowMode(SQLHintsRowMode mode) {
  rowMode_ = mode;
  given_ |= kRowMode;
}

bool SQLHints::GetArrayFetchingEnabled(bool *enabled) const {
  if ((given_ & kArrayFetchingEnabled) == 0) return false;
  *enabled = arrayFetchingEnabled_;
  return true;
}

bool SQLHints::GetArrayFetchingSize(unsigned long *size) const {
  if ((given_ & kArrayFetchingSize) == 0) return false;
  *size = arrayFetchingSize_;
  return true;
}

bool SQLHints::GetBufferSize(unsigned long *size) const {
  if ((given_ & kBufferSize) == 0) return false;
  *size = bufferSize_;
  return true;
}

bool SQLHints::GetString(char const **text) const {
  if ((given_ & kString) == 0) return false;
  *text = string_.c_str();
  return true;
}

bool SQLHints::GetRowMode(SQLHintsRowMode *mode) const {
  if ((given_ & kRowMode) == 0) return false;
  *mode = rowMode_;
  return true;
}

void SQLHints::Log() const {
  SQLLogger &log = *SQLLogger::Instance();
  if (!log.LogFlagIsSet(SQLLogger::Always)) return;
  log << "SQLHints(" << endl << incind;
  if (given_ & kArrayFetchingEnabled) log << "Array fetching: " << arrayFetchingEnabled_ << endl;
  if (given_ & kArrayFetchingSize) log << "Array fetching size: " << arrayFetchingSize_ << endl;
  if (given_ & kBufferSize) log << "Buffer size: " << bufferSize_ << endl;
  if (given_ & kOrdered) log << "Ordered" << endl;
  if (given_ & kString) log << "String: \"" << string_.c_str() << "\"" << endl;
  if (given_ & kRowMode)
    log << (rowMode_ == SQL_HINTS_ALL_ROWS ? "Row mode: all" : "Row mode: first") << endl;
  if (given_ & kNoHints) log << "No hints hint" << endl;
  log << decind << ")" << endl;
}
