// Dump files read whole through the stream layer and cut into lines.
#include "dbc/dict/dd_dump.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include <molvane/zdb.h>

#include "dbc/dict/dd.h"
#include "dbc/zdb_msg.h"
#include "ipc/fname.h"
#include "ipc/stream.h"
#include "platform/log.h"

namespace molvane::dd {

bool SplitDumpLines(const std::string &name, const char *keyword, DumpFile &dump) {
  dump.lines.clear();
  std::string_view rest(dump.text);
  size_t number = 0;
  while (!rest.empty()) {
    ++number;
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > kDumpLineMax)
      return DumpDamaged(name, number, keyword, "line longer than %zu characters", kDumpLineMax);
    dump.lines.push_back(line);
  }
  if (!dump.text.empty() && dump.text.back() != '\n')
    return DumpDamaged(name, number, keyword, "the last line has no end: the dump is cut short");
  return true;
}

size_t DumpLineOf(const DumpFile &dump, std::string_view at) {
  const char *begin = dump.text.data();
  if (at.data() == nullptr || at.data() < begin || at.data() > begin + dump.text.size())
    return std::max<size_t>(1, dump.lines.size());
  return 1 + static_cast<size_t>(std::count(begin, at.data(), '\n'));
}

bool DumpDamaged(const std::string &file, size_t line, const char *keyword, const char *format, ...) {
  char what[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(what, sizeof what, format, args);
  va_end(args);
  // Trailing newlines of the old message texts would split the report.
  size_t n = std::strlen(what);
  while (n > 0 && what[n - 1] == '\n') what[--n] = '\0';
  char text[1200];
  std::snprintf(text, sizeof text, "Dictionary dump %s, line %zu: %s", file.c_str(), line, what);
  log_mesg(__FILE__, __LINE__, keyword, 0, "%s", text);
  const char *before = get_zdb_msg();
  if (before != nullptr && *before != '\0') add_zdb_msg("\n");
  add_zdb_msg(text);
  zdb_errno = DD_ERR_CORRUPT;
  return false;
}

DumpRead ReadDump(const std::string &logical_name, const char *keyword, DumpFile &out) {
  StreamPtr stream(qelt_sopen(logical_name.c_str(), "r"));
  STREAM *s = stream.get();
  if (s == nullptr) {
    if (errno == ENOMEM) throw std::bad_alloc();
    return DumpRead::kMissing;
  }
  char physical[1024] = "";
  get_last_exploded_fname(physical, sizeof physical);
  out.physical_name = physical;
  out.text.clear();
  char buf[8192];
  bool ok = true;
  for (;;) {
    const long n = sread_blok(buf, sizeof buf, s);
    if (n < 0) {
      if (errno == ENOMEM) throw std::bad_alloc();  // the stream's buffer
      log_mesg(__FILE__, __LINE__, keyword, 0, "read error on dump %s\n", out.physical_name.c_str());
      ok = false;
      break;
    }
    if (n == 0) break;
    if (out.text.size() + static_cast<size_t>(n) > kDumpFileMax) {
      log_mesg(__FILE__, __LINE__, keyword, 0, "dump %s larger than %zu bytes\n",
               out.physical_name.c_str(), kDumpFileMax);
      ok = false;
      break;
    }
    out.text.append(buf, n);
  }
  stream.reset();
  return ok && SplitDumpLines(out.physical_name, keyword, out) ? DumpRead::kOk : DumpRead::kBroken;
}

std::string_view StripTrailing(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string_view Keyword(std::string_view line) {
  if (line.empty()) return line;
  return StripTrailing(line.substr(1, std::min<size_t>(4, line.size() - 1)));
}

// An absent value is an empty view at the end of the line, never a view
// without data: callers copy from it.
std::string_view Value(std::string_view line) {
  return line.substr(std::min<size_t>(6, line.size()));
}

bool KeywordIs(std::string_view keyword, std::string_view prefix, char fourth) {
  if (keyword.substr(0, prefix.size()) != prefix) return false;
  return fourth == 0 || (keyword.size() >= 4 && keyword[3] == fourth);
}

std::vector<std::string> NameFields(std::string_view value) {
  std::vector<std::string> out;
  for (size_t pos = 0; pos < value.size(); pos += kNameField) {
    std::string_view field = StripTrailing(value.substr(pos, kNameField));
    if (!field.empty()) out.emplace_back(field);
  }
  return out;
}

int LeadingInt(std::string_view value) {
  size_t i = 0;
  while (i < value.size() && value[i] == ' ') ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
  long long v = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    v = v * 10 + (value[i] - '0');
    if (v > INT_MAX) {
      v = INT_MAX;
      break;
    }
  }
  return static_cast<int>(negative ? -v : v);
}

}  // namespace molvane::dd
