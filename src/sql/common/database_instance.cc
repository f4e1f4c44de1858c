#include "sql/common/database_instance.h"

#include <molvane/zdb.h>

#include "dbc/tabledef/tabledef.h"
#include "dbc/zdb_errors.h"
#include "sql/common/sql_exception.h"

namespace {

// The drivers of a table in a company; without any, error 505 with the
// cause the lookup gave (get_zdb_msg) as its text, so that the statement's
// diagnostic says why.
DRIVER_SPEC *DriversOf(char const *tableName, int companyNumber) {
  if (tableName == nullptr) throw SQLExZDBError(ZE_NO_DRIVER);
  reset_zdb_msg();
  DRIVER_SPEC *spec = read_driver_for_table(tableName, companyNumber);
  if (spec != nullptr) return spec;
  SQLExZDBError::ThrowWithCause(ZE_NO_DRIVER);
}

}  // namespace

SQLDatabaseInstance::SQLDatabaseInstance(char const *tableName, int companyNumber)
    : serverSpec_(DriversOf(tableName, companyNumber)), supportsFiltersInJoins_(true) {}

std::unique_ptr<SQLDatabaseInstance> SQLDatabaseInstance::Copy() const {
  return std::unique_ptr<SQLDatabaseInstance>(new SQLDatabaseInstance(serverSpec_, supportsFiltersInJoins_));
}

bool SQLDatabaseInstance::IsCompatible(SQLDatabaseInstance const *other) const {
  return other != nullptr && compare_single_spec(serverSpec_, other->serverSpec_) == 0;
}
