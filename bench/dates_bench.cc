// Day numbers, time-zone conversion and the stored double layout: the
// conversions that run once per date or real value of every row.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "platform/dates.h"
#include "platform/numbers.h"
#include "platform/timezone.h"

namespace {

void BM_DayNumberRoundTrip(benchmark::State &state) {
  int32_t n = 1;
  for (auto _ : state) {
    int y, m, d;
    num_to_date(n, &y, &m, &d);
    benchmark::DoNotOptimize(date_to_num(y, m, d));
    n = n % AL_LAST_DAY_NUMBER + 7919;
  }
}
BENCHMARK(BM_DayNumberRoundTrip);

void BM_UtcToLocal(benchmark::State &state) {
  qelt_timezone_set("Europe/Amsterdam");
  int64_t t = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(al_utc_to_local(t));
    t = (t + 86399 * 37) % 4102444800;
  }
}
BENCHMARK(BM_UtcToLocal);

void BM_LocalToUtc(benchmark::State &state) {
  qelt_timezone_set("Europe/Amsterdam");
  int64_t t = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(al_local_to_utc(t));
    t = (t + 86399 * 37) % 4102444800;
  }
}
BENCHMARK(BM_LocalToUtc);

void BM_DoubleLayout(benchmark::State &state) {
  unsigned char bytes[8];
  double v = 1.5;
  for (auto _ : state) {
    double_in(v, bytes);
    v = double_out(bytes) + 0.25;
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_DoubleLayout);

void BM_BRound(benchmark::State &state) {
  const unsigned char precision[2] = {8, 2};
  double v = 1234.5678;
  for (auto _ : state) {
    benchmark::DoNotOptimize(b_round(v, precision));
    v += 0.001;
  }
}
BENCHMARK(BM_BRound);

}  // namespace
