// Range expressions: compile any text, then evaluate the compiled block for
// values of every kind with names that resolve to values of every kind.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "platform/yy_expr.h"

namespace {

// Names resolve by their first letter: i integer, r real, s string, else none.
void GetId(const char *name, YY_VALUE *cell) {
  switch (name[0]) {
    case 'i':
      cell->kind = YY_INTEGER;
      cell->ival = static_cast<int32_t>(std::strlen(name)) - 3;
      break;
    case 'r':
      cell->kind = YY_REAL;
      cell->rval = 0.5;
      break;
    case 's':
      cell->kind = YY_STRING;
      cell->sval = name;
      cell->slen = std::strlen(name);
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const bool ready = [] {
    molvane::fuzz::ScratchRoot();
    yy_set_setid_getid(nullptr, GetId);
    return true;
  }();
  (void)ready;
  const std::string text(molvane::fuzz::AsText(data, size));  // stops at a NUL inside
  yy_expr_errno = 0;
  YY_EXPR *expr = yy_expr_compile(text.c_str(), nullptr);
  if (expr == nullptr) return 0;
  const int32_t ints[] = {0, 1, -1, 2147483647, -2147483647 - 1, 100};
  for (int32_t v : ints) yy_b_express(expr, YY_INTEGER, &v);
  const double reals[] = {0.0, -1.5, 1e308, 3.0};
  for (double v : reals) yy_b_express(expr, YY_REAL, &v);
  for (const char *v : {"", "abc", "zz", "\x9B\xBC\x81\xAA", "100"})
    yy_b_express(expr, YY_STRING, v);
  yy_b_express(expr, YY_NONE, nullptr);
  yy_free_express(expr);
  return 0;
}
