// The join tree of a FROM clause.
//
// Without REFERS TO predicates each reference resolves itself and the
// references are joined INNER in FROM-clause order, with a pair scope level
// per join. With predicates every reference is a base table: the predicates
// are resolved against one level of all tables at their FROM-clause
// positions and become references between tables (a reference path adds
// hidden tables). The reference graph is sorted topologically; walking that
// order, each table moves to the next free position of the joined row, a
// mapping records the shift, and the conditions built so far (the reference
// conditions and the comparisons that only filter) are renumbered through
// it before they are placed. A referred table is joined LEFT OUTER on its
// reference's condition, a table that constants refer to becomes a constant
// left outer join of its own, and all others are joined INNER.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dbc/dict/dd.h"
#include "molvane/dd.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_schema.h"
#include "sql/validate/join_graph.h"
#include "sql/validate/resolve_flags.h"
#include "sql/validate/vt_filter.h"
#include "sql/validate/vt_join.h"
#include "sql/validate/vt_multi_join.h"
#include "sql/validate/vt_pair_scope.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vt_state.h"
#include "sql/validate/vt_table.h"
#include "sql/validate/vt_table_scope.h"
#include "sql/validate/vtree_data.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_comparison.h"
#include "sql/validate/vtsc_compnr.h"
#include "sql/validate/vtsc_connectives.h"
#include "sql/validate/vtsc_refers.h"
#include "sql/validate/vtsc_row_value.h"
#include "sql/validate/vtsc_support.h"
#include "sql/validate/where_used.h"

namespace {

// Replaces *tree by a join of it (left) and right; the join takes both over.
void JoinInto(std::unique_ptr<SQLVTNode> *tree, SQLJoinType type, std::unique_ptr<SQLVTNode> right,
              std::unique_ptr<SQLVTSCSearchCond> condition) {
  auto join = std::make_unique<SQLVTJoin>(type, tree->get(), right.get(), condition.get());
  static_cast<void>(tree->release());
  static_cast<void>(right.release());
  static_cast<void>(condition.release());
  *tree = std::move(join);
}

// Appends a reference to column `id` of level 0 to row.
void AppendColumnRef(SQLVTSCRowValueConstr *row, int id, SQLColumnDescriptor const *descriptor) {
  auto ref = std::make_unique<SQLVTSCColumnRef>(0, id, descriptor);
  row->Append(ref.get());
  static_cast<void>(ref.release());
}

std::unique_ptr<char[]> CopyName(char const *name) {
  auto copy = std::make_unique<char[]>(std::strlen(name) + 1);
  std::strcpy(copy.get(), name);
  return copy;
}

// The text of a dictionary column name "table.column".
std::string FullName(std::string const &table, std::string const &column) { return table + "." + column; }

}  // namespace

SQLUnrefMode SQLVTUnrefModeOfReference(unsigned mode, char const *column) {
  switch (mode & 0x3) {
    case 1: return SQL_UNREF_SET_UNREF;
    case 2: return SQL_UNREF_CLEAR_UNREF;
    case 3: return SQL_UNREF_CLEAR;
    default: break;
  }
  throw SQLException("QP999", 304,
                     SQLString("Unexpected reference mode 0 of column '") + SQLString(column) +
                         SQLString("' in the data dictionary"));
}

