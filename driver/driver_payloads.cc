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

namespace {

constexpr std::uint32_t kNotServed = ZE_ILLEGAL_STATE;
}  // namespace

void DriverConnection::Permission(WireReader &in, WireWriter &out) {
  in.Take([this](const std::uint8_t *data, std::size_t size, std::size_t *used, std::string *error) {
    return ParsePermissionPayload(data, size, used, &permissions_, error);
  });
  out.U32(0);
}

void DriverConnection::ExeUpdate(WireReader &in, WireWriter &out) {
  in.U32();
  std::uint16_t tables = in.U16();
  // Until the driver decodes the buffered actions it refuses the tables in
  // which the roles allow no change at all; the client checks each action.
  std::string refused_table;  // the first such table
  std::uint16_t refused_compnr = 0;
  std::vector<std::pair<std::string, std::uint16_t>> missing;  // tables without a dictionary
  for (std::uint16_t i = 0; i < tables; ++i) {
    std::string table = in.Bytes(8, 8);
    std::uint16_t compnr = in.U16();
    if (!HasDictionary(table, compnr) &&
        std::find(missing.begin(), missing.end(), std::make_pair(table, compnr)) == missing.end())
      missing.emplace_back(table, compnr);
    std::uint32_t length = in.U32();
    if (length == 0) continue;
    in.U32();  // row count
    if (length > DBC_MAX_SQL_PACKETS) throw Malformed("row data set too long");
    in.Skip(length);
    if (refused_table.empty() &&
        PermCheck(permissions_, table.c_str(), compnr, PermAccess::kUpdate, nullptr) != 0) {
      refused_table = table;
      refused_compnr = compnr;
    }
  }
  if (!refused_table.empty()) {
    out.U32(ZE_BUFFERED_UPDATE).U32(kNoPermission).Bytes(refused_table.data(), 8);
    out.U16(refused_compnr).U32(0);
    return;
  }
  if (!missing.empty()) {
    out.U32(ZE_NO_DD);
    WriteDdList(out, missing);
    return;
  }
  out.U32(tables == 0 ? 0 : kNotServed);
}

void DriverConnection::AuditCols(WireReader &in, WireWriter &out) {
  in.Take([this](const std::uint8_t *data, std::size_t size, std::size_t *used, std::string *error) {
    return ParseAuditColsPayload(data, size, used, &auditcols_, error);
  });
  out.U32(0);
}

}  // namespace molvane::driver
