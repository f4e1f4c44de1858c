// One client connection of the reference driver: requests are parsed from
// the bytes received so far; a request still incomplete waits for more
// bytes, and a handler acts only after all of its fields were read, so a
// partial request changes nothing. The handlers follow, grouped by request
// family; the data plane (store/driver_data.*), the dictionaries
// (store/driver_dd.*) and the SQL agent (sql/sql_agent.*) do the work.
#include "protocol/driver_conn.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include <molvane/zdb.h>

#include "dbc/request/request_codes.h"
#include "dbc/zdb_errors.h"
#include "protocol/driver_compnr.h"
#include "common/driver_log.h"
#include "platform/blat.h"
#include "platform/log.h"
#include "sql/common/sql_exception.h"
#include "sqlite/sqlite_quote.h"
#include "text/tss.h"

namespace molvane::driver {

namespace {

// How long a server connection's write waits for another session's write
// transaction: the busy time of the other forms.
constexpr std::chrono::milliseconds kLockWaitTime{2000};

// The answer to a request this form of the driver does not serve.
constexpr std::uint32_t kNotServed = ZE_ILLEGAL_STATE;

constexpr std::size_t kMaxText = 4096;
constexpr std::size_t kMaxName = 255;

// A table of the new dictionary is named with its first letter in upper
// case; the mapping names the table as the dictionary does.
std::string MappedName(const std::string &table) {
  std::string name = table;
  if (!name.empty()) name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
  return name;
}

}  // namespace

// ---- The connection: construction, framing, dispatch ----

void DriverShared::WakeWaiters(const Released &before, const std::vector<std::uint32_t> &sessions) const {
  if (monitor == nullptr) return;
  if (store.transactions_ended() != before.transactions) monitor->WriteEnded();
  if (releases() != before.holds) monitor->LocksReleased(sessions);
}

DriverConnection::DriverConnection(const std::vector<std::string> &args)
    : DriverConnection(DriverOptions::FromArgs(args), nullptr) {}

DriverConnection::DriverConnection(const DriverOptions &options, DriverShared *shared)
    : DriverConnection(options, shared == nullptr ? std::make_unique<DriverShared>() : nullptr, shared) {
  if (shared != nullptr) monitor_ = shared->monitor;
  party_ = shared_.NewConnectionParty();
}

DriverConnection::DriverConnection(const DriverOptions &options, std::unique_ptr<DriverShared> own,
                                   DriverShared *shared)
    : options_(options),
      own_(std::move(own)),
      shared_(own_ != nullptr ? *own_ : *shared),
      store_(shared_.store),
      data_(shared_.data),
      tables_(shared_.tables),
      agent_(AgentContext{
                 [this](const std::string &table, int physical) { return tables_.Find(table, physical, this); },
                 [this](const std::string &table, int physical) { return LogicalCompnr(table, physical); },
                 [this](std::uint32_t id) -> sqlite3 * {
                   DriverSession *s = SessionFor(id);
                   return s != nullptr ? s->db() : nullptr;
                 },
                 [this](std::uint32_t session, const std::string &table, int physical) {
                   return statement_.NeedsRows(session, table, physical);
                 },
                 [this](std::uint32_t id, const std::string &table, int physical,
                        const AgentContext::RowFinder &find) { return statement_.Take(id, table, physical, find); },
                 [this](std::uint32_t id) { return statement_.Begin(id); },
                 [this](std::uint32_t id, const std::string &table, int physical, const SQLException *failure) {
                   statement_.Ended(id, table, physical, failure);
                 },
                 [this](std::uint32_t id, const std::string &table, int physical) {
                   statement_.Starts(id, table, physical);
                 },
                 [this](std::uint32_t id) {
                   if (DriverSession *s = SessionFor(id); s != nullptr && Refused(s))
                     throw SQLException("QP999", static_cast<int>(s->lost()), SQLString(s->lost_reason().c_str()));
                 }},
             options_.agent_forget_dds) {
  if (!options_.database.empty() && !store_.has_path()) store_.SetPath(options_.database);
  store_.SetMaxPages(options_.max_pages);
}

DriverConnection::~DriverConnection() {
  // The sessions end with the connection: statements first, then locks and
  // kept batches, then the SQLite connection, which rolls back.
  for (std::uint32_t id : sessions_) {
    shared_.parties.erase(id);
    agent_.SessionClosed(id);
    data_.ForgetSession(id);
    if (DriverSession *session = store_.Find(id)) session->Abort();
    RestoreTables(id);
    store_.CloseSession(id);
  }
  tables_.Forget(this);
}

void DriverConnection::Feed(const void *bytes, std::size_t count) {
  const auto *b = static_cast<const std::uint8_t *>(bytes);
  input_.insert(input_.end(), b, b + count);
}

bool DriverConnection::Process() {
  std::size_t start = 0;
  held_ = false;
  while (!ended_ && start < input_.size()) {
    if (monitor_ != nullptr && output_.size() - out_pos_ >= kReplyLimit) {
      held_ = true;
      break;
    }
    WireReader in(input_.data() + start, input_.size() - start);
    // The reply goes straight behind the queued ones; a request that does
    // not finish takes its part back.
    const std::size_t queued = output_.size();
    WireWriter out(output_);
    const DriverShared::Released released = shared_.released();
    try {
      store_.RequestStarts(sessions_);
      Handle(in, out);
      for (std::uint32_t id : store_.RequestEnded(sessions_)) TransactionLost(id);
    } catch (const NeedMore &) {
      output_.resize(queued);
      break;
    } catch (const Malformed &e) {
      output_.resize(queued);
      LogFromPeer(__FILE__, __LINE__, 0, "malformed request %d: %s", input_[start], e.what());
      ended_ = true;
      break;
    } catch (...) {
      output_.resize(queued);
      throw;
    }
    ++handled_;
    start += in.consumed();
    // What the request released wakes the requests of other connections
    // that wait for it now, not after the client's further requests: a
    // transaction that ended may be the one the head of the write queue
    // waits for, and a lock that went may be a waiting locked read's row.
    if (monitor_ != nullptr && shared_.releases() != released.holds) {
      detached_.insert(detached_.end(), sessions_.begin(), sessions_.end());
      shared_.WakeWaiters(released, detached_);
    }
    detached_.clear();
  }
  input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(start));
  return !ended_;
}

