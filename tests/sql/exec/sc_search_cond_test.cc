// Search conditions: three-valued truth tables, short-circuiting and cost
// ordering, row-value comparisons, BETWEEN, IN, IS NULL, LIKE (escapes,
// 4-byte TSS characters, errors), EXISTS and IN subqueries, and the
// nullified-column analysis.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_parameter.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/sc_like.h"
#include "sql/exec/sc_scalar_subquery.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/exec/sc_subquery_cond.h"
#include "test_row_source.h"

namespace molvane::test {
namespace {

// A condition of a fixed value and cost that counts its evaluations.
class Fixed : public SQLRSSCSearchCond {
 public:
  Fixed(SQLTruthValue v, int *evaluations = nullptr, double first = 0, double second = 1)
      : v_(v), evaluations_(evaluations), first_(first), second_(second) {}
  SQLTruthValue Value() const { return v_; }
  void Prepare(SQLRSPrepareContext *) override {}
  SQLTruthValue Evaluate() override {
    if (evaluations_) ++*evaluations_;
    return v_;
  }
  void Reset() override {}
  void Cost(double *first, double *second) override {
    *first = first_;
    *second = second_;
  }
  void AcceptVisit(SQLVisitor &) override {}
  void GetColumnRefs(int, SQLRSSCColumnRefType, pSQLRSSCColumnRefList *) override {}
  SQLTruthValueSet PossibleValuesOnNullifiedCols(int, List<Interval<int>> *) override {
    return SQLRSSCTruthSet(v_);
  }
  SQLRSSCSearchCond *Optimize() override { return this; }
  void createTokenString(SQLTokenString *, int, SQLRSNetFetchParams *) override {}
  void CRefs2ParameterRefs(int, intList *, pSQLParameterList *) override {}
  void Log() const override {}

 protected:
  char const *ClassName() const override { return "Fixed"; }

 private:
  SQLTruthValue v_;
  int *evaluations_;
  double first_, second_;
};

// A condition that fails: with error 0 a division by zero (a row's
// error), else the database error (a time-out, a lost driver).
class Raising : public Fixed {
 public:
  explicit Raising(int error) : Fixed(TV_TRUE), error_(error) {}
  SQLTruthValue Evaluate() override {
    if (error_ == 0) throw SQLExDEDivisionByZero();
    throw SQLExZDBError(error_);
  }

 private:
  int error_;
};

SQLTruthValue const kValues[] = {TV_FALSE, TV_TRUE, TV_UNKNOWN};

TEST(Logic, AndOrNotFollowThreeValuedTruthTables) {
  // Rows and columns in the order FALSE, TRUE, UNKNOWN.
  SQLTruthValue const andTable[3][3] = {{TV_FALSE, TV_FALSE, TV_FALSE},
                                        {TV_FALSE, TV_TRUE, TV_UNKNOWN},
                                        {TV_FALSE, TV_UNKNOWN, TV_UNKNOWN}};
  SQLTruthValue const orTable[3][3] = {{TV_FALSE, TV_TRUE, TV_UNKNOWN},
                                       {TV_TRUE, TV_TRUE, TV_TRUE},
                                       {TV_UNKNOWN, TV_TRUE, TV_UNKNOWN}};
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b) {
      SQLRSSCAnd conj(new Fixed(kValues[a]), new Fixed(kValues[b]));
      SQLRSSCOr disj(new Fixed(kValues[a]), new Fixed(kValues[b]));
      EXPECT_EQ(conj.Evaluate(), andTable[a][b]) << a << b;
      EXPECT_EQ(disj.Evaluate(), orTable[a][b]) << a << b;
    }
    SQLRSSCNot neg(new Fixed(kValues[a]));
    EXPECT_EQ(neg.Evaluate(), kValues[a] == TV_UNKNOWN ? TV_UNKNOWN : kValues[a] == TV_TRUE ? TV_FALSE : TV_TRUE);
  }
  SQLRSSCAnd emptyAnd(new pSQLRSSCSearchCondList);
  SQLRSSCOr emptyOr(new pSQLRSSCSearchCondList);
  EXPECT_EQ(emptyAnd.Evaluate(), TV_TRUE);
  EXPECT_EQ(emptyOr.Evaluate(), TV_FALSE);
}

TEST(Logic, ShortCircuitsAtTheDecidingOperand) {
  int later = 0;
  SQLRSSCAnd conj(new Fixed(TV_FALSE), new Fixed(TV_TRUE, &later));
  EXPECT_EQ(conj.Evaluate(), TV_FALSE);
  SQLRSSCOr disj(new Fixed(TV_TRUE), new Fixed(TV_FALSE, &later));
  EXPECT_EQ(disj.Evaluate(), TV_TRUE);
  EXPECT_EQ(later, 0);
  SQLRSSCAnd goesOn(new Fixed(TV_UNKNOWN), new Fixed(TV_FALSE, &later));
  EXPECT_EQ(goesOn.Evaluate(), TV_FALSE);
  EXPECT_EQ(later, 1);
}

