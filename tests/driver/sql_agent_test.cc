// The reference driver's SQL agent from hand-written packet buffers: every
// statement packet, the batch rules (one diagnostic record per failing
// statement, its later packets passed over, unknown ids "not created"),
// repeated fetches after the end, dictionaries asked for and the batch
// resumed, and results decoded by the library's own row-set decoder so that
// the encoding is the one the client reads.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbc/zdb_errors.h"
#include "store/driver_dd.h"
#include "sql/query_desc_reader.h"
#include "sql/sqlite_translate.h"
#include "sql/agent/agent_packets.h"
#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/sql_exception.h"
#include "sql/common/value_store.h"
#include "sql/sql_agent.h"

namespace {

using namespace molvane::driver;

constexpr std::uint32_t kSession = 7;

// One packet under construction.
struct P {
  SQLTokenString ts{20};
  P &tok(int t) {
    ts.AppendToken(static_cast<SQLNWToken>(t));
    return *this;
  }
  P &b2(int v) {
    ts.AppendBs2(static_cast<std::int16_t>(v));
    return *this;
  }
  P &b4(int v) {
    ts.AppendBs4(v);
    return *this;
  }
  P &mem(const std::string &s) {
    ts.AppendMemory(s.data(), static_cast<int>(s.size()));
    return *this;
  }
  P &dbl(double d) {
    ts.AppendDouble(d);
    return *this;
  }
  P &stmt(int id, int op) { return tok(SQLNWTPacketForStmt).b4(id).tok(op); }
  P &table(const std::string &name = "tbltst01", int compnr = 10) {
    return tok(SQLNWTRSTable).mem(name).b2(compnr).tok(SQLNWTNoIndexHints);
  }
  P &col(int c, int level = 0) { return tok(SQLNWTVEColRef).b2(level).b2(c); }
  P &int_const(int v) { return tok(SQLNWTVEIntegerConst).b4(v); }
  P &str_const(const std::string &s) { return tok(SQLNWTVEStringConst).mem(s); }
};

std::vector<std::uint8_t> Buffer(std::initializer_list<const P *> packets) {
  SQLTokenString all(20);
  for (const P *p : packets) {
    all.AppendBs4(p->ts.Length());
    all.AppendTokenString(p->ts);
  }
  const unsigned char *b;
  int n;
  all.GetString(b, n);
  return std::vector<std::uint8_t>(b, b + n);
}

struct Reply {
  int token;
  std::unique_ptr<SQLTokenString> packet;
};

std::vector<Reply> Split(const std::vector<std::uint8_t> &bytes) {
  std::vector<Reply> out;
  SQLTokenString ts(bytes.data(), static_cast<int>(bytes.size()));
  while (!ts.AtEnd()) {
    int n = ts.GetBs4();
    int at = ts.GetReadOffset();
    auto packet = std::make_unique<SQLTokenString>(bytes.data() + at, n);
    int token = packet->GetToken();
    out.push_back({token, std::move(packet)});
    ts.SetReadOffset(at + n);
  }
  return out;
}

// A diagnostic record's id, state token, SQLSTATE, native error and text.
struct Diag {
  int id, state;
  std::string sqlstate;
  int error = 0;
  std::string message;
};
Diag ReadDiag(const Reply &r) {
  SQLTokenString &p = *r.packet;
  p.SetReadOffset(3);
  Diag d;
  d.id = p.GetBs4();
  d.state = p.GetToken();
  const unsigned char *b;
  std::int16_t n;
  p.GetMemory(b, n);
  d.sqlstate.assign(reinterpret_cast<const char *>(b), static_cast<std::size_t>(n));
  d.error = p.GetBs4();
  p.GetMemory(b, n);
  d.message.assign(reinterpret_cast<const char *>(b), static_cast<std::size_t>(n));
  return d;
}

class SqlAgentTest : public testing::Test {
 protected:
  void SetUp() override { Open(false); }
  void TearDown() override {
    agent_.reset();
    sqlite3_close(db_);
  }

  void Open(bool forget) {
    agent_.reset();
    if (db_ != nullptr) sqlite3_close(db_);
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    DdTableDesc desc;
    desc.name = "tbltst01";
    desc.columns = {{"id", 4, 0, 3, 0, 1, {0, 0}},
                    {"name", 6, 4, 6, 0, 1, {0, 0}},
                    {"price", 8, 10, 5, 0, 1, {0, 0}},
                    {"scores", 6, 18, 2, 0, 3, {0, 0}}};
    desc.keys = {{1, 0, 0, {0}}};
    std::string error;
    ASSERT_TRUE(catalog_.Add(db_, desc, 10, &error)) << error;
    Exec(
        "INSERT INTO tbltst01010 VALUES (1, CAST('bob   ' AS BLOB), 2.5, 1, 2, 3),"
        "(2, CAST('ann   ' AS BLOB), 10.0, 4, 5, 6), (3, CAST('ab    ' AS BLOB), -1.0, 7, 8, 9)");
    AgentContext ctx{[this](const std::string &t, int c) { return catalog_.Find(t, c); },
                     [](const std::string &, int c) { return c; },
                     [this](std::uint32_t s) { return s == kSession ? db_ : nullptr; }, nullptr, nullptr,
                     [this](std::uint32_t) {
                       // The session's wait for the write transaction
                       // happens here; it may end without it.
                       ++begins_;
                       if (lock_failures_ == 0) return true;
                       --lock_failures_;
                       throw SQLExZDBError(ZE_LOCKED);
                     },
                     [this](std::uint32_t, const std::string &table, int physical, const SQLException *) {
                       noted_.push_back(table + "/" + std::to_string(physical));
                     },
                     nullptr, nullptr};
    agent_ = std::make_unique<SqlAgent>(ctx, forget);
  }
  void Exec(const char *sql) {
    ASSERT_EQ(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db_);
  }

  std::vector<Reply> Send(std::initializer_list<const P *> packets) {
    std::vector<std::uint8_t> b = Buffer(packets);
    return Split(agent_->HandleBatch(b.data(), b.size()));
  }

  // Prepare (with the description appended by `describe`), attach and exec.
  std::vector<Reply> Run(int id, const P &description) {
    P prepare;
    prepare.stmt(id, SQLNWTPacketPrepare);
    prepare.ts.AppendTokenString(description.ts);
    P attach, exec;
    attach.stmt(id, SQLNWTPacketAttach).b4(kSession);
    exec.stmt(id, SQLNWTPacketExec);
    return Send({&prepare, &attach, &exec});
  }

  // Fetches every row through the library's decoder, as text lines.
  std::vector<std::string> FetchAll(int id, const std::vector<SQLColumnDescriptor> &cols, int per_fetch = 2) {
    std::vector<SQLValueStore> stores(cols.size());
    std::vector<SQLValueStore *> sp;
    std::vector<SQLColumnDescriptor const *> dp;
    for (std::size_t i = 0; i < cols.size(); ++i) {
      sp.push_back(&stores[i]);
      dp.push_back(&cols[i]);
    }
    SQLNetWorkRowSetRowExtractor extractor(static_cast<int>(cols.size()), sp.data(), dp.data());
    std::vector<std::string> rows;
    for (int round = 0; round < 1000; ++round) {
      P fetch;
      fetch.stmt(id, SQLNWTPacketFetch).b4(per_fetch);
      std::vector<Reply> r = Send({&fetch});
      // One set, the end of the set, or the set that empties the result
      // followed by the end.
      EXPECT_TRUE(r.size() == 1 ||
                  (r.size() == 2 && r[0].token == SQLNWTResultSet && r[1].token == SQLNWTEndOfSet));
      if (r.empty()) return rows;
      for (Reply &reply : r) {
        if (reply.token == SQLNWTEndOfSet) return rows;
        if (reply.token != SQLNWTResultSet) {
          rows.push_back("diag " + ReadDiag(reply).sqlstate);
          return rows;
        }
        extractor.DefineRowSet(*reply.packet);
        while (extractor.Fetch()) {
          std::string line;
          for (SQLValueStore &v : stores) line += Text(v) + "|";
          rows.push_back(line);
        }
      }
    }
    return rows;
  }

