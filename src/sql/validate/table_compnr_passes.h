// The two passes over the company-number sets of a statement's base tables
// that the statement runs after name resolution. They are written over any
// table type offering:
//   void SimplifyCompnrSet();            throws SQLVTCompnrConflict when it cannot
//   bool CompnrSetIsRestricted() const;  TRUE when _compnr is restricted
//   char const *GetCorrelationName() const;  the alias, else the table name
//   int GetLineNumber() const;
// so that SQLVTreeData need not know the table node; include this header
// where SQLVTreeData::SimplifyTableCompnrSets or ValidateTableCompnrSets is
// called.
#pragma once

#include "sql/common/sql_exception.h"
#include "sql/validate/vt_state.h"
#include "sql/validate/vtree_data.h"

// The error of a company-number set that cannot be simplified; table is
// the table's correlation name.
inline SQLExSyntaxError SQLVTCompnrConflict(char const *table, int line) {
  return SQLExSyntaxError(
      vtstate::kCompnrRestriction,
      SQLString("Conflict or unsupported combination in compnr restrictions on table '") +
          SQLString(table) + SQLString("'"),
      line);
}

template <class Table>
void SQLVTSimplifyTableCompnrSets(List<Table *> &tables) {
  for (bool more = tables.First(); more; more = tables.Next()) tables.GetCurrent()->SimplifyCompnrSet();
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
        SQLString("The _compnr column of '") + SQLString(restricted->GetCorrelationName()) +
            SQLString("' is restricted, while the _compnr column of '") +
            SQLString(unrestricted->GetCorrelationName()) +
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
