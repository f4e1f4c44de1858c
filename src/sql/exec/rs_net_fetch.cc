#include "sql/exec/rs_net_fetch.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "dbc/dict/dd.h"
#include "platform/blat.h"
#include "sql/agent/net_agent_client.h"
#include "sql/agent/nw_token.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_hints.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/rs_group.h"
#include "sql/exec/rs_hints.h"
#include "sql/exec/rs_sort.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/exec/sc_subquery_cond.h"
#include "sql/exec/subquery_answers.h"
#include "sql/exec/visitor.h"
#include "sql/exec/visitors.h"
#include "sql/validate/index_hints.h"

namespace {

SQLNetAgentClient &Agent() { return *SQLNetAgentClient::Instance(); }

constexpr int kTraceStateNetFetch = 4;  // trace-file bit that records leaf statement ids

// The level-0 column ids that an expression reads.
std::vector<int> LevelColumns(SQLRSSCValueExpr *e) {
  pSQLRSSCColumnRefList refs;
  e->GetColumnRefs(0, SQL_CREF_LEVEL, &refs);
  std::vector<int> out;
  for (bool more = refs.First(); more; more = refs.Next()) out.push_back(refs.GetCurrent()->GetColumnId());
  return out;
}

// The expression as a column of this row (level 0, below n); null otherwise.
SQLRSSCColumnRef *PlainColumn(SQLRSSCValueExpr *e, size_t n) {
  if (!e->IsColumnRef()) return nullptr;
  auto *ref = static_cast<SQLRSSCColumnRef *>(e);
  bool const own = ref->GetRelScopeLevel() == 0 && ref->GetColumnId() >= 0 && static_cast<size_t>(ref->GetColumnId()) < n;
  return own ? ref : nullptr;
}

// A join's condition becomes part of this driver's query: one that names a
// table of another driver (a subquery) would make this driver answer for a
// table it does not hold. CombineJoin keeps such joins in the library, so
// this only stops a statement that would otherwise get wrong rows.
void RequireShippable(SQLRSSCSearchCond *condition, SQLDatabaseInstance *instance) {
  if (SQLOperatesOnThisDBInstanceVisitor::Holds(condition, instance)) return;
  SQL_log("SQLRSNetFetch: a join condition cannot be shipped with its join\n");
  throw SQLException("HY000", 0, SQLString("A join condition cannot be shipped with its join"));
}

SQLColumnDescriptor Nameless(SQLType type, unsigned long length, int depth) {
  return SQLColumnDescriptor("", type, length, depth);
}

}  // namespace

SQLRSFetch *SQLRSFetch::CreateRSFetch(char const *tableName, int companyNumber, SQLIndexHints const *indexHints) {
  return new SQLRSNetFetch(tableName, companyNumber, indexHints);
}

SQLRSNetFetch::SQLRSNetFetch(char const *tableName, int companyNumber, SQLIndexHints const *indexHints)
    : instance_(std::make_unique<SQLDatabaseInstance>(tableName, companyNumber)) {
  SQLSchemaPtr schema = SQLSchemaMgr::GetSchema(tableName);
  schemas_.push_back(schema);
  tables_.emplace_back(tableName);
  for (int i = 0; i < schema->GetNumCols(); ++i) {
    descriptors_.push_back(schema->GetColumnDescriptor(i));
    origins_.push_back({0, i});
  }

  description_.AppendToken(SQLNWTRSTable);
  description_.AppendMemory(tableName, static_cast<std::int16_t>(std::strlen(tableName)));
  description_.AppendBs2(static_cast<std::int16_t>(companyNumber));
  if (indexHints == nullptr || indexHints->count == 0) {
    description_.AppendToken(SQLNWTNoIndexHints);
    return;
  }
  description_.AppendToken(SQLNWTIndexHints);
  description_.AppendBs1(static_cast<std::int8_t>(indexHints->count));
  for (int i = 0; i < indexHints->count; ++i) description_.AppendBs1(indexHints->indexNumbers[i]);
  switch (indexHints->mode) {
    case SQL_INDEX_HINT_ANY: description_.AppendToken(SQLNWTNull); break;
    case SQL_INDEX_HINT_ASCENDING: description_.AppendToken(SQLNWTAscending); break;
    case SQL_INDEX_HINT_DESCENDING: description_.AppendToken(SQLNWTDescending); break;
    default: SQLAbort(__FILE__, __LINE__, "Unexpected %d", static_cast<int>(indexHints->mode));
  }
}

