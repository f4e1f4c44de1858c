// The driver's side of PERMISSION and AUDITCOLS: payloads written by the
// client are parsed whole, cut payloads wait for more, broken ones are
// refused, and the kept permissions refuse what the roles forbid with 208.
#include <gtest/gtest.h>

#include <string>

#include "protocol/auditcols_payload.h"
#include "dbc/request/request_codes.h"
#include "dbc/zdb_errors.h"
#include "molvane/zdb.h"
#include "protocol/driver_conn.h"
#include "dbc/audit/auditcols.h"
#include "dbc/perm/perm_roles.h"
#include "dbc/roles_test_env.h"
#include "ipc/stream.h"
#include "protocol/perm_payload.h"

namespace {

using molvane::driver::AuditColsLevel;
using molvane::driver::AuditColsSet;
using molvane::driver::DriverConnection;
using molvane::driver::ParseAuditColsPayload;
using molvane::driver::ParsePermissionPayload;
using molvane::driver::PayloadStatus;
using molvane::driver::PermAccess;
using molvane::driver::PermCheck;
using molvane::driver::PermRowValue;
using molvane::driver::PermSet;
using molvane::test::RolesRoot;
using molvane::test::ScratchDir;
using molvane::test::UseRolesRoot;

std::string Written(int (*writer)(STREAM *)) {
  STREAM *out = stream_open_bytes(nullptr, 0, "w");
  EXPECT_EQ(writer(out), 0);
  size_t count = 0;
  const unsigned char *bytes = stream_bytes(out, &count);
  std::string text(reinterpret_cast<const char *>(bytes), count);
  sclose(out);
  return text;
}

const uint8_t *Data(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

// The client's payload of two roles, the second with a conditional chain.
std::string ClientPermissions(const RolesRoot &root) {
  root.Role("r1", {"r1", "tcemp001:*:R", "tcemp001:100:D", "tcemp001.sala:*:D"});
  root.Role("r2", {"r2", "tcdep001:*:W:head = 1", "tcdep001:*:M:head = 2", "tc:*:R"});
  EXPECT_EQ(zdb_load_roles(), 0);
  return Written(dbc_send_roles);
}

TEST(DriverPermission, ParsesTheClientPayloadExactly) {
  RolesRoot root("r1:r2");
  std::string payload = ClientPermissions(root) + "next request";
  PermSet set;
  size_t consumed = 0;
  std::string error;
  ASSERT_EQ(ParsePermissionPayload(Data(payload), payload.size(), &consumed, &set, &error),
            PayloadStatus::kOk)
      << error;
  EXPECT_EQ(consumed, payload.size() - 12);
  EXPECT_EQ(set.payload, payload.substr(0, consumed));
  ASSERT_EQ(set.roles.size(), 2u);
  EXPECT_EQ(set.roles[0].name, "r1");
  EXPECT_EQ(set.roles[0].chains.size(), 2u);  // the field entry stays with the client
  const auto &chain = set.roles[1].chains[set.roles[1].by_key.at("tcdep001:*c")];
  ASSERT_EQ(chain.size(), 2u);
  EXPECT_EQ(chain[0].value, 4);
  EXPECT_EQ(chain[0].condition, "head = 2");
  EXPECT_EQ(chain[1].value, 8);
}

TEST(DriverPermission, EveryCutPayloadWaitsForMore) {
  RolesRoot root("r1:r2");
  std::string payload = ClientPermissions(root);
  for (size_t n = 0; n < payload.size(); ++n) {
    PermSet set;
    size_t consumed = 0;
    EXPECT_EQ(ParsePermissionPayload(Data(payload), n, &consumed, &set, nullptr),
              PayloadStatus::kIncomplete)
        << n;
  }
}

TEST(DriverPermission, BrokenPayloadsAreRefused) {
  const std::string cases[] = {
      std::string("\0\0", 2),                                         // role name of length 0
      std::string("\0\3r1x", 5),                                      // name without its NUL
      std::string("\0\3r1\0tab:*\0\0\2\0\2ab\1", 18),                 // condition without NUL
      std::string("\0\3r1\0", 5) + std::string(70, 'k') + '\0',        // key too long
      std::string("\0\3r1\0a:*c\0\0\2\0\1x\0b:*c\0\0\2\0\1y\0\0\0", 30),  // chain of two keys
      std::string("\0\1\1", 3)};                                       // end mark without NUL
  for (const std::string &payload : cases) {
    PermSet set;
    size_t consumed = 0;
    std::string error;
    EXPECT_EQ(ParsePermissionPayload(Data(payload), payload.size(), &consumed, &set, &error),
              PayloadStatus::kMalformed)
        << payload.size();
    EXPECT_FALSE(error.empty());
  }
}

struct CheckCase {
  const char *table;
  int compnr;
  PermAccess access;
  int head;  // -1: no row
  int result;
};

class DriverPermCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(DriverPermCheck, RefusesWhatTheRolesForbid) {
  RolesRoot root("r1:r2");
  std::string payload = ClientPermissions(root);
  PermSet set;
  size_t consumed = 0;
  ASSERT_EQ(ParsePermissionPayload(Data(payload), payload.size(), &consumed, &set, nullptr),
            PayloadStatus::kOk);
  const CheckCase &c = GetParam();
  PermRowValue row = [&c](const char *column, YY_VALUE *cell) {
    if (std::string(column) == "head") {
      cell->kind = YY_INTEGER;
      cell->ival = c.head;
    }
  };
  EXPECT_EQ(PermCheck(set, c.table, c.compnr, c.access, c.head < 0 ? nullptr : &row), c.result)
      << c.table << " " << c.compnr << " " << static_cast<int>(c.access);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, DriverPermCheck,
    ::testing::Values(CheckCase{"tcemp001", 200, PermAccess::kRead, -1, 0},
                      CheckCase{"tcemp001", 200, PermAccess::kUpdate, -1, 208},
                      CheckCase{"tcemp001", 100, PermAccess::kDelete, -1, 0},
                      CheckCase{"tcdep001", 1, PermAccess::kInsert, 1, 0},
                      CheckCase{"tcdep001", 1, PermAccess::kInsert, 2, 208},
                      CheckCase{"tcdep001", 1, PermAccess::kUpdate, 2, 0},
                      CheckCase{"tcdep001", 1, PermAccess::kRead, 3, 0},  // falls to "tc:*"
                      CheckCase{"tcdep001", 1, PermAccess::kTableAction, -1, 208},
                      CheckCase{"zzabc001", 1, PermAccess::kRead, -1, 208}));

// The connection keeps both payloads as they arrive in pieces, answers each
// with 0, and ends on a broken one.
TEST(DriverPermission, ConnectionKeepsBothPayloads) {
  RolesRoot root("r1:r2");
  std::string permissions = ClientPermissions(root);
  audit_reset_auditcols();
  molvane::test::ScratchDir audit_root;
  audit_root.WriteFile("lib/audit_cols", "tcemp001:*:A\n");
  setenv("ZUV", audit_root.path().c_str(), 1);
  ASSERT_EQ(audit_read_auditcols(), 0);
  std::string auditcols = Written(audit_send_auditcols);
  std::string requests = std::string(1, PERMISSION) + permissions + std::string(1, AUDITCOLS) + auditcols;

  DriverConnection conn({});
  for (char byte : requests) {
    conn.Feed(&byte, 1);
    ASSERT_TRUE(conn.Process());
  }
  unsigned char reply[16];
  ASSERT_EQ(conn.TakeReply(reply, sizeof reply), 8u);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(reply), 8), std::string(8, '\0'));
  EXPECT_EQ(conn.permissions().payload, permissions);
  EXPECT_EQ(conn.permissions().roles.size(), 2u);
  EXPECT_EQ(conn.auditcols().payload, auditcols);
  EXPECT_EQ(AuditColsLevel(conn.auditcols(), "tcemp001:*"), 3);

