// The user's remote-information file and the host name.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ipc/attach.h"
#include "ipc_test_util.h"

namespace {

class RemoteInfo : public ::testing::Test {
 protected:
  void SetUp() override { setenv("ZUV_USER", "tester", 1); }
  void TearDown() override { unsetenv("ZUV_USER"); }
  ipc_test::ScratchRoot root_;
};

TEST_F(RemoteInfo, FindsHostLineAndFillsRecord) {
  root_.WriteFile("lib/user/rtester",
                  "# remote logins\n\nbox1 alice\n  box2\tbob  /opt/zuv  \nbox1 other\n");
  IPC_REMOTE_INFO info;
  ASSERT_EQ(ipc_remote_info(&info, "box1"), 0);
  EXPECT_STREQ(info.host, "box1");
  EXPECT_STREQ(info.user, "alice");
  EXPECT_STREQ(info.zuv, "");
  ASSERT_EQ(ipc_remote_info(&info, "box2"), 0);
  EXPECT_STREQ(info.user, "bob");
  EXPECT_STREQ(info.zuv, "/opt/zuv");
  errno = 0;
  EXPECT_EQ(ipc_remote_info(&info, "box3"), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(RemoteInfo, MissingFileIsNotFoundWithoutLog) {
  ipc_test::LogCatcher log;
  IPC_REMOTE_INFO info;
  errno = 0;
  EXPECT_EQ(ipc_remote_info(&info, "box1"), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(RemoteInfo, MalformedLinesAreRefused) {
  const char *bad[] = {
      "box1\n",                                  // no user
      "box1 u /z extra\n",                       // too many fields
  };
  for (const char *text : bad) {
    root_.WriteFile("lib/user/rtester", text);
    ipc_test::LogCatcher log;
    IPC_REMOTE_INFO info;
    errno = 0;
    EXPECT_EQ(ipc_remote_info(&info, "box1"), -1) << text;
    EXPECT_EQ(errno, EINVAL) << text;
    EXPECT_EQ(log.lines().size(), 1u) << text;
  }
  root_.WriteFile("lib/user/rtester", "box1 " + std::string(100, 'u') + "\n");
  IPC_REMOTE_INFO info;
  EXPECT_EQ(ipc_remote_info(&info, "box1"), -1);  // user longer than its field
  EXPECT_EQ(errno, EINVAL);
  root_.WriteFile("lib/user/rtester", "box1 u " + std::string(3000, 'z') + "\n");
  EXPECT_EQ(ipc_remote_info(&info, "box1"), -1);  // longer than a line may be
  EXPECT_EQ(errno, EINVAL);
}

TEST(HostName, MatchesSystemAndRefusesSmallBuffer) {
  char mine[256];
  ASSERT_EQ(gethostname(mine, sizeof mine), 0);
  char buf[IPC_HOST_SIZE];
  ASSERT_EQ(GetHostName(buf, sizeof buf), 0);
  EXPECT_STREQ(buf, mine);
  size_t len = std::strlen(mine);
  char small[256];
  errno = 0;
  EXPECT_EQ(GetHostName(small, len), -1);  // no room for the NUL
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_EQ(GetHostName(small, len + 1), 0);
  EXPECT_EQ(GetHostName(nullptr, 10), -1);
}

}  // namespace
