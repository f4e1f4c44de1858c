// Framing of the reference driver: requests are parsed from the bytes
// received so far; a request still incomplete waits for more bytes, and a
// handler acts only after all of its fields were read, so a partial request
// changes nothing.
#include "driver_conn.h"

#include <cstring>

#include "dbc/request_codes.h"
#include "platform/log.h"

namespace molvane::driver {

DriverConnection::DriverConnection(const std::vector<std::string> &args)
    : options_(DriverOptions::FromArgs(args)),
      agent_(AgentContext{
                 [this](const std::string &table, int physical) { return tables_.Find(table, physical); },
                 [this](const std::string &table, int physical) { return LogicalCompnr(table, physical); },
                 [this](std::uint32_t id) -> sqlite3 * {
                   DriverSession *s = store_.Find(id);
                   return s != nullptr ? s->db() : nullptr;
                 },
                 [this](std::uint32_t session, const std::string &table, int physical) {
                   return data_.LockedForOthers(session, table, physical);
                 },
                 [this](std::uint32_t id) {
                   DriverSession *s = store_.Find(id);
                   return s != nullptr && s->Begin();
                 }},
             options_.agent_forget_dds) {
  if (!options_.database.empty()) store_.SetPath(options_.database);
}

void DriverConnection::Feed(const void *bytes, std::size_t count) {
  const auto *b = static_cast<const std::uint8_t *>(bytes);
  input_.insert(input_.end(), b, b + count);
}

bool DriverConnection::Process() {
  std::size_t start = 0;
  while (!ended_ && start < input_.size()) {
    WireReader in(input_.data() + start, input_.size() - start);
    std::vector<std::uint8_t> reply;
    WireWriter out(reply);
    try {
      Handle(in, out);
    } catch (const NeedMore &) {
      break;
    } catch (const Malformed &e) {
      log_mesg(__FILE__, __LINE__, "driver", 0, "malformed request %d: %s", input_[start],
               e.what());
      ended_ = true;
      break;
    }
    start += in.consumed();
    output_.insert(output_.end(), reply.begin(), reply.end());
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

DriverSession *DriverConnection::SessionFor(std::uint32_t id) { return store_.Find(id); }

}  // namespace molvane::driver
