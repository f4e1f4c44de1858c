// Request procedures against scripted drivers: buffered actions leave in one
// EXE_UPDATE at a flush, the row data sets are emptied whatever the reply,
// a 520 reply fills the detail error, and table actions reach every copy
// with the locking pass and the undo of a failed create.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_detail.h>

#include "dbc/actions/action_codes.h"
#include "dbc/dict/dd.h"
#include "dbc/request/rds.h"
#include "dbc/request/request_block.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/log_capture.h"
#include "dbc/scripted_peer.h"
#include "support/test_env.h"

namespace {

using molvane::test::Bytes;
using molvane::test::ScriptedPeer;
using Sent = std::vector<std::uint8_t>;

std::uint32_t U32(const Sent &b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

// One copy of a table: a driver, a session and the table session with its
// internal cursor.
struct Copy {
  ScriptedPeer peer;
  ZDB_SESSION session;
  ZDB_TABLE_SESSION tsession;
  ZDB_INTERNAL_CURSOR icursor;
};

class RequestProcedures : public testing::Test {
 protected:
  void SetUp() override {
    set_zuv(molvane::test::FixturePath("zuv").c_str());
    init_local_dd();
    table_ = ddtable("exemp010");
    ASSERT_NE(table_, nullptr);
    dbc_state().logged_on = true;
    trans_.id = 1;
    std::strcpy(trans_.name, "t1");
    dbc_state().id_in_use[1] = true;
    dbc_state().trans_list = &trans_;
    key_ = ZDB_TABLE_COMPNR{nullptr, table_, 1};
    company_.logical = 1;
    company_.physical = 1;
    company_.updates = &holder_;
  }
  void TearDown() override {
    rds_close(holder_.rds[0]);
    rds_close(holder_.rds[1]);
    dbc_state().trans_list = nullptr;
  }

  // Adds a copy on a driver of its own to the end of the main chain.
  Copy &AddCopy(std::uint32_t session_id) {
    copies_.push_back(std::make_unique<Copy>());
    Copy &c = *copies_.back();
    c.session.trans = &trans_;
    c.session.server = c.peer.server();
    c.session.server_session_id = session_id;
    c.session.table_sessions = &c.tsession;
    c.tsession.session = &c.session;
    c.tsession.key = &key_;
    c.tsession.open = &c.icursor;
    c.icursor.tsession = &c.tsession;
    c.icursor.company = &company_;
    ZDB_SESSION **tail = &trans_.sessions;
    while (*tail) tail = &(*tail)->next_in_trans;
    *tail = &c.session;
    if (copies_.size() == 1) {
      company_.head = &c.icursor;
    } else {
      copies_[copies_.size() - 2]->icursor.next_in_chain = &c.icursor;
    }
    return c;
  }

  // A buffered action record: kind, flags, a row image with its key.
  std::vector<unsigned char> Record(std::uint32_t kind, std::uint32_t flags, int emp) {
    std::vector<unsigned char> record(ZDB_ACTION_HEADER + table_->row_length, 0);
    for (int i = 0; i < 4; ++i) {
      record[i] = static_cast<unsigned char>(kind >> (24 - 8 * i));
      record[4 + i] = static_cast<unsigned char>(flags >> (24 - 8 * i));
    }
    unsigned char *image = record.data() + ZDB_ACTION_HEADER;
    fill_default_row(table_, image);
    DD_COLUMN *c = ddcolumn("exemp010.emp");
    image[c->offset + c->length - 1] = static_cast<unsigned char>(emp);
    return record;
  }

  // The rows of the first table of an EXE_UPDATE request, decoded through a
  // row data set of the table's layout.
  std::vector<std::vector<unsigned char>> Rows(const Sent &sent, std::size_t at) {
    std::size_t pos = at + 1 + 4 + 2 + 8 + 2;
    std::uint32_t length = U32(sent, pos);
    std::vector<std::vector<unsigned char>> rows;
    if (length == 0) return rows;
    RDS *rds = rds_open_update_actions(table_, nullptr, nullptr);
    rds_write_data(rds, 0, sent.data() + pos + 8, static_cast<std::int32_t>(length));
    rds->row_count = static_cast<std::int32_t>(U32(sent, pos + 4));
    std::vector<unsigned char> row(rds->row_length);
    while (rds_get_seq(rds, row.data()) == 0) rows.push_back(row);
    rds_close(rds);
    return rows;
  }

  DD_TABLE *table_ = nullptr;
  ZDB_TRANS trans_;
  ZDB_TABLE_COMPNR key_{};
  ZDB_UPDATE_HOLDER holder_;
  ZDB_COMPANY company_;
  std::vector<std::unique_ptr<Copy>> copies_;
};

TEST_F(RequestProcedures, ThreeInsertsLeaveInOneUpdateWithConsecutiveSequenceNumbers) {
  Copy &c = AddCopy(7);
  trans_.update_seq = 40;
  c.peer.Reply(Bytes().u32(0));
  for (int emp : {1, 2, 3})
    ASSERT_EQ(zdb_do_exec_row(&c.icursor, Record(RDS_ACT_INSERT, 0, emp).data(), 0, 0), 0);
  EXPECT_TRUE(c.peer.Sent().empty());
  ASSERT_EQ(flush_updates(&c.session), 0);
  Sent sent = c.peer.Sent();
  ASSERT_GT(sent.size(), 20u);
  EXPECT_EQ(sent[0], EXE_UPDATE);
  EXPECT_EQ(U32(sent, 1), 7u);
  EXPECT_EQ(sent[5] << 8 | sent[6], 1);
  EXPECT_EQ(std::string(sent.begin() + 7, sent.begin() + 15), "exemp010");
  auto rows = Rows(sent, 0);
  ASSERT_EQ(rows.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(U32(rows[i], 0), 40u + i);
    EXPECT_EQ(U32(rows[i], 4), RDS_ACT_INSERT);
  }
  EXPECT_EQ(holder_.rds[0]->row_count, 0);
  EXPECT_EQ(c.tsession.flags & ZDB_TS_PENDING, 0);
  // Nothing buffered: the next flush sends nothing.
  c.peer.Reply(Bytes());
  ASSERT_EQ(flush_updates(&c.session), 0);
  EXPECT_TRUE(c.peer.Sent().empty());
}

TEST_F(RequestProcedures, FlushFlagsSendAtOnce) {
  Copy &c = AddCopy(7);
  c.peer.Reply(Bytes().u32(0).u32(0));
  ASSERT_EQ(zdb_do_exec_row(&c.icursor, Record(RDS_ACT_INSERT, 0x1000, 1).data(), 0x1000, 0), 0);
  ASSERT_EQ(zdb_do_exec_row(&c.icursor, Record(RDS_ACT_INSERT, 0, 2).data(), 0, 1), 0);
  Sent sent = c.peer.Sent();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0], EXE_UPDATE);
  EXPECT_EQ(Rows(sent, 0).size(), 1u);
}

