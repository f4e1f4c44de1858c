/* The SQL grammar: an LALR(1) parser over the scanner's tokens whose actions
 * build the validated tree of one statement.
 *
 * Every object an action builds goes onto the parse's object stack
 * (SQLParseState::objects) and stays there until the action of its parent
 * pops it; when anything throws, the stack deletes what is left, so a failed
 * parse leaks nothing. The values of the symbols are one pointer wide
 * (SQLParseValue). The parser's own stacks start at 200 entries and double
 * up to 10,000, held by the parse state; a parse that needs more fails like
 * a syntax error. There is no error recovery: the error routine throws.
 *
 * Precedences: OR below AND below prefix NOT; "+ - & ||" below "* / \",
 * all left-associative. Comparisons do not chain, and a minus sign stands
 * only directly before a numeric literal.
 */

%require "3.8"
%define api.prefix {sql_yy}
%define api.pure full
%define api.value.type {union SQLParseValue}
%define api.location.type {int}
%define api.token.prefix {SQLT_}
%locations
%expect 0

%code requires {
#include "sql/front/sql_parse_value.h"
}

%code {
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "molvane/datetime.h"
#include "platform/timezone.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_schema.h"
#include "sql/common/sql_util.h"
#include "sql/front/parse_mode.h"
#include "sql/front/parse_state.h"
#include "sql/front/sql_parse.h"
#include "sql/front/sql_parse_build.h"
#include "sql/front/sql_scanner.h"
#include "sql/front/syntax_state.h"
#include "sql/validate/pt_table_ref.h"
#include "sql/validate/select_list.h"
#include "sql/validate/set_clause.h"
#include "sql/validate/vt_hints.h"
#include "sql/validate/vt_multi_join.h"
#include "sql/validate/vt_sort.h"
#include "sql/validate/vt_table.h"
#include "sql/validate/vt_union.h"
#include "sql/validate/vtree_data.h"
#include "sql/validate/vtsc_arith.h"
#include "sql/validate/vtsc_case.h"
#include "sql/validate/vtsc_cast.h"
#include "sql/validate/vtsc_comparison.h"
#include "sql/validate/vtsc_compnr.h"
#include "sql/validate/vtsc_connectives.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_enum_text.h"
#include "sql/validate/vtsc_parameter.h"
#include "sql/validate/vtsc_predicates.h"
#include "sql/validate/vtsc_refers.h"
#include "sql/validate/vtsc_row_value.h"
#include "sql/validate/vtsc_set_func.h"
#include "sql/validate/vtsc_string_ops.h"
#include "sql/validate/vtsc_subquery.h"
#include "sql/validate/vtsc_support.h"

// The scanner's token, its text copied and its line as location.
int sql_yylex(SQL_YYSTYPE *value, int *line);
// The parser's call of the error routine (with the location it ignores).
[[noreturn]] void sql_yyerror(int const *, const char *message) { sql_yyerror(message); }

// The location of a rule is the line of its first symbol; an empty rule
// takes the line of the symbol before it. The parser computes it just
// before each action, which is where the object stack starts counting the
// depth of what the action builds.
#define YYLLOC_DEFAULT(Current, Rhs, N) \
  do {                                                          \
    (Current) = (N) ? YYRHSLOC(Rhs, 1) : YYRHSLOC(Rhs, 0);      \
    BeginAction(Current);                                       \
  } while (0)

// The parser's stacks grow in storage the parse state owns.
#define YYINITDEPTH 200
#define yyoverflow(Message, Ss, SsBytes, Vs, VsBytes, Ls, LsBytes, Size) \
  SQLParseGrowStacks((Ss), (Vs), (Ls), (Size))

namespace {

using Id = SQLVTSCIdentifier;

SQLParseState &P() { return SQLParseCurrent(); }
bool Ansi() { return (P().mode & parsemode::kAnsi) != 0; }

[[noreturn]] void Fail(char const *state, std::string const &message, int line) {
  throw SQLExSyntaxError(state, SQLString(message.c_str()), line);
}

// A tree deeper than this cannot be built: the passes over a statement's
// tree (validation, types, execution, logging, deletion, and the driver's
// reading of what is shipped) recurse once per level, and a level costs up
// to a few kilobytes of the machine stack. Chains of AND, OR and the
// two-operand operators count as one level: the passes loop over them.
void CheckDepth(int line) {
  if (P().objects.TopDepth() > SQLParseState::kMaxTreeDepth) {
    Fail(syntaxstate::kTreeTooDeep,
         "Statement exceeds maximum expression depth: " + std::to_string(SQLParseState::kMaxTreeDepth), line);
  }
}

void BeginAction(int line) {
  P().objects.BeginAction();
  CheckDepth(line);
}

// Pushes an object the parse owns from now on; null passes.
template <class T>
T *Push(T *object) {
  T *pushed = P().objects.Push(object);
  CheckDepth(sql_yyGetLineNumber());
  return pushed;
}
// Takes an operand off the object stack.
template <class T>
std::unique_ptr<T> Pop(T *object) {
  return P().objects.Pop(object);
}

// Constructor arguments: owned operands are released only once the new
// object's memory is allocated (C++17 sequences the allocation first).
template <class U>
U *Release(std::unique_ptr<U> &&owned) {
  return owned.release();
}
template <class U>
U *Release(std::unique_ptr<U[]> &&owned) {
  return owned.release();
}
template <class V>
V &&Release(V &&value) {
  return std::forward<V>(value);
}

// A new object of the line, pushed on the object stack. A constructor that
// takes its operands as unique_ptr is preferred: they stay owned until it
// has taken them, so nothing leaks when it throws before.
template <class T, class... Args>
T *Make(int line, Args &&...args) {
  T *object = nullptr;
  if constexpr (std::is_constructible_v<T, Args &&...>) {
    object = new T(std::forward<Args>(args)...);
  } else {
    object = new T(Release(std::forward<Args>(args))...);
  }
  if constexpr (requires { object->SetLineNumber(line); }) object->SetLineNumber(line);
  return Push(object);
}

// A new object that no stack holds, its owned operands taken over only
// once its memory is allocated.
template <class T, class... Args>
std::unique_ptr<T> New(Args &&...args) {
  return std::unique_ptr<T>(new T(Release(std::forward<Args>(args))...));
}

// Appends an owned element to a list or array the stack holds.
template <class Container, class T>
void AppendOwned(Container *container, std::unique_ptr<T> element) {
  if constexpr (requires { container->Append(element.get()); }) {
    container->Append(element.get());
  } else {
    container->Insert(element.get());
  }
  static_cast<void>(element.release());
}

template <class T>
std::string Text(T value) {
  return std::to_string(value);
}

// The lower-case copy of a name (table names and aliases), lowered as
// identifiers are: a 4-byte TSS character stays as written.
std::unique_ptr<char[]> LowerName(std::unique_ptr<Id::String> name) {
  std::unique_ptr<char[]> text(name->Extract());
  SQLVTLowerCase(text.get(), text.get(), std::strlen(text.get()));
  return text;
}

// The parameter of a host variable (the identifier is consumed).
SQLParameter *HostParameter(Id *variable) {
  std::unique_ptr<Id> owned = Pop(variable);
  return P().treeData->GetImplementationParameter(owned.release()->DeleteToString());
}

long IntegerOf(SQLVTSCIntegerConst *constant) {
  long value = constant->GetInteger();
  static_cast<void>(Pop(constant));
  return value;
}

// A 32-bit integer literal.
long ParseInteger(char const *text, int line) {
  errno = 0;
  char *end = nullptr;
  long long value = std::strtoll(text, &end, 10);
  if (errno == ERANGE || value > 2147483647LL || value < -2147483648LL) {
    Fail(syntaxstate::kNumericLiteralOutOfRange,
         std::string("The value of the numeric literal '") + text + "' is out of range", line);
  }
  return static_cast<long>(value);
}

double ParseReal(char const *text, int line) {
  errno = 0;
  double value = std::strtod(text, nullptr);
  if (errno == ERANGE && std::isinf(value)) {
    Fail(syntaxstate::kNumericLiteralOutOfRange,
         std::string("The value of the numeric literal '") + text + "' is out of range", line);
  }
  return value;
}

// Reads a run of digits at *p into *value; FALSE when there is none or it
// does not fit an int.
bool ReadDigits(char const **p, int *value, bool *overflow) {
  if (**p < '0' || **p > '9') return false;
  long long v = 0;
  while (**p >= '0' && **p <= '9') {
    if (v <= 2147483647LL) v = v * 10 + (**p - '0');
    ++*p;
  }
  if (v > 2147483647LL) {
    *overflow = true;
    v = 0;
  }
  *value = static_cast<int>(v);
  return true;
}

bool ReadChar(char const **p, char c) {
  if (**p != c) return false;
  ++*p;
  return true;
}

// The text between the quotes of a date or timestamp literal.
std::string Unquoted(char const *text) {
  auto unquoted = SQLUnquote(text);
  return std::string(unquoted.get());
}

// DATE 'y-m-d'.
long ParseDate(char const *text, int line) {
  std::string body = Unquoted(text);
  char const *p = body.c_str();
  int year = 0, month = 0, day = 0;
  bool overflow = false;
  if (!(ReadDigits(&p, &year, &overflow) && ReadChar(&p, '-') && ReadDigits(&p, &month, &overflow) &&
        ReadChar(&p, '-') && ReadDigits(&p, &day, &overflow) && *p == '\0')) {
    Fail(syntaxstate::kInvalidDateString, std::string("Invalid date string ") + text, line);
  }
  int32_t number = overflow ? -1 : date_to_num(year, month, day);
  if (number < 0) {
    Fail(syntaxstate::kInvalidDate, std::string("Date string ") + text + " does not represent a valid date", line);
  }
  return number;
}

// TIMESTAMP 'y-m-d h:m:s', local time.
std::int64_t ParseTimestamp(char const *text, int line) {
  std::string body = Unquoted(text);
  char const *p = body.c_str();
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool overflow = false;
  if (!(ReadDigits(&p, &year, &overflow) && ReadChar(&p, '-') && ReadDigits(&p, &month, &overflow) &&
        ReadChar(&p, '-') && ReadDigits(&p, &day, &overflow) && ReadChar(&p, ' ') &&
        ReadDigits(&p, &hour, &overflow) && ReadChar(&p, ':') && ReadDigits(&p, &minute, &overflow) &&
        ReadChar(&p, ':') && ReadDigits(&p, &second, &overflow) && *p == '\0')) {
    Fail(syntaxstate::kInvalidTimestampString, std::string("Invalid timestamp string ") + text, line);
  }
  std::string const invalid = std::string("Timestamp string ") + text + " does not represent a valid timestamp";
  if (overflow || hour > 23 || minute > 59 || second > 59 || date_to_num(year, month, day) < 0) {
    Fail(syntaxstate::kInvalidTimestamp, invalid, line);
  }
  struct tm local = {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  errno = 0;
  std::int64_t seconds = qelt_mktime(&local);
  if (seconds == -1 && errno == ERANGE) Fail(syntaxstate::kInvalidTimestamp, invalid, line);
  if (seconds < 0) {
    Fail(syntaxstate::kTimestampOutOfRange,
         std::string("Timestamp ") + text + " is out of range. Its UTC value should be at least 1970-1-1 0:0:0",
         line);
  }
  return seconds;
}

// The bytes of a raw literal x'0f'.
SQLVTSCRawConst *RawConstant(char const *text, int line) {
  size_t n = std::strlen(text) - 3;  // x, two quotes
  std::vector<char> bytes((n + 1) / 2 + 1);
  hexstring_to_raw(text + 2, static_cast<int>(n), bytes.data());
  return Make<SQLVTSCRawConst>(line, reinterpret_cast<unsigned char const *>(bytes.data()),
                               static_cast<long>((n + 1) / 2));
}

SQLVTSCStringConst *StringConstant(char const *text, int line) {
  auto unquoted = SQLUnquote(text);
  return Make<SQLVTSCStringConst>(line, reinterpret_cast<unsigned char const *>(unquoted.get()),
                                  static_cast<long>(std::strlen(unquoted.get())), SQLVTSCStringConst::AsIs);
}

// AND or OR: an operand of the connective's own kind gives its terms to the
// new one, so that a chain of them is one level deep, however long.
template <class T>
int ConnectiveDepth(SQLVTSCSearchCond *operand) {
  return P().objects.DepthOf(operand) + (dynamic_cast<T *>(operand) != nullptr ? 0 : 1);
}
template <class T>
T *Connective(int line, SQLVTSCSearchCond *a, SQLVTSCSearchCond *b) {
  int const depth = std::max(ConnectiveDepth<T>(a), ConnectiveDepth<T>(b));
  T *connective = Make<T>(line, Pop(a), Pop(b));
  P().objects.SetTopDepth(depth);
  return connective;
}

// A two-operand arithmetic or concatenation operator. A left operand of
// that family continues its chain, so that a + b - c ... is one level deep
// however long: every pass walks such a chain along its left operands in a
// loop (SQLVTSCDyadicOperator). A right operand nests a level. The depth
// is checked once it is set: Push would count the left operand a level.
template <class T>
T *Dyadic(int line, SQLVTSCValueExpr *a, SQLVTSCValueExpr *b) {
  int const leftLevel = dynamic_cast<SQLVTSCDyadicOperator *>(a) != nullptr ? 0 : 1;
  int const depth = std::max(P().objects.DepthOf(a) + leftLevel, P().objects.DepthOf(b) + 1);
  auto left = Pop(a);
  auto right = Pop(b);
  auto op = std::make_unique<T>(left.get(), right.get());
  (void)left.release();
  (void)right.release();
  op->SetLineNumber(line);
  T *pushed = P().objects.Push(op.release());
  P().objects.SetTopDepth(depth);
  CheckDepth(sql_yyGetLineNumber());
  return pushed;
}

// A comparison-like predicate, negated when asked.
SQLVTSCSearchCond *Negated(SQLVTSCSearchCond *predicate, long negated, int line) {
  if (!negated) return predicate;
  return Make<SQLVTSCNot>(line, Pop(predicate));
}

void CountSetFunction(bool nonCount) {
  SQLParseState &s = P();
  s.setFunction[static_cast<size_t>(s.subqueryLevel)] = true;
  if (nonCount) s.nonCountSetFunction[static_cast<size_t>(s.subqueryLevel)] = true;
}

SQLVTSCValueExpr *SetFunction(SQLSetFuncSpec function, SQLVTSCValueExpr *argument, int line) {
  CountSetFunction(function != SQL_SETFUNC_COUNT);
  return Make<SQLVTSCSetFuncSpec>(line, function, Pop(argument));
}

SQLVTHints *CurrentHints() { return P().hints; }

// A hint of a kind given once only.
void CheckHintOnce(unsigned long kind, char const *state, char const *message, int line) {
  if (CurrentHints()->GetHints()->GetGiven() & kind) Fail(state, message, line);
}

long HintSize(SQLVTSCIntegerConst *constant, char const *state, char const *what, int line) {
  long size = IntegerOf(constant);
  if (size < 1) {
    Fail(state, std::string("Invalid ") + what + " " + Text(size) + ". Size must be greater than or equal to 1",
         line);
  }
  return size;
}

// A subquery starts one level deeper.
void EnterSubquery(int line) {
  SQLParseState &s = P();
  if (s.subqueryLevel >= SQLParseState::kMaxSubqueryLevel) {
    Fail(syntaxstate::kTooManySubqueries,
         "Statement exceeds maximum number of subqueries: " + Text(SQLParseState::kMaxSubqueryLevel - 1), line);
  }
  ++s.subqueryLevel;
  s.setFunction[static_cast<size_t>(s.subqueryLevel)] = false;
  s.nonCountSetFunction[static_cast<size_t>(s.subqueryLevel)] = false;
}

// Copies one stack into storage of next entries and points it there.
template <class T, class N>
void GrowStack(std::vector<unsigned char> *store, T **stack, N used, N next) {
  std::vector<unsigned char> bigger(sizeof(T) * static_cast<size_t>(next));
  std::memcpy(bigger.data(), *stack, sizeof(T) * static_cast<size_t>(used));
  store->swap(bigger);
  *stack = reinterpret_cast<T *>(store->data());
}

template <class S, class V, class L, class N>
void SQLParseGrowStacks(S **states, V **values, L **lines, N *size) {
  if (*size >= SQLParseState::kMaxStackDepth) sql_yyerror("parser stack overflow");
  N next = std::min<N>(*size * 2, SQLParseState::kMaxStackDepth);
  SQLParseState &s = P();
  GrowStack(&s.stacks[0], states, *size, next);
  GrowStack(&s.stacks[1], values, *size, next);
  GrowStack(&s.stacks[2], lines, *size, next);
  *size = next;
}

}  // namespace
}

/* Keywords. */
%token ALIKE 258 ALL 259 AND 260 ARRAY 261 AS 262 ASC 263
%token AS_BEFORE_SET 264 "AS-before-SET"
%token AVG 265 BETWEEN 266 BOTH 267 BUFFER 268 BY 269 CASE 270 CAST 271 CLEAR 272 CLEARUNREF 273
%token COUNT 274 CROSS 275 CURRENT_DATE 276 CURRENT_TIMESTAMP 277 DATE 278
%token DATE_NUM 279 "DATE.NUM"
%token DATE_TO_NUM 280 "DATE.TO.NUM"
%token DELETE 281 DESC 282 ELSE 283 EMPTY 284 END 285 ENUM_DESCRIPTION 286 ESCAPE 287 EXISTS 288
%token FETCHING 289 FIRST 290 FOR 291 FROM 292 FULL 293 GROUP 294 HAVING 295 HINT 296 HINTS 297
%token IN 298 INDEX 299 INNER 300 INRANGE 301 INTEGER 302 IS 303 JOIN 304 LAST 305 LEADING 306
%token LEFT 307 LIKE 308 MAX 309 MIN 310 NO 311 NOT 312 NULL_ 313 ON 314 OR 315 ORDER 316
%token ORDERED 317 OUTER 318 PATH 319 PREPARED 320 RAW 321 REAL 322 REFERS 323 REPEAT 324
%token RETRY 325 RIGHT 326 ROW 327 ROWS 328 SELECT 329 SET 330 SETUNREF 331 SKIP 332 SIZE 333
%token STRING 334 SUBHINT 335 SUM 336 TEXT_CONTENT 337 THEN 338 TIMESTAMP 339 TO 340 TRAILING 341
%token TRIM 342 UNION 343 UNREF 344 UPDATE 345 USE 346 WHEN 347 WHERE 348 WITH 349

/* Operators and punctuation. */
%token AMPERSAND 350 "&"
%token ASTERISK 351 "*"
%token BACKSLASH 352 "\\"
%token COLON 353 ":"
%token HASH_GREATER 354 "#>"
%token HASH_GREATER_EQUAL 355 "#>="
%token HASH_LESS 356 "#<"
%token HASH_LESS_EQUAL 357 "#<="
%token COMMA 358 ","
%token <text> COMPANY_COLUMN 359
%token DOLLAR 360 "$"
%token DOUBLE_BAR 361 "||"
%token EQUALS 362 "="
%token GREATER 363 ">"
%token GREATER_EQUAL 364 ">="
%token <text> RAW_LITERAL 365
%token <text> HOST_VARIABLE 366
%token <text> IDENTIFIER 367
%token <text> QUALIFIED_NAME 368
%token LBRACE 369 "{"
%token LBRACKET 370 "["
%token LPAREN 371 "("
%token LESS 372 "<"
%token LESS_EQUAL 373 "<="
%token MINUS 374 "-"
%token NOT_EQUAL 375 "<>"
%token PERIOD 376 "."
%token PLUS 377 "+"
%token <text> QUOTED_COMPANY_COLUMN 378
%token <text> DELIMITED_IDENTIFIER 379
%token RBRACE 380 "}"
%token RBRACKET 381 "]"
%token RPAREN 382 ")"
%token SEMICOLON 383 ";"
%token SLASH 384 "/"
%token <text> STRING_LITERAL 385
%token <text> QUALIFIED_COMPANY_COLUMN 386
%token <text> INTEGER_LITERAL 387
%token <text> REAL_LITERAL 388
%token UNUSED 389

%left OR
%left AND
%precedence NOT
%left "+" "-" "&" "||"
%left "*" "/" "\\"

%type <node> statement select_statement delete_statement update_statement
%type <node> query_expression query_specification subquery
%type <sortList> order_by_clause sort_spec_list
%type <sortSpec> sort_spec
%type <number> opt_sort_order retry_clause as_set_clause opt_for_update join_type opt_not
%type <number> comparison_operator cast_type trim_spec opt_index_order opt_unref
%type <hints> hint_clause subhint_clause hints_start
%type <selectList> select_list
%type <selectItem> select_item
%type <ident> opt_alias opt_company_alias opt_target
%type <string> name qualified_name company_column correlation opt_correlation table_identifier
%type <join> opt_from_clause table_reference_list
%type <tableRef> table_reference joined_table
%type <table> table_name derived_table
%type <cond> opt_where_clause opt_having_clause search_condition join_condition
%type <cond> predicate where_only_predicate company_join_predicate
%type <identList> opt_group_by_clause column_name_list opt_path path_list
%type <ident> column_name company_column_ref host_variable opt_refers_from path_element
%type <row> row_value
%type <genericRow> value_list
%type <numbers> company_number_list
%type <expr> value_expression opt_value_expression opt_second opt_length case_result opt_else
%type <expr> pattern opt_escape escape_character update_source host_variable_ref
%type <expr> date_function set_function_call case_expression
%type <expr> date_literal timestamp_literal signed_real raw_constant empty_constant enum_constant
%type <integer> integer_constant signed_integer
%type <stringConst> string_constant opt_language
%type <whenList> when_list
%type <setList> set_clause_list
%type <setClause> set_clause

%start statement

%%

/* ---- statements ---- */

statement
  : select_statement { P().treeData->SetStmtType(SQL_STMT_SELECT); P().root = $$ = $1; }
  | delete_statement { P().treeData->SetStmtType(SQL_STMT_DELETE); P().root = $$ = $1; }
  | update_statement { P().treeData->SetStmtType(SQL_STMT_UPDATE); P().root = $$ = $1; }
  ;

select_statement
  : query_expression order_by_clause as_set_clause hint_clause
      {
        int line = $1->GetLineNumber();
        $$ = Push(SQLParseBuildSelect(Pop($1).release(), Pop($2).release(), $3 != 0, Pop($4).release(), P().mode));
        $$->SetLineNumber(line);
      }
  ;

delete_statement
  : DELETE FROM table_name opt_where_clause
      {
        std::unique_ptr<SQLPTTable> reference = Pop($3);
        auto *table = static_cast<SQLVTTable *>(reference->ExtractVTTable());
        $$ = Push(SQLParseBuildDelete(table, Pop($4).release()));
        $$->SetLineNumber(@1);
      }
  ;

update_statement
  : UPDATE table_name SET set_clause_list opt_where_clause
      {
        std::unique_ptr<SQLPTTable> reference = Pop($2);
        auto *table = static_cast<SQLVTTable *>(reference->ExtractVTTable());
        $$ = Push(SQLParseBuildUpdate(table, Pop($4).release(), Pop($5).release()));
        $$->SetLineNumber(@1);
      }
  ;

set_clause_list
  : set_clause { $$ = Make<SQLVTSetClauseList>(@1); $$->AppendClause(Pop($1).release()); }
  | set_clause_list "," set_clause { $$ = $1; $$->AppendClause(Pop($3).release()); }
  ;

set_clause
  : column_name "=" { P().setColumn = $1->GetText(); } update_source
      { $$ = Make<SQLVTSetClause>(@1, Pop($1), Pop($4)); }
  ;

/* Only constants and host variables may be assigned. */
update_source
  : host_variable_ref { $$ = $1; }
  | date_function { $$ = $1; }
  | date_literal { $$ = $1; }
  | timestamp_literal { $$ = $1; }
  | signed_integer { $$ = $1; }
  | signed_real { $$ = $1; }
  | string_constant { $$ = $1; }
  | raw_constant { $$ = $1; }
  | empty_constant { $$ = $1; }
  | enum_constant { $$ = $1; }
  ;

/* ---- ORDER BY, RETRY and AS SET ---- */

order_by_clause
  : %empty { $$ = nullptr; }
  | ORDER BY sort_spec_list retry_clause
      { $$ = $3; $$->SetRetryClauseType(static_cast<SQLRetryClauseType>($4)); }
  ;

sort_spec_list
  : sort_spec { $$ = Make<SQLVTSortSpecList>(@1); $$->Append(Pop($1).release()); }
  | sort_spec_list "," sort_spec { $$ = $1; $$->Append(Pop($3).release()); }
  ;

sort_spec
  : column_name opt_sort_order
      { $$ = Make<SQLVTSortSpec>(@1, Pop($1), 0, static_cast<SQLVTSortOrder>($2)); }
  | company_column_ref opt_sort_order
      { $$ = Make<SQLVTSortSpec>(@1, Pop($1), 0, static_cast<SQLVTSortOrder>($2)); }
  | integer_constant opt_sort_order
      {
        int position = static_cast<int>(IntegerOf($1));
        $$ = Make<SQLVTSortSpec>(@1, static_cast<Id *>(nullptr), position, static_cast<SQLVTSortOrder>($2));
      }
  ;

opt_sort_order
  : %empty { $$ = SQL_SORT_ASC; }
  | ASC { $$ = SQL_SORT_ASC; }
  | DESC { $$ = SQL_SORT_DESC; }
  ;

retry_clause
  : %empty { $$ = SQL_RETRY_NONE; }
  | WITH RETRY { $$ = SQL_RETRY_STRICT; }
  | WITH RETRY REPEAT LAST ROW { $$ = SQL_RETRY_INCLUSIVE; }
  ;

as_set_clause
  : %empty { $$ = 0; }
  | AS_BEFORE_SET SET WITH max_rows_value ROWS { $$ = 0; }
  | AS_BEFORE_SET PREPARED SET { $$ = 1; }
  | AS_BEFORE_SET PREPARED SET WITH max_rows_value ROWS { $$ = 1; }
  ;

max_rows_value
  : integer_constant
      {
        long rows = IntegerOf($1);
        if (rows < 1) Fail(syntaxstate::kInvalidMaxRows, "Invalid maximum rows value: " + Text(rows), @1);
        P().treeData->SetMaxRows(static_cast<int>(rows));
      }
  | host_variable
      {
        SQLParameter *parameter = HostParameter($1);
        parameter->SetType(SQL_INTEGER, 0, 1);
        P().treeData->SetMaxRows(parameter);
      }
  ;

/* ---- hints ---- */

hint_clause
  : %empty { $$ = nullptr; }
  | HINT hints_start hint_list { $$ = $2; }
  ;

subhint_clause
  : %empty { $$ = nullptr; }
  | SUBHINT hints_start hint_list { $$ = $2; }
  ;

hints_start
  : %empty { $$ = P().hints = Make<SQLVTHints>(@$); }
  ;

hint_list
  : hint
  | hint_list AND hint
  ;

hint
  : USE INDEX { P().indexCount = 0; } index_number_list ON table_identifier opt_index_order
      {
        std::unique_ptr<Id> table = New<Id>(Pop($6));
        // The hint record keeps an index number in one byte: a number that
        // does not fit is refused here, as the table would refuse it.
        SQLParseState &s = P();
        char numbers[SQLParseState::kMaxIndexNumbers] = {};
        for (int i = 0; i < s.indexCount; ++i) {
          if (s.indexNumbers[i] < 1 || s.indexNumbers[i] > 127) {
            Fail("42I44", "Invalid index number " + Text(s.indexNumbers[i]) + " for table '" + table->GetText() + "'",
                 @1);
          }
          numbers[i] = static_cast<char>(s.indexNumbers[i]);
        }
        CurrentHints()->AddIndexHints(table.release(), s.indexCount, numbers, static_cast<SQLIndexHintMode>($7));
      }
  | ALL ROWS
      {
        CheckHintOnce(SQLHints::kRowMode, syntaxstate::kMultipleRowModeHints, "Multiple row mode hints specified", @1);
        CurrentHints()->GetHints()->SetRowMode(SQL_HINTS_ALL_ROWS);
      }
  | FIRST ROWS
      {
        CheckHintOnce(SQLHints::kRowMode, syntaxstate::kMultipleRowModeHints, "Multiple row mode hints specified", @1);
        CurrentHints()->GetHints()->SetRowMode(SQL_HINTS_FIRST_ROWS);
      }
  | ARRAY FETCHING
      {
        CheckHintOnce(SQLHints::kArrayFetchingEnabled, syntaxstate::kMultipleArrayFetchingHints,
                      "Multiple array fetching hints specified", @1);
        CurrentHints()->GetHints()->SetArrayFetchingEnabled(true);
      }
  | NO ARRAY FETCHING
      {
        CheckHintOnce(SQLHints::kArrayFetchingEnabled, syntaxstate::kMultipleArrayFetchingHints,
                      "Multiple array fetching hints specified", @1);
        CurrentHints()->GetHints()->SetArrayFetchingEnabled(false);
      }
  | ARRAY SIZE integer_constant
      {
        long size = HintSize($3, syntaxstate::kInvalidArraySize, "array size", @1);
        CheckHintOnce(SQLHints::kArrayFetchingSize, syntaxstate::kMultipleArraySizeHints,
                      "Multiple array size hints specified", @1);
        CurrentHints()->GetHints()->SetArrayFetchingSize(static_cast<unsigned long>(size));
      }
  | BUFFER integer_constant ROWS
      {
        long size = HintSize($2, syntaxstate::kInvalidBufferSize, "buffer size", @1);
        CheckHintOnce(SQLHints::kBufferSize, syntaxstate::kMultipleBufferSizeHints,
                      "Multiple buffer size hints specified", @1);
        CurrentHints()->GetHints()->SetBufferSize(static_cast<unsigned long>(size));
      }
  | string_constant
      {
        std::unique_ptr<SQLVTSCStringConst> text = Pop($1);
        CheckHintOnce(SQLHints::kString, syntaxstate::kMultipleStringHints, "Multiple string hints specified", @1);
        CurrentHints()->GetHints()->SetString(reinterpret_cast<char const *>(text->GetString()));
      }
  | ORDERED
      {
        CheckHintOnce(SQLHints::kOrdered, syntaxstate::kMultipleOrderedHints, "Multiple ordered hints specified", @1);
        CurrentHints()->GetHints()->SetOrdered();
      }
  | NO HINTS
      {
        CheckHintOnce(SQLHints::kNoHints, syntaxstate::kMultipleNoHintsHints,
                      "Multiple 'no hints' hints specified", @1);
        CurrentHints()->GetHints()->SetNoHints();
      }
  ;

index_number_list
  : index_number
  | index_number_list "," index_number
  ;

index_number
  : integer_constant
      {
        long number = IntegerOf($1);
        SQLParseState &s = P();
        if (s.indexCount >= SQLParseState::kMaxIndexNumbers) throw SQLVTTooManyIndexHints(@1);
        s.indexNumbers[s.indexCount++] = number;
      }
  ;

opt_index_order
  : %empty { $$ = SQL_INDEX_HINT_ANY; }
  | ASC { $$ = SQL_INDEX_HINT_ASCENDING; }
  | DESC { $$ = SQL_INDEX_HINT_DESCENDING; }
  ;

/* ---- queries ---- */

query_expression
  : query_specification { $$ = $1; }
  | query_expression UNION ALL query_specification
      {
        if ($1->IsForUpdate() || $4->IsForUpdate()) {
          Fail(syntaxstate::kForUpdateInUnion, "A query in a UNION cannot be a FOR UPDATE query", @1);
        }
        $$ = Make<SQLVTUnion>(@1, Pop($1), Pop($4), true);
      }
  ;

query_specification
  : SELECT
      {
        SQLParseState &s = P();
        s.setFunction[static_cast<size_t>(s.subqueryLevel)] = false;
        s.nonCountSetFunction[static_cast<size_t>(s.subqueryLevel)] = false;
      }
    opt_for_update select_list
      {
        SQLParseState &s = P();
        if (s.setFunction[static_cast<size_t>(s.subqueryLevel)]) $4->SetContainsAggregate();
        if (s.nonCountSetFunction[static_cast<size_t>(s.subqueryLevel)]) $4->SetContainsNonCountAggregate();
      }
    opt_from_clause opt_where_clause opt_group_by_clause opt_having_clause subhint_clause
      {
        SQLParseState &s = P();
        $$ = Push(SQLParseBuildQuerySpec($3 != 0, Pop($4).release(), Pop($6).release(), Pop($7).release(),
                                         Pop($8).release(), Pop($9).release(), Pop($10).release(), s.mode,
                                         s.treeData, s.subqueryLevel));
        $$->SetLineNumber(s.constructLine);
      }
  ;

opt_for_update
  : %empty { $$ = 0; }
  | FOR UPDATE { $$ = 1; }
  ;

select_list
  : select_item { $$ = Make<SQLVTSelectList>(@1); $$->Insert(Pop($1).release()); }
  | select_list "," select_item { $$ = $1; $$->Insert(Pop($3).release()); }
  ;

select_item
  : "*" { $$ = Make<SQLVTSelectItem>(@1, SQL_SELECT_ALL); }
  | name "." "*" { $$ = Make<SQLVTSelectItem>(@1, SQL_SELECT_TABLE_ALL, New<Id>(Pop($1))); }
  | value_expression opt_alias opt_target
      {
        bool column = $1->IsIdentifier() &&
                      !((P().mode & parsemode::kQuotedIndexIsValue) && $1->AsIdentifier()->IsQuotedArrayIndex());
        if (column) {
          $$ = Make<SQLVTSelectItem>(@1, SQL_SELECT_COLUMN, Pop($1->AsIdentifier()), Pop($2), Pop($3));
        } else {
          $$ = Make<SQLVTSelectItem>(@1, SQL_SELECT_VALUE_EXPR, Pop($1), Pop($2), Pop($3));
        }
      }
  | company_column_ref opt_company_alias opt_target
      { $$ = Make<SQLVTSelectItem>(@1, SQL_SELECT_COMPNR_COLUMN, Pop($1), Pop($2), Pop($3)); }
  ;

opt_alias
  : %empty { $$ = nullptr; }
  | correlation { $$ = Make<Id>(@1, Pop($1)); }
  ;

opt_company_alias
  : %empty { $$ = nullptr; }
  | correlation { $$ = Make<Id>(@1, Pop($1)); }
  | company_column { $$ = Make<Id>(@1, Pop($1)); }
  | AS company_column { $$ = Make<Id>(@1, Pop($2)); }
  ;

opt_target
  : %empty { $$ = nullptr; }
  | host_variable { $$ = $1; }
  ;

correlation
  : AS table_identifier { $$ = $2; }
  | table_identifier { $$ = $1; }
  ;

opt_correlation
  : %empty { $$ = nullptr; }
  | correlation { $$ = $1; }
  ;

/* ---- FROM ---- */

opt_from_clause
  : %empty
      {
        if (!(P().mode & parsemode::kFromOptional)) {
          std::string message = "FROM clause not found where expected.";
          char const *token = sql_yyGetToken();
          // SELECT TOP n ...: TOP was taken for the select list.
          if (*token) {
            std::string form = SQLOtherDialectRowsForm(token);
            if (!form.empty()) Fail(syntaxstate::kUnexpectedToken, form, sql_yyGetLineNumber());
          }
          if (*token) message += std::string(" Found '") + token + "' instead.";
          Fail(syntaxstate::kFromClauseMissing, message, sql_yyGetLineNumber());
        }
        $$ = nullptr;
      }
  | FROM table_reference_list
      {
        $$ = $2;
        if (SQLPTTable *duplicate = $$->GetFirstDuplicateTable()) {
          Fail(syntaxstate::kDuplicateTableName,
               std::string("Duplicate table name or alias name '") + duplicate->GetCorrelationName() + "'",
               duplicate->GetLineNumber());
        }
      }
  ;

table_reference_list
  : table_reference
      {
        $$ = Make<SQLVTMultiJoin>(@1);
        $$->AddTableReference(Pop($1).release(), (P().mode & parsemode::kTableReferenceFlag) != 0);
      }
  | table_reference_list "," table_reference
      {
        $$ = $1;
        if ($$->AddTableReference(Pop($3).release(), (P().mode & parsemode::kTableReferenceFlag) != 0) < 0) {
          P().treeData->RemoveLastTable();
        }
      }
  ;

table_reference
  : table_name opt_for_update
      {
        if ($2) {
          if (P().subqueryLevel > 1) {
            Fail(syntaxstate::kSubqueryForUpdate,
                 std::string("Subquery table '") + $1->GetBaseName() + "' selected for update", @1);
          }
          $1->SetForUpdate(true);
        }
        $$ = $1;
      }
  | derived_table { $$ = $1; }
  | joined_table { $$ = $1; }
  ;

table_name
  : table_identifier opt_correlation
      {
        std::unique_ptr<char[]> alias = $2 ? LowerName(Pop($2)) : nullptr;
        std::unique_ptr<char[]> name = LowerName(Pop($1));
        std::string const written = name.get();
        std::unique_ptr<SQLVTTable> table;
        try {
          table.reset(new SQLVTTable(name.release(), alias.release(), false));
        } catch (SQLSchemaExNotExists const &) {
          Fail(syntaxstate::kUnknownTable, "Unknown table '" + written + "'", @1);
        }
        table->SetLineNumber(@1);
        table->InitializeCompnr(P().treeData);
        SQLVTTable *node = table.get();
        $$ = Make<SQLPTTable>(@1, std::move(table), false);
        P().treeData->AddTable(node);
      }
  ;

derived_table
  : "(" query_expression ")" opt_as table_identifier
      {
        if ($2->IsForUpdate()) Fail(syntaxstate::kSubqueryForUpdate, "Subquery table selected for update", @1);
        $$ = Make<SQLPTTable>(@1, Pop($2), LowerName(Pop($5)));
      }
  ;

opt_as
  : %empty
  | AS
  ;

joined_table
  : table_reference join_type JOIN table_reference ON join_condition
      { $$ = Make<SQLPTJoin>(@1, static_cast<SQLJoinType>($2), Pop($1), Pop($4), Pop($6)); }
  | "(" joined_table ")" { $$ = $2; }
  ;

join_type
  : %empty { $$ = SQL_JOIN_INNER; }
  | INNER { $$ = SQL_JOIN_INNER; }
  | LEFT opt_outer { $$ = SQL_JOIN_LEFT; }
  | RIGHT opt_outer { $$ = SQL_JOIN_RIGHT; }
  | FULL opt_outer { $$ = SQL_JOIN_FULL; }
  ;

opt_outer
  : %empty
  | OUTER
  ;

opt_where_clause
  : %empty { $$ = nullptr; }
  | WHERE search_condition { $$ = $2; }
  ;

opt_group_by_clause
  : %empty { $$ = nullptr; }
  | GROUP BY column_name_list { $$ = $3; }
  ;

column_name_list
  : column_name { $$ = Make<pSQLVTSCIdentifierDelArray>(@1); AppendOwned($$, Pop($1)); }
  | column_name_list "," column_name { $$ = $1; AppendOwned($$, Pop($3)); }
  ;

opt_having_clause
  : %empty { $$ = nullptr; }
  | HAVING search_condition { $$ = $2; }
  ;

/* ---- conditions ----
 * WHERE, HAVING and the searched CASE share one condition language; the
 * query builder refuses company-number and REFERS TO predicates in HAVING.
 * An ON condition has neither REFERS TO nor company-number constants. */

search_condition
  : search_condition AND search_condition { $$ = Connective<SQLVTSCAnd>(@1, $1, $3); }
  | search_condition OR search_condition { $$ = Connective<SQLVTSCOr>(@1, $1, $3); }
  | NOT search_condition { $$ = Make<SQLVTSCNot>(@1, Pop($2)); }
  | "(" search_condition ")" { $$ = $2; }
  | predicate { $$ = $1; }
  | company_join_predicate { $$ = $1; }
  | where_only_predicate { $$ = $1; }
  ;

join_condition
  : join_condition AND join_condition { $$ = Connective<SQLVTSCAnd>(@1, $1, $3); }
  | join_condition OR join_condition { $$ = Connective<SQLVTSCOr>(@1, $1, $3); }
  | NOT join_condition { $$ = Make<SQLVTSCNot>(@1, Pop($2)); }
  | "(" join_condition ")" { $$ = $2; }
  | predicate { $$ = $1; }
  | company_join_predicate { $$ = $1; }
  | company_column_ref "=" company_constant
      {
        /* The objects on the parse stack go with the statement. */
        Fail(syntaxstate::kUnexpectedToken,
             std::string("Company-number restriction '") + $1->GetText() +
                 " = ...' in an ON condition: restrict a table's company in the WHERE clause (WHERE " +
                 $1->GetText() + " = 1; in ANSI mode every table's or none), or join two tables' "
                 "company-number columns in the ON condition (ANSI mode: ON a.company_nr = b.company_nr)",
             @1);
      }
  ;

/* What a company-number restriction compares with: refused in an ON
 * condition. */
company_constant
  : integer_constant {}
  | host_variable {}
  ;

predicate
  : row_value comparison_operator row_value
      { $$ = Make<SQLVTSCComparison>(@1, Pop($1), static_cast<SQLVTSCCompOperator>($2), Pop($3)); }
  | row_value opt_not BETWEEN row_value AND row_value
      { $$ = Negated(Make<SQLVTSCBetween>(@1, Pop($1), Pop($4), Pop($6)), $2, @1); }
  | row_value opt_not INRANGE row_value AND row_value
      { $$ = Negated(Make<SQLVTSCInRange>(@1, Pop($1), Pop($4), Pop($6)), $2, @1); }
  | row_value opt_not LIKE pattern opt_escape
      {
        if ($5 && !Ansi()) {
          Fail(syntaxstate::kNotInThisParseMode, "ANSI syntax for LIKE predicate requires parse mode 'ansi'.", @1);
        }
        $$ = Push(SQLParseBuildLike(Pop($1).release(), Pop($4).release(), Pop($5).release(), $2 != 0, Ansi()));
      }
  | row_value opt_not ALIKE pattern opt_escape
      {
        if (Ansi()) {
          Fail(syntaxstate::kNotInThisParseMode, "ALIKE predicate is not allowed in parse mode 'ansi'.", @1);
        }
        $$ = Push(SQLParseBuildLike(Pop($1).release(), Pop($4).release(), Pop($5).release(), $2 != 0, true));
      }
  | EXISTS "(" subquery ")" { $$ = Make<SQLVTSCExists>(@1, Pop($3)); }
  | row_value opt_not IN "(" subquery ")"
      { $$ = Push(SQLParseBuildInSubquery(Pop($1).release(), Pop($5).release(), $2 != 0)); }
  | row_value opt_not IN "(" value_list ")"
      { $$ = Push(SQLParseBuildInSet(Pop($1).release(), Pop($5).release(), $2 != 0)); }
  | row_value IS opt_not NULL_ { $$ = Push(SQLParseBuildIsNull(Pop($1).release(), $3 != 0)); }
  ;

opt_not
  : %empty { $$ = 0; }
  | NOT { $$ = 1; }
  ;

pattern
  : string_constant { $$ = $1; }
  | host_variable_ref { $$ = $1; }
  ;

opt_escape
  : %empty { $$ = nullptr; }
  | ESCAPE escape_character { $$ = $2; }
  ;

escape_character
  : string_constant
      {
        long n = $1->GetLength();
        unsigned char const *s = $1->GetString();
        if (!(n == 1 || (n == 4 && s[0] == 0x9B))) {
          Fail("22019", std::string("Invalid escape character '") + reinterpret_cast<char const *>(s) + "'", @1);
        }
        $$ = $1;
      }
  | host_variable_ref { $$ = $1; }
  ;

where_only_predicate
  : row_value opt_refers_from REFERS TO column_name opt_path opt_unref
      {
        if (Ansi()) {
          Fail(syntaxstate::kNotInThisParseMode, "REFERS TO predicate is not allowed in parse mode 'ansi'.", @1);
        }
        $$ = Make<SQLVTSCRefers>(@1, Pop($1), Pop($2), Pop($5), Pop($6), static_cast<SQLUnrefMode>($7));
      }
  | company_column_ref "=" host_variable
      {
        SQLParameter *parameter = HostParameter($3);
        parameter->SetType(SQL_INTEGER, 0, 1);
        P().treeData->AddCompnrParameter(parameter);
        $$ = Make<SQLVTSCCompnrSpec>(@1, Pop($1), static_cast<SQLParameter const *>(parameter));
      }
  | company_column_ref "=" integer_constant
      {
        long number = IntegerOf($3);
        if (number < 0 || number > 999) {
          Fail(syntaxstate::kInvalidCompanyNumber, "Invalid company number " + Text(number), @3);
        }
        $$ = Make<SQLVTSCCompnrSpec>(@1, Pop($1), static_cast<int>(number));
      }
  | company_column_ref IN
      {
        if (!Ansi()) {
          Fail(syntaxstate::kNotInThisParseMode, "_compnr IN predicate is only allowed in parse mode 'ansi'", @1);
        }
      }
    "(" company_number_list ")" { $$ = Make<SQLVTSCCompnrSpec>(@1, Pop($1), Pop($5)); }
  ;

company_number_list
  : integer_constant
      {
        long number = IntegerOf($1);
        if (number < 0 || number > 999) {
          Fail(syntaxstate::kInvalidCompanyNumber, "Invalid company number " + Text(number), @1);
        }
        $$ = Make<List<int>>(@1);
        $$->Append(static_cast<int>(number));
      }
  | company_number_list "," integer_constant
      {
        long number = IntegerOf($3);
        if (number < 0 || number > 999) {
          Fail(syntaxstate::kInvalidCompanyNumber, "Invalid company number " + Text(number), @3);
        }
        $$ = $1;
        $$->Append(static_cast<int>(number));
      }
  ;

company_join_predicate
  : company_column_ref "=" company_column_ref
      {
        if (!Ansi()) {
          Fail(syntaxstate::kNotInThisParseMode, "_compnr join predicate is only allowed in parse mode 'ansi'", @1);
        }
        $$ = Make<SQLVTSCCompnrSpec>(@1, Pop($1), Pop($3));
      }
  ;

opt_refers_from
  : %empty { $$ = nullptr; }
  | FROM column_name { $$ = $2; }
  ;

opt_path
  : %empty { $$ = nullptr; }
  | PATH path_list { $$ = $2; }
  ;

path_list
  : path_element { $$ = Make<pSQLVTSCIdentifierDelArray>(@1); AppendOwned($$, Pop($1)); }
  | path_list path_element { $$ = $1; AppendOwned($$, Pop($2)); }
  ;

/* A path element names its table. */
path_element
  : column_name
      {
        if ($1->GetQualifier() == nullptr) {
          Fail(syntaxstate::kInvalidReferencePathElement,
               std::string("Invalid reference path element '") + $1->GetText() + "'", @1);
        }
        $$ = $1;
      }
  ;

opt_unref
  : %empty { $$ = SQL_UNREF_AUTO; }
  | UNREF CLEAR { $$ = SQL_UNREF_CLEAR; }
  | UNREF CLEARUNREF { $$ = SQL_UNREF_CLEAR_UNREF; }
  | UNREF SETUNREF { $$ = SQL_UNREF_SET_UNREF; }
  | UNREF SKIP { $$ = SQL_UNREF_SKIP; }
  ;

row_value
  : value_expression { $$ = Make<SQLVTSCImplicitRowValueConstr>(@1, Pop($1)); }
  | "{" value_list "}" { $$ = $2; }
  ;

value_list
  : value_expression { $$ = Make<SQLVTSCGenericRowValueConstr>(@1); AppendOwned($$, Pop($1)); }
  | value_list "," value_expression { $$ = $1; AppendOwned($$, Pop($3)); }
  ;

subquery
  : { EnterSubquery(@$); } query_expression hint_clause
      {
        if ($2->IsForUpdate()) Fail(syntaxstate::kSubqueryForUpdate, "Subquery table selected for update", @2);
        std::unique_ptr<SQLVTNode> query = Pop($2);
        SQLParseApplyHints(query.get(), Pop($3).release());
        SQLParseState &s = P();
        query->SetLineNumber(s.constructLine);
        --s.subqueryLevel;
        $$ = Push(query.release());
      }
  ;

comparison_operator
  : "=" { $$ = SQLVTSC_EQUAL; }
  | "<>" { $$ = SQLVTSC_NOT_EQUAL; }
  | "<" { $$ = SQLVTSC_LESS; }
  | ">" { $$ = SQLVTSC_GREATER; }
  | "<=" { $$ = SQLVTSC_LESS_EQUAL; }
  | ">=" { $$ = SQLVTSC_GREATER_EQUAL; }
  | "#<" { $$ = SQLVTSC_ALL_LESS; }
  | "#>" { $$ = SQLVTSC_ALL_GREATER; }
  | "#<=" { $$ = SQLVTSC_ALL_LESS_EQUAL; }
  | "#>=" { $$ = SQLVTSC_ALL_GREATER_EQUAL; }
  ;

/* ---- value expressions ---- */

value_expression
  : value_expression "+" value_expression { $$ = Dyadic<SQLVTSCAdd>(@1, $1, $3); }
  | value_expression "-" value_expression { $$ = Dyadic<SQLVTSCSubtract>(@1, $1, $3); }
  | value_expression "*" value_expression { $$ = Dyadic<SQLVTSCMultiply>(@1, $1, $3); }
  | value_expression "/" value_expression { $$ = Dyadic<SQLVTSCDivide>(@1, $1, $3); }
  | value_expression "\\" value_expression { $$ = Dyadic<SQLVTSCModulo>(@1, $1, $3); }
  | value_expression "&" value_expression { $$ = Dyadic<SQLVTSCConcatenate>(@1, $1, $3); }
  | value_expression "||" value_expression { $$ = Dyadic<SQLVTSCConcatenate>(@1, $1, $3); }
  | "(" value_expression ")" { $$ = $2; }
  | "(" subquery ")" { $$ = Make<SQLVTSCScalarSubquery>(@1, Pop($2)); }
  | CAST "(" host_variable_ref AS cast_type ")"
      { $$ = Make<SQLVTSCCast>(@1, Pop($3), static_cast<SQLType>($5)); }
  | string_constant "(" value_expression opt_length ")"
      { $$ = Make<SQLVTSCSubstr>(@1, Pop($1), Pop($3), Pop($4)); }
  | raw_constant "(" value_expression opt_length ")"
      { $$ = Make<SQLVTSCSubstr>(@1, Pop($1), Pop($3), Pop($4)); }
  | host_variable_ref "(" value_expression opt_length ")"
      { $$ = Make<SQLVTSCSubstr>(@1, Pop($1), Pop($3), Pop($4)); }
  | column_name "[" value_expression "]" { $$ = Make<SQLVTSCIndexing>(@1, Pop($1), Pop($3)); }
  | column_name "(" value_expression opt_second opt_length ")"
      {
        $$ = Push(SQLParseBuildIndexing(Pop($1).release(), Pop($3).release(), Pop($4).release(),
                                        Pop($5).release()));
      }
  | TRIM "(" value_expression ")"
      { $$ = Make<SQLVTSCTrim>(@1, SQL_TRIM_BOTH, static_cast<SQLVTSCValueExpr *>(nullptr), Pop($3)); }
  | TRIM "(" value_expression FROM value_expression ")"
      { $$ = Make<SQLVTSCTrim>(@1, SQL_TRIM_BOTH, Pop($3), Pop($5)); }
  | TRIM "(" trim_spec opt_value_expression FROM value_expression ")"
      { $$ = Make<SQLVTSCTrim>(@1, static_cast<SQLTrimSpec>($3), Pop($4), Pop($6)); }
  | case_expression { $$ = $1; }
  | ENUM_DESCRIPTION "(" column_name opt_language ")"
      { $$ = Make<SQLVTSCEnumDescription>(@1, Pop($3), Pop($4)); }
  | TEXT_CONTENT "(" column_name opt_language ")"
      { $$ = Make<SQLVTSCTextContent>(P().constructLine, Pop($3), Pop($4)); }
  | date_function { $$ = $1; }
  | set_function_call { $$ = $1; }
  | column_name { $$ = $1; }
  | date_literal { $$ = $1; }
  | timestamp_literal { $$ = $1; }
  | signed_integer { $$ = $1; }
  | signed_real { $$ = $1; }
  | string_constant { $$ = $1; }
  | raw_constant { $$ = $1; }
  | empty_constant { $$ = $1; }
  | host_variable_ref { $$ = $1; }
  ;

opt_value_expression
  : %empty { $$ = nullptr; }
  | value_expression { $$ = $1; }
  ;

opt_second
  : %empty { $$ = nullptr; }
  | "," value_expression { $$ = $2; }
  ;

opt_length
  : %empty { $$ = nullptr; }
  | ";" value_expression { $$ = $2; }
  ;

opt_language
  : %empty { $$ = nullptr; }
  | "," string_constant { $$ = $2; }
  ;

cast_type
  : DATE { $$ = SQL_DATE; }
  | INTEGER { $$ = SQL_INTEGER; }
  | REAL { $$ = SQL_REAL; }
  | RAW { $$ = SQL_RAW; }
  | STRING { $$ = SQL_STRING; }
  | TIMESTAMP { $$ = SQL_TIMESTAMP; }
  ;

trim_spec
  : LEADING { $$ = SQL_TRIM_LEADING; }
  | TRAILING { $$ = SQL_TRIM_TRAILING; }
  | BOTH { $$ = SQL_TRIM_BOTH; }
  ;

case_expression
  : CASE value_expression when_list opt_else END
      {
        bool value = $4 != nullptr;
        for (bool more = $3->First(); more && !value; more = $3->Next()) {
          if ($3->GetCurrent()->GetThen() != nullptr) value = true;
        }
        if (!value) {
          Fail(syntaxstate::kInvalidCaseExpression,
               "At least one of the result expressions of a CASE expression must specify a value expression", @1);
        }
        $$ = Make<SQLVTSCSimpleCase>(P().constructLine, Pop($2), Pop($3), Pop($4));
      }
  | CASE searched_when_list opt_else END
      {
        Fail(syntaxstate::kInvalidCaseExpression, "The Searched case is not supported", @1);
      }
  ;

when_list
  : WHEN value_expression THEN case_result
      {
        $$ = Make<SQLVTSCSimpleWhenClauseList>(@1);
        AppendOwned($$, New<SQLVTSCSimpleWhenClause>(Pop($2), Pop($4)));
      }
  | when_list WHEN value_expression THEN case_result
      {
        $$ = $1;
        AppendOwned($$, New<SQLVTSCSimpleWhenClause>(Pop($3), Pop($5)));
      }
  ;

/* Always refused; its operands stay on the object stack until then. */
searched_when_list
  : WHEN search_condition THEN value_expression
  | searched_when_list WHEN search_condition THEN value_expression
  ;

case_result
  : value_expression { $$ = $1; }
  | NULL_ { $$ = nullptr; }
  ;

opt_else
  : %empty { $$ = nullptr; }
  | ELSE case_result { $$ = $2; }
  ;

date_function
  : CURRENT_DATE
      {
        auto *reference = Make<SQLVTSCParameterRef>(@1, P().treeData->GetOrCreateCurrentDateParameter());
        $$ = Make<SQLVTSCCast>(@1, Pop(reference), SQL_DATE);
      }
  | CURRENT_TIMESTAMP
      {
        auto *reference = Make<SQLVTSCParameterRef>(@1, P().treeData->GetOrCreateCurrentTimestampParameter());
        $$ = Make<SQLVTSCCast>(@1, Pop(reference), SQL_TIMESTAMP);
      }
  | DATE_NUM "(" ")"
      { $$ = Make<SQLVTSCParameterRef>(@1, P().treeData->GetOrCreateCurrentDateParameter()); }
  | DATE_TO_NUM "(" integer_constant "," integer_constant "," integer_constant ")"
      {
        long year = IntegerOf($3), month = IntegerOf($5), day = IntegerOf($7);
        int32_t number = date_to_num(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day));
        if (number < 0) {
          Fail(syntaxstate::kInvalidDate,
               "DATE.TO.NUM(" + Text(year) + "," + Text(month) + "," + Text(day) + ") does not represent a valid date",
               @1);
        }
        $$ = Make<SQLVTSCDateConst>(@1, static_cast<long>(number));
      }
  ;

