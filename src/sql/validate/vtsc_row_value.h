// Row value constructors: the rows of value expressions that comparisons,
// IN predicates and the reference conditions of joins compare element by
// element.
//
// The parser builds a generic constructor for a parenthesised list and an
// implicit one for a single value where a row is expected. When name
// resolution finds that single value to be a combined column, the implicit
// constructor gives way to a pseudo-column constructor over the member
// columns.
#pragma once

#include <memory>
#include <string>

#include "sql/common/list.h"
#include "sql/validate/vt_object.h"
#include "sql/validate/vt_value_expr.h"

enum SQLVTSCRowValueConstrType : int {
  SQL_ROW_VALUE_GENERIC = 0,
  SQL_ROW_VALUE_IMPLICIT = 1,
  SQL_ROW_VALUE_PSEUDO_COLUMN = 2,
};

class SQLVTSCRowValueConstr : public SQLVTObject {
 public:
  ~SQLVTSCRowValueConstr() override;
  SQLVTSCRowValueConstr(SQLVTSCRowValueConstr const &) = delete;
  SQLVTSCRowValueConstr &operator=(SQLVTSCRowValueConstr const &) = delete;

  virtual SQLVTSCRowValueConstrType GetType() const = 0;
  virtual SQLVTSCRowValueConstr *Copy() = 0;
  // Takes ownership of element.
  virtual void Append(SQLVTSCValueExpr *element) { elements_->Append(element); }
  // Resolves the elements; returns the constructor that stands in the tree
  // afterwards (the caller stores it in place of this one).
  virtual SQLVTSCRowValueConstr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                                     SQLVTWhereUsedMgr *whereUsed) = 0;

  // The cursor of the element list.
  int NrElements() const { return elements_->NrElements(); }
  bool First() { return elements_->First(); }
  bool Next() { return elements_->Next(); }
  SQLVTSCValueExpr *GetCurrent() { return elements_->GetCurrent(); }
  // Replaces the current element (the old one is not deleted).
  void SetCurrent(SQLVTSCValueExpr *element) { elements_->SetCurrent(element); }
  // Unlinks the current element (not deleted).
  void DeleteCurrent() { elements_->DeleteCurrent(); }

  // Deletes every element behind the first n.
  void Truncate(int n);
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings);
  // A new list of the elements' executable expressions, in order.
  pSQLRSSCValueExprList *CreateRSValueExprList();
  // The first element's identifier; null when it is none.
  SQLVTSCIdentifier *AsIdentifier();
  void Log() const;

 protected:
  SQLVTSCRowValueConstr() : elements_(new pSQLVTSCValueExprList()) {}
  // Takes ownership of elements and the nodes in it.
  explicit SQLVTSCRowValueConstr(pSQLVTSCValueExprList *elements)
      : elements_(elements ? elements : new pSQLVTSCValueExprList()) {}

  // Resolves every element; a combined column among them is refused (42I11).
  void ResolveElements(SQLVTScope *scope, SQLVTreeData *treeData, int flags, SQLVTWhereUsedMgr *whereUsed);
  // Copies of every element into row; FALSE when one cannot be copied.
  bool CopyElementsTo(SQLVTSCRowValueConstr *row);
  pSQLVTSCValueExprList *Elements() const { return elements_; }

 private:
  pSQLVTSCValueExprList *elements_;  // owned, with its nodes
};

class SQLVTSCGenericRowValueConstr : public SQLVTSCRowValueConstr {
 public:
  SQLVTSCGenericRowValueConstr() = default;
  explicit SQLVTSCGenericRowValueConstr(pSQLVTSCValueExprList *elements) : SQLVTSCRowValueConstr(elements) {}

  SQLVTSCRowValueConstrType GetType() const override { return SQL_ROW_VALUE_GENERIC; }
  SQLVTSCRowValueConstr *Copy() override;
  SQLVTSCRowValueConstr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                             SQLVTWhereUsedMgr *whereUsed) override;
};

class SQLVTSCImplicitRowValueConstr : public SQLVTSCRowValueConstr {
 public:
  // Takes ownership of element, its only element.
  // The element is taken over (deleted when the construction fails).
  explicit SQLVTSCImplicitRowValueConstr(std::unique_ptr<SQLVTSCValueExpr> element);
  explicit SQLVTSCImplicitRowValueConstr(SQLVTSCValueExpr *element)
      : SQLVTSCImplicitRowValueConstr(std::unique_ptr<SQLVTSCValueExpr>(element)) {}

  SQLVTSCRowValueConstrType GetType() const override { return SQL_ROW_VALUE_IMPLICIT; }
  SQLVTSCRowValueConstr *Copy() override;
  void Append(SQLVTSCValueExpr *element) override;
  // A combined column becomes a pseudo-column constructor, which replaces
  // (and deletes) this one.
  SQLVTSCRowValueConstr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                             SQLVTWhereUsedMgr *whereUsed) override;
};

class SQLVTSCPseudoColRowValueConstr : public SQLVTSCRowValueConstr {
 public:
  // Takes ownership of members (the member column references). The name is
  // kept whole, whatever its length.
  SQLVTSCPseudoColRowValueConstr(char const *name, pSQLVTSCValueExprList *members)
      : SQLVTSCRowValueConstr(members), name_(name ? name : "") {}

  char const *GetName() const { return name_.c_str(); }
  SQLVTSCRowValueConstrType GetType() const override { return SQL_ROW_VALUE_PSEUDO_COLUMN; }
  SQLVTSCRowValueConstr *Copy() override;
  SQLVTSCRowValueConstr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                             SQLVTWhereUsedMgr *whereUsed) override;

 private:
  std::string name_;
};