std::size_t DriverConnection::TakeReply(void *buf, std::size_t size) {
  std::size_t n = output_.size() - out_pos_;
  if (n > size) n = size;
  std::memcpy(buf, output_.data() + out_pos_, n);
  out_pos_ += n;
  if (out_pos_ == output_.size()) {
    output_.clear();
    out_pos_ = 0;
  } else if (out_pos_ >= kReplyLimit / 4 && 2 * out_pos_ >= output_.size()) {
    // A client that reads about as fast as it asks may never empty the
    // queue: what it has read is dropped from the front.
    output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(out_pos_));
    out_pos_ = 0;
  }
  return n;
}

void DriverConnection::Handle(WireReader &in, WireWriter &out) {
  int code = in.U8();
  // Open SQL results must not see what this connection writes next.
  if (code == EXE_TBL_CNTR || code == EXE_DB_CNTR || code == EXE_UPDATE || code == DD_INFO_TABLE)
    agent_.Isolate();
  switch (code) {
    case ATT_SERVER: return AttServer(in, out);
    case DET_SERVER: out.U32(0); return;
    case ATT_SESSION: return AttSession(in, out);
    case DET_SESSION: return DetSession(in, out);
    case EXE_TBL_CNTR: return TblCntr(in, out);
    case EXE_DB_CNTR: return DbCntr(in, out);
    case EXE_SESSION: return ExeSession(in, out);
    case EXE_SYSTEM: return ExeSystem(in, out);
    case DD_INFO_TABLE: return DdInfoTable(in, out);
    case PERMISSION: return Permission(in, out);
    case SQL_MESSAGE: return SqlMessage(in, out);
    case EXE_UPDATE: return ExeUpdate(in, out);
    case EXE_ROW_CNTR: return RowCntr(in, out);
    case SEND_COMPNR: return SendCompnr(in, out);
    case AUDITCOLS: return AuditCols(in, out);
    case ALTER_TABLE: return AlterTable(in, out);
    default: throw Malformed("unknown request code " + std::to_string(code));
  }
}

bool DriverConnection::HoldsForOthers() const {
  return std::any_of(sessions_.begin(), sessions_.end(), [this](std::uint32_t id) {
    if (data_.Holds(id)) return true;
    DriverSession *s = store_.Find(id);
    return s != nullptr && s->active();
  });
}

void DriverConnection::SetHost(std::uint64_t host) {
  if (host != 0) party_ = host;
  for (std::uint32_t id : sessions_) shared_.parties[id] = party_;
}

DriverSession *DriverConnection::SessionFor(std::uint32_t id) {
  return sessions_.count(id) != 0 ? store_.Find(id) : nullptr;
}

bool DriverConnection::Refused(DriverSession *session) {
  if (session->lost_reason().empty()) return false;
  refusal_ = session->lost_reason();  // the client asks why (EXE_SYSTEM 9)
  return true;
}

DataContext DriverConnection::DataCtx() const {
  DataContext ctx;
  ctx.catalog = &tables_;
  ctx.holder = this;
  ctx.store = &store_;
  ctx.physical = [this](const std::string &table, int logical) { return PhysicalCompnr(table, logical); };
  ctx.logicals = [this](const std::string &table, int physical) { return LogicalCompnrs(table, physical); };
  ctx.references = references_;
  ctx.session_text = [this](std::uint32_t session) { return SessionText(session); };
  // A batch is applied with the write transaction: a row of it that an SQL
  // statement waiting for that transaction took is given to the batch, as
  // to a locked read (a wait for the statement would close a circle).
  if (monitor_ != nullptr)
    ctx.yields = [this](std::uint32_t session, std::uint32_t holder, const std::string &table_key,
                        const std::string &row_key) {
      return QueuedStatementGaveRow(session, holder, RowRef{table_key, row_key, {}, 0, {}});
    };
  // A conditional read grant is decided by the row: in the logical company
  // and, when it maps elsewhere, in the physical one too.
  if (!permissions_.roles.empty())
    ctx.readable = [this](const DdTableDesc &desc, int logical, const std::uint8_t *image) {
      PermRowValue row = PermImageRow(desc, image);
      const char *table = desc.name.c_str();
      if (PermCheck(permissions_, table, logical, PermAccess::kRead, &row) != 0) return false;
      int physical = PhysicalCompnr(desc.name, logical);
      return physical == logical ||
             PermCheck(permissions_, table, physical, PermAccess::kRead, &row) == 0;
    };
  return ctx;
}

void DriverConnection::TransactionLost(std::uint32_t id) {
  data_.EndTransaction(id);
  RolledBack({id});
}

void DriverConnection::RolledBack(const std::vector<std::uint32_t> &ids) {
  for (std::uint32_t id : ids) {
    if (sessions_.count(id) == 0) continue;
    RestoreTables(id);
    changed_.erase(id);
    waiting_.erase(id);
  }
}

// ---- The write transaction and the server's write queue ----

