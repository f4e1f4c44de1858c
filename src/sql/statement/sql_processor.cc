#include "sql/statement/sql_processor.h"

#include <memory>

#include <molvane/zdb.h>

#include "dbc/zdb_errors.h"
#include "platform/log.h"
#include "sql/agent/net_agent_client.h"
#include "sql/common/sql_schema.h"
#include "sql/exec/text_reader.h"
#include "sql/common/sql_string.h"
#include "sql/roles/roles_mgr.h"
#include "sql/statement/statement_cache.h"

namespace {

SQLString *g_noMoreMemory = nullptr;  // owned by the processor
bool g_inHandler = false;             // the handler is logging

}  // namespace

SQLProcessor::SQLProcessor() {
  g_noMoreMemory = new SQLString("No more memory");
  previousHandler_ = std::set_new_handler(&SQLProcessor::OutOfMemory);
}

SQLProcessor::~SQLProcessor() {
  // The cached role conditions point into the schemas: they go first.
  SQLRolesMgrExit();
  // The reader's fetcher holds an agent statement and a schema.
  SQLTextReader::DeleteInstance();
  SQLSchemaMgr::Exit();
  SQLStatementCache::Delete();
  SQLNetAgentClient::DeleteInstance();
  delete g_noMoreMemory;
  g_noMoreMemory = nullptr;
  std::set_new_handler(previousHandler_);
}

void SQLProcessor::OutOfMemory() {
  zdb_errno = ZE_MEMORY;
  if (!g_inHandler) {
    g_inHandler = true;
    try {
      log_mesg(__FILE__, __LINE__, "Memory", LOG_ERROR, "Out of memory!");
    } catch (...) {
    }
    g_inHandler = false;
  }
  throw std::bad_alloc();
}

SQLString const &SQLProcessor::NoMoreMemory() {
  static SQLString const empty;  // only after the processor died
  return g_noMoreMemory != nullptr ? *g_noMoreMemory : empty;
}

// Created at load, before the statement pool; destroyed at exit, after it.
static SQLProcessor g_processor;
