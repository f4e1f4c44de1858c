#include "sql/statement/sql_processor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <molvane/platform.h>
#include <molvane/zdb.h>

#include "alloc_failure.h"
#include "dbc/session/dbc_settings.h"
#include "sql/common/sql_string.h"
#include "sql/statement/sql_resource.h"

namespace {

struct Logged {
  char level;
  char keyword[32];
  char text[64];
  char file[128];
  int count;
};
Logged g_logged;

// Copies into fixed storage: the hook may run while allocations fail.
void Hook(char level, char const *keyword, char const *text, char const *file, int) {
  g_logged.level = level;
  std::snprintf(g_logged.keyword, sizeof g_logged.keyword, "%s", keyword ? keyword : "");
  std::snprintf(g_logged.text, sizeof g_logged.text, "%s", text ? text : "");
  std::snprintf(g_logged.file, sizeof g_logged.file, "%s", file ? file : "");
  ++g_logged.count;
}

TEST(SQLProcessor, IsInstalledAsTheNewHandlerAtLoad) {
  EXPECT_EQ(std::get_new_handler(), &SQLProcessor::OutOfMemory);
  EXPECT_STREQ(SQLProcessor::NoMoreMemory().GetString(), "No more memory");
}

TEST(SQLProcessor, FailedAllocationSetsErrnoLogsOnceAndThrowsBadAlloc) {
  log_hook_fn previous = log_set_log_hook(Hook);
  zdb_errno = 0;
  bool thrown = false;
  {
    ScopedAllocationFailure fail(0, 1);
    try {
      auto s = std::make_unique<SQLString>("never made");
    } catch (std::bad_alloc const &) {
      thrown = true;
    }
  }
  log_set_log_hook(previous);
  EXPECT_TRUE(thrown);
  EXPECT_EQ(zdb_errno, 501);
  EXPECT_EQ(g_logged.count, 1);
  EXPECT_EQ(g_logged.level, 'E');
  EXPECT_STREQ(g_logged.keyword, "Memory");
  EXPECT_STREQ(g_logged.text, "Out of memory!");
  EXPECT_NE(std::strstr(g_logged.file, "sql_processor.cc"), nullptr) << g_logged.file;
}

TEST(SQLProcessor, HandlerStillThrowsWhenItsOwnLogCallRunsOutOfMemory) {
  log_hook_fn previous = log_set_log_hook(Hook);
  zdb_errno = 0;
  {
    ScopedAllocationFailure fail;  // every allocation, the log's included
    EXPECT_THROW(SQLProcessor::OutOfMemory(), std::bad_alloc);
  }
  log_set_log_hook(previous);
  EXPECT_EQ(zdb_errno, 501);
}

TEST(SQLResource, ReadsTheClientSettingsAtEveryCall) {
  DBC_SETTINGS &s = dbc_settings();
  s.qelt_sql_trace = 0x40;
  s.qelt_sql_stmt_cache_size = 12;
  s.qelt_sql_cacherows = 100;
  s.rds_full = 5;
  s.qelt_sql_soft_close_delay = -1;
  EXPECT_EQ(SQLResource::qelt_sql_trace(), 0x40);
  EXPECT_EQ(SQLResource::qelt_sql_stmt_cache_size(), 12);
  EXPECT_EQ(SQLResource::qelt_sql_cacherows(), 100);
  EXPECT_EQ(SQLResource::qelt_sql_commu_buffer_rows(), 5);
  EXPECT_EQ(SQLResource::qelt_sql_soft_close_delay(), -1);
  s.rds_full = 9;
  s.qelt_sql_soft_close_delay = 30;
  EXPECT_EQ(SQLResource::qelt_sql_commu_buffer_rows(), 9);
  EXPECT_EQ(SQLResource::qelt_sql_soft_close_delay(), 30);
}

}  // namespace
