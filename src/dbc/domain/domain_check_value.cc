// Single-value domain checks. The column's type decides how the stored value
// is read (integers big-endian, reals least significant byte first, texts
// blank-padded) and which tests apply: must-fill, the range expression, the
// legal and illegal character sets, the case conversion and the digits of a
// real. Every check starts by emptying the failure text and writes it when
// the value fails.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <molvane/datetime.h>

#include "dbc/dict/dd.h"
#include "dbc/domain/domain_check.h"
#include "platform/big_endian.h"
#include "platform/yy_expr.h"
#include "text/tss.h"

namespace {

// The failure text, at namespace scope so that reaching it needs no guard
// of a function's static: every row check empties it. No static
// initialiser of another file sets it.
std::string g_text;

std::string &Text() { return g_text; }

__attribute__((format(printf, 1, 2))) void SetText(const char *format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string &text = Text();
  if (n > 0) {
    text.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<std::size_t>(n));
  }
  va_end(again);
}

const YY_EXPR *Range(const DD_DOMAIN *domain) {
  return domain != nullptr ? static_cast<const YY_EXPR *>(domain->range) : nullptr;
}

bool MustFill(const DD_COLUMN *column) { return (column->flags & DDF_FILL) != 0; }

int FailInt(const DD_COLUMN *column, int code, int32_t value) {
  SetText("%s not according to %s (value %d)", column->name, zdb_dd_check_keyword(code), value);
  return code;
}

int FailReal(const DD_COLUMN *column, int code, double value) {
  SetText("%s not according to %s (value %f)", column->name, zdb_dd_check_keyword(code), value);
  return code;
}

int FailText(const DD_COLUMN *column, int code, const unsigned char *value, int length) {
  SetText("%s not according to %s (value '%.*s')", column->name, zdb_dd_check_keyword(code),
          length, reinterpret_cast<const char *>(value));
  return code;
}

int FailRaw(const DD_COLUMN *column, int code, const unsigned char *value, int length) {
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(static_cast<std::size_t>(length) * 2);
  for (int i = 0; i < length; ++i) {
    hex.push_back(kHex[value[i] >> 4]);
    hex.push_back(kHex[value[i] & 0xF]);
  }
  SetText("%s not according to %s (value '%s')", column->name, zdb_dd_check_keyword(code),
          hex.c_str());
  return code;
}

int CheckInteger(const DD_COLUMN *column, int32_t value) {
  if (value == 0) return MustFill(column) ? FailInt(column, DDC_FILL, value) : DDC_OK;
  const YY_EXPR *range = Range(column->domain);
  if (range != nullptr && !yy_b_express(range, YY_INTEGER, &value))
    return FailInt(column, DDC_RANG, value);
  return DDC_OK;
}

int CheckReal(const DD_COLUMN *column, double value) {
  const DD_DOMAIN *domain = column->domain;
  const YY_EXPR *range = Range(domain);
  const int digits = domain != nullptr ? domain->digits_before : 0;
  if (range == nullptr && !MustFill(column) && digits == 0) return DDC_OK;
  if (value == 0.0) return MustFill(column) ? FailReal(column, DDC_FILL, value) : DDC_OK;
  if (range != nullptr && !yy_b_express(range, YY_REAL, &value))
    return FailReal(column, DDC_RANG, value);
  if (digits >= 1 && digits <= 15 && value >= std::pow(10.0, digits))
    return FailReal(column, DDC_DIGV, value);
  return DDC_OK;
}

// The legal ("L") and illegal ("IL") character sets of a text domain.
struct CharSets {
  const char *legal;
  const char *illegal;
};

CharSets Sets(const DD_DOMAIN *domain) {
  const char *attributes[5];
  extract_dom_attributes(domain, attributes);
  return {attributes[0], attributes[1]};
}

// The case conversion of a text domain: 'u' upper case, any other nonzero
// letter lower case, 0 none.
int Conversion(const DD_DOMAIN *domain) { return domain != nullptr ? domain->value : 0; }

