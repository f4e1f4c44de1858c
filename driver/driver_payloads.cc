// Requests whose payloads other parts of the client write: role
// permissions, buffered updates and the audit-column settings. Each is read field by field with every count
// and length bounded, so that the connection stays in step; the role
// permissions and the audit-column settings are kept.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "dbc/request_codes.h"
#include "dbc/zdb_errors.h"
#include "driver_conn.h"

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
  data_.Update(SessionFor(id), std::move(tables), DataCtx(), out);
}

void DriverConnection::AuditCols(WireReader &in, WireWriter &out) {
  in.Take([this](const std::uint8_t *data, std::size_t size, std::size_t *used, std::string *error) {
    return ParseAuditColsPayload(data, size, used, &auditcols_, error);
  });
  out.U32(0);
}

}  // namespace molvane::driver
