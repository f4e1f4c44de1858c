// Process connections: attach_process starts or reaches a driver and gives
// a pair of connection streams (input, output); ipc_control adjusts them;
// ipc_remote_info and GetHostName answer the host questions of driver
// specifications. How each driver is reached comes from "lib/ipc_info"
// under the environment root (docs/ipc_info.md): a child process over two
// pipes (the default), an in-process driver library (driver_entry.h),
// or a server already running on a Unix socket or a loopback TCP port.
//
// A connection lives until both of its streams are closed with sclose;
// closing the output stream alone tells a driver behind a pipe or socket
// that no more requests come (it sees the end of its input). Closing the last
// stream releases every descriptor, ends an in-process driver's connection
// and waits for a child process, so nothing is left behind.
// SIGPIPE is never raised in the host by these streams.
#pragma once

#include <stddef.h>

#include "ipc/stream.h"

#ifdef __cplusplus
extern "C" {
#endif

// Modes of attach_process.
enum {
  IPC_MODE_PAIR = 1,  // one input and one output stream
};

// Operations of ipc_control.
enum {
  IPC_SET_DISCONNECT = 1,  // argument: stream_disconnect_fn (cast to void *)
  IPC_GET_HOST = 16,       // argument: char buffer of IPC_HOST_SIZE bytes
  IPC_WAIT_CHILD = 17,     // argument: int, the child's wait status
  IPC_GET_REASON = 18,     // argument: char buffer of IPC_REASON_SIZE bytes
};

// Size of a host-name buffer, NUL included.
enum { IPC_HOST_SIZE = 256 };

// Size of a start-up reason buffer, NUL included.
enum { IPC_REASON_SIZE = 401 };

// The host part of a driver name "host!driver" is separated by this byte.
enum { IPC_HOST_SEP = '!' };

// Starts or connects the driver `name` ("driver", or "host!driver" for a
// driver on a named host, which must be this machine) and fills
// streams[0] with the input and streams[1] with the output stream. `mode`
// must be IPC_MODE_PAIR and the two reserved words 0. 0 on success; -1 with
// errno set and a log line on failure, with nothing left open or running.
// Errors: EINVAL (bad arguments or a malformed lib/ipc_info), ENOENT or
// EACCES (no executable or library), EHOSTUNREACH (another host),
// ECONNREFUSED (no server listening), ELIBBAD (a library without the
// entry points), or the error of the driver's own start.
int attach_process(const char *name, STREAM **streams, int mode, int reserved1, int reserved2);

// Why the last attach_process was refused by a driver server, or did not
// get its answer within the attach time limit (ZUV_ATTACH_TIMEOUT seconds,
// default 30): the server's reason, e.g. "the driver server on '...'
// serves only uid 1000 ...". "" when the last attachment failed otherwise
// or succeeded.
const char *ipc_attach_refusal(void);

// Streams over descriptors that are already connected to a peer: a
// driver's own end of its connection (descriptors 0 and 1 of a child
// driver, or a socket accepted by a driver server). in_fd and out_fd may be
// the same descriptor. They belong to the streams from then on (also on
// failure) and are closed with the last of them; closing the output stream
// alone ends the sending direction. Writes never raise SIGPIPE, on a socket
// or a pipe. `name` labels the streams. 0, or -1 with errno.
int ipc_open_fd_streams(int in_fd, int out_fd, const char *name, STREAM **streams);

// Operation IPC_SET_DISCONNECT installs the function called when the peer
// of this stream disconnects (end of data, a failed read or write); null
// removes it; the handler may end the process but must not close the
// stream it is given (the failing call still uses it). Operation IPC_GET_HOST copies the connection's host name into
// the argument buffer ("" when local). Operation IPC_WAIT_CHILD is for a
// connection whose peer has gone: it waits for the child process as long
// as closing the connection would before a signal, reaps it (a failing
// status is logged) and stores its wait status (as waitpid gives it) in
// the int the argument points to; closing the connection then waits for
// nothing. It fails with ECHILD when the connection has no child left to
// wait for (an in-process driver, a server, a child reaped already) and
// ETIMEDOUT when the child goes on. Operation IPC_GET_REASON copies the
// line in which a child driver that ended at start said why (a refused
// option), which it writes there instead of on the host's standard error,
// into the argument buffer ("" when it said nothing). 0, or -1 with errno EINVAL for a
// stream that is not a process connection, an unknown operation or a null
// buffer.
int ipc_control(STREAM *stream, int operation, void *argument);

// True when `stream` is a connection to a driver server (a Unix or TCP
// socket of lib/ipc_info), which other hosts share.
bool ipc_stream_to_server(const STREAM *stream);

// Why the driver server of `stream` ended its connection, as its last line
// said ("the driver server on ... ended the connection: ..."); "" when it
// said nothing so (or `stream` is no connection to a server).
const char *ipc_ended_reason(const STREAM *stream);

// Calls the processing entry of an in-process driver connection (the
// request round trip does this after flushing a request); 0 for any other
// connection. -1 when the driver failed or ended the connection.
int ipc_process_request(STREAM *output);

// One line of the user's remote-information file "lib/user/r<user>".
typedef struct ipc_remote_info_rec {
  char host[IPC_HOST_SIZE];  // host name as written in the file
  char user[64];             // login name to use on that host
  char zuv[1024];            // environment root there ("" when the same)
} IPC_REMOTE_INFO;

// Looks `host` up in the user's remote-information file. 0 when the file has
// a line for it (the record is filled); -1 when it has none, or there is no
// file (errno ENOENT), or it cannot be read or a line is malformed (errno
// EINVAL, logged). A driver on this machine is reached directly unless the
// user named a login for it here, so a non-zero result lets the caller drop
// the host part of a driver specification.
int ipc_remote_info(IPC_REMOTE_INFO *info, const char *host);

// This machine's host name into buffer (size bytes with the NUL). 0, or -1
// with errno (ENAMETOOLONG when it does not fit).
int GetHostName(char *buffer, size_t size);

#ifdef __cplusplus
}
#endif
