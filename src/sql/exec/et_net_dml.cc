#include "sql/exec/et_net_dml.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "dbc/domain/domain_check.h"
#include "molvane/dd.h"
#include "sql/agent/net_agent_client.h"
#include "sql/agent/nw_token.h"
#include "sql/common/row_field.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_parameter.h"
#include "sql/common/table_writes.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/exec/sc_value_expr.h"
#include "sql/exec/visitors.h"

namespace {

SQLNetAgentClient &Agent() { return *SQLNetAgentClient::Instance(); }

constexpr int kDomainViolation = 205;

}  // namespace

// ---------------------------------------------------------------- shared

SQLETNetRequest::SQLETNetRequest(char const *className, char const *tableName, int companyNumber)
    : className_(className), instance_(std::make_unique<SQLDatabaseInstance>(tableName, companyNumber)) {}

SQLETNetRequest::~SQLETNetRequest() {
  SQLNetAgentClient *client = SQLNetAgentClient::Existing();
  if (statement_ == 0 || client == nullptr) return;  // no client: its statements are gone
  try {
    client->Destroy(statement_);
  } catch (...) {
    // The client may already have forgotten the statement (its server went).
  }
}

void SQLETNetRequest::Unexpected(char const *operation) const {
  SQLAbort(__FILE__, __LINE__, "Unexpected message %s::%s", className_, operation);
}

void SQLETNetRequest::AddParameter(SQLParameter const *parameter) {
  for (bool more = parameters_.First(); more; more = parameters_.Next())
    if (parameters_.GetCurrent()->GetId() == parameter->GetId()) return;
  parameters_.Append(parameter);
}

void SQLETNetRequest::CheckCondition(SQLRSSCSearchCond *condition, char const *message) {
  SQLOperatesOnThisDBInstanceVisitor onInstance(instance_.get());
  condition->AcceptVisit(onInstance);
  if (!onInstance.Fits())
    throw SQLException("QP060", 0, SQLString("Search condition holds a list of more than 32767 items"));
  if (onInstance.TooManyOperators())
    throw SQLException("QP060", 0,
                       SQLString(("Search condition holds more than " +
                                  std::to_string(SQLOperatesOnThisDBInstanceVisitor::kMaxOperators) +
                                  " arithmetic operators")
                                     .c_str()));
  if (!onInstance.GetResult()) throw SQLException("QP060", 0, SQLString(message));
  SQLGetParametersVisitor parameters;
  condition->AcceptVisit(parameters);
  for (bool more = parameters.First(); more; more = parameters.Next()) AddParameter(parameters.GetCurrent());
}

void SQLETNetRequest::AddParametersOf(SQLRSSCValueExpr *expression) {
  SQLGetParametersVisitor parameters;
  expression->AcceptVisit(parameters);
  for (bool more = parameters.First(); more; more = parameters.Next()) AddParameter(parameters.GetCurrent());
}

void SQLETNetRequest::WriteTable(char const *tableName, int companyNumber) {
  table_ = tableName;
  request_.AppendMemory(tableName, static_cast<std::int16_t>(std::strlen(tableName)));
  request_.AppendBs2(static_cast<std::int16_t>(companyNumber));
}

void SQLETNetRequest::WriteCondition(SQLRSSCSearchCond *condition) {
  if (condition == nullptr) {
    request_.AppendToken(SQLNWTNull);
    return;
  }
  std::unique_ptr<SQLRSSCSearchCond> owned(condition);
  owned->createTokenString(&request_, 0, &fetchParams_);
}

void SQLETNetRequest::Prepare(SQLRSPrepareContext *context) {
  statement_ = Agent().Prepare(request_);
  PrepareValues(context);
}

void SQLETNetRequest::Attach(unsigned long sessionId) {
  Agent().Attach(statement_, static_cast<int>(sessionId), instance_.get());
}

void SQLETNetRequest::SetTimeOut(long deadline) { Agent().SetTimeOut(statement_, deadline); }

int SQLETNetRequest::Exec() {
  CheckValues();
  Agent().BindParams(statement_, &parameters_);
  SQLTableWrites::Note(table_.data(), table_.size());  // kept rows of the table are stale
  return Agent().Exec(statement_);
}

void SQLETNetRequest::Close() {
  if (statement_ != 0) Agent().Close(statement_);
}

