// FROM-clause table references as the parser builds them: a base table with
// its alias, a derived table (a subquery with a correlation name), or an
// explicit JOIN of two references with a join type and an ON condition.
//
// The table iteration (IterStart ... IterGetTableName) visits the SQLPTTable
// leaves of a reference in FROM-clause order, left before right; with
// exposedOnly TRUE it skips hidden tables. Its state lives in the references
// themselves, so one iteration over a reference runs at a time.
#pragma once

#include <memory>

#include "sql/common/dynamic_array.h"
#include "sql/common/ref_ptr.h"
#include "sql/common/sql_containers.h"
#include "sql/common/sql_type.h"
#include "sql/validate/clear_unref_key.h"
#include "sql/validate/vt_object.h"
#include "sql/validate/vtsc_refers.h"

class SQLPTReference;
class SQLPTTable;
class SQLVTMultiJoin;
class SQLVTNode;
class SQLVTScope;
class SQLVTScopeLevel;
class SQLVTSCCompnrSpec;
class SQLVTSCSearchCond;
class SQLVTTable;
class SQLVTreeData;
class SQLVTWhereUsedMgr;

class SQLPTTableReference : public SQLVTObject {
 public:
  SQLPTTableReference() = default;
  SQLPTTableReference(SQLPTTableReference const &) = delete;
  SQLPTTableReference &operator=(SQLPTTableReference const &) = delete;

  virtual void Log() const = 0;
  virtual bool IsTable() { return false; }
  virtual SQLPTTable *AsTable() { return nullptr; }
  // TRUE for a base table.
  virtual bool IsTableName() { return false; }
  virtual void IterStart(bool exposedOnly) = 0;
  virtual bool IterAtEnd() = 0;
  virtual void IterToNext() = 0;
  virtual SQLPTTable *IterGetTable() = 0;
  virtual char const *IterGetTableName() = 0;
  // The first table whose correlation name repeats one of this reference;
  // null when none.
  virtual SQLPTTable *GetFirstDuplicateTable() = 0;
  // Stores the position of the reference's first column in the FROM row;
  // returns the position after its columns.
  virtual int SetColumnIdOffset(int offset) = 0;
  virtual int GetColumnIdOffset() = 0;
  // Name resolution: the node standing for the reference; it leaves one
  // scope level on the scope.
  virtual SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                         List<char const *> *restrictedQualifiers,
                                         SQLVTWhereUsedMgr *whereUsed) = 0;

  // TRUE when an exposed table has the correlation name (byte for byte).
  bool ExposedTableExists(char const *name);
  // The first exposed table of this reference whose correlation name the
  // other reference (or FROM clause) exposes too; null when none.
  SQLPTTable *FindFirstExposedTableAlsoIn(SQLPTTableReference *other);
  SQLPTTable *FindFirstExposedTableAlsoIn(SQLVTMultiJoin *other);
  // Marks every table (hidden ones too) FOR UPDATE; the argument is not
  // consulted.
  void SetForUpdate(bool forUpdate);
};

class SQLPTTable : public SQLPTTableReference {
 public:
  // A base table; takes ownership of table.
  SQLPTTable(SQLVTTable *table, bool hidden);
  // A derived table; takes ownership of query and correlationName (new[]).
  SQLPTTable(SQLVTNode *query, char *correlationName);
  ~SQLPTTable() override;

  // The alias or name of a base table; the correlation name of a derived one.
  char const *GetCorrelationName() const;
  // The base table's name; null for a derived table.
  char const *GetBaseName() const;
  bool IsHidden() const { return hidden_; }
  // The table node or the subquery; null once extracted.
  SQLVTNode *GetVTTable() const { return ownsNode_ ? node_ : nullptr; }
  // The base-table node; null for a derived table or once extracted.
  SQLVTTable *GetTable() const { return ownsNode_ ? table_ : nullptr; }
  // The base-table node also after it was handed to the join tree (which
  // owns it then); null for a derived table.
  SQLVTTable *GetBaseTable() const { return table_; }
  // Hands the node over; the reference no longer deletes it.
  SQLVTNode *ExtractVTTable();
  // Sets a base table's FOR UPDATE flag; nothing for a derived table.
  void SetForUpdate(bool forUpdate);
  bool IsForUpdate();

