// Cursors without drivers: zdb_open with its binds over the fixture
// dictionary, the conversions between bound variables and the row, the
// refusals of zdb_open, the default company number, and the refusal of a
// cursor handle that is not open.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <molvane/datetime.h>
#include <molvane/dd.h>
#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_dlock.h>
#include <molvane/zdb_perm.h>
#include <molvane/zdb_refs.h>

#include "dbc/dict/dd.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "dbc/session/zdb_trans.h"
#include "support/log_capture.h"
#include "support/test_env.h"

namespace {

using molvane::test::FixturePath;
using molvane::test::LogCapture;
using molvane::test::ScratchDir;

ZDB_HOST_BIND Bind(void *address, const char *column, int type, int length = 0, int depth = 1) {
  ZDB_HOST_BIND b{};
  b.address = address;
  b.length = static_cast<unsigned short>(length);
  b.depth = static_cast<unsigned short>(depth);
  std::strncpy(b.column, column, sizeof b.column - 1);
  b.type = static_cast<unsigned short>(type);
  return b;
}

class ZdbCursor : public testing::Test {
 protected:
  void SetUp() override {
    setenv("F_ZRDD", FixturePath("zuv/dict").c_str(), 1);
    set_zuv(root_.path().c_str());
    ASSERT_EQ(zdb_init_api("test_dbc", nullptr, 0, 0), 0);
    ASSERT_EQ(zdb_logon("ann"), 0);
    trans_ = zdb_start_session("cursors");
    ASSERT_GT(trans_, 0);
  }
  void TearDown() override { zdb_logoff(); }

  static int Offset(const char *column) { return ddcolumn(column)->offset; }

  ScratchDir root_;
  int trans_ = 0;
};

std::uint32_t Be(const unsigned char *p, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

TEST_F(ZdbCursor, IntegerBindsNarrowAndWidenBigEndian) {
  std::int16_t emp = -2;                        // 16-bit variable, 32-bit column
  std::int32_t scores[2] = {0x12345, -1};        // 32-bit array on a 16-bit array of 3
  std::int32_t status = 0x103;                   // 32-bit variable on an enumeration byte
  std::vector<ZDB_HOST_BIND> binds = {Bind(&emp, "exemp010.emp", DDT_SHORT),
                                      Bind(scores, "exemp010.scores", DDT_LONG, 0, 2),
                                      Bind(&status, "exemp010.status", DDT_LONG)};
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "exemp010", 100, binds.data(), 3, trans_), 0) << zdb_errno;
  std::vector<unsigned char> row(ddtable("exemp010")->row_length, 0xAA);
  ASSERT_EQ(zdb_bind_to_buf(cursor, row.data()), row.data());
  EXPECT_EQ(Be(&row[Offset("exemp010.emp")], 4), 0xFFFFFFFEu);
  const unsigned char *s = &row[Offset("exemp010.scores")];
  EXPECT_EQ(Be(s, 2), 0x2345u);
  EXPECT_EQ(Be(s + 2, 2), 0xFFFFu);
  EXPECT_EQ(Be(s + 4, 2), 0xAAAAu);  // beyond the variable's depth: untouched
  EXPECT_EQ(row[Offset("exemp010.status")], 0x03);

  emp = 0;
  scores[0] = scores[1] = 0;
  status = 0;
  row[Offset("exemp010.scores") + 2] = 0x80;  // -32768 + 0xFF
  ASSERT_EQ(zdb_buf_to_bind(cursor, row.data()), 0);
  EXPECT_EQ(emp, -2);
  EXPECT_EQ(scores[0], 0x2345);
  EXPECT_EQ(scores[1], static_cast<std::int16_t>(0x80FF));  // sign-extended
  EXPECT_EQ(status, 3);
  EXPECT_EQ(zdb_close(cursor), 0);
}