// A row's error waits for an operand that decides the row without it (a
// FALSE one of an AND, a TRUE one of an OR, before or after it); a time-out
// or a lost driver is no row's error: the condition fails with it even
// where another operand decides, and a fixed condition looked at before
// any row fails with it instead of letting the rows through to it.
TEST(Logic, OnlyARowsErrorWaitsForTheOperandThatDecides) {
  for (int error : {0, 313, 510}) {
    SCOPED_TRACE(error);
    SQLRSSCAnd andFirst(new Raising(error), new Fixed(TV_FALSE));
    SQLRSSCAnd andBehind(new Raising(0), new SQLRSSCAnd(new Raising(error), new Fixed(TV_FALSE)));
    SQLRSSCOr orFirst(new Raising(error), new Fixed(TV_TRUE));
    SQLRSSCOr orBehind(new Raising(0), new SQLRSSCOr(new Raising(error), new Fixed(TV_TRUE)));
    Raising fixed(error);
    if (error == 0) {
      EXPECT_EQ(andFirst.Evaluate(), TV_FALSE);
      EXPECT_EQ(andBehind.Evaluate(), TV_FALSE);
      EXPECT_EQ(orFirst.Evaluate(), TV_TRUE);
      EXPECT_EQ(orBehind.Evaluate(), TV_TRUE);
      EXPECT_FALSE(fixed.LeavesNoRow());
    } else {
      EXPECT_THROW(andFirst.Evaluate(), SQLExZDBError);
      EXPECT_THROW(andBehind.Evaluate(), SQLExZDBError);
      EXPECT_THROW(orFirst.Evaluate(), SQLExZDBError);
      EXPECT_THROW(orBehind.Evaluate(), SQLExZDBError);
      EXPECT_THROW(fixed.LeavesNoRow(), SQLExZDBError);
    }
  }
}

// A condition that raises for the row: a data exception (22012), a
// cardinality violation (21000), or an error of the statement (a time-out).
class RaisingKind : public Fixed {
 public:
  explicit RaisingKind(char kind) : Fixed(TV_UNKNOWN), kind_(kind) {}
  SQLTruthValue Evaluate() override {
    if (kind_ == 'z') throw SQLExDEDivisionByZero();
    if (kind_ == 'c') throw SQLExCardinalityViolation();
    throw SQLExZDBError(313);
  }

 private:
  char kind_;
};

// An operand that decides an AND (FALSE) or an OR (TRUE) decides it
// whatever another operand raises for the row, before or after it; with
// no deciding operand the row's error stands, and an error of the
// statement is never spared.
TEST(Logic, ADecidingOperandSparesTheRowErrorsOfTheOthers) {
  struct Case {
    const char *name;
    char op;               // '&' AND, '|' OR, '!' NOT of an OR
    const char *operands;  // F, T, U fixed; z, c, t raising
    const char *outcome;   // "F", "T" or the SQLSTATE raised
  } const cases[] = {
      {"AND failing then FALSE", '&', "zF", "F"},       {"AND FALSE then failing", '&', "Fz", "F"},
      {"AND failing, TRUE, FALSE", '&', "zTF", "F"},    {"AND failing then TRUE", '&', "zT", "22012"},
      {"AND failing then UNKNOWN", '&', "zU", "22012"}, {"AND two failing, FALSE last", '&', "czF", "F"},
      {"AND time-out then FALSE", '&', "tF", "HYT00"},  {"OR failing then TRUE", '|', "zT", "T"},
      {"OR TRUE then failing", '|', "Tz", "T"},         {"OR failing, FALSE, TRUE", '|', "zFT", "T"},
      {"OR two failing, TRUE last", '|', "zcT", "T"},   {"OR failing then FALSE", '|', "zF", "22012"},
      {"OR failing then UNKNOWN", '|', "cU", "21000"},  {"OR time-out then TRUE", '|', "tT", "HYT00"},
      {"NOT of an OR failing then TRUE", '!', "zT", "F"},
  };
  for (const Case &c : cases) {
    auto *list = new pSQLRSSCSearchCondList;
    for (const char *o = c.operands; *o != '\0'; ++o) {
      SQLTruthValue const v = *o == 'F' ? TV_FALSE : *o == 'T' ? TV_TRUE : TV_UNKNOWN;
      list->Append(std::strchr("FTU", *o) != nullptr ? static_cast<SQLRSSCSearchCond *>(new Fixed(v))
                                                       : new RaisingKind(*o));
    }
    std::unique_ptr<SQLRSSCSearchCond> cond;
    if (c.op == '&')
      cond = std::make_unique<SQLRSSCAnd>(list);
    else if (c.op == '|')
      cond = std::make_unique<SQLRSSCOr>(list);
    else
      cond = std::make_unique<SQLRSSCNot>(new SQLRSSCOr(list));
    std::string outcome;
    try {
      outcome = cond->Evaluate() == TV_TRUE ? "T" : "F";
    } catch (const SQLException &e) {
      outcome = e.GetSQLState();
    }
    if (std::string(c.outcome) == "HYT00")
      EXPECT_TRUE(outcome != "T" && outcome != "F") << c.name << ": " << outcome;
    else
      EXPECT_EQ(outcome, c.outcome) << c.name;
  }
}

