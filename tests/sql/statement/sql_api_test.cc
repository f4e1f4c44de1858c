// The classic SQL API through its exported functions, with host callbacks
// that record what the library hands them, over made-up validated trees.
#include <molvane/sql.h>
#include <molvane/zdb.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fake_statement_tree.h"
#include "support/log_capture.h"
#include "sql/statement/sql_api_internal.h"
#include "statement_test_util.h"

namespace {

using faketree::Column;
using faketree::Counts;
using faketree::Param;
using faketree::Statements;
using faketree::Value;

// What the host saw.
struct Host {
  std::vector<std::pair<int, std::string>> errors;
  std::vector<std::string> created;  // names asked of callback 5, with ":kind"
  int gets = 0;
  std::map<std::string, SqlVal> values;  // variable -> value of callback 6
  std::map<std::string, unsigned char> types;
  int getResult = 0;
  std::vector<std::string> puts;  // "var type length bytes-in-hex dims"
  std::vector<std::string> whereUsed;
  bool refuseStar = false;  // callback 5 answers null for select-star tables
};
Host g_host;

int OnError(int line, char *text) {
  g_host.errors.emplace_back(line, text);
  return 0;
}

char *OnCreate(char *name, unsigned char *kind, char **record, int *const, unsigned long) {
  g_host.created.push_back(std::string(name) + ":" + std::to_string(*kind));
  if (*kind == 2) {
    if (g_host.refuseStar) return nullptr;
    *record = name;  // any address serves as the record
  }
  if (std::strcmp(name, "missing") == 0) return nullptr;
  static std::vector<std::string> variables;  // stable names for the library
  variables.reserve(64);
  variables.push_back(std::string("var:") + name);
  return const_cast<char *>(variables.back().c_str());
}

int OnGet(char *var, SqlVal *value, unsigned char *type, int *length) {
  ++g_host.gets;
  std::string name(var);
  *value = g_host.values[name];
  *type = g_host.types[name];
  if (*type == SQL_TYPE_STRING) *length = static_cast<int>(std::strlen(reinterpret_cast<char *>(value->s)));
  return g_host.getResult;
}

void OnPut(char *var, unsigned char *data, unsigned char type, int length, int *dims) {
  std::string hex;
  char buf[4];
  for (int i = 0; type != 0 && i < length; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", data[i]);
    hex += buf;
  }
  std::string out = std::string(var ? var : "(null)") + " " + std::to_string(type) + " " +
                    std::to_string(length) + " " + hex;
  if (dims != nullptr) out += " {" + std::to_string(dims[0]) + "}";
  g_host.puts.push_back(out);
}

void OnWhereUsed(char const *name, int kind) {
  g_host.whereUsed.push_back(std::string(name) + ":" + std::to_string(kind));
}

class SqlApi : public StatementFixture {
 protected:
  void SetUp() override {
    StatementFixture::SetUp();
    g_host = Host();
    sql_init_func(SQL_FUNC_ERROR, reinterpret_cast<sql_func>(&OnError));
    sql_init_func(SQL_FUNC_CRT_EXTVAR, reinterpret_cast<sql_func>(&OnCreate));
    sql_init_func(SQL_FUNC_GET_EXTVAR, reinterpret_cast<sql_func>(&OnGet));
    sql_init_func(SQL_FUNC_PUT_EXTVAR, reinterpret_cast<sql_func>(&OnPut));
    sql_init_func(SQL_WHERE_USED, reinterpret_cast<sql_func>(&OnWhereUsed));
  }
  static std::string Error(QPCStatement *h) {
    std::int32_t number = -1;
    char const *text = nullptr;
    if (sql_get_error(h, &number, &text) != 0) return "(bad handle)";
    return std::to_string(number) + " " + text;
  }
};

// The text names the handle as the host prints a pointer, the call, and
// whether the handle is null, was closed, or is not open at all.
TEST_F(SqlApi, HandlesThatAreNotLiveAreRefusedUnread) {
  Statements()["q"] = Query();
  QPCStatement *closed = sql_parse("q", 1, 0);
  ASSERT_NE(closed, nullptr);
  ASSERT_EQ(sql_close(closed), 0);
  int made_up = 0x1A2B3C4D;  // even a live handle's magic word is not enough
  auto printed = [](void const *p) {
    char text[40];
    std::snprintf(text, sizeof text, "%p", p);
    return std::string(text);
  };
  struct {
    QPCStatement *handle;
    std::string text;
  } cases[] = {
      {nullptr,
       "SQLState HYL00: Invalid Sql id: null: sql_exec was given a null handle; pass a handle that "
       "sql_parse returned"},
      {closed, "SQLState HYL00: Invalid Sql id: " + printed(closed) +
                   ": sql_exec was given a handle that sql_close closed; a closed handle cannot be "
                   "used any more (sql_parse the statement again for a new one)"},
      {reinterpret_cast<QPCStatement *>(&made_up),
       "SQLState HYL00: Invalid Sql id: " + printed(&made_up) +
           ": sql_exec was given a handle that is not open: sql_parse never returned it, or "
           "sql_close closed it"},
  };
  for (auto const &c : cases) {
    QPCStatement *h = c.handle;
    g_host.errors.clear();
    zdb_errno = 0;
    EXPECT_EQ(sql_exec(h, 1), -1);
    EXPECT_EQ(zdb_errno, SQL_ERR_INVALID_HANDLE);
    ASSERT_EQ(g_host.errors.size(), 1U);
    EXPECT_EQ(g_host.errors[0].first, 0);
    EXPECT_EQ(g_host.errors[0].second, c.text);
    EXPECT_STREQ(get_zdb_msg(), c.text.c_str());
    EXPECT_EQ(sql_fetch(h), -1);
    EXPECT_EQ(sql_close(h), -1);
    EXPECT_EQ(sql_action_type(h), -1);
    EXPECT_EQ(sql_get_statement_text(h), nullptr);
  }
}

TEST_F(SqlApi, ParseFailuresReturnNullWithTheErrorNumber) {
  faketree::Statement q = Query();
  q.failAt = faketree::FailAt::Parse;
  q.failLine = 3;
  Statements()["bad"] = q;
  EXPECT_EQ(sql_parse("bad", 1, 0), nullptr);
  EXPECT_EQ(zdb_errno, 302);
  ASSERT_EQ(g_host.errors.size(), 1U);
  EXPECT_EQ(g_host.errors[0], std::make_pair(3, std::string("SQLState 42000: Syntax error (error 302)")));
  EXPECT_STREQ(get_zdb_msg(), "SQLState 42000: Syntax error (error 302)");
  reset_zdb_msg();
  // Without the callback the text is still the call's message.
  EXPECT_EQ(sql_parse("bad", 1, SQL_PARSE_NO_ERROR_CALLBACK), nullptr);
  EXPECT_EQ(zdb_errno, 302);
  EXPECT_EQ(g_host.errors.size(), 1U);
  EXPECT_STREQ(get_zdb_msg(), "SQLState 42000: Syntax error (error 302)");
  // A record with native number 0 still fails with a number.
  EXPECT_EQ(sql_parse(nullptr, 1, 0), nullptr);
  EXPECT_EQ(zdb_errno, SQL_ERR_STATEMENT);
  EXPECT_EQ(g_host.errors.back().second, "SQLState HY009: Invalid use of null pointer");
}

TEST_F(SqlApi, SelectItemWithoutANameMustBeBoundExplicitly) {
  faketree::Statement q = Query();
  q.columns.push_back(Column{"", SQL_INTEGER, 4, true});
  Statements()["q"] = q;
  EXPECT_EQ(sql_parse("q", 1, 0), nullptr);
  EXPECT_EQ(zdb_errno, 302);
  ASSERT_EQ(g_host.errors.size(), 1U);
  // The text itself says how to name the item: no handle came back to bind it with.
  const char text[] =
      "SQLState HYL06: select item 2 must be bound explicitly; name the item: COUNT(*) :n or COUNT(*) AS n (302)";
  EXPECT_EQ(g_host.errors[0].second, text);
  EXPECT_STREQ(get_zdb_msg(), text);
}

TEST_F(SqlApi, ParseModeFollowsTheFlags) {
  Statements()["q"] = Query();
  QPCStatement *h = sql_parse("q", 1, SQL_PARSE_TABLE_REF_FLAG | SQL_PARSE_FROM_OPTIONAL |
                                          SQL_PARSE_ANSI | SQL_PARSE_NAME_RESOLUTION);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Counts().lastMode, 0x37);
  EXPECT_EQ(sql_action_type(h), SQL_ACTION_SELECT);
  EXPECT_EQ(sql_query_with_rpoint(h), 0);
  EXPECT_STREQ(sql_get_statement_text(h), "q");
  EXPECT_EQ(sql_get_num_resultcols(h), 1);
  EXPECT_EQ(sql_get_num_parameters(h), 0);
  unsigned long id = 0, original = 0;
  ASSERT_EQ(sql_get_stmt_id(h, &id, &original), 0);
  EXPECT_EQ(id, original);
  char const *name = nullptr;
  int derived = -1;
  ASSERT_EQ(sql_get_select_target(h, 0, &name, &derived), 0);
  EXPECT_STREQ(name, "k");
  EXPECT_EQ(derived, 0);
  EXPECT_EQ(Error(h), "0 ");
  sql_close(h);
}

