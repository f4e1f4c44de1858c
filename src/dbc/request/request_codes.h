// Codes and fixed sizes of the driver request protocol.
#pragma once

#include <cstddef>
#include <cstdint>

// Request codes: the first byte of every request; they index the writer and
// reader tables.
enum ZDB_REQUEST_CODE : int {
  ATT_SERVER = 0,
  DET_SERVER = 1,
  ATT_SESSION = 2,
  DET_SESSION = 3,
  EXE_TBL_CNTR = 4,
  EXE_DB_CNTR = 5,
  EXE_SESSION = 6,
  EXE_SYSTEM = 7,
  DD_INFO_TABLE = 8,
  PERMISSION = 9,
  SQL_MESSAGE = 10,
  EXE_UPDATE = 11,
  EXE_ROW_CNTR = 12,
  SEND_COMPNR = 13,
  AUDITCOLS = 14,
  ALTER_TABLE = 15,
};
inline constexpr int ZDB_REQUEST_COUNT = 16;

// Receive buffer for variable-length reply data, and the largest row that an
// ALTER_TABLE request carries.
inline constexpr std::size_t DBC_RECV_BUF_SIZE = 6144;
inline constexpr std::size_t DBC_MAX_ROW = 6144;
// A dictionary-list entry: 8 name bytes and a u16 company number.
inline constexpr std::size_t DD_LIST_ENTRY_SIZE = 10;
// Largest SQL_MESSAGE reply and EXE_UPDATE extra text accepted from a driver.
inline constexpr std::uint32_t DBC_MAX_SQL_PACKETS = 64u << 20;
inline constexpr std::uint32_t DBC_MAX_DETAIL_TEXT = 64u << 10;

inline constexpr std::uint16_t ZDB_FILE_FORMAT = 2;
inline constexpr std::uint32_t ZDB_SQL_PROTOCOL = 6;
// Level flag of a driver that runs in TSS mode 2 (UTF-T).
inline constexpr std::uint32_t ZDB_LEVEL_UTFT = 0x200;
// The marker that tells a driver references are switched off.
inline constexpr char ZDB_NO_REFS[] = "NO REFS";
// Longest audit entry name in an EXE_DB_CNTR reply; longest transaction name.
inline constexpr std::size_t ZDB_AUDIT_NAME_MAX = 11;
inline constexpr std::size_t ZDB_TRANS_NAME_MAX = 15;
inline constexpr std::size_t ZDB_USER_NAME_MAX = 8;
// Repeats of one request after 513 before the client gives up.
inline constexpr int ZDB_MAX_DD_RESENDS = 16;

// EXE_SYSTEM commands of the client itself.
inline constexpr std::uint32_t SYS_TRACE_CONTROL = 1;
inline constexpr std::uint32_t SYS_CLIENT_HELLO = 5;
inline constexpr std::uint32_t SYS_DRIVER_SPEC = 6;
inline constexpr std::uint32_t SYS_SYSTEM_INFO = 9;
// The system information code (EXE_SYSTEM 9) whose answer is the reason of
// the driver's last refused session: empty when none was refused.
inline constexpr std::uint32_t SYS_INFO_REFUSAL = 105;
// EXE_SESSION command that renames the transaction.
inline constexpr std::uint32_t SESS_RENAME = 2;

// Debug word bits (zdb_debug).
inline constexpr int ZDB_DEBUG_TREE = 1;
inline constexpr int ZDB_DEBUG_REQUESTS = 2;
