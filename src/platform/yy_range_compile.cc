// Compiler of range expressions (docs/range-expressions.md).
//
// A hand-written scanner feeds a recursive-descent parser over one unified
// expression grammar; every parsed piece carries whether it is a condition or
// a value, and the operators check that their operands are of the right kind.
// This accepts exactly the texts in which conditions and values are used in
// their places, with the precedence of the SQL layer's role-condition parser.
// The nodes are built in vectors and finally copied into one block from the
// caller's allocation function (layout in yy_range.h).
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/mal.h"
#include "platform/yy_expr.h"
#include "platform/yy_range.h"

int yy_expr_errno = 0;
size_t yy_expr_errpos = 0;

namespace yy {
namespace {

constexpr int kMaxParenDepth = 200;
constexpr int kMaxHeight = 1000;

struct CompileError {
  int code;
  size_t pos;
};

[[noreturn]] void fail(int code, size_t pos) { throw CompileError{code, pos}; }

enum class Tok {
  kEnd, kName, kDollar, kString, kInteger, kReal, kDotDot, kComma, kCmp,
  kPlus, kMinus, kStar, kSlash, kBackslash, kAmp, kLParen, kRParen, kAnd, kOr,
};

struct Token {
  Tok kind = Tok::kEnd;
  size_t pos = 0;
  Cmp cmp = Cmp::kEq;   // kCmp
  std::string text;     // kName: the name; kString: the unquoted bytes
  int32_t ival = 0;     // kInteger
  double rval = 0;      // kReal
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

bool equals_word(const std::string &s, const char *word) {
  size_t n = std::strlen(word);
  if (s.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

class Scanner {
 public:
  explicit Scanner(const char *text) : text_(text) {}

  Token next() {
    while (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n') ++pos_;
    Token t;
    t.pos = pos_;
    char c = text_[pos_];
    if (c == '\0') return t;
    if (is_alpha(c)) return name(t);
    if (is_digit(c)) return number(t);
    if (c == '.') {
      if (text_[pos_ + 1] == '.') return punct(t, Tok::kDotDot, 2);
      if (is_digit(text_[pos_ + 1])) return number(t);
      fail(YY_ERR_CHAR, pos_);
    }
    if (c == '\'' || c == '"') return string(t, c);
    switch (c) {
      case '$': return punct(t, Tok::kDollar, 1);
      case ',': return punct(t, Tok::kComma, 1);
      case '+': return punct(t, Tok::kPlus, 1);
      case '-': return punct(t, Tok::kMinus, 1);
      case '*': return punct(t, Tok::kStar, 1);
      case '/': return punct(t, Tok::kSlash, 1);
      case '\\': return punct(t, Tok::kBackslash, 1);
      case '&': return punct(t, Tok::kAmp, 1);
      case '(': return punct(t, Tok::kLParen, 1);
      case ')': return punct(t, Tok::kRParen, 1);
      case '=': return compare(t, Cmp::kEq, 1);
      case '!':
        if (text_[pos_ + 1] == '=') return compare(t, Cmp::kNe, 2);
        fail(YY_ERR_CHAR, pos_);
      case '<':
        if (text_[pos_ + 1] == '>') return compare(t, Cmp::kNe, 2);
        if (text_[pos_ + 1] == '=') return compare(t, Cmp::kLe, 2);
        return compare(t, Cmp::kLt, 1);
      case '>':
        if (text_[pos_ + 1] == '=') return compare(t, Cmp::kGe, 2);
        return compare(t, Cmp::kGt, 1);
      default:
        fail(YY_ERR_CHAR, pos_);
    }
  }

 private:
  Token punct(Token &t, Tok kind, size_t len) {
    t.kind = kind;
    pos_ += len;
    return t;
  }

  Token compare(Token &t, Cmp cmp, size_t len) {
    t.cmp = cmp;
    return punct(t, Tok::kCmp, len);
  }

  Token name(Token &t) {
    size_t end = pos_;
    while (is_alpha(text_[end]) || is_digit(text_[end]) || text_[end] == '.') ++end;
    if (text_[end] == '$') ++end;
    t.text.assign(text_ + pos_, end - pos_);
    pos_ = end;
    if (equals_word(t.text, "and")) t.kind = Tok::kAnd;
    else if (equals_word(t.text, "or")) t.kind = Tok::kOr;
    else t.kind = Tok::kName;
    return t;
  }

  // digits, or digits "." digits* exponent?, or "." digits exponent?; digits
  // followed by ".." stay an integer so that "1..5" is a range.
  Token number(Token &t) {
    size_t end = pos_;
    while (is_digit(text_[end])) ++end;
    bool real = false;
    if (text_[end] == '.' && text_[end + 1] != '.') {
      real = true;
      ++end;
      while (is_digit(text_[end])) ++end;
      size_t e = end;
      if (text_[e] == 'e' || text_[e] == 'E') {
        ++e;
        if (text_[e] == '+' || text_[e] == '-') ++e;
        if (is_digit(text_[e])) {
          while (is_digit(text_[e])) ++e;
          end = e;
        }
      }
    }
    const char *first = text_ + pos_;
    const char *last = text_ + end;
    if (real) {
      // from_chars does not read a leading "." nor depend on the locale's
      // decimal point; give it a leading 0 when the literal has none.
      std::string s;
      if (*first == '.') s.push_back('0');
      s.append(first, last);
      auto r = std::from_chars(s.data(), s.data() + s.size(), t.rval);
      if (r.ec != std::errc()) fail(YY_ERR_RANGE, pos_);
      t.kind = Tok::kReal;
    } else {
      auto r = std::from_chars(first, last, t.ival);
      if (r.ec != std::errc()) fail(YY_ERR_RANGE, pos_);
      t.kind = Tok::kInteger;
    }
    pos_ = end;
    return t;
  }

  Token string(Token &t, char quote) {
    size_t p = pos_ + 1;
    for (;;) {
      char c = text_[p];
      if (c == '\0') fail(YY_ERR_STRING, pos_);
      if (c == quote) {
        if (text_[p + 1] != quote) break;
        ++p;
      }
      t.text.push_back(c);
      ++p;
    }
    t.kind = Tok::kString;
    pos_ = p + 1;
    return t;
  }

  const char *text_;
  size_t pos_ = 0;
};

// One parsed piece: its node, whether it is a condition, and whether it is a
// (signed) literal, which may stand where a condition belongs.
struct Parsed {
  int32_t node;
  bool cond;
  bool literal;
  size_t pos;
};

class Parser {
 public:
  explicit Parser(const char *text) : scanner_(text) {}

  void parse() {
    Parsed p = parse_or();
    if (peek().kind != Tok::kEnd) fail(YY_ERR_TOKEN, peek().pos);
    root_ = as_cond(p);
  }

  YY_EXPR *build(yy_alloc_fn alloc) const {
    size_t nodes_bytes = nodes_.size() * sizeof(Node);
    size_t list_off = sizeof(YY_EXPR) + nodes_bytes;
    size_t pool_off = list_off + lists_.size() * sizeof(int32_t);
    size_t size = pool_off + pool_.size();
    // An INTEGER subject's test as a union of intervals, when it is one.
    Intervals intervals;
    bool has_intervals = intervals_of(root_, &intervals) && intervals.size() <= kMaxIntervals;
    size_t intervals_off = (size + 7) & ~size_t{7};
    if (has_intervals) size = intervals_off + intervals.size() * 8 + 8;
    if (size > UINT32_MAX) fail(YY_ERR_MEMORY, 0);
    void *block = alloc ? alloc(size) : mal_allocater(size, MAL_POOL1 | MAL_FREEABLE, 0, nullptr);
    if (!block) fail(YY_ERR_MEMORY, 0);
    auto *e = static_cast<YY_EXPR *>(block);
    e->magic = kExprMagic;
    e->flags = alloc ? 0 : kOwnedByLibrary;
    e->node_count = static_cast<uint32_t>(nodes_.size());
    e->root = root_;
    e->list_off = static_cast<uint32_t>(list_off);
    e->list_count = static_cast<uint32_t>(lists_.size());
    e->pool_off = static_cast<uint32_t>(pool_off);
    e->size = static_cast<uint32_t>(size);
    char *base = static_cast<char *>(block);
    if (nodes_bytes) std::memcpy(base + sizeof(YY_EXPR), nodes_.data(), nodes_bytes);
    if (!lists_.empty()) std::memcpy(base + list_off, lists_.data(), lists_.size() * sizeof(int32_t));
    if (!pool_.empty()) std::memcpy(base + pool_off, pool_.data(), pool_.size());
    if (has_intervals) {
      e->flags |= kIntervals;
      std::memset(base + pool_off + pool_.size(), 0, intervals_off - pool_off - pool_.size());
      unsigned char *p = reinterpret_cast<unsigned char *>(base) + intervals_off;
      for (const auto &[low, high] : intervals) {
        auto lo = static_cast<int32_t>(low), hi = static_cast<int32_t>(high);
        std::memcpy(p, &lo, 4);
        std::memcpy(p + 4, &hi, 4);
        p += 8;
      }
      auto count = static_cast<uint32_t>(intervals.size());
      std::memcpy(p, &count, 4);
      std::memset(p + 4, 0, 4);
    }
    return e;
  }

 private:
  // Closed intervals of int64_t within the int32_t range, ascending and
  // disjoint: the INTEGER subjects for which an expression holds.
  using Intervals = std::vector<std::pair<int64_t, int64_t>>;
  static constexpr size_t kMaxIntervals = 64;
  static constexpr int64_t kLow = INT32_MIN, kHigh = INT32_MAX;

  static Intervals normalise(Intervals v) {
    std::sort(v.begin(), v.end());
    Intervals out;
    for (const auto &r : v) {
      if (r.first > r.second) continue;
      if (!out.empty() && r.first <= out.back().second + 1)
        out.back().second = std::max(out.back().second, r.second);
      else
        out.push_back(r);
    }
    return out;
  }
  static Intervals complement(const Intervals &v) {
    Intervals out;
    int64_t next = kLow;
    for (const auto &r : v) {
      if (r.first > next) out.emplace_back(next, r.first - 1);
      next = r.second + 1;
    }
    if (next <= kHigh) out.emplace_back(next, kHigh);
    return out;
  }
  static Intervals intersect(const Intervals &a, const Intervals &b) {
    return complement(normalise([&] {
      Intervals u = complement(a), w = complement(b);
      u.insert(u.end(), w.begin(), w.end());
      return u;
    }()));
  }

  // The subjects for which `subject cmp c` holds.
  static Intervals compared(Cmp cmp, int64_t c) {
    switch (cmp) {
      case Cmp::kEq: return {{c, c}};
      case Cmp::kNe: return normalise({{kLow, c - 1}, {c + 1, kHigh}});
      case Cmp::kLt: return normalise({{kLow, c - 1}});
      case Cmp::kLe: return {{kLow, c}};
      case Cmp::kGt: return normalise({{c + 1, kHigh}});
      case Cmp::kGe: return {{c, kHigh}};
    }
    return {};
  }

  // False when the condition at idx is not a test of the subject against
  // integer constants alone (the evaluator then decides every time).
  bool intervals_of(int32_t idx, Intervals *out) const {
    if (idx < 0) return false;
    const Node &n = nodes_[static_cast<size_t>(idx)];
    auto is = [&](int32_t i, Op op) { return i >= 0 && nodes_[static_cast<size_t>(i)].op == op; };
    auto constant = [&](int32_t i) { return int64_t{nodes_[static_cast<size_t>(i)].ival}; };
    switch (n.op) {
      case Op::kAnd:
      case Op::kOr: {
        Intervals a, b;
        if (!intervals_of(n.left, &a) || !intervals_of(n.right, &b)) return false;
        if (n.op == Op::kAnd) {
          *out = intersect(a, b);
        } else {
          a.insert(a.end(), b.begin(), b.end());
          *out = normalise(a);
        }
        return true;
      }
      case Op::kNot: {
        Intervals a;
        if (!intervals_of(n.left, &a)) return false;
        *out = complement(a);
        return true;
      }
      case Op::kCompare: {
        if (is(n.left, Op::kSubject) && is(n.right, Op::kIntConst)) {
          *out = compared(n.cmp, constant(n.right));
          return true;
        }
        if (is(n.left, Op::kIntConst) && is(n.right, Op::kSubject)) {
          static const Cmp kFlipped[] = {Cmp::kEq, Cmp::kNe, Cmp::kGt, Cmp::kLt, Cmp::kGe, Cmp::kLe};
          *out = compared(kFlipped[static_cast<int>(n.cmp)], constant(n.left));
          return true;
        }
        return false;
      }
      case Op::kInList: {
        if (!is(n.left, Op::kSubject)) return false;
        Intervals items;
        for (int32_t k = 0; k < n.ival; ++k) {
          int32_t at = lists_[n.first + static_cast<uint32_t>(k)];
          const Node &item = nodes_[static_cast<size_t>(at)];
          if (item.op == Op::kRange && is(item.left, Op::kIntConst) && is(item.right, Op::kIntConst))
            items.emplace_back(constant(item.left), constant(item.right));
          else if (item.op == Op::kIntConst)
            items.emplace_back(int64_t{item.ival}, int64_t{item.ival});
          else
            return false;
        }
        *out = normalise(items);
        return true;
      }
      default:
        return false;
    }
  }

  const Token &peek(size_t k = 0) {
    while (ahead_.size() <= k) ahead_.push_back(scanner_.next());
    return ahead_[k];
  }

  Token take() {
    peek();
    Token t = std::move(ahead_.front());
    ahead_.pop_front();
    return t;
  }

  void expect(Tok kind) {
    const Token &t = peek();
    if (t.kind == kind) {
      take();
      return;
    }
    fail(t.kind == Tok::kEnd ? YY_ERR_END : YY_ERR_TOKEN, t.pos);
  }

  int32_t add(Node n) {
    int h = 0;
    for (int32_t child : {n.left, n.right})
      if (child >= 0) h = std::max(h, height_[child]);
    if (n.op == Op::kInList)
      for (uint32_t i = 0; i < static_cast<uint32_t>(n.ival); ++i)
        h = std::max(h, height_[lists_[n.first + i]]);
    if (h + 1 > kMaxHeight) fail(YY_ERR_DEPTH, peek().pos);
    nodes_.push_back(n);
    height_.push_back(h + 1);
    return static_cast<int32_t>(nodes_.size() - 1);
  }

  static Node make(Op op, int32_t left = -1, int32_t right = -1) {
    Node n{};
    n.op = op;
    n.left = left;
    n.right = right;
    return n;
  }

  uint32_t intern(const std::string &s) {
    uint32_t off = static_cast<uint32_t>(pool_.size());
    pool_.append(s);
    pool_.push_back('\0');
    return off;
  }

  int32_t as_value(const Parsed &p) {
    if (p.cond) fail(YY_ERR_KIND, p.pos);
    return p.node;
  }

  // A lone literal where a condition belongs is a list of one item.
  int32_t as_cond(const Parsed &p) {
    if (p.cond) return p.node;
    if (!p.literal) fail(YY_ERR_KIND, p.pos);
    return in_list(add(make(Op::kSubject)), {p.node});
  }

  int32_t in_list(int32_t value, const std::vector<int32_t> &items) {
    Node n = make(Op::kInList, value);
    n.first = static_cast<uint32_t>(lists_.size());
    n.ival = static_cast<int32_t>(items.size());
    lists_.insert(lists_.end(), items.begin(), items.end());
    return add(n);
  }

  Parsed parse_or() {
    Parsed left = parse_and();
    while (peek().kind == Tok::kOr) {
      take();
      Parsed right = parse_and();
      int32_t l = as_cond(left);
      left = {add(make(Op::kOr, l, as_cond(right))), true, false, left.pos};
    }
    return left;
  }

  Parsed parse_and() {
    Parsed left = parse_not();
    while (peek().kind == Tok::kAnd) {
      take();
      Parsed right = parse_not();
      int32_t l = as_cond(left);
      left = {add(make(Op::kAnd, l, as_cond(right))), true, false, left.pos};
    }
    return left;
  }

  // "not" is the keyword only before something that can start an operand;
  // before an operator it is a name, as in the SQL layer's parser.
  bool at_not_keyword() {
    const Token &t = peek();
    if (t.kind != Tok::kName || !equals_word(t.text, "not")) return false;
    switch (peek(1).kind) {
      case Tok::kName: case Tok::kDollar: case Tok::kString: case Tok::kInteger:
      case Tok::kReal: case Tok::kLParen:
        return true;
      default:
        return false;
    }
  }

  // A run of NOTs is counted rather than recursed into, so that a long run
  // meets the height limit instead of exhausting the stack.
  Parsed parse_not() {
    std::vector<size_t> nots;
    while (at_not_keyword()) nots.push_back(take().pos);
    Parsed p = parse_test();
    for (auto pos = nots.rbegin(); pos != nots.rend(); ++pos)
      p = {add(make(Op::kNot, as_cond(p))), true, false, *pos};
    return p;
  }

  Parsed parse_test() {
    size_t pos = peek().pos;
    if (peek().kind == Tok::kCmp) {
      Cmp cmp = take().cmp;
      int32_t right = as_value(parse_sum());
      return {compare(add(make(Op::kSubject)), cmp, right), true, false, pos};
    }
    Parsed left = parse_sum();
    const Token &t = peek();
    if (t.kind == Tok::kCmp) {
      Cmp cmp = take().cmp;
      int32_t l = as_value(left);
      int32_t right = as_value(parse_sum());
      return {compare(l, cmp, right), true, false, pos};
    }
    if (t.kind == Tok::kName && equals_word(t.text, "in") && peek(1).kind == Tok::kLParen) {
      int32_t value = as_value(left);
      return {parse_in_list(value), true, false, pos};
    }
    if (t.kind == Tok::kName && equals_word(t.text, "not") && peek(1).kind == Tok::kName &&
        equals_word(peek(1).text, "in") && peek(2).kind == Tok::kLParen) {
      int32_t value = as_value(left);
      take();
      int32_t list = parse_in_list(value);
      return {add(make(Op::kNot, list)), true, false, pos};
    }
    if (t.kind == Tok::kDotDot || t.kind == Tok::kComma) {
      if (!left.literal) fail(YY_ERR_TOKEN, t.pos);
      std::vector<int32_t> items;
      items.push_back(finish_item(left.node));
      while (peek().kind == Tok::kComma) {
        take();
        items.push_back(parse_item());
      }
      return {in_list(add(make(Op::kSubject)), items), true, false, pos};
    }
    return left;
  }

  int32_t compare(int32_t left, Cmp cmp, int32_t right) {
    Node n = make(Op::kCompare, left, right);
    n.cmp = cmp;
    return add(n);
  }

  // "in" "(" items ")", the current token being "in".
  int32_t parse_in_list(int32_t value) {
    take();
    expect(Tok::kLParen);
    std::vector<int32_t> items{parse_item()};
    while (peek().kind == Tok::kComma) {
      take();
      items.push_back(parse_item());
    }
    expect(Tok::kRParen);
    return in_list(value, items);
  }

  int32_t parse_item() { return finish_item(parse_constant()); }

  // A constant already parsed, optionally followed by ".." and the high end.
  int32_t finish_item(int32_t low) {
    if (peek().kind != Tok::kDotDot) return low;
    take();
    int32_t high = parse_constant();
    return add(make(Op::kRange, low, high));
  }

  int32_t parse_constant() {
    const Token &t = peek();
    switch (t.kind) {
      case Tok::kMinus: case Tok::kInteger: case Tok::kReal: case Tok::kString:
        return parse_primary().node;
      case Tok::kEnd:
        fail(YY_ERR_END, t.pos);
      default:
        fail(YY_ERR_TOKEN, t.pos);
    }
  }

  Parsed parse_sum() {
    Parsed left = parse_product();
    for (;;) {
      Op op;
      switch (peek().kind) {
        case Tok::kPlus: op = Op::kAdd; break;
        case Tok::kMinus: op = Op::kSub; break;
        case Tok::kAmp: op = Op::kConcat; break;
        default: return left;
      }
      take();
      int32_t l = as_value(left);
      int32_t r = as_value(parse_product());
      left = {add(make(op, l, r)), false, false, left.pos};
    }
  }

  Parsed parse_product() {
    Parsed left = parse_primary();
    for (;;) {
      Op op;
      switch (peek().kind) {
        case Tok::kStar: op = Op::kMul; break;
        case Tok::kSlash: op = Op::kDiv; break;
        case Tok::kBackslash: op = Op::kMod; break;
        default: return left;
      }
      take();
      int32_t l = as_value(left);
      int32_t r = as_value(parse_primary());
      left = {add(make(op, l, r)), false, false, left.pos};
    }
  }

  Parsed parse_primary() {
    Token t = take();
    switch (t.kind) {
      case Tok::kName: {
        Node n = make(Op::kName);
        n.str_off = intern(t.text);
        n.str_len = static_cast<uint32_t>(t.text.size());
        return {add(n), false, false, t.pos};
      }
      case Tok::kDollar:
        return {add(make(Op::kSubject)), false, false, t.pos};
      case Tok::kString: {
        Node n = make(Op::kStrConst);
        n.str_off = intern(t.text);
        n.str_len = static_cast<uint32_t>(t.text.size());
        return {add(n), false, true, t.pos};
      }
      case Tok::kInteger:
        return {integer(t.ival), false, true, t.pos};
      case Tok::kReal:
        return {real(t.rval), false, true, t.pos};
      case Tok::kMinus: {
        // A sign belongs to the literal right after it; there is no other
        // unary minus.
        Token lit = take();
        if (lit.kind == Tok::kInteger) return {integer(-lit.ival), false, true, t.pos};
        if (lit.kind == Tok::kReal) return {real(-lit.rval), false, true, t.pos};
        fail(lit.kind == Tok::kEnd ? YY_ERR_END : YY_ERR_TOKEN, lit.pos);
      }
      case Tok::kLParen: {
        if (++paren_depth_ > kMaxParenDepth) fail(YY_ERR_DEPTH, t.pos);
        Parsed inner = parse_or();
        expect(Tok::kRParen);
        --paren_depth_;
        inner.pos = t.pos;
        return inner;
      }
      case Tok::kEnd:
        fail(YY_ERR_END, t.pos);
      default:
        fail(YY_ERR_TOKEN, t.pos);
    }
  }

  int32_t integer(int32_t v) {
    Node n = make(Op::kIntConst);
    n.ival = v;
    return add(n);
  }

  int32_t real(double v) {
    Node n = make(Op::kRealConst);
    n.rval = v;
    return add(n);
  }

  Scanner scanner_;
  std::deque<Token> ahead_;  // lookahead; a deque keeps references stable
  std::vector<Node> nodes_;
  std::vector<int> height_;
  std::vector<int32_t> lists_;
  std::string pool_;
  int32_t root_ = -1;
  int paren_depth_ = 0;
};

}  // namespace
}  // namespace yy

const char *yy_expr_strerror(int err) {
  switch (err) {
    case YY_ERR_TOKEN: return "unexpected token";
    case YY_ERR_END: return "unexpected end of expression";
    case YY_ERR_RANGE: return "numeric literal out of range";
    case YY_ERR_STRING: return "unterminated string literal";
    case YY_ERR_CHAR: return "invalid character";
    case YY_ERR_KIND: return "condition and value mixed up";
    case YY_ERR_DEPTH: return "expression nested too deeply";
    case YY_ERR_MEMORY: return "out of memory";
    case YY_ERR_ARG: return "no expression text";
    default: return "unknown error";
  }
}

YY_EXPR *yy_expr_compile(const char *text, yy_alloc_fn alloc) {
  if (!text) {
    yy_expr_errno = YY_ERR_ARG;
    yy_expr_errpos = 0;
    return nullptr;
  }
  try {
    yy::Parser parser(text);
    parser.parse();
    return parser.build(alloc);
  } catch (const yy::CompileError &e) {
    yy_expr_errno = e.code;
    yy_expr_errpos = e.pos;
  } catch (const std::bad_alloc &) {
    yy_expr_errno = YY_ERR_MEMORY;
    yy_expr_errpos = 0;
  }
  return nullptr;
}

void yy_free_express(YY_EXPR *expr) {
  if (expr && expr->magic == yy::kExprMagic && (expr->flags & yy::kOwnedByLibrary)) {
    expr->magic = 0;
    mal_free(expr);
  }
}
