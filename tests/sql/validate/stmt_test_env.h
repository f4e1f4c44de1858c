// What the statement-node tests share: statements parsed by the real
// parser over the fixture dictionary (exemp010: 12 columns, emp INTEGER,
// name STRING, salary REAL, scores an array of 3; exdep010: 5 columns),
// with each FROM clause replaced by a stand-in that exposes its tables to
// name resolution and produces given rows, then resolved and validated as
// the statement does.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sql/common/sql_exception.h"
#include "sql/exec/test_row_source.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vt_table.h"
#include "sql/validate/vtree_data.h"
#include "sql/validate/where_used.h"

namespace molvane::test {

// The FROM clause of a query as name resolution sees it: the tables side by
// side in one table scope level. Its row source produces the rows of
// Rows() (INTEGER and STRING columns; every other type is read as INTEGER).
class FakeFrom : public SQLVTNode {
 public:
  explicit FakeFrom(std::vector<SQLVTTable *> tables) : tables_(std::move(tables)) {}
  static std::vector<Row> &Rows();

  SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) override;
  SQLRowSource *DoCreateRS() override;
  SQLColumnDescriptor const *GetColumnDescriptor(int column) const override;
  int GetNumCols() const override;
  bool IsForUpdate() override;
  void Log() const override;
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *, int flags, List<char const *> *,
                                 SQLVTWhereUsedMgr *) override;
  void ValidateTypes() const override {}
  void ValidateArrayUsage() const override {}
  void SetIndexHintsOnTables(List<SQLVTIndexHint> *) override {}
  bool IsGroupByQuery() override { return false; }

 private:
  std::vector<SQLVTTable *> tables_;  // owned by the replaced FROM clause
};

// A statement that preparing must refuse: its SQLSTATE, message and line
// (-1: not checked).
struct ErrorCase {
  char const *name;
  char const *text;
  int mode;
  char const *state;
  char const *message;
  int line;
};

// The test name of a case.
inline std::string CaseName(testing::TestParamInfo<ErrorCase> const &info) { return info.param.name; }

class StmtTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Parses text and replaces every FROM clause; the tree belongs to the test.
  std::unique_ptr<SQLVTNode> Parse(std::string const &text, int mode = 0);
  // UNION (ALL) of two parsed queries (the parser's unions are built the
  // same way).
  std::unique_ptr<SQLVTNode> Union(std::string const &left, std::string const &right, bool all);
  // Name resolution as the statement runs it (flags 1, plus 16 in the ANSI
  // parse mode and 4 and 8 when asked).
  std::unique_ptr<SQLVTNode> Resolve(std::unique_ptr<SQLVTNode> root, int mode = 0, int extraFlags = 0);
  std::unique_ptr<SQLVTNode> Resolve(std::string const &text, int mode = 0, int extraFlags = 0) {
    return Resolve(Parse(text, mode), mode, extraFlags);
  }
  // Resolution, then Validate.
  std::unique_ptr<SQLVTNode> Prepare(std::string const &text, int mode = 0, int extraFlags = 0);
  // The normalised validated-tree trace of a node.
  static std::string Trace(SQLVTNode const *node);
  // The SQLException of f, which must throw one: state, text and, for a
  // syntax error, the line (-1: not checked).
  static void ExpectError(std::function<void()> const &f, char const *state, std::string const &message,
                          int line = -1);
  // The rows of a query's execution tree, each column as text.
  static std::vector<std::vector<std::string>> Run(SQLVTNode *root);

  std::unique_ptr<SQLVTreeData> treeData_;
  std::unique_ptr<SQLVTWhereUsedMgr> whereUsed_;  // null unless a test installs one

 private:
  SQLVTNode *ReplaceFrom(SQLVTNode *node);

  std::vector<std::unique_ptr<SQLVTNode>> replaced_;  // the parser's FROM clauses
};

}  // namespace molvane::test
