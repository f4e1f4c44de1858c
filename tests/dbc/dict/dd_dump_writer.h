// Writes dictionary dumps for tests that need dumps the fixtures do not hold:
// odd layouts, limits, broken lines. The format is docs/dictionary-dump.md.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace molvane::test {

class DumpWriter {
 public:
  // ":KKKK value": the keyword padded to 4 characters, a blank, the value.
  DumpWriter &Keyword(std::string_view keyword, std::string_view value = "");
  // A section line: the letter, a blank and a label.
  DumpWriter &Section(char letter, std::string_view label = "");
  DumpWriter &Raw(std::string_view line);

  // A "D" section of a domain dump with its name and type line.
  DumpWriter &Domain(std::string_view full_name, std::string_view type);
  // An "F" section of a table dump with the column's name and domain.
  DumpWriter &Column(std::string_view full_name, std::string_view domain = "");
  // An "I" section with the index number, duplicates digit and parts.
  DumpWriter &Index(int nr, std::initializer_list<std::string_view> parts, int duplicates = 0);

  // Names in 17-character fields, as column lists are written.
  static std::string Names(std::initializer_list<std::string_view> names);

  const std::string &Text() const { return text_; }
  // Writes the dump as dict/<file> below an environment root.
  void WriteTo(const std::string &zuv, const std::string &file) const;

 private:
  std::string text_;
};

}  // namespace molvane::test
