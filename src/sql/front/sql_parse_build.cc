#include "sql/front/sql_parse_build.h"

#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "dbc/dict/dd.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_schema.h"
#include "sql/front/parse_mode.h"
#include "sql/front/syntax_state.h"
#include "sql/validate/pt_table_ref.h"
#include "sql/validate/select_list.h"
#include "sql/validate/set_clause.h"
#include "sql/validate/vt_clear_unref.h"
#include "sql/validate/vt_filter.h"
#include "sql/validate/vt_group.h"
#include "sql/validate/vt_hints.h"
#include "sql/validate/vt_multi_compnr_union.h"
#include "sql/validate/vt_multi_join.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vt_prepare.h"
#include "sql/validate/vt_project.h"
#include "sql/validate/vt_sort.h"
#include "sql/validate/vt_table_change.h"
#include "sql/validate/vtree_data.h"
#include "sql/validate/vtsc_compnr.h"
#include "sql/validate/vtsc_connectives.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_predicates.h"
#include "sql/validate/vtsc_refers.h"
#include "sql/validate/vtsc_row_value.h"
#include "sql/validate/vtsc_set_func.h"
#include "sql/validate/vtsc_string_ops.h"
#include "sql/validate/vtsc_subquery.h"

namespace {

[[noreturn]] void Fail(char const *state, std::string const &message, int line) {
  throw SQLExSyntaxError(state, SQLString(message.c_str()), line);
}

// An owned argument is released only once the new node's memory is had
// (C++17 sequences the allocation before the constructor's arguments).
template <class U>
U *Handed(std::unique_ptr<U> &&owned) {
  return owned.release();
}
template <class V>
V &&Handed(V &&value) {
  return std::forward<V>(value);
}

// Replaces *node by wrap(node): the new node takes the old one over.
template <class Node, class... Args>
void Wrap(std::unique_ptr<SQLVTNode> *node, Args &&...args) {
  int line = (*node)->GetLineNumber();
  node->reset(new Node(node->release(), Handed(std::forward<Args>(args))...));
  (*node)->SetLineNumber(line);
}

// Moves what `prune` lifts out of *condition into *array; the rest stays in
// *condition (null when nothing is left).
template <class Element, class Prune>
void PruneInto(std::unique_ptr<SQLVTSCSearchCond> *condition, DynamicArray<Element *> *array, Prune prune) {
  SQLVTSCSearchCond *rest = prune(condition->get(), array);
  if (rest != condition->get()) {
    static_cast<void>(condition->release());  // lifted, or taken over by rest
    condition->reset(rest);
  }
}

SQLVTSCSearchCond *PruneRefers(SQLVTSCSearchCond *c, DynamicArray<SQLVTSCRefers *> *a) { return c->PruneRefers(a); }
SQLVTSCSearchCond *PruneCompnr(SQLVTSCSearchCond *c, DynamicArray<SQLVTSCCompnrSpec *> *a) {
  return c->PruneCompnrSpecs(a);
}

// The index hints of the record go to the tables below node, its other
// hints to node; the record is deleted.
void ApplyHints(SQLVTNode *node, std::unique_ptr<SQLVTHints> hints) {
  if (!hints) return;
  if (hints->GetIndexHints()->NrElements() > 0) node->SetIndexHintsOnTables(hints->GetIndexHints());
  node->SetHints(hints->ExtractHints());
}

// The one value of a one-value row; the row is deleted. A row of several
// values fails with state and message at the row's line.
std::unique_ptr<SQLVTSCValueExpr> SingleValue(std::unique_ptr<SQLVTSCRowValueConstr> row, char const *state,
                                              char const *message) {
  if (row->GetType() != SQL_ROW_VALUE_IMPLICIT || !row->First()) Fail(state, message, row->GetLineNumber());
  std::unique_ptr<SQLVTSCValueExpr> value(row->GetCurrent());
  row->DeleteCurrent();
  return value;
}

std::unique_ptr<SQLVTSCSearchCond> Negate(std::unique_ptr<SQLVTSCSearchCond> predicate, bool negated, int line) {
  predicate->SetLineNumber(line);
  if (!negated) return predicate;
  std::unique_ptr<SQLVTSCSearchCond> result(new SQLVTSCNot(predicate.release()));
  result->SetLineNumber(line);
  return result;
}

// Adds a base table of the name to the FROM join unless one is exposed
// under it (an implicit FROM clause).
void AddImplicitTable(SQLVTMultiJoin *join, char const *name, int line, int mode, SQLVTreeData *treeData) {
  if (name == nullptr || join->ExposedTableExists(name)) return;
  auto copy = std::make_unique<char[]>(std::strlen(name) + 1);
  std::strcpy(copy.get(), name);
  std::unique_ptr<SQLVTTable> table;
  try {
    table.reset(new SQLVTTable(copy.release(), nullptr, false));  // allocated before it takes the name
  } catch (SQLSchemaExNotExists const &) {
    Fail(syntaxstate::kUnknownTable, std::string("Unknown table '") + name + "'", line);
  }
  table->SetLineNumber(line);
  table->InitializeCompnr(treeData);
  auto reference = std::make_unique<SQLPTTable>(table.get(), false);
  SQLVTTable *node = table.release();
  reference->SetLineNumber(line);
  treeData->AddTable(node);
  try {
    join->AddTableReference(reference.release(), (mode & parsemode::kTableReferenceFlag) != 0);
  } catch (...) {
    treeData->RemoveLastTable();
    throw;
  }
}

// The table a select item names: the qualifier of its identifier, of a set
// function's argument column, or of the column under a substring or
// element expression.
char const *SelectItemTable(SQLVTSelectItem *item) {
  switch (item->GetType()) {
    case SQL_SELECT_ALL:
      return nullptr;
    case SQL_SELECT_TABLE_ALL:
      return item->GetIdentifier()->GetText();
    case SQL_SELECT_COLUMN:
    case SQL_SELECT_COMPNR_COLUMN:
      return item->GetIdentifier()->GetQualifier();
    case SQL_SELECT_VALUE_EXPR: {
      SQLVTSCValueExpr *value = item->GetValueExpr();
      if (value->IsSetFuncSpec()) {
        SQLVTSCIdentifier *column = value->AsSetFuncSpec()->GetColumnName();
        return column != nullptr ? column->GetQualifier() : nullptr;
      }
      if (value->IsSubstrOrIndexing() && value->AsSubstrOrIndexing()->GetOperand()->IsIdentifier()) {
        return value->AsSubstrOrIndexing()->GetOperand()->AsIdentifier()->GetQualifier();
      }
      return nullptr;
    }
  }
  SQLAbort(__FILE__, __LINE__, "Unexpected select item type: %d", static_cast<int>(item->GetType()));
}

}  // namespace

