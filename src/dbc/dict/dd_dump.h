// Reading of dictionary dump files: the whole file is read through a stream
// and split into lines, each at most DD_DUMP_LINE_MAX characters; a longer
// line makes the dump unreadable rather than being split.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace molvane::dd {

constexpr size_t kDumpLineMax = 8191;     // characters of a line, newline excluded
constexpr size_t kDumpFileMax = 64 << 20; // bytes of one dump file
constexpr size_t kNameField = 17;         // tttttttt.cccccccc, blank-padded

struct DumpFile {
  std::string physical_name;  // the file the logical name led to
  std::string text;
  std::vector<std::string_view> lines;  // into text; no newline, no trailing CR
};

enum class DumpRead { kOk, kMissing, kBroken };

// Opens a dump by its logical name and reads it whole. kMissing when no
// alternative opens (silently: the caller decides), kBroken when the file
// cannot be read or holds an overlong line (logged with its keyword).
// Memory that runs out while the dump is opened or read throws
// std::bad_alloc: it says nothing of the file, so no caller may take it for
// a missing or broken dump (nor let an older alternative stand in).
DumpRead ReadDump(const std::string &logical_name, const char *keyword, DumpFile &out);

// Splits a text into dump lines; false (reported as damaged) for an
// overlong line, or for a last line without its newline: the tools end
// every line, so such a dump was cut short.
bool SplitDumpLines(const std::string &name, const char *keyword, DumpFile &dump);

// The number (from 1) of the line a view into dump.text begins on; for a
// view outside the text, the number of the last line.
size_t DumpLineOf(const DumpFile &dump, std::string_view at);

// Reports a damaged dump: logs "<file>, line <n>: <what>" under the
// keyword, appends it to the call's message text (get_zdb_msg) and sets
// zdb_errno 512. Always false.
bool DumpDamaged(const std::string &file, size_t line, const char *keyword, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

// A keyword line ":KKKK value": characters 2 to 5 the keyword, 7 on the value.
inline bool IsKeywordLine(std::string_view line) { return !line.empty() && line[0] == ':'; }
inline bool IsSectionLine(std::string_view line) { return !line.empty() && line[0] != ':'; }
std::string_view Keyword(std::string_view line);  // trailing blanks removed
std::string_view Value(std::string_view line);

// True when the keyword begins with prefix and, when given, has c as its
// fourth character.
bool KeywordIs(std::string_view keyword, std::string_view prefix, char fourth = 0);

// The 17-character name fields of a value, trailing blanks of each removed,
// empty fields skipped.
std::vector<std::string> NameFields(std::string_view value);

std::string_view StripTrailing(std::string_view s);

// The integer at the start of a value as atoi reads it, saturated to int.
int LeadingInt(std::string_view value);

}  // namespace molvane::dd
