// Debug print of rows and column values to standard error, used by the
// traces of the database client.
#pragma once

#include <molvane/dd.h>

// "%s %s\n": the title and the values of the table's stored columns in
// row-offset order.
void print_row_from_table(const DD_TABLE *table, const unsigned char *row, const char *title);
// The same for a null-ended column list (a combined column prints its members).
void print_row_from_column(DD_COLUMN *const *columns, const unsigned char *row, const char *title);
// One column (every element of an array).
void print_one_col(const DD_COLUMN *column, const unsigned char *row, const char *title);
// One element of an array column; a combined column is refused.
void print_one_col_index(const DD_COLUMN *column, const unsigned char *row, int index,
                         const char *title);
