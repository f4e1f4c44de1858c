// Set functions, scalar subqueries, simple CASE, enum_description and
// text_content of the validated tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbc/dict/dd.h"
#include "platform/user.h"
#include "sql/common/column_descriptor.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vtsc_case.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_enum_text.h"
#include "sql/validate/vtsc_identifier.h"
#include "sql/validate/vtsc_set_func.h"
#include "sql/validate/vtsc_subquery.h"
#include "sql/validate/where_used.h"
#include "support/test_env.h"

namespace {

using Id = SQLVTSCIdentifier;
using Expr = std::unique_ptr<SQLVTSCValueExpr>;

void ExpectError(std::function<void()> const &f, char const *state, std::string const &message) {
  try {
    f();
    ADD_FAILURE() << "no error, expected: " << message;
  } catch (SQLExSyntaxError const &e) {
    EXPECT_STREQ(e.GetSQLState(), state);
    EXPECT_EQ(std::string(e.GetMessageText()->GetString()), message);
  }
}

Id *Name(char const *text) { return new Id(new Id::String(text)); }
SQLVTSCIntegerConst *Int(long v) { return new SQLVTSCIntegerConst(v); }
SQLVTSCStringConst *Str(char const *s) {
  return new SQLVTSCStringConst(reinterpret_cast<unsigned char const *>(s), static_cast<long>(std::strlen(s)),
                                SQLVTSCStringConst::AsIs);
}

// One level over columns of the dictionary table exemp010 ("status" is an
// enumeration, "emp" a number); "calc" has no base table and "combo" is
// combined. Aggregates are reported at position 7 and recorded.
class Level : public SQLVTScopeLevel {
 public:
  Level() : columns_{{"status", SQL_INTEGER, 4, 1}, {"emp", SQL_INTEGER, 4, 1}, {"calc", SQL_STRING, 4, 1}} {}
  bool GetGroupedTableColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override {
    return GetColumnInfo(q, name, info);
  }
  void GetAggregateInfo(RefPtr<SQLVTSCValueExpr> argument, SQLSetFuncSpec function, SQLVTColumnInfo *info) override {
    aggregates.push_back(function);
    lastArgument = argument;
    info->position = 7;
    info->descriptor = &columns_[1];
  }
  SQLColumnDescriptor const *GetColumnDescriptor(int position) override { return &columns_[position]; }
  bool GetColumnInfo(char const *, char const *name, SQLVTColumnInfo *info) override {
    if (std::strcmp(name, "combo") == 0) {
      info->kind = SQLVTColumnInfo::PseudoColumn;
      info->count = 2;
      info->positions = combo_;
      info->pseudoColumnName = "combo";
      info->baseTableName = "exemp010";
      return true;
    }
    for (size_t i = 0; i < columns_.size(); ++i) {
      if (std::strcmp(columns_[i].GetName(), name) != 0) continue;
      info->kind = SQLVTColumnInfo::Column;
      info->position = static_cast<int>(i);
      info->descriptor = &columns_[i];
      if (i < 2) {
        info->baseTableName = "exemp010";
        info->baseColumnName = columns_[i].GetName();
      }
      return true;
    }
    return false;
  }
  void GetColumnInfoByPos(int, SQLVTColumnInfo *) override {}
  void GetColumnNullSpec(int, SQLVTNullSpec *, RefPtr<SQLVTClearUnrefKey> *) override {}
  int GetNumCols() override { return static_cast<int>(columns_.size()); }
  int GetNumTables() override { return 1; }
  bool GetPseudoColumnInfo(char const *, char const *, SQLVTColumnInfo *) override { return false; }
  bool GetTableInfo(char const *, SQLVTTableInfo *) override { return false; }
  void GetTableInfoByPos(int, SQLVTTableInfo *) override {}

  std::vector<SQLSetFuncSpec> aggregates;
  RefPtr<SQLVTSCValueExpr> lastArgument;

