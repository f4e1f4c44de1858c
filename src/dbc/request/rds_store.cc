// Creation, byte storage, reset and close of a row data set, and the RDS
// stream of EXE_UPDATE.
//
// The data of an RDS is one byte range addressed by offset. The first
// RDS_MEMORY bytes live in 16 chunks of 4096 bytes, taken from a
// process-wide free list when a write first reaches them and given back at
// reset and close; the bytes beyond live in an overflow file in the
// temporary directory, made at the first write that reaches them. The file
// is created exclusively (mode "x+") under a name made of the process id and
// a process-wide counter, so two RDSs, or two processes, never share one.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dbc/dict/dd.h"
#include "dbc/request/rds.h"
#include "dbc/session/zdb_trans.h"
#include "ipc/stream_int.h"
#include "platform/env.h"
#include "platform/log.h"
#include "platform/mal.h"

namespace {

constexpr int kOverflowError = 304;

// Chunks that came back from a reset or close, ready for the next RDS. The
// list lives as long as the process (its chunks are never given back).
std::vector<unsigned char *> &free_chunks() {
  static auto *chunks = new std::vector<unsigned char *>;
  return *chunks;
}

unsigned char *take_chunk() {
  auto &list = free_chunks();
  if (!list.empty()) {
    unsigned char *chunk = list.back();
    list.pop_back();
    return chunk;
  }
  static MAL_POOL pool{RDS_CHUNK_SIZE, 0};
  if (pool.alloc_id == 0) pool.alloc_id = mal_reserve_id(0, RDS_CHUNK_SIZE + 4);
  return pool.alloc_id > 0 ? static_cast<unsigned char *>(mal_new_entry(&pool)) : nullptr;
}

void give_back_chunks(RDS *rds) {
  for (auto &chunk : rds->chunks) {
    if (chunk != nullptr) free_chunks().push_back(chunk);
    chunk = nullptr;
  }
}

void remove_overflow_file(RDS *rds) {
  if (rds->overflow != nullptr) sclose(rds->overflow);
  rds->overflow = nullptr;
  if (rds->overflow_name != nullptr) {
    stream_unlink(rds->overflow_name);
    mal_free(rds->overflow_name);
  }
  rds->overflow_name = nullptr;
}

int overflow_failure(const char *what) {
  int saved = errno;
  log_mesg(__FILE__, __LINE__, "open_overflow_file", 0, "Can't %s overflow-file, errno %d", what,
           saved);
  return -1;
}

int open_overflow_file(RDS *rds) {
  static char prefix[512];
  static unsigned long counter = 0;
  if (prefix[0] == '\0')
    std::snprintf(prefix, sizeof prefix, "%s/qp%06d.", get_zuv_tmp(), static_cast<int>(getpid()));
  char name[600];
  for (;;) {
    std::snprintf(name, sizeof name, "%s%lx", prefix, counter++);
    rds->overflow = qelt_sopen(name, "x+");
    if (rds->overflow != nullptr) break;
    if (errno == EEXIST) continue;
    int saved = errno;
    log_mesg(__FILE__, __LINE__, "open_overflow_file", 0, "Can't create overflow-file <%s>, errno %d",
             name, saved);
    zdb_error(kOverflowError);
    return -1;
  }
  rds->overflow_name = mal_strsave(name, 0, 0);
  if (rds->overflow_name == nullptr) {
    sclose(rds->overflow);
    rds->overflow = nullptr;
    stream_unlink(name);
    zdb_error(kOverflowError);
    return -1;
  }
  return 0;
}

int write_overflow(RDS *rds, std::int32_t offset, const unsigned char *bytes, std::int32_t count) {
  if (rds->overflow == nullptr && open_overflow_file(rds) != 0) return -1;
  if (sseek(rds->overflow, offset - RDS_MEMORY, 0) < 0) return overflow_failure("write to");
  if (swrite_blok(bytes, static_cast<size_t>(count), rds->overflow) != count)
    return overflow_failure("write to");
  if (sflush(rds->overflow) != 0) return overflow_failure("flush to");
  return 0;
}

int read_overflow(RDS *rds, std::int32_t offset, unsigned char *bytes, std::int32_t count) {
  if (rds->overflow == nullptr) {
    errno = ENOENT;
    return overflow_failure("read from");
  }
  if (sseek(rds->overflow, offset - RDS_MEMORY, 0) < 0) return overflow_failure("read from");
  if (sread_blok(bytes, static_cast<size_t>(count), rds->overflow) != count)
    return overflow_failure("read from");
  return 0;
}

void *group_block(RDS *rds, size_t size) {
  return mal_allocater(size, MAL_ID_POOL | MAL_ZERO, rds->alloc_id, nullptr);
}

}  // namespace