bool DriverConnection::BeginWrite(DriverSession *session) {
  // A session that holds the write transaction never queues for it, nor
  // does one that takes no more work.
  bool begun;
  write_holder_ = 0;
  lock_refusal_.clear();
  if (monitor_ == nullptr && !session->active() && !Refused(session) && OwnWriteHolds(session)) {
    begun = false;
  } else if (monitor_ == nullptr || session->active() || Refused(session)) {
    begun = session->Begin();
  } else {
    bool tried = false;
    begun = AwaitWriteTurn(
        session,
        [session, &tried] {
          tried = true;
          return session->Begin();
        },
        [session] { return session->busy(); });
    // A statement that lent its rows queues again once it has them.
    if (!begun && statement_.lent()) return false;
    // A wait that ran out before the request was first in the queue met
    // other sessions' writes all the same.
    if (!tried) session->WaitRanOut();
  }
  if (begun && !unmade_.empty()) MakeUnmade(session, false);
  if (!begun && session->busy())
    DriverLog(__FILE__, __LINE__, 0, "session %u: another session's write transaction held the database",
             session->id());
  // The client asks why (EXE_SYSTEM 9) when the driver ended the transaction.
  if (!begun) Refused(session);
  return begun;
}

void DriverConnection::GiveBackWrite(DriverSession *session) {
  if (!session->active()) return;
  session->GiveBackWrite();
  RestoreTables(session->id());
  if (monitor_ != nullptr) monitor_->WriteEnded();
}

bool DriverConnection::OwnWriteHolds(DriverSession *session) {
  const std::uint32_t writer = store_.Writer(session->id());
  if (writer == 0 || sessions_.count(writer) == 0 || !ClosesCircle(session->id(), writer, "the write transaction"))
    return false;
  write_holder_ = writer;
  session->WaitRanOut();
  return true;
}

std::string DriverConnection::WriteRefusal() const {
  if (!lock_refusal_.empty()) return "refused at once: " + lock_refusal_;
  std::string text = "another session's write transaction held the database";
  if (write_holder_ != 0) text += ": " + SessionText(write_holder_) + " holds it";
  return text;
}

bool DriverConnection::MakeUnmade(DriverSession *session, bool wait) {
  const bool in_write = session->active();
  auto make = [&] {
    for (auto it = unmade_.begin(); it != unmade_.end();) {
      if (!tables_.Recreate(session->db(), it->first, it->second)) return false;
      if (in_write) created_in_write_[session->id()].push_back(*it);
      it = unmade_.erase(it);
    }
    return true;
  };
  auto busy = [session] { return (sqlite3_errcode(session->db()) & 0xFF) == SQLITE_BUSY; };
  if (make() || in_write || !wait || !busy() || monitor_ == nullptr) return unmade_.empty();
  return AwaitWriteTurn(session, make, busy);
}

void DriverConnection::Serve(std::function<bool()> cancelled, std::function<void(RequestState)> on_state) {
  cancelled_ = std::move(cancelled);
  on_state_ = std::move(on_state);
  // A statement stepping gives the monitor to waiting threads now and
  // then, and ends once its host has gone.
  agent_.SetPulse([this] {
    monitor_->Yield();
    return cancelled_();
  });
}

bool DriverConnection::AwaitWriteTurn(DriverSession *session, const std::function<bool()> &attempt,
                                      const std::function<bool()> &busy) {
  // The write waits for the session that holds the write transaction: a
  // wait that would close a circle (its holder waits for this host, or is
  // this host on another connection) is refused at once.
  const std::uint32_t id = session->id();
  lock_refusal_.clear();
  auto writer = [this, id] { return store_.Writer(id); };
  // A circle through the rows that an SQL statement queued here took is
  // of the statement's own making: it lends them, a few times per
  // statement (StatementRows::LendForCircle); a circle that stays is
  // refused.
  auto closes = [&](std::uint32_t holder) {
    if (shared_.waits.Circle(id, {holder}).empty()) return false;
    if (statement_.LendForCircle(holder)) return true;
    return ClosesCircle(id, holder, "the write transaction");
  };
  std::uint32_t checked = writer();
  if (checked != 0 && closes(checked)) return false;
  // The queue is first come, first served: a request that arrives while
  // others wait goes behind them even when the file happens to be free.
  // Each turn of the queue hands the write transaction on: the wait is
  // over when one transaction held it for kLockWaitTime (WaitBound).
  WaitBound bound(kLockWaitTime, monitor_->turns());
  const ParkedTicket parked_ticket(*monitor_);
  const WaitEntry entry(shared_.waits, id, [writer] {
    const std::uint32_t w = writer();
    return w != 0 ? std::vector<std::uint32_t>{w} : std::vector<std::uint32_t>{};
  });
  const std::uint64_t ticket = parked_ticket.get();
  bool parked = false;
  bool done = false;
  for (;;) {
    if (statement_.lent()) break;
    if (monitor_->First(ticket)) {
      done = attempt();
      if (done) monitor_->Began();
      if (done || !busy()) break;
    }
    if (cancelled_ && cancelled_()) break;
    // The write transaction went to another session: the wait for it
    // begins anew, and is checked anew.
    if (const std::uint32_t w = writer(); w != 0 && w != checked) {
      checked = w;
      if (closes(w)) break;
    }
    const auto now = std::chrono::steady_clock::now();
    // (A statement's waits end together, at its time-out or the longest
    // wait: StatementRows.)
    if (!bound.Goes(monitor_->turns(), now) || (wait_until_ && now >= *wait_until_)) {
      write_holder_ = writer() != 0 ? writer() : checked;
      DriverLog(__FILE__, __LINE__, 0, "session %u: its write waited %lld ms, %zu requests ahead of it",
               session->id(), static_cast<long long>((now - bound.start()) / std::chrono::milliseconds(1)),
               monitor_->Position(ticket));
      break;
    }
    if (!parked && on_state_) on_state_(RequestState::kParked);
    parked = true;
    // The head is woken when a write transaction ends (the short bound
    // covers one that ends unseen), the others when they become the head;
    // each looks at its deadline again when the queue moved.
    const bool head = monitor_->First(ticket);
    const auto deadline = wait_until_ ? std::min(bound.deadline(), *wait_until_) : bound.deadline();
    monitor_->Sleep(ticket, head ? std::min(deadline, now + std::chrono::milliseconds(20)) : deadline);
  }
  if (parked && on_state_) on_state_(RequestState::kRunning);
  return done;
}

