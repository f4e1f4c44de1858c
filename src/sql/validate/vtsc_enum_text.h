// enum_description(column [, language]) and text_content(column [, language])
// of the validated tree. Both name a column of a base table through the data
// dictionary.
//
// An enumeration description is rewritten during name resolution into a
// simple CASE over the column's stored number, with one WHEN clause per
// value of the enumeration's definition in the language.
//
// A text content keeps the resolved column (the text number) and the
// language. Its executable form reads the text table through the text
// reader, which this library does not have yet: CreateRS refuses the
// expression with an SQLException rather than evaluating it wrongly.
#pragma once

#include <memory>

#include "sql/validate/vt_value_expr.h"

class SQLVTSCStringConst;
class SQLVTTable;
struct SQLVTColumnInfo;
struct DD_COLUMN;

class SQLVTSCEnumDescription : public SQLVTSCValueExpr {
 public:
  // Takes ownership of both; language may be null (the user's language).
  SQLVTSCEnumDescription(SQLVTSCIdentifier *identifier, SQLVTSCStringConst *language);
  ~SQLVTSCEnumDescription() override;
  SQLVTSCEnumDescription(SQLVTSCEnumDescription const &) = delete;
  SQLVTSCEnumDescription &operator=(SQLVTSCEnumDescription const &) = delete;

  SQLVTSCValueExpr *Cast(SQLType, bool) override { return this; }
  // Null: the node lives only until name resolution, and its identifier
  // cannot be copied.
  SQLVTSCValueExpr *Copy() override { return nullptr; }
  SQLRSSCValueExpr *CreateRS() override { return nullptr; }
  void GetPossibleTypes(SQLTypeSet *types) override { types->Insert(SQL_STRING); }
  void Log() const override;
  // A broken invariant: the node never reaches a projection's remapping.
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  // Returns the simple CASE built from the enumeration's definition; this
  // node is deleted.
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed, bool inExpression) override;
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {
    return other->IsSameEnumDescription(this);
  }
  bool IsSameEnumDescription(SQLVTSCEnumDescription const *other) const override;

 private:
  std::unique_ptr<SQLVTSCIdentifier> identifier_;
  std::unique_ptr<SQLVTSCStringConst> language_;
};

class SQLVTSCTextContent : public SQLVTSCValueExpr {
 public:
  // Takes ownership of both; language may be null (the user's language).
  SQLVTSCTextContent(SQLVTSCIdentifier *identifier, SQLVTSCStringConst *language);
  ~SQLVTSCTextContent() override;
  SQLVTSCTextContent(SQLVTSCTextContent const &) = delete;
  SQLVTSCTextContent &operator=(SQLVTSCTextContent const &) = delete;

  // Null before name resolution.
  SQLVTSCValueExpr *GetColumn() const { return column_.get(); }
  SQLVTTable const *GetTable() const { return table_; }

  // Casts the resolved column to INTEGER (the text number); returns itself.
  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  // A copy of the resolved node; null before resolution or when a part
  // cannot be copied.
  SQLVTSCValueExpr *Copy() override;
  // The executable text_content over the resolved column, the language (the
  // user's own when none is given) and the table's physical company.
  SQLRSSCValueExpr *CreateRS() override;
  void GetPossibleTypes(SQLTypeSet *types) override { types->Insert(SQL_STRING); }
  void Log() const override;
  // A broken invariant: the node never reaches a projection's remapping.
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed, bool inExpression) override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {
    return other->IsSameTextContent(this);
  }
  bool IsSameTextContent(SQLVTSCTextContent const *other) const override;

 private:
  std::unique_ptr<SQLVTSCValueExpr> identifier_;  // the identifier until resolution
  std::unique_ptr<SQLVTSCStringConst> language_;
  std::unique_ptr<SQLVTSCValueExpr> column_;      // after resolution
  SQLVTTable const *table_ = nullptr;
};
