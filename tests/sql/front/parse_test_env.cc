#include "parse_test_env.h"

#include <cstdlib>
#include <sstream>

#include "dbc/dd.h"
#include "sql/common/sql_logger.h"
#include "sql/front/sql_parse.h"
#include "support/test_env.h"

namespace molvane::test {

void ParseTest::SetUp() {
  static ScratchDir zuv;
  setenv("ZUV", zuv.path().c_str(), 1);
  setenv("F_ZRDD", FixturePath("zuv/dict").c_str(), 1);
  setenv("TZ", "UTC", 1);
  init_local_dd();
  treeData_ = std::make_unique<SQLVTreeData>();
}

void ParseTest::TearDown() { SQLLogger::Instance()->SetLogFlags(0); }

std::unique_ptr<SQLVTNode> ParseTest::Parse(std::string const &text, int mode) {
  return std::unique_ptr<SQLVTNode>(SQLParse(text.c_str(), mode, treeData_.get()));
}

namespace {

// Replaces the digits after each occurrence of key by '#'.
std::string HideNumbers(std::string const &text, std::string const &key) {
  std::string out;
  size_t at = 0;
  for (size_t found; (found = text.find(key, at)) != std::string::npos;) {
    size_t end = found + key.size();
    out.append(text, at, end - at);
    size_t digits = end;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits > end) out += '#';
    at = digits;
  }
  out.append(text, at, std::string::npos);
  return out;
}

// Drops the column lists of the schemas: a table shows "Schema: <name>".
std::string HideSchemas(std::string const &text) {
  std::istringstream in(text);
  std::string out, line, skipUntil;
  while (std::getline(in, line)) {
    if (!skipUntil.empty()) {
      if (line == skipUntil) skipUntil.clear();
      continue;
    }
    size_t at = line.find("Schema: Schema(");
    if (at != std::string::npos) {
      skipUntil = std::string(at, ' ') + ")";
      line = line.substr(0, at) + "Schema: ...";
    }
    out += line + "\n";
  }
  return out;
}

}  // namespace

std::string Normalise(std::string const &trace) {
  std::string out = HideSchemas(trace);
  for (char const *key : {"Id: ", "id=", "ParameterId: ", "Ref: "}) out = HideNumbers(out, key);
  return out;
}

std::string TraceOf(SQLVTNode const *node) {
  SQLLogger *log = SQLLogger::Instance();
  long flags = log->GetLogFlags();
  log->SetLogFlags(SQLLogger::Tree::Vt);
  log->ResetIndent();
  testing::internal::CaptureStderr();
  node->Log();
  std::string out = testing::internal::GetCapturedStderr();
  log->SetLogFlags(flags);
  return Normalise(out);
}

std::string ParseTest::Trace(std::string const &text, int mode) {
  auto tree = Parse(text, mode);
  return TraceOf(tree.get());
}

void ParseTest::ExpectError(std::string const &text, int mode, char const *state, std::string const &message,
                            int line) {
  try {
    auto tree = Parse(text, mode);
    ADD_FAILURE() << "no error for: " << text;
  } catch (SQLExSyntaxError const &e) {
    EXPECT_STREQ(e.GetSQLState(), state) << text;
    EXPECT_EQ(std::string(e.GetMessageText()->GetString()), message) << text;
    EXPECT_EQ(e.GetLineNumber(), line) << text;
  }
}

}  // namespace molvane::test
