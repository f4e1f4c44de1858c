// The state of the parse under way: the parse mode and the statement's tree
// data, the object stack, the subquery level with its set-function flags,
// the construct line, the hints clause being read, the token texts the
// grammar still needs and the parser's own stacks. SQLParse creates it for
// one parse; the grammar's actions and the statement builders reach it
// through SQLParseCurrent().
#pragma once

#include <array>
#include <string>
#include <vector>

#include "sql/front/parse_object_stack.h"

class SQLVTHints;
class SQLVTNode;
class SQLVTreeData;

class SQLParseState {
 public:
  // The deepest query level: the outermost query is level 1, so nine
  // subqueries may nest.
  static constexpr int kMaxSubqueryLevel = 10;
  // The parser's stacks start with this many entries and double up to
  // kMaxStackDepth; a parse that needs more fails.
  static constexpr int kInitialStackDepth = 200;
  static constexpr int kMaxStackDepth = 10000;
  // The deepest tree a statement may build: the levels of nested
  // expressions, conditions and queries (a chain of ANDs or ORs is one
  // level, however long; a chain of "+" or "&" is one level per operator).
  static constexpr int kMaxTreeDepth = 1000;
  // Index numbers of one USE INDEX hint.
  static constexpr int kMaxIndexNumbers = 4;

  // Makes this the current parse (one at a time).
  SQLParseState(int mode, SQLVTreeData *treeData);
  SQLParseState(SQLParseState const &) = delete;
  SQLParseState &operator=(SQLParseState const &) = delete;
  // Deletes what is left on the object stack and ends the current parse.
  ~SQLParseState();

  int mode;
  SQLVTreeData *treeData;
  SQLParseObjectStack objects;
  SQLVTNode *root = nullptr;  // the statement node, on the object stack

  // Tokens read so far, and the column whose SET value is being read (from
  // its "=" to the next "," or WHERE; empty outside): a syntax error there
  // says what a SET value may be.
  int tokens = 0;
  std::string setColumn;
  // The code of the token read last and the texts of the last two tokens
  // (each empty unless the token was an identifier): a syntax error names
  // the dialect's own forms for the words of other dialects (LIMIT, FOR
  // UPDATE at the end), also where such a word was taken for an alias.
  int token = 0;
  std::string word;        // the last token's text when it was an identifier
  std::string wordBefore;  // the same of the token before it

  int subqueryLevel = 1;
  // Per level: a set function, a set function other than COUNT.
  std::array<bool, kMaxSubqueryLevel + 2> setFunction{};
  std::array<bool, kMaxSubqueryLevel + 2> nonCountSetFunction{};
  int constructLine = 1;

  SQLVTHints *hints = nullptr;  // the HINT or SUBHINT record being read
  int indexCount = 0;
  long indexNumbers[kMaxIndexNumbers] = {};  // as written, checked when the table is known

  // Keeps a copy of a token's text until a few more tokens have been read.
  char *KeepText(char const *text);

  // Storage of the parser's stacks once they outgrow the initial arrays.
  std::array<std::vector<unsigned char>, 3> stacks;

 private:
  std::array<std::string, 4> texts_;  // the texts of the last text tokens
  size_t nextText_ = 0;
};

// The parse under way. REQUIRES: inside SQLParse.
SQLParseState &SQLParseCurrent();