void SQLETNetRequest::Log() {
  SQLLogger &log = *SQLLogger::Instance();
  if (!log.LogFlagIsSet(SQLLogger::Always)) return;
  log << className_ << "(" << endl << incind << "TokenString: " << "\"";
  request_.Log();
  log << "\"" << endl << decind << ")" << endl;
}

// ---------------------------------------------------------------- DELETE

// The arguments are parameters, owned from before the base's own
// allocations: a failure of those frees them with the parameters.
SQLETNetDelete::SQLETNetDelete(char const *tableName, int companyNumber,
                               std::unique_ptr<SQLRSSCSearchCond> condition)
    : SQLETNetRequest("SQLETNetDelete", tableName, companyNumber) {
  schema_ = SQLSchemaMgr::GetSchema(tableName);
  request_.AppendToken(SQLNWTETDelete);
  WriteTable(tableName, companyNumber);
  if (condition)
    CheckCondition(condition.get(), "Search condition and delete are handled by different database drivers");
  WriteCondition(condition.release());
}

// ---------------------------------------------------------------- UPDATE

void SQLETNetUpdate::ValueListDeleter::operator()(pSQLRSSCValueExprList *list) const {
  for (bool more = list->First(); more; more = list->Next()) delete list->GetCurrent();
  delete list;
}

// The arguments are parameters, owned from before the base's own
// allocations: a failure of those frees them with the parameters.
SQLETNetUpdate::SQLETNetUpdate(char const *tableName, int companyNumber, std::unique_ptr<intList> columns,
                               ValueListPtr values, std::unique_ptr<SQLRSSCSearchCond> condition)
    : SQLETNetRequest("SQLETNetUpdate", tableName, companyNumber) {
  // Each expression leaves the list once values_ holds it.
  for (bool more = values->First(); more; more = values->Next()) {
    values_.emplace_back(values->GetCurrent());
    values->SetCurrent(nullptr);
  }
  for (bool more = columns->First(); more; more = columns->Next()) columns_.push_back(columns->GetCurrent());
  if (columns_.size() != values_.size() || columns_.empty())
    SQLAbort(__FILE__, __LINE__, "UPDATE of %zu columns with %zu values", columns_.size(), values_.size());
  // The request counts its SET items in 16 bits, and an UPDATE runs in the
  // driver or not at all.
  if (columns_.size() > static_cast<size_t>(SQLTokenString::kMaxListCount))
    throw SQLException("QP060", 0, SQLString("UPDATE of more than 32767 SET items"));

  if (condition)
    CheckCondition(condition.get(), "Search condition and update are handled by different database drivers");
  for (auto &v : values_) AddParametersOf(v.get());
  schema_ = SQLSchemaMgr::GetSchema(tableName);
  request_.AppendToken(SQLNWTETUpdate);
  WriteTable(tableName, companyNumber);
  request_.AppendBs2(static_cast<std::int16_t>(columns_.size()));
  for (size_t i = 0; i < columns_.size(); ++i) {
    request_.AppendBs4(columns_[i]);
    values_[i]->createTokenString(&request_, 0, &fetchParams_);
  }
  WriteCondition(condition.release());
}

SQLETNetUpdate::~SQLETNetUpdate() = default;

void SQLETNetUpdate::PrepareValues(SQLRSPrepareContext *context) {
  valueStores_.clear();
  for (auto &v : values_) {
    // A value that reads the row being updated is known only to the agent;
    // it is not checked here.
    pSQLRSSCColumnRefList refs;
    v->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
    valueStores_.push_back(refs.NrElements() == 0 ? v->Prepare(context) : nullptr);
  }
}

void SQLETNetUpdate::CheckValues() {
  for (size_t i = 0; i < values_.size(); ++i) {
    if (valueStores_.size() <= i || valueStores_[i] == nullptr) continue;
    values_[i]->Evaluate();
    DD_COLUMN const *column = schema_->GetDDColumn(columns_[i]);
    int depth = column->depth > 1 ? column->depth : 1;
    unsigned char const *row = nullptr;
    int length = 0;
    copyValueStoreToRowBuffer(column->type, column->length / depth, depth, valueStores_[i], column->offset, ' ',
                              &row, &length);
    if (zdb_dd_check_column(column, row) == 0)
      throw SQLException("23000", kDomainViolation,
                         SQLString((std::string("Domain contraint on column ") + column->name + " violated").c_str()));
  }
}
