// Helpers of the statement nodes (FROM clause, projection, filter, sort,
// union, prepare, group, CLEAR/UNREF, DELETE, UPDATE): child traces, and the
// refusal of the passes that a node does not run yet.
#pragma once

class SQLVTNode;

// Throws SQLException "0A000" (native error 302) "<operation> is not
// available yet": the pass of a statement node that name resolution,
// validation or execution-tree creation has not been given yet. A caller
// gets this clear error instead of a half-resolved tree.
[[noreturn]] void SQLVTNotYetResolving(char const *operation);

// Traces label, a line end, then the child one level further indented.
void SQLVTLogChild(char const *label, SQLVTNode const *child);

#include <memory>

#include "sql/common/dynamic_array.h"

// Deletes an array of owned pointers with its elements (last first).
template <class T>
struct SQLVTDeleteElements {
  void operator()(DynamicArray<T *> *array) const {
    if (array == nullptr) return;
    for (int i = array->NrElements() - 1; i >= 0; --i) delete array->Get(i);
    delete array;
  }
};
// An owned array of owned pointers (REFERS TO predicates, company-number
// restrictions).
template <class T>
using SQLVTOwnedArray = std::unique_ptr<DynamicArray<T *>, SQLVTDeleteElements<T>>;
