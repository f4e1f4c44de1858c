#include "sql/common/table_writes.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>

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
  Find(table, length)->fetch_add(1, std::memory_order_relaxed);
}

void SQLTableWriteWatch::Add(char const *table, size_t length) {
  std::atomic<unsigned long> const *counter = SQLTableWrites::Counter(table, length);
  if (std::find(counters_.begin(), counters_.end(), counter) == counters_.end()) counters_.push_back(counter);
  seen_ = Sum();
}

unsigned long SQLTableWriteWatch::Sum() const {
  unsigned long sum = 0;
  for (std::atomic<unsigned long> const *c : counters_) sum += c->load(std::memory_order_relaxed);
  return sum;
}
