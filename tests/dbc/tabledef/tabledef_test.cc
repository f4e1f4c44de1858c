#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <molvane/platform.h>

#include <molvane/zdb.h>
#include "dbc/tabledef/tabledef.h"
#include "dbc/tabledef/tabledef_parse.h"
#include "support/log_capture.h"
#include "support/test_env.h"

using namespace tabledef_detail;
using molvane::test::FixturePath;
using molvane::test::LogCapture;

namespace {

class TableDefinitions : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, set_zuv(FixturePath("tabledef").c_str())); }

  // The groups of a table as "name(args)[+]|alt & next", arguments with the
  // separating byte shown as ";".
  static std::string Groups(const char *table, int compnr) {
    TABLEDEF result;
    if (client_get_tabledef(table, compnr, &result) != 0) return "error " + std::to_string(zdb_errno);
    std::string out;
    for (int g = 0; g < result.nr_server; ++g) {
      if (g > 0) out += " & ";
      for (const DRIVER_SPEC *a = result.server[g]; a != nullptr; a = a->next_alt) {
        if (a != result.server[g]) out += "|";
        out += a->server->name;
        std::string args = a->server->args;
        for (char &c : args) c = c == '\x01' ? ';' : c;
        if (!args.empty()) out += "(" + args + ")";
        if (a->server->type & kServerReadDriver) out += "+";
      }
    }
    return out;
  }
};

TEST(TableDefinitionSyntax, PatternsMatchWholeNamesOrPackageAndModule) {
  EXPECT_TRUE(MatchTablePatterns("abxyz", "abxyz400"));
  EXPECT_TRUE(MatchTablePatterns("abxyz", "abxyz401"));
  EXPECT_FALSE(MatchTablePatterns("abxy", "abxyz400"));
  EXPECT_TRUE(MatchTablePatterns("abxyz400", "abxyz400"));
  EXPECT_FALSE(MatchTablePatterns("abxyz400", "abxyz401"));
  EXPECT_TRUE(MatchTablePatterns("qqqqq, abxyz400 ", "abxyz400"));
  EXPECT_TRUE(MatchTablePatterns("*", "anything"));
  // A lone "*" is every table; a name ending in "*" is no pattern and
  // matches nothing.
  EXPECT_FALSE(MatchTablePatterns("abxyz*", "abxyz400"));
  EXPECT_FALSE(MatchTablePatterns("ab*", "abxyz400"));
}

TEST(TableDefinitionSyntax, CompanyListsMatchNumbersEverythingOrAll) {
  EXPECT_EQ(CompanyMatch::kYes, MatchCompanyList("100,200", 100));
  EXPECT_EQ(CompanyMatch::kYes, MatchCompanyList("100, 200", 200));
  EXPECT_EQ(CompanyMatch::kNo, MatchCompanyList("100,200", 300));
  EXPECT_EQ(CompanyMatch::kYes, MatchCompanyList("", 300));
  EXPECT_EQ(CompanyMatch::kCoversAll, MatchCompanyList("*", 300));
  // Asked for any company: a numbered or empty list matches, "*" covers all.
  EXPECT_EQ(CompanyMatch::kYes, MatchCompanyList("100,200", -1));
  EXPECT_EQ(CompanyMatch::kYes, MatchCompanyList("", -1));
  EXPECT_EQ(CompanyMatch::kCoversAll, MatchCompanyList("*", -1));
}

TEST(TableDefinitionSyntax, LinesSplitIntoFieldsAndForeignLinesAreSkipped) {
  LineFields f;
  EXPECT_EQ(LineKind::kSkip, SplitLine("# comment", &f));
  EXPECT_EQ(LineKind::kSkip, SplitLine("   ", &f));
  EXPECT_EQ(LineKind::kSkip, SplitLine("{other}exemp:100:msqlite", &f));
  EXPECT_EQ(LineKind::kMalformed, SplitLine("exemp:100", &f));
  ASSERT_EQ(LineKind::kEntry, SplitLine("{batch, qelt}exemp:100:ora(a:b)|x:hostq(p)", &f));
  EXPECT_EQ("exemp", f.patterns);
  EXPECT_EQ("100", f.companies);
  EXPECT_EQ("ora(a:b)|x", f.drivers);
  EXPECT_EQ("hostq(p)", f.audit);
}

