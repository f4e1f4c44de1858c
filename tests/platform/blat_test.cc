#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/blat.h"
#include "support/test_env.h"

namespace {

// One record as docs/trace-file.md lays it out.
struct TraceRecord {
  int trace_class = 0;
  int kind = 0;
  int flags = 0;
  uint32_t pid = 0;
  uint64_t time_us = 0;
  uint32_t sequence = 0;
  std::string payload;

  uint64_t Field(size_t offset, int width) const {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 8) | static_cast<uint8_t>(payload.at(offset + i));
    return v;
  }
};

std::vector<TraceRecord> ReadTrace(const std::string &bytes) {
  std::vector<TraceRecord> records;
  size_t pos = 0;
  auto be = [&](size_t at, int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 8) | static_cast<uint8_t>(bytes.at(at + i));
    return v;
  };
  while (pos < bytes.size()) {
    EXPECT_EQ(0xB1A7u, be(pos, 2)) << "marker at " << pos;
    const size_t length = be(pos + 2, 2);
    EXPECT_GE(length, 24u);
    EXPECT_LE(pos + length, bytes.size());
    if (length < 24 || pos + length > bytes.size()) break;
    TraceRecord r;
    r.trace_class = static_cast<int>(be(pos + 4, 1));
    r.kind = static_cast<int>(be(pos + 5, 1));
    r.flags = static_cast<int>(be(pos + 6, 2));
    r.pid = static_cast<uint32_t>(be(pos + 8, 4));
    r.time_us = be(pos + 12, 8);
    r.sequence = static_cast<uint32_t>(be(pos + 20, 4));
    r.payload = bytes.substr(pos + 24, length - 24);
    records.push_back(r);
    pos += length;
  }
  return records;
}

class Trace : public testing::Test {
 protected:
  void Start(const char *classes) {
    setenv("BLAT", classes, 1);
    setenv("BLATLOG", (dir_.path() + "/trace.trc").c_str(), 1);
    blat_initiate();
  }
  std::vector<TraceRecord> Records() const { return ReadTrace(dir_.ReadFile("trace.trc")); }
  molvane::test::ScratchDir dir_;
};

TEST_F(Trace, StatesFollowBlatVariable) {
  Start("sess, trans:250");
  EXPECT_EQ(BLAT_STATE_ON, blat_get_state(BLAT_CLASS_SESSION));
  EXPECT_EQ(BLAT_STATE_ON | BLAT_STATE_THRESHOLD, blat_get_state(BLAT_CLASS_TRANSACTION));
  EXPECT_EQ(0, blat_get_state(BLAT_CLASS_SQL));
  EXPECT_EQ(0, blat_get_state(2));
  EXPECT_EQ(0, blat_get_state(99));
  Start("all");
  EXPECT_NE(0, blat_get_state(BLAT_CLASS_SQL));
  Start("4,bogus");
  EXPECT_NE(0, blat_get_state(BLAT_CLASS_SQL));
  EXPECT_EQ(0, blat_get_state(BLAT_CLASS_SESSION));
  Start("");
  EXPECT_EQ(0, blat_get_state(BLAT_CLASS_SQL));
  EXPECT_EQ("", blat_file_name());
  blat_sess_start("nothing", 1);
  EXPECT_EQ("", dir_.ReadFile("trace.trc"));
}

