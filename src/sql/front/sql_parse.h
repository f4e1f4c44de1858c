// The parse entry of the SQL front end: statement text in, the root of the
// validated tree (not yet name-resolved) out.
#pragma once

#include <string>

class SQLVTNode;
class SQLVTreeData;

// Parses one statement (TSS text, NUL-terminated) in the given parse mode
// (bits of parse_mode.h) into a tree whose root the caller owns, filling the
// statement's tree data. Every syntax and front-end error throws
// SQLExSyntaxError (SQLSTATE, message, line); an error of a node's
// constructor passes through unchanged. A failed parse leaves no object of
// its own alive. Not reentrant: one parse at a time.
SQLVTNode *SQLParse(const char *text, int parseMode, SQLVTreeData *treeData);

// The parser's error routine (sql_syntax_error.cc); message is not used.
// Throws 42I00 "Unexpected token '<token>'" when a token is at hand, else
// 42I46 "Unexpected end of statement", at the scanner's line; the text goes
// on with what to write instead for a statement left to the record API, a
// SET value that computes, the words of other dialects that limit or skip
// rows, a FOR UPDATE after the query and a closing ';'.
[[noreturn]] void sql_yyerror(const char *message);
// For a token at hand that is, or follows, a word of other dialects that
// limits or skips rows (LIMIT, TOP, FETCH FIRST, OFFSET), the text of the
// syntax error that says what this dialect offers instead; "" for any other.
std::string SQLOtherDialectRowsForm(char const *token);
