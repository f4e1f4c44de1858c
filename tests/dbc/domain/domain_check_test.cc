// Domain checks on hand-made columns and domains: every check with its
// boundary values and failure text, arrays, combined columns, the switch and
// the whole-row entries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <deque>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <molvane/datetime.h>

#include "dbc/dict/dd.h"
#include <molvane/zdb.h>
#include "dbc/domain/domain_check.h"
#include "dbc/dd_test_env.h"
#include "dbc/log_capture.h"
#include "platform/yy_expr.h"
#include "text/tss.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct DomainDef {
  DomainDef(int length = 0, const char *range = nullptr, int conversion = 0, int digits = 0,
             std::string legal = "", std::string illegal = "")
      : length(length), range(range), conversion(conversion), digits(digits),
        legal(std::move(legal)), illegal(std::move(illegal)) {}
  int length;
  const char *range;  // range expression text
  int conversion;     // 'u', 'l' or 0
  int digits;
  std::string legal;
  std::string illegal;
};

// Owns the domains and compiled ranges of one test.
class Domains {
 public:
  ~Domains() {
    for (YY_EXPR *e : ranges_) yy_free_express(e);
  }
  DD_DOMAIN *Make(int type, const DomainDef &def) {
    DD_DOMAIN &d = domains_.emplace_back();
    d.type = static_cast<uint8_t>(type);
    d.length = static_cast<int16_t>(def.length);
    d.value = def.conversion;
    d.digits_before = static_cast<uint8_t>(def.digits);
    if (def.range != nullptr) {
      YY_EXPR *e = yy_expr_compile(def.range, nullptr);
      EXPECT_NE(e, nullptr) << def.range;
      ranges_.push_back(e);
      d.range = e;
    }
    std::string &attrs = attributes_.emplace_back();
    attrs = def.legal + '\0' + def.illegal + '\0' + '\0' + '\0' + '\0';
    d.attributes = attrs.c_str();
    return &d;
  }

 private:
  std::deque<DD_DOMAIN> domains_;
  std::deque<std::string> attributes_;
  std::vector<YY_EXPR *> ranges_;
};

DD_COLUMN Column(const char *name, int type, DD_DOMAIN *domain, int offset, int element,
                 int depth = 1, bool fill = false) {
  DD_COLUMN c{};
  std::snprintf(c.name, sizeof c.name, "exdom010.%s", name);
  c.type = static_cast<uint8_t>(type);
  c.domain = domain;
  c.offset = static_cast<uint16_t>(offset);
  c.length = static_cast<uint16_t>(element * depth);
  c.depth = static_cast<uint8_t>(depth);
  if (depth > 1) c.flags |= DDF_ARRAY;
  if (fill) c.flags |= DDF_FILL;
  return c;
}

Bytes I32(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  return {static_cast<unsigned char>(u >> 24), static_cast<unsigned char>(u >> 16),
          static_cast<unsigned char>(u >> 8), static_cast<unsigned char>(u)};
}
Bytes I16(int v) { return {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)}; }
Bytes F4(double v) {
  Bytes b(4);
  float_in(v, b.data());
  return b;
}
Bytes F8(double v) {
  Bytes b(8);
  double_in(v, b.data());
  return b;
}
Bytes Text(const std::string &s, int length) {
  Bytes b(static_cast<size_t>(length), ' ');
  std::memcpy(b.data(), s.data(), std::min<size_t>(s.size(), b.size()));
  return b;
}

struct ValueCase {
  const char *what;
  int type;
  DomainDef def;
  bool fill;
  Bytes value;
  int expected;
  const char *text = nullptr;  // expected failure text, or null to skip
};

