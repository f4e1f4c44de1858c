// Role lists per role type. Each type has its roles in load order and a
// small hash table of their names, so that a role named twice is loaded once.
// The lists own their records; values of the permission tables belong to the
// caller's free function.
#include "dbc/perm/roles_list.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/env.h"

namespace {

constexpr int kPermBuckets = 221;
constexpr int kNameBuckets = 15;
constexpr long kTraceBit = 0x20000000L;

struct RoleName {
  HASH_LINK link;
  const char *name;  // the role's own name text
  roleT *role;
};

struct RoleType {
  bool made = false;
  roleT *first = nullptr;
  HASH_TBL *names = nullptr;
};

RoleType g_types[ROLE_TYPE_COUNT];
rpl_print_fn g_print = nullptr;
// DEBUG_LEVEL's trace bit, read when a type's list is first asked for, so
// that the permission checks do not look up the setting on every key.
int g_tracing = -1;
uint64_t g_generation = 0;  // see rpl_generation

const char *TypeName(int type) { return type == ROLE_TYPE_SESSION ? "Session" : "Table"; }

bool Tracing() {
  if (g_tracing < 0) g_tracing = (al_debug_level() & kTraceBit) != 0 ? 1 : 0;
  return g_tracing != 0;
}

void Print(const char *line) {
  if (g_print != nullptr) {
    g_print(line);
  } else {
    std::fputs(line, stderr);
  }
}

char *SaveText(const char *text) {
  size_t n = std::strlen(text) + 1;
  char *copy = new (std::nothrow) char[n];
  if (copy != nullptr) std::memcpy(copy, text, n);
  return copy;
}

RoleType *TypeOf(int type) {
  if (type < 0 || type >= ROLE_TYPE_COUNT) return nullptr;
  return &g_types[type];
}

void FreePermRecord(RPL_PERM *perm, rpl_free_fn free_value) {
  if (free_value != nullptr && perm->value != nullptr) free_value(perm->value);
  delete[] perm->key;
  delete perm;
}

}  // namespace

uint64_t rpl_generation() { return g_generation; }

void rpl_note_change() { ++g_generation; }

int rpl_init_role_type(int type) {
  RoleType *t = TypeOf(type);
  if (t == nullptr) return 0;
  g_tracing = -1;
  if (t->made) return 1;
  RoleName sample;
  t->names = creat_hash_tbl(&sample.name, &sample.link, nullptr, kNameBuckets,
                            HASH_KEY_TEXT | HASH_KEY_PTR, nullptr);
  if (t->names == nullptr) return 0;
  t->made = true;
  return 1;
}

int rpl_new_role(int type, const char *name, roleT **role) {
  *role = nullptr;
  if (!rpl_init_role_type(type)) return 0;
  RoleType *t = TypeOf(type);
  if (auto *known = static_cast<RoleName *>(hash_psearch(t->names, name))) {
    *role = known->role;
    return -1;
  }
  auto *r = new (std::nothrow) roleT{};
  auto *entry = new (std::nothrow) RoleName{};
  RPL_PERM sample;
  if (r != nullptr) r->name = SaveText(name);
  if (r != nullptr && r->name != nullptr)
    r->perms = creat_hash_tbl(&sample.key, &sample.link, nullptr, kPermBuckets,
                              HASH_KEY_TEXT | HASH_KEY_PTR, nullptr);
  if (r == nullptr || entry == nullptr || r->perms == nullptr) {
    if (r != nullptr) delete[] r->name;
    delete r;
    delete entry;
    return 0;
  }
  r->type = type;
  entry->name = r->name;
  entry->role = r;
  hash_link(t->names, entry);
  roleT **tail = &t->first;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = r;
  *role = r;
  rpl_note_change();
  rpl_print_role(r, "New Role", "");
  return 1;
}

