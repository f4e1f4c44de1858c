// Framing of the reference driver: requests are parsed from the bytes
// received so far; a request still incomplete waits for more bytes, and a
// handler acts only after all of its fields were read, so a partial request
// changes nothing.
#include "protocol/driver_conn.h"

#include <algorithm>
#include <cstring>

#include "dbc/request/request_codes.h"
#include "dbc/zdb_errors.h"
#include "sql/common/sql_exception.h"
#include "platform/log.h"

namespace molvane::driver {

namespace {

// How long a server connection's write waits for another session's write
// transaction: the busy time of the other forms.
constexpr std::chrono::milliseconds kLockWaitTime{2000};
// How long a server's write waits in the write queue in all, however
// often the queue moves.
constexpr std::chrono::milliseconds kQueueTime{20000};

}  // namespace

DriverConnection::DriverConnection(const std::vector<std::string> &args)
    : DriverConnection(args, std::make_unique<DriverShared>(), nullptr) {}

DriverConnection::DriverConnection(const std::vector<std::string> &args, DriverShared &shared)
    : DriverConnection(args, nullptr, &shared) {
  monitor_ = shared.monitor;
}

DriverConnection::DriverConnection(const std::vector<std::string> &args,
                                   std::unique_ptr<DriverShared> own, DriverShared *shared)
    : options_(DriverOptions::FromArgs(args)),
      own_(std::move(own)),
      store_(own_ != nullptr ? own_->store : shared->store),
      data_(own_ != nullptr ? own_->data : shared->data),
      tables_(own_ != nullptr ? own_->tables : shared->tables),
      agent_(AgentContext{
                 [this](const std::string &table, int physical) { return tables_.Find(table, physical, this); },
                 [this](const std::string &table, int physical) { return LogicalCompnr(table, physical); },
                 [this](std::uint32_t id) -> sqlite3 * {
                   DriverSession *s = SessionFor(id);
                   return s != nullptr ? s->db() : nullptr;
                 },
                 [this](std::uint32_t session, const std::string &table, int physical) {
                   return data_.LockedForOthers(session, table, physical);
                 },
                 [this](std::uint32_t id) {
                   // A statement waits as a record write does; a file
                   // still busy is a lock error.
                   DriverSession *s = SessionFor(id);
                   if (s == nullptr) return false;
                   if (BeginWrite(s)) return true;
                   if (s->busy()) throw SQLExZDBError(ZE_LOCKED);
                   return false;
                 }},
             options_.agent_forget_dds) {
  if (!options_.database.empty() && !store_.has_path()) store_.SetPath(options_.database);
  store_.SetMaxPages(options_.max_pages);
}

DriverConnection::~DriverConnection() {
  // The sessions end with the connection: statements first, then locks and
  // kept batches, then the SQLite connection, which rolls back.
  for (std::uint32_t id : sessions_) {
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
    try {
      store_.RequestStarts(sessions_, CoarseNow());
      Handle(in, out);
      store_.RequestEnded(sessions_);
    } catch (const NeedMore &) {
      output_.resize(queued);
      break;
    } catch (const Malformed &e) {
      output_.resize(queued);
      log_mesg(__FILE__, __LINE__, "driver", 0, "malformed request %d: %s", input_[start],
               e.what());
      ended_ = true;
      break;
    } catch (...) {
      output_.resize(queued);
      throw;
    }
    ++handled_;
    start += in.consumed();
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

DriverSession *DriverConnection::SessionFor(std::uint32_t id) {
  return sessions_.count(id) != 0 ? store_.Find(id) : nullptr;
}

bool DriverConnection::BeginWrite(DriverSession *session) {
  // A session that holds the write transaction never queues for it.
  bool begun = monitor_ == nullptr || session->active()
                   ? session->Begin()
                   : AwaitWriteTurn(
                         session, [session] { return session->Begin(); }, [session] { return session->busy(); });
  if (!begun && session->busy())
    log_mesg(__FILE__, __LINE__, "driver", 0, "session %u: another session's write transaction held the database",
             session->id());
  return begun;
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
  // The queue is first come, first served: a request that arrives while
  // others wait goes behind them even when the file happens to be free.
  // It waits while the queue moves, for kLockWaitTime after the last move
  // and kQueueTime in all.
  const auto start = std::chrono::steady_clock::now();
  auto deadline = start + kLockWaitTime;
  const std::uint64_t ticket = monitor_->Park(session->id(), deadline);
  std::uint64_t turns = monitor_->turns();
  bool parked = false;
  bool done = false;
  for (;;) {
    if (monitor_->First(ticket)) {
      done = attempt();
      if (done) monitor_->Began();
      if (done || !busy()) break;
    }
    if (cancelled_ && cancelled_()) break;
    const auto now = std::chrono::steady_clock::now();
    if (monitor_->turns() != turns) {
      turns = monitor_->turns();
      deadline = std::min(now + kLockWaitTime, start + kQueueTime);
      monitor_->Extend(ticket, deadline);
    }
    if (now >= deadline) {
      log_mesg(__FILE__, __LINE__, "driver", 0, "session %u: its write waited %lld ms, %zu requests ahead of it",
               session->id(), static_cast<long long>((now - start) / std::chrono::milliseconds(1)),
               monitor_->Position(ticket));
      break;
    }
    if (!parked && on_state_) on_state_(RequestState::kParked);
    parked = true;
    // Transactions end at a request's end, which wakes the queue; the
    // short bound covers a writer that ends otherwise.
    monitor_->Sleep(std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(20)));
  }
  monitor_->Leave(ticket);
  if (parked && on_state_) on_state_(RequestState::kRunning);
  return done;
}

}  // namespace molvane::driver
