// The request protocol's cost per request: writing a row request into a
// stream buffer, and reading a row reply straight into the caller's buffer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "dbc/request_block.h"

namespace {

void BM_WriteRowRequest(benchmark::State &state) {
  std::vector<unsigned char> key(static_cast<std::size_t>(state.range(0)), 'k');
  STREAM *out = stream_open_bytes(nullptr, 0, "w");
  for (auto _ : state) {
    dbc_request_prepare(EXE_ROW_CNTR);
    ZDB_REQUEST &r = dbc_request();
    std::strcpy(r.row_cntr.table, "tcabc001");
    r.row_cntr.row = key.data();
    r.row_cntr.row_len = static_cast<std::uint16_t>(key.size());
    client_send_commu_funcs()[EXE_ROW_CNTR](&r, out);
    sseek(out, 0, 0);
  }
  sclose(out);
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_WriteRowRequest)->Arg(16)->Arg(512)->Arg(4096);

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
