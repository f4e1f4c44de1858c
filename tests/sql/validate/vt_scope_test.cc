// Name resolution through the scope levels, over the fixture dictionary's
// tables exemp010 (12 columns; pseudo-columns ident = emp, name and
// _index1..3) and exdep010 (5 columns; name at id 2).
#include "sql/validate/vt_scope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "dbc/dict/dd.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/sql_schema.h"
#include "sql/validate/vt_column_scope.h"
#include "sql/validate/vt_derived_scope.h"
#include "sql/validate/vt_group_scope.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vt_pair_scope.h"
#include "sql/validate/vt_table_scope.h"
#include "support/test_env.h"

namespace {

// A base table as the scope sees one: a name, an alias, the schema and a
// company-number set (only its address matters here).
class FakeTable : public SQLVTNode {
 public:
  FakeTable(char const *name, char const *alias)
      : name_(name), alias_(alias ? alias : name), schema_(SQLSchemaMgr::GetSchema(name)) {}
  char const *GetName() const { return name_.c_str(); }
  char const *GetCorrelationName() const { return alias_.c_str(); }
  SQLSchemaPtr const &GetSchema() const { return schema_; }
  SQLVTSCCompnrSet const *GetCompnrSet() const { return reinterpret_cast<SQLVTSCCompnrSet const *>(&set_); }

  SQLVTRetryFilter *BuildRetryFilter(SQLRetryClauseType, SQLRetrySpecList *) override { return nullptr; }
  SQLRowSource *DoCreateRS() override { return nullptr; }
  SQLColumnDescriptor const *GetColumnDescriptor(int id) const override {
    return schema_->GetColumnDescriptor(id);
  }
  int GetNumCols() const override { return schema_->GetNumCols(); }
  bool IsForUpdate() override { return forUpdate_; }
  void Log() const override {}
  SQLVTNode *MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, List<char const *> *,
                                 SQLVTWhereUsedMgr *) override {
    return this;
  }
  void ValidateTypes() const override {}
  void ValidateArrayUsage() const override {}
  void SetIndexHintsOnTables(List<SQLVTIndexHint> *) override {}

  bool forUpdate_ = false;

 private:
  std::string name_, alias_;
  SQLSchemaPtr schema_;
  int set_ = 0;
};

SQLVTTable *SQLVTAsTable(FakeTable *t) { return reinterpret_cast<SQLVTTable *>(t); }
SQLVTTable const *SQLVTAsTable(FakeTable const *t) { return reinterpret_cast<SQLVTTable const *>(t); }

class Scope : public testing::Test {
 protected:
  void SetUp() override {
    setenv("ZUV", molvane::test::FixturePath("zuv").c_str(), 1);
    setenv("F_ZRDD", molvane::test::FixturePath("zuv/dict").c_str(), 1);
    init_local_dd();
    emp_ = std::make_unique<FakeTable>("exemp010", "e");
    dep_ = std::make_unique<FakeTable>("exdep010", "d");
    emp2_ = std::make_unique<FakeTable>("exemp010", nullptr);
  }

  // A FROM level over the given tables, side by side.
  SQLVTTableScopeLevel *From(std::vector<FakeTable *> tables, bool pseudo = true) {
    auto *level = new SQLVTTableScopeLevel(pseudo);
    int offset = 0;
    for (FakeTable *t : tables) {
      level->AppendExposedTable(SQLVTExposedTable(t, offset, SQL_NULLSPEC_NONE, {}));
      offset += t->GetNumCols();
    }
    return level;
  }

  std::unique_ptr<FakeTable> emp_, dep_, emp2_;
};

void ExpectError(std::function<void()> const &f, char const *state, std::string const &message) {
  try {
    f();
    ADD_FAILURE() << "no error, expected: " << message;
  } catch (SQLExSyntaxError const &e) {
    EXPECT_STREQ(e.GetSQLState(), state);
    EXPECT_EQ(e.GetZDBError(), 302);
    EXPECT_EQ(std::string(e.GetMessageText()->GetString()), message);
  }
}

std::vector<int> Positions(SQLVTColumnInfo const &info) {
  return std::vector<int>(info.positions, info.positions + info.count);
}

