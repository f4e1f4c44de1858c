// molvane-host: a small command-line host of the molvane library.
//   molvane-host [--zuv DIR] [--version]
// --zuv sets the environment root; the host installs a log hook that echoes
// every log message to standard error, as a real host would show them.
#include <cstdio>
#include <cstring>

#include <molvane/platform.h>
#include <molvane/version.h>

namespace {

void EchoLog(char level, const char *keyword, const char *text, const char *, int) {
  std::fprintf(stderr, "log %c %s: %s\n", level, keyword, text);
}

}  // namespace

int main(int argc, char **argv) {
  log_set_log_hook(EchoLog);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--zuv") == 0 && i + 1 < argc) {
      if (set_zuv(argv[++i]) != 0) {
        std::fprintf(stderr, "molvane-host: bad environment root\n");
        return 2;
      }
    } else if (std::strcmp(argv[i], "--version") != 0) {
      std::fprintf(stderr, "usage: molvane-host [--zuv DIR] [--version]\n");
      return 2;
    }
  }
  std::printf("%s\n", get_molvane_version());
  return 0;
}
