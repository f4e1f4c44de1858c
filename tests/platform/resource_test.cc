#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/env.h"
#include "platform/log.h"
#include "platform/resource.h"
#include "platform/user.h"
#include "support/test_env.h"

namespace {

// A scratch environment root holding every settings source; each source
// sets the settings it ranks for, so the winner shows which one applied.
class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    set_zuv(root_.path().c_str());
    log_set_progname("progx", nullptr);
    ::setenv("ZUV_USER", "tester", 1);
    root_.WriteFile("lib/defaults/all",
                    "s_all: all\ns_prog: all\ns_user: all\ns_env: all\n"
                    "other.s_def: not for this program\n");
    root_.WriteFile("lib/defaults/progx", "# comment\ns_prog: prog\nprogx.s_user: prog\ns_env: prog\n");
    root_.WriteFile("lib/user/utester", "  s_user :  user  \ns_env: user\n");
    ::setenv("S_ENV", "env", 1);
    ASSERT_EQ(0, init_user());
  }
  void TearDown() override {
    ::unsetenv("S_ENV");
    ::unsetenv("ZUV_USER");
  }
  molvane::test::ScratchDir root_;
};

TEST_F(Settings, PrecedenceEnvUserProgramAllDefault) {
  static char s_def[16], s_all[16], s_prog[16], s_user[16], s_env[16];
  // Registered tables live as long as the process, as in real use.
  static AL_RESOURCE table[] = {
      {"s_def", s_def, AL_RES_STRBUF | AL_RES_ENVWIN, 16, "def", nullptr, nullptr, nullptr},
      {"s_all", s_all, AL_RES_STRBUF | AL_RES_ENVWIN, 16, "def", nullptr, nullptr, nullptr},
      {"s_prog", s_prog, AL_RES_STRBUF | AL_RES_ENVWIN, 16, "def", nullptr, nullptr, nullptr},
      {"s_user", s_user, AL_RES_STRBUF | AL_RES_ENVWIN, 16, "def", nullptr, nullptr, nullptr},
      {"s_env", s_env, AL_RES_STRBUF | AL_RES_ENVWIN, 16, "def", nullptr, nullptr, nullptr},
      {nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr},
  };
  ASSERT_EQ(0, al_add_resources(table));
  EXPECT_STREQ("def", s_def);
  EXPECT_STREQ("all", s_all);
  EXPECT_STREQ("prog", s_prog);
  EXPECT_STREQ("user", s_user);
  EXPECT_STREQ("env", s_env);
  // getvar sees the same sources without a table.
  EXPECT_STREQ("user", getvar("s_user"));
  EXPECT_STREQ("env", getvar("S_ENV"));
  EXPECT_EQ(nullptr, getvar("s_nowhere"));
}

TEST_F(Settings, SpecifiedFileRanksBelowUserAndEnvironmentAndOctalValues) {
  static int oct = 0, dec = 0, s_user = 0, bad = 5;
  static long lng = 0;
  root_.WriteFile("lib/defaults/db_resource", "oct: 17\ndec: 017\ns_user: 99\nbad: 12x\nlng: 0x10\n");
  // Registered tables live as long as the process, as in real use.
  static AL_RESOURCE table[] = {
      {"oct", &oct, AL_RES_INT | AL_RES_OCTAL | AL_RES_ENVWIN, 0, "0", nullptr, nullptr, nullptr},
      {"dec", &dec, AL_RES_INT | AL_RES_ENVWIN, 0, "0", nullptr, nullptr, nullptr},
      {"s_user", &s_user, AL_RES_INT | AL_RES_ENVWIN, 0, "0", nullptr, nullptr, nullptr},
      {"bad", &bad, AL_RES_INT, 0, nullptr, nullptr, nullptr, nullptr},
      {"lng", &lng, AL_RES_LONG, 0, "-1", nullptr, nullptr, nullptr},
      {"", nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr},
  };
  root_.WriteFile("lib/user/utester", "s_user: 7\n");
  ASSERT_EQ(0, al_load_specified_res("lib/defaults/db_resource", table));
  EXPECT_EQ(-1, al_load_specified_res("lib/defaults/missing", table));
  ASSERT_EQ(0, al_add_resources(table));
  EXPECT_EQ(017, oct);
  EXPECT_EQ(17, dec);
  EXPECT_EQ(7, s_user) << "the user file wins over a specified file";
  EXPECT_EQ(5, bad) << "a bad text is refused, the value kept";
  EXPECT_EQ(16, lng);

  ::setenv("OCT", "777", 1);
  al_add_resources(table);
  EXPECT_EQ(0777, oct);
  ::unsetenv("OCT");
}

