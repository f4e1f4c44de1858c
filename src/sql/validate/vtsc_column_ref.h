// Resolved column leaves of the validated tree.
//
// SQLVTSCColumnRef names a column by the scope level that found it (0 the
// innermost query, -1 the one around it, ...) and its id within that
// level. SQLVTSCPseudoColumnRef is the transient form of a combined column
// (one dictionary name for several member columns): the parent that meets
// one during name resolution converts it to a single member or to a row of
// its members.
#pragma once

#include <string>

#include "sql/common/list.h"
#include "sql/validate/vt_value_expr.h"

class SQLColumnDescriptor;
class SQLVTSCRowValueConstr;

// One shift of column ids: ids first..last (inclusive) move by offset.
class SQLColumnIdMapping {
 public:
  SQLColumnIdMapping() = default;
  SQLColumnIdMapping(int first, int last, int offset) : first_(first), last_(last), offset_(offset) {}
  int GetFirst() const { return first_; }
  int GetLast() const { return last_; }
  int GetOffset() const { return offset_; }

 private:
  int first_ = 0;
  int last_ = -1;
  int offset_ = 0;
};

class SQLVTSCColumnRef : public SQLVTSCValueExpr {
 public:
  // descriptor is owned by the scope level (not by the node).
  SQLVTSCColumnRef(int level, int columnId, SQLColumnDescriptor const *descriptor)
      : level_(level), columnId_(columnId), descriptor_(descriptor) {}

  int GetLevel() const { return level_; }
  int GetColumnId() const { return columnId_; }
  SQLColumnDescriptor const *GetColumnDescriptor() const { return descriptor_; }

  // Itself for the column's type, and for REAL when the column is INTEGER;
  // a type conflict (42T12) otherwise.
  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  SQLVTSCValueExpr *Copy() override { return new SQLVTSCColumnRef(level_, columnId_, descriptor_); }
  SQLRSSCValueExpr *CreateRS() override;
  void GetPossibleTypes(SQLTypeSet *types) override;
  int GetDepth() const override;
  void Log() const override;
  // Shifts the id by the first mapping that holds it, when level is the
  // node's own.
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  // Column references are made by name resolution and not resolved again.
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, SQLVTWhereUsedMgr *,
                                        bool) override {
    return nullptr;
  }
  bool IsColumnRef() override { return true; }
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {
    return other->IsSameColumnRef(this);
  }
  bool IsSameColumnRef(SQLVTSCColumnRef const *other) const override {
    return other->level_ == level_ && other->columnId_ == columnId_;
  }

 private:
  int level_;
  int columnId_;
  SQLColumnDescriptor const *descriptor_;
};

class SQLVTSCPseudoColumnRef : public SQLVTSCValueExpr {
 public:
  // Takes ownership of members (one SQLVTSCColumnRef per member column, in
  // order) and of the nodes in it, also when the construction fails. The
  // name is kept whole, whatever its length.
  SQLVTSCPseudoColumnRef(char const *name, pSQLVTSCValueExprList *members);
  ~SQLVTSCPseudoColumnRef() override;
  SQLVTSCPseudoColumnRef(SQLVTSCPseudoColumnRef const &) = delete;
  SQLVTSCPseudoColumnRef &operator=(SQLVTSCPseudoColumnRef const &) = delete;

  char const *GetName() const { return name_.c_str(); }
  int NrElements() const { return members_ ? members_->NrElements() : 0; }
  // Appends a member column; takes ownership of member, which is deleted
  // when the append fails.
  void AppendMember(SQLVTSCValueExpr *member);
  // Takes the first member out, deletes this node with the other members
  // and returns that member.
  SQLVTSCValueExpr *ConvertToValueExpr();
  // Hands the member list to a new pseudo-column row value constructor,
  // deletes this node (also when the constructor cannot be made) and
  // returns the constructor.
  SQLVTSCRowValueConstr *ConvertToRowValueConstr();
  // Hands the member list to the caller (null for none left) without
  // deleting the node.
  pSQLVTSCValueExprList *ReleaseMembers();

  SQLVTSCValueExpr *Cast(SQLType, bool) override { return nullptr; }
  SQLVTSCValueExpr *Copy() override { return nullptr; }
  SQLRSSCValueExpr *CreateRS() override { return nullptr; }
  void GetPossibleTypes(SQLTypeSet *) override {}
  void Log() const override {}
  void MapColumnIds(int, SQLColumnIdMappingList *) override {}
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, SQLVTWhereUsedMgr *,
                                        bool) override {
    return nullptr;
  }
  bool IsPseudoColumnRef() override { return true; }

 private:
  void DeleteMembers();

  std::string name_;
  pSQLVTSCValueExprList *members_;  // owned, with its nodes
};
