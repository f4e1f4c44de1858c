// The time-zone engine.
//
// A zone is read from a TZif file (versions 1 to 4): a sorted table of UTC
// transition times, each naming a local time type (offset, daylight flag,
// abbreviation), and for version 2 and later a footer holding a POSIX TZ
// rule that governs every time after the last transition. A zone can also
// be given as such a rule alone. Leap-second records are read over and not
// applied: the library counts POSIX seconds.
//
// Every count and offset taken from a file is checked against the bytes
// actually present before it is used; a malformed file is refused as a
// whole.
#include "platform/timezone.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/dates.h"
#include "platform/env.h"
#include "platform/log.h"
#include "platform/user.h"

namespace {

constexpr size_t kMaxZoneFileSize = 1 << 20;
// Times beyond this many seconds from 1970 (far outside years 1..9999) are
// converted with the zone's first offset, so that no sum can overflow.
constexpr int64_t kTimeLimit = int64_t{1} << 50;
constexpr const char *kSystemZoneDir = "/usr/share/zoneinfo";

struct TimeType {
  int32_t utc_offset = 0;  // seconds east of UTC
  bool is_dst = false;
  std::string abbreviation;
};

// One end of a daylight-saving period of a POSIX rule.
struct RuleDate {
  char kind = 'M';    // 'J' Julian day 1..365 without 29 February, 'N' day 0..365, 'M' month rule
  int day = 0;        // J and N: the day; M: the week day 0 (Sunday) .. 6
  int week = 0;       // M: 1..5, 5 the last such week day of the month
  int month = 0;      // M: 1..12
  int32_t time = 7200;  // local time of day of the change, seconds (may exceed a day)
};

struct PosixRule {
  TimeType standard;
  bool has_dst = false;
  TimeType daylight;
  RuleDate start;  // change to daylight time, in standard local time
  RuleDate end;    // change back, in daylight local time
};

struct Zone {
  std::string name = "UTC";
  std::vector<int64_t> transitions;   // ascending UTC seconds
  std::vector<uint8_t> transition_types;  // index into types, per transition
  std::vector<TimeType> types{TimeType{0, false, "UTC"}};
  std::optional<PosixRule> rule;      // after the last transition, or alone
};

// ---------------------------------------------------------------------
// POSIX TZ rules

class RuleParser {
 public:
  explicit RuleParser(std::string_view text) : s_(text) {}

  std::optional<PosixRule> Parse() {
    PosixRule rule;
    int32_t west = 0;
    if (!Name(&rule.standard.abbreviation) || !Offset(&west, true)) return std::nullopt;
    rule.standard.utc_offset = -west;
    if (AtEnd()) return rule;
    rule.has_dst = true;
    rule.daylight.is_dst = true;
    if (!Name(&rule.daylight.abbreviation)) return std::nullopt;
    rule.daylight.utc_offset = rule.standard.utc_offset + 3600;
    if (!AtEnd() && Peek() != ',') {
      if (!Offset(&west, true)) return std::nullopt;
      rule.daylight.utc_offset = -west;
    }
    if (AtEnd()) {
      // No dates given: the customary default rule.
      rule.start = RuleDate{'M', 0, 2, 3, 7200};
      rule.end = RuleDate{'M', 0, 1, 11, 7200};
      return rule;
    }
    if (!Accept(',') || !Date(&rule.start) || !Accept(',') || !Date(&rule.end) || !AtEnd()) {
      return std::nullopt;
    }
    return rule;
  }

 private:
  bool AtEnd() const { return i_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[i_]; }
  bool Accept(char c) {
    if (Peek() != c) return false;
    ++i_;
    return true;
  }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

  bool Name(std::string *out) {
    size_t start = i_;
    if (Accept('<')) {
      start = i_;
      while (!AtEnd() && Peek() != '>') ++i_;
      if (AtEnd()) return false;
      *out = std::string(s_.substr(start, i_ - start));
      ++i_;
    } else {
      while (IsAlpha(Peek())) ++i_;
      *out = std::string(s_.substr(start, i_ - start));
    }
    return out->size() >= 3;
  }

  bool Number(int *value, int max_digits) {
    int digits = 0;
    *value = 0;
    while (IsDigit(Peek()) && digits < max_digits) {
      *value = *value * 10 + (s_[i_++] - '0');
      ++digits;
    }
    return digits > 0;
  }