bool InByteSet(const char *set, unsigned char c) {
  return c != 0 && std::strchr(set, static_cast<char>(c)) != nullptr;
}

// One TSS character of a value: 1 byte, or 4 bytes starting with 0x9B.
struct TssChar {
  const char *p;
  int length;
  bool Is(unsigned char c) const { return length == 1 && static_cast<unsigned char>(*p) == c; }
};

// Lower-case letters that have no upper-case form: the ordinal indicators,
// as 1-byte and as 4-byte characters.
bool ExemptFromUpper(const TssChar &ch) {
  if (ch.length == 1) return ch.Is(0xAA) || ch.Is(0xBA);
  const auto *b = reinterpret_cast<const unsigned char *>(ch.p);
  return b[0] == 0x9B && b[1] == 0xBC && b[2] == 0x81 && (b[3] == 0xAA || b[3] == 0xBA);
}

// The steps after must-fill and range, over the characters of a text.
template <class InSet>
int CheckCharacters(const DD_COLUMN *column, const std::vector<TssChar> &chars, InSet in_set,
                    const unsigned char *value, int length) {
  const DD_DOMAIN *domain = column->domain;
  const CharSets sets = Sets(domain);
  for (const TssChar &ch : chars)
    if (in_set(sets.illegal, ch)) return FailText(column, DDC_ILCH, value, length);
  if (sets.legal[0] != '\0') {
    for (const TssChar &ch : chars)
      if (!ch.Is(' ') && !in_set(sets.legal, ch)) return FailText(column, DDC_LECH, value, length);
  }
  const int conversion = Conversion(domain);
  if (conversion == 'u') {
    for (const TssChar &ch : chars)
      if (TssIsLower(ch.p) && !ExemptFromUpper(ch)) return FailText(column, DDC_CONV_U, value, length);
  } else if (conversion != 0) {
    for (const TssChar &ch : chars)
      if (TssIsUpper(ch.p)) return FailText(column, DDC_CONV_L, value, length);
  }
  return DDC_OK;
}

bool AllBlank(const std::vector<TssChar> &chars) {
  for (const TssChar &ch : chars)
    if (!ch.Is(' ')) return false;
  return true;
}

// Single-byte text: every byte up to the first NUL is one character. Nothing
// is allocated unless a range test needs the text terminated beyond the
// stack buffer.
int CheckString(const DD_COLUMN *column, const unsigned char *value, int length) {
  const std::size_t n = strnlen(reinterpret_cast<const char *>(value), static_cast<std::size_t>(length));
  std::size_t first = 0;
  while (first < n && value[first] == ' ') ++first;
  if (first == n) return MustFill(column) ? FailText(column, DDC_FILL, value, length) : DDC_OK;
  const YY_EXPR *range = Range(column->domain);
  if (range != nullptr) {
    char small[256];
    std::string large;
    const char *text = small;
    if (n < sizeof small) {
      std::memcpy(small, value, n);
      small[n] = '\0';
    } else {
      large.assign(reinterpret_cast<const char *>(value), n);
      text = large.c_str();
    }
    if (!yy_b_express(range, YY_STRING, text)) return FailText(column, DDC_RANG, value, length);
  }
  const DD_DOMAIN *domain = column->domain;
  const CharSets sets = Sets(domain);
  const int conversion = Conversion(domain);
  if (sets.illegal[0] == '\0' && sets.legal[0] == '\0' && conversion == 0) return DDC_OK;
  for (std::size_t i = 0; i < n; ++i)
    if (InByteSet(sets.illegal, value[i])) return FailText(column, DDC_ILCH, value, length);
  if (sets.legal[0] != '\0') {
    for (std::size_t i = 0; i < n; ++i)
      if (value[i] != ' ' && !InByteSet(sets.legal, value[i])) return FailText(column, DDC_LECH, value, length);
  }
  // The case tests read a TSS character; each byte is handed over alone.
  for (std::size_t i = 0; i < n && conversion != 0; ++i) {
    const char one[2] = {static_cast<char>(value[i]), '\0'};
    const TssChar ch{one, 1};
    if (conversion == 'u' ? TssIsLower(one) && !ExemptFromUpper(ch) : TssIsUpper(one) != 0)
      return FailText(column, conversion == 'u' ? DDC_CONV_U : DDC_CONV_L, value, length);
  }
  return DDC_OK;
}

