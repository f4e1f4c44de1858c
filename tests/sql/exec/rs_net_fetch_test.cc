// The table leaf: the query description it writes for every operator it
// absorbs (checked byte for byte), the merges of joins and unions, outer
// references as parameters, and its traffic with a scripted agent, also as
// a correlated subquery asked per outer value.
#include "sql/exec/rs_net_fetch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "absorbing_source.h"
#include "agent_peer.h"
#include "test_row_source.h"
#include "sql/common/sql_hints.h"
#include "sql/common/sql_parameter.h"
#include "sql/exec/rs_filter.h"
#include "sql/common/table_writes.h"
#include "sql/exec/held_rows.h"
#include "sql/exec/rs_group.h"
#include "sql/exec/rs_join.h"
#include "sql/exec/rs_project.h"
#include "sql/exec/rs_sort.h"
#include "sql/exec/rs_union.h"
#include "sql/exec/sc_scalar_subquery.h"
#include "sql/exec/sc_subquery_cond.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/sc_string_ops.h"
#include "sql/exec/sc_text_content.h"
#include "sql/exec/sort_spec.h"
#include "sql/validate/index_hints.h"

namespace {

using namespace molvane::test;

constexpr int kCompany = 100;

// Rows read here, which take no condition.
class LocalRows : public VectorRowSource {
 public:
  using VectorRowSource::VectorRowSource;
  SQLRowSource *PushFilter(SQLRSSCSearchCond *condition, SQLRSSCSearchCond **residual) override {
    *residual = condition;
    return this;
  }
};

class NetFetchTest : public testing::Test {
 protected:
  static std::unique_ptr<SQLRSNetFetch> Leaf(char const *table = "exemp010", SQLIndexHints const *hints = nullptr) {
    return std::unique_ptr<SQLRSNetFetch>(
        static_cast<SQLRSNetFetch *>(SQLRSFetch::CreateRSFetch(table, kCompany, hints)));
  }
  static int Id(char const *table, char const *column) {
    return SQLSchemaMgr::GetSchema(table)->GetColumnId(column);
  }
  static SQLRSSCColumnRef *Ref(SQLRowSource *rs, int column, int level = 0) {
    return new SQLRSSCColumnRef(level, column, rs->GetColumnDescriptor(column));
  }
  static pSQLRSSCValueExprList *One(SQLRSSCValueExpr *e) {
    auto *l = new pSQLRSSCValueExprList;
    l->Append(e);
    return l;
  }
  static SQLRSSCSearchCond *Eq(SQLRSSCValueExpr *a, SQLRSSCValueExpr *b) {
    return new SQLRSSCComparison(One(a), SQLRSSC_EQUAL, One(b));
  }
  // The text of text number 1: read from the texts table's own driver.
  static SQLRSSCValueExpr *ForeignText() {
    return new SQLRSSCTextContent(new SQLRSSCIntegerConst(1),
                                  new SQLRSSCStringConst(reinterpret_cast<unsigned char const *>("2"), 1), kCompany);
  }
  static ByteString Table(char const *name = "exemp010") {
    return Cat({Tok(SQLNWTRSTable), Mem(name), B2(kCompany), Tok(SQLNWTNoIndexHints)});
  }
  static ByteString EqBytes(int level, int column, int value) {
    return Cat({Tok(SQLNWTSCEquals), B2(1), Tok(SQLNWTVEColRef), B2(level), B2(column), Tok(SQLNWTVEIntegerConst),
                B4(value)});
  }

