// Reply readers and the round trip against a scripted peer: golden replies,
// truncated replies at every cut, and replies whose lengths break a bound.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include <molvane/zdb.h>

#include "dbc/actions/zdb_exec.h"
#include "dbc/request/rds.h"
#include "dbc/request/request_block.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/scripted_peer.h"

namespace {

using molvane::test::Bytes;
using molvane::test::ScriptedPeer;

int RoundTrip(ScriptedPeer &peer, int code, const Bytes &reply,
              const std::function<void(ZDB_REQUEST &)> &fill = nullptr) {
  peer.Reply(reply);
  dbc_request_prepare(code);
  if (fill) fill(dbc_request());
  return zdb_commu(peer.server());
}

TEST(RequestRead, AttServerReplyFillsDriverFacts) {
  ScriptedPeer peer;
  ASSERT_EQ(RoundTrip(peer, ATT_SERVER, Bytes().u32(64).u32(4242).u32(0x200).u32(6).u8(3).u32(0)), 0);
  const auto &f = dbc_request().att_server;
  EXPECT_EQ(f.sessions_allowed, 64u);
  EXPECT_EQ(f.pid, 4242u);
  EXPECT_EQ(f.level_flags, 0x200u);
  EXPECT_EQ(f.sql_protocol, 6u);
  EXPECT_EQ(f.idle_limit, 3);
  EXPECT_EQ(zdb_errno, 0);
}

TEST(RequestRead, RetvalDecidesTheResult) {
  ScriptedPeer peer;
  EXPECT_EQ(RoundTrip(peer, DET_SERVER, Bytes().u32(0)), 0);
  EXPECT_EQ(RoundTrip(peer, DET_SERVER, Bytes().u32(107)), -1);
  EXPECT_EQ(zdb_errno, 107);
  EXPECT_EQ(RoundTrip(peer, DET_SERVER, Bytes().u32(0xFFFFFFFF)), 0);
  EXPECT_EQ(zdb_errno, -1);
  EXPECT_EQ(RoundTrip(peer, ATT_SESSION, Bytes().u32(31).u32(0)), 0);
  EXPECT_EQ(dbc_request().session_id, 31u);
}

TEST(RequestRead, TableActionReturnsArgumentAndDictionaryList) {
  ScriptedPeer peer;
  ASSERT_EQ(RoundTrip(peer, EXE_TBL_CNTR, Bytes().u32(12).u32(0)), 0);
  EXPECT_EQ(dbc_request().tbl_cntr.argument, 12u);
  EXPECT_EQ(RoundTrip(peer, EXE_TBL_CNTR,
                      Bytes().u32(0).u32(513).u32(2).raw("tcabc001").u16(100).raw("Tcabc002").u16(7)),
            -1);
  EXPECT_EQ(zdb_errno, ZE_NO_DD);
  const ZDB_DD_LIST &list = dbc_request().dd_list;
  ASSERT_EQ(list.count, 2u);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(list.entries), 8), "tcabc001");
  EXPECT_EQ(list.entries[18] * 256 + list.entries[19], 7);
}

TEST(RequestRead, CommitReplyKeepsAuditListNewestFirst) {
  ScriptedPeer peer;
  ZDB_TRANS trans;
  auto fill = [&](ZDB_REQUEST &r) {
    r.db_cntr.action = commit_trans;
    r.db_cntr.trans = &trans;
  };
  Bytes reply = Bytes().u32(0).u32(1).u32(2).u32(3).text("tcabc001").u16(5).u16(1).u32(99)
                    .text("tcabc002").u16(6).u16(2).u32(98).text("");
  ASSERT_EQ(RoundTrip(peer, EXE_DB_CNTR, reply, fill), 0);
  ASSERT_EQ(trans.audit_list.size(), 2u);
  EXPECT_STREQ(trans.audit_list[0].table, "tcabc002");
  EXPECT_EQ(trans.audit_list[1].value, 99u);
  EXPECT_EQ(trans.audit_values[2], 3u);
  EXPECT_EQ(dbc_request().db_cntr.audit[1], 2u);

  // No audit values (-1), and actions other than 1 and 7 carry none at all.
  ASSERT_EQ(RoundTrip(peer, EXE_DB_CNTR, Bytes().u32(0).u32(0xFFFFFFFF),
                      [&](ZDB_REQUEST &r) { r.db_cntr.action = audit_commit_table_action; }), 0);
  ASSERT_EQ(RoundTrip(peer, EXE_DB_CNTR, Bytes().u32(0),
                      [&](ZDB_REQUEST &r) { r.db_cntr.action = abort_trans; }), 0);
}