void SQLParseApplyHints(SQLVTNode *node, SQLVTHints *hints) { ApplyHints(node, std::unique_ptr<SQLVTHints>(hints)); }

SQLVTNode *SQLParseBuildSelect(SQLVTNode *query, SQLVTSortSpecList *sort, bool prepared, SQLVTHints *hints,
                               int mode) {
  std::unique_ptr<SQLVTNode> node(query);
  std::unique_ptr<SQLVTSortSpecList> ownedSort(sort);
  std::unique_ptr<SQLVTHints> ownedHints(hints);
  if (ownedSort) Wrap<SQLVTSort>(&node, std::move(ownedSort));
  if (prepared) Wrap<SQLVTPrepare>(&node);
  if (mode & parsemode::kClearUnref) Wrap<SQLVTClearUnref>(&node);
  ApplyHints(node.get(), std::move(ownedHints));
  return node.release();
}

namespace {

template <class Node, class... Extra>
SQLVTNode *BuildTableChange(SQLVTTable *table, SQLVTSCSearchCond *condition, char const *state,
                            char const *message, Extra *...extra) {
  std::unique_ptr<SQLVTTable> ownedTable(table);
  std::unique_ptr<SQLVTSCSearchCond> rest(condition);
  std::tuple<std::unique_ptr<Extra>...> ownedExtra(extra...);
  SQLVTOwnedArray<SQLVTSCCompnrSpec> specs;
  if (rest) {
    specs.reset(new DynamicArray<SQLVTSCCompnrSpec *>(10));
    PruneInto(&rest, specs.get(), PruneCompnr);
    SQLVTOwnedArray<SQLVTSCRefers> refers(new DynamicArray<SQLVTSCRefers *>(10));
    if (rest) PruneInto(&rest, refers.get(), PruneRefers);
    if (refers->NrElements() > 0) Fail(state, message, refers->Get(0)->GetLineNumber());
  }
  int line = ownedTable->GetLineNumber();
  auto node = std::apply(
      [&](auto &...e) { return std::make_unique<Node>(ownedTable.get(), rest.get(), e.get()...); }, ownedExtra);
  static_cast<void>(ownedTable.release());
  static_cast<void>(rest.release());
  std::apply([](auto &...e) { (static_cast<void>(e.release()), ...); }, ownedExtra);
  node->SetLineNumber(line);
  node->SetCompnrSpecs(specs.release());
  return node.release();
}

}  // namespace

