// The classic SQL API: parse, binding and the small accessors. Execution,
// fetch and close are in sql_api_exec.cc.
//
// No exception leaves these functions: each one catches the SQL exception
// family, keeps the error number and text on the handle, copies the number
// into zdb_errno and hands the text to the host's error callback.
#include <cctype>
#include <cstring>
#include <new>

#include <molvane/zdb.h>

#include "dbc/session/zdb_trans.h"
#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "platform/blat.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_logger.h"
#include "sql/statement/qpc_statement.h"
#include "sql/statement/sql_api_internal.h"
#include "sql/statement/sql_callbacks.h"
#include "sql/statement/statement.h"
#include "sql/statement/statement_trace.h"

namespace {

// The legacy code and field length of a result column's type. The two
// interval types have no layout of their own: a count of days is delivered
// as a 32-bit integer (code 3), a count of seconds, 64 bits wide, as a
// double (code 5), which holds every count of seconds between two
// timestamps exactly. Code 0 stays the select-star record's.
void ColumnLayout(SQLColumnDescriptor const &d, QPCColumn *column) {
  switch (d.GetType()) {
    case SQL_INTEGER: column->code = SQL_TYPE_INTEGER; column->length = 4; break;
    case SQL_STRING: column->code = SQL_TYPE_STRING; column->length = static_cast<int>(d.GetLength()); break;
    case SQL_REAL: column->code = SQL_TYPE_REAL; column->length = 8; break;
    case SQL_DATE: column->code = SQL_TYPE_DATE; column->length = 4; break;
    case SQL_TIMESTAMP: column->code = SQL_TYPE_TIMESTAMP; column->length = 4; break;
    case SQL_RAW: column->code = SQL_TYPE_RAW; column->length = static_cast<int>(d.GetLength()); break;
    case SQL_INTERVAL_DAYS: column->code = SQL_TYPE_INTEGER; column->length = 4; break;
    case SQL_INTERVAL_SECONDS: column->code = SQL_TYPE_REAL; column->length = 8; break;
    default: column->code = 0; column->length = 0; break;
  }
  column->depth = d.GetDepth();
}

int PrepareMode(int flags) {
  int mode = 0x04;
  if ((flags & SQL_PARSE_TABLE_REF_FLAG) != 0) mode |= 0x01;
  if ((flags & SQL_PARSE_FROM_OPTIONAL) != 0) mode |= 0x02;
  if ((flags & SQL_PARSE_ANSI) != 0) mode |= 0x10;
  if ((flags & SQL_PARSE_NAME_RESOLUTION) != 0) mode |= 0x20;
  return mode;
}

// Steps of sql_parse after a successful prepare: the action code, the
// select-star tables, the parameters and, for a select, the select items
// and result columns. FALSE when a statement call failed (the handle holds
// the error).
bool Describe(QPCStatement *h, bool callback) {
  SQLStatement &s = *h->statement;
  SQLStmtType type = SQL_STMT_SELECT;
  if (s.GetStatementType(&type) != 0) return QPCDiagError(h, callback), false;
  switch (type) {
    case SQL_STMT_SELECT: h->action = SQL_ACTION_SELECT; break;
    case SQL_STMT_UPDATE: h->action = SQL_ACTION_UPDATE; break;
    case SQL_STMT_DELETE: h->action = SQL_ACTION_DELETE; break;
    default: SQLAbort(__FILE__, __LINE__, "Unexpected statement type %d", static_cast<int>(type));
  }
  List<SQLSelectStarTable> const *stars = nullptr;
  if (s.GetSelectStarTables(&stars) != 0) return QPCDiagError(h, callback), false;
  if (stars != nullptr) {
    // Iteration moves the list's cursor; the list is not otherwise changed.
    auto *list = const_cast<List<SQLSelectStarTable> *>(stars);
    for (bool more = list->First(); more; more = list->Next()) {
      QPCSelectStarEntry entry;
      entry.table = list->GetCurrent().GetName();
      entry.forUpdate = list->GetCurrent().IsForUpdate();
      h->starEntries.push_back(std::move(entry));
    }
  }
  int count = 0;
  if (s.NumParameters(&count) != 0) return QPCDiagError(h, callback), false;
  h->parameters.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    char const *name = nullptr;
    SQLType ptype = SQL_UNDEFINED;
    if (s.GetParameterDesc(i, &name, &ptype) != 0) return QPCDiagError(h, callback), false;
    h->parameters[i].name = name != nullptr ? name : "";
    h->parameters[i].type = ptype;
  }
  if (h->action != SQL_ACTION_SELECT) return true;
  if (s.NumResultCols(&count) != 0) return QPCDiagError(h, callback), false;
  h->columns.resize(static_cast<std::size_t>(count));
  h->selectItems.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    char const *name = nullptr;
    bool derived = false;
    if (s.GetSelectTarget(i, &name, &derived) != 0) return QPCDiagError(h, callback), false;
    if (name == nullptr) {
      // An item without a name cannot be bound with sql_sel_bind either:
      // sql_parse gives no handle. The text says how to name it.
      throw SQLException("HYL06", SQL_ERR_PARSE,
                         SQLString("select item ") + SQLString(std::to_string(i + 1).c_str()) +
                             SQLString(" must be bound explicitly; name the item: COUNT(*) :n or COUNT(*) AS n"));
    }
    h->selectItems[i].name = name;
    SQLColumnDescriptor const *descriptor = nullptr;
    if (s.GetColumnDescriptor(i, &descriptor) != 0) return QPCDiagError(h, callback), false;
    ColumnLayout(*descriptor, &h->columns[i]);
  }
  return true;
}

