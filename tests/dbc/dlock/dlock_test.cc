// The delayed-lock store on a hand-made table: ids by key, generations, the
// key index, commit-resistant rows and transaction end.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <molvane/zdb.h>

#include "dbc/dict/dd.h"
#include "dbc/dlock/dlock.h"
#include "dbc/dlock/dlock_index.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/dd_test_env.h"
#include "sql/common/crc32.h"

namespace {

constexpr int kCode = 0;        // code: 8-byte text, the key
constexpr int kQty = 8;         // qty: 32-bit integer
constexpr int kDlockOffset = 12;
constexpr int kRowLength = kDlockOffset + 6;

// exdlk010 with the columns code (index 1) and qty.
class DlockTable {
 public:
  DlockTable() {
    columns_[0] = Column("code", DDT_STRING, kCode, 8);
    columns_[1] = Column("qty", DDT_LONG, kQty, 4);
    parts_[0] = &columns_[0];
    key_ = DD_KEY{parts_, 1, 0, 0};
    table_.columns = columns_;
    table_.column_count = 2;
    table_.keys = &key_;
    table_.key_count = 1;
    table_.dlock_offset = kDlockOffset;
    table_.row_length = kRowLength;
    std::strcpy(table_.name, "exdlk010");
  }
  const DD_TABLE *table() const { return &table_; }
  const DD_KEY *key() const { return &key_; }

 private:
  static DD_COLUMN Column(const char *name, int type, int offset, int length) {
    DD_COLUMN c{};
    std::snprintf(c.name, sizeof c.name, "exdlk010.%s", name);
    c.type = static_cast<uint8_t>(type);
    c.offset = static_cast<uint16_t>(offset);
    c.length = static_cast<uint16_t>(length);
    c.depth = 1;
    return c;
  }
  DD_COLUMN columns_[2];
  DD_COLUMN *parts_[2] = {nullptr, nullptr};
  DD_KEY key_{};
  DD_TABLE table_{};
};

using Row = std::vector<unsigned char>;

Row MakeRow(const std::string &code, int qty) {
  Row row(kRowLength, 0);
  std::memset(row.data() + kCode, ' ', 8);
  std::memcpy(row.data() + kCode, code.data(), std::min<size_t>(code.size(), 8));
  const auto v = static_cast<uint32_t>(qty);
  row[kQty] = static_cast<unsigned char>(v >> 24);
  row[kQty + 1] = static_cast<unsigned char>(v >> 16);
  row[kQty + 2] = static_cast<unsigned char>(v >> 8);
  row[kQty + 3] = static_cast<unsigned char>(v);
  return row;
}

bool ImageIs(const DLOCK_ENTRY *entry, const Row &row) {
  return entry != nullptr && std::memcmp(dlock_entry_image(entry), row.data(), kDlockOffset) == 0;
}

class DlockStore : public ::testing::Test {
 protected:
  void TearDown() override {
    dlock_store_remove(&dlock_);
    dlock_on_transaction_end(&trans_, abort_trans);
  }
  int Put(const Row &row) { return dlock_store_put(&dlock_, row.data()); }
  DLOCK_ENTRY *Get(int id) { return dlock_store_get(&dlock_, id); }
  DLOCK_HDR *Hdr() { return dlock_.store; }

