// Role files: "lib/roles/db/<first character>/<name>" under the environment
// root (session roles under "lib/roles/session"). The first line names the
// role and the roles it includes; every further line that does not begin
// with "#" is a permission line "name:company:letter[:condition]".
#pragma once

#include <string>

// An open role file; opened by role_open, released by role_close.
struct ROLE_FILE;

// One permission line as read, before any check.
struct ROLE_LINE {
  std::string name_company;  // table or table.field, ":", company
  std::string letter;        // the text of the letter field
  std::string condition;     // the rest of the line after the third ":"
  bool has_condition = false;
  int line_number = 0;       // 1 is the header line
};

// 1 when a role name may name a file: not empty, no "/" or "\", not starting
// with ".", so that it cannot leave lib/roles/db.
bool role_name_ok(const char *name);
// The opened file, read whole, or null (errno set; EINVAL for a refused
// name, EIO for a read error, ENOMEM when memory ran out).
ROLE_FILE *role_open(int type, const char *name);
// Nonzero on success. Releases the file in any case; null is accepted.
int role_close(ROLE_FILE *file);
// 1 when the first line names the role; the included-roles text after its
// first ":" goes to *subroles (has_subroles false when there is none).
// 0 otherwise.
int role_read_subroles(ROLE_FILE *file, const char *name, std::string *subroles,
                       bool *has_subroles);
// Mode 1 starts at the first line after the header, mode 2 reads on.
// 1 a line, -1 end of file, 0 a line without two ":" (logged as
// "Corrupt role"). Blank lines and lines beginning with "#" are skipped.
int role_read_perm_line(ROLE_FILE *file, int mode, ROLE_LINE *line);
