// Buffered inserts through EXE_UPDATE and keyed reads through EXE_ROW_CNTR
// against the reference driver (loaded in process), each beside the same
// work done directly on SQLite in this process, on a table of the same
// columns and indexes, growing alike. Both report `ratio`: molvane's time
// divided by SQLite's for the same rows in the same iteration.
// MOLVANE_BENCH_BUSY=N runs N processes that keep a processor busy beside
// the benchmark for the whole run, as on a loaded server.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_cursor.h>

#include "dbc/actions/action_codes.h"
#include "dbc/dict/dd.h"
#include "dbc/request/rds.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/session/zdb_trans.h"
#include "bench_env.h"

namespace {

const molvane::bench::BusyProcesses busy;

constexpr int kBatch = 1000;
// The rows BM_KeyedReads reads at least.
constexpr int kFilledRows = 20 * kBatch;

// A logged-on client with a cursor on exemp010 in company 1 of a fresh root.
struct Client {
  std::string root;
  DD_TABLE *table = nullptr;
  ZDB_INTERNAL_CURSOR *ic = nullptr;
  std::vector<unsigned char> image;
  int next = 1;
  unsigned char host_row[DD_MAX_ROW_LENGTH] = {};

  Client() {
    root = molvane::bench::MakeRoot(molvane::bench::InProcessDriver());
    set_zuv(root.c_str());
    zdb_init_api("update_bench", nullptr, 0, 0);
    zdb_logon("bench");
    int trans = zdb_start_session("bench");
    ZDB_CURSOR *cursor = nullptr;
    zdb_open(&cursor, "exemp010", 1, host_row, 0, trans);
    zdb_get_internal_cursor(&ic, cursor, 1);
    table = ddtable("exemp010");
    std::uint32_t argument = 0;
    zdb_do_exec_table(ic, table_action_word(create_table), &argument);
    image.assign(table->dlock_offset, 0);
    fill_default_row(table, image.data());
  }
  ~Client() {
    zdb_logoff();
    if (!getenv("KEEP_BENCH_ROOT")) std::filesystem::remove_all(root);
  }
  // Sets the key of a row image (by default the client's own).
  void SetKey(int emp, unsigned char *row = nullptr) {
    static DD_COLUMN *const c = ddcolumn("exemp010.emp");
    if (row == nullptr) row = image.data();
    for (int i = 0; i < 4; ++i) row[c->offset + i] = static_cast<unsigned char>(emp >> (24 - 8 * i));
  }
  ZDB_SESSION *session() { return ic->tsession->session; }
};

Client &client() {
  static Client c;
  return c;
}

// SQLite on its own: the table the driver made for exemp010 (its columns
// and an index over each key's columns, as a user would write them by hand:
// in SQLite's own byte order, no collated index), a prepared insert and a
// keyed select.
struct Direct {
  sqlite3 *db = nullptr;
  std::string path = "/tmp/molvane-bench-direct.db";
  Direct() {
    std::remove(path.c_str());
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3 *driver = nullptr;
    sqlite3_open_v2((client().root + "/bench.db").c_str(), &driver, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *schema = nullptr;
    sqlite3_prepare_v2(driver,
                       "SELECT name, sql FROM sqlite_master WHERE tbl_name LIKE 'exemp010%' AND sql IS NOT NULL "
                       "ORDER BY type = 'index'",
                       -1, &schema, nullptr);
    std::string table;
    while (sqlite3_step(schema) == SQLITE_ROW) {
      std::string sql = reinterpret_cast<char const *>(sqlite3_column_text(schema, 1));
      if (table.empty()) table = reinterpret_cast<char const *>(sqlite3_column_text(schema, 0));
      // The same table under the name t; a key's text column in byte order.
      const std::string quoted = '"' + table + '"';
      for (std::size_t at; (at = sql.find(quoted)) != std::string::npos;) sql.replace(at, quoted.size(), 1, 't');
      for (std::size_t at; (at = sql.find("CAST(")) != std::string::npos;) {
        const std::size_t as = sql.find(" AS TEXT) COLLATE ", at);
        const std::size_t end = as == std::string::npos ? as : sql.find_first_of(",)", as + 18);
        if (end == std::string::npos) break;
        sql = sql.substr(0, at) + sql.substr(at + 5, as - at - 5) + sql.substr(end);
      }
      if (sql.find("COLLATE") != std::string::npos || sql.find("_c1_") != std::string::npos ||
          sql.find("_c2_") != std::string::npos)
        continue;
      sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    }
    sqlite3_finalize(schema);
    sqlite3_close(driver);
  }
  ~Direct() {
    sqlite3_close(db);
    std::remove(path.c_str());
  }
};

// SQLite's side of the insert benchmark: rows like molvane's through a
// prepared insert, one parameter per column of t (the image's bytes for a
// BLOB column, a number otherwise), emp numbered as the molvane rows are.
class DirectInserts {
 public:
  explicit DirectInserts(Client const &c) {
    sqlite3_stmt *info = nullptr;
    sqlite3_prepare_v2(d_.db, "SELECT name, type FROM pragma_table_info('t')", -1, &info, nullptr);
    std::string marks;
    while (sqlite3_step(info) == SQLITE_ROW) {
      std::string name = reinterpret_cast<char const *>(sqlite3_column_text(info, 0));
      Param p{std::string(reinterpret_cast<char const *>(sqlite3_column_text(info, 1))) == "BLOB", {}};
      if (p.blob) {
        DD_COLUMN *column = ddcolumn(("exemp010." + name).c_str());
        if (column != nullptr)
          p.bytes.assign(c.image.begin() + column->offset, c.image.begin() + column->offset + column->length);
      }
      if (name == "emp") empIndex_ = static_cast<int>(params_.size()) + 1;
      params_.push_back(std::move(p));
      marks += marks.empty() ? "?" : ",?";
    }
    sqlite3_finalize(info);
    sqlite3_prepare_v2(d_.db, ("INSERT INTO t VALUES (" + marks + ")").c_str(), -1, &insert_, nullptr);
  }
  ~DirectInserts() { sqlite3_finalize(insert_); }
  sqlite3 *Db() { return d_.db; }

