#include "support/test_env.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace molvane::test {

std::string FixturePath(const std::string &relative) {
  return std::string(MOLVANE_FIXTURES_DIR) + "/" + relative;
}

ScratchDir::ScratchDir() {
  std::string tmpl = (fs::temp_directory_path() / "molvane-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void ScratchDir::WriteFile(const std::string &relative, const std::string &content) const {
  fs::path p = fs::path(path_) / relative;
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + p.string());
}

std::string ScratchDir::ReadFile(const std::string &relative) const {
  std::ifstream in(fs::path(path_) / relative, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string WhyUidCannotRun(uid_t user, const std::string &program, const std::string &folder) {
  enum { kNoSwitch = 120, kNoFolder, kNoExec, kExecFailed };
  const std::string who = "uid " + std::to_string(user);
  pid_t pid = fork();
  if (pid < 0) return "cannot fork to try " + who;
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0) _exit(kNoSwitch);
    if (access(folder.c_str(), X_OK) != 0) _exit(kNoFolder);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execl(program.c_str(), program.c_str(), "--version", static_cast<char *>(nullptr));
    _exit(errno == EACCES ? kNoExec : kExecFailed);
  }
  int status = 0;
  // --version answers at once; a program that does not is given 20 s.
  for (int waited = 0; waitpid(pid, &status, WNOHANG) != pid; waited += 10) {
    if (waited == 20000) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return program + " --version as " + who + " did not end within 20 s";
    }
    usleep(10000);
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  if (!WIFEXITED(status)) return program + " --version as " + who + " ended by signal " + std::to_string(WTERMSIG(status));
  switch (WEXITSTATUS(status)) {
    case kNoSwitch: return "cannot switch to " + who + " (running as another uid needs root)";
    case kNoFolder: return who + " cannot enter " + folder + ": a folder above it is closed to others";
    case kNoExec:
      return who + " may not execute " + program + ": a folder above it (or the file) is closed to others";
    case kExecFailed: return who + " cannot execute " + program;
    default:
      return program + " --version as " + who + " ended with status " + std::to_string(WEXITSTATUS(status));
  }
}

}  // namespace molvane::test
