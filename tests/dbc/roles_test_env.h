// Environment roots for the role and audit-column tests: the fixture root
// tests/fixtures/roles, or a scratch root with role files of the test's own
// over the fixture dictionary.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dbc/dict/dd.h"
#include "dbc/perm/perm_roles.h"
#include "platform/user.h"
#include "support/test_env.h"

namespace molvane::test {

// Points the environment root at `zuv`, the dictionary at the fixture's and
// makes the user an ordinary one with the given role list. Roles loaded
// before are dropped.
inline void UseRolesRoot(const std::string &zuv, const char *roles, char user_type = 'N') {
  zdb_unload_roles();
  setenv("ZUV", zuv.c_str(), 1);
  // The log goes to the temporary directory, never into a fixture root.
  setenv("ZUV_LOG", ::testing::TempDir().c_str(), 1);
  setenv("F_ZRDD", FixturePath("roles/dict").c_str(), 1);
  init_local_dd();
  user_info.user_type = user_type;
  std::strncpy(user_info.db_roles, roles, USER_ROLES_LEN);
  user_info.db_roles[USER_ROLES_LEN] = '\0';
}

// A scratch root whose role files the test writes.
class RolesRoot {
 public:
  explicit RolesRoot(const char *roles) { UseRolesRoot(dir_.path(), roles); }
  // Writes lib/roles/db/<first character>/<name> with the given lines.
  void Role(const std::string &name, const std::vector<std::string> &lines) const {
    std::string text;
    for (const std::string &line : lines) text += line + "\n";
    dir_.WriteFile("lib/roles/db/" + name.substr(0, 1) + "/" + name, text);
  }
  const std::string &path() const { return dir_.path(); }

 private:
  ScratchDir dir_;
};

// A zero-filled row image of a table with columns set through their offsets.
class TestRow {
 public:
  explicit TestRow(const DD_TABLE *table) : table_(table), bytes_(table->row_length, 0) {}
  TestRow &Short(const char *column, int value) {
    unsigned char *p = At(column);
    p[0] = static_cast<unsigned char>(value >> 8);
    p[1] = static_cast<unsigned char>(value);
    return *this;
  }
  TestRow &Long(const char *column, int32_t value) {
    unsigned char *p = At(column);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(static_cast<uint32_t>(value) >> (24 - 8 * i));
    return *this;
  }
  TestRow &Text(const char *column, const std::string &value) {
    DD_COLUMN *c = Column(column);
    std::memset(bytes_.data() + c->offset, ' ', c->length);
    std::memcpy(bytes_.data() + c->offset, value.data(), std::min<size_t>(value.size(), c->length));
    return *this;
  }
  TestRow &Double(const char *column, double value) {
    unsigned char *p = At(column);
    std::memcpy(p, &value, 8);  // stored least significant byte first, as on this machine
    return *this;
  }
  const unsigned char *data() const { return bytes_.data(); }

 private:
  DD_COLUMN *Column(const char *column) {
    return ddcolumn((std::string(table_->name) + "." + column).c_str());
  }
  unsigned char *At(const char *column) { return bytes_.data() + Column(column)->offset; }
  const DD_TABLE *table_;
  std::vector<unsigned char> bytes_;
};

}  // namespace molvane::test