set_function_call
  : COUNT "(" "*" ")" { CountSetFunction(false); $$ = Make<SQLVTSCSetFuncSpec>(@1, SQL_SETFUNC_COUNT); }
  | COUNT "(" value_expression ")" { $$ = SetFunction(SQL_SETFUNC_COUNT, $3, @1); }
  | AVG "(" value_expression ")" { $$ = SetFunction(SQL_SETFUNC_AVG, $3, @1); }
  | MAX "(" value_expression ")" { $$ = SetFunction(SQL_SETFUNC_MAX, $3, @1); }
  | MIN "(" value_expression ")" { $$ = SetFunction(SQL_SETFUNC_MIN, $3, @1); }
  | SUM "(" value_expression ")" { $$ = SetFunction(SQL_SETFUNC_SUM, $3, @1); }
  ;

/* ---- names and literals ---- */

column_name
  : qualified_name { $$ = Make<Id>(@1, Pop($1)); }
  | name { $$ = Make<Id>(@1, Pop($1)); }
  | name "." qualified_name { $$ = Make<Id>(@1, Pop($1), Pop($3)); }
  | name "." name { $$ = Make<Id>(@1, Pop($1), Pop($3)); }
  ;

table_identifier
  : name { $$ = $1; }
  ;

name
  : IDENTIFIER { $$ = Make<Id::String>(@1, static_cast<char const *>($1)); }
  | DELIMITED_IDENTIFIER { $$ = Make<Id::String>(@1, SQLUnquote($1), true); }
  ;

