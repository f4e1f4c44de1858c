// One client connection of the reference driver. Request bytes are fed in
// as they arrive; Process answers every complete request, in order, and
// queues the replies. A request that breaks the protocol ends the
// connection (the client then sees it close), never the process.
//
// The connections of one process may share their database, row and table
// locks and dictionaries (DriverShared): a driver server serves many hosts
// over one set of them. Each connection owns the sessions it opened; they
// end with it, their transactions rolled back and their locks released.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include "auditcols_payload.h"
#include "driver_data.h"
#include "driver_dd.h"
#include "driver_options.h"
#include "driver_store.h"
#include "perm_payload.h"
#include "driver_wire.h"
#include "sql_agent.h"

namespace molvane::driver {

// What the connections of one driver process share.
struct DriverShared {
  DriverStore store;  // the database file and every session on it
  DataPlane data;     // rows, locks and kept batches
  DdCatalog tables;   // the dictionaries of DD_INFO_TABLE
};

class DriverConnection {
 public:
  // `args` are the driver's arguments (argv[1..]); the first names the
  // database file. The connection keeps its own database state.
  explicit DriverConnection(const std::vector<std::string> &args);
  // A connection of a driver server over the process's shared state. A
  // write that meets another session's write transaction waits without
  // blocking the process: Process leaves the request for a later call
  // (waiting_for_lock) for up to two seconds, then answers 107.
  DriverConnection(const std::vector<std::string> &args, DriverShared &shared);
  ~DriverConnection();
  DriverConnection(const DriverConnection &) = delete;
  DriverConnection &operator=(const DriverConnection &) = delete;

  void Feed(const void *bytes, std::size_t count);
  // Answers the complete requests received. False once the connection has
  // ended (a malformed request). A server connection stops while its unsent
  // replies reach kReplyLimit bytes (held): the rest waits for a later call
  // after the client has read, so that a client that sends without reading
  // cannot grow the queue without bound.
  bool Process();
  // Moves up to `size` queued reply bytes out; the count moved.
  std::size_t TakeReply(void *buf, std::size_t size);
  bool has_reply() const { return out_pos_ < output_.size(); }
  // Requests received are held back until the client reads its replies.
  bool held() const { return held_; }
  // The connection takes more request bytes: none while requests are held
  // or a request waits for a lock.
  bool wants_input() const { return !held_ && !lock_waiting_; }
  static constexpr std::size_t kReplyLimit = 1 << 20;
  bool ended() const { return ended_; }
  // A request waits for another session's write transaction to end.
  bool waiting_for_lock() const { return lock_waiting_; }
  // The SQL agent of the connection (SQL_MESSAGE).
  SqlAgent &agent() { return agent_; }
  // What the client sent of the user's permissions and audit columns.
  const PermSet &permissions() const { return permissions_; }
  const AuditColsSet &auditcols() const { return auditcols_; }

 private:
  DriverConnection(const std::vector<std::string> &args, std::unique_ptr<DriverShared> own,
                   DriverShared *shared);
  // Handles one request at the start of `in`; writes its reply.
  void Handle(WireReader &in, WireWriter &out);
  void AttServer(WireReader &in, WireWriter &out);
  void AttSession(WireReader &in, WireWriter &out);
  void DetSession(WireReader &in, WireWriter &out);
  void TblCntr(WireReader &in, WireWriter &out);
  void DbCntr(WireReader &in, WireWriter &out);
  void ExeSession(WireReader &in, WireWriter &out);
  void ExeSystem(WireReader &in, WireWriter &out);
  void DdInfoTable(WireReader &in, WireWriter &out);
  void Permission(WireReader &in, WireWriter &out);
  void SqlMessage(WireReader &in, WireWriter &out);
  void ExeUpdate(WireReader &in, WireWriter &out);
  void RowCntr(WireReader &in, WireWriter &out);
  void SendCompnr(WireReader &in, WireWriter &out);
  void AuditCols(WireReader &in, WireWriter &out);
  void AlterTable(WireReader &in, WireWriter &out);

  // The session of an id that this connection opened, else null.
  DriverSession *SessionFor(std::uint32_t id);
  // After the session's transaction ended: the tables whose dictionaries
  // arrived inside it are created again where its rollback removed them.
  void RestoreTables(std::uint32_t id);
  // Opens the session's write transaction before a request changes
  // anything. False (the request answers 107) when another session's write
  // transaction held the file for the whole wait; throws LockWait while a
  // server connection may still wait.
  bool BeginWrite(DriverSession *session);
  // 519 while the driver holds no company mapping for the client's
  // environment, else 0.
  std::uint32_t CompnrRetval() const;
  // The physical company of a table's logical company under that mapping.
  int PhysicalCompnr(const std::string &table, int logical) const;
  // A logical company that maps to the physical one (itself when it does).
  int LogicalCompnr(const std::string &table, int physical) const;
  // Every logical company that maps to the physical one.
  std::vector<int> LogicalCompnrs(const std::string &table, int physical) const;
  // True when the connection holds the table's dictionary for the company.
  bool HasDictionary(const std::string &table, int logical) const;

  DriverOptions options_;
  std::unique_ptr<DriverShared> own_;  // the state of a connection of its own
  DriverStore &store_;
  DataPlane &data_;
  DdCatalog &tables_;
  std::set<std::uint32_t> sessions_;   // the sessions this connection opened
  bool keeps_lock_waits_ = false;      // a server connection
  bool lock_waiting_ = false;          // a request waits for the write lock
  bool wait_over_ = false;             // ... and has waited long enough
  std::chrono::steady_clock::time_point wait_start_;
  // What the data plane needs of this connection.
  DataContext DataCtx() const;

  // The audit list of a commit reply: the tables and companies each
  // session's open transaction changed, with the number of batches.
  void NoteChanged(std::uint32_t session, const std::vector<UpdateTable> &tables);
  void WriteAuditList(std::uint32_t session, WireWriter &out);
  std::map<std::uint32_t, std::vector<std::pair<UpdateTable, std::uint16_t>>> changed_;
  std::map<std::uint32_t, std::vector<UpdateTable>> waiting_;  // batches not applied yet
  // Tables created inside each session's write transaction.
  std::map<std::uint32_t, std::vector<std::pair<std::string, int>>> created_in_write_;

  std::string driver_name_;
  std::string refusal_;      // why the last session was refused (EXE_SYSTEM 9)
  std::string compnr_env_;
  bool references_ = true;   // false: the client attached with "NO REFS"
  PermSet permissions_;      // the client's PERMISSION payload
  AuditColsSet auditcols_;   // the client's AUDITCOLS payload
  SqlAgent agent_;           // after everything its context reads
  std::vector<std::uint8_t> input_;
  std::vector<std::uint8_t> output_;
  std::size_t out_pos_ = 0;
  bool held_ = false;
  bool ended_ = false;
};

}  // namespace molvane::driver
