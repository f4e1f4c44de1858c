// Evaluator of compiled range expressions.
//
// Walks the node tree of the block recursively (the compiler bounds its
// height) in three-valued logic: a value is an integer, a real, a string or
// nothing, and a comparison with nothing, or between kinds that do not
// compare, is unknown. Strings that the evaluation creates (names' values,
// concatenations) live in the evaluator's own scratch list for one call.
// An INTEGER subject of a block that carries an interval table is decided
// from the table alone, with at most one branch on the value (see
// InIntervals): it is the domain check of every integer column of every row.
#include <cmath>
#include <cstring>
#include <forward_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/yy_expr.h"
#include "platform/yy_range.h"
#include "text/tss.h"

namespace {

yy_setid_fn g_set = nullptr;
yy_getid_fn g_get = nullptr;

}  // namespace

void yy_set_setid_getid(yy_setid_fn set, yy_getid_fn get) {
  if (set) g_set = set;
  if (get) g_get = get;
}

void yy_get_setid_getid(yy_setid_fn *set, yy_getid_fn *get) {
  if (set) *set = g_set;
  if (get) *get = g_get;
}

namespace yy {
namespace {

enum class Truth { kFalse, kTrue, kUnknown };

struct Val {
  int kind = YY_NONE;
  int32_t i = 0;
  double r = 0;
  std::string_view s;

  bool numeric() const { return kind == YY_INTEGER || kind == YY_REAL; }
  double as_double() const { return kind == YY_INTEGER ? i : r; }
};

Val none() { return {}; }
Val integer(int64_t v) {
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    return none();
  Val x;
  x.kind = YY_INTEGER;
  x.i = static_cast<int32_t>(v);
  return x;
}
Val real(double v) {
  Val x;
  x.kind = YY_REAL;
  x.r = v;
  return x;
}

Truth truth(bool b) { return b ? Truth::kTrue : Truth::kFalse; }

Truth truth_and(Truth a, Truth b) {
  if (a == Truth::kFalse || b == Truth::kFalse) return Truth::kFalse;
  if (a == Truth::kUnknown || b == Truth::kUnknown) return Truth::kUnknown;
  return Truth::kTrue;
}

// Strings compare as TSS text, the shorter padded with blanks, in the same
// order as SQL's comparisons (byte order in the classic mode, the TSS
// collation in the UTF-T mode).
int compare_padded(std::string_view a, std::string_view b) {
  return TssStringNNCmpWithPadding(a.data(), b.data(), static_cast<long>(a.size()),
                                   static_cast<long>(b.size()));
}

// The order of two values, or nothing when they do not compare.
std::optional<int> order(const Val &a, const Val &b) {
  if (a.kind == YY_INTEGER && b.kind == YY_INTEGER) return (a.i > b.i) - (a.i < b.i);
  if (a.numeric() && b.numeric()) {
    double x = a.as_double(), y = b.as_double();
    if (std::isnan(x) || std::isnan(y)) return std::nullopt;
    return (x > y) - (x < y);
  }
  if (a.kind == YY_STRING && b.kind == YY_STRING) return compare_padded(a.s, b.s);
  return std::nullopt;
}

Truth compare(const Val &a, Cmp cmp, const Val &b) {
  std::optional<int> o = order(a, b);
  if (!o) return Truth::kUnknown;
  switch (cmp) {
    case Cmp::kEq: return truth(*o == 0);
    case Cmp::kNe: return truth(*o != 0);
    case Cmp::kLt: return truth(*o < 0);
    case Cmp::kGt: return truth(*o > 0);
    case Cmp::kLe: return truth(*o <= 0);
    case Cmp::kGe: return truth(*o >= 0);
  }
  return Truth::kUnknown;
}

class Evaluator {
 public:
  Evaluator(const YY_EXPR *e, int kind, const void *value)
      : nodes_(expr_nodes(e)), list_(expr_list(e)), pool_(expr_pool(e)) {
    if (!value) return;
    switch (kind) {
      case YY_INTEGER: std::memcpy(&subject_.i, value, sizeof(int32_t)); break;
      case YY_REAL: std::memcpy(&subject_.r, value, sizeof(double)); break;
      case YY_STRING: subject_.s = static_cast<const char *>(value); break;
      default: return;
    }
    subject_.kind = kind;
  }

