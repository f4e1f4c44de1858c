#include "support/sql_host.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <molvane/sql.h>

namespace molvane::test {

namespace {

int OnError(int, char *text) {
  TheSqlHost().lastError = text;
  return 0;
}

char *OnCreate(char *name, unsigned char *kind, char **record, int *const, unsigned long) {
  if (*kind == 2) *record = name;
  TheSqlHost().variables.emplace_back(name);
  return TheSqlHost().variables.back().data();
}

int OnGet(char *, SqlVal *, unsigned char *, int *) { return 1; }

// Integers, dates and times as numbers, strings without trailing blanks,
// other fields as their length.
void OnPut(char *, unsigned char *data, unsigned char type, int length, int *) {
  if (type == 0) return;
  std::string text;
  if (type == SQL_TYPE_INTEGER || type == SQL_TYPE_DATE || type == SQL_TYPE_TIMESTAMP) {
    std::uint32_t v = (std::uint32_t{data[0]} << 24) | (std::uint32_t{data[1]} << 16) |
                      (std::uint32_t{data[2]} << 8) | data[3];
    text = std::to_string(static_cast<std::int32_t>(v));
  } else if (type == SQL_TYPE_STRING) {
    text.assign(reinterpret_cast<char *>(data), static_cast<std::size_t>(length));
    text.erase(text.find_last_not_of(' ') + 1);
  } else {
    text = "<" + std::to_string(length) + ">";
  }
  std::string &row = TheSqlHost().row;
  if (!row.empty()) row += "|";
  row += text;
}

}  // namespace

SqlHost &TheSqlHost() {
  static SqlHost host;
  return host;
}

void InstallSqlHost() {
  sql_init_func(SQL_FUNC_ERROR, reinterpret_cast<sql_func>(OnError));
  sql_init_func(SQL_FUNC_CRT_EXTVAR, reinterpret_cast<sql_func>(OnCreate));
  sql_init_func(SQL_FUNC_GET_EXTVAR, reinterpret_cast<sql_func>(OnGet));
  sql_init_func(SQL_FUNC_PUT_EXTVAR, reinterpret_cast<sql_func>(OnPut));
}

std::string RunHostScript(const std::string &zuv, const std::string &script) {
  const std::string file = zuv + "/host.script";
  std::ofstream(file) << script;
  const std::string cmd = std::string(MOLVANE_BINARY_DIR) + "/tools/molvane-host --zuv " + zuv +
                          " --script " + file + " 2>&1";
  std::FILE *p = popen(cmd.c_str(), "r");
  if (p == nullptr) return "cannot run molvane-host";
  std::string out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
  return pclose(p) == 0 ? "" : out + "(molvane-host failed)";
}

int RunInChild(const std::function<int()> &body, int limit_ms) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int code = body();
    std::fflush(nullptr);
    std::exit(code);
  }
  for (int waited_ms = 0; waited_ms < limit_ms; waited_ms += 20) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : kChildSignalled;
    usleep(20000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return kChildHung;
}

}  // namespace molvane::test