  static std::string Text(const SQLValueStore &v) {
    if (v.GetType() == SQL_ARRAY) {
      std::string s = "[";
      for (int i = 0; i < v.GetDimension(); ++i)
        s += Text(*v.GetElement(i)) + (i + 1 < v.GetDimension() ? "," : "]");
      return s;
    }
    if (v.IsNull()) return "NULL";
    switch (v.GetType()) {
      case SQL_STRING:
        return "'" + std::string(v.GetString(), v.GetLength()) + "'";
      case SQL_REAL:
        return std::to_string(v.GetReal());
      case SQL_TIMESTAMP:
        return std::to_string(v.GetTimestamp());
      default:
        return std::to_string(v.GetInteger());
    }
  }

  static std::vector<SQLColumnDescriptor> TableCols() {
    return {SQLColumnDescriptor("id", SQL_INTEGER, 4, 1), SQLColumnDescriptor("name", SQL_STRING, 6, 1),
            SQLColumnDescriptor("price", SQL_REAL, 8, 1), SQLColumnDescriptor("scores", SQL_INTEGER, 2, 3)};
  }

  int begins_ = 0;         // the writes that asked for the write transaction
  int lock_failures_ = 0;  // the next ones whose wait ends without it
  std::vector<std::string> noted_;  // the tables whose changed rows were noted, after each write
  sqlite3 *db_ = nullptr;
  DdCatalog catalog_;
  std::unique_ptr<SqlAgent> agent_;
};

TEST_F(SqlAgentTest, TableFetchInSetsThenEndOfSetAgain) {
  P level;
  level.tok(SQLNWTPacketForDriver).tok(SQLNWTLanguageLevel).b4(1);
  std::vector<Reply> r = Send({&level});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].token, SQLNWTLanguageLevel);

  P d;
  d.table();
  EXPECT_TRUE(Run(1, d).empty());  // a query's Exec answers nothing
  EXPECT_EQ(agent_->StateOf(1), kExecuted);
  std::vector<std::string> rows = FetchAll(1, TableCols());
  EXPECT_EQ(rows, (std::vector<std::string>{"1|'bob   '|2.500000|[1,2,3]|", "2|'ann   '|10.000000|[4,5,6]|",
                                            "3|'ab    '|-1.000000|[7,8,9]|"}));
  // Fetching after the end answers the end again.
  P fetch;
  fetch.stmt(1, SQLNWTPacketFetch).b4(5);
  r = Send({&fetch, &fetch});
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].token, SQLNWTEndOfSet);
  EXPECT_EQ(r[1].token, SQLNWTEndOfSet);
}

TEST_F(SqlAgentTest, StatementStatesFollowBreakCloseDestroy) {
  P d;
  d.table();
  Run(2, d);
  P brk, close, destroy, exec, fetch;
  brk.stmt(2, SQLNWTPacketBreak);
  close.stmt(2, SQLNWTPacketClose);
  destroy.stmt(2, SQLNWTPacketDestroy);
  exec.stmt(2, SQLNWTPacketExec);
  fetch.stmt(2, SQLNWTPacketFetch).b4(10);
  EXPECT_TRUE(Send({&brk}).empty());
  EXPECT_EQ(agent_->StateOf(2), kAttached);
  EXPECT_TRUE(Send({&close}).empty());
  EXPECT_EQ(agent_->StateOf(2), kPrepared);
  // Exec of a prepared statement fails; its fetch in the same batch is passed over.
  std::vector<Reply> r = Send({&exec, &fetch});
  ASSERT_EQ(r.size(), 1u);
  ASSERT_EQ(r[0].token, SQLNWTDiagRec);
  Diag diag = ReadDiag(r[0]);
  EXPECT_EQ(diag.id, 2);
  EXPECT_EQ(diag.state, SQLNWTStmtPrepared);
  EXPECT_TRUE(Send({&destroy}).empty());
  EXPECT_EQ(agent_->StateOf(2), -1);
  // Unknown ids are "not created"; a Destroy of one answers nothing.
  r = Send({&fetch, &destroy});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(ReadDiag(r[0]).state, SQLNWTStmtNotCreated);
}

TEST_F(SqlAgentTest, FirstErrorOfAStatementSkipsOnlyItsPackets) {
  P d;
  d.table();
  P p3, p4, a3, a4, e3, e4, f3, f4;
  p3.stmt(3, SQLNWTPacketPrepare).ts.AppendTokenString(d.ts);
  p4.stmt(4, SQLNWTPacketPrepare).ts.AppendTokenString(d.ts);
  a3.stmt(3, SQLNWTPacketAttach).b4(99);  // no such session
  a4.stmt(4, SQLNWTPacketAttach).b4(kSession);
  e3.stmt(3, SQLNWTPacketExec);
  e4.stmt(4, SQLNWTPacketExec);
  f3.stmt(3, SQLNWTPacketFetch).b4(1);
  f4.stmt(4, SQLNWTPacketFetch).b4(1);
  std::vector<Reply> r = Send({&p3, &p4, &a3, &a4, &e3, &e4, &f3, &f4});
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].token, SQLNWTDiagRec);
  Diag diag = ReadDiag(r[0]);
  EXPECT_EQ(diag.id, 3);
  EXPECT_EQ(diag.state, SQLNWTStmtPrepared);
  EXPECT_EQ(r[1].token, SQLNWTResultSet);
  // A second prepare of a live id is refused with the statement's state.
  r = Send({&p4});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(ReadDiag(r[0]).state, SQLNWTStmtExecuted);
}

TEST_F(SqlAgentTest, SkipRowsCountsWhatItSkipped) {
  P d;
  d.table();
  Run(5, d);
  P skip;
  skip.stmt(5, SQLNWTPacketSkipRows).b4(2).b4(5);
  std::vector<Reply> r = Send({&skip, &skip});
  ASSERT_EQ(r.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(r[static_cast<std::size_t>(i)].token, SQLNWTNrRowsProcessed);
    r[static_cast<std::size_t>(i)].packet->GetBs4();
    EXPECT_EQ(r[static_cast<std::size_t>(i)].packet->GetBs4(), i == 0 ? 2 : 1);
  }
}

