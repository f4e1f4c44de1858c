// Cost of the blank-padded TSS comparison against memcmp of the same bytes,
// on texts of 1-byte characters and of 4-byte characters, in both modes. The
// two texts differ only in their last character, so every byte is looked at.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/tss.h"

namespace {

enum Kind { kOneByte, kFourByte };

// Two texts of about `bytes` bytes that differ in their last character.
void MakeTexts(Kind kind, size_t bytes, std::string &a, std::string &b) {
  a.clear();
  b.clear();
  unsigned char wide[4];
  for (size_t i = 0; a.size() + 4 < bytes; ++i) {
    if (kind == kOneByte) {
      a += static_cast<char>("abcdefgh\xE9\xFC"[i % 10]);
    } else {
      TssEncodeUtfT(0x3B1 + static_cast<uint32_t>(i % 24), wide);  // Greek letters
      a.append(reinterpret_cast<char *>(wide), 4);
    }
  }
  b = a;
  if (kind == kOneByte) {
    a += 'x';
    b += 'y';
  } else {
    TssEncodeUtfT(0x6F22, wide);
    a.append(reinterpret_cast<char *>(wide), 4);
    TssEncodeUtfT(0x6F23, wide);
    b.append(reinterpret_cast<char *>(wide), 4);
  }
}

void UseMode(int mode) {
  setenv("TSS_MODE", mode == 2 ? "2" : "1", 1);
  TssReloadSettings();
  initialize_icuwrappers();
}

void BM_Memcmp(benchmark::State &state, Kind kind) {
  std::string a, b;
  MakeTexts(kind, static_cast<size_t>(state.range(0)), a, b);
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::memcmp(a.data(), b.data(), a.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * a.size()));
}

// The anchor is memcmp of the same bytes, timed in the same loop; `ratio`
// is the padded comparison's time over memcmp's.
void BM_PaddedCmp(benchmark::State &state, Kind kind, int mode) {
  UseMode(mode);
  std::string a, b;
  MakeTexts(kind, static_cast<size_t>(state.range(0)), a, b);
  const long la = static_cast<long>(a.size()), lb = static_cast<long>(b.size());
  constexpr int kBatch = 256;
  double own = 0, anchor = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) {
      benchmark::DoNotOptimize(TssStringNNCmpWithPadding(a.c_str(), b.c_str(), la, lb));
      benchmark::ClobberMemory();
    }
    auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) {
      benchmark::DoNotOptimize(std::memcmp(a.data(), b.data(), a.size()));
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
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBatch * a.size()));
}

// Shorter text padded with blanks: the tail is compared against blanks.
void BM_PaddedCmpTail(benchmark::State &state, int mode) {
  UseMode(mode);
  const std::string a(16, 'a');
  const std::string b = a + std::string(static_cast<size_t>(state.range(0)), ' ') + "z";
  for (auto _ : state) {
    benchmark::DoNotOptimize(TssStringNNCmpWithPadding(a.c_str(), b.c_str(), -1, -1));
  }
}

BENCHMARK_CAPTURE(BM_Memcmp, one_byte, kOneByte)->Arg(8)->Arg(32)->Arg(256);
BENCHMARK_CAPTURE(BM_Memcmp, four_byte, kFourByte)->Arg(8)->Arg(32)->Arg(256);
BENCHMARK_CAPTURE(BM_PaddedCmp, one_byte_classic, kOneByte, 1)->Arg(8)->Arg(32)->Arg(256);
BENCHMARK_CAPTURE(BM_PaddedCmp, one_byte_utft, kOneByte, 2)->Arg(8)->Arg(32)->Arg(256);
BENCHMARK_CAPTURE(BM_PaddedCmp, four_byte_classic, kFourByte, 1)->Arg(8)->Arg(32)->Arg(256);
BENCHMARK_CAPTURE(BM_PaddedCmp, four_byte_utft, kFourByte, 2)->Arg(8)->Arg(32)->Arg(256);
BENCHMARK_CAPTURE(BM_PaddedCmpTail, classic, 1)->Arg(32);
BENCHMARK_CAPTURE(BM_PaddedCmpTail, utft, 2)->Arg(32);

}  // namespace
