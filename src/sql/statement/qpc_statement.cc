#include "sql/statement/qpc_statement.h"

#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <unordered_set>

#include <molvane/zdb.h>

#include "dbc/zdb_msg.h"
#include "platform/blat.h"
#include "platform/errtext.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/statement/sql_callbacks.h"
#include "sql/statement/statement.h"

namespace {

constexpr int kMessageBuffer = 1024;  // diagnostic messages and callback texts

// The live handles. Plain pointer so that it outlives every static
// destructor that might still close a handle.
std::unordered_set<QPCStatement const *> *Registry() {
  static auto *registry = new std::unordered_set<QPCStatement const *>();
  return registry;
}

// The handle QPCCheckHandle found live last, until it is destroyed: a
// fetch loop checks the same handle row after row.
QPCStatement const *g_checked = nullptr;

// The addresses of the handles sql_close destroyed last, so that a call
// with one of them can say that it was closed. A new handle at one of
// these addresses takes it out again.
std::array<QPCStatement const *, 64> g_closed{};
std::size_t g_nextClosed = 0;

bool WasClosed(QPCStatement const *handle) {
  for (QPCStatement const *closed : g_closed) {
    if (closed == handle) return true;
  }
  return false;
}

void ForgetClosed(QPCStatement const *handle) {
  for (QPCStatement const *&closed : g_closed) {
    if (closed == handle) closed = nullptr;
  }
}

// The handle as a C host prints a pointer ("%p"): "0x" and its value in
// hexadecimal, most significant digit first.
std::string HandleText(QPCStatement const *handle) {
  if (handle == nullptr) return "null";
  char text[2 + 2 * sizeof(std::uintptr_t) + 1];
  std::snprintf(text, sizeof text, "0x%" PRIxPTR, reinterpret_cast<std::uintptr_t>(handle));
  return text;
}

}  // namespace

QPCStatement::QPCStatement() = default;
QPCStatement::~QPCStatement() = default;

QPCStatement *QPCCreateHandle() {
  auto handle = std::make_unique<QPCStatement>();
  Registry()->insert(handle.get());
  ForgetClosed(handle.get());
  return handle.release();
}

void QPCDestroyHandle(QPCStatement *handle) {
  if (g_checked == handle) g_checked = nullptr;
  Registry()->erase(handle);
  g_closed[g_nextClosed] = handle;
  g_nextClosed = (g_nextClosed + 1) % g_closed.size();
  handle->magic = QPCStatement::kDead;
  delete handle;
}

// The text of a failing call's error is its message too, so that a host
// without an error callback reads it through get_zdb_msg.
static void QPCSetCallMessage(std::string const &text) {
  reset_zdb_msg();
  add_zdb_msg(text.c_str());
}

void QPCReportError(int line, std::string const &text) {
  QPCSetCallMessage(text);
  char buffer[kMessageBuffer];
  std::size_t n = text.size() < sizeof buffer - 1 ? text.size() : sizeof buffer - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  sqlcb::Error()(line, buffer);
}

bool QPCCheckHandle(QPCStatement const *handle, char const *call) {
  if (handle != nullptr && handle == g_checked && handle->magic == QPCStatement::kLive) return true;
  if (handle != nullptr && Registry()->count(handle) != 0 && handle->magic == QPCStatement::kLive) {
    g_checked = handle;
    return true;
  }
  zdb_errno = SQL_ERR_INVALID_HANDLE;
  try {
    std::string text = std::string("SQLState HYL00: Invalid Sql id: ") + HandleText(handle) + ": " +
                       call;
    if (handle == nullptr) {
      text += " was given a null handle; pass a handle that sql_parse returned";
    } else if (WasClosed(handle)) {
      text += " was given a handle that sql_close closed; a closed handle cannot be used any more "
              "(sql_parse the statement again for a new one)";
    } else {
      text += " was given a handle that is not open: sql_parse never returned it, or sql_close "
              "closed it";
    }
    QPCReportError(0, text);
  } catch (std::bad_alloc const &) {
    zdb_errno = SQL_ERR_INVALID_HANDLE;  // not the new-handler's 501
  }
  return false;
}

void QPCSetError(QPCStatement *handle, int number) {
  handle->errorText.clear();
  handle->hasErrorText = false;
  handle->errorNumber = number;
  zdb_errno = number;
}

void QPCEndOfRows(QPCStatement *handle, int number) {
  QPCSetError(handle, number);
  try {
    // A statement is named by its text, cut where a long one would bury
    // what the message says.
    constexpr std::size_t kShown = 200;
    char const *statement = handle->statement->GetText();
    std::string shown = statement != nullptr ? statement : "";
    if (shown.size() > kShown) shown = shown.substr(0, kShown) + " ...";
    std::string text;
    if (number == SQL_ERR_NO_MORE_ROWS) {
      text = "End of file reached: no row after the last one fetched";
    } else if (handle->action == SQL_ACTION_UPDATE) {
      text = "No record found: the UPDATE changed no row";
    } else if (handle->action == SQL_ACTION_DELETE) {
      text = "No record found: the DELETE deleted no row";
    } else {
      text = "No record found: the SELECT gave no row";
    }
    handle->errorText = text + " (" + shown + ")";
    handle->hasErrorText = true;
  } catch (std::bad_alloc const &) {
    // The end stays the end without its text; the new-handler's 501 is
    // no failure of the fetch.
    QPCSetError(handle, number);
    return;
  }
  if (zdb_msg_in_host_call()) QPCSetCallMessage(handle->errorText);
}

