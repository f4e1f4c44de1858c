#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <molvane/platform.h>

#include "dbc/compnr/compnr.h"
#include "dbc/session/dbc_settings.h"
#include <molvane/zdb.h>
#include "ipc/stream.h"
#include "platform/shm.h"
#include "support/log_capture.h"
#include "support/test_env.h"

using molvane::test::FixturePath;
using molvane::test::LogCapture;

namespace {

class CompanyMapping : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, set_zuv(FixturePath("compnr").c_str())); }
};

// The pairs of a map as "logical->physical" in the order added.
std::vector<std::string> Pairs(const COMPNR_MAP *map) {
  std::vector<std::string> out;
  if (const COMPNR_PAIRS *pairs = map->pairs.get()) {
    for (int i = 0; i < pairs->count; ++i) {
      out.push_back(std::to_string(pairs->pairs.get()[i].logical) + "->" +
                    std::to_string(pairs->pairs.get()[i].physical));
    }
  }
  return out;
}

using Strings = std::vector<std::string>;

TEST_F(CompanyMapping, LongestSpecWinsAndInheritsNonConflictingPairs) {
  EXPECT_EQ((Strings{"200->400", "5->5", "300->100"}), Pairs(compnrGetCompnrData("xaabc001")));
  EXPECT_EQ((Strings{"200->100", "300->100"}), Pairs(compnrGetCompnrData("xadef001")));
  EXPECT_EQ((Strings{"700->600", "300->100", "5->5", "200->400"}),
            Pairs(compnrGetCompnrData("xaabcdef")));
  EXPECT_TRUE(Pairs(compnrGetCompnrData("qqqqq001")).empty());
  EXPECT_EQ(kCompnrMapMark, compnrGetCompnrData("qqqqq001")->mark);
}

TEST_F(CompanyMapping, LogicalNumbersMapToPhysicalOnes) {
  const COMPNR_MAP *map = compnrGetCompnrData("xaabc001");
  EXPECT_EQ(400, compnrLogicToPhysic(map, 200));
  EXPECT_EQ(100, compnrLogicToPhysic(map, 300));
  EXPECT_EQ(5, compnrLogicToPhysic(map, 5));
  EXPECT_EQ(17, compnrLogicToPhysic(map, 17));
  EXPECT_EQ(-2, compnrLogicToPhysic(nullptr, 17));
  EXPECT_EQ(1, compnrIsPhysic(map, 5));
  EXPECT_EQ(1, compnrIsPhysic(map, 400));
  EXPECT_EQ(0, compnrIsPhysic(map, 200));

  const uint16_t *list = nullptr;
  ASSERT_EQ(2, compnrGetLogicCompnrs(compnrGetCompnrData("xadef001"), 100, &list));
  EXPECT_EQ(200, list[0]);
  EXPECT_EQ(300, list[1]);
  // A company mapped to itself has no alias entry.
  EXPECT_EQ(0, compnrGetLogicCompnrs(map, 5, &list));
  EXPECT_EQ(nullptr, list);
}

TEST_F(CompanyMapping, EnvironmentStringNamesRootHostAndFileTime) {
  std::string env = compnrGetEnv();
  std::string prefix = FixturePath("compnr") + "@";
  ASSERT_EQ(0u, env.find(prefix)) << env;
  // "yymmdd hh:mm:ss" after the blank that follows the host name.
  std::string time = env.substr(env.rfind(' ', env.size() - 10) + 1);
  ASSERT_EQ(15u, time.size()) << env;
  EXPECT_EQ(' ', time[6]);
  EXPECT_EQ(':', time[9]);
}

TEST(CompanyMappingFile, MissingFileGivesNoMappingAndNoTime) {
  molvane::test::ScratchDir root;
  ASSERT_EQ(0, set_zuv(root.path().c_str()));
  std::string env = compnrGetEnv();
  EXPECT_EQ(" no-time", env.substr(env.size() - 8)) << env;
  EXPECT_EQ(17, compnrLogicToPhysic(compnrGetCompnrData("xaabc001"), 17));
  EXPECT_EQ(-1, compnrInit(env.c_str()));
}

