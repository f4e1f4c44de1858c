// Compiler of the regular-expression engine (docs/like-patterns.md).
//
// The pattern is parsed into a small tree (characters, any, sets, sequences,
// star, counted repeats), simplified where LIKE patterns make it cheap to do
// so (".*" runs collapse; a leading "^.*" or trailing ".*$" drops its anchor
// and loop), and then emitted as the instructions of yy_regex.h into a
// vector bounded by the caller's buffer, which is written only when the whole
// program fits.
#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "platform/yy_expr.h"
#include "platform/yy_regex.h"

namespace yy::rx {
namespace {

constexpr int kMaxGroupDepth = 200;
constexpr int kMaxNodeDepth = 400;  // groups and postfixes together; bounds the emitter's recursion
constexpr int kMaxCount = 255;

struct Invalid {};  // the expression is malformed
struct TooBig {};   // the program does not fit the buffer

struct RNode {
  enum Kind { kChar, kAny, kClass, kSeq, kStar, kRepeat };
  explicit RNode(Kind k) : kind(k) {}

  Kind kind;
  uint32_t ch = 0;                                    // kChar: character value
  bool four = false;                                  // kChar: 4-byte character
  bool negate = false;                                // kClass
  std::vector<std::pair<uint32_t, uint32_t>> ranges;  // kClass: inclusive ranges
  std::vector<int> kids;                              // kSeq
  int child = -1;                                     // kStar, kRepeat
  int min = 0;                                        // kRepeat
  int max = 0;                                        // kRepeat; -1 unbounded
  bool empty = false;                                 // matches only the empty text
  int depth = 1;                                      // nesting: 1 + the deepest child's
};

class Parser {
 public:
  Parser(const unsigned char *text, int end_char)
      : p_(text), end_(static_cast<unsigned char>(end_char)) {}

  void parse() {
    if (!at_end(0) && p_[0] == '^') {
      anchored_start_ = true;
      pos_ = 1;
    }
    root_ = parse_seq(0);
    if (!at_end(pos_)) throw Invalid{};  // a ")" that was never opened
    simplify();
  }

  const std::vector<RNode> &nodes() const { return nodes_; }
  int root() const { return root_; }
  bool anchored_start() const { return anchored_start_; }
  bool anchored_end() const { return anchored_end_; }

 private:
  // True at the end character; a NUL before a non-NUL end character is an
  // unterminated expression.
  bool at_end(size_t at) const {
    if (p_[at] == end_) return true;
    if (p_[at] == 0) throw Invalid{};
    return false;
  }

  int add(RNode n) {
    for (int k : n.kids) n.depth = std::max(n.depth, nodes_[k].depth + 1);
    if (n.child >= 0) n.depth = std::max(n.depth, nodes_[n.child].depth + 1);
    if (n.depth > kMaxNodeDepth) throw Invalid{};
    nodes_.push_back(std::move(n));
    return static_cast<int>(nodes_.size() - 1);
  }

  // One character at pos_ (a 4-byte TSS character whole), pos_ moved past it.
  // As in subjects, a 0x9B without three non-NUL bytes after it is a 1-byte
  // character.
  std::pair<uint32_t, bool> read_char() {
    unsigned char c = p_[pos_];
    if (c != kTssLead || !p_[pos_ + 1] || !p_[pos_ + 2] || !p_[pos_ + 3]) {
      ++pos_;
      return {c, false};
    }
    uint32_t w = uint32_t{c} << 24 | uint32_t{p_[pos_ + 1]} << 16 |
                 uint32_t{p_[pos_ + 2]} << 8 | p_[pos_ + 3];
    pos_ += 4;
    return {w, true};
  }

  int literal() {
    RNode n{RNode::kChar};
    auto [w, four] = read_char();
    n.ch = w;
    n.four = four;
    return add(std::move(n));
  }

  int parse_seq(int depth) {
    std::vector<int> kids;
    while (!at_end(pos_)) {
      unsigned char c = p_[pos_];
      if (c == ')') {
        if (depth == 0) throw Invalid{};
        break;
      }
      if (c == '$' && depth == 0 && at_end(pos_ + 1)) {
        anchored_end_ = true;
        ++pos_;
        break;
      }
      if ((c == '*' || c == '{') && !kids.empty()) {
        kids.back() = postfix(kids.back());
        continue;
      }
      kids.push_back(atom(depth));
    }
    // Parts that match only the empty text emit nothing; dropping them keeps
    // every emitted node at one byte or more, which bounds the emitter's work
    // by the buffer even under nested counts such as "((){255}){255}".
    RNode seq{RNode::kSeq};
    for (int k : kids)
      if (!nodes_[k].empty) seq.kids.push_back(k);
    seq.empty = seq.kids.empty();
    return add(std::move(seq));
  }