SQLRSNetFetch::~SQLRSNetFetch() {
  SQLNetAgentClient *client = SQLNetAgentClient::Existing();
  if (client == nullptr) return;  // no client: its statements are gone
  for (unsigned long id : {statement_, listStatement_, unlistedStatement_, keyStatement_}) {
    if (id == 0) continue;
    try {
      client->Destroy(id);
    } catch (...) {
      // The client may already have forgotten the statement (its server went).
    }
  }
}

// ---- helpers ----

void SQLRSNetFetch::AddParameter(SQLParameter const *parameter) {
  for (bool more = parameters_.First(); more; more = parameters_.Next())
    if (parameters_.GetCurrent()->GetId() == parameter->GetId()) return;
  parameters_.Append(parameter);
}

void SQLRSNetFetch::AddParametersOf(SQLRSSCSearchCond *condition) {
  SQLGetParametersVisitor visitor;
  condition->AcceptVisit(visitor);
  for (bool more = visitor.First(); more; more = visitor.Next()) AddParameter(visitor.GetCurrent());
}

void SQLRSNetFetch::AddParametersOf(SQLRSSCValueExpr *expression) {
  SQLGetParametersVisitor visitor;
  expression->AcceptVisit(visitor);
  for (bool more = visitor.First(); more; more = visitor.Next()) AddParameter(visitor.GetCurrent());
}

bool SQLRSNetFetch::Ships(SQLRSSCValueExpr *expression) {
  return SQLOperatesOnThisDBInstanceVisitor::Holds(expression, instance_.get());
}

SQLColumnDescriptor const *SQLRSNetFetch::Own(SQLColumnDescriptor const &d) {
  ownDescriptors_.push_back(std::make_unique<SQLColumnDescriptor>(d));
  return ownDescriptors_.back().get();
}

void SQLRSNetFetch::TakeOver(SQLRSNetFetch *other) {
  for (SQLSchemaPtr const &s : other->schemas_) schemas_.push_back(s);
  tables_.insert(tables_.end(), other->tables_.begin(), other->tables_.end());
  for (bool more = other->parameters_.First(); more; more = other->parameters_.Next())
    parameters_.Append(other->parameters_.GetCurrent());
  // The other description's outer references must be bound too.
  outerParams_.TakeOver(&other->outerParams_);
  for (auto &d : other->ownDescriptors_) ownDescriptors_.push_back(std::move(d));
  other->ownDescriptors_.clear();
}

bool SQLRSNetFetch::IdentityColumns(std::vector<size_t> *columns) const {
  columns->clear();
  std::vector<size_t> found;  // given to `columns` only when every key is
  std::vector<DD_COLUMN *> parts(DD_MAX_LIST + 1);
  for (size_t t = 0; t < schemas_.size(); ++t) {
    SQLSchema const &schema = *schemas_[t];
    DD_TABLE *table = dd_table_or_throw(tables_[t].c_str());
    DD_KEY *key = table != nullptr ? key_desc(table, 1) : nullptr;
    if (key == nullptr || key->duplicates != 0) return false;
    list_all_columns(key->parts, parts.data());
    for (DD_COLUMN **part = parts.data(); *part != nullptr; ++part) {
      int id = -1;
      for (int c = 0; c < schema.GetNumCols() && id < 0; ++c)
        if (schema.GetDDColumn(c) == *part) id = c;
      auto at = std::find_if(origins_.begin(), origins_.end(),
                             [&](Origin o) { return o.table == static_cast<int>(t) && o.column == id; });
      if (id < 0 || at == origins_.end()) return false;
      found.push_back(static_cast<size_t>(at - origins_.begin()));
    }
  }
  *columns = std::move(found);
  return !columns->empty();
}

// ---- SQLRSFetch ----

void SQLRSNetFetch::SetBufferSize(int rows) {
  Agent().SetBufferSize(statement_, rows);
  if (listStatement_ != 0) Agent().SetBufferSize(listStatement_, rows);
  if (unlistedStatement_ != 0) Agent().SetBufferSize(unlistedStatement_, rows);
  if (keyStatement_ != 0) Agent().SetBufferSize(keyStatement_, rows);
}

void SQLRSNetFetch::SetCursorTimeOut(long deadline) {
  Agent().SetTimeOut(statement_, deadline);
  if (listStatement_ != 0) Agent().SetTimeOut(listStatement_, deadline);
  if (unlistedStatement_ != 0) Agent().SetTimeOut(unlistedStatement_, deadline);
  if (keyStatement_ != 0) Agent().SetTimeOut(keyStatement_, deadline);
}

bool SQLRSNetFetch::OperatesOnThisDBInstance(SQLDatabaseInstance *instance) {
  return instance_->IsCompatible(instance);
}

