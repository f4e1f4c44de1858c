// A derived table of the FROM clause resolves its subquery with the flags
// and restricted qualifiers meant for it and is seen under its correlation
// name; the subquery here is a stand-in that records what it was given.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "from_clause_env.h"
#include "sql/common/sql_exception.h"
#include "sql/validate/pt_table_ref.h"
#include "sql/validate/vt_derived_scope.h"
#include "sql/validate/vt_join.h"
#include "sql/validate/vt_table.h"
#include "sql/validate/vtsc_compnr.h"
#include "sql/validate/vtsc_identifier.h"

namespace molvane::test {
namespace {

// A subquery that leaves the level of one base table and records the flags
// and qualifiers of its resolution.
class StandInQuery : public SQLVTNode {
 public:
  explicit StandInQuery(SQLVTTable *table) : table_(table) {}
  SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) override { return nullptr; }
  SQLRowSource *DoCreateRS() override { return nullptr; }
  SQLColumnDescriptor const *GetColumnDescriptor(int id) const override { return table_->GetColumnDescriptor(id); }
  int GetNumCols() const override { return table_->GetNumCols(); }
  bool IsForUpdate() override { return false; }
  void Log() const override {}
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *treeData, int flags, List<char const *> *qualifiers,
                                 SQLVTWhereUsedMgr *whereUsed) override {
    flags_ = flags;
    for (bool more = qualifiers != nullptr && qualifiers->First(); more; more = qualifiers->Next())
      qualifiers_.push_back(qualifiers->GetCurrent() ? qualifiers->GetCurrent() : "(null)");
    table_->MapColumnNamesToIds(scope, treeData, flags, nullptr, whereUsed);
    return this;
  }
  void ValidateTypes() const override {}
  void ValidateArrayUsage() const override {}
  void SetIndexHintsOnTables(List<SQLVTIndexHint> *) override {}

  int flags_ = -1;
  std::vector<std::string> qualifiers_;

 private:
  std::unique_ptr<SQLVTTable> table_;
};

char *Copy(char const *text) {
  char *out = new char[std::strlen(text) + 1];
  std::strcpy(out, text);
  return out;
}

class DerivedTable : public FromClauseTest {};

TEST_F(DerivedTable, ResolvesItsQueryWithItsOwnFlagsAndQualifiers) {
  auto *query = new StandInQuery(new SQLVTTable(Copy("exdep010"), nullptr, false));
  SQLPTTable derived(query, Copy("x"));
  List<char const *> restricted;
  for (char const *q : {"x", "y"}) restricted.Append(q);
  restricted.Append(nullptr);
  SQLVTScope scope;
  std::unique_ptr<SQLVTNode> node(derived.MapColumnNamesToIds(&scope, treeData_.get(), 1 | 8 | 16 | 64, &restricted, nullptr));
  EXPECT_EQ(node.get(), query);
  // Only bits 8 and 16 go in; the restrictions on x or unqualified ones
  // arrive unqualified.
  EXPECT_EQ(query->flags_, 8 | 16);
  EXPECT_EQ(query->qualifiers_, (std::vector<std::string>{"(null)", "(null)"}));
  auto *level = dynamic_cast<SQLVTDerivedTableScopeLevel *>(scope.Pop());
  ASSERT_NE(level, nullptr);
  EXPECT_STREQ(level->GetCorrelationName(), "x");
  delete level;
}

TEST_F(DerivedTable, AJoinOfTwoSidesSeesBothUnderOneLevel) {
  auto *left = new SQLPTTable(new SQLVTTable(Copy("exemp010"), Copy("e"), false), false);
  auto *query = new StandInQuery(new SQLVTTable(Copy("exdep010"), nullptr, false));
  SQLPTJoin join(SQL_JOIN_INNER, left, new SQLPTTable(query, Copy("x")), nullptr);
  SQLVTScope scope;
  std::unique_ptr<SQLVTNode> node(join.MapColumnNamesToIds(&scope, treeData_.get(), 1, nullptr, nullptr));
  auto *vtJoin = dynamic_cast<SQLVTJoin *>(node.get());
  ASSERT_NE(vtJoin, nullptr);
  EXPECT_EQ(vtJoin->GetRight(), query);
  EXPECT_EQ(vtJoin->GetCondition(), nullptr);
  EXPECT_EQ(scope.GetNumLevels(), 1);
  EXPECT_EQ(scope.GetNumTables(), 2);
  EXPECT_EQ(scope.GetNumCols(), 12 + 5);
}

TEST_F(DerivedTable, ACompnrJoinInAFullOuterJoinIsRefused) {
  auto side = [](char const *table, char const *name) {
    return new SQLPTTable(new StandInQuery(new SQLVTTable(Copy(table), nullptr, false)), Copy(name));
  };
  auto *restriction = new SQLVTSCCompnrSpec(new SQLVTSCIdentifier(new SQLVTSCIdentifier::String("x.company_nr")),
                                            new SQLVTSCIdentifier(new SQLVTSCIdentifier::String("y.company_nr")));
  SQLPTJoin join(SQL_JOIN_FULL, side("exemp010", "x"), side("exdep010", "y"), restriction);
  SQLVTScope scope;
  try {
    std::unique_ptr<SQLVTNode> node(join.MapColumnNamesToIds(&scope, treeData_.get(), 1 | 16, nullptr, nullptr));
    ADD_FAILURE() << "no error";
  } catch (SQLExSyntaxError const &e) {
    EXPECT_STREQ(e.GetSQLState(), "42I89");
    EXPECT_STREQ(e.GetMessageText()->GetString(), "_compnr join predicate used in a FULL OUTER join");
  }
}

}  // namespace
}  // namespace molvane::test