TEST(CompanyMappingFile, InconsistentFileIsIgnoredAsAWhole) {
  ASSERT_EQ(0, set_zuv(FixturePath("compnr_conflict").c_str()));
  LogCapture log;
  const COMPNR_MAP *map = compnrGetCompnrData("ppxyz001");
  EXPECT_EQ(200, compnrLogicToPhysic(map, 200));
  ASSERT_FALSE(log.messages().empty());
  const std::string &block = log.messages().back().text;
  EXPECT_EQ("Inconsistent company mapping", log.messages().back().keyword);
  EXPECT_NE(std::string::npos, block.find("Company mapping $ZUV/lib/compnr1 will be ignored.")) << block;
  EXPECT_NE(std::string::npos, block.find("pp:300:200 (phys = 300, log = 200):")) << block;
  EXPECT_NE(std::string::npos,
            block.find("logical company number already mapped to another physical company."))
      << block;
}

struct PairCase {
  const char *file;
  const char *reason;
};

class CompanyMappingConflicts : public ::testing::TestWithParam<PairCase> {};

TEST_P(CompanyMappingConflicts, EachRuleRefusesTheFile) {
  molvane::test::ScratchDir root;
  root.WriteFile("lib/compnr1", GetParam().file);
  ASSERT_EQ(0, set_zuv(root.path().c_str()));
  LogCapture log;
  const COMPNR_MAP *map = compnrGetCompnrData("ppxyz001");
  EXPECT_TRUE(Pairs(map).empty());
  ASSERT_FALSE(log.messages().empty());
  EXPECT_NE(std::string::npos, log.messages().back().text.find(GetParam().reason)) << log.Dump();
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CompanyMappingConflicts,
    ::testing::Values(
        PairCase{"pp:100:200\npp:300:200\n", "already mapped to another physical company"},
        PairCase{"pp:100:200\npp:300:100\n", "logical company number already used as a physical company"},
        PairCase{"pp:100:200\npp:200:300\n", "physical company number already used as a logical company"}));

TEST_F(CompanyMapping, SendCompnrPayloadIsExact) {
  STREAM *out = stream_open_bytes(nullptr, 0, "w");
  ASSERT_NE(nullptr, out);
  ASSERT_EQ(0, dbc_send_compnrs(out));
  size_t size = 0;
  const unsigned char *bytes = stream_bytes(out, &size);
  std::string env = compnrGetEnv();
  ASSERT_GT(size, env.size() + 1);
  EXPECT_EQ(0, std::memcmp(bytes, env.c_str(), env.size() + 1));
  // Specs newest first; for each spec its physical entries newest first.
  const unsigned char expected[] = {
      0, 0, 0, 4,                                    // four specs
      'z', 'z', 0, 0, 0, 0, 0,                       // zz: no entries
      'x', 'a', 'a', 'b', 'c', 'd', 'e', 'f', 0, 0, 0, 0, 3,
      0x01, 0x90, 0, 1, 0x00, 0xC8,                  // 400: 200
      0x00, 0x64, 0, 1, 0x01, 0x2C,                  // 100: 300
      0x02, 0x58, 0, 1, 0x02, 0xBC,                  // 600: 700
      'x', 'a', 'a', 'b', 'c', 0, 0, 0, 0, 2,
      0x00, 0x64, 0, 1, 0x01, 0x2C,                  // 100: 300
      0x01, 0x90, 0, 1, 0x00, 0xC8,                  // 400: 200
      'x', 'a', 0, 0, 0, 0, 1,
      0x00, 0x64, 0, 2, 0x00, 0xC8, 0x01, 0x2C,      // 100: 200, 300
  };
  std::vector<unsigned char> payload(bytes + env.size() + 1, bytes + size);
  EXPECT_EQ(std::vector<unsigned char>(expected, expected + sizeof expected), payload);
  sclose(out);
}

TEST_F(CompanyMapping, ParsedMappingIsCopiedIntoTheSharedSegment) {
  dbc_set_resources();  // use_shm_info defaults to 1
  std::string env = compnrGetEnv();
  EXPECT_EQ(0, compnrInit(env.c_str()));
  const COMPNR_MAP *map = compnrGetCompnrData("xaabc001");
  SHM_HEADER *header = shm_header();
  ASSERT_NE(nullptr, header);
  auto base = reinterpret_cast<uintptr_t>(header);
  auto at = reinterpret_cast<uintptr_t>(map);
  EXPECT_TRUE(at > base && at < base + header->size);
  EXPECT_EQ(400, compnrLogicToPhysic(map, 200));
  EXPECT_NE(0u, header->compnr_root);
}

}  // namespace
