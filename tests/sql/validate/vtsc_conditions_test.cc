// Validated search conditions: connectives and the lifting of REFERS TO
// predicates and company-number restrictions, the comparison type rule,
// comparisons and ranges over row values.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "sql/common/column_descriptor.h"
#include "sql/common/sql_exception.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/validate/type_set.h"
#include "sql/validate/vtsc_column_ref.h"
#include "sql/validate/vtsc_comparison.h"
#include "sql/validate/vtsc_connectives.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_refers.h"
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
SQLColumnDescriptor strCol("s", SQL_STRING, 8, 1);
SQLColumnDescriptor arrayCol("a", SQL_INTEGER, 4, 3);

SQLVTSCValueExpr *Col(SQLColumnDescriptor const &d, int id = 0) { return new SQLVTSCColumnRef(0, id, &d); }
SQLVTSCValueExpr *Int(long v) { return new SQLVTSCIntegerConst(v); }

SQLVTSCRowValueConstr *Row(std::initializer_list<SQLVTSCValueExpr *> elements) {
  auto *row = new SQLVTSCGenericRowValueConstr();
  for (SQLVTSCValueExpr *e : elements) row->Append(e);
  return row;
}

// A plain condition that the lifting passes leave alone.
class Plain : public SQLVTSCSearchCond {
 public:
  SQLRSSCSearchCond *CreateRS() override { return nullptr; }
  void Log() const override {}
  void MapColumnIds(int, SQLColumnIdMappingList *) override {}
  void MapColumnNamesToIds(SQLVTScope *, SQLVTreeData *, int, SQLVTWhereUsedMgr *) override {}
  SQLVTSCSearchCond *PruneCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *) override { return this; }
  SQLVTSCSearchCond *PruneRefers(DynamicArray<SQLVTSCRefers *> *) override { return this; }
  void ValidateArrayUsage() const override {}
  void ValidateTypes() const override {}
};

// Stands for a company-number restriction: lifted by PruneCompnrSpecs.
class Compnr : public Plain {
 public:
  SQLVTSCSearchCond *PruneCompnrSpecs(DynamicArray<SQLVTSCCompnrSpec *> *specs) override {
    specs->Insert(nullptr);
    delete this;
    return nullptr;
  }
};

SQLVTSCRefers *Refers() {
  return new SQLVTSCRefers(new SQLVTSCImplicitRowValueConstr(Col(intCol)), nullptr, nullptr, nullptr,
                           SQL_UNREF_NONE);
}

// The shape of an executable condition: And(...), Cmp<op>, Between.
std::string Shape(SQLRSSCSearchCond *c) {
  if (auto *cmp = dynamic_cast<SQLRSSCComparison *>(c)) return "Cmp" + std::to_string(cmp->GetOperator());
  if (dynamic_cast<SQLRSSCBetween *>(c)) return "Between";
  if (auto *logical = dynamic_cast<SQLRSSCLogical *>(c)) {
    std::string s = dynamic_cast<SQLRSSCAnd *>(c) ? "And(" : "Or(";
    for (int i = 0; i < logical->NrOperands(); ++i) s += (i ? "," : "") + Shape(logical->GetOperand(i));
    return s + ")";
  }
  return "?";
}

TEST(VtConditions, NestedAndsFlatten) {
  SQLVTSCAnd outer(new Plain(), new SQLVTSCAnd(new Plain(), new SQLVTSCAnd(new Plain(), new Plain())));
  EXPECT_EQ(outer.NrTerms(), 4);
  SQLVTSCOr orTerm(new SQLVTSCOr(new Plain(), new Plain()), new SQLVTSCAnd(new Plain(), new Plain()));
  EXPECT_EQ(orTerm.NrTerms(), 3);
}

TEST(VtConditions, PruningLiftsFromAndChains) {
  // _compnr = 1 AND x: only x remains, without an AND around it
  auto *x = new Plain();
  DynamicArray<SQLVTSCCompnrSpec *> specs;
  SQLVTSCSearchCond *rest = (new SQLVTSCAnd(new Compnr(), x))->PruneCompnrSpecs(&specs);
  EXPECT_EQ(rest, x);
  EXPECT_EQ(specs.NrElements(), 1);
  delete rest;

  // REFERS TO and compnr only: nothing remains
  DynamicArray<SQLVTSCRefers *> refers;
  SQLVTSCSearchCond *cond = new SQLVTSCAnd(Refers(), new SQLVTSCAnd(new Compnr(), Refers()));
  cond = cond->PruneRefers(&refers);
  ASSERT_NE(cond, nullptr);
  EXPECT_EQ(refers.NrElements(), 2);
  EXPECT_EQ(cond->PruneCompnrSpecs(&specs), nullptr);
  for (int i = 0; i < refers.NrElements(); ++i) delete refers.Get(i);

  // three terms stay an AND
  SQLVTSCSearchCond *three = new SQLVTSCAnd(new SQLVTSCAnd(new Plain(), Refers()), new SQLVTSCAnd(new Plain(), new Plain()));
  DynamicArray<SQLVTSCRefers *> one;
  std::unique_ptr<SQLVTSCSearchCond> kept(three->PruneRefers(&one));
  EXPECT_EQ(kept.get(), three);
  EXPECT_EQ(static_cast<SQLVTSCAnd *>(three)->NrTerms(), 3);
  delete one.Get(0);
}

