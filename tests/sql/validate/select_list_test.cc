// The select list, its items and the HINT clause records own the
// identifiers and expressions they are given; the tests count live objects.
#include "sql/validate/select_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sql/common/column_descriptor.h"
#include "sql/validate/vt_hints.h"

namespace {

int g_live = 0;

// A value expression that counts its instances.
class FakeValue : public SQLVTSCValueExpr {
 public:
  FakeValue() { ++g_live; }
  ~FakeValue() override { --g_live; }
  SQLVTSCValueExpr *Cast(SQLType, bool) override { return this; }
  SQLVTSCValueExpr *Copy() override { return new FakeValue(); }
  SQLRSSCValueExpr *CreateRS() override { return nullptr; }
  void GetPossibleTypes(SQLTypeSet *) override {}
  void Log() const override {}
  void MapColumnIds(int, SQLColumnIdMappingList *) override {}
  SQLVTSCValueExpr *MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, SQLVTWhereUsedMgr *, bool) override {
    return this;
  }
};

// An identifier: a name that it gives up as text.
class FakeIdentifier : public FakeValue {
 public:
  explicit FakeIdentifier(char const *text) : text_(text) {}
  bool IsIdentifier() override { return true; }
  char *DeleteToString() {
    char *text = SQLColumnDescriptor::CopyName(text_.c_str());
    delete this;
    return text;
  }

 private:
  std::string text_;
};

SQLVTSCIdentifier *SQLVTAsIdentifier(FakeIdentifier *f) { return reinterpret_cast<SQLVTSCIdentifier *>(f); }

class SelectList : public testing::Test {
 protected:
  void SetUp() override { g_live = 0; }
  void TearDown() override { EXPECT_EQ(g_live, 0) << "objects leaked or deleted twice"; }
};

std::string Take(char *text) {
  std::string s = text ? text : "<null>";
  delete[] text;
  return s;
}

TEST_F(SelectList, ItemsHandTheirPartsOver) {
  SQLVTSelectItem item(SQL_SELECT_VALUE_EXPR, new FakeValue(), new FakeIdentifier("total"),
                       new FakeIdentifier("host.t"));
  EXPECT_EQ(g_live, 3);
  EXPECT_EQ(Take(item.ExtractAliasName<FakeIdentifier>()), "total");
  EXPECT_EQ(Take(item.ExtractAliasName<FakeIdentifier>()), "<null>");
  EXPECT_EQ(Take(item.ExtractParameterName<FakeIdentifier>()), "host.t");
  std::unique_ptr<SQLVTSCValueExpr> value(item.ExtractValueExpr());
  EXPECT_NE(value, nullptr);
  EXPECT_EQ(item.GetValueExpr(), nullptr);
}

TEST_F(SelectList, ItemKindDecidesWhereAnIdentifierGoes) {
  auto *name = new FakeIdentifier("name");
  SQLVTSelectItem column(SQL_SELECT_COLUMN, name, nullptr, nullptr);
  EXPECT_EQ(column.GetIdentifier(), SQLVTAsIdentifier(name));
  EXPECT_EQ(column.GetValueExpr(), nullptr);
  EXPECT_EQ(column.GetAlias(), nullptr);

  auto *expr = new FakeIdentifier("x");
  SQLVTSelectItem value(SQL_SELECT_VALUE_EXPR, expr, new FakeIdentifier("a"), nullptr);
  EXPECT_EQ(value.GetValueExpr(), expr);
  EXPECT_EQ(value.GetIdentifier(), nullptr);
  EXPECT_NE(value.GetAlias(), nullptr);

  SQLVTSelectItem tableAll(SQL_SELECT_TABLE_ALL, new FakeIdentifier("e"));
  EXPECT_NE(tableAll.GetIdentifier(), nullptr);
  SQLVTSelectItem all(SQL_SELECT_ALL);
  EXPECT_EQ(all.GetType(), SQL_SELECT_ALL);
}

TEST_F(SelectList, ListOwnsItsItemsInOrder) {
  SQLVTSelectList list;
  EXPECT_FALSE(list.GetContainsAggregate());
  for (int i = 0; i < 12; ++i)
    list.Insert(new SQLVTSelectItem(SQL_SELECT_VALUE_EXPR, new FakeValue(), nullptr, nullptr));
  list.Insert(new SQLVTSelectItem(SQL_SELECT_ALL));
  list.SetContainsAggregate();
  EXPECT_TRUE(list.GetContainsAggregate());
  EXPECT_FALSE(list.GetContainsNonCountAggregate());
  ASSERT_EQ(list.NrItems(), 13);
  EXPECT_EQ(list.GetItem(12)->GetType(), SQL_SELECT_ALL);
  EXPECT_EQ(g_live, 12);
}

TEST_F(SelectList, IndexHintsUpToFourPerTable) {
  SQLVTHints clause;
  char const numbers[] = {1, 3, 2, 4, 5};
  clause.AddIndexHints(new FakeIdentifier("e"), 4, numbers, SQL_INDEX_HINT_DESCENDING);
  try {
    clause.AddIndexHints(new FakeIdentifier("d"), 5, numbers, SQL_INDEX_HINT_ANY);
    ADD_FAILURE() << "a fifth index number was accepted";
  } catch (SQLExSyntaxError const &e) {
    EXPECT_STREQ(e.GetSQLState(), "42I43");
    EXPECT_STREQ(e.GetMessageText()->GetString(), "Maximum number of index hints per table (4) exceeded");
  }

  List<SQLVTIndexHint> *hints = clause.GetIndexHints();
  ASSERT_EQ(hints->NrElements(), 1);
  ASSERT_TRUE(hints->First());
  SQLVTIndexHint &hint = hints->GetCurrent();
  EXPECT_NE(hint.GetTable(), nullptr);
  std::unique_ptr<SQLIndexHints> record(hint.ExtractIndexHints());
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->count, 4);
  EXPECT_EQ(record->indexNumbers[3], 4);
  EXPECT_EQ(record->mode, SQL_INDEX_HINT_DESCENDING);
  EXPECT_EQ(hint.ExtractIndexHints(), nullptr);

  std::unique_ptr<SQLHints> general(clause.ExtractHints());
  EXPECT_NE(general, nullptr);
  EXPECT_EQ(clause.ExtractHints(), nullptr);
}

}  // namespace
