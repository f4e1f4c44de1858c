// Dumps that stretch or break the loader: row and key length limits, missing
// members and domains, refused enumeration entries, overlong lines.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "dbc/dict/dd.h"
#include "dd_dump_writer.h"
#include "dbc/dd_test_env.h"
#include "dbc/log_capture.h"
#include "molvane/zdb.h"

namespace {

using molvane::test::LogCapture;
using molvane::test::DumpWriter;
using molvane::test::FixturePath;
using molvane::test::ScratchDir;
using molvane::test::UseDictionaryRoot;

class DdLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    DumpWriter domains;
    domains.Domain("qawide", "s").Keyword("CLEN", "6000");
    for (int len : {138, 139, 250, 251}) domains.Domain("qas" + std::to_string(len), "s").Keyword("CLEN", std::to_string(len));
    domains.Domain("qalong", "l");
    domains.Domain("qacomb", "c");
    domains.Domain("qaunkn", "x");
    domains.WriteTo(root_.path(), "dqa.pd");
    // A package whose dump lost a type line: the whole dump is refused.
    DumpWriter()
        .Domain("qbgood", "l")
        .Section('D', "qbnotype")
        .Keyword("NAME", "qbnotype")
        .Keyword("CLEN", "6")
        .WriteTo(root_.path(), "dqb.pd");
    UseDictionaryRoot(root_.path());
  }

  DD_TABLE *Load(const std::string &name, const DumpWriter &dump, size_t cut = 0) {
    const std::string &text = dump.Text();
    root_.WriteFile("dict/d" + name, text.substr(0, text.size() - std::min(cut, text.size())));
    zdb_errno = 0;
    reset_zdb_msg();
    return ddtable(name.c_str());
  }

  ScratchDir root_;
};

TEST_F(DdLimits, RowEndsAtMostAt6138) {
  DumpWriter fits;
  fits.Column("qarow010.aa", "qawide").Column("qarow010.bb", "qas138");
  DD_TABLE *t = Load("qarow010", fits);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->row_length, 6144);
  EXPECT_EQ(t->dlock_offset, 6138);

  DumpWriter over;
  over.Column("qarow020.aa", "qawide").Column("qarow020.bb", "qas139");
  EXPECT_EQ(Load("qarow020", over), nullptr);
  EXPECT_EQ(zdb_errno, 512);
}

TEST_F(DdLimits, KeyOfAtMost500Bytes) {
  DumpWriter fits;
  fits.Column("qakey010.aa", "qas250").Column("qakey010.bb", "qas250").Index(1, {"qakey010.aa", "qakey010.bb"});
  DD_TABLE *t = Load("qakey010", fits);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(_zdb_key_size(search_key_parts(t, 1)), 500);

  DumpWriter over;
  over.Column("qakey020.aa", "qas250").Column("qakey020.bb", "qas251").Index(1, {"qakey020.aa", "qakey020.bb"});
  EXPECT_EQ(Load("qakey020", over), nullptr);
  EXPECT_EQ(zdb_errno, 512);
}

TEST_F(DdLimits, TableWithoutIndexes) {
  DumpWriter dump;
  dump.Keyword("VERS", "1").Section('D', "skipped").Keyword("TEXT", "x").Column("qanix010.aa", "qalong");
  DD_TABLE *t = Load("qanix010", dump);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->key_count, 0);
  EXPECT_EQ(t->keys, nullptr);
  EXPECT_EQ(t->key_column, nullptr);
  EXPECT_EQ(t->column_count, 3);
  EXPECT_EQ(ddcolumn("qanix010._index1"), nullptr);
}

// Header lines cut down to their keyword (no blank, no value) carry an
// empty text; the table loads.
TEST_F(DdLimits, ShortHeaderLinesGiveEmptyTexts) {
  for (const char *line : {":RESD", ":RESU", ":R", ":"}) {
    const std::string name = "qahd" + std::to_string(std::strlen(line)) + "010";
    DumpWriter dump;
    dump.Raw(line).Column(name + ".aa", "qalong");
    DD_TABLE *t = Load(name, dump);
    ASSERT_NE(t, nullptr) << line;
    EXPECT_STREQ(t->header_d, "") << line;
    EXPECT_STREQ(t->header_u, "") << line;
  }
}

