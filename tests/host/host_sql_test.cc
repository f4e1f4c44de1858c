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
      "sql prepare q SELECT code FROM exdep010 WHERE name LIKE 'M%' ESCAPE '!'\n"
      "sql prepare q --ansi SELECT code FROM exdep010 WHERE name LIKE 'M%' ESCAPE '!'\n"
      "logoff\n",
      &status);
  EXPECT_EQ(out,
            "error 508 (not logged on): Not logged on to a database; run logon first\n"
            "logged on as demo\ntransaction t id 1\n"
            "error 302 (SQL statement error): SQLState 42I00: Unexpected "
            "token 'FROM' (error 302)\n"
            "error 302 (SQL statement error): SQLState 42I04: Unknown table "
            "'nosuch' (error 302)\n"
            "error 302 (SQL statement error): SQLState 42I82: ANSI syntax "
            "for LIKE predicate requires parse mode 'ansi'. (error 302)\n"
            "prepared q: select\n"
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

// Rows of a join, printed under their column names; a prepared UPDATE with
// a bound parameter and a DELETE with their counts (0 for none); a DELETE
// that SQL refuses; a retry point resumed.
TEST_F(HostSql, QueriesChangesAndRetryPoints) {
  int status = 0;
  std::string out = RunText(
      "logon demo\nstart t\ntable create exdep010 1\ntable create exemp010 1\n"
      "insert exdep010 1 code=A name=Alpha\ninsert exdep010 1 code=B name=Beta\n"
      "insert exemp010 1 emp=1 name=Ann dept=A dcas=A drst=A\n"
      "insert exemp010 1 emp=2 name=Bob dept=B dcas=B drst=B\n"
      "insert exemp010 1 emp=3 name=Cid dept=B dcas=B drst=B\ncommit\n"
      "sql prepare q SELECT e.emp, d.name FROM exemp010 e, exdep010 d WHERE e.dept = d.code "
      "AND e.emp >= :low ORDER BY e.emp\n"
      "sql bind q :low int 2\nsql rows q 1000\nsql exec q 1\nsql fetch q\n"
      "sql prepare u UPDATE exemp010 SET name = :n WHERE dept = 'B'\n"
      "sql bind u :n string Bee\nsql exec u 1\n"
      "sql run 1 UPDATE exemp010 SET name = 'X' WHERE emp = 99\n"
      "! sql run 1 DELETE FROM exemp010 WHERE emp = 1\n"
      "table create tttxt010 1\ninsert tttxt010 1 ctxt=1 clan=E seqe=1 text=Kept\n"
      "insert tttxt010 1 ctxt=2 clan=E seqe=1 text=Gone\ncommit\n"
      "sql run 1 DELETE FROM tttxt010 WHERE ctxt = 2\n"
      "sql prepare r SELECT emp, name FROM exemp010 ORDER BY emp WITH RETRY\n"
      "sql exec r 1\nsql fetch r 1\nsql save r\nsql fetch r\nsql retry r\nsql fetch r\n"
      "sql close r\nlogoff\n",
      &status);
  const std::string retried =
      "exemp010.emp  exemp010.name\n------------  -------------\n2             \"Bee\"\n"
      "3             \"Bee\"\n(2 rows)\n";
  EXPECT_EQ(out,
            "logged on as demo\ntransaction t id 1\nexdep010001: create_table\n"
            "exemp010001: create_table\nbuffered insert on exdep010001\n"
            "buffered insert on exdep010001\nbuffered insert on exemp010001\n"
            "buffered insert on exemp010001\nbuffered insert on exemp010001\ncommitted\n"
            "prepared q: select\nbound :low\nrows per fetch q 1000\nexecuted q\n"
            "exemp010.emp  exdep010.name\n------------  -------------\n2             \"Beta\"\n"
            "3             \"Beta\"\n(2 rows)\n"
            "prepared u: update\nbound :n\n2 rows updated\n0 rows updated\n"
            "error 302 (SQL statement error): SQLState 42I66: Table "
            "'exemp010' has a parent table that needs to be updated on delete (error 302)\n"
            "tttxt010001: create_table\nbuffered insert on tttxt010001\n"
            "buffered insert on tttxt010001\ncommitted\n1 row deleted\n"
            "prepared r: select\nexecuted r\n"
            "exemp010.emp  exemp010.name\n------------  -------------\n1             \"Ann\"\n"
            "(1 row)\nretry point saved r\n" + retried + "retried r\n" + retried +
            "closed r\nlogged off\n");
  EXPECT_EQ(status, 0);
}

}  // namespace
