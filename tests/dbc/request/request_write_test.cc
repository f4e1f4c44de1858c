// Golden bytes of every request layout the client writes itself.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "dbc/request/request_block.h"
#include "dbc/zdb_errors.h"
#include "dbc/scripted_peer.h"

#include <molvane/zdb.h>

namespace {

using molvane::test::Bytes;
using molvane::test::ScriptedPeer;

struct WriteCase {
  const char *name;
  int code;
  std::function<void(ZDB_REQUEST &)> fill;
  Bytes expected;
};

unsigned char g_row[4] = {0xDE, 0xAD, 0xBE, 0xEF};

std::vector<WriteCase> Cases() {
  std::vector<WriteCase> cases;
  cases.push_back({"att_server_refs_on", ATT_SERVER,
                   [](ZDB_REQUEST &r) {
                     r.att_server.driver_nr = 1;
                     r.att_server.user = "johnsmith42";  // cut to 8
                     r.att_server.compnr_env = "env1";
                     r.att_server.server_text = "dd@root msqlite db.sqlite";
                   },
                   Bytes().u8(0).u32(1).u16(2).u16(2).u32(6).text("johnsmit").text("env1")
                       .text("dd@root msqlite db.sqlite")});
  cases.push_back({"att_server_no_refs", ATT_SERVER,
                   [](ZDB_REQUEST &r) {
                     r.att_server.driver_nr = 0x01020304;
                     r.att_server.user = "ann";
                     r.att_server.no_refs = true;
                     r.att_server.server_text = "x";
                   },
                   Bytes().u8(0).u32(0x01020304).u16(2).u16(2).u32(6).text("ann").text("")
                       .text("NO REFS").text("x")});
  cases.push_back({"det_server", DET_SERVER, [](ZDB_REQUEST &) {}, Bytes().u8(1)});
  cases.push_back({"att_session_cut_name", ATT_SESSION,
                   [](ZDB_REQUEST &r) { r.att_session.trans_name = "a-very-long-transaction"; },
                   Bytes().u8(2).text("a-very-long-tra")});
  cases.push_back({"det_session", DET_SESSION, [](ZDB_REQUEST &r) { r.session_id = 77; },
                   Bytes().u8(3).u32(77).u8(2)});
  cases.push_back({"exe_tbl_cntr", EXE_TBL_CNTR,
                   [](ZDB_REQUEST &r) {
                     r.session_id = 5;
                     std::strcpy(r.tbl_cntr.table, "Tcabc001");
                     r.tbl_cntr.compnr = 812;
                     r.tbl_cntr.action = 0x6007;
                     r.tbl_cntr.argument = 2;
                     r.tbl_cntr.sequence = 9;
                   },
                   Bytes().u8(4).u32(5).text("Tcabc001").u16(812).u32(0x6007).u32(2).u32(9)});
  cases.push_back({"exe_db_cntr", EXE_DB_CNTR,
                   [](ZDB_REQUEST &r) {
                     r.session_id = 3;
                     r.db_cntr.action = 1;
                     r.db_cntr.audit[0] = 10;
                     r.db_cntr.audit[2] = 0xFFFFFFFF;
                   },
                   Bytes().u8(5).u32(3).u32(1).u32(10).u32(0).u32(0xFFFFFFFF)});
  cases.push_back({"exe_session", EXE_SESSION,
                   [](ZDB_REQUEST &r) {
                     r.session_id = 4;
                     r.exe.command = 2;
                     r.exe.msg = "batch";
                     r.exe.msglen = 5;
                   },
                   Bytes().u8(6).u32(4).u32(2).u16(5).raw("batch")});
  cases.push_back({"exe_system_hello", EXE_SYSTEM,
                   [](ZDB_REQUEST &r) {
                     static const char hello[4] = {0, 0, 3, static_cast<char>(0x82)};
                     r.exe.command = 5;
                     r.exe.msg = hello;
                     r.exe.msglen = 4;
                   },
                   Bytes().u8(7).u32(5).u16(4).u8(0).u8(0).u8(3).u8(0x82)});
  cases.push_back({"exe_system_empty", EXE_SYSTEM, [](ZDB_REQUEST &r) { r.exe.command = 9; },
                   Bytes().u8(7).u32(9).u16(0)});
  cases.push_back({"sql_message", SQL_MESSAGE,
                   [](ZDB_REQUEST &r) {
                     r.sql.packets = "\x01\x02\x03";
                     r.sql.length = 3;
                   },
                   Bytes().u8(10).u32(3).u8(1).u8(2).u8(3)});
  cases.push_back({"exe_update_repeat", EXE_UPDATE,
                   [](ZDB_REQUEST &r) { r.session_id = 8; },
                   Bytes().u8(11).u32(8).u16(0)});
  cases.push_back({"exe_row_cntr", EXE_ROW_CNTR,
                   [](ZDB_REQUEST &r) {
                     r.session_id = 6;
                     std::strcpy(r.row_cntr.table, "tcabc001");
                     r.row_cntr.compnr = 1;
                     r.row_cntr.read_arg = 0x10D;
                     r.row_cntr.row = g_row;
                     r.row_cntr.row_len = 4;
                   },
                   Bytes().u8(12).u32(6).text("tcabc001").u16(1).u32(0x10D).u16(4).u8(0xDE)
                       .u8(0xAD).u8(0xBE).u8(0xEF)});
  cases.push_back({"alter_table", ALTER_TABLE,
                   [](ZDB_REQUEST &r) {
                     r.session_id = 2;
                     std::strcpy(r.alter.table, "tcabc001");
                     r.alter.compnr = 100;
                     r.alter.argument = 1;
                     r.alter.row_len = 3;
                     std::memcpy(r.alter.row, "abc", 3);
                   },
                   Bytes().u8(15).text("tcabc001").u32(100).u32(1).u32(2).u32(3).raw("abc")});
  return cases;
}

TEST(RequestWrite, GoldenBytesOfEveryLayout) {
  for (const WriteCase &c : Cases()) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer;
    dbc_request_prepare(c.code);
    c.fill(dbc_request());
    ASSERT_EQ(client_send_commu_funcs()[c.code](&dbc_request(), peer.server()->out), 0);
    EXPECT_EQ(peer.Sent(), c.expected.data());
  }
}

