// SQLString: the byte string of the SQL layers.
#pragma once

#include <memory>

// A NUL-terminated byte string on the heap with value semantics: every
// SQLString owns its buffer and a copy allocates a new one. The content is
// text: it holds no NUL byte (copies from C text stop at the first NUL).
//
// Every buffer the class allocates is the length the content needs plus 10
// bytes, so that short appends do not reallocate. Invariant: length < capacity.
class SQLString {
 public:
  // Character set of C text handed in or out. A value other than NoConversion
  // asks for a conversion of the bytes; this system converts nothing, so every
  // value leaves the bytes as they are.
  enum CharSet : int {
    NoConversion = 0,
    Native = 1,
  };

  // The empty string with room for 10 bytes.
  SQLString();
  // A copy of the NUL-terminated text (a null pointer gives the empty string).
  explicit SQLString(char const *text, CharSet charSet = NoConversion);
  // A copy of the first n bytes of text, stopping early at a NUL.
  SQLString(char const *text, int n, CharSet charSet = NoConversion);
  // The empty string with room for n bytes.
  explicit SQLString(int n);
  SQLString(SQLString const &other);
  SQLString &operator=(SQLString const &other);
  ~SQLString() = default;

  SQLString operator+(SQLString const &other) const;
  SQLString &operator+=(SQLString const &other);
  // TRUE when both hold the same bytes; strings of different length are
  // unequal without comparing bytes.
  bool operator==(SQLString const &other) const;
  bool operator!=(SQLString const &other) const { return !(*this == other); }

  // Copies at most size - 1 bytes into buffer and always stores a terminator
  // at buffer[size - 1] (and behind the copied bytes). Does nothing when size < 1.
  void Print(char *buffer, int size, CharSet charSet = NoConversion) const;

  // The NUL-terminated content; valid until the string changes or dies.
  char const *GetString(CharSet = NoConversion) const { return data_.get(); }
  int Length() const { return length_; }
  int Capacity() const { return capacity_; }
  // CRC-32 of the content bytes; the hash of string-keyed tables.
  unsigned long Hash() const;

 private:
  // Replaces the buffer by a new one of `capacity` bytes holding the first
  // `keep` bytes of the old content.
  void Reallocate(int capacity, int keep);

  std::unique_ptr<char[]> data_;  // always NUL-terminated
  int capacity_ = 0;              // bytes allocated
  int length_ = 0;                // bytes before the terminator
};

// Hash and equality functions for tables keyed by SQLString.
unsigned long SQLStringHash(SQLString const &s);
bool SQLStringEqual(SQLString const &a, SQLString const &b);
