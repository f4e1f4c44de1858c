// The SQL scanner: the input is a statement text, scanned to its end in the
// classic and the ANSI mode; quoted tokens are unquoted as the parser does.
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "sql/common/sql_exception.h"
#include "sql/front/parse_mode.h"
#include "sql/front/sql_scanner.h"
#include "sql/front/sql_tokens.h"

namespace {

void Scan(const std::string &text, int mode) {
  SQLParseSetMode(mode);
  sql_yySetLexBuffer(text.c_str());
  try {
    // Every token consumes at least one byte, so the scan ends.
    for (std::size_t n = 0; n <= text.size() + 1; ++n) {
      const int token = sql_yylex();
      if (token == sqltoken::kEnd) return;
      if (sql_yyleng < 0 || static_cast<std::size_t>(sql_yyleng) > text.size()) std::abort();
      if (token == sqltoken::kStringLiteral || token == sqltoken::kDelimitedIdentifier ||
          token == sqltoken::kQuotedCompanyColumn)
        SQLUnquote(sql_yytext);
    }
    std::abort();  // more tokens than bytes
  } catch (SQLException const &) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(molvane::fuzz::AsText(data, size));
  Scan(text.c_str(), 0);
  Scan(text.c_str(), parsemode::kAnsi);
  return 0;
}
