// The user record and the platform layer's own settings table.
#include "platform/user.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/log.h"
#include "platform/resource.h"
#include "platform/resource_files.h"

extern "C" {
USER_INFO user_info = {'S', "", "", '2', "ISO-8859-1", "", "", '*'};
}

namespace {

int g_dt_release = DT_RELEASE_NEW;
int g_dt_flag = 0;  // release determined by determine_DT_version: 0 not yet
std::string g_user;

AL_RESOURCE g_platform_resources[] = {
    {"user_type", &user_info.user_type, AL_RES_CHAR | AL_RES_ENVWIN, 0, "S", nullptr, nullptr, nullptr},
    {"language", &user_info.language, AL_RES_CHAR | AL_RES_ENVWIN, 0, "2", nullptr, "ZUV_LANG", nullptr},
    {"locale", user_info.locale, AL_RES_STRBUF | AL_RES_ENVWIN, sizeof user_info.locale, "ISO-8859-1",
     nullptr, "ZUV_LOCALE", nullptr},
    {"package_combination", user_info.pac_comb, AL_RES_STRBUF | AL_RES_ENVWIN,
     sizeof user_info.pac_comb, "", nullptr, "ZUV_PACKAGES", nullptr},
    {"timezone", user_info.timezone, AL_RES_STRBUF | AL_RES_ENVWIN, sizeof user_info.timezone, "",
     nullptr, "ZUV_TIMEZONE", nullptr},
    {"db_roles", user_info.db_roles, AL_RES_STRBUF | AL_RES_ENVWIN, sizeof user_info.db_roles, "",
     nullptr, "ZUV_DB_ROLES", nullptr},
    {"noref_ch", &user_info.noref_ch, AL_RES_CHAR | AL_RES_ENVWIN, 0, "*", nullptr, nullptr, nullptr},
    {"dt_release", &g_dt_release, AL_RES_INT | AL_RES_ENVWIN, 0, "2", nullptr, nullptr, nullptr},
    {nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr},
};

std::string LoginName() {
  const char *env = std::getenv("ZUV_USER");
  if (env != nullptr && *env != '\0') return env;
  struct passwd pw, *found = nullptr;
  char buf[1024];
  if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  env = std::getenv("LOGNAME");
  return env != nullptr ? env : "";
}

}  // namespace

std::string al_settings_user() {
  if (!g_user.empty()) return g_user;
  const char *env = std::getenv("ZUV_USER");
  return env != nullptr ? env : "";
}

extern "C" {

int init_user(void) {
  std::string name = LoginName();
  if (name.size() > USER_NAME_LEN) {
    log_mesg(__FILE__, __LINE__, "init_user", LOG_ERROR,
             "user name \"%s\" is longer than %d characters; set ZUV_USER", name.c_str(),
             USER_NAME_LEN);
    return -1;
  }
  std::memcpy(user_info.user_name, name.c_str(), name.size() + 1);
  g_user = name;
  al_settings_files_changed();
  int refused_before = al_refused_count();
  al_add_resources(g_platform_resources);
  if (al_refused_count() != refused_before) {
    log_mesg(__FILE__, __LINE__, "init_user", LOG_ERROR, "the settings of user \"%s\" are not valid",
             name.c_str());
    return -1;
  }
  return 0;
}

int determine_DT_version(void) {
  if (g_dt_release != DT_RELEASE_OLD && g_dt_release != DT_RELEASE_NEW) {
    log_mesg(__FILE__, __LINE__, "determine_DT_version", LOG_ERROR,
             "unknown development tools release %d", g_dt_release);
    g_dt_flag = 0;
    return 0;
  }
  g_dt_flag = g_dt_release;
  return 1;
}

int is_GTEQ_dt_release(void) {
  int release = g_dt_flag != 0 ? g_dt_flag : g_dt_release;
  return release >= DT_RELEASE_NEW;
}

}  // extern "C"
