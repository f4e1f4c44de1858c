#include "sql/agent/net_agent_client.h"

#include <cstdarg>
#include <cstring>
#include <cstdio>
#include <climits>
#include <new>

#include "dbc/request/request_block.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/zdb_errors.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/session/zdb_server.h"
#include "molvane/zdb.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "sql/common/container_exceptions.h"
#include "sql/common/database_instance.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/common/sql_parameter.h"
#include "sql/common/table_writes.h"
#include "sql/statement/sql_resource.h"

namespace {

// The database client as the carrier of the agent protocol.
int DbcGetServer(DRIVER_SPEC *spec, int transId, ZDB_SESSION **session, ZDB_SERVER **server) {
  return zdb_sql_get_server(spec, transId, session, server, 0);
}
int DbcSendDDs(ZDB_SESSION *session, std::uint32_t n, unsigned char const *entries) {
  return zdb_send_dd_to_server(session, n, entries, -1);
}
// A failed buffered update says which one failed, as a commit does.
int DbcFlushUpdates(ZDB_SESSION *session) {
  if (flush_updates(session) == 0) return 0;
  zdb_name_failed_update(session->trans);
  return -1;
}
std::uint32_t DbcServerNumber(ZDB_SERVER const *server) { return server->number; }
std::uint32_t DbcServerSessionId(ZDB_SESSION const *session) {
  return session->server_session_id;
}
ZDB_SERVER *DbcServerOfSession(ZDB_SESSION const *session) { return session->server; }

SQLAgentCarrier const kDbcCarrier = {DbcGetServer,    DbcFlushUpdates,    zdb_sql_commu_packets,
                                     DbcSendDDs,      DbcServerNumber,    DbcServerSessionId,
                                     DbcServerOfSession};

SQLAgentCarrier const *g_carrier = &kDbcCarrier;
SQLNetAgentClient *g_instance = nullptr;
// The session of the batch last made ready to send: requests for data
// dictionaries are answered through it.
ZDB_SESSION *g_batchSession = nullptr;
// Scratch packets, reset before each use.
SQLTokenString &Scratch() {
  static SQLTokenString ts(20);
  ts.Reset();
  return ts;
}
// The entries of a request for data dictionaries: 8 name bytes and a
// big-endian company number each; grows only.
std::vector<unsigned char> g_ddRequest;

constexpr int kDDEntrySize = 10;

// A reply that breaks the protocol: logged, then raised to the operation
// that took it. The peer's bytes are never a reason to end the process.
[[noreturn]] void ProtocolError(char const *format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void ProtocolError(char const *format, ...) {
  char text[256];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR, "SQL agent protocol error: %s", text);
  throw SQLExUnknownNetWorkToken(SQLString(text));
}

void StartStmtPacket(SQLTokenString &ts, unsigned long id, SQLNWToken op) {
  ts.AppendToken(SQLNWTPacketForStmt);
  ts.AppendBs4(static_cast<std::int32_t>(id));
  ts.AppendToken(op);
}

// The seconds a driver may run a statement whose deadline is at the
// steady-clock millisecond `deadline`: what is left, rounded up, so that the
// driver, which counts from when it receives them, never stops it before
// its whole limit has passed.
int SecondsLeft(long deadline) {
  if (deadline == 0) return 0;
  const long left = (deadline - static_cast<long>(al_steady_ms()) + 999) / 1000;
  return left < 1 ? 1 : (left > INT_MAX ? INT_MAX : static_cast<int>(left));
}

SQLLogger &Log() { return *SQLLogger::Instance(); }
bool LogPackets() { return Log().LogFlagIsSet(SQLLogger::CommunicationPackets); }


// The packets one exchange adds to a statement's buffer are taken back out
// when the exchange fails before its flush (memory that runs out while they
// are built), so that the buffer holds what it held before and the next
// exchange does not send them twice or cut short.
class PacketRound {
 public:
  explicit PacketRound(SQLPacketBuffer *buffer)
      : buffer_(buffer), length_(buffer != nullptr ? buffer->Length() : 0) {}
  ~PacketRound() {
    if (buffer_ != nullptr && !flushing_) buffer_->Truncate(length_);
  }
  PacketRound(PacketRound const &) = delete;
  PacketRound &operator=(PacketRound const &) = delete;
  // The flush takes the buffer over: it empties it whatever its outcome.
  void Flushing() { flushing_ = true; }