SQLVTNode *SQLVTMultiJoin::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                               List<char const *> *restricted, SQLVTWhereUsedMgr *whereUsed) {
  bool const ansi = (flags & vtflags::kAnsi) != 0;
  // In the ANSI mode the qualifiers of this clause's own restrictions join
  // those of the enclosing query.
  List<char const *> qualifiers;
  if (ansi) {
    for (bool more = restricted != nullptr && restricted->First(); more; more = restricted->Next())
      qualifiers.Append(restricted->GetCurrent());
    for (int i = 0; compnrSpecs_ && i < compnrSpecs_->NrElements(); ++i) {
      SQLVTSCCompnrSpec *spec = compnrSpecs_->Get(i);
      qualifiers.Append(spec->GetColumn()->GetQualifier());
      SQLVTSCIdentifier const *other = nullptr;
      if (spec->GetIdentifier(&other)) qualifiers.Append(other->GetQualifier());
    }
  }
  if (references_.NrElements() == 0) SQLVTThrow(vtstate::kFromClauseMissing, "FROM clause is missing", GetLineNumber());
  std::unique_ptr<SQLVTNode> tree;
  if (HasRefersTo()) {
    if (!HasOnlyBaseTables()) {
      SQLVTThrow(vtstate::kRefersBesideJoin,
                 "REFERS TO predicates cannot be combined with a joined table or a derived table in the FROM clause",
                 refers_->Get(0)->GetLineNumber());
    }
    tree.reset(CreateJoinTree(scope, treeData, (flags & vtflags::kClearUnref) != 0, whereUsed));
  } else {
    tree.reset(CreateANSIJoinTree(scope, treeData, flags, ansi ? &qualifiers : restricted, whereUsed));
  }
  if (compnrSpecs_ && compnrSpecs_->NrElements() > 0) {
    if (ansi) {
      RestrictTableCompnrSets(scope);
    } else {
      SetCompnrFromCompnrSpecs();
    }
  }
  if (whereUsed != nullptr) GenerateWhereUsedInfo(whereUsed);
  SQLVTNode *result = tree.release();
  delete this;
  return result;
}

SQLVTNode *SQLVTMultiJoin::CreateANSIJoinTree(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                              List<char const *> *restricted, SQLVTWhereUsedMgr *whereUsed) {
  std::unique_ptr<SQLVTNode> tree;
  std::unique_ptr<SQLVTScopeLevel> level;
  for (int i = 0; i < references_.NrElements(); ++i) {
    std::unique_ptr<SQLVTNode> node(
        references_.Get(i)->MapColumnNamesToIds(scope, treeData, flags, restricted, whereUsed));
    std::unique_ptr<SQLVTScopeLevel> next(scope->Pop());
    if (!tree) {
      tree = std::move(node);
      level = std::move(next);
      continue;
    }
    JoinInto(&tree, SQL_JOIN_INNER, std::move(node), nullptr);
    auto pair = std::make_unique<SQLVTPairScopeLevel>(level.get(), next.get());
    static_cast<void>(level.release());
    static_cast<void>(next.release());
    level = std::move(pair);
  }
  scope->Push(level.release());
  return tree.release();
}

void SQLVTMultiJoin::CreateScope(SQLVTScope *scope, bool allTables, bool applyUnrefModes) {
  auto level = std::make_unique<SQLVTTableScopeLevel>(true);
  for (allTables ? IterStartAll() : IterStartExposed(); !IterAtEnd(); IterToNext())
    AddTableToScopeLevel(level.get(), IterGetTable(), applyUnrefModes);
  scope->Push(level.release());
}

void SQLVTMultiJoin::AddTableToScopeLevel(SQLVTTableScopeLevel *level, SQLPTTable *table, bool applyUnrefModes) {
  SQLVTNullSpec nullSpec = SQL_NULLSPEC_NONE;
  if (applyUnrefModes) {
    switch (table->GetUnrefMode()) {
      case SQL_UNREF_NONE:
      case SQL_UNREF_SKIP: nullSpec = SQL_NULLSPEC_NONE; break;
      case SQL_UNREF_CLEAR: nullSpec = SQL_NULLSPEC_CLEAR; break;
      case SQL_UNREF_CLEAR_UNREF: nullSpec = SQL_NULLSPEC_CLEAR_UNREF; break;
      case SQL_UNREF_SET_UNREF: nullSpec = SQL_NULLSPEC_SET_UNREF; break;
      default: SQLAbort(__FILE__, __LINE__, "Unexpected unrefMode %d", static_cast<int>(table->GetUnrefMode()));
    }
  }
  level->AppendExposedTable(
      SQLVTExposedTable(table->GetBaseTable(), table->GetColumnIdOffset(), nullSpec, table->GetClearUnrefKey()));
}