// ---- Attaching, sessions and company mappings (ATT_SERVER, ATT_SESSION,
// DET_SESSION, SEND_COMPNR) ----

std::uint32_t DriverConnection::CompnrRetval() const {
  return FindCompnrMap(compnr_env_) == nullptr ? ZE_ILLEGAL_COMPNR : 0;
}

int DriverConnection::PhysicalCompnr(const std::string &table, int logical) const {
  const CompnrMap *map = FindCompnrMap(compnr_env_);
  return map == nullptr ? logical : map->Physical(MappedName(table), logical);
}

std::vector<int> DriverConnection::LogicalCompnrs(const std::string &table, int physical) const {
  const CompnrMap *map = FindCompnrMap(compnr_env_);
  return map == nullptr ? std::vector<int>{} : map->Logicals(MappedName(table), physical);
}

int DriverConnection::LogicalCompnr(const std::string &table, int physical) const {
  if (PhysicalCompnr(table, physical) == physical) return physical;
  for (int logical = 0; logical <= 999; ++logical)
    if (PhysicalCompnr(table, logical) == physical) return logical;
  return physical;
}

void DriverConnection::AttServer(WireReader &in, WireWriter &out) {
  in.U32();  // driver number
  in.U16();  // file format
  in.U16();
  in.U32();  // the client's SQL protocol
  in.Text(ZDB_USER_NAME_MAX);
  std::string env = in.Text(kMaxText);
  std::string server_text = in.Text(kMaxText);
  // References switched off in the client: the driver does no reference work.
  references_ = server_text != ZDB_NO_REFS;
  if (!references_) server_text = in.Text(kMaxText);
  compnr_env_ = env;
  int mode = options_.tss_mode != 0 ? options_.tss_mode : TssGetMode();
  std::uint32_t level = mode == 2 ? ZDB_LEVEL_UTFT : 0;
  out.U32(options_.sessions).U32(static_cast<std::uint32_t>(getpid())).U32(level);
  out.U32(options_.sql_protocol).U8(options_.idle_limit).U32(CompnrRetval());
}

void DriverConnection::AttSession(WireReader &in, WireWriter &out) {
  std::string name = in.Text(kMaxName);
  if (sessions_.size() >= options_.sessions) {
    LogFromPeer(__FILE__, __LINE__, 0, "session '%s' refused: %u sessions in use",
             name.c_str(), options_.sessions);
    out.U32(0).U32(ZE_NO_RESOURCE);
    return;
  }
  std::string error;
  DriverSession *session = store_.OpenSession(name, &error);
  if (session == nullptr) {
    DriverLog(__FILE__, __LINE__, 0, "cannot open database '%s': %s",
              store_.path().c_str(), error.c_str());
    refusal_ = error;
    out.U32(0).U32(store_.last_failure() != 0 ? store_.last_failure() : ZE_ILLEGAL_STATE);
    return;
  }
  sessions_.insert(session->id());
  shared_.parties[session->id()] = party_;
  had_session_ = true;
  out.U32(session->id()).U32(CompnrRetval());
}

void DriverConnection::DetSession(WireReader &in, WireWriter &out) {
  std::uint32_t id = in.U32();
  in.U8();
  if (sessions_.erase(id) == 0) {
    out.U32(ZE_INVALID_SESSION);
    return;
  }
  shared_.parties.erase(id);
  data_.ForgetSession(id);
  agent_.SessionClosed(id);
  if (DriverSession *session = store_.Find(id)) session->Abort();
  RestoreTables(id);
  shadowed_.erase(id);
  if (monitor_ != nullptr) detached_.push_back(id);  // its waiters are woken after the request (Process)
  out.U32(store_.CloseSession(id) ? 0 : ZE_INVALID_SESSION);
}

void DriverConnection::SendCompnr(WireReader &in, WireWriter &out) {
  CompnrMap map = ReadCompnrMap(in);
  compnr_env_ = map.env;
  KeepCompnrMap(std::move(map));
  out.U32(0);
}

// ---- Transactions, session and system commands (EXE_DB_CNTR, EXE_SESSION,
// EXE_SYSTEM) ----

void DriverConnection::DbCntr(WireReader &in, WireWriter &out) {
  std::uint32_t id = in.U32();
  std::uint32_t action = in.U32() & 0xFF;
  for (int i = 0; i < 3; ++i) in.U32();
  DriverSession *session = SessionFor(id);
  std::uint32_t retval = 0;
  if (session == nullptr) {
    retval = ZE_INVALID_SESSION;
  } else {
    bool ok = true;
    switch (action) {
      // The SQLite transaction begins with the session's first write.
      case start_transaction: break;
      case commit_trans: ok = session->Commit(); break;
      case abort_trans: ok = session->Abort(); break;
      case set_readonly: case ERROR_prepare_commit: case trans_not_active: case db_flush:
      case audit_commit_table_action: case audit_abort_table_action: break;
      default: retval = ZE_ILLEGAL_ARGUMENT; break;
    }
    // A transaction that ends, committed or not, gives back its locks.
    if (action == commit_trans || action == abort_trans) {
      data_.EndTransaction(id);
      RestoreTables(id);
    }
    if (!ok) {
      // A transaction rolled back before (by the driver, or by SQLite)
      // says so; SQLite itself has no error to tell by then.
      std::string why = !session->lost_reason().empty() ? session->lost_reason()
                        : session->lost() != 0
                            ? "the transaction was rolled back before, with error " + std::to_string(session->lost())
                            : StorageText(session->db());
      DriverLog(__FILE__, __LINE__, 0, "transaction action %u refused: %s", action, why.c_str());
      Refused(session);
      retval = session->Failure(kNotServed);
    }
  }
  out.U32(retval);
  // A commit reply carries the audit values: the audit list when the driver
  // keeps one, else none.
  bool commit = action == commit_trans || action == audit_commit_table_action;
  if (commit && options_.audit_list && retval == 0)
    WriteAuditList(id, out);
  else if (commit)
    out.U32(0xFFFFFFFFu);
  if (action == commit_trans || action == abort_trans) changed_.erase(id);
}

