// TSS text: the conversions to and from UTF-8, walking, case mapping and the
// comparisons in both modes (and sweeps of the collation-key cache, below). The input is two texts split at its middle, so
// that every byte can appear in both. The padded comparison must be
// antisymmetric and agree with the padded equality; the native comparison
// finds only equal texts equal.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "text/tss.h"
#include "text/tss_char.h"
#include "text/tss_collate.h"

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

void Check(const std::string &a, const std::string &b) {
  const long la = static_cast<long>(a.size()), lb = static_cast<long>(b.size());
  const int ab = TssStringNNCmpWithPadding(a.c_str(), b.c_str(), la, lb);
  const int ba = TssStringNNCmpWithPadding(b.c_str(), a.c_str(), lb, la);
  if (Sign(ab) != -Sign(ba)) std::abort();  // not antisymmetric
  const int eq = TssStringNNEqualWithPadding(a.c_str(), b.c_str(), la, lb);
  if ((ab == 0) != (eq != 0)) std::abort();  // comparison and equality disagree
  const int n = TssStringNCmp(a.c_str(), b.c_str(), -1, TSS_CMP_NATIVE);
  if ((n == 0) != (a.c_str() == std::string(b.c_str()))) std::abort();
  TssStringNCmp(a.c_str(), b.c_str(), 3, TSS_CMP_ISO8859);
}

void Walk(const std::string &t) {
  std::vector<char> utf8(t.size() * 4 + 8);
  TssToUtf8(t.c_str(), static_cast<long>(t.size()), utf8.data(), utf8.size());
  std::vector<char> tss(t.size() * 4 + 8);
  Utf8ToTss(t.c_str(), static_cast<long>(t.size()), tss.data(), tss.size());
  std::vector<char> small(3);
  TssToUtf8(t.c_str(), static_cast<long>(t.size()), small.data(), small.size());
  Utf8ToTss(t.c_str(), static_cast<long>(t.size()), small.data(), small.size());
  TSSmblen_n(t.c_str(), static_cast<long>(t.size()));
  for (const char *p = t.c_str(); p != nullptr && *p != '\0';) p = TSSmbnext(p);
  std::string copy = t;
  TssStringConvertCase(copy.data(), static_cast<long>(copy.size()), 1);
  copy = t;
  TssStringConvertCase(copy.data(), static_cast<long>(copy.size()), 0);
}

// A sweep over `count` consecutive code points from `first`, each 4-byte
// character compared with the next one: enough distinct characters to fill
// the collation-key cache and make it be emptied between two lookups.
void Sweep(std::uint32_t first, std::uint32_t count) {
  unsigned char x[4], y[4];
  for (std::uint32_t cp = first; cp < first + count; ++cp) {
    TssEncodeUtfT(cp, x);
    TssEncodeUtfT(cp + 1, y);
    TssStringNNCmpWithPadding(reinterpret_cast<char *>(x), reinterpret_cast<char *>(y), 4, 4);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const bool ready = [] {
    molvane::fuzz::ScratchRoot();
    return true;
  }();
  (void)ready;
  // An input "\0sweep" and a 2-byte count in hundreds (big-endian) is a
  // sweep from U+4E00 in the UTF-T mode.
  static constexpr char kSweep[] = "\0sweep";
  if (size == 8 && std::memcmp(data, kSweep, 6) == 0) {
    const std::uint32_t count = std::min<std::uint32_t>(100 * (data[6] << 8 | data[7]), 100000);
    setenv("TSS_MODE", "2", 1);
    TssReloadSettings();
    Sweep(0x4E00, count);
    return 0;
  }
  const std::string_view input = molvane::fuzz::AsText(data, size);
  const std::string a(input.substr(0, size / 2)), b(input.substr(size / 2));
  for (const char *mode : {"1", "2"}) {
    setenv("TSS_MODE", mode, 1);
    TssReloadSettings();
    Check(a, b);
    Check(a, a + "  ");
    Walk(a);
    Walk(b);
  }
  return 0;
}
