// Table-driven cases of the SQL agent's differential tests: set functions
// over no row and conditions that can fail, subqueries answered here or
// sent as a list, texts of different widths, writes of the transaction seen
// by an open cursor's subqueries, and inner joins across drivers; each case
// run as an optimised tree and as built, in every mode and layout of the
// fixture.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "sql_agent_diff.h"

namespace molvane::test::agent_diff {
namespace {

// Set functions over no row and conditions that can fail: what the tree
// gives optimised (its leaves and their drivers doing what they can) and
// as built (every operator here), each compared with SQL's answer (the
// rows SQLite gives for the same query, or the SQLSTATE of the error). Set functions keep their one row
// without GROUP BY under a condition that reads no row of their table and
// leaves none (IN, EXISTS, a comparison of a scalar subquery, over company
// 2, which in the layout "two" is another driver's, or over company 1)
// and under a BETWEEN whose bounds hold nothing, also as scalar
// subqueries; a BETWEEN of equal bounds keeps its row. A FALSE operand of
// an AND decides its row whatever the others raise, in either order, also
// against a correlated subquery and one over the other driver; a date
// arithmetic one day past the calendar's last or before its first day
// fails, on its last and first day it does not.
TEST_P(SqlAgentDiff, SetFunctionsOverNoRowAndFailingConditionsAnswerAsSqlite) {
  const int E = Id("emp"), D = Id("dept"), S = Id("salary"), H = Id("hired");
  // The rows of a tree, or "error <SQLSTATE>".
  auto outcome = [this](SQLRowSource *tree, bool optimise) -> Rows {
    try {
      Rows rows = Run(tree, optimise);
      std::sort(rows.begin(), rows.end());
      return rows;
    } catch (const SQLException &e) {
      return {std::string("error ") + e.GetSQLState()};
    }
  };
  auto emps = [](int from, int to) {
    Rows rows;
    for (int e = from; e <= to; ++e) rows.push_back(std::to_string(e) + "|");
    std::sort(rows.begin(), rows.end());
    return rows;
  };
  struct Case {
    std::string text;
    std::function<SQLRowSource *()> build;
    Rows expected;  // sorted
  };
  std::vector<Case> cases;
  // Row-free conditions that leave no row; the last keeps emp 20.
  struct Condition {
    std::string text;
    std::function<SQLRSSCSearchCond *(SQLRowSource *)> make;  // over the aggregated table's row
    bool keeps20;
  };
  std::vector<Condition> const conditions = {
      {"-1 IN (SELECT emp FROM c2)",
       [=, this](SQLRowSource *) {
         SQLRowSource *b = Leaf(2);
         return new SQLRSSCInSubquery(Int(-1), Project(b, {Col(b, E)}));
       },
       false},
      {"-1 IN (SELECT emp FROM c1)",
       [=, this](SQLRowSource *) {
         SQLRowSource *b = Leaf(1);
         return new SQLRSSCInSubquery(Int(-1), Project(b, {Col(b, E)}));
       },
       false},
      {"EXISTS (SELECT * FROM c2 WHERE emp = -99999)",
       [=, this](SQLRowSource *) {
         SQLRowSource *b = Leaf(2);
         return new SQLRSSCExists(new SQLRSFilter(b, Cmp(SQLRSSC_EQUAL, Col(b, E), Int(-99999))));
       },
       false},
      {"(SELECT COUNT(*) FROM c2 WHERE emp < 0) > 0",
       [=, this](SQLRowSource *) {
         SQLRowSource *b = Leaf(2);
         SQLRowSource *g =
             Group(new SQLRSFilter(b, Cmp(SQLRSSC_LESS_THAN, Col(b, E), Int(0))), {}, {SQLRSGroupSpec::CountStar()});
         return Cmp(SQLRSSC_GREATER_THAN, new SQLRSSCScalarSubquery(g), Int(0));
       },
       false},
      {"emp BETWEEN 30 AND 20",
       [=](SQLRowSource *t) { return new SQLRSSCBetween(List1(Col(t, E)), List1(Int(30)), List1(Int(20))); }, false},
      {"emp BETWEEN 20 AND 20",
       [=](SQLRowSource *t) { return new SQLRSSCBetween(List1(Col(t, E)), List1(Int(20)), List1(Int(20))); }, true},
  };
  for (Condition const &c : conditions) {
    std::string const where = " FROM c1 WHERE " + c.text;
    cases.push_back({"SELECT COUNT(*)" + where, [=, this] {
                       SQLRowSource *t = Leaf(1);
                       return Group(new SQLRSFilter(t, c.make(t)), {}, {SQLRSGroupSpec::CountStar()});
                     },
                     {c.keeps20 ? "1|" : "0|"}});
    cases.push_back({"SELECT COUNT(salary), COUNT(*), SUM(emp), MIN(emp)" + where, [=, this] {
                       SQLRowSource *t = Leaf(1);
                       return Group(new SQLRSFilter(t, c.make(t)), {},
                                    {SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kCount, Arg(Col(t, S))),
                                     SQLRSGroupSpec::CountStar(),
                                     SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kSum, Arg(Col(t, E))),
                                     SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kMin, Arg(Col(t, E)))});
                     },
                     {c.keeps20 ? "1|1|20|20|" : "0|0|NULL|NULL|"}});
    cases.push_back({"SELECT emp, COUNT(*)" + where + " GROUP BY emp", [=, this] {
                       SQLRowSource *t = Leaf(1);
                       return Group(new SQLRSFilter(t, c.make(t)), {E},
                                    {SQLRSGroupSpec::Column(E), SQLRSGroupSpec::CountStar()});
                     },
                     c.keeps20 ? Rows{"20|1|"} : Rows{}});
    // Per row of company 2 (emp 41 .. 65), a count over company 1 (its
    // emp 20 for 41) and a sum (the implicit COUNT(*) > 0 left aside).
    cases.push_back({"SELECT a.emp FROM c2 a WHERE (SELECT COUNT(*)" + where + " AND emp = a.emp - 21) = 0",
                     [=, this] {
                       SQLRowSource *a = Leaf(2);
                       SQLRowSource *t = Leaf(1);
                       auto *own = Cmp(SQLRSSC_EQUAL, Col(t, E), new SQLRSSCSubtract(Col(a, E, -1), Int(21)));
                       SQLRowSource *g = Group(new SQLRSFilter(t, new SQLRSSCAnd(own, c.make(t))), {},
                                               {SQLRSGroupSpec::CountStar()});
                       auto *none = Cmp(SQLRSSC_EQUAL, new SQLRSSCScalarSubquery(g), Int(0));
                       return Project(new SQLRSFilter(a, none), {Col(a, E)});
                     },
                     c.keeps20 ? emps(42, 65) : emps(41, 65)});
    cases.push_back({"SELECT a.emp, (SELECT SUM(emp)" + where + " AND emp = a.emp - 21) FROM c2 a WHERE a.emp < 43",
                     [=, this] {
                       SQLRowSource *a = Leaf(2);
                       SQLRowSource *t = Leaf(1);
                       auto *own = Cmp(SQLRSSC_EQUAL, Col(t, E), new SQLRSSCSubtract(Col(a, E, -1), Int(21)));
                       SQLRowSource *g =
                           Group(new SQLRSFilter(t, new SQLRSSCAnd(own, c.make(t))), {},
                                 {SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kSum, Arg(Col(t, E)))});
                       auto *first = new SQLRSFilter(a, Cmp(SQLRSSC_LESS_THAN, Col(a, E), Int(43)));
                       return Project(first, {Col(a, E), new SQLRSSCScalarSubquery(g)});
                     },
                     {c.keeps20 ? "41|20|" : "41|NULL|", "42|NULL|"}});
  }
  // A FALSE operand of an AND decides its row.
  auto big = [=](SQLRowSource *t) {
    return Cmp(SQLRSSC_GREATER_THAN, new SQLRSSCMultiply(Col(t, E), Int(400000000)), Int(0));
  };
  auto below5 = [=](SQLRowSource *t) { return Cmp(SQLRSSC_LESS_THAN, Col(t, E), Int(5)); };
  cases.push_back({"SELECT emp FROM c1 WHERE emp * 400000000 > 0 AND emp < 5", [=, this] {
                     SQLRowSource *t = Leaf(1);
                     return Project(new SQLRSFilter(t, new SQLRSSCAnd(big(t), below5(t))), {Col(t, E)});
                   },
                   emps(1, 4)});
  cases.push_back({"SELECT emp FROM c1 WHERE emp < 5 AND emp * 400000000 > 0", [=, this] {
                     SQLRowSource *t = Leaf(1);
                     return Project(new SQLRSFilter(t, new SQLRSSCAnd(below5(t), big(t))), {Col(t, E)});
                   },
                   emps(1, 4)});
  cases.push_back({"SELECT emp FROM c1 WHERE emp > 5 OR emp * 400000000 > 0", [=, this] {
                     SQLRowSource *t = Leaf(1);
                     return Project(new SQLRSFilter(t, new SQLRSSCOr(Cmp(SQLRSSC_GREATER_THAN, Col(t, E), Int(5)),
                                                                     big(t))),
                                    {Col(t, E)});
                   },
                   emps(1, 40)});
  cases.push_back({"SELECT emp FROM c1 WHERE emp * 400000000 > 0 AND emp - 2 < 5 (emp 6 overflows)", [=, this] {
                     SQLRowSource *t = Leaf(1);
                     auto *near = Cmp(SQLRSSC_LESS_THAN, new SQLRSSCSubtract(Col(t, E), Int(2)), Int(5));
                     return Project(new SQLRSFilter(t, new SQLRSSCAnd(big(t), near)), {Col(t, E)});
                   },
                   {"error 22003"}});
  // An equality to a constant that no row holds spares the division by
  // zero that the same constant would make; one that a row holds does not.
  for (int at : {99, 2}) {
    cases.push_back({"SELECT emp FROM c1 WHERE emp = " + std::to_string(at) + " AND 100 / (emp - " +
                         std::to_string(at) + ") > 0",
                     [=, this] {
                       SQLRowSource *t = Leaf(1);
                       auto *quotient = new SQLRSSCDivide(Int(100), new SQLRSSCSubtract(Col(t, E), Int(at)));
                       auto *where = new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(t, E), Int(at)),
                                                    Cmp(SQLRSSC_GREATER_THAN, quotient, Int(0)));
                       return Project(new SQLRSFilter(t, where), {Col(t, E)});
                     },
                     at == 99 ? Rows{} : Rows{"error 22012"}});
  }
  for (int company : {1, 2}) {
    // Correlated, over company 1 (the same driver) or 2 (the other one in
    // the layout "two"): emps 1 .. 4 have a partner of their department.
    cases.push_back({"SELECT emp FROM c1 a WHERE emp * 400000000 > 0 AND EXISTS (SELECT * FROM c" +
                         std::to_string(company) + " b WHERE b.dept = a.dept AND a.emp < 5)",
                     [=, this] {
                       SQLRowSource *a = Leaf(1);
                       SQLRowSource *b = Leaf(company);
                       auto *partner = new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(b, D), Col(a, D, -1)),
                                                      Cmp(SQLRSSC_LESS_THAN, Col(a, E, -1), Int(5)));
                       auto *where = new SQLRSSCAnd(big(a), new SQLRSSCExists(new SQLRSFilter(b, partner)));
                       return Project(new SQLRSFilter(a, where), {Col(a, E)});
                     },
                     emps(1, 4)});
  }
  // A WHERE over a join of c1 and c2 (the other driver's in the layout
  // "two") whose one-table conjunct fails on a row: only a joined row
  // reaches it, whichever side it reads and however the tables are read.
  // No emp of c1 is one of c2; emp 1 + 40 is emp 41.
  for (bool plusForty : {false, true}) {
    for (bool onInner : {true, false}) {
      for (bool count : {false, true}) {
        std::string const key = plusForty ? "a.emp + 40 = b.emp" : "a.emp = b.emp";
        std::string const failing = onInner ? "1 / (b.emp - 41) > 0" : "1 / (a.emp - 1) > 0";
        cases.push_back({std::string(count ? "SELECT COUNT(*)" : "SELECT a.emp, b.emp") + " FROM c1 a, c2 b WHERE " +
                             key + " AND " + failing,
                         [=, this] {
                           SQLRowSource *a = Leaf(1);
                           SQLRowSource *b = Leaf(2);
                           int const W = schema_->GetNumCols();
                           auto bEmp = [&] { return new SQLRSSCColumnRef(0, W + E, b->GetColumnDescriptor(E)); };
                           SQLRSSCValueExpr *aKey = plusForty ? new SQLRSSCAdd(Col(a, E), Int(40)) : Col(a, E);
                           SQLRSSCValueExpr *divisor = onInner ? new SQLRSSCSubtract(bEmp(), Int(41))
                                                               : new SQLRSSCSubtract(Col(a, E), Int(1));
                           auto *where = new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, aKey, bEmp()),
                                                        Cmp(SQLRSSC_GREATER_THAN, new SQLRSSCDivide(Int(1), divisor), Int(0)));
                           SQLRowSource *j = new SQLRSFilter(new SQLRSJoin(SQL_JOIN_INNER, a, b, nullptr), where);
                           if (count) return Group(j, {}, {SQLRSGroupSpec::CountStar()});
                           return Project(j, {Col(a, E), bEmp()});
                         },
                         plusForty ? Rows{"error 22012"} : count ? Rows{"0|"} : Rows{}});
      }
    }
  }
  // Dates: hired is 730000 .. 730049.
  auto shifted = [=](SQLRowSource *t, bool add, long days) -> SQLRSSCValueExpr * {
    auto *interval = new SQLRSSCReinterpretCast(Int(days), SQL_INTERVAL_DAYS);
    return add ? static_cast<SQLRSSCValueExpr *>(new SQLRSSCAdd(Col(t, H), interval))
               : new SQLRSSCSubtract(Col(t, H), interval);
  };
  for (auto const &shift : {std::tuple<bool, long, char const *>{true, AL_LAST_DAY_NUMBER - 730049, "40"},
                             {true, AL_LAST_DAY_NUMBER - 730048, "error 22008"},
                             {false, 730000, "40"},
                             {false, 730050, "error 22008"}}) {
    bool const add = std::get<0>(shift);
    long const days = std::get<1>(shift);
    char const *const expected = std::get<2>(shift);
    cases.push_back({std::string("SELECT COUNT(*) FROM c1 WHERE hired ") + (add ? "+" : "-") + " CAST(" +
                         std::to_string(days) + " AS DAYS) >= DATE 0",
                     [=, this] {
                       SQLRowSource *t = Leaf(1);
                       auto *where = Cmp(SQLRSSC_GREATER_THAN_OR_EQUAL, shifted(t, add, days), new SQLRSSCDateConst(0));
                       return Group(new SQLRSFilter(t, where), {}, {SQLRSGroupSpec::CountStar()});
                     },
                     {std::string(expected) + (expected[0] == 'e' ? "" : "|")}});
  }
  // A guard on a column without an index (no driver's index skips the
  // rows it rejects) written after or before a day past the calendar.
  for (bool guardFirst : {false, true}) {
    cases.push_back({std::string("SELECT COUNT(*) FROM c1 WHERE ") +
                         (guardFirst ? "salary < -1.0 AND " : "") + "hired + CAST(" +
                         std::to_string(AL_LAST_DAY_NUMBER - 730048) + " AS DAYS) >= DATE 0" +
                         (guardFirst ? "" : " AND salary < -1.0"),
                     [=, this] {
                       SQLRowSource *t = Leaf(1);
                       auto *past = Cmp(SQLRSSC_GREATER_THAN_OR_EQUAL, shifted(t, true, AL_LAST_DAY_NUMBER - 730048),
                                        new SQLRSSCDateConst(0));
                       auto *guard = Cmp(SQLRSSC_LESS_THAN, Col(t, S), Real(-1.0));
                       auto *where = guardFirst ? new SQLRSSCAnd(guard, past) : new SQLRSSCAnd(past, guard);
                       return Group(new SQLRSFilter(t, where), {}, {SQLRSGroupSpec::CountStar()});
                     },
                     {"0|"}});
  }
  for (Case const &c : cases) {
    Rows const shipped = outcome(c.build(), true);
    Rows const here = outcome(c.build(), false);
    EXPECT_EQ(shipped, c.expected) << "optimised: " << c.text;
    EXPECT_EQ(here, c.expected) << "as built: " << c.text;
  }
}

