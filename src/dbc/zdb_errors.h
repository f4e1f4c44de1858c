// Error numbers that the database client leaves in zdb_errno. Their texts
// live in the platform error table (zdberrorstr).
#pragma once

inline constexpr int ZE_DUPLICATE_VALUE = 100;
inline constexpr int ZE_ILLEGAL_ARGUMENT = 102;
inline constexpr int ZE_LOCKED = 107;  // a row, a table or the database held by another session
inline constexpr int ZE_NO_RECORD = 111;      // no row with the key, or no further row
inline constexpr int ZE_CHANGED = 201;        // the row changed since it was read
inline constexpr int ZE_NOT_LOCKED = 206;     // no delayed-lock entry for the id
inline constexpr int ZE_NO_PERMISSION = 208;
inline constexpr int ZE_ILLEGAL_STATE = 215;
inline constexpr int ZE_ROLE_SYNTAX = 217;
inline constexpr int ZE_AUDIT_SETUP = 251;
inline constexpr int ZE_TNR_FAILED = 254;  // transaction-notification rows not written
inline constexpr int ZE_INCONSISTENT_COMPNR = 401;
inline constexpr int ZE_TSS_MODE = 402;
inline constexpr int ZE_MEMORY = 501;
inline constexpr int ZE_ALREADY_LOGGED_ON = 502;
inline constexpr int ZE_NULL_VARIABLE = 503;  // a bind without a variable address
inline constexpr int ZE_BAD_COLUMN = 504;     // a bind on an unknown column or an unfit type
inline constexpr int ZE_NO_DRIVER = 505;
inline constexpr int ZE_NOT_LOGGED_ON = 508;
inline constexpr int ZE_BAD_CURSOR = 509;
// A request or reply could not be written or read completely, or a reply
// broke the protocol (a length beyond its buffer). Never reported as 0.
inline constexpr int ZE_COMMUNICATION = 510;
inline constexpr int ZE_SQL_PROTOCOL = 511;
inline constexpr int ZE_DD_CORRUPT = 512;
inline constexpr int ZE_NO_DD = 513;  // also the driver's request for dictionaries
inline constexpr int ZE_ALLOCATION = 517;     // a block of the client could not be allocated
inline constexpr int ZE_INVALID_SESSION = 518;
inline constexpr int ZE_ILLEGAL_COMPNR = 519;
inline constexpr int ZE_BUFFERED_UPDATE = 520;
inline constexpr int ZE_NO_RESOURCE = 525;
inline constexpr int ZE_NO_TABLE = 506;
// The references: a check, counter or cascade refused.
inline constexpr int ZE_REF_UNMAPPABLE = 600;
inline constexpr int ZE_REF_LOCKED = 601;
inline constexpr int ZE_REF_UNDEFINED = 602;
inline constexpr int ZE_REF_STILL_REFERENCED = 605;
inline constexpr int ZE_REF_NO_PARENT = 606;
inline constexpr int ZE_REF_NO_PARENT_TABLE = 607;
inline constexpr int ZE_REF_NO_COUNTERS = 608;
inline constexpr int ZE_REF_COUNTER_UPDATE = 609;
inline constexpr int ZE_DOMAIN_TEXT = 606;  // a buffered update's extra text joins the message
// A driver's storage failed; its message names the cause and the file.
inline constexpr int ZE_STORAGE_FULL = 701;      // the disk, or the file's size limit, is full
inline constexpr int ZE_STORAGE_READONLY = 702;  // the file cannot be written
inline constexpr int ZE_STORAGE_IO = 703;        // reading or writing the file failed
inline constexpr int ZE_STORAGE_CORRUPT = 704;   // the file is damaged or no database
inline bool zdb_storage_error(int err) { return err >= ZE_STORAGE_FULL && err <= ZE_STORAGE_CORRUPT; }