 private:
  SQLPacketBuffer *buffer_;
  int length_;
  bool flushing_ = false;
};

// The agent's state of the statement is lost: its queued replies and the
// rows taken from them belong to an exchange that did not complete. The
// rest of an open result is lost with them.
void MarkUnknown(SQLNetAgentClientStatementData &sd) noexcept {
  sd.resultLost = sd.resultLost || (!sd.unknown && sd.state == 3);
  sd.unknown = true;
  sd.replies.clear();
  if (sd.extractor) sd.extractor->EmptyRowSet();
}

// The rest of an open result that a failed exchange took with it: the
// execution cannot go on, and the error says so.
SQLExZDBError LostResult() {
  return SQLExZDBError(ZE_BAD_CURSOR,
                       SQLString("The rest of the rows was lost when an exchange with the driver failed "
                                 "(the error of that call says why); execute the statement again"));
}

}  // namespace

// ---------------------------------------------------------------- instance

SQLNetAgentClient *SQLNetAgentClient::Instance() {
  if (g_instance == nullptr) g_instance = new SQLNetAgentClient();
  return g_instance;
}

SQLNetAgentClient *SQLNetAgentClient::Existing() { return g_instance; }

void SQLNetAgentClient::DeleteInstance() {
  delete g_instance;
  g_instance = nullptr;
  g_batchSession = nullptr;
}

void SQLNetAgentClient::SetCarrier(SQLAgentCarrier const *carrier) {
  g_carrier = carrier != nullptr ? carrier : &kDbcCarrier;
}

SQLNetAgentClient::SQLNetAgentClient() {
  struct {
    SQLTokenString *packet;
    SQLNWToken op;
  } const templates[] = {{&breakPacket_, SQLNWTPacketBreak},
                         {&closePacket_, SQLNWTPacketClose},
                         {&destroyPacket_, SQLNWTPacketDestroy}};
  for (auto const &t : templates) {
    t.packet->AppendToken(SQLNWTPacketForStmt);
    templateIdOffset_ = t.packet->Length();
    t.packet->AppendBs4(0);
    t.packet->AppendToken(t.op);
  }
}

SQLNetAgentClient::~SQLNetAgentClient() = default;

SQLNetAgentClientStatementData *SQLNetAgentClient::Find(unsigned long id) {
  // A fetch loop asks for the same statement row after row.
  if (last_ != nullptr && last_->id == id) return last_;
  auto it = statements_.find(id);
  if (it == statements_.end()) return nullptr;
  last_ = it->second.get();
  return last_;
}

SQLNetAgentClientStatementData &SQLNetAgentClient::Lookup(unsigned long id) {
  SQLNetAgentClientStatementData *sd = Find(id);
  if (sd == nullptr) throw HashExNotExists();
  return *sd;
}

int SQLNetAgentClient::GetState(unsigned long id) { return Lookup(id).state; }

int SQLNetAgentClient::RowsPerFetch(SQLNetAgentClientStatementData const &sd) const {
  if (sd.bufferSize > 0) return sd.bufferSize;
  int rows = SQLResource::qelt_sql_commu_buffer_rows();
  return rows > 0 ? rows : 5;
}

// ---------------------------------------------------------------- packet buffers

SQLPacketBuffer *SQLNetAgentClient::GetPacketBuffer(ZDB_SERVER *server) {
  std::uint32_t number = g_carrier->serverNumber(server);
  for (auto &b : buffers_)
    if (g_carrier->serverNumber(b->GetZDBServer()) == number) return b.get();
  auto made = std::make_unique<SQLPacketBuffer>(server);
  SQLTokenString &level = Scratch();
  level.AppendToken(SQLNWTPacketForDriver);
  level.AppendToken(SQLNWTLanguageLevel);
  level.AppendBs4(1);
  made->AddPacket(level);
  // Listed only once it holds the language level: a buffer that memory ran
  // out for is made again by the next call.
  buffers_.push_back(std::move(made));
  SQLPacketBuffer *buffer = buffers_.back().get();
  FlushPacketBuffer(buffer);
  return buffer;
}