 private:
  std::vector<SQLColumnDescriptor> columns_;
  int combo_[2] = {0, 1};
};

// A query of the given column types that pushes one scope level when
// resolved, as a real query specification does.
class Query : public SQLVTNode {
 public:
  explicit Query(std::vector<SQLColumnDescriptor> columns) : columns_(std::move(columns)) { SetLineNumber(4); }
  SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) override { return nullptr; }
  SQLRowSource *DoCreateRS() override { return nullptr; }
  SQLColumnDescriptor const *GetColumnDescriptor(int id) const override { return &columns_[id]; }
  int GetNumCols() const override { return static_cast<int>(columns_.size()); }
  bool IsForUpdate() override { return false; }
  void Log() const override {}
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *scope, SQLVTreeData *, int flags, List<char const *> *,
                                 SQLVTWhereUsedMgr *) override {
    mappedFlags = flags;
    scope->Push(new Level);
    return this;
  }
  void ValidateTypes() const override {}
  void ValidateArrayUsage() const override {}
  void SetIndexHintsOnTables(List<SQLVTIndexHint> *) override {}

  int mappedFlags = -1;

 private:
  std::vector<SQLColumnDescriptor> columns_;
};

std::vector<std::string> registered;
void Record(char const *name, int kind) { registered.push_back(std::to_string(kind) + ":" + name); }

class Compound : public testing::Test {
 protected:
  void SetUp() override {
    static molvane::test::ScratchDir zuv;
    setenv("ZUV", zuv.path().c_str(), 1);
    setenv("F_ZRDD", molvane::test::FixturePath("zuv/dict").c_str(), 1);
    init_local_dd();
    registered.clear();
    level_ = new Level;
    scope_.Push(level_);
  }
  // Resolves node, which is owned by the guard until it replaces itself.
  Expr Map(SQLVTSCValueExpr *node, int flags = 0) {
    Expr guard(node);
    SQLVTSCValueExpr *result = node->MapColumnNamesToIds(&scope_, nullptr, flags, &whereUsed_, false);
    if (result != node) guard.release();
    return Expr(result == node ? guard.release() : result);
  }

  SQLVTScope scope_;
  Level *level_ = nullptr;
  SQLVTWhereUsedMgr whereUsed_{Record};
};

TEST_F(Compound, SetFunctionsBecomeGroupColumnReferences) {
  auto count = Map(new SQLVTSCSetFuncSpec(SQL_SETFUNC_COUNT));
  ASSERT_TRUE(count->IsColumnRef());
  EXPECT_EQ(static_cast<SQLVTSCColumnRef *>(count.get())->GetColumnId(), 7);
  EXPECT_TRUE(level_->lastArgument.IsNull());

  auto sum = Map(new SQLVTSCSetFuncSpec(SQL_SETFUNC_SUM, Name("emp")));
  ASSERT_TRUE(sum->IsColumnRef());
  ASSERT_TRUE(level_->lastArgument);
  EXPECT_TRUE(level_->lastArgument->IsColumnRef());  // the resolved argument is handed over
  EXPECT_EQ(level_->aggregates, (std::vector<SQLSetFuncSpec>{SQL_SETFUNC_COUNT, SQL_SETFUNC_SUM}));

  SQLVTSCSetFuncSpec named(SQL_SETFUNC_MIN, Name("emp"));
  ASSERT_NE(named.GetColumnName(), nullptr);
  EXPECT_STREQ(named.GetColumnName()->GetText(), "emp");
  EXPECT_EQ(SQLVTSCSetFuncSpec(SQL_SETFUNC_MIN, Int(1)).GetColumnName(), nullptr);

  // SUM(x) inside COUNT(...), and a subquery inside an argument
  ExpectError([&] { Map(new SQLVTSCSetFuncSpec(SQL_SETFUNC_COUNT, new SQLVTSCSetFuncSpec(SQL_SETFUNC_SUM, Name("emp")))); },
              "42I90", "Set function specification used in set function specification");
  ExpectError([&] { Map(new SQLVTSCSetFuncSpec(SQL_SETFUNC_MAX, new SQLVTSCScalarSubquery(new Query({{"a", SQL_INTEGER, 4, 1}})))); },
              "42I90", "Subquery used in set function specification");
}

