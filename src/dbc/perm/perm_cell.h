// The value a role condition reads for a column: the first element of the
// column's value in a row image, as a cell of the range-expression engine.
// The client's permission checks and the reference driver's read the same
// images the same way through it.
#pragma once

#include <cstddef>
#include <string>

#include "platform/yy_expr.h"

// Fills `cell` from the value at `value` of a column of dictionary type
// `type` (DDT_*), `length` bytes for all `depth` elements. A text is given
// without its trailing blanks and lives in *text until the engine copies
// it; raw and combined columns leave the cell as it is (no value).
void perm_column_cell(int type, std::size_t length, int depth, const unsigned char *value, YY_VALUE *cell,
                      std::string *text);