void SQLNetAgentClient::FlushPacketBuffer(SQLPacketBuffer *buffer) {
  if (LogPackets()) {
    Log() << "Client sending packet buffer to server "
          << static_cast<unsigned long>(g_carrier->serverNumber(buffer->GetZDBServer())) << ": ";
    buffer->Log();
  }
  unsigned char const *bytes;
  int length;
  buffer->GetString(bytes, length);
  reset_zdb_msg();
  const int rc = g_carrier->commuPackets(buffer->GetZDBServer(),
                                         reinterpret_cast<char const *>(bytes),
                                         static_cast<std::uint32_t>(length));
  // A batch that failed is dropped as well: sent again later, to a driver
  // started anew after this one died, its statements would run in whatever
  // session now has the numbers they name.
  buffer->Empty();
  // The Break and Close packets in the batch went out with it, or were
  // lost with it: then their statements' states are not known.
  for (auto &entry : statements_) {
    SQLNetAgentClientStatementData &queued = *entry.second;
    if (queued.packetBuffer != buffer || !queued.templateQueued) continue;
    queued.templateQueued = false;
    if (rc < 0) MarkUnknown(queued);
  }
  if (rc < 0) SQLExZDBError::ThrowWithCause(zdb_errno);  // e.g. a driver's reason for refusing a dictionary
}

bool SQLNetAgentClient::QueueTemplate(SQLTokenString &packet, unsigned long id,
                                      SQLPacketBuffer *buffer) {
  if (buffer == nullptr) return false;
  try {
    packet.PutBs4(static_cast<std::int32_t>(id), templateIdOffset_);
    buffer->AddPacket(packet);
    return true;
  } catch (...) {
    return false;
  }
}

// ---------------------------------------------------------------- statements

unsigned long SQLNetAgentClient::Prepare(SQLTokenString const &description) {
  unsigned long id = nextId_;
  auto sd = std::make_unique<SQLNetAgentClientStatementData>(id);
  int offset = description.GetReadOffset();
  description.SetReadOffset(0);
  if (description.Length() > 0 && description.TypeCurrent() == SQLNWTtoken) {
    SQLNWToken first = description.PeekToken();
    sd->query = first != SQLNWTETDelete && first != SQLNWTETUpdate;
  }
  description.SetReadOffset(offset);
  StartStmtPacket(sd->preparePacket, id, SQLNWTPacketPrepare);
  sd->preparePacket.AppendTokenString(description);
  statements_.emplace(id, std::move(sd));
  ++nextId_;
  return id;
}

void SQLNetAgentClient::Attach(unsigned long id, int transId, SQLDatabaseInstance const *instance) {
  Attach(id, transId, instance->GetServerSpec());
}

void SQLNetAgentClient::Attach(unsigned long id, int transId, DRIVER_SPEC *serverSpec) {
  SQLNetAgentClientStatementData *sd = Find(id);
  if (sd == nullptr) SQLAbort(__FILE__, __LINE__, "Unexpected SQLId: %d", static_cast<int>(id));
  ZDB_SESSION *session = nullptr;
  ZDB_SERVER *server = nullptr;
  // A driver that cannot be attached says why (its message): the statement
  // carries the cause, as the record API's call does.
  reset_zdb_msg();
  if (g_carrier->getServer(serverSpec, transId, &session, &server) < 0)
    SQLExZDBError::ThrowWithCause(zdb_errno);
  sd->session = session;
  std::uint32_t number = g_carrier->serverNumber(server);
  if ((sd->state != 0 || sd->unknown) && sd->serverNumber != number) {
    QueueTemplate(destroyPacket_, id, sd->packetBuffer);
    sd->packetBuffer = nullptr;
    sd->state = 0;
    sd->unknown = false;
    sd->resultLost = false;
  }
  sd->serverNumber = number;
  sd->packetBuffer = GetPacketBuffer(server);
  sd->attachPacket.Reset();
  StartStmtPacket(sd->attachPacket, id, SQLNWTPacketAttach);
  sd->attachPacket.AppendBs4(static_cast<std::int32_t>(g_carrier->serverSessionId(session)));
}

void SQLNetAgentClient::BindOutput(unsigned long id, int nrColumns, SQLValueStore **stores,
                                   SQLColumnDescriptor const *const *descriptors) {
  SQLNetAgentClientStatementData *sd = Find(id);
  if (sd == nullptr) SQLAbort(__FILE__, __LINE__, "Unexpected SQLId: %d", static_cast<int>(id));
  sd->nrOutput = nrColumns;
  sd->output = stores;
  sd->extractor = std::make_unique<SQLNetWorkRowSetRowExtractor>(nrColumns, stores, descriptors);
}