  // kBatch rows in one transaction; false on an error.
  bool Batch() {
    bool ok = true;
    sqlite3_exec(d_.db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < kBatch; ++i) {
      sqlite3_reset(insert_);
      for (std::size_t col = 0; col < params_.size(); ++col) {
        int index = static_cast<int>(col) + 1;
        if (params_[col].blob)
          sqlite3_bind_blob(insert_, index, params_[col].bytes.data(), static_cast<int>(params_[col].bytes.size()),
                            SQLITE_STATIC);
        else
          sqlite3_bind_int(insert_, index, 7);
      }
      sqlite3_bind_int(insert_, empIndex_, emp_++);
      ok = sqlite3_step(insert_) == SQLITE_DONE && ok;
    }
    return sqlite3_exec(d_.db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK && ok;
  }

 private:
  struct Param {
    bool blob;
    std::vector<unsigned char> bytes;
  };
  Direct d_;
  std::vector<Param> params_;
  int empIndex_ = 0;
  sqlite3_stmt *insert_ = nullptr;
  int emp_ = 1;
};

// The SQLite table that receives the same rows as molvane's.
DirectInserts &direct() {
  static DirectInserts d(client());
  return d;
}

// Each iteration buffers kBatch inserts through EXE_UPDATE and commits
// them, then (untimed) inserts the same number of rows into SQLite in one
// transaction, so that both tables grow alike and both sides meet the same
// machine load. `anchor_ms` is SQLite's time per batch, `ratio` molvane's
// time over SQLite's, `speed` its inverse (the share of SQLite's speed).
// kBatch inserts of the next keys buffered through EXE_UPDATE and
// committed; `record` is the insert's action record (header and row image),
// filled in place, as a host fills its row buffer: only the key changes from
// row to row. False when the flush or the commit failed.
bool InsertBatch(Client &c, std::vector<unsigned char> &record) {
  for (int i = 0; i < kBatch; ++i) {
    c.SetKey(c.next++, record.data() + ZDB_ACTION_HEADER);
    zdb_do_exec_row(c.ic, record.data(), 0, 0);
  }
  return flush_updates(c.session()) == 0 && zdb_do_exec_db(c.session(), db_action_word(commit_trans)) == 0;
}

std::vector<unsigned char> InsertRecord(Client const &c) {
  std::vector<unsigned char> record(ZDB_ACTION_HEADER + c.image.size(), 0);
  record[3] = RDS_ACT_INSERT;
  std::copy(c.image.begin(), c.image.end(), record.begin() + ZDB_ACTION_HEADER);
  return record;
}

void BM_Inserts(benchmark::State &state) {
  Client &c = client();
  std::vector<unsigned char> record = InsertRecord(c);
  double own = 0, anchor = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    if (!InsertBatch(c, record)) state.SkipWithError("flush failed");
    auto middle = std::chrono::steady_clock::now();
    own += std::chrono::duration<double>(middle - start).count();
    state.PauseTiming();
    if (!direct().Batch()) state.SkipWithError("SQLite insert failed");
    anchor += std::chrono::duration<double>(std::chrono::steady_clock::now() - middle).count();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  state.counters["anchor_ms"] = 1000 * anchor / static_cast<double>(state.iterations());
  state.counters["ratio"] = own / anchor;
  state.counters["speed"] = anchor / own;
}

// Each iteration reads kBatch rows by their key through EXE_ROW_CNTR, then
// (untimed) the same keys from SQLite's table of the same rows (filled by
// BM_Inserts, or to kFilledRows rows when there are fewer), twice: once
// taking every column's value of the row found, as a caller must to have
// the row (`anchor_us`, the anchor of `ratio`), and once only stepping to it
// (`step_only_us`, the anchor of `ratio_step_only`). Times are per batch.
void BM_KeyedReads(benchmark::State &state) {
  Client &c = client();
  // Run alone (a filter, a comparison of one benchmark at a time), it first
  // fills both tables as BM_Inserts would, untimed.
  std::vector<unsigned char> record = InsertRecord(c);
  while (c.next - 1 < kFilledRows) {
    if (!InsertBatch(c, record) || !direct().Batch()) {
      state.SkipWithError("filling the tables failed");
      return;
    }
  }
  int const rows = c.next - 1;
  sqlite3_stmt *select = nullptr;
  sqlite3_prepare_v2(direct().Db(), "SELECT * FROM t WHERE emp = ?", -1, &select, nullptr);
  std::vector<unsigned char> key(DD_MAX_ROW_LENGTH);
  DD_KEY *k = key_desc(c.table, 1);
  int emp = 0;
  double own = 0, anchor = 0, step_only = 0;
  // SQLite's read of one row by its key; with `values`, every column's
  // value is taken in its stored type.
  auto direct_read = [&](int key_value, bool values) {
    sqlite3_reset(select);
    sqlite3_bind_int(select, 1, key_value);
    if (sqlite3_step(select) != SQLITE_ROW) return false;
    if (values) molvane::bench::TakeColumnValues(select);
    return true;
  };
  for (auto _ : state) {
    int first = emp;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) {
      c.SetKey(emp++ % rows + 1);
      zdb_extract_key(key.data(), c.image.data(), k);
      auto length = static_cast<std::uint16_t>(_zdb_key_size(k->parts));
      if (zdb_do_exec_read_eq(c.ic->company->read, 0, key.data(), &length, key.size(), nullptr, 1) != 0)
        state.SkipWithError("read failed");
    }
    auto middle = std::chrono::steady_clock::now();
    own += std::chrono::duration<double>(middle - start).count();
    state.PauseTiming();
    // The stepping pass goes first: the reading pass then finds the pages
    // it needs in the cache, which can only favour the anchor of `ratio`.
    for (int i = 0; i < kBatch; ++i)
      if (!direct_read((first + i) % rows + 1, false)) state.SkipWithError("SQLite read failed");
    auto done = std::chrono::steady_clock::now();
    step_only += std::chrono::duration<double>(done - middle).count();
    for (int i = 0; i < kBatch; ++i)
      if (!direct_read((first + i) % rows + 1, true)) state.SkipWithError("SQLite read failed");
    anchor += std::chrono::duration<double>(std::chrono::steady_clock::now() - done).count();
    state.ResumeTiming();
  }
  sqlite3_finalize(select);
  const auto iterations = static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations() * kBatch);
  state.counters["anchor_us"] = 1e6 * anchor / iterations;
  state.counters["step_only_us"] = 1e6 * step_only / iterations;
  state.counters["ratio"] = own / anchor;
  state.counters["ratio_step_only"] = own / step_only;
}

BENCHMARK(BM_Inserts)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KeyedReads)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
