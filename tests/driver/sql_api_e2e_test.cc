// The classic SQL API end to end: statements prepared, bound, executed and
// fetched through the sql_* functions against the reference driver, with
// host callbacks that keep every delivered row as text. The tables live on
// one driver (joins and subqueries can be shipped as one query), on two
// (joins run here), or with company 2 of both on a driver of its own
// (statements over both companies unite the drivers' rows here); all give
// the same rows. Here: queries with their clauses, joins, groups, unions,
// subqueries, set functions over no row, conditions that fail, and long,
// deep and million-term statements.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "sql_api_e2e.h"

namespace molvane::test::sql_api {
namespace {

TEST_P(SqlApiE2E, SelectWithItsClauses) {
  EXPECT_EQ(Query("SELECT emp, name FROM exemp010 WHERE salary > 150 ORDER BY emp DESC"),
            (Rows{"4|Dan", "3|Cid", "2|Bob"}));
  EXPECT_EQ(Query("SELECT emp FROM exemp010 WHERE emp BETWEEN 2 AND 3 AND name LIKE 'C.*'"),
            (Rows{"3"}));
  EXPECT_EQ(Query("SELECT emp, name FROM exemp010 ORDER BY emp", 2), (Rows{"7|Eve"}));
  EXPECT_EQ(Query("SELECT code, budget FROM exdep010 WHERE code IN ('A', 'C') ORDER BY code"),
            (Rows{"A|10", "C|30"}));
  EXPECT_EQ(Query("SELECT emp FROM exemp010 WHERE dnul IS NULL OR dnul = ''"), (Rows{"4"}));
}

TEST_P(SqlApiE2E, JoinsGiveTheSameRowsShippedOrRunHere) {
  EXPECT_EQ(Query("SELECT e.emp, d.name FROM exemp010 e, exdep010 d WHERE e.dept = d.code "
                  "ORDER BY e.emp"),
            (Rows{"1|Alpha", "2|Beta", "3|Beta", "4|Alpha"}));
  EXPECT_EQ(Sorted(Query("SELECT e.emp, d.code FROM exemp010 e LEFT OUTER JOIN exdep010 d "
                         "ON e.dnul = d.code")),
            (Rows{"1|A", "2|B", "3|B", "4|-"}));
  EXPECT_EQ(Sorted(Query("SELECT d.code, e.emp FROM exemp010 e RIGHT JOIN exdep010 d "
                         "ON e.dnul = d.code")),
            (Rows{"A|1", "B|2", "B|3", "C|0"}));
  EXPECT_EQ(Query("SELECT e.emp, d.name FROM exemp010 e, exdep010 d WHERE e.dept = d.code", 2),
            (Rows{"7|Uno"}));
  // Three tables, with a FULL join (which always runs here) inside a RIGHT
  // and a FULL join.
  EXPECT_EQ(Sorted(Query("SELECT e.emp, d.code, e3.emp FROM exemp010 e FULL JOIN exdep010 d ON e.dnul = d.code "
                         "RIGHT JOIN exemp010 e3 ON e3.emp = e.emp")),
            (Rows{"1|A|1", "2|B|2", "3|B|3", "4|-|4"}));
  EXPECT_EQ(Sorted(Query("SELECT e.emp, d.code, e3.emp FROM exemp010 e FULL JOIN exdep010 d ON e.dnul = d.code "
                         "FULL JOIN exemp010 e3 ON e3.dnul = d.code")),
            (Rows{"0|-|4", "0|C|0", "1|A|1", "2|B|2", "2|B|3", "3|B|2", "3|B|3", "4|-|0"}));
  // A RIGHT join over a RIGHT join (shipped as one query when it can be).
  EXPECT_EQ(Sorted(Query("SELECT e.emp, d.code, e3.emp FROM exemp010 e RIGHT JOIN exdep010 d ON e.dnul = d.code "
                         "RIGHT JOIN exemp010 e3 ON e3.dnul = d.code")),
            (Rows{"0|-|4", "1|A|1", "2|B|2", "2|B|3", "3|B|2", "3|B|3"}));
  // Rows of an outer join whose NULL side was never read are sorted and
  // grouped by that side.
  EXPECT_EQ(Query("SELECT d.code, d.budget FROM exemp010 e LEFT JOIN exdep010 d ON d.status = 77 ORDER BY 1"),
            (Rows{"-|0", "-|0", "-|0", "-|0"}));
  EXPECT_EQ(Query("SELECT d.code, COUNT(*) :n FROM exemp010 e LEFT JOIN exdep010 d ON d.status = 77 "
                  "GROUP BY d.code"),
            (Rows{"-|4"}));
  // 100 / (budget - 30) divides by zero for C, which no employee's row
  // reaches: nothing computes it before the join or filter drops C.
  for (const char *text :
       {"SELECT d.code, 100 / (d.budget - 30) :q FROM exdep010 d WHERE EXISTS "
        "(SELECT emp FROM exemp010 x WHERE x.dept = d.code) ORDER BY 1",
        "SELECT d.code, 100 / (d.budget - 30) :q FROM exdep010 d WHERE d.code IN (SELECT dept FROM exemp010) "
        "ORDER BY 1"})
    EXPECT_EQ(Query(text), (Rows{"A|-5", "B|-10"})) << text;
  for (const char *text : {"SELECT d.code, 100 / (d.budget - 30) :q FROM exemp010 e, exdep010 d "
                           "WHERE e.dept = d.code ORDER BY 1",
                           "SELECT d.code, 100 / (d.budget - 30) :q FROM exdep010 d INNER JOIN exemp010 e "
                           "ON e.dept = d.code ORDER BY 1",
                           "SELECT d.code, 100 / (d.budget - 30) :q FROM exdep010 d LEFT JOIN exemp010 e "
                           "ON e.dept = d.code WHERE e.emp > 0 ORDER BY 1",
                           "SELECT d.code, 100 / (d.budget - 30) :q FROM exemp010 e RIGHT JOIN exdep010 d "
                           "ON e.dept = d.code WHERE e.salary > 0 ORDER BY 1"})
    EXPECT_EQ(Query(text), (Rows{"A|-5", "A|-5", "B|-10", "B|-10"})) << text;
  // A condition over a NULL-extended row that can still be TRUE keeps the
  // outer join outer: NULL NOT IN an empty subquery is TRUE, an EXISTS of
  // a COUNT(*) always finds its row, and a COUNT(*) of nothing is 0.
  // Against a subquery with rows NULL NOT IN is UNKNOWN.
  for (const char *where :
       {"d2.status NOT IN (SELECT d3.status FROM exdep010 d3 WHERE d3.status = 77)",
        "EXISTS (SELECT COUNT(*) FROM exdep010 d3 WHERE d3.code = d2.code)",
        "(SELECT COUNT(*) FROM exdep010 d3 WHERE d3.code = d2.code) = 0"}) {
    std::string text = std::string("SELECT e1.emp FROM exemp010 e1 LEFT JOIN exdep010 d2 ON e1.drst = d2.code "
                                   "AND d2.status = 77 WHERE ") +
                       where + " ORDER BY 1";
    EXPECT_EQ(Query(text), (Rows{"1", "2", "3", "4"})) << text;
  }
  EXPECT_EQ(Query("SELECT e1.emp FROM exemp010 e1 LEFT JOIN exdep010 d2 ON e1.drst = d2.code AND d2.status = 77 "
                  "WHERE d2.status NOT IN (SELECT d3.status FROM exdep010 d3)"),
            (Rows{}));
  // An ON condition with a subquery over the other driver's table (in the
  // layout with two drivers) keeps the join here; within one driver it is
  // shipped with the join.
  EXPECT_EQ(Query("SELECT COUNT(*) :n FROM exemp010 e1 INNER JOIN exemp010 e2 ON e1.emp = e2.emp "
                  "AND EXISTS (SELECT d3.code FROM exdep010 d3)"),
            (Rows{"4"}));
  EXPECT_EQ(Query("SELECT COUNT(*) :n FROM exdep010 d1 INNER JOIN exdep010 d2 ON d1.code = d2.code "
                  "AND EXISTS (SELECT e3.emp FROM exemp010 e3)"),
            (Rows{"3"}));
  EXPECT_EQ(Query("SELECT e1.emp, e2.emp FROM exemp010 e1 LEFT JOIN exemp010 e2 ON e1.emp = e2.emp "
                  "AND e2.dept IN (SELECT d3.code FROM exdep010 d3 WHERE d3.budget > 15) ORDER BY 1"),
            (Rows{"1|0", "2|2", "3|3", "4|0"}));
  EXPECT_EQ(Sorted(Query("SELECT d1.code, d2.code FROM exdep010 d1 RIGHT JOIN exdep010 d2 ON d1.code = d2.code "
                         "AND d1.code IN (SELECT e3.dept FROM exemp010 e3 WHERE e3.salary > 250)")),
            (Rows{"-|C", "A|A", "B|B"}));
  // RIGHT joins in a compound and under a grouping.
  EXPECT_EQ(Query("SELECT e1.emp FROM exemp010 e1 WHERE e1.salary > 250 UNION ALL SELECT e3.emp "
                  "FROM exemp010 e2 RIGHT JOIN exemp010 e3 ON e2.emp = e3.emp ORDER BY 1"),
            (Rows{"1", "2", "3", "3", "4", "4"}));
  EXPECT_EQ(Query("SELECT d.code, MAX(e.salary) :m, COUNT(*) :n FROM exemp010 e RIGHT JOIN exdep010 d "
                  "ON e.dept = d.code GROUP BY d.code"),
            (Rows{"A|400|2", "B|300|2", "C|0|1"}));
  EXPECT_EQ(Query("SELECT d.name, d.status, MAX(e.emp) :m FROM exemp010 e RIGHT JOIN exdep010 d "
                  "ON e.dnul = d.code GROUP BY d.name, d.status"),
            (Rows{"Alpha|1|1", "Beta|1|3", "Gamma|1|0"}));
}

// A condition of an INNER join's ON on one side or none, or holding a
// subquery (over the other driver in the layouts with two), acts as in the
// WHERE; one of an outer join's ON only on the side it sets NULL, whose
// rows a constant FALSE empties while the other side's are kept. A false
// IN of a constant before a sorted join gives no row; a true one every row.
TEST_P(SqlApiE2E, OnConditionsAndConstantInsGiveTheSameRowsWhereverTheyRun) {
  struct Case {
    char const *text;
    Rows rows;
  } const cases[] = {
      {"SELECT d.code, e.emp FROM (exdep010 d INNER JOIN exemp010 e ON (d.code = e.dept AND e.flags = -12345)) "
       "WHERE NOT EXISTS (SELECT d2.code FROM exdep010 d2 WHERE d2.code = d.code AND d.budget IN "
       "(SELECT e3.salary FROM exemp010 e3 WHERE e3.emp > d2.budget)) ORDER BY 1, 2",
       {}},
      {"SELECT d.code, e.emp FROM (exdep010 d INNER JOIN exemp010 e ON (d.code = e.dept AND e.salary > 150)) "
       "WHERE NOT EXISTS (SELECT d2.code FROM exdep010 d2 WHERE d2.code = d.code AND d.budget IN "
       "(SELECT e3.salary FROM exemp010 e3 WHERE e3.emp > d2.budget)) ORDER BY 1, 2",
       {"A|4", "B|2", "B|3"}},
      {"SELECT e.emp, d.code FROM exemp010 e INNER JOIN exdep010 d ON e.dept = d.code AND d.budget BETWEEN 30 AND 20 "
       "ORDER BY 1",
       {}},
      {"SELECT e.emp, d.code FROM exemp010 e INNER JOIN exdep010 d ON e.dept = d.code AND d.name IS NULL ORDER BY 1",
       {}},
      {"SELECT e.emp, d.code FROM exemp010 e INNER JOIN exdep010 d ON e.dept = d.code AND EXISTS (SELECT e3.emp "
       "FROM exemp010 e3 WHERE e3.salary > d.budget * 10 + e.salary) ORDER BY 1",
       {"1|A"}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1 INNER JOIN exemp010 e2 ON e1.dept = e2.dept AND (SELECT COUNT(*) "
       "FROM exdep010 d3 WHERE d3.budget > e1.salary / 10 AND d3.code <> e2.dept) > 0 WHERE e2.dnul IN "
       "(SELECT d4.code FROM exdep010 d4) ORDER BY 1, 2",
       {"1|1", "2|2", "2|3"}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1 INNER JOIN exemp010 e2 ON e1.dept = e2.dept AND (SELECT COUNT(*) "
       "FROM exdep010 d3 WHERE d3.budget > 25) > 0 WHERE e2.dnul IN (SELECT d4.code FROM exdep010 d4) ORDER BY 1, 2",
       {"1|1", "2|2", "2|3", "3|2", "3|3", "4|1"}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1 INNER JOIN exemp010 e2 ON e1.dept = e2.dept AND (SELECT COUNT(*) "
       "FROM exdep010 d3 WHERE d3.budget > 35) > 0 ORDER BY 1, 2",
       {}},
      {"SELECT e.emp, d.code FROM exemp010 e LEFT JOIN exdep010 d ON e.dept = d.code AND d.budget > 15 ORDER BY 1",
       {"1|-", "2|B", "3|B", "4|-"}},
      {"SELECT e.emp, d.code FROM exemp010 e LEFT JOIN exdep010 d ON e.dept = d.code AND e.salary > 250 ORDER BY 1",
       {"1|-", "2|-", "3|B", "4|A"}},
      {"SELECT e.emp, d.code FROM exemp010 e LEFT JOIN exdep010 d ON 1 = 0 ORDER BY 1", {"1|-", "2|-", "3|-", "4|-"}},
      {"SELECT e.emp, d.code FROM exemp010 e LEFT JOIN exdep010 d ON d.budget > 15 ORDER BY 1, 2",
       {"1|B", "1|C", "2|B", "2|C", "3|B", "3|C", "4|B", "4|C"}},
      {"SELECT d.code, e.emp FROM exemp010 e RIGHT JOIN exdep010 d ON e.salary > 250 ORDER BY 1, 2",
       {"A|3", "A|4", "B|3", "B|4", "C|3", "C|4"}},
      {"SELECT e.emp, d.code FROM exemp010 e LEFT JOIN exdep010 d ON e.dnul = d.code AND d.code IS NULL ORDER BY 1",
       {"1|-", "2|-", "3|-", "4|-"}},
      {"SELECT d.code, e.emp FROM exemp010 e RIGHT JOIN exdep010 d ON e.dept = d.code AND e.salary > 150 "
       "ORDER BY 1, 2",
       {"A|4", "B|2", "B|3", "C|0"}},
      {"SELECT d.code, e.emp FROM exemp010 e RIGHT JOIN exdep010 d ON e.dept = d.code AND d.budget > 15 ORDER BY 1, 2",
       {"A|0", "B|2", "B|3", "C|0"}},
      {"SELECT e.emp, d.code FROM exemp010 e LEFT JOIN exdep010 d ON 1 = 0 WHERE d.budget > 0 AND NOT EXISTS "
       "(SELECT e3.emp FROM exemp010 e3 WHERE e3.salary > e.salary AND e3.dept = e.dept)",
       {}},
      {"SELECT e.emp, e2.emp FROM (exemp010 e LEFT JOIN exdep010 d ON e.dept = d.code AND d.budget > 15) INNER JOIN "
       "exemp010 e2 ON e2.emp = e.emp AND d.code IS NULL ORDER BY 1",
       {"1|1", "4|4"}},
      // 100 / (budget - 30) divides by zero for C, which no employee joins:
      // the conjunct stays with the join, which never computes it for C.
      {"SELECT e.emp, d.code FROM exemp010 e INNER JOIN exdep010 d ON e.dept = d.code AND 100 / (d.budget - 30) < 0 "
       "ORDER BY 1",
       {"1|A", "2|B", "3|B", "4|A"}},
      {"SELECT e.emp, d.code FROM exemp010 e LEFT JOIN exdep010 d ON e.dept = d.code AND 100 / (d.budget - 30) < 0 "
       "ORDER BY 1",
       {"1|A", "2|B", "3|B", "4|A"}},
      // The same conjunct in the WHERE, with the departments first or
      // last, and one on the employees that fails for emp 4 (salary 400),
      // which has no dnul to join by: only joined rows reach them.
      {"SELECT e.emp, d.code FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND 100 / (d.budget - 30) < 0 "
       "ORDER BY 1",
       {"1|A", "2|B", "3|B", "4|A"}},
      {"SELECT e.emp, d.code FROM exdep010 d, exemp010 e WHERE 100 / (d.budget - 30) < 0 AND d.code = e.dept "
       "ORDER BY 1",
       {"1|A", "2|B", "3|B", "4|A"}},
      {"SELECT e.emp, d.code FROM exemp010 e, exdep010 d WHERE e.dnul = d.code AND 100 / (e.salary - 400) < 0 "
       "ORDER BY 1",
       {"1|A", "2|B", "3|B"}},
      {"SELECT d.code, e.emp FROM exdep010 d INNER JOIN exemp010 e ON e.dnul = d.code WHERE 100 / (e.salary - 400) "
       "< 0 ORDER BY 1, 2",
       {"A|1", "B|2", "B|3"}},
      {"SELECT e.emp, x.emp FROM exemp010 e, exdep010 d, exemp010 x WHERE e.dept = d.code AND x.emp = e.emp AND "
       "d.code <> 'A' AND 100 / (d.budget - 30) < 0 AND 100 / (x.salary - 400) < 0 ORDER BY 1, 2",
       {"2|2", "3|3"}},
      // A FALSE condition over a subquery decides the rows that a division
      // by zero would fail: beside a join (department A's budget is 10),
      // and written first before the division.
      {"SELECT d.code, e.emp FROM exdep010 d INNER JOIN exemp010 e ON d.code = e.drst WHERE 100 / (d.budget - 10) < 0 "
       "AND 'Q' IN (SELECT x.dept FROM exemp010 x) ORDER BY 1, 2",
       {}},
      {"SELECT COUNT(*) :n FROM exemp010 e WHERE (SELECT COUNT(*) FROM exdep010 x WHERE x.budget > 1000) > 0 AND "
       "100 / (e.salary - 200) < 0",
       {"0"}},
      {"SELECT e.emp FROM exemp010 e WHERE (SELECT x.emp FROM exemp010 x WHERE x.emp = e.emp) > 3 AND "
       "100 / (e.emp - 2) > 0",
       {"4"}},
      // No employee has a NULL dnul; emp 4 overflows: a driver that scans
      // the key index must not compute the product before the row's dnul.
      {"SELECT e.emp FROM exemp010 e WHERE e.dnul IS NULL AND e.emp >= 4 AND e.emp * 1000000000 > 0", {}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1, exemp010 e2 WHERE e1.emp = e2.emp AND 2000 IN (SELECT d3.budget "
       "FROM exdep010 d3) ORDER BY 2 DESC",
       {}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1, exemp010 e2 WHERE e1.emp = e2.emp AND 20 IN (SELECT d3.budget "
       "FROM exdep010 d3) ORDER BY 2 DESC",
       {"4|4", "3|3", "2|2", "1|1"}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1, exemp010 e2 WHERE e1.emp = e2.emp AND 2000 NOT IN (SELECT d3.budget "
       "FROM exdep010 d3) ORDER BY 1",
       {"1|1", "2|2", "3|3", "4|4"}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1, exemp010 e2 WHERE e1.emp = e2.emp AND 20 IN (SELECT d3.budget "
       "FROM exdep010 d3 WHERE d3._compnr = 2) ORDER BY 1",
       {}},
      {"SELECT e1.emp, e2.emp FROM exemp010 e1, exemp010 e2 WHERE e1.emp = e2.emp AND 400 IN (SELECT d3.budget "
       "FROM exdep010 d3 WHERE d3._compnr = 2) ORDER BY 1",
       {"1|1", "2|2", "3|3", "4|4"}},
  };
  for (Case const &c : cases) EXPECT_EQ(Query(c.text), c.rows) << c.text;
}

TEST_P(SqlApiE2E, GroupsAndUnions) {
  EXPECT_EQ(Query("SELECT dnul, COUNT(*) :n, SUM(salary) :s FROM exemp010 GROUP BY dnul "
                  "ORDER BY dnul"),
            (Rows{"-|1|400", "A|1|100", "B|2|500"}));
  EXPECT_EQ(Query("SELECT dnul, COUNT(*) :n FROM exemp010 GROUP BY dnul HAVING COUNT(*) > 1"),
            (Rows{"B|2"}));
  EXPECT_EQ(Query("SELECT COUNT(*) :n, MAX(salary) :m, MIN(emp) :e FROM exemp010"),
            (Rows{"4|400|1"}));
  EXPECT_EQ(Sorted(Query("SELECT code FROM exdep010 WHERE _compnr = 1 UNION ALL "
                         "SELECT code FROM exdep010 WHERE _compnr = 2")),
            (Rows{"A", "A", "B", "C", "D"}));
  // A computed text has no length of its own: the union's column takes
  // the longer texts of either side whole.
  EXPECT_EQ(Sorted(Query("SELECT code FROM exdep010 UNION ALL SELECT 'abcdefghij' :c FROM exdep010 "
                         "WHERE code = 'A'")),
            (Rows{"A", "B", "C", "abcdefghij"}));
  EXPECT_EQ(Sorted(Query("SELECT dept FROM exemp010 WHERE emp = 1 UNION ALL SELECT TRIM(name) & '-0123456789' :c "
                         "FROM exemp010 WHERE emp = 2")),
            (Rows{"A", "Bob-0123456789"}));
}

// Set functions, groups, filters, joins and orders over the rows of both
// companies: a company_nr IN list or a UNION ALL derived table of each
// company's rows (ANSI mode). In the layout "split" each company's rows
// come from a driver of their own and the union, and all that reads it,
// runs here.
TEST_P(SqlApiE2E, StatementsOverBothCompanies) {
  const std::string both = "(SELECT emp, dept, salary FROM exemp010 WHERE company_nr = 1 UNION ALL "
                           "SELECT emp, dept, salary FROM exemp010 WHERE company_nr = 2) x";
  const struct {
    std::string text;
    Rows rows;  // sorted
  } cases[] = {
      {"SELECT COUNT(*) :n FROM exemp010 WHERE company_nr IN (1, 2)", {"5"}},
      {"SELECT MAX(salary) :m FROM exemp010 WHERE company_nr IN (1, 2)", {"400"}},
      {"SELECT MIN(salary) :m FROM exemp010 WHERE company_nr IN (1, 2)", {"50"}},
      {"SELECT SUM(salary) :s FROM exemp010 WHERE company_nr IN (1, 2)", {"1050"}},
      {"SELECT AVG(salary) :a FROM exemp010 WHERE company_nr IN (1, 2)", {"210"}},
      {"SELECT COUNT(*) :n FROM exemp010 WHERE company_nr IN (1, 2) AND salary > 1000", {"0"}},
      // A set function other than COUNT over no rows gives no row at all.
      {"SELECT COUNT(*) :n, MAX(emp) :m FROM exemp010 WHERE company_nr IN (1, 2) AND salary > 1000", {}},
      {"SELECT dept, COUNT(*) :n, SUM(salary) :s FROM exemp010 WHERE company_nr IN (1, 2) GROUP BY dept",
       {"A|3|550", "B|2|500"}},
      {"SELECT dept, MIN(emp) :m FROM exemp010 WHERE company_nr IN (1, 2) GROUP BY dept HAVING dept = 'A'",
       {"A|1"}},
      {"SELECT COUNT(*) :n FROM " + both, {"5"}},
      {"SELECT x.dept :d, COUNT(*) :n, MAX(x.emp) :m, AVG(x.salary) :a FROM " + both + " GROUP BY x.dept",
       {"A|3|7|183.333", "B|2|3|250"}},
      {"SELECT x.dept :d, COUNT(*) :n FROM " + both + " GROUP BY x.dept HAVING COUNT(*) > 2", {"A|3"}},
      {"SELECT x.emp :e FROM " + both + " WHERE x.emp > 3", {"4", "7"}},
      {"SELECT x.emp :e FROM " + both + " WHERE x.emp > 1 AND x.salary < 250 OR x.dept = 'Z'", {"2", "7"}},
      {"SELECT x.emp :e, d.name :n FROM " + both + " INNER JOIN exdep010 d ON x.dept = d.code WHERE d.company_nr = 1",
       {"1|Alpha", "2|Beta", "3|Beta", "4|Alpha", "7|Alpha"}},
      {"SELECT d.code :c, x.emp :e FROM exdep010 d INNER JOIN " + both + " ON x.dept = d.code AND x.salary > 90 "
       "WHERE d.company_nr = 1",
       {"A|1", "A|4", "B|2", "B|3"}},
      {"SELECT d.code :c, COUNT(*) :n FROM exdep010 d, " + both +
           " WHERE x.dept = d.code AND d.company_nr = 1 GROUP BY d.code",
       {"A|3", "B|2"}},
      // A grouping over groups made here (over both companies, or over a
      // join of tables on two drivers).
      {"SELECT COUNT(*) :n, MAX(x.c) :m FROM (SELECT dept, COUNT(*) AS c FROM exemp010 WHERE company_nr IN (1, 2) "
       "GROUP BY dept) x",
       {"2|3"}},
      {"SELECT COUNT(*) :n, MIN(x.c) :m FROM (SELECT e.dept, COUNT(*) AS c FROM exemp010 e, exdep010 d "
       "WHERE e.dept = d.code GROUP BY e.dept) x",
       {"2|2"}},
      // Subqueries over both companies, correlated and not.
      {"SELECT d.code :c FROM exdep010 d WHERE d.company_nr = 1 AND EXISTS (SELECT x.emp FROM " + both +
           " WHERE x.dept = d.code AND x.salary < 150)",
       {"A"}},
      {"SELECT d.code :c, (SELECT MAX(e.emp) FROM exemp010 e WHERE e.company_nr IN (1, 2) AND e.dept = d.code) :m "
       "FROM exdep010 d WHERE d.company_nr = 1",
       {"A|7", "B|3", "C|0"}},
      {"SELECT d.code :c FROM exdep010 d WHERE d.company_nr = 1 AND d.code IN (SELECT e.dept FROM exemp010 e "
       "WHERE e.company_nr IN (1, 2) AND e.salary < 150)",
       {"A"}},
  };
  for (const auto &c : cases) EXPECT_EQ(Sorted(Query(c.text, 1, SQL_PARSE_ANSI)), c.rows) << c.text;
  EXPECT_EQ(Query("SELECT x.emp :e FROM " + both + " ORDER BY 1 DESC", 1, SQL_PARSE_ANSI),
            (Rows{"7", "4", "3", "2", "1"}));
  EXPECT_EQ(Query("SELECT emp FROM exemp010 WHERE company_nr IN (1, 2) AND emp > 1 ORDER BY emp DESC", 1,
                  SQL_PARSE_ANSI),
            (Rows{"7", "4", "3", "2"}));
}

// Intervals reach callback 7 as numbers; a value that its field cannot
// hold fails the fetch with a text that names the column, the value and
// the field.
TEST_P(SqlApiE2E, FetchDeliversIntervalsAndNamesWhatItCannotDeliver) {
  EXPECT_EQ(Query("SELECT opened - opened :d FROM exdep010 WHERE code = 'A'"), (Rows{"0"}));
  EXPECT_EQ(g_host.lastType, SQL_TYPE_INTEGER);
  EXPECT_EQ(Query("SELECT TIMESTAMP '2038-01-19 03:14:08' - TIMESTAMP '2038-01-19 03:14:00' :s FROM exdep010 "
                  "WHERE code = 'A'"),
            (Rows{"8"}));
  EXPECT_EQ(g_host.lastType, SQL_TYPE_REAL);

  QPCStatement *h = Parse("SELECT code, TIMESTAMP '2038-01-19 03:14:08' :x FROM exdep010");
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(sql_exec(h, 1), 0) << g_host.lastError;
  g_host.row.clear();
  EXPECT_EQ(sql_fetch(h), -1);
  EXPECT_EQ(zdb_errno, 205);
  EXPECT_EQ(g_host.row, "A");  // the column before it was delivered
  EXPECT_NE(g_host.lastError.find("SQLState 22003: Column 2 (:x) cannot be delivered: the timestamp "),
            std::string::npos)
      << g_host.lastError;
  EXPECT_NE(g_host.lastError.find("does not fit the 4-byte field of type 8, which holds "), std::string::npos);
}

TEST_P(SqlApiE2E, Subqueries) {
  EXPECT_EQ(Sorted(Query("SELECT emp FROM exemp010 WHERE dept IN "
                         "(SELECT code FROM exdep010 WHERE budget >= 20)")),
            (Rows{"2", "3"}));
  EXPECT_EQ(Query("SELECT code FROM exdep010 d WHERE NOT EXISTS "
                  "(SELECT emp FROM exemp010 e WHERE e.dept = d.code)"),
            (Rows{"C"}));
  EXPECT_EQ(Query("SELECT code, (SELECT MAX(emp) FROM exemp010) :m FROM exdep010 WHERE code = 'A'"),
            (Rows{"A|4"}));
  EXPECT_EQ(Query("SELECT emp FROM exemp010 WHERE salary = (SELECT MAX(salary) FROM exemp010)"),
            (Rows{"4"}));
  // Against rows that are all NULL (an outer join's NULL side) NOT IN is
  // UNKNOWN, never TRUE.
  EXPECT_EQ(Query("SELECT code FROM exdep010 WHERE code NOT IN "
                  "(SELECT d.code FROM exemp010 e LEFT JOIN exdep010 d ON d.status = 77)"),
            (Rows{}));
}

// Blank-padded byte order, for the collations the driver's tables name
// (the statements below compare codes of one width and numbers only).
int PaddedOrder(void *, int la, const void *a, int lb, const void *b) {
  auto const *x = static_cast<const unsigned char *>(a);
  auto const *y = static_cast<const unsigned char *>(b);
  for (int i = 0; i < std::max(la, lb); ++i) {
    int const cx = i < la ? x[i] : ' ', cy = i < lb ? y[i] : ' ';
    if (cx != cy) return cx - cy;
  }
  return 0;
}

// The rows SQLite gives for a statement over the driver's files (two.db
// attached as "two" where it exists), each as the callbacks write it:
// numbers as text, a NULL as the 0 its field holds.
Rows SqliteRows(const std::string &root, const std::string &sql) {
  sqlite3 *db = nullptr;
  Rows rows;
  EXPECT_EQ(sqlite3_open_v2((root + "/main.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  for (const char *name : {"mvtss1", "mvtss2"})
    sqlite3_create_collation_v2(db, name, SQLITE_UTF8, nullptr, PaddedOrder, nullptr);
  if (std::filesystem::exists(root + "/two.db")) {
    std::string const attach = "ATTACH '" + root + "/two.db' AS two";
    EXPECT_EQ(sqlite3_exec(db, attach.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  }
  sqlite3_stmt *stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql << ": " << sqlite3_errmsg(db);
  while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      char buf[64] = "0";
      if (sqlite3_column_type(stmt, i) == SQLITE_INTEGER)
        std::snprintf(buf, sizeof buf, "%lld", sqlite3_column_int64(stmt, i));
      else if (sqlite3_column_type(stmt, i) == SQLITE_FLOAT)
        std::snprintf(buf, sizeof buf, "%g", sqlite3_column_double(stmt, i));
      row += (i > 0 ? "|" : "") + std::string(buf);
    }
    rows.push_back(row);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  std::sort(rows.begin(), rows.end());
  return rows;
}

// Set functions (COUNT, SUM, MIN) over no row, without and with GROUP BY,
// plain and as scalar subqueries, under conditions that read no row of
// the query and leave none (IN, EXISTS and a comparison of a scalar
// subquery, over the departments' driver and the employees', and a
// BETWEEN whose bounds hold nothing), and a BETWEEN of equal bounds that
// keeps a row, in both modes: the rows of SQLite's answer to the same
// statement. The dialect's implicit COUNT(*) > 0 of a query with other set
// functions than COUNT is SQLite's HAVING. In the layout "two" the
// departments' set functions run in their driver and the subqueries over
// the employees in the other.
TEST_P(SqlApiE2E, SetFunctionsOverNoRowAnswerAsSqlite) {
  std::string const layout = GetParam();
  const char *const conditions[] = {
      "-1 IN (SELECT e2.emp FROM {emp} e2)",
      "-1 IN (SELECT d2.budget FROM {dep} d2)",
      "EXISTS (SELECT e2.emp FROM {emp} e2 WHERE e2.emp = -99999)",
      "EXISTS (SELECT d2.code FROM {dep} d2 WHERE d2.budget < 0)",
      "(SELECT COUNT(*) FROM {emp} e2 WHERE e2.emp < 0) > 0",
      "(SELECT MAX(d2.budget) FROM {dep} d2) < 0",
      "NOT (-1 NOT IN (SELECT e2.emp FROM {emp} e2))",
      "d.budget BETWEEN 30 AND 20",
      "d.budget BETWEEN 20 AND 20",
  };
  const char *const statements[] = {
      "SELECT COUNT(*){n} FROM {dep} d WHERE {c}",
      "SELECT COUNT(d.code){n}, COUNT(*){m} FROM {dep} d WHERE {c}",
      "SELECT SUM(d.budget){s}, MIN(d.budget){m}, COUNT(*){n} FROM {dep} d WHERE {c}{having}",
      "SELECT d.budget, COUNT(*){n} FROM {dep} d WHERE {c} GROUP BY d.budget",
      "SELECT COUNT(*){n} FROM {emp} e WHERE (SELECT COUNT(*) FROM {dep} d WHERE d.code = e.drst AND {c}) = 0",
      "SELECT e.emp, (SELECT SUM(d.budget) FROM {dep} d WHERE d.code = e.dept AND {c}){s} FROM {emp} e",
      ("SELECT COUNT(*){n} FROM {emp} e WHERE (SELECT MIN(d.budget) FROM {dep} d WHERE d.code = e.dept AND {c}) "
       "IS NULL"),
      // Over a join of the two tables (across drivers in the layout "two").
      "SELECT COUNT(*){n}, MAX(e.emp){m} FROM {emp} e, {dep} d WHERE e.dept = d.code AND {c}{having}",
      "SELECT d.budget, COUNT(*){n} FROM {dep} d, {emp} e WHERE d.code = e.dnul AND {c} GROUP BY d.budget",
  };
  auto fill = [](std::string text, std::vector<std::pair<std::string, std::string>> const &values) {
    for (auto const &[key, value] : values)
      for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
        text.replace(at, key.size(), value);
    return text;
  };
  std::string const sqliteEmp = layout == "two" ? "two.exemp010001" : "exemp010001";
  for (const char *condition : conditions) {
    for (const char *statement : statements) {
      std::string const shape = fill(statement, {{"{c}", condition}});
      std::string const ours = fill(shape, {{"{n}", " :n"}, {"{m}", " :m"}, {"{s}", " :s"},
                                            {"{having}", ""}, {"{dep}", "exdep010"}, {"{emp}", "exemp010"}});
      Rows const expected = SqliteRows(root_.path(), fill(shape, {{"{n}", ""}, {"{m}", ""}, {"{s}", ""},
                                                                  {"{having}", " HAVING COUNT(*) > 0"},
                                                                  {"{dep}", "exdep010001"}, {"{emp}", sqliteEmp}}));
      EXPECT_EQ(Sorted(Query(ours)), expected) << ours;
      EXPECT_EQ(Sorted(Query(ours, 1, SQL_PARSE_ANSI)), expected) << "ANSI: " << ours;
    }
  }
}

// What a condition evaluates once for an execution (an uncorrelated IN or
// EXISTS, a comparison of a scalar subquery) fails the statement only
// where a row reaches it: over rows that another condition empties the
// statement answers no row, over rows it reaches it fails with the error
// (a division by zero, a scalar subquery of several rows).
TEST_P(SqlApiE2E, AConditionEvaluatedOnceFailsOnlyWhereARowReachesIt) {
  const char *const failing[] = {
      "EXISTS (SELECT e.emp FROM exemp010 e WHERE 1 / (e.emp - e.emp) > 0)",
      "'A' IN (SELECT e.dept FROM exemp010 e WHERE 1 / (e.emp - e.emp) > 0)",
      "(SELECT e.emp FROM exemp010 e) > 0",
      "(SELECT d2.budget FROM exdep010 d2) > 0",
  };
  const int errors[] = {306, 306, 310, 310};
  for (std::size_t i = 0; i < std::size(failing); ++i) {
    for (int flags : {0, static_cast<int>(SQL_PARSE_ANSI)}) {
      std::string const none = std::string("SELECT d.code FROM exdep010 d WHERE d.budget < 0 AND ") + failing[i];
      EXPECT_EQ(Query(none, 1, flags), Rows{}) << none;
      std::string const some = std::string("SELECT d.code FROM exdep010 d WHERE d.budget > 15 AND ") + failing[i];
      EXPECT_EQ(EndError(some, flags), errors[i]) << some << ": " << g_host.lastError;
      // The same over a join of the departments with the employees (on a
      // driver of their own in the layout "two"): no joined row, no error.
      std::string const joined = std::string("SELECT d.code FROM exdep010 d, exemp010 e WHERE e.dept = d.code AND "
                                             "e.emp < 0 AND ") + failing[i];
      EXPECT_EQ(Query(joined, 1, flags), Rows{}) << joined;
    }
  }
  // A joined row that reaches a failing one-table conjunct fails the
  // statement wherever the tables live (department A's budget is 10).
  for (const char *text : {"SELECT e.emp FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND 100 / (d.budget - 10) < 0",
                           "SELECT e.emp FROM exdep010 d, exemp010 e WHERE d.code = e.dnul AND 100 / (e.salary - 100) < 0"}) {
    EXPECT_EQ(EndError(text), 306) << text << ": " << g_host.lastError;
  }
  // A FALSE operand of an AND decides its row before the failing one,
  // wherever the AND runs and whichever operand comes first.
  for (const char *text : {"SELECT emp FROM exemp010 WHERE emp * 1000000000 > 0 AND emp < 3",
                           "SELECT emp FROM exemp010 WHERE emp < 3 AND emp * 1000000000 > 0",
                           "SELECT emp FROM exemp010 e WHERE emp * 1000000000 > 0 AND EXISTS (SELECT d.code FROM "
                           "exdep010 d WHERE d.code = e.dept AND e.emp < 3)",
                           "SELECT emp FROM exemp010 WHERE emp > 2 OR emp * 1000000000 > 0",
                           // Emp 4 was hired a day later: one day past the calendar's end.
                           "SELECT emp FROM exemp010 WHERE hired + 2914056 > hired AND salary < 250",
                           "SELECT emp FROM exemp010 WHERE salary < 250 AND hired + 2914056 > hired"}) {
    Rows const expected = std::string(text).find(" OR ") != std::string::npos ? Rows{"1", "2", "3", "4"}
                                                                            : Rows{"1", "2"};
    EXPECT_EQ(Sorted(Query(text)), expected) << text;
  }
  // An operand that decides an AND or OR spares a failing one nested under
  // AND, OR and NOT, beside a join too; a comparison of a DATE column with
  // an integer constant cannot fail, so that a failing conjunct written
  // before it waits for it; a failing subquery of an IN on a key is filled
  // only for a row that reaches it; constant conditions are decided once.
  struct Decided {
    const char *text;
    Rows rows;
  } const decided[] = {
      {"SELECT emp FROM exemp010 e WHERE e.emp < 3 AND (e.emp < 10 OR 100 / (e.emp - e.emp) > 0)", {"1", "2"}},
      {"SELECT emp FROM exemp010 e WHERE e.emp < 3 AND NOT (e.emp > 10 AND 100 / (e.emp - e.emp) > 0)", {"1", "2"}},
      {"SELECT emp FROM exemp010 e WHERE e.emp < 3 AND ((e.emp > 10 AND 100 / (e.emp - e.emp) > 0) OR e.emp < 10)",
       {"1", "2"}},
      {"SELECT emp FROM exemp010 e WHERE e.emp < 3 AND (e.emp < 10 OR e.dept = (SELECT d.code FROM exdep010 d))",
       {"1", "2"}},
      {"SELECT emp FROM exemp010 e WHERE e.emp < 3 AND ((e.emp > 10 AND 100 / (e.emp - e.emp) > 0) OR e.salary / 10 = "
       "(SELECT MIN(d.budget) FROM exdep010 d))",
       {"1"}},
      {"SELECT emp FROM exemp010 e WHERE e.emp > 1 AND (e.emp < 10 OR e.hired + 2914056 > e.hired)", {"2", "3", "4"}},
      {"SELECT e.emp FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND (d.budget >= 0 OR 100 / (e.emp - e.emp) > 0)",
       {"1", "2", "3", "4"}},
      {"SELECT e.emp FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND NOT (d.budget < 0 AND 1 / (e.emp - e.emp) > 0)",
       {"1", "2", "3", "4"}},
      {"SELECT emp FROM exemp010 e WHERE e.hired + 2914056 > e.hired AND e.hired < 738004", {"1", "2", "3"}},
      {"SELECT emp FROM exemp010 e WHERE e.hired + 2914056 > e.hired AND e.hired BETWEEN 1 AND 738003", {"1", "2", "3"}},
      {"SELECT emp FROM exemp010 e WHERE e.hired + 2914056 > e.hired AND e.hired IN (738001, 738002)", {"1", "2"}},
      {"SELECT emp FROM exemp010 e WHERE e.hired + 2914056 > e.hired AND NOT e.hired = 738004", {"1", "2", "3"}},
      {"SELECT emp FROM exemp010 e WHERE 100 / (e.salary - 400) > 0 AND e.hired < 738004", {}},
      {"SELECT emp FROM exemp010 e WHERE e.emp IN (SELECT e2.salary FROM exemp010 e2 WHERE 1 / (e2.emp - e2.emp) > 0) "
       "AND e.emp < -5",
       {}},
      {"SELECT emp FROM exemp010 e WHERE e.emp IN (SELECT (SELECT d.budget FROM exdep010 d) FROM exemp010 e2) AND "
       "e.emp < -5",
       {}},
      {"SELECT emp FROM exemp010 e WHERE e.emp IN (SELECT e2.salary * 100000000 FROM exemp010 e2) AND e.emp < -5", {}},
      {"SELECT e.emp FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND 1 + 1 = 3", {}},
      {"SELECT e.emp FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND TRIM(TRAILING FROM 'Dora') > 'H8'", {}},
      {"SELECT e.emp FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND DATE '2006-11-17' + 365 = DATE "
       "'2003-10-01'",
       {}},
      {"SELECT e.emp FROM exemp010 e, exdep010 d WHERE e.dept = d.code AND e.emp < 0 AND 2147483647 + 1 > 0", {}},
      {"SELECT e.emp FROM exemp010 e WHERE e.emp < 3 AND EXISTS (SELECT d.code FROM exdep010 d WHERE d.code = e.dept "
       "AND TRIM(TRAILING FROM e.name) <> d.name AND e.name & d.name <> 'x')",
       {"1", "2"}},
  };
  for (const Decided &d : decided) EXPECT_EQ(Sorted(Query(d.text)), d.rows) << d.text;
  // A failing term of a correlated subquery that reads only the enclosing
  // row (emp * 600000000 leaves 32 bits for employee 4 only, emp *
  // 1000000000 for 3 and 4) spares the subquery where it is certainly
  // TRUE, is FALSE where it is certainly so, and fails only for an employee
  // whose subquery has a row that reaches it: employee 4's dnul is NULL.
  const Decided outer[] = {
      {"SELECT e.emp FROM exemp010 e WHERE e.dept IN (SELECT d.code FROM exdep010 d WHERE d.code = e.dnul AND "
       "e.emp * 600000000 > 0)",
       {"1", "2", "3"}},
      {"SELECT e.emp FROM exemp010 e WHERE EXISTS (SELECT d.code FROM exdep010 d WHERE d.code = e.dnul AND "
       "e.emp * 600000000 > 0 AND d.budget < 15)",
       {"1"}},
      {"SELECT e.emp FROM exemp010 e WHERE NOT EXISTS (SELECT d.code FROM exdep010 d WHERE d.code = e.dnul AND "
       "e.emp * 600000000 > 1000000000)",
       {"1", "4"}},
      {"SELECT e.emp FROM exemp010 e WHERE e.emp < 4 AND e.dept IN (SELECT d.code FROM exdep010 d WHERE "
       "e.emp * 600000000 < 0)",
       {}},
      {"SELECT e.emp FROM exemp010 e WHERE e.emp < 4 AND e.dept IN (SELECT d.code FROM exdep010 d WHERE "
       "e.emp * 600000000 > 0 AND d.budget > 15)",
       {"2", "3"}},
      {"SELECT e.emp FROM exemp010 e WHERE e.dept IN (SELECT d.code FROM exdep010 d WHERE d.budget < 0 AND "
       "e.emp * 1000000000 > 0)",
       {}},
  };
  for (const Decided &d : outer) {
    EXPECT_EQ(Sorted(Query(d.text)), d.rows) << d.text;
    EXPECT_EQ(Sorted(Query(d.text, 1, SQL_PARSE_ANSI)), d.rows) << "ANSI: " << d.text;
  }
  for (const char *text : {"SELECT e.emp FROM exemp010 e WHERE e.dept IN (SELECT d.code FROM exdep010 d WHERE "
                           "d.code = e.dept AND e.emp * 600000000 > 0)",
                           "SELECT e.emp FROM exemp010 e WHERE EXISTS (SELECT d.code FROM exdep010 d WHERE "
                           "e.emp * 600000000 > 0)"}) {
    EXPECT_EQ(EndError(text), 205) << text << ": " << g_host.lastError;  // "22003"
  }
}

// Statement shapes that must run to their last row wherever they run:
// nested IN subqueries, long IN lists, OR chains and sums, and a join
// whose ON holds nested scalar subqueries and an EXISTS beside a WHERE
// EXISTS and a grouping.
TEST_P(SqlApiE2E, LongAndDeepStatementsRunToTheEnd) {
  std::string nested = "SELECT emp FROM exemp010 WHERE salary > 150";
  for (int i = 0; i < 8; ++i) nested = "SELECT emp FROM exemp010 WHERE emp IN (" + nested + ")";
  EXPECT_EQ(Sorted(Query("SELECT emp FROM exemp010 WHERE emp IN (" + nested + ")")), (Rows{"2", "3", "4"}));
  std::string list, chain, sum = "emp", names = "name", deep = "emp";
  for (int i = 0; i < 10000; ++i) {
    list += (i ? ", " : "") + std::to_string(i % 2 == 0 ? 1000 + i : 3);
    chain += (i ? " OR " : "") + std::string("emp = ") + std::to_string(i == 9999 ? 2 : 1000 + i);
    if (i == 9999) continue;
    sum += " + 1";
    names += " & ''";
  }
  for (int i = 0; i < 1001; ++i) deep += " + (1";
  deep += std::string(1001, ')');
  EXPECT_EQ(Query("SELECT emp FROM exemp010 WHERE emp IN (" + list + ")"), (Rows{"3"}));
  EXPECT_EQ(Query("SELECT emp FROM exemp010 WHERE " + chain), (Rows{"2"}));
  // A chain of operators is one level deep however long, and runs here (it
  // is too long to ship); operands nested on the right still count a level
  // each and are refused past the limit.
  EXPECT_EQ(Query("SELECT " + sum + " :s FROM exemp010 WHERE emp = 1"), (Rows{"10000"}));
  EXPECT_EQ(Query("SELECT name FROM exemp010 WHERE " + sum + " - emp * 2 * (emp - 1) = 9990 AND " + names + " = 'Cid'"),
            (Rows{"Cid"}));
  g_host.lastError.clear();
  EXPECT_EQ(sql_parse(("SELECT " + deep + " :s FROM exemp010").c_str(), static_cast<unsigned long>(trans_), 0),
            nullptr);
  EXPECT_NE(g_host.lastError.find("42I59"), std::string::npos) << g_host.lastError;
  EXPECT_EQ(Query("SELECT d.code, COUNT(*) :n FROM exemp010 e INNER JOIN exdep010 d ON e.dept = d.code "
                  "AND e.salary >= (SELECT MIN(salary) FROM exemp010 x WHERE x.salary >= "
                  "(SELECT MIN(salary) FROM exemp010 y WHERE y.emp > 0) AND EXISTS "
                  "(SELECT code FROM exdep010 z WHERE z.code = x.dept)) "
                  "WHERE EXISTS (SELECT emp FROM exemp010 w WHERE w.dept = d.code) "
                  "AND d.budget < (SELECT MAX(budget) + 1 FROM exdep010) GROUP BY d.code ORDER BY d.code"),
            (Rows{"A|2", "B|2"}));
}

// `first` followed by n - 1 times `op` and `term`.
std::string Chain(std::string const &first, std::string const &op, std::string const &term, int n) {
  std::string text = first;
  text.reserve(static_cast<std::size_t>(n) * (op.size() + term.size()) + first.size());
  for (int i = 1; i < n; ++i) text += op + term;
  return text;
}

// A million terms: a chain of "+", AND or OR is one level deep and is
// prepared, and a syntax error after it is reported as such. Run, a
// condition reaches the driver in nested lists of countable length (shown
// with 70,000 terms, beyond a 16-bit count, to keep the test quick).
TEST_P(SqlApiE2E, MillionTermStatementsRunOrFailCleanly) {
  auto const &chain = Chain;
  int const million = 1000000;
  std::string const sum = chain("1", " + ", "1", million);
  g_host.lastError.clear();
  EXPECT_EQ(sql_parse(("SELECT " + sum + " :x FROM FROM exdep010").c_str(), static_cast<unsigned long>(trans_), 0),
            nullptr);
  EXPECT_EQ(zdb_errno, SQL_ERR_PARSE);
  EXPECT_NE(g_host.lastError.find("42I00"), std::string::npos) << g_host.lastError;
  // A chain of up to 64 operators is shipped, the driver reading and
  // evaluating it; a longer one runs here.
  EXPECT_EQ(Query("SELECT " + chain("1", " + ", "1", 65) + " :x FROM exdep010 WHERE code = 'A'"), (Rows{"65"}));
  EXPECT_EQ(Query("SELECT code FROM exdep010 WHERE budget = " + chain("1", " + ", "1", 990) + " - 980"), (Rows{"A"}));
  // The prepare does not depend on where the table lives: once is enough.
  if (std::string(GetParam()) == "one") {
    for (std::string const &text :
         {"SELECT code FROM exdep010 WHERE " + chain("budget = 20", " OR ", "budget = 0", million),
          "SELECT code FROM exdep010 WHERE " + chain("code <> 'B'", " AND ", "budget <> 0", million),
          "SELECT " + sum + " :x FROM exdep010"}) {
      Close(Parse(text));
    }
  }
  EXPECT_EQ(Query("SELECT code FROM exdep010 WHERE " + chain("budget = 20", " OR ", "budget = 0", 70000)), (Rows{"B"}));
  EXPECT_EQ(Sorted(Query("SELECT code FROM exdep010 WHERE " + chain("code <> 'B'", " AND ", "budget <> 0", 70000))),
            (Rows{"A", "C"}));
  // So does an IN list of that length, as IN predicates over its parts.
  std::string const values = chain("20", ", ", "0", 70000);
  EXPECT_EQ(Query("SELECT code FROM exdep010 WHERE budget IN (" + values + ")"), (Rows{"B"}));
  EXPECT_EQ(Sorted(Query("SELECT code FROM exdep010 WHERE budget NOT IN (" + values + ")")), (Rows{"A", "C"}));
}

// Lists of 33,000 items, beyond a 16-bit count, where a description has no
// nested form: a select list (also of a subquery), ORDER BY, GROUP BY, set
// functions and a row value run here over what the driver delivers (in one
// layout: where the tables live does not change this).
TEST_P(SqlApiE2E, ListsBeyondASixteenBitCountRunHereOrAreRefused) {
  if (std::string(GetParam()) != "one") return;
  auto const &chain = Chain;
  int const items = 33000;
  auto numbers = [&](int from) {
    std::string text = std::to_string(from);
    for (int i = from + 1; i <= items; ++i) text += ", " + std::to_string(i);
    return text;
  };
  auto row = [&](std::string const &first, std::string const &value) { return chain(first, "|", value, items); };
  auto expectRows = [&](std::string const &text, Rows const &expected) {
    Rows const rows = Query(text);
    EXPECT_TRUE(rows == expected) << rows.size() << " rows, the first " << (rows.empty() ? "" : rows[0].substr(0, 200));
  };
  expectRows("SELECT " + chain("budget + 1 :x", ", ", "budget + 1 :x", items) + " FROM exdep010 ORDER BY 1 DESC, " +
                 numbers(2),
             {row("31", "31"), row("21", "21"), row("11", "11")});
  expectRows("SELECT code, " + chain("MAX(budget) :m", ", ", "MAX(budget) :m", items) + " FROM exdep010 GROUP BY " +
                 chain("code", ", ", "code", items) + " ORDER BY 1",
             {"A|" + row("10", "10"), "B|" + row("20", "20"), "C|" + row("30", "30")});
  std::string const rowValue = "{" + chain("budget", ", ", "budget", items) + "} = {" + chain("20", ", ", "20", items) + "}";
  expectRows("SELECT code FROM exdep010 WHERE " + rowValue, {"B"});
  expectRows("SELECT code FROM exdep010 d WHERE EXISTS (SELECT " + chain("budget", ", ", "budget", items) +
                 " FROM exdep010 x WHERE x.budget = d.budget + 10) ORDER BY code",
             {"A", "B"});
  // An UPDATE or DELETE runs in the driver as a whole: such a condition,
  // as many SET items, or a condition too deep to ship are refused.
  for (auto const &[text, message] :
       {std::pair<std::string, std::string>{"UPDATE exdep010 SET name = 'Z' WHERE " + rowValue,
                                            "QP060: Search condition holds a list of more than 32767 items"},
        {"UPDATE exdep010 SET " + chain("name = 'Z'", ", ", "name = 'Z'", items) + " WHERE code = 'B'",
         "QP060: UPDATE of more than 32767 SET items"},
        {"UPDATE exdep010 SET name = 'Z' WHERE budget = " + chain("1", " + ", "1", 65) + " - 45",
         "QP060: Search condition holds more than 64 arithmetic operators"}}) {
    g_host.lastError.clear();
    QPCStatement *h = sql_parse(text.c_str(), static_cast<unsigned long>(trans_), 0);
    EXPECT_TRUE(h == nullptr || sql_exec(h, 1) != 0);
    if (h != nullptr) sql_close(h);
    EXPECT_NE(g_host.lastError.find(message), std::string::npos) << g_host.lastError;
  }
  EXPECT_EQ(Query("SELECT name FROM exdep010 WHERE code = 'B'"), (Rows{"Beta"}));
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqlApiE2E, testing::Values("one", "two", "split"),
                         [](const auto &info) { return std::string(info.param); });

}  // namespace
}  // namespace molvane::test::sql_api