void SQLRSNetFetch::AttachToSession(unsigned long sessionId) {
  if (blat_get_state(kTraceStateNetFetch)) blat_sql_netFetchId(statement_);
  Agent().Attach(statement_, static_cast<int>(sessionId), instance_.get());
  if (listStatement_ != 0) Agent().Attach(listStatement_, static_cast<int>(sessionId), instance_.get());
  if (unlistedStatement_ != 0) Agent().Attach(unlistedStatement_, static_cast<int>(sessionId), instance_.get());
  if (keyStatement_ != 0) Agent().Attach(keyStatement_, static_cast<int>(sessionId), instance_.get());
}

void SQLRSNetFetch::DetachFromSession() {
  if (statement_ != 0) Agent().Close(statement_);
  if (listStatement_ != 0) Agent().Close(listStatement_);
  if (unlistedStatement_ != 0) Agent().Close(unlistedStatement_);
  if (keyStatement_ != 0) Agent().Close(keyStatement_);
}

bool SQLRSNetFetch::IsVariable(int level) { return outerParams_.IsVariable(level); }

bool SQLRSNetFetch::IsConstant(int level) {
  if (parameters_.NrElements() > 0) return false;
  return outerParams_.IsConstant(level);
}

bool SQLRSNetFetch::OuterValueStores(int level, std::vector<SQLValueStore const *> *stores) {
  for (bool more = parameters_.First(); more; more = parameters_.Next())
    stores->push_back(parameters_.GetCurrent()->GetValueStore());
  for (int i = 0; i < outerParams_.Count(); ++i) {
    SQLOuterCRef2Param *p = outerParams_.Get(i);
    if (!p->IsVariable(level)) continue;
    if (p->GetValueStoreAddr() == nullptr) return false;
    stores->push_back(p->GetValueStoreAddr());
  }
  return true;
}

bool SQLRSNetFetch::HoldRows() {
  holdRows_ = parameters_.NrElements() == 0 && outerParams_.Count() == 0 && keyParams_.empty();
  return holdRows_;
}

void SQLRSNetFetch::WatchWrites(SQLTableWriteWatch *watch) {
  for (std::string const &table : tables_) watch->Add(table.data(), table.size());
}

void SQLRSNetFetch::TakeListOf(SQLRSSCInSubquery *in) {
  if (listed_ != nullptr || sorted_ || hinted_ || holdRows_ || !keyParams_.empty()) return;
  SQLRSSCValueExpr *value = in->GetValue();
  pSQLRSSCColumnRefList outer;
  value->GetColumnRefs(0, SQL_CREF_OUTER, &outer);
  SQLGetParametersVisitor parameters;
  value->AcceptVisit(parameters);
  SQLColumnDescriptor const *column = in->GetSubqueryColumn();
  if (outer.NrElements() > 0 || parameters.NrElements() > 0 || !Ships(value) || column->GetDepth() != 1) return;
  listParams_.clear();
  for (size_t i = 0; i < kListLength; ++i) {
    listParams_.push_back(std::make_unique<SQLParameter>());
    listParams_.back()->SetType(column->GetType(), column->GetLength(), 1);
  }
  // Written once each: listed_ is set below.
  for (SQLTokenString *list : {&listDescription_, &unlistedDescription_}) {
    list->AppendToken(SQLNWTRSFilter);
    if (list == &unlistedDescription_) list->AppendToken(SQLNWTSCNot);
    list->AppendToken(SQLNWTSCInSet);
    value->createTokenString(list, 0, &outerParams_);
    list->AppendBs2(static_cast<std::int16_t>(kListLength));
    for (auto const &p : listParams_) SQLRSSCParameterRef(p.get()).createTokenString(list, 0, &outerParams_);
    list->AppendTokenString(description_);
  }
  listed_ = in;
}