  int postfix(int atom) {
    if (p_[pos_] == '*') {
      ++pos_;
      // a** is a*, and any repetition of nothing is nothing
      if (nodes_[atom].kind == RNode::kStar || nodes_[atom].empty) return atom;
      RNode star{RNode::kStar};
      star.child = atom;
      return add(std::move(star));
    }
    ++pos_;  // '{'
    RNode rep{RNode::kRepeat};
    rep.child = atom;
    rep.min = count();
    rep.max = rep.min;
    if (p_[pos_] == ',') {
      ++pos_;
      rep.max = (p_[pos_] >= '0' && p_[pos_] <= '9') ? count() : -1;
    }
    if (p_[pos_] != '}') throw Invalid{};
    ++pos_;
    if (rep.max != -1 && rep.max < rep.min) throw Invalid{};
    rep.empty = nodes_[atom].empty || rep.max == 0;
    return add(std::move(rep));
  }

  int count() {
    if (p_[pos_] < '0' || p_[pos_] > '9') throw Invalid{};
    int v = 0;
    while (p_[pos_] >= '0' && p_[pos_] <= '9') {
      v = v * 10 + (p_[pos_] - '0');
      if (v > kMaxCount) throw Invalid{};
      ++pos_;
    }
    return v;
  }

  int atom(int depth) {
    unsigned char c = p_[pos_];
    switch (c) {
      case '(': {
        if (depth + 1 > kMaxGroupDepth) throw Invalid{};
        ++pos_;
        int inner = parse_seq(depth + 1);
        if (p_[pos_] != ')') throw Invalid{};
        ++pos_;
        return inner;
      }
      case '.':
        ++pos_;
        return add(RNode{RNode::kAny});
      case '[':
        return bracket();
      case '\\':
        ++pos_;
        if (p_[pos_] == 0) throw Invalid{};  // nothing left to escape
        return literal();
      default:
        return literal();
    }
  }

  uint32_t class_char() {
    if (at_end(pos_)) throw Invalid{};
    if (p_[pos_] == '\\') {
      ++pos_;
      if (p_[pos_] == 0) throw Invalid{};
    }
    return read_char().first;
  }

  int bracket() {
    ++pos_;  // '['
    RNode n{RNode::kClass};
    if (p_[pos_] == '^') {
      n.negate = true;
      ++pos_;
    }
    bool first = true;
    for (;;) {
      if (at_end(pos_)) throw Invalid{};
      if (p_[pos_] == ']' && !first) {
        ++pos_;
        break;
      }
      first = false;
      uint32_t lo = class_char();
      uint32_t hi = lo;
      if (p_[pos_] == '-' && p_[pos_ + 1] != ']' && !at_end(pos_ + 1)) {
        ++pos_;
        hi = class_char();
        if (hi < lo) throw Invalid{};
      }
      n.ranges.emplace_back(lo, hi);
      if (n.ranges.size() > 0xFFFF) throw TooBig{};
    }
    return add(std::move(n));
  }

  bool is_any_star(int idx) const {
    const RNode &n = nodes_[idx];
    return n.kind == RNode::kStar && nodes_[n.child].kind == RNode::kAny;
  }

  // ".*.*" is ".*"; "^.*x" is an unanchored "x"; "x.*$" matches whenever
  // "x" does, so the match can be reported without reading the rest.
  void simplify() {
    std::vector<int> &kids = nodes_[root_].kids;
    std::vector<int> kept;
    for (int k : kids)
      if (!(is_any_star(k) && !kept.empty() && is_any_star(kept.back()))) kept.push_back(k);
    kids = std::move(kept);
    if (anchored_end_ && !kids.empty() && is_any_star(kids.back())) {
      kids.pop_back();
      anchored_end_ = false;
    }
    if (anchored_start_ && !kids.empty() && is_any_star(kids.front())) {
      kids.erase(kids.begin());
      anchored_start_ = false;
    }
  }

