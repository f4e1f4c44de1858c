#include "sql/validate/vt_group.h"

#include "sql/common/sql_abort.h"
#include <string>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/rs_group.h"
#include "sql/validate/vt_group_scope.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/where_used.h"
#include "sql/validate/vtsc_support.h"

SQLVTGroup::SQLVTGroup(SQLVTNode *child, pSQLVTSCIdentifierDelArray *identifiers, bool definitive)
    : SQLVTUnaryNode(child), identifiers_(identifiers), groupColumnIds_(10), specs_(10), descriptors_(10),
      definitive_(definitive) {}

SQLVTGroup::~SQLVTGroup() {
  for (int i = descriptors_.NrElements() - 1; i >= 0; --i) delete descriptors_.Get(i);
}

bool SQLVTGroup::IsGroupCol(int id) const {
  for (int i = 0; i < groupColumnIds_.NrElements(); ++i) {
    if (groupColumnIds_.Get(i) == id) return true;
  }
  return false;
}

namespace {

// The result type of a set function's argument: the super type of its
// possible types; 42T31 when there is none.
SQLType ArgumentType(SQLVTSCValueExpr *argument) {
  SQLTypeSet types;
  argument->GetPossibleTypes(&types);
  SQLType type = SQL_UNDEFINED;
  if (!types.GetSuperType(&type)) {
    SQLVTThrow("42T31", "No appropriate type could be derived for aggregate function", argument->GetLineNumber());
  }
  return type;
}

}  // namespace

int SQLVTGroup::FindOrAddGroupSpec(SQLVTGroupSpec const &spec) {
  for (int i = 0; i < specs_.NrElements(); ++i) {
    if (specs_.Get(i).Equals(spec)) return i;
  }
  std::unique_ptr<SQLColumnDescriptor> descriptor;
  if (spec.GetKind() == SQLVTGroupSpec::CountStar) {
    descriptor = std::make_unique<SQLColumnDescriptor>("", SQL_INTEGER, 0, 1);
  } else if (spec.GetKind() == SQLVTGroupSpec::SetFunction) {
    SQLVTSCValueExpr *argument = spec.GetExpression().Get();
    SQLType type = ArgumentType(argument);
    switch (spec.GetFunction()) {
      case SQL_SETFUNC_MIN:
      case SQL_SETFUNC_MAX:
        if (argument->IsColumnRef()) {
          auto *ref = static_cast<SQLVTSCColumnRef *>(argument);
          SQLColumnDescriptor const *column = GetChild()->GetColumnDescriptor(ref->GetColumnId());
          descriptor = std::make_unique<SQLColumnDescriptor>("", column->GetType(), column->GetLength(),
                                                             column->GetDepth());
        } else {
          descriptor = std::make_unique<SQLColumnDescriptor>("", type, 0, 1);
        }
        break;
      case SQL_SETFUNC_SUM:
        if (type != SQL_INTEGER && type != SQL_REAL) {
          SQLVTThrow("42T20", "Invalid argument type for SUM function", argument->GetLineNumber());
        }
        descriptor = std::make_unique<SQLColumnDescriptor>("", type, 0, 1);
        break;
      case SQL_SETFUNC_AVG:
        if (type != SQL_INTEGER && type != SQL_REAL) {
          SQLVTThrow("42T20", "Invalid argument type for AVG function", argument->GetLineNumber());
        }
        descriptor = std::make_unique<SQLColumnDescriptor>("", SQL_REAL, 0, 1);
        break;
      case SQL_SETFUNC_COUNT:
        descriptor = std::make_unique<SQLColumnDescriptor>("", SQL_INTEGER, 0, 1);
        break;
      default:
        SQLAbort(__FILE__, __LINE__, "Unexpected set function specification: %d",
                 static_cast<int>(spec.GetFunction()));
    }
  }
  specs_.Insert(spec);
  descriptors_.Insert(descriptor.get());
  static_cast<void>(descriptor.release());
  return specs_.NrElements() - 1;
}

SQLVTRetryFilter *SQLVTGroup::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  SQLAbort(__FILE__, __LINE__, "SQLVTGroup::BuildRetryFilter() called");
}

SQLRowSource *SQLVTGroup::DoCreateRS() {
  auto columns = std::make_unique<intList>();
  for (int i = 0; i < groupColumnIds_.NrElements(); ++i) columns->Append(groupColumnIds_.Get(i));
  auto specs = std::make_unique<List<SQLRSGroupSpec>>();
  for (int i = 0; i < specs_.NrElements(); ++i) {
    SQLVTGroupSpec const &spec = specs_.Get(i);
    if (spec.GetKind() == SQLVTGroupSpec::SetFunction) {
      RefPtr<SQLRSSCValueExpr> argument(spec.GetExpression()->CreateRS());
      specs->Append(SQLRSGroupSpec::SetFunction(static_cast<int>(spec.GetFunction()), argument));
    } else {
      specs->Append(SQLRSGroupSpec({}, spec.GetColumn(), static_cast<int>(spec.GetKind()),
                                   static_cast<int>(spec.GetFunction())));
    }
  }
  if (specs->NrElements() == 0) specs->Append(SQLRSGroupSpec::CountStar());
  std::unique_ptr<SQLRowSource> child(GetChild()->CreateRS());
  return new SQLRSGroup(child.release(), columns.release(), specs.release());
}

