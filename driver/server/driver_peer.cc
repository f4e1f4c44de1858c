// The admission of a driver server's connections (see driver_peer.h).
#include "server/driver_peer.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "common/driver_log.h"
#include "platform/log.h"

namespace molvane::driver {

namespace {

constexpr std::size_t kMaxToken = 1024;   // longest token accepted
constexpr std::size_t kMinToken = 16;     // shortest token a file may give
constexpr std::size_t kTokenBytes = 32;   // random bytes of a token the server makes
constexpr std::size_t kMaxLogged = 256;   // distinct refusals logged

constexpr std::uint64_t kMaxPid = 2147483647;  // the largest pid_t

const char kNameTheFile[] = "name its secret file after the port in lib/ipc_info";

bool Printable(unsigned char c) { return c >= 0x20 && c < 0x7f; }

// Takes "--NAME=value" out of the arguments; the value, or "" when absent.
std::string TakeOption(std::vector<std::string> &args, const std::string &name, bool *given) {
  std::string value;
  const std::string prefix = "--" + name + "=";
  for (auto it = args.begin(); it != args.end();) {
    if (it->rfind(prefix, 0) != 0) {
      ++it;
      continue;
    }
    value = it->substr(prefix.size());
    *given = true;
    it = args.erase(it);
  }
  return value;
}

bool GroupId(const std::string &name, gid_t *gid) {
  char *end = nullptr;
  unsigned long number = std::strtoul(name.c_str(), &end, 10);
  if (!name.empty() && *end == '\0') {
    *gid = static_cast<gid_t>(number);
    return true;
  }
  std::vector<char> buf(16384);
  group entry{};
  group *found = nullptr;
  if (getgrnam_r(name.c_str(), &entry, buf.data(), buf.size(), &found) != 0 || found == nullptr) return false;
  *gid = found->gr_gid;
  return true;
}

// A token from a file: its text without trailing blanks and newlines. The
// file is opened without blocking, so that a FIFO or a device named by
// mistake is refused at once instead of holding the server at its start.
bool ReadToken(const std::string &path, std::string *token, std::string *error) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open the secret file '" + path + "': " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  char text[kMaxToken + 2];
  ssize_t n = -1;
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular && (st.st_mode & S_IRWXO) == 0) n = pread(fd, text, sizeof text, 0);
  close(fd);
  if (!regular) {
    const char *kind = S_ISFIFO(st.st_mode)  ? "a FIFO"
                       : S_ISSOCK(st.st_mode) ? "a socket"
                       : S_ISDIR(st.st_mode)  ? "a folder"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                                                                    : "not a regular file";
    *error = "the secret file '" + path + "' is " + kind + "; it must be a regular file";
    return false;
  }
  if (n < 0) {
    *error = "the secret file '" + path + "' must be a regular file that others cannot read (chmod o-rwx)";
    return false;
  }
  token->assign(text, static_cast<std::size_t>(n));
  while (!token->empty() && std::strchr(" \t\r\n", token->back()) != nullptr) token->pop_back();
  bool printable = true;
  for (char c : *token) printable = printable && Printable(static_cast<unsigned char>(c));
  if (token->size() < kMinToken || token->size() > kMaxToken || !printable) {
    *error = "the secret file '" + path + "' must hold one token of " + std::to_string(kMinToken) + " to " +
             std::to_string(kMaxToken) + " printable characters";
    return false;
  }
  return true;
}

// A new random token in a new file of mode 0600 at `path` (a file or link
// there before is replaced, never written through).
bool MakeToken(const std::string &path, std::string *token, std::string *error) {
  unsigned char random[kTokenBytes];
  if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    *error = std::string("no random bytes for the token: ") + std::strerror(errno);
    return false;
  }
  static const char kHex[] = "0123456789abcdef";
  token->clear();
  for (unsigned char b : random) {
    token->push_back(kHex[b >> 4]);
    token->push_back(kHex[b & 15]);
  }
  unlink(path.c_str());
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  std::string line = *token + "\n";
  bool written = fd >= 0 && fchmod(fd, 0600) == 0 &&
                 write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  int saved = errno;
  if (fd >= 0) close(fd);
  if (!written) {
    *error = "cannot write the secret file '" + path + "': " + std::strerror(saved);
    if (fd >= 0) unlink(path.c_str());
    return false;
  }
  return true;
}

