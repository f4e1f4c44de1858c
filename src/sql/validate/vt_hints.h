// The HINT clause of one query: index hints per table, and the general
// hints that go to the query's top node.
#pragma once

#include <memory>

#include "sql/common/list.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_hints.h"
#include "sql/validate/identifier_holder.h"
#include "sql/validate/index_hints.h"
#include "sql/validate/vt_object.h"

// The index hint for one table or correlation name. Held by value in a
// List, so copies share the table identifier and the record; the last copy
// deletes them.
class SQLVTIndexHint : public SQLVTObject {
 public:
  // Takes ownership of table and hints, and deletes both when the hint
  // cannot be made.
  template <class Identifier>
  SQLVTIndexHint(Identifier *table, SQLIndexHints *hints)
      : SQLVTIndexHint(SQLVTIdentifierHolder(table), std::unique_ptr<SQLIndexHints>(hints)) {}

  SQLVTSCIdentifier *GetTable() const { return table_->Get(); }
  SQLIndexHints const *GetIndexHints() const { return hints_.get(); }
  // Hands the record over (a new record owned by the caller, null when
  // already handed over); this hint then holds null.
  SQLIndexHints *ExtractIndexHints();
  // Takes ownership of hints.
  void SetIndexHints(SQLIndexHints *hints) { hints_.reset(hints); }

 private:
  SQLVTIndexHint(SQLVTIdentifierHolder table, std::unique_ptr<SQLIndexHints> hints)
      : table_(std::make_shared<SQLVTIdentifierHolder>(std::move(table))), hints_(std::move(hints)) {}

  std::shared_ptr<SQLVTIdentifierHolder> table_;
  std::shared_ptr<SQLIndexHints> hints_;
};

class SQLVTHints : public SQLVTObject {
 public:
  // Empty general hints and no index hints.
  SQLVTHints() : hints_(std::make_unique<SQLHints>()) {}

  // Appends the index hint (table, the first count of indexNumbers, mode).
  // count must be 1 to 4: the parser refuses a fifth index number with
  // 42I43 (SQLVTTooManyIndexHints), and so does this call.
  template <class Identifier>
  void AddIndexHints(Identifier *table, int count, char const *indexNumbers, SQLIndexHintMode mode) {
    SQLVTIndexHint hint(table, nullptr);  // deletes the table when the hint is refused
    hint.SetIndexHints(MakeIndexHints(count, indexNumbers, mode));
    indexHints_.Append(hint);
  }

  // Hands the general hints over; the clause then holds null.
  SQLHints *ExtractHints() { return hints_.release(); }
  // The general hints while the clause holds them (the parser sets them).
  SQLHints *GetHints() const { return hints_.get(); }
  List<SQLVTIndexHint> *GetIndexHints() { return &indexHints_; }

 private:
  static SQLIndexHints *MakeIndexHints(int count, char const *indexNumbers, SQLIndexHintMode mode);

  List<SQLVTIndexHint> indexHints_;
  std::unique_ptr<SQLHints> hints_;  // general hints; null once extracted
};

// 42I43 "Maximum number of index hints per table (4) exceeded".
SQLExSyntaxError SQLVTTooManyIndexHints(int line);
