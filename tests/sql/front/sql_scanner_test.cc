#include "sql/front/sql_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <new>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/mal.h"
#include "sql/common/sql_exception.h"
#include "sql/front/parse_mode.h"
#include "sql/front/sql_tokens.h"

// The generated scanner's teardown: frees its buffers, so that the next
// scan builds them again.
int sql_yylex_destroy(void);

namespace {

enum Mode { kClassic, kAnsi };

struct Token {
  int code;
  std::string text;  // sql_yytext
  int line;          // line number after the token was scanned
};

bool CarriesText(int code) {
  switch (code) {
    case sqltoken::kCompanyColumn:
    case sqltoken::kRawLiteral:
    case sqltoken::kHostVariable:
    case sqltoken::kIdentifier:
    case sqltoken::kQualifiedName:
    case sqltoken::kQuotedCompanyColumn:
    case sqltoken::kDelimitedIdentifier:
    case sqltoken::kStringLiteral:
    case sqltoken::kQualifiedCompanyColumn:
    case sqltoken::kIntegerLiteral:
    case sqltoken::kRealLiteral:
      return true;
    default:
      return false;
  }
}

// Scans the whole text and renders the stream: a token's name, with the
// value text of a text token in parentheses; a single-byte token as #<byte>.
std::string Render(std::string const &text, Mode mode) {
  SQLParseSetMode(mode == kAnsi ? parsemode::kAnsi : 0);
  sql_yySetLexBuffer(text.c_str());
  std::string out;
  for (;;) {
    sql_yylval.text = nullptr;
    int code = sql_yylex();
    if (code == sqltoken::kEnd) break;
    if (!out.empty()) out += ' ';
    if (code < 256) {
      out += '#' + std::to_string(code);
    } else {
      out += SQLTokenName(code);
    }
    if (CarriesText(code)) {
      out += '(';
      out += sql_yylval.text != nullptr ? sql_yylval.text : "<no value>";
      out += ')';
    } else if (sql_yylval.text != nullptr) {
      out += "<unexpected value>";
    }
  }
  return out;
}

std::vector<Token> Scan(std::string const &text, Mode mode) {
  SQLParseSetMode(mode == kAnsi ? parsemode::kAnsi : 0);
  sql_yySetLexBuffer(text.c_str());
  std::vector<Token> out;
  for (int code; (code = sql_yylex()) != sqltoken::kEnd;)
    out.push_back({code, std::string(sql_yytext, sql_yyleng), sql_yyGetLineNumber()});
  return out;
}

struct GoldenCase {
  char const *name;
  char const *text;
  char const *classic;  // expected stream in classic mode
  char const *ansi;     // expected stream in ANSI mode
};

class ScannerGolden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(ScannerGolden, ProducesTheTokenStreamOfEachMode) {
  GoldenCase const &c = GetParam();
  EXPECT_EQ(c.classic, Render(c.text, kClassic)) << c.text;
  EXPECT_EQ(c.ansi, Render(c.text, kAnsi)) << c.text;
}

GoldenCase const kGolden[] = {
    {"Select",
     "SELECT a, t.b, t._compnr FROM exemp010 t WHERE _compnr = 1 AND b <> 'x' ORDER BY a DESC",
     "SELECT identifier(a) , qualified-name(t.b) , qualified-company-column(t._compnr) FROM "
     "identifier(exemp010) identifier(t) WHERE company-column(_compnr) = integer-literal(1) AND "
     "identifier(b) <> string-literal('x') ORDER BY identifier(a) DESC",
     "SELECT identifier(a) , qualified-name(t.b) , qualified-name(t._compnr) FROM "
     "identifier(exemp010) identifier(t) WHERE identifier(_compnr) = integer-literal(1) AND "
     "identifier(b) <> string-literal('x') ORDER BY identifier(a) DESC"},
    {"CompanyColumnWords",
     "company_nr t.company_nr t$._compnr \"_compnr\" \"company_nr\" _compnr$ T._COMPNR.x",
     "identifier(company_nr) qualified-name(t.company_nr) qualified-company-column(t$._compnr) "
     "string-literal(\"_compnr\") string-literal(\"company_nr\") identifier(_compnr$) "
     "qualified-name(T._COMPNR.x)",
     "company-column(company_nr) qualified-company-column(t.company_nr) "
     "qualified-name(t$._compnr) identifier(\"_compnr\") quoted-company-column(\"company_nr\") "
     "identifier(_compnr$) qualified-name(T._COMPNR.x)"},
    {"Operators",
     "& * \\ : #> #>= #< #<= , $ = > >= { [ ( < <= - <> != . + } ] ) ; /",
     "& * \\ : #> #>= #< #<= , $ = > >= { [ ( < <= - <> <> . + } ] ) ; /",
     "& * \\ : #> #>= #< #<= , $ = > >= { [ ( < <= - <> <> . + } ] ) ; /"},
    {"OperatorsWithoutBlanks", "a<=b#<c#>=:1<>(d)",
     "identifier(a) <= identifier(b) #< identifier(c) #>= host-variable(:1) <> ( identifier(d) )",
     "identifier(a) <= identifier(b) #< identifier(c) #>= host-variable(:1) <> ( identifier(d) )"},
    {"DoubleBar", "a || b\nc", "identifier(a) identifier(c)",
     "identifier(a) || identifier(b) identifier(c)"},
    {"TripleBar", "a|||b\nc", "identifier(a) identifier(c)", "identifier(a) || identifier(c)"},
    {"DoubleBarAtLineEnd", "a ||\nb", "identifier(a) identifier(b)",
     "identifier(a) || identifier(b)"},
    {"BarComment", "a | b || c\nd |\ne|", "identifier(a) identifier(d) identifier(e)",
     "identifier(a) identifier(d) identifier(e)"},
    {"DashDash", "1--2", "integer-literal(1) - - integer-literal(2)", "integer-literal(1)"},
    {"DashDashComment", "a -- b | c\nd", "identifier(a) - - identifier(b) identifier(d)",
     "identifier(a) identifier(d)"},
    {"AsBeforeSet", "SELECT a FROM t AS SET WITH 5 ROWS",
     "SELECT identifier(a) FROM identifier(t) AS-before-SET SET WITH integer-literal(5) ROWS",
     "SELECT identifier(a) FROM identifier(t) AS-before-SET SET WITH integer-literal(5) ROWS"},
    {"AsSetAtEnd", "SELECT a AS SET", "SELECT identifier(a) AS SET",
     "SELECT identifier(a) AS SET"},
    {"AsPrepared", "x as\tprepared\rset\n", "identifier(x) AS-before-SET PREPARED SET",
     "identifier(x) AS-before-SET PREPARED SET"},
    {"AsSetFollowedByBar", "x As sEt|c", "identifier(x) AS-before-SET SET",
     "identifier(x) AS-before-SET SET"},
    {"AsSetNotSeparated", "AS SET; AS SETX ASSET AS\"SET\" ", "AS SET ; AS identifier(SETX) "
     "identifier(ASSET) AS string-literal(\"SET\")",
     "AS SET ; AS identifier(SETX) identifier(ASSET) AS delimited-identifier(\"SET\")"},
    {"AsSetAcrossComment", "AS | note\n SET ", "AS-before-SET SET", "AS-before-SET SET"},
    // A "|" separator runs over any characters of its line, so SET may stand
    // inside the comment; the comment is then skipped as a whole.
    {"AsSetInsideComment", "a AS | x SET\nb", "identifier(a) AS-before-SET identifier(b)",
     "identifier(a) AS-before-SET identifier(b)"},
    {"HostVariables", ":5 :rec.field$ :0 :_x :a..b $ a$b :12a",
     "host-variable(:5) host-variable(:rec.field$) : integer-literal(0) host-variable(:_x) "
     "host-variable(:a..b) $ identifier(a$) identifier(b) host-variable(:12) identifier(a)",
     "host-variable(:5) host-variable(:rec.field$) : integer-literal(0) host-variable(:_x) "
     "host-variable(:a..b) $ identifier(a$) identifier(b) host-variable(:12) identifier(a)"},
    {"KeywordsAgainstNames", "selects Date.Num date.numx DATE.TO.NUM date.to x_ in1 t.date",
     "identifier(selects) DATE.NUM qualified-name(date.numx) DATE.TO.NUM qualified-name(date.to) "
     "identifier(x_) identifier(in1) qualified-name(t.date)",
     "identifier(selects) DATE.NUM qualified-name(date.numx) DATE.TO.NUM qualified-name(date.to) "
     "identifier(x_) identifier(in1) qualified-name(t.date)"},
    {"QualifiedNames", "a.b.c a$.b a.b$ a.b$.c a.5 t.* t.",
     "qualified-name(a.b.c) qualified-name(a$.b) qualified-name(a.b$) qualified-name(a.b$) "
     ". identifier(c) qualified-name(a.5) identifier(t) . * identifier(t) .",
     "qualified-name(a.b.c) qualified-name(a$.b) qualified-name(a.b$) qualified-name(a.b$) "
     ". identifier(c) qualified-name(a.5) identifier(t) . * identifier(t) ."},
    {"Numbers", "2147483647 2147483648 0000000001 00000000001 123456789 9999999999",
     "integer-literal(2147483647) real-literal(2147483648) integer-literal(0000000001) "
     "real-literal(00000000001) integer-literal(123456789) real-literal(9999999999)",
     "integer-literal(2147483647) real-literal(2147483648) integer-literal(0000000001) "
     "real-literal(00000000001) integer-literal(123456789) real-literal(9999999999)"},
    {"Reals", "1e5 1.5 .5 1. 1.5e-3 .5E+2 1.e5 12.5e 3.5e+ -7 1.2.3",
     "integer-literal(1) identifier(e5) real-literal(1.5) real-literal(.5) real-literal(1.) "
     "real-literal(1.5e-3) real-literal(.5E+2) real-literal(1.e5) real-literal(12.5) "
     "identifier(e) real-literal(3.5) identifier(e) + - integer-literal(7) real-literal(1.2) "
     "real-literal(.3)",
     "integer-literal(1) identifier(e5) real-literal(1.5) real-literal(.5) real-literal(1.) "
     "real-literal(1.5e-3) real-literal(.5E+2) real-literal(1.e5) real-literal(12.5) "
     "identifier(e) real-literal(3.5) identifier(e) + - integer-literal(7) real-literal(1.2) "
     "real-literal(.3)"},
    {"TruthValues", "true FALSE True", "integer-literal(1) integer-literal(0) integer-literal(1)",
     "integer-literal(1) integer-literal(0) integer-literal(1)"},
    {"RawLiterals", "x'0F' X\"ab\" x'' x'0g' xy'01'",
     "raw-literal(x'0F') raw-literal(X\"ab\") identifier(x) string-literal('') identifier(x) "
     "string-literal('0g') identifier(xy) string-literal('01')",
     "raw-literal(x'0F') raw-literal(X\"ab\") identifier(x) string-literal('') identifier(x) "
     "string-literal('0g') identifier(xy) string-literal('01')"},
    {"QuotedTexts", "'it''s' \"a\"\"b\" '' \"\" 'a\"b' \"a'b\"",
     "string-literal('it''s') string-literal(\"a\"\"b\") string-literal('') string-literal(\"\") "
     "string-literal('a\"b') string-literal(\"a'b\")",
     "string-literal('it''s') delimited-identifier(\"a\"\"b\") string-literal('') "
     "delimited-identifier(\"\") string-literal('a\"b') delimited-identifier(\"a'b\")"},
    {"UnclosedQuotes", "'ab\ncd' x", "#39 identifier(ab) identifier(cd) #39 identifier(x)",
     "#39 identifier(ab) identifier(cd) #39 identifier(x)"},
    {"StrayBytes", "a ? b \xE9 ! # @ % ^ ` ~ \x01 ' \"",
     "identifier(a) #63 identifier(b) #233 #33 #35 #64 #37 #94 #96 #126 #1 #39 #34",
     "identifier(a) #63 identifier(b) #233 #33 #35 #64 #37 #94 #96 #126 #1 #39 #34"},
    {"TssCharacterInString", "'a\x9B'bcd' x",
     "string-literal('a\x9B'bcd') identifier(x)", "string-literal('a\x9B'bcd') identifier(x)"},
    {"TssCharacterInDelimitedIdentifier", "\"\x9B\"\"\"x\"",
     "string-literal(\"\x9B\"\"\"x\")", "delimited-identifier(\"\x9B\"\"\"x\")"},
    {"TssCharacterCannotHoldNewline", "'a\x9B\n'' b",
     "#39 identifier(a) #155 string-literal('') identifier(b)",
     "#39 identifier(a) #155 string-literal('') identifier(b)"},
    {"TssCharacterOutsideQuotes", "ab\x9B\x80\x81\x82 c",
     "identifier(ab) #155 #128 #129 #130 identifier(c)",
     "identifier(ab) #155 #128 #129 #130 identifier(c)"},
    {"TssCharacterBeforeClosingQuote", "'ab\x9B'", "#39 identifier(ab) #155 #39",
     "#39 identifier(ab) #155 #39"},
    {"Empty", "", "", ""},
    {"OnlyBlanksAndComments", " \t\r\n | x\n", "", ""},
};

INSTANTIATE_TEST_SUITE_P(Statements, ScannerGolden, ::testing::ValuesIn(kGolden),
                         [](auto const &info) { return std::string(info.param.name); });

std::string MixedCase(std::string s) {
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<char>(i % 2 ? std::toupper(s[i]) : std::tolower(s[i]));
  return s;
}

TEST(Scanner, EveryKeywordInAnyCase) {
  int keywords = 0;
  for (int code = sqltoken::kAlike; code <= sqltoken::kWith; ++code) {
    if (code == sqltoken::kAsBeforeSet) continue;
    ++keywords;
    std::string upper = SQLTokenName(code);
    std::string lower = upper;
    for (char &ch : lower) ch = static_cast<char>(std::tolower(ch));
    for (std::string const &word : {upper, lower, MixedCase(upper)}) {
      for (Mode mode : {kClassic, kAnsi}) {
        std::vector<Token> tokens = Scan(word, mode);
        ASSERT_EQ(1u, tokens.size()) << word;
        EXPECT_EQ(code, tokens[0].code) << word;
        EXPECT_EQ(word, tokens[0].text);
      }
    }
  }
  EXPECT_EQ(91, keywords);
}

TEST(Scanner, KeywordCodesFollowTheGrammarNumbering) {
  struct {
    char const *text;
    int code;
  } const cases[] = {
      {"alike", 258}, {"asc", 263}, {"avg", 265}, {"cross", 275}, {"date.num", 279},
      {"date.to.num", 280}, {"end", 285}, {"inrange", 301}, {"select", 329},
      {"text_content", 337}, {"with", 349}, {"&", 350}, {"_compnr", 359}, {"x'00'", 365},
      {":a", 366}, {"a", 367}, {"a.b", 368}, {"!=", 375}, {"'a'", 385}, {"a._compnr", 386},
      {"1", 387}, {"1.0", 388},
  };
  for (auto const &c : cases) {
    std::vector<Token> tokens = Scan(c.text, kClassic);
    ASSERT_EQ(1u, tokens.size()) << c.text;
    EXPECT_EQ(c.code, tokens[0].code) << c.text;
  }
  EXPECT_EQ(361, Scan("||", kAnsi).at(0).code);
  EXPECT_EQ(378, Scan("\"company_nr\"", kAnsi).at(0).code);
  EXPECT_EQ(379, Scan("\"a\"", kAnsi).at(0).code);
  EXPECT_EQ(264, Scan("as set ", kAnsi).at(0).code);
}

TEST(Scanner, ValueTextsAndLastToken) {
  SQLParseSetMode(0);
  sql_yySetLexBuffer("true 'x' AS SET ");
  EXPECT_STREQ("", sql_yyGetToken());
  EXPECT_EQ(sqltoken::kIntegerLiteral, sql_yylex());
  EXPECT_STREQ("1", sql_yylval.text);
  EXPECT_STREQ("true", sql_yyGetToken());
  EXPECT_EQ(4, sql_yyleng);
  EXPECT_EQ(sqltoken::kStringLiteral, sql_yylex());
  EXPECT_EQ(sql_yytext, sql_yylval.text);  // the value points into the scan buffer
  EXPECT_STREQ("'x'", sql_yyGetToken());
  EXPECT_EQ(sqltoken::kAsBeforeSet, sql_yylex());
  EXPECT_STREQ("AS", sql_yyGetToken());  // only "AS" is consumed
  EXPECT_EQ(2, sql_yyleng);
  EXPECT_EQ(sqltoken::kSet, sql_yylex());
  EXPECT_STREQ("SET", sql_yyGetToken());
  EXPECT_EQ(sqltoken::kEnd, sql_yylex());
  EXPECT_STREQ("", sql_yyGetToken());
  EXPECT_EQ(sqltoken::kEnd, sql_yylex());  // stays at the end
  EXPECT_EQ(1, sql_yywrap());
}

TEST(Scanner, ModeIsReadWhenEachTokenIsScanned) {
  SQLParseSetMode(0);
  sql_yySetLexBuffer("_compnr _compnr");
  EXPECT_EQ(sqltoken::kCompanyColumn, sql_yylex());
  SQLParseSetMode(parsemode::kAnsi | parsemode::kFromOptional);
  EXPECT_EQ(sqltoken::kIdentifier, sql_yylex());
  EXPECT_NE(0, inAnsiMode());
  SQLParseSetMode(parsemode::kFromOptional);
  EXPECT_EQ(0, inAnsiMode());
}

TEST(Scanner, CountsLinesOverMultiLineText) {
  std::string const text =
      "SELECT a,\n"
      "  b | note ' with a quote\n"
      " FROM t\r\n"
      "\n"
      "WHERE c = 'x' -- tail\n"
      " AS\n"
      " | note\n"
      "\tSET\n"
      "WITH 5 ROWS";
  struct Expect {
    char const *text;
    int line;
  };
  std::vector<Expect> const classic = {
      {"SELECT", 1}, {"a", 1}, {",", 1}, {"b", 2}, {"FROM", 3}, {"t", 3}, {"WHERE", 5},
      {"c", 5}, {"=", 5}, {"'x'", 5}, {"-", 5}, {"-", 5}, {"tail", 5}, {"AS", 6},
      {"SET", 8}, {"WITH", 9}, {"5", 9}, {"ROWS", 9}};
  std::vector<Token> tokens = Scan(text, kClassic);
  ASSERT_EQ(classic.size(), tokens.size());
  for (size_t i = 0; i < tokens.size(); ++i) {
    EXPECT_EQ(classic[i].text, tokens[i].text) << i;
    EXPECT_EQ(classic[i].line, tokens[i].line) << tokens[i].text;
  }
  EXPECT_EQ(sqltoken::kAsBeforeSet, tokens[13].code);
  EXPECT_EQ(9, sql_yyGetLineNumber());  // every newline counted once

  tokens = Scan(text, kAnsi);
  ASSERT_EQ(classic.size() - 3, tokens.size());  // "-- tail" is a comment
  EXPECT_EQ("AS", tokens[10].text);
  EXPECT_EQ(6, tokens[10].line);
  EXPECT_EQ(9, sql_yyGetLineNumber());
}

TEST(Scanner, NewTextDropsLookAheadAndRestartsLines) {
  SQLParseSetMode(0);
  sql_yySetLexBuffer("a\nb\nc");
  EXPECT_EQ(sqltoken::kIdentifier, sql_yylex());
  EXPECT_EQ(sqltoken::kIdentifier, sql_yylex());
  EXPECT_EQ(2, sql_yyGetLineNumber());
  sql_yySetLexBuffer("x");
  EXPECT_EQ(1, sql_yyGetLineNumber());
  EXPECT_EQ(sqltoken::kIdentifier, sql_yylex());
  EXPECT_STREQ("x", sql_yytext);
  EXPECT_EQ(sqltoken::kEnd, sql_yylex());
  sql_yySetLexBuffer(nullptr);  // no text: the end at once
  EXPECT_EQ(sqltoken::kEnd, sql_yylex());
}

TEST(Scanner, LongStatementCrossesManyRefills) {
  // About 160 KB: tokens straddle every 8 KB refill of the scan buffer.
  std::string text = "SELECT ";
  int const columns = 8000;
  for (int i = 0; i < columns; ++i) {
    if (i) text += ",\n";
    text += "t.col" + std::to_string(i) + " || 'v" + std::to_string(i) + "'";
  }
  text += " FROM t";
  std::vector<Token> tokens = Scan(text, kAnsi);
  ASSERT_EQ(static_cast<size_t>(1 + columns * 4 - 1 + 2), tokens.size());
  for (int i = 0; i < columns; ++i) {
    Token const &name = tokens[1 + 4 * i];
    ASSERT_EQ(sqltoken::kQualifiedName, name.code);
    ASSERT_EQ("t.col" + std::to_string(i), name.text);
    ASSERT_EQ(i + 1, name.line);
    ASSERT_EQ(sqltoken::kDoubleBar, tokens[2 + 4 * i].code);
    ASSERT_EQ("'v" + std::to_string(i) + "'", tokens[3 + 4 * i].text);
  }
  EXPECT_EQ("t", tokens.back().text);
}

TEST(Scanner, LongTokensThatFitTheBuffer) {
  std::string const literal = "'" + std::string(16000, 'z') + "'";
  std::vector<Token> tokens = Scan("x = " + literal + " y", kClassic);
  ASSERT_EQ(4u, tokens.size());
  EXPECT_EQ(literal, tokens[2].text);
  // Blank runs and comments of any length are no tokens.
  tokens = Scan("a" + std::string(100000, ' ') + "b\n" + std::string(40000, '\n') + "c",
                kClassic);
  ASSERT_EQ(3u, tokens.size());
  EXPECT_EQ(40002, tokens[2].line);
}

struct TooLongCase {
  char const *name;
  std::string text;
  int line;
};

class ScannerTooLong : public ::testing::TestWithParam<TooLongCase> {};

TEST_P(ScannerTooLong, FailsTheParseAndLeavesTheScannerUsable) {
  TooLongCase const &c = GetParam();
  SQLParseSetMode(0);
  sql_yySetLexBuffer(c.text.c_str());
  try {
    while (sql_yylex() != sqltoken::kEnd) {
    }
    FAIL() << "no error";
  } catch (SQLExSyntaxError const &e) {
    EXPECT_STREQ("42I00", e.GetSQLState());
    EXPECT_EQ(302, e.GetZDBError());
    EXPECT_STREQ("Token too long: a token and its look-ahead may take at most 16384 bytes",
                 e.GetMessageText()->GetString());
    EXPECT_EQ(c.line, e.GetLineNumber());
  }
  EXPECT_STREQ("", sql_yyGetToken());
  sql_yySetLexBuffer("SELECT x");
  EXPECT_EQ(sqltoken::kSelect, sql_yylex());
  EXPECT_EQ(sqltoken::kIdentifier, sql_yylex());
  EXPECT_STREQ("x", sql_yytext);
  EXPECT_EQ(sqltoken::kEnd, sql_yylex());
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, ScannerTooLong,
    ::testing::Values(
        TooLongCase{"StringLiteral", "a = '" + std::string(20000, 'z') + "'", 1},
        TooLongCase{"Identifier", "\n\nSELECT " + std::string(17000, 'q'), 3},
        TooLongCase{"Number", std::string(16385, '7'), 1},
        TooLongCase{"Comment", "a\n| " + std::string(16500, '-') + "\nb", 2},
        TooLongCase{"AsLookAhead", "a AS" + std::string(16500, ' ') + "b", 1}),
    [](auto const &info) { return std::string(info.param.name); });

long g_malCountdown = 0;  // the allocation of the library's allocator to refuse; 0: none
int RefuseCountedAllocation(size_t) { return g_malCountdown > 0 && --g_malCountdown == 0 ? 1 : 0; }

// A scanner that builds its buffers meets the allocator's failure hook at
// each of them in turn: the scan fails with std::bad_alloc, leaks nothing
// (LeakSanitizer at exit) and the next scan works.
TEST(Scanner, EachAllocationOfItsBuffersFailsThroughTheAllocatorAndTheNextScanWorks) {
  SQLParseSetMode(0);
  int failures = 0;
  for (long n = 1;; ++n) {
    ASSERT_LT(n, 20);
    sql_yylex_destroy();
    sql_yySetLexBuffer("SELECT x");
    g_malCountdown = n;
    mal_set_failure_hook(RefuseCountedAllocation);
    int code = 0;
    bool failed = false;
    try {
      code = sql_yylex();
    } catch (std::bad_alloc const &) {
      failed = true;
    }
    mal_set_failure_hook(nullptr);
    g_malCountdown = 0;
    if (!failed) {
      EXPECT_EQ(sqltoken::kSelect, code);
      break;
    }
    ++failures;
    EXPECT_EQ("SELECT identifier(x)", Render("SELECT x", kClassic)) << "after failure " << n;
  }
  // The state buffer, the buffer stack, the buffer state and its bytes.
  EXPECT_EQ(4, failures);
}

// Skips what the scanner may skip between tokens: blanks, newlines and
// comments. Returns the position of the next token's first byte.
size_t SkipGap(std::string const &text, size_t at, Mode mode) {
  while (at < text.size()) {
    char c = text[at];
    bool comment = (c == '|' && !(mode == kAnsi && at + 1 < text.size() && text[at + 1] == '|')) ||
                   (mode == kAnsi && c == '-' && at + 1 < text.size() && text[at + 1] == '-');
    if (comment) {
      while (at < text.size() && text[at] != '\n') ++at;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++at;
    } else {
      break;
    }
  }
  return at;
}

TEST(Scanner, RandomTextsAreCutWithoutGapsOrLostLines) {
  // Bytes that start or end tokens, quotes, comments and TSS escapes.
  std::string const alphabet = "aeSxX_0159 \t\n.,:$'\"|-#<>=!(?\x9B\xE9" "asetprd";
  uint32_t seed = 12345;
  long tokens = 0;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  for (int round = 0; round < 400; ++round) {
    std::string text;
    size_t const length = next() % (round % 50 == 0 ? 40000 : 300);
    for (size_t i = 0; i < length; ++i) {
      if (next() % 9 == 0) {
        char const *const words[] = {"as set ", "AS PREPARED\n", "_compnr", "company_nr",
                                     "true", "date.num", "\x9B\x41\x42\x43"};
        text += words[next() % 7];
      } else {
        text += alphabet[next() % alphabet.size()];
      }
    }
    for (Mode mode : {kClassic, kAnsi}) {
      SQLParseSetMode(mode == kAnsi ? parsemode::kAnsi : 0);
      sql_yySetLexBuffer(text.c_str());
      size_t at = 0;
      for (int code; (code = sql_yylex()) != sqltoken::kEnd;) {
        at = SkipGap(text, at, mode);
        ASSERT_GT(sql_yyleng, 0);
        ASSERT_EQ(text.substr(at, sql_yyleng), std::string(sql_yytext, sql_yyleng))
            << "round " << round << " at " << at;
        at += sql_yyleng;
        ++tokens;
      }
      EXPECT_EQ(text.size(), SkipGap(text, at, mode)) << "round " << round;
      EXPECT_EQ(1 + std::count(text.begin(), text.end(), '\n'), sql_yyGetLineNumber());
    }
  }
  EXPECT_GT(tokens, 100000);
}

TEST(Scanner, UnquotesQuotedTokens) {
  struct {
    char const *token;
    char const *unquoted;
  } const cases[] = {
      {"'it''s'", "it's"},
      {"''", ""},
      {"'a\"b'", "a\"b"},
      {"\"a\"\"b\"", "a\"b"},
      {"\"company_nr\"", "company_nr"},
      {"'''x'''", "'x'"},
      {"'a\x9B'bcd'", "a\x9B'bcd"},       // a quote inside a TSS character stays
      {"\"\x9B\"\"\"x\"", "\x9B\"\"\"x"},  // as do doubled quotes inside one
  };
  for (auto const &c : cases) EXPECT_STREQ(c.unquoted, SQLUnquote(c.token).get()) << c.token;
}

}  // namespace