// TSS text: characters of 1 or 4 bytes, as many whole ones as the length holds.
int CheckMbString(const DD_COLUMN *column, const unsigned char *value, int length) {
  const std::string copy(reinterpret_cast<const char *>(value), static_cast<std::size_t>(length));
  const long count = TSSmblen_n(copy.c_str(), length);
  std::vector<TssChar> chars;
  chars.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
  const char *p = copy.c_str();
  for (long k = 0; k < count && p != nullptr && *p != '\0'; ++k) {
    const char *next = TSSmbnext(p);
    if (next == nullptr) break;
    chars.push_back({p, static_cast<int>(next - p)});
    p = next;
  }

  if (AllBlank(chars)) return MustFill(column) ? FailText(column, DDC_FILL, value, length) : DDC_OK;
  const YY_EXPR *range = Range(column->domain);
  if (range != nullptr && !yy_b_express(range, YY_STRING, copy.c_str()))
    return FailText(column, DDC_RANG, value, length);
  auto in_set = [](const char *set, const TssChar &ch) {
    // TssStringChr takes a whole character; hand it one on its own.
    char one[5] = {};
    std::memcpy(one, ch.p, static_cast<std::size_t>(ch.length));
    return TssStringChr(set, one) != nullptr;
  };
  return CheckCharacters(column, chars, in_set, value, length);
}

int CheckRaw(const DD_COLUMN *column, const unsigned char *value, int length) {
  for (int i = 0; i < length; ++i)
    if (value[i] != 0) return DDC_OK;
  return MustFill(column) ? FailRaw(column, DDC_FILL, value, length) : DDC_OK;
}

// Bytes a value of a fixed-width type occupies; 0 for the other types.
int Width(int type) {
  switch (type) {
    case DDT_BYTE:
    case DDT_ENUM:
      return 1;
    case DDT_SHORT:
      return 2;
    case DDT_LONG:
    case DDT_FLOAT:
    case DDT_DATE:
    case DDT_TIME:
      return 4;
    case DDT_DOUBLE:
      return 8;
    default:
      return 0;
  }
}

}  // namespace

const char *zdb_dd_check_keyword(int code) {
  static const char *const kKeywords[] = {"No domain errors", "FILL", "RANG",   "ILCH",
                                          "LECH",             "CONV:u", "CONV:l", "DIGV"};
  if (code < 0 || code > DDC_DIGV) return nullptr;
  return kKeywords[code];
}

const char *zdb_dd_check_text() { return Text().c_str(); }

void zdb_dd_check_clear_text() { Text().clear(); }

int zdb_dd_check_value(const DD_COLUMN *column, const unsigned char *value, int length) {
  Text().clear();
  if (column == nullptr || value == nullptr || length <= 0) return DDC_OK;
  // A value shorter than its type is a broken dictionary; it is not read.
  if (length < Width(column->type)) return DDC_OK;
  switch (column->type) {
    case DDT_BYTE:
    case DDT_ENUM:
      return CheckInteger(column, value[0]);
    case DDT_SHORT:
      return CheckInteger(column, LoadBig16(value));
    case DDT_LONG:
      return CheckInteger(column, LoadBig32(value));
    case DDT_FLOAT:
      return CheckReal(column, float_out(value));
    case DDT_DOUBLE:
      return CheckReal(column, double_out(value));
    case DDT_STRING:
      return CheckString(column, value, length);
    case DDT_DATE:
    case DDT_TIME: {
      const int32_t v = LoadBig32(value);
      return v == 0 && MustFill(column) ? FailInt(column, DDC_FILL, v) : DDC_OK;
    }
    case DDT_MBSTRING:
      return CheckMbString(column, value, length);
    case DDT_RAW:
      return CheckRaw(column, value, length);
    default:
      return DDC_OK;
  }
}
