// Keys and column lists of a table: key descriptors by index number, key
// sizes, and the null-ended lists of elementary columns that row operations
// and the SQL schema walk.
#include <algorithm>

#include "dbc/dict/dd.h"
#include "platform/mal.h"

namespace {

// Combined columns may nest; deeper nesting than this is a broken dictionary.
constexpr int kMaxNesting = 16;

DD_COLUMN **NewList(size_t entries) {
  return static_cast<DD_COLUMN **>(mal_allocater(sizeof(DD_COLUMN *) * (entries + 1), 50, 0, nullptr));
}

bool IsCombined(const DD_COLUMN *c) { return c->type == DDT_COMBINED && c->members != nullptr; }

int KeySize(DD_COLUMN *const *parts, int depth) {
  if (parts == nullptr || depth > kMaxNesting) return 0;
  int size = 0;
  for (int i = 0; parts[i] != nullptr && i < DD_MAX_LIST; ++i) {
    const DD_COLUMN *c = parts[i];
    if (c->type == DDT_COMBINED)
      size += IsCombined(c) ? KeySize(c->members, depth + 1) : 0;
    else
      size += c->length;
  }
  return size;
}

// Appends the elementary columns of one column (itself when not combined),
// skipping columns not stored in the row.
void Collect(const DD_COLUMN *c, DD_COLUMN **buf, int &n, int depth) {
  if (depth > kMaxNesting || n >= DD_MAX_LIST) return;
  if (c->type == DDT_COMBINED) {
    if (!IsCombined(c)) return;
    for (int i = 0; c->members[i] != nullptr && n < DD_MAX_LIST; ++i)
      Collect(c->members[i], buf, n, depth + 1);
    return;
  }
  if (c->flags & DDF_NOT_STORED) return;
  buf[n++] = const_cast<DD_COLUMN *>(c);
}

int IsPart(DD_COLUMN *const *parts, const DD_COLUMN *column, int depth) {
  if (parts == nullptr || depth > kMaxNesting) return 0;
  for (int i = 0; parts[i] != nullptr && i < DD_MAX_LIST; ++i) {
    if (parts[i] == column) return 1;
    if (IsCombined(parts[i]) && IsPart(parts[i]->members, column, depth + 1)) return 1;
  }
  return 0;
}

}  // namespace

DD_KEY *key_desc(const DD_TABLE *table, int index_nr) {
  if (table == nullptr || table->keys == nullptr) return nullptr;
  for (int i = 0; i < table->key_count; ++i)
    if (table->keys[i].index_nr == index_nr) return &table->keys[i];
  return nullptr;
}

DD_COLUMN **search_key_parts(const DD_TABLE *table, int index_nr) {
  DD_KEY *key = key_desc(table, index_nr);
  return key ? key->parts : nullptr;
}

int _zdb_key_size(DD_COLUMN *const *parts) { return KeySize(parts, 0); }

int zdb_max_key_size_of_table(const DD_TABLE *table) {
  int max = 0;
  if (table == nullptr || table->keys == nullptr) return 0;
  for (int i = 0; i < table->key_count; ++i) max = std::max(max, _zdb_key_size(table->keys[i].parts));
  return max;
}

int is_key_part(DD_COLUMN *const *parts, const DD_COLUMN *column) { return IsPart(parts, column, 0); }

DD_COLUMN **sort_columns_by_offset(const DD_TABLE *table, DD_COLUMN **buf) {
  if (table == nullptr) return nullptr;
  if (buf == nullptr && (buf = NewList(table->column_count)) == nullptr) return nullptr;
  int n = 0;
  for (int i = 0; i < table->column_count; ++i) {
    DD_COLUMN *c = &table->columns[i];
    if (c->type != DDT_COMBINED && !(c->flags & DDF_NOT_STORED)) buf[n++] = c;
  }
  std::stable_sort(buf, buf + n,
                   [](const DD_COLUMN *a, const DD_COLUMN *b) { return a->offset < b->offset; });
  buf[n] = nullptr;
  return buf;
}

DD_COLUMN **list_column_columns(const DD_COLUMN *column, DD_COLUMN **buf) {
  if (column == nullptr) return nullptr;
  if (buf == nullptr && (buf = NewList(DD_MAX_LIST)) == nullptr) return nullptr;
  int n = 0;
  Collect(column, buf, n, 0);
  buf[n] = nullptr;
  return buf;
}

DD_COLUMN **list_index_columns(const DD_COLUMN *column, DD_COLUMN **buf) {
  return list_column_columns(column, buf);
}

DD_COLUMN **list_all_columns(DD_COLUMN *const *list, DD_COLUMN **buf) {
  if (list == nullptr) return nullptr;
  if (buf == nullptr && (buf = NewList(DD_MAX_LIST)) == nullptr) return nullptr;
  int n = 0;
  for (int i = 0; list[i] != nullptr && i < DD_MAX_LIST; ++i) Collect(list[i], buf, n, 0);
  buf[n] = nullptr;
  return buf;
}

int get_nr_columns(DD_COLUMN *const *list) {
  int n = 0;
  while (list && list[n] != nullptr) ++n;
  return n;
}
