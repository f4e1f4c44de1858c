#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/errtext.h"
#include "platform/log.h"
#include "platform/log_destination.h"
#include "support/test_env.h"

namespace {

struct Seen {
  char level;
  std::string keyword, text;
};
std::vector<Seen> g_seen;

void Hook(char level, const char *keyword, const char *text, const char *, int) {
  g_seen.push_back({level, keyword, text});
}

TEST(Log, LineCarriesDateOffsetLevelKeywordAndText) {
  molvane::test::ScratchDir root;
  ASSERT_EQ(0, set_zuv(root.path().c_str()));
  log_set_progname("/usr/bin/loggy", nullptr);
  log_mesg("src/x/file.cc", 42, "kw", LOG_ERROR, "value %d\n", 7);
  log_mesg("file.cc", 43, "kw2", LOG_WARNING, "warn");
  log_mesg("file.cc", 44, "kw3", LOG_INFO, "info");
  std::string log = root.ReadFile("log/loggy.log");
  // "YYYY-MM-DD HH:MM:SS +HHMM L prog[pid] keyword (file:line): text"
  const char *shape = "dddd-dd-dd dd:dd:dd sdddd ";
  std::vector<std::string> lines;
  for (size_t at = 0, nl; (nl = log.find('\n', at)) != std::string::npos; at = nl + 1) {
    lines.push_back(log.substr(at, nl - at));
  }
  ASSERT_EQ(3u, lines.size()) << log;
  const char *tails[] = {" E loggy[", " W loggy[", " I loggy["};
  const char *ends[] = {"] kw (file.cc:42): value 7", "] kw2 (file.cc:43): warn",
                        "] kw3 (file.cc:44): info"};
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string &l = lines[i];
    ASSERT_GT(l.size(), std::strlen(shape));
    for (size_t k = 0; k < std::strlen(shape) - 1; ++k) {
      char want = shape[k], got = l[k];
      if (want == 'd') {
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(got))) << l;
      } else if (want == 's') {
        EXPECT_TRUE(got == '+' || got == '-') << l;
      } else {
        EXPECT_EQ(want, got) << l;
      }
    }
    std::string rest = l.substr(std::strlen(shape) - 1);
    EXPECT_EQ(0u, rest.find(tails[i])) << l;
    EXPECT_NE(std::string::npos, rest.find(ends[i])) << l;
    EXPECT_EQ(rest.size(), rest.find(ends[i]) + std::strlen(ends[i])) << l;
  }
}

TEST(Log, HookSeesEveryMessageAndBlocksButNothingWhileDisabled) {
  molvane::test::ScratchDir root;
  set_zuv(root.path().c_str());
  log_set_progname("hooked", "other");
  g_seen.clear();
  EXPECT_EQ(nullptr, log_set_log_hook(Hook));
  log_mesg(__FILE__, __LINE__, "one", LOG_WARNING, "first");
  al_disable_log_mesg();
  al_disable_log_mesg();
  log_mesg(__FILE__, __LINE__, "two", 0, "silent");
  al_enable_log_mesg();
  log_start_mesg(__FILE__, __LINE__, "block", LOG_INFO);
  log_printf("a=%d ", 1);
  log_printf("b=%s", "x");
  log_stop_mesg();
  ASSERT_EQ(2u, g_seen.size());
  EXPECT_EQ('W', g_seen[0].level);
  EXPECT_EQ("first", g_seen[0].text);
  EXPECT_EQ('I', g_seen[1].level);
  EXPECT_EQ("block", g_seen[1].keyword);
  EXPECT_EQ("a=1 b=x", g_seen[1].text);
  // Hook only: the hook sees the message, neither the file nor standard
  // error does; without a hook it is dropped.
  log_set_hook_only(1);
  testing::internal::CaptureStderr();
  log_mesg(__FILE__, __LINE__, "three", 0, "hook alone");
  EXPECT_EQ(Hook, log_set_log_hook(nullptr));
  log_mesg(__FILE__, __LINE__, "four", 0, "nowhere");
  std::string err = testing::internal::GetCapturedStderr();
  log_set_hook_only(0);
  EXPECT_EQ("", err);
  ASSERT_EQ(3u, g_seen.size());
  EXPECT_EQ("hook alone", g_seen[2].text);
  // Only errors that were written count, for the callers that pass a
  // logged cause on to the host.
  unsigned long errors = log_error_count();
  log_mesg(__FILE__, __LINE__, "three", 0, "the cause %d", 3);
  log_mesg(__FILE__, __LINE__, "four", LOG_WARNING, "a warning");
  al_disable_log_mesg();
  log_mesg(__FILE__, __LINE__, "five", 0, "silent");
  al_enable_log_mesg();
  EXPECT_EQ(errors + 1, log_error_count());
  EXPECT_STREQ("the cause 3", log_last_error());
  // The second argument names the log file.
  std::string file = root.ReadFile("log/other.log");
  EXPECT_NE(std::string::npos, file.find("a=1 b=x"));
  EXPECT_EQ(std::string::npos, file.find("hook alone"));
  EXPECT_EQ(std::string::npos, file.find("nowhere"));
}

