#include "sql/common/temp_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sql/common/sql_exception.h"
#include "support/test_env.h"

namespace {

bool Exists(std::string const &path) { return access(path.c_str(), F_OK) == 0; }

TEST(SQLTempFile, RoundTripInTheTemporaryDirectoryThenRemoved) {
  molvane::test::ScratchDir dir;
  setenv("ZUV_TMP", dir.path().c_str(), 1);
  std::string path;
  {
    SQLTempFile file;
    path = file.Path();
    std::string name = path.substr(dir.path().size() + 1);
    EXPECT_EQ(dir.path() + "/", path.substr(0, dir.path().size() + 1));
    EXPECT_EQ("sql", name.substr(0, 3));
    EXPECT_EQ(std::string::npos, name.find_first_not_of(
                                     "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ", 3));
    EXPECT_TRUE(Exists(path));

    std::vector<int> block(1000);
    for (int i = 0; i < 1000; ++i) block[i] = i * 7;
    file.Write(block.data(), sizeof(int) * 1000);
    EXPECT_EQ(0x41, file.Put(0x41));
    EXPECT_EQ(4001, file.Tell());
    EXPECT_EQ(400, file.Seek(400, SEEK_SET));
    int value = 0;
    file.Read(&value, sizeof value);
    EXPECT_EQ(100 * 7, value);
    file.Seek(-1, SEEK_END);
    EXPECT_EQ(0x41, file.Get());
    EXPECT_EQ(EOF, file.Get());
    EXPECT_THROW(file.Read(&value, sizeof value), SQLExFileIOError);
    // The file stays usable after the failure.
    file.Seek(0, SEEK_SET);
    file.Read(&value, sizeof value);
    EXPECT_EQ(0, value);
    SQLTempFile second;
    EXPECT_NE(path, second.Path());
  }
  EXPECT_FALSE(Exists(path));
}

TEST(SQLTempFile, CreationInAMissingDirectoryFails) {
  setenv("ZUV_TMP", "/nonexistent/molvane", 1);
  EXPECT_THROW(SQLTempFile(), SQLExFileIOError);
}

TEST(SQLTempFile, AFullDiskIsAnErrorNotASilentLoss) {
  molvane::test::ScratchDir dir;
  setenv("ZUV_TMP", dir.path().c_str(), 1);
  std::signal(SIGXFSZ, SIG_IGN);
  SQLTempFile file;
  rlimit limit{8192, 8192};
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limit));
  std::vector<char> block(3000, 'x');
  // Small blocks fill the stream's buffer first; the failure shows at the
  // latest when the buffer goes to the file.
  bool failed = false;
  try {
    for (int i = 0; i < 4; ++i) file.Write(block.data(), 3000);
    file.Seek(0, SEEK_SET);
  } catch (SQLExFileIOError const &) {
    failed = true;
  }
  EXPECT_TRUE(failed);
  std::vector<char> big(100000, 'y');
  EXPECT_THROW(file.Write(big.data(), 100000), SQLExFileIOError);
}

}  // namespace
