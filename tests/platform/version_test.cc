#include <gtest/gtest.h>

#include <cstring>

#include <molvane/version.h>

TEST(Version, NamesTheLibrary) {
  EXPECT_EQ(0, std::strncmp(get_molvane_version(), "molvane ", 8));
}
