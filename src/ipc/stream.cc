// The stream core: buffering, positions and line reads over a table of
// operations; and the two kinds built here, local files and byte arrays.
//
// Positions: `pos` is where the object's own cursor stands. On a seekable
// stream the logical position is pos - unread read-ahead + pending writes;
// read-ahead and pending writes never coexist there (see stream.h).
#include "ipc/stream.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ipc/fname_resolve.h"
#include "platform/log.h"
#include "platform/mal.h"

namespace {

constexpr size_t kDefaultBufSize = 8192;

bool Seekable(const STREAM *s) { return s->ops->seek != nullptr; }

void SetError(STREAM *s, int err) {
  s->error = 1;
  s->err_no = err;
  errno = err;
}

// Calls the disconnect handler of a connection stream once.
void ReportDisconnect(STREAM *s) {
  if (s->kind == STREAM_KIND_CONN && s->disconnect_handler != nullptr && !s->disconnect_reported) {
    s->disconnect_reported = 1;
    int saved = errno;
    s->disconnect_handler(s);
    errno = saved;
  }
}

// False with errno ENOMEM when the buffer is missing and cannot be had.
bool EnsureBuffer(unsigned char **buf, size_t size) {
  if (*buf == nullptr) *buf = static_cast<unsigned char *>(mal_sys_malloc(size));
  return *buf != nullptr;
}

// Hands every byte of [data, data+n) to ops->write.
int WriteThrough(STREAM *s, const unsigned char *data, size_t n) {
  size_t done = 0;
  while (done < n) {
    long w = s->ops->write(s->ctx, data + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      SetError(s, w < 0 ? errno : EIO);
      ReportDisconnect(s);
      return -1;
    }
    done += static_cast<size_t>(w);
    s->pos += w;
  }
  if ((s->mode & STREAM_APPEND) && Seekable(s)) {
    long p = s->ops->seek(s->ctx, 0, SEEK_CUR);
    if (p >= 0) s->pos = p;
  }
  return 0;
}

int FlushWrites(STREAM *s) {
  if (s->wlen == 0) return 0;
  size_t n = s->wlen;
  s->wlen = 0;  // dropped even on failure: a failed stream is not retried
  return WriteThrough(s, s->wbuf, n);
}

long LogicalPosition(const STREAM *s) {
  return s->pos - static_cast<long>(s->rend - s->rpos) + static_cast<long>(s->wlen);
}

// Drops unread read-ahead on a seekable stream, moving the object back to
// the logical position.
int DropReadAhead(STREAM *s) {
  if (s->rend == s->rpos) {
    s->rpos = s->rend = 0;
    return 0;
  }
  long target = LogicalPosition(s);
  long p = s->ops->seek(s->ctx, target, SEEK_SET);
  if (p < 0) {
    SetError(s, errno);
    return -1;
  }
  s->pos = p;
  s->rpos = s->rend = 0;
  return 0;
}

// Raw read through the operations: count, 0 at the end, -1 on error.
long ReadThrough(STREAM *s, void *buf, size_t n) {
  long r;
  do {
    r = s->ops->read(s->ctx, buf, n);
  } while (r < 0 && errno == EINTR);
  if (r > 0) {
    s->pos += r;
  } else if (r == 0) {
    s->eof = 1;
    ReportDisconnect(s);
  } else {
    SetError(s, errno);
    ReportDisconnect(s);
  }
  return r;
}

bool PrepareRead(STREAM *s) {
  if (s->ops->read == nullptr) {
    errno = EBADF;
    return false;
  }
  if (Seekable(s) && s->wlen > 0 && FlushWrites(s) != 0) return false;
  if (EnsureBuffer(&s->rbuf, s->bufsize)) return true;
  SetError(s, ENOMEM);  // a read without a buffer fails; it is no end of data
  return false;
}

// Fills the read buffer; false at the end of the data or on error.
bool Refill(STREAM *s) {
  s->rpos = s->rend = 0;
  long r = ReadThrough(s, s->rbuf, s->bufsize);
  if (r <= 0) return false;
  s->rend = static_cast<size_t>(r);
  return true;
}

// --- local files -----------------------------------------------------------

struct FileCtx {
  int fd;
};

long FileRead(void *ctx, void *buf, size_t n) {
  return ::read(static_cast<FileCtx *>(ctx)->fd, buf, n);
}
long FileWrite(void *ctx, const void *buf, size_t n) {
  return ::write(static_cast<FileCtx *>(ctx)->fd, buf, n);
}
long FileSeek(void *ctx, long offset, int whence) {
  return ::lseek(static_cast<FileCtx *>(ctx)->fd, offset, whence);
}
int FileClose(void *ctx) {
  std::unique_ptr<FileCtx> f(static_cast<FileCtx *>(ctx));
  return ::close(f->fd) == 0 ? 0 : -1;
}
int FileFstat(void *ctx, struct stat *st) {
  return ::fstat(static_cast<FileCtx *>(ctx)->fd, st) == 0 ? 0 : -1;
}

const STREAM_OPS kFileOps = {FileRead, FileWrite, FileSeek, nullptr, FileClose, FileFstat};

// --- byte arrays -----------------------------------------------------------

struct BytesCtx {
  std::vector<unsigned char> data;
  size_t at = 0;
  bool append = false;
};

long BytesRead(void *ctx, void *buf, size_t n) {
  BytesCtx *b = static_cast<BytesCtx *>(ctx);
  if (b->at >= b->data.size()) return 0;
  size_t k = std::min(n, b->data.size() - b->at);
  std::memcpy(buf, b->data.data() + b->at, k);
  b->at += k;
  return static_cast<long>(k);
}
long BytesWrite(void *ctx, const void *buf, size_t n) {
  BytesCtx *b = static_cast<BytesCtx *>(ctx);
  if (b->append) b->at = b->data.size();
  try {
    if (b->at + n > b->data.size()) b->data.resize(b->at + n);  // zero-fills a gap
  } catch (const std::bad_alloc &) {
    errno = ENOMEM;
    return -1;
  }
  std::memcpy(b->data.data() + b->at, buf, n);
  b->at += n;
  return static_cast<long>(n);
}
long BytesSeek(void *ctx, long offset, int whence) {
  BytesCtx *b = static_cast<BytesCtx *>(ctx);
  long base = whence == SEEK_SET   ? 0
              : whence == SEEK_CUR ? static_cast<long>(b->at)
              : whence == SEEK_END ? static_cast<long>(b->data.size())
                                   : -1;
  if (base < 0 || (offset < 0 && -offset > base)) {
    errno = EINVAL;
    return -1;
  }
  b->at = static_cast<size_t>(base + offset);
  return static_cast<long>(b->at);
}
int BytesClose(void *ctx) {
  delete static_cast<BytesCtx *>(ctx);
  return 0;
}
int BytesFstat(void *ctx, struct stat *st) {
  std::memset(st, 0, sizeof *st);
  st->st_mode = S_IFREG | 0600;
  st->st_size = static_cast<off_t>(static_cast<BytesCtx *>(ctx)->data.size());
  st->st_nlink = 1;
  return 0;
}

const STREAM_OPS kBytesOps = {BytesRead, BytesWrite, BytesSeek, nullptr, BytesClose, BytesFstat};

// sseek(s, offset, SEEK_SET) on a byte array without read-ahead, the way a
// caller reuses one array for request after request: the pending writes go
// into the array and the cursor moves, with no calls through the table.
long BytesFlushSeek(STREAM *s, long offset) {
  BytesCtx *b = static_cast<BytesCtx *>(s->ctx);
  if (s->wlen > 0) {
    size_t n = s->wlen;
    s->wlen = 0;  // dropped even on failure, as FlushWrites does
    if (!b->append && n <= b->data.size() - std::min(b->at, b->data.size())) {
      // Over bytes the array holds already: a request written again in place.
      std::memcpy(b->data.data() + b->at, s->wbuf, n);
      b->at += n;
    } else if (BytesWrite(b, s->wbuf, n) < 0) {
      SetError(s, errno);
      return -1;
    }
  }
  s->eof = 0;
  b->at = static_cast<size_t>(offset);
  s->pos = offset;
  return offset;
}

// --- mode texts ------------------------------------------------------------

struct OpenMode {
  int flags;  // open(2) flags
  int mode;   // STREAM_* bits
};

bool ParseMode(const char *text, OpenMode *out) {
  if (text == nullptr || *text == '\0') return false;
  bool plus = false, t = false;
  for (const char *p = text + 1; *p != '\0'; ++p) {
    if (*p == '+') {
      plus = true;
    } else if (*p == 't') {
      t = true;
    } else if (*p != 'b') {
      return false;
    }
  }
  int rw = plus ? O_RDWR : 0;
  int m = plus ? STREAM_READ | STREAM_WRITE : 0;
  switch (text[0]) {
    case 'r':
      out->flags = plus ? O_RDWR : O_RDONLY;
      out->mode = plus ? m : STREAM_READ;
      break;
    case 'w':
      out->flags = (plus ? rw : O_WRONLY) | O_CREAT | O_TRUNC;
      out->mode = plus ? m : STREAM_WRITE;
      break;
    case 'a':
      out->flags = (plus ? rw : O_WRONLY) | O_CREAT | O_APPEND;
      out->mode = (plus ? m : STREAM_WRITE) | STREAM_APPEND;
      break;
    case 'x':
      out->flags = (plus ? rw : O_WRONLY) | O_CREAT | O_EXCL;
      out->mode = plus ? m : STREAM_WRITE;
      break;
    default:
      return false;
  }
  if (t) out->mode |= STREAM_TEXT;
  return true;
}

// Opens one local file; null with errno on failure.
STREAM *OpenLocal(const std::string &path, const OpenMode &m) {
  // The context comes first: memory that runs out then leaves no descriptor.
  auto ctx = std::make_unique<FileCtx>(FileCtx{-1});
  int fd = ::open(path.c_str(), m.flags | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return nullptr;
  }
  ctx->fd = fd;
  STREAM *s = stream_create(&kFileOps, ctx.get(), STREAM_KIND_FILE, m.mode, path.c_str(), 0);
  if (s == nullptr) {
    ::close(fd);
    errno = ENOMEM;
    return nullptr;
  }
  ctx.release();  // owned by the stream now
  s->fd = fd;
  if (m.mode & STREAM_APPEND) {
    long p = ::lseek(fd, 0, SEEK_END);
    if (p >= 0) s->pos = p;
  }
  return s;
}

}  // namespace

