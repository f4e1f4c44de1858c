// One client connection of the reference driver. Request bytes are fed in
// as they arrive; Process answers every complete request, in order, and
// queues the replies. A request that breaks the protocol ends the
// connection (the client then sees it close), never the process.
#pragma once

#include <cstdint>
#include <map>
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

class DriverConnection {
 public:
  // `args` are the driver's arguments (argv[1..]); the first names the
  // database file.
  explicit DriverConnection(const std::vector<std::string> &args);

  void Feed(const void *bytes, std::size_t count);
  // Answers the complete requests received. False once the connection has
  // ended (a malformed request).
  bool Process();
  // Moves up to `size` queued reply bytes out; the count moved.
  std::size_t TakeReply(void *buf, std::size_t size);
  bool has_reply() const { return out_pos_ < output_.size(); }
  bool ended() const { return ended_; }
  // The SQL agent of the connection (SQL_MESSAGE).
  SqlAgent &agent() { return agent_; }
  // What the client sent of the user's permissions and audit columns.
  const PermSet &permissions() const { return permissions_; }
  const AuditColsSet &auditcols() const { return auditcols_; }

 private:
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

  DriverSession *SessionFor(std::uint32_t id);
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
  DriverStore store_;
  // What the data plane needs of this connection.
  DataContext DataCtx() const;

  // The audit list of a commit reply: the tables and companies each
  // session's open transaction changed, with the number of batches.
  void NoteChanged(std::uint32_t session, const std::vector<UpdateTable> &tables);
  void WriteAuditList(std::uint32_t session, WireWriter &out);
  std::map<std::uint32_t, std::vector<std::pair<UpdateTable, std::uint16_t>>> changed_;
  std::map<std::uint32_t, std::vector<UpdateTable>> waiting_;  // batches not applied yet

  DataPlane data_;           // rows, locks and kept batches
  DdCatalog tables_;         // the dictionaries of DD_INFO_TABLE
  std::string driver_name_;
  std::string compnr_env_;
  bool references_ = true;   // false: the client attached with "NO REFS"
  PermSet permissions_;      // the client's PERMISSION payload
  AuditColsSet auditcols_;   // the client's AUDITCOLS payload
  SqlAgent agent_;           // after everything its context reads
  std::vector<std::uint8_t> input_;
  std::vector<std::uint8_t> output_;
  std::size_t out_pos_ = 0;
  bool ended_ = false;
};

}  // namespace molvane::driver
