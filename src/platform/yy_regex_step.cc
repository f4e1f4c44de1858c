// Matcher of the regular-expression engine: a Thompson simulation.
//
// The set of program positions that are alive (threads) advances over the
// subject one TSS character at a time; the epsilon moves (jumps, splits, the
// continuation of a star) are followed when a thread is added, and a position
// is added at most once per character. The work is therefore bounded by the
// subject's characters times the program's positions, whatever the pattern;
// there is no backtracking. Without "^" a fresh thread starts at every
// character, and while no other thread is alive the matcher skips ahead to
// the next character that can begin a match.
#include <cstring>
#include <vector>

#include "platform/yy_expr.h"
#include "platform/yy_regex.h"

namespace yy::rx {
namespace {

uint64_t g_work = 0;

// Scratch space reused between matches (the library runs on one thread).
struct Scratch {
  std::vector<uint32_t> mark;  // per program position: generation that added it
  uint32_t gen = 0;
  std::vector<uint32_t> clist, nlist, stack;
};

Scratch &scratch() {
  static Scratch s;
  return s;
}

class Matcher {
 public:
  Matcher(const unsigned char *prog, uint32_t len, Scratch &s) : prog_(prog), len_(len), s_(s) {
    if (s_.mark.size() < len_) s_.mark.resize(len_, 0);
  }

  // Starts a new thread list: a new generation of marks.
  void next_generation() {
    if (++s_.gen == 0) {
      std::fill(s_.mark.begin(), s_.mark.end(), 0);
      s_.gen = 1;
    }
  }

  // Adds the thread at pc and everything reachable from it without reading
  // a character. True when that reaches kMatch.
  bool add(uint32_t pc, std::vector<uint32_t> &list) {
    std::vector<uint32_t> &stack = s_.stack;
    stack.clear();
    stack.push_back(pc);
    while (!stack.empty()) {
      pc = stack.back();
      stack.pop_back();
      if (pc >= len_ || s_.mark[pc] == s_.gen) continue;
      s_.mark[pc] = s_.gen;
      const unsigned char *ip = prog_ + pc;
      switch (ip[0]) {
        case kJmp:
          if (pc + 5 <= len_) stack.push_back(get_u32(ip + 1));
          break;
        case kSplit:
          if (pc + 9 <= len_) {
            stack.push_back(get_u32(ip + 5));
            stack.push_back(get_u32(ip + 1));
          }
          break;
        case kMatch:
          return true;
        case kMatchEnd:
          list.push_back(pc);
          break;
        case kStar:
          if (fits(pc + 1)) {
            list.push_back(pc);
            stack.push_back(static_cast<uint32_t>(pc + 1 + matcher_size(ip + 1)));
          }
          break;
        case kChar1: case kChar4: case kAny: case kClass:
          if (fits(pc)) list.push_back(pc);
          break;
        default:
          break;  // not an instruction: the thread dies
      }
    }
    return false;
  }

  // True when the matcher instruction at ip accepts the character w.
  static bool accepts(const unsigned char *ip, uint32_t w, bool four) {
    switch (ip[0]) {
      case kChar1: return !four && w == ip[1];
      case kChar4:
        return four && w == (uint32_t{ip[1]} << 24 | uint32_t{ip[2]} << 16 |
                             uint32_t{ip[3]} << 8 | ip[4]);
      case kAny: return true;
      case kClass: {
        uint16_t n = get_u16(ip + 2);
        bool in = false;
        for (uint16_t k = 0; k < n && !in; ++k) {
          const unsigned char *r = ip + 4 + size_t{k} * 8;
          in = get_u32(r) <= w && w <= get_u32(r + 4);
        }
        return in != (ip[1] != 0);
      }
      default: return false;
    }
  }

 private:
  bool fits(uint32_t pc) const {
    return pc < len_ && (prog_[pc] != kClass || pc + 4 <= len_) &&
           pc + matcher_size(prog_ + pc) <= len_;
  }

  const unsigned char *prog_;
  uint32_t len_;
  Scratch &s_;
};

// The character at s[pos]: its value, whether it is a 4-byte TSS character,
// and its byte length. A 0x9B without three non-NUL bytes after it is a
// 1-byte character.
struct Char {
  uint32_t w;
  bool four;
  size_t len;
};

Char char_at(const unsigned char *s, size_t pos, size_t n) {
  unsigned char c = s[pos];
  if (c == kTssLead && pos + 3 < n && s[pos + 1] && s[pos + 2] && s[pos + 3])
    return {uint32_t{c} << 24 | uint32_t{s[pos + 1]} << 16 | uint32_t{s[pos + 2]} << 8 |
                s[pos + 3],
            true, 4};
  return {c, false, 1};
}

int run(const unsigned char *subj, size_t n, const unsigned char *prog) {
  g_work = 0;
  if (!prog || prog[0] != kMagic0 || prog[1] != kMagic1 || prog[2] != kVersion) return 0;
  uint32_t len = get_u32(prog + 4);
  if (len <= kHeaderSize) return 0;
  bool anchored = (prog[3] & kAnchoredStart) != 0;
  const uint32_t start = kHeaderSize;

  Scratch &s = scratch();
  Matcher m(prog, len, s);
  std::vector<uint32_t> &clist = s.clist;
  std::vector<uint32_t> &nlist = s.nlist;
  clist.clear();
  m.next_generation();
  if (m.add(start, clist)) return 1;

  // A byte that every match must begin with, for skipping ahead while only
  // the starting thread is alive.
  int first = -1;
  if (!anchored && prog[start] == kChar1 && prog[start + 1] != kTssLead) first = prog[start + 1];

  bool idle = true;  // no thread but the starting one is alive
  size_t pos = 0;
  while (pos < n) {
    if (clist.empty()) return 0;  // anchored, and every thread has died
    if (idle && first >= 0) {
      while (pos < n && subj[pos] != first) pos += char_at(subj, pos, n).len;
      if (pos == n) break;
    }
    Char c = char_at(subj, pos, n);
    m.next_generation();
    nlist.clear();
    g_work += clist.size();
    for (uint32_t pc : clist) {
      const unsigned char *ip = prog + pc;
      if (ip[0] == kStar) {
        if (Matcher::accepts(ip + 1, c.w, c.four) && m.add(pc, nlist)) return 1;
      } else if (ip[0] != kMatchEnd && Matcher::accepts(ip, c.w, c.four)) {
        if (m.add(static_cast<uint32_t>(pc + matcher_size(ip)), nlist)) return 1;
      }
    }
    idle = nlist.empty();
    if (!anchored && m.add(start, nlist)) return 1;
    std::swap(clist, nlist);
    pos += c.len;
  }
  for (uint32_t pc : clist)
    if (prog[pc] == kMatchEnd) return 1;
  return 0;
}

}  // namespace
}  // namespace yy::rx

int yy_expr_step(const char *subject, const char *program) {
  if (!subject) return 0;
  return yy::rx::run(reinterpret_cast<const unsigned char *>(subject), std::strlen(subject),
                     reinterpret_cast<const unsigned char *>(program));
}

int yy_expr_step_n(const char *subject, size_t len, const char *program) {
  if (!subject && len) return 0;
  return yy::rx::run(reinterpret_cast<const unsigned char *>(subject), len,
                     reinterpret_cast<const unsigned char *>(program));
}

uint64_t yy_expr_step_work() { return yy::rx::g_work; }
