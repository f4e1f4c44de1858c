// Matcher of the regular-expression engine: a Thompson simulation with a
// lazily built DFA in front of it.
//
// The set of program positions that are alive (threads) advances over the
// subject one TSS character at a time; the epsilon moves (jumps, splits, the
// continuation of a star) are followed when a thread is added, and a position
// is added at most once per character. The work is therefore bounded by the
// subject's characters times the program's positions, whatever the pattern;
// there is no backtracking. Without "^" a fresh thread starts at every
// character.
//
// Since the same program is usually matched against many subjects (LIKE runs
// it per row), each distinct thread set becomes a DFA state whose transitions
// on 1-byte characters are remembered, so that a byte costs one table look-up
// once the DFA is warm. The DFAs of the last few programs are kept, found by
// the program's bytes (the caller may reuse a buffer for another program).
// 4-byte characters take the uncached step; a DFA that reaches its state
// limit hands the rest of the subject to the plain simulation.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/yy_expr.h"
#include "platform/yy_regex.h"

namespace yy::rx {
namespace {

constexpr size_t kMaxDfaStates = 512;  // per program: at most 512 KiB of tables
constexpr size_t kDfaCacheSize = 8;    // programs whose DFAs are kept
constexpr int32_t kUnknown = -1;       // transition not computed yet
constexpr int32_t kFound = -2;         // transition reaches kMatch
constexpr int32_t kFull = -3;          // the DFA has no room for the next state

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

// True when the matcher instruction at ip accepts the character c.
bool accepts(const unsigned char *ip, const Char &c) {
  switch (ip[0]) {
    case kChar1: return !c.four && c.w == ip[1];
    case kChar4:
      return c.four && c.w == (uint32_t{ip[1]} << 24 | uint32_t{ip[2]} << 16 |
                               uint32_t{ip[3]} << 8 | ip[4]);
    case kAny: return true;
    case kClass: {
      uint16_t n = get_u16(ip + 2);
      bool in = false;
      for (uint16_t k = 0; k < n && !in; ++k) {
        const unsigned char *r = ip + 4 + size_t{k} * 8;
        in = get_u32(r) <= c.w && c.w <= get_u32(r + 4);
      }
      return in != (ip[1] != 0);
    }
    default: return false;
  }
}

// The thread-set operations over one program.
class Nfa {
 public:
  Nfa(const unsigned char *prog, uint32_t len, Scratch &s)
      : prog_(prog), len_(len), anchored_((prog[3] & kAnchoredStart) != 0), s_(s) {
    if (s_.mark.size() < len_) s_.mark.resize(len_, 0);
  }

  bool anchored() const { return anchored_; }
  static constexpr uint32_t start() { return kHeaderSize; }

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

  // The threads of `from` that accept c, moved past it, plus (unanchored) a
  // fresh start, into `to`. True when a match is certain.
  bool step(const std::vector<uint32_t> &from, const Char &c, std::vector<uint32_t> &to) {
    next_generation();
    to.clear();
    g_work += from.size();
    for (uint32_t pc : from) {
      const unsigned char *ip = prog_ + pc;
      if (ip[0] == kStar) {
        if (accepts(ip + 1, c) && add(pc, to)) return true;
      } else if (ip[0] != kMatchEnd && accepts(ip, c)) {
        if (add(static_cast<uint32_t>(pc + matcher_size(ip)), to)) return true;
      }
    }
    return !anchored_ && add(start(), to);
  }

  bool ends_here(const std::vector<uint32_t> &list) const {
    for (uint32_t pc : list)
      if (prog_[pc] == kMatchEnd) return true;
    return false;
  }

  // The plain simulation from the threads in s_.clist at subj[pos].
  int run(const unsigned char *subj, size_t n, size_t pos) {
    std::vector<uint32_t> &clist = s_.clist;
    std::vector<uint32_t> &nlist = s_.nlist;
    while (pos < n) {
      if (clist.empty()) return 0;  // anchored, and every thread has died
      Char c = char_at(subj, pos, n);
      if (step(clist, c, nlist)) return 1;
      std::swap(clist, nlist);
      pos += c.len;
    }
    return ends_here(clist);
  }