void SQLNetAgentClient::SetBufferSize(unsigned long id, int rows) {
  SQLNetAgentClientStatementData *sd = Find(id);
  if (sd == nullptr) SQLAbort(__FILE__, __LINE__, "Unexpected SQLId: %d", static_cast<int>(id));
  sd->bufferSize = rows < 0 ? 0 : rows;
}

void SQLNetAgentClient::BindParam(unsigned long id, SQLParameter const *param) {
  SQLNetAgentClientStatementData &sd = Lookup(id);
  if (sd.bindsClosed) {
    // The first parameter of a new execution: the last one's are done.
    sd.bindPacket.Reset();
    sd.nrParams = 0;
    sd.bindsClosed = false;
  }
  int length = sd.bindPacket.Length();
  try {
    sd.bindPacket.AppendBs4(static_cast<std::int32_t>(param->GetId()));
    SQLAppendNetWorkValue(sd.bindPacket, param->GetValueStore());
  } catch (...) {
    sd.bindPacket.Truncate(length);  // no half-written parameter stays behind
    throw;
  }
  ++sd.nrParams;
}

void SQLNetAgentClient::BindParams(unsigned long id, pconstSQLParameterList const *params) {
  List<SQLParameter const *> &list = const_cast<pconstSQLParameterList &>(*params);
  for (bool more = list.First(); more; more = list.Next()) BindParam(id, list.GetCurrent());
}

void SQLNetAgentClient::SetMaxRows(unsigned long id, int rows) {
  SQLNetAgentClientStatementData &sd = Lookup(id);
  sd.maxRows = rows;
  sd.maxRowsSet = true;
}

void SQLNetAgentClient::SetTimeOut(unsigned long id, long deadline) {
  SQLNetAgentClientStatementData &sd = Lookup(id);
  sd.timeOut = deadline;
  sd.timeOutSet = true;
}

void SQLNetAgentClient::PrepareToFlushExecPacket(SQLNetAgentClientStatementData &sd,
                                                 SQLPacketBuffer *buffer) {
  g_batchSession = sd.session;
  // A statement in an unknown state is destroyed and made anew in the
  // agent (a Destroy of a statement the agent lacks is passed over).
  const int from = sd.unknown ? 0 : sd.state;
  if (from <= 2) {
    // A closed statement has no session: it must be attached again.
    if (sd.session == nullptr) throw SQLExZDBError(ZE_INVALID_SESSION);
    // Only the flush's own words are its cause (a failed update names itself).
    reset_zdb_msg();
    if (g_carrier->flushUpdates(sd.session) < 0) SQLExZDBError::ThrowWithCause(zdb_errno);
  }
  if (from == 3) return;
  if (sd.unknown) {
    destroyPacket_.PutBs4(static_cast<std::int32_t>(sd.id), templateIdOffset_);
    buffer->AddPacket(destroyPacket_);
  }
  if (from == 0) buffer->AddPacket(sd.preparePacket);
  if (from <= 1) buffer->AddPacket(sd.attachPacket);
  if (sd.nrParams > 0) {
    SQLTokenString &bind = Scratch();
    StartStmtPacket(bind, sd.id, SQLNWTPacketBindParams);
    bind.AppendBs4(sd.nrParams);
    bind.AppendTokenString(sd.bindPacket);
    buffer->AddPacket(bind);
  }
  if (sd.maxRowsSet) {
    SQLTokenString &p = Scratch();
    StartStmtPacket(p, sd.id, SQLNWTPacketSetMaxRows);
    p.AppendBs4(sd.maxRows);
    buffer->AddPacket(p);
  }
  if (sd.timeOutSet) {
    SQLTokenString &p = Scratch();
    StartStmtPacket(p, sd.id, SQLNWTPacketSetTimeOut);
    p.AppendBs4(SecondsLeft(sd.timeOut));
    buffer->AddPacket(p);
  }
  SQLTokenString &exec = Scratch();
  StartStmtPacket(exec, sd.id, SQLNWTPacketExec);
  buffer->AddPacket(exec);
}

