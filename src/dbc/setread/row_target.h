// The row buffer that the database client's own SELECT statements fetch
// into: host callbacks 5 and 7 of the sql_* calls map each select item
// "tttttttt.cccccccc" to its column and store its value in stored form.
#pragma once

#include <molvane/sql.h>

struct DD_TABLE;

// Makes `row` (of `table`) the target of the callbacks for the life of the
// object; the previous target comes back afterwards, so that statements of
// nested row actions each fill their own row.
class DbcRowTarget {
 public:
  DbcRowTarget(unsigned char *row, const DD_TABLE *table);
  ~DbcRowTarget();
  DbcRowTarget(const DbcRowTarget &) = delete;
  DbcRowTarget &operator=(const DbcRowTarget &) = delete;

 private:
  unsigned char *previous_row_;
  const DD_TABLE *previous_table_;
};

// Callback 5: a select item's column of the target table (null when the
// table has none); any non-null handle for a select-star table.
char *dbc_row_create_extvar(char *name, unsigned char *kind, char **record, int *const dims,
                            unsigned long extra);
// Callback 7: stores one fetched value into the target row at its column,
// never beyond the column.
void dbc_row_put_extvar(char *var, unsigned char *data, unsigned char type, int length,
                        int *dims);
