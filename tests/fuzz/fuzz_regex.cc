// The regular-expression engine: the input is a pattern, a 0 byte and a
// subject. The pattern is compiled into buffers of two sizes (a program that
// does not fit must be refused, never written past), and the matcher with
// its automaton cache must agree with the plain simulation.
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/yy_expr.h"
#include "platform/yy_regex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view input = molvane::fuzz::AsText(data, size);
  const std::size_t cut = input.find('\0');
  const std::string pattern(input.substr(0, cut));
  const std::string subject(cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1));
  for (std::size_t capacity : {std::size_t{64}, std::size_t{16384}}) {
    std::vector<char> program(capacity);
    char *end = yy_expr_compile_low_level(pattern.c_str(), program.data(),
                                          program.data() + capacity - 1, 0);
    if (end == nullptr) continue;
    const int cached = yy_expr_step_n(subject.data(), subject.size(), program.data());
    const int plain = yy::rx::step_nfa(reinterpret_cast<const unsigned char *>(subject.data()),
                                       subject.size(),
                                       reinterpret_cast<const unsigned char *>(program.data()));
    if ((cached != 0) != (plain != 0)) std::abort();  // the two matchers disagree
    yy_expr_step(subject.c_str(), program.data());
  }
  return 0;
}