SQLVTNode *SQLVTMultiJoin::CreateJoinTree(SQLVTScope *scope, SQLVTreeData *treeData, bool applyUnrefModes,
                                          SQLVTWhereUsedMgr *whereUsed) {
  CreateScope(scope, true, applyUnrefModes);
  ReferenceArray references;
  std::unique_ptr<SQLVTSCSearchCond> remaining;
  CreateReferences(&references, &remaining, scope, treeData, applyUnrefModes, whereUsed);

  Graph graph(references_.NrElements());
  for (std::unique_ptr<SQLPTReference> &reference : references) {
    SQLPTTable *referred = GetPTTable(reference->GetReferred());
    SQLPTReference *earlier = referred->GetReferringReference();
    if (earlier == nullptr) {
      referred->SetReferringReference(reference.get());
      if (!reference->IsConstantOuterJoin()) graph.AddEdge(reference->GetReferring(), reference->GetReferred());
    } else if (earlier->GetReferring() != reference->GetReferring()) {
      SQLVTThrow(vtstate::kReferredTwice,
                 std::string("Table '") + referred->GetCorrelationName() + "' is referred to by different tables", 0);
    } else {
      // Two references between the same tables: one join on both conditions.
      std::unique_ptr<SQLVTSCSearchCond> mine(reference->ExtractJoinCond());
      std::unique_ptr<SQLVTSCSearchCond> theirs(earlier->ExtractJoinCond());
      auto both = std::make_unique<SQLVTSCAnd>(std::move(mine), std::move(theirs));
      auto combined = std::make_unique<SQLPTReference>(reference->GetReferring(), reference->GetReferred(),
                                                       both.get(), SQL_UNREF_CLEAR);
      static_cast<void>(both.release());
      referred->SetReferringReference(combined.get());
      reference = std::move(combined);
    }
  }
  std::unique_ptr<intList> order;
  try {
    order.reset(graph.TopSort());
  } catch (GraphExCycle const &) {
    SQLVTThrow(vtstate::kReferenceCycle, "Cycle in REFERS TO predicates", 0);
  }

  std::unique_ptr<SQLVTNode> tree;
  SQLColumnIdMappingList mappings;
  int running = 0;
  for (bool more = order->First(); more; more = order->Next()) {
    SQLPTTable *table = GetPTTable(order->GetCurrent());
    int const offset = table->GetColumnIdOffset();
    int const columns = table->GetBaseTable()->GetNumCols();
    if (offset != running) mappings.Append(SQLColumnIdMapping(offset, offset + columns - 1, running - offset));
    std::unique_ptr<SQLVTNode> node(table->ExtractVTTable());
    SQLPTReference *reference = table->GetReferringReference();
    if (reference == nullptr || !reference->IsConstantOuterJoin()) {
      if (!tree) {
        tree = std::move(node);
      } else if (reference == nullptr) {
        JoinInto(&tree, SQL_JOIN_INNER, std::move(node), nullptr);
      } else {
        std::unique_ptr<SQLVTSCSearchCond> condition(reference->ExtractJoinCond());
        condition->MapColumnIds(0, &mappings);
        JoinInto(&tree, SQL_JOIN_LEFT, std::move(node), std::move(condition));
      }
    } else {
      // The constant row is joined with the table alone: its condition
      // reads the table's columns from position 0.
      std::unique_ptr<SQLVTSCSearchCond> condition(reference->ExtractJoinCond());
      if (offset != 0) {
        SQLColumnIdMappingList shift;
        shift.Append(SQLColumnIdMapping(offset, offset + columns - 1, -offset));
        condition->MapColumnIds(0, &shift);
      }
      std::unique_ptr<SQLVTNode> constJoin(new SQLVTConstLeftOuterJoin(node.get(), condition.get()));
      static_cast<void>(node.release());
      static_cast<void>(condition.release());
      if (tree) {
        JoinInto(&tree, SQL_JOIN_INNER, std::move(constJoin), nullptr);
      } else {
        tree = std::move(constJoin);
      }
    }
    if (table->GetUnrefMode() == SQL_UNREF_CLEAR_UNREF && table->GetClearUnrefKey()) {
      SQLVTSCRowValueConstr *key = table->GetClearUnrefKey()->GetForeignKey();
      if (key != nullptr) key->MapColumnIds(0, &mappings);
    }
    running = table->SetColumnIdOffset(running);
  }
  if (remaining) {
    remaining->MapColumnIds(0, &mappings);
    auto filter = std::make_unique<SQLVTFilter>(tree.get(), remaining.get());
    static_cast<void>(tree.release());
    static_cast<void>(remaining.release());
    tree = std::move(filter);
  }
  delete scope->Pop();
  CreateScope(scope, false, applyUnrefModes);
  return tree.release();
}

