// The echo driver as an in-process driver library (ipc/driver_entry.h).
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "echo_core.h"
#include "ipc/driver_entry.h"

namespace {

struct LibConnection {
  explicit LibConnection(std::vector<std::string> argv) : echo(std::move(argv)) {}
  echo::EchoConnection echo;
  bool input_ended = false;
};

std::map<int, std::unique_ptr<LibConnection>> &Connections() {
  static std::map<int, std::unique_ptr<LibConnection>> conns;
  return conns;
}

LibConnection *Find(int conn) {
  auto it = Connections().find(conn);
  if (it == Connections().end()) {
    errno = EBADF;
    return nullptr;
  }
  return it->second.get();
}

}  // namespace

extern "C" int driver_init(int argc, char **argv) {
  std::vector<std::string> args(argv, argv + argc);
  if (echo::WantsStartFailure(args)) {
    errno = ENODEV;
    return -1;
  }
  static int next = 0;
  int number = next++;
  Connections()[number] = std::make_unique<LibConnection>(std::move(args));
  return number;
}

extern "C" int driver_main_loop(int conn) {
  LibConnection *c = Find(conn);
  if (c == nullptr) return -1;
  if (c->input_ended || !c->echo.Process()) {
    Connections().erase(conn);
    return 1;
  }
  return 0;
}

extern "C" ssize_t dir_fd_read(int conn, void *buf, size_t size) {
  LibConnection *c = Find(conn);
  if (c == nullptr) return -1;
  std::string &out = c->echo.output();
  size_t n = out.size() < size ? out.size() : size;
  std::memcpy(buf, out.data(), n);
  out.erase(0, n);
  return static_cast<ssize_t>(n);
}

extern "C" ssize_t dir_fd_write(int conn, const void *bytes, size_t count) {
  LibConnection *c = Find(conn);
  if (c == nullptr) return -1;
  if (bytes == nullptr && count == 0) {
    c->input_ended = true;
    return 0;
  }
  c->echo.Feed(bytes, count);
  return static_cast<ssize_t>(count);
}
