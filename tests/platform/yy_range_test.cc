#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/yy_expr.h"
#include "platform/yy_range.h"
#include "platform/yy_role_condition_cases.h"

namespace {

// A sample row: the values the get callback hands out by name. Strings come
// back through one shared buffer, as a caller that strips blanks in place
// would do, so the engine must copy each before the next lookup.
struct Row {
  std::map<std::string, YY_VALUE> values;
  std::map<std::string, std::string> texts;
  std::vector<std::string> asked;
};
Row *g_row = nullptr;
std::string g_buffer;

void get_from_row(const char *name, YY_VALUE *cell) {
  if (!g_row) return;
  g_row->asked.push_back(name);
  if (auto t = g_row->texts.find(name); t != g_row->texts.end()) {
    g_buffer = t->second;
    cell->kind = YY_STRING;
    cell->sval = g_buffer.data();
    cell->slen = g_buffer.size();
    return;
  }
  if (auto v = g_row->values.find(name); v != g_row->values.end()) *cell = v->second;
}

YY_VALUE int_value(int32_t v) {
  YY_VALUE c{};
  c.kind = YY_INTEGER;
  c.ival = v;
  return c;
}
YY_VALUE real_value(double v) {
  YY_VALUE c{};
  c.kind = YY_REAL;
  c.rval = v;
  return c;
}

struct ExprDeleter {
  void operator()(YY_EXPR *e) const { yy_free_express(e); }
};
using ExprPtr = std::unique_ptr<YY_EXPR, ExprDeleter>;

ExprPtr compile(const std::string &text) {
  yy_expr_errno = 0;
  ExprPtr e(yy_expr_compile(text.c_str(), nullptr));
  EXPECT_TRUE(e) << text << ": error " << yy_expr_errno << " at " << yy_expr_errpos;
  return e;
}

class RangeExpr : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const role_condition_cases::Column &col : role_condition_cases::kSampleRow) {
      if (col.kind == YY_STRING) row_.texts[col.name] = col.sval;
      else row_.values[col.name] = col.kind == YY_INTEGER ? int_value(col.ival) : real_value(col.rval);
    }
    row_.values["tab.col"] = int_value(7);
    row_.values["or."] = int_value(5);
    g_row = &row_;
    yy_set_setid_getid(nullptr, get_from_row);
  }

  void TearDown() override { g_row = nullptr; }

  bool eval_row(const std::string &text) {
    ExprPtr e = compile(text);
    return e && yy_b_express(e.get(), YY_NONE, nullptr) != 0;
  }

  Row row_;
};

// Role conditions over named values: precedence, associativity, keywords,
// literals and operators as the SQL layer's role-condition parser reads them.
TEST_F(RangeExpr, RoleConditionsOverNamedValues) {
  for (const role_condition_cases::Case &c : role_condition_cases::kCases)
    EXPECT_EQ(c.expected, eval_row(c.text)) << c.text;
  EXPECT_TRUE(eval_row("andx = 4 and or. = 5"));  // "or." is a name, not the keyword
}