void rpl_destroy_role(roleT *role, rpl_free_fn free_value) {
  if (role == nullptr) return;
  rpl_print_role(role, "Free Role", "");
  RoleType *t = TypeOf(role->type);
  if (t != nullptr) {
    for (roleT **link = &t->first; *link != nullptr; link = &(*link)->next) {
      if (*link == role) {
        *link = role->next;
        break;
      }
    }
    if (auto *entry = static_cast<RoleName *>(hash_psearch(t->names, role->name))) {
      hash_unlink(t->names, entry);
      delete entry;
    }
  }
  // Unlink every record first: the table must not be walked while records
  // are freed.
  int position = 0;
  while (auto *perm = static_cast<RPL_PERM *>(hash_seq(role->perms, nullptr, &position))) {
    hash_unlink(role->perms, perm);
    FreePermRecord(perm, free_value);
    position = 0;
  }
  hash_destroy(role->perms, nullptr);
  delete[] role->name;
  delete role;
  rpl_note_change();
}

void rpl_destroy_roles(int type, rpl_free_fn free_value) {
  RoleType *t = TypeOf(type);
  if (t == nullptr) return;
  while (t->first != nullptr) rpl_destroy_role(t->first, free_value);
}

int rpl_add_perm(roleT *role, const char *key, void *value) {
  if (hash_psearch(role->perms, key) != nullptr) return -1;
  auto *perm = new (std::nothrow) RPL_PERM{};
  if (perm == nullptr) return 0;
  perm->key = SaveText(key);
  if (perm->key == nullptr) {
    delete perm;
    return 0;
  }
  perm->value = value;
  hash_link(role->perms, perm);
  rpl_note_change();
  rpl_print_role(role, "Add Perm for Role", key);
  return 1;
}

roleT *rpl_get_role(int type, int mode, RPL_WALK *walk) {
  RoleType *t = TypeOf(type);
  if (t == nullptr || walk == nullptr) return nullptr;
  roleT *role = nullptr;
  if (mode == 1) {
    role = t->first;
  } else if (mode == 2 && walk->last != nullptr) {
    role = walk->last->next;
  }
  walk->last = role;
  if (role != nullptr) rpl_print_role(role, "Get Role", "");
  return role;
}

roleT *rpl_find_role(int type, const char *name) {
  RoleType *t = TypeOf(type);
  if (t == nullptr || !t->made) return nullptr;
  auto *entry = static_cast<RoleName *>(hash_psearch(t->names, name));
  return entry != nullptr ? entry->role : nullptr;
}

void **rpl_get_perm_from_role(roleT *role, const char *key) {
  rpl_print_perm("Look for Perm", key);
  auto *perm = static_cast<RPL_PERM *>(hash_psearch(role->perms, key));
  return perm != nullptr ? &perm->value : nullptr;
}

void rpl_print_function(rpl_print_fn print) { g_print = print; }

void rpl_print_roles(int type) {
  RoleType *t = TypeOf(type);
  if (t == nullptr || !Tracing()) return;
  for (roleT *r = t->first; r != nullptr; r = r->next) {
    rpl_print_role(r, "Role", "");
    int position = 0;
    for (auto *perm = static_cast<RPL_PERM *>(hash_seq(r->perms, nullptr, &position));
         perm != nullptr; perm = static_cast<RPL_PERM *>(hash_seq(r->perms, perm, &position)))
      rpl_print_perm("Permission", perm->key);
  }
}

void rpl_print_role(const roleT *role, const char *event, const char *detail) {
  if (!Tracing()) return;
  char line[256];
  std::snprintf(line, sizeof line, "ROLE: role name %-10.10s type %-7.7s: %-17.17s : %c%s%c\n",
                role->name, TypeName(role->type), event, '\'', detail, '\'');
  Print(line);
}

void rpl_print_perm(const char *operation, const char *name) {
  if (!Tracing()) return;
  char line[512];
  std::snprintf(line, sizeof line, "PERM: %-45.45s %s %c%s%c\n", operation, "for    :", '\'', name,
                '\'');
  Print(line);
}

void rpl_print_line(int line_number, const char *line) {
  if (!Tracing()) return;
  char text[1024];
  std::snprintf(text, sizeof text, "LINE: read role entry line no          : % 5d             : '%s'\n",
                line_number, line);
  Print(text);
}
