// molvane-host SQL commands through the classic SQL API against the
// reference driver: failures show the error number, its name, the library's
// text and the statement's SQLSTATE and message; arguments the host cannot
// use are refused before any call.
#include <gtest/gtest.h>

#include <string>

#include "host_env.h"

namespace {

class HostSql : public molvane::test::HostEnv {};

TEST_F(HostSql, FailuresShowTheErrorWithItsSqlState) {
  int status = 0;
  std::string out = RunText(
      "sql prepare q SELECT code FROM exdep010\n"
      "logon demo\nstart t\n"
      "sql prepare q SELECT FROM\n"
      "sql prepare q SELECT code FROM nosuch\n"
      "logoff\n",
      &status);
  EXPECT_EQ(out,
            "error 508 (not logged on): Not logged on to a database; run logon first\n"
            "logged on as demo\ntransaction t id 1\n"
            "error 302 (SQL statement error): SQL: Statement error; SQLState 42I00: Unexpected "
            "token 'FROM' (error 302)\n"
            "error 302 (SQL statement error): SQL: Statement error; SQLState 42I04: Unknown table "
            "'nosuch' (error 302)\n"
            "logged off\n");
  EXPECT_NE(status, 0);
}

TEST_F(HostSql, ArgumentsTheHostCannotUseAreRefused) {
  struct Case {
    const char *command;
    const char *printed;
  };
  const Case cases[] = {
      {"sql", "bad arguments: sql"},
      {"sql frob q", "bad arguments: sql frob q"},
      {"sql run x SELECT 1", "bad arguments: sql run x SELECT 1"},
      {"sql run 1", "bad arguments: sql run 1"},
      {"sql exec q 1", "no statement q"},
      {"sql fetch q", "no statement q"},
      {"sql bind q :c string A", "no statement q"},
      {"sql close q", "no statement q"},
  };
  for (const Case &c : cases) {
    int status = 0;
    std::string out = RunText(std::string("logon demo\nstart t\n") + c.command + "\n", &status);
    EXPECT_EQ(out, std::string("logged on as demo\ntransaction t id 1\n") + c.printed + "\n")
        << c.command;
    EXPECT_NE(status, 0) << c.command;
  }
}

}  // namespace
