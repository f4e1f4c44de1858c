// Schedules of hosts on one driver server: small scripts of requests for
// two to four hosts (locked reads, table locks, clears and drops, SQL
// UPDATEs and DELETEs, record batches, commits, aborts, statements with a
// time-out), each run in every order that keeps each host's own order, or
// in a seeded sample of those orders when there are more. A request that
// is not answered within a short grace is taken to wait: the explorer goes
// on with the other hosts' steps and takes that host's next step once it
// is answered, so that the grace only slows a run and never changes its
// verdict. Each run is checked for what any correct server keeps, whatever
// the timing:
// - every request is answered (the waits' bounds are 2 s here);
// - no two hosts hold what conflicts at once, as their answers show: a row
//   locked, read locked or changed, a table locked, cleared or dropped, the
//   write transaction;
// - nothing is refused but for a statement's own time-out, or a request
//   whose wait would close a circle of waits as the answers show (the
//   others wait on);
// - a waiting SQL statement is overtaken by later requests for its rows a
//   few times at most;
// - nothing is held once the transactions have ended: a fresh host then
//   locks every row and the table at once.
// The suite is instantiated in host_server_test.cc.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "host_server.h"

namespace {

using molvane::test::HostServer;
using molvane::test::Process;

constexpr int kGraceMs = 100;           // an answer slower than this is a wait: others go on
constexpr int kAnswerMs = 12000;        // the longest wait for an answer (the bounds are 2 s)
constexpr int kOvertakes = 6;           // later grants of its rows a waiting statement may see
constexpr std::size_t kSchedules = 12;  // every order up to this many, else a sample this large (by default)
const char kMark[] = "~answered";
const char *const kDepRows[] = {"R0", "R1", "R2", "R3", "R4", "R5", "W0"};
const int kKinds = 5;  // rows 1..5 of exknd010, keyed by one byte

// A table keyed by one byte: the row of kind 1 has the one-byte key 1.
const char kKindTable[] =
    ":VERS 2\nF kind\n:NAME exknd010.kind\n:DOMA exbyte\nF note\n:NAME exknd010.note\n:DOMA exname\n"
    "I 1\n:INDX 1\n:ASCD 0\n:DUPL 0\n:KEYF exknd010.kind    \n:END\n";

// One request of a host (with the local lines it needs) and what its
// success lets the host hold: "TABLE/KEY" a row, "TABLE" a table lock,
// "write" the write transaction.
struct Step {
  std::string text;  // as written in the script
  std::vector<std::string> lines;
  std::vector<std::string> takes;
  bool ends = false;       // a commit or abort first: gives back all the host held
  bool statement = false;  // an SQL UPDATE or DELETE, whose takes are its rows and the write transaction
  bool timed = false;      // its refusal by its own time-out (313) is no fault
  std::vector<std::pair<int, int>> after;  // taken only once these steps (host, step) were sent
};

struct Script {
  const char *name;
  std::vector<std::string> hosts;  // each host's steps, " ; " between, "+" inside one
};

bool Numeric(const std::string &row) { return !row.empty() && std::isdigit(static_cast<unsigned char>(row[0])); }
std::string TableOf(const std::string &row) { return Numeric(row) ? "exknd010" : "exdep010"; }
std::string KeyOf(const std::string &row) { return Numeric(row) ? "kind=" + row : "code=" + row; }

// The WHERE clause of an SQL statement over `rows` of one table.
std::string Where(const std::vector<std::string> &rows) {
  auto value = [](const std::string &row) { return Numeric(row) ? row : "'" + row + "'"; };
  const std::string column = Numeric(rows[0]) ? "kind" : "code";
  if (rows.size() == 1) return " WHERE " + column + " = " + value(rows[0]);
  std::string in;
  for (const std::string &row : rows) in += (in.empty() ? "" : ", ") + value(row);
  return " WHERE " + column + " IN (" + in + ")";
}

// Reads one step of a script: phrases joined by "+", then "@B3" for each
// step (host B's third) that must have been sent first.
Step Parse(const std::string &text) {
  Step step;
  step.text = text.substr(text.find_first_not_of(' '));
  step.text.erase(step.text.find_last_not_of(' ') + 1);
  std::istringstream phrases(text);
  for (std::string phrase; std::getline(phrases, phrase, '+');) {
    std::istringstream words(phrase);
    std::string verb, word;
    std::vector<std::string> rows;
    words >> verb;
    while (words >> word) {
      if (word[0] == '@')
        step.after.emplace_back(word[1] - 'A', std::atoi(word.c_str() + 2) - 1);
      else
        rows.push_back(word);
    }
    const std::string table = rows.empty() || rows[0] == "dep" ? "exdep010"
                              : rows[0] == "knd"               ? "exknd010"
                                                               : TableOf(rows[0]);
    if (verb == "commit" || verb == "abort") {
      step.ends = true;
      step.lines.push_back(verb);
    } else if (verb == "lockread" || verb == "read") {
      step.lines.push_back(verb + " " + table + " 1 " + KeyOf(rows[0]));
      if (verb == "lockread") step.takes.push_back(table + "/" + rows[0]);
    } else if (verb == "lock" || verb == "clear" || verb == "drop") {
      step.lines.push_back("table " + verb + " " + table + " 1");
      step.takes.push_back(table);
      if (verb != "lock") step.takes.push_back("write");
    } else if (verb == "insert") {  // a record batch: a new row, flushed
      step.lines.push_back("insert " + table + " 1 " + KeyOf(rows[0]));
      step.lines.push_back("flush");
      step.takes.insert(step.takes.end(), {table + "/" + rows[0], "write"});
    } else if (verb == "write") {  // a record batch: the row's update, flushed
      static int written = 0;      // each batch writes a new value
      const std::string value = std::to_string(++written % 1000 + 2);
      step.lines.push_back("update " + table + " 1 " + KeyOf(rows[0]) + (Numeric(rows[0]) ? " note=w" : " budget=") +
                           value);
      step.lines.push_back("flush");
      step.takes.insert(step.takes.end(), {table + "/" + rows[0], "write"});
    } else {  // update, delete, or tupdate: an UPDATE with a time-out of 1 s
      const std::string column = table == "exknd010" ? "note" : "name";
      const std::string sql = verb == "delete" ? "DELETE FROM " + table + Where(rows)
                                               : "UPDATE " + table + " SET " + column + " = 'u'" + Where(rows);
      step.statement = true;
      step.timed = verb == "tupdate";
      if (step.timed)
        step.lines = {"sql prepare u " + sql, "sql timeout u 1", "sql exec u 1", "sql close u"};
      else
        step.lines.push_back("sql run 1 " + sql);
      for (const std::string &row : rows) step.takes.push_back(table + "/" + row);
      step.takes.push_back("write");
    }
  }
  return step;
}

// What `a` and `b`, held by two hosts, conflict in.
bool Conflict(const std::string &a, const std::string &b) {
  if (a == "write" || b == "write") return a == b;
  if (a.substr(0, a.find('/')) != b.substr(0, b.find('/'))) return false;
  return a == b || a.find('/') == std::string::npos || b.find('/') == std::string::npos;
}

class Explorer {
 public:
  Explorer(const std::function<std::unique_ptr<Process>()> &host, const Script &script) : script_(script) {
    for (const std::string &text : script.hosts) {
      Host h;
      std::istringstream steps(text);
      for (std::string step; std::getline(steps, step, ';');) h.steps.push_back(Parse(step));
      h.process = host();
      hosts_.push_back(std::move(h));
    }
    for (const Host &h : hosts_)
      for (const Step &step : h.steps)
        for (const std::string &line : step.lines) kinds_ = kinds_ || line.find("exknd010") != std::string::npos;
    probe_ = host();
  }