qualified_name
  : QUALIFIED_NAME { $$ = Make<Id::String>(@1, static_cast<char const *>($1)); }
  ;

company_column_ref
  : company_column { $$ = Make<Id>(@1, Pop($1)); }
  | QUALIFIED_COMPANY_COLUMN
      { $$ = Make<Id>(@1, std::make_unique<Id::String>(static_cast<char const *>($1))); }
  | name "." company_column { $$ = Make<Id>(@1, Pop($1), Pop($3)); }
  ;

company_column
  : COMPANY_COLUMN { $$ = Make<Id::String>(@1, static_cast<char const *>($1)); }
  | QUOTED_COMPANY_COLUMN { $$ = Make<Id::String>(@1, SQLUnquote($1), true); }
  ;

host_variable
  : HOST_VARIABLE { $$ = Make<Id>(@1, std::make_unique<Id::String>(static_cast<char const *>($1))); }
  ;

host_variable_ref
  : host_variable { $$ = Make<SQLVTSCParameterRef>(@1, HostParameter($1)); }
  ;

enum_constant
  : QUALIFIED_NAME
      {
        long value = 0;
        if (!SQLGetEnumValue($1, &value)) Fail(syntaxstate::kUnknownEnumValue, std::string("Unknown enum value '") + $1 + "'", @1);
        $$ = Make<SQLVTSCIntegerConst>(@1, value);
      }
  ;

