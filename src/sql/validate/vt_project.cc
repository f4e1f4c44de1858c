#include "sql/validate/vt_project.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/rs_project.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_const.h"
#include "sql/validate/clear_unref_key.h"
#include "sql/validate/vt_column_scope.h"
#include "sql/validate/vt_derived_scope.h"
#include "sql/validate/vt_group_scope.h"
#include "sql/validate/vt_multi_compnr_union.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vt_retry_filter.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vt_state.h"
#include "sql/validate/vt_table.h"
#include "sql/validate/vtree_data.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_identifier.h"
#include "sql/validate/vtsc_row_value.h"
#include "sql/validate/vtsc_string_ops.h"
#include "sql/validate/vtsc_support.h"
#include "sql/validate/where_used.h"

void SQLVTProjectItem::CastValueExpr(SQLType type, bool tolerant) {
  SQLVTSCValueExpr *old = valueExpr.Get();
  SQLVTSCValueExpr *cast = old->Cast(type, tolerant);
  // The old node is deleted by Cast or owned by the replacement.
  if (cast != nullptr && cast != old) valueExpr.ReplaceObject(cast);
}

SQLVTProject::SQLVTProject(SQLVTNode *child, SQLVTSelectList *selectList)
    : SQLVTUnaryNode(child), selectList_(selectList), items_(10), descriptors_(10),
      compnrDescriptor_(CompnrDescriptor(false)) {}

SQLVTProject::~SQLVTProject() {
  for (int i = descriptors_.NrElements() - 1; i >= 0; --i) delete descriptors_.Get(i);
}

SQLColumnDescriptor const *SQLVTProject::CompnrDescriptor(bool ansi) {
  static SQLColumnDescriptor const compnr("_compnr", SQL_INTEGER, 0, 1);
  static SQLColumnDescriptor const ansiCompnr("company_nr", SQL_INTEGER, 0, 1);
  return ansi ? &ansiCompnr : &compnr;
}

int SQLVTProject::AddProjectItem(SQLVTProjectItem const &item, SQLColumnDescriptor *descriptor) {
  std::unique_ptr<SQLColumnDescriptor> owned(descriptor);
  descriptors_.Insert(descriptor);
  static_cast<void>(owned.release());
  try {
    items_.Insert(item);
  } catch (...) {
    delete descriptor;
    descriptors_.Get(descriptors_.NrElements() - 1) = nullptr;
    throw;
  }
  return items_.NrElements();
}

SQLColumnDescriptor const *SQLVTProject::GetColumnDescriptor(int column) const {
  if (descriptors_.Get(column) != nullptr) return descriptors_.Get(column);
  SQLVTProjectItem const &item = items_.Get(column);
  if (item.kind == SQLVTProjectItem::Column) return GetChild()->GetColumnDescriptor(item.columnId);
  return compnrDescriptor_;
}

// ---- name resolution ----

namespace {

using OwnedText = std::unique_ptr<char[]>;

OwnedText CopyText(std::string const &text) { return OwnedText(SQLColumnDescriptor::CopyName(text.c_str())); }

bool SameText(char const *a, char const *b) { return a != nullptr && b != nullptr && std::strcmp(a, b) == 0; }

}  // namespace

// The state of one name resolution of a select list.
class SQLVTProject::Resolver {
 public:
  Resolver(SQLVTProject *project, SQLVTScope *scope, SQLVTreeData *treeData, int flags,
           SQLVTWhereUsedMgr *whereUsed)
      : project_(project), scope_(scope), treeData_(treeData), flags_(flags), whereUsed_(whereUsed),
        top_((flags & 1) != 0), exposed_(std::make_unique<DynamicArray<SQLVTExposedColumn>>(10)) {}

  void ResolveItem(SQLVTSelectItem *item);
  void ProjectForUpdateTables();
  // Pops the child's level and pushes the projection's column level.
  void PushColumnLevel();

 private:
  void Target(OwnedText name, bool derived) {
    if (top_) treeData_->AddSelectTarget(name.release(), derived);
  }
  void Expose(SQLVTExposedColumn const &column) { exposed_->Insert(column); }
  void KeepKey(SQLVTNullSpec spec, RefPtr<SQLVTClearUnrefKey> const &key) {
    if (spec != SQL_NULLSPEC_CLEAR_UNREF || !key) return;
    for (auto const &k : keys_) {
      if (k.Get() == key.Get()) return;
    }
    keys_.push_back(key);
  }
  void RegisterColumn(char const *table, char const *column) {
    if (whereUsed_ != nullptr && table != nullptr && column != nullptr) whereUsed_->RegisterColumn(table, column);
  }
  int AddColumnItem(int columnId) {
    SQLVTProjectItem item;
    item.kind = SQLVTProjectItem::Column;
    item.columnId = columnId;
    return project_->AddProjectItem(item, nullptr);
  }