TEST(Logic, NestedConjunctionsFlattenAndOptimizeOrdersByCost) {
  auto *expensive = new Fixed(TV_TRUE, nullptr, 100, 1);
  auto *middle = new Fixed(TV_TRUE, nullptr, 0, 250);
  auto *cheap = new Fixed(TV_TRUE, nullptr, 0, 1);
  SQLRSSCSearchCondPtr conj(new SQLRSSCAnd(new SQLRSSCAnd(expensive, middle), cheap));
  auto *flat = static_cast<SQLRSSCAnd *>(conj.get());
  ASSERT_EQ(flat->NrOperands(), 3);
  EXPECT_EQ(flat->GetOperand(0), expensive);
  double first, second;
  flat->Cost(&first, &second);
  EXPECT_DOUBLE_EQ(first, 100);
  EXPECT_DOUBLE_EQ(second, 1 + 0.5 * 250 + 0.25 * 1);
  EXPECT_EQ(conj->Optimize(), flat);
  EXPECT_EQ(flat->GetOperand(0), cheap);
  EXPECT_EQ(flat->GetOperand(1), middle);
  EXPECT_EQ(flat->GetOperand(2), expensive);
  // An OR keeps its operands as given.
  SQLRSSCOr disj(new SQLRSSCOr(new Fixed(TV_TRUE), new Fixed(TV_TRUE)), new Fixed(TV_TRUE));
  EXPECT_EQ(disj.NrOperands(), 2);
}

TEST(Logic, PossibleValuesCombineAcrossOperands) {
  List<Interval<int>> none;
  SQLRSSCAnd conj(new Fixed(TV_UNKNOWN), new Fixed(TV_TRUE));
  EXPECT_EQ(conj.PossibleValuesOnNullifiedCols(0, &none).Mask(), static_cast<unsigned long>(TV_UNKNOWN));
  SQLRSSCOr disj(new Fixed(TV_UNKNOWN), new Fixed(TV_TRUE));
  EXPECT_EQ(disj.PossibleValuesOnNullifiedCols(0, &none).Mask(), static_cast<unsigned long>(TV_TRUE));
  SQLRSSCNot neg(new Fixed(TV_FALSE));
  EXPECT_EQ(neg.PossibleValuesOnNullifiedCols(0, &none).Mask(), static_cast<unsigned long>(TV_TRUE));
}

// ---- value-expression builders ----

class Exprs {
 public:
  SQLRSSCValueExpr *Int(int v) { return new SQLRSSCIntegerConst(v); }
  SQLRSSCValueExpr *Str(std::string const &s) {
    return new SQLRSSCStringConst(reinterpret_cast<unsigned char const *>(s.data()), s.size());
  }
  SQLRSSCValueExpr *Null() { return new SQLRSSCParameterRef(Param(SQL_INTEGER)); }
  SQLRSSCValueExpr *NullStr() { return new SQLRSSCParameterRef(Param(SQL_STRING)); }
  // A string parameter, bound later through Bind.
  SQLParameter *Param(SQLType type) {
    params_.push_back(std::make_unique<SQLParameter>());
    params_.back()->SetType(type, 0, 1);
    params_.back()->SetNull();
    return params_.back().get();
  }
  pSQLRSSCValueExprList *List(std::initializer_list<SQLRSSCValueExpr *> items) {
    auto *list = new pSQLRSSCValueExprList;
    for (auto *e : items) list->Append(e);
    return list;
  }

 private:
  std::vector<std::unique_ptr<SQLParameter>> params_;
};

SQLTruthValue Truth(SQLRSSCSearchCond *c) {
  SQLRSSCSearchCondPtr owned(c);
  SQLRSPrepareContext context;
  c->Prepare(&context);
  return c->Evaluate();
}

