// The SQL grammar: the input is a statement text, parsed in the classic and
// the ANSI mode. A text the grammar refuses raises the syntax exception; a
// tree it builds is freed again, and nothing of a failed parse survives.
#include <cstdlib>
#include <memory>
#include <string>

#include "dbc/dict/dd.h"
#include "fuzz_support.h"
#include "sql/common/sql_exception.h"
#include "sql/front/parse_mode.h"
#include "sql/front/sql_parse.h"
#include "sql/validate/vt_node.h"
#include "sql/validate/vtree_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const bool ready = [] {
    const std::string &root = molvane::fuzz::ScratchRoot();
    molvane::fuzz::CopyFixture("zuv/dict", "dict");
    setenv("F_ZRDD", (root + "/dict").c_str(), 1);
    init_local_dd();
    return true;
  }();
  (void)ready;
  if (size > 16384) return 0;
  const std::string text(molvane::fuzz::AsText(data, size));  // stops at a NUL inside
  for (int mode : {0, parsemode::kAnsi, parsemode::kAnsi | parsemode::kFromOptional}) {
    SQLVTreeData tree_data;
    try {
      std::unique_ptr<SQLVTNode> tree(SQLParse(text.c_str(), mode, &tree_data));
    } catch (SQLException const &) {
    }
  }
  return 0;
}