void SQLNetAgentClient::FlushForStatement(SQLNetAgentClientStatementData &sd) {
  // A batch that destroys an agent statement in an unknown state starts it
  // from nothing.
  if (sd.unknown) sd.state = 0;
  const bool open = sd.state == 3;
  sd.resultLost = false;
  sd.unknown = true;  // until a reply tells the agent's state
  try {
    FlushPacketBuffer(sd.packetBuffer);
  } catch (...) {
    sd.resultLost = open;
    MarkUnknown(sd);
    throw;
  }
}

SQLNetAgentClient::Status SQLNetAgentClient::HandleReturnPacket(
    SQLNetAgentClientStatementData &sd) {
  if (sd.replies.empty()) return NoReply;
  // Taken off the queue first: it is freed on every way out.
  std::unique_ptr<SQLTokenString> packet = std::move(sd.replies.front());
  sd.replies.pop_front();
  // A reply that cannot be taken in (memory, a malformed packet) leaves
  // the statement in a state the client does not know; a reply taken in
  // tells the agent's state.
  struct Settle {
    SQLNetAgentClientStatementData &sd;
    bool done = false;
    ~Settle() {
      if (done)
        sd.unknown = false;
      else
        MarkUnknown(sd);
    }
  } settle{sd};
  packet->SetReadOffset(0);
  SQLNWToken token = packet->GetToken();
  switch (token) {
    case SQLNWTDiagRec: {
      packet->GetBs4();
      SQLNWToken st = packet->GetToken();
      switch (st) {
        case SQLNWTStmtNotCreated: sd.state = 0; break;
        case SQLNWTStmtPrepared: sd.state = 1; break;
        case SQLNWTStmtAttached: sd.state = 2; break;
        case SQLNWTStmtExecuted: sd.state = 3; break;
        default: ProtocolError("Unexpected stmtState %d", static_cast<int>(st));
      }
      unsigned char const *bytes;
      std::int16_t n;
      packet->GetMemory(bytes, n);
      if (n != 5) ProtocolError("SQLSTATE of %d bytes in a diagnostic record", n);
      char state[6] = {};
      std::memcpy(state, bytes, 5);
      int native = packet->GetBs4();
      packet->GetMemory(bytes, n);
      settle.done = true;
      // A driver refuses with 510 the statements of a transaction it ended
      // (a driver server's rollback of an idle one, SQLite's own rollback):
      // the transaction's writes are undone.
      if (native == ZE_COMMUNICATION) SQLTableWrites::NoteAll();
      throw SQLException(state, native,
                         SQLString(reinterpret_cast<char const *>(bytes), n < 0 ? 0 : n));
    }
    case SQLNWTResultSet:
      if (!sd.extractor)
        SQLAbort(__FILE__, __LINE__, "Result set for statement %lu without output", sd.id);
      sd.extractor->DefineRowSet(std::move(packet));
      sd.state = 3;
      settle.done = true;
      return RowAvailable;
    case SQLNWTEndOfSet:
      sd.state = 3;
      settle.done = true;
      return EndOfSet;
    case SQLNWTNrRowsProcessed: {
      packet->GetBs4();
      int rows = packet->GetBs4();
      if (rows < 0) ProtocolError("negative count of rows processed %d", rows);
      if (sd.query) sd.state = 3;
      sd.rowsProcessed = rows;
      settle.done = true;
      return RowsProcessed;
    }
    default:
      ProtocolError("Unexpected token %d", static_cast<int>(token));
  }
}

void SQLNetAgentClient::RequireServer(SQLNetAgentClientStatementData const &sd) {
  // The statement's server was detached (EndServer): it must be attached
  // again before it can run.
  if (sd.packetBuffer == nullptr) throw SQLExZDBError(ZE_INVALID_SESSION);
}

void SQLNetAgentClient::StopResult(SQLNetAgentClientStatementData &sd) {
  // A statement in an unknown state gets no Break: the next exchange
  // destroys it instead.
  if (!sd.unknown && sd.state == 3 && QueueTemplate(breakPacket_, sd.id, sd.packetBuffer)) {
    sd.state = 2;
    sd.templateQueued = true;
  }
  sd.resultLost = false;
  if (sd.extractor) sd.extractor->EmptyRowSet();
  sd.replies.clear();
}

