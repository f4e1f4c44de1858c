// SQLVTSCValueExpr: the abstract validated value expression. Constants,
// parameter and column references, identifiers, operators, casts, CASE, set
// functions and subqueries derive from it.
//
// Identity is a double dispatch: IsSameValueExpr2(other) of a class calls,
// on the other expression, the IsSame<own class> test with itself, and only
// the class of the same kind answers TRUE.
#pragma once

#include "sql/common/sql_containers.h"
#include "sql/common/sql_type.h"
#include "sql/validate/type_set.h"
#include "sql/validate/vt_object.h"

class SQLRSSCValueExpr;
class SQLVTScope;
class SQLVTreeData;
class SQLVTWhereUsedMgr;

class SQLVTSCIdentifier;
class SQLVTSCSubstrOrIndexing;
class SQLVTSCIntegerConst;
class SQLVTSCSetFuncSpec;
class SQLVTSCColumnRef;
class SQLVTSCParameterRef;
class SQLVTSCStringConst;
class SQLVTSCRawConst;
class SQLVTSCRealConst;
class SQLVTSCDateConst;
class SQLVTSCTimestampConst;
class SQLVTSCAdd;
class SQLVTSCSubtract;
class SQLVTSCMultiply;
class SQLVTSCDivide;
class SQLVTSCModulo;
class SQLVTSCConcatenate;
class SQLVTSCSubstr;
class SQLVTSCIndexing;
class SQLVTSCTrim;
class SQLVTSCCast;
class SQLVTSCReinterpretCast;
class SQLVTSCSimpleCase;
class SQLVTSCEnumDescription;
class SQLVTSCTextContent;

class SQLVTSCValueExpr : public SQLVTObject {
 public:
  // The expression itself, or a new node that replaces it (the caller
  // stores the result in place of this one). tolerant: a cast that may
  // lose nothing but precision is accepted.
  virtual SQLVTSCValueExpr *Cast(SQLType type, bool tolerant) = 0;
  virtual SQLVTSCValueExpr *Copy() = 0;
  // A new executable expression owned by the caller.
  virtual SQLRSSCValueExpr *CreateRS() = 0;
  // Adds the types the expression can take to *types.
  virtual void GetPossibleTypes(SQLTypeSet *types) = 0;
  // The types the expression can take, collected into an empty set.
  virtual SQLTypeSet GetPossibleTypeSet();
  virtual void Log() const = 0;
  // Shifts the column ids of the given level by the mapping list.
  virtual void MapColumnIds(int level, SQLColumnIdMappingList *mappings) = 0;
  // Name resolution; returns the replacement of this expression.
  virtual SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData,
                                                int flags, SQLVTWhereUsedMgr *whereUsed,
                                                bool inExpression) = 0;

  virtual bool IsIdentifier() { return false; }
  virtual SQLVTSCIdentifier *AsIdentifier() { return nullptr; }
  virtual bool IsSubstrOrIndexing() { return false; }
  virtual SQLVTSCSubstrOrIndexing *AsSubstrOrIndexing() { return nullptr; }
  virtual bool IsIntegerConst() { return false; }
  virtual SQLVTSCIntegerConst *AsIntegerConst() { return nullptr; }
  virtual bool IsSetFuncSpec() { return false; }
  virtual SQLVTSCSetFuncSpec *AsSetFuncSpec() { return nullptr; }
  virtual bool IsStringConst() { return false; }
  // Array depth of the value; 1 for a scalar.
  virtual int GetDepth() const { return 1; }
  virtual bool IsPseudoColumnRef() { return false; }
  virtual bool IsColumnRef() { return false; }
  virtual bool IsConstant() { return false; }

  // TRUE when other is an expression of the same kind with the same
  // operands (see the file comment).
  virtual bool IsSameValueExpr2(SQLVTSCValueExpr const *other) const;
  virtual bool IsSameColumnRef(SQLVTSCColumnRef const *) const { return false; }
  virtual bool IsSameParameterRef(SQLVTSCParameterRef const *) const { return false; }
  virtual bool IsSameStringConst(SQLVTSCStringConst const *) const { return false; }
  virtual bool IsSameRawConst(SQLVTSCRawConst const *) const { return false; }
  virtual bool IsSameIntegerConst(SQLVTSCIntegerConst const *) const { return false; }
  virtual bool IsSameRealConst(SQLVTSCRealConst const *) const { return false; }
  virtual bool IsSameDateConst(SQLVTSCDateConst const *) const { return false; }
  virtual bool IsSameTimestampConst(SQLVTSCTimestampConst const *) const { return false; }
  virtual bool IsSameIdentifier(SQLVTSCIdentifier const *) const { return false; }
  virtual bool IsSameAdd(SQLVTSCAdd const *) const { return false; }
  virtual bool IsSameSubtract(SQLVTSCSubtract const *) const { return false; }
  virtual bool IsSameMultiply(SQLVTSCMultiply const *) const { return false; }
  virtual bool IsSameDivide(SQLVTSCDivide const *) const { return false; }
  virtual bool IsSameModulo(SQLVTSCModulo const *) const { return false; }
  virtual bool IsSameConcatenate(SQLVTSCConcatenate const *) const { return false; }
  virtual bool IsSameSubstr(SQLVTSCSubstr const *) const { return false; }
  virtual bool IsSameIndexing(SQLVTSCIndexing const *) const { return false; }
  virtual bool IsSameSubstrOrIndexing(SQLVTSCSubstrOrIndexing const *) const { return false; }
  virtual bool IsSameTrim(SQLVTSCTrim const *) const { return false; }
  virtual bool IsSameCast(SQLVTSCCast const *) const { return false; }
  virtual bool IsSameReinterpretCast(SQLVTSCReinterpretCast const *) const { return false; }
  virtual bool IsSameSimpleCase(SQLVTSCSimpleCase const *) const { return false; }
  virtual bool IsSameEnumDescription(SQLVTSCEnumDescription const *) const { return false; }
  virtual bool IsSameTextContent(SQLVTSCTextContent const *) const { return false; }

  // Throw SQLExSyntaxError on a type or array-usage error; by default the
  // expression has nothing to check.
  virtual void ValidateTypes() const {}
  virtual void ValidateArrayUsage() const {}
};
