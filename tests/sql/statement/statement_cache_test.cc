#include "sql/statement/statement_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "dbc/session/dbc_settings.h"
#include "sql/common/sql_logger.h"
#include "sql/statement/statement_data.h"

// Each test runs in its own process, so every test starts with the cache
// unread and its capacity setting as the test sets it.
namespace {

std::unique_ptr<char[]> Text(char const *text) {
  auto copy = std::make_unique<char[]>(std::strlen(text) + 1);
  std::strcpy(copy.get(), text);
  return copy;
}

std::unique_ptr<SQLStatementData> Data(unsigned long id, int mode = 0) {
  return std::make_unique<SQLStatementData>(id, mode);
}

void ReadCapacity(int setting) {
  dbc_settings().qelt_sql_stmt_cache_size = setting;
  EXPECT_EQ(SQLStatementCache::Lookup("select * from t", 0), nullptr);  // reads and creates
}

TEST(SQLStatementCache, FirstLookupCreatesTheCacheAndMisses) {
  ReadCapacity(-1);
  ASSERT_TRUE(SQLStatementCache::Exists());
  EXPECT_EQ(SQLStatementCache::Get()->Capacity(), SQLStatementCache::kDefaultCapacity);
}

TEST(SQLStatementCache, ParkedDataComesBackForAnEqualTextAndMode) {
  ReadCapacity(10);
  EXPECT_EQ(SQLStatementCache::Get()->Capacity(), 10);
  SQLStatementCache::Park(Text("select a from t"), Data(7, 1));
  EXPECT_EQ(SQLStatementCache::Lookup("select a from t ", 1), nullptr);
  std::unique_ptr<SQLStatementData> data = SQLStatementCache::Lookup("select a from t", 1);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->GetId(), 7UL);
  EXPECT_EQ(SQLStatementCache::Lookup("select a from t", 1), nullptr);  // taken out
}

TEST(SQLStatementCache, DataOfAnotherModeIsDestroyed) {
  ReadCapacity(10);
  SQLStatementCache::Park(Text("select a from t"), Data(7, 1));
  EXPECT_EQ(SQLStatementCache::Lookup("select a from t", 2), nullptr);
  EXPECT_EQ(SQLStatementCache::Get()->NrElements(), 0);
  EXPECT_EQ(SQLStatementCache::Lookup("select a from t", 1), nullptr);
}

TEST(SQLStatementCache, CapacityOneEvictsTheEarlierText) {
  ReadCapacity(1);
  SQLStatementCache::Park(Text("A"), Data(1));
  SQLStatementCache::Park(Text("B"), Data(2));
  EXPECT_EQ(SQLStatementCache::Lookup("A", 0), nullptr);
  std::unique_ptr<SQLStatementData> b = SQLStatementCache::Lookup("B", 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->GetId(), 2UL);
}

TEST(SQLStatementCache, CapacityZeroKeepsTheCacheOffForGood) {
  ReadCapacity(0);
  EXPECT_FALSE(SQLStatementCache::Exists());
  SQLStatementCache::Park(Text("A"), Data(1));  // destroyed
  dbc_settings().qelt_sql_stmt_cache_size = 5;
  EXPECT_EQ(SQLStatementCache::Lookup("A", 0), nullptr);
  EXPECT_FALSE(SQLStatementCache::Exists());
}

TEST(SQLStatementCache, DeleteTracesTheEfficiencyOnceAndDestroysTheCache) {
  SQLLogger::Instance()->SetLogFlags(SQLLogger::StmtCacheStats);
  testing::internal::CaptureStderr();
  ReadCapacity(4);
  SQLStatementCache::Park(Text("A"), Data(1));
  EXPECT_NE(SQLStatementCache::Lookup("A", 0), nullptr);
  EXPECT_EQ(SQLStatementCache::Lookup("B", 0), nullptr);
  SQLStatementCache::Park(Text("C"), Data(3));
  SQLStatementCache::Delete();
  SQLStatementCache::Delete();
  std::string trace = testing::internal::GetCapturedStderr();
  EXPECT_NE(trace.find("SQL Statement cache size: 4"), std::string::npos) << trace;
  std::string const line = "SQL Statement cache efficiency: ";
  size_t at = trace.find(line);
  ASSERT_NE(at, std::string::npos) << trace;
  EXPECT_EQ(trace.find(line, at + 1), std::string::npos) << trace;
  EXPECT_EQ(std::stod(trace.substr(at + line.size())), 0.5);
  EXPECT_FALSE(SQLStatementCache::Exists());
}

TEST(SQLStatementCache, DisabledCacheIsTraced) {
  SQLLogger::Instance()->SetLogFlags(SQLLogger::StmtCacheStats);
  testing::internal::CaptureStderr();
  ReadCapacity(0);
  std::string trace = testing::internal::GetCapturedStderr();
  EXPECT_NE(trace.find("SQL Statement cache disabled"), std::string::npos) << trace;
}

}  // namespace