// Filter (blank-padded string equality), projection with arithmetic, sort
// with NULLs last and a group with its set functions.
TEST_F(SqlAgentTest, FilterProjectSortAndGroupKeepLocalSemantics) {
  P filter;  // name = 'ab' (the stored 'ab    ' is equal when padded)
  filter.tok(SQLNWTRSFilter).tok(SQLNWTSCEquals).b2(1).col(1).str_const("ab").table();
  Run(6, filter);
  EXPECT_EQ(FetchAll(6, TableCols()), (std::vector<std::string>{"3|'ab    '|-1.000000|[7,8,9]|"}));

  P project;  // id * 10, scores[2] sorted descending by the first
  project.tok(SQLNWTRSSort).b2(1).b2(0).tok(SQLNWTDescending);
  project.tok(SQLNWTRSProject).b2(2).tok(SQLNWTVEMultiply).col(0).int_const(10);
  project.tok(SQLNWTVEIndexing).col(3).int_const(2).table();
  Run(7, project);
  std::vector<SQLColumnDescriptor> two = {SQLColumnDescriptor("", SQL_INTEGER, 0, 1),
                                          SQLColumnDescriptor("", SQL_INTEGER, 0, 1)};
  EXPECT_EQ(FetchAll(7, two), (std::vector<std::string>{"30|8|", "20|5|", "10|2|"}));

  P group;  // COUNT(*), SUM(id), AVG(price), MIN(name)
  group.tok(SQLNWTRSGroup).b2(0).b2(4).tok(SQLNWTCountStar).tok(SQLNWTSum).col(0);
  group.tok(SQLNWTAvg).col(2).tok(SQLNWTMin).col(1).table();
  Run(8, group);
  std::vector<SQLColumnDescriptor> g = {
      SQLColumnDescriptor("", SQL_INTEGER, 0, 1), SQLColumnDescriptor("", SQL_INTEGER, 4, 1),
      SQLColumnDescriptor("", SQL_REAL, 0, 1), SQLColumnDescriptor("", SQL_STRING, 6, 1)};
  EXPECT_EQ(FetchAll(8, g), (std::vector<std::string>{"3|6|3.833333|'ab    '|"}));
}

// Data errors of the library's own rules come back as diagnostic records
// of the executing statement, which stays attached.
TEST_F(SqlAgentTest, DataErrorsAnswerTheLibrarysStates) {
  struct Case {
    const char *name;
    std::function<void(P &)> describe;
    const char *sqlstate;
  } cases[] = {
      {"division by zero",
       [](P &p) { p.tok(SQLNWTRSProject).b2(1).tok(SQLNWTVEDivide).col(0).int_const(0).table(); }, "22012"},
      {"modulo by zero",
       [](P &p) { p.tok(SQLNWTRSProject).b2(1).tok(SQLNWTVEModulo).col(0).int_const(0).table(); }, "22012"},
      {"32-bit overflow",
       [](P &p) { p.tok(SQLNWTRSProject).b2(1).tok(SQLNWTVEMultiply).col(0).int_const(2000000000).table(); },
       "22003"},
      // Compared in SQLite's own arithmetic, a result out of range still
      // refuses the row.
      {"32-bit overflow in a comparison",
       [](P &p) {
         p.tok(SQLNWTRSFilter).tok(SQLNWTSCGreaterThan).b2(1).tok(SQLNWTVEMultiply).col(0).int_const(2000000000);
         p.int_const(0).table();
       },
       "22003"},
      {"day beyond the calendar in a comparison",
       [](P &p) {
         p.tok(SQLNWTRSFilter).tok(SQLNWTSCGreaterThan).b2(1).tok(SQLNWTVEAdd);
         p.tok(SQLNWTVEReinterpretCast).tok(SQLNWTTypeDate).col(0);
         p.tok(SQLNWTVEReinterpretCast).tok(SQLNWTTypeIntervalDays).int_const(3652058);
         p.tok(SQLNWTVEDateConst).b4(0).table();
       },
       "22008"},
      {"scalar subquery of three rows",
       [](P &p) { p.tok(SQLNWTRSProject).b2(1).tok(SQLNWTVEScalarSubquery).table().table(); }, "21000"},
      {"negative substring length",
       [](P &p) {
         p.tok(SQLNWTRSProject).b2(1).tok(SQLNWTVESubstr).col(1).int_const(1).int_const(-1).table();
       },
       "22011"},
      {"SUM leaving 32 bits",
       [](P &p) { p.tok(SQLNWTRSGroup).b2(0).b2(1).tok(SQLNWTSum).int_const(2000000000).table(); }, "22003"},
      {"CAST to a day beyond the calendar",
       [](P &p) {
         p.tok(SQLNWTRSProject)
             .b2(1)
             .tok(SQLNWTVEReinterpretCast)
             .tok(SQLNWTTypeDate)
             .int_const(2147483647)
             .table();
       },
       "22008"},
      {"TRIM character of two characters",
       [](P &p) {
         p.tok(SQLNWTRSProject).b2(1).tok(SQLNWTVETrim).tok(SQLNWTTrimLeading).str_const("ab").col(1).table();
       },
       "22027"},
  };
  int id = 20;
  for (const Case &c : cases) {
    P d;
    c.describe(d);
    std::vector<Reply> r = Run(++id, d);
    if (r.empty()) {  // the first rows were good: the fetch that reaches the bad one fails
      P fetch;
      fetch.stmt(id, SQLNWTPacketFetch).b4(10);
      r = Send({&fetch});
    }
    ASSERT_EQ(r.size(), 1u) << c.name;
    ASSERT_EQ(r[0].token, SQLNWTDiagRec) << c.name;
    Diag diag = ReadDiag(r[0]);
    EXPECT_EQ(diag.sqlstate, c.sqlstate) << c.name;
    EXPECT_EQ(diag.state, SQLNWTStmtAttached) << c.name;
  }
}

// Descriptions the library would never write are refused with an error of
// the statement, never a stop: unknown tokens, truncated items, operand
// types the value layer does not take, columns beyond the row.
TEST_F(SqlAgentTest, MalformedDescriptionsAreRefused) {
  std::vector<P> bad(6);
  bad[0].tok(999);
  bad[1].tok(SQLNWTRSTable).mem("tbltst01");                                         // ends early
  bad[2].tok(SQLNWTRSFilter).tok(SQLNWTSCEquals).b2(1).col(1).int_const(1).table();  // STRING = INTEGER
  bad[3].tok(SQLNWTRSProject).b2(1).col(9).table();
  bad[4].tok(SQLNWTRSProject).b2(1).tok(SQLNWTVEConcatenate).col(0).col(1).table();
  bad[5].table().table();  // bytes left over
  int id = 40;
  for (P &d : bad) {
    P prepare;
    prepare.stmt(++id, SQLNWTPacketPrepare);
    prepare.ts.AppendTokenString(d.ts);
    std::vector<Reply> r = Send({&prepare});
    ASSERT_EQ(r.size(), 1u) << id;
    ASSERT_EQ(r[0].token, SQLNWTDiagRec) << id;
    EXPECT_EQ(ReadDiag(r[0]).state, SQLNWTStmtNotCreated) << id;
  }
  // A packet length beyond the buffer ends the batch quietly.
  std::vector<std::uint8_t> broken = {3, 0xFF, 0xFF, 0, 0, 7, 1, 0};
  EXPECT_TRUE(agent_->HandleBatch(broken.data(), broken.size()).empty());
}

TEST_F(SqlAgentTest, MissingDictionariesHoldTheBatchUntilResumed) {
  Open(true);  // the agent forgets dictionaries until they are sent
  P d;
  d.table();
  std::vector<Reply> r = Run(50, d);
  ASSERT_EQ(r.size(), 1u);
  ASSERT_EQ(r[0].token, SQLNWTMissingDDs);
  EXPECT_EQ(r[0].packet->GetBs2(), 1);
  const unsigned char *name;
  std::int16_t n;
  r[0].packet->GetMemory(name, n);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(name), static_cast<std::size_t>(n)), "tbltst01");
  EXPECT_EQ(r[0].packet->GetBs2(), 10);
  EXPECT_TRUE(agent_->holding());
  EXPECT_EQ(agent_->StateOf(50), -1);

  agent_->DictionaryArrived("tbltst01", 10);
  P resume;
  resume.tok(SQLNWTPacketForDriver).tok(SQLNWTHandlePendingPackets);
  EXPECT_TRUE(Send({&resume}).empty());  // prepare, attach and exec answer nothing
  EXPECT_FALSE(agent_->holding());
  EXPECT_EQ(agent_->StateOf(50), kExecuted);
  EXPECT_EQ(FetchAll(50, TableCols()).size(), 3u);

  // A dictionary that does not come is an error of the statement.
  P other;
  other.table("tblnone1", 10);
  r = Run(51, other);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].token, SQLNWTMissingDDs);
  r = Send({&resume});
  ASSERT_GE(r.size(), 1u);
  ASSERT_EQ(r[0].token, SQLNWTDiagRec);
  EXPECT_EQ(ReadDiag(r[0]).sqlstate, "42S02");
}