TEST_F(Trace, SessionRecordsReadBack) {
  Start("sess");
  blat_sess_start("orders", 3);
  blat_sess_rename("a-name-longer-than-sixteen", 3);
  blat_sess_zdb_start(3, 0x7F000001, 4321, 17);
  blat_sess_zdb_stop(3, 0x7F000001, 4321, 17);
  blat_sess_stop(3);
  blat_trans_commit(3);  // class off: nothing
  blat_threshold_check(BLAT_CLASS_TRANSACTION, BLAT_SLOT_COMMIT);
  const auto records = Records();
  ASSERT_EQ(5u, records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(BLAT_CLASS_SESSION, records[i].trace_class);
    EXPECT_EQ(static_cast<uint32_t>(getpid()), records[i].pid);
    EXPECT_EQ(i + 1, records[i].sequence);
    EXPECT_EQ(3u, records[i].Field(0, 2));
  }
  EXPECT_EQ(1, records[0].kind);
  EXPECT_EQ(std::string("orders\0\0\0\0\0\0\0\0\0\0", 16), records[0].payload.substr(4));
  EXPECT_EQ(0, records[0].flags);
  EXPECT_EQ(2, records[1].kind);
  EXPECT_EQ("a-name-longer-th", records[1].payload.substr(4));
  EXPECT_EQ(1, records[1].flags);  // cut
  EXPECT_EQ(4, records[2].kind);
  EXPECT_EQ(0x7F000001u, records[2].Field(4, 4));
  EXPECT_EQ(4321u, records[2].Field(8, 4));
  EXPECT_EQ(17u, records[2].Field(12, 4));
  EXPECT_EQ(5, records[3].kind);
  EXPECT_EQ(3, records[4].kind);
  EXPECT_EQ(4u, records[4].payload.size());
  EXPECT_LE(records[0].time_us, records[4].time_us);
}

TEST_F(Trace, TransactionRecordsWaitForThresholdCheck) {
  Start("trans");
  blat_trans_commit(5);
  blat_trans_zdb_commit(5, 1, 2, 3);
  EXPECT_TRUE(Records().empty());
  blat_threshold_check(BLAT_CLASS_TRANSACTION, BLAT_SLOT_ZDB_COMMIT);
  blat_threshold_check(BLAT_CLASS_TRANSACTION, BLAT_SLOT_COMMIT);
  blat_threshold_check(BLAT_CLASS_TRANSACTION, BLAT_SLOT_COMMIT);  // dropped already
  blat_trans_commit_failed(5);
  blat_trans_abort(5);
  blat_threshold_check(BLAT_CLASS_TRANSACTION, BLAT_SLOT_ABORT);
  blat_threshold_check(BLAT_CLASS_TRANSACTION, BLAT_SLOT_COMMIT);
  const auto records = Records();
  ASSERT_EQ(4u, records.size());
  EXPECT_EQ(4, records[0].kind);  // driver commit
  EXPECT_EQ(5u, records[0].Field(0, 2));
  EXPECT_EQ(BLAT_SLOT_ZDB_COMMIT, static_cast<int>(records[0].Field(2, 2)));
  EXPECT_EQ(1u, records[0].Field(12, 4));
  EXPECT_EQ(2u, records[0].Field(16, 4));
  EXPECT_EQ(3u, records[0].Field(20, 4));
  EXPECT_EQ(24u, records[0].payload.size());
  EXPECT_EQ(1, records[1].kind);  // commit
  EXPECT_EQ(12u, records[1].payload.size());
  EXPECT_EQ(2, records[2].kind);  // abort
  EXPECT_EQ(3, records[3].kind);  // failed commit
}

TEST_F(Trace, ThresholdHoldsBackShortActions) {
  Start("trans:60000,sql:60000");
  blat_trans_abort(1);
  blat_threshold_check(BLAT_CLASS_TRANSACTION, BLAT_SLOT_ABORT);
  blat_sql_action_start(9, BLAT_SQL_EXEC);
  blat_sql_action_end(9, BLAT_SQL_EXEC);
  EXPECT_TRUE(Records().empty());
}

void Location(char *buffer, int size) { snprintf(buffer, static_cast<size_t>(size), "script.z:12"); }

