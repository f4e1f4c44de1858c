// Row-image operations the dictionary drives: extracting columns of a row into
// a packed buffer (the listed columns' bytes one after another), filling them
// back, and comparing packed buffers or rows column by column.
//
// Nothing is converted on the way: integers stay big-endian, floating point
// values least significant byte first, texts blank-padded. A combined column
// stands for its members, recursively. Comparison reads each value by its
// type; an array column is compared element by element over its whole length,
// so that the positions in a packed buffer stay in step with extraction.
#include <cstring>

#include "dbc/dict/dd.h"
#include "platform/big_endian.h"
#include "platform/log.h"
#include "platform/numbers.h"
#include "text/tss.h"

namespace {

constexpr int kMaxNesting = 16;

bool IsCombined(const DD_COLUMN *c) { return c->type == DDT_COMBINED && c->members != nullptr; }

template <class T>
int Order(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

// A value that is neither greater nor equal (a NaN among them) counts as smaller.
int OrderReal(double a, double b) {
  if (a > b) return 1;
  if (a >= b) return 0;
  return -1;
}


int CompareElement(int type, const unsigned char *a, const unsigned char *b) {
  switch (type) {
    case DDT_BYTE:
    case DDT_ENUM:
      return Order(a[0], b[0]);
    case DDT_SHORT:
      return Order(LoadBig16(a), LoadBig16(b));
    case DDT_FLOAT:
      return OrderReal(float_out(a), float_out(b));
    case DDT_DOUBLE:
      return OrderReal(double_out(a), double_out(b));
    default:
      return Order(LoadBig32(a), LoadBig32(b));
  }
}

// Compares one elementary column whose values start at a and b. Returns -1, 0
// or 1, or 2 for a type that has no comparison.
int CompareValue(const DD_COLUMN *c, const unsigned char *a, const unsigned char *b) {
  switch (c->type) {
    case DDT_STRING:
    case DDT_MBSTRING: {
      const int r = TssStringNCmp(reinterpret_cast<const char *>(a),
                                  reinterpret_cast<const char *>(b), c->length,
                                  c->type == DDT_MBSTRING ? 1 : 0);
      return Order(r, 0);
    }
    case DDT_RAW:
      return Order(std::memcmp(a, b, c->length), 0);
    default:
      break;
  }
  const int width = dd_element_width(c->type);
  if (width == 0) return 2;
  const int elements = c->depth > 1 ? c->length / width : 1;
  for (int e = 0; e < elements; ++e) {
    const int r = CompareElement(c->type, a + e * width, b + e * width);
    if (r != 0) return r;
  }
  return 0;
}

// Bytes one elementary column occupies in a packed buffer.
int PackedWidth(const DD_COLUMN *c) {
  const int width = dd_element_width(c->type);
  if (width == 0 || c->depth > 1) return c->length;
  return width;
}

template <class Copy>
int Walk(DD_COLUMN *const *list, int n, int depth, Copy &copy) {
  if (list == nullptr || depth > kMaxNesting) return 0;
  int done = 0;
  for (int i = 0; list[i] != nullptr && i < n; ++i, ++done) {
    const DD_COLUMN *c = list[i];
    if (c->type == DDT_COMBINED) {
      if (IsCombined(c)) Walk(c->members, DD_MAX_LIST, depth + 1, copy);
      continue;
    }
    copy(c);
  }
  return done;
}

int ComparePacked(const unsigned char *&a, const unsigned char *&b, DD_COLUMN *const *list,
                  int depth) {
  if (list == nullptr || depth > kMaxNesting) return 0;
  for (int i = 0; list[i] != nullptr && i < DD_MAX_LIST; ++i) {
    const DD_COLUMN *c = list[i];
    if (c->type == DDT_COMBINED) {
      if (!IsCombined(c)) continue;
      const int r = ComparePacked(a, b, c->members, depth + 1);
      if (r != 0) return r;
      continue;
    }
    const int r = CompareValue(c, a, b);
    if (r == 2) {
      log_mesg(__FILE__, __LINE__, "_compare_cols", 0, "unknown type in compare cols 0%o\n",
               static_cast<unsigned>(c->type));
      a += c->length;  // counts as equal; stay in step with extraction
      b += c->length;
      continue;
    }
    if (r != 0) return r;
    a += PackedWidth(c);
    b += PackedWidth(c);
  }
  return 0;
}

int CompareInRow(const unsigned char *a, const unsigned char *b, const DD_COLUMN *c, int depth) {
  if (depth > kMaxNesting) return 0;
  if (c->type == DDT_COMBINED) {
    if (!IsCombined(c)) return 0;
    for (int i = 0; c->members[i] != nullptr && i < DD_MAX_LIST; ++i) {
      const int r = CompareInRow(a, b, c->members[i], depth + 1);
      if (r != 0) return r;
    }
    return 0;
  }
  const int r = CompareValue(c, a + c->offset, b + c->offset);
  if (r == 2) {
    log_mesg(__FILE__, __LINE__, "compare_column", 0, "Unknown type in compare_column %s : 0%o\n",
             c->name, static_cast<unsigned>(c->type));
    return 0;
  }
  return r;
}

}  // namespace

int dd_element_width(int type) {
  switch (type) {
    case DDT_BYTE:
    case DDT_ENUM:
      return 1;
    case DDT_SHORT:
      return 2;
    case DDT_LONG:
    case DDT_DATE:
    case DDT_TIME:
    case DDT_LONG_U:
    case DDT_LONG_V:
    case DDT_SET:
    case DDT_FLOAT:
      return 4;
    case DDT_DOUBLE:
      return 8;
    default:
      return 0;
  }
}

unsigned char *zdb_extract_n_cols(unsigned char *buf, const unsigned char *row,
                                  DD_COLUMN *const *list, int n) {
  auto copy = [&](const DD_COLUMN *c) {
    std::memcpy(buf, row + c->offset, c->length);
    buf += c->length;
  };
  Walk(list, n, 0, copy);
  return buf;
}

unsigned char *zdb_extract_cols(unsigned char *buf, const unsigned char *row, DD_COLUMN *const *list) {
  return zdb_extract_n_cols(buf, row, list, DD_MAX_LIST);
}

unsigned char *zdb_extract_key(unsigned char *buf, const unsigned char *row, const DD_KEY *key) {
  return key ? zdb_extract_cols(buf, row, key->parts) : buf;
}

const unsigned char *zdb_fill_n_cols(unsigned char *row, const unsigned char *buf,
                                     DD_COLUMN *const *list, int n) {
  auto copy = [&](const DD_COLUMN *c) {
    std::memcpy(row + c->offset, buf, c->length);
    buf += c->length;
  };
  Walk(list, n, 0, copy);
  return buf;
}

const unsigned char *zdb_fill_cols(unsigned char *row, const unsigned char *buf,
                                   DD_COLUMN *const *list) {
  return zdb_fill_n_cols(row, buf, list, DD_MAX_LIST);
}

const unsigned char *zdb_fill_key(unsigned char *row, const unsigned char *buf, const DD_KEY *key) {
  return key ? zdb_fill_cols(row, buf, key->parts) : buf;
}

int zdb_compare_cols(const unsigned char *a, const unsigned char *b, DD_COLUMN *const *list) {
  return ComparePacked(a, b, list, 0);
}

int zdb_compare_key(const unsigned char *a, const unsigned char *b, const DD_KEY *key) {
  return key ? ComparePacked(a, b, key->parts, 0) : 0;
}

int compare_column(const unsigned char *a, const unsigned char *b, const DD_COLUMN *column) {
  return column ? CompareInRow(a, b, column, 0) : 0;
}

int zdb_compare_key_in_row(const unsigned char *a, const unsigned char *b, const DD_KEY *key) {
  if (key == nullptr || key->parts == nullptr) return 0;
  for (int i = 0; key->parts[i] != nullptr && i < DD_MAX_LIST; ++i) {
    const int r = compare_column(a, b, key->parts[i]);
    if (r != 0) return r;
  }
  return 0;
}