TEST_F(SqlAgentTest, DeleteAndUpdateAnswerTheRowsProcessed) {
  P open;  // a result still open while the session writes keeps what it read
  open.table();
  Run(59, open);
  P update;  // UPDATE tbltst01 SET price = price * 2 WHERE id >= 2
  update.tok(SQLNWTETUpdate).mem("tbltst01").b2(10).b2(1).b4(2);
  update.tok(SQLNWTVEMultiply).col(2).tok(SQLNWTVERealConst).dbl(2.0);
  update.tok(SQLNWTSCGreaterThanOrEquals).b2(1).col(0).int_const(2);
  std::vector<Reply> r = Run(60, update);
  ASSERT_EQ(r.size(), 1u);
  ASSERT_EQ(r[0].token, SQLNWTNrRowsProcessed);
  r[0].packet->GetBs4();
  EXPECT_EQ(r[0].packet->GetBs4(), 2);
  EXPECT_EQ(agent_->StateOf(60), kAttached);

  P del;  // DELETE FROM tbltst01 WHERE name LIKE 'a%'
  del.tok(SQLNWTETDelete).mem("tbltst01").b2(10);
  del.tok(SQLNWTSCLikeAnsi).col(1).str_const("a%").tok(SQLNWTNull);
  r = Run(61, del);
  ASSERT_EQ(r.size(), 1u);
  r[0].packet->GetBs4();
  EXPECT_EQ(r[0].packet->GetBs4(), 2);

  P d;
  d.table();
  Run(62, d);
  EXPECT_EQ(FetchAll(62, TableCols()), (std::vector<std::string>{"1|'bob   '|2.500000|[1,2,3]|"}));
  EXPECT_EQ(FetchAll(59, TableCols()),
            (std::vector<std::string>{"1|'bob   '|2.500000|[1,2,3]|", "2|'ann   '|10.000000|[4,5,6]|",
                                      "3|'ab    '|-1.000000|[7,8,9]|"}));
}

// A database that cannot be written answers a write as the record API does:
// 702 with SQLite's words and the file, not a general error with SQLite's
// text; the session reads on.
TEST_F(SqlAgentTest, StorageFailuresAnswerTheRecordApisNumberAndWords) {
  Exec("PRAGMA query_only = 1");
  P update;  // UPDATE tbltst01 SET price = price * 2 WHERE id >= 2
  update.tok(SQLNWTETUpdate).mem("tbltst01").b2(10).b2(1).b4(2);
  update.tok(SQLNWTVEMultiply).col(2).tok(SQLNWTVERealConst).dbl(2.0);
  update.tok(SQLNWTSCGreaterThanOrEquals).b2(1).col(0).int_const(2);
  std::vector<Reply> r = Run(63, update);
  ASSERT_EQ(r.size(), 1u);
  ASSERT_EQ(r[0].token, SQLNWTDiagRec);
  Diag diag = ReadDiag(r[0]);
  EXPECT_EQ(diag.sqlstate, "QP999");
  EXPECT_EQ(diag.error, ZE_STORAGE_READONLY);
  EXPECT_EQ(diag.message, "attempt to write a readonly database (file :memory:)");

  P d;
  d.table();
  Run(64, d);
  EXPECT_EQ(FetchAll(64, TableCols()).size(), 3u);
}

// A DELETE or UPDATE waits for its write transaction where it stands:
// what came before it in the batch is handled once, the batch goes on
// after it, also inside a batch kept for dictionaries, and a wait that
// ends without the transaction is that statement's lock error (QP999,
// 107) while the rest of the batch is still handled.
TEST_F(SqlAgentTest, WriteWaitsForItsTransactionWhereItStands) {
  P update;  // UPDATE tbltst01 SET price = price * 2 WHERE id >= 2
  update.tok(SQLNWTETUpdate).mem("tbltst01").b2(10).b2(1).b4(2);
  update.tok(SQLNWTVEMultiply).col(2).tok(SQLNWTVERealConst).dbl(2.0);
  update.tok(SQLNWTSCGreaterThanOrEquals).b2(1).col(0).int_const(2);
  P d;
  d.table();
  P prep_q, att_q, exec_q, fetch_q, prep_u, att_u, exec_u;
  prep_q.stmt(70, SQLNWTPacketPrepare).ts.AppendTokenString(d.ts);
  att_q.stmt(70, SQLNWTPacketAttach).b4(kSession);
  exec_q.stmt(70, SQLNWTPacketExec);
  fetch_q.stmt(70, SQLNWTPacketFetch).b4(1);
  prep_u.stmt(71, SQLNWTPacketPrepare).ts.AppendTokenString(update.ts);
  att_u.stmt(71, SQLNWTPacketAttach).b4(kSession);
  exec_u.stmt(71, SQLNWTPacketExec);
  lock_failures_ = 1;
  std::vector<Reply> r = Send({&prep_q, &att_q, &exec_q, &fetch_q, &prep_u, &att_u, &exec_u, &fetch_q});
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].token, SQLNWTResultSet);
  ASSERT_EQ(r[1].token, SQLNWTDiagRec);
  Diag diag = ReadDiag(r[1]);
  EXPECT_EQ(diag.id, 71);
  EXPECT_EQ(diag.sqlstate, "QP999");
  EXPECT_EQ(r[2].token, SQLNWTResultSet);  // the query's next row after the refused UPDATE
  EXPECT_EQ(begins_, 1);
  r = Send({&exec_u});
  ASSERT_EQ(r.size(), 1u);
  ASSERT_EQ(r[0].token, SQLNWTNrRowsProcessed);
  r[0].packet->GetBs4();
  EXPECT_EQ(r[0].packet->GetBs4(), 2);
  EXPECT_EQ(begins_, 2);
  EXPECT_EQ(noted_, std::vector<std::string>{"tbltst01/10"});  // the UPDATE that ran, not the refused one

  Open(true);  // the agent forgets dictionaries until they are sent
  begins_ = 0;
  ASSERT_EQ(Run(72, update).at(0).token, SQLNWTMissingDDs);
  agent_->DictionaryArrived("tbltst01", 10);
  P resume, again;
  resume.tok(SQLNWTPacketForDriver).tok(SQLNWTHandlePendingPackets);
  again.stmt(72, SQLNWTPacketExec);
  r = Send({&resume, &again});
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].token, SQLNWTNrRowsProcessed);
  EXPECT_EQ(r[1].token, SQLNWTNrRowsProcessed);  // the kept batch, then the rest of the outer one
  EXPECT_EQ(begins_, 2);
  EXPECT_FALSE(agent_->holding());
}

