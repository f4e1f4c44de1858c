// A scripted SQL agent for the execution tests: it records every packet
// buffer that the agent client sends and answers each exchange with the
// next queued reply, through the packet handler as the database client
// does. Helpers build the expected description bytes item by item, so that
// a test states the token layout independently of SQLTokenString.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include "dbc/dict/dd.h"
#include "dbc/request/request_block.h"
#include "dbc/session/zdb_server.h"
#include "molvane/zdb.h"
#include "sql/agent/net_agent_client.h"
#include "sql/agent/nw_token.h"
#include "sql/agent/token_string.h"
#include "sql/common/column_descriptor.h"
#include "sql/common/sql_schema.h"
#include "sql/common/value_store.h"
#include "support/test_env.h"

namespace molvane::test {

using ByteString = std::vector<unsigned char>;

// ---- expected items, little-endian as the token strings write them ----
inline ByteString Tok(int code) {
  return {7, static_cast<unsigned char>(code & 0xFF), static_cast<unsigned char>((code >> 8) & 0xFF)};
}
inline ByteString B1(int v) { return {1, static_cast<unsigned char>(v)}; }
inline ByteString B2(int v) {
  return {2, static_cast<unsigned char>(v & 0xFF), static_cast<unsigned char>((v >> 8) & 0xFF)};
}
inline ByteString B4(std::int64_t v) {
  ByteString b = {3};
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
  return b;
}
inline ByteString Mem(std::string const &s) {
  ByteString b = {6, static_cast<unsigned char>(s.size() & 0xFF), static_cast<unsigned char>(s.size() >> 8)};
  b.insert(b.end(), s.begin(), s.end());
  return b;
}
inline ByteString Cat(std::initializer_list<ByteString> parts) {
  ByteString out;
  for (auto const &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
inline ByteString BytesOf(SQLTokenString const &ts) {
  unsigned char const *b;
  int n;
  ts.GetString(b, n);
  return ByteString(b, b + n);
}
// TRUE when needle occurs in hay.
inline bool Contains(ByteString const &hay, ByteString const &needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

// ---- the scripted peer ----
struct AgentPeer {
  std::vector<ByteString> sent;      // every exchange, in order
  std::deque<ByteString> replies;    // the reply of each exchange
  // The reply of an exchange when none is queued (given what it sent), if set.
  std::function<ByteString(ByteString const &)> answer;
  ZDB_SERVER server{};
  ZDB_SESSION session{};
};
inline AgentPeer *g_agentPeer = nullptr;

inline int PeerGetServer(DRIVER_SPEC *, int, ZDB_SESSION **session, ZDB_SERVER **server) {
  *session = &g_agentPeer->session;
  *server = &g_agentPeer->server;
  return 0;
}
inline int PeerFlush(ZDB_SESSION *) { return 0; }
inline int PeerCommu(ZDB_SERVER *, char const *bytes, std::uint32_t length) {
  g_agentPeer->sent.emplace_back(bytes, bytes + length);
  ByteString reply;
  // A packet for the driver as a whole (the language level) gets no reply
  // and leaves the queued replies to the statements.
  ByteString const driver = Tok(SQLNWTPacketForDriver);
  bool forDriver = length >= 8 && std::equal(driver.begin(), driver.end(), bytes + 5);
  if (!forDriver && !g_agentPeer->replies.empty()) {
    reply = std::move(g_agentPeer->replies.front());
    g_agentPeer->replies.pop_front();
  } else if (!forDriver && g_agentPeer->answer) {
    reply = g_agentPeer->answer(g_agentPeer->sent.back());
  }
  ZDB_REQUEST req;
  req.sql.reply = reinterpret_cast<char *>(reply.data());
  req.sql.length = static_cast<std::uint32_t>(reply.size());
  return SQLNetAgentClientPacketsHandler(&req) < 0 ? -1 : 0;
}
inline int PeerSendDDs(ZDB_SESSION *, std::uint32_t, unsigned char const *) { return 0; }
inline std::uint32_t PeerServerNumber(ZDB_SERVER const *s) { return s->number; }
inline std::uint32_t PeerSessionId(ZDB_SESSION const *s) { return s->server_session_id; }
inline ZDB_SERVER *PeerServerOf(ZDB_SESSION const *s) { return s->server; }
inline SQLAgentCarrier const kAgentPeerCarrier = {PeerGetServer, PeerFlush,      PeerCommu,   PeerSendDDs,
                                                  PeerServerNumber, PeerSessionId, PeerServerOf};

// One reply packet buffer of the given packets.
inline ByteString Replies(std::vector<SQLTokenString const *> const &packets) {
  SQLTokenString buf(20);
  for (SQLTokenString const *p : packets) {
    buf.AppendBs4(p->Length());
    buf.AppendTokenString(*p);
  }
  return BytesOf(buf);
}

// A value of a reply row: NULL, an integer or a text.
struct ReplyValue {
  bool null = false;
  std::int32_t i = 0;
  std::string s;
};
inline ReplyValue RInt(std::int32_t v) { return ReplyValue{false, v, {}}; }
inline ReplyValue RText(std::string v) { return ReplyValue{false, 0, std::move(v)}; }
inline ReplyValue RNull() { return ReplyValue{true, 0, {}}; }

// A result set of the rows for an agent statement, each value written as
// its column type wants it (INTEGER-like as bs4, STRING/RAW as memory).
inline ByteString RowSet(unsigned long id, std::vector<SQLColumnDescriptor const *> const &columns,
                         std::vector<std::vector<ReplyValue>> const &rows) {
  SQLTokenString p(20);
  p.AppendToken(SQLNWTResultSet);
  p.AppendBs4(static_cast<std::int32_t>(id));
  p.AppendBs4(static_cast<std::int32_t>(rows.size()));
  for (auto const &row : rows) {
    std::vector<unsigned char> codes((columns.size() + 3) / 4, 0);
    for (size_t c = 0; c < columns.size(); ++c)
      codes[c / 4] = static_cast<unsigned char>(codes[c / 4] | ((row[c].null ? 1 : 2) << ((3 - c % 4) * 2)));
    p.AppendMemory(codes.data(), static_cast<std::int16_t>(codes.size()));
    for (size_t c = 0; c < columns.size(); ++c) {
      if (row[c].null) continue;
      SQLType t = columns[c]->GetType();
      if (t == SQL_STRING || t == SQL_RAW)
        p.AppendMemory(row[c].s.data(), static_cast<std::int16_t>(row[c].s.size()));
      else
        p.AppendBs4(row[c].i);
    }
  }
  SQLTokenString end(20);
  end.AppendToken(SQLNWTEndOfSet);
  end.AppendBs4(static_cast<std::int32_t>(id));
  return Replies({&p, &end});
}

inline ByteString RowsProcessed(unsigned long id, int rows) {
  SQLTokenString p(20);
  p.AppendToken(SQLNWTNrRowsProcessed);
  p.AppendBs4(static_cast<std::int32_t>(id));
  p.AppendBs4(rows);
  return Replies({&p});
}

// A scratch installation: the fixture dictionary and table definitions in
// which the example tables share one driver and the texts table has a
// driver of its own; the agent client talks to a scripted peer.
class AgentTestEnv {
 public:
  AgentTestEnv() {
    std::filesystem::copy(FixturePath("zuv/dict"), root_.path() + "/dict",
                          std::filesystem::copy_options::recursive);
    root_.WriteFile("lib/tabledef1",
                    "tttxt:*:msqlite(texts.db)\n"
                    "exemp,exdep::msqlite(main.db)\n");
    setenv("ZUV", root_.path().c_str(), 1);
    unsetenv("ZUV_RELEASE");
    setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
    init_local_dd();
    g_agentPeer = &peer_;
    peer_.server.number = 7;
    peer_.session.server = &peer_.server;
    peer_.session.server_session_id = 40;
    SQLNetAgentClient::SetCarrier(&kAgentPeerCarrier);
  }
  ~AgentTestEnv() {
    SQLNetAgentClient::DeleteInstance();
    SQLNetAgentClient::SetCarrier(nullptr);
    g_agentPeer = nullptr;
  }
  AgentTestEnv(AgentTestEnv const &) = delete;
  AgentTestEnv &operator=(AgentTestEnv const &) = delete;

  AgentPeer &Peer() { return peer_; }
  ScratchDir const &Root() const { return root_; }

 private:
  ScratchDir root_;
  AgentPeer peer_;
};

}  // namespace molvane::test