  DlockTable table_;
  ZDB_TRANS trans_;
  ZDB_DLOCK dlock_{nullptr, table_.table(), 100, &trans_};
};

TEST(DlockKeyHash, IsTheStandardCrc32OverTheKeyColumnsInOrder) {
  const unsigned char check[] = "123456789";
  EXPECT_EQ(calc_crc(0, check, 9), 0xCBF43926u);

  // A combined part contributes its members in turn, each at its offset.
  DD_COLUMN a{}, b{}, combined{};
  a.type = DDT_STRING, a.offset = 5, a.length = 4;
  b.type = DDT_STRING, b.offset = 0, b.length = 5;
  DD_COLUMN *members[] = {&a, &b, nullptr};
  combined.type = DDT_COMBINED;
  combined.members = members;
  DD_COLUMN *parts[] = {&combined, nullptr};
  DD_KEY key{parts, 1, 0, 0};
  const unsigned char row[] = "56789" "1234";
  EXPECT_EQ(dlock_key_hash(&key, row), 0xCBF43926u);
}

TEST_F(DlockStore, SameKeyGivesSameIdAndReplacesTheImage) {
  EXPECT_EQ(Put(MakeRow("A", 1)), 1);
  EXPECT_EQ(Put(MakeRow("B", 2)), 2);
  const Row again = MakeRow("A", 99);
  EXPECT_EQ(Put(again), 1);
  EXPECT_EQ(Hdr()->count, 2u);
  EXPECT_TRUE(ImageIs(Get(1), again));
  // The slot prepared for the matched put is the next one handed out.
  EXPECT_EQ(Put(MakeRow("C", 3)), 3);
  EXPECT_EQ(dlock_store_find(&dlock_, MakeRow("C", 0).data()), 3);
  EXPECT_EQ(dlock_store_find(&dlock_, MakeRow("Z", 0).data()), 0);
}

TEST_F(DlockStore, IdsKeepRisingAcrossGenerationsAndOldIdsAreNotFound) {
  EXPECT_EQ(Put(MakeRow("A", 1)), 1);
  EXPECT_EQ(Put(MakeRow("B", 2)), 2);
  dlock_on_transaction_end(&trans_, commit_trans);
  zdb_errno = 0;
  reset_zdb_msg();
  EXPECT_EQ(Get(1), nullptr);
  EXPECT_EQ(zdb_errno, ZE_NOT_LOCKED);
  EXPECT_STREQ(get_zdb_msg(),
               "Record not locked in exdlk010100: delayed-lock id 1 is not in use (read the row "
               "with a lock or a delayed lock in this transaction first)");
  EXPECT_EQ(dlock_store_find(&dlock_, MakeRow("A", 0).data()), 0);
  EXPECT_EQ(Put(MakeRow("A", 1)), 3);
  EXPECT_EQ(Get(2), nullptr);
  EXPECT_NE(Get(3), nullptr);
  EXPECT_EQ(Get(4), nullptr);
  EXPECT_EQ(Get(0), nullptr);
  EXPECT_EQ(Get(-1), nullptr);
}

TEST_F(DlockStore, InitOffsetOnlyBetweenGenerationsAndFromOne) {
  zdb_errno = 0;
  reset_zdb_msg();
  EXPECT_EQ(dlock_store_init_offset(&dlock_, 1000), -1) << "no store yet";
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_STATE);
  EXPECT_STREQ(get_zdb_msg(),
               "The next delayed-lock id can be set only after the table kept rows once and while "
               "it keeps none (it kept none yet)");
  Put(MakeRow("A", 1));
  reset_zdb_msg();
  EXPECT_EQ(dlock_store_init_offset(&dlock_, 1000), -1) << "generation holds entries";
  EXPECT_STREQ(get_zdb_msg(),
               "The next delayed-lock id can be set only after the table kept rows once and while "
               "it keeps none (it keeps rows now)");
  dlock_on_transaction_end(&trans_, commit_trans);
  for (int bad : {0, -1, INT32_MIN}) {
    zdb_errno = 0;
    reset_zdb_msg();
    EXPECT_EQ(dlock_store_init_offset(&dlock_, bad), -1) << bad;
    EXPECT_EQ(zdb_errno, ZE_ILLEGAL_ARGUMENT);
    EXPECT_EQ(get_zdb_msg(), "Illegal argument: delayed-lock ids start at 1, not at " + std::to_string(bad));
  }
  EXPECT_EQ(dlock_store_init_offset(&dlock_, 1000), 0);
  EXPECT_EQ(Put(MakeRow("A", 1)), 1000);
  EXPECT_EQ(Put(MakeRow("B", 1)), 1001);
  EXPECT_NE(Get(1000), nullptr);
}

