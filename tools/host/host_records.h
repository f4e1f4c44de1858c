// Record commands of molvane-host: table actions, buffered inserts, updates
// and deletes, keyed reads, flush, commit, abort and the details of a
// failed update on the tables of the
// dictionary, with column values given as name=value.
//
// Until the row actions of the record-level API exist, these commands call
// the client's request procedures directly (buffered actions, EXE_ROW_CNTR,
// EXE_TBL_CNTR, EXE_DB_CNTR), through cursors opened with zdb_open.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct ZDB_CURSOR;
struct ZDB_INTERNAL_CURSOR;
struct DD_TABLE;

namespace molvane::host {

class RecordCommands {
 public:
  explicit RecordCommands(std::FILE *out) : out_(out) {}
  // Runs a record command of transaction `trans`. 1 done, 0 failed, -1 not
  // a record command.
  int Run(const std::vector<std::string> &words, int trans);

 private:
  bool Table(const std::vector<std::string> &w, int trans);
  bool Change(const std::vector<std::string> &w, int trans);
  bool Read(const std::vector<std::string> &w, int trans);
  bool EndTransaction(bool commit, int trans);
  bool Flush(int trans);
  bool Detail(int trans);
  // The internal cursor of a table and company in the transaction.
  ZDB_INTERNAL_CURSOR *Cursor(const std::string &table, int compnr, int trans);
  // The table's default row with the name=value assignments applied.
  bool BuildRow(const DD_TABLE *table, const std::vector<std::string> &w, std::size_t first,
                std::vector<unsigned char> *row, std::vector<std::string> *named);
  // The stored row of the key in `row`; false with zdb_errno set.
  bool Fetch(ZDB_INTERNAL_CURSOR *ic, const DD_TABLE *table, int compnr,
             const std::vector<unsigned char> &probe, std::vector<unsigned char> *row);
  void Print(const DD_TABLE *table, const std::vector<unsigned char> &row);
  bool Fail();
  bool Usage(const std::string &command);

  std::FILE *out_;
  std::map<std::pair<std::string, int>, ZDB_CURSOR *> cursors_;  // by table and transaction
  unsigned char host_row_[8192] = {};
};

}  // namespace molvane::host
