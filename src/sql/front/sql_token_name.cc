#include "sql/front/sql_tokens.h"

namespace {

// Names of codes 258 to 389, in code order.
constexpr char const *kNames[] = {
    "ALIKE", "ALL", "AND", "ARRAY", "AS", "ASC", "AS-before-SET", "AVG", "BETWEEN", "BOTH",
    "BUFFER", "BY", "CASE", "CAST", "CLEAR", "CLEARUNREF", "COUNT", "CROSS", "CURRENT_DATE",
    "CURRENT_TIMESTAMP", "DATE", "DATE.NUM", "DATE.TO.NUM", "DELETE", "DESC", "ELSE", "EMPTY",
    "END", "ENUM_DESCRIPTION", "ESCAPE", "EXISTS", "FETCHING", "FIRST", "FOR", "FROM", "FULL",
    "GROUP", "HAVING", "HINT", "HINTS", "IN", "INDEX", "INNER", "INRANGE", "INTEGER", "IS",
    "JOIN", "LAST", "LEADING", "LEFT", "LIKE", "MAX", "MIN", "NO", "NOT", "NULL", "ON", "OR",
    "ORDER", "ORDERED", "OUTER", "PATH", "PREPARED", "RAW", "REAL", "REFERS", "REPEAT", "RETRY",
    "RIGHT", "ROW", "ROWS", "SELECT", "SET", "SETUNREF", "SKIP", "SIZE", "STRING", "SUBHINT",
    "SUM", "TEXT_CONTENT", "THEN", "TIMESTAMP", "TO", "TRAILING", "TRIM", "UNION", "UNREF",
    "UPDATE", "USE", "WHEN", "WHERE", "WITH",
    "&", "*", "\\", ":", "#>", "#>=", "#<", "#<=", ",", "company-column", "$", "||", "=", ">",
    ">=", "raw-literal", "host-variable", "identifier", "qualified-name", "{", "[", "(", "<",
    "<=", "-", "<>", ".", "+", "quoted-company-column", "delimited-identifier", "}", "]", ")",
    ";", "/", "string-literal", "qualified-company-column", "integer-literal", "real-literal",
    "unused",
};

static_assert(sizeof kNames / sizeof kNames[0] == sqltoken::kLastToken - sqltoken::kFirstToken + 1,
              "one name per token code");

}  // namespace

char const *SQLTokenName(int code) {
  if (code == sqltoken::kEnd) return "end";
  if (code < sqltoken::kFirstToken || code > sqltoken::kLastToken) return nullptr;
  return kNames[code - sqltoken::kFirstToken];
}
