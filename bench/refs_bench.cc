// A cascade delete on one driver: a department whose 1,000 employees
// cascade from it (exemp010.dcas) is deleted through zdb_exec_row, and the
// reference driver (loaded in process) deletes the employees with the
// department, doing each one's reference work. The anchor deletes the same
// rows directly in SQLite, in this process, from a copy of the driver's
// tables: one DELETE of the employees by their dcas and one of the
// department. `ratio` is molvane's time over SQLite's for the same rows.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>

#include "dbc/dict/dd.h"
#include "bench_env.h"

namespace {

constexpr int kChildren = 1000;

// A logged-on client on a fresh root whose tables all live on one driver.
struct Client {
  std::string root;
  int trans = 0;
  unsigned char row[DD_MAX_ROW_LENGTH] = {};

  Client() {
    root = molvane::bench::MakeRoot(molvane::bench::InProcessDriver());
    set_zuv(root.c_str());
    zdb_init_api("refs_bench", nullptr, 0, 0);
    zdb_logon("bench");
    trans = zdb_start_session("bench");
    for (const char *table : {"exdep010", "exemp010"}) {
      ZDB_CURSOR *cursor = Open(table);
      int argument = 0;
      zdb_exec_table(cursor, create_table, &argument, 1);
      zdb_close(cursor);
    }
    // The restricting reference of every employee holds department R.
    Insert("exdep010", {{"code", "R"}});
    Commit();
  }
  ~Client() {
    zdb_logoff();
    if (!getenv("KEEP_BENCH_ROOT")) std::filesystem::remove_all(root);
  }
  ZDB_CURSOR *Open(const char *table) {
    ZDB_CURSOR *cursor = nullptr;
    zdb_open(&cursor, table, 0, row, 0, trans);
    return cursor;
  }
  // The table's default row with text columns set.
  void Fill(const char *table, std::vector<std::pair<const char *, std::string>> texts) {
    const DD_TABLE *t = ddtable(table);
    std::memset(row, 0, t->row_length);
    fill_default_row(t, row);
    for (const auto &[column, text] : texts) {
      DD_COLUMN *c = ddcolumn((std::string(table) + "." + column).c_str());
      std::memset(row + c->offset, ' ', c->length);
      std::memcpy(row + c->offset, text.data(), std::min<std::size_t>(text.size(), c->length));
    }
  }
  bool Insert(const char *table, std::vector<std::pair<const char *, std::string>> texts, int emp = 0) {
    ZDB_CURSOR *cursor = Open(table);
    Fill(table, std::move(texts));
    if (emp != 0) {
      DD_COLUMN *c = ddcolumn("exemp010.emp");
      for (int i = 0; i < 4; ++i) row[c->offset + i] = static_cast<unsigned char>(emp >> (24 - 8 * i));
    }
    bool ok = zdb_exec_row(cursor, db_insert_51, 0, 1) == 0;
    zdb_close(cursor);
    return ok;
  }
  bool Commit() { return zdb_exec_db(commit_trans, trans) == 0; }
  // Deletes department P with what cascades from it, and commits.
  bool DeleteParent() {
    ZDB_CURSOR *cursor = Open("exdep010");
    Fill("exdep010", {{"code", "P"}});
    bool ok = zdb_exec_row(cursor, db_eq_locked, 0, 1) == 0 && zdb_exec_row(cursor, db_delete, 0, 1) == 0;
    zdb_close(cursor);
    return Commit() && ok;
  }
};

// SQLite on its own: a copy of the driver's two tables with their indexes.
struct Direct {
  sqlite3 *db = nullptr;
  std::string path = "/tmp/molvane-bench-refs-direct.db";
  sqlite3_stmt *children = nullptr, *parent = nullptr;

  explicit Direct(const std::string &driver_db) {
    std::remove(path.c_str());
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, ("ATTACH '" + driver_db + "' AS drv").c_str(), nullptr, nullptr, nullptr);
    sqlite3_stmt *schema = nullptr;
    sqlite3_prepare_v2(db, "SELECT sql FROM drv.sqlite_master WHERE sql IS NOT NULL ORDER BY type = 'index'", -1,
                       &schema, nullptr);
    std::vector<std::string> statements;
    while (sqlite3_step(schema) == SQLITE_ROW)
      statements.push_back(reinterpret_cast<const char *>(sqlite3_column_text(schema, 0)));
    sqlite3_finalize(schema);
    for (const std::string &sql : statements) sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db, "DELETE FROM exemp010001 WHERE dcas = ?", -1, &children, nullptr);
    sqlite3_prepare_v2(db, "DELETE FROM exdep010001 WHERE code = ?", -1, &parent, nullptr);
  }
  ~Direct() {
    sqlite3_finalize(children);
    sqlite3_finalize(parent);
    sqlite3_close(db);
    std::remove(path.c_str());
  }
  // The driver's rows, copied.
  void Copy() {
    sqlite3_exec(db, "INSERT INTO exdep010001 SELECT * FROM drv.exdep010001 WHERE code NOT IN "
                     "(SELECT code FROM exdep010001)", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "INSERT INTO exemp010001 SELECT * FROM drv.exemp010001", nullptr, nullptr, nullptr);
  }
  // The same rows as the cascade deletes; false on an error.
  bool Delete(const std::vector<unsigned char> &code) {
    bool ok = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    for (sqlite3_stmt *stmt : {children, parent}) {
      sqlite3_reset(stmt);
      sqlite3_bind_blob(stmt, 1, code.data(), static_cast<int>(code.size()), SQLITE_STATIC);
      ok = sqlite3_step(stmt) == SQLITE_DONE && ok;
    }
    return sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK && ok;
  }
};

// Each iteration (untimed) inserts department P and its 1,000 employees
// and copies them to SQLite; then the delete of P with its cascade is timed
// against SQLite's delete of the same rows. `anchor_ms` is SQLite's time
// per iteration.
void BM_CascadeDelete(benchmark::State &state) {
  static Client c;
  static Direct direct(c.root + "/bench.db");
  const DD_COLUMN *code = ddcolumn("exdep010.code");
  double own = 0, anchor = 0;
  int next = 1;
  for (auto _ : state) {
    state.PauseTiming();
    bool ok = c.Insert("exdep010", {{"code", "P"}});
    for (int i = 0; i < kChildren && ok; ++i)
      ok = c.Insert("exemp010", {{"dept", "P"}, {"dcas", "P"}, {"drst", "R"}}, next++);
    ok = c.Commit() && ok;
    direct.Copy();
    c.Fill("exdep010", {{"code", "P"}});
    std::vector<unsigned char> key(c.row + code->offset, c.row + code->offset + code->length);
    if (!ok) {
      state.SkipWithError("the rows could not be inserted");
      break;
    }
    state.ResumeTiming();
    auto start = std::chrono::steady_clock::now();
    ok = c.DeleteParent();
    own += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    start = std::chrono::steady_clock::now();
    ok = direct.Delete(key) && ok;
    anchor += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.ResumeTiming();
    if (!ok) {
      state.SkipWithError("the cascade delete failed");
      break;
    }
  }
  double n = static_cast<double>(state.iterations());
  if (n > 0 && anchor > 0) {
    state.counters["anchor_ms"] = 1000 * anchor / n;
    state.counters["ratio"] = own / anchor;
  }
}
BENCHMARK(BM_CascadeDelete)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
