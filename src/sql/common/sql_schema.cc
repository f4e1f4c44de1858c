// Building a table's schema from the data dictionary.
//
// The ordinary columns are the table's stored columns in row-offset order
// (sort_columns_by_offset), less the index and combined columns, the two
// reference counters and the system columns "_compnr" and "_dlock". The
// pseudo-columns are the index and combined columns in dictionary order; each
// stands for its elementary member columns, nested combined members expanded,
// and keeps the ids of those members that are ordinary columns.
#include "sql/common/sql_schema.h"

#include <cstddef>
#include <cstring>
#include <unordered_map>

#include "dbc/dict/dd.h"
#include "dbc/zdb_errors.h"
#include "molvane/zdb.h"
#include "sql/common/row_field.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"

namespace {

// The column's own name: the part after "tttttttt.".
char const *OwnName(DD_COLUMN const *column) {
  return column->name[8] == '.' ? column->name + 9 : column->name;
}

bool IsOrdinaryColumn(DD_TABLE const *table, DD_COLUMN const *column) {
  if ((column->flags & DDF_INDEX) || column->type == DDT_COMBINED) return false;
  if (column == table->refcnt_u || column == table->refcnt_d) return false;
  char const *own = OwnName(column);
  return std::strcmp(own, "_compnr") != 0 && std::strcmp(own, "_dlock") != 0;
}

bool IsPseudoColumn(DD_COLUMN const *column) {
  return (column->flags & DDF_INDEX) || column->type == DDT_COMBINED;
}

}  // namespace

SQLType SQLTypeFromDDType(int ddType) {
  SQLType type = ddType >= 0 && ddType <= 0xFF
                     ? SQLTypeOfColumnType(static_cast<unsigned char>(ddType))
                     : SQL_UNDEFINED;
  if (type == SQL_UNDEFINED) SQLAbort(__FILE__, __LINE__, "Unexpected type %d", ddType);
  return type;
}

SQLSchema::SQLSchema(char const *tableName) {
  // A dump that is there but does not load is no unknown table: the
  // statement fails with the loader's 512 and its words (the dump's file,
  // line and what is wrong), as zdb_open does. The loader adds them to the
  // message of the call; only what it added is the cause.
  char const *before = get_zdb_msg();
  std::size_t const mark = before != nullptr ? std::strlen(before) : 0;
  int const error = zdb_errno;
  zdb_errno = 0;
  DD_TABLE *table = tableName != nullptr ? dd_table_or_throw(tableName) : nullptr;
  if (table == nullptr && zdb_errno == ZE_DD_CORRUPT) {
    char const *message = get_zdb_msg();
    char const *cause = message != nullptr && std::strlen(message) > mark ? message + mark : "";
    while (*cause == '\n') ++cause;
    if (*cause == '\0') throw SQLExZDBError(ZE_DD_CORRUPT);
    throw SQLExZDBError(ZE_DD_CORRUPT, SQLString(cause));
  }
  if (table == nullptr) throw SQLSchemaExNotExists(tableName);
  zdb_errno = error;

  std::vector<DD_COLUMN *> byOffset(static_cast<size_t>(table->column_count) + 1);
  sort_columns_by_offset(table, byOffset.data());
  std::unordered_map<DD_COLUMN const *, int> idOf;
  for (DD_COLUMN **c = byOffset.data(); *c != nullptr; ++c) {
    DD_COLUMN *column = *c;
    if (!IsOrdinaryColumn(table, column)) continue;
    int depth = column->depth < 1 ? 1 : column->depth;
    idOf.emplace(column, GetNumCols());
    descriptors_.push_back(std::make_unique<SQLColumnDescriptor>(
        OwnName(column), SQLTypeFromDDType(column->type),
        static_cast<unsigned long>(column->length / depth), depth));
    ddColumns_.push_back(column);
  }

  int pseudoCount = 0;
  for (int i = 0; i < table->column_count; ++i) pseudoCount += IsPseudoColumn(&table->columns[i]);
  pseudoCols_.reserve(static_cast<size_t>(pseudoCount));
  std::vector<DD_COLUMN *> members(DD_MAX_LIST + 1);
  for (int i = 0; i < table->column_count; ++i) {
    DD_COLUMN *column = &table->columns[i];
    if (!IsPseudoColumn(column)) continue;
    pseudoCols_.push_back(PseudoCol{OwnName(column), intList()});
    intList &ids = pseudoCols_.back().ids;
    // The elementary members, combined members expanded in member order.
    list_column_columns(column, members.data());
    for (DD_COLUMN **m = members.data(); *m != nullptr; ++m) {
      auto found = idOf.find(*m);
      if (found != idOf.end()) ids.Append(found->second);
    }
  }
}

SQLSchema::SQLSchema(char const *, int) {
  SQLAbort(__FILE__, __LINE__, "SQLSchema::SQLSchema(TableName,Compnr) not implemented in client code");
}

void SQLSchema::CheckId(int id, char const *operation) const {
  if (id < 0 || id >= GetNumCols())
    SQLAbort(__FILE__, __LINE__, "SQLSchema::%s: column id %d outside 0..%d", operation, id,
             GetNumCols() - 1);
}

int SQLSchema::GetColumnId(char const *name) const {
  if (name == nullptr) return -1;
  for (int id = 0; id < GetNumCols(); ++id)
    if (std::strcmp(descriptors_[static_cast<size_t>(id)]->GetName(), name) == 0) return id;
  return -1;
}

SQLColumnDescriptor const *SQLSchema::GetColumnDescriptor(int id) const {
  CheckId(id, "GetColumnDescriptor");
  return descriptors_[static_cast<size_t>(id)].get();
}

DD_COLUMN *SQLSchema::GetDDColumn(int id) const {
  CheckId(id, "GetDDColumn");
  return ddColumns_[static_cast<size_t>(id)];
}

void SQLSchema::GetPseudoCol(int i, char const **name, intList const **ids) const {
  if (i < 0 || i >= GetNumPseudoCols())
    SQLAbort(__FILE__, __LINE__, "SQLSchema::GetPseudoCol: pseudo-column %d outside 0..%d", i,
             GetNumPseudoCols() - 1);
  PseudoCol const &p = pseudoCols_[static_cast<size_t>(i)];
  if (name != nullptr) *name = p.name;
  if (ids != nullptr) *ids = &p.ids;
}

intList const *SQLSchema::GetPseudoColByName(char const *name) const {
  if (name == nullptr) return nullptr;
  for (PseudoCol const &p : pseudoCols_)
    if (std::strcmp(p.name, name) == 0) return &p.ids;
  return nullptr;
}

void *SQLSchema::GetDBSBaseColumn(int) const {
  SQLAbort(__FILE__, __LINE__, "SQLSchema::GetDBSBaseColumn not implemented in client code");
}

void SQLSchema::Log() const {
  SQLLogger &log = *SQLLogger::Instance();
  if (!log.LogFlagIsSet(SQLLogger::Always)) return;
  log << "Schema(" << endl << incind;
  for (int id = 0; id < GetNumCols(); ++id) {
    log << id << ": ";
    descriptors_[static_cast<size_t>(id)]->Log();
    log << endl;
  }
  for (PseudoCol const &p : pseudoCols_) {
    log << "PseudoCol(\"" << p.name << "\", ColIds: ";
    intList ids(p.ids);  // the shared list's cursor stays untouched
    for (bool more = ids.First(); more; more = ids.Next()) log << ids.GetCurrent() << " ";
    log << ")" << endl;
  }
  log << decind << ")" << endl;
}