// Joins of every type over the same table; the NULLs of the outer joins
// sort last ascending and first descending.
TEST_F(SqlAgentTest, JoinsAndNullOrdering) {
  struct Case {
    int type;
    bool descending;
    std::vector<std::string> rows;
  } cases[] = {
      {SQLNWTJoinTypeInner, false, {"1|2|", "2|3|"}},
      {SQLNWTJoinTypeLeft, false, {"1|2|", "2|3|", "3|NULL|"}},
      {SQLNWTJoinTypeRight, false, {"1|2|", "2|3|", "NULL|1|"}},
      {SQLNWTJoinTypeFull, true, {"NULL|1|", "3|NULL|", "2|3|", "1|2|"}},
  };
  int id = 100;
  for (const Case &c : cases) {
    // SELECT a.id, b.id FROM t a <join> t b ON a.id + 1 = b.id ORDER BY a.id
    P d;
    d.tok(SQLNWTRSSort).b2(1).b2(0).tok(c.descending ? SQLNWTDescending : SQLNWTAscending);
    d.tok(SQLNWTRSProject).b2(2).col(0).col(4);
    d.tok(SQLNWTRSJoin).tok(c.type).tok(SQLNWTSCEquals).b2(1).tok(SQLNWTVEAdd).col(0).int_const(1).col(4);
    d.table().table();
    Run(++id, d);
    std::vector<SQLColumnDescriptor> two = {SQLColumnDescriptor("", SQL_INTEGER, 4, 1),
                                            SQLColumnDescriptor("", SQL_INTEGER, 4, 1)};
    EXPECT_EQ(FetchAll(id, two, 10), c.rows) << c.type;
  }
}

// RIGHT joins reach SQLite as LEFT joins with their operands swapped: the
// system's SQLite loses rows of RIGHT JOIN in a compound and under a
// grouping on collated keys.
TEST_F(SqlAgentTest, RightJoinsAreWrittenAsLeftJoins) {
  auto sql = [&](const P &desc) {
    QueryDesc qd = ReadQueryDesc(desc.ts);
    SqlFunctionHost host;
    return TranslateDesc(qd, [this](const std::string &t, int c) { return catalog_.Find(t, c); }, &host)->sql;
  };
  // SELECT id FROM t WHERE price > 5 UNION ALL SELECT b.id FROM t a RIGHT JOIN t b ON a.id = b.id, sorted
  P compound;
  compound.tok(SQLNWTRSSort).b2(1).b2(0).tok(SQLNWTAscending).tok(SQLNWTRSUnion).b2(1);
  compound.tok(SQLNWTRSProject).b2(1).col(0).tok(SQLNWTRSFilter).tok(SQLNWTSCGreaterThan).b2(1).col(2).int_const(5);
  compound.table();
  compound.tok(SQLNWTRSProject).b2(1).col(4).tok(SQLNWTRSJoin).tok(SQLNWTJoinTypeRight);
  compound.tok(SQLNWTSCEquals).b2(1).col(0).col(4).table().table();
  EXPECT_EQ(sql(compound).find("RIGHT JOIN"), std::string::npos) << sql(compound);
  Run(130, compound);
  std::vector<SQLColumnDescriptor> one = {SQLColumnDescriptor("", SQL_INTEGER, 4, 1)};
  EXPECT_EQ(FetchAll(130, one, 10), (std::vector<std::string>{"1|", "2|", "2|", "3|"}));
  // SELECT b.name, MAX(a.id) FROM t a RIGHT JOIN t b ON a.name = b.name AND a.id > 1 GROUP BY b.name
  P grouped;
  grouped.tok(SQLNWTRSGroup).b2(1).b2(5).b2(2).tok(SQLNWTColumnId).b2(5).tok(SQLNWTMax).col(0);
  grouped.tok(SQLNWTRSJoin).tok(SQLNWTJoinTypeRight).tok(SQLNWTSCAnd).b2(2);
  grouped.tok(SQLNWTSCEquals).b2(1).col(1).col(5).tok(SQLNWTSCGreaterThan).b2(1).col(0).int_const(1);
  grouped.table().table();
  EXPECT_EQ(sql(grouped).find("RIGHT JOIN"), std::string::npos) << sql(grouped);
  Run(131, grouped);
  std::vector<SQLColumnDescriptor> g = {SQLColumnDescriptor("", SQL_STRING, 6, 1),
                                        SQLColumnDescriptor("", SQL_INTEGER, 4, 1)};
  EXPECT_EQ(FetchAll(131, g, 10), (std::vector<std::string>{"'ab    '|3|", "'ann   '|2|", "'bob   '|NULL|"}));
}

// UNION removes rows equal under the blank-padded comparison; UNION ALL
// keeps them; an INTEGER column united with a REAL one gives REAL.
TEST_F(SqlAgentTest, UnionsMergeByTheLibrarysEquality) {
  for (bool all : {false, true}) {
    P d;  // SELECT name FROM t WHERE id = 3 UNION SELECT 'ab' FROM t WHERE id = 1
    d.tok(SQLNWTRSUnion).b2(all ? 1 : 0);
    d.tok(SQLNWTRSProject)
        .b2(1)
        .col(1)
        .tok(SQLNWTRSFilter)
        .tok(SQLNWTSCEquals)
        .b2(1)
        .col(0)
        .int_const(3)
        .table();
    d.tok(SQLNWTRSProject)
        .b2(1)
        .str_const("ab")
        .tok(SQLNWTRSFilter)
        .tok(SQLNWTSCEquals)
        .b2(1)
        .col(0)
        .int_const(1)
        .table();
    int id = all ? 121 : 120;
    Run(id, d);
    EXPECT_EQ(FetchAll(id, {SQLColumnDescriptor("", SQL_STRING, 6, 1)}).size(), all ? 2u : 1u);
  }
  P mixed;  // SELECT id FROM t UNION SELECT price FROM t, sorted
  mixed.tok(SQLNWTRSSort).b2(1).b2(0).tok(SQLNWTAscending).tok(SQLNWTRSUnion).b2(0);
  mixed.tok(SQLNWTRSProject).b2(1).col(0).table().tok(SQLNWTRSProject).b2(1).col(2).table();
  Run(122, mixed);
  EXPECT_EQ(FetchAll(122, {SQLColumnDescriptor("", SQL_REAL, 8, 1)}, 10),
            (std::vector<std::string>{"-1.000000|", "1.000000|", "2.000000|", "2.500000|", "3.000000|",
                                      "10.000000|"}));
}

// Subqueries: a correlated EXISTS, IN with the library's NULL rule, and a
// constant outer join that yields one row of NULLs when nothing matches.
TEST_F(SqlAgentTest, SubqueriesAndConstantOuterJoin) {
  P exists;  // SELECT id FROM t a WHERE EXISTS (SELECT * FROM t b WHERE b.id = a.id + 1)
  exists.tok(SQLNWTRSProject).b2(1).col(0).tok(SQLNWTRSFilter).tok(SQLNWTSCExists);
  exists.tok(SQLNWTRSFilter)
      .tok(SQLNWTSCEquals)
      .b2(1)
      .col(0)
      .tok(SQLNWTVEAdd)
      .col(0, -1)
      .int_const(1)
      .table();
  exists.table();
  Run(130, exists);
  std::vector<SQLColumnDescriptor> one = {SQLColumnDescriptor("", SQL_INTEGER, 4, 1)};
  EXPECT_EQ(FetchAll(130, one, 10), (std::vector<std::string>{"1|", "2|"}));

  P in;  // SELECT id FROM t WHERE NOT (id IN (SELECT id - 2 FROM t))
  in.tok(SQLNWTRSProject).b2(1).col(0).tok(SQLNWTRSFilter).tok(SQLNWTSCNot).tok(SQLNWTSCInSubquery).col(0);
  in.tok(SQLNWTRSProject).b2(1).tok(SQLNWTVESubtract).col(0).int_const(2).table();
  in.table();
  Run(131, in);
  EXPECT_EQ(FetchAll(131, one, 10), (std::vector<std::string>{"2|", "3|"}));

  P outer;  // the constant outer join of t where id = 9: one row of NULLs
  outer.tok(SQLNWTRSProject).b2(2).col(0).col(1);
  outer.tok(SQLNWTRSConstLeftOuterJoin).tok(SQLNWTSCEquals).b2(1).col(0).int_const(9).table();
  Run(132, outer);
  EXPECT_EQ(
      FetchAll(132, {SQLColumnDescriptor("", SQL_INTEGER, 4, 1), SQLColumnDescriptor("", SQL_STRING, 6, 1)}),
      (std::vector<std::string>{"NULL|NULL|"}));

  P every;  // the constant outer join of t without a condition, as the library writes it: every row
  every.tok(SQLNWTRSProject).b2(1).col(0);
  every.tok(SQLNWTRSConstLeftOuterJoin).tok(SQLNWTNull).table();
  Run(133, every);
  EXPECT_EQ(FetchAll(133, one, 10), (std::vector<std::string>{"1|", "2|", "3|"}));
}