  // Runs the schedules; what went wrong in the first one that failed ("" when none did).
  std::string Explore() {
    std::string wrong = Reset();
    std::vector<std::vector<int>> orders;
    std::vector<int> order;
    Orders(&order, &orders);
    if (orders.size() > schedules_) {  // a sample, the same in every run of one seed
      orders.clear();
      unsigned seed = std::getenv("MOLVANE_TEST_SEED") != nullptr ? std::atoi(std::getenv("MOLVANE_TEST_SEED")) : 0;
      for (const char *c = script_.name; *c != '\0'; ++c) seed = seed * 31 + static_cast<unsigned char>(*c);
      std::mt19937 random(seed);
      for (std::size_t tries = 0; orders.size() < schedules_ && tries < 100 * schedules_; ++tries) {
        order.clear();
        Orders(&order, nullptr, &random);
        if (std::find(orders.begin(), orders.end(), order) == orders.end()) orders.push_back(order);
      }
    }
    for (std::size_t i = 0; wrong.empty() && i < orders.size(); ++i) {
      wrong = Run(orders[i]);
      if (wrong.empty()) wrong = Reset();
      std::string ran;
      for (const std::string &token : trace_) ran += (ran.empty() ? "" : " ") + token;
      if (!wrong.empty()) wrong = "schedule " + Text(orders[i]) + " ran as " + ran + ": " + wrong;
    }
    if (!wrong.empty())
      for (Host &h : hosts_) h.process->Kill();
    return wrong;
  }
  std::size_t runs() const { return runs_; }
  int most_overtaken() const { return most_overtaken_; }
  int circles() const { return circles_; }