// Binds the bytes of a string or raw value: all `length` bytes to a RAW
// parameter, else the bytes up to the first 0 but at most `length`.
int BindBytes(SQLStatement &s, int index, SQLType parameterType, unsigned char const *bytes,
              int length) {
  if (parameterType == SQL_RAW) return s.BindRaw(index, bytes, static_cast<unsigned long>(length));
  std::size_t n = strnlen(reinterpret_cast<char const *>(bytes), static_cast<std::size_t>(length));
  return s.BindString(index, bytes, n);
}

int ClientSessionCheck(unsigned long session) {
  return zdb_check_trans_id(session > 0x7FFFFFFFUL ? 0 : static_cast<int>(session));
}

QPCSessionCheck g_sessionCheck = &ClientSessionCheck;

}  // namespace

QPCSessionCheck QPCSetSessionCheck(QPCSessionCheck check) {
  QPCSessionCheck previous = g_sessionCheck;
  g_sessionCheck = check != nullptr ? check : &ClientSessionCheck;
  return previous;
}

extern "C" QPCStatement *sql_parse(const char *text, unsigned long session, int flags) {
  ZdbCallScope call;
  zdb_errno = 0;
  QPCStatement *h = nullptr;
  try {
    h = QPCCreateHandle();
    h->statement = std::make_unique<SQLStatement>();
  } catch (std::bad_alloc const &) {
    if (h != nullptr) QPCDestroyHandle(h);
    zdb_errno = ZE_MEMORY;
    return nullptr;
  }
  SQLStatement &s = *h->statement;
  unsigned long id = s.GetId();
  SQLApiBlatStart(id, BLAT_SQL_PARSE);
  bool callback = (flags & SQL_PARSE_NO_ERROR_CALLBACK) == 0;
  if ((flags & SQL_PARSE_WHERE_USED) != 0) s.SetWhereUsedHandler(&sqlcb::WhereUsedRelay);
  try {
    // A statement of a session that cannot run is refused here, not at its
    // first sql_exec: before logon (508) or for a transaction id not in use
    // (518), with the client's words of it alone as its text.
    reset_zdb_msg();
    if (g_sessionCheck(session) != 0) {
      int refused = zdb_errno;
      char const *cause = get_zdb_msg();
      SQLException e(SQLExZDBError::StateForError(refused), refused,
                     SQLString(cause != nullptr && *cause != '\0' ? cause : zdberrorstr(refused)));
      QPCExceptionError(h, e, callback, refused);
      zdb_errno = refused;
    } else if (s.Prepare(text, session, PrepareMode(flags)) != 0) {
      QPCDiagError(h, callback);
      if (zdb_errno == 0) zdb_errno = SQL_ERR_STATEMENT;
    } else {
      Describe(h, callback);
    }
  } catch (SQLException const &e) {
    QPCExceptionError(h, e, callback, SQL_ERR_PARSE);
    SQLApiTraceFailure(id, "sql_parse() returns NULL", h);
    zdb_errno = SQL_ERR_PARSE;
  } catch (std::bad_alloc const &) {
    zdb_errno = ZE_MEMORY;
  }
  SQLApiBlatInfo(id, session, text);
  SQLApiBlatEnd(id, BLAT_SQL_PARSE);
  if (zdb_errno != 0) {
    QPCDestroyHandle(h);
    return nullptr;
  }
  return h;
}

