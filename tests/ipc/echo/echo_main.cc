// The echo driver as an executable. Without options it serves one
// connection on descriptors 0 (requests) and 1 (answers), as a driver
// started by attach_process does. With "--listen unix:PATH" or
// "--listen tcp:PORT" it is a running server: it prints "ready <port>" on
// standard output once it listens (PORT 0 picks a free port), serves each
// connection in a process of its own after answering its admission as a
// driver server does, and ends when its standard input
// reaches its end (so it never outlives the test that started it).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "echo_core.h"

namespace {

bool WriteAll(int fd, const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Serves one connection until its end; the exit status of a child driver.
int Serve(int in, int out, const std::vector<std::string> &argv) {
  echo::EchoConnection conn(argv);
  char buf[65536];
  for (;;) {
    ssize_t n = read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    conn.Feed(buf, static_cast<size_t>(n));
    bool live = conn.Process();
    if (!WriteAll(out, conn.output())) return 5;
    conn.output().clear();
    if (!live) return 3;
  }
}

int Listen(const std::string &where, int *port) {
  if (where.rfind("unix:", 0) == 0) {
    std::string path = where.substr(5);
    struct sockaddr_un sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sun_family = AF_UNIX;
    if (path.size() >= sizeof sa.sun_path) return -1;
    std::memcpy(sa.sun_path, path.c_str(), path.size());
    unlink(path.c_str());
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    if (s < 0 || bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || listen(s, 16) != 0) {
      return -1;
    }
    *port = 0;
    return s;
  }
  if (where.rfind("tcp:", 0) == 0) {
    struct sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<uint16_t>(std::stoi(where.substr(4))));
    int s = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t len = sizeof sa;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || listen(s, 16) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len) != 0) {
      return -1;
    }
    *port = ntohs(sa.sin_port);
    return s;
  }
  return -1;
}

// The admission of a driver server: a TCP client's token line is read
// (any token will do here), then the connection is answered "ok".
bool Admit(int c, bool tcp) {
  for (char ch = 0; tcp && ch != '\n';)
    if (read(c, &ch, 1) != 1) return false;
  return WriteAll(c, "ok\n");
}

int RunServer(const std::string &where, const std::vector<std::string> &argv) {
  int port = 0;
  int s = Listen(where, &port);
  if (s < 0) {
    std::perror("echo driver: listen");
    return 2;
  }
  signal(SIGCHLD, SIG_IGN);  // connection processes reap themselves
  std::printf("ready %d\n", port);
  std::fflush(stdout);
  for (;;) {
    struct pollfd p[2] = {{s, POLLIN, 0}, {0, POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return 2;
    }
    if (p[1].revents != 0) return 0;  // the test went away
    if ((p[0].revents & POLLIN) == 0) continue;
    int c = accept(s, nullptr, nullptr);
    if (c < 0) continue;
    pid_t pid = fork();
    if (pid == 0) {
      close(s);
      _exit(Admit(c, where.rfind("tcp:", 0) == 0) ? Serve(c, c, argv) : 4);
    }
    close(c);
  }
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv, argv + argc);
  if (echo::WantsStartFailure(args)) return 2;
  for (size_t i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == "--listen") return RunServer(args[i + 1], args);
  }
  return Serve(0, 1, args);
}
