// Comparison of TSS strings.
//
// The classic mode orders bytes (ISO 8859-1 byte order). The UTF-T mode
// orders character by character under the TSS collation: each character gets
// the sort key that ICU's "root" collator gives it alone, ties broken by code
// point, so that the order is total and agrees with byte equality. Sorting
// and grouping compare millions of strings, so the common cases avoid ICU:
// identical leading bytes are skipped eight at a time, two 1-byte characters
// are ordered by a rank table built once, and the sort keys of 4-byte
// characters are kept after their first use. The collator is opened once and
// kept for the life of the process.
#include "text/tss_collate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

#include <unicode/ucol.h>
#include <unicode/utf16.h>

#include "platform/log.h"
#include "text/tss.h"

namespace {

constexpr TssChar kBlank = {0x20, 1};
constexpr uint32_t kReplacement = 0xFFFD;      // stands in for characters without a code point
constexpr uint32_t kHighestCodePoint = 0xFFFF; // weighs above every other under "root"
constexpr size_t kMaxCachedKeys = 1 << 16;     // bound on the kept keys of 4-byte characters

struct CollatorCloser {
  void operator()(UCollator *c) const { ucol_close(c); }
};

class Collation {
 public:
  static Collation &Instance() {
    static Collation collation;
    return collation;
  }

  bool icu_ok() const { return collator_ != nullptr; }

  int Compare(TssChar a, TssChar b) {
    if (a.len == 1 && b.len == 1) {
      return rank_[a.wide] < rank_[b.wide] ? -1 : (rank_[a.wide] > rank_[b.wide] ? 1 : 0);
    }
    // Both keys are looked up before either is used: a lookup never clears
    // the cache, which is emptied here while no key of it is held.
    if (wide_keys_.size() + 2 > kMaxCachedKeys) wide_keys_.clear();
    const std::string &ka = KeyOf(a);
    const std::string &kb = KeyOf(b);
    const int c = ka.compare(kb);
    if (c != 0) return c < 0 ? -1 : 1;
    const uint64_t ta = TieBreak(a), tb = TieBreak(b);
    return ta < tb ? -1 : (ta > tb ? 1 : 0);
  }

  TssChar lowest_byte() const { return {by_rank_.front(), 1}; }
  TssChar highest_byte() const { return {by_rank_.back(), 1}; }
  TssChar highest() {
    unsigned char b[4];
    TssEncodeUtfT(icu_ok() ? kHighestCodePoint : 0x10FFFF, b);
    const TssChar wide = TssDecodeChar(b, 4);
    return Compare(wide, highest_byte()) > 0 ? wide : highest_byte();
  }

 private:
  Collation() {
    UErrorCode status = U_ZERO_ERROR;
    UCollator *c = ucol_open("root", &status);
    if (U_FAILURE(status)) {
      log_mesg(__FILE__, __LINE__, "initialize_icuwrappers", LOG_ERROR,
             "ucol_open(\"root\") failed: %s\n", u_errorName(status));
      if (c != nullptr) ucol_close(c);
    } else {
      collator_.reset(c);
    }
    for (uint32_t i = 1; i < 256; ++i) byte_keys_[i] = SortKey(static_cast<int32_t>(i));
    std::array<uint32_t, 255> order;
    for (uint32_t i = 0; i < 255; ++i) order[i] = i + 1;
    std::sort(order.begin(), order.end(), [this](uint32_t x, uint32_t y) {
      const int c = byte_keys_[x].compare(byte_keys_[y]);
      return c != 0 ? c < 0 : x < y;  // 1-byte tie-break is the byte itself
    });
    rank_[0] = 0;
    for (uint32_t i = 0; i < 255; ++i) rank_[order[i]] = static_cast<uint16_t>(i + 1);
    by_rank_ = order;
  }

  // Ties of equal sort keys: code point, the 4-byte form after the 1-byte
  // form, characters without a code point after all others.
  static uint64_t TieBreak(TssChar ch) {
    const int32_t cp = TssCharToCodePoint(ch);
    if (cp < 0) return (uint64_t{1} << 40) | ch.wide;
    return (static_cast<uint64_t>(cp) << 1) | (ch.len == 4 ? 1 : 0);
  }

  // The key stays valid until the cache is cleared in Compare: adding an
  // entry to an unordered_map keeps references to the others.
  const std::string &KeyOf(TssChar ch) {
    if (ch.len == 1) return byte_keys_[ch.wide];
    auto it = wide_keys_.find(ch.wide);
    if (it != wide_keys_.end()) return it->second;
    return wide_keys_.emplace(ch.wide, SortKey(TssCharToCodePoint(ch))).first->second;
  }

