#include "support/vt_trace.h"

#include <gtest/gtest.h>

#include <sstream>

#include "sql/common/sql_logger.h"
#include "sql/validate/vt_node.h"

namespace molvane::test {

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

}  // namespace molvane::test