  // [+-]hh[:mm[:ss]]; hours up to 167 as later TZif versions allow.
  bool Offset(int32_t *seconds, bool signed_ok) {
    int sign = 1;
    if (signed_ok && (Peek() == '+' || Peek() == '-')) sign = s_[i_++] == '-' ? -1 : 1;
    int h = 0, m = 0, sec = 0;
    if (!Number(&h, 3) || h > 167) return false;
    if (Accept(':')) {
      if (!Number(&m, 2) || m > 59) return false;
      if (Accept(':') && (!Number(&sec, 2) || sec > 59)) return false;
    }
    *seconds = sign * (h * 3600 + m * 60 + sec);
    return true;
  }

  bool Date(RuleDate *date) {
    if (Accept('J')) {
      date->kind = 'J';
      if (!Number(&date->day, 3) || date->day < 1 || date->day > 365) return false;
    } else if (Accept('M')) {
      date->kind = 'M';
      if (!Number(&date->month, 2) || date->month < 1 || date->month > 12) return false;
      if (!Accept('.') || !Number(&date->week, 1) || date->week < 1 || date->week > 5) {
        return false;
      }
      if (!Accept('.') || !Number(&date->day, 1) || date->day > 6) return false;
    } else {
      date->kind = 'N';
      if (!Number(&date->day, 3) || date->day > 365) return false;
    }
    date->time = 7200;
    if (Accept('/')) return Offset(&date->time, true);
    return true;
  }

