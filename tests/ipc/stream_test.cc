#include <gtest/gtest.h>

#include <errno.h>

#include <cstring>
#include <string>
#include <vector>

#include "ipc/fname.h"
#include "ipc/stream.h"
#include "ipc/stream_int.h"
#include "platform/dynbuf.h"
#include "platform/env.h"
#include "platform/mal.h"
#include "support/test_env.h"

namespace {

std::string Content(STREAM *s) {
  size_t n = 0;
  const unsigned char *p = stream_bytes(s, &n);
  return p != nullptr ? std::string(reinterpret_cast<const char *>(p), n) : "<null>";
}

TEST(StreamInt, GoldenBigEndianBytes) {
  STREAM *s = stream_open_bytes(nullptr, 0, "w+");
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(0, w_short(s, 0x1234));
  EXPECT_EQ(0, w_short(s, -2));
  EXPECT_EQ(0, w_long(s, 0x01020304));
  EXPECT_EQ(0, w_long(s, -1000));
  EXPECT_EQ(0, w_string(s, "ab"));
  const std::string golden("\x12\x34\xff\xfe\x01\x02\x03\x04\xff\xff\xfc\x18" "ab\0", 15);
  EXPECT_EQ(golden, Content(s));
  ASSERT_EQ(0, sseek(s, 0, 0));
  EXPECT_EQ(0x1234, r_short(s));
  EXPECT_EQ(-2, r_short(s));
  EXPECT_EQ(0x01020304, r_long(s));
  EXPECT_EQ(-1000, r_long(s));
  char buf[8];
  EXPECT_EQ(2, r_string(s, buf, sizeof buf));
  EXPECT_STREQ("ab", buf);
  EXPECT_FALSE(stream_error(s));
  EXPECT_EQ(-1, r_long(s));
  EXPECT_TRUE(stream_error(s)) << "a short read is an error, not a value";
  EXPECT_EQ(0, sclose(s));
}

TEST(StreamInt, StringLongerThanBufferStopsAtTheLimitAndMarksTheStream) {
  const char data[] = "abcdefghij\0xy\0";
  STREAM *s = stream_open_bytes(data, sizeof data - 1, "r");
  ASSERT_NE(nullptr, s);
  char buf[5];
  errno = 0;
  EXPECT_EQ(-1, r_string(s, buf, sizeof buf));
  EXPECT_EQ(EOVERFLOW, errno);
  EXPECT_STREQ("abcd", buf);
  EXPECT_TRUE(stream_error(s)) << "the stream is inside the text: its reader must give it up";
  EXPECT_EQ(5, stream_stell(s)) << "no byte past the caller's limit is read";
  sclose(s);

  // A text without a NUL is never searched past the limit.
  std::string endless(1 << 20, 'a');
  s = stream_open_bytes(endless.data(), endless.size(), "r");
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(-1, r_string(s, buf, sizeof buf));
  EXPECT_EQ(5, stream_stell(s));
  sclose(s);
}

TEST(Stream, ByteArrayRoundTripWithSeeks) {
  STREAM *s = stream_open_bytes("0123456789", 10, "r+");
  ASSERT_NE(nullptr, s);
  char buf[16] = {};
  EXPECT_EQ(4, sread_blok(buf, 4, s));
  EXPECT_EQ("0123", std::string(buf, 4));
  EXPECT_EQ(4, stream_stell(s));
  EXPECT_EQ(2, swrite_blok("AB", 2, s));  // overwrites 4 and 5
  EXPECT_EQ(6, stream_stell(s)) << "counts the buffered bytes";
  EXPECT_EQ(3, sread_blok(buf, 3, s));
  EXPECT_EQ("678", std::string(buf, 3));
  EXPECT_EQ(12, sseek(s, 2, 2));  // beyond the end: a gap of zeroes
  EXPECT_EQ(1, swrite_blok("Z", 1, s));
  EXPECT_EQ(1, sseek(s, 1, 0));
  EXPECT_EQ(2, sread_blok(buf, 2, s));
  EXPECT_EQ("12", std::string(buf, 2));
  EXPECT_EQ(5, sseek(s, 2, 1));
  EXPECT_EQ(1, sread_blok(buf, 1, s));
  EXPECT_EQ('B', buf[0]);
  EXPECT_EQ(std::string("0123AB6789\0\0Z", 13), Content(s));
  struct stat st;
  ASSERT_EQ(0, stream_fstat(s, &st));
  EXPECT_EQ(13, st.st_size);
  EXPECT_EQ(-1, sseek(s, -1, 0));
  EXPECT_EQ(0, sclose(s));
}

// One byte array reused write after write, the way a request goes out:
// seeking back settles the pending bytes first, in every writing mode.
TEST(Stream, ByteArraySeekBackOverPendingWrites) {
  struct Case {
    const char *mode;
    const char *after;  // the array after "abcd", seek 1, "XY", seek 0, "Q"
  };
  for (const Case &c : {Case{"w", "QXYd"}, Case{"w+", "QXYd"}, Case{"r+", "QXYd"},
                        Case{"a", "abcdXYQ"}}) {
    SCOPED_TRACE(c.mode);
    STREAM *s = stream_open_bytes(nullptr, 0, c.mode);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(4, swrite_blok("abcd", 4, s));
    EXPECT_EQ(1, sseek(s, 1, SEEK_SET));
    EXPECT_EQ(1, stream_stell(s));
    EXPECT_EQ(2, swrite_blok("XY", 2, s));
    EXPECT_EQ(0, sseek(s, 0, SEEK_SET));
    EXPECT_EQ(1, swrite_blok("Q", 1, s));
    EXPECT_EQ(c.after, Content(s));
    EXPECT_EQ(-1, sseek(s, -1, SEEK_SET));
    EXPECT_EQ(0, sclose(s));
  }
}

// Room in the write buffer is given only when bytes stored there land at
// the logical position: never over read-ahead of a seekable stream, never
// past the buffer; and the stored bytes count once committed.
TEST(Stream, WriteRoomKeepsPositionsRight) {
  STREAM *s = stream_open_bytes("0123456789", 10, "r+");
  ASSERT_NE(nullptr, s);
  // The buffer comes with the stream: room at the start, uncommitted.
  ASSERT_NE(nullptr, stream_wreserve(s, 2));
  EXPECT_EQ(0, stream_stell(s));
  char buf[4] = {};
  EXPECT_EQ(2, sread_blok(buf, 2, s));
  EXPECT_EQ(1, swrite_blok("A", 1, s));  // drops the read-ahead
  unsigned char *room = stream_wreserve(s, 2);
  ASSERT_NE(nullptr, room);
  std::memcpy(room, "BC", 2);
  stream_wcommit(s, 2);
  EXPECT_EQ(5, stream_stell(s));
  EXPECT_EQ(nullptr, stream_wreserve(s, s->bufsize)) << "more than the buffer holds";
  EXPECT_EQ(1, sread_blok(buf, 1, s));
  EXPECT_EQ('5', buf[0]);
  EXPECT_EQ(nullptr, stream_wreserve(s, 1)) << "read-ahead of a seekable stream";
  EXPECT_EQ("01ABC56789", Content(s));
  EXPECT_EQ(0, sclose(s));
}

TEST(Stream, LargeTransfersCrossTheBuffer) {
  std::vector<unsigned char> big(70000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i * 7);
  STREAM *s = stream_open_bytes(nullptr, 0, "w+");
  for (size_t i = 0; i < big.size(); i += 1000) ASSERT_EQ(1000, swrite_blok(&big[i], 1000, s));
  EXPECT_EQ(70000, stream_stell(s));
  ASSERT_EQ(0, sseek(s, 0, 0));
  std::vector<unsigned char> back(big.size());
  EXPECT_EQ(3, sread_blok(back.data(), 3, s));
  EXPECT_EQ(69997, sread_blok(back.data() + 3, 80000, s));
  EXPECT_EQ(big, back);
  EXPECT_EQ(0, sread_blok(back.data(), 1, s));
  EXPECT_TRUE(stream_eof(s));
  sclose(s);
}

TEST(Stream, LinesBoundedAndUnbounded) {
  std::string long_line(300, 'x');
  std::string text = "one\r\ntwo\n" + long_line + "\nlast";
  STREAM *s = stream_open_bytes(text.data(), text.size(), "rt");
  char buf[16];
  ASSERT_NE(nullptr, sgets(buf, sizeof buf, s));
  EXPECT_STREQ("one", buf);
  ASSERT_NE(nullptr, sgets(buf, sizeof buf, s));
  EXPECT_STREQ("two", buf);
  errno = 0;
  EXPECT_EQ(nullptr, sgets(buf, sizeof buf, s)) << "too long a line is never cut silently";
  EXPECT_EQ(EOVERFLOW, errno);
  EXPECT_TRUE(stream_error(s));
  stream_clearerr(s);
  ASSERT_NE(nullptr, sgets(buf, sizeof buf, s));
  EXPECT_STREQ("last", buf);
  EXPECT_EQ(nullptr, sgets(buf, sizeof buf, s));
  EXPECT_FALSE(stream_error(s));

  ASSERT_EQ(0, sseek(s, 0, 0));
  DYNBUF *d = dynbuf_create(4);
  ASSERT_EQ(0, dynbuf_sgets(s, d));
  EXPECT_STREQ("one", dynbuf_get_buf(d));
  ASSERT_EQ(0, dynbuf_sgets(s, d));
  ASSERT_EQ(0, dynbuf_sgets(s, d));
  EXPECT_EQ(long_line, dynbuf_get_buf(d));
  ASSERT_EQ(0, dynbuf_sgets(s, d));
  EXPECT_STREQ("last", dynbuf_get_buf(d));
  EXPECT_NE(0, dynbuf_sgets(s, d));
  dynbuf_destroy(d);
  sclose(s);
}

class FileStreams : public ::testing::Test {
 protected:
  void SetUp() override { set_zuv(root_.path().c_str()); }
  std::string P(const std::string &rel) { return root_.path() + "/" + rel; }
  molvane::test::ScratchDir root_;
};

TEST_F(FileStreams, ModesCreateTruncateAppendAndExclusive) {
  STREAM *s = qelt_sopen(P("f").c_str(), "w");
  ASSERT_NE(nullptr, s);
  swrite_blok("hello\n", 6, s);
  EXPECT_EQ(0, sclose(s));
  s = qelt_sopen(P("f").c_str(), "a");
  swrite_blok("more\n", 5, s);
  EXPECT_EQ(11, stream_stell(s));
  sclose(s);
  EXPECT_EQ("hello\nmore\n", root_.ReadFile("f"));

  errno = 0;
  EXPECT_EQ(nullptr, qelt_sopen(P("f").c_str(), "x+"));
  EXPECT_EQ(17, errno);
  s = qelt_sopen(P("g").c_str(), "x+");
  ASSERT_NE(nullptr, s);
  swrite_blok("abc", 3, s);
  ASSERT_EQ(0, sseek(s, 0, 0));
  char buf[4] = {};
  EXPECT_EQ(3, sread_blok(buf, 3, s));
  EXPECT_STREQ("abc", buf);
  sclose(s);

  errno = 0;
  EXPECT_EQ(nullptr, qelt_sopen(P("f").c_str(), "q"));
  EXPECT_EQ(EINVAL, errno);
  EXPECT_EQ(nullptr, qelt_sopen(P("missing").c_str(), "r"));
  EXPECT_EQ(nullptr, qelt_sopen(root_.path().c_str(), "r")) << "a directory is not a file";
  EXPECT_EQ(0, stream_unlink(P("g").c_str()));
  EXPECT_EQ(-1, stream_unlink(P("g").c_str()));
}

TEST_F(FileStreams, AlternativesOpenTheFirstThatExistsAndReportIt) {
  root_.WriteFile("b", "B\n");
  std::string name = P("a") + ";" + P("b");
  STREAM *s = qelt_sopen(name.c_str(), "r");
  ASSERT_NE(nullptr, s);
  char buf[64];
  ASSERT_NE(nullptr, get_last_exploded_fname(buf, sizeof buf));
  EXPECT_EQ(P("b"), buf);
  EXPECT_EQ(nullptr, get_last_exploded_fname(buf, 3));
  sclose(s);

  // A remote alternative fails cleanly and the next one is tried.
  root_.WriteFile("dict/dtab", "T\n");
  s = qelt_sopen(("otherhost!/x/y;{nofdlog}F_ZRDD:dtab.new;F_ZRDD:dtab"), "r");
  ASSERT_NE(nullptr, s);
  ASSERT_NE(nullptr, sgets(buf, sizeof buf, s));
  EXPECT_STREQ("T", buf);
  sclose(s);
  EXPECT_TRUE(get_explode_fname("F_ZRDD:dtab"));
  get_last_exploded_fname(buf, sizeof buf);
  EXPECT_EQ(P("dict/dtab"), buf);
  EXPECT_FALSE(get_explode_fname("F_ZRDD:none;elsewhere!/dict/dtab"));
  EXPECT_EQ(nullptr, qelt_sopen("UNSET_LOGICAL_DIR:dtab", "r"));

  root_.WriteFile("pk/p1/d1", "P\n");
  ::setenv("PKDIR", (root_.path() + "/pk/${PACKAGE}").c_str(), 1);
  EXPECT_TRUE(get_explode_fname("{package=p1}PKDIR:d1"));
  EXPECT_TRUE(get_explode_fname("${ZUV}/b"));
  ::unsetenv("PKDIR");

  s = open_zuv_file("dict/d%s", "tab");
  ASSERT_NE(nullptr, s);
  sclose(s);
  EXPECT_EQ(nullptr, open_zuv_file("lib/compnr%s", "1"));
}

// Memory that runs out while an alternative opens says nothing of that
// file: the next alternative must not stand in for it (an older dump for a
// ".new" one). The stream and its buffers come from the library's
// allocator: refusing one of its allocations fails the first alternative.
int g_until_refusal = 0;  // allocations to the refused one, counting it
int RefuseNth(size_t) { return --g_until_refusal == 0 ? 1 : 0; }

TEST_F(FileStreams, AnAlternativeWithoutMemoryFailsTheOpenWithENOMEM) {
  root_.WriteFile("a", "A\n");
  root_.WriteFile("b", "B\n");
  const std::string name = P("a") + ";" + P("b");
  for (int refused : {1, 2, 3}) {  // the stream, its name, its buffer
    SCOPED_TRACE(refused);
    mal_set_failure_hook(RefuseNth);
    g_until_refusal = refused;
    errno = 0;
    STREAM *s = qelt_sopen(name.c_str(), "r");
    mal_set_failure_hook(nullptr);
    if (s != nullptr) {
      char buf[8] = {};
      sgets(buf, sizeof buf, s);
      sclose(s);
      ADD_FAILURE() << "opened, reading " << buf;
      continue;
    }
    EXPECT_EQ(ENOMEM, errno);
  }
  STREAM *s = qelt_sopen(name.c_str(), "r");
  ASSERT_NE(nullptr, s);
  char buf[8] = {};
  ASSERT_NE(nullptr, sgets(buf, sizeof buf, s));
  EXPECT_STREQ("A", buf);
  sclose(s);
}

// A stream over caller-supplied operations: the kind a process connection
// uses. Reads come from a script; writes are collected.
struct Pipe {
  std::string in;
  size_t at = 0;
  std::string out;
  int flushes = 0;
  bool closed = false;
};
long PipeRead(void *c, void *buf, size_t n) {
  Pipe *p = static_cast<Pipe *>(c);
  size_t k = std::min(n, p->in.size() - p->at);
  std::memcpy(buf, p->in.data() + p->at, k);
  p->at += k;
  return static_cast<long>(k);
}
long PipeWrite(void *c, const void *buf, size_t n) {
  static_cast<Pipe *>(c)->out.append(static_cast<const char *>(buf), n);
  return static_cast<long>(n);
}
int PipeFlush(void *c) { return ++static_cast<Pipe *>(c)->flushes, 0; }
int PipeClose(void *c) { return static_cast<Pipe *>(c)->closed = true, 0; }
int g_disconnects = 0;
void OnDisconnect(STREAM *) { ++g_disconnects; }

TEST(Stream, CallerOperationsKeepDirectionsApartAndReportDisconnect) {
  static const STREAM_OPS ops = {PipeRead, PipeWrite, nullptr, PipeFlush, PipeClose, nullptr};
  Pipe pipe;
  pipe.in = std::string("\0\x05", 2);
  STREAM *s = stream_create(&ops, &pipe, STREAM_KIND_CONN, STREAM_READ | STREAM_WRITE, "conn", 0);
  ASSERT_NE(nullptr, s);
  s->disconnect_handler = OnDisconnect;
  EXPECT_EQ(0, w_long(s, 7));
  EXPECT_EQ("", pipe.out) << "buffered until the flush";
  EXPECT_EQ(0, sflush(s));
  EXPECT_EQ(std::string("\0\0\0\x07", 4), pipe.out);
  EXPECT_EQ(1, pipe.flushes);
  EXPECT_EQ(5, r_short(s));
  EXPECT_EQ(-1, sseek(s, 0, 0));
  EXPECT_EQ(ESPIPE, errno);
  g_disconnects = 0;
  EXPECT_EQ(-1, r_short(s));
  EXPECT_EQ(-1, r_short(s));
  EXPECT_EQ(1, g_disconnects) << "the handler is called once";
  EXPECT_EQ(0, sclose(s));
  EXPECT_TRUE(pipe.closed);
}

}  // namespace
