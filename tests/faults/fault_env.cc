#include "fault_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <molvane/platform.h>
#include <molvane/sql.h>

#include "dbc/session/zdb_attach.h"
#include "support/sql_host.h"

namespace molvane::test {

namespace {

void IgnoreDeath(STREAM *) {}

char *OneVariable(char *, unsigned char *kind, char **record, int *const, unsigned long) {
  static char variable[] = "v";
  if (*kind == 2) *record = variable;
  return variable;
}

void DropValue(char *, unsigned char *, unsigned char, int, int *) {}

}  // namespace

void UseDriverEnvironment(const ScratchDir &root) {
  std::filesystem::copy(FixturePath("zuv"), root.path(), std::filesystem::copy_options::recursive);
  root.WriteFile("lib/tabledef1", "*::msqlite\n");
  root.WriteFile("lib/ipc_info", "msqlite child " + std::string(MOLVANE_BINARY_DIR) +
                                     "/driver/molvane-driver ${ZUV}/main.db\n");
  setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
  setenv("F_ZRDD", (root.path() + "/dict").c_str(), 1);
  set_zuv(root.path().c_str());
  zdb_set_server_death_handler(IgnoreDeath);
}

std::string InsertStaff(const ScratchDir &root, bool third_department) {
  return RunHostScript(root.path(),
                       std::string("logon seed\nstart seed\n"
                                   "table create exdep010 1\ntable create exemp010 1\n"
                                   "insert exdep010 1 code=A name=Alpha budget=10\n"
                                   "insert exdep010 1 code=B name=Beta budget=20\n") +
                           (third_department ? "insert exdep010 1 code=C name=Gamma budget=30\n" : "") +
                           "insert exemp010 1 emp=1 name=Ann dept=A dcas=A drst=A salary=100\n"
                           "insert exemp010 1 emp=2 name=Bob dept=B dcas=B drst=B salary=200\n"
                           "insert exemp010 1 emp=3 name=Cid dept=B dcas=B drst=B salary=300\n"
                           "insert exemp010 1 emp=4 name=Dan dept=A dcas=A drst=A salary=400\n"
                           "commit\nlogoff\n");
}

void InstallQuietHostCallbacks() {
  sql_init_func(SQL_FUNC_CRT_EXTVAR, reinterpret_cast<sql_func>(OneVariable));
  sql_init_func(SQL_FUNC_PUT_EXTVAR, reinterpret_cast<sql_func>(DropValue));
}

}  // namespace molvane::test