  // The sort key of one code point alone (-1: of the replacement character).
  std::string SortKey(int32_t cp) const {
    const UChar32 c = cp < 0 ? static_cast<UChar32>(kReplacement) : cp;
    if (collator_ == nullptr) {  // code point order
      return std::string{static_cast<char>(c >> 16), static_cast<char>((c >> 8) & 0xFF),
                         static_cast<char>(c & 0xFF)};
    }
    UChar text[2];
    int32_t n = 0;
    U16_APPEND_UNSAFE(text, n, c);
    std::string key(64, '\0');
    int32_t size = ucol_getSortKey(collator_.get(), text, n,
                                   reinterpret_cast<uint8_t *>(key.data()),
                                   static_cast<int32_t>(key.size()));
    if (size > static_cast<int32_t>(key.size())) {
      key.resize(static_cast<size_t>(size));
      size = ucol_getSortKey(collator_.get(), text, n, reinterpret_cast<uint8_t *>(key.data()),
                             static_cast<int32_t>(key.size()));
    }
    key.resize(size > 0 ? static_cast<size_t>(size - 1) : 0);  // drop the terminating 0
    return key;
  }

  std::unique_ptr<UCollator, CollatorCloser> collator_;
  std::array<std::string, 256> byte_keys_;
  std::array<uint16_t, 256> rank_{};     // rank of each 1-byte character, 1 to 255
  std::array<uint32_t, 255> by_rank_{};  // the 1-byte characters in collation order
  std::unordered_map<uint32_t, std::string> wide_keys_;
};

const unsigned char *U(const char *p) { return reinterpret_cast<const unsigned char *>(p); }

// Bytes of a text: up to its 0 byte, and at most len when len >= 0.
size_t Extent(const char *p, long len) {
  if (p == nullptr) return 0;
  return len < 0 ? std::strlen(p) : strnlen(p, static_cast<size_t>(len));
}

// The first index below n at which a and b differ, or n.
size_t Mismatch(const unsigned char *a, const unsigned char *b, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) break;
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// The start of the character that holds byte p of a, where the bytes before
// p are the same in both texts compared and hold no 0 byte.
size_t CharStart(const unsigned char *a, size_t p) {
  size_t s = 0;
  while (s < p) {
    if (a[s] == TSS_ESCAPE) {  // runs of 4-byte characters are stepped, not searched
      if (s + 4 > p) return s;
      s += 4;
      continue;
    }
    const void *q = std::memchr(a + s, TSS_ESCAPE, p - s);
    if (q == nullptr) return p;
    s = static_cast<size_t>(static_cast<const unsigned char *>(q) - a);
  }
  return p;
}

// The sign of the remaining bytes t[0..n) against blanks, in byte order.
int BytesAgainstBlanks(const unsigned char *t, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (t[i] != ' ') return t[i] < ' ' ? -1 : 1;
  }
  return 0;
}

bool Same(TssChar a, TssChar b) { return a.wide == b.wide && a.len == b.len; }

// Bytes of a text without its trailing blanks.
size_t WithoutTrailingBlanks(const unsigned char *t, size_t n) {
  while (n > 0 && t[n - 1] == ' ') --n;
  return n;
}

// UTF-T order from byte `from`, the start of a character in both texts;
// with pad the shorter text is padded with blanks, else it is the smaller.
// REQUIRES with pad: neither text ends in a blank, so that blanks that end
// a text never complete a 4-byte character cut short before them.
int CollateFrom(const unsigned char *a, size_t na, const unsigned char *b, size_t nb,
                size_t from, bool pad) {
  Collation &coll = Collation::Instance();
  for (size_t i = from;;) {
    const bool ea = i >= na, eb = i >= nb;
    if (ea && eb) return 0;
    if (ea || eb) {
      if (!pad) return ea ? -1 : 1;
      const unsigned char *t = ea ? b : a;  // the longer text against blanks
      const size_t n = ea ? nb : na;
      while (i < n && t[i] == ' ') ++i;
      if (i >= n) return 0;
    }
    const TssChar ca = ea ? kBlank : TssDecodeChar(a + i, na - i);
    const TssChar cb = eb ? kBlank : TssDecodeChar(b + i, nb - i);
    if (!Same(ca, cb)) return coll.Compare(ca, cb);
    i += ea ? cb.len : ca.len;
  }
}

}  // namespace

bool TssCollationOpen() { return Collation::Instance().icu_ok(); }

int TssCollateChars(TssChar a, TssChar b) {
  if (Same(a, b)) return 0;
  return Collation::Instance().Compare(a, b);
}

TssChar TssCollationLowest() { return Collation::Instance().lowest_byte(); }

TssChar TssCollationHighest(bool single_byte) {
  Collation &coll = Collation::Instance();
  return single_byte ? coll.highest_byte() : coll.highest();
}

