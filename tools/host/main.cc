// molvane-host: a small command-line host of the molvane library.
//   molvane-host [--zuv DIR] [--version] [--help] [--script FILE | -]
// --zuv sets the environment root (the library's logon warns when it is not
// a folder); the host installs a log hook that echoes every log message to
// standard error, as a real host would show them. Standard output is line-buffered and
// flushed before each log line, so that results, errors and log lines come
// out in the order they happened even when both streams go to one pipe.
// --script runs the commands of a file ("-": standard input); the command
// language is described in host_commands.h.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <molvane/platform.h>
#include <molvane/version.h>

#include "host_commands.h"

namespace {

void EchoLog(char level, const char *keyword, const char *text, const char *, int) {
  std::fflush(stdout);
  std::fprintf(stderr, "log %c %s: %s\n", level, keyword, text);
}

int Usage() {
  std::fprintf(stderr, "usage: molvane-host [--zuv DIR] [--version] [--help] [--script FILE|-]\n");
  return 2;
}

int Help() {
  std::fputs(
      "usage: molvane-host [--zuv DIR] [--version] [--help] [--script FILE|-]\n"
      "Runs the commands of a script (\"-\": standard input) through the molvane\n"
      "library, one a line (\"#\" starts a comment), and prints one line per command.\n"
      "  --zuv DIR          the environment root (docs/environment-root.md)\n"
      "  --script FILE|-    runs the commands of FILE, or of standard input for \"-\";\n"
      "                     without it the host prints the version and ends\n"
      "  --version          prints the library's version (then runs the script, if any)\n"
      "  --help, -h         this text\n"
      "Exit status: 0 when every command succeeded, 1 when one failed, 2 for a bad\n"
      "argument or a script that cannot be opened.\n"
      "Commands:\n"
      "  init [PROGRAM] | logon USER | logoff | user | msg | echo TEXT\n"
      "  start NAME | stop ID | timeout ID SECONDS | action row|table|db N\n"
      "  table create|drop|clear|count|lock TABLE COMPNR\n"
      "  insert|update|delete|read|lockread TABLE COMPNR COLUMN=VALUE...\n"
      "  flush | commit | abort | detail\n"
      "  sql prepare|bind|exec|fetch|run|save|retry|break|close|timeout|rows ...\n"
      "See docs/molvane-host.md for every command.\n",
      stdout);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
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
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      return Help();
    } else {
      return Usage();
    }
  }
  if (version || script == nullptr) std::printf("%s\n", get_molvane_version());
  if (script == nullptr) return 0;

  std::FILE *in = std::strcmp(script, "-") == 0 ? stdin : std::fopen(script, "r");
  if (in == nullptr) {
    std::fprintf(stderr, "molvane-host: cannot open %s: %s\n", script, std::strerror(errno));
    return 2;
  }
  molvane::host::HostSession session(stdout);
  int failed = session.RunAll(in);
  if (in != stdin) std::fclose(in);
  return failed == 0 ? 0 : 1;
}
