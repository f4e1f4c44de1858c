/* The client data dictionary: descriptors of the application tables, their
 * columns, keys, domains and references, as the host and every layer of the
 * library read them.
 *
 * Records are built on first use from the dictionary dump files and are never
 * changed or freed while the process runs; a pointer returned here stays valid
 * until the process ends. Hosts only read them.
 */
#ifndef MOLVANE_DD_H
#define MOLVANE_DD_H

#include <stdint.h>

#include <molvane/export.h>

MOLVANE_EXTERN_C_BEGIN

/* Column and domain types (the type byte). */
enum {
  DDT_BYTE = 1,      /* "b"/"B": one unsigned byte */
  DDT_SHORT = 2,     /* "i": 16-bit signed, big-endian */
  DDT_LONG = 3,      /* "l": 32-bit signed, big-endian */
  DDT_FLOAT = 4,     /* "f": IEEE single, least significant byte first */
  DDT_DOUBLE = 5,    /* "d": IEEE double, least significant byte first */
  DDT_STRING = 6,    /* "s": single-byte text, blank-padded */
  DDT_DATE = 7,      /* "t": day number, 32-bit big-endian */
  DDT_TIME = 8,      /* "k": time, 32-bit big-endian */
  DDT_LONG_U = 9,    /* "u": 32-bit signed, big-endian */
  DDT_LONG_V = 10,   /* "v": 32-bit signed, big-endian */
  DDT_ENUM = 11,     /* "e": enumerated value, one unsigned byte */
  DDT_SET = 12,      /* "p": set of enumerated values, 32-bit big-endian bits */
  DDT_COMBINED = 13, /* "c": no bytes of its own, stands for its members */
  DDT_MBSTRING = 14, /* "m": multibyte (TSS) text, blank-padded */
  DDT_RAW = 15       /* "r": raw bytes */
};

/* Flag bits of a column. */
enum {
  DDF_ARRAY = 0x01,          /* depth 2 or more */
  DDF_FILL = 0x02,           /* the value must be filled */
  DDF_MEMBER = 0x04,         /* member of a combined column */
  DDF_REFERS = 0x08,         /* the column references another table */
  DDF_MEMBER_REFERS = 0x10,  /* member of a combined column that references */
  DDF_NOT_STORED = 0x20,     /* not stored in the database row */
  DDF_INDEX = 0x40,          /* index column _index<n> */
  DDF_COMPARED = 0x80        /* listed in the dump's compared columns */
};

typedef struct DD_ENUM_ENTRY {
  const char *keyword;
  const char *descr;   /* description in the definition's language */
  int32_t value;       /* constant: k, or 1 << (k - 1) for a set */
} DD_ENUM_ENTRY;

/* One language of an enumerated or set domain; all languages of a domain
 * hold the same entries in the same order. */
typedef struct DD_ENUM_DEF {
  struct DD_ENUM_DEF *next;
  DD_ENUM_ENTRY *entries;
  uint16_t max_descr_len; /* longest description in bytes */
  uint16_t count;         /* entries */
  char language;
} DD_ENUM_DEF;

typedef struct DD_DOMAIN {
  int32_t value;          /* "DIV" number; text domains: case conversion letter */
  DD_ENUM_DEF *enums;     /* enumerated and set domains: the languages */
  void *range;            /* compiled range expression, or null */
  const char *attributes; /* five texts, each NUL-ended: L, IL, O, IF, DM */
  int16_t length;         /* stored length of one element */
  uint8_t flag;           /* first character of the "A" line; 1 for type "B" */
  char name[13];          /* name within the package */
  uint8_t type;
  uint8_t digits_before;
  uint8_t digits_after;
  uint8_t rn;
  int16_t print_length;
  char package[2];
} DD_DOMAIN;

/* The anonymous union is C11 and C++; __extension__ lets GCC and Clang take
 * it in C99 as well. */
#if defined(__GNUC__) && !defined(__cplusplus)
#define MOLVANE_ANONYMOUS_UNION __extension__ union
#else
#define MOLVANE_ANONYMOUS_UNION union
#endif

