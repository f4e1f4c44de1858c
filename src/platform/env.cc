// The software environment: environment root, temporary directory,
// release text, variables and files under the root.
#include "platform/env.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "ipc/stream.h"
#include "platform/log.h"
#include "platform/resource_files.h"
#include "platform/user.h"

namespace {

struct EnvState {
  bool zuv_set = false;  // set_zuv was called
  std::string zuv;
  std::string tmp;
  std::string release;
  std::map<std::string, std::string> vars;  // texts handed out by getvar
};

EnvState &State() {
  static EnvState state;
  return state;
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool IsDirectory(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ValidName(const char *name) {
  return name != nullptr && *name != '\0' && std::strchr(name, '=') == nullptr;
}

}  // namespace

extern "C" {

MOLVANE_API const char *get_zuv(void) {
  EnvState &st = State();
  if (!st.zuv_set) {
    const char *env = std::getenv("ZUV");
    st.zuv = WithoutTrailingSlash(env != nullptr ? env : "");
  }
  return st.zuv.c_str();
}

MOLVANE_API int set_zuv(const char *root) {
  if (root == nullptr || *root == '\0') {
    errno = EINVAL;
    return -1;
  }
  EnvState &st = State();
  std::string path = root;
  if (path[0] != '/') {
    // A relative root would change meaning with the current directory.
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return -1;
    path = std::string(cwd) + "/" + path;
  }
  st.zuv = WithoutTrailingSlash(path);
  st.zuv_set = true;
  ::setenv("ZUV", st.zuv.c_str(), 1);
  al_settings_files_changed();
  log_mesg(__FILE__, __LINE__, "set_zuv", LOG_INFO, "environment root %s", st.zuv.c_str());
  return 0;
}

MOLVANE_API int qelt_putenv(const char *assignment) {
  const char *eq = assignment != nullptr ? std::strchr(assignment, '=') : nullptr;
  if (eq == nullptr || eq == assignment) {
    errno = EINVAL;
    return -1;
  }
  std::string name(assignment, eq);
  int rc = (eq[1] == '\0') ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), eq + 1, 1);
  if (rc == 0 && name == "ZUV") State().zuv_set = false;
  return rc == 0 ? 0 : -1;
}

int qelt_setenv(const char *name, const char *value, int overwrite) {
  if (!ValidName(name) || value == nullptr) {
    errno = EINVAL;
    return -1;
  }
  if (::setenv(name, value, overwrite) != 0) return -1;
  if (std::strcmp(name, "ZUV") == 0 && overwrite) State().zuv_set = false;
  return 0;
}

const char *get_zuv_tmp(void) {
  EnvState &st = State();
  const char *env = std::getenv("ZUV_TMP");
  if (env != nullptr && *env != '\0') {
    st.tmp = WithoutTrailingSlash(env);
    return st.tmp.c_str();
  }
  const char *zuv = get_zuv();
  if (*zuv != '\0' && IsDirectory(std::string(zuv) + "/tmp")) {
    st.tmp = std::string(zuv) + "/tmp";
    return st.tmp.c_str();
  }
  env = std::getenv("TMPDIR");
  st.tmp = WithoutTrailingSlash(env != nullptr && *env != '\0' ? env : "/tmp");
  return st.tmp.c_str();
}

const char *get_release(void) {
  EnvState &st = State();
  const char *env = std::getenv("ZUV_RELEASE");
  st.release = (env != nullptr && *env != '\0') ? env : "1";
  return st.release.c_str();
}

const char *getvar(const char *name) {
  if (!ValidName(name)) return nullptr;
  if (std::strcmp(name, "ZUV") == 0) {
    const char *zuv = get_zuv();
    return *zuv != '\0' ? zuv : nullptr;
  }
  std::string value;
  const char *env = std::getenv(name);
  if (env != nullptr) {
    value = env;
  } else if (!al_settings_file_value(name, &value)) {
    return nullptr;
  }
  // Keep one text per name, so that earlier results of other names stay
  // valid; the same name's text is replaced only when its value changed.
  auto [it, inserted] = State().vars.try_emplace(name, value);
  if (!inserted && it->second != value) it->second = value;
  return it->second.c_str();
}

STREAM *open_zuv_file(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  char name[4096];
  int n = std::vsnprintf(name, sizeof name, format, ap);
  va_end(ap);
  if (n < 0 || static_cast<size_t>(n) >= sizeof name) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  const char *zuv = get_zuv();
  if (*zuv == '\0') {
    errno = ENOENT;
    return nullptr;
  }
  std::string path = "{nofdlog}" + std::string(zuv) + "/" + name;
  return qelt_sopen(path.c_str(), "r");
}

long al_debug_level(void) {
  const char *text = getvar("DEBUG_LEVEL");
  if (text == nullptr) return 0;
  char *end = nullptr;
  long v = std::strtol(text, &end, 0);
  return (end != text && *end == '\0') ? v : 0;
}

const char *alGetPacComb(void) {
  return user_info.pac_comb;
}

}  // extern "C"
