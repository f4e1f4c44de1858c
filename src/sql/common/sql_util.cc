#include "sql/common/sql_util.h"

#include <cstdio>
#include <cstring>

#include "sql/common/sql_abort.h"

namespace {

char g_decimal[24];  // a 64-bit decimal with its sign and terminator
constexpr unsigned long kMaxHexBytes = 5000;
char g_hex[2 * kMaxHexBytes + 1];
char g_pointer[2 * sizeof(void *) + 1];

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

char const *long_to_ascii(long v) { return bs8_to_ascii(v); }

char const *bs8_to_ascii(std::int64_t v) {
  std::snprintf(g_decimal, sizeof g_decimal, "%lld", static_cast<long long>(v));
  return g_decimal;
}

char const *ptr_to_ascii(void const *p) {
  static constexpr char kDigits[] = "0123456789abcdef";
  unsigned char bytes[sizeof(void *)];
  std::memcpy(bytes, &p, sizeof bytes);
  for (size_t i = 0; i < sizeof bytes; ++i) {
    g_pointer[2 * i] = kDigits[bytes[i] >> 4];
    g_pointer[2 * i + 1] = kDigits[bytes[i] & 0xF];
  }
  g_pointer[2 * sizeof bytes] = '\0';
  return g_pointer;
}

bool hexstring_to_raw(char const *hex, int n, char *out) {
  for (int i = 0; i < n; ++i)
    if (HexDigitValue(hex[i]) < 0) return false;
  for (int i = 0; i + 1 < n; i += 2)
    out[i / 2] = static_cast<char>((HexDigitValue(hex[i]) << 4) | HexDigitValue(hex[i + 1]));
  if (n > 0 && n % 2 == 1) out[n / 2] = static_cast<char>(HexDigitValue(hex[n - 1]) << 4);
  return true;
}

char const *raw_to_hexstring(unsigned char const *bytes, unsigned long n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  if (n > kMaxHexBytes) n = kMaxHexBytes;
  for (unsigned long i = 0; i < n; ++i) {
    g_hex[2 * i] = kDigits[bytes[i] >> 4];
    g_hex[2 * i + 1] = kDigits[bytes[i] & 0xF];
  }
  g_hex[2 * n] = '\0';
  return g_hex;
}

char const *SQLGetTypeName(SQLType type) {
  switch (type) {
    case SQL_INTEGER: return "INTEGER";
    case SQL_STRING: return "STRING";
    case SQL_REAL: return "REAL";
    case SQL_DATE: return "DATE";
    case SQL_TIMESTAMP: return "TIMESTAMP";
    case SQL_INTERVAL_DAYS: return "INTERVAL DAYS";
    case SQL_INTERVAL_SECONDS: return "INTERVAL SECONDS";
    case SQL_RAW: return "RAW";
    default: SQLAbort(__FILE__, __LINE__, "Unexpected type %d", static_cast<int>(type));
  }
}

char const *SQLGetJoinTypeName(SQLJoinType type) {
  switch (type) {
    case SQL_JOIN_INNER: return "INNER JOIN";
    case SQL_JOIN_LEFT: return "LEFT OUTER JOIN";
    case SQL_JOIN_RIGHT: return "RIGHT OUTER JOIN";
    case SQL_JOIN_FULL: return "FULL OUTER JOIN";
    default: SQLAbort(__FILE__, __LINE__, "Unexpected JoinType %d", static_cast<int>(type));
  }
}

char const *SQLGetTrimSpecName(SQLTrimSpec spec) {
  switch (spec) {
    case SQL_TRIM_LEADING: return "LEADING";
    case SQL_TRIM_TRAILING: return "TRAILING";
    case SQL_TRIM_BOTH: return "BOTH";
    default: SQLAbort(__FILE__, __LINE__, "Unknown trim spec %d", static_cast<int>(spec));
  }
}