SQLVTNode *SQLParseBuildDelete(SQLVTTable *table, SQLVTSCSearchCond *condition) {
  return BuildTableChange<SQLVTDelete>(table, condition, syntaxstate::kRefersInDelete,
                                       "REFERS TO predicate in WHERE clause of DELETE statement");
}

SQLVTNode *SQLParseBuildUpdate(SQLVTTable *table, SQLVTSetClauseList *setClauses, SQLVTSCSearchCond *condition) {
  return BuildTableChange<SQLVTUpdate>(table, condition, syntaxstate::kRefersInUpdate,
                                       "REFERS TO predicate in WHERE clause of UPDATE statement", setClauses);
}

SQLVTNode *SQLParseBuildQuerySpec(bool forUpdate, SQLVTSelectList *selectList, SQLVTMultiJoin *from,
                                  SQLVTSCSearchCond *where, pSQLVTSCIdentifierDelArray *groupBy,
                                  SQLVTSCSearchCond *having, SQLVTHints *subhints, int mode,
                                  SQLVTreeData *treeData, int subqueryLevel) {
  std::unique_ptr<SQLVTSelectList> select(selectList);
  std::unique_ptr<SQLVTMultiJoin> ownedJoin(from);
  std::unique_ptr<SQLVTSCSearchCond> condition(where);
  std::unique_ptr<pSQLVTSCIdentifierDelArray> grouping(groupBy);
  std::unique_ptr<SQLVTSCSearchCond> havingCondition(having);
  std::unique_ptr<SQLVTHints> hints(subhints);
  int const line = select->GetLineNumber();

  if (!ownedJoin) {
    ownedJoin = std::make_unique<SQLVTMultiJoin>();
    ownedJoin->SetLineNumber(line);
  }
  SQLVTMultiJoin *join = ownedJoin.get();
  if (condition) {
    auto *refers = new DynamicArray<SQLVTSCRefers *>(10);
    join->SetReferences(refers);
    PruneInto(&condition, refers, PruneRefers);
  }
  if (mode & parsemode::kFromOptional) {
    for (int i = 0; i < select->NrItems(); ++i) {
      SQLVTSelectItem *item = select->GetItem(i);
      AddImplicitTable(join, SelectItemTable(item), item->GetLineNumber(), mode, treeData);
    }
    DynamicArray<SQLVTSCRefers *> *refers = join->GetReferences();
    for (int i = 0; refers != nullptr && i < refers->NrElements(); ++i) {
      SQLVTSCIdentifier *target = refers->Get(i)->GetTo();
      char const *name = target->GetQualifier() != nullptr ? target->GetQualifier() : target->GetText();
      AddImplicitTable(join, name, refers->Get(i)->GetLineNumber(), mode, treeData);
    }
    if (join->GetNumTables() == 0) Fail(syntaxstate::kFromClauseMissing, "FROM clause is missing", line);
  }
  if (forUpdate) join->MarkTablesForUpdate();

  std::unique_ptr<SQLVTNode> node(ownedJoin.release());
  DynamicArray<SQLVTSCCompnrSpec *> *specs = nullptr;
  if (condition) {
    specs = new DynamicArray<SQLVTSCCompnrSpec *>(10);
    join->SetCompnrSpecs(specs);
    PruneInto(&condition, specs, PruneCompnr);
    if (condition) Wrap<SQLVTFilter>(&node, std::move(condition));
  }

  bool companyList = false;  // a _compnr IN list made the query a multi-company union
  for (int i = 0; specs != nullptr && i < specs->NrElements(); ++i) {
    List<int> *list = nullptr;
    SQLParameter *parameter = specs->Get(i)->CompnrSetToParameter(&list);
    if (parameter == nullptr) continue;
    std::unique_ptr<SQLParameter> ownedParameter(parameter);
    std::unique_ptr<List<int>> ownedList(list);
    if (companyList) {
      Fail(syntaxstate::kMultipleCompnrInLists,
           "Multiple _compnr IN predicates defined within a query specification", specs->Get(i)->GetLineNumber());
    }
    auto star = std::make_unique<SQLVTSelectList>();
    star->Insert(std::make_unique<SQLVTSelectItem>(SQL_SELECT_ALL).release());
    Wrap<SQLVTProject>(&node, std::move(star));
    Wrap<SQLVTMultiCompnrUnion>(&node, std::move(ownedParameter), std::move(ownedList));
    companyList = true;
  }

  bool grouped = false;
  if (grouping) {
    Wrap<SQLVTGroup>(&node, std::move(grouping), true);
    grouped = true;
  } else {
    if (select->GetContainsNonCountAggregate() && subqueryLevel == 1) {
      std::unique_ptr<SQLVTSCValueExpr> countAll = std::make_unique<SQLVTSCSetFuncSpec>(SQL_SETFUNC_COUNT);
      auto count = std::make_unique<SQLVTSCImplicitRowValueConstr>(std::move(countAll));
      std::unique_ptr<SQLVTSCValueExpr> zeroValue = std::make_unique<SQLVTSCIntegerConst>(0);
      auto zero = std::make_unique<SQLVTSCImplicitRowValueConstr>(std::move(zeroValue));
      std::unique_ptr<SQLVTSCSearchCond> positive(new SQLVTSCComparison(count.get(), SQLVTSC_GREATER, zero.get()));
      static_cast<void>(count.release());
      static_cast<void>(zero.release());
      positive->SetLineNumber(line);
      if (havingCondition) {
        auto both = std::make_unique<SQLVTSCAnd>(std::move(positive), std::move(havingCondition));
        both->SetLineNumber(line);
        havingCondition = std::move(both);
      } else {
        havingCondition = std::move(positive);
      }
    }
    if (havingCondition) {
      Wrap<SQLVTGroup>(&node, static_cast<pSQLVTSCIdentifierDelArray *>(nullptr), true);
      grouped = true;
    } else if (select->GetContainsAggregate()) {
      Wrap<SQLVTGroup>(&node, static_cast<pSQLVTSCIdentifierDelArray *>(nullptr), subqueryLevel == 1);
      grouped = true;
    }
  }
  if (grouped) {
    for (join->IterStartAll(); !join->IterAtEnd(); join->IterToNext()) {
      SQLPTTable *table = join->IterGetTable();
      if (table->IsForUpdate()) {
        Fail(syntaxstate::kForUpdateInGroupedQuery,
             std::string("Table '") + table->GetCorrelationName() + "' selected for update in grouped query",
             table->GetLineNumber());
      }
    }
  }
  if (havingCondition) {
    SQLVTOwnedArray<SQLVTSCCompnrSpec> havingSpecs(new DynamicArray<SQLVTSCCompnrSpec *>(10));
    PruneInto(&havingCondition, havingSpecs.get(), PruneCompnr);
    if (havingSpecs->NrElements() > 0) {
      Fail(syntaxstate::kCompnrInHaving, "Compnr specification in HAVING clause",
           havingSpecs->Get(0)->GetLineNumber());
    }
    SQLVTOwnedArray<SQLVTSCRefers> havingRefers(new DynamicArray<SQLVTSCRefers *>(10));
    if (havingCondition) PruneInto(&havingCondition, havingRefers.get(), PruneRefers);
    if (havingRefers->NrElements() > 0) {
      Fail(syntaxstate::kRefersInHaving, "REFERS TO predicate in HAVING clause",
           havingRefers->Get(0)->GetLineNumber());
    }
    if (havingCondition) Wrap<SQLVTFilter>(&node, std::move(havingCondition));
  }
  Wrap<SQLVTProject>(&node, std::move(select));
  node->SetLineNumber(line);
  ApplyHints(node.get(), std::move(hints));
  return node.release();
}