  AgentTestEnv env_;
};

TEST_F(NetFetchTest, ConstructorWritesTheTableAndItsIndexHints) {
  EXPECT_EQ(BytesOf(Leaf()->GetDescription()), Table());
  struct Case {
    SQLIndexHintMode mode;
    int token;
  } cases[] = {{SQL_INDEX_HINT_ANY, SQLNWTNull},
               {SQL_INDEX_HINT_ASCENDING, SQLNWTAscending},
               {SQL_INDEX_HINT_DESCENDING, SQLNWTDescending}};
  for (auto const &c : cases) {
    SQLIndexHints hints;
    hints.count = 2;
    hints.indexNumbers[0] = 1;
    hints.indexNumbers[1] = 3;
    hints.mode = c.mode;
    EXPECT_EQ(BytesOf(Leaf("exemp010", &hints)->GetDescription()),
              Cat({Tok(SQLNWTRSTable), Mem("exemp010"), B2(kCompany), Tok(SQLNWTIndexHints), B1(2), B1(1), B1(3),
                   Tok(c.token)}));
  }
  SQLIndexHints none;  // a count of 0 is no hint
  EXPECT_EQ(BytesOf(Leaf("exemp010", &none)->GetDescription()), Table());
  auto leaf = Leaf();
  EXPECT_EQ(leaf->GetNumCols(), SQLSchemaMgr::GetSchema("exemp010")->GetNumCols());
}

TEST_F(NetFetchTest, FilterShipsWhatTheDriverEvaluatesAndReturnsTheRest) {
  int emp = Id("exemp010", "emp");
  {  // three conjuncts, one reading a text of another driver
    auto leaf = Leaf();
    auto *foreign = Eq(ForeignText(), new SQLRSSCStringConst(reinterpret_cast<unsigned char const *>("x"), 1));
    auto *cond = new SQLRSSCAnd(new SQLRSSCAnd(Eq(Ref(leaf.get(), emp), new SQLRSSCIntegerConst(1)), foreign),
                                Eq(Ref(leaf.get(), emp), new SQLRSSCIntegerConst(2)));
    SQLRSSCSearchCond *rest = nullptr;
    leaf->PushFilter(cond, &rest);
    std::unique_ptr<SQLRSSCSearchCond> owned(rest);
    EXPECT_EQ(rest, foreign);
    EXPECT_EQ(BytesOf(leaf->GetDescription()),
              Cat({Tok(SQLNWTRSFilter), Tok(SQLNWTSCAnd), B2(2), EqBytes(0, emp, 1), EqBytes(0, emp, 2), Table()}));
  }
  {  // one shippable conjunct: no AND around it
    auto leaf = Leaf();
    SQLRSSCSearchCond *rest = nullptr;
    leaf->PushFilter(Eq(Ref(leaf.get(), emp), new SQLRSSCIntegerConst(7)), &rest);
    EXPECT_EQ(rest, nullptr);
    EXPECT_EQ(BytesOf(leaf->GetDescription()), Cat({Tok(SQLNWTRSFilter), EqBytes(0, emp, 7), Table()}));
  }
  {  // nothing shippable: nothing written, the condition comes back
    auto leaf = Leaf();
    auto *foreign = Eq(ForeignText(), new SQLRSSCStringConst(reinterpret_cast<unsigned char const *>("x"), 1));
    SQLRSSCSearchCond *rest = nullptr;
    leaf->PushFilter(foreign, &rest);
    std::unique_ptr<SQLRSSCSearchCond> owned(rest);
    EXPECT_EQ(rest, foreign);
    EXPECT_EQ(BytesOf(leaf->GetDescription()), Table());
  }
}

TEST_F(NetFetchTest, SortGroupPrepareAndHintsArePrependedInPrefixOrder) {
  auto leaf = Leaf();
  int emp = Id("exemp010", "emp"), dept = Id("exemp010", "dept"), salary = Id("exemp010", "salary");
  // GROUP BY dept: dept, COUNT(*), AVG(salary), MAX(emp), COUNT(emp)
  auto *columns = new intList;
  columns->Append(dept);
  auto *specs = new List<SQLRSGroupSpec>;
  specs->Append(SQLRSGroupSpec::Column(dept));
  specs->Append(SQLRSGroupSpec::CountStar());
  specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kAvg, RefPtr<SQLRSSCValueExpr>(Ref(leaf.get(), salary))));
  specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kMax, RefPtr<SQLRSSCValueExpr>(Ref(leaf.get(), emp))));
  specs->Append(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kCount, RefPtr<SQLRSSCValueExpr>(Ref(leaf.get(), emp))));
  bool accepted = false;
  leaf->PushGroup(columns, specs, &accepted);
  EXPECT_TRUE(accepted);
  ASSERT_EQ(leaf->GetNumCols(), 5);
  EXPECT_EQ(leaf->GetColumnDescriptor(0)->GetType(), SQL_STRING);
  EXPECT_EQ(leaf->GetColumnDescriptor(0)->GetLength(), 6u);
  EXPECT_EQ(leaf->GetColumnDescriptor(1)->GetType(), SQL_INTEGER);
  EXPECT_EQ(leaf->GetColumnDescriptor(2)->GetType(), SQL_REAL);
  EXPECT_EQ(leaf->GetColumnDescriptor(3)->GetType(), SQL_INTEGER);
  EXPECT_EQ(leaf->GetColumnDescriptor(4)->GetType(), SQL_INTEGER);
  ByteString group = Cat({Tok(SQLNWTRSGroup), B2(1), B2(dept), B2(5), Tok(SQLNWTColumnId), B2(dept),
                          Tok(SQLNWTCountStar), Tok(SQLNWTAvg), Tok(SQLNWTVEColRef), B2(0), B2(salary),
                          Tok(SQLNWTMax), Tok(SQLNWTVEColRef), B2(0), B2(emp), Tok(SQLNWTCount),
                          Tok(SQLNWTVEColRef), B2(0), B2(emp)});
  EXPECT_EQ(BytesOf(leaf->GetDescription()), Cat({group, Table()}));

  auto *order = new SQLSortSpecList;
  order->Append(SQLSortSpec(2, SQLSortSpec::kDescending));
  order->Append(SQLSortSpec(0, SQLSortSpec::kAscending));
  EXPECT_TRUE(leaf->PushSort(order));
  ByteString sort = Cat({Tok(SQLNWTRSSort), B2(2), B2(2), Tok(SQLNWTDescending), B2(0), Tok(SQLNWTAscending)});
  EXPECT_TRUE(leaf->RowSetIsPrepared());
  SQLHints hints;
  hints.SetArrayFetchingEnabled(false);
  hints.SetArrayFetchingSize(50);
  hints.SetOrdered();
  hints.SetString("abc");
  hints.SetRowMode(SQL_HINTS_FIRST_ROWS);
  hints.SetNoHints();
  hints.SetBufferSize(9);
  leaf->PushHints(&hints);
  ByteString hintBytes =
      Cat({Tok(SQLNWTRSHints), Tok(SQLNWTHintsArrayFetchingDisabled), Tok(SQLNWTHintsArrayFetchingSize), B4(50),
           Tok(SQLNWTHintsOrdered), Tok(SQLNWTHintsStringHint), Mem(std::string("abc", 4)),
           Tok(SQLNWTHintsRowModeFirstRows), Tok(SQLNWTHintsNoHints), Tok(SQLNWTTerminator)});
  EXPECT_EQ(BytesOf(leaf->GetDescription()), Cat({hintBytes, Tok(SQLNWTRSPrepare), sort, group, Table()}));
}

TEST_F(NetFetchTest, ProjectionKeepsShippableExpressionsAndAddsTheColumnsOthersNeed) {
  int emp = Id("exemp010", "emp"), name = Id("exemp010", "name"), dept = Id("exemp010", "dept");
  ASSERT_LT(dept, name);
  {
    auto leaf = Leaf();
    SQLRSSCValueExprRefPtrList list;
    list.Append(RefPtr<SQLRSSCValueExpr>(Ref(leaf.get(), emp)));
    list.Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCConcatenate(Ref(leaf.get(), name), ForeignText())));
    list.Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCConcatenate(Ref(leaf.get(), dept), ForeignText())));
    leaf->PushProject(&list);
    // emp stays; the foreign expressions go, their columns come in column order.
    ASSERT_EQ(list.NrElements(), 3);
    std::vector<int> ids;
    for (bool more = list.First(); more; more = list.Next())
      ids.push_back(static_cast<SQLRSSCColumnRef *>(list.GetCurrent().Get())->GetColumnId());
    EXPECT_EQ(ids, (std::vector<int>{emp, dept, name}));
    ASSERT_EQ(leaf->GetNumCols(), 3);
    EXPECT_EQ(leaf->GetColumnDescriptor(2)->GetLength(), 20u);
    EXPECT_EQ(BytesOf(leaf->GetDescription()),
              Cat({Tok(SQLNWTRSProject), B2(3), Tok(SQLNWTVEColRef), B2(0), B2(emp), Tok(SQLNWTVEColRef), B2(0),
                   B2(dept), Tok(SQLNWTVEColRef), B2(0), B2(name), Table()}));
  }
  {  // nothing to deliver: still one column, the first
    auto leaf = Leaf();
    SQLRSSCValueExprRefPtrList list;
    list.Append(RefPtr<SQLRSSCValueExpr>(ForeignText()));
    leaf->PushProject(&list);
    EXPECT_EQ(leaf->GetNumCols(), 1);
    EXPECT_EQ(BytesOf(leaf->GetDescription()),
              Cat({Tok(SQLNWTRSProject), B2(1), Tok(SQLNWTVEColRef), B2(0), B2(0), Table()}));
  }
}

