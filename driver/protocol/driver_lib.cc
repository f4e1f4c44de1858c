// The in-process entry points of the reference driver (ipc/driver_entry.h):
// connections are kept by number; nothing here blocks or touches the host's
// standard descriptors, and no exception leaves an entry point.
#include <cerrno>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "protocol/driver_conn.h"
#include "ipc/driver_entry.h"

namespace {

using molvane::driver::DriverConnection;

struct LibConnection {
  std::unique_ptr<DriverConnection> conn;
  bool end_of_input = false;
};

std::map<int, LibConnection> &Connections() {
  static std::map<int, LibConnection> connections;
  return connections;
}

int g_next_conn = 0;

LibConnection *Find(int conn) {
  auto it = Connections().find(conn);
  return it == Connections().end() ? nullptr : &it->second;
}

}  // namespace

extern "C" int driver_init(int argc, char **argv) {
  try {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    int number = g_next_conn++;
    Connections()[number].conn = std::make_unique<DriverConnection>(args);
    return number;
  } catch (const std::bad_alloc &) {
    errno = ENOMEM;
    return -1;
  }
}

extern "C" int driver_main_loop(int conn) {
  LibConnection *c = Find(conn);
  if (c == nullptr) {
    errno = EBADF;
    return -1;
  }
  try {
    bool alive = c->conn->Process();
    if (!alive || c->end_of_input) {
      Connections().erase(conn);
      return 1;
    }
    return 0;
  } catch (const std::bad_alloc &) {
    Connections().erase(conn);
    errno = ENOMEM;
    return -1;
  }
}

extern "C" ssize_t dir_fd_read(int conn, void *buf, size_t size) {
  LibConnection *c = Find(conn);
  if (c == nullptr) {
    errno = EBADF;
    return -1;
  }
  return static_cast<ssize_t>(c->conn->TakeReply(buf, size));
}

extern "C" ssize_t dir_fd_write(int conn, const void *bytes, size_t count) {
  LibConnection *c = Find(conn);
  if (c == nullptr) {
    errno = EBADF;
    return -1;
  }
  if (bytes == nullptr && count == 0) {
    c->end_of_input = true;
    return 0;
  }
  try {
    c->conn->Feed(bytes, count);
  } catch (const std::bad_alloc &) {
    errno = ENOMEM;
    return -1;
  }
  return static_cast<ssize_t>(count);
}
