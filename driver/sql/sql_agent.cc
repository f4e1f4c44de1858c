#include "sql/sql_agent.h"

#include "dbc/zdb_errors.h"
#include "platform/log.h"
#include "common/driver_log.h"
#include "sql/query_desc_reader.h"
#include "sql/agent/nw_token.h"

namespace molvane::driver {

namespace {

constexpr std::int32_t kLanguageLevel = 1;
// Statements one connection may hold at once.
constexpr std::size_t kMaxStatements = 4096;

SQLException StateError(const char *state, const std::string &text) {
  return SQLException(state, 215, SQLString(text.c_str()));
}

}  // namespace

const DdTableDesc *SqlAgent::Table(const std::string &table, int physical) const {
  if (forget_ && delivered_.count({table, physical}) == 0) return nullptr;
  return ctx_.table(table, physical);
}

void SqlAgent::DictionaryArrived(const std::string &table, int physical) {
  if (held_ != nullptr && asked_.count({table, physical}) != 0) delivered_.insert({table, physical});
}

void SqlAgent::SessionClosed(std::uint32_t session) {
  installed_.erase(session);
  sqlite3 *db = ctx_.session_db(session);
  for (auto &[id, stmt] : statements_) {
    if (stmt->state() >= kAttached && stmt->session() == session) stmt->Close();
    stmt->Release(db);  // prepared there while attached before
  }
}

bool SqlAgent::HasOpenResult(std::chrono::steady_clock::time_point time) const {
  for (const auto &entry : statements_)
    if (entry.second->OpenSince(time)) return true;
  return false;
}

void SqlAgent::SpillOpenResults(std::chrono::steady_clock::time_point time) {
  for (auto &entry : statements_)
    if (entry.second->OpenSince(time)) entry.second->Spill(MemoryRoom());
}

void SqlAgent::Isolate() {
  for (auto &entry : statements_) entry.second->Spill(MemoryRoom());
}

std::size_t SqlAgent::ResultBytes() const {
  std::size_t bytes = 0;
  for (const auto &entry : statements_) bytes += entry.second->HeldBytes();
  return bytes;
}

void SqlAgent::ReadAhead() {
  auto it = statements_.find(fetched_);
  if (it != statements_.end() && it->second->state() == kExecuted) it->second->ReadAhead();
}

int SqlAgent::StateOf(std::uint32_t id) const {
  auto it = statements_.find(id);
  return it == statements_.end() ? -1 : it->second->state();
}

sqlite3 *SqlAgent::SessionDb(std::uint32_t session) {
  sqlite3 *db = ctx_.session_db(session);
  if (db == nullptr) return nullptr;
  if (installed_.count(session) == 0) {
    if (!host_.Install(db))
      throw StateError("QP999", std::string("SQLite refused the agent functions: ") + sqlite3_errmsg(db));
    installed_.insert(session);
  }
  return db;
}

std::vector<std::uint8_t> SqlAgent::HandleBatch(const std::uint8_t *bytes, std::size_t n, std::size_t front) {
  AgentReply reply(front);
  // A new batch while one waits for dictionaries: the client gave up on
  // the kept one.
  if (held_ != nullptr) {
    SQLTokenString probe(bytes, static_cast<int>(std::min<std::size_t>(n, 16)));
    bool resume = false;
    try {
      probe.GetBs4();
      resume = probe.GetToken() == SQLNWTPacketForDriver && probe.GetToken() == SQLNWTHandlePendingPackets;
    } catch (const SQLException &) {
    }
    if (!resume) {
      LogFromPeer(__FILE__, __LINE__, LOG_WARNING, "SQL agent: batch waiting for dictionaries dropped");
      held_.reset();
      asked_.clear();
    }
  }
  Batch batch;
  batch.bytes.assign(bytes, bytes + n);
  Run(std::move(batch), &reply);
  return reply.Take();
}

bool SqlAgent::Run(Batch batch, AgentReply *reply) {
  if (batch.bytes.size() > static_cast<std::size_t>(INT32_MAX)) {
    LogFromPeer(__FILE__, __LINE__, 0, "SQL agent: packet buffer of %zu bytes refused", batch.bytes.size());
    return true;
  }
  SQLTokenString in(batch.bytes.data(), static_cast<int>(batch.bytes.size()));
  while (!in.AtEnd()) {
    int start = in.GetReadOffset();
    int length;
    try {
      length = in.GetBs4();
    } catch (const SQLException &) {
      LogFromPeer(__FILE__, __LINE__, 0, "SQL agent: packet length unreadable at %d", start);
      return true;
    }
    int body = in.GetReadOffset();
    if (length < 3 || length > in.Length() - body) {
      LogFromPeer(__FILE__, __LINE__, 0, "SQL agent: packet of %d bytes at %d beyond the buffer", length,
                  body);
      return true;
    }
    SQLTokenString packet(batch.bytes.data() + body, length);
    if (!Handle(packet, batch, static_cast<std::size_t>(start), reply)) return false;
    in.SetReadOffset(body + length);
  }
  return true;
}

bool SqlAgent::Handle(const SQLTokenString &packet, Batch &batch, std::size_t packet_start,
                      AgentReply *reply) {
  std::uint32_t id = 0;
  int op = 0;
  try {
    int kind = packet.GetToken();
    if (kind == SQLNWTPacketForDriver) {
      op = packet.GetToken();
      if (op == SQLNWTLanguageLevel) {
        packet.GetBs4();
        reply->LanguageLevel(kLanguageLevel);
      } else if (op == SQLNWTHandlePendingPackets) {
        if (held_ != nullptr) {
          std::unique_ptr<Batch> kept = std::move(held_);
          // Asked-for tables stay known for the kept batch's second look.
          if (!Run(std::move(*kept), reply)) return true;
          asked_.clear();
        }
      } else {
        LogFromPeer(__FILE__, __LINE__, 0, "SQL agent: driver packet %d passed over", op);
      }
      return true;
    }
    if (kind != SQLNWTPacketForStmt) {
      LogFromPeer(__FILE__, __LINE__, 0, "SQL agent: packet kind %d passed over", kind);
      return true;
    }
    id = static_cast<std::uint32_t>(packet.GetBs4());
    if (batch.failed.count(id) != 0) return true;
    op = packet.GetToken();
    if (op == SQLNWTPacketPrepare) {
      std::vector<std::pair<std::string, int>> missing;
      Prepare(id, packet, &missing);
      if (!missing.empty()) {
        reply->MissingDDs(missing);
        held_ = std::make_unique<Batch>();
        held_->bytes.assign(batch.bytes.begin() + static_cast<std::ptrdiff_t>(packet_start),
                            batch.bytes.end());
        held_->failed = batch.failed;
        return false;
      }
      return true;
    }
    StatementPacket(id, op, packet, reply);
  } catch (const SQLException &e) {
    if (id == 0 && op == 0) {
      LogFromPeer(__FILE__, __LINE__, 0, "SQL agent: packet without a statement id passed over");
      return true;
    }
    int state = StateOf(id);
    reply->DiagRec(id, state < 0 ? kNotCreated : state, e);
    batch.failed.insert(id);
  } catch (const std::bad_alloc &) {
    reply->DiagRec(id, StateOf(id) < 0 ? kNotCreated : StateOf(id), SQLException("QP501", 501));
    batch.failed.insert(id);
  }
  return true;
}

void SqlAgent::Prepare(std::uint32_t id, const SQLTokenString &packet,
                       std::vector<std::pair<std::string, int>> *missing) {
  if (statements_.count(id) != 0)
    throw StateError("HY010", "Statement id " + std::to_string(id) + " is in use");
  if (statements_.size() >= kMaxStatements)
    throw SQLException("QP501", 501, SQLString("Too many statements on one connection"));
  QueryDesc desc = ReadQueryDesc(packet);
  for (const QdTableRef &t : desc.tables) {
    if (Table(t.name, t.compnr) != nullptr) continue;
    if (asked_.count({t.name, t.compnr}) != 0)
      throw SQLException("42S02", ZE_NO_DD, SQLString(("Tname '" + t.name + "' not found").c_str()));
    missing->emplace_back(t.name, ctx_.logical(t.name, t.compnr));
  }
  if (!missing->empty()) {
    for (const QdTableRef &t : desc.tables) asked_.insert({t.name, t.compnr});
    return;
  }
  auto lookup = [this](const std::string &table, int physical) { return Table(table, physical); };
  bool query = desc.query != nullptr;
  statements_[id] = std::make_unique<AgentStatement>(id, TranslateDesc(desc, lookup, &host_), query);
  if (desc.dml) statements_[id]->set_dml_table({desc.dml->table, desc.dml->compnr});
}

void SqlAgent::StatementPacket(std::uint32_t id, int op, const SQLTokenString &packet, AgentReply *reply) {
  auto it = statements_.find(id);
  if (it == statements_.end()) {
    if (op == SQLNWTPacketDestroy) return;
    throw StateError("HY010", "Statement " + std::to_string(id) + " does not exist");
  }
  AgentStatement &s = *it->second;
  switch (op) {
    case SQLNWTPacketAttach: {
      auto session = static_cast<std::uint32_t>(packet.GetBs4());
      if (s.state() == kExecuted) s.Break();
      if (SessionDb(session) == nullptr)
        throw SQLException("QP999", ZE_INVALID_SESSION,
                           SQLString(("No session " + std::to_string(session)).c_str()));
      s.Attach(session);
      return;
    }
    case SQLNWTPacketBindParams:
      s.BindParams(packet);
      return;
    case SQLNWTPacketSetMaxRows:
      s.SetMaxRows(packet.GetBs4());
      return;
    case SQLNWTPacketSetTimeOut:
      s.SetTimeOut(packet.GetBs4());
      return;
    case SQLNWTPacketExec: {
      if (s.state() == kPrepared) throw StateError("HY010", "Statement is not attached to a session");
      if (s.state() == kExecuted)
        throw StateError("24000", "An open cursor is associated with the current statement");
      sqlite3 *db = SessionDb(s.session());
      if (db == nullptr) {
        s.Close();
        throw SQLException("QP999", ZE_INVALID_SESSION, SQLString("The statement's session has ended"));
      }
      if (ctx_.usable) ctx_.usable(s.session());
      exec_deadline_ = s.deadline();
      const QdTableRef &dml = s.dml_table();
      // A DELETE or UPDATE takes the rows it would change, free or waited
      // for as a locked read waits, before it takes the write transaction,
      // so that it never waits for a row while it holds that; once it has
      // the write transaction it looks again for rows that only the
      // transactions committed meanwhile made match.
      auto held = [&] {
        if (s.query() || !ctx_.locked || !ctx_.locked(s.session(), dml.name, dml.compnr)) return false;
        return !ctx_.rows_free ||
               !ctx_.rows_free(s.session(), dml.name, dml.compnr, [&](std::vector<sqlite3_int64> *rowids) {
                 return s.RowsToChange(db, &host_, rowids);
               });
      };
      if (held()) throw SQLExZDBError(ZE_LOCKED);
      if (!s.query()) Isolate();
      if (!s.query() && ctx_.begin && !ctx_.begin(s.session()))
        throw StateError("QP999", std::string("The session's transaction did not start: ") +
                                      sqlite3_errmsg(db));
      int rows = 0;
      try {
        // The statement holds its table only once it has every row it
        // needs: while it waits, other sessions' reads of the table's other
        // rows do not wait for it.
        if (held()) throw SQLExZDBError(ZE_LOCKED);
        if (!s.query() && ctx_.changing) ctx_.changing(s.session(), dml.name, dml.compnr);
        rows = s.Exec(db, &host_);
      } catch (const SQLException &e) {
        if (!s.query() && ctx_.changed) ctx_.changed(s.session(), dml.name, dml.compnr, &e);
        throw;
      } catch (...) {
        const SQLException memory("QP501", 501);
        if (!s.query() && ctx_.changed) ctx_.changed(s.session(), dml.name, dml.compnr, &memory);
        throw;
      }
      if (!s.query() && ctx_.changed) ctx_.changed(s.session(), dml.name, dml.compnr, nullptr);
      if (!s.query()) reply->RowsProcessed(id, rows);
      return;
    }
    case SQLNWTPacketFetch: {
      int rows = packet.GetBs4();
      if (s.state() != kExecuted) throw StateError("24000", "Fetch on a statement that is not executed");
      fetched_ = id;
      try {
        s.Fetch(rows, reply);
      } catch (...) {
        s.Break();  // a failing fetch ends the result, as a failing Exec leaves none
        throw;
      }
      return;
    }
    case SQLNWTPacketSkipRows: {
      int n = packet.GetBs4();
      packet.GetBs4();
      if (s.state() != kExecuted) throw StateError("24000", "SkipRows on a statement that is not executed");
      try {
        reply->RowsProcessed(id, s.Skip(n));
      } catch (...) {
        s.Break();
        throw;
      }
      return;
    }
    case SQLNWTPacketBreak:
      s.Break();
      return;
    case SQLNWTPacketClose:
      s.Close();
      return;
    case SQLNWTPacketDestroy:
      statements_.erase(it);
      return;
    default:
      throw StateError("HY010", "Unknown statement packet " + std::to_string(op));
  }
}

}  // namespace molvane::driver