 private:
  bool fits(uint32_t pc) const {
    return pc < len_ && (prog_[pc] != kClass || pc + 4 <= len_) &&
           pc + matcher_size(prog_ + pc) <= len_;
  }

  const unsigned char *prog_;
  uint32_t len_;
  bool anchored_;
  Scratch &s_;
};

struct DfaState {
  std::vector<uint32_t> threads;  // sorted program positions
  bool ends = false;              // holds kMatchEnd: a match if the subject ends here
};

// The DFA of one program. State 0 is the start.
struct Dfa {
  std::vector<unsigned char> prog;  // the program's bytes, to recognise it
  bool matches_all = false;         // the start already reaches kMatch
  std::vector<DfaState> states;
  // 256 transitions per state, state s at s * 256: the next state's row
  // (its index times 256, so that a step is one load), or kUnknown, kFound
  // or kFull.
  std::vector<int32_t> trans;
  std::unordered_map<std::string, int32_t> index;  // threads' bytes -> state

  // The row (index times 256) of the state of a sorted thread list, made
  // when new; kFull when there is no room for another.
  int32_t intern(const std::vector<uint32_t> &threads, const unsigned char *p) {
    std::string key(reinterpret_cast<const char *>(threads.data()),
                    threads.size() * sizeof(uint32_t));
    if (auto it = index.find(key); it != index.end()) return it->second;
    if (states.size() >= kMaxDfaStates) return kFull;
    DfaState st;
    st.threads = threads;
    for (uint32_t pc : threads) st.ends = st.ends || p[pc] == kMatchEnd;
    states.push_back(std::move(st));
    trans.resize(trans.size() + 256, kUnknown);
    int32_t row = static_cast<int32_t>((states.size() - 1) * 256);
    index.emplace(std::move(key), row);
    return row;
  }
};

struct DfaCache {
  std::array<std::unique_ptr<Dfa>, kDfaCacheSize> slots;
  size_t last = 0;    // the slot found last time, tried first
  size_t victim = 0;  // the slot to replace next
};

DfaCache &dfa_cache() {
  static DfaCache c;
  return c;
}

Dfa &dfa_for(const unsigned char *prog, uint32_t len, Nfa &nfa, Scratch &s) {
  DfaCache &c = dfa_cache();
  auto same = [&](size_t k) {
    const Dfa *d = c.slots[k].get();
    return d && d->prog.size() == len && std::memcmp(d->prog.data(), prog, len) == 0;
  };
  if (same(c.last)) return *c.slots[c.last];
  for (size_t k = 0; k < kDfaCacheSize; ++k) {
    if (same(k)) {
      c.last = k;
      return *c.slots[k];
    }
  }
  auto d = std::make_unique<Dfa>();
  d->prog.assign(prog, prog + len);
  std::vector<uint32_t> &start = s.clist;
  start.clear();
  nfa.next_generation();
  d->matches_all = nfa.add(Nfa::start(), start);
  std::sort(start.begin(), start.end());
  d->intern(start, prog);
  c.last = c.victim;
  c.victim = (c.victim + 1) % kDfaCacheSize;
  c.slots[c.last] = std::move(d);
  return *c.slots[c.last];
}

// Matches subj[0..n), or with terminated the text up to its NUL; its
// length is then found while matching, so that a match decided early (a
// literal prefix that differs, a trailing ".*") never reads the rest.
int run(const unsigned char *subj, size_t n, const unsigned char *prog, bool terminated = false) {
  g_work = 0;
  if (!prog || prog[0] != kMagic0 || prog[1] != kMagic1 || prog[2] != kVersion) return 0;
  uint32_t len = get_u32(prog + 4);
  if (len <= kHeaderSize) return 0;

  Scratch &s = scratch();
  Nfa nfa(prog, len, s);
  Dfa &dfa = dfa_for(prog, len, nfa, s);
  if (dfa.matches_all) return 1;

  // While only the starting thread is alive (state 0 of an unanchored
  // program) and it waits for one byte, skip to that byte; a 4-byte
  // character on the way is stepped normally so as not to land inside it.
  int first = -1;
  if (!nfa.anchored() && prog[Nfa::start()] == kChar1 && prog[Nfa::start() + 1] != kTssLead)
    first = prog[Nfa::start() + 1];

  // Terminated: n is the part of the text known so far, grown in doubling
  // steps; grow() is false at the NUL.
  auto grow = [&]() {
    if (!terminated || subj[n] == 0) return false;
    n += strnlen(reinterpret_cast<const char *>(subj + n), n < 64 ? 64 : n);
    return true;
  };
  if (terminated) {
    n = 0;
    grow();
  }

  int32_t state = 0;
  size_t pos = 0;
  while (pos < n || (pos == n && grow())) {
    if (state == 0 && first >= 0) {
      const void *hit = std::memchr(subj + pos, first, n - pos);
      size_t to = hit ? static_cast<size_t>(static_cast<const unsigned char *>(hit) - subj) : n;
      const void *lead = std::memchr(subj + pos, kTssLead, to - pos);
      pos = lead ? static_cast<size_t>(static_cast<const unsigned char *>(lead) - subj) : to;
      if (pos == n) continue;
    }
    // Known transitions on 1-byte characters, until one is missing or leads
    // back to the skipping state.
    const int32_t *trans = dfa.trans.data();
    const int32_t floor = first >= 0 ? 0 : -1;
    size_t from = pos;
    for (int32_t next; pos < n && (next = trans[state + subj[pos]]) > floor; ++pos) state = next;
    g_work += pos - from;
    if (pos == n) continue;
    while (n < pos + 4 && grow()) {
    }  // a 4-byte character needs its bytes

    const DfaState &st = dfa.states[static_cast<size_t>(state) / 256];
    if (st.threads.empty()) return 0;  // anchored, and every thread has died
    Char c = char_at(subj, pos, n);
    int32_t next = c.four ? kUnknown : dfa.trans[static_cast<size_t>(state) + c.w];
    if (next == kUnknown) {
      if (nfa.step(st.threads, c, s.nlist)) {
        next = kFound;
      } else {
        std::sort(s.nlist.begin(), s.nlist.end());
        next = dfa.intern(s.nlist, prog);  // may move the states
      }
      // A 0x9B byte usually starts a 4-byte character, so the fast loop above
      // must never find a transition for it.
      if (!c.four && c.w != kTssLead && next != kFull)
        dfa.trans[static_cast<size_t>(state) + c.w] = next;
    }
    if (next == kFound) return 1;
    pos += c.len;
    if (next == kFull) {
      std::swap(s.clist, s.nlist);
      while (grow()) {
      }
      return nfa.run(subj, n, pos);
    }
    state = next;
  }
  return dfa.states[static_cast<size_t>(state) / 256].ends;
}

}  // namespace

int step_nfa(const unsigned char *subj, size_t n, const unsigned char *prog) {
  g_work = 0;
  if (!prog || prog[0] != kMagic0 || prog[1] != kMagic1 || prog[2] != kVersion) return 0;
  uint32_t len = get_u32(prog + 4);
  if (len <= kHeaderSize) return 0;
  Scratch &s = scratch();
  Nfa nfa(prog, len, s);
  s.clist.clear();
  nfa.next_generation();
  if (nfa.add(Nfa::start(), s.clist)) return 1;
  return nfa.run(subj, n, 0);
}

}  // namespace yy::rx

int yy_expr_step(const char *subject, const char *program) {
  if (!subject) return 0;
  return yy::rx::run(reinterpret_cast<const unsigned char *>(subject), 0,
                     reinterpret_cast<const unsigned char *>(program), true);
}

int yy_expr_step_n(const char *subject, size_t len, const char *program) {
  if (!subject && len) return 0;
  return yy::rx::run(reinterpret_cast<const unsigned char *>(subject), len,
                     reinterpret_cast<const unsigned char *>(program));
}

uint64_t yy_expr_step_work() { return yy::rx::g_work; }
