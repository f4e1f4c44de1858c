// Speed of the stream layer on the paths the request protocol uses: stream
// integers and strings over a buffered stream, and line reads.
#include <benchmark/benchmark.h>

#include <string>

#include "ipc/stream.h"
#include "ipc/stream_int.h"

namespace {

void BM_StreamIntegersRoundTrip(benchmark::State &state) {
  const int fields = 1000;
  for (auto _ : state) {
    STREAM *s = stream_open_bytes(nullptr, 0, "w+");
    for (int i = 0; i < fields; ++i) {
      w_short(s, i);
      w_long(s, i * 7919);
      w_string(s, "customer");
    }
    sseek(s, 0, 0);
    char buf[16];
    long sum = 0;
    for (int i = 0; i < fields; ++i) {
      sum += r_short(s);
      sum += r_long(s);
      sum += r_string(s, buf, sizeof buf);
    }
    benchmark::DoNotOptimize(sum);
    sclose(s);
  }
  state.SetItemsProcessed(state.iterations() * fields * 3);
}
BENCHMARK(BM_StreamIntegersRoundTrip);

void BM_SgetsLines(benchmark::State &state) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += ":DOMA customer_number_" + std::to_string(i) + "\n";
  char line[8192];
  for (auto _ : state) {
    STREAM *s = stream_open_bytes(text.data(), text.size(), "r");
    int n = 0;
    while (sgets(line, sizeof line, s) != nullptr) ++n;
    benchmark::DoNotOptimize(n);
    sclose(s);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long>(text.size()));
}
BENCHMARK(BM_SgetsLines);

}  // namespace