void SQLVTMultiJoin::CreateReferences(ReferenceArray *references, std::unique_ptr<SQLVTSCSearchCond> *remaining,
                                      SQLVTScope *scope, SQLVTreeData *treeData, bool applyUnrefModes,
                                      SQLVTWhereUsedMgr *whereUsed) {
  int keyNumber = 0;
  for (int p = 0; p < refers_->NrElements(); ++p) {
    SQLVTSCRefers *predicate = refers_->Get(p);
    std::unique_ptr<SQLVTSCRowValueConstr> from(predicate->ExtractFrom());
    SQLVTSCRowValueConstr *resolved = from->MapColumnNamesToIds(scope, treeData, 0, whereUsed);
    if (resolved != from.get()) {
      static_cast<void>(from.release());  // replaced and deleted by the resolution
      from.reset(resolved);
    }
    int referring = FindTableForRowValueConstr(from.get());
    std::string fkTable;
    std::string fkColumn;
    FindForeignKeyName(referring, from.get(), predicate->GetFromForeignKey(), &fkTable, &fkColumn);

    pSQLVTSCIdentifierDelArray *path = predicate->GetPath();
    for (int e = 0; path != nullptr && e < path->NrElements(); ++e) {
      SQLVTSCIdentifier *element = path->Get(e);
      char const *tableName = element->GetQualifier();
      if (tableName == nullptr) {
        SQLVTThrow(vtstate::kInvalidPathElement, std::string("Invalid reference path element '") + element->GetText() + "'",
                   element->GetLineNumber());
      }
      std::unique_ptr<SQLVTTable> table;
      try {
        std::unique_ptr<char[]> copy = CopyName(tableName);
        table.reset(new SQLVTTable(copy.release(), nullptr, false));
      } catch (SQLSchemaExNotExists const &) {
        SQLVTThrow(vtstate::kUnknownTable, std::string("Unknown table '") + tableName + "'", element->GetLineNumber());
      }
      table->SetLineNumber(element->GetLineNumber());
      table->InitializeCompnr(treeData);
      SQLVTTable *node = table.get();
      std::unique_ptr<SQLPTTable> hidden(new SQLPTTable(table.release(), true));
      hidden->SetLineNumber(element->GetLineNumber());
      treeData->AddTable(node);
      int index = 0;
      try {
        index = AddTableReference(hidden.release(), false);
      } catch (...) {
        treeData->RemoveLastTable();  // the table is gone with its reference
        throw;
      }
      int offset = GetPTTable(index)->GetColumnIdOffset();
      std::unique_ptr<SQLVTSCRowValueConstr> to(CreateRowValueConstr(node, offset, "_index1"));
      if (!to) {
        SQLVTThrow(vtstate::kUnknownColumn, std::string("Unknown column '") + tableName + "._index1'", element->GetLineNumber());
      }
      std::unique_ptr<SQLVTSCRowValueConstr> next(CreateRowValueConstr(node, offset, element->GetIdentifier()));
      if (!next) {
        SQLVTThrow(vtstate::kUnknownColumn, std::string("Unknown column '") + element->GetText() + "'",
                   element->GetLineNumber());
      }
      GetPTTable(index)->SetUnrefMode(SQL_UNREF_CLEAR);
      AddReference(references, remaining, predicate, referring, index, SQL_UNREF_CLEAR, std::move(from), std::move(to),
                   &keyNumber);
      from = std::move(next);
      referring = index;
      fkTable = tableName;
      fkColumn = element->GetIdentifier();
    }

    SQLVTSCIdentifier *target = predicate->GetTo();
    char const *tableName = target->GetQualifier() != nullptr ? target->GetQualifier() : target->GetText();
    char const *indexName = target->GetQualifier() != nullptr ? target->GetIdentifier() : nullptr;
    int index = FindExposedTableByName(tableName);
    if (index == -1) {
      SQLVTThrow(vtstate::kUnknownTable, std::string("Unknown table '") + tableName + "'", target->GetLineNumber());
    }
    SQLPTTable *targetTable = GetPTTable(index);
    std::unique_ptr<SQLVTSCRowValueConstr> to(CreateRowValueConstr(
        targetTable->GetBaseTable(), targetTable->GetColumnIdOffset(), indexName != nullptr ? indexName : "_index1"));
    if (!to) {
      SQLVTThrow(vtstate::kUnknownColumn, std::string("Unknown column '") + target->GetText() + "'", target->GetLineNumber());
    }
    SQLUnrefMode mode = predicate->GetUnrefMode();
    if (mode == SQL_UNREF_AUTO) {
      mode = fkColumn.empty() ? SQL_UNREF_NONE
                              : GetUnrefModeFromDD(fkTable, fkColumn, targetTable->GetBaseName(), indexName);
      if (mode == SQL_UNREF_NONE) mode = SQL_UNREF_SET_UNREF;
    }
    if (!applyUnrefModes && mode != SQL_UNREF_SKIP) mode = SQL_UNREF_CLEAR;
    // A table referred to twice takes the mode both references allow.
    SQLUnrefMode const held = targetTable->GetUnrefMode();
    if (held == SQL_UNREF_SKIP || mode == SQL_UNREF_SKIP) {
      mode = SQL_UNREF_SKIP;
    } else if (held == SQL_UNREF_CLEAR_UNREF) {
      mode = SQL_UNREF_CLEAR;
    } else if (held != SQL_UNREF_NONE && held != mode) {
      mode = SQL_UNREF_CLEAR;
    }
    targetTable->SetUnrefMode(mode);
    AddReference(references, remaining, predicate, referring, index, mode, std::move(from), std::move(to),
                 &keyNumber);
  }
}

