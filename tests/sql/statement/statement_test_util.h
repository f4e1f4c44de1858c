// Shared set-up of the statement tests: settings as after logon, the
// made-up parser, and readable diagnostics.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "dbc/session/dbc_settings.h"
#include "fake_statement_tree.h"
#include "sql/statement/sql_api_internal.h"
#include "sql/statement/statement.h"

// Record n of a statement as "STATE native message"; "(none)" past the last.
inline std::string Diag(SQLStatement const &s, short n = 1) {
  char state[6] = {};
  long native = 0;
  char message[256] = {};
  if (s.GetDiagRec(n, state, &native, message, sizeof message, nullptr, nullptr) != 0) {
    return "(none)";
  }
  return std::string(state) + " " + std::to_string(native) + " " + message;
}

inline int RecordCount(SQLStatement const &s) {
  int n = 0;
  while (s.GetDiagRec(static_cast<short>(n + 1), nullptr, nullptr, nullptr, 1, nullptr, nullptr) == 0) {
    ++n;
  }
  return n;
}

// A query with one INTEGER column "k" over the rows 1 to `rows`.
inline faketree::Statement Query(int rows = 3) {
  faketree::Statement q;
  q.columns.push_back(faketree::Column{"k", SQL_INTEGER, 4, false});
  for (int i = 1; i <= rows; ++i) q.rows.push_back({faketree::Value(static_cast<std::int32_t>(i))});
  return q;
}

inline faketree::Statement Update(int affected) {
  faketree::Statement u;
  u.type = SQL_STMT_UPDATE;
  u.affected = affected;
  return u;
}

class StatementFixture : public testing::Test {
 protected:
  // The made-up statements run without a logon: every session is taken.
  void SetUp() override {
    faketree::Reset();
    dbc_settings().qelt_sql_stmt_cache_size = -1;
    dbc_settings().qelt_sql_soft_close_delay = -1;
    QPCSetSessionCheck([](unsigned long) { return 0; });
  }
  void TearDown() override {
    SQLStatement::SetParseFunction(nullptr);
    QPCSetSessionCheck(nullptr);
  }
};
