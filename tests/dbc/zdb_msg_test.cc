// The message text of an API call when its buffer cannot grow: what fits is
// kept, and a message that was set is never reported as none.
#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <string>

#include <molvane/zdb.h>

#include "dbc/zdb_msg.h"
#include "platform/mal.h"

namespace {

int RefuseAll(size_t) { return 1; }

// Runs set_zdb_msg with every allocation of the library refused.
void SetWithoutMemory(const std::string &text) {
  mal_set_failure_hook(RefuseAll);
  set_zdb_msg("%s", text.c_str());
  mal_set_failure_hook(nullptr);
}

std::string Msg() {
  const char *msg = get_zdb_msg();
  return msg != nullptr ? msg : "(none)";
}

// Each case in a process of its own (ctest runs each test alone), from a
// process that has had no message yet.
struct Case {
  const char *name;
  std::string before;    // set with memory first; empty: nothing
  bool reset;            // reset_zdb_msg after `before`
  std::string failing;   // set while every allocation fails
  std::string expected;  // get_zdb_msg afterwards
  std::string after;     // set with memory afterwards: appended as usual
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class ZdbMsg : public testing::TestWithParam<Case> {};

TEST_P(ZdbMsg, KeepsWhatFitsWhenItsBufferCannotGrow) {
  const Case &c = GetParam();
  if (!c.before.empty()) {
    set_zdb_msg("%s", c.before.c_str());
    ASSERT_EQ(Msg(), c.before);
    if (c.reset) reset_zdb_msg();
  }
  SetWithoutMemory(c.failing);
  EXPECT_EQ(Msg(), c.expected);
  set_zdb_msg("%s", c.after.c_str());
  EXPECT_EQ(Msg(), c.expected + c.after);
}

const std::string kLong(1000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, ZdbMsg,
    testing::Values(
        Case{"FirstMessage", "", false, "Domain error", "Domain error", " more"},
        Case{"LongFirstMessageKeepsItsStart", "", false, kLong, kLong.substr(0, 255), "!"},
        Case{"AppendedToAFullBufferKeepsTheOldText", "Old.", false, " New.", "Old.", " Next."},
        Case{"AfterAResetInTheRoomOfTheOldText", "A longer old text.", true, "New text.",
             "New text.", " Next."},
        Case{"AfterAResetWithLessRoomThanTheText", "Old.", true, "New text.", "New text.", "!"}),
    [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

}  // namespace
