// The library allocator: blocks in pools, grouped under allocation ids so
// that a group can be freed at once (mal_free_id).
//
// Every block carries a small header naming its allocation id, so
// mal_free, mal_realloc and mal_free_id work on any block of the
// allocator. Blocks must not be released with free() or passed to realloc().
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Flag bits of mal_allocater and mal_strsave.
enum {
  MAL_POOL1 = 1,      // first fixed pool (general blocks)
  MAL_POOL2 = 2,      // second fixed pool (general blocks)
  MAL_ID_POOL = 4,    // the pool of the allocation id argument
  MAL_GIVEN_POOL = 8, // the pool passed in (its allocation id)
  MAL_FREEABLE = 16,  // a block that may be freed singly
  MAL_ZERO = 32,      // zero-filled
};

// A pool descriptor: blocks of one fixed size under one allocation id
// (0: the general pool). mal_new_entry hands out its blocks.
typedef struct mal_pool {
  size_t entry_size; // size of each block of mal_new_entry
  int alloc_id;      // allocation id the blocks belong to, or 0
} MAL_POOL;

// A block of `size` bytes, or null when memory runs out or the id of
// MAL_ID_POOL is not reserved (errno ENOMEM or EINVAL). With MAL_ID_POOL
// the block belongs to `alloc_id`, with MAL_GIVEN_POOL to pool->alloc_id;
// otherwise to the general pool. Blocks of every kind may be freed singly
// with mal_free (MAL_FREEABLE is accepted for compatibility).
void *mal_allocater(size_t size, int flags, int alloc_id, MAL_POOL *pool);
// Frees a block of this allocator; a null block is ignored.
void mal_free(void *block);
// The block resized to `size`, contents kept up to the smaller size; the
// old block stays valid and null is returned when memory runs out. A null
// block allocates a general block.
void *mal_realloc(void *block, size_t size);
// A NUL-terminated copy of `text` in a new block (flags and id as for
// mal_allocater), or null.
char *mal_strsave(const char *text, int flags, int alloc_id);
// A copy of `count` bytes in a new general block, or null.
void *mal_memsave(const void *bytes, size_t count);
// Reserves a new allocation id (never 0); `zero` must be 0 and
// `block_size` is a size hint. -1 when ids run out.
int mal_reserve_id(int zero, size_t block_size);
// Frees every block of the id and releases the id. 0, or -1 for an id that
// is not reserved (nothing is freed then).
int mal_free_id(int alloc_id);
// A zeroed block of pool->entry_size bytes under the pool's allocation id,
// or null.
void *mal_new_entry(MAL_POOL *pool);

// System blocks: malloc, calloc, realloc and strdup that consult the failure
// hook below like every allocation of this allocator. Their blocks carry no
// header and are released with free() (or grown with mal_sys_realloc); they
// are for records that the library frees with free(). A refused or failed
// allocation returns null with errno ENOMEM; mal_sys_realloc then leaves the
// old block valid.
void *mal_sys_malloc(size_t size);
void *mal_sys_calloc(size_t count, size_t size);
void *mal_sys_realloc(void *block, size_t size);
char *mal_sys_strdup(const char *text);

// Test aid: a function asked before every allocation of this allocator;
// non-zero makes that allocation fail as if memory ran out (ENOMEM), so
// that tests reach the out-of-memory paths. Null removes it.
typedef int (*mal_failure_hook_fn)(size_t size);
void mal_set_failure_hook(mal_failure_hook_fn hook);

#ifdef __cplusplus
}
#endif