bool SQLRSNetFetch::TakeKeyList(SQLRSSCValueExpr *term, int offset, SQLColumnDescriptor const *type) {
  if (!keyParams_.empty() || listed_ != nullptr || sorted_ || hinted_ || holdRows_ || statement_ != 0 ||
      type->GetDepth() > 1 || term->GetColumnDescriptor().GetDepth() > 1)
    return false;
  // The term reads the leaf's columns only, and nothing the driver cannot
  // evaluate or that would need binding.
  pSQLRSSCColumnRefList outer, level;
  term->GetColumnRefs(0, SQL_CREF_OUTER, &outer);
  term->GetColumnRefs(0, SQL_CREF_LEVEL, &level);
  SQLGetParametersVisitor parameters;
  term->AcceptVisit(parameters);
  if (outer.NrElements() > 0 || parameters.NrElements() > 0 || !Ships(term)) return false;
  for (bool more = level.First(); more; more = level.Next()) {
    int const column = level.GetCurrent()->GetColumnId() - offset;
    if (column < 0 || column >= static_cast<int>(descriptors_.size())) return false;
  }
  SQLTokenString &list = keyDescription_;  // written once: keyParams_ is filled below
  list.AppendToken(SQLNWTRSFilter);
  list.AppendToken(SQLNWTSCInSet);
  // Written in the leaf's numbering, then given back the join's.
  for (bool more = level.First(); more; more = level.Next())
    level.GetCurrent()->SetColumnId(level.GetCurrent()->GetColumnId() - offset);
  term->createTokenString(&list, 0, &outerParams_);
  for (bool more = level.First(); more; more = level.Next())
    level.GetCurrent()->SetColumnId(level.GetCurrent()->GetColumnId() + offset);
  list.AppendBs2(static_cast<std::int16_t>(kKeyListLength));
  for (size_t i = 0; i < kKeyListLength; ++i) {
    keyParams_.push_back(std::make_unique<SQLParameter>());
    keyParams_.back()->SetType(type->GetType(), type->GetLength(), 1);
    SQLRSSCParameterRef(keyParams_.back().get()).createTokenString(&list, 0, &outerParams_);
  }
  list.AppendTokenString(description_);
  return true;
}

bool SQLRSNetFetch::BindList() {
  std::vector<SQLValueStore> const *values = listed_->HeldValues();
  if (values == nullptr || values->empty()) return false;
  SQLType const type = listParams_[0]->GetType();
  std::vector<SQLValueStore const *> distinct;
  std::vector<std::string> images;
  for (SQLValueStore const &v : *values) {
    if (v.GetType() != type) return false;
    std::string image;
    SQLRSAppendKeyImage(&v, &image);
    if (std::find(images.begin(), images.end(), image) != images.end()) continue;
    if (distinct.size() == kListLength) return false;
    images.push_back(std::move(image));
    distinct.push_back(&v);
  }
  // Unused places repeat the last value: the list is the same.
  for (size_t i = 0; i < kListLength; ++i) {
    listParams_[i]->BindVS(distinct[std::min(i, distinct.size() - 1)]);
    Agent().BindParam(listStatement_, listParams_[i].get());
  }
  return true;
}

bool SQLRSNetFetch::FetchUnlisted() {
  Agent().Break(listStatement_);
  for (auto const &p : listParams_) Agent().BindParam(unlistedStatement_, p.get());
  Agent().BindParams(unlistedStatement_, &parameters_);
  outerParams_.Bind(unlistedStatement_);
  Agent().Exec(unlistedStatement_);
  current_ = unlistedStatement_;
  return Agent().Fetch(current_) != 0;
}

// ---- the optimiser's messages ----

void SQLRSNetFetch::PushHints(SQLHints *hints) {
  unsigned long size;
  if (hints->GetBufferSize(&size)) bufferSize_ = size;
  SQLTokenString part(20);
  part.AppendToken(SQLNWTRSHints);
  SQLRSAppendHintItems(&part, *hints);
  part.AppendToken(SQLNWTTerminator);
  Prepend(part);
  hinted_ = true;
}

SQLRowSource *SQLRSNetFetch::PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) {
  std::unique_ptr<SQLRSNetFetch> self(this);
  *residual = nullptr;
  std::vector<SQLRSSCSearchCondPtr> conjuncts = SQLRSSCTakeConjuncts(condition);
  std::vector<SQLRSSCSearchCondPtr> shipped, rest;
  for (SQLRSSCSearchCondPtr &c : conjuncts)
    (SQLOperatesOnThisDBInstanceVisitor::Holds(c.get(), instance_.get()) ? shipped : rest).push_back(std::move(c));
  if (!rest.empty()) {
    // A conjunct that can fail on a row stays with those that stay here:
    // in the driver it would fail on rows that one of them rejects, and a
    // FALSE operand of an AND decides the row.
    auto const fails = std::stable_partition(shipped.begin(), shipped.end(), [](SQLRSSCSearchCondPtr const &c) {
      return !SQLMayFailVisitor::Holds(c.get());
    });
    std::move(fails, shipped.end(), std::back_inserter(rest));
    shipped.erase(fails, shipped.end());
  }
  if (!shipped.empty()) {
    SQLTokenString part(20);
    part.AppendToken(SQLNWTRSFilter);
    auto ship = [&](int i) {
      SQLRSSCSearchCond *c = shipped[static_cast<size_t>(i)].get();
      AddParametersOf(c);
      c->createTokenString(&part, 0, &outerParams_);
    };
    int const n = static_cast<int>(shipped.size());
    if (n > 1) {
      part.AppendNestedList(SQLNWTSCAnd, n, ship);
    } else {
      ship(0);
    }
    Prepend(part);
  }
  *residual = SQLRSSCConjunction(std::move(rest)).release();
  return self.release();
}

