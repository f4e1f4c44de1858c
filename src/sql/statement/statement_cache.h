// The statement cache: prepared statement data of the whole process, keyed
// by statement text.
//
// A statement that is reset or soft-closed parks its data here under its
// text buffer; the next prepare of an equal text with an equal mode takes it
// back and skips the parser and validation. The cache is a Recycler: when
// full, parking evicts (and destroys) the data parked longest ago. Its
// capacity comes from the setting qelt_sql_stmt_cache_size, read once at the
// first lookup of the process: a negative value gives kDefaultCapacity, 0
// keeps the cache off for the life of the process.
#pragma once

#include <memory>

#include "sql/common/sql_containers.h"

class SQLStatementData;

class SQLStatementCache {
 public:
  static constexpr int kDefaultCapacity = 330;

  // The parked data of `text`, removed from the cache, when its mode equals
  // `mode`; data parked under another mode is destroyed. Null on a miss and
  // while the cache is off. The first call of the process reads the capacity
  // and creates the cache (that call itself always misses).
  static std::unique_ptr<SQLStatementData> Lookup(char const *text, int mode);

  // Parks data under text (the cache takes both). Without a cache both are
  // destroyed. Memory running out while parking destroys both as well.
  static void Park(std::unique_ptr<char[]> text, std::unique_ptr<SQLStatementData> data) noexcept;

  // TRUE between the creation of the cache and Delete.
  static bool Exists();
  // The cache itself, or null.
  static SQLStatementDataKeycharRecycler *Get();

  // Traces the cache's efficiency (under SQLLogger::StmtCacheStats) and
  // destroys it with all it holds. Called at process exit.
  static void Delete();
};
