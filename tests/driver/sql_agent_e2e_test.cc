// The SQL agent end to end: the library's own agent client sends query
// descriptions through the database client (SQL_MESSAGE) to the reference
// driver, as a child process and as an in-process library. The client's
// column descriptors come from its schema, so the rows decode only when
// the agent types the table as the client does; rows buffered by the
// transaction are flushed before the batch and seen by the query; with the
// driver forgetting dictionaries, the request for them travels through the
// client and the batch resumes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <molvane/platform.h>
#include <molvane/zdb.h>
#include <molvane/zdb_action.h>
#include <molvane/zdb_cursor.h>

#include "dbc/actions/action_codes.h"
#include "dbc/dict/dd.h"
#include "dbc/request/rds.h"
#include "dbc/session/zdb_attach.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/actions/zdb_exec.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "sql/agent/net_agent_client.h"
#include "sql/agent/nw_token.h"
#include "sql/common/database_instance.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_schema.h"
#include "sql/common/value_store.h"
#include "support/test_env.h"

namespace {

using molvane::test::FixturePath;
using molvane::test::ScratchDir;
using Image = std::vector<unsigned char>;

void IgnoreDeath(STREAM *) {}

struct Form {
  const char *form;
  bool forget;
};

class SqlAgentE2E : public testing::TestWithParam<Form> {
 protected:
  void SetUp() override {
    std::filesystem::copy(FixturePath("zuv"), root_.path(), std::filesystem::copy_options::recursive);
    std::string form = GetParam().form;
    std::string target = std::string(MOLVANE_BINARY_DIR) +
                         (form == "child" ? "/driver/molvane-driver" : "/driver/libmolvane_driver.so");
    root_.WriteFile("lib/ipc_info", "msqlite " + form + " " + target + " ${ZUV}/main.db" +
                                        (GetParam().forget ? " --sql-agent-forget-dds" : "") + "\n");
    root_.WriteFile("lib/tabledef1", "*::msqlite\n");
    setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
    setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
    set_zuv(root_.path().c_str());
    zdb_set_server_death_handler(IgnoreDeath);
    ASSERT_EQ(zdb_init_api("test_driver", nullptr, 0, 0), 0);
    ASSERT_EQ(zdb_logon("ann"), 0);
    trans_ = zdb_start_session("rows");
    ASSERT_GT(trans_, 0);
    ASSERT_EQ(zdb_open(&cursor_, "exemp010", 1, row_, 0, trans_), 0);
    table_ = ddtable("exemp010");
    ASSERT_NE(table_, nullptr);
    std::uint32_t argument = 0;
    ASSERT_EQ(zdb_do_exec_table(Cursor(), table_action_word(create_table), &argument), 0) << zdb_errno;
    schema_ = SQLSchemaMgr::GetSchema("exemp010");
  }
  void TearDown() override {
    SQLNetAgentClient::DeleteInstance();
    schema_ = SQLSchemaPtr();
    zdb_logoff();
  }

