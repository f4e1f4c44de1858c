#include "sql/validate/vtsc_string_ops.h"

#include "sql/common/sql_logger.h"
#include "sql/common/sql_util.h"
#include "sql/exec/sc_indexing.h"
#include "sql/exec/sc_string_ops.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_support.h"

namespace {

// The first operand that resolved to a combined column is refused.
void RefuseCombined(SQLVTSCValueExpr *operand, char const *tail, int line) {
  if (operand != nullptr && operand->IsPseudoColumnRef()) {
    SQLVTThrow("42I09",
               std::string("Combined column '") + static_cast<SQLVTSCPseudoColumnRef *>(operand)->GetName() + tail,
               line);
  }
}

void RefuseCombinedInExpression(SQLVTSCValueExpr *operand, int line) {
  if (operand != nullptr && operand->IsPseudoColumnRef()) {
    SQLVTThrow("42I10",
               std::string("Combined column '") + static_cast<SQLVTSCPseudoColumnRef *>(operand)->GetName() +
                   "' used in expression",
               line);
  }
}

bool AllowsInteger(SQLVTSCValueExpr *operand) { return operand->GetPossibleTypeSet().Contains(SQL_INTEGER); }

// STRING and RAW as the string operand of a substring offers them; 42T06
// when the set is empty afterwards.
void InsertSubstringTypes(SQLVTSCValueExpr *string, SQLTypeSet *types, int line) {
  SQLTypeSet own = string->GetPossibleTypeSet();
  if (own.Contains(SQL_STRING)) types->Insert(SQL_STRING);
  if (own.Contains(SQL_RAW)) types->Insert(SQL_RAW);
  if (types->IsEmpty()) {
    SQLVTThrow("42T06", "Invalid type for operand of substring operator. Expected type STRING or RAW", line);
  }
}

void CheckSubstringType(SQLType type, int line) {
  if (type != SQL_STRING && type != SQL_RAW) {
    SQLVTThrowTypeConflict("42T09", "Type conflict on substring expression", type, line);
  }
}

// The element of an array keeps the array's type; only the index is cast.
void CastElement(SQLVTSCValueExpr *array, std::unique_ptr<SQLVTSCValueExpr> *index, SQLType type, bool tolerant,
                 int line) {
  SQLTypeSet types = array->GetPossibleTypeSet();
  if ((tolerant && types.ContainsSubType(type)) || types.Contains(type)) {
    SQLVTCastOperand(index, SQL_INTEGER, true);
    return;
  }
  SQLVTThrowTypeConflict("42T10", "Type conflict on indexing expression", type, line);
}

std::unique_ptr<SQLVTSCValueExpr> CopyOf(std::unique_ptr<SQLVTSCValueExpr> const &operand) {
  return std::unique_ptr<SQLVTSCValueExpr>(operand ? operand->Copy() : nullptr);
}

std::unique_ptr<SQLRSSCValueExpr> CreateOf(std::unique_ptr<SQLVTSCValueExpr> const &operand) {
  return std::unique_ptr<SQLRSSCValueExpr>(operand ? operand->CreateRS() : nullptr);
}

void LogOrNull(SQLVTSCValueExpr const *operand) {
  if (operand != nullptr) {
    operand->Log();
  } else if (SQLVTTracing()) {
    *SQLLogger::Instance() << "NULL";
  }
}

}  // namespace

SQLVTSCValueExpr *SQLVTSCIndexing::Cast(SQLType type, bool tolerant) {
  CastElement(array_.get(), &index_, type, tolerant, GetLineNumber());
  return this;
}

SQLVTSCValueExpr *SQLVTSCIndexing::Copy() {
  std::unique_ptr<SQLVTSCValueExpr> array(array_->Copy());
  std::unique_ptr<SQLVTSCValueExpr> index(index_->Copy());
  if (!array || !index) return nullptr;
  return new SQLVTSCIndexing(array.release(), index.release());
}

SQLRSSCValueExpr *SQLVTSCIndexing::CreateRS() {
  std::unique_ptr<SQLRSSCValueExpr> array(array_->CreateRS());
  std::unique_ptr<SQLRSSCValueExpr> index(index_->CreateRS());
  return new SQLRSSCIndexing(array.release(), index.release());
}

