#include "sql/common/database_instance.h"

#include "dbc/tabledef/tabledef.h"
#include "dbc/zdb_errors.h"
#include "sql/common/sql_exception.h"

SQLDatabaseInstance::SQLDatabaseInstance(char const *tableName, int companyNumber)
    : serverSpec_(tableName != nullptr ? read_driver_for_table(tableName, companyNumber) : nullptr),
      supportsFiltersInJoins_(true) {
  if (serverSpec_ == nullptr) throw SQLExZDBError(ZE_NO_DRIVER);
}

std::unique_ptr<SQLDatabaseInstance> SQLDatabaseInstance::Copy() const {
  return std::unique_ptr<SQLDatabaseInstance>(new SQLDatabaseInstance(serverSpec_, supportsFiltersInJoins_));
}

bool SQLDatabaseInstance::IsCompatible(SQLDatabaseInstance const *other) const {
  return other != nullptr && compare_single_spec(serverSpec_, other->serverSpec_) == 0;
}
