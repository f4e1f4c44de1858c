// The driver reach table "lib/ipc_info" under the environment root: for
// each driver name, how attach_process reaches it (a child process, a
// library loaded into this process, or a server already running). The file
// format is described in docs/ipc_info.md.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace molvane::ipc {

enum class IpcForm {
  kChild,    // fork and exec of an executable over two pipes
  kLibrary,  // in-process driver library (dlopen)
  kUnix,     // running server on a Unix socket
  kTcp,      // running server on a TCP port of the loopback address
};

// One resolved line of the table (or the default for an unlisted name).
struct IpcInfoEntry {
  IpcForm form = IpcForm::kChild;
  std::string target;              // executable, library, socket path or port, after expansion
  std::vector<std::string> args;   // arguments after the target, after expansion
  int line = 0;                    // line number in the file; 0 for the default
};

// Most arguments one line may carry, and the longest line accepted.
constexpr size_t kIpcInfoMaxArgs = 64;
constexpr size_t kIpcInfoMaxLine = 4095;
// Largest table file read (a bigger one is refused, not cut).
constexpr size_t kIpcInfoMaxFile = 1 << 20;

// Finds the entry for `name` in the text of an ipc_info file. The first line
// whose name equals `name` wins, then the first "*" line; with neither, the
// default (child process, target = name, no arguments). Every line is
// checked, so a malformed line anywhere fails the lookup: -1 with errno
// EINVAL and a log line naming `label` and the line number. 0 on success.
int ipc_info_parse(std::string_view text, const char *label, std::string_view name,
                   IpcInfoEntry *out);

// Path of the table: "<environment root>/lib/ipc_info", or "" without a root.
std::string ipc_info_path();

// Reads the table and resolves `name` as ipc_info_parse does. A missing file
// (or no environment root) gives the default entry. -1 with errno when the
// file exists but cannot be read or is malformed.
int ipc_info_lookup(std::string_view name, IpcInfoEntry *out);

// The names the table gives lines to, in file order, each once ("*" too
// when a line has it); empty without a table or when it cannot be read.
std::vector<std::string> ipc_info_names();

// Directory holding driver executables: $ZUV_BIN, else "<root>/bin".
// "" when neither is known.
std::string ipc_bin_dir();

// Directory holding in-process driver libraries: $ZUV_SHLIB, else
// "<root>/shlib". "" when neither is known.
std::string ipc_shlib_dir();

}  // namespace molvane::ipc