// The forms added for domain ranges, for every kind of value under test.
TEST_F(RangeExpr, DomainRangesForEachValueKind) {
  struct Case {
    const char *text;
    int kind;
    double number;  // the value for integer and real kinds
    const char *str;
    bool expected;
  } cases[] = {
      {"1..99", YY_INTEGER, 1, nullptr, true},
      {"1..99", YY_INTEGER, 99, nullptr, true},
      {"1..99", YY_INTEGER, 100, nullptr, false},
      {"1..99", YY_INTEGER, 0, nullptr, false},
      {"1..9, 20, 30..39", YY_INTEGER, 20, nullptr, true},
      {"1..9, 20, 30..39", YY_INTEGER, 35, nullptr, true},
      {"1..9, 20, 30..39", YY_INTEGER, 21, nullptr, false},
      {"5", YY_INTEGER, 5, nullptr, true},
      {"(5)", YY_INTEGER, 5, nullptr, true},
      {"-5..-1", YY_INTEGER, -3, nullptr, true},
      {"> 0", YY_INTEGER, 1, nullptr, true},
      {"> 0", YY_INTEGER, 0, nullptr, false},
      {">= -5 and <= 5 and <> 0", YY_INTEGER, -5, nullptr, true},
      {">= -5 and <= 5 and <> 0", YY_INTEGER, 0, nullptr, false},
      {"not 10..19", YY_INTEGER, 15, nullptr, false},
      {"not 10..19", YY_INTEGER, 25, nullptr, true},
      {"NOT (1, 2)", YY_INTEGER, 3, nullptr, true},
      {"not not 3", YY_INTEGER, 3, nullptr, true},
      {"$ * 2 < 100", YY_INTEGER, 49, nullptr, true},
      {"$ * 2 < 100", YY_INTEGER, 50, nullptr, false},
      {"$ in (1, 2, 3) or $ > 1000", YY_INTEGER, 2, nullptr, true},
      {"$ in (1, 2, 3) or $ > 1000", YY_INTEGER, 4, nullptr, false},
      {"$ not in (1..3)", YY_INTEGER, 4, nullptr, true},
      {"$ IN (1..3)", YY_INTEGER, 4, nullptr, false},
      {"$ = a", YY_INTEGER, 1, nullptr, true},
      {"-0.5 .. 0.5", YY_REAL, 0.25, nullptr, true},
      {"-0.5..0.5", YY_REAL, 0.75, nullptr, false},
      {"1..99", YY_REAL, 99.5, nullptr, false},
      {"1..99", YY_REAL, 98.5, nullptr, true},
      {"> 1.5", YY_REAL, 1.5, nullptr, false},
      {"'A'..'Z', '0'..'9'", YY_STRING, 0, "Q", true},
      {"'A'..'Z', '0'..'9'", YY_STRING, 0, "Q   ", true},  // padded as stored
      {"'A'..'Z', '0'..'9'", YY_STRING, 0, "q", false},
      {"\"Y\", \"N\"", YY_STRING, 0, "N ", true},
      {"\"Y\", \"N\"", YY_STRING, 0, "X", false},
      {"$ & 'x' = 'abx'", YY_STRING, 0, "ab", true},
      {"1..99", YY_STRING, 0, "5", false},  // a string is no number
      {"1..99", YY_NONE, 0, nullptr, false},
      {"not 1..99", YY_NONE, 0, nullptr, false},
      {"a = 1", YY_NONE, 0, nullptr, true},
  };
  for (const Case &c : cases) {
    ExprPtr e = compile(c.text);
    if (!e) continue;
    int32_t i = static_cast<int32_t>(c.number);
    double d = c.number;
    const void *value = c.kind == YY_INTEGER ? static_cast<const void *>(&i)
                        : c.kind == YY_REAL  ? static_cast<const void *>(&d)
                                             : static_cast<const void *>(c.str);
    EXPECT_EQ(c.expected, yy_b_express(e.get(), c.kind, value) != 0)
        << c.text << " kind " << c.kind << " value " << c.number << (c.str ? c.str : "");
  }
}

