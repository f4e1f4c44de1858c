// Buffered byte streams.
//
// A STREAM is a buffered byte stream over some object: a local file, a byte
// array, or a process connection. The object is reached through a small
// table of operations (STREAM_OPS) and a context pointer; the buffering,
// positions, line reads and the stream integers (stream_int.h) are the
// same for every kind. A new kind of stream is made by filling a
// STREAM_OPS table and calling stream_create; no code here needs to know
// the kind.
//
// Buffering: a stream keeps a read buffer and a write buffer. On a seekable
// stream (ops->seek set) they never hold data at the same time: a write
// drops read-ahead (moving the object back to the logical position) and a
// read flushes pending writes. On a stream without seek (a connection) the
// two directions are independent: written bytes stay buffered until
// sflush (or until the buffer is full), read-ahead is kept across writes.
//
// Errors: functions return -1 (or null) and leave the C errno of the cause;
// the stream's error flag (stream_error) stays set until stream_clearerr.
//
// Process connections (src/ipc/attach*) carry the fields of the
// "connection" block below; the stream layer itself only uses the
// disconnect handler: when a connection stream (kind STREAM_KIND_CONN)
// reaches the end of its data or fails to read or write, the handler, if
// installed, is called once with the stream before the failure is
// returned.
#pragma once

#include <stddef.h>
#include <sys/stat.h>

