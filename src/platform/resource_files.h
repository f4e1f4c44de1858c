// Internal links between the settings tables, the environment and the user
// record (not for other subsystems).
#pragma once

#include <string>
#include <vector>

extern "C" {
// Forgets cached settings files (the environment root or the user changed).
void al_settings_files_changed(void);
}

// The value of `name` in the settings files (user file, then
// "lib/defaults/<program>", then "lib/defaults/all"); false when none sets it.
bool al_settings_file_value(const char *name, std::string *value);

// The number of setting texts refused (bad or too long) so far.
int al_refused_count();

// The user name whose file "lib/user/u<user>" holds the user's settings
// ("" before init_user and without ZUV_USER or a login name).
std::string al_settings_user();

// A line of a settings file that no setting takes.
struct AlSettingsProblem {
  std::string file;  // absolute path
  int line;          // from 1
  std::string text;  // what is wrong, e.g. "\"user_typ\" is no known setting and is ignored"
};

// The lines of the settings files that no setting takes, by file and line:
// lines without a colon or a name, and names of a class that applies that
// no table holds. "lib/defaults/all", "lib/defaults/<program>" and the user
// file are checked against every registered table, and a name without a
// lower-case letter is a variable there (getvar reads it); a file loaded
// with al_load_specified_res is checked against the tables loaded from it.
std::vector<AlSettingsProblem> al_settings_problems();

// True when the named setting of a registered table holds its default
// (no file, variable or command set it); false for an unknown name.
bool al_setting_is_default(const char *name);
