// DELETE and UPDATE by the agent: the request bytes, the parameters bound
// once per execution, the row counts, the domain check before anything is
// sent, and the refusal of conditions another driver would have to read.
#include "sql/exec/et_net_dml.h"

#include <gtest/gtest.h>

#include "agent_peer.h"
#include "dbc/domain/domain_check.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_parameter.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/sc_text_content.h"

namespace {

using namespace molvane::test;

constexpr int kCompany = 100;

class NetDmlTest : public testing::Test {
 protected:
  void SetUp() override {
    schema_ = SQLSchemaMgr::GetSchema("exdep010");
    budget_ = schema_->GetColumnId("budget");
    code_ = schema_->GetColumnId("code");
    name_ = schema_->GetColumnId("name");
    param_.SetType(SQL_STRING, 6, 1);
  }
  void TearDown() override { zdb_dd_check_set_enabled(0); }

  SQLRSSCColumnRef *Ref(int column) { return new SQLRSSCColumnRef(0, column, schema_->GetColumnDescriptor(column)); }
  static pSQLRSSCValueExprList *One(SQLRSSCValueExpr *e) {
    auto *l = new pSQLRSSCValueExprList;
    l->Append(e);
    return l;
  }
  // code = ?
  SQLRSSCSearchCond *CodeIsParam() {
    return new SQLRSSCComparison(One(Ref(code_)), SQLRSSC_EQUAL, One(new SQLRSSCParameterRef(&param_)));
  }
  // UPDATE exdep010 SET budget = <value>, name = ? WHERE code = ?
  std::unique_ptr<SQLETNetUpdate> Update(SQLRSSCValueExpr *value) {
    auto *columns = new intList;
    columns->Append(budget_);
    columns->Append(name_);
    auto *values = new pSQLRSSCValueExprList;
    values->Append(value);
    values->Append(new SQLRSSCParameterRef(&param_));
    return std::make_unique<SQLETNetUpdate>("exdep010", kCompany, std::unique_ptr<intList>(columns),
                                            SQLETNetUpdate::ValueListPtr(values),
                                            std::unique_ptr<SQLRSSCSearchCond>(CodeIsParam()));
  }
  ByteString ParamBytes() const {
    return Cat({Tok(SQLNWTVEParameterRef), B4(static_cast<std::int64_t>(param_.GetId())), Tok(SQLNWTTypeString), B4(6),
                B4(1)});
  }
  ByteString CodeIsParamBytes() const {
    return Cat({Tok(SQLNWTSCEquals), B2(1), Tok(SQLNWTVEColRef), B2(0), B2(code_), ParamBytes()});
  }
  // Prepare, attach and execute with the peer answering a row count.
  int Run(SQLETNetRequest *tree, int rows) {
    SQLRSPrepareContext context;
    if (tree->GetStatementId() == 0) tree->Prepare(&context);
    tree->Attach(3);
    env_.Peer().replies.push_back(RowsProcessed(tree->GetStatementId(), rows));
    return tree->Exec();
  }