TEST_F(Scope, TableLevelResolvesQualifiedNamesAndRefusesAmbiguousOnes) {
  SQLVTScope scope;
  scope.Push(From({emp_.get(), dep_.get()}));
  SQLVTColumnInfo info;

  ASSERT_TRUE(scope.GetColumnInfo("d", "name", nullptr, &info, false));
  EXPECT_EQ(info.position, 12 + 2);
  EXPECT_STREQ(info.correlationName, "d");
  EXPECT_STREQ(info.GetBaseTableName(), "exdep010");
  EXPECT_STREQ(info.baseColumnName, "name");
  EXPECT_EQ(info.baseTable, SQLVTAsTable(dep_.get()));
  EXPECT_EQ(info.compnrSet, dep_->GetCompnrSet());
  EXPECT_EQ(info.levelOffset, 0);

  ASSERT_TRUE(scope.GetColumnInfo(nullptr, "salary", nullptr, &info, false));
  EXPECT_EQ(info.position, 9);
  EXPECT_EQ(info.descriptor->GetType(), SQL_REAL);
  EXPECT_FALSE(scope.GetColumnInfo("x", "name", nullptr, &info, false));
  EXPECT_FALSE(scope.GetColumnInfo(nullptr, "nosuch", nullptr, &info, false));

  ExpectError([&] { scope.GetColumnInfo(nullptr, "name", nullptr, &info, false); }, "42I02",
              "Ambiguous column reference 'name'");
  ExpectError([&] { scope.GetColumnInfo(nullptr, "_index1", nullptr, &info, false); }, "42I02",
              "Ambiguous column reference '_index1'");

  ASSERT_TRUE(scope.GetColumnInfo("d", "_index2", nullptr, &info, false));
  EXPECT_EQ(info.kind, SQLVTColumnInfo::PseudoColumn);
  EXPECT_EQ(Positions(info), (std::vector<int>{14}));
  ASSERT_TRUE(scope.GetColumnInfo(nullptr, "ident", nullptr, &info, false));
  EXPECT_EQ(Positions(info), (std::vector<int>{4, 7}));

  SQLVTTableInfo table;
  ASSERT_TRUE(scope.GetTableInfo("d", &table));
  EXPECT_EQ(table.columnOffset, 12);
  EXPECT_EQ(table.table, SQLVTAsTable(dep_.get()));
  EXPECT_FALSE(scope.GetTableInfo("exdep010", &table));  // hidden by its alias
  EXPECT_EQ(scope.GetColumnDescriptor(0, 13)->GetName(), std::string("code"));
  EXPECT_EQ(scope.GetColumnDescriptor(0, 99), nullptr);
}

TEST_F(Scope, PseudoColumnsOnlyWhenVisible) {
  SQLVTScope scope;
  scope.Push(From({emp_.get()}, false));
  SQLVTColumnInfo info;
  EXPECT_FALSE(scope.GetColumnInfo(nullptr, "ident", nullptr, &info, false));
  EXPECT_TRUE(scope.GetColumnInfo(nullptr, "emp", nullptr, &info, false));
}

TEST_F(Scope, UnknownNamesAreLookedUpOutward) {
  SQLVTScope scope;
  scope.Push(From({dep_.get()}));
  scope.Push(From({emp_.get()}));
  scope.Push(new SQLVTTableScopeLevel(true));
  SQLVTColumnInfo info;
  ASSERT_TRUE(scope.GetColumnInfo(nullptr, "salary", nullptr, &info, false));
  EXPECT_EQ(info.levelOffset, -1);
  ASSERT_TRUE(scope.GetColumnInfo(nullptr, "budget", nullptr, &info, false));
  EXPECT_EQ(info.levelOffset, -2);
  // The nearest level wins: name is in both outer levels.
  ASSERT_TRUE(scope.GetColumnInfo(nullptr, "name", nullptr, &info, false));
  EXPECT_EQ(info.levelOffset, -1);
  EXPECT_EQ(scope.GetColumnDescriptor(-2, 0)->GetName(), std::string("budget"));

  SQLVTTableInfo table;
  ASSERT_TRUE(scope.GetTableInfo("d", &table));
  EXPECT_EQ(table.levelOffset, -2);
  int offset = 1;
  EXPECT_EQ(scope.GetCompnrSetForQualif("d", false, &offset), dep_->GetCompnrSet());
  EXPECT_EQ(offset, -2);
  EXPECT_TRUE(scope.TopLevelIsColumnScopeLevel());  // the empty top level has no tables
  delete scope.Pop();
  EXPECT_FALSE(scope.TopLevelIsColumnScopeLevel());
}

