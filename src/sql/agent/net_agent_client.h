// SQLNetAgentClient: the library's one client of the drivers' SQL agents.
//
// Row sources and DELETE/UPDATE trees address agent statements by id. The
// client records prepare, attach and parameter packets and sends nothing
// until a query's first Fetch (or a DELETE/UPDATE Exec): then prepare,
// attach, parameters, limits, exec and fetch leave for the driver in one
// packet buffer and one SQL_MESSAGE exchange. The database client hands the
// reply to SQLNetAgentClientPacketsHandler before the exchange returns; the
// handler answers requests for data dictionaries at once and queues every
// other reply for its statement. Break, Close and Destroy wait in the
// driver's buffer for the next exchange with it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

#include "sql/agent/agent_packets.h"
#include "sql/agent/token_string.h"
#include "sql/common/sql_containers.h"

class SQLColumnDescriptor;
class SQLDatabaseInstance;
class SQLParameter;
class SQLValueStore;
struct DRIVER_SPEC;
struct ZDB_REQUEST;
struct ZDB_SERVER;
struct ZDB_SESSION;

// What the client uses of the database client. The default carrier calls
// zdb_sql_get_server, flush_updates, zdb_sql_commu_packets and
// zdb_send_dd_to_server; tests put a scripted peer in its place.
struct SQLAgentCarrier {
  int (*getServer)(DRIVER_SPEC *spec, int transId, ZDB_SESSION **session, ZDB_SERVER **server);
  int (*flushUpdates)(ZDB_SESSION *session);
  int (*commuPackets)(ZDB_SERVER *server, char const *bytes, std::uint32_t length);
  int (*sendDDs)(ZDB_SESSION *session, std::uint32_t n, unsigned char const *entries);
  std::uint32_t (*serverNumber)(ZDB_SERVER const *server);
  std::uint32_t (*serverSessionId)(ZDB_SESSION const *session);
  ZDB_SERVER *(*serverOfSession)(ZDB_SESSION const *session);
};

// The client's record of one agent statement.
class SQLNetAgentClientStatementData {
 public:
  explicit SQLNetAgentClientStatementData(unsigned long id) : id(id) {}

  unsigned long id;
  SQLPacketBuffer *packetBuffer = nullptr;  // of the attached server; not owned
  ZDB_SESSION *session = nullptr;           // of the last attach; null after Close
  SQLTokenString preparePacket{20};
  SQLTokenString attachPacket{20};
  SQLTokenString bindPacket{20};
  int nrParams = 0;
  bool bindsClosed = false;  // an Exec came since the last parameter was bound
  bool query = true;  // the statement returns rows
  bool maxRowsSet = false;
  bool timeOutSet = false;
  int maxRows = 0;
  long timeOut = 0;   // deadline in steady-clock milliseconds (al_steady_ms), 0 = none
  int bufferSize = 0; // rows per fetch, 0 = the default
  std::unique_ptr<SQLNetWorkRowSetRowExtractor> extractor;
  int nrOutput = 0;
  SQLValueStore **output = nullptr;  // not owned
  std::deque<std::unique_ptr<SQLTokenString>> replies;
  int rowsProcessed = 0;
  int state = 0;  // 0 not created, 1 prepared, 2 attached, 3 executed
  // The agent's state of the statement is not known: an exchange for it
  // failed part way (its packets may have been carried out, their replies
  // were not all taken). The next exchange destroys the agent statement and
  // prepares it again; `state` holds nothing meanwhile.
  bool unknown = false;
  bool resultLost = false;  // the open result's rest is gone with the exchange; an Exec ends it
  bool templateQueued = false;  // a Break or Close waits in the buffer for the next flush
  std::uint32_t serverNumber = 0;
};

class SQLNetAgentClient {
 public:
  enum Status : int { RowAvailable = 0, EndOfSet = 1, RowsProcessed = 2, NoReply = 3 };

  static SQLNetAgentClient *Instance();
  // The client when there is one, else null (for destructors, which must
  // not make a new client at process exit).
  static SQLNetAgentClient *Existing();
  static void DeleteInstance();
  // Replaces the carrier (null restores the database client's).
  static void SetCarrier(SQLAgentCarrier const *carrier);