TEST_F(DlockStore, TheLastIdIsTheLargestSigned32BitNumber) {
  Put(MakeRow("A", 1));
  dlock_on_transaction_end(&trans_, commit_trans);
  ASSERT_EQ(dlock_store_init_offset(&dlock_, INT32_MAX), 0);
  EXPECT_EQ(Put(MakeRow("A", 1)), INT32_MAX);
  EXPECT_EQ(Put(MakeRow("A", 2)), INT32_MAX) << "same key, same id";
  zdb_errno = 0;
  EXPECT_EQ(Put(MakeRow("B", 1)), -1);
  EXPECT_EQ(zdb_errno, ZE_ALLOCATION);
}

TEST_F(DlockStore, TheFourteenthNodeGrowsTheIndexToTwentyThreeBuckets) {
  for (int i = 0; i < 13; ++i) Put(MakeRow("K" + std::to_string(i), i));
  EXPECT_EQ(dlock_index_buckets(Hdr()->index), 13u);
  Put(MakeRow("K0", 100));  // a match adds no node, but the check runs first
  EXPECT_EQ(dlock_index_buckets(Hdr()->index), 23u);
  EXPECT_EQ(Hdr()->index->nodes, 13u);
  for (int i = 0; i < 13; ++i)
    EXPECT_EQ(dlock_store_find(&dlock_, MakeRow("K" + std::to_string(i), 0).data()), i + 1);
}

// Random keys with repeats against a model: every key keeps its first id and
// its last image, across grown block arrays and bucket arrays; every chain
// stays in ascending id order.
TEST_F(DlockStore, ManyRowsMatchAModelOfKeysAndIds) {
  std::mt19937 rng(7);
  std::map<std::string, int> ids;
  std::map<std::string, int> last_qty;
  for (int i = 0; i < 3000; ++i) {
    const std::string key = "R" + std::to_string(rng() % 1200);
    const int qty = static_cast<int>(rng() % 100000);
    const int id = Put(MakeRow(key, qty));
    ASSERT_GT(id, 0);
    auto [it, added] = ids.emplace(key, id);
    ASSERT_EQ(it->second, id) << key;
    last_qty[key] = qty;
    (void)added;
  }
  EXPECT_EQ(Hdr()->count, ids.size());
  EXPECT_GT(Hdr()->slots, static_cast<uint32_t>(DLOCK_INLINE_SLOTS));
  EXPECT_GE(dlock_index_buckets(Hdr()->index), ids.size());
  for (const auto &[key, id] : ids) {
    EXPECT_TRUE(ImageIs(Get(id), MakeRow(key, last_qty[key]))) << key;
    EXPECT_EQ(dlock_store_find(&dlock_, MakeRow(key, 0).data()), id);
  }
  const DLOCK_INDEX *index = Hdr()->index;
  for (uint32_t b = 0; b < dlock_index_buckets(index); ++b)
    for (const DLOCK_NODE *n = index->buckets[b]; n && n->next; n = n->next)
      ASSERT_LT(n->entry->id, n->next->entry->id);
}

TEST_F(DlockStore, UpdateMovesTheEntryToItsNewKeyAndMarksIt) {
  Put(MakeRow("A", 1));
  const int id = Put(MakeRow("B", 2));
  DLOCK_ENTRY *entry = Get(id);
  ASSERT_NE(entry, nullptr);
  const Row changed = MakeRow("Q", 7);
  ASSERT_EQ(dlock_store_update(&dlock_, entry, changed.data()), 0);
  EXPECT_TRUE(entry->flags & DLOCK_UPDATED);
  EXPECT_EQ(dlock_store_find(&dlock_, MakeRow("Q", 0).data()), id);
  EXPECT_EQ(dlock_store_find(&dlock_, MakeRow("B", 0).data()), 0);
  EXPECT_EQ(Put(MakeRow("Q", 8)), id);

  // A refresh by id takes the row and clears the mark; an id below 1 stores anew.
  EXPECT_EQ(dlock_store_put_fixed(&dlock_, MakeRow("Q", 9).data(), id), id);
  EXPECT_FALSE(Get(id)->flags & DLOCK_UPDATED);
  EXPECT_TRUE(ImageIs(Get(id), MakeRow("Q", 9)));
  EXPECT_EQ(dlock_store_put_fixed(&dlock_, MakeRow("N", 1).data(), 0), id + 1);
  zdb_errno = 0;
  EXPECT_EQ(dlock_store_put_fixed(&dlock_, MakeRow("N", 1).data(), 77), -1);
  EXPECT_EQ(zdb_errno, ZE_NOT_LOCKED);
}