TEST_F(SqlApi, WhereUsedNamesReachCallbackEightOnlyWithFlagEight) {
  faketree::Statement q = Query();
  q.whereUsed = {"tttst001"};
  Statements()["q"] = q;
  Statements()["r"] = q;
  QPCStatement *plain = sql_parse("q", 1, 0);
  EXPECT_TRUE(g_host.whereUsed.empty());
  QPCStatement *h = sql_parse("r", 1, SQL_PARSE_WHERE_USED);
  EXPECT_EQ(g_host.whereUsed, std::vector<std::string>{"tttst001:2"});
  sql_close(plain);
  sql_close(h);
}

TEST_F(SqlApi, BindInputConvertsEachTypeCode) {
  faketree::Statement q = Query();
  q.params = {Param{"i", SQL_INTEGER}, Param{"r", SQL_REAL}, Param{"s", SQL_STRING},
              Param{"b", SQL_RAW}, Param{"x", SQL_RAW}};
  Statements()["q"] = q;
  QPCStatement *h = sql_parse("q", 1, 0);
  ASSERT_NE(h, nullptr);
  std::int32_t i = 7;  // the host's integer is 32 bits wide
  double r = 2.5;
  unsigned char text[] = "abc\0def";
  unsigned char *bytes = text;
  EXPECT_EQ(sql_bind_input(h, "i", SQL_TYPE_INTEGER, 4, &i), 0) << Error(h);
  EXPECT_EQ(sql_bind_input(h, "r", SQL_TYPE_REAL, 8, &r), 0) << Error(h);
  EXPECT_EQ(sql_bind_input(h, "s", SQL_TYPE_STRING, 7, &bytes), 0) << Error(h);
  EXPECT_EQ(sql_bind_input(h, "b", SQL_TYPE_STRING, 7, &bytes), 0) << Error(h);  // raw: all 7
  EXPECT_EQ(sql_wh_bind(h, "x", SQL_TYPE_RAW, 2, &bytes), 0) << Error(h);
  EXPECT_EQ(sql_exec(h, 1), 0) << Error(h);
  EXPECT_TRUE(g_host.created.size() == 1 && g_host.created[0] == "k:1");  // the select item
  sql_close(h);
}

