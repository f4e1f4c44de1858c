#include "sql/exec/sc_like.h"

#include "platform/yy_expr.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_state.h"
#include "sql/exec/sc_scalar_subquery.h"
#include "sql/exec/sc_string_ops.h"
#include "sql/exec/visitor.h"

namespace {

constexpr unsigned long kMaxAnsiPattern = 2048;  // bytes of an ANSI pattern
constexpr size_t kProgramSize = 16384;           // bytes of a compiled pattern

bool SpecialToEngine(unsigned char c) {
  switch (c) {
    case '\n': case '$': case '(': case ')': case '*': case '.': case '[': case '\\': case '^': case '{':
    case '}':
      return true;
    default:
      return false;
  }
}

// A byte that stands for itself: "%" and "_" are ordinary in the engine's
// syntax, the special characters get a "\".
void AppendLiteral(std::string *out, unsigned char c) {
  if (SpecialToEngine(c)) out->push_back('\\');
  out->push_back(static_cast<char>(c));
}

// Finds scalar subqueries in an expression without entering them.
class SubqueryFinder : public SQLVisitor {
 public:
  bool VisitScopeLevel_0_Only() override { return true; }
  void VisitSQLRSSCScalarSubquery(SQLRSSCScalarSubquery *) override { found = true; }
  bool found = false;
};

// A pattern or escape that can be compiled once, at Prepare: constant, and
// not read from a table (a subquery's answer may change between executions
// of the cached tree, and cannot be run before the tree is attached).
bool CompilesOnce(SQLRSSCValueExpr *e) {
  if (e == nullptr) return true;
  if (!e->IsConstant()) return false;
  SubqueryFinder finder;
  e->AcceptVisit(finder);
  return !finder.found;
}

}  // namespace

std::string SQLRSSCLike::TranslatePattern(unsigned char const *pattern, unsigned long length, int escape) {
  std::string out;
  out.reserve(2 * length);
  for (unsigned long i = 0; i < length;) {
    unsigned char c = pattern[i];
    if (escape >= 0 && c == escape) {
      if (i + 1 >= length) throw SQLExZDBError(sqlerr::kInvalidEscapeSequence);
      unsigned char next = pattern[i + 1];
      if (next != '%' && next != '_' && next != escape) throw SQLExZDBError(sqlerr::kInvalidEscapeSequence);
      // The escaped character is written as itself, also when it is the
      // escape character and that is "%" or "_".
      AppendLiteral(&out, next);
      i += 2;
      continue;
    }
    unsigned long n = SQLRSSCTssCharLength(pattern + i, length - i);
    if (n == 4) {
      out.append(reinterpret_cast<char const *>(pattern + i), 4);
    } else if (c == '%') {
      out += ".*";
    } else if (c == '_') {
      out += ".";
    } else {
      AppendLiteral(&out, c);
    }
    i += n;
  }
  return out;
}

SQLRSSCLike::SQLRSSCLike(SQLRSSCValueExpr *value, SQLRSSCValueExpr *pattern, SQLRSSCValueExpr *escape,
                         bool ansi)
    : value_(value), pattern_(pattern), escape_(escape), ansi_(ansi) {}

bool SQLRSSCLike::EscapeByte(int *escape) {
  *escape = -1;
  if (!escape_) return true;
  escape_->Evaluate();
  if (escapeStore_->IsNull()) return false;
  if (escapeStore_->GetLength() != 1) throw SQLExZDBError(sqlerr::kInvalidEscapeCharacter);
  *escape = escapeStore_->GetBytes()[0];
  return true;
}

void SQLRSSCLike::Compile(int escape, std::vector<char> *program) {
  unsigned char const *bytes = patternStore_->GetBytes();
  unsigned long length = patternStore_->GetLength();
  std::string text = "^";
  if (ansi_) {
    if (length > kMaxAnsiPattern)
      throw SQLException(sqlstate::kStringDataRightTruncation, sqlerr::kStringTruncation);
    text += TranslatePattern(bytes, length, escape);
  } else if (length > 0) {
    text.append(reinterpret_cast<char const *>(bytes), length);
  }
  text += "$";
  SQLLogger &log = *SQLLogger::Instance();
  if (log.LogFlagIsSet(SQLLogger::Eval::Pred)) {
    log << "Like pattern ";
    patternStore_->Log();
    if (escape_) {
      log << " escape ";
      escapeStore_->Log();
    }
    log << " changed to regexp '" << text.c_str() << "'" << endl;
  }
  program->resize(kProgramSize);
  char *end = yy_expr_compile_low_level(text.c_str(), program->data(), program->data() + kProgramSize - 1, 0);
  if (end == nullptr) throw SQLExZDBError(sqlerr::kIllegalState);
  program->resize(static_cast<size_t>(end - program->data()));
}

