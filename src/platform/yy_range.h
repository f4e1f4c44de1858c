// Layout of a compiled range expression, shared by the compiler and the
// evaluator. A compiled expression is one block:
//
//   YY_EXPR header | Node[node_count] | int32 list[list_count] | string pool
//
// Nodes refer to each other by index, list items by index into the list
// array, strings by offset into the pool; so the block holds no addresses.
#ifndef MOLVANE_PLATFORM_YY_RANGE_H
#define MOLVANE_PLATFORM_YY_RANGE_H

#include <cstdint>
#include <cstring>

#include "platform/yy_expr.h"

namespace yy {

inline constexpr uint32_t kExprMagic = 0x59524E47;  // "YRNG"
inline constexpr uint32_t kOwnedByLibrary = 1;      // header flag: yy_free_express frees it
// Header flag: for an INTEGER subject the expression is the union of the
// closed intervals at the end of the block: count pairs {low, high} of
// int32_t, in ascending order, then the count as a uint32_t and 4 bytes of
// padding (see expr_intervals).
inline constexpr uint32_t kIntervals = 2;

enum class Op : uint8_t {
  kIntConst,   // ival
  kRealConst,  // rval
  kStrConst,   // str_off, str_len
  kName,       // str_off (NUL-terminated), str_len
  kSubject,    // the value under test
  kAdd,
  kSub,
  kMul,
  kDiv,
  kMod,
  kConcat,
  kCompare,    // cmp; left, right
  kAnd,
  kOr,
  kNot,        // left
  kInList,     // left: the value; list items list[first .. first + count)
  kRange,      // list item: left low, right high constants
};

enum class Cmp : uint8_t { kEq, kNe, kLt, kGt, kLe, kGe };

struct Node {
  Op op;
  Cmp cmp;           // kCompare
  int32_t left;      // first operand (node index), -1 when none
  int32_t right;     // second operand (node index), -1 when none
  int32_t ival;      // kIntConst value; kInList item count
  uint32_t first;    // kInList: index of the first item in the list array
  uint32_t str_off;  // kStrConst, kName: offset into the string pool
  uint32_t str_len;  // kStrConst, kName: byte count (without the NUL)
  double rval;       // kRealConst value
};

}  // namespace yy

struct YY_EXPR {
  uint32_t magic;       // yy::kExprMagic
  uint32_t flags;       // yy::kOwnedByLibrary
  uint32_t node_count;
  int32_t root;         // index of the root node
  uint32_t list_off;    // byte offset of the list array from the block start
  uint32_t list_count;
  uint32_t pool_off;    // byte offset of the string pool from the block start
  uint32_t size;        // block size in bytes
};

namespace yy {

inline const Node *expr_nodes(const YY_EXPR *e) {
  return reinterpret_cast<const Node *>(e + 1);
}
inline const int32_t *expr_list(const YY_EXPR *e) {
  return reinterpret_cast<const int32_t *>(reinterpret_cast<const char *>(e) + e->list_off);
}
inline const char *expr_pool(const YY_EXPR *e) {
  return reinterpret_cast<const char *>(e) + e->pool_off;
}
// The interval table of a block with kIntervals: its pairs and their count.
inline const unsigned char *expr_intervals(const YY_EXPR *e, uint32_t *count) {
  const unsigned char *end = reinterpret_cast<const unsigned char *>(e) + e->size - 8;
  std::memcpy(count, end, sizeof *count);
  return end - size_t{*count} * 8;
}

}  // namespace yy

#endif  // MOLVANE_PLATFORM_YY_RANGE_H