  Truth cond(int32_t idx) {
    const Node &n = nodes_[idx];
    switch (n.op) {
      case Op::kAnd: {
        Truth a = cond(n.left);
        if (a == Truth::kFalse) return a;
        return truth_and(a, cond(n.right));
      }
      case Op::kOr: {
        Truth a = cond(n.left);
        if (a == Truth::kTrue) return a;
        Truth b = cond(n.right);
        if (b == Truth::kTrue) return b;
        return (a == Truth::kUnknown || b == Truth::kUnknown) ? Truth::kUnknown : Truth::kFalse;
      }
      case Op::kNot: {
        Truth a = cond(n.left);
        return a == Truth::kUnknown ? a : truth(a == Truth::kFalse);
      }
      case Op::kCompare: {
        Val a = value(n.left);
        return compare(a, n.cmp, value(n.right));
      }
      case Op::kInList:
        return in_list(n);
      default:
        return Truth::kUnknown;  // the compiler never puts a value here
    }
  }

 private:
  // A list is true when an item matches, else unknown when an item is.
  Truth in_list(const Node &n) {
    Val v = value(n.left);
    Truth result = Truth::kFalse;
    for (int32_t k = 0; k < n.ival; ++k) {
      const Node &item = nodes_[list_[n.first + k]];
      Truth t;
      if (item.op == Op::kRange) {
        t = compare(v, Cmp::kGe, value(item.left));
        if (t != Truth::kFalse) t = truth_and(t, compare(v, Cmp::kLe, value(item.right)));
      } else {
        t = compare(v, Cmp::kEq, value(list_[n.first + k]));
      }
      if (t == Truth::kTrue) return t;
      if (t == Truth::kUnknown) result = t;
    }
    return result;
  }

  Val value(int32_t idx) {
    const Node &n = nodes_[idx];
    switch (n.op) {
      case Op::kIntConst: return integer(n.ival);
      case Op::kRealConst: return real(n.rval);
      case Op::kStrConst: {
        Val x;
        x.kind = YY_STRING;
        x.s = std::string_view(pool_ + n.str_off, n.str_len);
        return x;
      }
      case Op::kSubject: return subject_;
      case Op::kName: return lookup(pool_ + n.str_off);
      case Op::kAdd: case Op::kSub: case Op::kMul: case Op::kDiv: case Op::kMod:
      case Op::kConcat: {
        Val a = value(n.left);
        if (a.kind == YY_NONE) return a;
        return arithmetic(n.op, a, value(n.right));
      }
      default:
        return none();
    }
  }

  Val lookup(const char *name) {
    if (!g_get) return none();
    YY_VALUE cell{};
    cell.kind = YY_NONE;
    g_get(name, &cell);
    switch (cell.kind) {
      case YY_INTEGER: return integer(cell.ival);
      case YY_REAL: return real(cell.rval);
      case YY_STRING: {
        Val x;
        x.kind = YY_STRING;
        if (cell.sval && cell.slen) x.s = scratch_.emplace_front(cell.sval, cell.slen);
        return x;
      }
      default: return none();
    }
  }

  Val arithmetic(Op op, const Val &a, const Val &b) {
    if (op == Op::kConcat) {
      if (a.kind != YY_STRING || b.kind != YY_STRING) return none();
      std::string &s = scratch_.emplace_front(a.s);
      s.append(b.s);
      Val x;
      x.kind = YY_STRING;
      x.s = s;
      return x;
    }
    if (!a.numeric() || !b.numeric()) return none();
    bool ints = a.kind == YY_INTEGER && b.kind == YY_INTEGER;
    switch (op) {
      case Op::kAdd: return ints ? integer(int64_t{a.i} + b.i) : real(a.as_double() + b.as_double());
      case Op::kSub: return ints ? integer(int64_t{a.i} - b.i) : real(a.as_double() - b.as_double());
      case Op::kMul: return ints ? integer(int64_t{a.i} * b.i) : real(a.as_double() * b.as_double());
      case Op::kDiv:
        if (b.as_double() == 0) return none();
        return real(a.as_double() / b.as_double());
      case Op::kMod:
        if (!ints || b.i == 0) return none();
        if (b.i == -1) return integer(0);  // also for the smallest integer
        return integer(a.i % b.i);
      default:
        return none();
    }
  }

