// The reference driver's SQL agent: the input is the packet buffer of one
// SQL_MESSAGE request (bs4 length and bytes per packet), handled by a fresh
// agent over a small table of an in-memory SQLite database, followed by the
// packet that resumes a batch kept for dictionaries. Whatever arrives, the
// agent answers or passes over; it never stops the process. Every input
// runs in a savepoint that is rolled back, so replays stay independent.
#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "store/driver_dd.h"
#include "fuzz_support.h"
#include "sql/sql_agent.h"

namespace {

using namespace molvane::driver;

struct Table {
  sqlite3 *db = nullptr;
  DdCatalog catalog;
  Table() {
    sqlite3_open(":memory:", &db);
    DdTableDesc desc;
    desc.name = "tbltst01";
    desc.columns = {{"id", 4, 0, 3, 0, 1, {0, 0}},
                    {"name", 6, 4, 6, 0, 1, {0, 0}},
                    {"price", 8, 10, 5, 0, 1, {0, 0}},
                    {"scores", 6, 18, 2, 0, 3, {0, 0}}};
    desc.keys = {{1, 0, 0, {0}}};
    std::string error;
    catalog.Add(db, desc, 10, &error);
    sqlite3_exec(db,
                 "INSERT INTO tbltst01010 VALUES (1, CAST('bob   ' AS BLOB), 2.5, 1, 2, 3),"
                 "(2, CAST('ann   ' AS BLOB), 10.0, 4, 5, 6), (3, CAST('ab    ' AS BLOB), -1.0, 7, 8, 9)",
                 nullptr, nullptr, nullptr);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static Table *table = [] {
    molvane::fuzz::ScratchRoot();
    return new Table();
  }();
  sqlite3_exec(table->db, "SAVEPOINT fuzz", nullptr, nullptr, nullptr);
  {
    AgentContext ctx{[](const std::string &t, int c) { return table->catalog.Find(t, c); },
                     [](const std::string &, int c) { return c; },
                     [](std::uint32_t s) { return s == 7 ? table->db : nullptr; }, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr};
    SqlAgent agent(ctx, size > 0 && (data[0] & 1) != 0);
    agent.HandleBatch(data, size);
    // The resume packet: bs4 6, token 3 (for the driver), token 28.
    static const std::uint8_t kResume[] = {3, 6, 0, 0, 0, 7, 3, 0, 7, 28, 0};
    agent.DictionaryArrived("tbltst01", 10);
    agent.HandleBatch(kResume, sizeof kResume);
  }
  sqlite3_exec(table->db, "ROLLBACK TO fuzz; RELEASE fuzz", nullptr, nullptr, nullptr);
  return 0;
}
