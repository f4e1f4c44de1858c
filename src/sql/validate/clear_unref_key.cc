#include "sql/validate/clear_unref_key.h"

SQLVTClearUnrefKey::~SQLVTClearUnrefKey() = default;
