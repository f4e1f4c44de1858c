#include "sql/exec/sc_text_content.h"

#include <cstdint>

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/database_instance.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/text_reader.h"
#include "sql/exec/visitor.h"

SQLRSSCTextContent::SQLRSSCTextContent(SQLRSSCValueExpr *textNumber, SQLRSSCValueExpr *language, int companyNumber)
    : textNumber_(textNumber), language_(language), companyNumber_(companyNumber) {}

SQLRSSCTextContent::~SQLRSSCTextContent() = default;

bool SQLRSSCTextContent::OperatesOnThisDBInstance(SQLDatabaseInstance *instance) const {
  SQLDatabaseInstance texts(SQLTextReader::kTableName, companyNumber_);
  return texts.IsCompatible(instance);
}

void SQLRSSCTextContent::Cost(double *first, double *second) {
  *first += 100;
  *second += 1;
  SQLRSSCAddCost(textNumber_.get(), first, second);
  SQLRSSCAddCost(language_.get(), first, second);
}

void SQLRSSCTextContent::AcceptVisit(SQLVisitor &visitor) {
  textNumber_->AcceptVisit(visitor);
  language_->AcceptVisit(visitor);
  visitor.VisitSQLRSSCTextContent(this);
}

void SQLRSSCTextContent::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  textNumber_->GetColumnRefs(level, type, refs);
  language_->GetColumnRefs(level, type, refs);
}

SQLTruthValue SQLRSSCTextContent::NullValueOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  SQLTruthValue number = textNumber_->NullValueOnNullifiedCols(level, intervals);
  if (number == TV_TRUE) return TV_TRUE;
  return TVOr(number, language_->NullValueOnNullifiedCols(level, intervals));
}

void SQLRSSCTextContent::Optimize() {
  textNumber_->Optimize();
  language_->Optimize();
}

SQLValueStore const *SQLRSSCTextContent::Prepare(SQLRSPrepareContext *context) {
  textNumberStore_ = textNumber_->Prepare(context);
  languageStore_ = language_->Prepare(context);
  return &store_;
}

void SQLRSSCTextContent::Evaluate() {
  textNumber_->Evaluate();
  if (textNumberStore_->IsNull()) {
    store_.SetString(nullptr, 0);
    store_.SetNull();
    return;
  }
  language_->Evaluate();
  if (languageStore_->IsNull() || languageStore_->GetLength() == 0) {
    store_.SetString(nullptr, 0);
    store_.SetNull();
    return;
  }
  auto language = static_cast<unsigned char>(languageStore_->GetBytes()[0]);
  SQLTextReader::Instance()->ReadText(textNumberStore_->GetInteger(), language, companyNumber_, session_, &store_);
}

void SQLRSSCTextContent::Reset() {
  textNumber_->Reset();
  language_->Reset();
}

void SQLRSSCTextContent::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(SQLNWTVETextContent);
  textNumber_->createTokenString(ts, level, params);
  language_->createTokenString(ts, level, params);
  ts->AppendBs4(static_cast<std::int32_t>(companyNumber_));
}

SQLRSSCValueExpr *SQLRSSCTextContent::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  SQLRSSCReplaceCRefs(&textNumber_, level, columns, parameters);
  SQLRSSCReplaceCRefs(&language_, level, columns, parameters);
  return this;
}

void SQLRSSCTextContent::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "TextContent(" << incind;
  textNumber_->Log();
  log << ", ";
  language_->Log();
  log << ", " << companyNumber_ << decind << ")";
}
