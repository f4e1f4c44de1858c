// The function of a set function (aggregate).
#pragma once

enum SQLSetFuncSpec : int {
  SQL_SETFUNC_MIN = 0,
  SQL_SETFUNC_MAX = 1,
  SQL_SETFUNC_SUM = 2,
  SQL_SETFUNC_AVG = 3,
  SQL_SETFUNC_COUNT = 4,
};