TEST(VtConditions, LiftedPredicatesRefusedBelowOrAndNot) {
  struct Case {
    std::function<SQLVTSCSearchCond *()> make;
    bool refers;
    char const *state;
    char const *message;
  };
  Case cases[] = {
      {[] { return new SQLVTSCOr(new Plain(), new Compnr()); }, false, "42I30", "Compnr specification in OR condition"},
      // the AND below the OR lifts its predicate: still refused
      {[] { return new SQLVTSCOr(new Plain(), new SQLVTSCAnd(new Plain(), new Compnr())); }, false, "42I30",
       "Compnr specification in OR condition"},
      {[] { return new SQLVTSCOr(Refers(), new Plain()); }, true, "42I15", "REFERS TO predicate in OR condition"},
      {[] { return new SQLVTSCNot(Refers()); }, true, "42I16", "REFERS TO predicate in NOT condition"},
      {[] { return new SQLVTSCNot(new SQLVTSCAnd(new Compnr(), new Plain())); }, false, "42I29",
       "Compnr specification in NOT condition"},
  };
  for (Case &c : cases) {
    std::unique_ptr<SQLVTSCSearchCond> cond(c.make());
    DynamicArray<SQLVTSCCompnrSpec *> specs;
    DynamicArray<SQLVTSCRefers *> refers;
    if (c.refers) {
      ExpectError([&] { cond->PruneRefers(&refers); }, c.state, c.message);
    } else {
      ExpectError([&] { cond->PruneCompnrSpecs(&specs); }, c.state, c.message);
    }
    for (int i = 0; i < refers.NrElements(); ++i) delete refers.Get(i);
    // the refused tree is still whole: deleting it frees each node once
  }
  // nothing to lift: OR and NOT stay
  std::unique_ptr<SQLVTSCSearchCond> plainOr(new SQLVTSCOr(new Plain(), new Plain()));
  DynamicArray<SQLVTSCRefers *> none;
  EXPECT_EQ(plainOr->PruneRefers(&none), plainOr.get());
}

TEST(VtConditions, ComparisonTypeRule) {
  auto set = [](std::initializer_list<SQLType> ts) {
    SQLTypeSet s;
    for (SQLType t : ts) s.Insert(t);
    return s;
  };
  SQLTypeSet all;
  all.InsertAllTypes();
  struct Case {
    SQLTypeSet left, right;
    bool ok;
    SQLType result;
  };
  Case cases[] = {
      {set({SQL_INTEGER}), all, true, SQL_REAL},
      {set({SQL_INTEGER}), set({SQL_INTEGER}), true, SQL_INTEGER},
      {set({SQL_STRING, SQL_INTEGER}), set({SQL_STRING, SQL_INTEGER}), false, SQL_UNDEFINED},
      {set({SQL_INTEGER, SQL_DATE}), set({SQL_INTEGER, SQL_DATE}), true, SQL_INTEGER},
      {set({SQL_STRING}), set({SQL_INTEGER}), false, SQL_UNDEFINED},
      {set({SQL_RAW}), set({SQL_RAW}), true, SQL_RAW},
      {set({SQL_DATE}), set({SQL_TIMESTAMP}), false, SQL_UNDEFINED},
  };
  for (Case const &c : cases) {
    SQLType out = SQL_UNDEFINED;
    EXPECT_EQ(c.left.SQLGetCastTypeForComparison(&c.right, &out), c.ok);
    EXPECT_EQ(out, c.result);
  }
}