empty_constant
  : EMPTY { $$ = Make<SQLVTSCIntegerConst>(@1, 0L); }
  ;

integer_constant
  : INTEGER_LITERAL { $$ = Make<SQLVTSCIntegerConst>(@1, ParseInteger($1, @1)); }
  ;

signed_integer
  : integer_constant { $$ = $1; }
  | "-" integer_constant { $$ = $2; $$->SetInteger(-$$->GetInteger()); $$->SetLineNumber(@1); }
  ;

signed_real
  : REAL_LITERAL { $$ = Make<SQLVTSCRealConst>(@1, ParseReal($1, @1)); }
  | "-" REAL_LITERAL { $$ = Make<SQLVTSCRealConst>(@1, -ParseReal($2, @1)); }
  ;

string_constant
  : STRING_LITERAL { $$ = StringConstant($1, @1); }
  ;

raw_constant
  : RAW_LITERAL { $$ = RawConstant($1, @1); }
  ;

date_literal
  : DATE STRING_LITERAL { $$ = Make<SQLVTSCDateConst>(@1, ParseDate($2, @1)); }
  ;

timestamp_literal
  : TIMESTAMP STRING_LITERAL { $$ = Make<SQLVTSCTimestampConst>(@1, ParseTimestamp($2, @1)); }
  ;