// Compares without stopping at the first difference, so that the time an
// answer takes says nothing of how much of a guess was right.
bool SameToken(const std::string &a, const std::string &b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < a.size(); ++i)
    diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
  return diff == 0;
}

// Sends the answer line of the admission. The line is short and the
// socket's buffer still empty, so it is taken whole or not at all.
void Answer(int fd, const std::string &line) {
  std::string text = line + "\n";
  (void)!send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Logs each distinct refusal once: a peer that tries again and again does
// not fill the log.
void LogOnce(const std::string &reason) {
  static std::set<std::string> logged;
  if (logged.size() >= kMaxLogged || !logged.insert(reason).second) return;
  DriverLog(__FILE__, __LINE__, LOG_WARNING, "connection refused: %s", reason.c_str());
}

bool PeerServed(int fd, const PeerPolicy &policy, std::string *reason) {
  ucred cred{};
  socklen_t size = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0) {
    *reason = std::string("the peer's credentials are unknown: ") + std::strerror(errno);
    return false;
  }
  if (cred.uid == 0 || cred.uid == policy.owner) return true;
  if (policy.group_given) {
    if (cred.gid == policy.group) return true;
    gid_t groups[256];
    socklen_t groups_size = sizeof groups;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups, &groups_size) == 0)
      for (std::size_t i = 0; i < groups_size / sizeof(gid_t); ++i)
        if (groups[i] == policy.group) return true;
  }
  *reason = "the driver server on '" + policy.listen + "' serves only uid " + std::to_string(policy.owner) +
            " (the owner of its database file)" +
            (policy.group_given ? ", members of group " + std::to_string(policy.group) : std::string()) +
            " and root; uid " + std::to_string(cred.uid) + " is refused" +
            (policy.group_given ? "; a member of group " + std::to_string(policy.group) + " is served, or"
                                : std::string("; to serve it too,")) +
            " start the server with --serve-group=GROUP of a group that uid " + std::to_string(cred.uid) + " is in";
  return false;
}

// A process id: 1 to the largest pid_t, in decimal digits.
bool ParsePid(const std::string &text, std::uint64_t *pid) {
  std::uint64_t value = 0;
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value == 0 || value > kMaxPid) return false;
  *pid = value;
  return true;
}

// A host value: 16 lowercase hex digits, not all 0.
bool ParseHostValue(const std::string &text, std::uint64_t *host) {
  std::uint64_t value = 0;
  if (text.size() != 16) return false;
  for (char c : text) {
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return false;
    value = value << 4 | static_cast<std::uint64_t>(digit);
  }
  if (value == 0) return false;
  *host = value;
  return true;
}

// Reads what follows the token and its tab in a token line: fields
// separated by tabs, "pid=N" and "host=X", each at most once, in any
// order. False for anything else; *process and *host are 0 where not given.
bool ParseClaims(const std::string &text, std::uint64_t *process, std::uint64_t *host) {
  std::uint64_t pid = 0, value = 0;
  std::size_t at = 0;
  for (;;) {
    const std::size_t tab = text.find('\t', at);
    const std::string field = text.substr(at, tab == std::string::npos ? std::string::npos : tab - at);
    if (field.rfind("pid=", 0) == 0) {
      if (pid != 0 || !ParsePid(field.substr(4), &pid)) return false;
    } else if (field.rfind("host=", 0) == 0) {
      if (value != 0 || !ParseHostValue(field.substr(5), &value)) return false;
    } else {
      return false;
    }
    if (tab == std::string::npos) break;
    at = tab + 1;
  }
  *process = pid;
  *host = value;
  return true;
}

}  // namespace

