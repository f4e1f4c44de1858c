// The table of sql_* functions of the database client's own statements and
// the installation of its host callbacks around each use.
#include "dbc/setread/sql_calls.h"

#include <cstdint>
#include <string>

#include <molvane/datetime.h>
#include <molvane/dd.h>

namespace {

const DBC_SQL_CALLS kLibrary = {sql_init_func, sql_parse, sql_wh_bind, sql_exec,
                                sql_fetch,     sql_break, sql_close};
const DBC_SQL_CALLS *g_calls = &kLibrary;

constexpr int kSlots[3] = {SQL_FUNC_CRT_EXTVAR, SQL_FUNC_PUT_EXTVAR, SQL_FUNC_ERROR};

}  // namespace

const DBC_SQL_CALLS &dbc_sql() { return *g_calls; }

const DBC_SQL_CALLS *dbc_set_sql_calls(const DBC_SQL_CALLS *calls) {
  const DBC_SQL_CALLS *previous = g_calls;
  g_calls = calls != nullptr ? calls : &kLibrary;
  return previous;
}

DbcSqlCallbacks::DbcSqlCallbacks(sql_crt_extvar_func create, sql_put_extvar_func put,
                                 sql_error_func error) {
  const sql_func functions[3] = {reinterpret_cast<sql_func>(create),
                                 reinterpret_cast<sql_func>(put),
                                 reinterpret_cast<sql_func>(error)};
  for (int i = 0; i < 3; ++i) {
    if (functions[i] == nullptr) continue;
    previous_[i] = dbc_sql().init_func(kSlots[i], functions[i]);
    installed_[i] = true;
  }
}

DbcSqlCallbacks::~DbcSqlCallbacks() {
  for (int i = 2; i >= 0; --i)
    if (installed_[i]) dbc_sql().init_func(kSlots[i], previous_[i]);
}

int dbc_sql_bind_column(QPCStatement *handle, int number, const DD_COLUMN *column,
                        const unsigned char *bytes, int raw_type) {
  const std::string name = std::to_string(number);
  char *name_text = const_cast<char *>(name.c_str());
  auto bind = [&](int type, int length, void *value) {
    return dbc_sql().wh_bind(handle, name_text, type, length, value) == 0 ? 0 : -1;
  };
  switch (column->type) {
    case DDT_BYTE:
    case DDT_ENUM: {
      std::int32_t value = bytes[0];  // unsigned
      return bind(SQL_TYPE_INTEGER, 4, &value);
    }
    case DDT_SHORT: {
      std::int32_t value = static_cast<std::int16_t>((bytes[0] << 8) | bytes[1]);
      return bind(SQL_TYPE_INTEGER, 4, &value);
    }
    case DDT_LONG: case DDT_DATE: case DDT_TIME: case DDT_LONG_U: case DDT_LONG_V:
    case DDT_SET: {
      auto value = static_cast<std::int32_t>((std::uint32_t{bytes[0]} << 24) |
                                             (std::uint32_t{bytes[1]} << 16) |
                                             (std::uint32_t{bytes[2]} << 8) | bytes[3]);
      return bind(SQL_TYPE_INTEGER, 4, &value);
    }
    case DDT_FLOAT: {
      double value = float_out(bytes);
      return bind(SQL_TYPE_REAL, 8, &value);
    }
    case DDT_DOUBLE: {
      double value = double_out(bytes);
      return bind(SQL_TYPE_REAL, 8, &value);
    }
    case DDT_STRING:
    case DDT_MBSTRING: {
      auto *address = const_cast<unsigned char *>(bytes);
      return bind(SQL_TYPE_STRING, column->length, &address);
    }
    case DDT_RAW: {
      auto *address = const_cast<unsigned char *>(bytes);
      return bind(raw_type, column->length, &address);
    }
    default:
      return -2;
  }
}
