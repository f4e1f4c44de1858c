// Name checks of the dictionary: table names, column names and the table part
// of a full column name. None of them touches a file.
#include <cctype>
#include <cstring>

#include "dbc/dict/dd.h"

int check_syntax_column_name(const char *column_name) {
  if (column_name == nullptr) return 0;
  const size_t len = strnlen(column_name, 9);
  if (len < 2 || len > 8) return 0;
  const auto first = static_cast<unsigned char>(column_name[0]);
  if (!std::isalpha(first) && first != '_') return 0;
  for (size_t i = 1; i < len; ++i) {
    const auto c = static_cast<unsigned char>(column_name[i]);
    if (!std::isalnum(c) && c != '.' && c != '_') return 0;
  }
  return 1;
}

// Besides the length and the point, only letters, digits and "_" are let
// through: the name becomes part of a logical file name, where ";", "!", "{"
// and "/" would select other files.
bool dd_table_name_ok(const char *name) {
  if (name == nullptr || name[0] == '\0' || name[0] == ' ') return false;
  if (strnlen(name, 9) != 8) return false;
  for (int i = 0; i < 8; ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (!std::isalnum(c) && c != '_') return false;
  }
  return true;
}

char *ddtablename_from_columnname(const char *full_name, char *buf) {
  static char own[9];
  char *out = buf ? buf : own;
  size_t n = full_name ? strnlen(full_name, 8) : 0;
  std::memcpy(out, full_name ? full_name : "", n);
  out[n] = '\0';
  return out;
}

char *ddtablename_from_column(const DD_COLUMN *column, char *buf) {
  return ddtablename_from_columnname(column ? column->name : nullptr, buf);
}
