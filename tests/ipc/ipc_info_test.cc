// The lib/ipc_info table: which line applies, how words, quotes and
// variables are read, and which lines are refused.
#include "ipc/ipc_info.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>

#include "ipc_test_util.h"

using molvane::ipc::IpcForm;
using molvane::ipc::IpcInfoEntry;
using molvane::ipc::ipc_info_parse;

namespace {

struct GoodCase {
  const char *title;
  const char *text;
  const char *name;
  IpcForm form;
  const char *target;
  std::vector<std::string> args;
  int line;
};

const GoodCase kGood[] = {
    {"NoTableMeansChildOfSameName", "", "drv", IpcForm::kChild, "drv", {}, 0},
    {"UnlistedNameMeansDefault", "other child x\n", "drv", IpcForm::kChild, "drv", {}, 0},
    {"ExactLineBeatsEarlierWildcard", "* tcp 9000\ndrv unix /s\n", "drv", IpcForm::kUnix, "/s", {},
     2},
    {"WildcardForUnlisted", "x child y\n*  tcp  localhost:9000\n", "drv", IpcForm::kTcp,
     "localhost:9000", {}, 2},
    {"FirstMatchingLineWins", "drv child a\ndrv child b\n", "drv", IpcForm::kChild, "a", {}, 1},
    {"CommentsBlanksAndTabs", "# header\n\n  \t\ndrv\tlibrary\t/l.so  -x # trailing\n", "drv",
     IpcForm::kLibrary, "/l.so", {"-x"}, 4},
    {"QuotesGroupAndEscape", "drv child b \"a b\" \"q\\\"x\\\\\" \"\" pre\"mid\"post\n", "drv",
     IpcForm::kChild, "b", {"a b", "q\"x\\", "", "premidpost"}, 1},
    {"CarriageReturnIgnored", "drv child b arg\r\n", "drv", IpcForm::kChild, "b", {"arg"}, 1},
    {"DollarWithoutBraceIsLiteral", "drv child b $HOME a$ $\n", "drv", IpcForm::kChild, "b",
     {"$HOME", "a$", "$"}, 1},
    {"Ipv6Loopback", "drv tcp [::1]:65535\n", "drv", IpcForm::kTcp, "[::1]:65535", {}, 1},
    {"TcpWithSecretFile", "drv tcp 7411 run/main.db.secret\n", "drv", IpcForm::kTcp, "7411",
     {"run/main.db.secret"}, 1},
    {"NamesAreCaseSensitive", "DRV tcp 1\n", "drv", IpcForm::kChild, "drv", {}, 0},
    {"OtherLinesMayNameUnsetVariables", "x child ${IPC_TEST_SURELY_UNSET}\ndrv tcp 1\n", "drv",
     IpcForm::kTcp, "1", {}, 2},
    {"ExactLineAfterUnresolvableWildcard", "* tcp ${IPC_TEST_SURELY_UNSET}\ndrv tcp 2\n", "drv",
     IpcForm::kTcp, "2", {}, 2},
};

class IpcInfoGood : public ::testing::TestWithParam<GoodCase> {};

TEST_P(IpcInfoGood, ResolvesEntry) {
  const GoodCase &c = GetParam();
  IpcInfoEntry e;
  ASSERT_EQ(ipc_info_parse(c.text, "test", c.name, &e), 0);
  EXPECT_EQ(e.form, c.form);
  EXPECT_EQ(e.target, c.target);
  EXPECT_EQ(e.args, c.args);
  EXPECT_EQ(e.line, c.line);
}

INSTANTIATE_TEST_SUITE_P(Lines, IpcInfoGood, ::testing::ValuesIn(kGood),
                         [](const auto &info) { return std::string(info.param.title); });

struct BadCase {
  const char *title;
  const char *text;
  const char *message;  // part of the log line
};

const BadCase kBad[] = {
    {"NameWithoutForm", "drv\n", "line 1: a driver name needs a form"},
    {"UnknownForm", "ok child x\ndrv pipe x\n", "line 2: unknown form \"pipe\""},
    {"MissingTarget", "drv child\n", "needs a target"},
    {"EmptyTarget", "drv library \"\"\n", "needs a target"},
    {"UnterminatedQuote", "drv child \"x\n", "unterminated quote"},
    {"UnterminatedVariable", "drv child ${ZUV\n", "unterminated"},
    {"UnsetVariable", "drv child ${IPC_TEST_SURELY_UNSET}\n", "\"IPC_TEST_SURELY_UNSET\" is not set"},
    {"EmptyVariableName", "drv child ${}\n", "is not set"},
    {"ServerWithArguments", "drv unix /s extra\n", "takes no arguments"},
    {"TcpWithTwoArguments", "drv tcp 1 secret extra\n", "takes one argument"},
    {"TcpRemoteHost", "drv tcp example.com:80\n", "not a loopback port"},
    {"TcpPortZero", "drv tcp 0\n", "not a loopback port"},
    {"TcpPortTooLarge", "drv tcp 65536\n", "not a loopback port"},
    {"TcpPortNotNumber", "drv tcp 80a\n", "not a loopback port"},
    {"UnixPathTooLong", nullptr, "socket path longer than"},
    {"TooManyArguments", nullptr, "more than 64 arguments"},
    {"LineTooLong", nullptr, "line longer than 4095 bytes"},
    {"BadLineAfterMatch", "drv child x\nzzz\n", "line 2"},
    {"UnsetVariableInWildcardUsed", "x tcp 1\n* child ${IPC_TEST_SURELY_UNSET}\n",
     "line 2: variable"},
};

std::string BadText(const BadCase &c) {
  if (c.text != nullptr) return c.text;
  std::string t(c.title);
  if (t == "UnixPathTooLong") return "drv unix /" + std::string(200, 'p') + "\n";
  if (t == "TooManyArguments") {
    std::string line = "drv child x";
    for (int i = 0; i < 65; ++i) line += " a";
    return line + "\n";
  }
  return "drv child " + std::string(5000, 'x') + "\n";
}

class IpcInfoBad : public ::testing::TestWithParam<BadCase> {};

TEST_P(IpcInfoBad, RefusedWithLineNumberInLog) {
  ipc_test::ScratchRoot root;
  ipc_test::LogCatcher log;
  IpcInfoEntry e;
  errno = 0;
  EXPECT_EQ(ipc_info_parse(BadText(GetParam()), "lib/ipc_info", "drv", &e), -1);
  EXPECT_EQ(errno, EINVAL);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find(GetParam().message), std::string::npos) << log.lines()[0];
  EXPECT_NE(log.lines()[0].find("lib/ipc_info line "), std::string::npos) << log.lines()[0];
}