void SQLVTMultiJoin::AddReference(ReferenceArray *references, std::unique_ptr<SQLVTSCSearchCond> *remaining,
                                  SQLVTSCRefers *predicate, int referring, int referred, SQLUnrefMode mode,
                                  std::unique_ptr<SQLVTSCRowValueConstr> from,
                                  std::unique_ptr<SQLVTSCRowValueConstr> to, int *keyNumber) {
  SQLPTTable *table = GetPTTable(referred);
  if (mode != SQL_UNREF_CLEAR_UNREF) table->SetClearUnrefKey(RefPtr<SQLVTClearUnrefKey>());
  // A row value longer or shorter than the key compares the common prefix.
  int const common = std::min(from->NrElements(), to->NrElements());
  from->Truncate(common);
  to->Truncate(common);
  if (mode == SQL_UNREF_CLEAR_UNREF) {
    table->SetClearUnrefKey(RefPtr<SQLVTClearUnrefKey>(new SQLVTClearUnrefKey(*keyNumber, from->Copy())));
    ++*keyNumber;
  }
  std::unique_ptr<SQLVTSCSearchCond> condition(new SQLVTSCComparison(from.get(), SQLVTSC_EQUAL, to.get()));
  static_cast<void>(from.release());
  static_cast<void>(to.release());
  condition->SetLineNumber(predicate->GetLineNumber());
  if (predicate->GetUnrefMode() != SQL_UNREF_SKIP) {
    // The reference's memory is had before it takes the condition over; a
    // failing append deletes the reference with its condition, once.
    std::unique_ptr<SQLPTReference> reference(
        new SQLPTReference(referring, referred, condition.release(), SQL_UNREF_CLEAR));
    references->push_back(std::move(reference));
  } else if (*remaining) {
    auto both = std::make_unique<SQLVTSCAnd>(std::move(*remaining), std::move(condition));
    *remaining = std::move(both);
  } else {
    *remaining = std::move(condition);
  }
}

