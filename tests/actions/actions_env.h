// The environment of the action tests: the fixture dictionary and three
// reference drivers as child processes, each on its own database file:
//   msqlite  exdep, exemp (except company 5) and everything else
//   msqltwo  tttxt, and exemp010 in company 5
//   msqlaud  ttaud (the transaction-notification rows)
//   audit    the audit copy of exdep010 in company 900; its commit replies
//            list the tables each transaction changed
// A driver that dies is counted rather than ending the test process.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <molvane/dd.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>

#include "support/test_env.h"

struct ZDB_INTERNAL_CURSOR;
struct ZDB_SERVER;

namespace molvane::test {

class ActionsTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The driver map (lib/tabledef1) that SetUp writes.
  virtual std::string TableDefs() const;

  // Logs on and starts transaction "actions" (trans_).
  void Logon();
  // A cursor on `table` in transaction `trans` (0: trans_) on row_ (no binds).
  ZDB_CURSOR *Open(const char *table, int trans = 0);
  // Creates the tables in the companies and commits.
  void Create(const char *table, std::vector<int> companies);

  // The table's default row with text columns set: {"code", "A"}, ...
  std::vector<unsigned char> Row(const char *table,
                                 std::vector<std::pair<const char *, std::string>> texts) const;
  // Puts a row into row_ (the cursor's row buffer).
  void Load(const std::vector<unsigned char> &row);
  // A text column of row_ without its trailing blanks.
  std::string Text(const char *table, const char *column) const;
  // The company-number field of row_ for a table.
  int RowCompnr(const char *table) const;

  // Inserts and commits rows (text columns) of a table in a company.
  void Seed(const char *table, int compnr,
            std::vector<std::vector<std::pair<const char *, std::string>>> rows);
  // Reads the row of the key in row_ in a fresh transaction; 0 or the error.
  int ReadIn(const char *table, int compnr, std::vector<std::pair<const char *, std::string>> key);

  // Runs molvane-host on the environment with a script; its standard output.
  std::string RunHost(const std::string &script) const;

  // The internal cursor of a cursor for a company.
  static ZDB_INTERNAL_CURSOR *Chain(ZDB_CURSOR *cursor, int compnr);
  static ZDB_SERVER *ServerOf(ZDB_INTERNAL_CURSOR *ic);

  ScratchDir root_;
  int trans_ = 0;
  unsigned char row_[2048] = {};
};

// Number of driver deaths seen since SetUp.
int DriverDeaths();

}  // namespace molvane::test