TEST(TableDefinitionSyntax, DriverTypesFollowNamePrefixes) {
  EXPECT_EQ(kDriverTypeAudit, DriverTypeOfName("audit"));
  EXPECT_EQ(kDriverTypeDatabase, DriverTypeOfName("oracle8"));
  EXPECT_EQ(kDriverTypeDatabase, DriverTypeOfName("msqlite"));
  EXPECT_EQ(kDriverTypeDatabase, DriverTypeOfName("db2"));
  EXPECT_EQ(kDriverTypeHost, DriverTypeOfName("farhost"));
  EXPECT_EQ(std::string("x\x01y,z\x01w"), ArgumentText("x,'y,z',w"));
}

TEST_F(TableDefinitions, FirstMatchingEntryInFileOrderGivesTheGroups) {
  EXPECT_EQ("msqlite(db200.db)", Groups("abxyz400", 200));
  EXPECT_EQ("msqlite(a.db)|mysql(b.db) & oracle8(x;y,z)+", Groups("abxyz400", 100));
  EXPECT_EQ("msqlite(main.db)", Groups("abxyz400", 300));
  EXPECT_EQ("msqlite(default.db)", Groups("abxyz401", 300));
  EXPECT_EQ("msqlite(one.db) & msqlite(two.db) & msqlite(three.db)", Groups("copyx001", 7));
}

TEST_F(TableDefinitions, EqualDriversShareOneServerRecord) {
  TABLEDEF a, b;
  ASSERT_EQ(0, client_get_tabledef("abxyz400", 100, &a));
  ASSERT_EQ(0, client_get_tabledef("abxyz401", 200, &b));
  EXPECT_EQ(a.server[0]->server, b.server[0]->server);
  EXPECT_EQ(0, compare_single_spec(a.server[0], b.server[0]));
  EXPECT_EQ(1, compare_single_spec(a.server[0], a.server[1]));
  TABLEDEF c;
  ASSERT_EQ(0, client_get_tabledef("abxyz400", 300, &c));
  EXPECT_EQ(1, compare_single_spec(a.server[0], c.server[0]));  // same start, other length
}

TEST_F(TableDefinitions, ReadDriverIsTheLastMarkedGroupElseTheFirstNonAudit) {
  EXPECT_STREQ("oracle8", read_driver_for_table("abxyz400", 100)->server->name);
  EXPECT_STREQ("main.db", read_driver_for_table("abxyz400", 300)->server->args);
  EXPECT_STREQ("r2.db", read_driver_for_table("rdtwo001", 1)->server->args);
  EXPECT_STREQ("x.db", get_dbc_read_driver("audyy001", 1)->args);
}

TEST_F(TableDefinitions, AuditDriversComeFromTheAuditFieldAndNeverServeAuditTables) {
  EXPECT_EQ("msqlite(x.db) & audit", Groups("audyy001", 1));
  EXPECT_EQ("msqlite(x.db)", Groups("audnn001", 1));
  EXPECT_EQ("msqlite(audit.db)", Groups("ttaud110", 1));
  char hosts[64];
  ASSERT_EQ(0, get_audit_hosts("audyy001", 1, hosts, sizeof hosts));
  EXPECT_STREQ("localhost", hosts);
  EXPECT_EQ(-1, get_audit_hosts("audyy001", 1, hosts, 4));
}

TEST_F(TableDefinitions, DisabledAuditDropsAuditDrivers) {
  zdb_disable_audit();
  EXPECT_EQ("msqlite(x.db)", Groups("audyy001", 1));
}

TEST_F(TableDefinitions, MoreThanTenGroupsFails) {
  LogCapture log;
  EXPECT_EQ("error 505", Groups("manyg001", 1));
  EXPECT_TRUE(log.Contains("tabledef", "More than 10 servers defined for table manyg001 compnr 1"))
      << log.Dump();
  EXPECT_TRUE(log.Contains("tabledef", "could not read tabledef for manyg001001")) << log.Dump();
}