// The text's colon is kept in the parameter names and in the names of items
// a host variable names (COUNT(*) :n); sql_bind_input and sql_sel_bind name
// them with or without it, and the colon of a name never stands for
// anything else.
TEST_F(SqlApi, BindInputAndSelBindNameWithOrWithoutTheColon) {
  struct Case {
    const char *parameter;
    const char *bound;
    bool found;
  } cases[] = {{":1", ":1", true},   {":1", "1", true},    {":dept", "dept", true},
               {":dept", ":dept", true}, {"1", "1", true}, {"1", ":1", false},
               {":12", "1", false},  {":", "", false},   {":dept", "::dept", false}};
  int n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.parameter) + " bound as " + c.bound);
    faketree::Statement q = Query();
    q.params = {Param{c.parameter, SQL_INTEGER}};
    std::string text = "named" + std::to_string(n++);
    Statements()[text] = q;
    QPCStatement *h = sql_parse(text.c_str(), 1, 0);
    ASSERT_NE(h, nullptr);
    std::int32_t v = 3;
    EXPECT_EQ(sql_bind_input(h, c.bound, SQL_TYPE_INTEGER, 4, &v), c.found ? 0 : -1) << Error(h);
    sql_close(h);
    faketree::Statement items;
    items.columns = {Column{c.parameter, SQL_INTEGER, 4}};
    text = "items" + std::to_string(n);
    Statements()[text] = items;
    h = sql_parse(text.c_str(), 1, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(sql_sel_bind(h, c.bound, const_cast<char *>("mine")), c.found ? 0 : -1) << Error(h);
    sql_close(h);
  }
  // A name some item has as it is binds only that item, not one whose name
  // differs by the colon.
  faketree::Statement both;
  both.columns = {Column{":n", SQL_INTEGER, 4}, Column{"n", SQL_INTEGER, 4}};
  both.rows = {{Value(1), Value(2)}};
  Statements()["both"] = both;
  QPCStatement *h = sql_parse("both", 1, 0);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(sql_sel_bind(h, "n", const_cast<char *>("plain")), 0);
  ASSERT_EQ(sql_exec(h, 1), 0) << Error(h);
  ASSERT_EQ(sql_fetch(h), 0) << Error(h);
  EXPECT_EQ(g_host.puts, (std::vector<std::string>{"var::n 3 4 00000001 {1}", "plain 3 4 00000002 {1}"}));
  sql_close(h);
}

