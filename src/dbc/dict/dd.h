// The client data dictionary inside the library: state and mode, lookups by
// name, the row-image operations the dictionary drives, enumerations,
// references and the dump loader's entry points. The records themselves are
// declared in <molvane/dd.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <molvane/dd.h>

// Dictionary state word.
enum : int {
  DD_STATE_LOCAL = 1,
  DD_STATE_GLOBAL = 2,
  DD_MODE_NEW = 4,          // read ".new" dumps
  DD_MODE_CURRENT = 8,      // read current dumps
  DD_MODE_REFERENCING = 16  // also load the tables that reference a loaded one
};

// Limits of the row and key layout.
constexpr int DD_MAX_ROW_LENGTH = 6144;  // includes _dlock and _compnr
constexpr int DD_MAX_COLUMN_END = DD_MAX_ROW_LENGTH - 6;
constexpr int DD_MAX_KEY_LENGTH = 500;
constexpr int DD_MAX_LIST = 1024;  // entries of a column list, without its null

// Errors the loader leaves in zdb_errno.
constexpr int DD_ERR_CORRUPT = 512;
constexpr int DD_ERR_NO_DD = 513;

// One package's domains, sorted by name.
struct DD_DOMAIN_LIST {
  char package[3];
  DD_DOMAIN *domains;
  uint16_t count;
  uint8_t mode_bits;
};

// The record kept per loaded table: the table and, per referenced-by entry,
// the reference record in the referencing table (null until it is loaded).
struct DD_TABLE_CACHE {
  DD_TABLE *table;
  DD_REF **refby_refs;
  bool loading;  // the dump is being parsed; only the table itself looks at it
};

// Allocation function of the dictionary records: zero-filled, never freed.
using dd_alloc_fn = void *(*)(size_t size);

// ---- state and mode (dd_state.cc) ----
void init_local_dd();
void init_global_dd(dd_alloc_fn alloc);
int get_dd_mode();
int dd_state();
// True when the table dump last opened was a ".new" dump, or a domain dump
// was read in mode 3.
bool dd_new_dumps_in_use();

// ---- lookups (dd_lookup.cc) ----
// The folder the table dumps are read from (F_ZRDD, else ${ZUV}/dict), for
// messages; "" when neither is set.
std::string dd_dump_folder();
// True once zdb_init_api has loaded the dictionary. Before, false with
// zdb_errno 215 and a message (the whole message) that names `call` and
// says that zdb_init_api comes first; the dictionary is not looked at.
bool dd_ready_for(const char *call);
// Sets zdb_errno 513 and adds to the message why the dictionary has no table
// of that name: a name that is no table name (its length, or a character
// other than a letter, a digit or "_"), or the dump looked for and the folder
// it was looked for in. REQUIRES: name is not null.
void dd_name_missing_table(const char *name);

// ---- names (dd_names.cc) ----
// 1 when cccccccc of a column name (2 to 8 characters, a letter or "_" first,
// then letters, digits, points or "_") is well formed, else 0.
int check_syntax_column_name(const char *column_name);
// True for a name ddtable may look up: 8 characters, no point, no blank first.
bool dd_table_name_ok(const char *name);
// The 8-character table name into buf (or a static buffer when null).
char *ddtablename_from_column(const DD_COLUMN *column, char *buf);
char *ddtablename_from_columnname(const char *full_name, char *buf);

// ---- lookups (dd_lookup.cc, dd_domain.cc) ----
// ddtable and ddcolumn for callers inside the library: null when the table
// (or column) is missing or its dump cannot be loaded, with zdb_errno as the
// loader left it; std::bad_alloc when memory runs out while the table loads,
// so that the call that needed it fails with 501 (QP501 in the SQL layers).
// The exported forms return null with zdb_errno 501 instead, as a C host
// must never see an exception.
DD_TABLE *dd_table_or_throw(const char *name);
DD_COLUMN *dd_column_or_throw(const char *full_name);
DD_TABLE *ddtable_local(const char *name);
DD_TABLE_CACHE *local_ddtable(const char *name);
DD_COLUMN *ddcolumn_by_ddtable(const DD_TABLE *table, const char *column_name);
DD_TABLE *ddtable_from_columnname(const char *full_name);
DD_DOMAIN *dddomain(const char *name);
DD_DOMAIN *dddomain_with_read(const char *name);
DD_DOMAIN_LIST *dddomain_list(const char *package);
void unlink_domain_list(const char *package);
DD_DOMAIN_LIST *dddomain_list_from_domain(const DD_DOMAIN *domain);
char *dddomainname_from_domain(const DD_DOMAIN *domain, char *buf);
void extract_dom_attributes(const DD_DOMAIN *domain, const char *out[5]);

