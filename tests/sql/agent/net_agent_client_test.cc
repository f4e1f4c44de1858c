// The agent client against a scripted peer: the bytes it sends through the
// carrier are checked, and the peer's replies go back through the packet
// handler exactly as the database client hands them over.
#include "sql/agent/net_agent_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "dbc/request/request_block.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_server.h"
#include "platform/clock.h"
#include "molvane/zdb.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/sql_exception.h"
#include "sql/common/sql_parameter.h"
#include "sql/common/sql_state.h"
#include "sql/common/value_store.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes BytesOf(SQLTokenString const &ts) {
  unsigned char const *b;
  int n;
  ts.GetString(b, n);
  return Bytes(b, b + n);
}

// A buffer of packets, each a bs4 length and the packet.
class Packets {
 public:
  Packets &Add(SQLTokenString const &packet) {
    buf_.AppendBs4(packet.Length());
    buf_.AppendTokenString(packet);
    return *this;
  }
  Bytes Get() const { return BytesOf(buf_); }

 private:
  SQLTokenString buf_{20};
};

SQLTokenString &Stmt(SQLTokenString &ts, unsigned long id, SQLNWToken op) {
  ts.AppendToken(SQLNWTPacketForStmt);
  ts.AppendBs4(static_cast<std::int32_t>(id));
  ts.AppendToken(op);
  return ts;
}

// The scripted peer.
struct Peer {
  std::vector<Bytes> sent;             // every exchange, in order
  std::deque<Bytes> replies;           // the reply of each exchange
  std::vector<Bytes> ddRequests;       // entries of each dictionary delivery
  int flushes = 0;
  int failExchange = 0;                // this exchange (1, 2, ...) takes the batch, then fails
  ZDB_SERVER *nextServer = nullptr;
  ZDB_SESSION *nextSession = nullptr;
};
Peer *g_peer = nullptr;

int PeerGetServer(DRIVER_SPEC *, int, ZDB_SESSION **session, ZDB_SERVER **server) {
  *session = g_peer->nextSession;
  *server = g_peer->nextServer;
  return 0;
}
int PeerFlush(ZDB_SESSION *) { return ++g_peer->flushes, 0; }
int PeerCommu(ZDB_SERVER *, char const *bytes, std::uint32_t length) {
  g_peer->sent.emplace_back(bytes, bytes + length);
  if (static_cast<int>(g_peer->sent.size()) == g_peer->failExchange) {
    zdb_errno = ZE_MEMORY;  // the batch went out, its reply was not taken
    return -1;
  }
  Bytes reply;
  if (!g_peer->replies.empty()) {
    reply = std::move(g_peer->replies.front());
    g_peer->replies.pop_front();
  }
  ZDB_REQUEST req;
  req.sql.reply = reinterpret_cast<char *>(reply.data());
  req.sql.length = static_cast<std::uint32_t>(reply.size());
  return SQLNetAgentClientPacketsHandler(&req) < 0 ? -1 : 0;
}
int PeerSendDDs(ZDB_SESSION *, std::uint32_t n, unsigned char const *entries) {
  g_peer->ddRequests.emplace_back(entries, entries + n * 10);
  return 0;
}
std::uint32_t PeerServerNumber(ZDB_SERVER const *s) { return s->number; }
std::uint32_t PeerSessionId(ZDB_SESSION const *s) { return s->server_session_id; }
ZDB_SERVER *PeerServerOf(ZDB_SESSION const *s) { return s->server; }

SQLAgentCarrier const kPeerCarrier = {PeerGetServer, PeerFlush,        PeerCommu,   PeerSendDDs,
                                      PeerServerNumber, PeerSessionId, PeerServerOf};

class AgentClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_peer = &peer_;
    SQLNetAgentClient::SetCarrier(&kPeerCarrier);
    for (int i = 0; i < 2; ++i) {
      servers_[i].number = 7 + static_cast<std::uint32_t>(i);
      sessions_[i].server = &servers_[i];
      sessions_[i].server_session_id = 40 + static_cast<std::uint32_t>(i);
    }
    Use(0);
    client_ = SQLNetAgentClient::Instance();
    stores_[0] = &a_;
    stores_[1] = &b_;
  }
  void TearDown() override {
    SQLNetAgentClient::DeleteInstance();
    SQLNetAgentClient::SetCarrier(nullptr);
    g_peer = nullptr;
  }
  void Use(int i) {
    peer_.nextServer = &servers_[i];
    peer_.nextSession = &sessions_[i];
  }
  // A query over a table, attached, with two INTEGER/STRING output columns.
  unsigned long NewQuery(int bufferSize = 5) {
    SQLTokenString desc(20);
    desc.AppendToken(SQLNWTRSTable);
    unsigned long id = client_->Prepare(desc);
    client_->Attach(id, 1, instance_);
    client_->BindOutput(id, 2, stores_, descs_);
    client_->SetBufferSize(id, bufferSize);
    return id;
  }
  // A result set of rows (a, "b<a>") for the two output columns.
  static Bytes RowSet(unsigned long id, int first, int rows) {
    SQLTokenString p(20);
    p.AppendToken(SQLNWTResultSet);
    p.AppendBs4(static_cast<std::int32_t>(id));
    p.AppendBs4(rows);
    for (int r = first; r < first + rows; ++r) {
      unsigned char codes = 0xA0;  // both columns: a value follows
      p.AppendMemory(&codes, 1);
      p.AppendBs4(r);
      std::string s = "b" + std::to_string(r);
      p.AppendMemory(s.data(), static_cast<int>(s.size()));
    }
    return Packets().Add(p).Get();
  }
  static SQLTokenString &Reply(SQLTokenString &p, SQLNWToken token, unsigned long id) {
    p.AppendToken(token);
    p.AppendBs4(static_cast<std::int32_t>(id));
    return p;
  }
  static Bytes EndOfSet(unsigned long id) {
    SQLTokenString p(20);
    return Packets().Add(Reply(p, SQLNWTEndOfSet, id)).Get();
  }

  Peer peer_;
  ZDB_SERVER servers_[2];
  ZDB_SESSION sessions_[2];
  DRIVER_SPEC *instance_ = nullptr;  // the peer ignores the driver group
  SQLNetAgentClient *client_ = nullptr;
  SQLValueStore a_, b_;
  SQLValueStore *stores_[2];
  SQLColumnDescriptor da_{"a", SQL_INTEGER, 4, 1}, db_{"b", SQL_STRING, 10, 1};
  SQLColumnDescriptor const *descs_[2] = {&da_, &db_};
};

TEST_F(AgentClientTest, FirstFetchSendsTheWholeBatchInOneExchange) {
  SQLTokenString desc(20);
  desc.AppendToken(SQLNWTRSTable);
  unsigned long id = client_->Prepare(desc);
  client_->Attach(id, 1, instance_);
  // A new server learns the language level first, alone.
  ASSERT_EQ(peer_.sent.size(), 1u);
  EXPECT_EQ(peer_.sent[0], (Bytes{3, 11, 0, 0, 0, 7, 3, 0, 7, 7, 0, 3, 1, 0, 0, 0}));

  client_->BindOutput(id, 2, stores_, descs_);
  SQLParameter p1, p2;
  p1.SetType(SQL_INTEGER, 4, 1);
  p1.BindInteger(-2);
  p2.SetType(SQL_STRING, 5, 1);
  p2.SetNull();
  pconstSQLParameterList params;
  params.Append(&p1);
  params.Append(&p2);
  client_->BindParams(id, &params);
  client_->SetMaxRows(id, 100);
  EXPECT_EQ(client_->Exec(id), 0);
  EXPECT_EQ(peer_.sent.size(), 1u);  // Exec of a query sends nothing

  peer_.replies.push_back(RowSet(id, 1, 2));
  ASSERT_EQ(client_->Fetch(id), 1);
  ASSERT_EQ(peer_.sent.size(), 2u);

  Packets expected;
  {
    SQLTokenString prep(20), att(20), bind(20), max(20), exec(20), fetch(20);
    Stmt(prep, id, SQLNWTPacketPrepare).AppendToken(SQLNWTRSTable);
    Stmt(att, id, SQLNWTPacketAttach).AppendBs4(40);
    Stmt(bind, id, SQLNWTPacketBindParams).AppendBs4(2);
    bind.AppendBs4(static_cast<std::int32_t>(p1.GetId()));
    bind.AppendToken(SQLNWTTypeInteger);
    bind.AppendBs4(-2);
    bind.AppendBs4(static_cast<std::int32_t>(p2.GetId()));
    bind.AppendToken(SQLNWTNull);
    Stmt(max, id, SQLNWTPacketSetMaxRows).AppendBs4(100);
    Stmt(exec, id, SQLNWTPacketExec);
    Stmt(fetch, id, SQLNWTPacketFetch).AppendBs4(5);
    expected.Add(prep).Add(att).Add(bind).Add(max).Add(exec).Add(fetch);
  }
  EXPECT_EQ(peer_.sent[1], expected.Get());
  EXPECT_EQ(peer_.flushes, 1);  // buffered updates go first
  EXPECT_EQ(a_.GetInteger(), 1);
  EXPECT_EQ(std::string(b_.GetString(), b_.GetLength()), "b1");
  EXPECT_EQ(client_->GetState(id), 3);
}