TEST_F(RequestProcedures, AlwaysFlushSendsEveryAction) {
  setenv("ZDB_ALWAYS_FLUSH", "1", 1);
  Copy &c = AddCopy(7);
  c.peer.Reply(Bytes().u32(0).u32(0));
  ASSERT_EQ(zdb_do_exec_row(&c.icursor, Record(RDS_ACT_INSERT, 0, 1).data(), 0, 0), 0);
  ASSERT_EQ(zdb_do_exec_row(&c.icursor, Record(RDS_ACT_INSERT, 0, 2).data(), 0, 0), 0);
  Sent sent = c.peer.Sent();
  ASSERT_FALSE(sent.empty());
  ASSERT_EQ(sent[0], EXE_UPDATE);
  std::size_t second = 0;
  for (std::size_t i = 1; i + 7 < sent.size(); ++i)
    if (sent[i] == EXE_UPDATE && U32(sent, i + 1) == 7u && sent[i + 6] == 1) second = i;
  ASSERT_GT(second, 0u);
  EXPECT_EQ(Rows(sent, second).size(), 1u);
}

TEST_F(RequestProcedures, FailedUpdateFillsTheDetailErrorAndStillEmptiesTheSets) {
  Copy &c = AddCopy(7);
  c.peer.Reply(Bytes().u32(ZE_BUFFERED_UPDATE).u32(ZE_DUPLICATE_VALUE).raw("exemp010").u16(1)
                   .u32(5).raw("key 2"));
  ASSERT_EQ(zdb_do_exec_row(&c.icursor, Record(RDS_ACT_INSERT, 0, 2).data(), 0, 0), 0);
  EXPECT_EQ(flush_updates(&c.session), -1);
  EXPECT_EQ(zdb_errno, ZE_BUFFERED_UPDATE);
  EXPECT_EQ(holder_.rds[0]->row_count, 0);
  char name[9];
  int compnr = 0;
  const char *extra = nullptr;
  EXPECT_EQ(zdb_get_detail_error(name, &compnr, &extra, 1), ZE_DUPLICATE_VALUE);
  EXPECT_STREQ(name, "exemp010");
  EXPECT_EQ(compnr, 1);
  ASSERT_NE(extra, nullptr);
  EXPECT_STREQ(extra, "key 2");
  EXPECT_EQ(zdb_get_detail_error(nullptr, nullptr, nullptr, 2), -1);
}