TEST_F(NetFetchTest, OuterReferencesBecomeSharedParametersAndStatementParametersAreListedOnce) {
  auto leaf = Leaf();
  int emp = Id("exemp010", "emp");
  SQLColumnDescriptor outer("o", SQL_INTEGER, 4, 1);
  SQLParameter p;
  p.SetType(SQL_INTEGER, 4, 1);
  // emp = outer.3 AND emp = outer.3 AND emp = ? AND emp = ?
  auto *list = new pSQLRSSCSearchCondList;
  list->Append(Eq(Ref(leaf.get(), emp), new SQLRSSCColumnRef(-1, 3, &outer)));
  list->Append(Eq(Ref(leaf.get(), emp), new SQLRSSCColumnRef(-1, 3, &outer)));
  list->Append(Eq(Ref(leaf.get(), emp), new SQLRSSCParameterRef(&p)));
  list->Append(Eq(Ref(leaf.get(), emp), new SQLRSSCParameterRef(&p)));
  EXPECT_TRUE(leaf->IsConstant(0));
  SQLRSSCSearchCond *rest = nullptr;
  leaf->PushFilter(new SQLRSSCAnd(list), &rest);
  EXPECT_EQ(rest, nullptr);
  EXPECT_EQ(leaf->GetParameters().NrElements(), 1);
  EXPECT_FALSE(leaf->IsConstant(0));
  EXPECT_TRUE(leaf->IsVariable(0));
  ByteString description = BytesOf(leaf->GetDescription());
  // The outer reference travels as parameter 541 with its type, length and
  // depth; both occurrences name the same parameter.
  ByteString head = Cat({Tok(SQLNWTRSFilter), Tok(SQLNWTSCAnd), B2(4), Tok(SQLNWTSCEquals), B2(1),
                         Tok(SQLNWTVEColRef), B2(0), B2(emp), Tok(SQLNWTVEParameterRef)});
  ASSERT_TRUE(std::equal(head.begin(), head.end(), description.begin()));
  ByteString firstId(description.begin() + static_cast<long>(head.size()),
                     description.begin() + static_cast<long>(head.size()) + 5);
  ByteString outerParam = Cat({Tok(SQLNWTVEParameterRef), firstId, Tok(SQLNWTTypeInteger), B4(4), B4(1)});
  ByteString statementParam =
      Cat({Tok(SQLNWTVEParameterRef), B4(static_cast<std::int64_t>(p.GetId())), Tok(SQLNWTTypeInteger), B4(4), B4(1)});
  ByteString eqHead = Cat({Tok(SQLNWTSCEquals), B2(1), Tok(SQLNWTVEColRef), B2(0), B2(emp)});
  EXPECT_EQ(description, Cat({Tok(SQLNWTRSFilter), Tok(SQLNWTSCAnd), B2(4), eqHead, outerParam, eqHead, outerParam,
                              eqHead, statementParam, eqHead, statementParam, Table()}));
}

TEST_F(NetFetchTest, JoinOfTwoLeavesOfOneDriverBecomesOneDescription) {
  int emp = Id("exemp010", "emp"), dept = Id("exemp010", "dept"), code = Id("exdep010", "code");
  struct Case {
    SQLJoinType type;
    int token;
  } cases[] = {{SQL_JOIN_INNER, SQLNWTJoinTypeInner}, {SQL_JOIN_LEFT, SQLNWTJoinTypeLeft}};
  for (auto const &c : cases) {
    auto left = Leaf();
    auto right = Leaf("exdep010");
    int nl = left->GetNumCols(), nr = right->GetNumCols();
    SQLColumnDescriptor const *deptD = left->GetColumnDescriptor(dept);
    SQLColumnDescriptor const *codeD = right->GetColumnDescriptor(code);
    auto *cond = Eq(new SQLRSSCColumnRef(0, dept, deptD), new SQLRSSCColumnRef(0, nl + code, codeD));
    // A filter on the right side travels into the merged description.
    auto *rightFiltered = new SQLRSFilter(right.release(), Eq(new SQLRSSCColumnRef(0, code, codeD),
                                                              new SQLRSSCStringConst(reinterpret_cast<unsigned char const *>("A"), 1)));
    auto *join = new SQLRSJoin(c.type, left.release(), rightFiltered, cond);
    std::unique_ptr<SQLRowSource> tree(join->OptimizeRS());
    auto *leaf = dynamic_cast<SQLRSNetFetch *>(tree.get());
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(leaf->GetNumCols(), nl + nr);
    EXPECT_EQ(leaf->GetColumnDescriptor(nl + code)->GetName(), codeD->GetName());
    ByteString condBytes = Cat({Tok(SQLNWTSCEquals), B2(1), Tok(SQLNWTVEColRef), B2(0), B2(dept), Tok(SQLNWTVEColRef),
                                B2(0), B2(nl + code)});
    ByteString rightBytes = Cat({Tok(SQLNWTRSFilter), Tok(SQLNWTSCEquals), B2(1), Tok(SQLNWTVEColRef), B2(0), B2(code),
                                 Tok(SQLNWTVEStringConst), Mem("A"), Table("exdep010")});
    EXPECT_EQ(BytesOf(leaf->GetDescription()),
              Cat({Tok(SQLNWTRSJoin), Tok(c.token), condBytes, Table(), rightBytes}));
    (void)emp;
  }
}

TEST_F(NetFetchTest, JoinsThatOneQueryCannotDoStayLocal) {
  int dept = Id("exemp010", "dept"), code = Id("exdep010", "code");
  // FULL joins, tables of two drivers, and a filter that cannot travel with
  // the join (a text of another driver): the join stays, no process stop.
  for (int k = 0; k < 3; ++k) {
    auto left = Leaf();
    std::unique_ptr<SQLRowSource> right(k == 1 ? static_cast<SQLRowSource *>(Leaf("tttxt010").release())
                                               : Leaf("exdep010").release());
    int nl = left->GetNumCols();
    SQLRSSCSearchCond *cond = nullptr;
    if (k != 1)
      cond = Eq(new SQLRSSCColumnRef(0, dept, left->GetColumnDescriptor(dept)),
                new SQLRSSCColumnRef(0, nl + code, right->GetColumnDescriptor(code)));
    SQLRowSource *leftSide = left.release();
    if (k == 2)
      leftSide = new SQLRSFilter(leftSide, Eq(ForeignText(), new SQLRSSCStringConst(
                                                                  reinterpret_cast<unsigned char const *>("x"), 1)));
    auto *join = new SQLRSJoin(k == 0 ? SQL_JOIN_FULL : SQL_JOIN_INNER, leftSide, right.release(), cond);
    std::unique_ptr<SQLRowSource> tree(join->OptimizeRS());
    auto *local = dynamic_cast<SQLRSJoin *>(tree.get());
    ASSERT_NE(local, nullptr) << k;
    if (k == 2) {
      EXPECT_NE(dynamic_cast<SQLRSFilter *>(local->GetLeft()), nullptr);
    }
  }
}