void DriverConnection::ExeSession(WireReader &in, WireWriter &out) {
  std::uint32_t id = in.U32();
  std::uint32_t command = in.U32();
  std::string message = in.Bytes(in.U16(), 0xFFFF);
  DriverSession *session = SessionFor(id);
  std::uint32_t retval = 0;
  if (session == nullptr)
    retval = ZE_INVALID_SESSION;
  else if (command == SESS_RENAME)
    session->Rename(message);
  else
    retval = ZE_ILLEGAL_ARGUMENT;
  out.U16(0).U32(retval);
}

void DriverConnection::ExeSystem(WireReader &in, WireWriter &out) {
  std::uint32_t command = in.U32();
  std::string message = in.Bytes(in.U16(), 0xFFFF);
  std::string answer;
  std::uint32_t retval = 0;
  switch (command) {
    case SYS_TRACE_CONTROL:
      // The client's trace settings: trace the same classes into its file.
      // A server's tracer is the process's, and the file is opened as the
      // server's user: no client chooses where every host's trace goes.
      if (monitor_ != nullptr)
        retval = ZE_ILLEGAL_ARGUMENT;
      else if (blat_apply_settings(message.data(), static_cast<int>(message.size())) != 0)
        retval = ZE_ILLEGAL_ARGUMENT;
      break;
    case SYS_CLIENT_HELLO:
      break;
    case SYS_DRIVER_SPEC: {
      // One length byte, the driver name, then its arguments separated by
      // the byte 1; the first argument names the database file when the
      // driver's own arguments did not.
      if (message.empty()) break;
      std::size_t name_len = static_cast<unsigned char>(message[0]);
      if (name_len + 1 > message.size()) {
        retval = ZE_ILLEGAL_ARGUMENT;
        break;
      }
      driver_name_ = message.substr(1, name_len);
      std::string args = message.substr(1 + name_len);
      std::string first = args.substr(0, args.find('\x01'));
      if (!store_.has_path() && !first.empty()) store_.SetPath(first);
      // The file is claimed now, so that the answer can warn the client
      // when another host's driver uses it too.
      store_.ClaimAtAttach(&answer);
      break;
    }
    case SYS_SYSTEM_INFO:
      if (message.size() == 4 &&
          WireReader(reinterpret_cast<const std::uint8_t *>(message.data()), 4).U32() == SYS_INFO_REFUSAL)
        answer = refusal_.substr(0, 0xFFFF);
      else
        answer = std::string("msqlite SQLite ") + sqlite3_libversion();
      break;
    default:
      retval = ZE_ILLEGAL_ARGUMENT;
      break;
  }
  out.U16(static_cast<std::uint16_t>(answer.size())).Bytes(answer.data(), answer.size());
  out.U32(retval);
}

// ---- Dictionaries (DD_INFO_TABLE) ----

void DriverConnection::DdInfoTable(WireReader &in, WireWriter &out) {
  std::uint32_t id = in.U32();
  DdTableDesc desc = ReadTableDesc(in);
  DriverSession *session = SessionFor(id);
  if (session == nullptr) {
    out.U32(ZE_INVALID_SESSION);
    return;
  }
  int physical = PhysicalCompnr(desc.name, desc.compnr);
  std::string name = desc.name;
  std::string error;
  // A table created inside a write transaction goes if the transaction is
  // rolled back; its dictionary stays, so the table is created again then.
  bool in_write = session->active();
  auto busy = [session] { return (sqlite3_errcode(session->db()) & 0xFF) == SQLITE_BUSY; };
  bool refused = false;
  bool added = tables_.Add(session->db(), desc, physical, &error, this, &refused);
  // Creating a table is a write: a server connection waits for another
  // session's write transaction in the write queue and repeats it (its
  // statements are all "IF NOT EXISTS"); after the wait it is a lock error.
  // In a server, the table that another session's write transaction holds
  // the file against is kept without being made: another session may be
  // creating it, and a read of it answers at once that it holds no row
  // (TableRows). The connection's next write makes it (MakeUnmade).
  if (!added && !refused && busy() && monitor_ != nullptr && !in_write) {
    added = tables_.Add(session->db(), desc, physical, &error, this, &refused, false);
    if (added) unmade_.emplace(name, physical);
  }
  if (!added) {
    if (refused) {
      // Rows of another layout would be read and written at the wrong
      // offsets: the table is not served to this client. The client asks
      // why (EXE_SYSTEM 9) and shows the text.
      DriverLog(__FILE__, __LINE__, 0, "table %s company %03d refused: %s", name.c_str(),
                physical, error.c_str());
      refusal_ = error;
      out.U32(ZE_ILLEGAL_STATE);
      return;
    }
    if (busy()) {
      out.U32(ZE_LOCKED);
      return;
    }
    // A description the catalog refuses before SQLite sees it (a table
    // without columns) says so itself; SQLite's text would be "not an
    // error". The client asks why (EXE_SYSTEM 9).
    std::uint32_t storage = StorageError(sqlite3_errcode(session->db()));
    const std::string why = storage != 0 || error.empty() ? StorageText(session->db()) : error;
    DriverLog(__FILE__, __LINE__, 0, "table %s company %03d: %s", name.c_str(), physical, why.c_str());
    refusal_ = why;
    out.U32(storage != 0 ? storage : ZE_ILLEGAL_STATE);
    return;
  }
  if (in_write) created_in_write_[id].emplace_back(name, physical);
  agent_.DictionaryArrived(name, physical);
  out.U32(0);
}

