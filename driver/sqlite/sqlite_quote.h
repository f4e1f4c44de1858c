// Names written into SQLite SQL: an identifier in double quotes, a quote
// inside doubled, so that no table or column name a client sends can end
// it early.
#pragma once

#include <string>

namespace molvane::driver {

inline std::string Quote(const std::string &identifier) {
  std::string q = "\"";
  for (char c : identifier) {
    q += c;
    if (c == '"') q += '"';
  }
  return q + "\"";
}

}  // namespace molvane::driver