TEST_F(Compound, ScalarSubqueries) {
  auto *query = new Query({{"a", SQL_INTEGER, 4, 1}});
  auto sub = Map(new SQLVTSCScalarSubquery(query), 1 | 8 | 16 | 64);
  EXPECT_EQ(query->mappedFlags, 8 | 16);
  EXPECT_EQ(scope_.GetNumLevels(), 1);  // the subquery's level is gone
  EXPECT_EQ(sub->GetPossibleTypeSet().GetMask(), static_cast<unsigned>(SQL_INTEGER));
  EXPECT_EQ(sub->Cast(SQL_REAL, false), sub.get());  // INTEGER where REAL is asked
  EXPECT_EQ(sub->Cast(SQL_INTEGER, false), sub.get());
  ExpectError([&] { sub->Cast(SQL_STRING, true); }, "42T19", "Invalid type STRING for scalar subquery");

  ExpectError([&] { Map(new SQLVTSCScalarSubquery(new Query({{"a", SQL_INTEGER, 4, 1}, {"b", SQL_STRING, 4, 1}}))); },
              "42I25", "SELECT clause of scalar subquery contains more than 1 item");
}

SQLVTSCSimpleWhenClauseList *Clauses(std::vector<std::pair<SQLVTSCValueExpr *, SQLVTSCValueExpr *>> items) {
  auto *list = new SQLVTSCSimpleWhenClauseList;
  for (auto &[when, then] : items) list->Append(new SQLVTSCSimpleWhenClause(when, then));
  return list;
}

TEST_F(Compound, SimpleCaseTypes) {
  // CASE x WHEN 1 THEN 'a' WHEN 2 THEN 3 END
  auto mixed = Map(new SQLVTSCSimpleCase(Name("emp"), Clauses({{Int(1), Str("a")}, {Int(2), Int(3)}}), nullptr));
  ExpectError([&] { mixed->GetPossibleTypeSet(); }, "42T27", "Type conflict on result expressions of CASE expression");

  auto numbers = Map(new SQLVTSCSimpleCase(Name("emp"), Clauses({{Int(1), Int(5)}, {Int(2), nullptr}}),
                                           new SQLVTSCRealConst(1.5)));
  EXPECT_TRUE(numbers->GetPossibleTypeSet().Contains(SQL_REAL));
  numbers->ValidateTypes();
  numbers->ValidateArrayUsage();
  EXPECT_EQ(numbers->Cast(SQL_REAL, true), numbers.get());

  auto badWhen = Map(new SQLVTSCSimpleCase(Name("emp"), Clauses({{Str("x"), Int(1)}}), nullptr));
  ExpectError([&] { badWhen->ValidateTypes(); }, "42T27",
              "When operand is not comparable with case operand in case expression");

  // no result at all: depth -1
  auto nulls = Map(new SQLVTSCSimpleCase(Name("emp"), Clauses({{Int(1), nullptr}}), nullptr));
  EXPECT_EQ(nulls->GetDepth(), -1);
}

TEST_F(Compound, SimpleCaseArrayDepths) {
  static SQLColumnDescriptor const array{"arr", SQL_INTEGER, 4, 3};
  auto arr = [] { return new SQLVTSCColumnRef(0, 0, &array); };
  Expr whenArray(new SQLVTSCSimpleCase(Int(1), Clauses({{arr(), Int(1)}}), nullptr));
  ExpectError([&] { whenArray->ValidateArrayUsage(); }, "42I48",
              "Cannot compare array values with non-array values or array values of different depth");
  Expr mixedResults(new SQLVTSCSimpleCase(Int(1), Clauses({{Int(1), arr()}, {Int(2), nullptr}}), Int(3)));
  ExpectError([&] { mixedResults->ValidateArrayUsage(); }, "42I48",
              "All result operands of a CASE expression must be non-array values or array values of the same depth");
  Expr arrays(new SQLVTSCSimpleCase(Int(1), Clauses({{Int(1), nullptr}, {Int(2), arr()}}), nullptr));
  arrays->ValidateArrayUsage();
  EXPECT_EQ(arrays->GetDepth(), 3);
}

