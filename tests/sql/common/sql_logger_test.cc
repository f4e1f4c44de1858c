#include "sql/common/sql_logger.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Capture(void (*write)(SQLLogger &)) {
  SQLLogger &log = *SQLLogger::Instance();
  log.ResetIndent();
  testing::internal::CaptureStderr();
  write(log);
  return testing::internal::GetCapturedStderr();
}

TEST(SQLLogger, FlagMappingFromTheTraceSettings) {
  struct Case {
    long qelt, tt, flags;
  } cases[] = {
      {0, 0x4010, 0xBC},  {0, 0, 0},        {0x41, 0, 0x41},   {0x41, 0x4010, 0xFD},
      {0, 0x800, 0x3},    {0, 0x10, 0x3C},  {0, 0x100, 0},     {5, -1, 5},
  };
  for (auto const &c : cases)
    EXPECT_EQ(c.flags, SQL_log_flags_from_settings(c.qelt, c.tt)) << c.qelt << " " << c.tt;
}

long FakeSetting(char const *name) {
  if (std::strcmp(name, "qelt_sql_trace") == 0) return 0x40;
  if (std::strcmp(name, "tt_sql_trace") == 0) return 0x4000;
  return 0;
}

TEST(SQLLogger, InitLogFlagsReadsTheInstalledSettings) {
  SQL_set_setting_reader(FakeSetting);
  EXPECT_EQ(0, SQLLoggerInitLogFlags());
  EXPECT_EQ(0xC0, SQLLogger::Instance()->GetLogFlags());
  EXPECT_TRUE(SQLLogger::Instance()->LogFlagIsSet(SQLLogger::StmtCacheStats));
  EXPECT_TRUE(SQLLogger::Instance()->LogFlagIsSet(SQLLogger::Always));
  EXPECT_FALSE(SQLLogger::Instance()->LogFlagIsSet(SQLLogger::Tree::Vt));
  SQL_set_setting_reader(nullptr);
}

TEST(SQLLogger, WithoutASettingsReaderTheEnvironmentCounts) {
  setenv("QELT_SQL_TRACE", "0", 1);
  setenv("TT_SQL_TRACE", "4000", 1);  // octal 0x800
  SQLLoggerInitLogFlags();
  EXPECT_EQ(0x3, SQLLogger::Instance()->GetLogFlags());
  unsetenv("TT_SQL_TRACE");
  SQLLoggerInitLogFlags();
  EXPECT_EQ(0, SQLLogger::Instance()->GetLogFlags());
  EXPECT_FALSE(SQLLogger::Instance()->LogFlagIsSet(SQLLogger::Always));
}

TEST(SQLLogger, InterfaceIncludesTheDetailedBit) {
  SQLLogger &log = *SQLLogger::Instance();
  log.SetLogFlags(0x800);
  EXPECT_TRUE(log.LogFlagIsSet(SQLLogger::Interface));
  EXPECT_TRUE(log.LogFlagIsSet(SQLLogger::InterfaceDetailed));
  log.SetLogFlags(0x400);
  EXPECT_TRUE(log.LogFlagIsSet(SQLLogger::Interface));
  EXPECT_FALSE(log.LogFlagIsSet(SQLLogger::InterfaceDetailed));
  EXPECT_EQ(SQLLogger::Text, log.OutputFormat());
}

TEST(SQLLogger, FormatsEveryKindOfValue) {
  std::string out = Capture([](SQLLogger &log) {
    log << SQLString("s") << " " << 42 << " " << -7L << " " << 9UL << " " << 1.5 << " "
        << static_cast<long long>(INT64_MIN) << " " << true << " " << false << " "
        << SQL_INTERVAL_DAYS << " " << SQL_ARRAY << " " << static_cast<SQLType>(3) << "|" << endl;
  });
  EXPECT_EQ("s 42 -7 9 1.500000 -9223372036854775808 True False SQL_INTERVAL_DAYS SQL_ARRAY |\n",
            out);
  std::string ptr = Capture([](SQLLogger &log) {
    log << reinterpret_cast<void const *>(std::uintptr_t{0x1234abcd5678});
  });
  EXPECT_EQ("1234abcd5678", ptr);
}

TEST(SQLLogger, IndentsAfterEachEndOfLine) {
  std::string out = Capture([](SQLLogger &log) {
    log << "a" << incind << endl << "b" << incind << endl << "c" << decind << endl << "d";
    log << decind << decind << decind << endl << "e" << incind << resetind << endl << "f" << endl;
  });
  EXPECT_EQ("a\n   b\n      c\n   d\ne\nf\n", out);
  EXPECT_EQ(0, SQLLogger::Instance()->GetIndent());
  // Past the deepest indentation lines stay at it, and the levels still count.
  std::string deep = Capture([](SQLLogger &log) {
    log << "f";
    for (int i = 0; i < SQLLogger::kMaxIndent + 10; ++i) log << incind;
    log << endl << "g";
    for (int i = 0; i < 10; ++i) log << decind;
    log << endl << "h" << resetind << endl;
  });
  std::string const blanks(3 * SQLLogger::kMaxIndent, ' ');
  EXPECT_EQ("f\n" + blanks + "g\n" + blanks + "h\n", deep);
}

}  // namespace