TEST_F(NetFetchTest, LeftJoinUnderANullRejectingFilterIsShippedAsInner) {
  int dept = Id("exemp010", "dept"), code = Id("exdep010", "code");
  auto left = Leaf();
  auto right = Leaf("exdep010");
  int nl = left->GetNumCols();
  SQLColumnDescriptor const *codeD = right->GetColumnDescriptor(code);
  auto *cond = Eq(new SQLRSSCColumnRef(0, dept, left->GetColumnDescriptor(dept)), new SQLRSSCColumnRef(0, nl + code, codeD));
  auto *join = new SQLRSJoin(SQL_JOIN_LEFT, left.release(), right.release(), cond);
  auto *where = new SQLRSFilter(join, Eq(new SQLRSSCColumnRef(0, nl + code, codeD),
                                         new SQLRSSCStringConst(reinterpret_cast<unsigned char const *>("B"), 1)));
  std::unique_ptr<SQLRowSource> tree(where->OptimizeRS());
  auto *leaf = dynamic_cast<SQLRSNetFetch *>(tree.get());
  ASSERT_NE(leaf, nullptr);
  ByteString d = BytesOf(leaf->GetDescription());
  ByteString head = Cat({Tok(SQLNWTRSFilter), Tok(SQLNWTSCEquals), B2(1), Tok(SQLNWTVEColRef), B2(0), B2(nl + code),
                         Tok(SQLNWTVEStringConst), Mem("B"), Tok(SQLNWTRSJoin), Tok(SQLNWTJoinTypeInner)});
  EXPECT_TRUE(std::equal(head.begin(), head.end(), d.begin()));
}

TEST_F(NetFetchTest, UnionOfTwoLeavesMergesAndWidensTheColumns) {
  int emp = Id("exemp010", "emp"), salary = Id("exemp010", "salary"), name = Id("exemp010", "name");
  int depName = Id("exdep010", "name");
  auto left = Leaf();
  auto right = Leaf("exdep010");
  SQLRSSCValueExprRefPtrList l, r;
  l.Append(RefPtr<SQLRSSCValueExpr>(Ref(left.get(), emp)));
  l.Append(RefPtr<SQLRSSCValueExpr>(Ref(left.get(), name)));
  r.Append(RefPtr<SQLRSSCValueExpr>(Ref(left.get(), salary)));  // a REAL column, read from exemp010's layout
  r.Append(RefPtr<SQLRSSCValueExpr>(new SQLRSSCColumnRef(0, depName, right->GetColumnDescriptor(depName))));
  left->PushProject(&l);
  right->PushProject(&r);
  ByteString leftBytes = BytesOf(left->GetDescription());
  ByteString rightBytes = BytesOf(right->GetDescription());
  auto *u = new SQLRSUnion(left.release(), right.release(), false);
  std::unique_ptr<SQLRowSource> tree(u->OptimizeRS());
  auto *leaf = dynamic_cast<SQLRSNetFetch *>(tree.get());
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(BytesOf(leaf->GetDescription()), Cat({Tok(SQLNWTRSUnion), B2(0), leftBytes, rightBytes}));
  EXPECT_EQ(leaf->GetColumnDescriptor(0)->GetType(), SQL_REAL);  // INTEGER with REAL
  EXPECT_EQ(leaf->GetColumnDescriptor(1)->GetLength(), 20u);
}

TEST_F(NetFetchTest, ConstLeftOuterJoinIsShippedWithItsCondition) {
  int emp = Id("exemp010", "emp");
  auto leaf = Leaf();
  auto *cond = Eq(Ref(leaf.get(), emp), new SQLRSSCIntegerConst(4));
  auto *clo = new SQLRSConstLeftOuterJoin(leaf.release(), cond);
  std::unique_ptr<SQLRowSource> tree(clo->OptimizeRS());
  auto *shipped = dynamic_cast<SQLRSNetFetch *>(tree.get());
  ASSERT_NE(shipped, nullptr);
  EXPECT_EQ(BytesOf(shipped->GetDescription()), Cat({Tok(SQLNWTRSConstLeftOuterJoin), EqBytes(0, emp, 4), Table()}));

  // An ON condition that reads a text of another driver keeps the join
  // here, as it keeps an INNER join: the leaf takes the part it can run.
  auto other = Leaf();
  auto *foreign = new SQLRSSCAnd(Eq(Ref(other.get(), emp), new SQLRSSCIntegerConst(4)),
                                 Eq(ForeignText(), new SQLRSSCStringConst(reinterpret_cast<unsigned char const *>("x"), 1)));
  std::unique_ptr<SQLRowSource> kept((new SQLRSConstLeftOuterJoin(other.release(), foreign))->OptimizeRS());
  ASSERT_NE(dynamic_cast<SQLRSConstLeftOuterJoin *>(kept.get()), nullptr);
}

// Local joins inside a shipped subquery describe themselves with their
// operands behind them.
TEST_F(NetFetchTest, JoinRowSourcesWriteThemselvesIntoADescription) {
  int dept = Id("exemp010", "dept"), code = Id("exdep010", "code");
  auto left = Leaf();
  auto right = Leaf("exdep010");
  int nl = left->GetNumCols();
  auto *cond = Eq(new SQLRSSCColumnRef(0, dept, left->GetColumnDescriptor(dept)),
                  new SQLRSSCColumnRef(0, nl + code, right->GetColumnDescriptor(code)));
  ByteString condBytes = Cat({Tok(SQLNWTSCEquals), B2(1), Tok(SQLNWTVEColRef), B2(0), B2(dept), Tok(SQLNWTVEColRef),
                              B2(0), B2(nl + code)});
  SQLRSJoin join(SQL_JOIN_FULL, left.release(), right.release(), cond);
  SQLTokenString ts(20);
  SQLRSNetFetchParams params;
  join.createTokenString(&ts, 0, &params);
  EXPECT_EQ(BytesOf(ts), Cat({Tok(SQLNWTRSJoin), Tok(SQLNWTJoinTypeFull), condBytes, Table(), Table("exdep010")}));

  SQLRSJoin bare(SQL_JOIN_RIGHT, Leaf().release(), Leaf("exdep010").release(), nullptr);
  ts.Reset();
  bare.createTokenString(&ts, 0, &params);
  EXPECT_EQ(BytesOf(ts), Cat({Tok(SQLNWTRSJoin), Tok(SQLNWTJoinTypeRight), Tok(SQLNWTNull), Table(), Table("exdep010")}));

  auto leaf = Leaf();
  int emp = Id("exemp010", "emp");
  auto *c = Eq(Ref(leaf.get(), emp), new SQLRSSCIntegerConst(3));
  SQLRSConstLeftOuterJoin clo(leaf.release(), c);
  ts.Reset();
  clo.createTokenString(&ts, 0, &params);
  EXPECT_EQ(BytesOf(ts), Cat({Tok(SQLNWTRSConstLeftOuterJoin), EqBytes(0, emp, 3), Table()}));

  SQLRSConstLeftOuterJoin any(Leaf().release(), nullptr);  // the driver's reader takes this form too
  ts.Reset();
  any.createTokenString(&ts, 0, &params);
  EXPECT_EQ(BytesOf(ts), Cat({Tok(SQLNWTRSConstLeftOuterJoin), Tok(SQLNWTNull), Table()}));
}