  // What the join tree records on the table (it does not own the reference).
  SQLPTReference *GetReferringReference() const { return referringReference_; }
  void SetReferringReference(SQLPTReference *reference) { referringReference_ = reference; }
  SQLUnrefMode GetUnrefMode() const { return unrefMode_; }
  void SetUnrefMode(SQLUnrefMode mode) { unrefMode_ = mode; }
  RefPtr<SQLVTClearUnrefKey> const &GetClearUnrefKey() const { return clearUnrefKey_; }
  void SetClearUnrefKey(RefPtr<SQLVTClearUnrefKey> const &key) { clearUnrefKey_ = key; }
  bool HasCompnrRestriction() const { return hasCompnrRestriction_; }
  void SetHasCompnrRestriction(bool value) { hasCompnrRestriction_ = value; }

  void Log() const override;
  bool IsTable() override { return true; }
  SQLPTTable *AsTable() override { return this; }
  bool IsTableName() override { return isTableName_; }
  void IterStart(bool exposedOnly) override { iterAtEnd_ = exposedOnly && hidden_; }
  bool IterAtEnd() override { return iterAtEnd_; }
  void IterToNext() override { iterAtEnd_ = true; }
  SQLPTTable *IterGetTable() override { return this; }
  char const *IterGetTableName() override { return GetCorrelationName(); }
  SQLPTTable *GetFirstDuplicateTable() override { return nullptr; }
  int SetColumnIdOffset(int offset) override;
  int GetColumnIdOffset() override { return columnIdOffset_; }
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;

 private:
  bool hidden_;
  SQLPTReference *referringReference_ = nullptr;
  SQLUnrefMode unrefMode_ = SQL_UNREF_NONE;
  RefPtr<SQLVTClearUnrefKey> clearUnrefKey_;
  bool hasCompnrRestriction_ = false;
  bool isTableName_;
  SQLVTNode *node_;              // the table node or the subquery
  SQLVTTable *table_ = nullptr;  // the same node for a base table
  std::unique_ptr<char[]> correlationName_;  // derived table only
  bool ownsNode_ = true;
  int columnIdOffset_ = 0;
  bool iterAtEnd_ = true;
};

class SQLPTJoin : public SQLPTTableReference {
 public:
  // Takes ownership of left, right and condition (which may be null).
  SQLPTJoin(SQLJoinType type, SQLPTTableReference *left, SQLPTTableReference *right,
            SQLVTSCSearchCond *condition);
  ~SQLPTJoin() override;

  SQLJoinType GetJoinType() const { return type_; }
  SQLPTTableReference *GetLeft() const { return left_.get(); }
  SQLPTTableReference *GetRight() const { return right_.get(); }
  SQLVTSCSearchCond *GetCondition() const { return condition_.get(); }
  // Hands the ON condition over.
  SQLVTSCSearchCond *ExtractCondition() { return condition_.release(); }

  void Log() const override;
  void IterStart(bool exposedOnly) override;
  bool IterAtEnd() override { return side_ == Side::None; }
  void IterToNext() override;
  SQLPTTable *IterGetTable() override;
  char const *IterGetTableName() override;
  SQLPTTable *GetFirstDuplicateTable() override { return firstDuplicate_; }
  int SetColumnIdOffset(int offset) override;
  int GetColumnIdOffset() override { return left_->GetColumnIdOffset(); }
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;

 private:
  enum class Side { None, Left, Right };
  // The ANSI mode: the join type after the enclosing query's restrictions
  // (restricted), which make a side that could be filled with nulls
  // mandatory.
  void HandleRestrCompnrQualifs(SQLVTScopeLevel *left, SQLVTScopeLevel *right, List<char const *> *restricted);
  // The ANSI mode: applies the _compnr join predicates of the ON clause to
  // the company-number sets of the two sides' tables.
  void RestrictTableCompnrSets(SQLVTScope *scope, SQLVTScopeLevel *left, SQLVTScopeLevel *right,
                               DynamicArray<SQLVTSCCompnrSpec *> *specs);
  SQLPTTableReference *Current() const { return side_ == Side::Left ? left_.get() : right_.get(); }
  // Moves the iteration on to the next side that yields a table.
  void NextSide();

  SQLJoinType type_;
  std::unique_ptr<SQLPTTableReference> left_;
  std::unique_ptr<SQLPTTableReference> right_;
  std::unique_ptr<SQLVTSCSearchCond> condition_;  // null when none
  SQLPTTable *firstDuplicate_ = nullptr;
  bool exposedOnly_ = false;
  Side side_ = Side::None;  // the side being iterated; None at the end
};