TEST_F(Compound, SimpleCaseIdentityAndCopies) {
  auto make = [](char const *result) {
    return Expr(new SQLVTSCSimpleCase(Int(1), Clauses({{Int(1), Str(result)}, {Int(2), nullptr}}), nullptr));
  };
  Expr a = make("x"), b = make("x"), c = make("y");
  EXPECT_TRUE(a->IsSameValueExpr2(b.get()));
  EXPECT_FALSE(a->IsSameValueExpr2(c.get()));
  EXPECT_TRUE(a->IsSameValueExpr2(a.get()));
  Expr copy(a->Copy());
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy.get(), a.get());  // a copy has its own owner
  EXPECT_TRUE(copy->IsSameValueExpr2(a.get()));
}

TEST_F(Compound, EnumDescriptionBecomesACase) {
  user_info.language = '2';
  auto result = Map(new SQLVTSCEnumDescription(Name("status"), nullptr));
  auto *kase = dynamic_cast<SQLVTSCSimpleCase *>(result.get());
  ASSERT_NE(kase, nullptr);
  EXPECT_TRUE(kase->GetOperand()->IsColumnRef());
  EXPECT_EQ(kase->GetElse(), nullptr);
  std::vector<std::string> texts;
  std::vector<long> values;
  auto *clauses = kase->GetClauses();
  for (bool more = clauses->First(); more; more = clauses->Next()) {
    values.push_back(clauses->GetCurrent()->GetWhen()->AsIntegerConst()->GetInteger());
    texts.push_back(reinterpret_cast<char const *>(
        static_cast<SQLVTSCStringConst *>(clauses->GetCurrent()->GetThen())->GetString()));
  }
  EXPECT_EQ(values, (std::vector<long>{1, 2, 3}));
  EXPECT_EQ(texts, (std::vector<std::string>{"Active", "Closed", "On hold"}));
  EXPECT_EQ(registered, std::vector<std::string>{"3:exemp010.status"});
  kase->ValidateTypes();

  // a language without a definition falls back to '2'
  auto fallback = Map(new SQLVTSCEnumDescription(Name("status"), Str("9")));
  EXPECT_EQ(static_cast<SQLVTSCSimpleCase *>(fallback.get())->GetClauses()->NrElements(), 3);
}

TEST_F(Compound, EnumDescriptionAndTextContentErrors) {
  for (char const *language : {"ab", ""}) {
    ExpectError([&] { Map(new SQLVTSCEnumDescription(Name("status"), Str(language))); }, "42I86",
                "The length of the language specification in an enum_description function must be exactly 1");
  }
  ExpectError([&] { Map(new SQLVTSCEnumDescription(Name("nosuch"), nullptr)); }, "42I03", "Unknown column 'nosuch'");
  ExpectError([&] { Map(new SQLVTSCEnumDescription(Name("combo"), nullptr)); }, "42I10",
              "Combined column 'combo' used in enum_description function");
  ExpectError([&] { Map(new SQLVTSCEnumDescription(Name("calc"), nullptr)); }, "42I86",
              "The first operand of the enum_description function must identify a column of a table name");
  ExpectError([&] { Map(new SQLVTSCEnumDescription(Name("emp"), nullptr)); }, "42T28",
              "Type conflict on enum_description function. The first operand should identify a table column of "
              "type DB.ENUM");

  ExpectError([&] { Map(new SQLVTSCTextContent(Name("combo"), nullptr)); }, "42I10",
              "Combined column 'combo' used in text_content function");
  ExpectError([&] { Map(new SQLVTSCTextContent(Name("calc"), nullptr)); }, "42T29",
              "The first operand of the text_content function must identify a column of a table name");
  ExpectError([&] { Map(new SQLVTSCTextContent(Name("status"), nullptr)); }, "42T28",
              "Type conflict on text_content function. The first operand should identify a table column of type "
              "DB.TEXT");
}

}  // namespace
