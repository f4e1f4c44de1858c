// attach_process: resolves the driver name through lib/ipc_info and opens
// the connection in the form the table names.
#include "ipc/attach.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "ipc/ipc_connect.h"
#include "ipc/ipc_info.h"
#include "ipc/ipc_library.h"
#include "ipc/ipc_transport.h"
#include "platform/env.h"
#include "platform/log.h"

namespace molvane::ipc {
namespace {

// Why the last attachment to a driver server was refused ("" when it was not).
std::string g_refusal;

// Logs the formatted reason, sets errno to `err` and returns -1.
__attribute__((format(printf, 2, 3))) int Fail(int err, const char *format, ...) {
  char text[512];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  log_mesg(__FILE__, __LINE__, "attach_process", LOG_ERROR, "%s", text);
  errno = err;
  return -1;
}

// True when `host` names this machine.
bool IsLocalHost(const std::string &host) {
  if (strcasecmp(host.c_str(), "localhost") == 0 || host == "127.0.0.1" || host == "::1") {
    return true;
  }
  char self[IPC_HOST_SIZE];
  if (GetHostName(self, sizeof self) != 0) return false;
  if (strcasecmp(host.c_str(), self) == 0) return true;
  // A short name matches the first label of a full name, either way round.
  std::string mine(self);
  if (host.find('.') != std::string::npos && mine.find('.') != std::string::npos) return false;
  std::string a = host.substr(0, host.find('.'));
  std::string b = mine.substr(0, mine.find('.'));
  return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// A target that is not absolute is taken below `dir`.
int ResolveBelow(const std::string &target, const std::string &dir, const char *what,
                 const std::string &driver, std::string *path) {
  if (!target.empty() && target[0] == '/') {
    *path = target;
    return 0;
  }
  if (dir.empty()) {
    return Fail(ENOENT, "driver %s: no directory is known for its %s (no environment root)",
                driver.c_str(), what);
  }
  *path = dir + "/" + target;
  return 0;
}

std::vector<std::string> DriverArgv(const std::string &driver, const IpcInfoEntry &entry) {
  std::vector<std::string> argv;
  argv.reserve(entry.args.size() + 1);
  argv.push_back(driver);
  argv.insert(argv.end(), entry.args.begin(), entry.args.end());
  return argv;
}

int OpenChild(const std::string &driver, const IpcInfoEntry &entry, IPC_CONNECT *conn) {
  std::string exe;
  if (ResolveBelow(entry.target, ipc_bin_dir(), "executable", driver, &exe) != 0) return -1;
  conn->sockets = false;
  return ipc_spawn_child(exe, DriverArgv(driver, entry), &conn->fd, &conn->out_fd, &conn->pid,
                         &conn->reason_fd);
}

int OpenLibrary(const std::string &driver, const IpcInfoEntry &entry, IPC_CONNECT *conn) {
  std::string path;
  if (ResolveBelow(entry.target, ipc_shlib_dir(), "library", driver, &path) != 0) return -1;
  const IpcDriverLibrary *lib = ipc_load_driver_library(path);
  if (lib == nullptr) return -1;
  std::vector<std::string> args = DriverArgv(driver, entry);
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  errno = 0;
  int number = lib->init(static_cast<int>(args.size()), argv.data());
  if (number < 0) {
    int e = errno != 0 ? errno : EIO;
    log_mesg(__FILE__, __LINE__, "attach_process", LOG_ERROR,
             "driver library %s refused to open a connection for %s: %s", path.c_str(),
             driver.c_str(), std::strerror(e));
    errno = e;
    return -1;
  }
  conn->lib = lib;
  conn->lib_conn = number;
  conn->lib_live = true;
  return 0;
}

// A path of lib/ipc_info: a relative one is taken below the environment
// root. False without a root.
bool BelowRoot(const std::string &target, std::string *path) {
  *path = target;
  if (!target.empty() && target[0] == '/') return true;
  const char *root = get_zuv();
  if (root == nullptr || *root == '\0') return false;
  *path = std::string(root) + "/" + target;
  return true;
}

// The token a TCP server wants, from the secret file of the driver's line:
// the file's text without its trailing blanks and newlines. A line without
// a file presents an empty token, which the server refuses with its reason.
int ReadToken(const std::string &driver, const IpcInfoEntry &entry, std::string *token) {
  token->clear();
  if (entry.args.empty()) return 0;
  std::string path;
  if (!BelowRoot(entry.args[0], &path))
    return Fail(ENOENT, "driver %s: relative secret file %s without an environment root", driver.c_str(),
                entry.args[0].c_str());
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  char text[1026];
  ssize_t n = fd >= 0 ? read(fd, text, sizeof text) : -1;
  int e = errno;
  if (fd >= 0) close(fd);
  if (n < 0)
    return Fail(e, "driver %s: cannot read the secret file %s: %s", driver.c_str(), path.c_str(), std::strerror(e));
  token->assign(text, static_cast<size_t>(n));
  while (!token->empty() && std::strchr(" \t\r\n", token->back()) != nullptr) token->pop_back();
  return 0;
}

// The server's answer to the new connection; refused or silent, the
// connection is closed and the reason kept for ipc_attach_refusal.
int Admit(const std::string &driver, const std::string *token, IPC_CONNECT *conn) {
  std::string reason;
  if (ipc_server_admission(conn->fd, token, &reason) == 0) return 0;
  int e = errno;
  g_refusal = reason.empty() ? std::strerror(e) : reason;
  return Fail(e, "driver %s: %s", driver.c_str(), g_refusal.c_str());
}

int OpenServer(const std::string &driver, const IpcInfoEntry &entry, IPC_CONNECT *conn) {
  if (entry.form == IpcForm::kTcp) {
    IpcTcpAddr addr;
    if (ipc_parse_tcp_target(entry.target, &addr) != 0) {
      return Fail(EINVAL, "driver %s: bad port \"%s\"", driver.c_str(), entry.target.c_str());
    }
    std::string token;
    if (ReadToken(driver, entry, &token) != 0 || ipc_connect_tcp(addr, &conn->fd) != 0) return -1;
    return Admit(driver, &token, conn);
  }
  std::string path;
  if (!BelowRoot(entry.target, &path)) {
    return Fail(ENOENT, "driver %s: relative socket path %s without an environment root",
                driver.c_str(), entry.target.c_str());
  }
  if (ipc_connect_unix(path, &conn->fd) != 0) return -1;
  return Admit(driver, nullptr, conn);
}

}  // namespace
}  // namespace molvane::ipc

using namespace molvane::ipc;

int attach_process(const char *name, STREAM **streams, int mode, int reserved1, int reserved2) {
  g_refusal.clear();
  if (name == nullptr || *name == '\0' || streams == nullptr) {
    return Fail(EINVAL, "attach_process: no driver name or no stream pair");
  }
  if (mode != IPC_MODE_PAIR || reserved1 != 0 || reserved2 != 0) {
    return Fail(EINVAL, "attach_process: unsupported mode %d for driver %s", mode, name);
  }
  std::string full(name);
  std::string host;
  std::string driver = full;
  size_t sep = full.find(static_cast<char>(IPC_HOST_SEP));
  if (sep != std::string::npos) {
    host = full.substr(0, sep);
    driver = full.substr(sep + 1);
  }
  if (driver.empty() || host.size() >= IPC_HOST_SIZE) {
    return Fail(EINVAL, "attach_process: bad driver name \"%s\"", name);
  }
  if (!host.empty() && !IsLocalHost(host)) {
    return Fail(EHOSTUNREACH, "driver %s: host %s is not this machine; remote drivers are not "
                "supported", driver.c_str(), host.c_str());
  }

  IpcInfoEntry entry;
  if (ipc_info_lookup(driver, &entry) != 0) return -1;

  auto conn = std::make_unique<IPC_CONNECT>();
  conn->form = entry.form;
  conn->driver = driver;
  int rc;
  switch (entry.form) {
    case IpcForm::kChild:
      rc = OpenChild(driver, entry, conn.get());
      break;
    case IpcForm::kLibrary:
      rc = OpenLibrary(driver, entry, conn.get());
      break;
    default:
      rc = OpenServer(driver, entry, conn.get());
      break;
  }
  if (rc != 0) return -1;  // conn releases whatever was opened
  return ipc_make_streams(std::move(conn), full, host, streams);
}

const char *ipc_attach_refusal(void) { return g_refusal.c_str(); }

int ipc_open_fd_streams(int in_fd, int out_fd, const char *name, STREAM **streams) {
  auto conn = std::make_unique<IPC_CONNECT>();
  conn->fd = in_fd;
  conn->out_fd = out_fd != in_fd ? out_fd : -1;
  conn->driver = name != nullptr ? name : "";
  if (in_fd < 0 || out_fd < 0 || streams == nullptr) {
    if (in_fd < 0) conn->fd = -1;
    if (out_fd < 0) conn->out_fd = -1;
    return Fail(EBADF, "ipc_open_fd_streams: bad descriptors %d, %d or no stream pair", in_fd,
                out_fd);
  }
  struct stat in{}, out{};
  conn->sockets = fstat(in_fd, &in) == 0 && S_ISSOCK(in.st_mode) && fstat(out_fd, &out) == 0 &&
                  S_ISSOCK(out.st_mode);
  std::string label = conn->driver;
  return ipc_make_streams(std::move(conn), label, "", streams);
}