// An identifier as the scope reads it.
struct FakeIdentifier {
  char const *qualifier, *column, *text;
  bool whole;
  char const *GetQualifier() const { return qualifier; }
  char const *GetIdentifier() const { return column; }
  bool IsWholeName() const { return whole; }
  char const *GetText() const { return text; }
};

TEST_F(Scope, DottedNameIsRetriedAsOneColumnName) {
  SQLColumnDescriptor dotted("d.code", SQL_STRING, 6, 1);
  auto *columns = new DynamicArray<SQLVTExposedColumn>();
  columns->Insert(SQLVTExposedColumn("", &dotted, -1, nullptr, nullptr, SQL_NULLSPEC_NONE, {}, nullptr));
  SQLVTScope scope;
  scope.Push(new SQLVTColumnScopeLevel(columns));
  SQLVTColumnInfo info;
  EXPECT_TRUE(scope.GetColumnInfo("d", "code", "d.code", &info, false));
  EXPECT_EQ(info.position, 0);
  EXPECT_FALSE(scope.GetColumnInfo("d", "code", nullptr, &info, false));  // two separate names

  FakeIdentifier oneString{"d", "code", "d.code", false};
  FakeIdentifier twoNames{"d", "code", "d.code", true};
  EXPECT_TRUE(scope.GetColumnInfo(&oneString, &info, false));
  EXPECT_FALSE(scope.GetColumnInfo(&twoNames, &info, false));
}

// A derived table's select list over exemp010 (the inner FROM level):
// the given inner columns, all exposed under correlation name "e".
SQLVTColumnScopeLevel *SelectList(FakeTable *t, SQLVTScopeLevel *inner, std::vector<int> ids) {
  auto *columns = new DynamicArray<SQLVTExposedColumn>();
  int *map = new int[12];
  std::fill(map, map + 12, -1);
  for (size_t i = 0; i < ids.size(); ++i) {
    SQLColumnDescriptor const *d = t->GetColumnDescriptor(ids[i]);
    columns->Insert(SQLVTExposedColumn("e", d, ids[i], static_cast<FakeTable const *>(t), d->GetName(),
                                       SQL_NULLSPEC_NONE, {}, t->GetCompnrSet()));
    map[ids[i]] = static_cast<int>(i);
  }
  return new SQLVTColumnScopeLevel(columns, inner, map);
}

TEST_F(Scope, SelectListCarriesPseudoColumnsOnlyWhenAllMembersAreSelected) {
  SQLVTColumnInfo info;
  {
    std::unique_ptr<SQLVTColumnScopeLevel> level(SelectList(emp_.get(), From({emp_.get()}), {7, 0, 4}));
    ASSERT_TRUE(level->GetColumnInfo(nullptr, "ident", &info));
    EXPECT_EQ(Positions(info), (std::vector<int>{2, 0}));
    ASSERT_TRUE(level->GetColumnInfo("e", "emp", &info));
    EXPECT_EQ(info.position, 2);
    EXPECT_EQ(level->GetNumTables(), 0);
  }
  std::unique_ptr<SQLVTColumnScopeLevel> level(SelectList(emp_.get(), From({emp_.get()}), {7, 0}));
  EXPECT_FALSE(level->GetColumnInfo(nullptr, "ident", &info));
}

