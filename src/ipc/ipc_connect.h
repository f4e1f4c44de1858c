// The connection record behind the two streams of attach_process, and the
// stream operations over it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "ipc/ipc_info.h"
#include "ipc/ipc_library.h"
#include "ipc/stream.h"

namespace molvane::ipc {

// One connection to a driver, shared by its input and output stream and
// released with the last of them. Releasing it closes the socket and waits
// for a child process, or ends the in-process driver's connection.
struct IPC_CONNECT {
  IpcForm form = IpcForm::kChild;
  std::string driver;                     // driver name, for log lines
  int fd = -1;                            // read side: a pipe (child form) or a socket
  int out_fd = -1;                        // written descriptor when it is not fd
  bool sockets = true;                    // fd and out_fd are sockets, not pipes
  pid_t pid = -1;                         // child process, or -1
  int reason_fd = -1;                     // child's start-up reason (ipc_spawn_child), or -1
  const IpcDriverLibrary *lib = nullptr;  // in-process form
  int lib_conn = -1;                      // the driver's connection number
  bool lib_live = false;                  // lib_conn is still open in the driver
  bool lib_pending = false;               // request bytes not yet processed
  // Why a driver server ended the connection, from its last line ("ended:
  // "): "" until that line was read.
  std::string ended_reason;

  IPC_CONNECT() = default;
  IPC_CONNECT(const IPC_CONNECT &) = delete;
  IPC_CONNECT &operator=(const IPC_CONNECT &) = delete;
  ~IPC_CONNECT();

  // Child form: reaps the child once it has ended (see IPC_WAIT_CHILD).
  // 0 with its wait status, or -1 with errno ECHILD or ETIMEDOUT.
  int WaitChild(int *status);

  // In-process form: runs driver_main_loop over the bytes handed over so
  // far. 0, or -1 (errno EPIPE) when the driver ended or failed.
  int Process();
};

// Builds the input and output stream of `conn` (streams[0], streams[1]);
// the connection may be in the child form without a child (pid -1), for
// streams over descriptors that are already connected.
// `host` is the peer host name ("" when local). Takes ownership of `conn`:
// on failure (-1, errno ENOMEM) it is released.
int ipc_make_streams(std::unique_ptr<IPC_CONNECT> conn, const std::string &name,
                     const std::string &host, STREAM **streams);

}  // namespace molvane::ipc