// Correlated subqueries with more distinct outer values than the shipped
// tree answers in an execution (SQLRSLocalSubquery::kMissesBeforeLocal):
// the optimised tree's conditions carry the second tree of their subquery,
// which over two drivers then answers here from the held rows of company
// 2; and uncorrelated INs over company 2 on a table of company 1, whose
// few values go to company 1's driver as a list. Their rows must be those
// of the tree run as built, with NULL outer values, NULLs and no rows from
// the subquery, in both polarities of IN.
TEST_P(SqlAgentDiff, SubqueriesAnsweredHereOrAsAListEqualLocal) {
  const int E = Id("emp"), N = Id("name"), D = Id("dept"), S = Id("salary");
  const int W = schema_->GetNumCols();
  // CASE t.dept WHEN 'A' THEN t.column WHEN 'B' THEN t.column END (NULL
  // for the other departments), of the row at the level.
  auto someOf = [](SQLRowSource *t, int dept, int column, int level, char const *first, char const *second) {
    auto *clauses = new List<SQLRSSCSimpleCase::WhenClause *>;
    clauses->Append(new SQLRSSCSimpleCase::WhenClause(Str(first), Col(t, column, level)));
    if (second != nullptr) clauses->Append(new SQLRSSCSimpleCase::WhenClause(Str(second), Col(t, column, level)));
    return new SQLRSSCSimpleCase(Col(t, dept, level), clauses, nullptr);
  };
  std::vector<Query> corpus;
  for (int bound : {30, 40, 50}) {
    std::string const tag = " [" + std::to_string(bound) + "]";
    // SELECT CASE b.dept WHEN 'C' THEN b.salary END FROM c2 b WHERE b.emp - a.emp > bound
    auto salaries = [=, this](SQLRowSource *a, int limit) {
      SQLRowSource *b = Leaf(2);
      auto *later = Cmp(SQLRSSC_GREATER_THAN, new SQLRSSCSubtract(Col(b, E), Col(a, E, -1)), Int(limit));
      return Project(new SQLRSFilter(b, later), {someOf(b, D, S, 0, "C", nullptr)});
    };
    auto notIn = [=, this](bool second) -> SQLRowSource * {
      SQLRowSource *a = Leaf(1);
      auto *in = new SQLRSSCInSubquery(someOf(a, D, S, 0, "A", "B"), salaries(a, bound),
                                       second ? salaries(a, bound) : nullptr);
      return Project(new SQLRSFilter(a, new SQLRSSCNot(in)), {Col(a, E)});
    };
    corpus.push_back({"SELECT emp FROM c1 a WHERE NOT (CASE dept WHEN 'A' THEN salary WHEN 'B' THEN salary END IN "
                      "(SELECT CASE dept WHEN 'C' THEN salary END FROM c2 b WHERE b.emp - a.emp > bound))" + tag,
                      false, [=] { return notIn(true); }, [=] { return notIn(false); }});
    auto in = [=, this](bool second) -> SQLRowSource * {
      SQLRowSource *a = Leaf(1);
      auto *in = new SQLRSSCInSubquery(Col(a, S), salaries(a, bound - 30), second ? salaries(a, bound - 30) : nullptr);
      return Project(new SQLRSFilter(a, in), {Col(a, E), Col(a, S)});
    };
    corpus.push_back({"SELECT emp, salary FROM c1 a WHERE salary IN (SELECT CASE dept WHEN 'C' THEN salary END "
                      "FROM c2 b WHERE b.emp - a.emp > bound - 30)" + tag,
                      false, [=] { return in(true); }, [=] { return in(false); }});
    // SELECT * FROM c2 b WHERE b.name = CASE a.dept WHEN 'A' THEN a.name WHEN 'B' THEN a.name END
    //   AND b.salary > x.salary - bound, in the ON of c1 a FULL JOIN c1 x.
    auto named = [=, this](SQLRowSource *a, SQLRowSource *x) {
      SQLRowSource *b = Leaf(2);
      auto *salary = new SQLRSSCColumnRef(-1, W + S, x->GetColumnDescriptor(S));
      return new SQLRSFilter(
          b, new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(b, N), someOf(a, D, N, -1, "A", "B")),
                            Cmp(SQLRSSC_GREATER_THAN, Col(b, S), new SQLRSSCSubtract(salary, Int(bound)))));
    };
    auto full = [=, this](bool second) -> SQLRowSource * {
      SQLRowSource *a = Leaf(1);
      SQLRowSource *x = Leaf(1);
      auto *on = new SQLRSSCExists(named(a, x), second ? named(a, x) : nullptr);
      return Project(new SQLRSJoin(SQL_JOIN_FULL, a, x, on),
                     {Col(a, E), new SQLRSSCColumnRef(0, W + E, x->GetColumnDescriptor(E))});
    };
    // SELECT emp, (SELECT MAX(salary) FROM c2 b WHERE b.emp - a.emp > bound
    //   AND b.name = CASE a.dept WHEN 'A' THEN a.name WHEN 'C' THEN a.name END) FROM c1 a
    auto scalar = [=, this](bool second) -> SQLRowSource * {
      SQLRowSource *a = Leaf(1);
      auto most = [=, this] {
        SQLRowSource *b = Leaf(2);
        auto *where = new SQLRSSCAnd(
            Cmp(SQLRSSC_GREATER_THAN, new SQLRSSCSubtract(Col(b, E), Col(a, E, -1)), Int(bound - 30)),
            Cmp(SQLRSSC_EQUAL, Col(b, N), someOf(a, D, N, -1, "A", "C")));
        return Group(new SQLRSFilter(b, where), {}, {SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kMax, Arg(Col(b, S)))});
      };
      return Project(a, {Col(a, E), new SQLRSSCScalarSubquery(most(), second ? most() : nullptr)});
    };
    corpus.push_back({"SELECT emp, (SELECT MAX(salary) FROM c2 b WHERE b.emp - a.emp > bound - 30 AND b.name = "
                      "CASE a.dept WHEN 'A' THEN a.name WHEN 'C' THEN a.name END) FROM c1 a" + tag,
                      false, [=] { return scalar(true); }, [=] { return scalar(false); }});
    corpus.push_back({"SELECT a.emp, x.emp FROM c1 a FULL JOIN c1 x ON EXISTS (SELECT * FROM c2 b WHERE b.name = "
                      "CASE a.dept WHEN 'A' THEN a.name WHEN 'B' THEN a.name END AND b.salary > x.salary - bound)" +
                          tag,
                      false, [=] { return full(true); }, [=] { return full(false); }});
  }
  // Uncorrelated: a few padded names and NULLs (a list), more salaries
  // than a list holds, and REAL values against an INTEGER column.
  auto names = [=, this] {
    SQLRowSource *a = Leaf(1);
    SQLRowSource *b = Leaf(2);
    SQLRowSource *sub =
        Project(new SQLRSFilter(b, Cmp(SQLRSSC_GREATER_THAN, Col(b, E), Int(50))), {someOf(b, D, N, 0, "A", "B")});
    auto *where = new SQLRSSCAnd(new SQLRSSCInSubquery(Col(a, N), sub), Cmp(SQLRSSC_GREATER_THAN, Col(a, E), Int(3)));
    return Project(new SQLRSFilter(a, where), {Col(a, E), Col(a, N)});
  };
  corpus.push_back({"SELECT emp, name FROM c1 a WHERE name IN (SELECT CASE dept WHEN 'A' THEN name WHEN 'B' THEN "
                    "name END FROM c2 WHERE emp > 50) AND emp > 3",
                    false, names, names});
  auto salaries = [=, this] {
    SQLRowSource *a = Leaf(1);
    SQLRowSource *b = Leaf(2);
    return Project(new SQLRSFilter(a, new SQLRSSCInSubquery(Col(a, S), Project(b, {Col(b, S)}))), {Col(a, E)});
  };
  corpus.push_back({"SELECT emp FROM c1 a WHERE salary IN (SELECT salary FROM c2)", false, salaries, salaries});
  auto reals = [=, this] {
    SQLRowSource *a = Leaf(1);
    SQLRowSource *b = Leaf(2);
    SQLRowSource *sub = Project(new SQLRSFilter(b, Cmp(SQLRSSC_GREATER_THAN, Col(b, E), Int(55))),
                                {new SQLRSSCDivide(Col(b, S), Real(12.5))});
    return Project(new SQLRSFilter(a, new SQLRSSCInSubquery(Col(a, E), sub)), {Col(a, E)});
  };
  corpus.push_back({"SELECT emp FROM c1 a WHERE emp IN (SELECT salary / 12.5 FROM c2 WHERE emp > 55)", false, reals,
                    reals});
  // More distinct values than a short list holds, in both polarities; the
  // local tree filters a projection, which asks its driver for no list.
  for (bool negated : {false, true}) {
    auto many = [=, this](bool listed) {
      SQLRowSource *a = Leaf(1);
      if (!listed) a = Project(a, {Col(a, E)});
      SQLRowSource *b = Leaf(2);
      SQLRowSource *sub = Project(new SQLRSFilter(b, Cmp(SQLRSSC_GREATER_THAN, Col(b, E), Int(43))),
                                  {new SQLRSSCSubtract(Col(b, E), Int(40))});
      int const emp = listed ? E : 0;
      SQLRSSCSearchCond *in = new SQLRSSCInSubquery(Col(a, emp), sub);
      if (negated) in = new SQLRSSCNot(in);
      return Project(new SQLRSFilter(a, in), {Col(a, emp)});
    };
    corpus.push_back({std::string("SELECT emp FROM c1 a WHERE emp ") + (negated ? "NOT " : "") +
                          "IN (SELECT emp - 40 FROM c2 WHERE emp > 43)",
                      false, [=] { return many(true); }, [=] { return many(false); }});
  }
  // EXISTS over c2 whose subquery holds an EXISTS correlated with its own
  // table: SELECT emp FROM c1 a WHERE EXISTS (SELECT * FROM c2 b WHERE
  // b.emp - a.emp > 25 AND EXISTS (SELECT * FROM c2 x WHERE x.emp = b.emp
  // - 1 AND x.dept = b.dept)); ORDER BY emp, and the first 12 rows of it.
  auto nested = [=, this](bool second, bool sorted) -> SQLRowSource * {
    SQLRowSource *a = Leaf(1);
    auto sub = [=, this] {
      SQLRowSource *b = Leaf(2);
      auto inner = [=, this] {
        SQLRowSource *x = Leaf(2);
        return new SQLRSFilter(
            x, new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(x, E), new SQLRSSCSubtract(Col(b, E, -1), Int(1))),
                              Cmp(SQLRSSC_EQUAL, Col(x, D), Col(b, D, -1))));
      };
      auto *where = new SQLRSSCAnd(
          Cmp(SQLRSSC_GREATER_THAN, new SQLRSSCSubtract(Col(b, E), Col(a, E, -1)), Int(25)),
          new SQLRSSCExists(inner(), second ? inner() : nullptr));
      return new SQLRSFilter(b, where);
    };
    SQLRowSource *p = Project(new SQLRSFilter(a, new SQLRSSCExists(sub(), second ? sub() : nullptr)), {Col(a, E)});
    return sorted ? Sort(p, {{0, 0}}) : p;
  };
  corpus.push_back({"SELECT emp FROM c1 a WHERE EXISTS (... EXISTS over c2 correlated with b)", false,
                    [=] { return nested(true, false); }, [=] { return nested(false, false); }});
  corpus.push_back({"SELECT emp FROM c1 a WHERE EXISTS (... EXISTS over c2 correlated with b) ORDER BY emp, 12 rows",
                    true, [=] { return nested(true, true); }, [=] { return nested(false, true); }});
  corpus.back().limit = 12;
  for (Query &q : corpus) {
    Rows answered, local;
    try {
      answered = Run(q.build(), true, q.limit);
      local = Run(q.local(), false, q.limit);
    } catch (const SQLException &e) {
      ADD_FAILURE() << q.text << ": " << e.GetSQLState() << " " << e.GetMessageText()->GetString();
      continue;
    }
    if (!q.ordered) {
      std::sort(answered.begin(), answered.end());
      std::sort(local.begin(), local.end());
    }
    EXPECT_EQ(answered, local) << q.text;
    EXPECT_FALSE(local.empty()) << q.text;
    if (q.limit > 0) {
      EXPECT_EQ(local.size(), static_cast<size_t>(q.limit)) << q.text;
    }
  }
}