int TssStringNCmp(const char *a, const char *b, long n, int flag) {
  const size_t na = Extent(a, n), nb = Extent(b, n);
  const size_t p = Mismatch(U(a), U(b), std::min(na, nb));
  if (flag != TSS_CMP_ISO8859 && TssGetMode() == TSS_MODE_UTFT) {
    if (p == na && p == nb) return 0;
    return CollateFrom(U(a), na, U(b), nb, CharStart(U(a), p), false);
  }
  if (p < na && p < nb) return U(a)[p] < U(b)[p] ? -1 : 1;
  return na == nb ? 0 : (na < nb ? -1 : 1);
}

int TssPaddedCompareGeneral(const char *a, const char *b, long la, long lb) {
  return TssPaddedCompareInMode(TssGetMode(), a, b, la, lb);
}

int TssPaddedCompareInMode(int mode, const char *a, const char *b, long la, long lb) {
  const size_t na = Extent(a, la), nb = Extent(b, lb);
  const size_t p = Mismatch(U(a), U(b), std::min(na, nb));
  if (p == na && p == nb) return 0;
  if (mode == TSS_MODE_UTFT) {
    // Trailing blanks are padding, whatever precedes them: `9B 01 8F 20`
    // reads as the three characters of `9B 01 8F` and a blank, never as one
    // 4-byte character, so that texts equal after padding compare equal and
    // every text reads the same against any other.
    const size_t ta = WithoutTrailingBlanks(U(a), na), tb = WithoutTrailingBlanks(U(b), nb);
    const size_t from = std::min({p, ta, tb});
    return CollateFrom(U(a), ta, U(b), tb, CharStart(U(a), from), true);
  }
  if (p < na && p < nb) return U(a)[p] < U(b)[p] ? -1 : 1;
  return na > nb ? BytesAgainstBlanks(U(a) + p, na - p) : -BytesAgainstBlanks(U(b) + p, nb - p);
}

namespace tss_padded_fast {

int ClassicRestAgainstBlanks(const unsigned char *t, size_t from, size_t end, int sign) {
  auto decide = [&](size_t k) { return t[k] == 0 ? 0 : (t[k] < ' ' ? -sign : sign); };
  size_t i = from;
#if defined(__SSE2__)
  const __m128i blanks = _mm_set1_epi8(' ');
  auto other = [&](size_t at) {  // bit k set where byte at + k is not a blank
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(Load16(t + at), blanks))) &
           0xFFFFu;
  };
  for (; end - i >= 16; i += 16) {
    if (unsigned m = other(i); m != 0) return decide(i + static_cast<unsigned>(__builtin_ctz(m)));
  }
  if (i < end && end >= 16) {  // the block that ends at end, from byte i on
    const size_t at = end - 16;
    if (unsigned m = other(at) >> (i - at); m != 0)
      return decide(i + static_cast<unsigned>(__builtin_ctz(m)));
    return 0;
  }
#endif
  for (; i < end; ++i) {
    if (t[i] != ' ') return decide(i);
  }
  return 0;
}

}  // namespace tss_padded_fast

int TssStringNNEqualWithPadding(const char *a, const char *b, long la, long lb) {
  const size_t na = Extent(a, la), nb = Extent(b, lb);
  const size_t n = std::min(na, nb);
  if (Mismatch(U(a), U(b), n) != n) return 0;
  const unsigned char *rest = na > nb ? U(a) + n : U(b) + n;
  return BytesAgainstBlanks(rest, std::max(na, nb) - n) == 0;
}

int TssStringSetUltim(char *bytes, long length, int option) {
  if ((option & ~(TSS_ULTIM_SINGLE_BYTE | TSS_ULTIM_LOWEST)) != 0) {
    log_mesg(__FILE__, __LINE__, "TssStringSetUltim", LOG_ERROR, "Unknown flag\n");
    return -1;
  }
  if (bytes == nullptr || length <= 0) return 0;
  const size_t n = static_cast<size_t>(length);
  const bool single = (option & TSS_ULTIM_SINGLE_BYTE) != 0;
  if (TssGetMode() != TSS_MODE_UTFT) {  // byte order: 0x01 is the lowest character, 0xFF the highest
    std::memset(bytes, (option & TSS_ULTIM_LOWEST) ? 0x01 : 0xFF, n);
    return 0;
  }
  const TssChar fill = (option & TSS_ULTIM_LOWEST) ? TssCollationLowest()
                                                   : TssCollationHighest(single);
  size_t i = 0;
  if (fill.len == 4) {
    for (; i + 4 <= n; i += 4) {
      bytes[i] = static_cast<char>(fill.wide >> 24);
      bytes[i + 1] = static_cast<char>((fill.wide >> 16) & 0xFF);
      bytes[i + 2] = static_cast<char>((fill.wide >> 8) & 0xFF);
      bytes[i + 3] = static_cast<char>(fill.wide & 0xFF);
    }
  }
  const TssChar tail = fill.len == 1 ? fill : TssCollationHighest(true);
  std::memset(bytes + i, static_cast<int>(tail.wide), n - i);
  return 0;
}