TEST(Comparison, RowValuesCompareInThreeValuedLogic) {
  Exprs x;
  struct Case {
    std::vector<int> left, right;  // -1 stands for NULL
    SQLRSSCCompOperator op;
    SQLTruthValue expected;
  } cases[] = {
      {{1, -1}, {2, 3}, SQLRSSC_EQUAL, TV_FALSE},
      {{1, -1}, {1, 3}, SQLRSSC_EQUAL, TV_UNKNOWN},
      {{1, -1}, {2, 3}, SQLRSSC_NOT_EQUAL, TV_TRUE},
      {{1, -1}, {1, 3}, SQLRSSC_NOT_EQUAL, TV_UNKNOWN},
      {{1, 2}, {1, 3}, SQLRSSC_LESS_THAN, TV_TRUE},
      {{1, 2}, {1, 2}, SQLRSSC_LESS_THAN_OR_EQUAL, TV_TRUE},
      {{1, 2}, {1, 2}, SQLRSSC_LESS_THAN, TV_FALSE},
      {{1, 2}, {1, 2}, SQLRSSC_GREATER_THAN_OR_EQUAL, TV_TRUE},
      {{2, 0}, {1, 9}, SQLRSSC_GREATER_THAN, TV_TRUE},
      {{1, -1}, {1, 3}, SQLRSSC_LESS_THAN, TV_UNKNOWN},
      {{-1, 5}, {1, 3}, SQLRSSC_GREATER_THAN, TV_UNKNOWN},
      {{0, -1}, {1, 3}, SQLRSSC_LESS_THAN, TV_TRUE},  // decided before the NULL
      {{}, {}, SQLRSSC_EQUAL, TV_TRUE},
  };
  for (auto const &c : cases) {
    auto *l = new pSQLRSSCValueExprList, *r = new pSQLRSSCValueExprList;
    for (int v : c.left) l->Append(v < 0 ? x.Null() : x.Int(v));
    for (int v : c.right) r->Append(v < 0 ? x.Null() : x.Int(v));
    EXPECT_EQ(Truth(new SQLRSSCComparison(l, c.op, r)), c.expected) << SQLRSSCCompOperatorName(c.op);
  }
}

TEST(Comparison, StringsCompareBlankPadded) {
  Exprs x;
  EXPECT_EQ(Truth(new SQLRSSCComparison(x.List({x.Str("ab")}), SQLRSSC_EQUAL, x.List({x.Str("ab  ")}))), TV_TRUE);
  EXPECT_EQ(Truth(new SQLRSSCComparison(x.List({x.Str("ab")}), SQLRSSC_LESS_THAN, x.List({x.Str("abc")}))),
            TV_TRUE);
}

TEST(Between, BoundsOnRowValues) {
  Exprs x;
  struct Case {
    int v, low, high;  // -1 NULL
    SQLTruthValue expected;
  } cases[] = {
      {5, 1, 9, TV_TRUE}, {1, 1, 9, TV_TRUE},     {9, 1, 9, TV_TRUE},       {0, 1, 9, TV_FALSE},
      {10, 1, 9, TV_FALSE}, {-1, 1, 9, TV_UNKNOWN}, {0, 1, -1, TV_FALSE},    {5, 1, -1, TV_UNKNOWN},
      {5, -1, 9, TV_UNKNOWN}, {10, -1, 9, TV_FALSE},
  };
  auto e = [&](int v) { return v < 0 ? x.Null() : x.Int(v); };
  for (auto const &c : cases)
    EXPECT_EQ(Truth(new SQLRSSCBetween(x.List({e(c.v)}), x.List({e(c.low)}), x.List({e(c.high)}))), c.expected)
        << c.v << " " << c.low << " " << c.high;
  // (1, 5) BETWEEN (1, 2) AND (1, 9): lexicographic on the second items.
  EXPECT_EQ(Truth(new SQLRSSCBetween(x.List({x.Int(1), x.Int(5)}), x.List({x.Int(1), x.Int(2)}),
                                   x.List({x.Int(1), x.Int(9)}))),
            TV_TRUE);
}

TEST(InSet, ListMembership) {
  Exprs x;
  EXPECT_EQ(Truth(new SQLRSSCInSet(x.Int(1), x.List({}))), TV_FALSE);
  EXPECT_EQ(Truth(new SQLRSSCInSet(x.Int(1), x.List({x.Int(2), x.Null()}))), TV_UNKNOWN);
  EXPECT_EQ(Truth(new SQLRSSCInSet(x.Int(1), x.List({x.Int(1), x.Null()}))), TV_TRUE);
  EXPECT_EQ(Truth(new SQLRSSCInSet(x.Int(1), x.List({x.Int(2), x.Int(3)}))), TV_FALSE);
  EXPECT_EQ(Truth(new SQLRSSCInSet(x.Null(), x.List({x.Int(2)}))), TV_UNKNOWN);
}

TEST(IsNull, NeverUnknownAndArraysAreNotNull) {
  Exprs x;
  EXPECT_EQ(Truth(new SQLRSSCIsNull(x.Null())), TV_TRUE);
  EXPECT_EQ(Truth(new SQLRSSCIsNull(x.Int(0))), TV_FALSE);
  SQLParameter array;
  array.SetType(SQL_INTEGER, 4, 2);
  SQLValueStore value;
  value.SetDimension(2);
  value.GetElement(0)->SetNull();
  value.GetElement(1)->SetNull();
  array.BindVS(&value);
  EXPECT_EQ(Truth(new SQLRSSCIsNull(new SQLRSSCParameterRef(&array))), TV_FALSE);
}