  void SelectAll(SQLVTSelectItem *item);
  void SelectTableAll(SQLVTSelectItem *item);
  void SelectColumn(SQLVTSCIdentifier *identifier, OwnedText target, OwnedText alias, bool named, int line);
  void SelectValueExpr(SQLVTSelectItem *item, OwnedText target, OwnedText alias);
  void SelectCompnr(SQLVTSelectItem *item, OwnedText target, OwnedText alias, bool named);

  // Columns of the column level on top (those exposed under qualifier, or
  // all for null); returns how many.
  int ProjectColumnLevel(char const *qualifier);
  void ProjectTable(SQLVTTableInfo const &table, char const *correlationName, int line);
  void ProjectBaseTable(SQLVTTableInfo const &table);
  void ProjectDerivedTable(SQLVTTableInfo const &table);
  void AddColumnRefItem(SQLVTColumnInfo const &info, char const *alias, OwnedText target, int line);
  void AddCompnrItem(SQLVTTableInfo const &table, char const *alias, OwnedText target);
  void RemapClearUnrefKeys(std::vector<int> *map);

  SQLVTProject *project_;
  SQLVTScope *scope_;
  SQLVTreeData *treeData_;
  int flags_;
  SQLVTWhereUsedMgr *whereUsed_;
  bool top_;
  std::unique_ptr<DynamicArray<SQLVTExposedColumn>> exposed_;
  std::vector<RefPtr<SQLVTClearUnrefKey>> keys_;  // kept clear/unref keys, each once
};

void SQLVTProject::Resolver::ResolveItem(SQLVTSelectItem *item) {
  OwnedText target;
  OwnedText alias;
  bool named = item->GetParameterName() != nullptr || item->GetAlias() != nullptr;
  if (item->GetParameterName() != nullptr) {
    int line = item->GetParameterName()->GetLineNumber();
    OwnedText name(item->ExtractParameterName());
    if (!top_) SQLVTThrow("42I73", std::string("Unexpected select target '") + name.get() + "'", line);
    target = std::move(name);
  }
  if (item->GetAlias() != nullptr) {
    alias.reset(item->ExtractAliasName());
    if (top_ && !target) target = CopyText(alias.get());
  }
  switch (item->GetType()) {
    case SQL_SELECT_ALL:
      SelectAll(item);
      break;
    case SQL_SELECT_TABLE_ALL:
      SelectTableAll(item);
      break;
    case SQL_SELECT_COLUMN:
      SelectColumn(item->GetIdentifier(), std::move(target), std::move(alias), named,
                   item->GetIdentifier()->GetLineNumber());
      break;
    case SQL_SELECT_VALUE_EXPR:
      SelectValueExpr(item, std::move(target), std::move(alias));
      break;
    case SQL_SELECT_COMPNR_COLUMN:
      SelectCompnr(item, std::move(target), std::move(alias), named);
      break;
    default:
      SQLAbort(__FILE__, __LINE__, "Unexpected select item type: %d", static_cast<int>(item->GetType()));
  }
}

int SQLVTProject::Resolver::ProjectColumnLevel(char const *qualifier) {
  int count = 0;
  int n = scope_->GetNumCols();
  for (int i = 0; i < n; ++i) {
    SQLVTColumnInfo info;
    scope_->GetColumnInfoByPos(i, &info);
    if (qualifier != nullptr && !SameText(info.correlationName, qualifier)) continue;
    AddColumnItem(i);
    Expose(SQLVTExposedColumn(info.correlationName, info.descriptor, i, info.baseTable, info.baseColumnName,
                              info.nullSpec, info.key, info.compnrSet));
    Target(nullptr, true);
    KeepKey(info.nullSpec, info.key);
    ++count;
  }
  return count;
}