// A buffer size given by hints becomes the rows per fetch the agent is
// asked for.
TEST_F(NetFetchTest, HintedBufferSizeIsTheRowsPerFetch) {
  auto leaf = Leaf();
  SQLHints hints;
  hints.SetBufferSize(9);
  leaf->PushHints(&hints);
  EXPECT_EQ(BytesOf(leaf->GetDescription()), Cat({Tok(SQLNWTRSHints), Tok(SQLNWTTerminator), Table()}));
  SQLRSPrepareContext context;
  leaf->Prepare(&context);
  leaf->Attach(5);
  leaf->Exec();
  SQLTokenString end(20);
  end.AppendToken(SQLNWTEndOfSet);
  end.AppendBs4(static_cast<std::int32_t>(leaf->GetStatementId()));
  env_.Peer().replies.push_back(Replies({&end}));
  EXPECT_EQ(leaf->Fetch(), 0);
  ByteString fetch = Cat({Tok(SQLNWTPacketForStmt), B4(static_cast<std::int64_t>(leaf->GetStatementId())),
                          Tok(SQLNWTPacketFetch), B4(9)});
  EXPECT_TRUE(Contains(env_.Peer().sent.back(), fetch));
}

TEST_F(NetFetchTest, RowsComeBackThroughTheAgentWithOuterValuesBound) {
  int emp = Id("exemp010", "emp"), name = Id("exemp010", "name");
  // SELECT emp, name FROM exemp010 WHERE emp = <outer column 0>, run under
  // an outer row whose column 0 holds 42.
  auto leaf = Leaf();
  SQLColumnDescriptor outerD("o", SQL_INTEGER, 4, 1);
  SQLRSSCSearchCond *rest = nullptr;
  leaf->PushFilter(Eq(Ref(leaf.get(), emp), new SQLRSSCColumnRef(-1, 0, &outerD)), &rest);
  SQLRSSCValueExprRefPtrList list;
  list.Append(RefPtr<SQLRSSCValueExpr>(Ref(leaf.get(), emp)));
  list.Append(RefPtr<SQLRSSCValueExpr>(Ref(leaf.get(), name)));
  leaf->PushProject(&list);

  VectorRowSource outer({SQL_INTEGER}, {{Cell::Int(42)}});
  SQLRSPrepareContext context;
  outer.Prepare(&context);
  outer.Exec();
  ASSERT_EQ(outer.Fetch(), 1);
  {
    SQLRSScopedRow row(context.Scope(), &outer);
    leaf->Prepare(&context);
  }
  leaf->Attach(5);
  leaf->Exec();
  unsigned long id = leaf->GetStatementId();
  std::vector<SQLColumnDescriptor const *> columns = {leaf->GetColumnDescriptor(0), leaf->GetColumnDescriptor(1)};
  env_.Peer().replies.push_back(RowSet(id, columns, {{RInt(42), RText("Ann")}, {RInt(42), RNull()}}));
  ASSERT_EQ(leaf->Fetch(), 1);
  EXPECT_EQ(leaf->GetValueStoreAddr(0)->GetInteger(), 42);
  EXPECT_EQ(std::string(leaf->GetValueStoreAddr(1)->GetString(), leaf->GetValueStoreAddr(1)->GetLength()), "Ann");
  ASSERT_EQ(leaf->Fetch(), 1);
  EXPECT_TRUE(leaf->GetValueStoreAddr(1)->IsNull());
  EXPECT_EQ(leaf->Fetch(), 0);
  ASSERT_FALSE(env_.Peer().sent.empty());
  ByteString batch = env_.Peer().sent.back();
  // The description went out in the prepare packet, and the outer value as
  // an INTEGER parameter.
  EXPECT_TRUE(Contains(batch, BytesOf(leaf->GetDescription())));
  EXPECT_TRUE(Contains(batch, Cat({Tok(SQLNWTTypeInteger), B4(42)})));
  leaf->Break();
  leaf->Close();
}

// SELECT o.0 FROM o WHERE <o.0 against (SELECT emp FROM exemp010 WHERE emp =
// o.0)>, o a source here whose values repeat and exemp010 on a driver:
// each execution asks the driver once per distinct value of o.0, in the
// order the values first come, and keeps nothing for the next execution (in
// another transaction), which sees the table as the driver then answers.
TEST_F(NetFetchTest, ACorrelatedSubqueryAsksItsDriverOncePerDistinctOuterValueAndExecution) {
  int const emp = Id("exemp010", "emp");
  static SQLColumnDescriptor const outerD("o", SQL_INTEGER, 4, 1);
  struct Case {
    char const *name;
    std::function<SQLRSSCSearchCond *(SQLRowSource *sub)> condition;
  } const cases[] = {
      {"EXISTS", [](SQLRowSource *sub) { return new SQLRSSCExists(sub); }},
      {"IN", [](SQLRowSource *sub) { return new SQLRSSCInSubquery(new SQLRSSCColumnRef(0, 0, &outerD), sub); }},
      {"scalar =",
       [](SQLRowSource *sub) { return Eq(new SQLRSSCColumnRef(0, 0, &outerD), new SQLRSSCScalarSubquery(sub)); }},
  };
  // Per execution: the emp values the table holds, and the rows of o that
  // find theirs.
  struct Execution {
    std::vector<int> held;
    std::vector<int> expected;
  } const executions[] = {{{5, 7}, {5, 5, 7}}, {{6}, {6, 6, 6}}};
  std::vector<int> const distinct = {5, 6, 7};
  for (auto const &c : cases) {
    SCOPED_TRACE(c.name);
    auto leaf = Leaf();
    SQLRSSCSearchCond *rest = nullptr;
    leaf->PushFilter(Eq(Ref(leaf.get(), emp), new SQLRSSCColumnRef(-1, 0, &outerD)), &rest);
    ASSERT_EQ(rest, nullptr);
    SQLRSSCValueExprRefPtrList list;
    list.Append(RefPtr<SQLRSSCValueExpr>(Ref(leaf.get(), emp)));
    leaf->PushProject(&list);
    SQLRSNetFetch *sub = leaf.get();
    std::vector<Row> outerRows;
    for (int v : {5, 6, 6, 5, 7, 6}) outerRows.push_back({Cell::Int(v)});
    auto *outer = new LocalRows({SQL_INTEGER}, outerRows);
    std::unique_ptr<SQLRowSource> tree((new SQLRSFilter(outer, c.condition(leaf.release())))->OptimizeRS());
    SQLRSPrepareContext context;
    tree->Prepare(&context);
    unsigned long const id = sub->GetStatementId();
    std::vector<SQLColumnDescriptor const *> const columns = {sub->GetColumnDescriptor(0)};
    ByteString const fetch = Cat({Tok(SQLNWTPacketForStmt), B4(static_cast<std::int64_t>(id)), Tok(SQLNWTPacketFetch)});
    unsigned long session = 5;
    for (auto const &e : executions) {
      tree->Attach(session++);
      // The driver's answers for 5, 6 and 7 in that order; spare empty
      // ones would serve a run per outer row.
      env_.Peer().replies.clear();
      for (int v : distinct) {
        std::vector<std::vector<ReplyValue>> rows;
        if (std::count(e.held.begin(), e.held.end(), v) > 0) rows.push_back({RInt(v)});
        env_.Peer().replies.push_back(RowSet(id, columns, rows));
      }
      for (int spare = 0; spare < 6; ++spare) env_.Peer().replies.push_back(RowSet(id, columns, {}));
      size_t const before = env_.Peer().sent.size();
      tree->Exec();
      std::vector<int> rows;
      while (tree->Fetch()) rows.push_back(tree->GetValueStoreAddr(0)->GetInteger());
      tree->Break();
      EXPECT_EQ(rows, e.expected);
      std::vector<int> asked;  // the outer value bound in each exchange that fetches
      for (size_t k = before; k < env_.Peer().sent.size(); ++k) {
        ByteString const &batch = env_.Peer().sent[k];
        if (!Contains(batch, fetch)) continue;
        asked.push_back(0);
        for (int v : distinct)
          if (Contains(batch, Cat({Tok(SQLNWTTypeInteger), B4(v)}))) asked.back() = v;
      }
      EXPECT_EQ(asked, distinct);
      tree->Close();
    }
  }
}

