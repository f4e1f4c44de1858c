// The user's remote-information file "lib/user/r<user>" and the host name.
// Each line of the file is "host user [environment-root]"; blank lines and
// lines beginning with "#" are skipped.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "ipc/attach.h"
#include "platform/env.h"
#include "platform/log.h"
#include "platform/user.h"

namespace {

// The user whose file is read: the user record's name once init_user ran,
// else ZUV_USER, else the login name.
std::string UserName() {
  if (user_info.user_name[0] != '\0') return user_info.user_name;
  const char *v = getvar("ZUV_USER");
  if (v != nullptr && *v != '\0') return v;
  struct passwd pw;
  struct passwd *found = nullptr;
  char buf[1024];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return {};
}

bool CopyField(const std::string &value, char *field, size_t size) {
  if (value.size() >= size) return false;
  std::memcpy(field, value.c_str(), value.size() + 1);
  return true;
}

int Malformed(const std::string &path, int line, const char *why) {
  log_mesg(__FILE__, __LINE__, "ipc_remote_info", LOG_ERROR, "%s line %d: %s", path.c_str(), line,
           why);
  errno = EINVAL;
  return -1;
}

}  // namespace

int ipc_remote_info(IPC_REMOTE_INFO *info, const char *host) {
  if (info == nullptr || host == nullptr || *host == '\0') {
    errno = EINVAL;
    return -1;
  }
  const char *root = get_zuv();
  std::string user = UserName();
  if (root == nullptr || *root == '\0' || user.empty()) {
    errno = ENOENT;
    return -1;
  }
  std::string path = std::string(root) + "/lib/user/r" + user;
  FILE *f = std::fopen(path.c_str(), "re");
  if (f == nullptr) {
    if (errno != ENOENT) {
      int e = errno;
      log_mesg(__FILE__, __LINE__, "ipc_remote_info", LOG_ERROR, "cannot open %s: %s",
               path.c_str(), std::strerror(e));
      errno = e;
    }
    return -1;
  }
  char line[2048];
  int line_no = 0;
  int result = -1;
  int err = ENOENT;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    ++line_no;
    size_t len = std::strlen(line);
    if (len == sizeof line - 1 && line[len - 1] != '\n') {
      result = Malformed(path, line_no, "line too long");
      err = EINVAL;
      break;
    }
    std::istringstream words(line);
    std::string h, u, z, extra;
    if (!(words >> h) || h[0] == '#') continue;
    if (!(words >> u)) {
      result = Malformed(path, line_no, "a host needs a user name");
      err = EINVAL;
      break;
    }
    words >> z;
    if (words >> extra) {
      result = Malformed(path, line_no, "more than three fields");
      err = EINVAL;
      break;
    }
    if (h != host) continue;
    IPC_REMOTE_INFO found;
    std::memset(&found, 0, sizeof found);
    if (!CopyField(h, found.host, sizeof found.host) ||
        !CopyField(u, found.user, sizeof found.user) ||
        !CopyField(z, found.zuv, sizeof found.zuv)) {
      result = Malformed(path, line_no, "field too long");
      err = EINVAL;
      break;
    }
    *info = found;
    result = 0;
    break;
  }
  std::fclose(f);
  if (result != 0) errno = err;
  return result;
}

int GetHostName(char *buffer, size_t size) {
  if (buffer == nullptr || size == 0) {
    errno = EINVAL;
    return -1;
  }
  char name[IPC_HOST_SIZE + 1];
  if (gethostname(name, sizeof name) != 0) return -1;
  name[sizeof name - 1] = '\0';
  size_t len = std::strlen(name);
  if (len + 1 > size) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(buffer, name, len + 1);
  return 0;
}
