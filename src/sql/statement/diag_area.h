// SQLDiagArea: the diagnostic records a statement's last operation left.
//
// Statement operations empty the area on entry and add a record for each
// condition instead of throwing; the classic API reads them back with
// GetDiagRec by call-level-interface rules (records numbered from 1, newest
// first, results 0, 100 and -1). One spare record lives inside the area so
// that a condition can still be reported when no new record can be
// allocated.
#pragma once

#include "sql/common/sql_containers.h"
#include "sql/common/sql_string.h"

// SQLSTATEs that GetDiagRec returns about its own call.
namespace diagstate {
inline constexpr char kNoData[] = "00000";                   // record number past the last
inline constexpr char kInvalidConditionNumber[] = "35000";   // record number below 1
inline constexpr char kInvalidBufferLength[] = "HY090";      // buffer length below 1
}  // namespace diagstate

// Return codes of GetDiagRec.
namespace diagresult {
inline constexpr short kSuccess = 0;
inline constexpr short kNoData = 100;
inline constexpr short kError = -1;
}  // namespace diagresult

// One condition: SQLSTATE, native error number, message and statement line.
class SQLDiagRec {
 public:
  static constexpr int kStateSize = 6;  // five characters and the NUL

  SQLDiagRec() = default;
  // Copies at most five characters of sqlState (null is the empty state).
  SQLDiagRec(char const *sqlState, long nativeError, SQLString const &message, int lineNumber);

  // Sets the state, native error and line and leaves the message as it is.
  void SetCondition(char const *sqlState, long nativeError, int lineNumber);

  char const *GetSQLState() const { return sqlState_; }
  long GetNativeError() const { return nativeError_; }
  SQLString const &GetMessage() const { return message_; }
  int GetLineNumber() const { return lineNumber_; }

 private:
  char sqlState_[kStateSize] = {};
  long nativeError_ = 0;  // 0 for the statement's own records, 501 for "QP501"
  SQLString message_;
  int lineNumber_ = 0;  // statement line of a syntax error, else 0
};

class SQLDiagArea {
 public:
  SQLDiagArea() = default;
  SQLDiagArea(SQLDiagArea const &) = delete;
  SQLDiagArea &operator=(SQLDiagArea const &) = delete;
  ~SQLDiagArea();

  // Adds a record in front of the others. When no record can be allocated
  // the spare takes the state, native error and line (its message stays
  // empty) and, until the next Empty, later records are dropped. Never
  // throws.
  void CreateDiagRec(char const *sqlState, long nativeError, SQLString const &message,
                     int lineNumber) noexcept;

  // Copies record n (1 is the newest) into the outputs; any output pointer
  // may be null. The message is cut to bufferLength - 1 bytes and ended with
  // a NUL; textLength receives its full length. Returns 0 with the record,
  // 100 with "00000" past the last record, -1 with "35000" for n below 1 and
  // -1 with "HY090" for a buffer length below 1 (the buffer left untouched).
  // Outside a record the native error, line and text length are 0.
  short GetDiagRec(short n, char *sqlState, long *nativeError, char *message, short bufferLength,
                   short *textLength, int *lineNumber) const;

  // Drops every record and frees the spare.
  void Empty() noexcept;

  // Records GetDiagRec can return.
  int NrRecords() const { return records_.NrElements() + (spareInUse_ ? 1 : 0); }

 private:
  SQLDiagRec const *RecordAt(int n) const;

  mutable pSQLDiagRecList records_;  // owned, newest at the head
  SQLDiagRec spare_;                 // reported as record 1 while spareInUse_
  bool spareInUse_ = false;          // an allocation failed since the last Empty
};