  ZDB_INTERNAL_CURSOR *Cursor() {
    ZDB_INTERNAL_CURSOR *ic = nullptr;
    EXPECT_EQ(zdb_get_internal_cursor(&ic, cursor_, 1), 0) << zdb_errno;
    return ic;
  }
  // Buffers the insert of an employee; it leaves with the next flush.
  void Insert(int emp, const char *name) {
    Image image(table_->dlock_offset, 0);
    fill_default_row(table_, image.data());
    DD_COLUMN *e = ddcolumn("exemp010.emp");
    image[e->offset + e->length - 1] = static_cast<unsigned char>(emp);
    DD_COLUMN *n = ddcolumn("exemp010.name");
    std::memset(image.data() + n->offset, ' ', n->length);
    std::memcpy(image.data() + n->offset, name, std::strlen(name));
    std::vector<unsigned char> record(ZDB_ACTION_HEADER + image.size(), 0);
    record[3] = RDS_ACT_INSERT;
    std::memcpy(record.data() + ZDB_ACTION_HEADER, image.data(), image.size());
    ASSERT_EQ(zdb_do_exec_row(Cursor(), record.data(), 0, 0), 0) << zdb_errno;
  }
  static void Table(SQLTokenString &d) {
    d.AppendToken(SQLNWTRSTable);
    d.AppendMemory("exemp010", 8);
    d.AppendBs2(1);
    d.AppendToken(SQLNWTNoIndexHints);
  }
  int Column(const char *name) { return schema_->GetColumnId(name); }
  // A reference to a column of the table.
  void ColRef(SQLTokenString &d, const char *name) {
    d.AppendToken(SQLNWTVEColRef);
    d.AppendBs2(0);
    d.AppendBs2(static_cast<std::int16_t>(Column(name)));
  }
  // The condition "emp <op> value".
  void EmpCompared(SQLTokenString &d, SQLNWToken op, int value) {
    d.AppendToken(op);
    d.AppendBs2(1);
    ColRef(d, "emp");
    d.AppendToken(SQLNWTVEIntegerConst);
    d.AppendBs4(value);
  }

