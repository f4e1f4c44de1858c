#include "host_records.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <molvane/datetime.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_detail.h>

namespace molvane::host {

namespace {

bool ToInt(const std::string &text, long *value) {
  char *end = nullptr;
  *value = std::strtol(text.c_str(), &end, 10);
  return end != text.c_str() && *end == '\0';
}

void PutBe(unsigned char *p, long value, int size) {
  auto v = static_cast<unsigned long>(value);
  for (int i = 0; i < size; ++i) p[i] = static_cast<unsigned char>(v >> (8 * (size - 1 - i)));
}
long GetBe(const unsigned char *p, int size) {
  unsigned long v = 0;
  for (int i = 0; i < size; ++i) v = (v << 8) | p[i];
  if (size < static_cast<int>(sizeof v) && (p[0] & 0x80)) v |= ~0UL << (8 * size);
  return static_cast<long>(v);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex digits into raw bytes, zero-filled to `size`.
bool HexToRaw(const std::string &text, unsigned char *p, int size) {
  if (static_cast<int>(text.size()) > 2 * size) return false;
  std::memset(p, 0, size);
  for (std::size_t i = 0; i < text.size(); ++i) {
    int d = HexDigit(text[i]);
    if (d < 0) return false;
    p[i / 2] = static_cast<unsigned char>(p[i / 2] | (i % 2 == 0 ? d << 4 : d));
  }
  return true;
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

// Writes a value given as text into one element of a column.
bool SetValue(const DD_COLUMN *c, unsigned char *p, const std::string &text) {
  int size = c->length / (c->depth > 0 ? c->depth : 1);
  long n = 0;
  switch (c->type) {
    case DDT_FLOAT: float_in(std::strtod(text.c_str(), nullptr), p); return true;
    case DDT_DOUBLE: double_in(std::strtod(text.c_str(), nullptr), p); return true;
    case DDT_STRING: case DDT_MBSTRING:
      if (static_cast<int>(text.size()) > size) return false;
      std::memset(p, ' ', size);
      std::memcpy(p, text.data(), text.size());
      return true;
    case DDT_RAW:
      return HexToRaw(text, p, size);
    case DDT_COMBINED: return false;
    default:
      if (!ToInt(text, &n)) return false;
      PutBe(p, n, size);
      return true;
  }
}

std::string ValueText(const DD_COLUMN *c, const unsigned char *p) {
  int size = c->length / (c->depth > 0 ? c->depth : 1);
  char buf[64];
  switch (c->type) {
    case DDT_FLOAT: std::snprintf(buf, sizeof buf, "%g", float_out(p)); return buf;
    case DDT_DOUBLE: std::snprintf(buf, sizeof buf, "%.2f", double_out(p)); return buf;
    case DDT_STRING: case DDT_MBSTRING: {
      std::string s(reinterpret_cast<const char *>(p), size);
      s.erase(s.find_last_not_of(' ') + 1);
      return "\"" + s + "\"";
    }
    case DDT_RAW: {
      static const char kDigits[] = "0123456789abcdef";
      std::string hex;
      for (int i = 0; i < size; ++i) {
        hex += kDigits[p[i] >> 4];
        hex += kDigits[p[i] & 0xF];
      }
      return hex;
    }
    default: return std::to_string(GetBe(p, size));
  }
}

}  // namespace

bool RecordCommands::Usage(const std::string &command) {
  std::fprintf(out_, "bad arguments: %s\n", command.c_str());
  return false;
}

bool RecordCommands::Fail() {
  std::fprintf(out_, "error %d\n", zdb_errno);
  return false;
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
    std::string name = std::string(table->name, 8) + "." + w[i].substr(0, eq);
    DD_COLUMN *c = ddcolumn(name.c_str());
    if (c == nullptr || !SetValue(c, row + c->offset, w[i].substr(eq + 1))) {
      std::fprintf(out_, "bad value: %s\n", w[i].c_str());
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
      {"create", create_table}, {"drop", drop_table}, {"clear", clear_table}, {"count", nr_rows}};
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
  const DD_TABLE *table = ddtable(w[1].c_str());
  if (table == nullptr) return Fail();
  ZDB_CURSOR *cursor = Cursor(w[1], trans);
  if (cursor == nullptr) return Fail();
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
  const DD_TABLE *table = ddtable(w[1].c_str());
  if (table == nullptr) return Fail();
  ZDB_CURSOR *cursor = Cursor(w[1], trans);
  if (cursor == nullptr) return Fail();
  std::vector<unsigned char> row(table->row_length);
  if (!Assign(table, w, 3, true, row.data())) return false;
  std::memcpy(host_row_, row.data(), row.size());
  if (zdb_exec_row(cursor, db_eq, 0, static_cast<int>(compnr)) != 0) return Fail();
  std::fprintf(out_, "%s%03ld: ", w[1].c_str(), compnr);
  Print(table, host_row_);
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
    std::fprintf(out_, "update failed with %d on %s%03d: %s\n", error, table, compnr,
                 extra != nullptr ? extra : "");
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

int RecordCommands::Run(const std::vector<std::string> &w, int trans) {
  const std::string &cmd = w[0];
  bool ok;
  if (cmd == "table") ok = Table(w, trans);
  else if (cmd == "insert" || cmd == "update" || cmd == "delete") ok = Change(w, trans);
  else if (cmd == "read") ok = Read(w, trans);
  else if (cmd == "flush" && w.size() == 1) ok = Flush(trans);
  else if (cmd == "detail" && w.size() == 1) ok = Detail(trans);
  else if ((cmd == "commit" || cmd == "abort") && w.size() == 1) ok = EndTransaction(cmd == "commit", trans);
  else return -1;
  return ok ? 1 : 0;
}

}  // namespace molvane::host
