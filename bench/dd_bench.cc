// Dictionary speed: ddtable on the first load of a table (dump read and
// parsed), ddtable of a loaded table, and key comparison on a two-part key.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dbc/dd.h"

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
    dom << "D qbnum\n" << Kw("NAME", "qbnum") << Kw("TYPE", "l");
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

}  // namespace