int SQLNetAgentClient::Exec(unsigned long id) {
  SQLNetAgentClientStatementData &sd = Lookup(id);
  RequireServer(sd);
  sd.bindsClosed = true;
  if (sd.query) {
    // A result still open from the last execution is stopped first, so the
    // agent never sees an exec on an executed statement.
    StopResult(sd);
    return 0;
  }
  PacketRound round(sd.packetBuffer);
  PrepareToFlushExecPacket(sd, sd.packetBuffer);
  round.Flushing();
  FlushForStatement(sd);
  if (HandleReturnPacket(sd) != RowsProcessed)
    ProtocolError("SQLNetAgentClient::Exec: Unexpected packet");
  sd.state = 2;
  return sd.rowsProcessed;
}

int SQLNetAgentClient::Fetch(unsigned long id) {
  SQLNetAgentClientStatementData &sd = Lookup(id);
  // The rest of the result went with a failed exchange: starting it again
  // would repeat the rows already delivered.
  if (sd.resultLost) throw LostResult();
  if (sd.extractor && sd.extractor->Fetch()) return 1;
  bool sent = false;
  for (;;) {
    switch (HandleReturnPacket(sd)) {
      case RowAvailable:
        // A set without rows is passed over: the next reply decides.
        if (sd.extractor->Fetch()) return 1;
        continue;
      case EndOfSet:
        return 0;
      case RowsProcessed:
        ProtocolError("SQLNetAgentClient::Fetch: Unexpected NrRowsProcessed packet");
      case NoReply:
        break;
    }
    if (sent) ProtocolError("SQLNetAgentClient::Fetch: Expected return packet");
    RequireServer(sd);
    PacketRound round(sd.packetBuffer);
    PrepareToFlushExecPacket(sd, sd.packetBuffer);
    SQLTokenString &fetch = Scratch();
    StartStmtPacket(fetch, id, SQLNWTPacketFetch);
    fetch.AppendBs4(RowsPerFetch(sd));
    sd.packetBuffer->AddPacket(fetch);
    round.Flushing();
    FlushForStatement(sd);
    sent = true;
  }
}

int SQLNetAgentClient::SkipRows(unsigned long id, int n) {
  SQLNetAgentClientStatementData &sd = Lookup(id);
  if (sd.resultLost) throw LostResult();
  if (n <= 0) return 0;
  int k = sd.extractor ? sd.extractor->SkipRows(n) : 0;
  if (k == n) return n;
  switch (HandleReturnPacket(sd)) {
    case RowAvailable:
      ProtocolError("SQLNetAgentClient::SkipRows: Unexpected RowAvailable packet");
    case EndOfSet:
      return k;
    case RowsProcessed:
      ProtocolError("SQLNetAgentClient::SkipRows: Unexpected NrRowsProcessed packet");
    case NoReply:
      break;
  }
  RequireServer(sd);
  PacketRound round(sd.packetBuffer);
  PrepareToFlushExecPacket(sd, sd.packetBuffer);
  SQLTokenString &skip = Scratch();
  StartStmtPacket(skip, id, SQLNWTPacketSkipRows);
  skip.AppendBs4(n - k);
  skip.AppendBs4(RowsPerFetch(sd));
  sd.packetBuffer->AddPacket(skip);
  round.Flushing();
  FlushForStatement(sd);
  switch (HandleReturnPacket(sd)) {
    case EndOfSet:
      return k;
    case RowsProcessed:
      // The agent cannot have skipped more than was asked.
      if (sd.rowsProcessed > n - k) ProtocolError("%d rows skipped of %d", sd.rowsProcessed, n - k);
      return k + sd.rowsProcessed;
    case RowAvailable:
      ProtocolError("SQLNetAgentClient::SkipRows: Unexpected RowAvailable packet");
    case NoReply:
      break;
  }
  ProtocolError("SQLNetAgentClient::SkipRows: Expected return packet");
}

void SQLNetAgentClient::Break(unsigned long id) {
  SQLNetAgentClientStatementData &sd = Lookup(id);
  StopResult(sd);
  sd.bindPacket.Reset();
  sd.nrParams = 0;
  sd.bindsClosed = false;
  sd.maxRowsSet = false;
  sd.timeOutSet = false;
}

void SQLNetAgentClient::Close(unsigned long id) {
  SQLNetAgentClientStatementData &sd = Lookup(id);
  // A statement in an unknown state gets no Close (the agent may not know
  // it, and its refusal would pass for the next exchange's reply).
  if (sd.unknown || sd.state != 2) return;
  if (QueueTemplate(closePacket_, id, sd.packetBuffer)) {
    sd.state = 1;
    sd.session = nullptr;
    sd.templateQueued = true;
  }
}