std::string Show(const testing::TestParamInfo<ValueCase> &info) {
  std::string name = info.param.what;
  for (char &c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

class ValueCheck : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ValueCheck, GivesItsResultAndText) {
  setenv("TSS_MODE", "1", 1);
  TssReloadSettings();
  const ValueCase &tc = GetParam();
  Domains domains;
  const int length = static_cast<int>(tc.value.size());
  DomainDef def = tc.def;
  if (def.length == 0) def.length = length;
  const DD_COLUMN c =
      Column("val", tc.type, domains.Make(tc.type, def), 0, length, 1, tc.fill);
  EXPECT_EQ(zdb_dd_check_value(&c, tc.value.data(), length), tc.expected);
  if (tc.expected == DDC_OK) {
    EXPECT_STREQ(zdb_dd_check_text(), "");
  }
  if (tc.text != nullptr) {
    EXPECT_STREQ(zdb_dd_check_text(), tc.text);
  }
}

const DomainDef kRange1to99{0, "1..99"};
const DomainDef kDigits2{0, nullptr, 0, 2};
const DomainDef kNone{};

INSTANTIATE_TEST_SUITE_P(
    Integers, ValueCheck,
    ::testing::Values(
        ValueCase{"zero must fill", DDT_LONG, kRange1to99, true, I32(0), DDC_FILL,
                  "exdom010.val not according to FILL (value 0)"},
        ValueCase{"zero outside range passes", DDT_LONG, kRange1to99, false, I32(0), DDC_OK},
        ValueCase{"in range", DDT_LONG, kRange1to99, true, I32(99), DDC_OK},
        ValueCase{"above range", DDT_LONG, kRange1to99, false, I32(100), DDC_RANG,
                  "exdom010.val not according to RANG (value 100)"},
        ValueCase{"negative short", DDT_SHORT, kRange1to99, false, I16(-2), DDC_RANG,
                  "exdom010.val not according to RANG (value -2)"},
        ValueCase{"byte 200", DDT_BYTE, kRange1to99, false, Bytes{200}, DDC_RANG,
                  "exdom010.val not according to RANG (value 200)"},
        ValueCase{"enum zero must fill", DDT_ENUM, kNone, true, Bytes{0}, DDC_FILL},
        ValueCase{"no range", DDT_LONG, kNone, false, I32(-7), DDC_OK},
        ValueCase{"date zero must fill", DDT_DATE, kRange1to99, true, I32(0), DDC_FILL,
                  "exdom010.val not according to FILL (value 0)"},
        ValueCase{"date ignores range", DDT_DATE, kRange1to99, true, I32(738000), DDC_OK},
        ValueCase{"time zero may stay empty", DDT_TIME, kNone, false, I32(0), DDC_OK},
        ValueCase{"set passes", DDT_SET, kRange1to99, true, I32(0), DDC_OK}),
    Show);

INSTANTIATE_TEST_SUITE_P(
    Reals, ValueCheck,
    ::testing::Values(
        ValueCase{"99.5 within 2 digits", DDT_DOUBLE, kDigits2, false, F8(99.5), DDC_OK},
        ValueCase{"100.0 has 3 digits", DDT_DOUBLE, kDigits2, false, F8(100.0), DDC_DIGV,
                  "exdom010.val not according to DIGV (value 100.000000)"},
        ValueCase{"-1000.0 passes digits", DDT_DOUBLE, kDigits2, false, F8(-1000.0), DDC_OK},
        ValueCase{"float 100 has 3 digits", DDT_FLOAT, kDigits2, false, F4(100.0), DDC_DIGV},
        ValueCase{"zero must fill", DDT_DOUBLE, kNone, true, F8(0.0), DDC_FILL,
                  "exdom010.val not according to FILL (value 0.000000)"},
        ValueCase{"zero outside range passes", DDT_DOUBLE, DomainDef{0, "1.5 .. 2.5"}, false,
                  F8(0.0), DDC_OK},
        ValueCase{"outside real range", DDT_DOUBLE, DomainDef{0, "1.5 .. 2.5"}, false, F8(2.75),
                  DDC_RANG, "exdom010.val not according to RANG (value 2.750000)"},
        ValueCase{"range before digits", DDT_DOUBLE, DomainDef{0, "< 50", 0, 2}, false,
                  F8(500.0), DDC_RANG},
        ValueCase{"unconstrained", DDT_DOUBLE, kNone, false, F8(1e300), DDC_OK}),
    Show);

const std::string kLongE = "\x9B\xBC\x81\xE9";   // e acute as a 4-byte character
const std::string kLongOrd = "\x9B\xBC\x81\xAA"; // feminine ordinal as a 4-byte character

INSTANTIATE_TEST_SUITE_P(
    Texts, ValueCheck,
    ::testing::Values(
        ValueCase{"blanks must fill", DDT_STRING, kNone, true, Text("", 4), DDC_FILL,
                  "exdom010.val not according to FILL (value '    ')"},
        ValueCase{"blanks may stay empty", DDT_STRING, DomainDef{0, "'B'..'C'"}, false,
                  Text("", 4), DDC_OK},
        ValueCase{"NUL first is empty", DDT_STRING, kNone, true, Bytes{0, 'A', 'B', 'C'},
                  DDC_FILL},
        ValueCase{"in text range", DDT_STRING, DomainDef{0, "'B'..'C'"}, false, Text("BX", 4),
                  DDC_OK},
        ValueCase{"outside text range", DDT_STRING, DomainDef{0, "'B'..'C'"}, false,
                  Text("D", 4), DDC_RANG, "exdom010.val not according to RANG (value 'D   ')"},
        ValueCase{"illegal character", DDT_STRING, DomainDef{0, nullptr, 0, 0, "", "#%"}, false,
                  Text("AB%", 4), DDC_ILCH, "exdom010.val not according to ILCH (value 'AB% ')"},
        ValueCase{"legal characters and blanks", DDT_STRING, DomainDef{0, nullptr, 0, 0, "AB"},
                  false, Text("A B", 5), DDC_OK},
        ValueCase{"character outside legal set", DDT_STRING, DomainDef{0, nullptr, 0, 0, "AB"},
                  false, Text("ABC", 4), DDC_LECH},
        ValueCase{"illegal before legal", DDT_STRING, DomainDef{0, nullptr, 0, 0, "AB", "C"},
                  false, Text("XC", 4), DDC_ILCH},
        ValueCase{"lower case in upper domain", DDT_STRING, DomainDef{0, nullptr, 'u'}, false,
                  Text("ABc", 4), DDC_CONV_U,
                  "exdom010.val not according to CONV:u (value 'ABc ')"},
        ValueCase{"ordinal indicators pass upper", DDT_STRING, DomainDef{0, nullptr, 'u'}, false,
                  Text("\xAA\xBA" "A1", 4), DDC_OK},
        ValueCase{"sharp s fails upper", DDT_STRING, DomainDef{0, nullptr, 'u'}, false,
                  Text("\xDF", 4), DDC_CONV_U},
        ValueCase{"upper case in lower domain", DDT_STRING, DomainDef{0, nullptr, 'l'}, false,
                  Text("abC", 4), DDC_CONV_L},
        ValueCase{"lower domain passes digits", DDT_STRING, DomainDef{0, nullptr, 'l'}, false,
                  Text("ab1", 4), DDC_OK},
        ValueCase{"mb blanks must fill", DDT_MBSTRING, kNone, true, Text("", 8), DDC_FILL},
        ValueCase{"mb 4-byte illegal", DDT_MBSTRING, DomainDef{0, nullptr, 0, 0, "", kLongE},
                  false, Text("A" + kLongE, 8), DDC_ILCH},
        ValueCase{"mb 4-byte legal", DDT_MBSTRING, DomainDef{0, nullptr, 0, 0, "A" + kLongE},
                  false, Text("A" + kLongE, 8), DDC_OK},
        ValueCase{"mb 4-byte outside legal", DDT_MBSTRING, DomainDef{0, nullptr, 0, 0, "AB"},
                  false, Text("A" + kLongE, 8), DDC_LECH},
        ValueCase{"mb lower case in upper domain", DDT_MBSTRING, DomainDef{0, nullptr, 'u'},
                  false, Text("AbC", 8), DDC_CONV_U},
        ValueCase{"mb range", DDT_MBSTRING, DomainDef{0, "'A'..'B'"}, false, Text("C", 8),
                  DDC_RANG},
        ValueCase{"raw zeros must fill", DDT_RAW, kNone, true, Bytes{0, 0, 0}, DDC_FILL,
                  "exdom010.val not according to FILL (value '000000')"},
        ValueCase{"raw zeros may stay empty", DDT_RAW, kNone, false, Bytes{0, 0, 0}, DDC_OK},
        ValueCase{"raw filled", DDT_RAW, kNone, true, Bytes{0, 0, 1}, DDC_OK}),
    Show);

// In the UTF-T mode 4-byte characters have letter case: a lower-case one
// fails an upper-case domain, except the ordinal indicators.
TEST(ValueCheckUtfT, FourByteLowerCaseFailsUpperDomainExceptOrdinals) {
  setenv("TSS_MODE", "2", 1);
  TssReloadSettings();
  initialize_icuwrappers();
  Domains domains;
  const DD_COLUMN c = Column("name", DDT_MBSTRING, domains.Make(DDT_MBSTRING, {8, nullptr, 'u'}),
                             0, 8);
  const Bytes lower = Text("A" + kLongE, 8);
  const Bytes ordinal = Text("A" + kLongOrd, 8);
  EXPECT_EQ(zdb_dd_check_value(&c, lower.data(), 8), DDC_CONV_U);
  EXPECT_EQ(zdb_dd_check_value(&c, ordinal.data(), 8), DDC_OK);
}

// exdom010: qty (long, 1..99, must fill), tags (3 x 2-byte text, upper case),
// combined pair of code and qty.
class RowCheck : public ::testing::Test {
 protected:
  RowCheck() {
    DD_DOMAIN *qty_dom = domains_.Make(DDT_LONG, {4, "1..99"});
    DD_DOMAIN *tag_dom = domains_.Make(DDT_STRING, {2, nullptr, 'u'});
    DD_DOMAIN *code_dom = domains_.Make(DDT_STRING, {4, nullptr, 0, 0, "", "#"});
    columns_[0] = Column("code", DDT_STRING, code_dom, 0, 4);
    columns_[1] = Column("pair", DDT_COMBINED, nullptr, 0, 0);
    columns_[2] = Column("qty", DDT_LONG, qty_dom, 4, 4, 1, true);
    columns_[3] = Column("tags", DDT_STRING, tag_dom, 8, 2, 3);
    members_[0] = &columns_[0];
    members_[1] = &columns_[2];
    columns_[1].members = members_;
    columns_[1].length = 8;
    table_.columns = columns_;
    table_.column_count = 4;
    table_.dlock_offset = 14;
    table_.row_length = 20;
    std::strcpy(table_.name, "exdom010");
    row_ = Text("AB", 20);
    const Bytes qty = I32(5);
    std::copy(qty.begin(), qty.end(), row_.begin() + 4);
    std::memcpy(row_.data() + 8, "XXYYZZ", 6);
  }
  ~RowCheck() override { zdb_dd_check_set_enabled(0); }

  Domains domains_;
  DD_COLUMN columns_[4];
  DD_COLUMN *members_[3] = {nullptr, nullptr, nullptr};
  DD_TABLE table_{};
  Bytes row_;
};

TEST_F(RowCheck, ValidRowPassesEveryEntry) {
  zdb_dd_check_set_enabled(1);
  EXPECT_EQ(zdb_domain_check(&table_, row_.data()), nullptr);
  EXPECT_EQ(zdb_dd_check(&table_, row_.data()), 1);
  for (const DD_COLUMN &c : columns_) EXPECT_EQ(zdb_dd_check_column(&c, row_.data()), 1) << c.name;
}

TEST_F(RowCheck, OneBadArrayElementFailsTheColumn) {
  std::memcpy(row_.data() + 10, "Yy", 2);
  const DD_COLUMN *failing = nullptr;
  EXPECT_EQ(zdb_dd_check_column_result(&columns_[3], row_.data(), &failing), DDC_CONV_U);
  EXPECT_EQ(failing, &columns_[3]);
  EXPECT_STREQ(zdb_dd_check_text(), "exdom010.tags not according to CONV:u (value 'Yy')");
  EXPECT_STREQ(zdb_domain_check(&table_, row_.data()), "exdom010.tags");
  EXPECT_STREQ(get_zdb_msg(), "exdom010.tags not according to CONV:u (value 'Yy')");
}

// Columns whose domain restricts nothing are not read, yet a passing row or
// column check still leaves no failure text of an earlier check behind.
TEST_F(RowCheck, APassingCheckEmptiesTheTextOfAnEarlierFailure) {
  std::memcpy(row_.data() + 10, "Yy", 2);
  EXPECT_EQ(zdb_dd_check_column_result(&columns_[3], row_.data(), nullptr), DDC_CONV_U);
  EXPECT_STRNE(zdb_dd_check_text(), "");
  std::memcpy(row_.data() + 10, "YY", 2);
  EXPECT_EQ(zdb_domain_check(&table_, row_.data()), nullptr);
  EXPECT_STREQ(zdb_dd_check_text(), "");
  EXPECT_EQ(zdb_dd_check_column_result(&columns_[3], row_.data(), nullptr), DDC_OK);
  EXPECT_STREQ(zdb_dd_check_text(), "");
}

TEST_F(RowCheck, CombinedColumnReportsTheMemberThatFails) {
  const Bytes qty = I32(0);
  std::copy(qty.begin(), qty.end(), row_.begin() + 4);
  const DD_COLUMN *failing = nullptr;
  EXPECT_EQ(zdb_dd_check_column_result(&columns_[1], row_.data(), &failing), DDC_FILL);
  EXPECT_EQ(failing, &columns_[2]);
  EXPECT_STREQ(zdb_domain_check(&table_, row_.data()), "exdom010.qty");
}

TEST_F(RowCheck, TheSwitchGovernsTheRowAndColumnChecksButNotTheHostCall) {
  row_[1] = '#';
  molvane::test::LogCapture log;
  EXPECT_EQ(zdb_dd_check_enabled(), 0) << "off at start";
  EXPECT_EQ(zdb_dd_check(&table_, row_.data()), 1);
  EXPECT_EQ(zdb_dd_check_column(&columns_[0], row_.data()), 1);
  EXPECT_STREQ(zdb_domain_check(&table_, row_.data()), "exdom010.code");
  EXPECT_TRUE(log.Lines().empty()) << "zdb_domain_check logs nothing";

  zdb_dd_check_set_enabled(1);
  EXPECT_EQ(zdb_dd_check(&table_, row_.data()), 0);
  EXPECT_TRUE(log.Contains("Check dd: exdom010.code not according to ILCH (value 'A#  ')"));
  EXPECT_EQ(zdb_dd_check_column(&columns_[0], row_.data()), 0);
  EXPECT_EQ(zdb_dd_check_column(&columns_[2], row_.data()), 1);
}

// The departments table of the fixture dictionary, with the domains as the
// dump loader builds them: code (must fill, 'A'..'Z' or '0'..'9', legal set,
// upper case), name (illegal "~^"), budget (>= 0, 10 digits), status (1..3).
class FixtureRowCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TSS_MODE", "1", 1);
    TssReloadSettings();
    molvane::test::UseFixtureDictionary();
    table_ = ddtable("exdep010");
    ASSERT_NE(table_, nullptr);
    row_.assign(table_->default_row, table_->default_row + table_->row_length);
    SetText("exdep010.code", "AB-12");
  }
  void SetText(const char *column, const std::string &text) {
    const DD_COLUMN *c = ddcolumn(column);
    ASSERT_NE(c, nullptr) << column;
    const Bytes value = Text(text, c->length);
    std::copy(value.begin(), value.end(), row_.begin() + c->offset);
  }
  void SetBytes(const char *column, const Bytes &value) {
    const DD_COLUMN *c = ddcolumn(column);
    ASSERT_NE(c, nullptr) << column;
    std::copy(value.begin(), value.end(), row_.begin() + c->offset);
  }
  const char *Check() { return zdb_domain_check(table_, row_.data()); }

  DD_TABLE *table_ = nullptr;
  Bytes row_;
};