TEST_F(Scope, SameBaseColumnTwiceIsNotAmbiguous) {
  SQLVTColumnInfo info;
  std::unique_ptr<SQLVTColumnScopeLevel> same(SelectList(emp_.get(), nullptr, {7, 4, 7}));
  ASSERT_TRUE(same->GetColumnInfo(nullptr, "name", &info));
  EXPECT_EQ(info.position, 2);  // the later one

  // Two different columns both named "name" (from different base tables).
  auto *columns = new DynamicArray<SQLVTExposedColumn>();
  columns->Insert(SQLVTExposedColumn("e", emp_->GetColumnDescriptor(7), 7,
                                     static_cast<FakeTable const *>(emp_.get()), "name", SQL_NULLSPEC_NONE,
                                     {}, nullptr));
  columns->Insert(SQLVTExposedColumn("d", dep_->GetColumnDescriptor(2), 2,
                                     static_cast<FakeTable const *>(dep_.get()), "name", SQL_NULLSPEC_NONE,
                                     {}, nullptr));
  SQLVTColumnScopeLevel mixed(columns);
  ExpectError([&] { mixed.GetColumnInfo(nullptr, "name", &info); }, "42I02",
              "Ambiguous column reference 'name'");
  ASSERT_TRUE(mixed.GetColumnInfo("d", "name", &info));
  EXPECT_EQ(info.position, 1);
}

TEST_F(Scope, DerivedTableShowsItsColumnsUnderItsCorrelationName) {
  SQLVTDerivedTableScopeLevel level(SelectList(emp_.get(), From({emp_.get()}), {7, 4}), "x");
  SQLVTColumnInfo info;
  ASSERT_TRUE(level.GetColumnInfo("x", "emp", &info));
  EXPECT_EQ(info.position, 1);
  EXPECT_STREQ(info.correlationName, "x");
  EXPECT_FALSE(level.GetColumnInfo("e", "emp", &info));
  EXPECT_FALSE(level.GetColumnInfo(nullptr, "_index1", &info));  // no pseudo-columns through it
  SQLVTTableInfo table;
  ASSERT_TRUE(level.GetTableInfo("x", &table));
  EXPECT_EQ(table.derivedLevel, &level);
  EXPECT_EQ(table.table, nullptr);
  EXPECT_FALSE(table.IsForUpdate());
  ExpectError([&] { level.GetGroupedTableColumnInfo(nullptr, "emp", &info); }, "42I21",
              "Aggregate function applied to column 'emp', which is not a column of a grouped table.");
  EXPECT_FALSE(level.GetGroupedTableColumnInfo(nullptr, "nosuch", &info));
}

TEST_F(Scope, PairLevelShiftsTheRightSide) {
  SQLVTPairScopeLevel pair(From({emp_.get()}), From({dep_.get()}));
  SQLVTColumnInfo info;
  EXPECT_EQ(pair.GetNumCols(), 17);
  EXPECT_EQ(pair.GetNumTables(), 2);
  ASSERT_TRUE(pair.GetColumnInfo("d", "name", &info));
  EXPECT_EQ(info.position, 14);
  ASSERT_TRUE(pair.GetColumnInfo("e", "name", &info));
  EXPECT_EQ(info.position, 7);
  ASSERT_TRUE(pair.GetColumnInfo(nullptr, "budget", &info));
  EXPECT_EQ(info.position, 12);
  ExpectError([&] { pair.GetColumnInfo(nullptr, "name", &info); }, "42I02",
              "Ambiguous column reference 'name'");
  ExpectError([&] { pair.GetPseudoColumnInfo(nullptr, "_index1", &info); }, "42I02",
              "Ambiguous column reference '_index1'");
  ASSERT_TRUE(pair.GetPseudoColumnInfo("d", "_index1", &info));
  EXPECT_EQ(Positions(info), (std::vector<int>{13}));
  ASSERT_TRUE(pair.GetPseudoColumnInfo("e", "_index1", &info));
  EXPECT_EQ(Positions(info), (std::vector<int>{4}));

  SQLVTTableInfo table;
  ASSERT_TRUE(pair.GetTableInfo("d", &table));
  EXPECT_EQ(table.columnOffset, 12);
  pair.GetTableInfoByPos(1, &table);
  EXPECT_EQ(table.table, SQLVTAsTable(dep_.get()));
  EXPECT_EQ(pair.GetColumnDescriptor(16)->GetName(), std::string("status"));
}

TEST_F(Scope, SetFunctionsOutsideAGroupedQueryAreRefused) {
  std::unique_ptr<SQLVTScopeLevel> level(From({emp_.get()}));
  SQLVTColumnInfo info;
  ExpectError([&] { level->GetAggregateInfo({}, static_cast<SQLSetFuncSpec>(4), &info); }, "42I21",
              "COUNT(*) cannot be applied to a non grouped query'");
  ExpectError([&] { level->GetGroupedTableColumnInfo("e", "salary", &info); }, "42I21",
              "Aggregate function applied to column 'e.salary', which is not a column of a grouped table.");
  EXPECT_FALSE(level->GetGroupedTableColumnInfo(nullptr, "nosuch", &info));

  SQLVTScope scope;
  scope.Push(From({dep_.get()}));
  EXPECT_FALSE(scope.GetColumnInfo(nullptr, "nosuch", nullptr, &info, true));
}