void DriverConnection::ShadowUnmade() {
  static const std::string kSchema = "molvane_unmade";
  for (std::uint32_t id : sessions_) {
    DriverSession *session = store_.Find(id);
    if (session == nullptr || session->db() == nullptr) continue;
    sqlite3 *db = session->db();
    auto exec = [db](const std::string &sql) {
      if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) return true;
      DriverLog(__FILE__, __LINE__, 0, "%s: %s", sql.c_str(), sqlite3_errmsg(db));
      return false;
    };
    auto it = shadowed_.find(id);
    if (it == shadowed_.end()) {
      // SQLite attaches no database inside a transaction: a session that
      // holds one made the tables there.
      if (session->active() || !exec("ATTACH ':memory:' AS " + kSchema)) continue;
      it = shadowed_.emplace(id, std::set<std::pair<std::string, int>>{}).first;
    }
    for (const auto &[name, physical] : unmade_) {
      const DdTableDesc *desc = tables_.Find(name, physical, this);
      if (desc == nullptr || it->second.count({name, physical}) != 0) continue;
      const std::string table = SqliteTableName(name, physical);
      std::string create = TableStatements(*desc, physical).front();
      create.insert(create.find(Quote(table)), kSchema + ".");
      bool made = exec(create);
      for (const char *action : {"INSERT", "UPDATE"})
        made = made && exec("CREATE TRIGGER IF NOT EXISTS " + kSchema + "." + Quote(table + "_" + action) + " BEFORE " +
                            action + " ON " + Quote(table) + " BEGIN SELECT RAISE(ABORT, 'table " + table +
                            " is not made yet'); END");
      if (made) it->second.insert({name, physical});
    }
  }
}

void DriverConnection::RestoreTables(std::uint32_t id) {
  auto it = created_in_write_.find(id);
  if (it == created_in_write_.end()) return;
  DriverSession *session = store_.Find(id);
  if (session != nullptr && !session->active())
    for (const auto &[name, physical] : it->second) tables_.Recreate(session->db(), name, physical);
  created_in_write_.erase(it);
}

bool DriverConnection::HasDictionary(const std::string &table, int logical) const {
  return tables_.Find(table, PhysicalCompnr(table, logical), this) != nullptr;
}

// ---- Tables and rows (EXE_TBL_CNTR, EXE_ROW_CNTR, EXE_UPDATE) and the audit
// list of a commit ----

void DriverConnection::TblCntr(WireReader &in, WireWriter &out) {
  std::uint32_t id = in.U32();
  std::string table = in.Text(kMaxName);
  std::uint16_t compnr = in.U16();
  std::uint32_t word = in.U32();
  int action = static_cast<int>(word & 0xFF);
  std::uint32_t argument = in.U32();
  in.U32();
  bool guarded = action == create_table || action == clear_table || action == drop_table ||
                 action == lock_table || action == alter_table;
  if (guarded && PermCheck(permissions_, table.c_str(), compnr, PermAccess::kTableAction, nullptr)) {
    out.U32(argument).U32(kNoPermission);
    return;
  }
  if (!HasDictionary(table, compnr)) {
    out.U32(argument).U32(ZE_NO_DD);
    WriteDdList(out, {{table, compnr}});
    return;
  }
  DriverSession *session = SessionFor(id);
  if (session == nullptr) {
    out.U32(argument).U32(ZE_INVALID_SESSION);
    return;
  }
  if (Refused(session)) {
    out.U32(argument).U32(session->lost());
    return;
  }
  // A lock, clear or drop of the table waits for the sessions that hold
  // it or rows of it; a clear or drop then holds the table while it waits
  // for the write transaction, and gives it back when it does not run.
  bool took = false;
  lock_refusal_.clear();
  if ((action == lock_table || action == clear_table || action == drop_table) &&
      !AwaitTable(session, table, compnr, action, &took)) {
    out.U32(argument).U32(ZE_LOCKED);
    return;
  }
  auto give_back = [&] {
    if (took) data_.UnlockTable(id, TableKey(table, PhysicalCompnr(table, compnr)));
  };
  // A table action that writes takes the write transaction before it
  // changes anything (a wait repeats the request).
  bool changes = action == create_table || action == clear_table || action == drop_table ||
                 action == clr_ref_cnt;
  const bool began = changes && !session->active();
  if (changes && !BeginWrite(session)) {
    give_back();
    const std::uint32_t failure = session->Failure(ZE_LOCKED);
    // The client asks who held the write transaction (EXE_SYSTEM 9, code
    // 105): the circle (ClosesCircle noted it), or its holder now.
    if (failure == ZE_LOCKED && lock_refusal_.empty()) {
      const std::uint32_t writer = store_.Writer(id);
      refusal_ = writer != 0 ? SessionText(writer) + " holds the write transaction" : std::string();
    }
    out.U32(argument).U32(failure);
    return;
  }
  std::uint32_t retval = data_.TableAction(session, table, compnr, word, &argument, DataCtx());
  if (retval != 0) {
    give_back();
    // An action refused as its transaction's first write (a create of a
    // table another session has locked, a failure of the store) leaves
    // nothing in it.
    if (began) GiveBackWrite(session);
    if (retval == kLocked) refusal_ = TableRefusal(session, table, compnr);
  }
  // A table kept unmade holds no row yet as the connection sees it.
  if (retval != 0 && action == nr_rows && unmade_.count({table, PhysicalCompnr(table, compnr)}) != 0) {
    argument = 0;
    retval = 0;
  }
  out.U32(argument).U32(retval);
}

