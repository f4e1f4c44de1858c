#include "sql/common/chained_hash.h"

#include <gtest/gtest.h>

#include <new>

#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <set>
#include <string>

#include "sql/common/bucket_count.h"
#include "sql/common/recycler.h"
#include "sql/common/sql_containers.h"
#include "sql/common/sql_string.h"

namespace {

using IntHash = Hash<unsigned long, int>;

TEST(BucketCount, FirstPrimeOfAtLeastTwiceTheSize) {
  struct Case {
    int size, buckets;
  } cases[] = {{5, 13},     {100, 383},  {200, 769},         {330, 769},
               {1000, 3067}, {0, 13},    {-3, 13},           {6, 13},
               {7, 23},     {500000000, 805306357}, {2147483647, 805306357}};
  for (auto const &c : cases) EXPECT_EQ(c.buckets, SQLBucketCount(c.size)) << c.size;
}

TEST(Hash, EqualKeysAreFoundAndDeletedLatestFirst) {
  IntHash h(5, bu4Hash, bu4Equal);
  h.Insert(7, 1);
  h.Insert(7, 2);
  EXPECT_EQ(2, h.Lookup(7));
  h.Delete(7);
  EXPECT_EQ(1, h.Lookup(7));
  h.Delete(7);
  EXPECT_THROW(h.Lookup(7), HashExNotExists);
  EXPECT_THROW(h.Delete(7), HashExNotExists);
}

TEST(Hash, EfficiencyCountsLookupsAndHits) {
  IntHash h(5, bu4Hash, bu4Equal);
  EXPECT_EQ(0.0, h.Efficiency());
  h.Insert(1, 10);
  EXPECT_THROW(h.Lookup(2), HashExNotExists);
  EXPECT_EQ(0.0, h.Efficiency());
  h.Lookup(1);
  EXPECT_EQ(0.5, h.Efficiency());
  h.Lookup(1) = 11;
  EXPECT_EQ(11, h.Lookup(1));
}

TEST(Hash, SQLStringKeys) {
  Hash<SQLString, int> h(100, SQLStringHash, SQLStringEqual);
  EXPECT_EQ(383, h.BucketCount());
  h.Insert(SQLString("exdep010"), 1);
  h.Insert(SQLString("exemp010"), 2);
  EXPECT_EQ(2, h.Lookup(SQLString("exemp010")));
  EXPECT_THROW(h.Lookup(SQLString("exemp01")), HashExNotExists);
}

// Random inserts and deletes against a reference multimap, iterating the
// whole table after each round, deleting some entries through the cursor.
TEST(Hash, MatchesAReferenceUnderRandomUse) {
  std::mt19937 rng(12345);
  IntHash h(5, bu4Hash, bu4Equal);  // 13 buckets: long chains
  std::multiset<std::pair<unsigned long, int>> ref;
  int serial = 0;
  for (int round = 0; round < 50; ++round) {
    for (int i = 0; i < 20; ++i) {
      unsigned long key = rng() % 40;
      if (rng() % 3 == 0) {
        bool present = false;
        for (auto &p : ref) present |= p.first == key;
        if (present) {
          int v = h.Lookup(key);
          h.Delete(key);
          ref.erase(ref.find({key, v}));
        } else {
          EXPECT_THROW(h.Delete(key), HashExNotExists);
        }
      } else {
        h.Insert(key, ++serial);
        ref.insert({key, serial});
      }
    }
    std::multiset<std::pair<unsigned long, int>> seen;
    for (bool ok = h.First(); ok; ok = h.Next()) {
      seen.insert({h.GetCurrentKey(), h.GetCurrent()});
      if (h.GetCurrent() % 5 == 0) {
        auto key = h.GetCurrentKey();
        // Deletes the latest equal key, which may or may not be the cursor's.
        int latest = h.Lookup(key);
        h.Delete(key);
        ref.erase(ref.find({key, latest}));
      }
    }
    EXPECT_EQ(h.NrElements(), static_cast<int>(ref.size()));
    for (auto &p : ref) EXPECT_TRUE(seen.count(p)) << "missed " << p.first;
  }
}

TEST(Hash, IterationVisitsBucketsInOrder) {
  IntHash h(5, bu4Hash, bu4Equal);
  for (unsigned long k : {25UL, 12UL, 0UL, 13UL}) h.Insert(k, static_cast<int>(k));
  std::vector<unsigned long> order;
  for (bool ok = h.First(); ok; ok = h.Next()) order.push_back(h.GetCurrentKey());
  EXPECT_EQ((std::vector<unsigned long>{13, 0, 12, 25}), order);
}

// Keys and values that record their deletion.
std::set<std::string> g_deleted;
struct Value {
  std::string name;
  ~Value() { g_deleted.insert(name); }
};
unsigned long TextHash(char const *k) { return SQLTextHash(k); }
bool TextEqual(char const *a, char const *b) { return SQLTextEqual(a, b); }
using TextRecycler = Recycler<char, Value, char[]>;

std::unique_ptr<char[]> Key(char const *text) {
  std::unique_ptr<char[]> k(new char[std::strlen(text) + 1]);
  std::strcpy(k.get(), text);
  return k;
}

TEST(Recycler, EvictsTheOldestWhenFull) {
  g_deleted.clear();
  {
    TextRecycler cache(2, TextHash, TextEqual);
    cache.Insert(Key("A"), std::make_unique<Value>(Value{"a"}));
    g_deleted.clear();  // the temporaries above
    cache.Insert(Key("B"), std::unique_ptr<Value>(new Value{"b"}));
    cache.Insert(Key("C"), std::unique_ptr<Value>(new Value{"c"}));
    EXPECT_EQ(std::set<std::string>{"a"}, g_deleted);
    EXPECT_THROW(cache.Extract("A"), RecyclerExNotExists);
    std::unique_ptr<Value> b = cache.Extract("B");
    EXPECT_EQ("b", b->name);
    EXPECT_THROW(cache.Extract("B"), RecyclerExNotExists);
    EXPECT_EQ(1, cache.NrElements());
    EXPECT_DOUBLE_EQ(1.0 / 3.0, cache.Efficiency());
    // Back in as the newest: the next eviction takes C.
    cache.Insert(Key("B"), std::move(b));
    cache.Insert(Key("D"), std::unique_ptr<Value>(new Value{"d"}));
    EXPECT_TRUE(g_deleted.count("c"));
    EXPECT_EQ("b", cache.Extract("B")->name);
  }
  EXPECT_TRUE(g_deleted.count("d"));  // the destructor deletes what is left
}

// A hash function that allocates can fail: an insert that meets the failure,
// with room left or at capacity, frees its key and value and leaves the
// entries as they were (LeakSanitizer checks that nothing is left over).
bool g_hashFails = false;
unsigned long FailingHash(char const *k) {
  if (g_hashFails) throw std::bad_alloc();
  return SQLTextHash(k);
}

TEST(Recycler, AnInsertWhoseHashFailsChangesNothing) {
  for (int entries : {0, 1, 2}) {
    g_deleted.clear();
    TextRecycler cache(2, FailingHash, TextEqual);
    char const *const names[] = {"a", "b"};
    for (int i = 0; i < entries; ++i) cache.Insert(Key(names[i]), std::unique_ptr<Value>(new Value{names[i]}));
    g_hashFails = true;
    EXPECT_THROW(cache.Insert(Key("x"), std::unique_ptr<Value>(new Value{"x"})), std::bad_alloc) << entries;
    g_hashFails = false;
    EXPECT_EQ(std::set<std::string>{"x"}, g_deleted) << entries;
    EXPECT_EQ(entries, cache.NrElements());
    for (int i = 0; i < entries; ++i) EXPECT_EQ(names[i], cache.Extract(names[i])->name);
    cache.Insert(Key("c"), std::unique_ptr<Value>(new Value{"c"}));  // the cache still works
    EXPECT_EQ("c", cache.Extract("c")->name);
  }
}

TEST(Recycler, LongRunKeepsTheNewestEntries) {
  TextRecycler cache(330, TextHash, TextEqual);
  EXPECT_EQ(769, cache.BucketCount());
  for (int i = 0; i < 1000; ++i)
    cache.Insert(Key(std::to_string(i).c_str()), std::unique_ptr<Value>(new Value{"v"}));
  EXPECT_EQ(330, cache.NrElements());
  EXPECT_THROW(cache.Extract("669"), RecyclerExNotExists);
  EXPECT_NO_THROW(cache.Extract("670"));
  EXPECT_NO_THROW(cache.Extract("999"));
  EXPECT_EQ(328, cache.NrElements());
}

TEST(Recycler, ZeroCapacityKeepsNothing) {
  g_deleted.clear();
  TextRecycler cache(0, TextHash, TextEqual);
  cache.Insert(Key("A"), std::unique_ptr<Value>(new Value{"a"}));
  EXPECT_TRUE(g_deleted.count("a"));
  EXPECT_THROW(cache.Extract("A"), RecyclerExNotExists);
}

}  // namespace
