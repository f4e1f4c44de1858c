#include "sql/common/column_descriptor.h"

#include <cstring>
#include <utility>

#include "sql/common/sql_logger.h"

SQLColumnDescriptor::SQLColumnDescriptor(char const *name, SQLType type, unsigned long length,
                                         int depth)
    : type_(type), length_(length), depth_(depth), name_(const_cast<char *>(name)), nameOwned_(false) {}

SQLColumnDescriptor::SQLColumnDescriptor(char *name, SQLType type, unsigned long length, int depth,
                                         bool owned)
    : type_(type), length_(length), depth_(depth), name_(name), nameOwned_(owned && name != nullptr) {}

SQLColumnDescriptor::SQLColumnDescriptor(SQLColumnDescriptor const &other)
    : type_(other.type_),
      length_(other.length_),
      depth_(other.depth_),
      name_(other.nameOwned_ ? CopyName(other.name_) : other.name_),
      nameOwned_(other.nameOwned_) {}

SQLColumnDescriptor &SQLColumnDescriptor::operator=(SQLColumnDescriptor const &other) {
  if (this != &other) {
    SQLColumnDescriptor copy(other);
    Swap(copy);
  }
  return *this;
}

SQLColumnDescriptor::~SQLColumnDescriptor() {
  if (nameOwned_) delete[] name_;
}

char *SQLColumnDescriptor::CopyName(char const *text) {
  if (text == nullptr) return nullptr;
  size_t n = std::strlen(text) + 1;
  char *copy = new char[n];
  std::memcpy(copy, text, n);
  return copy;
}

std::unique_ptr<SQLColumnDescriptor> SQLColumnDescriptor::Named(char const *name, SQLType type,
                                                                unsigned long length, int depth) {
  std::unique_ptr<char[]> copy(CopyName(name));
  // The descriptor's memory is had before it takes the copy over.
  return std::unique_ptr<SQLColumnDescriptor>(new SQLColumnDescriptor(copy.release(), type, length, depth, true));
}

void SQLColumnDescriptor::Swap(SQLColumnDescriptor &other) {
  std::swap(type_, other.type_);
  std::swap(length_, other.length_);
  std::swap(depth_, other.depth_);
  std::swap(name_, other.name_);
  std::swap(nameOwned_, other.nameOwned_);
}

void SQLColumnDescriptor::Log() const {
  SQLLogger &log = *SQLLogger::Instance();
  if (!log.LogFlagIsSet(SQLLogger::Always)) return;
  log << "ColumnDescriptor(\"" << name_ << "\"," << type_ << ",length=" << length_
      << ",depth=" << depth_ << ")";
}
