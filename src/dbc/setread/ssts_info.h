// The set-read state of a per-company record: the eight kept-open SELECT
// statements of its positioning reads and what the last read left.
#pragma once

#include <cstdint>

struct QPCStatement;

// State bits of one set.
inline constexpr std::uint32_t SSTS_PARSED = 0x01;
inline constexpr std::uint32_t SSTS_BOUND = 0x02;
inline constexpr std::uint32_t SSTS_EXECUTED = 0x04;
inline constexpr std::uint32_t SSTS_FETCHED = 0x08;
inline constexpr std::uint32_t SSTS_BROKEN = 0x10;
inline constexpr std::uint32_t SSTS_CLOSED = 0x20;

inline constexpr int SSTS_SETS = 8;

// One open statement.
struct SSTS_SET {
  std::uint32_t error = 0;   // error of the fetch that ended the set, 0 while none
  std::uint32_t repeat = 0;  // times the stored error may still be answered
  std::uint32_t state = 0;   // SSTS_* bits
  QPCStatement *statement = nullptr;
  int index = 0;             // index number the text was built for
  std::uint32_t action = 0;  // row action code that executed it
  std::int32_t rows_left = 0;
};

// Direction word of the last positioning.
inline constexpr std::uint32_t SSTS_DIR_EQUAL = 1;
inline constexpr std::uint32_t SSTS_DIR_FORWARD = 2;
inline constexpr std::uint32_t SSTS_DIR_BACKWARD = 4;
inline constexpr std::uint32_t SSTS_DIR_RELATIVE = 8;   // relative to the current row
inline constexpr std::uint32_t SSTS_DIR_CONTINUED = 32; // continued inside the open set

// The current key and current primary key live in the per-company record's
// two key buffers; the delayed-lock id of the current row is its dlock_id.
struct SSTS_INFO {
  std::uint8_t lock_mode = 0;  // 1 plain, 2 delayed, 4 locked
  std::int8_t current = 0;     // set of the last read
  std::uint32_t direction = 0;
  SSTS_SET sets[SSTS_SETS];
};
