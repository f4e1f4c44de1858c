// Table load on first use: the dump of the current mode is opened, parsed
// into records that belong to this load only, entered in the table hash, and
// linked with the loaded tables it references or is referenced by. The shared
// dictionary store is not available in this library: every table and domain
// list comes from its dump file.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "dbc/dict/dd_load.h"
#include "dbc/dict/dd_state.h"
#include "molvane/zdb.h"
#include "platform/env.h"
#include "platform/log.h"
#include "text/tss.h"

namespace molvane::dd {

namespace {

constexpr const char *kKeyword = "Read ddtable";

DD_DOMAIN MakeSystemDomain(const char *name, int type, int length, int digits) {
  static const char kNoAttributes[5] = {0, 0, 0, 0, 0};
  DD_DOMAIN d{};
  d.attributes = kNoAttributes;
  d.length = static_cast<int16_t>(length);
  std::strncpy(d.name, name, sizeof d.name - 1);
  d.type = static_cast<uint8_t>(type);
  d.digits_before = static_cast<uint8_t>(digits);
  d.print_length = static_cast<int16_t>(digits);
  d.package[0] = d.package[1] = '_';
  return d;
}

bool EndsWith(const std::string &s, const char *suffix) {
  const size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Links the loaded table with the tables on the other side of its
// references. REQUIRES: cache->refby_refs allocated (all null). Memory that
// runs out while a referencing table loads leaves its entry null; that
// table fills it in when it loads.
void LinkReferences(DD_TABLE_CACHE *cache) {
  DD_TABLE *t = cache->table;
  for (int i = 0; i < t->ref_count; ++i) {
    DD_REF &ref = t->refs[i];
    ref.table = t;
    ref.column = ddcolumn_by_ddtable(t, ref.column_name + 9);
    char parent[9];
    std::memcpy(parent, ref.ref_column, 8);
    parent[8] = '\0';
    DD_TABLE_CACHE *other = local_ddtable(parent);
    if (other == nullptr || other->refby_refs == nullptr) continue;
    for (int e = 0; e < other->table->refby_count; ++e) {
      if (other->refby_refs[e] == nullptr &&
          std::strcmp(other->table->refby[e].column_name, ref.column_name) == 0) {
        other->refby_refs[e] = &ref;
        break;
      }
    }
  }
  for (int e = 0; e < t->refby_count; ++e) {
    const char *column = t->refby[e].column_name;
    if (State().state & DD_MODE_REFERENCING) {
      char child[9];
      std::memcpy(child, column, 8);
      child[8] = '\0';
      if (dd_table_or_throw(child) == nullptr) {
        log_mesg(__FILE__, __LINE__, "DD", 0, "DD for %s not found", child);
        zdb_errno = 0;
      }
    }
    cache->refby_refs[e] = ddfrom_ref(column);
  }
}

// Keeps a table being loaded in the table hash and on the loading list
// while it parses; unless kept, takes it off both again, so that a load
// that fails, or throws when memory runs out, leaves no entry pointing into
// the records its scope frees.
class LoadingEntry {
 public:
  explicit LoadingEntry(DD_TABLE_CACHE *cache) : cache_(cache) {
    AddTableCache(cache);
    try {
      State().loading_tables.push_back(cache);
    } catch (...) {
      RemoveTableCache(cache);
      throw;
    }
  }
  ~LoadingEntry() {
    auto &loading = State().loading_tables;
    if (!loading.empty() && loading.back() == cache_) loading.pop_back();
    if (!kept_) RemoveTableCache(cache_);
  }
  LoadingEntry(const LoadingEntry &) = delete;
  LoadingEntry &operator=(const LoadingEntry &) = delete;
  // The table loaded: off the loading list, kept in the hash.
  void Keep() {
    auto &loading = State().loading_tables;
    if (!loading.empty() && loading.back() == cache_) loading.pop_back();
    kept_ = true;
  }

 private:
  DD_TABLE_CACHE *cache_;
  bool kept_ = false;
};

}  // namespace

DD_DOMAIN *DlockDomain() {
  static DD_DOMAIN d = MakeSystemDomain("Dom.dlock", DDT_LONG, 4, 11);
  return &d;
}

DD_DOMAIN *CompnrDomain() {
  static DD_DOMAIN d = MakeSystemDomain("Dom.compnr", DDT_SHORT, 2, 6);
  return &d;
}

bool PackageOk(const char *package) {
  if (package == nullptr) return false;
  for (int i = 0; i < 2; ++i) {
    const auto c = static_cast<unsigned char>(package[i]);
    if (!std::isalnum(c) && c != '_') return false;
  }
  return true;
}

void SetZdbErrno(int err) { zdb_errno = err; }

DD_TABLE *LoadTable(const char *name) {
  DdState &st = State();
  const bool new_mode = (st.state & DD_MODE_NEW) != 0;
  char dump_name[64];
  if (new_mode)
    std::snprintf(dump_name, sizeof dump_name, "F_ZRDD:d%.8s.new;F_ZRDD:d%.8s", name, name);
  else
    std::snprintf(dump_name, sizeof dump_name, "F_ZRDD:d%.8s", name);

  LoadScope scope;
  DumpFile dump;
  switch (ReadDump(dump_name, kKeyword, dump)) {
    case DumpRead::kOk:
      break;
    case DumpRead::kMissing:
      zdb_errno = DD_ERR_NO_DD;
      return nullptr;
    case DumpRead::kBroken:
      zdb_errno = DD_ERR_CORRUPT;
      return nullptr;
  }
  const bool is_new = EndsWith(dump.physical_name, ".new");
  st.new_dumps_in_use = is_new;

  auto *table = AllocArray<DD_TABLE>(1);
  auto *cache = AllocArray<DD_TABLE_CACHE>(1);
  std::memcpy(table->name, name, 8);
  table->mode_bits = static_cast<uint8_t>(ModeBits());
  cache->table = table;
  cache->loading = true;
  if (DebugLevel() & 0x8000) std::fprintf(stderr, "Table dump %s load from %s\n", name, "disk");

  // Entered before parsing, so that the parser's column lookups find it.
  LoadingEntry entry(cache);
  const bool ok = ParseTableDump(dump, table);
  if (!ok) return nullptr;
  if (new_mode && !is_new) {
    zdb_errno = DD_ERR_NO_DD;
    return nullptr;
  }
  cache->refby_refs = AllocArray<DD_REF *>(table->refby_count);
  entry.Keep();
  cache->loading = false;
  scope.Commit();
  LinkReferences(cache);
  return table;
}

}  // namespace molvane::dd

using namespace molvane::dd;

namespace {
std::string &DdEnv() {
  static std::string env;
  return env;
}
}  // namespace

const char *qpdDDGetEnv() {
  std::string &env = DdEnv();
  if (!env.empty()) return env.c_str();
  const char *pac = alGetPacComb();
  if (pac == nullptr) pac = "";
  const char *rem = getvar("ZUV_REM");
  if (rem != nullptr && rem[0] != '\0') {
    env = std::string(rem) + " " + pac;
    return env.c_str();
  }
  std::string zuv = get_zuv() ? get_zuv() : "";
  char host[257] = "";
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  std::string at = zuv + "@" + host;
  TssStringConvertCase(at.data(), static_cast<long>(at.size()), 0);
  env = at + " " + pac;
  return env.c_str();
}

void qpdNullifyStatics() { DdEnv().clear(); }

// Loading into a shared dictionary store is the task of a loader process that
// this library does not provide.
int read_dd_table_in_sds(const char *, const char *) { return -1; }
int read_dd_domain_list_in_sds(const char *, const char *) { return -1; }
