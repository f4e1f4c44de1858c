// The parser's error routine: what a syntax error says. The token at hand,
// or the end of the text; for the first word of a statement the dialect
// leaves to the record API, for a SET value and for the words of other
// dialects (LIMIT, FOR UPDATE after the query), also what to write instead.
#include <strings.h>

#include <string>

#include "sql/common/sql_exception.h"
#include "sql/front/parse_state.h"
#include "sql/front/sql_parse.h"
#include "sql/front/sql_scanner.h"
#include "sql/front/sql_tokens.h"
#include "sql/front/syntax_state.h"

namespace {

// The statements the dialect leaves to the record API, by their first word.
bool IsRecordApiStatement(char const *word) {
  for (char const *own : {"INSERT", "CREATE", "DROP", "ALTER"}) {
    if (strcasecmp(word, own) == 0) return true;
  }
  return false;
}

// What the dialect offers for a word of other dialects at a syntax error
// (`token` the token the parser could not take), or "" for any other
// token. LIMIT after a table is taken for the table's alias, so the error
// comes at the token after it.
std::string OtherDialectForm(char const *token) {
  SQLParseState const &s = SQLParseCurrent();
  static constexpr char kLimit[] =
      ": this SQL has no LIMIT; a SELECT limits its rows with AS SET WITH n ROWS after its ORDER BY "
      "(SELECT emp FROM exemp010 ORDER BY emp AS SET WITH 10 ROWS; n may be a host variable), or "
      "the host stops fetching and calls sql_break";
  if (s.token == sqltoken::kIdentifier && strcasecmp(token, "LIMIT") == 0) {
    return std::string("Unexpected token '") + token + "'" + kLimit;
  }
  if (strcasecmp(s.wordBefore.c_str(), "LIMIT") == 0) {
    return std::string("Unexpected token '") + token + "' after " + s.wordBefore + kLimit;
  }
  if (s.token == sqltoken::kFor) {
    return std::string("Unexpected token '") + token +
           "': FOR UPDATE stands right after SELECT (SELECT FOR UPDATE emp, name FROM exemp010 "
           "...: every table of the query is read for update) or after a table of the FROM "
           "clause (FROM exemp010 e FOR UPDATE, exdep010 d), not at the end of the statement";
  }
  return std::string();
}

}  // namespace

void sql_yyerror(const char *) {
  SQLParseState const &s = SQLParseCurrent();
  char const *token = sql_yyGetToken();
  if (*token) {
    std::string form = OtherDialectForm(token);
    if (!form.empty()) {
      throw SQLExSyntaxError(syntaxstate::kUnexpectedToken, SQLString(form.c_str()),
                             sql_yyGetLineNumber());
    }
  }
  if (*token && s.tokens == 1 && IsRecordApiStatement(token)) {
    throw SQLExSyntaxError(syntaxstate::kUnexpectedToken,
                           SQLString(token) +
                               SQLString(" is not supported: SQL here only reads (SELECT), updates "
                                         "(UPDATE) and deletes (DELETE) rows; use the record API "
                                         "(zdb_exec_row, zdb_exec_table) to insert rows and to "
                                         "create, drop or alter tables"),
                           sql_yyGetLineNumber());
  }
  if (!s.setColumn.empty()) {
    throw SQLExSyntaxError(
        *token ? syntaxstate::kUnexpectedToken : syntaxstate::kUnexpectedEnd,
        SQLString(*token ? "Unexpected token '" : "Unexpected end of statement") + SQLString(token) +
            SQLString(*token ? "'" : "") + SQLString(" in the value of column '") +
            SQLString(s.setColumn.c_str()) +
            SQLString("': only constants and host variables may be assigned in SET; compute "
                      "the value in the host and bind it to a host variable (SET col = :value)"),
        sql_yyGetLineNumber());
  }
  if (*token) {
    throw SQLExSyntaxError(syntaxstate::kUnexpectedToken,
                           SQLString("Unexpected token '") + SQLString(token) + SQLString("'"),
                           sql_yyGetLineNumber());
  }
  throw SQLExSyntaxError(syntaxstate::kUnexpectedEnd, SQLString("Unexpected end of statement"),
                         sql_yyGetLineNumber());
}