TEST_F(ZdbCursor, StringBindsCopyTheShorterLength) {
  char long_name[25];
  std::memset(long_name, 'L', sizeof long_name);
  char short_name[4] = {'a', 'b', 'c', 'd'};
  ZDB_HOST_BIND one[] = {Bind(long_name, "exemp010.name", DDT_STRING, sizeof long_name)};
  ZDB_HOST_BIND two[] = {Bind(short_name, "exemp010.name", DDT_STRING, sizeof short_name)};
  ZDB_CURSOR *a = nullptr;
  ZDB_CURSOR *b = nullptr;
  ASSERT_EQ(zdb_open(&a, "exemp010", 100, one, 1, trans_), 0);
  ASSERT_EQ(zdb_open(&b, "exemp010", 100, two, 1, trans_), 0);
  const int at = Offset("exemp010.name");
  std::vector<unsigned char> row(ddtable("exemp010")->row_length, 0);
  zdb_bind_to_buf(a, row.data());
  EXPECT_EQ(std::string(reinterpret_cast<char *>(&row[at]), 20), std::string(20, 'L'));
  EXPECT_EQ(row[at + 20], 0);  // the next column is untouched
  zdb_bind_to_buf(b, row.data());
  // A shorter variable fills the column with blanks.
  EXPECT_EQ(std::string(reinterpret_cast<char *>(&row[at]), 20), "abcd" + std::string(16, ' '));
  // A longer variable reads the column's text and blanks to its own length:
  // nothing of its earlier value stays behind.
  std::memset(long_name, 'X', sizeof long_name);
  zdb_buf_to_bind(a, row.data());
  EXPECT_EQ(std::string(long_name, sizeof long_name), "abcd" + std::string(21, ' '));
  EXPECT_EQ(zdb_close(a), 0);
  EXPECT_EQ(zdb_close(b), 0);
  // A raw variable longer than its column is filled with 0.
  unsigned char raw[7];
  ZDB_HOST_BIND three[] = {Bind(raw, "exemp010.photo", DDT_RAW, sizeof raw)};
  ASSERT_EQ(zdb_open(&a, "exemp010", 100, three, 1, trans_), 0) << get_zdb_msg();
  const int photo = Offset("exemp010.photo");
  std::memcpy(&row[photo], "\x01\x02\x03\x04", 4);
  std::memset(raw, 0xEE, sizeof raw);
  zdb_buf_to_bind(a, row.data());
  EXPECT_EQ(std::string(reinterpret_cast<char *>(raw), sizeof raw),
            std::string("\x01\x02\x03\x04\0\0\0", 7));
  EXPECT_EQ(zdb_close(a), 0);
}

TEST_F(ZdbCursor, FloatColumnTakesADoubleRoundedToItsDomain) {
  double salary = 12.3456;  // the domain keeps two digits after the point
  ZDB_HOST_BIND binds[] = {Bind(&salary, "exemp010.salary", DDT_DOUBLE)};
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "exemp010", 100, binds, 1, trans_), 0);
  std::vector<unsigned char> row(ddtable("exemp010")->row_length, 0);
  zdb_bind_to_buf(cursor, row.data());
  EXPECT_FLOAT_EQ(static_cast<float>(float_out(&row[Offset("exemp010.salary")])), 12.35f);
  salary = 0;
  zdb_buf_to_bind(cursor, row.data());
  EXPECT_FLOAT_EQ(static_cast<float>(salary), 12.35f);
  EXPECT_EQ(zdb_close(cursor), 0);
}

struct OpenRefusal {
  const char *table;
  int trans;  // 0: the test's transaction
  ZDB_HOST_BIND bind;
  int error;
  int compnr = 100;
  const char *message = nullptr;  // the whole get_zdb_msg text, when given
};

class ZdbOpenRefusal : public ZdbCursor, public testing::WithParamInterface<OpenRefusal> {};

std::int32_t g_var;

