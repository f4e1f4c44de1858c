// Record commands of molvane-host: table actions, buffered inserts, updates
// and deletes, keyed reads, flush, commit, abort and the details of a
// failed update on the tables of the
// dictionary, with column values given as name=value.
//
// The commands use the exported record-level API only: a cursor per table
// and transaction on a row buffer of the host, the row actions (inserts,
// updates and deletes are buffered until a flush or commit; an update or
// delete first reads the row with a delayed lock), table actions and
// transaction actions.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <molvane/dd.h>

struct ZDB_CURSOR;

namespace molvane::host {

class RecordCommands {
 public:
  explicit RecordCommands(std::FILE *out) : out_(out) {}
  // Runs a record command of transaction `trans`. 1 done, 0 failed, -1 not
  // a record command.
  int Run(const std::vector<std::string> &words, int trans);
  // True for the words that Run takes as a record command.
  static bool IsRecordCommand(const std::string &word);

 private:
  bool Table(const std::vector<std::string> &w, int trans);
  bool Change(const std::vector<std::string> &w, int trans);
  bool Read(const std::vector<std::string> &w, int trans);
  bool EndTransaction(bool commit, int trans);
  bool Flush(int trans);
  bool Detail(int trans);
  // The cursor of a table in the transaction, on host_row_.
  ZDB_CURSOR *Cursor(const std::string &table, int trans);
  // Applies the name=value assignments from w[first] on to `row`; with
  // `defaults` the row starts as the table's default row.
  // A value that does not convert exactly to its column is refused with a
  // line naming the column, the value and the reason; nothing is assigned.
  bool Assign(const DD_TABLE *table, const std::vector<std::string> &w, std::size_t first,
              bool defaults, unsigned char *row);
  // True when every name=value from w[first] on names a key column of
  // index 1, the index a read looks the row up by; else a line says which
  // column is not one and names the key columns.
  bool OnlyKeyColumns(const DD_TABLE *table, const std::vector<std::string> &w,
                      std::size_t first);
  void Print(const DD_TABLE *table, const unsigned char *row);
  bool Fail();
  bool Usage(const std::string &command);

  std::FILE *out_;
  std::map<std::pair<std::string, int>, ZDB_CURSOR *> cursors_;  // by table and transaction
  unsigned char host_row_[8192] = {};
};

}  // namespace molvane::host
