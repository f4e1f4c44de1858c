// Delayed-lock store and domain checks: the work a locked or delayed read
// adds per row (a put), a delete or update adds (a lookup by id and by key),
// and a checked row action adds (a row's domain check).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include <molvane/zdb.h>

#include "dbc/dict/dd.h"
#include "dbc/dlock/dlock.h"
#include "dbc/domain/domain_check.h"
#include "dbc/session/zdb_trans.h"
#include "platform/yy_expr.h"

namespace {

constexpr int kRowLength = 64 + 6;

struct Table {
  Table() {
    std::snprintf(code.name, sizeof code.name, "exbnc010.code");
    code.type = DDT_STRING, code.offset = 0, code.length = 12, code.depth = 1;
    code.domain = &text;
    std::snprintf(qty.name, sizeof qty.name, "exbnc010.qty");
    qty.type = DDT_LONG, qty.offset = 12, qty.length = 4, qty.depth = 1, qty.flags = DDF_FILL;
    qty.domain = &number;
    text.type = DDT_STRING, text.length = 12, text.value = 'u';
    text.attributes = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789\0#\0\0\0";
    number.type = DDT_LONG, number.length = 4;
    number.range = yy_expr_compile("1..1000000000", nullptr);
    columns[0] = code;
    columns[1] = qty;
    parts[0] = &columns[0];
    key = DD_KEY{parts, 1, 0, 0};
    table.columns = columns;
    table.column_count = 2;
    table.keys = &key;
    table.key_count = 1;
    table.dlock_offset = kRowLength - 6;
    table.row_length = kRowLength;
    std::strcpy(table.name, "exbnc010");
  }
  ~Table() { yy_free_express(static_cast<YY_EXPR *>(number.range)); }

  std::vector<unsigned char> Row(int i) const {
    std::vector<unsigned char> row(kRowLength, ' ');
    char code_text[16];
    std::snprintf(code_text, sizeof code_text, "K%011d", i);
    std::memcpy(row.data(), code_text, 12);
    const auto v = static_cast<uint32_t>(i + 1);
    row[12] = static_cast<unsigned char>(v >> 24), row[13] = static_cast<unsigned char>(v >> 16);
    row[14] = static_cast<unsigned char>(v >> 8), row[15] = static_cast<unsigned char>(v);
    return row;
  }

  DD_DOMAIN text{}, number{};
  DD_COLUMN code{}, qty{};
  DD_COLUMN columns[2]{};
  DD_COLUMN *parts[2] = {nullptr, nullptr};
  DD_KEY key{};
  DD_TABLE table{};
};

std::vector<std::vector<unsigned char>> Rows(const Table &t, int n) {
  std::vector<std::vector<unsigned char>> rows;
  for (int i = 0; i < n; ++i) rows.push_back(t.Row(i));
  return rows;
}

// One transaction: n distinct rows stored, then the generation released.
void BM_DlockPutGeneration(benchmark::State &state) {
  Table t;
  ZDB_TRANS trans;
  ZDB_DLOCK dlock{nullptr, &t.table, 1, &trans};
  const auto rows = Rows(t, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    for (const auto &row : rows) benchmark::DoNotOptimize(dlock_store_put(&dlock, row.data()));
    dlock_on_transaction_end(&trans, commit_trans);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  dlock_store_remove(&dlock);
}
BENCHMARK(BM_DlockPutGeneration)->Arg(100)->Arg(10000);

void BM_DlockLookups(benchmark::State &state) {
  Table t;
  ZDB_TRANS trans;
  ZDB_DLOCK dlock{nullptr, &t.table, 1, &trans};
  const int n = static_cast<int>(state.range(0));
  const auto rows = Rows(t, n);
  for (const auto &row : rows) dlock_store_put(&dlock, row.data());
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(dlock_store_get_of(&dlock, i + 1, rows[i].data()));
    benchmark::DoNotOptimize(dlock_store_find(&dlock, rows[i].data()));
    i = (i + 7919) % n;
  }
  dlock_store_remove(&dlock);
}
BENCHMARK(BM_DlockLookups)->Arg(10000);

void BM_DomainCheckRow(benchmark::State &state) {
  Table t;
  const auto row = t.Row(4711);
  for (auto _ : state) benchmark::DoNotOptimize(zdb_domain_check(&t.table, row.data()));
}
BENCHMARK(BM_DomainCheckRow);

}  // namespace