// String and raw operators run on the library's code: LIKE in both modes,
// TRIM, SUBSTR, RAW concatenation, casts and array comparison.
TEST_F(SqlAgentTest, StringRawArrayAndCastOperators) {
  struct Case {
    const char *name;
    std::function<void(P &)> cond;
    std::vector<std::string> ids;
  } cases[] = {
      {"ANSI LIKE with escape",
       [](P &p) { p.tok(SQLNWTSCLikeAnsi).col(1).str_const("a!%").str_const("!"); },
       {}},
      {"ANSI LIKE", [](P &p) { p.tok(SQLNWTSCLikeAnsi).col(1).str_const("_n%").tok(SQLNWTNull); }, {"2|"}},
      {"regular-expression LIKE", [](P &p) { p.tok(SQLNWTSCLikeRegexp).col(1).str_const("b.*"); }, {"1|"}},
      {"TRIM BOTH",
       [](P &p) {
         p.tok(SQLNWTSCEquals)
             .b2(1)
             .tok(SQLNWTVETrim)
             .tok(SQLNWTTrimBoth)
             .tok(SQLNWTNull)
             .col(1)
             .str_const("ab");
       },
       {"3|"}},
      {"SUBSTR",
       [](P &p) {
         p.tok(SQLNWTSCEquals).b2(1).tok(SQLNWTVESubstr).col(1).int_const(2).int_const(2).str_const("nn");
       },
       {"2|"}},
      {"RAW concatenation",
       [](P &p) {
         p.tok(SQLNWTSCEquals)
             .b2(1)
             .tok(SQLNWTVEConcatenate)
             .tok(SQLNWTVERawConst)
             .mem("a")
             .tok(SQLNWTVERawConst)
             .mem("b");
         p.tok(SQLNWTVERawConst).mem("ab");
       },
       {"1|", "2|", "3|"}},
      {"CAST to DATE",
       [](P &p) {
         p.tok(SQLNWTSCEquals)
             .b2(1)
             .tok(SQLNWTVEReinterpretCast)
             .tok(SQLNWTTypeDate)
             .col(0)
             .tok(SQLNWTVEDateConst)
             .b4(2);
       },
       {"2|"}},
      {"array equality",
       [](P &p) {
         p.tok(SQLNWTSCEquals)
             .b2(1)
             .col(3)
             .tok(SQLNWTVEParameterRef)
             .b4(900)
             .tok(SQLNWTTypeInteger)
             .b4(2)
             .b4(3);
       },
       {"2|"}},
      {"IN list", [](P &p) { p.tok(SQLNWTSCInSet).col(0).b2(2).int_const(3).int_const(1); }, {"1|", "3|"}},
      {"BETWEEN",
       [](P &p) { p.tok(SQLNWTSCBetween).b2(1).col(2).tok(SQLNWTVERealConst).dbl(0).int_const(5); },
       {"1|"}},
      {"IS NULL", [](P &p) { p.tok(SQLNWTSCIsNull).col(0); }, {}},
  };
  int id = 140;
  for (const Case &c : cases) {
    P d;
    d.tok(SQLNWTRSSort)
        .b2(1)
        .b2(0)
        .tok(SQLNWTAscending)
        .tok(SQLNWTRSProject)
        .b2(1)
        .col(0)
        .tok(SQLNWTRSFilter);
    c.cond(d);
    d.table();
    std::vector<Reply> r = Run(++id, d);
    ASSERT_TRUE(r.empty()) << c.name << ": " << (r.empty() ? "" : ReadDiag(r[0]).sqlstate);
    if (std::string(c.name) == "array equality") {
      P bind;  // the array parameter (4, 5, 6)
      bind.stmt(id, SQLNWTPacketBindParams).b4(1).b4(900).tok(SQLNWTTypeArray).b2(3);
      for (int v : {4, 5, 6}) bind.tok(SQLNWTTypeInteger).b4(v);
      P brk, exec;
      brk.stmt(id, SQLNWTPacketBreak);
      exec.stmt(id, SQLNWTPacketExec);
      ASSERT_TRUE(Send({&brk, &bind, &exec}).empty());
    }
    EXPECT_EQ(FetchAll(id, {SQLColumnDescriptor("", SQL_INTEGER, 4, 1)}, 10), c.ids) << c.name;
  }
}

TEST_F(SqlAgentTest, ParametersAndMaxRows) {
  P d;  // SELECT id FROM t WHERE id >= ?
  d.tok(SQLNWTRSProject).b2(1).col(0).tok(SQLNWTRSFilter).tok(SQLNWTSCGreaterThanOrEquals).b2(1).col(0);
  d.tok(SQLNWTVEParameterRef).b4(77).tok(SQLNWTTypeInteger).b4(0).b4(1).table();
  P prepare, attach, bind, rows, exec;
  prepare.stmt(150, SQLNWTPacketPrepare).ts.AppendTokenString(d.ts);
  attach.stmt(150, SQLNWTPacketAttach).b4(kSession);
  bind.stmt(150, SQLNWTPacketBindParams).b4(2).b4(77).tok(SQLNWTTypeInteger).b4(2).b4(12345).tok(SQLNWTNull);
  rows.stmt(150, SQLNWTPacketSetMaxRows).b4(1);
  exec.stmt(150, SQLNWTPacketExec);
  ASSERT_TRUE(Send({&prepare, &attach, &bind, &rows, &exec}).empty());
  std::vector<SQLColumnDescriptor> one = {SQLColumnDescriptor("", SQL_INTEGER, 4, 1)};
  EXPECT_EQ(FetchAll(150, one), (std::vector<std::string>{"2|"}));
  // A NULL parameter: the comparison is UNKNOWN for every row.
  P brk, null_bind, no_limit;
  brk.stmt(150, SQLNWTPacketBreak);
  null_bind.stmt(150, SQLNWTPacketBindParams).b4(1).b4(77).tok(SQLNWTNull);
  no_limit.stmt(150, SQLNWTPacketSetMaxRows).b4(0);
  ASSERT_TRUE(Send({&brk, &null_bind, &no_limit, &exec}).empty());
  EXPECT_TRUE(FetchAll(150, one).empty());
}

