// QPCStatement: the handle of the classic SQL API, and the functions that
// check handles and turn failures into the handle's error.
//
// A handle owns one SQLStatement and translates between its typed values and
// the host's type codes, variables and row fields. It copies every name it
// hands to the host or compares (parameters, select items, select-star
// tables) at sql_parse, so that nothing it reads later belongs to the
// statement, which the end of its session may reset under it.
//
// Live handles are kept in a registry: a handle is valid only while it is
// registered, so a freed or made-up pointer is refused without being read.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <molvane/sql.h>

#include "dbc/zdb_errors.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_type.h"

class SQLStatement;
class SQLValueStore;

// One input parameter or one select item.
struct QPCParameter {
  std::string name;               // as the statement reports it
  SQLType type = SQL_UNDEFINED;   // input parameters: the parameter's type
  int bound = 0;                  // 1: the value comes from the caller, not a variable
  char *variable = nullptr;       // host variable; null until known
};

// TRUE when `name` names the parameter or select item called `own`: the
// same text, or, for an own name with a colon (":dept", ":1"), the name
// without it ("dept", "1").
bool QPCNamesItem(std::string const &own, char const *name);
// What an sql_bind_input type code or a type callback 6 returned that the
// API does not take is refused with: the code and the codes there are, and
// for a date or a timestamp how its number is bound.
std::string QPCBindTypeAdvice(int type);

// One result column of a select.
struct QPCColumn {
  unsigned char code = 0;              // type code of the field; 0 delivers nothing
  int length = 0;                      // field length in bytes
  int depth = 1;                       // array elements, 1 for a plain column
  SQLValueStore const *store = nullptr;  // the column's value, re-read after each exec
};

// One table a "*" selected.
struct QPCSelectStarEntry {
  std::string table;                // table name
  bool forUpdate = false;           // read FOR UPDATE
  char *variable = nullptr;         // host variable of the table's record
  unsigned char *record = nullptr;  // record pointer the host gave with it
};

struct QPCStatement {
  static constexpr std::uint32_t kLive = 0x1A2B3C4D;
  static constexpr std::uint32_t kDead = 0xDEADBEAF;

  QPCStatement();
  QPCStatement(QPCStatement const &) = delete;
  QPCStatement &operator=(QPCStatement const &) = delete;
  ~QPCStatement();

  std::unique_ptr<SQLStatement> statement;
  int action = 0;  // 1 select, 2 update, 4 delete
  std::vector<QPCSelectStarEntry> starEntries;
  std::vector<QPCParameter> parameters;
  // By parameter index: the text of the last sql_bind_input of the
  // parameter when it was refused before any value was bound. sql_exec
  // names it when the parameter then has no variable either.
  std::map<std::size_t, std::string> refusedBinds;
  std::vector<QPCParameter> selectItems;  // selects only, one per result column
  std::vector<QPCColumn> columns;         // selects only
  int executed = 0;    // 1 after a successful sql_exec, until sql_break
  int firstFetch = 0;  // 1 from a successful exec until the first row delivered or skipped
  int rowCount = 0;    // rows the last exec of an UPDATE or DELETE changed
  int errorNumber = 0;
  std::string errorText;
  bool hasErrorText = false;
  std::uint32_t magic = kLive;
};

// A new handle, registered as live. Throws std::bad_alloc.
QPCStatement *QPCCreateHandle();
// Unregisters and destroys a handle.
void QPCDestroyHandle(QPCStatement *handle);

// TRUE for a live handle. Otherwise zdb_errno becomes 314 and the error
// callback receives "SQLState HYL00: Invalid Sql id: <pointer>: <call> was
// given ...", with the pointer as the host prints one ("0x55d0c0a0b2c0", or
// "null") and why it is refused: null, closed by sql_close, or not open; the
// pointer is never read. `call` is the exported call's name.
bool QPCCheckHandle(QPCStatement const *handle, char const *call);

// The three ways a failure becomes the handle's error.
// The number alone: no text.
void QPCSetError(QPCStatement *handle, int number);
// The end of the rows, 111 (no row at all: the first fetch, or an UPDATE or
// DELETE that changed none) or 110 (no more rows): no error for the error
// callback, but a text in the record API's words for the handle and, in a
// call of the host's own, the message of the call, which names the
// statement ("No record found: the SELECT gave no row (SELECT ...)"). The
// library's own reads through the API (set reads, reference checks) end
// their loops without touching the message of the call that made them.
void QPCEndOfRows(QPCStatement *handle, int number);
// An exception: its number (or `number` when not 0), and the text
// "SQLState <state>: <message> (<number>)", given to the error callback when
// asked.
void QPCExceptionError(QPCStatement *handle, SQLException const &e, bool callback, int number = 0);
// Diagnostic record 1 of the statement: its native number, and the text
// "SQLState <state>: <message>[ (error <number>)]" with the record's line to
// the callback when asked. A failure never leaves 0: a record with native
// number 0, or no record at all, gives 301.
void QPCDiagError(QPCStatement *handle, bool callback);

// Runs the body of an exported call that holds a live handle, so that no
// exception leaves the C API: an SQL exception becomes the handle's error,
// running out of memory error 501 (no text); the result is then -1.
template <class Body>
int QPCGuarded(QPCStatement *handle, Body body) {
  try {
    return body();
  } catch (SQLException const &e) {
    QPCExceptionError(handle, e, true);
  } catch (std::bad_alloc const &) {
    QPCSetError(handle, ZE_MEMORY);
  }
  return -1;
}

// Makes a text the message of the failing call (get_zdb_msg) and calls the
// error callback with it; callback texts longer than 1023 bytes are cut.
void QPCReportError(int line, std::string const &text);

// SQL-class trace records of the binary trace, when that class is traced.
void SQLApiBlatStart(unsigned long statementId, int action);
void SQLApiBlatEnd(unsigned long statementId, int action);
void SQLApiBlatInfo(unsigned long statementId, unsigned long session, char const *text);
// Under the interface trace: "[id] ", the line `call` and the handle's error
// text indented below it.
void SQLApiTraceFailure(unsigned long statementId, char const *call, QPCStatement const *handle);