TEST_F(SqlApi, BindInputRefusalsAndSelectItemsOfOneName) {
  faketree::Statement q = Query();
  q.params = {Param{"i", SQL_INTEGER}, Param{"b", SQL_RAW}};
  q.columns.push_back(Column{"k", SQL_INTEGER, 4});  // two items of one name
  q.rows = {{Value(1), Value(1)}};
  Statements()["two"] = q;
  Statements()["none"] = Query();
  QPCStatement *none = sql_parse("none", 1, 0);
  std::int32_t v = 1;
  EXPECT_EQ(sql_bind_input(none, "i", SQL_TYPE_INTEGER, 4, &v), -1);
  EXPECT_EQ(Error(none), "301 SQLState HYL02: Unknown input parameter 'i' (301)");
  EXPECT_EQ(g_host.errors.back().second, "SQLState HYL02: Unknown input parameter 'i' (301)");
  QPCStatement *h = sql_parse("two", 1, 0);
  ASSERT_NE(h, nullptr);
  // Refused type codes say which codes there are, or how a date or a
  // timestamp is bound; the statement's own refusals carry their numbers.
  double real = 1.5;
  unsigned char const *empty = reinterpret_cast<unsigned char const *>("");
  struct Refusal {
    char const *name;
    int type;
    void *value;
    std::string error;
  } refusals[] = {
      {"i", 4, &v,
       "301 SQLState HYL01: Unsupported type for sql_bind_input: type code 4: the types taken are 3 "
       "(SQL_TYPE_INTEGER), 5 (SQL_TYPE_REAL), 6 (SQL_TYPE_STRING) and 15 (SQL_TYPE_RAW) (301)"},
      {"i", SQL_TYPE_DATE, &v,
       "301 SQLState HYL01: Unsupported type for sql_bind_input: type code 7 (DATE): bind a date as type 3 "
       "(SQL_TYPE_INTEGER), its day number, day 1 being 1 January of year 1 (date_to_num gives it) (301)"},
      {"i", SQL_TYPE_TIMESTAMP, &v,
       "301 SQLState HYL01: Unsupported type for sql_bind_input: type code 8 (TIMESTAMP): bind a timestamp as "
       "type 3 (SQL_TYPE_INTEGER), its seconds since 1970-01-01 00:00:00 UTC (al_pack_utc gives them) (301)"},
      {"i", SQL_TYPE_REAL, &real,
       "312 SQLState QP010: Parameter 'i' should be of type INTEGER instead of type REAL (error 312)"},
      {"b", SQL_TYPE_RAW, &empty,
       "316 SQLState QP011: Parameter 'b' of type RAW cannot take a value of length 0 (error 316)"},
      {"i", SQL_TYPE_INTEGER, nullptr, "301 SQLState HYL01: No value given for input parameter 'i' (301)"},
  };
  for (Refusal const &r : refusals) {
    EXPECT_EQ(sql_bind_input(h, r.name, r.type, 0, r.value), -1);
    EXPECT_EQ(Error(h), r.error);
    EXPECT_EQ(zdb_errno, std::stoi(r.error));
  }
  ASSERT_EQ(sql_bind_input(h, "i", SQL_TYPE_INTEGER, 4, &v), 0);
  unsigned char const *raw = reinterpret_cast<unsigned char const *>("\x01");
  ASSERT_EQ(sql_bind_input(h, "b", SQL_TYPE_RAW, 1, &raw), 0);
  // One sql_sel_bind binds both items of the name: no variable is asked for.
  ASSERT_EQ(sql_sel_bind(h, "k", const_cast<char *>("mine")), 0);
  // A name no item has is refused with the names there are.
  EXPECT_EQ(sql_sel_bind(h, "nothing", const_cast<char *>("mine")), -1);
  EXPECT_EQ(Error(h), "301 SQLState HYL02: Unknown select item 'nothing' (the items are named k, k) (301)");
  // Reading the handle's error leaves the message; the next call starts
  // with none, and its success leaves none.
  EXPECT_STREQ(get_zdb_msg(), "SQLState HYL02: Unknown select item 'nothing' (the items are named k, k) (301)");
  EXPECT_EQ(sql_row_count(h), 0);
  EXPECT_EQ(sql_action_type(h), SQL_ACTION_SELECT);
  EXPECT_STREQ(get_zdb_msg(), "SQLState HYL02: Unknown select item 'nothing' (the items are named k, k) (301)");
  EXPECT_EQ(sql_exec(h, 1), 0) << Error(h);
  EXPECT_STREQ(get_zdb_msg(), "");
  EXPECT_TRUE(g_host.created.empty());
  ASSERT_EQ(sql_fetch(h), 0);
  EXPECT_EQ(g_host.puts, (std::vector<std::string>{"mine 3 4 00000001 {1}", "mine 3 4 00000001 {1}"}));
  sql_close(h);
  sql_close(none);
}

