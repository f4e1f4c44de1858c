#include "sql/statement/diag_area.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Copies at most five characters of a state and ends them with a NUL.
void CopyState(char (&target)[SQLDiagRec::kStateSize], char const *state) {
  std::memset(target, 0, sizeof target);
  if (state != nullptr) std::strncpy(target, state, SQLDiagRec::kStateSize - 1);
}

// The outputs of a call that returns no record.
short NoRecord(char const *state, short result, char *sqlState, long *nativeError, char *message,
               short bufferLength, short *textLength, int *lineNumber) {
  if (sqlState != nullptr) std::memcpy(sqlState, state, SQLDiagRec::kStateSize);
  if (nativeError != nullptr) *nativeError = 0;
  if (message != nullptr && bufferLength > 0) message[0] = '\0';
  if (textLength != nullptr) *textLength = 0;
  if (lineNumber != nullptr) *lineNumber = 0;
  return result;
}

}  // namespace

SQLDiagRec::SQLDiagRec(char const *sqlState, long nativeError, SQLString const &message,
                       int lineNumber)
    : nativeError_(nativeError), message_(message), lineNumber_(lineNumber) {
  CopyState(sqlState_, sqlState);
}

void SQLDiagRec::SetCondition(char const *sqlState, long nativeError, int lineNumber) {
  CopyState(sqlState_, sqlState);
  nativeError_ = nativeError;
  lineNumber_ = lineNumber;
}

SQLDiagArea::~SQLDiagArea() { Empty(); }

void SQLDiagArea::CreateDiagRec(char const *sqlState, long nativeError, SQLString const &message,
                                int lineNumber) noexcept {
  if (spareInUse_) return;
  try {
    auto record = std::make_unique<SQLDiagRec>(sqlState, nativeError, message, lineNumber);
    records_.Insert(record.get());
    record.release();  // the list holds it now
  } catch (std::bad_alloc const &) {
    spare_.SetCondition(sqlState, nativeError, lineNumber);
    spareInUse_ = true;
  }
}

SQLDiagRec const *SQLDiagArea::RecordAt(int n) const {
  if (spareInUse_) {
    if (n == 1) return &spare_;
    --n;
  }
  int position = 1;
  for (bool more = records_.First(); more; more = records_.Next(), ++position) {
    if (position == n) return records_.GetCurrent();
  }
  return nullptr;
}

short SQLDiagArea::GetDiagRec(short n, char *sqlState, long *nativeError, char *message,
                              short bufferLength, short *textLength, int *lineNumber) const {
  if (n < 1) {
    return NoRecord(diagstate::kInvalidConditionNumber, diagresult::kError, sqlState, nativeError,
                    message, bufferLength, textLength, lineNumber);
  }
  if (n > NrRecords()) {
    return NoRecord(diagstate::kNoData, diagresult::kNoData, sqlState, nativeError, message,
                    bufferLength, textLength, lineNumber);
  }
  if (bufferLength < 1) {
    return NoRecord(diagstate::kInvalidBufferLength, diagresult::kError, sqlState, nativeError,
                    message, bufferLength, textLength, lineNumber);
  }
  SQLDiagRec const *record = RecordAt(n);
  if (sqlState != nullptr) std::memcpy(sqlState, record->GetSQLState(), SQLDiagRec::kStateSize);
  if (nativeError != nullptr) *nativeError = record->GetNativeError();
  if (message != nullptr) record->GetMessage().Print(message, bufferLength);
  if (textLength != nullptr) {
    // The length does not fit a short past 32767 bytes; it is reported as the
    // largest length that does rather than as a negative number.
    int length = record->GetMessage().Length();
    *textLength = static_cast<short>(length > SHRT_MAX ? SHRT_MAX : length);
  }
  if (lineNumber != nullptr) *lineNumber = record->GetLineNumber();
  return diagresult::kSuccess;
}

void SQLDiagArea::Empty() noexcept {
  spareInUse_ = false;
  for (bool more = records_.First(); more; more = records_.Next()) {
    delete records_.GetCurrent();
    records_.DeleteCurrent();
  }
}
