// The binary trace.
//
// Records are built field by field in big-endian order and appended with a
// single write each, so that the records of the library and of the drivers
// it hands the settings to (driver command 1) can share one file without
// mixing. Duration records are kept in memory from the call that starts
// them until the call that ends them, and written only then.
#include "platform/blat.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/env.h"
#include "platform/log.h"

namespace {

constexpr uint16_t kRecordMarker = 0xB1A7;
constexpr size_t kHeaderSize = 24;
constexpr size_t kNameField = 16;
constexpr size_t kMaxLocation = 255;
constexpr size_t kMaxStatementText = 4000;
constexpr uint16_t kFlagCut = 1;
constexpr int kClassCount = 5;   // classes 1..4 (2 unused)
constexpr int kSlotCount = 8;

enum SessionKind { kSessStart = 1, kSessRename, kSessStop, kSessZdbStart, kSessZdbStop };
enum TransactionKind { kCommit = 1, kAbort, kCommitFailed, kZdbCommit, kZdbAbort };
enum SqlKind { kSqlAction = 1, kSqlNetFetch };

class Record {
 public:
  Record(int trace_class, int kind) : class_(trace_class), kind_(kind) {}
  void U8(unsigned v) { bytes_.push_back(static_cast<char>(v & 0xFF)); }
  void U16(unsigned v) {
    U8(v >> 8);
    U8(v);
  }
  void U32(uint32_t v) {
    U16(v >> 16);
    U16(v & 0xFFFF);
  }
  void U64(uint64_t v) {
    U32(static_cast<uint32_t>(v >> 32));
    U32(static_cast<uint32_t>(v));
  }
  // A text in a fixed field, NUL-padded; a longer text is cut and flagged.
  void Fixed(const char *text, size_t width) {
    const size_t len = text != nullptr ? strnlen(text, width + 1) : 0;
    if (len > width) flags_ |= kFlagCut;
    const size_t used = len > width ? width : len;
    bytes_.append(text != nullptr ? text : "", used);
    bytes_.append(width - used, '\0');
  }
  // Cuts a variable text to its limit, flagging the cut; returns its length.
  size_t Limit(std::string_view text, size_t limit) {
    if (text.size() > limit) flags_ |= kFlagCut;
    return text.size() > limit ? limit : text.size();
  }
  void Raw(std::string_view bytes) { bytes_.append(bytes); }
  const std::string &payload() const { return bytes_; }
  int trace_class() const { return class_; }
  int kind() const { return kind_; }
  uint16_t flags() const { return flags_; }

 private:
  int class_;
  int kind_;
  uint16_t flags_ = 0;
  std::string bytes_;
};

struct KeptRecord {
  bool used = false;
  int64_t start_us = 0;
  Record record{0, 0};
  std::string tail;  // fields written after the elapsed time
};

struct SqlStatementInfo {
  int session_id = 0;
  std::string text;
};

struct Tracer {
  bool initiated = false;
  std::string setting;          // the BLAT text in force
  int state[kClassCount] = {};  // BlatState bits per class
  int64_t threshold_us[kClassCount] = {};
  std::string file;
  int fd = -1;
  uint32_t sequence = 0;
  KeptRecord slots[kClassCount][kSlotCount];
  std::map<std::pair<uint64_t, int>, int64_t> sql_started;  // (statement, action) -> start
  std::map<uint64_t, SqlStatementInfo> sql_info;
  std::map<std::string, uint32_t> host_ids;
  BlatServerSender sender = nullptr;
  blat_loc_callback location = nullptr;