RDS_COLUMN rds_column_from_dd(const DD_COLUMN *column, std::uint16_t offset, int type) {
  RDS_COLUMN c{};
  c.offset = offset;
  c.state = RDS_ST_VALUE;
  c.count = column->depth > 0 ? column->depth : 1;
  int element = column->length / c.count;
  bool single = c.count == 1;
  switch (type != 0 ? type : column->type) {
    case DDT_BYTE: case DDT_ENUM: c.code = RDS_BYTE; c.size = 1; break;
    case DDT_SHORT: c.code = RDS_SHORT; c.size = 2; break;
    case DDT_FLOAT: c.code = RDS_FLOAT; c.size = 4; break;
    case DDT_DOUBLE: c.code = RDS_DOUBLE; c.size = 8; break;
    case DDT_STRING: case DDT_MBSTRING:
      c.code = single && element > 8 ? RDS_LSTRING : RDS_STRING;
      c.size = static_cast<std::uint16_t>(element);
      break;
    case DDT_RAW:
      c.code = single && element > 8 ? RDS_LRAW : RDS_RAW;
      c.size = static_cast<std::uint16_t>(element);
      break;
    default: c.code = RDS_LONG; c.size = 4; break;  // long, date, time, u, v, set
  }
  return c;
}

RDS *rds_create(int stored_size, int row_length, int column_count, const RDS_COLUMN *columns,
                int alloc_id, std::uint32_t flags) {
  std::uint32_t kind = flags & 14;
  if (kind != RDS_ENCODED && kind != RDS_FIXED && kind != RDS_SORTED)
    std::fprintf(stderr, "Illegal flag for RDS: %o (%o)\n", kind, flags);
  if (stored_size > RDS_MAX_ROW || row_length > RDS_MAX_ROW || stored_size <= 0 ||
      row_length <= 0 || column_count < 0 || column_count > 0xFFFF) {
    log_mesg(__FILE__, __LINE__, "rds", 0, "Rds size (%d,%d) exceeds internal limit (%d)\n",
             stored_size, row_length, RDS_MAX_ROW);
    return nullptr;
  }
  bool own = alloc_id == 0;
  if (own && (alloc_id = mal_reserve_id(0, 1024)) < 0) {
    zdb_error(501);
    return nullptr;
  }
  auto *rds = static_cast<RDS *>(mal_allocater(sizeof(RDS), MAL_ID_POOL | MAL_ZERO, alloc_id, nullptr));
  if (rds == nullptr) {
    if (own) mal_free_id(alloc_id);
    zdb_error(501);
    return nullptr;
  }
  rds->alloc_id = alloc_id;
  rds->flags = flags | (own ? static_cast<std::uint32_t>(RDS_OWN_GROUP) : 0u);
  rds->stored_size = static_cast<std::uint16_t>(stored_size);
  rds->row_length = static_cast<std::uint16_t>(row_length);
  rds->column_count = static_cast<std::uint16_t>(column_count);
  bool ok = true;
  if (flags & RDS_ENCODED) {
    rds->work_row = static_cast<unsigned char *>(group_block(rds, row_length));
    rds->read_row = static_cast<unsigned char *>(group_block(rds, row_length));
    ok = rds->work_row != nullptr && rds->read_row != nullptr;
  }
  if (ok && (flags & RDS_INDEX)) {
    rds->index = static_cast<std::int32_t *>(group_block(rds, sizeof(std::int32_t) * RDS_INDEX_STEP));
    rds->index_capacity = RDS_INDEX_STEP;
    ok = rds->index != nullptr;
  }
  if (ok && column_count > 0) {
    rds->columns = static_cast<RDS_COLUMN *>(group_block(rds, sizeof(RDS_COLUMN) * column_count));
    ok = rds->columns != nullptr;
    if (ok) {
      std::memcpy(rds->columns, columns, sizeof(RDS_COLUMN) * column_count);
      for (int i = 0; i < column_count; ++i) rds->columns[i].state = RDS_ST_VALUE;
    }
  }
  if (!ok) {
    rds_close(rds);
    zdb_error(501);
    return nullptr;
  }
  return rds;
}