TEST_F(Scope, CompnrSetOfAQualifierOrTheOneTable) {
  std::unique_ptr<SQLVTScopeLevel> one(From({emp_.get()}));
  EXPECT_EQ(one->GetCompnrSetForQualif(nullptr, false), emp_->GetCompnrSet());
  EXPECT_EQ(one->GetCompnrSetForQualif("e", true), emp_->GetCompnrSet());
  EXPECT_EQ(one->GetCompnrSetForQualif("d", false), nullptr);

  std::unique_ptr<SQLVTScopeLevel> two(From({emp_.get(), dep_.get()}));
  EXPECT_EQ(two->GetCompnrSetForQualif("d", false), dep_->GetCompnrSet());
  ExpectError([&] { two->GetCompnrSetForQualif(nullptr, true); }, "42I02",
              "Ambiguous column reference '_compnr'");

  // A derived table gives the set that its select list carries for _compnr.
  SQLColumnDescriptor compnr("_compnr", SQL_INTEGER, 2, 1);
  auto *columns = new DynamicArray<SQLVTExposedColumn>();
  columns->Insert(SQLVTExposedColumn("e", &compnr, -1, nullptr, nullptr, SQL_NULLSPEC_NONE, {},
                                     emp_->GetCompnrSet()));
  SQLVTDerivedTableScopeLevel derived(new SQLVTColumnScopeLevel(columns), "x");
  EXPECT_EQ(derived.GetCompnrSetForQualif("x", false), emp_->GetCompnrSet());
  EXPECT_EQ(derived.GetCompnrSetForQualif(nullptr, false), emp_->GetCompnrSet());
}

TEST_F(Scope, ForUpdateIsAskedOfTheTable) {
  emp_->forUpdate_ = true;
  std::unique_ptr<SQLVTScopeLevel> level(From({emp_.get(), dep_.get()}));
  SQLVTTableInfo table;
  level->GetTableInfoByPos(0, &table);
  EXPECT_TRUE(table.IsForUpdate());
  level->GetTableInfoByPos(1, &table);
  EXPECT_FALSE(table.IsForUpdate());
}

TEST_F(Scope, OperationsALevelCannotAnswerStop) {
  SQLVTColumnScopeLevel columns(new DynamicArray<SQLVTExposedColumn>());
  SQLVTTableInfo table;
  EXPECT_DEATH(columns.GetTableInfo("x", &table), "SQLVTColumnScopeLevel::GetTableInfo\\(\\) called");
  std::unique_ptr<SQLVTScopeLevel> from(From({emp_.get()}));
  SQLVTColumnInfo info;
  EXPECT_DEATH(from->GetColumnInfoByPos(0, &info), "SQLVTTableScopeLevel::GetColumnInfoByPos\\(\\) called");
}

// A group node over a FROM level: grouping column ids, and the specs
// added by the scope.
class FakeGroup : public FakeTable {
 public:
  FakeGroup(FakeTable *child, std::vector<int> groupCols, bool definitive)
      : FakeTable("exemp010", "g"), child_(child), groupCols_(groupCols), definitive_(definitive) {}
  bool IsGroupCol(int id) const {
    return std::find(groupCols_.begin(), groupCols_.end(), id) != groupCols_.end();
  }
  int FindOrAddGroupSpec(SQLVTGroupSpec const &spec) {
    for (int i = 0; i < specs_.NrElements(); ++i)
      if (specs_.Get(i).Equals(spec)) return i;
    specs_.Insert(spec);
    return specs_.NrElements() - 1;
  }
  bool IsDefinitive() const { return definitive_; }
  void SetDefinitive(bool d) { definitive_ = d; }
  int GetNumCols() const override { return specs_.NrElements(); }
  SQLColumnDescriptor const *GetColumnDescriptor(int i) const override {
    SQLVTGroupSpec const &spec = specs_.Get(i);
    return spec.GetKind() == SQLVTGroupSpec::GroupingColumn ? child_->GetColumnDescriptor(spec.GetColumn())
                                                           : &count_;
  }

