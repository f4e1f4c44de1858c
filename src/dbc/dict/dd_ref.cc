// References between tables: the reference mode text of the dumps, the
// reference record of a referencing column, the records that point at a
// table, and a search for a chain of references between two columns.
#include <cstring>

#include "dbc/dict/dd.h"
#include "dbc/dict/dd_state.h"

using namespace molvane::dd;

namespace {

unsigned ModeLetter(char c) {
  switch (c) {
    case 'r':
      return 1;
    case 'c':
      return 2;
    case 'n':
      return 3;
    case 't':
      return 4;
    default:
      return 5;
  }
}

bool TablePart(const char *full_name, char table[9]) {
  if (full_name == nullptr || strnlen(full_name, 9) < 9 || full_name[8] != '.') return false;
  std::memcpy(table, full_name, 8);
  table[8] = '\0';
  return true;
}

bool RefersFrom(const DD_REF &ref, const char *column) {
  if (std::strcmp(ref.column_name, column) == 0) return true;
  // A reference made by a combined column leads on from each of its members.
  const DD_COLUMN *c = ref.column;
  if (c == nullptr || c->type != DDT_COMBINED || c->members == nullptr) return false;
  for (int i = 0; c->members[i] != nullptr; ++i)
    if (std::strcmp(c->members[i]->name, column) == 0) return true;
  return false;
}

int Route(const char *from, const char *to, int depth, int max_depth, DD_REF **route, int size) {
  if (depth >= max_depth || depth >= size) return -1;
  char table_name[9];
  if (!TablePart(from, table_name)) return -1;
  DD_TABLE *table = ddtable_local(table_name);
  if (table == nullptr) return -1;
  for (int i = 0; i < table->ref_count; ++i) {
    DD_REF &ref = table->refs[i];
    if (!RefersFrom(ref, from)) continue;
    route[depth] = &ref;
    if (std::strcmp(ref.ref_column, to) == 0) return depth + 1;
    const int n = Route(ref.ref_column, to, depth + 1, max_depth, route, size);
    if (n > 0) return n;
  }
  return -1;
}

}  // namespace

uint16_t dd_reference_mode(const char *text) {
  char c[5] = {0, 0, 0, 0, 0};
  if (text != nullptr) {
    size_t len = strnlen(text, 5);
    while (len > 0 && text[len - 1] == ' ') --len;
    std::memcpy(c, text, len);
  }
  unsigned mode = c[0] == '0' ? 1 : (c[0] == '1' ? 2 : 3);
  if (c[1] == '\0') return static_cast<uint16_t>(mode);
  mode |= ModeLetter(c[1]) << 2;
  mode |= ModeLetter(c[2]) << 5;
  if (c[3] == '0') mode |= DD_REFMODE_CONDITIONAL;
  if (c[4] == '1') mode |= DD_REFMODE_PHYSICAL;
  return static_cast<uint16_t>(mode);
}

DD_REF *ddfrom_ref(const char *full_name) {
  char table_name[9];
  if (!TablePart(full_name, table_name)) return nullptr;
  DD_TABLE *table = ddtable_local(table_name);
  if (table == nullptr || table->refs == nullptr) return nullptr;
  int lo = 0;
  int hi = table->ref_count - 1;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    const int cmp = std::strcmp(full_name, table->refs[mid].column_name);
    if (cmp == 0) return &table->refs[mid];
    if (cmp < 0)
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  return nullptr;
}

DD_REF **ddto_ref_list(const char *full_name, int *count) {
  char table_name[9];
  if (!TablePart(full_name, table_name)) return nullptr;
  DD_TABLE_CACHE *cache = local_ddtable(table_name);
  if (cache == nullptr) return nullptr;
  if (count) *count = cache->table->refby_count;
  return cache->refby_refs;
}

int ref_route(const char *from_column, const char *to_column, int max_depth, DD_REF **route,
              int size) {
  if (from_column == nullptr || to_column == nullptr || route == nullptr) return -1;
  return Route(from_column, to_column, 0, max_depth, route, size);
}