  SQLNetAgentClient(SQLNetAgentClient const &) = delete;
  SQLNetAgentClient &operator=(SQLNetAgentClient const &) = delete;
  ~SQLNetAgentClient();

  unsigned long Prepare(SQLTokenString const &description);
  void Attach(unsigned long id, int transId, SQLDatabaseInstance const *instance);
  // The same for the driver group that serves the instance.
  void Attach(unsigned long id, int transId, DRIVER_SPEC *serverSpec);
  void BindOutput(unsigned long id, int nrColumns, SQLValueStore **stores,
                  SQLColumnDescriptor const *const *descriptors);
  void SetBufferSize(unsigned long id, int rows);
  void BindParam(unsigned long id, SQLParameter const *param);
  void BindParams(unsigned long id, pconstSQLParameterList const *params);
  void SetMaxRows(unsigned long id, int rows);
  void SetTimeOut(unsigned long id, long deadline);
  int Exec(unsigned long id);
  int Fetch(unsigned long id);
  int SkipRows(unsigned long id, int n);
  void Break(unsigned long id);
  void Close(unsigned long id);
  void Destroy(unsigned long id);
  void AddPacketToBufferedPackets(unsigned long id, SQLTokenString const &received, int offset,
                                  int length);
  int EndSession(ZDB_SESSION *session);
  int EndServer(ZDB_SERVER *server);

  // The state of a statement as the client knows it (for tests and traces).
  int GetState(unsigned long id);

 private:
  SQLNetAgentClient();
  SQLNetAgentClientStatementData &Lookup(unsigned long id);
  SQLNetAgentClientStatementData *Find(unsigned long id);
  SQLPacketBuffer *GetPacketBuffer(ZDB_SERVER *server);
  void FlushPacketBuffer(SQLPacketBuffer *buffer);
  void PrepareToFlushExecPacket(SQLNetAgentClientStatementData &sd, SQLPacketBuffer *buffer);
  Status HandleReturnPacket(SQLNetAgentClientStatementData &sd);
  // Flushes the statement's buffer with the exchange's packets in it. The
  // statement's state is unknown from the flush until a reply settles it;
  // a flush that fails leaves it unknown and forgets its queued replies.
  void FlushForStatement(SQLNetAgentClientStatementData &sd);
  // Throws when the statement's server is gone.
  static void RequireServer(SQLNetAgentClientStatementData const &sd);
  // Stops an open result (a break request for the agent) and forgets its
  // rows; the parameters bound meanwhile stay.
  void StopResult(SQLNetAgentClientStatementData &sd);
  // Queues Break, Close or Destroy for the statement in a packet buffer;
  // false when that failed (the caller then leaves the state unchanged).
  bool QueueTemplate(SQLTokenString &packet, unsigned long id, SQLPacketBuffer *buffer);
  int RowsPerFetch(SQLNetAgentClientStatementData const &sd) const;

  unsigned long nextId_ = 1;
  std::vector<std::unique_ptr<SQLPacketBuffer>> buffers_;
  SQLTokenString breakPacket_{20};
  SQLTokenString closePacket_{20};
  SQLTokenString destroyPacket_{20};
  int templateIdOffset_ = 0;
  std::unordered_map<unsigned long, std::unique_ptr<SQLNetAgentClientStatementData>> statements_;
  SQLNetAgentClientStatementData *last_ = nullptr;  // the statement Find gave last, while it lives
};

// Called by the database client (C linkage names): every SQL_MESSAGE reply;
// the detach of a session and of a server.
int SQLNetAgentClientPacketsHandler(ZDB_REQUEST *req);
int SQLNetAgentClientEndSession(ZDB_SESSION *session);
void SQLNetAgentClientEndServer(ZDB_SERVER *server);

// The largest packet a reply may announce, and the most tables one request
// for data dictionaries may name.
inline constexpr int kSQLAgentMaxDDRequest = 4096;
