// The database client's own settings table (DBC_RESOURCES), read at logon.
#pragma once

#include <string>

#include "platform/resource.h"

// Values of the settings, valid after dbc_set_resources.
struct DBC_SETTINGS {
  int ssts_set_rows;
  int zdb_max_server_schedule;
  int rds_full;
  long tt_sql_trace;
  int use_shm_info;
  long zdb_debug;
  char *zdb_driver;
  int dbcinit;
  int audit_per_compnr;
  int qelt_sql_trace;
  int qelt_sql_stmt_cache_size;
  int qelt_sql_cacherows;
  int qelt_sql_soft_close_delay;
  int qelt_sql_join_whole_rows;
};

DBC_SETTINGS &dbc_settings();

// Loads "lib/defaults/db_resource", then the file named by USR_DBC_RES, and
// registers the table for environment variables and later updates.
void dbc_set_resources();
// The warning on the lines of the settings files read so far that no
// setting takes ("Settings file F, line N: ..."; "; " between lines), or ""
// when there are none. When the user's own file has such a line and
// user_type still holds its default S, it says that the user is a super
// user.
std::string dbc_settings_warning();

// The warning of a logon whose user settings are not those it names: the
// user record and its settings file "lib/user/u<user>" are those of the
// user that zdb_init_api found (ZUV_USER, else the login name), whatever
// name zdb_logon is given. Names the file read and, when the logon names
// another user, that user's file, which is not read; when the logon's
// user has no file, says that the defaults apply. "" when the logon names
// the user of the settings and their file is there, or without an
// environment root (the logon warns of that already).
std::string dbc_logon_user_warning(const char *logon_user);
// Applies settings given as text to this table, else to all tables.
int dbc_update_resources(const char *command);
// Attaches a change callback to a setting; -1 with zdb_errno 215 when the
// table has no such setting.
int dbc_set_resource_mutfun(const char *name, al_res_mutfun callback);

// Change callback of qelt_sql_trace: the SQL trace re-reads its flags.
void dbc_sql_trace_changed(AL_RESOURCE *res);
// The SQL layers' reader of the trace settings (qelt_sql_trace,
// tt_sql_trace); 0 for any other name.
long dbc_sql_setting(const char *name);