TEST(VtConditions, ComparisonValidation) {
  SQLVTSCComparison mixed(Row({Col(strCol)}), SQLVTSC_EQUAL, Row({Col(intCol)}));
  ExpectError([&] { mixed.ValidateTypes(); }, "42T01", "Incompatible types for comparison operator '='");
  SQLVTSCComparison lessMixed(Row({Col(intCol), Col(strCol)}), SQLVTSC_ALL_LESS, Row({Int(1), Int(2)}));
  ExpectError([&] { lessMixed.ValidateTypes(); }, "42T01", "Incompatible types for comparison operator '#<'");

  SQLVTSCComparison arrays(Row({Col(arrayCol)}), SQLVTSC_EQUAL, Row({Col(arrayCol, 1)}));
  EXPECT_NO_THROW(arrays.ValidateArrayUsage());
  SQLVTSCComparison arrayLess(Row({Col(arrayCol)}), SQLVTSC_LESS, Row({Col(arrayCol, 1)}));
  ExpectError([&] { arrayLess.ValidateArrayUsage(); }, "42I49", "Array values can only be compared for equality");
  SQLVTSCComparison arrayPlain(Row({Col(arrayCol)}), SQLVTSC_NOT_EQUAL, Row({Int(1)}));
  ExpectError([&] { arrayPlain.ValidateArrayUsage(); }, "42I48",
              "Cannot compare array values with non-array values or array values of different depth");
}

TEST(VtConditions, ComparisonCreatesOneOrAChain) {
  SQLVTSCComparison lex(Row({Col(intCol), Col(intCol, 1)}), SQLVTSC_LESS, Row({Int(1), Int(2)}));
  std::unique_ptr<SQLRSSCSearchCond> one(lex.CreateRS());
  EXPECT_EQ(Shape(one.get()), "Cmp2");
  SQLVTSCComparison each(Row({Col(intCol), Col(intCol, 1), Col(intCol, 2)}), SQLVTSC_ALL_GREATER_EQUAL,
                         Row({Int(1), Int(2), Int(3)}));
  std::unique_ptr<SQLRSSCSearchCond> chain(each.CreateRS());
  EXPECT_EQ(Shape(chain.get()), "And(Cmp5,Cmp5,Cmp5)");
}

TEST(VtConditions, RangesSplitIntoComparisons) {
  struct Case {
    bool between;
    std::function<SQLVTSCRowValueConstr *()> lower, upper;
    char const *shape;
  };
  // expr is always (i0, i1)
  Case cases[] = {
      {true, [] { return Row({Int(1), Int(2)}); }, [] { return Row({Int(1), Int(5)}); }, "And(Cmp0,Between)"},
      {true, [] { return Row({Int(1)}); }, [] { return Row({Int(3), Int(4)}); }, "And(Cmp5,Cmp4)"},
      {true, [] { return Row({Int(1), Int(2)}); }, [] { return Row({Int(3), Int(4)}); }, "Between"},
      {true, [] { return Row({Int(1), Int(2)}); }, [] { return Row({Int(1), Int(2)}); }, "Cmp0"},
      {false, [] { return Row({Int(1), Int(2)}); }, [] { return Row({Int(1), Int(5)}); }, "And(Cmp0,Between)"},
      {false, [] { return Row({Int(1)}); }, [] { return Row({Int(1), Int(5)}); }, "And(Cmp0,Cmp4)"},
      {false, [] { return Row({Int(1), Int(2)}); }, [] { return Row({Int(7)}); }, "And(Between,Cmp5)"},
      {false, [] { return Row({Int(1)}); }, [] { return Row({Int(3)}); }, "Between"},
  };
  for (Case &c : cases) {
    SQLVTSCRowValueConstr *expr = Row({Col(intCol), Col(intCol, 1)});
    std::unique_ptr<SQLVTSCRange> range;
    if (c.between) {
      range.reset(new SQLVTSCBetween(expr, c.lower(), c.upper()));
    } else {
      range.reset(new SQLVTSCInRange(expr, c.lower(), c.upper()));
    }
    range->ValidateTypes();
    std::unique_ptr<SQLRSSCSearchCond> rs(range->CreateRS());
    EXPECT_EQ(Shape(rs.get()), c.shape) << (c.between ? "BETWEEN " : "INRANGE ") << c.shape;
  }
  SQLVTSCBetween badBetween(Row({Col(strCol)}), Row({Int(1)}), Row({Int(2)}));
  ExpectError([&] { badBetween.ValidateTypes(); }, "42T02", "Incompatible types for BETWEEN operator");
  SQLVTSCInRange badInRange(Row({Col(intCol)}), Row({Int(1)}), Row({Col(strCol)}));
  ExpectError([&] { badInRange.ValidateTypes(); }, "42T23", "Incompatible types for INRANGE operator");
  SQLVTSCInRange arrayRange(Row({Col(intCol)}), Row({Col(arrayCol)}), Row({Int(2)}));
  ExpectError([&] { arrayRange.ValidateArrayUsage(); }, "42I49", "Array values can only be compared for equality");
}

}  // namespace