extern "C" int sql_bind_input(QPCStatement *h, const char *name, int type, int length,
                              void *value) {
  ZdbCallScope call;
  if (!QPCCheckHandle(h, __func__)) return -1;
  SQLStatement &s = *h->statement;
  try {
    // A parameter is named as in the text (":1") or without its colon
    // ("1", as the database client binds its own numbered parameters).
    std::size_t index = 0;
    while (index < h->parameters.size() && !QPCNamesItem(h->parameters[index].name, name)) ++index;
    if (index == h->parameters.size()) {
      throw SQLException("HYL02", SQL_ERR_STATEMENT,
                         SQLString("Unknown input parameter '") + SQLString(name ? name : "") +
                             SQLString("'"));
    }
    QPCParameter &p = h->parameters[index];
    int i = static_cast<int>(index);
    // A refusal before any value is bound is kept on the parameter: should
    // sql_exec then find no variable for it either, it says why.
    auto refuse = [h, index](std::string const &text) {
      h->refusedBinds[index] = text;
      return SQLException("HYL01", SQL_ERR_STATEMENT, SQLString(text.c_str()));
    };
    if (type != SQL_TYPE_INTEGER && type != SQL_TYPE_REAL && type != SQL_TYPE_STRING &&
        type != SQL_TYPE_RAW) {
      throw refuse("Unsupported type for sql_bind_input: " + QPCBindTypeAdvice(type));
    }
    if (value == nullptr) {
      throw refuse(std::string("No value given for input parameter '") + name + "'");
    }
    int rc = 0;
    switch (type) {
      case SQL_TYPE_INTEGER: rc = s.BindInteger(i, *static_cast<std::int32_t const *>(value)); break;
      case SQL_TYPE_REAL: rc = s.BindReal(i, *static_cast<double const *>(value)); break;
      case SQL_TYPE_STRING:
      case SQL_TYPE_RAW: {
        unsigned char const *bytes = *static_cast<unsigned char *const *>(value);
        if (bytes == nullptr || length < 0) {
          throw refuse(std::string("Invalid value given for input parameter '") + name + "'");
        }
        rc = type == SQL_TYPE_RAW ? s.BindRaw(i, bytes, static_cast<unsigned long>(length))
                                  : BindBytes(s, i, p.type, bytes, length);
        break;
      }
      default: break;
    }
    p.bound = 1;
    if (!h->refusedBinds.empty()) h->refusedBinds.erase(index);
    if (rc == -1) {
      QPCDiagError(h, true);
      return -1;
    }
    return 0;
  } catch (SQLException const &e) {
    QPCExceptionError(h, e, true);
    SQLApiTraceFailure(s.GetId(), "sql_bind_input() returns -1", h);
  } catch (std::bad_alloc const &) {
    QPCSetError(h, ZE_MEMORY);
  }
  return -1;
}

extern "C" int sql_wh_bind(QPCStatement *h, const char *name, int type, int length, void *value) {
  return sql_bind_input(h, name, type, length, value);
}

// A name no item has is refused at once: otherwise the item would be asked
// for by its own name at sql_exec, far from the misspelt call.
extern "C" int sql_sel_bind(QPCStatement *h, const char *name, char *variable) {
  ZdbCallScope call;
  if (!QPCCheckHandle(h, __func__)) return -1;
  return QPCGuarded(h, [&] {
    // Callback 7 stores each value through the variable: a null one would
    // reach it at every fetch.
    if (variable == nullptr) {
      throw SQLException(stmtstate::kNullPointer, SQL_ERR_STATEMENT,
                         SQLString("Null variable for select item '") + SQLString(name != nullptr ? name : "") +
                             SQLString("': sql_sel_bind takes the variable that callback 7 (SQL_FUNC_PUT_EXTVAR) "
                                       "receives with the item's values"));
    }
    // An item named by a host variable (COUNT(*) :n) is named ":n" or "n",
    // as sql_bind_input names a parameter; a name that some item has exactly
    // binds only the items of that very name.
    bool exact = false;
    for (QPCParameter const &item : h->selectItems) exact = exact || (name != nullptr && item.name == name);
    bool found = false;
    for (QPCParameter &item : h->selectItems) {
      if (exact ? item.name == name : QPCNamesItem(item.name, name)) {
        item.bound = 1;
        item.variable = variable;
        found = true;
      }
    }
    if (found) return 0;
    SQLString text = SQLString("Unknown select item '") + SQLString(name != nullptr ? name : "") +
                     SQLString("'");
    if (h->selectItems.empty()) {
      text = text + SQLString(": the statement has no select items");
    } else {
      text = text + SQLString(" (the items are named");
      char const *separator = " ";
      for (QPCParameter const &item : h->selectItems) {
        text = text + SQLString(separator) + SQLString(item.name.c_str());
        separator = ", ";
      }
      text = text + SQLString(")");
    }
    throw SQLException("HYL02", SQL_ERR_STATEMENT, text);
  });
}