// ---- LIKE ----

struct LikeCase {
  char const *value;
  char const *pattern;
  char const *escape;  // null: none
  bool ansi;
  char const *expected;  // "T", "F", "U", or an SQLSTATE
};

std::string LikeResult(LikeCase const &c) {
  Exprs x;
  auto text = [&](char const *s) { return s ? x.Str(s) : x.NullStr(); };
  try {
    SQLTruthValue t = Truth(new SQLRSSCLike(text(c.value), text(c.pattern), c.escape ? x.Str(c.escape) : nullptr,
                                          c.ansi));
    return t == TV_TRUE ? "T" : t == TV_FALSE ? "F" : "U";
  } catch (SQLException const &e) {
    return e.GetSQLState();
  }
}

class LikeTable : public testing::TestWithParam<LikeCase> {};

TEST_P(LikeTable, GivesItsTruthValueOrError) {
  LikeCase c = GetParam();
  EXPECT_EQ(LikeResult(c), c.expected) << (c.value ? c.value : "NULL") << " LIKE "
                                       << (c.pattern ? c.pattern : "NULL");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LikeTable,
    testing::Values(
        LikeCase{"abc", "a%", nullptr, true, "T"}, LikeCase{"xabc", "a%", nullptr, true, "F"},
        LikeCase{"abc", "a_c", nullptr, true, "T"}, LikeCase{"ac", "a_c", nullptr, true, "F"},
        LikeCase{"", "%", nullptr, true, "T"}, LikeCase{"", "_", nullptr, true, "F"},
        LikeCase{"50%", "50!%", "!", true, "T"}, LikeCase{"500", "50!%", "!", true, "F"},
        LikeCase{"a!b", "a!!b", "!", true, "T"}, LikeCase{"a_b", "a!_b", "!", true, "T"},
        LikeCase{"axb", "a!_b", "!", true, "F"},
        LikeCase{"ab", "ab!", "!", true, "22025"}, LikeCase{"ab", "a!b", "!", true, "22025"},
        LikeCase{"ab", "ab", "!!", true, "22019"}, LikeCase{"ab", "ab", "", true, "22019"},
        // An escaped escape character stands for itself, also when it is "%".
        LikeCase{"5%", "5%%", "%", true, "T"}, LikeCase{"55", "5%%", "%", true, "F"},
        LikeCase{"a.c", "a.c", nullptr, true, "T"}, LikeCase{"abc", "a.c", nullptr, true, "F"},
        LikeCase{"a*", "a*", nullptr, true, "T"}, LikeCase{"aa", "a*", nullptr, true, "F"},
        LikeCase{"(x)[y]{z}^$\\", "(x)[y]{z}^$\\", nullptr, true, "T"},
        LikeCase{"a+b?", "a+b?", nullptr, true, "T"},
        LikeCase{"abc", "a.c", nullptr, false, "T"}, LikeCase{"abbbc", "ab*c", nullptr, false, "T"},
        LikeCase{"abc", "a[", nullptr, false, "QP999"},
        LikeCase{nullptr, "a%", nullptr, true, "U"}, LikeCase{"abc", nullptr, nullptr, true, "U"},
        LikeCase{"abc", "abc", nullptr, true, "T"},
        // A TSS 4-byte character is one character for "_" and is copied whole.
        LikeCase{"a\x9B\xC1\xC2\xC3z", "a_z", nullptr, true, "T"},
        LikeCase{"a\x9B\xC1\xC2\xC3z", "a__z", nullptr, true, "F"},
        LikeCase{"\x9B\x25\x41\x42", "\x9B\x25\x41\x42", nullptr, true, "T"},
        LikeCase{"\x9B\x25\x41\x42x", "\x9B\x25\x41\x42", nullptr, true, "F"},
        LikeCase{"\x9B\xC1\xC2\xC3", "%\x9B\xC1\xC2\xC3", nullptr, true, "T"}));

TEST(LikeLimits, AnsiPatternLongerThan2048BytesIsRefused) {
  std::string ok(2048, '%'), tooLong(2049, '%');
  EXPECT_EQ(LikeResult(LikeCase{"abc", ok.c_str(), nullptr, true, ""}), "T");
  EXPECT_EQ(LikeResult(LikeCase{"abc", tooLong.c_str(), nullptr, true, ""}), "22001");
}

