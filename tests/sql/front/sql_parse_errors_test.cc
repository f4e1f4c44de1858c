// Every error of the grammar and the parse entry, provoked once, with its
// SQLSTATE, message and line.
#include <string>

#include "parse_test_env.h"
#include "sql/front/parse_mode.h"

namespace molvane::test {
namespace {

constexpr int kAnsi = parsemode::kAnsi;

struct ErrorCase {
  char const *text;
  int mode;
  char const *state;
  char const *message;
  int line;
};

class ParseErrors : public ParseTest, public testing::WithParamInterface<ErrorCase> {};

TEST_P(ParseErrors, RaisesStateMessageAndLine) {
  ErrorCase const &c = GetParam();
  ExpectError(c.text, c.mode, c.state, c.message, c.line);
}

ErrorCase const kErrors[] = {
    // Syntax: the token at hand, or the end of the text.
    {"SELECT emp\nFROM exemp010 e e2", 0, "42I00", "Unexpected token 'e2'", 2},
    {"SELECT emp FROM exemp010;", 0, "42I00",
     "Unexpected token ';': a statement ends with its text, without ';'; leave it out (sql_parse takes one "
     "statement)", 1},
    {"SELECT -emp FROM exemp010", 0, "42I00", "Unexpected token 'emp'", 1},
    {"SELECT emp FROM exemp010 WHERE emp = 1 = 2", 0, "42I00", "Unexpected token '='", 1},
    {"SELECT emp FROM exemp010 WHERE emp REFERS TO exdep010 ON", 0, "42I00", "Unexpected token 'ON'", 1},
    {"SELECT emp FROM exemp010\nWHERE", 0, "42I46", "Unexpected end of statement", 2},
    // A SET value that computes, and the statements left to the record API,
    // say what is allowed instead.
    {"UPDATE exemp010 SET emp = emp + 1", 0, "42I00",
     "Unexpected token 'emp' in the value of column 'emp': only constants and host variables may be "
     "assigned in SET; compute the value in the host and bind it to a host variable (SET col = :value)", 1},
    {"UPDATE exemp010 SET name = 'a', emp = :p\n * 2 WHERE emp = 1 + 1", 0, "42I00",
     "Unexpected token '*' in the value of column 'emp': only constants and host variables may be "
     "assigned in SET; compute the value in the host and bind it to a host variable (SET col = :value)", 2},
    {"UPDATE exemp010 SET emp = 1 WHERE emp = emp + 1 +", 0, "42I46", "Unexpected end of statement", 1},
    {"insert INTO exemp010 VALUES (1)", 0, "42I00",
     "insert is not supported: SQL here only reads (SELECT), updates (UPDATE) and deletes (DELETE) rows; "
     "use the record API (zdb_exec_row, zdb_exec_table) to insert rows and to create, drop or alter tables", 1},
    {"DROP TABLE exemp010", 0, "42I00",
     "DROP is not supported: SQL here only reads (SELECT), updates (UPDATE) and deletes (DELETE) rows; "
     "use the record API (zdb_exec_row, zdb_exec_table) to insert rows and to create, drop or alter tables", 1},
    {"", 0, "42I46", "Unexpected end of statement", 1},
    // The words of other dialects get this one's forms: LIMIT where it
    // stands, or after a table that took it for its alias, and FOR UPDATE
    // at the end, in a SELECT or a SET value.
    {"SELECT emp FROM exemp010 ORDER BY emp\n limit 5", 0, "42I00",
     "Unexpected token 'limit': this SQL has no LIMIT; a SELECT limits its rows with AS SET WITH n ROWS after "
     "its ORDER BY (SELECT emp FROM exemp010 ORDER BY emp AS SET WITH 10 ROWS; n may be a host variable), or "
     "the host stops fetching and calls sql_break", 2},
    {"SELECT emp FROM exemp010 WHERE emp > 3 LIMIT :n", 0, "42I00",
     "Unexpected token 'LIMIT': this SQL has no LIMIT; a SELECT limits its rows with AS SET WITH n ROWS after "
     "its ORDER BY (SELECT emp FROM exemp010 ORDER BY emp AS SET WITH 10 ROWS; n may be a host variable), or "
     "the host stops fetching and calls sql_break", 1},
    {"SELECT emp FROM exemp010 LIMIT :n", kAnsi, "42I00",
     "Unexpected token ':n' after LIMIT: this SQL has no LIMIT; a SELECT limits its rows with AS SET WITH n "
     "ROWS after its ORDER BY (SELECT emp FROM exemp010 ORDER BY emp AS SET WITH 10 ROWS; n may be a host "
     "variable), or the host stops fetching and calls sql_break", 1},
    {"SELECT emp FROM exemp010 WHERE emp = 1\nFOR UPDATE", 0, "42I00",
     "Unexpected token 'FOR': FOR UPDATE stands right after SELECT (SELECT FOR UPDATE emp, name FROM exemp010 "
     "...: every table of the query is read for update) or after a table of the FROM clause (FROM exemp010 e "
     "FOR UPDATE, exdep010 d), not at the end of the statement", 2},
    {"SELECT emp FROM exemp010 ORDER BY emp for update", 0, "42I00",
     "Unexpected token 'for': FOR UPDATE stands right after SELECT (SELECT FOR UPDATE emp, name FROM exemp010 "
     "...: every table of the query is read for update) or after a table of the FROM clause (FROM exemp010 e "
     "FOR UPDATE, exdep010 d), not at the end of the statement", 1},
    {"UPDATE exemp010 SET name = 'a' LIMIT 1", 0, "42I00",
     "Unexpected token 'LIMIT': this SQL has no LIMIT; a SELECT limits its rows with AS SET WITH n ROWS after "
     "its ORDER BY (SELECT emp FROM exemp010 ORDER BY emp AS SET WITH 10 ROWS; n may be a host variable), or "
     "the host stops fetching and calls sql_break", 1},
    // A company-number restriction belongs to the WHERE clause; in an ON
    // condition it says where it goes, in either mode and with a host
    // variable too.
    {"SELECT e.emp FROM exemp010 e JOIN exdep010 d ON e.dept = d.code\n AND d.company_nr = 1", kAnsi, "42I00",
     "Company-number restriction 'd.company_nr = ...' in an ON condition: restrict a table's company in the "
     "WHERE clause (WHERE d.company_nr = 1; in ANSI mode every table's or none), or join two tables' "
     "company-number columns in the ON condition (ANSI mode: ON a.company_nr = b.company_nr)", 2},
    {"SELECT e.emp FROM exemp010 e JOIN exdep010 d ON _compnr = :c AND e.dept = d.code", 0, "42I00",
     "Company-number restriction '_compnr = ...' in an ON condition: restrict a table's company in the "
     "WHERE clause (WHERE _compnr = 1; in ANSI mode every table's or none), or join two tables' "
     "company-number columns in the ON condition (ANSI mode: ON a.company_nr = b.company_nr)", 1},
    // A table whose alias is "limit" is read as such; only the token after
    // it that fails names the LIMIT, and a later closing ";" is named as such.
    {"SELECT limit.emp FROM exemp010 limit WHERE limit.emp = 1 ;", 0, "42I00",
     "Unexpected token ';': a statement ends with its text, without ';'; leave it out (sql_parse takes one "
     "statement)", 1},
    // TOP, FETCH FIRST and OFFSET, where they stand or after the alias or
    // column they were taken for, get the forms of this dialect.
    {"SELECT TOP 10 emp FROM exemp010", 0, "42I00",
     "Unexpected token '10' after TOP: this SQL has no TOP; a SELECT limits its rows with AS SET WITH n "
     "ROWS after its ORDER BY (SELECT emp FROM exemp010 ORDER BY emp AS SET WITH 10 ROWS; n may be a host "
     "variable), or the host stops fetching and calls sql_break", 1},
    {"SELECT emp FROM exemp010 ORDER BY emp\n FETCH FIRST 10 ROWS ONLY", 0, "42I00",
     "Unexpected token 'FETCH': this SQL has no FETCH FIRST; a SELECT limits its rows with AS SET WITH n "
     "ROWS after its ORDER BY (SELECT emp FROM exemp010 ORDER BY emp AS SET WITH 10 ROWS; n may be a host "
     "variable), or the host stops fetching and calls sql_break", 2},
    {"SELECT emp FROM exemp010 fetch first 5 rows only", kAnsi, "42I00",
     "Unexpected token 'first' after fetch: this SQL has no FETCH FIRST; a SELECT limits its rows with AS "
     "SET WITH n ROWS after its ORDER BY (SELECT emp FROM exemp010 ORDER BY emp AS SET WITH 10 ROWS; n may "
     "be a host variable), or the host stops fetching and calls sql_break", 1},
    {"SELECT emp FROM exemp010 ORDER BY emp OFFSET 10 ROWS", 0, "42I00",
     "Unexpected token 'OFFSET': this SQL has no OFFSET; to read on after a row, restrict by the sort key "
     "and limit the rows (SELECT emp FROM exemp010 WHERE emp > :last ORDER BY emp AS SET WITH 10 ROWS), or "
     "fetch past the rows to skip", 1},
    {"SELECT emp FROM exemp010 offset 5", 0, "42I00",
     "Unexpected token '5' after offset: this SQL has no OFFSET; to read on after a row, restrict by the "
     "sort key and limit the rows (SELECT emp FROM exemp010 WHERE emp > :last ORDER BY emp AS SET WITH 10 "
     "ROWS), or fetch past the rows to skip", 1},
    {"UPDATE exemp010 SET name = 'a' WHERE emp = 1;", 0, "42I00",
     "Unexpected token ';': a statement ends with its text, without ';'; leave it out (sql_parse takes one "
     "statement)", 1},
    // FROM clause.
    {"SELECT emp FROM exemp010,\n exemp010", 0, "42I01", "Duplicate table name or alias name 'exemp010'", 2},
    {"SELECT emp FROM exemp010 a, exdep010 a", 0, "42I01", "Duplicate table name or alias name 'a'", 1},
    {"SELECT a FROM\n nosuch01", 0, "42I04", "Unknown table 'nosuch01'", 2},
    // Table names and aliases are lowered as identifiers are, and like
    // them hold printable ASCII only.
    {"SELECT emp FROM exemp010\n \"E\x9BXYZ\"", kAnsi, "42I00", "Illegal character 155 in identifier", 2},
    {"SELECT 1", 0, "42I60", "FROM clause not found where expected.", 1},
    {"SELECT 1\nWHERE 1 = 1", 0, "42I60", "FROM clause not found where expected. Found 'WHERE' instead.", 2},
    {"SELECT 1", parsemode::kFromOptional, "42I60", "FROM clause is missing", 1},
    {"SELECT emp FROM exemp010 WHERE emp IN\n (SELECT emp FROM exemp010 FOR UPDATE)", 0, "42I56",
     "Subquery table 'exemp010' selected for update", 2},
    {"SELECT * FROM (SELECT FOR UPDATE emp FROM exemp010) d", 0, "42I56", "Subquery table selected for update", 1},
    {"SELECT emp FROM exemp010 WHERE EXISTS\n (SELECT FOR UPDATE emp FROM exemp010)", 0, "42I56",
     "Subquery table selected for update", 2},
    {"SELECT COUNT(*) FROM\n exemp010 FOR UPDATE", 0, "42I57", "Table 'exemp010' selected for update in grouped query",
     2},
    {"SELECT emp FROM exemp010 UNION ALL SELECT FOR UPDATE emp FROM exemp010", 0, "42I72",
     "A query in a UNION cannot be a FOR UPDATE query", 1},
    // Literals.
    {"SELECT 1.0e999 FROM exemp010", 0, "42I05", "The value of the numeric literal '1.0e999' is out of range", 1},
    {"SELECT DATE '2001-02-30' FROM exemp010", 0, "42I24", "Date string '2001-02-30' does not represent a valid date",
     1},
    {"SELECT DATE '99999999999-01-01' FROM exemp010", 0, "42I24",
     "Date string '99999999999-01-01' does not represent a valid date", 1},
    {"SELECT DATE.TO.NUM(2001, 13, 1) FROM exemp010", 0, "42I24", "DATE.TO.NUM(2001,13,1) does not represent a valid date",
     1},
    {"SELECT DATE '2001/02/03' FROM exemp010", 0, "42I76", "Invalid date string '2001/02/03'", 1},
    {"SELECT DATE '2001-02-03 ' FROM exemp010", 0, "42I76", "Invalid date string '2001-02-03 '", 1},
    {"SELECT TIMESTAMP '2001-01-01 24:00:00' FROM exemp010", 0, "42I77",
     "Timestamp string '2001-01-01 24:00:00' does not represent a valid timestamp", 1},
    {"SELECT TIMESTAMP '2001-01-01 00:00:99999999999' FROM exemp010", 0, "42I77",
     "Timestamp string '2001-01-01 00:00:99999999999' does not represent a valid timestamp", 1},
    {"SELECT TIMESTAMP '2001-01-01T00:00:00' FROM exemp010", 0, "42I78",
     "Invalid timestamp string '2001-01-01T00:00:00'", 1},
    {"SELECT TIMESTAMP '1960-01-01 00:00:00' FROM exemp010", 0, "22501",
     "Timestamp '1960-01-01 00:00:00' is out of range. Its UTC value should be at least 1970-1-1 0:0:0", 1},
    {"UPDATE exemp010 SET status = exstatus.nosuch", 0, "42I28", "Unknown enum value 'exstatus.nosuch'", 1},
    // Predicates over a row of several values.
    {"SELECT emp FROM exemp010 WHERE\n {emp, name} LIKE 'x'", 0, "42I08", "Combined expression in LIKE predicate", 2},
    {"SELECT emp FROM exemp010 WHERE {emp, name} IN (1)", 0, "42I26", "Combined expression in IN predicate", 1},
    {"SELECT emp FROM exemp010 WHERE {emp, name} NOT IN (SELECT emp FROM exemp010)", 0, "42I26",
     "Combined expression in IN predicate", 1},
    {"SELECT emp FROM exemp010 WHERE {emp, name} IS NULL", 0, "42I81", "Row value constructor in IS NULL predicate", 1},
    {"SELECT emp FROM exemp010 WHERE dept REFERS TO exdep010 PATH\n dnul", 0, "42I14",
     "Invalid reference path element 'dnul'", 2},
    // HAVING, DELETE and UPDATE.
    {"SELECT dept FROM exemp010 GROUP BY dept HAVING\n _compnr = 1", 0, "42I32", "Compnr specification in HAVING clause",
     2},
    {"SELECT dept FROM exemp010 GROUP BY dept HAVING dept REFERS TO exdep010", 0, "42I33",
     "REFERS TO predicate in HAVING clause", 1},
    {"DELETE FROM exemp010 WHERE emp = 1 AND\n dept REFERS TO exdep010", 0, "42I61",
     "REFERS TO predicate in WHERE clause of DELETE statement", 2},
    {"UPDATE exemp010 SET emp = 1 WHERE dept REFERS TO exdep010", 0, "42I62",
     "REFERS TO predicate in WHERE clause of UPDATE statement", 1},
    // Company numbers.
    {"SELECT emp FROM exemp010 WHERE _compnr = 1000", 0, "42I79", "Invalid company number 1000", 1},
    {"SELECT emp FROM exemp010 WHERE company_nr IN (1,\n 1000)", kAnsi, "42I79", "Invalid company number 1000", 2},
    {"SELECT emp FROM exemp010 WHERE company_nr IN (1, 2) AND\n company_nr IN (3)", kAnsi, "42I89",
     "Multiple _compnr IN predicates defined within a query specification", 2},
    // Parse-mode checks.
    {"SELECT emp FROM exemp010 WHERE _compnr IN (1, 2)", 0, "42I82",
     "_compnr IN predicate is only allowed in parse mode 'ansi'", 1},
    {"SELECT emp FROM exemp010 e, exdep010 d WHERE e._compnr = d._compnr", 0, "42I82",
     "_compnr join predicate is only allowed in parse mode 'ansi'", 1},
    {"SELECT emp FROM exemp010 WHERE dept REFERS TO exdep010", kAnsi, "42I82",
     "REFERS TO predicate is not allowed in parse mode 'ansi'.", 1},
    {"SELECT emp FROM exemp010 WHERE name LIKE 'x%' ESCAPE '!'", 0, "42I82",
     "ANSI syntax for LIKE predicate requires parse mode 'ansi'.", 1},
    {"SELECT emp FROM exemp010 WHERE name ALIKE 'x'", kAnsi, "42I82",
     "ALIKE predicate is not allowed in parse mode 'ansi'.", 1},
    {"SELECT emp FROM exemp010 WHERE name LIKE 'x%' ESCAPE 'ab'", kAnsi, "22019", "Invalid escape character 'ab'", 1},
    // CASE.
    {"SELECT CASE emp WHEN 1 THEN NULL END FROM exemp010", 0, "42I85",
     "At least one of the result expressions of a CASE expression must specify a value expression", 1},
    {"SELECT CASE WHEN emp = 1 THEN 2 ELSE 3 END FROM exemp010", 0, "42I85", "The Searched case is not supported", 1},
    // AS SET.
    {"SELECT emp FROM exemp010 AS SET WITH 0 ROWS", 0, "QP050", "Invalid maximum rows value: 0", 1},
    // Hints.
    {"SELECT emp FROM exemp010 HINT ALL ROWS AND FIRST ROWS", 0, "42I34", "Multiple row mode hints specified", 1},
    {"SELECT emp FROM exemp010 HINT ARRAY FETCHING AND NO ARRAY FETCHING", 0, "42I35",
     "Multiple array fetching hints specified", 1},
    {"SELECT emp FROM exemp010 HINT ARRAY SIZE 2 AND ARRAY SIZE 3", 0, "42I36", "Multiple array size hints specified", 1},
    {"SELECT emp FROM exemp010 HINT ARRAY SIZE 0", 0, "42I37",
     "Invalid array size 0. Size must be greater than or equal to 1", 1},
    {"SELECT emp FROM exemp010 HINT BUFFER 2 ROWS AND BUFFER 3 ROWS", 0, "42I38", "Multiple buffer size hints specified",
     1},
    {"SELECT emp FROM exemp010 SUBHINT BUFFER 0 ROWS", 0, "42I39",
     "Invalid buffer size 0. Size must be greater than or equal to 1", 1},
    {"SELECT emp FROM exemp010 HINT 'a' AND 'b'", 0, "42I40", "Multiple string hints specified", 1},
    {"SELECT emp FROM exemp010 HINT ORDERED AND\n ORDERED", 0, "42I41", "Multiple ordered hints specified", 2},
    {"SELECT emp FROM exemp010 HINT NO HINTS AND NO HINTS", 0, "42I42", "Multiple 'no hints' hints specified", 1},
    {"SELECT * FROM exemp010 HINT USE INDEX 1, 2, 3, 4,\n 5 ON exemp010", 0, "42I43",
     "Maximum number of index hints per table (4) exceeded", 2},
    {"SELECT * FROM exemp010 HINT USE INDEX 9 ON exemp010", 0, "42I44", "Invalid index number 9 for table 'exemp010'",
     0},
    {"SELECT * FROM exemp010 e HINT\n USE INDEX 1, 257 ON e", 0, "42I44", "Invalid index number 257 for table 'e'", 2},
    {"SELECT * FROM exemp010 HINT USE INDEX 1 ON exemp010 AND USE INDEX 2 ON exemp010", 0, "42I45",
     "Multiple index hints specified on table 'exemp010'", 0},
    {"SELECT * FROM exemp010 HINT USE INDEX 1 ON\n nosuch", 0, "42I04", "Unknown table 'nosuch'", 2},
    {"SELECT emp FROM exemp010 UNION ALL SELECT emp FROM exemp010 HINT USE INDEX 1 ON exemp010", 0, "42I76",
     "Index hint specified on UNION query", 1},
};

INSTANTIATE_TEST_SUITE_P(Grammar, ParseErrors, testing::ValuesIn(kErrors));

}  // namespace
}  // namespace molvane::test