TEST(RangeExprErrors, ReportNumberAndPosition) {
  struct Case {
    const char *text;
    int error;
    size_t pos;
  } cases[] = {
      {"", YY_ERR_END, 0},
      {"   ", YY_ERR_END, 3},
      {"a = -b", YY_ERR_TOKEN, 5},
      {"a = -(1)", YY_ERR_TOKEN, 5},
      {"a = 1 a", YY_ERR_TOKEN, 6},
      {"a =", YY_ERR_END, 3},
      {"a = 1 and", YY_ERR_END, 9},
      {"a < b < c", YY_ERR_TOKEN, 6},
      {"a = 12345678901", YY_ERR_RANGE, 4},
      {"a = 2147483648", YY_ERR_RANGE, 4},
      {"a = -2147483648", YY_ERR_RANGE, 5},
      {"a = 1e999999", YY_ERR_TOKEN, 5},  // the integer 1 and the name e999999
      {"a = 1.5e999", YY_ERR_RANGE, 4},
      {"a = 1e3", YY_ERR_TOKEN, 5},
      {"a = 'open", YY_ERR_STRING, 4},
      {"a # 1", YY_ERR_CHAR, 2},
      {"a = 1\r", YY_ERR_CHAR, 5},
      {"a ! 1", YY_ERR_CHAR, 2},
      {"a . b", YY_ERR_CHAR, 2},
      {"a = \xe9", YY_ERR_CHAR, 4},
      {"a", YY_ERR_KIND, 0},
      {"a + 1", YY_ERR_KIND, 0},
      {"a = 1 + (b = 2)", YY_ERR_KIND, 8},
      {"(a = 1) = 2", YY_ERR_KIND, 0},
      {"a = 1 and b", YY_ERR_KIND, 10},
      {"a, 1", YY_ERR_TOKEN, 1},
      {"1..a", YY_ERR_TOKEN, 3},
      {"$ in (1, b)", YY_ERR_TOKEN, 9},
      {"$ in (1", YY_ERR_END, 7},
      {"(a = 1", YY_ERR_END, 6},
      {"a = 1)", YY_ERR_TOKEN, 5},
  };
  for (const Case &c : cases) {
    yy_expr_errno = 0;
    EXPECT_EQ(nullptr, yy_expr_compile(c.text, nullptr)) << c.text;
    EXPECT_EQ(c.error, yy_expr_errno) << c.text;
    EXPECT_EQ(c.pos, yy_expr_errpos) << c.text;
  }
  yy_expr_errno = 0;
  EXPECT_EQ(nullptr, yy_expr_compile(nullptr, nullptr));
  EXPECT_EQ(YY_ERR_ARG, yy_expr_errno);
  EXPECT_STREQ("unexpected token", yy_expr_strerror(YY_ERR_TOKEN));
}

TEST(RangeExprErrors, DeepNestingAndLongChainsAreRefused) {
  yy_expr_errno = 0;
  std::string nested = std::string(300, '(') + "1" + std::string(300, ')');
  EXPECT_EQ(nullptr, yy_expr_compile(nested.c_str(), nullptr));
  EXPECT_EQ(YY_ERR_DEPTH, yy_expr_errno);

  std::string chain = "a = 0";
  for (int k = 0; k < 3000; ++k) chain += " + 1";
  yy_expr_errno = 0;
  EXPECT_EQ(nullptr, yy_expr_compile(chain.c_str(), nullptr));
  EXPECT_EQ(YY_ERR_DEPTH, yy_expr_errno);

  std::string nots;
  for (int k = 0; k < 100000; ++k) nots += "not ";
  nots += "1";
  yy_expr_errno = 0;
  EXPECT_EQ(nullptr, yy_expr_compile(nots.c_str(), nullptr));
  EXPECT_EQ(YY_ERR_DEPTH, yy_expr_errno);

  // A long list is flat and fine.
  std::string list = "0";
  for (int k = 1; k < 5000; ++k) list += ", " + std::to_string(k);
  ExprPtr e = compile(list);
  int32_t v = 4999;
  EXPECT_TRUE(yy_b_express(e.get(), YY_INTEGER, &v));
}

TEST(RangeExprErrors, SuccessLeavesTheErrorWordAlone) {
  yy_expr_errno = 42;
  ExprPtr e(yy_expr_compile("1..2", nullptr));
  EXPECT_TRUE(e);
  EXPECT_EQ(42, yy_expr_errno);
}

std::vector<void *> g_blocks;
void *counting_alloc(size_t size) {
  void *p = std::malloc(size);
  g_blocks.push_back(p);
  return p;
}
void *failing_alloc(size_t) { return nullptr; }

