// Start-up, logon and logoff of the database API, and the process-wide
// state every other call checks.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <molvane/zdb.h>

#include "dbc/audit/auditcols.h"
#include "dbc/compnr/compnr.h"
#include "dbc/session/dbc_settings.h"
#include "dbc/dict/dd.h"
#include "dbc/perm/perm_roles.h"
#include "dbc/request/request_block.h"
#include "sql/statement/sql_api_internal.h"
#include "dbc/tabledef/tabledef.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_server.h"
#include "dbc/session/zdb_trans.h"
#include "dbc/zdb_guard.h"
#include "dbc/zdb_msg.h"
#include "platform/env.h"
#include "platform/blat.h"
#include "platform/log.h"
#include "platform/shm.h"
#include "platform/user.h"
#include "sql/common/sql_logger.h"
#include "sql/roles/roles_mgr.h"
#include <molvane/tss.h>

#include "text/tss.h"

int zdb_errno = 0;

namespace {

DBC_STATE g_state;

// Change callback of the setting zdb_debug: mirrors the word into ZDB_DEBUG.
void debug_word_changed(AL_RESOURCE *) {
  // The settings layer calls back on every assignment; only a new value
  // counts as a change.
  static long mirrored = 0;
  if (dbc_settings().zdb_debug == mirrored) return;
  mirrored = dbc_settings().zdb_debug;
  g_state.debug = static_cast<int>(dbc_settings().zdb_debug);
  char text[32];
  std::snprintf(text, sizeof text, "%#o", g_state.debug);
  qelt_setenv("ZDB_DEBUG", text, 1);
  std::fprintf(stderr, "---- ZDB_DEBUG set to %#o\n", g_state.debug);
}

// The trace's way to a newly attached driver: an EXE_SYSTEM command.
int send_system_command(void *driver, int command, const char *message, int length) {
  if (length < 0 || length > 0xFFFF) return -1;
  dbc_request_prepare(EXE_SYSTEM);
  ZDB_REQUEST &req = dbc_request();
  req.exe.command = static_cast<std::uint32_t>(command);
  req.exe.msg = message;
  req.exe.msglen = static_cast<std::uint16_t>(length);
  return zdb_commu(static_cast<ZDB_SERVER *>(driver));
}

}  // namespace

DBC_STATE &dbc_state() { return g_state; }

int zdb_get_zdb_errno(void) { return zdb_errno; }

void zdb_error(int number) { zdb_errno = number; }

int zdb_start() {
  if (!g_state.logged_on) {
    zdb_errno = ZE_NOT_LOGGED_ON;
    set_zdb_msg("Not logged on: call zdb_logon first");
    return -1;
  }
  zdb_errno = 0;
  return 0;
}

void zdb_set_profile_callback(void (*callback)(int)) { g_state.profile_callback = callback; }

static int zdb_init_api_unguarded(const char *progname, const char *log_arg, int link,
                                  int locale_arg) {
  log_set_progname(progname, log_arg);
  if (int rc = init_user(); rc != 0) return rc;
  blat_initiate();
  blat_set_server_sender(send_system_command);
  if (link != 0) {
    if (int rc = link_shm(); rc != 0) return rc;
  }
  init_local_dd();
  if (int rc = TSSsetlocale("ISO-8859-1", locale_arg); rc != 0) return rc;
  init_dd_mode(4);
  return 0;
}

int zdb_init_api(const char *progname, const char *log_arg, int link, int locale_arg) {
  return zdb_api_call([&] { return zdb_init_api_unguarded(progname, log_arg, link, locale_arg); });
}

