// Internal links between the settings tables, the environment and the user
// record (not for other subsystems).
#pragma once

#include <string>

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
