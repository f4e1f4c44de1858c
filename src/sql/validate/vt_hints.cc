#include "sql/validate/vt_hints.h"

#include <string>

#include "sql/common/sql_exception.h"
#include "sql/validate/vt_state.h"

SQLIndexHints *SQLVTIndexHint::ExtractIndexHints() {
  if (!hints_) return nullptr;
  auto *record = new SQLIndexHints(*hints_);
  hints_.reset();
  return record;
}

SQLExSyntaxError SQLVTTooManyIndexHints(int line) {
  return SQLExSyntaxError(vtstate::kTooManyIndexHints,
                          SQLString("Maximum number of index hints per table (") +
                              SQLString(std::to_string(SQLIndexHints::kMaxIndexes).c_str()) +
                              SQLString(") exceeded"),
                          line);
}

SQLIndexHints *SQLVTHints::MakeIndexHints(int count, char const *indexNumbers, SQLIndexHintMode mode) {
  if (count > SQLIndexHints::kMaxIndexes) throw SQLVTTooManyIndexHints(0);
  auto *record = new SQLIndexHints();
  record->count = count < 0 ? 0 : count;
  for (int i = 0; i < record->count; ++i) record->indexNumbers[i] = static_cast<signed char>(indexNumbers[i]);
  record->mode = mode;
  return record;
}
