// The process-local shared-memory segment.
#include "platform/shm.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/log.h"
#include "platform/mal.h"

namespace {

constexpr uint64_t kDefaultSize = uint64_t{8} << 20;
constexpr uint64_t kMinSize = uint64_t{64} << 10;
constexpr uint64_t kMaxSize = uint64_t{1} << 30;
constexpr uint64_t kHeaderSize = (sizeof(SHM_HEADER) + 7) / 8 * 8;

struct FreeDeleter {
  void operator()(void *p) const { std::free(p); }
};

struct ShmObject {
  std::string name;
  std::string physical_file;
  void *object;
};

struct Segment {
  std::unique_ptr<void, FreeDeleter> memory;
  int lock_depth = 0;
  std::vector<ShmObject> objects;
  std::vector<SDS_ENTRY *> sds_chains;  // one chain per file and time, newest first
};

Segment &segment() {
  static Segment s;
  return s;
}

SHM_HEADER *header() { return static_cast<SHM_HEADER *>(segment().memory.get()); }

// The "size" line of lib/shm_param ("size: 16777216"), when present and sane.
uint64_t configured_size() {
  const char *root = get_zuv();
  if (root == nullptr || *root == '\0') return kDefaultSize;
  const std::string path = std::string(root) + "/lib/shm_param";
  std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path.c_str(), "r"), std::fclose);
  if (!file) return kDefaultSize;
  char line[256];
  while (std::fgets(line, sizeof line, file.get()) != nullptr) {
    char *p = line;
    while (*p == ' ' || *p == '\t') ++p;
    if (std::strncmp(p, "size", 4) != 0) continue;
    p += 4;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p != ':') continue;
    char *end = nullptr;
    const unsigned long long value = std::strtoull(p + 1, &end, 10);
    if (end != p + 1 && value >= kMinSize && value <= kMaxSize) return value;
    log_mesg(__FILE__, __LINE__, "link_shm", 0x80,
             "Ignoring shared-memory size in %s (allowed %llu to %llu bytes)", path.c_str(),
             static_cast<unsigned long long>(kMinSize), static_cast<unsigned long long>(kMaxSize));
    break;
  }
  return kDefaultSize;
}

bool same_file(const SDS_ENTRY *e, const char *file, int64_t mtime) {
  return e->mtime == mtime && std::strcmp(e->file_name, file) == 0;
}

}  // namespace

int link_shm() {
  Segment &s = segment();
  if (s.memory) return 0;
  const uint64_t size = configured_size();
  s.memory.reset(mal_sys_calloc(1, size));
  if (!s.memory) {
    log_mesg(__FILE__, __LINE__, "link_shm", 0, "Cannot create shared memory of %llu bytes",
             static_cast<unsigned long long>(size));
    return -1;
  }
  SHM_HEADER *h = header();
  h->magic = kShmMagic;
  h->version = 1;
  h->size = size;
  h->brk = kHeaderSize;
  return 0;
}

void unlink_shm() {
  Segment &s = segment();
  s.memory.reset();
  s.lock_depth = 0;
  s.objects.clear();
  s.sds_chains.clear();
}

int update_shm_link() {
  const SHM_HEADER *h = header();
  return h != nullptr && h->magic == kShmMagic ? 0 : -1;
}

int lock_shm() {
  if (header() == nullptr) return -1;
  ++segment().lock_depth;
  return 0;
}

int unlock_shm() {
  Segment &s = segment();
  if (header() == nullptr) return -1;
  if (s.lock_depth == 0) {
    log_mesg(__FILE__, __LINE__, "unlock_shm", 0, "Shared-memory lock released but not held");
    return -1;
  }
  --s.lock_depth;
  return 0;
}

void *shm_brk(size_t size) {
  SHM_HEADER *h = header();
  if (h == nullptr) return nullptr;
  if (size > h->size) return nullptr;
  const uint64_t rounded = (uint64_t{size} + 7) / 8 * 8;
  if (rounded > h->size - h->brk) return nullptr;
  char *p = static_cast<char *>(segment().memory.get()) + h->brk;
  h->brk += rounded;
  return p;  // zero since the segment was made, never handed out before
}

SHM_HEADER *shm_header() { return header(); }

int64_t shm_fixed_time() {
  const SHM_HEADER *h = header();
  return h != nullptr ? h->fixed_time : 0;
}

int shm_set_fixed_time(int64_t seconds) {
  SHM_HEADER *h = header();
  if (h == nullptr) return -1;
  h->fixed_time = seconds;
  return 0;
}

int shmGetShmType() {
  static const int type = [] {
    const char *value = std::getenv("SHMTYPE");
    return value != nullptr && std::strcmp(value, "static") == 0 ? 2 : 1;
  }();
  return type;
}

int shmIamSrddInit() { return 0; }

void *shmObjectIsLoaded(const char *name, const char *physical_file) {
  if (name == nullptr || physical_file == nullptr) return nullptr;
  for (const ShmObject &o : segment().objects) {
    if (o.name == name && o.physical_file == physical_file) return o.object;
  }
  return nullptr;
}

void *shmGetObject(const char *name) {
  if (name == nullptr) return nullptr;
  for (const ShmObject &o : segment().objects) {
    if (o.name == name) return o.object;
  }
  return nullptr;
}

void *shmGetObjectByFN(const char *physical_file) {
  if (physical_file == nullptr) return nullptr;
  for (const ShmObject &o : segment().objects) {
    if (o.physical_file == physical_file) return o.object;
  }
  return nullptr;
}

int shmAddObjectToShm(const char *name, const char *physical_file, void *object) {
  if (header() == nullptr || name == nullptr || physical_file == nullptr || object == nullptr) {
    return -1;
  }
  for (ShmObject &o : segment().objects) {
    if (o.name == name) {
      o.physical_file = physical_file;
      o.object = object;
      return 0;
    }
  }
  segment().objects.push_back(ShmObject{name, physical_file, object});
  return 0;
}

int sds_load_possible() { return 0; }

SDS_ENTRY *sds_search(const char *physical_file, const struct stat *status) {
  if (physical_file == nullptr || status == nullptr || header() == nullptr) return nullptr;
  for (SDS_ENTRY *head : segment().sds_chains) {
    if (same_file(head, physical_file, status->st_mtime)) return head;
  }
  return nullptr;
}

int sds_add(const char *physical_file, const struct stat *status, void *data) {
  if (physical_file == nullptr || status == nullptr || header() == nullptr) return -1;
  const size_t name_size = std::strlen(physical_file) + 1;
  auto *entry = static_cast<SDS_ENTRY *>(shm_brk(sizeof(SDS_ENTRY)));
  char *name = static_cast<char *>(shm_brk(name_size));
  if (entry == nullptr || name == nullptr) {
    log_mesg(__FILE__, __LINE__, "sds_add", 0, "Shared memory full");
    return -1;
  }
  std::memcpy(name, physical_file, name_size);
  entry->file_name = name;
  entry->mtime = status->st_mtime;
  entry->data = data;
  for (SDS_ENTRY *&head : segment().sds_chains) {
    if (same_file(head, physical_file, entry->mtime)) {
      entry->next = head;
      head = entry;
      return 0;
    }
  }
  entry->next = nullptr;
  segment().sds_chains.push_back(entry);
  return 0;
}

int sds_change(const char *physical_file, const struct stat *status, void *data) {
  SDS_ENTRY *e = sds_search(physical_file, status);
  if (e == nullptr) return -1;
  e->data = data;
  return 0;
}