int SQLVTMultiJoin::FindTableForRowValueConstr(SQLVTSCRowValueConstr *row) {
  int const line = row->GetLineNumber();
  bool const columns = row->First() && row->GetCurrent()->IsColumnRef();
  int table = -1;
  bool first = true;
  for (bool more = row->First(); more; more = row->Next()) {
    SQLVTSCValueExpr *element = row->GetCurrent();
    if (columns != element->IsColumnRef() || (!columns && !element->IsConstant())) {
      SQLVTThrow(vtstate::kMixedReferenceOperand, "Combined reference operand must contain only constants or only columns",
                 line);
    }
    if (!columns) continue;
    auto *column = static_cast<SQLVTSCColumnRef *>(element);
    // The reference joins tables of this query only: a column of a query
    // around it has an id of that query's tables, not of these.
    if (column->GetLevel() != 0) {
      SQLVTThrow(vtstate::kOuterReferenceOperand,
                 std::string("Outer column reference '") + column->GetColumnDescriptor()->GetName() +
                     "' used in REFERS TO predicate",
                 line);
    }
    int index = FindExposedTableByColumnId(column->GetColumnId());
    if (!first && index != table) {
      SQLVTThrow(vtstate::kReferenceOperandTables, "Columns in combined reference operand cannot be of different tables.",
                 line);
    }
    table = index;
    first = false;
  }
  return table;
}

int SQLVTMultiJoin::FindExposedTableByName(char const *name) {
  for (int i = 0; i < references_.NrElements(); ++i) {
    SQLPTTable *table = GetPTTable(i);
    if (table != nullptr && !table->IsHidden() && std::strcmp(table->GetCorrelationName(), name) == 0) return i;
  }
  return -1;
}

int SQLVTMultiJoin::FindExposedTableByColumnId(int id) {
  for (int i = 0; i < references_.NrElements(); ++i) {
    SQLPTTable *table = GetPTTable(i);
    int const offset = table->GetColumnIdOffset();
    if (offset <= id && id < offset + table->GetBaseTable()->GetNumCols()) return i;
  }
  return -1;
}

void SQLVTMultiJoin::FindForeignKeyName(int referring, SQLVTSCRowValueConstr *row, SQLVTSCIdentifier *element,
                                        std::string *table, std::string *column) {
  table->clear();
  column->clear();
  if (referring != -1) {
    if (element != nullptr) {
      SQLVTThrow(vtstate::kReferenceFromClause,
                 std::string("Reference FROM clause '") + element->GetText() + "' used with non-constant reference",
                 element->GetLineNumber());
    }
    *table = GetPTTable(referring)->GetBaseName();
    if (row->GetType() == SQL_ROW_VALUE_PSEUDO_COLUMN) {
      *column = static_cast<SQLVTSCPseudoColRowValueConstr *>(row)->GetName();
    } else if (row->NrElements() == 1 && row->First() && row->GetCurrent()->IsColumnRef()) {
      *column = static_cast<SQLVTSCColumnRef *>(row->GetCurrent())->GetColumnDescriptor()->GetName();
    }
    return;
  }
  if (element == nullptr) return;
  char const *q = element->GetQualifier();
  if (q == nullptr) {
    SQLVTThrow(vtstate::kReferenceFromClause, std::string("Invalid reference FROM clause element '") + element->GetText() + "'",
               element->GetLineNumber());
  }
  DD_TABLE *dd = dd_table_or_throw(q);
  if (dd == nullptr) {
    SQLVTThrow(vtstate::kUnknownTable, std::string("Unknown table '") + q + "' in reference FROM clause",
               element->GetLineNumber());
  }
  if (ddcolumn_by_ddtable(dd, element->GetIdentifier()) == nullptr) {
    SQLVTThrow(vtstate::kUnknownColumn, std::string("Unknown column '") + element->GetIdentifier() + "' in reference FROM clause",
               element->GetLineNumber());
  }
  *table = q;
  *column = element->GetIdentifier();
}