SQLRowSource *SQLRSNetFetch::PullFilter(SQLRSSCSearchCond **condition) {
  *condition = nullptr;
  return this;
}

SQLRowSource *SQLRSNetFetch::PullNullify(intList **columns, SQLRSSCSearchCond **condition) {
  *columns = nullptr;
  *condition = nullptr;
  return this;
}

bool SQLRSNetFetch::PushSort(SQLSortSpecList *specifications) {
  // Beyond the counts of a description the sort stays above.
  if (SQLRSSortItemsLargest(specifications) > SQLTokenString::kMaxListCount) return false;
  SQLTokenString part(20);
  part.AppendToken(SQLNWTRSSort);
  part.AppendBs2(static_cast<std::int16_t>(specifications->NrElements()));
  for (bool more = specifications->First(); more; more = specifications->Next()) {
    SQLSortSpec const &spec = specifications->GetCurrent();
    part.AppendBs2(static_cast<std::int16_t>(spec.GetColumnId()));
    part.AppendToken(spec.IsDescending() ? SQLNWTDescending : SQLNWTAscending);
  }
  Prepend(part);
  sorted_ = true;
  delete specifications;
  return true;
}

SQLRowSource *SQLRSNetFetch::PushGroup(intList *groupingColumns, List<SQLRSGroupSpec> *outputs, bool *accepted) {
  std::unique_ptr<SQLRSNetFetch> self(this);
  *accepted = false;
  // The lists stay the caller's until the grouping is taken.
  intList *columns = groupingColumns;
  List<SQLRSGroupSpec> *specs = outputs;
  // The grouping stays above when it does not fit a description or one of
  // its set functions cannot be evaluated by this driver.
  if (SQLRSGroupItemsLargest(columns, specs) > SQLTokenString::kMaxListCount) return self.release();
  for (bool more = specs->First(); more; more = specs->Next()) {
    SQLRSGroupSpec const &spec = specs->GetCurrent();
    if (spec.GetKind() == SQLRSGroupSpec::kSetFunction && !Ships(spec.GetExpression().Get())) return self.release();
  }
  SQLTokenString part(20);
  part.AppendToken(SQLNWTRSGroup);
  SQLRSAppendGroupItems(&part, columns, specs, 0, &outerParams_);
  std::vector<std::unique_ptr<SQLColumnDescriptor>> owned;
  std::vector<SQLColumnDescriptor const *> row;
  for (bool more = specs->First(); more; more = specs->Next()) {
    SQLRSGroupSpec const &spec = specs->GetCurrent();
    SQLColumnDescriptor d = Nameless(SQL_INTEGER, 0, 1);  // COUNT and COUNT(*)
    if (spec.GetKind() == SQLRSGroupSpec::kGroupingColumn) {
      SQLColumnDescriptor const *in = descriptors_[static_cast<size_t>(spec.GetColumn())];
      d = Nameless(in->GetType(), in->GetLength(), in->GetDepth());
    } else if (spec.GetKind() == SQLRSGroupSpec::kSetFunction) {
      AddParametersOf(spec.GetExpression().Get());
      if (spec.GetFunction() == SQLRSGroupSpec::kAvg) {
        d = Nameless(SQL_REAL, 0, 1);
      } else if (spec.GetFunction() != SQLRSGroupSpec::kCount) {
        SQLColumnDescriptor a = spec.GetExpression()->GetColumnDescriptor();
        d = Nameless(a.GetType(), a.GetLength(), a.GetDepth());
      }
    }
    owned.push_back(std::make_unique<SQLColumnDescriptor>(d));
    row.push_back(owned.back().get());
  }
  Prepend(part);
  ownDescriptors_ = std::move(owned);
  descriptors_ = std::move(row);
  origins_.assign(descriptors_.size(), Origin{-1, -1});
  delete columns;  // taken, and described in the token string
  delete specs;
  *accepted = true;
  return self.release();
}

