#include "sql/roles/roles_cache.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "sql/common/sql_exception.h"
#include "sql/validate/vt_search_cond.h"

SQLRolesCacheKey::SQLRolesCacheKey(char const *tableName, int compnr) : name_(), compnr_(compnr) {
  // Up to eight bytes of the name, the rest of the key NUL bytes.
  if (tableName != nullptr) std::memcpy(name_, tableName, strnlen(tableName, kNameBytes));
}

unsigned long SQLRolesCacheKey::Hash() const {
  std::uint32_t sum = 0;
  for (int i = 0; i < kNameBytes; ++i) {
    sum += static_cast<std::uint32_t>((i + 1) * static_cast<int>(static_cast<signed char>(name_[i])));
  }
  sum += static_cast<std::uint32_t>(9) * static_cast<std::uint32_t>(compnr_);
  return sum;
}

bool SQLRolesCacheKey::operator==(SQLRolesCacheKey const &other) const {
  return compnr_ == other.compnr_ && std::memcmp(name_, other.name_, kNameBytes) == 0;
}

SQLRolesCachedSearchCond::SQLRolesCachedSearchCond(SQLVTSCSearchCond *condition, SQLSchemaPtr schema)
    : condition_(condition), schema_(std::move(schema)) {}

// The condition goes before the schema that its columns point into.
SQLRolesCachedSearchCond::~SQLRolesCachedSearchCond() { condition_.reset(); }

SQLRolesCachedException::SQLRolesCachedException(char const *state, int error, SQLString const &message)
    : state_(), error_(error), message_(message) {
  std::strncpy(state_, state != nullptr ? state : "", sizeof state_ - 1);
}

SQLVTSCSearchCond *SQLRolesCachedException::GetCachedResult() { throw SQLException(state_, error_, message_); }

SQLVTSCSearchCond *SQLRolesCachedBadAlloc::GetCachedResult() { throw std::bad_alloc(); }