SQLUnrefMode SQLVTMultiJoin::GetUnrefModeFromDD(std::string const &table, std::string const &column,
                                                char const *target, char const *index) {
  std::string const full = FullName(table, column);
  DD_COLUMN *referring = dd_column_or_throw(full.c_str());
  if (referring == nullptr) return SQL_UNREF_NONE;
  if (index != nullptr) {
    // The dictionary's references lead to the primary key: an index that
    // names other columns gets no mode from it.
    DD_TABLE *targetTable = dd_table_or_throw(target);
    DD_KEY *key = targetTable != nullptr ? key_desc(targetTable, 1) : nullptr;
    DD_COLUMN *indexColumn = dd_column_or_throw(FullName(target, index).c_str());
    if (key == nullptr || indexColumn == nullptr) return SQL_UNREF_NONE;
    std::vector<DD_COLUMN *> keyColumns(DD_MAX_LIST + 1, nullptr);
    std::vector<DD_COLUMN *> indexColumns(DD_MAX_LIST + 1, nullptr);
    list_all_columns(key->parts, keyColumns.data());
    list_column_columns(indexColumn, indexColumns.data());
    for (size_t i = 0; keyColumns[i] != nullptr || indexColumns[i] != nullptr; ++i) {
      if (keyColumns[i] != indexColumns[i]) return SQL_UNREF_NONE;
    }
  }
  DD_TABLE *referringTable = dd_table_or_throw(table.c_str());
  for (int i = 0; referringTable != nullptr && i < referringTable->ref_count; ++i) {
    DD_REF const &ref = referringTable->refs[i];
    if (std::strcmp(ref.column_name, full.c_str()) != 0) continue;
    size_t const length = std::strlen(target);
    if (std::strncmp(ref.ref_column, target, length) != 0 || ref.ref_column[length] != '.') continue;
    return SQLVTUnrefModeOfReference(ref.mode, full.c_str());
  }
  return SQL_UNREF_NONE;
}

SQLVTSCRowValueConstr *SQLVTMultiJoin::CreateRowValueConstr(SQLVTTable *table, int offset, char const *name) {
  SQLSchema *schema = SQLVTSchemaOf(table->GetSchema());
  int const id = schema->GetColumnId(name);
  if (id != -1) {
    auto row = std::make_unique<SQLVTSCGenericRowValueConstr>();
    AppendColumnRef(row.get(), offset + id, table->GetColumnDescriptor(id));
    return row.release();
  }
  intList const *ids = schema->GetPseudoColByName(name);
  if (ids == nullptr) return nullptr;
  auto row = std::make_unique<SQLVTSCPseudoColRowValueConstr>(name, nullptr);
  // The schema is shared: walk a copy of its list, not its cursor.
  intList walk(*ids);
  for (bool more = walk.First(); more; more = walk.Next()) {
    int const member = walk.GetCurrent();
    AppendColumnRef(row.get(), offset + member, table->GetColumnDescriptor(member));
  }
  return row.release();
}

void SQLVTMultiJoin::RestrictTableCompnrSets(SQLVTScope *scope) {
  for (int i = 0; i < compnrSpecs_->NrElements(); ++i) {
    SQLVTSCCompnrSpec *spec = compnrSpecs_->Get(i);
    SQLVTSCIdentifier const *c1 = spec->GetColumn();
    int o1 = 0;
    // The scope hands out the sets read-only; they belong to this
    // statement's table nodes, which the restriction is meant to change.
    auto *set1 = const_cast<SQLVTSCCompnrSet *>(scope->GetCompnrSetForQualif(c1->GetQualifier(), true, &o1));
    if (set1 == nullptr) {
      SQLVTThrow(vtstate::kUnknownColumn, std::string("Unknown column '") + c1->GetText() + "'", c1->GetLineNumber());
    }
    SQLVTSCIdentifier const *c2 = nullptr;
    if (!spec->GetIdentifier(&c2)) {
      if (o1 != 0) {
        SQLVTThrow(vtstate::kCompnrRestriction,
                   std::string("Compnr restriction on outer column reference '") + c1->GetText() + "'",
                   c1->GetLineNumber());
      }
      int number = 0;
      SQLParameter const *parameter = nullptr;
      if (spec->GetParam(&parameter)) {
        set1->IntersectWith(parameter);
      } else if (spec->GetInteger(&number)) {
        set1->IntersectWith(number);
      }
      continue;
    }
    int o2 = 0;
    auto *set2 = const_cast<SQLVTSCCompnrSet *>(scope->GetCompnrSetForQualif(c2->GetQualifier(), true, &o2));
    if (set2 == nullptr) {
      SQLVTThrow(vtstate::kUnknownColumn, std::string("Unknown column '") + c2->GetText() + "'", c2->GetLineNumber());
    }
    if (o1 == 0) {
      set1->IntersectWith(set2);
      if (o2 == 0) set2->IntersectWith(set1);
    } else if (o2 != 0) {
      SQLVTThrow(vtstate::kCompnrRestriction,
                 std::string("Compnr join between outer column references '") + c1->GetText() + "' and '" +
                     c2->GetText() + "'",
                 c1->GetLineNumber());
    } else {
      set2->IntersectWith(set1);
    }
  }
}

