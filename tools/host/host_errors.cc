#include "host_errors.h"

#include <cstring>
#include <string>

#include <molvane/zdb.h>

namespace molvane::host {

bool PrintError(std::FILE *out, int err, const char *note) {
  const char *msg = get_zdb_msg();
  // A note that only repeats the message (the library makes an SQL error's
  // text the call's message) is said once.
  if (note != nullptr && msg != nullptr && std::strcmp(note, msg) == 0) note = nullptr;
  std::string text = msg != nullptr && *msg != '\0' ? msg : zdberrorstr(err);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  const char *name = zdberrorname(err);
  if (name != nullptr)
    std::fprintf(out, "error %d (%s): %s", err, name, text.c_str());
  else
    std::fprintf(out, "error %d: %s", err, text.c_str());
  if (note != nullptr) std::fprintf(out, "; %s", note);
  std::fprintf(out, "\n");
  return false;
}

bool PrintError(std::FILE *out, int err) { return PrintError(out, err, nullptr); }

}  // namespace molvane::host