extern "C" {

STREAM *stream_create(const STREAM_OPS *ops, void *ctx, int kind, int mode, const char *name,
                      size_t bufsize) {
  if (ops == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  STREAM *s = static_cast<STREAM *>(mal_sys_calloc(1, sizeof(STREAM)));
  if (s == nullptr) return nullptr;
  s->ops = ops;
  s->ctx = ctx;
  s->kind = kind;
  s->mode = mode;
  s->fd = -1;
  s->bufsize = bufsize != 0 ? bufsize : kDefaultBufSize;
  if (name != nullptr) {
    s->name = mal_sys_strdup(name);
    if (s->name == nullptr) {
      std::free(s);
      errno = ENOMEM;
      return nullptr;
    }
  }
  // The buffers come with the stream: memory that runs out then fails the
  // open, never a later read, which callers could take for the end of the
  // data.
  if (stream_reserve_buffers(s) != 0) {
    std::free(s->rbuf);
    std::free(s->wbuf);
    std::free(s->name);
    std::free(s);
    errno = ENOMEM;
    return nullptr;
  }
  return s;
}

STREAM *qelt_sopen(const char *name, const char *mode) {
  OpenMode m{};
  if (name == nullptr || !ParseMode(mode, &m)) {
    errno = EINVAL;
    return nullptr;
  }
  std::vector<FnameAlternative> alts = fname_alternatives(name);
  if (alts.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  int first_err = 0;
  bool nolog = false;
  for (const FnameAlternative &alt : alts) {
    nolog = nolog || alt.nolog;
    int err;
    if (alt.remote) {
      err = EHOSTUNREACH;  // no remote file service on this system
    } else if (!alt.valid) {
      err = ENOENT;
    } else {
      StreamPtr s(OpenLocal(alt.path, m));
      if (s != nullptr) {
        fname_set_last(alt.path);  // may run out of memory: s is closed then
        return s.release();
      }
      err = errno;
      // Memory that ran out says nothing of this alternative: a later one
      // must not stand in for it.
      if (err == ENOMEM) {
        first_err = err;
        break;
      }
    }
    // The error of the first alternative tells most ("x+" on an existing
    // file is EEXIST, not the ENOENT of a later alternative).
    if (first_err == 0) first_err = err;
  }
  if (!nolog) {
    log_mesg(__FILE__, __LINE__, "qelt_sopen", LOG_INFO, "cannot open \"%s\" (mode \"%s\"): %s",
             name, mode, std::strerror(first_err));
  }
  errno = first_err;
  return nullptr;
}

STREAM *stream_open_bytes(const void *data, size_t count, const char *mode) {
  OpenMode m{};
  if (!ParseMode(mode, &m) || mode[0] == 'x' || (data == nullptr && count > 0)) {
    errno = EINVAL;
    return nullptr;
  }
  auto ctx = std::make_unique<BytesCtx>();
  if (mode[0] != 'w' && count > 0) {
    const unsigned char *p = static_cast<const unsigned char *>(data);
    ctx->data.assign(p, p + count);
  }
  ctx->append = (m.mode & STREAM_APPEND) != 0;
  STREAM *s = stream_create(&kBytesOps, ctx.get(), STREAM_KIND_BYTES, m.mode, nullptr, 0);
  if (s == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  ctx.release();  // owned by the stream now
  return s;
}

const unsigned char *stream_bytes(STREAM *stream, size_t *count) {
  if (stream == nullptr || stream->ops != &kBytesOps) return nullptr;
  if (sflush(stream) != 0) return nullptr;
  const BytesCtx *b = static_cast<const BytesCtx *>(stream->ctx);
  if (count != nullptr) *count = b->data.size();
  static const unsigned char kEmpty[1] = {0};
  return b->data.empty() ? kEmpty : b->data.data();
}

int sclose(STREAM *stream) {
  if (stream == nullptr) {
    errno = EBADF;
    return -1;
  }
  int rc = 0;
  if (stream->ops->write != nullptr && FlushWrites(stream) != 0) rc = -1;
  if (stream->ops->close != nullptr && stream->ops->close(stream->ctx) != 0) rc = -1;
  std::free(stream->rbuf);
  std::free(stream->wbuf);
  std::free(stream->name);
  std::free(stream);
  return rc;
}

int sflush(STREAM *stream) {
  if (stream == nullptr) {
    errno = EBADF;
    return -1;
  }
  if (stream->wlen > 0 && FlushWrites(stream) != 0) return -1;
  if (stream->ops->flush != nullptr && stream->ops->flush(stream->ctx) != 0) {
    SetError(stream, errno);
    return -1;
  }
  return 0;
}

long sread_blok(void *buffer, size_t count, STREAM *stream) {
  if (stream == nullptr || (buffer == nullptr && count > 0)) {
    errno = EINVAL;
    return -1;
  }
  if (!PrepareRead(stream)) return -1;
  unsigned char *out = static_cast<unsigned char *>(buffer);
  size_t done = 0;
  while (done < count) {
    if (stream->rpos < stream->rend) {
      size_t k = std::min(count - done, stream->rend - stream->rpos);
      std::memcpy(out + done, stream->rbuf + stream->rpos, k);
      stream->rpos += k;
      done += k;
    } else if (count - done >= stream->bufsize) {
      long r = ReadThrough(stream, out + done, count - done);
      if (r <= 0) return (r < 0 && done == 0) ? -1 : static_cast<long>(done);
      done += static_cast<size_t>(r);
    } else if (!Refill(stream)) {
      return (stream->error && done == 0) ? -1 : static_cast<long>(done);
    }
  }
  return static_cast<long>(done);
}

int stream_reserve_buffers(STREAM *stream) {
  if (stream == nullptr) {
    errno = EINVAL;
    return -1;
  }
  if ((stream->mode & STREAM_READ) && stream->ops->read != nullptr &&
      !EnsureBuffer(&stream->rbuf, stream->bufsize))
    return -1;
  if ((stream->mode & STREAM_WRITE) && stream->ops->write != nullptr &&
      !EnsureBuffer(&stream->wbuf, stream->bufsize))
    return -1;
  return 0;
}

long swrite_blok(const void *bytes, size_t count, STREAM *stream) {
  // The common case, a few bytes of a request: they only join the buffer.
  unsigned char *room = bytes != nullptr ? stream_wreserve(stream, count) : nullptr;
  if (room != nullptr) {
    std::memcpy(room, bytes, count);
    stream->wlen += count;
    return static_cast<long>(count);
  }
  if (stream == nullptr || (bytes == nullptr && count > 0)) {
    errno = EINVAL;
    return -1;
  }
  if (stream->ops->write == nullptr) {
    errno = EBADF;
    return -1;
  }
  if (Seekable(stream) && DropReadAhead(stream) != 0) return -1;
  if (!EnsureBuffer(&stream->wbuf, stream->bufsize)) {
    errno = ENOMEM;
    return -1;
  }
  const unsigned char *in = static_cast<const unsigned char *>(bytes);
  if (count >= stream->bufsize) {
    if (FlushWrites(stream) != 0 || WriteThrough(stream, in, count) != 0) return -1;
    return static_cast<long>(count);
  }
  size_t done = 0;
  while (done < count) {
    if (stream->wlen == stream->bufsize && FlushWrites(stream) != 0) return -1;
    size_t k = std::min(count - done, stream->bufsize - stream->wlen);
    std::memcpy(stream->wbuf + stream->wlen, in + done, k);
    stream->wlen += k;
    done += k;
  }
  return static_cast<long>(count);
}

long sseek(STREAM *stream, long offset, int whence) {
  if (stream == nullptr || (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END)) {
    errno = EINVAL;
    return -1;
  }
  if (stream->ops == &kBytesOps && whence == SEEK_SET && offset >= 0 && stream->rend == 0)
    return BytesFlushSeek(stream, offset);
  if (!Seekable(stream)) {
    errno = ESPIPE;
    return -1;
  }
  if (FlushWrites(stream) != 0) return -1;
  long logical = LogicalPosition(stream);
  if (whence == SEEK_CUR) {
    offset += logical;
    whence = SEEK_SET;
  }
  stream->eof = 0;
  // A target inside the read buffer only moves the read position.
  long buf_start = stream->pos - static_cast<long>(stream->rend);
  if (whence == SEEK_SET && stream->rend > 0 && offset >= buf_start && offset <= stream->pos) {
    stream->rpos = static_cast<size_t>(offset - buf_start);
    return offset;
  }
  long p = stream->ops->seek(stream->ctx, offset, whence);
  if (p < 0) return -1;
  stream->pos = p;
  stream->rpos = stream->rend = 0;
  return p;
}

long stream_stell(STREAM *stream) {
  if (stream == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return LogicalPosition(stream);
}

int stream_unwrite(STREAM *stream, size_t count) {
  if (stream == nullptr || count > stream->wlen) return -1;
  stream->wlen -= count;
  return 0;
}

char *sgets(char *buffer, int size, STREAM *stream) {
  if (stream == nullptr || buffer == nullptr || size <= 0) {
    errno = EINVAL;
    return nullptr;
  }
  if (!PrepareRead(stream)) return nullptr;
  size_t n = 0;
  bool any = false, overflow = false;
  for (;;) {
    if (stream->rpos == stream->rend && !Refill(stream)) break;
    char c = static_cast<char>(stream->rbuf[stream->rpos++]);
    any = true;
    if (c == '\n') break;
    if (overflow) continue;
    if (n + 1 >= static_cast<size_t>(size)) {
      overflow = true;
      continue;
    }
    buffer[n++] = c;
  }
  buffer[n] = '\0';
  if (overflow) {
    log_mesg(__FILE__, __LINE__, "sgets", LOG_ERROR, "line of %s longer than %d bytes",
             stream->name != nullptr ? stream->name : "a stream", size - 1);
    SetError(stream, EOVERFLOW);
    return nullptr;
  }
  if (!any) return nullptr;
  if ((stream->mode & STREAM_TEXT) && n > 0 && buffer[n - 1] == '\r') buffer[n - 1] = '\0';
  return buffer;
}

int stream_fstat(STREAM *stream, struct stat *status) {
  if (stream == nullptr || status == nullptr) {
    errno = EINVAL;
    return -1;
  }
  if (stream->ops->fstat == nullptr) {
    errno = ENOTSUP;
    return -1;
  }
  if (FlushWrites(stream) != 0) return -1;
  return stream->ops->fstat(stream->ctx, status) == 0 ? 0 : -1;
}

int stream_unlink(const char *name) {
  int first_err = ENOENT;
  bool first = true;
  for (const FnameAlternative &alt : fname_alternatives(name)) {
    if (alt.remote || !alt.valid) continue;
    if (::unlink(alt.path.c_str()) == 0) return 0;
    if (first) first_err = errno;
    first = false;
  }
  errno = first_err;
  return -1;
}

int stream_error(const STREAM *stream) { return stream != nullptr && stream->error; }

int stream_eof(const STREAM *stream) { return stream != nullptr && stream->eof; }

void stream_clearerr(STREAM *stream) {
  if (stream == nullptr) return;
  stream->error = 0;
  stream->err_no = 0;
  stream->eof = 0;
}

}  // extern "C"