TEST(RangeExprStorage, CallerAllocatedBlockIsLeftToTheCaller) {
  YY_EXPR *e = yy_expr_compile("'A'..'F', 'X'", counting_alloc);
  ASSERT_TRUE(e);
  ASSERT_EQ(1u, g_blocks.size());
  yy_free_express(e);  // not the library's block: left alone (ASan sees a double free)
  EXPECT_TRUE(yy_b_express(e, YY_STRING, "X"));
  std::free(g_blocks[0]);
  g_blocks.clear();
}

TEST(RangeExprStorage, ByteCopyOfABlockEvaluatesTheSame) {
  size_t last_size = 0;
  static size_t *size_out = &last_size;
  yy_alloc_fn alloc = [](size_t size) -> void * {
    *size_out = size;
    return std::malloc(size);
  };
  YY_EXPR *e = yy_expr_compile("'A'..'F', 'X' or $ & 'y' = 'long texty'", alloc);
  ASSERT_TRUE(e);
  alignas(8) static unsigned char moved[4096];
  ASSERT_LE(last_size, sizeof moved);
  std::memcpy(moved, e, last_size);
  std::memset(static_cast<void *>(e), 0xAB, last_size);
  std::free(e);
  auto *m = reinterpret_cast<YY_EXPR *>(moved);
  EXPECT_TRUE(yy_b_express(m, YY_STRING, "C"));
  EXPECT_TRUE(yy_b_express(m, YY_STRING, "long text"));
  EXPECT_FALSE(yy_b_express(m, YY_STRING, "G"));
}

// An INTEGER subject's test over integer constants is kept as intervals and
// decided from them; the evaluator's walk over the nodes must agree (the
// same block with the interval flag cleared walks the nodes), at the bounds,
// the ends of the range and in between.
TEST(RangeExprStorage, IntervalTablesAgreeWithTheEvaluator) {
  const std::vector<std::string> parts = {"1..9", "20", "-5", "30..39", ">= 1000", "<= -2000", "< 0", "> 7",
                                          "<> 3", "= 4", "2147483647", "-2147483648", "8..2"};
  std::mt19937 rng(17);
  int with_table = 0;
  for (int round = 0; round < 400; ++round) {
    std::string text;
    for (int k = 0, n = 1 + static_cast<int>(rng() % 4); k < n; ++k) {
      if (k) text += (rng() % 3 == 0) ? " and " : (rng() % 2 ? ", " : " or ");
      if (rng() % 5 == 0) text += "not ";
      text += parts[rng() % parts.size()];
    }
    size_t size = 0;
    static size_t *size_out = &size;
    YY_EXPR *e = yy_expr_compile(text.c_str(), [](size_t n) -> void * {
      *size_out = n;
      return std::malloc(n);
    });
    if (e == nullptr) continue;
    std::vector<unsigned char> walk(reinterpret_cast<unsigned char *>(e), reinterpret_cast<unsigned char *>(e) + size);
    auto *plain = reinterpret_cast<YY_EXPR *>(walk.data());
    if (plain->flags & yy::kIntervals) ++with_table;
    plain->flags &= ~yy::kIntervals;
    for (int64_t v64 : {int64_t{INT32_MIN}, int64_t{INT32_MIN} + 1, int64_t{-2001}, int64_t{-2000}, int64_t{-6},
                        int64_t{-5}, int64_t{-1}, int64_t{0}, int64_t{1}, int64_t{2}, int64_t{3}, int64_t{4},
                        int64_t{7}, int64_t{8}, int64_t{9}, int64_t{10}, int64_t{20}, int64_t{21}, int64_t{30},
                        int64_t{39}, int64_t{40}, int64_t{999}, int64_t{1000}, int64_t{INT32_MAX} - 1,
                        int64_t{INT32_MAX}}) {
      auto v = static_cast<int32_t>(v64);
      ASSERT_EQ(yy_b_express(e, YY_INTEGER, &v), yy_b_express(plain, YY_INTEGER, &v)) << text << " at " << v;
    }
    std::free(e);
  }
  EXPECT_GT(with_table, 150);  // "not" before an operator is a name: no table
}

