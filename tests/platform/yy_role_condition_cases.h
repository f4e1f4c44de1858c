// Role conditions with their truth on one sample row, shared by the tests of
// the two readers of role-condition texts: the platform's range-expression
// engine and the SQL layer's role-condition parser must agree on every case
// marked for both.
#ifndef MOLVANE_TESTS_PLATFORM_YY_ROLE_CONDITION_CASES_H
#define MOLVANE_TESTS_PLATFORM_YY_ROLE_CONDITION_CASES_H

#include <cstdint>

namespace role_condition_cases {

// One column of the sample row; kind 1 integer, 2 real, 3 string (stored
// blank-padded, handed over with trailing blanks stripped).
struct Column {
  const char *name;
  int kind;
  int32_t ival;
  double rval;
  const char *sval;
};

inline constexpr Column kSampleRow[] = {
    {"a", 1, 1, 0, nullptr},          {"b", 1, 2, 0, nullptr},
    {"c", 1, 3, 0, nullptr},          {"big", 1, 2147483647, 0, nullptr},
    {"r", 2, 0, 2.5, nullptr},        {"s", 3, 0, 0, "AB"},
    {"t", 3, 0, 0, "cd"},             {"q", 3, 0, 0, "it's"},
    {"v$", 1, 9, 0, nullptr},         {"not", 1, 1, 0, nullptr},
    {"andx", 1, 4, 0, nullptr},
};

struct Case {
  const char *text;
  bool expected;  // the condition holds for the sample row
  bool both;      // false: only the expression engine gives this answer (the
                  // SQL layer raises an error instead, or knows no such name)
};

inline constexpr Case kCases[] = {
    {"a = 1 or b = 2 and c = 4", true, true},  // or binds looser than and
    {"(a = 1 or b = 2) and c = 4", false, true},
    {"a = 2 or b = 2 and c = 3", true, true},
    {"c - b - a = 0", true, true},  // (c - b) - a
    {"a + b * c = 7", true, true},  // a + (b * c)
    {"(a + b) * c = 9", true, true},
    {"(a + b) = c", true, true},
    {"(a = a)", true, true},
    {"((a)) = 1", true, true},
    {"a = 1 AND b = 2 And c = 3 and a <> b", true, true},
    {"a = 1 OR b = 9", true, true},
    {"andx = 4", true, true},
    {"not = 1", true, true},  // "not" before an operator is a name
    {"v$ = 9", true, true},
    {"a = -5 or a != 2", true, true},
    {"a - -1 = 2", true, true},
    {"a -1 = 0", true, true},
    {"a <> 1", false, true},
    {"a < b and b <= 2 and c > b and c >= 3", true, true},
    {"s = 'AB'", true, true},
    {"s = \"AB\"", true, true},     // double quotes make a string too
    {"s = 'AB   '", true, true},    // blank-padded comparison
    {"s < 'AC' and s > 'AA'", true, true},
    {"s & t = 'ABcd'", true, true},
    {"q = 'it''s'", true, true},
    {"q = \"it's\"", true, true},
    {"7 / 2 = 3.5", true, true},    // "/" always gives a real
    {"7 \\ 2 = 1 and -7 \\ 2 = -1", true, true},
    {"r * 2 = 5", true, true},
    {"r > 2 and r < 3", true, true},
    {"1.5e3 = 1500", true, true},
    {".5 = 0.5 and 2. = 2", true, true},
    {"-2147483647 - 1 < 0", true, true},
    {"big + 1 > 0", false, false},  // overflow: no value here, an error in SQL
    {"big + 1 <= 0", false, false},
    {"-2147483647 - 2 < 0", false, false},
    {"1 / 0 = 1 or 1 / 0 <> 1", false, false},  // division by zero
    {"s = 1", false, false},        // a string never equals a number
    {"s + 1 = 1", false, false},
    {"missing = 1 or missing <> 1", false, false},  // unknown, not false
    {"not missing = 1", false, false},
    {"missing = 1 or a = 1", true, false},
    {"missing = 1 and a = 2", false, false},
    {"tab.col = 7", true, false},   // dotted names reach the engine's callback as written
};

}  // namespace role_condition_cases

#endif  // MOLVANE_TESTS_PLATFORM_YY_ROLE_CONDITION_CASES_H