namespace {

// A predicate over the one value of row, negated when asked. make builds
// it from the value (new-expressions allocate before their arguments take
// anything over, so a failed allocation leaves every operand owned).
template <class Make>
SQLVTSCSearchCond *OnSingleValue(SQLVTSCRowValueConstr *row, char const *state, char const *message, bool negated,
                                 Make make) {
  std::unique_ptr<SQLVTSCRowValueConstr> ownedRow(row);
  int line = row->GetLineNumber();
  std::unique_ptr<SQLVTSCValueExpr> value = SingleValue(std::move(ownedRow), state, message);
  return Negate(std::unique_ptr<SQLVTSCSearchCond>(make(&value)), negated, line).release();
}

using Value = std::unique_ptr<SQLVTSCValueExpr>;

}  // namespace

SQLVTSCSearchCond *SQLParseBuildInSubquery(SQLVTSCRowValueConstr *row, SQLVTNode *query, bool negated) {
  std::unique_ptr<SQLVTNode> ownedQuery(query);
  return OnSingleValue(row, syntaxstate::kCombinedExpressionInIn, "Combined expression in IN predicate", negated,
                       [&](Value *v) { return new SQLVTSCInSubquery(v->release(), ownedQuery.release()); });
}

SQLVTSCSearchCond *SQLParseBuildInSet(SQLVTSCRowValueConstr *row, SQLVTSCRowValueConstr *list, bool negated) {
  std::unique_ptr<SQLVTSCRowValueConstr> ownedList(list);
  return OnSingleValue(row, syntaxstate::kCombinedExpressionInIn, "Combined expression in IN predicate", negated,
                       [&](Value *v) { return new SQLVTSCInSet(v->release(), ownedList.release()); });
}

