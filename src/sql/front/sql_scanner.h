// The SQL scanner: cuts one statement text into the parser's tokens
// (sql_tokens.h), in classic or ANSI mode (inAnsiMode, parse_mode.h).
//
// All scanner state is process-wide: one statement is scanned at a time, on
// the caller's thread.
#pragma once

#include <memory>

#include "sql/front/sql_tokens.h"

namespace sql_scanner {
// The one scan buffer: a token and its look-ahead must fit into it.
inline constexpr int kBufferSize = 16384;
// The most bytes of the statement copied into the buffer by one refill.
inline constexpr int kReadSize = 8192;
}  // namespace sql_scanner

// Makes `text` (NUL-terminated, TSS) the source of the following scans: drops
// any look-ahead of an earlier text, and sets the line number to 1. The caller
// keeps the text alive until the parse ends.
void sql_yySetLexBuffer(char const *text);

// The next token code (sqltoken::kEnd at the end of the text, a byte value 1
// to 255 for a byte that starts no token). Sets sql_yytext and sql_yyleng to
// the token text and, for a token that carries its text, sql_yylval.text.
// Throws SQLExSyntaxError ("42I00") for a token too long for the scan buffer
// and std::bad_alloc when the buffer cannot be allocated.
int sql_yylex();

// The text of the last token scanned; empty at the end of the text (and
// before the first token).
char const *sql_yyGetToken();

// The line of the scanner's position: 1 plus the newlines consumed so far.
int sql_yyGetLineNumber();

// One text per parse: always 1.
extern "C" int sql_yywrap(void);

// The token text, NUL-terminated in place in the scan buffer and valid until
// the next token is scanned; whoever keeps it copies it.
extern char *sql_yytext;
extern int sql_yyleng;
// The parser's value of the last token.
extern SQLYYSType sql_yylval;

// Removes the quotes of a quoted token (string literal, delimited identifier,
// quoted company column): the first byte is the quote character, the last the
// closing quote; a doubled quote inside stands for one, and a TSS 4-byte
// character (0x9B and three bytes) is copied whole. The result is
// NUL-terminated and owned by the caller.
std::unique_ptr<char[]> SQLUnquote(char const *token);
