// What detaching a child driver costs, the step of zdb_logoff that waits
// for the driver to end: DET_SERVER, then closing both streams, which
// waits until the driver process has ended and is reaped. The anchor, in
// the same iteration: a running child that ends as soon as its input
// closes (cat over a pipe), its input closed and the child reaped by a blocking
// waitpid, the least a wait for an ending child can cost. `ratio` is the
// detach's time divided by the anchor's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <molvane/platform.h>
#include <molvane/zdb.h>

#include "bench_env.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/session/zdb_server.h"
#include "dbc/tabledef/tabledef.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// A logged-on client on a fresh root whose one driver runs as a child.
struct Client {
  std::string root;
  DRIVER_SPEC *spec = nullptr;

  Client() {
    root = molvane::bench::MakeRoot(molvane::bench::ChildDriver());
    set_zuv(root.c_str());
    zdb_init_api("driver_detach_bench", nullptr, 0, 0);
    zdb_logon("bench");
    spec = read_driver_for_table("exemp010", 1);
  }
  ~Client() {
    zdb_logoff();
    if (!getenv("KEEP_BENCH_ROOT")) std::filesystem::remove_all(root);
  }
};

// Seconds from closing the input of a running `cat` to its reaping; 0 when
// it cannot be started. One byte through it first shows that it runs.
double ChildEndAnchor() {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return 0;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return 0;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  pid_t pid = -1;
  char cat[] = "cat";
  char *argv[] = {cat, nullptr};
  const int rc = posix_spawnp(&pid, "cat", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  char byte = 'x';
  const bool runs = rc == 0 && write(in[1], &byte, 1) == 1 && read(out[0], &byte, 1) == 1;
  const auto start = Clock::now();
  close(in[1]);
  int status;
  if (rc == 0) waitpid(pid, &status, 0);
  const auto end = Clock::now();
  close(out[0]);
  return runs ? std::chrono::duration<double>(end - start).count() : 0;
}

void BM_DetachChildDriver(benchmark::State &state) {
  static Client client;
  if (client.spec == nullptr) {
    state.SkipWithError("no driver for exemp010");
    return;
  }
  double detach = 0, anchor = 0;
  for (auto _ : state) {
    ZDB_SERVER server;
    server.spec = server.spec_list = client.spec;
    if (zdb_attach_server(&server) != 0) {
      state.SkipWithError("the driver did not attach");
      return;
    }
    const auto start = Clock::now();
    zdb_detach_server(&server);
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    detach += took;
    anchor += ChildEndAnchor();
    state.SetIterationTime(took);
  }
  state.counters["anchor_us"] = anchor / static_cast<double>(state.iterations()) * 1e6;
  state.counters["ratio"] = anchor > 0 ? detach / anchor : 0;
}
BENCHMARK(BM_DetachChildDriver)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
