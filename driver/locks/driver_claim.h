// The claim of a driver process on its database file. Row locks live in
// one driver process, so several processes on one file would not see each
// other's locks. A driver therefore claims the file through advisory locks
// on "<database>.lock" beside it:
// - a driver server takes the whole lock file for itself and writes how it
//   is reached into it;
// - a child or in-process driver is refused while a server holds the file;
//   it shares the file with other child and in-process drivers, and warns
//   (in the log, and to its client) when one of them serves another host
//   process, whose row locks it does not see (tools and tests read a file that a host is
//   working on; hosts that share a database reach one server).
// The lock file is found beside the file that a symbolic link leads to, and
// the drivers also lock a byte of the database file itself (far beyond what
// SQLite locks), so that every name of one file, hard links included, meets
// the same claim. A link or any other file that is not a regular file in
// the lock file's place is refused, never followed.
// The locks are open-file-description locks: they belong to the open lock
// file, go with the process when it ends, and are not lost when SQLite
// closes its own descriptors of the database.
//
// The last driver on a file that ends cleanly removes "<database>.lock":
// it empties and unlinks the file only while its write lock over the whole
// file shows that no other driver holds it. A driver that opened the file
// just before finds, once it holds its lock, that the file is no longer
// the one at the path (or meets the write lock of an empty file), and
// opens the path again.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <utility>

namespace molvane::driver {

class DatabaseClaim {
 public:
  ~DatabaseClaim();
  DatabaseClaim(const DatabaseClaim &) = delete;
  DatabaseClaim &operator=(const DatabaseClaim &) = delete;

  // The claim of a child or in-process driver serving the host process
  // of SetHost. Null with the reason when a server holds the file. When
  // the driver of another host process uses the file too, *shared says so
  // (and the log), else it is "".
  static std::unique_ptr<DatabaseClaim> Take(const std::string &database, std::string *error,
                                             std::string *shared = nullptr);
  // The claim of a driver server reached as `reached_as` ("unix PATH" or
  // "tcp PORT"). Null with the reason when any other driver holds the file.
  static std::unique_ptr<DatabaseClaim> TakeForServer(const std::string &database,
                                                      const std::string &reached_as,
                                                      std::string *error);
  // The claim of a server on its socket path, taken before the path is
  // probed or replaced: "<path>.lock", held for the server's life, so that
  // two servers starting on one path cannot remove each other's socket.
  // Null with the reason when another server holds it.
  static std::unique_ptr<DatabaseClaim> TakeForSocket(const std::string &socket_path, std::string *error);
  // The host process a child or in-process driver claims for: the parent
  // for the driver executable, this process (the default) for the library.
  static void SetHost(long pid);

 private:
  DatabaseClaim(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
  std::string path_;  // of the lock file
  bool file_claimed_ = false;       // the database file itself is claimed too
  std::pair<dev_t, ino_t> file_{};  // ... the file's device and inode
};

}  // namespace molvane::driver
