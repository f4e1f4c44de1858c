// Leaf and structural value expressions: constants, column and parameter
// references, reinterpretation, scalar subqueries and the simple CASE.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_parameter.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/net_fetch_params.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/sc_reinterpret_cast.h"
#include "sql/exec/sc_scalar_subquery.h"
#include "sql/exec/sc_simple_case.h"
#include "sql/exec/visitors.h"
#include "test_row_source.h"

namespace molvane::test {
namespace {

SQLRSSCValueExpr *Str(char const *s) {
  return new SQLRSSCStringConst(reinterpret_cast<unsigned char const *>(s), std::strlen(s));
}

// Prepares and evaluates e outside any row; returns its store.
SQLValueStore const *Eval(SQLRSSCValueExpr *e) {
  SQLRSPrepareContext context;
  SQLValueStore const *vs = e->Prepare(&context);
  e->Evaluate();
  return vs;
}

std::string StateOf(std::function<void()> f) {
  try {
    f();
  } catch (SQLException const &e) {
    return e.GetSQLState();
  }
  return "";
}

// ---- reinterpretation ----

struct CastCase {
  double number;  // an INTEGER when it is whole and fits, else a REAL
  bool real;
  SQLType type;
  char const *state;     // "" when it succeeds
  long long expected;    // the stored number
};

class ReinterpretCast : public testing::TestWithParam<CastCase> {};

TEST_P(ReinterpretCast, StoresTheNumberOrRefusesItsRange) {
  CastCase c = GetParam();
  SQLRSSCValueExpr *operand = c.real ? static_cast<SQLRSSCValueExpr *>(new SQLRSSCRealConst(c.number))
                                     : new SQLRSSCIntegerConst(static_cast<long>(c.number));
  SQLRSSCReinterpretCast cast(operand, c.type);
  SQLRSPrepareContext context;
  SQLValueStore const *vs = cast.Prepare(&context);
  EXPECT_EQ(StateOf([&] { cast.Evaluate(); }), c.state);
  if (*c.state) return;
  EXPECT_EQ(vs->GetType(), c.type);
  long long got = (c.type == SQL_TIMESTAMP || c.type == SQL_INTERVAL_SECONDS) ? vs->GetTimestamp()
                                                                               : vs->GetInteger();
  EXPECT_EQ(got, c.expected);
  EXPECT_EQ(cast.GetColumnDescriptor().GetType(), c.type);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReinterpretCast,
    testing::Values(CastCase{3652059, false, SQL_DATE, "", 3652059},
                    CastCase{3652060, false, SQL_DATE, "22008", 0},
                    CastCase{-5, false, SQL_DATE, "", -5},
                    CastCase{2147483648.0, true, SQL_INTERVAL_DAYS, "22008", 0},
                    CastCase{-2147483649.0, true, SQL_INTERVAL_DAYS, "22008", 0},
                    CastCase{2.9, true, SQL_INTERVAL_DAYS, "", 2},
                    CastCase{-2.9, true, SQL_DATE, "", -2},
                    CastCase{1e18, true, SQL_TIMESTAMP, "", 1000000000000000000LL},
                    CastCase{1e300, true, SQL_INTERVAL_SECONDS, "22008", 0},
                    CastCase{-7, false, SQL_INTERVAL_SECONDS, "", -7}));

TEST(ReinterpretCastNull, NullStaysNull) {
  SQLParameter p;
  p.SetType(SQL_INTEGER, 0, 1);
  p.SetNull();
  SQLRSSCReinterpretCast cast(new SQLRSSCParameterRef(&p), SQL_DATE);
  EXPECT_TRUE(Eval(&cast)->IsNull());
}

// ---- identity ----

TEST(ValueExprIdentity, DoubleDispatchComparesMembersOfTheSameClassOnly) {
  struct Case {
    SQLRSSCValueExprPtr a, b;
    bool same;
  };
  SQLColumnDescriptor d("c", SQL_INTEGER, 4, 1);
  SQLParameter p1, p2;
  Case cases[] = {
      {SQLRSSCValueExprPtr(new SQLRSSCIntegerConst(3)), SQLRSSCValueExprPtr(new SQLRSSCIntegerConst(3)), true},
      {SQLRSSCValueExprPtr(new SQLRSSCIntegerConst(3)), SQLRSSCValueExprPtr(new SQLRSSCIntegerConst(4)), false},
      {SQLRSSCValueExprPtr(new SQLRSSCIntegerConst(3)), SQLRSSCValueExprPtr(new SQLRSSCRealConst(3.0)), false},
      {SQLRSSCValueExprPtr(new SQLRSSCRealConst(0.0)), SQLRSSCValueExprPtr(new SQLRSSCRealConst(-0.0)), true},
      {SQLRSSCValueExprPtr(Str("ab")), SQLRSSCValueExprPtr(Str("ab  ")), true},  // blank-padded
      {SQLRSSCValueExprPtr(Str("ab")), SQLRSSCValueExprPtr(Str("abc")), false},
      {SQLRSSCValueExprPtr(new SQLRSSCDateConst(10)), SQLRSSCValueExprPtr(new SQLRSSCIntegerConst(10)), false},
      {SQLRSSCValueExprPtr(new SQLRSSCColumnRef(0, 2, &d)), SQLRSSCValueExprPtr(new SQLRSSCColumnRef(0, 2, &d)), true},
      {SQLRSSCValueExprPtr(new SQLRSSCColumnRef(0, 2, &d)), SQLRSSCValueExprPtr(new SQLRSSCColumnRef(-1, 2, &d)), false},
      {SQLRSSCValueExprPtr(new SQLRSSCParameterRef(&p1)), SQLRSSCValueExprPtr(new SQLRSSCParameterRef(&p1)), true},
      {SQLRSSCValueExprPtr(new SQLRSSCParameterRef(&p1)), SQLRSSCValueExprPtr(new SQLRSSCParameterRef(&p2)), false},
      {SQLRSSCValueExprPtr(new SQLRSSCReinterpretCast(new SQLRSSCIntegerConst(1), SQL_DATE)),
       SQLRSSCValueExprPtr(new SQLRSSCReinterpretCast(new SQLRSSCIntegerConst(1), SQL_DATE)), true},
      {SQLRSSCValueExprPtr(new SQLRSSCReinterpretCast(new SQLRSSCIntegerConst(1), SQL_DATE)),
       SQLRSSCValueExprPtr(new SQLRSSCReinterpretCast(new SQLRSSCIntegerConst(1), SQL_INTERVAL_DAYS)), false},
  };
  for (auto &c : cases) {
    EXPECT_EQ(c.a->IsSameValueExpr(c.b.get()), c.same);
    EXPECT_EQ(c.b->IsSameValueExpr(c.a.get()), c.same);
    EXPECT_TRUE(c.a->IsSameValueExpr(c.a.get()));
    SQLRSSCValueExprPtr copy(c.a->Copy());
    EXPECT_TRUE(copy->IsSameValueExpr(c.a.get()));
  }
}

TEST(ValueExprIdentity, IntegerConstantOutsideThirtyTwoBitsIsRefused) {
  EXPECT_EQ(StateOf([] { SQLRSSCIntegerConst c(2147483648L); }), "22003");
}

// ---- column and parameter references ----

TEST(ColumnRef, ReadsTheStoreOfItsRowSourceInPlace) {
  VectorRowSource rows({SQL_INTEGER, SQL_STRING}, {{Cell::Int(7), Cell::Text("x")}});
  SQLRSPrepareContext context;
  SQLColumnDescriptor d("c1", SQL_STRING, 0, 1);
  SQLRSSCColumnRef ref(0, 1, &d);
  SQLValueStore const *vs;
  {
    SQLRSScopedRow row(context.Scope(), &rows);
    vs = ref.Prepare(&context);
  }
  EXPECT_EQ(vs, rows.GetValueStoreAddr(1));
  rows.Exec();
  ASSERT_TRUE(rows.Fetch());
  ref.Evaluate();
  EXPECT_STREQ(vs->GetString(), "x");
}

TEST(ColumnRef, OuterReferenceBecomesAParameterReference) {
  SQLColumnDescriptor d("c", SQL_INTEGER, 4, 1);
  SQLParameter p0, p1;
  intList ids;
  ids.Append(3);
  ids.Append(5);
  pSQLParameterList params;
  params.Append(&p0);
  params.Append(&p1);
  SQLRSSCValueExprPtr ref(new SQLRSSCColumnRef(-1, 5, &d));
  SQLRSSCReplaceCRefs(&ref, 1, &ids, &params);
  ASSERT_TRUE(ref->IsParameterRef());
  EXPECT_EQ(static_cast<SQLRSSCParameterRef *>(ref.get())->GetParameter(), &p1);

  // Another level, or an id not in the list, keeps the reference.
  SQLRSSCValueExprPtr other(new SQLRSSCColumnRef(-1, 4, &d));
  SQLRSSCReplaceCRefs(&other, 1, &ids, &params);
  EXPECT_TRUE(other->IsColumnRef());
  SQLRSSCValueExprPtr inner(new SQLRSSCColumnRef(0, 5, &d));
  SQLRSSCReplaceCRefs(&inner, 1, &ids, &params);
  EXPECT_TRUE(inner->IsColumnRef());
}

TEST(ColumnRef, NullValueOnNullifiedColumns) {
  SQLColumnDescriptor scalar("c", SQL_INTEGER, 4, 1), array("a", SQL_INTEGER, 4, 3);
  List<Interval<int>> ranges;
  ranges.Append(Interval<int>(2, 4));
  struct Case {
    int level, id, argLevel;
    SQLColumnDescriptor const *d;
    SQLTruthValue expected;
  } cases[] = {
      {0, 2, 0, &scalar, TV_TRUE},   {0, 4, 0, &scalar, TV_TRUE},  {0, 5, 0, &scalar, TV_UNKNOWN},
      {-1, 3, 0, &scalar, TV_UNKNOWN}, {-1, 3, 1, &scalar, TV_TRUE}, {0, 3, 0, &array, TV_FALSE},
  };
  for (auto const &c : cases) {
    SQLRSSCColumnRef ref(c.level, c.id, c.d);
    EXPECT_EQ(ref.NullValueOnNullifiedCols(c.argLevel, &ranges), c.expected) << c.level << "," << c.id;
  }
  SQLRSSCIntegerConst k(1);
  EXPECT_EQ(k.NullValueOnNullifiedCols(0, &ranges), TV_FALSE);
}

TEST(ColumnRef, CollectsOuterOrSameLevelReferences) {
  SQLColumnDescriptor d("c", SQL_INTEGER, 4, 1);
  SQLRSSCColumnRef outer(-1, 0, &d), own(0, 1, &d);
  pSQLRSSCColumnRefList outers, owns;
  for (SQLRSSCColumnRef *r : {&outer, &own}) {
    r->GetColumnRefs(0, SQL_CREF_OUTER, &outers);
    r->GetColumnRefs(0, SQL_CREF_LEVEL, &owns);
  }
  ASSERT_EQ(outers.NrElements(), 1);
  outers.First();
  EXPECT_EQ(outers.GetCurrent(), &outer);
  ASSERT_EQ(owns.NrElements(), 1);
  owns.First();
  EXPECT_EQ(owns.GetCurrent(), &own);
}

TEST(ParameterRef, SeesEveryNewBinding) {
  SQLParameter p;
  p.SetType(SQL_INTEGER, 0, 1);
  p.BindInteger(1);
  SQLRSSCParameterRef ref(&p);
  SQLValueStore const *vs = Eval(&ref);
  EXPECT_EQ(vs->GetInteger(), 1);
  p.BindInteger(2);
  ref.Evaluate();
  EXPECT_EQ(vs->GetInteger(), 2);
  p.SetNull();
  ref.Evaluate();
  EXPECT_TRUE(vs->IsNull());
  EXPECT_FALSE(ref.IsConstant());
  SQLRSSCIntegerConst k(3);
  EXPECT_TRUE(k.IsConstant());
}

TEST(ValueExprTokens, OuterColumnTravelsAsAParameterAndInnerAsAColumn) {
  SQLColumnDescriptor d("c", SQL_INTEGER, 4, 1);
  SQLRSSCColumnRef outer(-1, 7, &d), inner(0, 2, &d);
  SQLRSNetFetchParams params;
  SQLTokenString ts;
  outer.createTokenString(&ts, 0, &params);
  outer.createTokenString(&ts, 0, &params);  // the same parameter again
  inner.createTokenString(&ts, 0, &params);
  ASSERT_EQ(params.Count(), 1);
  SQLParameter *p = params.Get(0)->GetParam();
  EXPECT_EQ(params.Get(0)->GetRelScopeLevel(), -1);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(ts.GetToken(), SQLNWTVEParameterRef);
    EXPECT_EQ(static_cast<unsigned long>(ts.GetBs4()), p->GetId());
    EXPECT_EQ(ts.GetType(), SQL_INTEGER);
    EXPECT_EQ(ts.GetBs4(), 4);
    EXPECT_EQ(ts.GetBs4(), 1);
  }
  EXPECT_EQ(ts.GetToken(), SQLNWTVEColRef);
  EXPECT_EQ(ts.GetBs2(), 0);
  EXPECT_EQ(ts.GetBs2(), 2);
  EXPECT_TRUE(ts.AtEnd());
  // Seen from one level deeper, the outer reference is inside the description.
  SQLTokenString deeper;
  outer.createTokenString(&deeper, 1, &params);
  EXPECT_EQ(deeper.GetToken(), SQLNWTVEColRef);
}

// ---- scalar subqueries ----

TEST(ScalarSubquery, NoRowOneRowOrTooMany) {
  struct Case {
    std::vector<Row> rows;
    char const *state;
    bool null;
    int value;
  } cases[] = {
      {{}, "", true, 0},
      {{{Cell::Int(5), Cell::Int(9)}}, "", false, 5},
      {{{Cell::Int(5), Cell::Int(9)}, {Cell::Int(6), Cell::Int(9)}}, "21000", false, 0},
  };
  for (auto &c : cases) {
    auto *rows = new VectorRowSource({SQL_INTEGER, SQL_INTEGER}, c.rows);
    SQLRSSCScalarSubquery sq(rows);
    SQLRSPrepareContext context;
    SQLValueStore const *vs = sq.Prepare(&context);
    EXPECT_EQ(StateOf([&] { sq.Evaluate(); }), c.state);
    if (*c.state) {
      // An uncorrelated subquery keeps failing without running again.
      EXPECT_EQ(StateOf([&] { sq.Evaluate(); }), c.state);
      EXPECT_EQ(rows->execCalls, 1);
      continue;
    }
    EXPECT_EQ(vs->IsNull(), c.null);
    if (!c.null) {
      EXPECT_EQ(vs->GetInteger(), c.value);
    }
  }
}

TEST(ScalarSubquery, UncorrelatedRunsOncePerReset) {
  auto *rows = new VectorRowSource({SQL_INTEGER}, {{Cell::Int(5)}});
  SQLRSSCScalarSubquery sq(rows);
  SQLValueStore const *vs = Eval(&sq);
  for (int i = 0; i < 4; ++i) sq.Evaluate();
  EXPECT_EQ(rows->execCalls, 1);
  EXPECT_EQ(vs->GetInteger(), 5);
  sq.Reset();
  sq.Evaluate();
  EXPECT_EQ(rows->execCalls, 2);
  double first = -1, second = -1;
  sq.Cost(&first, &second);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
}

// A subquery whose leaf reads the enclosing row runs at every Evaluate.
class CorrelatedRows : public VectorRowSource {
 public:
  using VectorRowSource::VectorRowSource;

