// The request protocol's cost per request: writing a row request into a
// stream buffer, and reading a row reply straight into the caller's buffer.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dbc/request/request_block.h"

namespace {

// The request's bytes written by hand into a byte buffer: code, session,
// table name, company, read argument, row length and row, big-endian.
std::size_t HandWriteRowRequest(unsigned char *out, unsigned char const *row, std::size_t n) {
  unsigned char *p = out;
  auto put = [&p](std::uint32_t v, int width) {
    for (int i = width - 1; i >= 0; --i) p[i] = static_cast<unsigned char>(v >> (8 * (width - 1 - i)));
    p += width;
  };
  put(EXE_ROW_CNTR, 1);
  put(0, 4);
  std::memcpy(p, "tcabc001", 8);
  p += 8;
  put(0, 2);
  put(0, 4);
  put(static_cast<std::uint32_t>(n), 2);
  std::memcpy(p, row, n);
  return static_cast<std::size_t>(p + n - out);
}

// Runs `write_own` (one request) and the hand-written anchor kBatch times
// per iteration, timing each side, and reports both and `ratio`, the
// request's time over the anchor's.
template <class Own>
void RunBesideHand(benchmark::State &state, const std::vector<unsigned char> &key, Own write_own) {
  std::vector<unsigned char> hand(key.size() + 64);
  constexpr int kBatch = 64;
  double own = 0, anchor = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) write_own();
    auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) {
      benchmark::DoNotOptimize(HandWriteRowRequest(hand.data(), key.data(), key.size()));
      benchmark::ClobberMemory();
    }
    auto t2 = std::chrono::steady_clock::now();
    own += std::chrono::duration<double>(t1 - t0).count();
    anchor += std::chrono::duration<double>(t2 - t1).count();
  }
  double calls = static_cast<double>(state.iterations()) * kBatch;
  state.counters["own_ns"] = 1e9 * own / calls;
  state.counters["anchor_ns"] = 1e9 * anchor / calls;
  state.counters["ratio"] = own / anchor;
  state.SetBytesProcessed(static_cast<int64_t>(calls) * state.range(0));
}

// A row request into a stream buffer, beside the same bytes by hand;
// `ratio` is the request's time over the anchor's.
void BM_WriteRowRequest(benchmark::State &state) {
  std::vector<unsigned char> key(static_cast<std::size_t>(state.range(0)), 'k');
  STREAM *out = stream_open_bytes(nullptr, 0, "w");
  RunBesideHand(state, key, [&] {
    dbc_request_prepare(EXE_ROW_CNTR);
    ZDB_REQUEST &r = dbc_request();
    std::strcpy(r.row_cntr.table, "tcabc001");
    r.row_cntr.row = key.data();
    r.row_cntr.row_len = static_cast<std::uint16_t>(key.size());
    client_send_commu_funcs()[EXE_ROW_CNTR](&r, out);
    sseek(out, 0, 0);
  });
  sclose(out);
}
BENCHMARK(BM_WriteRowRequest)->Arg(16)->Arg(512)->Arg(4096);

// The writer alone, beside the same anchor: the request block is prepared
// once and the request taken back from the write buffer after each write,
// so neither the block's reset nor the stream's flush is counted.
void BM_WriteRowRequestFields(benchmark::State &state) {
  std::vector<unsigned char> key(static_cast<std::size_t>(state.range(0)), 'k');
  STREAM *out = stream_open_bytes(nullptr, 0, "w");
  dbc_request_prepare(EXE_ROW_CNTR);
  ZDB_REQUEST &r = dbc_request();
  std::strcpy(r.row_cntr.table, "tcabc001");
  r.row_cntr.row = key.data();
  r.row_cntr.row_len = static_cast<std::uint16_t>(key.size());
  ZDB_WRITER write = client_send_commu_funcs()[EXE_ROW_CNTR];
  write(&r, out);  // the write buffer exists from here
  const std::size_t size = static_cast<std::size_t>(stream_stell(out));
  stream_unwrite(out, size);
  RunBesideHand(state, key, [&] {
    benchmark::DoNotOptimize(write(&r, out));
    stream_unwrite(out, size);
  });
  sclose(out);
}
BENCHMARK(BM_WriteRowRequestFields)->Arg(16)->Arg(512)->Arg(4096);

void BM_ReadRowReply(benchmark::State &state) {
  std::size_t n = static_cast<std::size_t>(state.range(0));
  std::vector<unsigned char> reply;
  reply.push_back(static_cast<unsigned char>(n >> 8));
  reply.push_back(static_cast<unsigned char>(n & 0xFF));
  reply.insert(reply.end(), n, 'r');
  reply.insert(reply.end(), 4, 0);
  std::vector<unsigned char> row(n);
  STREAM *in = stream_open_bytes(reply.data(), reply.size(), "r");
  for (auto _ : state) {
    sseek(in, 0, 0);
    ZDB_REQUEST &r = dbc_request();
    r.code = EXE_ROW_CNTR;
    r.row_cntr.row = row.data();
    r.row_cntr.row_capacity = row.size();
    benchmark::DoNotOptimize(client_get_commu_funcs()[EXE_ROW_CNTR](&r, in));
  }
  sclose(in);
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadRowReply)->Arg(16)->Arg(512)->Arg(4096);

}  // namespace
