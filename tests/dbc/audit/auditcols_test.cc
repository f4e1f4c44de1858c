// Audit columns: lib/audit_cols keys and levels, lookups for tables, prefixes
// and columns, refused entries, the AUDITCOLS payload both ways and the
// transaction-notification row values.
#include <gtest/gtest.h>
#include <utime.h>

#include <string>

#include "dbc/audit/auditcols.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "ipc/stream.h"
#include "dbc/log_capture.h"
#include "molvane/zdb.h"
#include "dbc/roles_test_env.h"

namespace {

using molvane::test::FixturePath;
using molvane::test::LogCapture;
using molvane::test::ScratchDir;
using molvane::test::UseRolesRoot;

void UseFixture() {
  audit_reset_auditcols();
  UseRolesRoot(FixturePath("roles"), "");
}

// A scratch root whose lib/audit_cols holds the given text.
class AuditRoot {
 public:
  explicit AuditRoot(const std::string &text) {
    audit_reset_auditcols();
    dir_.WriteFile("lib/audit_cols", text);
    UseRolesRoot(dir_.path(), "");
  }
  std::string File() const { return dir_.path() + "/lib/audit_cols"; }

 private:
  ScratchDir dir_;
};

std::string Bytes(STREAM *out) {
  size_t count = 0;
  const unsigned char *bytes = stream_bytes(out, &count);
  return std::string(reinterpret_cast<const char *>(bytes), count);
}

TEST(AuditCols, FixtureKeysAndLevels) {
  UseFixture();
  ASSERT_EQ(audit_read_auditcols(), 0);
  EXPECT_EQ(audit_using_auditcols(), 1);
  // A column entry makes the table key with level 1 and the column keys with
  // the entry's level.
  EXPECT_EQ(auditcols_key_level("tcemp001:*"), 1);
  EXPECT_EQ(auditcols_key_level("tcemp001:*:name"), 2);
  EXPECT_EQ(auditcols_key_level("tcemp001:*:sala"), 2);
  EXPECT_EQ(auditcols_key_level("tcemp001:100"), 1);
  EXPECT_EQ(auditcols_key_level("tcemp001:100:rate"), 3);
  EXPECT_EQ(auditcols_key_level("tcdep:100"), 3);
  EXPECT_EQ(auditcols_key_level("tcdep:200"), 3);
  EXPECT_EQ(auditcols_key_level("tcdep001:200"), 2);
  EXPECT_EQ(auditcols_key_level("tcx:*"), 3);
  EXPECT_EQ(auditcols_key_level("tcemp001:200"), -1);
}

struct ColumnCase {
  const char *table;
  const char *column;
  int compnr;
  int column_logged;
  int some_logged;
};

class AuditLookup : public ::testing::TestWithParam<ColumnCase> {};

TEST_P(AuditLookup, HighestLevelOverTheKeys) {
  UseFixture();
  ASSERT_EQ(audit_read_auditcols(), 0);
  const ColumnCase &c = GetParam();
  EXPECT_EQ(auditcols_column_is_logged(c.table, c.column, c.compnr), c.column_logged)
      << c.table << "." << c.column << " " << c.compnr;
  EXPECT_EQ(auditcols_some_column_is_logged(c.table, c.compnr), c.some_logged)
      << c.table << " " << c.compnr;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, AuditLookup,
    ::testing::Values(ColumnCase{"tcemp001", "name", 5, 1, 1}, ColumnCase{"tcemp001", "rate", 5, 0, 1},
                      ColumnCase{"tcemp001", "rate", 100, 2, 1}, ColumnCase{"tcemp001", "comp", 100, 0, 1},
                      ColumnCase{"Tcemp001", "name", 5, 1, 1}, ColumnCase{"tcdep001", "code", 100, 2, 1},
                      ColumnCase{"tcdep001", "code", 200, 2, 1}, ColumnCase{"tcdep001", "code", 300, 0, 0},
                      ColumnCase{"tcxyz001", "code", 1, 0, 0}));

TEST(AuditCols, SameKeyTwiceKeepsTheHigherLevel) {
  AuditRoot root("tcemp001:*:A\ntcemp001:*:C\ntcdep001:001:C:code\ntcdep001:001:A:code\n");
  ASSERT_EQ(audit_read_auditcols(), 0);
  EXPECT_EQ(auditcols_key_level("tcemp001:*"), 3);
  EXPECT_EQ(auditcols_key_level("tcdep001:001:code"), 3);
  EXPECT_EQ(auditcols_key_level("tcdep001:001"), 1);
}

TEST(AuditCols, MissingFileMeansNoAuditing) {
  audit_reset_auditcols();
  ScratchDir empty;
  UseRolesRoot(empty.path(), "");
  EXPECT_EQ(audit_read_auditcols(), 0);
  EXPECT_EQ(audit_using_auditcols(), 0);
  EXPECT_EQ(auditcols_some_column_is_logged("tcemp001", 1), 0);
}

struct BadEntry {
  const char *line;
  const char *warning;
};

class AuditBadEntry : public ::testing::TestWithParam<BadEntry> {};

TEST_P(AuditBadEntry, FailsTheRead) {
  AuditRoot root(std::string("tcemp001:*:A\n") + GetParam().line + "\n");
  LogCapture log;
  EXPECT_EQ(audit_read_auditcols(), -1);
  EXPECT_TRUE(log.Contains("Error in processing $ZUV/lib/audit_cols file"));
  EXPECT_TRUE(log.Contains(GetParam().warning)) << GetParam().line;
  EXPECT_EQ(audit_using_auditcols(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, AuditBadEntry,
    ::testing::Values(BadEntry{"tcemp0011:*:A", "Warning tablename 'tcemp0011' invalid"},
                      BadEntry{"tcemp001:1:A", "Warning company number '1' invalid"},
                      BadEntry{"tcemp001:100,x:A", "Warning company number 'x' invalid"},
                      BadEntry{"tcemp001:*:X", "Error in processing"},
                      BadEntry{"tcemp001:*:A:toolongcol", "Warning columnname 'toolongcol' invalid"},
                      BadEntry{"tcemp:*:A:name", "Warning no columns allowed with partial table"},
                      BadEntry{"tcemp001:*", "Error in processing"}));

TEST(AuditCols, PayloadBytesAndRoundTrip) {
  AuditRoot root("tcemp001:100:A\n");
  utimbuf times{0x01020304, 0x01020304};
  ASSERT_EQ(utime(root.File().c_str(), &times), 0);
  ASSERT_EQ(audit_read_auditcols(), 0);
  EXPECT_EQ(auditcols_config_id(), 0x01020304u);
  STREAM *out = stream_open_bytes(nullptr, 0, "w");
  ASSERT_EQ(audit_send_auditcols(out), 0);
  std::string payload = Bytes(out);
  sclose(out);
  EXPECT_EQ(payload, std::string("\1\2\3\4tcemp001:100\0\0\0\0\3\0", 22));

  audit_reset_auditcols();
  STREAM *in = stream_open_bytes(payload.data(), payload.size(), "r");
  ASSERT_EQ(audit_receive_auditcols(in), 0);
  sclose(in);
  EXPECT_EQ(auditcols_config_id(), 0x01020304u);
  EXPECT_EQ(auditcols_key_level("tcemp001:100"), 3);
  EXPECT_EQ(auditcols_column_is_logged("tcemp001", "name", 100), 2);
}

TEST(AuditCols, NoSettingsSendIdZeroAndTheEnd) {
  audit_reset_auditcols();
  STREAM *out = stream_open_bytes(nullptr, 0, "w");
  ASSERT_EQ(audit_send_auditcols(out), 0);
  EXPECT_EQ(Bytes(out), std::string("\0\0\0\0\0", 5));
  sclose(out);
}

TEST(AuditCols, ReceiveRefusesCutAndOverlongPayloads) {
  const std::string cases[] = {
      std::string("\0\0\0", 3),                             // id cut short
      std::string("\0\0\0\1tcemp001:100\0\0\0", 18),        // level cut short
      std::string("\0\0\0\1tcemp001:100", 16),              // key without its NUL
      std::string("\0\0\0\1") + std::string(40, 'k') + std::string("\0\0\0\0\1\0", 6)};
  for (const std::string &payload : cases) {
    audit_reset_auditcols();
    STREAM *in = stream_open_bytes(payload.data(), payload.size(), "r");
    EXPECT_EQ(audit_receive_auditcols(in), -1) << payload.size();
    sclose(in);
    EXPECT_EQ(audit_using_auditcols(), 0);
  }
}

TEST(AuditTnr, RowValuesOfTheTransactionAndEntry) {
  ZDB_TRANS trans;
  std::strcpy(trans.name, "nightly-import!");
  trans.audit_values[0] = 42;
  trans.audit_values[1] = 7;
  trans.audit_values[2] = 86399;
  std::strcpy(user_info.user_name, "ann");
  ZDB_AUDIT_ENTRY entry{};
  std::strcpy(entry.table, "TCEMP001xyz");
  entry.compnr = 100;
  entry.seqn = 3;
  entry.value = 123456;
  AUDIT_TNR_ROW row{};
  audit_tnr_fill_transaction(&row, &trans);
  audit_tnr_fill_entry(&row, &entry, 2);
  EXPECT_STREQ(row.trid, "        420000000007");
  EXPECT_STREQ(row.sess, "nightly-impor");
  EXPECT_STREQ(row.user, "ann     ");
  EXPECT_EQ(row.comt, 86399);
  EXPECT_STREQ(row.tabl, "tCEMP001");
  EXPECT_EQ(row.tsnr, 2);
  EXPECT_EQ(row.comp, 100);
  EXPECT_EQ(row.seqn, 3);
  EXPECT_EQ(row.trof, 123456);
  EXPECT_STREQ(audit_tnr_binds()[0].column, "ttaud110.trid");
  EXPECT_STREQ(audit_tnr_binds()[AUDIT_TNR_BINDS - 1].column, "ttaud110._compnr");
}

TEST(AuditTnr, EmptyListWritesNothing) {
  ZDB_TRANS trans;
  EXPECT_EQ(audit_write_tnr(&trans), 1);
}

TEST(AuditTnr, FailureIsReportedAndTheListEmptied) {
  UseFixture();
  ZDB_TRANS trans;
  trans.audit_list.push_back(ZDB_AUDIT_ENTRY{"tcemp001", 1, 1, 1});
  LogCapture log;
  zdb_errno = 0;
  EXPECT_EQ(audit_write_tnr(&trans), -1);
  EXPECT_EQ(zdb_errno, ZE_TNR_FAILED);
  EXPECT_TRUE(trans.audit_list.empty());
  EXPECT_TRUE(log.Contains("Can't create transaction notification; ABORT"));
}

TEST(AuditTnr, MissingDictionaryOfTtaud110) {
  ScratchDir empty;
  setenv("ZUV", empty.path().c_str(), 1);
  setenv("F_ZRDD", empty.path().c_str(), 1);
  init_local_dd();
  ZDB_TRANS trans;
  trans.audit_list.push_back(ZDB_AUDIT_ENTRY{"tcemp001", 1, 1, 1});
  LogCapture log;
  EXPECT_EQ(audit_write_tnr(&trans), -1);
  EXPECT_EQ(zdb_errno, ZE_TNR_FAILED);
  EXPECT_TRUE(log.Contains("DD of ttaud110 not found"));
  EXPECT_TRUE(trans.audit_list.empty());
}

}  // namespace