// Tables of every length, up to the most the compiler keeps: the test of
// the first interval, the tests of all intervals of short tables and the
// search by halves of long ones must each agree with the walk over the
// nodes, at and beside every bound and at the ends of the int range. The
// blocks are exactly as large as the compiler asks, so AddressSanitizer
// reports a read past the table.
TEST(RangeExprStorage, IntervalTablesOfEveryLengthAgreeWithTheEvaluator) {
  std::mt19937 rng(29);
  std::set<uint32_t> counts;
  for (int round = 0; round < 1200; ++round) {
    const size_t wanted = round < 1000 ? static_cast<size_t>(round % 25) : 40 + rng() % 25;
    // Ascending distinct bounds, close together so that bounds meet their
    // neighbours' (merged intervals make shorter tables), at times at the
    // ends of the int range.
    std::set<int64_t> points;
    int64_t at = round % 7 == 0 ? int64_t{INT32_MIN} : -500 + static_cast<int64_t>(rng() % 100);
    while (points.size() < 2 * wanted) {
      points.insert(at);
      at += 1 + static_cast<int64_t>(rng() % (rng() % 4 == 0 ? 2 : 40));
    }
    std::vector<int64_t> bounds(points.begin(), points.end());
    if (round % 5 == 0 && !bounds.empty()) bounds.back() = INT32_MAX;
    std::vector<std::string> items;
    for (size_t k = 0; k + 1 < bounds.size(); k += 2) {
      const int64_t low = bounds[k], high = bounds[k + 1] - (rng() % 3 == 0 ? bounds[k + 1] - low : 0);
      // The scanner reads no literal below -2147483647: the lowest int is
      // reached through a comparison.
      if (low == INT32_MIN) items.push_back(high == low ? "< -2147483647" : "<= " + std::to_string(high));
      else if (high == INT32_MAX && rng() % 2) items.push_back(">= " + std::to_string(low));
      else if (low == high) items.push_back(std::to_string(low));
      else items.push_back(std::to_string(low) + ".." + std::to_string(high));
    }
    std::shuffle(items.begin(), items.end(), rng);
    std::string text = items.empty() ? "8..2" : "";
    auto comparison = [](const std::string &item) { return item[0] == '<' || item[0] == '>'; };
    for (size_t k = 0; k < items.size(); ++k) {  // a comparison is no list item: "or" joins it
      if (k) text += comparison(items[k]) || comparison(items[k - 1]) || rng() % 4 == 0 ? " or " : ", ";
      text += items[k];
    }

    size_t size = 0;
    static size_t *size_out = &size;
    YY_EXPR *e = yy_expr_compile(text.c_str(), [](size_t n) -> void * {
      *size_out = n;
      return std::malloc(n);
    });
    ASSERT_TRUE(e) << text;
    ASSERT_TRUE(e->flags & yy::kIntervals) << text;
    uint32_t count = 0;
    yy::expr_intervals(e, &count);
    counts.insert(count);
    std::vector<unsigned char> walk(reinterpret_cast<unsigned char *>(e), reinterpret_cast<unsigned char *>(e) + size);
    auto *plain = reinterpret_cast<YY_EXPR *>(walk.data());
    plain->flags &= ~yy::kIntervals;

    std::vector<int64_t> values = {INT32_MIN, int64_t{INT32_MIN} + 1, -1, 0, 1, int64_t{INT32_MAX} - 1, INT32_MAX};
    for (int64_t b : bounds) {
      for (int64_t d = -2; d <= 2; ++d) values.push_back(b + d);
    }
    for (int64_t v64 : values) {
      if (v64 < INT32_MIN || v64 > INT32_MAX) continue;
      auto v = static_cast<int32_t>(v64);
      ASSERT_EQ(yy_b_express(e, YY_INTEGER, &v), yy_b_express(plain, YY_INTEGER, &v))
          << text << " at " << v << " (" << count << " intervals)";
    }
    std::free(e);
  }
  for (uint32_t n = 0; n <= 20; ++n) EXPECT_TRUE(counts.count(n)) << n << " intervals never compiled";
  EXPECT_GT(*counts.rbegin(), 32u);
}

