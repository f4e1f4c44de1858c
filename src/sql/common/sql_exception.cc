#include "sql/common/sql_exception.h"

#include <cstring>
#include <utility>

#include "molvane/zdb.h"
#include "sql/common/sql_state.h"

SQLException::SQLException(char const *state) : SQLException(state, sqlerr::kDefault) {}

SQLException::SQLException(char const *state, int error) : error_(error) { SetState(state); }

SQLException::SQLException(char const *state, int error, SQLString message)
    : error_(error), message_(std::move(message)) {
  SetState(state);
}

SQLException::SQLException(int error) : error_(error) { SetState(sqlstate::kGeneral); }

void SQLException::SetState(char const *state) {
  // A state from outside (an agent's diagnostic record) may be short; it is
  // kept as given, up to five characters.
  if (state == nullptr) state = sqlstate::kGeneral;
  size_t n = strnlen(state, 5);
  std::memcpy(state_, state, n);
  state_[n] = '\0';
}

char const *SQLExZDBError::StateForError(int error) {
  switch (error) {
    case sqlerr::kDivisionByZero: return sqlstate::kDivisionByZero;
    case sqlerr::kStringTruncation: return sqlstate::kStringDataRightTruncation;
    case sqlerr::kSubstring: return sqlstate::kSubstringError;
    case sqlerr::kCardinality: return sqlstate::kCardinalityViolation;
    case sqlerr::kTrim: return sqlstate::kTrimError;
    case sqlerr::kInvalidEscapeCharacter: return sqlstate::kInvalidEscapeCharacter;
    case sqlerr::kInvalidEscapeSequence: return sqlstate::kInvalidEscapeSequence;
    default: return sqlstate::kGeneral;
  }
}

SQLExZDBError::SQLExZDBError(int error) : SQLException(StateForError(error), error) {}

SQLExZDBError::SQLExZDBError(int error, SQLString message)
    : SQLException(StateForError(error), error, std::move(message)) {}

void SQLExZDBError::ThrowWithCause(int error) {
  char const *cause = get_zdb_msg();
  if (cause == nullptr || *cause == '\0') throw SQLExZDBError(error);
  throw SQLExZDBError(error, SQLString(cause));
}

SQLExCardinalityViolation::SQLExCardinalityViolation()
    : SQLException(sqlstate::kCardinalityViolation, sqlerr::kCardinality) {}

SQLExDataException::SQLExDataException()
    : SQLException(sqlstate::kDataException, sqlerr::kIllegalState) {}
SQLExDataException::SQLExDataException(char const *state, int error) : SQLException(state, error) {}

SQLExDEDatetimeFieldOverflow::SQLExDEDatetimeFieldOverflow()
    : SQLExDataException(sqlstate::kDatetimeFieldOverflow, sqlerr::kDatetimeFieldOverflow) {}
SQLExDEDivisionByZero::SQLExDEDivisionByZero()
    : SQLExDataException(sqlstate::kDivisionByZero, sqlerr::kDivisionByZero) {}
SQLExDEStringDataRightTruncation::SQLExDEStringDataRightTruncation()
    : SQLExDataException(sqlstate::kStringDataRightTruncation, sqlerr::kStringTruncation) {}
SQLExDESubstringError::SQLExDESubstringError()
    : SQLExDataException(sqlstate::kSubstringError, sqlerr::kSubstring) {}
SQLExDETrimError::SQLExDETrimError() : SQLExDataException(sqlstate::kTrimError, sqlerr::kTrim) {}
SQLExDEStringDataLengthMismatch::SQLExDEStringDataLengthMismatch()
    : SQLExDataException(sqlstate::kStringDataLengthMismatch, sqlerr::kStringLengthMismatch) {}
SQLExDENumericValueOutOfRange::SQLExDENumericValueOutOfRange()
    : SQLExDataException(sqlstate::kNumericValueOutOfRange, sqlerr::kNumericOutOfRange) {}

SQLExQelt::SQLExQelt() : SQLException(sqlstate::kQelt, sqlerr::kIllegalState) {}
SQLExQelt::SQLExQelt(char const *state, int error) : SQLException(state, error) {}

SQLExFileIOError::SQLExFileIOError() : SQLExQelt(sqlstate::kFileIOError, sqlerr::kFileIO) {}
SQLExInvalidParameterType::SQLExInvalidParameterType()
    : SQLExQelt(sqlstate::kInvalidParameterType, sqlerr::kInvalidParameterType) {}
SQLExZeroLengthRawBound::SQLExZeroLengthRawBound()
    : SQLExQelt(sqlstate::kZeroLengthRawBound, sqlerr::kZeroLengthRaw) {}

SQLExUnknownNetWorkToken::SQLExUnknownNetWorkToken(SQLString message)
    : SQLException(sqlstate::kUnknownNetWorkToken, sqlerr::kUnknownNetWorkToken, std::move(message)) {}

SQLExSyntaxError::SQLExSyntaxError(char const *state, SQLString message, int line)
    : SQLException(state, sqlerr::kSyntax, std::move(message)), line_(line) {}