TEST_F(SqlApi, ExternalVariablesAreFoundOnceAndReadAtEveryExec) {
  faketree::Statement q = Query();
  q.params = {Param{"n", SQL_INTEGER}, Param{"t", SQL_STRING}};
  Statements()["q"] = q;
  QPCStatement *h = sql_parse("q", 1, 0);
  ASSERT_NE(h, nullptr);
  g_host.values["var:n"].l = 5;
  g_host.types["var:n"] = SQL_TYPE_INTEGER;
  static unsigned char text[] = "hello";
  g_host.values["var:t"].s = text;
  g_host.types["var:t"] = SQL_TYPE_STRING;
  ASSERT_EQ(sql_exec(h, 1), 0) << Error(h);
  ASSERT_EQ(sql_exec(h, 1), 0) << Error(h);  // breaks the open cursor first
  EXPECT_EQ(g_host.created, (std::vector<std::string>{"n:1", "t:1", "k:1"}));
  EXPECT_EQ(g_host.gets, 4);
  g_host.types["var:n"] = 9;
  EXPECT_EQ(sql_exec(h, 1), -1);
  EXPECT_EQ(Error(h),
            "301 SQLState HYL01: Invalid bind type for 'n' from callback 6 (SQL_FUNC_GET_EXTVAR): type code 9: the "
            "types taken are 3 (SQL_TYPE_INTEGER), 5 (SQL_TYPE_REAL), 6 (SQL_TYPE_STRING) and 15 (SQL_TYPE_RAW) (301)");
  g_host.getResult = 1;
  EXPECT_EQ(sql_exec(h, 1), -1);
  EXPECT_EQ(Error(h), "301 SQLState HYL05: Get value of external variable 'n' failed (301)");
  sql_close(h);
}

TEST_F(SqlApi, ExecRefusalsBeforeTheStatementRuns) {
  struct Case {
    std::vector<Param> params;
    std::vector<std::pair<std::string, bool>> stars;
    bool refuseStar;
    std::string error;
    std::vector<std::string> created;
    int refusedType = 0;  // a type code sql_bind_input refuses for the first parameter
  } cases[] = {
      {{Param{"1st", SQL_INTEGER}}, {}, false,
       "301 SQLState HYL03: Pseudo variable '1st' not bound before sql_exec (301)", {}},
      {{Param{"missing", SQL_INTEGER}}, {}, false,
       "301 SQLState HYL04: External variable 'missing' not found (301)", {"missing:1"}},
      {{}, {{"tttst001", false}}, true,
       "301 SQLState HYL04: External variable 'tttst001' not found (301)", {"k:1", "tttst001:2"}},
      // A parameter whose bind was refused, and that has no variable
      // either, is named with the refusal.
      {{Param{"missing", SQL_DATE}}, {}, false,
       "301 SQLState HYL04: External variable 'missing' not found, and its sql_bind_input was refused: "
       "Unsupported type for sql_bind_input: type code 7 (DATE): bind a date as type 3 (SQL_TYPE_INTEGER), its "
       "day number, day 1 being 1 January of year 1 (date_to_num gives it) (301)",
       {"missing:1"}, SQL_TYPE_DATE},
  };
  int n = 0;
  for (Case const &c : cases) {
    faketree::Statement q = Query();
    q.params = c.params;
    q.starTables = c.stars;
    std::string text = "q" + std::to_string(n++);
    Statements()[text] = q;
    g_host.created.clear();
    g_host.refuseStar = c.refuseStar;
    QPCStatement *h = sql_parse(text.c_str(), 1, 0);
    ASSERT_NE(h, nullptr);
    std::int32_t day = 730000;
    if (c.refusedType != 0) {
      EXPECT_EQ(sql_bind_input(h, c.params[0].name.c_str(), c.refusedType, 4, &day), -1);
    }
    EXPECT_EQ(sql_exec(h, 1), -1);
    EXPECT_EQ(Error(h), c.error);
    EXPECT_EQ(zdb_errno, 301);
    EXPECT_EQ(g_host.created, c.created) << c.error;
    EXPECT_EQ(Counts().execs, 0);
    sql_close(h);
  }
}

