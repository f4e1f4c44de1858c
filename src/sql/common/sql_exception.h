// The exception family of the SQL layers. Every SQL error travels as an
// SQLException (or a subclass) thrown and caught by value; catching
// SQLException catches them all. The classes have no virtual operations:
// subclasses only choose the SQLSTATE and native error number (and
// SQLExSyntaxError adds a line number), so slicing loses nothing but that line.
#pragma once

#include "sql/common/sql_string.h"

class SQLException {
 public:
  // Native error 304 and an empty message.
  explicit SQLException(char const *state);
  SQLException(char const *state, int error);
  SQLException(char const *state, int error, SQLString message);

  // The five-character SQLSTATE, NUL-terminated.
  char const *GetSQLState() const { return state_; }
  // The database-layer error number reported with the state.
  int GetZDBError() const { return error_; }
  SQLString const *GetMessageText() const { return &message_; }

 protected:
  // State "QP999" with the given native error.
  explicit SQLException(int error);

 private:
  void SetState(char const *state);

  char state_[6];     // five-character SQLSTATE + NUL
  int error_;         // native error number
  SQLString message_;  // empty unless the thrower gives one
};

// An error number of the database client, with the SQLSTATE that the number
// stands for ("QP999" for numbers without one of their own).
class SQLExZDBError : public SQLException {
 public:
  explicit SQLExZDBError(int error);
  // The same, with the words of its cause as the message.
  SQLExZDBError(int error, SQLString message);
  // The SQLSTATE that SQLExZDBError uses for a database error number.
  static char const *StateForError(int error);
  // Throws `error` with the cause the database client learned of it (its
  // message, get_zdb_msg) as the text, or with the error's own text when
  // it has none.
  [[noreturn]] static void ThrowWithCause(int error);
};

class SQLExCardinalityViolation : public SQLException {
 public:
  SQLExCardinalityViolation();
};

// Base of the data exceptions (SQLSTATE class 22); never thrown itself.
class SQLExDataException : public SQLException {
 protected:
  SQLExDataException();
  SQLExDataException(char const *state, int error);
};

class SQLExDEDatetimeFieldOverflow : public SQLExDataException {
 public:
  SQLExDEDatetimeFieldOverflow();
};

class SQLExDEDivisionByZero : public SQLExDataException {
 public:
  SQLExDEDivisionByZero();
};

class SQLExDEStringDataRightTruncation : public SQLExDataException {
 public:
  SQLExDEStringDataRightTruncation();
};

class SQLExDESubstringError : public SQLExDataException {
 public:
  SQLExDESubstringError();
};

class SQLExDETrimError : public SQLExDataException {
 public:
  SQLExDETrimError();
};

class SQLExDEStringDataLengthMismatch : public SQLExDataException {
 public:
  SQLExDEStringDataLengthMismatch();
};

// A numeric result outside the range of its type ("22003"): 32-bit integer
// arithmetic and conversions into narrower stored fields raise it rather
// than wrap around.
class SQLExDENumericValueOutOfRange : public SQLExDataException {
 public:
  SQLExDENumericValueOutOfRange();
};

// Base of the engine's own errors (SQLSTATE class QP); never thrown itself.
class SQLExQelt : public SQLException {
 protected:
  SQLExQelt();
  SQLExQelt(char const *state, int error);
};

// A temporary file could not be created, written, read or positioned.
class SQLExFileIOError : public SQLExQelt {
 public:
  SQLExFileIOError();
};

// A value of the wrong type was bound to a parameter.
class SQLExInvalidParameterType : public SQLExQelt {
 public:
  SQLExInvalidParameterType();
};

// A RAW value of length 0 was bound.
class SQLExZeroLengthRawBound : public SQLExQelt {
 public:
  SQLExZeroLengthRawBound();
};

// A token string of the agent protocol held a token or item that the reader
// did not expect, or ended inside an item; the message names what was found.
class SQLExUnknownNetWorkToken : public SQLException {
 public:
  explicit SQLExUnknownNetWorkToken(SQLString message);
};

// Every validation and parse error: the SQLSTATE and message of the check
// that failed, native error 302, and the statement line of the construct
// (0 when none is known).
class SQLExSyntaxError : public SQLException {
 public:
  SQLExSyntaxError(char const *state, SQLString message, int line);
  int GetLineNumber() const { return line_; }

 private:
  int line_;
};