// Every damaged dump fails with 512, a message naming the file and the
// line, and leaves no table behind.
TEST_F(DdLimits, BrokenDumpsFailCleanlyAndLeaveNothing) {
  struct Case {
    const char *table;
    int err;
    DumpWriter dump;
    size_t cut = 0;  // bytes cut off the end
  };
  Case cases[] = {
      {"qamem010", 512, DumpWriter().Column("qamem010.aa", "qalong").Column("qamem010.cc").Keyword(
                            "COMB", DumpWriter::Names({"qamem010.aa", "qamem010.zz"}))},
      {"qapart10", 512, DumpWriter().Column("qapart10.aa", "qalong").Index(1, {"qapart10.zz"})},
      {"qadom010", 512, DumpWriter().Column("qadom010.aa", "zznone")},
      {"qanod010", 512, DumpWriter().Column("qanod010.aa", "qanothere")},
      {"qaord010", 512, DumpWriter().Index(1, {"qaord010.aa"}).Column("qaord010.aa", "qalong")},
      {"qbtyp010", 512, DumpWriter().Column("qbtyp010.aa", "qbgood")},
      {"qaunk010", 512, DumpWriter().Column("qaunk010.aa", "qaunkn")},
      {"qacut010", 512, DumpWriter().Column("qacut010.aa", "qalong").Index(1, {"qacut010.aa"}), 3},
      {"qaemp010", 512, DumpWriter()},
      {"qasec010", 512, DumpWriter().Column("qasec010.aa", "qalong").Section('L').Keyword("COLS",
                            DumpWriter::Names({"qasec010.aa"})).Index(1, {"qasec010.aa"})},
      {"qaunx010", 512, DumpWriter().Column("qaunx010.aa", "qalong").Section('X')},
      {"qatwa010", 512, DumpWriter().Column("qatwa010.aa", "qalong").Section('A').Section('A')},
      {"qanum010", 512, DumpWriter().Column("qanum010.aa", "qalong").Index(2, {"qanum010.aa"})},
      {"qakyl010", 512, DumpWriter().Column("qakyl010.aa", "qalong").Index(1, {"qakyl010.aa"}).Keyword(
                            "KEYL", "qakyl010.zz")},
      {"qacnt010", 512, DumpWriter().Column("qacnt010.Refcntu", "qalong").Column("qacnt010.aa", "qalong")},
      {"qagrp010", 512, DumpWriter().Column("qagrp010.aa", "qalong").Section('L').Keyword(
                            "COLS", DumpWriter::Names({"qagrp010.zz"}))},
      {"qanam010", 512, DumpWriter().Column("qaxxx010.aa", "qalong")},
      {"qadup010", 512, DumpWriter().Column("qadup010.aa", "qalong").Column("qadup010.aa", "qalong")},
      {"qaovr010", 512, DumpWriter().Column("qaovr010.aa", "qalong").Keyword("DEFT", std::string(9000, '1'))},
  };
  for (Case &c : cases) {
    EXPECT_EQ(Load(c.table, c.dump, c.cut), nullptr) << c.table;
    EXPECT_EQ(zdb_errno, c.err) << c.table;
    const std::string msg = get_zdb_msg() != nullptr ? get_zdb_msg() : "";
    EXPECT_NE(msg.find(std::string("/d") + c.table + ", line "), std::string::npos) << c.table << ": " << msg;
    EXPECT_EQ(ddtable_local(c.table), nullptr) << c.table;
    if (std::string(c.table) == "qbtyp010") {
      EXPECT_NE(msg.find("dqb.pd, line 4: domain qbnotype has no type line"), std::string::npos) << msg;
    }
  }
}

