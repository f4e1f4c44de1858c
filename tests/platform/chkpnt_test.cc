#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/chkpnt.h"
#include "support/test_env.h"

namespace {

// "YYYY-MM-DD hh:mm:ss.mmm UTC <elapsed> ms <text>\n"
void ExpectTimingLine(const std::string &line, const std::string &text) {
  int y, mo, d, h, mi, s, ms, used = 0;
  double elapsed = -1;
  ASSERT_EQ(7, std::sscanf(line.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d UTC", &y, &mo, &d, &h, &mi,
                           &s, &ms))
      << line;
  ASSERT_EQ(1, std::sscanf(line.c_str() + 28, "%lf ms %n", &elapsed, &used)) << line;
  EXPECT_GE(elapsed, 0.0);
  EXPECT_EQ(line[23], ' ');
  EXPECT_EQ(text + "\n", line.substr(28 + static_cast<size_t>(used)));
}

TEST(Checkpoint, AppendsTimingLineWhenSwitchedOn) {
  molvane::test::ScratchDir logs;
  setenv("ZUV_LOG", logs.path().c_str(), 1);
  setenv("CHKPNT", "1", 1);
  CHKPNT_TIMER timer{};
  ChkpntStart(&timer);
  ASSERT_EQ(0, ChkpntStop(&timer, "db.42", "DBC request type %2d: retval = %d", 7, 0));
  ChkpntStart(&timer);
  ASSERT_EQ(0, ChkpntStop(&timer, "db.42", "DBC request type %2d: retval = %d", 12, 513));
  const std::string text = logs.ReadFile("db.42");
  const size_t split = text.find('\n') + 1;
  ExpectTimingLine(text.substr(0, split), "DBC request type  7: retval = 0");
  ExpectTimingLine(text.substr(split), "DBC request type 12: retval = 513");
}

TEST(Checkpoint, WritesNothingWhenOffOrMisused) {
  molvane::test::ScratchDir logs;
  setenv("ZUV_LOG", logs.path().c_str(), 1);
  unsetenv("CHKPNT");
  CHKPNT_TIMER timer{};
  ChkpntStart(&timer);
  EXPECT_EQ(0, ChkpntStop(&timer, "db.1", "x"));
  setenv("CHKPNT", "0", 1);
  EXPECT_EQ(0, ChkpntStop(&timer, "db.1", "x"));
  EXPECT_EQ("", logs.ReadFile("db.1"));

  setenv("CHKPNT", "yes", 1);
  EXPECT_EQ(-1, ChkpntStop(&timer, "db.1", "never started"));
  ChkpntStart(&timer);
  EXPECT_EQ(-1, ChkpntStop(&timer, "../escape", "x"));
  EXPECT_EQ(-1, ChkpntStop(&timer, "db.1", "stopped twice"));
  EXPECT_EQ("", logs.ReadFile("db.1"));
}

}  // namespace
