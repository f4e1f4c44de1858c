#include "sql/exec/net_fetch_params.h"

#include "sql/agent/net_agent_client.h"
#include "sql/common/column_descriptor.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/row_source.h"

SQLOuterCRef2Param::SQLOuterCRef2Param(int level, int columnId) : level_(level), columnId_(columnId) {}

void SQLOuterCRef2Param::Prepare(SQLRSPrepareContext *context) {
  SQLRSColumnRefScope *scope = context->Scope();
  outer_ = scope->GetValueStoreAddr(level_, static_cast<unsigned>(columnId_));
  SQLColumnDescriptor const *d = scope->GetRowSource(level_)->GetColumnDescriptor(columnId_);
  param_.SetType(d->GetType(), d->GetLength(), d->GetDepth());
}

SQLParameter *SQLRSNetFetchParams::AddOuterCref(int level, int columnId) {
  for (auto &p : params_)
    if (p->GetRelScopeLevel() == level && p->GetColumnId() == columnId) return p->GetParam();
  params_.push_back(std::make_unique<SQLOuterCRef2Param>(level, columnId));
  return params_.back()->GetParam();
}

bool SQLRSNetFetchParams::IsVariable(int level) const {
  for (auto const &p : params_)
    if (p->IsVariable(level)) return true;
  return false;
}

bool SQLRSNetFetchParams::IsConstant(int level) const {
  for (auto const &p : params_)
    if (!p->IsConstant(level)) return false;
  return true;
}

void SQLOuterCRef2Param::Bind(unsigned long statement) {
  param_.BindVS(outer_);
  SQLNetAgentClient::Instance()->BindParam(statement, &param_);
}

void SQLRSNetFetchParams::Prepare(SQLRSPrepareContext *context) {
  for (auto &p : params_) p->Prepare(context);
}

void SQLRSNetFetchParams::Bind(unsigned long statement) {
  for (auto &p : params_) p->Bind(statement);
}

void SQLRSNetFetchParams::TakeOver(SQLRSNetFetchParams *other) {
  for (auto &p : other->params_) params_.push_back(std::move(p));
  other->params_.clear();
}