int g_calls = 0;
void Changed(AL_RESOURCE *) { ++g_calls; }

TEST_F(Settings, CommandStringsAndChangeCallbacks) {
  static int dbg = 0;
  static char drv[8] = "";
  // Registered tables live as long as the process, as in real use.
  static AL_RESOURCE table[] = {
      {"zdb_debug", &dbg, AL_RES_INT | AL_RES_OCTAL | AL_RES_MUTFUN | AL_RES_ENVWIN, 0, "0",
       nullptr, nullptr, nullptr},
      {"zdb_driver", drv, AL_RES_STRBUF, sizeof drv, "", nullptr, nullptr, nullptr},
      {nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr},
  };
  al_add_resources(table);
  EXPECT_EQ(-1, al_setres_mutfun("nope", Changed, table));
  ASSERT_EQ(0, al_setres_mutfun("zdb_debug", Changed, table));
  g_calls = 0;
  EXPECT_EQ(2, al_updreses_by_comstring("zdb_debug: 10\nzdb_driver:sqlite\nunknown: 1", nullptr));
  EXPECT_EQ(8, dbg);
  EXPECT_STREQ("sqlite", drv);
  EXPECT_EQ(1, g_calls);
  EXPECT_EQ(0, al_updreses_by_comstring("zdb_driver: far_too_long_a_name", table));
  EXPECT_STREQ("sqlite", drv) << "too long a text is refused, not cut";
}

TEST_F(Settings, UserRecordFromUserFile) {
  root_.WriteFile("lib/user/utester", "user_type: N\nlanguage: 3\ndb_roles: a:b\nnoref_ch: #\n");
  ASSERT_EQ(0, init_user());
  EXPECT_STREQ("tester", user_info.user_name);
  EXPECT_EQ('N', user_info.user_type);
  EXPECT_EQ('3', user_info.language);
  EXPECT_STREQ("a:b", user_info.db_roles);
  EXPECT_EQ('#', user_info.noref_ch);
  EXPECT_STREQ("ISO-8859-1", user_info.locale);
  EXPECT_TRUE(determine_DT_version());
  EXPECT_TRUE(is_GTEQ_dt_release());
}

TEST(Env, RootTmpAndRelease) {
  molvane::test::ScratchDir root;
  ASSERT_EQ(0, set_zuv((root.path() + "//").c_str()));
  EXPECT_EQ(root.path(), get_zuv());
  EXPECT_EQ(-1, set_zuv(""));
  ::unsetenv("ZUV_TMP");
  root.WriteFile("tmp/keep", "");
  EXPECT_EQ(root.path() + "/tmp", get_zuv_tmp());
  ASSERT_EQ(0, qelt_putenv("ZUV_TMP=/Some/Mixed/Case"));
  EXPECT_STREQ("/Some/Mixed/Case", get_zuv_tmp());
  ASSERT_EQ(0, qelt_putenv("ZUV_TMP="));
  EXPECT_EQ(nullptr, std::getenv("ZUV_TMP"));
  EXPECT_EQ(-1, qelt_putenv("novalue"));
  ::unsetenv("ZUV_RELEASE");
  EXPECT_STREQ("1", get_release());
  EXPECT_EQ(0, qelt_setenv("ZUV_RELEASE", "7", 0));
  EXPECT_EQ(0, qelt_setenv("ZUV_RELEASE", "8", 0));
  EXPECT_STREQ("7", get_release());
}

}  // namespace