  DriverConnection broken({});
  std::string bad = std::string(1, PERMISSION) + std::string("\0\0", 2);
  broken.Feed(bad.data(), bad.size());
  EXPECT_FALSE(broken.Process());
}

std::string Be16(int v) { return {static_cast<char>(v >> 8), static_cast<char>(v)}; }
std::string Be32(uint32_t v) { return Be16(static_cast<int>(v >> 16)) + Be16(static_cast<int>(v & 0xFFFF)); }

// The connection refuses a table action and a keyed read that the roles it
// received forbid with 208, before it looks at anything else.
TEST(DriverPermission, ConnectionRefusesForbiddenRequests) {
  RolesRoot root("r1:r2");
  std::string permissions = std::string(1, PERMISSION) + ClientPermissions(root);
  auto table_action = [](const char *table, int compnr, int action) {
    return std::string(1, EXE_TBL_CNTR) + Be32(1) + table + std::string(1, '\0') + Be16(compnr) +
           Be32(static_cast<uint32_t>(action)) + Be32(77) + Be32(1);
  };
  auto keyed_read = [](const char *table, int compnr) {
    return std::string(1, EXE_ROW_CNTR) + Be32(1) + table + std::string(1, '\0') + Be16(compnr) +
           Be32(13) + Be16(0);
  };
  auto update = [](const char *table, int compnr) {
    return std::string(1, EXE_UPDATE) + Be32(1) + Be16(1) + table + Be16(compnr) + Be32(4) +
           Be32(1) + std::string(4, 'x');
  };
  struct Case {
    std::string request;
    std::string reply;
  } cases[] = {
      {update("tcemp001", 2), Be32(ZE_BUFFERED_UPDATE) + Be32(208) + "tcemp001" + Be16(2) + Be32(0)},
      {update("tcdep001", 2), Be32(ZE_NO_DD) + Be32(1) + "tcdep001" + Be16(2)},
      {table_action("tcemp001", 200, drop_table), Be32(77) + Be32(208)},
      // An allowed request goes on: this connection holds no dictionary yet.
      {table_action("Tcemp001", 100, drop_table), Be32(77) + Be32(ZE_NO_DD) + Be32(1) + "Tcemp001" + Be16(100)},
      {table_action("tcemp001", 200, nr_rows), Be32(77) + Be32(ZE_NO_DD) + Be32(1) + "tcemp001" + Be16(200)},
      {keyed_read("zzabc001", 1), Be16(0) + Be32(208)},
      {keyed_read("tcemp001", 1), Be16(0) + Be32(ZE_NO_DD) + Be32(1) + "tcemp001" + Be16(1)},
  };
  for (const Case &c : cases) {
    DriverConnection conn({});
    std::string bytes = permissions + c.request;
    conn.Feed(bytes.data(), bytes.size());
    ASSERT_TRUE(conn.Process());
    char reply[32];
    size_t n = conn.TakeReply(reply, sizeof reply);
    EXPECT_EQ(std::string(reply, n), Be32(0) + c.reply);
  }
}

