#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/yy_expr.h"
#include "platform/yy_regex.h"

namespace {

constexpr size_t kLikeBuffer = 16384;

// A compiled program in a buffer of its own size.
struct Program {
  std::vector<char> buf;
  char *end = nullptr;

  explicit Program(const std::string &pattern, size_t size = kLikeBuffer, int end_char = 0)
      : buf(size) {
    end = yy_expr_compile_low_level(pattern.c_str(), buf.data(), buf.data() + size - 1, end_char);
  }
  bool ok() const { return end != nullptr; }
  size_t length() const { return static_cast<size_t>(end - buf.data()); }
  bool match(const std::string &subject) const { return yy_expr_step(subject.c_str(), buf.data()); }
};

// "\x9B" followed by three bytes: one 4-byte TSS character.
const std::string kWide1 = "\x9B\xBC\x81\xAA";
const std::string kWide2 = "\x9B\xBC\x81\xBA";

TEST(RegexEngine, MatchesEachConstruct) {
  struct Case {
    std::string pattern, subject;
    bool expected;
  } cases[] = {
      {"abc", "xxabcxx", true},           // unanchored: anywhere
      {"abc", "abxc", false},
      {"^abc", "abcd", true},
      {"^abc", "xabc", false},
      {"abc$", "xabc", true},
      {"abc$", "abcx", false},
      {"^abc$", "abc", true},
      {"^$", "", true},
      {"^$", "a", false},
      {"", "anything", true},
      {"^a.c$", "abc", true},
      {"^a.c$", "ac", false},
      {"^a.c$", "a\nc", true},            // "." takes a newline too
      {"^ab*c$", "ac", true},
      {"^ab*c$", "abbbc", true},
      {"^ab*c$", "abxc", false},
      {"^a.*z$", "a-lot-of-text-z", true},
      {"^a.*z$", "a-lot-of-text-y", false},
      {"^[abc]*$", "cabbac", true},
      {"^[abc]*$", "cabdac", false},
      {"^[a-c]x$", "bx", true},
      {"^[^a-c]x$", "bx", false},
      {"^[^a-c]x$", "dx", true},
      {"^[]a]$", "]", true},              // "]" first is a member
      {"^[^]a]$", "]", false},
      {"^[a-]$", "-", true},
      {"^[\\]x]$", "]", true},
      {"^[.*]$", "*", true},
      {"^a\\.c$", "a.c", true},
      {"^a\\.c$", "abc", false},
      {"^a\\*$", "a*", true},
      {"^\\^a\\$$", "^a$", true},
      {"^a+b?c|d$", "a+b?c|d", true},     // "+", "?" and "|" are ordinary
      {"^a+$", "aa", false},
      {"^a]}$", "a]}", true},
      {"a^b", "a^b", true},               // "^" elsewhere is ordinary
      {"a$b", "a$b", true},               // so is "$"
      {"^*a$", "*a", true},               // "*" with no atom before it
      {"^(*a)$", "*a", true},
      {"^{a$", "{a", true},
      {"^(ab)*$", "ababab", true},
      {"^(ab)*$", "ababa", false},
      {"^(a(bc)*d)*$", "abcbcdad", true},
      {"^(a*)*b$", "aaab", true},
      {"^a{3}$", "aaa", true},
      {"^a{3}$", "aa", false},
      {"^a{2,}$", "aaaaa", true},
      {"^a{2,}$", "a", false},
      {"^a{2,3}$", "aaa", true},
      {"^a{2,3}$", "aaaa", false},
      {"^(ab){1,2}c$", "ababc", true},
      {"^x{0}y$", "y", true},
      {"^a**$", "aaa", true},
      {"^a()*b$", "ab", true},
      {"^a(){3}b$", "ab", true},
      {"^ax{0}b$", "ab", true},
      {"^a(x{0})*b$", "ab", true},
      {"^a\nb$", "a\nb", true},
      {"^a\\\nb$", "a\nb", true},
      {"^" + kWide1 + "$", kWide1, true},
      {"^.$", kWide1, true},              // one character, four bytes
      {"^..$", kWide1, false},
      {"^a.b$", "a" + kWide2 + "b", true},
      {"^" + kWide1 + "*$", kWide1 + kWide1, true},
      {"^" + kWide1 + "*$", kWide1 + kWide2, false},
      {"^[" + kWide1 + "x]$", kWide1, true},
      {"^[" + kWide1 + "-" + kWide2 + "]$", kWide2, true},
      {"^[^" + kWide1 + "]$", kWide2, true},
      {"^[^" + kWide1 + "]$", kWide1, false},
      {"^[^a]$", kWide1, true},
      {"\xAA", kWide1, false},            // never a match inside a character
      {"^\\" + kWide1 + "$", kWide1, true},
      {"^..$", "\x9B\x41", true},         // a cut-off 0x9B is one byte
      {"^\x9B\x41$", "\x9B\x41", true},   // in the pattern too
      {"^\x9B$", "\x9B", true},
      {"^[A\x9B]$", "\x9B", true},
  };
  for (const Case &c : cases) {
    Program p(c.pattern);
    ASSERT_TRUE(p.ok()) << c.pattern;
    EXPECT_EQ(c.expected, p.match(c.subject)) << c.pattern << " on " << c.subject;
  }
}

TEST(RegexEngine, RefusesInvalidExpressions) {
  const char *bad[] = {"[abc", "[", "[^", "(ab", "ab)", ")", "a{2", "a{", "a{x}", "a{3,2}",
                       "a{256}", "a{1,256}", "a\\", "[z-a]"};
  for (const char *pattern : bad) EXPECT_FALSE(Program(pattern).ok()) << pattern;
  std::string deep = std::string(250, '(') + "a" + std::string(250, ')');
  EXPECT_FALSE(Program(deep).ok());
  std::string fine = std::string(150, '(') + "a" + std::string(150, ')');
  EXPECT_TRUE(Program(fine).ok());
  std::string counts = "a";
  for (int k = 0; k < 20000; ++k) counts += "{1}";
  EXPECT_FALSE(Program(counts).ok());
  char buf[64];
  EXPECT_EQ(nullptr, yy_expr_compile_low_level(nullptr, buf, buf + 63, 0));
  EXPECT_EQ(nullptr, yy_expr_compile_low_level("a", buf, buf - 1, 0));
}

TEST(RegexEngine, EndCharacterEndsTheExpression) {
  Program p("ab/cd", 256, '/');
  ASSERT_TRUE(p.ok());
  EXPECT_TRUE(p.match("xaby"));
  EXPECT_FALSE(p.match("cd"));
  Program escaped("^a\\/b$/rest", 256, '/');
  ASSERT_TRUE(escaped.ok());
  EXPECT_TRUE(escaped.match("a/b"));
  EXPECT_FALSE(Program("abc", 256, '/').ok());  // the NUL comes first
}

TEST(RegexEngine, BufferTooSmallGivesNullAndLeavesItUntouched) {
  const std::string pattern = "^(ab)*c[x-z]{2,4}.*d$";
  Program big(pattern);
  ASSERT_TRUE(big.ok());
  size_t need = big.length();

  Program exact(pattern, need);
  ASSERT_TRUE(exact.ok());
  EXPECT_EQ(need, exact.length());
  EXPECT_TRUE(exact.match("ababcxyzd"));

  std::vector<char> small(need - 1, '\x5A');
  EXPECT_EQ(nullptr, yy_expr_compile_low_level(pattern.c_str(), small.data(),
                                               small.data() + small.size() - 1, 0));
  for (char c : small) ASSERT_EQ('\x5A', c);

  // Counted repeats that would blow up the program hit the buffer's end;
  // counted repeats of nothing emit nothing, however deeply nested.
  EXPECT_FALSE(Program("((((a{255}){255}){255}){255})").ok());
  Program nothing("^a((((((){255}){255}){255}){255}){255})*b$");
  ASSERT_TRUE(nothing.ok());
  EXPECT_TRUE(nothing.match("ab"));
}

TEST(RegexEngine, ProgramIsPositionIndependent) {
  std::vector<char> copy;
  {
    Program p("^a(bc)*" + kWide1 + "[0-9]{2}$");
    ASSERT_TRUE(p.ok());
    copy.assign(p.buf.begin(), p.buf.begin() + static_cast<long>(p.length()));
    std::fill(p.buf.begin(), p.buf.end(), 0);
  }
  std::vector<char> shifted(copy.size() + 3);
  std::memcpy(shifted.data() + 3, copy.data(), copy.size());
  const char *prog = shifted.data() + 3;
  EXPECT_TRUE(yy_expr_step(("abcbc" + kWide1 + "42").c_str(), prog));
  EXPECT_FALSE(yy_expr_step(("abcb" + kWide1 + "42").c_str(), prog));
  EXPECT_FALSE(yy_expr_step("abc", "not a program"));
}

TEST(RegexEngine, StepOverLengthNeedsNoTerminator) {
  Program p("^ab$");
  ASSERT_TRUE(p.ok());
  const char bytes[] = {'a', 'b', 'c'};
  EXPECT_TRUE(yy_expr_step_n(bytes, 2, p.buf.data()));
  EXPECT_FALSE(yy_expr_step_n(bytes, 3, p.buf.data()));
}

// Patterns that take exponential time with a backtracking matcher: the work
// must stay within characters x program positions.
TEST(RegexEngine, PathologicalPatternsStayLinear) {
  const std::string subject(20000, 'a');
  struct Case {
    std::string pattern;
    bool expected;
  } cases[] = {
      {"^.*a.*a.*a.*a.*a.*a.*b$", false},
      {"^(a*)*b$", false},
      {"^(a*)*(a*)*(a*)*$", true},
      {"^(.*)*a(.*)*a(.*)*c$", false},
      {"^a{0,20}a{20}b$", false},
      {"a.*a.*a.*a.*b", false},
  };
  for (const Case &c : cases) {
    Program p(c.pattern);
    ASSERT_TRUE(p.ok()) << c.pattern;
    EXPECT_EQ(c.expected, p.match(subject)) << c.pattern;
    EXPECT_LE(yy_expr_step_work(), subject.size() * p.length()) << c.pattern;
  }
  // A trailing ".*$" stops at the first match instead of reading to the end.
  Program prefix("^aa.*$");
  ASSERT_TRUE(prefix.ok());
  EXPECT_TRUE(prefix.match(subject));
  EXPECT_LE(yy_expr_step_work(), 4u);
}

// LIKE's translation, as the SQL layer does it, for the property test below.
std::string like_to_regex(const std::string &like) {
  std::string out = "^";
  for (char c : like) {
    if (c == '%') {
      out += ".*";
    } else if (c == '_') {
      out += ".";
    } else {
      if (std::strchr("\n$()*.[\\^{}", c) && c != '\0') out += '\\';
      out += c;
    }
  }
  return out + "$";
}

// A reference LIKE over TSS characters by plain recursion (fine for short
// inputs).
std::vector<std::string> tss_chars(const std::string &s) {
  std::vector<std::string> out;
  for (size_t k = 0; k < s.size();) {
    size_t n = (static_cast<unsigned char>(s[k]) == 0x9B && k + 3 < s.size()) ? 4 : 1;
    out.push_back(s.substr(k, n));
    k += n;
  }
  return out;
}
bool like_ref(const std::vector<std::string> &p, size_t i, const std::vector<std::string> &s,
              size_t j) {
  if (i == p.size()) return j == s.size();
  if (p[i] == "%") {
    for (size_t k = j; k <= s.size(); ++k)
      if (like_ref(p, i + 1, s, k)) return true;
    return false;
  }
  if (j == s.size()) return false;
  return (p[i] == "_" || p[i] == s[j]) && like_ref(p, i + 1, s, j + 1);
}

TEST(RegexEngine, TranslatedLikeAgreesWithReferenceOnRandomInput) {
  const std::vector<std::string> alphabet = {"a", "b", "%", "_", ".", "*", "$", "+", "?", "|",
                                             "(", ")", "[", "]", "{", "}", "^", "\\", "\n",
                                             kWide1, kWide2};
  std::mt19937 rng(17);
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  for (int round = 0; round < 3000; ++round) {
    std::string like, subject;
    for (size_t k = pick(7); k > 0; --k) like += alphabet[pick(alphabet.size())];
    for (size_t k = pick(9); k > 0; --k) {
      std::string c = alphabet[pick(alphabet.size())];
      subject += (c == "%" || c == "_") ? "a" : c;
    }
    Program p(like_to_regex(like));
    ASSERT_TRUE(p.ok()) << like;
    bool expected = like_ref(tss_chars(like), 0, tss_chars(subject), 0);
    ASSERT_EQ(expected, p.match(subject)) << "like '" << like << "' on '" << subject << "'";
  }
}

// Random bytes as patterns: compiling never crashes nor writes past the
// buffer, and whatever compiles can be matched.
TEST(RegexEngine, RandomBytesCompileOrFailCleanly) {
  std::mt19937 rng(23);
  const std::string specials = "^$.*[]()\\{},-0123456789ab\x9B";
  for (int round = 0; round < 5000; ++round) {
    std::string pattern;
    for (int k = static_cast<int>(rng() % 12); k > 0; --k)
      pattern += (rng() % 4) ? specials[rng() % specials.size()] : static_cast<char>(1 + rng() % 255);
    size_t size = 1 + rng() % 64;
    Program p(pattern, size);
    if (p.ok()) {
      ASSERT_LE(p.length(), size);
      p.match("ab{1}\x9B\xBC\x81\xAA-");
    }
  }
}

bool step_nfa(const std::string &subject, const Program &p) {
  return yy::rx::step_nfa(reinterpret_cast<const unsigned char *>(subject.data()), subject.size(),
                          reinterpret_cast<const unsigned char *>(p.buf.data()));
}

// The cached DFA and the plain simulation agree on random expressions, run
// repeatedly so that warm transitions are used too.
TEST(RegexEngine, CachedAutomatonAgreesWithPlainSimulation) {
  const std::vector<std::string> pattern_parts = {"a", "b", ".", "*", "[ab]", "[^a]", "(", ")",
                                                  "{1,2}", "\\*", kWide1, "$", "^"};
  const std::vector<std::string> subject_parts = {"a", "b", "*", kWide1, kWide2, "\x9B"};
  std::mt19937 rng(5);
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  int compiled = 0;
  for (int round = 0; round < 2000; ++round) {
    std::string pattern;
    for (size_t k = pick(8); k > 0; --k) pattern += pattern_parts[pick(pattern_parts.size())];
    Program p(pattern);
    if (!p.ok()) continue;
    ++compiled;
    for (int k = 0; k < 5; ++k) {
      std::string subject;
      for (size_t j = pick(12); j > 0; --j) subject += subject_parts[pick(subject_parts.size())];
      ASSERT_EQ(step_nfa(subject, p), p.match(subject)) << pattern << " on " << subject;
    }
  }
  EXPECT_GT(compiled, 500);
}

// "a" then nine characters then "b" needs far more automaton states than
// are kept; the match falls back to the plain simulation and stays right.
TEST(RegexEngine, AutomatonAtItsStateLimitFallsBackToSimulation) {
  Program p("a.........b");
  ASSERT_TRUE(p.ok());
  std::mt19937 rng(11);
  for (int round = 0; round < 200; ++round) {
    std::string subject;
    for (int k = 0; k < 400; ++k) subject += (rng() % 2) ? 'a' : 'x';
    if (round % 2) subject[subject.size() - 1] = 'b';
    bool expected = false;
    for (size_t i = 0; i + 10 < subject.size(); ++i)
      expected = expected || (subject[i] == 'a' && subject[i + 10] == 'b');
    ASSERT_EQ(expected, p.match(subject)) << subject;
  }
}

// A NUL-terminated subject is measured while it is matched: long subjects
// whose length is found in steps (a 4-byte character across a step's end,
// a fallback to the plain simulation, a match decided early) give what the
// same subject with its length gives.
TEST(RegexEngine, TerminatedSubjectsMatchAsWithTheirLength) {
  const std::vector<std::string> patterns = {"^qwerty.*$", "^qwerty", "^.*needle.*$", "needle", "^a.*b$",
                                             "^" + kWide1 + ".*$", ".*" + kWide2 + "$", "a.........b", "^[^x]*$"};
  std::mt19937 rng(9);
  for (const std::string &pattern : patterns) {
    Program p(pattern);
    ASSERT_TRUE(p.ok()) << pattern;
    for (size_t length : {0, 1, 5, 60, 63, 64, 65, 127, 128, 130, 300, 5000}) {
      for (int variant = 0; variant < 6; ++variant) {
        std::string subject = variant % 2 ? "qwerty" : "a";
        while (subject.size() < length) {
          switch (rng() % 6) {
            case 0: subject += kWide1; break;
            case 1: subject += kWide2; break;
            case 2: subject += "needle"; break;
            default: subject += static_cast<char>('a' + rng() % 3);
          }
        }
        if (variant >= 4) subject += "b";
        ASSERT_EQ(yy_expr_step(subject.c_str(), p.buf.data()),
                  yy_expr_step_n(subject.data(), subject.size(), p.buf.data()))
            << pattern << " on " << subject.size() << " bytes";
      }
    }
  }
}

}  // namespace
