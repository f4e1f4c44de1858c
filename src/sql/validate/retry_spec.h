// The RETRY clause of a query: which kind of clause the statement has and,
// per column of the clause, where the statement finds the value of a retry
// point and which parameter receives it.
#pragma once

class SQLParameter;
class SQLValueStore;

// 0 when the statement has no RETRY clause; 2 makes the comparison with
// the last key inclusive; any other non-zero value makes it strict.
enum SQLRetryClauseType : int {
  SQL_RETRY_NONE = 0,
  SQL_RETRY_STRICT = 1,
  SQL_RETRY_INCLUSIVE = 2,
};

// One column of a RETRY clause, held by value in an SQLRetrySpecList.
struct SQLRetrySpec {
  int position = 0;                        // output position of the column
  int columnId = 0;                        // column id in the row source
  int direction = 0;                       // 0 ascending, 1 descending
  SQLValueStore const *current = nullptr;  // the column's store, set by the statement per execution
  SQLValueStore *saved = nullptr;          // the value kept for a retry point
  SQLParameter *parameter = nullptr;       // receives the saved value at a retry
};
