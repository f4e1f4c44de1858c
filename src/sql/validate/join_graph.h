// Graph: the small directed graph of the REFERS TO references between the
// tables of a FROM clause. Its depth-first topological sort gives the join
// order: every referring table comes before the tables it refers to, and
// tables without edges keep their FROM-clause order.
#pragma once

#include <vector>

#include "sql/common/sql_containers.h"

// Thrown by Graph::TopSort when the edges form a cycle.
class GraphExCycle {};

class Graph {
 public:
  // n vertices 0 .. n - 1, no edges.
  explicit Graph(int n);

  // REQUIRES: 0 <= from, to < n.
  void AddEdge(int from, int to);
  // A new list (owned by the caller) of all vertices in topological order;
  // throws GraphExCycle, leaving nothing behind, on a cycle.
  intList *TopSort();

 private:
  enum Mark : int { Unvisited = 0, OnPath = 1, Finished = 2 };
  void Visit(int v, intList *order);
  bool HasEdge(int from, int to) const { return adjacency_[static_cast<size_t>(from * n_ + to)] != 0; }

  int n_;
  std::vector<int> marks_;
  std::vector<int> adjacency_;  // n x n, row-major by source vertex
};
