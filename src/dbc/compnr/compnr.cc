// Loading and querying the company-number mapping.
//
// The file is parsed once per process into a list of specs (table-name
// prefixes), each with its pairs {logical, physical} and, per physical
// company, the list of its logical aliases. Any inconsistent pair drops the
// whole mapping, so that no company is ever mapped half-way. After a clean
// parse, 5-character specs inherit the pairs of their 2-character prefix and
// 8-character specs those of their 5-character prefix, the longer spec's own
// pairs winning.
#include "dbc/compnr/compnr.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "dbc/compnr/compnr_shm.h"
#include "dbc/compnr/compnr_store.h"
#include "dbc/zdb_errors.h"
#include <molvane/zdb.h>
#include "ipc/attach.h"
#include "ipc/stream.h"
#include "ipc/stream_int.h"
#include "platform/env.h"
#include "platform/log.h"

namespace {

constexpr int kLineMax = 255;

struct Mapping {
  bool loaded = false;
  std::string env;
  COMPNR_SPEC *specs = nullptr;  // heap or shared copy
  HeapArena heap;
};

Mapping &TheMapping() {
  static Mapping *mapping = new Mapping;
  return *mapping;
}

COMPNR_MAP &EmptyMap() {
  static COMPNR_MAP *map = [] {
    auto *m = new COMPNR_MAP;
    m->mark = kCompnrMapMark;
    return m;
  }();
  return *map;
}

// Collects the messages of an inconsistent file into one log block.
class Inconsistency {
 public:
  ~Inconsistency() {
    if (open_) log_stop_mesg();
  }
  void Report(const char *line, int physical, int logical, const char *reason) {
    if (!open_) {
      log_start_mesg(__FILE__, __LINE__, "Inconsistent company mapping", 0);
      log_printf("\nCompany mapping $ZUV/lib/compnr%s will be ignored.\n", get_release());
      open_ = true;
    }
    log_printf("\n%s (phys = %03d, log = %03d):", line, physical, logical);
    log_printf("\n%s.", reason);
  }
  bool failed() const { return open_; }