  std::string_view s_;
  size_t i_ = 0;
};

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Seconds since 1970 of the rule date in the given year, as local wall time.
int64_t rule_local_time(const RuleDate &date, int year) {
  int64_t day_seconds;
  if (date.kind == 'J') {
    int yday = date.day - 1;
    if (is_leap(year) && date.day >= 60) ++yday;
    day_seconds = utc_seconds_of(year, 1, 1, 0, 0, 0) + int64_t{yday} * kSecondsPerDay;
  } else if (date.kind == 'N') {
    day_seconds = utc_seconds_of(year, 1, 1, 0, 0, 0) + int64_t{date.day} * kSecondsPerDay;
  } else {
    const int32_t first = date_to_num(year, date.month, 1);
    const int first_wday = first % 7;  // day 1 was a Monday (1)
    int mday = 1 + (date.day - first_wday + 7) % 7 + 7 * (date.week - 1);
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int month_days = date.month == 2 && is_leap(year) ? 29 : kDays[date.month - 1];
    while (mday > month_days) mday -= 7;
    day_seconds = utc_seconds_of(year, date.month, mday, 0, 0, 0);
  }
  return day_seconds + date.time;
}

const TimeType &rule_type_at(const PosixRule &rule, int64_t utc) {
  if (!rule.has_dst) return rule.standard;
  struct tm parts {};
  if (qelt_gmtime(utc + rule.standard.utc_offset, &parts) == nullptr) return rule.standard;
  const int year = parts.tm_year + 1900;
  const int64_t start = rule_local_time(rule.start, year) - rule.standard.utc_offset;
  const int64_t end = rule_local_time(rule.end, year) - rule.daylight.utc_offset;
  const bool dst = start < end ? (utc >= start && utc < end) : !(utc >= end && utc < start);
  return dst ? rule.daylight : rule.standard;
}

// ---------------------------------------------------------------------
// TZif files

class ByteReader {
 public:
  ByteReader(const std::string &bytes) : data_(bytes) {}
  size_t remaining() const { return data_.size() - pos_; }
  bool Skip(uint64_t n) {
    if (n > remaining()) return false;
    pos_ += n;
    return true;
  }
  bool Bytes(const char **p, uint64_t n) {
    if (n > remaining()) return false;
    *p = data_.data() + pos_;
    pos_ += n;
    return true;
  }
  bool U8(uint8_t *v) {
    const char *p;
    if (!Bytes(&p, 1)) return false;
    *v = static_cast<uint8_t>(*p);
    return true;
  }
  bool BE(uint64_t *v, int width) {
    const char *p;
    if (!Bytes(&p, width)) return false;
    *v = 0;
    for (int i = 0; i < width; ++i) *v = (*v << 8) | static_cast<uint8_t>(p[i]);
    return true;
  }
  const std::string &data_;
  size_t pos_ = 0;
};

struct TzifHeader {
  char version = 0;
  uint64_t isut = 0, isstd = 0, leap = 0, time = 0, type = 0, chars = 0;
};

bool read_header(ByteReader &r, TzifHeader *h) {
  const char *magic;
  if (!r.Bytes(&magic, 4) || std::memcmp(magic, "TZif", 4) != 0) return false;
  const char *version;
  if (!r.Bytes(&version, 1) || !r.Skip(15)) return false;
  h->version = *version;
  uint64_t *fields[] = {&h->isut, &h->isstd, &h->leap, &h->time, &h->type, &h->chars};
  for (uint64_t *f : fields) {
    if (!r.BE(f, 4)) return false;
  }
  return h->type >= 1 && h->type <= 256 && h->chars >= 1 &&
         (h->isut == 0 || h->isut == h->type) && (h->isstd == 0 || h->isstd == h->type);
}

uint64_t data_size(const TzifHeader &h, int time_width) {
  return h.time * time_width + h.time + h.type * 6 + h.chars + h.leap * (time_width + 4) +
         h.isstd + h.isut;
}

bool read_data(ByteReader &r, const TzifHeader &h, int width, Zone *zone) {
  if (data_size(h, width) > r.remaining()) return false;
  zone->transitions.clear();
  zone->transition_types.clear();
  zone->types.clear();
  for (uint64_t i = 0; i < h.time; ++i) {
    uint64_t raw = 0;
    if (!r.BE(&raw, width)) return false;
    const int64_t t = width == 4 ? static_cast<int64_t>(static_cast<int32_t>(raw))
                                 : static_cast<int64_t>(raw);
    if (!zone->transitions.empty() && t <= zone->transitions.back()) return false;
    zone->transitions.push_back(t);
  }
  for (uint64_t i = 0; i < h.time; ++i) {
    uint8_t idx = 0;
    if (!r.U8(&idx)) return false;
    if (idx >= h.type) return false;
    zone->transition_types.push_back(idx);
  }
  std::vector<uint8_t> designations;
  for (uint64_t i = 0; i < h.type; ++i) {
    uint64_t offset = 0;
    uint8_t dst = 0, desig = 0;
    if (!r.BE(&offset, 4) || !r.U8(&dst) || !r.U8(&desig)) return false;
    const int32_t utoff = static_cast<int32_t>(static_cast<uint32_t>(offset));
    if (utoff == INT32_MIN || dst > 1 || desig >= h.chars) return false;
    zone->types.push_back(TimeType{utoff, dst == 1, {}});
    designations.push_back(desig);
  }
  const char *chars = nullptr;
  if (!r.Bytes(&chars, h.chars)) return false;
  for (size_t i = 0; i < zone->types.size(); ++i) {
    const char *start = chars + designations[i];
    const size_t room = h.chars - designations[i];
    const size_t len = strnlen(start, room);
    if (len == room) return false;  // designation without its NUL
    zone->types[i].abbreviation.assign(start, len);
  }
  return r.Skip(h.leap * (width + 4) + h.isstd + h.isut);
}

bool parse_tzif(const std::string &bytes, Zone *zone) {
  ByteReader r(bytes);
  TzifHeader h;
  if (!read_header(r, &h)) return false;
  if (h.version == '\0') return read_data(r, h, 4, zone);
  if (h.version < '2' || h.version > '9') return false;
  if (!r.Skip(data_size(h, 4)) || !read_header(r, &h)) return false;
  if (!read_data(r, h, 8, zone)) return false;
  // Footer: NL, a POSIX TZ rule (possibly empty), NL.
  const char *nl;
  if (!r.Bytes(&nl, 1) || *nl != '\n') return false;
  const char *rest = bytes.data() + r.pos_;
  const void *end = std::memchr(rest, '\n', r.remaining());
  if (end == nullptr) return false;
  const std::string_view footer(rest, static_cast<const char *>(end) - rest);
  zone->rule.reset();
  if (!footer.empty()) {
    zone->rule = RuleParser(footer).Parse();
    if (!zone->rule) return false;
  }
  return true;
}

bool read_file(const std::string &path, std::string *bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->clear();
  char buffer[8192];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes->append(buffer, static_cast<size_t>(in.gcount()));
    if (bytes->size() > kMaxZoneFileSize) return false;
  }
  return true;
}

