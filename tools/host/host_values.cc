#include "host_values.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <vector>

#include <molvane/datetime.h>

namespace molvane::host {

namespace {

// A whole decimal integer, optionally signed, nothing else.
bool ParseInteger(const std::string &text, long long *value) {
  if (text.empty()) return false;
  errno = 0;
  char *end = nullptr;
  *value = std::strtoll(text.c_str(), &end, 10);
  return end != text.c_str() && *end == '\0' && errno == 0;
}

// A finite decimal number, nothing else ("1e400", "inf" and "nan" are not).
std::string ParseReal(const std::string &text, double limit, double *value) {
  if (text.empty()) return "not a number";
  errno = 0;
  char *end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0') return "not a number";
  if (!std::isfinite(*value) || errno == ERANGE || std::fabs(*value) > limit) return "out of range";
  return "";
}

void PutBe(unsigned char *p, long long value, int size) {
  auto v = static_cast<unsigned long long>(value);
  for (int i = 0; i < size; ++i) p[i] = static_cast<unsigned char>(v >> (8 * (size - 1 - i)));
}

long long GetBe(const unsigned char *p, int size, bool is_signed) {
  unsigned long long v = 0;
  for (int i = 0; i < size; ++i) v = (v << 8) | p[i];
  if (is_signed && size < 8 && (p[0] & 0x80)) v |= ~0ULL << (8 * size);
  return static_cast<long long>(v);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// YYYY-MM-DD into a day number; -1 when it is not a calendar day.
int32_t ParseDate(const std::string &text) {
  int y = 0, m = 0, d = 0, n = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &m, &d, &n) != 3 ||
      static_cast<std::size_t>(n) != text.size())
    return -1;
  return date_to_num(y, m, d);
}

// YYYY-MM-DDTHH:MM:SS (UTC) into seconds since 1970; -1 when not valid.
long long ParseTime(const std::string &text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, n = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &n) != 6 ||
      static_cast<std::size_t>(n) != text.size() || date_to_num(y, mo, d) < 0)
    return -1;
  return al_pack_utc(y, mo, d, h, mi, s);
}

std::string Range(long long lo, long long hi) {
  return "out of range " + std::to_string(lo) + ".." + std::to_string(hi);
}

}  // namespace

std::string SetValue(const DD_COLUMN *c, unsigned char *p, const std::string &text) {
  int size = c->length / (c->depth > 0 ? c->depth : 1);
  long long n = 0;
  double real = 0;
  switch (c->type) {
    case DDT_FLOAT: {
      std::string why = ParseReal(text, FLT_MAX, &real);
      if (!why.empty()) return why;
      float_in(real, p);
      return "";
    }
    case DDT_DOUBLE: {
      std::string why = ParseReal(text, DBL_MAX, &real);
      if (!why.empty()) return why;
      double_in(real, p);
      return "";
    }
    case DDT_STRING:
    case DDT_MBSTRING:
      if (static_cast<int>(text.size()) > size)
        return "longer than " + std::to_string(size) + " characters";
      std::memset(p, ' ', size);
      std::memcpy(p, text.data(), text.size());
      return "";
    case DDT_RAW: {
      if (static_cast<int>(text.size()) > 2 * size)
        return "longer than " + std::to_string(size) + " bytes";
      std::vector<unsigned char> bytes(size, 0);
      for (std::size_t i = 0; i < text.size(); ++i) {
        int d = HexDigit(text[i]);
        if (d < 0) return "not hexadecimal";
        bytes[i / 2] = static_cast<unsigned char>(bytes[i / 2] | (i % 2 == 0 ? d << 4 : d));
      }
      std::memcpy(p, bytes.data(), bytes.size());
      return "";
    }
    case DDT_COMBINED:
      return "a combined column takes its members' values";
    case DDT_DATE: {
      int32_t day = ParseDate(text);
      if (day < 0 && ParseInteger(text, &n)) {
        if (n < AL_FIRST_DAY_NUMBER || n > AL_LAST_DAY_NUMBER)
          return Range(AL_FIRST_DAY_NUMBER, AL_LAST_DAY_NUMBER);
        day = static_cast<int32_t>(n);
      }
      if (day < 0) return "not a date (YYYY-MM-DD)";
      PutBe(p, day, size);
      return "";
    }
    case DDT_TIME: {
      long long t = ParseTime(text);
      if (t < 0 && !ParseInteger(text, &t)) return "not a time (YYYY-MM-DDTHH:MM:SS)";
      if (t < INT32_MIN || t > INT32_MAX) return Range(INT32_MIN, INT32_MAX);
      PutBe(p, t, size);
      return "";
    }
    default: {
      if (!ParseInteger(text, &n)) return "not a number";
      // Bytes and enumerations are unsigned; the wider integers signed.
      bool is_unsigned = c->type == DDT_BYTE || c->type == DDT_ENUM;
      int bits = 8 * (size < 8 ? size : 8);
      long long lo = is_unsigned ? 0 : -(1LL << (bits - 1));
      long long hi = is_unsigned ? (1LL << bits) - 1 : (1LL << (bits - 1)) - 1;
      if (n < lo || n > hi) return Range(lo, hi);
      PutBe(p, n, size);
      return "";
    }
  }
}

std::string ValueText(const DD_COLUMN *c, const unsigned char *p) {
  int size = c->length / (c->depth > 0 ? c->depth : 1);
  char buf[64];
  switch (c->type) {
    case DDT_FLOAT: std::snprintf(buf, sizeof buf, "%g", float_out(p)); return buf;
    case DDT_DOUBLE: std::snprintf(buf, sizeof buf, "%.2f", double_out(p)); return buf;
    case DDT_STRING:
    case DDT_MBSTRING: {
      std::string s(reinterpret_cast<const char *>(p), size);
      s.erase(s.find_last_not_of(' ') + 1);
      return "\"" + s + "\"";
    }
    case DDT_RAW: {
      static const char kDigits[] = "0123456789abcdef";
      std::string hex;
      for (int i = 0; i < size; ++i) {
        hex += kDigits[p[i] >> 4];
        hex += kDigits[p[i] & 0xF];
      }
      return hex;
    }
    case DDT_DATE: {
      int y = 0, m = 0, d = 0;
      auto day = static_cast<int32_t>(GetBe(p, size, true));
      if (day == 0) return "0";  // the empty date
      if (num_to_date(day, &y, &m, &d) != 0) return std::to_string(day);
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
      return buf;
    }
    case DDT_TIME: {
      int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
      long long t = GetBe(p, size, true);
      if (t == 0) return "0";  // the empty time
      if (al_unpack_utc(t, &y, &mo, &d, &h, &mi, &s) != 0) return std::to_string(t);
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", y, mo, d, h, mi, s);
      return buf;
    }
    default:
      return std::to_string(GetBe(p, size, c->type != DDT_BYTE && c->type != DDT_ENUM));
  }
}

}  // namespace molvane::host
