// Column defaults: a default text written into a row image in the column's
// stored form, the table's default row copied into a row, and the text form
// of a default read back.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "dbc/dict/dd.h"
#include "platform/log.h"
#include "platform/numbers.h"

namespace {

// The integer at the start of a text as atol reads it (blanks, sign, digits),
// saturated instead of overflowing.
long long LeadingInteger(const char *text) {
  while (*text == ' ' || *text == '\t' || *text == '\n') ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  long long v = 0;
  constexpr long long kMax = std::numeric_limits<long long>::max() / 10 - 1;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (v > kMax) break;
    v = v * 10 + (*text - '0');
  }
  return negative ? -v : v;
}

void Put16(unsigned char *p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}

void Put32(unsigned char *p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}


void StoreNumber(int type, unsigned char *dest, const char *text) {
  switch (type) {
    case DDT_BYTE:
    case DDT_ENUM:
      dest[0] = static_cast<unsigned char>(LeadingInteger(text));
      break;
    case DDT_SHORT:
      Put16(dest, static_cast<uint32_t>(LeadingInteger(text)));
      break;
    case DDT_FLOAT:
      float_in(qelt_atof(text), dest);
      break;
    case DDT_DOUBLE:
      double_in(qelt_atof(text), dest);
      break;
    default:
      Put32(dest, static_cast<uint32_t>(LeadingInteger(text)));
      break;
  }
}

void FillText(const DD_COLUMN *column, unsigned char *dest, const char *text) {
  const int elements = column->depth > 1 ? column->depth : 1;
  const int elen = column->length / elements;
  const size_t tlen = std::strlen(text);
  for (int e = 0; e < elements; ++e) {
    unsigned char *el = dest + e * elen;
    int n = 0;
    while (n < elen && static_cast<size_t>(n) < tlen) {
      // A 4-byte TSS character is copied whole or not at all.
      const int clen = (column->type == DDT_MBSTRING && static_cast<unsigned char>(text[n]) == 0x9B) ? 4 : 1;
      if (n + clen > elen || static_cast<size_t>(n + clen) > tlen) break;
      std::memcpy(el + n, text + n, clen);
      n += clen;
    }
    std::memset(el + n, ' ', elen - n);
  }
}

void FillRaw(const DD_COLUMN *column, unsigned char *dest, const char *text) {
  const int elements = column->depth > 1 ? column->depth : 1;
  const int elen = column->length / elements;
  const int bytes = std::min<int>(static_cast<int>(std::strlen(text) / 2), elen);
  for (int e = 0; e < elements; ++e) {
    unsigned char *el = dest + e * elen;
    int n = 0;
    for (; n < bytes; ++n) {
      const int hi = HexDigit(text[2 * n]);
      const int lo = HexDigit(text[2 * n + 1]);
      if (hi < 0 || lo < 0) {
        log_mesg(__FILE__, __LINE__, "fill_default", 0, "invalid hexadecimal default '%s' of %s\n",
                 text, column->name);
        break;
      }
      el[n] = static_cast<unsigned char>(hi << 4 | lo);
    }
    std::memset(el + n, 0, elen - n);
  }
}

}  // namespace

void fill_default(const DD_COLUMN *column, unsigned char *row, const char *text) {
  if (column == nullptr || row == nullptr) return;
  if (text == nullptr) text = "";
  unsigned char *dest = row + column->offset;
  if (column->type == DDT_STRING || column->type == DDT_MBSTRING) return FillText(column, dest, text);
  if (column->type == DDT_RAW) return FillRaw(column, dest, text);
  const int width = dd_element_width(column->type);
  if (column->flags & DDF_ARRAY) {
    if (width != 0) {
      for (int e = 0; e < column->depth && (e + 1) * width <= column->length; ++e)
        StoreNumber(column->type, dest + e * width, text);
      return;
    }
    log_mesg(__FILE__, __LINE__, "fill_default", 0, "(1) unknown type in fill_default 0%o\n",
             static_cast<unsigned>(column->type));
  }
  if (width == 0) {
    log_mesg(__FILE__, __LINE__, "fill_default", 0, "(2) unknown type in fill_default 0%o\n",
             static_cast<unsigned>(column->type));
    return;
  }
  StoreNumber(column->type, dest, text);
}

// Copies every stored column's bytes from the table's default row, which
// holds each default in stored form already.
void fill_default_row(const DD_TABLE *table, unsigned char *row) {
  if (table == nullptr || row == nullptr || table->default_row == nullptr) return;
  for (int i = 0; i < table->column_count; ++i) {
    const DD_COLUMN *c = &table->columns[i];
    if (c->type == DDT_COMBINED || (c->flags & DDF_NOT_STORED)) continue;
    std::memcpy(row + c->offset, table->default_row + c->offset, c->length);
  }
}

namespace {

// Formats into buf[0..size); false (buf emptied) when the text does not fit.
bool defa_format(char *buf, std::size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
bool defa_format(char *buf, std::size_t size, const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buf, size, format, args);
  va_end(args);
  if (n >= 0 && static_cast<std::size_t>(n) < size) return true;
  buf[0] = '\0';
  return false;
}

}  // namespace

// The text form of a column's default. A raw default comes back as
// hexadecimal text, the form fill_default reads.
char *defa_domain(const DD_TABLE *table, const DD_COLUMN *column, char *buf, std::size_t size) {
  if (buf == nullptr || size == 0) return nullptr;
  buf[0] = '\0';
  if (table == nullptr || column == nullptr || table->default_row == nullptr) return buf;
  const unsigned char *p = table->default_row + column->offset;
  const int elements = column->depth > 1 ? column->depth : 1;
  const int elen = column->length / elements;
  bool fits = true;
  switch (column->type) {
    case DDT_BYTE:
    case DDT_ENUM:
      fits = defa_format(buf, size, "%d", p[0]);
      break;
    case DDT_SHORT:
      fits = defa_format(buf, size, "%d", static_cast<int16_t>(p[0] << 8 | p[1]));
      break;
    case DDT_LONG:
    case DDT_DATE:
    case DDT_TIME:
    case DDT_LONG_U:
    case DDT_LONG_V:
    case DDT_SET:
      fits = defa_format(buf, size, "%d",
                         static_cast<int32_t>(uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 |
                                              uint32_t{p[2]} << 8 | p[3]));
      break;
    case DDT_FLOAT:
      fits = defa_format(buf, size, "%f", float_out(p));
      break;
    case DDT_DOUBLE:
      fits = defa_format(buf, size, "%f", double_out(p));
      break;
    case DDT_STRING:
    case DDT_MBSTRING:
      fits = elen >= 0 && static_cast<std::size_t>(elen) < size;
      if (fits) {
        std::memcpy(buf, p, static_cast<std::size_t>(elen));
        buf[elen] = '\0';
      }
      break;
    case DDT_RAW:
      fits = elen >= 0 && 2 * static_cast<std::size_t>(elen) < size;
      for (int i = 0; fits && i < elen; ++i) std::snprintf(buf + 2 * i, 3, "%02X", p[i]);
      break;
    case DDT_COMBINED:
      break;
    default:
      log_mesg(__FILE__, __LINE__, "_defa_domain", 0, "unknown type in defa domain 0%o\n",
               static_cast<unsigned>(column->type));
      break;
  }
  if (!fits) {
    log_mesg(__FILE__, __LINE__, "_defa_domain", 0,
             "default of %s does not fit in a buffer of %zu bytes\n", column->name, size);
    return nullptr;
  }
  return buf;
}
