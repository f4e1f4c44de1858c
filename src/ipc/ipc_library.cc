#include "ipc/ipc_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "platform/log.h"

namespace molvane::ipc {
namespace {

std::map<std::string, std::unique_ptr<IpcDriverLibrary>> &Loaded() {
  static std::map<std::string, std::unique_ptr<IpcDriverLibrary>> loaded;
  return loaded;
}

template <typename Fn>
bool Resolve(void *handle, const char *symbol, Fn *out) {
  void *p = dlsym(handle, symbol);
  if (p == nullptr) return false;
  *out = reinterpret_cast<Fn>(p);
  return true;
}

}  // namespace

const IpcDriverLibrary *ipc_load_driver_library(const std::string &path) {
  auto &loaded = Loaded();
  auto it = loaded.find(path);
  if (it != loaded.end()) return it->second.get();

  if (access(path.c_str(), R_OK) != 0) {
    int e = errno;
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_ERROR,
             "driver library %s cannot be read: %s", path.c_str(), std::strerror(e));
    errno = e;
    return nullptr;
  }
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char *why = dlerror();
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_ERROR, "cannot load driver library %s: %s",
             path.c_str(), why != nullptr ? why : "unknown error");
    errno = ELIBBAD;
    return nullptr;
  }
  auto lib = std::make_unique<IpcDriverLibrary>();
  lib->path = path;
  lib->handle = handle;
  const char *missing = nullptr;
  if (!Resolve(handle, "driver_init", &lib->init)) missing = "driver_init";
  else if (!Resolve(handle, "driver_main_loop", &lib->main_loop)) missing = "driver_main_loop";
  else if (!Resolve(handle, "dir_fd_read", &lib->read)) missing = "dir_fd_read";
  else if (!Resolve(handle, "dir_fd_write", &lib->write)) missing = "dir_fd_write";
  if (missing != nullptr) {
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_ERROR,
             "driver library %s has no entry point %s", path.c_str(), missing);
    dlclose(handle);
    errno = ELIBBAD;
    return nullptr;
  }
  const IpcDriverLibrary *result = lib.get();
  loaded.emplace(path, std::move(lib));
  return result;
}

}  // namespace molvane::ipc
