// SQLVTMultiJoin: the node of a FROM clause. The parser appends the clause's
// table references, marks it FOR UPDATE and hands it the REFERS TO
// predicates and company-number restrictions lifted out of the WHERE clause;
// name resolution replaces it by the join tree over its tables.
//
// The grammar admits a FROM list that puts explicit joins or derived tables
// beside REFERS TO predicates; such a clause is kept as written (every
// reference and predicate owned here) and refused with 42I91 when the join
// tree is built (HasOnlyBaseTables tells).
//
// With REFERS TO predicates the tables are ordered along the reference
// graph (Graph): each referred table is joined LEFT OUTER after the table
// that refers to it, on the reference's comparison, the tables move to
// their new positions in the joined row and every condition already
// resolved is renumbered with them. Without predicates the references are
// joined INNER in FROM-clause order.
#pragma once

#include <memory>

#include <string>
#include <vector>

#include "sql/common/dynamic_array.h"
#include "sql/validate/pt_reference.h"
#include "sql/validate/pt_table_ref.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vt_node_support.h"

class SQLVTSCCompnrSpec;
class SQLVTSCRefers;
class SQLVTSCRowValueConstr;
class SQLVTTableScopeLevel;

// The unref mode of a REFERS TO join that the dictionary's reference mode
// word gives (its two low bits: 1 SetUnref, 2 ClearUnref, 3 Clear). A mode
// of 0 is a damaged dictionary: an SQLException, never a stop.
SQLUnrefMode SQLVTUnrefModeOfReference(unsigned mode, char const *column);

class SQLVTMultiJoin : public SQLVTNode {
 public:
  SQLVTMultiJoin();
  ~SQLVTMultiJoin() override;

  // Appends reference (taken over) and returns its index, or -1 when
  // dropIdenticalRepeat is TRUE and the reference repeats a base table of
  // the clause under the same correlation name and table name: it is then
  // deleted.
  int AddTableReference(SQLPTTableReference *reference, bool dropIdenticalRepeat);
  int GetNumReferences() const { return references_.NrElements(); }
  SQLPTTableReference *GetReference(int i) const { return references_.Get(i); }
  // FALSE when a reference is an explicit join or a derived table.
  bool HasOnlyBaseTables() const;

  // Take ownership of the arrays and their elements.
  void SetReferences(DynamicArray<SQLVTSCRefers *> *refers);
  void SetCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *specs);
  DynamicArray<SQLVTSCRefers *> *GetReferences() const { return refers_.get(); }
  DynamicArray<SQLVTSCCompnrSpec *> *GetCompnrSpecs() const { return compnrSpecs_.get(); }
  bool HasRefersTo() const { return refers_ && refers_->NrElements() > 0; }

  // Every exposed table and every reference appended later is FOR UPDATE.
  void MarkTablesForUpdate();

  // The tables of all references in order (all, or the exposed ones).
  void IterStartAll() { IterStart(false); }
  void IterStartExposed() { IterStart(true); }
  bool IterAtEnd() const { return iterIndex_ >= references_.NrElements(); }
  void IterToNext();
  SQLPTTable *IterGetTable() { return references_.Get(iterIndex_)->IterGetTable(); }
  // The number of tables (hidden ones too).
  int GetNumTables();

  bool ExposedTableExists(char const *name);
  SQLPTTable *GetFirstDuplicateTable() const { return firstDuplicate_; }

  [[noreturn]] SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  SQLRowSource *DoCreateRS() override { return nullptr; }
  SQLColumnDescriptor const *GetColumnDescriptor(int) const override { return nullptr; }
  int GetNumCols() const override { return 0; }
  bool IsForUpdate() override;
  void Log() const override;
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;
  void ValidateTypes() const override {}
  void ValidateArrayUsage() const override {}
  // Each hint goes to the first exposed base table of its correlation name
  // (SQLVTTable::SetIndexHints); none: 42I04 "Unknown table '<name>'".
  void SetIndexHintsOnTables(List<SQLVTIndexHint> *hints) override;

 private:
  void IterStart(bool exposedOnly);
  // Skips references whose iteration is at its end.
  void IterSkipEmpty();

  // ---- the join tree (vt_multi_join_tree.cc) ----
  using ReferenceArray = std::vector<std::unique_ptr<SQLPTReference>>;
  // The references mapped in order and joined INNER; one level for all.
  SQLVTNode *CreateANSIJoinTree(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                List<char const *> *restrictedQualifiers, SQLVTWhereUsedMgr *whereUsed);
  // The tree along the REFERS TO references; one table level for all.
  SQLVTNode *CreateJoinTree(SQLVTScope *scope, SQLVTreeData *treeData, bool applyUnrefModes,
                            SQLVTWhereUsedMgr *whereUsed);
  void CreateScope(SQLVTScope *scope, bool allTables, bool applyUnrefModes);
  static void AddTableToScopeLevel(SQLVTTableScopeLevel *level, SQLPTTable *table, bool applyUnrefModes);
  // The predicates as references between FROM tables (may add hidden tables
  // for a reference path) and the comparisons of Skip mode ANDed.
  void CreateReferences(ReferenceArray *references, std::unique_ptr<SQLVTSCSearchCond> *remaining,
                        SQLVTScope *scope, SQLVTreeData *treeData, bool applyUnrefModes,
                        SQLVTWhereUsedMgr *whereUsed);
  // One step of a predicate: the comparison of the two row values (taken
  // over), as a reference or a remaining condition.
  void AddReference(ReferenceArray *references, std::unique_ptr<SQLVTSCSearchCond> *remaining,
                    SQLVTSCRefers *predicate, int referring, int referred, SQLUnrefMode mode,
                    std::unique_ptr<SQLVTSCRowValueConstr> from, std::unique_ptr<SQLVTSCRowValueConstr> to,
                    int *keyNumber);
  // The table whose columns make the row value, -1 for constants.
  int FindTableForRowValueConstr(SQLVTSCRowValueConstr *row);
  int FindExposedTableByName(char const *name);
  int FindExposedTableByColumnId(int id);
  SQLPTTable *GetPTTable(int i) { return references_.Get(i)->AsTable(); }
  // The referring table and foreign-key column ("" when none).
  void FindForeignKeyName(int referring, SQLVTSCRowValueConstr *row, SQLVTSCIdentifier *element,
                          std::string *table, std::string *column);
  static SQLUnrefMode GetUnrefModeFromDD(std::string const &table, std::string const &column, char const *target,
                                         char const *index);
  // A row of the table's column, or of the members of its pseudo-column or
  // index, at the table's offset; null when the table has no such name.
  static SQLVTSCRowValueConstr *CreateRowValueConstr(SQLVTTable *table, int offset, char const *name);
  // The lifted _compnr restrictions applied to the tables' sets.
  void RestrictTableCompnrSets(SQLVTScope *scope);
  void SetCompnrFromCompnrSpecs();
  void GenerateWhereUsedInfo(SQLVTWhereUsedMgr *whereUsed);

  DynamicArray<SQLPTTableReference *> references_;  // owned with their tables
  int nextColumnOffset_ = 0;
  SQLVTOwnedArray<SQLVTSCRefers> refers_;          // null until set
  SQLVTOwnedArray<SQLVTSCCompnrSpec> compnrSpecs_;  // null until set
  bool forUpdate_ = false;
  SQLPTTable *firstDuplicate_ = nullptr;
  int iterIndex_ = 0;
  bool iterExposedOnly_ = false;
};
