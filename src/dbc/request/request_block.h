// The request block: one process-wide record that carries a request to a
// driver and its reply back. A request is prepared by filling the fields of
// its code; the reply is read into the same fields. One request is in flight
// at a time in the process, so the block, the receive buffer and the SQL
// packet buffer are shared by all drivers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "dbc/request/request_codes.h"
#include "ipc/stream.h"

struct DD_TABLE;
struct RDS;
struct ZDB_TRANS;
struct ZDB_SERVER;

// One table of an EXE_UPDATE request: its name, the logical company number
// and the row data set of its buffered actions.
struct ZDB_UPDATE_TABLE {
  char table[8];  // no NUL
  std::uint16_t compnr;
  RDS *rds;
};

// A dictionary list of a 513 reply, as received: count entries of 10 bytes
// (8 name bytes, u16 company number) in the receive buffer.
struct ZDB_DD_LIST {
  std::uint32_t count = 0;
  const unsigned char *entries = nullptr;
};

struct ZDB_REQUEST {
  std::int32_t code = 0;    // low byte is sent and selects writer and reader
  std::int32_t retval = 0;  // reply: 0 success, > 0 error number, 513 wants dictionaries
  std::uint32_t session_id = 0;  // server session id of session-level requests

  struct {
    std::uint32_t driver_nr = 0;
    const char *user = "";            // at most 8 characters are sent
    const char *compnr_env = "";
    bool no_refs = false;             // references switched off
    const char *server_text = "";     // "<dd env> <driver name> <driver args>"
    // reply
    std::uint32_t sessions_allowed = 0;
    std::uint32_t pid = 0;
    std::uint32_t level_flags = 0;
    std::uint32_t sql_protocol = 0;
    std::uint8_t idle_limit = 0;
  } att_server;

  struct {
    const char *trans_name = "";      // at most 15 characters are sent
  } att_session;

  struct {
    char table[9] = {};
    std::uint16_t compnr = 0;
    std::uint32_t action = 0;         // action word
    std::uint32_t argument = 0;       // in, and out from the reply
    std::uint32_t sequence = 1;
  } tbl_cntr;

  struct {
    std::uint32_t action = 0;
    std::uint32_t audit[3] = {};
    ZDB_TRANS *trans = nullptr;       // receives the audit list of a commit reply
  } db_cntr;

  // EXE_SESSION and EXE_SYSTEM
  struct {
    std::uint32_t command = 0;
    const char *msg = nullptr;        // in; out: the receive buffer when an answer came
    std::uint16_t msglen = 0;         // in and out
  } exe;

  struct {
    const DD_TABLE *table = nullptr;
    std::uint16_t compnr = 0;
  } dd_info;

  struct {
    const char *packets = nullptr;    // request
    std::uint32_t length = 0;         // request length; reply length
    char *reply = nullptr;            // the SQL packet buffer after the reply
  } sql;

  struct {
    const ZDB_UPDATE_TABLE *tables = nullptr;
    std::uint16_t count = 0;          // 0 on the repeat after 513
    ZDB_TRANS *trans = nullptr;       // receives the details of a 520 reply
  } update;

  struct {
    char table[9] = {};
    std::uint16_t compnr = 0;
    std::uint32_t read_arg = 0;
    unsigned char *row = nullptr;     // the key row sent; the row received
    std::uint16_t row_len = 0;        // in and out
    std::size_t row_capacity = 0;     // size of the caller's row buffer
  } row_cntr;

  struct {
    char table[9] = {};
    std::uint32_t compnr = 0;
    std::uint32_t argument = 0;
    std::uint32_t row_len = 0;
    unsigned char row[DBC_MAX_ROW] = {};
    // reply
    std::uint32_t dd_count = 0;
    unsigned char dd_entries[2 * DD_LIST_ENTRY_SIZE] = {};
    std::uint32_t result = 0;
  } alter;

  ZDB_DD_LIST dd_list;  // filled by a reply with retval 513
};

// The process-wide request block, receive buffer and SQL packet buffer.
ZDB_REQUEST &dbc_request();
unsigned char *dbc_recv_buf();

// Clears the block for a new request of the given code: every group that
// request writes or reads (a row request leaves the others as they are).
void dbc_request_prepare(int code);

// A copy of the request block as a request goes out, put back to send the
// request again (after the driver asked for dictionaries first). Only the
// alter request's copy holds its row and dictionary entries (kilobytes):
// the other requests neither write nor read them.
class DbcRequestCopy {
 public:
  DbcRequestCopy();
  DbcRequestCopy(const DbcRequestCopy &) = delete;
  DbcRequestCopy &operator=(const DbcRequestCopy &) = delete;
  void Restore() const;

 private:
  static constexpr std::size_t kHead = offsetof(ZDB_REQUEST, alter);
  unsigned char head_[kHead];
  std::unique_ptr<ZDB_REQUEST> whole_;  // an alter request's
};

// Grows the SQL packet buffer to at least `size` bytes (freed and allocated
// anew, never copied). Null when memory runs out.
char *dbc_sql_packet_buffer(std::size_t size);

using ZDB_WRITER = int (*)(ZDB_REQUEST *req, STREAM *out);
using ZDB_READER = int (*)(ZDB_REQUEST *req, STREAM *in);

// The writer and reader tables, indexed by the request code.
const ZDB_WRITER *client_send_commu_funcs();
const ZDB_READER *client_get_commu_funcs();
// Installs the two tables; called by zdb_logon. 0 or -1.
int zdb_init_commu();

// The name of a request code for traces ("ATT_SERVER"), "?" for others.
const char *dbc_request_name(int code);

// Sends the prepared block to the driver and reads the reply into it.
// 0, or -1 when a writer or reader fails (zdb_errno 510 unless the failing
// step set a number) or when the retval is positive (zdb_errno = retval).
int zdb_commu(ZDB_SERVER *server);

// Sends the dictionaries that a 513 reply lists to the session's driver.
// A company override of 0 or more replaces the listed company numbers.
struct ZDB_SESSION;
int zdb_send_dd_to_server(ZDB_SESSION *session, std::uint32_t count,
                          const unsigned char *list, int compnr_override);

// zdb_commu for a request that may be answered with 513: sends the listed
// dictionaries through the session and repeats the request from its saved
// fields (EXE_UPDATE repeats with no tables), at most ZDB_MAX_DD_RESENDS
// times; then it fails with 513.
int zdb_commu_dd(ZDB_SESSION *session, int compnr_override = -1);