// A query past its deadline is stopped by SQLite's progress handler and
// answered with the library's time-out error.
TEST_F(SqlAgentTest, TimeOutStopsTheQuery) {
  Exec(
      "WITH RECURSIVE n(i) AS (SELECT 4 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
      "INSERT INTO tbltst01010 SELECT i, CAST('x     ' AS BLOB), 0.0, 0, 0, 0 FROM n");
  P d;  // COUNT(*) over a three-way cross join: far more than a second
  d.tok(SQLNWTRSGroup).b2(0).b2(1).tok(SQLNWTCountStar);
  d.tok(SQLNWTRSJoin).tok(SQLNWTJoinTypeInner).tok(SQLNWTNull);
  d.tok(SQLNWTRSJoin).tok(SQLNWTJoinTypeInner).tok(SQLNWTNull).table().table().table();
  P prepare, attach, timeout, exec;
  prepare.stmt(160, SQLNWTPacketPrepare).ts.AppendTokenString(d.ts);
  attach.stmt(160, SQLNWTPacketAttach).b4(kSession);
  timeout.stmt(160, SQLNWTPacketSetTimeOut).b4(1);
  exec.stmt(160, SQLNWTPacketExec);
  std::vector<Reply> r = Send({&prepare, &attach, &timeout, &exec});
  ASSERT_EQ(r.size(), 1u);
  ASSERT_EQ(r[0].token, SQLNWTDiagRec);
  Diag diag = ReadDiag(r[0]);
  EXPECT_EQ(diag.state, SQLNWTStmtAttached);
  EXPECT_EQ(diag.error, 313);
}

// Whatever bytes arrive, the agent answers (or passes over) and never
// stops: valid batches with random bytes changed, cut or repeated.
TEST_F(SqlAgentTest, MutatedBatchesNeverStopTheAgent) {
  std::vector<P> descriptions(4);
  descriptions[0].tok(SQLNWTRSSort).b2(1).b2(0).tok(SQLNWTDescending).tok(SQLNWTRSProject).b2(2);
  descriptions[0]
      .tok(SQLNWTVEMultiply)
      .col(0)
      .int_const(10)
      .tok(SQLNWTVEIndexing)
      .col(3)
      .int_const(2)
      .table();
  descriptions[1].tok(SQLNWTRSGroup).b2(1).b2(1).b2(3).tok(SQLNWTColumnId).b2(1).tok(SQLNWTSum).col(0);
  descriptions[1].tok(SQLNWTMin).col(1).table();
  descriptions[2]
      .tok(SQLNWTRSJoin)
      .tok(SQLNWTJoinTypeFull)
      .tok(SQLNWTSCLikeAnsi)
      .col(1)
      .col(5)
      .tok(SQLNWTNull);
  descriptions[2].table().table();
  descriptions[3]
      .tok(SQLNWTETUpdate)
      .mem("tbltst01")
      .b2(10)
      .b2(1)
      .b4(1)
      .tok(SQLNWTVESubstr)
      .col(1)
      .int_const(2);
  descriptions[3].tok(SQLNWTNull).tok(SQLNWTSCInSubquery).col(0).table();
  std::uint32_t seed = 12345;
  auto next = [&seed]() { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
  int id = 1000;
  for (int round = 0; round < 2000; ++round) {
    const P &d = descriptions[static_cast<std::size_t>(round) % descriptions.size()];
    P prepare, attach, exec, fetch;
    prepare.stmt(++id, SQLNWTPacketPrepare).ts.AppendTokenString(d.ts);
    attach.stmt(id, SQLNWTPacketAttach).b4(kSession);
    exec.stmt(id, SQLNWTPacketExec);
    fetch.stmt(id, SQLNWTPacketFetch).b4(3);
    std::vector<std::uint8_t> b = Buffer({&prepare, &attach, &exec, &fetch});
    switch (next() % 3) {
      case 0:  // change a few bytes
        for (int k = 0; k < 1 + static_cast<int>(next() % 4); ++k)
          b[next() % b.size()] = static_cast<std::uint8_t>(next());
        break;
      case 1:  // cut
        b.resize(next() % b.size());
        break;
      default:  // repeat a slice
        if (b.size() > 8) {
          std::size_t at = next() % (b.size() - 4);
          b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at),
                   b.begin() + static_cast<std::ptrdiff_t>(at + 4));
        }
    }
    std::vector<std::uint8_t> reply = agent_->HandleBatch(b.data(), b.size());
    Split(reply);  // whatever came back is well framed
  }
}

// Text content joins the lines of a text in one language in sequence
// order, strips the end of the last line, and is NULL without lines.
TEST_F(SqlAgentTest, TextContentJoinsTheLinesInSequence) {
  DdTableDesc txt;
  txt.name = "tttxt010";
  txt.columns = {{"clan", 1, 0, 6, 0, 1, {0, 0}},
                 {"ctxt", 4, 1, 3, 0, 1, {0, 0}},
                 {"seqe", 2, 5, 2, 0, 1, {0, 0}},
                 {"text", 4, 7, 6, 0, 1, {0, 0}}};
  std::string error;
  ASSERT_TRUE(catalog_.Add(db_, txt, 10, &error)) << error;
  Exec(
      "INSERT INTO tttxt010010 VALUES (CAST('e' AS BLOB), 1, 2, CAST('cd  ' AS BLOB)),"
      "(CAST('e' AS BLOB), 1, 1, CAST('ab  ' AS BLOB)), (CAST('e' AS BLOB), 1, 3, CAST('ef  ' AS BLOB)),"
      "(CAST('d' AS BLOB), 2, 1, CAST('nein' AS BLOB))");
  P d;  // SELECT id, text content of (id, 'e') FROM t ORDER BY id
  d.tok(SQLNWTRSSort).b2(1).b2(0).tok(SQLNWTAscending).tok(SQLNWTRSProject).b2(2).col(0);
  d.tok(SQLNWTVETextContent).col(0).str_const("e").b4(10).table();
  std::vector<Reply> r = Run(170, d);
  ASSERT_TRUE(r.empty()) << ReadDiag(r[0]).sqlstate;
  EXPECT_EQ(
      FetchAll(170, {SQLColumnDescriptor("", SQL_INTEGER, 4, 1), SQLColumnDescriptor("", SQL_STRING, 0, 1)},
               10),
      (std::vector<std::string>{"1|'ab  cd  ef'|", "2|NULL|", "3|NULL|"}));
}

// A session that ends closes the statements attached to it: they must be
// attached again before they run.
TEST_F(SqlAgentTest, EndedSessionClosesItsStatements) {
  P d;
  d.table();
  Run(180, d);
  agent_->SessionClosed(kSession);
  EXPECT_EQ(agent_->StateOf(180), kPrepared);
  P exec;
  exec.stmt(180, SQLNWTPacketExec);
  std::vector<Reply> r = Send({&exec});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(ReadDiag(r[0]).state, SQLNWTStmtPrepared);
}