TEST_F(AgentClientTest, RowsComeFromTheSetUntilItIsUsedUp) {
  unsigned long id = NewQuery();
  client_->Exec(id);
  peer_.replies.push_back(RowSet(id, 1, 5));
  for (int r = 1; r <= 5; ++r) {
    ASSERT_EQ(client_->Fetch(id), 1);
    EXPECT_EQ(a_.GetInteger(), r);
  }
  EXPECT_EQ(peer_.sent.size(), 2u);
  peer_.replies.push_back(EndOfSet(id));
  EXPECT_EQ(client_->Fetch(id), 0);
  // An executed statement asks only for the next rows.
  SQLTokenString fetch(20);
  Stmt(fetch, id, SQLNWTPacketFetch).AppendBs4(5);
  EXPECT_EQ(peer_.sent.back(), Packets().Add(fetch).Get());
}

TEST_F(AgentClientTest, EmptyResultSetIsPassedOver) {
  unsigned long id = NewQuery();
  Bytes both = RowSet(id, 1, 0);
  Bytes end = EndOfSet(id);
  both.insert(both.end(), end.begin(), end.end());
  peer_.replies.push_back(both);
  EXPECT_EQ(client_->Fetch(id), 0);
}

TEST_F(AgentClientTest, SkipRowsUsesTheSetThenAsksTheAgent) {
  unsigned long id = NewQuery();
  peer_.replies.push_back(RowSet(id, 1, 5));
  ASSERT_EQ(client_->Fetch(id), 1);
  ASSERT_EQ(client_->Fetch(id), 1);
  SQLTokenString done(20);
  Reply(done, SQLNWTNrRowsProcessed, id).AppendBs4(7);
  peer_.replies.push_back(Packets().Add(done).Get());
  EXPECT_EQ(client_->SkipRows(id, 10), 10);
  SQLTokenString skip(20);
  Stmt(skip, id, SQLNWTPacketSkipRows).AppendBs4(7);
  skip.AppendBs4(5);
  EXPECT_EQ(peer_.sent.back(), Packets().Add(skip).Get());
}

TEST_F(AgentClientTest, RowCodesNullValueAndKeep) {
  SQLValueStore s[6];
  SQLValueStore *stores[6];
  SQLColumnDescriptor c0{"c0", SQL_INTEGER, 4, 1}, c1{"c1", SQL_REAL, 8, 1},
      c2{"c2", SQL_DATE, 4, 1}, c3{"c3", SQL_RAW, 4, 1}, c4{"c4", SQL_TIMESTAMP, 8, 1},
      c5{"c5", SQL_INTEGER, 4, 3};
  SQLColumnDescriptor const *d[6] = {&c0, &c1, &c2, &c3, &c4, &c5};
  for (int i = 0; i < 6; ++i) stores[i] = &s[i];
  SQLNetWorkRowSetRowExtractor x(6, stores, d);
  EXPECT_EQ(s[5].GetDimension(), 3);
  s[2].SetDate(99);
  s[4].SetTimestamp(5);
  SQLTokenString set(20);
  set.AppendToken(SQLNWTResultSet);
  set.AppendBs4(1);
  set.AppendBs4(2);
  unsigned char row1[2] = {0x62, 0x40};  // NULL, value, keep, value, NULL, keep
  set.AppendMemory(row1, 2);
  set.AppendDouble(2.5);
  set.AppendMemory("\x01\x02", 2);
  unsigned char row2[2] = {0x00, 0x20};  // only the array column, every element
  set.AppendMemory(row2, 2);
  for (int e = 0; e < 3; ++e) set.AppendBs4(10 + e);
  x.DefineRowSet(set);
  ASSERT_TRUE(x.Fetch());
  EXPECT_TRUE(s[0].IsNull());
  EXPECT_EQ(s[0].GetType(), SQL_INTEGER);  // a NULL before any value is typed
  EXPECT_EQ(s[1].GetReal(), 2.5);
  EXPECT_EQ(s[2].GetDate(), 99);
  EXPECT_EQ(s[3].GetLength(), 2u);
  EXPECT_TRUE(s[4].IsNull());
  ASSERT_TRUE(x.Fetch());
  EXPECT_EQ(s[5].GetElement(2)->GetInteger(), 12);
  EXPECT_FALSE(x.Fetch());
}