 private:
  struct Host {
    std::vector<Step> steps;
    std::unique_ptr<Process> process;
    std::vector<std::string> holds;
    std::vector<std::string> answer;
    int next = 0;      // the next step to send
    int pending = -1;  // the step sent and not answered yet
    long sent_at = 0;  // when (in sendings) the pending step was sent
    std::chrono::steady_clock::time_point sent_time;
    int overtaken = 0;       // grants of its statement's rows to requests sent after it
    bool lost = false;       // its statement's time-out took its transaction
    bool waits = false;      // the pending step was not answered within the grace
    std::size_t traced = 0;  // the pending step's place in the trace
  };

  // Each host's lines, then what the host answered up to the mark.
  static std::string Ask(Process &p, const std::vector<std::string> &lines) {
    for (const std::string &line : lines) p.Send(line);
    p.Send(std::string("echo ") + kMark);
    std::string all;
    for (std::string line; (line = p.Line()) != kMark; all += line + "\n")
      if (line.empty()) return all + "(no answer)";
    return all;
  }

  // Every order of the hosts' steps that keeps each host's order and the
  // steps' "@" (into `all`), or one at random (into `order`).
  void Orders(std::vector<int> *order, std::vector<std::vector<int>> *all, std::mt19937 *random = nullptr) {
    if (all != nullptr && all->size() > schedules_) return;
    std::vector<int> taken(hosts_.size(), 0), ready;
    for (int h : *order) ++taken[h];
    for (std::size_t h = 0; h < hosts_.size(); ++h) {
      if (taken[h] >= static_cast<int>(hosts_[h].steps.size())) continue;
      const Step &step = hosts_[h].steps[taken[h]];
      if (std::all_of(step.after.begin(), step.after.end(),
                      [&](const std::pair<int, int> &a) { return taken[a.first] > a.second; }))
        ready.push_back(static_cast<int>(h));
    }
    if (ready.empty()) {
      if (all != nullptr) all->push_back(*order);
      return;
    }
    if (random != nullptr) {  // the order grows by one step at random (as many chances as steps left), and is kept
      std::vector<int> chances;
      for (int h : ready) chances.insert(chances.end(), hosts_[h].steps.size() - taken[h], h);
      order->push_back(chances[(*random)() % chances.size()]);
      return Orders(order, all, random);
    }
    for (int h : ready) {
      order->push_back(h);
      Orders(order, all, random);
      order->pop_back();
    }
  }

  std::string Text(const std::vector<int> &order) const {
    std::string text;
    std::vector<int> taken(hosts_.size(), 0);
    for (int h : order) text += std::string(text.empty() ? "" : " ") + char('A' + h) + std::to_string(++taken[h]);
    return text;
  }

