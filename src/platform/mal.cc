// The library allocator. Each block is preceded by a header that links it
// into the list of its allocation id (id 0 is the general pool), so that
// mal_free_id can free every block of an id without the caller tracking
// them. The header keeps 16-byte alignment of the user data.
#include "platform/mal.h"

#include <errno.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/log.h"

namespace {

constexpr uint64_t kMagic = 0x6d616c626c6f636bULL;  // live block
constexpr uint64_t kDead = 0x64656164626c6f63ULL;   // freed block

struct alignas(16) BlockHeader {
  uint64_t magic;
  size_t size;
  int id;
  BlockHeader *prev;
  BlockHeader *next;
};

struct IdList {
  BlockHeader head{};  // sentinel of a circular list
  size_t hint = 0;     // block size given at reservation
  IdList() { head.prev = head.next = &head; }
  IdList(const IdList &) = delete;
  IdList &operator=(const IdList &) = delete;
};

struct Registry {
  std::map<int, IdList> ids;
  int next_id = 1;
  Registry() { ids.try_emplace(0); }
};

Registry &Reg() {
  static Registry reg;
  return reg;
}

BlockHeader *HeaderOf(void *block) {
  BlockHeader *h = static_cast<BlockHeader *>(block) - 1;
  if (h->magic != kMagic) {
    log_mesg(__FILE__, __LINE__, "mal_free", LOG_ERROR, "not a live block of the allocator: %p",
             block);
    return nullptr;
  }
  return h;
}

void Unlink(BlockHeader *h) {
  h->prev->next = h->next;
  h->next->prev = h->prev;
  h->prev = h->next = nullptr;
}

mal_failure_hook_fn g_failure_hook = nullptr;

// True when the test hook makes this allocation fail (errno is ENOMEM then).
bool Refused(size_t size) {
  if (g_failure_hook == nullptr || g_failure_hook(size) == 0) return false;
  errno = ENOMEM;
  return true;
}

void *Allocate(size_t size, bool zero, int id) {
  if (Refused(size)) return nullptr;
  auto it = Reg().ids.find(id);
  if (it == Reg().ids.end()) {
    errno = EINVAL;
    return nullptr;
  }
  if (size > SIZE_MAX - sizeof(BlockHeader)) {
    errno = ENOMEM;
    return nullptr;
  }
  void *raw = zero ? std::calloc(1, sizeof(BlockHeader) + size) : std::malloc(sizeof(BlockHeader) + size);
  if (raw == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  BlockHeader *h = static_cast<BlockHeader *>(raw);
  h->magic = kMagic;
  h->size = size;
  h->id = id;
  BlockHeader *head = &it->second.head;
  h->next = head->next;
  h->prev = head;
  head->next->prev = h;
  head->next = h;
  return h + 1;
}

}  // namespace

extern "C" {

void mal_set_failure_hook(mal_failure_hook_fn hook) { g_failure_hook = hook; }

void *mal_sys_malloc(size_t size) {
  if (Refused(size)) return nullptr;
  void *p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) errno = ENOMEM;
  return p;
}

void *mal_sys_calloc(size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) {
    errno = ENOMEM;
    return nullptr;
  }
  if (Refused(count * size)) return nullptr;
  void *p = std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
  if (p == nullptr) errno = ENOMEM;
  return p;
}

void *mal_sys_realloc(void *block, size_t size) {
  if (Refused(size)) return nullptr;
  void *p = std::realloc(block, size == 0 ? 1 : size);
  if (p == nullptr) errno = ENOMEM;
  return p;
}

char *mal_sys_strdup(const char *text) {
  if (text == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  const size_t n = std::strlen(text) + 1;
  char *copy = static_cast<char *>(mal_sys_malloc(n));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

void *mal_allocater(size_t size, int flags, int alloc_id, MAL_POOL *pool) {
  int id = 0;
  if (flags & MAL_ID_POOL) {
    id = alloc_id;
  } else if ((flags & MAL_GIVEN_POOL) && pool != nullptr) {
    id = pool->alloc_id;
  }
  void *block = Allocate(size, (flags & MAL_ZERO) != 0, id);
  if (block == nullptr && errno == EINVAL) {
    log_mesg(__FILE__, __LINE__, "mal_allocater", LOG_ERROR, "allocation id %d is not reserved", id);
    errno = EINVAL;
  }
  return block;
}

void mal_free(void *block) {
  if (block == nullptr) return;
  BlockHeader *h = HeaderOf(block);
  if (h == nullptr) return;
  Unlink(h);
  h->magic = kDead;
  std::free(h);
}

void *mal_realloc(void *block, size_t size) {
  if (block == nullptr) return Allocate(size, false, 0);
  BlockHeader *h = HeaderOf(block);
  if (h == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  void *fresh = Allocate(size, false, h->id);
  if (fresh == nullptr) return nullptr;
  std::memcpy(fresh, block, h->size < size ? h->size : size);
  mal_free(block);
  return fresh;
}

char *mal_strsave(const char *text, int flags, int alloc_id) {
  if (text == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  size_t n = std::strlen(text) + 1;
  char *copy = static_cast<char *>(mal_allocater(n, flags & ~MAL_GIVEN_POOL, alloc_id, nullptr));
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

void *mal_memsave(const void *bytes, size_t count) {
  void *copy = Allocate(count, false, 0);
  if (copy != nullptr && count > 0) std::memcpy(copy, bytes, count);
  return copy;
}

int mal_reserve_id(int zero, size_t block_size) {
  (void)zero;
  Registry &reg = Reg();
  // Ids count up; after the largest they start again at 1, skipping ids
  // still reserved.
  for (long tries = 0; tries < INT_MAX; ++tries) {
    int id = reg.next_id;
    reg.next_id = id == INT_MAX ? 1 : id + 1;
    if (reg.ids.count(id) == 0) {
      reg.ids.try_emplace(id).first->second.hint = block_size;
      return id;
    }
  }
  return -1;
}

int mal_free_id(int alloc_id) {
  Registry &reg = Reg();
  auto it = reg.ids.find(alloc_id);
  if (alloc_id == 0 || it == reg.ids.end()) return -1;
  BlockHeader *head = &it->second.head;
  while (head->next != head) {
    BlockHeader *h = head->next;
    Unlink(h);
    h->magic = kDead;
    std::free(h);
  }
  reg.ids.erase(it);
  return 0;
}

void *mal_new_entry(MAL_POOL *pool) {
  if (pool == nullptr || pool->entry_size == 0) {
    errno = EINVAL;
    return nullptr;
  }
  return mal_allocater(pool->entry_size, MAL_GIVEN_POOL | MAL_ZERO | MAL_FREEABLE, 0, pool);
}

}  // extern "C"