// The same with a second tree of the subquery that answers here
// (SQLRSLocalSubquery), o holding 20 distinct values: each execution asks
// the shipped statement for the first 16 of them, then reads the second
// tree's table once, with o.0 kept out of its statement, and answers the
// other 4 from the rows its leaf holds. A table of more rows than a leaf
// holds is read twice for the 17th value (to hold it, then to answer), and
// the shipped statement answers the last 3.
TEST_F(NetFetchTest, ACorrelatedSubqueryWithManyOuterValuesReadsItsTableOncePerExecution) {
  int const emp = Id("exemp010", "emp");
  static SQLColumnDescriptor const outerD("o", SQL_INTEGER, 4, 1);
  // SELECT emp FROM exemp010 WHERE emp = o.0, as built.
  auto subquery = [emp](SQLRSNetFetch **leaf) {
    SQLRSNetFetch *l = Leaf().release();
    *leaf = l;
    auto *filter = new SQLRSFilter(l, Eq(Ref(l, emp), new SQLRSSCColumnRef(-1, 0, &outerD)));
    auto *list = new pSQLRSSCValueExprList;
    list->Append(Ref(l, emp));
    return new SQLRSProject(filter, list);
  };
  struct Case {
    char const *name;
    std::function<SQLRSSCSearchCond *(SQLRowSource *, SQLRowSource *)> condition;
    bool large;  // the table holds more rows than a leaf holds
  } const cases[] = {
      {"EXISTS", [](SQLRowSource *sub, SQLRowSource *local) { return new SQLRSSCExists(sub, local); }, false},
      {"IN",
       [](SQLRowSource *sub, SQLRowSource *local) {
         return new SQLRSSCInSubquery(new SQLRSSCColumnRef(0, 0, &outerD), sub, local);
       },
       false},
      {"EXISTS over a large table",
       [](SQLRowSource *sub, SQLRowSource *local) { return new SQLRSSCExists(sub, local); }, true},
  };
  std::vector<int> const held = {3, 18};  // the emp values among 1 .. 20 that the table holds
  int const misses = SQLRSLocalSubquery::kMissesBeforeLocal;
  for (auto const &c : cases) {
    SCOPED_TRACE(c.name);
    SQLRSNetFetch *shipped = nullptr, *local = nullptr;
    SQLRowSource *sub = subquery(&shipped);
    SQLRowSource *second = subquery(&local);
    std::vector<Row> outerRows;
    for (int v = 1; v <= 20; ++v) outerRows.push_back({Cell::Int(v)});
    auto *outer = new LocalRows({SQL_INTEGER}, outerRows);
    std::unique_ptr<SQLRowSource> tree((new SQLRSFilter(outer, c.condition(sub, second)))->OptimizeRS());
    SQLRSPrepareContext context;
    tree->Prepare(&context);
    // The second tree's statement reads no outer value.
    EXPECT_FALSE(local->IsVariable(1));
    ASSERT_EQ(local->GetNumCols(), 1);
    std::vector<SQLColumnDescriptor const *> const columns = {shipped->GetColumnDescriptor(0)};
    std::vector<SQLColumnDescriptor const *> const localColumns = {local->GetColumnDescriptor(0)};
    std::vector<std::vector<ReplyValue>> table = {{RInt(held[0])}, {RInt(held[1])}};
    for (size_t i = 0; c.large && i < SQLRSHeldRows::kMaxRows; ++i) table.push_back({RInt(1000 + static_cast<int>(i))});
    auto shippedAnswer = [&](int v) {
      std::vector<std::vector<ReplyValue>> rows;
      if (std::count(held.begin(), held.end(), v) > 0) rows.push_back({RInt(v)});
      return RowSet(shipped->GetStatementId(), columns, rows);
    };
    auto fetches = [](unsigned long id) {
      return Cat({Tok(SQLNWTPacketForStmt), B4(static_cast<std::int64_t>(id)), Tok(SQLNWTPacketFetch)});
    };
    for (unsigned long session : {5, 6}) {
      tree->Attach(session);
      env_.Peer().replies.clear();
      for (int v = 1; v <= misses; ++v) env_.Peer().replies.push_back(shippedAnswer(v));
      env_.Peer().replies.push_back(RowSet(local->GetStatementId(), localColumns, table));
      if (c.large) {
        env_.Peer().replies.push_back(RowSet(local->GetStatementId(), localColumns, table));
        for (int v = misses + 2; v <= 20; ++v) env_.Peer().replies.push_back(shippedAnswer(v));
      }
      size_t const before = env_.Peer().sent.size();
      tree->Exec();
      std::vector<int> rows;
      while (tree->Fetch()) rows.push_back(tree->GetValueStoreAddr(0)->GetInteger());
      tree->Break();
      EXPECT_EQ(rows, held);
      int shippedAsked = 0, localAsked = 0;
      for (size_t k = before; k < env_.Peer().sent.size(); ++k) {
        if (Contains(env_.Peer().sent[k], fetches(shipped->GetStatementId()))) ++shippedAsked;
        if (Contains(env_.Peer().sent[k], fetches(local->GetStatementId()))) ++localAsked;
      }
      EXPECT_EQ(shippedAsked, c.large ? 20 - 1 : misses);
      EXPECT_EQ(localAsked, c.large ? 2 : 1);
      tree->Close();
    }
  }
}