TEST_F(TableDefinitions, DriversOnOtherHostsKeepTheirHostAndUnknownTypesAreDropped) {
  TABLEDEF result;
  ASSERT_EQ(0, client_get_tabledef("remot001", 1, &result));
  EXPECT_STREQ("farhost.invalid!msqlite", result.server[0]->server->name);
  EXPECT_TRUE(result.server[0]->server->type & kServerRemote);

  LogCapture log;
  zdb_errno = 0;
  EXPECT_EQ("msqlite(ok.db)", Groups("badty001", 1));
  EXPECT_TRUE(log.Contains("tabledef", "Unknown driver type: nodriver")) << log.Dump();
  EXPECT_EQ(505, zdb_errno);
}

TEST_F(TableDefinitions, UnreadableIncludedHostFallsBackToTheNextAlternative) {
  TABLEDEF result;
  ASSERT_EQ(0, client_get_tabledef("inclu001", 1, &result));
  ASSERT_EQ(1, result.nr_server);
  EXPECT_STREQ("local.db", result.server[0]->server->args);
  bool flagged = false;
  for (const SERVER_REC *s = ServerListHead(); s != nullptr; s = s->next) {
    if (std::strcmp(s->name, "farhost.invalid") == 0) flagged = s->type & kServerIncludeFailed;
  }
  EXPECT_TRUE(flagged);
}

TEST_F(TableDefinitions, TableInDriverSearchesEveryEntryOfTheTable) {
  TABLEDEF result;
  ASSERT_EQ(0, client_get_tabledef("abxyz400", 100, &result));
  const SERVER_REC *oracle8 = result.server[1]->server;
  EXPECT_EQ(1, table_in_driver("abxyz400", oracle8));
  EXPECT_EQ(1, table_in_driver("abxyz999", oracle8));
  EXPECT_EQ(0, table_in_driver("qqqqq001", oracle8));
  TABLEDEF audited;
  ASSERT_EQ(0, client_get_tabledef("audyy001", 1, &audited));
  EXPECT_EQ(1, table_in_driver("qqqqq001", audited.server[1]->server));  // audit drivers serve all
}

TEST_F(TableDefinitions, FixedDriverOnlyWhenEveryEntryAgrees) {
  EXPECT_EQ(nullptr, table_fixed_driver("abxyz400"));
  DRIVER_SPEC *fixed = table_fixed_driver("copyx001");
  ASSERT_NE(nullptr, fixed);
  EXPECT_STREQ("one.db", fixed->server->args);
}

TEST(TableDefinitionFile, MissingFileFailsWith505) {
  molvane::test::ScratchDir root;
  ASSERT_EQ(0, set_zuv(root.path().c_str()));
  LogCapture log;
  TABLEDEF result;
  EXPECT_EQ(-1, client_get_tabledef("abxyz400", 1, &result));
  EXPECT_EQ(505, zdb_errno);
  EXPECT_TRUE(log.Contains("tabledef", "open error")) << log.Dump();
  EXPECT_TRUE(log.Contains("tabledef", "could not read tabledef for abxyz400001")) << log.Dump();
  // The host reads the cause, not only the number.
  std::string msg = get_zdb_msg() != nullptr ? get_zdb_msg() : "";
  EXPECT_NE(msg.find("No driver for abxyz400001: the table definitions could not be read ("),
            std::string::npos) << msg;
  EXPECT_NE(msg.find("/lib/tabledef1 open error 2 (No such file or directory))"), std::string::npos)
      << msg;
}

// A driver name whose name marks no driver type is taken for a host whose
// table definitions are included; when they cannot be read, the message
// says whether lib/ipc_info has the name, and lists the names it has. The
// log keeps its lines. One case per process: the file is read once.
struct UnknownDriverCase {
  const char *name;
  const char *ipc_info;  // null: no file
  const char *says;      // what the message says of the name
};

class UnknownDriverName : public ::testing::TestWithParam<UnknownDriverCase> {};