  const unsigned char *p_;
  unsigned char end_;
  size_t pos_ = 0;
  std::vector<RNode> nodes_;
  int root_ = -1;
  bool anchored_start_ = false;
  bool anchored_end_ = false;
};

class Emitter {
 public:
  Emitter(const std::vector<RNode> &nodes, size_t limit) : nodes_(nodes), limit_(limit) {}

  std::vector<unsigned char> emit(int root, bool anchored_start, bool anchored_end) {
    byte(kMagic0);
    byte(kMagic1);
    byte(kVersion);
    byte(anchored_start ? kAnchoredStart : 0);
    u32(0);  // length, patched below
    node(root);
    byte(anchored_end ? kMatchEnd : kMatch);
    patch(4, static_cast<uint32_t>(out_.size()));
    return std::move(out_);
  }

 private:
  void byte(unsigned char b) {
    if (out_.size() >= limit_) throw TooBig{};
    out_.push_back(b);
  }
  void u32(uint32_t v) {
    for (int k = 0; k < 4; ++k) byte(static_cast<unsigned char>(v >> (8 * k)));
  }
  void patch(size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) out_[at + k] = static_cast<unsigned char>(v >> (8 * k));
  }
  uint32_t here() const { return static_cast<uint32_t>(out_.size()); }

  static bool single(const RNode &n) {
    return n.kind == RNode::kChar || n.kind == RNode::kAny || n.kind == RNode::kClass;
  }

  void matcher(const RNode &n) {
    switch (n.kind) {
      case RNode::kChar:
        if (n.four) {
          byte(kChar4);
          for (int k = 3; k >= 0; --k) byte(static_cast<unsigned char>(n.ch >> (8 * k)));
        } else {
          byte(kChar1);
          byte(static_cast<unsigned char>(n.ch));
        }
        break;
      case RNode::kAny:
        byte(kAny);
        break;
      default:  // kClass
        byte(kClass);
        byte(n.negate ? 1 : 0);
        byte(static_cast<unsigned char>(n.ranges.size()));
        byte(static_cast<unsigned char>(n.ranges.size() >> 8));
        for (auto [lo, hi] : n.ranges) {
          u32(lo);
          u32(hi);
        }
        break;
    }
  }

  void star(int child) {
    const RNode &c = nodes_[child];
    if (single(c)) {
      byte(kStar);
      matcher(c);
      return;
    }
    // L1: split L2, L3; L2: child; jmp L1; L3:
    uint32_t l1 = here();
    byte(kSplit);
    u32(l1 + 9);
    u32(0);
    node(child);
    byte(kJmp);
    u32(l1);
    patch(l1 + 5, here());
  }

  void node(int idx) {
    const RNode &n = nodes_[idx];
    switch (n.kind) {
      case RNode::kSeq:
        for (int k : n.kids) node(k);
        break;
      case RNode::kStar:
        star(n.child);
        break;
      case RNode::kRepeat: {
        for (int k = 0; k < n.min; ++k) node(n.child);
        if (n.max == -1) {
          star(n.child);
          break;
        }
        // Each optional copy may be skipped, and skipping one skips the rest.
        std::vector<uint32_t> splits;
        for (int k = n.min; k < n.max; ++k) {
          splits.push_back(here());
          byte(kSplit);
          u32(here() + 8);
          u32(0);
          node(n.child);
        }
        for (uint32_t at : splits) patch(at + 5, here());
        break;
      }
      default:
        matcher(n);
        break;
    }
  }

  const std::vector<RNode> &nodes_;
  size_t limit_;
  std::vector<unsigned char> out_;
};

}  // namespace
}  // namespace yy::rx

char *yy_expr_compile_low_level(const char *text, char *buf, const char *buf_last,
                                int end_char) {
  if (!text || !buf || !buf_last || buf_last < buf) return nullptr;
  size_t room = static_cast<size_t>(buf_last - buf) + 1;
  try {
    yy::rx::Parser parser(reinterpret_cast<const unsigned char *>(text), end_char);
    parser.parse();
    yy::rx::Emitter emitter(parser.nodes(), room);
    std::vector<unsigned char> prog =
        emitter.emit(parser.root(), parser.anchored_start(), parser.anchored_end());
    std::memcpy(buf, prog.data(), prog.size());
    return buf + prog.size();
  } catch (const yy::rx::Invalid &) {
  } catch (const yy::rx::TooBig &) {
  } catch (const std::bad_alloc &) {
  }
  return nullptr;
}
