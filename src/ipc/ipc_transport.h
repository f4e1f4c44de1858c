// Raw descriptor transports of process connections: a child process over
// two pipes, a running server over a Unix socket or a loopback TCP port,
// and the byte moves over such descriptors. Every descriptor made here is
// close-on-exec, so one driver never inherits another driver's connection.
// Failures return -1 with errno set and write one log line.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace molvane::ipc {

// Longest Unix socket path plus its NUL.
constexpr size_t kIpcUnixPathMax = sizeof(sockaddr_un::sun_path);

struct IpcTcpAddr {
  bool ipv6 = false;   // ::1 instead of 127.0.0.1
  uint16_t port = 0;
};

// Parses "PORT", "localhost:PORT", "127.0.0.1:PORT" or "[::1]:PORT" (PORT
// 1..65535). Other hosts are refused: servers are reached on the loopback
// address only. 0, or -1 with errno EINVAL (no log line).
int ipc_parse_tcp_target(const std::string &target, IpcTcpAddr *addr);

// Connects to a server; on success *fd is the connected socket. A connect
// that the server does not take within the attach time limit fails with
// ETIMEDOUT.
int ipc_connect_unix(const std::string &path, int *fd);
int ipc_connect_tcp(const IpcTcpAddr &addr, int *fd);

// How long attaching to a driver server may take: ZUV_ATTACH_TIMEOUT
// seconds (a software-environment variable), 30 when unset or invalid.
int ipc_attach_limit_ms();

// This process's value as a host of driver servers: 64 random bits, drawn
// at the first call and kept for the life of the process, drawn anew in a
// child made by fork (a child is a host of its own). Never 0. A TCP client
// names it in its token line, so that the connections of one process are
// one host to the server's waits and two processes are never one host,
// even where both have one process id (in two PID namespaces).
std::uint64_t ipc_host_value();

// The token line a TCP client sends: the token, then after a tab each
// "pid=" and the process id (for the server's messages) and "host=" and
// ipc_host_value() in 16 lowercase hex digits.
std::string ipc_token_line(const std::string &token);

// Longest answer line of a server's admission.
constexpr size_t kIpcAdmissionMax = 4096;

// The admission of a new connection to a driver server. A TCP client first
// sends its token line (`token`; null for a Unix socket, which sends
// nothing). The server then answers one line: "ok" when it serves the
// connection, else "refused: " and why. Waits at most the attach time
// limit. 0 when served; else -1 with errno EACCES (refused), ETIMEDOUT (no
// answer in time) or ECONNRESET (closed), and the reason in *reason.
int ipc_server_admission(int fd, const std::string *token, std::string *reason);

// Starts `exe` with `argv` (argv[0] included) over two new pipes: the child
// reads its requests on descriptor 0 and writes its replies to descriptor
// 1, keeps the host's standard error, gets SIGPIPE at its default action
// and ZUV set to the environment root when one is known. A pipe costs an
// exchange about half the processor time of a socket pair. On success
// *in_fd is the host's end for the replies, *out_fd its end for the
// requests and *pid the child; the caller must pass the pid to
// ipc_reap_child.
//
// With `reason_fd`, the child also finds descriptor kIpcReasonFd, named by
// the variable kIpcReasonVariable, on which a driver that refuses to start
// writes its reason in one line instead of on the host's standard error;
// *reason_fd is the host's end of it (non-blocking), to be closed by the
// caller.
int ipc_spawn_child(const std::string &exe, const std::vector<std::string> &argv, int *in_fd, int *out_fd,
                    pid_t *pid, int *reason_fd = nullptr);

// The descriptor and the variable of a child driver's start-up reason.
inline constexpr int kIpcReasonFd = 3;
inline constexpr char kIpcReasonVariable[] = "ZUV_START_REASON_FD";
// The longest reason kept.
inline constexpr std::size_t kIpcReasonMax = 400;

// The first line that an ended child wrote on its reason descriptor `fd`
// (what is there, without waiting); "" when none.
std::string ipc_read_reason(int fd);

// Waits for a child whose connection has been closed, so that no zombie is
// left: it is given a short while to end by itself, then SIGTERM, then
// SIGKILL. `name` only labels log lines.
void ipc_reap_child(pid_t pid, const char *name);

// Reaps the child when it has already ended; true when it has (or when it
// is no longer ours to wait for). `status`, when given, receives its wait
// status, or -1 when there was none to take.
bool ipc_try_reap_child(pid_t pid, const char *name, int *status = nullptr);

// Waits for a child that is ending (its connection reached its end) for as
// long as ipc_reap_child gives it to end by itself, without a signal; true
// when it was reaped, its wait status (-1 when not ours to wait for) in
// *status.
bool ipc_wait_child(pid_t pid, const char *name, int *status);

// Writes all `count` bytes to a socket or (`socket` false) a pipe, never
// raising SIGPIPE (a gone peer gives -1 with errno EPIPE). Returns count or
// -1. A descriptor said to be a socket that is not one is written as a pipe.
ssize_t ipc_send_all(int fd, const void *bytes, size_t count, bool socket = true);

// Reads what is there from a socket or (`socket` false) a pipe, up to
// `size` bytes, waiting for at least one; 0 at the end of the connection,
// -1 with errno on failure. It waits as ipc_await_input does before it
// sleeps.
ssize_t ipc_recv_some(int fd, void *buf, size_t size, bool socket = true);

// Watches `fd` for input (or its end) for a few tens of microseconds
// without giving up the processor, and says whether it came. A reader
// calls it before a blocking read: a sleeping reader costs each exchange
// two scheduler wake-ups, about ten times the exchange itself, while a
// driver's answer to a short request comes well within the watch. It
// watches only while that pays: not on a single processor, not while more
// tasks are ready to run than the machine has processors (a watcher would
// then keep another task, often its peer, from running and lose its own
// turn), and only now and then after several watches in a row saw nothing.
// Otherwise it returns false at once, without a look: the reader's own
// blocking wait finds input that is there already.
bool ipc_await_input(int fd);

// Whether a thread about to wait a moment for another may keep its
// processor meanwhile (watch, spin) rather than sleep: false on a single
// processor and while more tasks are ready to run than the machine has
// processors, where a watcher keeps the very task it waits for from
// running. The machine's load is looked at once every 10 ms per thread.
bool ipc_watch_pays();

// The same watch over a set of descriptors with ppoll(2) and `sigmask`:
// the number of ready descriptors, 0 when none became ready in time (or
// the watch did not pay), -1 with errno (EINTR included) on failure.
int ipc_await_input(struct pollfd *fds, size_t count, const sigset_t *sigmask);

// The number of tasks ready to run that the text of /proc/loadavg names
// (the first half of its fourth field, "running/total"), -1 when the text
// has no such field.
int ipc_runnable_tasks(const char *loadavg);

}  // namespace molvane::ipc