  const Node *nodes_;
  const int32_t *list_;
  const char *pool_;
  Val subject_;
  // Strings made during this evaluation; a list keeps them in place and
  // allocates nothing until the first one.
  std::forward_list<std::string> scratch_;
};

// The common domain check: an INTEGER or STRING subject against constants
// of its own kind, joined by and, or, not and lists. Every comparison is then
// known, so two-valued logic gives the evaluator's result without building
// values. Anything else (names, arithmetic, reals, mixed kinds) makes the
// walk give up (-1) and the general evaluator runs.
template <typename Subject>
class FastWalk {
 public:
  FastWalk(const YY_EXPR *e, Subject subject)
      : nodes_(expr_nodes(e)), list_(expr_list(e)), pool_(expr_pool(e)), subject_(subject) {}

  int cond(int32_t idx) {
    const Node &n = nodes_[idx];
    switch (n.op) {
      case Op::kAnd: {
        int a = cond(n.left);
        return a != 1 ? a : cond(n.right);
      }
      case Op::kOr: {
        int a = cond(n.left);
        return a != 0 ? a : cond(n.right);
      }
      case Op::kNot: {
        int a = cond(n.left);
        return a < 0 ? a : !a;
      }
      case Op::kCompare: {
        Subject a, b;
        if (!operand(n.left, &a) || !operand(n.right, &b)) return -1;
        int o = order(a, b);
        switch (n.cmp) {
          case Cmp::kEq: return o == 0;
          case Cmp::kNe: return o != 0;
          case Cmp::kLt: return o < 0;
          case Cmp::kGt: return o > 0;
          case Cmp::kLe: return o <= 0;
          case Cmp::kGe: return o >= 0;
        }
        return -1;
      }
      case Op::kInList: {
        Subject v;
        if (!operand(n.left, &v)) return -1;
        for (int32_t k = 0; k < n.ival; ++k) {
          int32_t at = list_[n.first + k];
          const Node &item = nodes_[at];
          Subject low, high;
          if (item.op == Op::kRange) {
            if (!operand(item.left, &low) || !operand(item.right, &high)) return -1;
            if (order(v, low) >= 0 && order(v, high) <= 0) return 1;
          } else {
            if (!operand(at, &low)) return -1;
            if (order(v, low) == 0) return 1;
          }
        }
        return 0;
      }
      default:
        return -1;
    }
  }

 private:
  static int order(int32_t a, int32_t b) { return (a > b) - (a < b); }
  static int order(std::string_view a, std::string_view b) { return compare_padded(a, b); }

  bool operand(int32_t idx, int32_t *v) const {
    const Node &n = nodes_[idx];
    if (n.op == Op::kSubject) *v = subject_;
    else if (n.op == Op::kIntConst) *v = n.ival;
    else return false;
    return true;
  }
  bool operand(int32_t idx, std::string_view *v) const {
    const Node &n = nodes_[idx];
    if (n.op == Op::kSubject) *v = subject_;
    else if (n.op == Op::kStrConst) *v = std::string_view(pool_ + n.str_off, n.str_len);
    else return false;
    return true;
  }

  const Node *nodes_;
  const int32_t *list_;
  const char *pool_;
  Subject subject_;
};

}  // namespace
}  // namespace yy

