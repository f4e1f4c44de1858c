// Speed of the SQL parser: a short and a complex statement parsed into the
// validated tree (tree data made, tree deleted), beside sqlite3_prepare_v2
// and sqlite3_finalize on the equivalent SQLite statements over the same
// two tables. Each iteration runs both; `ratio` is the parser's time over
// SQLite's.
//
// The chains: a WHERE clause of n comparisons joined by OR (or AND), from
// 1,000 to 256,000 terms, whose time must grow linearly (`ns_per_term` stays
// flat). SQLite refuses an expression tree deeper than 1,000, so its anchor
// is the equivalent list of the same length: "emp IN (...)" for the ORs of
// equalities, "emp NOT IN (...)" for the ANDs of inequalities.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "dbc/dict/dd.h"
#include "sql/front/sql_parse.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vtree_data.h"

namespace {

struct Statement {
  char const *molvane;
  char const *sqlite;
};

Statement const kShort = {"SELECT emp, name FROM exemp010 WHERE emp = :1",
                          "SELECT emp, name FROM exemp010 WHERE emp = ?1"};

Statement const kComplex = {
    "SELECT e.emp, e.name, d.code, COUNT(*) FROM exemp010 e LEFT OUTER JOIN exdep010 d ON e.dept = d.code "
    "WHERE e.salary > 100.5 AND e.name LIKE 'A%' AND (e.status = 1 OR e.status = :2) "
    "AND e.emp IN (SELECT emp FROM exemp010 WHERE hired BETWEEN :3 AND :4) "
    "GROUP BY e.emp, e.name, d.code HAVING COUNT(*) > 1 ORDER BY 2 DESC, 1",
    "SELECT e.emp, e.name, d.code, COUNT(*) FROM exemp010 e LEFT OUTER JOIN exdep010 d ON e.dept = d.code "
    "WHERE e.salary > 100.5 AND e.name LIKE 'A%' AND (e.status = 1 OR e.status = ?2) "
    "AND e.emp IN (SELECT emp FROM exemp010 WHERE hired BETWEEN ?3 AND ?4) "
    "GROUP BY e.emp, e.name, d.code HAVING COUNT(*) > 1 ORDER BY 2 DESC, 1"};

// The fixture dictionary for the parser, and the same two tables in an
// in-memory SQLite database.
struct Setup {
  sqlite3 *db = nullptr;
  Setup() {
    setenv("F_ZRDD", MOLVANE_SOURCE_DIR "/tests/fixtures/zuv/dict", 1);
    setenv("ZUV", "/tmp", 0);
    init_local_dd();
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db,
                 "CREATE TABLE exemp010 (emp INTEGER PRIMARY KEY, name TEXT, dept TEXT, salary REAL, "
                 "status INTEGER, hired INTEGER);"
                 "CREATE TABLE exdep010 (code TEXT PRIMARY KEY, name TEXT);",
                 nullptr, nullptr, nullptr);
  }
  ~Setup() { sqlite3_close(db); }
};

Setup &Environment() {
  static Setup setup;
  return setup;
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Returns the parser's seconds over all iterations.
double RunParse(benchmark::State &state, Statement const &statement) {
  sqlite3 *db = Environment().db;
  double own = 0, anchor = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    {
      SQLVTreeData treeData;
      std::unique_ptr<SQLVTNode> root(SQLParse(statement.molvane, 0, &treeData));
      benchmark::DoNotOptimize(root.get());
    }
    own += Seconds(start);

    start = std::chrono::steady_clock::now();
    sqlite3_stmt *prepared = nullptr;
    sqlite3_prepare_v2(db, statement.sqlite, -1, &prepared, nullptr);
    benchmark::DoNotOptimize(prepared);
    sqlite3_finalize(prepared);
    anchor += Seconds(start);
  }
  state.counters["anchor_us"] = 1e6 * anchor / static_cast<double>(state.iterations());
  state.counters["ratio"] = own / anchor;
  return own;
}

// The chain statements of n terms, ours and SQLite's.
struct Chain {
  std::string molvane;
  std::string sqlite;
};

Chain MakeChain(int n, bool conjunction) {
  Chain chain{"SELECT emp FROM exemp010 WHERE ", "SELECT emp FROM exemp010 WHERE "};
  chain.sqlite += conjunction ? "emp NOT IN (" : "emp IN (";
  for (int i = 0; i < n; ++i) {
    std::string const k = std::to_string(i);
    if (i > 0) {
      chain.molvane += conjunction ? " AND " : " OR ";
      chain.sqlite += ", ";
    }
    chain.molvane += conjunction ? "emp <> " + k : "emp = " + k;
    chain.sqlite += k;
  }
  chain.sqlite += ")";
  return chain;
}

void RunChain(benchmark::State &state, bool conjunction) {
  int const n = static_cast<int>(state.range(0));
  Chain const chain = MakeChain(n, conjunction);
  Statement const statement{chain.molvane.c_str(), chain.sqlite.c_str()};
  double const own = RunParse(state, statement);
  state.counters["ns_per_term"] = 1e9 * own / (static_cast<double>(state.iterations()) * n);
}

void BM_ParseShort(benchmark::State &state) { RunParse(state, kShort); }
BENCHMARK(BM_ParseShort);

void BM_ParseComplex(benchmark::State &state) { RunParse(state, kComplex); }
BENCHMARK(BM_ParseComplex);

void BM_ParseOrChain(benchmark::State &state) { RunChain(state, false); }
BENCHMARK(BM_ParseOrChain)->Arg(1000)->Arg(4000)->Arg(16000)->Arg(64000)->Arg(256000)->Unit(benchmark::kMillisecond);

void BM_ParseAndChain(benchmark::State &state) { RunChain(state, true); }
BENCHMARK(BM_ParseAndChain)->Arg(1000)->Arg(4000)->Arg(16000)->Arg(64000)->Arg(256000)->Unit(benchmark::kMillisecond);

}  // namespace