void QPCExceptionError(QPCStatement *handle, SQLException const &e, bool callback, int number) {
  QPCSetError(handle, number != 0 ? number : e.GetZDBError());
  try {
    handle->errorText = std::string("SQLState ") + e.GetSQLState() + ": " +
                        e.GetMessageText()->GetString() + " (" +
                        std::to_string(handle->errorNumber) + ")";
    handle->hasErrorText = true;
  } catch (std::bad_alloc const &) {
    handle->errorText.clear();
    return;
  }
  if (callback) {
    QPCReportError(0, handle->errorText);
  } else {
    QPCSetCallMessage(handle->errorText);
  }
}

bool QPCNamesItem(std::string const &own, char const *name) {
  if (name == nullptr) return false;
  if (own == name) return true;
  return name[0] != ':' && own.size() > 1 && own[0] == ':' &&
         own.compare(1, std::string::npos, name) == 0;
}

std::string QPCBindTypeAdvice(int type) {
  std::string code = "type code " + std::to_string(type);
  switch (type) {
    case SQL_TYPE_DATE:
      return code + " (DATE): bind a date as type 3 (SQL_TYPE_INTEGER), its day number, day 1 being "
                    "1 January of year 1 (date_to_num gives it)";
    case SQL_TYPE_TIMESTAMP:
      return code + " (TIMESTAMP): bind a timestamp as type 3 (SQL_TYPE_INTEGER), its seconds since "
                    "1970-01-01 00:00:00 UTC (al_pack_utc gives them)";
    default:
      return code + ": the types taken are 3 (SQL_TYPE_INTEGER), 5 (SQL_TYPE_REAL), 6 (SQL_TYPE_STRING) "
                    "and 15 (SQL_TYPE_RAW)";
  }
}

void QPCDiagError(QPCStatement *handle, bool callback) {
  QPCSetError(handle, 0);
  char state[6] = {};
  long native = 0;
  char message[kMessageBuffer] = {};
  short length = 0;
  int line = 0;
  short rc = handle->statement->GetDiagRec(1, state, &native, message, sizeof message, &length,
                                           &line);
  if (rc == -1) SQLAbort(__FILE__, __LINE__, "Unexpected SQL_ERROR returned by GetDiagRec");
  if (rc == 100) {
    // A failure that left no record is still a failure.
    QPCSetError(handle, SQL_ERR_STATEMENT);
    return;
  }
  if (rc != 0) SQLAbort(__FILE__, __LINE__, "Unexpected return code %d", rc);
  // The statement's own records carry native number 0, which callers would
  // read as success.
  QPCSetError(handle, native != 0 ? static_cast<int>(native) : SQL_ERR_STATEMENT);
  try {
    std::string part = message;
    if (part.empty() && native != 0) part = zdberrorstr(static_cast<int>(native));
    std::string text = std::string("SQLState ") + state + ": " + part;
    if (native != 0) text += " (error " + std::to_string(native) + ")";
    handle->errorText = std::move(text);
    handle->hasErrorText = true;
  } catch (std::bad_alloc const &) {
    handle->errorText.clear();
    return;
  }
  if (callback) {
    QPCReportError(line, handle->errorText);
  } else {
    QPCSetCallMessage(handle->errorText);
  }
}

// The binary trace is best effort: a trace that finds no memory is skipped,
// never the call it traces.
void SQLApiBlatStart(unsigned long statementId, int action) {
  try {
    if (blat_get_state(BLAT_CLASS_SQL) != 0) blat_sql_action_start(statementId, action);
  } catch (std::bad_alloc const &) {
  }
}

void SQLApiBlatEnd(unsigned long statementId, int action) {
  try {
    if (blat_get_state(BLAT_CLASS_SQL) != 0) blat_sql_action_end(statementId, action);
  } catch (std::bad_alloc const &) {
  }
}

void SQLApiBlatInfo(unsigned long statementId, unsigned long session, char const *text) {
  try {
    if (blat_get_state(BLAT_CLASS_SQL) != 0) {
      blat_sql_info(statementId, static_cast<int>(session), text != nullptr ? text : "");
    }
  } catch (std::bad_alloc const &) {
  }
}

void SQLApiTraceFailure(unsigned long statementId, char const *call, QPCStatement const *handle) {
  SQLLogger &log = *SQLLogger::Instance();
  if (!log.LogFlagIsSet(SQLLogger::Interface)) return;
  log << "[" << statementId << "] " << endl << call << incind << endl;
  log << handle->errorText.c_str() << decind << endl;
}