TEST_F(RequestProcedures, ClearOverTwoCopiesLocksBothThenClearsBoth) {
  Copy &a = AddCopy(11);
  Copy &b = AddCopy(12);
  a.peer.Reply(Bytes().u32(0).u32(0).u32(0).u32(0));
  b.peer.Reply(Bytes().u32(0).u32(0).u32(0).u32(0));
  std::uint32_t argument = 0;
  ASSERT_EQ(zdb_do_exec_table(&a.icursor, table_action_word(clear_table), &argument), 0);
  for (Copy *c : {&a, &b}) {
    Sent sent = c->peer.Sent();
    // EXE_TBL_CNTR: code, session, name and NUL, company, action, argument, sequence.
    const std::size_t size = 1 + 4 + 9 + 2 + 4 + 4 + 4;
    ASSERT_EQ(sent.size(), 2 * size);
    EXPECT_EQ(U32(sent, 16) & 0xFF, static_cast<std::uint32_t>(lock_table));
    EXPECT_EQ(U32(sent, 20), 2u);  // lock type 2
    EXPECT_EQ(U32(sent, size + 16) & 0xFF, static_cast<std::uint32_t>(clear_table));
    EXPECT_TRUE(c->session.flags & ZDB_SESSION_NO_TABLES);
  }
}

TEST_F(RequestProcedures, FailedCreateOnTheSecondCopyDropsOnlyWhatThisCallCreated) {
  molvane::test::LogCapture log;
  Copy &a = AddCopy(11);
  Copy &b = AddCopy(12);
  a.peer.Reply(Bytes().u32(0).u32(0).u32(0).u32(0));
  b.peer.Reply(Bytes().u32(0).u32(ZE_ILLEGAL_STATE));
  std::uint32_t argument = 0;
  EXPECT_EQ(zdb_do_exec_table(&a.icursor, table_action_word(create_table), &argument), -1);
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_STATE);
  Sent sent = a.peer.Sent();
  const std::size_t size = 1 + 4 + 9 + 2 + 4 + 4 + 4;
  ASSERT_EQ(sent.size(), 2 * size);
  EXPECT_EQ(U32(sent, 16) & 0xFF, static_cast<std::uint32_t>(create_table));
  EXPECT_EQ(U32(sent, size + 16) & 0xFF, static_cast<std::uint32_t>(drop_table));
  EXPECT_TRUE(log.Contains("mirror-table: error in copy db on 'exemp010' error 215"));

  // The first copy refusing the create (it exists already): nothing is dropped.
  a.peer.Reply(Bytes().u32(0).u32(ZE_ILLEGAL_STATE));
  b.peer.Reply(Bytes());
  EXPECT_EQ(zdb_do_exec_table(&a.icursor, table_action_word(create_table), &argument), -1);
  EXPECT_EQ(a.peer.Sent().size(), size);
  EXPECT_TRUE(b.peer.Sent().empty());
}

TEST_F(RequestProcedures, LockTableSendsEveryListedDictionaryBeforeTheRepeat) {
  Copy &c = AddCopy(3);
  c.peer.Reply(Bytes()
                   .u32(2).u32(ZE_NO_DD).u32(2).raw("exdep010").u16(1).raw("exemp010").u16(1)
                   .u32(0).u32(0)      // the two DD_INFO_TABLE replies
                   .u32(2).u32(0));    // the repeated lock
  ASSERT_EQ(dbcSessionLockTable(&c.session, "exemp010", 1, 2), 0) << zdb_errno;
  Sent sent = c.peer.Sent();
  int dictionaries = 0, locks = 0;
  for (std::size_t i = 0; i + 13 <= sent.size(); ++i) {
    std::string name(sent.begin() + i + 5, sent.begin() + i + 13);
    if (sent[i] == DD_INFO_TABLE && U32(sent, i + 1) == 3u && (name == "exdep010" || name == "exemp010"))
      ++dictionaries;
    if (sent[i] == EXE_TBL_CNTR && U32(sent, i + 1) == 3u && name == "exemp010") {
      ++locks;
      EXPECT_EQ(U32(sent, i + 16), 0x4007u);
      EXPECT_EQ(U32(sent, i + 20), 2u);
    }
  }
  EXPECT_EQ(dictionaries, 2);
  EXPECT_EQ(locks, 2);
}

TEST_F(RequestProcedures, KeyedReadSendsTheKeyAndTakesTheRow) {
  Copy &c = AddCopy(5);
  c.peer.Reply(Bytes().u16(3).raw("abc").u32(0));
  unsigned char row[16] = {0, 9};
  std::uint16_t length = 2;
  ASSERT_EQ(zdb_do_exec_read_eq(&c.icursor, 1, row, &length, sizeof row, nullptr, 1), 0);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(std::memcmp(row, "abc", 3), 0);
  Sent sent = c.peer.Sent();
  EXPECT_EQ(sent, (Sent{EXE_ROW_CNTR, 0, 0, 0, 5, 'e', 'x', 'e', 'm', 'p', '0', '1', '0', 0, 0, 1,
                        0, 0, 0, 1, 0, 2, 0, 9}));
  c.peer.Reply(Bytes().u16(0).u32(111));
  EXPECT_EQ(zdb_do_exec_read_eq(&c.icursor, 0, row, &length, sizeof row, nullptr, 1), -1);
  EXPECT_EQ(zdb_errno, 111);
}

}  // namespace
