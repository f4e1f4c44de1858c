// Names and texts written into SQLite SQL: an identifier in double quotes
// and a text literal in single quotes, the quote doubled inside, so that no
// table, column or value a client sends can end them early.
#pragma once

#include <string>

namespace molvane::driver {

inline std::string QuotedWith(const std::string &text, char quote) {
  std::string q(1, quote);
  for (char c : text) {
    q += c;
    if (c == quote) q += quote;
  }
  return q + quote;
}

inline std::string Quote(const std::string &identifier) { return QuotedWith(identifier, '"'); }
inline std::string SqlText(const std::string &text) { return QuotedWith(text, '\''); }

}  // namespace molvane::driver
