#include "host_records.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <molvane/datetime.h>
#include <molvane/zdb.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_detail.h>

#include "dbc/action_codes.h"
#include "dbc/dd.h"
#include "dbc/rds.h"
#include "dbc/zdb_cursor.h"
#include "dbc/zdb_exec.h"
#include "dbc/zdb_server.h"
#include "dbc/zdb_trans.h"
#include "platform/mal.h"
#include "platform/numbers.h"

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

// Writes a value given as text into one element of a column.
bool SetValue(const DD_COLUMN *c, unsigned char *p, const std::string &text) {
  int size = c->length / (c->depth > 0 ? c->depth : 1);
  long n = 0;
  switch (c->type) {
    case DDT_FLOAT: float_in(qelt_atof(text.c_str()), p); return true;
    case DDT_DOUBLE: double_in(qelt_atof(text.c_str()), p); return true;
    case DDT_STRING: case DDT_MBSTRING:
      if (static_cast<int>(text.size()) > size) return false;
      std::memset(p, ' ', size);
      std::memcpy(p, text.data(), text.size());
      return true;
    case DDT_RAW:
      if (static_cast<int>(text.size()) > 2 * size) return false;
      std::memset(p, 0, size);
      return hex_to_raw(p, text.c_str(), static_cast<int>(text.size())) >= 0;
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
      std::string hex(2 * size, '0');
      raw_to_hex(hex.data(), p, size);
      return hex;
    }
    default: return std::to_string(GetBe(p, size));
  }
}

