// Cost of the value comparison that sorting, grouping and filters run per
// row pair, and of converting one fetched row into its stored field format
// (and back) as sql_fetch and the agent's update do per row.
#include <benchmark/benchmark.h>

#include <molvane/datetime.h>
#include <molvane/dd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

// Times `own` and `anchor` in one loop; `ratio` is own's time over the
// anchor's.
template <typename Own, typename Anchor>
void Versus(benchmark::State &state, Own own, Anchor anchor) {
  constexpr int kBatch = 64;
  double ownTime = 0, anchorTime = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) own();
    auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) anchor();
    auto t2 = std::chrono::steady_clock::now();
    ownTime += std::chrono::duration<double>(t1 - t0).count();
    anchorTime += std::chrono::duration<double>(t2 - t1).count();
  }
  double calls = static_cast<double>(state.iterations()) * kBatch;
  state.counters["own_ns"] = 1e9 * ownTime / calls;
  state.counters["anchor_ns"] = 1e9 * anchorTime / calls;
  state.counters["ratio"] = ownTime / anchorTime;
  state.SetItemsProcessed(state.iterations() * kBatch);  // rows
}

void PutBig(unsigned char *p, std::uint32_t v, int width) {
  for (int i = width - 1; i >= 0; --i, v >>= 8) p[i] = static_cast<unsigned char>(v);
}

// The row's fields written out by hand, without the checks.
void HandConvert(std::vector<SQLValueStore> const &values, unsigned char *out) {
  for (size_t i = 0; i < values.size(); ++i) {
    SQLValueStore const &v = values[i];
    int length = kRow[i].length;
    switch (kRow[i].code) {
      case DDT_SHORT: PutBig(out, static_cast<std::uint32_t>(v.IsNull() ? 0 : v.GetInteger()), 2); break;
      case DDT_ENUM: out[0] = static_cast<unsigned char>(v.IsNull() ? 0 : v.GetInteger()); break;
      case DDT_LONG:
      case DDT_DATE: PutBig(out, static_cast<std::uint32_t>(v.IsNull() ? 0 : v.GetInteger()), 4); break;
      case DDT_TIME: PutBig(out, static_cast<std::uint32_t>(v.IsNull() ? 0 : v.GetTimestamp()), 4); break;
      case DDT_DOUBLE: double_in(v.IsNull() ? 0.0 : v.GetReal(), out); break;
      case DDT_FLOAT: float_in(v.IsNull() ? 0.0 : v.GetReal(), out); break;
      case DDT_RAW: std::memcpy(out, v.GetBytes(), static_cast<size_t>(length)); break;
      default: {
        size_t n = v.IsNull() ? 0 : v.GetLength();
        std::memcpy(out, v.GetBytes(), n);
        std::memset(out + n, ' ', static_cast<size_t>(length) - n);
      }
    }
    out += length;
  }
}

// A fetched row into its stored fields, beside the same fields by hand.
void BM_RowFieldConvertRow(benchmark::State &state) {
  std::vector<SQLValueStore> values = RowValues();
  unsigned char const *out = nullptr;
  int n = 0;
  unsigned char hand[256];
  Versus(
      state,
      [&] {
        int offset = 0;
        for (size_t i = 0; i < values.size(); ++i) {
          copyValueStoreToRowBuffer(kRow[i].code, kRow[i].length, 1, &values[i], offset, ' ', &out, &n);
          offset += n;
        }
        benchmark::DoNotOptimize(out);
      },
      [&] {
        HandConvert(values, hand);
        benchmark::DoNotOptimize(hand);
        benchmark::ClobberMemory();
      });
}
BENCHMARK(BM_RowFieldConvertRow);

// Stored fields into value stores, beside the same reading by hand.
void BM_RowFieldReadRow(benchmark::State &state) {
  std::vector<SQLValueStore> values = RowValues();
  std::vector<unsigned char> row;
  unsigned char const *out = nullptr;
  int n = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    copyValueStoreToRowBuffer(kRow[i].code, kRow[i].length, 1, &values[i], 0, ' ', &out, &n);
    row.insert(row.end(), out, out + n);
  }
  std::vector<SQLValueStore> back(values.size()), hand(values.size());
  auto big = [](unsigned char const *p, int width) {
    std::uint32_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 8) | p[i];
    return width == 2 ? static_cast<std::int16_t>(v) : static_cast<std::int32_t>(v);
  };
  Versus(
      state,
      [&] {
        size_t offset = 0;
        for (size_t i = 0; i < back.size(); ++i) {
          copyRowBufferToValueStore(kRow[i].code, kRow[i].length, 1, row.data() + offset,
                                    static_cast<int>(row.size() - offset), &back[i]);
          offset += static_cast<size_t>(kRow[i].length);
        }
        benchmark::DoNotOptimize(back.data());
      },
      [&] {
        unsigned char const *p = row.data();
        for (size_t i = 0; i < hand.size(); ++i) {
          int length = kRow[i].length;
          switch (kRow[i].code) {
            case DDT_ENUM: hand[i].SetInteger(p[0]); break;
            case DDT_SHORT: hand[i].SetInteger(big(p, 2)); break;
            case DDT_LONG: hand[i].SetInteger(big(p, 4)); break;
            case DDT_DATE: hand[i].SetDate(big(p, 4)); break;
            case DDT_TIME: hand[i].SetTimestamp(big(p, 4)); break;
            case DDT_DOUBLE: hand[i].SetReal(double_out(p)); break;
            case DDT_FLOAT: hand[i].SetReal(float_out(p)); break;
            case DDT_RAW: hand[i].SetRaw(p, static_cast<unsigned long>(length)); break;
            default: hand[i].SetString(p, static_cast<unsigned long>(length));
          }
          p += length;
        }
        benchmark::DoNotOptimize(hand.data());
        benchmark::ClobberMemory();
      });
}
BENCHMARK(BM_RowFieldReadRow);

}  // namespace
