// Settings tables. A table of al_resource rows names each setting, where
// its value lives and how its text converts; the value comes, in order of
// precedence, from
//
//   1. the overriding environment variable (rows with AL_RES_ENVWIN, or
//      rows that name a variable explicitly),
//   2. the user's settings file "lib/user/u<user>",
//   3. a file loaded with al_load_specified_res (a later load wins over an
//      earlier one),
//   4. "lib/defaults/<program>" (program: log_set_progname),
//   5. "lib/defaults/all",
//   6. the row's default text,
//
// all files relative to the environment root. al_updreses_by_comstring
// applies at run time and wins over everything.
//
// A settings file holds one setting a line: a name, optionally preceded by
// a class and a point, a colon and a value ("rds_full: 10",
// "molvane-host.zdb_debug: 17"). A class applies when it is "*" or the
// program name. Blank lines and lines starting with "#" or "!" are
// comments; blanks around the name and the value are ignored.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Type flags of al_resource (the value kind is one of the first five).
enum {
  AL_RES_CHAR = 0x1,       // char: the first character of the text
  AL_RES_SHORT = 0x2,      // short
  AL_RES_INT = 0x4,        // int
  AL_RES_LONG = 0x8,       // long
  AL_RES_STRBUF = 0x10,    // char array of `size` bytes (too long a text is refused)
  AL_RES_ALLOCSTR = 0x80,  // char *, a block of the allocator owned by the table
  AL_RES_OCTAL = 0x400,    // integer text in octal ("17" is 15)
  AL_RES_HEX = 0x800,      // integer text in hexadecimal
  AL_RES_ENVWIN = 0x2000,  // the environment variable wins over the files
  AL_RES_MUTFUN = 0x8000,  // a change callback may be attached
};

struct al_resource;
// Converts a text into the value; 0 on success, -1 to refuse the text.
typedef int (*al_res_convert_fn)(const char *text, void *value, const struct al_resource *res);
// Called after the setting's value changed.
typedef void (*al_res_mutfun)(struct al_resource *res);

// One settings row; a table ends with a row whose name is null or "".
typedef struct al_resource {
  const char *name;          // setting name
  void *value;               // address of the value (kind from type)
  int type;                  // AL_RES_* flags
  int size;                  // buffer size of AL_RES_STRBUF
  const char *defval;        // default text, or null for none
  al_res_convert_fn convert; // replaces the conversion by type, or null
  const char *envvar;        // overriding variable; null: the name upper-cased
  al_res_mutfun mutfun;      // change callback, or null
} AL_RESOURCE;

// Loads the table's settings from `path` (relative to the environment root
// unless absolute). Applies the defaults first when the table was never
// loaded; values already set by the user file, the environment or a command
// are kept. 0 on success, -1 when the file cannot be read (a missing file
// is not logged).
int al_load_specified_res(const char *path, AL_RESOURCE *table);

// Registers the table (once) and fills it: defaults, "lib/defaults/all",
// "lib/defaults/<program>", the user file and the environment, each where
// it ranks above the value's current source. Registered tables are what
// al_updreses_by_comstring without a table applies to. 0, or -1 for a null
// table.
int al_add_resources(AL_RESOURCE *table);

// Applies settings given as text: lines (separated by newlines) of the
// settings file syntax. With a null table every registered table is
// searched. Returns the number of settings applied.
int al_updreses_by_comstring(const char *command, AL_RESOURCE *table);

// Attaches a change callback to the named setting of the table; 0, or -1
// when the name is not in the table.
int al_setres_mutfun(const char *name, al_res_mutfun fn, AL_RESOURCE *table);

#ifdef __cplusplus
}
#endif
