// Rows evaluated per second by the executable expressions: a comparison of
// a column with a constant, an arithmetic expression over two columns, and
// a LIKE with a constant pattern (compiled once) against a text column. The
// row values change every iteration, as they do when a filter reads a table.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sql/common/column_descriptor.h"
#include "sql/common/value_store.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/sc_arith.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/sc_like.h"

namespace {

// A row of three columns that the benchmarks overwrite in place, and the
// column references that read it (level -1: the row lies one scope out).
class Row {
 public:
  Row() : descriptors_{{"i", SQL_INTEGER, 4, 1}, {"j", SQL_INTEGER, 4, 1}, {"t", SQL_STRING, 32, 1}} {
    values_[0].SetInteger(0);
    values_[1].SetInteger(0);
    values_[2].SetString("");
    auto map = std::make_unique<SQLValueStore const *[]>(3);
    for (int i = 0; i < 3; ++i) map[i] = &values_[i];
    context_.Scope()->PushMap(3, std::move(map));
  }
  SQLRSSCValueExpr *Column(int i) { return new SQLRSSCColumnRef(0, i, &descriptors_[i]); }
  SQLRSPrepareContext *Context() { return &context_; }
  SQLValueStore *Value(int i) { return &values_[i]; }

 private:
  SQLColumnDescriptor descriptors_[3];
  SQLValueStore values_[3];
  SQLRSPrepareContext context_;
};

pSQLRSSCValueExprList *One(SQLRSSCValueExpr *e) {
  auto *list = new pSQLRSSCValueExprList;
  list->Append(e);
  return list;
}

void BM_Comparison(benchmark::State &state) {
  Row row;
  SQLRSSCComparison cmp(One(row.Column(0)), SQLRSSC_LESS_THAN, One(new SQLRSSCIntegerConst(500)));
  cmp.Prepare(row.Context());
  int i = 0;
  for (auto _ : state) {
    row.Value(0)->SetInteger(i++ & 1023);
    benchmark::DoNotOptimize(cmp.Evaluate());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Comparison);

void BM_Arithmetic(benchmark::State &state) {
  Row row;
  // (i + j) * 3 - i MOD 7
  SQLRSSCSubtract expr(new SQLRSSCMultiply(new SQLRSSCAdd(row.Column(0), row.Column(1)), new SQLRSSCIntegerConst(3)),
                       new SQLRSSCModulo(row.Column(0), new SQLRSSCIntegerConst(7)));
  SQLValueStore const *result = expr.Prepare(row.Context());
  int i = 0;
  for (auto _ : state) {
    row.Value(0)->SetInteger(i & 65535);
    row.Value(1)->SetInteger(i++ & 255);
    expr.Evaluate();
    benchmark::DoNotOptimize(result->GetInteger());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Arithmetic);

void BM_Like(benchmark::State &state) {
  Row row;
  char const *pattern = "%abc_e%";
  SQLRSSCLike like(row.Column(2),
                   new SQLRSSCStringConst(reinterpret_cast<unsigned char const *>(pattern), std::strlen(pattern)),
                   nullptr, true);
  like.Prepare(row.Context());
  std::vector<std::string> texts = {"xxxxabcdexxxxxxxxxxxxxxxx", "abcfe", "no match in this one at all",
                                    "the quick brown abcXe fox"};
  size_t i = 0;
  for (auto _ : state) {
    std::string const &t = texts[i++ % texts.size()];
    row.Value(2)->SetString(reinterpret_cast<unsigned char const *>(t.data()), t.size());
    benchmark::DoNotOptimize(like.Evaluate());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Like);

}  // namespace
