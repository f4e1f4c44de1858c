// Dictionary speed: ddtable on the first load of a table (dump read and
// parsed), ddtable of a loaded table, and key comparison on a two-part key.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dbc/dict/dd.h"
#include "dbc/domain/domain_check.h"

namespace {

namespace fs = std::filesystem;

constexpr int kTables = 2000;

std::string Kw(const char *k, const std::string &v) {
  std::string kw(k);
  kw.resize(4, ' ');
  return ":" + kw + " " + v + "\n";
}

std::string Field(const std::string &name) {
  std::string f = name;
  f.resize(17, ' ');
  return f;
}

// A root with a domain dump and kTables table dumps of ten columns and two
// indexes each; the dictionary is started on it.
struct BenchRoot {
  fs::path dir;
  BenchRoot() {
    dir = fs::temp_directory_path() / ("molvane-ddbench-" + std::to_string(getpid()));
    fs::create_directories(dir / "dict");
    std::ofstream dom(dir / "dict" / "dqb.pd");
    dom << "D qbcode\n" << Kw("NAME", "qbcode") << Kw("TYPE", "s") << Kw("CLEN", "12");
    dom << "D qbnum\n" << Kw("NAME", "qbnum") << Kw("TYPE", "l") << Kw("RA", "1..1000000, 2000000");
    for (int t = 0; t < kTables; ++t) {
      char name[16];  // "qb" and six digits: kTables stays below a million
      std::snprintf(name, sizeof name, "qb%06d", t % 1000000);
      std::string text = Kw("VERS", "1");
      for (int c = 0; c < 10; ++c) {
        const std::string col = std::string(name) + ".col" + std::to_string(c);
        text.append("F col").append(std::to_string(c)).append("\n");
        text += Kw("NAME", col) + Kw("DOMA", c % 2 ? "qbnum" : "qbcode") + Kw("DEFT", "1");
      }
      text.append("I 1\n");
      text += Kw("INDX", "1") + Kw("KEYF", Field(std::string(name) + ".col0") + Field(std::string(name) + ".col1"));
      text.append("I 2\n");
      text += Kw("INDX", "2") + Kw("DUPL", "1") + Kw("KEYF", Field(std::string(name) + ".col2"));
      std::string file = "d";
      file.append(name);
      std::ofstream(dir / "dict" / file) << text;
    }
    setenv("ZUV", dir.c_str(), 1);
    unsetenv("F_ZRDD");
    init_local_dd();
  }
  ~BenchRoot() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

BenchRoot &Root() {
  static BenchRoot root;
  return root;
}

void BM_DdTableFirstLoad(benchmark::State &state) {
  Root();
  int t = 0;
  for (auto _ : state) {
    char name[9];
    std::snprintf(name, sizeof name, "qb%06d", t++ % kTables);
    benchmark::DoNotOptimize(ddtable(name));
  }
}
BENCHMARK(BM_DdTableFirstLoad)->Iterations(kTables - 10);

void BM_DdTableLoaded(benchmark::State &state) {
  Root();
  const char *names[] = {"qb001998", "qb001999"};
  for (const char *n : names) ddtable(n);
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(ddtable(names[i++ & 1]));
}
BENCHMARK(BM_DdTableLoaded);

void BM_DdColumnLoaded(benchmark::State &state) {
  Root();
  ddtable("qb001999");
  for (auto _ : state) benchmark::DoNotOptimize(ddcolumn("qb001999.col7"));
}
BENCHMARK(BM_DdColumnLoaded);

void BM_CompareKeyTwoParts(benchmark::State &state) {
  Root();
  DD_TABLE *t = ddtable("qb001999");
  const DD_KEY *key = key_desc(t, 1);
  std::vector<unsigned char> a(t->row_length), b(t->row_length);
  fill_default_row(t, a.data());
  fill_default_row(t, b.data());
  b[ddcolumn("qb001999.col1")->offset + 3] = 2;  // differs in the second part
  std::vector<unsigned char> ka(64), kb(64);
  zdb_extract_key(ka.data(), a.data(), key);
  zdb_extract_key(kb.data(), b.data(), key);
  for (auto _ : state) benchmark::DoNotOptimize(zdb_compare_key(ka.data(), kb.data(), key));
}
BENCHMARK(BM_CompareKeyTwoParts);

// The domain check of a whole row (five texts without restrictions, five
// numbers with a range), beside the same checks written out by hand.
void BM_RowDomainCheck(benchmark::State &state) {
  Root();
  DD_TABLE *t = ddtable("qb001999");
  std::vector<unsigned char> row(t->row_length);
  fill_default_row(t, row.data());
  std::vector<int> numbers;
  for (int c = 1; c < 10; c += 2) {
    DD_COLUMN *column = ddcolumn(("qb001999.col" + std::to_string(c)).c_str());
    numbers.push_back(column->offset);
    row[column->offset + 3] = static_cast<unsigned char>(c);
  }
  zdb_dd_check_set_enabled(1);
  if (zdb_dd_check(t, row.data()) != 1) state.SkipWithError("row refused");
  auto hand = [&] {
    for (int offset : numbers) {
      unsigned char const *p = row.data() + offset;
      int32_t v = static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]);
      if (v != 0 && !((v >= 1 && v <= 1000000) || v == 2000000)) return 0;
    }
    return 1;
  };
  constexpr int kBatch = 64;
  double own = 0, anchor = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(zdb_dd_check(t, row.data()));
    auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) {
      benchmark::DoNotOptimize(hand());
      benchmark::ClobberMemory();
    }
    auto t2 = std::chrono::steady_clock::now();
    own += std::chrono::duration<double>(t1 - t0).count();
    anchor += std::chrono::duration<double>(t2 - t1).count();
  }
  zdb_dd_check_set_enabled(0);
  double calls = static_cast<double>(state.iterations()) * kBatch;
  state.counters["own_ns"] = 1e9 * own / calls;
  state.counters["anchor_ns"] = 1e9 * anchor / calls;
  state.counters["ratio"] = own / anchor;
}
BENCHMARK(BM_RowDomainCheck);

}  // namespace
