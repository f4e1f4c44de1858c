// Advisory locks on "<database>.lock" (see driver_claim.h). Byte 0 is the
// server byte: a server holds a write lock on the whole file, every other
// driver a read lock on byte 0. Byte 1 + pid is the byte of a host
// process: its drivers hold read locks on it, so that a driver finds the
// drivers of other hosts on the file.
#include "driver_claim.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/log.h"

namespace molvane::driver {

namespace {

long g_host = 0;  // 0: this process

// How often a driver opens the lock file again after it met a driver that
// was removing it; a millisecond apart.
constexpr int kOpenAttempts = 200;

int OpenLockFile(const std::string &path, std::string *error) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) *error = "cannot open the lock file '" + path + "': " + std::strerror(errno);
  return fd;
}

// True while the open lock file is the file at the path.
bool StillThere(int fd, const std::string &path) {
  struct stat open_file {}, at_path {};
  return fstat(fd, &open_file) == 0 && stat(path.c_str(), &at_path) == 0 &&
         open_file.st_dev == at_path.st_dev && open_file.st_ino == at_path.st_ino;
}

bool SetLock(int fd, short type, off_t start, off_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// The first lock of another open lock file that overlaps the range, or
// F_UNLCK in l_type when there is none.
struct flock Probe(int fd, off_t start, off_t length) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) fl.l_type = F_UNLCK;
  return fl;
}

// How the server holding the file is reached, as it wrote it.
std::string ServerForm(int fd) {
  char text[512];
  ssize_t n = pread(fd, text, sizeof text - 1, 0);
  return n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string("?");
}

std::string ServedText(const std::string &database, int fd) {
  return "database '" + database + "' is served by the driver server 'molvane-driver --listen=" +
         ServerForm(fd) + "'; reach it with a unix or tcp line in lib/ipc_info";
}

// True when the lock that refused ours is gone, or is the write lock of an
// empty file: a driver removing the file (or a server between its lock
// and writing how it is reached), so that another attempt will do.
bool Passing(int fd) {
  struct flock other = Probe(fd, 0, 0);
  char byte;
  return other.l_type == F_UNLCK || (other.l_type == F_WRLCK && pread(fd, &byte, 1, 0) == 0);
}

// Opens the lock file and takes the locks of `lock` (false: refused); opens
// it again while the file it locked was removed or is being removed. The
// open file, or -1 with the error; `refused` when `lock` failed for good.
template <class Lock>
int OpenAndLock(const std::string &path, Lock lock, bool *refused, std::string *error) {
  for (int attempt = 1;; ++attempt) {
    int fd = OpenLockFile(path, error);
    if (fd < 0) return -1;
    bool locked = lock(fd);
    bool again = !StillThere(fd, path) || (!locked && Passing(fd));
    if (again && attempt < kOpenAttempts) {
      close(fd);
      usleep(1000);
      continue;
    }
    *refused = !locked;
    if (locked && again) {
      *error = "the lock file '" + path + "' keeps being removed";
      close(fd);
      return -1;
    }
    return fd;
  }
}

std::string OtherHostText(const std::string &database, off_t byte) {
  return "database '" + database + "' is in use by the driver of host process " +
         std::to_string(byte - 1) + " too";
}

}  // namespace

DatabaseClaim::~DatabaseClaim() {
  if (SetLock(fd_, F_WRLCK, 0, 0) && StillThere(fd_, path_) && ftruncate(fd_, 0) == 0)
    unlink(path_.c_str());
  close(fd_);
}

void DatabaseClaim::SetHost(long pid) { g_host = pid; }

std::unique_ptr<DatabaseClaim> DatabaseClaim::Take(const std::string &database, std::string *error) {
  const std::string path = database + ".lock";
  const off_t host_byte = 1 + static_cast<off_t>(g_host != 0 ? g_host : getpid());
  bool refused = false;
  int fd = OpenAndLock(
      path, [&](int f) { return SetLock(f, F_RDLCK, 0, 1) && SetLock(f, F_RDLCK, host_byte, 1); }, &refused,
      error);
  if (fd < 0) return nullptr;
  if (refused) {
    *error = ServedText(database, fd);
    close(fd);
    return nullptr;
  }
  struct flock other = Probe(fd, 1, host_byte - 1);
  if (other.l_type == F_UNLCK) other = Probe(fd, host_byte + 1, 0);
  if (other.l_type != F_UNLCK)
    log_mesg(__FILE__, __LINE__, "driver", LOG_WARNING, "%s: row locks do not hold between them",
             OtherHostText(database, other.l_start).c_str());
  return std::unique_ptr<DatabaseClaim>(new DatabaseClaim(fd, path));
}

std::unique_ptr<DatabaseClaim> DatabaseClaim::TakeForServer(const std::string &database,
                                                            const std::string &reached_as,
                                                            std::string *error) {
  const std::string path = database + ".lock";
  bool refused = false;
  int fd = OpenAndLock(path, [](int f) { return SetLock(f, F_WRLCK, 0, 0); }, &refused, error);
  if (fd < 0) return nullptr;
  if (refused) {
    struct flock other = Probe(fd, 0, 0);
    *error = other.l_type == F_WRLCK ? ServedText(database, fd)
                                     : "database '" + database +
                                           "' is in use by a child or in-process driver; a server "
                                           "starts on a file that no other driver uses";
    close(fd);
    return nullptr;
  }
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, reached_as.data(), reached_as.size(), 0) != static_cast<ssize_t>(reached_as.size())) {
    *error = "cannot write the lock file of '" + database + "': " + std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<DatabaseClaim>(new DatabaseClaim(fd, path));
}

}  // namespace molvane::driver