TEST(LikeLimits, VariablePatternIsCompiledForEachRow) {
  Exprs x;
  SQLParameter *pattern = x.Param(SQL_STRING);
  SQLRSSCLike like(x.Str("abc"), new SQLRSSCParameterRef(pattern), nullptr, true);
  SQLRSPrepareContext context;
  like.Prepare(&context);
  pattern->BindString(reinterpret_cast<unsigned char const *>("a%"), 2);
  EXPECT_EQ(like.Evaluate(), TV_TRUE);
  pattern->BindString(reinterpret_cast<unsigned char const *>("b%"), 2);
  EXPECT_EQ(like.Evaluate(), TV_FALSE);
  pattern->SetNull();
  EXPECT_EQ(like.Evaluate(), TV_UNKNOWN);
}

TEST(LikeLimits, PatternFromASubqueryIsReadAtEveryExecution) {
  Exprs x;
  auto *rows = new VectorRowSource({SQL_STRING}, {{Cell::Text("a%")}});
  SQLRSSCLike like(x.Str("abc"), new SQLRSSCScalarSubquery(rows), nullptr, true);
  SQLRSPrepareContext context;
  like.Prepare(&context);
  EXPECT_EQ(rows->execCalls, 0);  // nothing runs before the tree is executed
  EXPECT_EQ(like.Evaluate(), TV_TRUE);
  EXPECT_EQ(rows->execCalls, 1);
}

TEST(LikeLimits, TranslationEscapesTheEngineSyntax) {
  auto t = [](char const *p, int escape) {
    return SQLRSSCLike::TranslatePattern(reinterpret_cast<unsigned char const *>(p), std::strlen(p), escape);
  };
  EXPECT_EQ(t("a%b_c", -1), "a.*b.c");
  EXPECT_EQ(t("$.(x)", -1), "\\$\\.\\(x\\)");
  EXPECT_EQ(t("#%#_##", '#'), "%_#");
  EXPECT_EQ(t("\\\\%", '\\'), "\\\\.*");
}

// ---- subqueries ----

TEST(Exists, UncorrelatedRunsOncePerReset) {
  auto *rows = new VectorRowSource({SQL_INTEGER}, {{Cell::Int(1)}});
  SQLRSSCExists exists(rows);
  SQLRSPrepareContext context;
  exists.Prepare(&context);
  EXPECT_EQ(exists.Evaluate(), TV_TRUE);
  EXPECT_EQ(exists.Evaluate(), TV_TRUE);
  EXPECT_EQ(rows->execCalls, 1);
  EXPECT_EQ(rows->breakCalls, 1);
  exists.Reset();
  EXPECT_EQ(exists.Evaluate(), TV_TRUE);
  EXPECT_EQ(rows->execCalls, 2);

  auto *empty = new VectorRowSource({SQL_INTEGER}, {});
  EXPECT_EQ(Truth(new SQLRSSCExists(empty)), TV_FALSE);
}

TEST(InSubquery, NullsAndEmptySubqueries) {
  struct Case {
    int value;  // -1 NULL
    std::vector<Row> rows;
    SQLTruthValue expected;
  } cases[] = {
      {-1, {}, TV_FALSE},
      {-1, {{Cell::Int(1)}}, TV_UNKNOWN},
      {1, {}, TV_FALSE},
      {1, {{Cell::Int(2)}, {Cell::Null()}}, TV_UNKNOWN},
      {1, {{Cell::Null()}, {Cell::Int(1)}}, TV_TRUE},
      {1, {{Cell::Int(2)}, {Cell::Int(3)}}, TV_FALSE},
      // Rows that are all NULL are rows: UNKNOWN, so NOT IN is not TRUE.
      {1, {{Cell::Null()}}, TV_UNKNOWN},
      {1, {{Cell::Null()}, {Cell::Null()}}, TV_UNKNOWN},
      {-1, {{Cell::Null()}}, TV_UNKNOWN},
  };
  for (auto const &c : cases) {
    Exprs x;
    auto *rows = new VectorRowSource({SQL_INTEGER}, c.rows);
    SQLRSSCInSubquery in(c.value < 0 ? x.Null() : x.Int(c.value), rows);
    SQLRSPrepareContext context;
    in.Prepare(&context);
    EXPECT_EQ(in.Evaluate(), c.expected) << c.value;
    EXPECT_EQ(in.Evaluate(), c.expected) << c.value;
    // Uncorrelated: run once, its values held until Reset.
    EXPECT_EQ(rows->execCalls, 1);
    EXPECT_EQ(rows->breakCalls, 1);
    in.Reset();
    EXPECT_EQ(in.Evaluate(), c.expected) << c.value;
    EXPECT_EQ(rows->execCalls, 2);
  }
}

