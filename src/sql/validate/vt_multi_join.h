// SQLVTMultiJoin: the node of a FROM clause. The parser appends the clause's
// table references, marks it FOR UPDATE and hands it the REFERS TO
// predicates and company-number restrictions lifted out of the WHERE clause;
// name resolution replaces it by the join tree over its tables.
//
// The grammar admits a FROM list that puts explicit joins or derived tables
// beside REFERS TO predicates; such a clause is kept as written (every
// reference and predicate owned here) and refused when the join tree is
// built (HasOnlyBaseTables tells).
#pragma once

#include <memory>

#include "sql/common/dynamic_array.h"
#include "sql/validate/pt_table_ref.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vt_node_support.h"

class SQLVTSCCompnrSpec;
class SQLVTSCRefers;

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

  DynamicArray<SQLPTTableReference *> references_;  // owned with their tables
  int nextColumnOffset_ = 0;
  SQLVTOwnedArray<SQLVTSCRefers> refers_;          // null until set
  SQLVTOwnedArray<SQLVTSCCompnrSpec> compnrSpecs_;  // null until set
  bool forUpdate_ = false;
  SQLPTTable *firstDuplicate_ = nullptr;
  int iterIndex_ = 0;
  bool iterExposedOnly_ = false;
};
