#include "sql/validate/where_used.h"

#include <string>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_schema.h"

void SQLVTWhereUsedMgr::RegisterTable(char const *table) const {
  if (callback_) callback_(table, SQL_WHERE_USED_TABLE);
}

void SQLVTWhereUsedMgr::RegisterColumn(char const *table, char const *column) const {
  if (callback_ == nullptr) return;
  std::string name(table);
  name += '.';
  name += column;
  callback_(name.c_str(), SQL_WHERE_USED_COLUMN);
}

void SQLVTWhereUsedMgr::LookUpAndRegisterColumn(char const *table, char const *column) const {
  SQLSchemaPtr schema;
  try {
    schema = SQLSchemaMgr::GetSchema(table);
  } catch (SQLSchemaExNotExists const &) {
    return;
  }
  RegisterColumn(table, column);
  if (schema->GetColumnId(column) != -1) return;
  intList const *ids = schema->GetPseudoColByName(column);
  if (ids == nullptr) return;
  // The list's cursor is part of the shared schema; walk a copy.
  intList members(*ids);
  for (bool more = members.First(); more; more = members.Next())
    RegisterColumn(table, schema->GetColumnDescriptor(members.GetCurrent())->GetName());
}