// Held values are found as the comparison finds them: an INTEGER equals a
// REAL of its value, and texts are equal without their trailing blanks.
TEST(InSubquery, HeldValuesMatchAsTheComparisonDoes) {
  struct Case {
    std::vector<SQLType> types;
    std::vector<Row> rows;
    std::function<SQLRSSCValueExpr *(Exprs &)> value;
    SQLTruthValue expected;
  } const cases[] = {
      {{SQL_INTEGER}, {{Cell::Int(3)}, {Cell::Int(4)}}, [](Exprs &) { return new SQLRSSCRealConst(4.0); }, TV_TRUE},
      {{SQL_INTEGER}, {{Cell::Int(3)}, {Cell::Null()}}, [](Exprs &) { return new SQLRSSCRealConst(3.5); }, TV_UNKNOWN},
      {{SQL_INTEGER}, {{Cell::Int(3)}, {Cell::Int(4)}}, [](Exprs &x) { return x.Int(5); }, TV_FALSE},
      {{SQL_STRING}, {{Cell::Text("ab   ")}, {Cell::Text("c")}}, [](Exprs &x) { return x.Str("ab"); }, TV_TRUE},
      {{SQL_STRING}, {{Cell::Text("ab")}}, [](Exprs &x) { return x.Str("abc"); }, TV_FALSE},
  };
  int i = 0;
  for (auto const &c : cases) {
    Exprs x;
    SQLRSSCInSubquery in(c.value(x), new VectorRowSource(c.types, c.rows));
    SQLRSPrepareContext context;
    in.Prepare(&context);
    EXPECT_EQ(in.Evaluate(), c.expected) << "case " << i;
    EXPECT_EQ(in.Evaluate(), c.expected) << "case " << i;
    ++i;
  }
}

TEST(SubqueryCost, SubqueriesComeAfterComparisonsOnceOptimized) {
  Exprs x;
  auto *exists = new SQLRSSCExists(new VectorRowSource({SQL_INTEGER}, {}));
  auto *in = new SQLRSSCInSubquery(x.Int(1), new VectorRowSource({SQL_INTEGER}, {}));
  auto *like = new SQLRSSCLike(x.Str("a"), x.Str("a"), nullptr, true);
  auto *cmp = new SQLRSSCComparison(x.List({x.Int(1)}), SQLRSSC_EQUAL, x.List({x.Int(1)}));
  auto *list = new pSQLRSSCSearchCondList;
  for (SQLRSSCSearchCond *c : std::initializer_list<SQLRSSCSearchCond *>{exists, in, like, cmp}) list->Append(c);
  SQLRSSCAnd conj(list);
  conj.Optimize();
  EXPECT_EQ(conj.GetOperand(0), cmp);
  EXPECT_EQ(conj.GetOperand(1), like);
  EXPECT_EQ(conj.GetOperand(2), exists);  // (1, 1)
  EXPECT_EQ(conj.GetOperand(3), in);      // (1, 1001)
}

// ---- nullified columns ----

TEST(NullifiedColumns, ConditionsThatCannotBeTrueRejectTheRow) {
  SQLColumnDescriptor d("c", SQL_INTEGER, 4, 1);
  List<Interval<int>> ranges;
  ranges.Append(Interval<int>(0, 0));
  Exprs x;
  auto nulled = [&] { return new SQLRSSCColumnRef(0, 0, &d); };
  auto other = [&] { return new SQLRSSCColumnRef(0, 1, &d); };
  auto set = [](std::initializer_list<SQLTruthValue> values) {
    SQLTruthValueSet s;
    for (auto v : values) s.Insert(v);
    return s.Mask();
  };
  struct Case {
    SQLRSSCSearchCond *c;
    unsigned long expected;
  } cases[] = {
      {new SQLRSSCComparison(x.List({nulled()}), SQLRSSC_EQUAL, x.List({x.Int(1)})), set({TV_UNKNOWN})},
      {new SQLRSSCComparison(x.List({nulled(), other()}), SQLRSSC_EQUAL, x.List({x.Int(1), x.Int(1)})),
       set({TV_FALSE, TV_UNKNOWN})},
      {new SQLRSSCComparison(x.List({nulled(), other()}), SQLRSSC_NOT_EQUAL, x.List({x.Int(1), x.Int(1)})),
       set({TV_TRUE, TV_UNKNOWN})},
      {new SQLRSSCComparison(x.List({other()}), SQLRSSC_LESS_THAN, x.List({nulled()})), set({TV_UNKNOWN})},
      {new SQLRSSCComparison(x.List({other()}), SQLRSSC_LESS_THAN, x.List({x.Int(1)})),
       set({TV_TRUE, TV_FALSE, TV_UNKNOWN})},
      {new SQLRSSCBetween(x.List({other()}), x.List({nulled()}), x.List({x.Int(1)})), set({TV_FALSE, TV_UNKNOWN})},
      {new SQLRSSCInSet(x.Int(1), x.List({})), set({TV_FALSE})},
      {new SQLRSSCInSet(x.Int(1), x.List({x.Int(2), x.Int(3)})), set({TV_TRUE, TV_FALSE})},
      {new SQLRSSCInSet(x.Int(1), x.List({nulled()})), set({TV_UNKNOWN})},
      {new SQLRSSCIsNull(nulled()), set({TV_TRUE})},
      {new SQLRSSCIsNull(x.Int(1)), set({TV_FALSE})},
      {new SQLRSSCIsNull(other()), set({TV_FALSE, TV_TRUE})},
      {new SQLRSSCLike(nulled(), x.Str("a"), nullptr, true), set({TV_UNKNOWN})},
      {new SQLRSSCLike(x.Str("a"), x.Str("a"), nullptr, true), set({TV_TRUE, TV_FALSE})},
      {new SQLRSSCNot(new SQLRSSCIsNull(nulled())), set({TV_FALSE})},
      {new SQLRSSCExists(new VectorRowSource({SQL_INTEGER}, {})), set({TV_TRUE, TV_FALSE})},
      // NULL IN a subquery without rows is FALSE, so NOT IN can be TRUE.
      {new SQLRSSCInSubquery(nulled(), new VectorRowSource({SQL_INTEGER}, {})), set({TV_FALSE, TV_UNKNOWN})},
      {new SQLRSSCNot(new SQLRSSCInSubquery(nulled(), new VectorRowSource({SQL_INTEGER}, {}))),
       set({TV_TRUE, TV_UNKNOWN})},
  };
  int i = 0;
  for (auto const &c : cases) {
    SQLRSSCSearchCondPtr owned(c.c);
    EXPECT_EQ(c.c->PossibleValuesOnNullifiedCols(0, &ranges).Mask(), c.expected) << "case " << i;
    ++i;
  }
}

