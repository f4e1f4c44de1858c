// The client's reply readers: the first byte chooses the request, the rest
// is what the driver answers. The round trip runs against a driver stand-in
// whose input is those bytes; when the driver is still attached afterwards,
// a second round trip reads on from where the first stopped, which must be
// the end of a reply: a refused reply may never leave the streams out of
// step while they stay open.
#include <cstdlib>
#include <string>

#include <molvane/zdb.h>

#include "dbc/request/request_block.h"
#include "dbc/request/request_codes.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const bool ready = [] {
    molvane::fuzz::ScratchRoot();
    return true;
  }();
  (void)ready;
  if (size < 1) return 0;
  const int code = data[0] % ZDB_REQUEST_COUNT;
  ZDB_SERVER server;
  server.in = stream_open_bytes(data + 1, size - 1, "r");
  server.out = stream_open_bytes(nullptr, 0, "w");
  unsigned char row[64];
  ZDB_TRANS trans;
  dbc_request_prepare(code);
  ZDB_REQUEST &req = dbc_request();
  switch (code) {
    case EXE_ROW_CNTR:
      req.row_cntr.row = row;
      req.row_cntr.row_capacity = static_cast<std::size_t>(data[0] >> 4) * 4;
      break;
    case EXE_DB_CNTR:
      req.db_cntr.action = (data[0] & 0x10) ? commit_trans : abort_trans;
      req.db_cntr.trans = &trans;
      break;
    case EXE_UPDATE:
      req.update.trans = &trans;
      break;
    default:
      break;
  }
  zdb_commu(&server);
  if (zdb_server_attached(&server)) {
    // Whatever is left is read as the next reply.
    dbc_request_prepare(DET_SERVER);
    zdb_commu(&server);
  }
  zdb_close_server_streams(&server);
  return 0;
}
