// Advisory locks on "<database>.lock" (see driver_claim.h). Byte 0 is the
// server byte: a server holds a write lock on the whole file, every other
// driver a read lock on byte 0. Byte 1 + pid is the byte of a host
// process: its drivers hold read locks on it, so that a driver finds the
// drivers of other hosts on the file.
#include "locks/driver_claim.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "common/driver_log.h"
#include "platform/log.h"

namespace molvane::driver {

namespace {

long g_host = 0;  // 0: this process

// How often a driver opens the lock file again after it met a driver that
// was removing it; a millisecond apart.
constexpr int kOpenAttempts = 200;

// Opens the lock file, never through a link, and only a regular file: a
// link or anything else put in its place is left alone, so that starting
// or stopping a driver never truncates another file.
int OpenLockFile(const std::string &path, std::string *error) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  struct stat st {};
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    close(fd);
    *error = "the lock file '" + path + "' is not a regular file; remove it";
    return -1;
  }
  if (fd < 0)
    *error = errno == ELOOP ? "the lock file '" + path + "' is a symbolic link; remove it"
                            : "cannot open the lock file '" + path + "': " + std::strerror(errno);
  return fd;
}

// True while the open lock file is the file at the path.
bool StillThere(int fd, const std::string &path) {
  struct stat open_file {}, at_path {};
  return fstat(fd, &open_file) == 0 && lstat(path.c_str(), &at_path) == 0 &&
         open_file.st_dev == at_path.st_dev && open_file.st_ino == at_path.st_ino;
}

// The lock file's path: beside the file a symbolic link leads to, so that
// every name of the file finds the same lock file.
std::string LockPath(const std::string &database) {
  char resolved[PATH_MAX];
  return (realpath(database.c_str(), resolved) != nullptr ? std::string(resolved) : database) + ".lock";
}

// The claim on the database file itself, which a hard link to it cannot
// escape: a lock far beyond the bytes SQLite locks, a write lock for a
// server and a read lock for every other driver.
constexpr off_t kFileClaimByte = off_t{1} << 62;

// The database files this process opened for their claims, by device and
// inode, with the number of claims on each. They are never closed: closing
// any descriptor of a file drops every POSIX lock this process holds on it,
// SQLite's own included. A file's claim lock is released when its last
// claim ends.
struct ClaimedFile {
  int fd = -1;
  int claims = 0;
};
std::map<std::pair<dev_t, ino_t>, ClaimedFile> g_files;

bool SetLock(int fd, short type, off_t start, off_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

bool LockClaimByte(int fd, short type) { return SetLock(fd, type, kFileClaimByte, 1); }

// Claims the database file: 0 with its key, -1 when the file cannot be
// opened (the driver then fails on it anyway), -2 when the lock is refused.
int ClaimFile(const std::string &database, bool server, std::pair<dev_t, ino_t> *key) {
  struct stat st {};
  auto it = stat(database.c_str(), &st) == 0 ? g_files.find({st.st_dev, st.st_ino}) : g_files.end();
  if (it == g_files.end()) {
    int fd = open(database.c_str(), O_RDWR | O_CLOEXEC | (server ? O_CREAT : 0), 0600);
    if (fd < 0 && !server) fd = open(database.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &st) != 0) return -1;  // (an open descriptor stays open, see above)
    it = g_files.try_emplace({st.st_dev, st.st_ino}, ClaimedFile{fd, 0}).first;
  }
  if (it->second.claims == 0 && !LockClaimByte(it->second.fd, server ? F_WRLCK : F_RDLCK)) return -2;
  ++it->second.claims;
  *key = it->first;
  return 0;
}

void ReleaseFile(const std::pair<dev_t, ino_t> &key) {
  auto it = g_files.find(key);
  if (it != g_files.end() && --it->second.claims == 0) LockClaimByte(it->second.fd, F_UNLCK);
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
  if (file_claimed_) ReleaseFile(file_);
}

void DatabaseClaim::SetHost(long pid) { g_host = pid; }

std::unique_ptr<DatabaseClaim> DatabaseClaim::Take(const std::string &database, std::string *error,
                                                   std::string *shared) {
  if (shared != nullptr) shared->clear();
  const std::string path = LockPath(database);
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
  std::unique_ptr<DatabaseClaim> claim(new DatabaseClaim(fd, path));
  const int file_claim = ClaimFile(database, false, &claim->file_);
  claim->file_claimed_ = file_claim == 0;
  if (file_claim == -2) {
    *error = "database '" + database +
             "' is served by a driver server under another name of the file (a hard link); reach that "
             "server with a unix or tcp line in lib/ipc_info";
    return nullptr;
  }
  struct flock other = Probe(fd, 1, host_byte - 1);
  if (other.l_type == F_UNLCK) other = Probe(fd, host_byte + 1, 0);
  if (other.l_type != F_UNLCK) {
    const std::string warning = OtherHostText(database, other.l_start) +
                                ": row locks do not hold between them; hosts that share a database reach one "
                                "driver server (molvane-driver --listen)";
    DriverLog(__FILE__, __LINE__, LOG_WARNING, "%s", warning.c_str());
    if (shared != nullptr) *shared = warning;
  }
  return claim;
}

std::unique_ptr<DatabaseClaim> DatabaseClaim::TakeForServer(const std::string &database,
                                                            const std::string &reached_as,
                                                            std::string *error) {
  const std::string path = LockPath(database);
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
  // Refused from here on, the claim removes the lock file it made.
  std::unique_ptr<DatabaseClaim> claim(new DatabaseClaim(fd, path));
  const int file_claim = ClaimFile(database, true, &claim->file_);
  claim->file_claimed_ = file_claim == 0;
  if (file_claim != 0) {
    *error = file_claim == -2 ? "database '" + database +
                                         "' is in use by another driver under another name of the file (a hard "
                                         "link); a server starts on a file that no other driver uses"
                                   : "cannot open database '" + database + "': " + std::strerror(errno);
    return nullptr;
  }
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, reached_as.data(), reached_as.size(), 0) != static_cast<ssize_t>(reached_as.size())) {
    *error = "cannot write the lock file of '" + database + "': " + std::strerror(errno);
    return nullptr;
  }
  return claim;
}

std::unique_ptr<DatabaseClaim> DatabaseClaim::TakeForSocket(const std::string &socket_path, std::string *error) {
  const std::string path = socket_path + ".lock";
  bool refused = false;
  int fd = OpenAndLock(path, [](int f) { return SetLock(f, F_WRLCK, 0, 0); }, &refused, error);
  if (fd < 0) return nullptr;
  const std::string pid = std::to_string(getpid());
  if (refused || ftruncate(fd, 0) != 0 ||
      pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    *error = refused ? "another driver server listens or starts on '" + socket_path + "'"
                     : "cannot write the lock file '" + path + "': " + std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<DatabaseClaim>(new DatabaseClaim(fd, path));
}

}  // namespace molvane::driver
