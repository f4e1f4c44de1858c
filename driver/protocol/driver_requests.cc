// The requests the reference driver serves in its first form: attaching,
// sessions, transactions over SQLite, session and system commands. Requests
// on tables are read in full and answered with an error until the driver
// keeps tables.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>

#include <molvane/zdb.h>

#include "dbc/request/request_codes.h"
#include "dbc/zdb_errors.h"
#include "protocol/driver_conn.h"
#include "platform/blat.h"
#include "platform/log.h"
#include "text/tss.h"

namespace molvane::driver {

namespace {

// The answer to a request this form of the driver cannot serve yet.
constexpr std::uint32_t kNotServed = ZE_ILLEGAL_STATE;

constexpr std::size_t kMaxName = 255;

}  // namespace

void DriverConnection::DetSession(WireReader &in, WireWriter &out) {
  std::uint32_t id = in.U32();
  in.U8();
  if (sessions_.erase(id) == 0) {
    out.U32(ZE_INVALID_SESSION);
    return;
  }
  data_.ForgetSession(id);
  agent_.SessionClosed(id);
  if (DriverSession *session = store_.Find(id)) session->Abort();
  RestoreTables(id);
  out.U32(store_.CloseSession(id) ? 0 : ZE_INVALID_SESSION);
}

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
  // A table action that writes takes the write transaction before it
  // changes anything (a wait repeats the request).
  bool changes = action == create_table || action == clear_table || action == drop_table ||
                 action == clr_ref_cnt;
  if (changes && !BeginWrite(session)) {
    out.U32(argument).U32(session->Failure(ZE_LOCKED));
    return;
  }
  std::uint32_t retval = data_.TableAction(session, table, compnr, word, &argument, DataCtx());
  out.U32(argument).U32(retval);
}

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
      log_mesg(__FILE__, __LINE__, "driver", 0, "transaction action %u: %s", action,
               StorageText(session->db()).c_str());
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
      if (blat_apply_settings(message.data(), static_cast<int>(message.size())) != 0)
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

void DriverConnection::SqlMessage(WireReader &in, WireWriter &out) {
  std::string packets = in.Bytes(in.U32(), DBC_MAX_SQL_PACKETS);
  // A batch parked for a lock wait is this same request, read again. The
  // agent leaves room in front of its replies for their length, so that
  // they become the reply without a copy.
  constexpr std::size_t kLength = 4;
  std::vector<std::uint8_t> reply =
      agent_.parked()
          ? agent_.Resume()
          : agent_.HandleBatch(reinterpret_cast<const std::uint8_t *>(packets.data()), packets.size(), kLength);
  std::vector<std::uint8_t> length;
  WireWriter(length).U32(static_cast<std::uint32_t>(reply.size() - kLength));
  std::copy(length.begin(), length.end(), reply.begin());
  out.Adopt(std::move(reply));
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
  data_.Read(session, table, compnr, arg, key, DataCtx(), out);
}

DataContext DriverConnection::DataCtx() const {
  DataContext ctx;
  ctx.catalog = &tables_;
  ctx.holder = this;
  ctx.store = &store_;
  ctx.physical = [this](const std::string &table, int logical) { return PhysicalCompnr(table, logical); };
  ctx.logicals = [this](const std::string &table, int physical) { return LogicalCompnrs(table, physical); };
  ctx.references = references_;
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

void DriverConnection::AlterTable(WireReader &in, WireWriter &out) {
  in.Text(kMaxName);
  in.U32();
  in.U32();
  in.U32();
  in.Bytes(in.U32(), DBC_MAX_ROW);
  out.U32(kNotServed).U32(0);
  for (std::size_t i = 0; i < 2 * DD_LIST_ENTRY_SIZE; ++i) out.U8(0);
  out.U32(0);
}

}  // namespace molvane::driver