// A zone name is a relative path of plain components: nothing can climb
// out of the zoneinfo folders.
bool is_safe_zone_name(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.back() == '/') return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t slash = name.find('/', start);
    if (slash == std::string_view::npos) slash = name.size();
    const std::string_view part = name.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    for (char c : part) {
      const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                      (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '+' || c == '.';
      if (!ok) return false;
    }
    start = slash + 1;
  }
  return true;
}

std::vector<std::string> zone_folders() {
  std::vector<std::string> folders;
  const char *root = get_zuv();
  if (root != nullptr && *root != '\0') folders.push_back(std::string(root) + "/lib/zoneinfo");
  folders.push_back(kSystemZoneDir);
  return folders;
}

// Loads a zone by name; the file wins over a rule of the same spelling.
bool load_zone(const std::string &name, Zone *zone) {
  std::string bytes;
  Zone loaded;
  loaded.name = name;
  if (name == "localtime") {
    if (read_file("/etc/localtime", &bytes) && parse_tzif(bytes, &loaded)) {
      *zone = std::move(loaded);
      return true;
    }
    return false;
  }
  if (is_safe_zone_name(name)) {
    for (const std::string &folder : zone_folders()) {
      const std::string path = folder + "/" + name;
      if (!read_file(path, &bytes)) continue;
      if (parse_tzif(bytes, &loaded)) {
        *zone = std::move(loaded);
        return true;
      }
      log_mesg(__FILE__, __LINE__, "Time zone", 0, "Invalid time zone file %s", path.c_str());
      return false;
    }
  }
  std::optional<PosixRule> rule = RuleParser(name).Parse();
  if (!rule) return false;
  loaded.types = {rule->standard};
  loaded.rule = std::move(rule);
  *zone = std::move(loaded);
  return true;
}

// The zone in force. Until the host chooses one (qelt_timezone_set with a
// name), the user's time-zone setting applies as soon as it is known, else
// $TZ, else the system's local time.
struct ZoneChoice {
  Zone zone;
  bool chosen_by_host = false;
  std::string user_zone;  // the user setting last applied or tried
};

Zone default_zone() {
  Zone z;
  const char *tz = std::getenv("TZ");
  std::string name = tz != nullptr ? tz : "localtime";
  if (!name.empty() && name.front() == ':') name.erase(0, 1);
  if (name.empty()) name = "UTC";
  if (!load_zone(name, &z) && name != "localtime") load_zone("localtime", &z);
  return z;
}

ZoneChoice &zone_choice() {
  static ZoneChoice choice{default_zone(), false, {}};
  return choice;
}

Zone &current_zone() {
  ZoneChoice &choice = zone_choice();
  if (!choice.chosen_by_host && user_info.timezone[0] != '\0' &&
      choice.user_zone != user_info.timezone) {
    choice.user_zone = user_info.timezone;
    Zone zone;
    if (load_zone(choice.user_zone, &zone)) {
      choice.zone = std::move(zone);
    } else {
      log_mesg(__FILE__, __LINE__, "Time zone", 0x80, "Unknown time zone %s in the user settings",
               choice.user_zone.c_str());
    }
  }
  return choice.zone;
}

// t + offset, held at the ends of the range instead of overflowing.
int64_t shift(int64_t t, int32_t offset) {
  int64_t result;
  if (__builtin_add_overflow(t, int64_t{offset}, &result)) {
    return offset > 0 ? INT64_MAX : INT64_MIN;
  }
  return result;
}

const TimeType &type_at(const Zone &zone, int64_t utc) {
  if (utc < -kTimeLimit || utc > kTimeLimit) return zone.types.front();
  const auto &t = zone.transitions;
  if (t.empty() || utc < t.front()) {
    if (t.empty() && zone.rule) return rule_type_at(*zone.rule, utc);
    return zone.types.front();
  }
  const size_t i = static_cast<size_t>(std::upper_bound(t.begin(), t.end(), utc) - t.begin()) - 1;
  if (i + 1 == t.size() && zone.rule) return rule_type_at(*zone.rule, utc);
  return zone.types[zone.transition_types[i]];
}

