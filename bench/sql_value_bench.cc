// Cost of the value comparison that sorting, grouping and filters run per
// row pair, and of converting one fetched row into its stored field format
// (and back) as sql_fetch and the agent's update do per row.
#include <benchmark/benchmark.h>

#include <molvane/dd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sql/common/row_field.h"
#include "sql/common/value_store.h"
#include "text/tss.h"

namespace {

void BM_CompareIntegers(benchmark::State &state) {
  SQLValueStore a, b;
  a.SetInteger(12345);
  b.SetInteger(12346);
  for (auto _ : state) benchmark::DoNotOptimize(SQLValueStore::Compare(&a, &b, SQL_COMP_LT));
}
BENCHMARK(BM_CompareIntegers);

void BM_CompareIntegerWithReal(benchmark::State &state) {
  SQLValueStore a, b;
  a.SetInteger(3);
  b.SetReal(3.0);
  for (auto _ : state) benchmark::DoNotOptimize(SQLValueStore::Compare(&a, &b, SQL_COMP_EQ));
}
BENCHMARK(BM_CompareIntegerWithReal);

// Strings of range(0) bytes that differ only in padding: the whole text and
// the blank tail are looked at. range(1) is the TSS mode.
void BM_ComparePaddedStrings(benchmark::State &state) {
  setenv("TSS_MODE", state.range(1) == 2 ? "2" : "1", 1);
  TssReloadSettings();
  std::string text(static_cast<size_t>(state.range(0)), 'k');
  SQLValueStore a, b;
  a.SetString(text.c_str());
  b.SetString((text + "    ").c_str());
  for (auto _ : state) {
    benchmark::DoNotOptimize(SQLValueStore::Compare(&a, &b, SQL_COMP_EQ));
    benchmark::DoNotOptimize(SQLValueStore::Compare(&a, &b, SQL_COMP_LE));
  }
  state.SetItemsProcessed(2 * state.iterations());
}
BENCHMARK(BM_ComparePaddedStrings)->Args({8, 1})->Args({64, 1})->Args({8, 2})->Args({64, 2});

// A typical row: a company code, a key, dates, amounts, texts and a flag.
struct Column {
  unsigned char code;
  int length;
};
Column const kRow[] = {{DDT_SHORT, 2},   {DDT_LONG, 4},     {DDT_STRING, 30}, {DDT_DATE, 4},
                       {DDT_DOUBLE, 8},  {DDT_DOUBLE, 8},   {DDT_ENUM, 1},    {DDT_MBSTRING, 40},
                       {DDT_TIME, 4},    {DDT_RAW, 16},     {DDT_FLOAT, 4},   {DDT_STRING, 6}};

std::vector<SQLValueStore> RowValues() {
  std::vector<SQLValueStore> values(std::size(kRow));
  values[0].SetInteger(100);
  values[1].SetInteger(4711);
  values[2].SetString("Order line description");
  values[3].SetDate(738945);
  values[4].SetReal(1234.5);
  values[5].SetReal(-0.25);
  values[6].SetInteger(3);
  values[7].SetString("Customer name and address");
  values[8].SetTimestamp(1700000000);
  std::string raw(16, '\x5a');
  values[9].SetRaw(reinterpret_cast<unsigned char const *>(raw.data()), raw.size());
  values[10].SetReal(2.5);
  values[11].SetNull();
  return values;
}

void BM_RowFieldConvertRow(benchmark::State &state) {
  std::vector<SQLValueStore> values = RowValues();
  unsigned char const *out = nullptr;
  int n = 0;
  for (auto _ : state) {
    int offset = 0;
    for (size_t i = 0; i < values.size(); ++i) {
      copyValueStoreToRowBuffer(kRow[i].code, kRow[i].length, 1, &values[i], offset, ' ', &out, &n);
      offset += n;
    }
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());  // rows
}
BENCHMARK(BM_RowFieldConvertRow);

void BM_RowFieldReadRow(benchmark::State &state) {
  std::vector<SQLValueStore> values = RowValues();
  std::vector<unsigned char> row;
  unsigned char const *out = nullptr;
  int n = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    copyValueStoreToRowBuffer(kRow[i].code, kRow[i].length, 1, &values[i], 0, ' ', &out, &n);
    row.insert(row.end(), out, out + n);
  }
  std::vector<SQLValueStore> back(values.size());
  for (auto _ : state) {
    size_t offset = 0;
    for (size_t i = 0; i < back.size(); ++i) {
      copyRowBufferToValueStore(kRow[i].code, kRow[i].length, 1, row.data() + offset,
                                static_cast<int>(row.size() - offset), &back[i]);
      offset += static_cast<size_t>(kRow[i].length);
    }
    benchmark::DoNotOptimize(back.data());
  }
  state.SetItemsProcessed(state.iterations());  // rows
}
BENCHMARK(BM_RowFieldReadRow);

}  // namespace
