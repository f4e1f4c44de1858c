// The interface trace of SQLStatement: one line on entry and one on exit of
// every operation, written only when the trace flag of the operation is set.
#pragma once

#include "sql/common/sql_logger.h"

// TRUE when `flag` is set in the SQL trace.
inline bool StatementTraceOn(long flag) { return SQLLogger::Instance()->LogFlagIsSet(flag); }

// "[id] SQLStatement::<call>" and the end of the line.
void StatementTraceCall(unsigned long id, long flag, char const *call);
// "[id] SQLStatement::<operation>() returns <result>".
void StatementTraceReturn(unsigned long id, long flag, char const *operation, int result);

// The statement's own SQLSTATEs and messages.
namespace stmtstate {
inline constexpr char kSequenceError[] = "HY010";
inline constexpr char kNullPointer[] = "HY009";
inline constexpr char kInvalidCompnr[] = "HYS00";
inline constexpr char kInvalidColumn[] = "HYS01";
inline constexpr char kInvalidParameter[] = "HYS02";
inline constexpr char kNoRetryClause[] = "HYS03";
inline constexpr char kInvalidValue[] = "HYS04";
inline constexpr char kNotBound[] = "HYS05";
inline constexpr char kNotCursorSpec[] = "07005";
inline constexpr char kTimestampRange[] = "22501";
inline constexpr char kInvalidMaxRows[] = "QP050";

inline constexpr char kCursorOpen[] = "An open cursor is associated with the current statement";
inline constexpr char kNoCursor[] = "There is no open cursor associated with the current statement";
}  // namespace stmtstate