  ~Tracer() {
    if (fd >= 0) close(fd);
  }
};

Tracer &state() {
  static Tracer s;
  return s;
}

int64_t now_us() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

bool traced(int trace_class) {
  Tracer &s = state();
  if (!s.initiated) blat_initiate();
  return trace_class > 0 && trace_class < kClassCount && (s.state[trace_class] & BLAT_STATE_ON);
}

std::string temporary_folder() {
  const char *tmp = get_zuv_tmp();
  return tmp != nullptr ? tmp : "";
}

std::string in_temporary_folder(const std::string &name) {
  if (!name.empty() && name.front() == '/') return name;
  const std::string folder = temporary_folder();
  return folder.empty() ? name : folder + "/" + name;
}

bool parse_class(std::string_view word, int *trace_class) {
  if (word == "sess" || word == "1") *trace_class = BLAT_CLASS_SESSION;
  else if (word == "trans" || word == "3") *trace_class = BLAT_CLASS_TRANSACTION;
  else if (word == "sql" || word == "4") *trace_class = BLAT_CLASS_SQL;
  else return false;
  return true;
}

// Applies a BLAT text; unknown words are reported and skipped.
void apply_setting(Tracer &s, const std::string &setting) {
  for (int c = 0; c < kClassCount; ++c) {
    s.state[c] = 0;
    s.threshold_us[c] = 0;
  }
  s.setting = setting;
  size_t i = 0;
  while (i < setting.size()) {
    const size_t end = setting.find_first_of(", \t", i);
    const std::string_view item =
        std::string_view(setting).substr(i, (end == std::string::npos ? setting.size() : end) - i);
    i = end == std::string::npos ? setting.size() : end + 1;
    if (item.empty()) continue;
    const size_t colon = item.find(':');
    const std::string_view word = item.substr(0, colon);
    int64_t threshold_ms = 0;
    bool threshold_ok = true;
    if (colon != std::string_view::npos) {
      const std::string digits(item.substr(colon + 1));
      char *stop = nullptr;
      threshold_ms = std::strtoll(digits.c_str(), &stop, 10);
      threshold_ok = !digits.empty() && *stop == '\0' && threshold_ms >= 0 &&
                     threshold_ms <= 86400000;
    }
    std::vector<int> classes;
    int c = 0;
    if (word == "all") {
      classes = {BLAT_CLASS_SESSION, BLAT_CLASS_TRANSACTION, BLAT_CLASS_SQL};
    } else if (parse_class(word, &c)) {
      classes = {c};
    }
    if (classes.empty() || !threshold_ok) {
      log_mesg(__FILE__, __LINE__, "BLAT", 0x80, "Unknown trace class '%.*s' ignored",
               static_cast<int>(item.size()), item.data());
      continue;
    }
    for (int each : classes) {
      s.state[each] = BLAT_STATE_ON;
      if (threshold_ms > 0) s.state[each] |= BLAT_STATE_THRESHOLD;
      s.threshold_us[each] = threshold_ms * 1000;
    }
  }
}

bool any_traced(const Tracer &s) {
  for (int c = 1; c < kClassCount; ++c) {
    if (s.state[c] & BLAT_STATE_ON) return true;
  }
  return false;
}

void reopen(Tracer &s, const std::string &file) {
  if (s.fd >= 0) close(s.fd);
  s.fd = -1;
  s.file = any_traced(s) ? file : std::string();
}

void emit(const Record &record) {
  Tracer &s = state();
  if (s.file.empty()) return;
  if (s.fd < 0) {
    s.fd = open(s.file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (s.fd < 0) {
      log_mesg(__FILE__, __LINE__, "BLAT", 0, "Cannot open trace file %s; trace stopped",
               s.file.c_str());
      s.file.clear();
      return;
    }
  }
  const std::string &payload = record.payload();
  const size_t length = kHeaderSize + payload.size();
  Record out(0, 0);
  out.U16(kRecordMarker);
  out.U16(static_cast<unsigned>(length));
  out.U8(static_cast<unsigned>(record.trace_class()));
  out.U8(static_cast<unsigned>(record.kind()));
  out.U16(record.flags());
  out.U32(static_cast<uint32_t>(getpid()));
  out.U64(static_cast<uint64_t>(now_us()));
  out.U32(++s.sequence);
  out.Raw(payload);
  if (write(s.fd, out.payload().data(), length) != static_cast<ssize_t>(length)) {
    log_mesg(__FILE__, __LINE__, "BLAT", 0, "Cannot write trace file %s; trace stopped",
             s.file.c_str());
    close(s.fd);
    s.fd = -1;
    s.file.clear();
  }
}

void session_record(int kind, int trans_id, const char *name) {
  if (!traced(BLAT_CLASS_SESSION)) return;
  Record r(BLAT_CLASS_SESSION, kind);
  r.U16(static_cast<unsigned>(trans_id));
  r.U16(0);
  if (name != nullptr) r.Fixed(name, kNameField);
  emit(r);
}

void driver_session_record(int kind, int trans_id, uint32_t host, uint32_t pid, uint32_t sid) {
  if (!traced(BLAT_CLASS_SESSION)) return;
  Record r(BLAT_CLASS_SESSION, kind);
  r.U16(static_cast<unsigned>(trans_id));
  r.U16(0);
  r.U32(host);
  r.U32(pid);
  r.U32(sid);
  emit(r);
}

// Keeps a transaction record in its slot; the elapsed time and the fields
// after it are added when the slot is checked.
void keep_transaction(int kind, int slot, int trans_id, std::string tail) {
  if (!traced(BLAT_CLASS_TRANSACTION)) return;
  KeptRecord &kept = state().slots[BLAT_CLASS_TRANSACTION][slot];
  kept.used = true;
  kept.start_us = now_us();
  kept.record = Record(BLAT_CLASS_TRANSACTION, kind);
  kept.record.U16(static_cast<unsigned>(trans_id));
  kept.record.U16(static_cast<unsigned>(slot));
  kept.tail = std::move(tail);
}

std::string driver_fields(uint32_t host, uint32_t pid, uint32_t sid) {
  Record r(0, 0);
  r.U32(host);
  r.U32(pid);
  r.U32(sid);
  return r.payload();
}

}  // namespace

void blat_initiate() {
  Tracer &s = state();
  s.initiated = true;
  const char *setting = std::getenv("BLAT");
  apply_setting(s, setting != nullptr ? setting : "");
  const char *log = std::getenv("BLATLOG");
  const std::string name = log != nullptr && *log != '\0'
                               ? std::string(log)
                               : "blat" + std::to_string(getpid()) + ".trc";
  reopen(s, in_temporary_folder(name));
}

int blat_get_state(int trace_class) {
  if (!traced(trace_class)) return 0;
  return state().state[trace_class];
}

std::string blat_file_name() {
  if (!state().initiated) blat_initiate();
  return state().file;
}

uint32_t blat_get_hid_host(const char *host_name) {
  if (host_name == nullptr || *host_name == '\0') return 0;
  Tracer &s = state();
  const auto found = s.host_ids.find(host_name);
  if (found != s.host_ids.end()) return found->second;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo *result = nullptr;
  uint32_t id = 0;
  if (getaddrinfo(host_name, nullptr, &hints, &result) == 0 && result != nullptr) {
    const auto *address = reinterpret_cast<const sockaddr_in *>(result->ai_addr);
    id = ntohl(address->sin_addr.s_addr);
  }
  if (result != nullptr) freeaddrinfo(result);
  s.host_ids.emplace(host_name, id);
  return id;
}

void blat_sess_start(const char *name, int trans_id) {
  session_record(kSessStart, trans_id, name != nullptr ? name : "");
}
void blat_sess_rename(const char *name, int trans_id) {
  session_record(kSessRename, trans_id, name != nullptr ? name : "");
}
void blat_sess_stop(int trans_id) { session_record(kSessStop, trans_id, nullptr); }

void blat_sess_zdb_start(int trans_id, uint32_t host_id, uint32_t driver_pid,
                         uint32_t server_session_id) {
  driver_session_record(kSessZdbStart, trans_id, host_id, driver_pid, server_session_id);
}
void blat_sess_zdb_stop(int trans_id, uint32_t host_id, uint32_t driver_pid,
                        uint32_t server_session_id) {
  driver_session_record(kSessZdbStop, trans_id, host_id, driver_pid, server_session_id);
}

void blat_trans_commit(int trans_id) { keep_transaction(kCommit, BLAT_SLOT_COMMIT, trans_id, {}); }
void blat_trans_abort(int trans_id) { keep_transaction(kAbort, BLAT_SLOT_ABORT, trans_id, {}); }
void blat_trans_commit_failed(int trans_id) {
  keep_transaction(kCommitFailed, BLAT_SLOT_COMMIT, trans_id, {});
}
void blat_trans_zdb_commit(int trans_id, uint32_t host_id, uint32_t driver_pid,
                           uint32_t server_session_id) {
  keep_transaction(kZdbCommit, BLAT_SLOT_ZDB_COMMIT, trans_id,
                   driver_fields(host_id, driver_pid, server_session_id));
}
void blat_trans_zdb_abort(int trans_id, uint32_t host_id, uint32_t driver_pid,
                          uint32_t server_session_id) {
  keep_transaction(kZdbAbort, BLAT_SLOT_ZDB_ABORT, trans_id,
                   driver_fields(host_id, driver_pid, server_session_id));
}

void blat_threshold_check(int trace_class, int slot) {
  if (trace_class <= 0 || trace_class >= kClassCount || slot < 0 || slot >= kSlotCount) return;
  Tracer &s = state();
  KeptRecord &kept = s.slots[trace_class][slot];
  if (!kept.used) return;
  kept.used = false;
  if (!traced(trace_class)) return;
  const int64_t elapsed = now_us() - kept.start_us;
  if (elapsed < s.threshold_us[trace_class]) return;
  Record r = kept.record;
  r.U64(static_cast<uint64_t>(elapsed));
  r.Raw(kept.tail);
  emit(r);
}

void blat_set_server_sender(BlatServerSender sender) { state().sender = sender; }

int blat_proc_new_server(void *driver) {
  Tracer &s = state();
  if (!s.initiated) blat_initiate();
  if (!any_traced(s)) return 0;
  if (s.sender == nullptr) return -1;
  const std::string message = s.setting + "\n" + s.file;
  return s.sender(driver, 1, message.data(), static_cast<int>(message.size())) < 0 ? -1 : 0;
}

int blat_apply_settings(const char *message, int length) {
  if (message == nullptr || length < 0) return -1;
  const std::string_view text(message, static_cast<size_t>(length));
  const size_t nl = text.find('\n');
  const std::string file(nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1));
  if (file.empty() || file.front() != '/' || text.find('\0') != std::string_view::npos) {
    log_mesg(__FILE__, __LINE__, "BLAT", 0, "Malformed trace settings of %d bytes ignored", length);
    return -1;
  }
  Tracer &s = state();
  s.initiated = true;
  apply_setting(s, std::string(text.substr(0, nl)));
  reopen(s, file);
  return 0;
}

