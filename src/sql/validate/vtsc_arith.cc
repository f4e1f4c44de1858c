#include "sql/validate/vtsc_arith.h"

#include <iterator>

#include "sql/common/sql_logger.h"
#include "sql/exec/sc_arith.h"
#include "sql/exec/sc_string_ops.h"
#include "sql/validate/vtsc_cast.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_support.h"

namespace {

constexpr SQLType INT = SQL_INTEGER, REAL = SQL_REAL, STR = SQL_STRING, RAW = SQL_RAW, DATE = SQL_DATE,
                  TS = SQL_TIMESTAMP, DAYS = SQL_INTERVAL_DAYS, SECS = SQL_INTERVAL_SECONDS;

constexpr SQLVTSCTypeRule kAddRules[] = {{INT, INT, INT},    {INT, REAL, REAL},  {REAL, INT, REAL},
                                         {REAL, REAL, REAL}, {DATE, DAYS, DATE}, {TS, SECS, TS},
                                         {DAYS, DAYS, DAYS}, {DAYS, DATE, DATE}, {SECS, SECS, SECS},
                                         {SECS, TS, TS}};
constexpr SQLVTSCTypeRule kAddPreferences[] = {{REAL, REAL, REAL}, {INT, INT, INT},    {DATE, DAYS, DATE},
                                               {DAYS, DATE, DATE}, {TS, SECS, TS},     {SECS, TS, TS},
                                               {DAYS, DAYS, DAYS}, {SECS, SECS, SECS}};
constexpr SQLVTSCTypeRule kSubtractRules[] = {{INT, INT, INT},    {INT, REAL, REAL},  {REAL, INT, REAL},
                                              {REAL, REAL, REAL}, {DATE, DATE, DAYS}, {DATE, DAYS, DATE},
                                              {TS, TS, SECS},     {TS, SECS, TS},     {DAYS, DAYS, DAYS},
                                              {SECS, SECS, SECS}};
constexpr SQLVTSCTypeRule kSubtractPreferences[] = {{REAL, REAL, REAL}, {INT, INT, INT},    {DATE, DAYS, DATE},
                                                    {TS, SECS, TS},     {DATE, DATE, DAYS}, {DAYS, DAYS, DAYS},
                                                    {TS, TS, SECS},     {SECS, SECS, SECS}};
constexpr SQLVTSCTypeRule kMultiplyRules[] = {{INT, INT, INT},   {INT, REAL, REAL}, {INT, DAYS, DAYS},
                                              {INT, SECS, SECS}, {REAL, INT, REAL}, {REAL, REAL, REAL},
                                              {DAYS, INT, DAYS}, {SECS, INT, SECS}};
constexpr SQLVTSCTypeRule kMultiplyPreferences[] = {{REAL, REAL, REAL}, {INT, INT, INT},   {INT, DAYS, DAYS},
                                                    {DAYS, INT, DAYS},  {INT, SECS, SECS}, {SECS, INT, SECS}};
constexpr SQLVTSCTypeRule kDivideRules[] = {{INT, INT, REAL}, {INT, REAL, REAL}, {REAL, INT, REAL},
                                            {REAL, REAL, REAL}};
constexpr SQLVTSCTypeRule kDividePreferences[] = {{REAL, REAL, REAL}};
constexpr SQLVTSCTypeRule kModuloRules[] = {{INT, INT, INT}};
constexpr SQLVTSCTypeRule kModuloPreferences[] = {{INT, INT, REAL}, {INT, INT, INT}};
constexpr SQLVTSCTypeRule kConcatenateRules[] = {{STR, STR, STR}, {RAW, RAW, RAW}};
constexpr SQLVTSCTypeRule kConcatenatePreferences[] = {{STR, STR, STR}, {RAW, RAW, RAW}};

bool IsReinterpretable(SQLType type) {
  return type == SQL_DATE || type == SQL_TIMESTAMP || type == SQL_INTERVAL_DAYS ||
         type == SQL_INTERVAL_SECONDS;
}

void RefuseCombined(SQLVTSCValueExpr *operand, int line) {
  if (operand->IsPseudoColumnRef()) {
    SQLVTThrow("42I10",
               std::string("Combined column '") + static_cast<SQLVTSCPseudoColumnRef *>(operand)->GetName() +
                   "' used in expression",
               line);
  }
}

}  // namespace

SQLVTSCDyadicOperator::SQLVTSCDyadicOperator(SQLVTSCValueExpr *left, SQLVTSCValueExpr *right,
                                             SQLVTSCTypeRule const *rules, int nrRules,
                                             SQLVTSCTypeRule const *preferences, int nrPreferences)
    : left_(left),
      right_(right),
      rules_(rules),
      nrRules_(nrRules),
      preferences_(preferences),
      nrPreferences_(nrPreferences) {}

void SQLVTSCDyadicOperator::GetPossibleTypes(SQLTypeSet *types) {
  SQLTypeSet left = left_->GetPossibleTypeSet();
  SQLTypeSet right = right_->GetPossibleTypeSet();
  for (int i = 0; i < nrRules_; ++i) {
    if (left.Contains(rules_[i].left) && right.Contains(rules_[i].right)) types->Insert(rules_[i].result);
  }
  if (types->IsEmpty()) {
    SQLVTThrow("42T08", std::string("Incorrect operand types for operator '") + GetOperatorSymbol() + "'",
               GetLineNumber());
  }
}

