// The reference driver's company mappings, table dictionaries and options,
// without a process: payloads are parsed from bytes, and a payload that
// breaks a bound ends the connection.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "dbc/request/request_codes.h"
#include "dbc/zdb_errors.h"
#include "protocol/driver_compnr.h"
#include "protocol/driver_conn.h"
#include "store/driver_dd.h"
#include "protocol/driver_options.h"
#include "sqlite/sqlite_functions.h"
#include "support/test_env.h"
#include "text/tss.h"

namespace {

using namespace molvane::driver;

class Wire {
 public:
  Wire &u8(unsigned v) {
    b_.push_back(static_cast<std::uint8_t>(v));
    return *this;
  }
  Wire &u16(unsigned v) { return u8(v >> 8).u8(v & 0xFF); }
  Wire &u32(std::uint32_t v) { return u16(v >> 16).u16(v & 0xFFFF); }
  Wire &raw(const std::string &s) {
    b_.insert(b_.end(), s.begin(), s.end());
    return *this;
  }
  Wire &text(const std::string &s) { return raw(s).u8(0); }
  const std::vector<std::uint8_t> &bytes() const { return b_; }

 private:
  std::vector<std::uint8_t> b_;
};

Wire CompnrPayload(const std::string &env, unsigned logical_in_ex = 150) {
  Wire w;
  w.text(env).u32(2);
  w.text("ex").u32(1).u16(100).u16(1).u16(logical_in_ex);
  w.text("exdep").u32(1).u16(200).u16(2).u16(150).u16(151);
  return w;
}

std::string AsText(const Wire &w) { return std::string(w.bytes().begin(), w.bytes().end()); }

TEST(DriverCompnr, LongestPrefixMapsTheCompany) {
  Wire w = CompnrPayload("env");
  WireReader in(w.bytes().data(), w.bytes().size());
  CompnrMap map = ReadCompnrMap(in);
  EXPECT_EQ(in.consumed(), w.bytes().size());
  EXPECT_EQ(map.env, "env");
  struct {
    const char *table;
    int logical;
    int physical;
  } cases[] = {{"exdep010", 150, 200}, {"exdep010", 151, 200}, {"exemp010", 150, 100},
               {"exemp010", 151, 151}, {"ttaud110", 150, 150}, {"exdep010", 7, 7}};
  for (const auto &c : cases)
    EXPECT_EQ(map.Physical(c.table, c.logical), c.physical) << c.table << " " << c.logical;
}

// A SEND_COMPNR or DD_INFO_TABLE that breaks a bound ends the connection.
TEST(DriverPayloadBounds, BrokenPayloadsEndTheConnection) {
  Wire long_spec;
  long_spec.u8(SEND_COMPNR).text("env").u32(1).text("exdepmore").u32(0);
  Wire big_company;
  big_company.u8(SEND_COMPNR).raw(AsText(CompnrPayload("env", 1000)));
  Wire many_specs;
  many_specs.u8(SEND_COMPNR).text("env").u32(0xFFFFFFFF);
  auto dd = [](const std::string &name, unsigned key_position, unsigned type = 6, unsigned length = 6,
               unsigned depth = 1) {
    Wire w;
    w.u8(DD_INFO_TABLE).u32(1).raw(name).u8(0);
    w.u16(1).u16(0).u16(1).u16(0).u16(100).u16(0).u16(0).u16(0);
    w.text("code").u16(length).u16(0).u8(type).u8(0).u8(depth).u8(0).u8(0);
    w.u8(1).u8(0).u8(0).u16(1).u16(key_position);
    return w;
  };
  Wire bad_name = dd("exd;p010", 0);
  Wire bad_position = dd("exdep010", 1);
  // Number columns narrower than their type would be read past their end.
  Wire narrow_long = dd("exdep010", 0, 3, 1);
  Wire narrow_double = dd("exdep010", 0, 5, 4);
  Wire narrow_elements = dd("exdep010", 0, 2, 5, 3);
  Wire good = dd("exdep010", 0);
  for (const Wire *w : {&long_spec, &big_company, &many_specs, &bad_name, &bad_position, &narrow_long,
                        &narrow_double, &narrow_elements}) {
    DriverConnection conn({});
    conn.Feed(w->bytes().data(), w->bytes().size());
    EXPECT_FALSE(conn.Process());
    EXPECT_FALSE(conn.has_reply());
  }
  // The well-formed description only lacks its session.
  DriverConnection conn({});
  conn.Feed(good.bytes().data(), good.bytes().size());
  EXPECT_TRUE(conn.Process());
  std::uint8_t reply[8];
  ASSERT_EQ(conn.TakeReply(reply, sizeof reply), 4u);
  EXPECT_EQ((reply[2] << 8) | reply[3], ZE_INVALID_SESSION);
}

TEST(DriverDictionary, ArraysGiveAColumnPerElementAndKeysTheirIndexes) {
  DdTableDesc desc;
  desc.name = "exemp010";
  desc.columns = {
      {"code", 6, 0, 6, 0, 1, {0, 0}}, {"scores", 6, 6, 2, 1, 3, {5, 0}}, {"price", 4, 12, 4, 0, 1, {5, 2}}};
  desc.keys = {{1, 0, 0, {0}}, {2, 1, 0, {1, 0}}, {3, 0, 0, {2}}};
  std::vector<std::string> sql = TableStatements(desc, 7, 1);
  // A key's index orders its texts as mode 1 compares them; mode 2 adds an
  // index of its own to each key with a text column.
  ASSERT_EQ(sql.size(), 4u);
  EXPECT_EQ(sql[0],
            "CREATE TABLE IF NOT EXISTS \"exemp010007\" (\"code\" BLOB, \"scores_1\" INTEGER, "
            "\"scores_2\" INTEGER, \"scores_3\" INTEGER, \"price\" REAL)");
  EXPECT_EQ(sql[1], "CREATE UNIQUE INDEX IF NOT EXISTS \"exemp010007_i1\" ON \"exemp010007\" "
                    "(CAST(\"code\" AS TEXT) COLLATE mvtss1)");
  EXPECT_EQ(sql[2],
            "CREATE INDEX IF NOT EXISTS \"exemp010007_i2\" ON \"exemp010007\" "
            "(\"scores_1\", \"scores_2\", \"scores_3\", CAST(\"code\" AS TEXT) COLLATE mvtss1)");
  EXPECT_EQ(sql[3], "CREATE UNIQUE INDEX IF NOT EXISTS \"exemp010007_i3\" ON \"exemp010007\" (\"price\")");
  std::vector<std::string> utft = TableStatements(desc, 7, 2);
  ASSERT_EQ(utft.size(), 6u);
  EXPECT_EQ(utft[2], "CREATE INDEX IF NOT EXISTS \"exemp010007_c2_1\" ON \"exemp010007\" "
                     "(CAST(\"code\" AS TEXT) COLLATE mvtss2)");
  EXPECT_EQ(utft[4],
            "CREATE INDEX IF NOT EXISTS \"exemp010007_c2_2\" ON \"exemp010007\" "
            "(\"scores_1\", \"scores_2\", \"scores_3\", CAST(\"code\" AS TEXT) COLLATE mvtss2)");
  // A file an older driver wrote (byte-order key indexes, collated indexes
  // in the order of the process that wrote them) gets the named orders: on
  // its first open the old collated indexes go, and when the dictionary
  // arrives the key indexes are made again. Its rows stay and are found
  // through the new index.
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  ASSERT_TRUE(InstallTssCollation(db));
  for (const char *old : {
           "CREATE TABLE exemp010007 (code BLOB, scores_1 INTEGER, scores_2 INTEGER, scores_3 INTEGER, price REAL)",
           "CREATE UNIQUE INDEX exemp010007_i1 ON exemp010007 (code)",
           "CREATE INDEX exemp010007_c1_1 ON exemp010007 (CAST(code AS TEXT) COLLATE mvtss)",
           "CREATE INDEX exemp010007_c2_2 ON exemp010007 (scores_1, scores_2, scores_3, CAST(code AS TEXT) COLLATE mvtss)",
           "INSERT INTO exemp010007 VALUES (CAST('ab    ' AS BLOB), 1, 2, 3, 4.5)"})
    ASSERT_EQ(sqlite3_exec(db, old, nullptr, nullptr, nullptr), SQLITE_OK) << old;
  std::string error;
  ASSERT_TRUE(PrepareDatabaseFile(db, 2, &error)) << error;
  ASSERT_TRUE(PrepareDatabaseFile(db, 1, &error)) << error;
  DdCatalog catalog;
  ASSERT_TRUE(catalog.Add(db, desc, 7, &error)) << error;
  auto query = [db](const char *text) {
    sqlite3_stmt *stmt = nullptr;
    std::string result;
    EXPECT_EQ(sqlite3_prepare_v2(db, text, -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    while (sqlite3_step(stmt) == SQLITE_ROW)
      for (int i = 0; i < sqlite3_column_count(stmt); ++i)
        result += std::string(reinterpret_cast<const char *>(sqlite3_column_text(stmt, i))) + ";";
    sqlite3_finalize(stmt);
    return result;
  };
  EXPECT_EQ(query("SELECT name FROM sqlite_master WHERE type = 'index' ORDER BY name"),
            "exemp010007_i1;exemp010007_i2;exemp010007_i3;sqlite_autoindex_molvane_table_layout_1;");
  EXPECT_EQ(query("SELECT count(*) FROM sqlite_master WHERE sql LIKE '%mvtss1)' AND name = 'exemp010007_i1'"), "1;");
  EXPECT_EQ(query("PRAGMA user_version"), std::to_string(kServesMode1 | kServesMode2) + ";");
  EXPECT_EQ(query("SELECT count(*) FROM exemp010007 WHERE CAST(code AS TEXT) COLLATE mvtss1 = 'ab'"), "1;");
  EXPECT_NE(query("EXPLAIN QUERY PLAN SELECT * FROM exemp010007 WHERE CAST(code AS TEXT) COLLATE mvtss1 = 'ab'")
                .find("USING INDEX exemp010007_i1"),
            std::string::npos);
  EXPECT_EQ(query("PRAGMA integrity_check"), "ok;");
  // Indexes made as the dictionary wants them stay when it arrives again.
  const std::string schema = query("PRAGMA schema_version");
  DdCatalog again;
  ASSERT_TRUE(again.Add(db, desc, 7, &error)) << error;
  EXPECT_EQ(query("PRAGMA schema_version"), schema);
  sqlite3_close(db);
  // Names are quoted, so a quote in a column name stays inside it.
  desc.columns[0].name = "co\"de";
  EXPECT_NE(TableStatements(desc, 7)[0].find("\"co\"\"de\" BLOB"), std::string::npos);
}

// Both named orders are there on every connection, whatever the process's
// mode, and order alike in every process: a file shared by hosts of both
// modes keeps each index in its own order whoever writes.
TEST(DriverDictionary, NamedOrdersHoldWhateverTheProcessMode) {
  struct Case {
    const char *a, *b;  // SQL blob or text literals
    int mode1, mode2;   // sign of a against b
  };
  const Case cases[] = {
      {"'ab'", "'ab   '", 0, 0},                // blank padding
      {"x'6162'", "x'616201'", 1, 1},          // a control character sorts below the blank
      {"'B'", "'a'", -1, 1},                   // byte order, ICU's root order
      {"x'61620078'", "x'61620079'", -1, -1},  // equal up to a NUL: by bytes
      {"x'616200'", "'ab'", -1, -1},           // a NUL below the blank of the padding
      {"'ab'", "x'6162007a'", 1, 1},           // the longer text goes on after a NUL: by bytes
      {"'ab c'", "'ab c'", 0, 0},              // the same bytes
  };
  for (const char *process : {"1", "2"}) {
    setenv("TSS_MODE", process, 1);
    TssReloadSettings();
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    ASSERT_TRUE(InstallTssCollation(db));
    for (const Case &c : cases) {
      for (int mode : {1, 2}) {
        std::string sql = "SELECT CASE WHEN CAST(" + std::string(c.a) + " AS TEXT) COLLATE mvtss" +
                          std::to_string(mode) + " < CAST(" + c.b + " AS TEXT) THEN -1 WHEN CAST(" + c.a +
                          " AS TEXT) COLLATE mvtss" + std::to_string(mode) + " = CAST(" + c.b +
                          " AS TEXT) THEN 0 ELSE 1 END";
        sqlite3_stmt *stmt = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql;
        ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_int(stmt, 0), mode == 1 ? c.mode1 : c.mode2)
            << "process mode " << process << ": " << sql;
        sqlite3_finalize(stmt);
      }
    }
    sqlite3_close(db);
  }
  setenv("TSS_MODE", "1", 1);
  TssReloadSettings();
}

// A table has one layout: a description that differs from the one the
// database recorded (in another catalog: another driver on the file), or
// from the one held, is refused with the table and the difference, and
// changes nothing; one of the same layout that differs otherwise replaces
// the held one under a new generation.
TEST(DriverDictionary, AnotherLayoutIsRefusedWithTheDifference) {
  DdTableDesc base;
  base.name = "exdep010";
  base.columns = {{"code", 6, 0, 6, 0, 1, {0, 0}}, {"name", 20, 6, 6, 0, 1, {0, 0}}, {"budget", 8, 26, 5, 0, 1, {0, 0}}};
  base.keys = {{1, 0, 0, {0}}, {2, 1, 0, {1}}};
  struct Case {
    const char *what;
    std::function<void(DdTableDesc &)> change;
    const char *difference;
  };
  const Case cases[] = {
      {"a column more", [](DdTableDesc &d) {
         d.columns.insert(d.columns.begin() + 1, {"floor", 2, 6, 2, 0, 1, {0, 0}});
         for (std::size_t i = 2; i < d.columns.size(); ++i) d.columns[i].offset += 2;
         for (DdKeyDesc &k : d.keys) k.columns[0] = k.columns[0] == 0 ? 0 : k.columns[0] + 1;
       },
       "this host's dictionary has column floor after code; the database's table has none"},
      {"a column less", [](DdTableDesc &d) { d.columns.pop_back(); },
       "the database's table has column budget after name; this host's dictionary has none"},
      {"a first column renamed", [](DdTableDesc &d) { d.columns[0].name = "kode"; },
       "this host's dictionary has column kode first; the database's table has none"},
      {"a longer column", [](DdTableDesc &d) { d.columns[1].length = 30; },
       "column name has offset 6, length 30, type 6 in this host's dictionary, offset 6, length 20, "
       "type 6 in the database's table"},
      {"an array", [](DdTableDesc &d) { d.columns[0].depth = 6; },
       "column code has offset 0, length 6, type 6, depth 6 in this host's dictionary, offset 0, "
       "length 6, type 6 in the database's table"},
      {"another key", [](DdTableDesc &d) { d.keys[1].columns = {1, 0}; },
       "key 2 is (name, code) with duplicates in this host's dictionary, (name) with duplicates in the "
       "database's table"},
      {"a key more", [](DdTableDesc &d) { d.keys.push_back({3, 0, 0, {2}}); },
       "this host's dictionary has key 3 (budget); the database's table has none"},
      {"a key less", [](DdTableDesc &d) { d.keys.pop_back(); },
       "the database's table has key 2 (name) with duplicates; this host's dictionary has none"},
  };
  molvane::test::ScratchDir dir;
  const std::string path = dir.path() + "/layout.db";
  sqlite3 *first = nullptr, *second = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &first), SQLITE_OK);
  ASSERT_EQ(sqlite3_open(path.c_str(), &second), SQLITE_OK);
  ASSERT_TRUE(InstallTssCollation(first));
  ASSERT_TRUE(InstallTssCollation(second));
  DdCatalog held, other;
  std::string error;
  int holder = 0;
  ASSERT_TRUE(held.Add(first, base, 1, &error, &holder)) << error;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    DdTableDesc changed = base;
    c.change(changed);
    const std::string want = std::string("exdep010: ") + c.difference + "; ALTER_TABLE is not supported";
    bool refused = false;
    EXPECT_FALSE(other.Add(second, changed, 1, &error, &holder, &refused));
    EXPECT_TRUE(refused);
    EXPECT_EQ(error, want);
    EXPECT_EQ(other.Find("exdep010", 1), nullptr);
    refused = false;
    EXPECT_FALSE(held.Add(first, changed, 1, &error, nullptr, &refused));
    EXPECT_TRUE(refused);
    EXPECT_EQ(error, want);
    EXPECT_EQ(DdLayout(*held.Find("exdep010", 1)), DdLayout(base));
  }
  // The same layout from another catalog is taken; a holder finds only
  // what it sent.
  int second_holder = 0;
  EXPECT_EQ(held.Find("exdep010", 1, &second_holder), nullptr);
  ASSERT_TRUE(held.Add(first, base, 1, &error, &second_holder)) << error;
  const std::uint64_t generation = held.Find("exdep010", 1)->generation;
  EXPECT_NE(held.Find("exdep010", 1, &second_holder), nullptr);
  EXPECT_EQ(held.Find("exdep010", 1)->generation, generation) << "the same description replaces nothing";
  DdTableDesc referenced = base;
  referenced.referenced_by.push_back({"exemp010.dept", "", 1});
  ASSERT_TRUE(held.Add(first, referenced, 1, &error)) << error;
  EXPECT_NE(held.Find("exdep010", 1)->generation, generation);
  EXPECT_EQ(held.Find("exdep010", 1)->referenced_by.size(), 1u);
  held.Forget(&second_holder);
  EXPECT_EQ(held.Find("exdep010", 1, &second_holder), nullptr);
  EXPECT_NE(held.Find("exdep010", 1, &holder), nullptr);
  ASSERT_TRUE(other.Add(second, base, 1, &error)) << error;
  // A table made before layouts were recorded is checked by its columns.
  ASSERT_EQ(sqlite3_exec(first, "CREATE TABLE \"exold010001\" (\"code\" BLOB, \"name\" BLOB)", nullptr, nullptr, nullptr),
            SQLITE_OK);
  DdTableDesc old = base;
  old.name = "exold010";
  bool refused = false;
  EXPECT_FALSE(other.Add(second, old, 1, &error, nullptr, &refused));
  EXPECT_EQ(error, "exold010: this host's dictionary has column budget after name; the database's table has "
                   "none; ALTER_TABLE is not supported");
  old.columns.pop_back();
  old.keys.pop_back();
  EXPECT_TRUE(other.Add(second, old, 1, &error)) << error;
  sqlite3_close(first);
  sqlite3_close(second);
}

