// Permission checks over many DB roles, as each buffered insert, update and
// delete pays them. The anchor walks the same lines by hand: per role, the
// table's level keys (made once, outside the loop) looked up in the role's
// table until the first level that names the table. `ratio` is the check's
// time over the anchor's; once a table's rights are compiled the check no
// longer depends on the number of roles.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "dbc/dict/dd.h"
#include "dbc/perm/perm_roles.h"
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
    std::string name = "r";
    name += std::to_string(i);
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

// The value the roles give the table in one company, walked by hand.
int HandWalk(std::vector<std::string> const &keys) {
  int best = 0;
  RPL_WALK walk;
  for (roleT *role = rpl_get_role(ROLE_TYPE_DB, 1, &walk); role != nullptr;
       role = rpl_get_role(ROLE_TYPE_DB, 2, &walk)) {
    int value = PERM_NONE;
    for (std::string const &key : keys) {
      if (void **head = rpl_get_perm_from_role(role, key.c_str())) {
        value = static_cast<DB_PERM *>(*head)->value;
        break;
      }
    }
    best = std::max(best, value);
  }
  return best;
}

std::vector<std::string> LevelKeys(char const *table, int compnr) {
  std::vector<std::string> keys;
  char key[64];
  for (int level = PERM_FIRST_TABLE_LEVEL; level <= PERM_LAST_TABLE_LEVEL; ++level)
    if (perm_level_key(key, sizeof key, table, compnr, level)) keys.emplace_back(key);
  return keys;
}

// Times `own` and the hand walk of the same table over the same roles.
template <typename Check>
void Compare(benchmark::State &state, char const *name, int compnr, Check own) {
  LoadRoles(static_cast<int>(state.range(0)));
  DD_TABLE table{};
  std::strcpy(table.name, name);
  std::vector<std::string> keys = LevelKeys(name, compnr);
  constexpr int kBatch = 256;
  double ownTime = 0, anchorTime = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(own(&table));
    auto middle = std::chrono::steady_clock::now();
    for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(HandWalk(keys));
    auto end = std::chrono::steady_clock::now();
    ownTime += std::chrono::duration<double>(middle - start).count();
    anchorTime += std::chrono::duration<double>(end - middle).count();
  }
  double calls = static_cast<double>(state.iterations()) * kBatch;
  state.counters["own_ns"] = 1e9 * ownTime / calls;
  state.counters["anchor_ns"] = 1e9 * anchorTime / calls;
  state.counters["ratio"] = ownTime / anchorTime;
}

void BM_ActionRefusedOverAllRoles(benchmark::State &state) {
  Compare(state, "tcabc001", 100,
          [](DD_TABLE const *t) { return perm_action_allowed(t, 100, 100, 102, nullptr); });
}
BENCHMARK(BM_ActionRefusedOverAllRoles)->Arg(1)->Arg(10)->Arg(100);

void BM_TablePermission(benchmark::State &state) {
  Compare(state, "tcx00001", 100, [](DD_TABLE const *t) { return perm_table_permission(t, 100, 100, nullptr); });
}
BENCHMARK(BM_TablePermission)->Arg(1)->Arg(10)->Arg(100);

}  // namespace
