// SQLColumnDescriptor: name, type, element length and array depth of a
// column, as a table's schema or a statement's result describes it.
#pragma once

#include <memory>

#include "sql/common/sql_type.h"

class SQLColumnDescriptor {
 public:
  // Refers to `name` without owning it: the text must outlive the descriptor
  // and every copy of it (dictionary names live for the whole process).
  SQLColumnDescriptor(char const *name, SQLType type, unsigned long length, int depth);
  // Takes ownership of `name` when `owned` is TRUE; an owned name must come
  // from new[] (CopyName makes one).
  SQLColumnDescriptor(char *name, SQLType type, unsigned long length, int depth, bool owned);
  // A copy owns a duplicate of an owned name and shares a name not owned.
  SQLColumnDescriptor(SQLColumnDescriptor const &other);
  SQLColumnDescriptor &operator=(SQLColumnDescriptor const &other);
  ~SQLColumnDescriptor();

  // A new[] copy of text (null for null), for the owning constructor.
  static char *CopyName(char const *text);
  // A new descriptor owning a copy of name; nothing is left allocated when
  // either allocation fails.
  static std::unique_ptr<SQLColumnDescriptor> Named(char const *name, SQLType type, unsigned long length,
                                                    int depth);

  char const *GetName() const { return name_; }
  SQLType GetType() const { return type_; }
  // Length in bytes of one element.
  unsigned long GetLength() const { return length_; }
  // 1 for a scalar column, the element count of an array column.
  int GetDepth() const { return depth_; }
  bool NameIsOwned() const { return nameOwned_; }

  // Traces ColumnDescriptor("name",TYPE,length=n,depth=d) when any trace
  // flag is on; writes nothing otherwise.
  void Log() const;

 private:
  void Swap(SQLColumnDescriptor &other);

  SQLType type_;
  unsigned long length_;  // bytes of one element
  int depth_;             // array depth, 1 for a scalar
  char *name_;            // may be null
  bool nameOwned_;        // the destructor frees name_ (new[])
};

// The length of a column that takes the values of two columns (a UNION):
// the longer of the two, or 0 when either is 0, a length that each value
// sets for itself (a computed text), so that no value is cut.
inline unsigned long SQLCommonLength(unsigned long a, unsigned long b) {
  if (a == 0 || b == 0) return 0;
  return a > b ? a : b;
}
