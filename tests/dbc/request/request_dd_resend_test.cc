// The dictionary resend rule: a 513 reply names tables whose dictionaries the
// driver lacks; the client sends each and repeats the request, a bounded
// number of times. The dictionary comes from the fixture environment.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <molvane/platform.h>
#include <molvane/zdb.h>

#include "dbc/dict/dd.h"
#include "dbc/request/request_block.h"
#include "dbc/zdb_errors.h"
#include "dbc/session/zdb_server.h"
#include "dbc/log_capture.h"
#include "dbc/scripted_peer.h"
#include "support/test_env.h"

namespace {

using molvane::test::Bytes;
using molvane::test::ScriptedPeer;

class DictionaryResend : public testing::Test {
 protected:
  void SetUp() override {
    set_zuv(molvane::test::FixturePath("zuv").c_str());
    init_local_dd();
    session_.server = peer_.server();
    session_.server_session_id = 9;
  }

  unsigned char row_[16] = {};
  void FillRowRequest(ZDB_REQUEST &r) {
    std::strcpy(r.row_cntr.table, "exemp010");
    r.row_cntr.compnr = 1;
    r.row_cntr.read_arg = 13;
    r.row_cntr.row = row_;
    r.row_cntr.row_len = 2;
    r.row_cntr.row_capacity = sizeof row_;
  }

  // Offsets in the sent bytes where a request with the code byte and the
  // given text right after the session id begins.
  std::vector<std::size_t> Find(const std::vector<std::uint8_t> &sent, int code,
                                const std::string &name) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i + 5 + name.size() <= sent.size(); ++i)
      if (sent[i] == code && std::memcmp(&sent[i + 5], name.data(), name.size()) == 0)
        at.push_back(i);
    return at;
  }

  ScriptedPeer peer_;
  ZDB_SESSION session_;
};

TEST_F(DictionaryResend, SendsBothListedTablesThenRepeatsTheRequest) {
  peer_.Reply(Bytes()
                  .u16(0).u32(513).u32(2).raw("exdep010").u16(1).raw("exemp010").u16(1)
                  .u32(0).u32(0)  // two DD_INFO_TABLE replies
                  .u16(2).raw("ok").u32(0));
  dbc_request_prepare(EXE_ROW_CNTR);
  FillRowRequest(dbc_request());
  ASSERT_EQ(zdb_commu_dd(&session_), 0);
  EXPECT_EQ(std::memcmp(row_, "ok", 2), 0);
  std::vector<std::uint8_t> sent = peer_.Sent();
  EXPECT_EQ(Find(sent, DD_INFO_TABLE, "exdep010").size(), 1u);
  EXPECT_EQ(Find(sent, DD_INFO_TABLE, "exemp010").size(), 1u);
  std::vector<std::size_t> rows = Find(sent, EXE_ROW_CNTR, "exemp010");
  ASSERT_EQ(rows.size(), 2u);
  // The repeat carries the same bytes as the first try.
  std::size_t first_len = Find(sent, DD_INFO_TABLE, "exdep010")[0];
  EXPECT_TRUE(std::equal(sent.begin(), sent.begin() + first_len, sent.begin() + rows[1]));
}

TEST_F(DictionaryResend, UpperCaseNameMeansTheNewDictionary) {
  peer_.Reply(Bytes().u16(0).u32(513).u32(1).raw("Exdep010").u16(3).u32(0).u16(0).u32(0));
  dbc_request_prepare(EXE_ROW_CNTR);
  FillRowRequest(dbc_request());
  ASSERT_EQ(zdb_commu_dd(&session_), 0);
  std::vector<std::uint8_t> sent = peer_.Sent();
  std::vector<std::size_t> dd = Find(sent, DD_INFO_TABLE, "Exdep010");
  ASSERT_EQ(dd.size(), 1u);
  EXPECT_EQ(get_dd_mode(), 1);  // restored
}

TEST_F(DictionaryResend, RepeatOfAnUpdateCarriesNoTables) {
  ZDB_UPDATE_TABLE table = {{'e', 'x', 'e', 'm', 'p', '0', '1', '0'}, 1, nullptr};
  peer_.Reply(Bytes().u32(513).u32(1).raw("exdep010").u16(1).u32(0).u32(0));
  dbc_request_prepare(EXE_UPDATE);
  dbc_request().session_id = 9;
  dbc_request().update.tables = &table;
  dbc_request().update.count = 1;
  ASSERT_EQ(zdb_commu_dd(&session_), 0);
  std::vector<std::uint8_t> sent = peer_.Sent();
  std::vector<std::uint8_t> repeat = Bytes().u8(EXE_UPDATE).u32(9).u16(0).data();
  ASSERT_GE(sent.size(), repeat.size());
  EXPECT_TRUE(std::equal(repeat.begin(), repeat.end(), sent.end() - repeat.size()));
}

TEST_F(DictionaryResend, DriverThatKeepsAskingIsGivenUpOn) {
  Bytes replies;
  for (int i = 0; i <= ZDB_MAX_DD_RESENDS; ++i) {
    replies.u16(0).u32(513).u32(1).raw("exdep010").u16(1);
    if (i < ZDB_MAX_DD_RESENDS) replies.u32(0);
  }
  peer_.Reply(replies);
  dbc_request_prepare(EXE_ROW_CNTR);
  FillRowRequest(dbc_request());
  molvane::test::LogCapture log;
  EXPECT_EQ(zdb_commu_dd(&session_), -1);
  EXPECT_EQ(zdb_errno, ZE_NO_DD);
  EXPECT_EQ(Find(peer_.Sent(), EXE_ROW_CNTR, "exemp010").size(),
            static_cast<std::size_t>(ZDB_MAX_DD_RESENDS + 1));
}

// A 513 reply that cannot be read whole (its list cut short, or a row that
// does not fit the caller's buffer) fails at once with the communication
// error: nothing is sent again on a stream that is out of step.
TEST_F(DictionaryResend, BrokenReplyWithRetval513IsNotRepeated) {
  const Bytes replies[] = {
      Bytes().u16(0).u32(513).u32(2).raw("exdep010").u16(1),
      Bytes().u16(sizeof row_ + 1).fill(sizeof row_ + 1, 'x').u32(513).u32(1)
          .raw("exdep010").u16(1),
  };
  for (const Bytes &reply : replies) {
    peer_.Reply(reply);
    dbc_request_prepare(EXE_ROW_CNTR);
    FillRowRequest(dbc_request());
    molvane::test::LogCapture log;
    EXPECT_EQ(zdb_commu_dd(&session_), -1);
    EXPECT_EQ(zdb_errno, ZE_COMMUNICATION);
    EXPECT_EQ(Find(peer_.Sent(), EXE_ROW_CNTR, "exemp010").size(), 1u);
  }
}

TEST_F(DictionaryResend, UnknownTableFailsWithItsName) {
  peer_.Reply(Bytes().u16(0).u32(513).u32(1).raw("exnon010").u16(1));
  dbc_request_prepare(EXE_ROW_CNTR);
  FillRowRequest(dbc_request());
  molvane::test::LogCapture log;
  EXPECT_EQ(zdb_commu_dd(&session_), -1);
  EXPECT_EQ(zdb_errno, ZE_NO_DD);
  EXPECT_TRUE(log.Contains("NO DD: Tname 'exnon010' not found"));
}

}  // namespace
