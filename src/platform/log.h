// The message log: one line (or one framed block) per message in
// "$ZUV/log/<program>.log", or in "$ZUV_LOG/<program>.log" when ZUV_LOG is
// set; standard error when neither root is known or the file cannot be
// opened. A line reads
//
//   2026-12-07 05:01:02 +0100 E prog[1234] keyword (file.cc:42): text
//
// with the local date and time, its offset from UTC and the level letter
// (E error, W warning, I information). Every message also reaches the hook
// installed with log_set_log_hook (<molvane/platform.h>).
#pragma once

#include <molvane/platform.h>

#ifdef __cplusplus
extern "C" {
#endif

// Flag bits of log_mesg and log_start_mesg; 0 is an error message.
enum {
  LOG_ERROR = 0,
  LOG_WARNING = 0x80,
  LOG_INFO = 0x100,
};

// Writes one formatted message with the caller's source file, line and
// keyword. A trailing newline of the text is dropped. Nothing is written
// while the log is disabled (al_disable_log_mesg).
void log_mesg(const char *file, int line, const char *keyword, int flags, const char *format, ...)
    __attribute__((format(printf, 5, 6)));

// The number of error messages written so far, and the text of the last
// one ("" before any): a caller that fails because of what a lower layer
// logged hands that cause on to the host.
unsigned long log_error_count(void);
const char *log_last_error(void);

// Opens a framed multi-part message: log_printf adds text to it and
// log_stop_mesg writes it out as one block. A block opened while another
// is open closes the earlier one first.
void log_start_mesg(const char *file, int line, const char *keyword, int flags);
// Adds formatted text to the open block; without an open block the text is
// logged as an error message of its own under the keyword "log_printf".
void log_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Writes the open block and flushes the log. No effect without a block.
void log_stop_mesg(void);

// Sets the program name that names the log file and appears in each line,
// and that selects "lib/defaults/<program>" for settings. A path is reduced
// to its last component. `logname`, when neither null nor empty, names the
// log file instead ("<logname>.log"). Until called, the program name is the
// process's own short name.
void log_set_progname(const char *progname, const char *logname);
// The current program name (never null).
const char *log_get_progname(void);

// Suppress and restore log_mesg output (file and hook), e.g. around lookups
// whose failures must stay silent. The flag is a switch, not a counter:
// one enable after any number of disables restores output.
void al_disable_log_mesg(void);
void al_enable_log_mesg(void);

#ifdef __cplusplus
}
#endif