TEST(RequestWrite, RefusesLengthsWithoutData) {
  ScriptedPeer peer;
  dbc_request_prepare(EXE_SESSION);
  dbc_request().exe.msglen = 3;
  EXPECT_EQ(client_send_commu_funcs()[EXE_SESSION](&dbc_request(), peer.server()->out), -1);
  dbc_request_prepare(ALTER_TABLE);
  dbc_request().alter.row_len = DBC_MAX_ROW + 1;
  zdb_errno = 0;
  EXPECT_EQ(client_send_commu_funcs()[ALTER_TABLE](&dbc_request(), peer.server()->out), -1);
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_ARGUMENT);
  EXPECT_TRUE(peer.Sent().empty());
}

// Every prepare leaves what its request writes and reads as new, whatever
// the request before it left in the block.
TEST(RequestWrite, PrepareClearsWhatTheRequestUses) {
  static const unsigned char kEntries[1] = {0};
  for (int code : {EXE_ROW_CNTR, EXE_TBL_CNTR, ALTER_TABLE}) {
    SCOPED_TRACE(dbc_request_name(code));
    ZDB_REQUEST &r = dbc_request();
    r.retval = 513;
    r.session_id = 7;
    std::strcpy(r.row_cntr.table, "tcabc001");
    r.row_cntr.compnr = 3;
    r.row_cntr.read_arg = 4;
    r.row_cntr.row_len = 5;
    r.row_cntr.row_capacity = 6;
    r.tbl_cntr.sequence = 9;
    r.dd_list.count = 1;
    r.dd_list.entries = kEntries;
    dbc_request_prepare(code);
    EXPECT_EQ(r.code, code);
    EXPECT_EQ(r.retval, 0);
    EXPECT_EQ(r.session_id, 0u);
    EXPECT_EQ(r.row_cntr.table[0], '\0');
    EXPECT_EQ(r.row_cntr.compnr + r.row_cntr.read_arg + r.row_cntr.row_len, 0u);
    EXPECT_EQ(r.row_cntr.row_capacity, 0u);
    EXPECT_EQ(r.row_cntr.row, nullptr);
    EXPECT_EQ(r.dd_list.count, 0u);
    EXPECT_EQ(r.dd_list.entries, nullptr);
    if (code != EXE_ROW_CNTR) {
      EXPECT_EQ(r.tbl_cntr.sequence, 1u);
    }
  }
}

