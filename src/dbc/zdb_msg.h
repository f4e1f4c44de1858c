// The message text that an API call collects for the host (get_zdb_msg).
#pragma once

// Appends the formatted text (at most 6,156 bytes) to the message text and
// logs it under `keyword` with the log flags `flags` (LOG_WARNING for a
// warning); a null keyword logs nothing, for a text whose log line the
// caller writes itself.
void set_zdb_msg_logged(const char *keyword, int flags, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
// The same as an error logged under the name of the calling function, so
// that the log says which function raised the message.
#define set_zdb_msg(...) set_zdb_msg_logged(__func__, 0, __VA_ARGS__)

// Appends a text to the message text without logging it (the caller has).
void add_zdb_msg(const char *text);

// The span of one exported call of the record or SQL API. The outermost
// span starts with an empty message, so that get_zdb_msg tells the cause of
// the call the host just made and nothing of an earlier one; a call that the
// library makes from inside another (a set read's sql_exec inside
// zdb_exec_row, the commit of a table action) adds to the message of the
// call that made it. The calls that read what an earlier call left (its
// message, number, details) open no span.
// True inside an exported call that the host made, false inside one that
// the library makes from inside another (and outside any call): what only
// informs the host (the end of an SQL fetch loop) is said to the host's own
// calls, never added to the message of a call that goes on or succeeds.
bool zdb_msg_in_host_call();

class ZdbCallScope {
 public:
  ZdbCallScope();
  ~ZdbCallScope();
  ZdbCallScope(const ZdbCallScope &) = delete;
  ZdbCallScope &operator=(const ZdbCallScope &) = delete;
};