TEST_F(DlockStore, CommitResistantRowSurvivesCommitsButNotAnAbort) {
  Put(MakeRow("A", 1));
  const Row kept = MakeRow("CR", 5);
  const int cr = dlock_store_put_commit_resistant(&dlock_, kept.data());
  ASSERT_EQ(cr, 2);
  Put(MakeRow("B", 1));

  dlock_on_transaction_end(&trans_, commit_trans);
  EXPECT_TRUE(ImageIs(Get(cr), kept));
  EXPECT_EQ(Get(1), nullptr);
  EXPECT_EQ(Hdr()->cr_id, static_cast<uint32_t>(cr));
  EXPECT_EQ(dlock_store_find(&dlock_, kept.data()), cr);

  // Changed in the next transaction, it comes back changed after the commit.
  const Row changed = MakeRow("CR", 6);
  ASSERT_EQ(dlock_store_update(&dlock_, Get(cr), changed.data()), 0);
  dlock_on_transaction_end(&trans_, commit_trans);
  EXPECT_TRUE(ImageIs(Get(cr), changed));

  dlock_on_transaction_end(&trans_, abort_trans);
  EXPECT_EQ(Get(cr), nullptr);
  EXPECT_EQ(Hdr()->cr_id, 0u);
  dlock_on_transaction_end(&trans_, commit_trans);
  EXPECT_EQ(Get(cr), nullptr);
}

// After a commit the numbering restarts just past the commit-resistant id,
// below ids handed out before: an old id then names another row. A lookup
// for a delete or update refuses an entry whose key is not the row's.
TEST_F(DlockStore, AStaleIdDoesNotFetchAnotherRowsImage) {
  const int cr = dlock_store_put_commit_resistant(&dlock_, MakeRow("CR", 1).data());
  Row b = MakeRow("B", 2);
  const int b_id = Put(b);
  ASSERT_EQ(b_id, cr + 1);
  dlock_on_transaction_end(&trans_, commit_trans);
  const Row d = MakeRow("D", 3);
  ASSERT_EQ(Put(d), b_id) << "the id of B is handed out again";

  EXPECT_TRUE(ImageIs(dlock_store_get(&dlock_, b_id), d));
  zdb_errno = 0;
  EXPECT_EQ(dlock_store_get_of(&dlock_, b_id, b.data()), nullptr);
  EXPECT_EQ(zdb_errno, ZE_NOT_LOCKED);
  EXPECT_TRUE(ImageIs(dlock_store_get_of(&dlock_, b_id, MakeRow("D", 99).data()), d));
}

TEST_F(DlockStore, StopKeepsTheCommitResistantIdForTheNextCommit) {
  const Row kept = MakeRow("CR", 5);
  const int cr = dlock_store_put_commit_resistant(&dlock_, kept.data());
  dlock_on_transaction_end(&trans_, 0);
  EXPECT_EQ(Get(cr), nullptr);
  Put(MakeRow("X", 1));
  dlock_on_transaction_end(&trans_, commit_trans);
  EXPECT_TRUE(ImageIs(Get(cr), kept));
}