%%

int sql_yylex(SQL_YYSTYPE *value, int *line) {
  int token = sql_yylex();
  *line = sql_yyGetLineNumber();
  SQLParseState &s = P();
  ++s.tokens;
  s.token = token;
  s.wordBefore.swap(s.word);
  if (token == sqltoken::kIdentifier) {
    s.word.assign(::sql_yylval.text);
  } else {
    s.word.clear();
  }
  if (token == sqltoken::kComma || token == sqltoken::kWhere) s.setColumn.clear();
  switch (token) {
    case sqltoken::kSelect:
    case sqltoken::kCase:
    case sqltoken::kEnumDescription:
    case sqltoken::kTextContent:
      P().constructLine = *line;
      break;
    case sqltoken::kCompanyColumn:
    case sqltoken::kRawLiteral:
    case sqltoken::kHostVariable:
    case sqltoken::kIdentifier:
    case sqltoken::kQualifiedName:
    case sqltoken::kQuotedCompanyColumn:
    case sqltoken::kDelimitedIdentifier:
    case sqltoken::kStringLiteral:
    case sqltoken::kQualifiedCompanyColumn:
    case sqltoken::kIntegerLiteral:
    case sqltoken::kRealLiteral:
      value->text = P().KeepText(::sql_yylval.text);
      break;
    default:
      break;
  }
  return token;
}

SQLVTNode *SQLParse(const char *text, int parseMode, SQLVTreeData *treeData) {
  int const tables = treeData->GetTables().NrElements();
  try {
    SQLParseState state(parseMode, treeData);
    SQLParseSetMode(parseMode);
    sql_yySetLexBuffer(text);
    if (sql_yyparse() != 0 || state.root == nullptr) sql_yyerror("syntax error");
    return state.objects.Pop(state.root).release();
  } catch (...) {
    // The table nodes of the failed parse are gone: so are their entries.
    while (treeData->GetTables().NrElements() > tables) treeData->RemoveLastTable();
    throw;
  }
}
