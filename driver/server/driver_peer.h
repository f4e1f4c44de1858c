// Who a driver server serves. A server must not widen who reaches its
// database: whoever is served may do what the client says it may, so only
// peers the database file itself lets in are served.
// - On a Unix socket the kernel names the peer (SO_PEERCRED): the owner of
//   the database file and root are served, and with --serve-group=GROUP the
//   members of that group too. The socket file is 0600 (0660 and of that
//   group with the option) whatever the umask.
// - On a loopback TCP port anyone on the machine may connect, so every
//   connection first presents a secret token: a line that holds the token,
//   and after tabs the client's process id ("pid=N", for the log) and
//   its host value ("host=" and 16 hex digits, a random value the library
//   draws once per process), which makes the connections of one process
//   one host to the waits, as the kernel's word does on a Unix socket. A
//   line without a host value is taken too: each of its connections is a
//   host of its own. The server makes a new random token at each start in
//   "<database>.secret" (mode 0600), or takes it from --secret-file=FILE.
// Every accepted connection is answered one line before any request: "ok"
// when it is served, else "refused: " and the reason, and then it is
// closed. The client waits for that line when it attaches.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace molvane::driver {

struct PeerPolicy {
  bool tcp = false;         // connections present the token first
  uid_t owner = 0;          // the database file's owner
  bool group_given = false; // --serve-group was given
  gid_t group = 0;          // ... and names this group (after Setup)
  std::string token;        // the token a TCP connection presents
  std::string secret_path;  // the token file the server made ("" when given)
  std::string listen;       // how the server is reached, for the messages
  std::string group_name;   // --serve-group's value, when given
  std::string secret_file;  // --secret-file's value, when given
  bool secret_given = false;

  // Takes the server's access options (--serve-group=GROUP,
  // --secret-file=FILE) out of the driver arguments.
  void TakeOptions(std::vector<std::string> &args);
  // Sets up the policy for the database file: a TCP server reads its token
  // or makes one. False with the reason when an option or the token file
  // is not usable.
  bool Setup(const std::string &database, bool tcp, const std::string &listen, std::string *error);
  // Removes the token file the server made.
  void Cleanup() const;
  // The socket file's mode and group once it is bound: 0600, or 0660 and
  // the group of --serve-group. False with the reason when not set.
  bool SecureSocket(const std::string &path, std::string *error) const;
};

// The admission of one accepted connection: it shows who it is (a Unix
// peer's credentials, a TCP peer's token line), then the server answers
// "ok" (Open) once it has room for it, or refuses it with the reason.
class PeerGate {
 public:
  // Checks a new connection: a Unix peer is checked or refused at once, a
  // TCP peer is asked for its token. False when the peer is refused: the
  // caller closes the connection.
  bool Admit(int fd, const PeerPolicy &policy);
  // Passes the bytes a connection sent through the gate: while the token
  // is awaited they are taken as its line. The count of leading bytes
  // taken; the rest are requests. Once refused(), the connection ends.
  std::size_t Take(int fd, const PeerPolicy &policy, const unsigned char *bytes, std::size_t count);
  // The peer has shown who it is and may be served: answers "ok".
  void Open(int fd);
  // Answers "refused: " and the reason (logged once per distinct reason).
  void Refuse(int fd, const std::string &reason);
  bool refused() const { return state_ == State::kRefused; }
  // True while the connection's token line is awaited.
  bool awaiting() const { return state_ == State::kToken; }
  // True once the peer has shown who it is, before it is answered.
  bool checked() const { return state_ == State::kChecked; }
  // The process a TCP peer said it is (its token line's "pid="), 0 when it
  // said none: the client's word, as everything a token holder says is.
  std::uint64_t process() const { return process_; }
  // The host value a TCP peer gave (its token line's "host="), 0 when it
  // gave none: the connections that give one value are one host.
  std::uint64_t host() const { return host_; }

 private:
  enum class State { kToken, kChecked, kOpen, kRefused };
  State state_ = State::kOpen;
  std::string line_;  // the token line so far
  std::uint64_t process_ = 0;
  std::uint64_t host_ = 0;
};

// Reads and drops what a connection has sent so far, before it is closed
// after an answer: a TCP socket closed with unread input is reset, and the
// reset may take the answer with it.
void DrainInput(int fd);

}  // namespace molvane::driver
