// Owning handles for objects of the validated tree that the statement layer
// keeps but does not define (the tree data of a statement and the root of its
// validated tree). Whoever creates such an object knows its type and hands
// its deleter along with it, so the statement layer can own and destroy it
// through a declaration only.
#pragma once

#include <memory>

class SQLVTNode;
class SQLVTreeData;

template <class T>
using SQLVTOwner = std::unique_ptr<T, void (*)(T *)>;

// An empty handle of the given type.
template <class T>
SQLVTOwner<T> SQLVTNoOwner() {
  return SQLVTOwner<T>(nullptr, [](T *) {});
}
