#include "sql/validate/vtsc_parameter.h"

#include "sql/common/sql_logger.h"
#include "sql/common/sql_parameter.h"
#include "sql/common/sql_util.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/validate/vtsc_support.h"

SQLVTSCValueExpr *SQLVTSCParameterRef::Cast(SQLType type, bool tolerant) {
  SQLType current = parameter_->GetType();
  if (current == SQL_UNDEFINED) {
    parameter_->SetType(type, 0, 1);
    parameter_->SetNumericTypeOpen(tolerant);
    return this;
  }
  if (current == type) {
    if (!tolerant) parameter_->SetNumericTypeOpen(false);
    return this;
  }
  if (type == SQL_INTEGER && current == SQL_REAL && parameter_->GetNumericTypeOpen()) {
    parameter_->SetType(SQL_INTEGER, 0, 1);
    if (!tolerant) parameter_->SetNumericTypeOpen(false);
    return this;
  }
  if (type == SQL_REAL && current == SQL_INTEGER && tolerant) return this;
  SQLVTThrow("42T13",
             std::string("Type conflict on parameter. Parameter type is ") + SQLGetTypeName(current) +
                 ", type " + SQLGetTypeName(type) + " expected",
             GetLineNumber());
}

SQLRSSCValueExpr *SQLVTSCParameterRef::CreateRS() { return new SQLRSSCParameterRef(parameter_); }

void SQLVTSCParameterRef::GetPossibleTypes(SQLTypeSet *types) {
  for (SQLType t : {SQL_INTEGER, SQL_REAL, SQL_STRING, SQL_RAW, SQL_DATE, SQL_TIMESTAMP, SQL_INTERVAL_DAYS,
                    SQL_INTERVAL_SECONDS}) {
    types->Insert(t);
  }
}

void SQLVTSCParameterRef::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "ParameterRef(";
  parameter_->Log();
  log << ")";
}

bool SQLVTSCParameterRef::IsSameParameterRef(SQLVTSCParameterRef const *other) const {
  return other->parameter_->GetId() == parameter_->GetId();
}
