// The fixture of the SQL API's end-to-end tests: the reference driver with
// the tables on one driver, on two, or with company 2 of both on a driver
// of its own; rows seeded through molvane-host; host callbacks that keep
// every delivered row as text.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <molvane/platform.h>
#include <molvane/sql.h>
#include <molvane/zdb.h>
#include <molvane/zdb_refs.h>

#include "dbc/session/zdb_attach.h"
#include "support/test_env.h"

namespace molvane::test::sql_api {

using Rows = std::vector<std::string>;

// What the host callbacks saw.
struct Host {
  std::deque<std::string> variables;  // stable names handed to the library
  std::map<std::string, SqlVal> values;
  std::map<std::string, unsigned char> types;
  std::map<std::string, std::string> strings;  // bytes of string values
  std::string row;
  std::string lastError;
  unsigned char lastType = 0;  // of the last column handed to callback 7
};
inline Host g_host;

inline int OnError(int, char *text) {
  g_host.lastError = text;
  return 0;
}

inline char *OnCreate(char *name, unsigned char *kind, char **record, int *const, unsigned long) {
  if (*kind == 2) *record = name;
  g_host.variables.emplace_back(name);
  return const_cast<char *>(g_host.variables.back().c_str());
}

inline int OnGet(char *var, SqlVal *value, unsigned char *type, int *length) {
  auto found = g_host.types.find(var);
  if (found == g_host.types.end()) return 1;
  *type = found->second;
  *value = g_host.values[var];
  if (*type == SQL_TYPE_STRING) {
    std::string &s = g_host.strings[var];
    value->s = reinterpret_cast<unsigned char *>(s.data());
    *length = static_cast<int>(s.size());
  }
  return 0;
}

inline std::uint32_t Be32(const unsigned char *p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// One field as text: integers, dates and times as numbers, reals with %g,
// strings without trailing blanks, raw bytes in hexadecimal; "|" between
// the columns of a row.
inline void OnPut(char *, unsigned char *data, unsigned char type, int length, int *) {
  if (type == 0) return;
  g_host.lastType = type;
  std::string text;
  char buf[64];
  switch (type) {
    case SQL_TYPE_INTEGER:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
      text = std::to_string(static_cast<std::int32_t>(Be32(data)));
      break;
    case SQL_TYPE_REAL: {
      double d = 0;
      std::memcpy(&d, data, 8);
      std::snprintf(buf, sizeof buf, "%g", d);
      text = buf;
      break;
    }
    case SQL_TYPE_STRING:
      text.assign(reinterpret_cast<char *>(data), static_cast<std::size_t>(length));
      text.erase(text.find_last_not_of(' ') + 1);
      break;
    default:
      for (int i = 0; i < length; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", data[i]);
        text += buf;
      }
  }
  if (!g_host.row.empty()) g_host.row += "|";
  g_host.row += text.empty() ? "-" : text;
}

inline void IgnoreDeath(STREAM *) {}

// Employees 1..4 of company 1 in departments A, B, B and A, of which the
// fourth has no optional department (dnul); employee 7 of company 2 in its
// department A. Departments A, B, C of company 1 and A, D
// of company 2.
class SqlApiE2E : public testing::TestWithParam<const char *> {
 protected:
  void SetUp() override {
    std::filesystem::copy(FixturePath("zuv/dict"), root_.path() + "/dict",
                          std::filesystem::copy_options::recursive);
    std::string driver = std::string(MOLVANE_BINARY_DIR) + "/driver/molvane-driver";
    root_.WriteFile("lib/ipc_info", "msqlite child " + driver + " ${ZUV}/main.db\n" +
                                        "msqltwo child " + driver + " ${ZUV}/two.db\n");
    // "two": the employees on a driver of their own, so that joins run here.
    // "split": company 2 of both tables on a driver of its own, so that a
    // statement over both companies unites what each driver gives here.
    std::string const layout = GetParam();
    root_.WriteFile("lib/tabledef1", layout == "two"     ? "exemp010:*:msqltwo\n*::msqlite\n"
                                     : layout == "split" ? "exdep010:2:msqltwo\nexemp010:2:msqltwo\n*::msqlite\n"
                                                         : "*::msqlite\n");
    root_.WriteFile("lib/defaults/all", "qelt_sql_soft_close_delay: 1\n");
    setenv("ZUV_LOG", testing::TempDir().c_str(), 1);
    setenv("F_ZRDD", (root_.path() + "/dict").c_str(), 1);
    Seed();
    BeforeLogon();
    set_zuv(root_.path().c_str());
    zdb_set_server_death_handler(IgnoreDeath);
    ASSERT_EQ(zdb_init_api("test_sql_api", nullptr, 0, 0), 0);
    // Without the client's reference work SQL may delete from the tables
    // whose parents count their children.
    if (refsOff_) zdb_disable_references();
    sql_init_func(SQL_FUNC_ERROR, reinterpret_cast<sql_func>(OnError));
    sql_init_func(SQL_FUNC_CRT_EXTVAR, reinterpret_cast<sql_func>(OnCreate));
    sql_init_func(SQL_FUNC_GET_EXTVAR, reinterpret_cast<sql_func>(OnGet));
    sql_init_func(SQL_FUNC_PUT_EXTVAR, reinterpret_cast<sql_func>(OnPut));
    ASSERT_EQ(zdb_logon(user_), 0) << zdb_errno;
    trans_ = zdb_start_session("sql");
    ASSERT_GT(trans_, 0);
  }
  // The rows go in through molvane-host, as a super user of its own process
  // (one logon per process).
  void Seed() {
    std::string script = "logon seed\nstart seed\n";
    for (const char *table : {"exdep010", "exemp010"})
      for (const char *compnr : {" 1\n", " 2\n"}) script += std::string("table create ") + table + compnr;
    script +=
        "insert exdep010 1 code=A name=Alpha budget=10\n"
        "insert exdep010 1 code=B name=Beta budget=20\n"
        "insert exdep010 1 code=C name=Gamma budget=30\n"
        "insert exdep010 2 code=A name=Uno budget=100\n"
        "insert exdep010 2 code=D name=Dos budget=400\n"
        "commit\n"
        "insert exemp010 1 emp=1 name=Ann dept=A dcas=A drst=A dnul=A salary=100 hired=738001 "
        "photo=0aff0102\n"
        "insert exemp010 1 emp=2 name=Bob dept=B dcas=B drst=B dnul=B salary=200 hired=738002\n"
        "insert exemp010 1 emp=3 name=Cid dept=B dcas=B drst=B dnul=B salary=300 hired=738003\n"
        "insert exemp010 1 emp=4 name=Dan dept=A dcas=A drst=A salary=400 hired=738004\n"
        "insert exemp010 2 emp=7 name=Eve dept=A dcas=A drst=A dnul=A salary=50 hired=738007\n"
        "commit\ntable create tttxt010 1\ninsert tttxt010 1 ctxt=1 clan=E seqe=1 text=Kept\n"
        "commit\nlogoff\n";
    root_.WriteFile("seed.script", script);
    std::string cmd = std::string(MOLVANE_BINARY_DIR) + "/tools/molvane-host --zuv " + root_.path() +
                      " --script " + root_.path() + "/seed.script 2>&1";
    std::FILE *p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
    ASSERT_EQ(pclose(p), 0) << out;
  }
  // What a test sets before its logon.
  virtual void BeforeLogon() {}

  void TearDown() override {
    for (QPCStatement *h : open_) sql_close(h);
    zdb_logoff();
  }

  // A handle of the test, closed at its end; null (with the error) when
  // the prepare fails.
  QPCStatement *Parse(const std::string &text, int flags = 0) {
    QPCStatement *h = sql_parse(text.c_str(), static_cast<unsigned long>(trans_), flags);
    EXPECT_NE(h, nullptr) << text << ": " << zdb_errno << " " << g_host.lastError;
    if (h != nullptr) open_.push_back(h);
    return h;
  }
  void Close(QPCStatement *h) {
    open_.erase(std::remove(open_.begin(), open_.end(), h), open_.end());
    sql_close(h);
  }
  // Up to `limit` rows (all with -1) of an executed handle; the fetch's
  // end error in *end (111, 110 or another error).
  Rows Fetch(QPCStatement *h, int limit = -1, int *end = nullptr) {
    Rows rows;
    while (limit < 0 || static_cast<int>(rows.size()) < limit) {
      g_host.row.clear();
      if (sql_fetch(h) != 0) {
        if (end != nullptr) *end = zdb_errno;
        EXPECT_TRUE(zdb_errno == SQL_ERR_NO_ROWS || zdb_errno == SQL_ERR_NO_MORE_ROWS || end != nullptr)
            << zdb_errno << " " << g_host.lastError;
        break;
      }
      rows.push_back(g_host.row);
    }
    return rows;
  }
  // Every row of a statement executed for company 1.
  Rows Query(const std::string &text, int compnr = 1, int flags = 0) {
    QPCStatement *h = Parse(text, flags);
    if (h == nullptr) return {"prepare failed: " + g_host.lastError};
    if (sql_exec(h, static_cast<short>(compnr)) != 0) {
      Close(h);
      return {"exec failed: " + g_host.lastError};
    }
    Rows rows = Fetch(h);
    Close(h);
    return rows;
  }
  // The error that ends a statement run for company 1 to its last row: its
  // exec's, or its fetch's (111 and 110 for a plain end).
  int EndError(const std::string &text, int flags = 0) {
    QPCStatement *h = Parse(text, flags);
    if (h == nullptr) return zdb_errno;
    int end = 0;
    if (sql_exec(h, 1) != 0)
      end = zdb_errno;
    else
      Fetch(h, -1, &end);
    Close(h);
    return end;
  }
  static Rows Sorted(Rows rows) {
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  // Rows an UPDATE or DELETE changed, or -(error number).
  int Change(const std::string &text, int compnr = 1) {
    QPCStatement *h = Parse(text);
    if (h == nullptr) return -zdb_errno;
    int rc = sql_exec(h, static_cast<short>(compnr));
    int result = rc == 0 ? sql_row_count(h) : -zdb_errno;
    Close(h);
    return result;
  }

  ScratchDir root_;
  const char *user_ = "ann";
  bool refsOff_ = false;
  int trans_ = 0;
  std::vector<QPCStatement *> open_;
};

// The tables without the client's reference work: DELETE is refused on
// tables whose parents count their children while it runs.
class SqlApiChanges : public SqlApiE2E {
 protected:
  SqlApiChanges() { refsOff_ = true; }
};
}  // namespace molvane::test::sql_api
