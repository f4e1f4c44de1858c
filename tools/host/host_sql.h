// SQL commands of molvane-host, through the classic SQL API (<molvane/sql.h>)
// only. Statements have names given by the script; each runs in the
// transaction started last (its id is the SQL session).
//
//   sql prepare S TEXT...        sql_parse; prints "prepared S: select"
//   sql prepare S --ansi TEXT... the same in the ANSI mode (SQL_PARSE_ANSI)
//   sql bind S NAME TYPE VALUE   sql_bind_input of int, real, string, raw (hex),
//                                date (YYYY-MM-DD) or time (YYYY-MM-DDTHH:MM:SS)
//   sql exec S COMPNR            sql_exec; an UPDATE or DELETE prints its count
//   sql fetch S [N]              fetches every row (at most N), printed as a
//                                table under the column names, then "(K rows)"
//   sql run COMPNR TEXT...       prepare, exec, fetch all, close in one step
//   sql save S | retry S         sql_save_rpoint | sql_retry
//   sql break S | close S        sql_break | sql_close
//   sql timeout S SECONDS        sql_set_timeout
//
// Values reach the host through the library's callbacks: each select item
// gets a column of the statement, whose cells the put-value callback fills
// row by row.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct QPCStatement;

namespace molvane::host {

struct SqlColumn;

class SqlCommands {
 public:
  explicit SqlCommands(std::FILE *out);
  ~SqlCommands();
  SqlCommands(const SqlCommands &) = delete;
  SqlCommands &operator=(const SqlCommands &) = delete;

  // Runs "sql ..." (w[0] is "sql") in session `session`; false when it failed.
  bool Run(const std::vector<std::string> &w, const std::string &line, int session);
  // Closes every statement (at logoff: the session's statements end with it).
  void CloseAll();

  // One prepared statement and the columns its select items were given.
  struct Statement {
    QPCStatement *handle = nullptr;
    std::vector<std::unique_ptr<SqlColumn>> columns;  // in the order the library asked
    std::vector<SqlColumn *> row;                     // the columns of the row being fetched
  };

 private:
  bool Prepare(const std::string &name, const std::string &text, int session, int flags = 0);
  bool Bind(Statement &s, const std::vector<std::string> &w);
  bool Exec(Statement &s, const std::string &name, int compnr);
  bool Fetch(Statement &s, long limit);
  bool Close(const std::string &name);
  // The error of the last call: "error N (name): text; SQLState ..." with
  // the handle's text, or the error callback's when there is no handle.
  bool Fail(QPCStatement *handle);
  bool Usage(const std::string &line);

  std::FILE *out_;
  std::map<std::string, Statement> statements_;
};

}  // namespace molvane::host