// Equal texts in stored columns of different widths (name and dept): in
// one row, and joined across rows, shipped as local.
TEST_P(SqlAgentDiff, TextsOfDifferentWidthsCompareEqualAsLocal) {
  const int E = Id("emp"), N = Id("name"), D = Id("dept");
  const int W = schema_->GetNumCols();
  ASSERT_NE(schema_->GetColumnDescriptor(N)->GetLength(), schema_->GetColumnDescriptor(D)->GetLength());
  struct Added {
    int emp;
    const char *name, *dept;
  } const added[] = {{101, "AB", "C"}, {102, "B", "AB"}, {103, "AB", "AB"}, {104, "C ", "C"}};
  for (Added const &r : added) {
    std::vector<unsigned char> image(table_->dlock_offset, 0);
    fill_default_row(table_, image.data());
    SQLValueStore v;
    v.SetInteger(r.emp);
    Set(image, "emp", v);
    v.SetString(r.name);
    Set(image, "name", v);
    v.SetString(r.dept);
    Set(image, "dept", v);
    std::vector<unsigned char> record(ZDB_ACTION_HEADER, 0);
    record[3] = RDS_ACT_INSERT;
    record.insert(record.end(), image.begin(), image.end());
    ASSERT_EQ(zdb_do_exec_row(Cursor(1), record.data(), 0, 0), 0) << zdb_errno;
  }
  auto sameRow = [=, this] {
    SQLRowSource *t = Leaf(1);
    return Project(new SQLRSFilter(t, Cmp(SQLRSSC_EQUAL, Col(t, N), Col(t, D))), {Col(t, E)});
  };
  auto joined = [=, this] {
    SQLRowSource *a = Leaf(1);
    SQLRowSource *b = Leaf(1);
    auto *on = Cmp(SQLRSSC_EQUAL, Col(a, N), new SQLRSSCColumnRef(0, W + D, b->GetColumnDescriptor(D)));
    return Project(new SQLRSJoin(SQL_JOIN_INNER, a, b, on),
                   {Col(a, E), new SQLRSSCColumnRef(0, W + E, b->GetColumnDescriptor(E))});
  };
  for (auto const &[text, build] : {std::make_pair("WHERE name = dept", std::function<SQLRowSource *()>(sameRow)),
                                    std::make_pair("a JOIN b ON a.name = b.dept", std::function<SQLRowSource *()>(joined))}) {
    Rows pushed = Run(build(), true), local = Run(build(), false);
    std::sort(pushed.begin(), pushed.end());
    std::sort(local.begin(), local.end());
    EXPECT_EQ(pushed, local) << text;
    EXPECT_FALSE(local.empty()) << text;
  }
}