TEST(DriverOptions, ArgumentsSetWhatTheDriverReports) {
  DriverOptions o = DriverOptions::FromArgs(
      {"--sessions=2", "/tmp/x.db", "--sql-protocol=5", "--tss-mode=3", "--bogus", "other"});
  EXPECT_EQ(o.database, "/tmp/x.db");
  EXPECT_EQ(o.sessions, 2u);
  EXPECT_EQ(o.sql_protocol, 5u);
  EXPECT_EQ(o.tss_mode, 0);  // 3 is no mode
  DriverOptions d = DriverOptions::FromArgs({});
  EXPECT_EQ(d.sessions, 32u);
  EXPECT_EQ(d.sql_protocol, 6u);
  EXPECT_EQ(d.lock_wait_ms, 500);
  EXPECT_EQ(DriverOptions::FromArgs({"--lock-wait-ms=0"}).lock_wait_ms, 0);
  DriverOptions w = DriverOptions::FromArgs({"--lock-wait-ms=60001", "--lock-wait-ms=-1", "--lock-wait-ms"});
  EXPECT_EQ(w.lock_wait_ms, 500);
  EXPECT_EQ(w.refused.size(), 3u);
}

// ATT_SERVER answers 519 until the mapping of the client's environment is
// held; sessions beyond the ones allowed are refused with 525.
TEST(DriverAttach, MappingAndSessionLimit) {
  ForgetCompnrMaps();
  molvane::test::ScratchDir dir;
  DriverConnection conn({dir.path() + "/x.db", "--sessions=1"});
  auto exchange = [&conn](const Wire &w) {
    conn.Feed(w.bytes().data(), w.bytes().size());
    EXPECT_TRUE(conn.Process());
    std::vector<std::uint8_t> reply(64);
    reply.resize(conn.TakeReply(reply.data(), reply.size()));
    return reply;
  };
  auto last_u32 = [](const std::vector<std::uint8_t> &r) {
    std::size_t n = r.size();
    return static_cast<std::uint32_t>((r[n - 4] << 24) | (r[n - 3] << 16) | (r[n - 2] << 8) | r[n - 1]);
  };
  Wire att;
  att.u8(ATT_SERVER).u32(1).u16(2).u16(2).u32(6).text("ann").text("env-a").text("dd msqlite x");
  EXPECT_EQ(last_u32(exchange(att)), static_cast<std::uint32_t>(ZE_ILLEGAL_COMPNR));
  Wire map;
  map.u8(SEND_COMPNR).raw(AsText(CompnrPayload("env-a")));
  EXPECT_EQ(last_u32(exchange(map)), 0u);
  std::vector<std::uint8_t> facts = exchange(att);
  ASSERT_EQ(facts.size(), 21u);
  EXPECT_EQ(facts[3], 1);  // sessions allowed
  EXPECT_EQ(last_u32(facts), 0u);
  Wire session;
  session.u8(ATT_SESSION).text("t1");
  EXPECT_EQ(last_u32(exchange(session)), 0u);
  EXPECT_EQ(last_u32(exchange(session)), static_cast<std::uint32_t>(ZE_NO_RESOURCE));

  // A dictionary of the new dictionary (first letter upper case) for
  // company 150 lands in physical company 200, which then serves 151 too.
  Wire dd;
  dd.u8(DD_INFO_TABLE).u32(1).text("Exdep010");
  dd.u16(1).u16(0).u16(1).u16(0).u16(150).u16(0).u16(0).u16(0);
  dd.text("code").u16(6).u16(0).u8(6).u8(0).u8(1).u8(0).u8(0);
  dd.u8(1).u8(0).u8(0).u16(1).u16(0);
  EXPECT_EQ(last_u32(exchange(dd)), 0u);
  auto table_action = [](int compnr) {
    Wire w;
    w.u8(EXE_TBL_CNTR).u32(1).text("Exdep010").u16(compnr).u32(8).u32(0).u32(1);
    return w;
  };
  EXPECT_EQ(last_u32(exchange(table_action(151))), 0u);  // nr_rows of the held table
  std::vector<std::uint8_t> asks = exchange(table_action(152));
  ASSERT_EQ(asks.size(), 22u);  // argument, 513, then one entry of the list
  EXPECT_EQ(std::string(asks.begin() + 12, asks.begin() + 20), "Exdep010");
  // Another client environment still lacks its mapping.
  Wire att_b;
  att_b.u8(ATT_SERVER).u32(1).u16(2).u16(2).u32(6).text("bob").text("env-b").text("dd msqlite x");
  EXPECT_EQ(last_u32(exchange(att_b)), static_cast<std::uint32_t>(ZE_ILLEGAL_COMPNR));
}

}  // namespace
