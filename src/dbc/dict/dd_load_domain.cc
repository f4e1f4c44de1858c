// Domain dumps: one file per package, a "D" section per domain with its
// keyword lines, and enumeration blocks whose entry lines carry a keyword and
// one description per language. See docs/dictionary-dump.md.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "dbc/dict/dd_load.h"
#include "dbc/dict/dd_state.h"
#include "platform/log.h"
#include "platform/yy_expr.h"
#include "text/tss.h"

namespace molvane::dd {

namespace {

constexpr const char *kKeyword = "Read domain";
constexpr size_t kMaxKeyword = 16;
constexpr size_t kMaxDescr = 256;
constexpr size_t kMaxDomainName = 12;

struct TypeLetter {
  char letter;
  uint8_t type;
  int16_t length;  // -1: from the "CL" line
};

constexpr TypeLetter kTypes[] = {
    {'b', DDT_BYTE, 1},   {'B', DDT_BYTE, 1},     {'i', DDT_SHORT, 2},   {'l', DDT_LONG, 4},
    {'f', DDT_FLOAT, 4},  {'d', DDT_DOUBLE, 8},   {'s', DDT_STRING, -1}, {'t', DDT_DATE, 4},
    {'k', DDT_TIME, 4},   {'u', DDT_LONG_U, 4},   {'v', DDT_LONG_V, 4},  {'e', DDT_ENUM, 1},
    {'p', DDT_SET, 4},    {'c', DDT_COMBINED, 0}, {'m', DDT_MBSTRING, -1}, {'r', DDT_RAW, -1},
};

struct EntryDraft {
  int32_t value;
  std::string keyword;
  std::vector<std::string> descrs;
};

struct DomainDraft {
  DD_DOMAIN d{};
  std::string attrs[5];  // L, IL, O, IF, DM
  char co = 0;
  int32_t div = 0;
  std::string languages;
  std::string range;
  std::vector<EntryDraft> entries;
  bool named = false;
  bool typed = false;  // a type line was read
};

std::string Name(const DD_DOMAIN &d) {
  return std::string(d.package, 2) + d.name;
}

int Clamp(int v, int lo, int hi) { return std::max(lo, std::min(hi, v)); }

// The fields of an entry line from its fifth character: "~" separates,
// "\~" and "\\" stand for themselves, a 4-byte TSS character is taken whole.
std::vector<std::string> EntryFields(std::string_view line) {
  std::vector<std::string> fields(1);
  for (size_t i = 4; i < line.size();) {
    const char c = line[i];
    if (static_cast<unsigned char>(c) == 0x9B && i + 4 <= line.size()) {
      fields.back().append(line.substr(i, 4));
      i += 4;
    } else if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '~' || line[i + 1] == '\\')) {
      fields.back() += line[i + 1];
      i += 2;
    } else if (c == '~') {
      fields.emplace_back();
      ++i;
    } else {
      fields.back() += c;
      ++i;
    }
  }
  for (auto &f : fields) f.resize(StripTrailing(f).size());
  return fields;
}

// One entry line of an enumeration block; false refuses the entry (logged).
bool ParseEntry(DomainDraft &draft, std::string_view line) {
  const std::string name = Name(draft.d);
  if (line.size() < 4 || !std::isdigit(static_cast<unsigned char>(line[1])) ||
      !std::isdigit(static_cast<unsigned char>(line[2])) ||
      !std::isdigit(static_cast<unsigned char>(line[3]))) {
    log_mesg(__FILE__, __LINE__, kKeyword, 0, "domain %s: malformed enumeration entry '%.*s'\n",
             name.c_str(), static_cast<int>(std::min<size_t>(line.size(), 40)), line.data());
    return false;
  }
  const int k = (line[1] - '0') * 100 + (line[2] - '0') * 10 + (line[3] - '0');
  EntryDraft e;
  if (draft.d.type == DDT_SET) {
    if (k < 1 || k > 32) {
      log_mesg(__FILE__, __LINE__, kKeyword, 0,
               "domain %s: set entry %d outside 1 to 32, entry refused\n", name.c_str(), k);
      return false;
    }
    e.value = static_cast<int32_t>(uint32_t{1} << (k - 1));
  } else {
    if (k > 255) {
      log_mesg(__FILE__, __LINE__, kKeyword, 0,
               "domain %s: enumeration constant %d does not fit one byte, entry refused\n",
               name.c_str(), k);
      return false;
    }
    e.value = k;
  }
  std::vector<std::string> fields = EntryFields(line);
  e.keyword = fields[0];
  if (e.keyword.size() > kMaxKeyword) {
    log_mesg(__FILE__, __LINE__, kKeyword, 0,
             "domain %s: keyword '%s' longer than %zu bytes, entry refused\n", name.c_str(),
             e.keyword.c_str(), kMaxKeyword);
    return false;
  }
  for (size_t l = 0; l < draft.languages.size(); ++l) {
    std::string descr = l + 1 < fields.size() ? fields[l + 1] : std::string();
    if (descr.size() > kMaxDescr) {
      log_mesg(__FILE__, __LINE__, kKeyword, 0,
               "domain %s: description of '%s' longer than %zu bytes, entry refused\n",
               name.c_str(), e.keyword.c_str(), kMaxDescr);
      return false;
    }
    e.descrs.push_back(std::move(descr));
  }
  draft.entries.push_back(std::move(e));
  return true;
}

