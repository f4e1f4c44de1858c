// The select list of a query as the parser builds it: its items in order,
// and whether a set function stands among them.
#pragma once

#include <memory>

#include "sql/common/dynamic_array.h"
#include "sql/validate/identifier_holder.h"
#include "sql/validate/vt_object.h"

// How an item is projected.
enum SQLVTSelectItemType : int {
  SQL_SELECT_ALL = 0,           // *
  SQL_SELECT_TABLE_ALL = 1,     // t.*
  SQL_SELECT_COLUMN = 2,        // a column named by an identifier
  SQL_SELECT_VALUE_EXPR = 3,    // a value expression
  SQL_SELECT_COMPNR_COLUMN = 4, // "_compnr", optionally qualified by a table
};

class SQLVTSelectItem : public SQLVTObject {
 public:
  // "*".
  explicit SQLVTSelectItem(SQLVTSelectItemType type) : type_(type) {}
  // "t.*": takes ownership of table.
  template <class Identifier>
  SQLVTSelectItem(SQLVTSelectItemType type, Identifier *table) : type_(type), identifier_(table) {}
  // A value expression (type 3), or a column or company-number column named
  // by an identifier (types 2 and 4), each with an optional alias and result
  // parameter name (identifiers or null); takes ownership of all three.
  template <class Item, class Alias, class Parameter>
  SQLVTSelectItem(SQLVTSelectItemType type, Item *item, Alias alias, Parameter parameter)
      : type_(type), parameterName_(parameter), alias_(alias) {
    if constexpr (requires { SQLVTAsIdentifier(item); }) {
      if (type != SQL_SELECT_VALUE_EXPR) {
        identifier_ = SQLVTIdentifierHolder(item);
        return;
      }
    }
    value_.reset(item);
  }
  ~SQLVTSelectItem() override;

  SQLVTSelectItemType GetType() const { return type_; }
  // The table of "t.*", the column of a column item or company-number item.
  SQLVTSCIdentifier *GetIdentifier() const { return identifier_.Get(); }
  SQLVTSCValueExpr *GetValueExpr() const { return value_.get(); }
  SQLVTSCIdentifier *GetAlias() const { return alias_.Get(); }
  SQLVTSCIdentifier *GetParameterName() const { return parameterName_.Get(); }

  // Hand a part over to the caller; the item forgets it. The names come as
  // plain text (null when absent).
  SQLVTSCValueExpr *ExtractValueExpr() { return value_.release(); }
  template <class Identifier = SQLVTSCIdentifier>
  char *ExtractAliasName() { return alias_.ReleaseToString<Identifier>(); }
  template <class Identifier = SQLVTSCIdentifier>
  char *ExtractParameterName() { return parameterName_.ReleaseToString<Identifier>(); }

  // "VTSelectItem(" item "," "\"alias\"" or "NULL" "," ":name" or "NULL" ")".
  void Log() const;

 private:
  SQLVTSelectItemType type_;
  SQLVTIdentifierHolder identifier_;      // types 1, 2, 4
  std::unique_ptr<SQLVTSCValueExpr> value_;  // type 3
  SQLVTIdentifierHolder parameterName_;   // host variable receiving the value
  SQLVTIdentifierHolder alias_;           // result column name
};

class SQLVTSelectList : public SQLVTObject {
 public:
  SQLVTSelectList() : items_(10) {}
  ~SQLVTSelectList() override;

  // Appends; takes ownership of item.
  void Insert(SQLVTSelectItem *item);
  int NrItems() const { return items_.NrElements(); }
  SQLVTSelectItem *GetItem(int i) const { return items_.Get(i); }

  void SetContainsAggregate() { containsAggregate_ = true; }
  bool GetContainsAggregate() const { return containsAggregate_; }
  void SetContainsNonCountAggregate() { containsNonCountAggregate_ = true; }
  bool GetContainsNonCountAggregate() const { return containsNonCountAggregate_; }

 private:
  bool containsAggregate_ = false;         // a set function stands in the list
  bool containsNonCountAggregate_ = false;  // ... other than COUNT
  DynamicArray<SQLVTSelectItem *> items_;   // owned, in select-list order
};