 protected:
  void DoAcceptVisit(SQLVisitor &visitor) override {
    SQLIsVariableVisitor *v = dynamic_cast<SQLIsVariableVisitor *>(&visitor);
    if (v) v->SetResult(true);
    VectorRowSource::DoAcceptVisit(visitor);
  }
};

TEST(ScalarSubquery, CorrelatedRunsEveryTime) {
  auto *rows = new CorrelatedRows(std::vector<SQLType>{SQL_INTEGER}, std::vector<Row>{{Cell::Int(5)}});
  SQLRSSCScalarSubquery sq(rows);
  Eval(&sq);
  sq.Evaluate();
  sq.Evaluate();
  EXPECT_EQ(rows->execCalls, 3);
  double first = 0, second = 0;
  sq.Cost(&first, &second);
  EXPECT_EQ(first, 100);
}

// ---- simple CASE ----

SQLRSSCValueExpr *IntOrNull(int v, SQLParameter *nullParam) {
  if (v >= 0) return new SQLRSSCIntegerConst(v);
  return new SQLRSSCParameterRef(nullParam);
}

TEST(SimpleCase, MatchesByEqualityAndFallsBackToElseOrNull) {
  SQLParameter nullInt;
  nullInt.SetType(SQL_INTEGER, 0, 1);
  nullInt.SetNull();
  struct Case {
    int operand;       // -1: NULL
    bool withElse;
    char const *expected;  // "NULL", or the text of the result
  } cases[] = {
      {1, true, "one"},  {2, true, "two"},   {3, true, "other"}, {3, false, "NULL"},
      {-1, true, "other"}, {-1, false, "NULL"}, {4, true, "NULL"},  // THEN NULL
  };
  for (auto const &c : cases) {
    auto *clauses = new List<SQLRSSCSimpleCase::WhenClause *>;
    clauses->Append(new SQLRSSCSimpleCase::WhenClause(new SQLRSSCIntegerConst(1), Str("one")));
    clauses->Append(new SQLRSSCSimpleCase::WhenClause(IntOrNull(-1, &nullInt), Str("never")));
    clauses->Append(new SQLRSSCSimpleCase::WhenClause(new SQLRSSCIntegerConst(2), Str("two")));
    clauses->Append(new SQLRSSCSimpleCase::WhenClause(new SQLRSSCIntegerConst(4), nullptr));
    SQLRSSCSimpleCase sc(IntOrNull(c.operand, &nullInt), clauses, c.withElse ? Str("other") : nullptr);
    SQLValueStore const *vs = Eval(&sc);
    if (std::string(c.expected) == "NULL")
      EXPECT_TRUE(vs->IsNull()) << c.operand;
    else
      EXPECT_STREQ(vs->GetString(), c.expected) << c.operand;
    EXPECT_EQ(sc.GetColumnDescriptor().GetType(), SQL_STRING);
  }
}

TEST(SimpleCase, IntegerBranchesWidenToARealElse) {
  auto *clauses = new List<SQLRSSCSimpleCase::WhenClause *>;
  clauses->Append(new SQLRSSCSimpleCase::WhenClause(new SQLRSSCIntegerConst(1), new SQLRSSCIntegerConst(7)));
  SQLRSSCSimpleCase sc(new SQLRSSCIntegerConst(1), clauses, new SQLRSSCRealConst(0.5));
  SQLValueStore const *vs = Eval(&sc);
  EXPECT_EQ(sc.GetColumnDescriptor().GetType(), SQL_REAL);
  EXPECT_EQ(vs->GetType(), SQL_REAL);
  EXPECT_EQ(vs->GetReal(), 7.0);
}

TEST(SimpleCase, NullValueOnNullifiedColumns) {
  SQLColumnDescriptor d("c", SQL_INTEGER, 4, 1);
  List<Interval<int>> ranges;
  ranges.Append(Interval<int>(0, 0));
  auto col = [&](int id) { return new SQLRSSCColumnRef(0, id, &d); };
  struct Case {
    int operandCol, thenCol;  // column 0 is nullified; -1 a constant
    int elseCol;              // -2: no ELSE
    SQLTruthValue expected;
  } cases[] = {
      {0, 1, -2, TV_TRUE},      // operand NULL, no ELSE
      {0, 1, -1, TV_FALSE},     // operand NULL, constant ELSE
      {1, 0, -2, TV_TRUE},      // every THEN NULL and no ELSE
      {1, 0, 1, TV_UNKNOWN},    // every THEN NULL, ELSE maybe
      {1, -1, -1, TV_FALSE},    // every branch certainly not NULL
      {1, -1, -2, TV_UNKNOWN},  // no ELSE may give NULL
  };
  for (auto const &c : cases) {
    auto mk = [&](int id) -> SQLRSSCValueExpr * { if (id >= 0) return col(id);
      return new SQLRSSCIntegerConst(1);
    };
    auto *clauses = new List<SQLRSSCSimpleCase::WhenClause *>;
    clauses->Append(new SQLRSSCSimpleCase::WhenClause(new SQLRSSCIntegerConst(1), mk(c.thenCol)));
    SQLRSSCSimpleCase sc(mk(c.operandCol), clauses, c.elseCol == -2 ? nullptr : mk(c.elseCol));
    EXPECT_EQ(sc.NullValueOnNullifiedCols(0, &ranges), c.expected)
        << c.operandCol << " " << c.thenCol << " " << c.elseCol;
  }
}

TEST(SimpleCase, DescribesBranchesAndNullMembers) {
  auto *clauses = new List<SQLRSSCSimpleCase::WhenClause *>;
  clauses->Append(new SQLRSSCSimpleCase::WhenClause(new SQLRSSCIntegerConst(1), nullptr));
  SQLRSSCSimpleCase sc(new SQLRSSCIntegerConst(2), clauses, nullptr);
  SQLTokenString ts;
  sc.createTokenString(&ts, 0, nullptr);
  EXPECT_EQ(ts.GetToken(), SQLNWTVESimpleCase);
  EXPECT_EQ(ts.GetToken(), SQLNWTVEIntegerConst);
  EXPECT_EQ(ts.GetBs4(), 2);
  EXPECT_EQ(ts.GetBs4(), 1);
  EXPECT_EQ(ts.GetToken(), SQLNWTVEIntegerConst);
  EXPECT_EQ(ts.GetBs4(), 1);
  EXPECT_EQ(ts.GetToken(), SQLNWTNull);
  EXPECT_EQ(ts.GetToken(), SQLNWTNull);
  EXPECT_TRUE(ts.AtEnd());
}

}  // namespace
}  // namespace molvane::test
