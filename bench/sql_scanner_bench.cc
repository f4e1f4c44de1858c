// Speed of the SQL scanner: tokens per second over one long statement, in
// classic and ANSI mode, beside SQLite's own tokenizer run over the same text
// through sqlite3_complete as a rough baseline (it only cuts the text, so it
// is counted with the same number of tokens).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <string>

#include "sql/front/parse_mode.h"
#include "sql/front/sql_scanner.h"

namespace {

// A SELECT with `columns` select items and a WHERE clause of the same size,
// mixing every common token class: keywords, names, qualified names, host
// variables, strings, numbers, operators, comments and line breaks.
std::string long_statement(int columns) {
  std::string text = "SELECT ";
  for (int i = 0; i < columns; ++i) {
    if (i) text += ",\n  ";
    text += "t.col" + std::to_string(i) + " & 'text " + std::to_string(i) + "'";
  }
  text += "\nFROM exemp010 t, exdep010 u | the tables\nWHERE t._compnr = :comp";
  for (int i = 0; i < columns; ++i) {
    text += "\n  AND (u.amount" + std::to_string(i) + " >= 12.5 OR u.qty <> " +
            std::to_string(i) + ") AND u.name LIKE :name" + std::to_string(i);
  }
  text += "\nORDER BY t.col0 DESC AS SET WITH 100 ROWS";
  return text;
}

long count_tokens(std::string const &text, int mode) {
  SQLParseSetMode(mode);
  sql_yySetLexBuffer(text.c_str());
  long n = 0;
  while (sql_yylex() != 0) ++n;
  return n;
}

void run_scanner(benchmark::State &state, int mode) {
  std::string const text = long_statement(static_cast<int>(state.range(0)));
  long const tokens = count_tokens(text, mode);
  for (auto _ : state) benchmark::DoNotOptimize(count_tokens(text, mode));
  state.SetItemsProcessed(state.iterations() * tokens);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_ScanClassic(benchmark::State &state) { run_scanner(state, 0); }
BENCHMARK(BM_ScanClassic)->Arg(100)->Arg(2000);

void BM_ScanAnsi(benchmark::State &state) { run_scanner(state, parsemode::kAnsi); }
BENCHMARK(BM_ScanAnsi)->Arg(100)->Arg(2000);

// Baseline: the same text through SQLite's tokenizer.
void BM_SqliteComplete(benchmark::State &state) {
  std::string const text = long_statement(static_cast<int>(state.range(0))) + ";";
  long const tokens = count_tokens(text, 0);
  for (auto _ : state) benchmark::DoNotOptimize(sqlite3_complete(text.c_str()));
  state.SetItemsProcessed(state.iterations() * tokens);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_SqliteComplete)->Arg(100)->Arg(2000);

}  // namespace