typedef struct DD_COLUMN {
  MOLVANE_ANONYMOUS_UNION {
    DD_DOMAIN *domain;          /* types other than DDT_COMBINED */
    struct DD_COLUMN **members; /* DDT_COMBINED: null-ended member list */
  };
  uint16_t offset; /* byte offset in the row image */
  uint16_t length; /* depth x element length; combined: sum of members */
  uint8_t depth;   /* array depth, 1 for a plain column */
  uint8_t type;
  uint8_t flags;   /* DDF_* */
  char name[21];   /* tttttttt.cccccccc */
} DD_COLUMN;

typedef struct DD_KEY {
  DD_COLUMN **parts;  /* null-ended, in key order; a part may be combined */
  uint8_t index_nr;   /* 1 is the primary index */
  uint8_t a_digit;
  uint8_t duplicates; /* 1 when the index allows duplicate keys */
} DD_KEY;

struct DD_TABLE;

/* A reference this table's column makes to a column of another table. */
typedef struct DD_REF {
  DD_COLUMN *column;      /* the referencing column */
  struct DD_TABLE *table; /* the referencing table */
  char column_name[18];   /* tttttttt.cccccccc of the referencing column */
  char ref_column[18];    /* tttttttt.cccccccc of the referenced column */
  char rf_text[14];
  uint16_t mode;          /* DD_REFMODE_* bit fields */
} DD_REF;

/* A column of another table that references this table. */
typedef struct DD_REFBY {
  char column_name[18];
  uint16_t mode;
} DD_REFBY;

/* Fields of a reference mode word. */
#define DD_REFMODE_CHECK(m) ((m) & 0x3)          /* 1, 2 or 3 */
#define DD_REFMODE_UPDATE(m) (((m) >> 2) & 0x7)  /* 1 counted .. 5 other */
#define DD_REFMODE_DELETE(m) (((m) >> 5) & 0x7)
#define DD_REFMODE_CONDITIONAL 0x100
#define DD_REFMODE_PHYSICAL 0x1000

typedef struct DD_TABLE {
  DD_COLUMN *columns;        /* all columns, sorted by name */
  DD_COLUMN *key_column;
  DD_KEY *keys;              /* in dump order */
  uint16_t *groups;          /* [groups, per group: count, positions] or null */
  DD_COLUMN *refcnt_u;       /* column Refcntu, or null */
  DD_COLUMN *refcnt_d;       /* column Refcntd, or null */
  uint16_t *compare_ranges;  /* (offset, length) pairs, ended by length 0 */
  char header_u[14];         /* restriction text for updates */
  char header_d[14];         /* restriction text for deletes */
  unsigned char *default_row;
  DD_REF *refs;              /* sorted by referencing column name */
  DD_REFBY *refby;
  char name[9];
  uint16_t dlock_offset;     /* row offset of _dlock */
  uint16_t row_length;       /* dlock_offset + 6 */
  int16_t column_count;
  int16_t ref_count;
  int16_t refby_count;
  uint8_t key_count;
  uint8_t mode_bits;         /* 4 ".new" dumps, 8 current dumps */
  DD_COLUMN **s_list;        /* null-ended, or null */
} DD_TABLE;

/* The descriptor of an 8-character table name, loaded on first use; null
 * when the dictionary has no such table (zdb_errno 513, or 512 for a broken
 * dump), for a null name (215), before zdb_init_api (215, and get_zdb_msg
 * says to call it first), and null with zdb_errno 501 when memory runs out
 * while it loads: the next call loads it again. Like the calls of
 * <molvane/zdb.h> it starts with an empty message, and a failure leaves its
 * cause there: "Table mybok999 not found in data dictionary (no dump
 * dmybok999 in /srv/books/dict)", or for a name that is no table name why
 * not (its length, or a character that no table name has). */
MOLVANE_API DD_TABLE *ddtable(const char *name);

/* The descriptor of a column named tttttttt.cccccccc, or null; loads the
 * table as ddtable does, with the same errors and messages. A name that is
 * not of that form, or a column the table does not have, fails with 504
 * and a message that says so and names the table's columns: "Invalid
 * column 'mybok010.titel': mybok010 has no column titel (its columns: id,
 * price, title)". */
MOLVANE_API DD_COLUMN *ddcolumn(const char *full_name);

/* Dictionary mode: 1 current dumps, 3 ".new" dumps, 4 also load the tables
 * that reference a loaded table. Any other value is refused with a log line. */
MOLVANE_API void init_dd_mode(int mode);

MOLVANE_EXTERN_C_END

#endif