TEST_F(AgentClientTest, MissingDictionariesAreDeliveredBeforeTheRestIsRead) {
  unsigned long id = NewQuery();
  SQLTokenString dd(20);
  dd.AppendToken(SQLNWTMissingDDs);
  dd.AppendBs2(2);
  dd.AppendMemory("exdep010", 8);
  dd.AppendBs2(0x0102);
  dd.AppendMemory("abc", 3);  // shorter names are padded
  dd.AppendBs2(-1);
  // The rows answer the pending request and arrive through a nested call,
  // before the rest of the first reply is read.
  Bytes first = Packets().Add(dd).Get();
  Bytes end = EndOfSet(id);
  first.insert(first.end(), end.begin(), end.end());
  peer_.replies.push_back(first);
  peer_.replies.push_back(RowSet(id, 3, 1));
  ASSERT_EQ(client_->Fetch(id), 1);
  EXPECT_EQ(a_.GetInteger(), 3);
  ASSERT_EQ(peer_.ddRequests.size(), 1u);
  EXPECT_EQ(peer_.ddRequests[0], (Bytes{'e', 'x', 'd', 'e', 'p', '0', '1', '0', 1, 2,
                                        'a', 'b', 'c', 0, 0, 0, 0, 0, 0xFF, 0xFF}));
  SQLTokenString pending(20);
  pending.AppendToken(SQLNWTPacketForDriver);
  pending.AppendToken(SQLNWTHandlePendingPackets);
  ASSERT_EQ(peer_.sent.size(), 3u);
  EXPECT_EQ(peer_.sent[2], Packets().Add(pending).Get());
  EXPECT_EQ(client_->Fetch(id), 0);  // the rest of the first reply
  EXPECT_EQ(peer_.sent.size(), 3u);
}

TEST_F(AgentClientTest, DiagnosticRecordSetsTheStateAndThrows) {
  unsigned long id = NewQuery();
  SQLTokenString diag(20);
  Reply(diag, SQLNWTDiagRec, id).AppendToken(SQLNWTStmtAttached);
  diag.AppendMemory("42S02", 5);
  diag.AppendBs4(-204);
  diag.AppendMemory("no such table", 13);
  peer_.replies.push_back(Packets().Add(diag).Get());
  try {
    client_->Fetch(id);
    FAIL() << "no exception";
  } catch (SQLException const &e) {
    EXPECT_STREQ(e.GetSQLState(), "42S02");
    EXPECT_EQ(e.GetZDBError(), -204);
  }
  EXPECT_EQ(client_->GetState(id), 2);
}

TEST_F(AgentClientTest, BreakCloseAndDestroyWaitForTheNextExchange) {
  unsigned long id = NewQuery();
  peer_.replies.push_back(RowSet(id, 1, 5));
  client_->Fetch(id);
  client_->Close(id);  // executed: nothing to close yet
  EXPECT_EQ(client_->GetState(id), 3);
  client_->Break(id);
  EXPECT_EQ(client_->GetState(id), 2);
  client_->Close(id);
  EXPECT_EQ(client_->GetState(id), 1);
  size_t before = peer_.sent.size();
  client_->Destroy(id);
  EXPECT_EQ(peer_.sent.size(), before);
  EXPECT_EQ(SQLNetAgentClientEndSession(&sessions_[0]), 0);
  SQLTokenString brk(20), cls(20), dst(20);
  Stmt(brk, id, SQLNWTPacketBreak);
  Stmt(cls, id, SQLNWTPacketClose);
  Stmt(dst, id, SQLNWTPacketDestroy);
  EXPECT_EQ(peer_.sent.back(), Packets().Add(brk).Add(cls).Add(dst).Get());
}

