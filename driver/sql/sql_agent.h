// The SQL agent of one driver connection: it takes the packet buffer of
// every SQL_MESSAGE request and answers with one reply buffer.
//
// Batch rules. Packets are handled in buffer order. Prepare, Attach,
// BindParams, SetMaxRows, SetTimeOut, Break, Close and Destroy answer
// nothing when they succeed; a DELETE/UPDATE Exec answers the rows it
// processed, a Fetch one result set or the end of the set (again and again
// after the end), a SkipRows the rows it skipped. The first error of a
// statement in a batch answers one diagnostic record with the state the
// statement is left in, and that statement's remaining packets in the
// batch are passed over. A packet for an id the agent does not hold is
// answered with the state "not created". Ids are the client's: a live id
// is never prepared twice.
//
// Missing dictionaries. A Prepare naming a table whose dictionary the
// connection does not hold answers the request for dictionaries and keeps
// the rest of the batch, from that Prepare on, until the client has sent
// the dictionaries and the packet to go on; the kept packets are then
// handled and answered in the reply to that packet. A table still missing
// then is an error of its statement. In the test mode that forgets
// dictionaries, a table counts as held only once its dictionary arrived
// while the agent was waiting for it.
//
// Lock waits. The transaction of a DELETE or UPDATE is opened by `begin`,
// which waits for another session's write transaction where it stands (in
// a server, the request's thread sleeps in the write queue), so that no
// packet is handled twice; a wait that ends without the transaction is
// that statement's error.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "store/driver_dd.h"
#include "store/driver_store.h"
#include "sql/sql_agent_packets.h"
#include "sql/sql_agent_statement.h"
#include "sqlite/sqlite_functions.h"

namespace molvane::driver {

// What the agent needs of its connection.
struct AgentContext {
  // The dictionary of a table in a physical company, null when not held.
  std::function<const DdTableDesc *(const std::string &table, int physical)> table;
  // A logical company number that maps to the physical one, for the
  // request for dictionaries.
  std::function<int(const std::string &table, int physical)> logical;
  // The SQLite connection of a driver session, null when there is none.
  std::function<sqlite3 *(std::uint32_t session)> session_db;
  // True when a DELETE or UPDATE of the table takes its rows first
  // (rows_free): another session holds locks on it, or may lock its rows
  // while the statement waits (null: no locks).
  std::function<bool(std::uint32_t session, const std::string &table, int physical)> locked;
  // While `locked`: the DELETE or UPDATE takes the rows it would change,
  // which `rows` finds (their rowids; false past as many as it keeps),
  // before it takes the write transaction, waiting as a locked read waits
  // for each one that another session holds and finding them again after
  // each wait. True when it holds them all; throws the lock error when a
  // wait is refused, and gives back what it took when it fails (null: the
  // statement is refused).
  using RowFinder = std::function<bool(std::vector<sqlite3_int64> *rowids)>;
  std::function<bool(std::uint32_t session, const std::string &table, int physical, const RowFinder &rows)>
      rows_free;
  // Opens the session's transaction when none is open, so that the
  // changes of a DELETE or UPDATE wait for its commit; false when the
  // database refused (null: every statement commits itself). May wait
  // for another session's write transaction, or throw the lock error.
  std::function<bool(std::uint32_t session)> begin;
  // After a DELETE or UPDATE begun by `begin` ran (`failure` null): the
  // rows it changed in the table of a physical company are the
  // transaction's; after it failed, they are rolled back to where it
  // started (or SQLite rolled back the whole transaction) and freed (null:
  // nothing to note).
  std::function<void(std::uint32_t session, const std::string &table, int physical,
                     const SQLException *failure)>
      changed;
  // A DELETE or UPDATE begun by `begin` starts to run on the table of a
  // physical company; `changed` follows when it has run or failed (null:
  // nothing to note).
  std::function<void(std::uint32_t session, const std::string &table, int physical)> changing;
  // Throws the error of a session that takes no more work (its transaction
  // was lost) before a statement of it runs (null: every session works).
  std::function<void(std::uint32_t session)> usable;
};

class SqlAgent {
 public:
  SqlAgent(AgentContext ctx, bool forget_dictionaries) : ctx_(std::move(ctx)), forget_(forget_dictionaries) {}