#ifdef __cplusplus
extern "C" {
#endif

// Operations of one kind of stream. `ctx` is the stream's context pointer.
// Unneeded operations may be null (see each).
typedef struct stream_ops {
  // Reads up to n bytes: the count read, 0 at the end of the data, -1 on
  // error (errno set). Null: the stream cannot be read (EBADF).
  long (*read)(void *ctx, void *buf, size_t n);
  // Writes up to n bytes: the count written (at least 1 when n > 0), -1 on
  // error. Null: the stream cannot be written (EBADF).
  long (*write)(void *ctx, const void *buf, size_t n);
  // Moves the object's position (whence 0 start, 1 current, 2 end): the new
  // position, or -1. Null: the stream is not seekable (ESPIPE).
  long (*seek)(void *ctx, long offset, int whence);
  // Called by sflush after the buffered bytes were written (e.g. fsync or
  // a transport's own flush); 0 or -1. May be null.
  int (*flush)(void *ctx);
  // Releases the object and the context; called once by sclose. 0 or -1.
  // May be null.
  int (*close)(void *ctx);
  // Fills the status of the object; 0 or -1. Null: ENOTSUP.
  int (*fstat)(void *ctx, struct stat *status);
} STREAM_OPS;

// Kinds of stream, for callers that need to tell them apart.
enum {
  STREAM_KIND_FILE = 1,   // local file (qelt_sopen)
  STREAM_KIND_BYTES = 2,  // byte array (stream_open_bytes)
  STREAM_KIND_CONN = 3,   // process connection (src/ipc/attach*)
  STREAM_KIND_OTHER = 4,  // any other kind built on stream_create
};

// Mode bits (from the mode text of qelt_sopen; stream_create takes them).
enum {
  STREAM_READ = 0x1,
  STREAM_WRITE = 0x2,
  STREAM_APPEND = 0x4,  // every write goes to the end
  STREAM_TEXT = 0x8,    // "t": sgets also drops a CR before the newline
};

struct stream;
// Called when the peer of a connection stream disconnects.
typedef void (*stream_disconnect_fn)(struct stream *stream);
// The processing entry of an in-process driver connection: called by the
// request round trip after the request was flushed, so that the driver
// handles it before the reply is read. 0 or -1.
typedef int (*stream_process_fn)(void *arg);

typedef struct stream {
  const STREAM_OPS *ops;   // operations of the kind
  void *ctx;               // context of the operations (owned by them)
  int kind;                // STREAM_KIND_*
  int mode;                // STREAM_READ | STREAM_WRITE | ...
  int fd;                  // descriptor for waiting on, or -1
  char *name;              // physical name (owned), or null

  // Buffers (managed by the stream layer).
  unsigned char *rbuf;     // read buffer of bufsize bytes
  size_t rpos, rend;       // unread bytes are rbuf[rpos..rend)
  unsigned char *wbuf;     // write buffer of bufsize bytes
  size_t wlen;             // bytes waiting in wbuf
  size_t bufsize;
  long pos;                // position of the object (where the next
                           // operation acts); bytes moved when not seekable
  int eof;                 // the last read reached the end of the data
  int error;               // a read or write failed (errno kept in err_no)
  int err_no;

  // Process connection (set by src/ipc/attach*; zero on other kinds).
  int in_process;                        // in-process driver connection
  stream_process_fn process_entry;       // called after a request flush
  void *process_arg;                     // argument of process_entry
  stream_disconnect_fn disconnect_handler; // ipc_control operation 1
  int disconnect_reported;               // the handler has been called
  char host[256];                        // peer host name, "" when local
  void *conn;                            // connection record of attach*
} STREAM;

// A stream over caller-supplied operations. `ops` must outlive the stream;
// `ctx` is handed to each operation and released by ops->close. `mode` is
// STREAM_* bits, `kind` a STREAM_KIND_*, `name` is copied (may be null),
// `bufsize` 0 means the default (8192). The buffers of the mode come with
// the stream. Null when memory runs out (then ops->close is NOT called: the
// caller still owns ctx).
STREAM *stream_create(const STREAM_OPS *ops, void *ctx, int kind, int mode, const char *name,
                      size_t bufsize);

// Opens a file by logical or physical name (fname.h): the first
// alternative that opens wins and get_last_exploded_fname reports it.
// Mode text: "r", "w", "a" or "x", each optionally with "+" (read and
// write), "t" and "b" in any order after the letter. "w" truncates, "a"
// appends, "x" creates the file and fails with errno EEXIST (17) when it
// exists; "r" and "r+" need an existing file. Null with errno set when no
// alternative opens (EINVAL for a bad mode), and null with ENOMEM as soon as
// memory runs out while one is opened: the next alternative is not tried.
STREAM *qelt_sopen(const char *name, const char *mode);

// A stream over a byte array: a copy of `count` bytes of `data` (data may
// be null when count is 0), positioned at the start. The mode text is that
// of qelt_sopen without "x"; "w" starts empty, "a" appends. The array grows
// as needed; stream_bytes gives its content.
STREAM *stream_open_bytes(const void *data, size_t count, const char *mode);
// The content of a byte-array stream after flushing, and its length;
// null for other kinds. Valid until the next write or sclose.
const unsigned char *stream_bytes(STREAM *stream, size_t *count);

// Flushes, closes and frees the stream. 0, or -1 when the flush or the
// close failed (the stream is freed anyway). A null stream is -1.
int sclose(STREAM *stream);
// Writes out the buffered bytes, then calls ops->flush. 0 or -1.
int sflush(STREAM *stream);
// Reads up to count bytes: the count read (less than count only at the end
// of the data), 0 at the end, -1 on error.
long sread_blok(void *buffer, size_t count, STREAM *stream);
// Writes count bytes: count, or -1 on error.
long swrite_blok(const void *bytes, size_t count, STREAM *stream);
// Allocates the buffers the stream's mode needs (read, write or both) now,
// so that an exchange over a connection cannot stop halfway for them: a
// request then never goes out without room to read its reply. 0, or -1
// with errno ENOMEM (the stream is unchanged).
int stream_reserve_buffers(STREAM *stream);
// Room for count bytes at the end of the write buffer, for a writer that
// stores its fields in place: a pointer to at least count free bytes, or
// null when they do not fit now (or the stream needs its slower write path
// first); the writer then uses swrite_blok. Nothing counts as written until
// stream_wcommit. Inline (as is stream_wcommit): a small request pays for
// its fields, not for calls around them.
static inline unsigned char *stream_wreserve(STREAM *stream, size_t count) {
  // Room in the write buffer that is already there, with nothing to settle
  // first: no read-ahead to drop on a seekable stream (a connection keeps
  // its read-ahead across writes), and the buffer never filled up whole.
  if (stream != NULL && stream->wbuf != NULL && stream->ops->write != NULL &&
      (stream->rend == 0 || stream->ops->seek == NULL) && count < stream->bufsize - stream->wlen)
    return stream->wbuf + stream->wlen;
  return NULL;
}
// Counts the first count bytes of the room that stream_wreserve gave (count
// at most what was reserved) as written.
static inline void stream_wcommit(STREAM *stream, size_t count) { stream->wlen += count; }
// Moves to offset from the start (whence 0), the current position (1) or
// the end (2): the new position, or -1. Pending writes are flushed first.
long sseek(STREAM *stream, long offset, int whence);
// The current byte position, counting buffered data (bytes written but not
// yet flushed are counted, read-ahead not consumed is not).
long stream_stell(STREAM *stream);
// Takes back the last `count` bytes written when they are all still in the
// write buffer (a record abandoned half written never reaches the object):
// 0, or -1 when some of them were flushed already.
int stream_unwrite(STREAM *stream, size_t count);
// Reads one line into buffer (size bytes with the NUL): the newline is not
// kept. The buffer, or null at the end of the data or on error. A line
// longer than size - 1 is an error (logged, errno EOVERFLOW, the rest of
// the line is skipped): it is never cut silently.
char *sgets(char *buffer, int size, STREAM *stream);
// The status of the stream's object (size, modification time). 0, or -1.
int stream_fstat(STREAM *stream, struct stat *status);
// Removes a file given by logical or physical name (first alternative
// that exists). 0, or -1 with errno.
int stream_unlink(const char *name);

// Non-zero when a read or write of the stream failed.
int stream_error(const STREAM *stream);
// Non-zero when a read reached the end of the data.
int stream_eof(const STREAM *stream);
// Clears the error and end flags.
void stream_clearerr(STREAM *stream);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <memory>

// Owns a stream: closes it when the owner goes, also when an exception
// (memory running out) leaves the scope.
struct StreamCloser {
  void operator()(STREAM *stream) const {
    if (stream != nullptr) sclose(stream);
  }
};
using StreamPtr = std::unique_ptr<STREAM, StreamCloser>;
#endif
