// Parsing the PERMISSION payload and checking requests against it. The
// level keys are looked up the way the client builds them, so that the
// driver and the client reach the same answer for the same table.
#include "protocol/perm_payload.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "dbc/perm/perm_cell.h"

namespace molvane::driver {

namespace {

// Bounds of the fields: a role name is a file name, a key a level key.
constexpr size_t kMaxRoleName = 255;
constexpr size_t kMaxKey = 64;

// The row getter of the condition being evaluated (the expression engine's
// callback has no argument of its own).
const PermRowValue *g_row = nullptr;

void GetColumn(const char *name, YY_VALUE *cell) {
  if (g_row != nullptr && *g_row) (*g_row)(name, cell);
}

bool Holds(const PermEntry &entry, const PermRowValue *row) {
  if (!entry.compiled) return false;
  const PermRowValue *outer = g_row;
  yy_setid_fn old_set = nullptr;
  yy_getid_fn old_get = nullptr;
  yy_get_setid_getid(&old_set, &old_get);
  g_row = row;
  yy_set_setid_getid(nullptr, GetColumn);
  int result = yy_b_express(entry.compiled.get(), YY_NONE, nullptr);
  yy_set_setid_getid(old_set, old_get);
  g_row = outer;
  return result != 0;
}

// A table loaded from the new dictionary arrives with its first letter in
// upper case; the role files name tables in lower case.
std::string LevelKey(const char *table, int compnr, int level) {
  char name[32];  // longer names match no key
  std::snprintf(name, sizeof name, "%s", table);
  name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
  table = name;
  char key[kMaxKey];
  switch (level) {
    case 5: std::snprintf(key, sizeof key, "%s:%03dc", table, compnr); break;
    case 6: std::snprintf(key, sizeof key, "%s:*c", table); break;
    case 7: std::snprintf(key, sizeof key, "%s:%03d", table, compnr); break;
    case 8: std::snprintf(key, sizeof key, "%s:*", table); break;
    case 9: std::snprintf(key, sizeof key, "%.*s:%03d", 5, table, compnr); break;
    case 10: std::snprintf(key, sizeof key, "%.*s:*", 5, table); break;
    case 11: std::snprintf(key, sizeof key, "%.*s:%03d", 2, table, compnr); break;
    case 12: std::snprintf(key, sizeof key, "%.*s:*", 2, table); break;
    case 13: std::snprintf(key, sizeof key, "*:%03d", compnr); break;
    default: std::snprintf(key, sizeof key, "*:*"); break;
  }
  return key;
}

int RoleValue(const PermRole &role, const char *table, int compnr, PermAccess access,
              const PermRowValue *row) {
  for (int level = 5; level <= 14; ++level) {
    auto it = role.by_key.find(LevelKey(table, compnr, level));
    if (it == role.by_key.end()) continue;
    const std::vector<PermEntry> &chain = role.chains[it->second];
    const PermEntry &head = chain.front();
    if (head.condition.empty()) return head.value;
    if (row == nullptr) return access == PermAccess::kTableAction ? 1 : 32;
    int best = 0;
    for (const PermEntry &entry : chain)
      if (entry.value > best && Holds(entry, row)) best = entry.value;
    if (best != 0) return best;
  }
  return 1;
}

int Threshold(PermAccess access) {
  switch (access) {
    case PermAccess::kRead: return 2;
    case PermAccess::kUpdate: return 4;
    case PermAccess::kInsert: return 8;
    default: return 16;
  }
}

}  // namespace

bool PayloadReader::Need(size_t n) {
  if (status_ != PayloadStatus::kOk) return false;
  if (size_ - pos_ < n) {
    status_ = PayloadStatus::kIncomplete;
    return false;
  }
  return true;
}

bool PayloadReader::Fail(const std::string &why) {
  if (status_ == PayloadStatus::kOk) {
    status_ = PayloadStatus::kMalformed;
    error_ = why;
  }
  return false;
}

bool PayloadReader::U8(uint8_t *v) {
  if (!Need(1)) return false;
  *v = data_[pos_++];
  return true;
}

bool PayloadReader::U16(uint16_t *v) {
  if (!Need(2)) return false;
  *v = static_cast<uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
  pos_ += 2;
  return true;
}

bool PayloadReader::U32(uint32_t *v) {
  if (!Need(4)) return false;
  *v = (uint32_t{data_[pos_]} << 24) | (uint32_t{data_[pos_ + 1]} << 16) |
       (uint32_t{data_[pos_ + 2]} << 8) | uint32_t{data_[pos_ + 3]};
  pos_ += 4;
  return true;
}

bool PayloadReader::Bytes(size_t n, std::string *out) {
  if (!Need(n)) return false;
  out->assign(reinterpret_cast<const char *>(data_ + pos_), n);
  pos_ += n;
  return true;
}

bool PayloadReader::Text(size_t max, std::string *out) {
  if (status_ != PayloadStatus::kOk) return false;
  size_t avail = size_ - pos_;
  const void *nul = std::memchr(data_ + pos_, 0, std::min(avail, max + 1));
  if (nul == nullptr) {
    if (avail <= max) {
      status_ = PayloadStatus::kIncomplete;
      return false;
    }
    return Fail("text longer than " + std::to_string(max) + " bytes");
  }
  size_t n = static_cast<size_t>(static_cast<const uint8_t *>(nul) - (data_ + pos_));
  out->assign(reinterpret_cast<const char *>(data_ + pos_), n);
  pos_ += n + 1;
  return true;
}

PayloadStatus ParsePermissionPayload(const uint8_t *data, size_t size, size_t *consumed,
                                     PermSet *out, std::string *error) {
  PayloadReader in(data, size);
  PermSet set;
  for (;;) {
    uint16_t length = 0;
    if (!in.U16(&length)) break;
    if (length == 0 || length > kMaxRoleName + 1) {
      in.Fail("role name of length " + std::to_string(length));
      break;
    }
    std::string name;
    if (!in.Bytes(length, &name)) break;
    if (name.back() != '\0' || name.find('\0') != name.size() - 1) {
      in.Fail("role name without its NUL");
      break;
    }
    name.pop_back();
    if (name.empty()) break;  // length 1: the end of all roles
    PermRole role;
    role.name = name;
    // Chains until an empty text ends the role; entries of a chain until an
    // empty text ends the chain.
    std::string key;
    while (in.Text(kMaxKey, &key) && !key.empty()) {
      std::vector<PermEntry> chain;
      do {
        PermEntry entry;
        entry.key = key;
        uint16_t cond = 0;
        if (!in.U16(&entry.value) || !in.U16(&cond)) break;
        if (cond > 0) {
          std::string text;
          uint8_t nul = 1;
          if (!in.Bytes(cond, &text) || !in.U8(&nul)) break;
          if (nul != 0 || text.find('\0') != std::string::npos) {
            in.Fail("condition of '" + key + "' without its NUL");
            break;
          }
          entry.condition = text;
          yy_expr_errno = 0;
          entry.compiled.reset(yy_expr_compile(text.c_str(), nullptr));
        }
        if (!chain.empty() && chain.front().key != entry.key) {
          in.Fail("chain of '" + chain.front().key + "' holds '" + entry.key + "'");
          break;
        }
        chain.push_back(std::move(entry));
      } while (in.Text(kMaxKey, &key) && !key.empty());
      if (in.status() != PayloadStatus::kOk) break;
      if (role.by_key.count(chain.front().key) != 0) {
        in.Fail("key '" + chain.front().key + "' twice in role '" + name + "'");
        break;
      }
      role.by_key.emplace(chain.front().key, role.chains.size());
      role.chains.push_back(std::move(chain));
    }
    if (in.status() != PayloadStatus::kOk) break;
    set.roles.push_back(std::move(role));
  }
  if (in.status() != PayloadStatus::kOk) {
    if (error != nullptr) *error = in.error();
    return in.status();
  }
  *consumed = in.position();
  set.payload.assign(reinterpret_cast<const char *>(data), in.position());
  *out = std::move(set);
  return PayloadStatus::kOk;
}

int PermTableValue(const PermSet &perms, const char *table, int compnr, PermAccess access,
                   const PermRowValue *row) {
  if (perms.roles.empty()) return 30;
  int best = 0;
  for (const PermRole &role : perms.roles) {
    best = std::max(best, RoleValue(role, table, compnr, access, row));
    if (best >= 16) break;
  }
  return best;
}

int PermCheck(const PermSet &perms, const char *table, int compnr, PermAccess access,
              const PermRowValue *row) {
  return PermTableValue(perms, table, compnr, access, row) >= Threshold(access) ? 0
                                                                                : kNoPermission;
}

PermRowValue PermImageRow(const DdTableDesc &desc, const std::uint8_t *image) {
  auto text = std::make_shared<std::string>();  // a string value, kept until the engine copies it
  return [&desc, image, text](const char *name, YY_VALUE *cell) {
    std::string_view wanted(name);
    std::string_view table(desc.name);
    std::size_t blank = table.find(' ');
    if (blank != std::string_view::npos) table = table.substr(0, blank);
    if (wanted.size() > table.size() + 1 && wanted.substr(0, table.size()) == table &&
        wanted[table.size()] == '.')
      wanted.remove_prefix(table.size() + 1);
    for (const DdColumnDesc &c : desc.columns) {
      if (c.name != wanted) continue;
      perm_column_cell(c.type, c.length, c.depth, image + c.offset, cell, text.get());
      return;
    }
  };
}

}  // namespace molvane::driver
