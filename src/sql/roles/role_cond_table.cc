#include "sql/roles/role_cond_table.h"

SQLSCSchemaTable::SQLSCSchemaTable(char const *name)
    : name_(name != nullptr ? name : ""), schema_(SQLSchemaMgr::GetSchema(name_.c_str())) {}
