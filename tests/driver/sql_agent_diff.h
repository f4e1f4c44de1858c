// The fixture of the SQL agent's differential tests: a table in two
// companies filled from a fixed seed, on one driver or with the second
// company on a driver of its own, in the TSS mode of the parameter; the
// builders of row-source trees over it, and the queries they make.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <molvane/datetime.h>
#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_cursor.h>

#include "dbc/actions/action_codes.h"
#include "dbc/dict/dd.h"
#include "dbc/request/rds.h"
#include "dbc/session/dbc_settings.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "sql/agent/net_agent_client.h"
#include "sql/common/row_field.h"
#include "sql/common/sql_parameter.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_schema.h"
#include "sql/common/value_store.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/et_net_dml.h"
#include "sql/exec/held_rows.h"
#include "sql/exec/local_subquery.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/rs_group.h"
#include "sql/exec/rs_join.h"
#include "sql/exec/rs_net_fetch.h"
#include "sql/exec/rs_project.h"
#include "sql/exec/rs_sort.h"
#include "sql/exec/rs_union.h"
#include "sql/exec/sc_arith.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/sc_indexing.h"
#include "sql/exec/sc_like.h"
#include "sql/exec/sc_reinterpret_cast.h"
#include "sql/exec/sc_scalar_subquery.h"
#include "sql/exec/sc_simple_case.h"
#include "sql/exec/sc_search_cond.h"
#include "sql/exec/sc_string_ops.h"
#include "sql/exec/sc_subquery_cond.h"
#include "support/test_env.h"
#include "text/tss.h"

