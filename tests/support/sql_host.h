// A host program of the classic SQL API for tests that run statements
// against the reference driver: callbacks that keep the fields of the row
// being fetched as text, the rows put in through molvane-host, and a runner
// of a test body in a child process (the library logs on once per process).
#pragma once

#include <deque>
#include <functional>
#include <string>

namespace molvane::test {

struct SqlHost {
  std::deque<std::string> variables;  // stable names handed to the library
  std::string row;                    // "|" between the fields of the row fetched
  std::string lastError;              // the text of the last error callback
};

// The host that the installed callbacks fill.
SqlHost &TheSqlHost();

// Installs the error, create-variable and put-value callbacks; values of
// parameters come from sql_bind_input only.
void InstallSqlHost();

// Runs `script` through molvane-host over the environment root `zuv`;
// "" when it succeeded, else its output.
std::string RunHostScript(const std::string &zuv, const std::string &script);

// Runs `body` in a child process and gives its exit status; kChildHung when
// it outlives `limit_ms` (it is killed), kChildSignalled when a signal ended
// it. The child leaves through exit(), so LeakSanitizer checks it.
constexpr int kChildHung = -1;
constexpr int kChildSignalled = -2;
int RunInChild(const std::function<int()> &body, int limit_ms = 60000);

}  // namespace molvane::test
