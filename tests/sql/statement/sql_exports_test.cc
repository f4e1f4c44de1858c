// The classic SQL API is exported from the shared library under its C names.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

std::set<std::string> ExportedNames() {
  std::string command = std::string("nm -D --defined-only ") + MOLVANE_BINARY_DIR +
                        "/src/libmolvane.so 2>/dev/null";
  std::set<std::string> names;
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    char type = 0;
    char name[400] = {};
    if (std::sscanf(line, "%*s %c %399s", &type, name) == 2 && type == 'T') names.insert(name);
  }
  pclose(pipe);
  return names;
}

TEST(SqlExports, EveryFunctionOfTheApiIsExported) {
  std::set<std::string> names = ExportedNames();
  if (names.empty()) GTEST_SKIP() << "nm cannot read the shared library";
  for (char const *name :
       {"sql_parse", "sql_bind_input", "sql_wh_bind", "sql_sel_bind", "sql_exec", "sql_fetch",
        "sql_row_count", "sql_break", "sql_close", "sql_get_error", "sql_action", "sql_action_type",
        "sql_query_with_rpoint", "sql_save_rpoint", "sql_retry", "sql_set_rds_full",
        "sql_set_timeout", "sql_init_func", "init_qpc_debug"}) {
    EXPECT_EQ(names.count(name), 1U) << name;
  }
  // The functions for code linked with the library stay inside it.
  EXPECT_EQ(names.count("sql_skip_rows"), 0U);
  EXPECT_EQ(names.count("SQLOnCloseSession"), 0U);
}

}  // namespace