extern "C" void blat_set_loc_callback(blat_loc_callback callback) { state().location = callback; }

void blat_sql_info(uint64_t statement_id, int session_id, const char *text) {
  if (!traced(BLAT_CLASS_SQL)) return;
  state().sql_info[statement_id] = SqlStatementInfo{session_id, text != nullptr ? text : ""};
}

void blat_sql_action_start(uint64_t statement_id, int action) {
  if (!traced(BLAT_CLASS_SQL)) return;
  state().sql_started[{statement_id, action}] = now_us();
}

void blat_sql_action_end(uint64_t statement_id, int action) {
  Tracer &s = state();
  const auto started = s.sql_started.find({statement_id, action});
  if (started == s.sql_started.end()) return;
  const int64_t elapsed = now_us() - started->second;
  s.sql_started.erase(started);
  const auto info = s.sql_info.find(statement_id);
  const SqlStatementInfo known = info != s.sql_info.end() ? info->second : SqlStatementInfo{};
  if (action == BLAT_SQL_CLOSE && info != s.sql_info.end()) s.sql_info.erase(info);
  if (!traced(BLAT_CLASS_SQL) || elapsed < s.threshold_us[BLAT_CLASS_SQL]) return;

  char location[kMaxLocation + 2] = "";
  if (s.location != nullptr) {
    s.location(location, static_cast<int>(sizeof location));
    location[sizeof location - 1] = '\0';
  }
  Record r(BLAT_CLASS_SQL, kSqlAction);
  const std::string_view where(location);
  const std::string_view text =
      action == BLAT_SQL_PARSE ? std::string_view(known.text) : std::string_view();
  const size_t where_len = r.Limit(where, kMaxLocation);
  const size_t text_len = r.Limit(text, kMaxStatementText);
  r.U64(statement_id);
  r.U16(static_cast<unsigned>(known.session_id));
  r.U8(static_cast<unsigned>(action));
  r.U8(0);
  r.U64(static_cast<uint64_t>(elapsed));
  r.U16(static_cast<unsigned>(where_len));
  r.U16(static_cast<unsigned>(text_len));
  r.Raw(where.substr(0, where_len));
  r.Raw(text.substr(0, text_len));
  emit(r);
}

void blat_sql_netFetchId(uint64_t agent_statement_id) {
  if (!traced(BLAT_CLASS_SQL)) return;
  Record r(BLAT_CLASS_SQL, kSqlNetFetch);
  r.U64(agent_statement_id);
  emit(r);
}

extern "C" int redirect_stderr_for_trace(const char *file_name) {
  const std::string path = file_name != nullptr && *file_name != '\0'
                               ? std::string(file_name)
                               : in_temporary_folder("stderr" + std::to_string(getpid()) + ".log");
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) {
    log_mesg(__FILE__, __LINE__, "Trace", 0, "Cannot open %s for standard error", path.c_str());
    return -1;
  }
  std::fflush(stderr);
  const int result = dup2(fd, STDERR_FILENO);
  close(fd);
  return result < 0 ? -1 : 0;
}