void SQLVTProject::Resolver::ProjectTable(SQLVTTableInfo const &table, char const *correlationName, int line) {
  if (table.grouped) {
    throw SQLVTNotGroupingColumn(SQLString(correlationName) + SQLString("._compnr"), line);
  }
  if (table.table != nullptr) {
    ProjectBaseTable(table);
  } else {
    ProjectDerivedTable(table);
  }
  KeepKey(table.nullSpec, table.key);
}

void SQLVTProject::Resolver::ProjectBaseTable(SQLVTTableInfo const &info) {
  SQLVTTable const *table = info.table;
  int n = table->GetNumCols();
  for (int j = 0; j < n; ++j) {
    SQLColumnDescriptor const *descriptor = table->GetColumnDescriptor(j);
    int id = info.columnOffset + j;
    AddColumnItem(id);
    Expose(SQLVTExposedColumn(table->GetCorrelationName(), descriptor, id, table, descriptor->GetName(),
                              info.nullSpec, info.key, info.compnrSet));
    Target(CopyText(std::string(table->GetName()) + "." + descriptor->GetName()), true);
    RegisterColumn(table->GetName(), descriptor->GetName());
  }
  AddCompnrItem(info, nullptr, nullptr);
  if (top_ && !treeData_->TableInSelectStarTableList(table->GetTableNumber())) {
    treeData_->AddSelectStarTable(table->GetTableNumber(), table->GetName(),
                                  const_cast<SQLVTTable *>(table)->IsForUpdate());
  }
}

void SQLVTProject::Resolver::ProjectDerivedTable(SQLVTTableInfo const &table) {
  SQLVTScopeLevel *level = table.derivedLevel;
  int n = level->GetNumCols();
  for (int j = 0; j < n; ++j) {
    SQLVTColumnInfo info;
    level->GetColumnInfoByPos(j, &info);
    int id = table.columnOffset + j;
    AddColumnItem(id);
    Expose(SQLVTExposedColumn(info.correlationName, info.descriptor, id, info.baseTable, info.baseColumnName,
                              info.nullSpec, info.key, info.compnrSet));
    Target(nullptr, true);
    KeepKey(info.nullSpec, info.key);
  }
}

namespace {

char const *CorrelationNameOf(SQLVTTableInfo const &info) {
  if (info.table != nullptr) return info.table->GetCorrelationName();
  auto *derived = dynamic_cast<SQLVTDerivedTableScopeLevel *>(info.derivedLevel);
  return derived != nullptr ? derived->GetCorrelationName() : "";
}

}  // namespace

void SQLVTProject::Resolver::SelectAll(SQLVTSelectItem *item) {
  if (scope_->TopLevelIsColumnScopeLevel()) {
    ProjectColumnLevel(nullptr);
    return;
  }
  int n = scope_->GetNumTables();
  for (int i = 0; i < n; ++i) {
    SQLVTTableInfo info;
    scope_->GetTableInfoByPos(i, &info);
    ProjectTable(info, CorrelationNameOf(info), item->GetLineNumber());
  }
}

void SQLVTProject::Resolver::SelectTableAll(SQLVTSelectItem *item) {
  SQLVTSCIdentifier *identifier = item->GetIdentifier();
  char const *name = identifier->GetText();
  int line = identifier->GetLineNumber();
  if (scope_->TopLevelIsColumnScopeLevel()) {
    if (ProjectColumnLevel(name) == 0) SQLVTThrow("42I04", std::string("Unknown table '") + name + "'", line);
    return;
  }
  SQLVTTableInfo info;
  // A table of an enclosing query has no columns in this query's rows.
  if (!scope_->GetTableInfo(name, &info) || info.levelOffset < 0) {
    SQLVTThrow("42I04", std::string("Unknown table '") + name + "'", line);
  }
  ProjectTable(info, name, line);
}

void SQLVTProject::Resolver::SelectColumn(SQLVTSCIdentifier *identifier, OwnedText target, OwnedText alias,
                                          bool named, int line) {
  SQLVTColumnInfo info;
  if (!scope_->GetColumnInfo(identifier, &info, false)) {
    SQLVTThrow("42I03", std::string("Unknown column '") + identifier->GetText() + "'", line);
  }
  if (info.kind == SQLVTColumnInfo::Column) {
    AddColumnRefItem(info, alias.get(), std::move(target), line);
    return;
  }
  if (info.count > 1 && named) {
    SQLVTThrow("42I52",
               std::string("Result parameter defined on multi part combined column '") + identifier->GetText() + "'",
               line);
  }
  std::vector<int> positions(info.positions, info.positions + info.count);
  for (int position : positions) {
    SQLVTColumnInfo member = info;
    member.kind = SQLVTColumnInfo::Column;
    member.position = position;
    member.descriptor = scope_->GetColumnDescriptor(info.levelOffset, position);
    member.baseColumnName = member.descriptor != nullptr ? member.descriptor->GetName() : nullptr;
    AddColumnRefItem(member, alias.get(), std::move(target), line);
    target.reset();
  }
}

