// TSS locale, mode and zero-width factor: process-wide settings of the text
// layer, each read once and kept.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <strings.h>

#include "platform/env.h"
#include "platform/log.h"
#include "text/tss.h"
#include "text/tss_collate.h"

namespace {

constexpr const char *kDefaultLocale = "ISO-8859-1";
constexpr int kMaxZeroWidthFactor = 6;

struct TssSettings {
  int mode = 0;                 // 0 until read
  int zero_width_factor = -1;   // -1 until read
  std::string locale = kDefaultLocale;
  int arg = 0;                  // the host's locale argument
};

TssSettings &Settings() {
  static TssSettings settings;
  return settings;
}

// Parses a small decimal setting; false for anything else.
bool ParseSmallInt(const char *text, long &value) {
  if (text == nullptr || *text == 0) return false;
  char *end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return errno == 0 && end != text && *end == 0;
}

}  // namespace

int tss_known_mode = 0;

int TssGetMode() {
  TssSettings &s = Settings();
  if (s.mode != 0) return s.mode;
  s.mode = TSS_MODE_CLASSIC;
  const char *text = getvar("TSS_MODE");
  long value = 0;
  if (text != nullptr && *text != 0) {
    if (ParseSmallInt(text, value) && (value == TSS_MODE_CLASSIC || value == TSS_MODE_UTFT)) {
      s.mode = static_cast<int>(value);
    } else {
      log_mesg(__FILE__, __LINE__, "TssGetMode", LOG_WARNING,
             "Invalid TSS_MODE \"%s\"; using mode %d\n", text, TSS_MODE_CLASSIC);
    }
  }
  tss_known_mode = s.mode;
  return s.mode;
}

int TssGetZeroWidthFactor() {
  TssSettings &s = Settings();
  if (s.zero_width_factor >= 0) return s.zero_width_factor;
  s.zero_width_factor = 0;
  const char *text = getvar("TSS_ZERO_WIDTH_FACTOR");
  long value = 0;
  if (text != nullptr && *text != 0) {
    if (ParseSmallInt(text, value) && value >= 0 && value <= kMaxZeroWidthFactor) {
      s.zero_width_factor = static_cast<int>(value);
    } else {
      log_mesg(__FILE__, __LINE__, "TssGetZeroWidthFactor", LOG_WARNING,
             "Invalid TSS_ZERO_WIDTH_FACTOR \"%s\" (0 to %d); using 0\n", text,
             kMaxZeroWidthFactor);
    }
  }
  return s.zero_width_factor;
}

void TssReloadSettings() {
  TssSettings &s = Settings();
  s.mode = 0;
  tss_known_mode = 0;
  s.zero_width_factor = -1;
}

int initialize_icuwrappers() {
  if (TssCollationOpen()) return 0;
  log_mesg(__FILE__, __LINE__, "initialize_icuwrappers", LOG_ERROR,
         "ICU collator for the \"root\" locale not available; ordering by code point\n");
  return -1;
}

const char *TssGetLocale() { return Settings().locale.c_str(); }

extern "C" MOLVANE_API int TSSsetlocale(const char *locale, int arg) {
  TssSettings &s = Settings();
  if (locale != nullptr && *locale != 0 && strcasecmp(locale, kDefaultLocale) != 0) {
    log_mesg(__FILE__, __LINE__, "TSSsetlocale", LOG_ERROR, "Unknown TSS locale \"%s\"\n",
           locale);
    return -1;
  }
  s.locale = kDefaultLocale;
  s.arg = arg;
  return 0;
}
