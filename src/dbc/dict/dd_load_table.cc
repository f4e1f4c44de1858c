// Table dumps: the header, skipped "D" sections, one "F" section per column,
// then indexes ("I"), column groups ("L"), referenced-by entries ("R"),
// compared columns ("A") and the S-list ("S"). See docs/dictionary-dump.md.
//
// Columns get their offsets in dump order; after the last column the system
// columns _dlock and _compnr and one index column per key are added, the
// column array is sorted by name (lookups search it), and combined columns
// are resolved to their members. Keys, groups and the compared ranges are
// built on the sorted array.
#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dbc/dict/dd_load.h"
#include "dbc/dict/dd_state.h"
#include "platform/log.h"

namespace molvane::dd {

namespace {

constexpr const char *kKeyword = "Read ddtable";
constexpr int kMaxKeys = 99;  // _index<n> must stay a valid column name

struct Section {
  char letter;
  std::string_view head;                // the section line
  std::vector<std::string_view> lines;  // keyword lines
};

// Where a section letter may stand after the "D" sections: columns, then
// indexes, column groups, referenced-by entries, one "A" and one "S"
// section. 0 for a letter that names no section.
int SectionRank(char letter) {
  switch (letter) {
    case 'F': return 1;
    case 'I': return 2;
    case 'L': return 3;
    case 'R': return 4;
    case 'A': return 5;
    case 'S': return 6;
    default: return 0;
  }
}

struct ColumnDraft {
  DD_COLUMN col{};
  std::vector<std::string> members;  // combined: member full names
};

class TableParser {
 public:
  TableParser(const DumpFile &dump, DD_TABLE *table) : dump_(dump), t_(table) {}
  bool Parse();

 private:
  // Reports the dump as damaged at the line being read (512).
  bool Fail(const char *keyword, int err, const char *fmt, ...) __attribute__((format(printf, 4, 5)));
  bool CheckOrder(size_t first);
  bool Split();
  bool Header();
  bool EndLine();
  bool Columns(const std::vector<const Section *> &fs);
  bool Column(const Section &s, int &running);
  DD_DOMAIN *ColumnDomain(const std::string &name);
  bool AddSystemColumns();
  bool Resolve(DD_COLUMN *c, int depth);
  bool Keys(const std::vector<const Section *> &is);
  bool IndexColumns();
  bool Groups(const std::vector<const Section *> &ls);
  bool ReferencedBy(const std::vector<const Section *> &rs);
  void ComparedRanges(const std::vector<const Section *> &as);
  void SList(const std::vector<const Section *> &ss);
  DD_COLUMN *Own(const std::string &full_name);

