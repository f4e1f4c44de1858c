// The settings table of the database client (DBC_RESOURCES).
#include "dbc/session/dbc_settings.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_trans.h"
#include "platform/env.h"
#include "platform/resource_files.h"
#include "platform/user.h"
#include "sql/common/sql_logger.h"

namespace {

DBC_SETTINGS g_settings;

constexpr int kInt = AL_RES_INT | AL_RES_ENVWIN;                                // 0x2004
constexpr int kString = AL_RES_ALLOCSTR | AL_RES_ENVWIN;                        // 0x2080
constexpr int kOctalInt = AL_RES_INT | AL_RES_OCTAL | AL_RES_ENVWIN;            // 0x2404
constexpr int kOctalIntCb = kOctalInt | AL_RES_MUTFUN;                          // 0xA404
constexpr int kOctalLongCb = AL_RES_LONG | AL_RES_OCTAL | AL_RES_ENVWIN | AL_RES_MUTFUN;  // 0xA408

AL_RESOURCE g_table[] = {
    {"ssts_set_rows", &g_settings.ssts_set_rows, kInt, 0, "-1", nullptr, nullptr, nullptr},
    {"zdb_max_server_schedule", &g_settings.zdb_max_server_schedule, kInt, 0, "-1", nullptr,
     nullptr, nullptr},
    {"rds_full", &g_settings.rds_full, kInt, 0, "5", nullptr, nullptr, nullptr},
    {"tt_sql_trace", &g_settings.tt_sql_trace, kOctalLongCb, 0, "0", nullptr, nullptr, nullptr},
    {"use_shm_info", &g_settings.use_shm_info, kInt, 0, "1", nullptr, nullptr, nullptr},
    {"zdb_debug", &g_settings.zdb_debug, kOctalLongCb, 0, "0", nullptr, nullptr, nullptr},
    {"zdb_driver", &g_settings.zdb_driver, kString, 0, "", nullptr, nullptr, nullptr},
    {"dbcinit", &g_settings.dbcinit, kOctalInt, 0, "-1", nullptr, nullptr, nullptr},
    {"audit_per_compnr", &g_settings.audit_per_compnr, kInt, 0, "0", nullptr, nullptr, nullptr},
    {"qelt_sql_trace", &g_settings.qelt_sql_trace, kOctalIntCb, 0, "0", nullptr, nullptr, nullptr},
    {"qelt_sql_stmt_cache_size", &g_settings.qelt_sql_stmt_cache_size, kInt, 0, "-1", nullptr,
     nullptr, nullptr},
    {"qelt_sql_cacherows", &g_settings.qelt_sql_cacherows, kInt, 0, "-1", nullptr, nullptr,
     nullptr},
    {"qelt_sql_soft_close_delay", &g_settings.qelt_sql_soft_close_delay, kInt, 0, "-1", nullptr,
     nullptr, nullptr},
    {"qelt_sql_join_whole_rows", &g_settings.qelt_sql_join_whole_rows, kInt, 0, "-1", nullptr,
     nullptr, nullptr},
    {"", nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

DBC_SETTINGS &dbc_settings() { return g_settings; }

void dbc_set_resources() {
  al_load_specified_res("lib/defaults/db_resource", g_table);
  const char *user_file = std::getenv("USR_DBC_RES");
  if (user_file != nullptr && user_file[0] != '\0') al_load_specified_res(user_file, g_table);
  al_add_resources(g_table);
  SQL_set_setting_reader(dbc_sql_setting);
}

int dbc_update_resources(const char *command) {
  int applied = al_updreses_by_comstring(command, g_table);
  if (applied <= 0) applied = al_updreses_by_comstring(command, nullptr);
  return applied;
}

int dbc_set_resource_mutfun(const char *name, al_res_mutfun callback) {
  if (al_setres_mutfun(name, callback, g_table) < 0) {
    zdb_error(ZE_ILLEGAL_STATE);
    return -1;
  }
  return 0;
}

void dbc_sql_trace_changed(AL_RESOURCE *) { SQLLoggerInitLogFlags(); }

long dbc_sql_setting(const char *name) {
  if (name == nullptr) return 0;
  if (std::strcmp(name, "qelt_sql_trace") == 0) return g_settings.qelt_sql_trace;
  if (std::strcmp(name, "tt_sql_trace") == 0) return g_settings.tt_sql_trace;
  return 0;
}

std::string dbc_settings_warning() {
  std::vector<AlSettingsProblem> problems = al_settings_problems();
  std::string text;
  bool in_user_file = false;
  const std::string user = al_settings_user();
  const std::string user_file = "/lib/user/u" + user;
  for (const AlSettingsProblem &p : problems) {
    if (!text.empty()) text += "; ";
    text += "Settings file " + p.file + ", line " + std::to_string(p.line) + ": " + p.text;
    in_user_file = in_user_file || (!user.empty() && p.file.ends_with(user_file));
  }
  // A misspelt user_type leaves the default, the user who may do anything.
  if (in_user_file && user_info.user_type == 'S' && al_setting_is_default("user_type")) {
    text += "; no line sets user_type, so user " + user +
            " is a super user (type S) whom no roles restrict";
  }
  return text;
}

namespace {

bool IsFile(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// What the user type in effect means, for a warning.
std::string UserTypeWords() {
  if (user_info.user_type == 'S') return "type S, a super user whom no roles restrict";
  return std::string("type ") + user_info.user_type;
}

}  // namespace

std::string dbc_logon_user_warning(const char *logon_user) {
  const char *root = get_zuv();
  const std::string user = al_settings_user();
  struct stat root_stat;
  if (root == nullptr || root[0] == '\0' || user.empty() || ::stat(root, &root_stat) != 0 ||
      !S_ISDIR(root_stat.st_mode))
    return "";
  const std::string folder = std::string(root) + "/lib/user/u";
  const std::string file = folder + user;
  const bool found = IsFile(file);
  std::string named = logon_user != nullptr ? std::string(logon_user).substr(0, USER_NAME_LEN) : "";
  if (named.empty() || named == user) {
    if (found) return "";
    return "No settings file " + file + " for user " + user + ": the defaults apply (" + UserTypeWords() +
           ")";
  }
  std::string text = "zdb_logon names user " + named + ", but the settings are those of user " + user +
                     " (ZUV_USER, else the login name, when zdb_init_api ran): ";
  text += found ? "read from " + file + " (" + UserTypeWords() + ")"
                : "no file " + file + ", so the defaults apply (" + UserTypeWords() + ")";
  const std::string other = folder + named;
  if (IsFile(other)) text += "; " + other + " is not read";
  text += "; set ZUV_USER=" + named + " before zdb_init_api for the settings of " + named;
  return text;
}
