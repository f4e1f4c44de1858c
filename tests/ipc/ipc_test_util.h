// Helpers of the process-connection tests: a scratch environment root with
// its lib/ipc_info, framed round trips with the echo driver, descriptor
// counts, a running echo server and a log catcher.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "ipc/attach.h"
#include "support/test_env.h"

namespace ipc_test {

// Number of descriptors open in this process.
int OpenDescriptors();

// True when this process has no child left to reap, running or zombie,
// other than `except`.
bool NoChildrenLeft(pid_t except = -1);

// Sends one request frame (flush, then the processing entry).
bool SendFrame(STREAM *out, const std::string &payload);
// Reads one answer frame; false when the connection fails or ends.
bool ReadFrame(STREAM *in, std::string *payload);
// SendFrame then ReadFrame.
bool RoundTrip(STREAM *in, STREAM *out, const std::string &request, std::string *answer);

// Closes both streams of a connection (output first, as detach does).
void CloseBoth(STREAM *streams[2]);

// A scratch environment root, installed with set_zuv.
class ScratchRoot {
 public:
  ScratchRoot();
  const std::string &path() const { return dir_.path(); }
  void WriteIpcInfo(const std::string &text) const { dir_.WriteFile("lib/ipc_info", text); }
  void WriteFile(const std::string &relative, const std::string &text) const {
    dir_.WriteFile(relative, text);
  }

 private:
  molvane::test::ScratchDir dir_;
};

// The echo driver running as a server ("unix:PATH" or "tcp:0"); stopped
// with the object.
class EchoServer {
 public:
  explicit EchoServer(const std::string &where);
  ~EchoServer();
  EchoServer(const EchoServer &) = delete;
  EchoServer &operator=(const EchoServer &) = delete;
  bool ok() const { return pid_ > 0 && port_ >= 0; }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int port_ = -1;
};

// Collects the log messages written while it lives.
class LogCatcher {
 public:
  LogCatcher();
  ~LogCatcher();
  const std::vector<std::string> &lines() const;
};

}  // namespace ipc_test
