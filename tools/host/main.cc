// molvane-host: a small command-line host of the molvane library.
#include <cstdio>
#include <cstring>

#include <molvane/version.h>

int main(int argc, char **argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s\n", get_molvane_version());
    return 0;
  }
  std::printf("%s\n", get_molvane_version());
  return 0;
}
