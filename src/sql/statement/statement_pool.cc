// SQLStatement: the per-session statement pool and soft close.
//
// The pool maps a session id to the statements prepared for that session
// (statement id -> statement). It does not own the statements; it lets the
// database client close all statements of a session when the session stops
// and lets its scheduler ask whether a session still has statements.
//
// Soft close: when the setting qelt_sql_soft_close_delay is not -1, a
// statement whose cursor was broken gives its execution tree and prepared
// data back to the caches, either at once (delay 0, or the first break
// after a full prepare) or when it has been idle for longer than the delay.
// The idle statements are found by a sweep at the start of every Exec, which
// costs one clock read until the oldest break is older than the delay.
#include <memory>
#include <new>

#include "platform/clock.h"
#include "sql/common/sql_logger.h"
#include "sql/statement/sql_resource.h"
#include "sql/statement/statement.h"
#include "sql/statement/statement_cache.h"
#include "sql/statement/statement_trace.h"

int SQLStatement::_softCloseEnabled = -1;
long SQLStatement::_softCloseDelay = -1;
bool SQLStatement::_softCloseOnFirstBreak = true;
long SQLStatement::_minBreakTime = -1;

namespace {

unsigned long KeyHash(unsigned long const &key) { return key; }
bool KeyEqual(unsigned long const &a, unsigned long const &b) { return a == b; }

// The pool itself, from load to process exit. It owns the per-session
// hashes, never the statements.
class StatementPool {
 public:
  StatementPool() : sessions_(kExpectedSessions, KeyHash, KeyEqual) {}
  StatementPool(StatementPool const &) = delete;
  StatementPool &operator=(StatementPool const &) = delete;
  ~StatementPool() {
    for (bool more = sessions_.First(); more; more = sessions_.Next()) {
      delete sessions_.GetCurrent();
    }
  }

  // The statements of a session; null when it has none registered.
  pSQLStatementKeybu4Hash *Find(unsigned long sessionId) {
    try {
      return sessions_.Lookup(sessionId);
    } catch (HashExNotExists const &) {
      return nullptr;
    }
  }

  // The statements of a session, registering the session when it is new.
  pSQLStatementKeybu4Hash *FindOrCreate(unsigned long sessionId) {
    if (pSQLStatementKeybu4Hash *found = Find(sessionId)) return found;
    auto created =
        std::make_unique<pSQLStatementKeybu4Hash>(kExpectedStatements, KeyHash, KeyEqual);
    sessions_.Insert(sessionId, created.get());
    return created.release();
  }

  void Forget(unsigned long sessionId) {
    pSQLStatementKeybu4Hash *statements = Find(sessionId);
    if (statements == nullptr) return;
    sessions_.Delete(sessionId);
    delete statements;
  }

  pSQLStatementPoolKeybu4Hash &Sessions() { return sessions_; }

 private:
  static constexpr int kExpectedSessions = 5;
  static constexpr int kExpectedStatements = 200;

  pSQLStatementPoolKeybu4Hash sessions_;
};

StatementPool g_pool;

void TraceStats(SQLLogger &log, char const *text) {
  if (log.LogFlagIsSet(SQLLogger::StmtCacheStats)) log << text << endl;
}

}  // namespace

void SQLStatement::InitStatics() {
  int delay = SQLResource::qelt_sql_soft_close_delay();
  if (delay == -1) {
    _softCloseEnabled = 0;
    _softCloseDelay = -1;
  } else {
    _softCloseEnabled = 1;
    _softCloseDelay = delay > 0 ? delay : 0;
  }
  _minBreakTime = -1;
  _softCloseOnFirstBreak = true;
}

void SQLStatement::AddToStatementPool(SQLStatement *statement) {
  g_pool.FindOrCreate(statement->sessionId_)->Insert(statement->id_, statement);
}

void SQLStatement::RemoveFromStatementPool(SQLStatement *statement) {
  if (statement->sessionId_ == 0) return;
  if (pSQLStatementKeybu4Hash *statements = g_pool.Find(statement->sessionId_)) {
    try {
      statements->Delete(statement->id_);
    } catch (HashExNotExists const &) {
    }
  }
  statement->sessionId_ = 0;
}

void SQLStatement::CloseSessionStatements(unsigned long sessionId) {
  pSQLStatementKeybu4Hash *statements = g_pool.Find(sessionId);
  if (statements == nullptr) return;
  while (statements->First()) {
    SQLStatement *statement = statements->GetCurrent();
    statement->Close();
    // A statement whose close failed leaves the session all the same, so
    // that the loop ends and the session's hash can go.
    RemoveFromStatementPool(statement);
    try {
      statements->Delete(statement->id_);
    } catch (HashExNotExists const &) {
    }
  }
  g_pool.Forget(sessionId);
}

bool SQLStatement::SessionHasStatements(unsigned long sessionId) {
  pSQLStatementKeybu4Hash *statements = g_pool.Find(sessionId);
  return statements != nullptr && statements->NrElements() > 0;
}

void SQLStatement::ApplySoftCloseRule() {
  if (_softCloseEnabled == 0) return;
  if (_softCloseDelay == 0) {
    SoftClose();
  } else if (_softCloseOnFirstBreak && lastBreakTime_ == -2) {
    SoftClose();
    lastBreakTime_ = -1;
  } else {
    lastBreakTime_ = static_cast<long>(al_time(nullptr));
    if (_minBreakTime == -1 || _minBreakTime >= lastBreakTime_) _minBreakTime = lastBreakTime_;
  }
}

int SQLStatement::SoftClose() {
  StatementTraceCall(id_, SQLLogger::Interface, "SoftClose()");
  if (reset(true)) state_ = kSoftClosed;
  StatementTraceReturn(id_, SQLLogger::Interface, "SoftClose", 0);
  return 0;
}

void SQLStatement::Sweep() {
  SQLLogger &log = *SQLLogger::Instance();
  TraceStats(log, "[*] SQLStatement::Sweep()");
  if (_softCloseEnabled == 0 || _softCloseDelay < 1 || _minBreakTime < 0) return;
  long now = static_cast<long>(al_time(nullptr));
  if (now - _minBreakTime <= _softCloseDelay) return;
  long oldest = -1;
  pSQLStatementPoolKeybu4Hash &sessions = g_pool.Sessions();
  for (bool s = sessions.First(); s; s = sessions.Next()) {
    pSQLStatementKeybu4Hash *statements = sessions.GetCurrent();
    for (bool more = statements->First(); more; more = statements->Next()) {
      SQLStatement *statement = statements->GetCurrent();
      if (statement->state_ != kPrepared || statement->lastBreakTime_ < 0) continue;
      if (now - statement->lastBreakTime_ > _softCloseDelay) {
        if (log.LogFlagIsSet(SQLLogger::StmtCacheStats)) {
          log << "Statement " << statement->id_ << " timed out" << endl;
        }
        statement->SoftClose();
      } else if (oldest == -1 || oldest >= statement->lastBreakTime_) {
        oldest = statement->lastBreakTime_;
      }
    }
  }
  _minBreakTime = oldest;
  TraceStats(log, "[*] SQLStatement::Sweep() done");
}

void SQLStatement::DeleteStmtRecycler() { SQLStatementCache::Delete(); }