static int zdb_logon_unguarded(const char *user) {
  if (g_state.logged_on) {
    zdb_errno = ZE_ALREADY_LOGGED_ON;
    set_zdb_msg_logged("zdb_logon", 0,
                       "zdb_logon was already called in this process: a process logs on once, "
                       "even after zdb_logoff; start a new process to log on again");
    return -1;
  }
  if ((dd_state() & (DD_STATE_LOCAL | DD_STATE_GLOBAL)) == 0) {
    zdb_errno = ZE_ILLEGAL_STATE;
    set_zdb_msg_logged("zdb_logon", 0, "zdb_init_api was not called: call zdb_init_api before zdb_logon");
    return -1;
  }
  const char *root = get_zuv();
  struct stat root_stat;
  bool warned = false;
  if (*root == '\0') {
    std::string folder = dd_dump_folder();
    set_zdb_msg_logged("zdb_logon", LOG_WARNING,
                       "No environment root is set (set_zuv or the variable ZUV): its settings, "
                       "driver map and table definitions are not read, and dictionaries are "
                       "looked for in %s",
                       folder.empty() ? "no folder (F_ZRDD is not set either)" : folder.c_str());
    warned = true;
  } else if (::stat(root, &root_stat) != 0 || !S_ISDIR(root_stat.st_mode)) {
    std::string folder = dd_dump_folder();
    set_zdb_msg_logged("zdb_logon", LOG_WARNING,
                       "The environment root %s (set_zuv or the variable ZUV) is not a folder: "
                       "its settings, driver map and table definitions are not read, and "
                       "dictionaries are looked for in %s",
                       root, folder.c_str());
    warned = true;
  }
  std::memset(g_state.user, 0, sizeof g_state.user);
  if (user != nullptr) std::strncpy(g_state.user, user, ZDB_USER_NAME_MAX);
  std::memset(g_state.id_in_use, 0, sizeof g_state.id_in_use);

  if (!determine_DT_version()) {
    log_mesg(__FILE__, __LINE__, "zdb_logon", 0, "Could not determine development tools version");
    return -1;
  }
  if (zdb_init_commu() != 0) return -1;
  dbc_set_resource_mutfun("zdb_debug", debug_word_changed);
  dbc_set_resource_mutfun("qelt_sql_trace", dbc_sql_trace_changed);
  dbc_set_resources();
  // A warning after one already given joins it in the message text.
  auto warn = [&warned](const std::string &text) {
    if (text.empty()) return;
    if (warned)
      add_zdb_msg("; ");
    else
      reset_zdb_msg();
    set_zdb_msg_logged("zdb_logon", LOG_WARNING, "%s", text.c_str());
    warned = true;
  };
  // A misspelt name or a line without a colon is ignored by the settings;
  // the host hears of it here, where every settings table is registered.
  warn(dbc_settings_warning());
  // The user record is the one zdb_init_api read: a logon that names
  // another user, or a user without a settings file, hears which counts.
  warn(dbc_logon_user_warning(user));
  if (audit_read_auditcols() < 0) {
    zdb_errno = ZE_AUDIT_SETUP;
    return -1;
  }
  DBC_SETTINGS &settings = dbc_settings();
  if (settings.zdb_driver != nullptr && settings.zdb_driver[0] != '\0')
    specify_server(settings.zdb_driver);
  if (settings.zdb_debug > 0) g_state.debug = static_cast<int>(settings.zdb_debug);
  g_state.server_schedule_limit =
      settings.zdb_max_server_schedule >= 0 ? settings.zdb_max_server_schedule : 3;
  if (settings.dbcinit < 0) settings.dbcinit = 0;
  if (zdb_load_roles() != 0) return -1;
  if (std::string roles = zdb_roles_warning(); !roles.empty()) {
    const char *before = get_zdb_msg();
    if (before != nullptr && before[0] != '\0') add_zdb_msg("; ");
    set_zdb_msg_logged("zdb_logon", LOG_WARNING, "%s", roles.c_str());
  }
  // Row conditions the SQL layer cached belong to the previous logon's
  // roles; this logon (perhaps another user's) reads its own.
  SQLRolesMgrExit();
  init_qpc_debug();
  SQLLoggerInitLogFlags();
  if (TssGetMode() == 2) initialize_icuwrappers();
  g_state.logged_on = true;
  g_state.profile_callback = nullptr;
  return 0;
}

int zdb_logon(const char *user) {
  return zdb_api_call([&] { return zdb_logon_unguarded(user); });
}

unsigned short zdb_get_physical_compnr(const char *table, int compnr) {
  // Loading the mapping may run out of memory: 0xFFFF with 501 then.
  return zdb_api_call_or<unsigned short>(0xFFFF, [&]() -> unsigned short {
    if (table == nullptr || std::strlen(table) != 8) {
      zdb_errno = ZE_ILLEGAL_ARGUMENT;
      set_zdb_msg("Illegal argument: zdb_get_physical_compnr needs a table name of 8 characters, "
                  "got %s%s%s",
                  table == nullptr ? "none" : "'", table == nullptr ? "" : table,
                  table == nullptr ? "" : "'");
      return 0xFFFF;
    }
    if (compnr < 0 || compnr > 999) {
      zdb_errno = ZE_ILLEGAL_COMPNR;
      set_zdb_msg("Illegal company number %d for %.8s: a company number lies from 0 to 999", compnr,
                  table);
      return 0xFFFF;
    }
    return static_cast<unsigned short>(compnrLogicToPhysic(compnrGetCompnrData(table), compnr));
  });
}
