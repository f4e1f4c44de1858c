// Company-number restriction sets: simplification and evaluation over
// integers, parameters and references to other sets, and the restriction
// predicates the parser builds.
#include <gtest/gtest.h>

#include "sql/common/sql_parameter.h"
#include "sql/validate/vtsc_compnr.h"

namespace {

TEST(CompnrSet, SimplifiesAgreeingValuesAndRefusesConflicts) {
  SQLParameter p, q;
  struct Case {
    char const *name;
    void (*fill)(SQLVTSCCompnrSet *, SQLParameter *, SQLParameter *);
    bool simplifies;
  };
  Case const cases[] = {
      {"5 and 5", [](SQLVTSCCompnrSet *s, SQLParameter *, SQLParameter *) { s->IntersectWith(5); s->IntersectWith(5); }, true},
      {"5 and 6", [](SQLVTSCCompnrSet *s, SQLParameter *, SQLParameter *) { s->IntersectWith(5); s->IntersectWith(6); }, false},
      {"5 and p", [](SQLVTSCCompnrSet *s, SQLParameter *a, SQLParameter *) { s->IntersectWith(5); s->IntersectWith(static_cast<SQLParameter const *>(a)); }, false},
      {"p and p", [](SQLVTSCCompnrSet *s, SQLParameter *a, SQLParameter *) { s->IntersectWith(static_cast<SQLParameter const *>(a)); s->IntersectWith(static_cast<SQLParameter const *>(a)); }, true},
      {"p and q", [](SQLVTSCCompnrSet *s, SQLParameter *a, SQLParameter *b) { s->IntersectWith(static_cast<SQLParameter const *>(a)); s->IntersectWith(static_cast<SQLParameter const *>(b)); }, false},
  };
  for (Case const &c : cases) {
    SCOPED_TRACE(c.name);
    SQLVTSCCompnrSet set;
    c.fill(&set, &p, &q);
    EXPECT_EQ(set.Simplify(), c.simplifies);
    EXPECT_TRUE(set.IsRestricted());
  }
  SQLVTSCCompnrSet twice;
  twice.IntersectWith(5);
  twice.IntersectWith(5);
  ASSERT_TRUE(twice.Simplify());
  EXPECT_EQ(twice.Evaluate(), 5);
}

TEST(CompnrSet, EvaluatesThroughReferences) {
  SQLVTSCCompnrSet empty;
  EXPECT_EQ(empty.Evaluate(), -1);
  EXPECT_FALSE(empty.IsRestricted());

  SQLVTSCCompnrSet five, six, a, b;
  five.IntersectWith(5);
  six.IntersectWith(6);
  a.IntersectWith(5);
  a.IntersectWith(&five);
  EXPECT_EQ(a.Evaluate(), 5);
  b.IntersectWith(5);
  b.IntersectWith(&six);
  EXPECT_EQ(b.Evaluate(), -2);

  // Two sets that refer to each other only are unrestricted.
  SQLVTSCCompnrSet x, y;
  x.IntersectWith(&y);
  y.IntersectWith(&x);
  EXPECT_EQ(x.Evaluate(), -1);
  EXPECT_TRUE(x.Simplify());
  EXPECT_FALSE(x.IsRestricted());

  SQLParameter p;
  p.SetType(SQL_INTEGER, 0, 1);
  p.BindInteger(7);
  SQLVTSCCompnrSet bound;
  bound.IntersectWith(static_cast<SQLParameter const *>(&p));
  EXPECT_EQ(bound.Evaluate(), 7);
}

TEST(CompnrSpec, KindsAndTheInListParameter) {
  auto column = [] { return new SQLVTSCIdentifier(new SQLVTSCIdentifier::String("t._compnr")); };
  SQLVTSCCompnrSpec number(column(), 5);
  int n = 0;
  SQLParameter const *parameter = nullptr;
  EXPECT_TRUE(number.GetInteger(&n));
  EXPECT_EQ(n, 5);
  EXPECT_FALSE(number.GetParam(&parameter));
  List<int> *list = nullptr;
  EXPECT_EQ(number.CompnrSetToParameter(&list), nullptr);

  auto *numbers = new List<int>;
  numbers->Append(3);
  numbers->Append(1);
  SQLVTSCCompnrSpec in(column(), numbers);
  EXPECT_FALSE(in.GetInteger(&n));
  std::unique_ptr<SQLParameter> made(in.CompnrSetToParameter(&list));
  std::unique_ptr<List<int>> handed(list);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetType(), SQL_INTEGER);
  EXPECT_EQ(handed.get(), numbers);
  EXPECT_EQ(in.GetList(), nullptr);
  ASSERT_TRUE(in.GetParam(&parameter));
  EXPECT_EQ(parameter, made.get());

  // Pruning lifts the company-number specification whole.
  DynamicArray<SQLVTSCCompnrSpec *> specs;
  auto *spec = new SQLVTSCCompnrSpec(column(), new SQLVTSCIdentifier(new SQLVTSCIdentifier::String("u._compnr")));
  EXPECT_EQ(spec->PruneCompnrSpecs(&specs), nullptr);
  ASSERT_EQ(specs.NrElements(), 1);
  SQLVTSCIdentifier const *other = nullptr;
  EXPECT_TRUE(specs.Get(0)->GetIdentifier(&other));
  EXPECT_STREQ(other->GetText(), "u._compnr");
  delete specs.Get(0);
}

}  // namespace
