// The two row data sets of a table, laid out from its dictionary: the
// update actions (sequence number, action kind and flags, then every stored
// column in row-offset order) and the reference-counter changes (the
// primary key's columns and two counters, sorted by key).
#include <vector>

#include "dbc/dict/dd.h"
#include "dbc/request/rds.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"
#include "platform/mal.h"

namespace {

constexpr int kHeaderColumns = 3;  // sequence number, action kind, action flags

RDS_COLUMN long_column(std::uint16_t offset) {
  RDS_COLUMN c{};
  c.code = RDS_LONG;
  c.state = RDS_ST_VALUE;
  c.size = 4;
  c.count = 1;
  c.offset = offset;
  return c;
}

// A list of mal blocks of group 50 that frees itself.
struct ColumnList {
  DD_COLUMN **list = nullptr;
  ~ColumnList() { mal_free(list); }
};

}  // namespace

RDS *rds_open_update_actions(const DD_TABLE *table, RDS_COLUMN_MAP **map, int *map_count) {
  if (table == nullptr) return nullptr;
  ColumnList stored{sort_columns_by_offset(table, nullptr)};
  if (stored.list == nullptr) {
    zdb_error(501);
    return nullptr;
  }
  std::vector<RDS_COLUMN> columns;
  for (int i = 0; i < kHeaderColumns; ++i) columns.push_back(long_column(static_cast<std::uint16_t>(4 * i)));
  long offset = 4 * kHeaderColumns, longs = 0;
  for (DD_COLUMN **c = stored.list; *c != nullptr; ++c) {
    if (offset > RDS_MAX_ROW) break;
    RDS_COLUMN rc = rds_column_from_dd(*c, static_cast<std::uint16_t>(offset), 0);
    columns.push_back(rc);
    offset += static_cast<long>(rc.size) * rc.count;
    if (rc.code == RDS_LSTRING || rc.code == RDS_LRAW) ++longs;
  }
  long n = static_cast<long>(columns.size());
  long largest = 4 + offset + 3 * n + 2 * longs;
  if (largest > RDS_MAX_ROW || offset > RDS_MAX_ROW) {
    log_mesg(__FILE__, __LINE__, "rds", 0, "Rds size (%ld,%ld) exceeds internal limit (%d)\n",
             largest, offset, RDS_MAX_ROW);
    return nullptr;
  }
  RDS *rds = rds_create(static_cast<int>(largest), static_cast<int>(offset), static_cast<int>(n),
                        columns.data(), 0, RDS_ENCODED);
  if (rds == nullptr) return nullptr;
  if (map != nullptr) {
    int count = table->column_count + 1;
    auto *m = static_cast<RDS_COLUMN_MAP *>(mal_allocater(sizeof(RDS_COLUMN_MAP) * (count + 1),
                                                          MAL_ID_POOL | MAL_ZERO, rds->alloc_id,
                                                          nullptr));
    if (m == nullptr) {
      rds_close(rds);
      zdb_error(501);
      return nullptr;
    }
    int k = 0;
    for (DD_COLUMN **c = stored.list; *c != nullptr && k < count; ++c, ++k)
      m[k] = RDS_COLUMN_MAP{*c, kHeaderColumns + k};
    *map = m;
    if (map_count != nullptr) *map_count = count;
  }
  return rds;
}

RDS *rds_open_refcount_actions(const DD_TABLE *table) {
  DD_KEY *key = key_desc(table, 1);
  if (key == nullptr) {
    log_mesg(__FILE__, __LINE__, "rds", 0, "table %s has no primary key",
             table != nullptr ? table->name : "?");
    zdb_error(215);
    return nullptr;
  }
  ColumnList parts{list_all_columns(key->parts, nullptr)};
  if (parts.list == nullptr) {
    zdb_error(501);
    return nullptr;
  }
  std::vector<RDS_COLUMN> columns;
  long offset = 0;
  for (DD_COLUMN **c = parts.list; *c != nullptr && offset <= RDS_MAX_ROW; ++c) {
    RDS_COLUMN rc = rds_column_from_dd(*c, static_cast<std::uint16_t>(offset), 0);
    columns.push_back(rc);
    offset += static_cast<long>(rc.size) * rc.count;
  }
  int k = static_cast<int>(columns.size());
  if (offset + 8 > RDS_MAX_ROW) {
    log_mesg(__FILE__, __LINE__, "rds", 0, "Rds size (%ld,%ld) exceeds internal limit (%d)\n",
             offset + 8, offset + 8, RDS_MAX_ROW);
    return nullptr;
  }
  columns.push_back(long_column(static_cast<std::uint16_t>(offset)));
  columns.push_back(long_column(static_cast<std::uint16_t>(offset + 4)));
  int length = static_cast<int>(offset + 8);
  RDS *rds = rds_create(length, length, k + 2, columns.data(), 0, RDS_SORTED);
  if (rds == nullptr) return nullptr;
  auto block = [rds](size_t size) {
    return mal_allocater(size, MAL_ID_POOL | MAL_ZERO, rds->alloc_id, nullptr);
  };
  rds->search_list = static_cast<std::int16_t *>(block(sizeof(std::int16_t) * (k + 1)));
  rds->group = static_cast<RDS_GROUP *>(block(sizeof(RDS_GROUP)));
  if (rds->search_list == nullptr || rds->group == nullptr) {
    rds_close(rds);
    zdb_error(501);
    return nullptr;
  }
  rds->group->key_columns = static_cast<std::uint16_t *>(block(sizeof(std::uint16_t) * (k + 1)));
  rds->group->groups = static_cast<RDS_GROUP_COLUMN *>(block(sizeof(RDS_GROUP_COLUMN) * 2));
  if (rds->group->key_columns == nullptr || rds->group->groups == nullptr) {
    rds_close(rds);
    zdb_error(501);
    return nullptr;
  }
  for (int i = 0; i < k; ++i) {
    rds->search_list[i] = static_cast<std::int16_t>(i + 1);
    rds->group->key_columns[i] = static_cast<std::uint16_t>(i + 1);
  }
  rds->group->group_count = 2;
  rds->group->groups[0] = RDS_GROUP_COLUMN{static_cast<std::uint16_t>(k), RDS_COUNTER_FIRST};
  rds->group->groups[1] = RDS_GROUP_COLUMN{static_cast<std::uint16_t>(k + 1), RDS_COUNTER_SECOND};
  return rds;
}