// The writers store their fields straight into the write buffer when it has
// room, and go field by field when it has none (no buffer yet, or too
// little left): the bytes are the same every way.
TEST(RequestWrite, SameBytesInTheBufferAndFieldByField) {
  for (const WriteCase &c : Cases()) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer;
    STREAM *out = peer.server()->out;
    dbc_request_prepare(c.code);
    c.fill(dbc_request());
    std::vector<std::uint8_t> expected;
    auto write = [&] {
      ASSERT_EQ(client_send_commu_funcs()[c.code](&dbc_request(), out), 0);
      expected.insert(expected.end(), c.expected.data().begin(), c.expected.data().end());
    };
    write();  // no buffer yet: field by field
    write();  // into the buffer
    // Three bytes of room left: the request crosses a flush.
    std::vector<std::uint8_t> filler(out->bufsize - out->wlen - 3, 0x5A);
    ASSERT_EQ(swrite_blok(filler.data(), filler.size(), out), static_cast<long>(filler.size()));
    expected.insert(expected.end(), filler.begin(), filler.end());
    write();
    write();
    EXPECT_EQ(peer.Sent(), expected);
  }
}

// Table names of every length up to 8 (bytes after the NUL left over from a
// longer name, bytes with the high bit set) and rows of every length up to
// 40 on both sides of the short-copy sizes: the same bytes as the layout
// says, written into the buffer and field by field.
TEST(RequestWrite, RowRequestOfEveryNameAndRowLength) {
  const std::string names[] = {"", "a", "\x80z", "abc", "t\x01\xFF" "d", "tcab\x7F", "tcabc0", "tcabc00",
                               "tcabc001"};
  unsigned char row[40];
  for (std::size_t i = 0; i < sizeof row; ++i) row[i] = static_cast<unsigned char>(0xA0 + i);
  for (const std::string &name : names) {
    for (std::uint16_t len = 0; len <= sizeof row; ++len) {
      SCOPED_TRACE(testing::Message() << "name length " << name.size() << ", row " << len);
      dbc_request_prepare(EXE_ROW_CNTR);
      ZDB_REQUEST &r = dbc_request();
      std::memset(r.row_cntr.table, 'X', sizeof r.row_cntr.table);
      std::memcpy(r.row_cntr.table, name.c_str(), name.size() + 1);
      r.session_id = 0x01020304;
      r.row_cntr.compnr = 0x0506;
      r.row_cntr.read_arg = 0x0708090A;
      r.row_cntr.row = row;
      r.row_cntr.row_len = len;
      const Bytes expected = Bytes().u8(EXE_ROW_CNTR).u32(0x01020304).text(name).u16(0x0506)
                                 .u32(0x0708090A).u16(len)
                                 .raw(std::string(reinterpret_cast<const char *>(row), len));
      ScriptedPeer peer;
      STREAM *out = peer.server()->out;
      std::vector<std::uint8_t> all;
      auto write = [&] {
        ASSERT_EQ(client_send_commu_funcs()[EXE_ROW_CNTR](&r, out), 0);
        all.insert(all.end(), expected.data().begin(), expected.data().end());
      };
      write();
      write();  // into the buffer
      // Three bytes of room left: field by field across a flush.
      std::vector<std::uint8_t> filler(out->bufsize - out->wlen - 3, 0x5A);
      ASSERT_EQ(swrite_blok(filler.data(), filler.size(), out), static_cast<long>(filler.size()));
      all.insert(all.end(), filler.begin(), filler.end());
      write();
      EXPECT_EQ(peer.Sent(), all);
    }
  }
}

long FailWrite(void *, const void *, size_t) {
  errno = EPIPE;
  return -1;
}

// A request that does not fit the buffer of a stream that cannot write
// fails: it is never reported as written.
TEST(RequestWrite, FailsWhenTheStreamFails) {
  static const STREAM_OPS kFailOps = {nullptr, FailWrite, nullptr, nullptr, nullptr, nullptr};
  StreamPtr out(stream_create(&kFailOps, nullptr, STREAM_KIND_OTHER, STREAM_WRITE, "fail", 16));
  ASSERT_NE(out, nullptr);
  unsigned char row[64] = {};
  for (int code : {EXE_ROW_CNTR, EXE_TBL_CNTR}) {
    SCOPED_TRACE(dbc_request_name(code));
    dbc_request_prepare(code);
    dbc_request().row_cntr.row = row;
    dbc_request().row_cntr.row_len = sizeof row;
    std::strcpy(dbc_request().tbl_cntr.table, "tcabc001");
    EXPECT_EQ(client_send_commu_funcs()[code](&dbc_request(), out.get()), -1);
    EXPECT_TRUE(stream_error(out.get()));
  }
}

}  // namespace
