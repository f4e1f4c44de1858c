// The parser's error routine: what a syntax error says. The token at hand,
// or the end of the text; for the first word of a statement the dialect
// leaves to the record API, for a SET value, for the words of other
// dialects (LIMIT, TOP, FETCH FIRST, OFFSET, FOR UPDATE after the query) and
// for a closing ';', also what to write instead.
#include <strings.h>

#include <cstring>
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

// The words of other dialects that limit or skip rows, and what this one
// offers instead. Each is an identifier here, so after a table (or as the
// first select item) it is taken for an alias or a column, and the error
// comes at the token after it.
struct OtherDialectWord {
  char const *word;  // the token, in any case
  char const *name;  // the form it begins
  char const *instead;
};

constexpr char kRowLimit[] =
    "a SELECT limits its rows with AS SET WITH n ROWS after its ORDER BY (SELECT emp FROM exemp010 "
    "ORDER BY emp AS SET WITH 10 ROWS; n may be a host variable), or the host stops fetching and "
    "calls sql_break";

constexpr OtherDialectWord kOtherDialectWords[] = {
    {"LIMIT", "LIMIT", kRowLimit},
    {"TOP", "TOP", kRowLimit},
    {"FETCH", "FETCH FIRST", kRowLimit},
    {"OFFSET", "OFFSET",
     "to read on after a row, restrict by the sort key and limit the rows (SELECT emp FROM exemp010 "
     "WHERE emp > :last ORDER BY emp AS SET WITH 10 ROWS), or fetch past the rows to skip"},
};

}  // namespace

std::string SQLOtherDialectRowsForm(char const *token) {
  SQLParseState const &s = SQLParseCurrent();
  for (OtherDialectWord const &w : kOtherDialectWords) {
    std::string tail = std::string(": this SQL has no ") + w.name + "; " + w.instead;
    if (s.token == sqltoken::kIdentifier && strcasecmp(token, w.word) == 0) {
      return std::string("Unexpected token '") + token + "'" + tail;
    }
    if (strcasecmp(s.wordBefore.c_str(), w.word) == 0) {
      return std::string("Unexpected token '") + token + "' after " + s.wordBefore + tail;
    }
  }
  return std::string();
}

namespace {

// What the dialect offers for a word of other dialects, or for a closing
// ';', at a syntax error (`token` the token the parser could not take), or
// "" for any other token.
std::string OtherDialectForm(char const *token) {
  SQLParseState const &s = SQLParseCurrent();
  std::string rows = SQLOtherDialectRowsForm(token);
  if (!rows.empty()) return rows;
  if (s.token == sqltoken::kFor) {
    return std::string("Unexpected token '") + token +
           "': FOR UPDATE stands right after SELECT (SELECT FOR UPDATE emp, name FROM exemp010 "
           "...: every table of the query is read for update) or after a table of the FROM "
           "clause (FROM exemp010 e FOR UPDATE, exdep010 d), not at the end of the statement";
  }
  if (std::strcmp(token, ";") == 0) {
    return "Unexpected token ';': a statement ends with its text, without ';'; leave it out "
           "(sql_parse takes one statement)";
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