  // Runs one schedule from fresh rows; "" or what went wrong.
  std::string Run(const std::vector<int> &order) {
    ++runs_;
    trace_.clear();
    wrong_.clear();
    for (Host &h : hosts_) {
      h.holds.clear();
      h.next = 0;
      h.pending = -1;
      h.overtaken = 0;
      h.lost = false;
    }
    std::vector<bool> done(order.size(), false);
    for (;;) {
      Collect();
      // The first step in the order whose host is free and whose "@" were sent.
      std::vector<bool> held(hosts_.size(), false);
      int pick = -1;
      for (std::size_t i = 0; i < order.size() && pick < 0 && wrong_.empty(); ++i) {
        if (done[i] || held[order[i]]) continue;
        Host &h = hosts_[order[i]];
        held[order[i]] = true;
        if (h.pending >= 0) continue;
        const Step &step = h.steps[h.next];
        if (std::all_of(step.after.begin(), step.after.end(),
                        [&](const std::pair<int, int> &a) { return hosts_[a.first].next > a.second; })) {
          pick = static_cast<int>(i);
          done[i] = true;
        }
      }
      if (!wrong_.empty()) return wrong_;
      if (!Overdue().empty()) return "no answer within " + std::to_string(kAnswerMs / 1000) + " s to " + Overdue();
      if (pick >= 0) {
        Send(order[pick]);
        Await([&] { return hosts_[order[pick]].pending < 0; }, kGraceMs);
        if (hosts_[order[pick]].pending >= 0) {
          trace_[hosts_[order[pick]].traced] += "~";
          hosts_[order[pick]].waits = true;
        }
        continue;
      }
      if (std::none_of(hosts_.begin(), hosts_.end(), [](const Host &h) { return h.pending >= 0; }))
        return std::all_of(done.begin(), done.end(), [](bool d) { return d; }) ? "" : "the script cannot go on";
      // Nothing to send until an answer comes.
      const long answered = answered_;
      Await([&] { return answered_ != answered || !wrong_.empty() || !Overdue().empty(); }, kAnswerMs);
    }
  }

  // When a request has waited for its answer longer than any wait of the
  // server may last, the requests that wait (the first that did so ahead);
  // "" while none has.
  std::string Overdue() const {
    std::string overdue, waiting;
    const auto now = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < hosts_.size(); ++i) {
      if (hosts_[i].pending < 0) continue;
      const std::string step =
          char('A' + i) + std::to_string(hosts_[i].pending + 1) + " (" + hosts_[i].steps[hosts_[i].pending].text + ")";
      if (overdue.empty() && now - hosts_[i].sent_time > std::chrono::milliseconds(kAnswerMs))
        overdue = step;
      else
        waiting += ", " + step;
    }
    return overdue.empty() ? "" : overdue + waiting;
  }

  void Send(int index) {
    Host &h = hosts_[index];
    const Step &step = h.steps[h.next];
    if (step.ends) h.holds.clear();
    h.pending = h.next++;
    h.waits = false;
    h.sent_at = ++sendings_;
    h.sent_time = std::chrono::steady_clock::now();
    h.answer.clear();
    h.traced = trace_.size();
    trace_.push_back(char('A' + index) + std::to_string(h.next));
    for (const std::string &line : step.lines) h.process->Send(line);
    h.process->Send(std::string("echo ") + kMark);
  }

  // Polls the hosts until `done` or `ms` have passed; whether `done` came.
  bool Await(const std::function<bool()> &done, int ms) {
    for (int waited = 0;; waited += 10) {
      Collect();
      if (done()) return true;
      if (waited >= ms) return false;
      usleep(10000);
    }
  }

  // Takes the answers that came, and judges each.
  void Collect() {
    for (std::size_t i = 0; i < hosts_.size(); ++i) {
      Host &h = hosts_[i];
      while (h.pending >= 0 && h.process->HasOutput()) {
        const std::string line = h.process->Line();
        if (line.empty()) {
          wrong_ = std::string(1, char('A' + i)) + " ended";
          return;
        }
        if (line != kMark) {
          h.answer.push_back(line);
          continue;
        }
        ++answered_;
        Judge(static_cast<int>(i));
      }
    }
  }

