// Leaves of the validated expression tree: identifiers and their
// resolution, column and parameter references, constants and their typing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dbc/dict/dd.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/sql_parameter.h"
#include "sql/exec/sc_value_expr.h"
#include "sql/validate/vt_scope.h"
#include "sql/validate/vtsc_cast.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_identifier.h"
#include "sql/validate/vtsc_parameter.h"
#include "sql/validate/vtsc_string_ops.h"
#include "sql/validate/where_used.h"
#include "support/test_env.h"

namespace {

using Id = SQLVTSCIdentifier;

void ExpectError(std::function<void()> const &f, char const *state, std::string const &message) {
  try {
    f();
    ADD_FAILURE() << "no error, expected: " << message;
  } catch (SQLExSyntaxError const &e) {
    EXPECT_STREQ(e.GetSQLState(), state);
    EXPECT_EQ(std::string(e.GetMessageText()->GetString()), message);
  }
}

Id *OneString(char const *text, int line = 0) {
  auto *s = new Id::String(text);
  s->SetLineNumber(line);
  return new Id(s);
}

TEST(VtIdentifier, OneStringSplitsAtFirstDotAndLowersCase) {
  std::unique_ptr<Id> id(OneString("T.Amount.X", 7));
  EXPECT_STREQ(id->GetText(), "t.amount.x");
  EXPECT_STREQ(id->GetQualifier(), "t");
  EXPECT_STREQ(id->GetIdentifier(), "amount.x");
  EXPECT_FALSE(id->IsWholeName());
  EXPECT_EQ(id->GetLineNumber(), 7);

  std::unique_ptr<Id> plain(OneString("AMOUNT"));
  EXPECT_EQ(plain->GetQualifier(), nullptr);
  EXPECT_STREQ(plain->GetIdentifier(), "amount");
  EXPECT_TRUE(plain->IsWholeName());
  std::unique_ptr<Id> lower(OneString("amount"));
  EXPECT_TRUE(plain->IsSameValueExpr2(lower.get()));
  EXPECT_FALSE(plain->IsSameValueExpr2(id.get()));
}

TEST(VtIdentifier, TwoStringsGiveAWholeQualifiedName) {
  auto *q = new Id::String("E");
  q->SetLineNumber(3);
  auto *n = new Id::String("Name");
  n->SetLineNumber(4);
  std::unique_ptr<Id> id(new Id(q, n));
  EXPECT_STREQ(id->GetText(), "e.name");
  EXPECT_STREQ(id->GetQualifier(), "e");
  EXPECT_STREQ(id->GetIdentifier(), "name");
  EXPECT_TRUE(id->IsWholeName());
  EXPECT_EQ(id->GetLineNumber(), 3);

  auto *alone = new Id::String("X");
  alone->SetLineNumber(9);
  std::unique_ptr<Id> unqualified(new Id(nullptr, alone));
  EXPECT_STREQ(unqualified->GetText(), "x");
  EXPECT_EQ(unqualified->GetLineNumber(), 9);
  char *text = unqualified.release()->DeleteToString();
  EXPECT_STREQ(text, "x");
  delete[] text;
}

TEST(VtIdentifier, BadNamesAreRefused) {
  struct Case {
    std::string text;
    char const *message;
  } cases[] = {
      {"", "Empty identifier"},
      {"ab\x9b", "Illegal character 155 in identifier"},
      {"a\tb", "Illegal character 9 in identifier"},
      {"a\x7f", "Illegal character 127 in identifier"},
      {"\xff", "Illegal character 255 in identifier"},
  };
  for (Case const &c : cases) {
    ExpectError([&] { delete OneString(c.text.c_str()); }, "42I00", c.message);
  }
}

TEST(VtIdentifier, QuotedArrayIndex) {
  std::map<std::string, bool> cases = {{"amount(3)", true}, {"a(12)", true},   {"amount()", false},
                                       {"(3)", false},      {"amount(x)", false}, {"amount(3", false},
                                       {"amount3)", false}, {"t.price(2)", true}};
  for (auto const &[text, expected] : cases) {
    std::unique_ptr<Id> id(OneString(text.c_str()));
    EXPECT_EQ(id->IsQuotedArrayIndex(), expected) << text;
  }
}

// A scope level over named columns; "combo" is a combined column of ids 0
// and 2, and the grouped-table lookup sees the same columns.
class FakeLevel : public SQLVTScopeLevel {
 public:
  explicit FakeLevel(std::vector<SQLColumnDescriptor> columns) : columns_(std::move(columns)) {}
  bool GetGroupedTableColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override {
    return GetColumnInfo(q, name, info);
  }
  SQLColumnDescriptor const *GetColumnDescriptor(int position) override { return &columns_[position]; }
  bool GetColumnInfo(char const *q, char const *name, SQLVTColumnInfo *info) override {
    if (q != nullptr && std::strcmp(q, "t") != 0) return false;
    info->baseTableName = "tab";
    if (std::strcmp(name, "combo") == 0) {
      info->kind = SQLVTColumnInfo::PseudoColumn;
      info->count = 2;
      info->positions = combo_;
      info->pseudoColumnName = "combo";
      return true;
    }
    for (size_t i = 0; i < columns_.size(); ++i) {
      if (std::strcmp(columns_[i].GetName(), name) == 0) {
        info->kind = SQLVTColumnInfo::Column;
        info->position = static_cast<int>(i);
        info->descriptor = &columns_[i];
        return true;
      }
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

 private:
  std::vector<SQLColumnDescriptor> columns_;
  int combo_[2] = {0, 2};
};

std::vector<std::string> registered;
void Record(char const *name, int kind) { registered.push_back(std::to_string(kind) + ":" + name); }

class Resolve : public testing::Test {
 protected:
  void SetUp() override {
    static molvane::test::ScratchDir zuv;  // log files stay out of the fixtures
    setenv("ZUV", zuv.path().c_str(), 1);
    setenv("F_ZRDD", molvane::test::FixturePath("zuv/dict").c_str(), 1);
    init_local_dd();
    registered.clear();
    scope_.Push(new FakeLevel({{"outer", SQL_REAL, 8, 1}}));
    scope_.Push(new FakeLevel({{"amount", SQL_INTEGER, 4, 1},
                               {"price", SQL_REAL, 8, 3},
                               {"name", SQL_STRING, 10, 1},
                               {"qty(2)", SQL_INTEGER, 4, 1},
                               {"t.code", SQL_STRING, 4, 1}}));
  }
  // Resolves text (one string) and owns the result.
  std::unique_ptr<SQLVTSCValueExpr> Map(char const *text, int flags = 0, bool inExpression = false) {
    SQLVTSCValueExpr *id = OneString(text, 5);
    std::unique_ptr<SQLVTSCValueExpr> guard(id);
    SQLVTSCValueExpr *result = id->MapColumnNamesToIds(&scope_, nullptr, flags, &whereUsed_, inExpression);
    guard.release();  // resolved: the identifier deleted itself
    return std::unique_ptr<SQLVTSCValueExpr>(result);
  }

  SQLVTScope scope_;
  SQLVTWhereUsedMgr whereUsed_{Record};
};

TEST_F(Resolve, ColumnsOuterColumnsAndDottedNames) {
  auto amount = Map("T.AMOUNT");
  ASSERT_TRUE(amount->IsColumnRef());
  auto *ref = static_cast<SQLVTSCColumnRef *>(amount.get());
  EXPECT_EQ(ref->GetLevel(), 0);
  EXPECT_EQ(ref->GetColumnId(), 0);
  EXPECT_EQ(ref->GetLineNumber(), 5);
  EXPECT_EQ(registered, std::vector<std::string>{"3:tab.amount"});

  auto outer = Map("outer");
  EXPECT_EQ(static_cast<SQLVTSCColumnRef *>(outer.get())->GetLevel(), -1);

  // t.code is not qualifier t and column code, but a column of that whole name
  auto code = Map("t.code");
  EXPECT_EQ(static_cast<SQLVTSCColumnRef *>(code.get())->GetColumnId(), 4);
}

TEST_F(Resolve, ArrayElementForm) {
  auto element = Map("price(2)", 8);
  SQLVTSCIndexing *indexing = dynamic_cast<SQLVTSCIndexing *>(element.get());
  ASSERT_NE(indexing, nullptr);
  EXPECT_EQ(indexing->GetLineNumber(), 5);
  ASSERT_TRUE(indexing->GetArray()->IsColumnRef());
  EXPECT_EQ(static_cast<SQLVTSCColumnRef *>(indexing->GetArray())->GetColumnId(), 1);
  ASSERT_TRUE(indexing->GetIndex()->IsIntegerConst());
  EXPECT_EQ(indexing->GetIndex()->AsIntegerConst()->GetInteger(), 2);
  indexing->ValidateArrayUsage();  // price has depth 3

  ExpectError([&] { Map("price(2)"); }, "42I03", "Unknown column 'price(2)'");
  // a column of the whole name wins over the element reading
  EXPECT_TRUE(Map("qty(2)", 8)->IsColumnRef());
  // an element of a scalar column is refused by the array-usage check
  auto scalar = Map("amount(1)", 8);
  ExpectError([&] { scalar->ValidateArrayUsage(); }, "42I06", "Array indexing operator applied to non array column");
}

TEST_F(Resolve, CombinedColumns) {
  auto combo = Map("combo");
  ASSERT_TRUE(combo->IsPseudoColumnRef());
  auto *pseudo = static_cast<SQLVTSCPseudoColumnRef *>(combo.release());
  EXPECT_EQ(pseudo->NrElements(), 2);
  EXPECT_EQ(registered, (std::vector<std::string>{"3:tab.amount", "3:tab.name", "3:tab.combo"}));
  std::unique_ptr<SQLVTSCValueExpr> first(pseudo->ConvertToValueExpr());
  EXPECT_EQ(static_cast<SQLVTSCColumnRef *>(first.get())->GetColumnId(), 0);

  ExpectError([&] { Map("combo", 0, true); }, "42I10", "Combined column 'combo' used in expression");
}

TEST_F(Resolve, SetFunctionsEnumerationKeywordsAndUnknownNames) {
  EXPECT_TRUE(Map("amount", 32)->IsColumnRef());
  ExpectError([&] { Map("outer", 32); }, "42I90",
              "Outer column reference 'outer' used in set function specification");

  ASSERT_NE(dddomain_with_read("exstatus"), nullptr);  // the lookup sees loaded domains
  auto keyword = Map("ExStatus.Closed");
  ASSERT_TRUE(keyword->IsIntegerConst());
  EXPECT_EQ(keyword->AsIntegerConst()->GetInteger(), 2);

  ExpectError([&] { Map("nosuch"); }, "42I03", "Unknown column 'nosuch'");
  std::string huge(600, 'a');
  ExpectError([&] { Map(huge.c_str()); }, "42I03", "Unknown column '" + huge + "'");
}

TEST(VtColumnRef, CastAndMapColumnIds) {
  SQLColumnDescriptor integer("n", SQL_INTEGER, 4, 1);
  SQLVTSCColumnRef ref(0, 5, &integer);
  EXPECT_EQ(ref.Cast(SQL_INTEGER, false), &ref);
  EXPECT_EQ(ref.Cast(SQL_REAL, false), &ref);
  ExpectError([&] { ref.Cast(SQL_STRING, true); }, "42T12", "Type conflict on column 'n'. Type STRING expected");

  SQLColumnIdMappingList mappings;
  mappings.Append(SQLColumnIdMapping(0, 3, 10));
  mappings.Append(SQLColumnIdMapping(4, 6, 20));
  mappings.Append(SQLColumnIdMapping(5, 5, 99));  // not reached: the walk stops at the first hit
  ref.MapColumnIds(-1, &mappings);
  EXPECT_EQ(ref.GetColumnId(), 5);  // another level
  ref.MapColumnIds(0, &mappings);
  EXPECT_EQ(ref.GetColumnId(), 25);
}

// Casts of constants: the node that results, by the class word it logs.
TEST(VtConstants, CastRules) {
  {
    auto *i = new SQLVTSCIntegerConst(7);
    EXPECT_EQ(i->Cast(SQL_REAL, true), i);
    std::unique_ptr<SQLVTSCValueExpr> real(i->Cast(SQL_REAL, false));  // deletes i
    ASSERT_NE(real.get(), nullptr);
    EXPECT_FALSE(real->IsIntegerConst());
    EXPECT_TRUE(real->IsSameValueExpr2(std::make_unique<SQLVTSCRealConst>(7.0).get()));
  }
  for (SQLType t : {SQL_DATE, SQL_TIMESTAMP, SQL_INTERVAL_DAYS, SQL_INTERVAL_SECONDS}) {
    std::unique_ptr<SQLVTSCValueExpr> cast((new SQLVTSCIntegerConst(3))->Cast(t, false));
    auto *rc = dynamic_cast<SQLVTSCReinterpretCast *>(cast.get());
    ASSERT_NE(rc, nullptr);
    EXPECT_EQ(rc->GetTargetType(), t);
    EXPECT_EQ(rc->GetPossibleTypeSet().GetMask(), static_cast<unsigned>(t));
    std::unique_ptr<SQLVTSCValueExpr> realCast((new SQLVTSCRealConst(1.5))->Cast(t, true));
    EXPECT_NE(dynamic_cast<SQLVTSCReinterpretCast *>(realCast.get()), nullptr);
  }
  unsigned char const text[] = "abc";
  struct Conflict {
    std::function<SQLVTSCValueExpr *()> make;
    SQLType asked;
    char const *state, *message;
  } conflicts[] = {
      {[] { return new SQLVTSCIntegerConst(1); }, SQL_STRING, "42T14",
       "Type conflict on integer constant. Type STRING expected"},
      {[] { return new SQLVTSCRealConst(1); }, SQL_INTEGER, "42T15",
       "Type conflict on real constant. Type INTEGER expected"},
      {[&] { return new SQLVTSCStringConst(text, 3, SQLVTSCStringConst::AsIs); }, SQL_RAW, "42T16",
       "Type conflict on string constant. Type RAW expected"},
      {[] { return new SQLVTSCDateConst(5); }, SQL_TIMESTAMP, "42T17",
       "Type conflict on date constant. Type TIMESTAMP expected"},
      {[&] { return new SQLVTSCRawConst(text, 3); }, SQL_STRING, "42T24",
       "Type conflict on raw constant. Type STRING expected"},
      {[] { return new SQLVTSCTimestampConst(5); }, SQL_DATE, "42T25",
       "Type conflict on timestamp constant. Type DATE expected"},
  };
  for (Conflict const &c : conflicts) {
    std::unique_ptr<SQLVTSCValueExpr> node(c.make());
    ExpectError([&] { node->Cast(c.asked, false); }, c.state, c.message);
  }
}

TEST(VtConstants, StringConversionsAndIdentity) {
  unsigned char const mixed[] = {'A', 'b', 0, 'C'};
  SQLVTSCStringConst asIs(mixed, 4, SQLVTSCStringConst::AsIs);
  EXPECT_EQ(std::memcmp(asIs.GetString(), "Ab\0\0\0", 5), 0);  // stops at the zero byte, pads
  SQLVTSCStringConst lower(mixed, 4, SQLVTSCStringConst::ToLower);
  EXPECT_EQ(std::memcmp(lower.GetString(), "ab\0c\0", 5), 0);
  EXPECT_FALSE(asIs.IsSameValueExpr2(&lower));
  std::unique_ptr<SQLVTSCValueExpr> copy(asIs.Copy());
  EXPECT_TRUE(copy->IsSameValueExpr2(&asIs));
  SQLVTSCIntegerConst one(1);
  SQLVTSCRealConst realOne(1.0);
  EXPECT_FALSE(one.IsSameValueExpr2(&realOne));
  EXPECT_TRUE(SQLVTSCDateConst(4).IsSameValueExpr2(std::make_unique<SQLVTSCDateConst>(4).get()));
  std::unique_ptr<SQLRSSCValueExpr> rs(asIs.CreateRS());
  EXPECT_NE(rs, nullptr);
}

TEST(VtParameter, TypeComesFromFirstUse) {
  SQLParameter p, q, r;
  SQLVTSCParameterRef pr(&p), qr(&q), rr(&r);
  // REAL under tolerance, then INTEGER: narrows to INTEGER
  EXPECT_EQ(pr.Cast(SQL_REAL, true), &pr);
  EXPECT_EQ(p.GetType(), SQL_REAL);
  pr.Cast(SQL_INTEGER, false);
  EXPECT_EQ(p.GetType(), SQL_INTEGER);
  pr.Cast(SQL_REAL, true);  // a tolerant REAL use accepts the INTEGER
  EXPECT_EQ(p.GetType(), SQL_INTEGER);
  // INTEGER without tolerance, then REAL without: conflict
  qr.Cast(SQL_INTEGER, false);
  ExpectError([&] { qr.Cast(SQL_REAL, false); }, "42T13",
              "Type conflict on parameter. Parameter type is INTEGER, type REAL expected");
  // REAL without tolerance is definite: INTEGER later conflicts
  rr.Cast(SQL_REAL, false);
  ExpectError([&] { rr.Cast(SQL_INTEGER, false); }, "42T13",
              "Type conflict on parameter. Parameter type is REAL, type INTEGER expected");
  EXPECT_TRUE(pr.IsSameValueExpr2(std::make_unique<SQLVTSCParameterRef>(&p).get()));
  EXPECT_FALSE(pr.IsSameValueExpr2(&qr));
}

}  // namespace