TEST_P(UnknownDriverName, IsNamedWithTheNamesOfIpcInfo) {
  molvane::test::ScratchDir root;
  root.WriteFile("lib/tabledef1", "exdep::sqlite\n");
  if (GetParam().ipc_info != nullptr) root.WriteFile("lib/ipc_info", GetParam().ipc_info);
  ASSERT_EQ(0, set_zuv(root.path().c_str()));
  LogCapture log;
  TABLEDEF result;
  EXPECT_EQ(-1, client_get_tabledef("exdep010", 1, &result));
  EXPECT_EQ(505, zdb_errno);
  EXPECT_EQ(std::string("No driver for exdep010001: lib/tabledef1 names sqlite, ") + GetParam().says +
                "; a name that begins with none of audit, oracle, informix, db2, msql, mysql is taken for a host "
                "whose table definitions are included, and those of sqlite could not be read: sqlite is "
                "no name of this machine, and the files of other hosts are not read",
            get_zdb_msg() != nullptr ? get_zdb_msg() : "");
  EXPECT_TRUE(log.Contains("tabledef", "sqlite!${ZUV}/lib/tabledef1 open error 113")) << log.Dump();
  EXPECT_TRUE(log.Contains("tabledef", "could not read tabledef for exdep010001")) << log.Dump();
}

INSTANTIATE_TEST_SUITE_P(
    Tables, UnknownDriverName,
    ::testing::Values(
        UnknownDriverCase{"OtherNames", "msqlite child molvane-driver\nmsqltwo child molvane-driver\n",
                          "which is no driver of lib/ipc_info (it has msqlite, msqltwo)"},
        UnknownDriverCase{"NoIpcInfo", nullptr, "which is no driver of lib/ipc_info (it has none)"},
        UnknownDriverCase{"ItsName", "sqlite child molvane-driver\n",
                          "which lib/ipc_info has, but whose name marks no driver type"},
        UnknownDriverCase{"EveryName", "* child molvane-driver\n",
                          "which lib/ipc_info has, but whose name marks no driver type"}),
    [](const ::testing::TestParamInfo<UnknownDriverCase> &info) { return std::string(info.param.name); });

TEST(SpecifiedServer, ServesEveryTableAndCannotBeRedefined) {
  molvane::test::ScratchDir root;  // no tabledef file at all
  ASSERT_EQ(0, set_zuv(root.path().c_str()));
  ASSERT_EQ(0, specify_server("msqlite(s.db)|mysql"));
  TABLEDEF result;
  ASSERT_EQ(0, client_get_tabledef("anyth001", 5, &result));
  ASSERT_EQ(1, result.nr_server);
  EXPECT_STREQ("mysql", result.server[0]->next_alt->server->name);

  LogCapture log;
  EXPECT_EQ(-1, specify_server("oracle"));
  EXPECT_TRUE(log.Contains("server_spec", "Can't redefine server ('oracle' ignored)")) << log.Dump();
  ASSERT_EQ(0, client_get_tabledef("anyth001", 5, &result));
  EXPECT_STREQ("msqlite", result.server[0]->server->name);
}

TEST(AuditHosts, CompanyHostElseDefault) {
  ASSERT_EQ(0, set_zuv(FixturePath("tabledef").c_str()));
  char host[32];
  ASSERT_EQ(0, auditcols_get_audit_host(200, host, sizeof host));
  EXPECT_STREQ("hosta", host);
  ASSERT_EQ(0, auditcols_get_audit_host(300, host, sizeof host));
  EXPECT_STREQ("hostc", host);
  ASSERT_EQ(0, auditcols_get_audit_host(301, host, sizeof host));
  EXPECT_STREQ("hostdef", host);
}

struct BadAuditHosts {
  const char *content;
  const char *message;
};

class AuditHostsMalformed : public ::testing::TestWithParam<BadAuditHosts> {};

TEST_P(AuditHostsMalformed, FileIsRefusedWithItsMessage) {
  molvane::test::ScratchDir root;
  root.WriteFile("lib/audit_hosts", GetParam().content);
  ASSERT_EQ(0, set_zuv(root.path().c_str()));
  LogCapture log;
  char host[32];
  EXPECT_EQ(-1, auditcols_get_audit_host(100, host, sizeof host));
  EXPECT_TRUE(log.Contains("Reading audit_hosts file", GetParam().message)) << log.Dump();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AuditHostsMalformed,
    ::testing::Values(BadAuditHosts{"100 hosta\n", "Colon missing; format must be <compnrs>:<hostname>"},
                      BadAuditHosts{"100:hosta\n100:hostb\n", "Conflicting hostnames for compnr 100 (hosta and hostb)"},
                      BadAuditHosts{"1000:hosta\n", "Invalid company number"}));

}  // namespace