namespace yy {
namespace {

// The bounds of interval k of a table.
inline int32_t LowOf(const unsigned char *table, size_t k) {
  int32_t low;
  std::memcpy(&low, table + 8 * k, 4);
  return low;
}
inline int32_t HighOf(const unsigned char *table, size_t k) {
  int32_t high;
  std::memcpy(&high, table + 8 * k + 4, 4);
  return high;
}

// Whether u lies in the closed interval at p: (u - low) <= (high - low) in
// unsigned arithmetic holds exactly for low <= u <= high.
inline bool InInterval(uint32_t u, const unsigned char *p) {
  const auto low = static_cast<uint32_t>(LowOf(p, 0));
  return u - low <= static_cast<uint32_t>(HighOf(p, 0)) - low;
}

#if defined(__SSE2__)
// Lane k all ones when interval k of four (two at a, then two at b) does not
// hold the value that fills every lane of vv, else 0.
inline __m128i OutsideFour(__m128i vv, const unsigned char *a, const unsigned char *b) {
  const __m128 x = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a)));
  const __m128 y = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i *>(b)));
  const __m128i lows = _mm_castps_si128(_mm_shuffle_ps(x, y, _MM_SHUFFLE(2, 0, 2, 0)));
  const __m128i highs = _mm_castps_si128(_mm_shuffle_ps(x, y, _MM_SHUFFLE(3, 1, 3, 1)));
  return _mm_or_si128(_mm_cmpgt_epi32(lows, vv), _mm_cmpgt_epi32(vv, highs));
}
#endif

// Whether v lies in one of the count intervals of a table of 2 to 8, all
// tested at once: the first two and the last two intervals, and for more
// than four the two pairs after and before those (an interval tested twice
// changes nothing).
int InFewIntervals(int32_t v, const unsigned char *table, uint32_t count) {
  const unsigned char *end = table + 8 * size_t{count};
#if defined(__SSE2__)
  const __m128i vv = _mm_set1_epi32(v);
  __m128i out = OutsideFour(vv, table, end - 16);
  if (count > 4) out = _mm_and_si128(out, OutsideFour(vv, table + 16, end - 32));
  return _mm_movemask_ps(_mm_castsi128_ps(out)) != 0xF;
#else
  const auto u = static_cast<uint32_t>(v);
  bool hit = false;
  for (const unsigned char *p = table; p < end; p += 8) hit |= InInterval(u, p);
  return hit;
#endif
}

// Whether v lies in one of the count intervals of a table of more than 8:
// the last interval that starts at or below v is found by halves, a
// conditional move per step, and tested.
int InManyIntervals(int32_t v, const unsigned char *table, uint32_t count) {
  size_t first = 0;
  for (size_t n = count; n > 1;) {
    const size_t half = n / 2;
    first = LowOf(table, first + half) <= v ? first + half : first;
    n -= half;
  }
  return InInterval(static_cast<uint32_t>(v), table + 8 * first);
}

// Whether v lies in one of the count closed intervals of table (ascending
// and disjoint). The first interval is tested alone, and decides at once
// when it holds v: most domains list their main range first, and most
// values checked are valid. The other tests take the values as random to
// the branch predictor, so none branches on them.
inline int InIntervals(int32_t v, const unsigned char *table, uint32_t count) {
  if (count - 1 < 8) {  // 1 to 8 intervals
    if (InInterval(static_cast<uint32_t>(v), table)) return 1;
    return count > 1 && InFewIntervals(v, table, count);
  }
  return count != 0 && InManyIntervals(v, table, count);
}

// Everything but the interval table: the walks over the nodes.
[[gnu::noinline]] int EvaluateNodes(const YY_EXPR *expr, int kind, const void *value) {
  if (value != nullptr && kind == YY_INTEGER) {
    int32_t v;
    std::memcpy(&v, value, sizeof v);
    int fast = FastWalk<int32_t>(expr, v).cond(expr->root);
    if (fast >= 0) return fast;
  } else if (value != nullptr && kind == YY_STRING) {
    int fast = FastWalk<std::string_view>(expr, static_cast<const char *>(value)).cond(expr->root);
    if (fast >= 0) return fast;
  }
  Evaluator ev(expr, kind, value);
  return ev.cond(expr->root) == Truth::kTrue;
}

}  // namespace
}  // namespace yy

int yy_b_express(const YY_EXPR *expr, int kind, const void *value) {
  if (!expr) return 1;
  if (expr->magic != yy::kExprMagic) return 0;
  if (value != nullptr && kind == YY_INTEGER && (expr->flags & yy::kIntervals)) {
    int32_t v;
    std::memcpy(&v, value, sizeof v);
    uint32_t count;
    const unsigned char *p = yy::expr_intervals(expr, &count);
    return yy::InIntervals(v, p, count);
  }
  return yy::EvaluateNodes(expr, kind, value);
}