TEST(RequestRead, SessionAndSystemAnswerRules) {
  ScriptedPeer peer;
  const char *sent = "hello";
  auto fill = [&](ZDB_REQUEST &r) {
    r.exe.msg = sent;
    r.exe.msglen = 5;
  };
  // EXE_SESSION: an empty answer leaves the caller's message as sent.
  ASSERT_EQ(RoundTrip(peer, EXE_SESSION, Bytes().u16(0).u32(0), fill), 0);
  EXPECT_EQ(dbc_request().exe.msg, sent);
  EXPECT_EQ(dbc_request().exe.msglen, 5);
  ASSERT_EQ(RoundTrip(peer, EXE_SESSION, Bytes().u16(2).raw("ok").u32(0), fill), 0);
  EXPECT_EQ(std::string(dbc_request().exe.msg, dbc_request().exe.msglen), "ok");
  // EXE_SYSTEM: the length always becomes the answer's.
  ASSERT_EQ(RoundTrip(peer, EXE_SYSTEM, Bytes().u16(0).u32(0), fill), 0);
  EXPECT_EQ(dbc_request().exe.msg, sent);
  EXPECT_EQ(dbc_request().exe.msglen, 0);
  ASSERT_EQ(RoundTrip(peer, EXE_SYSTEM, Bytes().u16(3).raw("abc").u32(0), fill), 0);
  EXPECT_EQ(std::string(dbc_request().exe.msg, 3), "abc");
}

TEST(RequestRead, BufferedUpdateFailureDetails) {
  ScriptedPeer peer;
  ZDB_TRANS trans;
  trans.detail_error = 5;
  auto fill = [&](ZDB_REQUEST &r) { r.update.trans = &trans; };
  reset_zdb_msg();
  ASSERT_EQ(RoundTrip(peer, EXE_UPDATE,
                      Bytes().u32(520).u32(606).raw("tcabc001").u16(12).u32(6).raw("bad 42"), fill),
            -1);
  EXPECT_EQ(zdb_errno, ZE_BUFFERED_UPDATE);
  EXPECT_EQ(trans.detail_error, 606);
  EXPECT_EQ(std::string(trans.detail_table, 8), "tcabc001");
  EXPECT_EQ(trans.detail_compnr, 12);
  EXPECT_EQ(trans.detail_extra, "bad 42");
  ASSERT_NE(get_zdb_msg(), nullptr);
  EXPECT_STREQ(get_zdb_msg(), "bad 42");
  // The calls that report the failure say which update it was, or its own
  // cause (a duplicate key's text names its index and values).
  zdb_errno = ZE_BUFFERED_UPDATE;
  zdb_name_failed_update(&trans);
  EXPECT_STREQ(get_zdb_msg(),
               "the update of tcabc001012 failed with error 606 (reference does not exist): bad 42");
  zdb_own_update_error(&trans);
  EXPECT_EQ(zdb_errno, 606);
  EXPECT_STREQ(get_zdb_msg(), "bad 42");

  // Another error number keeps its text out of the message at the reply;
  // the next reply clears the details.
  reset_zdb_msg();
  RoundTrip(peer, EXE_UPDATE, Bytes().u32(520).u32(100).raw("tcabc001").u16(1).u32(1).raw("x"), fill);
  EXPECT_STREQ(get_zdb_msg(), "");
  zdb_own_update_error(&trans);  // no text of a duplicate key: which update it was
  EXPECT_EQ(zdb_errno, 100);
  EXPECT_STREQ(get_zdb_msg(), "the update of tcabc001001 failed with error 100 (duplicate key): x");
  RoundTrip(peer, EXE_UPDATE,
            Bytes().u32(520).u32(100).raw("tcabc001").u16(1).u32(19).raw("Duplicate key a = 1"), fill);
  zdb_own_update_error(&trans);
  EXPECT_STREQ(get_zdb_msg(), "Duplicate key a = 1");
  RoundTrip(peer, EXE_UPDATE, Bytes().u32(520).u32(107).raw("tcabc001").u16(3).u32(0), fill);
  zdb_name_failed_update(&trans);
  EXPECT_STREQ(get_zdb_msg(), "the update of tcabc001003 failed with error 107 (record locked)");
  ASSERT_EQ(RoundTrip(peer, EXE_UPDATE, Bytes().u32(0), fill), 0);
  EXPECT_EQ(trans.detail_error, 0);
  EXPECT_FALSE(trans.has_detail_extra);
}

