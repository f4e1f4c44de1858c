// SQLVTSCSearchCond: the abstract validated search condition. AND, OR, NOT,
// the predicates, REFERS TO and the company-number restrictions derive from
// it. The parser's query-specification builder prunes REFERS TO predicates
// and company-number restrictions out of a WHERE condition before the rest
// becomes a filter.
#pragma once

#include <memory>

#include "sql/common/sql_containers.h"
#include "sql/validate/vt_object.h"

class SQLRSSCSearchCond;
class SQLVTScope;
class SQLVTSCCompnrSpec;
class SQLVTSCRefers;
class SQLVTreeData;
class SQLVTWhereUsedMgr;


class SQLVTSCSearchCond : public SQLVTObject {
 public:
  // A new executable condition owned by the caller.
  virtual SQLRSSCSearchCond *CreateRS() = 0;
  virtual void Log() const = 0;
  virtual void MapColumnIds(int level, SQLColumnIdMappingList *mappings) = 0;
  virtual void MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                   SQLVTWhereUsedMgr *whereUsed) = 0;
  // Moves the company-number restrictions into *specs and returns what
  // remains of the condition (null when nothing remains).
  virtual SQLVTSCSearchCond *PruneCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *specs) = 0;
  // The same for REFERS TO predicates.
  virtual SQLVTSCSearchCond *PruneRefers(DynamicArray<SQLVTSCRefers *> *refers) = 0;
  virtual void ValidateArrayUsage() const = 0;
  virtual void ValidateTypes() const = 0;
  // Flatten nested ANDs (ORs) into *list; by default the condition itself
  // is the one term. The condition is taken over also when the call throws:
  // what did not reach *list is deleted.
  virtual void CollapseAnd(pSQLVTSCSearchCondList *list) { AppendSelf(list); }
  virtual void CollapseOr(pSQLVTSCSearchCondList *list) { AppendSelf(list); }

 private:
  void AppendSelf(pSQLVTSCSearchCondList *list) {
    std::unique_ptr<SQLVTSCSearchCond> owned(this);
    list->Append(this);
    static_cast<void>(owned.release());
  }
};
