// The library's own entry file: its version text.
#include <molvane/version.h>

extern "C" const char *get_molvane_version(void) {
  return "molvane 0.1.0";
}