SQLRowSource *SQLRSNetFetch::PushProject(SQLRSSCValueExprRefPtrList *expressions) {
  std::unique_ptr<SQLRSNetFetch> self(this);
  size_t const n = descriptors_.size();
  std::vector<bool> projected(n, false), needed(n, false);
  std::vector<std::unique_ptr<SQLColumnDescriptor>> owned;
  std::vector<SQLColumnDescriptor const *> row;
  std::vector<Origin> origins;
  auto add = [&](SQLColumnDescriptor const &d, Origin origin) {
    owned.push_back(std::make_unique<SQLColumnDescriptor>(d));
    row.push_back(owned.back().get());
    origins.push_back(origin);
  };
  // A projection longer than a description can count is declined whole:
  // the caller's projection stays above, over every column of this row.
  std::vector<bool> ships;
  int delivered = 0;
  for (bool more = expressions->First(); more; more = expressions->Next()) {
    SQLRSSCValueExpr *e = expressions->GetCurrent().Get();
    ships.push_back(Ships(e));
    if (ships.back()) {
      ++delivered;
      if (SQLRSSCColumnRef *ref = PlainColumn(e, n)) projected[static_cast<size_t>(ref->GetColumnId())] = true;
    } else {
      for (int c : LevelColumns(e))
        if (c >= 0 && static_cast<size_t>(c) < n) needed[static_cast<size_t>(c)] = true;
    }
  }
  for (size_t c = 0; c < n; ++c) delivered += needed[c] && !projected[c] ? 1 : 0;
  if (delivered > SQLTokenString::kMaxListCount) {
    for (bool more = expressions->First(); more; more = expressions->Next()) expressions->DeleteCurrent();
    for (size_t c = 0; c < n; ++c)
      expressions->Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, static_cast<int>(c), descriptors_[c])));
    return self.release();
  }
  size_t i = 0;
  for (bool more = expressions->First(); more; more = expressions->Next(), ++i) {
    SQLRSSCValueExpr *e = expressions->GetCurrent().Get();
    if (ships[i]) {
      SQLRSSCColumnRef const *ref = PlainColumn(e, n);
      add(e->GetColumnDescriptor(), ref != nullptr ? origins_[static_cast<size_t>(ref->GetColumnId())] : Origin{-1, -1});
    } else {
      expressions->DeleteCurrent();
    }
  }
  for (size_t c = 0; c < n; ++c) {
    if (!needed[c] || projected[c]) continue;
    expressions->Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, static_cast<int>(c), descriptors_[c])));
    add(*descriptors_[c], origins_[c]);
  }
  if (expressions->NrElements() == 0) {
    expressions->Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, 0, descriptors_[0])));
    add(*descriptors_[0], origins_[0]);
  }
  SQLTokenString part(20);
  part.AppendToken(SQLNWTRSProject);
  part.AppendBs2(static_cast<std::int16_t>(expressions->NrElements()));
  for (bool more = expressions->First(); more; more = expressions->Next()) {
    SQLRSSCValueExpr *e = expressions->GetCurrent().Get();
    AddParametersOf(e);
    e->createTokenString(&part, 0, &outerParams_);
  }
  Prepend(part);
  ownDescriptors_ = std::move(owned);
  descriptors_ = std::move(row);
  origins_ = std::move(origins);
  return self.release();
}

bool SQLRSNetFetch::RowSetIsPrepared() {
  SQLTokenString part(20);
  part.AppendToken(SQLNWTRSPrepare);
  Prepend(part);
  return true;
}

SQLRowSource *SQLRSNetFetch::CombineJoin(SQLDatabaseInstance **instance, int *tableCount,
                                         List<SQLRSSCSearchCond const *> *, bool *combinable) {
  std::unique_ptr<SQLRSNetFetch> self(this);
  *instance = nullptr;
  *combinable = false;
  *instance = instance_->Copy().release();
  *combinable = true;
  *tableCount = 1;
  return self.release();
}

SQLRSFetch *SQLRSNetFetch::CreateJoin(SQLJoinType type, SQLRowSource *other, SQLRSSCSearchCond *condition) {
  return other->CreateJoin(type, static_cast<SQLRSFetch *>(this), condition);
}

SQLRSFetch *SQLRSNetFetch::CreateJoin(SQLJoinType type, SQLRSFetch *other, SQLRSSCSearchCond *condition) {
  std::unique_ptr<SQLRSNetFetch> self(this);
  std::unique_ptr<SQLRSSCSearchCond> cond(condition);
  std::unique_ptr<SQLRSNetFetch> right(static_cast<SQLRSNetFetch *>(other));
  SQLTokenString part(20);
  part.AppendToken(SQLNWTRSJoin);
  part.AppendJoinType(type);
  if (cond) {
    RequireShippable(cond.get(), instance_.get());
    AddParametersOf(cond.get());
    cond->createTokenString(&part, 0, &outerParams_);
  } else {
    part.AppendToken(SQLNWTNull);
  }
  Prepend(part);
  description_.AppendTokenString(right->description_);
  for (SQLColumnDescriptor const *d : right->descriptors_) descriptors_.push_back(d);
  int const tablesBefore = static_cast<int>(schemas_.size());
  for (Origin o : right->origins_) origins_.push_back(o.table < 0 ? o : Origin{o.table + tablesBefore, o.column});
  TakeOver(right.get());
  holdsJoin_ = true;
  return self.release();
}