TEST_F(FixtureRowCheck, DefaultRowWithACodePasses) {
  EXPECT_EQ(Check(), nullptr) << zdb_dd_check_text();
}

TEST_F(FixtureRowCheck, EachDomainOfTheDumpIsEnforced) {
  struct Case {
    const char *column;
    std::string text;
    Bytes bytes;
    const char *message;
  };
  const Case cases[] = {
      {"exdep010.code", "", {}, "exdep010.code not according to FILL (value '      ')"},
      {"exdep010.code", "ab", {}, "exdep010.code not according to RANG (value 'ab    ')"},
      {"exdep010.code", "A/", {}, "exdep010.code not according to LECH (value 'A/    ')"},
      {"exdep010.name", "Sales~", {},
       "exdep010.name not according to ILCH (value 'Sales~              ')"},
      {"exdep010.budget", "", F8(-0.5), "exdep010.budget not according to RANG (value -0.500000)"},
      {"exdep010.budget", "", F8(1e10),
       "exdep010.budget not according to DIGV (value 10000000000.000000)"},
      {"exdep010.status", "", Bytes{4}, "exdep010.status not according to RANG (value 4)"},
  };
  for (const Case &tc : cases) {
    SetUp();
    if (tc.bytes.empty())
      SetText(tc.column, tc.text);
    else
      SetBytes(tc.column, tc.bytes);
    EXPECT_STREQ(Check(), tc.column) << tc.column << " " << tc.text;
    EXPECT_STREQ(zdb_dd_check_text(), tc.message);
  }
}

