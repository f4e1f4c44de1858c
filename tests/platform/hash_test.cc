#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/hash.h"

namespace {

struct TextRec {
  HASH_LINK link;
  char key[16];
  int value;
};

struct PtrRec {
  HASH_LINK link;
  int value;
  const char *key;  // the key lies outside the record
};

struct Bytes8Rec {
  HASH_LINK link;
  unsigned char key[8];
};

TEST(Hash, TextKeysWithDuplicatesUnlinkAndSequence) {
  TextRec sample;
  // Few buckets, so that chains hold several keys.
  HASH_TBL *t = creat_hash_tbl(sample.key, &sample.link, nullptr, 3, HASH_KEY_TEXT, nullptr);
  ASSERT_NE(nullptr, t);
  std::vector<TextRec> recs(20);
  for (int i = 0; i < 20; ++i) {
    std::snprintf(recs[i].key, sizeof recs[i].key, "k%d", i % 10);  // each key twice
    recs[i].value = i;
    ASSERT_EQ(0, hash_link(t, &recs[i]));
  }
  TextRec *r = static_cast<TextRec *>(hash_search(t, "k3"));
  ASSERT_NE(nullptr, r);
  TextRec *r2 = static_cast<TextRec *>(hash_next(t, r));
  ASSERT_NE(nullptr, r2);
  EXPECT_EQ(std::set<int>({3, 13}), std::set<int>({r->value, r2->value}));
  EXPECT_EQ(nullptr, hash_next(t, r2));
  EXPECT_EQ(nullptr, hash_search(t, "k33"));

  EXPECT_EQ(0, hash_unlink(t, &recs[3]));
  EXPECT_EQ(-1, hash_unlink(t, &recs[3]));
  r = static_cast<TextRec *>(hash_search(t, "k3"));
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(13, r->value);

  // The walk sees every linked record once, also when it unlinks the
  // record it just got.
  std::multiset<int> seen;
  int position = 0;
  for (void *p = hash_seq(t, nullptr, &position); p != nullptr; p = hash_seq(t, p, &position)) {
    seen.insert(static_cast<TextRec *>(p)->value);
    if (static_cast<TextRec *>(p)->value % 2 == 0) hash_unlink(t, p);
  }
  EXPECT_EQ(19u, seen.size());
  EXPECT_EQ(0u, seen.count(3));
  EXPECT_EQ(nullptr, hash_search(t, "k0"));
  EXPECT_NE(nullptr, hash_search(t, "k1"));
  int released = 0;
  static int *counter;
  counter = &released;
  hash_destroy(t, [](void *) { ++*counter; });
  EXPECT_EQ(9, released);
}

TEST(Hash, PointerAndFixedByteKeys) {
  PtrRec ps;
  HASH_TBL *t = creat_hash_tbl(&ps.key, &ps.link, nullptr, 15, HASH_KEY_TEXT | HASH_KEY_PTR, nullptr);
  std::string name = "customer";
  PtrRec a{{nullptr}, 1, name.c_str()};
  hash_link(t, &a);
  EXPECT_EQ(&a, hash_psearch(t, "customer"));
  EXPECT_EQ(nullptr, hash_psearch(t, "custome"));
  hash_destroy(t, nullptr);

  Bytes8Rec bs;
  t = creat_hash_tbl(bs.key, &bs.link, nullptr, 7, 8, nullptr);
  Bytes8Rec b1{}, b2{};
  std::memcpy(b1.key, "abc\0\0\0\0\1", 8);
  std::memcpy(b2.key, "abc\0\0\0\0\2", 8);
  hash_link(t, &b1);
  hash_link(t, &b2);
  EXPECT_EQ(&b2, hash_search(t, "abc\0\0\0\0\2"));
  EXPECT_EQ(&b1, hash_search(t, "abc\0\0\0\0\1"));
  hash_destroy(t, nullptr);
  EXPECT_EQ(nullptr, creat_hash_tbl(bs.key, &bs.link, nullptr, 0, 8, nullptr));
}

}  // namespace