void DriverConnection::RowCntr(WireReader &in, WireWriter &out) {
  std::uint32_t id = in.U32();
  std::string table = in.Text(kMaxName);
  std::uint16_t compnr = in.U16();
  std::uint32_t arg = in.U32();
  std::string key = in.Bytes(in.U16(), DBC_MAX_ROW);
  if (PermCheck(permissions_, table.c_str(), compnr, PermAccess::kRead, nullptr)) {
    out.U16(0).U32(kNoPermission);
    return;
  }
  if (!HasDictionary(table, compnr)) {
    out.U16(0).U32(ZE_NO_DD);
    WriteDdList(out, {{table, compnr}});
    return;
  }
  DriverSession *session = SessionFor(id);
  if (session == nullptr) {
    out.U16(0).U32(ZE_INVALID_SESSION);
    return;
  }
  if (Refused(session)) {
    out.U16(0).U32(session->lost());
    return;
  }
  const std::size_t at = out.written().size();
  // A locked read of a row of a table whose lock another host waits for
  // waits behind that one (WaitForRow).
  if (arg == 1 && monitor_ != nullptr && TableWaiterAhead(id, TableKey(table, PhysicalCompnr(table, compnr))) != 0) {
    out.U16(0).U32(kLocked);
    return WaitForRow(session, table, compnr, key, at, out);
  }
  if (data_.Read(session, table, compnr, arg, key, DataCtx(), out) == kLocked && arg == 1 && monitor_ != nullptr)
    WaitForRow(session, table, compnr, key, at, out);
}

void DriverConnection::WaitForRow(DriverSession *session, const std::string &table, int compnr,
                                  const std::string &key, std::size_t at, WireWriter &out) {
  // Each read that is refused again replaces the refusal before it; the
  // last one stands when the wait is over.
  const RowRef row = data_.FindRow(session, table, compnr, key, DataCtx());
  if (AwaitRow(session, row, [&] {
        out.Truncate(at);
        if (TableWaiterAhead(session->id(), row.table_key) != 0) {
          out.U16(0).U32(kLocked);
          return false;
        }
        return data_.Read(session, table, compnr, 1, key, DataCtx(), out) != kLocked;
      }))
    return;
  // The client asks who held the row (EXE_SYSTEM 9, code 105): the circle
  // (ClosesCircle noted it), or the holder as the wait ended.
  if (!lock_refusal_.empty()) return;
  const std::uint32_t holder = data_.HolderOf(session->id(), row, &store_);
  const std::uint32_t ahead = holder == 0 ? TableWaiterAhead(session->id(), row.table_key) : 0;
  refusal_ = holder != 0  ? SessionText(holder) + " holds the row"
             : ahead != 0 ? AheadText(ahead)
                          : std::string();
}

void DriverConnection::ExeUpdate(WireReader &in, WireWriter &out) {
  std::uint32_t id = in.U32();
  std::uint16_t count = in.U16();
  std::vector<UpdateTable> tables;
  std::size_t total = 0;
  for (std::uint16_t i = 0; i < count; ++i) {
    UpdateTable t;
    t.name = in.Bytes(8, 8);
    t.compnr = in.U16();
    t.rds = ReadRdsStream(in, DBC_MAX_SQL_PACKETS);
    total += t.rds.data.size();
    if (total > DBC_MAX_SQL_PACKETS) throw Malformed("row data sets too long");
    tables.push_back(std::move(t));
  }
  // The client checks each action against the roles; a table in which the
  // roles allow no change at all is refused here too.
  for (const UpdateTable &t : tables) {
    if (PermCheck(permissions_, t.name.c_str(), t.compnr, PermAccess::kUpdate, nullptr) == 0) continue;
    out.U32(ZE_BUFFERED_UPDATE).U32(kNoPermission).Bytes(t.name.data(), 8).U16(t.compnr).U32(0);
    return;
  }
  // A batch that will be applied takes the write transaction first, so that
  // a wait for another session's changes nothing.
  DriverSession *session = SessionFor(id);
  bool applies = tables.empty() ? data_.HasKept(id)
                                : std::all_of(tables.begin(), tables.end(), [this](const UpdateTable &t) {
                                    return HasDictionary(t.name, t.compnr);
                                  });
  // A batch that clears or drops a table whole (with its reference work)
  // waits for the sessions that hold rows of the table first, as a table
  // action does, and holds the table while it waits for the write
  // transaction; it gives back what it took when it is not applied.
  std::vector<std::string> took_tables;  // table keys
  auto give_back = [&] {
    for (const std::string &key : took_tables) data_.UnlockTable(id, key);
  };
  if (session != nullptr && applies && monitor_ != nullptr && !Refused(session)) {
    lock_refusal_.clear();
    for (const DataPlane::WholeTable &whole : data_.HeldWholeTables(session, tables, DataCtx())) {
      const std::string &name = whole.name;
      const std::uint16_t compnr = whole.compnr;
      bool took = false;
      const auto start = std::chrono::steady_clock::now();
      if (AwaitTable(session, name, compnr, clear_table, &took)) {
        if (took) took_tables.push_back(TableKey(name, PhysicalCompnr(name, compnr)));
        continue;
      }
      give_back();
      const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start).count();
      char secs[32];
      std::snprintf(secs, sizeof secs, "%lld.%lld", ms / 1000, ms % 1000 / 100);
      std::string text = whole.action + ": the table was refused " +
                         (!lock_refusal_.empty()        ? std::string("at once")
                          : options_.lock_wait_ms <= 0 ? std::string("at once (the driver server's --lock-wait-ms is 0)")
                                                        : "after waiting " + std::string(secs) +
                                                              " s (the driver server's --lock-wait-ms)");
      text += refusal_.empty() ? std::string() : ": " + refusal_;
      out.U32(ZE_BUFFERED_UPDATE).U32(ZE_LOCKED).Bytes(name.data(), 8).U16(compnr);
      out.U32(static_cast<std::uint32_t>(text.size())).Bytes(text.data(), text.size());
      return;
    }
  }
  // A batch that fails as its transaction's first write leaves nothing
  // in it: the write transaction goes back with it.
  const bool began = session != nullptr && applies && !session->active();
  if (session != nullptr && applies && !BeginWrite(session)) {
    give_back();
    // Another session's write transaction, or this one ended by the driver
    // (510 with its reason), or a storage error.
    std::string text = WriteRefusal();
    std::uint32_t error = ZE_LOCKED;
    if (!session->busy()) {
      error = session->Failure(ZE_LOCKED);
      text = !session->lost_reason().empty() ? session->lost_reason() : StorageText(session->db());
    }
    // The repeat of a batch kept for its dictionaries names the kept
    // batch's first table.
    const UpdateTable *first = tables.empty() ? data_.FirstKept(id) : &tables.front();
    std::string name = first != nullptr ? first->name : std::string(8, ' ');
    std::uint16_t compnr = first != nullptr ? first->compnr : 0;
    out.U32(ZE_BUFFERED_UPDATE).U32(error).Bytes(name.data(), 8).U16(compnr);
    out.U32(static_cast<std::uint32_t>(text.size())).Bytes(text.data(), text.size());
    return;
  }
  const std::size_t reply_at = out.written().size();
  // Only a batch that was applied (its reply a bare 0) keeps what it took.
  auto applied_now = [&] {
    const std::vector<std::uint8_t> &reply = out.written();
    return reply.size() == reply_at + 4 && std::all_of(reply.begin() + static_cast<long>(reply_at), reply.end(),
                                                       [](std::uint8_t b) { return b == 0; });
  };
  if (!options_.audit_list) {
    data_.Update(SessionFor(id), std::move(tables), DataCtx(), out);
    if (!applied_now()) {
      give_back();
      if (began) GiveBackWrite(session);
    }
    return;
  }
  // A batch kept for missing dictionaries is applied by the repeat without
  // tables.
  std::vector<UpdateTable> noted = tables;
  if (noted.empty()) noted = std::move(waiting_[id]);
  waiting_.erase(id);
  std::vector<UpdateTable> reached;
  data_.Update(SessionFor(id), std::move(tables), DataCtx(), out, &reached);
  // Only a batch that was applied counts for the audit list.
  const bool applied = applied_now();
  if (!applied) {
    give_back();
    if (began) GiveBackWrite(session);
  }
  if (applied) {
    // The tables that the batch's reference work changed count as the
    // batch's own.
    for (UpdateTable &t : reached) {
      auto same = [&t](const UpdateTable &n) { return n.name == t.name && n.compnr == t.compnr; };
      if (std::none_of(noted.begin(), noted.end(), same)) noted.push_back(std::move(t));
    }
    NoteChanged(id, noted);
  } else {
    waiting_[id] = std::move(noted);
  }
}