// Random tables of integer, date, text and real columns (arrays, must-fill
// flags, combined columns, ranges with and without an interval table, of
// one, few and many intervals, elements too short for their type) and
// random rows with values at and around the interval bounds: the row check
// names the same first failing column, with the same text, as the column
// checks in dictionary order.
struct RandomTable {
  Domains domains;
  std::deque<DD_COLUMN> columns;  // the table's columns, then combined members
  std::vector<DD_COLUMN *> members;
  std::vector<DD_COLUMN> top;
  DD_TABLE table{};
};

TEST(RowCheckProperty, SameFirstFailureAsTheColumnChecks) {
  setenv("TSS_MODE", "1", 1);
  TssReloadSettings();
  const char *const kRanges[] = {
      nullptr, "1..99", "-5..5, 100, 200..300", "> 10", "not 10..19", ">= -5 and <= 5 and <> 0",
      "$ * 2 < 100", "1..9, 20, 30..39, 50..59, 70..79, 90..99, 110..119, 130..139, 150..159, 170",
      "-2147483647..-1", "0..2147483647", "7", "100..200, 1..5"};
  const int32_t kValues[] = {0,   1,   -1,  2,   5,   -5,  6,   -6,  9,   10,  11,  19,  20,
                             21,  39,  40,  49,  50,  98,  99,  100, 101, 159, 170, 171, 199,
                             200, 255, 300, 301, -32768, 32767, INT32_MIN, INT32_MAX};
  std::mt19937 rng(20261207);
  auto pick = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  std::deque<RandomTable> tables;
  for (int t = 0; t < 40; ++t) {
    RandomTable &rt = tables.emplace_back();
    const int count = 1 + static_cast<int>(pick(8));
    int offset = 0;
    for (int c = 0; c < count; ++c) {
      static const int kTypes[] = {DDT_LONG, DDT_LONG, DDT_LONG, DDT_SHORT, DDT_BYTE, DDT_ENUM,
                                   DDT_DATE, DDT_TIME,  DDT_STRING, DDT_DOUBLE};
      const int type = kTypes[pick(std::size(kTypes))];
      const std::string name = "c" + std::to_string(c);
      const bool fill = pick(3) == 0;
      if (type == DDT_STRING) {
        rt.top.push_back(Column(name.c_str(), type, rt.domains.Make(type, {4, nullptr, 'u'}), offset, 4, 1, fill));
        offset += 4;
        continue;
      }
      if (type == DDT_DOUBLE) {
        rt.top.push_back(Column(name.c_str(), type, rt.domains.Make(type, {8, "1.5 .. 2.5"}), offset, 8, 1, fill));
        offset += 8;
        continue;
      }
      const int width = type == DDT_SHORT ? 2 : type == DDT_BYTE || type == DDT_ENUM ? 1 : 4;
      const int depth = pick(4) == 0 ? 2 + static_cast<int>(pick(2)) : 1;
      // Now and then a domain length below the type's width: such values are not read.
      const int element = pick(10) == 0 && width > 1 ? width / 2 : width;
      DomainDef def{element, kRanges[pick(std::size(kRanges))]};
      rt.top.push_back(Column(name.c_str(), type, rt.domains.Make(type, def), offset, width, depth, fill));
      offset += width * depth;
    }
    // A combined column over the first two, placed between them.
    if (count >= 2 && pick(2) == 0) {
      rt.members = {&rt.columns.emplace_back(rt.top[0]), &rt.columns.emplace_back(rt.top[1]), nullptr};
      DD_COLUMN combined = Column("pair", DDT_COMBINED, nullptr, 0, 0);
      combined.members = rt.members.data();
      combined.length = static_cast<uint16_t>(rt.top[0].length + rt.top[1].length);
      rt.top.insert(rt.top.begin() + 1, combined);
    }
    rt.table.columns = rt.top.data();
    rt.table.column_count = static_cast<int16_t>(rt.top.size());
    rt.table.row_length = static_cast<uint16_t>(offset);
    std::strcpy(rt.table.name, "exdom010");
  }
  int failures = 0;
  for (int round = 0; round < 3000; ++round) {
    RandomTable &rt = tables[pick(tables.size())];
    Bytes row(rt.table.row_length);
    for (const DD_COLUMN &c : rt.top) {
      if (c.type == DDT_COMBINED) continue;
      if (c.type == DDT_STRING) {
        std::memcpy(row.data() + c.offset, pick(3) == 0 ? "Ab  " : pick(2) ? "AB  " : "    ", 4);
      } else if (c.type == DDT_DOUBLE) {
        const Bytes v = F8(pick(3) == 0 ? 0.0 : pick(2) ? 2.0 : 3.0);
        std::copy(v.begin(), v.end(), row.begin() + c.offset);
      } else {
        const int depth = c.depth > 1 ? c.depth : 1;
        const int width = c.length / depth;
        for (int e = 0; e < depth; ++e) {
          const int32_t v = pick(8) == 0 ? static_cast<int32_t>(rng()) : kValues[pick(std::size(kValues))];
          const Bytes bytes = width == 4 ? I32(v) : width == 2 ? I16(v) : Bytes{static_cast<unsigned char>(v)};
          std::copy(bytes.begin(), bytes.end(), row.begin() + c.offset + e * width);
        }
      }
    }
    const char *fast = zdb_domain_check(&rt.table, row.data());
    const std::string fastText = zdb_dd_check_text();
    const char *general = nullptr;
    std::string generalText;
    for (const DD_COLUMN &c : rt.top) {
      const DD_COLUMN *failing = nullptr;
      if (zdb_dd_check_column_result(&c, row.data(), &failing) != DDC_OK) {
        general = failing->name;
        generalText = zdb_dd_check_text();
        break;
      }
    }
    // Members of combined columns are copies: the names tell the columns.
    EXPECT_STREQ(fast != nullptr ? fast : "(none)", general != nullptr ? general : "(none)") << "round " << round;
    EXPECT_EQ(fastText, generalText) << "round " << round;
    failures += general != nullptr;
  }
  EXPECT_GT(failures, 300) << "the rows exercise both outcomes";
  EXPECT_LT(failures, 2700) << "the rows exercise both outcomes";
}