TEST_P(ZdbOpenRefusal, LeavesNoCursor) {
  const OpenRefusal &r = GetParam();
  LogCapture log;
  ZDB_HOST_BIND binds[2] = {Bind(&g_var, "exemp010.emp", DDT_LONG), r.bind};
  ZDB_CURSOR *cursor = reinterpret_cast<ZDB_CURSOR *>(&g_var);
  reset_zdb_msg();
  EXPECT_EQ(zdb_open(&cursor, r.table, r.compnr, binds, 2, r.trans != 0 ? r.trans : trans_), -1);
  EXPECT_EQ(zdb_errno, r.error);
  if (r.message != nullptr) {
    EXPECT_STREQ(get_zdb_msg(), r.message);
  }
  EXPECT_EQ(cursor, nullptr);
  EXPECT_EQ(zdb_get_trans_by_id(trans_)->cursors, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZdbOpenRefusal,
    testing::Values(OpenRefusal{"", 0, Bind(&g_var, "exemp010.emp", DDT_LONG), ZE_ILLEGAL_STATE},
                    OpenRefusal{"exnone10", 0, Bind(&g_var, "exemp010.emp", DDT_LONG), ZE_NO_DD},
                    OpenRefusal{"exemp010", 77, Bind(&g_var, "exemp010.emp", DDT_LONG),
                                ZE_INVALID_SESSION, 100,
                                "Invalid transaction id 77 specified: it is not in use (never "
                                "started, or stopped already); use an id that zdb_start_session "
                                "returned"},
                    OpenRefusal{"exemp010", 0, Bind(&g_var, "exemp010.emp", DDT_LONG),
                                ZE_ILLEGAL_COMPNR, 1000,
                                "Illegal company number 1000 for exemp010: a company number lies "
                                "from 0 to 999 (-1 for none)"},
                    OpenRefusal{"exemp010", 0, Bind(&g_var, "exemp010.emp", DDT_LONG),
                                ZE_ILLEGAL_COMPNR, -2,
                                "Illegal company number -2 for exemp010: a company number lies "
                                "from 0 to 999 (-1 for none)"},
                    OpenRefusal{"exemp010", 0, Bind(nullptr, "exemp010.emp", DDT_LONG),
                                ZE_NULL_VARIABLE},
                    OpenRefusal{"exemp010", 0, Bind(&g_var, "exemp010.nosuch", DDT_LONG),
                                ZE_BAD_COLUMN},
                    OpenRefusal{"exemp010", 0, Bind(&g_var, "exemp010.name", DDT_LONG),
                                ZE_BAD_COLUMN},
                    OpenRefusal{"exemp010", 0, Bind(&g_var, "exemp010.salary", DDT_LONG),
                                ZE_BAD_COLUMN},
                    OpenRefusal{"exemp010", 0, Bind(&g_var, "exdep010.code", DDT_STRING, 6),
                                ZE_BAD_COLUMN}));

TEST_F(ZdbCursor, WithoutBindsTheHostRowStandsForTheRow) {
  std::vector<unsigned char> host(ddtable("exdep010")->row_length, 0);
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "exdep010", 300, host.data(), 0, trans_), 0);
  unsigned char other[8];
  EXPECT_EQ(zdb_bind_to_buf(cursor, other), host.data());
  put_compnr_in_bind(cursor, 321);
  EXPECT_EQ(Be(&host[ddtable("exdep010")->dlock_offset + 4], 2), 321u);
  EXPECT_EQ(get_compnr_from_bind(cursor), 321);

  EXPECT_EQ(zdb_get_default_compnr(cursor), 300);
  reset_zdb_msg();
  EXPECT_EQ(zdb_set_default_compnr(cursor, 1000), -1);
  EXPECT_EQ(zdb_errno, ZE_ILLEGAL_COMPNR);
  EXPECT_STREQ(get_zdb_msg(), "Illegal company number 1000 for exdep010: a company number lies from 0 to 999");
  EXPECT_EQ(zdb_set_default_compnr(cursor, -1), -1);
  EXPECT_EQ(zdb_get_default_compnr(cursor), 300);
  EXPECT_EQ(zdb_set_default_compnr(cursor, 999), 0);
  EXPECT_EQ(zdb_get_default_compnr(cursor), 999);
  EXPECT_EQ(zdb_set_default_compnr(nullptr, 5), -1);
  EXPECT_EQ(zdb_close(cursor), 0);
}

TEST_F(ZdbCursor, CompanyBindCarriesTheCompanyNumber) {
  std::int16_t compnr = 42;
  std::int32_t emp = 0;
  ZDB_HOST_BIND binds[] = {Bind(&emp, "exemp010.emp", DDT_LONG),
                           Bind(&compnr, "exemp010._compnr", DDT_SHORT)};
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "exemp010", 100, binds, 2, trans_), 0) << zdb_errno;
  ASSERT_EQ(cursor->company_bind, &cursor->binds[1]);
  EXPECT_EQ(get_compnr_from_bind(cursor), 42);
  put_compnr_in_bind(cursor, 777);
  EXPECT_EQ(compnr, 777);
  EXPECT_EQ(emp, 0);
  EXPECT_EQ(zdb_close(cursor), 0);
}

TEST_F(ZdbCursor, ChainCannotOpenWithoutADriver) {
  // No table definitions in this root: the chain fails with 505 and the
  // cursor stays usable and closable.
  std::vector<unsigned char> host(ddtable("exdep010")->row_length, 0);
  ZDB_CURSOR *cursor = nullptr;
  ASSERT_EQ(zdb_open(&cursor, "exdep010", 100, host.data(), 0, trans_), 0);
  ZDB_INTERNAL_CURSOR *ic = nullptr;
  EXPECT_EQ(zdb_get_internal_cursor(&ic, cursor, 100), -1);
  EXPECT_EQ(zdb_errno, ZE_NO_DRIVER);
  EXPECT_EQ(ic, nullptr);
  for (int wrong : {1000, -3}) {
    LogCapture log;
    EXPECT_EQ(zdb_get_internal_cursor(&ic, cursor, wrong), -1);
    EXPECT_EQ(zdb_errno, ZE_ILLEGAL_COMPNR);
    EXPECT_TRUE(log.Contains("Wrong Compnr", "for 'exdep010'")) << log.Dump();
  }
  EXPECT_EQ(zdb_cursor_check(nullptr), -1);
  EXPECT_EQ(zdb_errno, ZE_BAD_CURSOR);
  EXPECT_EQ(zdb_close(cursor), 0);
}

// Every call that takes a cursor refuses a handle that is not open with 509
// and says why, without reading it: a null cursor, one that zdb_close
// closed, and one that zdb_logoff closed. Each refusal is the message of its
// own call, whatever an earlier call left.
struct CursorCall {
  const char *name;
  std::function<bool(ZDB_CURSOR *)> refused;  // the call's failure result
};

