#include <gtest/gtest.h>

#include <cstring>

#include "platform/mal.h"
#include "platform/strutil.h"

TEST(Mal, FreeIdFreesItsBlocksAndRejectsUnknownIds) {
  int id = mal_reserve_id(0, 64);
  ASSERT_GT(id, 0);
  MAL_POOL pool{4100, id};
  void *a = mal_allocater(100, MAL_ID_POOL | MAL_FREEABLE, id, nullptr);
  char *s = mal_strsave("hello", MAL_ID_POOL, id);
  unsigned char *e = static_cast<unsigned char *>(mal_new_entry(&pool));
  ASSERT_TRUE(a && s && e);
  EXPECT_STREQ("hello", s);
  for (size_t i = 0; i < pool.entry_size; ++i) ASSERT_EQ(0, e[i]);
  mal_free(a);  // a single free inside the group is fine
  EXPECT_EQ(0, mal_free_id(id));  // frees s and e (the leak checker would see them)
  EXPECT_EQ(-1, mal_free_id(id));
  EXPECT_EQ(-1, mal_free_id(0));
  EXPECT_EQ(-1, mal_free_id(987654));
  EXPECT_EQ(nullptr, mal_allocater(8, MAL_ID_POOL, id, nullptr));
}

TEST(Mal, ReallocKeepsContentsAndZeroFlagZeroes) {
  char *p = static_cast<char *>(mal_allocater(4, MAL_ZERO, 0, nullptr));
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(0, std::memcmp(p, "\0\0\0\0", 4));
  std::memcpy(p, "abc", 4);
  p = static_cast<char *>(mal_realloc(p, 1000));
  ASSERT_NE(nullptr, p);
  EXPECT_STREQ("abc", p);
  void *copy = mal_memsave(p, 4);
  EXPECT_EQ(0, std::memcmp(copy, "abc", 4));
  mal_free(copy);
  mal_free(p);
}

TEST(StrUtil, CopyStripAndPos) {
  char buf[6];
  std::memset(buf, 'x', sizeof buf);
  ncopystr(buf, "abcdefgh", sizeof buf, 1);
  EXPECT_STREQ("abcde", buf);
  std::memset(buf, 'x', sizeof buf);
  ncopystr(buf, "abcdefgh", 3, 0);
  EXPECT_EQ(0, std::memcmp(buf, "abcxxx", 6));
  ncopystr(buf, "ab", sizeof buf, 0);
  EXPECT_STREQ("ab", buf);

  char t1[] = "name   ";
  EXPECT_STREQ("name", strip(t1));
  char t2[] = "name \t\r\n";
  EXPECT_STREQ("name \t\r\n", strip(t2)) << "strip removes blanks only";
  EXPECT_STREQ("name", strip_whitespace(t2));

  EXPECT_EQ(1, pos("abcabc", "abc"));
  EXPECT_EQ(3, pos("abcabc", "ca"));
  EXPECT_EQ(0, pos("abc", "x"));
  EXPECT_EQ(0, pos("abc", ""));
  EXPECT_EQ(0, pos("", "a"));
}