// One open cursor of a correlated EXISTS over company 2's driver, with an
// UPDATE of company 2 in the same transaction between two of its fetches:
// the rows fetched after the UPDATE see it, whether it fell before the
// subquery was answered here from held rows (kMissesBeforeLocal distinct
// outer values) or after. Company 1's emps 1 .. 25 have a partner emp + 40
// in company 2 whose salary is above a floor, until the UPDATE sets every
// salary there to the floor.
TEST_P(SqlAgentDiff, WritesOfTheTransactionReachAnOpenCursorsSubqueries) {
  if (!two_) GTEST_SKIP() << "one driver runs the whole statement";
  const int E = Id("emp"), S = Id("salary");
  auto partner = [=, this](SQLRowSource *a, double floor) {
    SQLRowSource *b = Leaf(2);
    auto *where = new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, new SQLRSSCSubtract(Col(b, E), Col(a, E, -1)), Int(40)),
                                 Cmp(SQLRSSC_GREATER_THAN, Col(b, S), Real(floor)));
    return new SQLRSFilter(b, where);
  };
  for (int before : {2, SQLRSLocalSubquery::kMissesBeforeLocal + 4}) {
    double const floor = -1.0 - before;  // below the salaries the last UPDATE set
    SQLRowSource *a = Leaf(1);
    auto *exists = new SQLRSSCExists(partner(a, floor), partner(a, floor));
    std::unique_ptr<SQLRowSource> rs(Project(new SQLRSFilter(a, exists), {Col(a, E)})->OptimizeRS());
    SQLRSPrepareContext context;
    rs->Prepare(&context);
    rs->Attach(static_cast<unsigned long>(trans_));
    rs->Exec();
    int rows = 0;
    while (rows < before && rs->Fetch()) ++rows;
    ASSERT_EQ(rows, before);
    auto *columns = new intList;
    columns->Append(S);
    auto *values = new pSQLRSSCValueExprList;
    values->Append(Real(floor));
    SQLETNetUpdate update("exemp010", 2, std::unique_ptr<intList>(columns), SQLETNetUpdate::ValueListPtr(values),
                          nullptr);
    SQLRSPrepareContext updateContext;
    update.Prepare(&updateContext);
    update.Attach(static_cast<unsigned long>(trans_));
    EXPECT_EQ(update.Exec(), 25);
    while (rs->Fetch()) ++rows;
    EXPECT_EQ(rows, before) << "rows after the UPDATE at " << before;
    rs->Close();
    update.Close();
  }
}

