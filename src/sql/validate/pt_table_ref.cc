#include "sql/validate/pt_table_ref.h"

#include <cstring>
#include <memory>
#include <string>

#include "sql/common/sql_logger.h"
#include "sql/common/sql_util.h"
#include "sql/validate/resolve_flags.h"
#include "sql/validate/select_list.h"
#include "sql/validate/vt_derived_scope.h"
#include "sql/validate/vt_join.h"
#include "sql/validate/vt_multi_join.h"
#include "sql/validate/vt_pair_scope.h"
#include "sql/validate/vt_project.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vt_state.h"
#include "sql/validate/vtsc_compnr.h"
#include "sql/validate/vt_node_support.h"
#include "sql/validate/vt_search_cond.h"
#include "sql/validate/vt_table.h"
#include "sql/validate/vtsc_support.h"

// ---- SQLPTTableReference ----

bool SQLPTTableReference::ExposedTableExists(char const *name) {
  bool found = false;
  for (IterStart(true); !IterAtEnd(); IterToNext()) {
    if (std::strcmp(IterGetTableName(), name) == 0) found = true;
  }
  return found;
}

SQLPTTable *SQLPTTableReference::FindFirstExposedTableAlsoIn(SQLPTTableReference *other) {
  SQLPTTable *found = nullptr;
  for (IterStart(true); !IterAtEnd(); IterToNext()) {
    if (found == nullptr && other->ExposedTableExists(IterGetTableName())) found = IterGetTable();
  }
  return found;
}

SQLPTTable *SQLPTTableReference::FindFirstExposedTableAlsoIn(SQLVTMultiJoin *other) {
  SQLPTTable *found = nullptr;
  for (IterStart(true); !IterAtEnd(); IterToNext()) {
    if (found == nullptr && other->ExposedTableExists(IterGetTableName())) found = IterGetTable();
  }
  return found;
}

void SQLPTTableReference::SetForUpdate(bool) {
  for (IterStart(false); !IterAtEnd(); IterToNext()) IterGetTable()->SetForUpdate(true);
}

// ---- SQLPTTable ----

SQLPTTable::SQLPTTable(SQLVTTable *table, bool hidden)
    : hidden_(hidden), isTableName_(true), node_(table), table_(table) {}

SQLPTTable::SQLPTTable(SQLVTNode *query, char *correlationName)
    : hidden_(false), isTableName_(false), node_(query), correlationName_(correlationName) {}

SQLPTTable::~SQLPTTable() {
  if (ownsNode_) delete node_;
}

char const *SQLPTTable::GetCorrelationName() const {
  if (correlationName_) return correlationName_.get();
  return table_ != nullptr ? table_->GetCorrelationName() : "";
}

char const *SQLPTTable::GetBaseName() const { return table_ != nullptr ? table_->GetName() : nullptr; }

SQLVTNode *SQLPTTable::ExtractVTTable() {
  ownsNode_ = false;
  return node_;
}

void SQLPTTable::SetForUpdate(bool forUpdate) {
  if (table_ != nullptr) table_->SetForUpdate(forUpdate);
}

bool SQLPTTable::IsForUpdate() { return table_ != nullptr && table_->IsForUpdate(); }

int SQLPTTable::SetColumnIdOffset(int offset) {
  columnIdOffset_ = offset;
  return offset + node_->GetNumCols();
}

void SQLPTTable::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "PTTable(" << endl << incind;
  if (isTableName_) log << "IsHidden: " << hidden_ << endl;
  log << "Correlation name: " << GetCorrelationName() << endl;
  if (ownsNode_) node_->Log();
  log << decind << ")" << endl;
}