void SQLNetAgentClient::Destroy(unsigned long id) {
  SQLNetAgentClientStatementData &sd = Lookup(id);
  if (sd.state != 0 || sd.unknown) QueueTemplate(destroyPacket_, id, sd.packetBuffer);
  if (g_batchSession == sd.session) g_batchSession = nullptr;
  if (last_ == &sd) last_ = nullptr;
  statements_.erase(id);
}

void SQLNetAgentClient::AddPacketToBufferedPackets(unsigned long id, SQLTokenString const &received,
                                                   int offset, int length) {
  SQLNetAgentClientStatementData &sd = Lookup(id);
  unsigned char const *bytes;
  int total;
  received.GetString(bytes, total);
  if (offset < 0 || length < 0 || offset > total || length > total - offset)
    ProtocolError("packet of %d bytes at %d beyond a buffer of %d", length, offset, total);
  sd.replies.push_back(std::make_unique<SQLTokenString>(bytes + offset, length));
}

// ---------------------------------------------------------------- session and server ends

int SQLNetAgentClient::EndSession(ZDB_SESSION *session) {
  try {
    // The session is about to go: nothing may keep pointing at it.
    for (auto &entry : statements_)
      if (entry.second->session == session) entry.second->session = nullptr;
    if (g_batchSession == session) g_batchSession = nullptr;
    ZDB_SERVER *server = g_carrier->serverOfSession(session);
    if (server == nullptr) return 0;
    std::uint32_t number = g_carrier->serverNumber(server);
    for (auto &b : buffers_) {
      if (g_carrier->serverNumber(b->GetZDBServer()) != number) continue;
      if (!b->IsEmpty()) FlushPacketBuffer(b.get());
      break;
    }
    return 0;
  } catch (std::bad_alloc const &) {
    zdb_errno = ZE_MEMORY;
  } catch (SQLException const &) {
    std::printf("SQLNetAgentClient::EndSession catch SQLException tbi\n");
  }
  return -1;
}

int SQLNetAgentClient::EndServer(ZDB_SERVER *server) {
  try {
    std::uint32_t number = g_carrier->serverNumber(server);
    std::unique_ptr<SQLPacketBuffer> buffer;
    for (auto it = buffers_.begin(); it != buffers_.end(); ++it) {
      if (g_carrier->serverNumber((*it)->GetZDBServer()) != number) continue;
      buffer = std::move(*it);
      buffers_.erase(it);
      break;
    }
    if (!buffer) return 0;
    // Every statement lets go of the buffer, not only the created ones,
    // so that none keeps a pointer to it once it is freed.
    for (auto &entry : statements_) {
      SQLNetAgentClientStatementData &sd = *entry.second;
      if (sd.packetBuffer != buffer.get()) continue;
      if (sd.state != 0 || sd.unknown) {
        sd.state = 0;
        sd.unknown = false;
        sd.resultLost = false;
        QueueTemplate(destroyPacket_, sd.id, buffer.get());
      }
      sd.templateQueued = false;
      sd.packetBuffer = nullptr;
    }
    if (!buffer->IsEmpty()) FlushPacketBuffer(buffer.get());
    return 0;
  } catch (std::bad_alloc const &) {
    zdb_errno = ZE_MEMORY;
  } catch (SQLException const &) {
    std::printf("SQLNetAgentClient::EndServer catch SQLException tbi\n");
  }
  return -1;
}

// ---------------------------------------------------------------- the reply handler