// o INNER JOIN exemp010 ON o.0 = emp, o a source here and exemp010 on a
// driver: the driver is asked once for the whole table while it holds no
// more rows than a leaf holds, and beyond that once for the distinct values
// of o.0 that are not NULL (an IN list), never once per outer row, not
// again for a value a batch of outer rows before asked, and not at all
// when o has no row. Both give the rows in o's order, each with its
// partners, in every execution.
TEST_F(NetFetchTest, AnInnerJoinWithAnotherDriversTableReadsItOnceOrPerBatchOfKeys) {
  int const emp = Id("exemp010", "emp");
  struct Case {
    char const *name;
    bool large;  // the table holds more rows than a leaf holds
    std::vector<int> outer;  // o.0, -1 for NULL
    std::vector<int> expected;
  };
  // Two batches of outer rows (1,024 a batch) of the same three values.
  std::vector<int> manyOuter, manyExpected;
  for (int i = 0; i < 1100; ++i) {
    int const v = 5 + i % 3;
    manyOuter.push_back(v);
    for (int k = 0; k < (v == 5 ? 1 : v == 7 ? 2 : 0); ++k) manyExpected.push_back(v);
  }
  Case const cases[] = {{"small", false, {5, -1, 6, 5, 7}, {5, 6, 6, 5}},
                        {"large", true, {5, -1, 6, 5, 7}, {5, 5, 7, 7}},
                        {"large, two batches", true, manyOuter, manyExpected},
                        {"no outer row", false, {}, {}}};
  for (auto const &c : cases) {
    SCOPED_TRACE(c.name);
    auto leaf = Leaf();
    SQLRSSCValueExprRefPtrList list;
    list.Append(RefPtr<SQLRSSCValueExpr>(Ref(leaf.get(), emp)));
    leaf->PushProject(&list);
    SQLRSNetFetch *inner = leaf.get();
    std::vector<Row> outerRows;
    for (int v : c.outer) outerRows.push_back({v < 0 ? Cell::Null() : Cell::Int(v)});
    auto *outer = new Absorbing({SQL_INTEGER}, outerRows);
    auto *on = Eq(new SQLRSSCColumnRef(0, 0, outer->GetColumnDescriptor(0)),
                  new SQLRSSCColumnRef(0, 1, inner->GetColumnDescriptor(0)));
    std::unique_ptr<SQLRowSource> tree((new SQLRSJoin(SQL_JOIN_INNER, outer, leaf.release(), on))->OptimizeRS());
    SQLRSPrepareContext context;
    tree->Prepare(&context);
    std::vector<SQLColumnDescriptor const *> const columns = {inner->GetColumnDescriptor(0)};
    std::vector<std::vector<ReplyValue>> table;
    if (c.large)
      for (size_t i = 0; i <= SQLRSHeldRows::kMaxRows; ++i) table.push_back({RInt(1000 + static_cast<int>(i))});
    else
      table = {{RInt(5)}, {RInt(6)}, {RInt(6)}, {RInt(9)}};
    auto fetches = [](unsigned long id) {
      return Cat({Tok(SQLNWTPacketForStmt), B4(static_cast<std::int64_t>(id)), Tok(SQLNWTPacketFetch)});
    };
    // The statement of the key lists: the one besides the leaf's own that
    // an exchange fetches from, or 0.
    auto keyStatement = [&](ByteString const &sent) -> unsigned long {
      for (unsigned long id = 1; id < 1000; ++id)
        if (id != inner->GetStatementId() && Contains(sent, fetches(id))) return id;
      return 0;
    };
    // Every key list of values 5, 6 and 7 gets the rows of 5 and 7.
    env_.Peer().answer = [&](ByteString const &sent) {
      unsigned long const id = keyStatement(sent);
      return id == 0 ? ByteString() : RowSet(id, columns, {{RInt(5)}, {RInt(7)}, {RInt(7)}});
    };
    for (unsigned long session : {5, 6}) {
      tree->Attach(session);
      env_.Peer().replies.clear();
      env_.Peer().replies.push_back(RowSet(inner->GetStatementId(), columns, table));
      size_t const before = env_.Peer().sent.size();
      tree->Exec();
      std::vector<int> rows;
      while (tree->Fetch()) {
        EXPECT_EQ(tree->GetValueStoreAddr(0)->GetInteger(), tree->GetValueStoreAddr(1)->GetInteger());
        rows.push_back(tree->GetValueStoreAddr(0)->GetInteger());
      }
      tree->Break();
      EXPECT_EQ(rows, c.expected);
      int plainAsked = 0, keysAsked = 0;
      ByteString keys;
      for (size_t k = before; k < env_.Peer().sent.size(); ++k) {
        if (Contains(env_.Peer().sent[k], fetches(inner->GetStatementId()))) ++plainAsked;
        if (keyStatement(env_.Peer().sent[k]) != 0) {
          ++keysAsked;
          keys = env_.Peer().sent[k];
        }
      }
      EXPECT_EQ(plainAsked, c.outer.empty() ? 0 : 1);
      EXPECT_EQ(keysAsked, c.large ? 1 : 0);
      for (int v : {5, 6, 7})
        EXPECT_EQ(Contains(keys, Cat({Tok(SQLNWTTypeInteger), B4(v)})), c.large) << v;
      tree->Close();
    }
    env_.Peer().answer = nullptr;
  }
}

