// The parse mode: the bit word a statement hands to the parser, held for the
// parse under way. The parse entry sets it before the first token is scanned;
// the scanner and the grammar's actions read it.
#pragma once

namespace parsemode {

// Passed as the flag of SQLVTMultiJoin::AddTableReference for every FROM reference.
inline constexpr int kTableReferenceFlag = 0x01;
// A query specification may omit FROM; the tables it names are added.
inline constexpr int kFromOptional = 0x02;
// The root of a SELECT statement is wrapped in SQLVTClearUnref.
inline constexpr int kClearUnref = 0x04;
// ANSI mode: "company_nr", "||", "--" comments and delimited identifiers.
inline constexpr int kAnsi = 0x10;
// Select options of name resolution.
inline constexpr int kNameResolution = 0x20;
// Also a name-resolution option; besides, an identifier with a quoted array
// index in the select list becomes a value expression.
inline constexpr int kQuotedIndexIsValue = 0x40;

}  // namespace parsemode

// Makes `mode` the parse mode of the following scans and parse actions.
void SQLParseSetMode(int mode);
// The current parse mode word (0 before any parse).
int SQLParseGetMode();
// Non-zero when the current parse mode has the ANSI bit (0x10).
int inAnsiMode();