TEST(DomainConstraints, DependOnTheColumnType) {
  Domains domains;
  struct Case {
    int type;
    DomainDef def;
    int expected;
  };
  const Case cases[] = {
      {DDT_LONG, {4, "1..9"}, 1},  {DDT_LONG, {4}, 0},
      {DDT_ENUM, {1, "1..9"}, 1},  {DDT_DATE, {4, "1..9"}, 0},
      {DDT_DOUBLE, {8, nullptr, 0, 3}, 1}, {DDT_FLOAT, {4}, 0},
      {DDT_STRING, {4, nullptr, 'u'}, 1}, {DDT_STRING, {4, nullptr, 0, 0, "AB"}, 1},
      {DDT_MBSTRING, {4, nullptr, 0, 0, "", "#"}, 1}, {DDT_MBSTRING, {4}, 0},
      {DDT_RAW, {4, "1..9"}, 0},
  };
  for (const Case &tc : cases) {
    const DD_COLUMN c = Column("c", tc.type, domains.Make(tc.type, tc.def), 0, tc.def.length);
    EXPECT_EQ(zdb_dd_column_has_domain_constraints(&c), tc.expected) << tc.type;
  }
  DD_COLUMN combined = Column("c", DDT_COMBINED, nullptr, 0, 0);
  EXPECT_EQ(zdb_dd_column_has_domain_constraints(&combined), 0);
}

TEST(DomainKeywords, NameEveryResult) {
  const char *expected[] = {"No domain errors", "FILL",   "RANG",   "ILCH",
                            "LECH",             "CONV:u", "CONV:l", "DIGV"};
  for (int code = 0; code <= DDC_DIGV; ++code)
    EXPECT_STREQ(zdb_dd_check_keyword(code), expected[code]);
  EXPECT_EQ(zdb_dd_check_keyword(8), nullptr);
}

}  // namespace