// Texts of one domain are stored once; equal descriptions share their copy.
class TextStore {
 public:
  const char *Save(const std::string &text) {
    static const char kEmpty[1] = "";
    if (text.empty()) return kEmpty;
    auto it = saved_.find(text);
    if (it != saved_.end()) return it->second;
    const char *p = SaveText(text.data(), text.size());
    saved_.emplace(text, p);
    return p;
  }

 private:
  std::map<std::string, const char *> saved_;
};

void BuildEnums(DomainDraft &draft) {
  const size_t count = std::min<size_t>(draft.entries.size(), 0xFFFF);
  if (draft.languages.empty() || count == 0) return;
  TextStore texts;
  std::vector<const char *> keywords;
  for (size_t i = 0; i < count; ++i) keywords.push_back(texts.Save(draft.entries[i].keyword));
  DD_ENUM_DEF **link = &draft.d.enums;
  for (size_t l = 0; l < draft.languages.size(); ++l) {
    auto *def = AllocArray<DD_ENUM_DEF>(1);
    def->entries = AllocArray<DD_ENUM_ENTRY>(count);
    def->count = static_cast<uint16_t>(count);
    def->language = draft.languages[l];
    for (size_t i = 0; i < count; ++i) {
      const std::vector<std::string> &descrs = draft.entries[i].descrs;
      static const std::string kNone;
      const std::string &descr = l < descrs.size() ? descrs[l] : kNone;
      def->entries[i] = {keywords[i], texts.Save(descr), draft.entries[i].value};
      def->max_descr_len = std::max<uint16_t>(def->max_descr_len, static_cast<uint16_t>(descr.size()));
    }
    *link = def;
    link = &def->next;
  }
}

void CompileRange(DomainDraft &draft) {
  if (draft.range.empty()) return;
  yy_expr_errno = 0;
  draft.d.range = yy_expr_compile(draft.range.c_str(), &Alloc);
  // Without memory the range is not wrong, only not compiled: the domain
  // must not be kept unchecked, so the whole load fails (501).
  if (yy_expr_errno == YY_ERR_MEMORY) throw std::bad_alloc();
  if (yy_expr_errno != 0 || draft.d.range == nullptr)
    log_mesg(__FILE__, __LINE__, "Invalid range expression", 0,
             "domain: %c%c%s, range expression: %s, error %d", draft.d.package[0],
             draft.d.package[1], draft.d.name, draft.range.c_str(), yy_expr_errno);
}

// Completes a domain; what makes the dump unusable, or empty.
std::string Finish(DomainDraft &draft, std::vector<DD_DOMAIN> &out) {
  if (!draft.named) return "domain section without a name";
  // Without its type a domain would give its columns no length and its
  // values no form: the dump lost the line.
  if (!draft.typed) return "domain " + Name(draft.d) + " has no type line (:TYPE)";
  DD_DOMAIN &d = draft.d;
  d.value = (d.type == DDT_STRING || d.type == DDT_MBSTRING) ? draft.co : draft.div;
  std::string attrs;
  for (auto &a : draft.attrs) attrs.append(a).push_back('\0');
  d.attributes = attrs.size() == 5 ? State().empty_attributes : SaveText(attrs.data(), attrs.size());
  CompileRange(draft);
  if (d.type == DDT_ENUM || d.type == DDT_SET) BuildEnums(draft);
  if (d.type == DDT_MBSTRING && TssGetMode() == 2 &&
      d.length < (TssGetZeroWidthFactor() + 1) * d.print_length * 4)
    log_mesg(__FILE__, __LINE__, "CLEN", 0x80, "WARNING: invalid string len for %s (CLEN): %d",
             Name(d).c_str(), d.length);
  out.push_back(d);
  return {};
}

