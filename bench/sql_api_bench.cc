// Speed of the classic SQL API against the reference driver (loaded in
// process), each beside its SQLite anchor in the same iteration:
// - a fresh prepare (parse, validate, describe) of a short and a complex
//   statement through sql_parse and sql_close, beside sqlite3_prepare_v2 and
//   sqlite3_finalize of the equivalent SQLite text; every iteration changes a
//   literal, so that the statement cache never holds the text;
// - a statement-cache hit (sql_parse of a text closed before) beside a fresh
//   prepare of the same statement;
// - a full fetch of 1000 rows through sql_exec and sql_fetch beside
//   sqlite3_step over the same rows of the driver's database file;
// - three-table outer joins (the kRows employees twice, 400 departments)
//   that run here, as FULL joins under a RIGHT or FULL join, beside SQLite
//   running the same joins on the driver's database file.
// `ratio` is the API's time over its anchor's.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <molvane/datetime.h>
#include <molvane/platform.h>
#include <molvane/sql.h>
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

constexpr int kRows = 1000;
constexpr int kJoinRows = 400;

struct Statement {
  const char *molvane;
  const char *sqlite;
};

// "%d" takes the literal that changes at every iteration.
const Statement kShort = {"SELECT emp, name FROM exemp010 WHERE emp = :1 AND emp <> %d",
                          "SELECT emp, name FROM exemp010 WHERE emp = ?1 AND emp <> %d"};

const Statement kComplex = {
    "SELECT e.emp, e.name, d.code, COUNT(*) :n FROM exemp010 e LEFT OUTER JOIN exdep010 d "
    "ON e.dept = d.code WHERE e.salary > 100.5 AND e.name LIKE 'A%%' AND (e.status = 1 OR "
    "e.status = :2) AND e.emp IN (SELECT emp FROM exemp010 WHERE hired BETWEEN :3 AND :4) "
    "AND e.emp <> %d GROUP BY e.emp, e.name, d.code HAVING COUNT(*) > 1 ORDER BY 2 DESC, 1",
    "SELECT e.emp, e.name, d.code, COUNT(*) AS n FROM exemp010 e LEFT OUTER JOIN exdep010 d "
    "ON e.dept = d.code WHERE e.salary > 100.5 AND e.name LIKE 'A%%' AND (e.status = 1 OR "
    "e.status = ?2) AND e.emp IN (SELECT emp FROM exemp010 WHERE hired BETWEEN ?3 AND ?4) "
    "AND e.emp <> %d GROUP BY e.emp, e.name, d.code HAVING COUNT(*) > 1 ORDER BY 2 DESC, 1"};

std::string Text(const char *form, int literal) {
  char buf[1024];
  std::snprintf(buf, sizeof buf, form, literal);
  return buf;
}

char *Variable(char *name, unsigned char *, char **, int *const, unsigned long) { return name; }
void Put(char *, unsigned char *data, unsigned char, int, int *) { benchmark::DoNotOptimize(data); }
int Quiet(int, char *) { return 0; }

// A logged-on client on a fresh root whose exemp010 of company 1 holds
// kRows rows, and SQLite tables of the same names for the prepares.
struct Client {
  std::string root;
  int trans = 0;
  sqlite3 *schema = nullptr;  // empty tables for sqlite3_prepare_v2
  int literal = 1;

