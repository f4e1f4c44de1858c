// DB role files: the input holds up to four role files separated by 0 bytes,
// written as the roles "clerk", "base", "audit" and "shared" (so that the
// first may include the others, and they each other), then the user's role
// list "clerk" is loaded over the fixture dictionary and unloaded again.
#include <cstdlib>
#include <cstring>
#include <string>

#include "dbc/dict/dd.h"
#include "dbc/perm/perm_roles.h"
#include "fuzz_support.h"
#include "platform/user.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const bool ready = [] {
    const std::string &root = molvane::fuzz::ScratchRoot();
    molvane::fuzz::CopyFixture("roles/dict", "dict");
    setenv("F_ZRDD", (root + "/dict").c_str(), 1);
    init_local_dd();
    user_info.user_type = 'N';
    std::strncpy(user_info.db_roles, "clerk", USER_ROLES_LEN);
    return true;
  }();
  (void)ready;
  static const char *const kNames[] = {"clerk", "base", "audit", "shared"};
  std::string_view rest = molvane::fuzz::AsText(data, size);
  for (const char *name : kNames) {
    const std::size_t cut = rest.find('\0');
    const std::string file = std::string("lib/roles/db/") + name[0] + "/" + name;
    molvane::fuzz::WriteScratchFile(file, rest.substr(0, cut));
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
  }
  zdb_load_roles();
  zdb_unload_roles();
  return 0;
}
