#include "sql/statement/statement_cache.h"

#include <new>
#include <utility>

#include "sql/common/sql_logger.h"
#include "sql/statement/sql_resource.h"
#include "sql/statement/statement_data.h"

namespace {

// Plain pointers: the cache is destroyed explicitly by the SQL processor at
// exit, never by a static destructor whose order is unknown.
SQLStatementDataKeycharRecycler *g_cache = nullptr;
int g_capacity = -1;  // -1 until the setting was read

void TraceStats(char const *text, long value, bool withValue) {
  SQLLogger *log = SQLLogger::Instance();
  if (!log->LogFlagIsSet(SQLLogger::StmtCacheStats)) return;
  *log << text;
  if (withValue) *log << value;
  *log << endl;
}

void Create() {
  int capacity = SQLResource::qelt_sql_stmt_cache_size();
  g_capacity = capacity < 0 ? SQLStatementCache::kDefaultCapacity : capacity;
  if (g_capacity == 0) {
    TraceStats("SQL Statement cache disabled", 0, false);
    return;
  }
  g_cache = new SQLStatementDataKeycharRecycler(g_capacity, SQLTextHash, SQLTextEqual);
  TraceStats("SQL Statement cache size: ", g_capacity, true);
}

}  // namespace

std::unique_ptr<SQLStatementData> SQLStatementCache::Lookup(char const *text, int mode) {
  if (text == nullptr) return nullptr;
  if (g_cache == nullptr) {
    if (g_capacity == -1) Create();
    return nullptr;
  }
  std::unique_ptr<SQLStatementData> data;
  try {
    data = g_cache->Extract(text);
  } catch (RecyclerExNotExists const &) {
    return nullptr;
  }
  if (data->GetMode() != mode) return nullptr;  // destroys the data of the other mode
  return data;
}

void SQLStatementCache::Park(std::unique_ptr<char[]> text,
                             std::unique_ptr<SQLStatementData> data) noexcept {
  if (g_cache == nullptr || text == nullptr) return;
  try {
    g_cache->Insert(std::move(text), std::move(data));
  } catch (std::bad_alloc const &) {
    // Text and data were destroyed on the way out; the next prepare of the
    // text parses again.
  }
}

bool SQLStatementCache::Exists() { return g_cache != nullptr; }

SQLStatementDataKeycharRecycler *SQLStatementCache::Get() { return g_cache; }

void SQLStatementCache::Delete() {
  if (g_cache == nullptr) return;
  SQLLogger *log = SQLLogger::Instance();
  if (log->LogFlagIsSet(SQLLogger::StmtCacheStats)) {
    *log << "SQL Statement cache efficiency: " << g_cache->Efficiency() << endl;
  }
  delete g_cache;
  g_cache = nullptr;
}
