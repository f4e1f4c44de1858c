// The host's read access to the user record.
#include <cstring>

#include <molvane/zdb.h>

#include "platform/user.h"

namespace {

char *copy_out(char *buffer, const char *text) {
  if (buffer == nullptr) return nullptr;
  std::strcpy(buffer, text);
  return buffer;
}

}  // namespace

char zdb_user_info_get_language(void) { return user_info.language; }
char zdb_user_info_get_user_type(void) { return user_info.user_type; }
char *zdb_user_info_get_locale(char *buffer) { return copy_out(buffer, user_info.locale); }
char *zdb_user_info_get_package_combination(char *buffer) {
  return copy_out(buffer, user_info.pac_comb);
}
char *zdb_user_info_get_timezone(char *buffer) { return copy_out(buffer, user_info.timezone); }
char *zdb_user_info_get_user_name(char *buffer) { return copy_out(buffer, user_info.user_name); }
