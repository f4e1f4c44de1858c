// The user record and the platform layer's own settings.
//
// init_user reads the user's settings: the user name comes from ZUV_USER,
// else the login name; the settings (table below) come from the usual
// settings sources (resource.h), the user's file being
// "lib/user/u<user name>" under the environment root.
//
//   setting              variable        default        field
//   user_type            USER_TYPE       "S"            user_type
//   language             ZUV_LANG        "2"            language
//   locale               ZUV_LOCALE      "ISO-8859-1"   locale
//   package_combination  ZUV_PACKAGES    ""             pac_comb
//   timezone             ZUV_TIMEZONE    ""             timezone
//   db_roles             ZUV_DB_ROLES    ""             db_roles
//   noref_ch             NOREF_CH        "*"            noref_ch
//   dt_release           DT_RELEASE      "2"            (is_GTEQ_dt_release)
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

enum {
  USER_NAME_LEN = 8,      // characters of a user name
  USER_LOCALE_LEN = 63,   // characters of a locale name
  USER_TZ_LEN = 63,       // characters of a time-zone name
  USER_PACCOMB_LEN = 255, // characters of a package combination
  USER_ROLES_LEN = 1023,  // characters of the DB role list
  DT_RELEASE_OLD = 1,     // development tools before the newer release
  DT_RELEASE_NEW = 2,     // the newer release
};

// The process-wide user record. Before init_user it holds the initial
// values: user type 'S', language '2', locale "ISO-8859-1", noref_ch '*',
// empty texts.
typedef struct user_info_rec {
  char user_type;                          // 'S' super user
  char user_name[USER_NAME_LEN + 1];
  char db_roles[USER_ROLES_LEN + 1];       // ":"-separated, possibly empty
  char language;                           // language character
  char locale[USER_LOCALE_LEN + 1];
  char pac_comb[USER_PACCOMB_LEN + 1];     // package combination
  char timezone[USER_TZ_LEN + 1];
  char noref_ch;                           // marks unreferenced columns
} USER_INFO;

extern USER_INFO user_info;

// Reads the user's settings and fills user_info. 0 on success, else -1
// (logged): a user name, locale, time zone, role list or package
// combination that does not fit its field.
int init_user(void);

// Determines the release of the development tools (setting dt_release)
// and sets the release flag. Non-zero on success, 0 when the setting is
// not a known release.
int determine_DT_version(void);

// Non-zero when the development tools are at least the newer release
// (the setting dt_release, default the newer release).
int is_GTEQ_dt_release(void);

#ifdef __cplusplus
}
#endif
