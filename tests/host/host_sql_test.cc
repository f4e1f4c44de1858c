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

// The departments on a driver of their own: a cursor left open across an
// update of its own transaction (flushed) reads the joined department again
// with the subquery over it, so that no row pairs its old name with the
// subquery's new one; one left open across an abort of that update, or a
// table clear, returns no more rows that the undone or cleared rows let in,
// although the subquery's values went to the other driver as a list.
TEST_F(HostSql, AnOpenCursorFollowsTheWritesOfItsTransaction) {
  root_.WriteFile("lib/ipc_info", "msqlite child " + std::string(MOLVANE_BINARY_DIR) +
                                      "/driver/molvane-driver ${ZUV}/demo.db\n"
                                      "msqltwo child " + std::string(MOLVANE_BINARY_DIR) +
                                      "/driver/molvane-driver ${ZUV}/two.db\n");
  root_.WriteFile("lib/tabledef1", "exdep010:*:msqltwo\n*::msqlite\n");
  int status = 0;
  std::string out = RunText(
      "logon demo\nstart t\ntable create exdep010 1\ntable create exemp010 1\n"
      "insert exdep010 1 code=A name=Alpha\ninsert exdep010 1 code=B name=Beta\n"
      "insert exemp010 1 emp=1 name=Ann dept=A dcas=A drst=A\n"
      "insert exemp010 1 emp=2 name=Bob dept=B dcas=B drst=B\n"
      "insert exemp010 1 emp=3 name=Cid dept=B dcas=B drst=B\ncommit\n"
      "sql prepare q SELECT e.emp, d.name FROM exemp010 e, exdep010 d WHERE e.drst = d.code AND "
      "(e.emp < 2 OR EXISTS (SELECT d2.code FROM exdep010 d2 WHERE d2.code = e.drst AND d2.name <> d.name))\n"
      "sql rows q 1\nsql exec q 1\nsql fetch q 1\n"
      "update exdep010 1 code=B name=CHANGED\nflush\nsql fetch q\n"
      "sql prepare s SELECT e.emp FROM exemp010 e WHERE e.drst IN "
      "(SELECT d.code FROM exdep010 d WHERE d.name = 'CHANGED')\n"
      "sql rows s 1\nsql exec s 1\nsql fetch s 1\nabort\nsql fetch s\n"
      "sql prepare r SELECT d.code FROM exdep010 d WHERE d.code IN "
      "(SELECT e.drst FROM exemp010 e WHERE e.emp > 0)\n"
      "sql rows r 1\nsql exec r 1\nsql fetch r 1\ntable clear exemp010 1\nsql fetch r\nlogoff\n",
      &status);
  EXPECT_EQ(out,
            "logged on as demo\ntransaction t id 1\nexdep010001: create_table\nexemp010001: create_table\n"
            "buffered insert on exdep010001\nbuffered insert on exdep010001\nbuffered insert on exemp010001\n"
            "buffered insert on exemp010001\nbuffered insert on exemp010001\ncommitted\n"
            "prepared q: select\nrows per fetch q 1\nexecuted q\n"
            "exemp010.emp  exdep010.name\n------------  -------------\n1             \"Alpha\"\n(1 row)\n"
            "buffered update on exdep010001\nflushed\n"
            "exemp010.emp  exdep010.name\n------------  -------------\n(0 rows)\n"
            "prepared s: select\nrows per fetch s 1\nexecuted s\nexemp010.emp\n------------\n2\n(1 row)\n"
            "aborted\nexemp010.emp\n------------\n(0 rows)\n"
            "prepared r: select\nrows per fetch r 1\nexecuted r\nexdep010.code\n-------------\n\"A\"\n(1 row)\n"
            "exemp010001: clear_table\nexdep010.code\n-------------\n(0 rows)\nlogged off\n");
  EXPECT_EQ(status, 0);
}

}  // namespace