namespace {

// Answers a request for data dictionaries: delivers them through the
// session of the last batch and tells the agent to go on.
int AnswerMissingDDs(SQLTokenString const &ts) {
  int n = ts.GetBs2();
  if (n < 0 || n > kSQLAgentMaxDDRequest)
    ProtocolError("request for %d data dictionaries", n);
  if (g_ddRequest.size() < static_cast<std::size_t>(n) * kDDEntrySize)
    g_ddRequest.resize(static_cast<std::size_t>(n) * kDDEntrySize);
  for (int i = 0; i < n; ++i) {
    unsigned char *entry = &g_ddRequest[static_cast<std::size_t>(i) * kDDEntrySize];
    unsigned char const *name;
    std::int16_t len;
    ts.GetMemory(name, len);
    // A shorter name is padded with NULs; a longer one is cut at 8 bytes.
    std::memset(entry, 0, 8);
    std::memcpy(entry, name, static_cast<std::size_t>(len < 0 ? 0 : (len > 8 ? 8 : len)));
    auto compnr = static_cast<std::uint16_t>(ts.GetBs2());
    entry[8] = static_cast<unsigned char>(compnr >> 8);
    entry[9] = static_cast<unsigned char>(compnr & 0xFF);
  }
  ZDB_SESSION *session = g_batchSession;
  if (session == nullptr) {
    log_mesg(__FILE__, __LINE__, "SQL", LOG_ERROR,
             "SQL agent asks for data dictionaries without a session to send them");
    zdb_errno = ZE_INVALID_SESSION;
    return -1;
  }
  if (g_carrier->sendDDs(session, static_cast<std::uint32_t>(n), g_ddRequest.data()) < 0) return -1;
  SQLPacketBuffer buffer(g_carrier->serverOfSession(session));
  SQLTokenString pending(20);
  pending.AppendToken(SQLNWTPacketForDriver);
  pending.AppendToken(SQLNWTHandlePendingPackets);
  buffer.AddPacket(pending);
  unsigned char const *bytes;
  int length;
  buffer.GetString(bytes, length);
  if (LogPackets()) {
    Log() << "Client sending packet buffer to server "
          << static_cast<unsigned long>(g_carrier->serverNumber(buffer.GetZDBServer())) << ": ";
    buffer.Log();
  }
  // The agent's replies to the pending request come back through a nested
  // call of the handler before this returns.
  return g_carrier->commuPackets(buffer.GetZDBServer(), reinterpret_cast<char const *>(bytes),
                                 static_cast<std::uint32_t>(length)) < 0
             ? -1
             : 0;
}

int HandlePackets(unsigned char const *bytes, std::uint32_t count) {
  if (count > static_cast<std::uint32_t>(INT_MAX)) ProtocolError("reply of %u bytes", count);
  SQLTokenString ts(bytes, static_cast<int>(count));
  if (LogPackets()) {
    if (ts.Length() == 0) {
      Log() << "Client receives no packets." << endl;
    } else {
      Log() << "Client receiving packets: ";
      ts.Log();
    }
  }
  SQLNetAgentClient *client = SQLNetAgentClient::Instance();
  while (!ts.AtEnd()) {
    int length = ts.GetBs4();
    int start = ts.GetReadOffset();
    if (length < 3 || length > ts.Length() - start)
      ProtocolError("packet length %d at offset %d of a %d-byte reply", length, start, ts.Length());
    SQLNWToken token = ts.GetToken();
    switch (token) {
      case SQLNWTLanguageLevel:
        ts.GetBs4();
        ts.GetBs4();
        break;
      case SQLNWTMissingDDs:
        if (AnswerMissingDDs(ts) < 0) return -1;
        break;
      case SQLNWTDiagRec:
      case SQLNWTResultSet:
      case SQLNWTEndOfSet:
      case SQLNWTNrRowsProcessed: {
        auto id = static_cast<unsigned long>(static_cast<std::uint32_t>(ts.GetBs4()));
        try {
          client->AddPacketToBufferedPackets(id, ts, start, length);
        } catch (HashExNotExists const &) {
          // A late reply of a statement that was destroyed meanwhile.
          SQL_log("SQL agent reply %d for unknown statement %lu dropped\n",
                  static_cast<int>(token), id);
        }
        break;
      }
      default:
        ProtocolError("Unknown packet type %d", static_cast<int>(token));
    }
    ts.SetReadOffset(start + length);
  }
  return 0;
}

}  // namespace

int SQLNetAgentClientPacketsHandler(ZDB_REQUEST *req) {
  try {
    return HandlePackets(reinterpret_cast<unsigned char const *>(req->sql.reply), req->sql.length);
  } catch (std::bad_alloc const &) {
    zdb_errno = ZE_MEMORY;
  } catch (SQLException const &) {
    zdb_errno = ZE_SQL_PROTOCOL;  // already logged where it was found
  }
  return -1;
}

int SQLNetAgentClientEndSession(ZDB_SESSION *session) {
  return SQLNetAgentClient::Instance()->EndSession(session);
}

void SQLNetAgentClientEndServer(ZDB_SERVER *server) {
  SQLNetAgentClient::Instance()->EndServer(server);
}