void SQLVTProject::Resolver::AddColumnRefItem(SQLVTColumnInfo const &info, char const *alias, OwnedText target,
                                              int line) {
  SQLColumnDescriptor const *source = info.descriptor;
  std::unique_ptr<SQLColumnDescriptor> descriptor;
  if (alias != nullptr) {
    descriptor = SQLColumnDescriptor::Named(alias, source->GetType(), source->GetLength(), source->GetDepth());
  } else {
    descriptor = std::make_unique<SQLColumnDescriptor>(*source);
  }
  SQLColumnDescriptor *own = descriptor.get();
  auto *ref = new SQLVTSCColumnRef(info.levelOffset, info.position, source);
  ref->SetLineNumber(line);
  SQLVTProjectItem item;
  item.kind = SQLVTProjectItem::ValueExpr;
  item.valueExpr = RefPtr<SQLVTSCValueExpr>(ref);
  project_->AddProjectItem(item, descriptor.release());
  Expose(SQLVTExposedColumn(alias != nullptr ? "" : info.correlationName, own,
                            info.levelOffset == 0 ? info.position : -1, info.baseTable, info.baseColumnName,
                            info.nullSpec, info.key, info.compnrSet));
  if (target) {
    Target(std::move(target), false);
  } else if (info.GetBaseTableName() != nullptr && info.baseColumnName != nullptr) {
    Target(CopyText(std::string(info.GetBaseTableName()) + "." + info.baseColumnName), true);
  } else {
    Target(nullptr, true);
  }
  RegisterColumn(info.GetBaseTableName(), info.baseColumnName);
  KeepKey(info.nullSpec, info.key);
}

void SQLVTProject::Resolver::SelectValueExpr(SQLVTSelectItem *item, OwnedText target, OwnedText alias) {
  std::unique_ptr<SQLVTSCValueExpr> expression(item->ExtractValueExpr());
  if (!target && (flags_ & 4) != 0 && expression->IsSubstrOrIndexing()) {
    // An array element keeps the name of its column: table.column(n).
    SQLVTSCSubstrOrIndexing *element = expression->AsSubstrOrIndexing();
    SQLVTSCValueExpr *array = element->GetOperand();
    SQLVTSCValueExpr *index = element->GetValue();
    SQLVTColumnInfo info;
    if (array->IsIdentifier() && index->IsIntegerConst() &&
        scope_->GetColumnInfo(array->AsIdentifier(), &info, false) && info.kind == SQLVTColumnInfo::Column &&
        info.descriptor != nullptr && info.descriptor->GetDepth() > 1 && info.GetBaseTableName() != nullptr &&
        info.baseColumnName != nullptr) {
      std::string name = std::string(info.GetBaseTableName()) + "." + info.baseColumnName + "(" +
                         std::to_string(static_cast<int>(index->AsIntegerConst()->GetInteger())) + ")";
      target = CopyText(name);
    }
  }
  if (!alias && (flags_ & 8) != 0 && expression->IsIdentifier()) {
    alias = CopyText(expression->AsIdentifier()->GetIdentifier());
  }
  SQLVTResolveOperand(&expression, scope_, treeData_, flags_ & ~1, whereUsed_, false);
  SQLTypeSet types;
  expression->GetPossibleTypes(&types);
  types.EliminateDowncastableTypes();
  SQLType type = SQL_UNDEFINED;
  if (!types.GetSuperType(&type)) {
    SQLVTThrow("42T26", "Value expression in SELECT clause has ambiguous type", expression->GetLineNumber());
  }
  OwnedText name = alias ? std::move(alias) : CopyText("");
  std::unique_ptr<SQLColumnDescriptor> descriptor(new SQLColumnDescriptor(name.get(), type, 0, 1, true));
  static_cast<void>(name.release());
  SQLColumnDescriptor *own = descriptor.get();
  SQLVTProjectItem projected;
  projected.kind = SQLVTProjectItem::ValueExpr;
  projected.valueExpr = RefPtr<SQLVTSCValueExpr>(expression.release());
  project_->AddProjectItem(projected, descriptor.release());
  Expose(SQLVTExposedColumn("", own, -1, nullptr, nullptr, SQL_NULLSPEC_NONE, {}, nullptr));
  if (target) {
    Target(std::move(target), false);
  } else {
    Target(nullptr, true);
  }
}