void PeerPolicy::TakeOptions(std::vector<std::string> &args) {
  group_name = TakeOption(args, "serve-group", &group_given);
  secret_file = TakeOption(args, "secret-file", &secret_given);
}

bool PeerPolicy::Setup(const std::string &database, bool tcp_form, const std::string &listen_text,
                       std::string *error) {
  tcp = tcp_form;
  listen = listen_text;
  struct stat st {};
  owner = stat(database.c_str(), &st) == 0 ? st.st_uid : geteuid();
  if (group_given) {
    if (tcp) {
      *error = "--serve-group is for a Unix socket; a TCP server serves whoever holds its token";
      return false;
    }
    if (!GroupId(group_name, &group)) {
      *error = "--serve-group: no group '" + group_name + "'";
      return false;
    }
  }
  if (secret_given && !tcp) {
    *error = "--secret-file is for a TCP server; a Unix socket server checks its peers' user ids";
    return false;
  }
  if (!tcp) return true;
  if (secret_given) return ReadToken(secret_file, &token, error);
  secret_path = database + ".secret";
  return MakeToken(secret_path, &token, error);
}

void PeerPolicy::Cleanup() const {
  if (!secret_path.empty()) unlink(secret_path.c_str());
}

bool PeerPolicy::SecureSocket(const std::string &path, std::string *error) const {
  if ((group_given && chown(path.c_str(), static_cast<uid_t>(-1), group) != 0) ||
      chmod(path.c_str(), group_given ? 0660 : 0600) != 0) {
    *error = "cannot set the mode of the socket '" + path + "': " + std::strerror(errno);
    return false;
  }
  return true;
}

bool PeerGate::Admit(int fd, const PeerPolicy &policy) {
  if (policy.tcp) {
    state_ = State::kToken;
    return true;
  }
  std::string reason;
  if (!PeerServed(fd, policy, &reason)) {
    Refuse(fd, reason);
    return false;
  }
  state_ = State::kChecked;
  return true;
}

void PeerGate::Open(int fd) {
  state_ = State::kOpen;
  Answer(fd, "ok");
}

std::size_t PeerGate::Take(int fd, const PeerPolicy &policy, const unsigned char *bytes, std::size_t count) {
  if (state_ != State::kToken) return 0;
  // A token is printable text: a request sent without one is refused at
  // its first byte instead of being waited on as a token.
  std::size_t used = 0;
  while (used < count && bytes[used] != '\n' && (Printable(bytes[used]) || bytes[used] == '\t')) ++used;
  line_.append(reinterpret_cast<const char *>(bytes), used);
  if (line_.size() > kMaxToken || (used < count && bytes[used] != '\n')) {
    Refuse(fd, "the driver server on " + policy.listen + " wants its token before any request: " + kNameTheFile);
    return count;
  }
  if (used == count) return used;
  ++used;  // the newline
  // After the token (which holds no tab) come, each after a tab, the
  // client's process id and its host value (ParseClaims).
  if (const std::size_t tab = line_.find('\t'); tab != std::string::npos) {
    if (!ParseClaims(line_.substr(tab + 1), &process_, &host_)) {
      Refuse(fd, "the token line presented to the driver server on " + policy.listen +
                     " is malformed: after its token come, each after a tab, pid= and the client's process id "
                     "(1 to 2147483647) and host= and its host value (16 lowercase hex digits, not all 0)");
      return count;
    }
    line_.resize(tab);
  }
  if (line_.empty())
    Refuse(fd, "the driver server on " + policy.listen + " serves only connections that present its token: " +
                   kNameTheFile);
  else if (!SameToken(line_, policy.token))
    Refuse(fd, "the token presented to the driver server on " + policy.listen + " is not its token");
  else
    state_ = State::kChecked;
  line_.clear();
  line_.shrink_to_fit();
  return used;
}

void PeerGate::Refuse(int fd, const std::string &reason) {
  state_ = State::kRefused;
  LogOnce(reason);
  Answer(fd, "refused: " + reason);
  DrainInput(fd);
}

void DrainInput(int fd) {
  char sink[1024];
  while (recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
}

}  // namespace molvane::driver
