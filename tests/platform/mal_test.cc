#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
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

// The system blocks consult the failure hook like every block of the
// allocator: a refused one is null with ENOMEM, and a refused realloc keeps
// the old block whole. Each case refuses its first allocation only.
int g_refusals = 0;
int RefuseOnce(size_t) { return g_refusals-- > 0 ? 1 : 0; }

TEST(Mal, SystemBlocksFailThroughTheHookAndGoBackWithFree) {
  char *kept = static_cast<char *>(mal_sys_malloc(4));
  ASSERT_NE(nullptr, kept);
  std::memcpy(kept, "abc", 4);
  struct Case {
    const char *name;
    void *(*call)(char *kept);
    bool resizes;  // the block replaces `kept`
  } const cases[] = {
      {"malloc", [](char *) { return mal_sys_malloc(16); }, false},
      {"calloc", [](char *) { return mal_sys_calloc(4, 4); }, false},
      {"realloc", [](char *k) { return mal_sys_realloc(k, 4096); }, true},
      {"strdup", [](char *) { return static_cast<void *>(mal_sys_strdup("text")); }, false},
  };
  mal_set_failure_hook(RefuseOnce);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    g_refusals = 1;
    errno = 0;
    EXPECT_EQ(nullptr, c.call(kept));
    EXPECT_EQ(ENOMEM, errno);
    EXPECT_STREQ("abc", kept);
    void *block = c.call(kept);  // the hook lets this one through
    ASSERT_NE(nullptr, block);
    if (c.resizes)
      kept = static_cast<char *>(block);
    else
      std::free(block);
  }
  mal_set_failure_hook(nullptr);
  EXPECT_STREQ("abc", kept);
  char *zeroed = static_cast<char *>(mal_sys_calloc(2, 3));
  ASSERT_NE(nullptr, zeroed);
  EXPECT_EQ(0, std::memcmp(zeroed, "\0\0\0\0\0\0", 6));
  std::free(zeroed);
  errno = 0;
  EXPECT_EQ(nullptr, mal_sys_calloc(SIZE_MAX / 2, 4)) << "count times size overflows";
  EXPECT_EQ(ENOMEM, errno);
  std::free(kept);
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
