// The row data set (RDS): the client's store of buffered changes.
//
// An update-action RDS (flag RDS_ENCODED) holds the buffered inserts,
// deletes and updates of one table and company, each row encoded as the
// columns that differ from the row before; it travels to the driver as one
// byte stream in EXE_UPDATE (rds_write_to_sp). A refcount-action RDS
// (RDS_SORTED) holds one row per referenced key with two coded counters,
// kept in key order through an index, and merges changes of the same key.
//
// The data of an RDS is one byte range: its first 64 KB live in 4096-byte
// memory chunks (recycled through a process-wide free list), the rest in an
// overflow file in the temporary directory, created exclusively and removed
// at reset and close.
#pragma once

#include <cstdint>

#include "ipc/stream.h"

struct DD_COLUMN;
struct DD_TABLE;

// Value kinds of an RDS column.
enum : std::uint32_t {
  RDS_BYTE = 1,      // unsigned byte
  RDS_SHORT = 2,     // signed 16-bit big-endian
  RDS_LONG = 3,      // signed 32-bit big-endian
  RDS_FLOAT = 4,     // stored float (float_out)
  RDS_DOUBLE = 5,    // stored double (double_out)
  RDS_STRING = 6,    // blank-padded text
  RDS_LSTRING = 7,   // long text: sent without its trailing blanks
  RDS_RAW = 8,       // raw bytes
  RDS_LRAW = 9,      // long raw value: sent without its trailing 0 bytes
};

// Column states. The low bits 1, 2, 4 and 64 name what the column holds;
// 8, 16, 32 and 128 are kept by set_rdscol_state.
enum : std::uint8_t {
  RDS_ST_VALUE = 1,
  RDS_ST_CLEAR = 2,
  RDS_ST_NULL = 4,
  RDS_ST_LAST = 16,   // on the wire: the last item of a row
  RDS_ST_UNREF = 64,
  RDS_ST_KEPT = 184,  // 8 | 16 | 32 | 128
};

// Flags of an RDS.
enum : std::uint32_t {
  RDS_ENCODED = 2,
  RDS_FIXED = 4,
  RDS_SORTED = 12,    // fixed rows with a sorted index
  RDS_INDEX = 8,
  RDS_OWN_GROUP = 32, // the RDS owns its allocator group
};

inline constexpr int RDS_MAX_ROW = 30960;        // largest stored size and row length
inline constexpr int RDS_CHUNK_SIZE = 4096;
inline constexpr int RDS_CHUNKS = 16;
inline constexpr int RDS_MEMORY = RDS_CHUNK_SIZE * RDS_CHUNKS;  // bytes kept in memory
inline constexpr int RDS_INDEX_STEP = 256;
inline constexpr int RDS_SEND_PIECE = 3096;      // bytes per swrite_blok of rds_write_to_sp
inline constexpr int RDS_INDEX_REMOVED = 0x7FFFFFFF;

// Group-column kinds of a refcount RDS.
inline constexpr std::uint16_t RDS_COUNTER_FIRST = 8;
inline constexpr std::uint16_t RDS_COUNTER_SECOND = 9;

// Buffered action kinds that the update-action RDS carries to the driver
// (column 2 of an update row).
enum : std::uint32_t {
  RDS_ACT_INSERT = 1,
  RDS_ACT_DELETE = 2,
  RDS_ACT_UPDATE_OLD = 3,
  RDS_ACT_UPDATE_NEW = 4,
  RDS_ACT_REFCOUNT = 5,
  RDS_ACT_DELETE_WHOLE = 6,
  RDS_ACT_UPDATE_WHOLE = 7,
  RDS_ACT_REFRESH = 8,
};

struct RDS_COLUMN {
  std::uint32_t code;        // RDS_BYTE .. RDS_LRAW
  std::uint8_t state;        // RDS_ST_*
  std::uint8_t prev_state;   // state in the last encoded row
  std::uint16_t size;        // bytes of one element
  std::uint16_t offset;      // position in the row
  std::uint16_t count;       // array depth, at least 1
};

