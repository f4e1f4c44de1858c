// Fetching a 1M-row table through the reference driver's SQL agent (the
// packets of prepare, attach, exec and fetch handled by the agent, every
// row set decoded by the library's row-set decoder as the client does),
// beside the anchor: sqlite3_step over the same SQLite table reading every
// column. Rows per fetch 100 and 1,000; the counter `ratio` is agent time
// over anchor time.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "store/driver_dd.h"
#include "sql/agent/agent_packets.h"
#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/value_store.h"
#include "sql/sql_agent.h"

namespace {

using namespace molvane::driver;

constexpr int kRows = 1000000;
constexpr std::uint32_t kSession = 1;

struct Fixture {
  sqlite3 *db = nullptr;
  DdCatalog catalog;
  std::unique_ptr<SqlAgent> agent;
  std::vector<SQLColumnDescriptor> columns = {
      SQLColumnDescriptor("id", SQL_INTEGER, 4, 1), SQLColumnDescriptor("name", SQL_STRING, 12, 1),
      SQLColumnDescriptor("price", SQL_REAL, 8, 1), SQLColumnDescriptor("qty", SQL_INTEGER, 2, 1)};
  Fixture() {
    sqlite3_open(":memory:", &db);
    DdTableDesc desc;
    desc.name = "bnchrows";
    desc.columns = {{"id", 4, 0, 3, 0, 1, {0, 0}},
                    {"name", 12, 4, 6, 0, 1, {0, 0}},
                    {"price", 8, 16, 5, 0, 1, {0, 0}},
                    {"qty", 2, 24, 2, 0, 1, {0, 0}}};
    std::string error;
    catalog.Add(db, desc, 1, &error);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt *ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO bnchrows001 VALUES (?, ?, ?, ?)", -1, &ins, nullptr);
    char name[13];
    for (int i = 0; i < kRows; ++i) {
      std::snprintf(name, sizeof name, "name%-8d", i % 100000);
      sqlite3_bind_int(ins, 1, i);
      sqlite3_bind_blob(ins, 2, name, 12, SQLITE_STATIC);
      sqlite3_bind_double(ins, 3, i * 0.25);
      sqlite3_bind_int(ins, 4, i % 1000);
      sqlite3_step(ins);
      sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    AgentContext ctx{[this](const std::string &t, int c) { return catalog.Find(t, c); },
                     [](const std::string &, int c) { return c; },
                     [this](std::uint32_t s) { return s == kSession ? db : nullptr; }, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr};
    agent = std::make_unique<SqlAgent>(ctx, false);
  }
};

Fixture &F() {
  static Fixture f;
  return f;
}

double g_anchor_ns = 0;  // per row

void AddPacket(SQLTokenString &buffer, SQLTokenString &packet) {
  buffer.AppendBs4(packet.Length());
  buffer.AppendTokenString(packet);
  packet.Reset();
}

std::vector<std::uint8_t> Exchange(SQLTokenString &buffer) {
  const unsigned char *b;
  int n;
  buffer.GetString(b, n);
  std::vector<std::uint8_t> reply = F().agent->HandleBatch(b, static_cast<std::size_t>(n));
  buffer.Reset();
  return reply;
}

void BM_TableFetch_SQLiteStep(benchmark::State &state) {
  Fixture &f = F();
  sqlite3_stmt *stmt = nullptr;
  sqlite3_prepare_v2(f.db, "SELECT id, name, price, qty FROM bnchrows001", -1, &stmt, nullptr);
  auto start = std::chrono::steady_clock::now();
  long rows = 0;
  for (auto _ : state) {
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_int(stmt, 0));
      benchmark::DoNotOptimize(sqlite3_column_blob(stmt, 1));
      benchmark::DoNotOptimize(sqlite3_column_bytes(stmt, 1));
      benchmark::DoNotOptimize(sqlite3_column_double(stmt, 2));
      benchmark::DoNotOptimize(sqlite3_column_int(stmt, 3));
      ++rows;
    }
    sqlite3_reset(stmt);
  }
  double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  g_anchor_ns = ns / static_cast<double>(rows);
  sqlite3_finalize(stmt);
  state.SetItemsProcessed(rows);
}

void BM_TableFetch_Agent(benchmark::State &state) {
  Fixture &f = F();
  int per_fetch = static_cast<int>(state.range(0));
  std::vector<SQLValueStore> stores(f.columns.size());
  std::vector<SQLValueStore *> sp;
  std::vector<SQLColumnDescriptor const *> dp;
  for (std::size_t i = 0; i < stores.size(); ++i) {
    sp.push_back(&stores[i]);
    dp.push_back(&f.columns[i]);
  }
  SQLNetWorkRowSetRowExtractor extractor(static_cast<int>(stores.size()), sp.data(), dp.data());
  SQLTokenString buffer(256), packet(64);
  std::int32_t id = 0;
  long rows = 0;
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    ++id;
    packet.AppendToken(SQLNWTPacketForStmt);
    packet.AppendBs4(id);
    packet.AppendToken(SQLNWTPacketPrepare);
    packet.AppendToken(SQLNWTRSTable);
    packet.AppendMemory("bnchrows", 8);
    packet.AppendBs2(1);
    packet.AppendToken(SQLNWTNoIndexHints);
    AddPacket(buffer, packet);
    packet.AppendToken(SQLNWTPacketForStmt);
    packet.AppendBs4(id);
    packet.AppendToken(SQLNWTPacketAttach);
    packet.AppendBs4(kSession);
    AddPacket(buffer, packet);
    packet.AppendToken(SQLNWTPacketForStmt);
    packet.AppendBs4(id);
    packet.AppendToken(SQLNWTPacketExec);
    AddPacket(buffer, packet);
    for (;;) {
      packet.AppendToken(SQLNWTPacketForStmt);
      packet.AppendBs4(id);
      packet.AppendToken(SQLNWTPacketFetch);
      packet.AppendBs4(per_fetch);
      AddPacket(buffer, packet);
      std::vector<std::uint8_t> reply = Exchange(buffer);
      SQLTokenString set(reply.data() + 5, static_cast<int>(reply.size()) - 5);
      if (set.PeekToken() != SQLNWTResultSet) break;
      extractor.DefineRowSet(set);
      while (extractor.Fetch()) ++rows;
    }
    packet.AppendToken(SQLNWTPacketForStmt);
    packet.AppendBs4(id);
    packet.AppendToken(SQLNWTPacketDestroy);
    AddPacket(buffer, packet);
    Exchange(buffer);
  }
  double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  state.SetItemsProcessed(rows);
  if (g_anchor_ns > 0 && rows > 0) state.counters["ratio"] = ns / static_cast<double>(rows) / g_anchor_ns;
}

BENCHMARK(BM_TableFetch_SQLiteStep)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TableFetch_Agent)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
