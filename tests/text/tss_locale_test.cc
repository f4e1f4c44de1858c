// TSS mode, zero-width factor and locale selection.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "text/log_capture.h"
#include "text/tss.h"

namespace {

void SetVar(const char *name, const char *value) {
  if (value == nullptr) {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
  TssReloadSettings();
}

TEST(TssMode, ReadsTssModeWithClassicDefault) {
  struct Case {
    const char *value;
    int mode;
  } cases[] = {{nullptr, 1}, {"", 1}, {"1", 1}, {"2", 2}, {"3", 1}, {"0", 1}, {"2x", 1}, {"utf", 1}};
  for (const Case &c : cases) {
    SetVar("TSS_MODE", c.value);
    molvane::test::LogCapture log;
    EXPECT_EQ(c.mode, TssGetMode()) << (c.value ? c.value : "(unset)");
    const bool valid = c.value == nullptr || *c.value == 0 || c.mode == 2 || std::string(c.value) == "1";
    EXPECT_EQ(valid ? 0u : 1u, log.messages().size()) << (c.value ? c.value : "(unset)");
  }
}

TEST(TssMode, IsReadOnceAndKept) {
  SetVar("TSS_MODE", "2");
  EXPECT_EQ(2, TssGetMode());
  setenv("TSS_MODE", "1", 1);
  EXPECT_EQ(2, TssGetMode());
  TssReloadSettings();
  EXPECT_EQ(1, TssGetMode());
}

TEST(TssZeroWidthFactor, AcceptsZeroToSix) {
  struct Case {
    const char *value;
    int factor;
  } cases[] = {{nullptr, 0}, {"0", 0}, {"3", 3}, {"6", 6}, {"7", 0}, {"-1", 0}, {"two", 0}};
  for (const Case &c : cases) {
    SetVar("TSS_ZERO_WIDTH_FACTOR", c.value);
    EXPECT_EQ(c.factor, TssGetZeroWidthFactor()) << (c.value ? c.value : "(unset)");
  }
}

TEST(TssLocale, SelectsIsoLatin1AndRefusesOthers) {
  EXPECT_STREQ("ISO-8859-1", TssGetLocale());
  EXPECT_EQ(0, TSSsetlocale("ISO-8859-1", 0));
  EXPECT_EQ(0, TSSsetlocale("iso-8859-1", 1));
  EXPECT_EQ(0, TSSsetlocale(nullptr, 0));
  molvane::test::LogCapture log;
  EXPECT_NE(0, TSSsetlocale("KOI8-R", 0));
  ASSERT_EQ(1u, log.messages().size());
  EXPECT_NE(std::string::npos, log.messages()[0].text.find("KOI8-R"));
  EXPECT_STREQ("ISO-8859-1", TssGetLocale());
}

TEST(TssIcu, InitializeReturnsAndCanBeRepeated) {
  SetVar("TSS_MODE", "2");
  EXPECT_EQ(0, initialize_icuwrappers());
  EXPECT_EQ(0, initialize_icuwrappers());
}

}  // namespace
