// SQLVTTable: the validated-tree leaf of one base table: its name and alias,
// its shared schema, its company-number restriction set, its index hints,
// its FOR UPDATE flag and a table number unique in the process.
//
// It is also the table a role condition is read against (SQLSCTable): the
// roles manager resolves the condition's column names through it.
//
// At each execution the node becomes a remote fetch of the table in its
// physical company, under a filter with the user's role condition for the
// logical company when the roles restrict the table there.
#pragma once

#include <atomic>
#include <memory>

#include "sql/common/sql_schema.h"
#include "sql/roles/role_cond_table.h"
#include "sql/validate/index_hints.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vtsc_compnr.h"

class SQLParameter;
class SQLVTreeData;

class SQLVTTable : public SQLVTNode, public SQLSCTable {
 public:
  // Takes over name and alias (new[] buffers; alias may be null). Throws
  // SQLSchemaExNotExists, having freed both, for a table the dictionary
  // does not hold.
  SQLVTTable(char *name, char *alias, bool forUpdate);
  ~SQLVTTable() override;

  // The statement's default company-number parameter becomes the table's.
  void InitializeCompnr(SQLVTreeData *treeData);
  SQLParameter const *GetCompnrParameter() const { return compnrParameter_; }
  void RestrictToCompnrParam(SQLParameter const *parameter) { compnrSet_.IntersectWith(parameter); }
  void RestrictToCompnr(int number) { compnrSet_.IntersectWith(number); }
  // Throws 42I89 (SQLVTCompnrConflict) when the restrictions conflict.
  void SimplifyCompnrSet();
  bool CompnrSetIsRestricted() const { return compnrSet_.IsRestricted(); }
  SQLVTSCCompnrSet const *GetCompnrSet() const { return &compnrSet_; }
  SQLVTSCCompnrSet *GetCompnrSet() { return &compnrSet_; }
  // The company the table reads in the current execution: the restricted
  // number, else the value of the statement's company-number parameter.
  // Valid once the parameters are bound. Restrictions that disagree at run
  // time (a parameter and a joined table's company) throw 42I89.
  int GetLogicalCompnr() const;
  // The logical company mapped to the physical one that stores the rows.
  int GetPhysicalCompnr() const;

  char const *GetName() const override { return name_.get(); }
  // The id of a real column of the schema, -1 when none.
  int GetColumnId(char const *name) const override { return schema_->GetColumnId(name); }
  char const *GetAlias() const { return alias_.get(); }
  // The alias, else the name.
  char const *GetCorrelationName() const { return alias_ ? alias_.get() : name_.get(); }
  SQLSchemaPtr const &GetSchema() const { return schema_; }
  int GetTableNumber() const { return tableNumber_; }
  void SetForUpdate(bool forUpdate) { forUpdate_ = forUpdate; }

  // Takes ownership of hints (also when it throws). A table that has index
  // hints already: 42I45; an index number outside 1 to the table's number
  // of indexes: 42I44; a table the dictionary no longer holds: 42I04. All
  // with line 0.
  void SetIndexHints(SQLIndexHints *hints);
  SQLIndexHints const *GetIndexHints() const { return indexHints_.get(); }

  bool IsTable() const { return true; }
  SQLVTTable *AsTable() { return this; }

  [[noreturn]] SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType type, SQLRetrySpecList *specs) override;
  SQLRowSource *DoCreateRS() override;
  SQLColumnDescriptor const *GetColumnDescriptor(int column) const override;
  int GetNumCols() const override;
  bool IsForUpdate() override { return forUpdate_; }
  void Log() const override;
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                 List<char const *> *restrictedQualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override;
  void ValidateTypes() const override {}
  void ValidateArrayUsage() const override {}
  [[noreturn]] void SetIndexHintsOnTables(List<SQLVTIndexHint> *hints) override;
  bool IsGroupByQuery() override { return false; }

 private:
  // Numbers of the table nodes of the process; atomic like the row-source
  // counter, as statements may be prepared on different threads.
  static std::atomic<int> _tableCounter;

  std::unique_ptr<char[]> name_;
  std::unique_ptr<char[]> alias_;                // null when none
  SQLParameter const *compnrParameter_ = nullptr;  // the statement's; not owned
  SQLVTSCCompnrSet compnrSet_;
  SQLSchemaPtr schema_;
  bool forUpdate_;
  std::unique_ptr<SQLIndexHints> indexHints_;    // null when none
  int tableNumber_;
};