// Group description of a refcount RDS.
struct RDS_GROUP_COLUMN {
  std::uint16_t index;  // 0-based column index
  std::uint16_t kind;   // RDS_COUNTER_FIRST or RDS_COUNTER_SECOND
};
struct RDS_GROUP {
  std::uint16_t *key_columns;   // 1-based column numbers, ended by 0
  std::uint16_t group_count;
  RDS_GROUP_COLUMN *groups;
};

struct RDS {
  unsigned char *chunks[RDS_CHUNKS];  // data bytes 0..65535, each chunk made at its first write
  RDS_COLUMN *columns;
  std::uint16_t column_count;
  std::uint16_t stored_size;   // fixed rows: the row length; encoded rows: the largest encoded row
  std::uint16_t row_length;    // bytes of one row in the caller's buffer
  std::int32_t row_count;
  std::int32_t current_row;    // next row to read (index position for a sorted RDS)
  std::int32_t data_length;
  char *overflow_name;         // while the overflow file exists
  STREAM *overflow;
  std::uint32_t flags;
  int alloc_id;
  RDS_GROUP *group;            // refcount RDS only
  std::int32_t data_offset;    // encoded rows: where the next row is read
  unsigned char *work_row;     // encoded rows: the previous row put
  unsigned char *read_row;     // encoded rows: the current row read
  std::int16_t *search_list;   // 1-based column numbers, ended by 0; negative: descending
  std::int32_t *index;         // sorted RDS: row numbers in key order
  std::int32_t index_capacity;
};

// ---- creation and storage (rds_store.cc) ----
// A column described from the dictionary at `offset`; `type` replaces the
// column's own type when not 0.
RDS_COLUMN rds_column_from_dd(const DD_COLUMN *column, std::uint16_t offset, int type);
RDS *rds_create(int stored_size, int row_length, int column_count, const RDS_COLUMN *columns,
                int alloc_id, std::uint32_t flags);
void rds_reset(RDS *rds, int force);
void rds_close(RDS *rds);
// Writes `count` bytes at `offset` (at most the data length); 0 or -1.
int rds_write_data(RDS *rds, std::int32_t offset, const void *bytes, std::int32_t count);
// Reads up to `count` bytes at `offset`, clipped to the data length; the
// count read or -1.
int rds_read_data(RDS *rds, std::int32_t offset, void *bytes, std::int32_t count);
// The RDS stream of EXE_UPDATE: u32 data length, u32 row count when the
// length is not 0, the data. 0 or -1.
int rds_write_to_sp(RDS *rds, STREAM *out);
void set_rdscol_state(RDS_COLUMN *column, std::uint8_t state);
// Gives every column the state 1 before a row is put.
void prepare_rds_col_state(RDS *rds);

// ---- encoded rows (rds_encode.cc) ----
// Appends a row, encoded against the row put before; 0, or -1 with the set
// as it was.
int rds_put_seq(RDS *rds, const unsigned char *row);
// 0 a row (copied into buffer when given), 1 no more rows, -1 error.
int rds_get_seq(RDS *rds, unsigned char *buffer);
// Restarts reading at the first row.
void rds_rewind(RDS *rds);
void rds_get_expand_row(RDS *rds, unsigned char *buffer);

// ---- sorted rows (rds_group.cc) ----
int rds_srch(RDS *rds, const unsigned char *row, std::int32_t *position, unsigned char *work,
             const std::int16_t *column_list);
int rds_put_group(RDS *rds, const unsigned char *row, int action_flags);
void rds_del_idx(RDS *rds, std::int32_t position);
// The stored row at an index position into buffer (row_length bytes); 0 or -1.
int rds_get_idx_row(RDS *rds, std::int32_t position, unsigned char *buffer);

// ---- dictionary layouts (rds_open.cc) ----
// One entry of the column map of rds_open_update_actions.
struct RDS_COLUMN_MAP {
  const DD_COLUMN *column;
  int index;  // 0-based RDS column index
};
RDS *rds_open_update_actions(const DD_TABLE *table, RDS_COLUMN_MAP **map, int *map_count);
RDS *rds_open_refcount_actions(const DD_TABLE *table);

// ---- dumps (rds_dump.cc) ----
void qpdump(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));
void dump_rds_rows(RDS *rds, int mode);
void dump_rds_row(RDS *rds, const unsigned char *row);
void dump_rds_row_reduced(RDS *rds, const unsigned char *encoded, int length);