extern "C" int sql_get_error(QPCStatement *h, std::int32_t *error, const char **text) {
  if (!QPCCheckHandle(h, __func__)) return -1;
  if (error != nullptr) *error = h->errorNumber;
  if (text != nullptr) *text = h->hasErrorText ? h->errorText.c_str() : "";
  return 0;
}

extern "C" const char *sql_action(int code) {
  static char text[25];
  char const *name = code == SQL_ACTION_SELECT   ? "select"
                     : code == SQL_ACTION_UPDATE ? "update"
                     : code == SQL_ACTION_DELETE ? "delete"
                                                 : "unknown sql statement";
  std::strncpy(text, name, sizeof text - 1);
  return text;
}

extern "C" int sql_action_type(QPCStatement *h) {
  if (!QPCCheckHandle(h, __func__)) return -1;
  return h->action;
}

extern "C" int sql_query_with_rpoint(QPCStatement *h) {
  if (!QPCCheckHandle(h, __func__)) return -1;
  return h->statement->RetryClauseType() != SQL_RETRY_NONE ? 1 : 0;
}

namespace {

// A handle check, one statement call, and on failure the statement's
// diagnostics as the handle's error. `name` is the exported call's.
template <class Call>
int OneCall(char const *name, QPCStatement *h, Call call) {
  ZdbCallScope scope;
  if (!QPCCheckHandle(h, name)) return -1;
  return QPCGuarded(h, [&] {
    if (call(*h->statement) == 0) return 0;
    QPCDiagError(h, true);
    return -1;
  });
}

}  // namespace

extern "C" int sql_save_rpoint(QPCStatement *h) {
  return OneCall(__func__, h, [](SQLStatement &s) { return s.SaveRetryValues(); });
}

extern "C" int sql_set_rds_full(QPCStatement *h, int rows) {
  return OneCall(__func__, h, [rows](SQLStatement &s) { return s.SetBufferSize(rows); });
}

extern "C" int sql_set_timeout(QPCStatement *h, int seconds) {
  return OneCall(__func__, h, [seconds](SQLStatement &s) { return s.SetTimeOut(seconds); });
}

int sql_get_num_parameters(QPCStatement *h) {
  int count = 0;
  return OneCall(__func__, h, [&count](SQLStatement &s) { return s.NumParameters(&count); }) == 0 ? count : -1;
}

int sql_get_parameter_name(QPCStatement *h, int index, const char **name) {
  return OneCall(__func__, h, [=](SQLStatement &s) { return s.GetParameterDesc(index, name, nullptr); });
}

int sql_get_num_resultcols(QPCStatement *h) {
  int count = 0;
  return OneCall(__func__, h, [&count](SQLStatement &s) { return s.NumResultCols(&count); }) == 0 ? count : -1;
}

const char *sql_get_statement_text(QPCStatement *h) {
  if (!QPCCheckHandle(h, __func__)) return nullptr;
  return h->statement->GetText();
}

int sql_get_select_target(QPCStatement *h, int index, const char **name, int *derived) {
  bool isDerived = false;
  int rc = OneCall(__func__, h, [&](SQLStatement &s) { return s.GetSelectTarget(index, name, &isDerived); });
  if (rc == 0 && derived != nullptr) *derived = isDerived ? 1 : 0;
  return rc;
}

int sql_get_stmt_id(QPCStatement *h, unsigned long *id, unsigned long *originalId) {
  if (!QPCCheckHandle(h, __func__)) return -1;
  if (id != nullptr) *id = h->statement->GetId();
  if (originalId != nullptr) *originalId = h->statement->GetOriginalId();
  return 0;
}
