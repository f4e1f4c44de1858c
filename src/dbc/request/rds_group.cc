// Sorted rows of a refcount-action RDS.
//
// Rows are stored at fixed places (row number x stored size) and never move;
// an index of row numbers keeps them in key order, searched by bisection.
// A row put with the key of a stored row is merged into it: its counters
// are coded (2 x change for a change, 2 x value + 1 for a set value) and a
// later change adds to or replaces the stored code.
#include <cstring>
#include <vector>

#include <molvane/datetime.h>

#include "dbc/request/rds.h"
#include "dbc/session/zdb_trans.h"
#include "platform/log.h"
#include "platform/mal.h"
#include "text/tss.h"

namespace {

std::int32_t get_i32(const unsigned char *p) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) |
                                   (p[2] << 8) | p[3]);
}
void put_i32(unsigned char *p, std::int32_t value) {
  auto v = static_cast<std::uint32_t>(value);
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

template <typename T>
int sign(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

int compare_column(const RDS_COLUMN &c, const unsigned char *a, const unsigned char *b) {
  int bytes = c.size * c.count;
  switch (c.code) {
    case RDS_STRING:
    case RDS_LSTRING:
      return TssStringNNCmpWithPadding(reinterpret_cast<const char *>(a),
                                       reinterpret_cast<const char *>(b), bytes, bytes);
    case RDS_RAW:
    case RDS_LRAW:
    case RDS_BYTE: {
      int r = std::memcmp(a, b, bytes);
      return sign(r, 0);
    }
    default:
      break;
  }
  for (int e = 0; e < c.count; ++e, a += c.size, b += c.size) {
    int r = 0;
    switch (c.code) {
      case RDS_SHORT: r = sign<int16_t>(static_cast<int16_t>((a[0] << 8) | a[1]),
                                        static_cast<int16_t>((b[0] << 8) | b[1])); break;
      case RDS_LONG: r = sign(get_i32(a), get_i32(b)); break;
      case RDS_FLOAT: r = sign(float_out(a), float_out(b)); break;
      case RDS_DOUBLE: r = sign(double_out(a), double_out(b)); break;
      default: r = sign(std::memcmp(a, b, c.size), 0); break;
    }
    if (r != 0) return r;
  }
  return 0;
}

// Compares two rows over a column list (1-based numbers, 0 ended; negative
// numbers descending), or over all columns in order when there is none.
int compare_rows(const RDS *rds, const unsigned char *a, const unsigned char *b,
                 const std::int16_t *list) {
  if (list == nullptr) {
    for (int i = 0; i < rds->column_count; ++i) {
      const RDS_COLUMN &c = rds->columns[i];
      if (int r = compare_column(c, a + c.offset, b + c.offset)) return r;
    }
    return 0;
  }
  for (; *list != 0; ++list) {
    int nr = *list < 0 ? -*list : *list;
    if (nr > rds->column_count) continue;
    const RDS_COLUMN &c = rds->columns[nr - 1];
    int r = compare_column(c, a + c.offset, b + c.offset);
    if (r != 0) return *list < 0 ? -r : r;
  }
  return 0;
}

// The coded counter of a new row, and the merge of a change into a stored code.
std::int32_t coded_new(int selector, std::int32_t v) {
  switch (selector) {
    case 1: return 2 * v;
    case 2: return -2 * v;
    case 3: return 2 * v + 1;
    default: return 0;
  }
}
std::int32_t coded_merge(int selector, std::int32_t stored) {
  switch (selector) {
    case 1: return stored + 2;
    case 2: return stored - 2;
    case 3: return 1;
    default: return stored;
  }
}
int selector_of(std::uint16_t kind, int flags) {
  return kind == RDS_COUNTER_FIRST ? (flags & 7) : ((flags & 56) >> 3);
}

int grow_index(RDS *rds) {
  std::int32_t capacity = rds->index_capacity + RDS_INDEX_STEP;
  auto *index = static_cast<std::int32_t *>(
      mal_allocater(sizeof(std::int32_t) * capacity, MAL_ID_POOL, rds->alloc_id, nullptr));
  if (index == nullptr) {
    zdb_error(501);
    return -1;
  }
  std::memcpy(index, rds->index, sizeof(std::int32_t) * rds->row_count);
  mal_free(rds->index);
  rds->index = index;
  rds->index_capacity = capacity;
  return 0;
}

bool sorted(const RDS *rds) { return rds != nullptr && (rds->flags & RDS_INDEX) && rds->index; }

}  // namespace

int rds_get_idx_row(RDS *rds, std::int32_t position, unsigned char *buffer) {
  if (!sorted(rds) || position < 0 || position >= rds->row_count) return -1;
  std::int32_t offset = rds->index[position] * rds->stored_size;
  return rds_read_data(rds, offset, buffer, rds->row_length) == rds->row_length ? 0 : -1;
}

int rds_srch(RDS *rds, const unsigned char *row, std::int32_t *position, unsigned char *work,
             const std::int16_t *column_list) {
  if (!sorted(rds)) return -1;
  std::vector<unsigned char> scratch;
  if (work == nullptr) {
    scratch.resize(rds->row_length);
    work = scratch.data();
  }
  std::int32_t low = 0, high = rds->row_count - 1;
  while (low <= high) {
    std::int32_t middle = (low + high) / 2;
    if (rds_get_idx_row(rds, middle, work) != 0) return -1;
    int r = compare_rows(rds, row, work, column_list);
    if (r == 0) {
      *position = middle;
      return 1;
    }
    if (r < 0)
      high = middle - 1;
    else
      low = middle + 1;
  }
  *position = low;
  return 0;
}

int rds_put_group(RDS *rds, const unsigned char *row, int action_flags) {
  if (!sorted(rds) || rds->group == nullptr) return -1;
  std::vector<unsigned char> stored(rds->row_length);
  std::int32_t position;
  int found = rds_srch(rds, row, &position, stored.data(), rds->search_list);
  if (found < 0) return -1;
  const RDS_GROUP &g = *rds->group;
  if (found == 1) {
    bool changed = false;
    for (int i = 0; i < g.group_count; ++i) {
      unsigned char *p = stored.data() + rds->columns[g.groups[i].index].offset;
      std::int32_t old = get_i32(p);
      std::int32_t merged = coded_merge(selector_of(g.groups[i].kind, action_flags), old);
      if (merged != old) {
        put_i32(p, merged);
        changed = true;
      }
    }
    if (!changed) return 0;
    return rds_write_data(rds, rds->index[position] * rds->stored_size, stored.data(),
                          rds->row_length);
  }
  std::memcpy(stored.data(), row, rds->row_length);
  for (int i = 0; i < g.group_count; ++i) {
    unsigned char *p = stored.data() + rds->columns[g.groups[i].index].offset;
    put_i32(p, coded_new(selector_of(g.groups[i].kind, action_flags), get_i32(p)));
  }
  if (rds->row_count == rds->index_capacity && grow_index(rds) != 0) return -1;
  // New rows go behind every row ever stored: entries removed from the index
  // keep their places, so a row number is never given out twice.
  std::int32_t number = rds->data_length / rds->stored_size;
  if (rds->stored_size < rds->row_length ||
      rds_write_data(rds, number * rds->stored_size, stored.data(), rds->row_length) != 0)
    return -1;
  std::memmove(rds->index + position + 1, rds->index + position,
               sizeof(std::int32_t) * (rds->row_count - position));
  rds->index[position] = number;
  ++rds->row_count;
  return 0;
}

void rds_del_idx(RDS *rds, std::int32_t position) {
  if (!sorted(rds) || position < 0 || position >= rds->row_count) return;
  rds->index[position] = RDS_INDEX_REMOVED;
  std::int32_t kept = 0;
  for (std::int32_t i = 0; i < rds->row_count; ++i)
    if (rds->index[i] != RDS_INDEX_REMOVED) rds->index[kept++] = rds->index[i];
  if (rds->current_row > position) --rds->current_row;
  rds->row_count = kept;
}