SQLVTNode *SQLPTTable::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                           List<char const *> *restrictedQualifiers, SQLVTWhereUsedMgr *whereUsed) {
  if (isTableName_ && (flags & vtflags::kBaseAsDerived) == 0) {
    // The table node resolves itself: one table level over it. It is ours
    // to delete until that succeeds.
    std::unique_ptr<SQLVTNode> table(ExtractVTTable());
    SQLVTNode *mapped = table->MapColumnNamesToIds(scope, treeData, flags, restrictedQualifiers, whereUsed);
    static_cast<void>(table.release());  // the result is the table or took it over
    return mapped;
  }
  if (isTableName_) {
    // A base table that may be filled with nulls is seen as a derived table
    // of all its columns under its alias (or name).
    auto star = std::make_unique<SQLVTSelectList>();
    star->Insert(new SQLVTSelectItem(SQL_SELECT_ALL));
    char const *name = table_->GetCorrelationName();
    auto correlation = std::make_unique<char[]>(std::strlen(name) + 1);
    std::strcpy(correlation.get(), name);
    // The projection is made before it takes the table over: a failure
    // leaves the table with this reference, which still points to it.
    std::unique_ptr<SQLVTProject> project(new SQLVTProject(nullptr, star.release()));
    project->ReplaceChild(node_);
    node_ = project.release();
    correlationName_ = std::move(correlation);
    isTableName_ = false;
  }
  // A derived table: the enclosing query's restrictions on its correlation
  // name (or unqualified ones) reach the subquery as unqualified ones.
  List<char const *> inner;
  for (bool more = restrictedQualifiers != nullptr && restrictedQualifiers->First(); more;
       more = restrictedQualifiers->Next()) {
    char const *q = restrictedQualifiers->GetCurrent();
    if (q == nullptr || std::strcmp(q, correlationName_.get()) == 0) inner.Append(nullptr);
  }
  SQLVTNode *mapped = node_->MapColumnNamesToIds(scope, treeData, flags & vtflags::kIntoDerived, &inner, whereUsed);
  node_ = mapped;  // still ours to delete until the caller receives it
  std::unique_ptr<SQLVTScopeLevel> level(scope->Pop());
  // The new level's memory is had before it takes the inner level over;
  // the scope deletes it when it cannot hold it.
  scope->Push(new SQLVTDerivedTableScopeLevel(level.release(), correlationName_.get()));
  ownsNode_ = false;
  return mapped;
}

// ---- SQLPTJoin ----

SQLPTJoin::SQLPTJoin(SQLJoinType type, SQLPTTableReference *left, SQLPTTableReference *right,
                     SQLVTSCSearchCond *condition)
    : type_(type), left_(left), right_(right), condition_(condition) {
  SetLineNumber(left_->GetLineNumber());
  firstDuplicate_ = left_->GetFirstDuplicateTable();
  if (firstDuplicate_ == nullptr) firstDuplicate_ = right_->GetFirstDuplicateTable();
  if (firstDuplicate_ == nullptr) firstDuplicate_ = right_->FindFirstExposedTableAlsoIn(left_.get());
}

SQLPTJoin::~SQLPTJoin() = default;

void SQLPTJoin::IterStart(bool exposedOnly) {
  exposedOnly_ = exposedOnly;
  side_ = Side::Left;
  left_->IterStart(exposedOnly);
  if (left_->IterAtEnd()) NextSide();
}

void SQLPTJoin::NextSide() {
  if (side_ == Side::Left) {
    side_ = Side::Right;
    right_->IterStart(exposedOnly_);
    if (right_->IterAtEnd()) side_ = Side::None;
  } else {
    side_ = Side::None;
  }
}

void SQLPTJoin::IterToNext() {
  if (side_ == Side::None) return;
  Current()->IterToNext();
  if (Current()->IterAtEnd()) NextSide();
}

SQLPTTable *SQLPTJoin::IterGetTable() { return side_ == Side::None ? nullptr : Current()->IterGetTable(); }

char const *SQLPTJoin::IterGetTableName() {
  return side_ == Side::None ? nullptr : Current()->IterGetTableName();
}

int SQLPTJoin::SetColumnIdOffset(int offset) { return right_->SetColumnIdOffset(left_->SetColumnIdOffset(offset)); }

void SQLPTJoin::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "PTJoin(JoinType: " << SQLGetJoinTypeName(type_) << endl << incind;
  left_->Log();
  right_->Log();
  if (condition_) {
    if (tracing) log << "On condition:" << endl << incind;
    condition_->Log();
    if (tracing) log << endl << decind;
  }
  if (tracing) log << decind << ")" << endl;
}

