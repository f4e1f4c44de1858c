// The classic SQL API: execution, fetch, skip, break, retry and close.
//
// sql_exec fills the statement's parameters from the caller's bindings or,
// through callbacks 5 and 6, from the host's variables, and finds the host
// variables of the select items and select-star tables. sql_fetch converts
// each column of the current row into the stored field of its type code and
// hands it to callback 7.
#include <cctype>
#include <cstring>
#include <new>
#include <string>

#include <molvane/zdb.h>

#include "dbc/zdb_errors.h"
#include "dbc/zdb_msg.h"
#include "platform/blat.h"
#include "sql/common/row_field.h"
#include "sql/common/sql_abort.h"
#include "sql/common/sql_exception.h"
#include "sql/statement/qpc_statement.h"
#include "sql/statement/sql_api_internal.h"
#include "sql/statement/sql_callbacks.h"
#include "sql/statement/statement.h"

namespace {

SQLException ApiError(char const *state, char const *before, std::string const &name,
                      char const *after) {
  return SQLException(state, SQL_ERR_STATEMENT,
                      SQLString(before) + SQLString(name.c_str()) + SQLString(after));
}

// A name that starts with a digit is a pseudo variable only the caller can
// bind.
void RefusePseudoVariable(QPCParameter const &p) {
  if (!p.name.empty() && std::isdigit(static_cast<unsigned char>(p.name[0]))) {
    throw ApiError("HYL03", "Pseudo variable '", p.name, "' not bound before sql_exec");
  }
}

// The host variable of a name (callback 5, kind 1), asked for once per
// handle. `refused` is the text of a refused sql_bind_input of the
// parameter, or null.
void FindVariable(QPCParameter &p, std::string const *refused = nullptr) {
  if (p.variable != nullptr) return;
  unsigned char kind = 1;
  p.variable = sqlcb::CreateExtVar()(const_cast<char *>(p.name.c_str()), &kind, nullptr, nullptr, 0);
  if (p.variable == nullptr) {
    if (refused != nullptr) {
      throw ApiError("HYL04", "External variable '", p.name,
                     ("' not found, and its sql_bind_input was refused: " + *refused).c_str());
    }
    throw ApiError("HYL04", "External variable '", p.name, "' not found");
  }
}

// Binds parameter i from its host variable (callback 6). -1 when the
// statement refused the value (its diagnostics hold why).
int BindFromVariable(SQLStatement &s, int i, QPCParameter &p) {
  SqlVal value{};
  unsigned char type = 0;
  int length = 0;
  if (sqlcb::GetExtVar()(p.variable, &value, &type, &length) != 0) {
    throw ApiError("HYL05", "Get value of external variable '", p.name, "' failed");
  }
  switch (type) {
    case SQL_TYPE_INTEGER: return s.BindInteger(i, value.l);
    case SQL_TYPE_REAL: return s.BindReal(i, value.d);
    case SQL_TYPE_STRING: {
      if (value.s == nullptr || length < 0) {
        throw ApiError("HYL05", "Get value of external variable '", p.name, "' failed");
      }
      if (p.type == SQL_RAW) return s.BindRaw(i, value.s, static_cast<unsigned long>(length));
      std::size_t n = strnlen(reinterpret_cast<char const *>(value.s), static_cast<std::size_t>(length));
      return s.BindString(i, value.s, n);
    }
    default:
      throw ApiError("HYL01", "Invalid bind type for '", p.name,
                     ("' from callback 6 (SQL_FUNC_GET_EXTVAR): " + QPCBindTypeAdvice(type)).c_str());
  }
}

void RefreshColumns(QPCStatement *h) {
  for (std::size_t i = 0; i < h->columns.size(); ++i) {
    h->statement->GetValueStoreAddr(static_cast<int>(i), &h->columns[i].store);
  }
}

// Delivers the current row to callback 7. -1 when a column cannot be
// converted into its field (the handle holds the error); the columns before
// it have been delivered.
int DeliverRow(QPCStatement *h) {
  sql_put_extvar_func put = sqlcb::PutExtVar();
  for (std::size_t i = 0; i < h->columns.size(); ++i) {
    QPCColumn const &c = h->columns[i];
    unsigned char const *bytes = nullptr;
    int length = 0;
    try {
      copyValueStoreToRowBuffer(c.code, c.length, c.depth, c.store, 0, ' ', &bytes, &length);
    } catch (SQLException const &e) {
      // The conversion says what and why; the host also needs which column.
      char const *why = e.GetMessageText()->GetString();
      std::string text = "Column " + std::to_string(i + 1) + " (" + h->selectItems[i].name +
                         ") cannot be delivered: " + (why != nullptr ? why : "");
      throw SQLException(e.GetSQLState(), e.GetZDBError(), SQLString(text.c_str()));
    }
    int dims[3] = {c.depth, 0, 0};
    put(h->selectItems[i].variable, const_cast<unsigned char *>(bytes), c.code, length, dims);
  }
  bool inclusive = h->statement->RetryClauseType() == SQL_RETRY_INCLUSIVE;
  for (QPCSelectStarEntry &entry : h->starEntries) {
    int lock = !entry.forUpdate ? 0 : inclusive ? 2 : 1;
    put(entry.variable, entry.record, 0, lock, nullptr);
  }
  return 0;
}

// The end of the rows: 111 when none was delivered since the exec, else 110.
int EndOfRows(QPCStatement *h) {
  QPCEndOfRows(h, h->firstFetch ? SQL_ERR_NO_ROWS : SQL_ERR_NO_MORE_ROWS);
  return -1;
}

}  // namespace

