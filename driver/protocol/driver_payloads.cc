// Requests whose payloads other parts of the client write: role
// permissions, buffered updates and the audit-column settings. Each is read field by field with every count
// and length bounded, so that the connection stays in step; the role
// permissions and the audit-column settings are kept.
#include <algorithm>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "dbc/request/request_codes.h"
#include "dbc/zdb_errors.h"
#include "protocol/driver_conn.h"

namespace molvane::driver {

void DriverConnection::Permission(WireReader &in, WireWriter &out) {
  in.Take([this](const std::uint8_t *data, std::size_t size, std::size_t *used, std::string *error) {
    return ParsePermissionPayload(data, size, used, &permissions_, error);
  });
  out.U32(0);
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
  if (session != nullptr && applies && !BeginWrite(session)) {
    static const std::string kBusy = "another session's write transaction held the database";
    std::string name = tables.empty() ? std::string(8, ' ') : tables.front().name;
    std::uint16_t compnr = tables.empty() ? 0 : tables.front().compnr;
    out.U32(ZE_BUFFERED_UPDATE).U32(ZE_LOCKED).Bytes(name.data(), 8).U16(compnr);
    out.U32(static_cast<std::uint32_t>(kBusy.size())).Bytes(kBusy.data(), kBusy.size());
    return;
  }
  if (!options_.audit_list) return data_.Update(SessionFor(id), std::move(tables), DataCtx(), out);
  // A batch kept for missing dictionaries is applied by the repeat without
  // tables.
  std::vector<UpdateTable> noted = tables;
  if (noted.empty()) noted = std::move(waiting_[id]);
  waiting_.erase(id);
  std::size_t before = out.written().size();
  std::vector<UpdateTable> reached;
  data_.Update(SessionFor(id), std::move(tables), DataCtx(), out, &reached);
  // Only a batch that was applied counts for the audit list.
  const std::vector<std::uint8_t> &reply = out.written();
  bool applied = reply.size() == before + 4 &&
                 std::all_of(reply.begin() + static_cast<long>(before), reply.end(),
                             [](std::uint8_t b) { return b == 0; });
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

void DriverConnection::AuditCols(WireReader &in, WireWriter &out) {
  in.Take([this](const std::uint8_t *data, std::size_t size, std::size_t *used, std::string *error) {
    return ParseAuditColsPayload(data, size, used, &auditcols_, error);
  });
  out.U32(0);
}

}  // namespace molvane::driver