SQLVTNode *SQLPTJoin::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                          List<char const *> *restricted, SQLVTWhereUsedMgr *whereUsed) {
  bool const ansi = (flags & vtflags::kAnsi) != 0;
  // Company-number restrictions of the ON clause are lifted out of it; the
  // rest stays the join condition.
  SQLVTOwnedArray<SQLVTSCCompnrSpec> specs(new DynamicArray<SQLVTSCCompnrSpec *>(10));
  if (condition_) {
    SQLVTSCSearchCond *rest = condition_->PruneCompnrSpecs(specs.get());
    if (rest != condition_.get()) {
      static_cast<void>(condition_.release());
      condition_.reset(rest);
    }
  }
  for (int i = 0; i < specs->NrElements(); ++i) {
    SQLVTSCCompnrSpec *spec = specs->Get(i);
    SQLVTSCIdentifier const *other = nullptr;
    if (!ansi) {
      SQLVTThrow(vtstate::kCompnrRestriction, "Compnr specification in ON clause of a JOIN",
                 spec->GetLineNumber());
    }
    if (!spec->GetIdentifier(&other)) {
      // A restriction to one company belongs in the WHERE clause: in an ON
      // clause it would leave the other side's company open.
      SQLVTThrow(vtstate::kCompnrRestriction,
                 std::string("_compnr restriction on column '") + spec->GetColumn()->GetText() +
                     "' in an ON clause does not join two _compnr columns",
                 spec->GetColumn()->GetLineNumber());
    }
  }

  List<char const *> local;  // the restrictions that hold for both sides of an inner join
  List<char const *> *leftList = nullptr;
  List<char const *> *rightList = nullptr;
  int leftFlags = flags;
  int rightFlags = flags;
  if (ansi) {
    for (bool more = restricted != nullptr && restricted->First(); more; more = restricted->Next())
      local.Append(restricted->GetCurrent());
    for (int i = 0; i < specs->NrElements(); ++i) {
      SQLVTSCCompnrSpec *spec = specs->Get(i);
      local.Append(spec->GetColumn()->GetQualifier());
      SQLVTSCIdentifier const *other = nullptr;
      if (spec->GetIdentifier(&other)) local.Append(other->GetQualifier());
    }
    bool const leftMayBeNull = type_ == SQL_JOIN_RIGHT || type_ == SQL_JOIN_FULL;
    bool const rightMayBeNull = type_ == SQL_JOIN_LEFT || type_ == SQL_JOIN_FULL;
    leftList = rightMayBeNull ? restricted : &local;
    rightList = leftMayBeNull ? restricted : &local;
    if (leftMayBeNull) leftFlags |= vtflags::kBaseAsDerived;
    if (rightMayBeNull) rightFlags |= vtflags::kBaseAsDerived;
  }

  // Each side's node is owned here as soon as it is mapped.
  std::unique_ptr<SQLVTNode> left(left_->MapColumnNamesToIds(scope, treeData, leftFlags, leftList, whereUsed));
  std::unique_ptr<SQLVTScopeLevel> leftLevel(scope->Pop());
  std::unique_ptr<SQLVTNode> right(right_->MapColumnNamesToIds(scope, treeData, rightFlags, rightList, whereUsed));
  std::unique_ptr<SQLVTScopeLevel> rightLevel(scope->Pop());
  if (ansi) {
    HandleRestrCompnrQualifs(leftLevel.get(), rightLevel.get(), restricted);
    RestrictTableCompnrSets(scope, leftLevel.get(), rightLevel.get(), specs.get());
  }
  // The pair's memory is had before it takes both levels over; the scope
  // deletes it when it cannot hold it.
  scope->Push(new SQLVTPairScopeLevel(leftLevel.release(), rightLevel.release()));
  if (condition_) condition_->MapColumnNamesToIds(scope, treeData, flags, whereUsed);
  auto *join = new SQLVTJoin(type_, left.get(), right.get(), condition_.get());
  static_cast<void>(left.release());
  static_cast<void>(right.release());
  static_cast<void>(condition_.release());
  join->SetLineNumber(GetLineNumber());
  return join;
}

