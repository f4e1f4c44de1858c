// The shared-memory segment: a process-local stand-in with the calls of a
// segment shared between processes.
//
// The segment is one zero-filled arena made by link_shm. It starts with a
// header; shm_brk hands out the rest and never takes it back. Objects and
// shared-data entries registered here stay for the life of the segment.
// Addresses inside it are plain pointers, since only this process sees it.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

// The company-mapping root word of the header while a process builds the
// root; 0 means no root yet, any other value is the root's address.
inline constexpr uintptr_t SHM_ROOT_BUILDING = ~uintptr_t{0};

struct SHM_HEADER {
  uint32_t magic;          // kShmMagic once linked
  uint32_t version;        // layout version of this header
  uint64_t size;           // bytes of the segment, header included
  uint64_t brk;            // offset of the first byte not yet handed out
  int64_t fixed_time;      // when non-zero, al_time returns it instead of the clock
  uintptr_t compnr_root;   // company-mapping root (see SHM_ROOT_BUILDING)
};

inline constexpr uint32_t kShmMagic = 0x5348D001;

// Creates the segment on first use; 0 on success (also when already
// linked), -1 when it cannot be made. The size is the "size" line of
// $ZUV/lib/shm_param in bytes (64 KiB to 1 GiB), else 8 MiB.
int link_shm();

// Drops the segment and everything registered in it (tests, process end).
void unlink_shm();

// 0 when the segment is linked and current, else -1.
int update_shm_link();

// Takes and releases the segment's lock. The lock may be taken again by
// its holder and is released when every take has been matched. -1 when
// the segment is not linked, or (unlock) when the lock is not held.
int lock_shm();
int unlock_shm();

// Zero-filled memory of at least `size` bytes (rounded up to 8, aligned to
// 8) inside the segment; null when the segment is not linked or full.
void *shm_brk(size_t size);

// The segment header, or null when not linked.
SHM_HEADER *shm_header();

// The time that replaces the clock (0: none), and setting it (0 clears).
// Setting fails with -1 when the segment is not linked.
int64_t shm_fixed_time();
int shm_set_fixed_time(int64_t seconds);

// 2 when the environment variable SHMTYPE is "static", else 1; read once.
int shmGetShmType();

// Non-zero in the process that loads the shared dictionary into static
// shared memory; no process does here.
int shmIamSrddInit();

// The shared-memory object directory: objects are kept by name (for the
// dictionary, a package and dump) and by the physical file they came from.
// The object of a name when it was loaded from that physical file, else null.
void *shmObjectIsLoaded(const char *name, const char *physical_file);
// The object of a name, or null.
void *shmGetObject(const char *name);
// The object loaded from a physical file, or null.
void *shmGetObjectByFN(const char *physical_file);
// Places an object in the directory, replacing one of the same name;
// 0, or -1 when the segment is not linked or an argument is null.
int shmAddObjectToShm(const char *name, const char *physical_file, void *object);

// The shared data store: entries of data built from a file, kept per
// physical file name and modification time.
struct SDS_ENTRY {
  SDS_ENTRY *next;         // next entry of the same file and time
  const char *file_name;   // physical file name
  int64_t mtime;           // modification time of the file when loaded
  void *data;
};

// Non-zero when this process may add entries to the shared data store; a
// process here never is the store's loader, so 0.
int sds_load_possible();
// The entries of the file with that modification time (newest first), or null.
SDS_ENTRY *sds_search(const char *physical_file, const struct stat *status);
// Adds an entry; 0, or -1 when the segment is not linked or an argument is null.
int sds_add(const char *physical_file, const struct stat *status, void *data);
// Replaces the data of the newest entry of the file and time; -1 when absent.
int sds_change(const char *physical_file, const struct stat *status, void *data);