// One keyword line of a domain; what makes the dump unusable, or empty.
std::string DomainKeyword(DomainDraft &draft, std::string_view kw, std::string_view value) {
  DD_DOMAIN &d = draft.d;
  if (KeywordIs(kw, "N")) {
    value = StripTrailing(value);
    if (value.size() < 3 || value.size() - 2 > kMaxDomainName)
      return "invalid domain name '" + std::string(value.substr(0, 40)) + "'";
    std::memcpy(d.package, value.data(), 2);
    std::memcpy(d.name, value.data() + 2, value.size() - 2);
    draft.named = true;
  } else if (KeywordIs(kw, "T")) {
    // The type line fixes the languages the entries are read for: a second
    // one after entries would leave them with another number of descriptions.
    if (!draft.entries.empty()) return "domain " + Name(d) + ": type line after its enumeration entries";
    draft.typed = true;
    // Texts and raw bytes keep the length of their "CL" line, before or after.
    const char letter = value.empty() ? 0 : value[0];
    const TypeLetter *found = nullptr;
    for (const TypeLetter &t : kTypes)
      if (t.letter == letter) found = &t;
    d.type = found ? found->type : 0;
    if (found == nullptr)
      d.length = 0;
    else if (found->length >= 0)
      d.length = found->length;
    if (d.type == DDT_BYTE) d.flag = letter == 'B' ? 1 : 0;
    if (d.type == DDT_ENUM || d.type == DDT_SET) draft.languages = std::string(StripTrailing(value.substr(1)));
  } else if (KeywordIs(kw, "CL")) {
    const int len = LeadingInt(value);
    if (len < 1)
      log_mesg(__FILE__, __LINE__, "CLEN", 0x80, "WARNING: invalid string len for %c%c%s (CLEN): %d",
               d.package[0], d.package[1], d.name, len);
    if (len > DD_MAX_COLUMN_END)
      return "domain " + Name(d) + ": length " + std::to_string(len) + " exceeds the row length";
    d.length = static_cast<int16_t>(std::max(len, 0));
  } else if (KeywordIs(kw, "CO")) {
    draft.co = value.empty() ? 0 : value[0];
  } else if (KeywordIs(kw, "DIGV")) {
    d.digits_before = static_cast<uint8_t>(Clamp(LeadingInt(value), 0, 255));
  } else if (KeywordIs(kw, "DIGA")) {
    d.digits_after = static_cast<uint8_t>(Clamp(LeadingInt(value), 0, 255));
  } else if (KeywordIs(kw, "DIV")) {
    draft.div = LeadingInt(value);
  } else if (KeywordIs(kw, "DM")) {
    draft.attrs[4] = value;
  } else if (KeywordIs(kw, "RN")) {
    d.rn = static_cast<uint8_t>(Clamp(LeadingInt(value), 0, 255));
  } else if (KeywordIs(kw, "RA")) {
    draft.range = std::string(StripTrailing(value));
  } else if (KeywordIs(kw, "P")) {
    d.print_length = static_cast<int16_t>(Clamp(LeadingInt(value), -32768, 32767));
  } else if (KeywordIs(kw, "A")) {
    d.flag = value.empty() ? 0 : static_cast<uint8_t>(value[0]);
  } else if (KeywordIs(kw, "L")) {
    draft.attrs[0] = value;
  } else if (KeywordIs(kw, "IL")) {
    draft.attrs[1] = value;
  } else if (KeywordIs(kw, "O")) {
    draft.attrs[2] = value;
  } else if (KeywordIs(kw, "IF")) {
    draft.attrs[3] = value;
  }
  return {};
}