extern "C" int sql_exec(QPCStatement *h, short compnr) {
  ZdbCallScope call;
  if (!QPCCheckHandle(h, __func__)) return -1;
  if (h->executed) sql_break(h);
  SQLStatement &s = *h->statement;
  unsigned long id = s.GetId();
  SQLApiBlatStart(id, BLAT_SQL_EXEC);
  int result = -1;
  try {
    result = [&]() -> int {
      for (std::size_t i = 0; i < h->parameters.size(); ++i) {
        QPCParameter &p = h->parameters[i];
        if (p.bound) continue;
        RefusePseudoVariable(p);
        auto refused = h->refusedBinds.find(i);
        FindVariable(p, refused != h->refusedBinds.end() ? &refused->second : nullptr);
        if (BindFromVariable(s, static_cast<int>(i), p) == -1) {
          QPCDiagError(h, true);
          return -1;
        }
      }
      for (QPCParameter &item : h->selectItems) {
        if (item.bound) continue;
        RefusePseudoVariable(item);
        FindVariable(item);
      }
      for (QPCSelectStarEntry &entry : h->starEntries) {
        if (entry.variable != nullptr) continue;
        unsigned char kind = 2;
        char *record = nullptr;
        entry.variable = sqlcb::CreateExtVar()(const_cast<char *>(entry.table.c_str()), &kind,
                                               &record, nullptr, 0);
        if (entry.variable == nullptr) {
          throw ApiError("HYL04", "External variable '", entry.table, "' not found");
        }
        entry.record = reinterpret_cast<unsigned char *>(record);
      }
      int rows = 0;
      h->rowCount = 0;
      int rc = s.Exec(static_cast<long>(compnr), &rows);
      if (rc == 0) {
        if (h->action != SQL_ACTION_SELECT) h->rowCount = rows;
        RefreshColumns(h);
        h->executed = 1;
        h->firstFetch = 1;
        return 0;
      }
      if (rc == 100) {
        QPCEndOfRows(h, SQL_ERR_NO_ROWS);
        return -1;
      }
      QPCDiagError(h, true);
      return -1;
    }();
  } catch (SQLException const &e) {
    QPCExceptionError(h, e, true);
    SQLApiTraceFailure(id, "sql_exec() returns -1", h);
  } catch (std::bad_alloc const &) {
    QPCSetError(h, ZE_MEMORY);
  }
  SQLApiBlatEnd(id, BLAT_SQL_EXEC);
  return result;
}

extern "C" int sql_row_count(QPCStatement *h) {
  if (!QPCCheckHandle(h, __func__)) return -1;
  return h->rowCount;
}

extern "C" int sql_fetch(QPCStatement *h) {
  ZdbCallScope call;
  if (!QPCCheckHandle(h, __func__)) return -1;
  zdb_errno = 0;
  unsigned long id = h->statement->GetId();
  SQLApiBlatStart(id, BLAT_SQL_FETCH);
  int result = QPCGuarded(h, [h] {
    int rc = h->statement->Fetch();
    if (rc == -1) {
      QPCDiagError(h, true);
      return -1;
    }
    if (rc == 100) return EndOfRows(h);
    if (rc != 0) SQLAbort(__FILE__, __LINE__, "Unexpected return code %d", rc);
    int delivered = DeliverRow(h);
    h->firstFetch = 0;
    return delivered;
  });
  SQLApiBlatEnd(id, BLAT_SQL_FETCH);
  return result;
}

int sql_skip_rows(QPCStatement *h, int count, int *skipped) {
  ZdbCallScope call;
  if (!QPCCheckHandle(h, __func__)) return -1;
  zdb_errno = 0;
  unsigned long id = h->statement->GetId();
  SQLApiBlatStart(id, BLAT_SQL_FETCH);
  int result = QPCGuarded(h, [=] {
    int rc = h->statement->SkipRows(count, skipped);
    if (rc == -1) {
      QPCDiagError(h, true);
      return -1;
    }
    if (rc == 100) return EndOfRows(h);
    if (rc != 0) SQLAbort(__FILE__, __LINE__, "Unexpected return code %d", rc);
    h->firstFetch = 0;
    return 0;
  });
  SQLApiBlatEnd(id, BLAT_SQL_FETCH);
  return result;
}

extern "C" int sql_break(QPCStatement *h) {
  ZdbCallScope call;
  if (!QPCCheckHandle(h, __func__)) return -1;
  zdb_errno = 0;
  unsigned long id = h->statement->GetId();
  SQLApiBlatStart(id, BLAT_SQL_BREAK);
  int result = QPCGuarded(h, [h] {
    if (h->executed && h->action == SQL_ACTION_SELECT && h->statement->Break() != 0) {
      QPCDiagError(h, true);
      return -1;
    }
    return 0;
  });
  h->executed = 0;
  SQLApiBlatEnd(id, BLAT_SQL_BREAK);
  return result;
}

extern "C" int sql_retry(QPCStatement *h) {
  ZdbCallScope call;
  if (!QPCCheckHandle(h, __func__)) return -1;
  unsigned long id = h->statement->GetId();
  SQLApiBlatStart(id, BLAT_SQL_RETRY);
  int result = QPCGuarded(h, [h] {
    if (h->statement->Retry() != 0) {
      QPCDiagError(h, true);
      return -1;
    }
    RefreshColumns(h);
    return 0;
  });
  SQLApiBlatEnd(id, BLAT_SQL_RETRY);
  return result;
}

extern "C" int sql_close(QPCStatement *h) {
  ZdbCallScope call;
  if (!QPCCheckHandle(h, __func__)) return -1;
  unsigned long id = h->statement->GetId();
  SQLApiBlatStart(id, BLAT_SQL_CLOSE);
  QPCDestroyHandle(h);
  SQLApiBlatEnd(id, BLAT_SQL_CLOSE);
  return 0;
}
