// The REFERS TO predicate: "a REFERS TO t2" names a reference from columns
// of one table to another table. It is never evaluated: the query builder
// lifts it out of the WHERE condition and the join tree turns it into a
// reference join.
#pragma once

#include <memory>

#include "sql/common/dynamic_array.h"
#include "sql/validate/vt_search_cond.h"
#include "sql/validate/vtsc_identifier.h"
#include "sql/validate/vtsc_row_value.h"

// How a REFERS TO join treats a referring row whose referred row is missing.
enum SQLUnrefMode : int {
  SQL_UNREF_NONE = 0,
  SQL_UNREF_SKIP = 1,
  SQL_UNREF_CLEAR = 2,
  SQL_UNREF_CLEAR_UNREF = 3,
  SQL_UNREF_SET_UNREF = 4,
  SQL_UNREF_AUTO = 5,
};

// The word of the mode in the trace ("None", "Skip", ...).
char const *SQLUnrefModeWord(SQLUnrefMode mode);

// The table names of a REFERS TO path; owns its identifiers.
class pSQLVTSCIdentifierDelArray : public DynamicArray<SQLVTSCIdentifier *> {
 public:
  pSQLVTSCIdentifierDelArray() : DynamicArray<SQLVTSCIdentifier *>(10) {}
  ~pSQLVTSCIdentifierDelArray();
  pSQLVTSCIdentifierDelArray(pSQLVTSCIdentifierDelArray const &) = delete;
  pSQLVTSCIdentifierDelArray &operator=(pSQLVTSCIdentifierDelArray const &) = delete;

  // The names, separated by ", ".
  void Log() const;
};

class SQLVTSCRefers : public SQLVTSCSearchCond {
 public:
  // Everything is taken over; fromForeignKey and path may be null.
  SQLVTSCRefers(SQLVTSCRowValueConstr *from, SQLVTSCIdentifier *fromForeignKey, SQLVTSCIdentifier *to,
                pSQLVTSCIdentifierDelArray *path, SQLUnrefMode unrefMode);

  SQLVTSCRowValueConstr *GetFrom() const { return from_.get(); }
  // Hands the referring row value over (the join tree resolves it); the
  // predicate then holds none.
  SQLVTSCRowValueConstr *ExtractFrom() { return from_.release(); }
  SQLVTSCIdentifier *GetFromForeignKey() const { return fromForeignKey_.get(); }
  SQLVTSCIdentifier *GetTo() const { return to_.get(); }
  pSQLVTSCIdentifierDelArray *GetPath() const { return path_.get(); }
  SQLUnrefMode GetUnrefMode() const { return unrefMode_; }

  // Never executed: always null.
  SQLRSSCSearchCond *CreateRS() override { return nullptr; }
  void Log() const override;
  void MapColumnIds(int, SQLColumnIdMappingList *) override {}
  // The join tree resolves the names; nothing happens here.
  void MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, SQLVTWhereUsedMgr *) override {}
  SQLVTSCSearchCond *PruneCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *) override { return this; }
  // Moves this into *refers; nothing remains.
  SQLVTSCSearchCond *PruneRefers(DynamicArray<SQLVTSCRefers *> *refers) override;
  void ValidateArrayUsage() const override {}
  void ValidateTypes() const override {}

 private:
  std::unique_ptr<SQLVTSCRowValueConstr> from_;
  std::unique_ptr<SQLVTSCIdentifier> fromForeignKey_;
  std::unique_ptr<pSQLVTSCIdentifierDelArray> path_;
  std::unique_ptr<SQLVTSCIdentifier> to_;
  SQLUnrefMode unrefMode_;
};
