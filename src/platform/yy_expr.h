// The platform's two small expression engines.
//
// Range expressions (docs/range-expressions.md): conditions over a value
// under test and over named values, compiled once into one relocatable block
// and evaluated many times. Domain ranges of the data dictionary and the row
// conditions of DB roles are written in this language.
//
// Regular expressions (docs/like-patterns.md): patterns over TSS text,
// compiled into a program inside the caller's buffer and matched in time
// linear in the subject's length. LIKE builds its patterns in this language.
//
// Process-wide state: the callbacks, the compile error word, the work
// counter below and the matcher's cache of automata (a speed-up only: a
// program gives the same answers wherever it lies). No call is thread-safe;
// the library runs every call on the caller's thread.
#ifndef MOLVANE_PLATFORM_YY_EXPR_H
#define MOLVANE_PLATFORM_YY_EXPR_H

#include <cstddef>
#include <cstdint>

// Value kinds: of the value under test (yy_b_express) and of a value cell.
inline constexpr int YY_NONE = 0;
inline constexpr int YY_INTEGER = 1;  // 32-bit signed integer
inline constexpr int YY_REAL = 2;     // double
inline constexpr int YY_STRING = 3;   // text bytes

// A value cell, filled by the get callback or handed to the set callback.
struct YY_VALUE {
  int kind;           // YY_NONE, YY_INTEGER, YY_REAL or YY_STRING
  int32_t ival;       // YY_INTEGER
  double rval;        // YY_REAL
  const char *sval;   // YY_STRING: the bytes (no NUL needed); the engine copies
                      // them before it calls a callback again
  size_t slen;        // YY_STRING: byte count
};

// Resolves a name of an expression. The cell arrives as YY_NONE; leaving it
// so means the name has no value (comparisons with it are unknown).
using yy_getid_fn = void (*)(const char *name, YY_VALUE *cell);
// Receives a named value. The language has no assignment, so evaluation never
// calls it; it is kept so that callers can install and restore both together.
using yy_setid_fn = int (*)(const char *name, const YY_VALUE *cell);

// Allocation function for compiled range expressions: a block of at least the
// size asked, aligned like malloc's, or null when memory runs out.
using yy_alloc_fn = void *(*)(size_t size);

struct YY_EXPR;  // a compiled range expression: one block, opaque

// Compile error numbers, left in yy_expr_errno.
inline constexpr int YY_ERR_TOKEN = 1;    // unexpected token
inline constexpr int YY_ERR_END = 2;      // text ends where more is needed (also empty text)
inline constexpr int YY_ERR_RANGE = 3;    // numeric literal out of range
inline constexpr int YY_ERR_STRING = 4;   // unterminated string literal
inline constexpr int YY_ERR_CHAR = 5;     // character that starts no token
inline constexpr int YY_ERR_KIND = 6;     // a value where a condition belongs, or the reverse
inline constexpr int YY_ERR_DEPTH = 7;    // nested or chained too deeply
inline constexpr int YY_ERR_MEMORY = 8;   // the allocation function failed
inline constexpr int YY_ERR_ARG = 9;      // null text

// The process-wide compile error word: yy_expr_compile sets it to one of the
// YY_ERR_* numbers when it fails and leaves it alone when it succeeds, so a
// caller resets it to 0 before the call and reads it after.
extern int yy_expr_errno;
// Byte offset in the text where the last failed compile stopped.
extern size_t yy_expr_errpos;

// Static text of a YY_ERR_* number ("unknown error" for any other).
const char *yy_expr_strerror(int err);

// Compiles a range expression. The block comes from alloc, or from the
// library's allocator when alloc is null. Returns null on a compile error
// (see yy_expr_errno).
YY_EXPR *yy_expr_compile(const char *text, yy_alloc_fn alloc);

// Evaluates a compiled expression for a value under test of the given kind:
// YY_INTEGER with value pointing at an int32_t, YY_REAL at a double, YY_STRING
// at NUL-terminated text, YY_NONE (value ignored) when there is none. Returns
// non-zero when the expression is true; false and unknown both give 0.
// A null expression restricts nothing and gives 1.
int yy_b_express(const YY_EXPR *expr, int kind, const void *value);

// Installs the callbacks; a null argument leaves that callback unchanged.
void yy_set_setid_getid(yy_setid_fn set, yy_getid_fn get);
// Reads the installed callbacks into the non-null arguments.
void yy_get_setid_getid(yy_setid_fn *set, yy_getid_fn *get);

// Frees an expression compiled without an allocation function. A block that
// came from the caller's allocation function is the caller's to release, and
// this call leaves it alone. Null is ignored.
void yy_free_express(YY_EXPR *expr);

// Compiles the regular expression `text`, ended by end_char (or by its NUL
// when end_char is 0), into the buffer buf .. buf_last (buf_last is the
// buffer's last byte). Returns the address just past the program, or null when
// the expression is invalid or the program does not fit; the buffer is not
// touched on failure. The program holds no addresses: it may be copied.
char *yy_expr_compile_low_level(const char *text, char *buf, const char *buf_last,
                                int end_char);

// Non-zero when a part of the NUL-terminated subject matches the program
// (the whole subject when the pattern starts with "^" and ends with "$").
// A program that yy_expr_compile_low_level did not write gives 0.
int yy_expr_step(const char *subject, const char *program);
// The same over `len` bytes, which need no NUL.
int yy_expr_step_n(const char *subject, size_t len, const char *program);

// The number of thread steps the last match took: at most the subject's
// character count times the program's state count. Exposed so that tests can
// bound the work of a match without timing it.
uint64_t yy_expr_step_work();

#endif  // MOLVANE_PLATFORM_YY_EXPR_H