TEST(EquiJoin, RecognisesColumnsOfBothInputs) {
  SQLColumnDescriptor d("c", SQL_INTEGER, 4, 1);
  Exprs x;
  auto col = [&](int level, int id) { return new SQLRSSCColumnRef(level, id, &d); };
  SQLRSSCComparison eq(x.List({col(0, 1)}), SQLRSSC_EQUAL, x.List({col(0, 3)}));
  SQLRSSCComparison swapped(x.List({col(0, 3)}), SQLRSSC_EQUAL, x.List({col(0, 1)}));
  SQLRSSCComparison outer(x.List({col(-1, 1)}), SQLRSSC_EQUAL, x.List({col(0, 3)}));
  SQLRSSCComparison lt(x.List({col(0, 1)}), SQLRSSC_LESS_THAN, x.List({col(0, 3)}));
  EXPECT_TRUE(eq.IsEqSearchCondition(2));
  EXPECT_FALSE(swapped.IsEqSearchCondition(2));
  EXPECT_FALSE(outer.IsEqSearchCondition(2));
  EXPECT_FALSE(lt.IsEqSearchCondition(2));
  SQLRSSCAnd both(eq.Copy(), new SQLRSSCComparison(x.List({col(0, 0)}), SQLRSSC_EQUAL, x.List({col(0, 2)})));
  EXPECT_TRUE(both.IsEqSearchCondition(2));
  SQLRSSCAnd mixed(eq.Copy(), lt.Copy());
  EXPECT_FALSE(mixed.IsEqSearchCondition(2));
}

TEST(ConditionTokens, DescribeConditionsInPrefixOrder) {
  Exprs x;
  SQLRSSCSearchCondPtr c(new SQLRSSCAnd(
      new SQLRSSCComparison(x.List({x.Int(1)}), SQLRSSC_GREATER_THAN_OR_EQUAL, x.List({x.Int(2)})),
      new SQLRSSCNot(new SQLRSSCLike(x.Str("a"), x.Str("b"), nullptr, true))));
  SQLTokenString ts;
  c->createTokenString(&ts, 0, nullptr);
  EXPECT_EQ(ts.GetToken(), SQLNWTSCAnd);
  EXPECT_EQ(ts.GetBs2(), 2);
  EXPECT_EQ(ts.GetToken(), SQLNWTSCGreaterThanOrEquals);
  EXPECT_EQ(ts.GetBs2(), 1);
  EXPECT_EQ(ts.GetToken(), SQLNWTVEIntegerConst);
  EXPECT_EQ(ts.GetBs4(), 1);
  EXPECT_EQ(ts.GetToken(), SQLNWTVEIntegerConst);
  EXPECT_EQ(ts.GetBs4(), 2);
  EXPECT_EQ(ts.GetToken(), SQLNWTSCNot);
  EXPECT_EQ(ts.GetToken(), SQLNWTSCLikeAnsi);
  unsigned char const *bytes;
  std::int16_t n;
  EXPECT_EQ(ts.GetToken(), SQLNWTVEStringConst);
  ts.GetMemory(bytes, n);
  EXPECT_EQ(ts.GetToken(), SQLNWTVEStringConst);
  ts.GetMemory(bytes, n);
  EXPECT_EQ(ts.GetToken(), SQLNWTNull);
  EXPECT_TRUE(ts.AtEnd());
}

}  // namespace
}  // namespace molvane::test
