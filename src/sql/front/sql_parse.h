// SQLParse: the parse entry of the SQL front end.
#pragma once

class SQLVTNode;
class SQLVTreeData;

// Parses one statement text in the given parse mode (parse_mode.h) into a
// validated tree whose root the caller owns; the parser fills treeData as it
// goes. A text that does not parse throws SQLExSyntaxError.
SQLVTNode *SQLParse(const char *text, int parseMode, SQLVTreeData *treeData);
