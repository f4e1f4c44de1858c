#include "ipc_test_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <molvane/platform.h>

extern char **environ;

namespace ipc_test {

int OpenDescriptors() {
  DIR *d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  int n = 0;
  while (readdir(d) != nullptr) ++n;
  closedir(d);
  return n;
}

bool NoChildrenLeft(pid_t except) {
  // Scans /proc for processes whose parent is this one (zombies included),
  // without reaping any of them.
  DIR *d = opendir("/proc");
  if (d == nullptr) return false;
  bool none = true;
  std::string me = std::to_string(getpid());
  while (struct dirent *e = readdir(d)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    if (std::to_string(except) == e->d_name) continue;
    std::string stat_path = std::string("/proc/") + e->d_name + "/stat";
    FILE *f = std::fopen(stat_path.c_str(), "r");
    if (f == nullptr) continue;
    char buf[512];
    size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = '\0';
    // Fields after the command in parentheses: state, then the parent pid.
    const char *close = std::strrchr(buf, ')');
    if (close == nullptr) continue;
    char state;
    int ppid;
    if (std::sscanf(close + 1, " %c %d", &state, &ppid) == 2 && std::to_string(ppid) == me) {
      none = false;
    }
  }
  closedir(d);
  return none;
}

bool SendFrame(STREAM *out, const std::string &payload) {
  uint32_t n = static_cast<uint32_t>(payload.size());
  unsigned char head[4] = {static_cast<unsigned char>(n >> 24), static_cast<unsigned char>(n >> 16),
                           static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
  if (swrite_blok(head, 4, out) != 4) return false;
  if (!payload.empty() &&
      swrite_blok(payload.data(), payload.size(), out) != static_cast<long>(payload.size())) {
    return false;
  }
  if (sflush(out) != 0) return false;
  return ipc_process_request(out) == 0;
}

bool ReadFrame(STREAM *in, std::string *payload) {
  unsigned char head[4];
  if (sread_blok(head, 4, in) != 4) return false;
  size_t n = (size_t{head[0]} << 24) | (size_t{head[1]} << 16) | (size_t{head[2]} << 8) | head[3];
  payload->assign(n, '\0');
  return n == 0 || sread_blok(payload->data(), n, in) == static_cast<long>(n);
}

bool RoundTrip(STREAM *in, STREAM *out, const std::string &request, std::string *answer) {
  return SendFrame(out, request) && ReadFrame(in, answer);
}

void CloseBoth(STREAM *streams[2]) {
  if (streams[1] != nullptr) sclose(streams[1]);
  if (streams[0] != nullptr) sclose(streams[0]);
  streams[0] = streams[1] = nullptr;
}

ScratchRoot::ScratchRoot() { set_zuv(dir_.path().c_str()); }

EchoServer::EchoServer(const std::string &where) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::string exe = IPC_ECHO_DRIVER;
  std::vector<std::string> args = {exe, "--listen", where};
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    return;
  }
  pid_ = pid;
  stdin_fd_ = in[1];
  // Wait for "ready <port>".
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  if (line.rfind("ready ", 0) == 0) port_ = std::atoi(line.c_str() + 6);
}

EchoServer::~EchoServer() {
  if (stdin_fd_ >= 0) close(stdin_fd_);  // the server ends at the end of its input
  if (pid_ > 0) {
    int status;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

namespace {
std::vector<std::string> caught;
log_hook_fn previous_hook = nullptr;
void CatchLog(char, const char *keyword, const char *text, const char *, int) {
  caught.push_back(std::string(keyword) + ": " + text);
}
}  // namespace

LogCatcher::LogCatcher() {
  caught.clear();
  previous_hook = log_set_log_hook(CatchLog);
}

LogCatcher::~LogCatcher() { log_set_log_hook(previous_hook); }

const std::vector<std::string> &LogCatcher::lines() const { return caught; }

}  // namespace ipc_test
