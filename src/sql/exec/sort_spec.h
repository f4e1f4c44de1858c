// SQLSortSpec: one key of an ordering: a column of the ordered row source's
// input and a direction.
#pragma once

class SQLSortSpec {
 public:
  static constexpr int kAscending = 0;
  static constexpr int kDescending = 1;  // any other value is ascending

  SQLSortSpec() = default;
  SQLSortSpec(int columnId, int direction) : columnId_(columnId), direction_(direction) {}

  int GetColumnId() const { return columnId_; }
  int GetDirection() const { return direction_; }
  bool IsDescending() const { return direction_ == kDescending; }

 private:
  int columnId_ = 0;
  int direction_ = kAscending;
};
