// Framing of the reference driver: requests are parsed from the bytes
// received so far; a request still incomplete waits for more bytes, and a
// handler acts only after all of its fields were read, so a partial request
// changes nothing.
#include "driver_conn.h"

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

}  // namespace

DriverConnection::DriverConnection(const std::vector<std::string> &args)
    : DriverConnection(args, std::make_unique<DriverShared>(), nullptr) {}

DriverConnection::DriverConnection(const std::vector<std::string> &args, DriverShared &shared)
    : DriverConnection(args, nullptr, &shared) {
  keeps_lock_waits_ = true;
}

DriverConnection::DriverConnection(const std::vector<std::string> &args,
                                   std::unique_ptr<DriverShared> own, DriverShared *shared)
    : options_(DriverOptions::FromArgs(args)),
      own_(std::move(own)),
      store_(own_ != nullptr ? own_->store : shared->store),
      data_(own_ != nullptr ? own_->data : shared->data),
      tables_(own_ != nullptr ? own_->tables : shared->tables),
      agent_(AgentContext{
                 [this](const std::string &table, int physical) { return tables_.Find(table, physical); },
                 [this](const std::string &table, int physical) { return LogicalCompnr(table, physical); },
                 [this](std::uint32_t id) -> sqlite3 * {
                   DriverSession *s = SessionFor(id);
                   return s != nullptr ? s->db() : nullptr;
                 },
                 [this](std::uint32_t session, const std::string &table, int physical) {
                   return data_.LockedForOthers(session, table, physical);
                 },
                 [this](std::uint32_t id) {
                   // A statement waits as a record write does (LockWait
                   // parks its batch); a file still busy is a lock error.
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
}

void DriverConnection::Feed(const void *bytes, std::size_t count) {
  const auto *b = static_cast<const std::uint8_t *>(bytes);
  input_.insert(input_.end(), b, b + count);
}

bool DriverConnection::Process() {
  std::size_t start = 0;
  held_ = false;
  while (!ended_ && start < input_.size()) {
    if (keeps_lock_waits_ && output_.size() - out_pos_ >= kReplyLimit) {
      held_ = true;
      break;
    }
    WireReader in(input_.data() + start, input_.size() - start);
    std::vector<std::uint8_t> reply;
    WireWriter out(reply);
    wait_over_ = lock_waiting_ && std::chrono::steady_clock::now() - wait_start_ >= kLockWaitTime;
    try {
      store_.RequestStarts(sessions_, std::chrono::steady_clock::now());
      Handle(in, out);
      store_.RequestEnded(sessions_);
    } catch (const NeedMore &) {
      break;
    } catch (const LockWait &) {
      if (!lock_waiting_) wait_start_ = std::chrono::steady_clock::now();
      lock_waiting_ = true;
      break;
    } catch (const Malformed &e) {
      log_mesg(__FILE__, __LINE__, "driver", 0, "malformed request %d: %s", input_[start],
               e.what());
      ended_ = true;
      break;
    }
    lock_waiting_ = wait_over_ = false;
    start += in.consumed();
    if (output_.empty()) {
      output_.swap(reply);  // nothing queued: the reply becomes the queue without a copy
    } else {
      output_.insert(output_.end(), reply.begin(), reply.end());
    }
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
  if (session->Begin()) return true;
  if (session->busy() && keeps_lock_waits_ && !wait_over_) throw LockWait{};
  if (session->busy())
    log_mesg(__FILE__, __LINE__, "driver", 0, "session %u: another session's write transaction held the database",
             session->id());
  return false;
}

}  // namespace molvane::driver
