// The role-condition language: the row conditions that DB roles put on a
// table, read into a validated search condition over the table's columns.
//
//   condition  := cond
//   cond       := cond AND cond | cond OR cond | "(" cond ")" | value op value
//   op         := = | <> | != | < | > | <= | >=
//   value      := value (+ | - | &) value | value (* | / | \) value
//               | "(" value ")" | column | [-] integer | [-] real | string
//
// AND binds tighter than OR, the multiplicative operators tighter than the
// additive ones, and every operator is left-associative. A minus sign is
// allowed only directly before a numeric literal.
//
// The scanner (sql_scyylex) and the LALR(1) parser (sql_scyyparse) keep their
// state in process-wide variables: one condition is read at a time, on the
// caller's thread.
#pragma once

#include "sql/roles/role_cond_tokens.h"

class SQLSCTable;
class SQLVTSCSearchCond;

// Errors of the language: all SQLException with native error 217.
namespace scstate {
inline constexpr char kSyntaxError[] = "QR000";      // unexpected token or end
inline constexpr char kLiteralRange[] = "QR001";     // integer or real out of range
inline constexpr char kUnknownColumn[] = "QR002";    // no such column in the table
inline constexpr char kValidationError[] = "QR003";  // types or arrays (raised by the roles manager)
inline constexpr int kNativeError = 217;
}  // namespace scstate

// Reads `text` as a condition over the columns of `table`. Returns the root
// of the new condition (owned by the caller), or null when the parser gave
// up without an exception. Every error of the language is thrown as an
// SQLException (QR000 to QR002); out of memory as std::bad_alloc. Whatever
// the outcome, no node built on the way survives a failure, and the scanner
// is ready for the next text.
SQLVTSCSearchCond *SQLParseSC(char const *text, SQLSCTable const *table);

// ---- The generated parser and scanner and their hooks ----

// 0 on success, 1 when the parse was aborted (also when the parse stack
// would grow beyond 10,000 entries; the syntax-error routine throws first).
int sql_scyyparse();
// The next token code, 0 at the end of the text. Tokens that carry text set
// sql_scyylval.text. Throws std::bad_alloc when the scan buffer cannot be had.
int sql_scyylex();
// The parser's syntax-error routine: throws QR000 with the current token's
// text ("Unexpected token '...'"), or "Unexpected end of condition" at the end
// of the text. The parser's own message is not used.
[[noreturn]] void sql_scyyerror(char const *message);
// Makes `text` (NUL-terminated) the source of the following scans, from its
// first byte, at line 1; drops anything the scanner still holds of an
// earlier text. The caller keeps the text alive while it is scanned.
void sql_scyySetLexBuffer(char const *text);
// The text of the last token scanned; empty at the end of the text and
// before the first token.
char const *sql_scyyGetToken();
// The line of the scanner's position: 1 plus the newlines consumed.
int sql_scyyGetLineNumber();
// One text per scan: always 1.
extern "C" int sql_scyywrap(void);
// Frees the scanner's buffers (at process exit).
int sql_scyylex_destroy(void);

extern SQLSCYYSType sql_scyylval;