  DynamicArray<SQLVTGroupSpec> specs_;

 private:
  FakeTable *child_;
  std::vector<int> groupCols_;
  bool definitive_;
  SQLColumnDescriptor count_{"", SQL_INTEGER, 0, 1};
};

using GroupLevel = SQLVTGroupScopeLevelOf<FakeGroup>;

TEST_F(Scope, GroupByColumnsResolveToGroupPositions) {
  FakeGroup group(emp_.get(), {7, 4}, true);  // GROUP BY name, emp
  GroupLevel level(&group, From({emp_.get()}));
  SQLVTColumnInfo info;
  ASSERT_TRUE(level.GetColumnInfo(nullptr, "emp", &info));
  EXPECT_EQ(info.position, 0);
  EXPECT_STREQ(info.descriptor->GetName(), "emp");
  ASSERT_TRUE(level.GetColumnInfo("e", "name", &info));
  EXPECT_EQ(info.position, 1);
  ASSERT_TRUE(level.GetColumnInfo(nullptr, "emp", &info));
  EXPECT_EQ(info.position, 0);  // found, not added again
  EXPECT_EQ(level.GetNumCols(), 2);
  ASSERT_TRUE(level.GetPseudoColumnInfo(nullptr, "ident", &info));  // emp, name: both grouped
  EXPECT_EQ(Positions(info), (std::vector<int>{0, 1}));
  ExpectError([&] { level.GetColumnInfo(nullptr, "salary", &info); }, "42I19",
              "Column 'salary' is not a grouping column");
  ExpectError([&] { level.GetGroupedTableColumnInfo("e", "ident", &info); }, "42I20",
              "Aggregate function on combined column 'e.ident'");

  level.GetAggregateInfo({}, SQL_SETFUNC_COUNT, &info);
  EXPECT_EQ(info.position, 2);
  EXPECT_EQ(info.nullSpec, SQL_NULLSPEC_CLEAR);
  EXPECT_EQ(info.correlationName, nullptr);
  EXPECT_EQ(level.GetNumCols(), 3);
  SQLVTTableInfo table;
  ASSERT_TRUE(level.GetTableInfo("e", &table));
  EXPECT_EQ(table.grouped, 1);
}

TEST_F(Scope, PlainColumnBeforeTheFirstSetFunctionIsNotGrouping) {
  FakeGroup group(emp_.get(), {}, false);  // no GROUP BY
  SQLVTScope scope;
  scope.Push(new GroupLevel(&group, From({emp_.get()})));
  SQLVTColumnInfo info;
  ASSERT_TRUE(scope.GetColumnInfo("e", "name", nullptr, &info, false));
  EXPECT_EQ(info.position, 7);  // passes through while not definitive
  EXPECT_EQ(scope.GetNumCols(), 12);
  ExpectError([&] { scope.GetAggregateInfo({}, SQL_SETFUNC_COUNT, &info); }, "42I19",
              "Column 'e.name' is not a grouping column");
}

TEST_F(Scope, SetFunctionMakesTheGroupDefinitive) {
  FakeGroup group(emp_.get(), {}, false);
  SQLVTScope scope;
  scope.Push(new GroupLevel(&group, From({emp_.get()})));
  SQLVTColumnInfo info;
  ASSERT_TRUE(scope.GetColumnInfo(nullptr, "salary", nullptr, &info, true));  // SUM(salary)
  EXPECT_EQ(info.position, 9);  // the argument is read below the group
  EXPECT_TRUE(group.IsDefinitive());
  scope.GetAggregateInfo({}, SQL_SETFUNC_COUNT, &info);
  scope.GetAggregateInfo({}, SQL_SETFUNC_COUNT, &info);  // COUNT(*) twice is one column
  EXPECT_EQ(info.position, 0);
  EXPECT_EQ(scope.GetNumCols(), 1);
  ExpectError([&] { scope.GetColumnInfo(nullptr, "salary", nullptr, &info, false); }, "42I19",
              "Column 'salary' is not a grouping column");
}

}  // namespace
