// The reference driver as a server: one process that listens on a Unix
// socket or a loopback TCP port and serves many client connections at
// once, over one database file, one set of row and table locks and one set
// of dictionaries (DriverShared), so that a lock holds between hosts.
#pragma once

#include <string>

#include "protocol/driver_options.h"
#include "server/driver_peer.h"

namespace molvane::driver {

// Serves the database file of `options` on `listen`: a socket path, or
// "tcp:PORT" for the loopback port, to whom `policy` (its access options
// taken) admits. Runs until SIGTERM or SIGINT, then rolls back every open
// transaction and ends; the exit status (0, or 1 when the server could not
// start).
int RunDriverServer(const std::string &listen, const DriverOptions &options, PeerPolicy policy);

// Checks what a server is started with before anything is made: `listen`
// names a socket path or a TCP port, and a database file is named. False
// with the reason otherwise.
bool CheckServerArguments(const std::string &listen, const DriverOptions &options, std::string *error);

}  // namespace molvane::driver