SQLColumnDescriptor const *SQLVTGroup::GetColumnDescriptor(int column) const {
  if (descriptors_.Get(column) != nullptr) return descriptors_.Get(column);
  return GetChild()->GetColumnDescriptor(specs_.Get(column).GetColumn());
}

void SQLVTGroup::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (!tracing) return;
  log << "VTGroup(" << endl << incind << "Definitive: " << definitive_ << endl << "GroupColumns:";
  if (identifiers_) {
    log << " ";
    identifiers_->Log();
  }
  log << endl << "GroupColIds:";
  for (int i = 0; i < groupColumnIds_.NrElements(); ++i) log << (i == 0 ? " " : ", ") << groupColumnIds_.Get(i);
  log << endl << "GroupSpec:" << endl << incind;
  for (int i = 0; i < specs_.NrElements(); ++i) {
    specs_.Get(i).Log();
    log << endl;
  }
  log << decind;
  LogHintsAndChild("Child:");
  log << decind << ")" << endl;
}

SQLVTNode *SQLVTGroup::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                           List<char const *> *restrictedQualifiers,
                                           SQLVTWhereUsedMgr *whereUsed) {
  ReplaceChild(GetChild()->MapColumnNamesToIds(scope, treeData, flags, restrictedQualifiers, whereUsed));
  groupColumnIds_ = DynamicArray<int>(10);
  if (identifiers_) {
    for (int i = 0; i < identifiers_->NrElements(); ++i) {
      SQLVTSCIdentifier *identifier = identifiers_->Get(i);
      SQLVTColumnInfo info;
      if (!scope->GetColumnInfo(identifier, &info, false)) {
        SQLVTThrow("42I03", std::string("Unknown column '") + identifier->GetText() + "'",
                   identifier->GetLineNumber());
      }
      if (info.kind == SQLVTColumnInfo::Column) {
        groupColumnIds_.Insert(info.position);
        if (whereUsed != nullptr && info.GetBaseTableName() != nullptr && info.descriptor != nullptr) {
          whereUsed->RegisterColumn(info.GetBaseTableName(), info.descriptor->GetName());
        }
        continue;
      }
      std::vector<int> positions(info.positions, info.positions + info.count);
      for (int position : positions) {
        groupColumnIds_.Insert(position);
        SQLColumnDescriptor const *descriptor = scope->GetColumnDescriptor(info.levelOffset, position);
        if (whereUsed != nullptr && info.GetBaseTableName() != nullptr && descriptor != nullptr) {
          whereUsed->RegisterColumn(info.GetBaseTableName(), descriptor->GetName());
        }
      }
    }
    identifiers_.reset();
  }
  std::unique_ptr<SQLVTScopeLevel> inner(scope->Pop());
  // The group level's memory is had before it takes the inner level over.
  scope->Push(new SQLVTGroupScopeLevel(this, inner.release()));
  return this;
}

SQLVTNode *SQLVTGroup::RemoveNotDefinitiveGroupNode() {
  if (definitive_) return this;
  SQLVTNode *child = ExtractChild();
  delete this;
  return child;
}

void SQLVTGroup::ValidateTypes() const {
  for (int i = 0; i < specs_.NrElements(); ++i) {
    SQLVTGroupSpec const &spec = specs_.Get(i);
    if (spec.GetKind() != SQLVTGroupSpec::SetFunction) continue;
    RefPtr<SQLVTSCValueExpr> argument = spec.GetExpression();
    argument->ValidateTypes();
    SQLType type = ArgumentType(argument.Get());
    SQLVTSCValueExpr *old = argument.Get();
    SQLVTSCValueExpr *cast = old->Cast(type, true);
    // The old node is deleted by Cast or owned by the replacement.
    if (cast != nullptr && cast != old) argument.ReplaceObject(cast);
  }
  GetChild()->ValidateTypes();
}

void SQLVTGroup::ValidateArrayUsage() const {
  GetChild()->ValidateArrayUsage();
  for (int i = 0; i < specs_.NrElements(); ++i) {
    SQLVTGroupSpec const &spec = specs_.Get(i);
    if (spec.GetKind() != SQLVTGroupSpec::SetFunction) continue;
    spec.GetExpression()->ValidateArrayUsage();
    if (spec.GetExpression()->GetDepth() > 1) {
      throw SQLException("42I51", 302, SQLString("Aggregate function applied to array column"));
    }
  }
}
