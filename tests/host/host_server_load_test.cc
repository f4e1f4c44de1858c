// Loads of hosts in forked processes on one driver server: hosts that
// increment hot rows and insert rows end with every row equal to what was
// committed, and 64 hosts on one hot row are served in turn.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <molvane/datetime.h>
#include <molvane/dd.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>
#include <molvane/zdb_detail.h>
#include <molvane/zdb_refs.h>

#include "dbc/dict/dd.h"
#include "host_server.h"

namespace {

using molvane::test::HostServer;
using molvane::test::Reap;

// Runs `count` hosts in forked processes, host i as body(i, report) with a
// pipe to report on, and returns what they reported once each has ended;
// each must end with status 0 within `ms`.
std::string RunForkedHosts(int count, const std::function<int(int, int)> &body, int ms) {
  std::vector<pid_t> pids;
  std::vector<int> reports;
  for (int i = 0; i < count; ++i) {
    int fds[2];
    if (pipe(fds) != 0) {
      ADD_FAILURE() << "pipe: " << std::strerror(errno);
      break;
    }
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      std::exit(body(i, fds[1]));
    }
    close(fds[1]);
    pids.push_back(pid);
    reports.push_back(fds[0]);
  }
  std::string text;
  for (int fd : reports) {
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
    close(fd);
  }
  for (pid_t pid : pids) EXPECT_EQ(Reap(pid, ms), 0) << "a host failed or hung";
  return text;
}

// Hosts in forked processes take locked reads of three hot rows and add 1
// to their salary, insert rows of their own, and abort every fourth
// transaction; conflicts are retried. Each reports what it committed and
// what it aborted on a pipe.
constexpr int kHosts = 4;
constexpr int kRounds = 40;
constexpr int kHot = 3;

void SetEmp(const DD_TABLE *table, unsigned char *row, int emp) {
  fill_default_row(table, row);
  DD_COLUMN *e = ddcolumn("exemp010.emp");
  for (int i = 0; i < 4; ++i) row[e->offset + e->length - 1 - i] = static_cast<unsigned char>(emp >> (8 * i));
}

int LoadHost(int index, int report) {
  int trans = 0;
  ZDB_CURSOR *cursor = nullptr;
  static unsigned char row[DD_MAX_ROW_LENGTH];
  // The rows of this test refer to no department: it is about locks, so
  // the load hosts write with references off.
  zdb_disable_references();
  if (zdb_init_api("load", nullptr, 0, 0) != 0 || zdb_logon("ann") != 0 ||
      (trans = zdb_start_session("load")) <= 0 || zdb_open(&cursor, "exemp010", 1, row, 0, trans) != 0)
    return 1;
  const DD_TABLE *table = ddtable("exemp010");
  const DD_COLUMN *salary = ddcolumn("exemp010.salary");
  for (int r = 0; r < kRounds; ++r) {
    int hot = 1 + (index + r) % kHot;
    int insert = 1000 * (index + 1) + r;
    SetEmp(table, row, hot);
    bool ok = zdb_exec_row(cursor, db_eq_locked, 0, 1) == 0 && zdb_exec_row(cursor, db_eq_delayed, 0, 1) == 0;
    if (ok) {
      float_in(float_out(row + salary->offset) + 1, row + salary->offset);
      ok = zdb_exec_row(cursor, db_update_51, 0, 1) == 0;
    }
    if (ok && r % 3 == 0) {
      SetEmp(table, row, insert);
      ok = zdb_exec_row(cursor, db_insert_51, 0, 1) == 0;
    }
    bool commit = ok && r % 4 != 3;
    if (commit && zdb_exec_db(commit_trans, trans) == 0) {
      dprintf(report, "inc %d\n", hot);
      if (r % 3 == 0) dprintf(report, "ins %d\n", insert);
    } else {
      zdb_exec_db(abort_trans, trans);
      if (r % 3 == 0) dprintf(report, "gone %d\n", insert);
      usleep(1000);
    }
  }
  return zdb_logoff() == 0 ? 0 : 2;
}