TEST_F(AgentClientTest, EndServerDestroysItsStatementsAndForgetsTheBuffer) {
  unsigned long executed = NewQuery();
  peer_.replies.push_back(RowSet(executed, 1, 1));
  client_->Fetch(executed);
  unsigned long fresh = NewQuery();  // attached, not yet created at the agent
  SQLNetAgentClientEndServer(&servers_[0]);
  SQLTokenString dst(20);
  Stmt(dst, executed, SQLNWTPacketDestroy);
  EXPECT_EQ(peer_.sent.back(), Packets().Add(dst).Get());
  EXPECT_EQ(client_->GetState(executed), 0);
  // Both attach again to a new buffer (a fresh language-level exchange).
  size_t before = peer_.sent.size();
  client_->Attach(fresh, 1, instance_);
  EXPECT_EQ(peer_.sent.size(), before + 1);
  peer_.replies.push_back(EndOfSet(fresh));
  EXPECT_EQ(client_->Fetch(fresh), 0);
}

TEST_F(AgentClientTest, AttachToAnotherServerDestroysTheOldStatement) {
  unsigned long id = NewQuery();
  peer_.replies.push_back(RowSet(id, 1, 1));
  client_->Fetch(id);
  client_->Break(id);
  Use(1);
  client_->Attach(id, 1, instance_);
  EXPECT_EQ(client_->GetState(id), 0);
  SQLNetAgentClientEndSession(&sessions_[0]);
  SQLTokenString brk(20), dst(20);
  Stmt(brk, id, SQLNWTPacketBreak);
  Stmt(dst, id, SQLNWTPacketDestroy);
  EXPECT_EQ(peer_.sent.back(), Packets().Add(brk).Add(dst).Get());
}

// The time-out travels as the seconds left, at least 1; rows per fetch
// default to the rds_full setting.
TEST_F(AgentClientTest, TimeOutSendsTheSecondsLeft) {
  struct Case {
    long offset;  // deadline relative to now, in milliseconds
    int low, high;
  } const cases[] = {{30000, 29, 30}, {1500, 1, 2}, {-100000, 1, 1}};
  for (Case const &c : cases) {
    unsigned long id = NewQuery(0);
    client_->SetTimeOut(id, static_cast<long>(al_steady_ms()) + c.offset);
    peer_.replies.push_back(EndOfSet(id));
    EXPECT_EQ(client_->Fetch(id), 0);
    SQLTokenString const sent(peer_.sent.back().data(), static_cast<int>(peer_.sent.back().size()));
    auto skipPacket = [&sent] {
      int length = sent.GetBs4();
      sent.SetReadOffset(sent.GetReadOffset() + length);
    };
    // prepare, attach, time-out, exec, fetch
    skipPacket();
    skipPacket();
    sent.GetBs4();
    sent.GetToken();
    sent.GetBs4();
    EXPECT_EQ(sent.GetToken(), SQLNWTPacketSetTimeOut);
    int left = sent.GetBs4();
    EXPECT_GE(left, c.low);
    EXPECT_LE(left, c.high);
    skipPacket();  // exec
    sent.GetBs4();
    sent.GetToken();
    sent.GetBs4();
    EXPECT_EQ(sent.GetToken(), SQLNWTPacketFetch);
    EXPECT_EQ(sent.GetBs4(), 5);
  }
}

TEST_F(AgentClientTest, DeleteExecWaitsForTheRowCount) {
  SQLTokenString desc(20);
  desc.AppendToken(SQLNWTETDelete);
  unsigned long id = client_->Prepare(desc);
  client_->Attach(id, 1, instance_);
  SQLTokenString done(20);
  Reply(done, SQLNWTNrRowsProcessed, id).AppendBs4(12);
  peer_.replies.push_back(Packets().Add(done).Get());
  EXPECT_EQ(client_->Exec(id), 12);
  EXPECT_EQ(client_->GetState(id), 2);
}