int rds_write_data(RDS *rds, std::int32_t offset, const void *bytes, std::int32_t count) {
  if (count <= 0 || offset < 0 || offset > rds->data_length ||
      count > INT32_MAX - offset)
    return -1;
  const auto *src = static_cast<const unsigned char *>(bytes);
  std::int32_t pos = offset, left = count;
  while (left > 0 && pos < RDS_MEMORY) {
    int nr = pos / RDS_CHUNK_SIZE, at = pos % RDS_CHUNK_SIZE;
    if (rds->chunks[nr] == nullptr && (rds->chunks[nr] = take_chunk()) == nullptr) {
      zdb_error(501);
      return -1;
    }
    std::int32_t n = std::min(left, RDS_CHUNK_SIZE - at);
    std::memcpy(rds->chunks[nr] + at, src, n);
    src += n;
    pos += n;
    left -= n;
  }
  if (left > 0 && write_overflow(rds, pos, src, left) != 0) return -1;
  if (offset + count > rds->data_length) rds->data_length = offset + count;
  return 0;
}

int rds_read_data(RDS *rds, std::int32_t offset, void *bytes, std::int32_t count) {
  if (count <= 0 || offset < 0 || offset >= rds->data_length) return -1;
  count = std::min(count, rds->data_length - offset);
  auto *dst = static_cast<unsigned char *>(bytes);
  std::int32_t pos = offset, left = count;
  while (left > 0 && pos < RDS_MEMORY) {
    int nr = pos / RDS_CHUNK_SIZE, at = pos % RDS_CHUNK_SIZE;
    std::int32_t n = std::min(left, RDS_CHUNK_SIZE - at);
    if (rds->chunks[nr] == nullptr) return -1;
    std::memcpy(dst, rds->chunks[nr] + at, n);
    dst += n;
    pos += n;
    left -= n;
  }
  if (left > 0 && read_overflow(rds, pos, dst, left) != 0) return -1;
  return count;
}

int rds_write_to_sp(RDS *rds, STREAM *out) {
  std::int32_t length = rds != nullptr ? rds->data_length : 0;
  if (w_long(out, length) != 0) return -1;
  if (length == 0) return 0;
  if (w_long(out, rds->row_count) != 0) return -1;
  unsigned char piece[RDS_SEND_PIECE];
  for (std::int32_t pos = 0; pos < length;) {
    int n = rds_read_data(rds, pos, piece, RDS_SEND_PIECE);
    if (n <= 0 || swrite_blok(piece, static_cast<size_t>(n), out) != n) return -1;
    pos += n;
  }
  return 0;
}

void set_rdscol_state(RDS_COLUMN *column, std::uint8_t state) {
  if ((column->state & state) == state) return;
  column->state = static_cast<std::uint8_t>((column->state & RDS_ST_KEPT) | state);
}

void prepare_rds_col_state(RDS *rds) {
  for (int i = 0; i < rds->column_count; ++i) rds->columns[i].state = RDS_ST_VALUE;
}

void rds_reset(RDS *rds, int force) {
  if (rds == nullptr) return;
  if (rds->row_count == 0 && rds->data_length == 0 && !force) return;
  remove_overflow_file(rds);
  give_back_chunks(rds);
  rds->data_offset = rds->row_count = rds->current_row = rds->data_length = 0;
}

void rds_close(RDS *rds) {
  if (rds == nullptr) return;
  remove_overflow_file(rds);
  give_back_chunks(rds);
  if (rds->flags & RDS_OWN_GROUP) {
    mal_free_id(rds->alloc_id);
    return;
  }
  // A borrowed group keeps living: give each block back singly.
  if (rds->group != nullptr) {
    mal_free(rds->group->key_columns);
    mal_free(rds->group->groups);
    mal_free(rds->group);
  }
  mal_free(rds->search_list);
  mal_free(rds->columns);
  mal_free(rds->index);
  mal_free(rds->work_row);
  mal_free(rds->read_row);
  mal_free(rds);
}
