// How molvane-host shows a failed call: "error N (name): text", with the
// error's short name and the library's message text of the call (or the
// error table's text when the call left none).
#pragma once

#include <cstdio>

namespace molvane::host {

// Prints the error line of `err` to `out`; returns false, so that a command
// can end with `return PrintError(out_, zdb_errno);`.
bool PrintError(std::FILE *out, int err);

// The same with a note after the text ("...: Not logged on to a database;
// run logon first"), unless the note is the message itself.
bool PrintError(std::FILE *out, int err, const char *note);

}  // namespace molvane::host