TEST_F(SqlApi, FetchDeliversFieldsAndEndsWith111Or110) {
  faketree::Statement q;
  q.columns = {Column{"n", SQL_INTEGER, 4}, Column{"s", SQL_STRING, 5}, Column{"r", SQL_REAL, 8}};
  q.rows = {{Value(258), Value(std::string("abc")), Value(1.0)},
            {Value(), Value(), Value()}};
  q.starTables = {{"tttst001", false}, {"tttst002", true}};
  q.retry = SQL_RETRY_INCLUSIVE;
  Statements()["q"] = q;
  Statements()["empty"] = Query(0);
  QPCStatement *h = sql_parse("q", 1, 0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(sql_query_with_rpoint(h), 1);
  ASSERT_EQ(sql_sel_bind(h, "s", const_cast<char *>("mine")), 0);
  ASSERT_EQ(sql_exec(h, 1), 0) << Error(h);
  ASSERT_EQ(sql_fetch(h), 0) << Error(h);
  EXPECT_EQ(g_host.puts,
            (std::vector<std::string>{"var:n 3 4 00000102 {1}", "mine 6 5 6162632020 {1}",
                                      "var:r 5 8 000000000000f03f {1}", "var:tttst001 0 0 ",
                                      "var:tttst002 0 2 "}));
  g_host.puts.clear();
  ASSERT_EQ(sql_fetch(h), 0);
  EXPECT_EQ(g_host.puts[0], "var:n 3 4 00000000 {1}");
  EXPECT_EQ(g_host.puts[1], "mine 6 5 2020202020 {1}");
  EXPECT_EQ(sql_fetch(h), -1);
  EXPECT_EQ(zdb_errno, SQL_ERR_NO_MORE_ROWS);
  // The end of the rows is said in the record API's words, to the handle
  // and the message of the call, never to the error callback.
  EXPECT_EQ(Error(h), "110 End of file reached: no row after the last one fetched (q)");
  EXPECT_STREQ(get_zdb_msg(), "End of file reached: no row after the last one fetched (q)");
  sql_close(h);

  h = sql_parse("empty", 1, 0);
  ASSERT_EQ(sql_exec(h, 1), 0);
  EXPECT_EQ(sql_fetch(h), -1);
  EXPECT_EQ(zdb_errno, SQL_ERR_NO_ROWS);
  EXPECT_STREQ(get_zdb_msg(), "No record found: the SELECT gave no row (empty)");
  sql_close(h);

  // A long statement is named by its first 200 characters.
  std::string const text = "SELECT " + std::string(300, 'x');
  Statements()[text] = Query(0);
  h = sql_parse(text.c_str(), 1, 0);
  ASSERT_EQ(sql_exec(h, 1), 0);
  EXPECT_EQ(sql_fetch(h), -1);
  EXPECT_EQ(Error(h), "111 No record found: the SELECT gave no row (" + text.substr(0, 200) + " ...)");
  sql_close(h);
  EXPECT_TRUE(g_host.errors.empty());
}

TEST_F(SqlApi, SkipRowsCountsAsTheFirstFetch) {
  Statements()["q"] = Query(3);
  QPCStatement *h = sql_parse("q", 1, 0);
  ASSERT_EQ(sql_exec(h, 1), 0);
  int skipped = 0;
  ASSERT_EQ(sql_skip_rows(h, 2, &skipped), 0);
  EXPECT_EQ(skipped, 2);
  EXPECT_EQ(sql_skip_rows(h, 5, &skipped), -1);
  EXPECT_EQ(zdb_errno, SQL_ERR_NO_MORE_ROWS);
  EXPECT_STREQ(get_zdb_msg(), "End of file reached: no row after the last one fetched (q)");
  EXPECT_TRUE(g_host.puts.empty());
  sql_close(h);
}

TEST_F(SqlApi, UpdateOrDeleteThatTouchesNoRowFailsWith111AndSaysSo) {
  Statements()["u"] = Update(0);
  Statements()["u"].params = {Param{"v", SQL_INTEGER}};
  Statements()["d"] = Update(0);
  Statements()["d"].type = SQL_STMT_DELETE;
  QPCStatement *h = sql_parse("u", 1, 0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(sql_action_type(h), SQL_ACTION_UPDATE);
  std::int32_t v = 1;
  ASSERT_EQ(sql_bind_input(h, "v", SQL_TYPE_INTEGER, 4, &v), 0);
  EXPECT_EQ(sql_exec(h, 1), -1);
  EXPECT_EQ(zdb_errno, SQL_ERR_NO_ROWS);
  EXPECT_EQ(Error(h), "111 No record found: the UPDATE changed no row (u)");
  EXPECT_STREQ(get_zdb_msg(), "No record found: the UPDATE changed no row (u)");
  EXPECT_TRUE(g_host.errors.empty());
  EXPECT_EQ(sql_row_count(h), 0);
  sql_close(h);
  h = sql_parse("d", 1, 0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(sql_exec(h, 1), -1);
  EXPECT_EQ(Error(h), "111 No record found: the DELETE deleted no row (d)");
  EXPECT_TRUE(g_host.errors.empty());
  sql_close(h);
}

// sql_row_count: the rows of the last exec of an UPDATE or DELETE, 0 after
// one that touched none or for a select, -1 for a handle that is not live.
TEST_F(SqlApi, RowCountIsThatOfTheLastExec) {
  Statements()["u"] = Update(3);
  Statements()["q"] = Query(2);
  QPCStatement *u = sql_parse("u", 1, 0);
  QPCStatement *q = sql_parse("q", 1, 0);
  ASSERT_NE(u, nullptr);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(sql_row_count(u), 0);
  ASSERT_EQ(sql_exec(u, 1), 0);
  EXPECT_EQ(sql_row_count(u), 3);
  ASSERT_EQ(sql_exec(q, 1), 0);
  EXPECT_EQ(sql_row_count(q), 0);
  sql_close(u);
  sql_close(q);
  EXPECT_EQ(sql_row_count(u), -1);
  EXPECT_EQ(zdb_errno, SQL_ERR_INVALID_HANDLE);
}

TEST_F(SqlApi, StatementRecordsWithoutANativeNumberStillFail) {
  Statements()["q"] = Query();
  QPCStatement *h = sql_parse("q", 1, 0);
  EXPECT_EQ(sql_exec(h, 1000), -1);
  EXPECT_EQ(zdb_errno, SQL_ERR_STATEMENT);
  EXPECT_EQ(Error(h), "301 SQLState HYS00: Invalid company number 1000");
  EXPECT_EQ(sql_set_rds_full(h, -1), -1);
  EXPECT_EQ(Error(h), "301 SQLState HYS04: Invalid buffer size -1");
  EXPECT_EQ(sql_save_rpoint(h), -1);
  EXPECT_EQ(zdb_errno, SQL_ERR_STATEMENT);
  sql_close(h);
}

TEST_F(SqlApi, EndOfSessionLeavesHandlesThatRefuseToRun) {
  Statements()["q"] = Query();
  QPCStatement *h = sql_parse("q", 6, 0);
  ASSERT_EQ(sql_exec(h, 1), 0);
  EXPECT_EQ(qpc_session_used(6), 1);
  SQLOnCloseSession(6);
  EXPECT_EQ(qpc_session_used(6), 0);
  EXPECT_EQ(sql_exec(h, 1), -1);  // the implicit break finds no cursor
  EXPECT_EQ(Error(h), "301 SQLState HY010: Function sequence error - Exec called out of sequence");
  EXPECT_EQ(sql_fetch(h), -1);
  EXPECT_EQ(sql_close(h), 0);
}

TEST_F(SqlApi, RetryThroughTheApi) {
  faketree::Statement q = Query(4);
  q.retry = SQL_RETRY_STRICT;
  Statements()["q"] = q;
  QPCStatement *h = sql_parse("q", 1, 0);
  ASSERT_EQ(sql_exec(h, 1), 0);
  ASSERT_EQ(sql_fetch(h), 0);
  ASSERT_EQ(sql_save_rpoint(h), 0);
  ASSERT_EQ(sql_retry(h), 0) << Error(h);
  g_host.puts.clear();
  ASSERT_EQ(sql_fetch(h), 0);
  EXPECT_EQ(g_host.puts, std::vector<std::string>{"var:k 3 4 00000002 {1}"});
  ASSERT_EQ(sql_break(h), 0);
  EXPECT_EQ(sql_set_timeout(h, 5), 0);
  sql_close(h);
  // Without a RETRY clause the refusal names the call the host made.
  Statements()["plain"] = Query(4);
  h = sql_parse("plain", 1, 0);
  ASSERT_EQ(sql_exec(h, 1), 0);
  ASSERT_EQ(sql_fetch(h), 0);
  EXPECT_EQ(sql_save_rpoint(h), -1);
  EXPECT_STREQ(get_zdb_msg(), "SQLState HYS03: sql_save_rpoint called on a statement without retry clause");
  EXPECT_EQ(sql_retry(h), -1);
  EXPECT_STREQ(get_zdb_msg(), "SQLState HYS03: sql_retry called on a statement without retry clause");
  sql_close(h);
}

TEST_F(SqlApi, CallbackSlots) {
  EXPECT_EQ(sql_init_func(3, reinterpret_cast<sql_func>(&OnError)), nullptr);
  sql_func previous = sql_init_func(SQL_FUNC_ERROR, nullptr);  // back to the default
  EXPECT_EQ(previous, reinterpret_cast<sql_func>(&OnError));
  sql_func fallback = sql_init_func(SQL_FUNC_ERROR, previous);
  EXPECT_NE(fallback, nullptr);
  EXPECT_NE(fallback, previous);
  // The defaults write nothing on the host's standard error; the log names
  // each missing callback once, however often it is called.
  sql_func defaults[5];
  const int numbers[5] = {SQL_FUNC_ERROR, SQL_FUNC_CRT_EXTVAR, SQL_FUNC_GET_EXTVAR, SQL_FUNC_PUT_EXTVAR,
                          SQL_WHERE_USED};
  for (int i = 0; i < 5; ++i) {
    sql_func installed = sql_init_func(numbers[i], nullptr);
    defaults[i] = sql_init_func(numbers[i], installed);
  }
  setenv("ZUV_LOG", testing::TempDir().c_str(), 1);  // the log is a file, not standard error
  molvane::test::LogCapture log;
  testing::internal::CaptureStderr();
  for (int round = 0; round < 2; ++round) {
    char name[] = "v";
    unsigned char kind = 1;
    SqlVal value{};
    int length = 0;
    EXPECT_EQ(reinterpret_cast<sql_error_func>(defaults[0])(0, name), 0);
    EXPECT_EQ(reinterpret_cast<sql_crt_extvar_func>(defaults[1])(name, &kind, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(reinterpret_cast<sql_get_extvar_func>(defaults[2])(name, &value, &kind, &length), 0);
    reinterpret_cast<sql_put_extvar_func>(defaults[3])(name, nullptr, 3, 4, nullptr);
    reinterpret_cast<sql_where_used_func>(defaults[4])(name, 2);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  std::vector<std::string> logged;
  for (const molvane::test::LoggedMessage &m : log.messages())
    logged.push_back(std::string(1, m.level) + " " + m.keyword + ": " + m.text);
  EXPECT_EQ(logged, (std::vector<std::string>{
                        "I sql_init_func: Function SQL_FUNC_ERROR not defined: the texts of SQL errors reach the "
                        "host through get_zdb_msg only",
                        "I sql_init_func: Function SQL_FUNC_CRT_EXTVAR not defined: a parameter or select item that "
                        "the host does not bind has no variable",
                        "I sql_init_func: Function SQL_FUNC_GET_EXTVAR not defined: a parameter that the host does "
                        "not bind has no value",
                        "I sql_init_func: Function SQL_FUNC_PUT_EXTVAR not defined: the values of fetched rows are "
                        "not delivered",
                        "I sql_init_func: Function SQL_WHERE_USED not defined: the names a statement uses are not "
                        "reported"}));
}

TEST_F(SqlApi, ActionNames) {
  EXPECT_STREQ(sql_action(1), "select");
  EXPECT_STREQ(sql_action(2), "update");
  EXPECT_STREQ(sql_action(4), "delete");
  EXPECT_STREQ(sql_action(3), "unknown sql statement");
}

TEST_F(SqlApi, TraceLevelIsReadOnceFromTheSetting) {
  dbc_settings().tt_sql_trace = 0x105;
  testing::internal::CaptureStderr();
  init_qpc_debug();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Tracing on: TT_SQL_TRACE = 05\n");
  EXPECT_EQ(QP_DBG, 5);
  dbc_settings().tt_sql_trace = 1;
  init_qpc_debug();
  EXPECT_EQ(QP_DBG, 5);
}

}  // namespace
