// The bits of the flags word that name resolution (MapColumnNamesToIds)
// passes down the validated tree.
#pragma once

namespace vtflags {

inline constexpr int kOutermost = 1;       // the outermost query specification
inline constexpr int kClearUnref = 2;      // a CLEAR/UNREF statement: REFERS TO modes apply
inline constexpr int kAnsi = 16;           // the ANSI parse mode
inline constexpr int kIntoDerived = 8 | 16;  // the only bits a derived table's query receives
inline constexpr int kBaseAsDerived = 64;  // a base table presents itself as a derived table

}  // namespace vtflags