TEST(DriverPermission, NoRolesRefuseNothing) {
  PermSet set;
  EXPECT_EQ(PermCheck(set, "tcemp001", 1, PermAccess::kTableAction, nullptr), 0);
}

TEST(DriverAuditCols, ParsesTheClientPayload) {
  audit_reset_auditcols();
  ScratchDir root;
  root.WriteFile("lib/audit_cols", "tcemp001:*:C:name\ntcdep:100:A\n");
  UseRolesRoot(root.path(), "");
  ASSERT_EQ(audit_read_auditcols(), 0);
  std::string payload = Written(audit_send_auditcols);
  AuditColsSet set;
  size_t consumed = 0;
  ASSERT_EQ(ParseAuditColsPayload(Data(payload), payload.size(), &consumed, &set, nullptr),
            PayloadStatus::kOk);
  EXPECT_EQ(consumed, payload.size());
  EXPECT_EQ(set.payload, payload);
  EXPECT_EQ(set.config_id, auditcols_config_id());
  EXPECT_EQ(set.keys.size(), 3u);
  EXPECT_EQ(AuditColsLevel(set, "tcemp001:*"), 1);
  EXPECT_EQ(AuditColsLevel(set, "tcemp001:*:name"), 2);
  EXPECT_EQ(AuditColsLevel(set, "tcdep:100"), 3);
  for (size_t n = 0; n < payload.size(); ++n)
    EXPECT_EQ(ParseAuditColsPayload(Data(payload), n, &consumed, &set, nullptr),
              PayloadStatus::kIncomplete)
        << n;
}

TEST(DriverAuditCols, BrokenPayloadsAreRefused) {
  const std::string cases[] = {
      std::string("\0\0\0\1a:*\0\0\0\0\4\0", 13),                 // level above 3
      std::string("\0\0\0\1a:*\0\0\0\0\1a:*\0\0\0\0\1\0", 22),    // key twice
      std::string("\0\0\0\1", 4) + std::string(30, 'k') + '\0'};  // key too long
  for (const std::string &payload : cases) {
    AuditColsSet set;
    size_t consumed = 0;
    EXPECT_EQ(ParseAuditColsPayload(Data(payload), payload.size(), &consumed, &set, nullptr),
              PayloadStatus::kMalformed)
        << payload.size();
  }
}

}  // namespace