void SQLVTProject::Resolver::SelectCompnr(SQLVTSelectItem *item, OwnedText target, OwnedText alias, bool named) {
  SQLVTSCIdentifier *identifier = item->GetIdentifier();
  char const *qualifier = identifier->GetQualifier();
  int line = identifier->GetLineNumber();
  auto asColumn = [&] { SelectColumn(identifier, std::move(target), std::move(alias), named, line); };
  if (scope_->TopLevelIsColumnScopeLevel()) return asColumn();
  SQLVTTableInfo info;
  if (qualifier == nullptr) {
    int baseTables = 0;
    int n = scope_->GetNumTables();
    for (int i = 0; i < n; ++i) {
      SQLVTTableInfo candidate;
      scope_->GetTableInfoByPos(i, &candidate);
      if (candidate.table == nullptr) continue;
      if (baseTables++ == 0) info = candidate;
    }
    if (baseTables == 0) return asColumn();
    SQLVTColumnInfo column;
    bool ownColumn = baseTables == 1 && scope_->GetColumnInfo(identifier, &column, false) &&
                     column.levelOffset == 0 && column.kind == SQLVTColumnInfo::Column;
    if (baseTables > 1 || ownColumn) {
      SQLVTThrow(vtstate::kAmbiguousColumn,
                 std::string("Ambiguous column reference '") + identifier->GetText() + "'", line);
    }
    if (info.grouped) throw SQLVTNotGroupingColumn(SQLString(identifier->GetText()), line);
  } else {
    if (!scope_->GetTableInfo(qualifier, &info) || info.levelOffset < 0) {
      SQLVTThrow("42I04", std::string("Unknown table '") + qualifier + "'", line);
    }
    if (info.table == nullptr) return asColumn();
    if (info.grouped) throw SQLVTNotGroupingColumn(SQLString(qualifier) + SQLString("._compnr"), line);
  }
  AddCompnrItem(info, alias.get(), std::move(target));
}

void SQLVTProject::Resolver::AddCompnrItem(SQLVTTableInfo const &info, char const *alias, OwnedText target) {
  SQLVTTable const *table = info.table;
  SQLColumnDescriptor const *compnr = project_->compnrDescriptor_;
  std::unique_ptr<SQLColumnDescriptor> descriptor;
  if (alias != nullptr) {
    descriptor = SQLColumnDescriptor::Named(alias, SQL_INTEGER, 0, 1);
  }
  SQLColumnDescriptor const *exposed = descriptor ? descriptor.get() : compnr;
  SQLVTProjectItem item;
  item.kind = SQLVTProjectItem::Compnr;
  item.table = table;
  project_->AddProjectItem(item, descriptor.release());
  Expose(SQLVTExposedColumn(alias != nullptr ? "" : table->GetCorrelationName(), exposed, -1, table,
                            compnr->GetName(), info.nullSpec, info.key, info.compnrSet));
  if (target) {
    Target(std::move(target), false);
  } else {
    Target(CopyText(std::string(table->GetName()) + "." + compnr->GetName()), true);
  }
  RegisterColumn(table->GetName(), compnr->GetName());
}

void SQLVTProject::Resolver::ProjectForUpdateTables() {
  if (!top_ || scope_->TopLevelIsColumnScopeLevel()) return;
  int n = scope_->GetNumTables();
  for (int i = 0; i < n; ++i) {
    SQLVTTableInfo info;
    scope_->GetTableInfoByPos(i, &info);
    if (info.table == nullptr || !info.IsForUpdate()) continue;
    if (treeData_->TableInSelectStarTableList(info.table->GetTableNumber())) continue;
    ProjectTable(info, info.table->GetCorrelationName(), project_->GetLineNumber());
  }
}

