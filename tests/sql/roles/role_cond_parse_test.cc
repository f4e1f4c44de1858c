// The role-condition language: tokens, the grammar's precedence and the
// nodes it builds (as their trace), literal ranges, the errors of the
// language, and a scanner and parser that are ready for the next text after
// any failure, also when memory runs out.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/mal.h"
#include "role_test_support.h"
#include "sql/roles/role_cond_parse.h"
#include "sql/roles/role_cond_tokens.h"
#include "sql/validate/vtsc_comparison.h"
#include "sql/validate/vtsc_constants.h"
#include "sql/validate/vtsc_row_value.h"
// The allocation-failure switch of the statement tests replaces operator new
// in this binary as well.
#include "sql/statement/alloc_failure.cc"

// The generated scanner's teardown: frees its buffers, so that the next
// scan builds them again.
int sql_scyylex_destroy(void);

namespace molvane::test {
namespace {

ColumnsTable const &Table() {
  static ColumnsTable const table("tctab001", {{"a", SQL_INTEGER},
                                               {"b", SQL_INTEGER},
                                               {"c", SQL_INTEGER},
                                               {"r", SQL_REAL},
                                               {"s", SQL_STRING},
                                               {"t", SQL_STRING},
                                               {"andx", SQL_INTEGER},
                                               {"or.", SQL_INTEGER},
                                               {"v$", SQL_INTEGER},
                                               {"x_1.y", SQL_INTEGER}});
  return table;
}

using Cond = std::unique_ptr<SQLVTSCSearchCond>;

Cond Parse(char const *text) { return Cond(SQLParseSC(text, &Table())); }

std::string Traced(char const *text) {
  Cond c = Parse(text);
  return c ? LogText(c.get()) : "(null)";
}

// ---- Tokens ----

struct Token {
  int code;
  std::string text;
};

std::vector<Token> Scan(char const *text) {
  sql_scyySetLexBuffer(text);
  std::vector<Token> tokens;
  for (int code = sql_scyylex(); code != sctoken::kEnd; code = sql_scyylex()) {
    tokens.push_back({code, sql_scyyGetToken()});
  }
  return tokens;
}

std::string Show(std::vector<Token> const &tokens) {
  std::string out;
  for (Token const &t : tokens) out += std::to_string(t.code) + ":" + t.text + " ";
  return out;
}

TEST(RoleCondScanner, CutsTheTextIntoTokens) {
  using namespace sctoken;
  struct {
    char const *text;
    std::vector<Token> expected;
  } const cases[] = {
      // Keywords in any case; longer names win over them.
      {"and AND And or OR andx or. ORx", {{kAnd, "and"}, {kAnd, "AND"}, {kAnd, "And"}, {kOr, "or"},
                                          {kOr, "OR"}, {kIdentifier, "andx"}, {kIdentifier, "or."},
                                          {kIdentifier, "ORx"}}},
      {"v$ _x x_1.y a$b", {{kIdentifier, "v$"}, {kIdentifier, "_x"}, {kIdentifier, "x_1.y"},
                           {kIdentifier, "a$"}, {kIdentifier, "b"}}},
      // An integer followed by E is an integer and a name.
      {"1e3 12 007", {{kInteger, "1"}, {kIdentifier, "e3"}, {kInteger, "12"}, {kInteger, "007"}}},
      {"1.5e3 .5 2. 1.5E+2 3.e-1", {{kReal, "1.5e3"}, {kReal, ".5"}, {kReal, "2."}, {kReal, "1.5E+2"},
                                    {kReal, "3.e-1"}}},
      {"= <> != < <= > >=", {{kEqual, "="}, {kNotEqual, "<>"}, {kNotEqual, "!="}, {kLess, "<"},
                             {kLessEqual, "<="}, {kGreater, ">"}, {kGreaterEqual, ">="}}},
      {"+-*/\\&()", {{kPlus, "+"}, {kMinus, "-"}, {kAsterisk, "*"}, {kSlash, "/"}, {kBackslash, "\\"},
                     {kAmpersand, "&"}, {kLeftParen, "("}, {kRightParen, ")"}}},
      {"'it''s' \"a\"\"b\" ''", {{kString, "'it''s'"}, {kString, "\"a\"\"b\""}, {kString, "''"}}},
      // Bytes that start no token stand for themselves.
      {"# . ! ' \r \x01 \xE9", {{'#', "#"}, {'.', "."}, {'!', "!"}, {'\'', "'"}, {'\r', "\r"},
                                {1, "\x01"}, {0xE9, "\xE9"}}},
      {"\t a\n\n b ", {{kIdentifier, "a"}, {kIdentifier, "b"}}},
  };
  for (auto const &c : cases) {
    EXPECT_EQ(Show(Scan(c.text)), Show(c.expected)) << c.text;
  }
}

TEST(RoleCondScanner, CountsLinesAndForgetsAnEarlierTextWhenGivenANewOne) {
  Scan("a\n=\n1");
  EXPECT_EQ(sql_scyyGetLineNumber(), 3);
  EXPECT_STREQ(sql_scyyGetToken(), "");  // at the end of the text
  // Stop in the middle of a long text: the next one starts at its own start.
  std::string longText = "a = 'x' # " + std::string(40000, 'y') + " = 1";
  sql_scyySetLexBuffer(longText.c_str());
  EXPECT_EQ(sql_scyylex(), sctoken::kIdentifier);
  EXPECT_EQ(sql_scyylex(), sctoken::kEqual);
  EXPECT_EQ(Show(Scan("or 2")), "259:or 262:2 ");
  EXPECT_EQ(sql_scyyGetLineNumber(), 1);
}

TEST(RoleCondScanner, TokensAreBoundOnlyByTheText) {
  std::string name(20000, 'n');
  std::string quoted = "'" + std::string(30000, 'q') + "'";
  std::vector<Token> tokens = Scan((name + " " + quoted).c_str());
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[0].text, name);
  EXPECT_EQ(tokens[1].text, quoted);
}

long g_malCountdown = 0;  // the allocation of the library's allocator to refuse; 0: none
int RefuseCountedAllocation(size_t) { return g_malCountdown > 0 && --g_malCountdown == 0 ? 1 : 0; }
int RefuseAll(size_t) { return 1; }

// A scanner that builds its buffers, and grows its scan buffer for a token
// longer than it, meets the allocator's failure hook at each allocation in
// turn: the scan fails with std::bad_alloc, leaks nothing (LeakSanitizer at
// exit, also of the buffer a failed growth would lose) and the next scan
// works.
TEST(RoleCondScanner, EachAllocationOfItsBuffersFailsThroughTheAllocatorAndTheNextScanWorks) {
  std::string const name(40000, 'n');
  int failures = 0;
  for (long n = 1;; ++n) {
    ASSERT_LT(n, 20);
    sql_scyylex_destroy();
    sql_scyySetLexBuffer(name.c_str());
    g_malCountdown = n;
    mal_set_failure_hook(RefuseCountedAllocation);
    int code = 0;
    bool failed = false;
    try {
      code = sql_scyylex();
    } catch (std::bad_alloc const &) {
      failed = true;
    }
    mal_set_failure_hook(nullptr);
    g_malCountdown = 0;
    if (!failed) {
      EXPECT_EQ(sctoken::kIdentifier, code);
      EXPECT_EQ(name, sql_scyyGetToken());
      break;
    }
    ++failures;
    EXPECT_EQ(Show(Scan("or 2")), "259:or 262:2 ") << "after failure " << n;
  }
  // The buffer stack, the buffer state, its bytes and two growths of them.
  EXPECT_GE(failures, 5);
}

// The parse stack grows through the allocator beyond 200 entries: when it
// cannot, the parse fails with std::bad_alloc and leaves nothing behind.
TEST(RoleCondParse, AParseStackThatCannotGrowFailsWithBadAllocAndTheNextParseWorks) {
  std::string const deep = std::string(300, '(') + "b = 2" + std::string(300, ')');
  EXPECT_EQ(Traced("a = 1"), "Comparison(( ColumnRef(0,0) ) = ( IntegerConst(1) ))");
  mal_set_failure_hook(RefuseAll);
  bool failed = false;
  try {
    Parse(deep.c_str());
  } catch (std::bad_alloc const &) {
    failed = true;
  }
  mal_set_failure_hook(nullptr);
  EXPECT_TRUE(failed);
  EXPECT_EQ(Traced(deep.c_str()), "Comparison(( ColumnRef(0,1) ) = ( IntegerConst(2) ))");
}

// ---- Grammar ----

TEST(RoleCondParse, BuildsTheConditionWithItsPrecedence) {
  struct {
    char const *text;
    char const *trace;
  } const cases[] = {
      // AND binds tighter than OR; nested ANDs (ORs) are one list.
      {"a = 1 or b = 2 and c = 3",
       "Or(Comparison(( ColumnRef(0,0) ) = ( IntegerConst(1) )), And(Comparison(( ColumnRef(0,1) ) = ( "
       "IntegerConst(2) )), Comparison(( ColumnRef(0,2) ) = ( IntegerConst(3) ))))"},
      {"a = 1 AND b = 2 And c = 3",
       "And(Comparison(( ColumnRef(0,0) ) = ( IntegerConst(1) )), Comparison(( ColumnRef(0,1) ) = ( "
       "IntegerConst(2) )), Comparison(( ColumnRef(0,2) ) = ( IntegerConst(3) )))"},
      {"(a = 1 or b = 2) and (c = 3 or (a = 2 or b = 1))",
       "And(Or(Comparison(( ColumnRef(0,0) ) = ( IntegerConst(1) )), Comparison(( ColumnRef(0,1) ) = ( "
       "IntegerConst(2) ))), Or(Comparison(( ColumnRef(0,2) ) = ( IntegerConst(3) )), Comparison(( "
       "ColumnRef(0,0) ) = ( IntegerConst(2) )), Comparison(( ColumnRef(0,1) ) = ( IntegerConst(1) ))))"},
      // Left-associative operators; * / \ before + - &.
      {"a - b - c = 0",
       "Comparison(( Subtract(Subtract(ColumnRef(0,0),ColumnRef(0,1)),ColumnRef(0,2)) ) = ( IntegerConst(0) ))"},
      {"a + b * c = 0",
       "Comparison(( Add(ColumnRef(0,0),Multiply(ColumnRef(0,1),ColumnRef(0,2))) ) = ( IntegerConst(0) ))"},
      {"a / b \\ c - 1 <> 0",
       "Comparison(( Subtract(Modulo(Divide(ColumnRef(0,0),ColumnRef(0,1)),ColumnRef(0,2)),IntegerConst(1)) ) <> "
       "( IntegerConst(0) ))"},
      {"s & t & 'x' = t", "Comparison(( Concatenate(Concatenate(ColumnRef(0,4),ColumnRef(0,5)),StringConst(x)) ) "
                          "= ( ColumnRef(0,5) ))"},
      // Parentheses around a value or around a condition.
      {"(a + b) = c", "Comparison(( Add(ColumnRef(0,0),ColumnRef(0,1)) ) = ( ColumnRef(0,2) ))"},
      {"(a = b)", "Comparison(( ColumnRef(0,0) ) = ( ColumnRef(0,1) ))"},
      {"((a)) * (b - c) >= 1", "Comparison(( Multiply(ColumnRef(0,0),Subtract(ColumnRef(0,1),ColumnRef(0,2))) ) "
                               ">= ( IntegerConst(1) ))"},
      // Every comparison operator.
      {"a != 1 or a < 1 or a > 1 or a <= 1",
       "Or(Comparison(( ColumnRef(0,0) ) <> ( IntegerConst(1) )), Comparison(( ColumnRef(0,0) ) < ( "
       "IntegerConst(1) )), Comparison(( ColumnRef(0,0) ) > ( IntegerConst(1) )), Comparison(( ColumnRef(0,0) ) "
       "<= ( IntegerConst(1) )))"},
      // Names with keywords inside, "$" and ".".
      {"andx = or. and v$ = x_1.y",
       "And(Comparison(( ColumnRef(0,6) ) = ( ColumnRef(0,7) )), Comparison(( ColumnRef(0,8) ) = ( "
       "ColumnRef(0,9) )))"},
      // Literals: signs, reals, both quotes with their doubled quote.
      {"a = -5 and a - -1 = 2 and a -1 = 0",
       "And(Comparison(( ColumnRef(0,0) ) = ( IntegerConst(-5) )), Comparison(( "
       "Subtract(ColumnRef(0,0),IntegerConst(-1)) ) = ( IntegerConst(2) )), Comparison(( "
       "Subtract(ColumnRef(0,0),IntegerConst(1)) ) = ( IntegerConst(0) )))"},
      {"r = 1.5e3 or r = -.5 or r = 2.",
       "Or(Comparison(( ColumnRef(0,3) ) = ( RealConst(1500.000000) )), Comparison(( ColumnRef(0,3) ) = ( "
       "RealConst(-0.500000) )), Comparison(( ColumnRef(0,3) ) = ( RealConst(2.000000) )))"},
      {"s = 'it''s' or s = \"say \"\"a\"\"\" or s = \"a\"",
       "Or(Comparison(( ColumnRef(0,4) ) = ( StringConst(it's) )), Comparison(( ColumnRef(0,4) ) = ( "
       "StringConst(say \"a\") )), Comparison(( ColumnRef(0,4) ) = ( StringConst(a) )))"},
      {"a = 2147483647 or a = -2147483647",
       "Or(Comparison(( ColumnRef(0,0) ) = ( IntegerConst(2147483647) )), Comparison(( ColumnRef(0,0) ) = ( "
       "IntegerConst(-2147483647) )))"},
  };
  for (auto const &c : cases) EXPECT_EQ(Traced(c.text), c.trace) << c.text;
}

TEST(RoleCondParse, ComparisonsHoldOneValuePerRowWithTheOperatorCode) {
  struct {
    char const *text;
    SQLVTSCCompOperator op;
  } const cases[] = {{"a = 1", SQLVTSC_EQUAL},      {"a <> 1", SQLVTSC_NOT_EQUAL}, {"a != 1", SQLVTSC_NOT_EQUAL},
                     {"a < 1", SQLVTSC_LESS},       {"a > 1", SQLVTSC_GREATER},    {"a <= 1", SQLVTSC_LESS_EQUAL},
                     {"a >= 1", SQLVTSC_GREATER_EQUAL}};
  for (auto const &c : cases) {
    Cond cond = Parse(c.text);
    auto *cmp = dynamic_cast<SQLVTSCComparison *>(cond.get());
    ASSERT_NE(cmp, nullptr) << c.text;
    EXPECT_EQ(cmp->GetOperator(), c.op) << c.text;
    EXPECT_EQ(cmp->GetLeft()->GetType(), SQL_ROW_VALUE_GENERIC);
    EXPECT_EQ(cmp->GetLeft()->NrElements(), 1);
    EXPECT_EQ(cmp->GetRight()->NrElements(), 1);
  }
}

TEST(RoleCondParse, StringLiteralsAreBoundOnlyByTheText) {
  std::string body(5000, 'k');
  body[0] = '\'';  // a doubled quote at the start: one quote in the value
  std::string text = "s = '" + std::string("'") + body + "'";
  Cond cond = Parse(text.c_str());
  auto *cmp = dynamic_cast<SQLVTSCComparison *>(cond.get());
  ASSERT_NE(cmp, nullptr);
  cmp->GetRight()->First();
  auto *literal = dynamic_cast<SQLVTSCStringConst *>(cmp->GetRight()->GetCurrent());
  ASSERT_NE(literal, nullptr);
  EXPECT_EQ(literal->GetLength(), 5000);
  EXPECT_EQ(std::string(reinterpret_cast<char const *>(literal->GetString())), "'" + body.substr(1));
}

// ---- Errors ----

TEST(RoleCondParse, EveryErrorHasItsStateAndText) {
  struct {
    char const *text;
    char const *state;
    char const *message;
  } const cases[] = {
      {"", "QR000", "Unexpected end of condition"},
      {"   ", "QR000", "Unexpected end of condition"},
      {"a =", "QR000", "Unexpected end of condition"},
      {"a = 1 and", "QR000", "Unexpected end of condition"},
      {"(a = 1", "QR000", "Unexpected end of condition"},
      {"a = -b", "QR000", "Unexpected token 'b'"},
      {"-a = 1", "QR000", "Unexpected token 'a'"},
      {"a = -(1)", "QR000", "Unexpected token '('"},
      {"a = 1 a", "QR000", "Unexpected token 'a'"},
      {"a = 1)", "QR000", "Unexpected token ')'"},
      {"a = 1 = 1", "QR000", "Unexpected token '='"},
      {"a = (1 = 1)", "QR000", "Unexpected token '='"},
      {"a = 1 or andx a = 1", "QR000", "Unexpected token 'a'"},
      // A name is looked up as soon as it is read, before the next token.
      {"a = 1 or not a = 1", "QR002", "Table tctab001 has no column 'not'"},
      {"a # 1", "QR000", "Unexpected token '#'"},
      {"a = .", "QR000", "Unexpected token '.'"},
      {"a ! 1", "QR000", "Unexpected token '!'"},
      {"s = 'open", "QR000", "Unexpected token '''"},
      {"a = 1\r", "QR000", "Unexpected token '\r'"},
      {"a = 1 or \xE9 = 2", "QR000", "Unexpected token '\xE9'"},
      {"1e3 = a", "QR000", "Unexpected token 'e3'"},
      {"a is null", "QR000", "Unexpected token 'is'"},
      {"a = 12345678901", "QR001", "Integer literal 12345678901 is out of range"},
      {"a = 2147483648", "QR001", "Integer literal 2147483648 is out of range"},
      {"a = -2147483648", "QR001", "Integer literal 2147483648 is out of range"},
      {"a = 99999999999999999999999", "QR001", "Integer literal 99999999999999999999999 is out of range"},
      {"r = 1.0e999", "QR001", "Real literal 1.0e999 is out of range"},
      {"r = -1.0e-999", "QR001", "Real literal 1.0e-999 is out of range"},
      {"zz = 1", "QR002", "Table tctab001 has no column 'zz'"},
      {"a = 1 or A = 1", "QR002", "Table tctab001 has no column 'A'"},
      {"a. = 1", "QR002", "Table tctab001 has no column 'a.'"},
      {"tab.a = 1", "QR002", "Table tctab001 has no column 'tab.a'"},
  };
  for (auto const &c : cases) {
    Raised r = RaisedBy([&] { Parse(c.text); });
    EXPECT_EQ(r.state, c.state) << c.text;
    EXPECT_EQ(r.message, c.message) << c.text;
    EXPECT_EQ(r.native, 217) << c.text;
  }
}

TEST(RoleCondParse, ParsesTheNextTextAfterAnyFailure) {
  char const *failing[] = {"a = 1 and b = #" ,           // in the middle, with text left over
                           "zz = 1 and a = 1",           // an action that fails
                           "a = 1 and b = 99999999999",  // a literal out of range
                           "(((a = 1"};                  // at the end
  for (char const *text : failing) {
    EXPECT_NE(RaisedBy([&] { Parse(text); }).state, "none") << text;
    EXPECT_EQ(Traced("c = 3"), "Comparison(( ColumnRef(0,2) ) = ( IntegerConst(3) ))") << "after " << text;
  }
}

TEST(RoleCondParse, DeepNestingGrowsTheStackUpToItsLimit) {
  // 3,000 parentheses need a parse stack beyond its first 200 entries.
  std::string deep = std::string(3000, '(') + "a = 1" + std::string(3000, ')');
  EXPECT_EQ(Traced(deep.c_str()), "Comparison(( ColumnRef(0,0) ) = ( IntegerConst(1) ))");
  // Beyond 10,000 entries the parse fails as a syntax error at the token
  // that did not fit; nothing built on the way is left.
  std::string tooDeep = "a = 1 or " + std::string(12000, '(') + "b = 2" + std::string(12000, ')');
  Raised r = RaisedBy([&] { Parse(tooDeep.c_str()); });
  EXPECT_EQ(r.state, "QR000");
  EXPECT_EQ(r.message, "Unexpected token '('");
  EXPECT_EQ(Traced("a = 2"), "Comparison(( ColumnRef(0,0) ) = ( IntegerConst(2) ))");
}

TEST(RoleCondParse, RunningOutOfMemoryAnywhereLeavesNothingBehind) {
  // Fail the n-th allocation for every n until the parse gets through; the
  // leak check at exit finds any node a failure left behind.
  char const *text = "a = 1 and (b + 2 * c = 3 or s & t = 'x' or (andx = 1 and or. = 2)) and r > 1.5";
  std::string expected = Traced(text);
  int failures = 0;
  for (int skip = 0;; ++skip) {
    Cond cond;
    bool failed = false;
    {
      ScopedAllocationFailure fail(skip, 1);
      try {
        cond = Parse(text);
      } catch (std::bad_alloc const &) {
        failed = true;
      }
    }
    if (!failed) {
      EXPECT_EQ(LogText(cond.get()), expected);
      break;
    }
    ++failures;
    ASSERT_LT(skip, 1000);
  }
  EXPECT_GT(failures, 20);
  EXPECT_EQ(Traced("c = 3"), "Comparison(( ColumnRef(0,2) ) = ( IntegerConst(3) ))");
}

}  // namespace
}  // namespace molvane::test
