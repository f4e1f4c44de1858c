// The logical connectives of validated search conditions: AND, OR and NOT,
// and the helpers the condition classes share.
//
// Nested ANDs (ORs) flatten into one list when they are built. The lifting
// passes take company-number restrictions and REFERS TO predicates out of a
// chain of ANDs; below an OR or a NOT such a predicate is refused.
#pragma once

#include <memory>

#include "sql/common/sql_containers.h"
#include "sql/validate/vt_search_cond.h"

// A new list of each condition's executable condition, in order. When one
// throws, what was built is deleted and the exception passes on.
pSQLRSSCSearchCondList *SQLVTCreateRSSearchCondList(pSQLVTSCSearchCondList *list);
// Logs each condition, with ", " between them.
void SQLVTLogSearchCondList(pSQLVTSCSearchCondList const *list);
// Deletes every element, then the list.
void SQLVTDeleteSearchCondList(pSQLVTSCSearchCondList *list);
void SQLVTDeleteRSSearchCondList(pSQLRSSCSearchCondList *list);
void SQLVTDeleteRSValueExprList(pSQLRSSCValueExprList *list);

// AND and OR: a list of two or more terms, none of the connective's own kind.
class SQLVTSCLogical : public SQLVTSCSearchCond {
 public:
  ~SQLVTSCLogical() override;
  SQLVTSCLogical(SQLVTSCLogical const &) = delete;
  SQLVTSCLogical &operator=(SQLVTSCLogical const &) = delete;

  int NrTerms() const { return terms_->NrElements(); }
  pSQLVTSCSearchCondList *Terms() { return terms_; }

  void MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                           SQLVTWhereUsedMgr *whereUsed) override;
  void ValidateArrayUsage() const override;
  void ValidateTypes() const override;

 protected:
  SQLVTSCLogical() : terms_(new pSQLVTSCSearchCondList()) {}

  // Replaces each term by its pruned form; one pruned to null leaves the
  // list; check runs after each term and may throw. Returns null when no term is left (this is deleted), the one term
  // left (this is deleted), or this.
  template <typename Prune, typename Check>
  SQLVTSCSearchCond *PruneTerms(Prune prune, Check check);
  void LogTerms(char const *word) const;
  // Moves every term, in order, to the end of *list and deletes this.
  void SpliceTermsInto(pSQLVTSCSearchCondList *list);

  pSQLVTSCSearchCondList *terms_;  // owned, with its conditions; null only while this is deleted
};

class SQLVTSCAnd : public SQLVTSCLogical {
 public:
  // Both operands are taken over (deleted when the construction fails).
  SQLVTSCAnd(std::unique_ptr<SQLVTSCSearchCond> a, std::unique_ptr<SQLVTSCSearchCond> b);
  SQLVTSCAnd(SQLVTSCSearchCond *a, SQLVTSCSearchCond *b)
      : SQLVTSCAnd(std::unique_ptr<SQLVTSCSearchCond>(a), std::unique_ptr<SQLVTSCSearchCond>(b)) {}
  // Takes the conditions over and deletes the list.
  explicit SQLVTSCAnd(pSQLVTSCSearchCondList *list);

  SQLRSSCSearchCond *CreateRS() override;
  void Log() const override;
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  SQLVTSCSearchCond *PruneCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *specs) override;
  SQLVTSCSearchCond *PruneRefers(DynamicArray<SQLVTSCRefers *> *refers) override;
  // Moves the conjuncts to the end of *list and deletes this.
  void CollapseAnd(pSQLVTSCSearchCondList *list) override;
};

class SQLVTSCOr : public SQLVTSCLogical {
 public:
  SQLVTSCOr(std::unique_ptr<SQLVTSCSearchCond> a, std::unique_ptr<SQLVTSCSearchCond> b);
  SQLVTSCOr(SQLVTSCSearchCond *a, SQLVTSCSearchCond *b)
      : SQLVTSCOr(std::unique_ptr<SQLVTSCSearchCond>(a), std::unique_ptr<SQLVTSCSearchCond>(b)) {}
  explicit SQLVTSCOr(pSQLVTSCSearchCondList *list);

  SQLRSSCSearchCond *CreateRS() override;
  void Log() const override;
  [[noreturn]] void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  // A lifted predicate below an OR is refused (42I30, 42I15).
  SQLVTSCSearchCond *PruneCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *specs) override;
  SQLVTSCSearchCond *PruneRefers(DynamicArray<SQLVTSCRefers *> *refers) override;
  void CollapseOr(pSQLVTSCSearchCondList *list) override;
};

class SQLVTSCNot : public SQLVTSCSearchCond {
 public:
  explicit SQLVTSCNot(SQLVTSCSearchCond *operand);  // taken over
  ~SQLVTSCNot() override;
  SQLVTSCNot(SQLVTSCNot const &) = delete;
  SQLVTSCNot &operator=(SQLVTSCNot const &) = delete;

  SQLVTSCSearchCond *GetOperand() const { return operand_; }

  SQLRSSCSearchCond *CreateRS() override;
  void Log() const override;
  [[noreturn]] void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  void MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                           SQLVTWhereUsedMgr *whereUsed) override;
  // A lifted predicate below a NOT is refused (42I29, 42I16).
  SQLVTSCSearchCond *PruneCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *specs) override;
  SQLVTSCSearchCond *PruneRefers(DynamicArray<SQLVTSCRefers *> *refers) override;
  void ValidateArrayUsage() const override;
  void ValidateTypes() const override;

 private:
  SQLVTSCSearchCond *operand_;  // owned
};