void PrintEnums(const DD_DOMAIN_LIST *list) {
  for (int i = 0; i < list->count; ++i) {
    const DD_DOMAIN &d = list->domains[i];
    if (d.type != DDT_ENUM && d.type != DDT_SET) continue;
    std::fprintf(stderr, "%s %.2s%s\n", d.type == DDT_ENUM ? "ENUM" : "BSET", d.package, d.name);
    for (const DD_ENUM_DEF *def = d.enums; def; def = def->next) {
      std::fprintf(stderr, "\tKeyword: %-20s, lang %c\n", d.name, def->language);
      for (int e = 0; e < def->count; ++e)
        std::fprintf(stderr, "\t%d: %s\n", def->entries[e].value, def->entries[e].descr);
    }
  }
}

}  // namespace

DD_DOMAIN_LIST *ParseDomainDump(const DumpFile &dump, const char *package) {
  std::vector<DD_DOMAIN> domains;
  DomainDraft draft;
  bool open = false;
  size_t head = 0;  // the line of the open domain's section
  auto damaged = [&](size_t line, const std::string &why) {
    DumpDamaged(dump.physical_name, line, kKeyword, "%s", why.c_str());
    return nullptr;
  };
  const auto &lines = dump.lines;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line.empty()) continue;
    if (IsSectionLine(line)) {
      if (open)
        if (std::string why = Finish(draft, domains); !why.empty()) return damaged(head, why);
      open = line[0] == 'D';
      head = i + 1;
      draft = DomainDraft{};
      continue;
    }
    if (!open) continue;
    std::string_view kw = Keyword(line);
    if (KeywordIs(kw, "B")) {
      const int n = LeadingInt(Value(line));
      if (n < 0 || static_cast<size_t>(n) > lines.size() - i - 1 ||
          (draft.d.type != DDT_ENUM && draft.d.type != DDT_SET))
        return damaged(i + 1, "domain " + Name(draft.d) + ": enumeration block of " +
                                  std::to_string(n) + " entries does not fit the dump");
      for (int e = 0; e < n; ++e) ParseEntry(draft, lines[++i]);
      continue;
    }
    if (std::string why = DomainKeyword(draft, kw, Value(line)); !why.empty()) return damaged(i + 1, why);
  }
  if (open)
    if (std::string why = Finish(draft, domains); !why.empty()) return damaged(head, why);
  if (domains.size() > 0xFFFF) {
    log_mesg(__FILE__, __LINE__, kKeyword, 0, "too many domains in %s\n", dump.physical_name.c_str());
    return nullptr;
  }
  std::stable_sort(domains.begin(), domains.end(),
                   [](const DD_DOMAIN &a, const DD_DOMAIN &b) { return std::strcmp(a.name, b.name) < 0; });
  auto *list = AllocArray<DD_DOMAIN_LIST>(1);
  std::memcpy(list->package, package, 2);
  list->count = static_cast<uint16_t>(domains.size());
  list->domains = AllocArray<DD_DOMAIN>(domains.size());
  std::copy(domains.begin(), domains.end(), list->domains);
  list->mode_bits = static_cast<uint8_t>(ModeBits());
  if (DebugLevel() & 0x1000) PrintEnums(list);
  return list;
}

}  // namespace molvane::dd

using namespace molvane::dd;

DD_DOMAIN_LIST *read_domain_list(const char *package) {
  if (!PackageOk(package)) return nullptr;
  DdState &st = State();
  const bool new_mode = (st.state & DD_MODE_NEW) != 0;
  if (DD_DOMAIN_LIST *list = FindDomainList(package)) {
    if (new_mode) st.new_dumps_in_use = true;
    return list;
  }
  char name[64];
  std::snprintf(name, sizeof name, new_mode ? "{nofdlog}F_ZRDD:d%.2s.pd.new" : "{nofdlog}F_ZRDD:d%.2s.pd",
                package);
  LoadScope scope;
  scope.Commit();  // a domain list stays, even an empty one
  DumpFile dump;
  DD_DOMAIN_LIST *list = nullptr;
  if (ReadDump(name, kKeyword, dump) == DumpRead::kOk) {
    list = ParseDomainDump(dump, package);
    if (DebugLevel() & 0x8000) std::fprintf(stderr, "Domain dump %s load from %s\n", name, "disk");
  }
  if (list == nullptr) {
    // Missing or unusable: an empty list remembers the miss.
    list = AllocArray<DD_DOMAIN_LIST>(1);
    std::memcpy(list->package, package, 2);
    list->mode_bits = static_cast<uint8_t>(ModeBits());
    AddDomainList(list);
    return nullptr;
  }
  AddDomainList(list);
  if (new_mode) st.new_dumps_in_use = true;
  return list;
}
