// SQLAbort: the fatal stop of the SQL layers.
#pragma once

// Ends the process for a broken internal invariant of the SQL layers (an
// unexpected type, operator or state): logs "SQL processor stopped. Internal
// error:" and the formatted message under the keyword "SQL", prints
// "SQL processor stopped in file <file>, line <line>." with the message to
// standard error, and aborts. Never returns. Callers pass __FILE__ and
// __LINE__; messages stay below 1,024 bytes (longer ones are cut there).
[[noreturn]] void SQLAbort(char const *sourceFile, int line, char const *format, ...)
    __attribute__((format(printf, 3, 4)));