TEST_F(Trace, SqlActionRecordsCarryStatementAndLocation) {
  Start("sql");
  blat_set_loc_callback(Location);
  blat_sql_action_start(77, BLAT_SQL_PARSE);
  blat_sql_info(77, 4, "select a from t");
  blat_sql_action_end(77, BLAT_SQL_PARSE);
  blat_sql_action_end(77, BLAT_SQL_FETCH);  // never started: nothing
  blat_sql_netFetchId(0x1122334455ULL);
  blat_sql_action_start(77, BLAT_SQL_CLOSE);
  blat_set_loc_callback(nullptr);
  blat_sql_action_end(77, BLAT_SQL_CLOSE);
  const auto records = Records();
  ASSERT_EQ(3u, records.size());
  const TraceRecord &parse = records[0];
  EXPECT_EQ(BLAT_CLASS_SQL, parse.trace_class);
  EXPECT_EQ(1, parse.kind);
  EXPECT_EQ(77u, parse.Field(0, 8));
  EXPECT_EQ(4u, parse.Field(8, 2));
  EXPECT_EQ(static_cast<uint64_t>(BLAT_SQL_PARSE), parse.Field(10, 1));
  EXPECT_EQ(11u, parse.Field(20, 2));
  EXPECT_EQ(15u, parse.Field(22, 2));
  EXPECT_EQ("script.z:12select a from t", parse.payload.substr(24));
  EXPECT_EQ(2, records[1].kind);
  EXPECT_EQ(0x1122334455ULL, records[1].Field(0, 8));
  const TraceRecord &close = records[2];
  EXPECT_EQ(static_cast<uint64_t>(BLAT_SQL_CLOSE), close.Field(10, 1));
  EXPECT_EQ(4u, close.Field(8, 2));
  EXPECT_EQ(0u, close.Field(20, 2));
  EXPECT_EQ(0u, close.Field(22, 2));
  EXPECT_EQ(24u, close.payload.size());
}

TEST_F(Trace, LongStatementTextIsCutAndFlagged) {
  Start("sql");
  const std::string text(5000, 'x');
  blat_sql_action_start(1, BLAT_SQL_PARSE);
  blat_sql_info(1, 1, text.c_str());
  blat_sql_action_end(1, BLAT_SQL_PARSE);
  const auto records = Records();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(1, records[0].flags);
  EXPECT_EQ(4000u, records[0].Field(22, 2));
  EXPECT_EQ(24u + 4000u, records[0].payload.size());
}

struct SentCommand {
  void *driver = nullptr;
  int command = 0;
  std::string message;
};
SentCommand sent;

int CaptureSend(void *driver, int command, const char *message, int length) {
  sent = SentCommand{driver, command, std::string(message, static_cast<size_t>(length))};
  return 0;
}

TEST_F(Trace, NewServerGetsSettingsThatADriverApplies) {
  Start("sess,sql:5");
  int driver = 0;
  EXPECT_EQ(-1, blat_proc_new_server(&driver));  // no sender yet
  blat_set_server_sender(CaptureSend);
  ASSERT_EQ(0, blat_proc_new_server(&driver));
  EXPECT_EQ(&driver, sent.driver);
  EXPECT_EQ(1, sent.command);
  EXPECT_EQ("sess,sql:5\n" + dir_.path() + "/trace.trc", sent.message);

  // In a driver process: same classes, same file.
  Start("");
  EXPECT_EQ(-1, blat_apply_settings("no newline", 10));
  EXPECT_EQ(-1, blat_apply_settings("sess\nrelative.trc", 17));
  ASSERT_EQ(0, blat_apply_settings(sent.message.data(), static_cast<int>(sent.message.size())));
  EXPECT_NE(0, blat_get_state(BLAT_CLASS_SESSION));
  EXPECT_EQ(BLAT_STATE_ON | BLAT_STATE_THRESHOLD, blat_get_state(BLAT_CLASS_SQL));
  blat_sess_stop(2);
  EXPECT_EQ(1u, Records().size());
}

TEST(TraceHost, HostIdIsIpv4Address) {
  EXPECT_EQ(0x7F000001u, blat_get_hid_host("127.0.0.1"));
  EXPECT_EQ(0u, blat_get_hid_host(""));
  EXPECT_EQ(0u, blat_get_hid_host(nullptr));
  EXPECT_EQ(0u, blat_get_hid_host("no-such-host.invalid"));
}

TEST(TraceHost, RedirectsStandardError) {
  molvane::test::ScratchDir dir;
  const std::string path = dir.path() + "/err.log";
  ASSERT_EQ(0, redirect_stderr_for_trace(path.c_str()));
  fprintf(stderr, "to the file\n");
  fflush(stderr);
  EXPECT_EQ("to the file\n", dir.ReadFile("err.log"));
  EXPECT_EQ(-1, redirect_stderr_for_trace((dir.path() + "/no/such/dir/x").c_str()));
}

}  // namespace
