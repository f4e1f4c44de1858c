// Attaching the driver and opening sessions: ATT_SERVER reports the
// driver's facts, ATT_SESSION opens a session with its own SQLite
// connection. Both answer 519 while the driver holds no company mapping
// for the client's environment string, so that the client sends it; the
// attachment or the session is made all the same.
#include <unistd.h>

#include <cctype>
#include <cstdlib>

#include "dbc/request/request_codes.h"
#include "dbc/zdb_errors.h"
#include "protocol/driver_compnr.h"
#include "protocol/driver_conn.h"
#include "protocol/driver_options.h"
#include "platform/log.h"
#include "text/tss.h"

namespace molvane::driver {

namespace {

constexpr std::size_t kMaxText = 4096;
constexpr std::size_t kMaxName = 255;

bool ParseNumber(const std::string &text, unsigned long max, unsigned long *value) {
  if (text.empty()) return false;
  char *end = nullptr;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (*end != '\0' || v > max) return false;
  *value = v;
  return true;
}

}  // namespace

DriverOptions DriverOptions::FromArgs(const std::vector<std::string> &args) {
  DriverOptions options;
  for (const std::string &arg : args) {
    if (arg.rfind("--", 0) != 0) {
      if (options.database.empty()) options.database = arg;
      continue;
    }
    std::size_t eq = arg.find('=');
    std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    std::string text = eq == std::string::npos ? "" : arg.substr(eq + 1);
    unsigned long v = 0;
    bool ok = false;
    if (name == "sessions" && (ok = ParseNumber(text, 0xFFFF, &v)) && v > 0)
      options.sessions = static_cast<std::uint32_t>(v);
    else if (name == "sql-protocol" && (ok = ParseNumber(text, 0xFFFFFFFF, &v)))
      options.sql_protocol = static_cast<std::uint32_t>(v);
    else if (name == "tss-mode" && (ok = ParseNumber(text, 2, &v)) && v >= 1)
      options.tss_mode = static_cast<int>(v);
    else if (name == "sql-agent-forget-dds" && text.empty())
      ok = options.agent_forget_dds = true;
    else if (name == "idle-limit" && (ok = ParseNumber(text, 255, &v)))
      options.idle_limit = static_cast<std::uint8_t>(v);
    else if (name == "audit-list" && eq == std::string::npos)
      ok = options.audit_list = true;
    else if (name == "max-pages" && (ok = ParseNumber(text, 0x7FFFFFFF, &v)))
      options.max_pages = static_cast<std::uint32_t>(v);
    else if (name == "max-connections" && (ok = ParseNumber(text, 1000000, &v)) && v > 0)
      options.max_connections = static_cast<std::uint32_t>(v);
    else if (name == "max-buffered-mib" && (ok = ParseNumber(text, 1u << 20, &v)) && v > 0)
      options.max_buffered = static_cast<std::size_t>(v) << 20;
    else if (name == "idle-transaction-limit" && (ok = ParseNumber(text, 0x7FFFFFFF, &v)) && v > 0)
      options.idle_transaction_limit = static_cast<int>(v);
    else if (name == "open-result-limit" && (ok = ParseNumber(text, 0x7FFFFFFF, &v)) && v > 0)
      options.open_result_limit = static_cast<int>(v);
    else
      ok = false;
    if (!ok) {
      log_mesg(__FILE__, __LINE__, "driver", 0x80, "option '%s' ignored", arg.c_str());
      options.refused.push_back(arg);
    }
  }
  return options;
}

std::uint32_t DriverConnection::CompnrRetval() const {
  return FindCompnrMap(compnr_env_) == nullptr ? ZE_ILLEGAL_COMPNR : 0;
}

namespace {

// A table of the new dictionary is named with its first letter in upper
// case; the mapping names the table as the dictionary does.
std::string MappedName(const std::string &table) {
  std::string name = table;
  if (!name.empty()) name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
  return name;
}

}  // namespace

int DriverConnection::PhysicalCompnr(const std::string &table, int logical) const {
  const CompnrMap *map = FindCompnrMap(compnr_env_);
  return map == nullptr ? logical : map->Physical(MappedName(table), logical);
}

std::vector<int> DriverConnection::LogicalCompnrs(const std::string &table, int physical) const {
  const CompnrMap *map = FindCompnrMap(compnr_env_);
  return map == nullptr ? std::vector<int>{} : map->Logicals(MappedName(table), physical);
}

int DriverConnection::LogicalCompnr(const std::string &table, int physical) const {
  if (PhysicalCompnr(table, physical) == physical) return physical;
  for (int logical = 0; logical <= 999; ++logical)
    if (PhysicalCompnr(table, logical) == physical) return logical;
  return physical;
}

void DriverConnection::AttServer(WireReader &in, WireWriter &out) {
  in.U32();  // driver number
  in.U16();  // file format
  in.U16();
  in.U32();  // the client's SQL protocol
  in.Text(ZDB_USER_NAME_MAX);
  std::string env = in.Text(kMaxText);
  std::string server_text = in.Text(kMaxText);
  // References switched off in the client: the driver does no reference work.
  references_ = server_text != ZDB_NO_REFS;
  if (!references_) server_text = in.Text(kMaxText);
  compnr_env_ = env;
  int mode = options_.tss_mode != 0 ? options_.tss_mode : TssGetMode();
  std::uint32_t level = mode == 2 ? ZDB_LEVEL_UTFT : 0;
  out.U32(options_.sessions).U32(static_cast<std::uint32_t>(getpid())).U32(level);
  out.U32(options_.sql_protocol).U8(options_.idle_limit).U32(CompnrRetval());
}

void DriverConnection::AttSession(WireReader &in, WireWriter &out) {
  std::string name = in.Text(kMaxName);
  if (sessions_.size() >= options_.sessions) {
    log_mesg(__FILE__, __LINE__, "driver", 0, "session '%s' refused: %u sessions in use",
             name.c_str(), options_.sessions);
    out.U32(0).U32(ZE_NO_RESOURCE);
    return;
  }
  std::string error;
  DriverSession *session = store_.OpenSession(name, &error);
  if (session == nullptr) {
    log_mesg(__FILE__, __LINE__, "driver", 0, "cannot open database '%s': %s",
             store_.path().c_str(), error.c_str());
    refusal_ = error;
    out.U32(0).U32(store_.last_failure() != 0 ? store_.last_failure() : ZE_ILLEGAL_STATE);
    return;
  }
  sessions_.insert(session->id());
  had_session_ = true;
  out.U32(session->id()).U32(CompnrRetval());
}

}  // namespace molvane::driver