TEST(RequestRead, RowReplyGoesIntoTheCallersBuffer) {
  ScriptedPeer peer;
  unsigned char row[8] = {};
  auto fill = [&](ZDB_REQUEST &r) {
    r.row_cntr.row = row;
    r.row_cntr.row_capacity = sizeof row;
  };
  ASSERT_EQ(RoundTrip(peer, EXE_ROW_CNTR, Bytes().u16(3).raw("xyz").u32(0), fill), 0);
  EXPECT_EQ(dbc_request().row_cntr.row_len, 3);
  EXPECT_EQ(std::memcmp(row, "xyz", 3), 0);
  EXPECT_EQ(RoundTrip(peer, EXE_ROW_CNTR, Bytes().u16(0).u32(111), fill), -1);
  EXPECT_EQ(zdb_errno, 111);
}

TEST(RequestRead, AlterTableReply) {
  ScriptedPeer peer;
  ASSERT_EQ(RoundTrip(peer, ALTER_TABLE,
                      Bytes().u32(513).u32(1).raw("tcabc001").u16(4).fill(10, 0).u32(77)),
            -1);
  EXPECT_EQ(dbc_request().alter.result, 77u);
  EXPECT_EQ(dbc_request().dd_list.count, 1u);
}

// Every reader, given its complete reply cut short at each length, fails
// with the communication error and never reports success.
TEST(RequestRead, TruncatedRepliesFailWithCommunicationError) {
  unsigned char row[16];
  ZDB_TRANS trans;
  struct Case {
    int code;
    Bytes reply;
    std::function<void(ZDB_REQUEST &)> fill;
  };
  const Case cases[] = {
      {ATT_SERVER, Bytes().u32(1).u32(2).u32(0).u32(6).u8(3).u32(0), nullptr},
      {DET_SERVER, Bytes().u32(0), nullptr},
      {ATT_SESSION, Bytes().u32(1).u32(0), nullptr},
      {EXE_TBL_CNTR, Bytes().u32(0).u32(513).u32(1).raw("tcabc001").u16(1), nullptr},
      {EXE_DB_CNTR, Bytes().u32(0).u32(1).u32(2).u32(3).text("t").u16(1).u16(2).u32(3).text(""),
       [&](ZDB_REQUEST &r) { r.db_cntr.action = commit_trans; r.db_cntr.trans = &trans; }},
      {EXE_SESSION, Bytes().u16(2).raw("ab").u32(0), nullptr},
      {EXE_SYSTEM, Bytes().u16(2).raw("ab").u32(0), nullptr},
      {SQL_MESSAGE, Bytes().u32(3).raw("abc"), nullptr},
      {EXE_UPDATE, Bytes().u32(520).u32(1).raw("tcabc001").u16(1).u32(2).raw("ab"),
       [&](ZDB_REQUEST &r) { r.update.trans = &trans; }},
      {EXE_ROW_CNTR, Bytes().u16(2).raw("ab").u32(0),
       [&](ZDB_REQUEST &r) { r.row_cntr.row = row; r.row_cntr.row_capacity = sizeof row; }},
      {ALTER_TABLE, Bytes().u32(0).u32(0).fill(20, 0).u32(1), nullptr},
  };
  for (const Case &c : cases) {
    const std::vector<std::uint8_t> &full = c.reply.data();
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
      SCOPED_TRACE(std::string(dbc_request_name(c.code)) + " cut at " + std::to_string(cut));
      ScriptedPeer peer;
      peer.Reply(std::vector<std::uint8_t>(full.begin(), full.begin() + cut));
      dbc_request_prepare(c.code);
      if (c.fill) c.fill(dbc_request());
      zdb_errno = 0;
      EXPECT_EQ(zdb_commu(peer.server()), -1);
      EXPECT_EQ(zdb_errno, ZE_COMMUNICATION);
    }
  }
}