INSTANTIATE_TEST_SUITE_P(Lines, IpcInfoBad, ::testing::ValuesIn(kBad),
                         [](const auto &info) { return std::string(info.param.title); });

TEST(IpcInfoVariables, RootAndEnvironmentExpandInTargetAndArguments) {
  ipc_test::ScratchRoot root;
  setenv("IPC_TEST_VALUE", "v a l", 1);
  IpcInfoEntry e;
  ASSERT_EQ(ipc_info_parse("drv child ${ZUV}/bin/d x${IPC_TEST_VALUE}y \"${ZUV}\"\n", "t", "drv",
                           &e),
            0);
  EXPECT_EQ(e.target, root.path() + "/bin/d");
  EXPECT_EQ(e.args, (std::vector<std::string>{"xv a ly", root.path()}));
  unsetenv("IPC_TEST_VALUE");
}

TEST(IpcInfoLookup, ReadsTableUnderRoot) {
  ipc_test::ScratchRoot root;
  IpcInfoEntry e;
  ASSERT_EQ(molvane::ipc::ipc_info_lookup("drv", &e), 0);  // no file: the default
  EXPECT_EQ(e.target, "drv");
  root.WriteIpcInfo("drv tcp 4000\n");
  ASSERT_EQ(molvane::ipc::ipc_info_lookup("drv", &e), 0);
  EXPECT_EQ(e.form, IpcForm::kTcp);
  EXPECT_EQ(molvane::ipc::ipc_info_path(), root.path() + "/lib/ipc_info");
  root.WriteIpcInfo(std::string(molvane::ipc::kIpcInfoMaxFile + 1, '#'));
  errno = 0;
  EXPECT_EQ(molvane::ipc::ipc_info_lookup("drv", &e), -1);
  EXPECT_EQ(errno, EFBIG);
}

}  // namespace