void SQLPTJoin::HandleRestrCompnrQualifs(SQLVTScopeLevel *left, SQLVTScopeLevel *right,
                                         List<char const *> *restricted) {
  for (bool more = restricted != nullptr && restricted->First(); more; more = restricted->Next()) {
    char const *q = restricted->GetCurrent();
    if (left->GetCompnrSetForQualif(q, true) != nullptr) {
      if (type_ == SQL_JOIN_FULL) type_ = SQL_JOIN_LEFT;
      if (type_ == SQL_JOIN_RIGHT) type_ = SQL_JOIN_INNER;
    }
    if (right->GetCompnrSetForQualif(q, true) != nullptr) {
      if (type_ == SQL_JOIN_FULL) type_ = SQL_JOIN_RIGHT;
      if (type_ == SQL_JOIN_LEFT) type_ = SQL_JOIN_INNER;
    }
  }
}

namespace {

// The side of one _compnr column of an ON clause and its table's set.
struct CompnrSide {
  bool left = false;
  SQLVTSCCompnrSet *set = nullptr;
};

CompnrSide FindCompnrSide(SQLVTScope *scope, SQLVTScopeLevel *left, SQLVTScopeLevel *right,
                          SQLVTSCIdentifier const *column) {
  std::string const text = column->GetText();
  char const *q = column->GetQualifier();
  SQLVTSCCompnrSet const *onLeft = left->GetCompnrSetForQualif(q, true);
  SQLVTSCCompnrSet const *onRight = right->GetCompnrSetForQualif(q, true);
  if (onLeft != nullptr && onRight != nullptr) {
    SQLVTThrow(vtstate::kAmbiguousColumn, "Ambiguous column reference '" + text + "'", column->GetLineNumber());
  }
  if (onLeft == nullptr && onRight == nullptr) {
    int offset = 0;
    if (scope->GetCompnrSetForQualif(q, true, &offset) == nullptr) {
      SQLVTThrow(vtstate::kUnknownColumn, "Unknown column '" + text + "'", column->GetLineNumber());
    }
    SQLVTThrow(vtstate::kCompnrRestriction, "Outer _compnr column reference '" + text + "'",
               column->GetLineNumber());
  }
  // The scope hands out the sets read-only; the tables they belong to are
  // nodes of this statement, which the restriction is meant to change.
  CompnrSide side;
  side.left = onLeft != nullptr;
  side.set = const_cast<SQLVTSCCompnrSet *>(onLeft != nullptr ? onLeft : onRight);
  return side;
}

}  // namespace

void SQLPTJoin::RestrictTableCompnrSets(SQLVTScope *scope, SQLVTScopeLevel *left, SQLVTScopeLevel *right,
                                        DynamicArray<SQLVTSCCompnrSpec *> *specs) {
  for (int i = 0; i < specs->NrElements(); ++i) {
    SQLVTSCCompnrSpec *spec = specs->Get(i);
    SQLVTSCIdentifier const *c1 = spec->GetColumn();
    SQLVTSCIdentifier const *c2 = nullptr;
    spec->GetIdentifier(&c2);
    if (type_ == SQL_JOIN_FULL) {
      SQLVTThrow(vtstate::kCompnrRestriction, "_compnr join predicate used in a FULL OUTER join",
                 c1->GetLineNumber());
    }
    CompnrSide a = FindCompnrSide(scope, left, right, c1);
    CompnrSide b = FindCompnrSide(scope, left, right, c2);
    std::string const columns = std::string("_compnr join predicate on columns '") + c1->GetText() + "' and '" +
                                c2->GetText() + "' does not restrict the company set of the ";
    // Only the side that may be filled with nulls takes the other's company;
    // an inner join restricts both ways.
    bool aFromB = true;
    bool bFromA = true;
    if (type_ == SQL_JOIN_LEFT) {
      if (a.left && b.left) {
        SQLVTThrow(vtstate::kCompnrRestriction, columns + "right branch of the LEFT OUTER JOIN", c1->GetLineNumber());
      }
      aFromB = !a.left;
      bFromA = !b.left;
    } else if (type_ == SQL_JOIN_RIGHT) {
      if (!a.left && !b.left) {
        SQLVTThrow(vtstate::kCompnrRestriction, columns + "left branch of the RIGHT OUTER JOIN", c1->GetLineNumber());
      }
      aFromB = a.left;
      bFromA = b.left;
    }
    if (aFromB) a.set->IntersectWith(b.set);
    if (bFromA) b.set->IntersectWith(a.set);
  }
}
