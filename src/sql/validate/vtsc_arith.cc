#include "sql/validate/vtsc_arith.h"

#include <iterator>
#include <typeinfo>

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

SQLVTSCDyadicOperator::~SQLVTSCDyadicOperator() {
  std::unique_ptr<SQLVTSCValueExpr> below = std::move(left_);
  while (SQLVTSCDyadicOperator *link = Link(below.get())) below = std::move(link->left_);
}

SQLVTSCDyadicOperator *SQLVTSCDyadicOperator::Link(SQLVTSCValueExpr *expr) {
  return dynamic_cast<SQLVTSCDyadicOperator *>(expr);
}

std::vector<SQLVTSCDyadicOperator *> SQLVTSCDyadicOperator::Spine() const {
  std::vector<SQLVTSCDyadicOperator *> spine{const_cast<SQLVTSCDyadicOperator *>(this)};
  while (SQLVTSCDyadicOperator *link = Link(spine.back()->left_.get())) spine.push_back(link);
  return spine;
}

void SQLVTSCDyadicOperator::AddResultTypes(SQLTypeSet const &left, SQLTypeSet const &right,
                                           SQLTypeSet *types) const {
  for (int i = 0; i < nrRules_; ++i) {
    if (left.Contains(rules_[i].left) && right.Contains(rules_[i].right)) types->Insert(rules_[i].result);
  }
  if (types->IsEmpty()) {
    SQLVTThrow("42T08", std::string("Incorrect operand types for operator '") + GetOperatorSymbol() + "'",
               GetLineNumber());
  }
}

void SQLVTSCDyadicOperator::GetPossibleTypes(SQLTypeSet *types) {
  auto const spine = Spine();
  SQLTypeSet left = spine.back()->left_->GetPossibleTypeSet();
  for (size_t i = spine.size(); i-- > 1;) {
    SQLTypeSet result;
    spine[i]->AddResultTypes(left, spine[i]->right_->GetPossibleTypeSet(), &result);
    left = result;
  }
  AddResultTypes(left, right_->GetPossibleTypeSet(), types);
}

SQLVTSCTypeRule const *SQLVTSCDyadicOperator::Prefer(SQLType type, SQLTypeSet const &left, SQLTypeSet const &right,
                                                     bool *ambiguous) const {
  SQLVTSCTypeRule const *match = nullptr;
  *ambiguous = false;
  for (int i = 0; i < nrPreferences_; ++i) {
    SQLVTSCTypeRule const &row = preferences_[i];
    if (row.result != type) continue;
    if (!left.ContainsSubType(row.left) || !right.ContainsSubType(row.right)) continue;
    if (match != nullptr) {
      *ambiguous = true;
      return nullptr;
    }
    match = &row;
  }
  return match;
}

// Three steps, as a recursive cast would take them: the operand types of
// every operator, bottom-up; the preference row of every operator, top
// down, each asking its left operand for the row's left type; then the
// casts of the operands, bottom-up. An operator that two rows fit for a
// date, timestamp or interval result is computed as REAL and reinterpreted
// (below it the chain is REAL or INTEGER, so a chain is wrapped at most once).
SQLVTSCValueExpr *SQLVTSCDyadicOperator::Cast(SQLType type, bool) {
  auto const spine = Spine();
  size_t const n = spine.size();
  std::vector<SQLTypeSet> lefts(n), rights(n);
  lefts[n - 1] = spine[n - 1]->left_->GetPossibleTypeSet();
  for (size_t i = n; i-- > 0;) {
    rights[i] = spine[i]->right_->GetPossibleTypeSet();
    if (i > 0) spine[i]->AddResultTypes(lefts[i], rights[i], &lefts[i - 1]);
  }
  std::vector<SQLVTSCTypeRule const *> rows(n);
  std::vector<SQLType> reinterpreted(n, SQL_UNDEFINED);
  for (size_t i = 0; i < n; ++i) {
    SQLVTSCDyadicOperator const *op = spine[i];
    bool ambiguous = false;
    rows[i] = op->Prefer(type, lefts[i], rights[i], &ambiguous);
    if (ambiguous && IsReinterpretable(type)) {
      reinterpreted[i] = type;
      type = SQL_REAL;
      rows[i] = op->Prefer(type, lefts[i], rights[i], &ambiguous);
    }
    if (rows[i] == nullptr) {
      SQLVTThrowTypeConflict("42T18", std::string("Type conflict on operator '") + op->GetOperatorSymbol() + "'",
                             type, op->GetLineNumber());
    }
    type = rows[i]->left;
  }
  SQLVTCastOperand(&spine[n - 1]->left_, rows[n - 1]->left, true);
  for (size_t i = n; i-- > 0;) {
    SQLVTSCDyadicOperator *op = spine[i];
    SQLVTCastOperand(&op->right_, rows[i]->right, true);
    if (reinterpreted[i] == SQL_UNDEFINED) continue;
    auto cast = std::make_unique<SQLVTSCReinterpretCast>(op, reinterpreted[i]);
    cast->SetLineNumber(op->GetLineNumber());
    if (i == 0) return cast.release();
    (void)spine[i - 1]->left_.release();  // now owned by the cast
    spine[i - 1]->left_ = std::move(cast);
  }
  return this;
}

SQLVTSCValueExpr *SQLVTSCDyadicOperator::Copy() {
  auto const spine = Spine();
  std::unique_ptr<SQLVTSCValueExpr> copy(spine.back()->left_->Copy());
  for (size_t i = spine.size(); copy && i-- > 0;) {
    std::unique_ptr<SQLVTSCValueExpr> right(spine[i]->right_->Copy());
    if (!right) return nullptr;
    copy.reset(spine[i]->NewLike(std::move(copy), std::move(right)));
  }
  return copy.release();
}