void SQLVTSCIndexing::Log() const {
  if (!SQLVTTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << "Indexing(";
  array_->Log();
  log << ",";
  index_->Log();
  log << ")";
}

void SQLVTSCIndexing::MapColumnIds(int level, SQLColumnIdMappingList *mappings) {
  array_->MapColumnIds(level, mappings);
  index_->MapColumnIds(level, mappings);
}

SQLVTSCValueExpr *SQLVTSCIndexing::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                                       SQLVTWhereUsedMgr *whereUsed, bool) {
  SQLVTResolveOperand(&array_, scope, treeData, flags, whereUsed, false);
  SQLVTResolveOperand(&index_, scope, treeData, flags, whereUsed, false);
  RefuseCombined(array_.get(), "' in indexing expression", GetLineNumber());
  RefuseCombined(index_.get(), "' in indexing expression", GetLineNumber());
  return this;
}

void SQLVTSCIndexing::ValidateTypes() const {
  index_->ValidateTypes();
  if (!index_->GetPossibleTypeSet().Contains(SQL_INTEGER)) {
    SQLVTThrow("42T07", "Invalid type for array index. Expextected type INTEGER", GetLineNumber());
  }
}

void SQLVTSCIndexing::ValidateArrayUsage() const {
  index_->ValidateArrayUsage();
  if (array_->GetDepth() == 1) {
    SQLVTThrow("42I06", "Array indexing operator applied to non array column", GetLineNumber());
  }
}

bool SQLVTSCIndexing::IsSameIndexing(SQLVTSCIndexing const *other) const {
  return SQLVTSameOperand(array_.get(), other->array_.get()) && SQLVTSameOperand(index_.get(), other->index_.get());
}

// ---- substring ----

SQLVTSCValueExpr *SQLVTSCSubstr::Cast(SQLType type, bool) {
  CheckSubstringType(type, GetLineNumber());
  SQLVTCastOperand(&string_, type, true);
  SQLVTCastOperand(&start_, SQL_INTEGER, true);
  if (length_) SQLVTCastOperand(&length_, SQL_INTEGER, true);
  return this;
}

SQLVTSCValueExpr *SQLVTSCSubstr::Copy() {
  auto string = CopyOf(string_), start = CopyOf(start_), length = CopyOf(length_);
  if (!string || !start || (length_ && !length)) return nullptr;
  return new SQLVTSCSubstr(string.release(), start.release(), length.release());
}

SQLRSSCValueExpr *SQLVTSCSubstr::CreateRS() {
  auto string = CreateOf(string_), start = CreateOf(start_), length = CreateOf(length_);
  return new SQLRSSCSubstr(string.release(), start.release(), length.release());
}

void SQLVTSCSubstr::GetPossibleTypes(SQLTypeSet *types) { InsertSubstringTypes(string_.get(), types, GetLineNumber()); }

void SQLVTSCSubstr::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "Substr(";
  string_->Log();
  if (tracing) log << ",";
  start_->Log();
  if (tracing) log << ",";
  LogOrNull(length_.get());
  if (tracing) log << ")";
}

void SQLVTSCSubstr::MapColumnIds(int level, SQLColumnIdMappingList *mappings) {
  string_->MapColumnIds(level, mappings);
  start_->MapColumnIds(level, mappings);
  if (length_) length_->MapColumnIds(level, mappings);
}

SQLVTSCValueExpr *SQLVTSCSubstr::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                                     SQLVTWhereUsedMgr *whereUsed, bool) {
  SQLVTResolveOperand(&string_, scope, treeData, flags, whereUsed, false);
  SQLVTResolveOperand(&start_, scope, treeData, flags, whereUsed, false);
  if (length_) SQLVTResolveOperand(&length_, scope, treeData, flags, whereUsed, false);
  RefuseCombinedInExpression(string_.get(), GetLineNumber());
  RefuseCombinedInExpression(start_.get(), GetLineNumber());
  RefuseCombinedInExpression(length_.get(), GetLineNumber());
  return this;
}

