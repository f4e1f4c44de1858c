// Enumerated and set domains of the fixture dictionary.
#include <gtest/gtest.h>

#include <cstring>

#include "dbc/dict/dd.h"
#include "dd_dump_writer.h"
#include "dbc/dd_test_env.h"

namespace {

using molvane::test::DumpWriter;
using molvane::test::ScratchDir;
using molvane::test::UseDictionaryRoot;
using molvane::test::UseFixtureDictionary;

TEST(DdEnum, EntriesInTwoLanguages) {
  UseFixtureDictionary();
  DD_DOMAIN *d = dddomain_with_read("exstatus");
  ASSERT_NE(d, nullptr);
  DD_ENUM_DEF *en = get_enum_def(d, '2');
  DD_ENUM_DEF *de = get_enum_def(d, '3');
  ASSERT_NE(en, nullptr);
  ASSERT_NE(de, nullptr);
  EXPECT_EQ(get_enum_def(d, '9'), nullptr);
  ASSERT_EQ(en->count, 3);
  EXPECT_STREQ(en->entries[2].keyword, "on~hold");
  EXPECT_EQ(en->entries[2].keyword, de->entries[2].keyword);
  EXPECT_STREQ(de->entries[1].descr, "Geschlossen");
  EXPECT_EQ(de->max_descr_len, 11);
  EXPECT_EQ(enum_keyw_const(d, "closed"), 2);
  EXPECT_EQ(enum_keyw_const(d, "close"), 0);
  int32_t min = 0, max = 0;
  get_enum_minmax(d, &min, &max);
  EXPECT_EQ(min, 1);
  EXPECT_EQ(max, 3);
  char buf[64];
  EXPECT_STREQ(get_enum_descr(d, 3, '3', buf, sizeof buf), "Ruht");
  EXPECT_STREQ(get_enum_descr(d, 3, -1, buf, sizeof buf), "On hold");
  EXPECT_EQ(get_enum_descr(d, 9, '2', buf, sizeof buf), nullptr);
  int32_t v = 0;
  EXPECT_EQ(get_enum_const(d, "clo", '2', DD_ENUM_ABBREV, &v), 0);
  EXPECT_EQ(v, 2);
  EXPECT_EQ(get_enum_const(d, "ACTIVE", '2', DD_ENUM_NOCASE, &v), 0);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(get_enum_const(d, "Ruht", '3', DD_ENUM_DESCR, &v), 0);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(get_enum_const(d, "c", '2', 0, &v), -1);
}

TEST(DdEnum, SetDomainBits) {
  UseFixtureDictionary();
  DD_DOMAIN *d = dddomain_with_read("exopts");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(enum_keyw_const(d, "visit"), 4);
  int32_t v = 0;
  EXPECT_EQ(get_enum_const(d, "mail/visit", '2', 0, &v), 0);
  EXPECT_EQ(v, 5);
  EXPECT_EQ(get_enum_const(d, "mail/nope", '2', 0, &v), -1);
  char buf[64];
  EXPECT_STREQ(get_enum_descr(d, 6, '3', buf, sizeof buf), "Telefon/Besuch");
  int32_t max = 0;
  get_enum_minmax(d, nullptr, &max);
  EXPECT_EQ(max, 7);
}

TEST(DdEnum, DomainKeywordTexts) {
  UseFixtureDictionary();
  ASSERT_NE(dddomain_with_read("exstatus"), nullptr);
  long v = 0;
  EXPECT_EQ(dddomain_from_enum_keyw("exstatus.closed", &v), dddomain("exstatus"));
  EXPECT_EQ(v, 2);
  EXPECT_EQ(dddomain_from_enum_keyw("exopts.phone", &v), dddomain("exopts"));
  EXPECT_EQ(v, 2);
  EXPECT_EQ(dddomain_from_enum_keyw("exstatus", &v), nullptr);
  EXPECT_EQ(dddomain_from_enum_keyw("exstatus.nothing", &v), nullptr);
  EXPECT_EQ(dddomain_from_enum_keyw("excode.closed", &v), nullptr);  // not an enumeration
  EXPECT_EQ(dddomain_from_enum_keyw("exstatus.x", nullptr), dddomain("exstatus"));
  EXPECT_EQ(dddomain_from_enum_keyw(std::string(600, 'a').c_str(), &v), nullptr);
}

// Domain names may hold points: the longest domain name is tried first.
TEST(DdEnum, DomainKeywordTriesLongestDomainFirst) {
  ScratchDir root;
  DumpWriter d;
  d.Domain("qqa", "e2").Keyword("BLCK", "2").Raw(" 001b.c~Long key").Raw(" 002x.c~Other");
  d.Domain("qqa.b", "e2").Keyword("BLCK", "1").Raw(" 007c~Short key");
  d.WriteTo(root.path(), "dqq.pd");
  UseDictionaryRoot(root.path());
  ASSERT_NE(dddomain_with_read("qqa"), nullptr);
  long v = 0;
  EXPECT_EQ(dddomain_from_enum_keyw("qqa.b.c", &v), dddomain("qqa.b"));
  EXPECT_EQ(v, 7);
  EXPECT_EQ(dddomain_from_enum_keyw("qqa.x.c", &v), dddomain("qqa"));
  EXPECT_EQ(v, 2);
}

// The type line names the languages the entries are read for. A second type
// line after entries would leave them with too few descriptions: the dump is
// refused. Before any entry it simply replaces the first.
TEST(DdEnum, TypeLineAfterEntriesRefusesTheDump) {
  ScratchDir root;
  DumpWriter d;
  d.Domain("zzx", "e2").Keyword("BLCK", "1").Raw(" 001a~A").Keyword("TYPE", "e234");
  d.WriteTo(root.path(), "dzz.pd");
  UseDictionaryRoot(root.path());
  EXPECT_EQ(dddomain_with_read("zzx"), nullptr);

  ScratchDir again;
  DumpWriter ok;
  ok.Domain("zyy", "e2").Keyword("TYPE", "e23").Keyword("BLCK", "1").Raw(" 001a~A~B");
  ok.WriteTo(again.path(), "dzy.pd");
  UseDictionaryRoot(again.path());
  DD_DOMAIN *dom = dddomain_with_read("zyy");
  ASSERT_NE(dom, nullptr);
  ASSERT_NE(get_enum_def(dom, '3'), nullptr);
  EXPECT_STREQ(get_enum_def(dom, '3')->entries[0].descr, "B");
}

}  // namespace