void SQLVTMultiJoin::SetCompnrFromCompnrSpecs() {
  for (int i = 0; i < compnrSpecs_->NrElements(); ++i) {
    SQLVTSCCompnrSpec *spec = compnrSpecs_->Get(i);
    SQLVTSCIdentifier const *column = spec->GetColumn();
    char const *q = column->GetQualifier();
    SQLPTTable *table = nullptr;
    if (q != nullptr) {
      for (IterStartExposed(); !IterAtEnd(); IterToNext()) {
        if (table == nullptr && std::strcmp(IterGetTable()->GetCorrelationName(), q) == 0) table = IterGetTable();
      }
      if (table == nullptr) {
        SQLVTThrow(vtstate::kUnknownCorrelation, std::string("Table '") + q + "' does not appear in the FROM clause",
                   column->GetLineNumber());
      }
    } else {
      int baseTables = 0;
      for (IterStartExposed(); !IterAtEnd(); IterToNext()) {
        if (!IterGetTable()->IsTableName()) continue;
        table = IterGetTable();
        ++baseTables;
      }
      if (baseTables > 1) {
        SQLVTThrow(vtstate::kAmbiguousColumn, std::string("Ambiguous column reference '") + column->GetText() + "'",
                   column->GetLineNumber());
      }
    }
    if (table == nullptr || !table->IsTableName()) {
      SQLVTThrow(vtstate::kCompnrOnDerived, "_compnr specified on derived table", column->GetLineNumber());
    }
    if (table->HasCompnrRestriction()) {
      SQLVTThrow(vtstate::kMultipleCompnrSpecs,
                 std::string("Multiple compnr specifications on table '") + table->GetCorrelationName() + "'",
                 column->GetLineNumber());
    }
    table->SetHasCompnrRestriction(true);
    spec->SetCompnr(table->GetBaseTable());
  }
}

void SQLVTMultiJoin::GenerateWhereUsedInfo(SQLVTWhereUsedMgr *whereUsed) {
  for (IterStartAll(); !IterAtEnd(); IterToNext()) {
    SQLPTTable *table = IterGetTable();
    if (table->GetBaseTable() == nullptr) continue;
    whereUsed->RegisterTable(table->GetBaseName());
    if (table->HasCompnrRestriction()) whereUsed->RegisterColumn(table->GetBaseName(), "_compnr");
  }
  if (!HasRefersTo()) return;
  for (int p = 0; p < refers_->NrElements(); ++p) {
    SQLVTSCRefers *predicate = refers_->Get(p);
    SQLVTSCIdentifier *element = predicate->GetFromForeignKey();
    if (element != nullptr && element->GetQualifier() != nullptr) {
      whereUsed->RegisterTable(element->GetQualifier());
      whereUsed->LookUpAndRegisterColumn(element->GetQualifier(), element->GetIdentifier());
    }
    SQLVTSCIdentifier *target = predicate->GetTo();
    if (target->GetQualifier() != nullptr) {
      int index = FindExposedTableByName(target->GetQualifier());
      if (index != -1) whereUsed->LookUpAndRegisterColumn(GetPTTable(index)->GetBaseName(), target->GetIdentifier());
    }
    pSQLVTSCIdentifierDelArray *path = predicate->GetPath();
    for (int e = 0; path != nullptr && e < path->NrElements(); ++e) {
      SQLVTSCIdentifier *step = path->Get(e);
      if (step->GetQualifier() != nullptr) whereUsed->LookUpAndRegisterColumn(step->GetQualifier(), step->GetIdentifier());
    }
  }
}
