#include "sql/validate/join_graph.h"

#include <memory>

Graph::Graph(int n) : n_(n), marks_(static_cast<size_t>(n), Unvisited), adjacency_(static_cast<size_t>(n) * n, 0) {}

void Graph::AddEdge(int from, int to) { adjacency_[static_cast<size_t>(from * n_ + to)] = 1; }

intList *Graph::TopSort() {
  auto order = std::make_unique<intList>();
  for (int &mark : marks_) mark = Unvisited;
  // From the last vertex down, each finished vertex going to the front: an
  // edgeless graph keeps its order 0, 1, ..., n - 1.
  for (int v = n_ - 1; v >= 0; --v) {
    if (marks_[static_cast<size_t>(v)] == Unvisited) Visit(v, order.get());
  }
  return order.release();
}

void Graph::Visit(int v, intList *order) {
  marks_[static_cast<size_t>(v)] = OnPath;
  for (int w = 0; w < n_; ++w) {
    if (!HasEdge(v, w)) continue;
    if (marks_[static_cast<size_t>(w)] == Unvisited) {
      Visit(w, order);
    } else if (marks_[static_cast<size_t>(w)] == OnPath) {
      throw GraphExCycle();
    }
  }
  order->Insert(v);
  marks_[static_cast<size_t>(v)] = Finished;
}
