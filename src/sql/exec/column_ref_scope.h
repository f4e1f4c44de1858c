// Run-time scopes of Prepare: where a column reference finds the value
// store that holds its column in the current row of its row source.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

class SQLRowSource;
class SQLValueStore;

// Two parallel stacks, one entry per row source whose expressions are being
// prepared: a map of that row source's current-row value stores, and the row
// source itself. Level 0 is the innermost entry, -1 the one around it, and so
// on. The stacks grow as deep as the tree nests; a level or column outside
// them is an internal error and stops through SQLAbort.
class SQLRSColumnRefScope {
 public:
  SQLRSColumnRefScope() = default;
  SQLRSColumnRefScope(SQLRSColumnRefScope const &) = delete;
  SQLRSColumnRefScope &operator=(SQLRSColumnRefScope const &) = delete;
  ~SQLRSColumnRefScope() = default;  // frees every map still pushed

  // One level deeper: the map of n value-store addresses (taken over).
  void PushMap(int n, std::unique_ptr<SQLValueStore const *[]> map);
  // Frees the top map.
  void PopMap();
  void PushRowSource(SQLRowSource *rowSource);  // not owned
  void PopRowSource();

  // The address at index column of the map at top + level (level <= 0).
  SQLValueStore const *GetValueStoreAddr(int level, unsigned column) const;
  // The row source at top + level (level <= 0).
  SQLRowSource *GetRowSource(int level) const;

  int MapDepth() const { return static_cast<int>(maps_.size()); }
  int RowSourceDepth() const { return static_cast<int>(rowSources_.size()); }

 private:
  struct Map {
    int count;                                        // addresses in the map
    std::unique_ptr<SQLValueStore const *[]> stores;  // one per column
  };
  std::vector<Map> maps_;
  std::vector<SQLRowSource *> rowSources_;
};

// Counts the executions of a prepared tree. The root row source owns it
// and moves it on at every Exec: an answer that holds for one execution
// (a subquery that reads nothing of the rows around it) is kept while the
// count stays, whatever is broken off and started again inside the tree.
class SQLRSExecutions {
 public:
  // What the tree may keep in memory of its subqueries' answers and its
  // leaves' held rows, all together (subquery_answers.h, held_rows.h).
  static constexpr size_t kMaxKept = size_t{64} << 20;

  unsigned long Current() const { return count_; }
  void Next() { ++count_; }
  // Reserves bytes of the bound; FALSE, and nothing reserved, beyond it.
  bool Reserve(size_t bytes) {
    if (bytes > kMaxKept - kept_) return false;
    kept_ += bytes;
    return true;
  }
  void Release(size_t bytes) { kept_ -= bytes < kept_ ? bytes : kept_; }
  size_t Free() const { return kMaxKept - kept_; }

 private:
  unsigned long count_ = 1;
  size_t kept_ = 0;
};

// The object handed down the tree by Prepare.
class SQLRSPrepareContext {
 public:
  SQLRSColumnRefScope *Scope() { return &scope_; }
  // The executions of the tree being prepared; null outside a root row
  // source's Prepare (nothing then holds longer than until its Reset).
  SQLRSExecutions *Executions() const { return executions_; }
  void SetExecutions(SQLRSExecutions *executions) { executions_ = executions; }

 private:
  SQLRSColumnRefScope scope_;
  SQLRSExecutions *executions_ = nullptr;  // the root's
};

// Makes the current row of a row source the innermost level of the scope
// while it lives: pushes the map of its GetValueStoreAddr(i) for every
// column, and the row source itself; pops both when it goes. A node uses it
// around the preparation of the expressions that read its child's row.
class SQLRSScopedRow {
 public:
  SQLRSScopedRow(SQLRSColumnRefScope *scope, SQLRowSource *rowSource);
  ~SQLRSScopedRow();
  SQLRSScopedRow(SQLRSScopedRow const &) = delete;
  SQLRSScopedRow &operator=(SQLRSScopedRow const &) = delete;

 private:
  SQLRSColumnRefScope *scope_;
};
