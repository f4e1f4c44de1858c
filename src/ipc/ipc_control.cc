// Controls of a process connection's streams.
#include <cerrno>
#include <cstring>
#include <string>

#include "ipc/attach.h"
#include "ipc/ipc_connect.h"
#include "ipc/ipc_transport.h"
#include "platform/log.h"

static_assert(molvane::ipc::kIpcReasonMax < IPC_REASON_SIZE, "a reason and its NUL fit the buffer");

namespace {

bool IsConnection(const STREAM *stream) {
  return stream != nullptr && stream->kind == STREAM_KIND_CONN && stream->conn != nullptr;
}

}  // namespace

bool ipc_stream_to_server(const STREAM *stream) {
  if (!IsConnection(stream)) return false;
  const auto form = static_cast<const molvane::ipc::IPC_CONNECT *>(stream->conn)->form;
  return form == molvane::ipc::IpcForm::kUnix || form == molvane::ipc::IpcForm::kTcp;
}

const char *ipc_ended_reason(const STREAM *stream) {
  if (!IsConnection(stream)) return "";
  return static_cast<const molvane::ipc::IPC_CONNECT *>(stream->conn)->ended_reason.c_str();
}

int ipc_control(STREAM *stream, int operation, void *argument) {
  if (!IsConnection(stream)) {
    log_mesg(__FILE__, __LINE__, "ipc_control", LOG_ERROR,
             "operation %d on a stream that is not a process connection", operation);
    errno = EINVAL;
    return -1;
  }
  switch (operation) {
    case IPC_SET_DISCONNECT:
      stream->disconnect_handler = reinterpret_cast<stream_disconnect_fn>(argument);
      return 0;
    case IPC_GET_HOST:
      if (argument == nullptr) break;
      // The host name was bounded when the connection was made.
      std::memcpy(argument, stream->host, std::strlen(stream->host) + 1);
      return 0;
    case IPC_WAIT_CHILD:
      if (argument == nullptr) break;
      return static_cast<molvane::ipc::IPC_CONNECT *>(stream->conn)->WaitChild(static_cast<int *>(argument));
    case IPC_GET_REASON: {
      if (argument == nullptr) break;
      const std::string reason =
          molvane::ipc::ipc_read_reason(static_cast<molvane::ipc::IPC_CONNECT *>(stream->conn)->reason_fd);
      std::memcpy(argument, reason.c_str(), reason.size() + 1);
      return 0;
    }
    default:
      break;
  }
  log_mesg(__FILE__, __LINE__, "ipc_control", LOG_ERROR, "bad operation %d%s", operation,
           argument == nullptr ? " (no argument)" : "");
  errno = EINVAL;
  return -1;
}

int ipc_process_request(STREAM *output) {
  if (!IsConnection(output) || !output->in_process || output->process_entry == nullptr) return 0;
  return output->process_entry(output->process_arg);
}
