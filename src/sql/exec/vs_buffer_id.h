// SQLVSBufferId: the address of a buffered row.
//
// Kind 0 names a row of an SQLVSBuffer by its position (byte offset) in the
// buffer's file space; kind 1 names an external row, an array of value-store
// pointers that lives elsewhere. The default id is the external null {1, null},
// which the empty pairs of an id array hold.
#pragma once

#include <cstdint>

class SQLValueStore;

class SQLVSBufferId {
 public:
  static constexpr std::uint32_t kBufferRow = 0;
  static constexpr std::uint32_t kExternal = 1;

  SQLVSBufferId() = default;
  // An external row (null allowed).
  explicit SQLVSBufferId(SQLValueStore const *const *row)
      : kind_(kExternal), value_(reinterpret_cast<std::uintptr_t>(row)) {}
  // The row of a buffer at a position.
  static SQLVSBufferId BufferRow(long position) {
    SQLVSBufferId id;
    id.kind_ = kBufferRow;
    id.value_ = static_cast<std::uint64_t>(position);
    return id;
  }

  std::uint32_t GetKind() const { return kind_; }
  // REQUIRES: GetKind() == kBufferRow.
  long GetPosition() const { return static_cast<long>(value_); }
  // REQUIRES: GetKind() == kExternal.
  SQLValueStore const *const *GetExternal() const {
    return reinterpret_cast<SQLValueStore const *const *>(static_cast<std::uintptr_t>(value_));
  }
  bool operator==(SQLVSBufferId const &other) const {
    return kind_ == other.kind_ && value_ == other.value_;
  }

 private:
  std::uint32_t kind_ = kExternal;
  std::uint64_t value_ = 0;  // position, or the pointer's bits
};