namespace molvane::test::agent_diff {

using Rows = std::vector<std::string>;

inline void IgnoreDeath(STREAM *) {}

// Small builders over the library's classes.
inline SQLRSSCValueExpr *Col(SQLRowSource *rs, int column, int level = 0) {
  return new SQLRSSCColumnRef(level, column, rs->GetColumnDescriptor(column));
}
inline SQLRSSCValueExpr *Int(long v) { return new SQLRSSCIntegerConst(v); }
inline SQLRSSCValueExpr *Real(double v) { return new SQLRSSCRealConst(v); }
inline SQLRSSCValueExpr *Str(const char *s) {
  return new SQLRSSCStringConst(reinterpret_cast<const unsigned char *>(s), std::strlen(s));
}
inline pSQLRSSCValueExprList *List1(SQLRSSCValueExpr *e) {
  auto *l = new pSQLRSSCValueExprList;
  l->Append(e);
  return l;
}
inline SQLRSSCSearchCond *Cmp(SQLRSSCCompOperator op, SQLRSSCValueExpr *a, SQLRSSCValueExpr *b) {
  return new SQLRSSCComparison(List1(a), op, List1(b));
}
inline SQLRowSource *Project(SQLRowSource *child, std::vector<SQLRSSCValueExpr *> exprs) {
  auto *l = new pSQLRSSCValueExprList;
  for (SQLRSSCValueExpr *e : exprs) l->Append(e);
  return new SQLRSProject(child, l);
}
inline SQLRowSource *Sort(SQLRowSource *child, std::vector<std::pair<int, int>> keys) {
  auto *l = new SQLSortSpecList;
  for (auto [c, d] : keys) l->Append(SQLSortSpec(c, d));
  return new SQLRSSort(child, l);
}
inline SQLRowSource *Group(SQLRowSource *child, std::vector<int> columns, std::vector<SQLRSGroupSpec> specs) {
  auto *g = new intList;
  for (int c : columns) g->Append(c);
  auto *s = new List<SQLRSGroupSpec>;
  for (auto &spec : specs) s->Append(spec);
  return new SQLRSGroup(child, g, s);
}
inline RefPtr<SQLRSSCValueExpr> Arg(SQLRSSCValueExpr *e) { return RefPtr<SQLRSSCValueExpr>(e); }

inline std::string Text(const SQLValueStore *v) {
  if (v->GetType() == SQL_ARRAY) {
    std::string s = "[";
    for (int i = 0; i < v->GetDimension(); ++i) s += Text(v->GetElement(i)) + ",";
    return s + "]";
  }
  if (v->IsNull()) return "NULL";
  char buf[64];
  switch (v->GetType()) {
    case SQL_STRING:
      return "'" + std::string(v->GetString(), v->GetLength()) + "'";
    case SQL_RAW:
      return "raw" + std::to_string(v->GetLength());
    case SQL_REAL:
      std::snprintf(buf, sizeof buf, "%.12g", v->GetReal());
      return buf;
    case SQL_TIMESTAMP:
    case SQL_INTERVAL_SECONDS:
      return std::to_string(v->GetTimestamp());
    default:
      return std::to_string(v->GetInteger());
  }
}

class SqlAgentDiff : public testing::TestWithParam<std::tuple<const char *, const char *>> {
 protected:
  void SetUp() override {
    // The TSS mode of the client and of the driver it starts.
    setenv("TSS_MODE", std::get<0>(GetParam()), 1);
    TssReloadSettings();
    two_ = std::string(std::get<1>(GetParam())) == "two";
    std::filesystem::copy(FixturePath("zuv"), root_.path(), std::filesystem::copy_options::recursive);
    std::string const driver = std::string(MOLVANE_BINARY_DIR) + "/driver/molvane-driver";
    root_.WriteFile("lib/ipc_info", "msqlite child " + driver + " ${ZUV}/main.db\n" + "msqlite2 child " + driver +
                                        " ${ZUV}/two.db\n");
    root_.WriteFile("lib/tabledef1", two_ ? "exemp010:2:msqlite2\n*::msqlite\n" : "*::msqlite\n");
    setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
    setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
    set_zuv(root_.path().c_str());
    zdb_set_server_death_handler(IgnoreDeath);
    ASSERT_EQ(zdb_init_api("test_driver", nullptr, 0, 0), 0);
    ASSERT_EQ(zdb_logon("ann"), 0);
    trans_ = zdb_start_session("diff");
    ASSERT_GT(trans_, 0);
    table_ = ddtable("exemp010");
    ASSERT_NE(table_, nullptr);
    schema_ = SQLSchemaMgr::GetSchema("exemp010");
    for (int compnr : {1, 2}) {
      ASSERT_EQ(zdb_open(&cursors_[compnr - 1], "exemp010", compnr, row_, 0, trans_), 0);
      std::uint32_t argument = 0;
      ASSERT_EQ(zdb_do_exec_table(Cursor(compnr), table_action_word(create_table), &argument), 0)
          << zdb_errno;
    }
    Fill();
  }
  void TearDown() override {
    SQLNetAgentClient::DeleteInstance();
    schema_ = SQLSchemaPtr();
    zdb_logoff();
    setenv("TSS_MODE", "1", 1);
    TssReloadSettings();
  }

  ZDB_INTERNAL_CURSOR *Cursor(int compnr) {
    ZDB_INTERNAL_CURSOR *ic = nullptr;
    EXPECT_EQ(zdb_get_internal_cursor(&ic, cursors_[compnr - 1], compnr), 0) << zdb_errno;
    return ic;
  }
  int Id(const char *column) { return schema_->GetColumnId(column); }

  // Puts a value into a row image by the column's dictionary layout.
  void Set(std::vector<unsigned char> &image, const char *column, const SQLValueStore &v) {
    DD_COLUMN *c = ddcolumn((std::string("exemp010.") + column).c_str());
    ASSERT_NE(c, nullptr) << column;
    int depth = c->depth < 1 ? 1 : c->depth;
    const unsigned char *out = nullptr;
    int n = 0;
    copyValueStoreToRowBuffer(c->type, c->length / depth, depth, &v, 0, ' ', &out, &n);
    std::memcpy(image.data() + c->offset, out, static_cast<std::size_t>(n));
  }

