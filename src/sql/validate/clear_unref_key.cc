#include "sql/validate/clear_unref_key.h"

#include "sql/validate/vtsc_row_value.h"

SQLVTClearUnrefKey::SQLVTClearUnrefKey(int id) : id_(id) {}

SQLVTClearUnrefKey::SQLVTClearUnrefKey(int id, SQLVTSCRowValueConstr *referring) : id_(id), referring_(referring) {}

SQLVTClearUnrefKey::~SQLVTClearUnrefKey() = default;
