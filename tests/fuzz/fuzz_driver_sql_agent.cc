// The reference driver's SQL agent: the input is the packet buffer of one
// SQL_MESSAGE request (token strings as the client sends them), handled by
// an agent that holds the dictionary of one table in company 1 over an
// in-memory database. Whatever the packets, the agent answers or refuses
// them, never ends the process.
#include <sqlite3.h>

#include <string>
#include <vector>

#include "store/driver_dd.h"
#include "common/driver_wire.h"
#include "fuzz_support.h"
#include "sql/common/sql_exception.h"
#include "sql/sql_agent.h"

namespace drv = molvane::driver;

namespace {

drv::DdTableDesc Table() {
  drv::DdTableDesc desc;
  desc.name = "exemp010";
  desc.compnr = 1;
  desc.columns = {{"code", 6, 0, 6, 0, 1, {0, 0}},    {"emp", 4, 6, 3, 0, 1, {0, 0}},
                  {"price", 4, 10, 4, 0, 1, {5, 2}},  {"amount", 8, 14, 5, 0, 1, {5, 2}},
                  {"scores", 6, 22, 2, 0, 3, {0, 0}}, {"raw", 4, 28, 13, 0, 1, {0, 0}}};
  desc.keys = {{1, 0, 0, {1}}};
  return desc;
}

sqlite3 *Database() {
  static sqlite3 *db = [] {
    sqlite3 *d = nullptr;
    sqlite3_open(":memory:", &d);
    for (const std::string &sql : drv::TableStatements(Table(), 1))
      sqlite3_exec(d, sql.c_str(), nullptr, nullptr, nullptr);
    return d;
  }();
  return db;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const drv::DdTableDesc table = Table();
  static const bool ready = [] {
    molvane::fuzz::ScratchRoot();
    return true;
  }();
  (void)ready;
  drv::AgentContext ctx;
  ctx.table = [](const std::string &name, int physical) -> const drv::DdTableDesc * {
    return name == table.name && physical == 1 ? &table : nullptr;
  };
  ctx.logical = [](const std::string &, int physical) { return physical; };
  ctx.session_db = [](std::uint32_t session) { return session == 1 ? Database() : nullptr; };
  drv::SqlAgent agent(ctx, false);
  try {
    agent.HandleBatch(data, size);
  } catch (const drv::Malformed &) {
  } catch (const SQLException &) {
  }
  agent.SessionClosed(1);
  return 0;
}
