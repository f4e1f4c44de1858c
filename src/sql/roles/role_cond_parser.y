/* The grammar of the role-condition language (role_cond_parse.h).
 *
 * Every action hands its operands to a builder of role_cond_build.h, which
 * keeps each new node in the live-object lists of the parse until a parent
 * takes it over; a failed parse deletes what the lists still hold. Errors
 * are thrown (sql_scyyerror and the builders), so the parser never enters
 * error recovery.
 *
 * Token texts point into the scan buffer and stay valid only until the next
 * token is scanned. Every rule that reads one is the only rule of its state
 * (value: IDENTIFIER, INTEGER, ...), so the parser reduces it by default,
 * before it asks for a look-ahead token.
 */

%define api.prefix {sql_scyy}
/* The grammar is LALR(1) without conflicts; bison refuses it otherwise. */
%expect 0
%define api.value.type {union SQLSCYYSType}

%code requires {
#include "sql/roles/role_cond_tokens.h"
}

%code {
#include "sql/roles/role_cond_build.h"
#include "sql/roles/role_cond_parse.h"

// The parse stack starts with 200 entries and doubles up to 10,000; a
// condition that needs more fails like a syntax error. It grows in storage
// the parse owns (mal_sys_malloc), so that an exception thrown through the
// parser leaves nothing behind and memory that runs out is std::bad_alloc.
#define YYINITDEPTH 200
#define YYMAXDEPTH 10000
#define yyoverflow(Message, Ss, SsBytes, Vs, VsBytes, Size) \
  do { if (!SQLSCGrowStacks((Ss), (Vs), (Size))) YYNOMEM; } while (0)

namespace {

// False when the stacks are at their limit.
template <class S, class V, class N>
bool SQLSCGrowStacks(S **states, V **values, N *size) {
  if (*size >= YYMAXDEPTH) return false;
  const N next = *size * 2 < YYMAXDEPTH ? *size * 2 : YYMAXDEPTH;
  SQLSCParse &parse = SQLSCParse::Current();
  const auto count = static_cast<std::size_t>(*size);
  const auto bigger = static_cast<std::size_t>(next);
  *states = static_cast<S *>(parse.GrowStack(0, *states, sizeof(S) * count, sizeof(S) * bigger));
  *values = static_cast<V *>(parse.GrowStack(1, *values, sizeof(V) * count, sizeof(V) * bigger));
  *size = next;
  return true;
}

}  // namespace
}

%token AND 258 "and"
%token OR 259 "or"
%token <text> IDENTIFIER 260 "identifier"
%token <text> STRING 261 "string"
%token <text> INTEGER 262 "integer"
%token <text> REAL 263 "real"
%token EQUAL 264 "="
%token NOT_EQUAL 265 "<>"
%token LESS 266 "<"
%token GREATER 267 ">"
%token LESS_EQUAL 268 "<="
%token GREATER_EQUAL 269 ">="
%token PLUS 270 "+"
%token MINUS 271 "-"
%token ASTERISK 272 "*"
%token SLASH 273 "/"
%token BACKSLASH 274 "\\"
%token AMPERSAND 275 "&"
%token LEFT_PAREN 276 "("
%token RIGHT_PAREN 277 ")"

%left OR
%left AND
%left PLUS MINUS AMPERSAND
%left ASTERISK SLASH BACKSLASH

%type <cond> search_condition comparison
%type <value> value
%type <op> comp_op

%%

condition
    : search_condition                        { SQLSCBuildRoot($1); }
    ;

search_condition
    : search_condition AND search_condition   { $$ = SQLSCBuildAnd($1, $3); }
    | search_condition OR search_condition    { $$ = SQLSCBuildOr($1, $3); }
    | LEFT_PAREN search_condition RIGHT_PAREN { $$ = $2; }
    | comparison                              { $$ = $1; }
    ;

comparison
    : value comp_op value                     { $$ = SQLSCBuildComparison($1, $2, $3); }
    ;

comp_op
    : EQUAL                                   { $$ = 0; }
    | NOT_EQUAL                               { $$ = 1; }
    | LESS                                    { $$ = 2; }
    | GREATER                                 { $$ = 3; }
    | LESS_EQUAL                              { $$ = 4; }
    | GREATER_EQUAL                           { $$ = 5; }
    ;

value
    : value PLUS value                        { $$ = SQLSCBuildArith('+', $1, $3); }
    | value MINUS value                       { $$ = SQLSCBuildArith('-', $1, $3); }
    | value AMPERSAND value                   { $$ = SQLSCBuildArith('&', $1, $3); }
    | value ASTERISK value                    { $$ = SQLSCBuildArith('*', $1, $3); }
    | value SLASH value                       { $$ = SQLSCBuildArith('/', $1, $3); }
    | value BACKSLASH value                   { $$ = SQLSCBuildArith('\\', $1, $3); }
    | LEFT_PAREN value RIGHT_PAREN            { $$ = $2; }
    | IDENTIFIER                              { $$ = SQLSCBuildColumn($1); }
    | INTEGER                                 { $$ = SQLSCBuildInteger($1, false); }
    | MINUS INTEGER                           { $$ = SQLSCBuildInteger($2, true); }
    | REAL                                    { $$ = SQLSCBuildReal($1, false); }
    | MINUS REAL                              { $$ = SQLSCBuildReal($2, true); }
    | STRING                                  { $$ = SQLSCBuildString($1); }
    ;

%%
