// The TSS text layer: what every subsystem uses of TSS strings.
//
// A TSS string is a run of bytes ended by a 0 byte. A byte other than 0x9B is
// one ISO 8859-1 character; 0x9B starts a 4-byte character. In the classic
// mode (1) the second byte of a 4-byte character designates a character set;
// in the UTF-T mode (2) its last three bytes carry a Unicode code point plus
// 0xF0000 in 7-bit groups with the high bit set. A TSS wide character is the
// byte value of a 1-byte character or the four bytes read big-endian.
//
// Lengths are byte counts; where a function takes a length, -1 (any negative
// value) means "up to the terminating 0 byte", and a 0 byte inside the given
// length ends the text as well.
#pragma once

#include <molvane/tss.h>

#include "text/tss_char.h"
#include "text/tss_padded_fast.h"

// ---- Locale and mode (tss_locale.cc) ----

inline constexpr int TSS_MODE_CLASSIC = 1;
inline constexpr int TSS_MODE_UTFT = 2;

// The TSS mode, 1 classic or 2 UTF-T, from the variable TSS_MODE (default 1).
// Read on the first call and kept; a value other than 1 or 2 is logged and
// the classic mode is used.
int TssGetMode();

// The mode as TssGetMode last read it, or 0 before it was read and after
// TssReloadSettings: the comparisons test it without a call.
extern int tss_known_mode;

// Forgets the kept mode and zero-width factor, so that the next call reads the
// variables again. For tests and for a host that changes TSS_MODE before any
// text was handled.
void TssReloadSettings();

// The number of zero-width characters (0 to 6) that may follow one printed
// character, from the variable TSS_ZERO_WIDTH_FACTOR (default 0). Read once.
int TssGetZeroWidthFactor();

// Prepares the ICU-based functions (opens the "root" collator and builds the
// tables of the 1-byte characters). Returns 0, or -1 with a log message when
// ICU cannot serve; the text functions then order by code point. Never ends
// the process. Calling it again is harmless.
int initialize_icuwrappers();

// The name of the selected TSS locale ("ISO-8859-1" until TSSsetlocale).
const char *TssGetLocale();

// ---- Walking characters (tss_char.cc) ----

// The position after the character at text (1 or 4 bytes on); null at the
// end of the text and on a 4-byte character cut short by the terminator.
const char *TSSmbnext(const char *text);
inline char *TSSmbnext(char *text) {
  return const_cast<char *>(TSSmbnext(static_cast<const char *>(text)));
}

// The number of whole TSS characters in the first limit bytes of text (a
// 4-byte character that does not fit in the limit is not counted).
long TSSmblen_n(const char *text, long limit);

// The first occurrence of the TSS character ch (1 or 4 bytes) in text, or
// null when it does not occur (and for an empty or cut-short ch).
const char *TssStringChr(const char *text, const char *ch);

// ---- Case (tss_case.cc) ----

// Non-zero for a lower-case (upper-case) letter under the current locale.
// 1-byte characters follow ISO 8859-1, where 0xAA, 0xBA, 0xB5, 0xDF and 0xFF
// are lower case without an upper-case form; 4-byte characters are letters
// only in the UTF-T mode, where ICU's case properties decide.
int TssIsLower(const char *ch);
int TssIsUpper(const char *ch);

// The lower (upper) case of an ISO 8859-1 byte; other bytes unchanged.
int TssIsoToLower(int byte);
int TssIsoToUpper(int byte);

// Converts at most n bytes of text in place, to upper case when flag is
// non-zero, else to lower case. Lengths never change: a character whose other
// case needs another width stays as it is. Returns text.
char *TssStringConvertCase(char *text, long n, int flag);

// ---- Comparison (tss_collate.cc) ----

inline constexpr int TSS_CMP_ISO8859 = 0;  // TssStringNCmp: byte order
inline constexpr int TSS_CMP_NATIVE = 1;   // TssStringNCmp: native order

// Compares at most n bytes of two TSS texts: -1, 0 or 1. With flag 0 in ISO
// 8859 (byte) order; with flag 1 in native order: byte order in the classic
// mode, the TSS collation (below) in the UTF-T mode. A text that ends first is
// the smaller, so an empty text sorts below every other.
int TssStringNCmp(const char *a, const char *b, long n, int flag);

// TssStringNNCmpWithPadding for every mode and every case.
int TssPaddedCompareGeneral(const char *a, const char *b, long la, long lb);
// The same comparison in the given mode (1 or 2) whatever the process's mode,
// for orders that are named after their mode (a database file shared by
// hosts of both modes keeps an index in each).
int TssPaddedCompareInMode(int mode, const char *a, const char *b, long la, long lb);

// Compares two TSS strings character by character as if the shorter were
// padded with blanks: -1, 0 or 1. Classic mode: byte order. UTF-T mode: the
// TSS collation, which orders single characters by their weight under ICU's
// "root" collator and, where ICU finds two characters equal, by code point,
// so that 0 is returned only for strings that TssStringNNEqualWithPadding
// finds equal.
//
// Inline: the classic mode decides most pairs without a call (see
// tss_padded_fast.h); the other cases call TssPaddedCompareGeneral.
// REQUIRES: la bytes of a and lb bytes of b are readable when the length is
// not negative (a NUL inside them still ends the text).
inline int TssStringNNCmpWithPadding(const char *a, const char *b, long la, long lb) {
  if (tss_known_mode == TSS_MODE_CLASSIC) {
    const int order = TssClassicPaddedOrder(a, b, la, lb);
    if (order != tss_padded_fast::kUndecided) return order;
  }
  return TssPaddedCompareGeneral(a, b, la, lb);
}

// Non-zero when the common prefix of a and b is equal and the rest of the
// longer one holds only blanks (0x20).
int TssStringNNEqualWithPadding(const char *a, const char *b, long la, long lb);

inline constexpr int TSS_ULTIM_SINGLE_BYTE = 2;  // one byte per character
inline constexpr int TSS_ULTIM_LOWEST = 4;       // lowest, else highest

// Fills length bytes with the lowest (option bit 4) or highest character of
// the locale, as 1-byte characters when option bit 2 is set and as TSS
// characters otherwise (a tail too short for a 4-byte character gets the
// highest 1-byte character). The result sorts below (above) every text of
// that length under TssStringNNCmpWithPadding and TssStringNCmp with flag 1.
// Options other than 0, 2, 4 and 6 log "Unknown flag" and return -1 with the
// bytes untouched; else 0.
int TssStringSetUltim(char *bytes, long length, int option);