// The department dump cut short at every byte, also among its trailing
// referencing and compared columns (its header says it ends with ":END"):
// each cut fails with 512 and names the file and a line, never loads a
// partial table. The same dump without the end line and its version still
// loads, with a warning; an end line before the end fails.
TEST_F(DdLimits, CutDumpNeverLoads) {
  for (const char *file : {"dex.pd"})
    std::filesystem::copy_file(FixturePath(std::string("zuv/dict/") + file), root_.path() + "/dict/" + file);
  std::ifstream in(FixturePath("zuv/dict/dexdep010"), std::ios::binary);
  const std::string dump((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (size_t size = 0; size < dump.size(); ++size) {
    root_.WriteFile("dict/dexdep010", dump.substr(0, size));
    zdb_errno = 0;
    reset_zdb_msg();
    ASSERT_EQ(ddtable("exdep010"), nullptr) << "cut at " << size;
    EXPECT_EQ(zdb_errno, 512) << "cut at " << size;
    EXPECT_NE(std::string(get_zdb_msg()).find("dexdep010, line "), std::string::npos) << size;
  }
  const size_t end = dump.find(":END");
  ASSERT_NE(end, std::string::npos);
  root_.WriteFile("dict/dexdep010", dump.substr(0, end) + ":END\n:REFC exemp010.dcas    0cc\n");
  EXPECT_EQ(ddtable("exdep010"), nullptr);
  EXPECT_NE(std::string(get_zdb_msg()).find("end line ':END' before the end"), std::string::npos);
  std::string old_format = dump.substr(0, end);
  old_format.replace(old_format.find(":VERS 2"), 7, ":VERS 1");
  root_.WriteFile("dict/dexdep010", old_format);
  LogCapture log;
  EXPECT_NE(ddtable("exdep010"), nullptr) << zdb_errno;
  EXPECT_TRUE(log.Contains("dexdep010 has no end line ':END' (format version 1)"));
}

// Key parts and members belong to the table itself; another table's column
// is not found, and that table is not loaded for it.
TEST_F(DdLimits, ColumnsOfOtherTablesAreRefused) {
  DumpWriter other;
  other.Column("qaoth010.aa", "qalong");
  other.WriteTo(root_.path(), "dqaoth010");
  DumpWriter part;
  part.Column("qafor010.aa", "qalong").Index(1, {"qaoth010.aa"});
  EXPECT_EQ(Load("qafor010", part), nullptr);
  EXPECT_EQ(zdb_errno, 512);
  DumpWriter member;
  member.Column("qafor020.aa", "qalong").Column("qafor020.cc").Keyword("COMB", DumpWriter::Names({"qaoth010.aa"}));
  EXPECT_EQ(Load("qafor020", member), nullptr);
  EXPECT_EQ(ddtable_local("qaoth010"), nullptr);
}

TEST_F(DdLimits, CombinedMemberOfANestedCombined) {
  DumpWriter dump;
  dump.Column("qanst010.aa", "qalong")
      .Column("qanst010.bb", "qalong")
      .Column("qanst010.cc")
      .Keyword("COMB", DumpWriter::Names({"qanst010.dd", "qanst010.aa"}))
      .Column("qanst010.dd")
      .Keyword("COMB", DumpWriter::Names({"qanst010.bb"}))
      .Index(1, {"qanst010.cc"});
  DD_TABLE *t = Load("qanst010", dump);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(ddcolumn("qanst010.cc")->length, 8);
  EXPECT_EQ(ddcolumn("qanst010.cc")->offset, 4);
  DD_COLUMN *buf[DD_MAX_LIST + 1];
  list_all_columns(search_key_parts(t, 1), buf);
  EXPECT_EQ(buf[0], ddcolumn("qanst010.bb"));
  EXPECT_EQ(buf[1], ddcolumn("qanst010.aa"));
  EXPECT_EQ(buf[2], nullptr);

  DumpWriter cycle;
  cycle.Column("qacyc010.aa", "qalong")
      .Column("qacyc010.cc")
      .Keyword("COMB", DumpWriter::Names({"qacyc010.dd"}))
      .Column("qacyc010.dd")
      .Keyword("COMB", DumpWriter::Names({"qacyc010.cc"}));
  EXPECT_EQ(Load("qacyc010", cycle), nullptr);
}

// A column whose domain is of the combined type has no bytes and no members.
TEST_F(DdLimits, ColumnOfACombinedDomain) {
  DumpWriter dump;
  dump.Column("qacdm010.aa", "qalong").Column("qacdm010.cc", "qacomb").Column("qacdm010.dd", "qalong");
  DD_TABLE *t = Load("qacdm010", dump);
  ASSERT_NE(t, nullptr);
  DD_COLUMN *cc = ddcolumn("qacdm010.cc");
  ASSERT_NE(cc, nullptr);
  EXPECT_EQ(cc->type, DDT_COMBINED);
  EXPECT_EQ(cc->members, nullptr);
  EXPECT_EQ(cc->length, 0);
  EXPECT_EQ(ddcolumn("qacdm010.dd")->offset, 4);
  DD_COLUMN *buf[DD_MAX_LIST + 1];
  EXPECT_EQ(get_nr_columns(list_column_columns(cc, buf)), 0);
  DD_COLUMN *list[] = {ddcolumn("qacdm010.aa"), cc, nullptr};
  unsigned char row[16] = {0, 0, 0, 9}, packed[16];
  EXPECT_EQ(zdb_extract_cols(packed, row, list), packed + 4);
  EXPECT_EQ(_zdb_key_size(list), 4);
}

// A client field after the last stored column keeps its bytes: _dlock and
// _compnr follow it instead of lying over it.
TEST_F(DdLimits, NotStoredLastColumnLiesBeforeDlock) {
  DumpWriter dump;
  dump.Column("qacli010.aa", "qalong").Column("qacli010.zz", "qalong").Keyword("DBNO", "1");
  DD_TABLE *t = Load("qacli010", dump);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(ddcolumn("qacli010.zz")->offset, 4);
  EXPECT_EQ(t->dlock_offset, 8);
  EXPECT_EQ(t->row_length, 14);
  EXPECT_EQ(ddcolumn("qacli010._compnr")->offset, 12);
}

TEST(DdDomainDump, RefusedEntriesAndMissingPackage) {
  ScratchDir root;
  DumpWriter d;
  d.Domain("qqset", "p2").Keyword("BLCK", "3").Raw(" 001one~One").Raw(" 032top~Top").Raw(" 033over~Over");
  d.Domain("qqenum", "e2").Keyword("BLCK", "2").Raw(" 255max~Max").Raw(" 256big~Big");
  d.Domain("qqrange", "l").Keyword("RANG", "");
  d.Domain("qqbad", "l").Keyword("RANG", "1 .. +");
  d.WriteTo(root.path(), "dqq.pd");
  UseDictionaryRoot(root.path());
  DD_DOMAIN *set = dddomain_with_read("qqset");
  ASSERT_NE(set, nullptr);
  ASSERT_EQ(set->enums->count, 2);
  EXPECT_EQ(set->enums->entries[1].value, INT32_MIN);
  int32_t min = 1, max = 0;
  get_enum_minmax(set, &min, &max);
  EXPECT_EQ(min, 0);
  EXPECT_EQ(max, static_cast<int32_t>(0x80000001u));
  DD_DOMAIN *e = dddomain("qqenum");
  ASSERT_EQ(e->enums->count, 1);
  EXPECT_EQ(e->enums->entries[0].value, 255);
  EXPECT_EQ(dddomain("qqrange")->range, nullptr);
  ASSERT_NE(dddomain("qqbad"), nullptr);  // an invalid range is logged, the domain stays
  EXPECT_EQ(dddomain("qqbad")->range, nullptr);

  // A package without a dump is remembered as empty.
  EXPECT_EQ(dddomain_with_read("zzany"), nullptr);
  ASSERT_NE(dddomain_list("zz"), nullptr);
  EXPECT_EQ(dddomain_list("zz")->count, 0);
}

// The type line leaves the length of texts and raw domains to the "CL" line,
// whichever comes first.
TEST(DdDomainDump, LengthLineBeforeTypeLine) {
  ScratchDir root;
  DumpWriter d;
  for (const char *type : {"s", "m", "r"}) {
    const std::string name = std::string("qrcl") + type;
    d.Section('D', name).Keyword("NAME", name).Keyword("CLEN", "12").Keyword("TYPE", type);
  }
  d.Section('D', "qrclx").Keyword("NAME", "qrclx").Keyword("CLEN", "12").Keyword("TYPE", "x");
  d.Section('D', "qrcll").Keyword("NAME", "qrcll").Keyword("CLEN", "12").Keyword("TYPE", "l");
  d.WriteTo(root.path(), "dqr.pd");
  UseDictionaryRoot(root.path());
  for (const char *name : {"qrcls", "qrclm", "qrclr"}) {
    DD_DOMAIN *dom = dddomain_with_read(name);
    ASSERT_NE(dom, nullptr) << name;
    EXPECT_EQ(dom->length, 12) << name;
  }
  EXPECT_EQ(dddomain("qrclx")->type, 0);
  EXPECT_EQ(dddomain("qrclx")->length, 0);
  EXPECT_EQ(dddomain("qrcll")->length, 4);
}

TEST(DdDomainDump, OverlongLineFailsTheDump) {
  ScratchDir root;
  DumpWriter d;
  d.Domain("qqok", "l").Keyword("L", std::string(8200, 'x'));
  d.WriteTo(root.path(), "dqq.pd");
  UseDictionaryRoot(root.path());
  EXPECT_EQ(dddomain_with_read("qqok"), nullptr);
}

}  // namespace
