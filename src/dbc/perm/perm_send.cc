// The PERMISSION payload: the table entries of every DB role, so that a
// driver can refuse what the user's roles forbid without trusting the client.
//
//   per role:      u16 name length (with its NUL), name, NUL
//     per key:       per entry of its chain: key, NUL, u16 value,
//                    u16 condition length (0: none), condition and NUL when > 0
//                    then one NUL byte ending the chain
//     one NUL byte ending the role
//   u16 1 and one NUL byte ending all roles
//
// Field entries stay with the client.
#include <cstdio>
#include <cstring>

#include "dbc/perm/perm_roles.h"
#include "dbc/request/request_wire.h"
#include "dbc/session/zdb_trans.h"

namespace {

constexpr int kDebugPermValues = 64;

bool IsTableKey(const char *key) { return std::strchr(key, '.') == nullptr; }

int SendEntry(STREAM *out, const DB_PERM *entry, bool trace) {
  size_t length = entry->condition_text != nullptr ? std::strlen(entry->condition_text) : 0;
  if (length > 0xFFFF) return -1;  // refused when the role was loaded
  if (trace)
    std::fprintf(stderr, "Sending entry '%s : %d : %s'\n", entry->key, entry->value,
                 entry->condition_text != nullptr ? entry->condition_text : "");
  if (wire_put_text(out, entry->key) || wire_put_u16(out, entry->value) ||
      wire_put_u16(out, static_cast<uint16_t>(length)))
    return -1;
  if (length > 0 && (wire_put_bytes(out, entry->condition_text, length) || wire_put_u8(out, 0)))
    return -1;
  return 0;
}

int SendRole(STREAM *out, roleT *role, bool trace) {
  size_t length = std::strlen(role->name) + 1;
  if (length > 0xFFFF) return -1;
  if (trace) std::fprintf(stderr, "Sending permissions of role '%s'\n", role->name);
  if (wire_put_u16(out, static_cast<uint16_t>(length)) || wire_put_bytes(out, role->name, length))
    return -1;
  int position = 0;
  for (auto *perm = static_cast<RPL_PERM *>(hash_seq(role->perms, nullptr, &position));
       perm != nullptr; perm = static_cast<RPL_PERM *>(hash_seq(role->perms, perm, &position))) {
    if (!IsTableKey(perm->key)) continue;
    for (auto *entry = static_cast<const DB_PERM *>(perm->value); entry != nullptr;
         entry = entry->next)
      if (SendEntry(out, entry, trace)) return -1;
    if (wire_put_u8(out, 0)) return -1;
  }
  return wire_put_u8(out, 0);
}

}  // namespace

int dbc_send_roles(STREAM *out) {
  bool trace = (dbc_state().debug & kDebugPermValues) != 0;
  RPL_WALK walk;
  for (roleT *role = rpl_get_role(ROLE_TYPE_DB, 1, &walk); role != nullptr;
       role = rpl_get_role(ROLE_TYPE_DB, 2, &walk))
    if (SendRole(out, role, trace)) return -1;
  if (wire_put_u16(out, 1)) return -1;
  return wire_put_u8(out, 0);
}