// Every execution of a DELETE sends exactly the parameters bound for it.
TEST_F(AgentClientTest, EachDeleteExecSendsOnlyItsOwnParameters) {
  SQLTokenString desc(20);
  desc.AppendToken(SQLNWTETDelete);
  unsigned long id = client_->Prepare(desc);
  client_->Attach(id, 1, instance_);
  SQLParameter p;
  p.SetType(SQL_INTEGER, 4, 1);
  for (int run = 1; run <= 3; ++run) {
    p.BindInteger(run);
    client_->BindParam(id, &p);
    SQLTokenString done(20);
    Reply(done, SQLNWTNrRowsProcessed, id).AppendBs4(run);
    peer_.replies.push_back(Packets().Add(done).Get());
    EXPECT_EQ(client_->Exec(id), run);
    SQLTokenString bind(20);
    Stmt(bind, id, SQLNWTPacketBindParams).AppendBs4(1);
    bind.AppendBs4(static_cast<std::int32_t>(p.GetId()));
    bind.AppendToken(SQLNWTTypeInteger);
    bind.AppendBs4(run);
    SQLTokenString exec(20);
    Stmt(exec, id, SQLNWTPacketExec);
    Bytes tail = Packets().Add(bind).Add(exec).Get();
    Bytes const &sent = peer_.sent.back();
    ASSERT_GE(sent.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), sent.end() - static_cast<long>(tail.size()))) << run;
  }
}

// A query executed again without a Break stops its open result first.
TEST_F(AgentClientTest, SecondExecBreaksTheOpenResult) {
  unsigned long id = NewQuery();
  EXPECT_EQ(client_->Exec(id), 0);
  peer_.replies.push_back(RowSet(id, 1, 3));
  ASSERT_EQ(client_->Fetch(id), 1);
  EXPECT_EQ(client_->Exec(id), 0);  // no Break in between
  EXPECT_EQ(client_->GetState(id), 2);
  peer_.replies.push_back(RowSet(id, 7, 1));
  ASSERT_EQ(client_->Fetch(id), 1);
  EXPECT_EQ(a_.GetInteger(), 7);  // rows of the new execution, not the old set
  SQLTokenString brk(20), exec(20), fetch(20);
  Stmt(brk, id, SQLNWTPacketBreak);
  Stmt(exec, id, SQLNWTPacketExec);
  Stmt(fetch, id, SQLNWTPacketFetch).AppendBs4(5);
  EXPECT_EQ(peer_.sent.back(), Packets().Add(brk).Add(exec).Add(fetch).Get());
}

// After its server went, a statement raises an error instead of stopping.
TEST_F(AgentClientTest, OperationsAfterEndServerRaiseAnError) {
  unsigned long query = NewQuery();
  SQLTokenString desc(20);
  desc.AppendToken(SQLNWTETUpdate);
  unsigned long update = client_->Prepare(desc);
  client_->Attach(update, 1, instance_);
  SQLNetAgentClientEndServer(&servers_[0]);
  auto expectError = [](auto const &operation) {
    try {
      operation();
      ADD_FAILURE() << "no error";
    } catch (SQLExZDBError const &e) {
      EXPECT_EQ(e.GetZDBError(), ZE_INVALID_SESSION);
    }
  };
  expectError([&] { client_->Exec(update); });
  expectError([&] { client_->Exec(query); });
  expectError([&] { client_->Fetch(query); });
  expectError([&] { client_->SkipRows(query, 2); });
}

TEST_F(AgentClientTest, ArrayAndStringParametersAreTypedValues) {
  SQLTokenString ts(20);
  SQLValueStore arr;
  arr.SetDimension(2);
  arr.GetElement(0)->SetString("ab");
  arr.GetElement(1)->SetNull();
  SQLAppendNetWorkValue(ts, &arr);
  EXPECT_EQ(BytesOf(ts), (Bytes{7, 110, 0, 2, 2, 0, 7, 101, 0, 6, 2, 0, 'a', 'b', 7, 40, 0}));
}

// Malformed replies are refused with a protocol error, never a crash.
struct BadReply {
  char const *name;
  Bytes (*make)(unsigned long id);
};