SQLRSSCValueExpr *SQLVTSCDyadicOperator::CreateRS() {
  auto const spine = Spine();
  std::unique_ptr<SQLRSSCValueExpr> rs(spine.back()->left_->CreateRS());
  for (size_t i = spine.size(); i-- > 0;) {
    std::unique_ptr<SQLRSSCValueExpr> right(spine[i]->right_->CreateRS());
    rs.reset(spine[i]->NewRS(std::move(rs), std::move(right)));
  }
  return rs.release();
}

void SQLVTSCDyadicOperator::MapColumnIds(int level, SQLColumnIdMappingList *mappings) {
  auto const spine = Spine();
  spine.back()->left_->MapColumnIds(level, mappings);
  for (size_t i = spine.size(); i-- > 0;) spine[i]->right_->MapColumnIds(level, mappings);
}

SQLVTSCValueExpr *SQLVTSCDyadicOperator::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags,
                                                             SQLVTWhereUsedMgr *whereUsed, bool) {
  auto const spine = Spine();
  SQLVTResolveOperand(&spine.back()->left_, scope, treeData, flags, whereUsed, false);
  for (size_t i = spine.size(); i-- > 0;) {
    SQLVTSCDyadicOperator *op = spine[i];
    SQLVTResolveOperand(&op->right_, scope, treeData, flags, whereUsed, false);
    RefuseCombined(op->left_.get(), op->GetLineNumber());
    RefuseCombined(op->right_.get(), op->GetLineNumber());
  }
  return this;
}

void SQLVTSCDyadicOperator::ValidateTypes() const {
  auto const spine = Spine();
  spine.back()->left_->ValidateTypes();
  for (size_t i = spine.size(); i-- > 0;) spine[i]->right_->ValidateTypes();
}

void SQLVTSCDyadicOperator::ValidateArrayUsage() const {
  auto const spine = Spine();
  spine.back()->left_->ValidateArrayUsage();
  for (size_t i = spine.size(); i-- > 0;) {
    SQLVTSCDyadicOperator const *op = spine[i];
    op->right_->ValidateArrayUsage();
    if (op->left_->GetDepth() != 1 || op->right_->GetDepth() != 1) {
      SQLVTThrow("42I50", "Invalid use of array value in expression", op->GetLineNumber());
    }
  }
}

void SQLVTSCDyadicOperator::Log() const {
  bool tracing = SQLVTTracing();
  SQLLogger &log = *SQLLogger::Instance();
  auto const spine = Spine();
  if (tracing) {
    for (SQLVTSCDyadicOperator const *op : spine) log << op->LogWord();
  }
  spine.back()->left_->Log();
  for (size_t i = spine.size(); i-- > 0;) {
    if (tracing) log << ",";
    spine[i]->right_->Log();
    if (tracing) log << ")";
  }
}

bool SQLVTSCDyadicOperator::SameOperands(SQLVTSCDyadicOperator const *other) const {
  for (SQLVTSCDyadicOperator const *op = this;;) {
    if (!SQLVTSameOperand(op->right_.get(), other->right_.get())) return false;
    SQLVTSCDyadicOperator const *below = Link(op->left_.get());
    SQLVTSCDyadicOperator const *otherBelow = Link(other->left_.get());
    if (below == nullptr || otherBelow == nullptr || below == otherBelow) {
      return SQLVTSameOperand(op->left_.get(), other->left_.get());
    }
    if (typeid(*below) != typeid(*otherBelow)) return false;
    op = below;
    other = otherBelow;
  }
}

#define SQLVT_DYADIC_DEFINITIONS(Name, rules, preferences, symbol, word)                                     \
  SQLVTSC##Name::SQLVTSC##Name(SQLVTSCValueExpr *left, SQLVTSCValueExpr *right)                            \
      : SQLVTSCDyadicOperator(left, right, rules, static_cast<int>(std::size(rules)), preferences,          \
                              static_cast<int>(std::size(preferences))) {}                                 \
  char const *SQLVTSC##Name::GetOperatorSymbol() const { return symbol; }                                 \
  char const *SQLVTSC##Name::LogWord() const { return word; }                                             \
  SQLVTSCDyadicOperator *SQLVTSC##Name::NewLike(std::unique_ptr<SQLVTSCValueExpr> &&left,                  \
                                                std::unique_ptr<SQLVTSCValueExpr> &&right) const {         \
    return new SQLVTSC##Name(left.release(), right.release());                                             \
  }                                                                                                        \
  SQLRSSCValueExpr *SQLVTSC##Name::NewRS(std::unique_ptr<SQLRSSCValueExpr> &&left,                         \
                                         std::unique_ptr<SQLRSSCValueExpr> &&right) const {                \
    return new SQLRSSC##Name(left.release(), right.release());                                             \
  }

SQLVT_DYADIC_DEFINITIONS(Add, kAddRules, kAddPreferences, "+", "Add(")
SQLVT_DYADIC_DEFINITIONS(Subtract, kSubtractRules, kSubtractPreferences, "-", "Subtract(")
SQLVT_DYADIC_DEFINITIONS(Multiply, kMultiplyRules, kMultiplyPreferences, "*", "Multiply(")
SQLVT_DYADIC_DEFINITIONS(Divide, kDivideRules, kDividePreferences, "/", "Divide(")
SQLVT_DYADIC_DEFINITIONS(Modulo, kModuloRules, kModuloPreferences, "\\", "Modulo(")
SQLVT_DYADIC_DEFINITIONS(Concatenate, kConcatenateRules, kConcatenatePreferences, "&", "Concatenate(")