void SQLVTSCSubstr::ValidateTypes() const {
  string_->ValidateTypes();
  start_->ValidateTypes();
  if (length_) length_->ValidateTypes();
  if (!AllowsInteger(start_.get()) || (length_ && !AllowsInteger(length_.get()))) {
    SQLVTThrow("42T06", "Invalid type for operand of substring operator. Expected type INTEGER", GetLineNumber());
  }
}

void SQLVTSCSubstr::ValidateArrayUsage() const {
  string_->ValidateArrayUsage();
  start_->ValidateArrayUsage();
  if (length_) length_->ValidateArrayUsage();
  if (string_->GetDepth() != 1 || start_->GetDepth() != 1 || (length_ && length_->GetDepth() != 1)) {
    SQLVTThrow("42I50", "Array value not allowed in substring expression", GetLineNumber());
  }
}

bool SQLVTSCSubstr::IsSameSubstr(SQLVTSCSubstr const *other) const {
  if ((length_ == nullptr) != (other->length_ == nullptr)) return false;
  return SQLVTSameOperand(string_.get(), other->string_.get()) &&
         SQLVTSameOperand(start_.get(), other->start_.get()) &&
         (length_ == nullptr || SQLVTSameOperand(length_.get(), other->length_.get()));
}

// ---- substring or element ----

SQLVTSCValueExpr *SQLVTSCSubstrOrIndexing::Cast(SQLType type, bool tolerant) {
  if (IsIndexing()) {
    CastElement(x_.get(), &i_, type, tolerant, GetLineNumber());
    return this;
  }
  CheckSubstringType(type, GetLineNumber());
  SQLVTCastOperand(&x_, type, tolerant);
  SQLVTCastOperand(&i_, SQL_INTEGER, true);
  return this;
}

SQLVTSCValueExpr *SQLVTSCSubstrOrIndexing::Copy() {
  auto x = CopyOf(x_), i = CopyOf(i_);
  if (!x || !i) return nullptr;
  return new SQLVTSCSubstrOrIndexing(x.release(), i.release());
}

SQLRSSCValueExpr *SQLVTSCSubstrOrIndexing::CreateRS() {
  bool indexing = IsIndexing();
  auto x = CreateOf(x_), i = CreateOf(i_);
  if (indexing) return new SQLRSSCIndexing(x.release(), i.release());
  return new SQLRSSCSubstr(x.release(), i.release(), nullptr);
}

void SQLVTSCSubstrOrIndexing::GetPossibleTypes(SQLTypeSet *types) {
  if (IsIndexing()) {
    x_->GetPossibleTypes(types);
  } else {
    InsertSubstringTypes(x_.get(), types, GetLineNumber());
  }
}

void SQLVTSCSubstrOrIndexing::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "SubstrOrIndexing(";
  x_->Log();
  if (tracing) log << ",";
  i_->Log();
  if (tracing) log << ")";
}

void SQLVTSCSubstrOrIndexing::MapColumnIds(int level, SQLColumnIdMappingList *mappings) {
  x_->MapColumnIds(level, mappings);
  i_->MapColumnIds(level, mappings);
}

SQLVTSCValueExpr *SQLVTSCSubstrOrIndexing::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                                               SQLVTWhereUsedMgr *whereUsed, bool) {
  SQLVTResolveOperand(&x_, scope, treeData, flags, whereUsed, false);
  SQLVTResolveOperand(&i_, scope, treeData, flags, whereUsed, false);
  RefuseCombined(x_.get(), "' in indexing or substring expression", GetLineNumber());
  RefuseCombined(i_.get(), "' in indexing or substring expression", GetLineNumber());
  return this;
}

void SQLVTSCSubstrOrIndexing::ValidateTypes() const {
  x_->ValidateTypes();
  i_->ValidateTypes();
  if (IsIndexing()) {
    if (!AllowsInteger(i_.get())) {
      SQLVTThrow("42T07", "Invalid type for array index. Expected type INTEGER", GetLineNumber());
    }
    return;
  }
  if (!AllowsInteger(i_.get())) {
    SQLVTThrow("42T06", "Invalid type for operand of substring operator. Expected type INTEGER", GetLineNumber());
  }
  SQLTypeSet types = x_->GetPossibleTypeSet();
  if (!types.Contains(SQL_STRING) && !types.Contains(SQL_RAW)) {
    SQLVTThrow("42T06", "Invalid type for operand of substring operator. Expected type STRING or RAW",
               GetLineNumber());
  }
}

