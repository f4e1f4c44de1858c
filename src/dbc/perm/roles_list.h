// Role lists: the roles of one type in load order, each with a permission
// table keyed by level key text. DB roles (type 1) hold chains of DB_PERM
// entries; the lists themselves know nothing of what a value holds.
#pragma once

#include <cstdint>

#include "platform/hash.h"

struct DD_COLUMN;
struct YY_EXPR;

enum : int {
  ROLE_TYPE_SESSION = 0,  // session roles (lib/roles/session), unused by the client
  ROLE_TYPE_DB = 1,       // DB roles (lib/roles/db)
  ROLE_TYPE_COUNT = 2
};

// Permission values of the role-file letters, and the further results of
// the permission checks.
enum : int {
  PERM_NO_MATCH = 0,   // no condition of a chain held for the row
  PERM_NONE = 1,       // "-"
  PERM_READ = 2,       // "R"
  PERM_MODIFY = 4,     // "M": update
  PERM_WRITE = 8,      // "W": insert
  PERM_DELETE = 16,    // "D"
  PERM_SUPER = 30,     // super user
  PERM_NEEDS_ROW = 32, // a row condition decides and no row was given
  PERM_NO_FIELD = 64   // no role names the field
};

// One permission line of a DB role.
struct DB_PERM {
  DB_PERM *next;         // next entry of the same key; only conditional entries chain, newest first
  char *key;             // level key as written, with "c" appended for a condition
  uint8_t value;         // PERM_DELETE .. PERM_NONE
  DD_COLUMN *column;     // the field of a field entry, else null
  YY_EXPR *condition;    // compiled condition, or null
  char *condition_text;  // the condition as written, or null
};

// A record of a role's permission table.
struct RPL_PERM {
  HASH_LINK link;
  char *key;    // own copy
  void *value;  // for DB roles: the head DB_PERM of the key's chain
};

struct roleT {
  roleT *next;
  char *name;
  int type;        // ROLE_TYPE_*
  HASH_TBL *perms; // RPL_PERM records, 221 buckets
};

// The position of one walk over a type's roles. Each caller keeps its own,
// so walks may nest.
struct RPL_WALK {
  roleT *last = nullptr;  // the role returned last; null before the first
};

// Releases one value of a permission table.
using rpl_free_fn = void (*)(void *value);
// Writes one trace line.
using rpl_print_fn = void (*)(const char *line);

// Nonzero when the type's list exists or was made.
int rpl_init_role_type(int type);
// 1 made (appended to the type's list), -1 a role of that name exists (its
// record in *role), 0 out of memory or a bad type.
int rpl_new_role(int type, const char *name, roleT **role);
// Frees the role's permission table (each value through free_value when not
// null), unlinks the role from its list and frees it.
void rpl_destroy_role(roleT *role, rpl_free_fn free_value);
// Destroys every role of a type.
void rpl_destroy_roles(int type, rpl_free_fn free_value);
// 1 added, -1 the key exists, 0 out of memory.
int rpl_add_perm(roleT *role, const char *key, void *value);
// Mode 1: the first role of the type; mode 2: the role after walk->last.
// Null at the end, for another mode, or for a type without a list.
roleT *rpl_get_role(int type, int mode, RPL_WALK *walk);
// The role of a name, or null.
roleT *rpl_find_role(int type, const char *name);
// The address of the value of the key's record, or null.
void **rpl_get_perm_from_role(roleT *role, const char *key);
// A number that changes whenever a role or a permission record is made or
// freed (and when a caller calls rpl_note_change after changing a chain
// through the address above), so that what was derived from the roles can
// tell whether it still holds.
uint64_t rpl_generation();
void rpl_note_change();

// Traces, written only when bit 0x20000000 of DEBUG_LEVEL is set (read
// again whenever rpl_init_role_type is called, as at every logon).
void rpl_print_function(rpl_print_fn print);  // null: standard error
void rpl_print_roles(int type);
void rpl_print_role(const roleT *role, const char *event, const char *detail);
void rpl_print_perm(const char *operation, const char *name);
void rpl_print_line(int line_number, const char *line);
