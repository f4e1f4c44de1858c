// Resolution of logical file names into physical alternatives, shared by
// the stream layer (qelt_sopen, stream_unlink) and get_explode_fname.
#pragma once

#include <string>
#include <vector>

struct FnameAlternative {
  std::string path;     // physical path (after expansion), or the text given
  bool nolog = false;   // "{nofdlog}": do not log a failure to open
  bool remote = false;  // "host!path": on another host
  bool valid = true;    // false when expansion failed (unknown variable)
  std::string package;  // "{package=...}"
};

// The alternatives of a logical name, in order.
std::vector<FnameAlternative> fname_alternatives(const char *logical_name);

// Records the physical name that an open or a resolution found.
void fname_set_last(const std::string &physical);
