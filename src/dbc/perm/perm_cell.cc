#include "dbc/perm/perm_cell.h"

#include <molvane/datetime.h>
#include <molvane/dd.h>

#include "platform/big_endian.h"

void perm_column_cell(int type, std::size_t length, int depth, const unsigned char *value, YY_VALUE *cell,
                      std::string *text) {
  switch (type) {
    case DDT_BYTE:
    case DDT_ENUM:
      cell->kind = YY_INTEGER;
      cell->ival = value[0];
      break;
    case DDT_SHORT:
      cell->kind = YY_INTEGER;
      cell->ival = LoadBig16(value);
      break;
    case DDT_LONG:
    case DDT_DATE:
    case DDT_TIME:
    case DDT_LONG_U:
    case DDT_LONG_V:
    case DDT_SET:
      cell->kind = YY_INTEGER;
      cell->ival = LoadBig32(value);
      break;
    case DDT_FLOAT:
      cell->kind = YY_REAL;
      cell->rval = float_out(value);
      break;
    case DDT_DOUBLE:
      cell->kind = YY_REAL;
      cell->rval = double_out(value);
      break;
    case DDT_STRING:
    case DDT_MBSTRING: {
      text->assign(reinterpret_cast<const char *>(value), depth > 1 ? length / depth : length);
      std::size_t end = text->find_last_not_of(' ');
      text->resize(end == std::string::npos ? 0 : end + 1);
      cell->kind = YY_STRING;
      cell->sval = text->data();
      cell->slen = text->size();
      break;
    }
    default:
      break;  // raw and combined columns have no value a condition reads
  }
}
