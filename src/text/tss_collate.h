// The TSS collation of the UTF-T mode, shared by the comparisons and by
// TssStringSetUltim.
#pragma once

#include "text/tss_char.h"

// Opens ICU's "root" collator and builds the tables of the 1-byte characters,
// once per process. False when ICU could not serve; the collation then orders
// by code point (and keeps doing so).
bool TssCollationOpen();

// Orders two characters by the TSS collation: their weight under the "root"
// collator, and where that is equal, their code point, a 4-byte form after
// the 1-byte form of the same code point, and characters without a code
// point last. Returns -1, 0 or 1; 0 only for the same character.
int TssCollateChars(TssChar a, TssChar b);

// The lowest and highest characters of the TSS collation; single_byte limits
// the choice to 1-byte characters.
TssChar TssCollationLowest();
TssChar TssCollationHighest(bool single_byte);
