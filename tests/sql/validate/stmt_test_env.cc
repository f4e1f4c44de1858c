#include "stmt_test_env.h"

#include <cstdlib>

#include "dbc/dict/dd.h"
#include "sql/common/sql_logger.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/front/parse_mode.h"
#include "sql/front/sql_parse.h"
#include "sql/validate/pt_table_ref.h"
#include "sql/validate/vt_multi_join.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vt_table_scope.h"
#include "sql/validate/vt_unary_node.h"
#include "sql/validate/vt_union.h"
#include "support/test_env.h"
#include "support/vt_trace.h"

namespace molvane::test {

std::vector<Row> &FakeFrom::Rows() {
  static std::vector<Row> rows;
  return rows;
}

SQLVTRetryFilter *FakeFrom::BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) {
  ADD_FAILURE() << "BuildRetryFilter on a FROM clause";
  return nullptr;
}

SQLRowSource *FakeFrom::DoCreateRS() {
  std::vector<SQLType> types;
  for (int i = 0; i < GetNumCols(); ++i) {
    SQLType t = GetColumnDescriptor(i)->GetType();
    types.push_back(t == SQL_STRING ? SQL_STRING : SQL_INTEGER);
  }
  return new VectorRowSource(types, Rows());
}

SQLColumnDescriptor const *FakeFrom::GetColumnDescriptor(int column) const {
  for (SQLVTTable *t : tables_) {
    if (column < t->GetNumCols()) return t->GetColumnDescriptor(column);
    column -= t->GetNumCols();
  }
  return nullptr;
}

int FakeFrom::GetNumCols() const {
  int n = 0;
  for (SQLVTTable *t : tables_) n += t->GetNumCols();
  return n;
}

bool FakeFrom::IsForUpdate() {
  for (SQLVTTable *t : tables_) {
    if (t->IsForUpdate()) return true;
  }
  return false;
}

void FakeFrom::Log() const {
  SQLLogger &log = *SQLLogger::Instance();
  log << "From(";
  for (size_t i = 0; i < tables_.size(); ++i) log << (i ? ", " : "") << tables_[i]->GetCorrelationName();
  log << ")" << endl;
}

SQLVTNode *FakeFrom::MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *, int flags, List<char const *> *,
                                         SQLVTWhereUsedMgr *) {
  auto level = std::make_unique<SQLVTTableScopeLevel>((flags & 16) == 0);
  int offset = 0;
  for (SQLVTTable *t : tables_) {
    level->AppendExposedTable(SQLVTExposedTable(t, offset, SQL_NULLSPEC_NONE, {}));
    offset += t->GetNumCols();
  }
  scope->Push(level.release());
  return this;
}

void StmtTest::SetUp() {
  static ScratchDir zuv;
  setenv("ZUV", zuv.path().c_str(), 1);
  setenv("F_ZRDD", FixturePath("zuv/dict").c_str(), 1);
  setenv("TZ", "UTC", 1);
  init_local_dd();
  treeData_ = std::make_unique<SQLVTreeData>();
  FakeFrom::Rows().clear();
}

void StmtTest::TearDown() { SQLLogger::Instance()->SetLogFlags(0); }

SQLVTNode *StmtTest::ReplaceFrom(SQLVTNode *node) {
  if (auto *join = dynamic_cast<SQLVTMultiJoin *>(node)) {
    std::vector<SQLVTTable *> tables;
    for (join->IterStartExposed(); !join->IterAtEnd(); join->IterToNext()) {
      tables.push_back(join->IterGetTable()->GetTable());
    }
    replaced_.emplace_back(join);
    return new FakeFrom(tables);
  }
  if (auto *unary = dynamic_cast<SQLVTUnaryNode *>(node)) {
    SQLVTNode *child = unary->ExtractChild();
    unary->ReplaceChild(ReplaceFrom(child));
  }
  return node;
}

std::unique_ptr<SQLVTNode> StmtTest::Parse(std::string const &text, int mode) {
  return std::unique_ptr<SQLVTNode>(ReplaceFrom(SQLParse(text.c_str(), mode, treeData_.get())));
}

std::unique_ptr<SQLVTNode> StmtTest::Union(std::string const &left, std::string const &right, bool all) {
  auto l = Parse(left);
  auto r = Parse(right);
  auto *node = new SQLVTUnion(l.get(), r.get(), all);
  static_cast<void>(l.release());
  static_cast<void>(r.release());
  node->SetLineNumber(1);
  return std::unique_ptr<SQLVTNode>(node);
}

std::unique_ptr<SQLVTNode> StmtTest::Resolve(std::unique_ptr<SQLVTNode> root, int mode, int extraFlags) {
  int flags = 1 | extraFlags | ((mode & parsemode::kAnsi) ? 16 : 0);
  SQLVTScope scope;
  SQLVTNode *resolved = root->MapColumnNamesToIds(&scope, treeData_.get(), flags, nullptr, whereUsed_.get());
  if (resolved != root.get()) {
    static_cast<void>(root.release());
    root.reset(resolved);
  }
  return root;
}

std::unique_ptr<SQLVTNode> StmtTest::Prepare(std::string const &text, int mode, int extraFlags) {
  auto root = Resolve(text, mode, extraFlags);
  root->Validate();
  return root;
}

std::string StmtTest::Trace(SQLVTNode const *node) { return TraceOf(node); }

void StmtTest::ExpectError(std::function<void()> const &f, char const *state, std::string const &message,
                           int line) {
  try {
    f();
    ADD_FAILURE() << "no error, expected " << state << " " << message;
  } catch (SQLExSyntaxError const &e) {
    EXPECT_STREQ(e.GetSQLState(), state);
    EXPECT_EQ(std::string(e.GetMessageText()->GetString()), message);
    if (line >= 0) {
      EXPECT_EQ(e.GetLineNumber(), line);
    }
  } catch (SQLException const &e) {
    EXPECT_STREQ(e.GetSQLState(), state);
    EXPECT_EQ(std::string(e.GetMessageText()->GetString()), message);
  }
}

std::vector<std::vector<std::string>> StmtTest::Run(SQLVTNode *root) {
  std::unique_ptr<SQLRowSource> rs(root->CreateRS());
  SQLRSPrepareContext context;
  rs->Prepare(&context);
  rs->Exec();
  std::vector<std::vector<std::string>> rows;
  while (rs->Fetch() == 1) {
    std::vector<std::string> row;
    for (int i = 0; i < rs->GetNumCols(); ++i) {
      SQLValueStore const *v = rs->GetValueStoreAddr(i);
      if (v->IsNull()) {
        row.push_back("NULL");
      } else if (v->GetType() == SQL_STRING) {
        row.push_back(v->GetString());
      } else {
        row.push_back(std::to_string(v->GetInteger()));
      }
    }
    rows.push_back(row);
  }
  rs->Close();
  return rows;
}

}  // namespace molvane::test