  Client() {
    root = molvane::bench::MakeRoot(molvane::bench::InProcessDriver());
    set_zuv(root.c_str());
    zdb_init_api("sql_api_bench", nullptr, 0, 0);
    zdb_logon("bench");
    trans = zdb_start_session("bench");
    sql_init_func(SQL_FUNC_ERROR, reinterpret_cast<sql_func>(Quiet));
    sql_init_func(SQL_FUNC_CRT_EXTVAR, reinterpret_cast<sql_func>(Variable));
    sql_init_func(SQL_FUNC_PUT_EXTVAR, reinterpret_cast<sql_func>(Put));
    Fill();
    FillJoinTables();
    sqlite3_open(":memory:", &schema);
    sqlite3_exec(schema,
                 "CREATE TABLE exemp010 (emp INTEGER PRIMARY KEY, name TEXT, dept TEXT, salary REAL, "
                 "status INTEGER, hired INTEGER);"
                 "CREATE TABLE exdep010 (code TEXT PRIMARY KEY, name TEXT);",
                 nullptr, nullptr, nullptr);
  }
  ~Client() {
    sqlite3_close(schema);
    zdb_logoff();
    std::filesystem::remove_all(root);
  }
  // Departments D001..D<kJoinRows>, department i with the budget
  // 7i mod kJoinRows + 1, the number of an employee.
  void FillJoinTables() {
    molvane::bench::FillTable(trans, "exdep010", kJoinRows, [](int i, DD_TABLE *table, std::vector<unsigned char> &image) {
      fill_default_row(table, image.data());
      char code[16];
      std::snprintf(code, sizeof code, "D%03d", i);
      PutText(image, "exdep010.code", code);
      double_in(7 * i % kJoinRows + 1, image.data() + ddcolumn("exdep010.budget")->offset);
    });
  }
  static void PutText(std::vector<unsigned char> &image, const char *column, const char *text) {
    DD_COLUMN *c = ddcolumn(column);
    std::string value(text);
    value.resize(static_cast<std::size_t>(c->length), ' ');
    std::copy(value.begin(), value.end(), image.begin() + c->offset);
  }
  // The rows, committed: emp 1..kRows, a name, a salary.
  void Fill() {
    molvane::bench::FillTable(trans, "exemp010", kRows, [](int i, DD_TABLE *, std::vector<unsigned char> &image) {
      DD_COLUMN *emp = ddcolumn("exemp010.emp");
      DD_COLUMN *name = ddcolumn("exemp010.name");
      for (int b = 0; b < 4; ++b) image[emp->offset + b] = static_cast<unsigned char>(i >> (24 - 8 * b));
      std::string n = "name " + std::to_string(i);
      std::copy(n.begin(), n.end(), image.begin() + name->offset);
    });
  }
  // Whether the text prepares (its data is parked in the statement cache).
  bool Prepares(const std::string &text) {
    QPCStatement *h = sql_parse(text.c_str(), static_cast<unsigned long>(trans), 0);
    sql_close(h);
    return h != nullptr;
  }
  // A fresh prepare (a text the cache has not seen) and its close; the
  // seconds it took.
  double Prepare(const std::string &text) {
    auto start = std::chrono::steady_clock::now();
    QPCStatement *h = sql_parse(text.c_str(), static_cast<unsigned long>(trans), 0);
    benchmark::DoNotOptimize(h);
    sql_close(h);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

Client &client() {
  static Client c;
  return c;
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Report(benchmark::State &state, double own, double anchor) {
  state.counters["anchor_us"] = 1e6 * anchor / static_cast<double>(state.iterations());
  state.counters["ratio"] = own / anchor;
}

void RunPrepare(benchmark::State &state, const Statement &statement) {
  Client &c = client();
  if (!c.Prepares(Text(statement.molvane, 0))) {
    state.SkipWithError("the statement does not prepare");
    return;
  }
  double own = 0, anchor = 0;
  for (auto _ : state) {
    int literal = c.literal++;
    own += c.Prepare(Text(statement.molvane, literal));
    std::string text = Text(statement.sqlite, literal);
    auto start = std::chrono::steady_clock::now();
    sqlite3_stmt *prepared = nullptr;
    sqlite3_prepare_v2(c.schema, text.c_str(), -1, &prepared, nullptr);
    benchmark::DoNotOptimize(prepared);
    sqlite3_finalize(prepared);
    anchor += Seconds(start);
  }
  Report(state, own, anchor);
}

void BM_PrepareShort(benchmark::State &state) { RunPrepare(state, kShort); }
BENCHMARK(BM_PrepareShort);

void BM_PrepareComplex(benchmark::State &state) { RunPrepare(state, kComplex); }
BENCHMARK(BM_PrepareComplex);

// A hit of the statement cache beside a fresh prepare of the same statement.
void BM_StatementCacheHit(benchmark::State &state) {
  Client &c = client();
  const std::string cached = Text(kComplex.molvane, 0);
  if (!c.Prepares(cached)) {
    state.SkipWithError("the statement does not prepare");
    return;
  }
  double own = 0, anchor = 0;
  for (auto _ : state) {
    own += c.Prepare(cached);
    anchor += c.Prepare(Text(kComplex.molvane, c.literal++));
  }
  Report(state, own, anchor);
}
BENCHMARK(BM_StatementCacheHit);

// Every row of the table through sql_exec and sql_fetch, beside
// sqlite3_step over the same rows of the driver's database file.
void BM_FullFetch(benchmark::State &state) {
  Client &c = client();
  QPCStatement *h =
      sql_parse("SELECT emp, name, salary FROM exemp010", static_cast<unsigned long>(c.trans), 0);
  sqlite3 *db = nullptr;
  sqlite3_open_v2((c.root + "/bench.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt *select = nullptr;
  sqlite3_prepare_v2(db, "SELECT emp, name, salary FROM exemp010001", -1, &select, nullptr);
  if (h == nullptr || select == nullptr) {
    state.SkipWithError("the statement does not prepare");
  } else {
    double own = 0, anchor = 0;
    long rows = 0, anchorRows = 0;
    for (auto _ : state) {
      auto start = std::chrono::steady_clock::now();
      sql_exec(h, 1);
      while (sql_fetch(h) == 0) ++rows;
      own += Seconds(start);
      start = std::chrono::steady_clock::now();
      sqlite3_reset(select);
      while (sqlite3_step(select) == SQLITE_ROW) {
        benchmark::DoNotOptimize(sqlite3_column_int(select, 0));
        benchmark::DoNotOptimize(sqlite3_column_blob(select, 1));
        benchmark::DoNotOptimize(sqlite3_column_double(select, 2));
        ++anchorRows;
      }
      anchor += Seconds(start);
    }
    if (rows != anchorRows) state.SkipWithError("the two fetches gave different row counts");
    state.SetItemsProcessed(rows);
    Report(state, own, anchor);
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  sql_close(h);
}
BENCHMARK(BM_FullFetch);

// Three-table outer joins that run here (a FULL join is never shipped, a
// RIGHT join over a join only in part), beside SQLite running the same join
// on the driver's file. "%s" takes the
// company's table suffix ("" for molvane, "001" for SQLite).
const char *const kOuterJoins[] = {
    "SELECT e1.emp, d2.code, e3.emp FROM exemp010%s e1 FULL JOIN exdep010%s d2 ON e1.emp = d2.budget "
    "RIGHT JOIN exemp010%s e3 ON e3.emp = e1.emp",
    "SELECT e1.emp, d2.code, e3.emp FROM exemp010%s e1 FULL JOIN exdep010%s d2 ON e1.emp = d2.budget "
    "FULL JOIN exemp010%s e3 ON e3.emp = d2.budget",
    "SELECT e1.emp, d2.code, e3.emp FROM exemp010%s e1 RIGHT JOIN exdep010%s d2 ON e1.emp = d2.budget "
    "RIGHT JOIN exemp010%s e3 ON e3.emp = d2.budget",
};

std::string OuterJoin(int which, const char *suffix) {
  char buf[512];
  std::snprintf(buf, sizeof buf, kOuterJoins[which], suffix, suffix, suffix);
  return buf;
}

void BM_ThreeTableOuterJoin(benchmark::State &state) {
  Client &c = client();
  const int which = static_cast<int>(state.range(0));
  QPCStatement *h = sql_parse(OuterJoin(which, "").c_str(), static_cast<unsigned long>(c.trans), 0);
  sqlite3 *db = nullptr;
  sqlite3_open_v2((c.root + "/bench.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt *select = nullptr;
  sqlite3_prepare_v2(db, OuterJoin(which, "001").c_str(), -1, &select, nullptr);
  if (h == nullptr || select == nullptr) {
    std::string why = h == nullptr ? "sql_parse: error " + std::to_string(zdb_errno) : sqlite3_errmsg(db);
    state.SkipWithError(("the statement does not prepare: " + why).c_str());
  } else {
    double own = 0, anchor = 0;
    long rows = 0, anchorRows = 0;
    for (auto _ : state) {
      auto start = std::chrono::steady_clock::now();
      if (sql_exec(h, 1) == 0)
        while (sql_fetch(h) == 0) ++rows;
      own += Seconds(start);
      start = std::chrono::steady_clock::now();
      sqlite3_reset(select);
      while (sqlite3_step(select) == SQLITE_ROW) ++anchorRows;
      anchor += Seconds(start);
    }
    if (rows != anchorRows || rows == 0) state.SkipWithError("the two joins gave different row counts");
    state.SetItemsProcessed(rows);
    Report(state, own, anchor);
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  sql_close(h);
}
BENCHMARK(BM_ThreeTableOuterJoin)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
