// SQLTokenString: the item buffer of the SQL agent protocol.
//
// A token string is a growable byte buffer of tagged items: one tag byte
// (SQLNWTokenType), then the payload, every integer least significant byte
// first whatever the host:
//
//   tag 1 bs1     1 signed byte                          2 bytes
//   tag 2 bs2     16-bit signed integer                  3 bytes
//   tag 3 bs4     32-bit signed integer                  5 bytes
//   tag 4 bs8     64-bit signed integer                  9 bytes
//   tag 5 double  IEEE 754 binary64                      9 bytes
//   tag 6 memory  16-bit count n (0..32767), n bytes     3 + n bytes
//   tag 7 token   16-bit SQLNWToken code                 3 bytes
//
// Items are appended at the length; reads start at the read offset, which is
// mutable so that reading is a const operation. Query descriptions, request
// and reply packets and row sets are all token strings.
//
// Reading is bounded: an item that does not fit in the length, or whose tag
// is not the kind asked for, raises SQLExUnknownNetWorkToken (and logs a
// line); well-formed data reads exactly as written.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "sql/agent/nw_token.h"
#include "sql/common/sql_type.h"

class SQLTokenString {
 public:
  // Which way ConvertDataFormat moves the data.
  enum Direction : int {
    ToHostOrder = 0,    // the data is in the other byte order; bring it to host order
    FromHostOrder = 1,  // the data is in host order; prepare it for the other order
  };

  // The largest byte count of a memory item.
  static constexpr int kMaxMemory = 32767;
  // The largest item count a list may give in its 16-bit count.
  static constexpr int kMaxListCount = 32767;

  // An empty string with a buffer of `capacity` bytes (below 1: a small
  // default, since the growth rule cannot grow from 0).
  explicit SQLTokenString(int capacity = 20);
  // A copy of n received bytes: capacity and length n, read offset 0.
  // n < 0 raises SQLExUnknownNetWorkToken.
  SQLTokenString(unsigned char const *bytes, int n);
  SQLTokenString(SQLTokenString const &) = delete;
  SQLTokenString &operator=(SQLTokenString const &) = delete;
  ~SQLTokenString() = default;

  // Length and read offset to 0; the buffer stays allocated.
  void Reset() { length_ = 0; readOffset_ = 0; }
  int Length() const { return length_; }
  int Capacity() const { return capacity_; }
  // The buffer and its length; no copy.
  void GetString(unsigned char const *&bytes, int &length) const {
    bytes = buffer_.get();
    length = length_;
  }
  // Replaces the content by n bytes; the read offset stays where it was.
  void SetString(unsigned char const *bytes, int n);
  // REQUIRES: 0 <= n <= Length().
  void Truncate(int n);
  void AppendTokenString(SQLTokenString const &other);
  // Puts other's bytes in front of this string's own.
  void PrependTokenString(SQLTokenString const &other);

  // Writing items, each at the length.
  void AppendBs1(std::int8_t v);
  void AppendBs2(std::int16_t v);
  void AppendBs4(std::int32_t v);
  void AppendBs8(std::int64_t v);
  void AppendDouble(double v);
  // n bytes as a memory item; n outside 0..32767 raises
  // SQLExDEStringDataRightTruncation: the protocol cannot carry the value.
  void AppendMemory(void const *bytes, int n);
  void AppendToken(SQLNWToken token);
  // A list of n items under token: the token, the 16-bit count, then
  // writeItem(i) for i = 0 .. n-1. A list longer than the count can hold
  // (kMaxListCount) is written as a list of lists of the same token, each
  // of kMaxListCount items (the last of the rest), and so on up: two levels
  // hold a billion items. Only for tokens whose lists may nest without
  // changing their meaning (AND, OR).
  template <class WriteItem>
  void AppendNestedList(SQLNWToken token, int n, WriteItem writeItem) {
    AppendListRange(token, 0, n, writeItem);
  }
  // The type token of an SQL type (INTEGER 102, ...); other types stop.
  void AppendType(SQLType type);
  // SQLNWTJoinTypeInner .. SQLNWTJoinTypeFull; other values stop.
  void AppendJoinType(SQLJoinType type);
  // Overwrite the bs2 or bs4 item that starts at offset (a placeholder for
  // a count learnt later). REQUIRES: such an item starts there.
  void PutBs2(std::int16_t v, int offset);
  void PutBs4(std::int32_t v, int offset);

  // Reading items at the read offset, each advancing past its item.
  std::int8_t GetBs1() const;
  std::int16_t GetBs2() const;
  std::int32_t GetBs4() const;
  std::int64_t GetBs8() const;
  double GetDouble() const;
  SQLNWToken GetToken() const;
  // A pointer into this string's buffer and the byte count; the bytes live
  // until the string changes or dies.
  void GetMemory(unsigned char const *&bytes, std::int16_t &n) const;
  // Maps a type token back to its SQLType; another token raises
  // SQLExUnknownNetWorkToken ("Unexpected token %d").
  SQLType GetType() const;
  // The next token, without consuming it.
  SQLNWToken PeekToken() const;
  // The tag of the item at the read offset, without moving.
  SQLNWTokenType TypeCurrent() const;
  bool AtEnd() const { return readOffset_ >= length_; }
  int GetReadOffset() const { return readOffset_; }
  // REQUIRES-or-raises: 0 <= offset <= Length().
  void SetReadOffset(int offset) const;

  // Converts every item in place between byte orders: bs2, bs4, bs8 and
  // tokens are byte-swapped when swap is TRUE; memory counts likewise (read
  // in host order to step over the bytes, as `direction` says); doubles are
  // never swapped but converted from the floating-point representation
  // fromFormat to toFormat (the codes of al_convert_double) when the two
  // differ. A bad tag or a truncated item raises SQLExUnknownNetWorkToken.
  void ConvertDataFormat(bool swap, int fromFormat, int toFormat, Direction direction);

  // Traces the whole string on one line while any SQLLogger flag is set.
  void Log() const;

 private:
  // The items [from, to) of AppendNestedList.
  template <class WriteItem>
  void AppendListRange(SQLNWToken token, int from, int to, WriteItem &writeItem);
  // Makes room for s more bytes when length > capacity - s.
  void Reserve(int s);
  void IncreaseBuffer(int s);
  unsigned char *WriteTag(SQLNWTokenType tag, int itemSize);
  // Checks that an item of the tag and size starts at the read offset and
  // returns its payload; raises SQLExUnknownNetWorkToken otherwise.
  unsigned char const *ReadItem(SQLNWTokenType tag, int itemSize) const;

  std::unique_ptr<unsigned char[]> buffer_;
  int capacity_;               // bytes allocated
  int length_ = 0;             // bytes written
  mutable int readOffset_ = 0; // where the next item is read
};

template <class WriteItem>
void SQLTokenString::AppendListRange(SQLNWToken token, int from, int to, WriteItem &writeItem) {
  long long const n = to - from;
  AppendToken(token);
  if (n <= kMaxListCount) {
    AppendBs2(static_cast<std::int16_t>(n));
    for (int i = from; i < to; ++i) writeItem(i);
    return;
  }
  // Groups of kMaxListCount^k items, k as small as leaves at most
  // kMaxListCount groups; each group is a list of its own.
  long long group = kMaxListCount;
  while ((n + group - 1) / group > kMaxListCount) group *= kMaxListCount;
  AppendBs2(static_cast<std::int16_t>((n + group - 1) / group));
  for (long long start = from; start < to; start += group) {
    AppendListRange(token, static_cast<int>(start), static_cast<int>(std::min<long long>(to, start + group)), writeItem);
  }
}
