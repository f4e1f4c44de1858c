// Where log messages go besides the hook of log_set_log_hook.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// While on, messages are formatted as always but reach only the hook
// (log_set_log_hook), neither a file nor standard error; without a hook
// they are dropped. For programs that log far more than anyone reads, such
// as the fuzz harnesses.
void log_set_hook_only(int on);

#ifdef __cplusplus
}
#endif
