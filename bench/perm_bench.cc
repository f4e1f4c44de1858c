// Permission checks over many DB roles: the cost of walking the level keys
// of every role for one action, as each buffered insert, update and delete
// pays it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "dbc/dd.h"
#include "dbc/perm_roles.h"
#include "platform/user.h"

namespace {

namespace fs = std::filesystem;

// Writes `count` roles, each with lines at several levels for other tables
// and one "*:*:R", under a temporary root, and loads them.
void LoadRoles(int count) {
  static std::string root;
  if (!root.empty()) fs::remove_all(root);
  root = (fs::temp_directory_path() / ("perm_bench" + std::to_string(::getpid()))).string();
  std::string list;
  for (int i = 0; i < count; ++i) {
    std::string name = "r" + std::to_string(i);
    fs::create_directories(root + "/lib/roles/db/r");
    std::ofstream out(root + "/lib/roles/db/r/" + name);
    out << name << "\n";
    for (int t = 0; t < 20; ++t) out << "tcx" << t % 10 << t / 10 << "001:" << (t % 2 ? "*" : "100") << ":M\n";
    out << "tcxyz:*:R\n*:*:R\n";
    list += (i ? ":" : "") + name;
  }
  setenv("ZUV", root.c_str(), 1);
  setenv("ZUV_LOG", fs::temp_directory_path().c_str(), 1);
  user_info.user_type = 'N';
  std::strncpy(user_info.db_roles, list.c_str(), USER_ROLES_LEN);
  zdb_unload_roles();
  zdb_load_roles();
}

void BM_ActionRefusedOverAllRoles(benchmark::State &state) {
  LoadRoles(static_cast<int>(state.range(0)));
  DD_TABLE table{};
  std::strcpy(table.name, "tcabc001");
  for (auto _ : state) benchmark::DoNotOptimize(perm_action_allowed(&table, 200, 100, 102, nullptr));
}
BENCHMARK(BM_ActionRefusedOverAllRoles)->Arg(1)->Arg(10)->Arg(100);

void BM_TablePermission(benchmark::State &state) {
  LoadRoles(static_cast<int>(state.range(0)));
  DD_TABLE table{};
  std::strcpy(table.name, "tcx00001");
  for (auto _ : state) benchmark::DoNotOptimize(perm_table_permission(&table, 100, 100, nullptr));
}
BENCHMARK(BM_TablePermission)->Arg(1)->Arg(10)->Arg(100);

}  // namespace
