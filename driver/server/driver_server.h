// The reference driver as a server: one process that listens on a Unix
// socket or a loopback TCP port and serves many client connections at
// once, over one database file, one set of row and table locks and one set
// of dictionaries (DriverShared), so that a lock holds between hosts.
#pragma once

#include <string>
#include <vector>

namespace molvane::driver {

// Serves `args` (the driver arguments: the database file and options) on
// `listen`: a socket path, or "tcp:PORT" for the loopback port. Runs until
// SIGTERM or SIGINT, then rolls back every open transaction and ends; the
// exit status (0, or 1 when the server could not start).
int RunDriverServer(const std::string &listen, const std::vector<std::string> &args);

}  // namespace molvane::driver
