// Positional operations of the validated tree: substring, array element,
// the undecided form x(i), and trim.
//
// The dialect writes a one-argument substring and an array element alike,
// x(i); SQLVTSCSubstrOrIndexing keeps that form until x is resolved and
// then acts by x's array depth (an element of an array, else the substring
// from position i to the end). Name resolution turns a single name written
// name(n) into an SQLVTSCIndexing.
#pragma once

#include <memory>

#include "sql/validate/vt_value_expr.h"

class SQLVTSCIndexing : public SQLVTSCValueExpr {
 public:
  // Takes ownership of both.
  SQLVTSCIndexing(SQLVTSCValueExpr *array, SQLVTSCValueExpr *index) : array_(array), index_(index) {}

  SQLVTSCValueExpr *GetArray() const { return array_.get(); }
  SQLVTSCValueExpr *GetIndex() const { return index_.get(); }

  // The element keeps the array's type: the index is cast to INTEGER and
  // the node stays; any type the array cannot give is a conflict (42T10).
  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  SQLVTSCValueExpr *Copy() override;
  SQLRSSCValueExpr *CreateRS() override;
  void GetPossibleTypes(SQLTypeSet *types) override { array_->GetPossibleTypes(types); }
  void Log() const override;
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed, bool inExpression) override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override { return other->IsSameIndexing(this); }
  bool IsSameIndexing(SQLVTSCIndexing const *other) const override;

 private:
  std::unique_ptr<SQLVTSCValueExpr> array_;
  std::unique_ptr<SQLVTSCValueExpr> index_;
};

class SQLVTSCSubstr : public SQLVTSCValueExpr {
 public:
  // Takes ownership of all; length may be null (to the end).
  SQLVTSCSubstr(SQLVTSCValueExpr *string, SQLVTSCValueExpr *start, SQLVTSCValueExpr *length)
      : string_(string), start_(start), length_(length) {}

  SQLVTSCValueExpr *GetString() const { return string_.get(); }
  SQLVTSCValueExpr *GetStart() const { return start_.get(); }
  SQLVTSCValueExpr *GetSubstrLength() const { return length_.get(); }

  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  SQLVTSCValueExpr *Copy() override;
  SQLRSSCValueExpr *CreateRS() override;
  void GetPossibleTypes(SQLTypeSet *types) override;
  void Log() const override;
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed, bool inExpression) override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override { return other->IsSameSubstr(this); }
  bool IsSameSubstr(SQLVTSCSubstr const *other) const override;

 private:
  std::unique_ptr<SQLVTSCValueExpr> string_;
  std::unique_ptr<SQLVTSCValueExpr> start_;
  std::unique_ptr<SQLVTSCValueExpr> length_;  // null: to the end
};

class SQLVTSCSubstrOrIndexing : public SQLVTSCValueExpr {
 public:
  // Takes ownership of both.
  SQLVTSCSubstrOrIndexing(SQLVTSCValueExpr *x, SQLVTSCValueExpr *i) : x_(x), i_(i) {}

  SQLVTSCValueExpr *GetOperand() const { return x_.get(); }
  SQLVTSCValueExpr *GetValue() const { return i_.get(); }
  // TRUE when x is an array: the node is element i; else the substring.
  bool IsIndexing() const { return x_->GetDepth() > 1; }

  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  SQLVTSCValueExpr *Copy() override;
  SQLRSSCValueExpr *CreateRS() override;
  void GetPossibleTypes(SQLTypeSet *types) override;
  void Log() const override;
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed, bool inExpression) override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;
  bool IsSubstrOrIndexing() override { return true; }
  SQLVTSCSubstrOrIndexing *AsSubstrOrIndexing() override { return this; }
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override {
    return other->IsSameSubstrOrIndexing(this);
  }
  bool IsSameSubstrOrIndexing(SQLVTSCSubstrOrIndexing const *other) const override;

 private:
  std::unique_ptr<SQLVTSCValueExpr> x_;
  std::unique_ptr<SQLVTSCValueExpr> i_;
};

class SQLVTSCTrim : public SQLVTSCValueExpr {
 public:
  // Takes ownership of both; character may be null (blanks).
  SQLVTSCTrim(SQLTrimSpec spec, SQLVTSCValueExpr *character, SQLVTSCValueExpr *operand)
      : spec_(spec), character_(character), operand_(operand) {}

  SQLTrimSpec GetSpec() const { return spec_; }
  SQLVTSCValueExpr *GetCharacter() const { return character_.get(); }
  SQLVTSCValueExpr *GetOperand() const { return operand_.get(); }

  // Passes the type on to the trim character and the operand.
  SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) override;
  SQLVTSCValueExpr *Copy() override;
  SQLRSSCValueExpr *CreateRS() override;
  void GetPossibleTypes(SQLTypeSet *types) override;
  void Log() const override;
  void MapColumnIds(int level, SQLColumnIdMappingList *mappings) override;
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                        SQLVTWhereUsedMgr *whereUsed, bool inExpression) override;
  void ValidateTypes() const override;
  void ValidateArrayUsage() const override;
  bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const override { return other->IsSameTrim(this); }
  bool IsSameTrim(SQLVTSCTrim const *other) const override;

 private:
  SQLTrimSpec spec_;
  std::unique_ptr<SQLVTSCValueExpr> character_;  // null: blanks
  std::unique_ptr<SQLVTSCValueExpr> operand_;
};
