// In-process driver libraries: loaded with dlopen once per path and kept
// for the life of the process (a driver's static state, and the runtimes
// it links, are not torn down and built again between connections; its
// connections end through the end-of-input call of driver_entry.h).
#pragma once

#include <string>

#include "ipc/driver_entry.h"

namespace molvane::ipc {

struct IpcDriverLibrary {
  std::string path;
  void *handle = nullptr;  // from dlopen, never closed
  driver_init_fn init = nullptr;
  driver_main_loop_fn main_loop = nullptr;
  dir_fd_read_fn read = nullptr;
  dir_fd_write_fn write = nullptr;
};

// The loaded library at `path` with its four entry points resolved, or null
// with errno set and a log line: ENOENT or EACCES when the file is missing
// or unreadable, ELIBBAD when it cannot be loaded or lacks an entry point
// (such a library is unloaded again).
const IpcDriverLibrary *ipc_load_driver_library(const std::string &path);

}  // namespace molvane::ipc
