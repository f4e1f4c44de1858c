// The reference driver's copy of the audit-column settings: the AUDITCOLS
// payload parsed and kept exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "protocol/perm_payload.h"

namespace molvane::driver {

struct AuditColsSet {
  bool received = false;
  uint32_t config_id = 0;                          // modification time of the client's file
  std::unordered_map<std::string, uint32_t> keys;  // key -> level 0..3
  std::string payload;                             // the payload bytes exactly as received
};

// Parses an AUDITCOLS payload (after the request code) at the start of data:
// u32 configuration id, then key (text with NUL) and u32 level pairs until an
// empty key. kIncomplete when the data ends early; kMalformed (with *error)
// for a key longer than any level key, a key given twice or a level above 3.
PayloadStatus ParseAuditColsPayload(const uint8_t *data, size_t size, size_t *consumed,
                                    AuditColsSet *out, std::string *error);

// The level of a key, or -1 when the settings do not hold it.
int AuditColsLevel(const AuditColsSet &set, const std::string &key);

}  // namespace molvane::driver