  void Judge(int index) {
    Host &h = hosts_[index];
    const Step &step = h.steps[h.pending];
    const std::string name = std::string(1, char('A' + index)) + std::to_string(h.pending + 1);
    if (h.waits) trace_.push_back(name + "!");  // answered after the grace
    const bool circle = InCircle(index);
    h.pending = -1;
    std::vector<std::string> takes = step.takes;
    for (const std::string &line : h.answer) {
      if (line.rfind("error ", 0) != 0) {
        if (line.rfind("0 rows", 0) == 0) takes.clear();  // a statement that changed nothing holds nothing
        continue;
      }
      if ((step.timed && line.rfind("error 313 ", 0) == 0) ||
          (h.lost && line.find("error 510 ") != std::string::npos)) {
        // SQLite rolled the transaction back: what it held may go before
        // its abort.
        h.lost = true;
        h.holds.clear();
        takes.clear();
        continue;
      }
      if (circle && line.rfind("error 107 ", 0) == 0 && line.find("in a circle") != std::string::npos) {
        ++circles_;
        takes.clear();
        continue;
      }
      wrong_ = name + " (" + step.text + ") was refused: " + line;
      return;
    }
    if (step.statement && h.lost) takes.clear();
    for (std::size_t o = 0; o < hosts_.size(); ++o) {
      Host &other = hosts_[o];
      if (static_cast<int>(o) == index) continue;
      for (const std::string &take : takes)
        for (const std::string &held : other.holds)
          if (Conflict(take, held))
            wrong_ = name + " (" + step.text + ") was given " + take + " while " + char('A' + o) + " held " + held;
      // A grant to a request sent after a statement that still waits for
      // a row of it overtook that statement.
      if (other.pending < 0 || !other.steps[other.pending].statement || h.sent_at < other.sent_at) continue;
      const std::vector<std::string> &rows = other.steps[other.pending].takes;
      const bool overtakes = std::any_of(takes.begin(), takes.end(), [&](const std::string &take) {
        return std::any_of(rows.begin(), rows.end(),
                           [&](const std::string &row) { return row != "write" && Conflict(take, row); });
      });
      if (overtakes) most_overtaken_ = std::max(most_overtaken_, ++other.overtaken);
      if (other.overtaken > kOvertakes)
        wrong_ = std::string(1, char('A' + o)) + std::to_string(other.pending + 1) + " (" +
                 other.steps[other.pending].text + ") was overtaken " + std::to_string(other.overtaken) +
                 " times by later requests for its rows";
    }
    h.holds.insert(h.holds.end(), takes.begin(), takes.end());
  }

  // Whether the request of host `from` waits, directly or through other
  // requests that wait, for `from` itself, as the answers show: a request
  // waits for the hosts that hold what conflicts with what it asks for. (A
  // request that waits holds nothing in this view, so scripts that may
  // close a circle keep to locked reads.)
  bool InCircle(int from) const {
    std::vector<int> todo{from};
    std::vector<bool> seen(hosts_.size(), false);
    while (!todo.empty()) {
      const Host &waiter = hosts_[todo.back()];
      const int self = todo.back();
      todo.pop_back();
      if (waiter.pending < 0) continue;
      const std::vector<std::string> &wants = waiter.steps[waiter.pending].takes;
      for (std::size_t h = 0; h < hosts_.size(); ++h) {
        const bool waits =
            static_cast<int>(h) != self && std::any_of(wants.begin(), wants.end(), [&](const std::string &want) {
              return std::any_of(hosts_[h].holds.begin(), hosts_[h].holds.end(),
                                 [&](const std::string &held) { return Conflict(want, held); });
            });
        if (waits && static_cast<int>(h) == from) return true;
        if (waits && !seen[h]) {
          seen[h] = true;
          todo.push_back(static_cast<int>(h));
        }
      }
    }
    return false;
  }

  // A fresh host locks the tables and every row at once (nothing is held
  // after its transaction), then lays the rows out again.
  std::string Reset() {
    std::vector<std::string> tables{"exdep010"}, lines, expected;
    if (kinds_) tables.push_back("exknd010");
    for (const std::string &table : tables) {
      lines.push_back("table lock " + table + " 1");
      expected.push_back(table + "001: lock_table");
    }
    std::vector<std::string> rows(std::begin(kDepRows), std::end(kDepRows));
    for (int kind = 1; kinds_ && kind <= kKinds; ++kind) rows.push_back(std::to_string(kind));
    const std::string probe = Ask(*probe_, lines);
    std::string want;
    for (const std::string &e : expected) want += e + "\n";
    if (runs_ > 0 && probe != want) return "after the transactions ended, a fresh host got: " + probe;
    lines.clear();
    for (const std::string &row : rows) lines.push_back("lockread " + TableOf(row) + " 1 " + KeyOf(row));
    const std::string locked = Ask(*probe_, lines);
    if (runs_ > 0 && locked.find("error ") != std::string::npos)
      return "after the transactions ended, a fresh host got: " + locked;
    lines.clear();
    for (const std::string &table : tables) lines.push_back("table drop " + table + " 1");
    const std::string dropped = Ask(*probe_, lines);  // before the first run, a table may not be there
    if (runs_ > 0 && dropped.find("error ") != std::string::npos) return "the tables could not be dropped: " + dropped;
    lines.clear();
    for (const std::string &table : tables) lines.push_back("table create " + table + " 1");
    for (const std::string &row : rows)
      lines.push_back("insert " + TableOf(row) + " 1 " + KeyOf(row) + (Numeric(row) ? " note=n" : " budget=1"));
    lines.push_back("commit");
    const std::string laid = Ask(*probe_, lines);
    if (laid.find("error ") != std::string::npos || laid.find("committed\n") == std::string::npos)
      return "the rows could not be laid out: " + laid;
    return "";
  }

