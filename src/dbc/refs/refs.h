// Referential integrity kept by the client when a driver does not keep it
// itself: checks before a buffered row action (parents of the new row
// exist, no restricting children of the old row), the parents' reference
// counters and the cascades to the children after it, the handling of
// clear_table and drop_table, and the restricting-reference check object.
//
// Every failure returns -1 with the error in zdb_errno and its text in the
// per-company record and the message text, unless said otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dbc/zdb_errors.h"

struct DD_COLUMN;
struct DD_REF;
struct DD_TABLE;
struct ZDB_COMPANY;
struct ZDB_CURSOR;
struct ZDB_INTERNAL_CURSOR;
struct ZDB_REF_ENTRY;


// Library switch (zdb_disable_references): true once references are off.
bool dbc_references_disabled();
// References off for one chain (its ignored reference is "all").
void disable_all_references(ZDB_INTERNAL_CURSOR *icursor);
bool references_off(const ZDB_INTERNAL_CURSOR *icursor);
// The text of the chain's last reference error ("" when none).
const char *zdb_get_ref_error(ZDB_INTERNAL_CURSOR *icursor);

// Kinds 101 (insert), 102 (delete), 103 (update); either row may be null.
int zdb_reference_before(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *old_row,
                         const unsigned char *new_row, int kind, std::uint32_t flags);
int zdb_reference_after(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *old_row,
                        const unsigned char *new_row, int kind, std::uint32_t flags);
// Only the parents' counters of zdb_reference_after: for a whole delete or
// update whose cascades the driver carries out.
int zdb_reference_counters_after(ZDB_INTERNAL_CURSOR *icursor, const unsigned char *old_row,
                                 const unsigned char *new_row, int kind, std::uint32_t flags);
// clear_table and drop_table: -1 failed, 0 go on with the table action,
// 1 done. `mode` is the first word of the argument block.
int reference_for_table_oper(ZDB_INTERNAL_CURSOR *icursor, int action, int mode);

// The generated-SQL work on the children of one reference: operation 1
// looks for one child (605 when there is one), 2 deletes them, 3 writes
// `new_key` into their referencing columns. The number of rows, or -1.
int refer_func(ZDB_INTERNAL_CURSOR *child, const unsigned char *old_key,
               const unsigned char *new_key, const std::vector<DD_COLUMN *> &key_columns,
               int operation, std::uint32_t flags);
// 1 when every column of the list is filled in the packed key, 0 when one is
// empty, -1 (215) for a type it does not know.
int dbc_chk_key_filled(const std::vector<DD_COLUMN *> &columns, const unsigned char *key);
// The emptied key of a column list: numbers 0, texts blanks, raw zero bytes.
// 0, or -1 (215).
int nullify_key(const std::vector<DD_COLUMN *> &columns, unsigned char *key);

// Reports a reference error: the detail text from the format, wrapped for
// 600, 602, 605 to 609; 107 becomes 601. Always -1.
int zdb_reference_error(ZDB_INTERNAL_CURSOR *icursor, int error, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// The companies in which a child table's rows may reference a parent row of
// the physical company: the child's mapping of that company and of every
// logical company stored in it, each once.
std::vector<int> dbc_child_companies(const DD_TABLE *parent, int physical, const char *child);

// Builds the entries of a chain on first need. 0 or -1.
int dbc_build_ref_entries(ZDB_INTERNAL_CURSOR *icursor);
// Releases the reference cursors a per-company record holds (at its close).
void dbc_release_ref_entries(ZDB_COMPANY *company);

// A cursor of the reference work on a table in a company of a transaction,
// shared while in use. Parents are reached with references off; children
// with references on (their own references go on cascading).
struct ZDB_REF_CURSOR {
  ZDB_CURSOR *cursor = nullptr;
  std::vector<unsigned char> row;
  int compnr = 0;
  int uses = 0;
  bool references = false;
};
ZDB_REF_CURSOR *dbc_acquire_ref_cursor(const DD_TABLE *table, int compnr, int trans_id,
                                       bool references);
void dbc_release_ref_cursor(ZDB_REF_CURSOR *ref_cursor);
// Its chain (opened on first use); null with zdb_errno set.
ZDB_INTERNAL_CURSOR *dbc_ref_chain(ZDB_REF_CURSOR *ref_cursor);

// The elementary columns of a column (a combined one stands for its members).
std::vector<DD_COLUMN *> dbc_columns_of(const DD_COLUMN *column);
// The values of a packed key as text, "a, b" (for the error texts).
std::string dbc_key_text(const std::vector<DD_COLUMN *> &columns, const unsigned char *key);

// How an index of a table covers a column list: 1 a unique index of exactly
// the list, 2 the same with duplicates, 3 the list is a prefix of a unique
// index, 4 of an index with duplicates, 5 none.
int key_for_cols(const DD_TABLE *table, const std::vector<DD_COLUMN *> &columns);
// 1 when a child reached through a cascade, nullify or restricted reference
// of the column has no index that begins with its referencing columns, 0
// when all have one, -1 for other actions than 21 and 23 or a missing
// dictionary.
int zdb_reference_duration(const DD_COLUMN *column, int action);
// Sets the two markers to 0 when a reference of the column has update
// mode 1 (first) or delete mode 1 (second), else to -1.
void init_ref_counts(int markers[2], const DD_COLUMN *column);

// The restricting-reference check object.
struct ZDBCHKRES {
  ZDB_INTERNAL_CURSOR *icursor = nullptr;
  int what = 0;   // 1 delete, 2 update
  int kind = 0;   // 1 restricting lookups, 2 reference counts
  bool same_driver = false;
  bool counted = false;
  bool restricted = false;
};
ZDBCHKRES *zdbchkres_Construct();
int zdbchkres_Initialize(ZDBCHKRES *object, ZDB_CURSOR *cursor, int what, int compnr, int kind);
int zdbchkres_Execute(ZDBCHKRES *object, const char **text);
void zdbchkres_Destruct(ZDBCHKRES *object);
