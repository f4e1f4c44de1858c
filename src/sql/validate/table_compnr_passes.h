// The two passes over the company-number sets of a statement's base tables
// that the statement runs after name resolution. They are written over any
// table type offering:
//   bool SimplifyCompnrSet();            FALSE when the set cannot be simplified
//   bool CompnrSetIsRestricted() const;  TRUE when _compnr is restricted
//   char const *GetAlias() const;        null when the table has no alias
//   char const *GetName() const;
//   int GetLineNumber() const;
// so that SQLVTreeData need not know the table node; include this header
// where SQLVTreeData::SimplifyTableCompnrSets or ValidateTableCompnrSets is
// called.
#pragma once

#include "sql/common/sql_exception.h"
#include "sql/validate/vt_state.h"
#include "sql/validate/vtree_data.h"

// A table's name in messages: its alias when it has one.
template <class Table>
char const *SQLVTTableMessageName(Table const *table) {
  char const *alias = table->GetAlias();
  return alias ? alias : table->GetName();
}

template <class Table>
void SQLVTSimplifyTableCompnrSets(List<Table *> &tables) {
  for (bool more = tables.First(); more; more = tables.Next()) {
    Table *table = tables.GetCurrent();
    if (!table->SimplifyCompnrSet()) {
      throw SQLExSyntaxError(
          vtstate::kCompnrRestriction,
          SQLString("Conflict or unsupported combination in compnr restrictions on table '") +
              SQLString(SQLVTTableMessageName(table)) + SQLString("'"),
          table->GetLineNumber());
    }
  }
}

template <class Table>
void SQLVTValidateTableCompnrSets(List<Table *> &tables) {
  Table *restricted = nullptr;
  Table *unrestricted = nullptr;
  for (bool more = tables.First(); more; more = tables.Next()) {
    Table *table = tables.GetCurrent();
    if (table->CompnrSetIsRestricted()) {
      if (restricted == nullptr) restricted = table;
    } else if (unrestricted == nullptr) {
      unrestricted = table;
    }
  }
  if (restricted && unrestricted) {
    throw SQLExSyntaxError(
        vtstate::kCompnrRestriction,
        SQLString("The _compnr column of '") + SQLString(SQLVTTableMessageName(restricted)) +
            SQLString("' is restricted, while the _compnr column of '") +
            SQLString(SQLVTTableMessageName(unrestricted)) +
            SQLString("' is not restricted, which is not allowed in ANSI parse mode"),
        restricted->GetLineNumber());
  }
}

template <class Table>
void SQLVTreeData::SimplifyTableCompnrSets() {
  SQLVTSimplifyTableCompnrSets<Table>(tables_);
}

template <class Table>
void SQLVTreeData::ValidateTableCompnrSets() {
  SQLVTValidateTableCompnrSets<Table>(tables_);
}
