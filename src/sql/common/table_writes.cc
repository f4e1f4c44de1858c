#include "sql/common/table_writes.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>

std::atomic<unsigned long> SQLTableWrites::epoch_{1};
std::atomic<unsigned long> SQLTableWrites::all_{0};

namespace {

std::string Name(char const *table, size_t length) {
  length = std::min<size_t>(length, 8);
  size_t n = 0;
  while (n < length && table[n] != '\0') ++n;
  while (n > 0 && table[n - 1] == ' ') --n;
  return std::string(table, n);
}

std::atomic<unsigned long> *Find(char const *table, size_t length) {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<std::atomic<unsigned long>>> counters;
  std::lock_guard<std::mutex> lock(mutex);
  auto &slot = counters[Name(table, length)];
  if (!slot) slot = std::make_unique<std::atomic<unsigned long>>(0);
  return slot.get();
}

}  // namespace

std::atomic<unsigned long> const *SQLTableWrites::Counter(char const *table, size_t length) {
  return Find(table, length);
}

void SQLTableWrites::Note(char const *table, size_t length) {
  // The table's count first: a watch that sees the new epoch sees the count.
  Find(table, length)->fetch_add(1, std::memory_order_relaxed);
  epoch_.fetch_add(1, std::memory_order_release);
}

void SQLTableWrites::NoteAll() {
  all_.fetch_add(1, std::memory_order_relaxed);
  epoch_.fetch_add(1, std::memory_order_release);
}

void SQLTableWriteWatch::Add(char const *table, size_t length) {
  std::atomic<unsigned long> const *counter = SQLTableWrites::Counter(table, length);
  if (std::find(counters_.begin(), counters_.end(), counter) == counters_.end()) counters_.push_back(counter);
  Mark();
}

unsigned long SQLTableWriteWatch::Sum() const {
  unsigned long sum = SQLTableWrites::AllCounter()->load(std::memory_order_relaxed);
  for (std::atomic<unsigned long> const *c : counters_) sum += c->load(std::memory_order_relaxed);
  return sum;
}