  // Handles the packets of one request; returns the reply buffer, which
  // starts with `front` zero bytes for the caller's header.
  std::vector<std::uint8_t> HandleBatch(const std::uint8_t *bytes, std::size_t n, std::size_t front = 0);
  // A dictionary arrived (DD_INFO_TABLE) for a table in a physical company.
  void DictionaryArrived(const std::string &table, int physical);
  // A driver session ended: statements attached to it are closed.
  void SessionClosed(std::uint32_t session);
  // The connection is about to write or end a transaction: open results
  // move their rest to temporary files (AgentStatement::Spill).
  void Isolate();
  // True when a result opened before `time` is still open.
  bool HasOpenResult(std::chrono::steady_clock::time_point time) const;
  // Open results opened before `time` move their rest to temporary files
  // (AgentStatement::Spill), so that no snapshot is held for long. Only the
  // thread that runs the connection's requests calls it, between them.
  void SpillOpenResults(std::chrono::steady_clock::time_point time);
  // The memory the open results hold (AgentStatement::HeldBytes).
  std::size_t ResultBytes() const;
  // How many bytes more open results may keep in memory when no temporary
  // file takes their rest (null: no bound).
  void SetMemoryRoom(std::function<std::size_t()> room) { memory_room_ = std::move(room); }
  // Between requests: the statement fetched last encodes its next row set
  // while the client works on the one it got (AgentStatement::ReadAhead).
  void ReadAhead();
  // Called as a statement steps (SqlFunctionHost::SetPulse): a driver
  // server lets other threads go first, and stops the statement of a
  // host that went away.
  void SetPulse(std::function<bool()> pulse) { host_.SetPulse(std::move(pulse)); }

  // The time-out of the statement being executed (on
  // SqlFunctionHost::DeadlineClock, 0: none), for the waits of `rows_free`
  // and `begin`.
  long exec_deadline() const { return exec_deadline_; }

  // For tests: the statement's state, -1 when the agent holds no such id.
  int StateOf(std::uint32_t id) const;
  bool holding() const { return held_ != nullptr; }

 private:
  struct Batch {
    std::vector<std::uint8_t> bytes;  // the packets still to handle
    std::set<std::uint32_t> failed;   // statements whose packets are passed over
  };
  // Handles packets from the start of batch; false when it stopped to wait
  // for dictionaries (the rest is kept).
  bool Run(Batch batch, AgentReply *reply);
  // One packet; false to stop the batch (dictionaries asked for).
  bool Handle(const SQLTokenString &packet, Batch &batch, std::size_t packet_start, AgentReply *reply);
  void StatementPacket(std::uint32_t id, int op, const SQLTokenString &packet, AgentReply *reply);
  // Prepares a statement, or fills `missing` and prepares nothing.
  void Prepare(std::uint32_t id, const SQLTokenString &packet,
               std::vector<std::pair<std::string, int>> *missing);
  const DdTableDesc *Table(const std::string &table, int physical) const;
  sqlite3 *SessionDb(std::uint32_t session);

  AgentContext ctx_;
  bool forget_;
  std::size_t MemoryRoom() const { return memory_room_ ? memory_room_() : static_cast<std::size_t>(-1); }

  SqlFunctionHost host_;
  std::function<std::size_t()> memory_room_;
  std::map<std::uint32_t, std::unique_ptr<AgentStatement>> statements_;
  std::set<std::uint32_t> installed_;                // sessions with the functions installed
  std::unique_ptr<Batch> held_;                      // waiting for dictionaries
  std::uint32_t fetched_ = 0;                        // the statement fetched last
  long exec_deadline_ = 0;                           // exec_deadline()
  std::set<std::pair<std::string, int>> asked_;      // tables asked for by the held batch
  std::set<std::pair<std::string, int>> delivered_;  // test mode: dictionaries sent on request
};

}  // namespace molvane::driver
