// The entry points of an in-process driver library: a driver built as a
// shared library exports these four functions with C linkage, and
// attach_process loads it with dlopen and talks to it through them, on the
// caller's thread, instead of over a socket. docs/ipc_info.md states the
// contract in full; in short:
//
//   driver_init       opens one connection, returns its number (>= 0);
//   dir_fd_write      hands request bytes to a connection (count 0 with a
//                     null pointer: the client has closed it);
//   driver_main_loop  the processing entry: answers every complete request
//                     received so far, queueing the replies;
//   dir_fd_read       takes queued reply bytes (0 when none are queued).
//
// None of them may block, call exit, or touch descriptors 0 to 2.
#pragma once

#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

// argv[0] is the driver name, argv[1..argc-1] the arguments of its line in
// lib/ipc_info, argv[argc] is null; the strings live only during the call.
// Returns the new connection's number, or -1 with errno set.
int driver_init(int argc, char **argv);

// Returns 0 while the connection lives; 1 when it has ended (the driver
// closed it, or it saw the end of input); -1 with errno on failure. After 1
// or -1 the number is released and the client never uses it again.
int driver_main_loop(int conn);

// Copies up to `size` queued reply bytes into `buf` and drops them from the
// queue; returns the count, 0 when nothing is queued, -1 with errno.
ssize_t dir_fd_read(int conn, void *buf, size_t size);

// Appends `count` request bytes to the connection's input; returns count,
// or -1 with errno. A null `bytes` with count 0 marks the end of input.
ssize_t dir_fd_write(int conn, const void *bytes, size_t count);

#ifdef __cplusplus
}
#endif

// Types of the entry points, as looked up with dlsym.
typedef int (*driver_init_fn)(int argc, char **argv);
typedef int (*driver_main_loop_fn)(int conn);
typedef ssize_t (*dir_fd_read_fn)(int conn, void *buf, size_t size);
typedef ssize_t (*dir_fd_write_fn)(int conn, const void *bytes, size_t count);
