// The text reader and text_content(): the lines of a text fetched through a
// scripted agent, joined as stored; the fetcher kept per company and
// attached to the caller's session.
#include "sql/exec/text_reader.h"

#include <gtest/gtest.h>

#include "agent_peer.h"
#include "sql/common/value_store.h"
#include "sql/exec/sc_const.h"
#include "sql/exec/sc_text_content.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/common/sql_parameter.h"

namespace {

using namespace molvane::test;

class TextReaderTest : public testing::Test {
 protected:
  void SetUp() override {
    SQLSchemaPtr schema = SQLSchemaMgr::GetSchema("tttxt010");
    for (int i = 0; i < schema->GetNumCols(); ++i) columns_.push_back(schema->GetColumnDescriptor(i));
    schema_ = schema;
  }
  void TearDown() override { SQLTextReader::DeleteInstance(); }

  // A reply row of the texts table holding one line.
  std::vector<ReplyValue> Line(int text, int seqe, std::string const &line) const {
    std::vector<ReplyValue> row(columns_.size());
    row[static_cast<size_t>(schema_->GetColumnId("ctxt"))] = RInt(text);
    row[static_cast<size_t>(schema_->GetColumnId("clan"))] = RText("2");
    row[static_cast<size_t>(schema_->GetColumnId("seqe"))] = RInt(seqe);
    row[static_cast<size_t>(schema_->GetColumnId("text"))] = RText(line);
    return row;
  }
  // Reads a text whose agent statement is `id` and whose lines the peer
  // returns; nullopt for NULL.
  std::optional<std::string> Read(unsigned long id, std::vector<std::string> const &lines, int company = 100,
                                  unsigned long session = 9) {
    std::vector<std::vector<ReplyValue>> rows;
    for (size_t i = 0; i < lines.size(); ++i) rows.push_back(Line(12, static_cast<int>(i + 1), lines[i]));
    env_.Peer().replies.push_back(RowSet(id, columns_, rows));
    SQLValueStore out;
    SQLTextReader::Instance()->ReadText(12, '2', company, session, &out);
    if (out.IsNull()) return std::nullopt;
    return std::string(out.GetString(), out.GetLength());
  }

  AgentTestEnv env_;
  SQLSchemaPtr schema_;
  std::vector<SQLColumnDescriptor const *> columns_;
};

TEST_F(TextReaderTest, LinesAreJoinedAsStoredAndOnlyTheEndIsStripped) {
  EXPECT_EQ(Read(1, {"ab  ", "cd", "ef  "}), std::optional<std::string>("ab  cdef"));
  ByteString batch = env_.Peer().sent.back();
  int seqe = schema_->GetColumnId("seqe");
  // Ordered by the sequence number, filtered by number and language, at
  // the driver; the values travel as parameters.
  EXPECT_TRUE(Contains(batch, Cat({Tok(SQLNWTRSSort), B2(1), B2(seqe), Tok(SQLNWTAscending), Tok(SQLNWTRSFilter),
                                   Tok(SQLNWTSCAnd), B2(2)})));
  EXPECT_TRUE(Contains(batch, Cat({Tok(SQLNWTRSTable), Mem("tttxt010"), B2(100), Tok(SQLNWTNoIndexHints)})));
  EXPECT_TRUE(Contains(batch, Cat({Tok(SQLNWTTypeInteger), B4(12)})));
  EXPECT_TRUE(Contains(batch, Cat({Tok(SQLNWTTypeString), Mem("2")})));
}

TEST_F(TextReaderTest, ATextWithoutLinesIsNull) {
  EXPECT_EQ(Read(1, {}), std::nullopt);
  EXPECT_EQ(Read(1, {"x"}), std::optional<std::string>("x"));  // the fetcher runs again
}

TEST_F(TextReaderTest, TheFetcherIsRebuiltOnlyWhenTheCompanyChanges) {
  SQLTextReader *reader = SQLTextReader::Instance();
  EXPECT_EQ(Read(1, {"a"}, 100), std::optional<std::string>("a"));
  EXPECT_EQ(Read(1, {"b"}, 100), std::optional<std::string>("b"));
  EXPECT_EQ(reader->GetBuilds(), 1);
  EXPECT_EQ(Read(2, {"c"}, 200), std::optional<std::string>("c"));
  EXPECT_EQ(reader->GetCompanyNumber(), 200);
  EXPECT_EQ(Read(3, {"d"}, 100), std::optional<std::string>("d"));
  EXPECT_EQ(reader->GetBuilds(), 3);
}

TEST_F(TextReaderTest, AfterDetachTheNextReadAttachesToItsSession) {
  EXPECT_EQ(Read(1, {"a"}), std::optional<std::string>("a"));
  SQLTextReader::Instance()->DetachFromSession(0);
  EXPECT_EQ(Read(1, {"b"}, 100, 11), std::optional<std::string>("b"));
  ByteString batch = env_.Peer().sent.back();
  // The close left with this exchange, followed by a new attach.
  EXPECT_TRUE(Contains(batch, Cat({B4(1), Tok(SQLNWTPacketClose)})));
  EXPECT_TRUE(Contains(batch, Cat({B4(1), Tok(SQLNWTPacketAttach)})));
}

TEST_F(TextReaderTest, TextContentReadsThroughTheReaderAndIsNullForNullOperands) {
  SQLRSSCTextContent text(new SQLRSSCIntegerConst(12),
                          new SQLRSSCStringConst(reinterpret_cast<unsigned char const *>("2"), 1), 100);
  SQLRSPrepareContext context;
  SQLValueStore const *out = text.Prepare(&context);
  text.AttachToSession(9);
  env_.Peer().replies.push_back(RowSet(1, columns_, {Line(12, 1, "hello ")}));
  text.Evaluate();
  EXPECT_EQ(std::string(out->GetString(), out->GetLength()), "hello");
  EXPECT_EQ(text.GetColumnDescriptor().GetType(), SQL_STRING);

  SQLParameter nullNumber;
  nullNumber.SetType(SQL_INTEGER, 4, 1);
  nullNumber.SetNull();
  SQLRSSCTextContent none(new SQLRSSCParameterRef(&nullNumber),
                          new SQLRSSCStringConst(reinterpret_cast<unsigned char const *>("2"), 1), 100);
  SQLValueStore const *noneOut = none.Prepare(&context);
  size_t exchanges = env_.Peer().sent.size();
  none.Evaluate();
  EXPECT_TRUE(noneOut->IsNull());
  EXPECT_EQ(env_.Peer().sent.size(), exchanges);
}

}  // namespace
