// molvane-host record commands against the reference driver: rows of two
// companies are inserted, committed and read back by their dictionary
// columns; an aborted change does not persist; a refused insert shows its
// details; the README demo script runs to its end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "host_env.h"

namespace {

class HostRecords : public molvane::test::HostEnv {
 protected:
  static std::string ReadText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
};

TEST_F(HostRecords, RowsOfTwoCompaniesAndAnAbortedChange) {
  int status = 0;
  std::string out = RunText(
      "logon demo\nstart t\ntable create exdep010 1\ntable create exdep010 2\n"
      "insert exdep010 1 code=A name=One\ninsert exdep010 2 code=A name=Two\ncommit\n"
      "read exdep010 1 code=A\nread exdep010 2 code=A\n"
      "update exdep010 1 code=A name=Changed\nabort\nread exdep010 1 code=A\n"
      "! read exdep010 1 code=B\n"
      "insert exdep010 2 code=A\n! commit\ndetail\nabort\ntable count exdep010 2\nlogoff\n",
      &status);
  const std::string row1 =
      "exdep010001: Refcntd=0 Refcntu=0 budget=2500.75 code=\"A\" name=\"One\" opened=2021-07-29 "
      "status=1\n";
  EXPECT_EQ(out,
            "logged on as demo\ntransaction t id 1\nexdep010001: create_table\n"
            "exdep010002: create_table\nbuffered insert on exdep010001\n"
            "buffered insert on exdep010002\ncommitted\n" + row1 +
            "exdep010002: Refcntd=0 Refcntu=0 budget=2500.75 code=\"A\" name=\"Two\" "
            "opened=2021-07-29 status=1\n"
            "buffered update on exdep010001\naborted\n" + row1 +
            "error 111 (no record found): No record found in exdep010001 (db_eq on index 1, key "
            "code = B)\n"
            "buffered insert on exdep010002\n"
            "error 520 (buffered update failed): the update of exdep010002 failed with error 100 "
            "(duplicate key): Duplicate key code = A in exdep010002 (index 1)\n"
            "update failed with error 100 (duplicate key) on exdep010002: Duplicate key code = A in "
            "exdep010002 (index 1)\n"
            "aborted\n"
            "exdep010002: 1 rows\nlogged off\n");
  EXPECT_EQ(status, 0);
}

// Hosts whose child drivers share one file: a host whose dictionary has
// another layout of a table than the file's is refused at the table's first
// use with the difference, and never reads a row through its own offsets.
TEST_F(HostRecords, AHostWithAnotherLayoutOfATableIsRefusedWithTheDifference) {
  int status = 0;
  std::string out = RunText("logon demo\nstart t\ninsert exdep010 1 code=OLD1 name=first\ncommit\nlogoff\n", &status);
  ASSERT_EQ(out, "logged on as demo\ntransaction t id 1\nbuffered insert on exdep010001\ncommitted\nlogged off\n");
  const std::string refused =
      "error 215 (illegal state): exdep010: this host's dictionary has column floor after code; the "
      "database's table has none; ALTER_TABLE is not supported\n";
  setenv("F_ZRDD", NewDictionary().c_str(), 1);
  out = RunText("logon demo\nstart t\n! read exdep010 1 code=OLD1\ninsert exdep010 1 code=NEW floor=3\n"
                "! commit\nabort\n! table count exdep010 1\n",
                &status);
  unsetenv("F_ZRDD");
  EXPECT_EQ(out, "logged on as demo\ntransaction t id 1\n" + refused + "buffered insert on exdep010001\n" +
                     refused + "aborted\n" + refused);
  out = RunText("logon demo\nstart t\nread exdep010 1 code=OLD1\ntable count exdep010 1\n", &status);
  EXPECT_EQ(out, "logged on as demo\ntransaction t id 1\nexdep010001: Refcntd=0 Refcntu=0 budget=2500.75 "
                 "code=\"OLD1\" name=\"first\" opened=2021-07-29 status=1\nexdep010001: 1 rows\n");
  EXPECT_EQ(status, 0);
}

// A dump that is there but does not load is 512 with the loader's file and
// line, never 513 "no dump": a domain without its type line, and a table
// dump cut inside its trailing "R" section (whole lines, so only its
// missing end line shows the cut).
TEST_F(HostRecords, DamagedDumpsSaySoWithFileAndLine) {
  const std::string dict = root_.path() + "/dict/";
  const std::string domains = ReadText(dict + "dex.pd");
  std::string no_type = domains;
  no_type.erase(no_type.find(":TYPE f\n"), 8);
  root_.WriteFile("dict/dex.pd", no_type);
  int status = 0;
  std::string out = RunText("logon demo\nstart t\n! read exemp010 1 emp=1\n", &status);
  EXPECT_NE(out.find("error 512 (dictionary corrupt): Dictionary dump " + dict +
                     "dex.pd, line 21: domain exprice has no type line (:TYPE)"),
            std::string::npos)
      << out;
  root_.WriteFile("dict/dex.pd", domains);
  const std::string dump = ReadText(dict + "dexdep010");
  root_.WriteFile("dict/dexdep010", dump.substr(0, dump.find(":REFC exemp010.dnul")));
  out = RunText("logon demo\nstart t\n! read exdep010 1 code=A\n", &status);
  EXPECT_EQ(out, "logged on as demo\ntransaction t id 1\nerror 512 (dictionary corrupt): Dictionary dump " +
                     dict + "dexdep010, line 45: the dump (version 2) has no end line ':END': it is cut short\n");
}

TEST_F(HostRecords, BadArgumentsAreRefused) {
  int status = 0;
  std::string out = RunText(
      "logon demo\nstart t\ntable frobnicate exdep010 1\ninsert exdep010 x\n"
      "insert exdep010 1 nosuch=1\ninsert exdep010 1 code=MUCHTOOLONG\nread exdep010 1 name=saw\n"
      "lockread exemp010 1 emp=1 name=x\nread exdep099 1 code=A\n",
      &status);
  EXPECT_EQ(out,
            "logged on as demo\ntransaction t id 1\nbad arguments: table\nbad arguments: insert\n"
            "bad value: nosuch=1: exdep010 has no column nosuch\n"
            "bad value for code: MUCHTOOLONG (longer than 6 characters)\n"
            "bad key: name=saw: name is not a key column; read reads exdep010 by index 1, whose "
            "key columns are code\n"
            "bad key: name=x: name is not a key column; lockread reads exemp010 by index 1, whose "
            "key columns are emp\n"
            "error 513 (table not in dictionary): Table exdep099 not found in data dictionary (no "
            "dump dexdep099 in " + root_.path() + "/dict)\n");
  EXPECT_NE(status, 0);
}

// A child or in-process driver started without a database file keeps one
// database for the program: a row that one transaction committed is found
// by the next, SQL sees the table, and its count counts the rows; nothing
// of it stays after the program.
TEST_F(HostRecords, ADriverWithoutAFileKeepsOneDatabaseForItsTransactions) {
  const std::string tmp = root_.path() + "/tmp";
  std::filesystem::create_directory(tmp);
  setenv("TMPDIR", tmp.c_str(), 1);
  for (const std::string &form : {"child " + std::string(MOLVANE_BINARY_DIR) + "/driver/molvane-driver",
                                 "library " + std::string(MOLVANE_BINARY_DIR) + "/driver/libmolvane_driver.so"}) {
    SCOPED_TRACE(form);
    root_.WriteFile("lib/ipc_info", "msqlite " + form + "\n");
    int status = 0;
    const std::string out = RunText(
        "logon demo\nstart a\ntable create exdep010 1\ninsert exdep010 1 code=SALES name=Sales\ncommit\n"
        "start b\nread exdep010 1 code=SALES\nsql run 1 SELECT code, name FROM exdep010\n"
        "table count exdep010 1\ninsert exdep010 1 code=HR\nflush\nstart c\ntable count exdep010 1\n"
        "stop 2\ntable count exdep010 1\nlogoff\n",
        &status);
    EXPECT_EQ(out,
              "logged on as demo\ntransaction a id 1\nexdep010001: create_table\nbuffered insert on exdep010001\n"
              "committed\ntransaction b id 2\n"
              "exdep010001: Refcntd=0 Refcntu=0 budget=2500.75 code=\"SALES\" name=\"Sales\" opened=2021-07-29 "
              "status=1\n"
              "exdep010.code  exdep010.name\n-------------  -------------\n\"SALES\"        \"Sales\"\n(1 row)\n"
              "exdep010001: 1 rows\nbuffered insert on exdep010001\nflushed\ntransaction c id 3\n"
              "exdep010001: 1 rows\nstopped 2\nexdep010001: 1 rows\nlogged off\n");
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(std::filesystem::is_empty(tmp));
  }
  unsetenv("TMPDIR");
}

// A child driver serves one program: what another of its transactions
// holds (a row, the write transaction) cannot be freed while the program
// waits, so a record write, an SQL UPDATE and a lock of the table are
// refused at once, and the text names that transaction as the cause.
TEST_F(HostRecords, TheProgramsOwnOtherTransactionIsNamedAndRefusesAtOnce) {
  int status = 0;
  const std::string out = RunText(
      "logon demo\nstart t\ntable create exdep010 1\ninsert exdep010 1 code=SALES\ninsert exdep010 1 code=HR\n"
      "commit\nlockread exdep010 1 code=SALES\nstart u\n! lockread exdep010 1 code=SALES\n"
      "! sql run 1 UPDATE exdep010 SET budget = 7 WHERE code = 'SALES'\nabort\n"
      "start v\nupdate exdep010 1 code=HR budget=2\nflush\nstart w\n"
      "! sql run 1 UPDATE exdep010 SET budget = 7 WHERE code = 'NONE'\n"
      "insert exdep010 1 code=FIN\n! flush\nstart x\n! table lock exdep010 1\n",
      &status);
  const std::string at_once = ": a program's transactions do not wait for each other";
  // One wording names the program's other session wherever the refusal
  // is worded, in the library or in the driver.
  for (const std::string &refusal :
       {std::string("error 107 (record locked): Record is locked: db_eq(locked) of exdep010001, key code = SALES, "
                    "was refused at once: session 1 (\"t\") of this host holds the row (a program's transactions do "
                    "not wait for each other); commit or abort that transaction first\n"),
        "error 107 (record locked): SQLState QP999: Record is locked: the SQL statement's row of exdep010001, key "
        "code = SALES, was refused at once: session 1 (\"t\") of this host holds it" + at_once +
            "; commit or abort that transaction first (error 107)\n",
        "error 107 (record locked): SQLState QP999: Record is locked: the SQL statement's wait for the write "
        "transaction was refused at once: session 3 (\"v\") of this host holds the write transaction" + at_once +
            "; commit or abort that transaction first (error 107)\n",
        "error 520 (buffered update failed): the update of exdep010001 failed with error 107 (record locked): "
        "refused at once: session 3 (\"v\") of this host holds the write transaction" + at_once + "\n",
        std::string("error 107 (record locked): Record is locked: lock_table of exdep010001 was refused at once: ")})
    EXPECT_NE(out.find(refusal), std::string::npos) << out;
  EXPECT_EQ(out.find("--lock-wait-ms"), std::string::npos) << out;
  EXPECT_EQ(status, 0) << out;
}

// A value that does not convert exactly to its column is refused with the
// column, the value and the reason, and nothing reaches the table.
TEST_F(HostRecords, ValuesThatDoNotFitTheirColumnAreRefusedAndNothingIsStored) {
  int status = 0;
  std::string out = RunText(
      "logon demo\nstart t\ntable create exdep010 1\n"
      "insert exdep010 1 code=A budget=notanumber\n"
      "insert exdep010 1 code=A budget=1e400\n"
      "insert exdep010 1 code=A budget=inf\n"
      "insert exdep010 1 code=A budget=12.5x\n"
      "insert exdep010 1 code=A status=2147483648\n"
      "insert exdep010 1 code=A status=256\n"
      "insert exdep010 1 code=A status=-1\n"
      "insert exdep010 1 code=A opened=2021-02-30\n"
      "insert exdep010 1 code=A opened=yesterday\n"
      "insert exdep010 1 code=A opened=0\n"
      "insert exdep010 1 code=B budget=12.25 status=3 opened=2024-02-29\n"
      "commit\ntable count exdep010 1\nread exdep010 1 code=B\nlogoff\n",
      &status);
  EXPECT_EQ(out,
            "logged on as demo\ntransaction t id 1\nexdep010001: create_table\n"
            "bad value for budget: notanumber (not a number)\n"
            "bad value for budget: 1e400 (out of range)\n"
            "bad value for budget: inf (out of range)\n"
            "bad value for budget: 12.5x (not a number)\n"
            "bad value for status: 2147483648 (out of range 0..255)\n"
            "bad value for status: 256 (out of range 0..255)\n"
            "bad value for status: -1 (out of range 0..255)\n"
            "bad value for opened: 2021-02-30 (not a date (YYYY-MM-DD))\n"
            "bad value for opened: yesterday (not a date (YYYY-MM-DD))\n"
            "bad value for opened: 0 (out of range 1..3652059)\n"
            "buffered insert on exdep010001\ncommitted\nexdep010001: 1 rows\n"
            "exdep010001: Refcntd=0 Refcntu=0 budget=12.25 code=\"B\" name=\"unnamed\" "
            "opened=2024-02-29 status=3\nlogged off\n");
  EXPECT_NE(status, 0);
}

TEST_F(HostRecords, DemoScriptRunsToItsEnd) {
  int status = 0;
  std::string out = Run(std::string(MOLVANE_SOURCE_DIR) + "/scripts/demo.script", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("aborted\nexdep010001: Refcntd=0 Refcntu=0 budget=1200.50 code=\"SALES\" "
                     "name=\"Sales\""),
            std::string::npos)
      << out;
  // The references on the one driver: a refused orphan, then a cascade that
  // takes an employee and its count; the SQL steps: a join, a grouped query,
  // counts of an UPDATE and a DELETE.
  for (const char *part : {"failed with error 606 (reference does not exist) on exemp010001: "
                           "Reference does not exist: exemp010.dept->exdep010.code [LEGAL]\n",
                           "committed\nerror 111 (no record found): No record found in exemp010001 "
                           "(db_eq on index 1, key emp = 4)\nexdep010001: Refcntd=2 Refcntu=2",
                           "3             \"Cid\"          \"People\"\n",
                           "\"SALES\"        2       5500.00\n", "2 rows updated\n",
                           "2 rows deleted\n", "retried staff\n"})
    EXPECT_NE(out.find(part), std::string::npos) << part << "\n" << out;
}

// A table with references is cleared or dropped by a batch that does the
// reference work of each row: refused for a row that another transaction
// of the program holds, its error names the row and its holder, as a
// refused write of that row does.
TEST_F(HostRecords, RefusedClearOfATableWithReferencesNamesTheRowAndItsHolder) {
  int status = 0;
  const std::string out = RunText(
      "logon demo\nstart t\ntable create exdep010 1\ninsert exdep010 1 code=A\ncommit\n"
      "lockread exdep010 1 code=A\nstart u\n! table clear exdep010 1\n! table drop exdep010 1\nabort\nlogoff\n",
      &status);
  for (const char *action : {"clear table (action 9)", "drop table (action 10)"})
    EXPECT_NE(out.find(std::string("error 107 (record locked): Record is locked in exdep010001: ") + action +
                       " of row 1: the row code = A is held by session 1 (\"t\") of this host\n"),
              std::string::npos)
        << out;
}

}  // namespace