Bytes Raw(std::initializer_list<unsigned char> b) { return Bytes(b); }

// Starts a result set of the statement holding one row of a string and an
// integer column (codes 0xA0); the values are still to be appended.
void StartOneRowSet(SQLTokenString *p, unsigned long id) {
  p->AppendToken(SQLNWTResultSet);
  p->AppendBs4(static_cast<std::int32_t>(id));
  p->AppendBs4(1);
  unsigned char codes = 0xA0;
  p->AppendMemory(&codes, 1);
}

class MalformedReply : public AgentClientTest, public ::testing::WithParamInterface<BadReply> {};

TEST_P(MalformedReply, IsAProtocolError) {
  unsigned long id = NewQuery();
  peer_.replies.push_back(GetParam().make(id));
  try {
    client_->Fetch(id);
    FAIL() << "accepted";
  } catch (SQLException const &e) {
    EXPECT_TRUE(e.GetZDBError() == ZE_SQL_PROTOCOL || e.GetZDBError() == sqlerr::kUnknownNetWorkToken)
        << e.GetZDBError();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, MalformedReply,
    ::testing::Values(
        BadReply{"LengthBeyondBuffer", [](unsigned long) { return Raw({3, 100, 0, 0, 0, 7, 201, 0}); }},
        BadReply{"NegativeLength", [](unsigned long) { return Raw({3, 0xFF, 0xFF, 0xFF, 0xFF}); }},
        BadReply{"TruncatedLength", [](unsigned long) { return Raw({3, 1, 0}); }},
        BadReply{"UnknownPacketType",
                 [](unsigned long) {
                   SQLTokenString p(20);
                   p.AppendToken(SQLNWTRSJoin);
                   return Packets().Add(p).Get();
                 }},
        BadReply{"NegativeDictionaryCount",
                 [](unsigned long) {
                   SQLTokenString p(20);
                   p.AppendToken(SQLNWTMissingDDs);
                   p.AppendBs2(-3);
                   return Packets().Add(p).Get();
                 }},
        BadReply{"NegativeRowCount",
                 [](unsigned long id) {
                   SQLTokenString p(20);
                   p.AppendToken(SQLNWTResultSet);
                   p.AppendBs4(static_cast<std::int32_t>(id));
                   p.AppendBs4(-1);
                   return Packets().Add(p).Get();
                 }},
        BadReply{"RowShorterThanItsCodes",
                 [](unsigned long id) {
                   SQLTokenString p(20);
                   StartOneRowSet(&p, id);
                   p.AppendBs4(1);  // the string value is missing
                   return Packets().Add(p).Get();
                 }},
        BadReply{"ValueOfAnotherKindThanItsColumn",
                 [](unsigned long id) {
                   SQLTokenString p(20);
                   StartOneRowSet(&p, id);
                   p.AppendDouble(1.0);  // the INTEGER column gets a double
                   p.AppendMemory("b", 1);
                   return Packets().Add(p).Get();
                 }},
        BadReply{"StringLongerThanTheSet",
                 [](unsigned long id) {
                   SQLTokenString p(20);
                   StartOneRowSet(&p, id);
                   p.AppendBs4(1);
                   p.AppendMemory("abc", 3);
                   Bytes b = Packets().Add(p).Get();
                   b[b.size() - 5] = 0x40;  // the string's count says 64 bytes
                   return b;
                 }},
        BadReply{"RowsProcessedForAQuery",
                 [](unsigned long id) {
                   SQLTokenString p(20);
                   p.AppendToken(SQLNWTNrRowsProcessed);
                   p.AppendBs4(static_cast<std::int32_t>(id));
                   p.AppendBs4(3);
                   return Packets().Add(p).Get();
                 }},
        BadReply{"NoReplyAtAll", [](unsigned long) { return Bytes{}; }}),
    [](auto const &info) { return std::string(info.param.name); });

TEST_F(AgentClientTest, ReplyForAnUnknownStatementIsDropped) {
  unsigned long id = NewQuery();
  Bytes stray = EndOfSet(id + 50);
  Bytes end = EndOfSet(id);
  stray.insert(stray.end(), end.begin(), end.end());
  peer_.replies.push_back(stray);
  EXPECT_EQ(client_->Fetch(id), 0);
}

}  // namespace

