// Differential test of the SQL agent: a generated corpus of queries over a
// table in two companies (filters, projections, sorts, groups, joins of
// every type, unions, subqueries, NULLs from outer joins, padded strings,
// arrays, keyed equalities and ranges on the integer and text keys, IN lists
// with NULLs, nested IN and EXISTS, long OR chains and IN lists), in both
// TSS modes, is built twice as the library's own row-source trees over table
// leaves of the reference driver. One tree is optimised, so that its leaves
// absorb the operators and the agent runs them in SQLite; the other is run
// as built, so that every operator runs locally over plain table fetches.
// Both must give the same rows, in the same order where the query orders
// them. A failure prints the query. In the layout "two" the second company's
// table sits on a driver of its own: a query over both companies then joins,
// filters and runs subqueries here over what each driver gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "sql_agent_diff.h"

namespace molvane::test::agent_diff {
namespace {

// A number from the environment, or the default.
int EnvNumber(char const *name, int fallback) {
  char const *text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

TEST_P(SqlAgentDiff, PushedDownEqualsLocal) {
  const int E = Id("emp"), N = Id("name"), D = Id("dept"), S = Id("salary"), H = Id("hired"),
            SC = Id("scores");
  const int W = schema_->GetNumCols();
  std::vector<Query> corpus;
  // CI draws six rounds from seed 99; MOLVANE_DIFF_ROUNDS and
  // MOLVANE_DIFF_SEED draw more, or others, for a longer run by hand.
  std::uint32_t seed = static_cast<std::uint32_t>(EnvNumber("MOLVANE_DIFF_SEED", 99));
  int const rounds = EnvNumber("MOLVANE_DIFF_ROUNDS", 6);
  auto pick = [&seed](int n) {
    return seed = seed * 1103515245u + 12345u, static_cast<int>((seed >> 16) % n);
  };
  static const char *const kStrings[] = {"al", "al  ", "Al", "a", "bea", "zzz"};
  static const char *const kPatterns[] = {"a%", "%l", "_e_", "al b", "%", "A%"};
  static const char *const kDeptKeys[] = {"A", "AB ", "a", "B"};
  static const SQLRSSCCompOperator kOps[] = {
      SQLRSSC_EQUAL,        SQLRSSC_NOT_EQUAL,          SQLRSSC_LESS_THAN,
      SQLRSSC_GREATER_THAN, SQLRSSC_LESS_THAN_OR_EQUAL, SQLRSSC_GREATER_THAN_OR_EQUAL};
  // ---- Rows of both companies: a company_nr IN list (the union of each
  // company's leaf) and UNION ALL derived tables of each company's rows,
  // under set functions, groups, HAVING, WHERE, ORDER BY and joins with a
  // table of one company. In the layout "two" the union runs here and the
  // optimiser pushes what it can into each company's leaf. Drawn without
  // the generator, so that the other queries keep their values.
  auto overBothCompanies = [&](int k, SQLRSSCCompOperator op, const char *s, const char *pattern, int dir,
                               const std::string &tag) {
    auto inList = [this]() -> SQLRowSource * { return new SQLRSUnion(Leaf(1), Leaf(2), true); };
    // (emp, dept, salary, name) of company 1, and of company 2 with emp > k.
    auto derived = [=, this](bool all = true) -> SQLRowSource * {
      SQLRowSource *a = Leaf(1);
      SQLRowSource *b = Leaf(2);
      SQLRowSource *l = Project(a, {Col(a, E), Col(a, D), Col(a, S), Col(a, N)});
      SQLRowSource *r = Project(new SQLRSFilter(b, Cmp(SQLRSSC_GREATER_THAN, Col(b, E), Int(k))),
                                {Col(b, E), Col(b, D), Col(b, S), Col(b, N)});
      return new SQLRSUnion(l, r, all);
    };
    // Without AVG each company's driver groups its own rows and a group
    // here adds the parts up; with AVG the grouping runs here.
    auto setFunctions = [](SQLRowSource *u, int e, int s, int n, bool avg = true) {
      std::vector<SQLRSGroupSpec> specs{SQLRSGroupSpec::CountStar(),
                                        SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kSum, Arg(Col(u, e))),
                                        SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kMin, Arg(Col(u, n))),
                                        SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kMax, Arg(Col(u, s))),
                                        SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kCount, Arg(Col(u, s)))};
      if (avg) specs.push_back(SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kAvg, Arg(Col(u, s))));
      return specs;
    };
    corpus.push_back({"SELECT COUNT(*), SUM(emp), AVG(salary), MIN(name), MAX(salary), COUNT(salary) WHERE "
                      "company_nr IN (1, 2)" + tag,
                      false, [=] {
                        SQLRowSource *u = inList();
                        return Group(u, {}, setFunctions(u, E, S, N));
                      }});
    corpus.push_back({"SELECT COUNT(*), MAX(emp) WHERE company_nr IN (1, 2) AND emp > 1000 (no rows)" + tag, false,
                      [=] {
                        SQLRowSource *u = inList();
                        return Group(new SQLRSFilter(u, Cmp(SQLRSSC_GREATER_THAN, Col(u, E), Int(1000))), {},
                                     {SQLRSGroupSpec::CountStar(),
                                      SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kMax, Arg(Col(u, E)))});
                      }});
    corpus.push_back({"SELECT dept, COUNT(*), SUM(emp), ... WHERE company_nr IN (1, 2) AND emp op k GROUP BY dept "
                      "HAVING dept <> 'C' ORDER BY 1 dir" + tag,
                      true, [=] {
                        SQLRowSource *u = inList();
                        auto *where = new SQLRSFilter(u, Cmp(op, Col(u, E), Int(k)));
                        std::vector<SQLRSGroupSpec> specs = setFunctions(u, E, S, N);
                        specs.insert(specs.begin(), SQLRSGroupSpec::Column(D));
                        SQLRowSource *g = Group(where, {D}, specs);
                        auto *having = new SQLRSFilter(g, Cmp(SQLRSSC_NOT_EQUAL, Col(g, 0), Str("C")));
                        return Sort(having, {{0, dir}});
                      }});
    corpus.push_back({"SELECT COUNT(*), SUM(emp), ... FROM (c1 UNION ALL c2 WHERE emp > k) x" + tag, false, [=] {
                        SQLRowSource *u = derived();
                        return Group(u, {}, setFunctions(u, 0, 2, 3));
                      }});
    corpus.push_back({"SELECT COUNT(*), SUM(emp), MIN(name), MAX(salary), COUNT(salary) FROM (c1 UNION ALL c2 "
                      "WHERE emp > k) x HAVING COUNT(*) > k" + tag,
                      false, [=] {
                        SQLRowSource *u = derived();
                        SQLRowSource *g = Group(u, {}, setFunctions(u, 0, 2, 3, false));
                        return new SQLRSFilter(g, Cmp(SQLRSSC_GREATER_THAN, Col(g, 0), Int(k)));
                      }});
    corpus.push_back({"SELECT dept, name, COUNT(*), SUM(emp), MIN(name), MAX(salary), COUNT(salary) WHERE company_nr "
                      "IN (1, 2) GROUP BY dept, name HAVING name <> s ORDER BY 1 dir, 2" + tag,
                      true, [=] {
                        SQLRowSource *u = inList();
                        std::vector<SQLRSGroupSpec> specs = setFunctions(u, E, S, N, false);
                        specs.insert(specs.begin(), {SQLRSGroupSpec::Column(D), SQLRSGroupSpec::Column(N)});
                        SQLRowSource *g = Group(u, {D, N}, specs);
                        return Sort(new SQLRSFilter(g, Cmp(SQLRSSC_NOT_EQUAL, Col(g, 1), Str(s))), {{0, dir}, {1, 0}});
                      }});
    corpus.push_back({"SELECT x.dept, x.name, COUNT(*), ... FROM (c1 UNION ALL c2 WHERE emp > k) x GROUP BY x.dept, "
                      "x.name HAVING COUNT(*) > 1" + tag,
                      false, [=] {
                        SQLRowSource *u = derived();
                        std::vector<SQLRSGroupSpec> specs = setFunctions(u, 0, 2, 3);
                        specs.insert(specs.begin(), {SQLRSGroupSpec::Column(1), SQLRSGroupSpec::Column(3)});
                        SQLRowSource *g = Group(u, {1, 3}, specs);
                        return new SQLRSFilter(g, Cmp(SQLRSSC_GREATER_THAN, Col(g, 2), Int(1)));
                      }});
    // Conjuncts the union copies into each input (comparisons, also over a
    // computed text) and ones it keeps above (LIKE, NOT).
    corpus.push_back({"SELECT x.* FROM (c1 UNION ALL c2 WHERE emp > k) x WHERE x.emp <> k AND x.name || x.dept <> s "
                      "AND (x.name LIKE pattern OR NOT x.salary > 100.0) ORDER BY x.salary dir, x.emp" + tag,
                      true, [=] {
                        SQLRowSource *u = derived();
                        auto *copied = new SQLRSSCAnd(
                            Cmp(SQLRSSC_NOT_EQUAL, Col(u, 0), Int(k)),
                            Cmp(SQLRSSC_NOT_EQUAL, new SQLRSSCConcatenate(Col(u, 3), Col(u, 1)), Str(s)));
                        auto *kept = new SQLRSSCOr(new SQLRSSCLike(Col(u, 3), Str(pattern), nullptr, true),
                                                   new SQLRSSCNot(Cmp(SQLRSSC_GREATER_THAN, Col(u, 2), Real(100.0))));
                        return Sort(new SQLRSFilter(u, new SQLRSSCAnd(copied, kept)), {{2, dir}, {0, 0}});
                      }});
    corpus.push_back({"SELECT x.emp, x.name FROM (c1 UNION ALL c2 WHERE emp > k) x WHERE x.name op s" + tag, false,
                      [=] {
                        SQLRowSource *u = derived();
                        return Project(new SQLRSFilter(u, Cmp(op, Col(u, 3), Str(s))), {Col(u, 0), Col(u, 3)});
                      }});
    corpus.push_back({"SELECT x.emp, x.name FROM (c1 UNION c2 WHERE emp > k) x WHERE x.dept op 'B' AND x.emp < 50" +
                          tag,
                      false,
                      [=] {
                        SQLRowSource *u = derived(false);
                        auto *where = new SQLRSFilter(u, new SQLRSSCAnd(Cmp(op, Col(u, 1), Str("B")),
                                                                      Cmp(SQLRSSC_LESS_THAN, Col(u, 0), Int(50))));
                        return Project(where, {Col(u, 0), Col(u, 3)});
                      },
                      [=] {
                        // The union without ALL as a grouping over both columns.
                        SQLRowSource *u = derived(true);
                        auto *where = new SQLRSFilter(u, new SQLRSSCAnd(Cmp(op, Col(u, 1), Str("B")),
                                                                      Cmp(SQLRSSC_LESS_THAN, Col(u, 0), Int(50))));
                        SQLRowSource *p = Project(where, {Col(u, 0), Col(u, 3)});
                        return Group(p, {0, 1}, {SQLRSGroupSpec::Column(0), SQLRSGroupSpec::Column(1)});
                      }});
    // Joins with a table of company 1, on either side, INNER (the ON
    // condition goes into the union as a parameterised filter when the
    // union is the inner side) and LEFT. A join over a union is not shipped
    // even when one driver holds both companies.
    if (!two_) return;
    for (SQLJoinType type : {SQL_JOIN_INNER, SQL_JOIN_LEFT}) {
      for (bool unionLeft : {true, false}) {
        std::string text = std::string("SELECT x.emp, t.emp FROM ") +
                           (unionLeft ? "(c1 UNION ALL c2) x " : "c1 t ") +
                           (type == SQL_JOIN_INNER ? "INNER" : "LEFT") + " JOIN " +
                           (unionLeft ? "c1 t" : "(c1 UNION ALL c2) x") +
                           " ON x.dept = t.dept AND x.emp op t.emp - k AND x.salary > 50.0";
        corpus.push_back({text + tag, false, [=, this] {
                            SQLRowSource *u = derived();
                            SQLRowSource *t = Leaf(1);
                            int const xo = unionLeft ? 0 : W;  // where the union's columns start
                            int const to = unionLeft ? 4 : 0;
                            auto x = [&](int c) { return new SQLRSSCColumnRef(0, xo + c, u->GetColumnDescriptor(c)); };
                            auto tc = [&](int c) { return new SQLRSSCColumnRef(0, to + c, t->GetColumnDescriptor(c)); };
                            auto *on = new SQLRSSCAnd(
                                new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, x(1), tc(D)),
                                               Cmp(op, x(0), new SQLRSSCSubtract(tc(E), Int(k)))),
                                Cmp(SQLRSSC_GREATER_THAN, x(2), Real(50.0)));
                            SQLRowSource *j = unionLeft ? new SQLRSJoin(type, u, t, on) : new SQLRSJoin(type, t, u, on);
                            return Project(j, {x(0), tc(E)});
                          }});
      }
    }
    corpus.push_back({"SELECT x.dept, COUNT(*), MAX(t.emp) FROM (c1 UNION ALL c2) x, c1 t WHERE x.dept = t.dept AND "
                      "x.emp op t.emp GROUP BY x.dept ORDER BY 1 dir" + tag,
                      true, [=, this] {
                        SQLRowSource *u = derived();
                        SQLRowSource *t = Leaf(1);
                        auto tc = [&](int c) { return new SQLRSSCColumnRef(0, 4 + c, t->GetColumnDescriptor(c)); };
                        auto *where = new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(u, 1), tc(D)), Cmp(op, Col(u, 0), tc(E)));
                        auto *j = new SQLRSFilter(new SQLRSJoin(SQL_JOIN_INNER, u, t, nullptr), where);
                        SQLRowSource *g =
                            Group(j, {1},
                                  {SQLRSGroupSpec::Column(1), SQLRSGroupSpec::CountStar(),
                                   SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kMax, Arg(tc(E)))});
                        return Sort(g, {{0, dir}});
                      }});
  };
  for (int round = 0; round < rounds; ++round) {
    int company = 1 + pick(2);
    int k = pick(60);
    SQLRSSCCompOperator op = kOps[pick(6)];
    const char *s = kStrings[pick(6)];
    const char *pattern = kPatterns[pick(6)];
    int dir = pick(2);
    std::string tag = " [c" + std::to_string(company) + " k" + std::to_string(k) + " op" +
                      std::to_string(op) + " '" + s + "' '" + pattern + "' dir" + std::to_string(dir) + "]";
    overBothCompanies(k, op, s, pattern, dir, tag);
    corpus.push_back({"SELECT * WHERE emp op k" + tag, false, [=, this] {
                        SQLRowSource *t = Leaf(company);
                        return new SQLRSFilter(t, Cmp(op, Col(t, E), Int(k)));
                      }});
    corpus.push_back({"SELECT emp WHERE name op s (padded)" + tag, false, [=, this] {
                        SQLRowSource *t = Leaf(company);
                        return Project(new SQLRSFilter(t, Cmp(op, Col(t, N), Str(s))), {Col(t, E)});
                      }});
    corpus.push_back({"SELECT emp, name WHERE name LIKE pattern OR dept = 'AB'" + tag, false, [=, this] {
                        SQLRowSource *t = Leaf(company);
                        auto *like = new SQLRSSCLike(Col(t, N), Str(pattern), nullptr, true);
                        return Project(
                            new SQLRSFilter(t, new SQLRSSCOr(like, Cmp(SQLRSSC_EQUAL, Col(t, D), Str("AB")))),
                            {Col(t, E), Col(t, N)});
                      }});
    corpus.push_back(
        {"SELECT emp * k, salary / 3, salary - emp, name || dept, SUBSTR(name, 2, 2), TRIM(name), scores[2]" +
             tag,
         false, [=, this] {
           SQLRowSource *t = Leaf(company);
           return Project(
               t,
               {new SQLRSSCMultiply(Col(t, E), Int(k)), new SQLRSSCDivide(Col(t, S), Int(3)),
                new SQLRSSCSubtract(Col(t, S), Col(t, E)), new SQLRSSCConcatenate(Col(t, N), Col(t, D)),
                new SQLRSSCSubstr(Col(t, N), Int(2), Int(2)),
                new SQLRSSCTrim(SQL_TRIM_BOTH, nullptr, Col(t, N)), new SQLRSSCIndexing(Col(t, SC), Int(2))});
         }});
    // Integer and date arithmetic compared, on the NULL side of a LEFT
    // join whose WHERE rejects the NULL row; and a day beyond the calendar.
    corpus.push_back({"SELECT a.emp, b.emp FROM t a LEFT JOIN t b ON a.dept = b.dept WHERE b.hired + CAST(k AS "
                      "DAYS) op DATE 730030 AND b.emp * k - a.emp op 40" + tag,
                      false, [=, this] {
                        SQLRowSource *a = Leaf(company);
                        SQLRowSource *b = Leaf(company);
                        auto bc = [&](int c) { return new SQLRSSCColumnRef(0, W + c, b->GetColumnDescriptor(c)); };
                        auto *days = new SQLRSSCReinterpretCast(Int(k), SQL_INTERVAL_DAYS);
                        auto *where = new SQLRSSCAnd(
                            Cmp(op, new SQLRSSCAdd(bc(H), days), new SQLRSSCDateConst(730030)),
                            Cmp(op, new SQLRSSCSubtract(new SQLRSSCMultiply(bc(E), Int(k)), Col(a, E)), Int(40)));
                        auto *j = new SQLRSJoin(SQL_JOIN_LEFT, a, b, Cmp(SQLRSSC_EQUAL, Col(a, D), bc(D)));
                        return Project(new SQLRSFilter(j, where), {Col(a, E), bc(E)});
                      }});
    corpus.push_back({"SELECT emp, name, salary ORDER BY salary dir, name, emp" + tag, true, [=, this] {
                        SQLRowSource *t = Leaf(company);
                        SQLRowSource *p = Project(t, {Col(t, E), Col(t, N), Col(t, S)});
                        return Sort(p, {{2, dir}, {1, 1 - dir}, {0, 0}});
                      }});
    // A constant key must not be read as a column number.
    corpus.push_back({"SELECT k, -k, emp ORDER BY 1 dir, 2, emp; GROUP BY k" + tag, true, [=, this] {
                        SQLRowSource *t = Leaf(company);
                        SQLRowSource *p = Project(t, {Int(k), Int(-1 - k), Col(t, E)});
                        if (dir == 1) return Sort(p, {{0, 1}, {1, 0}, {2, 0}});
                        return Group(p, {0, 1}, {SQLRSGroupSpec::Column(1), SQLRSGroupSpec::CountStar()});
                      }});
    corpus.push_back(
        {"SELECT dept, COUNT(*), SUM(emp), AVG(salary), MIN(name), MAX(hired), COUNT(salary) GROUP BY dept "
         "ORDER BY 1" +
             tag,
         true, [=, this] {
           SQLRowSource *t = Leaf(company);
           SQLRowSource *g = Group(t, {D},
                                   {SQLRSGroupSpec::Column(D), SQLRSGroupSpec::CountStar(),
                                    SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kSum, Arg(Col(t, E))),
                                    SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kAvg, Arg(Col(t, S))),
                                    SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kMin, Arg(Col(t, N))),
                                    SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kMax, Arg(Col(t, H))),
                                    SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kCount, Arg(Col(t, S)))});
           return Sort(g, {{0, dir}});
         }});
    corpus.push_back({"SELECT name, COUNT(*) GROUP BY name (padded groups)" + tag, false, [=, this] {
                        SQLRowSource *t = Leaf(company);
                        return Group(t, {N}, {SQLRSGroupSpec::Column(N), SQLRSGroupSpec::CountStar()});
                      }});
    for (SQLJoinType type : {SQL_JOIN_INNER, SQL_JOIN_LEFT, SQL_JOIN_RIGHT, SQL_JOIN_FULL}) {
      // The optimiser ships inner joins itself; an outer join is merged into
      // the left leaf by hand for the agent's tree.
      auto build = [=, this](bool merge) -> SQLRowSource * {
        SQLRowSource *a = Leaf(1);
        SQLRowSource *b = Leaf(2);
        auto *on = new SQLRSSCAnd(
            new SQLRSSCComparison(List1(Col(a, D)), SQLRSSC_EQUAL,
                                  List1(new SQLRSSCColumnRef(0, W + D, b->GetColumnDescriptor(D)))),
            new SQLRSSCComparison(List1(new SQLRSSCColumnRef(0, W + E, b->GetColumnDescriptor(E))),
                                  SQLRSSC_LESS_THAN, List1(Int(k + 40))));
        std::vector<SQLRSSCValueExpr *> columns = {new SQLRSSCColumnRef(0, E, a->GetColumnDescriptor(E)),
                                                   new SQLRSSCColumnRef(0, W + E, b->GetColumnDescriptor(E)),
                                                   new SQLRSSCColumnRef(0, W + N, b->GetColumnDescriptor(N))};
        SQLRowSource *j = nullptr;
        if (merge && type != SQL_JOIN_INNER && !two_)
          j = static_cast<SQLRSFetch *>(a)->CreateJoin(type, static_cast<SQLRSFetch *>(b), on);
        else
          j = new SQLRSJoin(type, a, b, on);
        return Sort(Project(j, columns), {{1, dir}, {0, 0}, {2, 0}});
      };
      corpus.push_back({"SELECT a.emp, b.emp, b.name FROM c1 a JOIN(" + std::to_string(type) +
                            ") c2 b ON a.dept = b.dept AND b.emp < k + 40 ORDER BY b.emp dir, a.emp" + tag,
                        true, [=] { return build(true); }, [=] { return build(false); }});
    }
    // Two RIGHT joins in a row, the last over a filtered side: one query,
    // whose inner join is an operand of its own.
    corpus.push_back({"SELECT a.emp, b.emp, c.emp FROM c1 a RIGHT JOIN c2 b ON a.dept = b.dept RIGHT JOIN "
                      "(SELECT * FROM c1 WHERE emp > k / 2) c ON b.name = c.name" +
                          tag,
                      false, [=, this] {
                        SQLRowSource *a = Leaf(1);
                        SQLRowSource *b = Leaf(2);
                        SQLRowSource *c = Leaf(1);
                        auto *ab = new SQLRSJoin(
                            SQL_JOIN_RIGHT, a, b,
                            Cmp(SQLRSSC_EQUAL, Col(a, D), new SQLRSSCColumnRef(0, W + D, b->GetColumnDescriptor(D))));
                        auto *cs = new SQLRSFilter(c, Cmp(SQLRSSC_GREATER_THAN, Col(c, E), Int(k / 2)));
                        auto *abc = new SQLRSJoin(
                            SQL_JOIN_RIGHT, ab, cs,
                            Cmp(SQLRSSC_EQUAL, new SQLRSSCColumnRef(0, W + N, b->GetColumnDescriptor(N)),
                                new SQLRSSCColumnRef(0, 2 * W + N, c->GetColumnDescriptor(N))));
                        return Project(abc, {new SQLRSSCColumnRef(0, E, a->GetColumnDescriptor(E)),
                                             new SQLRSSCColumnRef(0, W + E, b->GetColumnDescriptor(E)),
                                             new SQLRSSCColumnRef(0, 2 * W + E, c->GetColumnDescriptor(E))});
                      }});
    // ---- WHERE conditions that reject the NULL rows of outer joins ----
    // Over two RIGHT joins in a row, a FULL join, a FULL join under a
    // RIGHT join, and an INNER join over a LEFT join (a JOIN (b LEFT JOIN
    // c)): the condition of the round rejects the NULL rows of a side (the
    // join then runs as INNER, LEFT or RIGHT) or, in the last variant, lets
    // them pass.
    {
      int const variant = round % 4;
      // Joined on the date hired (50 values), so that every join has rows
      // without partner.
      // The column `column` of table t (0 a, 1 b, 2 c) of a three-table row.
      auto at = [=](SQLRowSource *leaf, int t, int column) {
        return new SQLRSSCColumnRef(0, t * W + column, leaf->GetColumnDescriptor(column));
      };
      // The round's WHERE over table t: it rejects t's NULL row unless the
      // variant lets it pass (t.emp IS NULL OR ...).
      auto where = [=](SQLRowSource *leaf, int t) -> SQLRSSCSearchCond * {
        SQLRSSCSearchCond *c = Cmp(variant == 1 ? SQLRSSC_LESS_THAN : SQLRSSC_GREATER_THAN, at(leaf, t, E),
                                   Int(variant == 1 ? k + 40 : k / 2));
        if (variant == 2) c = new SQLRSSCAnd(c, Cmp(op, at(leaf, t, N), Str(s)));
        if (variant == 3) c = new SQLRSSCOr(new SQLRSSCIsNull(at(leaf, t, E)), c);
        return c;
      };
      for (int t : {0, 1}) {
        // The last join's condition reads b (the first join's preserved
        // side) or, in odd rounds, a.
        int const x = round % 2 == 0 ? 1 : 0;
        corpus.push_back({"SELECT a.emp, b.emp, c.emp FROM (c1 a RIGHT JOIN c2 b ON a.hired = b.hired) RIGHT JOIN "
                          "c1 c ON " + std::string(x == 1 ? "b" : "a") + ".hired = c.hired WHERE <on " +
                              std::string(t == 0 ? "a" : "b") + " v" + std::to_string(variant) + ">" + tag,
                          false, [=, this] {
                            SQLRowSource *a = Leaf(1);
                            SQLRowSource *b = Leaf(2);
                            SQLRowSource *c = Leaf(1);
                            auto *ab = new SQLRSJoin(SQL_JOIN_RIGHT, a, b, Cmp(SQLRSSC_EQUAL, Col(a, H), at(b, 1, H)));
                            auto *abc = new SQLRSJoin(SQL_JOIN_RIGHT, ab, c,
                                                      Cmp(SQLRSSC_EQUAL, at(x == 1 ? b : a, x, H), at(c, 2, H)));
                            return Project(new SQLRSFilter(abc, where(t == 0 ? a : b, t)),
                                           {at(a, 0, E), at(b, 1, E), at(c, 2, E)});
                          }});
        // FULL joins ship only as the LEFT or RIGHT join the condition makes them.
        if (variant == 3) continue;
        corpus.push_back({"SELECT a.emp, b.emp, b.name FROM c1 a FULL JOIN c2 b ON a.hired = b.hired WHERE <on " +
                              std::string(t == 0 ? "a" : "b") + " v" + std::to_string(variant) + ">" + tag,
                          false, [=, this] {
                            SQLRowSource *a = Leaf(1);
                            SQLRowSource *b = Leaf(2);
                            auto *ab = new SQLRSJoin(SQL_JOIN_FULL, a, b, Cmp(SQLRSSC_EQUAL, Col(a, H), at(b, 1, H)));
                            return Project(new SQLRSFilter(ab, where(t == 0 ? a : b, t)),
                                           {at(a, 0, E), at(b, 1, E), at(b, 1, N)});
                          }});
      }
      if (variant != 3) {
        corpus.push_back({"SELECT a.emp, b.emp, c.emp FROM (c1 a FULL JOIN c2 b ON a.hired = b.hired) RIGHT JOIN c1 c "
                          "ON b.emp = c.emp WHERE <on b v" + std::to_string(variant) + ">" + tag,
                          false, [=, this] {
                            SQLRowSource *a = Leaf(1);
                            SQLRowSource *b = Leaf(2);
                            SQLRowSource *c = Leaf(1);
                            auto *ab = new SQLRSJoin(SQL_JOIN_FULL, a, b, Cmp(SQLRSSC_EQUAL, Col(a, H), at(b, 1, H)));
                            auto *abc = new SQLRSJoin(SQL_JOIN_RIGHT, ab, c, Cmp(SQLRSSC_EQUAL, at(b, 1, E), at(c, 2, E)));
                            return Project(new SQLRSFilter(abc, where(b, 1)), {at(a, 0, E), at(b, 1, E), at(c, 2, E)});
                          }});
      }
      // The INNER join's condition and WHERE read the RIGHT join's preserved
      // side and the last table: those two are joined first where another
      // driver holds the last one.
      corpus.push_back({"SELECT a.emp, b.emp, c.emp FROM (c1 a RIGHT JOIN c1 b ON a.hired = b.hired) JOIN c2 c ON "
                        "b.dept = c.dept WHERE <on c v" + std::to_string(variant) + ">" + tag,
                        false, [=, this] {
                          SQLRowSource *a = Leaf(1);
                          SQLRowSource *b = Leaf(1);
                          SQLRowSource *c = Leaf(2);
                          auto *ab = new SQLRSJoin(SQL_JOIN_RIGHT, a, b, Cmp(SQLRSSC_EQUAL, Col(a, H), at(b, 1, H)));
                          auto *abc = new SQLRSJoin(SQL_JOIN_INNER, ab, c, Cmp(SQLRSSC_EQUAL, at(b, 1, D), at(c, 2, D)));
                          return Project(new SQLRSFilter(abc, where(c, 2)), {at(a, 0, E), at(b, 1, E), at(c, 2, E)});
                        }});
      // The INNER join's condition reads b or, in odd rounds, c.
      int const y = round % 2 == 0 ? 1 : 2;
      corpus.push_back({"SELECT a.emp, b.emp, c.emp FROM c1 a JOIN (c2 b LEFT JOIN c1 c ON b.hired = c.hired) ON "
                        "a.dept = " + std::string(y == 1 ? "b" : "c") + ".dept WHERE <on c v" +
                            std::to_string(variant) + ">" + tag,
                        false, [=, this] {
                          SQLRowSource *a = Leaf(1);
                          SQLRowSource *b = Leaf(2);
                          SQLRowSource *c = Leaf(1);
                          // The LEFT join numbers its columns from b's.
                          auto *bc = new SQLRSJoin(SQL_JOIN_LEFT, b, c, Cmp(SQLRSSC_EQUAL, Col(b, H), at(c, 1, H)));
                          auto *abc = new SQLRSJoin(SQL_JOIN_INNER, a, bc,
                                                    Cmp(SQLRSSC_EQUAL, Col(a, D), at(y == 1 ? b : c, y, D)));
                          return Project(new SQLRSFilter(abc, where(c, 2)), {at(a, 0, E), at(b, 1, E), at(c, 2, E)});
                        }});
      // A RIGHT join whose own ON reads only the right table of the LEFT
      // join below it, against a constant.
      corpus.push_back({"SELECT a.emp, b.emp, c.emp FROM (c1 a LEFT JOIN c2 b ON a.hired = b.hired) RIGHT JOIN c1 c "
                        "ON b.dept = 'B' WHERE <on c v" + std::to_string(variant) + ">" + tag,
                        false, [=, this] {
                          SQLRowSource *a = Leaf(1);
                          SQLRowSource *b = Leaf(2);
                          SQLRowSource *c = Leaf(1);
                          auto *ab = new SQLRSJoin(SQL_JOIN_LEFT, a, b, Cmp(SQLRSSC_EQUAL, Col(a, H), at(b, 1, H)));
                          auto *abc = new SQLRSJoin(SQL_JOIN_RIGHT, ab, c, Cmp(SQLRSSC_EQUAL, at(b, 1, D), Str("B")));
                          return Project(new SQLRSFilter(abc, where(c, 2)), {at(a, 0, E), at(b, 1, E), at(c, 2, E)});
                        }});
      corpus.back().joinsHere = true;
      // A RIGHT join over a LEFT join whose ON reads only the LEFT join's
      // right table, against a constant.
      corpus.push_back({"SELECT a.emp, b.emp, c.emp FROM (c1 a LEFT JOIN c2 b ON b.dept = 'B') RIGHT JOIN c1 c "
                        "ON a.hired = c.hired WHERE <on c v" + std::to_string(variant) + ">" + tag,
                        false, [=, this] {
                          SQLRowSource *a = Leaf(1);
                          SQLRowSource *b = Leaf(2);
                          SQLRowSource *c = Leaf(1);
                          auto *ab = new SQLRSJoin(SQL_JOIN_LEFT, a, b, Cmp(SQLRSSC_EQUAL, at(b, 1, D), Str("B")));
                          auto *abc = new SQLRSJoin(SQL_JOIN_RIGHT, ab, c, Cmp(SQLRSSC_EQUAL, Col(a, H), at(c, 2, H)));
                          return Project(new SQLRSFilter(abc, where(c, 2)), {at(a, 0, E), at(b, 1, E), at(c, 2, E)});
                        }});
      corpus.back().joinsHere = true;
      // a JOIN (b LEFT JOIN c) with a wider than b (b delivers three
      // columns) under a WHERE on a late column of a only.
      corpus.push_back({"SELECT a.emp, b.emp, c.emp FROM c1 a JOIN ((SELECT emp, dept, hired FROM c2) b LEFT JOIN c1 c "
                        "ON b.hired = c.hired) ON a.dept = b.dept WHERE a.salary op k * 3.0" + tag,
                        false, [=, this] {
                          SQLRowSource *a = Leaf(1);
                          SQLRowSource *t = Leaf(2);
                          SQLRowSource *b = Project(t, {Col(t, E), Col(t, D), Col(t, H)});
                          SQLRowSource *c = Leaf(1);
                          auto bCol = [&](int column) { return new SQLRSSCColumnRef(0, W + column, b->GetColumnDescriptor(column)); };
                          auto cCol = [&](int column) {
                            return new SQLRSSCColumnRef(0, W + 3 + column, c->GetColumnDescriptor(column));
                          };
                          auto *bc = new SQLRSJoin(SQL_JOIN_LEFT, b, c,
                                                   Cmp(SQLRSSC_EQUAL, Col(b, 2), new SQLRSSCColumnRef(0, 3 + H, c->GetColumnDescriptor(H))));
                          auto *abc = new SQLRSJoin(SQL_JOIN_INNER, a, bc, Cmp(SQLRSSC_EQUAL, Col(a, D), bCol(1)));
                          return Project(new SQLRSFilter(abc, Cmp(op, Col(a, S), Real(k * 3.0))),
                                         {Col(a, E), bCol(0), cCol(E)});
                        }});
      // Three RIGHT joins in a row whose last ON reads the middle table.
      corpus.push_back({"SELECT a.emp, b.emp, c.emp, d.emp FROM ((c1 a RIGHT JOIN c2 b ON a.hired = b.hired) RIGHT "
                        "JOIN c1 c ON b.dept = c.dept) RIGHT JOIN c2 d ON b.hired = d.hired WHERE <on b v" +
                            std::to_string(variant) + ">" + tag,
                        false, [=, this] {
                          SQLRowSource *a = Leaf(1);
                          SQLRowSource *b = Leaf(2);
                          SQLRowSource *c = Leaf(1);
                          SQLRowSource *d = Leaf(2);
                          auto *ab = new SQLRSJoin(SQL_JOIN_RIGHT, a, b, Cmp(SQLRSSC_EQUAL, Col(a, H), at(b, 1, H)));
                          auto *abc = new SQLRSJoin(SQL_JOIN_RIGHT, ab, c, Cmp(SQLRSSC_EQUAL, at(b, 1, D), at(c, 2, D)));
                          auto *abcd =
                              new SQLRSJoin(SQL_JOIN_RIGHT, abc, d, Cmp(SQLRSSC_EQUAL, at(b, 1, H), at(d, 3, H)));
                          return Project(new SQLRSFilter(abcd, where(b, 1)),
                                         {at(a, 0, E), at(b, 1, E), at(c, 2, E), at(d, 3, E)});
                        }});
    }
    for (bool all : {false, true}) {
      // Without ALL a union that runs here (over two drivers) removes the
      // duplicates itself, as the driver's does.
      auto build = [=, this](bool dedup) -> SQLRowSource * {
        SQLRowSource *a = Leaf(1);
        SQLRowSource *b = Leaf(2);
        SQLRowSource *l = Project(a, {Col(a, D), Col(a, N)});
        SQLRowSource *r =
            Project(new SQLRSFilter(b, Cmp(SQLRSSC_GREATER_THAN, Col(b, E), Int(k))), {Col(b, D), Col(b, N)});
        SQLRowSource *u = new SQLRSUnion(l, r, all);
        // The union row source keeps duplicates when it runs here; the
        // grouping over both columns removes them as UNION must.
        return dedup ? Group(u, {0, 1}, {SQLRSGroupSpec::Column(0), SQLRSGroupSpec::Column(1)}) : u;
      };
      corpus.push_back({std::string("SELECT dept, name FROM c1 UNION") + (all ? " ALL" : "") +
                            " SELECT dept, name FROM c2 WHERE emp > k" + tag,
                        false, [=] { return build(false); }, [=] { return build(!all); }});
    }
    corpus.push_back(
        {"SELECT emp FROM c1 a WHERE EXISTS (SELECT * FROM c2 b WHERE b.name = a.name AND b.dept = a.dept)" +
             tag,
         false, [=, this] {
           SQLRowSource *a = Leaf(1);
           SQLRowSource *b = Leaf(2);
           auto *inner = new SQLRSFilter(b, new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(b, N), Col(a, N, -1)),
                                                           Cmp(SQLRSSC_EQUAL, Col(b, D), Col(a, D, -1))));
           return Project(new SQLRSFilter(a, new SQLRSSCExists(inner)), {Col(a, E)});
         }});
    corpus.push_back(
        {"SELECT emp FROM c1 WHERE NOT (salary IN (SELECT salary FROM c2 WHERE emp > k))" + tag, false,
         [=, this] {
           SQLRowSource *a = Leaf(1);
           SQLRowSource *b = Leaf(2);
           SQLRowSource *sub =
               Project(new SQLRSFilter(b, Cmp(SQLRSSC_GREATER_THAN, Col(b, E), Int(k))), {Col(b, S)});
           return Project(new SQLRSFilter(a, new SQLRSSCNot(new SQLRSSCInSubquery(Col(a, S), sub))),
                          {Col(a, E)});
         }});
    corpus.push_back({"SELECT emp, (SELECT MAX(salary) FROM c2 b WHERE b.dept = a.dept) FROM c1 a" + tag,
                      false, [=, this] {
                        SQLRowSource *a = Leaf(1);
                        SQLRowSource *b = Leaf(2);
                        SQLRowSource *g =
                            Group(new SQLRSFilter(b, Cmp(SQLRSSC_EQUAL, Col(b, D), Col(a, D, -1))), {},
                                  {SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kMax, Arg(Col(b, S)))});
                        return Project(a, {Col(a, E), new SQLRSSCScalarSubquery(g)});
                      }});
    corpus.push_back(
        {"SELECT emp WHERE scores = scores AND scores[1] > 0 AND salary BETWEEN k AND 200.0" + tag, false,
         [=, this] {
           SQLRowSource *t = Leaf(company);
           auto *arrays = Cmp(SQLRSSC_EQUAL, Col(t, SC), Col(t, SC));
           auto *first = Cmp(SQLRSSC_GREATER_THAN, new SQLRSSCIndexing(Col(t, SC), Int(1)), Int(0));
           auto *between = new SQLRSSCBetween(List1(Col(t, S)), List1(Int(k)), List1(Real(200.0)));
           return Project(new SQLRSFilter(t, new SQLRSSCAnd(new SQLRSSCAnd(arrays, first), between)),
                          {Col(t, E)});
         }});
    corpus.push_back(
        {"SELECT emp, CASE dept WHEN 'A' THEN salary WHEN 'AB' THEN emp END, CAST(emp AS DATE) "
         "WHERE name LIKE regexp AND emp >= ? (parameter k)" +
             tag,
         false, [=, this] {
           SQLRowSource *t = Leaf(company);
           auto *clauses = new List<SQLRSSCSimpleCase::WhenClause *>;
           clauses->Append(new SQLRSSCSimpleCase::WhenClause(Str("A"), Col(t, S)));
           clauses->Append(new SQLRSSCSimpleCase::WhenClause(Str("AB"), Col(t, E)));
           auto *kase = new SQLRSSCSimpleCase(Col(t, D), clauses, nullptr);
           auto *like = new SQLRSSCLike(Col(t, N), Str("a.*"), nullptr, false);
           auto *param = new SQLRSSCParameterRef(Param(k));
           SQLRowSource *f =
               new SQLRSFilter(t, new SQLRSSCAnd(like, Cmp(SQLRSSC_GREATER_THAN_OR_EQUAL, Col(t, E), param)));
           return Project(f, {Col(t, E), kase, new SQLRSSCReinterpretCast(Col(t, E), SQL_DATE)});
         }});
    // Drawn without the generator, so that the queries above keep their values.
    const char *key = kStrings[(round * 5 + 1) % 6];
    const char *dept = kDeptKeys[round % 4];
    corpus.push_back({"SELECT emp, name WHERE emp BETWEEN k AND k + 10 OR emp IN (k + 20, k + 30)" + tag,
                      false, [=, this] {
                        SQLRowSource *t = Leaf(company);
                        auto *in = new pSQLRSSCValueExprList;
                        in->Append(Int(k + 20));
                        in->Append(Int(k + 30));
                        auto *range = new SQLRSSCBetween(List1(Col(t, E)), List1(Int(k)), List1(Int(k + 10)));
                        return Project(
                            new SQLRSFilter(t, new SQLRSSCOr(range, new SQLRSSCInSet(Col(t, E), in))),
                            {Col(t, E), Col(t, N)});
                      }});
    corpus.push_back(
        {"SELECT emp, name WHERE dept = '" + std::string(dept) + "' AND name op key (text key)" + tag, false,
         [=, this] {
           SQLRowSource *t = Leaf(company);
           return Project(new SQLRSFilter(t, new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(t, D), Str(dept)),
                                                            Cmp(op, Col(t, N), Str(key)))),
                          {Col(t, E), Col(t, N)});
         }});
    corpus.push_back(
        {"SELECT emp WHERE name IN (key, 'AL', NULL) OR NOT emp IN (k, NULL)" + tag, false, [=, this] {
           SQLRowSource *t = Leaf(company);
           auto *names = new pSQLRSSCValueExprList;
           names->Append(Str(key));
           names->Append(Str("AL"));
           names->Append(new SQLRSSCParameterRef(NullParam(SQL_STRING)));
           auto *emps = new pSQLRSSCValueExprList;
           emps->Append(Int(k));
           emps->Append(new SQLRSSCParameterRef(NullParam(SQL_INTEGER)));
           return Project(
               new SQLRSFilter(t, new SQLRSSCOr(new SQLRSSCInSet(Col(t, N), names),
                                                new SQLRSSCNot(new SQLRSSCInSet(Col(t, E), emps)))),
               {Col(t, E)});
         }});
    corpus.push_back(
        {"SELECT emp FROM c1 a WHERE emp - 40 IN (SELECT emp FROM c2 b WHERE EXISTS (SELECT * FROM c1 x "
         "WHERE "
         "x.dept = b.dept AND x.emp IN (SELECT emp FROM c1 y WHERE salary > k)))" +
             tag,
         false, [=, this] {
           SQLRowSource *a = Leaf(1);
           SQLRowSource *b = Leaf(2);
           SQLRowSource *x = Leaf(1);
           SQLRowSource *y = Leaf(1);
           SQLRowSource *ys =
               Project(new SQLRSFilter(y, Cmp(SQLRSSC_GREATER_THAN, Col(y, S), Int(k))), {Col(y, E)});
           auto *xs = new SQLRSFilter(x, new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(x, D), Col(b, D, -1)),
                                                        new SQLRSSCInSubquery(Col(x, E), ys)));
           SQLRowSource *bs = Project(new SQLRSFilter(b, new SQLRSSCExists(xs)), {Col(b, E)});
           return Project(
               new SQLRSFilter(a, new SQLRSSCInSubquery(new SQLRSSCSubtract(Col(a, E), Int(40)), bs)),
               {Col(a, E)});
         }});
    // A column of the second table of a join over two leaves (or of the
    // row around a subquery, at level -1).
    auto second = [W](SQLRowSource *rs, int column, int level = 0) {
      return new SQLRSSCColumnRef(level, W + column, rs->GetColumnDescriptor(column));
    };
    corpus.push_back(
        {"SELECT a.emp, b.emp FROM c1 a, c2 b WHERE a.dept = b.dept AND b.salary NOT IN (SELECT salary FROM c1 "
         "WHERE emp > k)" +
             tag,
         false, [=, this] {
           SQLRowSource *a = Leaf(1);
           SQLRowSource *b = Leaf(2);
           SQLRowSource *y = Leaf(1);
           SQLRowSource *ys = Project(new SQLRSFilter(y, Cmp(SQLRSSC_GREATER_THAN, Col(y, E), Int(k))), {Col(y, S)});
           auto *where = new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(a, D), second(b, D)),
                                        new SQLRSSCNot(new SQLRSSCInSubquery(second(b, S), ys)));
           return Project(new SQLRSFilter(new SQLRSJoin(SQL_JOIN_INNER, a, b, nullptr), where),
                          {Col(a, E), second(b, E)});
         }});
    corpus.push_back(
        {"SELECT a.emp, x.emp FROM c1 a LEFT JOIN c1 x ON a.dept = x.dept WHERE a.name IN (SELECT name FROM c2 "
         "WHERE emp > k + 40)" +
             tag,
         false, [=, this] {
           SQLRowSource *a = Leaf(1);
           SQLRowSource *x = Leaf(1);
           SQLRowSource *z = Leaf(2);
           SQLRowSource *zs =
               Project(new SQLRSFilter(z, Cmp(SQLRSSC_GREATER_THAN, Col(z, E), Int(k + 40))), {Col(z, N)});
           auto *join = new SQLRSJoin(SQL_JOIN_LEFT, a, x, Cmp(SQLRSSC_EQUAL, Col(a, D), second(x, D)));
           return Project(new SQLRSFilter(join, new SQLRSSCInSubquery(Col(a, N), zs)), {Col(a, E), second(x, E)});
         }});
    corpus.push_back(
        {"SELECT a.emp, x.emp FROM c1 a, c1 x WHERE a.emp = x.emp - 1 AND NOT ((SELECT MIN(name) FROM c2 z "
         "WHERE z.dept = x.dept) <= s)" +
             tag,
         false, [=, this] {
           SQLRowSource *a = Leaf(1);
           SQLRowSource *x = Leaf(1);
           SQLRowSource *z = Leaf(2);
           SQLRowSource *least = Group(new SQLRSFilter(z, Cmp(SQLRSSC_EQUAL, Col(z, D), second(x, D, -1))), {},
                                       {SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kMin, Arg(Col(z, N)))});
           auto *where = new SQLRSSCAnd(
               Cmp(SQLRSSC_EQUAL, Col(a, E), new SQLRSSCSubtract(second(x, E), Int(1))),
               new SQLRSSCNot(Cmp(SQLRSSC_LESS_THAN_OR_EQUAL, new SQLRSSCScalarSubquery(least), Str(s))));
           return Project(new SQLRSFilter(new SQLRSJoin(SQL_JOIN_INNER, a, x, nullptr), where),
                          {Col(a, E), second(x, E)});
         }});
    corpus.push_back(
        {"SELECT emp FROM c1 a WHERE a.salary IN (SELECT salary FROM c2 b WHERE b.dept = a.dept) OR NOT EXISTS "
         "(SELECT * FROM c2 b WHERE b.name = a.name AND b.emp > k + 40)" +
             tag,
         false, [=, this] {
           SQLRowSource *a = Leaf(1);
           SQLRowSource *b = Leaf(2);
           SQLRowSource *c = Leaf(2);
           SQLRowSource *salaries =
               Project(new SQLRSFilter(b, Cmp(SQLRSSC_EQUAL, Col(b, D), Col(a, D, -1))), {Col(b, S)});
           auto *named = new SQLRSFilter(c, new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(c, N), Col(a, N, -1)),
                                                           Cmp(SQLRSSC_GREATER_THAN, Col(c, E), Int(k + 40))));
           return Project(new SQLRSFilter(a, new SQLRSSCOr(new SQLRSSCInSubquery(Col(a, S), salaries),
                                                           new SQLRSSCNot(new SQLRSSCExists(named)))),
                          {Col(a, E)});
         }});
    // ---- conditions of an ON clause on one side, as the FROM clause plans
    // them: with the side an outer join sets NULL (a constant FALSE empties
    // that side only), and an IN of a constant, TRUE or not, before a sorted
    // join ----
    for (SQLJoinType type : {SQL_JOIN_LEFT, SQL_JOIN_RIGHT}) {
      bool const left = type == SQL_JOIN_LEFT;
      for (bool constant : {false, true}) {
        corpus.push_back(
            {std::string("SELECT a.emp, b.emp FROM c1 a ") + (left ? "LEFT" : "RIGHT") +
                 " JOIN c2 b ON a.dept = b.dept AND " +
                 (constant ? "1 = 0" : (left ? "b.emp op k + 40" : "a.emp op k")) +
                 " (with the NULL side)" + tag,
             false, [=, this] {
               SQLRowSource *a = Leaf(1);
               SQLRowSource *b = Leaf(2);
               SQLRowSource *&side = left ? b : a;
               SQLRSSCSearchCond *only = constant ? Cmp(SQLRSSC_EQUAL, Int(1), Int(0))
                                                  : Cmp(op, Col(side, E), Int(left ? k + 40 : k));
               SQLRowSource *filtered = new SQLRSFilter(side, only);
               auto *join = left ? new SQLRSJoin(type, a, filtered, Cmp(SQLRSSC_EQUAL, Col(a, D), second(b, D)))
                                 : new SQLRSJoin(type, filtered, b, Cmp(SQLRSSC_EQUAL, Col(a, D), second(b, D)));
               return Project(join, {Col(a, E), second(b, E), second(b, N)});
             }});
      }
    }
    corpus.push_back(
        {"SELECT a.emp, x.emp FROM (c1 a LEFT JOIN c2 b ON 1 = 0) JOIN c1 x ON b.emp = x.emp WHERE NOT EXISTS "
         "(SELECT * FROM c2 z WHERE z.name = a.name AND z.salary > a.salary) (a dear outer side, an empty inner one)" +
             tag,
         false, [=, this] {
           SQLRowSource *a = Leaf(1);
           SQLRowSource *b = new SQLRSFilter(Leaf(2), Cmp(SQLRSSC_EQUAL, Int(1), Int(0)));
           SQLRowSource *x = Leaf(1);
           SQLRowSource *z = Leaf(2);
           auto *ab = new SQLRSJoin(SQL_JOIN_LEFT, a, b, nullptr);
           auto *xEmp = new SQLRSSCColumnRef(0, 2 * W + E, x->GetColumnDescriptor(E));
           auto *abx = new SQLRSJoin(SQL_JOIN_INNER, ab, x, Cmp(SQLRSSC_EQUAL, second(b, E), xEmp));
           auto *dear = new SQLRSFilter(z, new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(z, N), Col(a, N, -1)),
                                                          Cmp(SQLRSSC_GREATER_THAN, Col(z, S), Col(a, S, -1))));
           return Project(new SQLRSFilter(abx, new SQLRSSCNot(new SQLRSSCExists(dear))),
                          {Col(a, E), new SQLRSSCColumnRef(0, 2 * W + E, x->GetColumnDescriptor(E))});
         }});
    for (bool negated : {false, true}) {
      for (bool nulls : {false, true}) {
        corpus.push_back(
            {std::string("SELECT a.emp, x.name FROM c1 a, c1 x WHERE a.emp = x.emp + 1 AND k ") +
                 (negated ? "NOT " : "") +
                 "IN (SELECT " + (nulls ? "CASE dept WHEN 'A' THEN emp END" : "emp") +
                 " FROM c2) ORDER BY x.name dir, 1" + tag,
             true, [=, this] {
               SQLRowSource *a = Leaf(1);
               SQLRowSource *x = Leaf(1);
               SQLRowSource *z = Leaf(2);
               SQLRSSCValueExpr *value = nullptr;
               if (nulls) {
                 auto *clauses = new List<SQLRSSCSimpleCase::WhenClause *>;
                 clauses->Append(new SQLRSSCSimpleCase::WhenClause(Str("A"), Col(z, E)));
                 value = new SQLRSSCSimpleCase(Col(z, D), clauses, nullptr);
               } else {
                 value = Col(z, E);
               }
               SQLRSSCSearchCond *in = new SQLRSSCInSubquery(Int(k), Project(z, {value}));
               if (negated) in = new SQLRSSCNot(in);
               auto *where = new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(a, E), new SQLRSSCAdd(second(x, E), Int(1))), in);
               SQLRowSource *p = Project(new SQLRSFilter(new SQLRSJoin(SQL_JOIN_INNER, a, x, nullptr), where),
                                         {Col(a, E), second(x, N)});
               return Sort(p, {{1, dir}, {0, 0}});
             }});
        corpus.back().ordered = false;  // the rows may be none: compared as sets
      }
    }
    corpus.push_back(
        {"SELECT emp, name WHERE emp = k OR emp = k + 3 OR ... (300 terms) OR emp IN (500 values)" + tag,
         false, [=, this] {
           SQLRowSource *t = Leaf(company);
           auto *terms = new pSQLRSSCSearchCondList;
           for (int i = 0; i < 300; ++i) terms->Append(Cmp(SQLRSSC_EQUAL, Col(t, E), Int(k + 3 * i)));
           auto *chain = new SQLRSSCOr(terms);
           auto *list = new pSQLRSSCValueExprList;
           for (int i = 0; i < 500; ++i) list->Append(Int(1000 - 7 * i));
           return Project(new SQLRSFilter(t, new SQLRSSCOr(chain, new SQLRSSCInSet(Col(t, E), list))),
                          {Col(t, E), Col(t, N)});
         }});
    // ---- set functions under a row-free condition that holds for no row
    // (IN, EXISTS and a scalar COUNT over c2, the other driver's in the
    // layout "two", or a BETWEEN whose bounds hold nothing), and under its
    // negation; conditions that fail for some rows (a division by zero, a
    // scalar subquery of several rows) beside ones that reject rows, over
    // one table and over a join of c1 and c2: both trees give the same
    // rows or the same error. Drawn without the generator. ----
    {
      int const shape = round % 4;
      std::string const shapes[] = {"-1 - k IN (SELECT emp FROM c2)", "EXISTS (SELECT * FROM c2 WHERE emp = -k)",
                                    "(SELECT COUNT(*) FROM c2 WHERE emp < k - 100) > 0", "emp BETWEEN k + 10 AND k"};
      auto none = [=, this](SQLRowSource *t) -> SQLRSSCSearchCond * {
        if (shape == 3) return new SQLRSSCBetween(List1(Col(t, E)), List1(Int(k + 10)), List1(Int(k)));
        SQLRowSource *b = Leaf(2);
        if (shape == 0) return new SQLRSSCInSubquery(Int(-1 - k), Project(b, {Col(b, E)}));
        if (shape == 1) return new SQLRSSCExists(new SQLRSFilter(b, Cmp(SQLRSSC_EQUAL, Col(b, E), Int(-k))));
        SQLRowSource *g =
            Group(new SQLRSFilter(b, Cmp(SQLRSSC_LESS_THAN, Col(b, E), Int(k - 100))), {}, {SQLRSGroupSpec::CountStar()});
        return Cmp(SQLRSSC_GREATER_THAN, new SQLRSSCScalarSubquery(g), Int(0));
      };
      for (bool negated : {false, true}) {
        std::string const where = std::string(" WHERE emp op k AND ") + (negated ? "NOT " : "") + shapes[shape];
        auto condition = [=](SQLRowSource *t) -> SQLRSSCSearchCond * {
          SQLRSSCSearchCond *c = none(t);
          return new SQLRSSCAnd(Cmp(op, Col(t, E), Int(k)), negated ? new SQLRSSCNot(c) : c);
        };
        corpus.push_back({"SELECT COUNT(*), COUNT(salary), SUM(emp), MIN(name)" + where + tag, false, [=, this] {
                            SQLRowSource *t = Leaf(company);
                            return Group(new SQLRSFilter(t, condition(t)), {},
                                         {SQLRSGroupSpec::CountStar(),
                                          SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kCount, Arg(Col(t, S))),
                                          SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kSum, Arg(Col(t, E))),
                                          SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kMin, Arg(Col(t, N)))});
                          }});
        corpus.back().joinsHere = true;
        corpus.push_back({"SELECT dept, COUNT(*), MAX(salary)" + where + " GROUP BY dept" + tag, false, [=, this] {
                            SQLRowSource *t = Leaf(company);
                            return Group(new SQLRSFilter(t, condition(t)), {D},
                                         {SQLRSGroupSpec::Column(D), SQLRSGroupSpec::CountStar(),
                                          SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kMax, Arg(Col(t, S)))});
                          }});
        corpus.back().joinsHere = true;
        // Per row of c2, a count and a sum over c1's rows of its department.
        corpus.push_back({"SELECT a.emp, (SELECT SUM(emp) FROM c1" + where +
                              " AND dept = a.dept) FROM c2 a WHERE (SELECT COUNT(*) FROM c1" + where +
                              " AND dept = a.dept) = 0" + tag,
                          false, [=, this] {
                            SQLRowSource *a = Leaf(2);
                            auto over = [&](std::vector<SQLRSGroupSpec> specs, bool sum) {
                              SQLRowSource *t = Leaf(1);
                              auto *own = new SQLRSSCAnd(condition(t), Cmp(SQLRSSC_EQUAL, Col(t, D), Col(a, D, -1)));
                              if (sum) specs = {SQLRSGroupSpec::SetFunction(SQLRSGroupSpec::kSum, Arg(Col(t, E)))};
                              return new SQLRSSCScalarSubquery(Group(new SQLRSFilter(t, own), {}, specs));
                            };
                            auto *zero = Cmp(SQLRSSC_EQUAL, over({SQLRSGroupSpec::CountStar()}, false), Int(0));
                            return Project(new SQLRSFilter(a, zero), {Col(a, E), over({}, true)});
                          }});
        corpus.back().joinsHere = true;
      }
      // A division by zero where emp is k, and a scalar subquery of several
      // rows, each beside a comparison that rejects rows, in either order.
      for (bool failingFirst : {false, true}) {
        auto pair = [=](SQLRSSCSearchCond *guard, SQLRSSCSearchCond *failing) -> SQLRSSCSearchCond * {
          return failingFirst ? new SQLRSSCAnd(failing, guard) : new SQLRSSCAnd(guard, failing);
        };
        std::string const order = failingFirst ? " (failing first)" : "";
        corpus.push_back({"SELECT emp FROM t WHERE emp op k AND 100 / (emp - k) > 0" + order + tag, false, [=, this] {
                            SQLRowSource *t = Leaf(company);
                            auto *failing = Cmp(SQLRSSC_GREATER_THAN,
                                                new SQLRSSCDivide(Int(100), new SQLRSSCSubtract(Col(t, E), Int(k))), Int(0));
                            return Project(new SQLRSFilter(t, pair(Cmp(op, Col(t, E), Int(k)), failing)), {Col(t, E)});
                          }});
        corpus.back().joinsHere = true;
        corpus.push_back({"SELECT emp FROM c1 t WHERE emp op k AND (SELECT b.emp FROM c2 b WHERE b.name = t.name AND "
                          "b.dept = t.dept) > 0" + order + tag,
                          false, [=, this] {
                            SQLRowSource *t = Leaf(1);
                            SQLRowSource *b = Leaf(2);
                            auto *same = new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(b, N), Col(t, N, -1)),
                                                        Cmp(SQLRSSC_EQUAL, Col(b, D), Col(t, D, -1)));
                            auto *failing = Cmp(SQLRSSC_GREATER_THAN,
                                                new SQLRSSCScalarSubquery(Project(new SQLRSFilter(b, same), {Col(b, E)})),
                                                Int(0));
                            return Project(new SQLRSFilter(t, pair(Cmp(op, Col(t, E), Int(k)), failing)), {Col(t, E)});
                          }});
        corpus.back().joinsHere = true;
        // Over c1 a and c2 b joined on the day hired (some rows of each
        // have no partner), the failing conjunct over a or over b.
        for (bool onB : {false, true}) {
          corpus.push_back({std::string("SELECT a.emp, b.emp FROM c1 a, c2 b WHERE a.hired = b.hired AND ") +
                                (onB ? "b.emp op k + 40 AND 100 / (b.emp - k - 40) > 0"
                                     : "a.emp op k AND 100 / (a.emp - k) > 0") +
                                order + tag,
                            false, [=, this] {
                              SQLRowSource *a = Leaf(1);
                              SQLRowSource *b = Leaf(2);
                              auto bc = [&](int c) { return new SQLRSSCColumnRef(0, W + c, b->GetColumnDescriptor(c)); };
                              SQLRSSCValueExpr *emp = onB ? bc(E) : Col(a, E);
                              int const at = onB ? k + 40 : k;
                              auto *failing = Cmp(SQLRSSC_GREATER_THAN,
                                                  new SQLRSSCDivide(Int(100), new SQLRSSCSubtract(emp, Int(at))), Int(0));
                              auto *guard = Cmp(op, onB ? bc(E) : Col(a, E), Int(at));
                              auto *where = new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(a, H), bc(H)), pair(guard, failing));
                              return Project(new SQLRSFilter(new SQLRSJoin(SQL_JOIN_INNER, a, b, nullptr), where),
                                             {Col(a, E), bc(E)});
                            }});
          corpus.back().joinsHere = true;
        }
      }
      // A failing leaf (a division by zero where emp is k, a scalar
      // subquery of several rows, a date past the calendar's last day where
      // emp is above k) nested under AND, OR and NOT beside a guard that
      // may decide it, over one table and beside an INNER join on the day
      // hired, with the guard and the leaf on either side; a DATE column
      // compared with integer constants beside a failing conjunct written
      // first. Both trees give the same rows or the same error.
      static const char *const kLeaves[] = {"100 / (emp - k) > 0", "(SELECT b.emp FROM c2 b) > 0",
                                            "CAST(emp AS DATE) + (last day - k) > DATE 0"};
      static const char *const kNests[] = {"g OR f", "NOT (NOT g AND f)", "(f AND NOT g) OR g", "g AND NOT (NOT g AND f)",
                                           "NOT ((g OR f) AND NOT g)"};
      int const leaf = round % 3;
      auto failingLeaf = [=, this](SQLRowSource *t, SQLRSSCValueExpr *emp) -> SQLRSSCSearchCond * {
        if (leaf == 0) return Cmp(SQLRSSC_GREATER_THAN, new SQLRSSCDivide(Int(100), new SQLRSSCSubtract(emp, Int(k))), Int(0));
        if (leaf == 1) {
          delete emp;
          SQLRowSource *b = Leaf(2);
          return Cmp(SQLRSSC_GREATER_THAN, new SQLRSSCScalarSubquery(Project(b, {Col(b, E)})), Int(0));
        }
        (void)t;
        auto *date = new SQLRSSCReinterpretCast(emp, SQL_DATE);
        return Cmp(SQLRSSC_GREATER_THAN, new SQLRSSCAdd(date, Int(AL_LAST_DAY_NUMBER - k)), new SQLRSSCDateConst(0));
      };
      auto nest = [](int shape, const std::function<SQLRSSCSearchCond *()> &g, SQLRSSCSearchCond *f) -> SQLRSSCSearchCond * {
        switch (shape) {
          case 0:
            return new SQLRSSCOr(g(), f);
          case 1:
            return new SQLRSSCNot(new SQLRSSCAnd(new SQLRSSCNot(g()), f));
          case 2:
            return new SQLRSSCOr(new SQLRSSCAnd(f, new SQLRSSCNot(g())), g());
          case 3:
            return new SQLRSSCAnd(g(), new SQLRSSCNot(new SQLRSSCAnd(new SQLRSSCNot(g()), f)));
          default:
            return new SQLRSSCNot(new SQLRSSCAnd(new SQLRSSCOr(g(), f), new SQLRSSCNot(g())));
        }
      };
      for (int shape = 0; shape < 5; ++shape) {
        std::string const text = std::string(kNests[shape]) + " with g: emp op k, f: " + kLeaves[leaf];
        corpus.push_back({"SELECT emp FROM t WHERE " + text + tag, false, [=, this] {
                            SQLRowSource *t = Leaf(company);
                            auto g = [&] { return Cmp(op, Col(t, E), Int(k)); };
                            return Project(new SQLRSFilter(t, nest(shape, g, failingLeaf(t, Col(t, E)))), {Col(t, E)});
                          }});
        corpus.back().joinsHere = true;
        for (int sides = 0; sides < 2; ++sides) {
          corpus.push_back({std::string("SELECT a.emp, b.emp FROM c1 a, c2 b WHERE a.hired = b.hired AND ") + text +
                                (sides ? " (g on b, f on a)" : " (g on a, f on b)") + tag,
                            false, [=, this] {
                              SQLRowSource *a = Leaf(1);
                              SQLRowSource *b = Leaf(2);
                              auto bc = [&](int c) { return new SQLRSSCColumnRef(0, W + c, b->GetColumnDescriptor(c)); };
                              auto g = [&] { return Cmp(op, sides ? bc(E) : Col(a, E), Int(k)); };
                              auto *where = new SQLRSSCAnd(Cmp(SQLRSSC_EQUAL, Col(a, H), bc(H)),
                                                           nest(shape, g, failingLeaf(a, sides ? Col(a, E) : bc(E))));
                              return Project(new SQLRSFilter(new SQLRSJoin(SQL_JOIN_INNER, a, b, nullptr), where),
                                             {Col(a, E), bc(E)});
                            }});
          corpus.back().joinsHere = true;
        }
      }
      // DATE columns against integer constants beside a failing conjunct
      // written before them.
      for (SQLRSSCCompOperator dop : {SQLRSSC_LESS_THAN, SQLRSSC_GREATER_THAN_OR_EQUAL})
        corpus.push_back({"SELECT emp FROM t WHERE 100 / (emp - k) > 0 AND hired op2 CAST(730000 + k AS DATE)" + tag,
                          false, [=, this] {
                            SQLRowSource *t = Leaf(company);
                            auto *failing = Cmp(SQLRSSC_GREATER_THAN,
                                                new SQLRSSCDivide(Int(100), new SQLRSSCSubtract(Col(t, E), Int(k))), Int(0));
                            auto *day = Cmp(dop, Col(t, H), new SQLRSSCReinterpretCast(Int(730000 + k), SQL_DATE));
                            return Project(new SQLRSFilter(t, new SQLRSSCAnd(failing, day)), {Col(t, E)});
                          }});
    }
  }
  int failures = 0;
  int shipped_before = 0;
  std::string local_parts;  // queries of which the optimiser kept a part here
  // The rows of a tree, or "error <SQLSTATE>".
  auto outcome = [this](SQLRowSource *tree, bool optimise) -> Rows {
    try {
      return Run(tree, optimise);
    } catch (const SQLException &e) {
      return {std::string("error ") + e.GetSQLState()};
    }
  };
  for (Query &q : corpus) {
    Rows pushed = outcome(q.build(), true);
    Rows local = outcome(q.local ? q.local() : q.build(), false);
    if (!q.ordered) {
      std::sort(pushed.begin(), pushed.end());
      std::sort(local.begin(), local.end());
    }
    if (shipped_whole_ != shipped_before + 1 && !q.joinsHere) local_parts += "\n  " + q.text;
    shipped_before = shipped_whole_;
    if (pushed != local) {
      ++failures;
      std::string diff;
      for (std::size_t i = 0; i < std::max(pushed.size(), local.size()) && i < 8; ++i)
        diff += "\n  agent: " + (i < pushed.size() ? pushed[i] : "-") +
                "\n  local: " + (i < local.size() ? local[i] : "-");
      ADD_FAILURE() << q.text << ": " << pushed.size() << " rows pushed down, " << local.size() << " local"
                    << diff;
    }
    EXPECT_FALSE(local.empty() && pushed.empty() && q.ordered) << "no rows at all: " << q.text;
  }
  EXPECT_EQ(failures, 0) << "of " << corpus.size() << " queries";
  // Every query of the corpus is one the agent runs whole when one driver
  // holds both companies, but for the outer joins whose condition is no
  // equality of their two sides.
  if (!two_) {
    EXPECT_EQ(local_parts, "") << "not shipped whole";
  }
}

INSTANTIATE_TEST_SUITE_P(TssModesAndLayouts, SqlAgentDiff,
                         testing::Combine(testing::Values("1", "2"), testing::Values("one", "two")),
                         [](testing::TestParamInfo<SqlAgentDiff::ParamType> const &info) {
                           return std::string("Tss") + std::get<0>(info.param) + "_" + std::get<1>(info.param) +
                                  "Driver";
                         });

}  // namespace
}  // namespace molvane::test::agent_diff