  const Script &script_;
  std::vector<Host> hosts_;
  std::unique_ptr<Process> probe_;
  bool kinds_ = false;
  std::vector<std::string> trace_;  // the steps as sent, "~" when taken to wait, "X1!" when answered after that
  std::string wrong_;
  long sendings_ = 0, answered_ = 0;
  std::size_t runs_ = 0;
  int most_overtaken_ = 0;
  int circles_ = 0;  // requests refused for a circle of waits
  std::size_t schedules_ = std::getenv("MOLVANE_TEST_SCHEDULES") != nullptr
                               ? std::strtoul(std::getenv("MOLVANE_TEST_SCHEDULES"), nullptr, 10)
                               : kSchedules;
};

// Explores each script in turn (only the one MOLVANE_TEST_SCRIPT names,
// when it is set); stops at the first that fails. MOLVANE_TEST_SCHEDULES=N
// runs every order up to N, else a sample of N; MOLVANE_TEST_SEED draws
// another sample.
void ExploreAll(const std::function<std::unique_ptr<Process>()> &host, const std::vector<Script> &scripts) {
  const char *only = std::getenv("MOLVANE_TEST_SCRIPT");
  for (const Script &script : scripts) {
    if (only != nullptr && script.name != std::string(only)) continue;
    Explorer explorer(host, script);
    const std::string wrong = explorer.Explore();
    std::cout << script.name << ": " << explorer.runs() << " schedules, " << explorer.circles()
              << " refusals for a circle, a statement overtaken at most " << explorer.most_overtaken() << " times\n";
    if (!wrong.empty()) {
      ADD_FAILURE() << script.name << ", " << wrong;
      return;
    }
  }
}

// A statement among a stream of locked reads of its row beside a record
// writer: the reader takes the row again and again (lockread, abort) and
// the writer commits and writes again while the reader holds the row.
Script LockedReadStream(int cycles) {
  std::string reader, writer;
  for (int k = 1; k <= cycles; ++k) {
    const std::string lock = std::to_string(2 * k - 1), end = std::to_string(2 * k);
    reader += "lockread R1" + (k > 1 ? " @C" + std::to_string(2 * k - 2) : std::string()) + (k == 2 ? " @A1" : "") +
              " ; abort @C" + lock + " ; ";
    writer += (k == 1 ? "write W0 @B1" : "commit + write W0 @B" + lock) + " ; read R5 @B" + end + " ; ";
  }
  return {"StatementAmongLockedReadsOfItsRow",
          {"update R1 R2 @B1 @C1 ; commit", reader.substr(0, reader.size() - 3), writer + "commit"}};
}

}  // namespace

// Every wait of a statement ends in time: statements on disjoint rows that
// queue behind another host's lock, clear or drop of their table are each
// answered once it goes, and a statement whose holder stays is refused by
// its own time-out (1 s), before the server's bound (2 s).
TEST_P(HostServer, SchedulesOfWaitingStatementsEndInTime) {
  Restart({"--lock-wait-ms=2000"});
  root_.WriteFile("dict/dexknd010", kKindTable);
  ExploreAll(
      [this] { return Host(); },
      {{"TwoUpdatesBehindATableLock", {"lock ; abort", "update R0 R1 @A1 ; commit", "update R2 R3 @A1 ; commit"}},
       {"TwoUpdatesBehindAWaitingClear",
        {"write W0 ; commit @C1 @D1", "clear @A1 ; abort", "update R0 R1 @B1 ; commit", "update R2 R3 @B1 ; commit"}},
       {"TwoUpdatesBehindAWaitingDrop",
        {"write W0 ; commit @C1 @D1", "drop @A1 ; abort", "update R0 R1 @B1 ; commit", "update R2 R3 @B1 ; commit"}},
       {"TimeOutEndsAWaitBehindATableLock", {"lock ; abort @B2", "tupdate R0 @A1 ; abort"}},
       {"TimeOutEndsAWaitBehindALockedRead", {"lockread R1 ; commit @B2", "tupdate R1 R2 ; abort"}},
       {"TwoTimedUpdatesBehindATableLock",
        {"lock ; abort", "tupdate R0 R1 @A1 ; abort", "tupdate R2 R3 @A1 ; abort"}}});
}