namespace {

// How an exchange can fail part way, and what the statement's next use must
// look like.
enum class LostAt { FirstFetch, LaterFetch, BreakOfAnotherStatement };

class AgentClientLostExchangeTest : public AgentClientTest,
                                    public ::testing::WithParamInterface<LostAt> {};

Bytes Concat(std::vector<Bytes> const &parts) {
  Bytes all;
  for (Bytes const &p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace

// After an exchange that failed once the batch was out, the agent's state of
// the statement is not known: the client never sends it an Exec or Fetch as
// if it were, but destroys the agent statement and prepares it again under
// the same id, and a result cut short is not started over behind the
// caller's back.
TEST_P(AgentClientLostExchangeTest, NextExecutionDestroysAndPreparesTheStatementAgain) {
  unsigned long id = NewQuery(2);
  client_->Exec(id);
  switch (GetParam()) {
    case LostAt::FirstFetch: {
      peer_.failExchange = 2;  // after the language level
      EXPECT_THROW(client_->Fetch(id), SQLExZDBError);
      break;
    }
    case LostAt::LaterFetch: {
      peer_.replies.push_back(RowSet(id, 1, 2));
      ASSERT_EQ(client_->Fetch(id), 1);
      ASSERT_EQ(client_->Fetch(id), 1);
      peer_.failExchange = 3;
      EXPECT_THROW(client_->Fetch(id), SQLExZDBError);
      // The rest of the result is gone: the same execution cannot go on.
      const std::size_t sent = peer_.sent.size();
      try {
        client_->Fetch(id);
        ADD_FAILURE() << "a fetch went on with a lost result";
      } catch (SQLExZDBError const &e) {
        EXPECT_EQ(e.GetZDBError(), ZE_BAD_CURSOR);
        EXPECT_STREQ(e.GetMessageText()->GetString(),
                     "The rest of the rows was lost when an exchange with the driver failed (the error of "
                     "that call says why); execute the statement again");
      }
      EXPECT_EQ(peer_.sent.size(), sent);
      break;
    }
    case LostAt::BreakOfAnotherStatement: {
      peer_.replies.push_back(RowSet(id, 1, 2));
      ASSERT_EQ(client_->Fetch(id), 1);
      client_->Exec(id);  // queues a Break of the open result
      unsigned long other = NewQuery(2);
      client_->Exec(other);
      peer_.failExchange = 3;  // the Break goes with the other's batch
      EXPECT_THROW(client_->Fetch(other), SQLExZDBError);
      break;
    }
  }
  peer_.failExchange = 0;
  client_->Exec(id);
  peer_.replies.push_back(Concat({RowSet(id, 1, 1), EndOfSet(id)}));
  ASSERT_EQ(client_->Fetch(id), 1);
  EXPECT_EQ(a_.GetInteger(), 1);
  EXPECT_EQ(client_->Fetch(id), 0);
  SQLTokenString destroy(20), prep(20), att(20), exec(20), fetch(20);
  Stmt(destroy, id, SQLNWTPacketDestroy);
  Stmt(prep, id, SQLNWTPacketPrepare).AppendToken(SQLNWTRSTable);
  Stmt(att, id, SQLNWTPacketAttach).AppendBs4(40);
  Stmt(exec, id, SQLNWTPacketExec);
  Stmt(fetch, id, SQLNWTPacketFetch).AppendBs4(2);
  EXPECT_EQ(peer_.sent.back(), Packets().Add(destroy).Add(prep).Add(att).Add(exec).Add(fetch).Get());
  EXPECT_EQ(client_->GetState(id), 3);
}

INSTANTIATE_TEST_SUITE_P(Exchanges, AgentClientLostExchangeTest,
                         ::testing::Values(LostAt::FirstFetch, LostAt::LaterFetch,
                                           LostAt::BreakOfAnotherStatement),
                         [](::testing::TestParamInfo<LostAt> const &info) -> std::string {
                           switch (info.param) {
                             case LostAt::FirstFetch: return "FirstFetch";
                             case LostAt::LaterFetch: return "LaterFetch";
                             case LostAt::BreakOfAnotherStatement: return "BreakOfAnotherStatement";
                           }
                           return "Unknown";
                         });