SQLRSFetch *SQLRSNetFetch::CreateConstLeftOuterJoin(SQLRSSCSearchCond *condition) {
  std::unique_ptr<SQLRSNetFetch> self(this);
  std::unique_ptr<SQLRSSCSearchCond> cond(condition);
  SQLTokenString part(20);
  part.AppendToken(SQLNWTRSConstLeftOuterJoin);
  if (cond) {
    RequireShippable(cond.get(), instance_.get());
    AddParametersOf(cond.get());
    cond->createTokenString(&part, 0, &outerParams_);
  } else {
    part.AppendToken(SQLNWTNull);
  }
  Prepend(part);
  return self.release();
}

SQLRowSource *SQLRSNetFetch::CreateUnion(SQLRowSource *other, bool all) {
  return other->CreateUnion(static_cast<SQLRSFetch *>(this), all);
}

SQLRowSource *SQLRSNetFetch::CreateUnion(SQLRSFetch *other, bool all) {
  // The other leaf stays the caller's until the union is formed.
  auto *right = static_cast<SQLRSNetFetch *>(other);
  SQLTokenString part(20);
  part.AppendToken(SQLNWTRSUnion);
  part.AppendBs2(all ? 1 : 0);
  Prepend(part);
  description_.AppendTokenString(right->description_);
  std::vector<std::unique_ptr<SQLColumnDescriptor>> owned;
  std::vector<SQLColumnDescriptor const *> row;
  for (size_t i = 0; i < descriptors_.size(); ++i) {
    SQLColumnDescriptor const *l = descriptors_[i];
    SQLColumnDescriptor const *r = right->descriptors_[i];
    SQLType type = l->GetType();
    if (r->GetType() == type || (type == SQL_INTEGER && r->GetType() == SQL_REAL)) type = r->GetType();
    unsigned long length = SQLCommonLength(l->GetLength(), r->GetLength());
    owned.push_back(std::make_unique<SQLColumnDescriptor>(Nameless(type, length, l->GetDepth())));
    row.push_back(owned.back().get());
  }
  TakeOver(right);
  // The new row replaces every descriptor this leaf made before, the right
  // leaf's included.
  ownDescriptors_ = std::move(owned);
  descriptors_ = std::move(row);
  origins_.assign(descriptors_.size(), Origin{-1, -1});
  delete right;
  return this;
}

void SQLRSNetFetch::createTokenString(SQLTokenString *ts, int, SQLRSNetFetchParams *) {
  ts->AppendTokenString(description_);
}

void SQLRSNetFetch::createQPsubquery(SQLColumnRef2QDBColumnIdMap *, SQLRSFetchParameters *, unsigned long) {
  SQLAbort(__FILE__, __LINE__, "Unexpected message SQLRSNetFetch::createQPsubquery");
}

// ---- execution ----

void SQLRSNetFetch::DoPrepare(SQLRSPrepareContext *context) {
  statement_ = Agent().Prepare(description_);
  SQLRSColumnRefScope *scope = context->Scope();
  scope->PushMap(1, std::make_unique<SQLValueStore const *[]>(1));
  scope->PushRowSource(this);
  try {
    outerParams_.Prepare(context);
  } catch (...) {
    scope->PopRowSource();
    scope->PopMap();
    throw;
  }
  scope->PopRowSource();
  scope->PopMap();
  stores_.clear();
  storeAddrs_.clear();
  for (size_t i = 0; i < descriptors_.size(); ++i) {
    stores_.push_back(std::make_unique<SQLValueStore>());
    // The row-set decoder fills an array column element by element.
    if (descriptors_[i]->GetDepth() > 1) stores_.back()->SetDimension(descriptors_[i]->GetDepth());
    storeAddrs_.push_back(stores_.back().get());
  }
  Agent().BindOutput(statement_, static_cast<int>(descriptors_.size()), storeAddrs_.data(), descriptors_.data());
  if (bufferSize_ != 0) Agent().SetBufferSize(statement_, static_cast<int>(bufferSize_));
  held_.Prepare(holdRows_ ? context->Executions() : nullptr, storeAddrs_);
  WatchWrites(held_.Watch());
  replaying_ = false;
  if (!keyParams_.empty()) {
    keyStatement_ = Agent().Prepare(keyDescription_);
    Agent().BindOutput(keyStatement_, static_cast<int>(descriptors_.size()), storeAddrs_.data(), descriptors_.data());
    if (bufferSize_ != 0) Agent().SetBufferSize(keyStatement_, static_cast<int>(bufferSize_));
  }
  if (listed_ != nullptr) {
    listStatement_ = Agent().Prepare(listDescription_);
    unlistedStatement_ = Agent().Prepare(unlistedDescription_);
    for (unsigned long id : {listStatement_, unlistedStatement_}) {
      Agent().BindOutput(id, static_cast<int>(descriptors_.size()), storeAddrs_.data(), descriptors_.data());
      if (bufferSize_ != 0) Agent().SetBufferSize(id, static_cast<int>(bufferSize_));
    }
    listWrites_.Clear();
    listed_->WatchWrites(&listWrites_);
  }
  current_ = statement_;
  unlistedDue_ = false;
}