// The log folder and file keep to their owner and group whatever the
// umask; a link planted where the file belongs is never followed: the
// messages go to standard error and the hook, with one warning.
TEST(Log, KeepsToItsOwnFilesAndNeverFollowsALink) {
  molvane::test::ScratchDir root;
  set_zuv(root.path().c_str());
  const mode_t umask_before = ::umask(0);
  log_set_progname("modes", nullptr);
  log_mesg(__FILE__, __LINE__, "kw", 0, "first");
  struct stat info {};
  ASSERT_EQ(0, ::stat((root.path() + "/log").c_str(), &info));
  EXPECT_EQ(0750u, info.st_mode & 07777);
  ASSERT_EQ(0, ::stat((root.path() + "/log/modes.log").c_str(), &info));
  EXPECT_EQ(0640u, info.st_mode & 07777);

  root.WriteFile("victim", "untouched\n");
  ASSERT_EQ(0, ::symlink((root.path() + "/victim").c_str(), (root.path() + "/log/linked.log").c_str()));
  log_set_progname("linked", nullptr);
  g_seen.clear();
  log_set_log_hook(Hook);
  testing::internal::CaptureStderr();
  log_mesg(__FILE__, __LINE__, "kw", 0, "one");
  log_mesg(__FILE__, __LINE__, "kw", 0, "two");
  std::string err = testing::internal::GetCapturedStderr();
  log_set_log_hook(nullptr);
  ::umask(umask_before);
  EXPECT_EQ("untouched\n", root.ReadFile("victim"));
  ASSERT_EQ(3u, g_seen.size());
  EXPECT_EQ('W', g_seen[0].level);
  EXPECT_NE(std::string::npos, g_seen[0].text.find("linked.log is a symbolic link")) << g_seen[0].text;
  EXPECT_EQ("one", g_seen[1].text);
  EXPECT_EQ("two", g_seen[2].text);
  EXPECT_NE(std::string::npos, err.find("kw (")) << err;
  EXPECT_EQ(err.find("symbolic link"), err.rfind("symbolic link")) << "warned once: " << err;
}

TEST(ErrText, TableRangesAndFormattedTexts) {
  struct Case {
    int err;
    const char *text;
  } cases[] = {
      {100, "Duplicate value"},          {111, "No record found"},
      {508, "Not logged on to a database"}, {899, "Database error"},
      {150, "Record action error"},      {1005, "database error 5"},
      {5, "zdb_errno 5"},                {1000, "zdb_errno 1000"},
      {-3, "zdb_errno -3"},              {900, "zdb_errno 900"},
  };
  for (const Case &c : cases) EXPECT_STREQ(c.text, zdberrorstr(c.err)) << c.err;
}

}  // namespace
