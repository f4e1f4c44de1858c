// SQLSTATEs and native error numbers of the exception classes of the SQL
// layers (sql_exception.h). Other families of states live beside their users.
#pragma once

namespace sqlstate {

inline constexpr char kCardinalityViolation[] = "21000";
inline constexpr char kDataException[] = "22000";
inline constexpr char kStringDataRightTruncation[] = "22001";
inline constexpr char kNumericValueOutOfRange[] = "22003";
inline constexpr char kDatetimeFieldOverflow[] = "22008";
inline constexpr char kSubstringError[] = "22011";
inline constexpr char kDivisionByZero[] = "22012";
inline constexpr char kInvalidEscapeCharacter[] = "22019";
inline constexpr char kInvalidEscapeSequence[] = "22025";
inline constexpr char kStringDataLengthMismatch[] = "22026";
inline constexpr char kTrimError[] = "22027";
inline constexpr char kInvalidCursorState[] = "24000";
inline constexpr char kQelt[] = "QP000";
inline constexpr char kInvalidParameterType[] = "QP010";
inline constexpr char kZeroLengthRawBound[] = "QP011";
inline constexpr char kFileIOError[] = "QP020";
inline constexpr char kOutOfMemory[] = "QP501";
inline constexpr char kUnknownNetWorkToken[] = "QP511";
inline constexpr char kGeneral[] = "QP999";

}  // namespace sqlstate

// Native error numbers (database error table) carried by the SQL exceptions.
namespace sqlerr {

inline constexpr int kDatetimeFieldOverflow = 205;
inline constexpr int kNumericOutOfRange = 205;  // conversion data exceptions share it
inline constexpr int kIllegalState = 215;
inline constexpr int kSyntax = 302;
inline constexpr int kDefault = 304;
inline constexpr int kDivisionByZero = 306;
inline constexpr int kStringTruncation = 307;
inline constexpr int kSubstring = 309;
inline constexpr int kCardinality = 310;
inline constexpr int kFileIO = 311;
inline constexpr int kInvalidParameterType = 312;
inline constexpr int kQueryTimeOut = 313;
inline constexpr int kStringLengthMismatch = 315;
inline constexpr int kZeroLengthRaw = 316;
inline constexpr int kTrim = 317;
inline constexpr int kInvalidEscapeCharacter = 319;
inline constexpr int kInvalidEscapeSequence = 325;
inline constexpr int kOutOfMemory = 501;
inline constexpr int kUnknownNetWorkToken = 511;

}  // namespace sqlerr