// INNER joins of company 1 with company 2, which in the layout "two" reads
// company 2 once, or (the most rows read whole lowered to one) per batch of
// company 1's key values: the rows of the tree run as built, in the order
// asked, with NULL keys (the CASE), padded names, repeated keys, a join
// condition from the WHERE and one of two equal columns.
TEST_P(SqlAgentDiff, InnerJoinsAcrossDriversEqualLocal) {
  const int E = Id("emp"), N = Id("name"), D = Id("dept"), S = Id("salary"), H = Id("hired");
  const int W = schema_->GetNumCols();
  auto second = [W](SQLRowSource *b, int column) {
    return new SQLRSSCColumnRef(0, W + column, b->GetColumnDescriptor(column));
  };
  std::vector<Query> corpus;
  // SELECT a.emp, a.n, b.emp FROM (SELECT emp, CASE dept WHEN 'A' THEN name
  // WHEN 'B' THEN name END n FROM c1) a JOIN c2 b ON a.n = b.name ORDER BY
  // a.emp DESC, b.emp
  corpus.push_back({"SELECT a.emp, a.n, b.emp FROM (SELECT emp, CASE dept ... END n FROM c1) a JOIN c2 b ON a.n = "
                    "b.name ORDER BY 1 DESC, 3",
                    true, [=, this] {
                      SQLRowSource *t = Leaf(1);
                      auto *clauses = new List<SQLRSSCSimpleCase::WhenClause *>;
                      clauses->Append(new SQLRSSCSimpleCase::WhenClause(Str("A"), Col(t, N)));
                      clauses->Append(new SQLRSSCSimpleCase::WhenClause(Str("B"), Col(t, N)));
                      SQLRowSource *a = Project(t, {Col(t, E), new SQLRSSCSimpleCase(Col(t, D), clauses, nullptr)});
                      SQLRowSource *b = Leaf(2);
                      auto *on = Cmp(SQLRSSC_EQUAL, Col(a, 1), new SQLRSSCColumnRef(0, 2 + N, b->GetColumnDescriptor(N)));
                      SQLRowSource *j = new SQLRSJoin(SQL_JOIN_INNER, a, b, on);
                      return Sort(Project(j, {Col(a, 0), Col(a, 1), new SQLRSSCColumnRef(0, 2 + E, b->GetColumnDescriptor(E))}),
                                  {{0, 1}, {2, 0}});
                    }});
  // SELECT a.emp, b.emp FROM c1 a, c2 b WHERE a.dept = b.dept AND a.salary < b.salary ORDER BY 1, 2
  corpus.push_back({"SELECT a.emp, b.emp FROM c1 a, c2 b WHERE a.dept = b.dept AND a.salary < b.salary ORDER BY 1, 2",
                    true, [=, this] {
                      SQLRowSource *a = Leaf(1);
                      SQLRowSource *b = Leaf(2);
                      auto *where = new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(a, D), second(b, D)),
                                                   Cmp(SQLRSSC_LESS_THAN, Col(a, S), second(b, S)));
                      auto *j = new SQLRSFilter(new SQLRSJoin(SQL_JOIN_INNER, a, b, nullptr), where);
                      return Sort(Project(j, {Col(a, E), second(b, E)}), {{0, 0}, {1, 0}});
                    }});
  // SELECT a.emp, b.emp, b.name FROM c1 a JOIN c2 b ON a.dept = b.dept AND a.hired = b.hired
  corpus.push_back({"SELECT a.emp, b.emp, b.name FROM c1 a JOIN c2 b ON a.dept = b.dept AND a.hired = b.hired", false,
                    [=, this] {
                      SQLRowSource *a = Leaf(1);
                      SQLRowSource *b = Leaf(2);
                      auto *on = new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(a, D), second(b, D)),
                                                Cmp(SQLRSSC_EQUAL, second(b, H), Col(a, H)));
                      return Project(new SQLRSJoin(SQL_JOIN_INNER, a, b, on), {Col(a, E), second(b, E), second(b, N)});
                    }});
  // Keys that are terms of a side's row: the ON holds an expression over
  // the outer row and a plain column of the inner one (or the reverse, or
  // expressions on both), with padded and mixed-case names, an INTEGER term
  // against a REAL column, DATEs, repeated keys, NULLs (CASE without ELSE)
  // and empty strings (SUBSTR beyond every name).
  auto onTerms = [=, this, &corpus](std::string text, std::function<SQLRSSCSearchCond *(SQLRowSource *, SQLRowSource *)> on) {
    corpus.push_back({"SELECT a.emp, b.emp FROM c1 a JOIN c2 b ON " + text, false, [=, this] {
                        SQLRowSource *a = Leaf(1);
                        SQLRowSource *b = Leaf(2);
                        SQLRSSCSearchCond *condition = on(a, b);
                        return Project(new SQLRSJoin(SQL_JOIN_INNER, a, b, condition), {Col(a, E), second(b, E)});
                      }});
  };
  onTerms("TRIM(a.name) = b.name", [=](SQLRowSource *a, SQLRowSource *b) {
    return Cmp(SQLRSSC_EQUAL, new SQLRSSCTrim(SQL_TRIM_BOTH, nullptr, Col(a, N)), second(b, N));
  });
  onTerms("a.name = TRIM(b.name)", [=](SQLRowSource *a, SQLRowSource *b) {
    return Cmp(SQLRSSC_EQUAL, Col(a, N), new SQLRSSCTrim(SQL_TRIM_BOTH, nullptr, second(b, N)));
  });
  onTerms("a.emp + 40 = b.emp", [=](SQLRowSource *a, SQLRowSource *b) {
    return Cmp(SQLRSSC_EQUAL, new SQLRSSCAdd(Col(a, E), Int(40)), second(b, E));
  });
  onTerms("(a.emp + 40) = b.salary", [=](SQLRowSource *a, SQLRowSource *b) {
    return Cmp(SQLRSSC_EQUAL, new SQLRSSCAdd(Col(a, E), Int(40)), second(b, S));
  });
  onTerms("b.hired = a.hired + 1", [=](SQLRowSource *a, SQLRowSource *b) {
    return Cmp(SQLRSSC_EQUAL, second(b, H), new SQLRSSCAdd(Col(a, H), Int(1)));
  });
  onTerms("CASE a.dept WHEN 'A' THEN a.name END = b.name", [=](SQLRowSource *a, SQLRowSource *b) {
    auto *clauses = new List<SQLRSSCSimpleCase::WhenClause *>;
    clauses->Append(new SQLRSSCSimpleCase::WhenClause(Str("A"), Col(a, N)));
    return Cmp(SQLRSSC_EQUAL, new SQLRSSCSimpleCase(Col(a, D), clauses, nullptr), second(b, N));
  });
  onTerms("SUBSTR(a.name, 5, 2) = SUBSTR(b.name, 5, 2)", [=](SQLRowSource *a, SQLRowSource *b) {
    return Cmp(SQLRSSC_EQUAL, new SQLRSSCSubstr(Col(a, N), Int(5), Int(2)),
               new SQLRSSCSubstr(second(b, N), Int(5), Int(2)));
  });
  // More distinct keys in a batch of outer rows than one key list holds:
  // the 1,600 rows of c1 x c1 (1,024 a batch) against the 25 of c2 on
  // a.emp * 40 + x.emp, whose partners fall into the later key lists of a
  // batch: on the column b.emp (- 1560), and on the term b.emp * 25.
  for (bool term : {false, true}) {
    corpus.push_back({term ? "SELECT a.emp, x.emp, b.emp FROM c1 a, c1 x, c2 b WHERE a.emp * 40 + x.emp = b.emp * 25"
                           : "SELECT a.emp, x.emp, b.emp FROM c1 a, c1 x, c2 b WHERE a.emp * 40 + x.emp - 1560 = b.emp",
                      false, [=, this] {
                        SQLRowSource *a = Leaf(1);
                        SQLRowSource *x = Leaf(1);
                        SQLRowSource *ax = new SQLRSJoin(SQL_JOIN_INNER, a, x, nullptr);
                        SQLRowSource *b = Leaf(2);
                        auto *key = new SQLRSSCAdd(new SQLRSSCMultiply(Col(a, E), Int(40)),
                                                   new SQLRSSCColumnRef(0, W + E, a->GetColumnDescriptor(E)));
                        auto *inner = new SQLRSSCColumnRef(0, 2 * W + E, b->GetColumnDescriptor(E));
                        auto *on = term ? Cmp(SQLRSSC_EQUAL, key, new SQLRSSCMultiply(inner, Int(25)))
                                        : Cmp(SQLRSSC_EQUAL, new SQLRSSCSubtract(key, Int(1560)), inner);
                        return Project(new SQLRSJoin(SQL_JOIN_INNER, ax, b, on),
                                       {Col(a, E), new SQLRSSCColumnRef(0, W + E, a->GetColumnDescriptor(E)),
                                        new SQLRSSCColumnRef(0, 2 * W + E, b->GetColumnDescriptor(E))});
                      }});
  }
  // A join of one driver on a unique key (a.emp), a condition on the table
  // looked up by it and a NOT EXISTS over the other table's row: shipped
  // whole in both layouts, where the subquery waits for the condition.
  corpus.push_back({"SELECT a.emp, b.emp FROM c1 a, c1 b WHERE a.emp = b.emp + 1 AND a.salary > 50 AND NOT EXISTS "
                    "(SELECT * FROM c1 x WHERE x.salary = b.salary AND x.emp < b.emp)",
                    false, [=, this] {
                      SQLRowSource *a = Leaf(1);
                      SQLRowSource *b = Leaf(1);
                      SQLRowSource *x = Leaf(1);
                      auto *sub = new SQLRSFilter(
                          x, new SQLRSSCAnd(
                                 Cmp(SQLRSSC_EQUAL, Col(x, S), new SQLRSSCColumnRef(-1, W + S, b->GetColumnDescriptor(S))),
                                 Cmp(SQLRSSC_LESS_THAN, Col(x, E),
                                     new SQLRSSCColumnRef(-1, W + E, b->GetColumnDescriptor(E)))));
                      auto *where = new SQLRSSCAnd(
                          new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(a, E), new SQLRSSCAdd(second(b, E), Int(1))),
                                         Cmp(SQLRSSC_GREATER_THAN, Col(a, S), Real(50))),
                          new SQLRSSCNot(new SQLRSSCExists(sub)));
                      return Project(new SQLRSFilter(new SQLRSJoin(SQL_JOIN_INNER, a, b, nullptr), where),
                                     {Col(a, E), second(b, E)});
                    }});
  for (int whole : {-1, 1}) {
    dbc_settings().qelt_sql_join_whole_rows = whole;
    for (Query &q : corpus) {
      Rows joined, local;
      try {
        joined = Run(q.build(), true);
        local = Run(q.build(), false);
      } catch (const SQLException &e) {
        ADD_FAILURE() << q.text << ": " << e.GetSQLState() << " " << e.GetMessageText()->GetString();
        continue;
      }
      if (!q.ordered) {
        std::sort(joined.begin(), joined.end());
        std::sort(local.begin(), local.end());
      }
      EXPECT_EQ(joined, local) << q.text << " (rows read whole: " << whole << ")";
      EXPECT_FALSE(local.empty()) << q.text;
    }
  }
  dbc_settings().qelt_sql_join_whole_rows = -1;
  // A constant carried over an equality to the other side (a.x = b.y AND
  // b.y = c gives a.x = c), from the WHERE or the ON: texts of one width
  // and of two (dept 6, name 20) against padded constants, INTEGERs,
  // DATEs, NULL keys (the CASE), constants of another type than the
  // column, a part that can fail on the rows the constant keeps, a
  // constant that fails (reached by rows, or beside a FALSE one), and outer
  // joins, whose preserved side takes nothing from their ON: the rows (or
  // the error) of the tree run as built. `rows`: the answer has rows.
  struct Carried {
    std::string text;
    bool rows;
    std::function<SQLRowSource *()> build;
  };
  auto on = [=, this](SQLJoinType type, std::function<SQLRSSCSearchCond *(SQLRowSource *, SQLRowSource *)> cond) {
    return [=, this] {
      SQLRowSource *a = Leaf(1);
      SQLRowSource *b = Leaf(2);
      return Project(new SQLRSJoin(type, a, b, cond(a, b)), {Col(a, E), second(b, E)});
    };
  };
  auto where = [=, this](std::function<SQLRSSCSearchCond *(SQLRowSource *, SQLRowSource *)> cond) {
    return [=, this] {
      SQLRowSource *a = Leaf(1);
      SQLRowSource *b = Leaf(2);
      SQLRowSource *j = new SQLRSJoin(SQL_JOIN_INNER, a, b, nullptr);
      return Project(new SQLRSFilter(j, cond(a, b)), {Col(a, E), second(b, E)});
    };
  };
  auto both = [](SQLRSSCSearchCond *x, SQLRSSCSearchCond *y) { return new SQLRSSCAnd(x, y); };
  const int ST = Id("status");
  std::vector<Carried> carried = {
      {"WHERE a.dept = b.dept AND b.dept = 'AB'", true,
       where([=](SQLRowSource *a, SQLRowSource *b) {
         return both(Cmp(SQLRSSC_EQUAL, Col(a, D), second(b, D)), Cmp(SQLRSSC_EQUAL, second(b, D), Str("AB")));
       })},
      {"ON a.name = b.name AND 'al' = a.name", true,
       on(SQL_JOIN_INNER, [=](SQLRowSource *a, SQLRowSource *b) {
         return both(Cmp(SQLRSSC_EQUAL, Col(a, N), second(b, N)), Cmp(SQLRSSC_EQUAL, Str("al"), Col(a, N)));
       })},
      {"WHERE a.dept = b.name AND b.name = 'A    '", false,
       where([=](SQLRowSource *a, SQLRowSource *b) {
         return both(Cmp(SQLRSSC_EQUAL, Col(a, D), second(b, N)), Cmp(SQLRSSC_EQUAL, second(b, N), Str("A    ")));
       })},
      {"WHERE a.status = b.status AND b.status = 2 AND a.hired = b.hired", true,
       where([=](SQLRowSource *a, SQLRowSource *b) {
         return both(both(Cmp(SQLRSSC_EQUAL, Col(a, ST), second(b, ST)), Cmp(SQLRSSC_EQUAL, second(b, ST), Int(2))),
                     Cmp(SQLRSSC_EQUAL, Col(a, H), second(b, H)));
       })},
      {"ON a.hired = b.hired AND b.hired = DATE 730030", true,
       on(SQL_JOIN_INNER, [=](SQLRowSource *a, SQLRowSource *b) {
         return both(Cmp(SQLRSSC_EQUAL, Col(a, H), second(b, H)),
                     Cmp(SQLRSSC_EQUAL, second(b, H), new SQLRSSCDateConst(730030)));
       })},
      {"WHERE a.emp = b.salary AND b.salary = 50.0 (INTEGER against REAL)", false,
       where([=](SQLRowSource *a, SQLRowSource *b) {
         return both(Cmp(SQLRSSC_EQUAL, Col(a, E), second(b, S)), Cmp(SQLRSSC_EQUAL, second(b, S), Real(50)));
       })},
      {"WHERE a.dept = b.dept AND b.dept = 'A' AND 10 / (a.emp - 10) > 0", false,
       where([=](SQLRowSource *a, SQLRowSource *b) {
         return both(both(Cmp(SQLRSSC_EQUAL, Col(a, D), second(b, D)), Cmp(SQLRSSC_EQUAL, second(b, D), Str("A"))),
                     Cmp(SQLRSSC_GREATER_THAN, new SQLRSSCDivide(Int(10), new SQLRSSCSubtract(Col(a, E), Int(10))),
                         Int(0)));
       })},
      {"WHERE a.status = b.status AND b.status = 10 / (2 - 2)", false,
       where([=](SQLRowSource *a, SQLRowSource *b) {
         return both(Cmp(SQLRSSC_EQUAL, Col(a, ST), second(b, ST)),
                     Cmp(SQLRSSC_EQUAL, second(b, ST), new SQLRSSCDivide(Int(10), new SQLRSSCSubtract(Int(2), Int(2)))));
       })},
      {"WHERE a.status = b.status AND b.status = 3 AND b.emp = 10 / (2 - 2)", false,
       where([=](SQLRowSource *a, SQLRowSource *b) {
         return both(both(Cmp(SQLRSSC_EQUAL, Col(a, ST), second(b, ST)), Cmp(SQLRSSC_EQUAL, second(b, ST), Int(3))),
                     Cmp(SQLRSSC_EQUAL, second(b, E), new SQLRSSCDivide(Int(10), new SQLRSSCSubtract(Int(2), Int(2)))));
       })},
      {"a LEFT JOIN b ON a.dept = b.dept AND b.dept = 'B'", true,
       on(SQL_JOIN_LEFT, [=](SQLRowSource *a, SQLRowSource *b) {
         return both(Cmp(SQLRSSC_EQUAL, Col(a, D), second(b, D)), Cmp(SQLRSSC_EQUAL, second(b, D), Str("B")));
       })},
      {"a RIGHT JOIN b ON a.dept = b.dept AND a.dept = 'C'", true,
       on(SQL_JOIN_RIGHT, [=](SQLRowSource *a, SQLRowSource *b) {
         return both(Cmp(SQLRSSC_EQUAL, Col(a, D), second(b, D)), Cmp(SQLRSSC_EQUAL, Col(a, D), Str("C")));
       })},
      {"(SELECT emp, CASE dept WHEN 'A' THEN name END n FROM c1) a JOIN c2 b ON a.n = b.name WHERE b.name = 'bea'",
       true, [=, this] {
         SQLRowSource *t = Leaf(1);
         auto *clauses = new List<SQLRSSCSimpleCase::WhenClause *>;
         clauses->Append(new SQLRSSCSimpleCase::WhenClause(Str("A"), Col(t, N)));
         SQLRowSource *a = Project(t, {Col(t, E), new SQLRSSCSimpleCase(Col(t, D), clauses, nullptr)});
         SQLRowSource *b = Leaf(2);
         auto *names = Cmp(SQLRSSC_EQUAL, Col(a, 1), new SQLRSSCColumnRef(0, 2 + N, b->GetColumnDescriptor(N)));
         SQLRowSource *j = new SQLRSJoin(SQL_JOIN_INNER, a, b, names);
         auto *bea = Cmp(SQLRSSC_EQUAL, new SQLRSSCColumnRef(0, 2 + N, b->GetColumnDescriptor(N)), Str("bea"));
         return Project(new SQLRSFilter(j, bea),
                        {Col(a, 0), Col(a, 1), new SQLRSSCColumnRef(0, 2 + E, b->GetColumnDescriptor(E))});
       }},
  };
  for (Carried const &c : carried) {
    auto outcome = [&](bool optimise) {
      try {
        Rows rows = Run(c.build(), optimise);
        std::sort(rows.begin(), rows.end());
        return rows;
      } catch (const SQLException &e) {
        return Rows{std::string("error ") + e.GetSQLState()};
      }
    };
    Rows const local = outcome(false);
    EXPECT_EQ(outcome(true), local) << c.text;
    EXPECT_EQ(!local.empty() && local[0].rfind("error", 0) != 0, c.rows) << c.text;
  }
  // c2's side fails (a division by zero on every row) and is read before
  // the self-join of c1 (shipped whole): without a row of c1 the join
  // answers no row, as the nested loop does, and with rows of c1 it fails
  // as the nested loop does.
  for (int below : {0, 5}) {
    auto build = [=, this] {
      SQLRowSource *a = Leaf(1);
      SQLRowSource *x = Leaf(1);
      SQLRowSource *b = Leaf(2);
      auto *self = new SQLRSJoin(SQL_JOIN_INNER, a, x,
                                 Cmp(SQLRSSC_EQUAL, Col(a, E), new SQLRSSCColumnRef(0, W + E, x->GetColumnDescriptor(E))));
      SQLRowSource *left = new SQLRSFilter(self, Cmp(SQLRSSC_LESS_THAN, Col(a, E), Int(below)));
      SQLRowSource *right = new SQLRSFilter(
          b, Cmp(SQLRSSC_GREATER_THAN, new SQLRSSCDivide(Int(1), new SQLRSSCSubtract(Col(b, E), Col(b, E))), Int(0)));
      auto *on = Cmp(SQLRSSC_EQUAL, new SQLRSSCAdd(Col(a, E), Int(40)),
                     new SQLRSSCColumnRef(0, 2 * W + E, b->GetColumnDescriptor(E)));
      return Project(new SQLRSJoin(SQL_JOIN_INNER, left, right, on),
                     {Col(a, E), new SQLRSSCColumnRef(0, 2 * W + E, b->GetColumnDescriptor(E))});
    };
    auto outcome = [&](bool optimise) {
      try {
        return std::to_string(Run(build(), optimise).size()) + " rows";
      } catch (const SQLException &e) {
        return std::string(e.GetSQLState());
      }
    };
    std::string const local = outcome(false);
    EXPECT_EQ(outcome(true), local) << "c1 rows below emp " << below;
    EXPECT_EQ(local, below == 0 ? "0 rows" : "22012") << "c1 rows below emp " << below;
  }
}

}  // namespace
}  // namespace molvane::test::agent_diff
