#include "sql/validate/vt_scope_info.h"

#include "sql/common/sql_schema.h"
#include "sql/validate/vt_node.h"

SQLSchema *SQLVTSchemaOf(SQLSchemaPtr const &schema) { return schema.Get(); }

bool SQLVTTableInfo::IsForUpdate() const { return tableNode != nullptr && tableNode->IsForUpdate(); }
