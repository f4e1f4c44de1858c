// SQLIndexHints: the index hint of a HINT clause for one table, passed on
// to the table's fetch row source.
#pragma once

// The direction an index hint asks for.
enum SQLIndexHintMode : int {
  SQL_INDEX_HINT_ANY = 0,         // no direction
  SQL_INDEX_HINT_ASCENDING = 1,
  SQL_INDEX_HINT_DESCENDING = 2,
};

struct SQLIndexHints {
  static constexpr int kMaxIndexes = 4;  // index numbers per table hint

  int count = 0;                               // 1 to kMaxIndexes
  signed char indexNumbers[kMaxIndexes] = {};  // the first count used; 1 is the first index
  SQLIndexHintMode mode = SQL_INDEX_HINT_ANY;
};
