// The entries of the roles manager's cache: per table and logical company
// number, the outcome of building the row restriction of the user's roles,
// kept for the rest of the process.
#pragma once

#include <memory>

#include "sql/common/sql_schema.h"
#include "sql/common/sql_string.h"

class SQLVTSCSearchCond;

// The cache key: the table name's first 8 bytes (a shorter name padded with
// NUL bytes, compared byte for byte) and the logical company number.
class SQLRolesCacheKey {
 public:
  static constexpr int kNameBytes = 8;

  SQLRolesCacheKey(char const *tableName, int compnr);

  // The sum over i = 1..8 of i times the signed value of name byte i, plus 9
  // times the company number, as an unsigned 32-bit value.
  unsigned long Hash() const;
  bool operator==(SQLRolesCacheKey const &other) const;

 private:
  char name_[kNameBytes];
  int compnr_;
};

inline unsigned long SQLRolesCacheKeyHash(SQLRolesCacheKey const &key) { return key.Hash(); }
inline bool SQLRolesCacheKeyEqual(SQLRolesCacheKey const &a, SQLRolesCacheKey const &b) { return a == b; }

// One cache entry.
class SQLRolesCachedElement {
 public:
  SQLRolesCachedElement() = default;
  SQLRolesCachedElement(SQLRolesCachedElement const &) = delete;
  SQLRolesCachedElement &operator=(SQLRolesCachedElement const &) = delete;
  virtual ~SQLRolesCachedElement() = default;

  // The cached condition (owned by the entry), null for no restriction;
  // entries of a failure throw it again.
  virtual SQLVTSCSearchCond *GetCachedResult() { return nullptr; }
};

// A condition, or none (null: no restriction).
class SQLRolesCachedSearchCond : public SQLRolesCachedElement {
 public:
  // Takes the condition over. schema: the table's schema, held while the
  // condition's column references point at its descriptors (may be null).
  SQLRolesCachedSearchCond(SQLVTSCSearchCond *condition, SQLSchemaPtr schema);
  ~SQLRolesCachedSearchCond() override;

  SQLVTSCSearchCond *GetCachedResult() override { return condition_.get(); }

 private:
  std::unique_ptr<SQLVTSCSearchCond> condition_;
  SQLSchemaPtr schema_;
};

// An SQL error: every lookup throws a new SQLException with the same
// SQLSTATE, native error and message.
class SQLRolesCachedException : public SQLRolesCachedElement {
 public:
  SQLRolesCachedException(char const *state, int error, SQLString const &message);

  [[noreturn]] SQLVTSCSearchCond *GetCachedResult() override;

 private:
  char state_[6];
  int error_;
  SQLString message_;
};

// Memory ran out: every lookup throws std::bad_alloc.
class SQLRolesCachedBadAlloc : public SQLRolesCachedElement {
 public:
  [[noreturn]] SQLVTSCSearchCond *GetCachedResult() override;
};