 private:
  bool open_ = false;
};

COMPNR_SPEC *FindSpec(COMPNR_SPEC *specs, const char *name, size_t len) {
  for (COMPNR_SPEC *s = specs; s != nullptr; s = s->next.get()) {
    const char *n = s->name.get();
    if (std::strlen(n) == len && std::strncmp(n, name, len) == 0) return s;
  }
  return nullptr;
}

std::string FileTime(STREAM *stream) {
  struct stat st;
  if (stream == nullptr || stream_fstat(stream, &st) < 0) return "no-time";
  std::tm tm;
  time_t t = st.st_mtime;
  gmtime_r(&t, &tm);
  char text[32];
  std::snprintf(text, sizeof text, "%02d%02d%02d %02d:%02d:%02d", tm.tm_year % 100, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

// Parses the mapping file into heap records; false when the file is
// inconsistent (the records are then dropped).
bool ParseFile(STREAM *stream, Mapping *mapping) {
  HeapArena &heap = mapping->heap;
  Inconsistency inconsistency;
  bool memory_ok = true;
  char line[kLineMax + 1];
  for (;;) {
    if (sgets(line, sizeof line, stream) == nullptr) {
      if (stream_error(stream) && stream->err_no == ENOMEM) {
        memory_ok = false;
        break;
      }
      if (!stream_error(stream) || stream->err_no != EOVERFLOW) break;
      // sgets logged the overlong line and skipped it; it still makes the
      // file inconsistent, since its pairs are unknown.
      stream_clearerr(stream);
      inconsistency.Report("(line too long)", 0, 0, "line longer than 255 characters");
      continue;
    }
    size_t len = std::strlen(line);
    while (len > 0 && line[len - 1] == '\r') line[--len] = '\0';
    if (len == 0 || line[0] == '#') continue;
    char *colon = std::strchr(line, ':');
    if (colon == nullptr) {
      log_mesg(__FILE__, __LINE__, "Company mapping", LOG_WARNING, "line '%s' ignored: no colon", line);
      continue;
    }
    size_t name_len = static_cast<size_t>(colon - line);
    COMPNR_SPEC *spec = FindSpec(mapping->specs, line, name_len);
    if (spec == nullptr) {
      spec = NewSpec(&heap, line, name_len);
      if (spec == nullptr) {
        memory_ok = false;
        break;
      }
      spec->next.set(mapping->specs);
      mapping->specs = spec;
    }
    const char *rest = colon + 1;
    int physical = std::atoi(rest);
    const char *second = std::strchr(rest, ':');
    if (second == nullptr) continue;
    for (const char *p = second + 1; *p != '\0';) {
      int logical = std::atoi(p);
      const char *reason = nullptr;
      int rc = compnr_add(&heap, &spec->map, physical, logical, 1, &reason);
      if (rc == -1) {
        memory_ok = false;
        break;
      }
      if (rc > 0) inconsistency.Report(line, physical, logical, reason);
      const char *comma = std::strchr(p, ',');
      if (comma == nullptr) break;
      p = comma + 1;
    }
    if (!memory_ok) break;
  }
  if (!memory_ok) {
    zdb_errno = ZE_MEMORY;
    return false;
  }
  if (inconsistency.failed()) {
    zdb_errno = ZE_INCONSISTENT_COMPNR;
    return false;
  }
  // Inheritance: 5-character specs from their 2-character prefix, then
  // 8-character specs from their 5-character prefix.
  for (size_t len : {5u, 8u}) {
    size_t parent_len = len == 5 ? 2 : 5;
    for (COMPNR_SPEC *s = mapping->specs; s != nullptr; s = s->next.get()) {
      if (std::strlen(s->name.get()) != len) continue;
      COMPNR_SPEC *parent = FindSpec(mapping->specs, s->name.get(), parent_len);
      if (parent == nullptr) continue;
      const COMPNR_PAIRS *pairs = parent->map.pairs.get();
      if (pairs == nullptr) continue;
      for (int i = pairs->count - 1; i >= 0; --i) {
        const COMPNR_PAIR &pair = pairs->pairs.get()[i];
        if (compnr_add(&heap, &s->map, pair.physical, pair.logical, 2, nullptr) == -1) {
          zdb_errno = ZE_MEMORY;
          return false;
        }
      }
    }
  }
  return true;
}

// Reads the mapping once. Memory that runs out on the way (std::bad_alloc,
// or a read or parse that failed for it) leaves it unread: see Load.
void Read(Mapping &mapping) {
  StreamPtr stream(open_zuv_file("lib/compnr%s", get_release()));
  if (stream == nullptr && errno == ENOMEM) throw std::bad_alloc();
  char host[257];
  if (GetHostName(host, sizeof host) != 0) return;  // no environment string, no mapping
  host[sizeof host - 1] = '\0';
  mapping.env = std::string(get_zuv()) + "@" + host + " " + FileTime(stream.get());

  if (COMPNR_SPEC *shared = compnr_shm_lookup(mapping.env.c_str())) {
    mapping.specs = shared;
  } else if (stream != nullptr) {
    const bool parsed = ParseFile(stream.get(), &mapping);
    if (!parsed && zdb_errno == ZE_MEMORY) throw std::bad_alloc();
    if (parsed) {
      if (COMPNR_SPEC *shared_copy = compnr_shm_store(mapping.env.c_str(), mapping.specs)) {
        mapping.specs = shared_copy;
        mapping.heap.Clear();
      }
    } else {
      mapping.specs = nullptr;
      mapping.heap.Clear();
    }
  }
}

// The mapping, read on first use. Memory that runs out while it is read
// fails the call with 501 (std::bad_alloc) and leaves it to be read again:
// a mapping dropped or cut short for memory would map companies wrongly for
// the rest of the process.
void Load() {
  Mapping &mapping = TheMapping();
  if (mapping.loaded) return;
  mapping.loaded = true;
  try {
    Read(mapping);
  } catch (const std::bad_alloc &) {
    mapping.loaded = false;
    mapping.specs = nullptr;
    mapping.heap.Clear();
    mapping.env.clear();
    throw;
  }
}

}  // namespace

const char *compnrGetEnv() {
  Load();
  return TheMapping().env.c_str();
}

const COMPNR_MAP *compnrGetCompnrData(const char *table) {
  Load();
  Mapping &mapping = TheMapping();
  size_t len = std::strlen(table);
  for (size_t cut : {8u, 5u, 2u, 0u}) {
    if (cut > len) continue;
    if (COMPNR_SPEC *spec = FindSpec(mapping.specs, table, cut)) return &spec->map;
  }
  return &EmptyMap();
}

int compnrLogicToPhysic(const COMPNR_MAP *map, int logical) {
  if (map == nullptr || map->mark != kCompnrMapMark) return -2;
  const COMPNR_PAIRS *pairs = map->pairs.get();
  if (pairs == nullptr) return logical;
  for (int i = pairs->count - 1; i >= 0; --i) {
    const COMPNR_PAIR &pair = pairs->pairs.get()[i];
    if (pair.logical == logical) return pair.physical;
  }
  return logical;
}

int compnrGetLogicCompnrs(const COMPNR_MAP *map, int physical, const uint16_t **list) {
  *list = nullptr;
  if (map == nullptr || map->mark != kCompnrMapMark) return 0;
  for (const COMPNR_PHYS *p = map->phys.get(); p != nullptr; p = p->next.get()) {
    if (p->physical == physical) {
      *list = p->logical.get();
      return p->count;
    }
  }
  return 0;
}

int compnrIsPhysic(const COMPNR_MAP *map, int number) {
  int physical = compnrLogicToPhysic(map, number);
  return physical == number || physical == -2 ? 1 : 0;
}

int compnrInit(const char *env) {
  Load();
  Mapping &mapping = TheMapping();
  if (mapping.specs != nullptr) return 0;
  return compnr_shm_lookup(env) != nullptr ? 0 : -1;
}

void compnrPrintData() {
  Load();
  Mapping &mapping = TheMapping();
  std::printf("Company mapping '%s'\n", mapping.env.c_str());
  for (const COMPNR_SPEC *s = mapping.specs; s != nullptr; s = s->next.get()) {
    std::printf("spec '%s':", s->name.get());
    if (const COMPNR_PAIRS *pairs = s->map.pairs.get()) {
      for (int i = 0; i < pairs->count; ++i) {
        std::printf(" %03d->%03d", pairs->pairs.get()[i].logical, pairs->pairs.get()[i].physical);
      }
    }
    std::printf("\n");
  }
}

int dbc_send_compnrs(STREAM *stream) {
  Load();
  Mapping &mapping = TheMapping();
  auto write_text = [stream](const char *text) {
    int len = static_cast<int>(std::strlen(text)) + 1;
    return swrite_blok(text, len, stream) == len;
  };
  if (!write_text(mapping.env.c_str())) return -1;
  uint32_t count = 0;
  for (const COMPNR_SPEC *s = mapping.specs; s != nullptr; s = s->next.get()) ++count;
  if (w_long(stream, static_cast<int32_t>(count)) < 0) return -1;
  for (const COMPNR_SPEC *s = mapping.specs; s != nullptr; s = s->next.get()) {
    if (!write_text(s->name.get())) return -1;
    uint32_t entries = 0;
    for (const COMPNR_PHYS *p = s->map.phys.get(); p != nullptr; p = p->next.get()) ++entries;
    if (w_long(stream, static_cast<int32_t>(entries)) < 0) return -1;
    for (const COMPNR_PHYS *p = s->map.phys.get(); p != nullptr; p = p->next.get()) {
      if (w_short(stream, p->physical) < 0 || w_short(stream, static_cast<uint16_t>(p->count)) < 0) {
        return -1;
      }
      for (int i = 0; i < p->count; ++i) {
        if (w_short(stream, p->logical.get()[i]) < 0) return -1;
      }
    }
  }
  return 0;
}
