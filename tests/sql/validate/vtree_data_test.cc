#include "sql/validate/vtree_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "sql/common/sql_exception.h"
#include "sql/validate/table_compnr_passes.h"

namespace {

char *Name(char const *text) { return SQLColumnDescriptor::CopyName(text); }

TEST(SQLVTreeData, PseudoParametersAreCreatedOnceWithTheirTypes) {
  SQLVTreeData data;
  EXPECT_EQ(data.GetDefaultCompnrParameter(), nullptr);
  EXPECT_EQ(data.GetCurrentDateParameter(), nullptr);

  SQLParameter *compnr = data.GetOrCreateDefaultCompnrParameter();
  EXPECT_EQ(data.GetOrCreateDefaultCompnrParameter(), compnr);
  EXPECT_EQ(compnr->GetType(), SQL_INTEGER);
  EXPECT_EQ(compnr->GetDepth(), 1);
  data.ReleaseDefaultCompnrParameter();
  EXPECT_EQ(data.GetDefaultCompnrParameter(), compnr);  // one user left
  data.ReleaseDefaultCompnrParameter();
  EXPECT_EQ(data.GetDefaultCompnrParameter(), nullptr);
  data.ReleaseDefaultCompnrParameter();  // never below zero users
  EXPECT_EQ(data.GetOrCreateDefaultCompnrParameter(), compnr);
  EXPECT_EQ(data.GetDefaultCompnrParameter(), compnr);

  SQLParameter *date = data.GetOrCreateCurrentDateParameter();
  SQLParameter *stamp = data.GetOrCreateCurrentTimestampParameter();
  EXPECT_EQ(date->GetType(), SQL_DATE);
  EXPECT_EQ(stamp->GetType(), SQL_TIMESTAMP);
  EXPECT_EQ(data.GetOrCreateCurrentDateParameter(), date);
  EXPECT_EQ(data.GetOrCreateCurrentTimestampParameter(), stamp);
  EXPECT_EQ(data.GetCurrentTimestampParameter(), stamp);
}

TEST(SQLVTreeData, CompnrParameterIsAddedOncePerId) {
  SQLVTreeData data;
  SQLParameter a, b;
  data.AddCompnrParameter(&a);
  data.AddCompnrParameter(&b);
  data.AddCompnrParameter(&a);
  ASSERT_EQ(data.GetCompnrParameters().NrElements(), 2);
  EXPECT_EQ(data.GetCompnrParameters().Get(0), &a);
  EXPECT_EQ(data.GetCompnrParameters().Get(1), &b);
}

TEST(SQLVTreeData, NamedParametersMatchByExactBytes) {
  SQLVTreeData data;
  EXPECT_EQ(data.GetNamedParameters(), nullptr);
  SQLParameter *x = data.GetImplementationParameter(Name("host.x"));
  SQLParameter *upper = data.GetImplementationParameter(Name("host.X"));
  EXPECT_EQ(data.GetImplementationParameter(Name("host.x")), x);
  EXPECT_NE(upper, x);
  EXPECT_EQ(x->GetType(), SQL_UNDEFINED);

  std::vector<std::string> names;
  pSQLNamedParameterList *list = data.GetNamedParameters();
  for (bool more = list->First(); more; more = list->Next())
    names.push_back(list->GetCurrent()->GetName());
  EXPECT_EQ(names, (std::vector<std::string>{"host.x", "host.X"}));
}

TEST(SQLVTreeData, MaxRowsIsReplacedByTheLastClause) {
  SQLVTreeData data;
  EXPECT_EQ(data.GetMaxRows(), nullptr);
  data.SetMaxRows(25);
  EXPECT_EQ(data.GetMaxRows()->kind, SQLSetSize::Constant);
  EXPECT_EQ(data.GetMaxRows()->constant, 25);
  SQLParameter *p = data.GetImplementationParameter(Name("n"));
  data.SetMaxRows(p);
  EXPECT_EQ(data.GetMaxRows()->kind, SQLSetSize::Parameter);
  EXPECT_EQ(data.GetMaxRows()->parameter, p);
}

TEST(SQLVTreeData, SelectTargetsAreSharedAndLogged) {
  SQLVTreeData data;
  data.CreateSelectTargetList();
  data.AddSelectTarget(Name("total"), false);
  data.AddSelectTarget(Name("exemp010.name"), true);
  data.AddSelectTarget(nullptr, true);
  EXPECT_EQ(data.SelectTargetLine(0), "[0] total");
  EXPECT_EQ(data.SelectTargetLine(1), "[1] exemp010.name (derived)");
  EXPECT_EQ(data.SelectTargetLine(2), "[2] <NULL> (derived)");

  RefPtr<SQLSelectTargetArray> shared = data.GetSelectTargetArray();
  EXPECT_EQ(shared.UseCount(), 2);
  data.CreateSelectTargetList();  // the statement keeps the old targets
  EXPECT_EQ(shared.UseCount(), 1);
  EXPECT_EQ(shared->NrElements(), 3);
  EXPECT_EQ(data.GetSelectTargetArray()->NrElements(), 0);
  data.SetSelectTargetArray(shared);
  char const *name;
  bool derived;
  data.GetSelectTarget(0, &name, &derived);
  EXPECT_STREQ(name, "total");
  EXPECT_FALSE(derived);
}

TEST(SQLVTreeData, SelectStarTables) {
  SQLVTreeData data;
  EXPECT_FALSE(data.TableInSelectStarTableList(1));
  EXPECT_TRUE(data.GetSelectStarTableList().IsNull());
  data.AddSelectStarTable(1, "e", true);
  data.AddSelectStarTable(3, "exdep010", false);
  EXPECT_TRUE(data.TableInSelectStarTableList(3));
  EXPECT_FALSE(data.TableInSelectStarTableList(2));
  RefPtr<SQLSelectStarTableList> list = data.GetSelectStarTableList();
  ASSERT_TRUE(list->First());
  EXPECT_STREQ(list->GetCurrent().GetName(), "e");
  EXPECT_TRUE(list->GetCurrent().IsForUpdate());
}

// A table as the company-number passes see it.
struct FakeTable {
  char const *name;
  char const *alias;
  int line;
  bool restricted;
  bool simplifies = true;
  int simplified = 0;
  void SimplifyCompnrSet() {
    ++simplified;
    if (!simplifies) throw SQLVTCompnrConflict(GetCorrelationName(), line);
  }
  bool CompnrSetIsRestricted() const { return restricted; }
  char const *GetCorrelationName() const { return alias ? alias : name; }
  int GetLineNumber() const { return line; }
};

void ExpectSyntaxError(std::function<void()> const &f, char const *message, int line) {
  try {
    f();
    ADD_FAILURE() << "no error, expected: " << message;
  } catch (SQLExSyntaxError const &e) {
    EXPECT_STREQ(e.GetSQLState(), "42I89");
    EXPECT_EQ(e.GetZDBError(), 302);
    EXPECT_STREQ(e.GetMessageText()->GetString(), message);
    EXPECT_EQ(e.GetLineNumber(), line);
  }
}

TEST(SQLVTreeDataCompnrPasses, SimplifyStopsAtTheFirstConflictNamingTheAlias) {
  FakeTable t1{"exemp010", nullptr, 1, true};
  FakeTable t2{"exdep010", "d", 3, true, false};
  FakeTable t3{"exemp010", "e", 4, true};
  List<FakeTable *> tables;
  for (FakeTable *t : {&t1, &t2, &t3}) tables.Append(t);
  ExpectSyntaxError([&] { SQLVTSimplifyTableCompnrSets(tables); },
                    "Conflict or unsupported combination in compnr restrictions on table 'd'", 3);
  EXPECT_EQ(t1.simplified, 1);
  EXPECT_EQ(t3.simplified, 0);
}

TEST(SQLVTreeDataCompnrPasses, AnsiModeNeedsAllOrNoTablesRestricted) {
  FakeTable free1{"exemp010", nullptr, 2, false};
  FakeTable bound1{"exdep010", "d", 5, true};
  FakeTable free2{"exemp010", "e2", 6, false};
  FakeTable bound2{"exdep010", nullptr, 7, true};

  List<FakeTable *> same;
  same.Append(&bound1);
  same.Append(&bound2);
  SQLVTValidateTableCompnrSets(same);
  List<FakeTable *> none;
  none.Append(&free1);
  none.Append(&free2);
  SQLVTValidateTableCompnrSets(none);

  List<FakeTable *> mixed;
  for (FakeTable *t : {&free1, &bound1, &free2, &bound2}) mixed.Append(t);
  ExpectSyntaxError([&] { SQLVTValidateTableCompnrSets(mixed); },
                    "The _compnr column of 'd' is restricted, while the _compnr column of "
                    "'exemp010' is not restricted, which is not allowed in ANSI parse mode",
                    5);
}

}  // namespace