void SQLRSNetFetch::DoSetMaxRows(int limit) {
  // Held rows are all the rows: the row source's own count keeps the limit.
  if (!holdRows_) Agent().SetMaxRows(statement_, limit);
  if (listStatement_ != 0) Agent().SetMaxRows(listStatement_, limit);
  if (unlistedStatement_ != 0) Agent().SetMaxRows(unlistedStatement_, limit);
  if (keyStatement_ != 0) Agent().SetMaxRows(keyStatement_, limit);
}

void SQLRSNetFetch::DoExec() {
  replaying_ = false;
  if (held_.Enabled() && !held_.Overflowed()) {
    if (!held_.Held()) {
      // The first Exec of the execution reads every row at once.
      Agent().BindParams(statement_, &parameters_);
      outerParams_.Bind(statement_);
      Agent().Exec(statement_);
      held_.Begin();
      bool kept = true;
      while (kept && Agent().Fetch(statement_) != 0) kept = held_.Add();
      Agent().Break(statement_);
      if (kept) held_.Finish();
    }
    if (held_.Held()) {
      held_.Rewind();
      replaying_ = true;
      return;
    }
  }
  // The filter above answered its IN before this Exec (LeavesNoRow): a
  // short list of its values goes to the driver with the description.
  current_ = listed_ != nullptr && BindList() ? listStatement_ : statement_;
  unlistedDue_ = false;
  if (current_ == listStatement_) listWrites_.Mark();
  if (!keyList_.empty()) {
    // Unused places repeat the last value: the list is the same.
    for (size_t i = 0; i < kKeyListLength; ++i) {
      keyParams_[i]->BindVS(keyList_[std::min(i, keyList_.size() - 1)]);
      Agent().BindParam(keyStatement_, keyParams_[i].get());
    }
    current_ = keyStatement_;
  }
  Agent().BindParams(current_, &parameters_);
  outerParams_.Bind(current_);
  Agent().Exec(current_);
}

int SQLRSNetFetch::DoFetch() {
  if (replaying_) return held_.Next() ? 1 : 0;
  if (current_ != listStatement_) return Agent().Fetch(current_);
  // The rows of the list's values: a write of the transaction to the
  // subquery's tables may give the subquery values the list lacks.
  if (!unlistedDue_ && listWrites_.Written()) unlistedDue_ = true;
  if (Agent().Fetch(current_) != 0) return 1;
  return unlistedDue_ && FetchUnlisted() ? 1 : 0;
}

int SQLRSNetFetch::DoSkipRows(int n) {
  return replaying_ || current_ == listStatement_ ? -1 : Agent().SkipRows(current_, n);
}

void SQLRSNetFetch::DoBreak() {
  if (replaying_) {
    replaying_ = false;
    return;
  }
  Agent().Break(current_);
}

void SQLRSNetFetch::DoLog() {
  SQLLogger &log = *SQLLogger::Instance();
  log << "SQLRSNetFetch(" << endl << incind << "Column Descriptors: " << endl << incind;
  for (SQLColumnDescriptor const *d : descriptors_) {
    d->Log();
    log << endl;
  }
  log << decind << "TokenString: " << "\"";
  description_.Log();
  log << "\"" << endl << decind << ")" << endl;
}

void SQLRSNetFetch::DoAcceptVisit(SQLVisitor &visitor) {
  visitor.VisitSQLRSFetch(this);
  visitor.Scope()->PushRowSource(this);
}