void SQLVTProject::Resolver::RemapClearUnrefKeys(std::vector<int> *map) {
  for (auto const &key : keys_) {
    SQLVTSCRowValueConstr *row = key->GetForeignKey();
    if (row == nullptr) continue;
    for (bool more = row->First(); more; more = row->Next()) {
      auto *ref = dynamic_cast<SQLVTSCColumnRef *>(row->GetCurrent());
      if (ref == nullptr || ref->GetLevel() != 0) continue;
      int id = ref->GetColumnId();
      if (id < 0) continue;
      if (static_cast<size_t>(id) >= map->size()) map->resize(static_cast<size_t>(id) + 1, -1);
      int &mapped = (*map)[static_cast<size_t>(id)];
      if (mapped == -1) mapped = AddColumnItem(id) - 1;  // a hidden column behind the result
      SQLColumnIdMappingList mappings;
      mappings.Append(SQLColumnIdMapping(id, id, mapped - id));
      ref->MapColumnIds(0, &mappings);
    }
  }
}

void SQLVTProject::Resolver::PushColumnLevel() {
  std::unique_ptr<SQLVTScopeLevel> popped(scope_->Pop());
  int childColumns = popped->GetNumCols();
  std::vector<int> map(static_cast<size_t>(childColumns > 0 ? childColumns : 0), -1);
  for (int i = 0; i < exposed_->NrElements(); ++i) {
    int id = exposed_->Get(i).GetSourceColumnId();
    if (id >= 0 && static_cast<size_t>(id) < map.size()) map[static_cast<size_t>(id)] = i;
  }
  RemapClearUnrefKeys(&map);
  auto idMap = std::make_unique<int[]>(static_cast<size_t>(childColumns > 0 ? childColumns : 1));
  for (int i = 0; i < childColumns; ++i) idMap[static_cast<size_t>(i)] = map[static_cast<size_t>(i)];
  auto *level = new SQLVTColumnScopeLevel(exposed_.release(), popped.release(), idMap.release());
  scope_->Push(level);
}

SQLVTNode *SQLVTProject::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                             List<char const *> *restrictedQualifiers,
                                             SQLVTWhereUsedMgr *whereUsed) {
  compnrDescriptor_ = CompnrDescriptor((flags & 16) != 0);
  List<char const *> local;
  if (restrictedQualifiers != nullptr && restrictedQualifiers->NrElements() > 0) {
    restrictedQualifiers->First();
    char const *first = restrictedQualifiers->GetCurrent();
    for (int i = 0; i < selectList_->NrItems(); ++i) {
      SQLVTSelectItem *item = selectList_->GetItem(i);
      char const *qualifier = nullptr;
      if (item->GetType() == SQL_SELECT_COMPNR_COLUMN) qualifier = item->GetIdentifier()->GetQualifier();
      if (item->GetType() == SQL_SELECT_TABLE_ALL) qualifier = item->GetIdentifier()->GetText();
      if (item->GetType() == SQL_SELECT_ALL) qualifier = first;
      if (qualifier != nullptr) local.Append(qualifier);
    }
  }
  ReplaceChild(GetChild()->MapColumnNamesToIds(scope, treeData, flags & ~1, &local, whereUsed));
  bool top = (flags & 1) != 0;
  if (top) {
    treeData->CreateSelectTargetList();
    treeData->CreateSelectStarTableList();
  }
  Resolver resolver(this, scope, treeData, flags, whereUsed);
  for (int i = 0; i < selectList_->NrItems(); ++i) resolver.ResolveItem(selectList_->GetItem(i));
  resolver.ProjectForUpdateTables();
  resolver.PushColumnLevel();
  ReplaceChild(GetChild()->RemoveNotDefinitiveGroupNode());
  selectList_.reset();
  return this;
}

// ---- validation and execution ----

void SQLVTProject::ValidateTypes() const {
  auto *self = const_cast<SQLVTProject *>(this);  // the items are rewritten in place
  for (int i = 0; i < items_.NrElements(); ++i) {
    SQLVTProjectItem &item = self->items_.Get(i);
    if (item.kind != SQLVTProjectItem::ValueExpr) continue;
    item.valueExpr->ValidateTypes();
    item.CastValueExpr(GetColumnDescriptor(i)->GetType(), false);
  }
  GetChild()->ValidateTypes();
}

void SQLVTProject::ValidateArrayUsage() const {
  for (int i = 0; i < items_.NrElements(); ++i) {
    SQLVTProjectItem const &item = items_.Get(i);
    if (item.kind == SQLVTProjectItem::ValueExpr) item.valueExpr->ValidateArrayUsage();
  }
  GetChild()->ValidateArrayUsage();
}