void SQLVTSCSubstrOrIndexing::ValidateArrayUsage() const {
  i_->ValidateArrayUsage();
  if (i_->GetDepth() != 1) {
    SQLVTThrow("42I50",
               IsIndexing() ? "Index in array indexing operator is an array value" : "Start of substring is an array value",
               GetLineNumber());
  }
}

bool SQLVTSCSubstrOrIndexing::IsSameSubstrOrIndexing(SQLVTSCSubstrOrIndexing const *other) const {
  return SQLVTSameOperand(x_.get(), other->x_.get()) && SQLVTSameOperand(i_.get(), other->i_.get());
}

// ---- trim ----

SQLVTSCValueExpr *SQLVTSCTrim::Cast(SQLType type, bool tolerant) {
  if (character_) SQLVTCastOperand(&character_, type, tolerant);
  SQLVTCastOperand(&operand_, type, tolerant);
  return this;
}

// A trim is copied and remapped like every other operation, so that a
// projection or retry condition that copies it keeps the same columns.
SQLVTSCValueExpr *SQLVTSCTrim::Copy() {
  auto character = CopyOf(character_), operand = CopyOf(operand_);
  if (!operand || (character_ && !character)) return nullptr;
  auto *copy = new SQLVTSCTrim(spec_, character.release(), operand.release());
  return copy;
}

SQLRSSCValueExpr *SQLVTSCTrim::CreateRS() {
  auto character = CreateOf(character_), operand = CreateOf(operand_);
  return new SQLRSSCTrim(spec_, character.release(), operand.release());
}

void SQLVTSCTrim::GetPossibleTypes(SQLTypeSet *types) {
  if (character_ && !character_->GetPossibleTypeSet().Contains(SQL_STRING)) {
    SQLVTThrow("42T30", "Invalid type for trim character in trim operator. Expected type STRING", GetLineNumber());
  }
  if (!operand_->GetPossibleTypeSet().Contains(SQL_STRING)) {
    SQLVTThrow("42T30", "Invalid type for operand of trim operator. Expected type STRING", GetLineNumber());
  }
  types->Insert(SQL_STRING);
}

void SQLVTSCTrim::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << "Trim(" << SQLGetTrimSpecName(spec_);
  LogOrNull(character_.get());
  if (tracing) log << ",";
  operand_->Log();
  if (tracing) log << ")";
}

void SQLVTSCTrim::MapColumnIds(int level, SQLColumnIdMappingList *mappings) {
  if (character_) character_->MapColumnIds(level, mappings);
  operand_->MapColumnIds(level, mappings);
}

SQLVTSCValueExpr *SQLVTSCTrim::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                                   SQLVTWhereUsedMgr *whereUsed, bool) {
  if (character_) SQLVTResolveOperand(&character_, scope, treeData, flags, whereUsed, false);
  SQLVTResolveOperand(&operand_, scope, treeData, flags, whereUsed, false);
  RefuseCombinedInExpression(character_.get(), GetLineNumber());
  RefuseCombinedInExpression(operand_.get(), GetLineNumber());
  return this;
}

void SQLVTSCTrim::ValidateTypes() const {
  if (character_) character_->ValidateTypes();
  operand_->ValidateTypes();
}

void SQLVTSCTrim::ValidateArrayUsage() const {
  if (character_) character_->ValidateArrayUsage();
  operand_->ValidateArrayUsage();
  if ((character_ && character_->GetDepth() != 1) || operand_->GetDepth() != 1) {
    SQLVTThrow("42I50", "Array value not allowed in trim expression", GetLineNumber());
  }
}

bool SQLVTSCTrim::IsSameTrim(SQLVTSCTrim const *other) const {
  if (spec_ != other->spec_ || (character_ == nullptr) != (other->character_ == nullptr)) return false;
  return SQLVTSameOperand(operand_.get(), other->operand_.get()) &&
         (character_ == nullptr || SQLVTSameOperand(character_.get(), other->character_.get()));
}