SQLVTSCValueExpr *SQLVTSCDyadicOperator::Cast(SQLType type, bool) {
  SQLTypeSet left = left_->GetPossibleTypeSet();
  SQLTypeSet right = right_->GetPossibleTypeSet();
  SQLVTSCTypeRule const *match = nullptr;
  bool ambiguous = false;
  for (int i = 0; i < nrPreferences_; ++i) {
    SQLVTSCTypeRule const &row = preferences_[i];
    if (row.result != type) continue;
    if (!left.ContainsSubType(row.left) || !right.ContainsSubType(row.right)) continue;
    if (match != nullptr) {
      ambiguous = true;
      break;
    }
    match = &row;
  }
  if (match != nullptr && !ambiguous) {
    SQLVTCastOperand(&left_, match->left, true);
    SQLVTCastOperand(&right_, match->right, true);
    return this;
  }
  if (ambiguous && IsReinterpretable(type)) {
    Cast(SQL_REAL, true);  // returns this: an operator is never replaced by its own Cast to REAL
    auto *cast = new SQLVTSCReinterpretCast(this, type);
    cast->SetLineNumber(GetLineNumber());
    return cast;
  }
  SQLVTThrowTypeConflict("42T18", std::string("Type conflict on operator '") + GetOperatorSymbol() + "'", type,
                         GetLineNumber());
}

void SQLVTSCDyadicOperator::MapColumnIds(int level, SQLColumnIdMappingList *mappings) {
  left_->MapColumnIds(level, mappings);
  right_->MapColumnIds(level, mappings);
}

SQLVTSCValueExpr *SQLVTSCDyadicOperator::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                                             SQLVTWhereUsedMgr *whereUsed, bool) {
  SQLVTResolveOperand(&left_, scope, treeData, flags, whereUsed, false);
  SQLVTResolveOperand(&right_, scope, treeData, flags, whereUsed, false);
  RefuseCombined(left_.get(), GetLineNumber());
  RefuseCombined(right_.get(), GetLineNumber());
  return this;
}

void SQLVTSCDyadicOperator::ValidateTypes() const {
  left_->ValidateTypes();
  right_->ValidateTypes();
}

void SQLVTSCDyadicOperator::ValidateArrayUsage() const {
  left_->ValidateArrayUsage();
  right_->ValidateArrayUsage();
  if (left_->GetDepth() != 1 || right_->GetDepth() != 1) {
    SQLVTThrow("42I50", "Invalid use of array value in expression", GetLineNumber());
  }
}

void SQLVTSCDyadicOperator::LogOperands(char const *word) const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  if (tracing) log << word;
  left_->Log();
  if (tracing) log << ",";
  right_->Log();
  if (tracing) log << ")";
}

bool SQLVTSCDyadicOperator::SameOperands(SQLVTSCDyadicOperator const *other) const {
  return SQLVTSameOperand(left_.get(), other->left_.get()) && SQLVTSameOperand(right_.get(), other->right_.get());
}

bool SQLVTSCDyadicOperator::CopyOperands(std::unique_ptr<SQLVTSCValueExpr> *left,
                                         std::unique_ptr<SQLVTSCValueExpr> *right) const {
  left->reset(left_->Copy());
  right->reset(right_->Copy());
  return *left && *right;
}

void SQLVTSCDyadicOperator::CreateOperands(std::unique_ptr<SQLRSSCValueExpr> *left,
                                           std::unique_ptr<SQLRSSCValueExpr> *right) const {
  left->reset(left_->CreateRS());
  right->reset(right_->CreateRS());
}

#define SQLVT_DYADIC_DEFINITIONS(Name, rules, preferences, symbol, word)                              \
  SQLVTSC##Name::SQLVTSC##Name(SQLVTSCValueExpr *left, SQLVTSCValueExpr *right)                     \
      : SQLVTSCDyadicOperator(left, right, rules, static_cast<int>(std::size(rules)), preferences,   \
                              static_cast<int>(std::size(preferences))) {}                          \
  char const *SQLVTSC##Name::GetOperatorSymbol() const { return symbol; }                          \
  SQLVTSCValueExpr *SQLVTSC##Name::Copy() {                                                         \
    std::unique_ptr<SQLVTSCValueExpr> left, right;                                                  \
    if (!CopyOperands(&left, &right)) return nullptr;                                               \
    return new SQLVTSC##Name(left.release(), right.release());                                      \
  }                                                                                                 \
  SQLRSSCValueExpr *SQLVTSC##Name::CreateRS() {                                                     \
    std::unique_ptr<SQLRSSCValueExpr> left, right;                                                  \
    CreateOperands(&left, &right);                                                                  \
    return new SQLRSSC##Name(left.release(), right.release());                                      \
  }                                                                                                 \
  void SQLVTSC##Name::Log() const { LogOperands(word); }

SQLVT_DYADIC_DEFINITIONS(Add, kAddRules, kAddPreferences, "+", "Add(")
SQLVT_DYADIC_DEFINITIONS(Subtract, kSubtractRules, kSubtractPreferences, "-", "Subtract(")
SQLVT_DYADIC_DEFINITIONS(Multiply, kMultiplyRules, kMultiplyPreferences, "*", "Multiply(")
SQLVT_DYADIC_DEFINITIONS(Divide, kDivideRules, kDividePreferences, "/", "Divide(")
SQLVT_DYADIC_DEFINITIONS(Modulo, kModuloRules, kModuloPreferences, "\\", "Modulo(")
SQLVT_DYADIC_DEFINITIONS(Concatenate, kConcatenateRules, kConcatenatePreferences, "&", "Concatenate(")