SQLRowSource *SQLVTProject::DoCreateRS() {
  std::unique_ptr<SQLRowSource> rs(GetChild()->CreateRS());
  auto expressions = std::make_unique<pSQLRSSCValueExprList>();
  try {
    for (int i = 0; i < items_.NrElements(); ++i) {
      SQLVTProjectItem const &item = items_.Get(i);
      std::unique_ptr<SQLRSSCValueExpr> e;  // owned here until the list holds it
      switch (item.kind) {
        case SQLVTProjectItem::ValueExpr:
          e.reset(item.valueExpr->CreateRS());
          break;
        case SQLVTProjectItem::Column:
          e.reset(new SQLRSSCColumnRef(0, item.columnId, rs->GetColumnDescriptor(item.columnId)));
          break;
        case SQLVTProjectItem::Compnr:
          e.reset(new SQLRSSCIntegerConst(item.table->GetLogicalCompnr()));
          break;
        default:
          SQLAbort(__FILE__, __LINE__, "Unknown project item type: %d", static_cast<int>(item.kind));
      }
      expressions->Append(e.get());
      static_cast<void>(e.release());
    }
    // The project owns its arguments once it is allocated, also when its
    // construction fails; an allocation that fails leaves them here.
    return new SQLRSProject(rs.release(), expressions.release());
  } catch (...) {
    if (expressions != nullptr) {
      for (bool more = expressions->First(); more; more = expressions->Next())
        delete expressions->GetCurrent();
    }
    throw;
  }
}

SQLVTRetryFilter *SQLVTProject::BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) {
  // The per-company union is a UNION ALL: it refuses a RETRY clause as a
  // UNION does (42I74).
  if (dynamic_cast<SQLVTMultiCompnrUnion *>(GetChild()) != nullptr) GetChild()->BuildRetryFilter(type, specs);
  for (bool more = specs->First(); more; more = specs->Next()) {
    SQLRetrySpec &spec = specs->GetCurrent();
    SQLVTProjectItem const &item = items_.Get(spec.position);
    switch (item.kind) {
      case SQLVTProjectItem::Compnr:
        SQLVTThrow("42I75", "RETRY clause cannot be used in an ORDER BY clause that references a _compnr", 0);
      case SQLVTProjectItem::Column:
        spec.columnId = item.columnId;
        break;
      case SQLVTProjectItem::ValueExpr:
        if (!item.valueExpr->IsColumnRef()) {
          SQLVTThrow("42I75",
                     "RETRY clause cannot be used in an ORDER BY clause that references a generic value expression",
                     0);
        }
        spec.columnId = static_cast<SQLVTSCColumnRef *>(item.valueExpr.Get())->GetColumnId();
        break;
    }
  }
  std::unique_ptr<SQLVTSCSearchCond> condition(SQLVTBuildRetryCondition(GetChild(), type, specs));
  auto *filter = new SQLVTRetryFilter(GetChild());
  static_cast<void>(ExtractChild());
  ReplaceChild(filter);
  filter->SetFilter(condition.release());
  return filter;
}

void SQLVTProject::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "VTProject(" << endl << incind;
  if (selectList_) {
    if (tracing) {
      log << "SelectList:";
      if (selectList_->GetContainsAggregate()) log << " (aggregate)";
      if (selectList_->GetContainsNonCountAggregate()) log << " (non-COUNT aggregate)";
      log << endl << incind;
    }
    for (int i = 0; i < selectList_->NrItems(); ++i) {
      selectList_->GetItem(i)->Log();
      if (tracing) log << endl;
    }
    if (tracing) log << decind;
  } else {
    if (tracing) log << "Projection:" << endl << incind;
    for (int i = 0; i < items_.NrElements(); ++i) {
      SQLVTProjectItem const &item = items_.Get(i);
      switch (item.kind) {
        case SQLVTProjectItem::ValueExpr:
          item.valueExpr->Log();
          break;
        case SQLVTProjectItem::Column:
          if (tracing) log << item.columnId;
          break;
        case SQLVTProjectItem::Compnr:
          if (tracing) log << item.table->GetName() << "._compnr";
          break;
        default:
          SQLAbort(__FILE__, __LINE__, "Unknown project item type: %d", static_cast<int>(item.kind));
      }
      if (tracing) log << endl;
    }
    if (tracing) log << decind;
  }
  LogHintsAndChild("Child:");
  if (tracing) log << decind << ")" << endl;
}