// ---- keys and column lists (dd_keys.cc) ----
DD_KEY *key_desc(const DD_TABLE *table, int index_nr);
DD_COLUMN **search_key_parts(const DD_TABLE *table, int index_nr);
int _zdb_key_size(DD_COLUMN *const *parts);
int zdb_max_key_size_of_table(const DD_TABLE *table);
int is_key_part(DD_COLUMN *const *parts, const DD_COLUMN *column);
// Buffers given to the list functions hold at least column_count + 1 (or
// DD_MAX_LIST + 1) pointers; a null buffer gives a new block of
// mal_allocater group 50 that the caller frees with mal_free.
DD_COLUMN **sort_columns_by_offset(const DD_TABLE *table, DD_COLUMN **buf);
DD_COLUMN **list_index_columns(const DD_COLUMN *column, DD_COLUMN **buf);
DD_COLUMN **list_column_columns(const DD_COLUMN *column, DD_COLUMN **buf);
DD_COLUMN **list_all_columns(DD_COLUMN *const *list, DD_COLUMN **buf);
int get_nr_columns(DD_COLUMN *const *list);

// ---- row images (dd_row.cc) ----
// Width of one stored element of a numeric type (1, 2, 4 or 8 bytes), 0 for
// the types handled over their whole length (texts, raw bytes, combined).
int dd_element_width(int type);
unsigned char *zdb_extract_key(unsigned char *buf, const unsigned char *row, const DD_KEY *key);
unsigned char *zdb_extract_cols(unsigned char *buf, const unsigned char *row, DD_COLUMN *const *list);
unsigned char *zdb_extract_n_cols(unsigned char *buf, const unsigned char *row,
                                  DD_COLUMN *const *list, int n);
const unsigned char *zdb_fill_key(unsigned char *row, const unsigned char *buf, const DD_KEY *key);
const unsigned char *zdb_fill_cols(unsigned char *row, const unsigned char *buf,
                                   DD_COLUMN *const *list);
const unsigned char *zdb_fill_n_cols(unsigned char *row, const unsigned char *buf,
                                     DD_COLUMN *const *list, int n);
int zdb_compare_cols(const unsigned char *a, const unsigned char *b, DD_COLUMN *const *list);
int zdb_compare_key(const unsigned char *a, const unsigned char *b, const DD_KEY *key);
int zdb_compare_key_in_row(const unsigned char *a, const unsigned char *b, const DD_KEY *key);
int compare_column(const unsigned char *a, const unsigned char *b, const DD_COLUMN *column);

// ---- defaults (dd_default.cc) ----
void fill_default(const DD_COLUMN *column, unsigned char *row, const char *text);
void fill_default_row(const DD_TABLE *table, unsigned char *row);
// The text form of the column's default into buf of size bytes; returns buf.
// DD_DEFA_TEXT_MIN bytes hold any number; a text needs its element length + 1
// and a raw column 2 x its element length + 1. A text that does not fit
// leaves buf empty, logs, and returns null.
constexpr int DD_DEFA_TEXT_MIN = 330;
char *defa_domain(const DD_TABLE *table, const DD_COLUMN *column, char *buf, std::size_t size);

// ---- enumerations (dd_enum.cc) ----
DD_ENUM_DEF *get_enum_def(const DD_DOMAIN *domain, int language);
int32_t enum_keyw_const(const DD_DOMAIN *domain, const char *keyword);
DD_DOMAIN *dddomain_from_enum_keyw(const char *text, long *value);
void get_enum_minmax(const DD_DOMAIN *domain, int32_t *min, int32_t *max);
// Options of get_enum_const.
enum : int { DD_ENUM_ABBREV = 1, DD_ENUM_NOCASE = 2, DD_ENUM_DESCR = 4 };
// Description of a constant (a set: the descriptions of its bits joined by
// "/") into buf of size bytes; null when absent or too long.
char *get_enum_descr(const DD_DOMAIN *domain, int32_t value, int language, char *buf, size_t size);
// Constant of a keyword (or, with DD_ENUM_DESCR, a description); a set takes
// "/"-separated keywords. 0 and *value set, or -1.
int get_enum_const(const DD_DOMAIN *domain, const char *text, int language, int options,
                   int32_t *value);

// ---- references (dd_ref.cc) ----
uint16_t dd_reference_mode(const char *text);
DD_REF *ddfrom_ref(const char *full_name);
DD_REF **ddto_ref_list(const char *full_name, int *count);
// Depth-first search, at most max_depth steps, for a chain of references from
// one column to another; fills route (size entries) and returns its length,
// or -1.
int ref_route(const char *from_column, const char *to_column, int max_depth, DD_REF **route,
              int size);

// ---- loader (dd_loader.cc, dd_load_*.cc) ----
DD_DOMAIN_LIST *read_domain_list(const char *package);
const char *qpdDDGetEnv();
void qpdNullifyStatics();
int read_dd_table_in_sds(const char *package, const char *dump_name);
int read_dd_domain_list_in_sds(const char *package, const char *dump_name);
