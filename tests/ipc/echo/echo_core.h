// The echo driver used by the process-connection tests. It speaks a tiny
// framed protocol: every request is a 32-bit big-endian length and that
// many bytes, and is answered by one frame of the same shape. A request
// "ARGS" is answered with the driver's arguments joined by newlines, "PID"
// with its process id, "ENV:<name>" with that environment variable; "EXIT"
// ends the connection without an answer; anything else comes back as it was.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace echo {

// Largest request accepted; a longer one ends the connection.
constexpr size_t kMaxFrame = 16u << 20;

class EchoConnection {
 public:
  explicit EchoConnection(std::vector<std::string> argv) : argv_(std::move(argv)) {}

  void Feed(const void *bytes, size_t count);
  // Answers every complete request received so far. False when the
  // connection must end ("EXIT" or a malformed request).
  bool Process();
  // Answers waiting to be sent; the caller removes what it sent.
  std::string &output() { return output_; }

 private:
  std::vector<std::string> argv_;
  std::string input_;
  std::string output_;
};

// True when the arguments ask the driver to fail at start.
bool WantsStartFailure(const std::vector<std::string> &argv);

}  // namespace echo
