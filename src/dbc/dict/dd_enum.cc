// Enumerated and set domains: the definition of a language, keyword and
// description lookups, and the domain.keyword form that SQL texts use for
// enumeration constants.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "dbc/dict/dd.h"
#include "platform/log.h"
#include "platform/user.h"

namespace {

constexpr size_t kMaxEnumName = 527;

int ResolveLanguage(int language) {
  if (language != -1) return language;
  return static_cast<unsigned char>(user_info.language);
}

bool IsEnumType(const DD_DOMAIN *d) { return d->type == DDT_ENUM || d->type == DDT_SET; }

bool Matches(const char *candidate, const char *text, size_t len, int options) {
  if (candidate == nullptr) return false;
  const size_t clen = std::strlen(candidate);
  if (clen < len || len == 0) return false;
  if (clen != len && !(options & DD_ENUM_ABBREV)) return false;
  return (options & DD_ENUM_NOCASE) ? strncasecmp(candidate, text, len) == 0
                                    : std::strncmp(candidate, text, len) == 0;
}

// The constant of one keyword or description: an exact match wins over
// abbreviations, and an abbreviation must be unambiguous.
int FindOne(const DD_ENUM_DEF *def, const char *text, size_t len, int options, int32_t *value) {
  int found = -1;
  for (int exact = 1; exact >= 0; --exact) {
    const int opts = exact ? (options & ~DD_ENUM_ABBREV) : options;
    if (!exact && !(options & DD_ENUM_ABBREV)) break;
    for (int i = 0; i < def->count; ++i) {
      const DD_ENUM_ENTRY &e = def->entries[i];
      const char *candidate = (options & DD_ENUM_DESCR) ? e.descr : e.keyword;
      if (!Matches(candidate, text, len, opts)) continue;
      if (found >= 0 && def->entries[found].value != e.value) return -1;
      found = i;
    }
    if (found >= 0) break;
  }
  if (found < 0) return -1;
  *value = def->entries[found].value;
  return 0;
}

}  // namespace

DD_ENUM_DEF *get_enum_def(const DD_DOMAIN *domain, int language) {
  if (domain == nullptr) return nullptr;
  const int lang = ResolveLanguage(language);
  for (DD_ENUM_DEF *d = domain->enums; d; d = d->next)
    if (static_cast<unsigned char>(d->language) == lang) return d;
  char name[16];
  log_mesg(__FILE__, __LINE__, "get_enum_def", 0, "Language %c error in domain '%s'", lang,
           dddomainname_from_domain(domain, name));
  return nullptr;
}

int32_t enum_keyw_const(const DD_DOMAIN *domain, const char *keyword) {
  if (domain == nullptr || domain->enums == nullptr || keyword == nullptr) return 0;
  const DD_ENUM_DEF *def = domain->enums;
  for (int i = 0; i < def->count; ++i) {
    const char *k = def->entries[i].keyword;
    if (k[0] == keyword[0] && std::strcmp(k, keyword) == 0) return def->entries[i].value;
  }
  return 0;
}

DD_DOMAIN *dddomain_from_enum_keyw(const char *text, long *value) {
  if (text == nullptr || strnlen(text, kMaxEnumName + 1) > kMaxEnumName) return nullptr;
  std::string name(text);
  DD_DOMAIN *domain = nullptr;
  size_t cut = name.size();
  while ((cut = name.rfind('.', cut == 0 ? std::string::npos : cut - 1)) != std::string::npos) {
    domain = dddomain(name.substr(0, cut).c_str());
    if (domain != nullptr || cut == 0) break;
  }
  if (domain == nullptr || !IsEnumType(domain)) return nullptr;
  if (value == nullptr) return domain;
  const int32_t v = enum_keyw_const(domain, name.c_str() + cut + 1);
  if (v == 0) return nullptr;
  *value = v;
  return domain;
}

void get_enum_minmax(const DD_DOMAIN *domain, int32_t *min, int32_t *max) {
  int32_t lo = 0;
  int32_t hi = 0;
  const DD_ENUM_DEF *def = domain ? domain->enums : nullptr;
  if (def != nullptr && def->count > 0) {
    if (domain->type == DDT_SET) {
      for (int i = 0; i < def->count; ++i) hi |= def->entries[i].value;
    } else {
      lo = hi = def->entries[0].value;
      for (int i = 1; i < def->count; ++i) {
        lo = std::min(lo, def->entries[i].value);
        hi = std::max(hi, def->entries[i].value);
      }
    }
  }
  if (min) *min = lo;
  if (max) *max = hi;
}

char *get_enum_descr(const DD_DOMAIN *domain, int32_t value, int language, char *buf, size_t size) {
  if (domain == nullptr || buf == nullptr || size == 0) return nullptr;
  const DD_ENUM_DEF *def = get_enum_def(domain, language);
  if (def == nullptr) return nullptr;
  std::string out;
  if (domain->type == DDT_SET) {
    for (int i = 0; i < def->count; ++i) {
      if ((value & def->entries[i].value) == 0) continue;
      if (!out.empty()) out += '/';
      out += def->entries[i].descr;
    }
  } else {
    for (int i = 0; i < def->count; ++i)
      if (def->entries[i].value == value) {
        out = def->entries[i].descr;
        break;
      }
    if (out.empty()) return nullptr;
  }
  if (out.size() >= size) return nullptr;
  std::memcpy(buf, out.c_str(), out.size() + 1);
  return buf;
}

int get_enum_const(const DD_DOMAIN *domain, const char *text, int language, int options,
                   int32_t *value) {
  if (domain == nullptr || text == nullptr || value == nullptr || !IsEnumType(domain)) return -1;
  const DD_ENUM_DEF *def = get_enum_def(domain, language);
  if (def == nullptr) return -1;
  if (domain->type == DDT_ENUM) return FindOne(def, text, std::strlen(text), options, value);
  int32_t bits = 0;
  for (const char *p = text;;) {
    const char *slash = std::strchr(p, '/');
    const size_t len = slash ? static_cast<size_t>(slash - p) : std::strlen(p);
    int32_t v = 0;
    if (len > 0) {
      if (FindOne(def, p, len, options, &v) != 0) return -1;
      bits |= v;
    }
    if (slash == nullptr) break;
    p = slash + 1;
  }
  *value = bits;
  return 0;
}
