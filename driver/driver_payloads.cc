// Requests whose payloads other parts of the client write: dictionary
// descriptions, role permissions, buffered updates, the company mapping and
// the audit-column settings. Each is read field by field with every count
// and length bounded, so that the connection stays in step; the role
// permissions and the audit-column settings are kept.
#include "dbc/request_codes.h"
#include "dbc/zdb_errors.h"
#include "driver_conn.h"

namespace molvane::driver {

namespace {

constexpr std::uint32_t kNotServed = ZE_ILLEGAL_STATE;
constexpr std::size_t kMaxName = 255;
constexpr std::size_t kMaxText = 4096;
constexpr std::uint16_t kMaxColumns = 4096;
constexpr std::uint32_t kMaxSpecs = 100000;
constexpr std::uint32_t kMaxCompnrs = 1000;

std::uint16_t Count(WireReader &in, std::uint32_t max, const char *what) {
  std::uint16_t n = in.U16();
  if (n > max) throw Malformed(std::string(what) + " count " + std::to_string(n));
  return n;
}

void SkipPositions(WireReader &in, std::uint16_t columns) {
  std::uint16_t n = Count(in, columns, "member");
  for (std::uint16_t i = 0; i < n; ++i)
    if (in.U16() >= columns) throw Malformed("member position beyond the column list");
}

}  // namespace

void DriverConnection::DdInfoTable(WireReader &in, WireWriter &out) {
  in.U32();
  in.Bytes(9, 9);
  std::uint16_t columns = Count(in, kMaxColumns, "column");
  std::uint16_t combined = Count(in, kMaxColumns, "combined column");
  std::uint16_t keys = Count(in, kMaxColumns, "key");
  std::uint16_t words = Count(in, kMaxColumns * 4, "group word");
  in.U16();  // company number
  std::uint16_t referencing = Count(in, kMaxColumns * 4, "referencing entry");
  std::uint16_t references = Count(in, kMaxColumns * 4, "reference");
  in.U16();  // reference kinds
  for (std::uint16_t i = 0; i < columns; ++i) {
    in.Text(kMaxName);
    in.U16();
    in.U16();
    in.U8();
    in.U8();
    in.U8();
    in.Skip(2);
  }
  for (std::uint16_t i = 0; i < combined; ++i) {
    in.Text(kMaxName);
    SkipPositions(in, columns);
  }
  for (std::uint16_t i = 0; i < keys; ++i) {
    in.U8();
    in.U8();
    in.U8();
    SkipPositions(in, columns);
  }
  for (std::uint16_t i = 0; i < words; ++i) in.U16();
  for (std::uint16_t i = 0; i < referencing; ++i) {
    in.Text(kMaxName);
    in.U16();
  }
  for (std::uint16_t i = 0; i < references; ++i) {
    in.Text(kMaxName);
    in.Text(kMaxName);
    in.U16();
  }
  out.U32(kNotServed);
}

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
  for (std::uint16_t i = 0; i < tables; ++i) {
    std::string table = in.Bytes(8, 8);
    std::uint16_t compnr = in.U16();
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
  out.U32(tables == 0 ? 0 : kNotServed);
}

void DriverConnection::SendCompnr(WireReader &in, WireWriter &out) {
  std::string env = in.Text(kMaxText);
  std::uint32_t specs = in.U32();
  if (specs > kMaxSpecs) throw Malformed("spec count " + std::to_string(specs));
  for (std::uint32_t i = 0; i < specs; ++i) {
    in.Text(kMaxName);
    std::uint32_t entries = in.U32();
    if (entries > kMaxCompnrs) throw Malformed("physical entry count");
    for (std::uint32_t j = 0; j < entries; ++j) {
      in.U16();
      std::uint16_t logical = Count(in, kMaxCompnrs, "logical company");
      for (std::uint16_t k = 0; k < logical; ++k) in.U16();
    }
  }
  compnr_env_ = env;
  out.U32(0);
}

void DriverConnection::AuditCols(WireReader &in, WireWriter &out) {
  in.Take([this](const std::uint8_t *data, std::size_t size, std::size_t *used, std::string *error) {
    return ParseAuditColsPayload(data, size, used, &auditcols_, error);
  });
  out.U32(0);
}

}  // namespace molvane::driver