SQLVTSCSearchCond *SQLParseBuildLike(SQLVTSCRowValueConstr *row, SQLVTSCValueExpr *pattern,
                                     SQLVTSCValueExpr *escape, bool negated, bool ansi) {
  Value ownedPattern(pattern);
  Value ownedEscape(escape);
  return OnSingleValue(row, syntaxstate::kCombinedExpressionInLike, "Combined expression in LIKE predicate", negated,
                       [&](Value *v) {
                         return new SQLVTSCLike(v->release(), ownedPattern.release(), ownedEscape.release(), ansi);
                       });
}

SQLVTSCSearchCond *SQLParseBuildIsNull(SQLVTSCRowValueConstr *row, bool negated) {
  return OnSingleValue(row, syntaxstate::kRowValueInIsNull, "Row value constructor in IS NULL predicate", negated,
                       [](Value *v) { return new SQLVTSCIsNull(v->release()); });
}

SQLVTSCSearchCond *SQLParseBuildSubqueryComparison(SQLVTSCRowValueConstr *row, SQLVTSCCompOperator op,
                                                   SQLVTNode *query) {
  std::unique_ptr<SQLVTSCRowValueConstr> ownedRow(row);
  std::unique_ptr<SQLVTSCValueExpr> subquery(new SQLVTSCScalarSubquery(query));
  subquery->SetLineNumber(query->GetLineNumber());
  std::unique_ptr<SQLVTSCRowValueConstr> right(new SQLVTSCImplicitRowValueConstr(subquery.get()));
  static_cast<void>(subquery.release());
  auto *comparison = new SQLVTSCComparison(ownedRow.get(), op, right.get());
  static_cast<void>(ownedRow.release());
  static_cast<void>(right.release());
  comparison->SetLineNumber(row->GetLineNumber());
  return comparison;
}

SQLVTSCValueExpr *SQLParseBuildIndexing(SQLVTSCValueExpr *column, SQLVTSCValueExpr *first,
                                        SQLVTSCValueExpr *second, SQLVTSCValueExpr *length) {
  std::unique_ptr<SQLVTSCValueExpr> c(column), f(first), s(second), n(length);
  int line = column->GetLineNumber();
  std::unique_ptr<SQLVTSCValueExpr> result;
  if (!s && !n) {
    result.reset(new SQLVTSCSubstrOrIndexing(c.get(), f.get()));
    static_cast<void>(c.release());
    static_cast<void>(f.release());
  } else {
    if (s) {
      std::unique_ptr<SQLVTSCValueExpr> element(new SQLVTSCIndexing(c.get(), s.get()));
      static_cast<void>(c.release());
      static_cast<void>(s.release());
      element->SetLineNumber(line);
      c = std::move(element);
    }
    result.reset(new SQLVTSCSubstr(c.get(), f.get(), n.get()));
    static_cast<void>(c.release());
    static_cast<void>(f.release());
    static_cast<void>(n.release());
  }
  result->SetLineNumber(line);
  return result.release();
}

bool SQLGetEnumValue(char const *name, long *value) { return dddomain_from_enum_keyw(name, value) != nullptr; }