// The UTC instant of a local wall time. `dst_hint` -1 lets the zone decide;
// 0 or 1 prefer that reading where the local time occurs twice.
int64_t local_to_utc(int64_t local, int dst_hint, bool *is_dst) {
  const Zone &zone = current_zone();
  if (local < -kTimeLimit || local > kTimeLimit) {
    if (is_dst != nullptr) *is_dst = false;
    return shift(local, -zone.types.front().utc_offset);
  }
  // Every offset in force within a day and a bit of the local time.
  constexpr int64_t kReach = 26 * 3600;
  const int64_t probes[] = {local - kReach, local, local + kReach};
  bool found = false;
  int64_t best = 0;
  bool best_dst = false;
  for (int64_t probe : probes) {
    const TimeType &candidate = type_at(zone, probe);
    const int64_t utc = local - candidate.utc_offset;
    const TimeType &actual = type_at(zone, utc);
    if (actual.utc_offset != candidate.utc_offset) continue;
    // Prefer the reading the hint asks for, then the earlier instant.
    const bool matches = dst_hint < 0 || actual.is_dst == (dst_hint > 0);
    const bool best_matches = dst_hint < 0 || best_dst == (dst_hint > 0);
    if (!found || (matches && !best_matches) || (matches == best_matches && utc < best)) {
      found = true;
      best = utc;
      best_dst = actual.is_dst;
    }
  }
  if (!found) {
    // Skipped by a change: read with the offset before the change.
    const TimeType &before = type_at(zone, local - kReach);
    best = local - before.utc_offset;
    best_dst = type_at(zone, best).is_dst;
  }
  if (is_dst != nullptr) *is_dst = best_dst;
  return best;
}

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

int tz_offset_at(int64_t utc, bool *is_dst, std::string *abbreviation) {
  const TimeType &type = type_at(current_zone(), utc);
  if (is_dst != nullptr) *is_dst = type.is_dst;
  if (abbreviation != nullptr) *abbreviation = type.abbreviation;
  return type.utc_offset;
}

std::string tz_current_name() { return current_zone().name; }

extern "C" int qelt_timezone_set(const char *name) {
  ZoneChoice &choice = zone_choice();
  if (name == nullptr || *name == '\0') {
    choice.zone = default_zone();
    choice.chosen_by_host = false;
    choice.user_zone.clear();
    return 0;
  }
  Zone zone;
  if (!load_zone(name, &zone)) {
    log_mesg(__FILE__, __LINE__, "Time zone", 0x80, "Unknown time zone %s", name);
    return -1;
  }
  choice.zone = std::move(zone);
  choice.chosen_by_host = true;
  return 0;
}

extern "C" int64_t al_utc_to_local(int64_t utc) { return shift(utc, tz_offset_at(utc)); }

extern "C" int64_t al_local_to_utc(int64_t local) { return local_to_utc(local, -1, nullptr); }

int64_t qelt_mktime(struct tm *lt) {
  if (lt == nullptr) {
    errno = EINVAL;
    return -1;
  }
  // Carry months into years, then every smaller field into seconds.
  int64_t year = int64_t{lt->tm_year} + 1900 + floor_div(lt->tm_mon, 12);
  const int month = static_cast<int>(lt->tm_mon - floor_div(lt->tm_mon, 12) * 12) + 1;
  if (year < 1 || year > 9999) {
    errno = ERANGE;
    return -1;
  }
  const int64_t local = utc_seconds_of(static_cast<int>(year), month, 1, 0, 0, 0) +
                        (int64_t{lt->tm_mday} - 1) * kSecondsPerDay + int64_t{lt->tm_hour} * 3600 +
                        int64_t{lt->tm_min} * 60 + lt->tm_sec;
  struct tm normal {};
  if (qelt_gmtime(local, &normal) == nullptr) {
    errno = ERANGE;
    return -1;
  }
  bool is_dst = false;
  const int64_t utc = local_to_utc(local, lt->tm_isdst < 0 ? -1 : lt->tm_isdst > 0, &is_dst);
  // The instant may read differently than asked (a skipped hour): report
  // the local time that it really is.
  qelt_gmtime(utc + tz_offset_at(utc), &normal);
  normal.tm_isdst = is_dst ? 1 : 0;
  *lt = normal;
  return utc;
}