void DriverConnection::NoteChanged(std::uint32_t session, const std::vector<UpdateTable> &tables) {
  auto &list = changed_[session];
  for (const UpdateTable &t : tables) {
    auto same = [&t](const auto &entry) {
      return entry.first.name == t.name && entry.first.compnr == t.compnr;
    };
    auto it = std::find_if(list.begin(), list.end(), same);
    if (it != list.end()) {
      ++it->second;
      continue;
    }
    UpdateTable key;
    key.name = t.name;
    key.compnr = t.compnr;
    list.emplace_back(std::move(key), 1);
  }
}

void DriverConnection::WriteAuditList(std::uint32_t session, WireWriter &out) {
  auto it = changed_.find(session);
  if (it == changed_.end() || it->second.empty()) {
    out.U32(0xFFFFFFFFu);
    return;
  }
  static std::uint32_t commits = 0;
  out.U32(session).U32(++commits).U32(static_cast<std::uint32_t>(std::time(nullptr)));
  for (const auto &[table, batches] : it->second) {
    std::string name = table.name.substr(0, table.name.find(' '));
    out.Bytes(name.data(), name.size()).U8(0).U16(table.compnr).U16(batches).U32(0);
  }
  out.U8(0);
  changed_.erase(it);
}

// ---- Payloads kept for the client (PERMISSION, AUDITCOLS), ALTER_TABLE ----

void DriverConnection::Permission(WireReader &in, WireWriter &out) {
  in.Take([this](const std::uint8_t *data, std::size_t size, std::size_t *used, std::string *error) {
    return ParsePermissionPayload(data, size, used, &permissions_, error);
  });
  out.U32(0);
}

void DriverConnection::AuditCols(WireReader &in, WireWriter &out) {
  in.Take([this](const std::uint8_t *data, std::size_t size, std::size_t *used, std::string *error) {
    return ParseAuditColsPayload(data, size, used, &auditcols_, error);
  });
  out.U32(0);
}

void DriverConnection::AlterTable(WireReader &in, WireWriter &out) {
  in.Text(kMaxName);
  in.U32();
  in.U32();
  in.U32();
  in.View(in.U32(), DBC_MAX_ROW);
  out.U32(kNotServed).U32(0);
  for (std::size_t i = 0; i < 2 * DD_LIST_ENTRY_SIZE; ++i) out.U8(0);
  out.U32(0);
}

// ---- The SQL agent (SQL_MESSAGE) ----

void DriverConnection::SqlMessage(WireReader &in, WireWriter &out) {
  const std::uint32_t n = in.U32();
  const std::uint8_t *packets = in.View(n, DBC_MAX_SQL_PACKETS);
  // SQLite knows no table that is not made: the tables kept unmade are
  // made now when the file is free (in the write transaction of a session
  // that holds one), else the statements find them empty at once, as the
  // keyed reads do (ShadowUnmade); an UPDATE or DELETE makes them in its
  // own write transaction.
  if (!unmade_.empty()) {
    DriverSession *maker = nullptr;
    for (std::uint32_t id : sessions_)
      if (DriverSession *s = store_.Find(id); s != nullptr && (maker == nullptr || s->active())) maker = s;
    if (maker != nullptr) MakeUnmade(maker, false);
    ShadowUnmade();
  }
  // The agent leaves room in front of its replies for their length, so
  // that they become the reply without a copy.
  constexpr std::size_t kLength = 4;
  std::vector<std::uint8_t> reply = agent_.HandleBatch(packets, n, kLength);
  WireWriter(reply).U32At(0, static_cast<std::uint32_t>(reply.size() - kLength));
  out.Adopt(std::move(reply));
}

}  // namespace molvane::driver
