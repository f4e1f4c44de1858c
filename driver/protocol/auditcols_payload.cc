// Parsing the AUDITCOLS payload.
#include "protocol/auditcols_payload.h"

namespace molvane::driver {

namespace {

// Longest key of the client's audit_cols: table, ":", company, ":", column.
constexpr size_t kMaxKey = 21;
constexpr uint32_t kMaxLevel = 3;

}  // namespace

PayloadStatus ParseAuditColsPayload(const uint8_t *data, size_t size, size_t *consumed,
                                    AuditColsSet *out, std::string *error) {
  PayloadReader in(data, size);
  AuditColsSet set;
  std::string key;
  if (in.U32(&set.config_id)) {
    while (in.Text(kMaxKey, &key) && !key.empty()) {
      uint32_t level = 0;
      if (!in.U32(&level)) break;
      if (level > kMaxLevel) {
        in.Fail("level " + std::to_string(level) + " of '" + key + "'");
        break;
      }
      if (!set.keys.emplace(key, level).second) {
        in.Fail("key '" + key + "' twice");
        break;
      }
    }
  }
  if (in.status() != PayloadStatus::kOk) {
    if (error != nullptr) *error = in.error();
    return in.status();
  }
  *consumed = in.position();
  set.received = true;
  set.payload.assign(reinterpret_cast<const char *>(data), in.position());
  *out = std::move(set);
  return PayloadStatus::kOk;
}

int AuditColsLevel(const AuditColsSet &set, const std::string &key) {
  auto it = set.keys.find(key);
  return it == set.keys.end() ? -1 : static_cast<int>(it->second);
}

}  // namespace molvane::driver
