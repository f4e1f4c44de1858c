#include "dd_dump_writer.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace molvane::test {

DumpWriter &DumpWriter::Keyword(std::string_view keyword, std::string_view value) {
  std::string kw(keyword.substr(0, 4));
  kw.resize(4, ' ');
  text_.append(":").append(kw).append(" ").append(value).append("\n");
  return *this;
}

DumpWriter &DumpWriter::Section(char letter, std::string_view label) {
  text_.push_back(letter);
  if (!label.empty()) text_.append(" ").append(label);
  text_.push_back('\n');
  return *this;
}

DumpWriter &DumpWriter::Raw(std::string_view line) {
  text_.append(line).append("\n");
  return *this;
}

DumpWriter &DumpWriter::Domain(std::string_view full_name, std::string_view type) {
  return Section('D', full_name).Keyword("NAME", full_name).Keyword("TYPE", type);
}

DumpWriter &DumpWriter::Column(std::string_view full_name, std::string_view domain) {
  Section('F', full_name.substr(9)).Keyword("NAME", full_name);
  if (!domain.empty()) Keyword("DOMA", domain);
  return *this;
}

DumpWriter &DumpWriter::Index(int nr, std::initializer_list<std::string_view> parts, int duplicates) {
  return Section('I', std::to_string(nr))
      .Keyword("INDX", std::to_string(nr))
      .Keyword("DUPL", std::to_string(duplicates))
      .Keyword("KEYF", Names(parts));
}

std::string DumpWriter::Names(std::initializer_list<std::string_view> names) {
  std::string out;
  for (std::string_view n : names) {
    std::string field(n);
    field.resize(17, ' ');
    out += field;
  }
  return out;
}

void DumpWriter::WriteTo(const std::string &zuv, const std::string &file) const {
  const std::filesystem::path dir = std::filesystem::path(zuv) / "dict";
  std::filesystem::create_directories(dir);
  std::ofstream out(dir / file, std::ios::binary);
  out << text_;
  if (!out) throw std::runtime_error("cannot write dump " + file);
}

}  // namespace molvane::test
