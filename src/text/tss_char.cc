// TSS character layout: walking characters and converting between the UTF-T
// form and UTF-8.
#include "text/tss.h"

#include <cstring>

namespace {

const unsigned char *U(const char *p) { return reinterpret_cast<const unsigned char *>(p); }

// Bytes available from p: up to the 0 byte, and at most limit when limit >= 0.
size_t Available(const char *p, long limit) {
  return limit < 0 ? std::strlen(p) : strnlen(p, static_cast<size_t>(limit));
}

bool IsSurrogate(uint32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// Appends the UTF-8 form of cp to out when it fits in out_size - 1 bytes
// (room for the terminator); false otherwise.
bool PutUtf8(uint32_t cp, char *out, size_t out_size, size_t &pos) {
  unsigned char b[4];
  size_t n;
  if (cp < 0x80) {
    b[0] = static_cast<unsigned char>(cp);
    n = 1;
  } else if (cp < 0x800) {
    b[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
    b[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp < 0x10000) {
    b[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
    b[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    b[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    b[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    b[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    b[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    b[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    n = 4;
  }
  if (pos + n >= out_size) return false;
  std::memcpy(out + pos, b, n);
  pos += n;
  return true;
}


}  // namespace

int32_t Utf8DecodeChar(const unsigned char *p, size_t avail, size_t &len) {
  const unsigned char b0 = p[0];
  uint32_t cp;
  uint32_t min;
  if (b0 < 0x80) {
    len = 1;
    return b0;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return -1;
  }
  if (len > avail) return -1;
  for (size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || IsSurrogate(cp)) return -1;
  return static_cast<int32_t>(cp);
}

int32_t TssCharToCodePoint(TssChar ch) {
  if (ch.len == 1) return static_cast<int32_t>(ch.wide);
  const uint32_t b1 = (ch.wide >> 16) & 0xFF, b2 = (ch.wide >> 8) & 0xFF, b3 = ch.wide & 0xFF;
  if ((b1 & b2 & b3 & 0x80) == 0) return -1;
  const uint32_t v = ((b1 & 0x7F) << 14) | ((b2 & 0x7F) << 7) | (b3 & 0x7F);
  if (v <= TSS_UTFT_OFFSET) return -1;  // below the offset, or U+0000
  const uint32_t cp = v - TSS_UTFT_OFFSET;
  if (IsSurrogate(cp)) return -1;
  return static_cast<int32_t>(cp);
}

void TssEncodeUtfT(uint32_t code_point, unsigned char out[4]) {
  const uint32_t v = code_point + TSS_UTFT_OFFSET;
  out[0] = TSS_ESCAPE;
  out[1] = static_cast<unsigned char>(0x80 | ((v >> 14) & 0x7F));
  out[2] = static_cast<unsigned char>(0x80 | ((v >> 7) & 0x7F));
  out[3] = static_cast<unsigned char>(0x80 | (v & 0x7F));
}

size_t TssEncodeCodePoint(uint32_t code_point, unsigned char out[4]) {
  if (code_point >= 0x01 && code_point <= 0xFF && code_point != TSS_ESCAPE) {
    out[0] = static_cast<unsigned char>(code_point);
    return 1;
  }
  TssEncodeUtfT(code_point, out);
  return 4;
}

const char *TSSmbnext(const char *text) {
  if (text == nullptr || text[0] == 0) return nullptr;
  if (U(text)[0] != TSS_ESCAPE) return text + 1;
  if (text[1] == 0 || text[2] == 0 || text[3] == 0) return nullptr;
  return text + 4;
}

long TSSmblen_n(const char *text, long limit) {
  if (text == nullptr) return 0;
  const size_t avail = Available(text, limit);
  long count = 0;
  for (size_t i = 0; i < avail; ++count) {
    if (U(text)[i] != TSS_ESCAPE) {
      ++i;
    } else if (i + 4 <= avail) {  // avail stops at a 0 byte, so the 4 are non-zero
      i += 4;
    } else {
      break;  // cut short by the limit or the terminator
    }
  }
  return count;
}

const char *TssStringChr(const char *text, const char *ch) {
  if (text == nullptr || ch == nullptr || ch[0] == 0) return nullptr;
  const size_t want = U(ch)[0] == TSS_ESCAPE ? 4 : 1;
  if (want == 4 && TSSmbnext(ch) == nullptr) return nullptr;
  for (const char *p = text; p != nullptr && *p != 0; p = TSSmbnext(p)) {
    const size_t have = U(p)[0] == TSS_ESCAPE ? 4 : 1;
    if (have == want && std::memcmp(p, ch, want) == 0) return p;
  }
  return nullptr;
}

long TssToUtf8(const char *tss, long len, char *out, size_t out_size) {
  if (out == nullptr || out_size == 0) return TSS_CONV_TOO_SMALL;
  const size_t avail = tss == nullptr ? 0 : Available(tss, len);
  size_t pos = 0;
  for (size_t i = 0; i < avail;) {
    const TssChar ch = TssDecodeChar(U(tss) + i, avail - i);
    const int32_t cp = TssCharToCodePoint(ch);
    if (cp <= 0 || (ch.len == 1 && ch.wide == TSS_ESCAPE)) {
      out[pos] = 0;
      return TSS_CONV_UNCONVERTIBLE;
    }
    if (!PutUtf8(static_cast<uint32_t>(cp), out, out_size, pos)) {
      out[pos] = 0;
      return TSS_CONV_TOO_SMALL;
    }
    i += ch.len;
  }
  out[pos] = 0;
  return static_cast<long>(pos);
}

long Utf8ToTss(const char *utf8, long len, char *out, size_t out_size) {
  if (out == nullptr || out_size == 0) return TSS_CONV_TOO_SMALL;
  const size_t avail = utf8 == nullptr ? 0 : (len < 0 ? std::strlen(utf8) : static_cast<size_t>(len));
  size_t pos = 0;
  for (size_t i = 0; i < avail;) {
    size_t used = 0;
    const int32_t cp = Utf8DecodeChar(U(utf8) + i, avail - i, used);
    if (cp <= 0) {
      out[pos] = 0;
      return TSS_CONV_UNCONVERTIBLE;
    }
    unsigned char b[4];
    const size_t n = TssEncodeCodePoint(static_cast<uint32_t>(cp), b);
    if (pos + n >= out_size) {
      out[pos] = 0;
      return TSS_CONV_TOO_SMALL;
    }
    std::memcpy(out + pos, b, n);
    pos += n;
    i += used;
  }
  out[pos] = 0;
  return static_cast<long>(pos);
}

bool TssToUtf8(std::string_view tss, std::string &out) {
  // Every TSS character takes at most 4 UTF-8 bytes.
  std::string buf(tss.size() * 4 + 1, '\0');
  const long n = TssToUtf8(tss.data(), static_cast<long>(tss.size()), buf.data(), buf.size());
  if (n < 0) return false;
  buf.resize(static_cast<size_t>(n));
  out = std::move(buf);
  return true;
}

bool Utf8ToTss(std::string_view utf8, std::string &out) {
  // A UTF-8 sequence of one byte gives at most 1 TSS byte, of two or more at most 4.
  std::string buf(utf8.size() * 2 + 4, '\0');
  const long n = Utf8ToTss(utf8.data(), static_cast<long>(utf8.size()), buf.data(), buf.size());
  if (n < 0) return false;
  buf.resize(static_cast<size_t>(n));
  out = std::move(buf);
  return true;
}