TEST_P(HostServer, HotRowIncrementsAndInsertsOfManyHostsEqualWhatWasCommitted) {
  auto setup = Host();
  EXPECT_EQ(setup->Do("table create exemp010 1"), "exemp010001: create_table");
  EXPECT_EQ(setup->Do("insert exdep010 1 code=D"), "buffered insert on exdep010001");
  for (int hot = 1; hot <= kHot; ++hot)
    EXPECT_EQ(setup->Do("insert exemp010 1 emp=" + std::to_string(hot) +
                        " salary=0 dept=D dcas=D dnul=D drst=D"),
              "buffered insert on exemp010001");
  EXPECT_EQ(setup->Do("commit"), "committed");

  const std::string text = RunForkedHosts(kHosts, LoadHost, 60000);

  std::map<int, int> increments;
  std::set<int> inserted, gone;
  std::istringstream lines(text);
  for (std::string what; lines >> what;) {
    int n = 0;
    lines >> n;
    if (what == "inc") ++increments[n];
    if (what == "ins") inserted.insert(n);
    if (what == "gone") gone.insert(n);
  }
  EXPECT_GT(increments.size(), 0u);
  for (int hot = 1; hot <= kHot; ++hot) {
    std::string row = setup->Do("read exemp010 1 emp=" + std::to_string(hot));
    EXPECT_NE(row.find(" salary=" + std::to_string(increments[hot]) + " "), std::string::npos)
        << row << " after " << increments[hot] << " committed increments";
  }
  for (int emp : inserted) EXPECT_EQ(setup->Do("read exemp010 1 emp=" + std::to_string(emp)).rfind("exemp010001: ", 0), 0u);
  for (int emp : gone)
    EXPECT_EQ(setup->Do("read exemp010 1 emp=" + std::to_string(emp)),
              "error 111 (no record found): No record found in exemp010001 (db_eq on index 1, key emp = " +
                  std::to_string(emp) + ")");
  EXPECT_EQ(setup->Do("table count exemp010 1"), "exemp010001: " + std::to_string(kHot + inserted.size()) + " rows");
}

// Hosts in forked processes add 1 to one hot row: a read, an update with
// the old image checked at the commit, the commit. Each reports its
// commits and its failures with their error (201 when another host's
// commit came first).
int HotRowHost(int rounds, int report) {
  int trans = 0;
  ZDB_CURSOR *cursor = nullptr;
  static unsigned char row[DD_MAX_ROW_LENGTH];
  zdb_disable_references();
  if (zdb_init_api("hot", nullptr, 0, 0) != 0 || zdb_logon("ann") != 0 ||
      (trans = zdb_start_session("hot")) <= 0 || zdb_open(&cursor, "exemp010", 1, row, 0, trans) != 0)
    return 1;
  const DD_TABLE *table = ddtable("exemp010");
  const DD_COLUMN *salary = ddcolumn("exemp010.salary");
  for (int r = 0; r < rounds; ++r) {
    SetEmp(table, row, 1);
    bool ok = zdb_exec_row(cursor, db_eq_delayed, 0, 1) == 0;
    if (ok) {
      float_in(float_out(row + salary->offset) + 1, row + salary->offset);
      ok = zdb_exec_row(cursor, db_update_51, 0, 1) == 0;
    }
    if (ok && zdb_exec_db(commit_trans, trans) == 0) {
      dprintf(report, "inc 0\n");
      continue;
    }
    // A failed batch (520) names the error of the update that failed.
    int error = zdb_errno;
    char name[9] = {};
    int compnr = 0;
    const char *extra = nullptr;
    if (error == 520) error = zdb_get_detail_error(name, &compnr, &extra, trans);
    dprintf(report, "fail %d\n", error);
    zdb_exec_db(abort_trans, trans);
  }
  return zdb_logoff() == 0 ? 0 : 2;
}

// Writes wait for the write transaction first come, first served: with 64
// hosts on one hot row, under 1% of the commits end in 107, and the row
// holds every committed increment.
TEST_P(HostServer, SixtyFourHostsOnOneHotRowAreServedInTurn) {
  constexpr int kMany = 64;
  constexpr int kTurns = 8;
  auto setup = Host();
  EXPECT_EQ(setup->Do("table create exemp010 1"), "exemp010001: create_table");
  EXPECT_EQ(setup->Do("insert exdep010 1 code=D"), "buffered insert on exdep010001");
  EXPECT_EQ(setup->Do("insert exemp010 1 emp=1 salary=0 dept=D dcas=D dnul=D drst=D"),
            "buffered insert on exemp010001");
  EXPECT_EQ(setup->Do("commit"), "committed");
  const std::string text =
      RunForkedHosts(kMany, [](int, int report) { return HotRowHost(kTurns, report); }, 120000);
  int committed = 0, locked = 0, conflicts = 0, other = 0, other_error = 0;
  std::istringstream lines(text);
  for (std::string what; lines >> what;) {
    int error = 0;
    lines >> error;
    if (what == "inc") {
      ++committed;
    } else if (error == 107) {
      ++locked;
    } else if (error == 201) {
      ++conflicts;
    } else {
      ++other;
      other_error = error;
    }
  }
  EXPECT_EQ(committed + locked + conflicts + other, kMany * kTurns);
  EXPECT_EQ(other, 0) << "error " << other_error;
  EXPECT_GT(committed, 0);
  EXPECT_LT(locked * 100, kMany * kTurns) << locked << " of " << kMany * kTurns << " commits ended in 107";
  std::string row = setup->Do("read exemp010 1 emp=1");
  EXPECT_NE(row.find(" salary=" + std::to_string(committed) + " "), std::string::npos)
      << row << " after " << committed << " committed increments";
}

}  // namespace
