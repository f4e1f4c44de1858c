// Hosts that mix, at random, long queries (also over a row of their own
// write transaction), slow fetches of open results with a write beside
// them, increments of counter rows by long SQL UPDATEs or records after a
// read with or without a lock (the host sometimes stopped, SIGSTOP, past
// the idle limit in between), SQL UPDATEs that fail (a cardinality
// violation after they reached a counter row, a time-out that takes their
// transaction with it) beside an increment, record transactions that lock
// two counter rows in random order and increment both, SQL UPDATEs over
// two counter rows (which wait for each), commits and kills, beside a
// client that sends requests and stops reading the answers, against a
// server whose
// limits are all 1 s: the server lives, every count it answers is exact,
// nothing is refused but for another host's lock or write or the host's
// own stillness, a locked row never changes under its reader, and each
// counter holds what its commits acknowledged; no SQL UPDATE is refused
// for a circle of waits. The seed is printed with
// every failure; MOLVANE_TEST_SEED runs one again.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host_server.h"

namespace {

using molvane::test::DialWithSession;
using molvane::test::HostServer;
using molvane::test::kVersionRequest;
using molvane::test::Process;

constexpr int kRows = 110;     // Q0..Q109, budgets 0..109, beside SALES (1)
constexpr int kCounters = 4;   // exemp010 rows 1..4, their salaries counters
constexpr int kMixHosts = 6;
constexpr auto kMixTime = std::chrono::seconds(8);  // in each form
const char kEnd[] = "~end";

// The lines a host answers to `command`, up to the marker echoed after it;
// false when an answer did not come.
bool Ask(Process &host, const std::string &command, std::vector<std::string> *lines) {
  lines->clear();
  if (!host.Send(command) || !host.Send(std::string("echo ") + kEnd)) return false;
  for (std::string line; (line = host.Line()) != kEnd; lines->push_back(line))
    if (line.empty()) return false;
  return true;
}

// The number in "(K rows)" among the lines, -1 when there is none or an
// error line follows it.
long RowsOf(const std::vector<std::string> &lines) {
  long rows = -1;
  for (const std::string &line : lines) {
    if (line.rfind("error ", 0) == 0) return -1;
    if (line.size() > 6 && line[0] == '(' && line.find(" row") != std::string::npos) rows = std::atol(&line[1]);
  }
  return rows;
}

TEST_P(HostServer, RandomMixOfLongStatementsLocksCommitsAndKillsKeepsEveryAnswerExact) {
  unsigned seed = std::random_device{}();
  if (const char *fixed = std::getenv("MOLVANE_TEST_SEED")) seed = static_cast<unsigned>(std::atol(fixed));
  Restart({"--open-result-limit=1", "--idle-transaction-limit=1", "--wal-spill-mib=1"});
  Fill(kRows);
  {
    auto setup = Host();
    ASSERT_EQ(setup->Do("table create exemp010 1"), "exemp010001: create_table");
    for (int e = 1; e <= kCounters; ++e)
      ASSERT_EQ(setup->Do("insert exemp010 1 emp=" + std::to_string(e) + " salary=0 dept=SALES dcas=SALES "
                          "dnul=SALES drst=SALES"),
                "buffered insert on exemp010001");
    ASSERT_EQ(setup->Do("commit"), "committed");
  }
  // The budgets, and how many pairs of them add up to each sum; how many
  // triples whose first budget is below `below` do, with one budget more
  // when `extra` is not negative. A statement over the triples takes the
  // longer the larger `below` is.
  std::vector<long> budgets(kRows), pairs(2 * kRows);
  for (int i = 0; i < kRows; ++i) budgets[i] = i;
  budgets.push_back(1);
  for (long x : budgets)
    for (long y : budgets) ++pairs[x + y];
  auto triples = [&](int below, int sum, long extra) {
    std::vector<long> all = budgets, two(2 * kRows);
    if (extra >= 0) all.push_back(extra);
    for (long x : all)
      for (long y : all) ++two[x + y];
    long n = 0;
    for (long x : all) n += x < below && sum - x >= 0 && sum - x < 2 * kRows ? two[sum - x] : 0;
    return n;
  };
  auto from = [](int below) {
    return " FROM exdep010 x, exdep010 y, exdep010 z WHERE x.budget < " + std::to_string(below) +
           " AND x.budget + y.budget + z.budget = ";
  };
  auto slow_where = [&](int below) { return " AND (SELECT COUNT(*)" + from(below) + "-1) = 0"; };

  std::mutex mu;
  std::vector<std::string> wrong;  // what went wrong, with the host and its step
  std::array<int, kCounters + 1> acked{}, unsure{};
  std::map<std::string, int> tally;  // outcomes, for the failure message
  int sql_updates = 0, sql_circles = 0;  // SQL UPDATEs run, and those refused for a circle of waits
  const auto until = std::chrono::steady_clock::now() + kMixTime;
  auto host_loop = [&](int index) {
    std::mt19937 rng(seed + static_cast<unsigned>(index));
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto note = [&](const std::string &what) {
      std::lock_guard<std::mutex> lock(mu);
      ++tally[what];
    };
    auto fault = [&](const std::string &what) {
      std::lock_guard<std::mutex> lock(mu);
      wrong.push_back("host " + std::to_string(index) + ": " + what);
    };
    std::vector<std::string> lines;
    // A refusal, by the error number of its answer.
    auto refused = [&](const std::string &what) {
      std::string number;
      for (const std::string &line : lines)
        if (line.rfind("error ", 0) == 0) number = " " + line.substr(6, line.find(' ', 6) - 6);
      note(what + " refused" + number);
      // An SQL UPDATE takes its rows before it waits for the write
      // transaction and lends them while it waits: none of its own
      // holding closes a circle with the record transactions.
      const bool circle = std::any_of(lines.begin(), lines.end(), [](const std::string &line) {
        return line.find("it would have waited in a circle") != std::string::npos;
      });
      if (circle && (what == "update" || what == "two-row update")) {
        std::lock_guard<std::mutex> lock(mu);
        ++sql_circles;
      }
      // Other hosts' locks and writes refuse (107, 201; 520 for a batch),
      // and so does the end of a transaction whose host sat still (510).
      if (number != " 107" && number != " 201" && number != " 510" && number != " 520")
        fault(what + " refused: " + (lines.empty() ? "" : lines.back()));
    };
    std::unique_ptr<Process> host = Host();
    // Commits the transaction that made the counters `es` one larger each;
    // false when no answer came. A row its session holds locked has not
    // changed since it was read: its update is never refused as changed
    // (201).
    auto commit = [&](const std::vector<int> &es, bool locked) {
      if (!Ask(*host, "commit", &lines)) {
        std::lock_guard<std::mutex> lock(mu);
        for (int e : es) ++unsure[e];
        return false;
      }
      const bool ok = lines == std::vector<std::string>{"committed"};
      if (ok) {
        std::lock_guard<std::mutex> lock(mu);
        for (int e : es) ++acked[e];
      }
      if (ok)
        note("committed");
      else
        refused("commit");
      if (locked && !lines.empty() && lines.back().find("error 201") != std::string::npos)
        fault("the row it held locked changed: " + lines.back());
      return true;
    };
    while (std::chrono::steady_clock::now() < until) {
      const int op = pick(13), e = 1 + pick(kCounters), below = 1 + pick(kRows / 4);
      const int other = 1 + (e + pick(kCounters - 1)) % kCounters;  // a second counter, not e
      bool answered = true;
      const std::string emp = "exemp010 1 emp=" + std::to_string(e);
      if (op < 3) {  // a long count, half of them inside a write transaction
        const int sum = pick(3 * kRows - 2);
        const long extra = pick(2) == 0 ? pick(kRows) : -1;  // a row of its own transaction
        if (extra >= 0)
          answered = Ask(*host, "insert exdep010 1 code=T" + std::to_string(index) + " budget=" + std::to_string(extra),
                         &lines) &&
                     Ask(*host, "flush", &lines);
        const bool inserted = lines == std::vector<std::string>{"flushed"};
        const long expected = triples(below, sum, inserted ? extra : -1);
        answered = answered &&
                   Ask(*host, "sql run 1 SELECT COUNT(*) :n" + from(below) + std::to_string(sum), &lines);
        if (answered && RowsOf(lines) == 1 && lines.size() == 4) {
          note("count");
          if (std::atol(lines[2].c_str()) != expected)
            fault("count of sum " + std::to_string(sum) + " below " + std::to_string(below) +
                  (inserted ? " with its own row of budget " + std::to_string(extra) : std::string()) +
                  " answered " + lines[2] + ", not " + std::to_string(expected));
        } else if (answered) {
          refused("count");
        }
        answered = answered && Ask(*host, "abort", &lines);
      } else if (op < 4) {  // a result fetched slowly, with a write beside it
        const int sum = pick(2 * kRows - 1), per = 5 + pick(40);
        long got = 0, rows = per;
        answered = Ask(*host, "sql prepare q SELECT x.code FROM exdep010 x, exdep010 y WHERE x.budget + y.budget = " +
                                  std::to_string(sum), &lines) &&
                   Ask(*host, "sql rows q " + std::to_string(per), &lines) && Ask(*host, "sql exec q 1", &lines);
        for (int round = 0; answered && rows == per; ++round) {
          if (round < 3) usleep(static_cast<useconds_t>(pick(1300)) * 1000);
          if (round == 1) answered = Ask(*host, "update " + emp, &lines) && Ask(*host, "flush", &lines);
          answered = answered && Ask(*host, "sql fetch q " + std::to_string(per), &lines);
          rows = RowsOf(lines);
          got += std::max(rows, 0L);
        }
        if (answered && rows >= 0) {
          note("fetch");
          if (got != pairs[sum])
            fault("fetch of sum " + std::to_string(sum) + " gave " + std::to_string(got) + " rows, not " +
                  std::to_string(pairs[sum]));
        } else if (answered) {
          refused("fetch");
        }
        answered = answered && Ask(*host, "sql close q", &lines) && Ask(*host, "abort", &lines);
      } else if (op < 9) {  // a read, locked or not, maybe a pause, and the increment by a long SQL UPDATE
                            // (that wants the value read when the row is not locked) or by a record
        const bool sql = op < 6, locked = !sql || pick(2) == 0;
        answered = Ask(*host, (locked ? "lockread " : "read ") + emp, &lines);
        const std::size_t at = lines.empty() ? std::string::npos : lines[0].find(" salary=");
        if (answered && at != std::string::npos) {
          const long salary = std::atol(lines[0].c_str() + at + 8);
          const int pause = pick(4);
          if (pause == 0) usleep(static_cast<useconds_t>(pick(1300)) * 1000);
          if (pause == 1) {  // a holder that stops, as under a debugger: others wait for it, not for ever
            note("stopped");
            kill(host->pid(), SIGSTOP);
            usleep(static_cast<useconds_t>(pick(2500)) * 1000);
            kill(host->pid(), SIGCONT);
          }
          if (sql) {
            std::lock_guard<std::mutex> lock(mu);
            ++sql_updates;
          }
          answered = sql ? Ask(*host, "sql run 1 UPDATE exemp010 SET salary = " + std::to_string(salary + 1) +
                                          " WHERE emp = " + std::to_string(e) +
                                          (locked ? "" : " AND salary = " + std::to_string(salary)) + slow_where(below),
                               &lines)
                         : Ask(*host, "update " + emp + " salary=" + std::to_string(salary + 1), &lines);
          if (answered && lines.size() == 1 && lines[0] == (sql ? "1 row updated" : "buffered update on exemp010001"))
            answered = commit({e}, locked);
          else if (answered && !(sql && !locked && lines == std::vector<std::string>{"0 rows updated"}))
            refused(sql ? "update" : "record update");
          else if (answered)
            note("changed meanwhile");
        } else if (answered) {
          refused(locked ? "lock" : "read");
        }
        answered = answered && Ask(*host, "abort", &lines);
      } else if (op < 10) {  // a statement that fails, and the increment by a record
        const bool timed = pick(2) == 0;
        answered = Ask(*host, "lockread " + emp, &lines);
        const std::size_t at = lines.empty() ? std::string::npos : lines[0].find(" salary=");
        if (answered && at != std::string::npos) {
          const std::string next = std::to_string(std::atol(lines[0].c_str() + at + 8) + 1);
          bool lost = false;
          if (!timed) {
            // It fails with 310 once it reached the row, or before: its
            // transaction goes on, and the row is as it was.
            answered = Ask(*host, "sql run 1 UPDATE exemp010 SET salary = 1000000 WHERE emp = " + std::to_string(e) +
                                      " OR salary = (SELECT salary FROM exemp010 WHERE salary >= 0)",
                           &lines);
            if (answered && (lines.size() != 1 || lines[0].rfind("error 310 ", 0) != 0))
              refused("failing update");
            else if (answered)
              note("failed as meant");
            answered = answered && Ask(*host, "update " + emp + " salary=" + next, &lines);
          } else {
            // The increment flushed, then a statement that its time-out
            // may interrupt (SQLite then rolls the transaction back): a
            // commit after that is refused.
            answered = Ask(*host, "update " + emp + " salary=" + next, &lines) && Ask(*host, "flush", &lines);
            if (answered && lines == std::vector<std::string>{"flushed"}) {
              answered = Ask(*host, "sql prepare u UPDATE exdep010 SET budget = 1 WHERE code = 'SALES'" +
                                        slow_where(kRows),
                             &lines) &&
                         Ask(*host, "sql timeout u 1", &lines) && Ask(*host, "sql exec u 1", &lines);
              lost = answered && lines.size() == 1 && lines[0].rfind("error 313 ", 0) == 0;
              if (lost) note("timed out");
              if (answered && !lost && lines != std::vector<std::string>{"1 row updated"}) refused("timed update");
              answered = answered && Ask(*host, "sql close u", &lines);
            }
          }
          if (answered && (lines.empty() || lines.back().rfind("error ", 0) != 0)) {
            answered = commit({e}, true);
            if (lost && lines == std::vector<std::string>{"committed"})
              fault("a transaction that SQLite rolled back at its statement's time-out was committed");
          }
        } else if (answered) {
          refused("lock");
        }
        answered = answered && Ask(*host, "abort", &lines);
      } else if (op == 11) {  // two counters locked in random order, both incremented by records
        std::vector<int> es{e, other}, salaries;
        for (std::size_t i = 0; answered && salaries.size() == i && i < 2; ++i) {
          answered = Ask(*host, "lockread exemp010 1 emp=" + std::to_string(es[i]), &lines);
          const std::size_t at = lines.empty() ? std::string::npos : lines[0].find(" salary=");
          if (answered && at != std::string::npos)
            salaries.push_back(static_cast<int>(std::atol(lines[0].c_str() + at + 8)));
          else if (answered)
            refused(i == 0 ? "lock" : "second lock");
        }
        for (std::size_t i = 0; answered && salaries.size() == 2 && i < 2; ++i) {
          answered = Ask(*host, "update exemp010 1 emp=" + std::to_string(es[i]) +
                                    " salary=" + std::to_string(salaries[i] + 1), &lines);
          if (answered && lines != std::vector<std::string>{"buffered update on exemp010001"}) salaries.clear();
        }
        if (answered && salaries.size() == 2) answered = commit(es, true);
        answered = answered && Ask(*host, "abort", &lines);
      } else if (op == 12) {  // an SQL UPDATE over two counter rows that changes no counter
        {
          std::lock_guard<std::mutex> lock(mu);
          ++sql_updates;
        }
        answered = Ask(*host, "sql run 1 UPDATE exemp010 SET name = 'mix' WHERE emp IN (" + std::to_string(e) +
                                  ", " + std::to_string(other) + ")",
                       &lines);
        if (answered && lines == std::vector<std::string>{"2 rows updated"})
          note("two rows updated");
        else if (answered)
          refused("two-row update");
        answered = answered && Ask(*host, pick(2) == 0 ? "commit" : "abort", &lines);
      } else {  // a long statement, and the host killed in its middle
        host->Send(pick(2) == 0 ? "sql run 1 SELECT COUNT(*) :n" + from(below) + "7"
                                : "sql run 1 UPDATE exemp010 SET salary = 1000000 WHERE emp = " +
                                      std::to_string(e) + slow_where(below));
        usleep(static_cast<useconds_t>(100 + pick(1500)) * 1000);
        answered = false;
        note("killed");
      }
      if (!answered) {  // gone out of step, or killed on purpose: a new host
        if (op < 9) note("unanswered");
        host->Kill();
        host = Host();
      }
    }
  };
  // A client that sends requests and never reads the answers, for as long
  // as the mix runs.
  std::thread stalled([&] {
    const int fd = DialWithSession(listen_, root_.path() + "/main.db.secret");
    std::string requests;
    for (int i = 0; i < 4096; ++i) requests.append(kVersionRequest, sizeof kVersionRequest);
    for (std::size_t sent = 0; fd >= 0 && sent < (32u << 20) && std::chrono::steady_clock::now() < until;) {
      const ssize_t n = send(fd, requests.data(), requests.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 100);
    }
    while (std::chrono::steady_clock::now() < until) usleep(100000);
    if (fd >= 0) close(fd);
  });
  std::vector<std::thread> threads;
  for (int i = 0; i < kMixHosts; ++i) threads.emplace_back(host_loop, i);
  for (std::thread &t : threads) t.join();
  stalled.join();

  std::ostringstream outcomes;
  outcomes << "seed " << seed << " (MOLVANE_TEST_SEED runs it again);";
  for (const auto &[what, n] : tally) outcomes << " " << what << " " << n << ",";
  ASSERT_EQ(waitpid(server_->pid(), nullptr, WNOHANG), 0) << "the server ended; " << outcomes.str();
  for (const std::string &what : wrong) ADD_FAILURE() << what << "; " << outcomes.str();
  // No SQL UPDATE of the mix holds anything another host waits for while
  // it waits itself (its transaction holds at most the row it changes, and
  // the statement waits for a row holding none it took and no write
  // transaction it began): every circle that refuses one is of the
  // server's own making, such as a record writer's lock of a row the
  // statement would change, taken after the statement was sent, that the
  // statement then waits for with the write transaction.
  EXPECT_EQ(sql_circles, 0)
      << sql_circles << " of " << sql_updates << " SQL UPDATEs refused for a circle of waits; " << outcomes.str();
  auto check = Host();
  for (int e = 1; e <= kCounters; ++e) {
    const std::string row = check->Do("read exemp010 1 emp=" + std::to_string(e));
    const std::size_t at = row.find(" salary=");
    const long salary = at == std::string::npos ? -1 : std::atol(row.c_str() + at + 8);
    EXPECT_TRUE(salary >= acked[e] && salary <= acked[e] + unsure[e])
        << row << " after " << acked[e] << " acknowledged commits and " << unsure[e] << " unanswered; "
        << outcomes.str();
  }
  std::cout << outcomes.str() << "\n";
}

// Record writers that lock one or two rows each (in random order), change
// them and commit, as fast as they can, beside hosts that run SQL UPDATEs
// of two of those rows and commit: the writers lock rows the statements
// will change after the statements were sent, and lock them while the
// statements wait for the write transaction. A statement takes its rows
// before it waits for the write transaction and never waits for a row
// while it holds one the writers need (a row it took, or the write
// transaction it began): no statement is refused for a circle of waits.
// Counted by statements, not by time; the seed is printed with every
// failure. Nor is a writer refused for a statement's host.
TEST_P(HostServer, SqlUpdatesBesideRecordWritersCloseNoCircleOfWaits) {
  unsigned seed = std::random_device{}();
  if (const char *fixed = std::getenv("MOLVANE_TEST_SEED")) seed = static_cast<unsigned>(std::atol(fixed));
  constexpr int kEmps = 8, kWriters = 4, kSqlHosts = 2, kStatements = 40;
  Restart({"--lock-wait-ms=2000"});
  {
    auto setup = Host();
    ASSERT_EQ(setup->Do("table create exemp010 1"), "exemp010001: create_table");
    for (int e = 1; e <= kEmps; ++e)
      ASSERT_EQ(setup->Do("insert exemp010 1 emp=" + std::to_string(e) + " salary=0 dept=SALES dcas=SALES "
                          "dnul=SALES drst=SALES"),
                "buffered insert on exemp010001");
    ASSERT_EQ(setup->Do("commit"), "committed");
  }
  std::mutex mu;
  std::map<std::string, int> tally;
  std::vector<std::string> circles, wrong, record_refusals;
  std::vector<pid_t> sql_hosts;
  std::atomic<int> sql_left{kSqlHosts};
  auto note = [&](const std::string &what) {
    std::lock_guard<std::mutex> lock(mu);
    ++tally[what];
  };
  auto fault = [&](const std::string &what) {
    std::lock_guard<std::mutex> lock(mu);
    wrong.push_back(what);
  };
  auto writer = [&](int index) {
    std::mt19937 rng(seed + static_cast<unsigned>(index));
    auto host = Host();
    std::vector<std::string> lines;
    while (sql_left > 0) {
      const int first = 1 + static_cast<int>(rng() % kEmps);
      const int second = rng() % 2 == 0 ? 0 : 1 + static_cast<int>((first + rng() % (kEmps - 1)) % kEmps);
      bool ok = true;
      for (int e : {first, second}) {
        if (e == 0 || !ok) continue;
        const std::string emp = "exemp010 1 emp=" + std::to_string(e);
        if (!Ask(*host, "lockread " + emp, &lines)) return fault("a writer's lock went unanswered");
        const std::size_t at = lines.size() == 1 ? lines[0].find(" salary=") : std::string::npos;
        ok = at != std::string::npos;
        if (ok && !Ask(*host, "update " + emp + " salary=" + std::to_string(std::atol(lines[0].c_str() + at + 8) + 1),
                       &lines))
          return fault("a writer's update went unanswered");
      }
      if (ok && !Ask(*host, "commit", &lines)) return fault("a writer's commit went unanswered");
      const bool committed = ok && lines == std::vector<std::string>{"committed"};
      note(committed ? "record committed" : "record refused");
      if (!committed && !lines.empty()) {
        std::lock_guard<std::mutex> lock(mu);
        record_refusals.push_back(lines.back());
      }
      if (!Ask(*host, "abort", &lines)) return fault("a writer's abort went unanswered");
    }
  };
  auto sql = [&](int index) {
    std::mt19937 rng(seed + 100 + static_cast<unsigned>(index));
    auto host = Host();
    {
      std::lock_guard<std::mutex> lock(mu);
      sql_hosts.push_back(host->pid());
    }
    std::vector<std::string> lines;
    for (int n = 0; n < kStatements; ++n) {
      const int first = 1 + static_cast<int>(rng() % kEmps);
      const int second = 1 + static_cast<int>((first + rng() % (kEmps - 1)) % kEmps);
      if (!Ask(*host, "sql run 1 UPDATE exemp010 SET name = 'sql' WHERE emp IN (" + std::to_string(first) + ", " +
                          std::to_string(second) + ")",
               &lines)) {
        fault("an UPDATE went unanswered");
        break;
      }
      const bool updated = lines == std::vector<std::string>{"2 rows updated"};
      if (!updated && std::any_of(lines.begin(), lines.end(), [](const std::string &line) {
            return line.find("it would have waited in a circle") != std::string::npos;
          })) {
        std::lock_guard<std::mutex> lock(mu);
        circles.push_back(lines.back());
      }
      note(updated ? "sql updated" : "sql refused");
      if (!Ask(*host, updated ? "commit" : "abort", &lines)) {
        fault("an SQL host's commit went unanswered");
        break;
      }
    }
    --sql_left;
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < kWriters; ++i) threads.emplace_back(writer, i);
  for (int i = 0; i < kSqlHosts; ++i) threads.emplace_back(sql, i);
  for (std::thread &t : threads) t.join();
  std::ostringstream outcomes;
  outcomes << "seed " << seed << " (MOLVANE_TEST_SEED runs it again);";
  for (const auto &[what, n] : tally) outcomes << " " << what << " " << n << ",";
  for (const std::string &what : wrong) ADD_FAILURE() << what << "; " << outcomes.str();
  EXPECT_EQ(circles.size(), 0u) << circles.size() << " SQL UPDATEs refused for a circle of waits, the first: "
                                << (circles.empty() ? "" : circles.front()) << "; " << outcomes.str();
  // The writers refuse each other (they lock rows in random order), never
  // for a row or write transaction of a statement: over a Unix socket a
  // refusal names the holder's process.
  for (const std::string &refusal : record_refusals)
    for (pid_t pid : sql_hosts)
      EXPECT_EQ(refusal.find("of process " + std::to_string(pid) + " "), std::string::npos)
          << "a record transaction was refused for an SQL UPDATE's host: " << refusal << "; " << outcomes.str();
  std::cout << outcomes.str() << "\n";
}

// A statement that waits for the write transaction with its rows lends
// them to a few locked reads, then keeps them and its place: beside record
// writers that keep the write transaction busy and hosts that lock one of
// its rows again and again, it is answered within a few seconds, not when
// the stream stops.
TEST_P(HostServer, StatementBesideAStreamOfLockedReadsOfItsRowIsAnswered) {
  Restart({"--lock-wait-ms=2000"});
  {
    auto setup = Host();
    for (const char *code : {"R1", "R2"})
      ASSERT_EQ(setup->Do(std::string("insert exdep010 1 code=") + code), "buffered insert on exdep010001");
    ASSERT_EQ(setup->Do("commit"), "committed");
  }
  std::atomic<bool> streaming{true};
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&, i] {
      auto writer = Host();
      std::vector<std::string> lines;
      for (int n = 0; streaming; ++n) {
        const std::string code = "W" + std::to_string(i) + "N" + std::to_string(n);
        if (!Ask(*writer, "insert exdep010 1 code=" + code, &lines) || !Ask(*writer, "flush", &lines)) return;
        usleep(150000);
        if (!Ask(*writer, "commit", &lines)) return;
      }
    });
    threads.emplace_back([&] {
      auto reader = Host();
      std::vector<std::string> lines;
      while (streaming) {
        if (!Ask(*reader, "lockread exdep010 1 code=R1", &lines)) return;
        usleep(100000);
        if (!Ask(*reader, "abort", &lines)) return;
      }
    });
  }
  usleep(500000);
  auto s = Host();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(s->Do("sql run 1 UPDATE exdep010 SET name = 'stmt' WHERE code IN ('R1', 'R2')"), "2 rows updated");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8)) << "the statement lent its rows for as long as locked reads asked for them";
  EXPECT_EQ(s->Do("commit"), "committed");
  streaming = false;
  for (std::thread &t : threads) t.join();
}

}  // namespace