  AgentTestEnv env_;
  SQLSchemaPtr schema_;
  int budget_ = -1, code_ = -1, name_ = -1;
  SQLParameter param_;
};

TEST_F(NetDmlTest, DeleteWithoutConditionIsTheTableAndNull) {
  SQLETNetDelete del("exdep010", kCompany, nullptr);
  EXPECT_EQ(BytesOf(del.GetRequest()),
            Cat({Tok(SQLNWTETDelete), Mem("exdep010"), B2(kCompany), Tok(SQLNWTNull)}));
  EXPECT_EQ(Run(&del, 4), 4);
  EXPECT_TRUE(Contains(env_.Peer().sent.back(), BytesOf(del.GetRequest())));
}

TEST_F(NetDmlTest, DeleteShipsItsConditionAndReturnsTheCount) {
  // The request is written before any value is bound, as a statement does.
  SQLETNetDelete del("exdep010", kCompany, std::unique_ptr<SQLRSSCSearchCond>(CodeIsParam()));
  param_.BindString(reinterpret_cast<unsigned char const *>("A"), 1);
  EXPECT_EQ(BytesOf(del.GetRequest()),
            Cat({Tok(SQLNWTETDelete), Mem("exdep010"), B2(kCompany), CodeIsParamBytes()}));
  EXPECT_EQ(del.GetParameters().NrElements(), 1);
  EXPECT_EQ(Run(&del, 2), 2);
  EXPECT_EQ(Run(&del, 0), 0);
}

TEST_F(NetDmlTest, UpdateBindsAParameterOnceThoughItIsReadTwice) {
  auto update = Update(new SQLRSSCIntegerConst(7));
  param_.BindString(reinterpret_cast<unsigned char const *>("B"), 1);
  EXPECT_EQ(update->GetParameters().NrElements(), 1);
  EXPECT_EQ(BytesOf(update->GetRequest()),
            Cat({Tok(SQLNWTETUpdate), Mem("exdep010"), B2(kCompany), B2(2), B4(budget_), Tok(SQLNWTVEIntegerConst),
                 B4(7), B4(name_), ParamBytes(), CodeIsParamBytes()}));
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(Run(update.get(), 5), 5);
    // One parameter per execution: the bind packet does not grow.
    ByteString bind = Cat({Tok(SQLNWTPacketBindParams), B4(1), B4(static_cast<std::int64_t>(param_.GetId()))});
    EXPECT_TRUE(Contains(env_.Peer().sent.back(), bind)) << run;
  }
}

TEST_F(NetDmlTest, UpdateThatViolatesTheDomainSendsNothing) {
  zdb_dd_check_set_enabled(1);
  auto update = Update(new SQLRSSCIntegerConst(-5));  // budget: >= 0
  param_.BindString(reinterpret_cast<unsigned char const *>("C"), 1);
  SQLRSPrepareContext context;
  update->Prepare(&context);
  update->Attach(3);
  size_t exchanges = env_.Peer().sent.size();
  try {
    update->Exec();
    FAIL() << "no domain error";
  } catch (SQLException const &e) {
    EXPECT_STREQ(e.GetSQLState(), "23000");
    EXPECT_EQ(e.GetZDBError(), 205);
    EXPECT_NE(std::string(e.GetMessageText()->GetString()).find("exdep010.budget"), std::string::npos);
  }
  EXPECT_EQ(env_.Peer().sent.size(), exchanges);
  // A valid value goes through.
  auto valid = Update(new SQLRSSCIntegerConst(5));
  EXPECT_EQ(Run(valid.get(), 1), 1);
}

TEST_F(NetDmlTest, ConditionOnAnotherDriverIsRefused) {
  auto foreign = [this] {
    auto *text = new SQLRSSCTextContent(new SQLRSSCIntegerConst(1),
                                        new SQLRSSCStringConst(reinterpret_cast<unsigned char const *>("2"), 1), kCompany);
    return new SQLRSSCComparison(One(text), SQLRSSC_EQUAL, One(Ref(name_)));
  };
  for (int update = 0; update < 2; ++update) {
    try {
      if (update) {
        auto *columns = new intList;
        columns->Append(budget_);
        auto *values = new pSQLRSSCValueExprList;
        values->Append(new SQLRSSCIntegerConst(1));
        SQLETNetUpdate u("exdep010", kCompany, std::unique_ptr<intList>(columns), SQLETNetUpdate::ValueListPtr(values),
                         std::unique_ptr<SQLRSSCSearchCond>(foreign()));
      } else {
        SQLETNetDelete d("exdep010", kCompany, std::unique_ptr<SQLRSSCSearchCond>(foreign()));
      }
      FAIL() << "not refused";
    } catch (SQLException const &e) {
      EXPECT_STREQ(e.GetSQLState(), "QP060");
      EXPECT_EQ(e.GetZDBError(), 0);
    }
  }
}

TEST_F(NetDmlTest, RowOperationsStop) {
  SQLETNetDelete del("exdep010", kCompany, nullptr);
  EXPECT_DEATH(del.Fetch(), "Unexpected message SQLETNetDelete::Fetch");
  auto update = Update(new SQLRSSCIntegerConst(1));
  EXPECT_DEATH(update->SkipRows(1), "Unexpected message SQLETNetUpdate::SkipRows");
}

}  // namespace
