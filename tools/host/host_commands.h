// The command language of molvane-host: one command a line, read from a
// script or standard input; "#" starts a comment line.
//
//   init [PROGRAM]          zdb_init_api (done before the first logon if not given)
//   logon USER              zdb_logon
//   logoff                  zdb_logoff
//   start NAME              zdb_start_session; prints the transaction id
//   stop ID                 zdb_stop_session
//   timeout ID SECONDS      zdb_set_default_query_timeout
//   action row|table|db N   the name of an action code
//   user                    the user record
//   msg                     the message text of the last call
//   echo TEXT               prints the text
//   table create|drop|clear|count|lock TABLE COMPNR
//   insert|update|delete|read|lockread TABLE COMPNR COLUMN=VALUE...
//   flush | commit | abort  on the transaction started last
//   sql prepare|bind|exec|fetch|run|save|retry|break|close|timeout|rows ...
//                           SQL statements in the transaction started last
//                           (host_sql.h)
//
// Every command prints one line: its result, or "error N (name): text" with
// zdb_errno, its name and the library's message text. Commands that work on
// the database (start, stop, timeout, the record and SQL commands) need a
// logon first.
#pragma once

#include <cstdio>
#include <string>

#include "host_records.h"
#include "host_sql.h"

namespace molvane::host {

class HostSession {
 public:
  explicit HostSession(std::FILE *out) : out_(out), records_(out), sql_(out) {}
  // Runs one command line; false when it failed.
  bool Run(const std::string &line);
  // Runs every line of the input; the number of failed commands.
  int RunAll(std::FILE *in);

 private:
  bool EnsureInit();
  bool Fail();
  // False, with the error, when no logon is in force.
  bool NeedLogon();
  std::FILE *out_;
  bool initialised_ = false;
  bool logged_on_ = false;
  RecordCommands records_;
  SqlCommands sql_;
  int trans_ = 0;  // the transaction started last
};

}  // namespace molvane::host
