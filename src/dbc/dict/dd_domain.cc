// Domain lookups: a domain is named by its 2-character package and its name
// within the package; each package's domains form one list sorted by name.
#include <cstring>

#include "dbc/dict/dd.h"
#include "dbc/dict/dd_state.h"

using namespace molvane::dd;

namespace {

DD_DOMAIN *SearchList(const DD_DOMAIN_LIST *list, const char *name) {
  if (list == nullptr) return nullptr;
  int lo = 0;
  int hi = static_cast<int>(list->count) - 1;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    const int cmp = std::strcmp(name, list->domains[mid].name);
    if (cmp == 0) return &list->domains[mid];
    if (cmp < 0)
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  return nullptr;
}

bool SplitOk(const char *name) {
  return name != nullptr && strnlen(name, 2) == 2 && strnlen(name + 2, 13) <= 12;
}

}  // namespace

DD_DOMAIN *dddomain(const char *name) {
  if (!SplitOk(name)) return nullptr;
  return SearchList(FindDomainList(name), name + 2);
}

DD_DOMAIN *dddomain_with_read(const char *name) {
  if (!SplitOk(name)) return nullptr;
  return SearchList(read_domain_list(name), name + 2);
}

DD_DOMAIN_LIST *dddomain_list(const char *package) {
  if (package == nullptr || strnlen(package, 2) < 2) return nullptr;
  return FindDomainList(package);
}

void unlink_domain_list(const char *package) {
  DD_DOMAIN_LIST *list = dddomain_list(package);
  if (list == nullptr) return;
  DdState &st = State();
  auto range = st.domain_lists.equal_range(std::string(package, 2));
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == list) {
      st.domain_lists.erase(it);
      break;
    }
  }
  if (st.last_domain_list == list) st.last_domain_list = nullptr;
}

DD_DOMAIN_LIST *dddomain_list_from_domain(const DD_DOMAIN *domain) {
  if (domain == nullptr) return nullptr;
  for (auto &entry : State().domain_lists) {
    DD_DOMAIN_LIST *list = entry.second;
    if (list->count && domain >= list->domains && domain < list->domains + list->count) return list;
  }
  return nullptr;
}

char *dddomainname_from_domain(const DD_DOMAIN *domain, char *buf) {
  static char own[16];
  char *out = buf ? buf : own;
  out[0] = '\0';
  DD_DOMAIN_LIST *list = dddomain_list_from_domain(domain);
  if (list == nullptr) return out;
  out[0] = list->package[0];
  out[1] = list->package[1];
  std::memcpy(out + 2, domain->name, strnlen(domain->name, 12));
  out[2 + strnlen(domain->name, 12)] = '\0';
  return out;
}

void extract_dom_attributes(const DD_DOMAIN *domain, const char *out[5]) {
  const char *p = domain && domain->attributes ? domain->attributes : State().empty_attributes;
  static const char kEmpty[5] = {0, 0, 0, 0, 0};
  if (p == nullptr) p = kEmpty;
  for (int i = 0; i < 5; ++i) {
    out[i] = p;
    p += std::strlen(p) + 1;
  }
}
