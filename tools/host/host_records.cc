#include "host_records.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <molvane/datetime.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_detail.h>

#include "host_errors.h"
#include "host_values.h"

namespace molvane::host {

namespace {

bool ToInt(const std::string &text, long *value) {
  char *end = nullptr;
  *value = std::strtol(text.c_str(), &end, 10);
  return end != text.c_str() && *end == '\0';
}

// The stored columns of a table in row-offset order.
std::vector<const DD_COLUMN *> StoredColumns(const DD_TABLE *table) {
  std::vector<const DD_COLUMN *> columns;
  for (int i = 0; i < table->column_count; ++i) {
    const DD_COLUMN *c = &table->columns[i];
    if (c->type != DDT_COMBINED && !(c->flags & DDF_NOT_STORED)) columns.push_back(c);
  }
  std::stable_sort(columns.begin(), columns.end(),
                   [](const DD_COLUMN *a, const DD_COLUMN *b) { return a->offset < b->offset; });
  return columns;
}

// A column's name without its table ("code" of "exdep010.code").
std::string ShortName(const DD_COLUMN *c) {
  const char *dot = std::strchr(c->name, '.');
  return dot != nullptr ? dot + 1 : c->name;
}

// The columns whose values make the key of index `index_nr`, in key order:
// a combined part stands for its members. Empty when the table has no such
// index.
std::vector<const DD_COLUMN *> KeyColumns(const DD_TABLE *table, int index_nr) {
  std::vector<const DD_COLUMN *> columns;
  for (int k = 0; k < table->key_count; ++k) {
    const DD_KEY &key = table->keys[k];
    if (key.index_nr != index_nr || key.parts == nullptr) continue;
    for (DD_COLUMN **part = key.parts; *part != nullptr; ++part) {
      if ((*part)->type != DDT_COMBINED || (*part)->members == nullptr) {
        columns.push_back(*part);
        continue;
      }
      for (DD_COLUMN **member = (*part)->members; *member != nullptr; ++member)
        columns.push_back(*member);
    }
  }
  return columns;
}

}  // namespace

bool RecordCommands::Usage(const std::string &command) {
  std::fprintf(out_, "bad arguments: %s\n", command.c_str());
  return false;
}

bool RecordCommands::Fail() {
  // A failed buffered update (520): the library's message names the table,
  // the update's own error and the driver's text of it.
  return PrintError(out_, zdb_errno);
}

ZDB_CURSOR *RecordCommands::Cursor(const std::string &table, int trans) {
  ZDB_CURSOR *&cursor = cursors_[{table, trans}];
  if (cursor == nullptr && zdb_open(&cursor, table.c_str(), 0, host_row_, 0, trans) != 0)
    cursor = nullptr;
  return cursor;
}

bool RecordCommands::Assign(const DD_TABLE *table, const std::vector<std::string> &w,
                            std::size_t first, bool defaults, unsigned char *row) {
  if (defaults) {
    if (table->default_row != nullptr)
      std::memcpy(row, table->default_row, table->row_length);
    else
      std::memset(row, 0, table->row_length);
  }
  for (std::size_t i = first; i < w.size(); ++i) {
    std::size_t eq = w[i].find('=');
    if (eq == std::string::npos) {
      std::fprintf(out_, "bad value: %s\n", w[i].c_str());
      return false;
    }
    std::string column = w[i].substr(0, eq);
    std::string name = std::string(table->name, 8) + "." + column;
    DD_COLUMN *c = ddcolumn(name.c_str());
    if (c == nullptr) {
      std::fprintf(out_, "bad value: %s: %.8s has no column %s\n", w[i].c_str(), table->name,
                   column.c_str());
      return false;
    }
    std::string why = SetValue(c, row + c->offset, w[i].substr(eq + 1));
    if (!why.empty()) {
      std::fprintf(out_, "bad value for %s: %s (%s)\n", column.c_str(),
                   w[i].substr(eq + 1).c_str(), why.c_str());
      return false;
    }
  }
  return true;
}

void RecordCommands::Print(const DD_TABLE *table, const unsigned char *row) {
  std::string line;
  for (const DD_COLUMN *c : StoredColumns(table)) {
    if (c->offset + c->length > table->dlock_offset) continue;
    const char *dot = std::strchr(c->name, '.');
    line += std::string(line.empty() ? "" : " ") + (dot ? dot + 1 : c->name) + "=" +
            ValueText(c, row + c->offset);
  }
  std::fprintf(out_, "%s\n", line.c_str());
}

bool RecordCommands::Table(const std::vector<std::string> &w, int trans) {
  long compnr = 0;
  if (w.size() != 4 || !ToInt(w[3], &compnr)) return Usage(w[0]);
  static const std::map<std::string, int> kActions = {
      {"create", create_table}, {"drop", drop_table}, {"clear", clear_table}, {"count", nr_rows},
      {"lock", lock_table}};
  auto action = kActions.find(w[1]);
  if (action == kActions.end()) return Usage(w[0]);
  ZDB_CURSOR *cursor = Cursor(w[2], trans);
  int argument = 0;
  if (cursor == nullptr ||
      zdb_exec_table(cursor, action->second, &argument, static_cast<int>(compnr)) != 0)
    return Fail();
  if (action->second == nr_rows)
    std::fprintf(out_, "%s%03ld: %u rows\n", w[2].c_str(), compnr, static_cast<unsigned>(argument));
  else
    std::fprintf(out_, "%s%03ld: %s\n", w[2].c_str(), compnr, zdb_table_action(action->second));
  return true;
}

bool RecordCommands::Change(const std::vector<std::string> &w, int trans) {
  long compnr = 0;
  if (w.size() < 3 || !ToInt(w[2], &compnr)) return Usage(w[0]);
  // The cursor first: a table missing from the dictionary fails its open
  // with a message that names the table and the folder looked in.
  ZDB_CURSOR *cursor = Cursor(w[1], trans);
  if (cursor == nullptr) return Fail();
  const DD_TABLE *table = ddtable(w[1].c_str());
  if (table == nullptr) return Fail();
  auto number = static_cast<int>(compnr);
  std::vector<unsigned char> row(table->row_length);
  if (!Assign(table, w, 3, true, row.data())) return false;
  std::memcpy(host_row_, row.data(), row.size());
  int rc;
  if (w[0] == "insert") {
    rc = zdb_exec_row(cursor, db_insert_51, 0, number);
  } else {
    // The stored row is read with a delayed lock: the change carries the
    // image read, and the driver refuses it when the row changed since.
    if (zdb_exec_row(cursor, db_eq_delayed, 0, number) != 0) return Fail();
    if (w[0] == "delete") {
      rc = zdb_exec_row(cursor, db_delete_51, 0, number);
    } else {
      // The named columns change; the others keep their stored values.
      if (!Assign(table, w, 3, false, host_row_)) return false;
      rc = zdb_exec_row(cursor, db_update_51, 0, number);
    }
  }
  if (rc != 0) return Fail();
  std::fprintf(out_, "buffered %s on %s%03ld\n", w[0].c_str(), w[1].c_str(), compnr);
  return true;
}

bool RecordCommands::Read(const std::vector<std::string> &w, int trans) {
  long compnr = 0;
  if (w.size() < 3 || !ToInt(w[2], &compnr)) return Usage(w[0]);
  // The cursor first: a table missing from the dictionary fails its open
  // with a message that names the table and the folder looked in.
  ZDB_CURSOR *cursor = Cursor(w[1], trans);
  if (cursor == nullptr) return Fail();
  const DD_TABLE *table = ddtable(w[1].c_str());
  if (table == nullptr) return Fail();
  std::vector<unsigned char> row(table->row_length);
  if (!Assign(table, w, 3, true, row.data())) return false;
  if (!OnlyKeyColumns(table, w, 3)) return false;
  std::memcpy(host_row_, row.data(), row.size());
  // "lockread" locks the row for the transaction until it ends.
  int action = w[0] == "lockread" ? db_eq_locked : db_eq;
  if (zdb_exec_row(cursor, action, 0, static_cast<int>(compnr)) != 0) return Fail();
  std::fprintf(out_, "%s%03ld: ", w[1].c_str(), compnr);
  Print(table, host_row_);
  return true;
}

bool RecordCommands::OnlyKeyColumns(const DD_TABLE *table, const std::vector<std::string> &w,
                                    std::size_t first) {
  std::vector<const DD_COLUMN *> key = KeyColumns(table, 1);
  std::string names;
  for (const DD_COLUMN *c : key) names += (names.empty() ? "" : ", ") + ShortName(c);
  for (std::size_t i = first; i < w.size(); ++i) {
    std::string column = w[i].substr(0, w[i].find('='));
    bool in_key = false;
    for (const DD_COLUMN *c : key) in_key = in_key || ShortName(c) == column;
    if (in_key) continue;
    std::fprintf(out_,
                 "bad key: %s: %s is not a key column; %s reads %.8s by index 1, whose key "
                 "columns are %s\n",
                 w[i].c_str(), column.c_str(), w[0].c_str(), table->name, names.c_str());
    return false;
  }
  return true;
}

bool RecordCommands::Detail(int trans) {
  char table[9];
  int compnr = 0;
  const char *extra = nullptr;
  int error = zdb_get_detail_error(table, &compnr, &extra, trans);
  if (error < 0) return Fail();
  if (error == 0)
    std::fprintf(out_, "no failed update\n");
  else
    std::fprintf(out_, "update failed with error %d (%s) on %s%03d: %s\n", error,
                 zdberrorname(error) != nullptr ? zdberrorname(error) : zdberrorstr(error), table,
                 compnr, extra != nullptr ? extra : "");
  return true;
}

bool RecordCommands::Flush(int trans) {
  if (zdb_flush(trans) != 0) return Fail();
  std::fprintf(out_, "flushed\n");
  return true;
}

bool RecordCommands::EndTransaction(bool commit, int trans) {
  // A commit that fails anywhere aborts every driver session of the
  // transaction; an abort drops what is still buffered.
  if (zdb_exec_db(commit ? commit_trans : abort_trans, trans) != 0) return Fail();
  std::fprintf(out_, commit ? "committed\n" : "aborted\n");
  return true;
}

bool RecordCommands::IsRecordCommand(const std::string &w) {
  return w == "table" || w == "insert" || w == "update" || w == "delete" || w == "read" ||
         w == "lockread" || w == "flush" || w == "detail" || w == "commit" || w == "abort";
}

int RecordCommands::Run(const std::vector<std::string> &w, int trans) {
  const std::string &cmd = w[0];
  bool ok;
  if (cmd == "table") ok = Table(w, trans);
  else if (cmd == "insert" || cmd == "update" || cmd == "delete") ok = Change(w, trans);
  else if (cmd == "read" || cmd == "lockread") ok = Read(w, trans);
  else if (cmd == "flush" && w.size() == 1) ok = Flush(trans);
  else if (cmd == "detail" && w.size() == 1) ok = Detail(trans);
  else if ((cmd == "commit" || cmd == "abort") && w.size() == 1) ok = EndTransaction(cmd == "commit", trans);
  else return -1;
  return ok ? 1 : 0;
}

}  // namespace molvane::host