bool SQLRSSCLike::Match(SQLValueStore const *value, std::vector<char> const &program) {
  char const *bytes = value->GetLength() ? reinterpret_cast<char const *>(value->GetBytes()) : "";
  return yy_expr_step_n(bytes, value->GetLength(), program.data()) != 0;
}

void SQLRSSCLike::Prepare(SQLRSPrepareContext *context) {
  valueStore_ = value_->Prepare(context);
  patternStore_ = pattern_->Prepare(context);
  if (escape_) escapeStore_ = escape_->Prepare(context);
  constant_ = CompilesOnce(pattern_.get()) && CompilesOnce(escape_.get());
  if (!constant_) return;
  int escape;
  constantNull_ = !EscapeByte(&escape);
  if (constantNull_) return;
  pattern_->Evaluate();
  constantNull_ = patternStore_->IsNull();
  if (!constantNull_) Compile(escape, &program_);
}

SQLTruthValue SQLRSSCLike::Evaluate() {
  value_->Evaluate();
  if (valueStore_->IsNull()) return TV_UNKNOWN;
  if (constant_) {
    if (constantNull_) return TV_UNKNOWN;
    return Match(valueStore_, program_) ? TV_TRUE : TV_FALSE;
  }
  int escape;
  if (!EscapeByte(&escape)) return TV_UNKNOWN;
  pattern_->Evaluate();
  if (patternStore_->IsNull()) return TV_UNKNOWN;
  Compile(escape, &scratch_);
  return Match(valueStore_, scratch_) ? TV_TRUE : TV_FALSE;
}

void SQLRSSCLike::Reset() {
  value_->Reset();
  pattern_->Reset();
  if (escape_) escape_->Reset();
}

void SQLRSSCLike::Cost(double *first, double *second) {
  *first = *second = 0;
  SQLRSSCAddCost(value_.get(), first, second);
  SQLRSSCAddCost(pattern_.get(), first, second);
  SQLRSSCAddCost(escape_.get(), first, second);
  *second += 250;
}

void SQLRSSCLike::AcceptVisit(SQLVisitor &visitor) {
  value_->AcceptVisit(visitor);
  pattern_->AcceptVisit(visitor);
  if (escape_) escape_->AcceptVisit(visitor);
  visitor.VisitSQLRSSCLike(this);
}

void SQLRSSCLike::GetColumnRefs(int level, SQLRSSCColumnRefType type, pSQLRSSCColumnRefList *refs) {
  value_->GetColumnRefs(level, type, refs);
  pattern_->GetColumnRefs(level, type, refs);
  if (escape_) escape_->GetColumnRefs(level, type, refs);
}

SQLTruthValueSet SQLRSSCLike::PossibleValuesOnNullifiedCols(int level, List<Interval<int>> *intervals) {
  SQLTruthValue v = value_->NullValueOnNullifiedCols(level, intervals);
  SQLTruthValue p = pattern_->NullValueOnNullifiedCols(level, intervals);
  if (v == TV_TRUE || p == TV_TRUE) return SQLRSSCTruthSet(TV_UNKNOWN);
  if (v == TV_FALSE && p == TV_FALSE) return SQLRSSCTruthSet(TV_TRUE, TV_FALSE);
  return SQLRSSCTruthSet(TV_TRUE, TV_FALSE, TV_UNKNOWN);
}

SQLRSSCSearchCond *SQLRSSCLike::Optimize() {
  SQLRSSCSearchCondPtr self(this);  // freed when an operand throws
  value_->Optimize();
  pattern_->Optimize();
  if (escape_) escape_->Optimize();
  return self.release();
}

void SQLRSSCLike::createTokenString(SQLTokenString *ts, int level, SQLRSNetFetchParams *params) {
  ts->AppendToken(ansi_ ? SQLNWTSCLikeAnsi : SQLNWTSCLikeRegexp);
  value_->createTokenString(ts, level, params);
  pattern_->createTokenString(ts, level, params);
  if (!ansi_) return;
  if (escape_)
    escape_->createTokenString(ts, level, params);
  else
    ts->AppendToken(SQLNWTNull);
}

void SQLRSSCLike::CRefs2ParameterRefs(int level, intList *columns, pSQLParameterList *parameters) {
  SQLRSSCReplaceCRefs(&value_, level, columns, parameters);
  SQLRSSCReplaceCRefs(&pattern_, level, columns, parameters);
  SQLRSSCReplaceCRefs(&escape_, level, columns, parameters);
}

void SQLRSSCLike::Log() const {
  if (!SQLRSSCTracing()) return;
  SQLLogger &log = *SQLLogger::Instance();
  log << (ansi_ ? "ansi" : "regexp") << " Like:" << incind << endl;
  SQLRSSCLogOperand("", value_.get());
  SQLRSSCLogOperand("", pattern_.get());
  if (escape_) SQLRSSCLogOperand("", escape_.get());
  log << decind;
}
