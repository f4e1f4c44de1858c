// SQLHints: the optimizer hints given with a query.
#pragma once

#include <string>

// Row mode of a query: all rows, or any other value for first rows.
enum SQLHintsRowMode : int {
  SQL_HINTS_ALL_ROWS = 0,
  SQL_HINTS_FIRST_ROWS = 1,
};

// Each setter records its hint in the given mask; a getter with a value
// returns TRUE and stores the value only when its hint was given, and leaves
// the out argument alone otherwise. Copies are deep (the hint string too).
class SQLHints {
 public:
  // Bits of the given mask.
  static constexpr unsigned long kArrayFetchingEnabled = 0x1;
  static constexpr unsigned long kArrayFetchingSize = 0x2;
  static constexpr unsigned long kBufferSize = 0x4;
  static constexpr unsigned long kOrdered = 0x8;
  static constexpr unsigned long kString = 0x10;
  static constexpr unsigned long kRowMode = 0x20;
  static constexpr unsigned long kNoHints = 0x40;

  SQLHints() = default;

  void SetArrayFetchingEnabled(bool enabled);
  void SetArrayFetchingSize(unsigned long size);
  void SetBufferSize(unsigned long size);
  void SetOrdered() { given_ |= kOrdered; }
  // Keeps a copy of text (replacing an earlier string); null counts as "".
  void SetString(char const *text);
  void SetRowMode(SQLHintsRowMode mode);
  void SetNoHints() { given_ |= kNoHints; }

  bool GetArrayFetchingEnabled(bool *enabled) const;
  bool GetArrayFetchingSize(unsigned long *size) const;
  bool GetBufferSize(unsigned long *size) const;
  bool GetOrdered() const { return (given_ & kOrdered) != 0; }
  // The string stays valid until the hints change or die.
  bool GetString(char const **text) const;
  bool GetRowMode(SQLHintsRowMode *mode) const;
  bool GetNoHints() const { return (given_ & kNoHints) != 0; }
  unsigned long GetGiven() const { return given_; }

  // Traces the given hints, one line each, between "SQLHints(" and ")".
  void Log() const;

 private:
  unsigned long given_ = 0;             // bits above
  unsigned long bufferSize_ = 0;
  unsigned long arrayFetchingSize_ = 0;
  bool arrayFetchingEnabled_ = false;
  SQLHintsRowMode rowMode_ = SQL_HINTS_ALL_ROWS;
  std::string string_;                  // meaningful when kString is given
};