// What SQLite's planner makes of translated descriptions: equalities and
// ranges on key columns, integer or text, search their index; a join on a
// text key searches the collated index of the inner table; a sort by a
// text key reads that index in order; a grouping by a text key walks its
// index only where the query reads the key alone, and else sorts.
TEST_F(SqlAgentTest, KeyConditionsJoinsAndSortsUseTheIndexes) {
  ASSERT_TRUE(InstallTssCollation(db_));
  DdTableDesc dep;
  dep.name = "tbldep01";
  dep.columns = {{"code", 4, 0, 6, 0, 1, {0, 0}}, {"title", 8, 4, 6, 0, 1, {0, 0}}};
  dep.keys = {{1, 0, 0, {0}}};
  std::string error;
  ASSERT_TRUE(catalog_.Add(db_, dep, 10, &error)) << error;
  SqlFunctionHost host;
  ASSERT_TRUE(host.Install(db_));
  auto plan = [&](const P &desc) {
    QueryDesc qd = ReadQueryDesc(desc.ts);
    auto tr = TranslateDesc(
        qd, [this](const std::string &t, int c) { return catalog_.Find(t, c); }, &host);
    sqlite3_stmt *stmt = nullptr;
    std::string text;
    EXPECT_EQ(sqlite3_prepare_v2(db_, ("EXPLAIN QUERY PLAN " + tr->sql).c_str(), -1, &stmt, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db_) << "\n"
        << tr->sql;
    while (sqlite3_step(stmt) == SQLITE_ROW)
      text += std::string(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 3))) + "; ";
    sqlite3_finalize(stmt);
    return text;
  };
  P keyed;
  keyed.tok(SQLNWTRSFilter).tok(SQLNWTSCEquals).b2(1).col(0).int_const(2).table();
  EXPECT_NE(plan(keyed).find("USING INDEX tbltst01010_i1 (id=?)"), std::string::npos) << plan(keyed);
  P range;
  range.tok(SQLNWTRSFilter).tok(SQLNWTSCBetween).b2(1).col(0).str_const("a").str_const("m").table("tbldep01");
  EXPECT_NE(plan(range).find("SEARCH t1 USING INDEX tbldep01010_i1 (<expr>>? AND <expr><?)"),
            std::string::npos)
      << plan(range);
  P join;
  join.tok(SQLNWTRSJoin)
      .tok(SQLNWTJoinTypeInner)
      .tok(SQLNWTSCEquals)
      .b2(1)
      .col(1)
      .col(4)
      .table()
      .table("tbldep01");
  EXPECT_NE(plan(join).find("SEARCH t2 USING INDEX tbldep01010_i1 (<expr>=?)"), std::string::npos)
      << plan(join);
  P left;
  left.tok(SQLNWTRSJoin)
      .tok(SQLNWTJoinTypeLeft)
      .tok(SQLNWTSCEquals)
      .b2(1)
      .col(1)
      .col(4)
      .table()
      .table("tbldep01");
  EXPECT_NE(plan(left).find("SEARCH t2 USING INDEX tbldep01010_i1 (<expr>=?)"), std::string::npos)
      << plan(left);
  // A WHERE on the NULL side of a LEFT join in integer arithmetic: SQLite
  // sees that it rejects the NULL row and reads the filtered table first.
  P arithmetic;
  arithmetic.tok(SQLNWTRSFilter).tok(SQLNWTSCEquals).b2(1).tok(SQLNWTVEAdd).col(4).int_const(1).int_const(3);
  arithmetic.tok(SQLNWTRSJoin).tok(SQLNWTJoinTypeLeft).tok(SQLNWTSCEquals).b2(1).col(1).col(5).table().table();
  std::string const driven = plan(arithmetic);
  EXPECT_EQ(driven.rfind("SCAN t2", 0), 0u) << driven;
  // A join that looks a department up by its unique key, a condition on
  // the department alone and a correlated NOT EXISTS over the other
  // table's row: SQLite reads the departments first and seeks the
  // employees of each by their index, so that a condition that no
  // department meets spares the employees and the subquery.
  DdTableDesc emp;
  emp.name = "tblemp01";
  emp.columns = {{"id", 4, 0, 3, 0, 1, {0, 0}}, {"dept", 4, 4, 6, 0, 1, {0, 0}}};
  emp.keys = {{1, 0, 0, {0}}, {2, 1, 0, {1}}};
  ASSERT_TRUE(catalog_.Add(db_, emp, 10, &error)) << error;
  for (bool isNull : {true, false}) {
    P cheap;  // t1 JOIN t2 ON t1.dept = t2.code WHERE <t2.title> AND NOT EXISTS (... t3.id < t1.id)
    cheap.tok(SQLNWTRSFilter).tok(SQLNWTSCAnd).b2(2);
    if (isNull)
      cheap.tok(SQLNWTSCIsNull).col(3);
    else
      cheap.tok(SQLNWTSCEquals).b2(1).col(3).str_const("x");
    cheap.tok(SQLNWTSCNot).tok(SQLNWTSCExists);
    cheap.tok(SQLNWTRSFilter).tok(SQLNWTSCLessThan).b2(1).col(0).col(0, -1).table("tblemp01");
    cheap.tok(SQLNWTRSJoin).tok(SQLNWTJoinTypeInner).tok(SQLNWTSCEquals).b2(1).col(1).col(2);
    cheap.table("tblemp01").table("tbldep01");
    std::string const order = plan(cheap);
    EXPECT_EQ(order.rfind("SCAN t2", 0), 0u) << order;
    EXPECT_NE(order.find("SEARCH t1 USING INDEX tblemp01010_i2"), std::string::npos) << order;
  }
  // A WHERE conjunct on one table of an INNER join that can fail (its
  // product can leave the INTEGER range) and holds for no row: SQLite drops
  // each row at the table's own loop, instead of joining it with every row
  // of the other (all prices are equal) to test it on the joined rows.
  Exec("WITH RECURSIVE n(i) AS (SELECT 4 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
       "INSERT INTO tbltst01010 SELECT i, CAST('x     ' AS BLOB), 0.0, 0, 0, 0 FROM n");
  Exec("UPDATE tbltst01010 SET price = 0.0");
  auto steps = [&](const P &desc) {
    QueryDesc qd = ReadQueryDesc(desc.ts);
    auto tr = TranslateDesc(
        qd, [this](const std::string &t, int c) { return catalog_.Find(t, c); }, &host);
    sqlite3_stmt *stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, tr->sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << tr->sql;
    int rows = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) ++rows;
    EXPECT_EQ(rows, 0) << tr->sql;
    int const n = sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_VM_STEP, 0);
    sqlite3_finalize(stmt);
    return n;
  };
  for (int side : {0, 4}) {
    P failing;
    failing.tok(SQLNWTRSFilter).tok(SQLNWTSCLessThan).b2(1).tok(SQLNWTVEMultiply).col(side).int_const(1000).int_const(0);
    failing.tok(SQLNWTRSJoin).tok(SQLNWTJoinTypeInner).tok(SQLNWTSCEquals).b2(1).col(2).col(6).table().table();
    EXPECT_LT(steps(failing), 100000) << "the failing conjunct on the side of column " << side;
  }
  P sorted;
  sorted.tok(SQLNWTRSSort).b2(1).b2(0).tok(SQLNWTAscending).table("tbldep01");
  EXPECT_EQ(plan(sorted), "SCAN t1 USING INDEX tbldep01010_i1; ");
  struct Grouping {
    const char *name;
    bool filtered;       // WHERE title = 'x'
    bool readsTitle;     // MIN(title) beside COUNT(*)
    bool walksTheIndex;  // else scans and sorts
  } const groupings[] = {{"COUNT of the keys", false, false, true},
                         {"MIN of another column", false, true, false},
                         {"WHERE on another column", true, false, false}};
  for (const Grouping &g : groupings) {
    P grouped;
    grouped.tok(SQLNWTRSGroup).b2(1).b2(0).b2(g.readsTitle ? 3 : 2).tok(SQLNWTColumnId).b2(0).tok(SQLNWTCountStar);
    if (g.readsTitle) grouped.tok(SQLNWTMin).col(1);
    if (g.filtered) grouped.tok(SQLNWTRSFilter).tok(SQLNWTSCEquals).b2(1).col(1).str_const("x");
    grouped.table("tbldep01");
    std::string text = plan(grouped);
    EXPECT_EQ(text.find("TEMP B-TREE") == std::string::npos, g.walksTheIndex) << g.name << ": " << text;
  }
}

}  // namespace
