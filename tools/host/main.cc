// molvane-host: a small command-line host of the molvane library.
//   molvane-host [--zuv DIR] [--version] [--script FILE | -]
// --zuv sets the environment root; the host installs a log hook that echoes
// every log message to standard error, as a real host would show them.
// --script runs the commands of a file ("-": standard input); the command
// language is described in host_commands.h.
#include <cstdio>
#include <cstring>

#include <molvane/platform.h>
#include <molvane/version.h>

#include "host_commands.h"

namespace {

void EchoLog(char level, const char *keyword, const char *text, const char *, int) {
  std::fprintf(stderr, "log %c %s: %s\n", level, keyword, text);
}

int Usage() {
  std::fprintf(stderr, "usage: molvane-host [--zuv DIR] [--version] [--script FILE|-]\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  log_set_log_hook(EchoLog);
  const char *script = nullptr;
  bool version = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--zuv") == 0 && i + 1 < argc) {
      if (set_zuv(argv[++i]) != 0) {
        std::fprintf(stderr, "molvane-host: bad environment root\n");
        return 2;
      }
    } else if (std::strcmp(argv[i], "--script") == 0 && i + 1 < argc) {
      script = argv[++i];
    } else if (std::strcmp(argv[i], "--version") == 0) {
      version = true;
    } else {
      return Usage();
    }
  }
  if (version || script == nullptr) std::printf("%s\n", get_molvane_version());
  if (script == nullptr) return 0;

  std::FILE *in = std::strcmp(script, "-") == 0 ? stdin : std::fopen(script, "r");
  if (in == nullptr) {
    std::fprintf(stderr, "molvane-host: cannot open %s\n", script);
    return 2;
  }
  molvane::host::HostSession session(stdout);
  int failed = session.RunAll(in);
  if (in != stdin) std::fclose(in);
  return failed == 0 ? 0 : 1;
}