  ScratchDir root_;
  DD_TABLE *table_ = nullptr;
  int trans_ = 0;
  ZDB_CURSOR *cursor_ = nullptr;
  unsigned char row_[DD_MAX_ROW_LENGTH] = {};
  SQLSchemaPtr schema_;
};

TEST_P(SqlAgentE2E, QueriesSeeFlushedRowsAndDeleteCountsThem) {
  for (int emp : {3, 1, 2}) Insert(emp, emp == 2 ? "bea" : "al");
  SQLNetAgentClient *client = SQLNetAgentClient::Instance();
  SQLDatabaseInstance instance("exemp010", 1);

  // SELECT emp, name FROM exemp010 WHERE name = 'al' ORDER BY emp DESC
  SQLTokenString d(20);
  d.AppendToken(SQLNWTRSSort);
  d.AppendBs2(1);
  d.AppendBs2(0);
  d.AppendToken(SQLNWTDescending);
  d.AppendToken(SQLNWTRSProject);
  d.AppendBs2(2);
  for (const char *c : {"emp", "name"}) ColRef(d, c);
  d.AppendToken(SQLNWTRSFilter);
  d.AppendToken(SQLNWTSCEquals);
  d.AppendBs2(1);
  ColRef(d, "name");
  d.AppendToken(SQLNWTVEStringConst);
  d.AppendMemory("al", 2);
  Table(d);

  unsigned long id = client->Prepare(d);
  client->Attach(id, trans_, &instance);
  SQLColumnDescriptor const *descs[2] = {schema_->GetColumnDescriptor(Column("emp")),
                                         schema_->GetColumnDescriptor(Column("name"))};
  SQLValueStore stores[2];
  SQLValueStore *sp[2] = {&stores[0], &stores[1]};
  client->BindOutput(id, 2, sp, descs);
  client->SetBufferSize(id, 1);
  EXPECT_EQ(client->Exec(id), 0);
  std::vector<int> emps;
  while (client->Fetch(id)) {
    emps.push_back(stores[0].GetInteger());
    EXPECT_EQ(std::string(stores[1].GetString(), 2), "al");
  }
  EXPECT_EQ(emps, (std::vector<int>{3, 1}));
  EXPECT_EQ(client->Fetch(id), 0) << "the end is answered again";
  EXPECT_EQ(client->GetState(id), 3);

  // A whole-table fetch decodes every column by the client's own schema.
  SQLTokenString all(20);
  Table(all);
  unsigned long tid = client->Prepare(all);
  client->Attach(tid, trans_, &instance);
  int n = schema_->GetNumCols();
  std::vector<SQLValueStore> vs(static_cast<std::size_t>(n));
  std::vector<SQLValueStore *> vp;
  std::vector<SQLColumnDescriptor const *> dp;
  for (int i = 0; i < n; ++i) {
    vp.push_back(&vs[static_cast<std::size_t>(i)]);
    dp.push_back(schema_->GetColumnDescriptor(i));
  }
  client->BindOutput(tid, n, vp.data(), dp.data());
  client->Exec(tid);
  int rows = 0;
  while (client->Fetch(tid)) ++rows;
  EXPECT_EQ(rows, 3);

  // DELETE FROM exemp010 WHERE emp > 1
  SQLTokenString del(20);
  del.AppendToken(SQLNWTETDelete);
  del.AppendMemory("exemp010", 8);
  del.AppendBs2(1);
  EmpCompared(del, SQLNWTSCGreaterThan, 1);
  unsigned long did = client->Prepare(del);
  client->Attach(did, trans_, &instance);
  EXPECT_EQ(client->Exec(did), 2);
  EXPECT_EQ(client->GetState(did), 2);

  // Another transaction's lock on the table refuses the DELETE at once.
  // It takes the lock only once the DELETE's transaction has ended.
  int other = zdb_start_session("other");
  ASSERT_GT(other, 0);
  ZDB_CURSOR *locker = nullptr;
  ASSERT_EQ(zdb_open(&locker, "exemp010", 1, row_, 0, other), 0);
  ZDB_INTERNAL_CURSOR *lic = nullptr;
  ASSERT_EQ(zdb_get_internal_cursor(&lic, locker, 1), 0);
  std::uint32_t argument = 0;
  // Not while this transaction's deletes of its rows are open.
  EXPECT_NE(zdb_do_exec_table(lic, table_action_word(lock_table), &argument), 0);
  EXPECT_EQ(zdb_errno, 107);
  ASSERT_EQ(zdb_exec_db(commit_trans, trans_), 0) << zdb_errno;
  ASSERT_EQ(zdb_do_exec_table(lic, table_action_word(lock_table), &argument), 0) << zdb_errno;
  try {
    client->Exec(did);
    ADD_FAILURE() << "DELETE of a table locked by another transaction went through";
  } catch (SQLException const &e) {
    EXPECT_EQ(e.GetZDBError(), 107);
  }
  ASSERT_EQ(zdb_do_exec_db(lic->tsession->session, db_action_word(abort_trans)), 0);
  EXPECT_EQ(client->Exec(did), 0) << "the lock is gone with its transaction";

  // An UPDATE that changes the primary key (the library's own SQL refuses
  // that, a client of the protocol may send it) locks the row for the
  // other sessions under its old and its new key until its transaction
  // ends: UPDATE exemp010 SET emp = 9 WHERE emp = 1
  SQLTokenString upd(20);
  upd.AppendToken(SQLNWTETUpdate);
  upd.AppendMemory("exemp010", 8);
  upd.AppendBs2(1);
  upd.AppendBs2(1);
  upd.AppendBs4(Column("emp"));
  upd.AppendToken(SQLNWTVEIntegerConst);
  upd.AppendBs4(9);
  EmpCompared(upd, SQLNWTSCEquals, 1);
  unsigned long uid = client->Prepare(upd);
  client->Attach(uid, trans_, &instance);
  EXPECT_EQ(client->Exec(uid), 1);
  auto locked_read = [&](int emp) {
    fill_default_row(table_, row_);
    DD_COLUMN *e = ddcolumn("exemp010.emp");
    row_[e->offset + e->length - 1] = static_cast<unsigned char>(emp);
    return zdb_exec_row(locker, db_eq_locked, 0, 1) == 0 ? 0 : zdb_errno;
  };
  EXPECT_EQ(locked_read(1), 107);
  EXPECT_EQ(locked_read(9), 107);
  ASSERT_EQ(zdb_exec_db(abort_trans, trans_), 0) << zdb_errno;
  EXPECT_EQ(locked_read(9), 111);
  EXPECT_EQ(locked_read(1), 0);
  ASSERT_EQ(zdb_exec_db(abort_trans, other), 0) << zdb_errno;
  client->Destroy(uid);

  // A data error reaches the client as the agent's exception.
  SQLTokenString bad(20);
  bad.AppendToken(SQLNWTRSProject);
  bad.AppendBs2(1);
  bad.AppendToken(SQLNWTVEDivide);
  ColRef(bad, "emp");
  bad.AppendToken(SQLNWTVEIntegerConst);
  bad.AppendBs4(0);
  Table(bad);
  unsigned long bid = client->Prepare(bad);
  client->Attach(bid, trans_, &instance);
  SQLColumnDescriptor real("", SQL_REAL, 0, 1);
  SQLColumnDescriptor const *rd[1] = {&real};
  client->BindOutput(bid, 1, sp, rd);
  client->Exec(bid);
  try {
    client->Fetch(bid);
    ADD_FAILURE() << "division by zero not reported";
  } catch (SQLException const &e) {
    EXPECT_STREQ(e.GetSQLState(), "22012");
    EXPECT_EQ(e.GetZDBError(), 306);
  }
  EXPECT_EQ(client->GetState(bid), 2);
  for (unsigned long s : {id, tid, did, bid}) client->Destroy(s);
}

// A row whose value fails (emp 5 divides by zero) ends the result at the
// set that reaches it, whatever the rows per fetch, however far the driver
// reads ahead: the rows of the sets before it arrive, then the error.
TEST_P(SqlAgentE2E, AFailingRowEndsTheResultAtTheSetThatReachesIt) {
  for (int emp = 1; emp <= 7; ++emp) Insert(emp, "al");
  SQLNetAgentClient *client = SQLNetAgentClient::Instance();
  SQLDatabaseInstance instance("exemp010", 1);
  // SELECT emp, emp / (emp - 5) FROM exemp010
  SQLTokenString d(20);
  d.AppendToken(SQLNWTRSProject);
  d.AppendBs2(2);
  ColRef(d, "emp");
  d.AppendToken(SQLNWTVEDivide);
  ColRef(d, "emp");
  d.AppendToken(SQLNWTVESubtract);
  ColRef(d, "emp");
  d.AppendToken(SQLNWTVEIntegerConst);
  d.AppendBs4(5);
  Table(d);
  unsigned long id = client->Prepare(d);
  client->Attach(id, trans_, &instance);
  SQLColumnDescriptor real("", SQL_REAL, 0, 1);
  SQLColumnDescriptor const *descs[2] = {schema_->GetColumnDescriptor(Column("emp")), &real};
  SQLValueStore stores[2];
  SQLValueStore *sp[2] = {&stores[0], &stores[1]};
  client->BindOutput(id, 2, sp, descs);
  for (int size : {1, 2, 3, 4, 6}) {
    client->SetBufferSize(id, size);
    client->Exec(id);
    int rows = 0;
    try {
      while (client->Fetch(id)) EXPECT_EQ(stores[0].GetInteger(), ++rows);
      ADD_FAILURE() << "division by zero not reported";
    } catch (SQLException const &e) {
      EXPECT_STREQ(e.GetSQLState(), "22012");
    }
    // The set holding row 4 steps on to row 5.
    EXPECT_EQ(rows, size * (3 / size)) << size << " rows per fetch";
    EXPECT_EQ(client->GetState(id), 2);
  }
  client->Destroy(id);
}

INSTANTIATE_TEST_SUITE_P(Forms, SqlAgentE2E,
                         testing::Values(Form{"child", false}, Form{"library", false}, Form{"child", true}),
                         [](const testing::TestParamInfo<Form> &info) {
                           return std::string(info.param.form) + (info.param.forget ? "_forgetting" : "");
                         });

}  // namespace
