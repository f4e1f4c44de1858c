// Speed of the expression engines: LIKE-style regular expressions over long
// subjects, and range checks as the domain check runs them.
#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/yy_expr.h"

namespace {

std::vector<char> compile_like(const std::string &regex) {
  std::vector<char> buf(16384);
  if (!yy_expr_compile_low_level(regex.c_str(), buf.data(), buf.data() + buf.size() - 1, 0))
    buf.clear();
  return buf;
}

std::string random_text(size_t n) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> letter('a', 'z');
  std::string s(n, ' ');
  for (char &c : s) c = static_cast<char>(letter(rng));
  return s;
}

void run_step(benchmark::State &state, const std::string &regex, const std::string &subject) {
  std::vector<char> prog = compile_like(regex);
  if (prog.empty()) {
    state.SkipWithError("pattern did not compile");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(yy_expr_step(subject.c_str(), prog.data()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(subject.size()));
}

// LIKE '%needle%' over text that does not contain it.
void BM_LikeContains(benchmark::State &state) {
  run_step(state, "^.*needle.*$", random_text(static_cast<size_t>(state.range(0))));
}
BENCHMARK(BM_LikeContains)->Arg(1 << 10)->Arg(1 << 16);

// LIKE '%a%e%i%o%u_z' over random letters: several loops alive at once.
void BM_LikeManyWildcards(benchmark::State &state) {
  run_step(state, "^.*a.*e.*i.*o.*u.z$", random_text(static_cast<size_t>(state.range(0))));
}
BENCHMARK(BM_LikeManyWildcards)->Arg(1 << 10)->Arg(1 << 16);

// LIKE '%a%a%a%a%a%b' over a run of 'a': exponential for a backtracking matcher.
void BM_LikePathological(benchmark::State &state) {
  run_step(state, "^.*a.*a.*a.*a.*a.*b$", std::string(static_cast<size_t>(state.range(0)), 'a'));
}
BENCHMARK(BM_LikePathological)->Arg(1 << 10)->Arg(1 << 16);

// LIKE '%son%' over short values, as a filter runs it row after row.
void BM_LikeShortRows(benchmark::State &state) {
  run_step(state, "^.*son.*$", "Johansson-Smithers, Anna-Liisa   ");
}
BENCHMARK(BM_LikeShortRows);

// LIKE 'qwerty%' over 64 KiB that starts with the prefix (decided after it)
// or differs in its sixth byte (decided there), as a NUL-terminated subject:
// neither may read the rest. The anchor is SQLite's LIKE of the same
// pattern and subject; `ratio` is the engine's time over the anchor's.
void LikePrefix(benchmark::State &state, char const *start) {
  std::vector<char> prog = compile_like("^qwerty.*$");
  std::string subject = start + random_text(static_cast<size_t>(state.range(0)));
  int expected = sqlite3_strlike("qwerty%", subject.c_str(), 0) == 0;
  double own = 0, anchor = 0;
  constexpr int kBatch = 64;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(yy_expr_step(subject.c_str(), prog.data()));
    auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(sqlite3_strlike("qwerty%", subject.c_str(), 0));
    auto t2 = std::chrono::steady_clock::now();
    own += std::chrono::duration<double>(t1 - t0).count();
    anchor += std::chrono::duration<double>(t2 - t1).count();
  }
  if (yy_expr_step(subject.c_str(), prog.data()) != expected) state.SkipWithError("results differ");
  double calls = static_cast<double>(state.iterations()) * kBatch;
  state.counters["own_ns"] = 1e9 * own / calls;
  state.counters["anchor_ns"] = 1e9 * anchor / calls;
  state.counters["ratio"] = own / anchor;
}
void BM_LikePrefix(benchmark::State &state) { LikePrefix(state, "qwerty"); }
BENCHMARK(BM_LikePrefix)->Arg(1 << 16);
void BM_LikePrefixMismatch(benchmark::State &state) { LikePrefix(state, "qwertz"); }
BENCHMARK(BM_LikePrefixMismatch)->Arg(1 << 16);

// Times `own` and `anchor` over the same values in one loop; `ratio` is
// own's time over the anchor's.
template <typename Own, typename Anchor>
void Versus(benchmark::State &state, Own own, Anchor anchor) {
  constexpr int kBatch = 256;
  double ownTime = 0, anchorTime = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(own(i));
    auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(anchor(i));
    auto t2 = std::chrono::steady_clock::now();
    ownTime += std::chrono::duration<double>(t1 - t0).count();
    anchorTime += std::chrono::duration<double>(t2 - t1).count();
  }
  double calls = static_cast<double>(state.iterations()) * kBatch;
  state.counters["own_ns"] = 1e9 * ownTime / calls;
  state.counters["anchor_ns"] = 1e9 * anchorTime / calls;
  state.counters["ratio"] = ownTime / anchorTime;
}

// A domain range check of an integer column, beside the same test written
// out by hand, over values inside and outside the ranges.
void BM_RangeIntegerList(benchmark::State &state) {
  YY_EXPR *e = yy_expr_compile("1..9, 20, 30..39 or >= 1000 and <= 2000", nullptr);
  if (!e) return state.SkipWithError("range did not compile");
  std::vector<int32_t> values;
  std::mt19937 rng(1);
  for (int i = 0; i < 256; ++i) values.push_back(static_cast<int32_t>(rng() % 2100));
  for (int32_t v : values) {
    bool hand = (v >= 1 && v <= 9) || v == 20 || (v >= 30 && v <= 39) || (v >= 1000 && v <= 2000);
    if (yy_b_express(e, YY_INTEGER, &v) != hand) return state.SkipWithError("results differ");
  }
  Versus(
      state, [&](int i) { return yy_b_express(e, YY_INTEGER, &values[static_cast<size_t>(i)]); },
      [&](int i) {
        int32_t v = values[static_cast<size_t>(i)];
        benchmark::DoNotOptimize(v);
        return int{(v >= 1 && v <= 9) || v == 20 || (v >= 30 && v <= 39) || (v >= 1000 && v <= 2000)};
      });
  yy_free_express(e);
}
BENCHMARK(BM_RangeIntegerList);

// Blank-padded byte order, written out by hand for the anchor.
int HandPadded(const char *a, const char *b) {
  size_t na = std::strlen(a), nb = std::strlen(b);
  for (size_t i = 0; i < na || i < nb; ++i) {
    unsigned char x = i < na ? static_cast<unsigned char>(a[i]) : ' ';
    unsigned char y = i < nb ? static_cast<unsigned char>(b[i]) : ' ';
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// A domain range check of a blank-padded string column, beside the same
// test by hand.
void BM_RangeStringRanges(benchmark::State &state) {
  YY_EXPR *e = yy_expr_compile("'A'..'F', 'X'..'Z', 'ZZZ'", nullptr);
  if (!e) return state.SkipWithError("range did not compile");
  const char *values[] = {"ZZZ         ", "B           ", "Q           ", "Y           "};
  auto hand = [](const char *v) {
    return int{(HandPadded(v, "A") >= 0 && HandPadded(v, "F") <= 0) ||
               (HandPadded(v, "X") >= 0 && HandPadded(v, "Z") <= 0) || HandPadded(v, "ZZZ") == 0};
  };
  for (const char *v : values)
    if (yy_b_express(e, YY_STRING, v) != hand(v)) return state.SkipWithError("results differ");
  Versus(
      state, [&](int i) { return yy_b_express(e, YY_STRING, values[i & 3]); },
      [&](int i) { return hand(values[i & 3]); });
  yy_free_express(e);
}
BENCHMARK(BM_RangeStringRanges);

}  // namespace