// A statement whose row a stream of locked reads takes again and again,
// while a record writer keeps the write transaction busy, is answered
// after a few lendings of its rows.
TEST_P(HostServer, SchedulesOfAStatementAmongLockedReadsOfItsRowAreAnswered) {
  Restart({"--lock-wait-ms=2000"});
  root_.WriteFile("dict/dexknd010", kKindTable);
  ExploreAll([this] { return Host(); }, {LockedReadStream(9)});
}

// In a table keyed by one byte, the row of value 1 is a row like any
// other: while one host holds it, statements of other hosts over other
// rows go at once.
TEST_P(HostServer, SchedulesOfRowsKeyedByOneByteKeepToTheirRows) {
  Restart({"--lock-wait-ms=2000"});
  root_.WriteFile("dict/dexknd010", kKindTable);
  ExploreAll(
      [this] { return Host(); },
      {{"RowOfValueOneBesideStatements", {"lockread 1 ; commit @B2 @C2", "update 5 ; commit", "delete 2 ; abort"}},
       {"RowOfValueTwoBesideStatements", {"lockread 2 ; commit @B2", "update 5 ; commit"}}});
}

// Locked reads, SQL UPDATEs and DELETEs of overlapping and disjoint rows,
// record batches and statements with a time-out, in every order: each
// request answered, no conflict held, no refusal, nothing left held.
TEST_P(HostServer, SchedulesOfLockedReadsStatementsAndBatchesKeepEveryRule) {
  Restart({"--lock-wait-ms=2000"});
  root_.WriteFile("dict/dexknd010", kKindTable);
  ExploreAll(
      [this] { return Host(); },
      {{"OverlappingUpdateBetweenLockedReads",
        {"lockread R1 ; commit", "update R1 R2 ; commit", "lockread R2 ; abort"}},
       {"OverlappingDeleteBetweenLockedReads", {"lockread 3 ; commit", "delete 3 4 ; abort", "lockread 4 ; abort"}},
       {"DisjointStatementsAndABatch", {"update R0 ; commit", "delete 4 ; abort", "write W0 ; commit"}},
       {"BatchesBesideAStatement", {"write R3 ; commit", "update R4 R5 ; commit", "insert N1 + insert N2 ; abort"}},
       {"CircleOfTwoLockedReads", {"lockread R1 ; lockread R2 ; commit", "lockread R2 ; lockread R1 ; abort"}},
       {"CircleOfThreeLockedReads",
        {"lockread R1 ; lockread R2 ; commit", "lockread R2 ; lockread R3 ; abort",
         "lockread R3 ; lockread R1 ; commit"}},
       {"TimedStatementsBehindALockedRead", {"lockread R1 ; abort", "tupdate R1 ; abort", "tupdate R1 R2 ; abort"}}});
}

// Table locks, clears and drops beside locked reads and statements on the
// table's rows, in every order, kept to the same rules.
TEST_P(HostServer, SchedulesOfTableActionsBesideRowsKeepEveryRule) {
  Restart({"--lock-wait-ms=2000"});
  root_.WriteFile("dict/dexknd010", kKindTable);
  ExploreAll(
      [this] { return Host(); },
      {{"TableLockBesideLockedReadsAndAStatement", {"lock ; commit", "lockread R1 ; abort", "update R2 ; commit"}},
       {"ClearBesideALockedReadAndAStatement", {"clear ; abort", "lockread R1 ; abort", "update R2 ; commit"}},
       {"DropBesideALockedReadAndADelete", {"drop knd ; abort", "lockread 3 ; abort", "delete 4 ; abort"}},
       {"WaitingClearBesideLockedReads", {"lockread R1 ; commit", "clear @A1 ; abort", "lockread R2 @B1 ; abort"}},
       {"WaitingDropBesideLockedReads", {"lockread 3 ; commit", "drop knd @A1 ; abort", "lockread 4 @B1 ; abort"}},
       {"LocksOfTwoTablesBesideAStatement", {"lock knd ; commit", "lock ; abort", "update 3 + update R3 ; commit"}}});
}