// The same join in batches, 300 distinct values of o.0 in the first batch
// (two key lists) and 26 of them again in the second beside 50 new ones,
// while the transaction writes exemp010 after the joined row of the last
// outer row of the first batch, or of one in its middle: every value is
// asked once per execution, and once more when the batch read after the
// write holds it (the one under way, read again whole, or the next), and
// each outer row after the write meets the rows as the driver then
// answers. Also with 256, 257 and 258 distinct values in the first batch:
// one key list full, and one more of one or two values.
TEST_F(NetFetchTest, AnInnerJoinInBatchesAsksEachKeyOnceAndAgainAfterAWrite) {
  int const emp = Id("exemp010", "emp");
  // The driver's rows of a value before the write and after it.
  auto partner = [](int v, int version) { return version == 0 ? v % 2 == 0 : v % 3 == 0; };
  size_t const batch = 4 * SQLRSFetch::kKeyListLength;
  struct Case {
    char const *name;
    int writeAfter;  // the outer row whose joined row comes last before the write, -1: none
    int distinctFirst = 300;  // the distinct values of the first batch
  } const cases[] = {{"no write", -1},
                     {"a write between batches", static_cast<int>(batch) - 1},
                     {"a write in a batch", 501},
                     {"256 values", -1, 256},
                     {"257 values", -1, 257},
                     {"258 values", -1, 258}};
  for (auto const &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int> values;
    for (int i = 0; i < 1100; ++i) values.push_back(i < 1050 ? 1001 + i % c.distinctFirst : 2000 + i);
    ASSERT_TRUE(c.writeAfter < 0 || partner(values[static_cast<size_t>(c.writeAfter)], 0));
    auto leaf = Leaf();
    SQLRSSCValueExprRefPtrList list;
    list.Append(RefPtr<SQLRSSCValueExpr>(Ref(leaf.get(), emp)));
    leaf->PushProject(&list);
    SQLRSNetFetch *inner = leaf.get();
    std::vector<Row> outerRows;
    for (int v : values) outerRows.push_back({Cell::Int(v)});
    auto *outer = new Absorbing({SQL_INTEGER}, outerRows);
    auto *on = Eq(new SQLRSSCColumnRef(0, 0, outer->GetColumnDescriptor(0)),
                  new SQLRSSCColumnRef(0, 1, inner->GetColumnDescriptor(0)));
    std::unique_ptr<SQLRowSource> tree((new SQLRSJoin(SQL_JOIN_INNER, outer, leaf.release(), on))->OptimizeRS());
    SQLRSPrepareContext context;
    tree->Prepare(&context);
    std::vector<SQLColumnDescriptor const *> const columns = {inner->GetColumnDescriptor(0)};
    std::vector<std::vector<ReplyValue>> table;  // more rows than a leaf holds: batches
    for (size_t i = 0; i <= SQLRSHeldRows::kMaxRows; ++i) table.push_back({RInt(1000 + static_cast<int>(i))});
    auto fetches = [](unsigned long id) {
      return Cat({Tok(SQLNWTPacketForStmt), B4(static_cast<std::int64_t>(id)), Tok(SQLNWTPacketFetch)});
    };
    auto keyStatement = [&](ByteString const &sent) -> unsigned long {
      for (unsigned long id = 1; id < 1000; ++id)
        if (id != inner->GetStatementId() && Contains(sent, fetches(id))) return id;
      return 0;
    };
    std::vector<int> distinct = values;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    int version = 0;
    std::map<int, int> asked;  // per value, the key lists that held it
    env_.Peer().answer = [&](ByteString const &sent) {
      unsigned long const id = keyStatement(sent);
      if (id == 0) return ByteString();
      std::vector<std::vector<ReplyValue>> rows;
      for (int v : distinct) {
        if (!Contains(sent, Cat({Tok(SQLNWTTypeInteger), B4(v)}))) continue;
        ++asked[v];
        if (partner(v, version)) rows.push_back({RInt(v)});
      }
      return RowSet(id, columns, rows);
    };
    tree->Attach(5);
    env_.Peer().replies.clear();
    env_.Peer().replies.push_back(RowSet(inner->GetStatementId(), columns, table));
    tree->Exec();
    std::vector<int> rows, expected;
    size_t rowsBefore = 0;  // the joined rows before the write
    for (size_t i = 0; i < values.size(); ++i) {
      int const v = values[i];
      bool const written = c.writeAfter >= 0 && static_cast<int>(i) > c.writeAfter;
      if (partner(v, written ? 1 : 0)) expected.push_back(v);
      if (!written && partner(v, 0)) ++rowsBefore;
    }
    while (rows.size() < (c.writeAfter < 0 ? expected.size() : rowsBefore) && tree->Fetch())
      rows.push_back(tree->GetValueStoreAddr(1)->GetInteger());
    if (c.writeAfter >= 0) {
      version = 1;
      SQLTableWrites::Note("exemp010", 8);
    }
    while (tree->Fetch()) rows.push_back(tree->GetValueStoreAddr(1)->GetInteger());
    tree->Break();
    EXPECT_EQ(rows, expected);
    // Asked again: the values asked before the write (by the batches up to
    // the one under way) that the batch read after it holds (the one under
    // way, or the next).
    std::set<int> before, after;
    if (c.writeAfter >= 0) {
      auto row = [&](size_t i) { return values.begin() + static_cast<std::ptrdiff_t>(std::min(i, values.size())); };
      size_t const last = static_cast<size_t>(c.writeAfter) / batch;   // the batch of the write's outer row
      size_t const next = (static_cast<size_t>(c.writeAfter) + 1) / batch;  // the batch read after it
      before.insert(row(0), row((last + 1) * batch));
      after.insert(row(next * batch), row((next + 1) * batch));
    }
    for (int v : distinct) EXPECT_EQ(asked[v], before.count(v) > 0 && after.count(v) > 0 ? 2 : 1) << v;
    tree->Close();
    env_.Peer().answer = nullptr;
  }
}

// The rows a leaf holds for an execution: handed out again from the first
// at every Rewind, forgotten at the next execution or after a write to
// their table or an abort, and not kept at all beyond kMaxRows rows or beyond the room
// the statement's bound has left, which marks that execution only.
TEST(HeldRows, KeepsOneExecutionsRowsWithinTheirBounds) {
  SQLRSExecutions executions;
  SQLValueStore a, b;
  SQLRSHeldRows held;
  held.Prepare(&executions, {&a, &b});
  held.Watch()->Add("tsthld01", 8);
  auto add = [&](int n, size_t textLength) {
    held.Begin();
    for (int i = 0; i < n; ++i) {
      a.SetInteger(i);
      if (i % 2 == 0) b.SetNull();
      else b.SetString(std::string(textLength, 'x').c_str());
      if (!held.Add()) return false;
    }
    held.Finish();
    return true;
  };
  ASSERT_TRUE(add(3, 4));
  EXPECT_TRUE(held.Held());
  for (int pass = 0; pass < 2; ++pass) {
    held.Rewind();
    std::vector<int> got;
    while (held.Next()) {
      got.push_back(a.GetInteger());
      EXPECT_EQ(b.IsNull(), got.back() % 2 == 0);
    }
    EXPECT_EQ(got, (std::vector<int>{0, 1, 2}));
  }
  SQLTableWrites::Note("tsthld02", 8);  // another table
  EXPECT_TRUE(held.Held());
  EXPECT_TRUE(held.Held());  // the other table's write was looked at once
  SQLTableWrites::Note("tsthld01", 8);
  EXPECT_FALSE(held.Held());
  EXPECT_EQ(executions.Free(), SQLRSExecutions::kMaxKept);  // the rows' memory is given back
  ASSERT_TRUE(add(3, 4));
  EXPECT_TRUE(held.Held());
  SQLTableWrites::NoteAll();  // an abort
  EXPECT_FALSE(held.Held());
  ASSERT_TRUE(add(3, 4));
  EXPECT_TRUE(held.Held());
  executions.Next();
  EXPECT_FALSE(held.Held());
  EXPECT_FALSE(held.Overflowed());
  EXPECT_FALSE(add(static_cast<int>(SQLRSHeldRows::kMaxRows) + 1, 1));
  EXPECT_FALSE(held.Held());
  EXPECT_TRUE(held.Overflowed());
  executions.Next();
  EXPECT_FALSE(held.Overflowed());
  EXPECT_TRUE(add(static_cast<int>(SQLRSHeldRows::kMaxRows), 1));
  executions.Next();
  // The other holders of the statement left room for 30 of these rows.
  ASSERT_TRUE(executions.Reserve(executions.Free() - 30 * (2 * sizeof(SQLValueStore) + 100000)));
  EXPECT_TRUE(add(40, 100000));  // half are NULL
  executions.Next();
  EXPECT_FALSE(add(80, 100000));
  EXPECT_TRUE(held.Overflowed());
}

}  // namespace