TEST(RangeExprStorage, AllocationFailureIsACompileError) {
  yy_expr_errno = 0;
  EXPECT_EQ(nullptr, yy_expr_compile("1..2", failing_alloc));
  EXPECT_EQ(YY_ERR_MEMORY, yy_expr_errno);
}

TEST(RangeExprStorage, NullExpressionRestrictsNothing) {
  int32_t v = 1;
  EXPECT_TRUE(yy_b_express(nullptr, YY_INTEGER, &v));
  yy_free_express(nullptr);
}

int set_stub(const char *, const YY_VALUE *) { return 0; }
void get_stub(const char *, YY_VALUE *) {}

TEST(RangeExprCallbacks, InstallAndReadLeavingNullOnesUnchanged) {
  yy_set_setid_getid(set_stub, get_stub);
  yy_setid_fn set = nullptr;
  yy_getid_fn get = nullptr;
  yy_get_setid_getid(&set, &get);
  EXPECT_EQ(set_stub, set);
  EXPECT_EQ(get_stub, get);
  yy_set_setid_getid(nullptr, get_from_row);
  yy_get_setid_getid(&set, &get);
  EXPECT_EQ(set_stub, set);
  EXPECT_EQ(get_from_row, get);
  yy_get_setid_getid(nullptr, nullptr);
}

TEST_F(RangeExpr, NamesReachTheCallbackAsWritten) {
  EXPECT_TRUE(eval_row("tab.col = 7 and v$ = 9 and s & t = 'ABcd'"));
  EXPECT_EQ((std::vector<std::string>{"tab.col", "v$", "s", "t"}), row_.asked);
}

TEST(RangeExprCallbacks, NamesWithoutValueAreUnknown) {
  yy_set_setid_getid(nullptr, get_stub);
  ExprPtr e = compile("a = 1 or not a = 1");
  EXPECT_FALSE(yy_b_express(e.get(), YY_NONE, nullptr));
}

// Random texts from the language's pieces: compiling never crashes, a
// failure always sets the error word, and whatever compiles evaluates.
TEST_F(RangeExpr, RandomTextsCompileOrFailCleanly) {
  const char *pieces[] = {"a", "s", "$", "1", "-", "2.5", "'x'", "\"q\"", "..", ",", "=", "<>",
                          "<", ">=", "+", "*", "/", "\\", "&", "(", ")", "and", "or", "not",
                          "in", " ", "'", ".", "!"};
  std::mt19937 rng(3);
  int compiled = 0;
  for (int round = 0; round < 5000; ++round) {
    std::string text;
    for (int k = static_cast<int>(rng() % 10); k >= 0; --k) text += pieces[rng() % std::size(pieces)];
    yy_expr_errno = 0;
    ExprPtr e(yy_expr_compile(text.c_str(), nullptr));
    if (!e) {
      EXPECT_NE(0, yy_expr_errno) << text;
      EXPECT_LE(yy_expr_errpos, text.size()) << text;
      continue;
    }
    ++compiled;
    int32_t v = static_cast<int32_t>(rng() % 5);
    yy_b_express(e.get(), YY_INTEGER, &v);
    yy_b_express(e.get(), YY_STRING, "x");
  }
  EXPECT_GT(compiled, 100);
}

}  // namespace