  const DumpFile &dump_;
  DD_TABLE *t_;
  std::vector<std::string_view> header_;
  std::vector<Section> sections_;
  std::vector<ColumnDraft> drafts_;
  std::vector<DD_REF> refs_;
  std::map<std::string, std::vector<std::string>> members_;
  std::map<const DD_COLUMN *, int> resolved_;  // 1 in progress, 2 done
  std::vector<unsigned char> row_ = std::vector<unsigned char>(DD_MAX_ROW_LENGTH);
  std::string key_column_name_;
  std::string_view at_;  // the line being read, for the report of a damaged dump
};

bool TableParser::Fail(const char *keyword, int, const char *fmt, ...) {
  char text[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  return DumpDamaged(dump_.physical_name, DumpLineOf(dump_, at_), keyword, "%s", text);
}

bool TableParser::Split() {
  for (std::string_view line : dump_.lines) {
    if (line.empty()) continue;
    if (IsSectionLine(line))
      sections_.push_back({line[0], line, {}});
    else if (sections_.empty())
      header_.push_back(line);
    else
      sections_.back().lines.push_back(line);
  }
  return true;
}

bool TableParser::Header() {
  for (std::string_view line : header_) {
    at_ = line;
    std::string_view kw = Keyword(line);
    char *target = KeywordIs(kw, "R", 'U') ? t_->header_u : KeywordIs(kw, "R", 'D') ? t_->header_d : nullptr;
    if (target == nullptr) continue;
    std::string_view v = StripTrailing(Value(line));
    if (v.size() > 13)
      return Fail(kKeyword, DD_ERR_CORRUPT, "table %s: header text longer than 13 characters\n", t_->name);
    if (!v.empty()) std::memcpy(target, v.data(), v.size());
  }
  return true;
}

// A dump of format version 2 or later (":VERS 2" in its header) ends with
// the line ":END": a dump cut anywhere lacks it. The end line is taken off
// before the sections are read. An older dump without it still loads, with
// a warning, since a cut between its lines would not show.
bool TableParser::EndLine() {
  int version = 0;
  for (std::string_view line : header_)
    if (line[0] == ':' && Keyword(line) == "VERS") version = LeadingInt(Value(line));
  auto is_end = [](std::string_view line) { return line[0] == ':' && Keyword(line) == "END"; };
  // Split keeps every non-empty line in order: the dump's last one is the
  // last kept, unless it is a section line.
  std::string_view last;
  for (auto it = dump_.lines.rbegin(); it != dump_.lines.rend() && last.empty(); ++it) last = *it;
  std::vector<std::string_view> &tail = sections_.empty() ? header_ : sections_.back().lines;
  const bool ended = !tail.empty() && tail.back().data() == last.data() && is_end(last);
  if (ended) tail.pop_back();
  std::vector<const std::vector<std::string_view> *> all{&header_};
  for (const Section &section : sections_) all.push_back(&section.lines);
  for (const std::vector<std::string_view> *lines : all)
    for (std::string_view line : *lines)
      if (is_end(line)) {
        at_ = line;
        return Fail(kKeyword, DD_ERR_CORRUPT, "end line ':END' before the end of the dump");
      }
  if (ended) return true;
  if (version >= 2) {
    at_ = last;
    return Fail(kKeyword, DD_ERR_CORRUPT, "the dump (version %d) has no end line ':END': it is cut short",
                version);
  }
  log_mesg(__FILE__, __LINE__, kKeyword, LOG_WARNING,
           "Dictionary dump %s has no end line ':END' (format version %d): a cut between its lines would "
           "not show",
           dump_.physical_name.c_str(), version);
  return true;
}

DD_DOMAIN *TableParser::ColumnDomain(const std::string &name) {
  DD_DOMAIN *d = dddomain_with_read(name.c_str());
  if (d == nullptr && (State().state & DD_MODE_NEW)) {
    // A ".new" table may use domains that only the current dumps hold. The
    // mode goes back however the lookup ends: memory that runs out in it
    // must not leave the process reading current dumps.
    struct BackToNewMode {
      ~BackToNewMode() { init_dd_mode(3); }
    } back;
    init_dd_mode(1);
    d = dddomain_with_read(name.c_str());
  }
  return d;
}

bool TableParser::Column(const Section &s, int &running) {
  ColumnDraft draft;
  DD_COLUMN &c = draft.col;
  std::string def;
  std::string name;
  int depth = 0;
  bool combined = false;
  const size_t first_ref = refs_.size();
  at_ = s.head;
  for (std::string_view line : s.lines) {
    at_ = line;
    std::string_view kw = Keyword(line);
    std::string_view v = Value(line);
    if (KeywordIs(kw, "N")) {
      name = std::string(StripTrailing(v));
    } else if (KeywordIs(kw, "DO")) {
      std::string dom(StripTrailing(v));
      if ((c.domain = ColumnDomain(dom)) == nullptr)
        return Fail("search domain", DD_ERR_CORRUPT, "search domain '%s' failed", dom.c_str());
      if (c.domain->type == 0)
        return Fail(kKeyword, DD_ERR_CORRUPT, "domain '%s' has no type a column can store", dom.c_str());
    } else if (KeywordIs(kw, "DEF")) {
      def = std::string(v);
    } else if (KeywordIs(kw, "DEP")) {
      depth = LeadingInt(v);
    } else if (KeywordIs(kw, "DB")) {
      c.flags |= DDF_NOT_STORED;
    } else if (KeywordIs(kw, "RE", 'M')) {
      if (refs_.size() == first_ref)
        return Fail(kKeyword, DD_ERR_CORRUPT, "table %s: reference mode without reference\n", t_->name);
      refs_.back().mode = dd_reference_mode(std::string(StripTrailing(v)).c_str());
    } else if (KeywordIs(kw, "RE")) {
      std::string_view target = StripTrailing(v.substr(0, kNameField));
      DD_REF ref{};
      std::memcpy(ref.ref_column, target.data(), target.size());
      refs_.push_back(ref);
      c.flags |= DDF_REFERS;
    } else if (KeywordIs(kw, "RF")) {
      std::string_view text = StripTrailing(v);
      if (refs_.size() == first_ref || text.size() > 13)
        return Fail(kKeyword, DD_ERR_CORRUPT, "table %s: invalid RF line '%.*s'\n", t_->name,
                    static_cast<int>(std::min<size_t>(text.size(), 40)), text.data());
      std::memcpy(refs_.back().rf_text, text.data(), text.size());
    } else if (KeywordIs(kw, "F")) {
      c.flags |= DDF_FILL;
    } else if (KeywordIs(kw, "C")) {
      combined = true;
      for (auto &m : NameFields(v)) draft.members.push_back(m);
    } else if (KeywordIs(kw, "T")) {
      combined = true;
    }
  }
  if (name.size() < 11 || name.size() > 17 ||
      name.compare(0, 8, t_->name) != 0 || name[8] != '.' || !check_syntax_column_name(name.c_str() + 9))
    return Fail(kKeyword, DD_ERR_CORRUPT, "table %s: invalid column name '%s'\n", t_->name, name.c_str());
  std::memcpy(c.name, name.data(), name.size());
  for (size_t r = first_ref; r < refs_.size(); ++r) std::memcpy(refs_[r].column_name, c.name, 18);
  if (depth < 0 || depth > 255)
    return Fail(kKeyword, DD_ERR_CORRUPT, "table %s: depth %d of %s\n", t_->name, depth, c.name);
  c.depth = static_cast<uint8_t>(depth == 0 ? 1 : depth);
  // A domain of the combined type gives a combined column without members:
  // the column's pointer slot holds members, never that domain.
  if (c.domain != nullptr && c.domain->type == DDT_COMBINED) combined = true;
  int length = 0;
  if (combined) {
    c.type = DDT_COMBINED;
    c.domain = nullptr;
  } else {
    if (c.domain == nullptr)
      return Fail(kKeyword, DD_ERR_CORRUPT, "table %s: column %s has no domain\n", t_->name, c.name);
    c.type = c.domain->type;
    length = c.domain->length * c.depth;
    if (c.depth >= 2) c.flags |= DDF_ARRAY;
  }
  if (running + length > DD_MAX_COLUMN_END)
    return Fail("row length", DD_ERR_CORRUPT, "table %s exceeds max rowlength (=%d)", t_->name,
                DD_MAX_ROW_LENGTH);
  c.offset = static_cast<uint16_t>(running);
  c.length = static_cast<uint16_t>(length);
  running += length;
  if (!combined) fill_default(&c, row_.data(), def.c_str());
  if (combined) members_[c.name] = draft.members;
  drafts_.push_back(std::move(draft));
  return true;
}

bool TableParser::Columns(const std::vector<const Section *> &fs) {
  // Every column takes row space, also one not stored in the database: the
  // client's own fields lie before _dlock, never under it.
  int running = 0;
  for (const Section *s : fs)
    if (!Column(*s, running)) return false;
  t_->dlock_offset = static_cast<uint16_t>(running);
  t_->row_length = static_cast<uint16_t>(running + 6);
  t_->default_row = AllocArray<unsigned char>(running + 6);
  std::memcpy(t_->default_row, row_.data(), running);
  t_->default_row[running + 4] = 0xFF;
  t_->default_row[running + 5] = 0xFF;
  return true;
}

bool TableParser::AddSystemColumns() {
  const int parsed = static_cast<int>(drafts_.size());
  const int total = parsed + 2 + t_->key_count;
  if (total > SHRT_MAX) return Fail(kKeyword, DD_ERR_CORRUPT, "table %s has too many columns\n", t_->name);
  DD_COLUMN *cols = AllocArray<DD_COLUMN>(total);
  for (int i = 0; i < parsed; ++i) cols[i] = drafts_[i].col;
  DD_COLUMN *dlock = &cols[parsed];
  std::snprintf(dlock->name, sizeof dlock->name, "%s._dlock", t_->name);
  dlock->domain = DlockDomain();
  dlock->type = DDT_LONG;
  dlock->length = 4;
  dlock->depth = 1;
  dlock->flags = DDF_NOT_STORED;
  dlock->offset = t_->dlock_offset;
  DD_COLUMN *compnr = &cols[parsed + 1];
  std::snprintf(compnr->name, sizeof compnr->name, "%s._compnr", t_->name);
  compnr->domain = CompnrDomain();
  compnr->type = DDT_SHORT;
  compnr->length = 2;
  compnr->depth = 1;
  compnr->flags = DDF_NOT_STORED;
  compnr->offset = static_cast<uint16_t>(t_->dlock_offset + 4);
  for (int n = t_->key_count; n >= 1; --n) {
    DD_COLUMN *ix = &cols[parsed + 2 + (t_->key_count - n)];
    char name[32];
    std::snprintf(name, sizeof name, "%.8s._index%d", t_->name, n);
    std::memcpy(ix->name, name, sizeof ix->name - 1);
    ix->type = DDT_COMBINED;
    ix->depth = 1;
    ix->flags = DDF_INDEX;
  }
  std::sort(cols, cols + total, [](const DD_COLUMN &a, const DD_COLUMN &b) {
    return CompareColumnNames(a.name + 9, b.name + 9) < 0;
  });
  for (int i = 1; i < total; ++i)
    if (CompareColumnNames(cols[i - 1].name + 9, cols[i].name + 9) == 0)
      return Fail(kKeyword, DD_ERR_CORRUPT, "table %s: column %s twice\n", t_->name, cols[i].name);
  t_->columns = cols;
  t_->column_count = static_cast<int16_t>(total);

  std::sort(refs_.begin(), refs_.end(),
            [](const DD_REF &a, const DD_REF &b) { return std::strcmp(a.column_name, b.column_name) < 0; });
  if (refs_.size() > static_cast<size_t>(SHRT_MAX))
    return Fail(kKeyword, DD_ERR_CORRUPT, "table %s has too many references\n", t_->name);
  t_->ref_count = static_cast<int16_t>(refs_.size());
  if (!refs_.empty()) {
    t_->refs = AllocArray<DD_REF>(refs_.size());
    std::copy(refs_.begin(), refs_.end(), t_->refs);
  }
  for (int i = 0; i < total; ++i)
    if (cols[i].type == DDT_COMBINED && !(cols[i].flags & DDF_INDEX) && !Resolve(&cols[i], 0)) return false;
  return true;
}

bool TableParser::Resolve(DD_COLUMN *c, int depth) {
  int &state = resolved_[c];
  if (state == 2) return true;
  if (state == 1 || depth > 16)
    return Fail("fill_child_column", DD_ERR_CORRUPT, "combined column %s contains itself\n", c->name);
  state = 1;
  const std::vector<std::string> &names = members_[c->name];
  if (names.size() > static_cast<size_t>(DD_MAX_LIST))
    return Fail("fill_child_column", DD_ERR_CORRUPT, "combined column %s has too many members\n", c->name);
  if (!names.empty()) {
    DD_COLUMN **list = AllocArray<DD_COLUMN *>(names.size() + 1);
    int sum = 0;
    for (size_t i = 0; i < names.size(); ++i) {
      DD_COLUMN *m = Own(names[i]);
      if (m == nullptr)
        return Fail("fill_child_column", DD_ERR_CORRUPT,
                    "Can't find child column - dictionary may contain conflicting versions or could "
                    "be corrupted");
      if (m->type == DDT_COMBINED && !(m->flags & DDF_INDEX) && !Resolve(m, depth + 1)) return false;
      list[i] = m;
      sum += m->length;
      m->flags |= DDF_MEMBER | ((c->flags & DDF_REFERS) ? DDF_MEMBER_REFERS : 0);
    }
    if (sum > DD_MAX_COLUMN_END)
      return Fail("fill_child_column", DD_ERR_CORRUPT, "combined column %s too long\n", c->name);
    c->members = list;
    c->offset = list[0]->offset;
    c->length = static_cast<uint16_t>(sum);
  }
  resolved_[c] = 2;
  return true;
}

bool TableParser::Keys(const std::vector<const Section *> &is) {
  if (is.empty()) return true;
  t_->keys = AllocArray<DD_KEY>(is.size());
  for (size_t k = 0; k < is.size(); ++k) {
    DD_KEY &key = t_->keys[k];
    std::vector<std::string> parts;
    std::string key_column;
    int nr = 0;
    at_ = is[k]->head;
    for (std::string_view line : is[k]->lines) {
      at_ = line;
      std::string_view kw = Keyword(line);
      std::string_view v = Value(line);
      if (KeywordIs(kw, "I")) {
        nr = LeadingInt(v);
      } else if (KeywordIs(kw, "A")) {
        key.a_digit = static_cast<uint8_t>(v.empty() ? 0 : v[0] - '0');
      } else if (KeywordIs(kw, "DU")) {
        key.duplicates = static_cast<uint8_t>(v.empty() ? 0 : v[0] - '0');
      } else if (KeywordIs(kw, "K", 'F')) {
        for (auto &p : NameFields(v)) parts.push_back(p);
      } else if (KeywordIs(kw, "K", 'L')) {
        key_column = std::string(StripTrailing(v));
      }
    }
    // Indexes are numbered 1 to n in dump order: a gap means a lost section.
    if (nr != static_cast<int>(k) + 1)
      return Fail(kKeyword, DD_ERR_CORRUPT, "table %s: index number %d where index %zu belongs\n",
                  t_->name, nr, k + 1);
    key.index_nr = static_cast<uint8_t>(nr);
    if (nr == 1) key_column_name_ = key_column;
    if (parts.empty() || parts.size() > static_cast<size_t>(DD_MAX_LIST))
      return Fail(kKeyword, DD_ERR_CORRUPT, "table %s: index %d has %zu parts\n", t_->name, nr, parts.size());
    key.parts = AllocArray<DD_COLUMN *>(parts.size() + 1);
    int length = 0;
    for (size_t p = 0; p < parts.size(); ++p) {
      DD_COLUMN *c = Own(parts[p]);
      if (c == nullptr) return Fail("column", DD_ERR_CORRUPT, "column %s not found in DD", parts[p].c_str());
      key.parts[p] = c;
      length += c->length;
    }
    if (length > DD_MAX_KEY_LENGTH)
      return Fail("key length", DD_ERR_CORRUPT, "table %s exceeds max indexlength (=%d) for index %d",
                  t_->name, DD_MAX_KEY_LENGTH, nr);
  }
  if (!key_column_name_.empty() && (t_->key_column = Own(key_column_name_)) == nullptr)
    return Fail("column", DD_ERR_CORRUPT, "key column %s not found in DD", key_column_name_.c_str());
  if (t_->key_column == nullptr) {
    DD_COLUMN **first = search_key_parts(t_, 1);
    t_->key_column = first ? first[0] : nullptr;
  }
  return IndexColumns();
}

bool TableParser::IndexColumns() {
  for (int n = 1; n <= t_->key_count; ++n) {
    char name[24];
    std::snprintf(name, sizeof name, "_index%d", n);
    DD_COLUMN *ix = ddcolumn_by_ddtable(t_, name);
    DD_KEY *key = key_desc(t_, n);
    if (ix == nullptr || key == nullptr) {
      log_mesg(__FILE__, __LINE__, "Illegal key", 0, "Illegal key %d of table %.8s", n, t_->name);
      continue;
    }
    bool any_combined = false;
    for (int p = 0; key->parts[p]; ++p) any_combined |= key->parts[p]->type == DDT_COMBINED;
    DD_COLUMN **members = key->parts;
    if (any_combined) {
      std::vector<DD_COLUMN *> flat(DD_MAX_LIST + 1);
      list_all_columns(key->parts, flat.data());
      const int count = get_nr_columns(flat.data());
      members = AllocArray<DD_COLUMN *>(count + 1);
      std::copy(flat.begin(), flat.begin() + count, members);
    }
    int length = 0;
    for (int m = 0; members[m]; ++m) length += members[m]->length;
    ix->members = members;
    ix->length = static_cast<uint16_t>(length);
    ix->offset = members[0] ? members[0]->offset : 0;
    ix->type = DDT_COMBINED;
    ix->depth = 1;
    ix->flags = DDF_INDEX;
  }
  return true;
}

// A column of this table. Members, key parts and listed columns must be the
// table's own: a column of another table has offsets in another row, and the
// lookup would load that table besides.
DD_COLUMN *TableParser::Own(const std::string &full_name) {
  if (full_name.size() < 9 || full_name.compare(0, 8, t_->name, 8) != 0 || full_name[8] != '.')
    return nullptr;
  DD_COLUMN *c = ddcolumn_by_ddtable(t_, full_name.c_str() + 9);
  if (c < t_->columns || c >= t_->columns + t_->column_count) return nullptr;
  return c;
}

bool TableParser::Groups(const std::vector<const Section *> &ls) {
  if (ls.empty()) return true;
  std::vector<std::vector<uint16_t>> groups;
  std::vector<bool> grouped(t_->column_count);
  for (const Section *s : ls) {
    std::vector<uint16_t> group;
    at_ = s->head;
    for (std::string_view line : s->lines) {
      at_ = line;
      for (const std::string &name : NameFields(Value(line))) {
        DD_COLUMN *c = Own(name);
        if (c == nullptr)
          return Fail("Compute column offset", 0, "Column offset too large or too small.\n");
        std::vector<DD_COLUMN *> elems(DD_MAX_LIST + 1);
        if (c->type == DDT_COMBINED)
          list_column_columns(c, elems.data());
        else
          elems[0] = c;
        for (int e = 0; elems[e]; ++e) {
          const auto pos = static_cast<uint16_t>(elems[e] - t_->columns);
          if (elems[e] < t_->columns || pos >= t_->column_count)
            return Fail("Compute column offset", 0, "Column offset too large or too small.\n");
          if (std::find(group.begin(), group.end(), pos) != group.end()) continue;
          group.push_back(pos);
          grouped[pos] = true;
        }
      }
    }
    groups.push_back(std::move(group));
  }
  for (int i = 0; i < t_->column_count; ++i) {
    const DD_COLUMN &c = t_->columns[i];
    if (!grouped[i] && c.type != DDT_COMBINED && !(c.flags & DDF_NOT_STORED))
      groups.push_back({static_cast<uint16_t>(i)});
  }
  size_t words = 1;
  for (auto &g : groups) words += 1 + g.size();
  if (words > 0xFFFF) return Fail(kKeyword, DD_ERR_CORRUPT, "table %s: column groups too large\n", t_->name);
  uint16_t *w = t_->groups = AllocArray<uint16_t>(words);
  *w++ = static_cast<uint16_t>(groups.size());
  for (auto &g : groups) {
    *w++ = static_cast<uint16_t>(g.size());
    w = std::copy(g.begin(), g.end(), w);
  }
  return true;
}

bool TableParser::ReferencedBy(const std::vector<const Section *> &rs) {
  std::vector<DD_REFBY> entries;
  for (const Section *s : rs) {
    at_ = s->head;
    for (std::string_view line : s->lines) {
      at_ = line;
      if (!KeywordIs(Keyword(line), "R")) continue;
      std::string_view v = Value(line);
      std::string_view name = StripTrailing(v.substr(0, kNameField));
      if (name.empty()) return Fail(kKeyword, DD_ERR_CORRUPT, "table %s: empty REFC line\n", t_->name);
      DD_REFBY e{};
      std::memcpy(e.column_name, name.data(), name.size());
      e.mode = dd_reference_mode(v.size() > kNameField ? std::string(v.substr(kNameField)).c_str() : "");
      entries.push_back(e);
    }
  }
  if (entries.size() > static_cast<size_t>(SHRT_MAX))
    return Fail(kKeyword, DD_ERR_CORRUPT, "table %s: too many referencing columns\n", t_->name);
  t_->refby_count = static_cast<int16_t>(entries.size());
  if (!entries.empty()) {
    t_->refby = AllocArray<DD_REFBY>(entries.size());
    std::copy(entries.begin(), entries.end(), t_->refby);
  }
  return true;
}

void TableParser::ComparedRanges(const std::vector<const Section *> &as) {
  std::vector<DD_COLUMN *> cols;
  if (!as.empty()) {
    for (const Section *s : as)
      for (std::string_view line : s->lines)
        for (const std::string &name : NameFields(Value(line)))
          if (DD_COLUMN *c = Own(name)) {
            c->flags |= DDF_COMPARED;
            cols.push_back(c);
          }
    std::stable_sort(cols.begin(), cols.end(),
                     [](const DD_COLUMN *a, const DD_COLUMN *b) { return a->offset < b->offset; });
  } else {
    std::vector<DD_COLUMN *> all(t_->column_count + 1);
    sort_columns_by_offset(t_, all.data());
    for (int i = 0; all[i]; ++i)
      if (all[i] != t_->refcnt_u && all[i] != t_->refcnt_d) cols.push_back(all[i]);
  }
  std::vector<std::pair<uint16_t, uint16_t>> ranges;
  for (DD_COLUMN *c : cols) {
    if (c->length == 0) continue;
    const int end = c->offset + c->length;
    if (!ranges.empty() && c->offset <= ranges.back().first + ranges.back().second) {
      auto &r = ranges.back();
      r.second = static_cast<uint16_t>(std::max<int>(r.first + r.second, end) - r.first);
    } else {
      ranges.emplace_back(c->offset, c->length);
    }
  }
  uint16_t *w = t_->compare_ranges = AllocArray<uint16_t>(2 * ranges.size() + 2);
  for (auto &r : ranges) {
    *w++ = r.first;
    *w++ = r.second;
  }
}

void TableParser::SList(const std::vector<const Section *> &ss) {
  std::vector<DD_COLUMN *> cols;
  for (const Section *s : ss)
    for (std::string_view line : s->lines)
      for (const std::string &name : NameFields(Value(line)))
        if (DD_COLUMN *c = Own(name)) cols.push_back(c);
  if (cols.empty() || cols.size() > static_cast<size_t>(DD_MAX_LIST)) return;
  t_->s_list = AllocArray<DD_COLUMN *>(cols.size() + 1);
  std::copy(cols.begin(), cols.end(), t_->s_list);
}

bool TableParser::CheckOrder(size_t first) {
  int rank = 0;
  for (size_t s = first; s < sections_.size(); ++s) {
    const Section &section = sections_[s];
    at_ = section.head;
    const int next = SectionRank(section.letter);
    if (next == 0) return Fail(kKeyword, DD_ERR_CORRUPT, "unknown section '%c'", section.letter);
    // "A" and "S" stand once; the others repeat, in their order.
    if (next < rank || (next == rank && next >= 5))
      return Fail(kKeyword, DD_ERR_CORRUPT, "section '%c' out of order", section.letter);
    rank = next;
  }
  return true;
}

bool TableParser::Parse() {
  Split();
  if (!Header() || !EndLine()) return false;
  size_t s = 0;
  while (s < sections_.size() && sections_[s].letter == 'D') ++s;
  if (s == sections_.size() || sections_[s].letter != 'F') {
    at_ = s < sections_.size() ? sections_[s].head : std::string_view();
    return Fail(kKeyword, 0, "dump %s does not start with its columns\n", dump_.physical_name.c_str());
  }
  if (!CheckOrder(s)) return false;
  std::map<char, std::vector<const Section *>> by_letter;
  for (; s < sections_.size(); ++s) by_letter[sections_[s].letter].push_back(&sections_[s]);
  const auto &is = by_letter['I'];
  if (is.size() > static_cast<size_t>(kMaxKeys))
    return Fail(kKeyword, DD_ERR_CORRUPT, "table %s has more than %d indexes\n", t_->name, kMaxKeys);
  t_->key_count = static_cast<uint8_t>(is.size());
  if (!Columns(by_letter['F']) || !AddSystemColumns() || !Keys(is) || !Groups(by_letter['L']) ||
      !ReferencedBy(by_letter['R']))
    return false;
  t_->refcnt_u = ddcolumn_by_ddtable(t_, "Refcntu");
  t_->refcnt_d = ddcolumn_by_ddtable(t_, "Refcntd");
  // Counters count the rows of referencing tables: a table that has them
  // names those tables, unless its dump lost its last sections.
  if ((t_->refcnt_u != nullptr || t_->refcnt_d != nullptr) && t_->refby_count == 0) {
    at_ = std::string_view();
    return Fail(kKeyword, DD_ERR_CORRUPT,
                "table %s has reference counters but no referencing columns (R section)", t_->name);
  }
  ComparedRanges(by_letter['A']);
  SList(by_letter['S']);
  return true;
}

}  // namespace

bool ParseTableDump(const DumpFile &dump, DD_TABLE *table) { return TableParser(dump, table).Parse(); }

}  // namespace molvane::dd
