// Key index of the delayed-lock store. Entries are hashed by the CRC-32 of
// the key columns of index 1 as they lie in the image, so that two images
// with equal key bytes meet in one chain; equality is then decided by the
// dictionary's key comparison. The bucket array grows to the next prime when
// the load would pass 1.0, and every chain is kept in ascending id order, so
// a walk meets the oldest entry of a key first.
#include "dbc/dlock/dlock_index.h"

#include "dbc/dict/dd.h"
#include "platform/mal.h"
#include "sql/common/crc32.h"

const std::uint32_t dlock_index_primes[DLOCK_PRIME_COUNT] = {
    13,       23,       47,        97,        193,       383,       769,
    1531,     3067,     6143,      12289,     24571,     49157,     98299,
    196613,   393209,   786433,    1572869,   3145721,   6291449,   12582917,
    25165813, 50331653, 100663291, 201326611, 402653189, 805306357};

namespace {

// Combined columns may nest; a deeper nesting is a broken dictionary.
constexpr int kMaxNesting = 16;

unsigned long HashColumns(unsigned long crc, DD_COLUMN *const *list, const unsigned char *row,
                          int depth) {
  if (list == nullptr || depth > kMaxNesting) return crc;
  for (int i = 0; list[i] != nullptr && i < DD_MAX_LIST; ++i) {
    const DD_COLUMN *c = list[i];
    if (c->type == DDT_COMBINED)
      crc = HashColumns(crc, c->members, row, depth + 1);
    else
      crc = calc_crc(crc, row + c->offset, c->length);
  }
  return crc;
}

template <class T>
T *GroupAlloc(int group, std::size_t count) {
  return static_cast<T *>(mal_allocater(sizeof(T) * count, MAL_ID_POOL | MAL_ZERO, group, nullptr));
}

bool KeysEqual(const DLOCK_INDEX *index, const DLOCK_ENTRY *a, const unsigned char *b) {
  return index->key != nullptr &&
         zdb_compare_key_in_row(dlock_entry_image(a), b, index->key) == 0;
}

// Puts the node into its chain before the first node of a higher id.
void LinkInOrder(DLOCK_NODE **chain, DLOCK_NODE *node) {
  DLOCK_NODE **p = chain;
  while (*p != nullptr && (*p)->entry->id < node->entry->id) p = &(*p)->next;
  node->next = *p;
  *p = node;
}

// Moves every node to a bucket array of the next prime. A failed allocation
// keeps the index as it is: longer chains, nothing lost.
void Grow(DLOCK_INDEX *index) {
  if (index->prime_index + 1 >= DLOCK_PRIME_COUNT) return;
  const std::uint32_t old_count = dlock_index_buckets(index);
  const std::uint32_t new_count = dlock_index_primes[index->prime_index + 1];
  DLOCK_NODE **buckets = GroupAlloc<DLOCK_NODE *>(index->group, new_count);
  if (buckets == nullptr) return;
  for (std::uint32_t b = 0; b < old_count; ++b) {
    DLOCK_NODE *node = index->buckets[b];
    while (node != nullptr) {
      DLOCK_NODE *next = node->next;
      LinkInOrder(&buckets[node->entry->hash % new_count], node);
      node = next;
    }
  }
  mal_free(index->buckets);
  index->buckets = buckets;
  ++index->prime_index;
}

}  // namespace

std::uint32_t dlock_key_hash(const DD_KEY *key, const unsigned char *row) {
  if (key == nullptr) return 0;
  return static_cast<std::uint32_t>(HashColumns(0, key->parts, row, 0));
}

DLOCK_INDEX *dlock_index_new(int group, const DD_KEY *key) {
  DLOCK_INDEX *index = GroupAlloc<DLOCK_INDEX>(group, 1);
  if (index == nullptr) return nullptr;
  index->buckets = GroupAlloc<DLOCK_NODE *>(group, dlock_index_primes[0]);
  if (index->buckets == nullptr) {
    mal_free(index);
    return nullptr;
  }
  index->group = group;
  index->key = key;
  index->prime_index = 0;
  index->nodes = 0;
  index->threshold = 1.0;
  return index;
}

DLOCK_ENTRY *dlock_index_insert(DLOCK_INDEX *index, DLOCK_ENTRY *entry) {
  if (static_cast<double>(index->nodes + 1) / dlock_index_buckets(index) > index->threshold)
    Grow(index);
  const unsigned char *image = dlock_entry_image(entry);
  entry->hash = dlock_key_hash(index->key, image);
  DLOCK_NODE **p = &index->buckets[entry->hash % dlock_index_buckets(index)];
  for (; *p != nullptr; p = &(*p)->next) {
    DLOCK_ENTRY *other = (*p)->entry;
    if (other->hash == entry->hash && KeysEqual(index, other, image)) return other;
  }
  DLOCK_NODE *node = GroupAlloc<DLOCK_NODE>(index->group, 1);
  if (node == nullptr) return nullptr;
  node->entry = entry;
  node->next = nullptr;
  *p = node;
  ++index->nodes;
  return entry;
}

DLOCK_ENTRY *dlock_index_find(const DLOCK_INDEX *index, const unsigned char *row) {
  if (index == nullptr || index->key == nullptr) return nullptr;
  const std::uint32_t hash = dlock_key_hash(index->key, row);
  for (const DLOCK_NODE *n = index->buckets[hash % dlock_index_buckets(index)]; n; n = n->next)
    if (n->entry->hash == hash && KeysEqual(index, n->entry, row)) return n->entry;
  return nullptr;
}

int dlock_index_rehash(DLOCK_INDEX *index, DLOCK_ENTRY *entry) {
  const std::uint32_t old_hash = entry->hash;
  const std::uint32_t hash = dlock_key_hash(index->key, dlock_entry_image(entry));
  const std::uint32_t buckets = dlock_index_buckets(index);
  if (hash % buckets != old_hash % buckets) {
    DLOCK_NODE **p = &index->buckets[old_hash % buckets];
    while (*p != nullptr && (*p)->entry != entry) p = &(*p)->next;
    if (*p == nullptr) return -1;
    DLOCK_NODE *node = *p;
    *p = node->next;
    LinkInOrder(&index->buckets[hash % buckets], node);
  }
  entry->hash = hash;
  return 0;
}
