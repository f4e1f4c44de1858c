// Advisory locks on "<database>.lock" (see driver_claim.h). Byte 0 is the
// server byte: a server holds a write lock on the whole file, every other
// driver a read lock on byte 0. Byte 1 + pid is the byte of a host
// process: its drivers hold read locks on it, so that a driver finds the
// drivers of other hosts on the file.
#include "driver_claim.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/log.h"

namespace molvane::driver {

namespace {

long g_host = 0;  // 0: this process

int OpenLockFile(const std::string &database, std::string *error) {
  std::string path = database + ".lock";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) *error = "cannot open the lock file '" + path + "': " + std::strerror(errno);
  return fd;
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

std::string OtherHostText(const std::string &database, off_t byte) {
  return "database '" + database + "' is in use by the driver of host process " +
         std::to_string(byte - 1) + " too";
}

}  // namespace

DatabaseClaim::~DatabaseClaim() { close(fd_); }

void DatabaseClaim::SetHost(long pid) { g_host = pid; }

std::unique_ptr<DatabaseClaim> DatabaseClaim::Take(const std::string &database, std::string *error) {
  int fd = OpenLockFile(database, error);
  if (fd < 0) return nullptr;
  const off_t host_byte = 1 + static_cast<off_t>(g_host != 0 ? g_host : getpid());
  if (!SetLock(fd, F_RDLCK, 0, 1) || !SetLock(fd, F_RDLCK, host_byte, 1)) {
    *error = ServedText(database, fd);
    close(fd);
    return nullptr;
  }
  struct flock other = Probe(fd, 1, host_byte - 1);
  if (other.l_type == F_UNLCK) other = Probe(fd, host_byte + 1, 0);
  if (other.l_type != F_UNLCK)
    log_mesg(__FILE__, __LINE__, "driver", LOG_WARNING, "%s: row locks do not hold between them",
             OtherHostText(database, other.l_start).c_str());
  return std::unique_ptr<DatabaseClaim>(new DatabaseClaim(fd));
}

std::unique_ptr<DatabaseClaim> DatabaseClaim::TakeForServer(const std::string &database,
                                                            const std::string &reached_as,
                                                            std::string *error) {
  int fd = OpenLockFile(database, error);
  if (fd < 0) return nullptr;
  if (!SetLock(fd, F_WRLCK, 0, 0)) {
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
  return std::unique_ptr<DatabaseClaim>(new DatabaseClaim(fd));
}

}  // namespace molvane::driver
