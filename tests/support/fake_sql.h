// A small stand-in for the classic sql_* API that answers the SELECT
// statements the database client generates (set reads and reference
// lookups) from rows kept in memory: it parses the text, binds the
// parameters, filters, orders and limits the rows, and delivers each row
// through host callbacks 5 and 7 in the field forms of the real API.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include <molvane/sql.h>

struct DD_TABLE;
struct DBC_SQL_CALLS;

namespace molvane::test {

class FakeSql {
 public:
  FakeSql();   // installs itself as the client's sql_* calls
  ~FakeSql();  // puts the library's own back
  FakeSql(const FakeSql &) = delete;
  FakeSql &operator=(const FakeSql &) = delete;

  // Rows of a table in a company (row images of the table's layout).
  void Put(const DD_TABLE *table, int compnr, const unsigned char *row);
  void Clear() { rows_.clear(); }
  std::vector<std::vector<unsigned char>> &Rows(const std::string &table, int compnr) {
    return rows_[{table, compnr}];
  }

  // What the client asked.
  std::vector<std::string> parsed;  // texts of sql_parse, in order
  int executes = 0, fetches = 0, breaks = 0, closes = 0;
  int open_statements = 0;
  // Callbacks as installed through init_func.
  sql_func slots[9] = {};

  static FakeSql *current;

 private:
  std::map<std::pair<std::string, int>, std::vector<std::vector<unsigned char>>> rows_;
  const DBC_SQL_CALLS *previous_ = nullptr;
};

}  // namespace molvane::test
