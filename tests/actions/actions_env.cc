#include "actions_env.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include <molvane/platform.h>

#include "dbc/session/zdb_attach.h"
#include "dbc/cursor/zdb_cursor.h"
#include "dbc/session/zdb_server.h"

namespace molvane::test {

namespace {

int g_deaths = 0;
void CountDeath(STREAM *) { ++g_deaths; }

}  // namespace

int DriverDeaths() { return g_deaths; }

void ActionsTest::SetUp() {
  std::filesystem::copy(FixturePath("zuv/dict"), root_.path() + "/dict",
                        std::filesystem::copy_options::recursive);
  std::filesystem::create_directories(root_.path() + "/data");
  std::string driver = std::string(MOLVANE_BINARY_DIR) + "/driver/molvane-driver";
  root_.WriteFile("lib/ipc_info", "msqlite child " + driver + " ${ZUV}/data/main.db\n" +
                                      "msqltwo child " + driver + " ${ZUV}/data/two.db\n" +
                                      "msqlaud child " + driver + " ${ZUV}/data/notes.db\n" +
                                      "audit child " + driver +
                                      " ${ZUV}/data/audit.db --audit-list\n");
  root_.WriteFile("lib/tabledef1", TableDefs());
  set_zuv(root_.path().c_str());
  g_deaths = 0;
  ASSERT_EQ(zdb_init_api("test_actions", nullptr, 0, 0), 0);
  zdb_set_server_death_handler(CountDeath);
}

void ActionsTest::TearDown() { zdb_logoff(); }

std::string ActionsTest::TableDefs() const {
  return "exdep010:900:msqlite:Y\n"
         "tttxt:*:msqltwo\n"
         "ttaud:*:msqlaud\n"
         "exemp010:5:msqltwo\n"
         "*::msqlite\n";
}

void ActionsTest::Logon() {
  ASSERT_EQ(zdb_logon("ann"), 0);
  trans_ = zdb_start_session("actions");
  ASSERT_GT(trans_, 0);
}

ZDB_CURSOR *ActionsTest::Open(const char *table, int trans) {
  ZDB_CURSOR *cursor = nullptr;
  EXPECT_EQ(zdb_open(&cursor, table, 0, row_, 0, trans != 0 ? trans : trans_), 0) << zdb_errno;
  return cursor;
}

void ActionsTest::Create(const char *table, std::vector<int> companies) {
  ZDB_CURSOR *cursor = Open(table);
  for (int compnr : companies) {
    int argument = 0;
    ASSERT_EQ(zdb_exec_table(cursor, create_table, &argument, compnr), 0)
        << table << compnr << " " << zdb_errno;
  }
  ASSERT_EQ(zdb_exec_db(commit_trans, trans_), 0) << zdb_errno;
  zdb_close(cursor);
}

std::vector<unsigned char> ActionsTest::Row(
    const char *table, std::vector<std::pair<const char *, std::string>> texts) const {
  const DD_TABLE *t = ddtable(table);
  std::vector<unsigned char> row(t->row_length, 0);
  if (t->default_row != nullptr) std::memcpy(row.data(), t->default_row, t->dlock_offset);
  for (const auto &[column, text] : texts) {
    DD_COLUMN *c = ddcolumn((std::string(table) + "." + column).c_str());
    EXPECT_NE(c, nullptr) << column;
    if (c == nullptr) continue;
    std::memset(row.data() + c->offset, ' ', c->length);
    std::memcpy(row.data() + c->offset, text.data(), std::min<std::size_t>(text.size(), c->length));
  }
  return row;
}

void ActionsTest::Load(const std::vector<unsigned char> &row) {
  std::memcpy(row_, row.data(), row.size());
}

std::string ActionsTest::Text(const char *table, const char *column) const {
  DD_COLUMN *c = ddcolumn((std::string(table) + "." + column).c_str());
  std::string text(reinterpret_cast<const char *>(row_) + c->offset, c->length);
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

int ActionsTest::RowCompnr(const char *table) const {
  const DD_TABLE *t = ddtable(table);
  return (row_[t->dlock_offset + 4] << 8) | row_[t->dlock_offset + 5];
}

void ActionsTest::Seed(const char *table, int compnr,
                       std::vector<std::vector<std::pair<const char *, std::string>>> rows) {
  ZDB_CURSOR *cursor = Open(table);
  for (auto &texts : rows) {
    Load(Row(table, texts));
    ASSERT_EQ(zdb_exec_row(cursor, db_insert_51, 0, compnr), 0) << zdb_errno;
  }
  ASSERT_EQ(zdb_exec_db(commit_trans, trans_), 0) << zdb_errno;
  zdb_close(cursor);
}

int ActionsTest::ReadIn(const char *table, int compnr,
                        std::vector<std::pair<const char *, std::string>> key) {
  int trans = zdb_start_session("reader");
  ZDB_CURSOR *cursor = Open(table, trans);
  Load(Row(table, key));
  int rc = zdb_exec_row(cursor, db_eq, 0, compnr);
  int error = rc == 0 ? 0 : zdb_errno;
  zdb_close(cursor);
  zdb_exec_db(abort_trans, trans);
  zdb_stop_session(trans);
  return error;
}

std::string ActionsTest::RunHost(const std::string &script) const {
  root_.WriteFile("host.script", script);
  std::string cmd = std::string(MOLVANE_BINARY_DIR) + "/tools/molvane-host --zuv " + root_.path() +
                    " --script " + root_.path() + "/host.script 2>/dev/null";
  std::FILE *p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[512];
  while (p != nullptr && std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
  if (p != nullptr) pclose(p);
  return out;
}

ZDB_INTERNAL_CURSOR *ActionsTest::Chain(ZDB_CURSOR *cursor, int compnr) {
  ZDB_INTERNAL_CURSOR *head = nullptr;
  return zdb_get_internal_cursor(&head, cursor, compnr) == 0 ? head : nullptr;
}

ZDB_SERVER *ActionsTest::ServerOf(ZDB_INTERNAL_CURSOR *ic) { return ic->tsession->session->server; }

}  // namespace molvane::test
