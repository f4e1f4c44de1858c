// Validated operators typed through their rule tables, and row value
// constructors.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_parameter.h"
#include "sql/exec/sc_value_expr.h"
#include "sql/validate/vtsc_arith.h"
#include "sql/validate/vtsc_cast.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_parameter.h"
#include "sql/validate/vtsc_row_value.h"

namespace {

void ExpectError(std::function<void()> const &f, char const *state, std::string const &message) {
  try {
    f();
    ADD_FAILURE() << "no error, expected: " << message;
  } catch (SQLExSyntaxError const &e) {
    EXPECT_STREQ(e.GetSQLState(), state);
    EXPECT_EQ(std::string(e.GetMessageText()->GetString()), message);
  }
}

SQLColumnDescriptor intCol("i", SQL_INTEGER, 4, 1);
SQLColumnDescriptor dateCol("d", SQL_DATE, 4, 1);
SQLColumnDescriptor strCol("s", SQL_STRING, 8, 1);
SQLColumnDescriptor rawCol("r", SQL_RAW, 8, 1);
SQLColumnDescriptor arrayCol("a", SQL_INTEGER, 4, 3);

SQLVTSCValueExpr *Col(SQLColumnDescriptor const &d, int id = 0) { return new SQLVTSCColumnRef(0, id, &d); }
SQLVTSCValueExpr *Int(long v) { return new SQLVTSCIntegerConst(v); }

TEST(VtOperators, PossibleTypesFollowTheRules) {
  struct Case {
    std::function<SQLVTSCValueExpr *()> make;
    SQLTypeSet expected;
  };
  auto set = [](std::initializer_list<SQLType> ts) {
    SQLTypeSet s;
    for (SQLType t : ts) s.Insert(t);
    return s;
  };
  Case cases[] = {
      {[] { return new SQLVTSCDivide(Col(intCol), Col(intCol, 1)); }, set({SQL_REAL})},
      {[] { return new SQLVTSCModulo(Int(7), Int(2)); }, set({SQL_INTEGER})},
      {[] { return new SQLVTSCSubtract(Col(dateCol), Col(dateCol, 1)); }, set({SQL_INTERVAL_DAYS})},
      {[] { return new SQLVTSCAdd(Col(intCol), Col(intCol)); }, set({SQL_INTEGER})},
      {[] { return new SQLVTSCConcatenate(Col(strCol), Col(strCol)); }, set({SQL_STRING})},
  };
  for (Case &c : cases) {
    std::unique_ptr<SQLVTSCValueExpr> op(c.make());
    EXPECT_EQ(op->GetPossibleTypeSet(), c.expected);
  }
  std::unique_ptr<SQLVTSCValueExpr> strings(new SQLVTSCAdd(Col(strCol), Col(strCol)));
  ExpectError([&] { strings->GetPossibleTypeSet(); }, "42T08", "Incorrect operand types for operator '+'");
  std::unique_ptr<SQLVTSCValueExpr> mixed(new SQLVTSCConcatenate(Col(strCol), Col(rawCol)));
  ExpectError([&] { mixed->GetPossibleTypeSet(); }, "42T08", "Incorrect operand types for operator '&'");
}

TEST(VtOperators, CastChoosesByPreference) {
  // INTEGER column + integer constant asked as REAL: both stay as they are
  auto *sum = new SQLVTSCAdd(Col(intCol), Int(1));
  std::unique_ptr<SQLVTSCValueExpr> real(sum->Cast(SQL_REAL, false));
  EXPECT_EQ(real.get(), sum);
  EXPECT_TRUE(sum->GetLeft()->IsColumnRef());
  EXPECT_TRUE(sum->GetRight()->IsIntegerConst());

  // modulo asked as REAL takes the INTEGER row with result REAL
  SQLParameter p, q;
  auto *mod = new SQLVTSCModulo(new SQLVTSCParameterRef(&p), new SQLVTSCParameterRef(&q));
  std::unique_ptr<SQLVTSCValueExpr> m(mod->Cast(SQL_REAL, false));
  EXPECT_EQ(p.GetType(), SQL_INTEGER);
  EXPECT_EQ(q.GetType(), SQL_INTEGER);

  std::unique_ptr<SQLVTSCValueExpr> div(new SQLVTSCDivide(Col(intCol), Col(intCol, 1)));
  ExpectError([&] { div->Cast(SQL_INTEGER, false); }, "42T18",
              "Type conflict on operator '/'. Type INTEGER expected");
  std::unique_ptr<SQLVTSCValueExpr> days(new SQLVTSCSubtract(Col(dateCol), Col(dateCol, 1)));
  ExpectError([&] { days->Cast(SQL_DATE, false); }, "42T18", "Type conflict on operator '-'. Type DATE expected");
  std::unique_ptr<SQLVTSCValueExpr> modInt(new SQLVTSCModulo(Int(1), Int(2)));
  ExpectError([&] { modInt->Cast(SQL_STRING, false); }, "42T18",
              "Type conflict on operator '\\'. Type STRING expected");

  // date - days asked as DATE casts the integer to INTERVAL DAYS
  auto *shift = new SQLVTSCSubtract(Col(dateCol), Int(3));
  std::unique_ptr<SQLVTSCValueExpr> shifted(shift->Cast(SQL_DATE, false));
  EXPECT_EQ(shifted.get(), shift);
  auto *rc = dynamic_cast<SQLVTSCReinterpretCast *>(shift->GetRight());
  ASSERT_NE(rc, nullptr);
  EXPECT_EQ(rc->GetTargetType(), SQL_INTERVAL_DAYS);
}

TEST(VtOperators, AmbiguousDateSumIsComputedAsRealAndReinterpreted) {
  auto *sum = new SQLVTSCAdd(Int(1), Int(2));
  std::unique_ptr<SQLVTSCValueExpr> result(sum->Cast(SQL_DATE, false));
  auto *rc = dynamic_cast<SQLVTSCReinterpretCast *>(result.get());
  ASSERT_NE(rc, nullptr);
  EXPECT_EQ(rc->GetOperand(), sum);
  EXPECT_EQ(rc->GetTargetType(), SQL_DATE);
  EXPECT_TRUE(sum->GetLeft()->IsIntegerConst());  // cast to REAL with tolerance
  std::unique_ptr<SQLRSSCValueExpr> rs(result->CreateRS());
  EXPECT_NE(rs, nullptr);
}

// Inside a chain too: its lower part is reinterpreted where the parent's
// row leaves it ambiguous, and the rest stays as it was.
TEST(VtOperators, AmbiguousPartOfAChainIsReinterpreted) {
  SQLColumnDescriptor daysCol("y", SQL_INTERVAL_DAYS, 4, 1);
  auto *inner = new SQLVTSCAdd(Int(1), Int(2));
  auto *sum = new SQLVTSCAdd(inner, Col(daysCol));
  std::unique_ptr<SQLVTSCValueExpr> result(sum->Cast(SQL_DATE, false));
  EXPECT_EQ(result.get(), sum);
  auto *rc = dynamic_cast<SQLVTSCReinterpretCast *>(sum->GetLeft());
  ASSERT_NE(rc, nullptr);
  EXPECT_EQ(rc->GetOperand(), inner);
  EXPECT_EQ(rc->GetTargetType(), SQL_DATE);
  EXPECT_TRUE(sum->GetRight()->IsColumnRef());
}

// A chain of any length costs no stack: every pass loops over it.
TEST(VtOperators, LongChainsRunWithoutRecursion) {
  auto chain = [](int terms, long first) {
    std::unique_ptr<SQLVTSCValueExpr> e(Col(intCol));
    for (int i = 1; i < terms; ++i) {
      SQLVTSCValueExpr *right = i == 1 ? Int(first) : Col(intCol, 1);
      e.reset(i % 2 ? static_cast<SQLVTSCValueExpr *>(new SQLVTSCAdd(e.release(), right))
                    : new SQLVTSCMultiply(e.release(), right));
    }
    return e;
  };
  int const terms = 200000;
  std::unique_ptr<SQLVTSCValueExpr> e = chain(terms, 1);
  SQLTypeSet integer;
  integer.Insert(SQL_INTEGER);
  EXPECT_EQ(e->GetPossibleTypeSet(), integer);
  EXPECT_EQ(e->Cast(SQL_INTEGER, false), e.get());
  e->ValidateTypes();
  e->ValidateArrayUsage();
  e->Log();
  SQLColumnIdMappingList mappings;
  mappings.Append(SQLColumnIdMapping(0, 0, 4));
  e->MapColumnIds(0, &mappings);
  std::unique_ptr<SQLVTSCValueExpr> copy(e->Copy());
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(e->IsSameValueExpr2(copy.get()));
  EXPECT_FALSE(e->IsSameValueExpr2(chain(terms, 2).get()));
  std::unique_ptr<SQLRSSCValueExpr> rs(e->CreateRS());
  EXPECT_EQ(rs->GetColumnDescriptor().GetType(), SQL_INTEGER);
}

TEST(VtOperators, ArraysIdentityAndCopies) {
  std::unique_ptr<SQLVTSCValueExpr> withArray(new SQLVTSCAdd(Col(intCol), Col(arrayCol)));
  ExpectError([&] { withArray->ValidateArrayUsage(); }, "42I50", "Invalid use of array value in expression");

  std::unique_ptr<SQLVTSCValueExpr> a(new SQLVTSCMultiply(Col(intCol), Int(2)));
  std::unique_ptr<SQLVTSCValueExpr> b(a->Copy());
  std::unique_ptr<SQLVTSCValueExpr> c(new SQLVTSCMultiply(Int(2), Col(intCol)));
  std::unique_ptr<SQLVTSCValueExpr> d(new SQLVTSCAdd(Col(intCol), Int(2)));
  EXPECT_TRUE(a->IsSameValueExpr2(b.get()));
  EXPECT_FALSE(a->IsSameValueExpr2(c.get()));
  EXPECT_FALSE(a->IsSameValueExpr2(d.get()));

  SQLColumnIdMappingList mappings;
  mappings.Append(SQLColumnIdMapping(0, 0, 4));
  a->MapColumnIds(0, &mappings);
  EXPECT_EQ(static_cast<SQLVTSCColumnRef *>(static_cast<SQLVTSCMultiply *>(a.get())->GetLeft())->GetColumnId(), 4);
}

TEST(VtRowValue, TruncateCopyAndExpansion) {
  SQLVTSCGenericRowValueConstr row;
  for (long v = 1; v <= 5; ++v) row.Append(Int(v));
  row.Truncate(7);
  EXPECT_EQ(row.NrElements(), 5);
  row.Truncate(3);
  ASSERT_EQ(row.NrElements(), 3);
  std::unique_ptr<SQLVTSCRowValueConstr> copy(row.Copy());
  ASSERT_EQ(copy->GetType(), SQL_ROW_VALUE_GENERIC);
  long expected = 1;
  for (bool more = copy->First(); more; more = copy->Next()) {
    EXPECT_EQ(copy->GetCurrent()->AsIntegerConst()->GetInteger(), expected++);
  }
  std::unique_ptr<pSQLRSSCValueExprList> rs(row.CreateRSValueExprList());
  EXPECT_EQ(rs->NrElements(), 3);
  for (bool more = rs->First(); more; more = rs->Next()) delete rs->GetCurrent();

  auto *members = new pSQLVTSCValueExprList();
  members->Append(Col(intCol, 0));
  members->Append(Col(strCol, 2));
  auto *pseudo = new SQLVTSCPseudoColumnRef("combination", members);
  std::unique_ptr<SQLVTSCRowValueConstr> expanded(pseudo->ConvertToRowValueConstr());
  EXPECT_EQ(expanded->GetType(), SQL_ROW_VALUE_PSEUDO_COLUMN);
  EXPECT_STREQ(static_cast<SQLVTSCPseudoColRowValueConstr *>(expanded.get())->GetName(), "combination");
  EXPECT_EQ(expanded->NrElements(), 2);

  SQLVTSCImplicitRowValueConstr single(Int(9));
  EXPECT_EQ(single.GetType(), SQL_ROW_VALUE_IMPLICIT);
  std::unique_ptr<SQLVTSCRowValueConstr> singleCopy(single.Copy());
  EXPECT_EQ(singleCopy->NrElements(), 1);
}

}  // namespace