  // Rows of both companies from a fixed seed, buffered (the queries flush
  // them), with padded names of different lengths, repeated departments
  // and salaries, arrays of scores.
  void Fill() {
    static const char *const kNames[] = {"al", "bea", "Al", "al b", "zed", "ann"};
    static const char *const kDepts[] = {"A", "B", "AB", "C"};
    std::uint32_t seed = 7;
    auto next = [&seed](int n) {
      return seed = seed * 1103515245u + 12345u, static_cast<int>((seed >> 16) % n);
    };
    int emp = 0;
    for (int compnr : {1, 2}) {
      for (int i = 0; i < (compnr == 1 ? 40 : 25); ++i) {
        std::vector<unsigned char> image(table_->dlock_offset, 0);
        fill_default_row(table_, image.data());
        SQLValueStore v;
        v.SetInteger(++emp);
        Set(image, "emp", v);
        v.SetString(kNames[next(6)]);
        Set(image, "name", v);
        v.SetString(kDepts[next(4)]);
        Set(image, "dept", v);
        v.SetReal(next(20) * 12.5);
        Set(image, "salary", v);
        v.SetDate(730000 + next(50));
        Set(image, "hired", v);
        SQLValueStore scores;
        scores.SetDimension(3);
        for (int k = 0; k < 3; ++k) scores.GetElement(k)->SetInteger(next(9) - 4);
        Set(image, "scores", scores);
        std::vector<unsigned char> record(ZDB_ACTION_HEADER, 0);
        record[3] = RDS_ACT_INSERT;
        record.insert(record.end(), image.begin(), image.end());
        ASSERT_EQ(zdb_do_exec_row(Cursor(compnr), record.data(), 0, 0), 0) << zdb_errno;
      }
    }
  }

  // The rows of the tree, at most `limit` of them when it is not 0.
  Rows Run(SQLRowSource *tree, bool optimise, int limit = 0) {
    std::unique_ptr<SQLRowSource> rs(optimise ? tree->OptimizeRS() : tree);
    if (optimise && dynamic_cast<SQLRSNetFetch *>(rs.get()) != nullptr) ++shipped_whole_;
    SQLRSPrepareContext context;
    rs->Prepare(&context);
    rs->Attach(static_cast<unsigned long>(trans_));
    if (limit > 0) rs->SetMaxRows(limit);
    rs->Exec();
    Rows rows;
    while (rs->Fetch()) {
      std::string line;
      for (int i = 0; i < rs->GetNumCols(); ++i) line += Text(rs->GetValueStoreAddr(i)) + "|";
      rows.push_back(line);
    }
    rs->Close();
    return rows;
  }

  SQLRowSource *Leaf(int compnr) { return new SQLRSNetFetch("exemp010", compnr, nullptr); }
  // A statement parameter bound to an integer; it lives as long as the test.
  SQLParameter *Param(int value) {
    params_.push_back(std::make_unique<SQLParameter>());
    SQLParameter *p = params_.back().get();
    p->SetType(SQL_INTEGER, 0, 1);
    p->BindInteger(value);
    return p;
  }
  // A statement parameter of the type without a value.
  SQLParameter *NullParam(SQLType type) {
    params_.push_back(std::make_unique<SQLParameter>());
    SQLParameter *p = params_.back().get();
    p->SetType(type, type == SQL_STRING ? 8 : 0, 1);
    if (type == SQL_STRING)
      p->BindString(reinterpret_cast<const unsigned char *>(""), 0);
    else
      p->BindInteger(0);
    p->SetNull();  // a NULL of the type
    return p;
  }

  ScratchDir root_;
  DD_TABLE *table_ = nullptr;
  int trans_ = 0;
  ZDB_CURSOR *cursors_[2] = {};
  unsigned char row_[DD_MAX_ROW_LENGTH] = {};
  SQLSchemaPtr schema_;
  bool two_ = false;       // company 2 on a driver of its own
  int shipped_whole_ = 0;  // optimised trees that became one table leaf
  std::vector<std::unique_ptr<SQLParameter>> params_;
};

struct Query {
  Query(std::string t, bool o, std::function<SQLRowSource *()> b, std::function<SQLRowSource *()> l = nullptr)
      : text(std::move(t)), ordered(o), build(std::move(b)), local(std::move(l)) {}
  std::string text;
  bool ordered;
  std::function<SQLRowSource *()> build;
  std::function<SQLRowSource *()> local;  // the local tree when it differs
  bool joinsHere = false;  // one driver holding both companies may leave a join here
  int limit = 0;            // the most rows fetched, 0: all
};

}  // namespace molvane::test::agent_diff