TEST(RequestRead, OversizedRepliesAreRefused) {
  unsigned char row[4];
  ZDB_TRANS trans;
  struct Case {
    const char *what;
    int code;
    Bytes reply;
    std::function<void(ZDB_REQUEST &)> fill;
  };
  Bytes endless = Bytes().u32(0).u32(1).u32(2).u32(3);
  for (int i = 0; i <= 65536; ++i) endless.text("a").u16(1).u16(1).u32(1);
  endless.text("");
  const Case cases[] = {
      {"audit entries without end", EXE_DB_CNTR, endless,
       [&](ZDB_REQUEST &r) { r.db_cntr.action = commit_trans; r.db_cntr.trans = &trans; }},
      {"answer beyond the receive buffer", EXE_SESSION,
       Bytes().u16(DBC_RECV_BUF_SIZE + 1).fill(DBC_RECV_BUF_SIZE + 1, 'a').u32(0), nullptr},
      {"system answer beyond the receive buffer", EXE_SYSTEM,
       Bytes().u16(0xFFFF).fill(0xFFFF, 'a').u32(0), nullptr},
      {"row beyond the caller's buffer", EXE_ROW_CNTR, Bytes().u16(5).raw("abcde").u32(0),
       [&](ZDB_REQUEST &r) { r.row_cntr.row = row; r.row_cntr.row_capacity = sizeof row; }},
      {"dictionary list beyond the receive buffer", EXE_TBL_CNTR,
       Bytes().u32(0).u32(513).u32(DBC_RECV_BUF_SIZE / 10 + 1), nullptr},
      {"alter table count above 2", ALTER_TABLE, Bytes().u32(513).u32(3).fill(20, 0).u32(0),
       nullptr},
      {"audit entry name over 11 characters", EXE_DB_CNTR,
       Bytes().u32(0).u32(1).u32(2).u32(3).text("twelve-chars").u16(1).u16(1).u32(1).text(""),
       [&](ZDB_REQUEST &r) { r.db_cntr.action = commit_trans; r.db_cntr.trans = &trans; }},
      {"packets above the cap", SQL_MESSAGE, Bytes().u32(DBC_MAX_SQL_PACKETS + 1), nullptr},
      {"extra text above the cap", EXE_UPDATE,
       Bytes().u32(520).u32(1).raw("tcabc001").u16(1).u32(DBC_MAX_DETAIL_TEXT + 1),
       [&](ZDB_REQUEST &r) { r.update.trans = &trans; }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPeer peer;
    peer.Reply(c.reply);
    dbc_request_prepare(c.code);
    if (c.fill) c.fill(dbc_request());
    zdb_errno = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(zdb_commu(peer.server()), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(zdb_errno, ZE_COMMUNICATION);
  }
  EXPECT_TRUE(trans.audit_list.empty());
}

// After a refused reply the next reply is never read from its leftovers:
// the refused bytes are read past, or the driver's streams are closed.
TEST(RequestRead, RefusedReplyIsReadPastOrClosesTheDriver) {
  ZDB_TRANS trans;
  struct Case {
    const char *what;
    int code;
    Bytes reply;
    bool stays_attached;
  };
  const Case cases[] = {
      {"dictionary list of 10,000 bytes, sent whole", EXE_TBL_CNTR,
       Bytes().u32(0).u32(513).u32(1000).fill(10000, 't'), true},
      {"dictionary list of 10,000 bytes on an update", EXE_UPDATE,
       Bytes().u32(513).u32(1000).fill(10000, 't'), true},
      {"extra text of 1 MiB + 1, sent whole", EXE_UPDATE,
       Bytes().u32(520).u32(1).raw("tcabc001").u16(1).u32((1u << 20) + 1).fill((1u << 20) + 1, 'e'),
       false},
      {"extra text of 1 MiB, sent whole", EXE_UPDATE,
       Bytes().u32(520).u32(1).raw("tcabc001").u16(1).u32(1u << 20).fill(1u << 20, 'e'), true},
      {"dictionary list announced, not sent", EXE_TBL_CNTR,
       Bytes().u32(0).u32(513).u32(DBC_RECV_BUF_SIZE / 10 + 1), false},
      {"packets above the cap", SQL_MESSAGE, Bytes().u32(DBC_MAX_SQL_PACKETS + 1), false},
      {"audit entry name over 11 characters", EXE_DB_CNTR,
       Bytes().u32(0).u32(1).u32(2).u32(3).text("twelve-chars").u16(1).u16(1).u32(1).text(""),
       false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedPeer peer;
    // The next reply: a DET_SERVER retval that no table name can imitate.
    Bytes both = c.reply;
    both.u32(0);
    peer.Reply(both);
    dbc_request_prepare(c.code);
    if (c.code == EXE_UPDATE) dbc_request().update.trans = &trans;
    if (c.code == EXE_DB_CNTR) {
      dbc_request().db_cntr.action = commit_trans;
      dbc_request().db_cntr.trans = &trans;
    }
    zdb_errno = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(zdb_commu(peer.server()), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(zdb_errno, ZE_COMMUNICATION);
    EXPECT_EQ(zdb_server_attached(peer.server()), c.stays_attached);
    dbc_request_prepare(DET_SERVER);
    zdb_errno = 0;
    testing::internal::CaptureStderr();
    const int next = zdb_commu(peer.server());
    testing::internal::GetCapturedStderr();
    if (c.stays_attached) {
      EXPECT_EQ(next, 0) << "the next reply is read in step";
      EXPECT_EQ(dbc_request().retval, 0);
    } else {
      EXPECT_EQ(next, -1);
      EXPECT_EQ(zdb_errno, ZE_COMMUNICATION);
    }
  }
}

// A request that its writer abandons half written (here: a row data set
// that cannot give the data it claims) never reaches the driver ahead of the
// next request.
TEST(RequestRead, RequestAbandonedHalfWrittenIsTakenBack) {
  ScriptedPeer peer;
  peer.Reply(Bytes().u32(0));
  RDS broken{};
  broken.data_length = 10;  // no chunk holds it
  ZDB_UPDATE_TABLE table{};
  std::memcpy(table.table, "exemp010", 8);
  table.rds = &broken;
  dbc_request_prepare(EXE_UPDATE);
  dbc_request().update.count = 1;
  dbc_request().update.tables = &table;
  EXPECT_EQ(zdb_commu(peer.server()), -1);
  EXPECT_TRUE(zdb_server_attached(peer.server()));
  dbc_request_prepare(DET_SERVER);
  EXPECT_EQ(zdb_commu(peer.server()), 0);
  const std::vector<std::uint8_t> sent = peer.Sent();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0], DET_SERVER) << "the abandoned request's bytes went out first";
}

TEST(RequestRead, DebugTraceLinesAroundEachRequest) {
  ScriptedPeer peer;
  dbc_state().debug = ZDB_DEBUG_REQUESTS;
  testing::internal::CaptureStderr();
  RoundTrip(peer, DET_SESSION, Bytes().u32(7));
  std::string err = testing::internal::GetCapturedStderr();
  dbc_state().debug = 0;
  EXPECT_EQ(err, "-> DET_SESSION\n<- DET_SESSION retval 7\n");
}

}  // namespace
