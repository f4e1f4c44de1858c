// SQLVTWhereUsedMgr: reports to the host which tables and columns a
// statement uses, while names are resolved. The statement installs the
// host's where-used handler as the callback.
#pragma once

// Kinds passed to the callback.
constexpr int SQL_WHERE_USED_TABLE = 2;   // a table name
constexpr int SQL_WHERE_USED_COLUMN = 3;  // table name, "." and column name

class SQLVTWhereUsedMgr {
 public:
  using Callback = void (*)(char const *name, int kind);

  explicit SQLVTWhereUsedMgr(Callback callback = nullptr) : callback_(callback) {}

  Callback GetCallback() const { return callback_; }
  void SetCallback(Callback callback) { callback_ = callback; }

  // (table, 2).
  void RegisterTable(char const *table) const;
  // (table "." column, 3); the text is built whole, whatever its length.
  void RegisterColumn(char const *table, char const *column) const;
  // Registers a column of a REFERS TO predicate: the column itself and,
  // when the name is a pseudo-column of the table, each member column after
  // it. A table the dictionary does not hold registers nothing.
  void LookUpAndRegisterColumn(char const *table, char const *column) const;

 private:
  Callback callback_;  // the host's handler; null reports nothing
};