void PrintTo(const CursorCall &c, std::ostream *os) { *os << c.name; }

class ZdbClosedCursor : public ZdbCursor, public testing::WithParamInterface<CursorCall> {
 protected:
  // The call on `cursor` fails with 509 and exactly the message `expected`.
  void ExpectRefused(ZDB_CURSOR *cursor, const std::string &expected) {
    set_zdb_msg("An earlier call's text. ");
    zdb_errno = 0;
    EXPECT_TRUE(GetParam().refused(cursor));
    EXPECT_EQ(zdb_errno, ZE_BAD_CURSOR);
    EXPECT_EQ(std::string(get_zdb_msg()), expected);
  }
};

TEST_P(ZdbClosedCursor, IsRefusedWithTheReason) {
  const std::string call = GetParam().name;
  std::vector<unsigned char> host(ddtable("exdep010")->row_length, 0);
  ZDB_CURSOR *left_open = nullptr;
  ZDB_CURSOR *closed = nullptr;
  ASSERT_EQ(zdb_open(&left_open, "exdep010", 100, host.data(), 0, trans_), 0);
  ASSERT_EQ(zdb_open(&closed, "exdep010", 100, host.data(), 0, trans_), 0);
  ASSERT_EQ(zdb_close(closed), 0);
  LogCapture log;
  ExpectRefused(nullptr, "No cursor: " + call + " was given a null cursor");
  ExpectRefused(closed, "Not an open cursor: " + call +
                            " was given a cursor that zdb_close has closed or that zdb_open "
                            "never returned");
  ASSERT_EQ(zdb_logoff(), 0);
  ExpectRefused(left_open, "The cursor was closed at logoff: zdb_logoff closes every open "
                           "cursor, and " + call + " cannot use it any more");
}

unsigned char g_row[4096];

INSTANTIATE_TEST_SUITE_P(
    Calls, ZdbClosedCursor,
    testing::Values(
        CursorCall{"zdb_close", [](ZDB_CURSOR *c) { return zdb_close(c) == -1; }},
        CursorCall{"zdb_set_default_compnr",
                   [](ZDB_CURSOR *c) { return zdb_set_default_compnr(c, 5) == -1; }},
        CursorCall{"zdb_get_default_compnr",
                   [](ZDB_CURSOR *c) { return zdb_get_default_compnr(c) == -1; }},
        CursorCall{"zdb_bind_to_buf",
                   [](ZDB_CURSOR *c) { return zdb_bind_to_buf(c, g_row) == nullptr; }},
        CursorCall{"zdb_buf_to_bind", [](ZDB_CURSOR *c) { return zdb_buf_to_bind(c, g_row) == -1; }},
        CursorCall{"zdb_exec_row",
                   [](ZDB_CURSOR *c) { return zdb_exec_row(c, db_first, 0, 0xFFFF) == -1; }},
        CursorCall{"zdb_exec_table",
                   [](ZDB_CURSOR *c) { return zdb_exec_table(c, nr_rows, nullptr, 0xFFFF) == -1; }},
        CursorCall{"zdb_check_row_dlocked",
                   [](ZDB_CURSOR *c) { return zdb_check_row_dlocked(c, g_row, 0xFFFF) == -1; }},
        CursorCall{"zdb_retrieve_dlock_row",
                   [](ZDB_CURSOR *c) {
                     const unsigned char *image = g_row;
                     return zdb_retrieve_dlock_row(c, g_row, &image) == -1 && image == nullptr;
                   }},
        CursorCall{"zdb_get_phys_compnr", [](ZDB_CURSOR *c) { return zdb_get_phys_compnr(c, 1) == -1; }},
        CursorCall{"zdb_determine_row_cursor",
                   [](ZDB_CURSOR *c) {
                     ZDB_INTERNAL_CURSOR *ic = nullptr;
                     return zdb_determine_row_cursor(&ic, c) == -1 && ic == nullptr;
                   }},
        CursorCall{"zdb_permission",
                   [](ZDB_CURSOR *c) { return zdb_permission(c, 0xFFFF, nullptr, nullptr) == -1; }},
        CursorCall{"dump_zdb_permission",
                   [](ZDB_CURSOR *c) {
                     dump_zdb_permission(c);
                     return true;
                   }},
        CursorCall{"zdb_get_refcount",
                   [](ZDB_CURSOR *c) {
                     const char *text = nullptr;
                     return zdb_get_refcount(c, 0xFFFF, &text, 1) == -1 && text != nullptr &&
                            text[0] == '\0';
                   }}),
    [](const testing::TestParamInfo<CursorCall> &info) { return std::string(info.param.name); });

}  // namespace
