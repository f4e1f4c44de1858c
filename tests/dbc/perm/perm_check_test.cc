// Permissions of tables and fields over loaded roles: the level keys, row
// conditions, merged duplicates, mapped companies, the action check with 208,
// the super user and the exact PERMISSION payload.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dbc/perm/perm_roles.h"
#include "dbc/zdb_errors.h"
#include "ipc/stream.h"
#include "dbc/log_capture.h"
#include "molvane/zdb.h"
#include "dbc/roles_test_env.h"

namespace {

using molvane::test::LogCapture;
using molvane::test::RolesRoot;
using molvane::test::TestRow;

// A table the dictionary does not hold: only its name matters to the table
// levels.
DD_TABLE NamedTable(const char *name) {
  DD_TABLE t{};
  std::snprintf(t.name, sizeof t.name, "%.8s", name);
  return t;
}

roleT *Role(const char *name) { return rpl_find_role(ROLE_TYPE_DB, name); }

struct LevelCase {
  const char *table;
  int compnr;
  int expected;
};

class PermLevels : public ::testing::TestWithParam<LevelCase> {};

TEST_P(PermLevels, FirstLevelWithAKeyDecides) {
  RolesRoot root("levels");
  root.Role("levels", {"levels",
                       "tcemp001:100:D",  // level 7
                       "tcemp001:*:R",    // level 8
                       "tcdep:200:W",     // level 9
                       "tcdep:*:M",       // level 10
                       "tc:300:R",        // level 11
                       "tc:*:-",          // level 12
                       "*:400:W",         // level 13
                       "*:*:R"});         // level 14
  ASSERT_EQ(zdb_load_roles(), 0);
  DD_TABLE table = NamedTable(GetParam().table);
  EXPECT_EQ(perm_role_table(Role("levels"), &table, GetParam().compnr, nullptr, PERM_ACTION_DELETE),
            GetParam().expected);
  EXPECT_EQ(perm_table_permission(&table, GetParam().compnr, GetParam().compnr, nullptr),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Keys, PermLevels,
                         ::testing::Values(LevelCase{"tcemp001", 100, 16}, LevelCase{"tcemp001", 200, 2},
                                           LevelCase{"tcdep001", 200, 8}, LevelCase{"tcdep001", 300, 4},
                                           LevelCase{"tcxyz001", 300, 2}, LevelCase{"tcxyz001", 500, 1},
                                           LevelCase{"zzabc001", 400, 8}, LevelCase{"zzabc001", 0, 2}));

TEST(PermTable, NoKeyAtAnyLevelGivesNone) {
  RolesRoot root("empty");
  root.Role("empty", {"empty", "tcdep001:*:D"});
  ASSERT_EQ(zdb_load_roles(), 0);
  DD_TABLE table = NamedTable("tcemp001");
  EXPECT_EQ(perm_table_permission(&table, 100, 100, nullptr), PERM_NONE);
}

TEST(PermTable, HighestOverTheRoles) {
  RolesRoot root("reader:deleter");
  root.Role("reader", {"reader", "tcemp001:*:R"});
  root.Role("deleter", {"deleter", "tcemp001:100:D"});
  ASSERT_EQ(zdb_load_roles(), 0);
  DD_TABLE table = NamedTable("tcemp001");
  EXPECT_EQ(perm_table_permission(&table, 100, 100, nullptr), 16);
  EXPECT_EQ(perm_table_permission(&table, 200, 200, nullptr), 2);
}

TEST(PermTable, MappedCompanyTakesTheLowerValue) {
  RolesRoot root("mapped");
  root.Role("mapped", {"mapped", "tcemp001:100:D", "tcemp001:200:R"});
  ASSERT_EQ(zdb_load_roles(), 0);
  DD_TABLE table = NamedTable("tcemp001");
  EXPECT_EQ(perm_table_permission(&table, 200, 100, nullptr), 2);
  EXPECT_EQ(perm_table_permission(&table, 100, 100, nullptr), 16);
  EXPECT_EQ(perm_action_allowed(&table, 100, 100, PERM_ACTION_DELETE, nullptr), 0);
  zdb_errno = 0;
  EXPECT_EQ(perm_action_allowed(&table, 200, 100, PERM_ACTION_DELETE, nullptr), -1);
  EXPECT_EQ(zdb_errno, ZE_NO_PERMISSION);
}

TEST(PermTable, DuplicateTableLinesKeepTheHigherFieldLinesTheLower) {
  RolesRoot root("dups");
  root.Role("dups", {"dups", "tcemp001:*:R", "tcemp001:*:M", "tcemp001:*:-", "tcemp001.sala:*:M",
                     "tcemp001.sala:*:R", "tcemp001.sala:*:D"});
  ASSERT_EQ(zdb_load_roles(), 0);
  const DD_TABLE *table = ddtable("tcemp001");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(perm_table_permission(table, 1, 1, nullptr), PERM_MODIFY);
  EXPECT_EQ(perm_field_permission(table, ddcolumn("tcemp001.sala"), 1, nullptr), PERM_READ);
}

TEST(PermTable, ConditionalLinesChainNewestFirst) {
  RolesRoot root("chain");
  root.Role("chain", {"chain", "tcemp001:*:W:comp = 1", "tcemp001:*:D:comp = 2"});
  ASSERT_EQ(zdb_load_roles(), 0);
  DB_PERM *head = dbc_get_perm_from_role(Role("chain"), "tcemp001", 7, 6);
  ASSERT_NE(head, nullptr);
  EXPECT_STREQ(head->key, "tcemp001:*c");
  EXPECT_EQ(head->value, 16);
  ASSERT_NE(head->next, nullptr);
  EXPECT_EQ(head->next->value, 8);
  EXPECT_STREQ(head->next->condition_text, "comp = 1");
  EXPECT_EQ(head->next->next, nullptr);
}

struct ConditionCase {
  const char *line;
  int comp;
  const char *name;
  int32_t sala;
  double rate;
  int expected;
};

class PermCondition : public ::testing::TestWithParam<ConditionCase> {};

// Conditions are evaluated over the row's columns; with no true condition the
// role falls through to the next level ("*:*:R" here).
TEST_P(PermCondition, EvaluatedOverTheRow) {
  RolesRoot root("cond");
  root.Role("cond", {"cond", GetParam().line, "*:*:R"});
  ASSERT_EQ(zdb_load_roles(), 0);
  const DD_TABLE *table = ddtable("tcemp001");
  ASSERT_NE(table, nullptr);
  TestRow row(table);
  row.Short("comp", GetParam().comp).Text("name", GetParam().name).Long("sala", GetParam().sala);
  row.Double("rate", GetParam().rate);
  EXPECT_EQ(perm_table_permission(table, 5, 5, row.data()), GetParam().expected)
      << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PermCondition,
    ::testing::Values(ConditionCase{"tcemp001:*:D:comp = 100", 100, "", 0, 0, 16},
                      ConditionCase{"tcemp001:*:D:comp = 100", 200, "", 0, 0, 2},
                      ConditionCase{"tcemp001:005:W:name = 'SMITH'", 0, "SMITH", 0, 0, 8},
                      ConditionCase{"tcemp001:005:W:name = 'SMITH'", 0, "SMITHS", 0, 0, 2},
                      ConditionCase{"tcemp001:*:M:sala >= 1000 and rate < 1.5", 0, "", 1000, 1.25, 4},
                      ConditionCase{"tcemp001:*:M:sala >= 1000 and rate < 1.5", 0, "", 999, 1.25, 2},
                      ConditionCase{"tcemp001:*:M:nope = 1", 0, "", 0, 0, 2},
                      ConditionCase{"tcemp001:*:W:tcemp001.comp = 7", 7, "", 0, 0, 8},
                      ConditionCase{"tcemp001:*:W:tcdep001.head = 0", 7, "", 0, 0, 2}));

TEST(PermCondition, WithoutARowDependsOnTheAction) {
  RolesRoot root("cond");
  root.Role("cond", {"cond", "tcemp001:*:D:comp = 100"});
  ASSERT_EQ(zdb_load_roles(), 0);
  const DD_TABLE *table = ddtable("tcemp001");
  EXPECT_EQ(perm_role_table(Role("cond"), table, 100, nullptr, PERM_ACTION_DELETE), PERM_NEEDS_ROW);
  EXPECT_EQ(perm_role_table(Role("cond"), table, 100, nullptr, lock_table), PERM_NONE);
  EXPECT_EQ(perm_table_permission(table, 100, 100, nullptr), PERM_NEEDS_ROW);
  EXPECT_EQ(perm_action_allowed(table, 100, 100, lock_table, nullptr), -1);
}

TEST(PermCondition, UnknownAndRawColumnsHaveNoValue) {
  RolesRoot root("cond");
  root.Role("cond", {"cond", "tcemp001:*:D:nope = 1 or blob = 1"});
  ASSERT_EQ(zdb_load_roles(), 0);
  const DD_TABLE *table = ddtable("tcemp001");
  TestRow row(table);
  LogCapture log;
  EXPECT_EQ(perm_table_permission(table, 1, 1, row.data()), PERM_NONE);
  EXPECT_TRUE(log.Contains("Unknown column nope (table tcemp001)"));
  EXPECT_TRUE(log.Contains("Permissions not allowed on columns of type RAW"));
}

TEST(PermField, LevelsConditionsAndRoles) {
  RolesRoot root("fields:more");
  root.Role("fields", {"fields", "tcemp001.sala:100:M", "tcemp001.sala:*:R",
                       "tcemp001.rate:*:D:$ > 2"});
  root.Role("more", {"more", "tcemp001.comp:*:-"});
  ASSERT_EQ(zdb_load_roles(), 0);
  const DD_TABLE *table = ddtable("tcemp001");
  TestRow row(table);
  row.Double("rate", 3.0);
  EXPECT_EQ(perm_field_permission(table, ddcolumn("tcemp001.sala"), 100, nullptr), PERM_MODIFY);
  EXPECT_EQ(perm_field_permission(table, ddcolumn("tcemp001.sala"), 200, nullptr), PERM_READ);
  EXPECT_EQ(perm_field_permission(table, ddcolumn("tcemp001.name"), 100, nullptr), PERM_NO_FIELD);
  EXPECT_EQ(perm_field_permission(table, ddcolumn("tcemp001.comp"), 100, nullptr), PERM_NONE);
  EXPECT_EQ(perm_field_permission(table, ddcolumn("tcemp001.rate"), 100, nullptr), PERM_NEEDS_ROW);
  EXPECT_EQ(perm_field_permission(table, ddcolumn("tcemp001.rate"), 100, row.data()), PERM_DELETE);
  row.Double("rate", 1.0);
  EXPECT_EQ(perm_field_permission(table, ddcolumn("tcemp001.rate"), 100, row.data()), PERM_NO_FIELD);
}

struct ActionCase {
  int action;
  int result;
};

class PermAction : public ::testing::TestWithParam<ActionCase> {};

TEST_P(PermAction, ThresholdOfTheAction) {
  RolesRoot root("modify");
  root.Role("modify", {"modify", "tcemp001:*:M"});
  ASSERT_EQ(zdb_load_roles(), 0);
  DD_TABLE table = NamedTable("tcemp001");
  zdb_errno = 0;
  EXPECT_EQ(perm_action_allowed(&table, 1, 1, GetParam().action, nullptr), GetParam().result);
  EXPECT_EQ(zdb_errno, GetParam().result == 0 ? 0 : ZE_NO_PERMISSION);
}

INSTANTIATE_TEST_SUITE_P(Actions, PermAction,
                         ::testing::Values(ActionCase{PERM_ACTION_UPDATE, 0},
                                           ActionCase{PERM_ACTION_INSERT, -1},
                                           ActionCase{PERM_ACTION_DELETE, -1},
                                           ActionCase{clear_table, -1}, ActionCase{13, -1}));

// The checks answer from rights compiled per table and company; they must
// give what a walk over every role's lines gives: perm_table_permission the
// walk that stops at the first role reaching 16, perm_action_allowed
// whether any role reaches the action's threshold, with and without a row.
struct CompiledCase {
  const char *name;
  std::vector<std::vector<std::string>> roles;  // lines after the role name
};

class PermCompiled : public ::testing::TestWithParam<CompiledCase> {};

TEST_P(PermCompiled, AgreesWithTheWalkOverTheRoles) {
  std::string names;
  for (size_t i = 0; i < GetParam().roles.size(); ++i) names += (i ? ":" : "") + ("r" + std::to_string(i));
  RolesRoot root(names.c_str());
  for (size_t i = 0; i < GetParam().roles.size(); ++i) {
    std::vector<std::string> lines{"r" + std::to_string(i)};
    lines.insert(lines.end(), GetParam().roles[i].begin(), GetParam().roles[i].end());
    root.Role("r" + std::to_string(i), lines);
  }
  ASSERT_EQ(zdb_load_roles(), 0);
  const DD_TABLE *table = ddtable("tcemp001");
  ASSERT_NE(table, nullptr);
  for (int comp : {100, 200}) {
    TestRow row(table);
    row.Short("comp", comp);
    for (const unsigned char *image : {static_cast<const unsigned char *>(nullptr), row.data()}) {
      for (int action : {int{PERM_ACTION_INSERT}, int{PERM_ACTION_DELETE}, int{PERM_ACTION_UPDATE}, int{lock_table}}) {
        int walk = 0, highest = 0;
        bool stopped = false;
        RPL_WALK w;
        for (roleT *r = rpl_get_role(ROLE_TYPE_DB, 1, &w); r != nullptr; r = rpl_get_role(ROLE_TYPE_DB, 2, &w)) {
          int v = perm_role_table(r, table, comp, image, image ? 0 : action);
          highest = std::max(highest, perm_role_table(r, table, comp, image, action));
          if (!stopped) walk = std::max(walk, v);
          stopped = stopped || walk >= PERM_DELETE;
        }
        SCOPED_TRACE(std::to_string(comp) + (image ? " row " : " no row ") + std::to_string(action));
        if (action == PERM_ACTION_DELETE) {
          EXPECT_EQ(perm_table_permission(table, comp, comp, image), walk);
        }
        EXPECT_EQ(perm_action_allowed(table, comp, comp, action, image),
                  highest >= perm_action_threshold(action) ? 0 : -1);
        if (highest >= perm_action_threshold(action)) continue;
        // A refusal with a row says "for this row" exactly when another row
        // (another value of the column the conditions test) is allowed.
        const std::string msg = get_zdb_msg() != nullptr ? get_zdb_msg() : "";
        bool other_row_allowed = false;
        for (int value : {5, 100, 200}) {
          TestRow other(table);
          other.Short("comp", value);
          other_row_allowed = other_row_allowed ||
                              (image != nullptr &&
                               perm_action_allowed(table, comp, comp, action, other.data()) == 0);
        }
        const char *words = action == PERM_ACTION_INSERT   ? "an insert"
                            : action == PERM_ACTION_DELETE ? "a delete"
                            : action == PERM_ACTION_UPDATE ? "an update"
                                                           : "lock_table";
        EXPECT_EQ(msg, "No permission for " + std::string(words) + " on tcemp001" +
                           std::to_string(comp) +
                           ": the roles of the user (db_roles) do not allow it" +
                           (other_row_allowed ? " for this row" : ""));
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Roles, PermCompiled,
    ::testing::Values(
        CompiledCase{"FixedLines", {{"tcemp001:100:M", "*:*:R"}, {"tcemp:*:W"}, {}}},
        CompiledCase{"ConditionFallsThrough", {{"tcemp001:*:D:comp = 100", "tc:*:M"}, {"*:*:R"}}},
        CompiledCase{"ConditionFirstThenDelete", {{"tcemp001:*:W:comp = 200"}, {"tcemp001:100:D"}, {"*:*:M"}}},
        CompiledCase{"NeedsRowBeforeDelete", {{"tcemp001:*:D:comp = 5"}, {"*:100:D"}}},
        CompiledCase{"DeleteBeforeNeedsRow", {{"*:100:D"}, {"tcemp001:*:W:comp = 5"}}},
        CompiledCase{"NoLinesForTheTable", {{"tcdep001:*:D"}, {"tcx:*:D"}}}),
    [](const ::testing::TestParamInfo<CompiledCase> &info) { return std::string(info.param.name); });

// A second logon in the process may bring another role list whose roles are
// all loaded already: the rights compiled for the first list must not stay.
TEST(PermCompiled, AnotherRoleListOfLoadedRolesIsSeenAtOnce) {
  RolesRoot root("reader");
  root.Role("reader", {"reader", "tcemp001:*:R"});
  root.Role("writer", {"writer", "tcemp001:*:W"});
  DD_TABLE table = NamedTable("tcemp001");
  ASSERT_EQ(zdb_load_roles(), 0);
  EXPECT_EQ(perm_table_permission(&table, 1, 1, nullptr), PERM_READ);
  std::strcpy(user_info.db_roles, "writer");
  ASSERT_EQ(zdb_load_roles(), 0);
  EXPECT_EQ(perm_table_permission(&table, 1, 1, nullptr), PERM_WRITE);
  // Both roles are loaded now: going back loads nothing new.
  std::strcpy(user_info.db_roles, "reader");
  ASSERT_EQ(zdb_load_roles(), 0);
  EXPECT_EQ(perm_table_permission(&table, 1, 1, nullptr), PERM_READ);
  zdb_unload_roles();
}

TEST(PermCompiled, ReloadedRolesAreSeenAtOnce) {
  RolesRoot root("only");
  root.Role("only", {"only", "tcemp001:*:R"});
  ASSERT_EQ(zdb_load_roles(), 0);
  DD_TABLE table = NamedTable("tcemp001");
  EXPECT_EQ(perm_table_permission(&table, 1, 1, nullptr), PERM_READ);
  EXPECT_EQ(perm_action_allowed(&table, 1, 1, PERM_ACTION_INSERT, nullptr), -1);
  root.Role("only", {"only", "tcemp001:*:W"});
  zdb_unload_roles();
  ASSERT_EQ(zdb_load_roles(), 0);
  EXPECT_EQ(perm_table_permission(&table, 1, 1, nullptr), PERM_WRITE);
  EXPECT_EQ(perm_action_allowed(&table, 1, 1, PERM_ACTION_INSERT, nullptr), 0);
  zdb_unload_roles();
  EXPECT_EQ(perm_table_permission(&table, 1, 1, nullptr), PERM_NONE);
}

TEST(PermAction, SuperUserMayDoAnything) {
  RolesRoot root("");
  user_info.user_type = 'S';
  ASSERT_EQ(zdb_load_roles(), 0);
  DD_TABLE table = NamedTable("tcemp001");
  EXPECT_EQ(perm_action_allowed(&table, 1, 2, drop_table, nullptr), 0);
  EXPECT_EQ(perm_table_permission(&table, 1, 2, nullptr), PERM_SUPER);
  EXPECT_EQ(srch_permission(), 30);
}

TEST(PermPayload, ExactBytesOfTheTableEntries) {
  RolesRoot root("p1:p2");
  root.Role("p1", {"p1", "tcemp001:*:R"});
  root.Role("p2", {"p2", "tcdep001:*:W:head = 1", "tcdep001:*:D:head = 2", "tcdep001.head:*:R"});
  ASSERT_EQ(zdb_load_roles(), 0);
  STREAM *out = stream_open_bytes(nullptr, 0, "w");
  ASSERT_EQ(dbc_send_roles(out), 0);
  size_t count = 0;
  const unsigned char *bytes = stream_bytes(out, &count);
  std::string expected;
  expected += std::string("\0\3p1\0", 5) + std::string("tcemp001:*\0\0\2\0\0", 15) + '\0' + '\0';
  expected += std::string("\0\3p2\0", 5);
  expected += std::string("tcdep001:*c\0\0\x10\0\x08head = 2\0", 25);
  expected += std::string("tcdep001:*c\0\0\x08\0\x08head = 1\0", 25);
  expected += std::string("\0\0", 2);
  expected += std::string("\0\1\0", 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(bytes), count), expected);
  sclose(out);
}

TEST(PermPayload, NoRolesSendOnlyTheEndMark) {
  RolesRoot root("");
  user_info.user_type = 'S';
  ASSERT_EQ(zdb_load_roles(), 0);
  STREAM *out = stream_open_bytes(nullptr, 0, "w");
  ASSERT_EQ(dbc_send_roles(out), 0);
  size_t count = 0;
  const unsigned char *bytes = stream_bytes(out, &count);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(bytes), count), std::string("\0\1\0", 3));
  sclose(out);
}

TEST(PermKeys, LevelKeyFormats) {
  const char *expected[] = {"",           "tab.fld:042c", "tab.fld:*c", "tab.fld:042", "tab.fld:*",
                            "tabxy001:042c", "tabxy001:*c", "tabxy001:042", "tabxy001:*", "tabxy:042",
                            "tabxy:*",   "ta:042",      "ta:*",       "*:042",       "*:*"};
  for (int level = 1; level <= 4; ++level)
    EXPECT_STREQ(convert_name_for_level("tab.fld", 42, level), expected[level]);
  for (int level = 5; level <= 14; ++level)
    EXPECT_STREQ(convert_name_for_level("tabxy001", 42, level), expected[level]);
  LogCapture log;
  EXPECT_STREQ(convert_name_for_level("tabxy001", 42, 15), "tabxy001");
  EXPECT_TRUE(log.Contains("Wrong level ('15') specified"));
}

}  // namespace