std::vector<unsigned char> Record(std::uint32_t kind, const std::vector<unsigned char> &row) {
  std::vector<unsigned char> record(ZDB_ACTION_HEADER + row.size(), 0);
  PutBe(record.data(), kind, 4);
  std::copy(row.begin(), row.end(), record.begin() + ZDB_ACTION_HEADER);
  return record;
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

ZDB_INTERNAL_CURSOR *RecordCommands::Cursor(const std::string &table, int compnr, int trans) {
  ZDB_CURSOR *&cursor = cursors_[{table, trans}];
  if (cursor == nullptr && zdb_open(&cursor, table.c_str(), compnr, host_row_, 0, trans) != 0) {
    cursor = nullptr;
    return nullptr;
  }
  ZDB_INTERNAL_CURSOR *ic = nullptr;
  return zdb_get_internal_cursor(&ic, cursor, compnr) == 0 ? ic : nullptr;
}

bool RecordCommands::BuildRow(const DD_TABLE *table, const std::vector<std::string> &w,
                              std::size_t first, std::vector<unsigned char> *row,
                              std::vector<std::string> *named) {
  std::vector<unsigned char> full(table->row_length, 0);
  fill_default_row(table, full.data());
  for (std::size_t i = first; i < w.size(); ++i) {
    std::size_t eq = w[i].find('=');
    if (eq == std::string::npos) {
      std::fprintf(out_, "bad value: %s\n", w[i].c_str());
      return false;
    }
    std::string name = std::string(table->name, 8) + "." + w[i].substr(0, eq);
    DD_COLUMN *c = ddcolumn(name.c_str());
    if (c == nullptr || !SetValue(c, full.data() + c->offset, w[i].substr(eq + 1))) {
      std::fprintf(out_, "bad value: %s\n", w[i].c_str());
      return false;
    }
    named->push_back(w[i].substr(0, eq));
  }
  row->assign(full.begin(), full.begin() + table->dlock_offset);
  return true;
}

bool RecordCommands::Fetch(ZDB_INTERNAL_CURSOR *ic, const DD_TABLE *table, int compnr,
                           const std::vector<unsigned char> &probe, std::vector<unsigned char> *row) {
  std::vector<unsigned char> buf(DD_MAX_ROW_LENGTH, 0);
  DD_KEY *key = key_desc(table, 1);
  if (key == nullptr) return false;
  zdb_extract_key(buf.data(), probe.data(), key);
  auto length = static_cast<std::uint16_t>(_zdb_key_size(key->parts));
  if (flush_updates(ic->tsession->session) != 0) return false;
  if (zdb_do_exec_read_eq(ic->company->read, 0, buf.data(), &length, buf.size(), nullptr, compnr) != 0)
    return false;
  buf.resize(table->dlock_offset);
  *row = buf;
  return true;
}

void RecordCommands::Print(const DD_TABLE *table, const std::vector<unsigned char> &row) {
  DD_COLUMN **columns = sort_columns_by_offset(table, nullptr);
  std::string line;
  for (DD_COLUMN **c = columns; c && *c; ++c) {
    if ((*c)->offset + (*c)->length > row.size()) continue;
    const char *dot = std::strchr((*c)->name, '.');
    line += std::string(line.empty() ? "" : " ") + (dot ? dot + 1 : (*c)->name) + "=" +
            ValueText(*c, row.data() + (*c)->offset);
  }
  mal_free(columns);
  std::fprintf(out_, "%s\n", line.c_str());
}

bool RecordCommands::Table(const std::vector<std::string> &w, int trans) {
  long compnr = 0;
  if (w.size() != 4 || !ToInt(w[3], &compnr)) return Usage(w[0]);
  static const std::map<std::string, int> kActions = {
      {"create", create_table}, {"drop", drop_table}, {"clear", clear_table}, {"count", nr_rows}};
  auto action = kActions.find(w[1]);
  if (action == kActions.end()) return Usage(w[0]);
  ZDB_INTERNAL_CURSOR *ic = Cursor(w[2], static_cast<int>(compnr), trans);
  std::uint32_t argument = 0;
  if (ic == nullptr || zdb_do_exec_table(ic, table_action_word(action->second), &argument) != 0)
    return Fail();
  if (action->second == nr_rows)
    std::fprintf(out_, "%s%03ld: %u rows\n", w[2].c_str(), compnr, argument);
  else
    std::fprintf(out_, "%s%03ld: %s\n", w[2].c_str(), compnr, zdb_table_action(action->second));
  return true;
}

bool RecordCommands::Change(const std::vector<std::string> &w, int trans) {
  long compnr = 0;
  if (w.size() < 3 || !ToInt(w[2], &compnr)) return Usage(w[0]);
  const DD_TABLE *table = ddtable(w[1].c_str());
  if (table == nullptr) return Fail();
  ZDB_INTERNAL_CURSOR *ic = Cursor(w[1], static_cast<int>(compnr), trans);
  if (ic == nullptr) return Fail();
  std::vector<unsigned char> row;
  std::vector<std::string> named;
  if (!BuildRow(table, w, 3, &row, &named)) return false;
  int rc = 0;
  if (w[0] == "insert") {
    rc = zdb_do_exec_row(ic, Record(RDS_ACT_INSERT, row).data(), 0, 0);
  } else {
    std::vector<unsigned char> stored;
    if (!Fetch(ic, table, static_cast<int>(compnr), row, &stored)) return Fail();
    if (w[0] == "delete") {
      rc = zdb_do_exec_row(ic, Record(RDS_ACT_DELETE, stored).data(), 0, 0);
    } else {
      // The named columns change; the others keep their stored values.
      std::vector<unsigned char> changed = stored;
      for (const std::string &name : named) {
        DD_COLUMN *c = ddcolumn((std::string(table->name, 8) + "." + name).c_str());
        std::memcpy(changed.data() + c->offset, row.data() + c->offset, c->length);
      }
      rc = zdb_do_exec_row(ic, Record(RDS_ACT_UPDATE_OLD, stored).data(), 0, 0);
      if (rc == 0) rc = zdb_do_exec_row(ic, Record(RDS_ACT_UPDATE_NEW, changed).data(), 0, 0);
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
  ZDB_INTERNAL_CURSOR *ic = Cursor(w[1], static_cast<int>(compnr), trans);
  if (ic == nullptr) return Fail();
  std::vector<unsigned char> probe, row;
  std::vector<std::string> named;
  if (!BuildRow(table, w, 3, &probe, &named)) return false;
  if (!Fetch(ic, table, static_cast<int>(compnr), probe, &row)) return Fail();
  std::fprintf(out_, "%s%03ld: ", w[1].c_str(), compnr);
  Print(table, row);
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
  ZDB_TRANS *t = zdb_get_trans_by_id(trans);
  if (t == nullptr) return Fail();
  if (t->sessions != nullptr && flush_updates(t->sessions) != 0) return Fail();
  std::fprintf(out_, "flushed\n");
  return true;
}

bool RecordCommands::EndTransaction(bool commit, int trans) {
  ZDB_TRANS *t = zdb_get_trans_by_id(trans);
  if (t == nullptr) return Fail();
  if (commit && t->sessions != nullptr && flush_updates(t->sessions) != 0) return Fail();
  for (ZDB_SESSION *s = t->sessions; s != nullptr; s = s->next_in_trans) {
    if (!commit) {
      // An abort drops what is still buffered.
      for (ZDB_TABLE_SESSION *ts = s->table_sessions; ts != nullptr; ts = ts->next)
        for (ZDB_INTERNAL_CURSOR *ic : {ts->open, ts->waiting})
          if (ic != nullptr && ic->company->updates != nullptr)
            for (RDS *rds : ic->company->updates->rds) rds_reset(rds, 0);
    }
    if (!zdb_server_attached(s->server)) continue;
    if (zdb_do_exec_db(s, db_action_word(commit ? commit_trans : abort_trans)) != 0) return Fail();
  }
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