// Two tables of one transaction: the end reaches both, and a store removed
// before the end is not touched by it.
TEST(DlockTransaction, EndReachesEveryStoreOfTheTransaction) {
  DlockTable table;
  ZDB_TRANS trans, other;
  ZDB_DLOCK a{nullptr, table.table(), 1, &trans};
  ZDB_DLOCK b{nullptr, table.table(), 2, &trans};
  ZDB_DLOCK c{nullptr, table.table(), 3, &other};
  const Row row = MakeRow("A", 1);
  ASSERT_EQ(dlock_store_put(&a, row.data()), 1);
  ASSERT_EQ(dlock_store_put(&b, row.data()), 1);
  ASSERT_EQ(dlock_store_put(&c, row.data()), 1);
  dlock_on_transaction_end(&trans, commit_trans);
  EXPECT_EQ(dlock_store_get(&a, 1), nullptr);
  EXPECT_EQ(dlock_store_get(&b, 1), nullptr);
  EXPECT_NE(dlock_store_get(&c, 1), nullptr) << "another transaction's store stays";
  EXPECT_EQ(dlock_store_put(&a, row.data()), 2);

  dlock_store_remove(&a);
  EXPECT_EQ(a.store, nullptr);
  dlock_on_transaction_end(&trans, abort_trans);
  EXPECT_EQ(dlock_store_put(&b, row.data()), 2);
  dlock_store_remove(&b);
  dlock_store_remove(&c);
}

// The employees table of the fixture dictionary: index 1 is emp, so two rows
// of one employee share an id whatever else differs.
TEST(DlockFixture, RowsOfTheSameKeyShareAnIdOnALoadedTable) {
  molvane::test::UseFixtureDictionary();
  const DD_TABLE *table = ddtable("exemp010");
  ASSERT_NE(table, nullptr);
  const DD_COLUMN *emp = ddcolumn("exemp010.emp");
  const DD_COLUMN *name = ddcolumn("exemp010.name");
  ASSERT_NE(emp, nullptr);
  ASSERT_NE(name, nullptr);
  auto row = [&](int id, const char *text) {
    Row r(table->default_row, table->default_row + table->row_length);
    r[emp->offset + 3] = static_cast<unsigned char>(id);
    std::memcpy(r.data() + name->offset, text, std::strlen(text));
    return r;
  };
  ZDB_TRANS trans;
  ZDB_DLOCK dlock{nullptr, table, 0, &trans};
  EXPECT_EQ(dlock_store_put(&dlock, row(7, "Smith").data()), 1);
  EXPECT_EQ(dlock_store_put(&dlock, row(8, "Smith").data()), 2);
  EXPECT_EQ(dlock_store_put(&dlock, row(7, "Jones").data()), 1);
  const Row jones = row(7, "Jones");
  EXPECT_EQ(std::memcmp(dlock_entry_image(dlock_store_get(&dlock, 1)), jones.data(),
                        table->dlock_offset),
            0);
  dlock_store_remove(&dlock);
}

TEST(DlockRow, IdIsWrittenBigEndianAtTheDelayedLockOffset) {
  DlockTable table;
  Row row(kRowLength, 0xEE);
  put_dlock_in_row(table.table(), row.data(), 0x01020304);
  EXPECT_EQ(Row(row.begin() + kDlockOffset, row.begin() + kDlockOffset + 4),
            (Row{0x01, 0x02, 0x03, 0x04}));
  EXPECT_EQ(row[kDlockOffset - 1], 0xEE);
  EXPECT_EQ(row[kDlockOffset + 4], 0xEE);
  EXPECT_EQ(get_dlock_from_row(table.table(), row.data()), 0x01020304);
}

TEST_F(DlockStore, DebugBitFourTracesPutsAndGets) {
  dbc_state().debug = 4;
  testing::internal::CaptureStderr();
  Put(MakeRow("A", 1));
  Get(1);
  const std::string err = testing::internal::GetCapturedStderr();
  dbc_state().debug = 0;
  EXPECT_NE(err.find("Put dlock id 1 (start 0) for exdlk010100 table "), std::string::npos) << err;
  EXPECT_NE(err.find("Get dlock id 1 (start 0) from exdlk010100 table "), std::string::npos) << err;
  EXPECT_NE(err.find("   row: "), std::string::npos) << err;
  EXPECT_NE(err.find("   entry: "), std::string::npos) << err;
}

}  // namespace
