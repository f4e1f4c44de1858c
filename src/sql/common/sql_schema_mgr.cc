// Counted schema handles and the process-wide schema cache.
#include "sql/common/container_exceptions.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_schema.h"

SQLSchemaPtrKeySQLStringHash *SQLSchemaMgr::_schemas = nullptr;
int SQLSchemaMgr::_noSchemas = 0;

SQLSchemaPtr::SQLSchemaPtr(SQLSchema *schema) : schema_(schema) {
  if (schema_ != nullptr) ++schema_->refCount_;
}

SQLSchemaPtr::SQLSchemaPtr(SQLSchemaPtr const &other) : schema_(other.schema_) {
  if (schema_ != nullptr) ++schema_->refCount_;
}

SQLSchemaPtr &SQLSchemaPtr::operator=(SQLSchemaPtr const &other) {
  // Count the new schema first, so that assigning a handle to itself is safe.
  SQLSchema *target = other.schema_;
  if (target != nullptr) ++target->refCount_;
  Release();
  schema_ = target;
  return *this;
}

SQLSchemaPtr::~SQLSchemaPtr() { Release(); }

void SQLSchemaPtr::Release() {
  if (schema_ != nullptr && --schema_->refCount_ == 0) delete schema_;
  schema_ = nullptr;
}

SQLSchemaPtrKeySQLStringHash &SQLSchemaMgr::Cache() {
  if (_schemas == nullptr) _schemas = new SQLSchemaPtrKeySQLStringHash(100, SQLStringHash, SQLStringEqual);
  return *_schemas;
}

SQLSchemaPtr SQLSchemaMgr::Insert(SQLString const &key, SQLSchema *schema) {
  SQLSchemaPtr handle(schema);  // a failed insertion destroys the schema with it
  Cache().Insert(key, handle);
  ++_noSchemas;
  return handle;
}

SQLSchemaPtr SQLSchemaMgr::GetSchema(char const *tableName) {
  SQLString key(tableName);
  try {
    return Cache().Lookup(key);
  } catch (HashExNotExists const &) {
  }
  return Insert(key, new SQLSchema(tableName));
}

SQLSchemaPtr SQLSchemaMgr::GetSchema(char const *tableName, int companyNumber) {
  SQLString key(tableName);
  try {
    return Cache().Lookup(key);
  } catch (HashExNotExists const &) {
  }
  return Insert(key, new SQLSchema(tableName, companyNumber));
}

void SQLSchemaMgr::Exit() {
  delete _schemas;
  _schemas = nullptr;
}

int SQLSchemaMgr::GetNoCachedSchemas() { return _schemas != nullptr ? _schemas->NrElements() : 0; }
